#include "engine/uVolumeBitmapQuery.h"

#include <algorithm>

#include "core/uLogger.h"
#include "base/uByteOrder.h"
#include "platform/Platform.h"
#include "platform/WinFsControl.h"

using namespace plat;

TVolumeBitmapQuery::TVolumeBitmapQuery(HANDLE Volume) : FVolume(Volume), FBuffer(kBufferSize) {}

bool TVolumeBitmapQuery::Fail(TBitmapQueryFault F, DWORD E) {
  FFault = F;
  FError = E;
  FDone = true;
  return false;
}

std::string TVolumeBitmapQuery::FaultText() const {
  switch (FFault) {
    case TBitmapQueryFault::bqNone: return "ok";
    case TBitmapQueryFault::bqRequestFailed: return "FSCTL_GET_VOLUME_BITMAP failed: " + WinErrorText(FError);
    case TBitmapQueryFault::bqShortAnswer: return "FSCTL_GET_VOLUME_BITMAP returned short buffer";
    case TBitmapQueryFault::bqBadAnswer: return "FSCTL_GET_VOLUME_BITMAP returned an inconsistent answer";
  }
  return "?";
}

bool TVolumeBitmapQuery::Next(TBitmapChunk& Chunk) {
  if (FDone) return false;
  uint8_t In[fsc::kStartingLcnInputSize] = {};
  TByteWriter(In).LE64(0, FNextLcn);
  DWORD Returned = 0;
  Win().SetLastError(0);
  const BOOL Ok = Win().DeviceIoControl(FVolume, fsc::FSCTL_GET_VOLUME_BITMAP, In, sizeof In, FBuffer.data(),
                                        kBufferSize, &Returned);
  const DWORD Err = Ok ? 0 : Win().GetLastError();
  if (!Ok && Err != ERROR_MORE_DATA) return Fail(TBitmapQueryFault::bqRequestFailed, Err);
  if (Returned > kBufferSize) return Fail(TBitmapQueryFault::bqBadAnswer);
  TByteReader Head({FBuffer.data(), fsc::kVolumeBitmapHeaderSize});
  if (Returned <= fsc::kVolumeBitmapHeaderSize) {
    // A volume without clusters may answer with the header alone; anything else is short.
    if (Ok && Returned == fsc::kVolumeBitmapHeaderSize && Head.LE64(8) == 0 && !FHaveTotal) {
      FHaveTotal = true;
      FDone = true;
      return false;
    }
    return Fail(TBitmapQueryFault::bqShortAnswer);
  }

  const uint64_t Start = Head.LE64(0);
  const uint64_t Size = Head.LE64(8);
  // Windows moves the start down to a multiple of 8, never up and never further.
  if (Start > FNextLcn || FNextLcn - Start >= 8 || (Start & 7) != 0) return Fail(TBitmapQueryFault::bqBadAnswer);
  if (Size > (UINT64_MAX >> 8) - Start) return Fail(TBitmapQueryFault::bqBadAnswer);
  if (!FHaveTotal) {
    FTotal = Start + Size;
    FHaveTotal = true;
  } else if (Start + Size != FTotal) {
    return Fail(TBitmapQueryFault::bqBadAnswer);
  }

  const uint64_t Bytes = Returned - fsc::kVolumeBitmapHeaderSize;
  const uint64_t Covered = std::min<uint64_t>(Bytes * 8, Size);           // spare bits past the end never count
  if (Ok && Covered < Size) return Fail(TBitmapQueryFault::bqBadAnswer);  // cut without "more data"
  const uint64_t Skip = FNextLcn - Start;
  if (Covered <= Skip) {
    if (Ok || FNextLcn >= FTotal) {
      FDone = true;
      return false;
    }
    return Fail(TBitmapQueryFault::bqBadAnswer);  // "more data" that moves nowhere
  }

  Chunk.FirstLcn = FNextLcn;
  Chunk.Clusters = Covered - Skip;
  Chunk.Bits = FBuffer.data() + fsc::kVolumeBitmapHeaderSize;
  Chunk.Bytes = Bytes;
  Chunk.FirstBit = Skip;
  FNextLcn = Start + Covered;
  if (Ok || FNextLcn >= FTotal) FDone = true;
  return true;
}

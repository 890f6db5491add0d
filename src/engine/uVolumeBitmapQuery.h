// Walks the answers of FSCTL_GET_VOLUME_BITMAP for one open volume, one 1 MiB buffer at a time.
//
// Windows rounds the starting cluster of a request down to a multiple of 8 and says so in the
// answer, cuts the answer at the buffer with ERROR_MORE_DATA, and leaves the bits after the
// volume's last cluster undefined. Each chunk handed out covers only clusters not seen before
// and never a cluster at or past the volume's end; an answer that does not fit those rules ends
// the walk as a failure rather than being guessed at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/PlatformTypes.h"

struct TBitmapChunk {
  uint64_t FirstLcn = 0;  // the cluster of bit FirstBit
  uint64_t Clusters = 0;  // clusters in this chunk, at least 1
  const uint8_t* Bits = nullptr;
  uint64_t Bytes = 0;  // bitmap bytes at Bits
  uint64_t FirstBit = 0;
};

enum class TBitmapQueryFault { bqNone, bqRequestFailed, bqShortAnswer, bqBadAnswer };

class TVolumeBitmapQuery {
 public:
  static constexpr uint32_t kBufferSize = 1048576;

  explicit TVolumeBitmapQuery(plat::HANDLE Volume);

  // The next chunk; false at the end of the volume or on a failure (see Fault).
  bool Next(TBitmapChunk& Chunk);

  TBitmapQueryFault Fault() const { return FFault; }
  plat::DWORD Error() const { return FError; }  // the request's Windows error, for bqRequestFailed
  std::string FaultText() const;
  // Clusters of the volume, known after the first answer.
  uint64_t TotalClusters() const { return FTotal; }

 private:
  bool Fail(TBitmapQueryFault F, plat::DWORD E = 0);

  plat::HANDLE FVolume;
  std::vector<uint8_t> FBuffer;
  uint64_t FNextLcn = 0;
  uint64_t FTotal = 0;
  bool FHaveTotal = false;
  bool FDone = false;
  TBitmapQueryFault FFault = TBitmapQueryFault::bqNone;
  plat::DWORD FError = 0;
};

#include "engine/uLastUsedLba.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/uText.h"
#include "core/uFormat.h"
#include "core/uLogger.h"
#include "base/uByteOrder.h"
#include "device/uDevicePath.h"
#include "engine/uBitmapScan.h"
#include "engine/uBootSector.h"
#include "engine/uVolumeBitmap.h"
#include "engine/uVolumeBitmapQuery.h"
#include "platform/Platform.h"
#include "platform/WinFsControl.h"

using namespace plat;

int64_t FindLastUsedClusterCount(HANDLE Volume, int64_t TotalClusters) {
  TVolumeBitmapQuery Query(Volume);
  TBitmapChunk Chunk;
  int64_t Last = -1;
  while (Query.Next(Chunk)) {
    const int64_t Bit =
        bitscan::FindLastSet(Chunk.Bits, Chunk.Bytes, Chunk.FirstBit, Chunk.FirstBit + Chunk.Clusters);
    if (Bit >= 0) Last = static_cast<int64_t>(Chunk.FirstLcn) + (Bit - static_cast<int64_t>(Chunk.FirstBit));
  }
  if (Query.Fault() != TBitmapQueryFault::bqNone) return -1;
  return Last >= 0 ? Last + 1 : TotalClusters;
}

int64_t FindLastUsedFat32Cluster(HANDLE Volume, int64_t FatOffsetBytes, int64_t ClusterLimit, uint32_t Mask) {
  constexpr int64_t kChunkEntries = 16384;
  if (ClusterLimit <= 2 || FatOffsetBytes < 0) return -1;
  std::vector<uint8_t> Buf(kChunkEntries * 4);
  for (int64_t c = (ClusterLimit + kChunkEntries - 1) / kChunkEntries - 1; c >= 0; --c) {
    const int64_t First = c * kChunkEntries;
    const int64_t Entries = std::min(kChunkEntries, ClusterLimit - First);
    DWORD Read = 0;
    if (!Win().ReadFileAt(Volume, Buf.data(), static_cast<DWORD>(Buf.size()), &Read,
                          static_cast<ULONGLONG>(FatOffsetBytes + 4 * First)) ||
        Read < static_cast<DWORD>(4 * Entries))
      return -1;
    TByteReader R(Buf);
    for (int64_t e = Entries - 1; e >= 0 && First + e >= 2; --e)
      if (R.LE32(static_cast<size_t>(4 * e)) & Mask) return First + e;
  }
  return -1;
}

namespace {

int64_t Report(int64_t* FsBytes, int64_t Extent, int64_t Used) {
  if (FsBytes) *FsBytes = Used > 0 ? Extent : -1;
  return Used;
}

}  // namespace

int64_t GetNtfsUsedExtentBytes(HANDLE Volume, int64_t* FsBytes) {
  if (FsBytes) *FsBytes = -1;
  uint8_t Data[fsc::kNtfsVolumeDataSize] = {};
  DWORD Returned = 0;
  if (!Win().DeviceIoControl(Volume, fsc::FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, Data, sizeof Data, &Returned))
    return -1;
  TByteReader R(Data);
  const int64_t Total = static_cast<int64_t>(R.LE64(fsc::kNtfsTotalClustersAt));
  const int64_t Bpc = R.LE32(fsc::kNtfsBytesPerClusterAt);
  // A count no volume has would overflow the byte counts below.
  if (Total <= 0 || Bpc <= 0 || Total > INT64_MAX / Bpc) return -1;
  const int64_t Used = FindLastUsedClusterCount(Volume, Total);
  if (Used <= 0 || Used > Total) return -1;
  return Report(FsBytes, Total * Bpc, Used * Bpc);
}

int64_t GetFat32UsedExtentBytes(HANDLE Volume, int64_t* FsBytes) {
  if (FsBytes) *FsBytes = -1;
  TFatBootInfo B;
  std::string Why;
  if (!ReadFatBootSector(Volume, TFatKind::fkFat32, B, Why)) return -1;
  const int64_t Last = FindLastUsedFat32Cluster(Volume, static_cast<int64_t>(B.FatOffset * B.BytesPerSector),
                                                static_cast<int64_t>(B.ClusterCount + 2), 0x0FFFFFFF);
  if (Last < 2) return -1;
  const int64_t Heap = static_cast<int64_t>(B.HeapOffsetBytes()), Cb = static_cast<int64_t>(B.ClusterBytes());
  // The end of cluster Last: data clusters are numbered from 2.
  return Report(FsBytes, Heap + static_cast<int64_t>(B.ClusterCount) * Cb, Heap + (Last - 1) * Cb);
}

int64_t GetExFatUsedExtentBytes(HANDLE Volume, int64_t* FsBytes) {
  if (FsBytes) *FsBytes = -1;
  TFatBootInfo B;
  std::string Why;
  if (!ReadFatBootSector(Volume, TFatKind::fkExFat, B, Why)) return -1;  // also every shift out of range
  const int64_t Used = FindLastUsedClusterCount(Volume, static_cast<int64_t>(B.ClusterCount));
  if (Used <= 0 || Used > static_cast<int64_t>(B.ClusterCount)) return -1;
  const int64_t Heap = static_cast<int64_t>(B.HeapOffsetBytes()), Cb = static_cast<int64_t>(B.ClusterBytes());
  return Report(FsBytes, Heap + static_cast<int64_t>(B.ClusterCount) * Cb, Heap + Cb * Used);
}

int64_t GetVolumeUsedExtentBytes(char Letter, int64_t* FsBytes) {
  if (FsBytes) *FsBytes = -1;
  const std::string Root = std::string(1, Letter) + ":\\";
  std::string FsName;
  if (!Win().GetVolumeInformationW(Root, nullptr, 0, nullptr, nullptr, nullptr, &FsName, 32)) return -1;
  const std::string FS = UpperCase(FsName);
  const HANDLE H = Win().CreateFileW(VolumeDevicePath(Letter), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     OPEN_EXISTING, 0);
  if (H == VT_INVALID_HANDLE_VALUE || H == nullptr) return -1;
  int64_t Used = -1;
  if (FS == "NTFS")
    Used = GetNtfsUsedExtentBytes(H, FsBytes);
  else if (FS == "FAT32")
    Used = GetFat32UsedExtentBytes(H, FsBytes);
  else if (FS == "EXFAT")
    Used = GetExFatUsedExtentBytes(H, FsBytes);
  Win().CloseHandle(H);
  return Used;
}

int64_t FindLastUsedLbaForVolume(const TVolumeInfo& Volume, TLogger* Logger) {
  if (Volume.DriveLetter.empty()) {
    if (Logger) Logger->Warn("FindLastUsedLbaForVolume: empty drive letter; skipping");
    return -1;
  }
  int64_t FsBytes = -1;
  const int64_t Used = GetVolumeUsedExtentBytes(Volume.DriveLetter[0], &FsBytes);
  if (Used <= 0) return -1;
  // A file system that counts more than its partition holds (or a partition of unknown length)
  // gives no block that is known to lie inside the volume.
  if (Volume.PartitionLength <= 0 || FsBytes > Volume.PartitionLength || Used > Volume.PartitionLength) return -1;
  const int64_t Result = static_cast<int64_t>(static_cast<uint64_t>(Volume.PartitionOffset) >> 9) + Used / 512 - 1;
  if (Logger)
    Logger->Info(Format("%s %s VolUsed=%d LastUsedLba=%d", Volume.FileSystem, Volume.DriveLetter, Used, Result));
  return Result;
}

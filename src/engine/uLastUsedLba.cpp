#include "engine/uLastUsedLba.h"

#include <algorithm>
#include <vector>

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

int64_t GetNtfsUsedExtentBytes(HANDLE Volume) {
  uint8_t Data[fsc::kNtfsVolumeDataSize] = {};
  DWORD Returned = 0;
  if (!Win().DeviceIoControl(Volume, fsc::FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, Data, sizeof Data, &Returned))
    return -1;
  TByteReader R(Data);
  const int64_t Total = static_cast<int64_t>(R.LE64(fsc::kNtfsTotalClustersAt));
  const int64_t Bpc = R.LE32(fsc::kNtfsBytesPerClusterAt);
  if (Total <= 0 || Bpc <= 0) return -1;
  const int64_t Used = FindLastUsedClusterCount(Volume, Total);
  return Used <= 0 ? -1 : Used * Bpc;
}

int64_t GetFat32UsedExtentBytes(HANDLE Volume) {
  TFatBootInfo B;
  std::string Why;
  if (!ReadFatBootSector(Volume, TFatKind::fkFat32, B, Why)) return -1;
  const int64_t Last = FindLastUsedFat32Cluster(Volume, static_cast<int64_t>(B.FatOffset * B.BytesPerSector),
                                                static_cast<int64_t>(B.ClusterCount + 2), 0x0FFFFFFF);
  if (Last < 2) return -1;
  // The end of cluster Last: data clusters are numbered from 2.
  return static_cast<int64_t>(B.HeapOffsetBytes()) + (Last - 1) * static_cast<int64_t>(B.ClusterBytes());
}

int64_t GetExFatUsedExtentBytes(HANDLE Volume) {
  TFatBootInfo B;
  std::string Why;
  if (!ReadFatBootSector(Volume, TFatKind::fkExFat, B, Why)) return -1;  // also every shift out of range
  const int64_t Used = FindLastUsedClusterCount(Volume, static_cast<int64_t>(B.ClusterCount));
  if (Used <= 0) return -1;
  return static_cast<int64_t>(B.HeapOffsetBytes()) + static_cast<int64_t>(B.ClusterBytes()) * Used;
}

int64_t GetVolumeUsedExtentBytes(char Letter) {
  const std::string Root = std::string(1, Letter) + ":\\";
  std::string FsName;
  if (!Win().GetVolumeInformationW(Root, nullptr, 0, nullptr, nullptr, nullptr, &FsName, 32)) return -1;
  const std::string FS = UpperAscii(FsName);
  const HANDLE H = Win().CreateFileW(VolumeDevicePath(Letter), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     OPEN_EXISTING, 0);
  if (H == VT_INVALID_HANDLE_VALUE || H == nullptr) return -1;
  int64_t Used = -1;
  if (FS == "NTFS")
    Used = GetNtfsUsedExtentBytes(H);
  else if (FS == "FAT32")
    Used = GetFat32UsedExtentBytes(H);
  else if (FS == "EXFAT")
    Used = GetExFatUsedExtentBytes(H);
  Win().CloseHandle(H);
  return Used;
}

int64_t FindLastUsedLbaForVolume(const TVolumeInfo& Volume, TLogger* Logger) {
  if (Volume.DriveLetter.empty()) {
    if (Logger) Logger->Warn("FindLastUsedLbaForVolume: empty drive letter; skipping");
    return -1;
  }
  const int64_t Used = GetVolumeUsedExtentBytes(Volume.DriveLetter[0]);
  if (Used <= 0) return -1;
  const int64_t Result = static_cast<int64_t>(static_cast<uint64_t>(Volume.PartitionOffset) >> 9) + Used / 512 - 1;
  if (Logger)
    Logger->Info(Format("%s %s VolUsed=%d LastUsedLba=%d", Volume.FileSystem, Volume.DriveLetter, Used, Result));
  return Result;
}

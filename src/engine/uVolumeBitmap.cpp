#include "engine/uVolumeBitmap.h"

#include "core/uText.h"

#include "core/uLogger.h"
#include "base/uByteOrder.h"
#include "device/uDevicePath.h"
#include "engine/uBitmapScan.h"
#include "engine/uBootSector.h"
#include "engine/uVolumeBitmapQuery.h"
#include "platform/Platform.h"
#include "platform/WinFsControl.h"

using namespace plat;

bool IsFreeRangeFileSystem(const std::string& FileSystem) {
  const std::string FS = UpperCase(FileSystem);
  return FS == "NTFS" || FS == "EXFAT" || FS == "FAT32";
}

namespace {

// Closes the handle on every way out.
struct TVolumeHandle {
  HANDLE H;
  explicit TVolumeHandle(HANDLE AH) : H(AH) {}
  ~TVolumeHandle() {
    if (Valid()) Win().CloseHandle(H);
  }
  TVolumeHandle(const TVolumeHandle&) = delete;
  TVolumeHandle& operator=(const TVolumeHandle&) = delete;
  bool Valid() const { return IsValidHandle(H); }
};

bool IsFatKind(const std::string& FS) { return FS == "EXFAT" || FS == "FAT32"; }

std::string BitmapFailureText(const std::string& FS, const TVolumeBitmapQuery& Q) {
  if (Q.Fault() == TBitmapQueryFault::bqRequestFailed) {
    if (FS == "EXFAT") return "exFAT bitmap extraction failed: free-space mode unavailable";
    if (FS == "FAT32") return "FAT32 bitmap extraction failed on current storage stack";
  }
  return Q.FaultText();
}

}  // namespace

int64_t GetClusterHeapOffset(const std::string& DriveLetter, const std::string& FileSystem) {
  const std::string FS = UpperCase(FileSystem);
  if (!IsFatKind(FS)) return 0;
  TVolumeHandle V(Win().CreateFileW(VolumeDevicePath(DriveLetter), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0));
  if (!V.Valid()) return 0;
  TFatBootInfo Boot;
  std::string Msg;
  if (!ReadFatBootSector(V.H, FS == "EXFAT" ? TFatKind::fkExFat : TFatKind::fkFat32, Boot, Msg)) return 0;
  return static_cast<int64_t>(Boot.HeapOffsetBytes() / 512);
}

HANDLE TVolumeBitmapReader::OpenVolume(const std::string& DriveLetter) const {
  return Win().CreateFileW(VolumeDevicePath(DriveLetter), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
}

bool TVolumeBitmapReader::ReadFreeRanges(const TVolumeInfo& Volume, TTrimRangeArray& Ranges,
                                         std::string& Msg) const {
  Ranges.clear();
  Msg.clear();
  const std::string FS = UpperCase(Volume.FileSystem);
  const std::string& Letter = Volume.DriveLetter;
  if (FS != "NTFS" && !IsFatKind(FS)) {
    Msg = "Only NTFS/exFAT/FAT32 support FSCTL_GET_VOLUME_BITMAP path";
    return false;
  }
  // The bitmap numbers clusters across the whole volume; laid over one extent's start it would
  // point into other data.
  if (Volume.ExtentCount > 1) {
    Msg = "Volume " + Letter + " spans " + std::to_string(Volume.ExtentCount) +
          " extents; its free clusters cannot be placed on the disk";
    return false;
  }
  TVolumeHandle V(OpenVolume(Letter));
  if (!V.Valid()) {
    Msg = "Open volume failed: " + WinErrorText(Win().GetLastError());
    return false;
  }
  if (Volume.ClusterBytes == 0) {
    Msg = "Cluster size is zero";
    return false;
  }
  if (Volume.ClusterBytes % 512 != 0) {
    Msg = "Cluster size " + std::to_string(Volume.ClusterBytes) + " is not a multiple of 512 bytes";
    return false;
  }
  if (Volume.PartitionOffset < 0 || Volume.PartitionLength <= 0) {
    Msg = "Partition extent unknown (" + Letter + ")";
    return false;
  }
  const uint64_t Spc = Volume.ClusterBytes / 512;

  // Where cluster 0 of the bitmap lies, in 512-byte blocks from the volume start.
  uint64_t Heap = 0;
  uint64_t FsClusterLimit = UINT64_MAX;
  if (IsFatKind(FS)) {
    TFatBootInfo Boot;
    std::string Why;
    if (!ReadFatBootSector(V.H, FS == "EXFAT" ? TFatKind::fkExFat : TFatKind::fkFat32, Boot, Why)) {
      Msg = "Cluster heap offset could not be read (" + Letter + "): " + Why;
      return false;
    }
    if (Boot.ClusterBytes() != Volume.ClusterBytes) {
      Msg = "Cluster size mismatch (" + Letter + "): boot sector " + std::to_string(Boot.ClusterBytes()) +
            " bytes, volume reports " + std::to_string(Volume.ClusterBytes);
      return false;
    }
    Heap = Boot.HeapOffsetBytes() / 512;
    FsClusterLimit = Boot.ClusterCount;
    if (FLogger) FLogger->Info("ClusterHeapOffset: " + std::to_string(Heap) + " sectors (" + Letter + ")");
  } else {
    uint8_t Data[fsc::kNtfsVolumeDataSize] = {};
    DWORD Returned = 0;
    if (Win().DeviceIoControl(V.H, fsc::FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, Data, sizeof Data, &Returned) &&
        Returned >= fsc::kNtfsBytesPerClusterAt + 4) {
      const uint32_t Bpc = TByteReader(Data).LE32(fsc::kNtfsBytesPerClusterAt);
      if (Bpc != Volume.ClusterBytes) {
        Msg = "Cluster size mismatch (" + Letter + "): NTFS reports " + std::to_string(Bpc) +
              " bytes, volume reports " + std::to_string(Volume.ClusterBytes);
        return false;
      }
    }
  }

  const uint64_t PartStart = static_cast<uint64_t>(Volume.PartitionOffset) >> 9;
  const uint64_t PartBlocks = static_cast<uint64_t>(Volume.PartitionLength) >> 9;
  const uint64_t PartEnd = PartStart + PartBlocks;
  if (FLogger)
    FLogger->Info("Partition LBA boundary: start=" + std::to_string(PartStart) +
                  " end=" + std::to_string(PartEnd) + " (" + Letter + ")");
  if (Heap >= PartBlocks) {
    Msg = "Cluster heap lies past the partition end (" + Letter + ")";
    return false;
  }

  TVolumeBitmapQuery Query(V.H);
  TFreeRunScanner Scanner;
  TTrimRangeArray Raw;
  auto Emit = [&](uint64_t RunStart, uint64_t RunLen) {
    // Bounded by the checks below: RunStart + RunLen <= clusters that fit the partition.
    const uint64_t Lba = PartStart + Heap + RunStart * Spc;
    uint64_t Count = RunLen * Spc;
    if (Lba >= PartEnd) return;
    if (Count > PartEnd - Lba) Count = PartEnd - Lba;
    if (Count > 0) Raw.push_back({Lba, Count});
  };
  TBitmapChunk Chunk;
  bool Checked = false;
  while (Query.Next(Chunk)) {
    if (!Checked) {
      // Clusters the bitmap claims must all lie inside the partition; otherwise its numbering
      // is not the one assumed here.
      const uint64_t Total = Query.TotalClusters();
      if (Total > FsClusterLimit || Total > (PartBlocks - Heap) / Spc) {
        Msg = "Volume bitmap (" + std::to_string(Total) + " clusters) does not fit the partition (" + Letter + ")";
        return false;
      }
      Checked = true;
    }
    Scanner.Scan(Chunk.Bits, Chunk.Bytes, Chunk.FirstBit, Chunk.Clusters, Chunk.FirstLcn, Emit);
  }
  if (Query.Fault() != TBitmapQueryFault::bqNone) {
    Msg = BitmapFailureText(FS, Query);
    return false;
  }
  Scanner.Finish(Emit);
  Ranges = NormalizeRanges(Raw);
  Msg = "ok";
  return true;
}

// Simulated disks with formatted or loaded volumes, and the TVolumeInfo discovery would report.
#pragma once

#include <string>
#include <vector>

#include "core/uTypes.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/files/SimVolumeFormat.h"

inline TVolumeInfo VolumeInfoOf(plat::sim::SimMachine& M, char Letter) {
  auto V = M.Storage().Volume(Letter);
  TVolumeInfo I;
  I.DriveLetter = std::string(1, Letter) + ":";
  I.RootPath = I.DriveLetter + "\\";
  I.FileSystem = V->fileSystemName;
  I.ClusterBytes = V->bytesPerSector * V->sectorsPerCluster;
  I.PartitionOffset = static_cast<int64_t>(V->extents.front().startingOffset);
  I.PartitionLength = static_cast<int64_t>(V->extents.front().length);
  I.DiskNumber = V->extents.front().diskNumber;
  I.HasDriveLetter = true;
  I.ExtentCount = static_cast<int32_t>(V->extents.size());
  return I;
}

// A disk of DiskSectors with one volume at [OffsetBytes, OffsetBytes + LengthBytes).
inline void AddVolumeOnDisk(plat::sim::SimMachine& M, int Disk, uint64_t DiskSectors, char Letter,
                            uint64_t OffsetBytes, uint64_t LengthBytes) {
  if (!M.Storage().Disk(Disk)) M.Storage().AddDisk(Disk, DiskSectors);
  M.Storage().AddVolume(Letter, {{Disk, OffsetBytes, LengthBytes}});
}

// Free clusters of a bitmap (1 = in use) as absolute 512-byte ranges: cluster 0 at Base, Spc
// blocks each.
inline TTrimRangeArray FreeRangesOfBitmap(const std::vector<uint8_t>& Bits, uint64_t Clusters, uint64_t Base,
                                          uint64_t Spc) {
  TTrimRangeArray R;
  for (uint64_t c = 0; c < Clusters; ++c) {
    if ((Bits[c / 8] >> (c % 8)) & 1) continue;
    const uint64_t Lba = Base + c * Spc;
    if (!R.empty() && R.back().StartLba + R.back().SectorCount == Lba)
      R.back().SectorCount += Spc;
    else
      R.push_back({Lba, Spc});
  }
  return R;
}

// The free clusters of a mounted volume, from its allocation model.
inline TTrimRangeArray ExpectedFreeRanges(plat::sim::SimMachine& M, char Letter) {
  auto S = plat::sim::FsState(M.Storage(), Letter);
  auto V = M.Storage().Volume(Letter);
  return FreeRangesOfBitmap(S->bitmap, S->clusters,
                            V->extents.front().startingOffset / 512 + S->heapOffset * S->bytesPerSector / 512,
                            S->ClusterBytes() / 512);
}

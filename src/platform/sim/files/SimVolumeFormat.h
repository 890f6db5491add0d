// File systems on simulated volumes: the formatter that writes a FAT32, exFAT or NTFS layout
// onto a disk's sectors, the loader that mounts a layout found there (real mkfs images), and the
// allocation model that the on-disk FAT, the exFAT bitmap, NTFS's $Bitmap and the volume control
// requests (SimFsControl) all answer from. Named files and folders on top of it: SimVolumeFiles.
//
// Cluster numbers here are those of FSCTL_GET_VOLUME_BITMAP: 0 is the first cluster of the
// volume (NTFS) or of the cluster heap (FAT32 and exFAT, whose own numbering starts at 2).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/storage/SimStorage.h"

namespace plat::sim {

enum class SimFsKind { kFat32, kExFat, kNtfs };

using SimClusterRuns = std::vector<std::pair<uint64_t, uint64_t>>;  // (first cluster, count)

struct SimVolumeTree;

// Guarded by mu once mounted: the handlers and the writers may run on different threads.
struct SimFsState {
  std::mutex mu;
  SimFsKind kind = SimFsKind::kNtfs;
  uint32_t bytesPerSector = 512;   // the volume's own sector
  uint32_t sectorsPerCluster = 8;  // own sectors
  uint64_t heapOffset = 0;         // own sectors from the volume start to cluster 0
  uint64_t clusters = 0;
  uint64_t volumeSectors = 0;   // own sectors
  std::vector<uint8_t> bitmap;  // bit k of byte k/8 = cluster k, 1 = in use; spare bits 0
  // FAT32: where the tables are (own sectors) and how many. exFAT: one table, and the bitmap
  // file's first cluster (own numbering) so that changes are written back.
  uint64_t fatOffset = 0;
  uint64_t fatSectors = 0;
  uint32_t fatCount = 0;
  uint32_t exfatBitmapCluster = 0;
  uint32_t rootCluster = 0;      // FAT32 and exFAT, own numbering
  std::vector<uint16_t> upcase;  // exFAT's up-case table (names compare and hash through it)
  uint64_t mftLcn = 0;
  SimClusterRuns ntfsBitmapRuns;  // where $Bitmap's data lies (empty: resident, not written back)
  // FSCTL_GET_VOLUME_BITMAP's bits after the last cluster in the final byte (undefined in Windows).
  // Its faults and FSCTL_GET_NTFS_VOLUME_DATA's are the storage stack's (SimStorage::AddVolumeFault).
  uint8_t spareBits = 0x00;
  int bitmapRequests = 0;                // FSCTL_GET_VOLUME_BITMAP requests that reached it
  std::shared_ptr<SimVolumeTree> files;  // the named files, built on first use (SimVolumeFiles.h)

  uint64_t ClusterBytes() const { return uint64_t(bytesPerSector) * sectorsPerCluster; }
  bool Used(uint64_t c) const { return (bitmap[c >> 3] >> (c & 7)) & 1; }
  uint64_t FreeClusters() const;
};

// Writes a fresh file system over the volume's first extent and mounts it. clusterBytes from
// 512 to 65536, bytesPerSector 512 or 4096 (and not above clusterBytes).
bool FormatVolume(SimStorage& storage, char letter, SimFsKind kind, uint32_t bytesPerSector,
                  uint32_t clusterBytes);
// Mounts what the volume's sectors hold (FAT32, exFAT or NTFS), as Windows would on arrival.
bool MountVolume(SimStorage& storage, char letter, std::string* why = nullptr);
// Copies a host image file onto a disk from sector lba on (all-zero sectors are left unwritten).
bool LoadImageFile(SimDisk& disk, uint64_t lba, const std::string& hostPath);
// Writes the volume's first extent to a host file (for the file-system checkers).
bool SaveImageFile(SimStorage& storage, char letter, const std::string& hostPath);

// The allocation model of a mounted volume (null when raw), to read and to change.
std::shared_ptr<SimFsState> FsState(SimStorage& storage, char letter);
// Marks clusters in use or free and writes the change back to the FAT / the exFAT bitmap.
bool AllocateRuns(SimStorage& storage, char letter, const SimClusterRuns& runs);
bool ReleaseRuns(SimStorage& storage, char letter, const SimClusterRuns& runs);
// A new file of that many clusters, first fit; empty when the volume is full.
SimClusterRuns AllocateFile(SimStorage& storage, char letter, uint64_t clusters);
// The free clusters of a mounted volume as 512-byte sectors of its disk (first, count), one range
// per run of free clusters, in order; empty when the volume is raw or full.
std::vector<std::pair<uint64_t, uint64_t>> FreeDiskRanges(SimStorage& storage, char letter);

// ---- for the modules that keep a volume's structures (SimVolumeFiles) ----
// Where a volume lies: its first extent's disk and sectors.
struct SimVolumePlace {
  std::shared_ptr<SimVolume> vol;
  std::shared_ptr<SimDisk> disk;
  uint64_t firstLba = 0;  // 512-byte sector of the volume start on the disk
  uint64_t sectors = 0;   // 512-byte sectors of the first extent
};
bool LocateVolume(SimStorage& storage, char letter, SimVolumePlace* place);
// Bytes of the volume, in whole 512-byte sectors underneath (a partial sector is read and
// written back around the new bytes).
bool ReadVolumeBytes(const SimVolumePlace& p, uint64_t offset, size_t n, std::vector<uint8_t>& out);
bool WriteVolumeBytes(const SimVolumePlace& p, uint64_t offset, const std::vector<uint8_t>& data);
bool ZeroVolumeBytes(const SimVolumePlace& p, uint64_t offset, uint64_t n);
// With s.mu held: marks clusters in use or free, writes the change to the exFAT bitmap or
// $Bitmap (FAT32: in-use runs each end their own chain, freed entries are cleared) and the free
// counts (FSInfo, the volume's figures).
bool MarkClusters(const SimVolumePlace& p, SimFsState& s, const SimClusterRuns& runs, bool used);
// With s.mu held: chains a file's runs in the FAT in their order, the last cluster ending it
// (FAT32: every table; exFAT: its one table).
bool WriteFatChain(const SimVolumePlace& p, const SimFsState& s, const SimClusterRuns& runs);
// First fit from cluster `from` on (wrapping round to 0): up to `want` clusters, in runs of at
// most maxRun clusters (0: any length) with `gap` free clusters left after each run; fewer
// when the volume has fewer free. Marks nothing.
SimClusterRuns FindFreeClusters(const SimFsState& s, uint64_t want, uint64_t from = 0, uint64_t maxRun = 0,
                                uint64_t gap = 0);

}  // namespace plat::sim

// The named files and folders of one mounted volume, kept where the file system keeps them: the
// data in the volume's clusters on the drive, the allocation in the volume's bitmap (and the
// FAT, the exFAT bitmap or $Bitmap on disk, SimVolumeFormat.h), and for FAT32 and exFAT the
// directory entries in the folders' clusters, so that the disk holds a volume that the host's
// checkers accept and that mounts again with its files. NTFS keeps its names and records in
// memory: its MFT is not written, only $Bitmap.
//
// Every call is made with the volume's SimFsState::mu held (the tree belongs to that state).
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "platform/PlatformTypes.h"
#include "platform/sim/files/SimFileCache.h"
#include "platform/sim/files/SimShare.h"
#include "platform/sim/files/SimVolumeFormat.h"

namespace plat::sim {

struct SimFsNode {
  uint64_t id = 0;
  std::string name;  // as created
  bool dir = false;
  DWORD attrs = 0;  // FILE_ATTRIBUTE_READONLY | HIDDEN | SYSTEM | ARCHIVE | REPARSE_POINT
  uint64_t size = 0;
  SimClusterRuns runs;  // the clusters, in file order (bitmap numbering)
  uint64_t clusters = 0;
  SimFsNode* parent = nullptr;
  std::map<std::string, std::shared_ptr<SimFsNode>> children;  // by folded name
  std::string junction;                     // a reparse point: the folder (on this volume) it leads to
  bool linked = true;                       // still has a name (open handles may outlive the deletion)
  int opens = 0;                            // handles open on it, the module's and the listings'
  std::vector<const SimOpenShare*> shares;  // the rights and share modes of those that are file opens
  SYSTEMTIME created{}, written{};
  // FAT32 and exFAT: the entry in the parent folder (byte of its data, 32-byte slots), FAT32's
  // short name (11 bytes), its case bits and whether long-name entries go with it, exFAT's
  // "no FAT chain" (one run the FAT does not hold); a folder's short names, and the slots that
  // hold entries of no child (labels, dot entries, the exFAT bitmap and up-case entries).
  uint64_t entryAt = 0;
  uint32_t entrySlots = 0;
  std::string shortName;
  uint8_t caseBits = 0;
  bool longName = false;
  bool noFatChain = false;
  std::set<std::string> shortNames;
  std::vector<std::pair<uint64_t, uint32_t>> reservedSlots;
};

class SimVolumeTree {
 public:
  // The tree of what the volume holds: FAT32 and exFAT folders read from disk, NTFS an empty
  // root. False when the directories cannot be read.
  static std::shared_ptr<SimVolumeTree> Load(const SimVolumePlace& place, SimFsState& state);

  const std::shared_ptr<SimFsNode>& Root() const { return root_; }
  SimFsKind Kind() const { return s_.kind; }
  uint64_t ClusterBytes() const { return s_.ClusterBytes(); }
  uint32_t BytesPerSector() const { return s_.bytesPerSector; }
  // The 512-byte sector of the disk where a cluster starts.
  uint64_t ClusterLba(uint64_t cluster) const;

  // The children in the order the file system lists them: NTFS by name, FAT32 and exFAT in the
  // order of their entries.
  std::vector<std::shared_ptr<SimFsNode>> List(const SimFsNode& dir) const;
  std::shared_ptr<SimFsNode> Child(const SimFsNode& dir, const std::string& name) const;

  // A new file or folder (a folder gets its first cluster); ERROR_DISK_FULL when no cluster or
  // folder entry is left.
  DWORD Add(SimFsNode& dir, const std::string& name, bool folder, DWORD attrs, const SYSTEMTIME& now,
            std::shared_ptr<SimFsNode>* out);
  // Takes the name away (the entry on disk is marked deleted); the clusters go with Release once
  // no handle holds the node. The caller holds the node.
  bool Unlink(SimFsNode& node);
  bool Release(SimFsNode& node);
  // Changes the size, allocating or freeing clusters (new bytes read as zeros). ERROR_DISK_FULL
  // when the clusters do not fit; nothing changes then.
  DWORD Resize(SimFsNode& node, uint64_t size, const SYSTEMTIME& now);
  // Clusters for at least `bytes` of data, leaving the size alone.
  DWORD Reserve(SimFsNode& node, uint64_t bytes);
  bool SetAttributes(SimFsNode& node, DWORD attrs);
  // The entry on disk again (size, times), after the data changed.
  bool Touch(SimFsNode& node, const SYSTEMTIME& now);

  // File bytes [offset, offset + n) inside its clusters, through the drive; no time is taken.
  bool Write(const SimFsNode& node, uint64_t offset, const void* data, uint64_t n);
  bool Read(const SimFsNode& node, uint64_t offset, void* out, uint64_t n) const;

  // How new clusters are taken: first fit from the end of the file (else from the volume's
  // start); runs of at most maxRun clusters with `gap` free clusters left after each (0, 0:
  // as long as the free space allows).
  void SetAllocation(uint64_t maxRun, uint64_t gap) {
    maxRun_ = maxRun;
    gap_ = maxRun ? std::max<uint64_t>(gap, 1) : 0;
  }

  SimVolumePlace Place() const;

  // The module's own: its cache of file data (Windows' cache manager) and the handles open on
  // the volume's files and folders.
  SimFileCache cache;
  int openHandles = 0;

 private:
  SimVolumeTree(const SimVolumePlace& place, SimFsState& state);
  bool LoadFolder(SimFsNode& dir, int depth);
  SimClusterRuns ChainOf(uint32_t first, uint64_t limit) const;
  // Volume byte of byte `at` of a node's data.
  uint64_t VolumeByte(const SimFsNode& node, uint64_t at) const;
  bool WriteNodeBytes(const SimFsNode& node, uint64_t at, const std::vector<uint8_t>& bytes);
  bool ReadNodeBytes(const SimFsNode& node, uint64_t at, size_t n, std::vector<uint8_t>& out) const;
  DWORD Grow(SimFsNode& node, uint64_t clusters);
  bool Shrink(SimFsNode& node, uint64_t clusters);
  // Entries on disk (FAT32, exFAT).
  DWORD PlaceEntry(SimFsNode& dir, SimFsNode& node);
  bool WriteEntry(SimFsNode& node);
  std::vector<uint8_t> EntryBytes(const SimFsNode& node) const;

  std::weak_ptr<SimVolume> vol_;
  std::shared_ptr<SimDisk> disk_;
  uint64_t firstLba_ = 0, sectors_ = 0;
  SimFsState& s_;
  std::shared_ptr<SimFsNode> root_;
  uint64_t nextId_ = 1;
  uint64_t maxRun_ = 0, gap_ = 0;
  std::vector<uint32_t> fat_;  // the FAT while loading
};

}  // namespace plat::sim

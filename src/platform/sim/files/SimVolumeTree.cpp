#include "platform/sim/files/SimVolumeTree.h"

#include <algorithm>

#include "base/uByteOrder.h"
#include "base/uUtf.h"
#include "platform/sim/files/SimFatEntries.h"
#include "platform/sim/files/SimPath.h"

namespace plat::sim {

namespace {

constexpr uint64_t kFat32MaxFile = 0xFFFFFFFFull;
constexpr size_t kMaxDepth = 64;

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

bool IsFat(SimFsKind k) { return k != SimFsKind::kNtfs; }

// NTFS lists a folder in the order of its names in upper case, as UTF-16 code units.
std::u16string NtfsKey(const std::string& name) {
  std::u16string u = Utf8ToUtf16(name);
  for (char16_t& c : u)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return u;
}

uint32_t FirstCluster(const SimFsNode& n) {
  return n.runs.empty() ? 0 : static_cast<uint32_t>(n.runs[0].first + 2);
}

}  // namespace

SimVolumeTree::SimVolumeTree(const SimVolumePlace& place, SimFsState& state)
    : vol_(place.vol), disk_(place.disk), firstLba_(place.firstLba), sectors_(place.sectors), s_(state) {
  root_ = std::make_shared<SimFsNode>();
  root_->id = nextId_++;
  root_->dir = true;
}

SimVolumePlace SimVolumeTree::Place() const {
  SimVolumePlace p;
  p.vol = vol_.lock();
  p.disk = disk_;
  p.firstLba = firstLba_;
  p.sectors = sectors_;
  return p;
}

uint64_t SimVolumeTree::ClusterLba(uint64_t cluster) const {
  return firstLba_ + (s_.heapOffset * s_.bytesPerSector + cluster * s_.ClusterBytes()) / 512;
}

std::shared_ptr<SimVolumeTree> SimVolumeTree::Load(const SimVolumePlace& place, SimFsState& state) {
  std::shared_ptr<SimVolumeTree> t(new SimVolumeTree(place, state));
  if (!IsFat(state.kind)) return t;
  // The whole FAT, while the folders are read.
  std::vector<uint8_t> fat;
  if (!ReadVolumeBytes(place, state.fatOffset * state.bytesPerSector, (state.clusters + 2) * 4, fat))
    return nullptr;
  t->fat_.resize(state.clusters + 2);
  TByteReader r(fat);
  for (size_t i = 0; i < t->fat_.size(); ++i) t->fat_[i] = r.LE32(i * 4);
  t->root_->runs = t->ChainOf(state.rootCluster, state.clusters);
  for (const auto& [first, count] : t->root_->runs) t->root_->clusters += count;
  const bool ok = t->LoadFolder(*t->root_, 0);
  t->fat_.clear();
  t->fat_.shrink_to_fit();
  return ok ? t : nullptr;
}

SimClusterRuns SimVolumeTree::ChainOf(uint32_t first, uint64_t limit) const {
  SimClusterRuns runs;
  const uint32_t end = s_.kind == SimFsKind::kFat32 ? 0x0FFFFFF8 : 0xFFFFFFF8;
  uint64_t n = 0;
  for (uint32_t c = first; c >= 2 && c < fat_.size() && n < limit; ++n) {
    if (!runs.empty() && runs.back().first + runs.back().second == c - 2)
      ++runs.back().second;
    else
      runs.push_back({c - 2, 1});
    const uint32_t next = s_.kind == SimFsKind::kFat32 ? fat_[c] & 0x0FFFFFFF : fat_[c];
    if (next >= end) break;
    c = next;
  }
  return runs;
}

bool SimVolumeTree::LoadFolder(SimFsNode& dir, int depth) {
  if (depth > static_cast<int>(kMaxDepth)) return false;
  std::vector<uint8_t> bytes;
  if (!ReadNodeBytes(dir, 0, dir.clusters * s_.ClusterBytes(), bytes)) return false;
  const bool exfat = s_.kind == SimFsKind::kExFat;
  const auto entries =
      exfat ? ParseExFatFolder(bytes, &dir.reservedSlots) : ParseFat32Folder(bytes, &dir.reservedSlots);
  for (const SimFatEntry& e : entries) {
    auto n = std::make_shared<SimFsNode>();
    n->id = nextId_++;
    n->name = e.name;
    n->dir = e.dir;
    n->attrs = e.attrs;
    n->parent = &dir;
    n->created = e.created;
    n->written = e.written;
    n->entryAt = e.at;
    n->entrySlots = e.slots;
    n->shortName = e.shortName;
    n->caseBits = e.caseBits;
    n->longName = e.longName;
    const uint64_t wanted =
        e.dir ? (exfat ? CeilDiv(e.size, s_.ClusterBytes()) : s_.clusters) : CeilDiv(e.size, s_.ClusterBytes());
    if (e.firstCluster >= 2 && e.firstCluster < s_.clusters + 2) {
      if (e.noFatChain)
        n->runs = {{e.firstCluster - 2, std::min<uint64_t>(wanted, s_.clusters - (e.firstCluster - 2))}};
      else
        n->runs = ChainOf(e.firstCluster, wanted);
    }
    n->noFatChain = e.noFatChain;
    for (const auto& [first, count] : n->runs) n->clusters += count;
    n->size = e.dir ? 0 : std::min(e.size, n->clusters * s_.ClusterBytes());
    if (!exfat) dir.shortNames.insert(n->shortName);
    const std::string key = FoldName(n->name);
    if (dir.children.count(key)) continue;  // a second entry of the same name is not reachable
    dir.children[key] = n;
    if (n->dir && !LoadFolder(*n, depth + 1)) return false;
  }
  return true;
}

std::vector<std::shared_ptr<SimFsNode>> SimVolumeTree::List(const SimFsNode& dir) const {
  std::vector<std::shared_ptr<SimFsNode>> r;
  for (const auto& [key, n] : dir.children) r.push_back(n);
  if (IsFat(s_.kind))
    std::sort(r.begin(), r.end(), [](const auto& a, const auto& b) { return a->entryAt < b->entryAt; });
  else
    std::sort(r.begin(), r.end(),
              [](const auto& a, const auto& b) { return NtfsKey(a->name) < NtfsKey(b->name); });
  return r;
}

std::shared_ptr<SimFsNode> SimVolumeTree::Child(const SimFsNode& dir, const std::string& name) const {
  auto it = dir.children.find(FoldName(name));
  return it == dir.children.end() ? nullptr : it->second;
}

// ---- data ------------------------------------------------------------------------------------

uint64_t SimVolumeTree::VolumeByte(const SimFsNode& node, uint64_t at) const {
  uint64_t vcn = at / s_.ClusterBytes();
  for (const auto& [lcn, count] : node.runs) {
    if (vcn < count)
      return s_.heapOffset * s_.bytesPerSector + (lcn + vcn) * s_.ClusterBytes() + at % s_.ClusterBytes();
    vcn -= count;
  }
  return UINT64_MAX;
}

// Walks [offset, offset + n) of a node's clusters in pieces that lie contiguous on the disk.
template <class F>
static bool ForPieces(const SimFsNode& node, uint64_t clusterBytes, uint64_t heapBytes, uint64_t offset,
                      uint64_t n, F piece) {
  uint64_t runStart = 0;  // file byte where the run starts
  for (const auto& [lcn, count] : node.runs) {
    const uint64_t runEnd = runStart + count * clusterBytes;
    if (n && offset < runEnd && offset + n > runStart) {
      const uint64_t from = std::max(offset, runStart), to = std::min(offset + n, runEnd);
      if (!piece(from - offset, heapBytes + lcn * clusterBytes + (from - runStart), to - from)) return false;
    }
    runStart = runEnd;
  }
  return offset + n <= runStart;
}

bool SimVolumeTree::Write(const SimFsNode& node, uint64_t offset, const void* data, uint64_t n) {
  const auto* d = static_cast<const uint8_t*>(data);
  const SimVolumePlace p = Place();
  return ForPieces(node, s_.ClusterBytes(), s_.heapOffset * s_.bytesPerSector, offset, n,
                   [&](uint64_t from, uint64_t volByte, uint64_t len) {
                     if (volByte % 512 == 0 && len % 512 == 0) {
                       // Whole sectors go to the drive straight from the caller's buffer.
                       for (uint64_t done = 0; done < len;) {
                         const uint64_t step = std::min<uint64_t>(len - done, 64 << 20);
                         if (!disk_->drive.Write(firstLba_ + (volByte + done) / 512,
                                                 static_cast<uint32_t>(step / 512), d + from + done))
                           return false;
                         done += step;
                       }
                       return true;
                     }
                     return WriteVolumeBytes(p, volByte, std::vector<uint8_t>(d + from, d + from + len));
                   });
}

bool SimVolumeTree::Read(const SimFsNode& node, uint64_t offset, void* out, uint64_t n) const {
  auto* o = static_cast<uint8_t*>(out);
  const SimVolumePlace p = Place();
  return ForPieces(node, s_.ClusterBytes(), s_.heapOffset * s_.bytesPerSector, offset, n,
                   [&](uint64_t from, uint64_t volByte, uint64_t len) {
                     if (volByte % 512 == 0 && len % 512 == 0) {
                       for (uint64_t done = 0; done < len;) {
                         const uint64_t step = std::min<uint64_t>(len - done, 64 << 20);
                         if (!disk_->drive.Read(firstLba_ + (volByte + done) / 512,
                                                static_cast<uint32_t>(step / 512), o + from + done))
                           return false;
                         done += step;
                       }
                       return true;
                     }
                     std::vector<uint8_t> b;
                     if (!ReadVolumeBytes(p, volByte, len, b)) return false;
                     std::copy(b.begin(), b.end(), o + from);
                     return true;
                   });
}

bool SimVolumeTree::WriteNodeBytes(const SimFsNode& node, uint64_t at, const std::vector<uint8_t>& bytes) {
  return Write(node, at, bytes.data(), bytes.size());
}

bool SimVolumeTree::ReadNodeBytes(const SimFsNode& node, uint64_t at, size_t n, std::vector<uint8_t>& out) const {
  out.assign(n, 0);
  return Read(node, at, out.data(), n);
}

// ---- clusters --------------------------------------------------------------------------------

DWORD SimVolumeTree::Grow(SimFsNode& node, uint64_t clusters) {
  if (clusters == 0) return ERROR_SUCCESS;
  const uint64_t from = node.runs.empty() ? 0 : node.runs.back().first + node.runs.back().second;
  SimClusterRuns add = FindFreeClusters(s_, clusters, from, maxRun_, gap_);
  uint64_t got = 0;
  for (const auto& [first, count] : add) got += count;
  if (got < clusters) return ERROR_DISK_FULL;
  const SimVolumePlace p = Place();
  if (!MarkClusters(p, s_, add, true)) return ERROR_IO_DEVICE;
  // The FAT chains the new runs on from the file's last cluster; a file that lay in one run
  // without a chain (exFAT) gets its whole chain now, unless it stays one run.
  const bool oneRun = add.size() == 1 && (node.runs.empty() || add[0].first == from);
  SimClusterRuns link;
  if (node.noFatChain && !oneRun) {
    link = node.runs;
    node.noFatChain = false;
  } else if (!node.runs.empty()) {
    link.push_back({node.runs.back().first + node.runs.back().second - 1, 1});
  }
  link.insert(link.end(), add.begin(), add.end());
  if (!node.noFatChain && !WriteFatChain(p, s_, link)) return ERROR_IO_DEVICE;
  for (const auto& r : add) {
    if (!node.runs.empty() && node.runs.back().first + node.runs.back().second == r.first)
      node.runs.back().second += r.second;
    else
      node.runs.push_back(r);
    node.clusters += r.second;
  }
  return ERROR_SUCCESS;
}

bool SimVolumeTree::Shrink(SimFsNode& node, uint64_t keep) {
  if (keep >= node.clusters) return true;
  SimClusterRuns kept, freed;
  uint64_t left = keep;
  for (const auto& [first, count] : node.runs) {
    const uint64_t k = std::min(left, count);
    if (k) kept.push_back({first, k});
    if (k < count) freed.push_back({first + k, count - k});
    left -= k;
  }
  const SimVolumePlace p = Place();
  bool ok = MarkClusters(p, s_, freed, false);
  node.runs = kept;
  node.clusters = keep;
  if (!kept.empty() && !node.noFatChain)
    ok = ok && WriteFatChain(p, s_, {{kept.back().first + kept.back().second - 1, 1}});
  return ok;
}

DWORD SimVolumeTree::Reserve(SimFsNode& node, uint64_t bytes) {
  if (s_.kind == SimFsKind::kFat32 && !node.dir && bytes > kFat32MaxFile) return ERROR_DISK_FULL;
  const uint64_t need = CeilDiv(bytes, s_.ClusterBytes());
  if (need <= node.clusters) return ERROR_SUCCESS;
  const bool hadNone = node.runs.empty();
  const DWORD e = Grow(node, need - node.clusters);
  if (e) return e;
  if (hadNone && !WriteEntry(node)) return ERROR_IO_DEVICE;
  return ERROR_SUCCESS;
}

DWORD SimVolumeTree::Resize(SimFsNode& node, uint64_t size, const SYSTEMTIME& now) {
  if (const DWORD e = Reserve(node, size)) return e;
  if (size > node.size) {
    // New bytes read as zeros, whatever the clusters held before.
    const SimVolumePlace p = Place();
    if (!ForPieces(node, s_.ClusterBytes(), s_.heapOffset * s_.bytesPerSector, node.size, size - node.size,
                   [&](uint64_t, uint64_t volByte, uint64_t len) { return ZeroVolumeBytes(p, volByte, len); }))
      return ERROR_IO_DEVICE;
  } else if (!Shrink(node, CeilDiv(size, s_.ClusterBytes()))) {
    return ERROR_IO_DEVICE;
  }
  node.size = size;
  return Touch(node, now) ? ERROR_SUCCESS : ERROR_IO_DEVICE;
}

bool SimVolumeTree::SetAttributes(SimFsNode& node, DWORD attrs) {
  node.attrs = attrs;
  return WriteEntry(node);
}

bool SimVolumeTree::Touch(SimFsNode& node, const SYSTEMTIME& now) {
  node.written = now;
  return WriteEntry(node);
}

// ---- names -----------------------------------------------------------------------------------

std::vector<uint8_t> SimVolumeTree::EntryBytes(const SimFsNode& node) const {
  SimFatEntry e;
  e.name = node.name;
  e.dir = node.dir;
  e.attrs = node.attrs &
            (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  e.firstCluster = FirstCluster(node);
  e.size = node.dir ? (s_.kind == SimFsKind::kExFat ? node.clusters * s_.ClusterBytes() : 0) : node.size;
  e.created = node.created;
  e.written = node.written;
  e.shortName = node.shortName;
  e.caseBits = node.caseBits;
  e.longName = node.longName;
  e.noFatChain = node.noFatChain;
  return s_.kind == SimFsKind::kExFat ? ExFatEntryBytes(e, s_.upcase) : Fat32EntryBytes(e);
}

bool SimVolumeTree::WriteEntry(SimFsNode& node) {
  if (!IsFat(s_.kind) || !node.parent || !node.linked) return true;
  return WriteNodeBytes(*node.parent, node.entryAt, EntryBytes(node));
}

DWORD SimVolumeTree::PlaceEntry(SimFsNode& dir, SimFsNode& node) {
  const uint32_t slots = static_cast<uint32_t>(EntryBytes(node).size() / 32);
  for (;;) {
    std::vector<std::pair<uint64_t, uint32_t>> used = dir.reservedSlots;
    for (const auto& [key, c] : dir.children) used.push_back({c->entryAt, c->entrySlots});
    std::sort(used.begin(), used.end());
    const uint64_t capacity = dir.clusters * s_.ClusterBytes() / 32;
    uint64_t at = 0;  // first free slot
    for (const auto& [byte, n] : used) {
      if (byte / 32 >= at + slots) break;
      at = std::max(at, byte / 32 + n);
    }
    if (at + slots <= capacity) {
      node.entryAt = at * 32;
      node.entrySlots = slots;
      return ERROR_SUCCESS;
    }
    // The folder takes another cluster, cleared, so that its entries end where they did.
    if (s_.kind == SimFsKind::kFat32 && capacity >= 65536) return ERROR_DISK_FULL;
    const uint64_t had = dir.clusters;
    if (const DWORD e = Grow(dir, 1)) return e;
    if (!ZeroVolumeBytes(Place(), VolumeByte(dir, had * s_.ClusterBytes()), s_.ClusterBytes()))
      return ERROR_IO_DEVICE;
    if (s_.kind == SimFsKind::kExFat && !WriteEntry(dir)) return ERROR_IO_DEVICE;  // its size changed
  }
}

DWORD SimVolumeTree::Add(SimFsNode& dir, const std::string& name, bool folder, DWORD attrs, const SYSTEMTIME& now,
                         std::shared_ptr<SimFsNode>* out) {
  auto n = std::make_shared<SimFsNode>();
  n->id = nextId_++;
  n->name = name;
  n->dir = folder;
  n->attrs = attrs;
  n->parent = &dir;
  n->created = n->written = now;
  if (s_.kind == SimFsKind::kFat32) {
    SimFatEntry e;
    Fat32ShortName(dir.shortNames, name, &e);
    n->shortName = e.shortName;
    n->caseBits = e.caseBits;
    n->longName = e.longName;
  }
  if (IsFat(s_.kind)) {
    if (const DWORD e = PlaceEntry(dir, *n)) return e;
    if (folder) {
      if (const DWORD e = Grow(*n, 1)) return e;
      std::vector<uint8_t> first(s_.ClusterBytes(), 0);
      if (s_.kind == SimFsKind::kFat32) {
        const auto dots = Fat32DotEntries(FirstCluster(*n), dir.parent ? FirstCluster(dir) : 0, now);
        std::copy(dots.begin(), dots.end(), first.begin());
        n->reservedSlots = {{0, 2}};
      }
      if (!WriteNodeBytes(*n, 0, first)) return ERROR_IO_DEVICE;
    }
    if (!WriteNodeBytes(dir, n->entryAt, EntryBytes(*n))) return ERROR_IO_DEVICE;
  }
  if (s_.kind == SimFsKind::kFat32) dir.shortNames.insert(n->shortName);
  dir.children[FoldName(name)] = n;
  *out = n;
  return ERROR_SUCCESS;
}

bool SimVolumeTree::Unlink(SimFsNode& node) {
  if (!node.parent || !node.linked) return false;
  SimFsNode& dir = *node.parent;
  bool ok = true;
  if (IsFat(s_.kind)) {
    std::vector<uint8_t> bytes;
    ok = ReadNodeBytes(dir, node.entryAt, size_t(node.entrySlots) * 32, bytes);
    MarkFatEntryDeleted(s_.kind == SimFsKind::kExFat, bytes);
    ok = ok && WriteNodeBytes(dir, node.entryAt, bytes);
  }
  dir.shortNames.erase(node.shortName);
  node.linked = false;
  dir.children.erase(FoldName(node.name));  // may drop the caller's last reference: keep it alive
  return ok;
}

bool SimVolumeTree::Release(SimFsNode& node) {
  const SimVolumePlace p = Place();
  const bool ok = MarkClusters(p, s_, node.runs, false);
  node.runs.clear();
  node.clusters = 0;
  return ok;
}

}  // namespace plat::sim

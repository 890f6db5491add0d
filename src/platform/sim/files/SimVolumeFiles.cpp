#include "platform/sim/files/SimVolumeFiles.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "base/uByteOrder.h"
#include "platform/WinFsControl.h"
#include "platform/sim/files/SimFileSystem.h"
#include "platform/sim/kernel/SimKernel.h"
#include "platform/sim/files/SimPath.h"
#include "platform/sim/files/SimVolumeLocks.h"
#include "platform/sim/files/SimVolumeTree.h"

namespace plat::sim {

namespace {

constexpr int kMaxJunctions = 32;
constexpr uint64_t kPage = SimFileCache::kPageBytes;
constexpr DWORD kStoredAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

BOOL Fail(DWORD e) {
  SimSetLastError(e);
  return FALSE_;
}

HANDLE FailHandle(DWORD e) {
  SimSetLastError(e);
  return VT_INVALID_HANDLE_VALUE;
}

bool Gone(const std::shared_ptr<SimDisk>& d) {
  std::lock_guard<std::mutex> lk(d->mu);
  return !d->present;
}

DWORD AttributesOf(const SimFsNode& n) {
  if (n.dir) return FILE_ATTRIBUTE_DIRECTORY | n.attrs;
  return n.attrs ? n.attrs : FILE_ATTRIBUTE_NORMAL;
}

uint64_t RoundUp(uint64_t v, uint64_t to) { return (v + to - 1) / to * to; }

// The folder at parts[0, n) from the root, through junctions; null when it is not there.
std::shared_ptr<SimFsNode> Follow(SimVolumeTree& t, std::shared_ptr<SimFsNode> node, int depth);

std::shared_ptr<SimFsNode> Folder(SimVolumeTree& t, const std::vector<std::string>& parts, size_t n,
                                  int depth = 0) {
  std::shared_ptr<SimFsNode> cur = t.Root();
  for (size_t i = 0; i < n && cur; ++i) {
    auto c = t.Child(*cur, parts[i]);
    cur = c && c->dir ? Follow(t, c, depth) : nullptr;
  }
  return cur;
}

std::shared_ptr<SimFsNode> Follow(SimVolumeTree& t, std::shared_ptr<SimFsNode> node, int depth) {
  if (node->junction.empty()) return node;
  if (depth >= kMaxJunctions) return nullptr;
  SimPath target;
  if (ParseWinPath(node->junction, SimPath{}, &target) != 0) return nullptr;
  return Folder(t, target.parts, target.parts.size(), depth + 1);
}

// Where a path leads inside a volume: the folder that holds its last name, and the item.
struct Where {
  DWORD error = 0;
  std::shared_ptr<SimFsNode> dir;
  std::shared_ptr<SimFsNode> node;
};

Where Locate(SimVolumeTree& t, const SimPath& p) {
  Where w;
  if (p.IsRoot()) {
    w.node = t.Root();
    return w;
  }
  w.dir = Folder(t, p.parts, p.parts.size() - 1);
  if (!w.dir) {
    w.error = ERROR_PATH_NOT_FOUND;
    return w;
  }
  w.node = t.Child(*w.dir, p.Name());
  return w;
}

}  // namespace

struct SimVolumeFiles::Impl {
  Impl(SimKernel& k, SimStorage& st, SimFileSystem& f, SimVolumeLocks& l)
      : kernel(k), storage(st), files(f), locks(l) {}

  SimKernel& kernel;
  SimStorage& storage;
  SimFileSystem& files;
  SimVolumeLocks& locks;

  std::mutex mu;  // the faults
  SimPathFaults<SimVolumeFileFault> faults;

  DWORD Parse(const std::string& path, SimPath* out, bool wildcards = false) {
    std::string cwdText;
    files.GetCurrentDirectoryW(&cwdText);
    SimPath cwd;
    ParseWinPath(cwdText, SimPath{}, &cwd);
    return ParseWinPath(path, cwd, out, wildcards);
  }

  // The mounted layout of a letter whose disks are all on the bus; null when none.
  std::shared_ptr<SimFsState> Mounted(char letter) {
    auto v = storage.Volume(letter);
    if (!v) return nullptr;
    std::shared_ptr<SimFsState> s;
    std::vector<SimExtent> extents;
    {
      std::lock_guard<std::mutex> lk(v->mu);
      s = v->fs;
      extents = v->extents;
    }
    if (!s || extents.empty()) return nullptr;
    for (const auto& e : extents) {
      auto d = storage.Disk(e.diskNumber);
      if (!d || Gone(d)) return nullptr;
    }
    return s;
  }

  // With s.mu held: the volume's tree, read from its disk on first use.
  SimVolumeTree* Tree(SimFsState& s, char letter) {
    if (!s.files) {
      SimVolumePlace p;
      if (!LocateVolume(storage, letter, &p)) return nullptr;
      s.files = SimVolumeTree::Load(p, s);
    }
    return s.files.get();
  }

  // The nearest fault at or above p that `active` picks; it strikes once more (its count goes
  // down). Returns a copy, or nothing.
  template <class Pred>
  bool Strike(const SimPath& p, Pred active, SimVolumeFileFault* out) {
    std::lock_guard<std::mutex> lk(mu);
    SimVolumeFileFault* f =
        faults.Nearest(p, [&](const SimVolumeFileFault& x) { return x.count != 0 && active(x); });
    if (!f) return false;
    if (f->count > 0) --f->count;
    *out = *f;
    return true;
  }

  // A path-based call's start: the parsed path, the volume's state locked, its tree.
  struct Session {
    DWORD error = 0;
    SimPath path;
    std::shared_ptr<SimFsState> s;
    std::unique_lock<std::mutex> lk;
    SimVolumeTree* t = nullptr;
    SYSTEMTIME now{};
  };
  Session Begin(const std::string& path, bool wildcards = false) {
    Session x;
    if ((x.error = Parse(path, &x.path, wildcards))) return x;
    // A dismounted volume mounts again on its next use (which may take its time).
    if (!locks.UseMount(x.path.drive)) {
      x.error = ERROR_NOT_READY;
      return x;
    }
    x.now = kernel.LocalTimeNow();
    x.s = Mounted(x.path.drive);
    if (!x.s) {
      x.error = ERROR_PATH_NOT_FOUND;
      return x;
    }
    x.lk = std::unique_lock<std::mutex>(x.s->mu);
    x.t = Tree(*x.s, x.path.drive);
    if (!x.t) x.error = ERROR_UNRECOGNIZED_VOLUME;
    return x;
  }

  bool ShareClash(const SimFsNode& n, Rights r, DWORD share) {
    for (const SimOpenShare* o : n.shares)
      if (SharesClash(r, share, o->rights, o->share)) return true;
    return false;
  }

  // Lock and dismount: refused while anything of the volume is open; they close its cache.
  BOOL VolumeRequest(SimDeviceCall& c, const SimIoctlHandler& next) {
    std::shared_ptr<SimFsState> s;
    if (c.volume) {
      std::lock_guard<std::mutex> lk(c.volume->mu);
      s = c.volume->fs;
    }
    if (s) {
      std::lock_guard<std::mutex> lk(s->mu);
      if (s->files && s->files->openHandles > 0) return Fail(ERROR_ACCESS_DENIED);
    }
    const BOOL r = next ? next(c) : Fail(ERROR_INVALID_FUNCTION);
    if (r && s) {
      std::lock_guard<std::mutex> lk(s->mu);
      if (s->files) s->files->cache.Clear();
    }
    return r;
  }
};

// ---- handles ---------------------------------------------------------------------------------

struct SimVolumeFiles::FileObject final : SimObject {
  const char* Kind() const override { return "volume file"; }
  ~FileObject() override {
    std::lock_guard<std::mutex> lk(s->mu);
    SimVolumeTree& t = *s->files;
    node->shares.erase(std::remove(node->shares.begin(), node->shares.end(), &share), node->shares.end());
    --node->opens;
    --t.openHandles;
    if (!node->linked && node->opens == 0) t.Release(*node);
  }
  std::shared_ptr<SimFsState> s;
  std::shared_ptr<SimFsNode> node;
  std::shared_ptr<SimDisk> disk;
  SimOpenShare share;
  DWORD flags = 0;
  SimPath path;
  uint64_t pos = 0;  // guarded by s->mu

  bool Unbuffered() const { return flags & FILE_FLAG_NO_BUFFERING; }
};

struct SimVolumeFiles::FindObject final : SimObject {
  const char* Kind() const override { return "volume listing"; }
  ~FindObject() override {
    if (!s) return;  // a listing that failed before it took its folder
    std::lock_guard<std::mutex> lk(s->mu);
    --dir->opens;
    --s->files->openHandles;
    if (!dir->linked && dir->opens == 0) s->files->Release(*dir);
  }
  std::shared_ptr<SimFsState> s;
  std::shared_ptr<SimFsNode> dir;
  std::vector<FIND_DATA> entries;
  size_t next = 1;     // guarded by s->mu
  int stopAfter = -1;  // the listing fault
  DWORD stopError = 0;
};

SimVolumeFiles::SimVolumeFiles(SimKernel& kernel, SimStorage& storage, SimFileSystem& files, SimVolumeLocks& locks)
    : impl_(std::make_shared<Impl>(kernel, storage, files, locks)) {
  for (DWORD code : {fsc::FSCTL_LOCK_VOLUME, fsc::FSCTL_DISMOUNT_VOLUME}) {
    SimIoctlHandler next = storage.Handler(code);
    std::weak_ptr<Impl> weak = impl_;
    storage.RegisterIoctl(code, [weak, next](SimDeviceCall& c) {
      auto i = weak.lock();
      return i ? i->VolumeRequest(c, next) : (next ? next(c) : Fail(ERROR_INVALID_FUNCTION));
    });
  }
}

SimVolumeFiles::~SimVolumeFiles() = default;

// ---- set-up ----------------------------------------------------------------------------------

std::shared_ptr<SimVolume> SimVolumeFiles::AddVolume(char letter, int disk, uint64_t offsetBytes,
                                                     uint64_t lengthBytes, SimFsKind kind, uint32_t clusterBytes) {
  auto d = impl_->storage.Disk(disk);
  if (!d) return nullptr;
  auto v = impl_->storage.AddVolume(letter, {SimExtent{disk, offsetBytes, lengthBytes}});
  if (!FormatVolume(impl_->storage, letter, kind, SimLogicalBlockSize(*d), clusterBytes)) {
    impl_->storage.RemoveVolume(letter);
    return nullptr;
  }
  return v;
}

bool SimVolumeFiles::WriteAll(const std::string& path, const std::string& bytes) {
  auto x = impl_->Begin(path);
  if (x.error || x.path.IsRoot()) return false;
  std::shared_ptr<SimFsNode> dir = x.t->Root();
  for (size_t i = 0; i + 1 < x.path.parts.size(); ++i) {
    auto c = x.t->Child(*dir, x.path.parts[i]);
    if (!c && x.t->Add(*dir, x.path.parts[i], true, 0, x.now, &c)) return false;
    if (!c->dir) return false;
    dir = Follow(*x.t, c, 0);
    if (!dir) return false;
  }
  auto n = x.t->Child(*dir, x.path.Name());
  if (n && n->dir) return false;
  if (!n && x.t->Add(*dir, x.path.Name(), false, FILE_ATTRIBUTE_ARCHIVE, x.now, &n)) return false;
  x.t->cache.Drop(n->id);
  if (x.t->Resize(*n, 0, x.now) || x.t->Reserve(*n, bytes.size())) return false;
  if (!x.t->Write(*n, 0, bytes.data(), bytes.size())) return false;
  n->size = bytes.size();
  return x.t->Touch(*n, x.now);
}

std::string SimVolumeFiles::ReadAll(const std::string& path) {
  auto x = impl_->Begin(path);
  if (x.error) return {};
  Where w = Locate(*x.t, x.path);
  if (!w.node || w.node->dir) return {};
  std::string r(w.node->size, '\0');
  if (!x.t->Read(*w.node, 0, r.data(), r.size())) return {};
  return r;
}

bool SimVolumeFiles::Exists(const std::string& path) {
  auto x = impl_->Begin(path);
  return !x.error && Locate(*x.t, x.path).node != nullptr;
}

SimClusterRuns SimVolumeFiles::Runs(const std::string& path) {
  auto x = impl_->Begin(path);
  if (x.error) return {};
  Where w = Locate(*x.t, x.path);
  return w.node ? w.node->runs : SimClusterRuns{};
}

bool SimVolumeFiles::AddJunction(const std::string& path, const std::string& target) {
  auto x = impl_->Begin(path);
  if (x.error || x.t->Kind() != SimFsKind::kNtfs || x.path.IsRoot()) return false;  // NTFS alone has them
  SimPath to;
  if (impl_->Parse(target, &to) || to.drive != x.path.drive) return false;
  Where w = Locate(*x.t, x.path);
  if (!w.dir || w.node || !Folder(*x.t, to.parts, to.parts.size())) return false;
  std::shared_ptr<SimFsNode> n;
  if (x.t->Add(*w.dir, x.path.Name(), true, FILE_ATTRIBUTE_REPARSE_POINT, x.now, &n)) return false;
  n->junction = to.Display();
  return true;
}

void SimVolumeFiles::SetAllocation(char letter, uint64_t maxRunClusters, uint64_t gapClusters) {
  auto s = impl_->Mounted(letter);
  if (!s) return;
  std::lock_guard<std::mutex> lk(s->mu);
  if (SimVolumeTree* t = impl_->Tree(*s, letter)) t->SetAllocation(maxRunClusters, gapClusters);
}

void SimVolumeFiles::SetCacheLimit(char letter, uint64_t bytes) {
  auto s = impl_->Mounted(letter);
  if (!s) return;
  std::lock_guard<std::mutex> lk(s->mu);
  if (SimVolumeTree* t = impl_->Tree(*s, letter)) {
    t->cache.SetLimit(bytes);
    if (!bytes) t->cache.Clear();
  }
}

uint64_t SimVolumeFiles::CacheBytes(char letter) {
  auto s = impl_->Mounted(letter);
  if (!s) return 0;
  std::lock_guard<std::mutex> lk(s->mu);
  return s->files ? s->files->cache.Bytes() : 0;
}

void SimVolumeFiles::SetFault(const std::string& path, const SimVolumeFileFault& fault) {
  SimPath p;
  if (impl_->Parse(path, &p)) return;
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->faults.Set(p, fault);
}

void SimVolumeFiles::ClearFaults() {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->faults.Clear();
}

int SimVolumeFiles::OpenHandles(char letter) {
  auto s = impl_->Mounted(letter);
  if (!s) return 0;
  std::lock_guard<std::mutex> lk(s->mu);
  return s->files ? s->files->openHandles : 0;
}

// ---- the calls -------------------------------------------------------------------------------

bool SimVolumeFiles::Serves(const std::string& path) {
  // A host folder mounted over the volume's folders (the demo's working folder) is the file
  // system module's.
  if (impl_->files.HostMounted(path)) return false;
  SimPath p;
  if (impl_->Parse(path, &p, true)) return false;
  return impl_->Mounted(p.drive) != nullptr;
}

bool SimVolumeFiles::Owns(HANDLE h) {
  auto o = impl_->kernel.Lookup(h);
  return std::dynamic_pointer_cast<FileObject>(o) || std::dynamic_pointer_cast<FindObject>(o);
}

HANDLE SimVolumeFiles::CreateFileW(const std::string& path, DWORD access, DWORD share, DWORD creation,
                                   DWORD flags) {
  if (creation < CREATE_NEW || creation > TRUNCATE_EXISTING) return FailHandle(ERROR_INVALID_PARAMETER);
  std::shared_ptr<FileObject> obj;
  DWORD lastError = ERROR_SUCCESS;
  {
    auto x = impl_->Begin(path);
    if (x.error) return FailHandle(x.error);
    SimVolumeFileFault f;
    if (impl_->Strike(
            x.path, [](const SimVolumeFileFault& y) { return y.openError != 0; }, &f))
      return FailHandle(f.openError);
    if (x.path.IsRoot()) return FailHandle(ERROR_ACCESS_DENIED);
    Where w = Locate(*x.t, x.path);
    if (w.error) return FailHandle(w.error);
    const Rights r = RightsOf(access);
    const bool truncate = creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING;
    std::shared_ptr<SimFsNode> n = w.node;
    if (n) {
      if (creation == CREATE_NEW) return FailHandle(ERROR_FILE_EXISTS);
      if (n->dir) return FailHandle(ERROR_ACCESS_DENIED);
      if (x.path.trailingSeparator) return FailHandle(ERROR_INVALID_NAME);
      if ((n->attrs & FILE_ATTRIBUTE_READONLY) && (r.AnyWrite() || r.del || truncate))
        return FailHandle(ERROR_ACCESS_DENIED);
      // Replacing a hidden or system file needs the caller to name those attributes too.
      if (truncate && (n->attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) & ~flags))
        return FailHandle(ERROR_ACCESS_DENIED);
      if (impl_->ShareClash(*n, r, share)) return FailHandle(ERROR_SHARING_VIOLATION);
      if (truncate) {
        x.t->cache.Drop(n->id);
        if (const DWORD e = x.t->Resize(*n, 0, x.now)) return FailHandle(e);
      }
      if (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS) lastError = ERROR_ALREADY_EXISTS;
    } else {
      if (creation == OPEN_EXISTING || creation == TRUNCATE_EXISTING) return FailHandle(ERROR_FILE_NOT_FOUND);
      if (x.path.trailingSeparator) return FailHandle(ERROR_INVALID_NAME);
      const DWORD attrs = (flags & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) |
                          FILE_ATTRIBUTE_ARCHIVE;
      if (const DWORD e = x.t->Add(*w.dir, x.path.Name(), false, attrs, x.now, &n)) return FailHandle(e);
    }
    obj = std::make_shared<FileObject>();
    obj->s = x.s;
    obj->node = n;
    obj->disk = x.t->Place().disk;
    obj->share = {r, share};
    obj->flags = flags;
    obj->path = x.path;
    n->shares.push_back(&obj->share);
    ++n->opens;
    ++x.t->openHandles;
  }
  HANDLE h = impl_->kernel.AddHandle(obj);
  SimSetLastError(lastError);
  return h;
}

BOOL SimVolumeFiles::ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read, const ULONGLONG* offset) {
  auto obj = impl_->kernel.LookupAs<FileObject>(h);
  if (read) *read = 0;
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  uint64_t fromDrive = 0;
  DWORD n = 0;
  {
    std::lock_guard<std::mutex> lk(obj->s->mu);
    SimVolumeTree& t = *obj->s->files;
    SimFsNode& node = *obj->node;
    if (!obj->share.rights.read) return Fail(ERROR_ACCESS_DENIED);
    if (toRead && !buffer) return Fail(ERROR_NOACCESS);
    if (Gone(obj->disk)) return Fail(ERROR_DEVICE_NOT_CONNECTED);
    const uint64_t pos = offset ? *offset : obj->pos;
    const uint64_t bps = t.BytesPerSector();
    if (obj->Unbuffered() && (pos % bps || toRead % bps || reinterpret_cast<uintptr_t>(buffer) % bps))
      return Fail(ERROR_INVALID_PARAMETER);
    SimVolumeFileFault f;
    if (impl_->Strike(
            obj->path, [&](const SimVolumeFileFault& y) { return y.readError && pos + toRead > y.readAtByte; },
            &f))
      return Fail(f.readError);
    n = pos >= node.size ? 0 : static_cast<DWORD>(std::min<uint64_t>(toRead, node.size - pos));
    auto* out = static_cast<uint8_t*>(buffer);
    if (n && (obj->Unbuffered() || t.cache.Limit() == 0)) {
      if (!t.Read(node, pos, out, n)) return Fail(ERROR_READ_FAULT);
      fromDrive = RoundUp(n, bps);
    } else if (n) {
      // Through the cache: what it holds is served as it is, the rest is read in whole pages.
      for (uint64_t at = pos; at < pos + n;) {
        const uint64_t page = at / kPage, start = page * kPage;
        uint8_t* data = t.cache.Find(node.id, page);
        if (!data) {
          data = t.cache.Put(node.id, page);
          const uint64_t len = std::min(kPage, node.size - start);
          if (!t.Read(node, start, data, len)) {
            t.cache.Drop(node.id, page, page + 1);
            return Fail(ERROR_READ_FAULT);
          }
          fromDrive += RoundUp(len, 512);
        }
        const uint64_t take = std::min(start + kPage, pos + n) - at;
        std::memcpy(out + (at - pos), data + (at - start), take);
        at += take;
      }
    }
    obj->pos = pos + n;
  }
  if (fromDrive && !SimDriveWait(impl_->kernel, obj->disk->drive, false, fromDrive))
    return Fail(ERROR_OPERATION_ABORTED);
  if (read) *read = n;
  return TRUE_;
}

BOOL SimVolumeFiles::WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written,
                               const ULONGLONG* offset) {
  auto obj = impl_->kernel.LookupAs<FileObject>(h);
  if (written) *written = 0;
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  const SYSTEMTIME now = impl_->kernel.LocalTimeNow();
  uint64_t toDrive = 0, fromDrive = 0;
  {
    std::lock_guard<std::mutex> lk(obj->s->mu);
    SimVolumeTree& t = *obj->s->files;
    SimFsNode& node = *obj->node;
    const Rights& r = obj->share.rights;
    if (!r.AnyWrite()) return Fail(ERROR_ACCESS_DENIED);
    if (toWrite && !buffer) return Fail(ERROR_NOACCESS);
    if (Gone(obj->disk)) return Fail(ERROR_DEVICE_NOT_CONNECTED);
    // A handle with append rights and no write rights writes at the end, wherever it points.
    const uint64_t pos = r.append && !r.write ? node.size : offset ? *offset : obj->pos;
    const uint64_t bps = t.BytesPerSector();
    if (obj->Unbuffered() && (pos % bps || toWrite % bps || reinterpret_cast<uintptr_t>(buffer) % bps))
      return Fail(ERROR_INVALID_PARAMETER);
    SimVolumeFileFault f;
    if (impl_->Strike(
            obj->path, [&](const SimVolumeFileFault& y) { return y.writeError && pos + toWrite > y.writeAtByte; },
            &f))
      return Fail(f.writeError);
    if (toWrite == 0) return TRUE_;
    const uint64_t end = pos + toWrite;
    if (const DWORD e = t.Reserve(node, end)) return Fail(e);
    // Bytes between the old end and the write read as zeros.
    if (pos > node.size)
      if (const DWORD e = t.Resize(node, pos, now)) return Fail(e);
    const auto* data = static_cast<const uint8_t*>(buffer);
    if (!t.Write(node, pos, data, toWrite)) return Fail(ERROR_WRITE_FAULT);
    toDrive = toWrite;
    const uint64_t oldSize = node.size;
    node.size = std::max(node.size, end);
    if (obj->Unbuffered() || t.cache.Limit() == 0) {
      t.cache.Drop(node.id, pos / kPage, (end + kPage - 1) / kPage);
    } else {
      // The written pages are in the cache now; one only partly written is read in first.
      for (uint64_t page = pos / kPage; page * kPage < end; ++page) {
        const uint64_t start = page * kPage;
        const bool whole = pos <= start && end >= std::min(start + kPage, node.size);
        uint8_t* c = t.cache.Find(node.id, page);
        if (!c) {
          c = t.cache.Put(node.id, page);
          if (!whole) {
            t.Read(node, start, c, std::min(kPage, node.size - start));
            if (start < oldSize) fromDrive += RoundUp(std::min(kPage, oldSize - start), 512);
          }
        }
        const uint64_t from = std::max(pos, start), to = std::min(end, start + kPage);
        std::memcpy(c + (from - start), data + (from - pos), to - from);
      }
    }
    if (!t.Touch(node, now)) return Fail(ERROR_WRITE_FAULT);
    obj->pos = end;
  }
  if (fromDrive && !SimDriveWait(impl_->kernel, obj->disk->drive, false, fromDrive))
    return Fail(ERROR_OPERATION_ABORTED);
  if (!SimDriveWait(impl_->kernel, obj->disk->drive, true, toDrive)) return Fail(ERROR_OPERATION_ABORTED);
  if (written) *written = toWrite;
  return TRUE_;
}

BOOL SimVolumeFiles::SetFilePointerEx(HANDLE h, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod) {
  auto obj = impl_->kernel.LookupAs<FileObject>(h);
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lk(obj->s->mu);
  int64_t base = 0;
  switch (moveMethod) {
    case FILE_BEGIN: break;
    case FILE_CURRENT: base = static_cast<int64_t>(obj->pos); break;
    case FILE_END: base = static_cast<int64_t>(obj->node->size); break;
    default: return Fail(ERROR_INVALID_PARAMETER);
  }
  const int64_t to = base + distance;
  if (to < 0) return Fail(ERROR_NEGATIVE_SEEK);
  obj->pos = static_cast<uint64_t>(to);
  if (newPosition) *newPosition = to;
  return TRUE_;
}

BOOL SimVolumeFiles::GetFileSizeEx(HANDLE h, LONGLONG* size) {
  auto obj = impl_->kernel.LookupAs<FileObject>(h);
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lk(obj->s->mu);
  if (size) *size = static_cast<LONGLONG>(obj->node->size);
  return TRUE_;
}

BOOL SimVolumeFiles::SetEndOfFile(HANDLE h) {
  auto obj = impl_->kernel.LookupAs<FileObject>(h);
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  const SYSTEMTIME now = impl_->kernel.LocalTimeNow();
  std::lock_guard<std::mutex> lk(obj->s->mu);
  if (!obj->share.rights.write) return Fail(ERROR_ACCESS_DENIED);
  if (Gone(obj->disk)) return Fail(ERROR_DEVICE_NOT_CONNECTED);
  SimVolumeTree& t = *obj->s->files;
  t.cache.Drop(obj->node->id, std::min(obj->pos, obj->node->size) / kPage);
  const DWORD e = t.Resize(*obj->node, obj->pos, now);
  return e ? Fail(e) : TRUE_;
}

BOOL SimVolumeFiles::FlushFileBuffers(HANDLE h) {
  auto obj = impl_->kernel.LookupAs<FileObject>(h);
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  // The cache writes through, so nothing waits to be written; Windows still asks for write rights.
  if (!obj->share.rights.AnyWrite()) return Fail(ERROR_ACCESS_DENIED);
  return Gone(obj->disk) ? Fail(ERROR_DEVICE_NOT_CONNECTED) : TRUE_;
}

// FSCTL_GET_RETRIEVAL_POINTERS, on any handle of the file (no access needed): its runs from the
// one that holds the starting VCN, in the numbering of the volume bitmap.
BOOL SimVolumeFiles::DeviceIoControl(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                                     DWORD* returned) {
  auto obj = impl_->kernel.LookupAs<FileObject>(h);
  if (returned) *returned = 0;
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  if (code != fsc::FSCTL_GET_RETRIEVAL_POINTERS) return Fail(ERROR_INVALID_FUNCTION);
  if (!in || inSize < fsc::kStartingVcnInputSize) return Fail(ERROR_INVALID_PARAMETER);
  if (!out || outSize < fsc::kRetrievalPointersSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
  const int64_t asked = static_cast<int64_t>(TByteReader({static_cast<const uint8_t*>(in), 8}).LE64(0));
  if (asked < 0) return Fail(ERROR_INVALID_PARAMETER);
  SimClusterRuns runs;
  {
    std::lock_guard<std::mutex> lk(obj->s->mu);
    if (Gone(obj->disk)) return Fail(ERROR_DEVICE_NOT_CONNECTED);
    runs = obj->node->runs;
  }
  // The extents from the one that holds the asked VCN: (start VCN, LCN, clusters).
  struct Extent {
    uint64_t vcn, lcn, count;
  };
  std::vector<Extent> extents;
  uint64_t vcn = 0;
  for (const auto& [lcn, count] : runs) {
    if (static_cast<uint64_t>(asked) < vcn + count) extents.push_back({vcn, lcn, count});
    vcn += count;
  }
  if (extents.empty() && vcn > 0) return Fail(ERROR_HANDLE_EOF);
  const uint64_t room = (outSize - fsc::kRetrievalHeaderSize) / fsc::kRetrievalExtentSize;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(room, extents.size()));
  TByteWriter w({static_cast<uint8_t*>(out), fsc::kRetrievalHeaderSize + n * fsc::kRetrievalExtentSize});
  w.Zero();
  w.LE32(0, static_cast<uint32_t>(n));
  w.LE64(8, extents.empty() ? static_cast<uint64_t>(asked) : extents[0].vcn);
  for (size_t i = 0; i < n; ++i) {
    w.LE64(fsc::kRetrievalHeaderSize + i * 16, extents[i].vcn + extents[i].count);
    w.LE64(fsc::kRetrievalHeaderSize + i * 16 + 8, extents[i].lcn);
  }
  if (returned) *returned = static_cast<DWORD>(fsc::kRetrievalHeaderSize + n * fsc::kRetrievalExtentSize);
  return n < extents.size() ? Fail(ERROR_MORE_DATA) : TRUE_;
}

BOOL SimVolumeFiles::DeleteFileW(const std::string& path) {
  auto x = impl_->Begin(path);
  if (x.error) return Fail(x.error);
  SimVolumeFileFault f;
  if (impl_->Strike(
          x.path, [](const SimVolumeFileFault& y) { return y.deleteError != 0; }, &f))
    return Fail(f.deleteError);
  if (x.path.IsRoot()) return Fail(ERROR_ACCESS_DENIED);
  Where w = Locate(*x.t, x.path);
  if (w.error) return Fail(w.error);
  if (!w.node) return Fail(ERROR_FILE_NOT_FOUND);
  if (w.node->dir || (w.node->attrs & FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED);
  Rights del;
  del.del = true;
  if (impl_->ShareClash(*w.node, del, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
    return Fail(ERROR_SHARING_VIOLATION);
  // The name goes at once (as on current Windows); open handles keep the clusters until closed.
  x.t->cache.Drop(w.node->id);
  if (!x.t->Unlink(*w.node)) return Fail(ERROR_IO_DEVICE);
  if (w.node->opens == 0 && !x.t->Release(*w.node)) return Fail(ERROR_IO_DEVICE);
  return TRUE_;
}

BOOL SimVolumeFiles::CreateDirectoryW(const std::string& path) {
  auto x = impl_->Begin(path);
  if (x.error) return Fail(x.error);
  SimVolumeFileFault f;
  if (impl_->Strike(
          x.path, [](const SimVolumeFileFault& y) { return y.createDirectoryError != 0; }, &f))
    return Fail(f.createDirectoryError);
  if (x.path.IsRoot()) return Fail(ERROR_ALREADY_EXISTS);
  Where w = Locate(*x.t, x.path);
  if (w.error) return Fail(w.error);
  if (w.node) return Fail(ERROR_ALREADY_EXISTS);
  std::shared_ptr<SimFsNode> n;
  const DWORD e = x.t->Add(*w.dir, x.path.Name(), true, 0, x.now, &n);
  return e ? Fail(e) : TRUE_;
}

BOOL SimVolumeFiles::RemoveDirectoryW(const std::string& path) {
  auto x = impl_->Begin(path);
  if (x.error) return Fail(x.error);
  SimVolumeFileFault f;
  if (impl_->Strike(
          x.path, [](const SimVolumeFileFault& y) { return y.deleteError != 0; }, &f))
    return Fail(f.deleteError);
  if (x.path.IsRoot()) return Fail(ERROR_ACCESS_DENIED);
  Where w = Locate(*x.t, x.path);
  if (w.error) return Fail(w.error);
  if (!w.node) return Fail(ERROR_FILE_NOT_FOUND);
  if (!w.node->dir) return Fail(ERROR_DIRECTORY);
  if (w.node->attrs & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
  // A junction goes by itself, whatever its target holds.
  if (w.node->junction.empty() && !w.node->children.empty()) return Fail(ERROR_DIR_NOT_EMPTY);
  if (!x.t->Unlink(*w.node)) return Fail(ERROR_IO_DEVICE);
  if (w.node->opens == 0 && !x.t->Release(*w.node)) return Fail(ERROR_IO_DEVICE);
  return TRUE_;
}

DWORD SimVolumeFiles::GetFileAttributesW(const std::string& path) {
  auto x = impl_->Begin(path);
  Where w;
  if (!x.error) w = Locate(*x.t, x.path);
  const DWORD e = x.error ? x.error : w.error ? w.error : w.node ? DWORD{0} : DWORD{ERROR_FILE_NOT_FOUND};
  if (e) {
    SimSetLastError(e);
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(*w.node);
}

BOOL SimVolumeFiles::SetFileAttributesW(const std::string& path, DWORD attributes) {
  auto x = impl_->Begin(path);
  if (x.error) return Fail(x.error);
  Where w = Locate(*x.t, x.path);
  if (w.error) return Fail(w.error);
  if (!w.node) return Fail(ERROR_FILE_NOT_FOUND);
  if (x.path.IsRoot()) return TRUE_;
  const DWORD keep = w.node->attrs & FILE_ATTRIBUTE_REPARSE_POINT;
  return x.t->SetAttributes(*w.node, (attributes & kStoredAttributes) | keep) ? TRUE_ : Fail(ERROR_IO_DEVICE);
}

HANDLE SimVolumeFiles::FindFirstFileW(const std::string& pattern, FIND_DATA* data) {
  auto obj = std::make_shared<FindObject>();
  {
    auto x = impl_->Begin(pattern, true);
    if (x.error) return FailHandle(x.error);
    if (x.path.IsRoot() || x.path.trailingSeparator) return FailHandle(ERROR_FILE_NOT_FOUND);
    const SimPath folder = x.path.Parent();
    auto dir = Folder(*x.t, folder.parts, folder.parts.size());
    if (!dir) return FailHandle(ERROR_PATH_NOT_FOUND);
    const std::string& name = x.path.Name();
    auto add = [&](const std::string& n, DWORD attrs, uint64_t size) {
      if (NameMatches(name, n)) obj->entries.push_back(FIND_DATA{attrs, size, n});
    };
    // A folder other than a drive's root lists itself and its parent first.
    if (!folder.IsRoot()) {
      add(".", FILE_ATTRIBUTE_DIRECTORY, 0);
      add("..", FILE_ATTRIBUTE_DIRECTORY, 0);
    }
    for (const auto& n : x.t->List(*dir)) add(n->name, AttributesOf(*n), n->dir ? 0 : n->size);
    if (obj->entries.empty()) return FailHandle(ERROR_FILE_NOT_FOUND);
    SimVolumeFileFault f;
    if (impl_->Strike(
            folder, [](const SimVolumeFileFault& y) { return y.listStopAfter >= 0; }, &f)) {
      obj->stopAfter = f.listStopAfter;
      obj->stopError = f.listError;
      if (f.listStopAfter == 0) return FailHandle(f.listError);
    }
    if (data) *data = obj->entries.front();
    obj->s = x.s;
    obj->dir = dir;
    ++dir->opens;
    ++x.t->openHandles;
  }
  return impl_->kernel.AddHandle(obj);
}

BOOL SimVolumeFiles::FindNextFileW(HANDLE find, FIND_DATA* data) {
  auto obj = impl_->kernel.LookupAs<FindObject>(find);
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lk(obj->s->mu);
  if (obj->stopAfter >= 0 && obj->next >= static_cast<size_t>(obj->stopAfter)) return Fail(obj->stopError);
  if (obj->next >= obj->entries.size()) return Fail(ERROR_NO_MORE_FILES);
  if (data) *data = obj->entries[obj->next];
  obj->next++;
  return TRUE_;
}

BOOL SimVolumeFiles::FindClose(HANDLE find) {
  if (!impl_->kernel.LookupAs<FindObject>(find)) return Fail(ERROR_INVALID_HANDLE);
  return impl_->kernel.CloseHandle(find) ? TRUE_ : Fail(ERROR_INVALID_HANDLE);
}

BOOL SimVolumeFiles::GetDiskFreeSpaceExW(const std::string& path, ULONGLONG* freeToCaller, ULONGLONG* total,
                                         ULONGLONG* totalFree) {
  auto x = impl_->Begin(path.empty() ? "." : path);
  if (x.error) return Fail(x.error);
  Where w = Locate(*x.t, x.path);
  if (w.error || !w.node) return Fail(ERROR_PATH_NOT_FOUND);
  if (!w.node->dir) return Fail(ERROR_DIRECTORY);
  const uint64_t cluster = x.s->ClusterBytes();
  const uint64_t free = x.s->FreeClusters() * cluster;
  if (freeToCaller) *freeToCaller = free;
  if (total) *total = x.s->clusters * cluster;
  if (totalFree) *totalFree = free;
  return TRUE_;
}

}  // namespace plat::sim

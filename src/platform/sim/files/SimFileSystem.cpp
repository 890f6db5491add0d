#include "platform/sim/files/SimFileSystem.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/sim/files/SimHostFiles.h"
#include "platform/sim/kernel/SimKernel.h"
#include "platform/sim/files/SimPath.h"
#include "platform/sim/files/SimShare.h"

namespace plat::sim {

namespace {

struct Drive;

struct Node {
  std::string name;  // as created
  bool dir = false;
  DWORD attrs = 0;  // without FILE_ATTRIBUTE_DIRECTORY
  std::string data;
  std::map<std::string, std::shared_ptr<Node>> children;  // by folded name
  std::string host;    // a mounted host folder: what lies below is real host files
  bool linked = true;  // still has a name (an open handle may outlive its deletion)
};

struct Drive {
  uint64_t capacity = 0;
  uint64_t used = 0;  // bytes of the files that have a name
  std::shared_ptr<Node> root;
};

// Where a path leads.
struct Loc {
  DWORD error = 0;  // the folder that should hold the item is missing (or the drive)
  Drive* drive = nullptr;
  std::shared_ptr<Node> parent;  // memory folder holding the item
  std::shared_ptr<Node> node;    // memory item, when it exists
  bool host = false;             // the item lies inside a mounted host folder
  std::string hostPath;
  host::Entry entry;
  bool exists = false;
  bool dir = false;
  bool MountPoint() const { return node && !node->host.empty(); }
  // The host folder a listing of this folder reads, if any.
  std::string HostFolder() const { return host ? hostPath : (MountPoint() ? node->host : std::string()); }
};

BOOL Fail(DWORD e) {
  SimSetLastError(e);
  return FALSE_;
}

HANDLE FailHandle(DWORD e) {
  SimSetLastError(e);
  return VT_INVALID_HANDLE_VALUE;
}

DWORD AttributesOf(const Node& n) {
  if (n.dir) return FILE_ATTRIBUTE_DIRECTORY | n.attrs;
  return n.attrs ? n.attrs : FILE_ATTRIBUTE_NORMAL;
}

DWORD AttributesOf(const host::Entry& e) {
  DWORD a = e.dir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (e.link) a |= FILE_ATTRIBUTE_REPARSE_POINT;  // as Windows shows a symbolic link or junction
  return e.readOnly ? a | FILE_ATTRIBUTE_READONLY : a;
}

constexpr DWORD kStoredAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

bool EndsInSeparator(const std::string& s) { return !s.empty() && (s.back() == '/' || s.back() == '\\'); }

// A name below a host folder; a mounted drive root ("Z:\\", "/") already ends in a separator.
void AppendHostName(std::string& folder, const std::string& name) {
  if (!EndsInSeparator(folder)) folder += '/';
  folder += name;
}

// A host path with one kind of separator and none at the end, in the case the host compares
// names in, so that one path can be tested for lying below another.
std::string HostKey(std::string s) {
  for (char& c : s) {
    if (c == '\\') c = '/';
#ifdef _WIN32
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
#endif
  }
  // A drive letter names its drive in either case, whatever the host.
  if (s.size() >= 2 && s[1] == ':' && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
  while (!s.empty() && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

struct OpenFile {
  std::shared_ptr<Node> node;  // memory file
  Drive* drive = nullptr;
  std::FILE* file = nullptr;  // host file
  std::string hostFile;       // its host path
  std::string hostPath;       // host identity for share checks; empty once deleted
  SimPath path;               // for faults
  Rights rights;
  DWORD share = 0;
  uint64_t pos = 0;
};

struct SimFileSystem::Impl {
  explicit Impl(SimKernel& k) : kernel(k) {}

  SimKernel& kernel;
  std::mutex mu;
  std::map<char, std::unique_ptr<Drive>> drives;
  SimPath cwd;
  std::vector<OpenFile*> opens;
  SimPathFaults<FileFault> faults;
  struct MountRec {
    SimPath path;
    std::string host;
  };
  std::vector<MountRec> mounts;

  // ---- all below: called with mu held ----

  Loc Locate(const SimPath& p) {
    Loc l;
    auto d = drives.find(p.drive);
    if (d == drives.end()) {
      l.error = ERROR_PATH_NOT_FOUND;
      return l;
    }
    l.drive = d->second.get();
    std::shared_ptr<Node> cur = l.drive->root;
    if (p.parts.empty()) {
      l.node = cur;
      l.exists = l.dir = true;
      return l;
    }
    for (size_t i = 0; i < p.parts.size(); ++i) {
      if (!cur->host.empty()) return LocateInHost(cur->host, p, i, l);
      auto it = cur->children.find(FoldName(p.parts[i]));
      const bool found = it != cur->children.end();
      if (i + 1 == p.parts.size()) {
        l.parent = cur;
        if (found) {
          l.node = it->second;
          l.exists = true;
          l.dir = l.node->dir;
        }
        return l;
      }
      if (!found || !it->second->dir) {
        l.error = ERROR_PATH_NOT_FOUND;
        return l;
      }
      cur = it->second;
    }
    return l;
  }

  static Loc LocateInHost(const std::string& base, const SimPath& p, size_t from, Loc l) {
    l.host = true;
    host::Entry e;
    if (!host::Stat(base, &e) || !e.dir) {
      l.error = ERROR_PATH_NOT_FOUND;
      return l;
    }
    std::string hp = base;
    for (size_t k = from; k + 1 < p.parts.size(); ++k) {
      AppendHostName(hp, host::MatchName(hp, p.parts[k]));
      if (!host::Stat(hp, &e) || !e.dir) {
        l.error = ERROR_PATH_NOT_FOUND;
        return l;
      }
    }
    l.hostPath = hp;
    AppendHostName(l.hostPath, host::MatchName(hp, p.parts.back()));
    l.exists = host::Stat(l.hostPath, &l.entry);
    l.dir = l.exists && l.entry.dir;
    return l;
  }

  // A transfer on a slow drive takes its time after the data has moved, with the lock given up,
  // so other threads go on meanwhile.
  void TakeTime(std::unique_lock<std::mutex>& lk, const SimPath& p, uint64_t bytes) {
    const FileFault* x = faults.Nearest(p, [](const FileFault& f) { return f.bytesPerSecond > 0; });
    const uint64_t ms = x ? bytes * 1000 / x->bytesPerSecond : 0;
    lk.unlock();
    if (ms) kernel.Sleep(static_cast<DWORD>(ms));
  }

  bool ReadOnlyFolder(const SimPath& p) {
    return faults.Nearest(p, [](const FileFault& f) { return f.readOnly; }) != nullptr;
  }

  // Takes one failure from a counted fault; true when this call is to fail.
  static bool Consume(int& count) {
    if (count == 0) return false;
    if (count > 0) --count;
    return true;
  }

  bool SameFile(const OpenFile& o, const Loc& l) const {
    if (l.node) return o.node == l.node;
    return !o.hostPath.empty() && o.hostPath == l.hostPath;
  }

  bool ShareConflict(const Loc& l, Rights r, DWORD share) {
    for (const OpenFile* o : opens)
      if (SameFile(*o, l) && SharesClash(r, share, o->rights, o->share)) return true;
    return false;
  }

  static void Resize(Node& n, Drive* d, uint64_t size) {
    if (n.linked && d) d->used = d->used - n.data.size() + size;
    n.data.resize(size);
  }

  static bool Fits(const Node& n, const Drive* d, uint64_t newSize) {
    if (!n.linked || !d || newSize <= n.data.size()) return true;
    return d->used + (newSize - n.data.size()) <= d->capacity;
  }

  // Creates the missing folders of p (for set-up; no faults).
  Loc ForceFolders(const SimPath& p) {
    SimPath step = p;
    step.parts.clear();
    for (const std::string& name : p.parts) {
      step.parts.push_back(name);
      Loc l = Locate(step);
      if (l.error || (l.exists && l.dir)) continue;
      if (l.exists) break;  // a file stands in the way
      if (l.host) {
        DWORD e = 0;
        host::MakeDir(l.hostPath, &e);
      } else {
        auto n = std::make_shared<Node>();
        n->name = name;
        n->dir = true;
        l.parent->children[FoldName(name)] = n;
      }
    }
    return Locate(p);
  }

  void Release(OpenFile* f) {
    std::lock_guard<std::mutex> lk(mu);
    opens.erase(std::remove(opens.begin(), opens.end(), f), opens.end());
    host::Close(f->file);
    f->file = nullptr;
  }
};

struct SimFileSystem::FileObject final : SimObject {
  FileObject(std::shared_ptr<Impl> owner, OpenFile of) : fs(std::move(owner)), f(std::move(of)) {}
  ~FileObject() override { fs->Release(&f); }
  const char* Kind() const override { return "file"; }

  std::shared_ptr<Impl> fs;
  OpenFile f;  // guarded by fs->mu
};

struct SimFileSystem::FindObject final : SimObject {
  const char* Kind() const override { return "find"; }
  std::vector<FIND_DATA> entries;
  size_t next = 1;  // guarded by the file system's lock
};

SimFileSystem::SimFileSystem(SimKernel& kernel) : impl_(std::make_shared<Impl>(kernel)) {
  AddDrive('C');
  PlaceCurrentDirectory("C:\\Users\\user\\Desktop\\vrek");
}

SimFileSystem::~SimFileSystem() = default;

// ---- set-up ----------------------------------------------------------------------------------

void SimFileSystem::AddDrive(char letter, uint64_t capacityBytes) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  char d = static_cast<char>(letter >= 'a' && letter <= 'z' ? letter - 'a' + 'A' : letter);
  auto& slot = impl_->drives[d];
  if (!slot) {
    slot = std::make_unique<Drive>();
    slot->root = std::make_shared<Node>();
    slot->root->dir = true;
  }
  slot->capacity = capacityBytes;
}

void SimFileSystem::MountHostFolder(const std::string& windowsPath, const std::string& hostPath) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  SimPath p;
  if (ParseWinPath(windowsPath, impl_->cwd, &p) != 0) return;
  Loc l = impl_->ForceFolders(p);
  if (!l.node || !l.node->dir) return;
  l.node->host = hostPath;
  auto& mounts = impl_->mounts;
  mounts.erase(std::remove_if(mounts.begin(), mounts.end(),
                              [&](const Impl::MountRec& m) { return m.path.Key() == p.Key(); }),
               mounts.end());
  mounts.push_back({p, hostPath});
}

std::string SimFileSystem::HostPathOf(const std::string& windowsPath) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  SimPath p;
  if (ParseWinPath(windowsPath, impl_->cwd, &p) != 0) return {};
  const Impl::MountRec* best = nullptr;
  for (const Impl::MountRec& m : impl_->mounts)
    if (p.IsAtOrBelow(m.path) && (!best || m.path.parts.size() > best->path.parts.size())) best = &m;
  if (!best) return {};
  std::string hp = best->host;
  // In the host's own separator, so that a Windows host's dialog reads it.
  const char sep = hp.find('\\') != std::string::npos ? '\\' : '/';
  for (size_t i = best->path.parts.size(); i < p.parts.size(); ++i) {
    if (!EndsInSeparator(hp)) hp += sep;
    hp += p.parts[i];
  }
  return hp;
}

std::string SimFileSystem::WindowsPathOfHost(const std::string& hostPath) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  const std::string key = HostKey(hostPath);
  const Impl::MountRec* best = nullptr;
  size_t bestLength = 0;
  for (const Impl::MountRec& m : impl_->mounts) {
    const std::string mk = HostKey(m.host);
    const bool below =
        key == mk || (key.size() > mk.size() && key.compare(0, mk.size(), mk) == 0 && key[mk.size()] == '/');
    if (below && (!best || mk.size() >= bestLength)) {
      best = &m;
      bestLength = mk.size();
    }
  }
  if (!best) return {};
  // The rest keeps the host's spelling of its names.
  std::string rest = HostKey(hostPath).size() > bestLength ? hostPath.substr(bestLength) : std::string();
  std::string wp = best->path.Display();
  for (char c : rest) {
    const char w = c == '/' ? '\\' : c;
    if (w == '\\' && EndsInSeparator(wp)) continue;
    wp += w;
  }
  while (wp.size() > 3 && EndsInSeparator(wp)) wp.pop_back();
  return wp;
}

bool SimFileSystem::HostMounted(const std::string& path) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  SimPath p;
  if (ParseWinPath(path, impl_->cwd, &p, true) != 0) return false;  // a listing's pattern too
  const Loc l = impl_->Locate(p);
  return l.host || l.MountPoint();
}

void SimFileSystem::SetFault(const std::string& path, const FileFault& fault) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  SimPath p;
  if (ParseWinPath(path, impl_->cwd, &p) != 0) return;
  impl_->faults.Set(p, fault);
}

FileFault SimFileSystem::Fault(const std::string& path) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  SimPath p;
  if (ParseWinPath(path, impl_->cwd, &p) != 0) return {};
  const FileFault* f = impl_->faults.At(p);
  return f ? *f : FileFault{};
}

void SimFileSystem::ClearFaults() {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->faults.Clear();
}

bool SimFileSystem::Exists(const std::string& path) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  SimPath p;
  return ParseWinPath(path, impl_->cwd, &p) == 0 && impl_->Locate(p).exists;
}

std::string SimFileSystem::ReadAll(const std::string& path) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  SimPath p;
  if (ParseWinPath(path, impl_->cwd, &p) != 0) return {};
  Loc l = impl_->Locate(p);
  if (!l.exists || l.dir) return {};
  if (!l.host) return l.node->data;
  DWORD e = 0;
  std::FILE* f = host::Open(l.hostPath, false, &e);
  if (!f) return {};
  std::string r(l.entry.size, '\0');
  uint32_t n = 0;
  if (!r.empty()) host::ReadAt(f, 0, r.data(), static_cast<uint32_t>(r.size()), &n, &e);
  host::Close(f);
  r.resize(n);
  return r;
}

void SimFileSystem::WriteAll(const std::string& path, const std::string& bytes) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  SimPath p;
  if (ParseWinPath(path, impl_->cwd, &p) != 0 || p.IsRoot()) return;
  impl_->ForceFolders(p.Parent());
  Loc l = impl_->Locate(p);
  if (l.error || l.dir) return;
  if (l.host) {
    DWORD e = 0;
    std::FILE* f = host::Open(l.hostPath, true, &e);
    if (!f) return;
    host::WriteAt(f, 0, bytes.data(), static_cast<uint32_t>(bytes.size()), &e);
    host::Close(f);
    return;
  }
  if (!l.node) {
    l.node = std::make_shared<Node>();
    l.node->name = p.Name();
    l.node->attrs = FILE_ATTRIBUTE_ARCHIVE;
    l.parent->children[FoldName(p.Name())] = l.node;
  }
  Impl::Resize(*l.node, l.drive, bytes.size());
  std::memcpy(l.node->data.data(), bytes.data(), bytes.size());
}

void SimFileSystem::PlaceCurrentDirectory(const std::string& path) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  SimPath p;
  if (ParseWinPath(path, impl_->cwd, &p) != 0) return;
  Loc l = impl_->ForceFolders(p);
  if (l.exists && l.dir) {
    p.trailingSeparator = false;
    impl_->cwd = p;
  }
}

// ---- files ------------------------------------------------------------------------------------

HANDLE SimFileSystem::CreateFileW(const std::string& path, DWORD access, DWORD share, DWORD creation,
                                  DWORD flags) {
  std::shared_ptr<FileObject> obj;  // released, if at all, outside the lock
  DWORD lastError = ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    Impl& fs = *impl_;
    SimPath p;
    if (DWORD e = ParseWinPath(path, fs.cwd, &p)) return FailHandle(e);
    if (creation < CREATE_NEW || creation > TRUNCATE_EXISTING) return FailHandle(ERROR_INVALID_PARAMETER);
    const Rights r = RightsOf(access);
    if (creation == TRUNCATE_EXISTING && !r.write) return FailHandle(ERROR_INVALID_PARAMETER);
    if (FileFault* f = fs.faults.Nearest(p, [](const FileFault& x) { return x.openError && x.openFailures; })) {
      Impl::Consume(f->openFailures);
      return FailHandle(f->openError);
    }
    if (p.IsRoot()) return FailHandle(ERROR_ACCESS_DENIED);
    Loc l = fs.Locate(p);
    if (l.error) return FailHandle(l.error);
    const bool truncate = creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING;

    OpenFile of;
    of.path = p;
    of.rights = r;
    of.share = share;
    of.drive = l.drive;
    if (l.exists) {
      if (creation == CREATE_NEW) return FailHandle(ERROR_FILE_EXISTS);
      if (l.dir) return FailHandle(ERROR_ACCESS_DENIED);
      if (p.trailingSeparator) return FailHandle(ERROR_INVALID_NAME);
      const DWORD attrs = l.host ? AttributesOf(l.entry) : l.node->attrs;
      if ((attrs & FILE_ATTRIBUTE_READONLY) && (r.AnyWrite() || r.del || truncate))
        return FailHandle(ERROR_ACCESS_DENIED);
      // Replacing a hidden or system file needs the caller to name those attributes too.
      const DWORD special = attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
      if (truncate && (special & ~flags)) return FailHandle(ERROR_ACCESS_DENIED);
      if ((r.AnyWrite() || truncate) && fs.ReadOnlyFolder(p)) return FailHandle(ERROR_ACCESS_DENIED);
      if (fs.ShareConflict(l, r, share)) return FailHandle(ERROR_SHARING_VIOLATION);
      if (l.host) {
        DWORD e = 0;
        of.file = host::Open(l.hostPath, truncate, &e);
        if (!of.file) return FailHandle(e);
        of.hostPath = of.hostFile = l.hostPath;
      } else {
        if (truncate) Impl::Resize(*l.node, l.drive, 0);
        of.node = l.node;
      }
      if (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS) lastError = ERROR_ALREADY_EXISTS;
    } else {
      if (creation == OPEN_EXISTING || creation == TRUNCATE_EXISTING) return FailHandle(ERROR_FILE_NOT_FOUND);
      if (p.trailingSeparator) return FailHandle(ERROR_INVALID_NAME);
      if (fs.ReadOnlyFolder(p)) return FailHandle(ERROR_ACCESS_DENIED);
      const DWORD attrs = (flags & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) |
                          FILE_ATTRIBUTE_ARCHIVE;
      if (l.host) {
        DWORD e = 0;
        of.file = host::Open(l.hostPath, true, &e);
        if (!of.file) return FailHandle(e);
        if (attrs & FILE_ATTRIBUTE_READONLY) host::SetReadOnly(l.hostPath, true, &e);
        of.hostPath = of.hostFile = l.hostPath;
      } else {
        auto n = std::make_shared<Node>();
        n->name = p.Name();
        n->attrs = attrs;
        l.parent->children[FoldName(p.Name())] = n;
        of.node = n;
      }
    }
    obj = std::make_shared<FileObject>(impl_, std::move(of));
    fs.opens.push_back(&obj->f);
  }
  // The kernel's lock is never taken under ours (the kernel drops handles under its own lock).
  HANDLE h = impl_->kernel.AddHandle(obj);
  SimSetLastError(lastError);
  return h;
}

bool SimFileSystem::Owns(HANDLE h) { return impl_->kernel.LookupAs<FileObject>(h) != nullptr; }

BOOL SimFileSystem::ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read, const ULONGLONG* offset) {
  auto obj = impl_->kernel.LookupAs<FileObject>(h);
  if (read) *read = 0;
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  std::unique_lock<std::mutex> lk(impl_->mu);
  OpenFile& f = obj->f;
  if (!f.rights.read) return Fail(ERROR_ACCESS_DENIED);
  if (toRead && !buffer) return Fail(ERROR_NOACCESS);
  const uint64_t pos = offset ? *offset : f.pos;
  uint32_t n = 0;
  if (f.node) {
    const uint64_t size = f.node->data.size();
    n = pos >= size ? 0 : static_cast<uint32_t>(std::min<uint64_t>(toRead, size - pos));
    if (n) std::memcpy(buffer, f.node->data.data() + pos, n);
  } else {
    DWORD e = 0;
    if (!host::ReadAt(f.file, pos, buffer, toRead, &n, &e)) return Fail(e);
  }
  f.pos = pos + n;
  if (read) *read = n;
  impl_->TakeTime(lk, f.path, n);
  return TRUE_;
}

BOOL SimFileSystem::WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written,
                              const ULONGLONG* offset) {
  auto obj = impl_->kernel.LookupAs<FileObject>(h);
  if (written) *written = 0;
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  std::unique_lock<std::mutex> lk(impl_->mu);
  Impl& fs = *impl_;
  OpenFile& f = obj->f;
  if (!f.rights.AnyWrite()) return Fail(ERROR_ACCESS_DENIED);
  if (toWrite && !buffer) return Fail(ERROR_NOACCESS);
  if (fs.ReadOnlyFolder(f.path)) return Fail(ERROR_ACCESS_DENIED);
  if (FileFault* x =
          fs.faults.Nearest(f.path, [](const FileFault& y) { return y.writeError && y.writeFailures; })) {
    Impl::Consume(x->writeFailures);
    return Fail(x->writeError);
  }
  if (toWrite == 0) return TRUE_;
  // A handle with append rights and no write rights writes at the end, wherever it points.
  const bool appendOnly = f.rights.append && !f.rights.write;
  uint64_t pos = offset ? *offset : f.pos;
  if (f.node) {
    if (appendOnly) pos = f.node->data.size();
    const uint64_t end = pos + toWrite;
    if (!Impl::Fits(*f.node, f.drive, end)) return Fail(ERROR_DISK_FULL);
    if (end > f.node->data.size()) Impl::Resize(*f.node, f.drive, end);
    std::memcpy(f.node->data.data() + pos, buffer, toWrite);
  } else {
    DWORD e = 0;
    if (appendOnly && !host::Size(f.file, &pos, &e)) return Fail(e);
    if (!host::WriteAt(f.file, pos, buffer, toWrite, &e)) return Fail(e);
  }
  f.pos = pos + toWrite;
  if (written) *written = toWrite;
  impl_->TakeTime(lk, f.path, toWrite);
  return TRUE_;
}

BOOL SimFileSystem::SetFilePointerEx(HANDLE h, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod) {
  auto obj = impl_->kernel.LookupAs<FileObject>(h);
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lk(impl_->mu);
  OpenFile& f = obj->f;
  int64_t base = 0;
  switch (moveMethod) {
    case FILE_BEGIN: break;
    case FILE_CURRENT: base = static_cast<int64_t>(f.pos); break;
    case FILE_END: {
      uint64_t size = 0;
      DWORD e = 0;
      if (f.node)
        size = f.node->data.size();
      else if (!host::Size(f.file, &size, &e))
        return Fail(e);
      base = static_cast<int64_t>(size);
      break;
    }
    default: return Fail(ERROR_INVALID_PARAMETER);
  }
  const int64_t to = base + distance;
  if (to < 0) return Fail(ERROR_NEGATIVE_SEEK);
  f.pos = static_cast<uint64_t>(to);
  if (newPosition) *newPosition = to;
  return TRUE_;
}

BOOL SimFileSystem::GetFileSizeEx(HANDLE h, LONGLONG* size) {
  auto obj = impl_->kernel.LookupAs<FileObject>(h);
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lk(impl_->mu);
  uint64_t s = 0;
  DWORD e = 0;
  if (obj->f.node)
    s = obj->f.node->data.size();
  else if (!host::Size(obj->f.file, &s, &e))
    return Fail(e);
  if (size) *size = static_cast<LONGLONG>(s);
  return TRUE_;
}

BOOL SimFileSystem::SetEndOfFile(HANDLE h) {
  auto obj = impl_->kernel.LookupAs<FileObject>(h);
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lk(impl_->mu);
  OpenFile& f = obj->f;
  if (!f.rights.write || impl_->ReadOnlyFolder(f.path)) return Fail(ERROR_ACCESS_DENIED);
  if (f.node) {
    if (!Impl::Fits(*f.node, f.drive, f.pos)) return Fail(ERROR_DISK_FULL);
    Impl::Resize(*f.node, f.drive, f.pos);
    return TRUE_;
  }
  DWORD e = 0;
  return host::Truncate(f.hostFile, f.file, f.pos, &e) ? TRUE_ : Fail(e);
}

BOOL SimFileSystem::FlushFileBuffers(HANDLE h) {
  auto obj = impl_->kernel.LookupAs<FileObject>(h);
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lk(impl_->mu);
  // Nothing is cached, so there is nothing to flush; Windows still asks for write rights.
  return obj->f.rights.AnyWrite() ? TRUE_ : Fail(ERROR_ACCESS_DENIED);
}

BOOL SimFileSystem::DeleteFileW(const std::string& path) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  Impl& fs = *impl_;
  SimPath p;
  if (DWORD e = ParseWinPath(path, fs.cwd, &p)) return Fail(e);
  if (p.IsRoot()) return Fail(ERROR_ACCESS_DENIED);
  Loc l = fs.Locate(p);
  if (l.error) return Fail(l.error);
  if (!l.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (l.dir) return Fail(ERROR_ACCESS_DENIED);
  const DWORD attrs = l.host ? AttributesOf(l.entry) : l.node->attrs;
  if ((attrs & FILE_ATTRIBUTE_READONLY) || fs.ReadOnlyFolder(p)) return Fail(ERROR_ACCESS_DENIED);
  Rights del;
  del.del = true;
  if (fs.ShareConflict(l, del, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
    return Fail(ERROR_SHARING_VIOLATION);
  if (l.host) {
    DWORD e = 0;
    if (!host::Unlink(l.hostPath, &e)) return Fail(e);
    // Handles still open keep the old file; a new file of that name is another file.
    for (OpenFile* o : fs.opens)
      if (o->hostPath == l.hostPath) o->hostPath.clear();
    return TRUE_;
  }
  // The name goes at once (as on current Windows); open handles keep the data until closed.
  l.drive->used -= l.node->data.size();
  l.node->linked = false;
  l.parent->children.erase(FoldName(p.Name()));
  return TRUE_;
}

// ---- folders ----------------------------------------------------------------------------------

BOOL SimFileSystem::CreateDirectoryW(const std::string& path) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  Impl& fs = *impl_;
  SimPath p;
  if (DWORD e = ParseWinPath(path, fs.cwd, &p)) return Fail(e);
  if (FileFault* f = fs.faults.Nearest(p, [](const FileFault& x) { return x.createDirectoryError != 0; }))
    return Fail(f->createDirectoryError);
  Loc l = fs.Locate(p);
  if (l.error) return Fail(l.error);
  if (l.exists) return Fail(ERROR_ALREADY_EXISTS);
  if (fs.ReadOnlyFolder(p)) return Fail(ERROR_ACCESS_DENIED);
  if (l.host) {
    DWORD e = 0;
    return host::MakeDir(l.hostPath, &e) ? TRUE_ : Fail(e);
  }
  auto n = std::make_shared<Node>();
  n->name = p.Name();
  n->dir = true;
  l.parent->children[FoldName(p.Name())] = n;
  return TRUE_;
}

BOOL SimFileSystem::RemoveDirectoryW(const std::string& path) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  Impl& fs = *impl_;
  SimPath p;
  if (DWORD e = ParseWinPath(path, fs.cwd, &p)) return Fail(e);
  if (p.IsRoot()) return Fail(ERROR_ACCESS_DENIED);
  Loc l = fs.Locate(p);
  if (l.error) return Fail(l.error);
  if (!l.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (!l.dir) return Fail(ERROR_DIRECTORY);
  if (l.MountPoint() || fs.ReadOnlyFolder(p)) return Fail(ERROR_ACCESS_DENIED);
  // The process holds its current directory open without delete sharing.
  if (fs.cwd.Key() == p.Key()) return Fail(ERROR_SHARING_VIOLATION);
  if (l.host) {
    DWORD e = 0;
    return host::RemoveDir(l.hostPath, &e) ? TRUE_ : Fail(e);
  }
  if (!l.node->children.empty()) return Fail(ERROR_DIR_NOT_EMPTY);
  l.parent->children.erase(FoldName(p.Name()));
  return TRUE_;
}

DWORD SimFileSystem::GetFileAttributesW(const std::string& path) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  SimPath p;
  if (DWORD e = ParseWinPath(path, impl_->cwd, &p)) {
    SimSetLastError(e);
    return INVALID_FILE_ATTRIBUTES;
  }
  Loc l = impl_->Locate(p);
  if (l.error || !l.exists) {
    SimSetLastError(l.error ? l.error : ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return l.host ? AttributesOf(l.entry) : AttributesOf(*l.node);
}

BOOL SimFileSystem::SetFileAttributesW(const std::string& path, DWORD attributes) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  SimPath p;
  if (DWORD e = ParseWinPath(path, impl_->cwd, &p)) return Fail(e);
  Loc l = impl_->Locate(p);
  if (l.error) return Fail(l.error);
  if (!l.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (impl_->ReadOnlyFolder(p)) return Fail(ERROR_ACCESS_DENIED);
  if (l.host) {
    DWORD e = 0;
    if (l.dir) return TRUE_;
    return host::SetReadOnly(l.hostPath, attributes & FILE_ATTRIBUTE_READONLY, &e) ? TRUE_ : Fail(e);
  }
  l.node->attrs = attributes & kStoredAttributes;
  return TRUE_;
}

HANDLE SimFileSystem::FindFirstFileW(const std::string& pattern, FIND_DATA* data) {
  auto obj = std::make_shared<FindObject>();
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    Impl& fs = *impl_;
    SimPath p;
    if (DWORD e = ParseWinPath(pattern, fs.cwd, &p, true)) return FailHandle(e);
    if (p.IsRoot() || p.trailingSeparator) return FailHandle(ERROR_FILE_NOT_FOUND);
    const SimPath folder = p.Parent();
    const std::string& name = p.Name();
    Loc d = fs.Locate(folder);
    if (d.error || !d.exists || !d.dir) return FailHandle(ERROR_PATH_NOT_FOUND);
    auto add = [&](const std::string& n, DWORD attrs, uint64_t size) {
      if (NameMatches(name, n)) obj->entries.push_back(FIND_DATA{attrs, size, n});
    };
    // A folder other than a drive's root lists itself and its parent first.
    if (!folder.IsRoot()) {
      add(".", FILE_ATTRIBUTE_DIRECTORY, 0);
      add("..", FILE_ATTRIBUTE_DIRECTORY, 0);
    }
    const std::string hostFolder = d.HostFolder();
    if (!hostFolder.empty()) {
      for (const host::Entry& e : host::List(hostFolder)) add(e.name, AttributesOf(e), e.size);
    } else {
      for (const auto& [key, n] : d.node->children) add(n->name, AttributesOf(*n), n->dir ? 0 : n->data.size());
    }
    if (obj->entries.empty()) return FailHandle(ERROR_FILE_NOT_FOUND);
    if (data) *data = obj->entries.front();
  }
  return impl_->kernel.AddHandle(obj);
}

BOOL SimFileSystem::FindNextFileW(HANDLE find, FIND_DATA* data) {
  auto obj = impl_->kernel.LookupAs<FindObject>(find);
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lk(impl_->mu);
  if (obj->next >= obj->entries.size()) return Fail(ERROR_NO_MORE_FILES);
  if (data) *data = obj->entries[obj->next];
  obj->next++;
  return TRUE_;
}

BOOL SimFileSystem::FindClose(HANDLE find) {
  if (!impl_->kernel.LookupAs<FindObject>(find)) return Fail(ERROR_INVALID_HANDLE);
  return impl_->kernel.CloseHandle(find) ? TRUE_ : Fail(ERROR_INVALID_HANDLE);
}

DWORD SimFileSystem::GetCurrentDirectoryW(std::string* dir) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  std::string d = impl_->cwd.Display();
  if (dir) *dir = d;
  return static_cast<DWORD>(d.size());
}

BOOL SimFileSystem::SetCurrentDirectoryW(const std::string& dir) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  SimPath p;
  if (DWORD e = ParseWinPath(dir, impl_->cwd, &p)) return Fail(e);
  Loc l = impl_->Locate(p);
  if (l.error) return Fail(l.error);
  if (!l.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (!l.dir) return Fail(ERROR_DIRECTORY);
  p.trailingSeparator = false;
  impl_->cwd = p;
  return TRUE_;
}

BOOL SimFileSystem::GetDiskFreeSpaceExW(const std::string& path, ULONGLONG* freeToCaller, ULONGLONG* total,
                                        ULONGLONG* totalFree) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  SimPath p = impl_->cwd;
  if (!path.empty())
    if (DWORD e = ParseWinPath(path, impl_->cwd, &p)) return Fail(e);
  Loc l = impl_->Locate(p);
  if (l.error || !l.exists) return Fail(ERROR_PATH_NOT_FOUND);
  if (!l.dir) return Fail(ERROR_DIRECTORY);
  const uint64_t cap = l.drive->capacity;
  const uint64_t free = cap - std::min(cap, l.drive->used);
  if (freeToCaller) *freeToCaller = free;
  if (total) *total = cap;
  if (totalFree) *totalFree = free;
  return TRUE_;
}

}  // namespace plat::sim

#include "platform/sim/SimHostFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/sim/SimPath.h"

namespace plat::sim::host {

DWORD ErrorFromErrno(int e) {
  switch (e) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
      return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
      return ERROR_INVALID_NAME;
    default:
      return ERROR_GEN_FAILURE;
  }
}

bool Stat(const std::string& path, Entry* e) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (e) {
    e->dir = S_ISDIR(st.st_mode);
    e->size = e->dir ? 0 : static_cast<uint64_t>(st.st_size);
    // Read-only is the missing owner write bit (the Windows-side check, so root obeys it too).
    e->readOnly = (st.st_mode & S_IWUSR) == 0;
  }
  return true;
}

std::string MatchName(const std::string& dir, const std::string& name) {
  if (Stat(dir + "/" + name, nullptr)) return name;
  const std::string want = FoldName(name);
  for (const Entry& e : List(dir))
    if (FoldName(e.name) == want) return e.name;
  return name;
}

std::vector<Entry> List(const std::string& dir) {
  std::vector<Entry> r;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return r;
  while (dirent* de = ::readdir(d)) {
    std::string n = de->d_name;
    if (n == "." || n == "..") continue;
    Entry e;
    e.name = n;
    if (Stat(dir + "/" + n, &e)) r.push_back(e);
  }
  ::closedir(d);
  // Listed by name without case, as NTFS lists a folder.
  std::sort(r.begin(), r.end(), [](const Entry& a, const Entry& b) { return FoldName(a.name) < FoldName(b.name); });
  return r;
}

int Open(const std::string& path, bool create, bool truncate, DWORD* err) {
  int flags = O_RDWR | O_CLOEXEC;
  if (create) flags |= O_CREAT;
  if (truncate) flags |= O_TRUNC;
  int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0 && (errno == EACCES || errno == EROFS) && !create && !truncate) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) *err = ErrorFromErrno(errno);
  return fd;
}

void Close(int fd) {
  if (fd >= 0) ::close(fd);
}

bool ReadAt(int fd, uint64_t offset, void* buf, uint32_t n, uint32_t* done, DWORD* err) {
  uint32_t total = 0;
  while (total < n) {
    ssize_t r = ::pread(fd, static_cast<char*>(buf) + total, n - total, static_cast<off_t>(offset + total));
    if (r < 0) {
      if (errno == EINTR) continue;
      *err = ErrorFromErrno(errno);
      return false;
    }
    if (r == 0) break;
    total += static_cast<uint32_t>(r);
  }
  *done = total;
  return true;
}

bool WriteAt(int fd, uint64_t offset, const void* buf, uint32_t n, DWORD* err) {
  uint32_t total = 0;
  while (total < n) {
    ssize_t r = ::pwrite(fd, static_cast<const char*>(buf) + total, n - total, static_cast<off_t>(offset + total));
    if (r < 0) {
      if (errno == EINTR) continue;
      *err = ErrorFromErrno(errno);
      return false;
    }
    total += static_cast<uint32_t>(r);
  }
  return true;
}

bool Size(int fd, uint64_t* size, DWORD* err) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    *err = ErrorFromErrno(errno);
    return false;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool Truncate(int fd, uint64_t size, DWORD* err) {
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    *err = ErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool Unlink(const std::string& path, DWORD* err) {
  if (::unlink(path.c_str()) != 0) {
    *err = ErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool MakeDir(const std::string& path, DWORD* err) {
  if (::mkdir(path.c_str(), 0777) != 0) {
    *err = ErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool RemoveDir(const std::string& path, DWORD* err) {
  if (::rmdir(path.c_str()) != 0) {
    *err = errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool SetReadOnly(const std::string& path, bool readOnly, DWORD* err) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    *err = ErrorFromErrno(errno);
    return false;
  }
  mode_t m = st.st_mode & 07777;
  m = readOnly ? (m & ~mode_t(0222)) : (m | S_IWUSR);
  if (::chmod(path.c_str(), m) != 0) {
    *err = ErrorFromErrno(errno);
    return false;
  }
  return true;
}

}  // namespace plat::sim::host

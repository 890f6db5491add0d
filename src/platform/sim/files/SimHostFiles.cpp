#include "platform/sim/files/SimHostFiles.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/sim/files/SimPath.h"

namespace plat::sim::host {

namespace stdfs = std::filesystem;

namespace {

stdfs::path P(const std::string& s) { return stdfs::path(std::u8string(s.begin(), s.end())); }

std::string U8(const stdfs::path& p) {
  std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

DWORD ErrorFrom(const std::error_code& ec) {
  using std::errc;
  if (ec == errc::no_such_file_or_directory) return ERROR_FILE_NOT_FOUND;
  if (ec == errc::not_a_directory) return ERROR_PATH_NOT_FOUND;
  if (ec == errc::permission_denied || ec == errc::operation_not_permitted || ec == errc::is_a_directory ||
      ec == errc::read_only_file_system)
    return ERROR_ACCESS_DENIED;
  if (ec == errc::file_exists) return ERROR_ALREADY_EXISTS;
  if (ec == errc::directory_not_empty) return ERROR_DIR_NOT_EMPTY;
  if (ec == errc::no_space_on_device) return ERROR_DISK_FULL;
  if (ec == errc::too_many_files_open || ec == errc::too_many_files_open_in_system)
    return ERROR_TOO_MANY_OPEN_FILES;
  if (ec == errc::filename_too_long) return ERROR_INVALID_NAME;
  return ERROR_GEN_FAILURE;
}

DWORD ErrorFromErrno() { return ErrorFrom(std::error_code(errno, std::generic_category())); }

bool Seek(std::FILE* f, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(f, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool StatPath(const stdfs::path& p, Entry* e) {
  std::error_code ec;
  const stdfs::file_status st = stdfs::status(p, ec);
  if (ec || !stdfs::exists(st)) return false;
  if (e) {
    e->dir = stdfs::is_directory(st);
    e->size = e->dir ? 0 : static_cast<uint64_t>(stdfs::file_size(p, ec));
    // Read-only is the missing owner write bit (checked on the Windows side, so root obeys it too).
    e->readOnly = (st.permissions() & stdfs::perms::owner_write) == stdfs::perms::none;
    e->link = stdfs::is_symlink(stdfs::symlink_status(p, ec));
  }
  return true;
}

}  // namespace

bool Stat(const std::string& path, Entry* e) { return StatPath(P(path), e); }

std::string MatchName(const std::string& dir, const std::string& name) {
  // The name as the folder holds it, so that one file has one host path even on a host that
  // ignores case itself.
  const std::string want = FoldName(name);
  const std::vector<Entry> entries = List(dir);
  for (const Entry& e : entries)
    if (e.name == name) return e.name;
  for (const Entry& e : entries)
    if (FoldName(e.name) == want) return e.name;
  return name;
}

std::vector<Entry> List(const std::string& dir) {
  std::vector<Entry> r;
  std::error_code ec;
  for (stdfs::directory_iterator it(P(dir), ec), end; !ec && it != end; it.increment(ec)) {
    Entry e;
    e.name = U8(it->path().filename());
    if (StatPath(it->path(), &e)) r.push_back(e);
  }
  // Listed by name without case, as NTFS lists a folder.
  std::sort(r.begin(), r.end(),
            [](const Entry& a, const Entry& b) { return FoldName(a.name) < FoldName(b.name); });
  return r;
}

std::FILE* Open(const std::string& path, bool createOrTruncate, DWORD* err) {
  const stdfs::path p = P(path);
  auto open = [&](const char* mode) {
#ifdef _WIN32
    std::wstring wmode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(p.c_str(), wmode.c_str());
#else
    return std::fopen(p.c_str(), mode);
#endif
  };
  std::FILE* f = open(createOrTruncate ? "w+b" : "r+b");
  // A host file we may not write is still opened for reading; the caller decides on writes.
  if (!f && !createOrTruncate && errno == EACCES) f = open("rb");
  if (!f) *err = ErrorFromErrno();
  return f;
}

void Close(std::FILE* f) {
  if (f) std::fclose(f);
}

bool ReadAt(std::FILE* f, uint64_t offset, void* buf, uint32_t n, uint32_t* done, DWORD* err) {
  *done = 0;
  if (!Seek(f, offset)) {
    *err = ErrorFromErrno();
    return false;
  }
  const size_t got = std::fread(buf, 1, n, f);
  if (got < n && std::ferror(f)) {
    std::clearerr(f);
    *err = ERROR_READ_FAULT;
    return false;
  }
  std::clearerr(f);
  *done = static_cast<uint32_t>(got);
  return true;
}

bool WriteAt(std::FILE* f, uint64_t offset, const void* buf, uint32_t n, DWORD* err) {
  if (!Seek(f, offset)) {
    *err = ErrorFromErrno();
    return false;
  }
  // Flushed at once, so the host sees every write as it happens.
  if (std::fwrite(buf, 1, n, f) != n || std::fflush(f) != 0) {
    *err = errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
    std::clearerr(f);
    return false;
  }
  return true;
}

bool Size(std::FILE* f, uint64_t* size, DWORD* err) {
#ifdef _WIN32
  const bool ok = _fseeki64(f, 0, SEEK_END) == 0;
  const long long at = ok ? _ftelli64(f) : -1;
#else
  const bool ok = fseeko(f, 0, SEEK_END) == 0;
  const long long at = ok ? static_cast<long long>(ftello(f)) : -1;
#endif
  if (at < 0) {
    *err = ErrorFromErrno();
    return false;
  }
  *size = static_cast<uint64_t>(at);
  return true;
}

bool Truncate(const std::string& path, std::FILE* f, uint64_t size, DWORD* err) {
  std::fflush(f);
  std::error_code ec;
  stdfs::resize_file(P(path), size, ec);
  if (ec) {
    *err = ErrorFrom(ec);
    return false;
  }
  return true;
}

bool Unlink(const std::string& path, DWORD* err) {
  std::error_code ec;
  if (!stdfs::remove(P(path), ec) || ec) {
    *err = ec ? ErrorFrom(ec) : ERROR_FILE_NOT_FOUND;
    return false;
  }
  return true;
}

bool MakeDir(const std::string& path, DWORD* err) {
  std::error_code ec;
  if (!stdfs::create_directory(P(path), ec) || ec) {
    *err = ec ? ErrorFrom(ec) : ERROR_ALREADY_EXISTS;
    return false;
  }
  return true;
}

bool RemoveDir(const std::string& path, DWORD* err) {
  std::error_code ec;
  const stdfs::path p = P(path);
  if (!stdfs::is_empty(p, ec)) {
    *err = ec ? ErrorFrom(ec) : ERROR_DIR_NOT_EMPTY;
    return false;
  }
  if (!stdfs::remove(p, ec) || ec) {
    *err = ec ? ErrorFrom(ec) : ERROR_FILE_NOT_FOUND;
    return false;
  }
  return true;
}

bool SetReadOnly(const std::string& path, bool readOnly, DWORD* err) {
  std::error_code ec;
  const stdfs::perms write = stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write;
  stdfs::permissions(P(path), readOnly ? write : stdfs::perms::owner_write,
                     readOnly ? stdfs::perm_options::remove : stdfs::perm_options::add, ec);
  if (ec) {
    *err = ErrorFrom(ec);
    return false;
  }
  return true;
}

}  // namespace plat::sim::host

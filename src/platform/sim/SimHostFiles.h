// Real host files below a folder that the simulated file system has mounted: thin POSIX calls
// with their failures turned into Windows error codes. The caller holds the file system's lock
// and does all Windows-side checks (share modes, attributes, faults) itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/PlatformTypes.h"

namespace plat::sim::host {

struct Entry {
  std::string name;
  bool dir = false;
  uint64_t size = 0;
  bool readOnly = false;
};

DWORD ErrorFromErrno(int e);

// Looks `path` up; false when nothing is there.
bool Stat(const std::string& path, Entry* e);
// The name in folder `dir` that equals `name` without case (the exact one first), or `name`.
std::string MatchName(const std::string& dir, const std::string& name);
std::vector<Entry> List(const std::string& dir);

// Opens an existing file or creates one (`create`); `truncate` empties it. Returns the
// descriptor, or -1 with `*err` set.
int Open(const std::string& path, bool create, bool truncate, DWORD* err);
void Close(int fd);
bool ReadAt(int fd, uint64_t offset, void* buf, uint32_t n, uint32_t* done, DWORD* err);
bool WriteAt(int fd, uint64_t offset, const void* buf, uint32_t n, DWORD* err);
bool Size(int fd, uint64_t* size, DWORD* err);
bool Truncate(int fd, uint64_t size, DWORD* err);

bool Unlink(const std::string& path, DWORD* err);
bool MakeDir(const std::string& path, DWORD* err);
bool RemoveDir(const std::string& path, DWORD* err);
bool SetReadOnly(const std::string& path, bool readOnly, DWORD* err);

}  // namespace plat::sim::host

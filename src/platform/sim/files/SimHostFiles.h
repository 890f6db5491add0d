// Real host files below a folder that the simulated file system has mounted: thin calls on the
// host (std::filesystem and C streams, so both builds have them) with their failures turned into
// Windows error codes. Paths are UTF-8. The caller holds the file system's lock, which also makes
// each seek-then-transfer one step, and does all Windows-side checks (share modes, attributes,
// faults) itself.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/PlatformTypes.h"

namespace plat::sim::host {

struct Entry {
  std::string name;
  bool dir = false;
  uint64_t size = 0;
  bool readOnly = false;
  bool link = false;  // a symbolic link: to Windows a reparse point, never followed by a listing
};

// Looks `path` up; false when nothing is there.
bool Stat(const std::string& path, Entry* e);
// The name in folder `dir` that equals `name` without case (the exact one first), or `name` when none does.
std::string MatchName(const std::string& dir, const std::string& name);
std::vector<Entry> List(const std::string& dir);

// Opens an existing file, or creates (or empties) one when `createOrTruncate`. Null with `*err`.
std::FILE* Open(const std::string& path, bool createOrTruncate, DWORD* err);
void Close(std::FILE* f);
bool ReadAt(std::FILE* f, uint64_t offset, void* buf, uint32_t n, uint32_t* done, DWORD* err);
bool WriteAt(std::FILE* f, uint64_t offset, const void* buf, uint32_t n, DWORD* err);
bool Size(std::FILE* f, uint64_t* size, DWORD* err);
bool Truncate(const std::string& path, std::FILE* f, uint64_t size, DWORD* err);

bool Unlink(const std::string& path, DWORD* err);
bool MakeDir(const std::string& path, DWORD* err);
bool RemoveDir(const std::string& path, DWORD* err);
bool SetReadOnly(const std::string& path, bool readOnly, DWORD* err);

}  // namespace plat::sim::host

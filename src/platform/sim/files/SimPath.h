// Windows paths as the simulated file system reads them: "C:\dir\file", "dir/file",
// "\dir" (root of the current drive), "D:file" (drive-relative), ".", "..". Names compare
// without case (ASCII folding) and keep the case they were written with.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PlatformTypes.h"

namespace plat::sim {

struct SimPath {
  char drive = 'C';                // upper case
  std::vector<std::string> parts;  // the names below the root, "." and ".." already resolved
  bool trailingSeparator = false;  // written with a separator after the last name

  bool IsRoot() const { return parts.empty(); }
  std::string Display() const;  // "C:\dir\file" ("C:\" for the root)
  std::string Key() const;      // Display() folded: equal keys name the same item
  SimPath Parent() const;       // the root's parent is the root
  const std::string& Name() const { return parts.back(); }
  // True when this path is `folder` or lies somewhere below it.
  bool IsAtOrBelow(const SimPath& folder) const;
};

std::string FoldName(std::string_view s);

// The faults a test sets on paths (a file store's own record type), matched without case: a
// folder's applies to everything below it, and the nearest one wins. Not locked: the store
// guards it with its own lock.
template <class Fault>
class SimPathFaults {
 public:
  void Set(const SimPath& path, const Fault& fault) { faults_[path.Key()] = {path, fault}; }
  void Clear() { faults_.clear(); }
  // The fault set for exactly this path, or null.
  Fault* At(const SimPath& path) {
    auto it = faults_.find(path.Key());
    return it == faults_.end() ? nullptr : &it->second.fault;
  }
  // The nearest fault at or above path that `active` picks, or null.
  template <class Pred>
  Fault* Nearest(const SimPath& path, Pred active) {
    Rec* best = nullptr;
    for (auto& [key, rec] : faults_) {
      if (!active(rec.fault) || !path.IsAtOrBelow(rec.path)) continue;
      if (!best || rec.path.parts.size() >= best->path.parts.size()) best = &rec;
    }
    return best ? &best->fault : nullptr;
  }

 private:
  struct Rec {
    SimPath path;
    Fault fault;
  };
  std::map<std::string, Rec> faults_;  // by the path's key
};

// "\\.\..." names a device, not a file.
bool IsDevicePath(std::string_view path);

// Resolves `path` against the current directory `cwd`. With `wildcardsInName` the last name may
// hold "*" and "?" (a FindFirstFileW pattern). Returns 0 or the Windows error of a bad path.
DWORD ParseWinPath(std::string_view path, const SimPath& cwd, SimPath* out, bool wildcardsInName = false);

// Find-pattern matching without case: "*" any run of characters, "?" one character (none at a
// dot or at the end of the name, as Windows matches it), "*.*" everything.
bool NameMatches(std::string_view pattern, std::string_view name);

}  // namespace plat::sim

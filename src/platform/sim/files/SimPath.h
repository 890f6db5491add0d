// Windows paths as the simulated file system reads them: "C:\dir\file", "dir/file",
// "\dir" (root of the current drive), "D:file" (drive-relative), ".", "..". Names compare
// without case (ASCII folding) and keep the case they were written with.
#pragma once

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

// "\\.\..." names a device, not a file.
bool IsDevicePath(std::string_view path);

// Resolves `path` against the current directory `cwd`. With `wildcardsInName` the last name may
// hold "*" and "?" (a FindFirstFileW pattern). Returns 0 or the Windows error of a bad path.
DWORD ParseWinPath(std::string_view path, const SimPath& cwd, SimPath* out, bool wildcardsInName = false);

// Find-pattern matching without case: "*" any run of characters, "?" one character (none at a
// dot or at the end of the name, as Windows matches it), "*.*" everything.
bool NameMatches(std::string_view pattern, std::string_view name);

}  // namespace plat::sim

#include "platform/sim/files/SimPath.h"

namespace plat::sim {

namespace {

char FoldChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSep(char c) { return c == '\\' || c == '/'; }

bool HasWildcard(std::string_view s) { return s.find_first_of("*?") != std::string_view::npos; }

// Characters Windows refuses in a name (wildcards are handled apart).
bool IsBadNameChar(unsigned char c) {
  return c < 32 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '*' || c == '?';
}

}  // namespace

std::string FoldName(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = FoldChar(c);
  return r;
}

std::string SimPath::Display() const {
  std::string r{drive, ':', '\\'};
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) r += '\\';
    r += parts[i];
  }
  return r;
}

std::string SimPath::Key() const { return FoldName(Display()); }

SimPath SimPath::Parent() const {
  SimPath p = *this;
  if (!p.parts.empty()) p.parts.pop_back();
  p.trailingSeparator = false;
  return p;
}

bool SimPath::IsAtOrBelow(const SimPath& folder) const {
  if (drive != folder.drive || parts.size() < folder.parts.size()) return false;
  for (size_t i = 0; i < folder.parts.size(); ++i)
    if (FoldName(parts[i]) != FoldName(folder.parts[i])) return false;
  return true;
}

bool IsDevicePath(std::string_view path) {
  return path.size() >= 4 && IsSep(path[0]) && IsSep(path[1]) && path[2] == '.' && IsSep(path[3]);
}

DWORD ParseWinPath(std::string_view path, const SimPath& cwd, SimPath* out, bool wildcardsInName) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  if (IsDevicePath(path)) return ERROR_FILE_NOT_FOUND;
  // "\\?\C:\..." is the same path without Windows' length limit.
  if (path.size() >= 4 && IsSep(path[0]) && IsSep(path[1]) && path[2] == '?' && IsSep(path[3])) {
    path.remove_prefix(4);
    if (path.size() < 3 || path[1] != ':' || !IsSep(path[2])) return ERROR_FILE_NOT_FOUND;
  }
  if (path.size() >= 2 && IsSep(path[0]) && IsSep(path[1])) return ERROR_BAD_NETPATH;

  SimPath p;
  std::string_view rest = path;
  if (path.size() >= 2 && path[1] == ':') {
    char d = FoldChar(path[0]);
    if (d < 'a' || d > 'z') return ERROR_INVALID_NAME;
    p.drive = static_cast<char>(d - 'a' + 'A');
    rest.remove_prefix(2);
    // "D:name" is relative to the current directory when that is on D:, else to D:'s root.
    if (!(rest.size() && IsSep(rest[0])) && p.drive == cwd.drive) p.parts = cwd.parts;
  } else if (IsSep(path[0])) {
    p.drive = cwd.drive;
  } else {
    p = cwd;
    p.trailingSeparator = false;
  }

  std::vector<std::string_view> names;
  size_t i = 0;
  while (i <= rest.size()) {
    size_t j = i;
    while (j < rest.size() && !IsSep(rest[j])) ++j;
    if (j > i) names.push_back(rest.substr(i, j - i));
    i = j + 1;
  }
  p.trailingSeparator = !rest.empty() && IsSep(rest.back()) && !names.empty();

  for (size_t k = 0; k < names.size(); ++k) {
    std::string_view n = names[k];
    const bool last = k + 1 == names.size();
    const bool pattern = wildcardsInName && last && !p.trailingSeparator && HasWildcard(n);
    if (n == ".") continue;
    if (n == "..") {
      if (!p.parts.empty()) p.parts.pop_back();
      continue;
    }
    for (unsigned char c : n) {
      if (pattern && (c == '*' || c == '?')) continue;
      if (IsBadNameChar(c)) return ERROR_INVALID_NAME;
    }
    // Windows drops trailing dots and blanks of a name ("a.txt." is "a.txt"), not of a pattern.
    if (!pattern)
      while (!n.empty() && (n.back() == '.' || n.back() == ' ')) n.remove_suffix(1);
    if (n.empty()) continue;
    p.parts.emplace_back(n);
  }
  *out = std::move(p);
  return ERROR_SUCCESS;
}

namespace {
bool MatchFrom(std::string_view p, std::string_view n) {
  while (!p.empty()) {
    char pc = p.front();
    if (pc == '*') {
      while (!p.empty() && p.front() == '*') p.remove_prefix(1);
      if (p.empty()) return true;
      for (size_t k = 0; k <= n.size(); ++k)
        if (MatchFrom(p, n.substr(k))) return true;
      return false;
    }
    if (pc == '?') {
      p.remove_prefix(1);
      // At a dot or the end of the name, "?" matches nothing.
      if (!n.empty() && n.front() != '.') n.remove_prefix(1);
      continue;
    }
    if (n.empty() || FoldChar(pc) != FoldChar(n.front())) return false;
    p.remove_prefix(1);
    n.remove_prefix(1);
  }
  return n.empty();
}
}  // namespace

bool NameMatches(std::string_view pattern, std::string_view name) {
  if (pattern == "*" || pattern == "*.*") return true;
  return MatchFrom(pattern, name);
}

}  // namespace plat::sim

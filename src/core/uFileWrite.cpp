#include "core/uFileWrite.h"

#include <algorithm>

#include "core/uFormat.h"
#include "platform/Platform.h"

using namespace plat;

namespace {
bool IsSep(char c) { return c == '\\' || c == '/'; }
}  // namespace

void ForceDirectories(const std::string& Dir) {
  // Below the root: past "C:", or past "\\server\share".
  size_t start = 0;
  if (Dir.size() >= 2 && Dir[1] == ':') {
    start = 2;
  } else if (Dir.size() >= 2 && IsSep(Dir[0]) && IsSep(Dir[1])) {
    size_t p = Dir.find_first_of("\\/", 2);
    if (p == std::string::npos) return;
    p = Dir.find_first_of("\\/", p + 1);
    if (p == std::string::npos) return;
    start = p;
  }
  for (size_t i = start; i <= Dir.size(); ++i) {
    if (i < Dir.size() && !IsSep(Dir[i])) continue;
    if (i == start || IsSep(Dir[i - 1])) continue;
    const std::string step = Dir.substr(0, i);
    const DWORD attrs = Win().GetFileAttributesW(step);
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) continue;
    Win().CreateDirectoryW(step);
  }
}

void WriteWholeFile(const std::string& Path, const std::string& Bytes) {
  HANDLE h = Win().CreateFileW(Path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  if (h == VT_INVALID_HANDLE_VALUE || h == nullptr) {
    const DWORD err = Win().GetLastError();
    throw EFileError(Format("Cannot create file \"%s\" (winerr=%d)", Path, err), err);
  }
  size_t at = 0;
  while (at < Bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(Bytes.size() - at, 1u << 20));
    DWORD written = 0;
    if (!Win().WriteFile(h, Bytes.data() + at, chunk, &written) || written == 0) {
      const DWORD err = Win().GetLastError();
      Win().CloseHandle(h);
      throw EFileError(Format("Cannot write file \"%s\" (winerr=%d)", Path, err), err);
    }
    at += written;
  }
  Win().CloseHandle(h);
}

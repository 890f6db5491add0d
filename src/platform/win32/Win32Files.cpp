// Files, folders, the program file and its version resource, and volumes.
#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include <vector>

#include "platform/win32/Win32Text.h"

namespace plat::win32 {

namespace {

// Calls of the kind "fill this buffer of n characters, or say how many you need": returns the
// length in characters (0 on failure, with the call's last error) and the text in *out.
template <typename Call>
DWORD ReadTextInto(std::string* out, Call call) {
  std::vector<wchar_t> buf(MAX_PATH + 1);
  for (;;) {
    DWORD n = call(buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return 0;
    if (n < buf.size()) {
      if (out) *out = Narrow(buf.data(), n);
      return n;
    }
    // Too small: n is the size needed (with its NUL), or the buffer size when truncated.
    buf.resize(n > buf.size() ? n + 1 : buf.size() * 2);
  }
}

void FillFindData(const WIN32_FIND_DATAW& w, FIND_DATA* data) {
  if (!data) return;
  data->dwFileAttributes = w.dwFileAttributes;
  data->nFileSize = (static_cast<ULONGLONG>(w.nFileSizeHigh) << 32) | w.nFileSizeLow;
  data->cFileName = Narrow(w.cFileName, MAX_PATH);
}

OVERLAPPED AtOffset(ULONGLONG offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<::DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<::DWORD>(offset >> 32);
  return ov;
}

}  // namespace

HANDLE Win32Platform::CreateFileW(const std::string& path, DWORD access, DWORD share, DWORD creation,
                                  DWORD flagsAndAttributes) {
  return ::CreateFileW(Wide(path).c_str(), access, share, nullptr, creation, flagsAndAttributes, nullptr);
}

// Synchronous handles only: the count is never left to a null pointer, which Windows 7 rejects.
BOOL Win32Platform::ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read) {
  ::DWORD n = 0;
  BOOL ok = ::ReadFile(h, buffer, toRead, &n, nullptr);
  if (read) *read = n;
  return ok;
}

BOOL Win32Platform::WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written) {
  ::DWORD n = 0;
  BOOL ok = ::WriteFile(h, buffer, toWrite, &n, nullptr);
  if (written) *written = n;
  return ok;
}

BOOL Win32Platform::ReadFileAt(HANDLE h, void* buffer, DWORD toRead, DWORD* read, ULONGLONG offset) {
  OVERLAPPED ov = AtOffset(offset);
  ::DWORD n = 0;
  BOOL ok = ::ReadFile(h, buffer, toRead, &n, &ov);
  if (read) *read = n;
  return ok;
}

BOOL Win32Platform::WriteFileAt(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, ULONGLONG offset) {
  OVERLAPPED ov = AtOffset(offset);
  ::DWORD n = 0;
  BOOL ok = ::WriteFile(h, buffer, toWrite, &n, &ov);
  if (written) *written = n;
  return ok;
}

DWORD Win32Platform::SetFilePointer(HANDLE h, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod) {
  static_assert(sizeof(LONG) == sizeof(::LONG));
  return ::SetFilePointer(h, distanceLow, reinterpret_cast<::LONG*>(distanceHigh), moveMethod);
}

BOOL Win32Platform::SetFilePointerEx(HANDLE h, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod) {
  LARGE_INTEGER d;
  d.QuadPart = distance;
  LARGE_INTEGER pos;
  pos.QuadPart = 0;
  BOOL ok = ::SetFilePointerEx(h, d, &pos, moveMethod);
  if (ok && newPosition) *newPosition = pos.QuadPart;
  return ok;
}

DWORD Win32Platform::GetFileSize(HANDLE h, DWORD* sizeHigh) {
  ::DWORD high = 0;
  const ::DWORD low = ::GetFileSize(h, &high);
  if (sizeHigh) *sizeHigh = high;
  return low;
}

BOOL Win32Platform::GetFileSizeEx(HANDLE h, LONGLONG* size) {
  LARGE_INTEGER s;
  s.QuadPart = 0;
  BOOL ok = ::GetFileSizeEx(h, &s);
  if (ok && size) *size = s.QuadPart;
  return ok;
}

BOOL Win32Platform::SetEndOfFile(HANDLE h) { return ::SetEndOfFile(h); }
BOOL Win32Platform::FlushFileBuffers(HANDLE h) { return ::FlushFileBuffers(h); }
BOOL Win32Platform::DeleteFileW(const std::string& path) { return ::DeleteFileW(Wide(path).c_str()); }
BOOL Win32Platform::CreateDirectoryW(const std::string& path) {
  return ::CreateDirectoryW(Wide(path).c_str(), nullptr);
}
BOOL Win32Platform::RemoveDirectoryW(const std::string& path) { return ::RemoveDirectoryW(Wide(path).c_str()); }
DWORD Win32Platform::GetFileAttributesW(const std::string& path) {
  return ::GetFileAttributesW(Wide(path).c_str());
}
BOOL Win32Platform::SetFileAttributesW(const std::string& path, DWORD attributes) {
  return ::SetFileAttributesW(Wide(path).c_str(), attributes);
}

HANDLE Win32Platform::FindFirstFileW(const std::string& pattern, FIND_DATA* data) {
  WIN32_FIND_DATAW w{};
  HANDLE h = ::FindFirstFileW(Wide(pattern).c_str(), &w);
  if (h != INVALID_HANDLE_VALUE) FillFindData(w, data);
  return h;
}

BOOL Win32Platform::FindNextFileW(HANDLE find, FIND_DATA* data) {
  WIN32_FIND_DATAW w{};
  BOOL ok = ::FindNextFileW(find, &w);
  if (ok) FillFindData(w, data);
  return ok;
}

BOOL Win32Platform::FindClose(HANDLE find) { return ::FindClose(find); }

DWORD Win32Platform::GetCurrentDirectoryW(std::string* dir) {
  return ReadTextInto(dir, [](wchar_t* b, DWORD n) { return ::GetCurrentDirectoryW(n, b); });
}

BOOL Win32Platform::SetCurrentDirectoryW(const std::string& dir) {
  return ::SetCurrentDirectoryW(Wide(dir).c_str());
}

DWORD Win32Platform::GetModuleFileNameW(std::string* path) {
  // Truncation returns the buffer size (and ERROR_INSUFFICIENT_BUFFER): grow and ask again.
  return ReadTextInto(path, [](wchar_t* b, DWORD n) { return ::GetModuleFileNameW(nullptr, b, n); });
}

DWORD Win32Platform::GetFileVersionInfoSizeW(const std::string& file, DWORD* handle) {
  ::DWORD h = 0;
  DWORD n = ::GetFileVersionInfoSizeW(Wide(file).c_str(), &h);
  if (handle) *handle = h;
  return n;
}

BOOL Win32Platform::GetFileVersionInfoW(const std::string& file, DWORD handle, DWORD len, void* data) {
  return ::GetFileVersionInfoW(Wide(file).c_str(), handle, len, data);
}

BOOL Win32Platform::VerQueryValueW(const void* block, const std::string& subBlock, void** buffer, UINT* len) {
  return ::VerQueryValueW(block, Wide(subBlock).c_str(), buffer, len);
}

DWORD Win32Platform::GetLogicalDrives() { return ::GetLogicalDrives(); }

BOOL Win32Platform::GetVolumeInformationW(const std::string& rootPath, std::string* volumeName,
                                          DWORD volumeNameSize, DWORD* serialNumber, DWORD* maxComponentLength,
                                          DWORD* fileSystemFlags, std::string* fileSystemName,
                                          DWORD fileSystemNameSize) {
  // The caller's sizes go to Windows as they are, so a name that does not fit fails as it would.
  std::vector<wchar_t> name(volumeName ? volumeNameSize + 1 : 1);
  std::vector<wchar_t> fs(fileSystemName ? fileSystemNameSize + 1 : 1);
  ::DWORD serial = 0, maxLen = 0, flags = 0;
  BOOL ok = ::GetVolumeInformationW(Wide(rootPath).c_str(), volumeName ? name.data() : nullptr,
                                    volumeName ? volumeNameSize : 0, &serial, &maxLen, &flags,
                                    fileSystemName ? fs.data() : nullptr, fileSystemName ? fileSystemNameSize : 0);
  if (!ok) return ok;
  if (volumeName) *volumeName = Narrow(name.data(), volumeNameSize);
  if (fileSystemName) *fileSystemName = Narrow(fs.data(), fileSystemNameSize);
  if (serialNumber) *serialNumber = serial;
  if (maxComponentLength) *maxComponentLength = maxLen;
  if (fileSystemFlags) *fileSystemFlags = flags;
  return ok;
}

BOOL Win32Platform::GetDiskFreeSpaceW(const std::string& rootPath, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                                      DWORD* freeClusters, DWORD* totalClusters) {
  ::DWORD spc = 0, bps = 0, fc = 0, tc = 0;
  BOOL ok = ::GetDiskFreeSpaceW(Wide(rootPath).c_str(), &spc, &bps, &fc, &tc);
  if (!ok) return ok;
  if (sectorsPerCluster) *sectorsPerCluster = spc;
  if (bytesPerSector) *bytesPerSector = bps;
  if (freeClusters) *freeClusters = fc;
  if (totalClusters) *totalClusters = tc;
  return ok;
}

BOOL Win32Platform::GetDiskFreeSpaceExW(const std::string& path, ULONGLONG* freeToCaller, ULONGLONG* total,
                                        ULONGLONG* totalFree) {
  ULARGE_INTEGER a, b, c;
  a.QuadPart = b.QuadPart = c.QuadPart = 0;
  BOOL ok = ::GetDiskFreeSpaceExW(Wide(path).c_str(), &a, &b, &c);
  if (!ok) return ok;
  if (freeToCaller) *freeToCaller = a.QuadPart;
  if (total) *total = b.QuadPart;
  if (totalFree) *totalFree = c.QuadPart;
  return ok;
}

UINT Win32Platform::GetWindowsDirectoryW(std::string* dir) {
  return ReadTextInto(dir, [](wchar_t* b, DWORD n) { return static_cast<DWORD>(::GetWindowsDirectoryW(b, n)); });
}

UINT Win32Platform::GetSystemDirectoryW(std::string* dir) {
  return ReadTextInto(dir, [](wchar_t* b, DWORD n) { return static_cast<DWORD>(::GetSystemDirectoryW(b, n)); });
}

UINT Win32Platform::SetErrorMode(UINT mode) { return ::SetErrorMode(mode); }

}  // namespace plat::win32

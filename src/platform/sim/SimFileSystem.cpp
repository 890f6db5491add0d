#include "platform/sim/SimFileSystem.h"

#include "platform/sim/SimKernel.h"

namespace plat::sim {

// Placeholder until the in-memory file system lands: every call fails as not modelled.
struct SimFileSystem::Impl {
  explicit Impl(SimKernel& k) : kernel(k) {}
  SimKernel& kernel;
};

SimFileSystem::SimFileSystem(SimKernel& kernel) : impl_(std::make_unique<Impl>(kernel)) {}
SimFileSystem::~SimFileSystem() = default;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
static BOOL Fail() {
  SimSetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE_;
}
void SimFileSystem::AddDrive(char letter, uint64_t capacityBytes) {}
void SimFileSystem::MountHostFolder(const std::string& windowsPath, const std::string& hostPath) {}
void SimFileSystem::SetFault(const std::string& path, const FileFault& fault) {}
void SimFileSystem::ClearFaults() {}
bool SimFileSystem::Exists(const std::string& path) { return false; }
std::string SimFileSystem::ReadAll(const std::string& path) { return {}; }
void SimFileSystem::WriteAll(const std::string& path, const std::string& bytes) {}
void SimFileSystem::SetCurrentDirectory(const std::string& path) {}
HANDLE SimFileSystem::CreateFileW(const std::string& path, DWORD access, DWORD share, DWORD creation, DWORD flags) {
  Fail();
  return VT_INVALID_HANDLE_VALUE;
}
bool SimFileSystem::Owns(HANDLE h) { return false; }
BOOL SimFileSystem::ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read, const ULONGLONG* offset) { return Fail(); }
BOOL SimFileSystem::WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, const ULONGLONG* offset) {
  return Fail();
}
BOOL SimFileSystem::SetFilePointerEx(HANDLE h, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod) {
  return Fail();
}
BOOL SimFileSystem::GetFileSizeEx(HANDLE h, LONGLONG* size) { return Fail(); }
BOOL SimFileSystem::SetEndOfFile(HANDLE h) { return Fail(); }
BOOL SimFileSystem::FlushFileBuffers(HANDLE h) { return Fail(); }
BOOL SimFileSystem::DeleteFileW(const std::string& path) { return Fail(); }
BOOL SimFileSystem::CreateDirectoryW(const std::string& path) { return Fail(); }
BOOL SimFileSystem::RemoveDirectoryW(const std::string& path) { return Fail(); }
DWORD SimFileSystem::GetFileAttributesW(const std::string& path) {
  Fail();
  return INVALID_FILE_ATTRIBUTES;
}
BOOL SimFileSystem::SetFileAttributesW(const std::string& path, DWORD attributes) { return Fail(); }
HANDLE SimFileSystem::FindFirstFileW(const std::string& pattern, FIND_DATA* data) {
  Fail();
  return VT_INVALID_HANDLE_VALUE;
}
BOOL SimFileSystem::FindNextFileW(HANDLE find, FIND_DATA* data) { return Fail(); }
BOOL SimFileSystem::FindClose(HANDLE find) { return Fail(); }
DWORD SimFileSystem::GetCurrentDirectoryW(std::string* dir) { return Fail(); }
BOOL SimFileSystem::SetCurrentDirectoryW(const std::string& dir) { return Fail(); }
BOOL SimFileSystem::GetDiskFreeSpaceExW(const std::string& path, ULONGLONG* freeToCaller, ULONGLONG* total,
                                        ULONGLONG* totalFree) {
  return Fail();
}
#pragma GCC diagnostic pop

}  // namespace plat::sim

// Defaults for calls a platform does not model, and the accessor of the installed platform.
#include "platform/Platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace plat {

namespace {
std::atomic<IPlatform*> g_platform{nullptr};
}

IPlatform& Win() {
  IPlatform* p = g_platform.load(std::memory_order_acquire);
  if (!p) {
    std::fputs("no platform installed\n", stderr);
    std::abort();
  }
  return *p;
}

bool HasPlatform() { return g_platform.load(std::memory_order_acquire) != nullptr; }

IPlatform* InstallPlatform(IPlatform* p) { return g_platform.exchange(p, std::memory_order_acq_rel); }

BOOL IPlatform::NotModelled() {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE_;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
BOOL IPlatform::CancelSynchronousIo(HANDLE thread) { return NotModelled(); }

BOOL IPlatform::ReadFileAt(HANDLE h, void* buffer, DWORD toRead, DWORD* read, ULONGLONG offset) {
  return NotModelled();
}

BOOL IPlatform::WriteFileAt(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, ULONGLONG offset) {
  return NotModelled();
}

DWORD IPlatform::SetFilePointer(HANDLE h, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod) {
  NotModelled();
  return 0xFFFFFFFFu;
}

BOOL IPlatform::SetFilePointerEx(HANDLE h, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod) {
  return NotModelled();
}

DWORD IPlatform::GetFileSize(HANDLE h, DWORD* sizeHigh) {
  NotModelled();
  return INVALID_FILE_SIZE;
}

BOOL IPlatform::GetFileSizeEx(HANDLE h, LONGLONG* size) { return NotModelled(); }

BOOL IPlatform::SetEndOfFile(HANDLE h) { return NotModelled(); }

BOOL IPlatform::FlushFileBuffers(HANDLE h) { return NotModelled(); }

BOOL IPlatform::DeleteFileW(const std::string& path) { return NotModelled(); }

BOOL IPlatform::CreateDirectoryW(const std::string& path) { return NotModelled(); }

BOOL IPlatform::RemoveDirectoryW(const std::string& path) { return NotModelled(); }

DWORD IPlatform::GetFileAttributesW(const std::string& path) {
  NotModelled();
  return 0xFFFFFFFFu;
}

BOOL IPlatform::SetFileAttributesW(const std::string& path, DWORD attributes) { return NotModelled(); }

HANDLE IPlatform::FindFirstFileW(const std::string& pattern, FIND_DATA* data) {
  NotModelled();
  return VT_INVALID_HANDLE_VALUE;
}

BOOL IPlatform::FindNextFileW(HANDLE find, FIND_DATA* data) { return NotModelled(); }

BOOL IPlatform::FindClose(HANDLE find) { return NotModelled(); }

DWORD IPlatform::GetCurrentDirectoryW(std::string* dir) {
  NotModelled();
  return 0;
}

BOOL IPlatform::SetCurrentDirectoryW(const std::string& dir) { return NotModelled(); }

DWORD IPlatform::GetModuleFileNameW(std::string* path) {
  NotModelled();
  return 0;
}

BOOL IPlatform::DeviceIoControl(HANDLE h, DWORD ioControlCode, void* inBuffer, DWORD inSize, void* outBuffer,
                                DWORD outSize, DWORD* bytesReturned) {
  return NotModelled();
}

DWORD IPlatform::GetFileVersionInfoSizeW(const std::string& file, DWORD* handle) {
  NotModelled();
  return 0;
}

BOOL IPlatform::GetFileVersionInfoW(const std::string& file, DWORD handle, DWORD len, void* data) {
  return NotModelled();
}

BOOL IPlatform::VerQueryValueW(const void* block, const std::string& subBlock, void** buffer, UINT* len) {
  return NotModelled();
}

DWORD IPlatform::GetLogicalDrives() {
  NotModelled();
  return 0;
}

BOOL IPlatform::GetVolumeInformationW(const std::string& rootPath, std::string* volumeName, DWORD volumeNameSize,
                                      DWORD* serialNumber, DWORD* maxComponentLength, DWORD* fileSystemFlags,
                                      std::string* fileSystemName, DWORD fileSystemNameSize) {
  return NotModelled();
}

BOOL IPlatform::GetDiskFreeSpaceW(const std::string& rootPath, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                                  DWORD* freeClusters, DWORD* totalClusters) {
  return NotModelled();
}

BOOL IPlatform::GetDiskFreeSpaceExW(const std::string& path, ULONGLONG* freeToCaller, ULONGLONG* total,
                                    ULONGLONG* totalFree) {
  return NotModelled();
}

UINT IPlatform::GetWindowsDirectoryW(std::string* dir) {
  NotModelled();
  return 0;
}

UINT IPlatform::GetSystemDirectoryW(std::string* dir) {
  NotModelled();
  return 0;
}

UINT IPlatform::SetErrorMode(UINT mode) {
  NotModelled();
  return 0;
}

BOOL IPlatform::CreatePipe(HANDLE* readPipe, HANDLE* writePipe, BOOL inheritHandle, DWORD size) {
  return NotModelled();
}

BOOL IPlatform::SetHandleInformation(HANDLE h, DWORD mask, DWORD flags) { return NotModelled(); }

HANDLE IPlatform::GetStdHandle(DWORD which) {
  NotModelled();
  return VT_INVALID_HANDLE_VALUE;
}

BOOL IPlatform::CreateProcessW(const std::string& applicationName, const std::string& commandLine,
                               BOOL inheritHandles, DWORD creationFlags, const std::string& currentDirectory,
                               const STARTUP_INFO& startup, PROCESS_INFO* info) {
  return NotModelled();
}

BOOL IPlatform::PeekNamedPipe(HANDLE pipe, void* buffer, DWORD size, DWORD* read, DWORD* available,
                              DWORD* leftThisMessage) {
  return NotModelled();
}

BOOL IPlatform::GetExitCodeProcess(HANDLE process, DWORD* exitCode) { return NotModelled(); }

BOOL IPlatform::TerminateProcess(HANDLE process, UINT exitCode) { return NotModelled(); }

HANDLE IPlatform::GetCurrentProcess() {
  NotModelled();
  return VT_INVALID_HANDLE_VALUE;
}

BOOL IPlatform::OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token) { return NotModelled(); }

BOOL IPlatform::GetTokenInformation(HANDLE token, DWORD infoClass, void* info, DWORD length, DWORD* returnLength) {
  return NotModelled();
}

HDEVINFO IPlatform::SetupDiGetClassDevsW(const GUID* classGuid, const char* enumerator, HWND parent, DWORD flags) {
  NotModelled();
  return VT_INVALID_HANDLE_VALUE;
}

BOOL IPlatform::SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfoData, const GUID* interfaceClassGuid,
                                            DWORD memberIndex, void* deviceInterfaceData) {
  return NotModelled();
}

BOOL IPlatform::SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, void* deviceInterfaceData, void* detailData,
                                                 DWORD detailSize, DWORD* requiredSize, void* deviceInfoData) {
  return NotModelled();
}

BOOL IPlatform::SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, void* deviceInfoData, DWORD property,
                                                  DWORD* propertyRegDataType, BYTE* buffer, DWORD bufferSize,
                                                  DWORD* requiredSize) {
  return NotModelled();
}

BOOL IPlatform::SetupDiDestroyDeviceInfoList(HDEVINFO set) { return NotModelled(); }

int IPlatform::GetLocaleInfoW(DWORD locale, DWORD lcType, char16_t* data, int size) {
  NotModelled();
  return 0;
}

DWORD IPlatform::FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                                char16_t* buffer, DWORD size) {
  NotModelled();
  return 0;
}

int IPlatform::MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, char16_t* dst,
                                   int dstLen) {
  NotModelled();
  return 0;
}

int32_t IPlatform::CoCreateGuid(GUID* guid) {
  NotModelled();
  return static_cast<int32_t>(0x80004001u);  // E_NOTIMPL
}

int IPlatform::MessageBoxW(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  NotModelled();
  return 0;
}

intptr_t IPlatform::ShellExecuteW(HWND owner, const std::string& verb, const std::string& file,
                                  const std::string& parameters, const std::string& directory, int showCmd) {
  NotModelled();
  return 0;
}

void* IPlatform::RegisterDeviceNotificationW(HANDLE recipient, void* filter, DWORD flags) {
  NotModelled();
  return nullptr;
}

BOOL IPlatform::UnregisterDeviceNotification(void* notification) { return NotModelled(); }
#pragma GCC diagnostic pop

}  // namespace plat

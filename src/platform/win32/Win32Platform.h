// The real platform: each member hands its call to Windows unchanged, converting text between
// UTF-8 and UTF-16 and nothing else. Compiled only in the Windows build.
//
// A TU that also needs <windows.h> includes this header first (our constants share Windows'
// macro names).
#pragma once

#include "platform/Platform.h"

namespace plat::win32 {

class Win32Platform final : public IPlatform {
 public:
  // ---- Errors (Win32Platform.cpp) ----
  DWORD GetLastError() override;
  void SetLastError(DWORD code) override;

  // ---- Time ----
  ULONGLONG GetTickCount64() override;
  void GetSystemTime(SYSTEMTIME* st) override;
  void GetLocalTime(SYSTEMTIME* st) override;
  void Sleep(DWORD ms) override;

  // ---- Threads, events and waiting ----
  HANDLE CreateThread(size_t dwStackSize, LPTHREAD_START_ROUTINE start, void* param, DWORD dwCreationFlags,
                      DWORD* lpThreadId) override;
  DWORD ResumeThread(HANDLE thread) override;
  BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) override;
  DWORD GetCurrentThreadId() override;
  HANDLE CreateEventW(BOOL manualReset, BOOL initialState) override;
  BOOL SetEvent(HANDLE event) override;
  BOOL ResetEvent(HANDLE event) override;
  DWORD WaitForSingleObject(HANDLE h, DWORD ms) override;
  DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) override;
  BOOL CancelSynchronousIo(HANDLE thread) override;
  BOOL CloseHandle(HANDLE h) override;

  // ---- Desktop, shell and locale ----
  LANGID GetUserDefaultUILanguage() override;
  int GetLocaleInfoW(DWORD locale, DWORD lcType, char16_t* data, int size) override;
  DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId, char16_t* buffer,
                       DWORD size) override;
  int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, char16_t* dst,
                          int dstLen) override;
  int32_t CoCreateGuid(GUID* guid) override;
  int MessageBoxW(HWND owner, const std::string& text, const std::string& caption, UINT type) override;

  // ---- Files, folders and the program file (Win32Files.cpp) ----
  HANDLE CreateFileW(const std::string& path, DWORD access, DWORD share, DWORD creation,
                     DWORD flagsAndAttributes) override;
  BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read) override;
  BOOL WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written) override;
  BOOL ReadFileAt(HANDLE h, void* buffer, DWORD toRead, DWORD* read, ULONGLONG offset) override;
  BOOL WriteFileAt(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, ULONGLONG offset) override;
  DWORD SetFilePointer(HANDLE h, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod) override;
  BOOL SetFilePointerEx(HANDLE h, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod) override;
  DWORD GetFileSize(HANDLE h, DWORD* sizeHigh) override;
  BOOL GetFileSizeEx(HANDLE h, LONGLONG* size) override;
  BOOL SetEndOfFile(HANDLE h) override;
  BOOL FlushFileBuffers(HANDLE h) override;
  BOOL DeleteFileW(const std::string& path) override;
  BOOL CreateDirectoryW(const std::string& path) override;
  BOOL RemoveDirectoryW(const std::string& path) override;
  DWORD GetFileAttributesW(const std::string& path) override;
  BOOL SetFileAttributesW(const std::string& path, DWORD attributes) override;
  HANDLE FindFirstFileW(const std::string& pattern, FIND_DATA* data) override;
  BOOL FindNextFileW(HANDLE find, FIND_DATA* data) override;
  BOOL FindClose(HANDLE find) override;
  DWORD GetCurrentDirectoryW(std::string* dir) override;
  BOOL SetCurrentDirectoryW(const std::string& dir) override;
  DWORD GetModuleFileNameW(std::string* path) override;

  DWORD GetFileVersionInfoSizeW(const std::string& file, DWORD* handle) override;
  BOOL GetFileVersionInfoW(const std::string& file, DWORD handle, DWORD len, void* data) override;
  BOOL VerQueryValueW(const void* block, const std::string& subBlock, void** buffer, UINT* len) override;

  // ---- Volumes (Win32Files.cpp) ----
  DWORD GetLogicalDrives() override;
  BOOL GetVolumeInformationW(const std::string& rootPath, std::string* volumeName, DWORD volumeNameSize,
                             DWORD* serialNumber, DWORD* maxComponentLength, DWORD* fileSystemFlags,
                             std::string* fileSystemName, DWORD fileSystemNameSize) override;
  BOOL GetDiskFreeSpaceW(const std::string& rootPath, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                         DWORD* freeClusters, DWORD* totalClusters) override;
  BOOL GetDiskFreeSpaceExW(const std::string& path, ULONGLONG* freeToCaller, ULONGLONG* total,
                           ULONGLONG* totalFree) override;
  UINT GetWindowsDirectoryW(std::string* dir) override;
  UINT GetSystemDirectoryW(std::string* dir) override;
  UINT SetErrorMode(UINT mode) override;

  // ---- Devices, pipes, processes, security, shell (Win32System.cpp) ----
  BOOL DeviceIoControl(HANDLE h, DWORD ioControlCode, void* inBuffer, DWORD inSize, void* outBuffer, DWORD outSize,
                       DWORD* bytesReturned) override;
  BOOL CreatePipe(HANDLE* readPipe, HANDLE* writePipe, BOOL inheritHandle, DWORD size) override;
  BOOL SetHandleInformation(HANDLE h, DWORD mask, DWORD flags) override;
  HANDLE GetStdHandle(DWORD which) override;
  BOOL CreateProcessW(const std::string& applicationName, const std::string& commandLine, BOOL inheritHandles,
                      DWORD creationFlags, const std::string& currentDirectory, const STARTUP_INFO& startup,
                      PROCESS_INFO* info) override;
  BOOL PeekNamedPipe(HANDLE pipe, void* buffer, DWORD size, DWORD* read, DWORD* available,
                     DWORD* leftThisMessage) override;
  BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) override;
  BOOL TerminateProcess(HANDLE process, UINT exitCode) override;
  HANDLE GetCurrentProcess() override;
  BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token) override;
  BOOL GetTokenInformation(HANDLE token, DWORD infoClass, void* info, DWORD length, DWORD* returnLength) override;
  intptr_t ShellExecuteW(HWND owner, const std::string& verb, const std::string& file,
                         const std::string& parameters, const std::string& directory, int showCmd) override;
  void* RegisterDeviceNotificationW(HANDLE recipient, void* filter, DWORD flags) override;
  BOOL UnregisterDeviceNotification(void* notification) override;

  // ---- Setup API (Win32SetupApi.cpp) ----
  HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const char* enumerator, HWND parent, DWORD flags) override;
  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfoData, const GUID* interfaceClassGuid,
                                   DWORD memberIndex, void* deviceInterfaceData) override;
  BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, void* deviceInterfaceData, void* detailData,
                                        DWORD detailSize, DWORD* requiredSize, void* deviceInfoData) override;
  BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, void* deviceInfoData, DWORD property,
                                         DWORD* propertyRegDataType, BYTE* buffer, DWORD bufferSize,
                                         DWORD* requiredSize) override;
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;
};

}  // namespace plat::win32

// The one interface through which the program reaches Windows.
//
// Every member stands for the Windows call of the same name and takes and returns what that
// call does: handles, byte buffers, sizes, a BOOL-like result, the cause in the per-thread last
// error. Text crosses as UTF-8 (std::string); the Win32 layer converts to UTF-16 at its edge.
// Where Windows writes text into a caller's UTF-16 buffer and the program depends on that
// buffer (FormatMessageW, GetLocaleInfoW, VerQueryValueW), the buffer is char16_t as in Windows.
//
// Code above this layer builds the exact bytes of every request; the layer moves them and never
// interprets them (win32/ hands them to Windows, sim/ to the simulated machine).
//
// A call that the installed platform does not model fails with ERROR_CALL_NOT_IMPLEMENTED.
#pragma once

#include "platform/PlatformTypes.h"

namespace plat {

class IPlatform {
 public:
  virtual ~IPlatform() = default;

  // ---- Errors -------------------------------------------------------------------------------
  virtual DWORD GetLastError() = 0;
  virtual void SetLastError(DWORD code) = 0;

  // ---- Time ---------------------------------------------------------------------------------
  virtual ULONGLONG GetTickCount64() = 0;
  virtual void GetSystemTime(SYSTEMTIME* st) = 0;
  virtual void GetLocalTime(SYSTEMTIME* st) = 0;
  virtual void Sleep(DWORD ms) = 0;

  // ---- Threads, events and waiting ------------------------------------------------------------
  // lpThreadAttributes is always null in this program, so it is left out.
  virtual HANDLE CreateThread(size_t dwStackSize, LPTHREAD_START_ROUTINE start, void* param, DWORD dwCreationFlags,
                              DWORD* lpThreadId) = 0;
  virtual DWORD ResumeThread(HANDLE thread) = 0;
  virtual BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) = 0;
  virtual DWORD GetCurrentThreadId() = 0;
  virtual HANDLE CreateEventW(BOOL manualReset, BOOL initialState) = 0;
  virtual BOOL SetEvent(HANDLE event) = 0;
  virtual BOOL ResetEvent(HANDLE event) = 0;
  virtual DWORD WaitForSingleObject(HANDLE h, DWORD ms) = 0;
  virtual DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) = 0;
  virtual BOOL CancelSynchronousIo(HANDLE thread);
  virtual BOOL CloseHandle(HANDLE h) = 0;

  // ---- Files, folders and devices -------------------------------------------------------------
  // lpSecurityAttributes and hTemplateFile are always null here, so they are left out.
  virtual HANDLE CreateFileW(const std::string& path, DWORD access, DWORD share, DWORD creation,
                             DWORD flagsAndAttributes) = 0;
  virtual BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read) = 0;
  virtual BOOL WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written) = 0;
  // ReadFile / WriteFile with an OVERLAPPED record that carries the byte offset, on a handle
  // opened for synchronous I/O: positioned, so no separate seek can go wrong.
  virtual BOOL ReadFileAt(HANDLE h, void* buffer, DWORD toRead, DWORD* read, ULONGLONG offset);
  virtual BOOL WriteFileAt(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, ULONGLONG offset);
  virtual DWORD SetFilePointer(HANDLE h, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod);
  virtual BOOL SetFilePointerEx(HANDLE h, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod);
  // The low 32 bits of the size, the high ones in *sizeHigh; INVALID_FILE_SIZE with a last
  // error on failure (a size whose low part is that value leaves the last error at 0).
  virtual DWORD GetFileSize(HANDLE h, DWORD* sizeHigh);
  virtual BOOL GetFileSizeEx(HANDLE h, LONGLONG* size);
  virtual BOOL SetEndOfFile(HANDLE h);
  virtual BOOL FlushFileBuffers(HANDLE h);
  virtual BOOL DeleteFileW(const std::string& path);
  virtual BOOL CreateDirectoryW(const std::string& path);
  virtual BOOL RemoveDirectoryW(const std::string& path);
  virtual DWORD GetFileAttributesW(const std::string& path);
  virtual BOOL SetFileAttributesW(const std::string& path, DWORD attributes);
  virtual HANDLE FindFirstFileW(const std::string& pattern, FIND_DATA* data);
  virtual BOOL FindNextFileW(HANDLE find, FIND_DATA* data);
  virtual BOOL FindClose(HANDLE find);
  virtual DWORD GetCurrentDirectoryW(std::string* dir);
  virtual BOOL SetCurrentDirectoryW(const std::string& dir);
  virtual DWORD GetModuleFileNameW(std::string* path);  // of the running program (hModule null)
  virtual BOOL DeviceIoControl(HANDLE h, DWORD ioControlCode, void* inBuffer, DWORD inSize, void* outBuffer,
                               DWORD outSize, DWORD* bytesReturned);

  // ---- Version resource -----------------------------------------------------------------------
  virtual DWORD GetFileVersionInfoSizeW(const std::string& file, DWORD* handle);
  virtual BOOL GetFileVersionInfoW(const std::string& file, DWORD handle, DWORD len, void* data);
  virtual BOOL VerQueryValueW(const void* block, const std::string& subBlock, void** buffer, UINT* len);

  // ---- Volumes --------------------------------------------------------------------------------
  virtual DWORD GetLogicalDrives();
  // Buffer sizes are in characters as in Windows; a name longer than its buffer fails the call.
  virtual BOOL GetVolumeInformationW(const std::string& rootPath, std::string* volumeName, DWORD volumeNameSize,
                                     DWORD* serialNumber, DWORD* maxComponentLength, DWORD* fileSystemFlags,
                                     std::string* fileSystemName, DWORD fileSystemNameSize);
  virtual BOOL GetDiskFreeSpaceW(const std::string& rootPath, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                                 DWORD* freeClusters, DWORD* totalClusters);
  virtual BOOL GetDiskFreeSpaceExW(const std::string& path, ULONGLONG* freeToCaller, ULONGLONG* total,
                                   ULONGLONG* totalFree);
  virtual UINT GetWindowsDirectoryW(std::string* dir);
  virtual UINT GetSystemDirectoryW(std::string* dir);
  virtual UINT SetErrorMode(UINT mode);

  // ---- Processes and pipes --------------------------------------------------------------------
  virtual BOOL CreatePipe(HANDLE* readPipe, HANDLE* writePipe, BOOL inheritHandle, DWORD size);
  virtual BOOL SetHandleInformation(HANDLE h, DWORD mask, DWORD flags);
  virtual HANDLE GetStdHandle(DWORD which);
  virtual BOOL CreateProcessW(const std::string& applicationName, const std::string& commandLine,
                              BOOL inheritHandles, DWORD creationFlags, const std::string& currentDirectory,
                              const STARTUP_INFO& startup, PROCESS_INFO* info);
  virtual BOOL PeekNamedPipe(HANDLE pipe, void* buffer, DWORD size, DWORD* read, DWORD* available,
                             DWORD* leftThisMessage);
  virtual BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode);
  virtual BOOL TerminateProcess(HANDLE process, UINT exitCode);

  // ---- Security -------------------------------------------------------------------------------
  virtual HANDLE GetCurrentProcess();
  virtual BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token);
  virtual BOOL GetTokenInformation(HANDLE token, DWORD infoClass, void* info, DWORD length, DWORD* returnLength);

  // ---- Setup API (device-information sets; records are the caller's bytes) --------------------
  virtual HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const char* enumerator, HWND parent, DWORD flags);
  virtual BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfoData, const GUID* interfaceClassGuid,
                                           DWORD memberIndex, void* deviceInterfaceData);
  virtual BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, void* deviceInterfaceData, void* detailData,
                                                DWORD detailSize, DWORD* requiredSize, void* deviceInfoData);
  virtual BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, void* deviceInfoData, DWORD property,
                                                 DWORD* propertyRegDataType, BYTE* buffer, DWORD bufferSize,
                                                 DWORD* requiredSize);
  virtual BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);

  // ---- Desktop, shell and locale --------------------------------------------------------------
  virtual LANGID GetUserDefaultUILanguage() = 0;
  virtual int GetLocaleInfoW(DWORD locale, DWORD lcType, char16_t* data, int size);
  virtual DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                               char16_t* buffer, DWORD size);
  virtual int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, char16_t* dst,
                                  int dstLen);
  virtual int32_t CoCreateGuid(GUID* guid);
  virtual int MessageBoxW(HWND owner, const std::string& text, const std::string& caption, UINT type);
  virtual intptr_t ShellExecuteW(HWND owner, const std::string& verb, const std::string& file,
                                 const std::string& parameters, const std::string& directory, int showCmd);
  virtual void* RegisterDeviceNotificationW(HANDLE recipient, void* filter, DWORD flags);
  virtual BOOL UnregisterDeviceNotification(void* notification);

 protected:
  // Helper for the defaults: sets ERROR_CALL_NOT_IMPLEMENTED and returns FALSE.
  BOOL NotModelled();
};

// The installed platform. Installed once at program start, and by each test fixture.
IPlatform& Win();
bool HasPlatform();
// Installs p (not owned) and returns the one it replaces.
IPlatform* InstallPlatform(IPlatform* p);

// Installs a platform for a scope and puts the previous one back.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(IPlatform* p) : prev_(InstallPlatform(p)) {}
  ~ScopedPlatform() { InstallPlatform(prev_); }
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  IPlatform* prev_;
};

}  // namespace plat

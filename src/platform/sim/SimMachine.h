// A simulated Windows machine. Tests (and the demo build) construct one, describe it, and
// install it as the platform; every call the program makes then lands here.
//
// The machine is made of small modules, each owning one part of what Windows offers:
//   SimKernel      handles, threads, events, waits, the virtual clock
//   SimFileSystem  drive letters, folders and files (in memory, or a mounted host folder)
//   SimDesktop     UI language, locale, message table, version resource, message boxes, GUIDs
//   SimStorage     physical disks and their drives, volumes, device paths, DeviceIoControl
//   SimBridge      the USB bridge of each disk: SCSI / ATA pass-through, storage TRIM, faults
// Later modules (bridges, discovery, file systems, processes) plug in the same way.
#pragma once

#include <memory>

#include "platform/Platform.h"
#include "platform/sim/SimBridge.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimFileSystem.h"
#include "platform/sim/SimKernel.h"
#include "platform/sim/SimStorage.h"

namespace plat::sim {

class SimMachine final : public IPlatform {
 public:
  SimMachine();
  ~SimMachine() override;

  SimKernel& Kernel() { return *kernel_; }
  SimFileSystem& Files() { return *files_; }
  SimDesktop& Desktop() { return *desktop_; }
  SimStorage& Storage() { return *storage_; }
  SimBridge& Bridge() { return *bridge_; }
  // Ends every wait inside the machine and lets its threads run out; called before the machine
  // is uninstalled, so that those threads still find it.
  void Shutdown();

  // ---- IPlatform ----
  DWORD GetLastError() override;
  void SetLastError(DWORD code) override;

  ULONGLONG GetTickCount64() override;
  void GetSystemTime(SYSTEMTIME* st) override;
  void GetLocalTime(SYSTEMTIME* st) override;
  void Sleep(DWORD ms) override;

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

  HANDLE CreateFileW(const std::string& path, DWORD access, DWORD share, DWORD creation,
                     DWORD flagsAndAttributes) override;
  BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read) override;
  BOOL WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written) override;
  BOOL ReadFileAt(HANDLE h, void* buffer, DWORD toRead, DWORD* read, ULONGLONG offset) override;
  BOOL WriteFileAt(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, ULONGLONG offset) override;
  DWORD SetFilePointer(HANDLE h, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod) override;
  BOOL SetFilePointerEx(HANDLE h, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod) override;
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
  BOOL DeviceIoControl(HANDLE h, DWORD ioControlCode, void* inBuffer, DWORD inSize, void* outBuffer, DWORD outSize,
                       DWORD* bytesReturned) override;
  BOOL GetDiskFreeSpaceExW(const std::string& path, ULONGLONG* freeToCaller, ULONGLONG* total,
                           ULONGLONG* totalFree) override;

  DWORD GetFileVersionInfoSizeW(const std::string& file, DWORD* handle) override;
  BOOL GetFileVersionInfoW(const std::string& file, DWORD handle, DWORD len, void* data) override;
  BOOL VerQueryValueW(const void* block, const std::string& subBlock, void** buffer, UINT* len) override;

  LANGID GetUserDefaultUILanguage() override;
  int GetLocaleInfoW(DWORD locale, DWORD lcType, char16_t* data, int size) override;
  DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId, char16_t* buffer,
                       DWORD size) override;
  int32_t CoCreateGuid(GUID* guid) override;
  int MessageBoxW(HWND owner, const std::string& text, const std::string& caption, UINT type) override;

 private:
  std::unique_ptr<SimKernel> kernel_;
  std::unique_ptr<SimFileSystem> files_;
  std::unique_ptr<SimDesktop> desktop_;
  std::unique_ptr<SimStorage> storage_;
  std::unique_ptr<SimBridge> bridge_;
};

// Builds a machine and installs it for the life of the object: the fixture of most tests.
class ScopedSimMachine {
 public:
  ScopedSimMachine() : scoped_(&machine_) {}
  ~ScopedSimMachine() { machine_.Shutdown(); }
  SimMachine& operator*() { return machine_; }
  SimMachine* operator->() { return &machine_; }

 private:
  SimMachine machine_;
  ScopedPlatform scoped_;
};

}  // namespace plat::sim

#include "platform/sim/SimMachine.h"

#include "platform/sim/kernel/SimCodePage.h"

namespace plat::sim {

SimMachine::SimMachine()
    : kernel_(std::make_unique<SimKernel>()),
      files_(std::make_unique<SimFileSystem>(*kernel_)),
      desktop_(std::make_unique<SimDesktop>()),
      storage_(std::make_unique<SimStorage>(*kernel_)),
      discovery_(std::make_unique<SimDiscovery>(*kernel_, *storage_, *files_)),
      fsControl_(std::make_unique<SimFsControl>(*storage_)),
      security_(std::make_unique<SimSecurity>(*kernel_)),
      processes_(std::make_unique<SimProcesses>(*kernel_, *storage_)),
      volumeLocks_(std::make_unique<SimVolumeLocks>(*kernel_, *storage_)),
      bridge_(std::make_unique<SimBridge>(*storage_, volumeLocks_.get())),
      partitions_(std::make_unique<SimPartitions>(*storage_)),
      volumeFlush_(std::make_unique<SimVolumeFlush>(*storage_)),
      notifications_(std::make_unique<SimNotifications>(*storage_, *desktop_)),
      volumeFiles_(std::make_unique<SimVolumeFiles>(*kernel_, *storage_, *files_, *volumeLocks_)) {}

SimMachine::~SimMachine() { Shutdown(); }

void SimMachine::Shutdown() { kernel_->Shutdown(); }

DWORD SimMachine::GetLastError() { return SimGetLastError(); }
void SimMachine::SetLastError(DWORD code) { SimSetLastError(code); }

ULONGLONG SimMachine::GetTickCount64() { return kernel_->NowMs(); }
void SimMachine::GetSystemTime(SYSTEMTIME* st) { *st = kernel_->SystemTimeNow(); }
void SimMachine::GetLocalTime(SYSTEMTIME* st) { *st = kernel_->LocalTimeNow(); }
void SimMachine::Sleep(DWORD ms) { kernel_->Sleep(ms); }

HANDLE SimMachine::CreateThread(size_t dwStackSize, LPTHREAD_START_ROUTINE start, void* param,
                                DWORD dwCreationFlags, DWORD* lpThreadId) {
  return kernel_->CreateThread(dwStackSize, start, param, dwCreationFlags, lpThreadId);
}
DWORD SimMachine::ResumeThread(HANDLE thread) { return kernel_->ResumeThread(thread); }
BOOL SimMachine::GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
  return kernel_->GetExitCodeThread(thread, exitCode) ? TRUE_ : FALSE_;
}
DWORD SimMachine::GetCurrentThreadId() { return kernel_->CurrentThreadId(); }

HANDLE SimMachine::CreateEventW(BOOL manualReset, BOOL initialState) {
  return kernel_->AddHandle(std::make_shared<SimEvent>(manualReset != 0, initialState != 0));
}

static BOOL SetEventState(SimKernel& k, HANDLE h, bool state) {
  auto e = k.LookupAs<SimEvent>(h);
  if (!e) {
    SimSetLastError(ERROR_INVALID_HANDLE);
    return FALSE_;
  }
  std::lock_guard<std::mutex> lk(k.Lock());
  e->Set(state);
  k.NotifyLocked();
  return TRUE_;
}

BOOL SimMachine::SetEvent(HANDLE event) { return SetEventState(*kernel_, event, true); }
BOOL SimMachine::ResetEvent(HANDLE event) { return SetEventState(*kernel_, event, false); }

DWORD SimMachine::WaitForSingleObject(HANDLE h, DWORD ms) { return kernel_->WaitForObjects({h}, false, ms); }

DWORD SimMachine::WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) {
  if (count == 0 || count > 64) {
    SimSetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  return kernel_->WaitForObjects(std::vector<HANDLE>(handles, handles + count), waitAll != 0, ms);
}

BOOL SimMachine::CancelSynchronousIo(HANDLE thread) {
  return kernel_->CancelSynchronousIo(thread) ? TRUE_ : FALSE_;
}

BOOL SimMachine::CloseHandle(HANDLE h) {
  if (!kernel_->CloseHandle(h)) {
    SimSetLastError(ERROR_INVALID_HANDLE);
    return FALSE_;
  }
  return TRUE_;
}

HANDLE SimMachine::CreateFileW(const std::string& path, DWORD access, DWORD share, DWORD creation,
                               DWORD flagsAndAttributes) {
  if (SimStorage::IsDevicePath(path))
    return storage_->CreateFileW(path, access, share, creation, flagsAndAttributes);
  if (path.compare(0, 4, "\\\\?\\") == 0) {  // a device-interface path names a disk
    const std::string drive = discovery_->ResolveInterfacePath(path);
    if (drive.empty()) {
      SimSetLastError(ERROR_FILE_NOT_FOUND);
      return VT_INVALID_HANDLE_VALUE;
    }
    return storage_->CreateFileW(drive, access, share, creation, flagsAndAttributes);
  }
  if (volumeFiles_->Serves(path))
    return volumeFiles_->CreateFileW(path, access, share, creation, flagsAndAttributes);
  return files_->CreateFileW(path, access, share, creation, flagsAndAttributes);
}

static BOOL BadHandle() {
  SimSetLastError(ERROR_INVALID_HANDLE);
  return FALSE_;
}

BOOL SimMachine::ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read) {
  if (volumeFiles_->Owns(h)) return volumeFiles_->ReadFile(h, buffer, toRead, read, nullptr);
  if (files_->Owns(h)) return files_->ReadFile(h, buffer, toRead, read, nullptr);
  if (processes_->OwnsPipe(h)) return processes_->ReadFile(h, buffer, toRead, read);
  if (storage_->Owns(h)) return storage_->ReadFile(h, buffer, toRead, read, nullptr);
  return BadHandle();
}
BOOL SimMachine::WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written) {
  if (volumeFiles_->Owns(h)) return volumeFiles_->WriteFile(h, buffer, toWrite, written, nullptr);
  if (files_->Owns(h)) return files_->WriteFile(h, buffer, toWrite, written, nullptr);
  if (processes_->OwnsPipe(h)) return processes_->WriteFile(h, buffer, toWrite, written);
  if (storage_->Owns(h)) return storage_->WriteFile(h, buffer, toWrite, written, nullptr);
  return BadHandle();
}
BOOL SimMachine::ReadFileAt(HANDLE h, void* buffer, DWORD toRead, DWORD* read, ULONGLONG offset) {
  if (volumeFiles_->Owns(h)) return volumeFiles_->ReadFile(h, buffer, toRead, read, &offset);
  if (files_->Owns(h)) return files_->ReadFile(h, buffer, toRead, read, &offset);
  if (storage_->Owns(h)) return storage_->ReadFile(h, buffer, toRead, read, &offset);
  return BadHandle();
}
BOOL SimMachine::WriteFileAt(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, ULONGLONG offset) {
  if (volumeFiles_->Owns(h)) return volumeFiles_->WriteFile(h, buffer, toWrite, written, &offset);
  if (files_->Owns(h)) return files_->WriteFile(h, buffer, toWrite, written, &offset);
  if (storage_->Owns(h)) return storage_->WriteFile(h, buffer, toWrite, written, &offset);
  return BadHandle();
}

DWORD SimMachine::SetFilePointer(HANDLE h, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod) {
  LONGLONG dist = distanceHigh ? (static_cast<LONGLONG>(*distanceHigh) << 32) | static_cast<uint32_t>(distanceLow)
                               : static_cast<LONGLONG>(distanceLow);
  LONGLONG pos = 0;
  if (!SetFilePointerEx(h, dist, &pos, moveMethod)) return INVALID_SET_FILE_POINTER;
  if (distanceHigh) *distanceHigh = static_cast<LONG>(pos >> 32);
  SimSetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(pos & 0xFFFFFFFF);
}
BOOL SimMachine::SetFilePointerEx(HANDLE h, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod) {
  if (volumeFiles_->Owns(h)) return volumeFiles_->SetFilePointerEx(h, distance, newPosition, moveMethod);
  if (files_->Owns(h)) return files_->SetFilePointerEx(h, distance, newPosition, moveMethod);
  if (storage_->Owns(h)) return storage_->SetFilePointerEx(h, distance, newPosition, moveMethod);
  return BadHandle();
}
DWORD SimMachine::GetFileSize(HANDLE h, DWORD* sizeHigh) {
  LONGLONG size = 0;
  if (!GetFileSizeEx(h, &size)) return INVALID_FILE_SIZE;
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(static_cast<uint64_t>(size) >> 32);
  // A size whose low part is INVALID_FILE_SIZE is told apart by a last error of 0.
  SimSetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}
BOOL SimMachine::GetFileSizeEx(HANDLE h, LONGLONG* size) {
  if (volumeFiles_->Owns(h)) return volumeFiles_->GetFileSizeEx(h, size);
  if (files_->Owns(h)) return files_->GetFileSizeEx(h, size);
  return BadHandle();
}
BOOL SimMachine::SetEndOfFile(HANDLE h) {
  if (volumeFiles_->Owns(h)) return volumeFiles_->SetEndOfFile(h);
  if (files_->Owns(h)) return files_->SetEndOfFile(h);
  return BadHandle();
}
BOOL SimMachine::FlushFileBuffers(HANDLE h) {
  if (volumeFiles_->Owns(h)) return volumeFiles_->FlushFileBuffers(h);
  if (files_->Owns(h)) return files_->FlushFileBuffers(h);
  if (storage_->Owns(h)) return storage_->FlushFileBuffers(h);
  return BadHandle();
}
// A path on a mounted volume of the storage stack goes to its files, any other to the file system.
BOOL SimMachine::DeleteFileW(const std::string& path) {
  return volumeFiles_->Serves(path) ? volumeFiles_->DeleteFileW(path) : files_->DeleteFileW(path);
}
BOOL SimMachine::CreateDirectoryW(const std::string& path) {
  return volumeFiles_->Serves(path) ? volumeFiles_->CreateDirectoryW(path) : files_->CreateDirectoryW(path);
}
BOOL SimMachine::RemoveDirectoryW(const std::string& path) {
  return volumeFiles_->Serves(path) ? volumeFiles_->RemoveDirectoryW(path) : files_->RemoveDirectoryW(path);
}
DWORD SimMachine::GetFileAttributesW(const std::string& path) {
  return volumeFiles_->Serves(path) ? volumeFiles_->GetFileAttributesW(path) : files_->GetFileAttributesW(path);
}
BOOL SimMachine::SetFileAttributesW(const std::string& path, DWORD attributes) {
  return volumeFiles_->Serves(path) ? volumeFiles_->SetFileAttributesW(path, attributes)
                                    : files_->SetFileAttributesW(path, attributes);
}
HANDLE SimMachine::FindFirstFileW(const std::string& pattern, FIND_DATA* data) {
  return volumeFiles_->Serves(pattern) ? volumeFiles_->FindFirstFileW(pattern, data)
                                       : files_->FindFirstFileW(pattern, data);
}
BOOL SimMachine::FindNextFileW(HANDLE find, FIND_DATA* data) {
  return volumeFiles_->Owns(find) ? volumeFiles_->FindNextFileW(find, data) : files_->FindNextFileW(find, data);
}
BOOL SimMachine::FindClose(HANDLE find) {
  return volumeFiles_->Owns(find) ? volumeFiles_->FindClose(find) : files_->FindClose(find);
}
DWORD SimMachine::GetCurrentDirectoryW(std::string* dir) { return files_->GetCurrentDirectoryW(dir); }
BOOL SimMachine::SetCurrentDirectoryW(const std::string& dir) { return files_->SetCurrentDirectoryW(dir); }

BOOL SimMachine::GetDiskFreeSpaceExW(const std::string& path, ULONGLONG* freeToCaller, ULONGLONG* total,
                                     ULONGLONG* totalFree) {
  // A lettered volume of the storage stack answers before a drive of the file system module; one
  // with files asks the folder to exist.
  if (volumeFiles_->Serves(path)) return volumeFiles_->GetDiskFreeSpaceExW(path, freeToCaller, total, totalFree);
  BOOL r = FALSE_;
  if (discovery_->AnswersFreeSpaceEx(path, &r, freeToCaller, total, totalFree)) return r;
  return files_->GetDiskFreeSpaceExW(path, freeToCaller, total, totalFree);
}

DWORD SimMachine::GetLogicalDrives() { return discovery_->GetLogicalDrives(); }
BOOL SimMachine::GetVolumeInformationW(const std::string& rootPath, std::string* volumeName, DWORD volumeNameSize,
                                       DWORD* serialNumber, DWORD* maxComponentLength, DWORD* fileSystemFlags,
                                       std::string* fileSystemName, DWORD fileSystemNameSize) {
  // A dismounted volume answers again only once its remount is through.
  if (rootPath.size() >= 2 && rootPath[1] == ':' && !volumeLocks_->UseMount(rootPath[0])) {
    SimSetLastError(ERROR_NOT_READY);
    return FALSE_;
  }
  return discovery_->GetVolumeInformationW(rootPath, volumeName, volumeNameSize, serialNumber, maxComponentLength,
                                           fileSystemFlags, fileSystemName, fileSystemNameSize);
}
BOOL SimMachine::GetDiskFreeSpaceW(const std::string& rootPath, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                                   DWORD* freeClusters, DWORD* totalClusters) {
  return discovery_->GetDiskFreeSpaceW(rootPath, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters);
}
UINT SimMachine::GetWindowsDirectoryW(std::string* dir) { return discovery_->GetWindowsDirectoryW(dir); }

HDEVINFO SimMachine::SetupDiGetClassDevsW(const GUID* classGuid, const char* enumerator, HWND /*parent*/,
                                          DWORD flags) {
  return discovery_->SetupDiGetClassDevsW(classGuid, enumerator, flags);
}
BOOL SimMachine::SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfoData, const GUID* interfaceClassGuid,
                                             DWORD memberIndex, void* deviceInterfaceData) {
  return discovery_->SetupDiEnumDeviceInterfaces(set, deviceInfoData, interfaceClassGuid, memberIndex,
                                                 deviceInterfaceData);
}
BOOL SimMachine::SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, void* deviceInterfaceData, void* detailData,
                                                  DWORD detailSize, DWORD* requiredSize, void* deviceInfoData) {
  return discovery_->SetupDiGetDeviceInterfaceDetailW(set, deviceInterfaceData, detailData, detailSize,
                                                      requiredSize, deviceInfoData);
}
BOOL SimMachine::SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, void* deviceInfoData, DWORD property,
                                                   DWORD* propertyRegDataType, BYTE* buffer, DWORD bufferSize,
                                                   DWORD* requiredSize) {
  return discovery_->SetupDiGetDeviceRegistryPropertyW(set, deviceInfoData, property, propertyRegDataType, buffer,
                                                       bufferSize, requiredSize);
}
BOOL SimMachine::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  return discovery_->SetupDiDestroyDeviceInfoList(set);
}

int SimMachine::MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, char16_t* dst,
                                    int dstLen) {
  return SimMultiByteToWideChar(codePage, flags, src, srcLen, dst, dstLen);
}

BOOL SimMachine::DeviceIoControl(HANDLE h, DWORD ioControlCode, void* inBuffer, DWORD inSize, void* outBuffer,
                                 DWORD outSize, DWORD* bytesReturned) {
  if (volumeFiles_->Owns(h))
    return volumeFiles_->DeviceIoControl(h, ioControlCode, inBuffer, inSize, outBuffer, outSize, bytesReturned);
  return storage_->DeviceIoControl(h, ioControlCode, inBuffer, inSize, outBuffer, outSize, bytesReturned);
}

DWORD SimMachine::GetModuleFileNameW(std::string* path) {
  *path = desktop_->ModulePath();
  return static_cast<DWORD>(path->size());
}

DWORD SimMachine::GetFileVersionInfoSizeW(const std::string& file, DWORD* handle) {
  DWORD n = desktop_->GetFileVersionInfoSizeW(file, handle);
  if (n == 0) SimSetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return n;
}
BOOL SimMachine::GetFileVersionInfoW(const std::string& file, DWORD /*handle*/, DWORD len, void* data) {
  if (!desktop_->GetFileVersionInfoW(file, len, data)) {
    SimSetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE_;
  }
  return TRUE_;
}
BOOL SimMachine::VerQueryValueW(const void* block, const std::string& subBlock, void** buffer, UINT* len) {
  return desktop_->VerQueryValueW(block, subBlock, buffer, len);
}

LANGID SimMachine::GetUserDefaultUILanguage() { return desktop_->UiLanguage(); }

int SimMachine::GetLocaleInfoW(DWORD locale, DWORD lcType, char16_t* data, int size) {
  int n = desktop_->GetLocaleInfoW(locale, lcType, data, size);
  if (n == 0) SimSetLastError(ERROR_INVALID_PARAMETER);
  return n;
}

DWORD SimMachine::FormatMessageW(DWORD flags, const void* /*source*/, DWORD messageId, DWORD languageId,
                                 char16_t* buffer, DWORD size) {
  DWORD n = desktop_->FormatMessageW(flags, messageId, languageId, buffer, size);
  if (n == 0)
    SimSetLastError(languageId ? 1815 /* ERROR_RESOURCE_LANG_NOT_FOUND */
                               : 317 /* ERROR_MR_MID_NOT_FOUND */);
  return n;
}

int32_t SimMachine::CoCreateGuid(GUID* guid) {
  desktop_->NewGuid(guid);
  return 0;
}

int SimMachine::MessageBoxW(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  return desktop_->MessageBoxW(MessageBoxCall{owner, text, caption, type, kernel_->CurrentThreadId()});
}

void* SimMachine::RegisterDeviceNotificationW(HANDLE recipient, void* filter, DWORD flags) {
  return notifications_->RegisterDeviceNotificationW(recipient, filter, flags);
}
BOOL SimMachine::UnregisterDeviceNotification(void* notification) {
  return notifications_->UnregisterDeviceNotification(notification);
}

intptr_t SimMachine::ShellExecuteW(HWND owner, const std::string& verb, const std::string& file,
                                   const std::string& parameters, const std::string& directory, int showCmd) {
  return desktop_->ShellExecuteW(
      ShellExecuteCall{owner, verb, file, parameters, directory, showCmd, kernel_->CurrentThreadId()});
}

HANDLE SimMachine::GetCurrentProcess() { return security_->GetCurrentProcess(); }
BOOL SimMachine::OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token) {
  return security_->OpenProcessToken(process, desiredAccess, token);
}
BOOL SimMachine::GetTokenInformation(HANDLE token, DWORD infoClass, void* info, DWORD length,
                                     DWORD* returnLength) {
  return security_->GetTokenInformation(token, infoClass, info, length, returnLength);
}

UINT SimMachine::GetSystemDirectoryW(std::string* dir) { return processes_->GetSystemDirectoryW(dir); }
UINT SimMachine::SetErrorMode(UINT mode) { return processes_->SetErrorMode(mode); }
BOOL SimMachine::CreatePipe(HANDLE* readPipe, HANDLE* writePipe, BOOL inheritHandle, DWORD size) {
  return processes_->CreatePipe(readPipe, writePipe, inheritHandle, size);
}
BOOL SimMachine::SetHandleInformation(HANDLE h, DWORD mask, DWORD flags) {
  return processes_->SetHandleInformation(h, mask, flags);
}
HANDLE SimMachine::GetStdHandle(DWORD which) { return processes_->GetStdHandle(which); }
BOOL SimMachine::CreateProcessW(const std::string& applicationName, const std::string& commandLine,
                                BOOL inheritHandles, DWORD creationFlags, const std::string& currentDirectory,
                                const STARTUP_INFO& startup, PROCESS_INFO* info) {
  return processes_->CreateProcessW(applicationName, commandLine, inheritHandles, creationFlags, currentDirectory,
                                    startup, info);
}
BOOL SimMachine::PeekNamedPipe(HANDLE pipe, void* buffer, DWORD size, DWORD* read, DWORD* available,
                               DWORD* leftThisMessage) {
  return processes_->PeekNamedPipe(pipe, buffer, size, read, available, leftThisMessage);
}
BOOL SimMachine::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  return processes_->GetExitCodeProcess(process, exitCode);
}
BOOL SimMachine::TerminateProcess(HANDLE process, UINT exitCode) {
  return processes_->TerminateProcess(process, exitCode);
}

}  // namespace plat::sim

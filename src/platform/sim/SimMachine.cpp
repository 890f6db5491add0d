#include "platform/sim/SimMachine.h"

namespace plat::sim {

SimMachine::SimMachine()
    : kernel_(std::make_unique<SimKernel>()),
      files_(std::make_unique<SimFileSystem>(*kernel_)),
      desktop_(std::make_unique<SimDesktop>()),
      storage_(std::make_unique<SimStorage>(*kernel_)),
      bridge_(std::make_unique<SimBridge>(*storage_)) {}

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

BOOL SimMachine::CancelSynchronousIo(HANDLE thread) { return kernel_->CancelSynchronousIo(thread) ? TRUE_ : FALSE_; }

BOOL SimMachine::CloseHandle(HANDLE h) {
  if (!kernel_->CloseHandle(h)) {
    SimSetLastError(ERROR_INVALID_HANDLE);
    return FALSE_;
  }
  return TRUE_;
}

HANDLE SimMachine::CreateFileW(const std::string& path, DWORD access, DWORD share, DWORD creation,
                               DWORD flagsAndAttributes) {
  if (SimStorage::IsDevicePath(path)) return storage_->CreateFileW(path, access, share, creation, flagsAndAttributes);
  return files_->CreateFileW(path, access, share, creation, flagsAndAttributes);
}

static BOOL BadHandle() {
  SimSetLastError(ERROR_INVALID_HANDLE);
  return FALSE_;
}

BOOL SimMachine::ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read) {
  if (files_->Owns(h)) return files_->ReadFile(h, buffer, toRead, read, nullptr);
  if (storage_->Owns(h)) return storage_->ReadFile(h, buffer, toRead, read, nullptr);
  return BadHandle();
}
BOOL SimMachine::WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written) {
  if (files_->Owns(h)) return files_->WriteFile(h, buffer, toWrite, written, nullptr);
  if (storage_->Owns(h)) return storage_->WriteFile(h, buffer, toWrite, written, nullptr);
  return BadHandle();
}
BOOL SimMachine::ReadFileAt(HANDLE h, void* buffer, DWORD toRead, DWORD* read, ULONGLONG offset) {
  if (files_->Owns(h)) return files_->ReadFile(h, buffer, toRead, read, &offset);
  if (storage_->Owns(h)) return storage_->ReadFile(h, buffer, toRead, read, &offset);
  return BadHandle();
}
BOOL SimMachine::WriteFileAt(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, ULONGLONG offset) {
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
  if (files_->Owns(h)) return files_->SetFilePointerEx(h, distance, newPosition, moveMethod);
  if (storage_->Owns(h)) return storage_->SetFilePointerEx(h, distance, newPosition, moveMethod);
  return BadHandle();
}
BOOL SimMachine::GetFileSizeEx(HANDLE h, LONGLONG* size) {
  if (files_->Owns(h)) return files_->GetFileSizeEx(h, size);
  return BadHandle();
}
BOOL SimMachine::SetEndOfFile(HANDLE h) {
  if (files_->Owns(h)) return files_->SetEndOfFile(h);
  return BadHandle();
}
BOOL SimMachine::FlushFileBuffers(HANDLE h) {
  if (files_->Owns(h)) return files_->FlushFileBuffers(h);
  return BadHandle();
}
BOOL SimMachine::DeleteFileW(const std::string& path) { return files_->DeleteFileW(path); }
BOOL SimMachine::CreateDirectoryW(const std::string& path) { return files_->CreateDirectoryW(path); }
BOOL SimMachine::RemoveDirectoryW(const std::string& path) { return files_->RemoveDirectoryW(path); }
DWORD SimMachine::GetFileAttributesW(const std::string& path) { return files_->GetFileAttributesW(path); }
BOOL SimMachine::SetFileAttributesW(const std::string& path, DWORD attributes) {
  return files_->SetFileAttributesW(path, attributes);
}
HANDLE SimMachine::FindFirstFileW(const std::string& pattern, FIND_DATA* data) {
  return files_->FindFirstFileW(pattern, data);
}
BOOL SimMachine::FindNextFileW(HANDLE find, FIND_DATA* data) { return files_->FindNextFileW(find, data); }
BOOL SimMachine::FindClose(HANDLE find) { return files_->FindClose(find); }
DWORD SimMachine::GetCurrentDirectoryW(std::string* dir) { return files_->GetCurrentDirectoryW(dir); }
BOOL SimMachine::SetCurrentDirectoryW(const std::string& dir) { return files_->SetCurrentDirectoryW(dir); }

BOOL SimMachine::GetDiskFreeSpaceExW(const std::string& path, ULONGLONG* freeToCaller, ULONGLONG* total,
                                     ULONGLONG* totalFree) {
  return files_->GetDiskFreeSpaceExW(path, freeToCaller, total, totalFree);
}

BOOL SimMachine::DeviceIoControl(HANDLE h, DWORD ioControlCode, void* inBuffer, DWORD inSize, void* outBuffer,
                                 DWORD outSize, DWORD* bytesReturned) {
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
  if (n == 0) SimSetLastError(languageId ? 1815 /* ERROR_RESOURCE_LANG_NOT_FOUND */
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

}  // namespace plat::sim

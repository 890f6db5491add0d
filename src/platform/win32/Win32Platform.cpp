// Errors, time, threads and waiting, and the desktop's language, locale, messages and boxes.
#include "platform/win32/Win32Platform.h"

#include <windows.h>
#include <objbase.h>
#include <process.h>

#include "platform/win32/Win32Text.h"

namespace plat::win32 {

DWORD Win32Platform::GetLastError() { return ::GetLastError(); }
void Win32Platform::SetLastError(DWORD code) { ::SetLastError(code); }

ULONGLONG Win32Platform::GetTickCount64() { return ::GetTickCount64(); }
void Win32Platform::GetSystemTime(SYSTEMTIME* st) { ::GetSystemTime(reinterpret_cast<::SYSTEMTIME*>(st)); }
void Win32Platform::GetLocalTime(SYSTEMTIME* st) { ::GetLocalTime(reinterpret_cast<::SYSTEMTIME*>(st)); }
void Win32Platform::Sleep(DWORD ms) { ::Sleep(ms); }

HANDLE Win32Platform::CreateThread(size_t dwStackSize, LPTHREAD_START_ROUTINE start, void* param,
                                   DWORD dwCreationFlags, DWORD* lpThreadId) {
  // The program's stack sizes are reservations (4 MiB for its workers); as a commit size the
  // same figure would be taken from memory up front. _beginthreadex rather than CreateThread,
  // so the C run-time's per-thread data is set up and freed with the thread.
  if (dwStackSize != 0) dwCreationFlags |= STACK_SIZE_PARAM_IS_A_RESERVATION;
  unsigned id = 0;
  uintptr_t h = ::_beginthreadex(nullptr, static_cast<unsigned>(dwStackSize), start, param, dwCreationFlags, &id);
  if (h == 0) return nullptr;
  if (lpThreadId) *lpThreadId = id;
  return reinterpret_cast<HANDLE>(h);
}

DWORD Win32Platform::ResumeThread(HANDLE thread) { return ::ResumeThread(thread); }

BOOL Win32Platform::GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
  ::DWORD code = 0;
  BOOL ok = ::GetExitCodeThread(thread, &code);
  if (ok && exitCode) *exitCode = code;
  return ok;
}

DWORD Win32Platform::GetCurrentThreadId() { return ::GetCurrentThreadId(); }

HANDLE Win32Platform::CreateEventW(BOOL manualReset, BOOL initialState) {
  return ::CreateEventW(nullptr, manualReset, initialState, nullptr);
}
BOOL Win32Platform::SetEvent(HANDLE event) { return ::SetEvent(event); }
BOOL Win32Platform::ResetEvent(HANDLE event) { return ::ResetEvent(event); }
DWORD Win32Platform::WaitForSingleObject(HANDLE h, DWORD ms) { return ::WaitForSingleObject(h, ms); }
DWORD Win32Platform::WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) {
  return ::WaitForMultipleObjects(count, handles, waitAll, ms);
}
BOOL Win32Platform::CancelSynchronousIo(HANDLE thread) { return ::CancelSynchronousIo(thread); }
BOOL Win32Platform::CloseHandle(HANDLE h) { return ::CloseHandle(h); }

LANGID Win32Platform::GetUserDefaultUILanguage() { return ::GetUserDefaultUILanguage(); }

int Win32Platform::GetLocaleInfoW(DWORD locale, DWORD lcType, char16_t* data, int size) {
  return ::GetLocaleInfoW(locale, lcType, reinterpret_cast<LPWSTR>(data), size);
}

DWORD Win32Platform::FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                                    char16_t* buffer, DWORD size) {
  // The text always lands in the caller's buffer, and no arguments can be passed through this
  // interface: a system-allocated buffer or an unfilled insert must not reach Windows.
  flags = (flags & ~static_cast<DWORD>(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY)) |
          FORMAT_MESSAGE_IGNORE_INSERTS;
  return ::FormatMessageW(flags, source, messageId, languageId, reinterpret_cast<LPWSTR>(buffer), size, nullptr);
}

int Win32Platform::MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, char16_t* dst,
                                       int dstLen) {
  return ::MultiByteToWideChar(codePage, flags, src, srcLen, reinterpret_cast<LPWSTR>(dst), dstLen);
}

int32_t Win32Platform::CoCreateGuid(GUID* guid) { return ::CoCreateGuid(reinterpret_cast<::GUID*>(guid)); }

int Win32Platform::MessageBoxW(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  return ::MessageBoxW(static_cast<::HWND>(owner), Wide(text).c_str(), Wide(caption).c_str(), type);
}

}  // namespace plat::win32

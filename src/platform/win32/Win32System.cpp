// Device control, pipes and processes, the process token, the shell and device notifications.
#include "platform/win32/Win32Platform.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "platform/win32/Win32Text.h"

namespace plat::win32 {

BOOL Win32Platform::DeviceIoControl(HANDLE h, DWORD ioControlCode, void* inBuffer, DWORD inSize, void* outBuffer,
                                    DWORD outSize, DWORD* bytesReturned) {
  // Synchronous handles only: the count must not be a null pointer there.
  ::DWORD n = 0;
  BOOL ok = ::DeviceIoControl(h, ioControlCode, inBuffer, inSize, outBuffer, outSize, &n, nullptr);
  if (bytesReturned) *bytesReturned = n;
  return ok;
}

BOOL Win32Platform::CreatePipe(HANDLE* readPipe, HANDLE* writePipe, BOOL inheritHandle, DWORD size) {
  SECURITY_ATTRIBUTES sa{};
  sa.nLength = sizeof(sa);
  sa.bInheritHandle = inheritHandle;
  return ::CreatePipe(readPipe, writePipe, &sa, size);
}

BOOL Win32Platform::SetHandleInformation(HANDLE h, DWORD mask, DWORD flags) {
  return ::SetHandleInformation(h, mask, flags);
}

HANDLE Win32Platform::GetStdHandle(DWORD which) { return ::GetStdHandle(which); }

BOOL Win32Platform::CreateProcessW(const std::string& applicationName, const std::string& commandLine,
                                   BOOL inheritHandles, DWORD creationFlags, const std::string& currentDirectory,
                                   const STARTUP_INFO& startup, PROCESS_INFO* info) {
  std::wstring app = Wide(applicationName), dir = Wide(currentDirectory);
  // Windows may write into the command line, so it gets a buffer of its own.
  std::wstring cmd = Wide(commandLine);
  std::vector<wchar_t> cmdBuf(cmd.begin(), cmd.end());
  cmdBuf.push_back(L'\0');
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = startup.dwFlags;
  si.wShowWindow = startup.wShowWindow;
  si.hStdInput = startup.hStdInput;
  si.hStdOutput = startup.hStdOutput;
  si.hStdError = startup.hStdError;
  PROCESS_INFORMATION pi{};
  BOOL ok = ::CreateProcessW(WideOrNull(app), cmdBuf.data(), nullptr, nullptr, inheritHandles, creationFlags,
                             nullptr, WideOrNull(dir), &si, &pi);
  if (ok && info) {
    info->hProcess = pi.hProcess;
    info->hThread = pi.hThread;
    info->dwProcessId = pi.dwProcessId;
    info->dwThreadId = pi.dwThreadId;
  }
  return ok;
}

BOOL Win32Platform::PeekNamedPipe(HANDLE pipe, void* buffer, DWORD size, DWORD* read, DWORD* available,
                                  DWORD* leftThisMessage) {
  static_assert(sizeof(DWORD) == sizeof(::DWORD));
  return ::PeekNamedPipe(pipe, buffer, size, reinterpret_cast<::DWORD*>(read),
                         reinterpret_cast<::DWORD*>(available), reinterpret_cast<::DWORD*>(leftThisMessage));
}

BOOL Win32Platform::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  ::DWORD code = 0;
  BOOL ok = ::GetExitCodeProcess(process, &code);
  if (ok && exitCode) *exitCode = code;
  return ok;
}

BOOL Win32Platform::TerminateProcess(HANDLE process, UINT exitCode) {
  return ::TerminateProcess(process, exitCode);
}

HANDLE Win32Platform::GetCurrentProcess() { return ::GetCurrentProcess(); }

BOOL Win32Platform::OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token) {
  return ::OpenProcessToken(process, desiredAccess, token);
}

BOOL Win32Platform::GetTokenInformation(HANDLE token, DWORD infoClass, void* info, DWORD length,
                                        DWORD* returnLength) {
  ::DWORD n = 0;
  BOOL ok = ::GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(infoClass), info, length, &n);
  if (returnLength) *returnLength = n;
  return ok;
}

intptr_t Win32Platform::ShellExecuteW(HWND owner, const std::string& verb, const std::string& file,
                                      const std::string& parameters, const std::string& directory, int showCmd) {
  std::wstring v = Wide(verb), f = Wide(file), p = Wide(parameters), d = Wide(directory);
  HINSTANCE r =
      ::ShellExecuteW(static_cast<::HWND>(owner), WideOrNull(v), f.c_str(), WideOrNull(p), WideOrNull(d), showCmd);
  return reinterpret_cast<intptr_t>(r);
}

void* Win32Platform::RegisterDeviceNotificationW(HANDLE recipient, void* filter, DWORD flags) {
  return ::RegisterDeviceNotificationW(recipient, filter, flags);
}

BOOL Win32Platform::UnregisterDeviceNotification(void* notification) {
  return ::UnregisterDeviceNotification(notification);
}

}  // namespace plat::win32

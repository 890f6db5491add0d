// Windows' own retrim of an NTFS volume: the wait for a dismounted volume to come back, and
// Optimize-Volume -ReTrim run through PowerShell with its output copied into the log.
#include <string>

#include "core/uFormat.h"
#include "core/uLogger.h"
#include "core/uText.h"
#include "base/uUtf.h"
#include "engine/uTrimExecutor.h"
#include "platform/Platform.h"

using namespace plat;

namespace {

constexpr DWORD kOutputChunk = 4096;
constexpr DWORD kProcessPollMs = 100;
constexpr DWORD kRemountPollMs = 200;
// After a successful TerminateProcess the process is gone within moments; this only bounds a
// process that Windows cannot end at once (stuck in a driver).
constexpr DWORD kTerminatedExitWaitMs = 30000;

// Restores the process error mode on every way out.
class TErrorModeScope {
 public:
  explicit TErrorModeScope(UINT Mode) : FPrevious(Win().SetErrorMode(Mode)) {}
  ~TErrorModeScope() { Win().SetErrorMode(FPrevious); }
  TErrorModeScope(const TErrorModeScope&) = delete;
  TErrorModeScope& operator=(const TErrorModeScope&) = delete;

 private:
  UINT FPrevious;
};

// Reads what the pipe holds now (at most one chunk) and appends every byte of it.
bool ReadAvailable(HANDLE Pipe, std::string& Pending) {
  DWORD available = 0;
  if (!Win().PeekNamedPipe(Pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return false;
  char buf[kOutputChunk];
  DWORD got = 0;
  if (!Win().ReadFile(Pipe, buf, available < kOutputChunk ? available : kOutputChunk, &got) || got == 0)
    return false;
  Pending.append(buf, got);
  return true;
}

}  // namespace

bool TTrimExecutionThread::WaitForVolumeRemount(char Letter, uint32_t TimeoutMs) {
  const std::string root = std::string(1, Letter) + ":\\";
  TErrorModeScope errorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const uint64_t deadline = Win().GetTickCount64() + TimeoutMs;
  for (;;) {
    if (IsCancelRequested()) return false;
    std::string name, fs;
    DWORD serial = 0, maxLen = 0, flags = 0;
    if (Win().GetVolumeInformationW(root, &name, 260, &serial, &maxLen, &flags, &fs, 260)) return true;
    if (Win().GetTickCount64() >= deadline) return false;
    Win().Sleep(kRemountPollMs);
  }
}

bool TTrimExecutionThread::RunOptimizeVolumeReTrim(char Letter, uint32_t TimeoutMs, int32_t& ExitCode) {
  ExitCode = -1;
  FReTrim43022Seen = false;
  // The letter goes into a command line run elevated: nothing but A to Z gets there.
  if (Letter < 'A' || Letter > 'Z') {
    if (FLogger)
      FLogger->Warn(Format("Optimize-Volume: invalid drive letter (code %d)", static_cast<int>(Letter)));
    return false;
  }
  // By full path in the system folder, so no powershell.exe planted in the working folder or
  // beside the program runs in its place.
  std::string systemDir;
  if (Win().GetSystemDirectoryW(&systemDir) == 0) {
    if (FLogger)
      FLogger->Warn(Format("Optimize-Volume: GetSystemDirectoryW failed (winerr=%d)", Win().GetLastError()));
    return false;
  }
  const std::string application = systemDir + "\\WindowsPowerShell\\v1.0\\powershell.exe";

  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!Win().CreatePipe(&readEnd, &writeEnd, TRUE_, 0)) {
    if (FLogger) FLogger->Warn(Format("Optimize-Volume: CreatePipe failed (winerr=%d)", Win().GetLastError()));
    return false;
  }
  Win().SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

  const std::string commandLine =
      std::string("powershell.exe -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command ") + "\"" +
      "[Console]::OutputEncoding = [Text.Encoding]::UTF8; $VerbosePreference = 'Continue'; Optimize-Volume "
      "-DriveLetter " +
      Letter + " -ReTrim -Verbose 4>&1" + "\"";
  STARTUP_INFO startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.hStdInput = Win().GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFO pi;
  if (!Win().CreateProcessW(application, commandLine, TRUE_, CREATE_NO_WINDOW, "", startup, &pi)) {
    if (FLogger) FLogger->Warn(Format("Optimize-Volume: CreateProcessW failed (winerr=%d)", Win().GetLastError()));
    Win().CloseHandle(writeEnd);
    Win().CloseHandle(readEnd);
    return false;
  }
  // Only the child holds a write end now, so the pipe reports its end when PowerShell exits.
  Win().CloseHandle(writeEnd);

  std::string pending;
  auto logEntry = [this](const std::string& Text) {
    if (Text.find("43022") != std::string::npos) FReTrim43022Seen = true;
    if (FLogger) FLogger->Info("  [PS] " + Utf16ToUtf8(Utf8ToUtf16(Text)));
  };
  const uint64_t start = Win().GetTickCount64();
  bool aborted = false;
  for (;;) {
    if (IsCancelRequested()) {
      if (FLogger) FLogger->Warn("Optimize-Volume: cancellation requested");
      aborted = true;
      break;
    }
    if (ReadAvailable(readEnd, pending)) {
      for (size_t lf; (lf = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, lf);
        pending.erase(0, lf + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!Trim(line).empty()) logEntry(line);
      }
    }
    const DWORD w = Win().WaitForSingleObject(pi.hProcess, kProcessPollMs);
    if (w == WAIT_OBJECT_0) break;
    if (w != WAIT_TIMEOUT) {
      // A wait that fails at once would spin here for ever: give the process up as after a time-out.
      if (FLogger) FLogger->Warn(Format("Optimize-Volume: wait failed (winerr=%d)", Win().GetLastError()));
      aborted = true;
      break;
    }
    if (TimeoutMs > 0 && Win().GetTickCount64() - start > TimeoutMs) {
      if (FLogger) FLogger->Warn(Format("Optimize-Volume: timeout after %d ms", TimeoutMs));
      aborted = true;
      break;
    }
  }
  bool ended = !aborted;
  if (aborted) {
    if (Win().TerminateProcess(pi.hProcess, 1)) {
      ended = Win().WaitForSingleObject(pi.hProcess, kTerminatedExitWaitMs) == WAIT_OBJECT_0;
      if (!ended && FLogger) FLogger->Warn("Optimize-Volume: process did not end after termination; left running");
    } else if (FLogger) {
      FLogger->Warn(
          Format("Optimize-Volume: TerminateProcess failed (winerr=%d); left running", Win().GetLastError()));
    }
  }
  while (ReadAvailable(readEnd, pending)) {}
  if (!Trim(pending).empty()) logEntry(pending);
  if (ended) {
    DWORD code = 0;
    ExitCode = Win().GetExitCodeProcess(pi.hProcess, &code) ? static_cast<int32_t>(code) : -1;
  }
  Win().CloseHandle(pi.hProcess);
  Win().CloseHandle(pi.hThread);
  Win().CloseHandle(readEnd);
  return !aborted && ExitCode == 0;
}

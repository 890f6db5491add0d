#include "core/uLogger.h"

#include <cstdio>
#include <vector>

#include "core/uFileWrite.h"
#include "core/uMainThread.h"
#include "base/uUtf.h"

using namespace plat;

namespace {

const char* const kTagInfo = " [INFO] ";
const char* const kTagWarn = " [WARN] ";
const char* const kTagError = " [ERROR] ";

// Creates the folder that holds `fileName`; failures are left to the open that follows.
void CreateFolderChain(const std::string& fileName) {
  const size_t cut = fileName.find_last_of("\\/");
  if (cut != std::string::npos) ForceDirectories(fileName.substr(0, cut));
}

const char* WinErrorTextBuiltin(uint32_t Code) {
  switch (Code) {
    case 0: return "The operation completed successfully.";
    case 1: return "Incorrect function.";
    case 2: return "The system cannot find the file specified.";
    case 3: return "The system cannot find the path specified.";
    case 5: return "Access is denied.";
    case 6: return "The handle is invalid.";
    case 19: return "The media is write protected.";
    case 21: return "The device is not ready.";
    case 22: return "The device does not recognize the command.";
    case 23: return "Data error (cyclic redundancy check).";
    case 27: return "The drive cannot find the sector requested.";
    case 29: return "The system cannot write to the specified device.";
    case 30: return "The system cannot read from the specified device.";
    case 31: return "A device attached to the system is not functioning.";
    case 32: return "The process cannot access the file because it is being used by another process.";
    case 50: return "The request is not supported.";
    case 55: return "The specified network resource or device is no longer available.";
    case 87: return "The parameter is incorrect.";
    case 112: return "There is not enough space on the disk.";
    case 121: return "The semaphore timeout period has expired.";
    case 123: return "The filename, directory name, or volume label syntax is incorrect.";
    case 170: return "The requested resource is in use.";
    case 433: return "A device which does not exist was specified.";
    case 483: return "The request failed due to a fatal device hardware error.";
    case 995:
      return "The I/O operation has been aborted because of either a thread exit or an application request.";
    case 997: return "Overlapped I/O operation is in progress.";
    case 998: return "Invalid access to memory location.";
    case 1110: return "The media in the drive may have changed.";
    case 1112: return "No media in drive.";
    case 1117: return "The request could not be performed because of an I/O device error.";
    case 1167: return "The device is not connected.";
    case 1168: return "Element not found.";
    case 1450: return "Insufficient system resources exist to complete the requested service.";
    case 1460: return "This operation returned because the timeout period expired.";
    default: return nullptr;
  }
}

// Trims characters 0 to 32 at both ends (the system message ends in CR LF).
std::u16string TrimControls(const std::u16string& s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] <= 32) ++b;
  while (e > b && s[e - 1] <= 32) --e;
  return s.substr(b, e - b);
}

}  // namespace

TLogger::TLogger(const std::string& AFileName) : FShared(std::make_shared<TShared>()), FFileName(AFileName) {}

TLogger::~TLogger() {
  {
    std::lock_guard<std::mutex> lk(FShared->FLock);
    FShared->FOnLog = nullptr;
    FShared->FPending.clear();
    if (FStream) {
      Win().CloseHandle(FStream);
      FStream = nullptr;
    }
  }
  // Flushes still queued find no handler; running them here lets none outlive the log's owner.
  if (HasMainThread() && MainThread().IsMainThread()) MainThread().CheckSynchronize();
}

void TLogger::DisableFileOutput() {
  std::lock_guard<std::mutex> lk(FShared->FLock);
  FFileEnabled = false;
  if (FStream) {
    Win().CloseHandle(FStream);
    FStream = nullptr;
  }
}

void TLogger::SetOnLog(TLogLineEvent Handler) {
  std::lock_guard<std::mutex> lk(FShared->FLock);
  FShared->FOnLog = std::move(Handler);
}

void TLogger::SetSuppressInfo(bool Value) {
  std::lock_guard<std::mutex> lk(FShared->FLock);
  FSuppressInfo = Value;
}

void TLogger::Info(const std::string& Msg) { Write(kTagInfo, Msg, true); }
void TLogger::Warn(const std::string& Msg) { Write(kTagWarn, Msg, false); }
void TLogger::Error(const std::string& Msg) { Write(kTagError, Msg, false); }

std::string TLogger::FormatTimestamp() {
  SYSTEMTIME st;
  Win().GetSystemTime(&st);
  char buf[64];  // room for any WORD values, so the format cannot truncate
  std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3dZ", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond, st.wMilliseconds);
  return buf;
}

void TLogger::Write(const char* Tag, const std::string& Msg, bool IsInfo) {
  TLogLineEvent handler;
  std::string line;
  // Logging must not change what the caller reads from GetLastError afterwards.
  const DWORD savedError = Win().GetLastError();
  {
    std::lock_guard<std::mutex> lk(FShared->FLock);
    if (IsInfo && FSuppressInfo) return;
    // Stamped under the lock, so the file's lines are in time order.
    line = FormatTimestamp() + Tag + Msg;
    WriteToFile(line);
    // Without a dispatcher there is no main thread to show the line on; the file has it.
    if (FShared->FOnLog && HasMainThread()) {
      if (MainThread().IsMainThread()) {
        handler = FShared->FOnLog;
      } else {
        FShared->FPending.push_back(line);
        MainThread().Queue([shared = FShared] { FlushPending(shared); });
      }
    }
  }
  Win().SetLastError(savedError);
  // Outside the lock, so the handler may log itself.
  if (handler) handler(line);
}

void TLogger::WriteToFile(const std::string& Line) {
  if (!FFileEnabled) return;
  EnsureFileOpen();
  if (!FStream) return;
  const std::string bytes = Line + "\r\n";
  DWORD written = 0;
  // One call per line, so lines of another writer never land inside it; a failure is dropped
  // and the next line tries again.
  Win().WriteFile(FStream, bytes.data(), static_cast<DWORD>(bytes.size()), &written);
}

void TLogger::EnsureFileOpen() {
  if (FStream || FOpenFailed) return;
  CreateFolderChain(FFileName);
  // Append rights without write rights: every write lands at the file's current end, so two
  // program starts sharing one file name (same second) both keep every line.
  HANDLE h = Win().CreateFileW(FFileName, GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  if (h == VT_INVALID_HANDLE_VALUE || h == nullptr) {
    FOpenFailed = true;
    return;
  }
  if (!Win().SetFilePointerEx(h, 0, nullptr, FILE_END)) {
    Win().CloseHandle(h);
    FOpenFailed = true;
    return;
  }
  FStream = h;
}

void TLogger::FlushPending(const std::shared_ptr<TShared>& Shared) {
  std::vector<std::string> lines;
  TLogLineEvent handler;
  {
    std::lock_guard<std::mutex> lk(Shared->FLock);
    handler = Shared->FOnLog;
    if (handler) {
      lines.assign(std::make_move_iterator(Shared->FPending.begin()),
                   std::make_move_iterator(Shared->FPending.end()));
      Shared->FPending.clear();
    }
  }
  if (handler)
    for (const std::string& l : lines) handler(l);
}

void TLogger::LogApiCall(const std::string& ApiName, const std::string& Params, bool Ok, uint32_t WinErr,
                         uint64_t ElapsedMs) {
  LogApiCallEx(ApiName, Params, Ok, WinErr, ElapsedMs, false);
}

void TLogger::LogApiCallEx(const std::string& ApiName, const std::string& Params, bool Ok, uint32_t WinErr,
                           uint64_t ElapsedMs, bool WarnOnFailure) {
  const std::string msg = ApiName + "(params=" + Params + ", ret=" + (Ok ? "True" : "False") +
                          ", winerr=" + std::to_string(static_cast<int32_t>(WinErr)) + ", errtxt=\"" +
                          WinErrorText(WinErr) + "\", elapsed_ms=" + std::to_string(ElapsedMs) + ")";
  if (Ok)
    Info(msg);
  else if (WarnOnFailure)
    Warn(msg);
  else
    Error(msg);
}

std::string WinErrorText(uint32_t Code) {
  if (const char* builtin = WinErrorTextBuiltin(Code)) return builtin;
  const DWORD savedError = Win().GetLastError();
  constexpr DWORD kUnits = 2048;
  std::vector<char16_t> buf(kUnits, u'\0');
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD n = Win().FormatMessageW(flags, nullptr, Code, 0x409, buf.data(), kUnits);
  if (n == 0) n = Win().FormatMessageW(flags, nullptr, Code, 0, buf.data(), kUnits);
  Win().SetLastError(savedError);
  if (n > 0) return Utf16ToUtf8(TrimControls(U16FromBuffer(buf.data(), kUnits)));
  return "WinErr=" + std::to_string(static_cast<int32_t>(Code)) + " (FormatMessage failed)";
}

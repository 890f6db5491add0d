// The real Win32 layer, run under wine (or Windows). Nothing here touches a disk device: files
// live in a temporary folder, and system texts are checked for presence, never for wording.
#include "platform/win32/Win32Platform.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/uTypes.h"
#include "base/uUtf.h"

using plat::Win;

namespace {

class Win32PlatformTest : public ::testing::Test {
 protected:
  plat::win32::Win32Platform platform_;
  plat::ScopedPlatform scoped_{&platform_};
};

// A fresh folder under the user's temp folder, with a name that needs more than ASCII.
class Win32FilesTest : public Win32PlatformTest {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH + 1] = {};
    ASSERT_GT(::GetTempPathW(MAX_PATH + 1, tmp), 0u);
    wide_ = std::wstring(tmp) + L"vt_\u0442\u0435\u0441\u0442_\uD55C\uAE00_" +
            std::to_wstring(::GetCurrentProcessId());
    dir_ = Utf16ToUtf8(std::u16string(wide_.begin(), wide_.end()));
    ASSERT_TRUE(Win().CreateDirectoryW(dir_)) << Win().GetLastError();
  }
  void TearDown() override {
    // Whatever a failed test left behind.
    WIN32_FIND_DATAW fd;
    HANDLE f = ::FindFirstFileW((wide_ + L"\\*").c_str(), &fd);
    if (f != INVALID_HANDLE_VALUE) {
      do {
        std::wstring p = wide_ + L"\\" + fd.cFileName;
        ::SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(p.c_str());
      } while (::FindNextFileW(f, &fd));
      ::FindClose(f);
    }
    ::RemoveDirectoryW(wide_.c_str());
  }
  std::wstring wide_;
  std::string dir_;
};

std::string VersionString(const std::vector<char>& block, const std::string& key) {
  void* p = nullptr;
  plat::UINT len = 0;
  if (!Win().VerQueryValueW(block.data(), "\\VarFileInfo\\Translation", &p, &len) || len < 4)
    return "<no translation>";
  const auto* t = static_cast<const uint16_t*>(p);
  char sub[64];
  std::snprintf(sub, sizeof sub, "\\StringFileInfo\\%04X%04X\\", t[0], t[1]);
  if (!Win().VerQueryValueW(block.data(), sub + key, &p, &len)) return "<no " + key + ">";
  return Utf16ToUtf8(U16FromBuffer(static_cast<const char16_t*>(p), len));
}

TEST_F(Win32PlatformTest, ReadsItsOwnVersionResource) {
  std::string self;
  ASSERT_GT(Win().GetModuleFileNameW(&self), 0u);
  EXPECT_NE(self.find("vt_tests.exe"), std::string::npos) << self;
  plat::DWORD handle = 1;
  plat::DWORD size = Win().GetFileVersionInfoSizeW(self, &handle);
  ASSERT_GT(size, 0u) << Win().GetLastError();
  std::vector<char> block(size);
  ASSERT_TRUE(Win().GetFileVersionInfoW(self, handle, size, block.data())) << Win().GetLastError();
  EXPECT_EQ(VersionString(block, "FileVersion"), "0.1.0.2");
  EXPECT_EQ(VersionString(block, "ProductVersion"), "0.1.0.2");
  EXPECT_EQ(VersionString(block, "ProductName"), "vrek_trim_tool");
  EXPECT_EQ(VersionString(block, "CompanyName"), "Vrek");
}

// The program's own reader, on the real calls, against the resource linked into this executable.
TEST_F(Win32PlatformTest, TheProgramsVersionReaderSeesItsOwnFileVersion) {
  EXPECT_EQ(GetAppFileVersion(), "0.1.0.2");
}

TEST_F(Win32PlatformTest, FileWithoutVersionResourceFailsWithACause) {
  std::string sys;
  ASSERT_GT(Win().GetSystemDirectoryW(&sys), 0u);
  Win().SetLastError(0);
  EXPECT_EQ(Win().GetFileVersionInfoSizeW(sys + "\\no_such_file_vt.dll", nullptr), 0u);
  EXPECT_NE(Win().GetLastError(), 0u);
}

TEST_F(Win32FilesTest, FileRoundTripUnderANonAsciiName) {
  const std::string name = dir_ + "\\\u0444\u0430\u0439\u043B_\u65E5\u672C.bin";
  plat::HANDLE h =
      Win().CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(h, VT_INVALID_HANDLE_VALUE) << Win().GetLastError();
  // The UTF-8 name reached Windows as the UTF-16 name we meant.
  EXPECT_NE(::GetFileAttributesW((wide_ + L"\\\u0444\u0430\u0439\u043B_\u65E5\u672C.bin").c_str()),
            INVALID_FILE_ATTRIBUTES);

  plat::DWORD n = 0;
  ASSERT_TRUE(Win().WriteFile(h, "0123456789", 10, &n));
  EXPECT_EQ(n, 10u);
  ASSERT_TRUE(Win().WriteFileAt(h, "AB", 2, &n, 4));
  char buf[16] = {};
  ASSERT_TRUE(Win().ReadFileAt(h, buf, 10, &n, 0));
  EXPECT_EQ(std::string(buf, n), "0123AB6789");
  plat::LONGLONG pos = -1, size = -1;
  ASSERT_TRUE(Win().SetFilePointerEx(h, 3, &pos, FILE_BEGIN));
  EXPECT_EQ(pos, 3);
  ASSERT_TRUE(Win().ReadFile(h, buf, 4, &n));
  EXPECT_EQ(std::string(buf, n), "3AB6");
  // 32-bit form: low part back, no error.
  Win().SetLastError(ERROR_GEN_FAILURE);
  EXPECT_EQ(Win().SetFilePointer(h, 8, nullptr, FILE_BEGIN), 8u);
  ASSERT_TRUE(Win().SetEndOfFile(h));
  ASSERT_TRUE(Win().GetFileSizeEx(h, &size));
  EXPECT_EQ(size, 8);
  EXPECT_TRUE(Win().FlushFileBuffers(h));
  // At the end, a plain read succeeds with nothing read; a positioned read fails with EOF.
  ASSERT_TRUE(Win().ReadFile(h, buf, 4, &n));
  EXPECT_EQ(n, 0u);
  n = 99;
  EXPECT_FALSE(Win().ReadFileAt(h, buf, 4, &n, 8));
  EXPECT_EQ(Win().GetLastError(), static_cast<plat::DWORD>(ERROR_HANDLE_EOF));
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(Win().CloseHandle(h));

  // CREATE_NEW of a file that exists.
  EXPECT_EQ(Win().CreateFileW(name, GENERIC_WRITE, 0, CREATE_NEW, 0), VT_INVALID_HANDLE_VALUE);
  EXPECT_EQ(Win().GetLastError(), static_cast<plat::DWORD>(ERROR_FILE_EXISTS));

  plat::FIND_DATA fd;
  plat::HANDLE f = Win().FindFirstFileW(dir_ + "\\*.bin", &fd);
  ASSERT_NE(f, VT_INVALID_HANDLE_VALUE) << Win().GetLastError();
  EXPECT_EQ(fd.cFileName, "\u0444\u0430\u0439\u043B_\u65E5\u672C.bin");
  EXPECT_EQ(fd.nFileSize, 8u);
  EXPECT_FALSE(Win().FindNextFileW(f, &fd));
  EXPECT_EQ(Win().GetLastError(), static_cast<plat::DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(Win().FindClose(f));

  ASSERT_TRUE(Win().SetFileAttributesW(name, FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(Win().GetFileAttributesW(name) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(Win().DeleteFileW(name));
  EXPECT_EQ(Win().GetLastError(), static_cast<plat::DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_TRUE(Win().SetFileAttributesW(name, FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(Win().DeleteFileW(name));
  EXPECT_EQ(Win().GetFileAttributesW(name), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Win().GetLastError(), static_cast<plat::DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Win32FilesTest, FoldersAndTheCurrentDirectory) {
  EXPECT_FALSE(Win().CreateDirectoryW(dir_));
  EXPECT_EQ(Win().GetLastError(), static_cast<plat::DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(Win().GetFileAttributesW(dir_) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(Win().CreateFileW(dir_ + "\\missing\\x.txt", GENERIC_READ, 0, OPEN_EXISTING, 0),
            VT_INVALID_HANDLE_VALUE);
  EXPECT_EQ(Win().GetLastError(), static_cast<plat::DWORD>(ERROR_PATH_NOT_FOUND));

  std::string before;
  ASSERT_GT(Win().GetCurrentDirectoryW(&before), 0u);
  ASSERT_TRUE(Win().SetCurrentDirectoryW(dir_));
  std::string now;
  plat::DWORD len = Win().GetCurrentDirectoryW(&now);
  EXPECT_TRUE(Win().SetCurrentDirectoryW(before));
  EXPECT_EQ(now, dir_);
  EXPECT_EQ(len, wide_.size());  // characters, as Windows counts them

  const std::string sub = dir_ + "\\sub";
  ASSERT_TRUE(Win().CreateDirectoryW(sub));
  plat::HANDLE h = Win().CreateFileW(sub + "\\f", GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
  ASSERT_NE(h, VT_INVALID_HANDLE_VALUE);
  Win().CloseHandle(h);
  EXPECT_FALSE(Win().RemoveDirectoryW(sub));
  EXPECT_EQ(Win().GetLastError(), static_cast<plat::DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(Win().DeleteFileW(sub + "\\f"));
  EXPECT_TRUE(Win().RemoveDirectoryW(sub));

  plat::ULONGLONG freeToCaller = 0, total = 0, totalFree = 0;
  EXPECT_TRUE(Win().GetDiskFreeSpaceExW(dir_, &freeToCaller, &total, &totalFree));
  EXPECT_GT(total, 0u);
}

struct StackJob {
  size_t bytes;
  plat::DWORD threadId = 0;
};

plat::DWORD UseDeepStack(void* p) {
  auto* job = static_cast<StackJob*>(p);
  // Touches most of a 4 MiB reservation; the default 2 MiB stack would overflow here.
  char* block = static_cast<char*>(__builtin_alloca(job->bytes));
  std::memset(block, 0x5A, job->bytes);
  job->threadId = Win().GetCurrentThreadId();
  return static_cast<plat::DWORD>(block[job->bytes - 1]) + 1;
}

TEST_F(Win32PlatformTest, SuspendedThreadWithFourMiBStackRunsWhenResumed) {
  StackJob job{3u << 20};
  plat::DWORD id = 0;
  plat::HANDLE t = Win().CreateThread(4u << 20, UseDeepStack, &job, CREATE_SUSPENDED, &id);
  ASSERT_NE(t, nullptr) << Win().GetLastError();
  EXPECT_NE(id, 0u);
  EXPECT_EQ(Win().WaitForSingleObject(t, 0), static_cast<plat::DWORD>(WAIT_TIMEOUT));
  plat::DWORD code = 0;
  ASSERT_TRUE(Win().GetExitCodeThread(t, &code));
  EXPECT_EQ(code, static_cast<plat::DWORD>(STILL_ACTIVE));
  EXPECT_EQ(Win().ResumeThread(t), 1u);
  ASSERT_EQ(Win().WaitForSingleObject(t, 60000), static_cast<plat::DWORD>(WAIT_OBJECT_0));
  ASSERT_TRUE(Win().GetExitCodeThread(t, &code));
  EXPECT_EQ(code, 0x5Bu);
  EXPECT_EQ(job.threadId, id);
  EXPECT_TRUE(Win().CloseHandle(t));
}

plat::DWORD SetOwnError(void* p) {
  Win().SetLastError(1234);
  auto* ev = static_cast<plat::HANDLE*>(p);
  Win().SetEvent(ev[0]);
  Win().WaitForSingleObject(ev[1], INFINITE);
  return Win().GetLastError();
}

TEST_F(Win32PlatformTest, EventsWaitsAndPerThreadLastError) {
  plat::HANDLE ev[2] = {Win().CreateEventW(FALSE, FALSE), Win().CreateEventW(TRUE, FALSE)};
  ASSERT_NE(ev[0], nullptr);
  ASSERT_NE(ev[1], nullptr);
  Win().SetLastError(42);
  plat::HANDLE t = Win().CreateThread(0, SetOwnError, ev, 0, nullptr);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(Win().WaitForSingleObject(ev[0], 60000), static_cast<plat::DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(Win().GetLastError(), 42u);  // the worker's 1234 stayed on the worker
  // Auto-reset: consumed by the wait above.
  EXPECT_EQ(Win().WaitForSingleObject(ev[0], 0), static_cast<plat::DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(Win().SetEvent(ev[1]));
  plat::HANDLE both[2] = {t, ev[1]};
  EXPECT_EQ(Win().WaitForMultipleObjects(2, both, TRUE, 60000), static_cast<plat::DWORD>(WAIT_OBJECT_0));
  plat::DWORD code = 0;
  EXPECT_TRUE(Win().GetExitCodeThread(t, &code));
  EXPECT_EQ(code, 1234u);
  ASSERT_TRUE(Win().ResetEvent(ev[1]));
  EXPECT_EQ(Win().WaitForMultipleObjects(1, &ev[1], FALSE, 0), static_cast<plat::DWORD>(WAIT_TIMEOUT));
  for (plat::HANDLE h : {t, ev[0], ev[1]}) EXPECT_TRUE(Win().CloseHandle(h));
  EXPECT_FALSE(Win().CloseHandle(nullptr));
}

plat::DWORD ReadPipe(void* p) {
  char c;
  plat::DWORD n = 0;
  if (Win().ReadFile(*static_cast<plat::HANDLE*>(p), &c, 1, &n)) return 0;
  return Win().GetLastError();
}

TEST_F(Win32PlatformTest, CancelSynchronousIoEndsABlockedPipeRead) {
  plat::HANDLE rd = nullptr, wr = nullptr;
  ASSERT_TRUE(Win().CreatePipe(&rd, &wr, FALSE, 0));
  plat::HANDLE t = Win().CreateThread(0, ReadPipe, &rd, 0, nullptr);
  ASSERT_NE(t, nullptr);
  // Until the worker sits in its read there is nothing to cancel (ERROR_NOT_FOUND).
  const plat::ULONGLONG until = Win().GetTickCount64() + 30000;
  while (!Win().CancelSynchronousIo(t) && Win().GetTickCount64() < until) Win().Sleep(1);
  ASSERT_EQ(Win().WaitForSingleObject(t, 30000), static_cast<plat::DWORD>(WAIT_OBJECT_0));
  plat::DWORD code = 0;
  EXPECT_TRUE(Win().GetExitCodeThread(t, &code));
  EXPECT_EQ(code, static_cast<plat::DWORD>(ERROR_OPERATION_ABORTED));
  for (plat::HANDLE h : {t, rd, wr}) Win().CloseHandle(h);
}

TEST_F(Win32PlatformTest, PipePeekReadAndItsEndAndAProcessThatIsNotThere) {
  plat::HANDLE rd = nullptr, wr = nullptr;
  ASSERT_TRUE(Win().CreatePipe(&rd, &wr, TRUE, 0));
  EXPECT_TRUE(Win().SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0));
  plat::DWORD n = 0, avail = 0;
  ASSERT_TRUE(Win().WriteFile(wr, "ab\0cd", 5, &n));
  ASSERT_TRUE(Win().PeekNamedPipe(rd, nullptr, 0, nullptr, &avail, nullptr));
  EXPECT_EQ(avail, 5u);
  char buf[8] = {};
  ASSERT_TRUE(Win().ReadFile(rd, buf, avail, &n));
  EXPECT_EQ(std::string(buf, n), std::string("ab\0cd", 5));
  Win().CloseHandle(wr);
  EXPECT_FALSE(Win().PeekNamedPipe(rd, nullptr, 0, nullptr, &avail, nullptr));  // the pipe has ended
  Win().CloseHandle(rd);

  plat::STARTUP_INFO si;
  plat::PROCESS_INFO pi;
  EXPECT_FALSE(
      Win().CreateProcessW("C:\\no\\such\\program.exe", "program.exe", FALSE, CREATE_NO_WINDOW, "", si, &pi));
  EXPECT_NE(Win().GetLastError(), 0u);
}

TEST_F(Win32PlatformTest, SystemMessagesAreLookedUpButNotWorded) {
  char16_t buf[2048];
  plat::DWORD n = Win().FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                       ERROR_ACCESS_DENIED, 0x0409, buf, 2048);
  if (n == 0)
    n = Win().FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             ERROR_ACCESS_DENIED, 0, buf, 2048);
  EXPECT_GT(n, 0u);
  // A code with no text at all: nothing, and a cause.
  EXPECT_EQ(Win().FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 0x2FFFFFFF,
                                 0, buf, 2048),
            0u);
  EXPECT_NE(Win().GetLastError(), 0u);
  // A caller can never make Windows allocate: the text still lands in the caller's buffer.
  std::memset(buf, 0, sizeof buf);
  n = Win().FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                           ERROR_ACCESS_DENIED, 0, buf, 2048);
  EXPECT_GT(n, 0u);
  EXPECT_EQ(std::char_traits<char16_t>::length(buf), n);
}

TEST_F(Win32PlatformTest, LocaleLanguageClockAndGuids) {
  EXPECT_NE(Win().GetUserDefaultUILanguage(), 0u);
  char16_t sep[8] = {};
  for (plat::DWORD type : {LOCALE_SDECIMAL, LOCALE_STHOUSAND}) {
    int n = Win().GetLocaleInfoW(LOCALE_USER_DEFAULT, type, sep, 8);
    EXPECT_GE(n, 1) << type;  // the NUL at least; the thousands separator may be empty
  }

  char16_t w[8] = {};
  EXPECT_EQ(Win().MultiByteToWideChar(CP_UTF8, 0, "\xED\x95\x9C", 3, w, 8), 1);
  EXPECT_EQ(w[0], u'\uD55C');

  plat::SYSTEMTIME st;
  Win().GetSystemTime(&st);
  EXPECT_GE(st.wYear, 2020);
  EXPECT_GE(st.wMonth, 1);
  EXPECT_LE(st.wMonth, 12);
  Win().GetLocalTime(&st);
  EXPECT_GE(st.wYear, 2020);
  const plat::ULONGLONG t0 = Win().GetTickCount64();
  Win().Sleep(2);
  EXPECT_GE(Win().GetTickCount64(), t0);

  plat::GUID a, b;
  EXPECT_EQ(Win().CoCreateGuid(&a), 0);
  EXPECT_EQ(Win().CoCreateGuid(&b), 0);
  EXPECT_NE(std::memcmp(&a, &b, sizeof a), 0);
}

TEST_F(Win32PlatformTest, SystemFoldersDrivesAndToken) {
  std::string win, sys;
  EXPECT_GT(Win().GetWindowsDirectoryW(&win), 0u);
  EXPECT_GT(Win().GetSystemDirectoryW(&sys), 0u);
  EXPECT_EQ(sys.rfind(win, 0), 0u) << sys << " / " << win;
  EXPECT_TRUE(Win().GetLogicalDrives() & (1u << ('C' - 'A')));
  std::string fsName;
  EXPECT_TRUE(Win().GetVolumeInformationW("C:\\", nullptr, 0, nullptr, nullptr, nullptr, &fsName, 32));
  EXPECT_FALSE(fsName.empty());
  const plat::UINT before = Win().SetErrorMode(SEM_FAILCRITICALERRORS);
  EXPECT_EQ(Win().SetErrorMode(before), static_cast<plat::UINT>(SEM_FAILCRITICALERRORS));

  plat::HANDLE token = nullptr;
  ASSERT_TRUE(Win().OpenProcessToken(Win().GetCurrentProcess(), TOKEN_QUERY, &token));
  plat::DWORD elevated = 7, len = 0;
  EXPECT_TRUE(Win().GetTokenInformation(token, TokenElevation, &elevated, sizeof elevated, &len));
  EXPECT_EQ(len, sizeof elevated);
  EXPECT_LE(elevated, 1u);
  Win().CloseHandle(token);
}

TEST(Win32Constants, InvalidHandleValueIsWindows) { EXPECT_EQ(VT_INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE); }

}  // namespace

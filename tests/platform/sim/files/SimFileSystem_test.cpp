#include "platform/sim/files/SimFileSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <vector>

#include "TestTempPath.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;

namespace {

class SimFileSystemTest : public ::testing::Test {
 protected:
  SimFileSystem& Fs() { return m->Files(); }

  HANDLE Open(const std::string& path, DWORD access, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE,
              DWORD creation = OPEN_ALWAYS) {
    return Win().CreateFileW(path, access, share, creation, FILE_ATTRIBUTE_NORMAL);
  }
  // Opens, or returns the error of the failed open as a negative number.
  long long OpenResult(const std::string& path, DWORD access, DWORD share, DWORD creation) {
    HANDLE h = Open(path, access, share, creation);
    if (h == VT_INVALID_HANDLE_VALUE) return -static_cast<long long>(Win().GetLastError());
    handles_.push_back(h);
    return 1;
  }
  bool Write(HANDLE h, const std::string& s) {
    DWORD n = 0;
    return Win().WriteFile(h, s.data(), static_cast<DWORD>(s.size()), &n) && n == s.size();
  }
  std::string Read(HANDLE h, DWORD max = 4096) {
    std::string buf(max, '\0');
    DWORD n = 0;
    if (!Win().ReadFile(h, buf.data(), max, &n)) return "<fail>";
    buf.resize(n);
    return buf;
  }
  std::vector<std::string> Find(const std::string& pattern, DWORD* error = nullptr) {
    std::vector<std::string> names;
    FIND_DATA fd;
    HANDLE h = Win().FindFirstFileW(pattern, &fd);
    if (h == VT_INVALID_HANDLE_VALUE) {
      if (error) *error = Win().GetLastError();
      return names;
    }
    do names.push_back(fd.cFileName);
    while (Win().FindNextFileW(h, &fd));
    EXPECT_EQ(Win().GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(Win().FindClose(h));
    return names;
  }
  void TearDown() override {
    for (HANDLE h : handles_) Win().CloseHandle(h);
  }

  ScopedSimMachine m;
  std::vector<HANDLE> handles_;
};

TEST_F(SimFileSystemTest, CreationDispositionsOverExistingAndMissingFiles) {
  struct Case {
    DWORD creation;
    bool exists;
    DWORD error;               // 0: the open succeeds
    DWORD lastError;           // after a successful open
    const char* contentAfter;  // nullptr: no file
  };
  const Case cases[] = {
      {CREATE_NEW, true, ERROR_FILE_EXISTS, 0, "old"},
      {CREATE_NEW, false, 0, 0, ""},
      {CREATE_ALWAYS, true, 0, ERROR_ALREADY_EXISTS, ""},
      {CREATE_ALWAYS, false, 0, 0, ""},
      {OPEN_EXISTING, true, 0, 0, "old"},
      {OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, 0, nullptr},
      {OPEN_ALWAYS, true, 0, ERROR_ALREADY_EXISTS, "old"},
      {OPEN_ALWAYS, false, 0, 0, ""},
      {TRUNCATE_EXISTING, true, 0, 0, ""},
      {TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "creation " << c.creation << (c.exists ? " existing" : " missing"));
    const std::string path = "C:\\t\\f.bin";
    if (Fs().Exists(path)) {
      ASSERT_TRUE(Win().DeleteFileW(path));
    }
    if (c.exists) Fs().WriteAll(path, "old");
    Win().SetLastError(12345);
    HANDLE h = Open(path, GENERIC_READ | GENERIC_WRITE, 0, c.creation);
    if (c.error) {
      EXPECT_EQ(h, VT_INVALID_HANDLE_VALUE);
      EXPECT_EQ(Win().GetLastError(), c.error);
    } else {
      ASSERT_NE(h, VT_INVALID_HANDLE_VALUE);
      EXPECT_EQ(Win().GetLastError(), c.lastError);
      Win().CloseHandle(h);
    }
    EXPECT_EQ(Fs().Exists(path), c.contentAfter != nullptr);
    if (c.contentAfter) {
      EXPECT_EQ(Fs().ReadAll(path), c.contentAfter);
    }
  }
  // A missing folder on the way, a bad disposition, truncation without write rights.
  EXPECT_EQ(OpenResult("C:\\nope\\f.bin", GENERIC_WRITE, 0, CREATE_ALWAYS), -3);
  EXPECT_EQ(OpenResult("Q:\\f.bin", GENERIC_WRITE, 0, CREATE_ALWAYS), -3);
  EXPECT_EQ(OpenResult("C:\\t\\f.bin", GENERIC_WRITE, 0, 0), -87);
  EXPECT_EQ(OpenResult("C:\\t\\f.bin", GENERIC_READ, 0, TRUNCATE_EXISTING), -87);
  // A folder is not a file; a device path is not this module's.
  EXPECT_EQ(OpenResult("C:\\t", GENERIC_READ, 0, OPEN_EXISTING), -5);
  EXPECT_EQ(OpenResult("\\\\.\\PhysicalDrive1", GENERIC_READ, 3, OPEN_EXISTING), -2);
}

TEST_F(SimFileSystemTest, ShareModesAreCheckedBothWays) {
  const DWORD R = FILE_SHARE_READ, W = FILE_SHARE_WRITE, D = FILE_SHARE_DELETE;
  struct Case {
    DWORD access1, share1, access2, share2;
    bool secondOpens;
  };
  const Case cases[] = {
      {GENERIC_READ, R, GENERIC_READ, R, true},
      {GENERIC_READ, R, GENERIC_WRITE, R | W, false},  // the first denies writers
      {GENERIC_WRITE, R | W, GENERIC_READ, R, false},  // the second denies the first's writing
      {GENERIC_READ, 0, GENERIC_READ, R | W, false},   // exclusive
      {GENERIC_READ | GENERIC_WRITE, R | W, GENERIC_READ | GENERIC_WRITE, R | W, true},
      {FILE_APPEND_DATA, R | W, GENERIC_READ, R, false},  // appending is writing
      {0, 0, GENERIC_READ | GENERIC_WRITE, 0, true},      // attribute-only opens take no part
      {GENERIC_READ, 0, 0, 0, true},
      {GENERIC_READ, R | W, DELETE, R | W | D, false},
      {GENERIC_READ, R | D, DELETE, R | W | D, true},
  };
  Fs().WriteAll("C:\\s.txt", "x");
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.access1 << "/" << c.share1 << " then " << c.access2 << "/"
                                      << c.share2);
    HANDLE a = Open("C:\\s.txt", c.access1, c.share1, OPEN_EXISTING);
    ASSERT_NE(a, VT_INVALID_HANDLE_VALUE);
    HANDLE b = Open("c:/S.TXT", c.access2, c.share2, OPEN_EXISTING);
    EXPECT_EQ(b != VT_INVALID_HANDLE_VALUE, c.secondOpens);
    if (b == VT_INVALID_HANDLE_VALUE) {
      EXPECT_EQ(Win().GetLastError(), ERROR_SHARING_VIOLATION);
    } else {
      Win().CloseHandle(b);
    }
    Win().CloseHandle(a);
  }
  // Closing releases the lock.
  HANDLE x = Open("C:\\s.txt", GENERIC_READ, 0, OPEN_EXISTING);
  EXPECT_EQ(OpenResult("C:\\s.txt", GENERIC_READ, R, OPEN_EXISTING), -32);
  EXPECT_TRUE(Win().CloseHandle(x));
  EXPECT_EQ(OpenResult("C:\\s.txt", GENERIC_READ, R, OPEN_EXISTING), 1);
}

TEST_F(SimFileSystemTest, DeleteNeedsDeleteSharingAndLeavesOpenHandlesTheirData) {
  Fs().WriteAll("C:\\d.txt", "keep");
  HANDLE noShare = Open("C:\\d.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_FALSE(Win().DeleteFileW("C:\\d.txt"));
  EXPECT_EQ(Win().GetLastError(), ERROR_SHARING_VIOLATION);
  Win().CloseHandle(noShare);

  HANDLE shared = Open("C:\\d.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
  EXPECT_TRUE(Win().DeleteFileW("C:\\D.TXT"));
  EXPECT_FALSE(Fs().Exists("C:\\d.txt"));
  EXPECT_EQ(Read(shared), "keep");
  // A new file of that name is another file: the old handle's lock does not reach it.
  EXPECT_EQ(OpenResult("C:\\d.txt", GENERIC_WRITE, 0, CREATE_NEW), 1);
  Win().CloseHandle(shared);

  EXPECT_FALSE(Win().DeleteFileW("C:\\missing.txt"));
  EXPECT_EQ(Win().GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(Win().DeleteFileW("C:\\Users"));
  EXPECT_EQ(Win().GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(SimFileSystemTest, AccessRightsAndTheReadOnlyAttribute) {
  Fs().WriteAll("C:\\a.txt", "abc");
  HANDLE r = Open("C:\\a.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  DWORD n = 7;
  EXPECT_FALSE(Win().WriteFile(r, "x", 1, &n));
  EXPECT_EQ(Win().GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(Win().SetEndOfFile(r));
  EXPECT_FALSE(Win().FlushFileBuffers(r));
  HANDLE w = Open("C:\\a.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  char c;
  EXPECT_FALSE(Win().ReadFile(w, &c, 1, &n));
  EXPECT_EQ(Win().GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Win().FlushFileBuffers(w));
  Win().CloseHandle(r);
  Win().CloseHandle(w);

  ASSERT_TRUE(Win().SetFileAttributesW("C:\\a.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Win().GetFileAttributesW("C:\\a.txt"), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(OpenResult("C:\\a.txt", GENERIC_WRITE, 0, OPEN_EXISTING), -5);
  EXPECT_EQ(OpenResult("C:\\a.txt", GENERIC_READ, 0, CREATE_ALWAYS), -5);
  EXPECT_FALSE(Win().DeleteFileW("C:\\a.txt"));
  EXPECT_EQ(Win().GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenResult("C:\\a.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), 1);
  ASSERT_TRUE(Win().SetFileAttributesW("C:\\a.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(Win().GetFileAttributesW("C:\\a.txt"), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(Win().GetFileAttributesW("C:\\Users"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(Win().GetFileAttributesW("C:\\none"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Win().GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Win().GetFileAttributesW("C:\\none\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Win().GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(SimFileSystemTest, NamesIgnoreCaseKeepTheirCaseAndResolveRelativePaths) {
  std::string cwd;
  const DWORD len = Win().GetCurrentDirectoryW(&cwd);
  EXPECT_EQ(len, cwd.size());
  EXPECT_EQ(cwd, "C:\\Users\\user\\Desktop\\vrek");

  ASSERT_TRUE(Win().CreateDirectoryW("logs"));
  EXPECT_TRUE(Fs().Exists("C:\\USERS\\User\\desktop\\VREK\\Logs"));
  HANDLE h = Open("logs/Run_1.LOG", GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, VT_INVALID_HANDLE_VALUE);
  EXPECT_TRUE(Write(h, "one"));
  Win().CloseHandle(h);
  EXPECT_EQ(Find("C:\\users\\USER\\desktop\\vrek\\LOGS\\*.log"), std::vector<std::string>{"Run_1.LOG"});
  EXPECT_EQ(Fs().ReadAll("c:\\users\\user\\desktop\\vrek\\logs\\run_1.log"), "one");
  // Mixed separators, doubled ones, ".", "..", a rooted path, a drive-relative one, trailing dots.
  EXPECT_EQ(Fs().ReadAll("C:/Users//user\\.\\Desktop\\other\\..\\vrek\\logs\\run_1.log"), "one");
  EXPECT_EQ(Fs().ReadAll("\\Users\\user\\Desktop\\vrek\\logs\\run_1.log"), "one");
  EXPECT_EQ(Fs().ReadAll("C:logs\\run_1.log"), "one");
  EXPECT_EQ(Fs().ReadAll("logs\\run_1.log.."), "one");

  ASSERT_TRUE(Win().SetCurrentDirectoryW("..\\VREK\\logs\\"));
  Win().GetCurrentDirectoryW(&cwd);
  EXPECT_EQ(cwd, "C:\\Users\\user\\Desktop\\VREK\\logs");
  EXPECT_EQ(Fs().ReadAll("run_1.log"), "one");
  EXPECT_FALSE(Win().SetCurrentDirectoryW("C:\\nowhere"));
  EXPECT_EQ(Win().GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(Win().SetCurrentDirectoryW("run_1.log"));
  EXPECT_EQ(Win().GetLastError(), ERROR_DIRECTORY);
  EXPECT_EQ(OpenResult("bad|name.txt", GENERIC_WRITE, 0, CREATE_NEW), -123);
}

TEST_F(SimFileSystemTest, FilePointerPositionedCallsAndAppendOnlyHandles) {
  HANDLE h = Open("C:\\p.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_TRUE(Write(h, "hello"));
  LONGLONG pos = -1;
  EXPECT_TRUE(Win().SetFilePointerEx(h, 1, &pos, FILE_BEGIN));
  EXPECT_EQ(pos, 1);
  EXPECT_EQ(Read(h, 3), "ell");
  EXPECT_TRUE(Win().SetFilePointerEx(h, -2, &pos, FILE_END));
  EXPECT_EQ(pos, 3);
  EXPECT_FALSE(Win().SetFilePointerEx(h, -1, &pos, FILE_BEGIN));
  EXPECT_EQ(Win().GetLastError(), ERROR_NEGATIVE_SEEK);

  // A write past the end fills the gap with zeros and moves the pointer after it.
  DWORD n = 0;
  EXPECT_TRUE(Win().WriteFileAt(h, "Z", 1, &n, 7));
  EXPECT_EQ(Fs().ReadAll("C:\\p.bin"), std::string("hello\0\0Z", 8));
  EXPECT_TRUE(Win().SetFilePointerEx(h, 0, &pos, FILE_CURRENT));
  EXPECT_EQ(pos, 8);
  char buf[4] = {};
  EXPECT_TRUE(Win().ReadFileAt(h, buf, 4, &n, 3));
  EXPECT_EQ(std::string(buf, n), std::string("lo\0\0", 4));
  EXPECT_TRUE(Win().ReadFileAt(h, buf, 4, &n, 100));
  EXPECT_EQ(n, 0u);

  LONGLONG size = 0;
  EXPECT_TRUE(Win().SetFilePointerEx(h, 2, nullptr, FILE_BEGIN));
  EXPECT_TRUE(Win().SetEndOfFile(h));
  EXPECT_TRUE(Win().GetFileSizeEx(h, &size));
  EXPECT_EQ(size, 2);
  Win().CloseHandle(h);

  // Append rights without write rights: every write lands at the end, whatever the pointer says.
  HANDLE a = Open("C:\\p.bin", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  HANDLE b = Open("C:\\p.bin", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  EXPECT_TRUE(Win().SetFilePointerEx(a, 0, nullptr, FILE_BEGIN));
  EXPECT_TRUE(Write(a, "A"));
  EXPECT_TRUE(Write(b, "B"));
  EXPECT_TRUE(Win().WriteFileAt(a, "C", 1, &n, 0));
  EXPECT_FALSE(Win().SetEndOfFile(a));
  EXPECT_EQ(Fs().ReadAll("C:\\p.bin"), "heABC");
  Win().CloseHandle(a);
  Win().CloseHandle(b);
}

TEST_F(SimFileSystemTest, FoldersAreCreatedAndRemovedAsWindowsDoes) {
  EXPECT_TRUE(Win().CreateDirectoryW("C:\\a"));
  EXPECT_FALSE(Win().CreateDirectoryW("C:\\A\\"));
  EXPECT_EQ(Win().GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(Win().CreateDirectoryW("C:\\x\\y"));
  EXPECT_EQ(Win().GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(Win().CreateDirectoryW("C:\\a\\b"));
  Fs().WriteAll("C:\\a\\b\\f", "1");
  EXPECT_FALSE(Win().CreateDirectoryW("C:\\a\\b\\f"));
  EXPECT_EQ(Win().GetLastError(), ERROR_ALREADY_EXISTS);

  EXPECT_FALSE(Win().RemoveDirectoryW("C:\\a\\b"));
  EXPECT_EQ(Win().GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(Win().RemoveDirectoryW("C:\\a\\b\\f"));
  EXPECT_EQ(Win().GetLastError(), ERROR_DIRECTORY);
  EXPECT_TRUE(Win().DeleteFileW("C:\\a\\b\\f"));
  EXPECT_TRUE(Win().RemoveDirectoryW("C:\\a\\B"));
  EXPECT_FALSE(Fs().Exists("C:\\a\\b"));
  EXPECT_FALSE(Win().RemoveDirectoryW("C:\\a\\b"));
  EXPECT_EQ(Win().GetLastError(), ERROR_FILE_NOT_FOUND);
  // The current directory is held open.
  EXPECT_FALSE(Win().RemoveDirectoryW("C:\\Users\\user\\Desktop\\vrek"));
  EXPECT_EQ(Win().GetLastError(), ERROR_SHARING_VIOLATION);
}

TEST_F(SimFileSystemTest, FindPatterns) {
  ASSERT_TRUE(Win().CreateDirectoryW("C:\\f"));
  for (const char* n : {"a.txt", "B.TXT", "c.log", "ab", "abc.txt"})
    Fs().WriteAll(std::string("C:\\f\\") + n, "12");
  ASSERT_TRUE(Win().CreateDirectoryW("C:\\f\\Sub"));
  using V = std::vector<std::string>;
  struct Case {
    const char* pattern;
    V names;
  };
  const Case cases[] = {
      {"C:\\f\\*", {".", "..", "a.txt", "ab", "abc.txt", "B.TXT", "c.log", "Sub"}},
      {"C:\\f\\*.*", {".", "..", "a.txt", "ab", "abc.txt", "B.TXT", "c.log", "Sub"}},
      {"C:\\f\\*.TXT", {"a.txt", "abc.txt", "B.TXT"}},
      {"C:\\f\\?.txt", {"a.txt", "B.TXT"}},
      {"C:\\f\\a?", {"ab"}},
      {"C:\\f\\a?.txt", {"a.txt"}},  // at a dot "?" matches nothing
      {"C:\\f\\a*c*", {"abc.txt"}},
      {"C:\\f\\SUB", {"Sub"}},
      {"C:\\f\\sub\\*", {".", ".."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(Find(c.pattern), c.names);
  }
  FIND_DATA fd;
  HANDLE h = Win().FindFirstFileW("C:\\f\\b.txt", &fd);
  ASSERT_NE(h, VT_INVALID_HANDLE_VALUE);
  EXPECT_EQ(fd.cFileName, "B.TXT");
  EXPECT_EQ(fd.nFileSize, 2u);
  EXPECT_EQ(fd.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_TRUE(Win().FindClose(h));
  EXPECT_FALSE(Win().FindClose(h));

  // A drive's root lists no "." or "..".
  V root = Find("C:\\*");
  EXPECT_EQ(std::count(root.begin(), root.end(), "."), 0);
  EXPECT_NE(std::find(root.begin(), root.end(), "Users"), root.end());

  DWORD e = 0;
  EXPECT_TRUE(Find("C:\\f\\*.zip", &e).empty());
  EXPECT_EQ(e, ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(Find("C:\\nofolder\\*", &e).empty());
  EXPECT_EQ(e, ERROR_PATH_NOT_FOUND);
}

TEST_F(SimFileSystemTest, InjectedFaults) {
  // Opens: the next two fail with the chosen error, then the count is spent.
  FileFault open;
  open.openError = ERROR_SHARING_VIOLATION;
  open.openFailures = 2;
  Fs().SetFault("C:\\log\\x.log", open);
  ASSERT_TRUE(Win().CreateDirectoryW("C:\\log"));
  EXPECT_EQ(OpenResult("c:\\LOG\\x.log", GENERIC_WRITE, 0, OPEN_ALWAYS), -32);
  EXPECT_EQ(Fs().Fault("C:\\log\\x.log").openFailures, 1);
  EXPECT_EQ(OpenResult("C:\\log\\x.log", GENERIC_WRITE, 0, OPEN_ALWAYS), -32);
  EXPECT_EQ(OpenResult("C:\\log\\x.log", GENERIC_WRITE, 0, OPEN_ALWAYS), 1);
  EXPECT_EQ(Fs().Fault("C:\\log\\x.log").openFailures, 0);

  // Writes below a folder: the first fails and writes nothing, the next goes through.
  FileFault write;
  write.writeError = ERROR_WRITE_FAULT;
  write.writeFailures = 1;
  Fs().SetFault("C:\\w", write);
  Fs().WriteAll("C:\\w\\deep\\f.bin", "");
  HANDLE h = Open("C:\\w\\deep\\f.bin", GENERIC_WRITE, 0, OPEN_EXISTING);
  EXPECT_FALSE(Write(h, "lost"));
  EXPECT_EQ(Win().GetLastError(), ERROR_WRITE_FAULT);
  EXPECT_TRUE(Write(h, "kept"));
  Win().CloseHandle(h);
  EXPECT_EQ(Fs().ReadAll("C:\\w\\deep\\f.bin"), "kept");

  // Folder creation below a folder fails with the chosen error; every open fails with -1.
  FileFault mkdir;
  mkdir.createDirectoryError = ERROR_ACCESS_DENIED;
  Fs().SetFault("C:\\m", mkdir);
  EXPECT_FALSE(Win().CreateDirectoryW("C:\\m"));
  EXPECT_EQ(Win().GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Win().CreateDirectoryW("C:\\m\\n"));
  FileFault always;
  always.openError = ERROR_ACCESS_DENIED;
  Fs().SetFault("C:\\w\\deep", always);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(OpenResult("C:\\w\\deep\\f.bin", GENERIC_READ, 0, OPEN_EXISTING), -5);

  // A read-only folder: reading works, creating, writing and deleting below it do not.
  Fs().ClearFaults();
  Fs().WriteAll("C:\\ro\\old.txt", "old");
  FileFault ro;
  ro.readOnly = true;
  Fs().SetFault("C:\\ro", ro);
  EXPECT_EQ(OpenResult("C:\\ro\\old.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), 1);
  EXPECT_EQ(OpenResult("C:\\ro\\old.txt", GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING), -5);
  EXPECT_EQ(OpenResult("C:\\ro\\new.txt", GENERIC_WRITE, 0, CREATE_NEW), -5);
  EXPECT_FALSE(Win().CreateDirectoryW("C:\\ro\\sub"));
  EXPECT_EQ(Win().GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Win().DeleteFileW("C:\\ro\\old.txt"));
  EXPECT_EQ(Win().GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(SimFileSystemTest, DiskFullWritesNothingAndFreeSpaceFollowsTheFiles) {
  Fs().AddDrive('E', 1000);
  HANDLE h = Open("e:\\big.bin", GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, VT_INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(h, std::string(600, 'a')));
  DWORD n = 9;
  std::string more(500, 'b');
  EXPECT_FALSE(Win().WriteFile(h, more.data(), 500, &n));
  EXPECT_EQ(Win().GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(Fs().ReadAll("E:\\big.bin"), std::string(600, 'a'));
  // Overwriting inside the file needs no space.
  EXPECT_TRUE(Win().WriteFileAt(h, more.data(), 500, &n, 0));
  ULONGLONG freeToCaller = 0, total = 0, totalFree = 0;
  ASSERT_TRUE(Win().GetDiskFreeSpaceExW("E:\\", &freeToCaller, &total, &totalFree));
  EXPECT_EQ(total, 1000u);
  EXPECT_EQ(freeToCaller, 400u);
  EXPECT_EQ(totalFree, 400u);
  Win().CloseHandle(h);
  ASSERT_TRUE(Win().DeleteFileW("E:\\big.bin"));
  ASSERT_TRUE(Win().GetDiskFreeSpaceExW("E:", &freeToCaller, nullptr, nullptr));
  EXPECT_EQ(freeToCaller, 1000u);
  EXPECT_FALSE(Win().GetDiskFreeSpaceExW("F:\\", &freeToCaller, nullptr, nullptr));
  EXPECT_EQ(Win().GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(SimFileSystemTest, FileHandlesLiveInTheKernelTable) {
  const size_t before = m->Kernel().OpenHandleCount();
  HANDLE h = Open("C:\\h.txt", GENERIC_WRITE, 0, CREATE_NEW);
  EXPECT_TRUE(Fs().Owns(h));
  HANDLE e = Win().CreateEventW(TRUE_, FALSE_);
  EXPECT_FALSE(Fs().Owns(e));
  DWORD n = 0;
  EXPECT_FALSE(Win().WriteFile(e, "x", 1, &n));
  EXPECT_EQ(Win().GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(Win().CloseHandle(e));
  EXPECT_TRUE(Win().CloseHandle(h));
  EXPECT_FALSE(Win().CloseHandle(h));
  EXPECT_FALSE(Win().WriteFile(h, "x", 1, &n));
  EXPECT_EQ(Win().GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(m->Kernel().OpenHandleCount(), before);
}

TEST_F(SimFileSystemTest, MountedHostFolderHoldsRealFiles) {
  const std::filesystem::path host =
      std::filesystem::temp_directory_path() / ("vt_simfs_" + std::to_string(std::random_device{}()));
  ASSERT_TRUE(std::filesystem::create_directory(host));
  { std::ofstream(host / "Upper.txt") << "from host"; }
  Fs().AddDrive('D');
  Fs().MountHostFolder("D:\\real", host.string());

  EXPECT_EQ(Find("D:\\REAL\\*"), (std::vector<std::string>{".", "..", "Upper.txt"}));
  HANDLE r = Open("d:\\real\\upper.TXT", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(r, VT_INVALID_HANDLE_VALUE);
  EXPECT_EQ(Read(r), "from host");
  // Share modes hold for host files too.
  EXPECT_EQ(OpenResult("D:\\real\\Upper.txt", GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING), -32);
  Win().CloseHandle(r);

  ASSERT_TRUE(Win().CreateDirectoryW("D:\\real\\sub"));
  HANDLE w = Open("D:\\real\\sub\\out.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
  ASSERT_NE(w, VT_INVALID_HANDLE_VALUE);
  EXPECT_TRUE(Write(w, "line1\r\n"));
  EXPECT_TRUE(Write(w, "line2\r\n"));
  LONGLONG size = 0;
  EXPECT_TRUE(Win().GetFileSizeEx(w, &size));
  EXPECT_EQ(size, 14);
  Win().CloseHandle(w);
  {
    std::ifstream in(host / "sub" / "out.log", std::ios::binary);
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), "line1\r\nline2\r\n");
  }
  EXPECT_EQ(Fs().ReadAll("D:\\real\\sub\\OUT.LOG"), "line1\r\nline2\r\n");

  EXPECT_FALSE(Win().RemoveDirectoryW("D:\\real\\sub"));
  EXPECT_EQ(Win().GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_TRUE(Win().DeleteFileW("D:\\real\\sub\\out.log"));
  EXPECT_TRUE(Win().RemoveDirectoryW("D:\\real\\sub"));
  EXPECT_FALSE(std::filesystem::exists(host / "sub"));
  EXPECT_EQ(OpenResult("D:\\real\\gone\\x", GENERIC_WRITE, 0, CREATE_NEW), -3);
  std::filesystem::remove_all(host);
}

// The demo's working folder: a host folder mounted on the system volume's C: stays real files,
// while the rest of C: is the formatted volume's.
TEST_F(SimFileSystemTest, AHostFolderMountedOnAFormattedVolumeKeepsItsRealFiles) {
  const std::filesystem::path host =
      std::filesystem::temp_directory_path() / ("vt_simfs_" + std::to_string(std::random_device{}()));
  ASSERT_TRUE(std::filesystem::create_directory(host));
  m->Storage().AddDisk(0, 1ull << 21);
  ASSERT_TRUE(m->VolumeFiles().AddVolume('C', 0, 1 << 20, 512ull << 20, SimFsKind::kNtfs));
  Fs().MountHostFolder("C:\\Users\\user\\Desktop\\vrek", host.string());
  EXPECT_TRUE(Fs().HostMounted("c:\\users\\user\\desktop\\VREK"));
  EXPECT_TRUE(Fs().HostMounted("C:\\Users\\user\\Desktop\\vrek\\logs\\*"));
  EXPECT_FALSE(Fs().HostMounted("C:\\Users\\user\\Desktop\\other.txt"));

  for (const char* path : {"C:\\Users\\user\\Desktop\\vrek\\settings.ini", "C:\\on_volume.txt"}) {
    HANDLE h = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(h, VT_INVALID_HANDLE_VALUE) << path;
    EXPECT_TRUE(Write(h, "x"));
    Win().CloseHandle(h);
  }
  EXPECT_TRUE(std::filesystem::exists(host / "settings.ini"));
  EXPECT_FALSE(std::filesystem::exists(host / "on_volume.txt"));
  EXPECT_EQ(Find("C:\\Users\\user\\Desktop\\vrek\\*"), (std::vector<std::string>{".", "..", "settings.ini"}));
  // The volume's own file is on the volume.
  EXPECT_EQ(m->VolumeFiles().ReadAll("C:\\on_volume.txt"), "x");
  std::filesystem::remove_all(host);
}

// A Windows path below a mount names a host path and back, through the nearest mount; a host
// path that merely starts with the mounted folder's name is not below it.
TEST_F(SimFileSystemTest, MountedPathsBothWays) {
  const std::filesystem::path host = UniqueTempPath("vt_simfs_paths_");
  ASSERT_TRUE(std::filesystem::create_directories(host / "output"));
  const std::string h = host.string();
  const std::string sep(1, h.find('\\') != std::string::npos ? '\\' : '/');
  Fs().MountHostFolder("C:\\Users\\user\\Desktop\\vrek", h);

  EXPECT_EQ(Fs().HostPathOf("C:\\Users\\user\\Desktop\\vrek\\output\\"), h + sep + "output");
  EXPECT_EQ(Fs().HostPathOf("c:\\users\\USER\\desktop\\vrek"), h);
  EXPECT_EQ(Fs().HostPathOf("C:\\Users\\user\\Desktop"), "");
  EXPECT_EQ(Fs().HostPathOf("E:\\"), "");
  EXPECT_EQ(Fs().WindowsPathOfHost(h + sep + "output" + sep + "Speed.csv"),
            "C:\\Users\\user\\Desktop\\vrek\\output\\Speed.csv");
  EXPECT_EQ(Fs().WindowsPathOfHost(h + sep), "C:\\Users\\user\\Desktop\\vrek");
  EXPECT_EQ(Fs().WindowsPathOfHost(h + "x" + sep + "f.csv"), "");
  EXPECT_EQ(Fs().WindowsPathOfHost(host.parent_path().string()), "");

  // A host drive's root mounted whole on a letter of its own: the working folder's mount stays
  // the nearer one, and files elsewhere on that drive are real files behind the letter.
  const std::string root = host.root_path().string();
  Fs().AddDrive('Q');
  Fs().MountHostFolder("Q:\\", root);
  EXPECT_EQ(Fs().WindowsPathOfHost(h + sep + "output"), "C:\\Users\\user\\Desktop\\vrek\\output");
  const std::string viaQ = Fs().WindowsPathOfHost(h + "_q.txt");
  ASSERT_EQ(viaQ.substr(0, 3), "Q:\\");
  EXPECT_EQ(Fs().HostPathOf(viaQ), (host.string() + "_q.txt"));
  HANDLE f = Open(viaQ, GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(f, VT_INVALID_HANDLE_VALUE) << viaQ;
  EXPECT_TRUE(Write(f, "real"));
  Win().CloseHandle(f);
  EXPECT_EQ(Fs().ReadAll(viaQ), "real");
  EXPECT_TRUE(std::filesystem::exists(host.string() + "_q.txt"));
  std::filesystem::remove(host.string() + "_q.txt");
  std::filesystem::remove_all(host);
}

TEST_F(SimFileSystemTest, ASlowDriveTakesVirtualTimePerByte) {
  Fs().AddDrive('S');
  FileFault slow;
  slow.bytesPerSecond = 1048576;
  Fs().SetFault("S:\\", slow);
  HANDLE h = Open("S:\\f.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  const std::string mib(1048576, 'x');
  const uint64_t t0 = m->Kernel().NowMs();
  EXPECT_TRUE(Write(h, mib));
  EXPECT_EQ(m->Kernel().NowMs() - t0, 1000u);
  char buf[524288];
  DWORD got = 0;
  EXPECT_TRUE(Win().ReadFileAt(h, buf, sizeof(buf), &got, 0));
  EXPECT_EQ(got, sizeof(buf));
  EXPECT_EQ(m->Kernel().NowMs() - t0, 1500u);
  Win().CloseHandle(h);
  // Other drives keep their speed.
  HANDLE c = Open("C:\\fast.bin", GENERIC_WRITE, 0, CREATE_NEW);
  EXPECT_TRUE(Write(c, mib));
  EXPECT_EQ(m->Kernel().NowMs() - t0, 1500u);
  Win().CloseHandle(c);
}

TEST_F(SimFileSystemTest, HostSymbolicLinksShowAsReparsePoints) {
  const std::filesystem::path host =
      std::filesystem::temp_directory_path() / ("vt_simfs_" + std::to_string(std::random_device{}()));
  ASSERT_TRUE(std::filesystem::create_directories(host / "inside"));
  ASSERT_TRUE(std::filesystem::create_directories(host / "outside"));
  { std::ofstream(host / "outside" / "keep.txt") << "x"; }
  std::error_code ec;
  std::filesystem::create_directory_symlink(host / "outside", host / "inside" / "dirlink", ec);
  if (!ec) std::filesystem::create_symlink(host / "outside" / "keep.txt", host / "inside" / "filelink.txt", ec);
  if (ec) {
    std::filesystem::remove_all(host);
    GTEST_SKIP() << "the host makes no symbolic links here (wine): " << ec.message();
  }
  Fs().AddDrive('D');
  Fs().MountHostFolder("D:\\m", (host / "inside").string());
  FIND_DATA d;
  HANDLE f = Win().FindFirstFileW("D:\\m\\dirlink", &d);
  ASSERT_TRUE(IsValidHandle(f));
  EXPECT_EQ(d.dwFileAttributes, DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  Win().FindClose(f);
  EXPECT_EQ(Win().GetFileAttributesW("D:\\m\\filelink.txt"),
            DWORD(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT));
  // What the link points at is still reached through it, as on Windows.
  EXPECT_EQ(Fs().ReadAll("D:\\m\\dirlink\\keep.txt"), "x");
  std::filesystem::remove_all(host);
}

struct AppendJob {
  int id;
  int lines;
  bool ok = true;
};

DWORD AppendLines(void* p) {
  auto* job = static_cast<AppendJob*>(p);
  HANDLE h = Win().CreateFileW("C:\\shared.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL);
  if (h == VT_INVALID_HANDLE_VALUE) {
    job->ok = false;
    return 1;
  }
  for (int i = 0; i < job->lines; ++i) {
    std::string line = std::string("t") + std::to_string(job->id) + " line " + std::to_string(i) + "\r\n";
    DWORD n = 0;
    job->ok &= Win().WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &n) != 0;
    std::string own = "C:\\own\\" + std::to_string(job->id) + "_" + std::to_string(i);
    HANDLE f = Win().CreateFileW(own, GENERIC_WRITE, 0, CREATE_NEW, 0);
    job->ok &= f != VT_INVALID_HANDLE_VALUE;
    Win().CloseHandle(f);
  }
  Win().CloseHandle(h);
  return 0;
}

TEST_F(SimFileSystemTest, ConcurrentAppendersLoseNothing) {
  ASSERT_TRUE(Win().CreateDirectoryW("C:\\own"));
  std::vector<AppendJob> jobs;
  for (int t = 0; t < 4; ++t) jobs.push_back(AppendJob{t, 100});
  std::vector<HANDLE> threads;
  for (auto& j : jobs) threads.push_back(Win().CreateThread(0, AppendLines, &j, 0, nullptr));
  ASSERT_EQ(Win().WaitForMultipleObjects(4, threads.data(), TRUE_, INFINITE), WAIT_OBJECT_0);
  for (HANDLE t : threads) Win().CloseHandle(t);
  std::set<std::string> lines;
  std::istringstream in(Fs().ReadAll("C:\\shared.log"));
  for (std::string l; std::getline(in, l);) lines.insert(l);
  EXPECT_EQ(lines.size(), 400u);
  EXPECT_TRUE(lines.count("t3 line 99\r"));
  for (auto& j : jobs) EXPECT_TRUE(j.ok);
  EXPECT_EQ(Find("C:\\own\\*").size(), 402u);
}

}  // namespace

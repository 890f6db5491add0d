#include "core/uLogger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <vector>

#include "core/uMainThread.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;

namespace {

// Installs a dispatcher for the test's life; the constructing thread is the main thread.
class ScopedMainThread {
 public:
  ScopedMainThread() : prev_(InstallMainThread(&disp_)) {}
  ~ScopedMainThread() { InstallMainThread(prev_); }
  TMainThreadDispatcher& operator*() { return disp_; }

 private:
  TMainThreadDispatcher disp_;
  TMainThreadDispatcher* prev_;
};

std::vector<std::string> SplitLines(const std::string& bytes) {
  std::vector<std::string> r;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t e = bytes.find("\r\n", at);
    if (e == std::string::npos) e = bytes.size();
    r.push_back(bytes.substr(at, e - at));
    at = e + 2;
  }
  return r;
}

// The line without its 24-character time stamp.
std::string Body(const std::string& line) { return line.size() > 24 ? line.substr(24) : line; }

class LoggerTest : public ::testing::Test {
 protected:
  const std::string kPath = "C:\\vt\\logs\\run_20250307_140509.log";

  LoggerTest() { m->Kernel().SetUtcAtBoot(2025, 3, 7, 14, 5, 9, 42); }

  // A handler that records what reaches the window, and checks it runs on the main thread.
  TLogLineEvent Recorder() {
    return [this](const std::string& line) {
      EXPECT_TRUE(MainThread().IsMainThread());
      shown.push_back(line);
    };
  }
  std::vector<std::string> FileLines() { return SplitLines(m->Files().ReadAll(kPath)); }
  std::vector<std::string> Bodies(const std::vector<std::string>& lines) {
    std::vector<std::string> r;
    for (auto& l : lines) r.push_back(Body(l));
    return r;
  }

  ScopedSimMachine m;
  ScopedMainThread main;
  std::vector<std::string> shown;
};

TEST_F(LoggerTest, WritesExactLineBytesUtf8WithoutBom) {
  {
    TLogger log(kPath);
    EXPECT_FALSE(m->Files().Exists("C:\\vt")) << "nothing is touched before the first line";
    log.Info("Hello");
    log.Warn("");
    Win().Sleep(1500);
    log.Error("Grüße ✓ 한국어");
  }
  EXPECT_EQ(m->Files().ReadAll(kPath),
            "2025-03-07T14:05:09.042Z [INFO] Hello\r\n"
            "2025-03-07T14:05:09.042Z [WARN] \r\n"
            "2025-03-07T14:05:10.542Z [ERROR] Grüße ✓ 한국어\r\n");
  EXPECT_EQ(TLogger::FormatTimestamp(), "2025-03-07T14:05:10.542Z");
}

TEST_F(LoggerTest, ApiCallLines) {
  struct Case {
    bool ok;
    uint32_t err;
    uint64_t ms;
    bool warnOnFailure;
    const char* body;
  };
  const Case cases[] = {
      {true, 0, 3, false,
       " [INFO] DeviceIoControl(params=IOCTL_X, ret=True, winerr=0, errtxt=\"The operation completed "
       "successfully.\", "
       "elapsed_ms=3)"},
      {false, 5, 12, true,
       " [WARN] DeviceIoControl(params=IOCTL_X, ret=False, winerr=5, errtxt=\"Access is denied.\", "
       "elapsed_ms=12)"},
      {false, 5, 12, false,
       " [ERROR] DeviceIoControl(params=IOCTL_X, ret=False, winerr=5, errtxt=\"Access is denied.\", "
       "elapsed_ms=12)"},
      {true, 258, 0, true,
       " [INFO] DeviceIoControl(params=IOCTL_X, ret=True, winerr=258, errtxt=\"The wait operation timed out.\", "
       "elapsed_ms=0)"},
      {false, 0x80070005u, UINT64_MAX, false,
       " [ERROR] DeviceIoControl(params=IOCTL_X, ret=False, winerr=-2147024891, errtxt=\"WinErr=-2147024891 "
       "(FormatMessage failed)\", elapsed_ms=18446744073709551615)"},
  };
  TLogger log(kPath);
  log.SetOnLog(Recorder());
  for (const Case& c : cases) log.LogApiCallEx("DeviceIoControl", "IOCTL_X", c.ok, c.err, c.ms, c.warnOnFailure);
  log.LogApiCall("ReadFile", "", false, 6, 1);
  ASSERT_EQ(shown.size(), std::size(cases) + 1);
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(Body(shown[i]), cases[i].body);
  EXPECT_EQ(Body(shown.back()),
            " [ERROR] ReadFile(params=, ret=False, winerr=6, errtxt=\"The handle is invalid.\", elapsed_ms=1)");
  EXPECT_EQ(FileLines(), shown);
}

TEST_F(LoggerTest, SuppressionDropsInfoLinesOnly) {
  TLogger log(kPath);
  log.SetOnLog(Recorder());
  log.SetSuppressInfo(true);
  log.Info("quiet");
  log.LogApiCall("Unmap", "p", true, 0, 1);
  log.LogApiCallEx("Unmap", "p", false, 1117, 2, true);
  log.LogApiCall("Unmap", "p", false, 1117, 3);
  log.Warn("w");
  log.Error("e");
  log.SetSuppressInfo(false);
  log.Info("loud");
  const std::vector<std::string> want = {
      " [WARN] Unmap(params=p, ret=False, winerr=1117, errtxt=\"The request could not be performed because of an "
      "I/O "
      "device error.\", elapsed_ms=2)",
      " [ERROR] Unmap(params=p, ret=False, winerr=1117, errtxt=\"The request could not be performed because of an "
      "I/O "
      "device error.\", elapsed_ms=3)",
      " [WARN] w", " [ERROR] e", " [INFO] loud"};
  EXPECT_EQ(Bodies(shown), want);
  EXPECT_EQ(Bodies(FileLines()), want);
}

TEST_F(LoggerTest, FailedOpenIsNeverRetriedAndLinesStillReachTheWindow) {
  FileFault f;
  f.openError = ERROR_ACCESS_DENIED;
  f.openFailures = 3;
  m->Files().SetFault(kPath, f);
  TLogger log(kPath);
  log.SetOnLog(Recorder());
  Win().SetLastError(1234);
  for (int i = 0; i < 3; ++i) log.Info("line " + std::to_string(i));
  EXPECT_EQ(Win().GetLastError(), 1234u) << "logging leaves the caller's last error alone";
  EXPECT_EQ(m->Files().Fault(kPath).openFailures, 2) << "exactly one open attempt";
  EXPECT_FALSE(m->Files().Exists(kPath));
  EXPECT_EQ(shown.size(), 3u);
}

TEST_F(LoggerTest, FolderThatCannotBeCreatedLeavesTheWindowOnly) {
  FileFault f;
  f.createDirectoryError = ERROR_ACCESS_DENIED;
  m->Files().SetFault("C:\\vt", f);
  TLogger log(kPath);
  log.SetOnLog(Recorder());
  log.Info("a");
  m->Files().ClearFaults();
  log.Info("b");
  EXPECT_FALSE(m->Files().Exists("C:\\vt"));
  EXPECT_EQ(shown.size(), 2u);
}

TEST_F(LoggerTest, FailedWriteIsSwallowedAndTheNextLineIsWritten) {
  FileFault f;
  f.writeError = ERROR_WRITE_FAULT;
  f.writeFailures = 1;
  m->Files().SetFault(kPath, f);
  TLogger log(kPath);
  log.SetOnLog(Recorder());
  log.Info("lost");
  log.Info("kept");
  EXPECT_EQ(Bodies(FileLines()), std::vector<std::string>{" [INFO] kept"});
  EXPECT_EQ(shown.size(), 2u);
}

TEST_F(LoggerTest, DisabledOutputCreatesNothingAndClosesAnOpenFile) {
  {
    TLogger log("C:\\nowhere\\logs\\run.log");
    log.DisableFileOutput();
    log.SetOnLog(Recorder());
    log.Info("window only");
  }
  EXPECT_FALSE(m->Files().Exists("C:\\nowhere"));
  EXPECT_EQ(shown.size(), 1u);

  TLogger log(kPath);
  log.Info("before");
  // The log shares its file for reading and writing only; an exclusive open must wait for it.
  HANDLE h = Win().CreateFileW(kPath, GENERIC_READ, 0, OPEN_EXISTING, 0);
  EXPECT_EQ(h, VT_INVALID_HANDLE_VALUE);
  log.DisableFileOutput();
  log.Info("after");
  h = Win().CreateFileW(kPath, GENERIC_READ, 0, OPEN_EXISTING, 0);
  ASSERT_NE(h, VT_INVALID_HANDLE_VALUE);
  Win().CloseHandle(h);
  EXPECT_EQ(Bodies(FileLines()), std::vector<std::string>{" [INFO] before"});
}

TEST_F(LoggerTest, TwoLoggersOnOneFileAppendEveryLine) {
  m->Files().WriteAll(kPath, "earlier start\r\n");
  TLogger a(kPath), b(kPath);
  a.Info("a1");
  b.Info("b1");
  a.Info("a2");
  b.Info("b2");
  EXPECT_EQ(Bodies(FileLines()),
            (std::vector<std::string>{"earlier start", " [INFO] a1", " [INFO] b1", " [INFO] a2", " [INFO] b2"}));
}

struct LogJob {
  TLogger* log;
  std::string prefix;
  int lines;
};

DWORD LogLines(void* p) {
  auto* job = static_cast<LogJob*>(p);
  for (int i = 0; i < job->lines; ++i) job->log->Info(job->prefix + std::to_string(i));
  return 0;
}

HANDLE StartLogging(LogJob* job) { return Win().CreateThread(0, LogLines, job, 0, nullptr); }

std::vector<std::string> WithPrefix(const std::vector<std::string>& bodies, const std::string& prefix) {
  std::vector<std::string> r;
  for (auto& b : bodies)
    if (b.rfind(" [INFO] " + prefix, 0) == 0) r.push_back(b.substr(8));
  return r;
}

std::vector<std::string> Numbered(const std::string& prefix, int n) {
  std::vector<std::string> r;
  for (int i = 0; i < n; ++i) r.push_back(prefix + std::to_string(i));
  return r;
}

TEST_F(LoggerTest, TwoProcessesWritingAtOnceLoseNothing) {
  TLogger a(kPath), b(kPath);
  LogJob ja{&a, "a", 200}, jb{&b, "b", 200};
  HANDLE t[] = {StartLogging(&ja), StartLogging(&jb)};
  ASSERT_EQ(Win().WaitForMultipleObjects(2, t, TRUE_, INFINITE), WAIT_OBJECT_0);
  for (HANDLE h : t) Win().CloseHandle(h);
  const auto bodies = Bodies(FileLines());
  EXPECT_EQ(bodies.size(), 400u);
  EXPECT_EQ(WithPrefix(bodies, "a"), Numbered("a", 200));
  EXPECT_EQ(WithPrefix(bodies, "b"), Numbered("b", 200));
}

TEST_F(LoggerTest, WorkerLinesReachTheWindowThroughTheQueuedFlushInOrder) {
  TLogger log(kPath);
  log.SetOnLog(Recorder());
  LogJob job{&log, "w", 50};
  HANDLE t = StartLogging(&job);
  ASSERT_EQ(Win().WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  Win().CloseHandle(t);
  EXPECT_TRUE(shown.empty()) << "the worker does not wait for the window";
  EXPECT_TRUE(MainThread().CheckSynchronize());
  EXPECT_EQ(WithPrefix(Bodies(shown), "w"), Numbered("w", 50));
  EXPECT_EQ(shown, FileLines());
}

TEST_F(LoggerTest, MainThreadLineOvertakesWaitingWorkerLinesInTheWindowOnly) {
  TLogger log(kPath);
  log.SetOnLog(Recorder());
  LogJob job{&log, "w", 2};
  HANDLE t = StartLogging(&job);
  ASSERT_EQ(Win().WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  Win().CloseHandle(t);
  log.Info("m");
  EXPECT_EQ(Bodies(shown), std::vector<std::string>{" [INFO] m"}) << "shown within the logging call";
  MainThread().CheckSynchronize();
  EXPECT_EQ(Bodies(shown), (std::vector<std::string>{" [INFO] m", " [INFO] w0", " [INFO] w1"}));
  EXPECT_EQ(Bodies(FileLines()), (std::vector<std::string>{" [INFO] w0", " [INFO] w1", " [INFO] m"}));
}

TEST_F(LoggerTest, MainAndWorkerLoggingTogetherKeepEachThreadsOrder) {
  TLogger log(kPath);
  int echoes = 0;
  // The handler may log itself: it is never called under the log's lock.
  log.SetOnLog([&](const std::string& line) {
    shown.push_back(line);
    if (line.find("m99") != std::string::npos) {
      ++echoes;
      log.Warn("echo");
    }
  });
  LogJob job{&log, "w", 200};
  HANDLE t = StartLogging(&job);
  for (int i = 0; i < 100; ++i) {
    std::string line = "m";
    line += std::to_string(i);
    log.Info(line);
    MainThread().CheckSynchronize();
  }
  ASSERT_EQ(MainThread().WaitForThread(t, INFINITE), WAIT_OBJECT_0);
  Win().CloseHandle(t);
  MainThread().CheckSynchronize();
  const auto bodies = Bodies(shown);
  EXPECT_EQ(bodies.size(), 301u);
  EXPECT_EQ(echoes, 1);
  EXPECT_EQ(WithPrefix(bodies, "w"), Numbered("w", 200));
  EXPECT_EQ(WithPrefix(bodies, "m"), Numbered("m", 100));
  const auto file = Bodies(FileLines());
  EXPECT_EQ(file.size(), 301u);
  EXPECT_EQ(WithPrefix(file, "w"), Numbered("w", 200));
}

TEST_F(LoggerTest, DestroyDropsWaitingWorkerLines) {
  auto* log = new TLogger(kPath);
  log->SetOnLog(Recorder());
  LogJob job{log, "w", 3};
  HANDLE t = StartLogging(&job);
  ASSERT_EQ(Win().WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  Win().CloseHandle(t);
  delete log;  // runs the waiting flushes, which find no handler
  EXPECT_FALSE(MainThread().CheckSynchronize());
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(FileLines().size(), 3u);
}

DWORD DestroyLogger(void* p) {
  delete static_cast<TLogger*>(p);
  return 0;
}

TEST_F(LoggerTest, FlushQueuedBeforeALoggerDestroyedElsewhereRunsHarmlessly) {
  auto* log = new TLogger(kPath);
  log->SetOnLog(Recorder());
  LogJob job{log, "w", 3};
  HANDLE t = StartLogging(&job);
  ASSERT_EQ(Win().WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  Win().CloseHandle(t);
  // Freed off the main thread, so the flushes are still waiting afterwards.
  t = Win().CreateThread(0, DestroyLogger, log, 0, nullptr);
  ASSERT_EQ(Win().WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  Win().CloseHandle(t);
  MainThread().CheckSynchronize();
  EXPECT_TRUE(shown.empty());
}

TEST(WinErrorText, BuiltinSystemAndFallbackTexts) {
  ScopedSimMachine m;
  SimDesktop& d = m->Desktop();
  d.SetMessage(5, 0x409, "System text that the table overrides.\r\n");
  d.SetMessage(4242, 0x407, "\t Nur auf Deutsch.\r\n");
  d.SetMessage(4243, 0x407, "Deutsch");
  d.SetMessage(4243, 0x409, "English first.\r\n");
  d.SetMessage(4244, 0x409, std::string("Up to here\0 and not this.\r\n", 27));
  d.SetDefaultLanguage(0x407);
  struct Case {
    uint32_t code;
    const char* text;
  };
  const Case cases[] = {
      {0, "The operation completed successfully."},
      {5, "Access is denied."},
      {1167, "The device is not connected."},
      {1460, "This operation returned because the timeout period expired."},
      {258, "The wait operation timed out."},
      {4242, "Nur auf Deutsch."},
      {4243, "English first."},
      {4244, "Up to here"},
      {4245, "WinErr=4245 (FormatMessage failed)"},
      {0x80004005u, "WinErr=-2147467259 (FormatMessage failed)"},
      {0xFFFFFFFFu, "WinErr=-1 (FormatMessage failed)"},
  };
  for (const Case& c : cases) EXPECT_EQ(WinErrorText(c.code), c.text) << c.code;
  Win().SetLastError(77);
  WinErrorText(4245);
  EXPECT_EQ(Win().GetLastError(), 77u);
}

}  // namespace

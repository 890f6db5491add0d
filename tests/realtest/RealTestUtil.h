// Shared by the real-test tests: a window that records what the test thread hands it, a
// machine with a main thread and a log, and a way to run a test to its end.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "core/ThreadTestUtil.h"
#include "core/uFileWrite.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "realtest/uRealTrimTest.h"

inline constexpr const char* kRealTestLogPath = "C:\\vt\\logs\\run_realtest.log";
inline constexpr const char* kRealTestOutputDir = "C:\\vt\\output\\";

// Records every call in one list ("log: ...", "status: ...", "speed: ...", "elapsed: ...",
// "step: ...", "error: ..."), checks that each arrives on the main thread, and passes the log
// lines on to the program log as the main window does.
class TRecordingWindow : public IRealTestWindow {
 public:
  explicit TRecordingWindow(TLogger* Log, std::string OutputDir = kRealTestOutputDir)
      : FLog(Log), FOutputDir(std::move(OutputDir)) {}

  // Called on the main thread after each call is recorded, for a test that reacts to one.
  std::function<void(const std::string& Event)> OnEvent;

  void RealTestLog(const std::string& Line) override {
    Record("log: " + Line);
    if (FLog) FLog->Info(Line);
  }
  void RealTestLogError(const std::string& Line) override {
    Record("error: " + Line);
    if (FLog) FLog->Error(Line);
  }
  void SetRealStatus(const std::string& Text) override { Record("status: " + Text); }
  void SetRealSpeed(const std::string& Text) override { Record("speed: " + Text); }
  void SetRealElapsed(const std::string& Text) override { Record("elapsed: " + Text); }
  void SetStepElapsed(const std::string& Text) override { Record("step: " + Text); }
  TLogger* RealTestLogger() const override { return FLog; }
  std::string RealTestOutputDir() const override { return FOutputDir; }

  std::vector<std::string> Events;
  int OffMainThread = 0;

  // The recorded events that start with Kind ("log: ", "status: ", ...), without the prefix.
  std::vector<std::string> Of(const std::string& Kind) const {
    std::vector<std::string> r;
    for (const std::string& e : Events)
      if (e.rfind(Kind, 0) == 0) r.push_back(e.substr(Kind.size()));
    return r;
  }
  bool Logged(const std::string& Text) const {
    const auto lines = Of("log: ");
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(Text) != std::string::npos; });
  }
  size_t CountLogged(const std::string& Text) const {
    const auto lines = Of("log: ");
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(Text) != std::string::npos; });
  }

 private:
  void Record(const std::string& E) {
    if (!MainThread().IsMainThread()) ++OffMainThread;
    Events.push_back(E);
    if (OnEvent) OnEvent(E);
  }
  TLogger* FLog;
  std::string FOutputDir;
};

// What the window reads when the thread ends.
struct TRealTestOutcome {
  bool Ended = false;
  bool Succeeded = false;
  bool Cancelled = false;
  std::string ResultText;
  TSpeedDataArray Series;
};

struct TRealTestFixture : TThreadFixture {
  TLogger log{kRealTestLogPath};
  TRecordingWindow window{&log};
  TRealTrimTestThread* running = nullptr;  // valid from Start until the end handler

  TRealTestFixture() {
    SetCurrentLanguage(TUiLanguage::ulEnglish);
    log.Info("test start");
    ForceDirectories(kRealTestOutputDir);  // the window makes it at start-up
  }

  // Starts the thread as the window does (self-freeing, the end read in the termination
  // handler) and serves its calls until it has gone.
  TRealTestOutcome RunToEnd(TRealTrimTestThread* T) {
    TRealTestOutcome out;
    TThreadLink link = T->Link();
    T->SetOnTerminate([&out, this](TThread* Sender) {
      auto* t = static_cast<TRealTrimTestThread*>(Sender);
      out.Ended = true;
      out.Succeeded = t->Succeeded();
      out.Cancelled = t->Cancelled();
      out.ResultText = t->ResultText();
      t->GetSpeedData(out.Series);
      running = nullptr;
    });
    running = T;
    T->Start();
    EXPECT_TRUE(link.WaitFor());
    EXPECT_EQ(window.OffMainThread, 0) << "a window call ran off the main thread";
    return out;
  }

  // The log file's lines without their time stamps.
  std::vector<std::string> LogFileLines() {
    std::vector<std::string> r;
    const std::string bytes = m->Files().Exists(kRealTestLogPath) ? m->Files().ReadAll(kRealTestLogPath) : "";
    size_t at = 0;
    while (at < bytes.size()) {
      size_t e = bytes.find("\r\n", at);
      if (e == std::string::npos) e = bytes.size();
      const std::string line = bytes.substr(at, e - at);
      r.push_back(line.size() > 25 ? line.substr(25) : line);
      at = e + 2;
    }
    return r;
  }
};

// Speed windows, the moving average, the drop rule and the wait, the series and the elapsed
// texts, driven on the virtual clock by a test thread that runs a script in place of the steps.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <utility>
#include <vector>

#include "core/ScopedFormatSettings.h"
#include "platform/Platform.h"
#include "realtest/RealTestUtil.h"
#include "realtest/uRealTrimTest.h"

namespace {

constexpr int32_t kMiB = 1048576;

class TScriptedTest : public TRealTrimTestThread {
 public:
  TScriptedTest(IRealTestWindow* Window, int32_t WaitMin, std::function<void(TScriptedTest&)> Body)
      : TRealTrimTestThread(Window, TDiskInfo(), "E:\\trim_real_test", TRealTestOptions{WaitMin, 1, 5},
                            TTrimExecOptions(), false),
        FBody(std::move(Body)) {}

  using TRealTrimTestThread::AccountBytes;
  using TRealTrimTestThread::EndStepSamples;
  using TRealTrimTestThread::FAvgSpeed;
  using TRealTrimTestThread::FileHash;
  using TRealTrimTestThread::FSpeedDropCheck;
  using TRealTrimTestThread::PostElapsed;
  using TRealTrimTestThread::PostStatus;
  using TRealTrimTestThread::PostStepElapsed;
  using TRealTrimTestThread::ResetStepCounters;
  using TRealTrimTestThread::StartStepTimer;
  using TRealTrimTestThread::WaitAfterSpeedDrop;

  static void Sleep(uint32_t Ms) { plat::Win().Sleep(Ms); }
  static uint64_t Now() { return plat::Win().GetTickCount64(); }
  // A window of Ms milliseconds that moved Bytes: the bytes go in as the window closes.
  void Window(uint32_t Ms, int32_t Bytes) {
    Sleep(Ms);
    AccountBytes(Bytes);
  }

 protected:
  void Execute() override { FBody(*this); }

 private:
  std::function<void(TScriptedTest&)> FBody;
};

struct SpeedTest : ::testing::Test, TRealTestFixture {
  TRealTestOutcome Script(int32_t WaitMin, std::function<void(TScriptedTest&)> Body) {
    return RunToEnd(new TScriptedTest(&window, WaitMin, std::move(Body)));
  }
};

TEST_F(SpeedTest, AWindowClosesAfterTwoSecondsWithItsRealLength) {
  const TRealTestOutcome r = Script(0, [](TScriptedTest& t) {
    t.PostStatus("STEP1");
    t.ResetStepCounters();
    t.Window(1999, 4 * kMiB);  // still open
    t.Window(501, 8 * kMiB);   // 12 MiB in 2500 ms
  });
  ASSERT_EQ(r.Series.size(), 1u);
  EXPECT_DOUBLE_EQ(r.Series[0].SpeedMBps, 4.8);
  EXPECT_EQ(r.Series[0].StepLabel, "STEP1");
  EXPECT_EQ(window.Of("speed: ").back(), "4.8 MB/s");
}

TEST_F(SpeedTest, TheDropRuleAgainstTheMovingAverage) {
  const struct {
    double Speed;
    bool Drop;
    double AverageAfter;  // 0 after a wait
  } cases[] = {
      {40, true, 0},    // new average 94, 94 / 2 > 40
      {50, false, 95},  // new average 95, 47.5 < 50
      {47.36, true, 0},
      {47.38, false, 94.738},
  };
  for (const auto& c : cases) {
    window.Events.clear();
    double avgAfter = -1;
    const TRealTestOutcome r = Script(1, [&](TScriptedTest& t) {
      t.PostStatus("STEP3");
      t.FAvgSpeed = 100;
      t.FSpeedDropCheck = true;
      t.ResetStepCounters();
      t.Window(2000, static_cast<int32_t>(std::lround(c.Speed * 2 * kMiB)));
      avgAfter = t.FAvgSpeed;
    });
    EXPECT_EQ(window.CountLogged("Speed drop detected"), c.Drop ? 1u : 0u) << c.Speed;
    EXPECT_NEAR(avgAfter, c.AverageAfter, 0.001) << c.Speed;
    // A drop waits one minute: one zero point every two seconds.
    EXPECT_EQ(r.Series.size(), c.Drop ? 31u : 1u) << c.Speed;
  }
}

TEST_F(SpeedTest, ADropLogsWaitsAndTheNextWindowStartsAfterTheWait) {
  uint64_t waitStart = 0, waitEnd = 0;
  const TRealTestOutcome r = Script(2, [&](TScriptedTest& t) {
    t.PostStatus("STEP1");
    t.FAvgSpeed = 100;
    t.FSpeedDropCheck = true;
    t.ResetStepCounters();
    waitStart = t.Now() + 2000;
    t.Window(2000, 80 * kMiB);  // 40 MiB/s: the drop, then the wait
    waitEnd = t.Now();
    t.Window(2000, 20 * kMiB);  // 10 MiB/s over this window alone, not over the wait
  });
  EXPECT_TRUE(window.Logged("Speed drop detected: 2s=40.0 / avg=94.0 MB/s, waiting 2 min"));
  // 120 sleeps of one second, a point of 0 every second one, labelled with the filling step.
  EXPECT_EQ(waitEnd - waitStart, 120000u);
  ASSERT_EQ(r.Series.size(), 62u);
  for (size_t i = 1; i <= 60; ++i) {
    EXPECT_EQ(r.Series[i].SpeedMBps, 0.0);
    EXPECT_EQ(r.Series[i].StepLabel, "STEP1");
  }
  EXPECT_NEAR(r.Series[2].ElapsedSec - r.Series[1].ElapsedSec, 2.0, 1e-3);
  EXPECT_DOUBLE_EQ(r.Series[61].SpeedMBps, 10.0);
  // The countdown in the status label, each second, down to 0:00.
  const auto statuses = window.Of("status: ");
  ASSERT_EQ(statuses.size(), 121u);
  EXPECT_EQ(statuses[1], "Waiting 1:59");
  EXPECT_EQ(statuses[60], "Waiting 1:00");
  EXPECT_EQ(statuses[61], "Waiting 0:59");
  EXPECT_EQ(statuses.back(), "Waiting 0:00");
}

TEST_F(SpeedTest, AStopEndsTheWaitWithinASecond) {
  uint64_t stopAt = 0, waitEnd = 0;
  window.OnEvent = [&](const std::string& e) {
    if (e == "status: Waiting 1:30" && running) {
      stopAt = plat::Win().GetTickCount64();
      running->RequestStop();
    }
  };
  Script(2, [&](TScriptedTest& t) {
    t.WaitAfterSpeedDrop(2);
    waitEnd = t.Now();
  });
  EXPECT_GT(stopAt, 0u);
  EXPECT_LE(waitEnd - stopAt, 1000u);
  EXPECT_EQ(window.Of("status: ").back(), "Waiting 1:30");
}

TEST_F(SpeedTest, DetectionOffStillMeasures) {
  for (int32_t waitMin : {0, 2}) {
    const TRealTestOutcome r = Script(waitMin, [&](TScriptedTest& t) {
      t.FAvgSpeed = 100;
      t.FSpeedDropCheck = waitMin == 0;  // minutes 0, or a step that does not fill
      t.ResetStepCounters();
      t.Window(2000, 2 * kMiB);
      EXPECT_NEAR(t.FAvgSpeed, 90.1, 1e-9);
    });
    EXPECT_EQ(window.CountLogged("Speed drop detected"), 0u);
    ASSERT_EQ(r.Series.size(), 1u);
    EXPECT_DOUBLE_EQ(r.Series[0].SpeedMBps, 1.0);
  }
}

// The window still open when a step's transfers end: a step without a sample gets one, a rest
// long enough to time closes as one, and nothing else adds a sample.
TEST_F(SpeedTest, TheOpenWindowAtAStepsEnd) {
  const struct {
    const char* What;
    std::vector<std::pair<uint32_t, int32_t>> Windows;  // milliseconds, then the bytes
    uint64_t StepBytes, StepMs;                         // as the step line counts them
    std::vector<double> Speeds;
  } cases[] = {
      {"a step shorter than a window: its average", {{1500, 3 * kMiB}}, 3 * kMiB, 1200, {2.5}},
      {"a step that completed no file: the window's speed", {{1500, 3 * kMiB}}, 0, 0, {2.0}},
      {"a rest of half a window", {{2000, 4 * kMiB}, {1000, 3 * kMiB}}, 7 * kMiB, 3000, {2.0, 3.0}},
      {"a shorter rest stays with the samples before", {{2000, 4 * kMiB}, {999, 3 * kMiB}}, 7 * kMiB, 2999, {2.0}},
      {"nothing open", {{2000, 4 * kMiB}}, 4 * kMiB, 2000, {2.0}},
      {"a step that moved nothing", {}, 0, 0, {}},
      {"bytes in no measurable time", {{0, 3 * kMiB}}, 0, 0, {}},
  };
  for (const auto& c : cases) {
    const TRealTestOutcome r = Script(0, [&](TScriptedTest& t) {
      t.PostStatus("STEP3");
      t.ResetStepCounters();
      for (const auto& [ms, bytes] : c.Windows) t.Window(ms, bytes);
      t.EndStepSamples(c.StepBytes, c.StepMs);
      t.EndStepSamples(c.StepBytes, c.StepMs);  // a second call finds the window closed
    });
    std::vector<double> speeds;
    for (const TSpeedDataPoint& p : r.Series.Snapshot()) {
      speeds.push_back(p.SpeedMBps);
      EXPECT_EQ(p.StepLabel, "STEP3");
    }
    EXPECT_EQ(speeds, c.Speeds) << c.What;
  }
}

TEST_F(SpeedTest, SpeedTextsFollowTheUsersDecimalSeparator) {
  EXPECT_EQ(TRealTrimTestThread::FormatSpeed(0, 1000), "0 MB/s");
  EXPECT_EQ(TRealTrimTestThread::FormatSpeed(1000, 0), "0 MB/s");
  EXPECT_EQ(TRealTrimTestThread::FormatSpeed(12582912, 2500), "4.8 MB/s");
  TFormatSettings comma = GetFormatSettings();
  comma.DecimalSeparator = ",";
  ScopedFormatSettings scoped(comma);
  EXPECT_EQ(TRealTrimTestThread::FormatSpeed(12582912, 2500), "4,8 MB/s");
}

TEST_F(SpeedTest, ElapsedTextsAndTheSeriesTimes) {
  std::string atCreation, step;
  const TRealTestOutcome r = Script(0, [&](TScriptedTest& t) {
    t.Sleep(3725000);
    t.PostElapsed();
    t.StartStepTimer();
    t.Sleep(90061000 - 3725000);
    t.PostElapsed();  // 25 hours, 1 minute and 1 second since creation
    t.PostStepElapsed();
    // A point past 2^24 ms keeps a float's precision.
    t.ResetStepCounters();
    t.Window(2001, kMiB);
  });
  const auto elapsed = window.Of("elapsed: ");
  ASSERT_GE(elapsed.size(), 2u);
  EXPECT_EQ(elapsed[0], "1:02:05");
  EXPECT_EQ(elapsed[1], "25:01:01");
  EXPECT_EQ(window.Of("step: ")[0], "0:00:00");
  EXPECT_EQ(window.Of("step: ")[1], "23:58:56");
  ASSERT_EQ(r.Series.size(), 1u);
  // 90063001 ms: the float holds 90063000.
  EXPECT_EQ(r.Series[0].ElapsedSec, 90063.0);
}

TEST_F(SpeedTest, TheWindowsTimerReadsTheElapsedTimesWhileTheTestRuns) {
  std::vector<std::string> seen;
  window.OnEvent = [&](const std::string& e) {
    if (e == "status: now" && running) {
      seen.push_back(running->GetElapsedText());
      seen.push_back(running->GetStepElapsedText());
    }
  };
  Script(0, [](TScriptedTest& t) {
    t.Sleep(61000);
    t.StartStepTimer();
    t.Sleep(5000);
    t.PostStatus("now");
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"0:01:06", "0:00:05"}));
}

TEST_F(SpeedTest, FileHashOfAFileAndOfAMissingOne) {
  m->Files().AddDrive('E');
  const std::string path = "E:\\trim_real_test\\file_0.bin";
  std::string bytes(kMiB + 5, '\0');
  TContentStream(NameSeed(path)).Next(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
  m->Files().WriteAll(path, bytes);
  uint32_t got = 0, missing = 0;
  Script(0, [&](TScriptedTest& t) {
    got = t.FileHash(path);
    missing = t.FileHash("E:\\trim_real_test\\file_1.bin");
  });
  EXPECT_EQ(got, ExpectedHash(static_cast<int64_t>(bytes.size()), NameSeed(path)));
  EXPECT_EQ(missing, 0x7EE3623Au);
}

}  // namespace

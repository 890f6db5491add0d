// The real test on a slow drive, whose reads and writes take virtual time: speed windows while
// files are written and verified, a speed drop and its wait inside a fill, and stops inside a
// file's writes (which remove what was written), inside a file's reads and during the wait.
#include <gtest/gtest.h>

#include "realtest/RealTestScenario.h"
#include "realtest/RealTestUtil.h"

namespace {

using namespace realtest_scenario;

// MB/s: how far the drive's rounding of each request to whole milliseconds moves a window.
constexpr double kRounding = 0.002;

struct SlowDriveTest : RealTest {
  void Speed(uint64_t BytesPerSecond) {
    FileFault f;
    f.bytesPerSecond = BytesPerSecond;
    m->Files().SetFault("E:\\", f);
  }
};

TEST_F(SlowDriveTest, StepLinesAndWindowsShowTheDrivesSpeed) {
  Speed(512 * kKiB);  // a 256 KiB file takes 500 ms
  const TRealTestOutcome r = Run(1, 4);
  EXPECT_TRUE(r.Succeeded);
  // 11 files in 5.5 s, and 10 of them read back at the same speed.
  EXPECT_TRUE(window.Logged("STEP1 complete - 0.5 MB/s | 0:00:05"));
  EXPECT_TRUE(
      window.Logged("STEP4 complete: Verification passed | Verified 10 files: 10 passed, 0 failed | 0.5 MB/s"));
  ASSERT_GE(r.Series.size(), 4u);
  // Every window shows the drive's speed, the first too: it opens with the writing, not before
  // the step's TRIM (200 ms). Each file's first 4 KiB are written once more at its end, in a
  // request whose time the drive rounds down to whole milliseconds: the speeds hold to within that.
  for (size_t i = 0; i < r.Series.size(); ++i)
    EXPECT_NEAR(r.Series[i].SpeedMBps, 0.5, kRounding) << r.Series[i].StepLabel << " " << r.Series[i].ElapsedSec;
  EXPECT_EQ(r.Series[0].StepLabel, "STEP1");
  EXPECT_EQ(r.Series[r.Series.size() - 1].StepLabel, "STEP4 Verify");
  EXPECT_EQ(window.CountLogged("Speed drop detected"), 0u);
}

TEST_F(SlowDriveTest, ADropInsideTheFillWaitsAndTheFillGoesOn) {
  Speed(512 * kKiB);
  // After the first window the drive falls to a quarter of its speed.
  window.OnEvent = [&](const std::string& e) {
    if (e == "speed: 0.5 MB/s") Speed(128 * kKiB);
  };
  const TRealTestOutcome r = Run(1, 1, 1);
  EXPECT_TRUE(r.Succeeded);
  // 0.125 against the new average 0.46.
  EXPECT_EQ(window.CountLogged("Speed drop detected: 2s=0.1 / avg=0.5 MB/s, waiting 1 min"), 1u);
  // The window before the drop, the slow one, the wait's 30 zero points, then on.
  ASSERT_GE(r.Series.size(), 33u);
  EXPECT_NEAR(r.Series[0].SpeedMBps, 0.5, kRounding);
  EXPECT_NEAR(r.Series[1].SpeedMBps, 0.125, kRounding);
  for (size_t i = 2; i < 32; ++i) EXPECT_EQ(r.Series[i].SpeedMBps, 0.0) << i;
  // The window after the wait measures writes only: the drive's slow speed, not the wait.
  EXPECT_NEAR(r.Series[32].SpeedMBps, 0.125, kRounding);
  for (int i = 0; i <= 10; ++i) EXPECT_TRUE(FileIntact(File(i), kSmall.FileBytes)) << i;
  // The step's speed counts the writing, not the wait: 2.75 MiB in 4 x 0.5 s + 7 x 2 s; its
  // time is the step's whole time, the wait's minute included.
  EXPECT_TRUE(window.Logged("STEP1 complete - 0.2 MB/s | 0:01:16"));
}

TEST_F(SlowDriveTest, AStopEndsTheTestInsideAFilesWritesReadsOrTheWait) {
  const struct {
    const char* Name;
    bool VerifyOnly;
    int WaitMin;
    int64_t FileBytes;
    const char* StopOn;  // "" for the first window's speed
    bool Writes;         // file_0.bin was being written: what the stop left of it is removed
  } cases[] = {
      // At 4 MiB/s the first window closes after the second 4 MiB write of the first file.
      {"inside a file's writes", false, 0, 12 * kMiB, "", true},
      {"inside a file's reads", true, 0, 12 * kMiB, "", false},
      // The drive then slows to 1 MiB/s: the third write closes a window of a drop, and the wait
      // runs before the fourth.
      {"during the wait", false, 1, 16 * kMiB, "status: Waiting 0:50", true},
  };
  for (const auto& c : cases) {
    window.Events.clear();
    m->Files().ClearFaults();
    Win().DeleteFileW(File(0));
    Win().DeleteFileW(File(1));
    m->Files().AddDrive('E', 48 * kMiB);
    if (c.VerifyOnly) PlaceFile(File(0), 12 * kMiB);
    Speed(4 * kMiB);
    bool slowed = false;
    window.OnEvent = [&](const std::string& e) {
      const bool measured = e.rfind("speed: ", 0) == 0 && e != "speed: -";
      if (c.WaitMin && measured && !slowed) {
        slowed = true;
        Speed(kMiB);
      }
      if (running && (*c.StopOn ? e == c.StopOn : measured)) running->RequestStop();
    };
    const uint64_t t0 = m->Kernel().NowMs();
    const TRealTestOutcome r =
        RunToEnd(NewTest(1, 5, c.WaitMin, c.VerifyOnly, TRealTestFileSizes{c.FileBytes, 8 * kMiB}));
    EXPECT_TRUE(r.Cancelled) << c.Name;
    EXPECT_FALSE(r.Succeeded) << c.Name;
    EXPECT_EQ(r.ResultText, "Operation canceled by user.") << c.Name;
    EXPECT_EQ(m->Files().Exists(File(0)), !c.Writes) << c.Name;
    EXPECT_EQ(window.Logged("Unfinished test file removed: " + File(0)), c.Writes) << c.Name;
    if (!c.Writes) {
      EXPECT_TRUE(FileIntact(File(0), 12 * kMiB)) << c.Name;
    }
    EXPECT_FALSE(m->Files().Exists(File(1))) << c.Name;
    EXPECT_FALSE(window.Logged("STEP1 complete")) << c.Name;
    if (c.VerifyOnly) {
      EXPECT_TRUE(window.Logged("Operation canceled by user.")) << c.Name;
    }
    if (c.WaitMin) {
      // The wait ended within a second of the stop, not after its minute.
      EXPECT_LT(m->Kernel().NowMs() - t0, 30000u) << c.Name;
    }
  }
}

}  // namespace

// A run driven through its context and a host of the test's own, without a thread: what the
// run asks of its host, and what it hands over.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/uTrimRun.h"
#include "engine/uValidation.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;

namespace {

struct TRecordingHost : ITrimRunHost {
  bool cancel = false;
  std::vector<std::string> progress;
  int goldenReports = 0, failureReports = 0, locks = 0;
  std::vector<bool> attemptsWithDevice;  // per ATA attempt: it came with the run's proven handle

  bool IsCancelRequested() const override { return cancel; }
  void ReportProgress(uint32_t, uint32_t, const std::string& Text) override { progress.push_back(Text); }
  bool AskQuestion(const std::string&, const std::string&) override { return false; }
  void ShowInfo(const std::string&, const std::string&) override {}
  TVolumeLockOutcome LockAndDismountVolume(const TVolumeInfo&, const TDeviceHandle*, TDeviceHandle&) override {
    locks++;
    return {};
  }
  TDeviceResult RunAtaBatchWithTimeout(const TByteArray&, const TByteArray&, uint32_t, uint32_t,
                                       const std::shared_ptr<TDeviceHandle>& Device, bool& Hang) override {
    Hang = false;
    attemptsWithDevice.push_back(Device && Device->Valid());
    TDeviceResult r;
    r.Ok = true;
    return r;
  }
  bool WaitForVolumeRemount(char, uint32_t) override { return true; }
  bool RunOptimizeVolumeReTrim(char, uint32_t, int32_t&) override { return false; }
  bool ReTrim43022Seen() const override { return false; }
  void WriteFailureReport() override { failureReports++; }
  void WriteDryRunGolden() override { goldenReports++; }
};

struct RunHostTest : ::testing::Test {
  ScopedSimMachine m;
  TRecordingHost host;
  TDiskInfo disk;
  TTrimRangeArray ranges;
  TTrimExecOptions options{.TimeoutMs = 5000};
  TRunStats stats;
  TAtaPassThroughEngine engine{nullptr};
  TPreflightValidator validator{nullptr};

  RunHostTest() {
    m->Storage().AddDisk(1, 1 << 21);
    disk.DiskNumber = 1;
    disk.DevicePath = "\\\\.\\PhysicalDrive1";
    disk.Transport = TTransportKind::tkBOT;
    for (uint64_t i = 0; i < 70; i++) ranges.push_back({4096 + 16 * i, 8});
  }
  void RunIt(TRunMode Mode) {
    const TRunContext context{disk,   ranges,   TTrimMode::tmFullDevice, Mode, options, stats, nullptr,
                              engine, validator};
    TTrimRun run(context, host);
    run.Run();
    run.Finish();
  }
};

TEST_F(RunHostTest, ADryRunReportsEachBatchAndWritesItsReportThroughTheHost) {
  RunIt(TRunMode::rmDryRun);
  EXPECT_EQ(host.progress, (std::vector<std::string>{"Batch 1/3", "Batch 2/3", "Batch 3/3"}));
  EXPECT_EQ(host.goldenReports, 1);
  EXPECT_EQ(host.failureReports, 0);
  EXPECT_TRUE(host.attemptsWithDevice.empty());
  EXPECT_EQ(stats.SucceededBatches, 3);
}

// The run proves its disk and hands that one handle to every ATA attempt.
TEST_F(RunHostTest, EveryAtaAttemptGetsTheRunsProvenDiskHandle) {
  RunIt(TRunMode::rmExecute);
  EXPECT_EQ(host.attemptsWithDevice, (std::vector<bool>{true, true, true}));
  EXPECT_EQ(host.locks, 0);  // no volume to lock
  EXPECT_EQ(stats.SucceededBatches, 3);
  EXPECT_EQ(host.progress.size(), 3u);
}

TEST_F(RunHostTest, TheHostsCancelFlagStopsTheRunBeforeItsFirstBatch) {
  host.cancel = true;
  RunIt(TRunMode::rmExecute);
  EXPECT_TRUE(host.attemptsWithDevice.empty());
  EXPECT_TRUE(host.progress.empty());
  EXPECT_EQ(stats.SkippedBatches, 3);
  EXPECT_TRUE(stats.Cancelled);
}

}  // namespace

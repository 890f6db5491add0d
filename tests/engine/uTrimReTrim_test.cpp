#include <gtest/gtest.h>

#include "engine/TrimRunTestUtil.h"
#include "platform/WinFsControl.h"

using namespace plat;
using namespace plat::sim;

namespace {

using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;

struct ReTrimTest : ::testing::Test, TRunFixture {
  TTestRun run{RunTestDisk(2), TRunMode::rmExecute, &log};
  std::shared_ptr<SimDisk> disk = m->Storage().AddDisk(2, 1 << 20);

  ReTrimTest() {
    auto v = m->Storage().AddVolume('E', {{2, 2048 * 512, 1000000ull * 512}});
    v->fileSystemName = "NTFS";
    m->Processes().SetFreeRanges([](char letter) {
      return letter == 'E' ? Ranges{{4096, 100}, {9000, 8}} : Ranges{};
    });
  }
  static SimPowerShellScript Prints(std::vector<SimPowerShellScript::Chunk> chunks, DWORD exitCode = 0) {
    SimPowerShellScript s;
    s.chunks = std::move(chunks);
    s.exitCode = exitCode;
    return s;
  }
  std::vector<std::string> PsLines() {
    std::vector<std::string> r;
    for (auto& l : LogLines())
      if (l.find("[PS]") != std::string::npos || l.find("Optimize-Volume:") != std::string::npos) r.push_back(l);
    return r;
  }
};

TEST_F(ReTrimTest, RunsTheSystemPowerShellHiddenAndLogsEachLine) {
  // Two lines in one chunk, a while before PowerShell ends.
  m->Processes().SetPowerShell(
      Prints({{300, "VERBOSE: Invoking retrim on (E:)...\r\nVERBOSE: Performing pass 1:\r\n"}, {400, ""}}));
  int32_t exitCode = 99;
  EXPECT_TRUE(run.RunOptimizeVolumeReTrim('E', 600000, exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_FALSE(run.FReTrim43022Seen);

  auto launches = m->Processes().Launches();
  ASSERT_EQ(launches.size(), 1u);
  const SimProcessLaunch& l = launches[0];
  EXPECT_EQ(l.applicationName, "C:\\Windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe");
  EXPECT_EQ(
      l.commandLine,
      "powershell.exe -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command \"[Console]::OutputEncoding = "
      "[Text.Encoding]::UTF8; $VerbosePreference = 'Continue'; Optimize-Volume -DriveLetter E -ReTrim -Verbose "
      "4>&1\"");
  EXPECT_TRUE(l.inheritHandles);
  EXPECT_EQ(l.creationFlags, CREATE_NO_WINDOW);
  EXPECT_EQ(l.startup.dwFlags, 0x101u);
  EXPECT_EQ(l.startup.wShowWindow, SW_HIDE);
  EXPECT_TRUE(l.stdoutIsPipe);
  EXPECT_TRUE(l.stdinIsOwn);

  EXPECT_EQ(PsLines(), (std::vector<std::string>{"[INFO]   [PS] VERBOSE: Invoking retrim on (E:)...",
                                                 "[INFO]   [PS] VERBOSE: Performing pass 1:"}));
  EXPECT_EQ(disk->drive.TrimmedRanges(), (Ranges{{4096, 100}, {9000, 8}}));
  EXPECT_EQ(m->Processes().Running(), 0);
}

TEST_F(ReTrimTest, LinesSplitOverChunksBlankLinesAndA43022LineWithExitZero) {
  m->Processes().SetPowerShell(Prints({{100, "VERBOSE: first ha"},
                                       {250, "lf\r\n   \t\r\n\r\nStorage"},
                                       {150, std::string("WMI \0 43022 done\n", 17)},
                                       {150, "tail without end"}}));
  int32_t exitCode = -5;
  EXPECT_TRUE(run.RunOptimizeVolumeReTrim('E', 0, exitCode));
  EXPECT_TRUE(run.FReTrim43022Seen);  // kept although a NUL byte came before it
  auto lines = PsLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "[INFO]   [PS] VERBOSE: first half");
  EXPECT_EQ(lines[1], std::string("[INFO]   [PS] StorageWMI \0 43022 done", 37));
  EXPECT_EQ(lines[2], "[INFO]   [PS] tail without end");  // the rest at the end, as one entry
}

TEST_F(ReTrimTest, Error43022FailsWithItsExitCode) {
  m->Processes().SetPowerShell(SimPowerShellScript::Fails43022());
  int32_t exitCode = 0;
  EXPECT_FALSE(run.RunOptimizeVolumeReTrim('E', 600000, exitCode));
  EXPECT_EQ(exitCode, 1);
  EXPECT_TRUE(run.FReTrim43022Seen);
  EXPECT_TRUE(disk->drive.Ledger().empty());
  // The flag tells of the last call only.
  m->Processes().SetPowerShell(Prints({}, 3));
  EXPECT_FALSE(run.RunOptimizeVolumeReTrim('E', 600000, exitCode));
  EXPECT_EQ(exitCode, 3);
  EXPECT_FALSE(run.FReTrim43022Seen);
}

TEST_F(ReTrimTest, TimeoutTerminatesAndStillLogsTheRest) {
  SimPowerShellScript s = Prints({{1000, "VERBOSE: pass 1\r\nVERBOSE: pass 2 of"}});
  s.neverExit = true;
  m->Processes().SetPowerShell(s);
  const uint64_t t0 = m->Kernel().NowMs();
  int32_t exitCode = 0;
  EXPECT_FALSE(run.RunOptimizeVolumeReTrim('E', 5000, exitCode));
  EXPECT_EQ(exitCode, 1);  // what Windows reports for the terminated process
  const uint64_t took = m->Kernel().NowMs() - t0;
  EXPECT_GT(took, 5000u);
  EXPECT_LT(took, 5300u);
  EXPECT_EQ(PsLines(), (std::vector<std::string>{"[INFO]   [PS] VERBOSE: pass 1",
                                                 "[WARN] Optimize-Volume: timeout after 5000 ms",
                                                 "[INFO]   [PS] VERBOSE: pass 2 of"}));
  EXPECT_EQ(m->Processes().Running(), 0);
}

TEST_F(ReTrimTest, CancelEndsAWaitWithoutLimit) {
  SimPowerShellScript s;
  s.neverExit = true;
  m->Processes().SetPowerShell(s);
  auto* canceller = new TLambdaThread([this](TLambdaThread&) {
    Win().Sleep(60000);
    run.RequestCancel();
  });
  canceller->Start();
  int32_t exitCode = 0;
  EXPECT_FALSE(run.RunOptimizeVolumeReTrim('E', 0, exitCode));
  EXPECT_EQ(exitCode, 1);
  EXPECT_GE(m->Kernel().NowMs(), 10'000'000u + 60000u);
  EXPECT_EQ(PsLines(), std::vector<std::string>{"[WARN] Optimize-Volume: cancellation requested"});
  canceller->WaitFor();
  delete canceller;
}

TEST_F(ReTrimTest, AProcessThatRefusesToEndIsLeftWithoutWaitingForIt) {
  SimPowerShellScript s;
  s.neverExit = true;
  s.refuseTerminate = true;
  m->Processes().SetPowerShell(s);
  int32_t exitCode = 0;
  EXPECT_FALSE(run.RunOptimizeVolumeReTrim('E', 1000, exitCode));
  EXPECT_EQ(exitCode, -1);
  EXPECT_EQ(PsLines(), (std::vector<std::string>{
                           "[WARN] Optimize-Volume: timeout after 1000 ms",
                           "[WARN] Optimize-Volume: TerminateProcess failed (winerr=5); left running"}));
  EXPECT_EQ(m->Processes().Running(), 1);
}

TEST_F(ReTrimTest, RefusesALetterOutsideAToZBeforeAnyCommandLine) {
  for (char bad : {'1', 'e', '"', '\0'}) {
    int32_t exitCode = 0;
    EXPECT_FALSE(run.RunOptimizeVolumeReTrim(bad, 1000, exitCode)) << int(bad);
    EXPECT_EQ(exitCode, -1);
  }
  EXPECT_TRUE(m->Processes().Launches().empty());
}

TEST_F(ReTrimTest, RemountWait) {
  // Answers at once: no time passes.
  uint64_t t0 = m->Kernel().NowMs();
  Win().SetErrorMode(0x4);
  EXPECT_TRUE(run.WaitForVolumeRemount('E', 8000));
  EXPECT_EQ(m->Kernel().NowMs(), t0);
  EXPECT_EQ(m->Processes().ErrorMode(), 0x4u);  // the previous mode is back

  auto dismount = [&](DWORD remountDelay) {
    m->VolumeLocks().SetBehaviour('E', SimVolumeLockBehaviour{{}, {}, remountDelay});
    HANDLE h = Win().CreateFileW("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    DWORD n = 0;
    ASSERT_TRUE(Win().DeviceIoControl(h, fsc::FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &n));
    Win().CloseHandle(h);
  };
  // Back after 3 s: found at the first question after that.
  dismount(3000);
  t0 = m->Kernel().NowMs();
  EXPECT_TRUE(run.WaitForVolumeRemount('E', 8000));
  EXPECT_EQ(m->Kernel().NowMs() - t0, 3000u);
  // Not back within the limit: the last question comes at the first step after the deadline.
  dismount(20000);
  t0 = m->Kernel().NowMs();
  EXPECT_FALSE(run.WaitForVolumeRemount('E', 8000));
  EXPECT_EQ(m->Kernel().NowMs() - t0, 8000u);
  // A cancelled run asks nothing.
  run.RequestCancel();
  t0 = m->Kernel().NowMs();
  EXPECT_FALSE(run.WaitForVolumeRemount('F', 8000));
  EXPECT_EQ(m->Kernel().NowMs(), t0);
}

}  // namespace

#include <gtest/gtest.h>

#include <atomic>

#include "platform/WinStorage.h"
#include "engine/TrimRunTestUtil.h"
#include "platform/WinFsControl.h"
#include "platform/sim/kernel/SimKernel.h"

using namespace plat;
using namespace plat::sim;

namespace {

using TTimedRun = TTestRun;

TVolumeInfo VolumeE(const char* Letter = "E:") {
  TVolumeInfo v;
  v.DriveLetter = Letter;
  v.RootPath = std::string(Letter) + "\\";
  v.HasDriveLetter = true;
  return v;
}

// How the test's pass-through handler answers an ATA attempt.
enum class TAta { FailAtOnce, Succeed, HangUntilCancelled, HangForEver };

struct TimedCallTest : ::testing::Test, TRunFixture {
  TTimedRun run{RunTestDisk(2), TRunMode::rmExecute, &log};
  TDeviceHandle volume;  // where a lock puts the volume's handle
  std::atomic<TAta> ata{TAta::Succeed};

  TimedCallTest() {
    m->Storage().AddDisk(2, 1 << 20);
    m->Storage().AddVolume('E', {{2, 2048 * 512, 100000ull * 512}})->fileSystemName = "NTFS";
    m->Storage().RegisterIoctl(plat::IOCTL_SCSI_PASS_THROUGH_DIRECT, [this](SimDeviceCall&) -> BOOL {
      switch (ata.load()) {
        case TAta::FailAtOnce: SimSetLastError(ERROR_IO_DEVICE); return FALSE_;
        case TAta::Succeed: return TRUE_;
        case TAta::HangUntilCancelled:
        case TAta::HangForEver:
          m->Kernel().BlockUntil({}, UINT64_MAX, WaitKind{true, ata.load() == TAta::HangUntilCancelled});
          SimSetLastError(ERROR_OPERATION_ABORTED);
          return FALSE_;
      }
      return FALSE_;
    });
  }
  TVolumeLockOutcome Lock(const TVolumeInfo& V) { return run.LockAndDismountVolume(V, nullptr, volume); }
  void Behave(SimOutcome Lock, SimOutcome Dismount) {
    m->VolumeLocks().SetBehaviour('E', SimVolumeLockBehaviour{Lock, Dismount, 0});
  }
  // Cancels the run after Ms of virtual time, from a thread of its own.
  TLambdaThread* CancelAfter(DWORD Ms) {
    auto* t = new TLambdaThread([this, Ms](TLambdaThread&) {
      Win().Sleep(Ms);
      run.RequestCancel();
    });
    t->Start();
    return t;
  }
  bool Attempt(uint32_t HangMs, uint32_t& WinErr, bool& Hang) {
    TByteArray payload;
    TTrimRangeArray ranges = {{4096, 64}};
    EXPECT_TRUE(TAtaPassThroughEngine::BuildDsmPayload(payload, ranges, 0, 1));
    TByteArray cdb(16);
    EXPECT_TRUE(TAtaPassThroughEngine::BuildPt16DsmCdb(1, cdb, ATA_PROTOCOL_DMA, true, false));
    uint8_t sk = 9, asc = 9, ascq = 9;
    return run.RunAtaBatchWithTimeout(cdb, payload, 30000, HangMs, WinErr, sk, asc, ascq, Hang);
  }
};

TEST_F(TimedCallTest, LockGrantedAfter299SecondsSucceeds) {
  Behave(SimOutcome::Delay(299000), SimOutcome::Delay(20));
  TVolumeLockOutcome r = Lock(VolumeE());
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Path, "\\\\.\\E:");
  EXPECT_NE(volume.Get(), VT_INVALID_HANDLE_VALUE);
  EXPECT_TRUE(m->VolumeLocks().Locked('E'));
  EXPECT_TRUE(m->VolumeLocks().Dismounted('E'));
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"[INFO] FSCTL_LOCK_VOLUME completed: \\\\.\\E: elapsed_ms=299000",
                                      "[INFO] FSCTL_DISMOUNT_VOLUME completed: \\\\.\\E: elapsed_ms=20",
                                      "[INFO] Volume dismounted: \\\\.\\E:"}));
}

TEST_F(TimedCallTest, DismountThatNeverReturnsIsAbandonedAndFreesItselfOnce) {
  Behave({}, SimOutcome::HangForever());
  const int idle = m->Kernel().LiveThreads();  // the run's own thread, never started
  const uint64_t t0 = m->Kernel().NowMs();
  TVolumeLockOutcome r = Lock(VolumeE());
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.FailedOp, "FSCTL_DISMOUNT_VOLUME");
  EXPECT_EQ(r.WinErr, ERROR_WAIT_TIMEOUT);
  EXPECT_EQ(m->Kernel().NowMs() - t0, 301000u);
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1],
            "[WARN] FSCTL_DISMOUNT_VOLUME timeout: \\\\.\\E: after 301000 ms; raw TRIM path will be skipped");
  EXPECT_EQ(lines[2], "[WARN] FSCTL_DISMOUNT_VOLUME worker still pending after cancellation: \\\\.\\E:");
  EXPECT_EQ(m->Kernel().LiveThreads(), idle + 1);  // still blocked; it frees itself when the machine stops
}

TEST_F(TimedCallTest, HangEndedByTheCancelNeedsNoGrace) {
  Behave(SimOutcome::HangUntilCancel(), {});
  TVolumeLockOutcome r = Lock(VolumeE());
  EXPECT_EQ(r.FailedOp, "FSCTL_LOCK_VOLUME");
  EXPECT_EQ(r.WinErr, ERROR_WAIT_TIMEOUT);
  EXPECT_EQ(LogLines(),
            std::vector<std::string>{
                "[WARN] FSCTL_LOCK_VOLUME timeout: \\\\.\\E: after 300000 ms; raw TRIM path will be skipped"});
  EXPECT_EQ(m->VolumeLocks().Requests(), std::vector<std::string>{"LOCK E:"});  // never dismounted
}

TEST_F(TimedCallTest, RefusedLockAndUnopenableVolume) {
  Behave(SimOutcome::Error(ERROR_ACCESS_DENIED, 5), {});
  TVolumeLockOutcome r = Lock(VolumeE());
  EXPECT_EQ(r.FailedOp, "FSCTL_LOCK_VOLUME");
  EXPECT_EQ(r.WinErr, ERROR_ACCESS_DENIED);
  TVolumeLockOutcome q = Lock(VolumeE("Q:"));
  EXPECT_EQ(q.FailedOp, "open");
  EXPECT_EQ(volume.Get(), VT_INVALID_HANDLE_VALUE);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"[WARN] FSCTL_LOCK_VOLUME failed: \\\\.\\E: (winerr=5, elapsed_ms=5)",
                                      "[WARN] Cannot open volume \\\\.\\Q: for dismount (winerr=2)"}));
  EXPECT_EQ(m->VolumeLocks().Requests(), std::vector<std::string>{"LOCK E:"});
}

// The worker's own end lands just inside or just past the grace wait; either way it is freed
// exactly once (AddressSanitizer and ThreadSanitizer watch the release), many times over.
TEST_F(TimedCallTest, WorkerEndingJustBeforeOrAfterTheGrace) {
  const int idle = m->Kernel().LiveThreads();
  for (int i = 0; i < 20; ++i) {
    for (DWORD end : {300999u, 301001u}) {
      const auto before = LogLines().size();
      uint32_t err = 0;
      HANDLE h = Win().CreateFileW("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
      SimVolumeLockBehaviour b;
      b.lock = SimOutcome::Delay(end, true);  // the driver ignores the cancel
      m->VolumeLocks().SetBehaviour('E', b);
      EXPECT_FALSE(
          run.RunVolumeIoctlWithTimeout(h, fsc::FSCTL_LOCK_VOLUME, 300000, "FSCTL_LOCK_VOLUME", "\\\\.\\E:", err));
      EXPECT_EQ(err, ERROR_WAIT_TIMEOUT);
      EXPECT_EQ(LogLines().size() - before, end < 301000 ? 1u : 2u) << end;
      Win().Sleep(10);  // lets a late worker end and free itself
      EXPECT_EQ(m->Kernel().LiveThreads(), idle);
      Win().CloseHandle(h);
    }
  }
}

TEST_F(TimedCallTest, AtaAttemptFailingAtOnceWritesItsOneLineAndSuccessNone) {
  uint32_t err = 0;
  bool hang = true;
  ata = TAta::Succeed;
  EXPECT_TRUE(Attempt(75000, err, hang));
  EXPECT_FALSE(hang);
  EXPECT_TRUE(LogLines().empty());

  ata = TAta::FailAtOnce;
  EXPECT_FALSE(Attempt(75000, err, hang));
  EXPECT_EQ(err, ERROR_IO_DEVICE);
  EXPECT_FALSE(hang);
  EXPECT_EQ(LogLines(), std::vector<std::string>{
                            "[ERROR] DeviceIoControl(ATA PASS-THROUGH DSM)(params=path=\\\\.\\PhysicalDrive2, "
                            "payload=512, timeout_ms=30000, scsi_status=0, ret=False, winerr=1117, "
                            "errtxt=\"The request could not be performed because of an I/O device error.\", "
                            "elapsed_ms=0)"});
}

TEST_F(TimedCallTest, AtaHangLimitAndAShortOne) {
  const struct {
    uint32_t hangMs;
    uint64_t took;  // the first 250 ms step at or past the limit, plus the grace
  } cases[] = {{75000, 75000 + 1500}, {100, 250 + 1500}};
  for (const auto& c : cases) {
    ata = TAta::HangForEver;
    uint32_t err = 0;
    bool hang = false;
    const uint64_t t0 = m->Kernel().NowMs();
    EXPECT_FALSE(Attempt(c.hangMs, err, hang));
    EXPECT_TRUE(hang);
    EXPECT_EQ(err, ERROR_WAIT_TIMEOUT);
    EXPECT_EQ(m->Kernel().NowMs() - t0, c.took);
  }
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(TimedCallTest, CancelDuringAnAtaAttempt) {
  for (TAta mode : {TAta::HangUntilCancelled, TAta::HangForEver}) {
    ata = mode;
    TTimedRun fresh{RunTestDisk(2), TRunMode::rmExecute, &log};
    const uint64_t t0 = m->Kernel().NowMs();
    auto* canceller = new TLambdaThread([&fresh](TLambdaThread&) {
      Win().Sleep(1100);
      fresh.RequestCancel();
    });
    canceller->Start();
    TByteArray payload;
    ASSERT_TRUE(TAtaPassThroughEngine::BuildDsmPayload(payload, {{4096, 64}}, 0, 1));
    TByteArray cdb(16);
    ASSERT_TRUE(TAtaPassThroughEngine::BuildPt16DsmCdb(1, cdb, ATA_PROTOCOL_DMA, true, false));
    uint32_t err = 7;
    uint8_t sk, asc, ascq;
    bool hang = true;
    EXPECT_FALSE(fresh.RunAtaBatchWithTimeout(cdb, payload, 30000, 75000, err, sk, asc, ascq, hang));
    EXPECT_FALSE(hang);
    EXPECT_EQ(err, 0u);
    // Seen at the next 250 ms step; a driver that ignores the cancel costs the 1500 ms grace.
    EXPECT_EQ(m->Kernel().NowMs() - t0, mode == TAta::HangUntilCancelled ? 1250u : 1250u + 1500u);
    canceller->WaitFor();
    delete canceller;
  }
  EXPECT_TRUE(LogLines().empty());
}

}  // namespace

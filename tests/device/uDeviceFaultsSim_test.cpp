// Injected faults: the sender's outcome and line for delays, hangs, a cancelled call, a disk
// that leaves the bus; no handle stays open on any path.
#include <gtest/gtest.h>

#include "device/SimDiskFixture.h"

using namespace devtest;
using namespace plat;
using namespace plat::sim;
using E = TAtaPassThroughEngine;

namespace {

struct DsmFaults : DsmSenderTest {
  bool Ok = false;
  E Quiet{nullptr};

  DsmFaults() {
    E::BuildDsmPayload(Payload, {{2048, 8}}, 0, 1);
    E::BuildPt16DsmCdb(1, Cdb, 6, true, false);
  }
  void Inject(SimFaultKind Kind, uint32_t DelayMs = 0) {
    SimFault F;
    F.command = SimCommand::AtaDsm;
    F.kind = Kind;
    F.delayMs = DelayMs;
    Fault(F);
  }
  // Sends on a worker of the machine, as a run's ATA attempt does.
  static DWORD Worker(void* P) {
    auto* T = static_cast<DsmFaults*>(P);
    T->Ok = T->SendWith(T->Quiet, 5000);
    return 0;
  }
  HANDLE StartWorker() { return Win().CreateThread(0, &Worker, this, 0, nullptr); }
};

}  // namespace

TEST_F(DsmFaults, DelayWithinTheTimeoutAnswersLate) {
  Inject(SimFaultKind::Delay, 3000);
  const ULONGLONG Start = Win().GetTickCount64();
  EXPECT_TRUE(Send());
  EXPECT_EQ(Win().GetTickCount64() - Start, 3000u);
  EXPECT_EQ(Drive().TrimmedRanges().size(), 1u);
  EXPECT_TRUE(Cap.Lines.empty());
}

TEST_F(DsmFaults, DelayPastTheTimeoutFailsAfterTheRequestsSeconds) {
  Inject(SimFaultKind::Delay, 60000);
  EXPECT_FALSE(Send(5000));
  EXPECT_EQ(WinErr, 121u);
  EXPECT_TRUE(Drive().Ledger().empty());
  ASSERT_EQ(Cap.Lines.size(), 1u);
  EXPECT_NE(Cap.Lines[0].find("winerr=121, "), std::string::npos) << Cap.Lines[0];
  EXPECT_NE(Cap.Lines[0].find("elapsed_ms=5000)"), std::string::npos) << Cap.Lines[0];
}

TEST_F(DsmFaults, HangEndsWithCancelSynchronousIo) {
  Inject(SimFaultKind::HangUntilCancel);
  HANDLE T = StartWorker();
  EXPECT_EQ(Win().WaitForSingleObject(T, 50000), WAIT_TIMEOUT);  // hung for 50 s of virtual time
  EXPECT_TRUE(Win().CancelSynchronousIo(T));
  EXPECT_EQ(Win().WaitForSingleObject(T, 1500), WAIT_OBJECT_0);
  Win().CloseHandle(T);
  EXPECT_FALSE(Ok);
  EXPECT_EQ(WinErr, 995u);
  EXPECT_TRUE(Drive().Ledger().empty());
}

// A cancel that comes before the driver has queued the request is accepted and lost; only a
// later one ends the hang.
TEST_F(DsmFaults, ACancelBeforeTheHangIsQueuedIsLost) {
  SimFault F;
  F.command = SimCommand::AtaDsm;
  F.kind = SimFaultKind::HangUntilCancel;
  F.delayMs = 2000;
  F.ignoresCancel = true;
  Fault(F);
  HANDLE T = StartWorker();
  EXPECT_EQ(Win().WaitForSingleObject(T, 1000), WAIT_TIMEOUT);
  EXPECT_TRUE(Win().CancelSynchronousIo(T));
  EXPECT_EQ(Win().WaitForSingleObject(T, 50000), WAIT_TIMEOUT);  // still hung, well past the 2 s
  EXPECT_TRUE(Win().CancelSynchronousIo(T));
  EXPECT_EQ(Win().WaitForSingleObject(T, 1500), WAIT_OBJECT_0);
  Win().CloseHandle(T);
  EXPECT_FALSE(Ok);
  EXPECT_EQ(WinErr, 995u);
  EXPECT_TRUE(Drive().Ledger().empty());
}

TEST_F(DsmFaults, HangForeverIgnoresTheCancel) {
  Inject(SimFaultKind::HangForever);
  HANDLE T = StartWorker();
  EXPECT_EQ(Win().WaitForSingleObject(T, 50000), WAIT_TIMEOUT);
  EXPECT_TRUE(Win().CancelSynchronousIo(T));  // Windows accepts the cancel; the driver ignores it
  EXPECT_EQ(Win().WaitForSingleObject(T, 1500), WAIT_TIMEOUT);
  // Only the machine's end releases it; its handle is closed on the way out.
  M->Shutdown();
  Win().CloseHandle(T);
  EXPECT_FALSE(Ok);
  EXPECT_EQ(WinErr, 995u);
}

TEST_F(DsmFaults, DiskLeavingTheBusFailsThisAndEveryLaterCall) {
  Inject(SimFaultKind::LeaveBus);
  EXPECT_FALSE(Send());
  EXPECT_EQ(WinErr, 1167u);
  EXPECT_TRUE(DeviceLeftBus(WinErr));
  ASSERT_EQ(Cap.Lines.size(), 1u);
  EXPECT_EQ(Cap.Lines[0].substr(0, 8), "[ERROR] ");
  // The disk is gone: it no longer opens, and nothing more reaches the bridge.
  const size_t Sent = Requests().size();
  EXPECT_FALSE(Send());
  EXPECT_EQ(WinErr, 2u);
  TAtaProbeResult P;
  EXPECT_FALSE(Engine.ProbeIdentify(kDisk, 5000, P));
  EXPECT_EQ(P.WinErr, 2u);
  EXPECT_EQ(Requests().size(), Sent);
  EXPECT_TRUE(Drive().Ledger().empty());
}

TEST_F(DsmFaults, NthCallOnlyAndOtherCommandsUntouched) {
  SimFault F;
  F.command = SimCommand::AtaDsm;
  F.nth = 2;
  F.winError = 31;
  Fault(F);
  EXPECT_TRUE(Send());
  TAtaProbeResult P;
  EXPECT_TRUE(Engine.ProbeIdentify(kDisk, 5000, P));  // counted apart from DSM
  EXPECT_FALSE(Send());
  EXPECT_EQ(WinErr, 31u);
  EXPECT_TRUE(Send());
  EXPECT_EQ(Drive().Ledger().size(), 2u);
}

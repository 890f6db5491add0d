// The DSM sender against the simulated bridge: the request as the bridge received it, the
// sectors the drive released, and what each answer gives.
#include <gtest/gtest.h>

#include "device/DeviceTestUtil.h"
#include "device/SimDiskFixture.h"

using namespace devtest;
using namespace plat::sim;
using E = TAtaPassThroughEngine;

namespace {

struct DsmSend : DsmSenderTest {
  DsmSend() {
    E::BuildDsmPayload(Payload, {{2048, 8}, {4096, 70000}}, 0, 2);
    E::BuildPt16DsmCdb(static_cast<uint16_t>(Payload.size() / 512), Cdb, 6, true, true);
  }
};

}  // namespace

TEST_F(DsmSend, Pt16RequestCarriesThePayloadInPlaceAndTrimsExactlyItsRanges) {
  ASSERT_TRUE(Send(2999));
  EXPECT_EQ(WinErr, 0u);
  const auto Sent = Requests();
  ASSERT_EQ(Sent.size(), 1u);
  const SimRequestRecord& R = Sent[0];
  EXPECT_EQ(R.path, kDisk);
  EXPECT_EQ(R.code, 0x4D014u);
  EXPECT_EQ(R.in.size(), 96u);
  EXPECT_EQ(R.outSize, 96u);
  EXPECT_EQ(R.length, 56);
  EXPECT_EQ(R.cdbLength, 16);
  EXPECT_EQ(R.senseInfoLength, 32);
  EXPECT_EQ(R.senseInfoOffset, 60u);
  EXPECT_EQ(R.dataIn, 0);
  EXPECT_EQ(R.dataTransferLength, 512u);
  EXPECT_EQ(R.timeOutValue, 2u);
  EXPECT_EQ(R.dataBuffer, reinterpret_cast<uintptr_t>(Payload.data()));
  EXPECT_EQ(R.cdb, Hex("85 0D 26 00 01 00 01 00 00 00 00 00 00 00 06 00"));
  EXPECT_EQ(R.data, Payload);
  // 70000 sectors travel as 65535 + 4465.
  const auto Ledger = Drive().Ledger();
  ASSERT_EQ(Ledger.size(), 3u);
  EXPECT_EQ(Ledger[0].lba, 2048u);
  EXPECT_EQ(Ledger[0].count, 8u);
  EXPECT_EQ(Ledger[1].count, 65535u);
  EXPECT_EQ(Ledger[2].lba, 4096u + 65535u);
  EXPECT_EQ(Ledger[2].count, 4465u);
  EXPECT_EQ(Ledger[0].command, "ATA DSM");
  EXPECT_EQ(Drive().TrimmedRanges(), (std::vector<std::pair<uint64_t, uint64_t>>{{2048, 8}, {4096, 70000}}));
  EXPECT_TRUE(Cap.Lines.empty());  // a success writes nothing
}

TEST_F(DsmSend, Pt12BlockGoesOutAsTwelveBytes) {
  E::BuildPt12DsmCdb(1, Cdb, 5, false);
  ASSERT_TRUE(Send(0));
  const SimRequestRecord R = Requests()[0];
  EXPECT_EQ(R.cdbLength, 12);
  EXPECT_EQ(R.cdb, Hex("A1 0A 06 01 01 00 00 00 00 06 00 00"));
  EXPECT_EQ(TByteArray(R.in.begin() + 48, R.in.begin() + 52), TByteArray(4, 0));
  EXPECT_EQ(R.timeOutValue, 1u);
  EXPECT_EQ(Drive().TrimmedRanges().size(), 2u);
}

TEST_F(DsmSend, BlocksThatDoNotCarryThisPayloadAsTrimAreRefusedUnopened) {
  struct Case {
    const char* Name;
    void (*Break)(TByteArray& Cdb, TByteArray& Payload);
  };
  const Case Cases[] = {
      {"empty payload", [](TByteArray&, TByteArray& P) { P.clear(); }},
      {"block of a failed build", [](TByteArray& C, TByteArray&) { C.assign(16, 0); }},
      {"count larger than payload", [](TByteArray& C, TByteArray&) { C[6] = 2; }},
      {"another ATA command", [](TByteArray& C, TByteArray&) { C[14] = 0xCA; }},  // WRITE DMA
      {"data in", [](TByteArray& C, TByteArray&) { C[2] |= 0x08; }},
      // Rule 9 counts 257 blocks, but without EXTEND the device reads COUNT (7:0) alone: 1.
      {"high count byte without EXTEND",
       [](TByteArray& C, TByteArray& P) {
         C[1] &= 0xFE;
         C[5] = 1;
         P.resize(257 * 512);
       }},
      {"short (12) block",
       [](TByteArray& C, TByteArray&) {
         C.assign({0xA1, 0x0C, 0x06, 0x01, 0x01});
       }},
      {"(12) block of another command",
       [](TByteArray& C, TByteArray&) {
         E::BuildPt12DsmCdb(1, C, 6, false);
         C[9] = 0x35;
       }},
  };
  for (const Case& K : Cases) {
    SCOPED_TRACE(K.Name);
    TByteArray C = Cdb, P = Payload;
    K.Break(C, P);
    EXPECT_FALSE(Engine.SendAtaPassThroughDsm(kDisk, C, P, 5000, WinErr, Key, Asc, Ascq, Status));
    EXPECT_EQ(WinErr, 87u);
    EXPECT_EQ(Status, 0);
  }
  EXPECT_TRUE(Requests().empty());
  EXPECT_TRUE(Drive().Ledger().empty());
  EXPECT_TRUE(Cap.Lines.empty());
}

// Status and sense against result, error code and line; both sense formats.
TEST_F(DsmSend, AnswersGiveResultCodeAndLine) {
  struct Case {
    const char* Name;
    SimFault Fault;
    bool Ok;
    uint32_t WinErr;
    uint8_t Key, Status;
  };
  auto Reply = [](uint8_t S, std::vector<uint8_t> Sense) {
    SimFault F;
    F.kind = SimFaultKind::ScsiStatus;
    F.scsiStatus = S;
    F.sense = std::move(Sense);
    return F;
  };
  SimFault WinFail;
  WinFail.winError = 31;
  const Case Cases[] = {
      {"ck_cond, descriptor, recovered", Reply(2, Hex("72 01 00 1D 00 00 00 0E 09 0C 00 00")), true, 0, 1, 2},
      {"ck_cond, fixed, no sense", Reply(2, SimFixedSense(0, 0, 0)), true, 0, 0, 2},
      {"illegal request, fixed", Reply(2, SimFixedSense(5, 0x24, 0)), false, 1117, 5, 2},
      {"aborted, descriptor", Reply(2, SimDescriptorSense(0x0B, 0, 0)), false, 1117, 0x0B, 2},
      {"check condition without sense", Reply(2, {}), false, 1117, 0, 2},
      {"busy", Reply(8, Hex("70 00 00")), false, 1117, 0, 8},
      {"task set full", Reply(0x28, {}), false, 1117, 0, 0x28},
      {"windows failure", WinFail, false, 31, 0, 0},
  };
  for (const Case& K : Cases) {
    SCOPED_TRACE(K.Name);
    Cap.Lines.clear();
    Bridge().ClearFaults(kDiskNumber);
    SimFault F = K.Fault;
    F.command = SimCommand::AtaDsm;
    Fault(F);
    EXPECT_EQ(Send(), K.Ok);
    EXPECT_EQ(WinErr, K.WinErr);
    EXPECT_EQ(Key, K.Key);
    EXPECT_EQ(Status, K.Status);
    if (K.Ok) {
      EXPECT_TRUE(Cap.Lines.empty());
    } else {
      ASSERT_EQ(Cap.Lines.size(), 1u);
      EXPECT_EQ(Cap.Lines[0],
                "[ERROR] DeviceIoControl(ATA PASS-THROUGH DSM)(params=path=\\\\.\\PhysicalDrive1, "
                "payload=512, timeout_ms=5000, scsi_status=" +
                    std::to_string(K.Status) + ", ret=False, winerr=" + std::to_string(K.WinErr) + ", errtxt=\"" +
                    WinErrorText(K.WinErr) + "\", elapsed_ms=0)");
    }
  }
  EXPECT_TRUE(Drive().Ledger().empty());  // every answer was the fault's: nothing released
}

TEST_F(DsmSend, OpenFailureAndSilentEngine) {
  SimFault F;
  F.command = SimCommand::Open;
  F.nth = 1;
  F.winError = 32;
  Fault(F);
  EXPECT_FALSE(Send());
  EXPECT_EQ(WinErr, 32u);
  EXPECT_TRUE(Requests().empty());
  EXPECT_TRUE(Cap.Lines.empty());
  // An engine without a log writes nothing, also on failure.
  F.command = SimCommand::AtaDsm;
  F.winError = 1167;
  Fault(F);
  E Quiet(nullptr);
  EXPECT_FALSE(Quiet.SendAtaPassThroughDsm(kDisk, Cdb, Payload, 5000, WinErr, Key, Asc, Ascq, Status));
  EXPECT_EQ(WinErr, 1167u);
  EXPECT_TRUE(DeviceLeftBus(WinErr));
  EXPECT_TRUE(Cap.Lines.empty());
}

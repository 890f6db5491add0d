// The identity probe, the SCSI commands and the storage TRIM request against the simulated
// bridge: what reached it, what the drive released, the outcome and the line.
#include <gtest/gtest.h>

#include "device/DeviceTestUtil.h"
#include "device/SimDiskFixture.h"

using namespace devtest;
using namespace plat::sim;
using E = TAtaPassThroughEngine;
using TRanges = std::vector<std::pair<uint64_t, uint64_t>>;

namespace {

std::string ApiLine(const std::string& Level, const std::string& Name, const std::string& Params, bool Ok,
                    uint32_t WinErr, uint64_t Ms = 0) {
  return "[" + Level + "] " + Name + "(params=" + Params + ", ret=" + (Ok ? "True" : "False") +
         ", winerr=" + std::to_string(WinErr) + ", errtxt=\"" + WinErrorText(WinErr) +
         "\", elapsed_ms=" + std::to_string(Ms) + ")";
}

SimFault WinError(SimCommand C, uint32_t Err, int Nth = 0) {
  SimFault F;
  F.command = C;
  F.nth = Nth;
  F.winError = Err;
  return F;
}

}  // namespace

// ---- ATA identity probe ------------------------------------------------------------------

using IdentityProbe = SimDiskTest;

TEST_F(IdentityProbe, FillsTheResultFromTheDrivesIdentity) {
  SimIdentity Id;
  Id.model = "Samsung SSD 870 EVO 1TB";
  Id.serial = "S6PUNX0T123456A";
  Id.firmware = "SVT02B6Q";
  Bridge().SetIdentity(kDiskNumber, Id);
  TAtaProbeResult P;
  ASSERT_TRUE(Engine.ProbeIdentify(kDisk, 500, P));
  EXPECT_TRUE(P.Probed);
  EXPECT_TRUE(P.IdentifyOk);
  EXPECT_EQ(P.Model, Id.model);
  EXPECT_EQ(P.Serial, Id.serial);
  EXPECT_EQ(P.Firmware, Id.firmware);
  EXPECT_TRUE(P.TrimSupported);
  EXPECT_EQ(P.RotationRate, 1);
  EXPECT_TRUE(P.NonRotating);
  const auto Sent = Requests();
  ASSERT_EQ(Sent.size(), 1u);
  EXPECT_EQ(Sent[0].cdb, Hex("85 08 0E 00 00 00 01 00 00 00 00 00 00 00 EC 00"));
  EXPECT_EQ(Sent[0].dataIn, 1);
  EXPECT_EQ(Sent[0].dataTransferLength, 512u);
  EXPECT_EQ(Sent[0].timeOutValue, 5u);  // below one second: 5
  EXPECT_EQ(Cap.Lines,
            std::vector<std::string>{ApiLine("INFO", "ATA IDENTIFY DEVICE probe", "path=" + kDisk, true, 0)});
  EXPECT_TRUE(Drive().Ledger().empty());
}

TEST_F(IdentityProbe, TrimBitAndRotationRate) {
  struct Case {
    bool Trim;
    uint16_t Rate;
    bool NonRotating;
  };
  for (const Case K : {Case{false, 0, false}, Case{true, 0xFFFF, false}, Case{false, 7200, false}}) {
    SimIdentity Id;
    Id.trimSupported = K.Trim;
    Id.rotationRate = K.Rate;
    Bridge().SetIdentity(kDiskNumber, Id);
    TAtaProbeResult P;
    ASSERT_TRUE(Engine.ProbeIdentify(kDisk, 3000, P));
    EXPECT_EQ(P.TrimSupported, K.Trim);
    EXPECT_EQ(P.RotationRate, K.Rate);
    EXPECT_EQ(P.NonRotating, K.NonRotating);
  }
  EXPECT_EQ(Requests().back().timeOutValue, 3u);
}

TEST_F(IdentityProbe, FailuresKeepTheirOwnErrorAndLine) {
  // A bridge that passes no ATA command: the device refuses, Windows succeeded.
  Profile(SimBridgeProfile::NoTrim());
  TAtaProbeResult P;
  EXPECT_FALSE(Engine.ProbeIdentify(kDisk, 5000, P));
  EXPECT_TRUE(P.Probed);
  EXPECT_FALSE(P.IdentifyOk);
  EXPECT_EQ(P.WinErr, 0u);
  EXPECT_EQ(P.SenseKey, 5);
  EXPECT_EQ(P.Asc, 0x20);
  EXPECT_EQ(P.Model, "");
  ASSERT_EQ(Cap.Lines.size(), 1u);
  EXPECT_EQ(Cap.Lines[0], ApiLine("INFO", "ATA IDENTIFY DEVICE probe", "path=" + kDisk, true, 0));
  // Windows fails the request.
  Cap.Lines.clear();
  Fault(WinError(SimCommand::Identify, 31));
  EXPECT_FALSE(Engine.ProbeIdentify(kDisk, 5000, P));
  EXPECT_EQ(P.WinErr, 31u);
  EXPECT_EQ(Cap.Lines,
            std::vector<std::string>{ApiLine("ERROR", "ATA IDENTIFY DEVICE probe", "path=" + kDisk, false, 31)});
  // No such disk: nothing sent, no line.
  Cap.Lines.clear();
  const size_t SentBefore = Requests().size();
  EXPECT_FALSE(Engine.ProbeIdentify("\\\\.\\PhysicalDrive7", 5000, P));
  EXPECT_TRUE(P.Probed);
  EXPECT_EQ(P.WinErr, 2u);
  EXPECT_EQ(Requests().size(), SentBefore);
  EXPECT_TRUE(Cap.Lines.empty());
}

// ---- SCSI UNMAP, WRITE SAME(16), Block Limits ---------------------------------------------

using ScsiCommands = SimDiskTest;

TEST_F(ScsiCommands, UnmapReleasesExactlyItsDescriptors) {
  Profile(SimBridgeProfile::UasUnmap(0, 0));
  TByteArray List;
  E::BuildUnmapParameterList(List, {{1000, 8}, {5000, 16}}, 0, 2);
  uint32_t WinErr = 9;
  uint8_t Key, Asc, Ascq;
  ASSERT_TRUE(Engine.SendScsiUnmap(kDisk, List, 1500, WinErr, Key, Asc, Ascq, true));
  EXPECT_EQ(WinErr, 0u);
  const auto Sent = Requests();
  EXPECT_EQ(Sent[0].cdb, Hex("42 00 00 00 00 00 00 00 28 00"));
  EXPECT_EQ(Sent[0].data, List);
  EXPECT_EQ(Sent[0].dataIn, 0);
  EXPECT_EQ(Sent[0].timeOutValue, 1u);
  EXPECT_EQ(Drive().TrimmedRanges(), (TRanges{{1000, 8}, {5000, 16}}));
  EXPECT_EQ(Drive().Ledger()[0].command, "UNMAP");
  EXPECT_TRUE(Cap.Lines.empty());
}

TEST_F(ScsiCommands, UnmapRefusalsGiveTheirSenseAndLevel) {
  struct Case {
    const char* Name;
    SimBridgeProfile Profile;
    bool Multi;
    uint8_t Asc;
    const char* Level;
  };
  const Case Cases[] = {
      {"too many descriptors", SimBridgeProfile::UasUnmap(0, 1), true, 0x26, "WARN"},
      {"too many blocks", SimBridgeProfile::UasUnmap(16, 0), true, 0x24, "WARN"},
      {"no UNMAP on a BOT bridge", SimBridgeProfile::BotAtaOnly(), false, 0x20, "ERROR"},
  };
  TByteArray List;
  E::BuildUnmapParameterList(List, {{1000, 8}, {5000, 16}}, 0, 2);
  for (const Case& K : Cases) {
    SCOPED_TRACE(K.Name);
    Cap.Lines.clear();
    Profile(K.Profile);
    uint32_t WinErr = 0;
    uint8_t Key, Asc, Ascq;
    EXPECT_FALSE(Engine.SendScsiUnmap(kDisk, List, 5000, WinErr, Key, Asc, Ascq, K.Multi));
    EXPECT_EQ(WinErr, 1117u);
    EXPECT_EQ(Key, 5);
    EXPECT_EQ(Asc, K.Asc);
    EXPECT_EQ(Cap.Lines, std::vector<std::string>{ApiLine(
                             K.Level, "DeviceIoControl(SCSI UNMAP)",
                             "path=" + kDisk + ", payload=40, timeout_ms=5000, scsi_status=2", false, 1117)});
  }
  EXPECT_TRUE(Drive().Ledger().empty());
}

TEST_F(ScsiCommands, WriteSameProbeLinesAndLedger) {
  uint32_t WinErr;
  uint8_t Key, Asc, Ascq;
  ASSERT_TRUE(Engine.SendWriteSame16Unmap(kDisk, 2048, 65535, 5000, WinErr, Key, Asc, Ascq, true));
  ASSERT_TRUE(Engine.SendWriteSame16Unmap(kDisk, 70000, 8, 5000, WinErr, Key, Asc, Ascq, false));
  const auto Sent = Requests();
  EXPECT_EQ(Sent[0].cdb, Hex("93 08 00 00 00 00 00 00 08 00 00 00 FF FF 00 00"));
  EXPECT_EQ(Sent[0].data, TByteArray(512, 0));
  EXPECT_EQ(Drive().TrimmedRanges(), (TRanges{{2048, 65535}, {70000, 8}}));
  EXPECT_EQ(Drive().Ledger()[0].command, "WRITE SAME(16)");
  // Only the probe's success is written.
  const std::string Params = "path=" + kDisk + ", lba=2048, count=65535, timeout_ms=5000, scsi_status=0";
  EXPECT_EQ(Cap.Lines,
            std::vector<std::string>{ApiLine("INFO", "DeviceIoControl(WRITE SAME(16)+UNMAP)", Params, true, 0)});
  // Refused: WARN for the probe, ERROR otherwise; count 0 is refused unsent.
  Profile(SimBridgeProfile::BotAtaOnly());
  Cap.Lines.clear();
  EXPECT_FALSE(Engine.SendWriteSame16Unmap(kDisk, 8, 8, 5000, WinErr, Key, Asc, Ascq, true));
  EXPECT_FALSE(Engine.SendWriteSame16Unmap(kDisk, 8, 8, 5000, WinErr, Key, Asc, Ascq, false));
  EXPECT_EQ(WinErr, 1117u);
  ASSERT_EQ(Cap.Lines.size(), 2u);
  EXPECT_EQ(Cap.Lines[0].substr(0, 7), "[WARN] ");
  EXPECT_EQ(Cap.Lines[1].substr(0, 8), "[ERROR] ");
  const size_t SentBefore = Requests().size();
  EXPECT_FALSE(Engine.SendWriteSame16Unmap(kDisk, 8, 0, 5000, WinErr, Key, Asc, Ascq, true));
  EXPECT_EQ(WinErr, 87u);
  EXPECT_EQ(Requests().size(), SentBefore);
}

TEST_F(ScsiCommands, BlockLimitsPage) {
  Profile(SimBridgeProfile::UasUnmap(0xFFFFFFFFu, 64));
  uint32_t MaxLba = 0, MaxDesc = 0;
  ASSERT_TRUE(Engine.QueryBlockLimitsVpd(kDisk, MaxLba, MaxDesc));
  EXPECT_EQ(MaxLba, 0xFFFFFFFFu);
  EXPECT_EQ(MaxDesc, 64u);
  const auto Sent = Requests();
  EXPECT_EQ(Sent[0].cdb, Hex("12 01 B0 00 40 00"));
  EXPECT_EQ(Sent[0].dataTransferLength, 64u);
  EXPECT_EQ(Sent[0].timeOutValue, 5u);
  EXPECT_EQ(Cap.Lines.back(),
            ApiLine("INFO", "DeviceIoControl(INQUIRY VPD Block Limits)",
                    "path=" + kDisk + ", page=0xB0, max_unmap_lba=4294967295, max_unmap_desc=64, scsi_status=0",
                    true, 0));
  // Another page code in byte 1, and a bridge without the page: False, limits 0, winerr 0.
  SimBridgeProfile Quirk = SimBridgeProfile::UasUnmap(100, 4);
  Quirk.blockLimitsPageCode = 0xB1;
  for (const auto& P : {Quirk, SimBridgeProfile::BotAtaOnly()}) {
    Profile(P);
    EXPECT_FALSE(Engine.QueryBlockLimitsVpd(kDisk, MaxLba, MaxDesc));
    EXPECT_EQ(MaxLba, 0u);
    EXPECT_EQ(MaxDesc, 0u);
    const int Status = P.blockLimitsPage ? 0 : 2;
    EXPECT_EQ(Cap.Lines.back(),
              ApiLine("ERROR", "DeviceIoControl(INQUIRY VPD Block Limits)",
                      "path=" + kDisk +
                          ", page=0xB0, max_unmap_lba=0, max_unmap_desc=0, scsi_status=" + std::to_string(Status),
                      false, 0));
  }
}

// ---- Storage TRIM request on a volume -----------------------------------------------------

struct StorageTrim : SimDiskTest {
  TVolumeInfo Vol;
  StorageTrim() {
    // E: from 1 MiB, 64 MiB long; F: right after it.
    M->Storage().AddVolume('E', {{kDiskNumber, 1048576, 64ull << 20}});
    M->Storage().AddVolume('F', {{kDiskNumber, 1048576 + (64ull << 20), 64ull << 20}});
    Vol.DriveLetter = "E:";
    Vol.PartitionOffset = 1048576;
    Vol.PartitionLength = 64ll << 20;
  }
};

TEST_F(StorageTrim, SendsOnlyWhatBeginsInsideTheVolumeClippedToIt) {
  const uint64_t FStart = 2048 + 131072;
  // Before E (dropped), inside E, across E's end into F (cut), wholly in F (not E's).
  const TTrimRangeArray Ranges{{2047, 8}, {2048, 8}, {FStart - 4, 8}, {FStart + 100, 8}};
  uint32_t WinErr = 9;
  int32_t Applied = 0;
  ASSERT_TRUE(Engine.SendDsmTrim(Vol, Ranges, 0, 4, WinErr, Applied, false));
  EXPECT_EQ(WinErr, 0u);
  EXPECT_EQ(Applied, 2);
  const auto Sent = Requests();
  ASSERT_EQ(Sent.size(), 1u);
  EXPECT_EQ(Sent[0].path, "\\\\.\\E:");
  EXPECT_EQ(Sent[0].code, 0x2D9404u);
  EXPECT_EQ(Sent[0].outSize, 0u);
  EXPECT_EQ(Sent[0].in, Hex("1C 00 00 00  01 00 00 00  00 00 00 80  00 00 00 00"
                            "00 00 00 00  20 00 00 00  20 00 00 00  00 00 00 00"
                            "00 00 00 00 00 00 00 00  00 10 00 00 00 00 00 00"
                            "00 F8 FF 03 00 00 00 00  00 08 00 00 00 00 00 00"));
  EXPECT_EQ(Drive().TrimmedRanges(), (TRanges{{2048, 8}, {FStart - 4, 4}}));
  EXPECT_EQ(Drive().Ledger()[0].command, "STORAGE TRIM");
  EXPECT_EQ(Cap.Lines, std::vector<std::string>{
                           ApiLine("INFO", "DeviceIoControl(DSM TRIM)",
                                   "path=\\\\.\\E:, ranges=2 (of 4), total_bytes=64, rangesOffset=32", true, 0)});
}

TEST_F(StorageTrim, RefusalsAndEmptyBatches) {
  uint32_t WinErr = 0;
  int32_t Applied = 9;
  // Nothing of the batch inside the volume: done, unsent, no line.
  EXPECT_TRUE(Engine.SendDsmTrim(Vol, {{100, 8}}, 0, 1, WinErr, Applied, false));
  EXPECT_EQ(Applied, 0);
  EXPECT_FALSE(Engine.SendDsmTrim(Vol, {{2048, 8}}, 0, 0, WinErr, Applied, false));
  EXPECT_EQ(WinErr, 87u);
  EXPECT_TRUE(Requests().empty());
  EXPECT_TRUE(Cap.Lines.empty());
  // Behind a USB bridge Windows commonly answers 1; the line is WARN, also in the cooperative form.
  SimBridgeProfile P;
  P.storageTrimError = 1;
  Profile(P);
  EXPECT_FALSE(Engine.SendDsmTrim(Vol, {{2048, 8}}, 0, 1, WinErr, Applied, true));
  EXPECT_EQ(WinErr, 1u);
  EXPECT_EQ(Applied, 0);
  EXPECT_EQ(Requests()[0].in[11], 0x00);  // cooperative: no flags
  EXPECT_EQ(Cap.Lines, std::vector<std::string>{
                           ApiLine("WARN", "DeviceIoControl(DSM TRIM cooperative)",
                                   "path=\\\\.\\E:, ranges=1 (of 1), total_bytes=48, rangesOffset=32", false, 1)});
  // The volume does not open.
  Cap.Lines.clear();
  Fault(WinError(SimCommand::VolumeOpen, 5));
  EXPECT_FALSE(Engine.SendDsmTrim(Vol, {{2048, 8}}, 0, 1, WinErr, Applied, false));
  EXPECT_EQ(WinErr, 5u);
  EXPECT_TRUE(Cap.Lines.empty());
  EXPECT_TRUE(Drive().Ledger().empty());
}

// ---- The request buffer of every command, as the bridge received it ------------------------

TEST_F(ScsiCommands, EveryCommandsRequestBufferAsReceived) {
  uint32_t WinErr, A, B;
  uint8_t Key, Asc, Ascq, St;
  TAtaProbeResult P;
  TByteArray Payload, Cdb(16), List;
  E::BuildDsmPayload(Payload, {{64, 1}}, 0, 1);
  E::BuildPt16DsmCdb(1, Cdb, 6, true, true);
  E::BuildUnmapParameterList(List, {{64, 1}}, 0, 1);
  Engine.SendAtaPassThroughDsm(kDisk, Cdb, Payload, 7999, WinErr, Key, Asc, Ascq, St);
  Engine.ProbeIdentify(kDisk, 7999, P);
  Engine.SendScsiUnmap(kDisk, List, 7999, WinErr, Key, Asc, Ascq, false);
  Engine.SendWriteSame16Unmap(kDisk, 64, 1, 7999, WinErr, Key, Asc, Ascq, false);
  Engine.QueryBlockLimitsVpd(kDisk, A, B);
  struct Want {
    uint8_t CdbLength, DataIn;
    uint32_t Bytes, Seconds;
  };
  const Want Wants[] = {{16, 0, 512, 7}, {16, 1, 512, 7}, {10, 0, 24, 7}, {16, 0, 512, 7}, {6, 1, 64, 5}};
  const auto Sent = Requests();
  ASSERT_EQ(Sent.size(), 5u);
  for (size_t I = 0; I < 5; ++I) {
    SCOPED_TRACE(I);
    const SimRequestRecord& R = Sent[I];
    EXPECT_EQ(R.code, 0x4D014u);
    EXPECT_EQ(R.in.size(), 96u);
    EXPECT_EQ(R.outSize, 96u);
    EXPECT_EQ(R.length, 56);
    EXPECT_EQ(R.senseInfoLength, 32);
    EXPECT_EQ(R.senseInfoOffset, 60u);
    EXPECT_EQ(R.cdbLength, Wants[I].CdbLength);
    EXPECT_EQ(R.dataIn, Wants[I].DataIn);
    EXPECT_EQ(R.dataTransferLength, Wants[I].Bytes);
    EXPECT_EQ(R.timeOutValue, Wants[I].Seconds);
    EXPECT_NE(R.dataBuffer, 0u);
    // Status, ids, the unused block bytes, filler and sense area go out zeroed.
    for (size_t At : {2, 3, 4, 5, 9, 10, 11, 20, 21, 22, 23}) EXPECT_EQ(R.in[At], 0) << At;
    for (size_t At = 36 + R.cdbLength; At < 96; ++At) ASSERT_EQ(R.in[At], 0) << At;
  }
}

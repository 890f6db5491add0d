// Bridge profiles against the five ATA command-block configurations a run walks through.
#include <gtest/gtest.h>

#include "device/SimDiskFixture.h"

using namespace devtest;
using namespace plat::sim;
using E = TAtaPassThroughEngine;

namespace {

struct TConfig {
  uint8_t Protocol;
  bool Extend, CkCond, Pt12;
};
// DMA+EXTEND, DMA, PIO, PT12-DMA, PT12-PIO.
const TConfig kConfigs[5] = {{6, true, true, false},
                             {6, false, false, false},
                             {5, false, false, false},
                             {6, false, true, true},
                             {5, false, false, true}};

struct BridgeProfiles : DsmSenderTest {};

}  // namespace

TEST_F(BridgeProfiles, EachProfileAcceptsItsOwnBlocks) {
  auto With = [](auto Change) {
    SimBridgeProfile P = SimBridgeProfile::BotAtaOnly();
    Change(P);
    return P;
  };
  struct Case {
    const char* Name;
    SimBridgeProfile Profile;
    bool TrimSupported;
    const char* Outcome;  // per configuration: '+' done; A, B, C the refusals named below
    uint8_t Key;          // sense key of a done CK_COND reply
  };
  const Case Cases[] = {
      {"full SAT", SimBridgeProfile::FullSat(), true, "+++++", 0},
      {"(16) only", With([](SimBridgeProfile& P) { P.pt12 = false; }), true, "+++AA", 0},
      {"(12) only", With([](SimBridgeProfile& P) { P.pt16 = false; }), true, "AAA++", 0},
      {"no EXTEND", With([](SimBridgeProfile& P) { P.extend = false; }), true, "B++++", 0},
      {"DMA only", With([](SimBridgeProfile& P) { P.protocolPio = false; }), true, "++B+B", 0},
      {"PIO only", With([](SimBridgeProfile& P) { P.protocolDma = false; }), true, "BB+B+", 0},
      {"CK_COND, recovered, descriptor", With([](SimBridgeProfile& P) {
         P.ckCondReplies = true;
         P.descriptorSense = true;
       }),
       true, "+++++", 1},
      {"CK_COND, no sense, fixed", With([](SimBridgeProfile& P) {
         P.ckCondReplies = true;
         P.ckCondSenseKey = 0;
       }),
       true, "+++++", 0},
      {"drive without TRIM", SimBridgeProfile::FullSat(), false, "CCCCC", 0},
      {"no TRIM path", SimBridgeProfile::NoTrim(), true, "AAAAA", 0},
  };
  E::BuildDsmPayload(Payload, {{4096, 16}}, 0, 1);
  for (const Case& K : Cases) {
    SCOPED_TRACE(K.Name);
    Profile(K.Profile);
    SimIdentity Id;
    Id.trimSupported = K.TrimSupported;
    Bridge().SetIdentity(kDiskNumber, Id);
    for (int I = 0; I < 5; ++I) {
      SCOPED_TRACE(I);
      Drive().ClearLedger();
      const TConfig& C = kConfigs[I];
      ASSERT_TRUE(C.Pt12 ? E::BuildPt12DsmCdb(1, Cdb, C.Protocol, C.CkCond)
                         : E::BuildPt16DsmCdb(1, Cdb, C.Protocol, C.Extend, C.CkCond));
      const bool Ok = Send();
      const char Want = K.Outcome[I];
      EXPECT_EQ(Ok, Want == '+');
      if (Want == '+') {
        EXPECT_EQ(Drive().TrimmedRanges(), (std::vector<std::pair<uint64_t, uint64_t>>{{4096, 16}}));
        const bool Reply = C.CkCond && K.Profile.ckCondReplies;
        EXPECT_EQ(Status, Reply ? 2 : 0);
        EXPECT_EQ(Key, Reply ? K.Key : 0);
      } else {
        // A: 5/20h (no such command), B: 5/24h (invalid field), C: the drive aborted (0Bh).
        EXPECT_EQ(WinErr, 1117u);
        EXPECT_EQ(Key, Want == 'C' ? 0x0B : 0x05);
        EXPECT_EQ(Asc, Want == 'A' ? 0x20 : Want == 'B' ? 0x24 : 0x00);
        EXPECT_TRUE(Drive().Ledger().empty());
      }
    }
  }
}

TEST_F(BridgeProfiles, DsmEntriesBeyondTheDriveReleaseNothing) {
  E::BuildDsmPayload(Payload, {{100, 8}, {kSectors - 4, 8}}, 0, 2);
  ASSERT_TRUE(E::BuildPt16DsmCdb(1, Cdb, 6, true, false));
  EXPECT_FALSE(Send());
  EXPECT_EQ(Key, 0x0B);
  EXPECT_TRUE(Drive().Ledger().empty());
}

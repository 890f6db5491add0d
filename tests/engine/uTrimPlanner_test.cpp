#include <gtest/gtest.h>

#include <map>

#include "EngineTestUtil.h"
#include "engine/uTrimPlanner.h"
#include "platform/sim/SimMachine.h"

namespace {

TVolumeInfo Vol(const std::string& Letter, const std::string& Fs) {
  TVolumeInfo V;
  V.DriveLetter = Letter;
  V.FileSystem = Fs;
  return V;
}

// A reader that answers per drive letter: ranges, or a failure with a message.
struct TFakeReader {
  std::map<std::string, TTrimRangeArray> Ranges;
  std::map<std::string, std::string> Fails;
  std::vector<std::string> Asked;
  TTrimPlanner::TFreeRangeSource Source() {
    return [this](const TVolumeInfo& V, TTrimRangeArray& R, std::string& M) {
      Asked.push_back(V.DriveLetter);
      if (Fails.count(V.DriveLetter)) {
        M = Fails[V.DriveLetter];
        return false;
      }
      R = Ranges[V.DriveLetter];
      M = "ok";
      return true;
    };
  }
};

class PlannerTest : public ::testing::Test {
 protected:
  plat::sim::ScopedSimMachine M;
  TRecordedLog Rec;
  TLogger* Log = Rec.Log();
};

TEST_F(PlannerTest, FullDeviceOfOneTerabyte) {
  TTrimPlanner P(Log);
  TDiskInfo D;
  D.SizeBytes = 1000204886016ull;
  TTrimRangeArray R;
  std::string Msg;
  ASSERT_TRUE(P.GeneratePlan(D, TTrimMode::tmFullDevice, R, Msg));
  EXPECT_EQ(Msg, "ok");
  ASSERT_EQ(R.size(), 29809u);
  EXPECT_EQ(R.front().StartLba, 0u);
  for (size_t i = 0; i + 1 < R.size(); ++i) {
    ASSERT_EQ(R[i].SectorCount, 65535u);
    ASSERT_EQ(R[i].StartLba + R[i].SectorCount, R[i + 1].StartLba);
  }
  EXPECT_EQ(R.back().SectorCount, 57888u);
  EXPECT_EQ(R.back().StartLba + R.back().SectorCount, 1953525168u);

  D.SizeBytes = 511;
  EXPECT_FALSE(P.GeneratePlan(D, TTrimMode::tmFullDevice, R, Msg));
  EXPECT_EQ(Msg, "No valid TRIM ranges after normalization");
}

TEST_F(PlannerTest, FreeSpaceMessagesTable) {
  struct Case {
    const char* Name;
    std::vector<TVolumeInfo> Vols;
    std::map<std::string, TTrimRangeArray> Ranges;
    std::map<std::string, std::string> Fails;
    bool Ok;
    std::string Msg;
    std::vector<std::pair<uint64_t, uint64_t>> Want;
    std::vector<std::string> Asked;
  };
  const Case Cases[] = {
      {"only FAT16",
       {Vol("E:", "FAT16")},
       {},
       {},
       false,
       "No NTFS/exFAT/FAT32 volume mapped for free-space TRIM",
       {},
       {}},
      {"NTFS fails, FAT32 read",
       {Vol("E:", "NTFS"), Vol("F:", "fat32")},
       {{"F:", {{5000, 10}}}},
       {{"E:", "FSCTL_GET_VOLUME_BITMAP failed: boom"}},
       true,
       "ok",
       {{5000, 10}},
       {"E:", "F:"}},
      {"exFAT fails after a good volume",
       {Vol("E:", "NTFS"), Vol("F:", "exFAT"), Vol("G:", "FAT32")},
       {{"E:", {{100, 1}}}, {"G:", {{900, 1}}}},
       {{"F:", "exFAT bitmap extraction failed: free-space mode unavailable"}},
       false,
       "exFAT bitmap extraction failed: full mode only",
       {},
       {"E:", "F:"}},
      {"all full",
       {Vol("E:", "NTFS"), Vol("F:", "FAT32")},
       {},
       {},
       false,
       "No free space to TRIM (mapped volumes appear full)",
       {},
       {"E:", "F:"}},
      {"none readable",
       {Vol("E:", "NTFS"), Vol("F:", "FAT32")},
       {},
       {{"E:", "x"}, {"F:", "y"}},
       false,
       "Free-space bitmap could not be read on any mapped volume",
       {},
       {"E:", "F:"}},
      {"touching across partitions merge, then split",
       {Vol("E:", "NTFS"), Vol("F:", "NTFS")},
       {{"E:", {{0, 65000}}}, {"F:", {{65000, 1000}}}},
       {},
       true,
       "ok",
       {{0, 65535}, {65535, 465}},
       {"E:", "F:"}},
  };
  for (const Case& C : Cases) {
    TFakeReader F;
    F.Ranges = C.Ranges;
    F.Fails = C.Fails;
    TTrimPlanner P(Log, F.Source());
    TDiskInfo D;
    D.SizeBytes = 1ull << 40;
    D.Volumes = C.Vols;
    TTrimRangeArray R;
    std::string Msg;
    EXPECT_EQ(P.GeneratePlan(D, TTrimMode::tmFreeSpace, R, Msg), C.Ok) << C.Name;
    EXPECT_EQ(Msg, C.Msg) << C.Name;
    std::vector<std::pair<uint64_t, uint64_t>> Got;
    for (auto& X : R) Got.push_back({X.StartLba, X.SectorCount});
    if (C.Ok) {
      EXPECT_EQ(Got, C.Want) << C.Name;
    }
    EXPECT_EQ(F.Asked, C.Asked) << C.Name;
  }
}

TEST_F(PlannerTest, EverySkippedVolumeLeavesAWarning) {
  TFakeReader F;
  F.Fails = {{"E:", "FSCTL_GET_VOLUME_BITMAP failed: Access is denied."}};
  F.Ranges = {{"F:", {{10, 10}}}};
  TTrimPlanner P(Log, F.Source());
  TDiskInfo D;
  D.SizeBytes = 1 << 20;
  D.Volumes = {Vol("E:", "NTFS"), Vol("F:", "FAT32")};
  TTrimRangeArray R;
  std::string Msg;
  ASSERT_TRUE(P.GeneratePlan(D, TTrimMode::tmFreeSpace, R, Msg));
  EXPECT_TRUE(Rec.Has({"[WARN]", "E:", "Access is denied."}));
  EXPECT_TRUE(Rec.Has({"[INFO] Plan generated: mode=Free space only, ranges=1"}));
}

}  // namespace

// The real TRIM test as a person runs it from the window, end to end: all five steps on a UAS
// SSD whose writes slow down once its fast cache is full, so a speed drop and its wait show in
// the series; the files step 2 deletes are exactly the rows marked Y, and the drive's ledger shows
// their clusters trimmed and no live file touched. And the same test on a bridge that trims past
// each range it is given: the verification finds the damage instead of passing, also with the
// volume's cache on.
#include <gtest/gtest.h>

#include <set>

#include "realtest/uSpeedChartForm.h"
#include "ui/RealTestWindowFixture.h"

using namespace plat;
using namespace plat::sim;

namespace {

// One row of created_files.csv or deleted_files.csv.
struct TMapRow {
  std::string Path;
  uint64_t First = 0, Last = 0;
  bool WillDelete = false;
};

std::vector<std::string> Split(const std::string& Line) {
  std::vector<std::string> R;
  size_t At = 0;
  for (size_t C; (C = Line.find(',', At)) != std::string::npos; At = C + 1) R.push_back(Line.substr(At, C - At));
  R.push_back(Line.substr(At));
  return R;
}

// Under a sanitizer every byte moved costs many times as much (ThreadSanitizer about twenty
// times). There the test is an eighth the size on a drive an eighth as fast in every respect:
// each step takes the same virtual time, so the series has the same shape at an eighth of the
// speeds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr uint64_t kScale = 8;
#else
constexpr uint64_t kScale = 1;
#endif

SimDriveSpeed ScaledFastUasSsd(uint64_t CacheBytes) {
  SimDriveSpeed S = SimDriveSpeed::FastUasSsd(CacheBytes / kScale);
  S.readMBps /= kScale;
  S.writeMBps /= kScale;
  S.slowWriteMBps /= kScale;
  S.recoverMBps /= kScale;
  return S;
}

struct RealTestEndToEnd : RealTestWindowFixture {
  std::vector<TMapRow> Rows(const std::string& Name) {
    std::vector<TMapRow> R;
    const auto Lines = CsvLines(Name);
    for (size_t I = 1; I < Lines.size(); ++I) {
      const auto F = Split(Lines[I]);
      // created_files.csv counts its rows from 0; deleted_files.csv names the file's place in that list.
      if (Name == "created_files.csv") {
        EXPECT_EQ(F[0], std::to_string(I - 1)) << Lines[I];
      }
      R.push_back({F[1], std::stoull(F[2]), std::stoull(F[3]), F.size() > 4 && F[4] == "Y"});
    }
    return R;
  }
  static bool Overlaps(const SimTrimRecord& T, uint64_t First, uint64_t Last) {
    return T.lba <= Last && T.lba + T.count > First;
  }
  static bool Covered(const std::vector<SimTrimRecord>& Trims, uint64_t First, uint64_t Last) {
    std::vector<std::pair<uint64_t, uint64_t>> R;
    for (const auto& T : Trims) R.push_back({T.lba, T.lba + T.count});
    std::sort(R.begin(), R.end());
    uint64_t At = First;
    for (const auto& [S, E] : R)
      if (S <= At && E > At) At = E;
    return At > Last;
  }
};

TEST_F(RealTestEndToEnd, FiveStepsOnASsdThatSlowsAfterItsCache) {
  // 2 GiB of NTFS on a fast UAS SSD with a 512 MiB cache: step 1 writes a third of the free space
  // in 32 MiB files, step 3 the rest in 64 MiB files, and its writes outrun the cache.
  AddTestDisk(2 * kGiB / kScale, 4 * kGiB);  // the disk stays above the list's 1 GiB
  disk->drive.SetSpeed(ScaledFastUasSsd(512 * kMiB));
  OpenTab({static_cast<int64_t>(32 * kMiB / kScale), static_cast<int64_t>(64 * kMiB / kScale)});
  StartTest(1, 5, 1);

  // Step 1's TRIM has run when the fill starts; from here on only step 2 trims.
  ASSERT_TRUE(ui.RunUntil([&] { return form->LblRealStatus->Caption() == "Status: STEP1"; }, 600000));
  const size_t TrimsBeforeStep2 = disk->drive.Ledger().size();
  script.Box(IDOK);
  RunToEnd();

  // All five steps passed.
  EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::Step5Passed)));
  EXPECT_TRUE(RealLogged(GetLangText(TTextId::Step4Passed)));
  EXPECT_TRUE(RealLogged(GetLangText(TTextId::Step5Passed)));

  // The files step 2 deleted are exactly the rows marked Y.
  const auto Created = Rows("created_files.csv");
  const auto Deleted = Rows("deleted_files.csv");
  ASSERT_GE(Created.size(), 20u);
  std::set<std::string> Marked, Gone;
  for (const TMapRow& R : Created) {
    if (R.WillDelete) Marked.insert(R.Path);
    EXPECT_EQ(Win().GetFileAttributesW(R.Path) == INVALID_FILE_ATTRIBUTES, R.WillDelete) << R.Path;
  }
  for (const TMapRow& R : Deleted) Gone.insert(R.Path);
  ASSERT_EQ(Deleted.size(), 2u);
  EXPECT_EQ(CsvLines("deleted_files.csv")[1].rfind("9,", 0), 0u);
  EXPECT_EQ(CsvLines("deleted_files.csv")[2].rfind("19,", 0), 0u);
  EXPECT_EQ(Marked, (std::set<std::string>{TestFile(9), TestFile(19)}));
  EXPECT_EQ(Gone, Marked);

  // Step 2's TRIM released the deleted files' sectors and none of a file still there.
  const auto Ledger = disk->drive.Ledger();
  const std::vector<SimTrimRecord> Step2(Ledger.begin() + static_cast<std::ptrdiff_t>(TrimsBeforeStep2),
                                         Ledger.end());
  ASSERT_FALSE(Step2.empty());
  for (const TMapRow& R : Created) {
    if (R.WillDelete) {
      EXPECT_TRUE(Covered(Step2, R.First, R.Last)) << R.Path << " was not trimmed";
    } else {
      for (const SimTrimRecord& T : Step2) EXPECT_FALSE(Overlaps(T, R.First, R.Last)) << R.Path << " was trimmed";
    }
  }

  // The series: fast windows, the cliff, the wait's zero points, all inside step 3.
  const TSpeedDataArray& Series = TMainFormTestAccess::SpeedData(*form);
  ASSERT_FALSE(Series.empty());
  EXPECT_TRUE(ChartButtonOn());
  size_t Fast = Series.size(), Slow = Series.size();
  for (size_t I = 0; I < Series.size(); ++I) {
    if (Fast == Series.size() && Series[I].SpeedMBps > 300.0 / kScale) Fast = I;
    if (Fast < I && Slow == Series.size() && Series[I].SpeedMBps > 0 && Series[I].SpeedMBps < 170.0 / kScale)
      Slow = I;
  }
  ASSERT_LT(Slow, Series.size()) << "no slowdown in the series";
  EXPECT_NEAR(Series[Slow].SpeedMBps, 160.0 / kScale, 5.0 / kScale);  // the drive's speed behind its cache
  EXPECT_EQ(Series[Slow].StepLabel, "STEP3");
  ASSERT_GE(Series.size(), Slow + 31);
  for (size_t I = Slow + 1; I <= Slow + 30; ++I) EXPECT_EQ(Series[I].SpeedMBps, 0.0) << I;
  EXPECT_EQ(RealLogCount("Speed drop detected"), 1u);
  EXPECT_TRUE(RealLogged("waiting 1 min"));
  // The wait lasted its minute of the series' time.
  EXPECT_NEAR(Series[Slow + 30].ElapsedSec - Series[Slow].ElapsedSec, 60, 1.5);
  // The verifications last less than a window here: each still has its sample, a read speed.
  double Top = 0;
  std::set<std::string> Steps;
  for (const TSpeedDataPoint& P : Series.Snapshot()) {
    Top = std::max(Top, P.SpeedMBps);
    Steps.insert(P.StepLabel);
  }
  EXPECT_EQ(Steps, (std::set<std::string>{"STEP1", "STEP3", "STEP4 Verify", "STEP5 Verify"}));

  // The chart opens on this series, not a copy, with the window's log, and closes again.
  bool Shown = false;
  script.Form([&](tk::TForm& Form) {
    auto* Chart = dynamic_cast<TSpeedChartForm*>(&Form);
    ASSERT_NE(Chart, nullptr);
    Shown = true;
    EXPECT_TRUE(Chart->FSamples.SharesWith(Series));
    EXPECT_EQ(Chart->FOutputDir, kOutput);
    EXPECT_EQ(Chart->FLogger, form->Logger()) << "a failed save goes to the window's log";
    EXPECT_NEAR(Chart->FMaxSpeed, Top, 1e-9);
    EXPECT_FALSE(ui.Paint(*Chart->FPaintBox).empty());
    EXPECT_TRUE(ui.Click("BtnClose"));
  });
  ASSERT_TRUE(ui.Click("BtnSpeedChart"));
  EXPECT_TRUE(Shown);
  EXPECT_TRUE(form->Enabled());
}

TEST_F(RealTestEndToEnd, ABridgeThatTrimsPastItsRangesFailsTheVerification) {
  AddTestDisk();
  SimBridgeProfile Faulty = SimBridgeProfile::FullSat();
  Faulty.trimOverrunSectors = 64;  // 32 KiB past every range: into the file behind a freed one
  m->Bridge().SetProfile(kDisk, Faulty);
  OpenTab();
  StartTest(1, 5);
  script.Box(IDOK);
  RunToEnd();
  EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::Step4Failed)));
  EXPECT_FALSE(RealLogged(GetLangText(TTextId::Step4Passed)));
  // The file after the freed file_9.bin lost its first clusters.
  EXPECT_TRUE(RealLogged(GetLangText(TTextId::VerifyCrcMismatchPrefix) + TestFile(10)));
  EXPECT_TRUE(RealLogged("failed"));
}

TEST_F(RealTestEndToEnd, WithTheVolumeCacheOnTheVerdictStillComesFromTheDrive) {
  // The same damage, with a volume cache that could hold every test file: what a verification
  // reads must still be what the drive holds, so the test's writes and reads bypass the cache.
  AddTestDisk();
  m->VolumeFiles().SetCacheLimit('E', 256 * kMiB);
  SimBridgeProfile Faulty = SimBridgeProfile::FullSat();
  Faulty.trimOverrunSectors = 64;
  m->Bridge().SetProfile(kDisk, Faulty);
  OpenTab();
  StartTest(1, 5);
  script.Box(IDOK);
  RunToEnd();
  EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::Step4Failed)));
  EXPECT_TRUE(RealLogged(GetLangText(TTextId::VerifyCrcMismatchPrefix) + TestFile(10)));
  EXPECT_EQ(m->VolumeFiles().CacheBytes('E'), 0u) << "a test file went through the cache";
}

}  // namespace

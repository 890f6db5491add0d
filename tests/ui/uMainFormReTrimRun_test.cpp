// A run of Windows ReTrim only, from the window, over the machine's own PowerShell: what the
// result box and the log say when the volume's storage stack can and cannot retrim.
#include <gtest/gtest.h>

#include "DiskWindowFixture.h"

using namespace plat;
using namespace plat::sim;

namespace {

std::string T(TTextId Id) { return GetLangText(Id); }

struct ReTrimCase {
  const char* Name;
  SimDiskDescription Disk;
  SimBridgeProfile Bridge;
  bool DriveTrims;
  bool Retrims;
};
std::ostream& operator<<(std::ostream& O, const ReTrimCase& C) { return O << C.Name; }

struct ReTrimRunTest : DiskWindowFixture, ::testing::WithParamInterface<ReTrimCase> {};

TEST_P(ReTrimRunTest, TheBoxAndTheLogSayWhatWindowsDid) {
  const ReTrimCase& C = GetParam();
  m->Discovery().AddDisk(2, 8 * kGiB, C.Disk);
  m->Bridge().SetProfile(2, C.Bridge);
  AddFormatted('E', 2, kMiB, kGiB);
  SimIdentity Id;
  Id.trimSupported = C.DriveTrims;
  m->Bridge().SetIdentity(2, Id);
  Open();
  ASSERT_TRUE(ui.Check("CbWinRetrimOnly", true));
  script.Box(IDOK).Box(IDYES).Input("2").Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnStart"));
  Settle(30000);
  ASSERT_TRUE(form->BtnStart->Enabled());
  // The notice and the question of the start, then the result alone.
  ASSERT_EQ(Boxes().size(), 3u);
  const auto& Drive = m->Storage().Disk(2)->drive;
  if (C.Retrims) {
    EXPECT_EQ(BoxTexts().back(), std::make_pair(T(TTextId::InfoCaption), T(TTextId::TrimCompleted)));
    EXPECT_TRUE(Logged("[INFO] Optimize-Volume -ReTrim completed for E: (exit=0)"));
    EXPECT_TRUE(Logged("[INFO] Total trimmed: managed by Windows Optimize-Volume -ReTrim"));
    ASSERT_FALSE(Drive.Ledger().empty());
    EXPECT_EQ(Drive.Ledger().front().command, "RETRIM");
    return;
  }
  EXPECT_EQ(BoxTexts().back(), std::make_pair(T(TTextId::ErrorCaption), T(TTextId::TrimCompletedWithFailures) +
                                                                            "\r\n(Success: 0, Failed: 1)"));
  EXPECT_EQ(Boxes().back().Type & 0xF0u, MB_ICONERROR);
  EXPECT_TRUE(Logged("[INFO]   [PS]     + FullyQualifiedErrorId : StorageWMI 43022,Optimize-Volume"));
  EXPECT_TRUE(Logged("[WARN] Optimize-Volume -ReTrim failed for E: (exit=1)"));
  EXPECT_TRUE(Logged("[ERROR] Batch 0 failed: Optimize-Volume -ReTrim fallback failed for all eligible volumes"));
  EXPECT_TRUE(Logged("[INFO] Run completed: planned=2, done=0, success=0, failed=1,"));
  EXPECT_TRUE(Logged("[WARN] Failure report saved: "));
  EXPECT_FALSE(Logged("Total trimmed: managed by Windows"));
  EXPECT_TRUE(Drive.Ledger().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Window, ReTrimRunTest,
    ::testing::Values(ReTrimCase{"UasDriveWithTrim", presets::UasEnclosure("UAS SSD", "UAS0002"),
                                 SimBridgeProfile::UasUnmap(0, 0), true, true},
                      ReTrimCase{"UasDriveWithoutTrim", presets::UasEnclosure("UAS SSD", "UAS0002"),
                                 SimBridgeProfile::UasUnmap(0, 0), false, false},
                      ReTrimCase{"BotWithoutStorageTrim", presets::BotEnclosure("Portable SSD", "BOT0002"),
                                 SimBridgeProfile::BotAtaOnly(), true, false}),
    [](const ::testing::TestParamInfo<ReTrimCase>& I) { return std::string(I.param.Name); });

}  // namespace

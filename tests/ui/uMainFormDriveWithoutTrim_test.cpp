// An automatic execution from the window on a UAS enclosure whose drive reports no TRIM
// (machine description trim=no): Windows says TRIM is not enabled, Start warns as it should, and
// every path of the chain fails, so the box and the log say the run failed and nothing was
// released.
#include <gtest/gtest.h>

#include "DiskWindowFixture.h"

using namespace plat;
using namespace plat::sim;

namespace {

std::string T(TTextId Id) { return GetLangText(Id); }
std::pair<std::string, std::string> B(TTextId Caption, TTextId Text) { return {T(Caption), T(Text)}; }

struct NoTrimCase {
  const char* Name;
  SimFsKind Fs;
  std::function<void(tk::headless::TModalScript&)> Answers;
  std::vector<std::pair<TTextId, TTextId>> Boxes;  // before the result box
  std::vector<std::string> Lines;                  // logged, in this order, besides kEveryRun
};

// What every such run logs: the property's answer, the storage TRIM request and UNMAP refused,
// the last ATA block refused, nothing trimmed, a failure report.
const std::vector<std::string> kEveryRun = {
    "[INFO] TRIM support reported disabled by bridge; hardware TRIM paths likely to fail",
    "[WARN] DSM TRIM failed (winerr=1), falling back to SCSI UNMAP",
    "[WARN] SCSI UNMAP failed (winerr=1117, sense=5/32/0), falling back to WRITE SAME(16)+UNMAP",
    "[INFO] Trying ATA Pass-Through config: PT12-PIO",
    "[ERROR] Batch 0 failed: All CDB configs and 4 retries exhausted",
    "[INFO] Total trimmed: sectors=0",
    "done=0, success=0, failed=1",
    "[WARN] Failure report saved: "};
std::ostream& operator<<(std::ostream& O, const NoTrimCase& C) { return O << C.Name; }

struct DriveWithoutTrimTest : DiskWindowFixture, ::testing::WithParamInterface<NoTrimCase> {};

TEST_P(DriveWithoutTrimTest, TheRunFailsOnEveryPathAndSaysSo) {
  const NoTrimCase& C = GetParam();
  m->Discovery().AddDisk(2, 8 * kGiB, presets::UasEnclosure("UAS SSD", "UAS0002"));
  m->Bridge().SetProfile(2, SimBridgeProfile::UasUnmap(0, 0));
  SimIdentity Id;
  Id.trimSupported = false;
  m->Bridge().SetIdentity(2, Id);
  AddFormatted('E', 2, kMiB, kGiB, C.Fs);
  Open();
  C.Answers(script);
  script.Box(IDOK);  // the result
  ASSERT_TRUE(ui.Click("BtnStart"));
  ASSERT_TRUE(ui.RunUntil([&] { return form->BtnStart->Enabled() && script.Pending() == 0; }, 600000));

  std::vector<std::pair<std::string, std::string>> Want;
  for (const auto& [Caption, Text] : C.Boxes) Want.push_back(B(Caption, Text));
  Want.push_back(
      {T(TTextId::ErrorCaption), T(TTextId::TrimCompletedWithFailures) + "\r\n(Success: 0, Failed: 1)"});
  EXPECT_EQ(BoxTexts(), Want);
  EXPECT_EQ(Boxes().back().Type & 0xF0u, MB_ICONERROR);

  for (const std::string& L : kEveryRun) EXPECT_TRUE(Logged(L)) << L;
  const auto Log = FileLog();
  auto At = Log.begin();
  for (const std::string& L : C.Lines) {
    At = std::find_if(At, Log.end(), [&](const std::string& S) { return S.find(L) != std::string::npos; });
    ASSERT_NE(At, Log.end()) << "not logged (in this order): " << L;
  }
  EXPECT_TRUE(m->Storage().Disk(2)->drive.Ledger().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Window, DriveWithoutTrimTest,
    ::testing::Values(
        // Without an NTFS volume nothing can stand in for the hardware: Start asks, then every
        // hardware path is refused. No reformat notice: Windows' ReTrim on NTFS would need the
        // drive's TRIM too, so reformatting would only cost the volume's data.
        NoTrimCase{.Name = "ExFat",
                   .Fs = SimFsKind::kExFat,
                   .Answers = [](auto& S) { S.Box(IDOK).Box(IDYES).Box(IDYES).Input("2"); },
                   .Boxes = {{TTextId::InfoCaption, TTextId::StopWritesDuringTrim},
                             {TTextId::CompatibilityWarningCaption, TTextId::TrimUnsupportedQuestion},
                             {TTextId::TrimWarningCaption, TTextId::TrimRiskQuestion}},
                   .Lines = {"[WARN] Bridge reports TRIM unsupported; asking user to confirm before running",
                             "[INFO] User confirmed running on TRIM-unsupported bridge",
                             "[WARN] WRITE SAME(16)+UNMAP probe failed (winerr=1117, sense=5/36/0,",
                             "[INFO] Trying ATA Pass-Through config: DMA+EXTEND",
                             "[INFO] Reformat-as-NTFS guidance not shown: the drive reports no TRIM support"}},
        // With NTFS the warning is skipped for Windows' own ReTrim, which fails with 43022 on
        // such a drive; the expert ATA retry that follows is refused by the drive too.
        NoTrimCase{
            .Name = "Ntfs",
            .Fs = SimFsKind::kNtfs,
            .Answers = [](auto& S) { S.Box(IDOK).Box(IDYES).Input("2").Box(IDOK).Box(IDOK); },
            .Boxes = {{TTextId::InfoCaption, TTextId::StopWritesDuringTrim},
                      {TTextId::TrimWarningCaption, TTextId::TrimRiskQuestion},
                      {TTextId::InfoCaption, TTextId::PinnedReTrimQuestion},
                      {TTextId::WarningCaption, TTextId::ExpertAtaRetryQuestion}},
            .Lines = {"[INFO] Skipping TRIM preflight popup: NTFS volume present",
                      "[INFO]   [PS]     + FullyQualifiedErrorId : StorageWMI 43022,Optimize-Volume",
                      "[ERROR] Optimize-Volume -ReTrim fallback failed for all eligible volumes",
                      "[WARN] Expert retry accepted: releasing pinned handles and retrying ATA Pass-Through",
                      "[ERROR] Expert ATA Pass-Through retry failed after ReTrim failure"}}),
    [](const ::testing::TestParamInfo<NoTrimCase>& I) { return std::string(I.param.Name); });

}  // namespace

// The real-test tab's buttons as the person uses them: the refusals, the start with its
// confirmation and options, verify-only, stop, the end of a test with its box and the chart
// button, the labels and the elapsed timer, the time-stamped log, a TRIM run and a real test
// never side by side, and a window closed while a test runs.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "core/ScopedFormatSettings.h"
#include "core/uFormat.h"
#include "realtest/uSpeedChartForm.h"
#include "ui/RealTestWindowFixture.h"

using namespace plat;
using namespace plat::sim;

namespace {

struct RealTestTab : RealTestWindowFixture {
  std::string Confirm194() { return GetLangText(TTextId::RealTestLongRunQuestion) + "\r\nE:\\"; }
  // The drive takes a second for each MiB written or read.
  void SlowDrive() { disk->drive.SetSpeed(SimDriveSpeed::NeverSlows(1, 1)); }
};

TEST_F(RealTestTab, RefusalsAreBoxesAndLeaveTheTabIdle) {
  const std::string Error = GetLangText(TTextId::ErrorCaption);
  enum TMachine { NoDisk, DiskWithoutVolume, DiskWithVolume };
  const struct {
    const char* Name;
    TMachine Machine;
    int StartStep, EndStep;
    const char* Button;
    TTextId Text;
  } Cases[] = {
      // In the machine's order: each adds to the one before.
      {"start without a disk", NoDisk, 1, 5, "BtnRealTestStart", TTextId::SelectDisk},
      {"verify without a disk", NoDisk, 1, 5, "BtnVerifyOnly", TTextId::SelectDisk},
      {"export without a disk", NoDisk, 1, 5, "BtnExportFileMap", TTextId::SelectDisk},
      {"delete without a drive", NoDisk, 1, 5, "BtnDeleteTestFolder", TTextId::NoMountedDriveLetter},
      {"start without a drive letter", DiskWithoutVolume, 1, 5, "BtnRealTestStart", TTextId::NoMountedDriveLetter},
      {"verify without a drive letter", DiskWithoutVolume, 1, 5, "BtnVerifyOnly", TTextId::NoMountedDriveLetter},
      {"export without a drive letter", DiskWithoutVolume, 1, 5, "BtnExportFileMap",
       TTextId::NoMountedDriveLetter},
      {"start step after end step", DiskWithVolume, 3, 2, "BtnRealTestStart", TTextId::StartStepAfterEndStep},
  };
  TMachine Built = NoDisk;
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    if (Built == NoDisk && C.Machine != NoDisk) AddUas(kDisk, 2 * kGiB);
    if (Built != DiskWithVolume && C.Machine == DiskWithVolume) AddFormatted('E', kDisk, kMiB, 48 * kMiB);
    Built = C.Machine;
    Open();
    ShowTab(kRealTestPage);
    form->CmbStartStep->SetItemIndex(C.StartStep - 1);
    form->CmbEndStep->SetItemIndex(C.EndStep - 1);
    const auto LogBefore = form->MemoRealTestLog->Lines();
    script.Box(IDOK);
    ASSERT_TRUE(ui.Click(C.Button));
    EXPECT_EQ(LastBox(), std::make_pair(Error, GetLangText(C.Text)));
    EXPECT_EQ(Boxes().back().Type, MB_OK | MB_ICONERROR);
    EXPECT_TRUE(TabIdle());
    EXPECT_EQ(form->LblRealStatus->Caption(), "Status: Idle");
    EXPECT_EQ(form->MemoRealTestLog->Lines(), LogBefore);
    Close();
  }
}

TEST_F(RealTestTab, TheTrimTabsPoliciesHoldForTheTestThatWritesAndTrims) {
  // On a disk the window must not ask (its last run hung) nothing starts and nothing is exported;
  // on the system disk, or one of unknown transport, the test that fills and trims is refused as
  // a TRIM execution is, while verify-only (reads only) still runs.
  const std::string Policy = GetLangText(TTextId::PolicyBlockedCaption);
  {
    SCOPED_TRACE("to reconnect");
    AddTestDisk();
    OpenTab();
    TDiskInfo D;
    ASSERT_TRUE(form->GetSelectedDisk(D));
    TMainFormTestAccess::MarkStalled(*form, D);
    for (const char* Button : {"BtnRealTestStart", "BtnVerifyOnly", "BtnExportFileMap"}) {
      script.Box(IDOK);
      ASSERT_TRUE(ui.Click(Button));
      EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::ErrorCaption), form->DiskReconnectText()))
          << Button;
      EXPECT_EQ(Running(), nullptr) << Button;
      EXPECT_TRUE(TabIdle());
    }
    EXPECT_TRUE(Logged("Real test refused: PD2 must be reconnected after its last run"));
    EXPECT_TRUE(Logged("File map export refused: PD2 must be reconnected after its last run"));
    Close();
  }
  {
    SCOPED_TRACE("system disk");
    m->Discovery().SetWindowsDirectory("E:\\Windows");
    OpenTab();
    TDiskInfo D;
    ASSERT_TRUE(form->GetSelectedDisk(D));
    ASSERT_TRUE(D.SystemCritical);
    script.Box(IDOK);
    ASSERT_TRUE(ui.Click("BtnRealTestStart"));
    EXPECT_EQ(LastBox().first, Policy);
    EXPECT_EQ(Running(), nullptr);
    EXPECT_EQ(Win().GetFileAttributesW("E:\\trim_real_test"), INVALID_FILE_ATTRIBUTES);
    // Verify-only writes and trims nothing: it runs, and finds nothing to verify.
    script.Box(IDOK);
    ASSERT_TRUE(ui.Click("BtnVerifyOnly"));
    EXPECT_NE(Running(), nullptr);
    RunToEnd();
    // Allowed by the person, as on the TRIM tab.
    ShowTab(kTrimPage);
    ASSERT_TRUE(ui.Check("CbAdvanced", true));
    ASSERT_TRUE(ui.Check("CbAllowSystemDisk", true));
    ShowTab(kRealTestPage);
    script.Box(IDYES).Box(IDOK);
    ASSERT_TRUE(ui.Click("BtnRealTestStart"));
    EXPECT_NE(Running(), nullptr);
    RunToEnd();
    Close();
  }
}

TEST_F(RealTestTab, WhenNoDiskIsListedNoDriveIsOffered) {
  // E: goes with its disk, and an internal disk that is never listed gets the letter: the
  // folder deletion, which needs no selected disk, must not reach it.
  AddTestDisk();
  OpenTab();
  ASSERT_GT(form->CmbRealTestDrive->ItemCount(), 0);
  m->Storage().RemoveVolume('E');
  m->Storage().DetachDisk(kDisk);
  m->Discovery().AddDisk(3, 4 * kGiB, presets::InternalSata("SATA SSD", "SATA03"));
  AddFormatted('E', 3, kMiB, 64 * kMiB);
  ASSERT_TRUE(m->VolumeFiles().WriteAll("E:\\trim_real_test\\mine.txt", std::string(100, 'x')));
  ShowTab(kTrimPage);
  ASSERT_TRUE(ui.Click("BtnRefresh"));
  Settle();
  ShowTab(kRealTestPage);
  ASSERT_EQ(form->CmbDisk->ItemCount(), 0);
  EXPECT_EQ(form->CmbRealTestDrive->ItemCount(), 0);
  script.Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnDeleteTestFolder"));
  EXPECT_EQ(LastBox(),
            std::make_pair(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::NoMountedDriveLetter)));
  EXPECT_TRUE(m->VolumeFiles().Exists("E:\\trim_real_test\\mine.txt"));
}

TEST_F(RealTestTab, WithoutSamplesTheChartIsNotShown) {
  AddTestDisk();
  OpenTab();
  EXPECT_FALSE(form->BtnSpeedChart->Enabled());
  script.Box(IDOK);
  form->BtnSpeedChartClick(nullptr);  // the button is off: only a direct call gets here
  EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::InfoCaption), std::string("No speed data available.")));
  EXPECT_EQ(Boxes().back().Type, MB_OK | MB_ICONINFORMATION);
}

// Opened during a test, the chart shows that test: named by its drive, with no sample at first
// and then the samples so far, never the series of the test before it.
TEST_F(RealTestTab, DuringATestTheChartShowsThatTestsSamplesSoFar) {
  AddTestDisk();
  SlowDrive();
  OpenTab();
  StartTest(1, 1);
  script.Box(IDOK);
  RunToEnd();
  const TSpeedDataArray Former = TMainFormTestAccess::SpeedData(*form);
  ASSERT_FALSE(Former.empty());
  const std::string Caption = GetLangText(TTextId::SpeedChartCaption) + " - E:\\";

  StartTest(1, 5);
  EXPECT_TRUE(ChartButtonOn());
  bool Shown = false;
  script.Form([&](tk::TForm& Form) {
    auto& Chart = dynamic_cast<TSpeedChartForm&>(Form);
    Shown = true;
    EXPECT_EQ(Chart.Caption(), Caption);
    EXPECT_FALSE(Chart.FSamples.SharesWith(Former));
    EXPECT_TRUE(Chart.FShown.empty());
    const auto Notice = [&] {
      const auto& Calls = ui.Paint(*Chart.FPaintBox);
      return std::any_of(Calls.begin(), Calls.end(),
                         [](const auto& C) { return C.Text == TSpeedChartForm::kNoDataNotice; });
    };
    EXPECT_TRUE(Notice());
    // The test goes on behind the chart, which follows it.
    ASSERT_TRUE(ui.RunUntil([&] { return Chart.FShown.size() >= 3; }, 600000));
    EXPECT_FALSE(Notice());
    for (const TSpeedDataPoint& P : Chart.FShown) EXPECT_EQ(P.StepLabel, "STEP1");
    EXPECT_TRUE(Running());
    EXPECT_TRUE(ui.Click("BtnClose"));
  });
  ASSERT_TRUE(ui.Click("BtnSpeedChart"));
  EXPECT_TRUE(Shown);
  ASSERT_TRUE(ui.Click("BtnRealTestStop"));
  script.Box(IDOK);
  RunToEnd();

  // Ended, its chart still names the drive.
  script.Form([&](tk::TForm& Form) {
    EXPECT_EQ(Form.Caption(), Caption);
    EXPECT_FALSE(dynamic_cast<TSpeedChartForm&>(Form).FShown.empty());
    EXPECT_TRUE(ui.Click("BtnClose"));
  });
  ASSERT_TRUE(ui.Click("BtnSpeedChart"));
}

// A test of a few seconds: every step that wrote or read has its sample, one each, at the
// drive's speed, and the chart button is on.
TEST_F(RealTestTab, AShortTestHasASampleOfEveryStepThatMovedData) {
  AddTestDisk();
  disk->drive.SetSpeed(SimDriveSpeed::NeverSlows(20, 40));
  OpenTab();
  StartTest(1, 5);
  script.Box(IDOK);
  RunToEnd();
  EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::Step5Passed)));
  EXPECT_TRUE(ChartButtonOn());
  std::vector<std::string> Steps;
  for (const TSpeedDataPoint& P : TMainFormTestAccess::SpeedData(*form).Snapshot()) {
    Steps.push_back(P.StepLabel);
    EXPECT_NEAR(P.SpeedMBps, P.StepLabel.find("Verify") == std::string::npos ? 20 : 40, 0.1) << P.StepLabel;
  }
  EXPECT_EQ(Steps, (std::vector<std::string>{"STEP1", "STEP3", "STEP4 Verify", "STEP5 Verify"}));
}

TEST_F(RealTestTab, TheConfirmationNamesTheDriveAndNoChangesNothing) {
  AddTestDisk();
  OpenTab();
  const auto LogBefore = form->MemoRealTestLog->Lines();
  script.Box(IDNO);
  ASSERT_TRUE(ui.Click("BtnRealTestStart"));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].Caption, GetLangText(TTextId::ConfirmCaption));
  EXPECT_EQ(Boxes()[0].Text,
            "This test writes to all free space on the drive and may take a long time.\r\nDo you want to "
            "continue?\r\nE:\\");
  EXPECT_EQ(Boxes()[0].Type, MB_YESNO | MB_ICONQUESTION);
  EXPECT_TRUE(TabIdle());
  EXPECT_EQ(form->MemoRealTestLog->Lines(), LogBefore);
  EXPECT_EQ(form->LblRealStatus->Caption(), "Status: Idle");
  EXPECT_FALSE(Logged("Starting TRIM real test"));
}

TEST_F(RealTestTab, AStartRunsTheChosenStepsAndItsEndComesBackAsABox) {
  AddTestDisk();
  OpenTab();
  // Step 5 alone finds nothing to verify: not a pass.
  StartTest(5, 5);
  // At once, before the thread's first call: the running state and the start line.
  EXPECT_FALSE(form->BtnRealTestStart->Enabled());
  EXPECT_FALSE(form->BtnVerifyOnly->Enabled());
  EXPECT_FALSE(form->BtnDeleteTestFolder->Enabled());
  EXPECT_TRUE(form->BtnRealTestStop->Enabled());
  EXPECT_TRUE(form->BtnExportFileMap->Enabled());
  EXPECT_TRUE(form->CmbStartStep->Enabled());
  EXPECT_EQ(form->LblRealStatus->Caption(), "Status: Running");
  EXPECT_EQ(form->LblElapsed->Caption(), "Elapsed: -");
  EXPECT_EQ(form->LblStepElapsed->Caption(), "Step: -");
  EXPECT_EQ(RealLog().back(), "Starting TRIM real test. Target volume: E:\\");
  EXPECT_NE(Running(), nullptr);

  script.Box(IDOK);
  RunToEnd();
  EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::NoFilesToVerify)));
  EXPECT_TRUE(RealLogged("Starting from STEP 5: scanning existing files"));
  EXPECT_TRUE(TabIdle());
  EXPECT_EQ(form->LblRealStatus->Caption(), "Status: Idle");
  // No samples: the chart button stays off and the series is empty.
  EXPECT_FALSE(ChartButtonOn());
  EXPECT_TRUE(TMainFormTestAccess::SpeedData(*form).empty());
  // The log file has the line without the time prefix.
  EXPECT_TRUE(Logged("[INFO] Starting TRIM real test. Target volume: E:\\"));
}

TEST_F(RealTestTab, OnAVolumeTooSmallForTheTestTheBoxSaysSo) {
  // Step 1 writes two 1 MiB files; step 3 then finds less than the 2 MiB it leaves free.
  AddTestDisk(4 * kMiB);
  OpenTab();
  StartTest(1, 5);
  script.Box(IDOK);
  RunToEnd();
  const std::string TooSmall = Format(GetLangText(TTextId::VolumeTooSmallFmt), 3, "2,060,288", "2,101,248");
  EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::ErrorCaption), TooSmall));
  EXPECT_TRUE(RealLogged(TooSmall));
  EXPECT_TRUE(RealLogged("STEP4 complete: Verification passed"));
  EXPECT_FALSE(RealLogged(GetLangText(TTextId::NoFilesToVerify)));
  EXPECT_TRUE(TabIdle());
}

TEST_F(RealTestTab, TheNestedRunsTakeTheBatchLimitOfTheTrimTab) {
  AddTestDisk();
  OpenTab();
  // The start line of the last nested run.
  auto LastRunStart = [&] {
    std::string Line;
    for (const std::string& S : FileLog())
      if (S.find("Execution start:") != std::string::npos) Line = S;
    return Line;
  };
  const struct {
    int Index;
    int Limit;
  } Cases[] = {{0, 1}, {1, 10}, {2, 100}, {3, 0}, {-1, 0}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Index);
    form->CmbBatchLimit->SetItemIndex(C.Index);
    StartTest(1, 1);
    script.Box(IDOK);
    RunToEnd();
    EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::RealTestDone)));
    const std::string Line = LastRunStart();
    const std::string Tail = ", batch_limit=" + std::to_string(C.Limit);
    EXPECT_TRUE(Line.size() > Tail.size() && Line.compare(Line.size() - Tail.size(), Tail.size(), Tail) == 0)
        << Line;
    script.Box(IDYES);
    ASSERT_TRUE(ui.Click("BtnDeleteTestFolder"));
  }
}

TEST_F(RealTestTab, VerifyOnlyAsksNothingAndChecksWhatAFormerTestLeft) {
  AddTestDisk();
  for (int I = 0; I < 3; ++I) PlaceTestFile(TestFile(I), kMiB);
  OpenTab();
  // Whatever the selectors show: verify-only runs its own steps.
  form->CmbStartStep->SetItemIndex(3);
  form->CmbEndStep->SetItemIndex(1);
  script.Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnVerifyOnly"));
  EXPECT_EQ(form->LblRealStatus->Caption(), "Status: Verifying");
  EXPECT_EQ(RealLog().back(), "Running verification only. Target: E:\\trim_real_test");
  EXPECT_FALSE(form->BtnRealTestStart->Enabled());
  RunToEnd();
  ASSERT_EQ(Boxes().size(), 1u);  // no confirmation, only the result
  EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::VerifySucceeded)));
  EXPECT_TRUE(RealLogged("Verified 3 files: 3 passed, 0 failed"));
  EXPECT_TRUE(TabIdle());

  // An empty folder: nothing verified is an error, and the series of the former test is replaced.
  for (int I = 0; I < 3; ++I) ASSERT_TRUE(Win().DeleteFileW(TestFile(I)));
  script.Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnVerifyOnly"));
  RunToEnd();
  EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::NoFilesToVerify)));
  EXPECT_FALSE(ChartButtonOn());
  EXPECT_TRUE(TMainFormTestAccess::SpeedData(*form).empty());
}

TEST_F(RealTestTab, StopEndsTheTestWithTheCancelledBoxAndTheLabelsKeepTheirLastTexts) {
  AddTestDisk();
  SlowDrive();
  OpenTab();
  StartTest(1, 5);
  ASSERT_TRUE(ui.RunUntil([&] { return form->LblRealStatus->Caption() == "Status: STEP1"; }, 600000));
  ui.RunFor(5500);
  // The timer shows the thread's times while it runs.
  EXPECT_TRUE(std::regex_match(form->LblElapsed->Caption(), std::regex("Elapsed: 0:00:[01][0-9]")))
      << form->LblElapsed->Caption();
  EXPECT_TRUE(std::regex_match(form->LblStepElapsed->Caption(), std::regex("Step: 0:00:0[5-9]")))
      << form->LblStepElapsed->Caption();
  EXPECT_NE(form->LblRealSpeed->Caption(), "Speed: -");
  ASSERT_TRUE(ui.Click("BtnRealTestStop"));
  ASSERT_TRUE(ui.Click("BtnRealTestStop"));  // asked again, harmlessly
  // The stop is logged once, with the time it came at, in both logs.
  const std::regex StopLine("Stop requested by user \\(elapsed 0:00:[01][0-9]\\)");
  const auto Lines = RealLog();
  EXPECT_EQ(std::count_if(Lines.begin(), Lines.end(),
                          [&](const std::string& L) { return std::regex_match(L, StopLine); }),
            1);
  EXPECT_EQ(CountLogged("[INFO] Stop requested by user (elapsed 0:00:"), 1u);
  script.Box(IDOK);
  RunToEnd();
  EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::CancelledByUser)));
  EXPECT_EQ(Boxes().back().Type, MB_OK | MB_ICONINFORMATION);
  EXPECT_TRUE(TabIdle());
  EXPECT_EQ(form->LblRealStatus->Caption(), "Status: Idle");
  EXPECT_NE(form->LblElapsed->Caption(), "Elapsed: -");
  // Samples were taken: the chart button is on.
  EXPECT_FALSE(TMainFormTestAccess::SpeedData(*form).empty());
  EXPECT_TRUE(ChartButtonOn());
  // The timer is off again: the labels stay as the end left them.
  const std::string Elapsed = form->LblElapsed->Caption();
  ui.RunFor(5000);
  EXPECT_EQ(form->LblElapsed->Caption(), Elapsed);
}

TEST_F(RealTestTab, AFileAStopCutShortIsRemovedAndNeverVerified) {
  // 8 MiB files in 4 MiB writes at a MiB a second: 10 s into step 1 file_1.bin is half written.
  AddTestDisk();
  SlowDrive();
  OpenTab({static_cast<int64_t>(8 * kMiB), static_cast<int64_t>(8 * kMiB)});
  StartTest(1, 5);
  ASSERT_TRUE(ui.RunUntil([&] { return form->LblRealStatus->Caption() == "Status: STEP1"; }, 600000));
  ui.RunFor(10000);
  ASSERT_TRUE(ui.Click("BtnRealTestStop"));
  script.Box(IDOK);
  RunToEnd();
  EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::CancelledByUser)));
  EXPECT_EQ(CsvLines("created_files.csv").size(), 2u);  // the header and file_0.bin
  EXPECT_TRUE(RealLogged("Unfinished test file removed: " + TestFile(1)));
  EXPECT_TRUE(Logged("[INFO] Unfinished test file removed: " + TestFile(1)));
  EXPECT_EQ(Win().GetFileAttributesW(TestFile(1)), INVALID_FILE_ATTRIBUTES);

  // Verify Only checks the one whole file.
  script.Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnVerifyOnly"));
  RunToEnd();
  EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::VerifySucceeded)));
  EXPECT_TRUE(RealLogged("Verified 1 files: 1 passed, 0 failed"));
}

TEST_F(RealTestTab, ATestOnABridgeThatCannotTrimDoesNotPass) {
  // exFAT on a UAS bridge that refuses every TRIM path: both TRIM steps fail, and with no NTFS
  // volume there is no ReTrim to offer. The files are written and verified all the same.
  AddTestDisk(48 * kMiB, 2 * kGiB, SimFsKind::kExFat);
  m->Bridge().SetProfile(kDisk, SimBridgeProfile::NoTrim());
  OpenTab();
  StartTest(1, 5);
  script.Box(IDOK).Box(IDOK);  // the reformat hint, the end
  RunToEnd();
  const auto B = BoxTexts();
  const std::pair<std::string, std::string> Hint{GetLangText(TTextId::InfoCaption),
                                                 GetLangText(TTextId::ReformatAsNtfsNotice)};
  EXPECT_EQ(std::count(B.begin(), B.end(), Hint), 1) << "the hint comes once per test";
  EXPECT_EQ(LastBox(),
            std::make_pair(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::TrimStepTrimmedNothing)));
  EXPECT_EQ(Boxes().back().Type, MB_OK | MB_ICONERROR);
  EXPECT_EQ(RealLogCount("TRIM failed: success=0, failed=1, planned="), 2u);
  EXPECT_TRUE(RealLogged(GetLangText(TTextId::Step5Passed)));
  EXPECT_TRUE(RealLogged(GetLangText(TTextId::TrimStepTrimmedNothing)));
  EXPECT_TRUE(Logged("[INFO] " + GetLangText(TTextId::TrimStepTrimmedNothing)));
  EXPECT_TRUE(Logged("Reformat-as-NTFS guidance already shown to user"));
  EXPECT_TRUE(TabIdle());
}

TEST_F(RealTestTab, ATrimRunAndARealTestNeverRunSideBySide) {
  AddTestDisk();
  SlowDrive();
  OpenTab();
  const auto AlreadyRunning =
      std::make_pair(GetLangText(TTextId::RunningCaption), GetLangText(TTextId::AlreadyRunning));

  // A real test runs: the TRIM tab's Start refuses.
  StartTest(1, 5);
  ASSERT_TRUE(ui.RunUntil([&] { return form->LblRealStatus->Caption() == "Status: STEP1"; }, 600000));
  script.Box(IDOK);
  ShowTab(kTrimPage);
  ASSERT_TRUE(ui.Click("BtnStart"));
  ShowTab(kRealTestPage);
  EXPECT_EQ(LastBox(), AlreadyRunning);
  EXPECT_EQ(Boxes().back().Type, MB_OK | MB_ICONINFORMATION);
  EXPECT_EQ(TMainFormTestAccess::RunThread(*form), nullptr);
  // Its own start buttons are off; a direct call shows only the same box.
  for (auto Handler : {&TMainForm::BtnRealTestStartClick, &TMainForm::BtnVerifyOnlyClick}) {
    script.Box(IDOK);
    ((*form).*Handler)(nullptr);
    EXPECT_EQ(LastBox(), AlreadyRunning);
  }
  ASSERT_TRUE(ui.Click("BtnRealTestStop"));
  script.Box(IDOK);
  RunToEnd();

  // A TRIM run is going (its first UNMAP takes its time): the real test's starts refuse.
  disk->drive.SetSpeed(SimDriveSpeed::Instant());
  SimFault Slow;
  Slow.command = SimCommand::Any;
  Slow.kind = SimFaultKind::Delay;
  Slow.delayMs = 2000;
  m->Bridge().AddFault(kDisk, Slow);
  script.Box(IDOK).Box(IDYES).Input(std::to_string(kDisk));
  ShowTab(kTrimPage);
  ASSERT_TRUE(ui.Click("BtnStart"));
  ASSERT_TRUE(ui.RunUntil([&] { return TMainFormTestAccess::RunThread(*form) != nullptr; }, 60000));
  ShowTab(kRealTestPage);
  const size_t Before = Boxes().size();
  script.Box(IDOK).Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnRealTestStart"));
  ASSERT_TRUE(ui.Click("BtnVerifyOnly"));
  ASSERT_EQ(Boxes().size(), Before + 2);
  EXPECT_EQ(BoxTexts()[Before], AlreadyRunning);
  EXPECT_EQ(BoxTexts()[Before + 1], AlreadyRunning);
  EXPECT_TRUE(TabIdle());
  script.Box(IDOK);  // the run's completion
  ASSERT_TRUE(
      ui.RunUntil([&] { return !TMainFormTestAccess::RunThread(*form) && script.Pending() == 0; }, 600000));
  m->Bridge().ClearFaults(kDisk);
}

TEST_F(RealTestTab, TheLogShowsTheTimeInTheUsersFormatAndTheFileGetsTheLevel) {
  AddTestDisk();
  ScopedFormatSettings Settings({.DecimalSeparator = ",", .ThousandSeparator = ".", .TimeSeparator = "."});
  OpenTab();
  form->RealTestLog("a line");
  form->RealTestLogError("Real test failed: broken");
  const auto& L = form->MemoRealTestLog->Lines();
  ASSERT_GE(L.size(), 2u);
  SYSTEMTIME Now = LocalTimeNow();
  char Prefix[32];
  std::snprintf(Prefix, sizeof Prefix, "[%02d.%02d.%02d] ", Now.wHour, Now.wMinute, Now.wSecond);
  EXPECT_EQ(L[L.size() - 2], std::string(Prefix) + "a line");
  EXPECT_EQ(L.back(), std::string(Prefix) + "Real test failed: broken");
  EXPECT_TRUE(Logged("[INFO] a line"));
  EXPECT_TRUE(Logged("[ERROR] Real test failed: broken"));
  // Each label's prefix follows the language at the moment it is set.
  SetCurrentLanguage(TUiLanguage::ulGerman);
  form->SetRealSpeed("1,0 MB/s");
  EXPECT_EQ(form->LblRealSpeed->Caption(), GetLangText(TTextId::SpeedPrefix) + "1,0 MB/s");
  SetCurrentLanguage(TUiLanguage::ulEnglish);
}

// Whatever the four labels show during a whole test (its steps, speeds and times, its end), they
// keep the room they had at the start: no value is cut, and nothing beside them moves.
TEST_F(RealTestTab, TheLabelsKeepTheirPlacesThroughATest) {
  AddTestDisk();
  disk->drive.SetSpeed(SimDriveSpeed::NeverSlows(4, 4));  // speeds to show, times that pass
  OpenTab();
  std::map<std::string, std::set<std::string>> shown;
  std::vector<std::string> moved;
  trace.OnChange = [&](tk::TControl& C, tk::TChange What, size_t) {
    if (C.Parent() != form->GroupRealTest) return;
    if (What == tk::TChange::Caption) shown[C.Name()].insert(C.Caption());
    if (What == tk::TChange::Bounds) moved.push_back(C.Name() + " for \"" + C.Caption() + "\"");
  };
  StartTest(1, 5);
  script.Box(IDOK);
  RunToEnd();
  trace.OnChange = nullptr;
  EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::Step5Passed)));
  EXPECT_EQ(moved, std::vector<std::string>{});
  // The test showed its values: every step, a speed, times past the first seconds.
  EXPECT_GE(shown["LblRealStatus"].size(), 9u);
  EXPECT_GE(shown["LblRealSpeed"].size(), 2u);
  EXPECT_GE(shown["LblElapsed"].size(), 5u);
  EXPECT_GE(shown["LblStepElapsed"].size(), 3u);
}

// The end handler runs during the shutdown's wait, but the window is gone: its result goes to
// the log, and no box stands on the desktop after it. Neither does a notice of the test's own
// TRIM run, which the close cancels while its first request hangs: the reformat notice of a UAS
// disk with only exFAT, which the cancel holds back, nor the reconnect notice of a disk that left
// the bus meanwhile, which a cancel does not.
TEST_F(RealTestTab, ClosingTheWindowStopsTheTestAndLogsItsEndWithoutABox) {
  const struct {
    const char* Name;
    bool InItsTrim;
    bool LeavesBus;
  } Cases[] = {{"while it writes", false, false},
               {"while its TRIM run hangs", true, false},
               {"while its TRIM run hangs on a disk that left the bus", true, true}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const size_t Mark = FileLog().size();
    m->Bridge().ClearRequests();
    if (C.InItsTrim) {
      disk = AddUas(kDisk, 2 * kGiB, "UASRT01");
      AddFormatted('E', kDisk, kMiB, 48 * kMiB, SimFsKind::kExFat);
      SimFault Hang;
      Hang.command = SimCommand::StorageTrim;
      Hang.nth = 1;
      Hang.kind = SimFaultKind::HangUntilCancel;
      m->Bridge().AddFault(kDisk, Hang);
    } else {
      AddTestDisk();
      SlowDrive();
    }
    OpenTab();
    StartTest(1, 5);
    if (C.InItsTrim) {
      ASSERT_TRUE(ui.RunUntil(
          [&] {
            const auto R = m->Bridge().Requests();
            return std::any_of(R.begin(), R.end(),
                               [](const SimRequestRecord& Q) { return Q.command == SimCommand::StorageTrim; });
          },
          600000));
      if (C.LeavesBus) m->Storage().LeaveBus(kDisk);
    } else {
      ASSERT_TRUE(ui.RunUntil([&] { return form->LblRealStatus->Caption() == "Status: STEP1"; }, 600000));
      ui.RunFor(3000);
    }
    const size_t Shown = Boxes().size();
    Close();
    EXPECT_EQ(Boxes().size(), Shown);
    EXPECT_TRUE(LoggedSince(Mark, "[INFO] Result not shown, the window was closed: Operation canceled by user."));
    if (C.LeavesBus) {
      EXPECT_TRUE(LoggedSince(Mark, "[INFO] USB bus disconnect detected"));
      EXPECT_TRUE(LoggedSince(Mark, "[INFO] Notice not shown, the window was closed"));
    } else if (C.InItsTrim) {
      EXPECT_TRUE(LoggedSince(Mark, "[ERROR] Batch 0 failed: Cancelled by user"));
      EXPECT_TRUE(LoggedSince(Mark, "[INFO] Reformat-as-NTFS guidance not shown: the run was cancelled"));
    }
    EXPECT_EQ(m->Kernel().LiveThreads(), 0);
    m->Storage().RemoveVolume('E');
    m->Storage().DetachDisk(kDisk);
  }
}

// A real test's runs have no progress handler: the TRIM tab's line and bar no longer speak of the
// last run's end once a test starts.
TEST_F(RealTestTab, AStartClearsTheEndOfTheLastTrimRun) {
  AddTestDisk();
  OpenTab();
  TRunStats Cancelled;
  Cancelled.RunMode = TRunMode::rmExecute;
  Cancelled.PlannedBatches = 4;
  Cancelled.DoneBatches = Cancelled.SucceededBatches = 1;
  Cancelled.Cancelled = true;
  script.Box(IDOK);
  form->RunCompleted(Cancelled);
  ASSERT_EQ(form->LblStatus->Caption(), "Status: Cancelled (1 of 4 batches done)");
  ASSERT_EQ(form->PbProgress->Position(), 25);
  StartTest(5, 5);
  EXPECT_EQ(form->LblStatus->Caption(), GetLangText(TTextId::StatusIdle));
  EXPECT_EQ(form->PbProgress->Position(), 0);
  script.Box(IDOK);
  RunToEnd();
  EXPECT_EQ(form->LblStatus->Caption(), GetLangText(TTextId::StatusIdle));
}

TEST_F(RealTestTab, ClosingRightAfterATestEndedFreesItsThreadOnce) {
  AddTestDisk();
  OpenTab();
  for (int Round = 0; Round < 3; ++Round) {
    StartTest(5, 5);
    script.Box(IDOK);
    // Only until the end handler has run: the thread may still be on its way to freeing itself.
    ASSERT_TRUE(ui.RunUntil([&] { return !Running() && script.Pending() == 0; }, 600000));
  }
  Close();
  EXPECT_EQ(Boxes().size(), 6u);
}

}  // namespace

// The end of a run on the window: progress, the result box, and the disk initialisation after a
// full-device execution, with every case that allows or refuses it; the disks that must be
// reconnected after a bridge hang or a disconnect.
#include <gtest/gtest.h>

#include <cmath>

#include "DiskWindowFixture.h"
#include "ui/RealTestWindowFixture.h"
#include "core/uFormat.h"
#include "platform/WinDisk.h"

using namespace plat;
using namespace plat::sim;
using tk::headless::TModal;

namespace {

using TBoxes = std::vector<std::pair<std::string, std::string>>;
std::string T(TTextId Id) { return GetLangText(Id); }
std::pair<std::string, std::string> B(TTextId Caption, TTextId Text) { return {T(Caption), T(Text)}; }

SimFault Fault(SimCommand C, int Nth, SimFaultKind K, uint32_t DelayMs = 0) {
  SimFault F;
  F.command = C;
  F.nth = Nth;
  F.kind = K;
  F.delayMs = DelayMs;
  return F;
}

struct CompletionTest : DiskWindowFixture {
  // The cases below arrange the machine through the fixture they are handed.
  using DiskWindowFixture::AddUas;
  using UiFixture::m;
  using UiFixture::ui;
  size_t mark = 0;

  // PD3: a UAS disk without volumes, selected for a full-device execution.
  void OpenWithBlankDisk() {
    AddUas(3, 2 * kGiB, "BLANK03");
    Open();
    ASSERT_EQ(form->RgMode->ItemIndex(), 0);
    ASSERT_TRUE(form->CbInitStyle->Visible());
  }
  // Start and both confirmations; the later boxes are the test's.
  void StartExecution(int Disk = 3) {
    mark = Boxes().size();
    script.Box(IDOK).Box(IDYES).Input(std::to_string(Disk));
    ASSERT_TRUE(ui.Click("BtnStart"));
  }
  // The boxes of the last StartExecution after its notice and question.
  TBoxes BoxesAfterStart() {
    TBoxes All = BoxTexts();
    return All.size() < mark + 2 ? TBoxes{} : TBoxes(All.begin() + static_cast<long>(mark) + 2, All.end());
  }
  // PD3's bridge hangs at its first UNMAP: it refuses the command, but only after 4800 ms, past
  // the hang threshold.
  void HangAtTheFirstUnmap() {
    SimBridgeProfile P = SimBridgeProfile::FullSat();
    P.unmap = false;
    m->Bridge().SetProfile(3, P);
    m->Bridge().AddFault(3, Fault(SimCommand::Unmap, 1, SimFaultKind::Delay, 4800));
  }
  SimPartitionLayout Layout(int Disk) { return m->Partitions().Layout(Disk); }
  size_t LayoutQueries() {
    const auto L = m->Storage().IoctlLog();
    return std::count(L.begin(), L.end(), IOCTL_DISK_GET_DRIVE_LAYOUT_EX);
  }
  size_t BridgeRequestsTo(int Disk) {
    const std::string Path = "\\\\.\\PhysicalDrive" + std::to_string(Disk);
    const auto R = m->Bridge().Requests();
    return std::count_if(R.begin(), R.end(), [&](const SimRequestRecord& X) { return X.path == Path; });
  }
};

TEST_F(CompletionTest, ProgressRoundsHalvesToEven) {
  Open();
  struct Case {
    uint32_t Done, Total;
    int Position;
  };
  for (const Case& C : std::vector<Case>{{0, 0, 0},
                                         {5, 0, 0},
                                         {1, 8, 12},
                                         {3, 8, 38},
                                         {5, 8, 62},
                                         {1, 3, 33},
                                         {2, 3, 67},
                                         {1, 200, 0},
                                         {1, 40, 2},
                                         {8, 8, 100}}) {
    form->RunProgress(C.Done, C.Total, Format("Batch %d/%d", C.Done, C.Total));
    EXPECT_EQ(form->PbProgress->Position(), C.Position) << C.Done << "/" << C.Total;
  }
  EXPECT_EQ(form->LblStatus->Caption(), T(TTextId::StatusPrefix) + "Batch 8/8");
}

TEST_F(CompletionTest, TheResultBoxAndTheCountsLine) {
  Open();
  struct Case {
    const char* Name;
    TRunStats Stats;
    std::pair<std::string, std::string> Box;
    uint32_t Icon;
    std::string Status;  // the line and the bar say how far the run got
    int Position;
  };
  TRunStats Ok;
  Ok.RunMode = TRunMode::rmExecute;
  Ok.PlannedBatches = Ok.DoneBatches = Ok.SucceededBatches = 4;
  TRunStats Some = Ok;
  Some.DoneBatches = Some.SucceededBatches = 3;
  Some.FailedBatches = 1;
  Some.FailureReportPath = "C:\\vt\\logs\\failure_report_x.json";
  TRunStats Cancelled = Ok;
  Cancelled.DoneBatches = Cancelled.SucceededBatches = 1;
  Cancelled.SkippedBatches = 3;
  Cancelled.Cancelled = true;
  // The batch in flight when the cancel came fails with it.
  TRunStats CancelledInBatch = Cancelled;
  CancelledInBatch.FailedBatches = 1;
  TRunStats CancelledFirst = Cancelled;
  CancelledFirst.DoneBatches = CancelledFirst.SucceededBatches = 0;
  CancelledFirst.SkippedBatches = 4;
  TRunStats Dry = Ok;
  Dry.RunMode = TRunMode::rmDryRun;
  // ReTrim covered the free space in the first batch: the run completed.
  TRunStats Covered = Ok;
  Covered.DoneBatches = Covered.SucceededBatches = 1;
  Covered.SkippedBatches = 3;
  const std::string Failed = T(TTextId::StatusPrefix) + T(TTextId::TrimCompletedWithFailures);
  const std::vector<Case> Cases = {
      {"success", Ok, B(TTextId::InfoCaption, TTextId::TrimCompleted), MB_ICONINFORMATION,
       T(TTextId::StatusCompleted), 100},
      {"failed batches",
       Some,
       {T(TTextId::ErrorCaption), T(TTextId::TrimCompletedWithFailures) + "\r\n(Success: 3, Failed: 1)"},
       MB_ICONERROR,
       Failed,
       75},
      {"cancelled", Cancelled, B(TTextId::InfoCaption, TTextId::CancelledByUser), MB_ICONINFORMATION,
       "Status: Cancelled (1 of 4 batches done)", 25},
      {"cancelled inside a batch", CancelledInBatch, B(TTextId::InfoCaption, TTextId::CancelledByUser),
       MB_ICONINFORMATION, "Status: Cancelled (1 of 4 batches done)", 25},
      {"cancelled before a batch was done", CancelledFirst, B(TTextId::InfoCaption, TTextId::CancelledByUser),
       MB_ICONINFORMATION, "Status: Cancelled (0 of 4 batches done)", 0},
      {"dry run", Dry, B(TTextId::InfoCaption, TTextId::TrimCompleted), MB_ICONINFORMATION,
       T(TTextId::StatusCompleted), 100},
      {"covered by ReTrim", Covered, B(TTextId::InfoCaption, TTextId::TrimCompleted), MB_ICONINFORMATION,
       T(TTextId::StatusCompleted), 100},
  };
  for (const Case& C : Cases) {
    form->BtnStart->SetEnabled(false);
    form->BtnCancel->SetEnabled(true);
    script.Box(IDOK);
    form->RunCompleted(C.Stats);
    EXPECT_EQ(BoxTexts().back(), C.Box) << C.Name;
    EXPECT_EQ(Boxes().back().Type & 0xF0u, C.Icon) << C.Name;
    EXPECT_TRUE(form->BtnStart->Enabled());
    EXPECT_FALSE(form->BtnCancel->Enabled());
    EXPECT_EQ(form->PbProgress->Position(), C.Position) << C.Name;
    EXPECT_EQ(form->LblStatus->Caption(), C.Status) << C.Name;
  }
  EXPECT_TRUE(Logged("[INFO] Run completed: planned=4, done=3, success=3, failed=1, skipped=0"));
  EXPECT_TRUE(Logged("[INFO] Run completed: planned=4, done=1, success=1, failed=0, skipped=3"));
  EXPECT_TRUE(Logged("[WARN] Failure report saved: C:\\vt\\logs\\failure_report_x.json"));
  EXPECT_EQ(CountLogged("Failure report saved"), 1u);
}

TEST_F(CompletionTest, AFullDeviceExecutionEndsWithTheChosenStyle) {
  for (int Style : {0, 1}) {  // CbInitStyle: GPT, MBR
    SCOPED_TRACE(Style == 0 ? "GPT" : "MBR");
    AddUas(3, 2 * kGiB, "BLANK03");
    Open();
    ASSERT_TRUE(ui.Select("CbInitStyle", Style));
    uint64_t InitAt = 0;
    StartExecution();
    script.Box(IDOK).Box([&](const TModal&) {
      InitAt = m->Kernel().NowMs();
      return IDOK;
    });
    Settle();
    EXPECT_EQ(
        BoxesAfterStart(),
        (TBoxes{B(TTextId::InfoCaption, TTextId::TrimCompleted),
                B(TTextId::InitCompleteCaption, Style == 0 ? TTextId::InitializedGpt : TTextId::InitializedMbr)}));
    EXPECT_TRUE(WindowLogHas(T(Style == 0 ? TTextId::WillInitGpt : TTextId::WillInitMbr)));
    EXPECT_TRUE(WindowLogHas(Format(T(TTextId::InitializedAsFmt), Style == 0 ? "GPT" : "MBR")));
    EXPECT_FALSE(Logged(T(TTextId::WillInitGpt)));  // the window log only
    const SimPartitionLayout L = Layout(3);
    if (Style == 0) {
      EXPECT_EQ(L.style, SimPartitionStyle::kGpt);
      EXPECT_EQ(L.maxPartitionCount, 128u);
      EXPECT_NE(L.diskId.Data1 | L.diskId.Data2 | L.diskId.Data3, 0u);
    } else {
      EXPECT_EQ(L.style, SimPartitionStyle::kMbr);
      EXPECT_EQ(L.mbrSignature, static_cast<uint32_t>(InitAt));
    }
    EXPECT_TRUE(L.entries.empty() || std::all_of(L.entries.begin(), L.entries.end(),
                                                 [](const SimPartitionEntry& E) { return E.mbrType == 0; }));
    TDiskInfo D;
    ASSERT_TRUE(form->GetSelectedDisk(D));
    EXPECT_EQ(form->QueryPartitionStyle(D), Style == 0 ? 1 : 0);
    Close();
  }
}

TEST_F(CompletionTest, DoNotInitializeLeavesTheDiskAsTheRunLeftIt) {
  OpenWithBlankDisk();
  ASSERT_TRUE(ui.Select("CbInitStyle", 2));
  StartExecution();
  script.Box(IDOK);
  Settle();
  EXPECT_EQ(BoxesAfterStart(), TBoxes{B(TTextId::InfoCaption, TTextId::TrimCompleted)});
  EXPECT_EQ(Layout(3).style, SimPartitionStyle::kRaw);
  EXPECT_FALSE(WindowLogHas(T(TTextId::InitSkipped)));
  EXPECT_FALSE(WindowLogHas(T(TTextId::WillInitGpt)));
}

// A run that did not complete: cancelled, or with no batch done, or ended in a bridge hang (an
// UNMAP that answers an I/O error only at the hang threshold, 4500 of its 5000 ms).
TEST_F(CompletionTest, ARunThatDidNotCompleteIsNotInitialised) {
  struct Case {
    const char* Name;
    std::function<void(CompletionTest&)> Arrange;
    std::function<void(CompletionTest&)> During;  // while the run is going
    TBoxes Boxes;
    TTextId Skipped = TTextId::InitSkipped;  // the window log's line
  };
  const std::vector<Case> Cases = {
      {"cancelled",
       // The run's first request takes a second; the user cancels meanwhile, before any batch.
       [](CompletionTest& F) {
         F.m->Bridge().AddFault(3, Fault(SimCommand::Inquiry, 1, SimFaultKind::Delay, 1000));
       },
       [](CompletionTest& F) {
         F.ui.RunFor(500);
         ASSERT_TRUE(F.ui.Click("BtnCancel"));
       },
       {B(TTextId::InfoCaption, TTextId::CancelledByUser)},
       TTextId::InitSkippedCancelled},
      {"no batch succeeded",
       [](CompletionTest& F) { F.m->Bridge().SetProfile(3, SimBridgeProfile::NoTrim()); },
       nullptr,
       {{T(TTextId::ErrorCaption), T(TTextId::TrimCompletedWithFailures) + "\r\n(Success: 0, Failed: 1)"}}},
      {"bridge hang",
       [](CompletionTest& F) { F.HangAtTheFirstUnmap(); },
       nullptr,
       {B(TTextId::InfoCaption, TTextId::UsbDisconnected),
        {T(TTextId::ErrorCaption), T(TTextId::TrimCompletedWithFailures) + "\r\n(Success: 0, Failed: 1)"}}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    AddUas(3, 2 * kGiB, "BLANK03");
    Open();
    C.Arrange(*this);
    StartExecution();
    for (size_t I = 0; I < C.Boxes.size(); I++) script.Box(IDOK);
    if (C.During) C.During(*this);
    Settle(30000);
    EXPECT_EQ(BoxesAfterStart(), C.Boxes);
    EXPECT_TRUE(WindowLogHas(T(C.Skipped)));
    for (TTextId Other : {TTextId::InitSkipped, TTextId::InitSkippedCancelled}) {
      if (Other != C.Skipped) {
        EXPECT_FALSE(WindowLogHas(T(Other)));
      }
    }
    EXPECT_FALSE(Logged(T(TTextId::InitSucceededPrefix)));
    EXPECT_EQ(Layout(3).style, SimPartitionStyle::kRaw);
    EXPECT_TRUE(form->BtnStart->Enabled());
    Close();
  }
}

// Decided: the initialisation writes only to the disk that was trimmed. Each case changes what
// sits under the disk's number while the result box is open.
TEST_F(CompletionTest, TheInitialisationProvesTheDiskFirst) {
  struct Case {
    const char* Name;
    std::function<void(CompletionTest&)> Arrange;       // before Start
    std::function<void(CompletionTest&)> WhileBoxOpen;  // during the result box
    size_t RunBoxes;                                    // the run's own boxes before the result box
    std::string Reason;                                 // the ERROR line's reason
    std::function<void(CompletionTest&)> Check;
  };
  const std::vector<Case> Cases = {
      {"another disk under the number", nullptr, [](CompletionTest& F) { F.AddUas(3, 2 * kGiB, "OTHER03"); }, 0,
       "serial number mismatch (different disk now has this drive number)",
       [](CompletionTest& F) { EXPECT_EQ(F.Layout(3).style, SimPartitionStyle::kRaw); }},
      {"a volume appeared", nullptr,
       [](CompletionTest& F) { F.m->Discovery().AddVolume('K', 3, kMiB, 512 * kMiB, "NTFS"); }, 0,
       "volume count changed (cached=0, live=1)",
       [](CompletionTest& F) {
         const SimPartitionLayout L = F.Layout(3);
         EXPECT_EQ(L.style, SimPartitionStyle::kGpt);
         EXPECT_EQ(L.entries.size(), 1u);  // the volume's partition is still there
       }},
      {"the disk is gone", nullptr, [](CompletionTest& F) { F.m->Storage().DetachDisk(3); }, 0,
       "disk not accessible (removed or renumbered)", nullptr},
      {"the disk left the bus during the run and another took its number",
       [](CompletionTest& F) { F.m->Bridge().AddFault(3, Fault(SimCommand::Unmap, 2, SimFaultKind::LeaveBus)); },
       [](CompletionTest& F) { F.AddUas(3, 2 * kGiB, "BLANK03"); },  // even with the same serial
       1, "the disk left the USB bus during the run",
       [](CompletionTest& F) {
         EXPECT_EQ(F.Layout(3).style, SimPartitionStyle::kRaw);
         EXPECT_TRUE(F.m->Storage().Disk(3)->drive.Ledger().empty());
       }},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    AddUas(3, 2 * kGiB, "BLANK03");
    Open();
    if (C.Arrange) C.Arrange(*this);
    StartExecution();
    for (size_t I = 0; I < C.RunBoxes; I++) script.Box(IDOK);
    script.Box([&](const TModal&) {
      C.WhileBoxOpen(*this);
      return IDOK;
    });
    script.Box(IDOK);
    Settle(30000);
    const TBoxes Shown = BoxesAfterStart();
    ASSERT_EQ(Shown.size(), C.RunBoxes + 2);
    EXPECT_EQ(Shown.back(), B(TTextId::InitFailedCaption, TTextId::InitFailed));
    EXPECT_EQ(Boxes().back().Type & 0xF0u, MB_ICONERROR);
    EXPECT_TRUE(WindowLogHas(Format(T(TTextId::InitFailedAfterTrimFmt), "GPT")));
    EXPECT_TRUE(Logged("[ERROR] Disk initialization skipped for PD3: " + C.Reason));
    EXPECT_FALSE(Logged(T(TTextId::InitSucceededPrefix)));
    if (C.Check) C.Check(*this);
    Close();
    if (m->Storage().Volume('K')) m->Storage().RemoveVolume('K');
    m->Storage().DetachDisk(3);
  }
}

// The run is cancelled in its sixth batch, each batch one range: the line and the bar say how far
// it got, also after a language switch, and the window log why the disk was not initialised. The
// next Start begins from a reset line and bar, and a run that completes reads "Completed".
TEST_F(CompletionTest, ACancelledRunSaysHowFarItGot) {
  OpenWithBlankDisk();
  form->SpBatch->SetValue(1);
  m->Bridge().AddFault(3, Fault(SimCommand::Unmap, 6, SimFaultKind::HangUntilCancel));
  auto Unmaps = [&] {
    const auto R = m->Bridge().Requests();
    return std::count_if(R.begin(), R.end(), [](const SimRequestRecord& Q) { return Q.command == SimCommand::Unmap; });
  };
  StartExecution();
  ASSERT_TRUE(ui.RunUntil([&] { return Unmaps() == 6; }, 60000));
  const std::string Progress = form->LblStatus->Caption();
  ASSERT_TRUE(Progress.starts_with("Status: Batch 5/")) << Progress;
  const int Planned = std::stoi(Progress.substr(std::string("Status: Batch 5/").size()));
  ASSERT_GT(Planned, 6);
  script.Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnCancel"));
  Settle(30000);
  ASSERT_EQ(BoxesAfterStart(), TBoxes{B(TTextId::InfoCaption, TTextId::CancelledByUser)});
  EXPECT_EQ(form->LblStatus->Caption(), Format("Status: Cancelled (5 of %d batches done)", Planned));
  EXPECT_EQ(form->PbProgress->Position(), static_cast<int>(std::nearbyint(500.0 / Planned)));
  EXPECT_TRUE(WindowLogHas("Disk initialization skipped: the run was cancelled."));
  EXPECT_FALSE(WindowLogHas(T(TTextId::InitSkipped)));
  EXPECT_EQ(Layout(3).style, SimPartitionStyle::kRaw);

  ASSERT_TRUE(ui.Select("CmbLanguage", static_cast<int>(TUiLanguage::ulGerman)));
  EXPECT_EQ(form->LblStatus->Caption(),
            Format(Text(TTextId::StatusCancelledFmt, TUiLanguage::ulGerman), 5, Planned));
  ASSERT_TRUE(ui.Select("CmbLanguage", static_cast<int>(TUiLanguage::ulEnglish)));
  EXPECT_EQ(form->LblStatus->Caption(), Format("Status: Cancelled (5 of %d batches done)", Planned));

  StartExecution();
  EXPECT_EQ(form->LblStatus->Caption(), T(TTextId::StatusRunning));
  EXPECT_EQ(form->PbProgress->Position(), 0);
  script.Box(IDOK).Box(IDOK);
  Settle(30000);
  EXPECT_EQ(BoxesAfterStart(), (TBoxes{B(TTextId::InfoCaption, TTextId::TrimCompleted),
                                       B(TTextId::InitCompleteCaption, TTextId::InitializedGpt)}));
  EXPECT_EQ(form->LblStatus->Caption(), T(TTextId::StatusCompleted));
  EXPECT_EQ(form->PbProgress->Position(), 100);
}

// The window is closed while the run's first request hangs until cancelled. The shutdown cancels
// the run and waits for it: no box comes any more, the window's result goes to the log (and a
// cancelled run has no reformat notice of a UAS disk with only exFAT to give). A full-device run
// so cancelled does not initialise the disk.
TEST_F(CompletionTest, ClosingTheWindowDuringARunShowsNoBoxAndLogsTheCancel) {
  struct Case {
    const char* Name;
    bool FreeSpace;
    SimCommand Hangs;
    std::vector<std::string> Logged;
  };
  const std::vector<Case> Cases = {
      {"free space", true, SimCommand::StorageTrim,
       {"[INFO] Reformat-as-NTFS guidance not shown: the run was cancelled"}},
      {"full device", false, SimCommand::Unmap, {"[WARN] Disk initialization skipped: the run was cancelled."}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    // The cases share the log file: each reads its own lines.
    const size_t Mark = FileLog().size();
    auto Logged = [&](const std::string& Piece) { return LoggedSince(Mark, Piece); };
    AddUas(3, 2 * kGiB, "CLOSE03");
    if (C.FreeSpace) AddFormatted('E', 3, kMiB, kGiB, SimFsKind::kExFat);
    Open();
    ASSERT_EQ(form->RgMode->ItemIndex(), C.FreeSpace ? 1 : 0);
    m->Bridge().AddFault(3, Fault(C.Hangs, 1, SimFaultKind::HangUntilCancel));
    StartExecution();
    ASSERT_TRUE(ui.RunUntil(
        [&] {
          const auto R = m->Bridge().Requests();
          return std::any_of(R.begin(), R.end(), [&](const SimRequestRecord& Q) { return Q.command == C.Hangs; });
        },
        60000));
    Close();
    EXPECT_EQ(BoxesAfterStart(), TBoxes{});
    EXPECT_TRUE(Logged("[ERROR] Batch 0 failed: Cancelled by user"));
    EXPECT_TRUE(Logged("[INFO] Result not shown, the window was closed: Operation canceled by user."));
    for (const std::string& L : C.Logged) EXPECT_TRUE(Logged(L)) << L;
    EXPECT_FALSE(Logged(T(TTextId::InitSucceededPrefix)));
    if (!C.FreeSpace) {
      EXPECT_EQ(Layout(3).style, SimPartitionStyle::kRaw);
    }
    EXPECT_EQ(m->Kernel().LiveThreads(), 0);
    if (m->Storage().Volume('E')) m->Storage().RemoveVolume('E');
    m->Storage().DetachDisk(3);
  }
}

// The run's own notice has no owner, so the person can close the window while it is open (here
// the USB notice after a bridge hang): the result that comes after it goes to the log.
TEST_F(CompletionTest, AResultAfterTheWindowWasClosedBehindTheRunsNoticeIsLogged) {
  OpenWithBlankDisk();
  HangAtTheFirstUnmap();
  StartExecution();
  script.Box([&](const TModal&) {
    form->UserClose();  // as its frame's close button
    return IDOK;
  });
  Settle(30000);
  EXPECT_EQ(BoxesAfterStart(), TBoxes{B(TTextId::InfoCaption, TTextId::UsbDisconnected)});
  EXPECT_TRUE(Logged("[ERROR] Result not shown, the window was closed: TRIM execution completed with failed "
                     "batches. (Success: 0, Failed: 1)"));
  EXPECT_TRUE(Logged("[WARN] Disk initialization skipped: the TRIM run did not complete successfully."));
  EXPECT_FALSE(WindowLogHas(T(TTextId::InitSkipped)));
  EXPECT_EQ(Layout(3).style, SimPartitionStyle::kRaw);
}

TEST_F(CompletionTest, AFailingCreationRequestIsReported) {
  OpenWithBlankDisk();
  m->Storage().AddFault(3, IOCTL_DISK_CREATE_DISK, SimOutcome::Error(ERROR_WRITE_PROTECT));
  StartExecution();
  script.Box(IDOK).Box(IDOK);
  Settle();
  EXPECT_EQ(BoxesAfterStart(), (TBoxes{B(TTextId::InfoCaption, TTextId::TrimCompleted),
                                       B(TTextId::InitFailedCaption, TTextId::InitFailed)}));
  EXPECT_TRUE(Logged("[ERROR] " + T(TTextId::CreateDiskFailedPrefix) + "19"));
  EXPECT_TRUE(WindowLogHas(Format(T(TTextId::InitFailedAfterTrimFmt), "GPT")));
  EXPECT_EQ(Layout(3).style, SimPartitionStyle::kRaw);

  // The request itself proves the disk on the handle it sends through: another serial, or a disk
  // that does not open, gets nothing.
  TDiskInfo D;
  ASSERT_TRUE(form->GetSelectedDisk(D));
  m->Storage().ClearFaults();
  D.Serial = "OTHER03";
  EXPECT_FALSE(form->InitializeDisk(D, 1));
  EXPECT_TRUE(
      Logged("[ERROR] Disk initialization skipped for PD3: serial number mismatch (different disk now has "
             "this drive number)"));
  EXPECT_EQ(Layout(3).style, SimPartitionStyle::kRaw);
  D.DevicePath = "\\\\.\\PhysicalDrive9";
  EXPECT_FALSE(form->InitializeDisk(D, 1));
  EXPECT_TRUE(Logged("[ERROR] " + T(TTextId::OpenDiskFailedPrefix) + "\\\\.\\PhysicalDrive9"));
}

// Decided: after a bridge hang the window reads nothing from the disk until a refresh no longer
// lists it; then it is read again as any disk.
TEST_F(CompletionTest, AHungDiskIsNotReadUntilItHasBeenReconnected) {
  AddUas(2, 8 * kGiB, "OTHER02");
  AddFormatted('E', 2, kMiB, kGiB);
  AddUas(3, 2 * kGiB, "BLANK03");
  Open();
  ASSERT_TRUE(ui.Select("CmbDisk", 1));
  Settle();
  HangAtTheFirstUnmap();
  StartExecution();
  script.Box(IDOK).Box(IDOK);
  Settle(30000);
  ASSERT_TRUE(form->BtnStart->Enabled());
  EXPECT_TRUE(DetailsHave(TMainForm::DiskReconnectText()));
  EXPECT_FALSE(DetailsHave("Free fragments:"));

  // Selected again, refreshed, or asked to start: the disk is not touched.
  const size_t Requests = BridgeRequestsTo(3), Layouts = LayoutQueries();
  ASSERT_TRUE(ui.Select("CmbDisk", 0));
  Settle();
  ASSERT_TRUE(ui.Select("CmbDisk", 1));
  Settle();
  ASSERT_TRUE(ui.Click("BtnRefresh"));
  Settle();
  EXPECT_EQ(form->CmbDisk->ItemIndex(), 1);
  EXPECT_TRUE(DetailsHave(TMainForm::DiskReconnectText()));
  script.Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnStart"));
  EXPECT_EQ(BoxTexts().back(), std::make_pair(T(TTextId::ErrorCaption), TMainForm::DiskReconnectText()));
  EXPECT_TRUE(Logged("[WARN] Start refused: PD3 must be reconnected after its last run"));
  EXPECT_EQ(BridgeRequestsTo(3), Requests);
  EXPECT_EQ(LayoutQueries(), Layouts);
  TDiskInfo D;
  ASSERT_TRUE(form->GetSelectedDisk(D));
  EXPECT_TRUE(form->DiskNeedsReconnect(D));

  // Unplugged: the list no longer shows it. Plugged in again: an ordinary disk.
  auto Disk = m->Storage().Disk(3);
  m->Storage().DetachDisk(3);
  Settle();
  ASSERT_EQ(DiskItems().size(), 1u);
  m->Storage().AttachDisk(Disk, 3);
  Settle();
  ASSERT_TRUE(ui.Select("CmbDisk", 1));
  Settle();
  EXPECT_FALSE(DetailsHave(TMainForm::DiskReconnectText()));
  EXPECT_TRUE(DetailsHave("Free fragments: 0"));
  EXPECT_GT(BridgeRequestsTo(3), Requests);
  EXPECT_GT(LayoutQueries(), Layouts);
  ASSERT_TRUE(form->GetSelectedDisk(D));
  EXPECT_FALSE(form->DiskNeedsReconnect(D));
}

}  // namespace

namespace {

// Decided: after a free-space run that hung the bridge, no handler reads or writes the disk's
// volumes until it has been reconnected: Inspect, the free-range export and the test folder's
// deletion are refused as Start is, with the same box and line, and ask the disk nothing.
TEST_F(CompletionTest, NoHandlerTouchesTheVolumesOfADiskToReconnect) {
  AddUas(3, 2 * kGiB, "EXFAT03");
  AddFormatted('E', 3, kMiB, kGiB, SimFsKind::kExFat);
  ASSERT_TRUE(Win().CreateDirectoryW("E:\\trim_real_test"));
  Open();
  ASSERT_EQ(form->RgMode->ItemIndex(), 1);
  // The storage TRIM request is refused; UNMAP answers with an I/O error only at the hang threshold.
  SimBridgeProfile P = SimBridgeProfile::FullSat();
  P.unmap = false;
  P.storageTrimError = ERROR_INVALID_FUNCTION;
  m->Bridge().SetProfile(3, P);
  m->Bridge().AddFault(3, Fault(SimCommand::Unmap, 1, SimFaultKind::Delay, 2000));
  StartExecution();
  script.Box(IDOK).Box(IDOK);
  Settle(30000);
  ASSERT_EQ(BoxesAfterStart().front(), B(TTextId::InfoCaption, TTextId::UsbDisconnected));
  ASSERT_TRUE(form->BtnStart->Enabled());
  TDiskInfo D;
  ASSERT_TRUE(form->GetSelectedDisk(D));
  ASSERT_TRUE(form->DiskNeedsReconnect(D));
  ASSERT_EQ(D.Volumes.size(), 1u);
  ASSERT_EQ(form->CmbRealTestDrive->ItemCount(), 1);

  const auto Requests = BridgeRequestsTo(3);
  const auto Ioctls = m->Storage().IoctlLog().size();
  const auto Inspected = form->MemoInspect->Lines();
  const struct {
    int Page;
    const char* Button;
    const char* What;
  } Handlers[] = {
      {1, "BtnInspect", "Inspect"},
      {1, "BtnExportFreeList", "Free range export"},
      {2, "BtnDeleteTestFolder", "Test folder deletion"},
  };
  for (const auto& H : Handlers) {
    SCOPED_TRACE(H.Button);
    ASSERT_TRUE(ui.Select("PageMain", H.Page));
    script.Box(IDOK);
    ASSERT_TRUE(ui.Click(H.Button));
    EXPECT_EQ(BoxTexts().back(), std::make_pair(T(TTextId::ErrorCaption), TMainForm::DiskReconnectText()));
    EXPECT_EQ(Boxes().back().Type, MB_OK | MB_ICONERROR);
    EXPECT_TRUE(Logged(std::string("[WARN] ") + H.What + " refused: PD3 must be reconnected after its last run"));
    EXPECT_EQ(BridgeRequestsTo(3), Requests);
    EXPECT_EQ(m->Storage().IoctlLog().size(), Ioctls);
  }
  EXPECT_EQ(form->MemoInspect->Lines(), Inspected);
  EXPECT_FALSE(Logged("Inspect completed"));
  EXPECT_FALSE(m->Files().Exists(Work("output\\pd3_free_ranges.csv")));
  EXPECT_NE(Win().GetFileAttributesW("E:\\trim_real_test"), INVALID_FILE_ATTRIBUTES);
}

// The real test's own TRIM run is a run too: when it hangs the bridge, the disk must be
// reconnected as after a run from the TRIM tab, and no handler reads it afterwards.
struct RealTestHang : RealTestWindowFixture {};

TEST_F(RealTestHang, ARealTestWhoseTrimHungTheBridgeLeavesTheDiskToReconnect) {
  disk = AddUas(kDisk, 2 * kGiB, "UASRT01");
  AddFormatted('E', kDisk, kMiB, 48 * kMiB, SimFsKind::kExFat);
  m->VolumeFiles().SetCacheLimit('E', 0);
  // The storage TRIM request is refused; UNMAP answers with an I/O error only at the hang threshold.
  SimBridgeProfile P = SimBridgeProfile::FullSat();
  P.unmap = false;
  P.storageTrimError = ERROR_INVALID_FUNCTION;
  m->Bridge().SetProfile(kDisk, P);
  m->Bridge().AddFault(kDisk, Fault(SimCommand::Unmap, 1, SimFaultKind::Delay, 2000));
  OpenTab();
  StartTest(1, 1);
  script.Box(IDOK).Box(IDOK);  // the run's USB notice, the test's end
  RunToEnd();
  ASSERT_TRUE(Logged("[WARN] SCSI UNMAP hang detected (winerr=1117 after 2000 ms >= threshold 2000 ms); skipping "
                     "ATA Pass-Through to keep the bridge alive"));
  TDiskInfo D;
  ASSERT_TRUE(form->GetSelectedDisk(D));
  EXPECT_TRUE(form->DiskNeedsReconnect(D));
  EXPECT_TRUE(DetailsHave(TMainForm::DiskReconnectText()));

  const auto Ioctls = m->Storage().IoctlLog().size();
  ShowTab(1);
  script.Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnInspect"));
  EXPECT_EQ(LastBox(), std::make_pair(T(TTextId::ErrorCaption), TMainForm::DiskReconnectText()));
  EXPECT_TRUE(Logged("[WARN] Inspect refused: PD2 must be reconnected after its last run"));
  EXPECT_EQ(m->Storage().IoctlLog().size(), Ioctls);
}

}  // namespace

// The real-test tab: its start, verify, stop and delete buttons, the time-stamped real-test log
// and the four labels the test thread sets, the elapsed-time refresh, the end of a test, the
// speed chart button and the file-map export. All on the main thread.
#include <memory>
#include <stdexcept>

#include "core/uDateTime.h"
#include "core/uFileWrite.h"
#include "core/uFormat.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "device/uDeviceHandle.h"
#include "engine/uValidation.h"
#include "platform/Platform.h"
#include "realtest/uFileMap.h"
#include "realtest/uRealTestLabels.h"
#include "realtest/uSpeedChartForm.h"
#include "ui/uMainForm.h"

using namespace plat;

namespace {

constexpr const char* kTestFolderName = "trim_real_test";

// Removes Path and everything below it, depth first. A junction or symbolic link is removed
// itself and never entered, so nothing outside the folder is touched. False at the first item
// that cannot be removed; what went before stays removed.
bool DeleteTree(const std::string& Path) {
  const DWORD Attrs = Win().GetFileAttributesW(Path);
  if (Attrs == INVALID_FILE_ATTRIBUTES) return false;
  if ((Attrs & FILE_ATTRIBUTE_DIRECTORY) == 0) return Win().DeleteFileW(Path) != FALSE_;
  if ((Attrs & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    // The whole listing is taken before anything goes, so no listing stays open meanwhile.
    for (const FIND_DATA& E : FindEntries(Path + "\\*"))
      if (!DeleteTree(Path + "\\" + E.cFileName)) return false;
  }
  return Win().RemoveDirectoryW(Path) != FALSE_;
}

// The size of a file opened for no data access; 0 when it does not open or the size query fails.
int64_t FileSizeOf(const std::string& Path) {
  TDeviceHandle H(
      Win().CreateFileW(Path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  if (!H.Valid()) return 0;
  Win().SetLastError(ERROR_SUCCESS);
  DWORD High = 0;
  const DWORD Low = Win().GetFileSize(H.Get(), &High);
  if (Low == INVALID_FILE_SIZE && Win().GetLastError() != ERROR_SUCCESS) return 0;
  return static_cast<int64_t>((static_cast<uint64_t>(High) << 32) | Low);
}

}  // namespace

// ---- the log and the labels ------------------------------------------------------------------

namespace {

// The real-test log's line: the local clock time first.
std::string Stamped(const std::string& Line) {
  std::string s = "[";
  s += FormatClockTime(LocalTimeNow());
  s += "] ";
  s += Line;
  return s;
}

}  // namespace

void TMainForm::RealTestLog(const std::string& Line) {
  if (MemoRealTestLog) MemoRealTestLog->AppendLine(Stamped(Line));
  if (FLogger) FLogger->Info(Line);
}

void TMainForm::RealTestLogError(const std::string& Line) {
  if (MemoRealTestLog) MemoRealTestLog->AppendLine(Stamped(Line));
  if (FLogger) FLogger->Error(Line);
}

void TMainForm::SetRealStatus(const std::string& Text) {
  if (LblRealStatus) LblRealStatus->SetCaption(GetLangText(TTextId::StatusPrefix) + Text);
}

void TMainForm::SetRealSpeed(const std::string& Text) {
  if (LblRealSpeed) LblRealSpeed->SetCaption(GetLangText(TTextId::SpeedPrefix) + Text);
}

void TMainForm::SetRealElapsed(const std::string& Text) {
  if (LblElapsed) LblElapsed->SetCaption(GetLangText(TTextId::ElapsedPrefix) + Text);
}

void TMainForm::SetStepElapsed(const std::string& Text) {
  if (LblStepElapsed) LblStepElapsed->SetCaption(GetLangText(TTextId::StepPrefix) + Text);
}

void TMainForm::KeepRoomForRealTestValues() {
  // What the test thread shows, and the window's own words of its start and end.
  TRealTestLabelTexts values = RealTestLabelTexts();
  values.Status.insert(values.Status.end(), {"Running", "Verifying", "Idle"});
  const auto keep = [](tk::TLabel* Label, TTextId Prefix, const std::vector<std::string>& Values) {
    if (!Label) return;
    std::vector<std::string> captions;
    for (const std::string& v : Values) captions.push_back(GetLangText(Prefix) + v);
    Label->SetRunTimeCaptions(std::move(captions));
  };
  keep(LblRealStatus, TTextId::StatusPrefix, values.Status);
  keep(LblRealSpeed, TTextId::SpeedPrefix, values.Speed);
  keep(LblElapsed, TTextId::ElapsedPrefix, values.Elapsed);
  keep(LblStepElapsed, TTextId::StepPrefix, values.Elapsed);
}

// ---- starting, stopping, the end of a test ---------------------------------------------------

bool TMainForm::RealTestStartRefused(TDiskInfo& Disk, std::string& Root, bool WritesAndTrims) {
  // A TRIM run would trim what the test is writing, so the two never run together.
  if (FRealTestThread || FRunThread) {
    AppMessageBox(GetLangText(TTextId::RunningCaption), GetLangText(TTextId::AlreadyRunning), dkInformation, mbOK);
    return true;
  }
  if (!GetSelectedDisk(Disk)) {
    AppMessageBox(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::SelectDisk), dkError, mbOK);
    return true;
  }
  if (!GetRealTestDriveRoot(Root)) {
    AppMessageBox(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::NoMountedDriveLetter), dkError, mbOK);
    return true;
  }
  if (DiskRefusedForReconnect(Disk, "Real test")) return true;
  if (!WritesAndTrims) return false;
  // The test fills the volume and trims the disk's free space: the same policies as a TRIM
  // execution from the TRIM tab.
  for (const TValidationResult& R : {FValidator->CheckSystemDiskPolicy(Disk, !CbAllowSystemDisk->Checked()),
                                     FValidator->CheckTransport(Disk, true)}) {
    if (R.Ok) continue;
    FLogger->Info(R.Message);
    AppMessageBox(GetLangText(TTextId::PolicyBlockedCaption), R.Message, dkError, mbOK);
    return true;
  }
  return false;
}

bool TMainForm::DiskRefusedForReconnect(const TDiskInfo& Disk, const char* What) {
  // A disk whose last run hung or left the bus may block any device call for minutes.
  if (!DiskNeedsReconnect(Disk)) return false;
  FLogger->Warn(Format("%s refused: PD%d must be reconnected after its last run", What, Disk.DiskNumber));
  AppMessageBox(GetLangText(TTextId::ErrorCaption), DiskReconnectText(), dkError, mbOK);
  return true;
}

TTrimExecOptions TMainForm::RealTestTrimOptions() {
  TTrimExecOptions O;
  O.TimeoutMs = SpTimeout->Value();
  O.AtaRetries = SpRetry->Value();
  O.BatchEntries = SpBatch->Value();
  O.BatchLimit = 0;
  O.ForcedPath = TForcedTrimPath::ftpAuto;  // the command-path selector is not read
  O.ExpertAtaRetry = false;
  O.QuietIterations = CbQuietIteration->Checked();
  return O;
}

void TMainForm::SetRealTestRunning(bool Running) {
  BtnRealTestStart->SetEnabled(!Running);
  BtnVerifyOnly->SetEnabled(!Running);
  BtnDeleteTestFolder->SetEnabled(!Running);
  BtnRealTestStop->SetEnabled(Running);
}

void TMainForm::StartRealTestThread(const TDiskInfo& Disk, const std::string& Folder,
                                    const TRealTestOptions& Steps, const TTrimExecOptions& Trim, bool VerifyOnly) {
  // The former test's thread has passed its end handler and only frees itself now: its end is
  // waited for before its link is replaced, so no thread of a test outlives the window.
  if (FRealTestLink) FRealTestLink.WaitFor();
  FRealTestLink = TThreadLink();
  FRealTestOwned = nullptr;

  TRealTrimTestThread* T = nullptr;
  try {
    T = new TRealTrimTestThread(this, Disk, Folder, Steps, Trim, VerifyOnly, FRealTestSizes);
  } catch (...) {
    // No thread to be had: the tab goes back to idle, and the error reaches the window's hook.
    SetRealTestRunning(false);
    SetRealStatus("Idle");
    throw;
  }
  FRealTestThread = T;
  FRealTestOwned = T;
  FRealTestLink = T->Link();
  // From now on the chart shows this test: its samples so far, none yet.
  T->GetSpeedData(FSpeedData);
  if (BtnSpeedChart) BtnSpeedChart->SetEnabled(true);
  T->SetOnTerminate([this](TThread* Sender) { RealTestTerminated(Sender); });
  // The TRIM tab's bar and line spoke of the last run; the test's own runs leave them alone.
  ClearRunEnd();
  T->Start();
  FElapsedTimer->SetEnabled(true);
}

void TMainForm::BtnRealTestStartClick(tk::TControl*) {
  TDiskInfo Disk;
  std::string Root;
  if (RealTestStartRefused(Disk, Root, true)) return;

  TRealTestOptions Steps;
  Steps.SpeedDropWaitMin = SpSpeedDropWait->Value();
  Steps.StartStep = CmbStartStep->ItemIndex() + 1;
  Steps.EndStep = CmbEndStep->ItemIndex() + 1;
  if (Steps.StartStep > Steps.EndStep) {
    AppMessageBox(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::StartStepAfterEndStep), dkError, mbOK);
    return;
  }
  // The drive on a line of its own, so the person sees which drive gets filled.
  if (!ConfirmYesNo(GetLangText(TTextId::ConfirmCaption),
                    GetLangText(TTextId::RealTestLongRunQuestion) + "\r\n" + Root))
    return;

  TTrimExecOptions Trim = RealTestTrimOptions();
  switch (CmbBatchLimit->ItemIndex()) {
    case 0: Trim.BatchLimit = 1; break;
    case 1: Trim.BatchLimit = 10; break;
    case 2: Trim.BatchLimit = 100; break;
    default: Trim.BatchLimit = 0; break;  // "All", or none selected
  }

  SetRealTestRunning(true);
  SetRealStatus("Running");
  SetRealElapsed("-");
  SetStepElapsed("-");
  RealTestLog(GetLangText(TTextId::RealTestStartPrefix) + Root);
  StartRealTestThread(Disk, Root + kTestFolderName, Steps, Trim, false);
}

void TMainForm::BtnVerifyOnlyClick(tk::TControl*) {
  TDiskInfo Disk;
  std::string Root;
  if (RealTestStartRefused(Disk, Root, false)) return;

  TRealTestOptions Steps;
  Steps.SpeedDropWaitMin = 0;
  Steps.StartStep = 1;
  Steps.EndStep = 4;
  const TTrimExecOptions Trim = RealTestTrimOptions();

  SetRealTestRunning(true);
  SetRealStatus("Verifying");
  SetRealElapsed("-");
  SetStepElapsed("-");
  const std::string Folder = Root + kTestFolderName;
  RealTestLog(GetLangText(TTextId::VerifyOnlyTargetPrefix) + Folder);
  StartRealTestThread(Disk, Folder, Steps, Trim, true);
}

void TMainForm::StopRealTest() {
  auto* T = dynamic_cast<TRealTrimTestThread*>(FRealTestThread);
  if (!T) return;
  // The first request is logged; a second click only asks again.
  if (!T->StopRequested() && !T->Finished())
    RealTestLog("Stop requested by user (elapsed " + T->GetElapsedText() + ")");
  T->RequestStop();
}

void TMainForm::BtnRealTestStopClick(tk::TControl*) { StopRealTest(); }

void TMainForm::RealTestTerminated(TThread* Sender) {
  FElapsedTimer->SetEnabled(false);
  SetRealTestRunning(false);
  SetRealStatus("Idle");

  auto* T = dynamic_cast<TRealTrimTestThread*>(Sender);
  TSpeedDataArray Series;  // a test that left none replaces the former series by an empty one
  if (T) T->GetSpeedData(Series);
  FSpeedData = Series;
  if (BtnSpeedChart) BtnSpeedChart->SetEnabled(!FSpeedData.empty());

  if (T) {
    // Its TRIM runs are runs: one that hung the bridge or lost the disk leaves it to reconnect.
    for (const TRunStats& Run : T->TrimRuns()) MarkForReconnectAfter(Run, Run.Disk);
    TDiskInfo Selected;
    if (GetSelectedDisk(Selected) && DiskNeedsReconnect(Selected)) ShowDiskDetails(Selected);
    if (T->Cancelled())
      EndBox(TTextId::InfoCaption, GetLangText(TTextId::CancelledByUser), dkInformation,
             EnglishText(TTextId::CancelledByUser));
    else if (T->Succeeded())
      EndBox(TTextId::InfoCaption, T->ResultText(), dkInformation, T->ResultText());
    else if (!T->ResultText().empty())
      EndBox(TTextId::ErrorCaption, T->ResultText(), dkError, T->ResultText());
  }
  FRealTestThread = nullptr;
}

void TMainForm::ElapsedTimerTick(tk::TTimer*) {
  // The field is cleared by the end handler, which runs before the thread may free itself.
  auto* T = dynamic_cast<TRealTrimTestThread*>(FRealTestThread);
  if (!T || T->Finished()) {
    FElapsedTimer->SetEnabled(false);
    return;
  }
  SetRealElapsed(T->GetElapsedText());
  SetStepElapsed(T->GetStepElapsedText());
}

void TMainForm::StopAndFreeRealTest() {
  TThreadLink Link = FRealTestLink;
  TRealTrimTestThread* T = FRealTestOwned;
  FRealTestLink = TThreadLink();
  FRealTestOwned = nullptr;
  if (Link) {
    if (Link.TakeBack()) {
      // Ours now, whether its end handler has run or not: asked to stop, waited for while its
      // synchronized calls (the end handler among them) are served, freed here. Its runs show
      // no box any more, as the window does not.
      T->SuppressRunBoxes();
      T->RequestStop();
      Link.WaitFor();
      delete T;
    } else {
      Link.WaitFor();  // it frees itself; only its end is waited for
    }
  }
  FRealTestThread = nullptr;
  if (FElapsedTimer) FElapsedTimer->SetEnabled(false);
}

// ---- the test folder ---------------------------------------------------------------------------

void TMainForm::BtnDeleteTestFolderClick(tk::TControl*) {
  if (FRealTestThread) {
    AppMessageBox(GetLangText(TTextId::RunningCaption), GetLangText(TTextId::TestRunning), dkInformation, mbOK);
    return;
  }
  std::string Root;
  if (!GetRealTestDriveRoot(Root)) {
    AppMessageBox(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::NoMountedDriveLetter), dkError, mbOK);
    return;
  }
  // No disk need be selected, so the refusal goes by the listed disk that holds the drive.
  for (const TDiskInfo& D : FDisks)
    if (VolumeOfPath(D, Root) && DiskRefusedForReconnect(D, "Test folder deletion")) return;
  const std::string Folder = Root + kTestFolderName;
  if (!DirectoryExists(Folder)) {
    RealTestLog(GetLangText(TTextId::FolderMissingPrefix) + Folder);
    return;
  }
  // The drive on a line of its own, so the person sees which drive gets cleared.
  if (!ConfirmYesNo(GetLangText(TTextId::ConfirmCaption),
                    GetLangText(TTextId::DeleteTestFolderQuestion) + "\r\n" + Root))
    return;

  BtnDeleteTestFolder->SetEnabled(false);
  bool Deleted = false;
  try {
    Deleted = DeleteTree(Folder);
  } catch (const std::exception&) {
    Deleted = false;
  }
  RealTestLog(GetLangText(Deleted ? TTextId::FolderDeletedPrefix : TTextId::FolderDeleteFailedPrefix) + Folder);
  BtnDeleteTestFolder->SetEnabled(true);
}

void TMainForm::BtnSpeedChartClick(tk::TControl*) {
  // A running test's chart opens before its first sample too, and says that it has none yet.
  if (FSpeedData.empty() && !FRealTestThread) {
    AppMessageBox(GetLangText(TTextId::InfoCaption), TSpeedChartForm::kNoDataNotice, dkInformation, mbOK);
    return;
  }
  // The chart shares the series (a running test's keeps growing while the chart is open); it is
  // freed when it closes, also when showing it fails.
  std::unique_ptr<TSpeedChartForm> Chart = TSpeedChartForm::CreateChart(this, FSpeedData, FOutputDir, FLogger);
  struct TFreeChart {
    std::unique_ptr<TSpeedChartForm>& Form;
    ~TFreeChart() { tk::DestroyForm(std::move(Form)); }
  } Free{Chart};
  Chart->ShowModal();
}

void TMainForm::BtnExportFileMapClick(tk::TControl*) {
  if (FRealTestThread) {
    AppMessageBox(GetLangText(TTextId::RunningCaption), GetLangText(TTextId::TestRunning), dkInformation, mbOK);
    return;
  }
  TDiskInfo Disk;
  if (!GetSelectedDisk(Disk)) {
    AppMessageBox(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::SelectDisk), dkError, mbOK);
    return;
  }
  std::string Root;
  if (!GetRealTestDriveRoot(Root)) {
    AppMessageBox(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::NoMountedDriveLetter), dkError, mbOK);
    return;
  }
  // The export asks the volume on the main thread.
  if (DiskRefusedForReconnect(Disk, "File map export")) return;
  const std::string Folder = Root + kTestFolderName + "\\";
  if (!DirectoryExists(Root + kTestFolderName)) {
    RealTestLog(GetLangText(TTextId::FolderMissingPrefix) + Folder);
    return;
  }
  // Through a link in the folder's place the files lie on whatever it leads to, and their sectors
  // would be counted from the wrong volume.
  const DWORD Attrs = Win().GetFileAttributesW(Root + kTestFolderName);
  if (Attrs != INVALID_FILE_ATTRIBUTES && (Attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
    RealTestLogError("The test folder is a junction or symbolic link; no file map is written: " + Folder);
    return;
  }
  // Sectors count from the volume the folder is on, never from another volume of the disk.
  const TVolumeInfo* Volume = VolumeOfPath(Disk, Folder);
  if (!Volume) {
    AppMessageBox(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::NoVolumeInfo), dkError, mbOK);
    return;
  }
  const TSectorGeometry Geometry = SectorGeometryOf(*Volume);

  std::vector<std::string> Files;
  CollectFilesRecursive(Folder, Files);
  if (Files.empty()) {
    RealTestLog(GetLangText(TTextId::NoFilesInTestFolder));
    return;
  }
  if (FOutputDir.empty()) {
    RealTestLog("Read-only drive: CSV export skipped.");
    return;
  }

  const std::string Path = FOutputDir + "file_map.csv";
  BtnExportFileMap->SetEnabled(false);
  try {
    std::string Text = std::string(kFileMapCsvHeader) + "\r\n";
    for (const std::string& F : Files) {
      uint64_t First = 0, Last = 0;
      GetFileSectorRange(F, Geometry, First, Last);  // 0 and 0 when the lookup fails
      Text += FileMapCsvRow(F, First, Last, FileSizeOf(F));
    }
    WriteWholeFile(Path, Text);
    RealTestLog(Format("%s: %d \xE2\x86\x92 %s", GetLangText(TTextId::FileMapCsvSaved),
                       static_cast<int32_t>(Files.size()), Path));
  } catch (const std::exception& E) {
    RealTestLog(GetLangText(TTextId::CsvSaveFailedPrefix) + E.what());
  }
  BtnExportFileMap->SetEnabled(true);
}

// The main window's life: what its creation sets up and in which order, how its destruction
// stops the threads and frees everything, and the window's two message-box helpers.
#include "ui/uMainForm.h"

#include <array>

#include "base/uByteOrder.h"
#include "core/uDateTime.h"
#include "core/uFileWrite.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "core/uMainThread.h"
#include "device/uDiskEnum.h"
#include "engine/uTrimExecutor.h"
#include "engine/uTrimPlanner.h"
#include "engine/uValidation.h"
#include "engine/uVolumeBitmap.h"
#include "platform/Platform.h"
#include "ui/toolkit/uTkModal.h"
#include "ui/uDiskThreads.h"

using namespace plat;

namespace {

// DEV_BROADCAST_DEVICEINTERFACE_W for the disk interface class: size 32, type 5, reserved 0,
// GUID_DEVINTERFACE_DISK, an empty name (and the padding that rounds the record to 32 bytes).
std::array<uint8_t, 32> DiskInterfaceFilter() {
  std::array<uint8_t, 32> f{};
  TByteWriter w(f);
  w.LE32(0, 32);           // dbcc_size
  w.LE32(4, 5);            // dbcc_devicetype: DBT_DEVTYP_DEVICEINTERFACE
  w.LE32(8, 0);            // dbcc_reserved
  w.LE32(12, 0x53F56307);  // dbcc_classguid {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}
  w.LE16(16, 0xB6BF);
  w.LE16(18, 0x11D0);
  const uint8_t tail[8] = {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B};
  w.Bytes(20, tail);
  // dbcc_name: one NUL character at 28, then padding.
  return f;
}

// Creates and deletes a probe file; true when creating and closing it succeeded.
bool ProbeWritable(const std::string& Folder) {
  const std::string probe = Folder + ".write_test_" + FormatProbeStamp(LocalTimeNow());
  HANDLE h = Win().CreateFileW(probe, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  if (!IsValidHandle(h)) return false;
  const bool closed = Win().CloseHandle(h) != FALSE_;
  Win().DeleteFileW(probe);  // its outcome is not looked at
  return closed;
}

}  // namespace

TMainForm::TMainForm() : tk::TForm(nullptr, tk::TCreate{"MainForm"}) {
  BuildDesign();
  OnCreate = [this](tk::TControl* S) { FormCreate(S); };
  OnDestroy = [this](tk::TControl* S) { FormDestroy(S); };
}

TMainForm::~TMainForm() = default;

void TMainForm::FormCreate(tk::TControl*) {
  SetCaption("vrek_trim_tool " + AppVersion());

  // The working folder is the current directory at start, not the program's folder.
  std::string work;
  Win().GetCurrentDirectoryW(&work);
  if (work.empty() || (work.back() != '\\' && work.back() != '/')) work += '\\';
  const bool writable = ProbeWritable(work);
  FSettingsPath = writable ? work + "settings.ini" : "";
  const std::string logsDir = work + "logs";
  FOutputDir.clear();
  if (writable) {
    ForceDirectories(logsDir);
    FOutputDir = work + "output";
    ForceDirectories(FOutputDir);
    FOutputDir += '\\';
  }

  FLogger = new TLogger(logsDir + "\\run_" + FormatFileStamp(LocalTimeNow()) + ".log");
  if (!writable) FLogger->DisableFileOutput();
  FLogger->SetOnLog([this](const std::string& Line) { AppendLogLine(Line); });
  tk::Application().SetOnException([this](const std::string& Message) {
    if (FLogger) FLogger->Error("Unhandled exception: " + Message);
    AppMessageBox(GetLangText(TTextId::ErrorCaption), Message, dkError, mbOK);
  });

  FDiskEnum = new TDiskEnumerator(FLogger);
  FPlanner = new TTrimPlanner(FLogger);
  FValidator = new TPreflightValidator(FLogger);
  FBitmapReader = new TVolumeBitmapReader(FLogger);

  FRunThread = nullptr;
  FRefreshThread = nullptr;
  FDetailThread = nullptr;
  FDetailSeq = 0;
  FUpdatingMode = false;
  FFirstScanQueued = false;

  if (CmbBatchLimit->ItemIndex() < 0) CmbBatchLimit->SetItemIndex(3);

  auto topButton = [this](const char* Name, int Left, int Width, void (TMainForm::*Handler)(tk::TControl*)) {
    auto* b = PanelTop->Add<tk::TButton>(tk::TCreate{Name, {Left, 2, Width, 25}});
    b->OnClick = [this, Handler](tk::TControl* S) { (this->*Handler)(S); };
    return b;
  };
  BtnProducts = topButton("BtnProducts", 4, 90, &TMainForm::BtnProductsClick);
  BtnManual = topButton("BtnManual", 98, 100, &TMainForm::BtnManualClick);
  BtnLicense = topButton("BtnLicense", 202, 80, &TMainForm::BtnLicenseClick);
  BtnAboutTrim = topButton("BtnAboutTrim", 286, 90, &TMainForm::BtnAboutTrimClick);
  BtnHowToUse = topButton("BtnHowToUse", 380, 90, &TMainForm::BtnHowToUseClick);

  CmbLanguage = PanelTop->Add<tk::TComboBox>(
      tk::TCreate{"CmbLanguage", {PanelTop->Width() - 130, 3, 120, 23}, tk::akTop | tk::akRight});
  SetCurrentLanguage(DetectUILanguage());
  std::vector<std::string> names;
  int32_t current = 0;
  for (int32_t i = 0; i < LanguageCount(); i++) {
    names.push_back(LanguageDisplayName(LanguageFromIndex(i)));
    if (LanguageFromIndex(i) == GetCurrentLanguage()) current = i;
  }
  CmbLanguage->SetItems(names);
  CmbLanguage->SetItemIndex(current);  // by code: the change handler does not run
  CmbLanguage->OnChange = [this](tk::TControl* S) { CmbLanguageChange(S); };

  FElapsedTimer = AddTimer();
  FElapsedTimer->SetInterval(1000);
  FElapsedTimer->OnTimer = [this](tk::TTimer* S) { ElapsedTimerTick(S); };
  FDeviceChangeTimer = AddTimer();
  FDeviceChangeTimer->SetInterval(1200);
  FDeviceChangeTimer->OnTimer = [this](tk::TTimer* S) { DeviceChangeTimerTick(S); };

  FDevNotify = nullptr;
  FNotifyWnd = tk::AllocateHWnd(
      [this](void* Wnd, uint32_t Msg, uintptr_t W, intptr_t L) { return DeviceWndProc(Wnd, Msg, W, L); });
  if (FNotifyWnd) {
    auto filter = DiskInterfaceFilter();
    FDevNotify = Win().RegisterDeviceNotificationW(FNotifyWnd, filter.data(), 0);
  }

  LblUaspMethod = GroupAdvanced->Add<tk::TLabel>(
      tk::TCreate{"LblUaspMethod", {530, 8, 0, 0}, tk::kAnchorsDefault, GetLangText(TTextId::LabelUaspMethod)});
  CmbUaspMethod = GroupAdvanced->Add<tk::TComboBox>(tk::TCreate{"CmbUaspMethod", {530, 24, 140, 23}});
  CmbUaspMethod->SetItems({"Auto", "SCSI UNMAP", "ATA Pass-Through"});
  CmbUaspMethod->SetItemIndex(0);
  CmbUaspMethod->SetHint(GetLangText(TTextId::UaspMethodHint));

  SetupTabs();
  ResetInspectView();
  BuildCaptionRows();  // every control at its designed place now
  LoadSettings();
  CbAdvancedClick(nullptr);
  ApplyLanguage();
  FLogger->Info("Application started");
  LblStatus->SetCaption(GetLangText(TTextId::StatusIdle));

  if (!FFirstScanQueued) {
    FFirstScanQueued = true;
    // Queued from the main thread, so the first scan starts right here, inside the creation. A
    // scan that cannot start (no thread to be had) is reported and the creation goes on.
    MainThread().Queue([this] { tk::Application().Guard([this] { StartDiskRefresh(); }); });
  }
  tk::Application().PostDeferred([this] { DeferredLayout(); });
}

void TMainForm::FormDestroy(tk::TControl*) {
  FClosing = true;
  // A creation cut short by an exception leaves later fields empty; the window is still
  // destroyed in order, without them.
  SaveSettings();
  if (FDeviceChangeTimer) FDeviceChangeTimer->SetEnabled(false);
  if (FDevNotify) {
    Win().UnregisterDeviceNotification(FDevNotify);
    FDevNotify = nullptr;
  }
  if (FNotifyWnd) {
    tk::DeallocateHWnd(FNotifyWnd);
    FNotifyWnd = nullptr;
  }

  // Each wait below keeps serving the thread's synchronized calls, so a run that ends now still
  // delivers its result, to the log: no box is shown any more, neither the window's nor the
  // run's own. The object was taken back, so it is freed here exactly once, also when its
  // handler cleared the field meanwhile.
  if (TTrimExecutionThread* run = FRunThread) {
    run->TakeBack();
    run->SuppressBoxes();
    // The run asks Windows again each second itself until its work is done; asked again here
    // too, for a run whose repeat could not start.
    run->RequestCancel();
    while (MainThread().WaitForThread(run->Handle(), TTrimExecutionThread::kCancelRepeatMs) == WAIT_TIMEOUT)
      run->RequestCancel();
    run->WaitFor();
    delete run;
    FRunThread = nullptr;
  }
  StopAndFreeRealTest();
  if (TDiskRefreshThread* scan = FRefreshThread) {
    scan->TakeBack();
    scan->Terminate();
    scan->WaitFor();
    delete scan;
    FRefreshThread = nullptr;
  }
  WaitForDetailThreads();

  tk::Application().SetOnException(nullptr);
  delete FValidator;
  FValidator = nullptr;
  delete FPlanner;
  FPlanner = nullptr;
  delete FBitmapReader;
  FBitmapReader = nullptr;
  delete FDiskEnum;
  FDiskEnum = nullptr;
  if (FLogger) FLogger->SetOnLog(nullptr);
  delete FLogger;
  FLogger = nullptr;
}

int32_t TMainForm::AppMessageBox(const std::string& Caption, const std::string& Text, TDialogKind Kind,
                                 uint8_t Buttons) {
  UINT type = 0;
  switch (Kind) {
    case dkWarning: type = MB_ICONWARNING; break;
    case dkError: type = MB_ICONERROR; break;
    case dkConfirmation: type = MB_ICONQUESTION; break;
    default: type = MB_ICONINFORMATION; break;
  }
  const bool yes = Buttons & mbYes, no = Buttons & mbNo, cancel = Buttons & mbCancel;
  if (yes && no && cancel)
    type |= MB_YESNOCANCEL;
  else if (yes && no)
    type |= MB_YESNO;
  else
    type |= MB_OK;  // OK and Cancel show a single OK
  const int r = tk::MessageBox(this, Text, Caption, type);
  switch (r) {
    case IDOK:
    case IDCANCEL:
    case IDYES:
    case IDNO: return r;
    default: return 0;
  }
}

void TMainForm::EndBox(TTextId Caption, const std::string& Text, TDialogKind Kind, const std::string& LogText) {
  if (!Gone()) {
    AppMessageBox(GetLangText(Caption), Text, Kind, mbOK);
    return;
  }
  // One line: the box's line breaks become blanks.
  std::string Line = "Result not shown, the window was closed: ";
  for (size_t I = 0; I < LogText.size(); I++) {
    const bool Break = LogText.compare(I, 2, "\r\n") == 0;
    Line += Break ? ' ' : LogText[I];
    if (Break) I++;
  }
  if (!FLogger) return;
  if (Kind == dkError)
    FLogger->Error(Line);
  else
    FLogger->Info(Line);
}

std::string TMainForm::EnglishText(TTextId Id) { return LangTableFor(TUiLanguage::ulEnglish)[TextIndex(Id)]; }

bool TMainForm::ConfirmYesNo(const std::string& Caption, const std::string& Text) {
  return AppMessageBox(Caption, Text, dkConfirmation, mbYes | mbNo) == IDYES;
}

// Languages, the rows whose captions decide their widths, the top panel's links and boxes, and
// the window log.
#include <initializer_list>

#include "core/uLang.h"
#include "core/uLogger.h"
#include "ui/toolkit/uTkCaptionLayout.h"
#include "ui/toolkit/uTkModal.h"
#include "ui/uMainForm.h"

namespace {

// The maker's pages the top panel opens (on the reserved example domain: no third party is opened).
constexpr const char* kProductsUrl = "https://vrek.example/products";
constexpr const char* kManualUrl = "https://vrek.example/manual";
constexpr const char* kHowToUseUrl = "https://vrek.example/manual/trim-tool";

// The four advanced check boxes stand this far apart, whatever their captions' lengths.
constexpr int kAdvancedCheckGap = 16;
// The top panel's buttons end this far before the language selector.
constexpr int kTopButtonsEnd = 8;

using T = TTextId;

// A control not built yet is skipped: it takes its texts when built and at the next change.
void ApplyCaption(tk::TControl* Control, TTextId Caption) {
  if (Control) Control->SetCaption(GetLangText(Caption));
}

void ApplyHint(tk::TControl* Control, TTextId Hint) {
  if (Control) Control->SetHint(GetLangText(Hint));
}

void ApplyTexts(tk::TControl* Control, TTextId Caption, TTextId Hint) {
  ApplyCaption(Control, Caption);
  ApplyHint(Control, Hint);
}

bool StartsWith(const std::string& S, const std::string& Head) { return S.compare(0, Head.size(), Head) == 0; }

// A caption the window made from the text table, in whichever language: one of the Whole texts,
// or one of the Prefix texts followed by a value. It is set again in the current language, the
// value kept; any other caption stays as it is.
void Retranslate(tk::TControl* Control, std::initializer_list<TTextId> Whole, std::initializer_list<TTextId> Prefix) {
  if (!Control) return;
  const std::string& caption = Control->Caption();
  for (int32_t i = 0; i < LanguageCount(); ++i) {
    const char* const* table = LangTableFor(LanguageFromIndex(i));
    for (TTextId id : Whole)
      if (caption == table[TextIndex(id)]) return Control->SetCaption(GetLangText(id));
  }
  for (int32_t i = 0; i < LanguageCount(); ++i) {
    const char* const* table = LangTableFor(LanguageFromIndex(i));
    for (TTextId id : Prefix)
      if (StartsWith(caption, table[TextIndex(id)]))
        return Control->SetCaption(GetLangText(id) + caption.substr(std::string(table[TextIndex(id)]).size()));
  }
}

}  // namespace

void TMainForm::ApplyLanguage() {
  // The rows are placed once, after every caption below has its new text (the four advanced
  // check boxes among them).
  tk::TCaptionBatch batch(CaptionLayout());
  ApplyCaption(BtnProducts, T::ButtonProducts);
  ApplyCaption(BtnManual, T::ButtonManual);
  ApplyCaption(BtnLicense, T::ButtonLicense);
  ApplyCaption(BtnAboutTrim, T::ButtonAboutTrim);
  ApplyCaption(BtnHowToUse, T::ButtonHowToUse);
  ApplyTexts(TabTrim, T::TabTrimExecute, T::TabTrimExecuteHint);
  ApplyTexts(TabInspect, T::TabDriveInspect, T::TabDriveInspectHint);
  ApplyTexts(TabRealTest, T::TabRealTest, T::TabRealTestHint);
  ApplyCaption(GroupSelection, T::GroupDiskSelection);
  ApplyCaption(GroupMode, T::GroupExecutionOptions);
  ApplyCaption(GroupAdvanced, T::GroupAdvancedSettings);
  ApplyCaption(GroupStatus, T::GroupStatusLog);
  ApplyCaption(GroupRealTest, T::GroupRealTestControl);
  ApplyHint(CmbDisk, T::DiskListHint);
  ApplyTexts(BtnRefresh, T::ButtonRefresh, T::RefreshHint);
  ApplyTexts(BtnBotGuide, T::ButtonUsbInfo, T::UsbInfoHint);
  ApplyTexts(RgMode, T::GroupExecutionMode, T::ExecutionModeHint);
  // Items replaced in place: the selection stays.
  RgMode->SetItem(0, GetLangText(T::ModeFullTrim));
  RgMode->SetItem(1, GetLangText(T::ModeFreeSpaceTrim));
  ApplyTexts(CbDryRun, T::CheckDryRun, T::DryRunHint);
  ApplyTexts(CbAdvanced, T::CheckShowAdvanced, T::ShowAdvancedHint);
  ApplyCaption(LblInitStyle, T::LabelInitAfterTrim);
  ApplyHint(CbInitStyle, T::InitAfterTrimHint);
  CbInitStyle->SetItem(2, GetLangText(T::ItemDoNotInitialize));  // "GPT" and "MBR" stay
  ApplyHint(MemoDiskInfo, T::DiskDetailsHint);
  ApplyCaption(LabelTimeout, T::LabelTimeoutMs);
  ApplyCaption(LabelRetry, T::LabelRetry);
  ApplyCaption(LabelBatch, T::LabelBatchEntries);
  ApplyCaption(LabelBatchLimit, T::LabelBatchRunLimit);
  ApplyHint(SpTimeout, T::TimeoutHint);
  ApplyHint(SpRetry, T::RetryHint);
  ApplyHint(SpBatch, T::BatchEntriesHint);
  ApplyHint(CmbBatchLimit, T::BatchRunLimitHint);
  ApplyTexts(CbAllowSystemDisk, T::CheckAllowSystemDisk, T::AllowSystemDiskHint);
  ApplyTexts(CbMaskSerial, T::CheckMaskSerial, T::MaskSerialHint);
  ApplyTexts(CbQuietIteration, T::CheckExcludeRepetitive, T::ExcludeRepetitiveHint);
  ApplyTexts(CbFlushVolumes, T::CheckFlushVolumes, T::FlushVolumesHint);
  ApplyTexts(CbWinRetrimOnly, T::CheckWinReTrimOnly, T::WinReTrimOnlyHint);
  ApplyCaption(LblUaspMethod, T::LabelUaspMethod);
  ApplyHint(CmbUaspMethod, T::UaspMethodHint);
  ApplyTexts(BtnStart, T::ButtonStart, T::StartHint);
  ApplyTexts(BtnCancel, T::ButtonCancel, T::CancelHint);
  ApplyTexts(BtnClearLog, T::ButtonClearLog, T::ClearLogHint);
  ApplyHint(PbProgress, T::ProgressHint);
  ApplyHint(LblStatus, T::StatusHint);
  ApplyHint(MemoLog, T::LogHint);
  ApplyTexts(BtnRealTestStart, T::ButtonStartRealTest, T::StartRealTestHint);
  ApplyTexts(BtnRealTestStop, T::ButtonStopRealTest, T::StopRealTestHint);
  ApplyTexts(BtnVerifyOnly, T::ButtonVerifyOnly, T::VerifyOnlyHint);
  ApplyTexts(BtnDeleteTestFolder, T::ButtonDeleteTestFolder, T::DeleteTestFolderHint);
  ApplyTexts(BtnExportFileMap, T::ButtonExportFileMapCsv, T::ExportFileMapCsvHint);
  ApplyTexts(BtnClearRealLog, T::ButtonClearRealTestLog, T::ClearRealTestLogHint);
  ApplyCaption(LabelStartStep, T::LabelStartStep);
  ApplyHint(CmbStartStep, T::StartStepHint);
  ApplyCaption(LabelEndStep, T::LabelEndStep);
  ApplyHint(CmbEndStep, T::EndStepHint);
  ApplyHint(LblRealStatus, T::RealTestStatusHint);
  ApplyHint(LblRealSpeed, T::RealTestSpeedHint);
  ApplyHint(LblElapsed, T::RealTestElapsedHint);
  ApplyHint(LblStepElapsed, T::StepElapsedHint);
  ApplyCaption(LabelSpeedDropWait, T::LabelSpeedDropWait);
  ApplyCaption(LabelRealTestDrive, T::LabelTargetDrive);
  ApplyHint(SpSpeedDropWait, T::SpeedDropWaitHint);
  ApplyHint(CmbRealTestDrive, T::RealTestDriveHint);
  ApplyHint(MemoRealTestLog, T::RealTestLogHint);
  ApplyTexts(BtnSpeedChart, T::ButtonSpeedChart, T::SpeedChartHint);
  ApplyTexts(BtnInspect, T::ButtonInspect, T::InspectHint);
  ApplyTexts(BtnExportFreeList, T::ButtonExportFreeSectorList, T::ExportFreeSectorListHint);
  ApplyHint(MemoInspect, T::InspectSummaryHint);
  ApplyHint(GridVolumes, T::VolumeGridHint);
  RetranslateStatusLines();
  KeepRoomForRealTestValues();
}

void TMainForm::CmbLanguageChange(tk::TControl*) {
  // The choice is saved at shutdown; nothing is logged.
  if (!CmbLanguage || CmbLanguage->ItemIndex() < 0) return;
  tk::TCaptionBatch batch(CaptionLayout());
  const bool RunEndShown = LblStatus->Caption() == RunEndStatus();
  SetCurrentLanguage(LanguageFromIndex(CmbLanguage->ItemIndex()));
  ApplyLanguage();
  // The creation sets the run's status line itself, right after it has applied the language.
  if (RunEndShown)
    LblStatus->SetCaption(RunEndStatus());
  else
    Retranslate(LblStatus, {T::StatusIdle, T::StatusRunning, T::StatusScanning, T::StatusReady},
                {T::StatusPrefix});
}

void TMainForm::RetranslateStatusLines() {
  // The status lines that the window wrote from the table follow the language too, each with its
  // value; the design captions of the real-test labels ("Speed: -") are table texts followed by a
  // value as well, so a window started in a language shows them in it, as a switch to it does.
  Retranslate(LblFsPolicy, {T::LabelFsPolicyNone, T::FsPolicyEnabledDetected, T::FsPolicyEnabled},
              {T::FsPolicyDisabledPrefix});
  Retranslate(LblRealStatus, {}, {T::StatusPrefix});
  Retranslate(LblRealSpeed, {}, {T::SpeedPrefix});
  Retranslate(LblElapsed, {}, {T::ElapsedPrefix});
  Retranslate(LblStepElapsed, {}, {T::StepPrefix});
}

void TMainForm::LayoutAdvancedChecks() { CaptionLayout().Apply(); }

// Each row at its designed place (see uTkCaptionLayout.h); a cell is a control or a column of
// controls that move together. The four advanced check boxes are packed, 16 pixels apart, each
// as wide as its box and caption need: a box left at its design width would be clipped under a
// longer caption, or reach under its neighbour with a shorter one, where a click would toggle the
// wrong box.
void TMainForm::BuildCaptionRows() {
  using Row = tk::TLayoutRow;
  tk::TCaptionLayout& layout = CaptionLayout();
  auto row = [&](std::vector<std::vector<tk::TControl*>> Cells) { layout.AddRow(Row{.Cells = std::move(Cells)}); };
  layout.AddRow(Row{.Cells = {{BtnProducts}, {BtnManual}, {BtnLicense}, {BtnAboutTrim}, {BtnHowToUse}},
                    .Limit = CmbLanguage->Left() - kTopButtonsEnd});
  for (tk::TControl* group : {GroupSelection, GroupMode, GroupAdvanced, GroupStatus, GroupRealTest}) row({{group}});

  // The TRIM tab. The selection row is held to the group's right edge: its list gives way.
  layout.AddRow(Row{.Cells = {{BtnBotGuide}, {BtnRefresh}, {CmbDisk}}, .Flow = tk::TRowFlow::RightToLeft});
  row({{RgMode}, {CbDryRun, CbWinRetrimOnly, CbAdvanced}});
  row({{RgMode}, {LblInitStyle}, {CbInitStyle}});
  row({{LblFsPolicy}});
  row({{LabelTimeout, SpTimeout},
       {LabelRetry, SpRetry},
       {LabelBatch, SpBatch},
       {LabelBatchLimit, CmbBatchLimit},
       {LblUaspMethod, CmbUaspMethod}});
  layout.AddRow(Row{.Cells = {{CbAllowSystemDisk}, {CbMaskSerial}, {CbQuietIteration}, {CbFlushVolumes}},
                    .PackGap = kAdvancedCheckGap});
  row({{BtnStart}, {BtnCancel}, {BtnClearLog}, {PbProgress}});
  row({{LblStatus}});

  // The inspection tab.
  row({{BtnInspect}, {BtnExportFreeList}});

  // The real-test tab: the two columns of buttons beside the export button and the step lists,
  // the status labels after both, and the row of the drive under them.
  const std::vector<tk::TControl*> startAndDelete{BtnRealTestStart, BtnDeleteTestFolder};
  const std::vector<tk::TControl*> stopAndVerify{BtnRealTestStop, BtnVerifyOnly};
  const std::vector<tk::TControl*> status{LblRealStatus, LblRealSpeed, LblElapsed, LblStepElapsed};
  row({startAndDelete, stopAndVerify, {BtnExportFileMap}, status});
  row({startAndDelete, stopAndVerify, {LabelStartStep, CmbStartStep}, {LabelEndStep, CmbEndStep}, status});
  row({{LabelSpeedDropWait, SpSpeedDropWait},
       {LabelRealTestDrive, CmbRealTestDrive},
       {BtnSpeedChart},
       {BtnClearRealLog}});
}

void TMainForm::DeferredLayout() {
  // The window is shown now, so the measurement is the shown window's.
  LayoutAdvancedChecks();
}

// A page that cannot be opened (no browser, no network) shows nothing.
void TMainForm::BtnProductsClick(tk::TControl*) { tk::OpenUrl(kProductsUrl); }
void TMainForm::BtnManualClick(tk::TControl*) { tk::OpenUrl(kManualUrl); }
void TMainForm::BtnHowToUseClick(tk::TControl*) { tk::OpenUrl(kHowToUseUrl); }

void TMainForm::BtnLicenseClick(tk::TControl*) {
  // A notice only: nothing is checked, stored or enabled by it.
  AppMessageBox(GetLangText(TTextId::LicenseCaption), GetLangText(TTextId::LicenseNotice), dkInformation, mbOK);
}

void TMainForm::BtnAboutTrimClick(tk::TControl*) {
  AppMessageBox(GetLangText(TTextId::AboutTrimCaption), GetLangText(TTextId::AboutTrim), dkInformation, mbOK);
}

void TMainForm::BtnBotGuideClick(tk::TControl*) {
  if (FLogger) FLogger->Info("User requested BOT reconnect guide");
  AppMessageBox(GetLangText(TTextId::UsbGuideCaption), GetLangText(TTextId::UsbGuide), dkInformation, mbOK);
}

void TMainForm::AppendLogLine(const std::string& Line) {
  // The memo scrolls to the new line; at its character limit the oldest lines make room.
  MemoLog->AppendLine(Line);
}

void TMainForm::BtnClearLogClick(tk::TControl*) {
  MemoLog->Clear();
  // Arrives in the emptied memo as its first line, and goes to the log file.
  if (FLogger) FLogger->Info("UI log cleared by user");
}

void TMainForm::BtnClearRealLogClick(tk::TControl*) {
  if (!MemoRealTestLog) return;
  MemoRealTestLog->Clear();
  ShowRealTestGuide();  // the memo is empty, so the guide comes back
}

// Languages, the top panel's links and boxes, and the window log.
#include <algorithm>
#include <utility>

#include "core/uLang.h"
#include "core/uLogger.h"
#include "ui/toolkit/uTkModal.h"
#include "ui/uMainForm.h"

namespace {

// The maker's pages the top panel opens (on the reserved example domain: no third party is opened).
constexpr const char* kProductsUrl = "https://vrek.example/products";
constexpr const char* kManualUrl = "https://vrek.example/manual";
constexpr const char* kHowToUseUrl = "https://vrek.example/manual/trim-tool";

// The four advanced check boxes stand this far apart, whatever their captions' lengths.
constexpr int kAdvancedCheckGap = 16;

// The mode group's check boxes as designed, and where the partition-style list starts at the least.
constexpr int kDryRunDesignWidth = 164;
constexpr int kWinRetrimOnlyDesignWidth = 320;
constexpr int kAdvancedDesignWidth = 98;
constexpr int kInitStyleListLeft = 560;
constexpr int kInitStyleListGap = 8;
constexpr int kTopButtonGap = 4;
constexpr int kInitStyleLabelDrop = 4;  // the label's text level with the list's

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

}  // namespace

void TMainForm::ApplyLanguage() {
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
  // The four boxes have their new captions: place them by their new widths.
  LayoutAdvancedChecks();
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
  LayoutModeRow();
  LayoutTopButtons();
}

void TMainForm::CmbLanguageChange(tk::TControl*) {
  // The choice is saved at shutdown; nothing is logged.
  if (!CmbLanguage || CmbLanguage->ItemIndex() < 0) return;
  SetCurrentLanguage(LanguageFromIndex(CmbLanguage->ItemIndex()));
  ApplyLanguage();
}

void TMainForm::LayoutAdvancedChecks() {
  // One row, each box as wide as its box and caption need and the next one a fixed gap after it.
  // The width is set too: a box left at its design width would be clipped under a longer caption,
  // or reach under its neighbour with a shorter one, where a click would toggle the wrong box.
  int x = CbAllowSystemDisk->Left();
  for (tk::TCheckBox* box : {CbAllowSystemDisk, CbMaskSerial, CbQuietIteration, CbFlushVolumes}) {
    const int w = box->PreferredSize().Width;
    box->SetBounds({x, box->Top(), w, box->Height()});
    x += w + kAdvancedCheckGap;
  }
}

// The mode group's three check boxes keep their design width unless their caption needs more
// (the design's 98 pixels clip "Show Advanced Options" already in English). The partition-style
// label and list go on a row of their own under the last box: the design put the label under
// that box's caption, and beside it a longer caption runs past the group in some languages.
void TMainForm::LayoutModeRow() {
  const std::pair<tk::TCheckBox*, int> boxes[] = {{CbDryRun, kDryRunDesignWidth},
                                                  {CbWinRetrimOnly, kWinRetrimOnlyDesignWidth},
                                                  {CbAdvanced, kAdvancedDesignWidth}};
  for (auto [box, design] : boxes) {
    const int w = std::max(design, box->PreferredSize().Width);
    box->SetBounds({box->Left(), box->Top(), w, box->Height()});
  }
  const int rowTop = CbAdvanced->Bounds().Bottom();
  LblInitStyle->SetBounds(
      {CbAdvanced->Left(), rowTop + kInitStyleLabelDrop, LblInitStyle->Width(), LblInitStyle->Height()});
  CbInitStyle->SetBounds({std::max(kInitStyleListLeft, LblInitStyle->Bounds().Right() + kInitStyleListGap), rowTop,
                          CbInitStyle->Width(), CbInitStyle->Height()});
}

// The top panel's five buttons keep their design widths unless a caption needs more ("Как
// пользоваться" does); the next button then starts after it, the design's 4 pixels apart.
void TMainForm::LayoutTopButtons() {
  const std::pair<tk::TButton*, int> buttons[] = {
      {BtnProducts, 90}, {BtnManual, 100}, {BtnLicense, 80}, {BtnAboutTrim, 90}, {BtnHowToUse, 90}};
  int x = BtnProducts->Left();
  for (auto [button, design] : buttons) {
    const int w = std::max(design, button->PreferredSize().Width);
    button->SetBounds({x, button->Top(), w, button->Height()});
    x += w + kTopButtonGap;
  }
}

void TMainForm::DeferredLayout() {
  // The window is shown now, so the measurement is the shown window's.
  LayoutAdvancedChecks();
  LayoutModeRow();
  LayoutTopButtons();
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

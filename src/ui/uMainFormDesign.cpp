// The main window's designed controls: positions (left, top, width, height in the parent's client
// area), anchors, design values and handlers. Captions and hints come from the text table when
// the language is applied; only the design captions that the table never sets are given here.
#include "ui/uMainForm.h"

#include <algorithm>

using namespace tk;

namespace {

constexpr TAnchors kLTR = akLeft | akTop | akRight;
constexpr int kSheetMargin = 8;  // between a tab's controls and its sheet's edges

template <class T>
T* Make(TControl* Parent, const char* Name, TBounds B, TAnchors A = kAnchorsDefault, const char* Caption = "") {
  return Parent->Add<T>(TCreate{Name, B, A, Caption});
}

// A label sizes itself to its caption: only its position is designed.
TLabel* MakeLabel(TControl* Parent, const char* Name, int Left, int Top, const char* Caption = "") {
  return Parent->Add<TLabel>(TCreate{Name, {Left, Top, 0, 0}, kAnchorsDefault, Caption});
}

std::vector<std::string> Steps() { return {"1", "2", "3", "4", "5"}; }

}  // namespace

void TMainForm::BuildDesign() {
  SetClientSize({980, 760});
  SetMinClientSize({980, 760});

  PanelTop = Add<TPanel>(TCreate{"PanelTop", {0, 0, 980, 28}, akLeft | akTop | akRight, "", TAlign::alTop});
  PageMain = Add<TPageControl>(TCreate{"PageMain", {0, 28, 980, 732}, kAnchorsAll, "", TAlign::alClient});
  PageMain->OnChange = [this](TControl* S) { PageMainChange(S); };
  TabTrim = PageMain->Add<TTabSheet>(TCreate{"TabTrim"});
  TabInspect = PageMain->Add<TTabSheet>(TCreate{"TabInspect"});
  TabRealTest = PageMain->Add<TTabSheet>(TCreate{"TabRealTest"});
  PageMain->SetActivePageIndex(0);

  // ---- TRIM tab ----
  GroupSelection = Make<TGroupBox>(TabTrim, "GroupSelection", {8, 8, 970, 64}, kLTR);
  CmbDisk = Make<TComboBox>(GroupSelection, "CmbDisk", {12, 8, 698, 23}, kLTR);
  CmbDisk->OnChange = [this](TControl* S) { CmbDiskChange(S); };
  BtnRefresh = Make<TButton>(GroupSelection, "BtnRefresh", {724, 4, 110, 31}, akTop | akRight);
  BtnRefresh->OnClick = [this](TControl* S) { BtnRefreshClick(S); };
  BtnBotGuide = Make<TButton>(GroupSelection, "BtnBotGuide", {844, 4, 110, 31}, akTop | akRight);
  BtnBotGuide->OnClick = [this](TControl* S) { BtnBotGuideClick(S); };

  GroupMode = Make<TGroupBox>(TabTrim, "GroupMode", {8, 80, 970, 144}, kLTR);
  RgMode = Make<TRadioGroup>(GroupMode, "RgMode", {12, 8, 420, 84});
  RgMode->SetItems({"", ""});  // full device, free space; texts from the table
  RgMode->SetItemIndex(0);
  RgMode->OnClick = [this](TControl* S) { RgModeClick(S); };
  CbDryRun = Make<TCheckBox>(GroupMode, "CbDryRun", {452, 14, 164, 19});
  CbWinRetrimOnly = Make<TCheckBox>(GroupMode, "CbWinRetrimOnly", {452, 38, 320, 19});
  CbAdvanced = Make<TCheckBox>(GroupMode, "CbAdvanced", {452, 62, 98, 19});
  CbAdvanced->OnClick = [this](TControl* S) { CbAdvancedClick(S); };
  LblFsPolicy = MakeLabel(GroupMode, "LblFsPolicy", 12, 104, "FS policy: -");
  // The partition-style label and list on a row of their own under the check boxes: beside the
  // last box, as first designed, its longer captions would run under them.
  LblInitStyle = MakeLabel(GroupMode, "LblInitStyle", 452, 85);
  LblInitStyle->SetVisible(false);
  CbInitStyle = Make<TComboBox>(GroupMode, "CbInitStyle", {560, 81, 160, 23});
  CbInitStyle->SetItems({"GPT", "MBR", ""});  // the third, "Do not initialize", from the table
  CbInitStyle->SetItemIndex(0);
  CbInitStyle->SetVisible(false);

  MemoDiskInfo = Make<TMemo>(TabTrim, "MemoDiskInfo", {8, 232, 970, 120}, kLTR);

  GroupAdvanced = Make<TGroupBox>(TabTrim, "GroupAdvanced", {8, 363, 970, 106}, kLTR);
  LabelTimeout = MakeLabel(GroupAdvanced, "LabelTimeout", 12, 8);
  LabelRetry = MakeLabel(GroupAdvanced, "LabelRetry", 170, 8);
  LabelBatch = MakeLabel(GroupAdvanced, "LabelBatch", 278, 8);
  LabelBatchLimit = MakeLabel(GroupAdvanced, "LabelBatchLimit", 386, 8);
  SpTimeout = Make<TSpinEdit>(GroupAdvanced, "SpTimeout", {12, 24, 140, 23});
  SpTimeout->SetRange(1000, 120000, 1000);
  SpTimeout->SetValue(5000);
  SpRetry = Make<TSpinEdit>(GroupAdvanced, "SpRetry", {170, 24, 90, 23});
  SpRetry->SetRange(0, 8);
  SpRetry->SetValue(3);
  SpBatch = Make<TSpinEdit>(GroupAdvanced, "SpBatch", {278, 24, 90, 23});
  SpBatch->SetRange(1, 256);
  SpBatch->SetValue(32);
  CmbBatchLimit = Make<TComboBox>(GroupAdvanced, "CmbBatchLimit", {386, 24, 130, 23});
  CmbBatchLimit->SetItems({"1", "10", "100", "All"});
  CmbBatchLimit->SetItemIndex(3);
  CbAllowSystemDisk = Make<TCheckBox>(GroupAdvanced, "CbAllowSystemDisk", {12, 62, 182, 19});
  CbMaskSerial = Make<TCheckBox>(GroupAdvanced, "CbMaskSerial", {260, 62, 122, 19});
  CbMaskSerial->SetChecked(true);
  CbMaskSerial->OnClick = [this](TControl* S) { CbMaskSerialClick(S); };
  CbQuietIteration = Make<TCheckBox>(GroupAdvanced, "CbQuietIteration", {420, 62, 122, 19});
  CbFlushVolumes = Make<TCheckBox>(GroupAdvanced, "CbFlushVolumes", {590, 62, 133, 19});
  CbFlushVolumes->SetChecked(true);

  GroupStatus = Make<TGroupBox>(TabTrim, "GroupStatus", {8, 480, 970, 224}, kAnchorsAll);
  BtnStart = Make<TButton>(GroupStatus, "BtnStart", {12, 10, 110, 31});
  BtnStart->OnClick = [this](TControl* S) { BtnStartClick(S); };
  BtnCancel = Make<TButton>(GroupStatus, "BtnCancel", {132, 10, 110, 31});
  BtnCancel->SetEnabled(false);
  BtnCancel->OnClick = [this](TControl* S) { BtnCancelClick(S); };
  BtnClearLog = Make<TButton>(GroupStatus, "BtnClearLog", {256, 10, 110, 31});
  BtnClearLog->OnClick = [this](TControl* S) { BtnClearLogClick(S); };
  PbProgress = Make<TProgressBar>(GroupStatus, "PbProgress", {376, 10, 578, 31}, kLTR);
  PbProgress->SetRange(0, 100);
  LblStatus = MakeLabel(GroupStatus, "LblStatus", 12, 48, "Status: Idle");
  MemoLog = Make<TMemo>(GroupStatus, "MemoLog", {12, 64, 942, 137}, kAnchorsAll);
  MemoLog->SetMaxLength(500000);

  // The tab's 970-pixel controls reach past the sheet, whose client is narrower than the window:
  // their right borders and the details' scroll bar would be cut off.
  EndAtSheetMargin(TabTrim);

  // ---- Real Test tab ----
  GroupRealTest = Make<TGroupBox>(TabRealTest, "GroupRealTest", {8, 8, 956, 180}, kLTR);
  BtnRealTestStart = Make<TButton>(GroupRealTest, "BtnRealTestStart", {12, 10, 140, 31});
  BtnRealTestStart->OnClick = [this](TControl* S) { BtnRealTestStartClick(S); };
  BtnRealTestStop = Make<TButton>(GroupRealTest, "BtnRealTestStop", {162, 10, 120, 31});
  BtnRealTestStop->SetEnabled(false);
  BtnRealTestStop->OnClick = [this](TControl* S) { BtnRealTestStopClick(S); };
  BtnVerifyOnly = Make<TButton>(GroupRealTest, "BtnVerifyOnly", {162, 46, 120, 31});
  BtnVerifyOnly->OnClick = [this](TControl* S) { BtnVerifyOnlyClick(S); };
  BtnDeleteTestFolder = Make<TButton>(GroupRealTest, "BtnDeleteTestFolder", {12, 46, 140, 31});
  BtnDeleteTestFolder->OnClick = [this](TControl* S) { BtnDeleteTestFolderClick(S); };
  BtnExportFileMap = Make<TButton>(GroupRealTest, "BtnExportFileMap", {300, 10, 160, 31});
  BtnExportFileMap->OnClick = [this](TControl* S) { BtnExportFileMapClick(S); };
  LabelStartStep = MakeLabel(GroupRealTest, "LabelStartStep", 300, 56);
  CmbStartStep = Make<TComboBox>(GroupRealTest, "CmbStartStep", {300, 72, 70, 23});
  CmbStartStep->SetItems(Steps());
  CmbStartStep->SetItemIndex(0);
  LabelEndStep = MakeLabel(GroupRealTest, "LabelEndStep", 392, 56);
  CmbEndStep = Make<TComboBox>(GroupRealTest, "CmbEndStep", {390, 72, 70, 23});
  CmbEndStep->SetItems(Steps());
  CmbEndStep->SetItemIndex(4);
  LblRealStatus = MakeLabel(GroupRealTest, "LblRealStatus", 470, 12, "Status: Idle");
  LblRealSpeed = MakeLabel(GroupRealTest, "LblRealSpeed", 470, 30, "Speed: -");
  LblElapsed = MakeLabel(GroupRealTest, "LblElapsed", 470, 48, "Elapsed: -");
  LblStepElapsed = MakeLabel(GroupRealTest, "LblStepElapsed", 470, 66, "Step: -");
  LabelSpeedDropWait = MakeLabel(GroupRealTest, "LabelSpeedDropWait", 12, 104);
  SpSpeedDropWait = Make<TSpinEdit>(GroupRealTest, "SpSpeedDropWait", {12, 120, 120, 23});
  SpSpeedDropWait->SetRange(0, 600);
  SpSpeedDropWait->SetValue(2);
  LabelRealTestDrive = MakeLabel(GroupRealTest, "LabelRealTestDrive", 160, 104);
  CmbRealTestDrive = Make<TComboBox>(GroupRealTest, "CmbRealTestDrive", {160, 120, 300, 23});
  BtnClearRealLog = Make<TButton>(GroupRealTest, "BtnClearRealLog", {824, 120, 120, 31});
  BtnClearRealLog->OnClick = [this](TControl* S) { BtnClearRealLogClick(S); };
  MemoRealTestLog = Make<TMemo>(TabRealTest, "MemoRealTestLog", {8, 196, 956, 508}, kAnchorsAll);
  EndAtSheetMargin(TabRealTest);
}

// They end at the sheet's margin instead, as the real-test tab's controls do; their children
// anchored to the right or the bottom follow.
void TMainForm::EndAtSheetMargin(TTabSheet* Sheet) {
  const TSize client = Sheet->ClientSize();
  for (const auto& child : Sheet->Children()) {
    TBounds b = child->Bounds();
    if (b.Right() > client.Width) b.Width = std::max(0, client.Width - kSheetMargin - b.Left);
    if (b.Bottom() > client.Height) b.Height = std::max(0, client.Height - kSheetMargin - b.Top);
    if (!(b == child->Bounds())) child->SetBounds(b);
  }
}

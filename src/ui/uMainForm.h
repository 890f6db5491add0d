// The main window: one class, its methods split across files by concern.
//
//   uMainForm.cpp           creation and destruction, the window's two message-box helpers
//   uMainFormDesign.cpp     the designed controls (positions, anchors, design values, handlers)
//   uMainFormSettings.cpp   settings.ini
//   uMainFormLang.cpp       languages, top-panel links and boxes, the window log
//   uMainFormDisks.cpp      disk list, refresh and detail threads, device changes
//   uMainFormDetails.cpp    the disk details view
//   uMainFormRun.cpp        starting and cancelling a run
//   uMainFormCompletion.cpp run progress, completion and disk initialisation
//   uMainFormInspect.cpp    run-time tabs, inspection view, free-range export
//   uMainFormRealTest.cpp   the real-test tab and its file-map export
//
// Everything here runs on the main thread; worker threads reach the window only through
// synchronized calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/uTextIds.h"
#include "core/uThread.h"
#include "core/uTypes.h"
#include "realtest/uRealTrimTest.h"
#include "realtest/uSpeedData.h"
#include "ui/uDiskThreads.h"
#include "ui/toolkit/uTkApplication.h"
#include "ui/toolkit/uTkControls.h"
#include "ui/toolkit/uTkForm.h"

class TLogger;
class TDiskEnumerator;
class TTrimPlanner;
class TPreflightValidator;
class TVolumeBitmapReader;
class TTrimExecutionThread;
class TThread;

// The window is the real test's window (IRealTestWindow) and the disk threads' window
// (IDiskListWindow): those threads' synchronized calls end in the window's handlers.
class TMainForm : public tk::TForm, public IRealTestWindow, public IDiskListWindow {
 public:
  // Builds the designed controls; CreateForm then runs the creation event (FormCreate).
  TMainForm();
  ~TMainForm() override;

  // ---- the two message-box helpers (also used by the real-test side) ----
  // Kind: warning 0, error 1, information 2, confirmation 3, custom 4.
  enum TDialogKind : int32_t { dkWarning = 0, dkError = 1, dkInformation = 2, dkConfirmation = 3, dkCustom = 4 };
  enum TMsgButton : uint8_t { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8 };
  int32_t AppMessageBox(const std::string& Caption, const std::string& Text, TDialogKind Kind, uint8_t Buttons);
  bool ConfirmYesNo(const std::string& Caption, const std::string& Text);

  // ---- helpers other parts use ----
  bool GetSelectedDisk(TDiskInfo& Disk);
  bool GetRealTestDriveRoot(std::string& Root);
  std::string FormatThousands(uint64_t Value);
  std::string BuildFreeSpaceSummary(const TDiskInfo& Disk);
  static double BytesToGiB(uint64_t Bytes);
  std::string UsbRequirementText(const TDiskInfo& Disk);
  static std::string VolumeLettersText(const TDiskInfo& Disk);
  TLogger* Logger() const { return FLogger; }
  // A disk whose last run ended in a bridge hang or with the disk leaving the bus: the window
  // reads nothing from it (a hung bridge can block a device call for minutes) until a refresh
  // no longer lists it under the same number, size and bus hint. The text says so beside the
  // details.
  bool DiskNeedsReconnect(const TDiskInfo& Disk) const;
  static std::string DiskReconnectText();
  const std::string& OutputDir() const { return FOutputDir; }

  // ---- creation and destruction (uMainForm.cpp) ----
  void FormCreate(tk::TControl* Sender);
  void FormDestroy(tk::TControl* Sender);

  // ---- settings (uMainFormSettings.cpp) ----
  void LoadSettings();
  void SaveSettings();

  // ---- languages, links, window log (uMainFormLang.cpp) ----
  void ApplyLanguage();
  void RetranslateStatusLines();
  void CmbLanguageChange(tk::TControl* Sender);
  // Places the rows whose captions decide their widths (uTkCaptionLayout.h), the four advanced
  // check boxes among them; BuildCaptionRows lists them once, at their designed places.
  void LayoutAdvancedChecks();
  void BuildCaptionRows();
  void DeferredLayout();
  void BtnProductsClick(tk::TControl* Sender);
  void BtnManualClick(tk::TControl* Sender);
  void BtnHowToUseClick(tk::TControl* Sender);
  void BtnLicenseClick(tk::TControl* Sender);
  void BtnAboutTrimClick(tk::TControl* Sender);
  void BtnBotGuideClick(tk::TControl* Sender);
  void AppendLogLine(const std::string& Line);
  void BtnClearLogClick(tk::TControl* Sender);
  void BtnClearRealLogClick(tk::TControl* Sender);

  // ---- disk list (uMainFormDisks.cpp) ----
  void StartDiskRefresh();
  void RequestDiskRefresh();
  void ApplyDiskList(const TDiskInfoArray& Disks);
  void DiskRefreshDone(const TDiskInfoArray& Disks) override;
  void StartDiskDetail(int32_t Index);
  void ApplyDiskDetail(int32_t Index, int32_t Seq, const TDiskInfo& Disk) override;
  intptr_t DeviceWndProc(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam);
  void DeviceChangeTimerTick(tk::TTimer* Sender);
  void BtnRefreshClick(tk::TControl* Sender);
  void CmbDiskChange(tk::TControl* Sender);

  // ---- disk details (uMainFormDetails.cpp) ----
  void ShowDiskDetails(const TDiskInfo& Disk);
  void LogSelectedDisk(const TDiskInfo& Disk);

  // ---- starting a run (uMainFormRun.cpp) ----
  void BtnStartClick(tk::TControl* Sender);
  void BtnCancelClick(tk::TControl* Sender);
  void RgModeClick(tk::TControl* Sender);
  void CbAdvancedClick(tk::TControl* Sender);
  void CbMaskSerialClick(tk::TControl* Sender);
  bool CheckDiskUnchanged(const TDiskInfo& Disk, std::string& Reason);
  bool CheckFsPolicy(const TDiskInfo& Disk, std::string& Reason);
  static bool DiskHasVolumes(const TDiskInfo& Disk);
  bool ConfirmTwoStep(const TDiskInfo& Disk);
  bool FlushMountedVolumes(const TDiskInfo& Disk);
  // The run options as the controls set them now.
  TTrimExecOptions ReadExecOptions();

  // ---- progress, completion, initialisation (uMainFormCompletion.cpp) ----
  void RunProgress(uint32_t Done, uint32_t Total, const std::string& Text);
  void RunCompleted(const TRunStats& Stats);
  // The status line the last run's end left, in the current language; "" before the first end.
  // A language switch writes it again whole while it shows (it holds counts).
  std::string RunEndStatus() const;
  int32_t QueryPartitionStyle(const TDiskInfo& Disk);
  // An MBR counts in 32-bit addresses of the disk's logical blocks: False when the disk has more
  // than 2^32 of them. BlockBytes as the disk's geometry gives it (512 when it cannot be read, the
  // smaller limit); Blocks counts the larger of the listed and the live size in such blocks.
  bool MbrAddressesWholeDisk(const TDiskInfo& Disk, uint64_t& Blocks, uint32_t& BlockBytes);
  bool InitializeDisk(const TDiskInfo& Disk, int32_t Style);

  // ---- run-time tabs, inspection, free-range export (uMainFormInspect.cpp) ----
  void SetupTabs();
  void BuildInspectTab();
  void PageMainChange(tk::TControl* Sender);
  void ResetInspectView();
  void ShowRealTestGuide();
  bool GetVolumeSpace(const std::string& Root, uint64_t& TotalBytes, uint64_t& FreeBytes, uint64_t& TotalClusters,
                      uint64_t& FreeClusters, uint64_t& SectorsPerCluster);
  bool GetPartitionStyle(const std::string& Drive, uint32_t& PartitionNumber, std::string& Style,
                         std::string& TypeText);
  void ShowDiskSummary(const TDiskInfo& Disk);
  void FillVolumeGrid(const TDiskInfo& Disk);
  // LastUsedLba: the largest last used block of the volumes read, or -1 when none gave one.
  bool GetDiskFreeSpaceStats(const TDiskInfo& Disk, uint64_t& Fragments, uint64_t& FreeSectors,
                             int64_t& LastUsedLba);
  void InspectDisk();
  void BtnInspectClick(tk::TControl* Sender);
  void BtnExportFreeListClick(tk::TControl* Sender);

  // ---- the real-test tab (uMainFormRealTest.cpp) ----
  void RealTestLog(const std::string& Line) override;
  void RealTestLogError(const std::string& Line) override;
  void SetRealStatus(const std::string& Text) override;
  void SetRealSpeed(const std::string& Text) override;
  void SetRealElapsed(const std::string& Text) override;
  void SetStepElapsed(const std::string& Text) override;
  // The four labels keep room for every value they show during a test, in the current language.
  void KeepRoomForRealTestValues();
  TLogger* RealTestLogger() const override { return FLogger; }
  std::string RealTestOutputDir() const override { return FOutputDir; }
  void StopRealTest();
  void RealTestTerminated(TThread* Sender);
  void ElapsedTimerTick(tk::TTimer* Sender);
  void BtnRealTestStartClick(tk::TControl* Sender);
  void BtnVerifyOnlyClick(tk::TControl* Sender);
  void BtnRealTestStopClick(tk::TControl* Sender);
  void BtnDeleteTestFolderClick(tk::TControl* Sender);
  void BtnSpeedChartClick(tk::TControl* Sender);
  void BtnExportFileMapClick(tk::TControl* Sender);

  // ---- the designed controls (uMainFormDesign.cpp) ----
  tk::TPanel* PanelTop = nullptr;
  tk::TPageControl* PageMain = nullptr;
  tk::TTabSheet* TabTrim = nullptr;
  tk::TTabSheet* TabInspect = nullptr;
  tk::TTabSheet* TabRealTest = nullptr;
  tk::TGroupBox* GroupSelection = nullptr;
  tk::TComboBox* CmbDisk = nullptr;
  tk::TButton* BtnRefresh = nullptr;
  tk::TButton* BtnBotGuide = nullptr;
  tk::TGroupBox* GroupMode = nullptr;
  tk::TRadioGroup* RgMode = nullptr;
  tk::TCheckBox* CbDryRun = nullptr;
  tk::TCheckBox* CbWinRetrimOnly = nullptr;
  tk::TCheckBox* CbAdvanced = nullptr;
  tk::TLabel* LblFsPolicy = nullptr;
  tk::TLabel* LblInitStyle = nullptr;
  tk::TComboBox* CbInitStyle = nullptr;
  tk::TMemo* MemoDiskInfo = nullptr;
  tk::TGroupBox* GroupAdvanced = nullptr;
  tk::TLabel* LabelTimeout = nullptr;
  tk::TLabel* LabelRetry = nullptr;
  tk::TLabel* LabelBatch = nullptr;
  tk::TLabel* LabelBatchLimit = nullptr;
  tk::TSpinEdit* SpTimeout = nullptr;
  tk::TSpinEdit* SpRetry = nullptr;
  tk::TSpinEdit* SpBatch = nullptr;
  tk::TComboBox* CmbBatchLimit = nullptr;
  tk::TCheckBox* CbAllowSystemDisk = nullptr;
  tk::TCheckBox* CbMaskSerial = nullptr;
  tk::TCheckBox* CbQuietIteration = nullptr;
  tk::TCheckBox* CbFlushVolumes = nullptr;
  tk::TGroupBox* GroupStatus = nullptr;
  tk::TButton* BtnStart = nullptr;
  tk::TButton* BtnCancel = nullptr;
  tk::TButton* BtnClearLog = nullptr;
  tk::TProgressBar* PbProgress = nullptr;
  tk::TLabel* LblStatus = nullptr;
  tk::TMemo* MemoLog = nullptr;
  tk::TGroupBox* GroupRealTest = nullptr;
  tk::TButton* BtnRealTestStart = nullptr;
  tk::TButton* BtnRealTestStop = nullptr;
  tk::TButton* BtnVerifyOnly = nullptr;
  tk::TButton* BtnDeleteTestFolder = nullptr;
  tk::TButton* BtnExportFileMap = nullptr;
  tk::TLabel* LabelStartStep = nullptr;
  tk::TComboBox* CmbStartStep = nullptr;
  tk::TLabel* LabelEndStep = nullptr;
  tk::TComboBox* CmbEndStep = nullptr;
  tk::TLabel* LblRealStatus = nullptr;
  tk::TLabel* LblRealSpeed = nullptr;
  tk::TLabel* LblElapsed = nullptr;
  tk::TLabel* LblStepElapsed = nullptr;
  tk::TLabel* LabelSpeedDropWait = nullptr;
  tk::TSpinEdit* SpSpeedDropWait = nullptr;
  tk::TLabel* LabelRealTestDrive = nullptr;
  tk::TComboBox* CmbRealTestDrive = nullptr;
  tk::TButton* BtnClearRealLog = nullptr;
  tk::TMemo* MemoRealTestLog = nullptr;

  // ---- controls built at run time (empty until built) ----
  tk::TButton* BtnInspect = nullptr;
  tk::TButton* BtnExportFreeList = nullptr;
  tk::TMemo* MemoInspect = nullptr;
  tk::TStringGrid* GridVolumes = nullptr;
  tk::TComboBox* CmbLanguage = nullptr;
  tk::TButton* BtnProducts = nullptr;
  tk::TButton* BtnManual = nullptr;
  tk::TButton* BtnLicense = nullptr;
  tk::TButton* BtnAboutTrim = nullptr;
  tk::TButton* BtnHowToUse = nullptr;
  tk::TButton* BtnSpeedChart = nullptr;
  tk::TLabel* LblUaspMethod = nullptr;
  tk::TComboBox* CmbUaspMethod = nullptr;

 private:
  // The window tests reach the window's state through it (tests/ui/MainFormFixture.h).
  friend class TMainFormTestAccess;

  void BuildDesign();  // uMainFormDesign.cpp
  // A control of Sheet that reaches past the sheet's client area ends at its 8-pixel margin
  // instead (uMainFormDesign.cpp).
  static void EndAtSheetMargin(tk::TTabSheet* Sheet);
  // Shutdown: the real test is asked to stop, waited for and freed (uMainFormRealTest.cpp);
  // every detail thread still running is waited for (uMainFormDisks.cpp).
  void StopAndFreeRealTest();
  void WaitForDetailThreads();
  // The real test's start, shared by its two buttons (uMainFormRealTest.cpp).
  bool RealTestStartRefused(TDiskInfo& Disk, std::string& Root, bool WritesAndTrims);
  bool DiskRefusedForReconnect(const TDiskInfo& Disk, const char* What);
  // After a run that hung the bridge or saw Disk leave the bus (uMainFormCompletion.cpp).
  void MarkForReconnectAfter(const TRunStats& Stats, const TDiskInfo& Disk);
  // The TRIM tab's bar and line forget the last run's end (uMainFormCompletion.cpp).
  void ClearRunEnd();
  // The result box of an end handler (RunCompleted, RealTestTerminated), with OK. Once the window
  // is closing it is not shown, for it would stand ownerless on the desktop after the window has
  // gone: LogText, what it says, goes to the log instead (uMainForm.cpp).
  void EndBox(TTextId Caption, const std::string& Text, TDialogKind Kind, const std::string& LogText);
  // Id's text in English, as log lines are written.
  static std::string EnglishText(TTextId Id);
  // The window is gone from the desktop: closed (by its frame, while a box of the run was open,
  // say) or being destroyed.
  bool Gone() const { return FClosing || Closed(); }
  TTrimExecOptions RealTestTrimOptions();
  void StartRealTestThread(const TDiskInfo& Disk, const std::string& Folder, const TRealTestOptions& Steps,
                           const TTrimExecOptions& Trim, bool VerifyOnly);
  void SetRealTestRunning(bool Running);

  // Fields in the declared order of the window's state.
  TLogger* FLogger = nullptr;
  TDiskEnumerator* FDiskEnum = nullptr;
  TTrimPlanner* FPlanner = nullptr;
  TPreflightValidator* FValidator = nullptr;
  TVolumeBitmapReader* FBitmapReader = nullptr;
  TDiskInfoArray FDisks;
  TTrimExecutionThread* FRunThread = nullptr;
  TDiskRefreshThread* FRefreshThread = nullptr;
  TDiskDetailThread* FDetailThread = nullptr;
  int32_t FDetailSeq = 0;
  bool FUpdatingMode = false;
  bool FFirstScanQueued = false;
  TThread* FRealTestThread = nullptr;
  tk::TTimer* FElapsedTimer = nullptr;
  void* FNotifyWnd = nullptr;
  void* FDevNotify = nullptr;
  tk::TTimer* FDeviceChangeTimer = nullptr;
  int32_t FInitStyle = -1;
  TDiskInfo FInitDisk;
  std::string FOutputDir;
  std::string FSettingsPath;
  // The creation reached the settings load: only then does the shutdown save them.
  bool FSettingsLoadRan = false;
  // The destruction has begun.
  bool FClosing = false;
  // How the last run ended, for the status line it leaves.
  struct TRunEnd {
    bool Ended = false;
    bool Cancelled = false;
    bool Failed = false;
    int32_t Done = 0;
    int32_t Planned = 0;
  };
  TRunEnd FRunEnd;
  // The speed samples of the real test running, or else of the last one, shared with the test
  // thread and the chart.
  TSpeedDataArray FSpeedData;
  // The real-test thread last started, with the link that takes it back at shutdown. Both stay
  // after the end handler has cleared FRealTestThread, since the thread may still be on its way
  // to freeing itself; the pointer is used only after the link's take-back succeeded.
  TRealTrimTestThread* FRealTestOwned = nullptr;
  TThreadLink FRealTestLink;
  // The test files' sizes: always the defaults in the program; the window tests set small ones.
  TRealTestFileSizes FRealTestSizes;

  // Every detail thread that may not have ended yet, the newest included, with the link that
  // takes it back safely: the shutdown waits for all of them, so that no probe outlives the
  // enumerator and the log it uses. The pointer is used only after the link's take-back
  // succeeded.
  std::vector<std::pair<TDiskDetailThread*, TThreadLink>> FDetailLinks;
  // The disk of the run going on or last started (for the disks to reconnect).
  TDiskInfo FRunDisk;
  // Disks to reconnect, by the identity the list reselects by.
  struct TStalledDisk {
    int32_t DiskNumber = 0;
    uint64_t SizeBytes = 0;
    std::string BusHint;
  };
  std::vector<TStalledDisk> FStalledDisks;
};

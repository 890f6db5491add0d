// The ids of the interface texts, one per entry of the text tables (uLangTable_*.cpp), in table
// order: the enumerator's value is the table index. Named after what the English text says.
//
// Naming:
//   Tab.. Group.. Button.. Label.. Check.. Mode.. Item..   caption of a window control of that kind
//   ..Hint       tooltip of a control
//   ..Caption    title of a message box or window
//   ..Question   text of a Yes/No box
//   Status..     status line
//   Guide..      line of a guide written into a memo
//   Step..       log or status line of the real test's steps
//   ..Prefix     the caller appends a value (the text ends in its separator)
//   ..Fmt        a format string with placeholders
// The rest are box texts, log lines and labels, named after what they say.
#pragma once

#include <cstdint>

enum class TTextId : int32_t {
  // ---- captions of the main window: tabs, group boxes, buttons, labels, check boxes --------
  TabTrimExecute,              // 0 "TRIM Execute"
  TabDriveInspect,             // 1
  TabRealTest,                 // 2
  GroupDiskSelection,          // 3
  GroupExecutionOptions,       // 4
  GroupAdvancedSettings,       // 5
  GroupStatusLog,              // 6
  GroupRealTestControl,        // 7
  ButtonRefresh,               // 8
  ButtonUsbInfo,               // 9
  ButtonStart,                 // 10
  ButtonCancel,                // 11
  ButtonClearLog,              // 12
  ButtonStartRealTest,         // 13
  ButtonStopRealTest,          // 14 "Stop"
  ButtonVerifyOnly,            // 15
  ButtonDeleteTestFolder,      // 16
  ButtonExportFileMapCsv,      // 17
  ButtonClearRealTestLog,      // 18 "Clear Log" of the real-test tab
  ButtonInspect,               // 19
  ButtonExportFreeSectorList,  // 20
  GroupExecutionMode,          // 21 the mode radio group
  ModeFullTrim,                // 22
  ModeFreeSpaceTrim,           // 23
  CheckDryRun,                 // 24
  CheckShowAdvanced,           // 25
  LabelFsPolicyNone,           // 26 "FS policy: -" (design caption, shown nowhere)
  LabelInitAfterTrim,          // 27
  ItemDoNotInitialize,         // 28
  LabelTimeoutMs,              // 29
  LabelRetry,                  // 30
  LabelBatchEntries,           // 31
  LabelBatchRunLimit,          // 32
  CheckAllowSystemDisk,        // 33
  CheckMaskSerial,             // 34
  CheckFlushVolumes,           // 35
  StatusIdle,                  // 36
  StatusRunning,               // 37
  LabelStartStep,              // 38
  LabelEndStep,                // 39
  LabelSpeedDropWait,          // 40

  // ---- tooltips of the main window's controls -------------------------------------------------
  DiskListHint,              // 41
  RefreshHint,               // 42
  UsbInfoHint,               // 43
  ExecutionModeHint,         // 44 two hints split by '|'
  DryRunHint,                // 45
  ShowAdvancedHint,          // 46
  InitAfterTrimHint,         // 47
  DiskDetailsHint,           // 48
  TimeoutHint,               // 49
  RetryHint,                 // 50
  BatchEntriesHint,          // 51
  BatchRunLimitHint,         // 52
  AllowSystemDiskHint,       // 53
  MaskSerialHint,            // 54
  FlushVolumesHint,          // 55
  StartHint,                 // 56
  CancelHint,                // 57
  ClearLogHint,              // 58
  ProgressHint,              // 59
  StatusHint,                // 60
  LogHint,                   // 61
  TabTrimExecuteHint,        // 62
  TabDriveInspectHint,       // 63
  TabRealTestHint,           // 64
  StartRealTestHint,         // 65
  StopRealTestHint,          // 66
  VerifyOnlyHint,            // 67
  DeleteTestFolderHint,      // 68
  StartStepHint,             // 69
  EndStepHint,               // 70
  RealTestStatusHint,        // 71
  RealTestSpeedHint,         // 72
  RealTestElapsedHint,       // 73
  StepElapsedHint,           // 74
  ExportFileMapCsvHint,      // 75
  ClearRealTestLogHint,      // 76
  SpeedDropWaitHint,         // 77 holds "50%", never a format
  RealTestLogHint,           // 78
  InspectHint,               // 79
  ExportFreeSectorListHint,  // 80
  InspectSummaryHint,        // 81
  VolumeGridHint,            // 82

  // ---- message box captions -------------------------------------------------------------------
  ErrorCaption,                  // 83
  WarningCaption,                // 84
  InfoCaption,                   // 85
  ConfirmCaption,                // 86
  MismatchCaption,               // 87
  RunningCaption,                // 88
  AdminRequiredCaption,          // 89
  RestrictionCaption,            // 90
  ModeRestrictionCaption,        // 91
  PolicyBlockedCaption,          // 92
  PreVerificationFailedCaption,  // 93
  PlanGenerationFailedCaption,   // 94
  InitCompleteCaption,           // 95
  InitFailedCaption,             // 96

  // ---- message box texts of the window and the real test --------------------------------------
  SelectDisk,                // 97
  AlreadyRunning,            // 98
  AdminPrivilegesRequired,   // 99
  FullTrimNeedsNoVolumes,    // 100
  StopWritesDuringTrim,      // 101
  DiskNumberMismatch,        // 102
  EnterDiskNumberPrefix,     // 103
  SelectDiskToInspect,       // 104
  NoMountedDriveLetter,      // 105
  FolderMissingPrefix,       // 106
  NoVolumeInfo,              // 107
  StartStepAfterEndStep,     // 108
  DeleteTestFolderQuestion,  // 109
  FolderDeletedPrefix,       // 110
  FolderDeleteFailedPrefix,  // 111
  VerifyOnlyTargetPrefix,    // 112
  TestRunning,               // 113
  InitializedGpt,            // 114
  InitializedMbr,            // 115
  InitFailed,                // 116
  FileMapCsvSaved,           // 117

  // ---- real test: status words, step lines and their messages ---------------------------------
  RealTestPreparing,             // 118
  RealTestDone,                  // 119
  RealTestVerifying,             // 120
  VerifyOnlyScanning,            // 121
  ScanCompleteFmt,               // 122
  NoFilesToVerify,               // 123
  Verify500MbStarted,            // 124
  VerifySucceeded,               // 125
  VerifyFailuresFound,           // 126
  Step1Start,                    // 127
  Step1Complete,                 // 128
  Step2Start,                    // 129
  Step2Complete,                 // 130
  Step3StartFmt,                 // 131
  Step3Complete,                 // 132
  Step4Start,                    // 133
  Step4Passed,                   // 134
  Step4Failed,                   // 135
  TotalElapsedPrefix,            // 136
  TrimFailedCheckLog,            // 137
  CapacityQueryFailed,           // 138
  CreateTestFolderFailedPrefix,  // 139
  FileCreateFailedPrefix,        // 140
  WriteFailedPrefix,             // 141
  SpeedDropWaitFmt,              // 142
  FreeSpaceCsvSavedPrefix,       // 143
  Existing1GbFilesFmt,           // 144
  VerifyFileMissingPrefix,       // 145
  VerifyCrcMismatchPrefix,       // 146
  CsvWriteFailed,                // 147
  FlushSucceededPrefix,          // 148
  FlushFailedPrefix,             // 149
  RealTestStartPrefix,           // 150
  CsvCreatedPrefix,              // 151
  StartFromStepFmt,              // 152
  TrimPlanFailedPrefix,          // 153

  // ---- inspection view and the real test's guide ----------------------------------------------
  PressInspect,        // 154
  TotalSpace,          // 155
  FreeSpace,           // 156
  UsedSpace,           // 157
  GuideTitle,          // 158
  GuideStep1,          // 159
  GuideStep2,          // 160
  GuideStep3,          // 161
  GuideStep4,          // 162
  GuideSpeedDropWait,  // 163
  GuidePressStop,      // 164

  // ---- starting a run, disk initialisation ----------------------------------------------------
  WillInitGpt,                 // 165
  WillInitMbr,                 // 166
  FreeSpaceUnavailablePrefix,  // 167
  WaitingFmt,                  // 168 real test's speed-drop wait
  TrimWarningCaption,          // 169 "Warning" of the two-step confirmation
  TrimRiskQuestion,            // 170
  UasTransfersBlocked,         // 171 shown nowhere
  OpenDiskFailedPrefix,        // 172
  InitSucceededPrefix,         // 173
  CreateDiskFailedPrefix,      // 174 ends in "winerr="

  // ---- top panel, disk details, run results ---------------------------------------------------
  UsbGuideCaption,            // 175
  UsbGuide,                   // 176
  TabsInitialized,            // 177
  AdditionalInfo,             // 178
  AtaPassThrough,             // 179
  AtaTrimCapable,             // 180
  CancelledByUser,            // 181
  TrimCompleted,              // 182
  TrimCompletedWithFailures,  // 183
  ButtonProducts,             // 184
  ButtonManual,               // 185
  ButtonLicense,              // 186
  LicenseCaption,             // 187
  LicenseNotice,              // 188
  ButtonAboutTrim,            // 189
  AboutTrimCaption,           // 190
  AboutTrim,                  // 191
  ButtonHowToUse,             // 192
  LabelTargetDrive,           // 193
  RealTestLongRunQuestion,    // 194
  Step1Trim,                  // 195

  // ---- the run's ReTrim offer and compatibility notices ---------------------------------------
  ReTrimQuestion,               // 196
  CheckWinReTrimOnly,           // 197
  WinReTrimOnlyHint,            // 198
  ReformatAsNtfsNotice,         // 199
  CompatibilityWarningCaption,  // 200
  TrimUnsupportedQuestion,      // 201
  ContinueWithReTrim,           // 202 shown nowhere
  ReTrimOnlyModeQuestion,       // 203 shown nowhere
  ReTrimNeedsNtfs,              // 204
  UsbDisconnected,              // 205
  CheckExpertAtaRetry,          // 206 shown nowhere
  ExpertAtaRetryHint,           // 207 shown nowhere
  ExpertAtaRetryQuestion,       // 208
  RealTestDriveHint,            // 209

  // ---- speed chart ----------------------------------------------------------------------------
  ButtonSpeedChart,      // 210
  SpeedChartHint,        // 211
  SpeedChartCaption,     // 212
  SpeedChartSummaryFmt,  // 213
  ButtonSaveCsv,         // 214
  ButtonClose,           // 215
  SaveSpeedCsvCaption,   // 216

  // ---- status lines, file-system policy, CSVs, initialisation results -------------------------
  StatusScanning,                // 217
  StatusReady,                   // 218
  StatusCompleted,               // 219
  StatusPrefix,                  // 220
  SpeedPrefix,                   // 221
  ElapsedPrefix,                 // 222
  StepPrefix,                    // 223
  FsPolicyEnabledDetected,       // 224
  FsPolicyEnabled,               // 225
  FsPolicyDisabledPrefix,        // 226
  CsvCreateFailedCreatedPrefix,  // 227
  CsvCreateFailedDeletedPrefix,  // 228
  CsvLookupFailedFmt,            // 229
  Step4Verify,                   // 230
  CsvSavedPrefix,                // 231
  InitializedAsFmt,              // 232
  InitFailedAfterTrimFmt,        // 233
  NoFilesInTestFolder,           // 234
  CsvSaveFailedPrefix,           // 235
  InitSkipped,                   // 236
  DiskConfigChanged,             // 237
  PinnedReTrimQuestion,          // 238
  CheckExcludeRepetitive,        // 239
  ExcludeRepetitiveHint,         // 240

  // ---- real test STEP5, last guide line, ATA note, UASP method --------------------------------
  Step5Start,         // 241
  Step5Passed,        // 242
  Step5Failed,        // 243
  Step5Verify,        // 244
  GuideStep5,         // 245
  VerifiedCountsFmt,  // 246
  AtaBridgeNote,      // 247
  LabelUaspMethod,    // 248
  UaspMethodHint,     // 249

  // ---- the MBR limit at Start -----------------------------------------------------------------
  MbrBeyondLimitFmt,  // 250
  // ---- the real test on a volume too small for it ---------------------------------------------
  VolumeTooSmallFmt,  // 251 "The volume is too small for the test: STEP%d found %s bytes free and needs %s bytes."
  // ---- the real test whose TRIM steps trimmed nothing -----------------------------------------
  TrimStepTrimmedNothing,  // 252 "The TRIM step failed: nothing was trimmed, so this test proves nothing about TRIM. ..."
  // ---- the end of a cancelled run --------------------------------------------------------------
  StatusCancelledFmt,    // 253 "Status: Cancelled (%d of %d batches done)"
  InitSkippedCancelled,  // 254 "Disk initialization skipped: the run was cancelled."
};

// The table index of Id.
constexpr int32_t TextIndex(TTextId Id) { return static_cast<int32_t>(Id); }

// Checkpoints against the table's numbering: an id added or lost inside a group moves the next one.
static_assert(TextIndex(TTextId::DiskListHint) == 41);
static_assert(TextIndex(TTextId::ErrorCaption) == 83);
static_assert(TextIndex(TTextId::SelectDisk) == 97);
static_assert(TextIndex(TTextId::RealTestPreparing) == 118);
static_assert(TextIndex(TTextId::PressInspect) == 154);
static_assert(TextIndex(TTextId::WillInitGpt) == 165);
static_assert(TextIndex(TTextId::UsbGuideCaption) == 175);
static_assert(TextIndex(TTextId::ReTrimQuestion) == 196);
static_assert(TextIndex(TTextId::ButtonSpeedChart) == 210);
static_assert(TextIndex(TTextId::StatusScanning) == 217);
static_assert(TextIndex(TTextId::Step5Start) == 241);
static_assert(TextIndex(TTextId::UaspMethodHint) == 249);

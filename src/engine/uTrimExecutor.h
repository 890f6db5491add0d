// The TRIM run's worker thread: what a run is started with, the thread object, its four ways to
// the main thread (progress, completion, a question, a notice), the time-limited device calls,
// Windows ReTrim through PowerShell and the run reports.
//
// Implementation by job: uTrimExecutor.cpp (the thread and its main-thread calls),
// uTrimReTrim.cpp (Windows ReTrim through PowerShell), uTrimReports.cpp (failure report,
// dry-run golden file).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/uThread.h"
#include "core/uTypes.h"
#include "device/uAtaPassThrough.h"

class TLogger;

// Both run on the main thread; either may be empty.
using TTrimProgressEvent = std::function<void(uint32_t Done, uint32_t Total, const std::string& Text)>;
using TTrimDoneEvent = std::function<void(const TRunStats& Stats)>;

// MessageBoxW flags of the run's own boxes: no owner, brought to the foreground, on top.
constexpr plat::UINT kRunQuestionBoxFlags =
    plat::MB_OKCANCEL | plat::MB_ICONQUESTION | plat::MB_SETFOREGROUND | plat::MB_TOPMOST;
constexpr plat::UINT kRunInfoBoxFlags = plat::MB_OK | plat::MB_ICONINFORMATION | plat::MB_SETFOREGROUND | plat::MB_TOPMOST;
static_assert(kRunQuestionBoxFlags == 0x50021 && kRunInfoBoxFlags == 0x50040);

// JSON string escaping of the reports: quotation mark, backslash, \b \t \n \f \r, and every other
// code below 20h as \u with four upper-case hex digits; all else (UTF-8 bytes too) unchanged.
std::string JsonEscape(const std::string& S);

class TTrimExecutionThread : public TThread {
 public:
  // Created suspended, freeing itself when it ends; the creator starts it. Disk and Ranges are
  // copied, so the caller's records may change afterwards.
  TTrimExecutionThread(const TDiskInfo& Disk, const TTrimRangeArray& Ranges, TTrimMode TrimMode,
                       const TTrimExecOptions& Options, TRunMode RunMode, TLogger* Logger,
                       TTrimProgressEvent OnProgress, TTrimDoneEvent OnDone);
  ~TTrimExecutionThread() override;

  // Any thread, any number of times; never blocks.
  void RequestCancel();
  bool IsCancelRequested() const;

  // ---- Windows ReTrim -------------------------------------------------------------------------
  // True as soon as the volume of Letter answers GetVolumeInformationW; asked every 200 ms until
  // TimeoutMs has passed; False at once when the run is cancelled.
  bool WaitForVolumeRemount(char Letter, uint32_t TimeoutMs);
  // Runs the system's PowerShell with Optimize-Volume -ReTrim for Letter (A to Z), hidden, its
  // output copied into the log; TimeoutMs 0 means no limit. True when PowerShell ended by
  // itself with exit code 0. Sets FReTrim43022Seen when its output names error 43022.
  bool RunOptimizeVolumeReTrim(char Letter, uint32_t TimeoutMs, int32_t& ExitCode);

  // ---- Run reports ---------------------------------------------------------------------------
  // logs\failure_report_<stamp>.json and .csv under the current directory; sets
  // FStats.FailureReportPath once the JSON file is written. File errors throw EFileError.
  void WriteFailureReport();
  // logs\dryrun_golden_<stamp>.json, then an INFO line naming it. File errors throw EFileError.
  void WriteDryRunGolden();

 protected:
  void Execute() override;

  // Worker side: each waits until the main thread has run its call.
  void ReportProgress(uint32_t Done, uint32_t Total, const std::string& Text);
  bool AskQuestion(const std::string& Caption, const std::string& Text);
  void ShowInfo(const std::string& Caption, const std::string& Text);

  // Main-thread side.
  void DoProgress();
  void DoDone();
  void DoAskQuestion();
  void DoShowInfo();

  TDiskInfo FDisk;
  TTrimRangeArray FRanges;
  TTrimMode FTrimMode;
  TTrimExecOptions FOptions;
  TRunMode FRunMode;
  TLogger* FLogger;  // not owned
  TTrimProgressEvent FOnProgress;
  TTrimDoneEvent FOnDone;
  mutable std::atomic<int32_t> FCancelRequested{0};  // the only field other threads write
  TRunStats FStats;
  std::string FProgressText;
  std::unique_ptr<TAtaPassThroughEngine> FAtaEngine;
  bool FDialogAccepted = false;
  bool FReTrim43022Seen = false;
  std::string FQuestionText, FQuestionCaption;
  std::string FInfoText, FInfoCaption;

 private:
  // The folder the reports go to: the current directory's "logs", created with its parents.
  static std::string ReportFolder();
};

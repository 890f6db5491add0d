// The TRIM run's worker thread: what a run is started with, the thread object, its four ways to
// the main thread (progress, completion, a question, a notice), the time-limited device calls,
// Windows ReTrim through PowerShell and the run reports.
//
// Implementation by job: uTrimExecutor.cpp (the thread and its main-thread calls),
// uTrimRun.cpp (one run: its state, set-up, batches and stages),
// uTrimTimedCalls.cpp (volume lock and dismount, ATA attempts on workers with time limits),
// uTrimReTrim.cpp (Windows ReTrim through PowerShell), uTrimReports.cpp (failure report,
// dry-run golden file).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/uJson.h"  // the reports escape with it
#include "core/uThread.h"
#include "core/uTypes.h"
#include "device/uAtaPassThrough.h"
#include "engine/uTrimRunContext.h"

class TLogger;
class TPreflightValidator;

// Both run on the main thread; either may be empty.
using TTrimProgressEvent = std::function<void(uint32_t Done, uint32_t Total, const std::string& Text)>;
using TTrimDoneEvent = std::function<void(const TRunStats& Stats)>;

// MessageBoxW flags of the run's own boxes: no owner, brought to the foreground, on top.
constexpr plat::UINT kRunQuestionBoxFlags =
    plat::MB_OKCANCEL | plat::MB_ICONQUESTION | plat::MB_SETFOREGROUND | plat::MB_TOPMOST;
constexpr plat::UINT kRunInfoBoxFlags =
    plat::MB_OK | plat::MB_ICONINFORMATION | plat::MB_SETFOREGROUND | plat::MB_TOPMOST;
static_assert(kRunQuestionBoxFlags == 0x50021 && kRunInfoBoxFlags == 0x50040);

// One volume lock or dismount request on a worker of its own, so that a request that hangs can
// be abandoned. The handle stays the caller's; the worker never closes it.
class TVolumeIoctlThread : public TThread {
 public:
  TVolumeIoctlThread(plat::HANDLE Handle, plat::DWORD ControlCode);
  // Read only once the thread has ended.
  bool Ok() const { return FOk; }
  plat::DWORD WinErr() const { return FWinErr; }

 protected:
  void Execute() override;

 private:
  plat::HANDLE FHandle;
  plat::DWORD FControlCode;
  bool FOk = false;
  plat::DWORD FWinErr = 0;
};

// One ATA PASS-THROUGH DSM attempt on a worker of its own. It holds copies of everything it
// uses, so an abandoned worker refers to nothing of its caller's: the run's disk handle too is
// shared with it, and closed by whichever of the two lets go of it last. Without a handle
// (outside a run) it opens Path for the attempt.
class TAtaTrimBatchThread : public TThread {
 public:
  TAtaTrimBatchThread(const std::string& Path, const TByteArray& Cdb, const TByteArray& Payload,
                      uint32_t TimeoutMs, std::shared_ptr<TDeviceHandle> Device = nullptr);
  // The attempt's result with its SCSI status; read only once the thread has ended.
  const TDeviceResult& Result() const { return FResult; }

 protected:
  void Execute() override;

 private:
  std::string FPath;
  std::shared_ptr<TDeviceHandle> FDevice;
  TByteArray FCdb;
  TByteArray FPayload;
  uint32_t FTimeoutMs;
  TDeviceResult FResult;
};

// The thread is the run's host (uTrimRunContext.h): the run (engine/uTrimRun.h) reaches it only
// through that interface and the context the thread builds from its fields.
class TTrimExecutionThread : public TThread, private ITrimRunHost {
 public:
  // Created suspended, freeing itself when it ends; the creator starts it. Disk and Ranges are
  // copied, so the caller's records may change afterwards.
  TTrimExecutionThread(const TDiskInfo& Disk, const TTrimRangeArray& Ranges, TTrimMode TrimMode,
                       const TTrimExecOptions& Options, TRunMode RunMode, TLogger* Logger,
                       TTrimProgressEvent OnProgress, TTrimDoneEvent OnDone);
  ~TTrimExecutionThread() override;

  // Any thread, any number of times; never blocks. Also cancels a device call the run's own
  // thread is blocked in, which then fails with 995, and asks again each second until the run
  // has done its work: a cancel that came just before a request that then hangs finds nothing
  // to cancel (when that repeat cannot start, each later call asks once more instead). The
  // run's end (reports, notices) is never cancelled.
  void RequestCancel();
  static constexpr uint32_t kCancelRepeatMs = 1000;

  // Before Start: false keeps the run from showing the reformat-as-NTFS notice, for a creator
  // that has shown it already (the real test shows it once over its runs). Read once the run
  // has ended: whether it showed that notice.
  void SetReformatNoticeAllowed(bool Allowed) { FReformatNoticeAllowed = Allowed; }
  bool ReformatNoticeShown() const { return FReformatNoticeShown; }
  bool IsCancelRequested() const override;
  // The window that would own the run's boxes is closing: from now on a question counts as
  // declined and a notice goes to the log, without a box (it would stand ownerless on the
  // desktop, and the process would end only once it was closed). Any thread; never blocks.
  void SuppressBoxes();

  // ---- Time-limited device calls -------------------------------------------------------------
  // A lock or dismount waits at most this long, then its worker gets this grace after the cancel.
  static constexpr uint32_t kVolumeIoctlTimeoutMs = 300000;
  static constexpr uint32_t kVolumeIoctlGraceMs = 1000;
  static constexpr uint32_t kAtaPollMs = 250;
  static constexpr uint32_t kAtaGraceMs = 1500;
  // Sends ControlCode (no buffers) to Handle on a worker and waits at most TimeoutMs; a time-out
  // is WinErr 258. Every outcome is logged naming OpName and VolumeName.
  bool RunVolumeIoctlWithTimeout(plat::HANDLE Handle, plat::DWORD ControlCode, uint32_t TimeoutMs,
                                 const std::string& OpName, const std::string& VolumeName, uint32_t& WinErr);
  // One ATA PASS-THROUGH DSM attempt to the run's disk on a worker, watched in 250 ms steps: a
  // cancel ends it (WinErr 0), HangMs passed is a hang (Hang, WinErr 258). Only an attempt that
  // ended by itself and failed writes a line. The worker sends through Device, or opens the
  // disk's path when it is null.
  TDeviceResult RunAtaBatchWithTimeout(const TByteArray& Cdb, const TByteArray& Payload, uint32_t TimeoutMs,
                                       uint32_t HangMs, const std::shared_ptr<TDeviceHandle>& Device,
                                       bool& Hang) override;
  bool RunAtaBatchWithTimeout(const TByteArray& Cdb, const TByteArray& Payload, uint32_t TimeoutMs,
                              uint32_t HangMs, uint32_t& WinErr, uint8_t& SenseKey, uint8_t& Asc, uint8_t& Ascq,
                              bool& Hang);
  // Opens the volume, locks and dismounts it; Handle receives the volume's handle (valid or not),
  // which stays open holding the lock. With a proven disk the volume is first placed on it
  // (OpenVolumeOnDisk); a volume that is not there is not locked.
  TVolumeLockOutcome LockAndDismountVolume(const TVolumeInfo& Volume, const TDeviceHandle* ProvenDisk,
                                           TDeviceHandle& Handle) override;

  // ---- Windows ReTrim -------------------------------------------------------------------------
  // True as soon as the volume of Letter answers GetVolumeInformationW; asked every 200 ms until
  // TimeoutMs has passed; False at once when the run is cancelled.
  bool WaitForVolumeRemount(char Letter, uint32_t TimeoutMs) override;
  // Runs the system's PowerShell with Optimize-Volume -ReTrim for Letter (A to Z), hidden, its
  // output copied into the log; TimeoutMs 0 means no limit. True when PowerShell ended by
  // itself with exit code 0. Sets FReTrim43022Seen when its output names error 43022.
  bool RunOptimizeVolumeReTrim(char Letter, uint32_t TimeoutMs, int32_t& ExitCode) override;

  // ---- Run reports ---------------------------------------------------------------------------
  // logs\failure_report_<stamp>.json and .csv under the current directory; sets
  // FStats.FailureReportPath once the JSON file is written. File errors throw EFileError.
  void WriteFailureReport() override;
  // logs\dryrun_golden_<stamp>.json, then an INFO line naming it. File errors throw EFileError.
  void WriteDryRunGolden() override;

 protected:
  void Execute() override;

  // Worker side: each waits until the main thread has run its call.
  void ReportProgress(uint32_t Done, uint32_t Total, const std::string& Text) override;
  bool AskQuestion(const std::string& Caption, const std::string& Text) override;
  void ShowInfo(const std::string& Caption, const std::string& Text) override;

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
  mutable std::atomic<int32_t> FCancelRequested{0};  // the only fields other threads write
  std::atomic<bool> FBoxesSuppressed{false};
  TRunStats FStats;
  std::string FProgressText;
  std::unique_ptr<TAtaPassThroughEngine> FAtaEngine;
  std::unique_ptr<TPreflightValidator> FValidator;  // declared after the engine: freed before it
  bool FDialogAccepted = false;
  bool FReTrim43022Seen = false;
  bool FReformatNoticeAllowed = true;
  bool FReformatNoticeShown = false;  // written by the run's thread before it ends
  std::string FQuestionText, FQuestionCaption;
  std::string FInfoText, FInfoCaption;

 private:
  bool ReTrim43022Seen() const override { return FReTrim43022Seen; }

  // The folder the reports go to: the current directory's "logs", created with its parents.
  static std::string ReportFolder();

  // ---- the cancel of a device call, and its repeat (uTrimExecutor.cpp) ----
  class TCancelRepeat;
  class TWorkScope;
  // Cancels the call the run's thread is blocked in, only while the run does its work.
  void CancelRunIo();
  // Under FCancelIoLock; an error text when the repeat could not start.
  std::string StartCancelRepeatLocked();
  void EnterWork();
  void LeaveWork();

  std::mutex FCancelIoLock;          // guards the three below
  bool FInWork = false;              // between set-up and the end of the batches, ReTrim included
  plat::HANDLE FWorkOver = nullptr;  // set when the work is over: the repeat ends
  std::unique_ptr<TThread> FCancelRepeat;
};

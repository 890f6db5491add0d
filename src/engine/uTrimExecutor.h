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
#include <string>
#include <vector>

#include "core/uThread.h"
#include "core/uTypes.h"
#include "device/uAtaPassThrough.h"

class TLogger;
class TPreflightValidator;
class TTrimRun;

// Both run on the main thread; either may be empty.
using TTrimProgressEvent = std::function<void(uint32_t Done, uint32_t Total, const std::string& Text)>;
using TTrimDoneEvent = std::function<void(const TRunStats& Stats)>;

// MessageBoxW flags of the run's own boxes: no owner, brought to the foreground, on top.
constexpr plat::UINT kRunQuestionBoxFlags =
    plat::MB_OKCANCEL | plat::MB_ICONQUESTION | plat::MB_SETFOREGROUND | plat::MB_TOPMOST;
constexpr plat::UINT kRunInfoBoxFlags =
    plat::MB_OK | plat::MB_ICONINFORMATION | plat::MB_SETFOREGROUND | plat::MB_TOPMOST;
static_assert(kRunQuestionBoxFlags == 0x50021 && kRunInfoBoxFlags == 0x50040);

// JSON string escaping of the reports: quotation mark, backslash, \b \t \n \f \r, and every other
// code below 20h as \u with four upper-case hex digits; all else (UTF-8 bytes too) unchanged.
std::string JsonEscape(const std::string& S);

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
  bool Ok() const { return FOk; }
  uint32_t WinErr() const { return FWinErr; }
  uint8_t SenseKey() const { return FSenseKey; }
  uint8_t Asc() const { return FAsc; }
  uint8_t Ascq() const { return FAscq; }
  uint8_t ScsiStatus() const { return FScsiStatus; }

 protected:
  void Execute() override;

 private:
  std::string FPath;
  std::shared_ptr<TDeviceHandle> FDevice;
  TByteArray FCdb;
  TByteArray FPayload;
  uint32_t FTimeoutMs;
  bool FOk = false;
  uint32_t FWinErr = 0;
  uint8_t FSenseKey = 0, FAsc = 0, FAscq = 0, FScsiStatus = 0;
};

// How LockAndDismountVolume ended for one volume.
struct TVolumeLockOutcome {
  bool Ok = false;
  std::string Path;      // "\\.\E:"
  std::string FailedOp;  // "" on success, "open", "FSCTL_LOCK_VOLUME" or "FSCTL_DISMOUNT_VOLUME"
  uint32_t WinErr = 0;
  uint32_t GoneWinErr = 0;  // not 0 (55 or 1167) when the run's disk has left the bus
};

class TTrimExecutionThread : public TThread {
 public:
  // Created suspended, freeing itself when it ends; the creator starts it. Disk and Ranges are
  // copied, so the caller's records may change afterwards.
  TTrimExecutionThread(const TDiskInfo& Disk, const TTrimRangeArray& Ranges, TTrimMode TrimMode,
                       const TTrimExecOptions& Options, TRunMode RunMode, TLogger* Logger,
                       TTrimProgressEvent OnProgress, TTrimDoneEvent OnDone);
  ~TTrimExecutionThread() override;

  // Any thread, any number of times; never blocks. Also cancels a device call the run's own
  // thread is blocked in, which then fails with 995.
  void RequestCancel();
  bool IsCancelRequested() const;

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
  // ended by itself and failed writes a line.
  bool RunAtaBatchWithTimeout(const TByteArray& Cdb, const TByteArray& Payload, uint32_t TimeoutMs,
                              uint32_t HangMs, uint32_t& WinErr, uint8_t& SenseKey, uint8_t& Asc, uint8_t& Ascq,
                              bool& Hang);
  // Opens the volume, locks and dismounts it; the handle (valid or not) goes into
  // FVolumeHandles[Slot], which the caller has sized, and stays open holding the lock. Inside a
  // run the volume is first placed on the run's proven disk (OpenVolumeOnDisk); a volume that is
  // not there is not locked.
  TVolumeLockOutcome LockAndDismountVolume(const TVolumeInfo& Volume, size_t Slot);
  // Closes every valid handle of FVolumeHandles and empties it.
  void CloseVolumeHandles();

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
  std::unique_ptr<TPreflightValidator> FValidator;  // declared after the engine: freed before it
  bool FDialogAccepted = false;
  bool FReTrim43022Seen = false;
  std::string FQuestionText, FQuestionCaption;
  std::string FInfoText, FInfoCaption;
  std::vector<plat::HANDLE> FVolumeHandles;  // one slot per volume of the disk while locked
  // The run's handle to its disk, proven at set-up (device/uDiskIdentity.h): every command of the
  // run goes through it, so none can reach a disk that took the number after this one left.
  std::shared_ptr<TDeviceHandle> FDiskDevice;

  // The state and stages of one run (uTrimRun.cpp) work on these fields.
  friend class TTrimRun;

 private:
  // The folder the reports go to: the current directory's "logs", created with its parents.
  static std::string ReportFolder();
};

// What one TRIM run works on (TRunContext) and what it asks of the thread that runs it
// (ITrimRunHost): the run's stages read only these, so a run needs no friend access to its
// thread, and a test can give a run a host of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/uTypes.h"
#include "device/uAtaPassThrough.h"
#include "device/uDeviceHandle.h"

class TLogger;
class TPreflightValidator;

// How LockAndDismountVolume ended for one volume.
struct TVolumeLockOutcome {
  bool Ok = false;
  std::string Path;      // "\\.\E:"
  std::string FailedOp;  // "" on success, "open", "FSCTL_LOCK_VOLUME" or "FSCTL_DISMOUNT_VOLUME"
  uint32_t WinErr = 0;
  uint32_t GoneWinErr = 0;  // not 0 (55 or 1167) when the run's disk has left the bus
};

// The run's own copies and tools, owned by the thread for the run's whole life.
struct TRunContext {
  const TDiskInfo& Disk;
  const TTrimRangeArray& Ranges;
  TTrimMode TrimMode;
  TRunMode RunMode;
  const TTrimExecOptions& Options;
  TRunStats& Stats;  // filled by the run, handed to the completion handler
  TLogger* Log;      // may be null: nothing is written
  TAtaPassThroughEngine& Engine;
  TPreflightValidator& Validator;
  // False when the creator has already shown the reformat-as-NTFS notice (the real test's
  // second run on the same disk): the run then does not show it again.
  bool ReformatNoticeAllowed = true;
};

class ITrimRunHost {
 public:
  virtual ~ITrimRunHost() = default;

  virtual bool IsCancelRequested() const = 0;
  // On the main thread; each returns when the main thread has run it.
  virtual void ReportProgress(uint32_t Done, uint32_t Total, const std::string& Text) = 0;
  virtual bool AskQuestion(const std::string& Caption, const std::string& Text) = 0;
  virtual void ShowInfo(const std::string& Caption, const std::string& Text) = 0;

  // The time-limited calls. The lock opens the volume (placed on ProvenDisk first when given),
  // locks and dismounts it; Handle receives the volume's handle, valid or not, which then holds
  // the lock. The ATA attempt goes through Device (opened by path when null).
  virtual TVolumeLockOutcome LockAndDismountVolume(const TVolumeInfo& Volume, const TDeviceHandle* ProvenDisk,
                                                   TDeviceHandle& Handle) = 0;
  virtual TDeviceResult RunAtaBatchWithTimeout(const TByteArray& Cdb, const TByteArray& Payload,
                                               uint32_t TimeoutMs, uint32_t HangMs,
                                               const std::shared_ptr<TDeviceHandle>& Device, bool& Hang) = 0;

  // Windows ReTrim; ReTrim43022Seen tells whether the last ReTrim printed error 43022.
  virtual bool WaitForVolumeRemount(char Letter, uint32_t TimeoutMs) = 0;
  virtual bool RunOptimizeVolumeReTrim(char Letter, uint32_t TimeoutMs, int32_t& ExitCode) = 0;
  virtual bool ReTrim43022Seen() const = 0;

  // The reports; file errors throw.
  virtual void WriteFailureReport() = 0;
  virtual void WriteDryRunGolden() = 0;
};

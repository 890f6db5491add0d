// One TRIM run: the state every stage reads and changes, held in one object that the run's
// Execute owns, and the stages as its methods. It works on a TRunContext and asks its thread for
// the rest through ITrimRunHost (uTrimRunContext.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/uTypes.h"
#include "device/uAtaPassThrough.h"
#include "device/uDiskIdentity.h"
#include "engine/uTrimRunContext.h"

// The command paths of the fallback chain, in the order a batch tries them.
enum class TTrimPath { tpStorageTrim, tpScsiUnmap, tpWriteSame16, tpAtaPassThrough, tpReTrim };
inline constexpr size_t kTrimPathCount = 5;

// How a command path has done in the run so far. Failed and hung close it for the rest of the
// run. Ok: it completed a batch (WRITE SAME(16): its probe passed, so later batches skip the probe;
// Windows ReTrim: it covered the free space, which ends the loop).
enum class TPathOutcome { poUntried, poOk, poFailed, poHung };

// What the run chose at set-up, the state of its volumes and its disk, and each path's outcome.
// Outcomes only ever close, LockFailed only becomes true, Pinned only false.
struct TTrimRunState {
  bool UnmapEligible = false;
  bool DsmFirst = false;
  bool ForcedReTrim = false;
  bool HasNtfs = false;
  bool Pinned = false;
  bool Dismounted = false;
  bool LockFailed = false;
  std::array<TPathOutcome, kTrimPathCount> Outcomes{};
  // The storage TRIM request's one FS-cooperative retry of the run has been made.
  bool CooperativeTried = false;
  uint64_t MaxUnmapLbaPerCmd = 65536;
  int32_t MaxUnmapDescriptors = 32;
  int32_t AtaConfigIndex = -1;
  uint64_t TrimmedSectors = 0;
  // The last device request of any stage.
  TDeviceResult LastRequest;
  // Per batch in the SCSI UNMAP stage.
  uint32_t UnmapTimeoutMs = 0;
  uint64_t UnmapHangThresholdMs = 0;
  // Error of the last lock or dismount request of the run (0 when it succeeded).
  uint32_t LastLockWinErr = 0;
  // How the up-front lock failed, for a batch that no stage could then take.
  std::string UpFrontLockMessage;
  uint32_t UpFrontLockWinErr = 0;
  // Some Windows ReTrim call of the run reported error 43022.
  bool Saw43022 = false;
  // A request answered that the disk is no longer there (GoneWinErr, 55 or 1167), or the set-up
  // found another disk under its number (IdentityFailure): no further command is sent.
  bool DeviceGone = false;
  uint32_t GoneWinErr = 0;
  std::string IdentityFailure;
  bool UsbDisconnect = false;

  TPathOutcome& Outcome(TTrimPath P) { return Outcomes[static_cast<size_t>(P)]; }
  TPathOutcome Outcome(TTrimPath P) const { return Outcomes[static_cast<size_t>(P)]; }
  bool Closed(TTrimPath P) const {
    return Outcome(P) == TPathOutcome::poFailed || Outcome(P) == TPathOutcome::poHung;
  }
  // A path that failed stays failed; one that hung stays hung.
  void Fail(TTrimPath P) {
    if (Outcome(P) != TPathOutcome::poHung) Outcome(P) = TPathOutcome::poFailed;
  }
  // Some path hung the bridge: WRITE SAME(16), ATA pass-through and the expert retry are not tried
  // again (the Windows ReTrim offer still is).
  bool BridgeHang() const {
    for (TPathOutcome o : Outcomes)
      if (o == TPathOutcome::poHung) return true;
    return false;
  }
};

// The batch in hand: indexes into the run's ranges, its result and the last stage's outcome.
struct TTrimBatch {
  int32_t Index = 0;
  int32_t First = 0;
  int32_t Last = 0;
  int32_t Entries = 0;
  uint64_t Sectors = 0;
  TBatchResult Result;
  bool StageOk = false;
  // Why the Windows ReTrim offer left the batch failed, for a batch no stage gave a message.
  std::string ReTrimFailure;
  TByteArray Payload;  // ATA DATA SET MANAGEMENT payload
  std::array<uint8_t, 16> Cdb{};
};

class TTrimRun {
 public:
  // The most 512-byte blocks one ATA DATA SET MANAGEMENT payload may take.
  static constexpr uint32_t kMaxDsmPayloadSectors = 65535;

  TTrimRun(const TRunContext& Context, ITrimRunHost& Host) : Context(Context), Host(Host) {}

  // Set-up, the batch loop and the loop's normal end. Throws on a fault of the run itself.
  void Run();
  // The way out after an exception from Run.
  void Abort(const std::string& Message);
  // Both ways end here: the disconnect probe, totals, reports and notices. Never throws for a
  // report that cannot be written.
  void Finish();
  // After Finish: whether the run showed the reformat-as-NTFS notice.
  bool ReformatNoticeShown() const { return ReformatShown; }

 private:
  // One stage of the fallback chain: the path it sends the batch down, its name, when it may run
  // besides its path being open, and its routine.
  struct TStage {
    TTrimPath Path;
    const char* Name;
    bool (*Eligible)(const TTrimRun& Run);
    void (TTrimRun::*Routine)(TTrimBatch& B);
  };
  // In the order a batch walks them (uTrimRun.cpp).
  static const std::array<TStage, kTrimPathCount> kChain;

  void ChoosePaths();
  void SetUp();
  // Opens the run's disk and proves it is the planned one; all later commands go through it.
  void ProveDisk();
  TDeviceRef Disk() const;
  // A volume handle placed on the run's disk (OpenVolumeOnDisk); notes a disk that has left.
  TDeviceHandle OpenVolume(const TVolumeInfo& Volume, TVolumeProof& Proof);
  void LogPathLines();
  void PinVolumes();
  void LockVolumesUpFront();
  void SizeScsiUnmap();
  void RunBatches();
  void ExecuteBatch(TTrimBatch& B);
  // Gives a failed batch its message: a disk that left says so over any stage's message, else the
  // stages' own stands, else why none completed it; Last is the last stage that ran.
  void NameFailure(TTrimBatch& B, const TStage* Last);
  void DryRunCheck(TTrimBatch& B);
  void StorageTrimStage(TTrimBatch& B);
  // One pass of the storage TRIM request over every volume with a length.
  void SendStorageTrim(TTrimBatch& B, bool Cooperative);
  void ScsiUnmapStage(TTrimBatch& B);
  // EndLba inclusive; an empty span (StartLba > EndLba) succeeds.
  bool ScsiUnmapSpan(uint64_t StartLba, uint64_t EndLba);
  void WriteSame16Stage(TTrimBatch& B);
  void TryAtaPassThrough(TTrimBatch& B);
  // Locks and dismounts every volume for the ATA stage; false (result filled) at the first
  // volume that fails.
  bool LockVolumesForAta(TTrimBatch& B);
  void ReTrimOffer(TTrimBatch& B);
  void ExpertRetry(TTrimBatch& B);
  // Sets DeviceGone when a request's error says the disk has left the bus; true once it has.
  bool NoteDeviceGone(uint32_t WinErr);
  // Locks and dismounts every volume into fresh slots (the up-front lock and the SCSI UNMAP
  // stage), writing the line of each lock or dismount that failed; true when all did.
  bool LockAllVolumes(TVolumeLockOutcome& LastFailure);
  // Checks the disk's logical sector size before the SCSI paths, which count its blocks.
  void CheckScsiBlockSize();
  // Counts the batch's outcome and reports the progress; true when the loop goes on.
  bool CountBatch(const TTrimBatch& B);
  void EndLoop();
  // Counts the planned batches no batch accounted for as skipped, so that succeeded + failed +
  // skipped = planned (plus the one failure of a run ended by an error).
  void CountUnrunBatches();
  void ProbeUsbDisconnect();
  void LogTotals();
  void WriteReports();
  void ShowNotices();
  TVolumeLockOutcome LockVolume(size_t Slot);
  // Closes every volume handle the run holds.
  void CloseVolumeHandles();
  static std::string LockFailureMessage(const TVolumeLockOutcome& O);
  // The time limit of one device command, from the options.
  uint32_t CommandTimeoutMs() const;
  // The last request's error and sense into the batch result.
  void CopyLastRequest(TTrimBatch& B) const;
  // A request's result as the run's last request; its Ok.
  bool RecordRequest(const TDeviceResult& R);
  // A stage whose work the cancel cut short fails the batch; true when it did.
  bool FailIfCancelled(TTrimBatch& B);

  void Info(const std::string& Msg);
  void Warn(const std::string& Msg);
  void Error(const std::string& Msg);

  const TRunContext& Context;
  ITrimRunHost& Host;
  TTrimRunState State;
  // One slot per volume of the disk while they are pinned or locked (an invalid handle when that
  // volume failed); closing a handle ends its lock.
  std::vector<TDeviceHandle> VolumeHandles;
  // The run's handle to its disk, proven at set-up: every command of the run goes through it,
  // so none can reach a disk that took the number after this one left. Shared with the ATA
  // worker, which may outlive an attempt it was abandoned in.
  std::shared_ptr<TDeviceHandle> DiskDevice;
  bool Executes = false;
  bool ReformatShown = false;
  int32_t PerBatch = 32;
  int32_t Uncapped = 0;
  int32_t Planned = 0;
  TDiskProof Proof;  // what the set-up read of the disk
};

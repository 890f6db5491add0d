// One TRIM run: the state every stage reads and changes, held in one object that the run's
// Execute owns, and the stages as its methods. It works on a TRunContext and asks its thread for
// the rest through ITrimRunHost (uTrimRunContext.h).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/uTypes.h"
#include "device/uAtaPassThrough.h"
#include "device/uDiskIdentity.h"
#include "engine/uTrimRunContext.h"

// Stage selection state of a run. The failure flags only ever become true, Pinned only false.
struct TTrimRunState {
  bool UnmapEligible = false;
  bool DsmFirst = false;
  bool ForcedReTrim = false;
  bool HasNtfs = false;
  bool Pinned = false;
  bool Dismounted = false;
  bool LockFailed = false;
  bool DsmFailed = false;
  bool CooperativeTried = false;
  bool UnmapFailed = false;
  bool BridgeHang = false;
  uint64_t MaxUnmapLbaPerCmd = 65536;
  int32_t MaxUnmapDescriptors = 32;
  bool Ws16ProbeOk = false;
  bool Ws16Failed = false;
  int32_t AtaConfigIndex = -1;
  bool ReTrimOffered = false;
  bool ReTrimCovered = false;
  uint64_t TrimmedSectors = 0;
  // The last device request of any stage.
  TDeviceResult Stage;
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
  TByteArray Payload;  // ATA DATA SET MANAGEMENT payload
  std::array<uint8_t, 16> Cdb{};
};

class TTrimRun {
 public:
  // The most 512-byte blocks one ATA DATA SET MANAGEMENT payload may take.
  static constexpr uint32_t kMaxDsmPayloadSectors = 65535;

  TTrimRun(const TRunContext& Context, ITrimRunHost& Host) : C(Context), H(Host) {}

  // Set-up, the batch loop and the loop's normal end. Throws on a fault of the run itself.
  void Run();
  // The way out after an exception from Run.
  void Abort(const std::string& Message);
  // Both ways end here: the disconnect probe, totals, reports and notices. Never throws for a
  // report that cannot be written.
  void Finish();

  const TTrimRunState& State() const { return S; }

 private:
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
  // True when the loop goes on.
  bool Bookkeeping(const TTrimBatch& B);
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
  void RecordStageValues(TTrimBatch& B) const;
  // A request's result as the last request of the stage; its Ok.
  bool RecordStage(const TDeviceResult& R);
  // A stage whose work the cancel cut short fails the batch; true when it did.
  bool FailIfCancelled(TTrimBatch& B);

  void Info(const std::string& Msg);
  void Warn(const std::string& Msg);
  void Error(const std::string& Msg);

  const TRunContext& C;
  ITrimRunHost& H;
  TTrimRunState S;
  // One slot per volume of the disk while they are pinned or locked (an invalid handle when that
  // volume failed); closing a handle ends its lock.
  std::vector<TDeviceHandle> VolumeHandles;
  // The run's handle to its disk, proven at set-up: every command of the run goes through it,
  // so none can reach a disk that took the number after this one left. Shared with the ATA
  // worker, which may outlive an attempt it was abandoned in.
  std::shared_ptr<TDeviceHandle> DiskDevice;
  bool Executes = false;
  int32_t PerBatch = 32;
  int32_t Uncapped = 0;
  int32_t Planned = 0;
  bool Aborted = false;
  TDiskProof Proof;  // what the set-up read of the disk
};

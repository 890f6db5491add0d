// One TRIM run: the state every stage reads and changes, held in one object that the run's
// Execute owns, and the stages as its methods.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/uTypes.h"
#include "device/uAtaPassThrough.h"

class TTrimExecutionThread;

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
  uint32_t StageWinErr = 0;
  uint8_t StageSenseKey = 0, StageAsc = 0, StageAscq = 0;
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
  explicit TTrimRun(TTrimExecutionThread& Thread) : T(Thread) {}

  // Set-up, the batch loop and the loop's normal end. Throws on a fault of the run itself.
  void Run();
  // The way out after an exception from Run.
  void Abort(const std::string& Message);

  const TTrimRunState& State() const { return S; }

 private:
  void ChoosePaths();
  void SetUp();
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
  // True when the loop goes on.
  bool Bookkeeping(const TTrimBatch& B);
  void EndLoop();

  void Info(const std::string& Msg);
  void Warn(const std::string& Msg);
  void Error(const std::string& Msg);

  TTrimExecutionThread& T;
  TTrimRunState S;
  bool Executes = false;
  int32_t PerBatch = 32;
  int32_t Uncapped = 0;
  int32_t Planned = 0;
};

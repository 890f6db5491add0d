// One TRIM run: set-up, batching, the dry-run check and the storage TRIM request stage. The SCSI
// stages are in uTrimRunScsi.cpp, the ATA stage in uTrimRunAta.cpp, the Windows ReTrim offer and
// the end of the run in uTrimRunEnd.cpp.
#include "engine/uTrimRun.h"

#include <stdexcept>

#include "core/uDateTime.h"
#include "core/uFormat.h"
#include "core/uLogger.h"
#include "core/uText.h"
#include "device/uAtaPassThrough.h"
#include "device/uDeviceHandle.h"
#include "device/uDiskEnum.h"
#include "engine/uTrimExecutor.h"
#include "engine/uValidation.h"
#include "platform/Platform.h"

using namespace plat;

namespace {

constexpr int32_t kDefaultBatchEntries = 32;
constexpr uint32_t kDefaultUnmapLbaPerCmd = 65536;
constexpr int32_t kDefaultUnmapDescriptors = 32;

}  // namespace

std::string TTrimRun::LockFailureMessage(const TVolumeLockOutcome& O) {
  if (O.FailedOp == "open") return "Volume open failed; close apps using the drive and retry";
  if (O.FailedOp == "FSCTL_DISMOUNT_VOLUME")
    return "Volume dismount failed or timed out; close apps using the drive and retry";
  return "Volume lock failed or timed out; close apps using the drive and retry";
}

uint32_t TTrimRun::CommandTimeoutMs() const {
  return static_cast<uint32_t>(std::max<int32_t>(T.FOptions.TimeoutMs, 0));
}

void TTrimRun::RecordStageValues(TTrimBatch& B) const {
  B.Result.WinErr = S.StageWinErr;
  B.Result.SenseKey = S.StageSenseKey;
  B.Result.Asc = S.StageAsc;
  B.Result.Ascq = S.StageAscq;
}

bool TTrimRun::FailIfCancelled(TTrimBatch& B) {
  if (!T.IsCancelRequested()) return false;
  B.StageOk = false;
  B.Result.Success = false;
  B.Result.Message = "Cancelled by user";
  return true;
}

TVolumeLockOutcome TTrimRun::LockVolume(size_t Slot) {
  TVolumeLockOutcome o = T.LockAndDismountVolume(T.FDisk.Volumes[Slot], Slot);
  if (o.FailedOp != "open") S.LastLockWinErr = o.Ok ? 0 : o.WinErr;
  return o;
}

void TTrimRun::Info(const std::string& Msg) {
  if (T.FLogger) T.FLogger->Info(Msg);
}
void TTrimRun::Warn(const std::string& Msg) {
  if (T.FLogger) T.FLogger->Warn(Msg);
}
void TTrimRun::Error(const std::string& Msg) {
  if (T.FLogger) T.FLogger->Error(Msg);
}

void TTrimRun::Run() {
  ChoosePaths();
  SetUp();
  RunBatches();
  EndLoop();
}

void TTrimRun::ChoosePaths() {
  const TTransportKind transport = T.FDisk.Transport;
  const bool uas = transport == TTransportKind::tkUAS;
  const bool freeSpace = T.FTrimMode == TTrimMode::tmFreeSpace;
  Executes = T.FRunMode == TRunMode::rmExecute;
  switch (T.FOptions.ForcedPath) {
    case TForcedTrimPath::ftpScsiUnmap: S.UnmapEligible = true; break;
    case TForcedTrimPath::ftpAuto:
      S.UnmapEligible = uas;
      S.DsmFirst = uas && freeSpace;
      break;
    default: break;
  }
  S.ForcedReTrim = T.FOptions.ForcedPath == TForcedTrimPath::ftpWindowsReTrim;
  for (const TVolumeInfo& v : T.FDisk.Volumes)
    if (UpperCase(v.FileSystem) == "NTFS") S.HasNtfs = true;
  S.Pinned = T.FOptions.ForcedPath == TForcedTrimPath::ftpAuto && Executes && uas && freeSpace &&
             !T.FDisk.Volumes.empty() && S.HasNtfs;
}

void TTrimRun::SetUp() {
  TRunStats& st = T.FStats;
  st = TRunStats{};
  st.Disk = T.FDisk;
  st.TrimMode = T.FTrimMode;
  st.RunMode = T.FRunMode;
  st.StartTime = Now();
  st.RangeCount = static_cast<int32_t>(T.FRanges.size());
  for (const TTrimRange& r : T.FRanges) st.TotalSectors += r.SectorCount;

  PerBatch = T.FOptions.BatchEntries != 0 ? T.FOptions.BatchEntries : kDefaultBatchEntries;
  if (PerBatch < 0) throw std::invalid_argument(Format("Invalid batch entries: %d", PerBatch));
  Uncapped = static_cast<int32_t>((static_cast<int64_t>(st.RangeCount) + PerBatch - 1) / PerBatch);
  const uint32_t limit = static_cast<uint32_t>(T.FOptions.BatchLimit);
  Planned = limit != 0 && limit < static_cast<uint32_t>(Uncapped) ? static_cast<int32_t>(limit) : Uncapped;
  st.PlannedBatches = Planned;

  Info(Format("Execution start: disk=%s, protocol=%s, mode=%s, ranges=%d, batches=%d, batch_limit=%d",
              T.FDisk.DevicePath, TransportToText(T.FDisk.Transport), RunModeToText(T.FRunMode), st.RangeCount,
              Planned, T.FOptions.BatchLimit));
  LogPathLines();

  const TValidationResult r = T.FValidator->CheckTransport(T.FDisk, Executes);
  Info(r.Message);
  if (!r.Ok) throw std::runtime_error(r.Message);

  const TForcedTrimPath forced = T.FOptions.ForcedPath;
  const TTransportKind transport = T.FDisk.Transport;
  if (S.Pinned)
    PinVolumes();
  else if ((forced == TForcedTrimPath::ftpScsiUnmap || forced == TForcedTrimPath::ftpAtaPassThrough) &&
           (transport == TTransportKind::tkBOT || transport == TTransportKind::tkUAS) && Executes)
    LockVolumesUpFront();
  if (S.UnmapEligible && Executes) {
    CheckScsiBlockSize();
    if (!S.UnmapFailed) SizeScsiUnmap();
  }

  if (T.FOptions.QuietIterations) {
    Info(
        "Repetitive iteration messages excluded by option: per-batch info lines are not logged (warnings/errors "
        "still are)");
    if (T.FLogger) T.FLogger->SetSuppressInfo(true);
  }
}

void TTrimRun::LogPathLines() {
  switch (T.FOptions.ForcedPath) {
    case TForcedTrimPath::ftpScsiUnmap: Info("DEBUG: Forced SCSI UNMAP mode"); break;
    case TForcedTrimPath::ftpAtaPassThrough: Info("DEBUG: Forced ATA Pass-Through mode"); break;
    case TForcedTrimPath::ftpWindowsReTrim: Info("Forced Windows ReTrim mode: hardware TRIM paths skipped"); break;
    default:
      if (S.DsmFirst)
        Info(
            "UASP detected: will try DSM TRIM first, then SCSI UNMAP, then WRITE SAME(16)+UNMAP, then ATA "
            "Pass-Through");
      break;
  }
  if (S.Pinned) {
    Info("Pinned Volume guard active: UAS + NTFS volume; keeping mounted FS, no dismount before raw paths");
  } else if (T.FOptions.ForcedPath == TForcedTrimPath::ftpAuto && Executes && !T.FDisk.Volumes.empty()) {
    if (T.FDisk.Transport == TTransportKind::tkBOT)
      Info(
          "Pinned Volume guard not applicable to BOT transport (ATA Pass-Through is the primary hardware path); "
          "legacy lock+dismount available");
    else if (T.FDisk.Transport == TTransportKind::tkUAS)
      Info(
          "Pinned Volume guard disabled: no NTFS volume on this disk (Optimize-Volume -ReTrim does not cover "
          "exFAT/FAT32); legacy lock+dismount available");
  }
  if (T.FOptions.ExpertAtaRetry)
    Warn("Expert ATA retry mode enabled: after ReTrim 43022 failure, user may opt into ATA Pass-Through retry");
}

void TTrimRun::PinVolumes() {
  T.FVolumeHandles.assign(T.FDisk.Volumes.size(), VT_INVALID_HANDLE_VALUE);
  for (size_t i = 0; i < T.FDisk.Volumes.size(); i++) {
    const std::string path = VolumeDevicePath(T.FDisk.Volumes[i].DriveLetter);
    const HANDLE h = Win().CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    T.FVolumeHandles[i] = h;
    if (!IsValidHandle(h))
      Warn(Format("Cannot open guard handle for %s (winerr=%d)", path, Win().GetLastError()));
    else
      Info(Format("Volume pinned (mounted, no dismount): %s", path));
  }
}

void TTrimRun::LockVolumesUpFront() {
  T.FVolumeHandles.assign(T.FDisk.Volumes.size(), VT_INVALID_HANDLE_VALUE);
  bool allOk = true;
  for (size_t i = 0; i < T.FDisk.Volumes.size(); i++) {
    const TVolumeLockOutcome o = LockVolume(i);
    if (!o.Ok) {
      allOk = false;
      S.LockFailed = true;
      // Kept for the batch result: with the lock failed no stage may run, and the user must
      // learn why.
      S.UpFrontLockMessage = LockFailureMessage(o);
      S.UpFrontLockWinErr = o.WinErr;
    }
  }
  S.Dismounted = allOk;
}

void TTrimRun::CheckScsiBlockSize() {
  uint64_t size = 0;
  uint32_t bytesPerSector = 0;
  uint32_t err = 0;
  {
    TDeviceHandle h(TDiskEnumerator::OpenDevice(T.FDisk.DevicePath, 0));
    if (!h.Valid() || !TDiskEnumerator::QueryGeometry(h.Get(), size, bytesPerSector)) err = Win().GetLastError();
  }
  if (err == 0 && bytesPerSector == 512) return;
  // SCSI block addresses count the disk's logical blocks, the planned ranges 512-byte sectors:
  // any other block size (or none known) would release the wrong blocks.
  S.UnmapFailed = true;
  S.Ws16Failed = true;
  if (err != 0)
    Warn(Format("SCSI UNMAP and WRITE SAME(16) not used: logical sector size unknown (winerr=%d)", err));
  else
    Warn(
        Format("SCSI UNMAP and WRITE SAME(16) not used: disk reports %u-byte logical sectors (planned ranges "
               "count 512-byte sectors)",
               bytesPerSector));
}

void TTrimRun::SizeScsiUnmap() {
  uint32_t l = 0, d = 0;
  if (!T.FAtaEngine->QueryBlockLimitsVpd(T.FDisk.DevicePath, l, d)) {
    Info(
        Format("Block Limits VPD (0xB0) unavailable; using default SCSI UNMAP sizing (%u sectors/cmd, up to %d "
               "descriptors)",
               kDefaultUnmapLbaPerCmd, kDefaultUnmapDescriptors));
    return;
  }
  // FFFFFFFFh: no maximum. Below 4096 blocks the page is not trusted.
  S.MaxUnmapLbaPerCmd = l == 0xFFFFFFFFu ? 67108864u : l;
  if (S.MaxUnmapLbaPerCmd < 4096) S.MaxUnmapLbaPerCmd = kDefaultUnmapLbaPerCmd;
  if (d > 4095)
    S.MaxUnmapDescriptors = 4095;
  else if (d != 0)
    S.MaxUnmapDescriptors = static_cast<int32_t>(d);
  Info(Format("SCSI UNMAP sizing from Block Limits VPD: max_lba_per_cmd=%u sectors, max_descriptors=%d",
              S.MaxUnmapLbaPerCmd, S.MaxUnmapDescriptors));
}

void TTrimRun::RunBatches() {
  const int32_t rangeCount = static_cast<int32_t>(T.FRanges.size());
  for (int32_t b = 0; b < Planned; b++) {
    if (T.IsCancelRequested()) {
      Warn("Cancellation requested, stopping safely after current batch boundary.");
      break;
    }
    TTrimBatch batch;
    batch.Index = b;
    batch.First = b * PerBatch;
    // In 64 bits: a huge entries-per-batch value must not wrap past the last range.
    batch.Last =
        static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(batch.First) + PerBatch - 1, rangeCount - 1));
    batch.Entries = batch.Last - batch.First + 1;
    for (int32_t i = batch.First; i <= batch.Last; i++) batch.Sectors += T.FRanges[i].SectorCount;
    batch.Result.BatchIndex = b;
    batch.Result.Entries = batch.Entries;
    if (Executes)
      ExecuteBatch(batch);
    else
      DryRunCheck(batch);
    if (!Bookkeeping(batch)) break;
  }
}

void TTrimRun::NoteDeviceGone(uint32_t WinErr) {
  if (WinErr == ERROR_DEV_NOT_EXIST || WinErr == ERROR_DEVICE_NOT_CONNECTED) S.DeviceGone = true;
}

void TTrimRun::ExecuteBatch(TTrimBatch& B) {
  B.StageOk = false;
  // Each stage runs only while its condition holds at that moment; a disk that has left the bus
  // gets no further command.
  if (S.DsmFirst && !S.DsmFailed) StorageTrimStage(B);
  if (!B.StageOk && !S.DeviceGone && S.UnmapEligible && !S.UnmapFailed) ScsiUnmapStage(B);
  if (!B.StageOk && !S.DeviceGone && S.UnmapEligible && S.UnmapFailed && !S.BridgeHang && !S.Pinned &&
      !S.Ws16Failed && !S.LockFailed)
    WriteSame16Stage(B);
  if (!B.StageOk && !S.DeviceGone && (!S.UnmapEligible || S.UnmapFailed) && !S.ForcedReTrim && !S.Pinned &&
      !S.BridgeHang && !S.LockFailed)
    TryAtaPassThrough(B);
  if (!B.Result.Success && !S.DeviceGone) ReTrimOffer(B);
  if (!B.Result.Success && B.Result.Message.empty()) {
    if (S.DeviceGone) {
      B.Result.WinErr = S.StageWinErr;
      B.Result.Message = Format("Disk left the USB bus (winerr=%d); no further commands sent", S.StageWinErr);
    } else if (S.LockFailed && !S.UpFrontLockMessage.empty()) {
      B.Result.WinErr = S.UpFrontLockWinErr;
      B.Result.Message = S.UpFrontLockMessage;
    }
  }
}

void TTrimRun::DryRunCheck(TTrimBatch& B) {
  // A range the payload cannot carry would be trimmed at a wrong address: stop the run instead.
  if (!TAtaPassThroughEngine::BuildDsmPayload(B.Payload, T.FRanges, B.First, B.Entries))
    throw std::runtime_error("TRIM payload cannot carry a range beyond the 48-bit block address");
  const uint32_t n = static_cast<uint32_t>(B.Payload.size() / 512);
  if (n > kMaxDsmPayloadSectors)
    throw std::runtime_error(
        Format("TRIM payload too large for one ATA batch (%d sectors > %d); reduce batch entries", n,
               kMaxDsmPayloadSectors));
  B.Result.PayloadSectors = static_cast<int32_t>(n);
  if (!TAtaPassThroughEngine::BuildPt16DsmCdb(static_cast<uint16_t>(n), B.Cdb, kProtocolDma, true, true))
    throw std::runtime_error("Failed to build ATA PASS-THROUGH(16) CDB");
  const TValidationResult r =
      T.FValidator->ValidateCdb(*T.FAtaEngine, B.Cdb, static_cast<uint32_t>(B.Payload.size()));
  if (!r.Ok) {
    Error("ValidateCdb blocked transfer: " + r.Message);
    throw std::runtime_error("CDB policy blocked: " + r.Message);
  }
  B.Result.Success = true;
}

void TTrimRun::SendStorageTrim(TTrimBatch& B, bool Cooperative) {
  B.Result.PayloadSectors = 0;
  B.Result.Retries = 0;
  B.StageOk = true;
  S.StageWinErr = 0;
  int64_t applied = 0;
  for (const TVolumeInfo& v : T.FDisk.Volumes) {
    if (v.PartitionLength == 0) continue;
    int32_t n = 0;
    // The request drops the ranges that begin outside the volume and cuts those that leave it.
    B.StageOk = T.FAtaEngine->SendDsmTrim(v, T.FRanges, B.First, B.Entries, S.StageWinErr, n, Cooperative);
    B.Result.WinErr = S.StageWinErr;
    if (!B.StageOk) break;
    applied += n;
  }
  if (B.StageOk && applied == 0) {
    B.StageOk = false;
    Warn(Cooperative ? "DSM TRIM (cooperative) applied 0 ranges; falling back"
                     : "DSM TRIM applied 0 ranges (no mapped volume range matched); falling back");
  }
}

void TTrimRun::StorageTrimStage(TTrimBatch& B) {
  SendStorageTrim(B, false);
  if (!B.StageOk && S.StageWinErr == ERROR_INVALID_FUNCTION && !S.CooperativeTried) {
    S.CooperativeTried = true;
    Info("Retrying DSM TRIM in FS-cooperative mode (flag=0)");
    SendStorageTrim(B, true);
  }
  if (B.StageOk) {
    B.Result.Success = true;
    return;
  }
  S.DsmFailed = true;
  NoteDeviceGone(S.StageWinErr);
  Warn(Format("DSM TRIM failed (winerr=%d), falling back to SCSI UNMAP", S.StageWinErr));
}

bool TTrimRun::Bookkeeping(const TTrimBatch& B) {
  TRunStats& st = T.FStats;
  if (!B.Result.Success) {
    st.FailedBatches++;
    st.Failures.push_back(B.Result);
    Error(Format("Batch %d failed: %s", B.Index, B.Result.Message));
    return false;
  }
  st.SucceededBatches++;
  if (!S.ReTrimCovered) S.TrimmedSectors += B.Sectors;
  const int32_t done = st.DoneBatches + 1;
  T.ReportProgress(static_cast<uint32_t>(done), static_cast<uint32_t>(st.PlannedBatches),
                   Format("Batch %d/%d", done, st.PlannedBatches));
  if (!S.ReTrimCovered) return true;
  Info("Optimize-Volume -ReTrim covers all free space; skipping remaining batches");
  if (Planned - B.Index - 1 > 0) st.SkippedBatches += Planned - B.Index - 1;
  return false;
}

void TTrimRun::EndLoop() {
  if (T.FLogger) T.FLogger->SetSuppressInfo(false);
  CountUnrunBatches();
  if (Uncapped > Planned) T.FStats.SkippedBatches += Uncapped - Planned;
  T.CloseVolumeHandles();
}

void TTrimRun::Abort(const std::string& Message) {
  Aborted = true;
  if (T.FLogger) T.FLogger->SetSuppressInfo(false);
  Error("Executor fatal: " + Message);
  // The batches before the fault are counted; the fault itself is the one extra failure.
  CountUnrunBatches();
  T.FStats.FailedBatches++;
  T.CloseVolumeHandles();
}

void TTrimRun::CountUnrunBatches() {
  TRunStats& st = T.FStats;
  const int32_t accounted = st.SucceededBatches + st.FailedBatches + st.SkippedBatches;
  if (st.PlannedBatches > accounted) st.SkippedBatches += st.PlannedBatches - accounted;
}

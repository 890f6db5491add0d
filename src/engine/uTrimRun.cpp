// One TRIM run: set-up, batching, the fallback chain's table of stages, the dry-run check and the
// storage TRIM request stage. The SCSI stages are in uTrimRunScsi.cpp, the ATA stage in
// uTrimRunAta.cpp, the Windows ReTrim offer and the end of the run in uTrimRunEnd.cpp.
#include "engine/uTrimRun.h"

#include <stdexcept>

#include "core/uDateTime.h"
#include "core/uFormat.h"
#include "core/uLogger.h"
#include "core/uText.h"
#include "device/uAtaPassThrough.h"
#include "device/uDeviceHandle.h"
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
  return static_cast<uint32_t>(std::max<int32_t>(Context.Options.TimeoutMs, 0));
}

void TTrimRun::CopyLastRequest(TTrimBatch& B) const {
  B.Result.WinErr = State.LastRequest.WinErr;
  B.Result.SenseKey = State.LastRequest.SenseKey;
  B.Result.Asc = State.LastRequest.Asc;
  B.Result.Ascq = State.LastRequest.Ascq;
}

bool TTrimRun::RecordRequest(const TDeviceResult& R) {
  State.LastRequest = R;
  return R.Ok;
}

bool TTrimRun::FailIfCancelled(TTrimBatch& B) {
  if (!Host.IsCancelRequested()) return false;
  B.StageOk = false;
  B.Result.Success = false;
  B.Result.Message = "Cancelled by user";
  return true;
}

TVolumeLockOutcome TTrimRun::LockVolume(size_t Slot) {
  TVolumeLockOutcome o =
      Host.LockAndDismountVolume(Context.Disk.Volumes[Slot], DiskDevice.get(), VolumeHandles[Slot]);
  if (o.FailedOp != "open") State.LastLockWinErr = o.Ok ? 0 : o.WinErr;
  if (o.GoneWinErr) NoteDeviceGone(o.GoneWinErr);
  return o;
}

bool TTrimRun::LockAllVolumes(TVolumeLockOutcome& LastFailure) {
  CloseVolumeHandles();
  VolumeHandles.resize(Context.Disk.Volumes.size());
  bool allOk = true;
  // Every volume is tried, also after one that failed; a disk that left ends it.
  for (size_t i = 0; i < Context.Disk.Volumes.size() && !State.DeviceGone; i++) {
    const TVolumeLockOutcome o = LockVolume(i);
    if (o.Ok) continue;
    if (o.FailedOp == "FSCTL_LOCK_VOLUME" || o.FailedOp == "FSCTL_DISMOUNT_VOLUME")
      Warn(Format("%s failed or timed out: %s (winerr=%d)", o.FailedOp, o.Path, o.WinErr));
    allOk = false;
    LastFailure = o;
  }
  State.Dismounted = allOk;
  return allOk;
}

void TTrimRun::CloseVolumeHandles() { VolumeHandles.clear(); }

TDeviceRef TTrimRun::Disk() const {
  return TDeviceRef{DiskDevice ? DiskDevice->Get() : VT_INVALID_HANDLE_VALUE, Context.Disk.DevicePath};
}

TDeviceHandle TTrimRun::OpenVolume(const TVolumeInfo& Volume, TVolumeProof& Proof) {
  TDeviceHandle h = OpenVolumeOnDisk(Volume, Disk().Handle, Context.Disk.DiskNumber, Proof);
  if (Proof.Gone) NoteDeviceGone(Proof.DiskWinErr);
  return h;
}

void TTrimRun::Info(const std::string& Msg) {
  if (Context.Log) Context.Log->Info(Msg);
}
void TTrimRun::Warn(const std::string& Msg) {
  if (Context.Log) Context.Log->Warn(Msg);
}
void TTrimRun::Error(const std::string& Msg) {
  if (Context.Log) Context.Log->Error(Msg);
}

void TTrimRun::Run() {
  ChoosePaths();
  SetUp();
  RunBatches();
  EndLoop();
}

void TTrimRun::ChoosePaths() {
  const TTransportKind transport = Context.Disk.Transport;
  const bool uas = transport == TTransportKind::tkUAS;
  const bool freeSpace = Context.TrimMode == TTrimMode::tmFreeSpace;
  Executes = Context.RunMode == TRunMode::rmExecute;
  switch (Context.Options.ForcedPath) {
    case TForcedTrimPath::ftpScsiUnmap: State.UnmapEligible = true; break;
    case TForcedTrimPath::ftpAuto:
      State.UnmapEligible = uas;
      State.DsmFirst = uas && freeSpace;
      break;
    default: break;
  }
  State.ForcedReTrim = Context.Options.ForcedPath == TForcedTrimPath::ftpWindowsReTrim;
  for (const TVolumeInfo& v : Context.Disk.Volumes)
    if (UpperCase(v.FileSystem) == "NTFS") State.HasNtfs = true;
  State.Pinned = Context.Options.ForcedPath == TForcedTrimPath::ftpAuto && Executes && uas && freeSpace &&
                 !Context.Disk.Volumes.empty() && State.HasNtfs;
}

void TTrimRun::SetUp() {
  TRunStats& st = Context.Stats;
  st = TRunStats{};
  st.Disk = Context.Disk;
  st.TrimMode = Context.TrimMode;
  st.RunMode = Context.RunMode;
  st.StartTime = Now();
  st.RangeCount = static_cast<int32_t>(Context.Ranges.size());
  for (const TTrimRange& r : Context.Ranges) st.TotalSectors += r.SectorCount;

  PerBatch = Context.Options.BatchEntries != 0 ? Context.Options.BatchEntries : kDefaultBatchEntries;
  if (PerBatch < 0) throw std::invalid_argument(Format("Invalid batch entries: %d", PerBatch));
  Uncapped = static_cast<int32_t>((static_cast<int64_t>(st.RangeCount) + PerBatch - 1) / PerBatch);
  const uint32_t limit = static_cast<uint32_t>(Context.Options.BatchLimit);
  Planned = limit != 0 && limit < static_cast<uint32_t>(Uncapped) ? static_cast<int32_t>(limit) : Uncapped;
  st.PlannedBatches = Planned;

  Info(Format("Execution start: disk=%s, protocol=%s, mode=%s, ranges=%d, batches=%d, batch_limit=%d",
              Context.Disk.DevicePath, TransportToText(Context.Disk.Transport), RunModeToText(Context.RunMode),
              st.RangeCount, Planned, Context.Options.BatchLimit));
  LogPathLines();

  const TValidationResult r = Context.Validator.CheckTransport(Context.Disk, Executes);
  Info(r.Message);
  if (!r.Ok) throw std::runtime_error(r.Message);

  // Before anything is sent the disk under the planned number must prove to be the planned one.
  // A run without a batch sends nothing and leaves the disk alone.
  const bool touchesDisk = Executes && Planned > 0;
  if (touchesDisk) ProveDisk();
  const TForcedTrimPath forced = Context.Options.ForcedPath;
  const TTransportKind transport = Context.Disk.Transport;
  if (State.DeviceGone || !touchesDisk) {
    // Nothing is sent; a first batch reports a disk that has gone.
  } else if (State.Pinned) {
    PinVolumes();
  } else if ((forced == TForcedTrimPath::ftpScsiUnmap || forced == TForcedTrimPath::ftpAtaPassThrough) &&
             (transport == TTransportKind::tkBOT || transport == TTransportKind::tkUAS)) {
    LockVolumesUpFront();
  }
  if (State.UnmapEligible && touchesDisk && !State.DeviceGone) {
    CheckScsiBlockSize();
    if (!State.Closed(TTrimPath::tpScsiUnmap)) SizeScsiUnmap();
  }

  if (Context.Options.QuietIterations) {
    Info(
        "Repetitive iteration messages excluded by option: per-batch info lines are not logged (warnings/errors "
        "still are)");
    if (Context.Log) Context.Log->SetSuppressInfo(true);
  }
}

void TTrimRun::LogPathLines() {
  switch (Context.Options.ForcedPath) {
    case TForcedTrimPath::ftpScsiUnmap: Info("DEBUG: Forced SCSI UNMAP mode"); break;
    case TForcedTrimPath::ftpAtaPassThrough: Info("DEBUG: Forced ATA Pass-Through mode"); break;
    case TForcedTrimPath::ftpWindowsReTrim: Info("Forced Windows ReTrim mode: hardware TRIM paths skipped"); break;
    default:
      if (State.DsmFirst)
        Info(
            "UASP detected: will try DSM TRIM first, then SCSI UNMAP, then WRITE SAME(16)+UNMAP, then ATA "
            "Pass-Through");
      break;
  }
  if (State.Pinned) {
    Info("Pinned Volume guard active: UAS + NTFS volume; keeping mounted FS, no dismount before raw paths");
  } else if (Context.Options.ForcedPath == TForcedTrimPath::ftpAuto && Executes && !Context.Disk.Volumes.empty()) {
    if (Context.Disk.Transport == TTransportKind::tkBOT)
      Info(
          "Pinned Volume guard not applicable to BOT transport (ATA Pass-Through is the primary hardware path); "
          "legacy lock+dismount available");
    else if (Context.Disk.Transport == TTransportKind::tkUAS)
      Info(
          "Pinned Volume guard disabled: no NTFS volume on this disk (Optimize-Volume -ReTrim does not cover "
          "exFAT/FAT32); legacy lock+dismount available");
  }
  if (Context.Options.ExpertAtaRetry)
    Warn("Expert ATA retry mode enabled: after ReTrim 43022 failure, user may opt into ATA Pass-Through retry");
}

void TTrimRun::ProveDisk() {
  TDeviceHandle h = OpenProvenDisk(Context.Disk, Proof);
  if (Proof.Proven) {
    DiskDevice = std::make_shared<TDeviceHandle>(std::move(h));
    return;
  }
  Warn(Format("Disk identity not confirmed for %s: %s (winerr=%d); no command is sent", Context.Disk.DevicePath,
              Proof.Reason, Proof.WinErr));
  if (Proof.Gone) {
    // 55 or 1167, or 2: the path of the listed disk is no longer found.
    State.DeviceGone = true;
    State.GoneWinErr = Proof.WinErr;
  } else if (Proof.WinErr == 0) {
    // Another disk answers under the planned number: the planned one has gone from it.
    State.DeviceGone = true;
    State.IdentityFailure = Proof.Reason;
  } else {
    throw std::runtime_error("Disk identity not confirmed: " + Proof.Reason);
  }
}

void TTrimRun::PinVolumes() {
  CloseVolumeHandles();
  VolumeHandles.resize(Context.Disk.Volumes.size());
  for (size_t i = 0; i < Context.Disk.Volumes.size() && !State.DeviceGone; i++) {
    TVolumeProof proof;
    TDeviceHandle h = OpenVolume(Context.Disk.Volumes[i], proof);
    if (h.Valid()) {
      VolumeHandles[i] = std::move(h);
      Info(Format("Volume pinned (mounted, no dismount): %s", proof.Path));
    } else if (proof.OpenFailed) {
      Warn(Format("Cannot open guard handle for %s (winerr=%d)", proof.Path, proof.WinErr));
    } else if (!proof.Gone) {
      Warn(Format("Volume %s is not on the planned disk (%s); it is not pinned", proof.Path, proof.Reason));
    }
  }
}

void TTrimRun::LockVolumesUpFront() {
  TVolumeLockOutcome failure;
  if (LockAllVolumes(failure)) return;
  State.LockFailed = true;
  // Kept for the batch result: with the lock failed no stage may run, and the user must learn why.
  State.UpFrontLockMessage = LockFailureMessage(failure);
  State.UpFrontLockWinErr = failure.WinErr;
}

void TTrimRun::CheckScsiBlockSize() {
  // The set-up read the geometry on the run's own handle.
  const uint32_t bytesPerSector = Proof.BytesPerSector;
  const uint32_t err = Proof.GeometryRead ? 0 : Proof.GeometryWinErr;
  if (Proof.GeometryRead && bytesPerSector == 512) return;
  // SCSI block addresses count the disk's logical blocks, the planned ranges 512-byte sectors:
  // any other block size (or none known) would release the wrong blocks.
  State.Fail(TTrimPath::tpScsiUnmap);
  State.Fail(TTrimPath::tpWriteSame16);
  if (err != 0)
    Warn(Format("SCSI UNMAP and WRITE SAME(16) not used: logical sector size unknown (winerr=%d)", err));
  else
    Warn(
        Format("SCSI UNMAP and WRITE SAME(16) not used: disk reports %u-byte logical sectors (planned ranges "
               "count 512-byte sectors)",
               bytesPerSector));
}

void TTrimRun::SizeScsiUnmap() {
  // After a cancel no request is started on this thread: one that hangs would hold it for good.
  if (Host.IsCancelRequested()) return;
  uint32_t l = 0, d = 0;
  const TDeviceResult r = Context.Engine.QueryBlockLimitsVpd(Disk(), l, d);
  if (!r.Ok) {
    if (r.Fault == TDeviceFault::dfTransport) NoteDeviceGone(r.WinErr);
    Info(
        Format("Block Limits VPD (0xB0) unavailable; using default SCSI UNMAP sizing (%u sectors/cmd, up to %d "
               "descriptors)",
               kDefaultUnmapLbaPerCmd, kDefaultUnmapDescriptors));
    return;
  }
  // FFFFFFFFh: no maximum. Below 4096 blocks the page is not trusted.
  State.MaxUnmapLbaPerCmd = l == 0xFFFFFFFFu ? 67108864u : l;
  if (State.MaxUnmapLbaPerCmd < 4096) State.MaxUnmapLbaPerCmd = kDefaultUnmapLbaPerCmd;
  if (d > 4095)
    State.MaxUnmapDescriptors = 4095;
  else if (d != 0)
    State.MaxUnmapDescriptors = static_cast<int32_t>(d);
  Info(Format("SCSI UNMAP sizing from Block Limits VPD: max_lba_per_cmd=%u sectors, max_descriptors=%d",
              State.MaxUnmapLbaPerCmd, State.MaxUnmapDescriptors));
}

void TTrimRun::RunBatches() {
  const int32_t rangeCount = static_cast<int32_t>(Context.Ranges.size());
  for (int32_t b = 0; b < Planned; b++) {
    if (Host.IsCancelRequested()) {
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
    for (int32_t i = batch.First; i <= batch.Last; i++) batch.Sectors += Context.Ranges[i].SectorCount;
    batch.Result.BatchIndex = b;
    batch.Result.Entries = batch.Entries;
    if (Executes)
      ExecuteBatch(batch);
    else
      DryRunCheck(batch);
    if (!CountBatch(batch)) break;
  }
}

bool TTrimRun::NoteDeviceGone(uint32_t WinErr) {
  if (!State.DeviceGone && DeviceLeftBus(WinErr)) {
    State.DeviceGone = true;
    State.GoneWinErr = WinErr;
  }
  return State.DeviceGone;
}

// A stage runs while its path is open and its condition holds at that moment.
const std::array<TTrimRun::TStage, kTrimPathCount> TTrimRun::kChain{{
    {TTrimPath::tpStorageTrim, "DSM TRIM", [](const TTrimRun& R) { return R.State.DsmFirst; },
     &TTrimRun::StorageTrimStage},
    {TTrimPath::tpScsiUnmap, "SCSI UNMAP", [](const TTrimRun& R) { return R.State.UnmapEligible; },
     &TTrimRun::ScsiUnmapStage},
    {TTrimPath::tpWriteSame16, "WRITE SAME(16)+UNMAP",
     [](const TTrimRun& R) {
       const TTrimRunState& s = R.State;
       return s.UnmapEligible && s.Closed(TTrimPath::tpScsiUnmap) && !s.BridgeHang() && !s.Pinned && !s.LockFailed;
     },
     &TTrimRun::WriteSame16Stage},
    {TTrimPath::tpAtaPassThrough, "ATA Pass-Through",
     [](const TTrimRun& R) {
       const TTrimRunState& s = R.State;
       return (!s.UnmapEligible || s.Closed(TTrimPath::tpScsiUnmap)) && !s.ForcedReTrim && !s.Pinned &&
              !s.BridgeHang() && !s.LockFailed;
     },
     &TTrimRun::TryAtaPassThrough},
    // Offered at most once a run, on the free space of NTFS volumes only.
    {TTrimPath::tpReTrim, "Optimize-Volume -ReTrim",
     [](const TTrimRun& R) {
       return R.Context.TrimMode == TTrimMode::tmFreeSpace && R.State.HasNtfs &&
              R.State.Outcome(TTrimPath::tpReTrim) == TPathOutcome::poUntried;
     },
     &TTrimRun::ReTrimOffer},
}};

void TTrimRun::ExecuteBatch(TTrimBatch& B) {
  B.StageOk = false;
  const TStage* last = nullptr;
  for (const TStage& stage : kChain) {
    // A disk that has left the bus gets no further command, and after a cancel no further stage starts.
    if (B.Result.Success || State.DeviceGone || Host.IsCancelRequested()) break;
    if (State.Closed(stage.Path) || !stage.Eligible(*this)) continue;
    last = &stage;
    (this->*stage.Routine)(B);
  }
  if (!B.Result.Success) NameFailure(B, last);
}

void TTrimRun::NameFailure(TTrimBatch& B, const TStage* Last) {
  TBatchResult& r = B.Result;
  if (State.DeviceGone) {
    r.WinErr = State.GoneWinErr;
    r.Message = State.IdentityFailure.empty()
                    ? Format("Disk left the USB bus (winerr=%d); no further commands sent", State.GoneWinErr)
                    : "Disk identity not confirmed: " + State.IdentityFailure + "; no command sent";
  } else if (!r.Message.empty()) {
    // The stage that failed the batch said why.
  } else if (Host.IsCancelRequested()) {
    r.Message = "Cancelled by user";
  } else if (State.LockFailed && !State.UpFrontLockMessage.empty()) {
    r.WinErr = State.UpFrontLockWinErr;
    r.Message = State.UpFrontLockMessage;
  } else if (!B.ReTrimFailure.empty()) {
    r.Message = B.ReTrimFailure;
  } else if (State.ForcedReTrim) {
    // No hardware path, and Windows ReTrim does not apply.
    r.Message = Context.TrimMode == TTrimMode::tmFreeSpace
                    ? "Windows ReTrim only: no NTFS volume on this disk; no TRIM command sent"
                    : "Windows ReTrim only: not available for a full-device TRIM; no TRIM command sent";
  } else {
    // The chain leaves no other batch without a message; should that change, the line still says something.
    r.Message = Last ? Format("%s did not complete the batch; no further TRIM path applies", Last->Name)
                     : "No TRIM path applies to this batch";
  }
}

void TTrimRun::DryRunCheck(TTrimBatch& B) {
  // A range the payload cannot carry would be trimmed at a wrong address: stop the run instead.
  if (!TAtaPassThroughEngine::BuildDsmPayload(B.Payload, Context.Ranges, B.First, B.Entries))
    throw std::runtime_error("TRIM payload cannot carry a range beyond the 48-bit block address");
  const uint32_t n = static_cast<uint32_t>(B.Payload.size() / 512);
  if (n > kMaxDsmPayloadSectors)
    throw std::runtime_error(
        Format("TRIM payload too large for one ATA batch (%d sectors > %d); reduce batch entries", n,
               kMaxDsmPayloadSectors));
  B.Result.PayloadSectors = static_cast<int32_t>(n);
  if (!TAtaPassThroughEngine::BuildPt16DsmCdb(static_cast<uint16_t>(n), B.Cdb, ATA_PROTOCOL_DMA, true, true))
    throw std::runtime_error("Failed to build ATA PASS-THROUGH(16) CDB");
  const TValidationResult r =
      Context.Validator.ValidateCdb(Context.Engine, B.Cdb, static_cast<uint32_t>(B.Payload.size()));
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
  State.LastRequest = TDeviceResult{};
  int64_t applied = 0;
  for (const TVolumeInfo& v : Context.Disk.Volumes) {
    if (v.PartitionLength == 0) continue;
    if (Host.IsCancelRequested()) {
      B.StageOk = false;
      break;
    }
    // The request drops the ranges that begin outside the volume and cuts those that leave it.
    std::vector<TAtaPassThroughEngine::TDataSetRange> sent;
    B.StageOk =
        Context.Engine.PrepareDsmTrim(v, Context.Ranges, B.First, B.Entries, sent, State.LastRequest.WinErr);
    if (B.StageOk && !sent.empty()) {
      // Sent only through a handle of the planned volume on the run's disk.
      TVolumeProof proof;
      TDeviceHandle h = OpenVolume(v, proof);
      if (!h.Valid()) {
        B.StageOk = false;
        State.LastRequest.WinErr = proof.Gone ? proof.DiskWinErr : proof.WinErr;
        if (!proof.OpenFailed && !proof.Gone)
          Warn(Format("Volume %s is not on the planned disk (%s); no DSM TRIM sent to it", proof.Path,
                      proof.Reason));
      } else {
        B.StageOk = RecordRequest(
            Context.Engine.SendDsmTrim(TDeviceRef{h.Get(), proof.Path}, sent, B.Entries, Cooperative));
      }
    }
    B.Result.WinErr = State.LastRequest.WinErr;
    if (!B.StageOk) break;
    applied += static_cast<int64_t>(sent.size());
  }
  if (B.StageOk && applied == 0) {
    B.StageOk = false;
    Warn(Cooperative ? "DSM TRIM (cooperative) applied 0 ranges; falling back"
                     : "DSM TRIM applied 0 ranges (no mapped volume range matched); falling back");
  }
}

void TTrimRun::StorageTrimStage(TTrimBatch& B) {
  SendStorageTrim(B, false);
  // A request the cancel cut short is no sign that the path fails.
  if (!B.StageOk && Host.IsCancelRequested()) return;
  if (!B.StageOk && !State.DeviceGone && State.LastRequest.WinErr == ERROR_INVALID_FUNCTION &&
      !State.CooperativeTried) {
    State.CooperativeTried = true;
    Info("Retrying DSM TRIM in FS-cooperative mode (flag=0)");
    SendStorageTrim(B, true);
  }
  if (B.StageOk) {
    B.Result.Success = true;
    State.Outcome(TTrimPath::tpStorageTrim) = TPathOutcome::poOk;
    return;
  }
  State.Fail(TTrimPath::tpStorageTrim);
  NoteDeviceGone(State.LastRequest.WinErr);
  Warn(Format("DSM TRIM failed (winerr=%d), falling back to SCSI UNMAP", State.LastRequest.WinErr));
}

bool TTrimRun::CountBatch(const TTrimBatch& B) {
  TRunStats& st = Context.Stats;
  if (!B.Result.Success) {
    st.FailedBatches++;
    st.Failures.push_back(B.Result);
    Error(Format("Batch %d failed: %s", B.Index, B.Result.Message));
    return false;
  }
  st.SucceededBatches++;
  const bool covered = State.Outcome(TTrimPath::tpReTrim) == TPathOutcome::poOk;
  if (!covered) State.TrimmedSectors += B.Sectors;
  const int32_t done = ++st.DoneBatches;
  Host.ReportProgress(static_cast<uint32_t>(done), static_cast<uint32_t>(st.PlannedBatches),
                      Format("Batch %d/%d", done, st.PlannedBatches));
  if (!covered) return true;
  Info("Optimize-Volume -ReTrim covers all free space; skipping remaining batches");
  if (Planned - B.Index - 1 > 0) st.SkippedBatches += Planned - B.Index - 1;
  return false;
}

void TTrimRun::EndLoop() {
  if (Context.Log) Context.Log->SetSuppressInfo(false);
  CountUnrunBatches();
  if (Uncapped > Planned) Context.Stats.SkippedBatches += Uncapped - Planned;
  CloseVolumeHandles();
  DiskDevice.reset();
}

void TTrimRun::Abort(const std::string& Message) {
  if (Context.Log) Context.Log->SetSuppressInfo(false);
  Error("Executor fatal: " + Message);
  // The batches before the fault are counted; the fault itself is the one extra failure.
  CountUnrunBatches();
  Context.Stats.FailedBatches++;
  CloseVolumeHandles();
  DiskDevice.reset();
}

void TTrimRun::CountUnrunBatches() {
  TRunStats& st = Context.Stats;
  const int32_t accounted = st.SucceededBatches + st.FailedBatches + st.SkippedBatches;
  if (st.PlannedBatches > accounted) st.SkippedBatches += st.PlannedBatches - accounted;
}

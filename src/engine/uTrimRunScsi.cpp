// The SCSI stages of a run: UNMAP over the batch's touching ranges joined into spans, and
// WRITE SAME(16) with the UNMAP bit once UNMAP has failed, after one small probe.
#include <algorithm>
#include <limits>

#include "core/uFormat.h"
#include "core/uLogger.h"
#include "engine/uTrimRun.h"
#include "platform/Platform.h"

using namespace plat;

namespace {

constexpr uint32_t kUasNonNtfsUnmapTimeoutMs = 2500;
constexpr uint64_t kMinUnmapLbaPerCmd = 4096;
constexpr uint32_t kWs16ProbeBlocks = 8;

uint64_t RangeEnd(const TTrimRange& R) {
  // Exclusive; saturates rather than wrap to block 0.
  return R.StartLba > std::numeric_limits<uint64_t>::max() - R.SectorCount ? std::numeric_limits<uint64_t>::max()
                                                                           : R.StartLba + R.SectorCount;
}

}  // namespace

void TTrimRun::ScsiUnmapStage(TTrimBatch& B) {
  if (!State.Dismounted && !State.Pinned) {
    // Handles a failed up-front lock left behind still hold their volumes: they are closed first.
    TVolumeLockOutcome failure;
    if (!LockAllVolumes(failure)) {
      State.LockFailed = true;
      State.Fail(TTrimPath::tpScsiUnmap);
      B.Result.WinErr = State.LastLockWinErr;
      B.Result.Message = "Volume lock/dismount failed or timed out; close apps using the drive and retry";
      return;
    }
  }
  B.Result.PayloadSectors = 0;

  State.UnmapTimeoutMs = CommandTimeoutMs();
  if (Context.Disk.Transport == TTransportKind::tkUAS && !Context.Disk.Volumes.empty() && !State.HasNtfs &&
      State.UnmapTimeoutMs > kUasNonNtfsUnmapTimeoutMs) {
    State.UnmapTimeoutMs = kUasNonNtfsUnmapTimeoutMs;
    Info(Format("UAS non-NTFS bridge guard: limiting SCSI UNMAP timeout to %d ms", kUasNonNtfsUnmapTimeoutMs));
  }
  State.UnmapHangThresholdMs = State.UnmapTimeoutMs >= 1000 ? State.UnmapTimeoutMs - 500 : State.UnmapTimeoutMs;

  B.StageOk = true;
  for (int32_t i = B.First; i <= B.Last;) {
    if (Host.IsCancelRequested()) {
      B.StageOk = false;
      break;
    }
    // Only ranges that touch are joined; a gap between two ranges is never released.
    const uint64_t start = Context.Ranges[i].StartLba;
    uint64_t end = RangeEnd(Context.Ranges[i]);
    int32_t j = i + 1;
    while (j <= B.Last && Context.Ranges[j].StartLba == end) end = std::max(end, RangeEnd(Context.Ranges[j++]));
    if (end > start && !ScsiUnmapSpan(start, end - 1)) {
      B.StageOk = false;
      break;
    }
    i = j;
  }

  B.Result.Retries = 0;
  CopyLastRequest(B);
  if (FailIfCancelled(B)) return;
  const TDeviceResult& last = State.LastRequest;
  if (B.StageOk) {
    B.Result.Success = true;
    State.Outcome(TTrimPath::tpScsiUnmap) = TPathOutcome::poOk;
    return;
  }
  State.Fail(TTrimPath::tpScsiUnmap);
  NoteDeviceGone(last.WinErr);
  if (State.Pinned && last.WinErr == ERROR_ACCESS_DENIED)
    Info(
        "SCSI UNMAP rejected by Pinned Volume guard (winerr=5); bridge protected, routing to Optimize-Volume "
        "-ReTrim");
  else
    Warn(Format("SCSI UNMAP failed (winerr=%d, sense=%d/%d/%d), falling back to WRITE SAME(16)+UNMAP", last.WinErr,
                last.SenseKey, last.Asc, last.Ascq));
  if (State.Outcome(TTrimPath::tpScsiUnmap) == TPathOutcome::poHung) {
    B.Result.Success = false;
    B.Result.Message = "SCSI UNMAP bridge hang detected; skipped unsafe fallback paths";
  }
}

bool TTrimRun::ScsiUnmapSpan(uint64_t StartLba, uint64_t EndLba) {
  if (StartLba > EndLba) return true;
  uint64_t cur = StartLba;
  const TDeviceResult& last = State.LastRequest;
  TTrimRangeArray list;
  TByteArray param;
  while (cur <= EndLba) {
    if (Host.IsCancelRequested()) return false;
    list.clear();
    uint64_t pos = cur;
    bool reachedEnd = false;
    while (static_cast<int32_t>(list.size()) < State.MaxUnmapDescriptors && !reachedEnd) {
      const uint64_t len = std::min<uint64_t>(State.MaxUnmapLbaPerCmd, EndLba - pos + 1);
      list.push_back({pos, len});
      // The span may end at the last addressable block: stop rather than wrap past it.
      if (EndLba - pos + 1 == len)
        reachedEnd = true;
      else
        pos += len;
    }
    TAtaPassThroughEngine::BuildUnmapParameterList(param, list, 0, static_cast<int32_t>(list.size()));
    const uint64_t tick = Win().GetTickCount64();
    const TDeviceResult r = Context.Engine.SendScsiUnmap(Disk(), param, State.UnmapTimeoutMs, list.size() > 1);
    const uint64_t elapsed = Win().GetTickCount64() - tick;
    RecordRequest(r);
    if (r.Ok) {
      if (reachedEnd) return true;
      cur = pos;
      continue;
    }
    const bool paramListRejected = ClassifySense(last) == TSenseClass::scInvalidFieldInParameterList;
    if (last.WinErr == ERROR_IO_DEVICE && elapsed >= State.UnmapHangThresholdMs && !paramListRejected) {
      State.Outcome(TTrimPath::tpScsiUnmap) = TPathOutcome::poHung;
      Warn(Format(
          "SCSI UNMAP hang detected (winerr=1117 after %d ms >= threshold %d ms); skipping ATA Pass-Through "
          "to keep the bridge alive",
          elapsed, State.UnmapHangThresholdMs));
      return false;
    }
    if (!paramListRejected) return false;
    if (State.MaxUnmapDescriptors > 1) {
      State.MaxUnmapDescriptors = 1;
      Info("SCSI UNMAP: bridge rejected multi-descriptor list; switching to single-descriptor mode");
    } else if (State.MaxUnmapLbaPerCmd > kMinUnmapLbaPerCmd) {
      State.MaxUnmapLbaPerCmd = std::max(State.MaxUnmapLbaPerCmd / 2, kMinUnmapLbaPerCmd);
      Info(Format("SCSI UNMAP: bridge rejected descriptor size; shrinking per-command LBA cap to %u sectors",
                  State.MaxUnmapLbaPerCmd));
    } else {
      return false;
    }
  }
  return true;
}

void TTrimRun::WriteSame16Stage(TTrimBatch& B) {
  const TDeviceResult& last = State.LastRequest;
  if (State.Outcome(TTrimPath::tpWriteSame16) != TPathOutcome::poOk) {
    // The probe releases blocks of the batch's first range that has any, never a block outside it.
    int32_t p = B.First;
    while (p <= B.Last && Context.Ranges[p].SectorCount == 0) p++;
    if (p <= B.Last) {
      const uint64_t lba = Context.Ranges[p].StartLba;
      const uint32_t count =
          static_cast<uint32_t>(std::min<uint64_t>(Context.Ranges[p].SectorCount, kWs16ProbeBlocks));
      Info(Format("WRITE SAME(16)+UNMAP probe: lba=%u, count=%d (small probe before committing)", lba, count));
      const uint64_t tick = Win().GetTickCount64();
      B.StageOk = RecordRequest(Context.Engine.SendWriteSame16Unmap(Disk(), lba, count, CommandTimeoutMs(), true));
      const uint64_t elapsed = Win().GetTickCount64() - tick;
      if (!B.StageOk) {
        State.Fail(TTrimPath::tpWriteSame16);
        NoteDeviceGone(last.WinErr);
        Warn(
            Format("WRITE SAME(16)+UNMAP probe failed (winerr=%d, sense=%d/%d/%d, elapsed=%d ms), falling back to "
                   "ATA Pass-Through",
                   last.WinErr, last.SenseKey, last.Asc, last.Ascq, elapsed));
        return;
      }
      State.Outcome(TTrimPath::tpWriteSame16) = TPathOutcome::poOk;
      Info(Format("WRITE SAME(16)+UNMAP probe OK (elapsed=%d ms); using as fallback for remaining batches",
                  elapsed));
    }
  }

  B.Result.PayloadSectors = 0;
  B.Result.Retries = 0;
  B.StageOk = true;
  const uint32_t timeout = CommandTimeoutMs();
  for (int32_t i = B.First; i <= B.Last && B.StageOk; i++) {
    if (Host.IsCancelRequested()) {
      B.StageOk = false;
      break;
    }
    const TTrimRange& r = Context.Ranges[i];
    // A range longer than one command's 32-bit count goes in pieces, never cut short.
    for (uint64_t done = 0; done < r.SectorCount;) {
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(r.SectorCount - done, 0xFFFFFFFFu));
      B.StageOk = RecordRequest(Context.Engine.SendWriteSame16Unmap(Disk(), r.StartLba + done, n, timeout, false));
      if (!B.StageOk) {
        Warn(Format(
            "WRITE SAME(16)+UNMAP failed on range %d/%d (lba=%u, count=%u, winerr=%d, sense=%d/%d/%d); marking "
            "path failed",
            i, B.Last, r.StartLba, r.SectorCount, last.WinErr, last.SenseKey, last.Asc, last.Ascq));
        State.Fail(TTrimPath::tpWriteSame16);
        NoteDeviceGone(last.WinErr);
        break;
      }
      done += n;
    }
  }
  CopyLastRequest(B);
  if (!FailIfCancelled(B) && B.StageOk) B.Result.Success = true;
}

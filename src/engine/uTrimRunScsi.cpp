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
  if (!S.Dismounted && !S.Pinned) {
    // Handles a failed up-front lock left behind still hold their volumes: they are closed first.
    TVolumeLockOutcome failure;
    if (!LockAllVolumes(failure)) {
      S.LockFailed = true;
      S.UnmapFailed = true;
      B.Result.WinErr = S.LastLockWinErr;
      B.Result.Message = "Volume lock/dismount failed or timed out; close apps using the drive and retry";
      return;
    }
  }
  B.Result.PayloadSectors = 0;

  S.UnmapTimeoutMs = CommandTimeoutMs();
  if (C.Disk.Transport == TTransportKind::tkUAS && !C.Disk.Volumes.empty() && !S.HasNtfs &&
      S.UnmapTimeoutMs > kUasNonNtfsUnmapTimeoutMs) {
    S.UnmapTimeoutMs = kUasNonNtfsUnmapTimeoutMs;
    Info(Format("UAS non-NTFS bridge guard: limiting SCSI UNMAP timeout to %d ms", kUasNonNtfsUnmapTimeoutMs));
  }
  S.UnmapHangThresholdMs = S.UnmapTimeoutMs >= 1000 ? S.UnmapTimeoutMs - 500 : S.UnmapTimeoutMs;

  B.StageOk = true;
  for (int32_t i = B.First; i <= B.Last;) {
    if (H.IsCancelRequested()) {
      B.StageOk = false;
      break;
    }
    // Only ranges that touch are joined; a gap between two ranges is never released.
    const uint64_t start = C.Ranges[i].StartLba;
    uint64_t end = RangeEnd(C.Ranges[i]);
    int32_t j = i + 1;
    while (j <= B.Last && C.Ranges[j].StartLba == end) end = std::max(end, RangeEnd(C.Ranges[j++]));
    if (end > start && !ScsiUnmapSpan(start, end - 1)) {
      B.StageOk = false;
      break;
    }
    i = j;
  }

  B.Result.Retries = 0;
  RecordStageValues(B);
  if (FailIfCancelled(B)) return;
  if (B.StageOk) {
    B.Result.Success = true;
    return;
  }
  S.UnmapFailed = true;
  NoteDeviceGone(S.Stage.WinErr);
  if (S.Pinned && S.Stage.WinErr == ERROR_ACCESS_DENIED)
    Info(
        "SCSI UNMAP rejected by Pinned Volume guard (winerr=5); bridge protected, routing to Optimize-Volume "
        "-ReTrim");
  else
    Warn(Format("SCSI UNMAP failed (winerr=%d, sense=%d/%d/%d), falling back to WRITE SAME(16)+UNMAP",
                S.Stage.WinErr, S.Stage.SenseKey, S.Stage.Asc, S.Stage.Ascq));
  if (S.BridgeHang) {
    B.Result.Success = false;
    B.Result.Message = "SCSI UNMAP bridge hang detected; skipped unsafe fallback paths";
  }
}

bool TTrimRun::ScsiUnmapSpan(uint64_t StartLba, uint64_t EndLba) {
  if (StartLba > EndLba) return true;
  uint64_t cur = StartLba;
  TTrimRangeArray list;
  TByteArray param;
  while (cur <= EndLba) {
    if (H.IsCancelRequested()) return false;
    list.clear();
    uint64_t pos = cur;
    bool reachedEnd = false;
    while (static_cast<int32_t>(list.size()) < S.MaxUnmapDescriptors && !reachedEnd) {
      const uint64_t len = std::min<uint64_t>(S.MaxUnmapLbaPerCmd, EndLba - pos + 1);
      list.push_back({pos, len});
      // The span may end at the last addressable block: stop rather than wrap past it.
      if (EndLba - pos + 1 == len)
        reachedEnd = true;
      else
        pos += len;
    }
    TAtaPassThroughEngine::BuildUnmapParameterList(param, list, 0, static_cast<int32_t>(list.size()));
    const uint64_t tick = Win().GetTickCount64();
    const TDeviceResult r = C.Engine.SendScsiUnmap(Disk(), param, S.UnmapTimeoutMs, list.size() > 1);
    const uint64_t elapsed = Win().GetTickCount64() - tick;
    RecordStage(r);
    if (r.Ok) {
      if (reachedEnd) return true;
      cur = pos;
      continue;
    }
    const bool paramListRejected = ClassifySense(S.Stage) == TSenseClass::scInvalidFieldInParameterList;
    if (S.Stage.WinErr == ERROR_IO_DEVICE && elapsed >= S.UnmapHangThresholdMs && !paramListRejected) {
      S.BridgeHang = true;
      Warn(Format(
          "SCSI UNMAP hang detected (winerr=1117 after %d ms >= threshold %d ms); skipping ATA Pass-Through "
          "to keep the bridge alive",
          elapsed, S.UnmapHangThresholdMs));
      return false;
    }
    if (!paramListRejected) return false;
    if (S.MaxUnmapDescriptors > 1) {
      S.MaxUnmapDescriptors = 1;
      Info("SCSI UNMAP: bridge rejected multi-descriptor list; switching to single-descriptor mode");
    } else if (S.MaxUnmapLbaPerCmd > kMinUnmapLbaPerCmd) {
      S.MaxUnmapLbaPerCmd = std::max(S.MaxUnmapLbaPerCmd / 2, kMinUnmapLbaPerCmd);
      Info(Format("SCSI UNMAP: bridge rejected descriptor size; shrinking per-command LBA cap to %u sectors",
                  S.MaxUnmapLbaPerCmd));
    } else {
      return false;
    }
  }
  return true;
}

void TTrimRun::WriteSame16Stage(TTrimBatch& B) {
  if (!S.Ws16ProbeOk) {
    // The probe releases blocks of the batch's first range that has any, never a block outside it.
    int32_t p = B.First;
    while (p <= B.Last && C.Ranges[p].SectorCount == 0) p++;
    if (p <= B.Last) {
      const uint64_t lba = C.Ranges[p].StartLba;
      const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(C.Ranges[p].SectorCount, kWs16ProbeBlocks));
      Info(Format("WRITE SAME(16)+UNMAP probe: lba=%u, count=%d (small probe before committing)", lba, count));
      const uint64_t tick = Win().GetTickCount64();
      B.StageOk = RecordStage(C.Engine.SendWriteSame16Unmap(Disk(), lba, count, CommandTimeoutMs(), true));
      const uint64_t elapsed = Win().GetTickCount64() - tick;
      if (!B.StageOk) {
        S.Ws16Failed = true;
        NoteDeviceGone(S.Stage.WinErr);
        Warn(
            Format("WRITE SAME(16)+UNMAP probe failed (winerr=%d, sense=%d/%d/%d, elapsed=%d ms), falling back to "
                   "ATA Pass-Through",
                   S.Stage.WinErr, S.Stage.SenseKey, S.Stage.Asc, S.Stage.Ascq, elapsed));
        return;
      }
      S.Ws16ProbeOk = true;
      Info(Format("WRITE SAME(16)+UNMAP probe OK (elapsed=%d ms); using as fallback for remaining batches",
                  elapsed));
    }
  }

  B.Result.PayloadSectors = 0;
  B.Result.Retries = 0;
  B.StageOk = true;
  const uint32_t timeout = CommandTimeoutMs();
  for (int32_t i = B.First; i <= B.Last && B.StageOk; i++) {
    if (H.IsCancelRequested()) {
      B.StageOk = false;
      break;
    }
    const TTrimRange& r = C.Ranges[i];
    // A range longer than one command's 32-bit count goes in pieces, never cut short.
    for (uint64_t done = 0; done < r.SectorCount;) {
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(r.SectorCount - done, 0xFFFFFFFFu));
      B.StageOk = RecordStage(C.Engine.SendWriteSame16Unmap(Disk(), r.StartLba + done, n, timeout, false));
      if (!B.StageOk) {
        Warn(Format(
            "WRITE SAME(16)+UNMAP failed on range %d/%d (lba=%u, count=%u, winerr=%d, sense=%d/%d/%d); marking "
            "path failed",
            i, B.Last, r.StartLba, r.SectorCount, S.Stage.WinErr, S.Stage.SenseKey, S.Stage.Asc, S.Stage.Ascq));
        S.Ws16Failed = true;
        NoteDeviceGone(S.Stage.WinErr);
        break;
      }
      done += n;
    }
  }
  RecordStageValues(B);
  if (!FailIfCancelled(B) && B.StageOk) B.Result.Success = true;
}

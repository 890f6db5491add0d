// The ATA pass-through stage: one DATA SET MANAGEMENT (TRIM) command per batch, walked over the
// command-block configurations bridges differ in, each attempt on a worker with a hang limit.
#include <array>

#include "core/uFormat.h"
#include "core/uLogger.h"
#include "engine/uTrimRun.h"
#include "platform/Platform.h"

using namespace plat;

namespace {

struct TAtaCdbConfig {
  const char* Name;
  uint8_t Protocol;
  bool Extend;
  bool CkCond;
  bool Pt12;
};

constexpr std::array<TAtaCdbConfig, 5> kAtaConfigs{{
    {"DMA+EXTEND", ATA_PROTOCOL_DMA, true, true, false},
    {"DMA", ATA_PROTOCOL_DMA, false, false, false},
    {"PIO", ATA_PROTOCOL_PIO_DATA_OUT, false, false, false},
    {"PT12-DMA", ATA_PROTOCOL_DMA, true, true, true},
    {"PT12-PIO", ATA_PROTOCOL_PIO_DATA_OUT, false, false, true},
}};

constexpr uint32_t kPt12MaxSectors = 255;
constexpr uint32_t kHangMarginMs = 45000;
constexpr uint32_t kRetryStepMs = 200;

const char* YesNo(bool B) { return B ? "Y" : "N"; }

}  // namespace

bool TTrimRun::LockVolumesForAta(TTrimBatch& B) {
  // Handles an earlier failed lock left behind would otherwise be lost and keep their locks.
  CloseVolumeHandles();
  VolumeHandles.resize(Context.Disk.Volumes.size());
  for (size_t i = 0; i < Context.Disk.Volumes.size(); i++) {
    const TVolumeLockOutcome o = LockVolume(i);
    if (!o.Ok) {
      B.Result.WinErr = o.WinErr;
      B.Result.Message = LockFailureMessage(o);
      return false;
    }
  }
  State.Dismounted = true;
  return true;
}

void TTrimRun::TryAtaPassThrough(TTrimBatch& B) {
  B.StageOk = false;
  B.Result.Success = false;
  B.Result.Message.clear();
  const TTransportKind transport = Context.Disk.Transport;
  if (!State.Dismounted && (transport == TTransportKind::tkBOT || transport == TTransportKind::tkUAS) &&
      !LockVolumesForAta(B))
    return;

  // A range the payload cannot carry would be trimmed at a wrong address: no command at all.
  if (!TAtaPassThroughEngine::BuildDsmPayload(B.Payload, Context.Ranges, B.First, B.Entries)) {
    B.Result.WinErr = ERROR_INVALID_PARAMETER;
    B.Result.Message = "TRIM payload cannot carry a range beyond the 48-bit block address";
    Error(B.Result.Message);
    return;
  }
  const uint32_t n = static_cast<uint32_t>(B.Payload.size() / 512);
  if (n > kMaxDsmPayloadSectors || n == 0) {
    B.Result.WinErr = ERROR_INVALID_PARAMETER;
    B.Result.PayloadSectors = static_cast<int32_t>(n);
    B.Result.Message = Format("TRIM payload too large for one ATA batch (%d sectors > %d); reduce batch entries",
                              n, kMaxDsmPayloadSectors);
    Error(B.Result.Message);
    return;
  }
  B.Result.PayloadSectors = static_cast<int32_t>(n);
  if (State.AtaConfigIndex < 0) State.AtaConfigIndex = 0;

  const uint32_t timeoutMs = CommandTimeoutMs();
  const uint32_t hangMs = timeoutMs + kHangMarginMs;
  const int32_t retries = Context.Options.AtaRetries;
  TByteArray cdb(16, 0);
  const TDeviceResult& last = State.LastRequest;
  while (!B.StageOk && !Host.IsCancelRequested() &&
         State.AtaConfigIndex < static_cast<int32_t>(kAtaConfigs.size())) {
    const TAtaCdbConfig& c = kAtaConfigs[static_cast<size_t>(State.AtaConfigIndex)];
    if (c.Pt12 && n > kPt12MaxSectors) {
      Warn(Format("Skipping ATA Pass-Through config %s: payload sectors=%d exceed PT12 limit (255)", c.Name, n));
      State.AtaConfigIndex++;
      continue;
    }
    Info(Format("Trying ATA Pass-Through config: %s (protocol=%d, extend=%s, ck_cond=%s)", c.Name, c.Protocol,
                YesNo(c.Extend), YesNo(c.CkCond)));
    bool hang = false;
    for (int32_t a = 0; a <= retries; a++) {
      if (Host.IsCancelRequested()) break;
      if (a > 0) {
        const uint32_t delay = static_cast<uint32_t>(a) * kRetryStepMs;
        Warn(Format("ATA PT retry %d/%d after %d ms", a, retries, delay));
        Win().Sleep(delay);
        // A cancel during the delay: the attempt is not made.
        if (Host.IsCancelRequested()) break;
      }
      // With a payload of 1 to 65535 blocks (at most 255 for the 12-byte block) the builders
      // cannot refuse; were one to, nothing is sent.
      const bool built =
          c.Pt12 ? TAtaPassThroughEngine::BuildPt12DsmCdb(static_cast<uint8_t>(n), cdb, c.Protocol, c.CkCond)
                 : TAtaPassThroughEngine::BuildPt16DsmCdb(static_cast<uint16_t>(n), cdb, c.Protocol, c.Extend,
                                                          c.CkCond);
      B.StageOk =
          RecordRequest(built ? Host.RunAtaBatchWithTimeout(cdb, B.Payload, timeoutMs, hangMs, DiskDevice, hang)
                              : RefusedResult("the command block could not be built"));
      if (hang) {
        State.Outcome(TTrimPath::tpAtaPassThrough) = TPathOutcome::poHung;
        Warn(Format(
            "ATA Pass-Through hang detected: no response within %d ms; abandoning the path to keep the bridge "
            "enumerated",
            hangMs));
        B.Result.Retries = a;
        B.Result.WinErr = last.WinErr;
        B.Result.Success = false;
        B.Result.Message = "ATA Pass-Through bridge hang detected; skipped to keep the bus enumerated";
        break;
      }
      B.Result.Retries = a;
      CopyLastRequest(B);
      if (B.StageOk) {
        B.Result.Success = true;
        State.Outcome(TTrimPath::tpAtaPassThrough) = TPathOutcome::poOk;
        break;
      }
      NoteDeviceGone(last.WinErr);
      if (State.DeviceGone) break;
      const uint32_t e = last.WinErr;
      if (e == ERROR_INVALID_PARAMETER || e == ERROR_NOT_SUPPORTED || e == ERROR_INVALID_FUNCTION) {
        B.Result.Success = false;
        B.Result.Message = "Permanent failure code, stopping";
        break;
      }
      if (e == ERROR_IO_DEVICE) break;
      const TSenseClass sense = ClassifySense(last);
      if (sense == TSenseClass::scInvalidFieldInCdb || sense == TSenseClass::scInvalidOpcode) break;
    }
    if (B.Result.Success || State.BridgeHang() || State.DeviceGone || Host.IsCancelRequested()) break;
    State.AtaConfigIndex++;
  }

  if (B.Result.Success) return;
  if (Host.IsCancelRequested()) {
    B.Result.Message = "Cancelled by user";
    return;
  }
  State.Fail(TTrimPath::tpAtaPassThrough);
  if (B.Result.Message.empty() && !State.DeviceGone) {
    B.Result.Message = Format("All CDB configs and %d retries exhausted (winerr=%d, sense=%d/%d/%d)", retries + 1,
                              last.WinErr, last.SenseKey, last.Asc, last.Ascq);
  }
}

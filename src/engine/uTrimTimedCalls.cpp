// The two device calls known to hang behind a stuck bridge, each on a short-lived worker that the
// run waits for with a limit and abandons after a cancel and a grace period; and the volume lock
// and dismount sequence built on them.
#include <functional>

#include "core/uFormat.h"
#include "core/uLogger.h"
#include "device/uDiskIdentity.h"
#include "engine/uTrimExecutor.h"
#include "platform/Platform.h"
#include "platform/WinFsControl.h"

using namespace plat;

TVolumeIoctlThread::TVolumeIoctlThread(HANDLE Handle, DWORD ControlCode)
    : TThread(DefaultStackSize), FHandle(Handle), FControlCode(ControlCode) {}

void TVolumeIoctlThread::Execute() {
  DWORD returned = 0;
  FOk = Win().DeviceIoControl(FHandle, FControlCode, nullptr, 0, nullptr, 0, &returned) != 0;
  FWinErr = FOk ? 0 : Win().GetLastError();
}

TAtaTrimBatchThread::TAtaTrimBatchThread(const std::string& Path, const TByteArray& Cdb, const TByteArray& Payload,
                                         uint32_t TimeoutMs, std::shared_ptr<TDeviceHandle> Device)
    : TThread(DefaultStackSize),
      FPath(Path),
      FDevice(std::move(Device)),
      FCdb(Cdb),
      FPayload(Payload),
      FTimeoutMs(TimeoutMs) {}

void TAtaTrimBatchThread::Execute() {
  // Without a log: the run writes the one line of a failed attempt itself.
  TAtaPassThroughEngine engine(nullptr);
  if (FDevice) {
    FResult = engine.SendAtaPassThroughDsm(TDeviceRef{FDevice->Get(), FPath}, FCdb, FPayload, FTimeoutMs);
    return;
  }
  FResult.Ok = engine.SendAtaPassThroughDsm(FPath, FCdb, FPayload, FTimeoutMs, FResult.WinErr, FResult.SenseKey,
                                            FResult.Asc, FResult.Ascq, FResult.ScsiStatus);
}

namespace {

struct TWorkerWait {
  DWORD Wait = WAIT_FAILED;  // WAIT_OBJECT_0: the worker ended
  DWORD WinErr = 0;          // of a wait that failed
};

// The one wait of both time-limited calls: for the worker's end in steps of StepMs, until Stop,
// asked after each step that did not see the end (with the wait's result and the milliseconds
// since Start), says to stop.
TWorkerWait WaitForWorker(TThread& Worker, DWORD StepMs, uint64_t Start,
                          const std::function<bool(DWORD Wait, uint64_t ElapsedMs)>& Stop) {
  for (;;) {
    TWorkerWait w;
    w.Wait = Win().WaitForSingleObject(Worker.Handle(), StepMs);
    if (w.Wait == WAIT_OBJECT_0) return w;
    if (w.Wait != WAIT_TIMEOUT) w.WinErr = Win().GetLastError();
    if (Stop(w.Wait, Win().GetTickCount64() - Start)) return w;
  }
}

// Gives up on a worker still blocked in its call: asks Windows to cancel the call, waits GraceMs,
// then frees a worker that ended or hands it its own release. True when it was freed.
bool CancelAndRelease(TThread* Worker, DWORD GraceMs) {
  Win().CancelSynchronousIo(Worker->Handle());
  if (Win().WaitForSingleObject(Worker->Handle(), GraceMs) == WAIT_OBJECT_0) {
    delete Worker;
    return true;
  }
  Worker->Abandon();
  return false;
}

}  // namespace

bool TTrimExecutionThread::RunVolumeIoctlWithTimeout(HANDLE Handle, DWORD ControlCode, uint32_t TimeoutMs,
                                                     const std::string& OpName, const std::string& VolumeName,
                                                     uint32_t& WinErr) {
  WinErr = 0;
  const uint64_t start = Win().GetTickCount64();
  auto* worker = new TVolumeIoctlThread(Handle, ControlCode);
  worker->Start();
  // One wait of the whole limit; the cancel flag is not looked at.
  const TWorkerWait w = WaitForWorker(*worker, TimeoutMs, start, [](DWORD, uint64_t) { return true; });
  if (w.Wait == WAIT_OBJECT_0) {
    const bool ok = worker->Ok();
    WinErr = worker->WinErr();
    delete worker;
    const uint64_t elapsed = Win().GetTickCount64() - start;
    if (FLogger) {
      if (ok)
        FLogger->Info(Format("%s completed: %s elapsed_ms=%d", OpName, VolumeName, elapsed));
      else
        FLogger->Warn(Format("%s failed: %s (winerr=%d, elapsed_ms=%d)", OpName, VolumeName, WinErr, elapsed));
    }
    return ok;
  }
  if (w.Wait == WAIT_TIMEOUT) {
    WinErr = ERROR_WAIT_TIMEOUT;
    const bool freed = CancelAndRelease(worker, kVolumeIoctlGraceMs);
    const uint64_t elapsed = Win().GetTickCount64() - start;
    if (FLogger) {
      FLogger->Warn(
          Format("%s timeout: %s after %d ms; raw TRIM path will be skipped", OpName, VolumeName, elapsed));
      if (!freed) FLogger->Warn(Format("%s worker still pending after cancellation: %s", OpName, VolumeName));
    }
    return false;
  }
  WinErr = w.WinErr;
  const uint64_t elapsed = Win().GetTickCount64() - start;
  if (FLogger)
    FLogger->Warn(Format("%s wait failed: %s (wait=%d, winerr=%d, elapsed_ms=%d)", OpName, VolumeName, w.Wait,
                         WinErr, elapsed));
  // No wait without a bound on a request that may hang: give the worker up as after a time-out.
  if (!CancelAndRelease(worker, kVolumeIoctlGraceMs) && FLogger)
    FLogger->Warn(Format("%s worker still pending after cancellation: %s", OpName, VolumeName));
  return false;
}

TDeviceResult TTrimExecutionThread::RunAtaBatchWithTimeout(const TByteArray& Cdb, const TByteArray& Payload,
                                                           uint32_t TimeoutMs, uint32_t HangMs,
                                                           const std::shared_ptr<TDeviceHandle>& Device,
                                                           bool& Hang) {
  Hang = false;
  auto* worker = new TAtaTrimBatchThread(FDisk.DevicePath, Cdb, Payload, TimeoutMs, Device);
  worker->Start();
  const uint64_t start = Win().GetTickCount64();
  bool waitFailed = false;
  // Watched in short steps: a cancel is seen within one, the hang limit at the end of one.
  const TWorkerWait w = WaitForWorker(*worker, kAtaPollMs, start, [&](DWORD Wait, uint64_t Elapsed) {
    if (IsCancelRequested()) return true;
    waitFailed = Wait != WAIT_TIMEOUT;  // one that fails at once would spin here without end
    Hang = !waitFailed && Elapsed >= HangMs;
    return waitFailed || Hang;
  });
  if (w.Wait == WAIT_OBJECT_0) {
    TDeviceResult r = worker->Result();
    delete worker;
    if (!r.Ok && FLogger)
      FLogger->LogApiCall("DeviceIoControl(ATA PASS-THROUGH DSM)",
                          Format("path=%s, payload=%d, timeout_ms=%d, scsi_status=%d", FDisk.DevicePath,
                                 Payload.size(), TimeoutMs, r.ScsiStatus),
                          false, r.WinErr, Win().GetTickCount64() - start);
    return r;
  }
  // Given up: after a cancel (no error), a failed wait, or at the hang limit (258).
  TDeviceResult r;
  if (waitFailed || Hang) {
    r.Fault = TDeviceFault::dfTransport;
    r.WinErr = Hang ? uint32_t{ERROR_WAIT_TIMEOUT} : w.WinErr;
  }
  if (waitFailed && FLogger)
    FLogger->Warn(Format("ATA PASS-THROUGH DSM wait failed (winerr=%d); attempt abandoned", r.WinErr));
  CancelAndRelease(worker, kAtaGraceMs);
  return r;
}

bool TTrimExecutionThread::RunAtaBatchWithTimeout(const TByteArray& Cdb, const TByteArray& Payload,
                                                  uint32_t TimeoutMs, uint32_t HangMs, uint32_t& WinErr,
                                                  uint8_t& SenseKey, uint8_t& Asc, uint8_t& Ascq, bool& Hang) {
  const TDeviceResult r = RunAtaBatchWithTimeout(Cdb, Payload, TimeoutMs, HangMs, nullptr, Hang);
  SplitResult(r, WinErr, SenseKey, Asc, Ascq);
  return r.Ok;
}

TVolumeLockOutcome TTrimExecutionThread::LockAndDismountVolume(const TVolumeInfo& Volume,
                                                               const TDeviceHandle* ProvenDisk,
                                                               TDeviceHandle& Handle) {
  TVolumeLockOutcome r;
  r.Path = VolumeDevicePath(Volume.DriveLetter);
  if (ProvenDisk) {
    TVolumeProof proof;
    Handle = OpenVolumeOnDisk(Volume, ProvenDisk->Get(), FDisk.DiskNumber, proof);
    if (!Handle.Valid()) {
      r.FailedOp = "open";
      r.WinErr = proof.WinErr;
      if (proof.Gone) r.GoneWinErr = proof.DiskWinErr;
      if (FLogger) {
        if (proof.OpenFailed)
          FLogger->Warn(Format("Cannot open volume %s for dismount (winerr=%d)", r.Path, r.WinErr));
        else if (!proof.Gone)
          FLogger->Warn(
              Format("Volume %s is not on the planned disk (%s); it is not locked", r.Path, proof.Reason));
      }
    }
  } else {
    Handle = OpenDeviceReadWrite(r.Path);
    if (!Handle.Valid()) {
      r.FailedOp = "open";
      r.WinErr = Win().GetLastError();
      if (FLogger) FLogger->Warn(Format("Cannot open volume %s for dismount (winerr=%d)", r.Path, r.WinErr));
    }
  }
  if (!Handle.Valid()) return r;
  // A request that fails because the disk left the bus says so for the run.
  auto failed = [&](const char* Op) {
    r.FailedOp = Op;
    if (DeviceLeftBus(r.WinErr)) r.GoneWinErr = r.WinErr;
    return r;
  };
  if (!RunVolumeIoctlWithTimeout(Handle.Get(), fsc::FSCTL_LOCK_VOLUME, kVolumeIoctlTimeoutMs, "FSCTL_LOCK_VOLUME",
                                 r.Path, r.WinErr))
    return failed("FSCTL_LOCK_VOLUME");
  if (!RunVolumeIoctlWithTimeout(Handle.Get(), fsc::FSCTL_DISMOUNT_VOLUME, kVolumeIoctlTimeoutMs,
                                 "FSCTL_DISMOUNT_VOLUME", r.Path, r.WinErr))
    return failed("FSCTL_DISMOUNT_VOLUME");
  if (FLogger) FLogger->Info(Format("Volume dismounted: %s", r.Path));
  r.Ok = true;
  return r;
}

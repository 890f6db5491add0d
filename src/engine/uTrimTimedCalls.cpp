// The two device calls known to hang behind a stuck bridge, each on a short-lived worker that the
// run waits for with a limit and abandons after a cancel and a grace period; and the volume lock
// and dismount sequence built on them.
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
  if (!FDevice) {
    FOk = engine.SendAtaPassThroughDsm(FPath, FCdb, FPayload, FTimeoutMs, FWinErr, FSenseKey, FAsc, FAscq,
                                       FScsiStatus);
    return;
  }
  const TDeviceResult r =
      engine.SendAtaPassThroughDsm(TDeviceRef{FDevice->Get(), FPath}, FCdb, FPayload, FTimeoutMs);
  FOk = r.Ok;
  FWinErr = r.WinErr;
  FSenseKey = r.SenseKey;
  FAsc = r.Asc;
  FAscq = r.Ascq;
  FScsiStatus = r.ScsiStatus;
}

namespace {

// Frees a worker whose thread has ended, or hands it its own release.
template <class TWorker>
bool FreeOrAbandon(TWorker* Worker, DWORD GraceMs) {
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
  const DWORD wait = Win().WaitForSingleObject(worker->Handle(), TimeoutMs);
  if (wait == WAIT_OBJECT_0) {
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
  if (wait == WAIT_TIMEOUT) {
    WinErr = ERROR_WAIT_TIMEOUT;
    Win().CancelSynchronousIo(worker->Handle());
    const bool freed = FreeOrAbandon(worker, kVolumeIoctlGraceMs);
    const uint64_t elapsed = Win().GetTickCount64() - start;
    if (FLogger) {
      FLogger->Warn(
          Format("%s timeout: %s after %d ms; raw TRIM path will be skipped", OpName, VolumeName, elapsed));
      if (!freed) FLogger->Warn(Format("%s worker still pending after cancellation: %s", OpName, VolumeName));
    }
    return false;
  }
  WinErr = Win().GetLastError();
  const uint64_t elapsed = Win().GetTickCount64() - start;
  if (FLogger)
    FLogger->Warn(Format("%s wait failed: %s (wait=%d, winerr=%d, elapsed_ms=%d)", OpName, VolumeName, wait,
                         WinErr, elapsed));
  // No wait without a bound on a request that may hang: give the worker up as after a time-out.
  Win().CancelSynchronousIo(worker->Handle());
  if (!FreeOrAbandon(worker, kVolumeIoctlGraceMs) && FLogger)
    FLogger->Warn(Format("%s worker still pending after cancellation: %s", OpName, VolumeName));
  return false;
}

bool TTrimExecutionThread::RunAtaBatchWithTimeout(const TByteArray& Cdb, const TByteArray& Payload,
                                                  uint32_t TimeoutMs, uint32_t HangMs, uint32_t& WinErr,
                                                  uint8_t& SenseKey, uint8_t& Asc, uint8_t& Ascq, bool& Hang) {
  Hang = false;
  WinErr = 0;
  SenseKey = Asc = Ascq = 0;
  auto* worker = new TAtaTrimBatchThread(FDisk.DevicePath, Cdb, Payload, TimeoutMs, FDiskDevice);
  worker->Start();
  const uint64_t start = Win().GetTickCount64();
  for (;;) {
    const DWORD wait = Win().WaitForSingleObject(worker->Handle(), kAtaPollMs);
    if (wait == WAIT_OBJECT_0) {
      const bool ok = worker->Ok();
      WinErr = worker->WinErr();
      SenseKey = worker->SenseKey();
      Asc = worker->Asc();
      Ascq = worker->Ascq();
      const uint8_t status = worker->ScsiStatus();
      delete worker;
      if (!ok && FLogger)
        FLogger->LogApiCall("DeviceIoControl(ATA PASS-THROUGH DSM)",
                            Format("path=%s, payload=%d, timeout_ms=%d, scsi_status=%d", FDisk.DevicePath,
                                   Payload.size(), TimeoutMs, status),
                            false, WinErr, Win().GetTickCount64() - start);
      return ok;
    }
    if (IsCancelRequested()) break;
    if (wait != WAIT_TIMEOUT) {
      // A wait that fails at once would spin here without end: abandon as after a hang.
      WinErr = Win().GetLastError();
      if (FLogger)
        FLogger->Warn(Format("ATA PASS-THROUGH DSM wait failed (winerr=%d); attempt abandoned", WinErr));
      break;
    }
    if (Win().GetTickCount64() - start >= HangMs) {
      Hang = true;
      WinErr = ERROR_WAIT_TIMEOUT;
      break;
    }
  }
  Win().CancelSynchronousIo(worker->Handle());
  FreeOrAbandon(worker, kAtaGraceMs);
  return false;
}

TVolumeLockOutcome TTrimExecutionThread::LockAndDismountVolume(const TVolumeInfo& Volume, size_t Slot) {
  TVolumeLockOutcome r;
  r.Path = VolumeDevicePath(Volume.DriveLetter);
  HANDLE h = VT_INVALID_HANDLE_VALUE;
  if (FDiskDevice) {
    TVolumeProof proof;
    h = OpenVolumeOnDisk(Volume, FDiskDevice->Get(), FDisk.DiskNumber, proof).Release();
    if (!IsValidHandle(h)) {
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
    h = Win().CreateFileW(r.Path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL);
    if (!IsValidHandle(h)) {
      r.FailedOp = "open";
      r.WinErr = Win().GetLastError();
      if (FLogger) FLogger->Warn(Format("Cannot open volume %s for dismount (winerr=%d)", r.Path, r.WinErr));
    }
  }
  if (Slot < FVolumeHandles.size()) FVolumeHandles[Slot] = h;
  if (!IsValidHandle(h)) return r;
  // A request that fails because the disk left the bus says so for the run.
  auto failed = [&](const char* Op) {
    r.FailedOp = Op;
    if (DeviceLeftBus(r.WinErr)) r.GoneWinErr = r.WinErr;
    return r;
  };
  if (!RunVolumeIoctlWithTimeout(h, fsc::FSCTL_LOCK_VOLUME, kVolumeIoctlTimeoutMs, "FSCTL_LOCK_VOLUME", r.Path,
                                 r.WinErr))
    return failed("FSCTL_LOCK_VOLUME");
  if (!RunVolumeIoctlWithTimeout(h, fsc::FSCTL_DISMOUNT_VOLUME, kVolumeIoctlTimeoutMs, "FSCTL_DISMOUNT_VOLUME",
                                 r.Path, r.WinErr))
    return failed("FSCTL_DISMOUNT_VOLUME");
  if (FLogger) FLogger->Info(Format("Volume dismounted: %s", r.Path));
  r.Ok = true;
  return r;
}

void TTrimExecutionThread::CloseVolumeHandles() {
  for (HANDLE h : FVolumeHandles)
    if (IsValidHandle(h)) Win().CloseHandle(h);
  FVolumeHandles.clear();
}

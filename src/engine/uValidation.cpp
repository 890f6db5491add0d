#include "engine/uValidation.h"

#include "core/uFormat.h"
#include "core/uLogger.h"
#include "device/uAtaPassThrough.h"
#include "base/uByteOrder.h"
#include "platform/Platform.h"
#include "platform/WinFsControl.h"

using namespace plat;

namespace {

TValidationResult Result(bool Ok, std::string Message, bool Warning = false) {
  return {Ok, std::move(Message), Warning};
}

}  // namespace

bool IsTrimQueryUnsupportedError(uint32_t Error) {
  return Error == ERROR_INVALID_FUNCTION || Error == ERROR_BAD_LENGTH || Error == ERROR_NOT_SUPPORTED ||
         Error == ERROR_INVALID_PARAMETER;
}

bool TPreflightValidator::IsElevated() {
  HANDLE Token = nullptr;
  bool Elevated = false;
  if (Win().OpenProcessToken(Win().GetCurrentProcess(), fsc::TOKEN_QUERY, &Token)) {
    uint8_t Info[fsc::kTokenElevationSize] = {};
    DWORD Len = 0;
    if (Win().GetTokenInformation(Token, fsc::TokenElevation, Info, sizeof Info, &Len))
      Elevated = TByteReader(Info).LE32(0) != 0;
    Win().CloseHandle(Token);
  }
  if (Elevated) return true;
  // Without an elevated token, raw access to the first disk still shows administrator rights.
  return OpenDeviceReadWrite(PhysicalDrivePath(0)).Valid();
  return true;
}

TValidationResult TPreflightValidator::CheckSystemDiskPolicy(const TDiskInfo& Disk, bool BlockSystemDisk) {
  if (BlockSystemDisk && Disk.SystemCritical)
    return Result(false, "Blocked: selected disk is system-critical (boot/pagefile risk)");
  return Result(true, "System disk policy check passed");
}

TValidationResult TPreflightValidator::CheckTransport(const TDiskInfo& Disk, bool RequireKnownUsb) {
  switch (Disk.Transport) {
    case TTransportKind::tkBOT:
      return Result(true,
                    "Transport: BOT (ATA Pass-Through after lock+dismount; Pinned Volume guard not applicable)");
    case TTransportKind::tkUAS:
      return Result(
          true,
          "Transport: UASP (DSM TRIM incl. FS-cooperative retry / SCSI UNMAP / WRITE SAME(16)+UNMAP fallback "
          "/ ATA Pass-Through under Pinned Volume guard / Optimize-Volume -ReTrim fallback)");
    default:
      if (RequireKnownUsb)
        return Result(false, "USB transport not detected (BOT/UASP required). Reconnect device and retry.");
      return Result(true, "Unknown USB transport. Dry-run allowed only.");
  }
}

TValidationResult TPreflightValidator::CheckDiskWritable(const TDiskInfo& Disk) {
  TDeviceHandle H = OpenDeviceReadWrite(Disk.DevicePath);
  if (!H.Valid()) return Result(false, "Cannot open disk with RW access: " + WinErrorText(Win().GetLastError()));
  uint8_t Out[4] = {};
  DWORD Returned = 0;
  const bool Ok =
      Win().DeviceIoControl(H.Get(), fsc::IOCTL_DISK_IS_WRITABLE, nullptr, 0, Out, sizeof Out, &Returned);
  const DWORD Err = Ok ? 0 : Win().GetLastError();
  H.Close();
  if (!Ok) return Result(false, "Disk writable check failed: " + WinErrorText(Err));
  return Result(true, "Disk writable check: writable");
}

TValidationResult TPreflightValidator::CheckTrimSupport(const TDiskInfo& Disk) {
  TDeviceHandle H = OpenDeviceReadWrite(Disk.DevicePath);
  if (!H.Valid()) return Result(false, "TRIM support query open failed: " + WinErrorText(Win().GetLastError()));
  // STORAGE_PROPERTY_QUERY: StorageDeviceTrimProperty, PropertyStandardQuery, 4 zero bytes.
  uint8_t In[spq::kSize] = {};
  TByteWriter W(In);
  W.LE32(spq::kPropertyId, fsc::StorageDeviceTrimProperty);
  W.LE32(spq::kQueryType, spq::PropertyStandardQuery);
  // DEVICE_TRIM_DESCRIPTOR, zeroed: an answer shorter than 9 bytes reads as TRIM not enabled.
  uint8_t Out[fsc::kDeviceTrimDescriptorSize] = {};
  DWORD Returned = 0;
  const bool Ok =
      Win().DeviceIoControl(H.Get(), IOCTL_STORAGE_QUERY_PROPERTY, In, sizeof In, Out, sizeof Out, &Returned);
  const DWORD Err = Ok ? 0 : Win().GetLastError();
  H.Close();
  if (!Ok) {
    if (IsTrimQueryUnsupportedError(Err))
      return Result(
          true,
          Format("TRIM support query unsupported on this bridge (winerr=%d). Continue with runtime validation.",
                 Err),
          true);
    return Result(false, Format("TRIM support query failed (winerr=%d): %s", Err, WinErrorText(Err)));
  }
  if (Out[fsc::kTrimEnabledAt] == 0)
    return Result(true, "TRIM support reported disabled by bridge; hardware TRIM paths likely to fail", true);
  return Result(true, "TRIM support check passed");
}

TValidationResult TPreflightValidator::ProbeBridge(const TDiskInfo& Disk) {
  if (!OpenDeviceReadWrite(Disk.DevicePath).Valid())  // the probe opens the device itself
    return Result(false, "Bridge probe(open path) failed: " + WinErrorText(Win().GetLastError()));
  TAtaProbeResult Probe;
  bool Identified = false;
  {
    TAtaPassThroughEngine Engine(FLogger);
    try {
      Identified = Engine.ProbeIdentify(Disk.DevicePath, 5000, Probe) && Probe.IdentifyOk;
    } catch (...) {
      Identified = false;
    }
  }
  if (Identified)
    return Result(true, Probe.TrimSupported
                            ? "Bridge probe passed; SAT IDENTIFY ok, drive reports TRIM supported"
                            : "Bridge probe passed; SAT IDENTIFY ok, drive reports TRIM NOT supported");
  const std::string Msg = Disk.Transport == TTransportKind::tkBOT
                              ? "Bridge probe(open path) passed, but SAT IDENTIFY pass-through failed; ATA TRIM "
                                "may not work on this BOT bridge"
                              : "Bridge probe(open path) passed; SAT IDENTIFY pass-through unavailable (SCSI "
                                "UNMAP/DSM paths will be used)";
  if (FLogger) FLogger->Warn(Msg);
  return Result(true, Msg);
}

TValidationResult TPreflightValidator::ValidateCdb(TAtaPassThroughEngine& /*Engine*/, std::span<const uint8_t> Cdb,
                                                   uint32_t PayloadBytes) {
  TAtaCdbValidationResult R;
  const bool Ok = TAtaPassThroughEngine::ValidatePt16DsmCdb(Cdb, PayloadBytes, R);
  return Result(Ok, R.Message);
}

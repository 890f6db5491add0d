// Solid-state or rotating: the seek-penalty property first, the IDENTIFY rotation rate after.
#include <vector>

#include "core/uFormat.h"
#include "device/uAtaPassThrough.h"
#include "base/uByteOrder.h"
#include "device/uDiskEnum.h"
#include "device/uDiskEnumDetail.h"

using namespace diskenum_detail;

bool TDiskEnumerator::DetectMediaKind(plat::HANDLE Handle, const std::string& Path, TMediaKind& Media,
                                      std::string& Reason) const {
  Media = TMediaKind::mkUnknown;
  Reason = "media kind unknown";

  std::vector<uint8_t> Query = PropertyQuery(plat::spq::StorageDeviceSeekPenaltyProperty);
  std::vector<uint8_t> Penalty(plat::dspd::kSize, 0);
  plat::DWORD Returned = 0;
  if (plat::Win().DeviceIoControl(Handle, plat::IOCTL_STORAGE_QUERY_PROPERTY, Query.data(), plat::spq::kSize,
                                  Penalty.data(), plat::dspd::kSize, &Returned)) {
    if (TByteReader(Penalty).LE32(plat::dspd::kIncursSeekPenalty) != 0) {
      Media = TMediaKind::mkHDD;
      Reason = "StorageDeviceSeekPenaltyProperty: incurs seek penalty";
    } else {
      Media = TMediaKind::mkSSD;
      Reason = "StorageDeviceSeekPenaltyProperty: no seek penalty";
    }
    return true;
  }

  TAtaProbeResult Probe;
  if (!TAtaPassThroughEngine(FLogger).ProbeIdentify(Path, kMediaProbeTimeoutMs, Probe)) return false;
  const uint16_t Rate = Probe.RotationRate;
  if (Rate == 1) {
    Media = TMediaKind::mkSSD;
    Reason = "ATA IDENTIFY word 217: non-rotating media";
  } else if (Rate == 0 || Rate == 0xFFFF) {
    Reason = Format("ATA IDENTIFY word 217: not reported (%d)", Rate);
  } else {
    Media = TMediaKind::mkHDD;
    Reason = Format("ATA IDENTIFY word 217: %d RPM", Rate);
  }
  return true;
}

// The disk list and the per-disk queries behind it: identity texts, size, the system disk.
#include "device/uDiskEnum.h"

#include <vector>

#include "core/uFormat.h"
#include "core/uText.h"
#include "device/uDeviceHandle.h"
#include "device/uDevicePath.h"
#include "device/uDiskEnumDetail.h"
#include "platform/WinStorage.h"

using namespace diskenum_detail;
using plat::DWORD;

namespace {

constexpr DWORD kSystemExtentsBytes = 2048;

// The NUL-terminated text at Offset of the descriptor; empty when Offset is 0 or outside it.
std::string DescriptorText(const std::vector<uint8_t>& Desc, uint32_t Offset) {
  if (Offset == 0 || Offset >= Desc.size()) return {};
  return TDiskEnumerator::AnsiZToTrimmedString(std::span<const uint8_t>(Desc).subspan(Offset));
}

}  // namespace

void TDiskEnumerator::Enumerate(TDiskInfoArray& Disks) const {
  Disks.clear();
  const TDiskHintMap HintMap = BuildDiskHintMap();
  const int32_t SysDisk = GetSystemDiskNumber();

  for (int32_t N = 0; N < kMaxDrives; ++N) {
    const auto Found = HintMap.find(static_cast<uint32_t>(N));
    const std::string RegHint = Found == HintMap.end() ? std::string() : Found->second;
    const std::string Path = PhysicalDrivePath(N);
    TDeviceHandle H(OpenDevice(Path, 0));
    if (!H.Valid()) continue;

    TDiskInfo Disk;
    Disk.DiskNumber = N;
    Disk.DevicePath = Path;
    Disk.BusHint = QueryBusHint(H.Get());
    if (!RegHint.empty()) Disk.BusHint += ";" + RegHint;
    Disk.Transport = ClassifyTransport(Disk.BusHint);
    const bool UsbEvidence = Contains(UpperCase(Disk.BusHint), "USB") || Disk.Transport == TTransportKind::tkBOT ||
                             Disk.Transport == TTransportKind::tkUAS;
    if (!UsbEvidence) continue;

    MapVolumes(Disk.Volumes, N);
    bool AnyLength = false;
    for (const auto& V : Disk.Volumes) AnyLength = AnyLength || V.PartitionLength != 0;
    if (!Disk.Volumes.empty() && !AnyLength) continue;

    Disk.Model = Format("PhysicalDrive%d", N);
    Disk.Serial.clear();
    Disk.MaskedSerial = "****";
    QueryDiskSize(H.Get(), Disk.SizeBytes);
    if (Disk.SizeBytes <= kMinDiskBytes) continue;  // also a failed query (0)

    DetectMediaKind(H.Get(), Disk.DevicePath, Disk.Media, Disk.MediaReason);
    if (Disk.Media == TMediaKind::mkHDD) {
      Log(Format("DiskEnum: skipping PD%d because media=HDD (%s)", N, Disk.MediaReason));
      continue;
    }
    Disk.SystemCritical = SysDisk >= 0 && SysDisk == N;
    Log(Format("DiskEnum: PD%d model=%s size=%d bus_hint=%s protocol=%s media=%s media_reason=\"%s\" volumes=%d",
               N, Disk.Model, Disk.SizeBytes, Disk.BusHint, TransportToText(Disk.Transport),
               MediaKindToText(Disk.Media), Disk.MediaReason, static_cast<int32_t>(Disk.Volumes.size())));
    Disks.push_back(std::move(Disk));
  }
}

void TDiskEnumerator::LoadDiskDetails(TDiskInfo& Disk) const {
  TDeviceHandle H(OpenDevice(Disk.DevicePath, plat::FILE_READ_ATTRIBUTES));
  if (!H.Valid()) return;
  std::string Model, Serial;
  if (QueryModelSerial(H.Get(), Model, Serial)) {
    if (!Model.empty()) Disk.Model = Model;
    Disk.Serial = Serial;
    Disk.MaskedSerial = MaskSerial(Disk.Serial);
  }
  Disk.MediaReason.clear();
  DetectMediaKind(H.Get(), Disk.DevicePath, Disk.Media, Disk.MediaReason);
}

bool TDiskEnumerator::QueryIdentity(const std::string& Path, std::string& Model, std::string& Serial,
                                    uint64_t& SizeBytes) const {
  Model.clear();
  Serial.clear();
  SizeBytes = 0;
  TDeviceHandle H(OpenDevice(Path, plat::FILE_READ_ATTRIBUTES));
  if (!H.Valid()) return false;
  QueryModelSerial(H.Get(), Model, Serial);
  QueryDiskSize(H.Get(), SizeBytes);
  return true;
}

bool TDiskEnumerator::QueryModelSerial(plat::HANDLE Handle, std::string& Model, std::string& Serial) {
  Model.clear();
  Serial.clear();
  std::vector<uint8_t> Desc;
  uint32_t Size = 0;
  if (ReadDeviceDescriptor(Handle, Desc, Size) != TDescriptorRead::drOk) return false;
  // Every text then ends inside the buffer, whatever the device wrote.
  Desc.back() = 0;
  TByteReader R(Desc);
  Model = DescriptorText(Desc, R.LE32(plat::sdd::kProductIdOffset));
  Serial = DescriptorText(Desc, R.LE32(plat::sdd::kSerialNumberOffset));
  return true;
}

bool TDiskEnumerator::QueryGeometry(plat::HANDLE Handle, uint64_t& SizeBytes, uint32_t& BytesPerSector) {
  std::vector<uint8_t> Geometry(plat::dgx::kReadSize, 0);
  DWORD Returned = 0;
  SizeBytes = 0;
  BytesPerSector = 0;
  if (!plat::Win().DeviceIoControl(Handle, plat::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, Geometry.data(),
                                   plat::dgx::kReadSize, &Returned))
    return false;
  SizeBytes = static_cast<uint64_t>(ReadNonNegInt64(Geometry.data() + plat::dgx::kDiskSize));
  BytesPerSector = TByteReader(Geometry).LE32(plat::dgx::kBytesPerSector);
  return true;
}

bool TDiskEnumerator::QueryDiskSize(plat::HANDLE Handle, uint64_t& SizeBytes) {
  uint32_t BytesPerSector = 0;
  return QueryGeometry(Handle, SizeBytes, BytesPerSector);
}

int32_t TDiskEnumerator::GetSystemDiskNumber() {
  std::string WinDir;
  char Letter = 'C';
  if (plat::Win().GetWindowsDirectoryW(&WinDir) != 0 && !WinDir.empty())
    Letter = UpperCase(WinDir.substr(0, 1))[0];
  TDeviceHandle H(OpenDevice(VolumeDevicePath(Letter), 0));
  if (!H.Valid()) return -1;
  std::vector<uint8_t> Extents(kSystemExtentsBytes, 0);
  DWORD Returned = 0;
  if (!plat::Win().DeviceIoControl(H.Get(), plat::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, Extents.data(),
                                   kSystemExtentsBytes, &Returned))
    return -1;
  TByteReader R(Extents);
  if (R.LE32(plat::vde::kCount) == 0) return -1;
  return static_cast<int32_t>(R.LE32(plat::vde::kFirstExtent + plat::vde::kDiskNumber));
}

#include "platform/sim/storage/SimDiscovery.h"

#include "platform/WinStorage.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <optional>

#include "base/uUtf.h"
#include "platform/sim/files/SimFileSystem.h"
#include "platform/sim/kernel/SimKernel.h"
#include "platform/sim/storage/SimPartitionTable.h"
#include "platform/sim/storage/SimStorage.h"

namespace plat::sim {

namespace {

BOOL Fail(DWORD e) {
  SimSetLastError(e);
  return FALSE_;
}

void PutLE(void* buf, size_t off, uint64_t v, size_t n) {
  auto* b = static_cast<uint8_t*>(buf);
  for (size_t i = 0; i < n; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetLE32(const void* buf, size_t off) {
  const auto* b = static_cast<const uint8_t*>(buf);
  return uint32_t(b[off]) | uint32_t(b[off + 1]) << 8 | uint32_t(b[off + 2]) << 16 | uint32_t(b[off + 3]) << 24;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// "E:\", "e:", "E:\dir" -> 'E'; 0 for anything else.
char LetterOf(const std::string& path) {
  if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0]))) return 0;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
}

// A device-information set: the disks listed when it was made, in disk-number order.
class SimDevInfoSet final : public SimObject {
 public:
  std::vector<std::shared_ptr<SimDisk>> disks;
  const char* Kind() const override { return "devinfo"; }
};

// SP_DEVICE_INTERFACE_DATA and SP_DEVINFO_DATA keep the member's index + 1 in Reserved.
bool RecordOk(const void* rec) { return rec && GetLE32(rec, 0) == spdi::kInterfaceDataSize; }
void MarkRecord(void* rec, size_t index) { PutLE(rec, spdi::kReserved, index + 1, 8); }
size_t RecordIndex(const void* rec) {
  const auto* b = static_cast<const uint8_t*>(rec);
  uint64_t v = 0;
  for (size_t i = 0; i < 8; ++i) v |= uint64_t(b[spdi::kReserved + i]) << (8 * i);
  return static_cast<size_t>(v) - 1;  // 0 (unmarked) wraps to an index that is never valid
}

}  // namespace

std::string DiskInterfacePath(const SimDiskDescription& d) {
  return "\\\\?\\" + Lower(d.enumerator.empty() ? "scsi" : d.enumerator) + "#disk&ven_" + Lower(d.vendor) +
         "&prod_" + Lower(d.product) + "#" + d.instanceId + "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

namespace {

std::string InterfacePath(const SimDiskDescription& d) { return DiskInterfacePath(d); }

SimDiskDescription DescriptionOf(const std::shared_ptr<SimDisk>& disk) {
  std::lock_guard<std::mutex> lk(disk->mu);
  return disk->description;
}

// STORAGE_DEVICE_DESCRIPTOR as the disk reports it: fixed part, raw properties, then the texts.
std::vector<uint8_t> BuildDescriptor(const SimDiskDescription& d) {
  const std::string* texts[] = {&d.vendor, &d.product, &d.revision, &d.serial};
  const bool present[] = {!d.vendor.empty(), !d.product.empty(), !d.revision.empty(), d.hasSerial};
  size_t total = sdd::kFixedSize + d.rawProperties.size();
  for (int i = 0; i < 4; ++i)
    if (present[i]) total += texts[i]->size() + 1;
  std::vector<uint8_t> b(total, 0);
  size_t at = sdd::kFixedSize;
  std::copy(d.rawProperties.begin(), d.rawProperties.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
  at += d.rawProperties.size();
  DWORD offsets[4] = {};
  for (int i = 0; i < 4; ++i) {
    if (!present[i]) continue;
    offsets[i] = static_cast<DWORD>(at);
    std::copy(texts[i]->begin(), texts[i]->end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    at += texts[i]->size() + 1;  // and its NUL
  }
  const DWORD vendor = offsets[0], product = offsets[1], revision = offsets[2], serial = offsets[3];
  PutLE(b.data(), 0, 1, 4);  // Version
  PutLE(b.data(), sdd::kSizeField, d.faults.reportedSize.value_or(static_cast<DWORD>(b.size())), 4);
  b[8] = 0;  // DeviceType: direct access
  PutLE(b.data(), sdd::kVendorIdOffset, vendor, 4);
  PutLE(b.data(), sdd::kProductIdOffset, d.faults.productIdOffset.value_or(product), 4);
  PutLE(b.data(), sdd::kProductRevisionOffset, revision, 4);
  PutLE(b.data(), sdd::kSerialNumberOffset, d.faults.serialNumberOffset.value_or(serial), 4);
  PutLE(b.data(), sdd::kBusType, d.busType, 4);
  PutLE(b.data(), sdd::kRawPropertiesLength, d.rawProperties.size(), 4);
  if (d.faults.reportedSize) b.resize(std::min<size_t>(b.size(), *d.faults.reportedSize));
  return b;
}

// Bytes of a REG_SZ / REG_MULTI_SZ value in UTF-16.
std::vector<uint8_t> RegistryBytes(const std::vector<std::string>& strings, bool multi) {
  std::u16string w;
  for (const auto& s : strings) {
    w += Utf8ToUtf16(s);
    w += u'\0';
  }
  if (multi) w += u'\0';
  std::vector<uint8_t> b(w.size() * 2);
  std::memcpy(b.data(), w.data(), b.size());
  return b;
}

}  // namespace

namespace presets {

SimDiskDescription BotEnclosure(const std::string& product, const std::string& serial) {
  SimDiskDescription d;
  d.busType = BusTypeUsb;
  d.vendor = "JMicron";
  d.product = product;
  d.revision = "0508";
  d.serial = serial;
  d.rawProperties = std::string("USBSTOR\0\0", 9);
  d.service = "disk";
  d.enumerator = "USBSTOR";
  d.hardwareIds = {"USBSTOR\\DiskJMicron" + product, "USBSTOR\\GenDisk"};
  return d;
}

SimDiskDescription UasEnclosure(const std::string& product, const std::string& serial) {
  SimDiskDescription d;
  d.busType = BusTypeUsb;
  d.vendor = "ASMT";
  d.product = product;
  d.revision = "0";
  d.serial = serial;
  d.rawProperties = std::string("UASPSTOR\0\0\0\0", 12);
  d.service = "disk";
  d.enumerator = "SCSI";
  d.hardwareIds = {"SCSI\\DiskASMT____" + product, "SCSI\\Disk"};
  return d;
}

SimDiskDescription UnidentifiedUsbBridge(const std::string& product, const std::string& serial) {
  SimDiskDescription d;
  d.busType = BusTypeUsb;
  d.vendor = "Generic";
  d.product = product;
  d.serial = serial;
  d.hasSerial = !serial.empty();
  d.service = "disk";
  return d;
}

SimDiskDescription InternalSata(const std::string& product, const std::string& serial) {
  SimDiskDescription d;
  d.busType = BusTypeSata;
  d.product = product;
  d.revision = "1.0";
  d.serial = serial;
  d.service = "disk";
  d.enumerator = "SCSI";
  d.hardwareIds = {"SCSI\\Disk" + product, "SCSI\\Disk"};
  return d;
}

SimDiskDescription InternalNvme(const std::string& product, const std::string& serial) {
  SimDiskDescription d;
  d.busType = BusTypeNvme;
  d.vendor = "NVMe";
  d.product = product;
  d.serial = serial;
  d.service = "stornvme";
  d.enumerator = "SCSI";
  d.hardwareIds = {"SCSI\\DiskNVMe____" + product, "SCSI\\Disk"};
  return d;
}

SimDiskDescription UsbHardDisk(const std::string& product, const std::string& serial) {
  SimDiskDescription d = BotEnclosure(product, serial);
  d.vendor = "WD";
  d.seekPenalty = true;
  return d;
}

}  // namespace presets

struct SimDiscovery::Impl {
  SimKernel& kernel;
  SimStorage& storage;
  SimFileSystem& files;
  std::mutex mu;
  Faults faults;
  std::string windowsDirectory = "C:\\Windows";
  SimIoctlHandler otherProperties;  // the handler registered for the code before this module
  int nextInstance = 1;
  std::atomic<int> openSets{0};

  Impl(SimKernel& k, SimStorage& s, SimFileSystem& f) : kernel(k), storage(s), files(f) {}

  Faults FaultsNow() {
    std::lock_guard<std::mutex> lk(mu);
    return faults;
  }

  BOOL QueryProperty(SimDeviceCall& c);
  BOOL DeviceNumber(SimDeviceCall& c);
  BOOL Geometry(SimDeviceCall& c);
  BOOL VolumeExtents(SimDeviceCall& c);
  std::shared_ptr<SimVolume> MountedVolume(char letter);
};

std::shared_ptr<SimVolume> SimDiscovery::Impl::MountedVolume(char letter) {
  if (!letter) return nullptr;
  auto v = storage.Volume(letter);
  if (!v) return nullptr;
  // A volume goes with its disk: while that disk is off the bus it has no letter.
  std::vector<SimExtent> extents;
  {
    std::lock_guard<std::mutex> lk(v->mu);
    extents = v->extents;
  }
  for (const auto& e : extents) {
    auto d = storage.Disk(e.diskNumber);
    if (!d) return nullptr;
    std::lock_guard<std::mutex> lk(d->mu);
    if (!d->present) return nullptr;
  }
  return v;
}

BOOL SimDiscovery::Impl::QueryProperty(SimDeviceCall& c) {
  if (!c.in || c.inSize < spq::kSize) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD id = GetLE32(c.in, spq::kPropertyId);
  if (GetLE32(c.in, spq::kQueryType) != spq::PropertyStandardQuery) return Fail(ERROR_INVALID_FUNCTION);
  if (!c.disk) return Fail(ERROR_INVALID_FUNCTION);
  if (id == spq::StorageDeviceProperty) {
    const SimDiskDescription d = DescriptionOf(c.disk);
    if (c.outSize <= sdd::kHeaderSize && d.faults.descriptorHeader) return Fail(d.faults.descriptorHeader);
    if (c.outSize > sdd::kHeaderSize && d.faults.descriptorData) return Fail(d.faults.descriptorData);
    if (!c.out || c.outSize < sdd::kHeaderSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
    const std::vector<uint8_t> desc = BuildDescriptor(d);
    // As Windows does: as much as fits, the Size field telling the whole.
    const DWORD n =
        std::min<DWORD>(c.outSize, static_cast<DWORD>(std::max<size_t>(desc.size(), sdd::kHeaderSize)));
    std::memcpy(c.out, desc.data(), std::min<size_t>(n, desc.size()));
    c.SetReturned(n);
    return TRUE_;
  }
  if (id == spq::StorageDeviceSeekPenaltyProperty) {
    const SimDiskDescription d = DescriptionOf(c.disk);
    if (d.faults.seekPenalty) return Fail(d.faults.seekPenalty);
    if (!c.out || c.outSize < dspd::kSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
    PutLE(c.out, 0, dspd::kSize, 4);
    PutLE(c.out, 4, dspd::kSize, 4);
    static_cast<uint8_t*>(c.out)[dspd::kIncursSeekPenalty] = d.seekPenalty ? 1 : 0;  // a BOOLEAN
    c.SetReturned(dspd::kSize);
    return TRUE_;
  }
  return otherProperties ? otherProperties(c) : Fail(ERROR_INVALID_FUNCTION);
}

BOOL SimDiscovery::Impl::DeviceNumber(SimDeviceCall& c) {
  if (!c.disk) return Fail(ERROR_INVALID_FUNCTION);
  DWORD fault = 0, number = 0;
  {
    std::lock_guard<std::mutex> lk(c.disk->mu);
    fault = c.disk->description.faults.deviceNumber;
    number = c.disk->description.faults.reportedNumber.value_or(static_cast<DWORD>(c.disk->number));
  }
  if (fault) return Fail(fault);
  if (!c.out || c.outSize < sdn::kSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
  PutLE(c.out, sdn::kDeviceType, sdn::FILE_DEVICE_DISK, 4);
  PutLE(c.out, sdn::kDeviceNumber, number, 4);
  PutLE(c.out, sdn::kPartitionNumber, c.volume ? 1 : 0, 4);
  c.SetReturned(sdn::kSize);
  return TRUE_;
}

BOOL SimDiscovery::Impl::Geometry(SimDeviceCall& c) {
  if (!c.disk || c.volume) return Fail(ERROR_INVALID_FUNCTION);
  const SimDiskDescription d = DescriptionOf(c.disk);
  if (d.faults.geometry) return Fail(d.faults.geometry);
  if (!c.out || c.outSize < dgx::kDiskSize + 8) return Fail(ERROR_INSUFFICIENT_BUFFER);
  // Sectors as the bridge presents them; the size stays in bytes.
  const uint64_t bytes = c.disk->drive.Sectors() * SimDrive::kSectorSize;
  const uint32_t blockSize = SimLogicalBlockSize(*c.disk);
  constexpr uint64_t kTracks = 255, kPerTrack = 63;
  const DWORD n = std::min<DWORD>(c.outSize, dgx::kReadSize);
  std::memset(c.out, 0, n);
  PutLE(c.out, dgx::kCylinders, bytes / blockSize / (kTracks * kPerTrack), 8);
  PutLE(c.out, dgx::kMediaType, dgx::FixedMedia, 4);
  PutLE(c.out, dgx::kTracksPerCylinder, kTracks, 4);
  PutLE(c.out, dgx::kSectorsPerTrack, kPerTrack, 4);
  PutLE(c.out, dgx::kBytesPerSector, blockSize, 4);
  PutLE(c.out, dgx::kDiskSize, static_cast<uint64_t>(d.faults.diskSize.value_or(static_cast<int64_t>(bytes))), 8);
  c.SetReturned(n);
  return TRUE_;
}

BOOL SimDiscovery::Impl::VolumeExtents(SimDeviceCall& c) {
  if (!c.volume) return Fail(ERROR_INVALID_FUNCTION);
  {
    std::lock_guard<std::mutex> lk(mu);
    auto it = faults.volumeExtents.find(c.volume->letter);
    if (it != faults.volumeExtents.end() && it->second) return Fail(it->second);
  }
  std::vector<SimExtent> extents;
  {
    std::lock_guard<std::mutex> lk(c.volume->mu);
    extents = c.volume->extents;
  }
  const DWORD need = vde::kFirstExtent + vde::kExtentSize * static_cast<DWORD>(extents.size());
  if (!c.out || c.outSize < vde::kFirstExtent + vde::kExtentSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
  PutLE(c.out, vde::kCount, extents.size(), 4);
  if (c.outSize < need) {
    c.SetReturned(vde::kFirstExtent);
    return Fail(ERROR_MORE_DATA);
  }
  for (size_t i = 0; i < extents.size(); ++i) {
    const size_t at = vde::kFirstExtent + i * vde::kExtentSize;
    PutLE(c.out, at + vde::kDiskNumber, static_cast<DWORD>(extents[i].diskNumber), 4);
    PutLE(c.out, at + vde::kStartingOffset, extents[i].startingOffset, 8);
    PutLE(c.out, at + vde::kExtentLength, extents[i].length, 8);
  }
  c.SetReturned(need);
  return TRUE_;
}

SimDiscovery::SimDiscovery(SimKernel& kernel, SimStorage& storage, SimFileSystem& files)
    : impl_(std::make_unique<Impl>(kernel, storage, files)) {
  Impl* i = impl_.get();
  i->otherProperties = storage.Handler(IOCTL_STORAGE_QUERY_PROPERTY);
  storage.RegisterIoctl(IOCTL_STORAGE_QUERY_PROPERTY, [i](SimDeviceCall& c) { return i->QueryProperty(c); });
  storage.RegisterIoctl(IOCTL_STORAGE_GET_DEVICE_NUMBER, [i](SimDeviceCall& c) { return i->DeviceNumber(c); });
  storage.RegisterIoctl(IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, [i](SimDeviceCall& c) { return i->Geometry(c); });
  storage.RegisterIoctl(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS,
                        [i](SimDeviceCall& c) { return i->VolumeExtents(c); });
}

SimDiscovery::~SimDiscovery() = default;

std::shared_ptr<SimDisk> SimDiscovery::AddDisk(int number, uint64_t sizeBytes, SimDiskDescription description) {
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    if (description.instanceId.empty())
      description.instanceId = "7&" + std::to_string(impl_->nextInstance++) + "&0";
  }
  return impl_->storage.AddDisk(number, sizeBytes / SimDrive::kSectorSize,
                                [&](SimDisk& d) { d.description = std::move(description); });
}

void SimDiscovery::Describe(int number, const std::function<void(SimDiskDescription&)>& change) {
  auto d = impl_->storage.Disk(number);
  if (!d) return;
  std::lock_guard<std::mutex> lk(d->mu);
  change(d->description);
}

std::shared_ptr<SimVolume> SimDiscovery::AddVolume(char letter, int diskNumber, uint64_t offsetBytes,
                                                   uint64_t lengthBytes, const std::string& fileSystem,
                                                   DWORD clusterBytes, bool* partitioned) {
  bool placed = false;
  if (auto d = impl_->storage.Disk(diskNumber)) {
    bool mbr;
    {
      std::lock_guard<std::mutex> lk(d->mu);
      mbr = d->description.mbrPartitionTable;
    }
    placed =
        PlacePartition(d->drive, SimLogicalBlockSize(*d), mbr ? SimPartitionStyle::kMbr : SimPartitionStyle::kGpt,
                       offsetBytes, lengthBytes, fileSystem, static_cast<uint32_t>(diskNumber));
  }
  if (partitioned) *partitioned = placed;
  auto v = impl_->storage.AddVolume(letter, {SimExtent{diskNumber, offsetBytes, lengthBytes}});
  std::lock_guard<std::mutex> lk(v->mu);
  v->fileSystemName = fileSystem;
  v->bytesPerSector = SimDrive::kSectorSize;
  v->sectorsPerCluster = std::max<DWORD>(1, clusterBytes / SimDrive::kSectorSize);
  v->totalClusters = clusterBytes ? lengthBytes / clusterBytes : 0;
  v->freeClusters = v->totalClusters;
  return v;
}

void SimDiscovery::SetFaults(const Faults& faults) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->faults = faults;
}

void SimDiscovery::SetWindowsDirectory(const std::string& dir) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->windowsDirectory = dir;
}

int SimDiscovery::OpenDeviceInfoSets() { return impl_->openSets.load(); }

HDEVINFO SimDiscovery::SetupDiGetClassDevsW(const GUID* classGuid, const char* /*enumerator*/, DWORD flags) {
  if (DWORD e = impl_->FaultsNow().classDevs) {
    SimSetLastError(e);
    return VT_INVALID_HANDLE_VALUE;
  }
  const bool diskInterfaces = classGuid && std::memcmp(classGuid, &kGuidDevInterfaceDisk, sizeof(GUID)) == 0;
  if (!(flags & DIGCF_DEVICEINTERFACE) || !diskInterfaces) {
    SimSetLastError(ERROR_INVALID_PARAMETER);  // only the disk interface class is modelled
    return VT_INVALID_HANDLE_VALUE;
  }
  auto set = std::make_shared<SimDevInfoSet>();
  for (auto& d : impl_->storage.Disks()) {
    std::lock_guard<std::mutex> lk(d->mu);
    if (d->present && d->description.listed) set->disks.push_back(d);
  }
  impl_->openSets.fetch_add(1);
  return impl_->kernel.AddHandle(set);
}

BOOL SimDiscovery::SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfoData, const GUID* guid, DWORD index,
                                               void* iface) {
  auto s = impl_->kernel.LookupAs<SimDevInfoSet>(set);
  if (!s) return Fail(ERROR_INVALID_HANDLE);
  if (DWORD e = impl_->FaultsNow().enumInterfaces) return Fail(e);
  if (deviceInfoData || !guid || std::memcmp(guid, &kGuidDevInterfaceDisk, sizeof(GUID)) != 0)
    return Fail(ERROR_INVALID_PARAMETER);
  if (!RecordOk(iface)) return Fail(ERROR_INVALID_USER_BUFFER);
  if (index >= s->disks.size()) return Fail(ERROR_NO_MORE_ITEMS);
  std::memcpy(static_cast<uint8_t*>(iface) + 4, &kGuidDevInterfaceDisk, sizeof(GUID));
  PutLE(iface, 20, 1, 4);  // Flags: SPINT_ACTIVE
  MarkRecord(iface, index);
  return TRUE_;
}

BOOL SimDiscovery::SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, void* iface, void* detail, DWORD detailSize,
                                                    DWORD* required, void* devInfo) {
  auto s = impl_->kernel.LookupAs<SimDevInfoSet>(set);
  if (!s) return Fail(ERROR_INVALID_HANDLE);
  if (!RecordOk(iface) || RecordIndex(iface) >= s->disks.size()) return Fail(ERROR_INVALID_PARAMETER);
  const size_t index = RecordIndex(iface);
  const SimDiskDescription d = DescriptionOf(s->disks[index]);
  if (d.faults.interfaceDetail) return Fail(d.faults.interfaceDetail);
  const std::u16string path = Utf8ToUtf16(InterfacePath(d));
  const DWORD need = spdi::kDetailPath + static_cast<DWORD>((path.size() + 1) * 2);
  if (required) *required = need;
  if (!detail || detailSize < need) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (GetLE32(detail, 0) != spdi::kDetailCbSize) return Fail(ERROR_INVALID_USER_BUFFER);
  if (devInfo) {
    if (GetLE32(devInfo, 0) != spdi::kDevInfoDataSize) return Fail(ERROR_INVALID_USER_BUFFER);
    MarkRecord(devInfo, index);
  }
  std::memcpy(static_cast<uint8_t*>(detail) + spdi::kDetailPath, path.c_str(), (path.size() + 1) * 2);
  return TRUE_;
}

BOOL SimDiscovery::SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, void* devInfo, DWORD property, DWORD* type,
                                                     BYTE* buffer, DWORD size, DWORD* required) {
  auto s = impl_->kernel.LookupAs<SimDevInfoSet>(set);
  if (!s) return Fail(ERROR_INVALID_HANDLE);
  if (!devInfo || GetLE32(devInfo, 0) != spdi::kDevInfoDataSize || RecordIndex(devInfo) >= s->disks.size())
    return Fail(ERROR_INVALID_PARAMETER);
  const SimDiskDescription d = DescriptionOf(s->disks[RecordIndex(devInfo)]);
  if (auto it = d.faults.properties.find(property); it != d.faults.properties.end() && it->second)
    return Fail(it->second);
  std::vector<uint8_t> bytes;
  DWORD regType = REG_SZ;
  if (property == SPDRP_SERVICE && !d.service.empty()) {
    bytes = RegistryBytes({d.service}, false);
  } else if (property == SPDRP_ENUMERATOR_NAME && !d.enumerator.empty()) {
    bytes = RegistryBytes({d.enumerator}, false);
  } else if (property == SPDRP_HARDWAREID && !d.hardwareIds.empty()) {
    bytes = RegistryBytes(d.hardwareIds, true);
    regType = REG_MULTI_SZ;
  } else {
    return Fail(ERROR_INVALID_DATA);  // what Windows says of a property the device does not have
  }
  if (type) *type = regType;
  if (required) *required = static_cast<DWORD>(bytes.size());
  if (!buffer || size < bytes.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, bytes.data(), bytes.size());
  return TRUE_;
}

BOOL SimDiscovery::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  if (!impl_->kernel.LookupAs<SimDevInfoSet>(set) || !impl_->kernel.CloseHandle(set))
    return Fail(ERROR_INVALID_HANDLE);
  impl_->openSets.fetch_sub(1);
  return TRUE_;
}

std::string SimDiscovery::ResolveInterfacePath(const std::string& path) {
  for (auto& d : impl_->storage.Disks()) {
    SimDiskDescription desc;
    int number = 0;
    {
      std::lock_guard<std::mutex> lk(d->mu);
      desc = d->description;
      number = d->number;
    }
    if (Lower(InterfacePath(desc)) != Lower(path)) continue;
    if (desc.faults.interfaceOpen) return {};
    return "\\\\.\\PhysicalDrive" + std::to_string(number);
  }
  return {};
}

DWORD SimDiscovery::GetLogicalDrives() {
  const Faults f = impl_->FaultsNow();
  if (f.logicalDrives) return *f.logicalDrives;
  DWORD mask = 0;
  for (char l = 'A'; l <= 'Z'; ++l) {
    const std::string root = std::string(1, l) + ":\\";
    if (impl_->MountedVolume(l) || impl_->files.GetFileAttributesW(root) != INVALID_FILE_ATTRIBUTES)
      mask |= 1u << (l - 'A');
  }
  return mask;
}

BOOL SimDiscovery::GetVolumeInformationW(const std::string& rootPath, std::string* volumeName,
                                         DWORD volumeNameSize, DWORD* serialNumber, DWORD* maxComponentLength,
                                         DWORD* flags, std::string* fsName, DWORD fsNameSize) {
  const char letter = LetterOf(rootPath);
  const Faults f = impl_->FaultsNow();
  if (auto it = f.volumeInformation.find(letter); it != f.volumeInformation.end() && it->second)
    return Fail(it->second);
  std::string fs, label;
  DWORD serial = 0;
  if (auto v = impl_->MountedVolume(letter)) {
    std::lock_guard<std::mutex> lk(v->mu);
    fs = v->fileSystemName;
    label = v->label;
    serial = v->serialNumber;
    if (fs.empty()) return Fail(ERROR_UNRECOGNIZED_VOLUME);
  } else if (letter &&
             impl_->files.GetFileAttributesW(std::string(1, letter) + ":\\") != INVALID_FILE_ATTRIBUTES) {
    fs = "NTFS";  // a drive of the file system module
  } else {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  // The sizes count characters with the NUL; a text that does not fit fails the call.
  if ((volumeName && Utf8ToUtf16(label).size() + 1 > volumeNameSize) ||
      (fsName && Utf8ToUtf16(fs).size() + 1 > fsNameSize))
    return Fail(ERROR_BAD_LENGTH);
  if (volumeName) *volumeName = label;
  if (fsName) *fsName = fs;
  if (serialNumber) *serialNumber = serial;
  if (maxComponentLength) *maxComponentLength = 255;
  if (flags) *flags = 0;
  return TRUE_;
}

BOOL SimDiscovery::GetDiskFreeSpaceW(const std::string& rootPath, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                                     DWORD* freeClusters, DWORD* totalClusters) {
  const char letter = LetterOf(rootPath);
  const Faults f = impl_->FaultsNow();
  if (auto it = f.diskFreeSpace.find(letter); it != f.diskFreeSpace.end() && it->second) return Fail(it->second);
  DWORD spc = 8, bps = SimDrive::kSectorSize;
  uint64_t freeC = 0, totalC = 0;
  if (auto v = impl_->MountedVolume(letter)) {
    std::lock_guard<std::mutex> lk(v->mu);
    if (v->fileSystemName.empty()) return Fail(ERROR_UNRECOGNIZED_VOLUME);
    spc = v->sectorsPerCluster;
    bps = v->bytesPerSector;
    freeC = v->freeClusters;
    totalC = v->totalClusters;
  } else {
    ULONGLONG total = 0, totalFree = 0;
    if (!letter || !impl_->files.GetDiskFreeSpaceExW(std::string(1, letter) + ":\\", nullptr, &total, &totalFree))
      return Fail(ERROR_PATH_NOT_FOUND);
    totalC = total / (uint64_t(spc) * bps);
    freeC = totalFree / (uint64_t(spc) * bps);
  }
  if (sectorsPerCluster) *sectorsPerCluster = spc;
  if (bytesPerSector) *bytesPerSector = bps;
  // The 32-bit counts saturate, as Windows reports them for very large volumes.
  if (freeClusters) *freeClusters = static_cast<DWORD>(std::min<uint64_t>(freeC, 0xFFFFFFFFu));
  if (totalClusters) *totalClusters = static_cast<DWORD>(std::min<uint64_t>(totalC, 0xFFFFFFFFu));
  return TRUE_;
}

bool SimDiscovery::AnswersFreeSpaceEx(const std::string& path, BOOL* result, ULONGLONG* freeToCaller,
                                      ULONGLONG* total, ULONGLONG* totalFree) {
  auto v = impl_->MountedVolume(LetterOf(path));
  if (!v) return false;
  std::lock_guard<std::mutex> lk(v->mu);
  if (v->fileSystemName.empty()) {
    *result = Fail(ERROR_UNRECOGNIZED_VOLUME);
    return true;
  }
  const uint64_t cluster = uint64_t(v->sectorsPerCluster) * v->bytesPerSector;
  if (freeToCaller) *freeToCaller = v->freeClusters * cluster;
  if (total) *total = v->totalClusters * cluster;
  if (totalFree) *totalFree = v->freeClusters * cluster;
  *result = TRUE_;
  return true;
}

UINT SimDiscovery::GetWindowsDirectoryW(std::string* dir) {
  std::string d;
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    if (impl_->faults.windowsDirectory) {
      SimSetLastError(impl_->faults.windowsDirectory);
      return 0;
    }
    d = impl_->windowsDirectory;
  }
  if (dir) *dir = d;
  return static_cast<UINT>(Utf8ToUtf16(d).size());
}

}  // namespace plat::sim

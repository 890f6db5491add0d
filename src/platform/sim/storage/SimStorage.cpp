#include "platform/sim/storage/SimStorage.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "platform/sim/kernel/SimKernel.h"

namespace plat::sim {

namespace {

BOOL Fail(DWORD e) {
  SimSetLastError(e);
  return FALSE_;
}

// What a device handle stands for.
class SimDeviceHandle final : public SimObject {
 public:
  std::shared_ptr<SimDisk> disk;      // the physical disk (a volume handle: its first extent's)
  std::shared_ptr<SimVolume> volume;  // null for a physical-disk handle
  int arrival = 0;                    // the disk's stay on the bus it was opened in
  DWORD access = 0;
  uint64_t position = 0;  // bytes, for ReadFile without an offset
  const char* Kind() const override { return "device"; }
};

// "\\.\PhysicalDrive12" -> 12; "\\.\e:" -> 'E'. Windows compares device names without case.
bool ParseDevicePath(const std::string& path, int* disk, char* letter) {
  *disk = -1;
  *letter = 0;
  if (path.size() < 5 || path.compare(0, 4, "\\\\.\\") != 0) return false;
  std::string rest = path.substr(4);
  if (rest.size() == 2 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':') {
    *letter = static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
    return true;
  }
  static const std::string kDrive = "physicaldrive";
  if (rest.size() <= kDrive.size() || rest.size() > kDrive.size() + 3) return false;
  for (size_t i = 0; i < kDrive.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(rest[i])) != kDrive[i]) return false;
  int n = 0;
  for (size_t i = kDrive.size(); i < rest.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(rest[i]))) return false;
    n = n * 10 + (rest[i] - '0');
  }
  *disk = n;
  return true;
}

}  // namespace

struct SimStorage::Impl {
  std::mutex mu;
  std::map<int, std::shared_ptr<SimDisk>> disks;
  std::map<char, std::shared_ptr<SimVolume>> volumes;
  std::map<DWORD, SimIoctlHandler> handlers;
  std::vector<SimOpenCheck> openChecks;
  std::vector<DWORD> ioctlLog;
  std::vector<SimBusListener> busListeners;
  SimIoctlHandler flushHandler;
  std::vector<IoctlRecord> records;
  // Volumes that left with their disk, and the number they had it under.
  struct Parked {
    std::weak_ptr<SimDisk> disk;
    std::shared_ptr<SimVolume> volume;
    int number = 0;
  };
  std::vector<Parked> parked;
  // What a fault on control codes is aimed at: a disk's handles and its volumes', or one volume's.
  struct IoctlAim {
    std::weak_ptr<SimDisk> disk;
    std::weak_ptr<SimVolume> volume;
    bool atVolume = false;
    DWORD code = 0;
  };
  SimFaultList<IoctlAim> faults;
};

uint32_t SimLogicalBlockSize(SimDisk& disk) {
  constexpr uint32_t kSector = SimDrive::kSectorSize;
  std::lock_guard<std::mutex> lk(disk.mu);
  const uint32_t b = disk.logicalBlockSize;
  return b >= kSector && b % kSector == 0 ? b : kSector;
}

SimStorage::SimStorage(SimKernel& kernel) : kernel_(kernel), impl_(std::make_unique<Impl>()) {}
SimStorage::~SimStorage() = default;

std::shared_ptr<SimDisk> SimStorage::AddDisk(int number, uint64_t sectors,
                                             const std::function<void(SimDisk&)>& prepare) {
  auto d = std::make_shared<SimDisk>();
  d->number = number;
  d->drive.SetSectors(sectors);
  if (prepare) prepare(*d);
  std::shared_ptr<SimDisk> replaced;
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    auto& slot = impl_->disks[number];
    replaced = slot;
    slot = d;
  }
  std::vector<SimBusChange> changes;
  if (replaced) changes.push_back({SimBusEvent::kDiskRemoval, replaced, 0});
  changes.push_back({SimBusEvent::kDiskArrival, d, 0});
  Tell(changes);
  return d;
}

std::shared_ptr<SimDisk> SimStorage::Disk(int number) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  auto it = impl_->disks.find(number);
  return it == impl_->disks.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<SimDisk>> SimStorage::Disks() {
  std::lock_guard<std::mutex> lk(impl_->mu);
  std::vector<std::shared_ptr<SimDisk>> r;
  for (auto& [n, d] : impl_->disks) r.push_back(d);
  return r;
}

void SimStorage::DetachDisk(int number) {
  std::shared_ptr<SimDisk> d;
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    auto it = impl_->disks.find(number);
    if (it == impl_->disks.end()) return;
    d = it->second;
    impl_->disks.erase(it);
  }
  {
    std::lock_guard<std::mutex> lk(d->mu);
    d->present = false;
  }
  // Its volumes leave with it: a volume with any extent on the disk loses its letter.
  std::vector<std::shared_ptr<SimVolume>> leaving;
  for (const auto& v : Volumes()) {
    std::lock_guard<std::mutex> lk(v->mu);
    for (const SimExtent& e : v->extents)
      if (e.diskNumber == number) {
        leaving.push_back(v);
        break;
      }
  }
  std::vector<SimBusChange> changes;
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    for (const auto& v : leaving) {
      auto it = impl_->volumes.find(v->letter);
      if (it == impl_->volumes.end() || it->second != v) continue;
      impl_->volumes.erase(it);
      impl_->parked.push_back({d, v, number});
      changes.push_back({SimBusEvent::kVolumeRemoval, nullptr, v->letter});
    }
  }
  changes.push_back({SimBusEvent::kDiskRemoval, d, 0});
  Tell(changes);
}

void SimStorage::AttachDisk(std::shared_ptr<SimDisk> disk, int number) {
  {
    std::lock_guard<std::mutex> lk(disk->mu);
    disk->number = number;
    disk->present = true;
    disk->arrival++;
  }
  std::vector<Impl::Parked> back;
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->disks[number] = disk;
    auto& parked = impl_->parked;
    for (auto it = parked.begin(); it != parked.end();) {
      if (it->disk.lock() == disk) {
        back.push_back(std::move(*it));
        it = parked.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Its volumes come back with it, on its new number, where their letter is still free.
  for (const auto& p : back) {
    std::lock_guard<std::mutex> lk(p.volume->mu);
    for (SimExtent& e : p.volume->extents)
      if (e.diskNumber == p.number) e.diskNumber = number;
  }
  std::vector<SimBusChange> changes{{SimBusEvent::kDiskArrival, disk, 0}};
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    for (const auto& p : back)
      if (impl_->volumes.emplace(p.volume->letter, p.volume).second)
        changes.push_back({SimBusEvent::kVolumeArrival, nullptr, p.volume->letter});
  }
  Tell(changes);
}

void SimStorage::LeaveBus(int number, std::shared_ptr<SimDisk> newcomer) {
  DetachDisk(number);
  if (newcomer) AttachDisk(std::move(newcomer), number);
}

void SimStorage::AddFault(int disk, DWORD code, SimOutcome what, SimTrigger when) {
  auto d = Disk(disk);
  if (!d) return;
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->faults.Add({d, {}, false, code}, when, std::move(what));
}

void SimStorage::AddVolumeFault(char letter, DWORD code, SimOutcome what, SimTrigger when) {
  auto v = Volume(letter);
  if (!v) return;
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->faults.Add({{}, v, true, code}, when, std::move(what));
}

void SimStorage::ClearFaults() {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->faults.Clear();
}

bool SimStorage::CarryOut(SimDisk* disk, const SimOutcome& what, uint64_t limitMs, bool* status) {
  if (status) *status = false;
  auto failed = [](DWORD e) {
    SimSetLastError(e);
    return false;
  };
  const bool hang = what.kind == SimFaultKind::HangUntilCancel || what.kind == SimFaultKind::HangForever;
  int arrival = 0;
  if (disk) {
    std::lock_guard<std::mutex> lk(disk->mu);
    arrival = disk->arrival;
  }
  // The disk's stay on the bus during which the call reached it is over.
  auto left = [&] {
    if (!disk) return false;
    std::lock_guard<std::mutex> lk(disk->mu);
    return !disk->present || disk->arrival != arrival;
  };
  if (what.delayMs) {
    // A hang has no time-out of its own: its delay is the time before it takes hold.
    const uint64_t limit = limitMs && !hang ? limitMs : UINT64_MAX;
    const uint64_t until = kernel_.NowMs() + std::min<uint64_t>(what.delayMs, limit);
    const WaitOutcome o = kernel_.BlockUntil({}, until, WaitKind{true, !what.ignoresCancel});
    if (o == WaitOutcome::Cancelled || o == WaitOutcome::Shutdown) return failed(ERROR_OPERATION_ABORTED);
    if (what.delayMs > limit) return failed(ERROR_SEM_TIMEOUT);
    // Windows fails what is pending on a disk that leaves; nothing of it reaches another disk.
    if (left()) return failed(ERROR_DEVICE_NOT_CONNECTED);
  }
  if (hang) {
    kernel_.BlockUntil({}, UINT64_MAX, WaitKind{true, what.kind == SimFaultKind::HangUntilCancel});
    return failed(ERROR_OPERATION_ABORTED);
  }
  switch (what.kind) {
    case SimFaultKind::WinError: return what.winError ? failed(what.winError) : true;
    case SimFaultKind::ScsiStatus:
      if (!status) return failed(ERROR_IO_DEVICE);
      *status = true;
      return true;
    case SimFaultKind::LeaveBus:
      if (disk) {
        int number;
        {
          std::lock_guard<std::mutex> lk(disk->mu);
          number = disk->number;
        }
        if (Disk(number).get() == disk) LeaveBus(number, what.newcomer);
      }
      return failed(ERROR_DEVICE_NOT_CONNECTED);
    default: return true;
  }
}

std::shared_ptr<SimVolume> SimStorage::AddVolume(char letter, std::vector<SimExtent> extents) {
  auto v = std::make_shared<SimVolume>();
  v->letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  v->extents = std::move(extents);
  bool replaced;
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    auto& slot = impl_->volumes[v->letter];
    replaced = slot != nullptr;
    slot = v;
  }
  std::vector<SimBusChange> changes;
  if (replaced) changes.push_back({SimBusEvent::kVolumeRemoval, nullptr, v->letter});
  changes.push_back({SimBusEvent::kVolumeArrival, nullptr, v->letter});
  Tell(changes);
  return v;
}

std::shared_ptr<SimVolume> SimStorage::Volume(char letter) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  auto it = impl_->volumes.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
  return it == impl_->volumes.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<SimVolume>> SimStorage::Volumes() {
  std::lock_guard<std::mutex> lk(impl_->mu);
  std::vector<std::shared_ptr<SimVolume>> r;
  for (auto& [l, v] : impl_->volumes) r.push_back(v);
  return r;
}

void SimStorage::RemoveVolume(char letter) {
  const char l = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  bool removed;
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    removed = impl_->volumes.erase(l) != 0;
  }
  if (removed) Tell({{SimBusEvent::kVolumeRemoval, nullptr, l}});
}

void SimStorage::RegisterIoctl(DWORD code, SimIoctlHandler handler) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->handlers[code] = std::move(handler);
}

SimIoctlHandler SimStorage::Handler(DWORD code) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  auto it = impl_->handlers.find(code);
  return it == impl_->handlers.end() ? SimIoctlHandler{} : it->second;
}

void SimStorage::AddOpenCheck(SimOpenCheck check) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->openChecks.push_back(std::move(check));
}

void SimStorage::AddBusListener(SimBusListener listener) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->busListeners.push_back(std::move(listener));
}

void SimStorage::SetFlushHandler(SimIoctlHandler handler) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->flushHandler = std::move(handler);
}

void SimStorage::Tell(const std::vector<SimBusChange>& changes) {
  std::vector<SimBusListener> listeners;
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    listeners = impl_->busListeners;
  }
  for (const auto& c : changes)
    for (const auto& l : listeners) l(c);
}

std::vector<DWORD> SimStorage::IoctlLog() {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->ioctlLog;
}

std::vector<SimStorage::IoctlRecord> SimStorage::IoctlRecords() {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->records;
}

bool SimStorage::IsDevicePath(const std::string& path) { return path.compare(0, 4, "\\\\.\\") == 0; }

HANDLE SimStorage::CreateFileW(const std::string& path, DWORD access, DWORD /*share*/, DWORD creation,
                               DWORD /*flags*/) {
  int number = -1;
  char letter = 0;
  if (!ParseDevicePath(path, &number, &letter)) {
    SimSetLastError(ERROR_FILE_NOT_FOUND);
    return VT_INVALID_HANDLE_VALUE;
  }
  if (creation != OPEN_EXISTING) {
    SimSetLastError(ERROR_INVALID_PARAMETER);
    return VT_INVALID_HANDLE_VALUE;
  }
  auto h = std::make_shared<SimDeviceHandle>();
  h->access = access;
  if (letter) {
    h->volume = Volume(letter);
    if (!h->volume) {
      SimSetLastError(ERROR_FILE_NOT_FOUND);
      return VT_INVALID_HANDLE_VALUE;
    }
    if (!h->volume->extents.empty()) h->disk = Disk(h->volume->extents.front().diskNumber);
  } else {
    h->disk = Disk(number);
    if (!h->disk) {
      SimSetLastError(ERROR_FILE_NOT_FOUND);
      return VT_INVALID_HANDLE_VALUE;
    }
  }
  std::vector<SimOpenCheck> checks;
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    checks = impl_->openChecks;
  }
  for (const auto& check : checks) {
    if (DWORD e = check(path, h->disk, letter != 0)) {
      SimSetLastError(e);
      return VT_INVALID_HANDLE_VALUE;
    }
  }
  if (h->disk) {
    std::lock_guard<std::mutex> lk(h->disk->mu);
    h->arrival = h->disk->arrival;
  }
  return kernel_.AddHandle(h);
}

bool SimStorage::Owns(HANDLE h) { return kernel_.LookupAs<SimDeviceHandle>(h) != nullptr; }

// The handle's disk has left the bus since the handle was opened (also when it is back).
static bool Gone(const SimDeviceHandle& dev) {
  if (!dev.disk) return false;
  std::lock_guard<std::mutex> lk(dev.disk->mu);
  return !dev.disk->present || dev.disk->arrival != dev.arrival;
}

BOOL SimStorage::DeviceIoControl(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                                 DWORD* returned) {
  auto dev = kernel_.LookupAs<SimDeviceHandle>(h);
  if (!dev) return Fail(ERROR_INVALID_HANDLE);
  SimIoctlHandler handler;
  const bool offBus = Gone(*dev);
  std::optional<SimOutcome> fault;
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->ioctlLog.push_back(code);
    impl_->records.push_back({dev->disk, dev->volume ? dev->volume->letter : '\0', code, offBus});
    auto it = impl_->handlers.find(code);
    if (it != impl_->handlers.end()) handler = it->second;
    if (!offBus)
      fault = impl_->faults.Take([&](const Impl::IoctlAim& a) {
        if (a.code && a.code != code) return false;
        if (a.atVolume) return dev->volume && a.volume.lock() == dev->volume;
        return dev->disk && a.disk.lock() == dev->disk;
      });
  }
  if (returned) *returned = 0;
  if (offBus) return Fail(ERROR_DEVICE_NOT_CONNECTED);
  if (fault && !CarryOut(dev->disk.get(), *fault)) return FALSE_;
  if (!handler) return Fail(ERROR_INVALID_FUNCTION);
  SimDeviceCall call{dev->disk, dev->volume, h, dev->access, code, in, inSize, out, outSize, returned};
  return handler(call);
}

// Where byte offset `pos` of what the handle opened lies on a drive; false past the end.
static bool Place(const SimDeviceHandle& dev, uint64_t pos, uint64_t len, SimDrive** drive, uint64_t* diskOffset) {
  if (!dev.disk) return false;
  if (!dev.volume) {
    *drive = &dev.disk->drive;
    *diskOffset = pos;
    return true;
  }
  // Volume reads stay within its first extent: the volumes the program reads are single-extent.
  const SimExtent& e = dev.volume->extents.front();
  if (pos > e.length || len > e.length - pos) return false;
  *drive = &dev.disk->drive;
  *diskOffset = e.startingOffset + pos;
  return true;
}

// Device I/O is never buffered: it starts and ends on a logical block of the disk, not the drive's
// 512-byte sector.
static bool WholeBlocks(const SimDeviceHandle& dev, uint64_t pos, uint64_t len) {
  const uint64_t block = dev.disk ? SimLogicalBlockSize(*dev.disk) : SimDrive::kSectorSize;
  return pos % block == 0 && len % block == 0;
}

BOOL SimStorage::ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read, const ULONGLONG* offset) {
  auto dev = kernel_.LookupAs<SimDeviceHandle>(h);
  if (read) *read = 0;
  if (!dev) return Fail(ERROR_INVALID_HANDLE);
  if (Gone(*dev)) return Fail(ERROR_DEVICE_NOT_CONNECTED);
  uint64_t pos = offset ? *offset : dev->position;
  if (!WholeBlocks(*dev, pos, toRead)) return Fail(ERROR_INVALID_PARAMETER);
  SimDrive* drive = nullptr;
  uint64_t at = 0;
  if (!Place(*dev, pos, toRead, &drive, &at) ||
      !drive->Read(at / SimDrive::kSectorSize, toRead / SimDrive::kSectorSize, buffer))
    return Fail(ERROR_SECTOR_NOT_FOUND);
  if (!offset) dev->position = pos + toRead;
  if (!SimDriveWait(kernel_, *drive, false, toRead)) return Fail(ERROR_OPERATION_ABORTED);
  if (read) *read = toRead;
  return TRUE_;
}

BOOL SimStorage::WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, const ULONGLONG* offset) {
  auto dev = kernel_.LookupAs<SimDeviceHandle>(h);
  if (written) *written = 0;
  if (!dev) return Fail(ERROR_INVALID_HANDLE);
  if (!(dev->access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  if (Gone(*dev)) return Fail(ERROR_DEVICE_NOT_CONNECTED);
  uint64_t pos = offset ? *offset : dev->position;
  if (!WholeBlocks(*dev, pos, toWrite)) return Fail(ERROR_INVALID_PARAMETER);
  SimDrive* drive = nullptr;
  uint64_t at = 0;
  if (!Place(*dev, pos, toWrite, &drive, &at) ||
      !drive->Write(at / SimDrive::kSectorSize, toWrite / SimDrive::kSectorSize, buffer))
    return Fail(ERROR_SECTOR_NOT_FOUND);
  if (!offset) dev->position = pos + toWrite;
  if (!SimDriveWait(kernel_, *drive, true, toWrite)) return Fail(ERROR_OPERATION_ABORTED);
  if (written) *written = toWrite;
  return TRUE_;
}

BOOL SimStorage::FlushFileBuffers(HANDLE h) {
  auto dev = kernel_.LookupAs<SimDeviceHandle>(h);
  if (!dev) return Fail(ERROR_INVALID_HANDLE);
  if (!(dev->access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  if (Gone(*dev)) return Fail(ERROR_DEVICE_NOT_CONNECTED);
  SimIoctlHandler handler;
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    handler = impl_->flushHandler;
  }
  if (!handler) return TRUE_;
  SimDeviceCall call{dev->disk, dev->volume, h, dev->access, 0, nullptr, 0, nullptr, 0, nullptr};
  return handler(call);
}

BOOL SimStorage::SetFilePointerEx(HANDLE h, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod) {
  auto dev = kernel_.LookupAs<SimDeviceHandle>(h);
  if (!dev) return Fail(ERROR_INVALID_HANDLE);
  LONGLONG base = 0;
  if (moveMethod == FILE_CURRENT) {
    base = static_cast<LONGLONG>(dev->position);
  } else if (moveMethod != FILE_BEGIN) {
    return Fail(ERROR_INVALID_PARAMETER);  // a device has no end to seek from here
  }
  LONGLONG pos = base + distance;
  if (pos < 0) return Fail(ERROR_NEGATIVE_SEEK);
  dev->position = static_cast<uint64_t>(pos);
  if (newPosition) *newPosition = pos;
  return TRUE_;
}

}  // namespace plat::sim

#include "platform/sim/storage/SimNotifications.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "base/uUtf.h"
#include "platform/WinDeviceNotify.h"
#include "platform/WinStorage.h"
#include "platform/sim/kernel/SimDesktop.h"
#include "platform/sim/storage/SimDiscovery.h"
#include "platform/sim/kernel/SimKernel.h"
#include "platform/sim/storage/SimStorage.h"

namespace plat::sim {

namespace {

constexpr DWORD kErrorInvalidWindowHandle = 1400;
// Registration handles: values no kernel handle of the machine takes.
constexpr uintptr_t kFirstNotifyHandle = 0xD0000000u;

void* Failed(DWORD e) {
  SimSetLastError(e);
  return nullptr;
}

// The disk-interface filter exactly as the program registers it.
bool FilterOk(const void* filter) {
  DWORD size;
  std::memcpy(&size, filter, sizeof size);  // read first, as Windows does: it says how much follows
  DEV_BROADCAST_DEVICEINTERFACE_W f;
  if (size != sizeof f) return false;
  std::memcpy(&f, filter, sizeof f);
  return f.dbcc_size == sizeof f && f.dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE && f.dbcc_reserved == 0 &&
         std::memcmp(&f.dbcc_classguid, &kGuidDevInterfaceDisk, sizeof(GUID)) == 0 && f.dbcc_name[0] == 0;
}

std::vector<uint8_t> InterfaceRecord(const std::string& path) {
  const std::u16string name = Utf8ToUtf16(path);
  const size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (name.size() + 1) * sizeof(char16_t);
  std::vector<uint8_t> r(std::max(size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)), 0);
  DEV_BROADCAST_DEVICEINTERFACE_W head{};
  head.dbcc_size = static_cast<DWORD>(size);
  head.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  head.dbcc_classguid = kGuidDevInterfaceDisk;
  std::memcpy(r.data(), &head, offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name));
  std::memcpy(r.data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name), name.data(),
              name.size() * sizeof(char16_t));
  return r;
}

std::vector<uint8_t> VolumeRecord(char letter) {
  DEV_BROADCAST_VOLUME v{};
  v.dbcv_size = sizeof v;
  v.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  v.dbcv_unitmask = 1u << (letter - 'A');
  std::vector<uint8_t> r(sizeof v);
  std::memcpy(r.data(), &v, sizeof v);
  return r;
}

}  // namespace

SimNotifications::SimNotifications(SimStorage& storage, SimDesktop& desktop) : desktop_(desktop) {
  storage.AddBusListener([this](const SimBusChange& c) { OnBusChange(c); });
}

void* SimNotifications::RegisterDeviceNotificationW(HANDLE recipient, void* filter, DWORD flags) {
  std::lock_guard<std::mutex> lk(mu_);
  RegisterCall call{recipient, {}, flags};
  if (filter) {
    DWORD size;
    std::memcpy(&size, filter, sizeof size);
    const auto* bytes = static_cast<const uint8_t*>(filter);
    call.filter.assign(bytes, bytes + std::clamp<DWORD>(size, sizeof size, 1024));
  }
  registerCalls_.push_back(std::move(call));
  if (registerFault_) return Failed(registerFault_);
  if (!recipient) return Failed(kErrorInvalidWindowHandle);
  if (flags != DEVICE_NOTIFY_WINDOW_HANDLE) return Failed(ERROR_INVALID_PARAMETER);
  if (!filter || !FilterOk(filter)) return Failed(ERROR_INVALID_DATA);
  const uintptr_t id = kFirstNotifyHandle + 16 * nextId_++;
  registrations_[id] = recipient;
  return reinterpret_cast<void*>(id);
}

BOOL SimNotifications::UnregisterDeviceNotification(void* notification) {
  std::lock_guard<std::mutex> lk(mu_);
  if (registrations_.erase(reinterpret_cast<uintptr_t>(notification)) == 0) {
    SimSetLastError(ERROR_INVALID_HANDLE);
    return FALSE_;
  }
  return TRUE_;
}

void SimNotifications::SetRegisterFault(DWORD winError) {
  std::lock_guard<std::mutex> lk(mu_);
  registerFault_ = winError;
}

std::vector<SimNotifications::RegisterCall> SimNotifications::RegisterCalls() {
  std::lock_guard<std::mutex> lk(mu_);
  return registerCalls_;
}

std::vector<HWND> SimNotifications::Recipients() {
  std::lock_guard<std::mutex> lk(mu_);
  std::vector<HWND> r;
  for (const auto& [id, w] : registrations_) r.push_back(w);
  return r;
}

void SimNotifications::OnBusChange(const SimBusChange& c) {
  const bool arrival = c.event == SimBusEvent::kDiskArrival || c.event == SimBusEvent::kVolumeArrival;
  std::vector<uint8_t> record;
  if (c.disk) {
    SimDiskDescription d;
    {
      std::lock_guard<std::mutex> lk(c.disk->mu);
      d = c.disk->description;
    }
    if (!d.listed) return;
    record = InterfaceRecord(DiskInterfacePath(d));
  } else if (c.letter >= 'A' && c.letter <= 'Z') {
    record = VolumeRecord(c.letter);
  } else {
    return;
  }
  std::vector<HWND> windows;
  LPARAM lParam;
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (registrations_.empty()) return;
    for (const auto& [id, w] : registrations_) windows.push_back(w);
    records_.push_back(std::move(record));
    lParam = reinterpret_cast<LPARAM>(records_.back().data());
  }
  for (HWND w : windows)
    desktop_.PostWindowMessage(w, WM_DEVICECHANGE, arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, lParam);
}

}  // namespace plat::sim

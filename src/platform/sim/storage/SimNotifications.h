// Device-change notifications. RegisterDeviceNotificationW records a window that asks for the
// arrivals and removals of disk interfaces, after checking the filter as the program sends it:
// a 32-byte DEV_BROADCAST_DEVICEINTERFACE_W (size 32, type DBT_DEVTYP_DEVICEINTERFACE, reserved
// 0, GUID_DEVINTERFACE_DISK, an empty name) and flags DEVICE_NOTIFY_WINDOW_HANDLE; other filters
// are not modelled and fail with ERROR_INVALID_DATA (flags: ERROR_INVALID_PARAMETER).
// UnregisterDeviceNotification removes the registration.
//
// When a disk joins or leaves the bus (SimStorage's disk events), every registered window gets
// WM_DEVICECHANGE with DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE and a
// DEV_BROADCAST_DEVICEINTERFACE_W naming the disk's interface path (disks the Setup API does not
// list have no interface and send nothing). When a lettered volume arrives or goes, the same
// windows get a DEV_BROADCAST_VOLUME with its unit mask: Windows sends those to every top-level
// window, and the registered ones are the windows this machine knows. Messages go through the
// desktop's window-message sink (SimDesktop::SetWindowMessageSink); the records stay valid for
// the life of the machine.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <vector>

#include "platform/PlatformTypes.h"

namespace plat::sim {

class SimDesktop;
class SimStorage;
struct SimBusChange;

class SimNotifications {
 public:
  SimNotifications(SimStorage& storage, SimDesktop& desktop);

  void* RegisterDeviceNotificationW(HANDLE recipient, void* filter, DWORD flags);
  BOOL UnregisterDeviceNotification(void* notification);

  // A Windows error that every registration fails with (0: none).
  void SetRegisterFault(DWORD winError);
  // The windows registered now, in the order they registered.
  std::vector<HWND> Recipients();
  // Every registration asked for, accepted or not: the filter's bytes as far as its size field
  // says (at most 1 KiB), so a test can check or replay exactly what the program sent.
  struct RegisterCall {
    HWND recipient = nullptr;
    std::vector<uint8_t> filter;
    DWORD flags = 0;
  };
  std::vector<RegisterCall> RegisterCalls();

 private:
  void OnBusChange(const SimBusChange& change);

  SimDesktop& desktop_;
  std::mutex mu_;
  DWORD registerFault_ = 0;
  uintptr_t nextId_ = 0;
  std::map<uintptr_t, HWND> registrations_;  // by handle value, in registration order
  std::vector<RegisterCall> registerCalls_;
  std::list<std::vector<uint8_t>> records_;  // every broadcast record sent, kept for lParam
};

}  // namespace plat::sim

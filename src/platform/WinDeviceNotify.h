// Device-change notifications: the filter that registers a window for disk-interface events,
// the WM_DEVICECHANGE message and the broadcast records its lParam points to. Windows' names and
// 64-bit layouts; win32/Win32Checks.cpp pins them against the real headers.
#pragma once

#include <cstddef>

#include "platform/PlatformTypes.h"

namespace plat {

enum : DWORD {
  WM_DEVICECHANGE = 0x0219,
  DBT_DEVICEARRIVAL = 0x8000,
  DBT_DEVICEREMOVECOMPLETE = 0x8004,
  DBT_DEVTYP_VOLUME = 0x0002,
  DBT_DEVTYP_DEVICEINTERFACE = 0x0005,
  DEVICE_NOTIFY_WINDOW_HANDLE = 0x0000,
};

// What every broadcast record starts with.
struct DEV_BROADCAST_HDR {  // 12 bytes
  DWORD dbch_size;
  DWORD dbch_devicetype;
  DWORD dbch_reserved;
};

// A device interface: the registration filter (with an empty name, 32 bytes) and an arrival or
// removal record (dbcc_name holds the interface path, NUL-terminated; dbcc_size covers it).
struct DEV_BROADCAST_DEVICEINTERFACE_W {  // 32 bytes with its one declared character
  DWORD dbcc_size;
  DWORD dbcc_devicetype;
  DWORD dbcc_reserved;
  GUID dbcc_classguid;
  char16_t dbcc_name[1];
};

// A lettered volume: bit n of the unit mask is drive letter 'A' + n.
struct DEV_BROADCAST_VOLUME {  // 20 bytes
  DWORD dbcv_size;
  DWORD dbcv_devicetype;
  DWORD dbcv_reserved;
  DWORD dbcv_unitmask;
  WORD dbcv_flags;
};

static_assert(sizeof(DEV_BROADCAST_HDR) == 12);
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_classguid) == 12);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) == 28);
static_assert(sizeof(DEV_BROADCAST_VOLUME) == 20);

}  // namespace plat

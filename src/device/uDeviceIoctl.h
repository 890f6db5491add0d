// Control codes the device commands send. Stand-in until the shared platform header carries them.
#pragma once

#include "platform/PlatformTypes.h"

namespace devioctl {

constexpr plat::DWORD CtlCode(plat::DWORD DeviceType, plat::DWORD Function, plat::DWORD Method, plat::DWORD Access) {
  return (DeviceType << 16) | (Access << 14) | (Function << 2) | Method;
}

constexpr plat::DWORD IOCTL_SCSI_PASS_THROUGH_DIRECT = CtlCode(0x04, 0x405, 0, 3);
constexpr plat::DWORD IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES = CtlCode(0x2D, 0x501, 0, 2);
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == 0x4D014);
static_assert(IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES == 0x2D9404);

}  // namespace devioctl

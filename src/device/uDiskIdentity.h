// Proof that a device path still names the disk the user chose, and handles that keep it so.
//
// Windows gives a disk that arrives the lowest free number, so "\\.\PhysicalDrive3" may name
// another disk a moment after the chosen one has left the bus, and "\\.\E:" another disk's
// volume. A handle stays with the device it opened: once that device has left, every request
// on the handle fails (55 or 1167) and none reaches a disk that took its number or its letter.
//
// Whoever sends commands to a chosen disk (a TRIM run, the disk initialisation after a
// full-device run, the real test's nested runs) therefore opens it once with OpenProvenDisk and
// sends every request through that handle, and uses a volume handle only after
// OpenVolumeOnDisk has placed it on the proven disk.
#pragma once

#include <cstdint>
#include <string>

#include "core/uTypes.h"
#include "device/uDeviceHandle.h"
#include "device/uScsiPassThrough.h"

struct TDiskProof {
  bool Proven = false;
  // The disk has left the bus: the open or a query failed with 55 or 1167, or the path of a
  // listed disk is no longer found (2).
  bool Gone = false;
  uint32_t WinErr = 0;  // of the open or query that failed
  std::string Reason;   // why it is not proven, in the words of the window's disk check
  // The drive geometry read on the handle (also when it failed: GeometryWinErr).
  bool GeometryRead = false;
  uint32_t GeometryWinErr = 0;
  uint64_t SizeBytes = 0;
  uint32_t BytesPerSector = 0;
};

// Opens Disk.DevicePath for reading and writing (shared, open existing) and proves on that very
// handle that it is the listed disk, comparing as the window's check before a run does: the
// serial number of the storage descriptor when both the listed and the live one are known, the
// size of the drive geometry when both are non-zero. A query whose listed value is known must
// answer. Returns the open handle when proven, an invalid one otherwise (Proof says why).
TDeviceHandle OpenProvenDisk(const TDiskInfo& Disk, TDiskProof& Proof);

// Whether the disk behind a proven handle is still on the bus under DiskNumber: its device
// number, asked on the handle. While it is, no other disk holds that number. Ok, or the
// failure (DeviceLeftBus(WinErr) when it has left; a different number is refused with 87).
TDeviceResult CheckDiskPresent(plat::HANDLE ProvenDisk, int32_t DiskNumber);

struct TVolumeProof {
  bool Proven = false;
  bool OpenFailed = false;  // the volume path did not open
  uint32_t WinErr = 0;      // of the step that failed
  // The proven disk has left the bus (DiskWinErr, 55 or 1167, is what its handle answered).
  bool Gone = false;
  uint32_t DiskWinErr = 0;
  std::string Path;    // "\\.\E:"
  std::string Reason;  // why it is not proven
};

// Opens the volume of Planned ("\\.\" and its drive letter) for reading and writing and proves
// that it is the planned one: it is asked only while the proven disk is still present, one of
// its extents (IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS) lies on DiskNumber at the planned offset
// with the planned length, and the disk is still present after that answer. Returns the open
// handle when proven, an invalid one otherwise.
TDeviceHandle OpenVolumeOnDisk(const TVolumeInfo& Planned, plat::HANDLE ProvenDisk, int32_t DiskNumber,
                               TVolumeProof& Proof);

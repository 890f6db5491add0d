// The simulated machine's answers to the volume and disk checks: FSCTL_GET_VOLUME_BITMAP and
// FSCTL_GET_NTFS_VOLUME_DATA from a volume's allocation model (SimVolumeFormat.h), and, per
// disk, IOCTL_DISK_IS_WRITABLE and the TRIM-support property of IOCTL_STORAGE_QUERY_PROPERTY.
#pragma once

#include <memory>
#include <optional>

#include "platform/sim/storage/SimStorage.h"

namespace plat::sim {

// What a disk answers to the preflight checks; a test changes it through Checks().
struct SimDiskChecks {
  DWORD writableError = 0;   // IOCTL_DISK_IS_WRITABLE fails with this (19: write-protected)
  DWORD trimQueryError = 0;  // the TRIM property query fails with this
  // The property's TrimEnabled; unset, it follows the drive (SimDriveTrims), as Windows reads
  // it from what the bridge reports of the drive.
  std::optional<bool> trimEnabled;
  DWORD trimAnswerBytes = 12;  // bytes of DEVICE_TRIM_DESCRIPTOR written (shorter: a short answer)
};

class SimFsControl {
 public:
  explicit SimFsControl(SimStorage& storage);
  // The disk's check answers, created on first use.
  std::shared_ptr<SimDiskChecks> Checks(int diskNumber);

 private:
  SimStorage& storage_;
};

}  // namespace plat::sim

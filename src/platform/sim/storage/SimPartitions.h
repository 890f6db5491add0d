// The partition requests of the storage stack, answered from the partition table on the disk's
// own sectors (SimPartitionTable.h), in the disk's logical blocks (its bridge's block size):
//   IOCTL_DISK_GET_DRIVE_LAYOUT_EX   on a disk handle (any access): DRIVE_LAYOUT_INFORMATION_EX,
//                                    ERROR_INSUFFICIENT_BUFFER when the whole layout does not fit
//   IOCTL_DISK_CREATE_DISK           on a disk handle opened for reading and writing, with the
//                                    24-byte CREATE_DISK: an empty MBR or GPT (or RAW: the table
//                                    cleared). The disk's lettered volumes go away with their
//                                    partitions.
//   IOCTL_DISK_GET_PARTITION_INFO_EX on a volume handle (any access, "\\.\E:"): the partition at
//                                    the volume's first extent; a volume that no partition of the
//                                    table holds (a disk without a table, or a volume a test put
//                                    there by hand) answers style RAW. On a disk handle: the
//                                    whole disk, partition number 0.
//
// Faults: SimStorage::AddFault / AddVolumeFault on the request's control code; opens fail through
// the bridge's Open / VolumeOpen faults (SimBridge.h).
#pragma once

#include "platform/PlatformTypes.h"
#include "platform/sim/storage/SimPartitionTable.h"

namespace plat::sim {

class SimStorage;
struct SimDeviceCall;

class SimPartitions {
 public:
  explicit SimPartitions(SimStorage& storage);
  ~SimPartitions();
  SimPartitions(const SimPartitions&) = delete;
  SimPartitions& operator=(const SimPartitions&) = delete;

  // What the disk's sectors hold now, as the requests read it (RAW for a disk that is not there).
  SimPartitionLayout Layout(int disk);

 private:
  BOOL DriveLayout(SimDeviceCall& call);
  BOOL CreateDisk(SimDeviceCall& call);
  BOOL PartitionInfo(SimDeviceCall& call);

  SimStorage& storage_;
};

}  // namespace plat::sim

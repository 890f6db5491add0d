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
// Faults: a request fails with a chosen Windows error, aimed at the disk with that number (or the
// volume with that letter) and the n-th request of that code there. Opens fail through the
// bridge's Open / VolumeOpen faults (SimBridge.h).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

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

  // nth: 1 the first request of that code on that disk (volume), 2 the second, ...; 0 every one.
  void AddFault(int disk, DWORD code, DWORD winError, int nth = 0);
  void AddVolumeFault(char letter, DWORD code, DWORD winError, int nth = 0);
  void ClearFaults();

  // What the disk's sectors hold now, as the requests read it (RAW for a disk that is not there).
  SimPartitionLayout Layout(int disk);

 private:
  struct Fault {
    DWORD code;
    DWORD winError;
    int nth;
  };
  // Counts the request and returns the error of the fault it meets, or 0.
  DWORD TakeFault(std::map<int, std::vector<Fault>>& faults, int key, DWORD code);
  BOOL DriveLayout(SimDeviceCall& call);
  BOOL CreateDisk(SimDeviceCall& call);
  BOOL PartitionInfo(SimDeviceCall& call);
  DWORD CallFault(const SimDeviceCall& call);

  SimStorage& storage_;
  std::mutex mu_;
  std::map<int, std::vector<Fault>> diskFaults_;    // by disk number
  std::map<int, std::vector<Fault>> volumeFaults_;  // by letter
  std::map<std::pair<int, DWORD>, int> calls_;      // (key, code) -> requests so far; volumes keyed -letter
};

}  // namespace plat::sim

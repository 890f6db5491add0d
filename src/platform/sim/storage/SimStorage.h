// The simulated machine's storage stack: physical disks (a bridge with a drive behind it),
// lettered volumes placed on them, and the device paths that open them ("\\.\PhysicalDriveN",
// "\\.\X:"). DeviceIoControl on a device handle is answered by the handler registered for its
// control code: each storage module (bridge, discovery, volumes, locking) registers its own, so
// that this file stays the switchboard and nothing else.
//
// Locking: the storage lock guards only the tables below; handlers run without it (they may
// block on the virtual clock) and guard their own state. Disks and volumes are shared_ptrs, so a
// handle keeps what it opened alive after the disk leaves the machine.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/PlatformTypes.h"
#include "platform/sim/SimFaults.h"
#include "platform/sim/storage/SimDiscovery.h"
#include "platform/sim/storage/SimBridge.h"
#include "platform/sim/storage/SimDrive.h"

namespace plat::sim {

class SimKernel;
struct SimFsState;
struct SimDiskChecks;

// One physical disk. Modules add their own parts here (the bridge profile, the description that
// discovery reads), each as a member of a type defined in the module's own header.
struct SimDisk {
  int number = 0;
  SimDrive drive;
  // False while the disk is off the bus: opens fail with ERROR_FILE_NOT_FOUND and calls on open
  // handles with ERROR_DEVICE_NOT_CONNECTED. Changed through SimStorage only.
  bool present = true;
  // Counts the disk's arrivals on the bus: a handle works only during the stay it was opened in,
  // as Windows makes a new device when a disk comes back.
  int arrival = 0;
  // Bytes per logical block, the disk's sector size to Windows (512 or 4096): what its bridge
  // presents in front of the drive's 512-byte sectors (SimBridge::SetProfile and
  // SetLogicalBlockSize set it). Read it through SimLogicalBlockSize.
  uint32_t logicalBlockSize = 512;
  SimDiskDescription description;         // what discovery reads (SimDiscovery.h)
  std::shared_ptr<SimDiskChecks> checks;  // writability and the TRIM property (SimFsControl.h)
  SimBridgeState bridge;                  // the bridge's profile, identity and faults (SimBridge.h)
  std::mutex mu;                          // guards the modules' per-disk state
};

// The disk's logical block size under its lock; a size that is not a whole number of drive
// sectors counts as one sector.
uint32_t SimLogicalBlockSize(SimDisk& disk);

// One piece of a volume on a physical disk.
struct SimExtent {
  int diskNumber = 0;
  uint64_t startingOffset = 0;  // bytes from the start of the disk
  uint64_t length = 0;          // bytes
};

// A lettered volume. What Windows reports about it (GetVolumeInformationW, GetDiskFreeSpaceW) is
// kept here; the module that formats a file system onto the disk's sectors fills these in and
// keeps freeClusters true to its allocation. Other volume modules (locking) add their state here.
struct SimVolume {
  char letter = 0;
  std::vector<SimExtent> extents;
  std::string fileSystemName;  // "NTFS", "exFAT", "FAT32"; empty: raw, no file system mounted
  std::string label;
  DWORD serialNumber = 0;
  DWORD bytesPerSector = 512;
  DWORD sectorsPerCluster = 8;
  uint64_t totalClusters = 0;
  uint64_t freeClusters = 0;
  std::shared_ptr<SimFsState> fs;  // the mounted file system's allocation (SimVolumeFormat.h)
  std::mutex mu;
};

// One DeviceIoControl as it reaches a handler: exactly the caller's buffers, untouched.
struct SimDeviceCall {
  std::shared_ptr<SimDisk> disk;      // a physical-disk handle's disk, or a volume's first extent's
  std::shared_ptr<SimVolume> volume;  // set for a volume handle
  HANDLE handle = nullptr;
  DWORD access = 0;
  DWORD code = 0;
  void* in = nullptr;
  DWORD inSize = 0;
  void* out = nullptr;
  DWORD outSize = 0;
  DWORD* returned = nullptr;  // may be null, as Windows allows for synchronous handles

  void SetReturned(DWORD n) const {
    if (returned) *returned = n;
  }
};

// Returns the call's BOOL result; on failure it has set the last error.
using SimIoctlHandler = std::function<BOOL(SimDeviceCall&)>;
// Asked before a device path opens (disk: the physical disk, or a volume's first extent's);
// returns the Windows error that refuses the open, or 0.
using SimOpenCheck =
    std::function<DWORD(const std::string& path, const std::shared_ptr<SimDisk>& disk, bool volume)>;

// A disk joining or leaving the bus, a lettered volume arriving or going: what device
// notifications are made of (SimNotifications.h).
enum class SimBusEvent { kDiskArrival, kDiskRemoval, kVolumeArrival, kVolumeRemoval };
struct SimBusChange {
  SimBusEvent event = SimBusEvent::kDiskArrival;
  std::shared_ptr<SimDisk> disk;  // the disk events
  char letter = 0;                // the volume events
};
// Called on the thread that made the change, outside the storage lock.
using SimBusListener = std::function<void(const SimBusChange&)>;

class SimStorage {
 public:
  explicit SimStorage(SimKernel& kernel);
  ~SimStorage();

  // ---- set-up by tests ----
  // Disk numbers 0 to 31; adding a number that exists replaces that disk.
  // prepare (when given) completes the disk before it joins the bus and the arrival is told.
  std::shared_ptr<SimDisk> AddDisk(int number, uint64_t sectors,
                                   const std::function<void(SimDisk&)>& prepare = {});
  std::shared_ptr<SimDisk> Disk(int number);
  std::vector<std::shared_ptr<SimDisk>> Disks();
  // Takes a disk off the bus (it keeps its state, and handles open on it start failing) and puts
  // it back, under the same or another number. A disk that leaves takes its volumes with it:
  // their paths no longer open and handles open on them fail; they come back with the disk.
  void DetachDisk(int number);
  void AttachDisk(std::shared_ptr<SimDisk> disk, int number);
  // The disk leaves the bus, and a newcomer, when given, arrives at once under the freed number,
  // as Windows gives a new disk the lowest free number. The newcomer is a disk taken off the bus
  // before (DetachDisk), so that it brings its own volumes along.
  void LeaveBus(int number, std::shared_ptr<SimDisk> newcomer = nullptr);
  // Faults on DeviceIoControl with a control code (0: every code), aimed at the handles of the
  // disk that has this number now and of the volumes on it, or at the handles of the volume that
  // has this letter now (a number or letter that names nothing is ignored). They meet a call once
  // its disk is found on the bus, before the module that answers the code; the bridge's faults
  // on single SCSI commands are its own (SimBridge::AddFault).
  void AddFault(int disk, DWORD code, SimOutcome what, SimTrigger when = {});
  void AddVolumeFault(char letter, DWORD code, SimOutcome what, SimTrigger when = {});
  void ClearFaults();
  // A lettered volume on these extents; the disks' sectors are left as they are (no partition:
  // SimDiscovery::AddVolume makes one too).
  std::shared_ptr<SimVolume> AddVolume(char letter, std::vector<SimExtent> extents);
  std::shared_ptr<SimVolume> Volume(char letter);
  std::vector<std::shared_ptr<SimVolume>> Volumes();
  void RemoveVolume(char letter);
  void RegisterIoctl(DWORD code, SimIoctlHandler handler);
  // The handler registered for a code (empty when none), for a module that answers part of it.
  SimIoctlHandler Handler(DWORD code);
  void AddOpenCheck(SimOpenCheck check);
  // Told of every disk added, detached or attached and every volume added or removed.
  void AddBusListener(SimBusListener listener);
  // Answers FlushFileBuffers on a device handle once the handle's write access is checked (as a
  // handler answers a control code; the call's code is 0).
  void SetFlushHandler(SimIoctlHandler handler);
  // Every control code sent, in order (for assertions).
  std::vector<DWORD> IoctlLog();
  // Every DeviceIoControl with the disk its handle reached (a volume handle: the disk of its
  // first extent when it was opened; null when there was none), in order.
  struct IoctlRecord {
    std::shared_ptr<SimDisk> disk;
    char volume = 0;  // the letter for a volume handle
    DWORD code = 0;
    bool offBus = false;  // the disk was off the bus: the call failed without reaching it
  };
  std::vector<IoctlRecord> IoctlRecords();

  // ---- the calls ----
  static bool IsDevicePath(const std::string& path);
  HANDLE CreateFileW(const std::string& path, DWORD access, DWORD share, DWORD creation, DWORD flags);
  bool Owns(HANDLE h);
  BOOL DeviceIoControl(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
  // Raw sector access through a disk or volume handle (offsets relative to what was opened; whole
  // logical blocks of the disk only, as Windows requires of unbuffered device I/O; the transfer
  // takes the drive's time). offset null: the handle's position.
  BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read, const ULONGLONG* offset);
  BOOL WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, const ULONGLONG* offset);
  BOOL SetFilePointerEx(HANDLE h, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod);
  // A volume or disk handle opened with GENERIC_WRITE (else ERROR_ACCESS_DENIED).
  BOOL FlushFileBuffers(HANDLE h);

  SimKernel& Kernel() { return kernel_; }
  // Carries out a fault's outcome on the calling thread, for a call that reached disk (null: a
  // LeaveBus only fails the call). limitMs: the request's own time-out (0: none). True when the
  // call goes on to be answered: normally, or, for ScsiStatus, with the outcome's status, which
  // *status then says (without status the call fails with ERROR_IO_DEVICE, the device's refusal
  // as Windows reports it). False: the call failed and its last error is set.
  bool CarryOut(SimDisk* disk, const SimOutcome& what, uint64_t limitMs = 0, bool* status = nullptr);

 private:
  struct Impl;
  void Tell(const std::vector<SimBusChange>& changes);
  SimKernel& kernel_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat::sim

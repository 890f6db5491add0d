// What disk discovery reads of the simulated machine: each disk's storage device descriptor
// (bus type, vendor, product, revision, serial, the bus-specific raw bytes with their driver
// words), its seek-penalty answer, its drive geometry and device number, its entry in the Setup
// API's disk-interface list with the registry properties found there; the volumes' disk extents
// and what GetVolumeInformationW and GetDiskFreeSpaceW report of them (SimVolume's fields); the
// drive letters present and the Windows directory.
//
// Faults: every call can be made to fail with a Windows error, per disk (SimDiskDescription::
// faults), per volume letter, or for the whole machine (SimDiscovery::Faults).
//
// Storage property queries of other ids go on to the handler that was registered for the code
// before this module, so several modules answer IOCTL_STORAGE_QUERY_PROPERTY in any order.
//
// Locking: a disk's description is read and changed under SimDisk::mu, the machine-wide parts
// under the module's own lock; handlers hold neither while they call into other modules.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/PlatformTypes.h"

namespace plat::sim {

class SimFileSystem;
class SimKernel;
class SimStorage;
struct SimDeviceCall;
struct SimDisk;
struct SimVolume;

// One disk as discovery sees it; a member of SimDisk.
struct SimDiskDescription {
  DWORD busType = 7;  // BusTypeUsb of WinStorage.h, which a header under <windows.h> cannot include
  // Descriptor texts, 8-bit as the device reports them; an empty one is left out (offset 0).
  std::string vendor;
  std::string product;
  std::string revision;
  std::string serial;
  bool hasSerial = true;  // false: SerialNumberOffset 0 even when serial is set
  // Bytes after the fixed part, before the texts: the bus-specific properties ("USBSTOR", ...).
  std::string rawProperties;
  bool seekPenalty = false;

  // The Setup API's disk-interface entry; not listed: the disk has no interface.
  bool listed = true;
  std::string service;                   // SPDRP_SERVICE, e.g. "USBSTOR", "UASPStor", "disk"
  std::string enumerator;                // SPDRP_ENUMERATOR_NAME, e.g. "USBSTOR", "SCSI", "PCI"
  std::vector<std::string> hardwareIds;  // SPDRP_HARDWAREID, first one first
  std::string instanceId;                // part of the interface path; set when the disk is added

  // The partition table AddVolume keeps on the disk's sectors for the volumes it places: GPT, or
  // MBR when set (SimPartitionTable.h).
  bool mbrPartitionTable = false;

  // A Windows error fails the call with it; 0 lets it through.
  struct Faults {
    DWORD descriptorHeader = 0;         // the first (8-byte) descriptor query
    DWORD descriptorData = 0;           // a query with room for more than the header
    std::optional<DWORD> reportedSize;  // the descriptor's Size field (written bytes follow it)
    std::optional<DWORD> productIdOffset;
    std::optional<DWORD> serialNumberOffset;
    DWORD seekPenalty = 0;  // ERROR_INVALID_FUNCTION: a bridge that does not know the property
    DWORD geometry = 0;
    std::optional<int64_t> diskSize;  // DiskSize as reported, in place of the drive's size
    DWORD deviceNumber = 0;
    std::optional<DWORD> reportedNumber;  // DeviceNumber as reported, in place of the disk's own
    DWORD interfaceDetail = 0;
    DWORD interfaceOpen = 0;            // CreateFileW on the interface path
    std::map<DWORD, DWORD> properties;  // SPDRP_ value -> error
  } faults;
};

// Presets for the disks a user meets. Each gives a complete description; a test changes what it needs.
namespace presets {
// A USB Mass Storage (bulk-only) enclosure: bus USB, driver USBSTOR.
SimDiskDescription BotEnclosure(const std::string& product = "Portable SSD",
                                const std::string& serial = "BOT0001");
// A USB Attached SCSI enclosure: bus USB, driver UASPStor, created by the SCSI enumerator.
SimDiskDescription UasEnclosure(const std::string& product = "UAS SSD", const std::string& serial = "UAS0001");
// A USB bridge that names no driver: bus USB and nothing else.
SimDiskDescription UnidentifiedUsbBridge(const std::string& product = "USB Disk", const std::string& serial = "");
// The internal SATA system disk and an internal NVMe disk.
SimDiskDescription InternalSata(const std::string& product = "SATA SSD", const std::string& serial = "SATA0001");
SimDiskDescription InternalNvme(const std::string& product = "NVMe SSD", const std::string& serial = "NVME0001");
// A rotating disk in a bulk-only enclosure: it reports a seek penalty.
SimDiskDescription UsbHardDisk(const std::string& product = "USB HDD", const std::string& serial = "HDD0001");
}  // namespace presets

// The disk's interface path as the Setup API lists it ("\\?\usbstor#disk&ven_...#{53f56307-...}").
std::string DiskInterfacePath(const SimDiskDescription& d);

class SimDiscovery {
 public:
  SimDiscovery(SimKernel& kernel, SimStorage& storage, SimFileSystem& files);
  ~SimDiscovery();

  // ---- set-up by tests ----
  // A disk of sizeBytes (rounded down to whole sectors) with its description.
  std::shared_ptr<SimDisk> AddDisk(int number, uint64_t sizeBytes, SimDiskDescription description);
  void Describe(int number, const std::function<void(SimDiskDescription&)>& change);
  // A lettered volume of one extent with a mounted file system ("" for raw) and its cluster size.
  // Its partition goes into the table on the disk's sectors (one of the style the description
  // names is made on a blank disk); a volume that no table can hold (zero length, not on whole
  // blocks, overlapping another partition or the table itself) is placed without one, and
  // *partitioned (when given) tells which.
  std::shared_ptr<SimVolume> AddVolume(char letter, int diskNumber, uint64_t offsetBytes, uint64_t lengthBytes,
                                       const std::string& fileSystem = "NTFS", DWORD clusterBytes = 4096,
                                       bool* partitioned = nullptr);

  struct Faults {
    DWORD classDevs = 0;                  // SetupDiGetClassDevsW
    DWORD enumInterfaces = 0;             // SetupDiEnumDeviceInterfaces, from the first index on
    DWORD windowsDirectory = 0;           // GetWindowsDirectoryW returns 0
    std::optional<DWORD> logicalDrives;   // GetLogicalDrives' mask in place of the real one
    std::map<char, DWORD> volumeExtents;  // per letter
    std::map<char, DWORD> volumeInformation;
    std::map<char, DWORD> diskFreeSpace;
  };
  void SetFaults(const Faults& faults);
  void SetWindowsDirectory(const std::string& dir);  // "C:\Windows" at first
  // Device-information sets still open (for leak checks).
  int OpenDeviceInfoSets();

  // ---- the calls ----
  HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const char* enumerator, DWORD flags);
  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfoData, const GUID* guid, DWORD index, void* iface);
  BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, void* iface, void* detail, DWORD detailSize, DWORD* required,
                                        void* devInfo);
  BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, void* devInfo, DWORD property, DWORD* type, BYTE* buffer,
                                         DWORD size, DWORD* required);
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);
  // An interface path ("\\?\...") as the physical-drive path of the disk it names; empty when none.
  std::string ResolveInterfacePath(const std::string& path);
  DWORD GetLogicalDrives();
  BOOL GetVolumeInformationW(const std::string& rootPath, std::string* volumeName, DWORD volumeNameSize,
                             DWORD* serialNumber, DWORD* maxComponentLength, DWORD* flags, std::string* fsName,
                             DWORD fsNameSize);
  BOOL GetDiskFreeSpaceW(const std::string& rootPath, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                         DWORD* freeClusters, DWORD* totalClusters);
  // Whether path lies on a lettered volume of the storage stack; then the answer is given.
  bool AnswersFreeSpaceEx(const std::string& path, BOOL* result, ULONGLONG* freeToCaller, ULONGLONG* total,
                          ULONGLONG* totalFree);
  UINT GetWindowsDirectoryW(std::string* dir);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat::sim

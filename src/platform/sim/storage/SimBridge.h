// The USB-to-SATA bridge in front of each simulated disk, and the SSD's identity behind it.
//
// The bridge answers IOCTL_SCSI_PASS_THROUGH_DIRECT on a physical-disk handle: it decodes the
// SCSI_PASS_THROUGH_DIRECT buffer as Windows receives it (the data through its address), and
// answers as a SAT bridge does: ATA PASS-THROUGH(16)/(12) with IDENTIFY DEVICE or DATA SET
// MANAGEMENT (TRIM), UNMAP, WRITE SAME(16) with UNMAP, INQUIRY (the Block Limits page); anything
// else is CHECK CONDITION, ILLEGAL REQUEST / INVALID COMMAND OPERATION CODE (5/20h). It also
// answers the storage TRIM request (IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES) on a volume or
// disk handle, mapped through the volume's extents. Every released range goes to the drive's
// ledger under the command's name: "ATA DSM", "UNMAP", "WRITE SAME(16)", "STORAGE TRIM".
//
// How a bridge behaves is data (SimBridgeProfile, one per disk): which commands it takes, the size
// of the logical blocks it presents, and whether Windows lets a raw UNMAP or WRITE SAME(16) into a
// mounted volume through. Faults are aimed at a disk's commands (SimFault). Every request that
// reaches the bridge is recorded.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/PlatformTypes.h"
#include "platform/sim/SimFaults.h"

namespace plat::sim {

class SimStorage;
class SimVolumeLocks;
struct SimDeviceCall;
struct SimDisk;

// What IDENTIFY DEVICE reports of the drive.
struct SimIdentity {
  std::string model = "SIM SSD 1TB";
  std::string serial = "SIM0000000001";
  std::string firmware = "SIM1.0";
  bool trimSupported = true;  // word 169 bit 0; also whether the drive accepts DSM TRIM, and
                              // whether its storage stack has TRIM (SimStorageStackTrims)
  uint16_t rotationRate = 1;  // word 217: 1 non-rotating
  std::vector<uint8_t> raw;   // when 512 bytes, sent as they stand instead of the above
  // Virtual time the drive takes to answer IDENTIFY DEVICE. Past the request's TimeOutValue
  // Windows gives up with ERROR_SEM_TIMEOUT (121); a disk that left the bus meanwhile fails it
  // with ERROR_DEVICE_NOT_CONNECTED.
  uint32_t answerDelayMs = 0;
};

// Builds the 512-byte IDENTIFY DEVICE block (text fields in the ATA byte order).
std::vector<uint8_t> SimIdentifyBlock(const SimIdentity& id);

// What Windows does with a raw SCSI UNMAP or WRITE SAME(16) whose blocks lie in a mounted volume
// (one with a file system that is neither locked nor dismounted): both are met in the field.
enum class SimRawTrimPolicy {
  Allow,               // passed to the bridge like any other command
  RefuseAccessDenied,  // DeviceIoControl fails with ERROR_ACCESS_DENIED; nothing is released
};

struct SimBridgeProfile {
  std::string name = "full SAT";
  // Bytes per logical block that the bridge presents (512 or 4096) in front of the drive's
  // 512-byte sectors: the unit of UNMAP, WRITE SAME(16), the Block Limits values and the drive
  // geometry. ATA PASS-THROUGH reaches the drive's own sectors whatever this says. SetProfile
  // gives it to the disk (SimDisk::logicalBlockSize), which is what the machine reads.
  uint32_t logicalBlockSize = 512;
  SimRawTrimPolicy mountedVolumeRawTrim = SimRawTrimPolicy::Allow;
  // ATA PASS-THROUGH.
  bool pt16 = true;
  bool pt12 = true;
  bool extend = true;       // a (16) block with EXTEND set; false: 5/24h
  bool protocolDma = true;  // DSM with protocol 6
  bool protocolPio = true;  // DSM with protocol 5
  // A CK_COND request that succeeds is answered with CHECK CONDITION and the ATA registers:
  // sense key ckCondSenseKey (0 or 1), ASC 00h ASCQ 1Dh, descriptor (with an ATA status
  // return descriptor) or fixed format.
  bool ckCondReplies = false;
  uint8_t ckCondSenseKey = 1;
  // Sense data format of every CHECK CONDITION the bridge gives.
  bool descriptorSense = false;
  // SCSI commands.
  bool unmap = true;
  uint32_t maxUnmapLbaCount = 0;     // 0: no limit; more blocks in one UNMAP: 5/24h
  uint32_t maxUnmapDescriptors = 0;  // 0: no limit; more descriptors: 5/26h
  bool writeSameUnmap = true;
  bool blockLimitsPage = true;         // INQUIRY VPD B0h; false: 5/24h
  uint8_t blockLimitsPageCode = 0xB0;  // what byte 1 of the page says (a quirk when not B0h)
  // The storage TRIM request: 0 accepts it, otherwise the Windows error it fails with (1, 5,
  // 50, 87). A drive that reports no TRIM fails it with 1 whatever this says.
  DWORD storageTrimError = 0;
  // A firmware fault met in the field: every range the bridge releases (ATA DSM, UNMAP, WRITE
  // SAME(16), the storage TRIM request) runs this many 512-byte drive sectors past its end
  // (never past the drive's end), into whatever lies there: the clusters of live files next to
  // free space are trimmed. The ledger records what the drive released. 0: exactly what was asked.
  uint32_t trimOverrunSectors = 0;

  // Typical bridges.
  static SimBridgeProfile FullSat();
  // BOT: ATA PASS-THROUGH(16) and (12), no UNMAP, no WRITE SAME, no Block Limits page; Windows
  // refuses the storage TRIM request with 1.
  static SimBridgeProfile BotAtaOnly();
  // UAS: UNMAP with limits, WRITE SAME(16), Block Limits; ATA PASS-THROUGH too.
  static SimBridgeProfile UasUnmap(uint32_t maxLbaCount, uint32_t maxDescriptors);
  // UAS with UNMAP and WRITE SAME(16) that presents 4096-byte logical blocks (no limits).
  static SimBridgeProfile Uas4Kn();
  // Every TRIM path refused: no pass-through, no UNMAP, no WRITE SAME, storage TRIM error 1.
  static SimBridgeProfile NoTrim();
};

// The commands faults are aimed at.
enum class SimCommand {
  Any,         // every request of this module, opens excepted
  Open,        // CreateFileW on "\\.\PhysicalDriveN"
  VolumeOpen,  // CreateFileW on "\\.\X:" of a volume on this disk (its first extent)
  Identify,    // ATA PASS-THROUGH with IDENTIFY DEVICE
  AtaDsm,      // ATA PASS-THROUGH with DATA SET MANAGEMENT
  Unmap,
  WriteSame16,
  Inquiry,
  OtherScsi,    // any other command block
  StorageTrim,  // IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES
};

// A fault aimed at one command of a disk, counted per disk and command (SimFaults.h). An open
// (Open, VolumeOpen) takes only a WinError outcome; the other kinds leave it alone.
struct SimFault : SimTrigger, SimOutcome {
  SimCommand command = SimCommand::Any;
};

// The disk's storage stack, which the storage TRIM request and Windows' own TRIM of a volume
// (Optimize-Volume -ReTrim) go down, has TRIM to give only when the drive reports TRIM and Windows
// takes the request on this bridge (storageTrimError 0). Windows' own TRIM meets none of the
// faults aimed at the program's requests.
bool SimStorageStackTrims(SimDisk& disk);
// Releases drive sectors (first, count) as the storage TRIM request releases them, the profile's
// overrun included, into the drive's ledger under the command's name.
void SimStorageStackRelease(SimDisk& disk, const std::vector<std::pair<uint64_t, uint64_t>>& sectors,
                            const char* command);

// Sense bytes in the two SPC formats, for faults and for the bridge's own answers.
std::vector<uint8_t> SimFixedSense(uint8_t key, uint8_t asc, uint8_t ascq);
std::vector<uint8_t> SimDescriptorSense(uint8_t key, uint8_t asc, uint8_t ascq);

// The bridge's part of a disk (SimDisk::bridge), guarded by SimDisk::mu.
struct SimBridgeState {
  SimBridgeProfile profile;
  SimIdentity identity;
  SimFaultList<SimCommand> faults;
  std::vector<int> calls;  // per SimCommand, how many arrived (Any: all but the opens)
};

// One request as it reached the bridge.
struct SimRequestRecord {
  std::string path;  // "\\.\PhysicalDriveN" or "\\.\X:"
  DWORD code = 0;
  std::vector<uint8_t> in;  // the input buffer, all of it
  DWORD outSize = 0;
  std::vector<uint8_t> data;  // pass-through data out, read through DataBuffer
  SimCommand command = SimCommand::OtherScsi;
  // The SCSI_PASS_THROUGH_DIRECT fields (pass-through only).
  uint16_t length = 0;
  uint8_t cdbLength = 0;
  uint8_t senseInfoLength = 0;
  uint8_t dataIn = 0;
  uint32_t dataTransferLength = 0;
  uint32_t timeOutValue = 0;
  uint64_t dataBuffer = 0;
  uint32_t senseInfoOffset = 0;
  std::vector<uint8_t> cdb;  // cdbLength bytes
};

class SimBridge {
 public:
  // locks: whose lock and dismount state decides what a mounted volume is (may be null: none is).
  SimBridge(SimStorage& storage, SimVolumeLocks* locks);
  ~SimBridge();
  SimBridge(const SimBridge&) = delete;
  SimBridge& operator=(const SimBridge&) = delete;

  // ---- set-up by tests (a disk number that does not exist is ignored) ----
  void SetProfile(int disk, SimBridgeProfile profile);
  // Only the size of the logical blocks the bridge presents (512 or 4096), the rest as it is.
  // Both set SimDisk::logicalBlockSize.
  void SetLogicalBlockSize(int disk, uint32_t bytes);
  void SetIdentity(int disk, SimIdentity identity);
  // The drive's IDENTIFY answer time (SimIdentity::answerDelayMs) alone.
  void SetIdentifyDelay(int disk, uint32_t ms);
  void AddFault(int disk, SimFault fault);
  void ClearFaults(int disk);

  std::vector<SimRequestRecord> Requests();
  void ClearRequests();

 private:
  struct Impl;
  BOOL PassThrough(SimDeviceCall& call);
  BOOL StorageTrim(SimDeviceCall& call);
  DWORD CheckOpen(const std::string& path, const std::shared_ptr<SimDisk>& disk, bool volume);
  bool InMountedVolume(SimDisk& disk, const std::vector<std::pair<uint64_t, uint64_t>>& sectors);
  SimStorage& storage_;
  SimVolumeLocks* locks_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat::sim

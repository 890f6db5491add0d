// A simulated machine written as text: one line per disk, one per volume on the disk above it
// (docs/machine-description.md has the whole format).
//
//   # the system disk and one USB enclosure
//   disk 0 sata size=238G product="SATA SSD" serial=S0001
//   volume C fs=ntfs
//   disk 1 bot size=466G product="Portable SSD" serial=BOT0001 speed=bot-enclosure cache=4G
//   volume E fs=exfat cluster=128K
//
// ParseMachineText checks every line and stops at the first bad one, naming it by its number;
// BuildMachine then puts the disks onto a machine, each volume in the disk's partition table and
// formatted on its sectors. The demo's own machine is written in the same format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/storage/SimBridge.h"
#include "platform/sim/storage/SimDiscovery.h"
#include "platform/sim/storage/SimDriveSpeed.h"

namespace plat::sim {

class SimMachine;

struct SimVolumePlan {
  int line = 0;
  char letter = 0;
  std::string fileSystem = "NTFS";  // "NTFS", "exFAT", "FAT32", or "" for a raw volume
  uint64_t offsetBytes = 0;         // 0: after the volume before it (the first at 1 MiB)
  uint64_t sizeBytes = 0;           // 0: up to the end of the disk
  uint32_t clusterBytes = 0;        // 0: what Windows' format picks for the size
};

struct SimDiskPlan {
  int line = 0;
  int number = 0;
  std::string preset;  // "bot", "uas", "usb", "sata", "nvme", "usb-hdd"
  uint64_t sizeBytes = 0;
  SimDiskDescription description;
  SimBridgeProfile bridge;
  SimIdentity identity;
  SimDriveSpeed speed;  // instant unless named
  std::vector<SimVolumePlan> volumes;
};

struct SimMachinePlan {
  std::vector<SimDiskPlan> disks;
};

// False, with "line N: what is wrong" in *error, at the first line that is not right.
bool ParseMachineText(const std::string& text, SimMachinePlan* plan, std::string* error);
// Adds the disks and their volumes to the machine. False, with the line and the reason, when a
// volume does not fit on its disk or in its disk's partition table, or its file system cannot be
// made in that size.
bool BuildMachine(SimMachine& machine, const SimMachinePlan& plan, std::string* error);
// Both in one step.
bool BuildMachineFromText(SimMachine& machine, const std::string& text, std::string* error);

// The demo's machine: an internal system disk, a BOT enclosure with exFAT, a UAS enclosure with
// NTFS, an enclosure with FAT32 behind a bridge of 4096-byte logical blocks, and a USB hard disk.
const std::string& BuiltInMachineText();

}  // namespace plat::sim

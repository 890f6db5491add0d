// Partition tables on a simulated disk's own sectors: MBR (with extended-partition chains when
// reading), GPT (protective MBR, primary and backup header and entry array, CRC32s) or none (RAW).
// Reading is what Windows' partition manager finds there; writing is what IOCTL_DISK_CREATE_DISK
// writes, and the table a machine description gets for the volumes it places on a disk.
//
// Blocks are the disk's logical blocks as Windows sees them (the bridge's logical block size, 512
// or 4096 bytes); the drive underneath keeps 512-byte sectors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/PlatformTypes.h"
#include "platform/WinDisk.h"

namespace plat::sim {

class SimDrive;

// The values of PARTITION_STYLE.
enum class SimPartitionStyle { kMbr = 0, kGpt = 1, kRaw = 2 };

// One partition, or (MBR) one slot of a table, as Windows lists it in a drive layout.
struct SimPartitionEntry {
  uint64_t firstLba = 0;  // blocks
  uint64_t blocks = 0;
  uint32_t number = 0;  // read: 1, 2, ... as Windows numbers them; 0 for an unused slot or a container
  // MBR
  uint8_t mbrType = 0;
  bool boot = false;
  uint32_t hiddenSectors = 0;  // read: the start relative to the block of its own table
  // GPT
  GUID type;
  GUID id;
  uint64_t attributes = 0;
  std::u16string name;  // at most 36 characters are kept
};

struct SimPartitionLayout {
  SimPartitionStyle style = SimPartitionStyle::kRaw;
  uint32_t blockSize = 512;
  uint64_t diskBlocks = 0;
  // MBR
  uint32_t mbrSignature = 0;
  uint32_t mbrCheckSum = 0;  // two's complement of the sum of the first block's 128 little-endian words
  // GPT
  GUID diskId;
  uint64_t firstUsableLba = 0;
  uint64_t lastUsableLba = 0;
  uint32_t maxPartitionCount = 0;  // the entries of the array
  // MBR: four slots per table (unused ones too), the primary table first, then each extended
  // boot record in chain order. GPT: the used entries in array order.
  std::vector<SimPartitionEntry> entries;
};

// CRC-32 of the GPT (IEEE 802.3, reflected, as zlib computes it).
uint32_t SimCrc32(const void* data, size_t n);

// What the disk holds. A first block without the 55AA mark, with a boot indicator other than 00h
// or 80h, or a protective MBR whose primary and backup GPT both fail their checks reads as RAW.
SimPartitionLayout ReadPartitionLayout(const SimDrive& drive, uint32_t blockSize);

// An MBR: the boot code (bytes 0-439 and 444-445) kept, the signature, up to four primary
// partitions (the rest of the table zero) and the 55AA mark. With no partitions this is what
// IOCTL_DISK_CREATE_DISK writes for the MBR style.
bool WriteMbrLayout(SimDrive& drive, uint32_t blockSize, uint32_t signature,
                    const std::vector<SimPartitionEntry>& partitions);
// A GPT as Windows creates it: a protective MBR (one entry of type EEh from block 1 over the
// rest of the disk, at most 2^32 - 1 blocks), the primary header at block 1 and its array from
// block 2, the backup array and header in the last blocks; at least 128 entries of 128 bytes;
// first usable block 2 + array blocks, last usable block = last block - 1 - array blocks.
// Partitions must lie within the usable blocks and not overlap.
bool WriteGptLayout(SimDrive& drive, uint32_t blockSize, const GUID& diskId, uint32_t maxPartitionCount,
                    const std::vector<SimPartitionEntry>& partitions);
// The RAW style of IOCTL_DISK_CREATE_DISK: the MBR and both GPT headers cleared.
bool EraseLayout(SimDrive& drive, uint32_t blockSize);

// Windows' records of a layout: DRIVE_LAYOUT_INFORMATION_EX with all its entries, byte for byte,
// and PARTITION_INFORMATION_EX of one entry.
std::vector<uint8_t> DriveLayoutAnswer(const SimPartitionLayout& layout);
PARTITION_INFORMATION_EX PartitionInformation(const SimPartitionLayout& layout, const SimPartitionEntry& entry);

// The partition a machine description gives a volume: the MBR type byte of a file system (07h
// for NTFS and exFAT and a volume without one, 0Ch for FAT32) and, on GPT, a basic data partition.
uint8_t MbrTypeFor(const std::string& fileSystem);
// Adds the partition [offsetBytes, offsetBytes + lengthBytes) to the table on the disk, first
// creating a table of styleIfBlank when the disk has none (RAW); seed makes the disk signature,
// the disk GUID and the partition GUID. A partition already there with the same extent is kept.
// False (and nothing written) when it does not fit: past the usable blocks, overlapping another
// partition, not on whole blocks, or no free MBR slot.
bool PlacePartition(SimDrive& drive, uint32_t blockSize, SimPartitionStyle styleIfBlank, uint64_t offsetBytes,
                    uint64_t lengthBytes, const std::string& fileSystem, uint32_t seed);

}  // namespace plat::sim

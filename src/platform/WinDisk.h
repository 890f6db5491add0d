// Control codes and records of a disk's partition table: the drive layout, one partition's
// information and the creation of an empty table. The program builds and reads these bytes; the
// simulated machine answers them from the partition table on a disk's own sectors.
//
// The records are Windows' 64-bit layouts under Windows' names, field for field (the unions are
// anonymous as in the Windows headers, and start out as their larger, zeroed member);
// win32/Win32Checks.cpp pins them against the real ones.
#pragma once

#include <cstddef>

#include "platform/PlatformTypes.h"
#include "platform/WinStorage.h"

namespace plat {

// IOCTL_DISK_BASE (7), METHOD_BUFFERED; the creation needs read and write access.
enum : DWORD {
  IOCTL_DISK_GET_PARTITION_INFO_EX = CtlCode(0x07, 0x0012, 0, 0),
  IOCTL_DISK_GET_DRIVE_LAYOUT_EX = CtlCode(0x07, 0x0014, 0, 0),
  IOCTL_DISK_CREATE_DISK = CtlCode(0x07, 0x0016, 0, 3),
};
static_assert(IOCTL_DISK_GET_PARTITION_INFO_EX == 0x70048);
static_assert(IOCTL_DISK_GET_DRIVE_LAYOUT_EX == 0x70050);
static_assert(IOCTL_DISK_CREATE_DISK == 0x7C058);

// PARTITION_STYLE
enum : DWORD {
  PARTITION_STYLE_MBR = 0,
  PARTITION_STYLE_GPT = 1,
  PARTITION_STYLE_RAW = 2,
};

// MBR partition type bytes the program and the simulated machine name.
enum : BYTE {
  PARTITION_ENTRY_UNUSED = 0x00,
  PARTITION_EXTENDED = 0x05,
  PARTITION_IFS = 0x07,  // NTFS and exFAT
  PARTITION_FAT32_XINT13 = 0x0C,
  PARTITION_XINT13_EXTENDED = 0x0F,
};

// {EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}: a basic data partition of a GPT disk.
constexpr GUID kPartitionBasicDataGuid{
    0xEBD0A0A2u, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}};

struct PARTITION_INFORMATION_MBR {  // 24 bytes
  BYTE PartitionType;
  BYTE BootIndicator;  // BOOLEAN
  BYTE RecognizedPartition;
  DWORD HiddenSectors;
  GUID PartitionId;
};

struct PARTITION_INFORMATION_GPT {  // 112 bytes
  GUID PartitionType;
  GUID PartitionId;
  ULONGLONG Attributes;
  char16_t Name[36];
};

struct PARTITION_INFORMATION_EX {  // 144 bytes
  DWORD PartitionStyle;
  LONGLONG StartingOffset;
  LONGLONG PartitionLength;
  DWORD PartitionNumber;
  BYTE RewritePartition;
  BYTE IsServicePartition;
  union {
    PARTITION_INFORMATION_MBR Mbr;
    PARTITION_INFORMATION_GPT Gpt{};
  };
};

struct DRIVE_LAYOUT_INFORMATION_MBR {  // 8 bytes
  DWORD Signature;
  DWORD CheckSum;
};

struct DRIVE_LAYOUT_INFORMATION_GPT {  // 40 bytes
  GUID DiskId;
  LONGLONG StartingUsableOffset;
  LONGLONG UsableLength;
  DWORD MaxPartitionCount;
};

// PartitionCount entries follow from PartitionEntry on: an answer of n entries is
// offsetof(PartitionEntry) + n * sizeof(PARTITION_INFORMATION_EX) bytes.
struct DRIVE_LAYOUT_INFORMATION_EX {  // 192 bytes with its one declared entry
  DWORD PartitionStyle;
  DWORD PartitionCount;
  union {
    DRIVE_LAYOUT_INFORMATION_MBR Mbr;
    DRIVE_LAYOUT_INFORMATION_GPT Gpt{};
  };
  PARTITION_INFORMATION_EX PartitionEntry[1];
};

struct CREATE_DISK_MBR {  // 4 bytes
  DWORD Signature;
};

struct CREATE_DISK_GPT {  // 20 bytes
  GUID DiskId;
  DWORD MaxPartitionCount;
};

struct CREATE_DISK {  // 24 bytes
  DWORD PartitionStyle;
  union {
    CREATE_DISK_MBR Mbr;
    CREATE_DISK_GPT Gpt{};
  };
};

static_assert(sizeof(PARTITION_INFORMATION_MBR) == 24);
static_assert(sizeof(PARTITION_INFORMATION_GPT) == 112);
static_assert(sizeof(PARTITION_INFORMATION_EX) == 144);
static_assert(offsetof(PARTITION_INFORMATION_EX, PartitionNumber) == 24);
static_assert(offsetof(PARTITION_INFORMATION_EX, Mbr) == 32 && offsetof(PARTITION_INFORMATION_EX, Gpt) == 32);
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_MBR) == 8);
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_GPT) == 40);
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, Gpt) == 8);
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == 48);
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_EX) == 192);
static_assert(sizeof(CREATE_DISK_GPT) == 20);
static_assert(sizeof(CREATE_DISK) == 24);
static_assert(offsetof(CREATE_DISK, Gpt) == 4);

constexpr DWORD kDriveLayoutHeaderSize = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
// The bytes of a drive layout answer with n entries.
constexpr DWORD DriveLayoutSize(DWORD entries) {
  return kDriveLayoutHeaderSize + entries * static_cast<DWORD>(sizeof(PARTITION_INFORMATION_EX));
}

}  // namespace plat

// Control codes and record layouts of the volume, disk-writability, storage-property and token
// requests that the free-space, last-used-block and preflight code sends. Our own spelling; the
// values are Windows'.
#pragma once

#include <cstdint>

#include "platform/PlatformTypes.h"
#include "platform/WinStorage.h"

namespace plat::fsc {

// FILE_DEVICE_FILE_SYSTEM (9), METHOD_NEITHER (3), FILE_ANY_ACCESS.
constexpr DWORD FSCTL_GET_VOLUME_BITMAP = CtlCode(0x09, 27, 3, 0);
// FILE_DEVICE_FILE_SYSTEM, METHOD_NEITHER, FILE_ANY_ACCESS: a file's clusters.
constexpr DWORD FSCTL_GET_RETRIEVAL_POINTERS = CtlCode(0x09, 28, 3, 0);
// FILE_DEVICE_FILE_SYSTEM, METHOD_BUFFERED (0), FILE_ANY_ACCESS.
constexpr DWORD FSCTL_GET_NTFS_VOLUME_DATA = CtlCode(0x09, 25, 0, 0);
// IOCTL_DISK_BASE (7), METHOD_BUFFERED, FILE_ANY_ACCESS.
constexpr DWORD IOCTL_DISK_IS_WRITABLE = CtlCode(0x07, 0x0009, 0, 0);
// FILE_DEVICE_FILE_SYSTEM, METHOD_BUFFERED, FILE_ANY_ACCESS; no input, no output.
constexpr DWORD FSCTL_LOCK_VOLUME = CtlCode(0x09, 6, 0, 0);
constexpr DWORD FSCTL_DISMOUNT_VOLUME = CtlCode(0x09, 8, 0, 0);
static_assert(FSCTL_LOCK_VOLUME == 0x90018);
static_assert(FSCTL_DISMOUNT_VOLUME == 0x90020);
static_assert(FSCTL_GET_VOLUME_BITMAP == 0x9006F);
static_assert(FSCTL_GET_RETRIEVAL_POINTERS == 0x90073);
static_assert(FSCTL_GET_NTFS_VOLUME_DATA == 0x90064);
static_assert(IOCTL_DISK_IS_WRITABLE == 0x70024);

// STARTING_LCN_INPUT_BUFFER: StartingLcn (0, i64).
constexpr DWORD kStartingLcnInputSize = 8;
// VOLUME_BITMAP_BUFFER: StartingLcn (0, i64), BitmapSize (8, i64, clusters from StartingLcn to
// the volume's end), Buffer (16..: bit k of byte k/8 is cluster StartingLcn + k, 1 = in use).
constexpr DWORD kVolumeBitmapHeaderSize = 16;

// STARTING_VCN_INPUT_BUFFER: StartingVcn (0, i64). RETRIEVAL_POINTERS_BUFFER: ExtentCount (0,
// u32), 4 bytes of alignment, StartingVcn (8, i64), then ExtentCount extents of NextVcn (i64)
// and Lcn (i64), 16 bytes each; the record with one extent is 32 bytes.
constexpr DWORD kStartingVcnInputSize = 8;
constexpr DWORD kRetrievalHeaderSize = 16;
constexpr DWORD kRetrievalExtentSize = 16;
constexpr DWORD kRetrievalPointersSize = 32;

// NTFS_VOLUME_DATA_BUFFER, 96 bytes, all little-endian:
//   0 VolumeSerialNumber i64     8 NumberSectors i64       16 TotalClusters i64
//  24 FreeClusters i64          32 TotalReserved i64      40 BytesPerSector u32
//  44 BytesPerCluster u32       48 BytesPerFileRecordSegment u32
//  52 ClustersPerFileRecordSegment u32                    56 MftValidDataLength i64
//  64 MftStartLcn i64           72 Mft2StartLcn i64       80 MftZoneStart i64   88 MftZoneEnd i64
constexpr DWORD kNtfsVolumeDataSize = 96;
constexpr DWORD kNtfsTotalClustersAt = 16;
constexpr DWORD kNtfsFreeClustersAt = 24;
constexpr DWORD kNtfsBytesPerSectorAt = 40;
constexpr DWORD kNtfsBytesPerClusterAt = 44;

// The TRIM-support property of IOCTL_STORAGE_QUERY_PROPERTY (query record: spq in WinStorage.h).
constexpr DWORD StorageDeviceTrimProperty = 8;
// DEVICE_TRIM_DESCRIPTOR, 12 bytes: Version (0, u32), Size (4, u32), TrimEnabled (8, 1 byte),
// 3 bytes of alignment.
constexpr DWORD kDeviceTrimDescriptorSize = 12;
constexpr DWORD kTrimEnabledAt = 8;

// Tokens: TOKEN_QUERY access, the TokenElevation class and its 4-byte TOKEN_ELEVATION record
// (TokenIsElevated, u32).
constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD TokenElevation = 20;
constexpr DWORD kTokenElevationSize = 4;

}  // namespace plat::fsc

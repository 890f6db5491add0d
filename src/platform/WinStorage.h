// Control codes, Setup API constants and record layouts of disk discovery: the storage
// property queries, the device number, the drive geometry, the volume extents and the device
// interface walk. Both the enumerator (which builds and reads the bytes) and the simulated
// machine (which answers them as Windows would) use these, so each offset exists once.
//
// Layouts are the 64-bit ones, little-endian. Byte maps: one line per field.
#pragma once

#include "platform/PlatformTypes.h"

namespace plat {

constexpr DWORD CtlCode(DWORD deviceType, DWORD function, DWORD method, DWORD access) {
  return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

enum : DWORD {
  IOCTL_STORAGE_QUERY_PROPERTY = CtlCode(0x2D, 0x500, 0, 0),
  IOCTL_STORAGE_GET_DEVICE_NUMBER = CtlCode(0x2D, 0x420, 0, 0),
  IOCTL_DISK_GET_DRIVE_GEOMETRY_EX = CtlCode(0x07, 0x028, 0, 0),
  IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS = CtlCode(0x56, 0x000, 0, 0),
};
static_assert(IOCTL_STORAGE_QUERY_PROPERTY == 0x2D1400);
static_assert(IOCTL_STORAGE_GET_DEVICE_NUMBER == 0x2D1080);
static_assert(IOCTL_DISK_GET_DRIVE_GEOMETRY_EX == 0x700A0);
static_assert(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS == 0x560000);

// The SCSI pass-through and the storage TRIM request of the device commands.
enum : DWORD {
  IOCTL_SCSI_PASS_THROUGH_DIRECT = CtlCode(0x04, 0x405, 0, 3),
  IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES = CtlCode(0x2D, 0x501, 0, 2),
};
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == 0x4D014);
static_assert(IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES == 0x2D9404);

// The pass-through request as the program sends it: SCSI_PASS_THROUGH_DIRECT in its 64-bit
// layout (56 bytes), a 4-byte filler, the 32-byte sense area, 4 bytes to a multiple of 8.
namespace sptd {
constexpr size_t kLength = 0;               // 2  Length: 56
constexpr size_t kScsiStatus = 2;           // 1  ScsiStatus: 0 in, the device's status out
constexpr size_t kPathId = 3;               // 1  PathId: 0
constexpr size_t kTargetId = 4;             // 1  TargetId: 0
constexpr size_t kLun = 5;                  // 1  Lun: 0
constexpr size_t kCdbLength = 6;            // 1  CdbLength: 6, 10, 12 or 16
constexpr size_t kSenseInfoLength = 7;      // 1  SenseInfoLength: 32
constexpr size_t kDataIn = 8;               // 1  DataIn: SCSI_IOCTL_DATA_*; 9-11 alignment
constexpr size_t kDataTransferLength = 12;  // 4  DataTransferLength: data buffer bytes
constexpr size_t kTimeOutValue = 16;        // 4  TimeOutValue: seconds; 20-23 alignment
constexpr size_t kDataBuffer = 24;          // 8  DataBuffer: address, used in place
constexpr size_t kSenseInfoOffset = 32;     // 4  SenseInfoOffset: 60
constexpr size_t kCdb = 36;                 // 16 Cdb: first CdbLength bytes; 52-55 alignment
constexpr size_t kHeaderSize = 56;          //    end of SCSI_PASS_THROUGH_DIRECT; 56-59 filler
constexpr size_t kSense = 60;               // 32 sense data; 92-95 alignment
constexpr size_t kSenseSize = 32;
constexpr size_t kCdbMax = 16;
constexpr size_t kBufferSize = 96;
constexpr uint8_t SCSI_IOCTL_DATA_OUT = 0;
constexpr uint8_t SCSI_IOCTL_DATA_IN = 1;
constexpr uint8_t SCSI_IOCTL_DATA_UNSPECIFIED = 2;
static_assert(kCdb + kCdbMax + 4 == kHeaderSize);
static_assert(kSense + kSenseSize + 4 == kBufferSize && kBufferSize % 8 == 0);
}  // namespace sptd

// DEVICE_MANAGE_DATA_SET_ATTRIBUTES (28 bytes), 4 bytes alignment, then DEVICE_DATA_SET_RANGE
// entries of 16 bytes (StartingOffset i64, LengthInBytes u64).
namespace dsm {
constexpr size_t kSize = 0;           // 4  Size: 28
constexpr size_t kAction = 4;         // 4  Action: DeviceDsmAction_Trim
constexpr size_t kFlags = 8;          // 4  Flags
constexpr size_t kParamOffset = 12;   // 4  ParameterBlockOffset
constexpr size_t kParamLength = 16;   // 4  ParameterBlockLength
constexpr size_t kRangesOffset = 20;  // 4  DataSetRangesOffset
constexpr size_t kRangesLength = 24;  // 4  DataSetRangesLength
constexpr uint32_t kAttributesSize = 28;
constexpr uint32_t kRangesStart = 32;  // where the program puts the first range
constexpr size_t kRangeSize = 16;
constexpr size_t kRangeStartingOffset = 0;
constexpr size_t kRangeLengthInBytes = 8;
constexpr uint32_t DeviceDsmAction_Trim = 1;
constexpr uint32_t DEVICE_DSM_FLAG_TRIM_NOT_FS_ALLOCATED = 0x80000000u;
static_assert(kRangesLength + 4 == kAttributesSize && kRangesStart % 8 == 0);
}  // namespace dsm

enum : DWORD {
  FILE_READ_ATTRIBUTES = 0x80,
  CP_ACP = 0,
  CP_UTF8 = 65001,
};

// STORAGE_PROPERTY_QUERY, 12 bytes:
//   0  PropertyId (32)   0 StorageDeviceProperty, 7 StorageDeviceSeekPenaltyProperty
//   4  QueryType (32)    0 PropertyStandardQuery
//   8  AdditionalParameters (4 bytes, 0)
namespace spq {
constexpr DWORD kSize = 12;
constexpr DWORD kPropertyId = 0;
constexpr DWORD kQueryType = 4;
constexpr DWORD StorageDeviceProperty = 0;
constexpr DWORD StorageDeviceSeekPenaltyProperty = 7;
constexpr DWORD PropertyStandardQuery = 0;
}  // namespace spq

// STORAGE_DESCRIPTOR_HEADER, 8 bytes: 0 Version (32), 4 Size (32, of the whole descriptor).
// STORAGE_DEVICE_DESCRIPTOR, fixed part 36 bytes, then raw properties and texts up to Size:
//   0  Version (32)             4  Size (32)
//   8  DeviceType (8)           9  DeviceTypeModifier (8)
//  10  RemovableMedia (8)      11  CommandQueueing (8)
//  12  VendorIdOffset (32)     16  ProductIdOffset (32)
//  20  ProductRevisionOffset   24  SerialNumberOffset (32)
//  28  BusType (32)            32  RawPropertiesLength (32)
//  36  RawDeviceProperties ...
namespace sdd {
constexpr DWORD kHeaderSize = 8;
constexpr DWORD kSizeField = 4;
constexpr DWORD kVendorIdOffset = 12;
constexpr DWORD kProductIdOffset = 16;
constexpr DWORD kProductRevisionOffset = 20;
constexpr DWORD kSerialNumberOffset = 24;
constexpr DWORD kBusType = 28;
constexpr DWORD kRawPropertiesLength = 32;
constexpr DWORD kFixedSize = 36;
}  // namespace sdd

// STORAGE_BUS_TYPE values the program names.
enum : DWORD {
  BusTypeUnknown = 0,
  BusTypeScsi = 1,
  BusTypeAtapi = 2,
  BusTypeAta = 3,
  BusTypeUsb = 7,
  BusTypeRAID = 8,
  BusTypeSata = 11,
  BusTypeSd = 12,
  BusTypeNvme = 17,
};

// DEVICE_SEEK_PENALTY_DESCRIPTOR, 12 bytes: 0 Version, 4 Size, 8 IncursSeekPenalty (BOOLEAN,
// read as the 32-bit value of the zeroed buffer).
namespace dspd {
constexpr DWORD kSize = 12;
constexpr DWORD kIncursSeekPenalty = 8;
}  // namespace dspd

// STORAGE_DEVICE_NUMBER, 12 bytes: 0 DeviceType, 4 DeviceNumber, 8 PartitionNumber (32 each).
namespace sdn {
constexpr DWORD kSize = 12;
constexpr DWORD kDeviceType = 0;
constexpr DWORD kDeviceNumber = 4;
constexpr DWORD kPartitionNumber = 8;
constexpr DWORD FILE_DEVICE_DISK = 7;
}  // namespace sdn

// DISK_GEOMETRY_EX, read into 40 bytes:
//   0  Geometry: Cylinders (64), MediaType (32), TracksPerCylinder, SectorsPerTrack,
//      BytesPerSector (32 each) = 24 bytes
//  24  DiskSize (64)
//  32  Data[] (partition and detection information; 8 bytes read)
namespace dgx {
constexpr DWORD kReadSize = 40;
constexpr DWORD kCylinders = 0;
constexpr DWORD kMediaType = 8;
constexpr DWORD kTracksPerCylinder = 12;
constexpr DWORD kSectorsPerTrack = 16;
constexpr DWORD kBytesPerSector = 20;
constexpr DWORD kDiskSize = 24;
constexpr DWORD FixedMedia = 12;
}  // namespace dgx

// VOLUME_DISK_EXTENTS: 0 NumberOfDiskExtents (32), 4 padding; DISK_EXTENT[] from 8, 24 each:
//   +0 DiskNumber (32), +4 padding, +8 StartingOffset (64), +16 ExtentLength (64)
namespace vde {
constexpr DWORD kCount = 0;
constexpr DWORD kFirstExtent = 8;
constexpr DWORD kExtentSize = 24;
constexpr DWORD kDiskNumber = 0;
constexpr DWORD kStartingOffset = 8;
constexpr DWORD kExtentLength = 16;
// How many extents an answer buffer of the given size can hold.
constexpr DWORD Capacity(DWORD bufferSize) {
  return bufferSize < kFirstExtent ? 0 : (bufferSize - kFirstExtent) / kExtentSize;
}
}  // namespace vde

// ---- Setup API ----
// GUID_DEVINTERFACE_DISK {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}
constexpr GUID kGuidDevInterfaceDisk{
    0x53F56307u, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

enum : DWORD {
  DIGCF_PRESENT = 0x02,
  DIGCF_DEVICEINTERFACE = 0x10,
  SPDRP_HARDWAREID = 0x01,
  SPDRP_SERVICE = 0x04,
  SPDRP_ENUMERATOR_NAME = 0x16,
  REG_SZ = 1,
  REG_MULTI_SZ = 7,
};
static_assert((DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) == 0x12);

// SP_DEVICE_INTERFACE_DATA, 32 bytes: 0 cbSize, 4 InterfaceClassGuid (16), 20 Flags, 24 Reserved (64).
// SP_DEVINFO_DATA, 32 bytes: 0 cbSize, 4 ClassGuid (16), 20 DevInst, 24 Reserved (64).
// SP_DEVICE_INTERFACE_DETAIL_DATA_W: 0 cbSize (8 on 64-bit: a DWORD and one padded WCHAR),
//   4 DevicePath (UTF-16, NUL-terminated).
namespace spdi {
constexpr DWORD kInterfaceDataSize = 32;
constexpr DWORD kDevInfoDataSize = 32;
constexpr DWORD kReserved = 24;  // where both records keep the machine's own reference
constexpr DWORD kDetailCbSize = 8;
constexpr DWORD kDetailPath = 4;
}  // namespace spdi

}  // namespace plat

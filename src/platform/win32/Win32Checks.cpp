// Pins our own constants and record layouts against the real Windows headers: a value that
// drifts breaks the Windows build here, not a device call at run time.
//
// Our constants carry Windows' names, which <windows.h> turns into macros; so their values are
// captured first, under other names, and compared after the include.
#include "platform/Platform.h"
#include "platform/WinDeviceNotify.h"
#include "platform/WinDisk.h"
#include "platform/WinStorage.h"

#include <cstddef>

// Every constant of PlatformTypes.h that Windows defines under the same name.
#define VT_SAME_NAMED_CONSTANTS(X)        \
  X(ERROR_SUCCESS)                        \
  X(ERROR_INVALID_FUNCTION)               \
  X(ERROR_FILE_NOT_FOUND)                 \
  X(ERROR_PATH_NOT_FOUND)                 \
  X(ERROR_TOO_MANY_OPEN_FILES)            \
  X(ERROR_ACCESS_DENIED)                  \
  X(ERROR_INVALID_HANDLE)                 \
  X(ERROR_NOT_ENOUGH_MEMORY)              \
  X(ERROR_INVALID_DATA)                   \
  X(ERROR_WRITE_PROTECT)                  \
  X(ERROR_NOT_READY)                      \
  X(ERROR_BAD_COMMAND)                    \
  X(ERROR_CRC)                            \
  X(ERROR_BAD_LENGTH)                     \
  X(ERROR_SECTOR_NOT_FOUND)               \
  X(ERROR_WRITE_FAULT)                    \
  X(ERROR_READ_FAULT)                     \
  X(ERROR_GEN_FAILURE)                    \
  X(ERROR_SHARING_VIOLATION)              \
  X(ERROR_LOCK_VIOLATION)                 \
  X(ERROR_HANDLE_EOF)                     \
  X(ERROR_HANDLE_DISK_FULL)               \
  X(ERROR_NOT_SUPPORTED)                  \
  X(ERROR_DEV_NOT_EXIST)                  \
  X(ERROR_FILE_EXISTS)                    \
  X(ERROR_INVALID_PARAMETER)              \
  X(ERROR_BROKEN_PIPE)                    \
  X(ERROR_DISK_FULL)                      \
  X(ERROR_CALL_NOT_IMPLEMENTED)           \
  X(ERROR_SEM_TIMEOUT)                    \
  X(ERROR_INSUFFICIENT_BUFFER)            \
  X(ERROR_INVALID_NAME)                   \
  X(ERROR_DIR_NOT_EMPTY)                  \
  X(ERROR_BUSY)                           \
  X(ERROR_ALREADY_EXISTS)                 \
  X(ERROR_MORE_DATA)                      \
  X(ERROR_NO_MORE_ITEMS)                  \
  X(ERROR_DIRECTORY)                      \
  X(ERROR_OPERATION_ABORTED)              \
  X(ERROR_IO_PENDING)                     \
  X(ERROR_NOACCESS)                       \
  X(ERROR_UNRECOGNIZED_VOLUME)            \
  X(ERROR_MEDIA_CHANGED)                  \
  X(ERROR_NO_MEDIA_IN_DRIVE)              \
  X(ERROR_IO_DEVICE)                      \
  X(ERROR_DEVICE_NOT_CONNECTED)           \
  X(ERROR_NOT_FOUND)                      \
  X(ERROR_NO_SYSTEM_RESOURCES)            \
  X(ERROR_INVALID_USER_BUFFER)            \
  X(ERROR_TIMEOUT)                        \
  X(ERROR_RESOURCE_TYPE_NOT_FOUND)        \
  X(ERROR_RESOURCE_NAME_NOT_FOUND)        \
  X(GENERIC_READ)                         \
  X(GENERIC_WRITE)                        \
  X(FILE_SHARE_READ)                      \
  X(FILE_SHARE_WRITE)                     \
  X(FILE_SHARE_DELETE)                    \
  X(CREATE_NEW)                           \
  X(CREATE_ALWAYS)                        \
  X(OPEN_EXISTING)                        \
  X(OPEN_ALWAYS)                          \
  X(TRUNCATE_EXISTING)                    \
  X(FILE_ATTRIBUTE_READONLY)              \
  X(FILE_ATTRIBUTE_HIDDEN)                \
  X(FILE_ATTRIBUTE_DIRECTORY)             \
  X(FILE_ATTRIBUTE_ARCHIVE)               \
  X(FILE_ATTRIBUTE_NORMAL)                \
  X(FILE_ATTRIBUTE_REPARSE_POINT)         \
  X(FILE_FLAG_WRITE_THROUGH)              \
  X(FILE_FLAG_NO_BUFFERING)               \
  X(FILE_FLAG_SEQUENTIAL_SCAN)            \
  X(INVALID_FILE_ATTRIBUTES)              \
  X(INVALID_FILE_SIZE)                    \
  X(FILE_BEGIN)                           \
  X(FILE_CURRENT)                         \
  X(FILE_END)                             \
  X(INVALID_SET_FILE_POINTER)             \
  X(INFINITE)                             \
  X(WAIT_OBJECT_0)                        \
  X(WAIT_ABANDONED)                       \
  X(WAIT_TIMEOUT)                         \
  X(WAIT_FAILED)                          \
  X(CREATE_SUSPENDED)                     \
  X(STACK_SIZE_PARAM_IS_A_RESERVATION)    \
  X(STILL_ACTIVE)                         \
  X(FORMAT_MESSAGE_IGNORE_INSERTS)        \
  X(FORMAT_MESSAGE_FROM_SYSTEM)           \
  X(LOCALE_USER_DEFAULT)                  \
  X(LOCALE_SDECIMAL)                      \
  X(LOCALE_STHOUSAND)                     \
  X(MB_OK)                                \
  X(MB_OKCANCEL)                          \
  X(MB_YESNOCANCEL)                       \
  X(MB_YESNO)                             \
  X(MB_ICONERROR)                         \
  X(MB_ICONQUESTION)                      \
  X(MB_ICONWARNING)                       \
  X(MB_ICONINFORMATION)                   \
  X(MB_DEFBUTTON2)                        \
  X(MB_SYSTEMMODAL)                       \
  X(MB_TASKMODAL)                         \
  X(MB_SETFOREGROUND)                     \
  X(MB_TOPMOST)                           \
  X(STD_INPUT_HANDLE)                     \
  X(STD_OUTPUT_HANDLE)                    \
  X(STD_ERROR_HANDLE)                     \
  X(HANDLE_FLAG_INHERIT)                  \
  X(STARTF_USESHOWWINDOW)                 \
  X(STARTF_USESTDHANDLES)                 \
  X(CREATE_NO_WINDOW)                     \
  X(SW_HIDE)                              \
  X(SW_SHOWNORMAL)                        \
  X(SEM_FAILCRITICALERRORS)               \
  X(SEM_NOOPENFILEERRORBOX)               \
  X(IDOK)                                 \
  X(IDCANCEL)                             \
  X(IDYES)                                \
  X(IDNO)                                 \
  X(FILE_READ_ATTRIBUTES)                 \
  X(CP_ACP)                               \
  X(CP_UTF8)                              \
  X(IOCTL_STORAGE_QUERY_PROPERTY)         \
  X(IOCTL_STORAGE_GET_DEVICE_NUMBER)      \
  X(IOCTL_DISK_GET_DRIVE_GEOMETRY_EX)     \
  X(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS) \
  X(DIGCF_PRESENT)                        \
  X(DIGCF_DEVICEINTERFACE)                \
  X(SPDRP_HARDWAREID)                     \
  X(SPDRP_SERVICE)                        \
  X(SPDRP_ENUMERATOR_NAME)                \
  X(REG_SZ)                               \
  X(REG_MULTI_SZ)                         \
  X(IOCTL_DISK_GET_PARTITION_INFO_EX)     \
  X(IOCTL_DISK_GET_DRIVE_LAYOUT_EX)       \
  X(IOCTL_DISK_CREATE_DISK)               \
  X(PARTITION_STYLE_MBR)                  \
  X(PARTITION_STYLE_GPT)                  \
  X(PARTITION_STYLE_RAW)                  \
  X(PARTITION_ENTRY_UNUSED)               \
  X(PARTITION_EXTENDED)                   \
  X(PARTITION_IFS)                        \
  X(PARTITION_FAT32_XINT13)               \
  X(PARTITION_XINT13_EXTENDED)            \
  X(WM_DEVICECHANGE)                      \
  X(DBT_DEVICEARRIVAL)                    \
  X(DBT_DEVICEREMOVECOMPLETE)             \
  X(DBT_DEVTYP_VOLUME)                    \
  X(DBT_DEVTYP_DEVICEINTERFACE)           \
  X(DEVICE_NOTIFY_WINDOW_HANDLE)          \
  /* end */

namespace vt_ours {
#define VT_CAPTURE(name) constexpr long long name##_ = static_cast<long long>(plat::name);
VT_SAME_NAMED_CONSTANTS(VT_CAPTURE)
#undef VT_CAPTURE
constexpr long long ERROR_WAIT_TIMEOUT_ = plat::ERROR_WAIT_TIMEOUT;

constexpr size_t kSystemTimeSize = sizeof(plat::SYSTEMTIME);
constexpr size_t kSystemTimeMs = offsetof(plat::SYSTEMTIME, wMilliseconds);
constexpr size_t kSystemTimeDayOfWeek = offsetof(plat::SYSTEMTIME, wDayOfWeek);
constexpr size_t kGuidSize = sizeof(plat::GUID);
constexpr size_t kGuidData4 = offsetof(plat::GUID, Data4);
constexpr uint32_t kScsiPassThroughDirect = plat::IOCTL_SCSI_PASS_THROUGH_DIRECT;
constexpr uint32_t kManageDataSetAttributes = plat::IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES;
}  // namespace vt_ours

#include <windows.h>
#include <setupapi.h>
#include <winioctl.h>
#include <ntddscsi.h>
#include <dbt.h>

// Compared as 32-bit patterns: Windows spells some as (DWORD)-10 or as signed longs.
#define VT_PIN(name) static_assert(static_cast<uint32_t>(vt_ours::name##_) == static_cast<uint32_t>(name), #name);
VT_SAME_NAMED_CONSTANTS(VT_PIN)
#undef VT_PIN
// Windows calls this one WAIT_TIMEOUT only.
static_assert(vt_ours::ERROR_WAIT_TIMEOUT_ == WAIT_TIMEOUT);

static_assert(sizeof(plat::BOOL) == sizeof(::BOOL));
static_assert(sizeof(plat::WORD) == sizeof(::WORD));
static_assert(sizeof(plat::DWORD) == sizeof(::DWORD));
static_assert(sizeof(plat::UINT) == sizeof(::UINT));
static_assert(sizeof(plat::LONG) == sizeof(::LONG));
static_assert(sizeof(plat::LONGLONG) == sizeof(::LONGLONG));
static_assert(sizeof(plat::ULONGLONG) == sizeof(::ULONGLONG));
static_assert(sizeof(plat::LANGID) == sizeof(::LANGID));
static_assert(sizeof(plat::HANDLE) == sizeof(::HANDLE));
static_assert(sizeof(plat::HWND) == sizeof(::HWND));
static_assert(sizeof(plat::HDEVINFO) == sizeof(void*));
static_assert(sizeof(plat::WPARAM) == sizeof(::WPARAM));
static_assert(sizeof(plat::LPARAM) == sizeof(::LPARAM));

// Records handed to Windows by pointer.
static_assert(vt_ours::kSystemTimeSize == sizeof(::SYSTEMTIME));
static_assert(vt_ours::kSystemTimeMs == offsetof(::SYSTEMTIME, wMilliseconds));
static_assert(vt_ours::kSystemTimeDayOfWeek == offsetof(::SYSTEMTIME, wDayOfWeek));
static_assert(vt_ours::kGuidSize == sizeof(::GUID));
static_assert(vt_ours::kGuidData4 == offsetof(::GUID, Data4));

// The thread entry goes to _beginthreadex as it is.
static_assert(sizeof(plat::LPTHREAD_START_ROUTINE) == sizeof(::LPTHREAD_START_ROUTINE));

// Disk discovery's records, as WinStorage.h maps them.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == plat::spdi::kInterfaceDataSize);
static_assert(sizeof(SP_DEVINFO_DATA) == plat::spdi::kDevInfoDataSize);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == plat::spdi::kDetailCbSize);
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) == plat::spdi::kDetailPath);
static_assert(offsetof(SP_DEVINFO_DATA, Reserved) == plat::spdi::kReserved);
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == plat::spq::kSize);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset) == plat::sdd::kProductIdOffset);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset) == plat::sdd::kSerialNumberOffset);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == plat::sdd::kBusType);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties) == plat::sdd::kFixedSize);
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == plat::sdn::kSize);
static_assert(offsetof(DISK_GEOMETRY_EX, DiskSize) == plat::dgx::kDiskSize);
static_assert(offsetof(VOLUME_DISK_EXTENTS, Extents) == plat::vde::kFirstExtent);
static_assert(sizeof(DISK_EXTENT) == plat::vde::kExtentSize);
static_assert(offsetof(DISK_EXTENT, StartingOffset) == plat::vde::kStartingOffset);
static_assert(offsetof(DISK_EXTENT, ExtentLength) == plat::vde::kExtentLength);
static_assert(static_cast<plat::DWORD>(BusTypeUsb) == plat::BusTypeUsb);
static_assert(static_cast<plat::DWORD>(BusTypeSata) == plat::BusTypeSata);
static_assert(static_cast<plat::DWORD>(BusTypeNvme) == plat::BusTypeNvme);
// The pass-through request and the storage TRIM request, as the device commands lay them out.
static_assert(vt_ours::kScsiPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT);
static_assert(vt_ours::kManageDataSetAttributes == IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES);
static_assert(plat::sptd::kHeaderSize == sizeof(SCSI_PASS_THROUGH_DIRECT));
static_assert(plat::sptd::kDataTransferLength == offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength));
static_assert(plat::sptd::kTimeOutValue == offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue));
static_assert(plat::sptd::kDataBuffer == offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer));
static_assert(plat::sptd::kSenseInfoOffset == offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset));
static_assert(plat::sptd::kCdb == offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb));
static_assert(plat::dsm::kAttributesSize == sizeof(DEVICE_MANAGE_DATA_SET_ATTRIBUTES));
static_assert(plat::dsm::kRangesLength == offsetof(DEVICE_MANAGE_DATA_SET_ATTRIBUTES, DataSetRangesLength));
static_assert(plat::dsm::kRangeSize == sizeof(DEVICE_DATA_SET_RANGE));

// The partition records of WinDisk.h. The MinGW headers leave out the fields newer Windows adds
// (PartitionId, IsServicePartition, CheckSum), which lie in what is padding here.
static_assert(sizeof(PARTITION_INFORMATION_EX) == sizeof(plat::PARTITION_INFORMATION_EX));
static_assert(offsetof(PARTITION_INFORMATION_EX, StartingOffset) ==
              offsetof(plat::PARTITION_INFORMATION_EX, StartingOffset));
static_assert(offsetof(PARTITION_INFORMATION_EX, PartitionLength) ==
              offsetof(plat::PARTITION_INFORMATION_EX, PartitionLength));
static_assert(offsetof(PARTITION_INFORMATION_EX, PartitionNumber) ==
              offsetof(plat::PARTITION_INFORMATION_EX, PartitionNumber));
static_assert(offsetof(PARTITION_INFORMATION_EX, RewritePartition) ==
              offsetof(plat::PARTITION_INFORMATION_EX, RewritePartition));
static_assert(offsetof(PARTITION_INFORMATION_EX, Mbr) == offsetof(plat::PARTITION_INFORMATION_EX, Mbr));
static_assert(offsetof(PARTITION_INFORMATION_EX, Gpt) == offsetof(plat::PARTITION_INFORMATION_EX, Gpt));
static_assert(offsetof(PARTITION_INFORMATION_MBR, HiddenSectors) ==
              offsetof(plat::PARTITION_INFORMATION_MBR, HiddenSectors));
static_assert(sizeof(PARTITION_INFORMATION_GPT) == sizeof(plat::PARTITION_INFORMATION_GPT));
static_assert(offsetof(PARTITION_INFORMATION_GPT, Attributes) ==
              offsetof(plat::PARTITION_INFORMATION_GPT, Attributes));
static_assert(offsetof(PARTITION_INFORMATION_GPT, Name) == offsetof(plat::PARTITION_INFORMATION_GPT, Name));
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_GPT) == sizeof(plat::DRIVE_LAYOUT_INFORMATION_GPT));
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_GPT, MaxPartitionCount) ==
              offsetof(plat::DRIVE_LAYOUT_INFORMATION_GPT, MaxPartitionCount));
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_EX) == sizeof(plat::DRIVE_LAYOUT_INFORMATION_EX));
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionCount) ==
              offsetof(plat::DRIVE_LAYOUT_INFORMATION_EX, PartitionCount));
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, Mbr) == offsetof(plat::DRIVE_LAYOUT_INFORMATION_EX, Mbr));
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == plat::kDriveLayoutHeaderSize);
static_assert(sizeof(CREATE_DISK) == sizeof(plat::CREATE_DISK));
static_assert(offsetof(CREATE_DISK, Gpt) == offsetof(plat::CREATE_DISK, Gpt));
static_assert(offsetof(CREATE_DISK_GPT, MaxPartitionCount) == offsetof(plat::CREATE_DISK_GPT, MaxPartitionCount));

// The device-notification records of WinDeviceNotify.h.
static_assert(sizeof(DEV_BROADCAST_HDR) == sizeof(plat::DEV_BROADCAST_HDR));
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == sizeof(plat::DEV_BROADCAST_DEVICEINTERFACE_W));
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_classguid) ==
              offsetof(plat::DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_classguid));
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) ==
              offsetof(plat::DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name));
static_assert(sizeof(DEV_BROADCAST_VOLUME) == sizeof(plat::DEV_BROADCAST_VOLUME));
static_assert(offsetof(DEV_BROADCAST_VOLUME, dbcv_unitmask) ==
              offsetof(plat::DEV_BROADCAST_VOLUME, dbcv_unitmask));
static_assert(offsetof(DEV_BROADCAST_VOLUME, dbcv_flags) == offsetof(plat::DEV_BROADCAST_VOLUME, dbcv_flags));

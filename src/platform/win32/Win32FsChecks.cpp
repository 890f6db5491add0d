// Pins the volume, disk-check and token constants and layouts of WinFsControl.h against the real
// headers. Our names are Windows' macro names, so the values are captured before the include.
#include "platform/WinFsControl.h"

namespace vt_fs {
constexpr plat::DWORD kVolumeBitmap = plat::fsc::FSCTL_GET_VOLUME_BITMAP;
constexpr plat::DWORD kNtfsVolumeData = plat::fsc::FSCTL_GET_NTFS_VOLUME_DATA;
constexpr plat::DWORD kRetrievalPointers = plat::fsc::FSCTL_GET_RETRIEVAL_POINTERS;
constexpr plat::DWORD kIsWritable = plat::fsc::IOCTL_DISK_IS_WRITABLE;
constexpr plat::DWORD kTokenQuery = plat::fsc::TOKEN_QUERY;
constexpr plat::DWORD kTokenElevation = plat::fsc::TokenElevation;
constexpr plat::DWORD kTrimProperty = plat::fsc::StorageDeviceTrimProperty;
}  // namespace vt_fs

#include <windows.h>
#include <winioctl.h>

#include <cstddef>

static_assert(vt_fs::kVolumeBitmap == FSCTL_GET_VOLUME_BITMAP);
static_assert(vt_fs::kNtfsVolumeData == FSCTL_GET_NTFS_VOLUME_DATA);
static_assert(vt_fs::kRetrievalPointers == FSCTL_GET_RETRIEVAL_POINTERS);
static_assert(vt_fs::kIsWritable == IOCTL_DISK_IS_WRITABLE);
static_assert(vt_fs::kTokenQuery == TOKEN_QUERY);
static_assert(vt_fs::kTokenElevation == static_cast<DWORD>(TokenElevation));
static_assert(vt_fs::kTrimProperty == static_cast<DWORD>(StorageDeviceTrimProperty));

static_assert(plat::fsc::kStartingLcnInputSize == sizeof(STARTING_LCN_INPUT_BUFFER));
static_assert(plat::fsc::kVolumeBitmapHeaderSize == offsetof(VOLUME_BITMAP_BUFFER, Buffer));
static_assert(plat::fsc::kStartingVcnInputSize == sizeof(STARTING_VCN_INPUT_BUFFER));
static_assert(plat::fsc::kRetrievalHeaderSize == offsetof(RETRIEVAL_POINTERS_BUFFER, Extents));
static_assert(plat::fsc::kRetrievalExtentSize == sizeof(RETRIEVAL_POINTERS_BUFFER::Extents[0]));
static_assert(plat::fsc::kRetrievalPointersSize == sizeof(RETRIEVAL_POINTERS_BUFFER));
static_assert(plat::fsc::kNtfsVolumeDataSize == sizeof(NTFS_VOLUME_DATA_BUFFER));
static_assert(plat::fsc::kNtfsTotalClustersAt == offsetof(NTFS_VOLUME_DATA_BUFFER, TotalClusters));
static_assert(plat::fsc::kNtfsFreeClustersAt == offsetof(NTFS_VOLUME_DATA_BUFFER, FreeClusters));
static_assert(plat::fsc::kNtfsBytesPerSectorAt == offsetof(NTFS_VOLUME_DATA_BUFFER, BytesPerSector));
static_assert(plat::fsc::kNtfsBytesPerClusterAt == offsetof(NTFS_VOLUME_DATA_BUFFER, BytesPerCluster));
static_assert(plat::fsc::kDeviceTrimDescriptorSize == sizeof(DEVICE_TRIM_DESCRIPTOR));
static_assert(plat::fsc::kTrimEnabledAt == offsetof(DEVICE_TRIM_DESCRIPTOR, TrimEnabled));
static_assert(plat::fsc::kTokenElevationSize == sizeof(TOKEN_ELEVATION));

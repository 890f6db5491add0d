// The lettered volumes of one disk: one record per extent the volume has on that disk.
#include <algorithm>
#include <vector>

#include "core/uText.h"
#include "base/uByteOrder.h"
#include "device/uDeviceHandle.h"
#include "device/uDevicePath.h"
#include "device/uDiskEnum.h"
#include "platform/WinStorage.h"

using plat::DWORD;

namespace {

constexpr DWORD kExtentsBytes = 4096;
constexpr DWORD kVolumeNameChars = 256;
constexpr DWORD kFileSystemNameChars = 32;

}  // namespace

void TDiskEnumerator::MapVolumes(TVolumeInfoArray& Volumes, int32_t DiskNumber) const {
  Volumes.clear();
  const DWORD Drives = plat::Win().GetLogicalDrives();
  for (int Bit = 0; Bit < 26; ++Bit) {
    if (!(Drives & (1u << Bit))) continue;
    const std::string Letter(1, static_cast<char>('A' + Bit));
    TDeviceHandle H(OpenDevice(VolumeDevicePath(Letter + ":"), 0));
    if (!H.Valid()) continue;
    std::vector<uint8_t> Buf(kExtentsBytes, 0);
    DWORD Returned = 0;
    if (!plat::Win().DeviceIoControl(H.Get(), plat::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, Buf.data(),
                                     kExtentsBytes, &Returned))
      continue;
    TByteReader R(Buf);
    // Never read past the answer buffer, whatever count it claims.
    const DWORD Count = std::min(R.LE32(plat::vde::kCount), plat::vde::Capacity(kExtentsBytes));
    for (DWORD I = 0; I < Count; ++I) {
      const size_t At = plat::vde::kFirstExtent + size_t{I} * plat::vde::kExtentSize;
      if (static_cast<int32_t>(R.LE32(At + plat::vde::kDiskNumber)) != DiskNumber) continue;
      TVolumeInfo V;
      V.RootPath = Letter + ":\\";
      V.DriveLetter = Letter + ":";
      std::string VolumeName, FileSystem;
      DWORD Serial = 0, MaxComponent = 0, Flags = 0;
      V.FileSystem = plat::Win().GetVolumeInformationW(V.RootPath, &VolumeName, kVolumeNameChars, &Serial,
                                                       &MaxComponent, &Flags, &FileSystem, kFileSystemNameChars)
                         ? FileSystem
                         : "RAW/Unknown";
      DWORD SectorsPerCluster = 0, BytesPerSector = 0, FreeClusters = 0, TotalClusters = 0;
      V.ClusterBytes = plat::Win().GetDiskFreeSpaceW(V.RootPath, &SectorsPerCluster, &BytesPerSector,
                                                     &FreeClusters, &TotalClusters)
                           ? SectorsPerCluster * BytesPerSector
                           : 0;
      V.PartitionOffset = ReadNonNegInt64(Buf.data() + At + plat::vde::kStartingOffset);
      V.PartitionLength = ReadNonNegInt64(Buf.data() + At + plat::vde::kExtentLength);
      V.DiskNumber = DiskNumber;
      V.HasDriveLetter = true;
      const std::string Fs = UpperCase(V.FileSystem);
      V.FreeSpaceSupported = Fs == "NTFS" || Fs == "EXFAT";
      V.SupportNote = V.FreeSpaceSupported ? "supported" : "Only NTFS/exFAT supported for free-space TRIM";
      // A spanned or striped volume: its free-cluster map cannot be placed against one extent.
      V.ExtentCount = static_cast<int32_t>(Count);
      Volumes.push_back(std::move(V));
    }
  }
}

#include "device/uDiskIdentity.h"

#include <algorithm>
#include <vector>

#include "base/uByteOrder.h"
#include "core/uFormat.h"
#include "device/uAtaPassThrough.h"
#include "device/uDiskEnum.h"
#include "platform/WinStorage.h"

using namespace plat;

namespace {

// Room for the extents of any volume the program meets; a longer answer fails with 234.
constexpr DWORD kExtentsBytes = 4096;

void Fail(TDiskProof& P, uint32_t WinErr, const std::string& Reason) {
  P.WinErr = WinErr;
  P.Gone = DeviceLeftBus(WinErr);
  P.Reason = Reason;
}

}  // namespace

TDeviceHandle OpenProvenDisk(const TDiskInfo& Disk, TDiskProof& Proof) {
  Proof = TDiskProof{};
  TDeviceHandle H = OpenDeviceReadWrite(Disk.DevicePath);
  if (!H.Valid()) {
    Fail(Proof, Win().GetLastError(), "disk not accessible (removed or renumbered)");
    // The disk was listed under this path: not finding it now means it has left.
    Proof.Gone = Proof.Gone || Proof.WinErr == ERROR_FILE_NOT_FOUND;
    return {};
  }

  Win().SetLastError(0);
  Proof.GeometryRead = TDiskEnumerator::QueryGeometry(H.Get(), Proof.SizeBytes, Proof.BytesPerSector);
  if (!Proof.GeometryRead) Proof.GeometryWinErr = Win().GetLastError();
  if (DeviceLeftBus(Proof.GeometryWinErr)) {
    Fail(Proof, Proof.GeometryWinErr, Format("disk geometry could not be read (winerr=%d)", Proof.GeometryWinErr));
    return {};
  }
  if (Disk.SizeBytes != 0) {
    if (!Proof.GeometryRead) {
      Fail(Proof, Proof.GeometryWinErr,
           Format("disk geometry could not be read (winerr=%d)", Proof.GeometryWinErr));
      return {};
    }
    if (Proof.SizeBytes != 0 && Proof.SizeBytes != Disk.SizeBytes) {
      Fail(Proof, 0, Format("disk size mismatch (cached=%d, live=%d)", Disk.SizeBytes, Proof.SizeBytes));
      return {};
    }
  }

  std::string model, serial;
  Win().SetLastError(0);
  if (!TDiskEnumerator::QueryModelSerial(H.Get(), model, serial)) {
    const uint32_t err = Win().GetLastError();
    // Only a listed serial needs the answer; a disk that left fails whatever was listed.
    if (!Disk.Serial.empty() || DeviceLeftBus(err)) {
      Fail(Proof, err, Format("storage descriptor could not be read (winerr=%d)", err));
      return {};
    }
  } else if (!Disk.Serial.empty() && !serial.empty() && serial != Disk.Serial) {
    Fail(Proof, 0, "serial number mismatch (different disk now has this drive number)");
    return {};
  }
  Proof.Proven = true;
  return H;
}

TDeviceResult CheckDiskPresent(HANDLE ProvenDisk, int32_t DiskNumber) {
  std::vector<uint8_t> Out(sdn::kSize, 0);
  DWORD Returned = 0;
  TDeviceResult Res;
  if (!Win().DeviceIoControl(ProvenDisk, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, Out.data(), sdn::kSize,
                             &Returned)) {
    Res.Fault = TDeviceFault::dfTransport;
    Res.WinErr = Win().GetLastError();
    Res.Message = "device number query failed with error " + std::to_string(Res.WinErr);
    return Res;
  }
  const uint32_t Live = TByteReader(Out).LE32(sdn::kDeviceNumber);
  if (static_cast<int32_t>(Live) != DiskNumber)
    return RefusedResult(Format("the disk now has number %d, not %d", Live, DiskNumber));
  Res.Ok = true;
  return Res;
}

TDeviceHandle OpenVolumeOnDisk(const TVolumeInfo& Planned, HANDLE ProvenDisk, int32_t DiskNumber,
                               TVolumeProof& Proof) {
  Proof = TVolumeProof{};
  Proof.Path = VolumeDevicePath(Planned.DriveLetter);
  // Whether the proven disk is still here; false (Proof filled) when it is not.
  auto DiskPresent = [&] {
    const TDeviceResult R = CheckDiskPresent(ProvenDisk, DiskNumber);
    if (R.Ok) return true;
    Proof.Gone = DeviceLeftBus(R.WinErr);
    Proof.DiskWinErr = R.WinErr;
    return false;
  };
  auto Refuse = [&](uint32_t WinErr, const std::string& Reason) {
    Proof.WinErr = WinErr;
    Proof.Reason = Reason;
    // A volume request that fails may be the first sign that the disk has gone.
    if (!Proof.Gone) DiskPresent();
    return TDeviceHandle{};
  };

  // A disk that has left is not asked for its volume: the letter may belong to another disk now.
  if (!DiskPresent()) {
    Proof.WinErr = Proof.DiskWinErr;
    Proof.Reason = "the disk is no longer present under its number";
    return {};
  }
  if (Proof.Path.empty()) return Refuse(ERROR_INVALID_PARAMETER, "no drive letter to open");
  TDeviceHandle H = OpenDeviceReadWrite(Proof.Path);
  if (!H.Valid()) {
    Proof.OpenFailed = true;
    const uint32_t Err = Win().GetLastError();
    return Refuse(Err, Format("the volume did not open (winerr=%d)", Err));
  }

  std::vector<uint8_t> Buf(kExtentsBytes, 0);
  DWORD Returned = 0;
  if (!Win().DeviceIoControl(H.Get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, Buf.data(), kExtentsBytes,
                             &Returned)) {
    const uint32_t Err = Win().GetLastError();
    return Refuse(Err, Format("its disk extents could not be read (winerr=%d)", Err));
  }
  TByteReader R(Buf);
  const DWORD Count = std::min(R.LE32(vde::kCount), vde::Capacity(kExtentsBytes));
  bool Placed = false;
  for (DWORD I = 0; I < Count && !Placed; ++I) {
    const size_t At = vde::kFirstExtent + size_t{I} * vde::kExtentSize;
    Placed = static_cast<int32_t>(R.LE32(At + vde::kDiskNumber)) == DiskNumber &&
             static_cast<int64_t>(R.LE64(At + vde::kStartingOffset)) == Planned.PartitionOffset &&
             static_cast<int64_t>(R.LE64(At + vde::kExtentLength)) == Planned.PartitionLength;
  }
  if (!Placed)
    return Refuse(ERROR_INVALID_PARAMETER, Format("no extent of it lies on disk %d at offset %d with length %d",
                                                  DiskNumber, Planned.PartitionOffset, Planned.PartitionLength));
  // The extents name the disk by its number, which is the proven disk's only while it is here.
  if (!DiskPresent()) {
    Proof.WinErr = Proof.DiskWinErr;
    Proof.Reason = "the disk is no longer present under its number";
    return {};
  }
  Proof.Proven = true;
  return H;
}

#include "platform/sim/files/SimFsControl.h"

#include <algorithm>
#include <cstring>

#include "base/uByteOrder.h"
#include "platform/WinFsControl.h"
#include "platform/sim/kernel/SimKernel.h"
#include "platform/sim/files/SimVolumeFormat.h"

namespace plat::sim {

namespace {

BOOL Fail(DWORD e) {
  SimSetLastError(e);
  return FALSE_;
}

std::shared_ptr<SimFsState> StateOf(const SimDeviceCall& c) {
  if (!c.volume) return nullptr;
  std::lock_guard<std::mutex> lk(c.volume->mu);
  return c.volume->fs;
}

std::shared_ptr<SimDiskChecks> ChecksOf(SimDisk& d) {
  std::lock_guard<std::mutex> lk(d.mu);
  if (!d.checks) d.checks = std::make_shared<SimDiskChecks>();
  return d.checks;
}

// As Windows documents it: the start is rounded down to a multiple of 8 and returned, the
// answer is cut at the buffer with ERROR_MORE_DATA, and the bits after the last cluster are
// undefined.
BOOL VolumeBitmap(SimDeviceCall& c) {
  auto s = StateOf(c);
  if (!s) return Fail(ERROR_INVALID_FUNCTION);
  std::lock_guard<std::mutex> lk(s->mu);
  ++s->bitmapRequests;
  if (!c.in || c.inSize < fsc::kStartingLcnInputSize) return Fail(ERROR_INVALID_PARAMETER);
  if (!c.out || c.outSize < fsc::kVolumeBitmapHeaderSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
  const int64_t asked = static_cast<int64_t>(TByteReader({static_cast<const uint8_t*>(c.in), 8}).LE64(0));
  if (asked < 0 || static_cast<uint64_t>(asked) >= s->clusters) return Fail(ERROR_INVALID_PARAMETER);
  const uint64_t start = static_cast<uint64_t>(asked) & ~uint64_t(7);
  const uint64_t size = s->clusters - start;
  const uint64_t need = (size + 7) / 8;
  const uint64_t room = c.outSize - fsc::kVolumeBitmapHeaderSize;
  const uint64_t n = std::min(need, room);
  auto* out = static_cast<uint8_t*>(c.out);
  TByteWriter w({out, fsc::kVolumeBitmapHeaderSize});
  w.LE64(0, start);
  w.LE64(8, size);
  std::memcpy(out + fsc::kVolumeBitmapHeaderSize, s->bitmap.data() + start / 8, n);
  if (n == need && (size & 7)) {
    uint8_t& last = out[fsc::kVolumeBitmapHeaderSize + n - 1];
    const uint8_t keep = static_cast<uint8_t>((1u << (size & 7)) - 1);
    last = static_cast<uint8_t>((last & keep) | (s->spareBits & ~keep));
  }
  c.SetReturned(static_cast<DWORD>(fsc::kVolumeBitmapHeaderSize + n));
  if (n < need) return Fail(ERROR_MORE_DATA);
  return TRUE_;
}

BOOL NtfsVolumeData(SimDeviceCall& c) {
  auto s = StateOf(c);
  if (!s) return Fail(ERROR_INVALID_FUNCTION);
  std::lock_guard<std::mutex> lk(s->mu);
  if (s->kind != SimFsKind::kNtfs) return Fail(ERROR_INVALID_FUNCTION);
  if (!c.out || c.outSize < fsc::kNtfsVolumeDataSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
  TByteWriter w({static_cast<uint8_t*>(c.out), fsc::kNtfsVolumeDataSize});
  w.Zero();
  w.LE64(8, s->volumeSectors - 1);
  w.LE64(fsc::kNtfsTotalClustersAt, s->clusters);
  w.LE64(fsc::kNtfsFreeClustersAt, s->FreeClusters());
  w.LE32(fsc::kNtfsBytesPerSectorAt, s->bytesPerSector);
  w.LE32(fsc::kNtfsBytesPerClusterAt, static_cast<uint32_t>(s->ClusterBytes()));
  w.LE32(48, 1024);
  w.LE64(64, s->mftLcn);
  c.SetReturned(fsc::kNtfsVolumeDataSize);
  return TRUE_;
}

BOOL IsWritable(SimDeviceCall& c) {
  if (!c.disk) return Fail(ERROR_INVALID_FUNCTION);
  const DWORD e = ChecksOf(*c.disk)->writableError;
  return e ? Fail(e) : TRUE_;
}

// The TRIM-support property; other properties go to whoever answered them before.
BOOL TrimProperty(SimDeviceCall& c, const SimIoctlHandler& other) {
  const bool isTrim = c.in && c.inSize >= spq::kSize &&
                      TByteReader({static_cast<const uint8_t*>(c.in), spq::kSize}).LE32(spq::kPropertyId) ==
                          fsc::StorageDeviceTrimProperty;
  if (!isTrim) return other ? other(c) : Fail(ERROR_INVALID_FUNCTION);
  if (!c.disk) return Fail(ERROR_INVALID_FUNCTION);
  const SimDiskChecks k = *ChecksOf(*c.disk);
  if (k.trimQueryError) return Fail(k.trimQueryError);
  if (!c.out) return Fail(ERROR_INVALID_PARAMETER);
  uint8_t d[fsc::kDeviceTrimDescriptorSize] = {};
  TByteWriter w(d);
  w.LE32(0, fsc::kDeviceTrimDescriptorSize);
  w.LE32(4, fsc::kDeviceTrimDescriptorSize);
  w.U8(fsc::kTrimEnabledAt, k.trimEnabled.value_or(SimDriveTrims(*c.disk)) ? 1 : 0);
  const DWORD n = std::min({c.outSize, k.trimAnswerBytes, fsc::kDeviceTrimDescriptorSize});
  std::memcpy(c.out, d, n);
  c.SetReturned(n);
  return TRUE_;
}

}  // namespace

SimFsControl::SimFsControl(SimStorage& storage) : storage_(storage) {
  storage.RegisterIoctl(fsc::FSCTL_GET_VOLUME_BITMAP, VolumeBitmap);
  storage.RegisterIoctl(fsc::FSCTL_GET_NTFS_VOLUME_DATA, NtfsVolumeData);
  storage.RegisterIoctl(fsc::IOCTL_DISK_IS_WRITABLE, IsWritable);
  SimIoctlHandler other = storage.Handler(IOCTL_STORAGE_QUERY_PROPERTY);
  storage.RegisterIoctl(IOCTL_STORAGE_QUERY_PROPERTY,
                        [other](SimDeviceCall& c) { return TrimProperty(c, other); });
}

std::shared_ptr<SimDiskChecks> SimFsControl::Checks(int diskNumber) {
  auto d = storage_.Disk(diskNumber);
  return d ? ChecksOf(*d) : nullptr;
}

}  // namespace plat::sim

// The storage data-set-management TRIM request, sent to a mounted volume.
#include "core/uFormat.h"
#include "core/uLogger.h"
#include "device/uAtaPassThrough.h"
#include "base/uByteOrder.h"
#include "platform/WinStorage.h"

using namespace plat;

namespace {

constexpr int64_t kSectorBytes = 512;

using U128 = unsigned __int128;

}  // namespace

TByteArray TAtaPassThroughEngine::BuildDsmTrimInput(const std::vector<TDataSetRange>& Ranges, bool Cooperative) {
  TByteArray In(dsm::kRangesStart + dsm::kRangeSize * Ranges.size(), 0);
  TByteWriter W(In);
  W.LE32(dsm::kSize, dsm::kAttributesSize);
  W.LE32(dsm::kAction, dsm::DeviceDsmAction_Trim);
  W.LE32(dsm::kFlags, Cooperative ? 0 : dsm::DEVICE_DSM_FLAG_TRIM_NOT_FS_ALLOCATED);
  W.LE32(dsm::kParamOffset, 0);
  W.LE32(dsm::kParamLength, 0);
  W.LE32(dsm::kRangesOffset, dsm::kRangesStart);
  W.LE32(dsm::kRangesLength, static_cast<uint32_t>(dsm::kRangeSize * Ranges.size()));
  for (size_t K = 0; K < Ranges.size(); ++K) {
    const size_t At = dsm::kRangesStart + dsm::kRangeSize * K;
    W.LE64(At + dsm::kRangeStartingOffset, static_cast<uint64_t>(Ranges[K].StartingOffset));
    W.LE64(At + dsm::kRangeLengthInBytes, Ranges[K].LengthInBytes);
  }
  return In;
}

bool TAtaPassThroughEngine::PrepareDsmTrim(const TVolumeInfo& Volume, const TTrimRangeArray& Ranges, int32_t First,
                                           int32_t Count, std::vector<TDataSetRange>& Sent,
                                           uint32_t& WinErr) const {
  Sent.clear();
  WinErr = 0;
  auto Refuse = [&](const std::string& Why) {
    WinErr = ERROR_INVALID_PARAMETER;
    if (FLogger) FLogger->Warn("DSM TRIM refused for volume " + Volume.DriveLetter + ": " + Why);
    return false;
  };
  if (Count <= 0) {
    WinErr = ERROR_INVALID_PARAMETER;
    return false;
  }
  // A spanned or striped volume is not one run of this disk's blocks: its byte offsets cannot
  // be placed against one extent.
  if (Volume.ExtentCount > 1)
    return Refuse("the volume has " + std::to_string(Volume.ExtentCount) +
                  " extents (spanned or striped); its ranges cannot be mapped onto one disk extent");
  if (VolumeDevicePath(Volume.DriveLetter).empty()) return Refuse("no drive letter to open");
  if (Volume.PartitionOffset < 0 || Volume.PartitionLength <= 0)
    return Refuse("the volume's place on the disk is unknown (offset " + std::to_string(Volume.PartitionOffset) +
                  ", length " + std::to_string(Volume.PartitionLength) + ")");

  // A range that begins before the volume is dropped; one that begins inside it is cut at the
  // volume's end, so a later volume's blocks never go through this volume's handle.
  const U128 VolStart = static_cast<U128>(Volume.PartitionOffset);
  const U128 VolEnd = VolStart + static_cast<U128>(Volume.PartitionLength);
  for (int64_t I = First; I < int64_t{First} + Count; ++I) {
    if (I < 0 || I >= static_cast<int64_t>(Ranges.size())) continue;
    const TTrimRange& R = Ranges[static_cast<size_t>(I)];
    const U128 Start = static_cast<U128>(R.StartLba) * kSectorBytes;
    U128 End = Start + static_cast<U128>(R.SectorCount) * kSectorBytes;
    if (Start < VolStart || Start >= VolEnd) continue;
    if (End > VolEnd) End = VolEnd;
    if (End <= Start) continue;
    Sent.push_back({static_cast<int64_t>(Start - VolStart), static_cast<uint64_t>(End - Start)});
  }
  return true;
}

bool TAtaPassThroughEngine::SendDsmTrim(const TVolumeInfo& Volume, const TTrimRangeArray& Ranges, int32_t First,
                                        int32_t Count, uint32_t& WinErr, int32_t& Applied, bool Cooperative) {
  WinErr = 0;
  Applied = 0;
  std::vector<TDataSetRange> Sent;
  if (!PrepareDsmTrim(Volume, Ranges, First, Count, Sent, WinErr)) return false;
  if (Sent.empty()) return true;
  const TDeviceResult Res = OnPath(VolumeDevicePath(Volume.DriveLetter),
                                   [&](const TDeviceRef& D) { return SendDsmTrim(D, Sent, Count, Cooperative); });
  WinErr = Res.WinErr;
  if (Res.Ok) Applied = static_cast<int32_t>(Sent.size());
  return Res.Ok;
}

TDeviceResult TAtaPassThroughEngine::SendDsmTrim(const TDeviceRef& Volume, const std::vector<TDataSetRange>& Sent,
                                                 int32_t Count, bool Cooperative) {
  const auto N = static_cast<int32_t>(Sent.size());
  TByteArray In = BuildDsmTrimInput(Sent, Cooperative);
  TDeviceResult Res;
  const ULONGLONG Start = Win().GetTickCount64();
  DWORD Returned = 0;
  Res.Ok = Win().DeviceIoControl(Volume.Handle, IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES, In.data(),
                                 static_cast<DWORD>(In.size()), nullptr, 0, &Returned) != 0;
  Res.WinErr = Res.Ok ? 0 : Win().GetLastError();
  Res.ElapsedMs = Win().GetTickCount64() - Start;
  if (!Res.Ok) {
    Res.Fault = TDeviceFault::dfTransport;
    Res.Message = "DeviceIoControl failed with error " + std::to_string(Res.WinErr);
  }
  LogCall(Cooperative ? "DeviceIoControl(DSM TRIM cooperative)" : "DeviceIoControl(DSM TRIM)",
          Format("path=%s, ranges=%d (of %d), total_bytes=%d, rangesOffset=%d", Volume.Path, N, Count,
                 static_cast<int32_t>(In.size()), dsm::kRangesStart),
          Res.Ok, Res.WinErr, Res.ElapsedMs, true);
  return Res;
}

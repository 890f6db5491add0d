// The storage data-set-management TRIM request, sent to a mounted volume.
#include <cctype>

#include "core/uLogger.h"
#include "device/uAtaPassThrough.h"
#include "device/uByteOrder.h"
#include "device/uDeviceIoctl.h"

using namespace plat;

namespace {

// Byte map of the input: DEVICE_MANAGE_DATA_SET_ATTRIBUTES (28 bytes), 4 bytes alignment, then
// DEVICE_DATA_SET_RANGE entries of 16 bytes. Little-endian.
constexpr size_t kAttrSize = 0;            // 4  Size: 28
constexpr size_t kAttrAction = 4;          // 4  Action: 1, DeviceDsmAction_Trim
constexpr size_t kAttrFlags = 8;           // 4  Flags: TRIM_NOT_FS_ALLOCATED, or 0 cooperative
constexpr size_t kAttrParamOffset = 12;    // 4  ParameterBlockOffset: 0
constexpr size_t kAttrParamLength = 16;    // 4  ParameterBlockLength: 0
constexpr size_t kAttrRangesOffset = 20;   // 4  DataSetRangesOffset: 32
constexpr size_t kAttrRangesLength = 24;   // 4  DataSetRangesLength: 16 x n
constexpr uint32_t kAttrBytes = 28;
constexpr uint32_t kRangesStart = 32;
constexpr size_t kRangeBytes = 16;         // 8 StartingOffset, 8 LengthInBytes
static_assert(kAttrRangesLength + 4 == kAttrBytes && kRangesStart % 8 == 0);

constexpr uint32_t kDeviceDsmActionTrim = 1;
constexpr uint32_t kDsmFlagTrimNotFsAllocated = 0x80000000u;
constexpr int64_t kSectorBytes = 512;

using U128 = unsigned __int128;

// "\\.\E:" from "E:" (or "E:\"); empty when DriveLetter does not start with a letter and colon.
std::string VolumeDevicePath(const std::string& DriveLetter) {
  if (DriveLetter.size() < 2 || !std::isalpha(static_cast<unsigned char>(DriveLetter[0])) || DriveLetter[1] != ':')
    return {};
  return "\\\\.\\" + DriveLetter.substr(0, 2);
}

}  // namespace

TByteArray TAtaPassThroughEngine::BuildDsmTrimInput(const std::vector<TDataSetRange>& Ranges, bool Cooperative) {
  TByteArray In(kRangesStart + kRangeBytes * Ranges.size(), 0);
  TByteWriter W(In);
  W.LE32(kAttrSize, kAttrBytes);
  W.LE32(kAttrAction, kDeviceDsmActionTrim);
  W.LE32(kAttrFlags, Cooperative ? 0 : kDsmFlagTrimNotFsAllocated);
  W.LE32(kAttrParamOffset, 0);
  W.LE32(kAttrParamLength, 0);
  W.LE32(kAttrRangesOffset, kRangesStart);
  W.LE32(kAttrRangesLength, static_cast<uint32_t>(kRangeBytes * Ranges.size()));
  for (size_t K = 0; K < Ranges.size(); ++K) {
    const size_t At = kRangesStart + kRangeBytes * K;
    W.LE64(At, static_cast<uint64_t>(Ranges[K].StartingOffset));  // StartingOffset
    W.LE64(At + 8, Ranges[K].LengthInBytes);                       // LengthInBytes
  }
  return In;
}

bool TAtaPassThroughEngine::SendDsmTrim(const TVolumeInfo& Volume, const TTrimRangeArray& Ranges, int32_t First,
                                        int32_t Count, uint32_t& WinErr, int32_t& Applied, bool Cooperative) {
  WinErr = 0;
  Applied = 0;
  const std::string VolumePath = VolumeDevicePath(Volume.DriveLetter);
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
  if (VolumePath.empty()) return Refuse("no drive letter to open");
  if (Volume.PartitionOffset < 0 || Volume.PartitionLength <= 0)
    return Refuse("the volume's place on the disk is unknown (offset " + std::to_string(Volume.PartitionOffset) +
                  ", length " + std::to_string(Volume.PartitionLength) + ")");

  // Keep what overlaps [offset, offset + length) of the disk, clipped, relative to the volume.
  const U128 VolStart = static_cast<U128>(Volume.PartitionOffset);
  const U128 VolEnd = VolStart + static_cast<U128>(Volume.PartitionLength);
  std::vector<TDataSetRange> Sent;
  for (int64_t I = First; I < int64_t{First} + Count; ++I) {
    if (I < 0 || I >= static_cast<int64_t>(Ranges.size())) continue;
    const TTrimRange& R = Ranges[static_cast<size_t>(I)];
    U128 Start = static_cast<U128>(R.StartLba) * kSectorBytes;
    U128 End = Start + static_cast<U128>(R.SectorCount) * kSectorBytes;
    if (Start < VolStart) Start = VolStart;
    if (End > VolEnd) End = VolEnd;
    if (End <= Start) continue;
    Sent.push_back({static_cast<int64_t>(Start - VolStart), static_cast<uint64_t>(End - Start)});
  }
  const auto N = static_cast<int32_t>(Sent.size());
  if (N == 0) return true;

  TDeviceHandle H = OpenDeviceRW(VolumePath);
  if (!H.Valid()) {
    WinErr = Win().GetLastError();
    return false;
  }
  TByteArray In = BuildDsmTrimInput(Sent, Cooperative);
  const ULONGLONG Start = Win().GetTickCount64();
  DWORD Returned = 0;
  const bool Ok = Win().DeviceIoControl(H.Get(), devioctl::IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES, In.data(),
                                        static_cast<DWORD>(In.size()), nullptr, 0, &Returned) != 0;
  WinErr = Ok ? 0 : Win().GetLastError();
  const ULONGLONG Elapsed = Win().GetTickCount64() - Start;
  if (Ok) Applied = N;
  LogCall(Cooperative ? "DeviceIoControl(DSM TRIM cooperative)" : "DeviceIoControl(DSM TRIM)",
          "path=" + VolumePath + ", ranges=" + std::to_string(N) + " (of " + std::to_string(Count) +
              "), total_bytes=" + std::to_string(static_cast<int32_t>(In.size())) +
              ", rangesOffset=" + std::to_string(kRangesStart),
          Ok, WinErr, Elapsed, true);
  return Ok;
}

// SCSI UNMAP(10), WRITE SAME(16) with UNMAP, and INQUIRY of the Block Limits page.
#include <array>

#include "core/uFormat.h"
#include "device/uAtaPassThrough.h"
#include "base/uByteOrder.h"
#include "platform/Platform.h"

using namespace plat;

namespace {

// UNMAP parameter list: an 8-byte header, then 16-byte block descriptors. Big-endian.
constexpr size_t kUnmapHeaderBytes = 8;
constexpr size_t kUnmapDescriptorBytes = 16;
constexpr int32_t kUnmapMaxDescriptors = 4095;  // keeps the list within the 16-bit lengths
static_assert(kUnmapHeaderBytes + kUnmapDescriptorBytes * kUnmapMaxDescriptors == 65528);

constexpr size_t kBlockLimitsBytes = 64;

constexpr const char* kMisshapenList = "UNMAP parameter list does not match its header";
constexpr const char* kZeroBlocks = "WRITE SAME(16) with 0 blocks would reach the end of the medium";
constexpr uint8_t kBlockLimitsPage = 0xB0;

}  // namespace

void TAtaPassThroughEngine::BuildUnmapParameterList(TByteArray& List, const TTrimRangeArray& Ranges, int32_t First,
                                                    int32_t Count) {
  const int32_t N = Count < 0 ? 0 : (Count > kUnmapMaxDescriptors ? kUnmapMaxDescriptors : Count);
  List.assign(kUnmapHeaderBytes + kUnmapDescriptorBytes * static_cast<size_t>(N), 0);
  TByteWriter W(List);
  const auto DescBytes = static_cast<uint16_t>(kUnmapDescriptorBytes * static_cast<size_t>(N));
  W.BE16(0, static_cast<uint16_t>(DescBytes + 6));  // UNMAP DATA LENGTH: bytes after this field
  W.BE16(2, DescBytes);                             // UNMAP BLOCK DESCRIPTOR DATA LENGTH
  // 4-7 reserved
  for (int32_t J = 0; J < N; ++J) {
    const int64_t I = int64_t{First} + J;
    if (I < 0 || I >= static_cast<int64_t>(Ranges.size())) continue;  // slot stays zero: 0 blocks
    const TTrimRange& R = Ranges[static_cast<size_t>(I)];
    const size_t D = kUnmapHeaderBytes + kUnmapDescriptorBytes * static_cast<size_t>(J);
    W.BE64(D + 0, R.StartLba);                                          // UNMAP LOGICAL BLOCK ADDRESS
    W.BE32(D + 8, static_cast<uint32_t>(R.SectorCount & 0xFFFFFFFFu));  // NUMBER OF LOGICAL BLOCKS
    // D+12..15 reserved
  }
}

void TAtaPassThroughEngine::BuildUnmapCdb(std::span<uint8_t, 10> Cdb, uint16_t ParameterListLength) {
  TByteWriter W(Cdb);
  W.Zero();
  W.U8(0, 0x42);  // OPERATION CODE: UNMAP
  // 1 ANCHOR: 0; 2-5 reserved; 6 GROUP NUMBER: 0
  W.BE16(7, ParameterListLength);  // PARAMETER LIST LENGTH
  // 9 CONTROL: 0
}

bool TAtaPassThroughEngine::UnmapListShaped(std::span<const uint8_t> List) {
  // The device reads descriptors by the header's lengths: a list whose header disagrees with
  // its size would have it read blocks this program never named.
  TByteReader R(List);
  return List.size() >= kUnmapHeaderBytes && List.size() <= 65535 &&
         (List.size() - kUnmapHeaderBytes) % kUnmapDescriptorBytes == 0 && R.BE16(0) == List.size() - 2 &&
         R.BE16(2) == List.size() - kUnmapHeaderBytes;
}

bool TAtaPassThroughEngine::SendScsiUnmap(const std::string& Path, std::span<const uint8_t> List,
                                          uint32_t TimeoutMs, uint32_t& WinErr, uint8_t& SenseKey, uint8_t& Asc,
                                          uint8_t& Ascq, bool MultiDescriptor) {
  // Refused before anything is opened.
  const TDeviceResult Res =
      !UnmapListShaped(List)
          ? RefusedResult(kMisshapenList)
          : OnPath(Path, [&](const TDeviceRef& D) { return SendScsiUnmap(D, List, TimeoutMs, MultiDescriptor); });
  SplitResult(Res, WinErr, SenseKey, Asc, Ascq);
  return Res.Ok;
}

TDeviceResult TAtaPassThroughEngine::SendScsiUnmap(const TDeviceRef& Device, std::span<const uint8_t> List,
                                                   uint32_t TimeoutMs, bool MultiDescriptor) {
  if (!UnmapListShaped(List)) return RefusedResult(kMisshapenList);
  std::array<uint8_t, 10> Cdb{};
  BuildUnmapCdb(Cdb, static_cast<uint16_t>(List.size()));
  const TDeviceResult Res = RunScsi(Device.Handle, TScsiRequest::DataOut(Cdb, List, TimeoutSeconds(TimeoutMs, 1)),
                                    TStatusRule::srFail1117);
  if (!Res.Ok)
    LogCall("DeviceIoControl(SCSI UNMAP)",
            Format("path=%s, payload=%d, timeout_ms=%d, scsi_status=%d", Device.Path,
                   static_cast<int32_t>(List.size()), TimeoutMs, Res.ScsiStatus),
            false, Res.WinErr, Res.ElapsedMs, MultiDescriptor);
  return Res;
}

void TAtaPassThroughEngine::BuildWriteSame16UnmapCdb(std::span<uint8_t, 16> Cdb, uint64_t Lba, uint32_t Count) {
  TByteWriter W(Cdb);
  W.Zero();
  W.U8(0, 0x93);      // OPERATION CODE: WRITE SAME(16)
  W.U8(1, 0x08);      // UNMAP 1; WRPROTECT, ANCHOR, NDOB 0
  W.BE64(2, Lba);     // LOGICAL BLOCK ADDRESS
  W.BE32(10, Count);  // NUMBER OF LOGICAL BLOCKS
  // 14 GROUP NUMBER: 0; 15 CONTROL: 0
}

bool TAtaPassThroughEngine::SendWriteSame16Unmap(const std::string& Path, uint64_t Lba, uint32_t Count,
                                                 uint32_t TimeoutMs, uint32_t& WinErr, uint8_t& SenseKey,
                                                 uint8_t& Asc, uint8_t& Ascq, bool Probe) {
  // Refused before anything is opened.
  const TDeviceResult Res = Count == 0 ? RefusedResult(kZeroBlocks) : OnPath(Path, [&](const TDeviceRef& D) {
    return SendWriteSame16Unmap(D, Lba, Count, TimeoutMs, Probe);
  });
  SplitResult(Res, WinErr, SenseKey, Asc, Ascq);
  return Res.Ok;
}

TDeviceResult TAtaPassThroughEngine::SendWriteSame16Unmap(const TDeviceRef& Device, uint64_t Lba, uint32_t Count,
                                                          uint32_t TimeoutMs, bool Probe) {
  if (Count == 0) return RefusedResult(kZeroBlocks);
  const std::array<uint8_t, 512> ZeroBlock{};
  std::array<uint8_t, 16> Cdb{};
  BuildWriteSame16UnmapCdb(Cdb, Lba, Count);
  const TDeviceResult Res = RunScsi(
      Device.Handle, TScsiRequest::DataOut(Cdb, ZeroBlock, TimeoutSeconds(TimeoutMs, 1)), TStatusRule::srFail1117);
  if (!Res.Ok || Probe)
    LogCall("DeviceIoControl(WRITE SAME(16)+UNMAP)",
            Format("path=%s, lba=%u, count=%u, timeout_ms=%d, scsi_status=%d", Device.Path, Lba, Count, TimeoutMs,
                   Res.ScsiStatus),
            Res.Ok, Res.WinErr, Res.ElapsedMs, Probe);
  return Res;
}

void TAtaPassThroughEngine::BuildBlockLimitsInquiryCdb(std::span<uint8_t, 6> Cdb) {
  TByteWriter W(Cdb);
  W.Zero();
  W.U8(0, 0x12);                                        // OPERATION CODE: INQUIRY
  W.U8(1, 0x01);                                        // EVPD
  W.U8(2, kBlockLimitsPage);                            // PAGE CODE: Block Limits
  W.BE16(3, static_cast<uint16_t>(kBlockLimitsBytes));  // ALLOCATION LENGTH
  // 5 CONTROL: 0
}

bool TAtaPassThroughEngine::QueryBlockLimitsVpd(const std::string& Path, uint32_t& MaxUnmapLbaCount,
                                                uint32_t& MaxUnmapDescriptorCount) {
  MaxUnmapLbaCount = MaxUnmapDescriptorCount = 0;
  return OnPath(Path,
                [&](const TDeviceRef& D) {
                  return QueryBlockLimitsVpd(D, MaxUnmapLbaCount, MaxUnmapDescriptorCount);
                })
      .Ok;
}

TDeviceResult TAtaPassThroughEngine::QueryBlockLimitsVpd(const TDeviceRef& Device, uint32_t& MaxUnmapLbaCount,
                                                         uint32_t& MaxUnmapDescriptorCount) {
  MaxUnmapLbaCount = MaxUnmapDescriptorCount = 0;
  std::array<uint8_t, 6> Cdb{};
  BuildBlockLimitsInquiryCdb(Cdb);
  std::array<uint8_t, kBlockLimitsBytes> Page{};
  TDeviceResult Res = RunScsi(Device.Handle, TScsiRequest::DataIn(Cdb, Page, 5), TStatusRule::srFailNoCode);
  TByteReader R(Page);
  if (Res.Ok && R.U8(1) != kBlockLimitsPage) {
    // Another page came back: its bytes 20 to 27 mean something else.
    Res.Ok = false;
    Res.Fault = TDeviceFault::dfDeviceStatus;
    Res.Message = "the device answered with another page";
  }
  if (Res.Ok) {
    MaxUnmapLbaCount = R.BE32(20);         // MAXIMUM UNMAP LBA COUNT
    MaxUnmapDescriptorCount = R.BE32(24);  // MAXIMUM UNMAP BLOCK DESCRIPTOR COUNT
  }
  LogCall("DeviceIoControl(INQUIRY VPD Block Limits)",
          Format("path=%s, page=0xB0, max_unmap_lba=%u, max_unmap_desc=%u, scsi_status=%d", Device.Path,
                 MaxUnmapLbaCount, MaxUnmapDescriptorCount, Res.ScsiStatus),
          Res.Ok, Res.Fault == TDeviceFault::dfTransport ? Res.WinErr : 0, Res.ElapsedMs, false);
  return Res;
}

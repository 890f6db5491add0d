// ATA DATA SET MANAGEMENT (TRIM) through SAT ATA PASS-THROUGH: the range payload, the (16) and
// (12) command blocks, the nine-rule check and the sender.
#include <array>

#include "core/uFormat.h"
#include "device/uAtaPassThrough.h"
#include "device/uAtaRangeLimit.h"
#include "base/uByteOrder.h"
#include "platform/Platform.h"

using namespace plat;

namespace {

constexpr uint8_t kOpPt16 = ATA_PASS_THROUGH_16;
constexpr uint8_t kOpPt12 = ATA_PASS_THROUGH_12;
constexpr uint8_t kAtaDsm = ATA_CMD_DATA_SET_MANAGEMENT;
constexpr uint8_t kTrimBit = ATA_DSM_TRIM;
constexpr uint64_t kMaxEntrySectors = kMaxDsmEntrySectors;
constexpr uint64_t kLbaLimit = 1ull << 48;  // an entry carries 48 address bits
constexpr size_t kEntryBytes = 8;
constexpr size_t kBlockBytes = 512;

// Byte 2 of both blocks. T_LENGTH 2 (length in COUNT), BYT_BLOK 1 (512-byte blocks), T_DIR 0
// (to the device), T_TYPE 0, OFF_LINE 0; bit 5 CK_COND.
constexpr uint8_t kFlagsDataOutBlocks = 0x06;
constexpr uint8_t kCkCondBit = 5;
constexpr uint8_t kTDirBit = 3;

uint8_t FlagsByte(bool CkCond) {
  return TAtaPassThroughEngine::SetBitValue(kFlagsDataOutBlocks, kCkCondBit, CkCond);
}

// Entries a range needs: ceil(count / 65535).
uint64_t EntriesFor(uint64_t SectorCount) {
  return SectorCount / kMaxEntrySectors + (SectorCount % kMaxEntrySectors ? 1 : 0);
}

bool InRange(const TTrimRangeArray& Ranges, int64_t I) {
  return I >= 0 && I < static_cast<int64_t>(Ranges.size());
}

// One rule of a block check: fails when Broken holds.
struct TBlockRule {
  bool Broken;
  const char* Message;
};

// The first broken rule's message, or null.
template <size_t N>
const char* FirstBroken(const std::array<TBlockRule, N>& Rules) {
  for (const auto& R : Rules)
    if (R.Broken) return R.Message;
  return nullptr;
}

uint8_t ProtocolOf(uint8_t Byte1) { return (Byte1 >> 1) & 0x0F; }
bool DsmProtocol(uint8_t P) { return P == ATA_PROTOCOL_DMA || P == ATA_PROTOCOL_PIO_DATA_OUT; }

// What keeps a block from being sent with this payload: the nine rules for a (16) block plus
// the count the device will really read (without EXTEND only COUNT (7:0)); the same rules, at
// their own offsets, for a (12) block. Empty when it may go.
std::string RefuseDsmBlock(std::span<const uint8_t> Cdb, size_t PayloadBytes) {
  if (PayloadBytes > UINT32_MAX) return "Payload bytes and sector count mismatch";
  if (!Cdb.empty() && Cdb[0] == kOpPt12) {
    if (Cdb.size() < 12) return "CDB length is less than 12";
    const uint64_t Count = Cdb[4];
    const std::array<TBlockRule, 7> Rules{{
        {!DsmProtocol(ProtocolOf(Cdb[1])), "Protocol must be DMA(0x06) or PIO-Data-Out(0x05)"},
        {TAtaPassThroughEngine::TestBitValue(Cdb[2], kTDirBit), "T_DIR must be Data-Out(0)"},
        {(Cdb[2] & 3) != 2, "T_LENGTH must be sector-count mode"},
        {Count == 0, "Transfer length(sector count) must be > 0"},
        {Cdb[9] != kAtaDsm, "ATA command must be DSM(0x06)"},
        {Cdb[3] != kTrimBit, "Features(TRIM bit) must be set"},
        {Count * kBlockBytes != PayloadBytes, "Payload bytes and sector count mismatch"},
    }};
    const char* Broken = FirstBroken(Rules);
    return Broken ? Broken : "";
  }
  TAtaCdbValidationResult Res;
  if (!TAtaPassThroughEngine::ValidatePt16DsmCdb(Cdb, static_cast<uint32_t>(PayloadBytes), Res))
    return Res.Message;
  if (!TAtaPassThroughEngine::TestBitValue(Cdb[1], 0) && Cdb[5] != 0) return "COUNT(15:8) set without EXTEND";
  return "";
}

}  // namespace

bool TAtaPassThroughEngine::BuildDsmPayload(TByteArray& Payload, const TTrimRangeArray& Ranges, int32_t First,
                                            int32_t Count) {
  Payload.clear();
  uint64_t Entries = 0;
  for (int64_t I = First; I < int64_t{First} + Count; ++I) {
    if (!InRange(Ranges, I)) continue;
    const TTrimRange& R = Ranges[static_cast<size_t>(I)];
    if (R.StartLba > kLbaLimit || R.SectorCount > kLbaLimit - R.StartLba) return false;
    Entries += EntriesFor(R.SectorCount);
  }
  const uint64_t Size = (Entries * kEntryBytes + kBlockBytes - 1) / kBlockBytes * kBlockBytes;
  Payload.assign(static_cast<size_t>(Size), 0);
  TByteWriter W(Payload);
  size_t Slot = 0;
  for (int64_t I = First; I < int64_t{First} + Count; ++I) {
    if (!InRange(Ranges, I)) continue;
    const TTrimRange& R = Ranges[static_cast<size_t>(I)];
    uint64_t Lba = R.StartLba;
    uint64_t Rest = R.SectorCount;
    while (Rest > 0) {
      const uint64_t Chunk = Rest < kMaxEntrySectors ? Rest : kMaxEntrySectors;
      // Entry: bits 0-47 starting LBA, bits 48-63 sector count.
      W.LE64(Slot * kEntryBytes, (Chunk << 48) | Lba);
      ++Slot;
      Lba += Chunk;
      Rest -= Chunk;
    }
  }
  if (!W.Ok()) {
    Payload.clear();
    return false;
  }
  return true;
}

bool TAtaPassThroughEngine::BuildPt16DsmCdb(uint16_t SectorCount, std::span<uint8_t> Cdb, uint8_t Protocol,
                                            bool Extend, bool CkCond) {
  TByteWriter W(Cdb);
  W.Zero();
  if (Cdb.size() < 16) return false;
  // Without EXTEND the block has 8 count bits; a larger count would be taken modulo 256.
  if (!Extend && SectorCount > 255) return false;
  W.U8(0, kOpPt16);                                                      // OPERATION CODE: 85h
  W.U8(1, SetBitValue(static_cast<uint8_t>(Protocol << 1), 0, Extend));  // PROTOCOL, EXTEND
  W.U8(2, FlagsByte(CkCond));                                            // flags: 06h / 26h
  W.U8(3, 0x00);                                                         // FEATURES (15:8)
  W.U8(4, kTrimBit);                                                     // FEATURES (7:0): TRIM
  W.U8(5, Extend ? static_cast<uint8_t>(SectorCount >> 8) : 0);          // COUNT (15:8)
  W.U8(6, static_cast<uint8_t>(SectorCount & 0xFF));                     // COUNT (7:0)
  // 7-12 LBA: 0; 13 DEVICE: 0
  W.U8(14, kAtaDsm);  // COMMAND: DSM
  W.U8(15, 0x00);     // CONTROL
  return W.Ok();
}

bool TAtaPassThroughEngine::BuildPt12DsmCdb(uint8_t SectorCount, std::span<uint8_t> Cdb, uint8_t Protocol,
                                            bool CkCond) {
  TByteWriter W(Cdb);
  W.Zero();
  if (Cdb.size() < 12 || SectorCount == 0) return false;
  W.U8(0, kOpPt12);                                       // OPERATION CODE: A1h
  W.U8(1, static_cast<uint8_t>((Protocol & 0x0F) << 1));  // PROTOCOL; bit 0 reserved
  W.U8(2, FlagsByte(CkCond));                             // flags: 06h / 26h
  W.U8(3, kTrimBit);                                      // FEATURES: TRIM
  W.U8(4, SectorCount);                                   // COUNT
  // 5-7 LBA: 0; 8 DEVICE: 0
  W.U8(9, kAtaDsm);  // COMMAND: DSM
  // 10 reserved; 11 CONTROL
  return W.Ok();
}

bool TAtaPassThroughEngine::ValidatePt16DsmCdb(std::span<const uint8_t> Cdb, uint32_t PayloadBytes,
                                               TAtaCdbValidationResult& Res) {
  Res = TAtaCdbValidationResult{};
  if (Cdb.size() < 16) {
    Res.Message = "CDB length is less than 16";
    return false;
  }
  const uint64_t Count = uint64_t{Cdb[5]} * 256 + Cdb[6];
  const std::array<TBlockRule, 8> Rules{{
      {Cdb[0] != kOpPt16, "Opcode must be 0x85"},
      {!DsmProtocol(ProtocolOf(Cdb[1])), "Protocol must be DMA(0x06) or PIO-Data-Out(0x05)"},
      {TestBitValue(Cdb[2], kTDirBit), "T_DIR must be Data-Out(0)"},
      {(Cdb[2] & 3) != 2, "T_LENGTH must be sector-count mode"},
      {Count == 0, "Transfer length(sector count) must be > 0"},
      {Cdb[14] != kAtaDsm, "ATA command must be DSM(0x06)"},
      {Cdb[4] != kTrimBit, "Features(TRIM bit) must be set"},
      {Count * kBlockBytes != PayloadBytes, "Payload bytes and sector count mismatch"},
  }};
  if (const char* Broken = FirstBroken(Rules)) {
    Res.Message = Broken;
    return false;
  }
  Res.Ok = true;
  Res.Message = "ok";
  return true;
}

bool TAtaPassThroughEngine::SendAtaPassThroughDsm(const std::string& Path, std::span<const uint8_t> Cdb,
                                                  std::span<const uint8_t> Payload, uint32_t TimeoutMs,
                                                  uint32_t& WinErr, uint8_t& SenseKey, uint8_t& Asc, uint8_t& Ascq,
                                                  uint8_t& ScsiStatus) {
  // A block that does not carry exactly this payload is refused before anything is opened.
  const std::string Why = Payload.empty() ? "empty DSM payload" : RefuseDsmBlock(Cdb, Payload.size());
  const TDeviceResult Res = !Why.empty() ? RefusedResult(Why) : OnPath(Path, [&](const TDeviceRef& D) {
    return SendAtaPassThroughDsm(D, Cdb, Payload, TimeoutMs);
  });
  SplitResult(Res, WinErr, SenseKey, Asc, Ascq);
  ScsiStatus = Res.ScsiStatus;
  return Res.Ok;
}

TDeviceResult TAtaPassThroughEngine::SendAtaPassThroughDsm(const TDeviceRef& Device, std::span<const uint8_t> Cdb,
                                                           std::span<const uint8_t> Payload, uint32_t TimeoutMs) {
  const std::string Why = Payload.empty() ? "empty DSM payload" : RefuseDsmBlock(Cdb, Payload.size());
  if (!Why.empty()) return RefusedResult(Why);
  const TScsiRequest Req =
      TScsiRequest::DataOut(Cdb.first(Cdb[0] == kOpPt12 ? 12 : 16), Payload, TimeoutSeconds(TimeoutMs, 1));
  const TDeviceResult Res = RunScsi(Device.Handle, Req, TStatusRule::srCkCondOr1117);
  if (!Res.Ok)
    LogCall("DeviceIoControl(ATA PASS-THROUGH DSM)",
            Format("path=%s, payload=%d, timeout_ms=%d, scsi_status=%d", Device.Path,
                   static_cast<int32_t>(Payload.size()), TimeoutMs, Res.ScsiStatus),
            false, Res.WinErr, Res.ElapsedMs, false);
  return Res;
}

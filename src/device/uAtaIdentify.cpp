// The ATA identity probe: IDENTIFY DEVICE inside ATA PASS-THROUGH(16).
#include <algorithm>
#include <array>

#include "device/uAtaPassThrough.h"
#include "base/uByteOrder.h"

using namespace plat;

namespace {

constexpr size_t kIdentifyBytes = 512;
// Byte offsets of the IDENTIFY words read (word n at byte 2n).
constexpr int32_t kSerialOffset = 20;    // words 10-19, 20 characters
constexpr int32_t kFirmwareOffset = 46;  // words 23-26, 8 characters
constexpr int32_t kModelOffset = 54;     // words 27-46, 40 characters
constexpr size_t kWord169 = 338;         // DATA SET MANAGEMENT support, bit 0 TRIM
constexpr size_t kWord217 = 434;         // nominal media rotation rate; 1 = non-rotating

}  // namespace

void TAtaPassThroughEngine::BuildIdentifyCdb(std::span<uint8_t, 16> Cdb) {
  TByteWriter W(Cdb);
  W.Zero();
  W.U8(0, ATA_PASS_THROUGH_16);            // OPERATION CODE
  W.U8(1, ATA_PROTOCOL_PIO_DATA_IN << 1);  // PROTOCOL, EXTEND 0
  W.U8(2, 0x0E);                           // T_LENGTH 2, BYT_BLOK 1, T_DIR 1 (from the device), CK_COND 0
  // 3-5 FEATURES, COUNT (15:8): 0
  W.U8(6, 0x01);  // COUNT (7:0): one block
  // 7-13 LBA, DEVICE: 0
  W.U8(14, ATA_CMD_IDENTIFY_DEVICE);  // COMMAND
  // 15 CONTROL: 0
}

std::string TAtaPassThroughEngine::AtaIdentifyString(std::span<const uint8_t> Buf, int32_t HighIndex,
                                                     int32_t ByteOffset, int32_t CharCount) {
  if (CharCount <= 0) return {};
  std::string S(static_cast<size_t>(CharCount), ' ');
  const int64_t High = std::min<int64_t>(HighIndex, static_cast<int64_t>(Buf.size()) - 1);
  for (int64_t I = 0; I < int64_t{CharCount} - 1; I += 2) {
    const int64_t P = int64_t{ByteOffset} + I;
    if (P < 0 || P + 1 > High) continue;
    // Two characters per word, the first in the word's high (second) byte.
    S[static_cast<size_t>(I)] = static_cast<char>(Buf[static_cast<size_t>(P + 1)]);
    S[static_cast<size_t>(I + 1)] = static_cast<char>(Buf[static_cast<size_t>(P)]);
  }
  for (char& C : S) {
    const auto U = static_cast<unsigned char>(C);
    if (U < 32 || U > 126) C = ' ';
  }
  const size_t B = S.find_first_not_of(' ');
  if (B == std::string::npos) return {};
  const size_t E = S.find_last_not_of(' ');
  return S.substr(B, E - B + 1);
}

bool TAtaPassThroughEngine::ProbeIdentify(const std::string& Path, uint32_t TimeoutMs, TAtaProbeResult& Probe) {
  const TDeviceResult Res = OnPath(Path, [&](const TDeviceRef& D) { return ProbeIdentify(D, TimeoutMs, Probe); });
  if (Res.Fault == TDeviceFault::dfOpenFailed) {
    Probe = TAtaProbeResult{};
    Probe.Probed = true;
    Probe.WinErr = Res.WinErr;
  }
  return Res.Ok;
}

TDeviceResult TAtaPassThroughEngine::ProbeIdentify(const TDeviceRef& Device, uint32_t TimeoutMs,
                                                   TAtaProbeResult& Probe) {
  Probe = TAtaProbeResult{};
  Probe.Probed = true;

  std::array<uint8_t, 16> Cdb{};
  BuildIdentifyCdb(Cdb);
  std::array<uint8_t, kIdentifyBytes> Data{};
  TDeviceResult Res = RunScsi(Device.Handle, TScsiRequest::DataIn(Cdb, Data, TimeoutSeconds(TimeoutMs, 5)),
                              TStatusRule::srFailNoCode);
  Probe.SenseKey = Res.SenseKey;
  Probe.Asc = Res.Asc;
  Probe.Ascq = Res.Ascq;
  // The line tells only whether Windows delivered the request; a refusing device still reads ret True.
  const bool WinOk = Res.Fault != TDeviceFault::dfTransport;
  LogCall("ATA IDENTIFY DEVICE probe", "path=" + Device.Path, WinOk, WinOk ? 0 : Res.WinErr, Res.ElapsedMs, false);
  if (!WinOk) {
    Probe.WinErr = Res.WinErr;
    return Res;
  }
  if (!Res.Ok) return Res;  // a nonzero SCSI status: WinErr stays 0

  Probe.IdentifyOk = true;
  const int32_t High = static_cast<int32_t>(kIdentifyBytes - 1);
  Probe.Model = AtaIdentifyString(Data, High, kModelOffset, 40);
  Probe.Serial = AtaIdentifyString(Data, High, kSerialOffset, 20);
  Probe.Firmware = AtaIdentifyString(Data, High, kFirmwareOffset, 8);
  TByteReader R(Data);
  Probe.TrimSupported = TestBitValue(static_cast<uint8_t>(R.LE16(kWord169)), 0);
  Probe.RotationRate = R.LE16(kWord217);
  Probe.NonRotating = Probe.RotationRate == 1;
  return Res;
}

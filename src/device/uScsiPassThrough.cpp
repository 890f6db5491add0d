#include "device/uScsiPassThrough.h"

#include <array>
#include <cstring>

#include "base/uByteOrder.h"
#include "platform/Platform.h"

using namespace plat;

namespace {

std::string Hex2(uint8_t V) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string{kDigits[V >> 4], kDigits[V & 15]};
}

std::string SenseText(const TScsiReply& R) {
  return "SCSI status " + Hex2(R.ScsiStatus) + "h, sense " + Hex2(R.Sense.SenseKey) + "/" + Hex2(R.Sense.Asc) +
         "/" + Hex2(R.Sense.Ascq);
}

}  // namespace

TSenseInfo ParseSense(std::span<const uint8_t> Sense) {
  TByteReader R(Sense);
  TSenseInfo S;
  S.ResponseCode = R.U8(0) & 0x7F;
  if (S.ResponseCode == 0x72 || S.ResponseCode == 0x73) {
    // Descriptor format: key in byte 1, ASC byte 2, ASCQ byte 3.
    S.SenseKey = R.U8(1) & 0x0F;
    S.Asc = R.U8(2);
    S.Ascq = R.U8(3);
  } else {
    // Fixed format (and anything unknown, the zero area included): key byte 2, ASC 12, ASCQ 13.
    S.SenseKey = R.U8(2) & 0x0F;
    S.Asc = R.U8(12);
    S.Ascq = R.U8(13);
  }
  return S;
}

bool BuildPassThroughBuffer(std::span<uint8_t> Buf, const TScsiRequest& Req) {
  TByteWriter W(Buf);
  W.Zero();
  const size_t CdbLen = Req.Cdb.size();
  const bool LenOk = CdbLen == 6 || CdbLen == 10 || CdbLen == 12 || CdbLen == 16;
  const bool DataOk = (Req.Data != nullptr) == (Req.DataLength != 0);
  if (Buf.size() != sptd::kBufferSize || !LenOk || !DataOk) return false;

  W.LE16(sptd::kLength, static_cast<uint16_t>(sptd::kHeaderSize));
  W.U8(sptd::kCdbLength, static_cast<uint8_t>(CdbLen));
  W.U8(sptd::kSenseInfoLength, static_cast<uint8_t>(sptd::kSenseSize));
  W.U8(sptd::kDataIn, static_cast<uint8_t>(Req.Direction));
  W.LE32(sptd::kDataTransferLength, Req.DataLength);
  W.LE32(sptd::kTimeOutValue, Req.TimeoutSec);
  W.LE64(sptd::kDataBuffer, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(Req.Data)));
  W.LE32(sptd::kSenseInfoOffset, static_cast<uint32_t>(sptd::kSense));
  W.Bytes(sptd::kCdb, Req.Cdb);
  return W.Ok();
}

TScsiReply ExecuteScsiPassThrough(HANDLE Device, const TScsiRequest& Req) {
  TScsiReply Reply;
  alignas(8) std::array<uint8_t, sptd::kBufferSize> Buf{};
  if (!BuildPassThroughBuffer(Buf, Req)) {
    Reply.WinErr = ERROR_INVALID_PARAMETER;
    return Reply;
  }
  const ULONGLONG Start = Win().GetTickCount64();
  DWORD Returned = 0;
  Reply.WinOk =
      Win().DeviceIoControl(Device, IOCTL_SCSI_PASS_THROUGH_DIRECT, Buf.data(), static_cast<DWORD>(Buf.size()),
                            Buf.data(), static_cast<DWORD>(Buf.size()), &Returned) != 0;
  Reply.WinErr = Reply.WinOk ? 0 : Win().GetLastError();
  Reply.ElapsedMs = Win().GetTickCount64() - Start;
  TByteReader R(Buf);
  Reply.ScsiStatus = R.U8(sptd::kScsiStatus);
  Reply.Sense = ParseSense(std::span<const uint8_t>(Buf).subspan(sptd::kSense, sptd::kSenseSize));
  return Reply;
}

TDeviceResult JudgeScsiReply(const TScsiReply& Reply, TStatusRule Rule) {
  TDeviceResult Res;
  Res.WinErr = Reply.WinErr;
  Res.ScsiStatus = Reply.ScsiStatus;
  Res.SenseKey = Reply.Sense.SenseKey;
  Res.Asc = Reply.Sense.Asc;
  Res.Ascq = Reply.Sense.Ascq;
  Res.ElapsedMs = Reply.ElapsedMs;
  if (!Reply.WinOk) {
    Res.Fault = TDeviceFault::dfTransport;
    Res.Message = "DeviceIoControl failed with error " + std::to_string(Reply.WinErr);
    return Res;
  }
  if (Reply.ScsiStatus == SCSISTAT_GOOD) {
    Res.Ok = true;
    return Res;
  }
  // A CK_COND reply: the bridge reports the ATA registers as CHECK CONDITION with NO SENSE or
  // RECOVERED ERROR. Anything else that is not GOOD (BUSY, RESERVATION CONFLICT, TASK SET FULL,
  // CHECK CONDITION without sense data) is not done.
  if (Rule == TStatusRule::srCkCondOr1117 && Reply.ScsiStatus == SCSISTAT_CHECK_CONDITION && Reply.Sense.Valid() &&
      Reply.Sense.SenseKey <= 1) {
    Res.Ok = true;
    return Res;
  }
  Res.Fault = TDeviceFault::dfDeviceStatus;
  Res.WinErr = Rule == TStatusRule::srFailNoCode ? 0u : uint32_t{ERROR_IO_DEVICE};
  Res.Message = "device refused the command: " + SenseText(Reply);
  return Res;
}

TDeviceResult RefusedResult(const std::string& Why) {
  TDeviceResult Res;
  Res.Fault = TDeviceFault::dfRefused;
  Res.WinErr = ERROR_INVALID_PARAMETER;
  Res.Message = Why;
  return Res;
}

TDeviceResult OpenFailedResult(uint32_t WinErr) {
  TDeviceResult Res;
  Res.Fault = TDeviceFault::dfOpenFailed;
  Res.WinErr = WinErr;
  Res.Message = "device open failed with error " + std::to_string(WinErr);
  return Res;
}

bool DeviceLeftBus(uint32_t WinErr) {
  return WinErr == ERROR_DEV_NOT_EXIST || WinErr == ERROR_DEVICE_NOT_CONNECTED;
}

void SplitResult(const TDeviceResult& Res, uint32_t& WinErr, uint8_t& SenseKey, uint8_t& Asc, uint8_t& Ascq) {
  WinErr = Res.WinErr;
  SenseKey = Res.SenseKey;
  Asc = Res.Asc;
  Ascq = Res.Ascq;
}

TSenseClass ClassifySense(uint8_t SenseKey, uint8_t Asc) {
  if (SenseKey != SCSI_SENSE_ILLEGAL_REQUEST) return TSenseClass::scOther;
  switch (Asc) {
    case 0x20: return TSenseClass::scInvalidOpcode;
    case 0x24: return TSenseClass::scInvalidFieldInCdb;
    case 0x26: return TSenseClass::scInvalidFieldInParameterList;
    default: return TSenseClass::scOther;
  }
}

TScsiRequest TScsiRequest::DataOut(std::span<const uint8_t> Cdb, std::span<const uint8_t> Data,
                                   uint32_t TimeoutSec) {
  TScsiRequest Req;
  Req.Cdb = Cdb;
  Req.Direction = TScsiDirection::sdDataOut;
  Req.Data = const_cast<uint8_t*>(Data.data());  // data out: read by the device only
  Req.DataLength = static_cast<uint32_t>(Data.size());
  Req.TimeoutSec = TimeoutSec;
  return Req;
}

TScsiRequest TScsiRequest::DataIn(std::span<const uint8_t> Cdb, std::span<uint8_t> Data, uint32_t TimeoutSec) {
  TScsiRequest Req;
  Req.Cdb = Cdb;
  Req.Direction = TScsiDirection::sdDataIn;
  Req.Data = Data.data();
  Req.DataLength = static_cast<uint32_t>(Data.size());
  Req.TimeoutSec = TimeoutSec;
  return Req;
}

uint32_t TimeoutSeconds(uint32_t TimeoutMs, uint32_t Floor) {
  const uint32_t Sec = TimeoutMs / 1000;
  return Sec == 0 ? Floor : Sec;
}

// The SCSI pass-through request: one 96-byte buffer, sent with IOCTL_SCSI_PASS_THROUGH_DIRECT,
// that every SCSI-level command of the device layer goes through; the one sense parser; and the
// one place that decides from Windows' answer, the SCSI status and the sense whether a command
// is done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/WinStorage.h"

// SCSI status bytes the device layer tells apart.
enum : uint8_t {
  SCSISTAT_GOOD = 0x00,
  SCSISTAT_CHECK_CONDITION = 0x02,
};

// DataIn of the request: which way the data buffer moves.
enum class TScsiDirection : uint8_t { sdDataOut = 0, sdDataIn = 1 };

// The request buffer's byte map lives with the other Windows records.
namespace sptd = plat::sptd;
static_assert(sizeof(void*) == 8, "the request buffer is laid out for 64-bit Windows");

// Sense key, ASC and ASCQ as read from fixed (70h/71h) or descriptor (72h/73h) sense data.
struct TSenseInfo {
  uint8_t ResponseCode = 0;  // byte 0 without the VALID bit
  uint8_t SenseKey = 0;
  uint8_t Asc = 0;
  uint8_t Ascq = 0;
  // The device returned sense data of a format SPC defines.
  bool Valid() const { return ResponseCode >= 0x70 && ResponseCode <= 0x73; }
};

// An untouched (all-zero) area reads as key, ASC and ASCQ 0.
TSenseInfo ParseSense(std::span<const uint8_t> Sense);

struct TScsiRequest {
  std::span<const uint8_t> Cdb;  // exactly the bytes to send: 6, 10, 12 or 16
  TScsiDirection Direction = TScsiDirection::sdDataIn;
  // Moved in place, not copied. For data out the device only reads it.
  uint8_t* Data = nullptr;
  uint32_t DataLength = 0;
  uint32_t TimeoutSec = 0;

  // The request of a command block whose data go to the device (read by it only) or come from it.
  static TScsiRequest DataOut(std::span<const uint8_t> Cdb, std::span<const uint8_t> Data, uint32_t TimeoutSec);
  static TScsiRequest DataIn(std::span<const uint8_t> Cdb, std::span<uint8_t> Data, uint32_t TimeoutSec);
};

// What came back from one request, before any command's rule is applied.
struct TScsiReply {
  bool WinOk = false;   // DeviceIoControl returned nonzero
  uint32_t WinErr = 0;  // GetLastError after a failed call, else 0
  uint8_t ScsiStatus = 0;
  TSenseInfo Sense;
  uint64_t ElapsedMs = 0;
};

// Zeroes Buf and fills it for Req; false (Buf all zero) when the block's length is not one of
// 6, 10, 12, 16 or the data span is inconsistent.
bool BuildPassThroughBuffer(std::span<uint8_t> Buf, const TScsiRequest& Req);

// Sends one request on an open device handle; blocks until Windows answers.
TScsiReply ExecuteScsiPassThrough(plat::HANDLE Device, const TScsiRequest& Req);

// How a command takes a nonzero SCSI status after Windows reported success.
enum class TStatusRule {
  srFail1117,      // any nonzero status fails with WinErr 1117
  srCkCondOr1117,  // CHECK CONDITION with valid sense of key 0 or 1 is done; else 1117
  srFailNoCode,    // any nonzero status fails; WinErr stays 0
};

// Why a device call did not succeed. The first three never reached the device's answer; a
// transport failure with 55 or 1167 means the disk has left the bus (DeviceLeftBus).
enum class TDeviceFault {
  dfNone,
  dfRefused,       // the request was refused before anything was opened (WinErr 87)
  dfOpenFailed,    // the device did not open
  dfTransport,     // Windows failed the request
  dfDeviceStatus,  // Windows delivered it, the device answered with a failing SCSI status
};

// The one result shape of the device commands.
struct TDeviceResult {
  bool Ok = false;
  TDeviceFault Fault = TDeviceFault::dfNone;
  uint32_t WinErr = 0;
  uint8_t ScsiStatus = 0;
  uint8_t SenseKey = 0;
  uint8_t Asc = 0;
  uint8_t Ascq = 0;
  uint64_t ElapsedMs = 0;
  std::string Message;  // empty on success
};

TDeviceResult JudgeScsiReply(const TScsiReply& Reply, TStatusRule Rule);
// A request that cannot be built as asked is refused before anything is opened or sent: 87.
TDeviceResult RefusedResult(const std::string& Why);
TDeviceResult OpenFailedResult(uint32_t WinErr);
// Windows' errors for a disk that has left the bus: 55 (the device is no longer available) and
// 1167 (the device is not connected). The one place that decides it.
bool DeviceLeftBus(uint32_t WinErr);
// The four values the out-parameter forms of the commands hand back.
void SplitResult(const TDeviceResult& Res, uint32_t& WinErr, uint8_t& SenseKey, uint8_t& Asc, uint8_t& Ascq);

// The sense answers the run reacts to, all with sense key ILLEGAL REQUEST.
enum : uint8_t { SCSI_SENSE_ILLEGAL_REQUEST = 0x05 };
enum class TSenseClass {
  scOther,
  scInvalidOpcode,                // ASC 20h INVALID COMMAND OPERATION CODE: the bridge lacks the command
  scInvalidFieldInCdb,            // ASC 24h INVALID FIELD IN CDB: it refuses this form of the block
  scInvalidFieldInParameterList,  // ASC 26h INVALID FIELD IN PARAMETER LIST: the UNMAP list is too big for it
};
TSenseClass ClassifySense(uint8_t SenseKey, uint8_t Asc);
inline TSenseClass ClassifySense(const TDeviceResult& Res) { return ClassifySense(Res.SenseKey, Res.Asc); }

// TimeoutMs in whole seconds, at least Floor when that rounds down to 0.
uint32_t TimeoutSeconds(uint32_t TimeoutMs, uint32_t Floor);

// The commands that reach a disk behind a USB bridge: ATA DATA SET MANAGEMENT (TRIM) in ATA
// PASS-THROUGH(16)/(12), the ATA identity probe, SCSI UNMAP, WRITE SAME(16) with UNMAP, the
// Block Limits inquiry, and the storage TRIM request on a volume.
//
// The engine holds nothing but the log (not owned; null writes no line). Every command opens
// its own handle, sends one request and closes it, so engines may be used on several threads at
// once. Builders and checks touch only their arguments.
//
// Implementation by command family: uAtaDsm.cpp (payload, blocks, check, sender), uAtaIdentify.cpp,
// uScsiCommands.cpp, uStorageTrim.cpp; the request core and sense parser in uScsiPassThrough.*.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/uTypes.h"
#include "device/uDevicePath.h"
#include "device/uAtaRegisters.h"
#include "device/uDeviceHandle.h"
#include "device/uScsiPassThrough.h"

class TLogger;

using TByteArray = std::vector<uint8_t>;

struct TAtaCdbValidationResult {
  bool Ok = false;
  std::string Message;  // "ok" or the first failing rule's text
};


class TAtaPassThroughEngine {
 public:
  explicit TAtaPassThroughEngine(TLogger* ALogger) : FLogger(ALogger) {}

  // ---- ATA DATA SET MANAGEMENT ---------------------------------------------------------------
  // The range list for Ranges[First .. First + Count - 1] (indexes outside the array skipped),
  // in 8-byte entries of at most 65535 sectors, padded with zeros to a multiple of 512 bytes.
  // Refuses (false, Payload empty) a range that ends beyond 2^48 sectors: its address cannot be
  // carried and a truncated one would trim other blocks.
  static bool BuildDsmPayload(TByteArray& Payload, const TTrimRangeArray& Ranges, int32_t First, int32_t Count);
  // Zeroes Cdb; false when it holds fewer than 16 bytes, or without Extend for a count above 255.
  static bool BuildPt16DsmCdb(uint16_t SectorCount, std::span<uint8_t> Cdb, uint8_t Protocol, bool Extend,
                              bool CkCond);
  // Zeroes Cdb; false when it holds fewer than 12 bytes or SectorCount is 0.
  static bool BuildPt12DsmCdb(uint8_t SectorCount, std::span<uint8_t> Cdb, uint8_t Protocol, bool CkCond);
  // The nine rules of a (16) block against the payload it would carry.
  static bool ValidatePt16DsmCdb(std::span<const uint8_t> Cdb, uint32_t PayloadBytes,
                                 TAtaCdbValidationResult& Res);
  // Sends a (16) block, or a (12) block in the first 12 bytes of Cdb when Cdb[0] is A1h. A block
  // that does not carry exactly this payload as DSM TRIM is refused with 87 before any open.
  bool SendAtaPassThroughDsm(const std::string& Path, std::span<const uint8_t> Cdb,
                             std::span<const uint8_t> Payload, uint32_t TimeoutMs, uint32_t& WinErr,
                             uint8_t& SenseKey, uint8_t& Asc, uint8_t& Ascq, uint8_t& ScsiStatus);

  static uint8_t SetBitValue(uint8_t Value, uint8_t Bit, bool State);
  static bool TestBitValue(uint8_t Value, uint8_t Bit);

  // ---- ATA IDENTIFY DEVICE -------------------------------------------------------------------
  bool ProbeIdentify(const std::string& Path, uint32_t TimeoutMs, TAtaProbeResult& Probe);
  // On an open handle; Probe as above, the request's result returned.
  TDeviceResult ProbeIdentify(const TDeviceRef& Device, uint32_t TimeoutMs, TAtaProbeResult& Probe);
  // CharCount characters of an ATA text field from ByteOffset (two per word, high byte first),
  // non-printables as spaces, trimmed.
  static std::string AtaIdentifyString(std::span<const uint8_t> Buf, int32_t HighIndex, int32_t ByteOffset,
                                       int32_t CharCount);
  static void BuildIdentifyCdb(std::span<uint8_t, 16> Cdb);

  // ---- SCSI ----------------------------------------------------------------------------------
  // Header and one 16-byte descriptor per index (at most 4095; an index outside Ranges leaves
  // an all-zero descriptor).
  static void BuildUnmapParameterList(TByteArray& List, const TTrimRangeArray& Ranges, int32_t First,
                                      int32_t Count);
  static void BuildUnmapCdb(std::span<uint8_t, 10> Cdb, uint16_t ParameterListLength);
  // A list whose header does not match its length is refused with 87, as is an empty one.
  bool SendScsiUnmap(const std::string& Path, std::span<const uint8_t> List, uint32_t TimeoutMs, uint32_t& WinErr,
                     uint8_t& SenseKey, uint8_t& Asc, uint8_t& Ascq, bool MultiDescriptor);
  static void BuildWriteSame16UnmapCdb(std::span<uint8_t, 16> Cdb, uint64_t Lba, uint32_t Count);
  bool SendWriteSame16Unmap(const std::string& Path, uint64_t Lba, uint32_t Count, uint32_t TimeoutMs,
                            uint32_t& WinErr, uint8_t& SenseKey, uint8_t& Asc, uint8_t& Ascq, bool Probe);
  static void BuildBlockLimitsInquiryCdb(std::span<uint8_t, 6> Cdb);
  bool QueryBlockLimitsVpd(const std::string& Path, uint32_t& MaxUnmapLbaCount, uint32_t& MaxUnmapDescriptorCount);

  // ---- Storage TRIM request on a volume ------------------------------------------------------
  // Sends Volume the ranges of the batch that begin inside its own extent on the disk, cut at
  // its end, as byte ranges relative to the volume's start (a range that begins before the
  // volume is dropped). Applied: the ranges sent, when the request
  // succeeded. A batch with nothing inside the volume succeeds without a request. A spanned or
  // striped volume (ExtentCount > 1) and a volume without a usable drive letter are refused (87).
  bool SendDsmTrim(const TVolumeInfo& Volume, const TTrimRangeArray& Ranges, int32_t First, int32_t Count,
                   uint32_t& WinErr, int32_t& Applied, bool Cooperative);
  // The request's input for Ranges, already relative to the volume: 32 + 16 x n bytes.
  struct TDataSetRange {
    int64_t StartingOffset = 0;
    uint64_t LengthInBytes = 0;
  };
  static TByteArray BuildDsmTrimInput(const std::vector<TDataSetRange>& Ranges, bool Cooperative);

  // ---- The same commands on a handle the caller holds open -----------------------------------
  // A run opens its disk once and proves it (uDiskIdentity.h), then sends everything through that
  // handle, so that no command can reach a disk that took the number after its own left. The
  // forms above open Path for one command and close it; they are these plus the open.
  TDeviceResult SendAtaPassThroughDsm(const TDeviceRef& Device, std::span<const uint8_t> Cdb,
                                      std::span<const uint8_t> Payload, uint32_t TimeoutMs);
  TDeviceResult SendScsiUnmap(const TDeviceRef& Device, std::span<const uint8_t> List, uint32_t TimeoutMs,
                              bool MultiDescriptor);
  TDeviceResult SendWriteSame16Unmap(const TDeviceRef& Device, uint64_t Lba, uint32_t Count, uint32_t TimeoutMs,
                                     bool Probe);
  // Ok when the page was read; the two limits are 0 otherwise.
  TDeviceResult QueryBlockLimitsVpd(const TDeviceRef& Device, uint32_t& MaxUnmapLbaCount,
                                    uint32_t& MaxUnmapDescriptorCount);
  // The storage TRIM request in two steps: which of the batch's ranges go to Volume (false, with
  // 87 and a log line, for a volume the request cannot be placed on; Sent empty: nothing to send),
  // then sending them on a handle of that volume. Count is the batch's size, for the log line.
  bool PrepareDsmTrim(const TVolumeInfo& Volume, const TTrimRangeArray& Ranges, int32_t First, int32_t Count,
                      std::vector<TDataSetRange>& Sent, uint32_t& WinErr) const;
  TDeviceResult SendDsmTrim(const TDeviceRef& Volume, const std::vector<TDataSetRange>& Sent, int32_t Count,
                            bool Cooperative);

 private:
  // The path forms: Path opened for the one request, then the handle form; a failed open is the
  // result. The handle is closed before it returns.
  static TDeviceResult OnPath(const std::string& Path,
                              const std::function<TDeviceResult(const TDeviceRef&)>& Send);
  static TDeviceResult RunScsi(plat::HANDLE Device, const TScsiRequest& Req, TStatusRule Rule);
  static bool UnmapListShaped(std::span<const uint8_t> List);
  void LogCall(const std::string& ApiName, const std::string& Params, bool Ok, uint32_t WinErr, uint64_t ElapsedMs,
               bool WarnOnFailure) const;

  TLogger* FLogger;
};

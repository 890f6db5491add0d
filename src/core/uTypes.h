// The plain records and small enumerations that carry disks, volumes, probes, ranges and run
// outcomes between the subsystems. All are values: copying one copies its texts and arrays.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/uDateTime.h"  // TDateTime

// Enumerations are 32-bit signed integers in the records, so a stored value may lie outside the
// listed ones; the text functions give such values a fallback text.
enum class TTransportKind : int32_t { tkUnknown = 0, tkBOT = 1, tkUAS = 2, tkNonUsb = 3 };
enum class TMediaKind : int32_t { mkUnknown = 0, mkSSD = 1, mkHDD = 2 };
enum class TTrimMode : int32_t { tmFullDevice = 0, tmFreeSpace = 1 };
enum class TRunMode : int32_t { rmDryRun = 0, rmExecute = 1 };
enum class TForcedTrimPath : int32_t {
  ftpAuto = 0,
  ftpScsiUnmap = 1,
  ftpAtaPassThrough = 2,
  ftpWindowsReTrim = 3
};

// One block range of a physical disk, in 512-byte sectors, absolute on the disk.
struct TTrimRange {
  uint64_t StartLba = 0;
  uint64_t SectorCount = 0;  // 0: an empty range
};
using TTrimRangeArray = std::vector<TTrimRange>;

// One extent, on the disk in question, of a volume that has a drive letter.
struct TVolumeInfo {
  std::string RootPath;     // "E:\"
  std::string DriveLetter;  // "E:"
  std::string FileSystem;   // as Windows reports it, or "RAW/Unknown"
  uint32_t ClusterBytes = 0;
  int64_t PartitionOffset = 0;  // bytes on the physical disk
  int64_t PartitionLength = 0;
  int32_t DiskNumber = 0;
  bool HasDriveLetter = false;
  bool FreeSpaceSupported = false;
  std::string SupportNote;
  // How many extents the volume has in all (on any disk); more than one means a spanned or
  // striped volume whose free-cluster map cannot be placed against one extent's start.
  int32_t ExtentCount = 1;
};
using TVolumeInfoArray = std::vector<TVolumeInfo>;

// The outcome of one ATA IDENTIFY DEVICE probe through the bridge; zeroed: no probe has run.
struct TAtaProbeResult {
  bool Probed = false;
  bool IdentifyOk = false;
  bool TrimSupported = false;
  uint16_t RotationRate = 0;
  bool NonRotating = false;
  std::string Model;
  std::string Serial;
  std::string Firmware;
  uint32_t WinErr = 0;
  uint8_t SenseKey = 0;
  uint8_t Asc = 0;
  uint8_t Ascq = 0;
};

struct TDiskInfo {
  int32_t DiskNumber = 0;
  std::string DevicePath;
  std::string Model;
  std::string Serial;
  std::string MaskedSerial;
  uint64_t SizeBytes = 0;
  std::string BusHint;
  TTransportKind Transport = TTransportKind::tkUnknown;
  TMediaKind Media = TMediaKind::mkUnknown;
  std::string MediaReason;
  TVolumeInfoArray Volumes;
  bool SystemCritical = false;
  TAtaProbeResult Ata;
};
using TDiskInfoArray = std::vector<TDiskInfo>;

struct TBatchResult {
  int32_t BatchIndex = 0;
  int32_t Entries = 0;
  int32_t PayloadSectors = 0;
  bool Success = false;
  int32_t Retries = 0;
  uint32_t WinErr = 0;
  uint8_t SenseKey = 0;
  uint8_t Asc = 0;
  uint8_t Ascq = 0;
  std::string Message;
};
using TBatchResultArray = std::vector<TBatchResult>;

struct TRunStats {
  TDiskInfo Disk;
  TTrimMode TrimMode = TTrimMode::tmFullDevice;
  TRunMode RunMode = TRunMode::rmDryRun;
  int32_t RangeCount = 0;
  uint64_t TotalSectors = 0;
  int32_t PlannedBatches = 0;
  int32_t DoneBatches = 0;
  int32_t SucceededBatches = 0;
  int32_t FailedBatches = 0;
  int32_t SkippedBatches = 0;
  TDateTime StartTime = 0;
  TDateTime EndTime = 0;
  std::string FailureReportPath;
  TBatchResultArray Failures;
  bool Cancelled = false;
  bool BridgeHang = false;
};

// What a run is started with.
struct TTrimExecOptions {
  int32_t TimeoutMs = 0;
  int32_t AtaRetries = 0;
  int32_t BatchEntries = 0;  // 0 means 32
  int32_t BatchLimit = 0;    // 0 means no limit
  TForcedTrimPath ForcedPath = TForcedTrimPath::ftpAuto;
  bool ExpertAtaRetry = false;
  bool QuietIterations = false;
};

// The outcome of one preflight check.
struct TValidationResult {
  bool Ok = false;
  std::string Message;
  bool Warning = false;
};

std::string TransportToText(TTransportKind Kind);
std::string MediaKindToText(TMediaKind Kind);
std::string TrimModeToText(TTrimMode Mode);
std::string RunModeToText(TRunMode Mode);

std::string MaskSerial(const std::string& Serial);
uint64_t MinU64(uint64_t A, uint64_t B);
uint64_t MaxU64(uint64_t A, uint64_t B);

// Reads the FileVersion of the running program's version resource; "" on any failure.
std::string GetAppFileVersion();
// The version shown in the caption; set once by InitAppVersion at program start.
const std::string& AppVersion();
void InitAppVersion();

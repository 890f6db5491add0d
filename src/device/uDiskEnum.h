// Finds the USB-attached physical disks: bus hints and transport, size, media kind, lettered
// volumes, the system disk, and model and serial on demand.
//
// The enumerator holds nothing but the log (not owned; null writes no line). Every operation
// opens and closes its own handles and device-information set, so the refresh thread, the
// detail thread and the main thread may use one enumerator at the same time.
//
// Implementation: uDiskEnumHints.cpp (hint map, bus hint), uDiskEnumText.cpp (transport and
// text routines), uDiskEnum.cpp (enumeration, identity, size, system disk), uDiskEnumVolumes.cpp,
// uDiskEnumMedia.cpp (seek penalty and the identity probe).
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "core/uTypes.h"
#include "platform/PlatformTypes.h"

class TLogger;

// Registry hint of each physical disk, by disk number ("SERVICE=...;ENUM=...;HWID=...").
using TDiskHintMap = std::map<uint32_t, std::string>;

class TDiskEnumerator {
 public:
  // Drives 0 to 31 are looked at; a listed disk must be larger than 1 GiB.
  static constexpr int32_t kMaxDrives = 32;
  static constexpr uint64_t kMinDiskBytes = 1073741824ull;
  static constexpr uint32_t kMediaProbeTimeoutMs = 3000;

  explicit TDiskEnumerator(TLogger* ALogger) : FLogger(ALogger) {}

  // ---- enumeration ---------------------------------------------------------------------------
  // Replaces Disks with the listed disks in ascending drive number.
  void Enumerate(TDiskInfoArray& Disks) const;
  // Completes Disk from its DevicePath: model, serial and a fresh media kind.
  void LoadDiskDetails(TDiskInfo& Disk) const;
  // Replaces Volumes with one record per extent on DiskNumber of every lettered volume; each
  // record's ExtentCount is the volume's extent count on all disks (read no further than the
  // answer buffer holds), so a spanned or striped volume can be refused downstream.
  void MapVolumes(TVolumeInfoArray& Volumes, int32_t DiskNumber) const;
  bool QueryIdentity(const std::string& Path, std::string& Model, std::string& Serial, uint64_t& SizeBytes) const;
  static bool QueryModelSerial(plat::HANDLE Handle, std::string& Model, std::string& Serial);
  static bool QueryDiskSize(plat::HANDLE Handle, uint64_t& SizeBytes);
  // The disk's size and logical sector size (the unit of its SCSI block addresses); both 0 when
  // the query fails.
  static bool QueryGeometry(plat::HANDLE Handle, uint64_t& SizeBytes, uint32_t& BytesPerSector);
  bool DetectMediaKind(plat::HANDLE Handle, const std::string& Path, TMediaKind& Media, std::string& Reason) const;
  // The disk that holds the Windows directory; -1 when it cannot be determined.
  static int32_t GetSystemDiskNumber();

  // ---- bus hints and transport ---------------------------------------------------------------
  TDiskHintMap BuildDiskHintMap() const;
  // Shared read and write, open existing; INVALID_HANDLE_VALUE on failure.
  static plat::HANDLE OpenDevice(const std::string& Path, plat::DWORD Access);
  std::string QueryBusHint(plat::HANDLE Handle) const;
  static TTransportKind ClassifyTransport(const std::string& Hint);

  // The pieces of a bus hint, from a descriptor already read.
  static std::string BusPartText(uint32_t BusType);
  static std::string TailMarker(const std::string& PrintableTail);
  static std::string BuildRegistryHint(const std::string& Service, const std::string& Enumerator,
                                       const std::string& HardwareId);

  // ---- small routines ------------------------------------------------------------------------
  // The cbSize a device interface detail record carries.
  static plat::DWORD DetailDataCbSize();
  // The characters before the first NUL, at most MaxChars; empty for no buffer or MaxChars <= 0.
  static std::string WideBufToString(const char16_t* Buf, int32_t MaxChars);
  // Bytes 0 to HighIndex (within Buf) as text, each byte outside 32..126 a space, upper-cased.
  static std::string PrintableUpper(std::span<const uint8_t> Buf, int32_t HighIndex);
  // The 8-bit text up to its NUL or the end of Text, from the ANSI code page, trimmed of
  // characters 0 to 32 at both ends.
  static std::string AnsiZToTrimmedString(std::span<const uint8_t> Text);
  // The 64-bit signed value at P (any alignment); 0 when negative or P is null.
  static int64_t ReadNonNegInt64(const uint8_t* P);

 private:
  void Log(const std::string& Msg) const;

  TLogger* FLogger;
};

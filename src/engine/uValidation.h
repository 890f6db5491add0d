// The checks between the user's Start and a TRIM run. Each looks at one disk, makes at most one
// short device exchange, leaves no handle open and returns a fresh TValidationResult.
#pragma once

#include <cstdint>
#include <span>

#include "core/uTypes.h"
#include "platform/PlatformTypes.h"

class TLogger;
class TAtaPassThroughEngine;

// The TRIM-support query is not understood by the bridge (1, 24, 50, 87), as opposed to failing.
bool IsTrimQueryUnsupportedError(uint32_t Error);

class TPreflightValidator {
 public:
  explicit TPreflightValidator(TLogger* ALogger) : FLogger(ALogger) {}

  bool IsElevated();
  TValidationResult CheckSystemDiskPolicy(const TDiskInfo& Disk, bool BlockSystemDisk);
  TValidationResult CheckTransport(const TDiskInfo& Disk, bool RequireKnownUsb);
  TValidationResult CheckDiskWritable(const TDiskInfo& Disk);
  TValidationResult CheckTrimSupport(const TDiskInfo& Disk);
  TValidationResult ProbeBridge(const TDiskInfo& Disk);
  TValidationResult ValidateCdb(TAtaPassThroughEngine& Engine, std::span<const uint8_t> Cdb,
                                uint32_t PayloadBytes);

 private:
  TLogger* FLogger;
};

// FlushFileBuffers on a device handle ("\\.\E:" or "\\.\PhysicalDriveN") opened for writing:
// Windows writes out what it holds for the volume (or the disk). Here it counts each flush and
// can be made to fail with a chosen Windows error.
#pragma once

#include <map>
#include <mutex>

#include "platform/PlatformTypes.h"

namespace plat::sim {

class SimStorage;
struct SimDeviceCall;

class SimVolumeFlush {
 public:
  explicit SimVolumeFlush(SimStorage& storage);

  // nth: 1 the first flush of that volume, 2 the second, ...; 0 every one. Letter 0 aims at the
  // flushes of physical-disk handles.
  void SetFault(char letter, DWORD winError, int nth = 0);
  void ClearFaults();
  // Flushes that succeeded, per volume letter (0: physical-disk handles).
  int Flushes(char letter);

 private:
  struct Fault {
    DWORD winError;
    int nth;
  };
  BOOL Flush(SimDeviceCall& call);

  std::mutex mu_;
  std::map<char, Fault> faults_;
  std::map<char, int> calls_;
  std::map<char, int> flushes_;
};

}  // namespace plat::sim

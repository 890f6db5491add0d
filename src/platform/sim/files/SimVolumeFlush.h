// FlushFileBuffers on a device handle ("\\.\E:" or "\\.\PhysicalDriveN") opened for writing:
// Windows writes out what it holds for the volume (or the disk). Here it counts each flush and
// meets the faults aimed at the volume's flushes (SimFaults.h).
#pragma once

#include <map>
#include <mutex>

#include "platform/PlatformTypes.h"
#include "platform/sim/SimFaults.h"

namespace plat::sim {

class SimStorage;
struct SimDeviceCall;

class SimVolumeFlush {
 public:
  explicit SimVolumeFlush(SimStorage& storage);

  // Faults on the flushes of one volume; letter 0 aims at those of physical-disk handles. A flush
  // that Windows refuses (a handle without write access) does not reach them.
  void AddFault(char letter, SimOutcome what, SimTrigger when = {});
  void ClearFaults();
  // Flushes that succeeded, per volume letter (0: physical-disk handles).
  int Flushes(char letter);

 private:
  BOOL Flush(SimDeviceCall& call);

  SimStorage& storage_;
  std::mutex mu_;
  SimFaultList<char> faults_;
  std::map<char, int> flushes_;
};

}  // namespace plat::sim

// The simulated machine's volume lock and dismount (FSCTL_LOCK_VOLUME, FSCTL_DISMOUNT_VOLUME)
// and the mount state behind GetVolumeInformationW.
//
// Each request meets the outcome the test sets for it (SimFaults.h): it takes virtual time and
// then succeeds or fails with the test's error, or hangs until CancelSynchronousIo reaches it, or
// for ever (a driver that ignores the cancel). A dismounted volume is mounted again by its next use
// (GetVolumeInformationW), which starts the remount: it answers once the test's remount delay
// has passed and fails with ERROR_NOT_READY until then.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/PlatformTypes.h"
#include "platform/sim/SimFaults.h"

namespace plat::sim {

class SimKernel;
class SimStorage;
struct SimDeviceCall;

// What every lock and every dismount request of the volume meets (SimOutcome{}: it succeeds).
struct SimVolumeLockBehaviour {
  SimOutcome lock;
  SimOutcome dismount;
  DWORD remountDelayMs = 0;
};

class SimVolumeLocks {
 public:
  SimVolumeLocks(SimKernel& kernel, SimStorage& storage);

  // ---- set-up by tests ----
  void SetBehaviour(char letter, SimVolumeLockBehaviour behaviour);
  // Requests that reached each volume, as "LOCK E:", "DISMOUNT E:" (in order).
  std::vector<std::string> Requests();
  bool Locked(char letter);
  bool Dismounted(char letter);
  // Either of the two: the volume's file system is not in the way of raw access to its blocks.
  bool LockedOrDismounted(char letter);

  // False while a dismounted volume is not back yet; its first use starts the remount. The
  // machine asks this before it answers GetVolumeInformationW for the volume.
  bool UseMount(char letter);

 private:
  struct State {
    SimVolumeLockBehaviour behaviour;
    bool locked = false;
    bool dismounted = false;
    uint64_t remountAt = 0;  // virtual ms; 0: no remount started
  };
  BOOL Request(const SimDeviceCall& call, bool dismount);

  SimKernel& kernel_;
  SimStorage& storage_;
  std::mutex mu_;
  std::map<char, State> states_;
  std::vector<std::string> requests_;
};

}  // namespace plat::sim

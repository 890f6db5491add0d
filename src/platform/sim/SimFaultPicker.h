// Faults drawn at random, for tests that build many machines from seeds (the TRIM run's property
// test): the same seed gives the same faults on every compiler and library, so a failure names
// the seed that shows it.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "platform/sim/SimFaults.h"
#include "platform/sim/storage/SimBridge.h"

namespace plat::sim {

// splitmix64: the same numbers everywhere, unlike the standard distributions.
struct SimRandom {
  uint64_t s = 0;
  uint64_t Next();
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
  bool Chance(uint32_t percent) { return Below(100) < percent; }
  template <class T>
  T Pick(std::initializer_list<T> items) {
    return *(items.begin() + Below(static_cast<uint32_t>(items.size())));
  }
};

// What a drawn bridge fault may be. A call that hangs and that nobody cancels holds its thread
// for good, so a hang is drawn only where something ends it.
struct SimFaultChoice {
  bool cancelComes = false;  // a cancel will reach the hung call: it may hang until cancelled
  // The command whose caller gives up on a call that never returns and leaves its thread behind
  // (the run's ATA attempt): the one a hang for ever is drawn for.
  SimCommand abandonedCommand = SimCommand::AtaDsm;
  // A disk off the bus that takes the freed number when the disk leaves (asked for half of the
  // departures); empty: none does.
  std::function<std::shared_ptr<SimDisk>()> newcomer;
};

// A fault on one of the bridge's TRIM-path commands (or on any), at one of its first calls or at
// every call: an error, a SCSI refusal, a delay, a hang or the disk leaving the bus.
SimFault PickBridgeFault(SimRandom& r, const SimFaultChoice& choice);
// What a volume lock or dismount request meets: mostly nothing, else a delay, an error or a hang.
SimOutcome PickVolumeRequest(SimRandom& r);
// " fault(cmd=1,nth=2,kind=3,err=0,delay=0)", for a test's account of what it drew.
std::string DescribeFault(const SimFault& f);

}  // namespace plat::sim

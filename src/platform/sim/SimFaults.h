// The simulated machine's one way of making a call go wrong. A fault is aimed at calls (each
// module names its own: a SCSI command of the bridge, a control code on a disk or volume, a
// volume's flush, a thread creation), hits some of them (SimTrigger) and does one thing to each
// call it hits (SimOutcome). Every fault counts the calls it is aimed at from the moment it is
// set, so "the second UNMAP" means the second one after the fault went in.
//
// Plain Windows errors that fail every call of their kind (discovery's, the preflight checks',
// a notification registration's) and the path faults of the two file stores ("the next N
// calls", read back as they count down) follow the same rule: they are its defaults written as
// one field.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "platform/PlatformTypes.h"

namespace plat::sim {

struct SimDisk;

enum class SimFaultKind {
  WinError,         // the call fails with winError (0: it is answered normally)
  ScsiStatus,       // Windows succeeds; the device answers scsiStatus with these sense bytes (a
                    // call that carries no SCSI status fails with ERROR_IO_DEVICE instead)
  Delay,            // answered normally
  HangUntilCancel,  // blocks until CancelSynchronousIo reaches it, then fails with 995
  HangForever,      // blocks until the machine shuts down; cancelling does not end it
  LeaveBus,         // the disk leaves the bus: this call fails with 1167, the disk detaches (and
                    // the newcomer, if any, arrives under its number: SimStorage::LeaveBus)
};

// What a fault does to a call it hits. delayMs of virtual time pass first (a cancel ends the wait
// with 995 unless the driver ignores it; past the request's own time-out, where it has one,
// Windows gives up with ERROR_SEM_TIMEOUT, 121; if the disk left the bus meanwhile, the call fails
// with 1167 and reaches nothing); then the kind decides. A hang's delay is the time
// before it takes hold: with ignoresCancel, a cancel in it is accepted and lost, as one is that
// comes before the driver has queued the request.
// SimOutcome{} is no fault at all.
struct SimOutcome {
  SimFaultKind kind = SimFaultKind::WinError;
  DWORD winError = 0;
  uint8_t scsiStatus = 0x02;
  std::vector<uint8_t> sense;
  uint32_t delayMs = 0;
  bool ignoresCancel = false;         // CancelSynchronousIo does not end the delay
  std::shared_ptr<SimDisk> newcomer;  // LeaveBus: the disk that takes the freed number

  static SimOutcome Error(DWORD winError, uint32_t afterMs = 0);
  static SimOutcome Status(uint8_t scsiStatus, std::vector<uint8_t> sense);
  static SimOutcome Delay(uint32_t ms, bool ignoresCancel = false);
  static SimOutcome HangUntilCancel();
  static SimOutcome HangForever();
  static SimOutcome LeaveBus(std::shared_ptr<SimDisk> newcomer = nullptr);
};

// Which of the calls a fault is aimed at it hits, counted from 1 since the fault was set.
struct SimTrigger {
  int nth = 0;    // the first call it hits; 0: every call
  int times = 1;  // how many calls from the nth on (-1: all of them)

  bool Hits(int call) const { return nth == 0 || (call >= nth && (times < 0 || call - nth < times)); }
};

// The faults a module holds, each aimed at calls named by an Aim. Not locked: the module guards
// it with its own lock. SimStorage::CarryOut carries an outcome out.
template <class Aim = std::monostate>
class SimFaultList {
 public:
  void Add(Aim aim, SimTrigger when, SimOutcome what) {
    armed_.push_back({std::move(aim), when, std::move(what), 0});
  }
  void Clear() { armed_.clear(); }
  // Counts a call against every fault aimed at it (aimedAt(aim) says which are) and returns the
  // outcome of the first, in the order they were set, that hits it.
  template <class AimedAt>
  std::optional<SimOutcome> Take(AimedAt aimedAt) {
    std::optional<SimOutcome> hit;
    for (Armed& a : armed_) {
      if (!aimedAt(a.aim)) continue;
      const int call = ++a.calls;
      if (!hit && a.when.Hits(call)) hit = a.what;
    }
    return hit;
  }
  // Faults that all calls of the kind are aimed at.
  std::optional<SimOutcome> Take() {
    return Take([](const Aim&) { return true; });
  }

 private:
  struct Armed {
    Aim aim;
    SimTrigger when;
    SimOutcome what;
    int calls = 0;
  };
  std::vector<Armed> armed_;
};

}  // namespace plat::sim

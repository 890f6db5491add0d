#include "platform/sim/SimFaults.h"

#include <utility>

namespace plat::sim {

SimOutcome SimOutcome::Error(DWORD winError, uint32_t afterMs) {
  SimOutcome o;
  o.winError = winError;
  o.delayMs = afterMs;
  return o;
}

SimOutcome SimOutcome::Status(uint8_t scsiStatus, std::vector<uint8_t> sense) {
  SimOutcome o;
  o.kind = SimFaultKind::ScsiStatus;
  o.scsiStatus = scsiStatus;
  o.sense = std::move(sense);
  return o;
}

SimOutcome SimOutcome::Delay(uint32_t ms, bool ignoresCancel) {
  SimOutcome o;
  o.kind = SimFaultKind::Delay;
  o.delayMs = ms;
  o.ignoresCancel = ignoresCancel;
  return o;
}

SimOutcome SimOutcome::HangUntilCancel() {
  SimOutcome o;
  o.kind = SimFaultKind::HangUntilCancel;
  return o;
}

SimOutcome SimOutcome::HangForever() {
  SimOutcome o;
  o.kind = SimFaultKind::HangForever;
  return o;
}

SimOutcome SimOutcome::LeaveBus(std::shared_ptr<SimDisk> newcomer) {
  SimOutcome o;
  o.kind = SimFaultKind::LeaveBus;
  o.newcomer = std::move(newcomer);
  return o;
}

}  // namespace plat::sim

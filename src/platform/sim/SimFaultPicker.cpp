#include "platform/sim/SimFaultPicker.h"

#include <sstream>

namespace plat::sim {

uint64_t SimRandom::Next() {
  uint64_t z = (s += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

SimFault PickBridgeFault(SimRandom& r, const SimFaultChoice& choice) {
  SimFault f;
  f.command = r.Pick({SimCommand::AtaDsm, SimCommand::AtaDsm, SimCommand::Unmap, SimCommand::WriteSame16,
                      SimCommand::Inquiry, SimCommand::StorageTrim, SimCommand::Any});
  f.nth = r.Chance(15) ? 0 : 1 + static_cast<int>(r.Below(4));
  switch (r.Below(6)) {
    case 0:
      f.kind = SimFaultKind::WinError;
      f.winError = r.Pick({1u, 5u, 31u, 50u, 87u, 121u, 1117u, 55u});
      break;
    case 1:
      f.kind = SimFaultKind::ScsiStatus;
      f.sense = r.Pick({SimFixedSense(5, 0x24, 0), SimDescriptorSense(5, 0x26, 0), SimFixedSense(5, 0x20, 0),
                        SimFixedSense(3, 0x11, 0)});
      break;
    case 2:
      f.kind = SimFaultKind::Delay;
      f.delayMs = r.Pick({100u, 1500u, 2100u, 6000u, 60000u});
      break;
    case 3:
      if (choice.cancelComes || f.command == choice.abandonedCommand) {
        f.kind = choice.cancelComes && r.Chance(50) ? SimFaultKind::HangUntilCancel : SimFaultKind::HangForever;
        if (f.kind == SimFaultKind::HangForever) f.command = choice.abandonedCommand;
      } else {
        f.kind = SimFaultKind::Delay;
        f.delayMs = 3000;
      }
      break;
    default:
      f.kind = SimFaultKind::LeaveBus;
      if (r.Chance(50) && choice.newcomer) f.newcomer = choice.newcomer();
      break;
  }
  return f;
}

SimOutcome PickVolumeRequest(SimRandom& r) {
  const uint32_t delayMs = r.Pick({0u, 0u, 1000u, 299000u});
  const DWORD error = r.Pick({0u, 0u, 5u, 32u});
  if (r.Chance(10)) return r.Chance(50) ? SimOutcome::HangForever() : SimOutcome::HangUntilCancel();
  return error ? SimOutcome::Error(error, delayMs) : SimOutcome::Delay(delayMs);
}

std::string DescribeFault(const SimFault& f) {
  std::ostringstream s;
  s << " fault(cmd=" << static_cast<int>(f.command) << ",nth=" << f.nth << ",kind=" << static_cast<int>(f.kind)
    << ",err=" << f.winError << ",delay=" << f.delayMs << (f.newcomer ? ",newcomer" : "") << ")";
  return s.str();
}

}  // namespace plat::sim

#include "platform/sim/files/SimVolumeLocks.h"

#include <cctype>

#include "platform/WinFsControl.h"
#include "platform/sim/kernel/SimKernel.h"
#include "platform/sim/storage/SimStorage.h"

namespace plat::sim {

namespace {
BOOL Fail(DWORD e) {
  SimSetLastError(e);
  return FALSE_;
}
char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
}  // namespace

SimVolumeLocks::SimVolumeLocks(SimKernel& kernel, SimStorage& storage) : kernel_(kernel), storage_(storage) {
  storage_.RegisterIoctl(fsc::FSCTL_LOCK_VOLUME, [this](SimDeviceCall& c) {
    return c.volume ? Request(c, false) : Fail(ERROR_INVALID_PARAMETER);
  });
  storage_.RegisterIoctl(fsc::FSCTL_DISMOUNT_VOLUME, [this](SimDeviceCall& c) {
    return c.volume ? Request(c, true) : Fail(ERROR_INVALID_PARAMETER);
  });
}

void SimVolumeLocks::SetBehaviour(char letter, SimVolumeLockBehaviour behaviour) {
  std::lock_guard<std::mutex> lk(mu_);
  states_[Upper(letter)].behaviour = behaviour;
}

std::vector<std::string> SimVolumeLocks::Requests() {
  std::lock_guard<std::mutex> lk(mu_);
  return requests_;
}

bool SimVolumeLocks::Locked(char letter) {
  std::lock_guard<std::mutex> lk(mu_);
  return states_[Upper(letter)].locked;
}

bool SimVolumeLocks::Dismounted(char letter) {
  std::lock_guard<std::mutex> lk(mu_);
  return states_[Upper(letter)].dismounted;
}

bool SimVolumeLocks::LockedOrDismounted(char letter) {
  std::lock_guard<std::mutex> lk(mu_);
  const State& s = states_[Upper(letter)];
  return s.locked || s.dismounted;
}

BOOL SimVolumeLocks::Request(const SimDeviceCall& call, bool dismount) {
  const char letter = call.volume->letter;
  SimOutcome what;
  {
    std::lock_guard<std::mutex> lk(mu_);
    what = dismount ? states_[letter].behaviour.dismount : states_[letter].behaviour.lock;
    requests_.push_back(std::string(dismount ? "DISMOUNT " : "LOCK ") + letter + ":");
  }
  if (!storage_.CarryOut(call.disk.get(), what)) return FALSE_;
  std::lock_guard<std::mutex> lk(mu_);
  State& s = states_[letter];
  if (dismount) {
    s.dismounted = true;
    s.remountAt = 0;
  } else {
    s.locked = true;
  }
  return TRUE_;
}

bool SimVolumeLocks::UseMount(char letter) {
  const uint64_t now = kernel_.NowMs();
  std::lock_guard<std::mutex> lk(mu_);
  State& s = states_[Upper(letter)];
  if (!s.dismounted) return true;
  if (s.remountAt == 0) s.remountAt = now + s.behaviour.remountDelayMs;
  if (now < s.remountAt) return false;
  s.dismounted = false;
  s.locked = false;
  return true;
}

}  // namespace plat::sim

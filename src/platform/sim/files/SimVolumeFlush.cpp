#include "platform/sim/files/SimVolumeFlush.h"

#include <cctype>
#include <optional>
#include <utility>

#include "platform/sim/storage/SimStorage.h"

namespace plat::sim {

namespace {
char Key(char letter) { return static_cast<char>(std::toupper(static_cast<unsigned char>(letter))); }
}  // namespace

SimVolumeFlush::SimVolumeFlush(SimStorage& storage) : storage_(storage) {
  storage.SetFlushHandler([this](SimDeviceCall& c) { return Flush(c); });
}

void SimVolumeFlush::AddFault(char letter, SimOutcome what, SimTrigger when) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.Add(Key(letter), when, std::move(what));
}

void SimVolumeFlush::ClearFaults() {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.Clear();
}

int SimVolumeFlush::Flushes(char letter) {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = flushes_.find(Key(letter));
  return it == flushes_.end() ? 0 : it->second;
}

BOOL SimVolumeFlush::Flush(SimDeviceCall& call) {
  const char key = call.volume ? call.volume->letter : 0;
  std::optional<SimOutcome> fault;
  {
    std::lock_guard<std::mutex> lk(mu_);
    fault = faults_.Take([key](char aim) { return aim == key; });
  }
  if (fault && !storage_.CarryOut(call.disk.get(), *fault)) return FALSE_;
  std::lock_guard<std::mutex> lk(mu_);
  ++flushes_[key];
  return TRUE_;
}

}  // namespace plat::sim

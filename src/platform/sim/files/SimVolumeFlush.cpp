#include "platform/sim/files/SimVolumeFlush.h"

#include <cctype>

#include "platform/sim/kernel/SimKernel.h"
#include "platform/sim/storage/SimStorage.h"

namespace plat::sim {

namespace {
char Key(char letter) { return static_cast<char>(std::toupper(static_cast<unsigned char>(letter))); }
}  // namespace

SimVolumeFlush::SimVolumeFlush(SimStorage& storage) {
  storage.SetFlushHandler([this](SimDeviceCall& c) { return Flush(c); });
}

void SimVolumeFlush::SetFault(char letter, DWORD winError, int nth) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_[Key(letter)] = {winError, nth};
}

void SimVolumeFlush::ClearFaults() {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.clear();
}

int SimVolumeFlush::Flushes(char letter) {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = flushes_.find(Key(letter));
  return it == flushes_.end() ? 0 : it->second;
}

BOOL SimVolumeFlush::Flush(SimDeviceCall& call) {
  const char key = call.volume ? call.volume->letter : 0;
  std::lock_guard<std::mutex> lk(mu_);
  const int nth = ++calls_[key];
  auto it = faults_.find(key);
  if (it != faults_.end() && it->second.winError && (it->second.nth == 0 || it->second.nth == nth)) {
    SimSetLastError(it->second.winError);
    return FALSE_;
  }
  ++flushes_[key];
  return TRUE_;
}

}  // namespace plat::sim

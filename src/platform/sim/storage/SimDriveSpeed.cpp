#include "platform/sim/storage/SimDriveSpeed.h"

#include <algorithm>

#include "platform/sim/storage/SimDrive.h"
#include "platform/sim/kernel/SimKernel.h"

namespace plat::sim {

namespace {
constexpr double kMiB = 1048576.0;
constexpr uint64_t kNsPerMs = 1'000'000;

// Nanoseconds that bytes take at MiB/s; no time at speed 0.
double Ns(double bytes, double mbps) { return mbps > 0 ? bytes / (mbps * kMiB) * 1e9 : 0; }
}  // namespace

SimDriveSpeed SimDriveSpeed::Instant() { return {}; }

SimDriveSpeed SimDriveSpeed::FastUasSsd(uint64_t cacheBytes) {
  return {"fast UAS SSD", 1000, 900, cacheBytes, 160, 600, 40};
}

SimDriveSpeed SimDriveSpeed::BotEnclosure(uint64_t cacheBytes) {
  return {"BOT enclosure", 380, 320, cacheBytes, 90, 250, 250};
}

SimDriveSpeed SimDriveSpeed::NeverSlows(double writeMBps, double readMBps) {
  return {"never slows", readMBps, writeMBps, 0, 0, 0, 0};
}

uint64_t SimDriveClock::Transfer(bool write, uint64_t bytes, uint64_t nowNs) {
  const SimDriveSpeed& s = speed_;
  if (nowNs > busyUntilNs_) {
    // Idle since the last transfer: the drive empties its cache meanwhile.
    const double idleSec = double(nowNs - busyUntilNs_) / 1e9;
    const double regained = idleSec * s.recoverMBps * kMiB;
    cacheUsed_ = regained >= double(cacheUsed_) ? 0 : cacheUsed_ - static_cast<uint64_t>(regained);
    busyUntilNs_ = nowNs;
  }
  double ns = 0;
  if (!write) {
    ns = Ns(double(bytes), s.readMBps);
  } else if (s.cacheBytes == 0) {
    ns = Ns(double(bytes), s.writeMBps);
  } else {
    const uint64_t fast = std::min(bytes, s.cacheBytes - std::min(s.cacheBytes, cacheUsed_));
    ns = Ns(double(fast), s.writeMBps) + Ns(double(bytes - fast), s.slowWriteMBps);
    cacheUsed_ = std::min(s.cacheBytes, cacheUsed_ + bytes);
  }
  if (ns > 0 || (s.readMBps > 0 || s.writeMBps > 0)) ns += s.commandUs * 1000.0;
  busyUntilNs_ += static_cast<uint64_t>(ns + 0.5);
  return busyUntilNs_;
}

void SimDriveClock::Trimmed(uint64_t bytes) { cacheUsed_ -= std::min(cacheUsed_, bytes); }

bool SimDriveWait(SimKernel& kernel, SimDrive& drive, bool write, uint64_t bytes) {
  const uint64_t now = kernel.NowMs();
  // The clock counts whole milliseconds: the caller goes on at the last one the transfer reached,
  // and the drive, still busy for the rest, starts the next transfer only after it.
  const uint64_t until = drive.Transfer(write, bytes, now * kNsPerMs) / kNsPerMs;
  if (until <= now) return true;
  return kernel.BlockUntil({}, until, WaitKind{true, false}) != WaitOutcome::Shutdown;
}

}  // namespace plat::sim

// How long the simulated drive takes for its reads and writes, on the virtual clock.
//
// A profile gives a read and a write speed and, for an SSD with a fast cache (SLC), its size: once
// that many bytes were written, writes run at the slow speed until the drive has been idle long
// enough to empty the cache again (recoverMBps for every idle second) or has been trimmed (a
// released byte frees a byte of cache). What makes a speed drop visible on a real SSD is exactly
// this cliff. The drive works one transfer at a time: a transfer starts when the one before has
// ended, so time adds up exactly even where one transfer is shorter than a millisecond of the
// clock.
#pragma once

#include <cstdint>
#include <string>

namespace plat::sim {

class SimKernel;
class SimDrive;

struct SimDriveSpeed {
  std::string name = "instant";
  double readMBps = 0;       // MiB per second; 0: reads take no time
  double writeMBps = 0;      // 0: writes take no time
  uint64_t cacheBytes = 0;   // the fast cache; 0: writes never slow down
  double slowWriteMBps = 0;  // once the cache is full
  double recoverMBps = 0;    // cache emptied per idle second
  uint32_t commandUs = 0;    // fixed cost of every transfer

  // No time at all (the default, so that nothing else changes its timing).
  static SimDriveSpeed Instant();
  // An NVMe-class SSD behind a UAS bridge: fast, with a cache of cacheBytes.
  static SimDriveSpeed FastUasSsd(uint64_t cacheBytes = 24ull << 30);
  // A SATA SSD in a bulk-only enclosure: the bridge caps it, and its cache is small.
  static SimDriveSpeed BotEnclosure(uint64_t cacheBytes = 4ull << 30);
  // Steady speeds, never slower.
  static SimDriveSpeed NeverSlows(double writeMBps = 400, double readMBps = 450);
};

// The drive's time: when it is free again and how full its cache is. Times in nanoseconds of
// the virtual clock. Guarded by the drive.
class SimDriveClock {
 public:
  void SetSpeed(const SimDriveSpeed& speed) { speed_ = speed; }
  const SimDriveSpeed& Speed() const { return speed_; }
  // A transfer asked for at nowNs; returns when it ends.
  uint64_t Transfer(bool write, uint64_t bytes, uint64_t nowNs);
  void Trimmed(uint64_t bytes);
  uint64_t CacheUsed() const { return cacheUsed_; }

 private:
  SimDriveSpeed speed_;
  uint64_t busyUntilNs_ = 0;
  uint64_t cacheUsed_ = 0;
};

// Lets the calling thread wait on the virtual clock until the drive has done the transfer.
// False when the machine shut down meanwhile.
bool SimDriveWait(SimKernel& kernel, SimDrive& drive, bool write, uint64_t bytes);

}  // namespace plat::sim

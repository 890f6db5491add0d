// The drive behind a simulated bridge: its capacity in 512-byte sectors, sparse storage in large
// pages (SimPages.h: sectors never written read as zeros, and generated content costs nothing),
// its speed (SimDriveSpeed.h) and a ledger of every range a command released. Released sectors
// read back as zeros, as a drive with deterministic read-after-trim does. Thread-safe.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/storage/SimDriveSpeed.h"
#include "platform/sim/storage/SimPages.h"

namespace plat::sim {

// One released range, as the drive saw it arrive.
struct SimTrimRecord {
  uint64_t lba = 0;
  uint64_t count = 0;
  std::string command;  // "ATA DSM", "UNMAP", "WRITE SAME(16)", "STORAGE TRIM", "RETRIM", ...
};

// What reached the drive's storage (every Read and Write, whoever sent it).
struct SimDriveStats {
  uint64_t reads = 0;
  uint64_t writes = 0;
  uint64_t bytesRead = 0;
  uint64_t bytesWritten = 0;
};

class SimDrive {
 public:
  static constexpr uint32_t kSectorSize = 512;

  explicit SimDrive(uint64_t sectors = 0) : sectors_(sectors) {}

  uint64_t Sectors() const;
  void SetSectors(uint64_t sectors);

  // Whole sectors; false when [lba, lba + count) leaves the drive.
  bool Read(uint64_t lba, uint32_t count, void* out) const;
  bool Write(uint64_t lba, uint32_t count, const void* data);
  // Writes zeros over [lba, lba + count) (a write, not a release: the ledger is not told).
  bool WriteZeros(uint64_t lba, uint64_t count);
  // Releases [lba, lba + count): the sectors read as zeros afterwards and the ledger records it.
  bool Trim(uint64_t lba, uint64_t count, const std::string& command);

  std::vector<SimTrimRecord> Ledger() const;
  void ClearLedger();
  // Every sector any command released, merged into sorted, disjoint [lba, lba + count) ranges.
  std::vector<std::pair<uint64_t, uint64_t>> TrimmedRanges() const;
  // Whether sector lba holds data that was written and not released since.
  bool HoldsData(uint64_t lba) const;

  SimDriveStats Stats() const;
  // Host memory the stored data takes.
  uint64_t MemoryBytes() const;

  // ---- time (SimDriveSpeed.h) ----
  void SetSpeed(const SimDriveSpeed& speed);
  SimDriveSpeed Speed() const;
  uint64_t CacheUsed() const;
  // Books a transfer asked for at nowNs (virtual nanoseconds) and returns when it ends.
  uint64_t Transfer(bool write, uint64_t bytes, uint64_t nowNs);

 private:
  mutable std::mutex mu_;
  uint64_t sectors_;
  SimPageStore store_;
  mutable SimDriveStats stats_;
  SimDriveClock clock_;
  std::vector<SimTrimRecord> ledger_;
};

}  // namespace plat::sim

#include "platform/sim/storage/SimDrive.h"

#include <algorithm>

namespace plat::sim {

uint64_t SimDrive::Sectors() const {
  std::lock_guard<std::mutex> lk(mu_);
  return sectors_;
}

void SimDrive::SetSectors(uint64_t sectors) {
  std::lock_guard<std::mutex> lk(mu_);
  sectors_ = sectors;
}

static bool Inside(uint64_t lba, uint64_t count, uint64_t sectors) {
  return lba <= sectors && count <= sectors - lba;
}

bool SimDrive::Read(uint64_t lba, uint32_t count, void* out) const {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Inside(lba, count, sectors_)) return false;
  store_.Read(lba * kSectorSize, out, uint64_t(count) * kSectorSize);
  ++stats_.reads;
  stats_.bytesRead += uint64_t(count) * kSectorSize;
  return true;
}

bool SimDrive::Write(uint64_t lba, uint32_t count, const void* data) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Inside(lba, count, sectors_)) return false;
  store_.Write(lba * kSectorSize, data, uint64_t(count) * kSectorSize);
  ++stats_.writes;
  stats_.bytesWritten += uint64_t(count) * kSectorSize;
  return true;
}

bool SimDrive::WriteZeros(uint64_t lba, uint64_t count) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Inside(lba, count, sectors_)) return false;
  store_.Zero(lba * kSectorSize, count * kSectorSize);
  ++stats_.writes;
  stats_.bytesWritten += count * kSectorSize;
  return true;
}

bool SimDrive::Trim(uint64_t lba, uint64_t count, const std::string& command) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Inside(lba, count, sectors_)) return false;
  store_.Zero(lba * kSectorSize, count * kSectorSize);
  clock_.Trimmed(count * kSectorSize);
  ledger_.push_back({lba, count, command});
  return true;
}

std::vector<SimTrimRecord> SimDrive::Ledger() const {
  std::lock_guard<std::mutex> lk(mu_);
  return ledger_;
}

void SimDrive::ClearLedger() {
  std::lock_guard<std::mutex> lk(mu_);
  ledger_.clear();
}

std::vector<std::pair<uint64_t, uint64_t>> SimDrive::TrimmedRanges() const {
  std::vector<std::pair<uint64_t, uint64_t>> r;  // [start, end)
  {
    std::lock_guard<std::mutex> lk(mu_);
    for (const auto& t : ledger_)
      if (t.count) r.push_back({t.lba, t.lba + t.count});
  }
  std::sort(r.begin(), r.end());
  std::vector<std::pair<uint64_t, uint64_t>> merged;
  for (const auto& x : r) {
    if (!merged.empty() && x.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, x.second);
    } else {
      merged.push_back(x);
    }
  }
  for (auto& m : merged) m.second -= m.first;  // back to (lba, count)
  return merged;
}

bool SimDrive::HoldsData(uint64_t lba) const {
  std::lock_guard<std::mutex> lk(mu_);
  return store_.HoldsData(lba * kSectorSize, kSectorSize);
}

SimDriveStats SimDrive::Stats() const {
  std::lock_guard<std::mutex> lk(mu_);
  return stats_;
}

uint64_t SimDrive::MemoryBytes() const {
  std::lock_guard<std::mutex> lk(mu_);
  return store_.MemoryBytes();
}

void SimDrive::SetSpeed(const SimDriveSpeed& speed) {
  std::lock_guard<std::mutex> lk(mu_);
  clock_.SetSpeed(speed);
}

SimDriveSpeed SimDrive::Speed() const {
  std::lock_guard<std::mutex> lk(mu_);
  return clock_.Speed();
}

uint64_t SimDrive::CacheUsed() const {
  std::lock_guard<std::mutex> lk(mu_);
  return clock_.CacheUsed();
}

uint64_t SimDrive::Transfer(bool write, uint64_t bytes, uint64_t nowNs) {
  std::lock_guard<std::mutex> lk(mu_);
  return clock_.Transfer(write, bytes, nowNs);
}

}  // namespace plat::sim

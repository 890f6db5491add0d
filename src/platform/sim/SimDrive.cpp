#include "platform/sim/SimDrive.h"

#include <algorithm>
#include <cstring>

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
  auto* p = static_cast<uint8_t*>(out);
  std::memset(p, 0, static_cast<size_t>(count) * kSectorSize);
  for (auto it = store_.lower_bound(lba); it != store_.end() && it->first < lba + count; ++it)
    std::memcpy(p + (it->first - lba) * kSectorSize, it->second.data(), kSectorSize);
  return true;
}

bool SimDrive::Write(uint64_t lba, uint32_t count, const void* data) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Inside(lba, count, sectors_)) return false;
  const auto* p = static_cast<const uint8_t*>(data);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* s = p + static_cast<size_t>(i) * kSectorSize;
    if (std::all_of(s, s + kSectorSize, [](uint8_t b) { return b == 0; })) {
      store_.erase(lba + i);  // zeros read back as zeros anyway; keeps the store sparse
    } else {
      store_[lba + i].assign(s, s + kSectorSize);
    }
  }
  return true;
}

bool SimDrive::Trim(uint64_t lba, uint64_t count, const std::string& command) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Inside(lba, count, sectors_)) return false;
  store_.erase(store_.lower_bound(lba), store_.lower_bound(lba + count));
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
  return store_.count(lba) != 0;
}

}  // namespace plat::sim

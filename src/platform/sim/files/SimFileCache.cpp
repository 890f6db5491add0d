#include "platform/sim/files/SimFileCache.h"

namespace plat::sim {

uint8_t* SimFileCache::Find(uint64_t file, uint64_t page) {
  auto it = pages_.find({file, page});
  if (it == pages_.end()) return nullptr;
  lru_.splice(lru_.begin(), lru_, it->second.lru);
  return it->second.bytes.get();
}

uint8_t* SimFileCache::Put(uint64_t file, uint64_t page) {
  Drop(file, page, page + 1);
  while (!lru_.empty() && Bytes() + kPageBytes > limit_) {
    pages_.erase(lru_.back());
    lru_.pop_back();
  }
  lru_.push_front({file, page});
  Page& p = pages_[{file, page}];
  p.bytes.reset(new uint8_t[kPageBytes]());
  p.lru = lru_.begin();
  return p.bytes.get();
}

void SimFileCache::Drop(uint64_t file, uint64_t from, uint64_t to) {
  for (auto it = pages_.lower_bound({file, from});
       it != pages_.end() && it->first.first == file && it->first.second < to;) {
    lru_.erase(it->second.lru);
    it = pages_.erase(it);
  }
}

void SimFileCache::Clear() {
  pages_.clear();
  lru_.clear();
}

}  // namespace plat::sim

// The simulated machine's cache of file data, as Windows' cache manager keeps it for reads and
// writes without FILE_FLAG_NO_BUFFERING: pages of 256 KiB per file, the least recently used
// going first once the limit is reached. A page in the cache is read without the drive. Not
// thread-safe (the volume's lock guards it).
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <utility>

namespace plat::sim {

class SimFileCache {
 public:
  static constexpr uint64_t kPageBytes = 256 << 10;

  void SetLimit(uint64_t bytes) { limit_ = bytes; }
  uint64_t Limit() const { return limit_; }
  uint64_t Bytes() const { return pages_.size() * kPageBytes; }

  // The page of a file, null when it is not cached.
  uint8_t* Find(uint64_t file, uint64_t page);
  // A new page (zeros) for the caller to fill; older pages go to keep within the limit.
  uint8_t* Put(uint64_t file, uint64_t page);
  // Pages [from, to) of a file, or all of them from `from` on.
  void Drop(uint64_t file, uint64_t from = 0, uint64_t to = UINT64_MAX);
  void Clear();

 private:
  using Key = std::pair<uint64_t, uint64_t>;
  struct Page {
    std::unique_ptr<uint8_t[]> bytes;
    std::list<Key>::iterator lru;
  };
  std::map<Key, Page> pages_;
  std::list<Key> lru_;  // most recent first
  uint64_t limit_ = 64ull << 20;
};

}  // namespace plat::sim

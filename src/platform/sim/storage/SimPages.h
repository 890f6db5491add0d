// Sparse byte storage in 1 MiB pages, for a simulated drive of any size: a page exists only once
// something other than zeros was written into it, and goes again when it reads as zeros. A page
// holds its bytes, or, when what was written there continues an xorshift32 stream (shifts 13,
// 17, 5: every 32-bit little-endian word the step of the one before), only where each such run
// starts and ends: the bytes follow from that, so gigabytes of generated test content cost no
// memory. Either way a read returns exactly the bytes written. Not thread-safe (the drive locks).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace plat::sim {

// One step of xorshift32 with shifts 13, 17, 5, and k steps at once.
inline uint32_t XorShift32(uint32_t x) {
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}
uint32_t XorShift32Jump(uint32_t x, uint64_t steps);

class SimPageStore {
 public:
  static constexpr uint64_t kPageBytes = 1 << 20;

  void Write(uint64_t offset, const void* data, uint64_t length);
  void Read(uint64_t offset, void* out, uint64_t length) const;
  void Zero(uint64_t offset, uint64_t length);
  // Whether any byte of [offset, offset + length) is not zero.
  bool HoldsData(uint64_t offset, uint64_t length) const;
  // Host memory the pages hold (their bytes; a stream run costs a few words).
  uint64_t MemoryBytes() const;
  size_t PageCount() const { return pages_.size(); }

 private:
  // Bytes [at, at + len) of the page continue the stream: first and last are its first and last
  // word.
  struct Run {
    uint32_t at, len, first, last;
  };
  struct Page {
    std::unique_ptr<uint8_t[]> bytes;  // set: the page's bytes; else the runs, zeros between
    std::vector<Run> runs;
  };
  static constexpr size_t kMaxRuns = 16;

  static void Materialise(Page& p);
  static void CutRuns(Page& p, uint32_t a, uint32_t b);
  static void ReadPage(const Page& p, uint32_t a, uint32_t n, uint8_t* out);
  void WritePage(uint64_t index, uint32_t a, uint32_t n, const uint8_t* data);
  void ZeroPage(uint64_t index, uint32_t a, uint32_t n);

  std::map<uint64_t, Page> pages_;
};

}  // namespace plat::sim

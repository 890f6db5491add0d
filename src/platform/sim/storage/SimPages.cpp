#include "platform/sim/storage/SimPages.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace plat::sim {

static_assert(std::endian::native == std::endian::little, "stream words are stored as the host holds them");

namespace {

constexpr uint32_t kPage = static_cast<uint32_t>(SimPageStore::kPageBytes);

// xorshift32 is linear over GF(2): k steps are one 32x32 bit matrix, kept as its 32 columns
// (the images of the single bits), for every power of two.
using Matrix = std::array<uint32_t, 32>;

uint32_t Apply(const Matrix& m, uint32_t x) {
  uint32_t r = 0;
  for (; x; x &= x - 1) r ^= m[std::countr_zero(x)];
  return r;
}

const std::array<Matrix, 64>& Powers() {
  static const std::array<Matrix, 64> powers = [] {
    std::array<Matrix, 64> p{};
    for (int i = 0; i < 32; ++i) p[0][i] = XorShift32(1u << i);
    for (int k = 1; k < 64; ++k)
      for (int i = 0; i < 32; ++i) p[k][i] = Apply(p[k - 1], p[k - 1][i]);
    return p;
  }();
  return powers;
}

uint32_t LoadWord(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}

bool AllZero(const uint8_t* p, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (w) return false;
  }
  for (; i < n; ++i)
    if (p[i]) return false;
  return true;
}

// Whether d[0, n) is one stream run (n a multiple of 4): each word the step of the one before.
// A zero word never starts one (zero is xorshift's fixed point, and zeros need no storing). Each
// pair of words is checked on its own, so the loop waits on no chain and vectorises.
bool IsRun(const uint8_t* d, uint32_t n, uint32_t* first, uint32_t* last) {
  const uint32_t words = n / 4;
  if (LoadWord(d) == 0) return false;
  constexpr uint32_t kBlock = 1024;  // a block at a time, to stop early on other content
  for (uint32_t i = 0; i + 1 < words;) {
    const uint32_t end = std::min(words - 1, i + kBlock);
    uint32_t diff = 0;
    for (uint32_t k = i; k < end; ++k) diff |= XorShift32(LoadWord(d + 4 * k)) ^ LoadWord(d + 4 * (k + 1));
    if (diff) return false;
    i = end;
  }
  *first = LoadWord(d);
  *last = LoadWord(d + n - 4);
  return true;
}

// `words` words of the stream from word x on. Long stretches run as eight chains side by side,
// each started where its part begins, since one chain waits on every step.
void GenerateWords(uint32_t x, uint8_t* out, uint32_t words) {
  constexpr uint32_t kLanes = 8;
  uint32_t done = 0;
  if (words >= 4096) {
    const uint32_t per = words / kLanes;
    uint32_t lane[kLanes];
    for (uint32_t k = 0; k < kLanes; ++k) lane[k] = XorShift32Jump(x, uint64_t(k) * per);
    for (uint32_t i = 0; i < per; ++i)
      for (uint32_t k = 0; k < kLanes; ++k) {
        std::memcpy(out + 4 * (uint64_t(k) * per + i), &lane[k], 4);
        lane[k] = XorShift32(lane[k]);
      }
    done = per * kLanes;
    x = lane[kLanes - 1];
  }
  for (; done < words; ++done) {
    std::memcpy(out + 4 * uint64_t(done), &x, 4);
    x = XorShift32(x);
  }
}

// n bytes of the stream whose word at the start of out (less skip bytes) is x.
void Generate(uint32_t x, uint32_t skip, uint8_t* out, uint32_t n) {
  if (skip) {
    uint8_t w[4];
    std::memcpy(w, &x, 4);
    const uint32_t k = std::min(4 - skip, n);
    std::memcpy(out, w + skip, k);
    out += k;
    n -= k;
    x = XorShift32(x);
  }
  const uint32_t words = n / 4;
  GenerateWords(x, out, words);
  if (n % 4) {
    x = XorShift32Jump(x, words);
    std::memcpy(out + 4 * uint64_t(words), &x, n % 4);
  }
}

}  // namespace

uint32_t XorShift32Jump(uint32_t x, uint64_t steps) {
  const auto& p = Powers();
  for (int k = 0; steps; ++k, steps >>= 1)
    if (steps & 1) x = Apply(p[k], x);
  return x;
}

void SimPageStore::Materialise(Page& p) {
  if (p.bytes) return;
  p.bytes.reset(new uint8_t[kPage]());
  for (const Run& r : p.runs) Generate(r.first, 0, p.bytes.get() + r.at, r.len);
  p.runs.clear();
}

// Removes [a, b) (multiples of 4) from the runs, keeping what lies on either side.
void SimPageStore::CutRuns(Page& p, uint32_t a, uint32_t b) {
  std::vector<Run> kept;
  for (const Run& r : p.runs) {
    const uint32_t end = r.at + r.len;
    if (end <= a || r.at >= b) {
      kept.push_back(r);
      continue;
    }
    if (r.at < a) kept.push_back({r.at, a - r.at, r.first, XorShift32Jump(r.first, (a - r.at) / 4 - 1)});
    if (end > b) kept.push_back({b, end - b, XorShift32Jump(r.first, (b - r.at) / 4), r.last});
  }
  p.runs.swap(kept);
}

void SimPageStore::ReadPage(const Page& p, uint32_t a, uint32_t n, uint8_t* out) {
  if (p.bytes) {
    std::memcpy(out, p.bytes.get() + a, n);
    return;
  }
  std::memset(out, 0, n);
  for (const Run& r : p.runs) {
    const uint32_t s = std::max(a, r.at);
    const uint32_t e = std::min(a + n, r.at + r.len);
    if (s >= e) continue;
    const uint32_t into = s - r.at;
    Generate(XorShift32Jump(r.first, into / 4), into % 4, out + (s - a), e - s);
  }
}

void SimPageStore::WritePage(uint64_t index, uint32_t a, uint32_t n, const uint8_t* data) {
  if (AllZero(data, n)) {
    ZeroPage(index, a, n);
    return;
  }
  uint32_t first = 0, last = 0;
  const bool run = a % 4 == 0 && n % 4 == 0 && IsRun(data, n, &first, &last);
  Page& p = pages_[index];
  if (run && (!p.bytes || n == kPage)) {
    p.bytes.reset();
    CutRuns(p, a, a + n);
    const Run add{a, n, first, last};
    p.runs.insert(std::upper_bound(p.runs.begin(), p.runs.end(), add,
                                   [](const Run& x, const Run& y) { return x.at < y.at; }),
                  add);
    // A run that goes on where the one before it stopped is one run.
    std::vector<Run> merged;
    for (const Run& r : p.runs) {
      if (!merged.empty() && merged.back().at + merged.back().len == r.at &&
          XorShift32(merged.back().last) == r.first) {
        merged.back().len += r.len;
        merged.back().last = r.last;
      } else {
        merged.push_back(r);
      }
    }
    p.runs.swap(merged);
    if (p.runs.size() > kMaxRuns) Materialise(p);
    return;
  }
  Materialise(p);
  std::memcpy(p.bytes.get() + a, data, n);
}

void SimPageStore::ZeroPage(uint64_t index, uint32_t a, uint32_t n) {
  auto it = pages_.find(index);
  if (it == pages_.end()) return;
  Page& p = it->second;
  if (n == kPage) {
    pages_.erase(it);
    return;
  }
  if (!p.bytes && (a % 4 || n % 4)) Materialise(p);
  if (p.bytes) {
    std::memset(p.bytes.get() + a, 0, n);
    if (AllZero(p.bytes.get(), a) && AllZero(p.bytes.get() + a + n, kPage - a - n)) pages_.erase(it);
    return;
  }
  CutRuns(p, a, a + n);
  if (p.runs.empty()) pages_.erase(it);
}

void SimPageStore::Write(uint64_t offset, const void* data, uint64_t length) {
  const auto* d = static_cast<const uint8_t*>(data);
  while (length) {
    const uint32_t a = static_cast<uint32_t>(offset % kPage);
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kPage - a, length));
    WritePage(offset / kPage, a, n, d);
    offset += n;
    d += n;
    length -= n;
  }
}

void SimPageStore::Read(uint64_t offset, void* out, uint64_t length) const {
  auto* o = static_cast<uint8_t*>(out);
  while (length) {
    const uint32_t a = static_cast<uint32_t>(offset % kPage);
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kPage - a, length));
    auto it = pages_.find(offset / kPage);
    if (it == pages_.end())
      std::memset(o, 0, n);
    else
      ReadPage(it->second, a, n, o);
    offset += n;
    o += n;
    length -= n;
  }
}

void SimPageStore::Zero(uint64_t offset, uint64_t length) {
  while (length) {
    const uint32_t a = static_cast<uint32_t>(offset % kPage);
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kPage - a, length));
    // Whole pages are dropped without a look; a long release costs one step per page held.
    if (a == 0 && length >= kPage) {
      auto from = pages_.lower_bound(offset / kPage);
      auto to = pages_.lower_bound((offset + length) / kPage);
      pages_.erase(from, to);
      const uint64_t whole = length / kPage * kPage;
      offset += whole;
      length -= whole;
      continue;
    }
    ZeroPage(offset / kPage, a, n);
    offset += n;
    length -= n;
  }
}

bool SimPageStore::HoldsData(uint64_t offset, uint64_t length) const {
  for (auto it = pages_.lower_bound(offset / kPage); it != pages_.end() && it->first * kPage < offset + length;
       ++it) {
    const uint64_t base = it->first * kPage;
    const uint32_t a = static_cast<uint32_t>(std::max(offset, base) - base);
    const uint32_t e = static_cast<uint32_t>(std::min(offset + length, base + kPage) - base);
    const Page& p = it->second;
    if (p.bytes) {
      if (!AllZero(p.bytes.get() + a, e - a)) return true;
      continue;
    }
    for (const Run& r : p.runs)
      if (r.at < e && r.at + r.len > a) return true;
  }
  return false;
}

uint64_t SimPageStore::MemoryBytes() const {
  uint64_t n = 0;
  for (const auto& [index, p] : pages_) n += 64 + (p.bytes ? kPage : 0) + p.runs.capacity() * sizeof(Run);
  return n;
}

}  // namespace plat::sim

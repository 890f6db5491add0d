// Writing and reading files on the simulated machine the way the real TRIM test does: content
// from an xorshift32 stream (shifts 13, 17, 5) seeded per file, written in 4 MiB blocks and read
// back in 1 MiB blocks, from buffers aligned to any sector size.
#pragma once

#include <algorithm>
#include <cstdint>
#include <new>
#include <cstring>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace volfiles {

// A buffer aligned to 4096 bytes, as unbuffered I/O asks.
struct AlignedBuffer {
  explicit AlignedBuffer(size_t n)
      : size(n), data(static_cast<uint8_t*>(::operator new (n, std::align_val_t{4096}))) {}
  ~AlignedBuffer() { ::operator delete (data, std::align_val_t{4096}); }
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  size_t size;
  uint8_t* data;
};

// The next n bytes of the stream (n a multiple of 4); state carries on from block to block.
inline void Fill(uint8_t* out, size_t n, uint32_t& state) {
  uint32_t x = state ? state : 1;
  for (size_t i = 0; i < n; i += 4) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    std::memcpy(out + i, &x, 4);
  }
  state = x;
}

inline uint32_t Fnv(uint32_t h, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

// The hash a file of that seed and size must have.
inline uint32_t ExpectedHash(uint32_t seed, uint64_t size) {
  AlignedBuffer b(4 << 20);
  uint32_t h = 2166136261u, state = seed;
  for (uint64_t left = size; left;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, b.size));
    Fill(b.data, n, state);
    h = Fnv(h, b.data, n);
    left -= n;
  }
  return h;
}

// Creates (replacing) the file and writes size bytes of the seed's stream; the last error of
// the call that failed, or 0.
inline plat::DWORD WriteStreamFile(const std::string& path, uint32_t seed, uint64_t size,
                                   plat::DWORD flags = plat::FILE_FLAG_NO_BUFFERING |
                                                       plat::FILE_FLAG_WRITE_THROUGH) {
  using namespace plat;
  HANDLE h = Win().CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, flags);
  if (!IsValidHandle(h)) return Win().GetLastError();
  AlignedBuffer b(4 << 20);
  uint32_t state = seed;
  DWORD error = 0;
  for (uint64_t left = size; left && !error;) {
    const DWORD n = static_cast<DWORD>(std::min<uint64_t>(left, b.size));
    Fill(b.data, n, state);
    DWORD done = 0;
    if (!Win().WriteFile(h, b.data, n, &done)) error = Win().GetLastError();
    left -= n;
  }
  Win().CloseHandle(h);
  return error;
}

// The file's hash as read back in 1 MiB blocks; the complement of the offset basis when it does
// not open.
inline uint32_t FileHash(const std::string& path, plat::DWORD flags = plat::FILE_FLAG_NO_BUFFERING) {
  using namespace plat;
  HANDLE h = Win().CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, flags);
  if (!IsValidHandle(h)) return ~2166136261u;
  AlignedBuffer b(1 << 20);
  uint32_t hash = 2166136261u;
  for (DWORD n = 0; Win().ReadFile(h, b.data, static_cast<DWORD>(b.size), &n) && n;) hash = Fnv(hash, b.data, n);
  Win().CloseHandle(h);
  return hash;
}

}  // namespace volfiles

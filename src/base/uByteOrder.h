// Bounds-checked little- and big-endian fields over byte spans.
//
// Every command block, parameter list and request buffer of the device layer is written and read
// through these two classes, so no builder computes a shifted byte by hand. A put or get that
// would reach past the end does nothing (a get yields 0) and clears Ok(); a builder checks Ok()
// once at the end instead of after every field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

class TByteWriter {
 public:
  explicit TByteWriter(std::span<uint8_t> Buf) : FBuf(Buf) {}

  bool Ok() const { return FOk; }
  size_t Size() const { return FBuf.size(); }

  void Zero() {
    for (auto& b : FBuf) b = 0;
  }
  void U8(size_t Off, uint8_t V) { Put(Off, V, 1, false); }
  void LE16(size_t Off, uint16_t V) { Put(Off, V, 2, false); }
  void LE32(size_t Off, uint32_t V) { Put(Off, V, 4, false); }
  void LE64(size_t Off, uint64_t V) { Put(Off, V, 8, false); }
  void BE16(size_t Off, uint16_t V) { Put(Off, V, 2, true); }
  void BE32(size_t Off, uint32_t V) { Put(Off, V, 4, true); }
  void BE64(size_t Off, uint64_t V) { Put(Off, V, 8, true); }
  void Bytes(size_t Off, std::span<const uint8_t> Src) {
    if (!Fits(Off, Src.size())) return;
    for (size_t i = 0; i < Src.size(); ++i) FBuf[Off + i] = Src[i];
  }

 private:
  bool Fits(size_t Off, size_t N) {
    if (Off > FBuf.size() || N > FBuf.size() - Off) {
      FOk = false;
      return false;
    }
    return true;
  }
  void Put(size_t Off, uint64_t V, size_t N, bool BigEndian) {
    if (!Fits(Off, N)) return;
    for (size_t i = 0; i < N; ++i) {
      const uint8_t b = static_cast<uint8_t>(V >> (8 * i));
      FBuf[BigEndian ? Off + N - 1 - i : Off + i] = b;
    }
  }

  std::span<uint8_t> FBuf;
  bool FOk = true;
};

class TByteReader {
 public:
  explicit TByteReader(std::span<const uint8_t> Buf) : FBuf(Buf) {}

  bool Ok() const { return FOk; }
  size_t Size() const { return FBuf.size(); }

  uint8_t U8(size_t Off) { return static_cast<uint8_t>(Get(Off, 1, false)); }
  uint16_t LE16(size_t Off) { return static_cast<uint16_t>(Get(Off, 2, false)); }
  uint32_t LE32(size_t Off) { return static_cast<uint32_t>(Get(Off, 4, false)); }
  uint64_t LE64(size_t Off) { return Get(Off, 8, false); }
  uint16_t BE16(size_t Off) { return static_cast<uint16_t>(Get(Off, 2, true)); }
  uint32_t BE32(size_t Off) { return static_cast<uint32_t>(Get(Off, 4, true)); }
  uint64_t BE64(size_t Off) { return Get(Off, 8, true); }

 private:
  uint64_t Get(size_t Off, size_t N, bool BigEndian) {
    if (Off > FBuf.size() || N > FBuf.size() - Off) {
      FOk = false;
      return 0;
    }
    uint64_t V = 0;
    for (size_t i = 0; i < N; ++i) {
      const uint64_t b = FBuf[BigEndian ? Off + N - 1 - i : Off + i];
      V |= b << (8 * i);
    }
    return V;
  }

  std::span<const uint8_t> FBuf;
  bool FOk = true;
};

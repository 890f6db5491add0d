// Little-endian reads and writes over byte buffers, for on-disk and control-request records.
#pragma once

#include <cstdint>

namespace le {

inline uint16_t Get16(const uint8_t* P) { return static_cast<uint16_t>(P[0] | (P[1] << 8)); }
inline uint32_t Get32(const uint8_t* P) {
  return static_cast<uint32_t>(P[0]) | (static_cast<uint32_t>(P[1]) << 8) | (static_cast<uint32_t>(P[2]) << 16) |
         (static_cast<uint32_t>(P[3]) << 24);
}
inline uint64_t Get64(const uint8_t* P) { return Get32(P) | (static_cast<uint64_t>(Get32(P + 4)) << 32); }

inline void Put16(uint8_t* P, uint16_t V) {
  P[0] = static_cast<uint8_t>(V);
  P[1] = static_cast<uint8_t>(V >> 8);
}
inline void Put32(uint8_t* P, uint32_t V) {
  for (int i = 0; i < 4; ++i) P[i] = static_cast<uint8_t>(V >> (8 * i));
}
inline void Put64(uint8_t* P, uint64_t V) {
  for (int i = 0; i < 8; ++i) P[i] = static_cast<uint8_t>(V >> (8 * i));
}

}  // namespace le

// Helpers shared by the enumerator's source files only.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/WinStorage.h"

namespace diskenum_detail {

// Closes the handle on every way out; keeps the thread's last error across the close, so a
// failure line logged afterwards still reads the request's own error.
class THandleGuard {
 public:
  explicit THandleGuard(plat::HANDLE H) : FHandle(H) {}
  ~THandleGuard() {
    if (!Valid()) return;
    const plat::DWORD Err = plat::Win().GetLastError();
    plat::Win().CloseHandle(FHandle);
    plat::Win().SetLastError(Err);
  }
  THandleGuard(const THandleGuard&) = delete;
  THandleGuard& operator=(const THandleGuard&) = delete;
  bool Valid() const { return FHandle != nullptr && FHandle != plat::InvalidHandleValue(); }
  plat::HANDLE Get() const { return FHandle; }

 private:
  plat::HANDLE FHandle;
};

// Little-endian fields; a field that does not fit inside Buf reads as 0.
inline uint64_t GetLE(std::span<const uint8_t> Buf, size_t Off, size_t N) {
  if (Off > Buf.size() || N > Buf.size() - Off) return 0;
  uint64_t V = 0;
  for (size_t i = 0; i < N; ++i) V |= uint64_t(Buf[Off + i]) << (8 * i);
  return V;
}
inline uint32_t GetLE32(std::span<const uint8_t> Buf, size_t Off) { return uint32_t(GetLE(Buf, Off, 4)); }
inline void PutLE32(std::span<uint8_t> Buf, size_t Off, uint32_t V) {
  if (Off > Buf.size() || 4 > Buf.size() - Off) return;
  for (size_t i = 0; i < 4; ++i) Buf[Off + i] = uint8_t(V >> (8 * i));
}

inline std::string UpperAscii(std::string S) {
  for (char& c : S)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return S;
}

inline bool Contains(const std::string& H, const char* Word) { return H.find(Word) != std::string::npos; }

// A storage property query (PropertyStandardQuery) for PropertyId.
inline std::vector<uint8_t> PropertyQuery(uint32_t PropertyId) {
  std::vector<uint8_t> Q(plat::spq::kSize, 0);
  PutLE32(Q, plat::spq::kPropertyId, PropertyId);
  PutLE32(Q, plat::spq::kQueryType, plat::spq::PropertyStandardQuery);
  return Q;
}

}  // namespace diskenum_detail

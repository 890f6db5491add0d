// Helpers shared by the enumerator's source files only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/uByteOrder.h"
#include "platform/Platform.h"
#include "platform/WinStorage.h"

namespace diskenum_detail {

inline bool Contains(const std::string& H, const char* Word) { return H.find(Word) != std::string::npos; }

// A storage property query (PropertyStandardQuery) for PropertyId.
inline std::vector<uint8_t> PropertyQuery(uint32_t PropertyId) {
  std::vector<uint8_t> Q(plat::spq::kSize, 0);
  TByteWriter W(Q);
  W.LE32(plat::spq::kPropertyId, PropertyId);
  W.LE32(plat::spq::kQueryType, plat::spq::PropertyStandardQuery);
  return Q;
}

enum class TDescriptorRead { drOk, drHeaderFailed, drTooSmall, drDataFailed };

// The storage device descriptor in two queries: the header for its Size, then Size bytes. On
// drHeaderFailed and drDataFailed the thread's last error is still the request's.
TDescriptorRead ReadDeviceDescriptor(plat::HANDLE Handle, std::vector<uint8_t>& Desc, uint32_t& Size);

}  // namespace diskenum_detail

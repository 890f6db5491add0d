#include "platform/sim/kernel/SimCodePage.h"

#include <cstring>
#include <string>

#include "base/uUtf.h"
#include "platform/sim/kernel/SimKernel.h"

namespace plat::sim {

namespace {

// Windows-1252 bytes 80h to 9Fh; the rest of the code page is Latin-1. Unassigned bytes map to
// the control character of the same value, as Windows does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

int SimMultiByteToWideChar(UINT codePage, DWORD /*flags*/, const char* src, int srcLen, char16_t* dst,
                           int dstLen) {
  if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0) {
    SimSetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t n = srcLen == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
  std::u16string out;
  if (codePage == CP_UTF8) {
    out = Utf8ToUtf16(std::string_view(src, n));
  } else if (codePage == CP_ACP) {
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
      const auto b = static_cast<unsigned char>(src[i]);
      out += (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
    }
  } else {
    SimSetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (dstLen == 0) return static_cast<int>(out.size());
  if (!dst || out.size() > static_cast<size_t>(dstLen)) {
    SimSetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, out.data(), out.size() * sizeof(char16_t));
  return static_cast<int>(out.size());
}

}  // namespace plat::sim

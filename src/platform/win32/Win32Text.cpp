#include "platform/win32/Win32Text.h"

#include "base/uUtf.h"

namespace plat::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring Wide(const std::string& s) {
  std::u16string u = Utf8ToUtf16(s);
  return std::wstring(u.begin(), u.end());
}

const wchar_t* WideOrNull(const std::wstring& w) { return w.empty() ? nullptr : w.c_str(); }

std::string Narrow(const wchar_t* p, size_t n) {
  if (!p) return {};
  return Utf16ToUtf8(U16FromBuffer(reinterpret_cast<const char16_t*>(p), n));
}

}  // namespace plat::win32

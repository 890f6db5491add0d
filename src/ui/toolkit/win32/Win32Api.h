// The Windows headers for the toolkit's Win32 backend, and the UTF-16 conversions of its edge.
//
// Include after the toolkit's and the platform's headers: those use names that <windows.h>
// defines as macros (TextOut, DefWindowProc, MessageBox), so the macros are removed again here.
#pragma once

#include <string>
#include <string_view>

#include "base/uUtf.h"

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#undef TextOut
#undef DefWindowProc
#undef MessageBox

namespace tk::win32 {

inline std::wstring Wide(std::string_view s) {
  std::u16string u = Utf8ToUtf16(s);
  return std::wstring(u.begin(), u.end());
}

inline std::string Narrow(const wchar_t* p, size_t n) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(p), n));
}
inline std::string Narrow(const std::wstring& s) { return Narrow(s.data(), s.size()); }

// The text of a window, as UTF-8.
inline std::string WindowText(HWND Wnd) {
  std::wstring buf(static_cast<size_t>(GetWindowTextLengthW(Wnd)) + 1, L'\0');
  int n = GetWindowTextW(Wnd, buf.data(), static_cast<int>(buf.size()));
  return Narrow(buf.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

}  // namespace tk::win32

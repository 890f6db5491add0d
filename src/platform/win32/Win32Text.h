// UTF-8 <-> UTF-16 at the edge of the Win32 layer. wchar_t is a UTF-16 code unit on Windows.
#pragma once

#include <cstddef>
#include <string>

namespace plat::win32 {

std::wstring Wide(const std::string& s);
// Null for an empty text: for the optional text parameters of a call.
const wchar_t* WideOrNull(const std::wstring& w);
// Up to the first NUL, never past n units.
std::string Narrow(const wchar_t* p, size_t n);
inline std::string Narrow(const std::wstring& w) { return Narrow(w.data(), w.size()); }

}  // namespace plat::win32

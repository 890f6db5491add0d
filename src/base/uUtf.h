// UTF-8 inside the program, UTF-16 at the Windows edge. Conversions never throw: a broken
// sequence becomes U+FFFD, so a bad name from a device or a file can't end a run.
#pragma once

#include <string>
#include <string_view>

std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);
// Reads a NUL-terminated UTF-16 text, never past `maxUnits` code units.
std::u16string U16FromBuffer(const char16_t* p, size_t maxUnits);

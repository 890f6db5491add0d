// Small text routines on UTF-8 text. Codes 0 to 32 and ASCII letters are single bytes in UTF-8,
// so these work bytewise and never touch a multi-byte character.
#pragma once

#include <string>
#include <string_view>

// Removes characters of codes 0 to 32 (controls, blank, NUL) at both ends / the start / the end.
std::string Trim(std::string_view S);
std::string TrimLeft(std::string_view S);
std::string TrimRight(std::string_view S);

// ASCII letters only, the rest unchanged: file-system names, bus tags, hint texts.
std::string UpperCase(std::string_view S);
std::string LowerCase(std::string_view S);

// JSON string escaping, shared by every JSON file the program writes.
#pragma once

#include <string>

// Quotation mark, backslash, \b \t \n \f \r, and every other code below 20h as \u with four
// upper-case hex digits; all else (UTF-8 bytes too) unchanged.
std::string JsonEscape(const std::string& S);

#pragma once

// The eight text tables, one translation unit each. Each definition asserts
// its own entry count, so an id can never silently shift.
extern const char* const kLangTextKo[];
extern const char* const kLangTextEn[];
extern const char* const kLangTextJa[];
extern const char* const kLangTextZh[];
extern const char* const kLangTextEs[];
extern const char* const kLangTextDe[];
extern const char* const kLangTextFr[];
extern const char* const kLangTextRu[];

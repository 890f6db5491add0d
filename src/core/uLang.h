#pragma once

#include <cstdint>
#include <string>

#include "core/uTextIds.h"

// Interface language, in the order of the text tables. Stored as a plain
// 32-bit value: the settings file and the selector may hand in any number.
enum class TUiLanguage : int32_t {
  ulKorean = 0,
  ulEnglish = 1,
  ulJapanese = 2,
  ulChineseSimplified = 3,
  ulSpanish = 4,
  ulGerman = 5,
  ulFrench = 6,
  ulRussian = 7
};

constexpr int32_t kLangTextCount = 255;
static_assert(TextIndex(TTextId::InitSkippedCancelled) + 1 == kLangTextCount, "one TTextId per table entry");

// Text Id in the current language, UTF-8. Callable from any thread.
std::string GetLangText(TTextId Id);
// The same by table index; "?" for an index outside the table.
std::string GetLangText(int32_t Id);

TUiLanguage GetCurrentLanguage();
// No range check: a language outside the table reads as English.
void SetCurrentLanguage(TUiLanguage Lang);

// From the Windows user interface language; English for anything unlisted.
TUiLanguage DetectUILanguage();

// Native name for the language selector; "English" outside the table.
std::string LanguageDisplayName(TUiLanguage Lang);
int32_t LanguageCount();
// Selector index or stored settings number to a language; English if invalid.
TUiLanguage LanguageFromIndex(int32_t Index);

// One language's table regardless of the current language (kLangTextCount
// entries); a language outside the table gives the English one.
const char* const* LangTableFor(TUiLanguage Lang);

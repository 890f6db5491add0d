#include "core/uLang.h"

#include <atomic>
#include <iterator>

#include "core/uLangTables.h"
#include "platform/Platform.h"

namespace {

// Written by the main thread, read by the run and real-test threads.
std::atomic<int32_t> CurrentLanguage{static_cast<int32_t>(TUiLanguage::ulKorean)};

const char* const* const LangTable[] = {
    kLangTextKo, kLangTextEn, kLangTextJa, kLangTextZh, kLangTextEs, kLangTextDe, kLangTextFr, kLangTextRu,
};

const char* const DisplayNames[] = {
    "한국어", "English", "日本語", "简体中文", "Español", "Deutsch", "Français", "Русский",
};

constexpr int32_t kLanguageCount = 8;
static_assert(std::size(LangTable) == kLanguageCount);
static_assert(std::size(DisplayNames) == kLanguageCount);

bool IsValidLanguage(int32_t Value) { return Value >= 0 && Value < kLanguageCount; }

}  // namespace

const char* const* LangTableFor(TUiLanguage Lang) {
  const int32_t Value = static_cast<int32_t>(Lang);
  return LangTable[IsValidLanguage(Value) ? Value : static_cast<int32_t>(TUiLanguage::ulEnglish)];
}

std::string GetLangText(int32_t Id) {
  if (Id < 0 || Id >= kLangTextCount) return "?";
  return LangTableFor(GetCurrentLanguage())[Id];
}

std::string GetLangText(TTextId Id) { return GetLangText(TextIndex(Id)); }

TUiLanguage GetCurrentLanguage() {
  return static_cast<TUiLanguage>(CurrentLanguage.load(std::memory_order_relaxed));
}

void SetCurrentLanguage(TUiLanguage Lang) {
  CurrentLanguage.store(static_cast<int32_t>(Lang), std::memory_order_relaxed);
}

TUiLanguage DetectUILanguage() {
  const uint16_t LangId = plat::Win().GetUserDefaultUILanguage();
  const uint16_t Primary = LangId & 0x3FF;
  const uint16_t Sub = LangId >> 10;
  switch (Primary) {
    // Only the PRC sublanguage reads simplified script; Taiwan, Hong Kong,
    // Singapore and Macao get the fallback rather than the wrong script.
    case 0x04: return Sub == 2 ? TUiLanguage::ulChineseSimplified : TUiLanguage::ulEnglish;
    case 0x07: return TUiLanguage::ulGerman;
    case 0x09: return TUiLanguage::ulEnglish;
    case 0x0A: return TUiLanguage::ulSpanish;
    case 0x0C: return TUiLanguage::ulFrench;
    case 0x11: return TUiLanguage::ulJapanese;
    case 0x12: return TUiLanguage::ulKorean;
    case 0x19: return TUiLanguage::ulRussian;
    default: return TUiLanguage::ulEnglish;
  }
}

std::string LanguageDisplayName(TUiLanguage Lang) {
  const int32_t Value = static_cast<int32_t>(Lang);
  return DisplayNames[IsValidLanguage(Value) ? Value : static_cast<int32_t>(TUiLanguage::ulEnglish)];
}

int32_t LanguageCount() { return kLanguageCount; }

TUiLanguage LanguageFromIndex(int32_t Index) {
  return IsValidLanguage(Index) ? static_cast<TUiLanguage>(Index) : TUiLanguage::ulEnglish;
}

// Under wine: the fonts the system draws window titles, message boxes and the controls in draw
// Korean, Japanese, Chinese and Russian letters, not the box of a letter the font lacks (the
// prefix tools/wine-run prepares falls back to fonts that have them, for bold titles too).
#include "ui/toolkit/win32/Win32Peer.h"

#include "ui/toolkit/win32/Win32PaintCheck.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tk::win32::testing {
namespace {

// Text drawn in Font, as pixels.
std::vector<uint32_t> Drawn(const LOGFONTW& Font, const std::wstring& Text) {
  HFONT font = CreateFontIndirectW(&Font);
  auto px = DrawnText(font, Text, DT_NOPREFIX | DT_SINGLELINE, {2, 2, 62, 38}, 64, 40);
  DeleteObject(font);
  return px;
}

TEST(Win32FontsTest, TitlesBoxesAndControlsDrawEveryScriptOfTheTextTable) {
  NONCLIENTMETRICSW ncm = {};
  ncm.cbSize = sizeof(ncm);
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0));
  const struct {
    const char* Name;
    LOGFONTW Font;
  } fonts[] = {{"window titles", ncm.lfCaptionFont},
               {"small titles", ncm.lfSmCaptionFont},
               {"message boxes and controls", ncm.lfMessageFont}};
  // Two letters of each script: a font that lacks them draws the same box for both, and for a
  // private-use code point.
  const struct {
    const char* Script;
    std::wstring A, B;
  } letters[] = {{"Japanese", L"\u63A5", L"\u30AC"},   // 接 ガ
                 {"Korean", L"\uC0C1", L"\uD0DC"},     // 상 태
                 {"Chinese", L"\u72B6", L"\u6001"},    // 状 态
                 {"Russian", L"\u0416", L"\u042F"}};  // Ж Я
  for (const auto& f : fonts) {
    const auto missing = Drawn(f.Font, L"\uE000");
    for (const auto& l : letters) {
      const auto a = Drawn(f.Font, l.A);
      const auto b = Drawn(f.Font, l.B);
      ASSERT_FALSE(a.empty());
      EXPECT_NE(a, b) << f.Name << ": " << l.Script << " letters drawn alike (as boxes)";
      EXPECT_NE(a, missing) << f.Name << ": " << l.Script << " drawn as a missing letter";
    }
  }
}

}  // namespace
}  // namespace tk::win32::testing

#include "core/uText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Trim, RemovesCodesZeroToThirtyTwoAtBothEnds) {
  struct Row {
    std::string in, trim, left, right;
  };
  const Row rows[] = {
      {"", "", "", ""},
      {" \t\r\n", "", "", ""},
      {"a", "a", "a", "a"},
      {"\t a b \r\n", "a b", "a b \r\n", "\t a b"},
      {std::string("\0x\0", 3), "x", std::string("x\0", 2), std::string("\0x", 2)},
      {std::string("\x01\x1F") + "v\x20", "v", "v ", "\x01\x1Fv"},
      {" ä ", "ä", "ä ", " ä"},
      // Above 32 nothing is blank: DEL and the no-break space stay.
      {"\x7F"
       "x\x7F",
       "\x7Fx\x7F", "\x7Fx\x7F", "\x7Fx\x7F"},
      {"\u00A0x\u00A0", "\u00A0x\u00A0", "\u00A0x\u00A0", "\u00A0x\u00A0"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Trim(r.in), r.trim);
    EXPECT_EQ(TrimLeft(r.in), r.left);
    EXPECT_EQ(TrimRight(r.in), r.right);
  }
}

TEST(UpperCase, TouchesAsciiLettersOnly) {
  EXPECT_EQ(UpperCase("exFAT"), "EXFAT");
  EXPECT_EQ(UpperCase("usbstor\\disk&ven_1"), "USBSTOR\\DISK&VEN_1");
  EXPECT_EQ(UpperCase("äb"), "äB");  // a multi-byte character is left whole
  EXPECT_EQ(LowerCase("NTFS ÄB"), "ntfs Äb");
}

}  // namespace

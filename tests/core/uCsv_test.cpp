#include "core/uCsv.h"

#include <gtest/gtest.h>

namespace {

TEST(CsvTest, AFieldIsQuotedOnlyWhenItsTextWouldSplitTheLine) {
  const struct {
    const char* in;
    const char* field;
    const char* quoted;
  } cases[] = {
      {"", "", "\"\""},
      {"plain 12.5", "plain 12.5", "\"plain 12.5\""},
      {"a,b", "\"a,b\"", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\"", "\"say \"\"hi\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\"", "\"two\r\nlines\""},
      {"cr\ronly", "\"cr\ronly\"", "\"cr\ronly\""},
      {"lf\nonly", "\"lf\nonly\"", "\"lf\nonly\""},
      {"E:\\trim_real_test\\file_0001.bin", "E:\\trim_real_test\\file_0001.bin",
       "\"E:\\trim_real_test\\file_0001.bin\""},
      {"ümlaut;tab\t", "ümlaut;tab\t", "\"ümlaut;tab\t\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CsvField(c.in), c.field) << c.in;
    EXPECT_EQ(CsvQuoted(c.in), c.quoted) << c.in;
  }
}

TEST(CsvTest, ARowJoinsItsFieldsAndEndsWithCrLf) {
  EXPECT_EQ(CsvRow({}), "\r\n");
  EXPECT_EQ(CsvRow({"1", CsvField("a,b"), ""}), "1,\"a,b\",\r\n");
}

}  // namespace

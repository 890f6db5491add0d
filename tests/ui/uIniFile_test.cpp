// The INI reader and writer of settings.ini.
#include "ui/uIniFile.h"

#include <gtest/gtest.h>

#include "core/uFileWrite.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace std::string_literals;

namespace {

TEST(IniFileTest, IntegersAreDecimalsWithinThirtyTwoBits) {
  const struct {
    const char* Text;
    bool Valid;
    int32_t Value;
  } cases[] = {
      {"0", true, 0},
      {"42", true, 42},
      {"+7", true, 7},
      {"-0", true, 0},
      {"007", true, 7},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},  // one past: not the upper bound, not wrapped
      {"-2147483649", false, 0},
      {"4294967297", false, 0},  // would wrap to 1
      {"99999999999999999999999", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"+", false, 0},
      {"abc", false, 0},
      {"12abc", false, 0},
      {"1 2", false, 0},
      {"0x10", false, 0},
      {"$10", false, 0},
      {"1e3", false, 0},
      {"--1", false, 0},
      {"\xD9\xA3", false, 0},  // an Arabic-Indic digit
  };
  for (const auto& c : cases) {
    int32_t v = -99;
    EXPECT_EQ(TIniFile::ParseInteger(c.Text, v), c.Valid) << c.Text;
    if (c.Valid) {
      EXPECT_EQ(v, c.Value) << c.Text;
    }
  }
}

TEST(IniFileTest, ReadsSectionsAndKeysWithoutCaseTrimmedWithTheFirstOfTwins) {
  TIniFile ini;
  ASSERT_TRUE(
      ini.Parse("Orphan=1\n"
                "; Comment=1\n"
                "[ Trim ] ; the tab's options\n"
                "  TimeoutMs  =\t 8000 \n"
                "#Retry=5\n"
                ";BatchEntries=7\n"
                "MaskSerial=\n"
                "a line without an equals sign\n"
                "=nameless\n"
                "Retry=2\n"
                "retry=4\n"
                "[Trim\n"  // no closing bracket: not a section
                "DryRun=1\n"
                "[trim]\n"
                "FlushVolumes=0\n"));
  std::string v;
  EXPECT_FALSE(ini.ReadString("", "Orphan", v));
  EXPECT_FALSE(ini.ReadString("", "Comment", v));
  EXPECT_EQ(ini.ReadInteger("TRIM", "timeoutms", 5), 8000);
  EXPECT_EQ(ini.ReadInteger("Trim", "Retry", 3), 2);
  EXPECT_EQ(ini.ReadInteger("Trim", "BatchEntries", 32), 32);
  EXPECT_TRUE(ini.ReadString("Trim", "MaskSerial", v));
  EXPECT_EQ(v, "");
  EXPECT_TRUE(ini.ReadBool("Trim", "MaskSerial", true));    // empty: the default
  EXPECT_TRUE(ini.ReadBool("Trim", "DryRun", false));       // "[Trim" opened nothing
  EXPECT_TRUE(ini.ReadBool("Trim", "FlushVolumes", true));  // in the second [trim]: not read
  EXPECT_FALSE(ini.ReadString("Trim", "", v));
}

TEST(IniFileTest, BooleansGoByTheirFirstCharacter) {
  const struct {
    const char* Value;
    bool Default;
    bool Read;
  } cases[] = {
      {"1", false, true},   {"1abc", false, true}, {"10", false, true}, {"0", true, false}, {"true", true, false},
      {"yes", true, false}, {"-1", true, false},   {"", true, true},    {"", false, false},
  };
  for (const auto& c : cases) {
    TIniFile ini;
    ini.Parse(std::string("[S]\r\nK=") + c.Value + "\r\n");
    EXPECT_EQ(ini.ReadBool("S", "K", c.Default), c.Read) << '"' << c.Value << '"';
  }
  TIniFile ini;
  EXPECT_TRUE(ini.ReadBool("S", "Missing", true));
}

TEST(IniFileTest, WritingUpdatesKeysWhereTheyStandAndKeepsEverythingElse) {
  TIniFile ini;
  ASSERT_TRUE(
      ini.Parse("\xEF\xBB\xBF; written by hand\n"
                "[Other Tool]\r\n"
                "Path=C:\\x\r\n"
                "\r\n"
                "[trim]\r"
                "Unknown=keep me\r"
                "  timeoutms = 8000  \r"
                "MaskSerial=1\n"
                "MaskSerial=1\n"
                "\n"
                "; about the next section\n"
                "[Empty]\n"));
  ini.WriteInteger("Trim", "TimeoutMs", 9000);
  ini.WriteBool("TRIM", "MaskSerial", false);
  ini.WriteInteger("Trim", "Retry", -3);
  ini.WriteString("Empty", "First", "x");
  ini.WriteBool("RealTest", "On", true);
  ini.WriteInteger("RealTest", "Steps", 5);
  EXPECT_EQ(ini.Text(),
            "\xEF\xBB\xBF; written by hand\r\n"
            "[Other Tool]\r\n"
            "Path=C:\\x\r\n"
            "\r\n"
            "[trim]\r\n"
            "Unknown=keep me\r\n"
            "timeoutms=9000\r\n"  // its own spelling, no blanks
            "MaskSerial=0\r\n"    // the first of the twins
            "MaskSerial=1\r\n"
            "Retry=-3\r\n"  // after the section's last key
            "\r\n"
            "; about the next section\r\n"
            "[Empty]\r\n"
            "First=x\r\n"
            "\r\n"
            "[RealTest]\r\n"
            "On=1\r\n"
            "Steps=5\r\n");

  // A new file: no blank line before the first section.
  TIniFile fresh;
  fresh.WriteInteger("General", "Language", 1);
  fresh.WriteBool("Trim", "DryRun", false);
  EXPECT_EQ(fresh.Text(), "[General]\r\nLanguage=1\r\n\r\n[Trim]\r\nDryRun=0\r\n");
}

TEST(IniFileTest, AFileWithANulByteIsNotAnIniText) {
  TIniFile ini;
  EXPECT_FALSE(ini.Parse("[Trim]\0\r\nDryRun=1\r\n"s));
  EXPECT_FALSE(ini.Parse("\xFF\xFE[\0T\0"s));  // UTF-16
  std::string v;
  EXPECT_FALSE(ini.ReadString("Trim", "DryRun", v));
  EXPECT_EQ(ini.Text(), "");
}

class IniFileOnDiskTest : public ::testing::Test {
 protected:
  plat::sim::ScopedSimMachine m;
  const std::string path = "C:\\work\\settings.ini";
};

TEST_F(IniFileOnDiskTest, LoadTellsMissingFromUnreadable) {
  TIniFile ini;
  EXPECT_EQ(LoadIniFile(path, ini), TIniLoad::Missing);
  EXPECT_EQ(LoadIniFile("C:\\nowhere\\settings.ini", ini), TIniLoad::Missing);

  m->Files().WriteAll(path, "[General]\r\nLanguage=3\r\n");
  ASSERT_EQ(LoadIniFile(path, ini), TIniLoad::Loaded);
  EXPECT_EQ(ini.ReadInteger("General", "Language", -1), 3);

  m->Files().SetFault(path, {.openError = ERROR_SHARING_VIOLATION});
  EXPECT_EQ(LoadIniFile(path, ini), TIniLoad::Unreadable);
  EXPECT_EQ(ini.ReadInteger("General", "Language", -1), -1);  // nothing of an unread file
  m->Files().ClearFaults();

  m->Files().WriteAll(path, "[General]\0"s);
  EXPECT_EQ(LoadIniFile(path, ini), TIniLoad::Unreadable);
  m->Files().WriteAll(path, std::string((1 << 20) + 1, ';'));
  EXPECT_EQ(LoadIniFile(path, ini), TIniLoad::Unreadable);
  m->Files().WriteAll(path, std::string(1 << 20, ';'));
  EXPECT_EQ(LoadIniFile(path, ini), TIniLoad::Loaded);

  Win().DeleteFileW(path);
  Win().CreateDirectoryW(path);
  EXPECT_EQ(LoadIniFile(path, ini), TIniLoad::Unreadable);
}

TEST_F(IniFileOnDiskTest, SaveWritesTheWholeTextOrThrows) {
  TIniFile ini;
  ini.WriteInteger("General", "Language", 2);
  m->Files().WriteAll(path, "old and longer content");
  SaveIniFile(path, ini);
  EXPECT_EQ(m->Files().ReadAll(path), "[General]\r\nLanguage=2\r\n");

  m->Files().SetFault(path, {.openError = ERROR_ACCESS_DENIED});
  EXPECT_THROW(SaveIniFile(path, ini), EFileError);
}

}  // namespace

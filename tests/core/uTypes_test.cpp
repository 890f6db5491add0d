#include "core/uTypes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "platform/sim/SimMachine.h"

namespace {

TEST(TypeTexts, EveryValueHasAText) {
  EXPECT_EQ(TransportToText(TTransportKind::tkUnknown), "Unknown (transport not identified)");
  EXPECT_EQ(TransportToText(TTransportKind::tkBOT), "BOT");
  EXPECT_EQ(TransportToText(TTransportKind::tkUAS), "UAS");
  EXPECT_EQ(TransportToText(TTransportKind::tkNonUsb), "Non-USB/Unknown-Bridge");
  EXPECT_EQ(MediaKindToText(TMediaKind::mkUnknown), "Unknown-media");
  EXPECT_EQ(MediaKindToText(TMediaKind::mkSSD), "SSD");
  EXPECT_EQ(MediaKindToText(TMediaKind::mkHDD), "HDD");
  EXPECT_EQ(TrimModeToText(TTrimMode::tmFullDevice), "Full device range");
  EXPECT_EQ(TrimModeToText(TTrimMode::tmFreeSpace), "Free space only");
  EXPECT_EQ(RunModeToText(TRunMode::rmDryRun), "Dry-run");
  EXPECT_EQ(RunModeToText(TRunMode::rmExecute), "Execute");

  // Stored values outside the listed ones get the fallback of their own table.
  for (int32_t v : {-1, 4, 7, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(TransportToText(static_cast<TTransportKind>(v)), "Unknown") << v;
    EXPECT_EQ(MediaKindToText(static_cast<TMediaKind>(v)), "Unknown-media") << v;
    EXPECT_EQ(TrimModeToText(static_cast<TTrimMode>(v)), "Unknown") << v;
    EXPECT_EQ(RunModeToText(static_cast<TRunMode>(v)), "Unknown") << v;
  }
  EXPECT_EQ(MediaKindToText(static_cast<TMediaKind>(3)), "Unknown-media");
  EXPECT_EQ(TrimModeToText(static_cast<TTrimMode>(2)), "Unknown");
  EXPECT_EQ(RunModeToText(static_cast<TRunMode>(2)), "Unknown");
}

TEST(MaskSerial, KeepsTheLastFourCodeUnits) {
  struct Row {
    std::string in, want;
  };
  const Row rows[] = {
      {"", "****"},
      {"A", "****"},
      {"AB", "****"},
      {"ABC", "****"},
      {"ABCD", "****"},
      {"ABCDE", "*BCDE"},
      {"S3Z9NB0K123456", "**********3456"},
      // Counted in UTF-16 units, not bytes: "ä" is one unit (two bytes).
      {"äöüßÄ", "*öüßÄ"},
      {"äöüß", "****"},
      {"シリアル番号1234", "******1234"},
      // A surrogate pair is two units: "😀AB" is four, so fully masked.
      {"\U0001F600AB", "****"},
      {"XYZAB\U0001F600", "***AB\U0001F600"},
      // The cut lands inside the pair: its lone half comes back as U+FFFD, still one unit.
      {"\U0001F600ABC", "*\uFFFDABC"},
      {"X\U0001F600ABC", "**\uFFFDABC"},
  };
  for (const Row& r : rows) EXPECT_EQ(MaskSerial(r.in), r.want) << r.in;
}

TEST(MinMaxU64, CompareUnsigned) {
  EXPECT_EQ(MinU64(UINT64_MAX, 1), 1u);
  EXPECT_EQ(MaxU64(UINT64_MAX, 1), UINT64_MAX);
  EXPECT_EQ(MinU64(1, UINT64_MAX), 1u);
  EXPECT_EQ(MaxU64(uint64_t{1} << 63, (uint64_t{1} << 63) - 1), uint64_t{1} << 63);
  EXPECT_EQ(MinU64(0, 0), 0u);
}

class AppVersionTest : public ::testing::Test {
 protected:
  std::string Exe() { return m->Desktop().ModulePath(); }
  void SetFileVersion(const std::string& v) {
    m->Desktop().SetVersionResource(Exe(), std::map<std::string, std::string>{{"FileVersion", v}});
  }
  plat::sim::ScopedSimMachine m;
};

TEST_F(AppVersionTest, ReadsTheProgramsOwnFileVersion) {
  EXPECT_EQ(GetAppFileVersion(), "0.1.0.2");
  InitAppVersion();
  EXPECT_EQ(AppVersion(), "0.1.0.2");
}

TEST_F(AppVersionTest, TrimsCodesZeroToThirtyTwoAndStopsAtTheFirstNul) {
  const std::pair<std::string, std::string> rows[] = {
      {" \t0.1.0.2 \t\r\n", "0.1.0.2"},
      {std::string("\x01 1.2.3.4\x1F", 11), "1.2.3.4"},
      {std::string("0.1.0.2\0\0\0", 10), "0.1.0.2"},
      {std::string("0.1.0.2\0junk", 12), "0.1.0.2"},
      {std::string(" 2.0 beta \0", 11), "2.0 beta"},
  };
  for (auto& [value, want] : rows) {
    SetFileVersion(value);
    EXPECT_EQ(GetAppFileVersion(), want);
  }
}

TEST_F(AppVersionTest, BlankOrMissingFallsBackToZeros) {
  SetFileVersion("");
  EXPECT_EQ(GetAppFileVersion(), "");
  InitAppVersion();
  EXPECT_EQ(AppVersion(), "0.0.0.0");

  SetFileVersion(std::string(" \t\0 ", 4));
  InitAppVersion();
  EXPECT_EQ(AppVersion(), "0.0.0.0");

  // A resource without the key.
  m->Desktop().SetVersionResource(Exe(), std::map<std::string, std::string>{{"ProductName", "x"}});
  InitAppVersion();
  EXPECT_EQ(AppVersion(), "0.0.0.0");

  // No resource at all.
  m->Desktop().SetVersionResource(Exe(), std::nullopt);
  EXPECT_EQ(GetAppFileVersion(), "");
  InitAppVersion();
  EXPECT_EQ(AppVersion(), "0.0.0.0");

  // The version of some other file is not ours.
  SetFileVersion("0.1.0.2");
  m->Desktop().SetModulePath("C:\\elsewhere\\other.exe");
  EXPECT_EQ(GetAppFileVersion(), "");
}

TEST_F(AppVersionTest, FindsTheStringTableThroughTheTranslation) {
  using VB = plat::sim::SimDesktop::VersionBlock;
  struct Row {
    const char* what;
    VB block;
    std::string want;
  };
  std::vector<Row> rows;
  {
    VB b;  // German, Windows Latin-1: the translation names 040704E4
    b.translations = {{0x0407, 0x04E4}};
    b.tables["040704E4"] = {{"FileVersion", "3.0.0.1"}};
    b.tables["040904B0"] = {{"FileVersion", "9.9.9.9"}};
    rows.push_back({"translation first", b, "3.0.0.1"});
  }
  {
    VB b;
    b.translations = {};
    b.tables["040904B0"] = {{"FileVersion", "1.0.0.0"}};
    rows.push_back({"no translation: 040904B0", b, "1.0.0.0"});
  }
  {
    VB b;
    b.translations = {};
    b.tables["040904E4"] = {{"FileVersion", "1.0.0.4"}};
    rows.push_back({"no translation: 040904E4", b, "1.0.0.4"});
  }
  {
    VB b;  // the second translation entry holds the table
    b.translations = {{0x0411, 0x04B0}, {0x0419, 0x04E3}};
    b.tables["041904E3"] = {{"FileVersion", "5.5"}};
    rows.push_back({"second translation", b, "5.5"});
  }
  {
    VB b;  // the named table lacks the key; the usual one has it
    b.translations = {{0x0407, 0x04E4}};
    b.tables["040704E4"] = {{"ProductName", "x"}};
    b.tables["040904B0"] = {{"FileVersion", "2.2.2.2"}};
    rows.push_back({"fallback after translation", b, "2.2.2.2"});
  }
  {
    VB b;  // the value carries no NUL: the reported length is the limit, not the next bytes
    b.terminated = false;
    b.tables["040904B0"] = {{"FileVersion", "0.1.0.2"}, {"ProductVersion", "7.7.7.7"}};
    rows.push_back({"unterminated", b, "0.1.0.2"});
  }
  {
    VB b;
    b.translations = {};
    b.tables["041104B0"] = {{"FileVersion", "6.0"}};
    rows.push_back({"no translation, unusual table", b, ""});
  }
  for (const Row& r : rows) {
    m->Desktop().SetVersionBlock(Exe(), r.block);
    EXPECT_EQ(GetAppFileVersion(), r.want) << r.what;
  }
}

}  // namespace

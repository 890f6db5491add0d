#include "core/uLang.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"

namespace {

constexpr TUiLanguage kAllLanguages[] = {
    TUiLanguage::ulKorean,  TUiLanguage::ulEnglish, TUiLanguage::ulJapanese, TUiLanguage::ulChineseSimplified,
    TUiLanguage::ulSpanish, TUiLanguage::ulGerman,  TUiLanguage::ulFrench,   TUiLanguage::ulRussian,
};

// Texts that callers complete with a value: they must end in a separator.
const std::set<TTextId> kCompletedIds = {
    TTextId::EnterDiskNumberPrefix,
    TTextId::FolderMissingPrefix,
    TTextId::FolderDeletedPrefix,
    TTextId::FolderDeleteFailedPrefix,
    TTextId::VerifyOnlyTargetPrefix,
    TTextId::TotalElapsedPrefix,
    TTextId::CreateTestFolderFailedPrefix,
    TTextId::FileCreateFailedPrefix,
    TTextId::WriteFailedPrefix,
    TTextId::FreeSpaceCsvSavedPrefix,
    TTextId::VerifyFileMissingPrefix,
    TTextId::VerifyCrcMismatchPrefix,
    TTextId::FlushSucceededPrefix,
    TTextId::FlushFailedPrefix,
    TTextId::RealTestStartPrefix,
    TTextId::CsvCreatedPrefix,
    TTextId::TrimPlanFailedPrefix,
    TTextId::FreeSpaceUnavailablePrefix,
    TTextId::OpenDiskFailedPrefix,
    TTextId::InitSucceededPrefix,
    TTextId::CreateDiskFailedPrefix,
    TTextId::StatusPrefix,
    TTextId::SpeedPrefix,
    TTextId::ElapsedPrefix,
    TTextId::StepPrefix,
    TTextId::FsPolicyDisabledPrefix,
    TTextId::CsvCreateFailedCreatedPrefix,
    TTextId::CsvCreateFailedDeletedPrefix,
    TTextId::CsvSavedPrefix,
    TTextId::CsvSaveFailedPrefix,
};
constexpr TTextId kEqualsSeparatorId = TTextId::CreateDiskFailedPrefix;

const std::set<TTextId> kFormatIds = {
    TTextId::ScanCompleteFmt,        TTextId::Step3StartFmt,      TTextId::SpeedDropWaitFmt,
    TTextId::Existing1GbFilesFmt,    TTextId::StartFromStepFmt,   TTextId::WaitingFmt,
    TTextId::SpeedChartSummaryFmt,   TTextId::CsvLookupFailedFmt, TTextId::InitializedAsFmt,
    TTextId::InitFailedAfterTrimFmt, TTextId::VerifiedCountsFmt,  TTextId::MbrBeyondLimitFmt,
    TTextId::VolumeTooSmallFmt,      TTextId::StatusCancelledFmt,
};

// Ids whose line layout is free in each language.
const std::set<TTextId> kFreeLayoutIds = {TTextId::LicenseNotice, TTextId::AboutTrim};

// printf conversions in order. A '%' before a blank or at the end is prose
// ("50% of avg"); anything else that is not a complete conversion is kept as
// a malformed token so it can never match the English one.
std::vector<std::string> Placeholders(const std::string& Text) {
  std::vector<std::string> Out;
  for (size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] != '%') continue;
    if (I + 1 == Text.size() || Text[I + 1] == ' ') continue;
    size_t J = I + 1;
    if (Text[J] == '%') {
      I = J;
      continue;
    }
    while (J < Text.size() && std::strchr("-+#0", Text[J]) != nullptr) ++J;
    while (J < Text.size() && std::isdigit(static_cast<unsigned char>(Text[J]))) ++J;
    if (J < Text.size() && Text[J] == '.') {
      ++J;
      while (J < Text.size() && std::isdigit(static_cast<unsigned char>(Text[J]))) ++J;
    }
    const bool HasConversion = J < Text.size() && std::strchr("diuxXsfc", Text[J]) != nullptr;
    Out.push_back(HasConversion ? Text.substr(I, J - I + 1) : "%<malformed>");
    I = HasConversion ? J : I;
  }
  return Out;
}

struct TLineBreaks {
  int CrLf = 0;
  int Lone = 0;  // CR or LF not part of a CR LF pair
};

TLineBreaks CountLineBreaks(const std::string& Text) {
  TLineBreaks Result;
  for (size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] == '\r' && I + 1 < Text.size() && Text[I + 1] == '\n') {
      ++Result.CrLf;
      ++I;
    } else if (Text[I] == '\r' || Text[I] == '\n') {
      ++Result.Lone;
    }
  }
  return Result;
}

bool EndsWith(const std::string& Text, const std::string& Tail) {
  return Text.size() >= Tail.size() && Text.compare(Text.size() - Tail.size(), Tail.size(), Tail) == 0;
}

class LangTest : public ::testing::Test {
 protected:
  void SetUp() override { Saved = GetCurrentLanguage(); }
  void TearDown() override { SetCurrentLanguage(Saved); }
  TUiLanguage Saved{};
};

TEST_F(LangTest, EveryTableMatchesTheEnglishStructure) {
  const char* const* English = LangTableFor(TUiLanguage::ulEnglish);
  for (int Id = 0; Id < kLangTextCount; ++Id) {
    SCOPED_TRACE("English id " + std::to_string(Id));
    EXPECT_EQ(kFormatIds.count(TTextId(Id)) == 1, !Placeholders(English[Id]).empty());
  }

  for (TUiLanguage Lang : kAllLanguages) {
    const char* const* Table = LangTableFor(Lang);
    const bool Chinese = Lang == TUiLanguage::ulChineseSimplified;
    for (int Id = 0; Id < kLangTextCount; ++Id) {
      SCOPED_TRACE(LanguageDisplayName(Lang) + " id " + std::to_string(Id));
      ASSERT_NE(Table[Id], nullptr);
      const std::string Text = Table[Id];
      EXPECT_FALSE(Text.empty());

      EXPECT_EQ(Placeholders(Text), Placeholders(English[Id]));

      const TLineBreaks Breaks = CountLineBreaks(Text);
      EXPECT_EQ(Breaks.Lone, 0);
      if (kFreeLayoutIds.count(TTextId(Id)) == 0) {
        EXPECT_EQ(Breaks.CrLf, CountLineBreaks(English[Id]).CrLf);
      }

      if (TTextId(Id) == kEqualsSeparatorId) {
        EXPECT_TRUE(EndsWith(Text, "=")) << Text;
      } else if (kCompletedIds.count(TTextId(Id)) == 1) {
        if (Chinese) {
          EXPECT_TRUE(EndsWith(Text, "：")) << Text;
        } else {
          EXPECT_TRUE(EndsWith(Text, " ")) << Text;
        }
      } else {
        // A trailing blank elsewhere is a text someone meant to complete, or a typo.
        EXPECT_FALSE(EndsWith(Text, " ")) << Text;
      }
    }
    SCOPED_TRACE(LanguageDisplayName(Lang));
    const std::string Hints = Table[TextIndex(TTextId::ExecutionModeHint)];
    EXPECT_EQ(std::count(Hints.begin(), Hints.end(), '|'), 1) << Hints;
    const std::string Wait = Table[TextIndex(TTextId::SpeedDropWaitHint)];
    EXPECT_NE(Wait.find("50%"), std::string::npos) << Wait;
  }
}

// The names sit on the texts they say: the first id of most groups, and the texts of the
// run's own boxes.
TEST(TextIdTest, NamesMatchTheEnglishTexts) {
  struct TCase {
    TTextId Id;
    int32_t Index;
    const char* English;
  };
  const TCase Cases[] = {
      {TTextId::TabTrimExecute, 0, "TRIM Execute"},
      {TTextId::ButtonCancel, 11, "Cancel"},
      {TTextId::StatusIdle, 36, "Status: Idle"},
      {TTextId::DiskListHint, 41, "Select target USB disk for TRIM. BOT and UASP protocols supported."},
      {TTextId::ErrorCaption, 83, "Error"},
      {TTextId::WarningCaption, 84, "Warning"},
      {TTextId::InfoCaption, 85, "Info"},
      {TTextId::SelectDisk, 97, "Please select a disk."},
      {TTextId::RealTestPreparing, 118, "Preparing"},
      {TTextId::PressInspect, 154, "Press Inspect to analyze the selected PhysicalDrive."},
      {TTextId::WillInitGpt, 165, "Disk will be initialized as GPT after TRIM"},
      {TTextId::UsbGuideCaption, 175, "USB Connection Guide"},
      {TTextId::CancelledByUser, 181, "Operation canceled by user."},
      {TTextId::ButtonSpeedChart, 210, "Speed Chart"},
      {TTextId::StatusScanning, 217, "Status: Scanning disks..."},
      {TTextId::Step5Start, 241, "STEP5: 1GB file integrity verification started"},
  };
  const char* const* English = LangTableFor(TUiLanguage::ulEnglish);
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Index);
    EXPECT_EQ(TextIndex(Case.Id), Case.Index);
    EXPECT_STREQ(English[TextIndex(Case.Id)], Case.English);
  }
  // The run's boxes: their texts open with these words.
  const std::pair<TTextId, const char*> Starts[] = {
      {TTextId::ReTrimQuestion, "Hardware TRIM paths (DSM / SCSI UNMAP / ATA Pass-Through) were all rejected"},
      {TTextId::ReformatAsNtfsNotice, "This USB-SATA bridge does not support TRIM on exFAT/FAT32."},
      {TTextId::UsbDisconnected, "The disk appears to have disconnected from the USB bus."},
      {TTextId::ExpertAtaRetryQuestion, "Optimize-Volume -ReTrim failed (for example StorageWMI 43022)."},
      {TTextId::PinnedReTrimQuestion, "To protect the mounted NTFS volume (Pinned Volume guard)"},
      {TTextId::UaspMethodHint, "Expert mode"},
  };
  for (const auto& [Id, Start] : Starts)
    EXPECT_TRUE(std::string(English[TextIndex(Id)]).starts_with(Start)) << TextIndex(Id);
}

TEST_F(LangTest, CurrentLanguageSelectsTheTable) {
  // "Cancel" is distinct in every language, so a mis-ordered
  // table list shows up here.
  struct TCase {
    TUiLanguage Lang;
    const char* Name;
    const char* Cancel;
  };
  const TCase Cases[] = {
      {TUiLanguage::ulKorean, "한국어", "취소"},         {TUiLanguage::ulEnglish, "English", "Cancel"},
      {TUiLanguage::ulJapanese, "日本語", "キャンセル"}, {TUiLanguage::ulChineseSimplified, "简体中文", "取消"},
      {TUiLanguage::ulSpanish, "Español", "Cancelar"},   {TUiLanguage::ulGerman, "Deutsch", "Abbrechen"},
      {TUiLanguage::ulFrench, "Français", "Annuler"},    {TUiLanguage::ulRussian, "Русский", "Отмена"},
  };
  ASSERT_EQ(LanguageCount(), 8);
  for (const TCase& Case : Cases) {
    const int32_t Index = static_cast<int32_t>(Case.Lang);
    SCOPED_TRACE(Case.Name);
    EXPECT_EQ(LanguageFromIndex(Index), Case.Lang);
    EXPECT_EQ(LanguageDisplayName(Case.Lang), Case.Name);
    SetCurrentLanguage(Case.Lang);
    EXPECT_EQ(GetCurrentLanguage(), Case.Lang);
    EXPECT_EQ(GetLangText(TTextId::ButtonCancel), Case.Cancel);
    EXPECT_EQ(GetLangText(TTextId::UaspMethodHint), LangTableFor(Case.Lang)[249]);
    EXPECT_EQ(GetLangText(249), LangTableFor(Case.Lang)[249]);
    EXPECT_EQ(GetLangText(-1), "?");
    EXPECT_EQ(GetLangText(kLangTextCount), "?");
  }
}

TEST_F(LangTest, OutOfRangeLanguageFallsBackToEnglish) {
  const auto Nine = static_cast<TUiLanguage>(9);
  SetCurrentLanguage(Nine);
  EXPECT_EQ(GetCurrentLanguage(), Nine);  // stored as given, no range check
  const char* const* English = LangTableFor(TUiLanguage::ulEnglish);
  for (int Id = 0; Id < kLangTextCount; ++Id) EXPECT_EQ(GetLangText(Id), English[Id]) << "id " << Id;
  EXPECT_EQ(LanguageDisplayName(Nine), "English");
  EXPECT_EQ(LanguageDisplayName(static_cast<TUiLanguage>(-1)), "English");
  EXPECT_EQ(LanguageFromIndex(8), TUiLanguage::ulEnglish);
  EXPECT_EQ(LanguageFromIndex(-1), TUiLanguage::ulEnglish);
}

TEST(DetectUILanguageTest, MapsWindowsLanguageIds) {
  struct TCase {
    uint16_t LangId;
    TUiLanguage Expected;
  };
  const TCase Cases[] = {
      {0x0804, TUiLanguage::ulChineseSimplified},  // Chinese (PRC)
      {0x0404, TUiLanguage::ulEnglish},            // Chinese (Taiwan): traditional script
      {0x0C04, TUiLanguage::ulEnglish},            // Chinese (Hong Kong)
      {0x1004, TUiLanguage::ulEnglish},            // Chinese (Singapore)
      {0x1404, TUiLanguage::ulEnglish},            // Chinese (Macao)
      {0x0412, TUiLanguage::ulKorean},
      {0x0411, TUiLanguage::ulJapanese},
      {0x0407, TUiLanguage::ulGerman},
      {0x0C07, TUiLanguage::ulGerman},  // German (Austria)
      {0x040A, TUiLanguage::ulSpanish},
      {0x0C0A, TUiLanguage::ulSpanish},
      {0x040C, TUiLanguage::ulFrench},
      {0x0419, TUiLanguage::ulRussian},
      {0x0409, TUiLanguage::ulEnglish},
      {0x0416, TUiLanguage::ulEnglish},  // Portuguese (Brazil): not in the table
      {0x0000, TUiLanguage::ulEnglish},
  };
  plat::sim::ScopedSimMachine Sim;
  for (const TCase& Case : Cases) {
    Sim->Desktop().SetUiLanguage(Case.LangId);
    EXPECT_EQ(DetectUILanguage(), Case.Expected) << std::hex << "0x" << Case.LangId;
  }
}

}  // namespace

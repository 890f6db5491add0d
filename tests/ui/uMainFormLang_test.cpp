// Languages, the advanced check boxes' layout, the top panel's pages and boxes, and the window log.
#include <algorithm>
#include <iterator>
#include <utility>

#include "core/uLogger.h"
#include "ui/MainFormFixture.h"

using namespace plat;
using tk::headless::TModalKind;

namespace {

// What the language sets: the control, its caption's and its hint's text id (-1: not set).
struct TTextRow {
  const char* Name;
  int Caption;
  int Hint;
};
const TTextRow kTexts[] = {
    {"BtnProducts", 184, -1},
    {"BtnManual", 185, -1},
    {"BtnLicense", 186, -1},
    {"BtnAboutTrim", 189, -1},
    {"BtnHowToUse", 192, -1},
    {"TabTrim", 0, 62},
    {"TabInspect", 1, 63},
    {"TabRealTest", 2, 64},
    {"GroupSelection", 3, -1},
    {"GroupMode", 4, -1},
    {"GroupAdvanced", 5, -1},
    {"GroupStatus", 6, -1},
    {"GroupRealTest", 7, -1},
    {"CmbDisk", -1, 41},
    {"BtnRefresh", 8, 42},
    {"BtnBotGuide", 9, 43},
    {"RgMode", 21, 44},
    {"CbDryRun", 24, 45},
    {"CbAdvanced", 25, 46},
    {"LblInitStyle", 27, -1},
    {"CbInitStyle", -1, 47},
    {"MemoDiskInfo", -1, 48},
    {"LabelTimeout", 29, -1},
    {"LabelRetry", 30, -1},
    {"LabelBatch", 31, -1},
    {"LabelBatchLimit", 32, -1},
    {"SpTimeout", -1, 49},
    {"SpRetry", -1, 50},
    {"SpBatch", -1, 51},
    {"CmbBatchLimit", -1, 52},
    {"CbAllowSystemDisk", 33, 53},
    {"CbMaskSerial", 34, 54},
    {"CbQuietIteration", 239, 240},
    {"CbFlushVolumes", 35, 55},
    {"CbWinRetrimOnly", 197, 198},
    {"LblUaspMethod", 248, -1},
    {"CmbUaspMethod", -1, 249},
    {"BtnStart", 10, 56},
    {"BtnCancel", 11, 57},
    {"BtnClearLog", 12, 58},
    {"PbProgress", -1, 59},
    {"LblStatus", -1, 60},
    {"MemoLog", -1, 61},
    {"BtnRealTestStart", 13, 65},
    {"BtnRealTestStop", 14, 66},
    {"BtnVerifyOnly", 15, 67},
    {"BtnDeleteTestFolder", 16, 68},
    {"BtnExportFileMap", 17, 75},
    {"BtnClearRealLog", 18, 76},
    {"LabelStartStep", 38, -1},
    {"CmbStartStep", -1, 69},
    {"LabelEndStep", 39, -1},
    {"CmbEndStep", -1, 70},
    {"LblRealStatus", -1, 71},
    {"LblRealSpeed", -1, 72},
    {"LblElapsed", -1, 73},
    {"LblStepElapsed", -1, 74},
    {"LabelSpeedDropWait", 40, -1},
    {"LabelRealTestDrive", 193, -1},
    {"SpSpeedDropWait", -1, 77},
    {"CmbRealTestDrive", -1, 209},
    {"MemoRealTestLog", -1, 78},
};
// Built with the inspection tab and the speed chart; set only once they exist.
const TTextRow kRunTimeTexts[] = {
    {"BtnSpeedChart", 210, 211}, {"BtnInspect", 19, 79},  {"BtnExportFreeList", 20, 80},
    {"MemoInspect", -1, 81},     {"GridVolumes", -1, 82},
};

bool EndsWith(const std::string& S, const std::string& Tail) {
  return S.size() >= Tail.size() && S.compare(S.size() - Tail.size(), Tail.size(), Tail) == 0;
}

class MainFormLangTest : public MainFormFixture {
 protected:
  std::vector<tk::TCheckBox*> AdvancedChecks() {
    return {form->CbAllowSystemDisk, form->CbMaskSerial, form->CbQuietIteration, form->CbFlushVolumes};
  }
  // Each box as wide as it measures and the next 16 pixels after it; one that would pass the
  // group's edge starts a line of its own under them, the group grows by as much and the status
  // group below keeps its distance.
  void ExpectAdvancedChecksInARow(const std::string& Where) {
    const auto boxes = AdvancedChecks();
    const int edge = form->GroupAdvanced->ClientSize().Width - 8;
    EXPECT_EQ(boxes[0]->Left(), 12) << Where;
    EXPECT_EQ(boxes[0]->Top(), 62) << Where;
    for (size_t i = 0; i < boxes.size(); ++i) {
      const std::string what = Where + " " + boxes[i]->Name();
      EXPECT_EQ(boxes[i]->Width(), boxes[i]->PreferredSize().Width) << what;
      EXPECT_LE(boxes[i]->Bounds().Right(), edge) << what;
      EXPECT_LE(boxes[i]->Bounds().Bottom(), form->GroupAdvanced->ClientSize().Height) << what;
      if (!i) continue;
      const tk::TCheckBox* before = boxes[i - 1];
      if (boxes[i]->Top() == before->Top()) {
        EXPECT_EQ(boxes[i]->Left(), before->Bounds().Right() + 16) << what;
      } else {
        EXPECT_EQ(boxes[i]->Top(), before->Top() + 19 + 4) << what;
        EXPECT_EQ(boxes[i]->Left(), 12) << what;
        EXPECT_GT(before->Bounds().Right() + 16 + boxes[i]->Width(), edge) << what;
      }
    }
    EXPECT_EQ(form->GroupStatus->Top() - form->GroupAdvanced->Bounds().Bottom(), 480 - (363 + 106)) << Where;
    EXPECT_EQ(form->GroupStatus->Bounds().Bottom(), 480 + 224) << Where;
  }
};

TEST_F(MainFormLangTest, EveryLanguageSetsEveryCaptionHintAndItemInPlace) {
  Start();
  // What the language leaves alone.
  form->LblStatus->SetCaption("status of the run");
  form->AppendLogLine("a line written before");
  const auto logBefore = LogLines();
  form->RgMode->SetItemIndex(1);
  form->CbInitStyle->SetItemIndex(2);
  form->CmbBatchLimit->SetItemIndex(1);
  const auto names = form->CmbLanguage->Items();

  for (int i = 0; i < LanguageCount(); ++i) {
    const TUiLanguage lang = LanguageFromIndex(i);
    const char* const* table = LangTableFor(lang);
    const std::string where = LanguageDisplayName(lang);
    if (form->CmbLanguage->ItemIndex() != i) {
      ASSERT_TRUE(ui.Select("CmbLanguage", i)) << where;
    }
    ASSERT_EQ(GetCurrentLanguage(), lang);

    for (const TTextRow& r : kTexts) {
      if (r.Caption >= 0) {
        EXPECT_EQ(Caption(r.Name), table[r.Caption]) << where << " " << r.Name;
      }
      if (r.Hint >= 0) {
        EXPECT_EQ(Hint(r.Name), table[r.Hint]) << where << " " << r.Name;
      }
    }
    for (const TTextRow& r : kRunTimeTexts) {
      if (!ui.Find(r.Name)) continue;
      if (r.Caption >= 0) {
        EXPECT_EQ(Caption(r.Name), table[r.Caption]) << where << " " << r.Name;
      }
      if (r.Hint >= 0) {
        EXPECT_EQ(Hint(r.Name), table[r.Hint]) << where << " " << r.Name;
      }
    }
    EXPECT_EQ(form->RgMode->Items(), (std::vector<std::string>{table[22], table[23]})) << where;
    EXPECT_EQ(form->RgMode->ItemIndex(), 1);
    EXPECT_EQ(form->CbInitStyle->Items(), (std::vector<std::string>{"GPT", "MBR", table[28]})) << where;
    EXPECT_EQ(form->CbInitStyle->ItemIndex(), 2);

    EXPECT_EQ(form->Caption(), "vrek_trim_tool 0.1.0.2");
    // A caption that is no text of the table stays; the design captions are table texts (the
    // real-test labels' with a value after them) and follow the language.
    EXPECT_EQ(Caption("LblStatus"), "status of the run");
    EXPECT_EQ(Caption("LblFsPolicy"), table[26]);
    EXPECT_EQ(Caption("LblRealSpeed"), std::string(table[221]) + "-");
    EXPECT_EQ(LogLines(), logBefore);
    EXPECT_EQ(form->CmbLanguage->Items(), names);
    EXPECT_EQ(form->CmbBatchLimit->Items(), (std::vector<std::string>{"1", "10", "100", "All"}));
    EXPECT_EQ(form->CmbBatchLimit->ItemIndex(), 1);
    EXPECT_EQ(form->CmbUaspMethod->Items(), (std::vector<std::string>{"Auto", "SCSI UNMAP", "ATA Pass-Through"}));
    ExpectAdvancedChecksInARow(where);
  }
}

TEST_F(MainFormLangTest, ALiveSwitchSetsTheStatusLinesTheWindowWroteInTheNewLanguage) {
  // A blank disk: the policy line says why free-space TRIM is off.
  m->Discovery().AddDisk(1, 16ull << 30, plat::sim::presets::UasEnclosure("Blank SSD", "UAS0001"));
  Start();
  ui.RunFor(5000);
  const char* const* en = LangTableFor(TUiLanguage::ulEnglish);
  ASSERT_EQ(Caption("LblStatus"), en[218]);
  const std::string reason = "No NTFS/exFAT/FAT32 volume mapped to selected PhysicalDrive";
  ASSERT_EQ(Caption("LblFsPolicy"), en[226] + reason);
  form->SetRealStatus("Running");
  form->SetRealSpeed("W 5.0 MB/s");
  form->SetRealElapsed("0:00:07");
  form->SetStepElapsed("0:00:03");
  for (TUiLanguage lang : {TUiLanguage::ulGerman, TUiLanguage::ulJapanese, TUiLanguage::ulEnglish}) {
    const std::string where = LanguageDisplayName(lang);
    ASSERT_TRUE(ui.Select("CmbLanguage", static_cast<int>(lang))) << where;
    const char* const* table = LangTableFor(lang);
    EXPECT_EQ(Caption("LblStatus"), table[218]) << where;
    EXPECT_EQ(Caption("LblFsPolicy"), table[226] + reason) << where;
    EXPECT_EQ(Caption("LblRealStatus"), table[220] + std::string("Running")) << where;
    EXPECT_EQ(Caption("LblRealSpeed"), table[221] + std::string("W 5.0 MB/s")) << where;
    EXPECT_EQ(Caption("LblElapsed"), table[222] + std::string("0:00:07")) << where;
    EXPECT_EQ(Caption("LblStepElapsed"), table[223] + std::string("0:00:03")) << where;
  }
}

// A window started in a language shows the captions a live switch to it shows: the real-test
// labels' design captions and the policy line's among them, not the design's English.
TEST_F(MainFormLangTest, AStartInALanguageShowsWhatASwitchToItShows) {
  const char* names[] = {"LblFsPolicy", "LblRealStatus", "LblRealSpeed", "LblElapsed", "LblStepElapsed", "LblStatus"};
  for (int i = 0; i < LanguageCount(); ++i) {
    const std::string where = LanguageDisplayName(LanguageFromIndex(i));
    m->Files().WriteAll(Work("settings.ini"), "[General]\r\nLanguage=1\r\n");
    Start();
    ASSERT_TRUE(ui.Select("CmbLanguage", i)) << where;
    std::vector<std::string> switched;
    for (const char* n : names) switched.push_back(Caption(n));
    Close();
    m->Files().WriteAll(Work("settings.ini"), "[General]\r\nLanguage=" + std::to_string(i) + "\r\n");
    Start();
    for (size_t k = 0; k < std::size(names); ++k) EXPECT_EQ(Caption(names[k]), switched[k]) << where;
    Close();
  }
}

TEST_F(MainFormLangTest, TheAdvancedCheckBoxesNeverOverlapWhateverTheLanguage) {
  // Russian has the longest captions, Chinese the shortest: the boxes follow each caption.
  for (int i = 0; i < LanguageCount(); ++i) {
    m->Files().WriteAll(Work("settings.ini"), "[General]\r\nLanguage=" + std::to_string(i) + "\r\n");
    Start();
    const std::string where = LanguageDisplayName(LanguageFromIndex(i));
    ExpectAdvancedChecksInARow(where);
    const auto boxes = AdvancedChecks();
    for (size_t a = 0; a < boxes.size(); ++a)
      for (size_t b = a + 1; b < boxes.size(); ++b) {
        const tk::TBounds& p = boxes[a]->Bounds();
        const tk::TBounds& q = boxes[b]->Bounds();
        EXPECT_TRUE(p.Right() <= q.Left || p.Bottom() <= q.Top) << where;
      }
    Close();
  }
}

TEST_F(MainFormLangTest, CaptionsOfTheModeGroupAndTheTopPanelAreNeverClippedOrCovered) {
  // The design gives "Show Advanced Options" 98 pixels, puts the partition-style label under that
  // box's caption and "Как пользоваться" in a 90-pixel button; all must be readable.
  for (int i = 0; i < LanguageCount(); ++i) {
    m->Files().WriteAll(Work("settings.ini"), "[General]\r\nLanguage=" + std::to_string(i) + "\r\n");
    Start();
    const std::string where = LanguageDisplayName(LanguageFromIndex(i));
    for (tk::TCheckBox* box : {form->CbDryRun, form->CbWinRetrimOnly, form->CbAdvanced}) {
      EXPECT_GE(box->Width(), box->PreferredSize().Width) << where << " " << box->Name();
      EXPECT_EQ(box->Left(), 452) << where;
    }
    EXPECT_GE(form->CbDryRun->Width(), 164) << where;
    EXPECT_GE(form->CbWinRetrimOnly->Width(), 320) << where;
    EXPECT_GE(form->CbAdvanced->Width(), 98) << where;
    // The partition-style row: under the boxes, above the policy line (whose text runs across
    // the group in some languages), the list after the label.
    EXPECT_GT(form->LblInitStyle->Width(), 0) << where;
    EXPECT_EQ(form->LblInitStyle->Left(), 452) << where;
    EXPECT_GE(form->LblInitStyle->Top(), form->CbAdvanced->Bounds().Bottom()) << where;
    EXPECT_GE(form->CbInitStyle->Top(), form->CbAdvanced->Bounds().Bottom()) << where;
    EXPECT_LE(form->CbInitStyle->Bounds().Bottom(), form->LblFsPolicy->Top()) << where;
    EXPECT_LE(form->LblInitStyle->Bounds().Bottom(), form->LblFsPolicy->Top()) << where;
    EXPECT_GE(form->CbInitStyle->Left(), form->LblInitStyle->Bounds().Right() + 8) << where;
    EXPECT_GE(form->CbInitStyle->Left(), 560) << where;
    EXPECT_LE(form->CbInitStyle->Bounds().Right(), form->GroupMode->ClientSize().Width) << where;
    // The top panel's buttons: each at least as designed and as its caption needs, 4 apart,
    // clear of the language selector.
    const std::pair<tk::TButton*, int> top[] = {{form->BtnProducts, 90},
                                                {form->BtnManual, 100},
                                                {form->BtnLicense, 80},
                                                {form->BtnAboutTrim, 90},
                                                {form->BtnHowToUse, 90}};
    EXPECT_EQ(form->BtnProducts->Left(), 4) << where;
    for (size_t b = 0; b < std::size(top); ++b) {
      auto [button, design] = top[b];
      EXPECT_EQ(button->Width(), std::max(design, button->PreferredSize().Width))
          << where << " " << button->Name();
      if (b) {
        EXPECT_EQ(button->Left(), top[b - 1].first->Bounds().Right() + 4) << where << " " << button->Name();
      }
    }
    EXPECT_LT(form->BtnHowToUse->Bounds().Right(), form->CmbLanguage->Left()) << where;
    Close();
  }
}

TEST_F(MainFormLangTest, TheSelectorDoesNothingWithNoItemSelected) {
  Start();
  form->CmbLanguage->SetItemIndex(-1);
  form->BtnStart->SetCaption("unchanged");
  form->CmbLanguageChange(form->CmbLanguage);
  EXPECT_EQ(GetCurrentLanguage(), TUiLanguage::ulEnglish);
  EXPECT_EQ(Caption("BtnStart"), "unchanged");
  // A choice is neither logged nor saved before the close.
  const auto lines = LogLines();
  ASSERT_TRUE(ui.Select("CmbLanguage", 5));
  EXPECT_EQ(LogLines(), lines);
  EXPECT_FALSE(m->Files().Exists(Work("settings.ini")));
}

TEST_F(MainFormLangTest, TheWebPageButtonsOpenTheMakersPages) {
  Start();
  const std::pair<const char*, const char*> buttons[] = {
      {"BtnProducts", "https://vrek.example/products"},
      {"BtnManual", "https://vrek.example/manual"},
      {"BtnHowToUse", "https://vrek.example/manual/trim-tool"},
  };
  for (const auto& [button, url] : buttons) {
    script.Url();
    EXPECT_TRUE(ui.Click(button));
    EXPECT_EQ(script.Log().back().Kind, TModalKind::Url);
    EXPECT_EQ(script.Log().back().Text, url);
    const auto call = m->Desktop().ShellCalls().back();
    EXPECT_EQ(call.owner, nullptr);
    EXPECT_EQ(call.verb, "open");
    EXPECT_EQ(call.parameters, "");
    EXPECT_EQ(call.directory, "");
    EXPECT_EQ(call.showCmd, SW_SHOWNORMAL);
  }

  // No browser: nothing is shown or logged.
  m->Desktop().SetShellHandler([](const plat::sim::ShellExecuteCall&) { return intptr_t(2); });
  const auto lines = LogLines();
  EXPECT_TRUE(ui.Click("BtnManual"));
  EXPECT_EQ(m->Desktop().ShellCalls().size(), 4u);
  EXPECT_EQ(LogLines(), lines);
}

TEST_F(MainFormLangTest, TheInformationBoxesAndTheUsbGuideLoggedFirst) {
  Start();
  const struct {
    const char* Button;
    TTextId Caption, Text;
  } boxes[] = {
      {"BtnLicense", TTextId::LicenseCaption, TTextId::LicenseNotice},
      {"BtnAboutTrim", TTextId::AboutTrimCaption, TTextId::AboutTrim},
      {"BtnBotGuide", TTextId::UsbGuideCaption, TTextId::UsbGuide},
  };
  std::vector<std::string> lastLineWhileOpen;
  for (const auto& b : boxes) {
    script.Box([&](const auto&) {
      lastLineWhileOpen.push_back(LogLines().empty() ? "" : LogLines().back());
      return IDOK;
    });
    EXPECT_TRUE(ui.Click(b.Button));
    const auto box = script.Log().back();
    EXPECT_EQ(box.Caption, Text(b.Caption)) << b.Button;
    EXPECT_EQ(box.Text, Text(b.Text)) << b.Button;
    EXPECT_EQ(box.Type, UINT(MB_ICONINFORMATION | MB_OK)) << b.Button;
  }
  EXPECT_FALSE(EndsWith(lastLineWhileOpen[1], "User requested BOT reconnect guide"));
  EXPECT_TRUE(EndsWith(lastLineWhileOpen[2], "[INFO] User requested BOT reconnect guide"));
  EXPECT_TRUE(EndsWith(LogFileLines().back(), "[INFO] User requested BOT reconnect guide"));
}

TEST_F(MainFormLangTest, ClearLogLeavesOnlyItsOwnLine) {
  Start();
  for (int i = 0; i < 5; ++i) form->Logger()->Info("line " + std::to_string(i));
  ASSERT_GT(LogLines().size(), 5u);
  EXPECT_TRUE(ui.Click("BtnClearLog"));
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_TRUE(EndsWith(LogLines()[0], "Z [INFO] UI log cleared by user"));
  EXPECT_EQ(LogFileLines().back(), LogLines()[0]);  // also in the file, which keeps the rest
  EXPECT_TRUE(EndsWith(LogFileLines()[LogFileLines().size() - 2], "[INFO] line 4"));
}

TEST_F(MainFormLangTest, ClearLogOfTheRealTestBringsTheGuideBack) {
  m->Files().WriteAll(Work("settings.ini"), "[General]\r\nLanguage=5\r\n");  // in German
  Start();
  ASSERT_TRUE(ui.Select("PageMain", 2));
  form->MemoRealTestLog->AppendLine("STEP 1 ...");
  const auto lines = LogLines();
  EXPECT_TRUE(ui.Click("BtnClearRealLog"));

  const TUiLanguage de = TUiLanguage::ulGerman;
  EXPECT_EQ(form->MemoRealTestLog->Lines(),
            (std::vector<std::string>{Text(TTextId::GuideTitle, de), Text(TTextId::GuideStep1, de),
                                      Text(TTextId::GuideStep2, de), Text(TTextId::GuideStep3, de),
                                      Text(TTextId::GuideStep4, de), Text(TTextId::GuideStep5, de), "",
                                      Text(TTextId::GuideSpeedDropWait, de), Text(TTextId::GuidePressStop, de)}));
  EXPECT_EQ(LogLines(), lines);  // no log line

  // The guide goes only into an empty memo.
  form->ShowRealTestGuide();
  EXPECT_EQ(form->MemoRealTestLog->Lines().size(), 9u);
}

TEST_F(MainFormLangTest, TheWindowLogKeepsTheNewestLinesUnderItsLimit) {
  Start();
  const std::string filler(90, 'x');
  for (int i = 0; i < 6000; ++i) form->Logger()->Info(std::to_string(i) + " " + filler);
  const tk::TMemo& memo = *form->MemoLog;
  EXPECT_EQ(memo.MaxLength(), 500000u);
  EXPECT_LE(memo.Length(), 500000u);
  EXPECT_GT(memo.Length(), 500000u - 200);
  EXPECT_TRUE(EndsWith(memo.Lines().back(), "[INFO] 5999 " + filler));
  // Whole lines went, oldest first: what is left runs without a gap up to the newest.
  const std::string first = memo.Lines().front();
  const int firstNumber = std::stoi(first.substr(first.find("[INFO] ") + 7));
  EXPECT_GT(firstNumber, 0);
  EXPECT_EQ(memo.Lines().size(), size_t(6000 - firstNumber));
  // The file keeps every line.
  EXPECT_GE(LogFileLines().size(), 6000u);
}

}  // namespace

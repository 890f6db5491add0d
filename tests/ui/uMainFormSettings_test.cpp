// settings.ini: what a start reads into the controls, and what a close writes back.
#include <algorithm>
#include <sstream>

#include "ui/MainFormFixture.h"

using namespace plat;
using namespace std::string_literals;

namespace {

class MainFormSettingsTest : public MainFormFixture {
 protected:
  void WriteSettings(const std::string& Text) { m->Files().WriteAll(Work("settings.ini"), Text); }
  std::string Settings() { return m->Files().ReadAll(Work("settings.ini")); }

  // "Name=value" for each control the settings touch (check boxes 0/1, spin values, item
  // indexes), and the language.
  std::string State() {
    std::ostringstream s;
    s << "Language=" << static_cast<int>(GetCurrentLanguage())
      << " CmbLanguage=" << form->CmbLanguage->ItemIndex();
    for (tk::TCheckBox* c : {form->CbDryRun, form->CbWinRetrimOnly, form->CbAdvanced, form->CbMaskSerial,
                             form->CbQuietIteration, form->CbFlushVolumes, form->CbAllowSystemDisk})
      s << " " << c->Name() << "=" << c->Checked();
    for (tk::TSpinEdit* c : {form->SpTimeout, form->SpRetry, form->SpBatch, form->SpSpeedDropWait})
      s << " " << c->Name() << "=" << c->Value();
    for (tk::TComboBox* c :
         {form->CmbBatchLimit, form->CmbStartStep, form->CmbEndStep, form->CbInitStyle, form->CmbUaspMethod})
      s << " " << c->Name() << "=" << c->ItemIndex();
    s << " RgMode=" << form->RgMode->ItemIndex();
    return s.str();
  }

  // The design values, with some of them replaced ("Name=value" pairs of State()).
  static std::string Expect(const std::vector<std::string>& Changes) {
    std::istringstream design(
        "Language=1 CmbLanguage=1 CbDryRun=0 CbWinRetrimOnly=0 CbAdvanced=0 CbMaskSerial=1 CbQuietIteration=0 "
        "CbFlushVolumes=1 CbAllowSystemDisk=0 SpTimeout=5000 SpRetry=3 SpBatch=32 SpSpeedDropWait=2 "
        "CmbBatchLimit=3 CmbStartStep=0 CmbEndStep=4 CbInitStyle=0 CmbUaspMethod=0 RgMode=0");
    std::vector<std::string> pairs;
    for (std::string p; design >> p;) pairs.push_back(p);
    for (const std::string& c : Changes) {
      auto it = std::find_if(pairs.begin(), pairs.end(), [&](const std::string& p) {
        return p.substr(0, p.find('=')) == c.substr(0, c.find('='));
      });
      if (it == pairs.end()) return "no control " + c;
      *it = c;
    }
    std::string s;
    for (const std::string& p : pairs) s += (s.empty() ? "" : " ") + p;
    return s;
  }
};

TEST_F(MainFormSettingsTest, ReadChecksAndClamps) {
  const struct {
    const char* File;
    std::vector<std::string> Expected;
  } cases[] = {
      {"", {}},
      {"[General]\r\nLanguage=2\r\n", {"Language=2", "CmbLanguage=2"}},
      {"[General]\r\nLanguage=7\r\n", {"Language=7", "CmbLanguage=7"}},
      {"[General]\r\nLanguage=0\r\n", {"Language=0", "CmbLanguage=0"}},
      {"[General]\r\nLanguage=8\r\n", {}},
      {"[General]\r\nLanguage=9\r\n", {}},
      {"[General]\r\nLanguage=-1\r\n", {}},
      {"[General]\r\nLanguage=x\r\n", {}},
      {"[Trim]\r\nDryRun=1\r\n", {"CbDryRun=1"}},  // no General section: the detected language
      {"[Trim]\r\nTimeoutMs=500\r\n", {"SpTimeout=1000"}},
      {"[Trim]\r\nTimeoutMs=abc\r\n", {}},
      {"[Trim]\r\nTimeoutMs=\r\n", {}},
      {"[Trim]\r\nTimeoutMs=999999\r\n", {"SpTimeout=120000"}},
      {"[Trim]\r\nTimeoutMs=7500\r\n", {"SpTimeout=7500"}},  // off the step: kept
      {"[Trim]\r\nTimeoutMs=4294967297\r\n", {}},            // beyond 32 bits: not a number
      {"[Trim]\r\nTimeoutMs=2147483648\r\n", {}},
      {"[Trim]\r\nTimeoutMs=-2147483648\r\n", {"SpTimeout=1000"}},
      {"[Trim]\r\nTimeoutMs=0x2000\r\n", {}},
      {"[Trim]\r\nTimeoutMs = 8000 \r\n", {"SpTimeout=8000"}},
      {"[Trim]\r\nRetry=-5\r\nBatchEntries=0\r\n", {"SpRetry=0", "SpBatch=1"}},
      {"[Trim]\r\nRetry=99\r\nBatchEntries=300\r\n", {"SpRetry=8", "SpBatch=256"}},
      {"[Trim]\r\nMaskSerial=0\r\n", {"CbMaskSerial=0"}},
      {"[Trim]\r\nMaskSerial=true\r\n", {"CbMaskSerial=0"}},
      {"[Trim]\r\nMaskSerial=\r\n", {}},
      {"[Trim]\r\nMaskSerial=1abc\r\n", {}},
      {"[Trim]\r\nDryRun=1\r\nWinRetrimOnly=1\r\nShowAdvanced=1\r\nQuietIteration=1\r\nFlushVolumes=0\r\n",
       {"CbDryRun=1", "CbWinRetrimOnly=1", "CbAdvanced=1", "CbQuietIteration=1", "CbFlushVolumes=0"}},
      {"[Trim]\r\nBatchLimitIndex=4\r\n", {}},
      {"[Trim]\r\nBatchLimitIndex=-2\r\n", {}},
      {"[Trim]\r\nBatchLimitIndex=0\r\n", {"CmbBatchLimit=0"}},
      {"[RealTest]\r\nStartStepIndex=3\r\nEndStepIndex=1\r\n", {"CmbStartStep=3", "CmbEndStep=1"}},
      {"[RealTest]\r\nStartStepIndex=5\r\nEndStepIndex=-1\r\n", {}},
      {"[RealTest]\r\nSpeedDropWaitMin=601\r\n", {"SpSpeedDropWait=600"}},
      {"[RealTest]\r\nSpeedDropWaitMin=-1\r\n", {"SpSpeedDropWait=0"}},
      {"[RealTest]\r\nSpeedDropWaitMin=30\r\n", {"SpSpeedDropWait=30"}},
      // Names without case; comments; keys of the wrong section; the first of twins.
      {"[TRIM]\r\nmaskserial=0\r\n[general]\r\nLANGUAGE=5\r\n", {"CbMaskSerial=0", "Language=5", "CmbLanguage=5"}},
      {"[Trim]\r\n; MaskSerial=0\r\n#DryRun=1\r\nFlushVolumes=0\r\n", {"CbFlushVolumes=0"}},
      {"[RealTest]\r\nRetry=1\r\n", {}},
      {"[Trim]\r\nRetry=1\r\nRetry=2\r\n[Trim]\r\nRetry=4\r\n", {"SpRetry=1"}},
      // What is not saved is not read either.
      {"[Trim]\r\nAllowSystemDisk=1\r\nMode=1\r\nUaspMethod=2\r\nInitStyle=1\r\n", {}},
      // A byte-order mark, LF or CR line ends.
      {"\xEF\xBB\xBF[General]\r\nLanguage=2\r\n", {"Language=2", "CmbLanguage=2"}},
      {"[Trim]\nRetry=5\n", {"SpRetry=5"}},
      {"[Trim]\rRetry=6", {"SpRetry=6"}},
  };
  for (const auto& c : cases) {
    if (*c.File) WriteSettings(c.File);
    Start();
    EXPECT_EQ(State(), Expect(c.Expected)) << c.File;
    Close();
    Win().DeleteFileW(Work("settings.ini"));
  }
}

TEST_F(MainFormSettingsTest, TheLoadedLanguageCaptionsTheWindow) {
  WriteSettings("[General]\r\nLanguage=2\r\n");
  Start();
  EXPECT_EQ(Caption("BtnStart"), Text(TTextId::ButtonStart, TUiLanguage::ulJapanese));
  EXPECT_EQ(form->CmbLanguage->Text(), "日本語");
}

TEST_F(MainFormSettingsTest, AFileThatCannotBeReadKeepsTheDesignValuesAndIsLeftAsItIs) {
  const std::string unparsable = "[General]\r\nLanguage=2\r\n[Trim]\0\r\nDryRun=1\r\n"s;
  const std::string utf16 = "\xFF\xFE[\0G\0"s;
  for (const std::string& text : {unparsable, utf16}) {
    WriteSettings(text);
    Start();
    EXPECT_EQ(State(), Expect({}));
    form->CbDryRun->SetChecked(true);
    Close();
    EXPECT_EQ(Settings(), text);
  }

  // A file the program may not open: neither read nor written; the close goes on quietly.
  WriteSettings("[General]\r\nLanguage=2\r\n");
  m->Files().SetFault(Work("settings.ini"), {.openError = ERROR_SHARING_VIOLATION});
  Start();
  EXPECT_EQ(State(), Expect({}));
  Close();
  m->Files().ClearFaults();
  EXPECT_EQ(Settings(), "[General]\r\nLanguage=2\r\n");

  // A folder by that name.
  Win().DeleteFileW(Work("settings.ini"));
  Win().CreateDirectoryW(Work("settings.ini"));
  Start();
  EXPECT_EQ(State(), Expect({}));
  Close();
  EXPECT_TRUE(script.Log().empty());
}

TEST_F(MainFormSettingsTest, ANewFileHoldsTheSectionsAndKeysInOrder) {
  Start();
  form->CbDryRun->SetChecked(true);
  form->SpTimeout->SetValue(7000);
  form->CmbEndStep->SetItemIndex(2);
  form->CbAllowSystemDisk->SetChecked(true);  // never saved
  form->CmbUaspMethod->SetItemIndex(1);       // never saved
  Close();
  EXPECT_EQ(Settings(),
            "[General]\r\nLanguage=1\r\n"
            "\r\n[Trim]\r\nDryRun=1\r\nWinRetrimOnly=0\r\nShowAdvanced=0\r\nTimeoutMs=7000\r\nRetry=3\r\n"
            "BatchEntries=32\r\nBatchLimitIndex=3\r\nMaskSerial=1\r\nQuietIteration=0\r\nFlushVolumes=1\r\n"
            "\r\n[RealTest]\r\nSpeedDropWaitMin=2\r\nStartStepIndex=0\r\nEndStepIndex=2\r\n");

  // And the next start reads them back.
  Start();
  EXPECT_EQ(State(), Expect({"CbDryRun=1", "SpTimeout=7000", "CmbEndStep=2"}));
}

TEST_F(MainFormSettingsTest, AHandEditedFileKeepsWhatTheProgramDoesNotUse) {
  WriteSettings(
      "; my settings\r\n"
      "[OtherTool]\r\n"
      "Language=9\r\n"
      "\r\n"
      "[trim]\r\n"
      "  TimeoutMs = 8000\r\n"
      "maskserial=0\r\n"
      "Comment=keep me\r\n"
      "\r\n"
      "[General]\r\n"
      "Language=5\r\n");
  Start();
  EXPECT_EQ(State(), Expect({"Language=5", "CmbLanguage=5", "SpTimeout=8000", "CbMaskSerial=0"}));
  EXPECT_TRUE(ui.Select("CmbLanguage", 6));  // French, saved at the close
  Close();
  EXPECT_EQ(Settings(),
            "; my settings\r\n"
            "[OtherTool]\r\n"
            "Language=9\r\n"
            "\r\n"
            "[trim]\r\n"
            "TimeoutMs=8000\r\n"
            "maskserial=0\r\n"
            "Comment=keep me\r\n"
            "DryRun=0\r\n"
            "WinRetrimOnly=0\r\n"
            "ShowAdvanced=0\r\n"
            "Retry=3\r\n"
            "BatchEntries=32\r\n"
            "BatchLimitIndex=3\r\n"
            "QuietIteration=0\r\n"
            "FlushVolumes=1\r\n"
            "\r\n"
            "[General]\r\n"
            "Language=6\r\n"
            "\r\n"
            "[RealTest]\r\n"
            "SpeedDropWaitMin=2\r\n"
            "StartStepIndex=0\r\n"
            "EndStepIndex=4\r\n");
}

TEST_F(MainFormSettingsTest, AFailingSaveIsSilent) {
  // A read-only file, then a full disk.
  WriteSettings("[Trim]\r\nDryRun=0\r\n");
  Win().SetFileAttributesW(Work("settings.ini"), FILE_ATTRIBUTE_READONLY);
  Start();
  form->CbDryRun->SetChecked(true);
  Close();
  EXPECT_EQ(Settings(), "[Trim]\r\nDryRun=0\r\n");

  Win().SetFileAttributesW(Work("settings.ini"), FILE_ATTRIBUTE_NORMAL);
  m->Files().SetFault(Work("settings.ini"), {.writeError = ERROR_DISK_FULL});
  Start();
  Close();
  EXPECT_TRUE(script.Log().empty());
}

}  // namespace

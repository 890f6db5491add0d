// The main window's start and stop, and its two message-box helpers.
#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "core/uLogger.h"
#include "engine/uTrimExecutor.h"
#include "ui/MainFormFixture.h"
#include "ui/toolkit/uTkModal.h"

using namespace plat;
using tk::headless::TModalKind;

namespace {

// The folder's entries, as a directory listing shows them.
std::vector<std::string> List(const std::string& Folder) {
  std::vector<std::string> names;
  FIND_DATA d;
  HANDLE h = Win().FindFirstFileW(Folder + "\\*", &d);
  if (!IsValidHandle(h)) return names;
  do {
    if (d.cFileName != "." && d.cFileName != "..") names.push_back(d.cFileName);
  } while (Win().FindNextFileW(h, &d));
  Win().FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

// Index of the first step at or after From that starts with Prefix; npos when none does.
size_t Find(const std::vector<std::string>& Steps, const std::string& Prefix, size_t From = 0) {
  for (size_t i = From; i < Steps.size(); ++i)
    if (Steps[i].compare(0, Prefix.size(), Prefix) == 0) return i;
  return std::string::npos;
}

bool EndsWith(const std::string& S, const std::string& Tail) {
  return S.size() >= Tail.size() && S.compare(S.size() - Tail.size(), Tail.size(), Tail) == 0;
}

bool HasLineEndingIn(const std::vector<std::string>& Lines, const std::string& Tail) {
  return std::any_of(Lines.begin(), Lines.end(), [&](const std::string& l) { return EndsWith(l, Tail); });
}

class MainFormStartTest : public MainFormFixture {};

TEST_F(MainFormStartTest, CreationRunsItsStepsInOrderAndTheLayoutRunsAgainOnceShown) {
  // An English Windows whose settings ask for Japanese.
  m->Files().WriteAll(Work("settings.ini"), "[General]\r\nLanguage=2\r\n");
  const TUiLanguage ja = TUiLanguage::ulJapanese;

  std::vector<std::string> steps;
  bool folders = false;
  trace.OnChange = [&](tk::TControl& c, tk::TChange what, size_t) {
    if (!folders && m->Files().Exists(Work("logs")) && m->Files().Exists(Work("output"))) {
      folders = true;
      steps.push_back("folders");
    }
    switch (what) {
      case tk::TChange::Caption: steps.push_back("caption " + c.Name() + "=" + c.Caption()); break;
      case tk::TChange::Items: steps.push_back("items " + c.Name()); break;
      case tk::TChange::ItemIndex:
        if (auto* combo = dynamic_cast<tk::TComboBox*>(&c))
          steps.push_back("index " + c.Name() + "=" + std::to_string(combo->ItemIndex()));
        break;
      case tk::TChange::LinesAdded: {
        const std::string line = static_cast<tk::TMemo&>(c).Lines().back();
        steps.push_back("line " + c.Name() + "=" + line);
        // The same line is in the log file by the time the window shows it.
        if (EndsWith(line, "[INFO] Application started") &&
            m->Files().ReadAll(LogFilePath()).find("[INFO] Application started\r\n") != std::string::npos)
          steps.push_back("log file holds it");
        break;
      }
      case tk::TChange::Visible:
        if (&c == form.get()) steps.push_back(c.Visible() ? "shown" : "hidden");
        break;
      case tk::TChange::Bounds: steps.push_back("bounds " + c.Name()); break;
      default: break;
    }
  };

  Create();
  steps.push_back("created");
  // Knocked out of place before the window shows: the layout after the show puts it back.
  const tk::TBounds placed = form->CbFlushVolumes->Bounds();
  form->CbFlushVolumes->SetLeft(0);
  Show();
  trace.OnChange = nullptr;

  const std::string expected[] = {
      "caption MainForm=vrek_trim_tool 0.1.0.2",
      "folders",
      "items CmbLanguage",
      "index CmbLanguage=1",  // detected from Windows
      "index CmbLanguage=2",  // then the settings file
      "caption TabTrim=" + Text(TTextId::TabTrimExecute, ja),
      "line MemoLog=",
      "log file holds it",
      "caption LblStatus=" + Text(TTextId::StatusIdle, ja),
      "created",
      "shown",
      "bounds CbFlushVolumes",
  };
  size_t at = 0;
  for (const std::string& e : expected) {
    const size_t found = Find(steps, e, at);
    ASSERT_NE(found, std::string::npos) << "\"" << e << "\" missing after step " << at;
    at = found + 1;
  }
  EXPECT_TRUE(EndsWith(steps[Find(steps, "line MemoLog=")], "[INFO] Application started"));
  EXPECT_EQ(form->CbFlushVolumes->Bounds().Left, form->CbQuietIteration->Bounds().Right() + 16);
  EXPECT_NE(form->CbFlushVolumes->Bounds().Left, 0);
  EXPECT_EQ(form->CbFlushVolumes->Top(), placed.Top);

  // The probe is gone; the settings, logs and output live in the working folder.
  EXPECT_EQ(List(kWork), (std::vector<std::string>{"logs", "output", "settings.ini"}));
  EXPECT_EQ(List(Work("logs")), (std::vector<std::string>{LogFilePath().substr(Work("logs\\").size())}));
  // The window's notification window is registered for disk interfaces (the machine checks the
  // 32-byte filter and refuses any other).
  EXPECT_EQ(m->Notifications().Recipients().size(), 1u);
  EXPECT_EQ(form->CmbUaspMethod->Text(), "Auto");

  Close();
  EXPECT_NE(m->Files().ReadAll(Work("settings.ini")).find("Language=2\r\n"), std::string::npos);
  EXPECT_TRUE(m->Notifications().Recipients().empty());
}

TEST_F(MainFormStartTest, WithoutSettingsTheLanguageIsWindowsOwn) {
  m->Desktop().SetUiLanguage(0x0407);  // German
  Start();
  EXPECT_EQ(GetCurrentLanguage(), TUiLanguage::ulGerman);
  EXPECT_EQ(form->CmbLanguage->ItemIndex(), 5);
  EXPECT_EQ(Caption("BtnStart"), Text(TTextId::ButtonStart, TUiLanguage::ulGerman));
}

TEST_F(MainFormStartTest, AReadOnlyWorkingFolderRunsWithoutSettingsLogFileOrOutput) {
  // Its settings are not read either.
  m->Files().WriteAll(Work("settings.ini"), "[General]\r\nLanguage=2\r\n[Trim]\r\nDryRun=1\r\n");
  m->Files().SetFault(kWork, {.readOnly = true});
  Start();
  EXPECT_EQ(form->Caption(), "vrek_trim_tool 0.1.0.2");
  EXPECT_TRUE(HasLineEndingIn(LogLines(), "[INFO] Application started"));
  EXPECT_EQ(GetCurrentLanguage(), TUiLanguage::ulEnglish);
  EXPECT_FALSE(form->CbDryRun->Checked());
  EXPECT_EQ(form->OutputDir(), "");
  form->CbDryRun->SetChecked(true);
  Close();

  EXPECT_EQ(List(kWork), (std::vector<std::string>{"settings.ini"}));
  EXPECT_EQ(m->Files().ReadAll(Work("settings.ini")), "[General]\r\nLanguage=2\r\n[Trim]\r\nDryRun=1\r\n");
}

TEST_F(MainFormStartTest, TheWriteProbeIsNamedAfterTheTimeAndDecidesWhetherTheFolderIsWritable) {
  // Only the probe's own name fails: the folder itself would take files.
  const std::string probe = Work(".write_test_" + FormatProbeStamp(LocalTimeNow()));
  m->Files().SetFault(probe, {.openError = ERROR_ACCESS_DENIED});
  Start();
  EXPECT_EQ(form->OutputDir(), "");
  Close();
  EXPECT_TRUE(List(kWork).empty());

  // Writable: the output folder carries its delimiter.
  m->Files().ClearFaults();
  Start();
  EXPECT_EQ(form->OutputDir(), Work("output\\"));
}

TEST_F(MainFormStartTest, AFolderThatCannotBeCreatedIsIgnoredAndTheLogFallsBackToTheWindow) {
  m->Files().SetFault(Work("logs"), {.createDirectoryError = ERROR_ACCESS_DENIED});
  Start();
  EXPECT_TRUE(HasLineEndingIn(LogLines(), "[INFO] Application started"));
  EXPECT_EQ(form->OutputDir(), Work("output\\"));
  Close();
  EXPECT_EQ(List(kWork), (std::vector<std::string>{"output", "settings.ini"}));
}

TEST_F(MainFormStartTest, TwoStartsInOneSecondShareTheLogFileAndKeepBothRuns) {
  Start();
  Close();
  const std::string first = LogFilePath();
  Start();
  Close();
  ASSERT_EQ(LogFilePath(), first);
  const auto lines = LogFileLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return EndsWith(l, "[INFO] Application started"); }),
            2);
}

// ---- the two box helpers ----

class MainFormBoxTest : public MainFormFixture {};

TEST_F(MainFormBoxTest, AppMessageBoxMapsKindButtonsAndResult) {
  using F = TMainForm;
  struct TCase {
    F::TDialogKind Kind;
    uint8_t Buttons;
    int Pressed;  // what the box returns
    UINT Type;    // what is shown
    int32_t Result;
  };
  const TCase cases[] = {
      {F::dkWarning, F::mbOK, IDOK, MB_ICONWARNING | MB_OK, 1},
      {F::dkError, F::mbOK, IDOK, MB_ICONERROR | MB_OK, 1},
      {F::dkInformation, F::mbOK, IDOK, MB_ICONINFORMATION | MB_OK, 1},
      {F::dkCustom, F::mbOK, IDOK, MB_ICONINFORMATION | MB_OK, 1},
      {F::dkConfirmation, F::mbYes | F::mbNo, IDYES, MB_ICONQUESTION | MB_YESNO, 6},
      {F::dkConfirmation, F::mbYes | F::mbNo, IDNO, MB_ICONQUESTION | MB_YESNO, 7},
      // OK and Cancel show only OK.
      {F::dkWarning, F::mbOK | F::mbCancel, IDOK, MB_ICONWARNING | MB_OK, 1},
      // Yes, No and Cancel closed by the frame: Cancel.
      {F::dkWarning, F::mbYes | F::mbNo | F::mbCancel, IDCANCEL, MB_ICONWARNING | MB_YESNOCANCEL, 2},
      {F::dkInformation, F::mbYes | F::mbCancel, IDOK, MB_ICONINFORMATION | MB_OK, 1},
      {F::dkError, 0, IDOK, MB_ICONERROR | MB_OK, 1},
      // Buttons the helper does not know are ignored.
      {F::dkConfirmation, F::mbYes | F::mbNo | 0x80, IDYES, MB_ICONQUESTION | MB_YESNO, 6},
      // Any other answer, or a box that failed, is 0.
      {F::dkInformation, F::mbOK, 3 /* IDABORT */, MB_ICONINFORMATION | MB_OK, 0},
      {F::dkInformation, F::mbOK, 0, MB_ICONINFORMATION | MB_OK, 0},
  };
  Start();
  for (const TCase& c : cases) script.Box(c.Pressed);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const TCase& c = cases[i];
    EXPECT_EQ(form->AppMessageBox("Caption " + std::to_string(i), "Text", c.Kind, c.Buttons), c.Result) << i;
    const auto box = script.Log(TModalKind::Box).back();
    EXPECT_EQ(box.Type, c.Type) << i;
    EXPECT_EQ(box.Caption, "Caption " + std::to_string(i));
    EXPECT_EQ(box.Text, "Text");
    EXPECT_EQ(box.Owner, form->Handle());  // modal, owned by the main window
  }

  // Empty texts are shown empty.
  script.Box(IDOK);
  form->AppMessageBox("", "", F::dkInformation, F::mbOK);
  EXPECT_EQ(script.Log().back().Caption, "");
  EXPECT_EQ(script.Log().back().Text, "");
}

TEST_F(MainFormBoxTest, ConfirmYesNoAsksWithoutCancelAndIsTrueOnlyForYes) {
  Start();
  script.Box(IDYES).Box(IDNO);
  EXPECT_TRUE(form->ConfirmYesNo("Confirm", "Go?"));
  EXPECT_FALSE(form->ConfirmYesNo("Confirm", "Go?"));
  for (const auto& box : script.Log(TModalKind::Box)) EXPECT_EQ(box.Type, UINT(MB_ICONQUESTION | MB_YESNO));
}

TEST_F(MainFormBoxTest, AnExceptionInAHandlerOrADeferredCallIsShownAndLoggedAndTheWindowGoesOn) {
  Start();
  form->BtnLicense->OnClick = [](tk::TControl*) { throw std::runtime_error("handler broke"); };
  script.Box(IDOK);
  EXPECT_TRUE(ui.Click("BtnLicense"));
  tk::Application().PostDeferred([] { throw std::runtime_error("deferred call broke"); });
  script.Box(IDOK);
  ui.RunFor(10);

  const auto boxes = script.Log(TModalKind::Box);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].Text, "handler broke");
  EXPECT_EQ(boxes[1].Text, "deferred call broke");
  for (const auto& box : boxes) {
    EXPECT_EQ(box.Caption, Text(TTextId::ErrorCaption));
    EXPECT_EQ(box.Type, UINT(MB_ICONERROR | MB_OK));
    EXPECT_EQ(box.Owner, form->Handle());
  }
  const auto lines = LogFileLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_TRUE(EndsWith(lines[lines.size() - 2], "[ERROR] Unhandled exception: handler broke"));
  EXPECT_TRUE(EndsWith(lines.back(), "[ERROR] Unhandled exception: deferred call broke"));
  EXPECT_EQ(LogLines().back(), lines.back());

  // Still answering.
  script.Box(IDOK);
  EXPECT_TRUE(ui.Click("BtnAboutTrim"));
  EXPECT_EQ(script.Log().back().Caption, Text(TTextId::AboutTrimCaption));
}

// ---- shutdown ----

// A run that goes on until it is cancelled, then hands its completion to the main thread and
// waits there, as the execution thread does.
class TLongRun final : public TTrimExecutionThread {
 public:
  TLongRun(TLogger* Logger, TTrimDoneEvent OnDone, std::atomic<int>& Freed)
      : TTrimExecutionThread({}, {}, TTrimMode::tmFullDevice, {}, TRunMode::rmDryRun, Logger, nullptr,
                             std::move(OnDone)),
        FFreed(Freed) {}
  ~TLongRun() override { FFreed++; }

 protected:
  void Execute() override {
    while (!IsCancelRequested()) Win().Sleep(100);
    FStats.Cancelled = true;
    Synchronize([this] { DoDone(); });
  }

 private:
  std::atomic<int>& FFreed;
};

class MainFormStopTest : public MainFormFixture {};

TEST_F(MainFormStopTest, ShutdownSavesFirstThenLetsGoOfNotificationsThenWaitsForTheRunServingItsCalls) {
  Start();
  form->CbDryRun->SetChecked(true);

  std::vector<std::string> steps;
  std::atomic<int> freed{0};
  TMainForm* f = form.get();
  auto* run = new TLongRun(
      f->Logger(),
      [&, f](const TRunStats& Stats) {
        // The completion runs on the main thread while the shutdown waits: the log and the
        // window are still there, and its box is shown.
        steps.push_back(Stats.Cancelled ? "run completed, cancelled" : "run completed");
        f->Logger()->Info("run ended during shutdown");
        f->AppMessageBox("Done", "Run ended", TMainForm::dkInformation, TMainForm::mbOK);
        TMainFormTestAccess::RunThread(*f) = nullptr;
      },
      freed);
  TMainFormTestAccess::RunThread(*form) = run;
  run->Start();
  ui.RunFor(1000);
  ASSERT_EQ(freed.load(), 0);

  trace.OnCall = [&](const std::string& call, void*) {
    if (call != "DeallocateHWnd") return;
    steps.push_back("notification window destroyed");
    if (m->Files().ReadAll(Work("settings.ini")).find("DryRun=1\r\n") != std::string::npos)
      steps.push_back("settings were saved");
    if (m->Notifications().Recipients().empty()) steps.push_back("notifications were unregistered");
  };
  script.Box(IDOK);
  Close();
  trace.OnCall = nullptr;

  EXPECT_EQ(steps, (std::vector<std::string>{"notification window destroyed", "settings were saved",
                                             "notifications were unregistered", "run completed, cancelled"}));
  EXPECT_EQ(freed.load(), 1);  // taken back and freed by the shutdown, once
  EXPECT_EQ(script.Log(TModalKind::Box).back().Caption, "Done");
  EXPECT_TRUE(EndsWith(LogFileLines().back(), "[INFO] run ended during shutdown"));
}

}  // namespace

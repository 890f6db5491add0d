// Every modal interaction through one script: boxes from any thread, the two dialogs, modal
// forms and web pages, in order, recorded; the unexpected ones fail the test, never hang it.
#include <atomic>

#include "core/ThreadTestUtil.h"
#include "ui/UiFixture.h"
#include "ui/toolkit/uTkControls.h"
#include "ui/toolkit/uTkForm.h"
#include "ui/toolkit/uTkModal.h"

using namespace tk;
using headless::TModal;
using headless::TModalKind;
using plat::IDNO;
using plat::IDOK;
using plat::IDYES;

namespace {

class ModalTest : public UiFixture {
 protected:
  ModalTest() : form(std::make_unique<TForm>(nullptr, TCreate{.Name = "Main", .Caption = "vrek_trim_tool"})) {
    form->SetClientSize({400, 300});
    form->Show();
  }
  ~ModalTest() override { DestroyForm(std::move(form)); }

  // Failures go to this list instead of failing the test.
  void CatchFailures() {
    script.SetOnFailure([this](const std::string& Message) { failures.push_back(Message); });
  }

  std::unique_ptr<TForm> form;
  std::vector<std::string> failures;
};

TEST_F(ModalTest, BoxesFromTheMainThreadAndAWorkerAreAnsweredAndRecordedInOrder) {
  script.Box(IDOK).Box(IDYES).Box(IDNO);
  EXPECT_EQ(MessageBox(form.get(), "one", "First", plat::MB_OK | plat::MB_ICONINFORMATION), IDOK);
  std::atomic<bool> done{false};
  int workerAnswer = 0, mainAnswer = 0;
  TLambdaThread worker([&](TLambdaThread& t) {
    // The TRIM run's own kind of box: no owner, on top.
    workerAnswer = plat::Win().MessageBoxW(nullptr, "two", "Second", plat::MB_YESNO | plat::MB_TOPMOST);
    t.Synchronize([&] { mainAnswer = MessageBox(form.get(), "three", "Third", plat::MB_YESNO); });
    done = true;
  });
  worker.Start();
  EXPECT_TRUE(ui.RunUntil([&] { return done.load(); }, 1000));
  EXPECT_TRUE(worker.WaitFor());
  EXPECT_EQ(workerAnswer, IDYES);
  EXPECT_EQ(mainAnswer, IDNO);

  auto log = script.Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].Caption, "First");
  EXPECT_EQ(log[0].Text, "one");
  EXPECT_EQ(log[0].Type, plat::MB_OK | plat::MB_ICONINFORMATION);
  EXPECT_EQ(log[0].Owner, form->Handle());
  EXPECT_EQ(log[0].ThreadId, main->MainThreadId());
  EXPECT_EQ(log[1].Text, "two");
  EXPECT_EQ(log[1].Owner, nullptr);
  EXPECT_EQ(log[1].ThreadId, worker.ThreadID());
  EXPECT_EQ(log[1].Result, IDYES);
  EXPECT_EQ(log[2].Text, "three");
  EXPECT_EQ(log[2].ThreadId, main->MainThreadId());
  EXPECT_EQ(log[2].Result, IDNO);
  // The simulated desktop saw the same boxes.
  EXPECT_EQ(m->Desktop().Boxes().size(), 3u);
}

TEST_F(ModalTest, AnAnswerCanRunTheLoopWhileTheBoxIsOpen) {
  int ticks = 0;
  TTimer* t = form->AddTimer();
  t->SetInterval(500);
  t->OnTimer = [&](TTimer*) { ++ticks; };
  t->SetEnabled(true);
  std::atomic<bool> synced{false};
  TLambdaThread worker([&](TLambdaThread& w) { w.Synchronize([&] { synced = true; }); });
  script.Box([&](const TModal& M) {
    EXPECT_EQ(M.Text, "Stop writing to the drive.");
    worker.Start();
    ui.RunFor(1000);  // the box is open meanwhile
    return IDOK;
  });
  EXPECT_EQ(MessageBox(form.get(), "Stop writing to the drive.", "Notice", plat::MB_OK), IDOK);
  EXPECT_EQ(ticks, 2);
  EXPECT_TRUE(synced);
  EXPECT_TRUE(worker.WaitFor());
  EXPECT_EQ(script.Log()[0].Result, IDOK);

  // A box shown by a deferred call: the calls waiting behind it run while it is open.
  std::vector<std::string> order;
  Application().PostDeferred([&] {
    MessageBox(form.get(), "first", "Deferred", plat::MB_OK);
    order.push_back("box closed");
  });
  Application().PostDeferred([&] { order.push_back("waiting call"); });
  script.Box([&](const TModal&) {
    ui.RunFor(0);
    return IDOK;
  });
  ui.RunFor(0);
  EXPECT_EQ(order, (std::vector<std::string>{"waiting call", "box closed"}));
}

TEST_F(ModalTest, DialogsModalFormsAndWebPages) {
  // Input: the value changes only on OK.
  script.Input("3").InputCancel();
  std::string typed;
  EXPECT_TRUE(InputQuery(form.get(), "Confirm", "Type \"3\"", typed));
  EXPECT_EQ(typed, "3");
  EXPECT_FALSE(InputQuery(form.get(), "Confirm", "Type \"3\"", typed));
  EXPECT_EQ(typed, "3");
  auto inputs = script.Log(TModalKind::Input);
  ASSERT_EQ(inputs.size(), 2u);
  EXPECT_EQ(inputs[0].Value, "");
  EXPECT_EQ(inputs[0].Text, "Type \"3\"");
  EXPECT_EQ(inputs[0].Answer, "3");
  EXPECT_EQ(inputs[1].Value, "3");
  EXPECT_EQ(inputs[1].Result, 0);

  // Save: every option recorded; the process's current directory stays, whatever the dialog did.
  std::string before;
  plat::Win().GetCurrentDirectoryW(&before);
  ASSERT_TRUE(plat::Win().CreateDirectoryW("C:\\elsewhere"));
  script.Save([&](const TModal&) -> std::optional<std::string> {
    EXPECT_TRUE(plat::Win().SetCurrentDirectoryW("C:\\elsewhere"));
    return "C:\\out\\speed_data.csv";
  });
  script.SaveCancel();
  TSaveDialogOptions options{"Save Speed Data CSV", "CSV files (*.csv)|*.csv|All files (*.*)|*.*", ".csv",
                             "speed_data.csv", "C:\\work\\output\\"};
  std::string path = "unchanged";
  EXPECT_TRUE(SaveFileDialog(form.get(), options, path));
  EXPECT_EQ(path, "C:\\out\\speed_data.csv");
  std::string after;
  plat::Win().GetCurrentDirectoryW(&after);
  EXPECT_EQ(after, before);
  path = "unchanged";
  EXPECT_FALSE(SaveFileDialog(form.get(), options, path));
  EXPECT_EQ(path, "unchanged");
  auto saves = script.Log(TModalKind::Save);
  ASSERT_EQ(saves.size(), 2u);
  EXPECT_EQ(saves[0].Caption, "Save Speed Data CSV");
  EXPECT_EQ(saves[0].Save.Filter, options.Filter);
  EXPECT_EQ(saves[0].Save.InitialDir, "C:\\work\\output\\");
  EXPECT_EQ(saves[0].Owner, form->Handle());

  // A modal form: its owner takes no input meanwhile.
  auto* mainBtn = form->Add<TButton>({.Name = "MainBtn", .Bounds = {0, 0, 80, 25}});
  int mainClicks = 0;
  mainBtn->OnClick = [&](TControl*) { ++mainClicks; };
  TForm chart(form.get(), {.Name = "Chart", .Bounds = {0, 0, 1000, 520}, .Caption = "Write Speed Chart"});
  chart.SetPosition(TFormPosition::poOwnerFormCenter);
  auto* close = chart.Add<TButton>({.Name = "BtnClose", .Bounds = {10, 10, 100, 28}});
  close->OnClick = [&](TControl*) { chart.SetModalResult(mrOk); };
  script.Form([&](TForm& F) {
    EXPECT_EQ(&F, &chart);
    EXPECT_FALSE(ui.Click("MainBtn"));
    EXPECT_TRUE(ui.Click("BtnClose"));
  });
  EXPECT_EQ(chart.ShowModal(), mrOk);
  EXPECT_EQ(mainClicks, 0);
  EXPECT_TRUE(form->Enabled());
  EXPECT_FALSE(chart.Showing());
  EXPECT_EQ(chart.Left(), form->Left() + (form->Width() - 1000) / 2);
  EXPECT_TRUE(ui.Click("MainBtn"));
  auto forms = script.Log(TModalKind::Form);
  ASSERT_EQ(forms.size(), 1u);
  EXPECT_EQ(forms[0].Caption, "Write Speed Chart");
  EXPECT_EQ(forms[0].Result, mrOk);

  // Closed by its frame: mrClose.
  script.Form([&](TForm& F) { ui.CloseByUser(F); });
  EXPECT_EQ(chart.ShowModal(), mrClose);

  // A web page: recorded by the script and by the simulated shell.
  script.Url();
  OpenUrl("https://vrek.example/manual");
  EXPECT_EQ(script.Log().back().Text, "https://vrek.example/manual");
  auto shell = m->Desktop().ShellCalls();
  ASSERT_EQ(shell.size(), 1u);
  EXPECT_EQ(shell[0].verb, "open");
  EXPECT_EQ(shell[0].owner, nullptr);
  EXPECT_EQ(shell[0].parameters, "");
  EXPECT_EQ(shell[0].directory, "");
  EXPECT_EQ(shell[0].showCmd, plat::SW_SHOWNORMAL);
}

// Where the dialog's paths are not the program's (the demo), the dialog opens on the folder
// ToDialog gives, and the file it chose becomes the program's path; a file the program cannot
// write is refused in a warning box that says why, and the dialog opens again.
TEST_F(ModalTest, TheSaveDialogsPathsGoThroughTheDialogPaths) {
  std::vector<std::string> asked;
  TDialogPaths map;
  map.ToDialog = [](const std::string& Folder) { return "/host" + Folder; };
  map.FromDialog = [&](const std::string& Chosen, std::string& Why) -> std::string {
    asked.push_back(Chosen);
    if (Chosen.rfind("/host/", 0) == 0) return "C:\\machine\\" + Chosen.substr(6);
    Why = "not here: " + Chosen;
    return "";
  };
  const TDialogPaths before = SetDialogPaths(map);
  script.Save("/elsewhere/a.csv").Box(IDOK).Save("/host/b.csv");
  script.Save("/elsewhere/c.csv").Box(IDOK).SaveCancel();
  TSaveDialogOptions options{"Save Speed Data CSV", "", ".csv", "speed_data.csv", "out"};
  std::string path = "unchanged";
  EXPECT_TRUE(SaveFileDialog(form.get(), options, path));
  EXPECT_EQ(path, "C:\\machine\\b.csv");
  path = "unchanged";
  EXPECT_FALSE(SaveFileDialog(form.get(), options, path));
  EXPECT_EQ(path, "unchanged");
  SetDialogPaths(before);

  EXPECT_EQ(asked, (std::vector<std::string>{"/elsewhere/a.csv", "/host/b.csv", "/elsewhere/c.csv"}));
  const auto log = script.Log();
  ASSERT_EQ(log.size(), 6u);
  for (size_t i : {0, 2, 3, 5}) EXPECT_EQ(log[i].Save.InitialDir, "/hostout") << i;
  EXPECT_EQ(log[1].Kind, TModalKind::Box);
  EXPECT_EQ(log[1].Text, "not here: /elsewhere/a.csv");
  EXPECT_EQ(log[1].Caption, "Save Speed Data CSV");
  EXPECT_EQ(log[1].Type, plat::MB_ICONWARNING | plat::MB_OK);
  EXPECT_EQ(log[1].Owner, form->Handle());
}

TEST_F(ModalTest, AnInteractionTheScriptDoesNotExpectFailsTheTestClearly) {
  CatchFailures();
  // Nothing scripted: the box "fails" (0) at once instead of blocking.
  EXPECT_EQ(MessageBox(form.get(), "Disk 3 will be erased.", "Confirm", plat::MB_YESNO), 0);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0],
            "unexpected message box \"Confirm\": \"Disk 3 will be erased.\" (interaction 1); next in the script: "
            "nothing");

  // Another kind than the next step: reported, answered as a cancel, the step stays.
  script.Box(IDOK);
  std::string value;
  EXPECT_FALSE(InputQuery(form.get(), "Confirm", "Type the disk number", value));
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_NE(failures[1].find("unexpected input dialog \"Confirm\""), std::string::npos);
  EXPECT_NE(failures[1].find("next in the script: message box"), std::string::npos);
  EXPECT_EQ(MessageBox(nullptr, "ok", "ok", plat::MB_OK), IDOK);

  // A modal form the script leaves open is closed as cancelled.
  TForm dialog(form.get(), {.Name = "Dialog", .Caption = "Chart"});
  script.Form([](TForm&) {});
  EXPECT_EQ(dialog.ShowModal(), mrCancel);
  ASSERT_EQ(failures.size(), 3u);
  EXPECT_EQ(failures[2], "the script left modal form \"Chart\" open");

  // What was expected and never came.
  script.Box(IDOK).Url();
  script.VerifyDone();
  ASSERT_EQ(failures.size(), 4u);
  EXPECT_EQ(failures[3], "expected interactions never came: message box, web page");
  EXPECT_EQ(script.Pending(), 2u);
  script.SetOnFailure([](const std::string&) {});  // the fixture's final check would repeat it
}

}  // namespace

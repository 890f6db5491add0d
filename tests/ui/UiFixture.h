// The fixture of window tests: a simulated machine, a main-thread dispatcher, the headless
// toolkit backend, and one modal script that answers the machine's message boxes and web pages
// (from any thread) and the backend's dialogs and modal forms.
//
//   TEST_F(UiFixture, Example) {
//     script.Box(plat::IDOK);                 // what the test expects, in order
//     auto form = tk::CreateForm<TMyForm>();
//     form->Show();
//     EXPECT_TRUE(ui.Click("BtnStart"));      // as the user: refused when hidden or disabled
//     ui.RunFor(1000);                        // timers, deferred and synchronized calls
//     EXPECT_EQ(script.Log()[0].Caption, "Done");
//     tk::DestroyForm(std::move(form));
//   }
//
// An interaction the script did not expect, or an expected one that never came, fails the test.
// Window messages the machine sends (WM_DEVICECHANGE to a registered hidden window) are posted
// to the backend, so they reach the window's procedure from the loop as on Windows.
#pragma once

#include <gtest/gtest.h>

#include "core/uMainThread.h"
#include "platform/sim/SimMachine.h"
#include "ui/toolkit/headless/uTkHeadless.h"
#include "ui/toolkit/headless/uTkModalScript.h"
#include "ui/toolkit/uTkApplication.h"

class UiFixture : public ::testing::Test {
 protected:
  UiFixture() {
    script.SetOnFailure([](const std::string& Message) { ADD_FAILURE() << Message; });
    m->Desktop().SetBoxHandler([this](const plat::sim::MessageBoxCall& c) {
      return script.AnswerBox(c.owner, c.text, c.caption, c.type, c.threadId);
    });
    m->Desktop().SetShellHandler(
        [this](const plat::sim::ShellExecuteCall& c) { return script.AnswerUrl(c.file, c.threadId); });
    ui.SetAnswerer(&script);
    m->Desktop().SetWindowMessageSink([](plat::HWND Wnd, plat::UINT Msg, plat::WPARAM W, plat::LPARAM L) {
      tk::PostWindowMessage(Wnd, Msg, W, L);
    });
    tk::Application().SetOnException(nullptr);
  }

  ~UiFixture() override {
    // The machine's threads run out first, while everything they may call still exists.
    m->Shutdown();
    m->Desktop().SetBoxHandler(nullptr);
    m->Desktop().SetShellHandler(nullptr);
    m->Desktop().SetWindowMessageSink(nullptr);
    ui.SetAnswerer(nullptr);
    tk::Application().SetOnException(nullptr);
    script.VerifyDone();
  }

  plat::sim::ScopedSimMachine m;
  TScopedMainThread main;
  tk::headless::THeadlessBackend ui;
  tk::TScopedBackend backend{&ui};
  tk::headless::TModalScript script;
};

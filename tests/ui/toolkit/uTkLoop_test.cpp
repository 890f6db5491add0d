// The headless message loop on the virtual clock: timers, deferred calls, posted window
// messages, calls from worker threads, and exceptions that escape the program's handlers.
#include <atomic>
#include <stdexcept>

#include "core/ThreadTestUtil.h"
#include "ui/UiFixture.h"
#include "ui/toolkit/uTkControls.h"
#include "ui/toolkit/uTkForm.h"

using namespace tk;
using plat::IDNO;
using plat::IDOK;
using plat::IDYES;
using Fired = std::vector<std::pair<std::string, uint64_t>>;

namespace {

class LoopTest : public UiFixture {
 protected:
  LoopTest() : form(std::make_unique<TForm>(nullptr, TCreate{.Name = "Form"})), t0(Now()) {
    form->SetClientSize({400, 300});
    form->Show();
  }
  ~LoopTest() override { DestroyForm(std::move(form)); }

  uint64_t Now() { return plat::Win().GetTickCount64(); }
  TTimer* AddTimer(const std::string& Name, unsigned Ms) {
    TTimer* t = form->AddTimer();
    t->SetInterval(Ms);
    t->OnTimer = [this, Name](TTimer*) { fired.push_back({Name, Now() - t0}); };
    return t;
  }

  std::unique_ptr<TForm> form;
  uint64_t t0;
  Fired fired;
};

TEST_F(LoopTest, TimersFireInDeadlineOrderOnTheVirtualClock) {
  TTimer* a = AddTimer("A", 300);
  TTimer* b = AddTimer("B", 200);
  TTimer* c = AddTimer("C", 500);
  a->SetEnabled(true);
  b->SetEnabled(true);
  c->SetEnabled(true);
  ui.RunFor(550);
  EXPECT_EQ(Now() - t0, 550u);
  EXPECT_EQ(fired, (Fired{{"B", 200}, {"A", 300}, {"B", 400}, {"C", 500}}));

  fired.clear();
  b->SetEnabled(false);
  c->SetEnabled(false);
  ui.RunFor(100);
  EXPECT_EQ(fired, (Fired{{"A", 600}}));

  // Overdue together (the main thread was busy elsewhere): earliest deadline first, once each.
  fired.clear();
  c->SetEnabled(true);  // due at 1150
  b->SetEnabled(true);  // due at 850
  plat::Win().Sleep(1000);
  ui.RunFor(0);
  EXPECT_EQ(fired, (Fired{{"B", 1650}, {"A", 1650}, {"C", 1650}}));
}

TEST_F(LoopTest, ATimerStartsAfreshWhenReenabledOrGivenAnotherInterval) {
  TTimer* t = AddTimer("T", 1000);
  t->SetEnabled(true);
  ui.RunFor(600);
  t->SetEnabled(false);
  t->SetEnabled(true);
  t->SetEnabled(true);  // already enabled: no new start
  ui.RunFor(999);
  EXPECT_TRUE(fired.empty());
  ui.RunFor(1);
  EXPECT_EQ(fired, (Fired{{"T", 1600}}));

  ui.RunFor(500);
  t->SetInterval(300);  // at 2100: the next tick 300 from now
  ui.RunFor(300);
  EXPECT_EQ(fired, (Fired{{"T", 1600}, {"T", 2400}}));

  t->SetInterval(0);  // as Windows: no interval, no ticks
  ui.RunFor(5000);
  EXPECT_EQ(fired.size(), 2u);
}

TEST_F(LoopTest, DeferredCallsRunAfterTheMessageThatPostedThem) {
  std::vector<std::string> order;
  auto* btn = form->Add<TButton>({.Name = "Btn", .Bounds = {0, 0, 80, 25}});
  Application().PostDeferred([&] { order.push_back("waiting before"); });
  btn->OnClick = [&](TControl*) {
    Application().PostDeferred([&] {
      order.push_back("deferred");
      Application().PostDeferred([&] { order.push_back("posted by the deferred call"); });
    });
    order.push_back("click done");
  };
  void* wnd = AllocateHWnd([&](void*, uint32_t Msg, uintptr_t, intptr_t) {
    order.push_back("message " + std::to_string(Msg));
    return intptr_t(0);
  });
  EXPECT_TRUE(ui.Click("Btn"));
  EXPECT_TRUE(PostWindowMessage(wnd, 0x219, 0, 0));
  EXPECT_EQ(order, (std::vector<std::string>{"click done"}));
  ui.RunFor(0);
  EXPECT_EQ(order, (std::vector<std::string>{"click done", "waiting before", "deferred", "message 537",
                                             "posted by the deferred call"}));
  DeallocateHWnd(wnd);
  EXPECT_FALSE(PostWindowMessage(wnd, 0x219, 0, 0));
}

TEST_F(LoopTest, CallsAndMessagesFromWorkersWakeTheLoop) {
  std::atomic<bool> queued{false}, synced{false};
  plat::DWORD ranOn = 0;
  TLambdaThread worker([&](TLambdaThread& t) {
    plat::Win().Sleep(250);
    t.Queue([&] { queued = true; });
    t.Synchronize([&] {
      ranOn = plat::Win().GetCurrentThreadId();
      synced = true;
    });
  });
  worker.Start();
  EXPECT_TRUE(ui.RunUntil([&] { return synced.load(); }, 5000));
  EXPECT_TRUE(queued);
  EXPECT_EQ(ranOn, main->MainThreadId());
  EXPECT_EQ(Now() - t0, 250u);  // woken by the call, not at the limit
  EXPECT_TRUE(worker.WaitFor());

  std::atomic<int> messages{0};
  void* wnd = AllocateHWnd([&](void*, uint32_t, uintptr_t, intptr_t) {
    ++messages;
    return intptr_t(0);
  });
  TLambdaThread poster([&](TLambdaThread&) {
    plat::Win().Sleep(100);
    PostWindowMessage(wnd, 0x219, 0x8004, 0);
  });
  poster.Start();
  EXPECT_TRUE(ui.RunUntil([&] { return messages.load() == 1; }, 5000));
  EXPECT_EQ(Now() - t0, 350u);
  EXPECT_TRUE(poster.WaitFor());
  DeallocateHWnd(wnd);

  EXPECT_FALSE(ui.RunUntil([] { return false; }, 300));
  EXPECT_EQ(Now() - t0, 650u);
}

TEST_F(LoopTest, AnExceptionInAHandlerShowsAnErrorBoxAndTheLoopGoesOn) {
  script.Box(IDOK).Box(IDOK);
  auto* btn = form->Add<TButton>({.Name = "Btn", .Bounds = {0, 0, 80, 25}});
  btn->OnClick = [](TControl*) { throw std::runtime_error("boom in click"); };
  TTimer* t = AddTimer("T", 100);
  t->SetEnabled(true);
  EXPECT_TRUE(ui.Click("Btn"));
  Application().PostDeferred([] { throw std::runtime_error("boom in deferred"); });
  ui.RunFor(300);
  EXPECT_EQ(fired.size(), 3u);

  auto boxes = script.Log();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].Text, "boom in click");
  EXPECT_EQ(boxes[1].Text, "boom in deferred");
  for (auto& b : boxes) {
    EXPECT_EQ(b.Caption, "Error");
    EXPECT_EQ(b.Type, plat::MB_OK | plat::MB_ICONERROR);
  }
}

TEST_F(LoopTest, WithAnExceptionHookTheProgramHandlesEveryKindOfCall) {
  std::vector<std::string> seen;
  Application().SetOnException([&](const std::string& Message) { seen.push_back(Message); });
  TTimer* t = form->AddTimer();
  t->SetInterval(100);
  t->OnTimer = [](TTimer*) { throw std::runtime_error("tick"); };
  t->SetEnabled(true);
  auto* box = form->Add<TPaintBox>({.Name = "Box", .Bounds = {0, 0, 10, 10}});
  box->OnPaint = [](TControl*) { throw std::runtime_error("paint"); };
  box->Invalidate();
  void* wnd = AllocateHWnd([](void*, uint32_t, uintptr_t, intptr_t) -> intptr_t { throw 42; });
  PostWindowMessage(wnd, 1, 0, 0);
  Application().PostDeferred([] { throw std::logic_error("deferred"); });
  ui.RunFor(200);
  EXPECT_EQ(seen, (std::vector<std::string>{"Unknown exception", "deferred", "paint", "tick", "tick"}));
  DeallocateHWnd(wnd);

  // A hook that fails itself still leaves the user a box.
  script.Box(IDOK);
  Application().SetOnException([](const std::string&) { throw std::runtime_error("hook failed"); });
  t->SetEnabled(false);
  Application().PostDeferred([] { throw std::runtime_error("lost?"); });
  ui.RunFor(0);
  ASSERT_EQ(script.Log().size(), 1u);
  EXPECT_EQ(script.Log()[0].Text, "lost?");
}

TEST_F(LoopTest, RunShowsTheMainFormAndEndsWhenItCloses) {
  auto mainForm = std::make_unique<TForm>(nullptr, TCreate{.Name = "Main"});
  Application().PostDeferred([&] {
    EXPECT_TRUE(mainForm->Showing());
    EXPECT_EQ(Application().MainForm(), mainForm.get());
    throw std::runtime_error("while running");
  });
  // Without a hook the error box is owned by the main window.
  script.Box([&](const headless::TModal& M) {
    EXPECT_EQ(M.Owner, mainForm->Handle());
    return IDOK;
  });
  TTimer* t = mainForm->AddTimer();
  t->SetInterval(200);
  t->OnTimer = [&](TTimer*) { mainForm->Close(); };
  t->SetEnabled(true);
  Application().Run(*mainForm);
  EXPECT_EQ(Now() - t0, 200u);
  EXPECT_FALSE(mainForm->Showing());
  EXPECT_EQ(Application().MainForm(), nullptr);
  DestroyForm(std::move(mainForm));
}

}  // namespace

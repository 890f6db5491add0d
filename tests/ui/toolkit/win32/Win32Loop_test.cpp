// Under wine inside Xvfb: the message loop of the Win32 backend. Timers fire, deferred calls
// run in order, a worker's synchronized call runs while a real message box is open, modal
// forms disable their owner, hidden windows are top-level.
// Our platform headers come before <windows.h> (the fixture's), whose macros share their names.
#include "core/ThreadTestUtil.h"

#include "Win32ToolkitFixture.h"
#include "ui/toolkit/uTkControls.h"

#include <dbt.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace tk::win32::testing {
namespace {

using Win32LoopTest = Win32ToolkitTest;

TEST_F(Win32LoopTest, TimersFireFromTheLoopUntilDisabled) {
  auto form = ShowForm();
  TTimer* timer = form->AddTimer();
  int fired = 0;
  timer->OnTimer = [&](TTimer* Sender) {
    EXPECT_EQ(Sender, timer);
    if (++fired == 3) timer->SetEnabled(false);
  };
  timer->SetInterval(10);
  timer->SetEnabled(true);
  EXPECT_TRUE(PumpUntil([&] { return fired == 3; }));
  PumpUntil([] { return false; }, 60);
  EXPECT_EQ(fired, 3);
}

TEST_F(Win32LoopTest, DeferredCallsRunInOrderOnceTheLoopRuns) {
  std::vector<int> ran;
  backend_.PostDeferred([&] { ran.push_back(1); });
  backend_.PostDeferred([&] { throw std::runtime_error("deferred failed"); });
  backend_.PostDeferred([&] { ran.push_back(3); });
  EXPECT_TRUE(ran.empty());
  EXPECT_TRUE(PumpUntil([&] { return ran.size() == 2; }));
  EXPECT_EQ(ran, (std::vector<int>{1, 3}));
  EXPECT_EQ(exceptions_, (std::vector<std::string>{"deferred failed"}));
}

// The program's boxes go through the platform, so the box here is the real one the program gets.
TEST_F(Win32LoopTest, SynchronizedCallRunsWhileAMessageBoxIsOpen) {
  auto form = ShowForm();
  const std::string caption = "Box under test";
  std::atomic<bool> ranWhileOpen{false};
  std::atomic<DWORD> ranOn{0};
  TLambdaThread worker([&](TLambdaThread& self) {
    // Waits until the box is there, then hands a call to the main thread, which is inside it.
    while (!FindWindowW(L"#32770", Wide(caption).c_str())) Sleep(5);
    self.Synchronize([&] {
      ranOn = GetCurrentThreadId();
      ranWhileOpen = FindWindowW(L"#32770", Wide(caption).c_str()) != nullptr;
    });
  });
  // A timer closes the box once the call ran (and in any case after a while).
  TTimer* closer = form->AddTimer();
  int ticks = 0;
  bool timerRanInsideTheBox = false;
  closer->OnTimer = [&](TTimer*) {
    HWND box = FindWindowW(L"#32770", Wide(caption).c_str());
    timerRanInsideTheBox |= box != nullptr;
    if (box && (ranWhileOpen || ++ticks > 500)) PostMessageW(box, WM_COMMAND, IDOK, 0);
  };
  closer->SetInterval(10);
  closer->SetEnabled(true);
  worker.Start();
  const int result = plat::Win().MessageBoxW(form->Handle(), "Text", caption, 0 /* MB_OK */);
  closer->SetEnabled(false);
  EXPECT_TRUE(worker.WaitFor());
  EXPECT_EQ(result, IDOK);
  EXPECT_TRUE(ranWhileOpen);
  EXPECT_EQ(ranOn.load(), GetCurrentThreadId());
  EXPECT_TRUE(timerRanInsideTheBox);
}

TEST_F(Win32LoopTest, ModalFormDisablesItsOwnerUntilItCloses) {
  auto owner = ShowForm({800, 600});
  TForm dialog(owner.get(), Cr("Chart", {}, kAnchorsDefault, "Write Speed Chart"));
  dialog.SetOuterSize({400, 300});
  dialog.SetPosition(TFormPosition::poOwnerFormCenter);
  TButton* close = dialog.Add<TButton>(Cr("Close", {10, 10, 100, 28}, kAnchorsDefault, "Close"));
  close->OnClick = [&](TControl*) { dialog.Close(); };
  TTimer* driver = owner->AddTimer();
  bool ownerDisabled = false, centred = false;
  driver->OnTimer = [&](TTimer*) {
    if (!IsWindowVisible(Wnd(&dialog))) return;
    ownerDisabled = !IsWindowEnabled(Wnd(owner.get()));
    RECT o, d;
    GetWindowRect(Wnd(owner.get()), &o);
    GetWindowRect(Wnd(&dialog), &d);
    centred = std::abs((o.left + o.right) - (d.left + d.right)) <= 2 &&
              std::abs((o.top + o.bottom) - (d.top + d.bottom)) <= 2;
    driver->SetEnabled(false);
    SendMessageW(Wnd(close), BM_CLICK, 0, 0);
  };
  driver->SetInterval(10);
  driver->SetEnabled(true);
  const int result = dialog.ShowModal();
  EXPECT_EQ(result, mrClose);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(centred);
  EXPECT_TRUE(IsWindowEnabled(Wnd(owner.get())));
  EXPECT_FALSE(IsWindowVisible(Wnd(&dialog)));
  // Closed by the frame: WM_CLOSE goes to the model, which ends the show.
  driver->OnTimer = [&](TTimer*) {
    if (!IsWindowVisible(Wnd(&dialog))) return;
    driver->SetEnabled(false);
    PostMessageW(Wnd(&dialog), WM_CLOSE, 0, 0);
  };
  driver->SetEnabled(true);
  EXPECT_EQ(dialog.ShowModal(), mrClose);
  EXPECT_TRUE(dialog.Closed());
}

TEST_F(Win32LoopTest, RunEndsWhenTheMainFormCloses) {
  auto form = ShowForm();
  backend_.PostDeferred([&] { PostMessageW(Wnd(form.get()), WM_CLOSE, 0, 0); });
  backend_.Run(*form);
  EXPECT_TRUE(form->Closed());
  EXPECT_FALSE(IsWindowVisible(Wnd(form.get())));
  // No quit message is left behind: a box shown during the shutdown still gets its loop.
  MSG msg;
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST_F(Win32LoopTest, HiddenWindowIsTopLevelAndServesPostedMessages) {
  constexpr UINT kMsg = WM_APP + 7;
  std::vector<std::pair<uintptr_t, intptr_t>> got, devices;
  void* wnd = backend_.AllocateHWnd([&](void* W, uint32_t Msg, uintptr_t WParam, intptr_t LParam) -> intptr_t {
    if (Msg == WM_DEVICECHANGE) devices.emplace_back(WParam, LParam);
    if (Msg == kMsg) {
      got.emplace_back(WParam, LParam);
      if (WParam == 2) throw std::runtime_error("proc failed");
      return 0;
    }
    return backend_.DefWindowProc(W, Msg, WParam, LParam);
  });
  HWND h = static_cast<HWND>(wnd);
  ASSERT_TRUE(IsWindow(h));
  // Top-level (device notifications are broadcast to those), never shown, no size.
  EXPECT_EQ(GetAncestor(h, GA_PARENT), GetDesktopWindow());
  EXPECT_EQ(GetParent(h), nullptr);
  EXPECT_FALSE(IsWindowVisible(h));
  RECT r;
  GetWindowRect(h, &r);
  EXPECT_EQ(r.right - r.left, 0);
  EXPECT_EQ(r.bottom - r.top, 0);

  EXPECT_TRUE(backend_.PostWindowMessage(wnd, kMsg, 1, -5));
  EXPECT_TRUE(backend_.PostWindowMessage(wnd, kMsg, 2, 0));
  EXPECT_TRUE(PumpUntil([&] { return got.size() == 2; }));
  EXPECT_EQ(got[0], (std::pair<uintptr_t, intptr_t>{1, -5}));
  EXPECT_EQ(exceptions_, (std::vector<std::string>{"proc failed"}));
  // A device broadcast carries a pointer, which PostMessageW refuses for system messages: it
  // still arrives, from any thread.
  DEV_BROADCAST_HDR volume = {sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_VOLUME, 0};
  std::thread([&] {
    EXPECT_TRUE(
        backend_.PostWindowMessage(wnd, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume)));
  }).join();
  EXPECT_TRUE(PumpUntil([&] { return devices.size() == 1; }));
  EXPECT_EQ(devices[0], (std::pair<uintptr_t, intptr_t>{DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume)}));

  backend_.DeallocateHWnd(wnd);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(backend_.PostWindowMessage(wnd, kMsg, 3, 0));
}

}  // namespace
}  // namespace tk::win32::testing

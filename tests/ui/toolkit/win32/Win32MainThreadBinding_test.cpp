// Under wine: a worker's calls reach the main thread through a real message loop.
#include "ui/toolkit/win32/Win32MainThreadBinding.h"

#include "platform/win32/Win32Platform.h"
// Our constants before <windows.h>, whose macros share their names.
#include "core/ThreadTestUtil.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace {

// Pumps the thread's messages until a call posts WM_QUIT; a timer stops a loop that would
// otherwise hang when a wake never arrives.
bool RunMessageLoopUntilQuit() {
  const UINT_PTR guard = SetTimer(nullptr, 0, 20000, nullptr);
  MSG msg = {};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.wParam == guard) break;
    DispatchMessageW(&msg);
  }
  KillTimer(nullptr, guard);
  return msg.message == WM_QUIT;
}

TEST(Win32MainThreadBinding, WorkerCallsReachTheMainThreadThroughTheMessageLoop) {
  plat::win32::Win32Platform platform;
  plat::ScopedPlatform scoped(&platform);
  TScopedMainThread main;
  auto binding = std::make_unique<ui::win32::Win32MainThreadBinding>(*main);
  ASSERT_NE(binding->Window(), nullptr);

  const DWORD mainId = GetCurrentThreadId();
  std::vector<std::string> order;
  std::vector<DWORD> ranOn;
  std::atomic<bool> afterSync{false};
  TLambdaThread t([&](TLambdaThread& self) {
    self.Queue([&] {
      order.push_back("queued");
      ranOn.push_back(GetCurrentThreadId());
    });
    self.Synchronize([&] {
      order.push_back("synchronized");
      ranOn.push_back(GetCurrentThreadId());
    });
    afterSync = true;
    self.Queue([&] {
      order.push_back("last");
      PostQuitMessage(0);
    });
  });
  t.Start();
  ASSERT_TRUE(RunMessageLoopUntilQuit());
  EXPECT_TRUE(t.WaitFor());
  EXPECT_TRUE(afterSync.load());
  EXPECT_EQ(order, (std::vector<std::string>{"queued", "synchronized", "last"}));
  EXPECT_EQ(ranOn, (std::vector<DWORD>{mainId, mainId}));

  // Once the window is gone, calls are dropped and a synchronizing worker is not held up.
  binding.reset();
  std::atomic<int> ran{0};
  TLambdaThread late([&](TLambdaThread& self) {
    self.Synchronize([&] { ran++; });
    self.Queue([&] { ran++; });
  });
  late.Start();
  EXPECT_TRUE(late.WaitFor());
  EXPECT_FALSE(main->CheckSynchronize());
  EXPECT_EQ(ran.load(), 0);
}

}  // namespace

// The simulated desktop's shell: ShellExecuteW is recorded and answers as Windows does.
#include <gtest/gtest.h>

#include "platform/sim/SimMachine.h"

using namespace plat;

namespace {

TEST(SimDesktopShell, OpeningAPageIsRecordedAndSucceedsUnlessTheHandlerSaysOtherwise) {
  sim::ScopedSimMachine m;
  EXPECT_GT(Win().ShellExecuteW(nullptr, "open", "https://vrek.example/products", "", "", SW_SHOWNORMAL), 32);
  m->Desktop().SetShellHandler([](const sim::ShellExecuteCall&) { return intptr_t(2); });  // file not found
  EXPECT_EQ(Win().ShellExecuteW(nullptr, "open", "C:\\missing.txt", "-x", "C:\\", 3), 2);

  auto calls = m->Desktop().ShellCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].verb, "open");
  EXPECT_EQ(calls[0].file, "https://vrek.example/products");
  EXPECT_EQ(calls[0].showCmd, SW_SHOWNORMAL);
  EXPECT_EQ(calls[0].threadId, Win().GetCurrentThreadId());
  EXPECT_EQ(calls[1].parameters, "-x");
  EXPECT_EQ(calls[1].directory, "C:\\");
}

}  // namespace

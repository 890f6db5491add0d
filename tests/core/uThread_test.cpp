#include "core/uThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>

#include "core/ThreadTestUtil.h"
#include "platform/sim/kernel/SimKernel.h"

using namespace plat;

namespace {

class ThreadTest : public ::testing::Test, public TThreadFixture {};

TEST_F(ThreadTest, CreatedSuspendedWithTheStackItAsksFor) {
  std::atomic<bool> ran{false};
  TLambdaThread t([&](TLambdaThread&) { ran = true; });
  EXPECT_EQ(m->Kernel().LastStackSize(), 4194304u);
  EXPECT_NE(t.Handle(), nullptr);
  EXPECT_NE(t.ThreadID(), 0u);
  Win().Sleep(1000);
  EXPECT_FALSE(ran.load());
  EXPECT_FALSE(t.Finished());
  t.Start();
  t.Start();  // a second start changes nothing
  EXPECT_TRUE(t.WaitFor());
  EXPECT_TRUE(ran.load());
  EXPECT_TRUE(t.Finished());

  TLambdaThread small([](TLambdaThread&) {}, nullptr, 1 << 20);
  EXPECT_EQ(m->Kernel().LastStackSize(), 1u << 20);
}

TEST_F(ThreadTest, AThreadNeverStartedIsFreedWithoutRunning) {
  std::atomic<int> destroyed{0};
  std::atomic<bool> ran{false};
  auto* t = new TLambdaThread([&](TLambdaThread&) { ran = true; }, &destroyed);
  t->SetFreeOnTerminate(true);
  EXPECT_FALSE(t->WaitFor());  // a suspended thread would never end
  delete t;
  EXPECT_EQ(destroyed.load(), 1);
  EXPECT_FALSE(ran.load());
  EXPECT_EQ(m->Kernel().LiveThreads(), 0);
}

TEST_F(ThreadTest, TerminateIsAFlagThatExecutePolls) {
  TLambdaThread t([](TLambdaThread& self) {
    while (!self.Terminated()) Win().Sleep(200);
  });
  t.Start();
  Win().Sleep(1000);
  EXPECT_FALSE(t.Finished());
  t.Terminate();
  EXPECT_TRUE(t.WaitFor());
}

TEST_F(ThreadTest, AnExceptionEscapingExecuteIsKeptAndTheEndGoesOnAsUsual) {
  struct Case {
    std::function<void()> Throw;
    const char* Text;
  } cases[] = {{[] { throw std::runtime_error("device gone"); }, "device gone"},
               {[] { throw 42; }, "unknown exception"}};
  for (const auto& c : cases) {
    std::atomic<int> destroyed{0};
    std::string seen;
    DWORD handlerThread = 0;
    auto* t = new TLambdaThread([&](TLambdaThread&) { c.Throw(); }, &destroyed);
    TThreadLink link = t->Link();
    t->SetFreeOnTerminate(true);
    t->SetOnTerminate([&](TThread* sender) {
      handlerThread = Win().GetCurrentThreadId();
      EXPECT_TRUE(sender->Finished());
      EXPECT_TRUE(sender->HasFatalException());
      seen = sender->FatalException();
      EXPECT_EQ(destroyed.load(), 0);  // the object outlives its handler
    });
    t->Start();
    EXPECT_TRUE(link.WaitFor());
    EXPECT_EQ(seen, c.Text);
    EXPECT_EQ(handlerThread, MainThread().MainThreadId());
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_FALSE(link.TakeBack());
  }
}

// The owner takes a self-releasing thread back at every point of its end: while Execute runs,
// while its OnTerminate waits to be served, while the thread decides, and after it has freed
// itself; from the main thread and from another worker. Whatever the order, the object is
// deleted exactly once, and never touched after (AddressSanitizer watches the second half).
TEST_F(ThreadTest, TakeBackRacesTheThreadsEndAndTheObjectIsFreedOnce) {
  int tookBack = 0, gaveUp = 0;
  for (int i = 0; i < 200; ++i) {
    const bool withHandler = i % 2 == 1;
    const bool pumpFirst = i % 4 >= 2;
    const bool ownerIsWorker = i % 8 >= 4;
    const DWORD ownerDelay = static_cast<DWORD>(i / 8 % 25);  // the thread ends at 10 ms
    std::atomic<int> destroyed{0};
    std::atomic<int> handlerRuns{0};
    auto* t = new TLambdaThread([](TLambdaThread&) { Win().Sleep(10); }, &destroyed);
    TThreadLink link = t->Link();
    t->SetFreeOnTerminate(true);
    if (withHandler) t->SetOnTerminate([&](TThread*) { handlerRuns++; });
    t->Start();

    auto own = [&, t]() -> bool {
      Win().Sleep(ownerDelay);
      if (pumpFirst && !ownerIsWorker) MainThread().CheckSynchronize();
      if (link.TakeBack()) {
        EXPECT_TRUE(t->WaitFor());
        EXPECT_EQ(destroyed.load(), 0);
        delete t;
        return true;
      }
      EXPECT_TRUE(link.WaitFor());
      return false;
    };
    bool owned;
    if (ownerIsWorker) {
      std::atomic<bool> result{false};
      TLambdaThread owner([&](TLambdaThread&) { result = own(); });
      owner.Start();
      EXPECT_TRUE(owner.WaitFor());  // serves the owned thread's OnTerminate meanwhile
      owned = result.load();
    } else {
      owned = own();
      // Before its handler has been served the thread cannot have committed to freeing itself.
      if (withHandler && !pumpFirst) {
        EXPECT_TRUE(owned) << "iteration " << i;
      }
    }
    (owned ? tookBack : gaveUp)++;
    EXPECT_EQ(destroyed.load(), 1) << "iteration " << i;
    EXPECT_EQ(handlerRuns.load(), withHandler ? 1 : 0) << "iteration " << i;
  }
  // Both outcomes occurred, so both paths were exercised.
  EXPECT_GT(tookBack, 0);
  EXPECT_GT(gaveUp, 0);
  EXPECT_EQ(m->Kernel().LiveThreads(), 0);
}

// The window's pattern: the owner keeps the thread in a field that the thread's completion
// handler clears; while the field is set the thread can always be taken back.
TEST_F(ThreadTest, AMainThreadOwnerHoldingThePointerCanAlwaysTakeBack) {
  for (DWORD delay = 0; delay <= 30; delay += 5) {
    std::atomic<int> destroyed{0};
    TLambdaThread* field = new TLambdaThread([](TLambdaThread&) { Win().Sleep(10); }, &destroyed);
    TThreadLink link = field->Link();
    field->SetFreeOnTerminate(true);
    field->SetOnTerminate([&](TThread*) { field = nullptr; });
    field->Start();
    Win().Sleep(delay);
    if (delay % 10 == 0) MainThread().CheckSynchronize();
    if (TLambdaThread* t = field) {
      ASSERT_TRUE(t->TakeBack()) << "delay " << delay;
      EXPECT_TRUE(t->WaitFor());
      EXPECT_EQ(field, nullptr);  // the handler still ran during the wait
      delete t;
    } else {
      EXPECT_TRUE(link.WaitFor());
    }
    EXPECT_EQ(destroyed.load(), 1) << "delay " << delay;
  }
}

// A short-lived worker the owner gives up on after a time-out: it ends just before, at the same
// moment as, or after the hand-over, and is freed once in every case.
TEST_F(ThreadTest, AnAbandonedWorkerFreesItselfOnceWhenEverItEnds) {
  int abandoned = 0;
  for (DWORD limit = 0; limit <= 40; ++limit) {
    std::atomic<int> destroyed{0};
    auto* w = new TLambdaThread([](TLambdaThread&) { Win().Sleep(20); }, &destroyed);
    TThreadLink link = w->Link();
    w->Start();
    if (Win().WaitForSingleObject(w->Handle(), limit) == WAIT_OBJECT_0) {
      delete w;
    } else {
      w->Abandon();
      abandoned++;
      EXPECT_TRUE(link.WaitFor());
    }
    EXPECT_EQ(destroyed.load(), 1) << "limit " << limit;
  }
  EXPECT_GT(abandoned, 0);

  // Abandoned after it had ended unseen: nobody else would free it, so Abandon does.
  std::atomic<int> destroyed{0};
  auto* late = new TLambdaThread([](TLambdaThread&) {}, &destroyed);
  TThreadLink link = late->Link();
  late->Start();
  EXPECT_TRUE(link.WaitFor());
  late->Abandon();
  EXPECT_EQ(destroyed.load(), 1);
}

TEST_F(ThreadTest, AWorkerAbandonedInACallThatNeverReturnsIsFreedAtMachineShutdown) {
  std::atomic<int> destroyed{0};
  sim::SimKernel* k = &m->Kernel();
  auto* w = new TLambdaThread(
      [k](TLambdaThread&) {
        k->BlockUntil({}, UINT64_MAX, sim::WaitKind{true, false});  // a driver that ignores cancel
      },
      &destroyed);
  w->Start();
  EXPECT_EQ(Win().WaitForSingleObject(w->Handle(), 1000), WAIT_TIMEOUT);
  EXPECT_TRUE(Win().CancelSynchronousIo(w->Handle()));
  EXPECT_EQ(Win().WaitForSingleObject(w->Handle(), 1500), WAIT_TIMEOUT);
  w->Abandon();
  EXPECT_EQ(destroyed.load(), 0);
  m->Shutdown();
  EXPECT_EQ(destroyed.load(), 1);
}

TEST_F(ThreadTest, SetFreeOnTerminateAfterStartTakesBackOrHandsOver) {
  std::atomic<int> destroyed{0};
  auto* t = new TLambdaThread([](TLambdaThread&) { Win().Sleep(10); }, &destroyed);
  t->SetFreeOnTerminate(true);
  EXPECT_TRUE(t->FreeOnTerminate());
  t->Start();
  t->SetFreeOnTerminate(false);
  EXPECT_FALSE(t->FreeOnTerminate());
  EXPECT_TRUE(t->WaitFor());
  EXPECT_EQ(destroyed.load(), 0);
  delete t;
  EXPECT_EQ(destroyed.load(), 1);
}

}  // namespace

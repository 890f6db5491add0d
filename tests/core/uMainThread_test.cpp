#include "core/uMainThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/ThreadTestUtil.h"

using namespace plat;

namespace {

class MainThreadTest : public ::testing::Test, public TThreadFixture {};

bool WakeSignalled() { return Win().WaitForSingleObject(MainThread().WakeEvent(), 0) == WAIT_OBJECT_0; }

TEST_F(MainThreadTest, WorkerWaitsInSynchronizeUntilTheMainThreadPumps) {
  std::atomic<int> stage{0};
  bool ran = false;
  TLambdaThread t([&](TLambdaThread& self) {
    stage = 1;
    self.Synchronize([&] { ran = true; });
    stage = 2;
  });
  t.Start();
  // Virtual time moves only once the worker blocks, so after this the call is waiting.
  Win().Sleep(1000);
  EXPECT_EQ(stage.load(), 1);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(WakeSignalled());
  EXPECT_TRUE(MainThread().CheckSynchronize());
  EXPECT_TRUE(ran);
  EXPECT_FALSE(WakeSignalled());
  EXPECT_TRUE(t.WaitFor());
  EXPECT_EQ(stage.load(), 2);
  EXPECT_FALSE(MainThread().CheckSynchronize());
}

TEST_F(MainThreadTest, WorkerCallsRunInTheOrderTheyWereMade) {
  std::vector<std::string> order;
  TLambdaThread t([&](TLambdaThread& self) {
    self.Queue([&] { order.push_back("queued 1"); });
    self.Queue([&] { order.push_back("queued 2"); });
    self.Synchronize([&] { order.push_back("synchronized"); });
    self.Queue([&] { order.push_back("queued 3"); });
  });
  t.Start();
  Win().Sleep(10);
  // The worker does not wait for queued calls: it went on to Synchronize and blocks there.
  EXPECT_TRUE(order.empty());
  MainThread().CheckSynchronize();
  // The released worker may add its last call in time for this pump or not.
  ASSERT_GE(order.size(), 3u);
  EXPECT_EQ(order[0], "queued 1");
  EXPECT_EQ(order[1], "queued 2");
  EXPECT_EQ(order[2], "synchronized");
  EXPECT_TRUE(t.WaitFor());  // serves the last one on its way
  ASSERT_EQ(order.size(), 4u);
  EXPECT_EQ(order[3], "queued 3");
}

TEST_F(MainThreadTest, OnTheMainThreadQueueRunsAtOnceAndForceQueueWaitsForThePump) {
  std::vector<int> order;
  MainThread().Queue([&] { order.push_back(1); });
  MainThread().Synchronize([&] { order.push_back(2); });
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  MainThread().ForceQueue([&] {
    order.push_back(3);
    // Added while the pump runs: still served by the same pump, after what waited before it.
    MainThread().ForceQueue([&] { order.push_back(5); });
  });
  MainThread().ForceQueue([&] { order.push_back(4); });
  EXPECT_EQ(order.size(), 2u);
  EXPECT_TRUE(WakeSignalled());
  EXPECT_TRUE(MainThread().CheckSynchronize());
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(MainThreadTest, CheckSynchronizeOffTheMainThreadRunsNothing) {
  bool ran = false;
  std::atomic<bool> served{true};
  MainThread().ForceQueue([&] { ran = true; });
  TLambdaThread t([&](TLambdaThread&) { served = MainThread().CheckSynchronize(); });
  t.Start();
  EXPECT_EQ(Win().WaitForSingleObject(t.Handle(), INFINITE), WAIT_OBJECT_0);
  EXPECT_FALSE(served.load());
  EXPECT_FALSE(ran);
  MainThread().CheckSynchronize();
  EXPECT_TRUE(ran);
}

// The completion-handler pattern: the owner waits for the thread while the thread hands it its
// result through a synchronized call; the wait must serve that call or both would hang.
TEST_F(MainThreadTest, WaitForThreadServesTheThreadsCallsAndReturnsWhenItEnds) {
  int progress = 0;
  bool done = false;
  TLambdaThread t([&](TLambdaThread& self) {
    for (int i = 1; i <= 3; ++i) {
      Win().Sleep(100);
      self.Synchronize([&, i] { progress = i; });
    }
    self.Synchronize([&] { done = true; });
  });
  t.Start();
  const ULONGLONG t0 = Win().GetTickCount64();
  EXPECT_EQ(MainThread().WaitForThread(t.Handle(), INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(Win().GetTickCount64() - t0, 300u);
  EXPECT_EQ(progress, 3);
  EXPECT_TRUE(done);
}

TEST_F(MainThreadTest, WaitForThreadTimesOutOnTheVirtualClock) {
  int served = 0;
  HANDLE stop = Win().CreateEventW(TRUE_, FALSE_);
  TLambdaThread t([&](TLambdaThread& self) {
    self.Synchronize([&] { served++; });
    Win().WaitForSingleObject(stop, INFINITE);
  });
  t.Start();
  const ULONGLONG t0 = Win().GetTickCount64();
  EXPECT_EQ(MainThread().WaitForThread(t.Handle(), 5000), WAIT_TIMEOUT);
  EXPECT_EQ(Win().GetTickCount64() - t0, 5000u);
  EXPECT_EQ(served, 1);
  Win().SetEvent(stop);
  EXPECT_EQ(MainThread().WaitForThread(t.Handle(), 5000), WAIT_OBJECT_0);
  Win().CloseHandle(stop);
}

TEST_F(MainThreadTest, ShutdownDropsWaitingCallsAndEveryLaterOne) {
  std::atomic<int> ran{0};
  std::atomic<bool> returned{false};
  TLambdaThread blocked([&](TLambdaThread& self) {
    self.Queue([&] { ran++; });
    self.Synchronize([&] { ran++; });
    returned = true;
  });
  blocked.Start();
  Win().Sleep(10);
  EXPECT_FALSE(returned.load());
  MainThread().Shutdown();
  EXPECT_EQ(Win().WaitForSingleObject(blocked.Handle(), INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(returned.load());
  EXPECT_FALSE(WakeSignalled());

  TLambdaThread late([&](TLambdaThread& self) {
    self.Synchronize([&] { ran++; });
    self.Queue([&] { ran++; });
  });
  late.Start();
  EXPECT_EQ(Win().WaitForSingleObject(late.Handle(), INFINITE), WAIT_OBJECT_0);
  MainThread().ForceQueue([&] { ran++; });
  EXPECT_FALSE(MainThread().CheckSynchronize());
  EXPECT_EQ(ran.load(), 0);
}

TEST_F(MainThreadTest, ASynchronizedCallsExceptionReachesItsWorkerAndAQueuedOneIsDropped) {
  std::string caught;
  bool afterThrow = false;
  TLambdaThread t([&](TLambdaThread& self) {
    self.Queue([] { throw std::runtime_error("queued"); });
    self.Queue([&] { afterThrow = true; });
    try {
      self.Synchronize([] { throw std::runtime_error("refused"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
  });
  t.Start();
  EXPECT_TRUE(t.WaitFor());
  EXPECT_TRUE(afterThrow);
  EXPECT_EQ(caught, "refused");
  EXPECT_FALSE(t.HasFatalException());
}

// When the machine goes down under a worker that waits in Synchronize, the wait fails; the call
// it leaves behind must never run afterwards, when the worker's captures are gone.
TEST_F(MainThreadTest, AWorkerWhoseWaitFailsTakesItsCallBack) {
  std::atomic<bool> returned{false};
  bool ran = false;
  TLambdaThread t([&](TLambdaThread& self) {
    self.Synchronize([&] { ran = true; });
    returned = true;
  });
  t.Start();
  Win().Sleep(10);
  m->Shutdown();
  EXPECT_TRUE(returned.load());
  EXPECT_FALSE(MainThread().CheckSynchronize());
  EXPECT_FALSE(ran);
}

TEST_F(MainThreadTest, TheWakerHearsOfEveryCallUntilItIsRetired) {
  std::atomic<int> wakes{0};
  MainThread().SetWaker([&] { wakes++; });
  TLambdaThread t([&](TLambdaThread& self) {
    self.Queue([] {});
    self.Synchronize([] {});
  });
  t.Start();
  EXPECT_TRUE(t.WaitFor());
  EXPECT_EQ(wakes.load(), 2);
  MainThread().ForceQueue([] {});
  EXPECT_EQ(wakes.load(), 3);
  MainThread().SetWaker(nullptr);
  MainThread().ForceQueue([] {});
  EXPECT_EQ(wakes.load(), 3);
  MainThread().CheckSynchronize();
}

TEST(MainThreadInstall, TheScopedDispatcherIsInstalledForItsLifeOnly) {
  sim::ScopedSimMachine m;
  EXPECT_FALSE(HasMainThread());
  {
    TScopedMainThread main;
    EXPECT_EQ(&MainThread(), &*main);
    EXPECT_TRUE(main->IsMainThread());
    EXPECT_EQ(main->MainThreadId(), Win().GetCurrentThreadId());
  }
  EXPECT_FALSE(HasMainThread());
}

}  // namespace

#include "platform/sim/SimMachine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace plat;
using namespace plat::sim;

namespace {

struct SleepJob {
  DWORD ms;
  ULONGLONG wokeAt = 0;
};

DWORD SleepThenRecord(void* p) {
  auto* job = static_cast<SleepJob*>(p);
  Win().Sleep(job->ms);
  job->wokeAt = Win().GetTickCount64();
  return 7;
}

TEST(SimKernel, TimeJumpsOnlyWhenEveryThreadWaits) {
  ScopedSimMachine m;
  const ULONGLONG t0 = Win().GetTickCount64();
  SleepJob a{300000}, b{1500};
  HANDLE ha = Win().CreateThread(4 << 20, SleepThenRecord, &a, 0, nullptr);
  HANDLE hb = Win().CreateThread(4 << 20, SleepThenRecord, &b, 0, nullptr);
  // A busy main thread holds the clock: nothing may have fired yet.
  EXPECT_EQ(Win().GetTickCount64(), t0);
  HANDLE both[] = {ha, hb};
  EXPECT_EQ(Win().WaitForMultipleObjects(2, both, TRUE_, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(b.wokeAt - t0, 1500u);
  EXPECT_EQ(a.wokeAt - t0, 300000u);
  EXPECT_EQ(Win().GetTickCount64() - t0, 300000u);
  DWORD code = 0;
  EXPECT_TRUE(Win().GetExitCodeThread(ha, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(m->Kernel().LastStackSize(), 4u << 20);
  Win().CloseHandle(ha);
  Win().CloseHandle(hb);
}

TEST(SimKernel, TimedWaitOnSuspendedThreadTimesOutThenResumes) {
  ScopedSimMachine m;
  SleepJob a{10};
  HANDLE h = Win().CreateThread(0, SleepThenRecord, &a, CREATE_SUSPENDED, nullptr);
  const ULONGLONG t0 = Win().GetTickCount64();
  EXPECT_EQ(Win().WaitForSingleObject(h, 5000), WAIT_TIMEOUT);
  EXPECT_EQ(Win().GetTickCount64() - t0, 5000u);
  EXPECT_EQ(Win().ResumeThread(h), 1u);
  EXPECT_EQ(Win().WaitForSingleObject(h, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(a.wokeAt - t0, 5010u);
  Win().CloseHandle(h);
}

TEST(SimKernel, ThreadCreationFailsAsOftenAsAsked) {
  ScopedSimMachine m;
  m->Kernel().FailThreadCreation(ERROR_NOT_ENOUGH_MEMORY, {.nth = 1, .times = 2});
  SleepJob a{1};
  for (int i = 0; i < 2; i++) {
    Win().SetLastError(0);
    EXPECT_EQ(Win().CreateThread(0, SleepThenRecord, &a, 0, nullptr), nullptr);
    EXPECT_EQ(Win().GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  }
  EXPECT_EQ(m->Kernel().LiveThreads(), 0);
  HANDLE h = Win().CreateThread(0, SleepThenRecord, &a, 0, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Win().WaitForSingleObject(h, INFINITE), WAIT_OBJECT_0);
  Win().CloseHandle(h);
}

TEST(SimKernel, AutoResetEventReleasesOneWaiter) {
  ScopedSimMachine m;
  HANDLE e = Win().CreateEventW(FALSE_, TRUE_);
  EXPECT_EQ(Win().WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(Win().WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  HANDLE manual = Win().CreateEventW(TRUE_, FALSE_);
  Win().SetEvent(manual);
  HANDLE hs[] = {e, manual};
  EXPECT_EQ(Win().WaitForMultipleObjects(2, hs, FALSE_, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(Win().WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(Win().WaitForSingleObject(reinterpret_cast<HANDLE>(0x7770), 0), WAIT_FAILED);
  EXPECT_EQ(Win().GetLastError(), ERROR_INVALID_HANDLE);
  Win().CloseHandle(e);
  Win().CloseHandle(manual);
  EXPECT_FALSE(Win().CloseHandle(e));
}

struct HangJob {
  SimKernel* k;
  WaitKind kind;
  WaitOutcome outcome = WaitOutcome::Ready;
};

DWORD HangInIo(void* p) {
  auto* j = static_cast<HangJob*>(p);
  j->outcome = j->k->BlockUntil({}, UINT64_MAX, j->kind);
  return 0;
}

TEST(SimKernel, CancelSynchronousIoEndsACancellableHangOnly) {
  ScopedSimMachine m;
  HangJob cancellable{&m->Kernel(), {true, true}};
  HANDLE h = Win().CreateThread(0, HangInIo, &cancellable, 0, nullptr);
  EXPECT_EQ(Win().WaitForSingleObject(h, 250), WAIT_TIMEOUT);
  EXPECT_TRUE(Win().CancelSynchronousIo(h));
  EXPECT_EQ(Win().WaitForSingleObject(h, 1500), WAIT_OBJECT_0);
  EXPECT_EQ(cancellable.outcome, WaitOutcome::Cancelled);
  EXPECT_FALSE(Win().CancelSynchronousIo(h));  // nothing pending any more
  EXPECT_EQ(Win().GetLastError(), ERROR_NOT_FOUND);

  // A driver that ignores the cancel: the call is reported cancelled, the thread stays stuck
  // until the machine shuts down.
  HangJob stuck{&m->Kernel(), {true, false}};
  HANDLE h2 = Win().CreateThread(0, HangInIo, &stuck, 0, nullptr);
  EXPECT_EQ(Win().WaitForSingleObject(h2, 250), WAIT_TIMEOUT);
  EXPECT_TRUE(Win().CancelSynchronousIo(h2));
  EXPECT_EQ(Win().WaitForSingleObject(h2, 1500), WAIT_TIMEOUT);
  m->Shutdown();
  EXPECT_EQ(stuck.outcome, WaitOutcome::Shutdown);
  Win().CloseHandle(h);
  Win().CloseHandle(h2);
}

// What a run's disconnect probe does: poll the clock in 250 ms sleeps until a deadline.
struct ClockLoopJob {
  uint64_t spanMs = 3000;
  int sleeps = 0;
};

DWORD SleepUntilDeadline(void* p) {
  auto* job = static_cast<ClockLoopJob*>(p);
  const uint64_t deadline = Win().GetTickCount64() + job->spanMs;
  do {
    job->sleeps++;
    Win().Sleep(250);
  } while (Win().GetTickCount64() < deadline);
  return 0;
}

struct EventWaitJob {
  HANDLE event;
  DWORD ms;
  DWORD result = 0;
};

DWORD WaitForTheEvent(void* p) {
  auto* job = static_cast<EventWaitJob*>(p);
  job->result = Win().WaitForSingleObject(job->event, job->ms);
  return 0;
}

// Stopping the machine while its threads wait: a wait with a deadline ends as if it had passed
// (so a loop bounded by the clock runs out instead of spinning), one without a deadline fails.
TEST(SimKernel, ShutdownEndsTimedWaitsAsTimedOut) {
  ScopedSimMachine m;
  HANDLE never = Win().CreateEventW(TRUE_, FALSE_);
  ClockLoopJob loop;
  EventWaitJob timed{never, 300000}, endless{never, INFINITE};
  HANDLE threads[] = {Win().CreateThread(0, SleepUntilDeadline, &loop, 0, nullptr),
                      Win().CreateThread(0, WaitForTheEvent, &timed, 0, nullptr),
                      Win().CreateThread(0, WaitForTheEvent, &endless, 0, nullptr)};
  const uint64_t t0 = Win().GetTickCount64();
  Win().Sleep(100);  // every thread is inside its wait now
  EXPECT_EQ(loop.sleeps, 1);
  m->Shutdown();  // before, the loop spun with the clock standing still until the abort
  for (HANDLE h : threads) EXPECT_EQ(Win().WaitForSingleObject(h, 0), WAIT_OBJECT_0);
  EXPECT_GE(Win().GetTickCount64() - t0, 3000u);  // the clock went on to the deadlines
  EXPECT_EQ(timed.result, WAIT_TIMEOUT);
  EXPECT_EQ(endless.result, WAIT_FAILED);
  for (HANDLE h : threads) Win().CloseHandle(h);
  Win().CloseHandle(never);
}

TEST(SimKernel, DeadlockIsReportedInsteadOfHanging) {
  ScopedSimMachine m;
  std::atomic<int> reports{0};
  m->Kernel().SetDeadlockHandler([&](const std::string&) { reports++; });
  HANDLE never = Win().CreateEventW(TRUE_, FALSE_);
  // Only this thread exists and it waits for ever: the handler fires; then shutdown ends the wait.
  HangJob j{&m->Kernel(), {}};
  (void)j;
  std::atomic<bool> done{false};
  std::thread host([&] {
    while (reports.load() == 0) std::this_thread::yield();
    m->Shutdown();
    done = true;
  });
  EXPECT_EQ(Win().WaitForSingleObject(never, INFINITE), WAIT_FAILED);
  host.join();
  EXPECT_GE(reports.load(), 1);
  Win().CloseHandle(never);
}

// The demo's clock: real milliseconds (kept short), real time-outs, and no deadlock report when
// every thread of the machine waits for its user.
TEST(SimKernel, RealTimeClockFollowsTheHostAndWaitsForReal) {
  using namespace std::chrono_literals;
  using Clock = std::chrono::steady_clock;
  ScopedSimMachine m;
  std::atomic<int> reports{0};
  m->Kernel().SetDeadlockHandler([&](const std::string&) { reports++; });
  m->Kernel().SetRealTime(true);
  EXPECT_TRUE(m->Kernel().RealTime());

  // A busy main thread no longer holds the clock, and the wall clock moves with it.
  SYSTEMTIME before, after;
  Win().GetSystemTime(&before);
  const ULONGLONG t0 = Win().GetTickCount64();
  const auto r0 = Clock::now();
  while (Clock::now() - r0 < 20ms) {}
  EXPECT_GE(Win().GetTickCount64() - t0, 20u);
  Win().GetSystemTime(&after);
  EXPECT_GE(
      (after.wSecond * 1000 + after.wMilliseconds + 60000 - before.wSecond * 1000 - before.wMilliseconds) % 60000,
      20);

  // A sleeping thread wakes once its time has passed on the host (the tick count is whole
  // milliseconds, so the host may see up to one less).
  SleepJob a{30};
  const ULONGLONG t1 = Win().GetTickCount64();
  const auto r1 = Clock::now();
  HANDLE h = Win().CreateThread(0, SleepThenRecord, &a, 0, nullptr);
  EXPECT_EQ(Win().WaitForSingleObject(h, INFINITE), WAIT_OBJECT_0);
  EXPECT_GE(Clock::now() - r1, 29ms);
  EXPECT_GE(a.wokeAt - t1, 30u);
  Win().CloseHandle(h);

  // A time-out that nobody ends is a real one.
  HANDLE never = Win().CreateEventW(TRUE_, FALSE_);
  const ULONGLONG t2 = Win().GetTickCount64();
  const auto r2 = Clock::now();
  EXPECT_EQ(Win().WaitForSingleObject(never, 25), WAIT_TIMEOUT);
  EXPECT_GE(Win().GetTickCount64() - t2, 25u);
  EXPECT_GE(Clock::now() - r2, 24ms);

  // The only thread waits for ever: a thread outside the machine (the window's loop) ends it.
  std::thread host([&] {
    std::this_thread::sleep_for(15ms);
    Win().SetEvent(never);
  });
  EXPECT_EQ(Win().WaitForSingleObject(never, INFINITE), WAIT_OBJECT_0);
  host.join();
  EXPECT_EQ(reports.load(), 0);
  Win().CloseHandle(never);
}

TEST(SimKernel, SwitchingModesKeepsTheClockAndTheWaitsInProgress) {
  ScopedSimMachine m;
  Win().Sleep(5000);  // virtual: passes at once
  const ULONGLONG t0 = Win().GetTickCount64();
  m->Kernel().SetRealTime(true);
  EXPECT_GE(Win().GetTickCount64(), t0);
  EXPECT_LT(Win().GetTickCount64(), t0 + 1000);

  // A minute-long sleep begun in real time ends at once when the virtual clock takes over and
  // the main thread waits for it.
  SleepJob a{60000};
  HANDLE h = Win().CreateThread(0, SleepThenRecord, &a, 0, nullptr);
  EXPECT_EQ(Win().WaitForSingleObject(h, 5), WAIT_TIMEOUT);  // 5 real milliseconds
  m->Kernel().SetRealTime(false);
  EXPECT_EQ(Win().WaitForSingleObject(h, INFINITE), WAIT_OBJECT_0);
  EXPECT_GE(a.wokeAt - t0, 60000u);
  EXPECT_LT(a.wokeAt - t0, 61000u);
  Win().CloseHandle(h);
}

TEST(SimKernel, CalendarRoundTrip) {
  struct Case {
    int y, mo, d, h, mi, s, ms;
    WORD dow;
  } cases[] = {{1601, 1, 1, 0, 0, 0, 0, 1},
               {1899, 12, 30, 0, 0, 0, 0, 6},
               {2000, 2, 29, 23, 59, 59, 999, 2},
               {2026, 12, 10, 9, 30, 0, 0, 4},
               {2100, 3, 1, 12, 0, 0, 5, 1}};
  for (const auto& c : cases) {
    SYSTEMTIME st = SystemTimeFromMs1601(Ms1601FromCivil(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms));
    EXPECT_EQ(st.wYear, c.y);
    EXPECT_EQ(st.wMonth, c.mo);
    EXPECT_EQ(st.wDay, c.d);
    EXPECT_EQ(st.wHour, c.h);
    EXPECT_EQ(st.wMinute, c.mi);
    EXPECT_EQ(st.wSecond, c.s);
    EXPECT_EQ(st.wMilliseconds, c.ms);
    EXPECT_EQ(st.wDayOfWeek, c.dow) << c.y << "-" << c.mo << "-" << c.d;
  }
}

TEST(SimKernel, LocalTimeFollowsOffset) {
  ScopedSimMachine m;
  m->Kernel().SetUtcAtBoot(2026, 12, 31, 23, 30, 0, 0);
  m->Kernel().SetLocalOffsetMinutes(60);
  SYSTEMTIME utc, local;
  Win().GetSystemTime(&utc);
  Win().GetLocalTime(&local);
  EXPECT_EQ(utc.wYear, 2026);
  EXPECT_EQ(local.wYear, 2027);
  EXPECT_EQ(local.wHour, 0);
  EXPECT_EQ(local.wMinute, 30);
}

}  // namespace

// The simulated machine's kernel: handles, threads, events, waits and the virtual clock.
//
// Virtual time moves only when every thread of the machine is blocked in a simulated wait; it
// then jumps to the earliest deadline. A 300-second time-out therefore passes in microseconds,
// and a test sees the same times on every run, however fast the host is.
//
// A thread counts as running from its start (or resume) until it blocks in a simulated wait, and
// again from the moment something wakes it (not from when the host schedules it), so the clock
// cannot slip forward while a woken thread is still on its way.
//
// In real-time mode (the demo, where a real message loop runs on the main thread and is never
// seen waiting) the clock follows the host's monotonic clock instead: every wait blocks for real
// until its condition holds or its time-out has passed, nothing jumps, and threads that all wait
// for ever are not a deadlock but a program waiting for its user.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/PlatformTypes.h"
#include "platform/sim/SimFaults.h"

namespace plat::sim {

class SimKernel;

// Anything a handle can stand for. State changes happen under the kernel lock, followed by
// SimKernel::NotifyLocked() so that waiters re-check.
class SimObject {
 public:
  virtual ~SimObject() = default;
  // Called under the kernel lock.
  virtual bool IsSignalled() const { return false; }
  virtual void OnWaitSatisfied() {}
  virtual const char* Kind() const = 0;
};

class SimEvent final : public SimObject {
 public:
  SimEvent(bool manual, bool initial) : manual_(manual), signalled_(initial) {}
  bool IsSignalled() const override { return signalled_; }
  void OnWaitSatisfied() override {
    if (!manual_) signalled_ = false;
  }
  const char* Kind() const override { return "event"; }
  void Set(bool v) { signalled_ = v; }

 private:
  bool manual_;
  bool signalled_;
};

struct SimThreadRec;

class SimThread final : public SimObject {
 public:
  explicit SimThread(std::shared_ptr<SimThreadRec> rec) : rec_(std::move(rec)) {}
  bool IsSignalled() const override;
  const char* Kind() const override { return "thread"; }
  const std::shared_ptr<SimThreadRec>& Rec() const { return rec_; }

 private:
  std::shared_ptr<SimThreadRec> rec_;
};

enum class WaitOutcome { Ready, Timeout, Cancelled, Shutdown };

// How a blocking call inside the machine may be woken besides its condition and deadline.
struct WaitKind {
  bool io = false;           // an I/O call: CancelSynchronousIo finds it
  bool cancellable = false;  // ... and cancelling ends it (a driver that ignores cancel: false)
};

struct SimThreadRec {
  DWORD id = 0;
  size_t stackSize = 0;
  bool started = false;  // resumed (or created running)
  bool finished = false;
  DWORD exitCode = STILL_ACTIVE;
  struct Waiter* waiter = nullptr;  // the wait it is blocked in, if any
  bool participates = true;         // counted in the running total
};

struct Waiter {
  std::function<bool()> ready;  // under the kernel lock
  uint64_t deadline = UINT64_MAX;
  WaitKind kind;
  bool woken = false;
  WaitOutcome outcome = WaitOutcome::Ready;
  SimThreadRec* thread = nullptr;
  std::condition_variable cv;
};

class SimKernel {
 public:
  explicit SimKernel(uint64_t bootTickMs = 10'000'000);
  ~SimKernel();
  SimKernel(const SimKernel&) = delete;
  SimKernel& operator=(const SimKernel&) = delete;

  // ---- clock ----
  uint64_t NowMs();
  // Switches between the virtual clock (the default) and real time. The clock goes on from where
  // it stands, and waits in progress follow the new mode.
  void SetRealTime(bool on);
  bool RealTime();
  // Wall clock: UTC at tick 0 is set as milliseconds since 1601-01-01 (FILETIME / 10000).
  void SetUtcAtBoot(int year, int month, int day, int hour, int minute, int second, int ms);
  void SetLocalOffsetMinutes(int minutes);
  SYSTEMTIME SystemTimeNow();  // UTC
  SYSTEMTIME LocalTimeNow();

  // ---- handles ----
  HANDLE AddHandle(std::shared_ptr<SimObject> obj);
  std::shared_ptr<SimObject> Lookup(HANDLE h);
  template <class T>
  std::shared_ptr<T> LookupAs(HANDLE h) {
    return std::dynamic_pointer_cast<T>(Lookup(h));
  }
  bool CloseHandle(HANDLE h);
  size_t OpenHandleCount();

  // ---- threads ----
  HANDLE CreateThread(size_t stackSize, LPTHREAD_START_ROUTINE start, void* param, DWORD flags, DWORD* tid);
  DWORD ResumeThread(HANDLE h);
  bool GetExitCodeThread(HANDLE h, DWORD* code);
  DWORD CurrentThreadId();
  bool CancelSynchronousIo(HANDLE thread);
  // Stack size asked for by the last CreateThread (0 before any).
  size_t LastStackSize();
  // Thread creations fail with winError (the next one, unless `when` says otherwise), as Windows
  // refuses a thread when no memory or address space is left for its stack (ERROR_NOT_ENOUGH_MEMORY).
  void FailThreadCreation(DWORD winError, SimTrigger when = {1});
  // Threads created through the machine that have not finished yet.
  int LiveThreads();

  // ---- waiting ----
  // Blocks the calling thread until ready() holds (checked under the lock), the deadline (absolute
  // virtual ms) passes, a cancel reaches it, or the machine shuts down. ready may be empty.
  WaitOutcome BlockUntil(std::function<bool()> ready, uint64_t deadline, WaitKind kind = {});
  // Same, with the caller already holding the kernel lock.
  WaitOutcome BlockUntilLocked(std::unique_lock<std::mutex>& lk, std::function<bool()> ready, uint64_t deadline,
                               WaitKind kind = {});
  DWORD WaitForObjects(const std::vector<HANDLE>& handles, bool waitAll, DWORD ms);
  void Sleep(DWORD ms);

  // The kernel lock: hold it to change any object's state, then call NotifyLocked().
  std::mutex& Lock() { return mu_; }
  void NotifyLocked();

  // Called when every thread waits for ever; the default prints and aborts, since such a test
  // would otherwise hang until its time-out.
  void SetDeadlockHandler(std::function<void(const std::string&)> h);

  bool ShuttingDown();
  // Ends every wait, and every wait begun afterwards: one with a deadline as if it had passed
  // (the clock moves on to it, so a loop bounded by the clock runs out), one without it with a
  // failure; then waits until the machine's threads have left it.
  void Shutdown();

 private:
  struct ThreadStart;
  static void* ThreadMain(void* arg);
  SimThreadRec* CurrentRecLocked();
  void WakeLocked(Waiter* w, WaitOutcome o);
  void AdvanceLocked();
  uint64_t NowLocked() const;
  // Moves the clock forward to tick (never back), in either mode.
  void RunClockToLocked(uint64_t tick);
  // Blocks on w's condition variable until something wakes it or, when nothing does, until its
  // deadline (real time, or the virtual clock's jump).
  void AwaitLocked(std::unique_lock<std::mutex>& lk, Waiter& w);

  using Clock = std::chrono::steady_clock;

  std::mutex mu_;
  std::condition_variable threadsDone_;
  uint64_t now_;  // virtual mode; in real time the tick at realStart_
  bool realTime_ = false;
  Clock::time_point realStart_;
  int64_t utcAtBootMs1601_;
  int localOffsetMin_ = 60;
  uintptr_t nextHandle_ = 0x100;
  std::map<uintptr_t, std::shared_ptr<SimObject>> handles_;
  std::vector<std::shared_ptr<SimThreadRec>> threads_;
  std::vector<Waiter*> waiters_;
  int running_ = 0;
  int live_ = 0;
  DWORD nextTid_ = 0x1000;
  size_t lastStack_ = 0;
  SimFaultList<> createFaults_;
  bool shutdown_ = false;
  std::shared_ptr<SimThreadRec> mainRec_;
  std::function<void(const std::string&)> onDeadlock_;
};

// Per-thread last error of the simulated machine.
DWORD SimGetLastError();
void SimSetLastError(DWORD code);

// Calendar helpers shared by the clock and the file system's time stamps.
SYSTEMTIME SystemTimeFromMs1601(int64_t ms);
int64_t Ms1601FromCivil(int year, int month, int day, int hour, int minute, int second, int ms);

}  // namespace plat::sim

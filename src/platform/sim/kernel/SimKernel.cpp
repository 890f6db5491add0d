#include "platform/sim/kernel/SimKernel.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>

// winpthreads (the Windows build) has no PTHREAD_STACK_MIN.
#ifndef PTHREAD_STACK_MIN
#define PTHREAD_STACK_MIN 16384
#endif

namespace plat::sim {

namespace {
thread_local DWORD t_lastError = 0;

struct ThreadLocalRec {
  SimKernel* kernel = nullptr;
  SimThreadRec* rec = nullptr;
};
thread_local ThreadLocalRec t_rec;
}  // namespace

DWORD SimGetLastError() { return t_lastError; }
void SimSetLastError(DWORD code) { t_lastError = code; }

// Days from 1601-01-01 to the civil date (proleptic Gregorian).
static int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t daysSince1970 = era * 146097 + static_cast<int64_t>(doe) - 719468;
  return daysSince1970 + 134774;  // 1601-01-01 .. 1970-01-01
}

int64_t Ms1601FromCivil(int year, int month, int day, int hour, int minute, int second, int ms) {
  return ((DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 24 + hour) * 60 +
          minute) *
             60000LL +
         second * 1000LL + ms;
}

SYSTEMTIME SystemTimeFromMs1601(int64_t ms) {
  int64_t days = ms / 86400000;
  int64_t rem = ms % 86400000;
  SYSTEMTIME st;
  // 1601-01-01 was a Monday.
  st.wDayOfWeek = static_cast<WORD>((days + 1) % 7);
  int64_t z = days - 134774 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  y += (m <= 2);
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  st.wHour = static_cast<WORD>(rem / 3600000);
  st.wMinute = static_cast<WORD>(rem / 60000 % 60);
  st.wSecond = static_cast<WORD>(rem / 1000 % 60);
  st.wMilliseconds = static_cast<WORD>(rem % 1000);
  return st;
}

bool SimThread::IsSignalled() const { return rec_->finished; }

SimKernel::SimKernel(uint64_t bootTickMs)
    : now_(bootTickMs),
      utcAtBootMs1601_(Ms1601FromCivil(2026, 12, 10, 9, 30, 0, 0) - static_cast<int64_t>(bootTickMs)) {
  // The thread that builds the machine is its main thread.
  mainRec_ = std::make_shared<SimThreadRec>();
  mainRec_->id = nextTid_;
  nextTid_ += 4;
  mainRec_->started = true;
  threads_.push_back(mainRec_);
  running_ = 1;
  t_rec = {this, mainRec_.get()};
  onDeadlock_ = [](const std::string& what) {
    std::fprintf(stderr, "simulated machine: %s\n", what.c_str());
    std::abort();
  };
}

SimKernel::~SimKernel() {
  Shutdown();
  std::lock_guard<std::mutex> lk(mu_);
  handles_.clear();
  if (t_rec.kernel == this) t_rec = {};
}

void SimKernel::Shutdown() {
  std::unique_lock<std::mutex> lk(mu_);
  if (shutdown_ && live_ == 0) return;
  shutdown_ = true;
  // A wait with a deadline ends as if it had passed, so that a loop bounded by the clock runs
  // out; a wait without one fails.
  for (Waiter* w : std::vector<Waiter*>(waiters_)) {
    if (w->deadline != UINT64_MAX) RunClockToLocked(w->deadline);
    WakeLocked(w, w->deadline != UINT64_MAX ? WaitOutcome::Timeout : WaitOutcome::Shutdown);
  }
  // Threads still inside the machine get a short real-time grace to leave it.
  threadsDone_.wait_for(lk, std::chrono::seconds(30), [&] { return live_ == 0; });
  if (live_ != 0) {
    std::fprintf(stderr, "simulated machine: %d thread(s) did not finish at shutdown\n", live_);
    std::abort();
  }
}

uint64_t SimKernel::NowLocked() const {
  if (!realTime_) return now_;
  return now_ + static_cast<uint64_t>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - realStart_).count());
}

void SimKernel::RunClockToLocked(uint64_t tick) {
  const uint64_t now = NowLocked();
  if (tick > now) now_ += tick - now;  // in real time too: the base moves
}

uint64_t SimKernel::NowMs() {
  std::lock_guard<std::mutex> lk(mu_);
  return NowLocked();
}

void SimKernel::SetRealTime(bool on) {
  std::lock_guard<std::mutex> lk(mu_);
  if (on == realTime_) return;
  now_ = NowLocked();
  realStart_ = Clock::now();
  realTime_ = on;
  // Every wait in progress looks at its deadline again, the way the new mode keeps time.
  for (Waiter* w : waiters_) w->cv.notify_one();
  if (!on && running_ == 0) AdvanceLocked();
}

bool SimKernel::RealTime() {
  std::lock_guard<std::mutex> lk(mu_);
  return realTime_;
}

void SimKernel::SetUtcAtBoot(int year, int month, int day, int hour, int minute, int second, int ms) {
  std::lock_guard<std::mutex> lk(mu_);
  utcAtBootMs1601_ =
      Ms1601FromCivil(year, month, day, hour, minute, second, ms) - static_cast<int64_t>(NowLocked());
}

void SimKernel::SetLocalOffsetMinutes(int minutes) {
  std::lock_guard<std::mutex> lk(mu_);
  localOffsetMin_ = minutes;
}

SYSTEMTIME SimKernel::SystemTimeNow() {
  std::lock_guard<std::mutex> lk(mu_);
  return SystemTimeFromMs1601(utcAtBootMs1601_ + static_cast<int64_t>(NowLocked()));
}

SYSTEMTIME SimKernel::LocalTimeNow() {
  std::lock_guard<std::mutex> lk(mu_);
  return SystemTimeFromMs1601(utcAtBootMs1601_ + static_cast<int64_t>(NowLocked()) + localOffsetMin_ * 60000LL);
}

HANDLE SimKernel::AddHandle(std::shared_ptr<SimObject> obj) {
  std::lock_guard<std::mutex> lk(mu_);
  // Handle values are never reused, so a stale handle fails instead of reaching a new object.
  uintptr_t v = nextHandle_;
  nextHandle_ += 4;
  handles_[v] = std::move(obj);
  return reinterpret_cast<HANDLE>(v);
}

std::shared_ptr<SimObject> SimKernel::Lookup(HANDLE h) {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = handles_.find(reinterpret_cast<uintptr_t>(h));
  return it == handles_.end() ? nullptr : it->second;
}

bool SimKernel::CloseHandle(HANDLE h) {
  std::shared_ptr<SimObject> dropped;  // released outside the lock
  std::lock_guard<std::mutex> lk(mu_);
  auto it = handles_.find(reinterpret_cast<uintptr_t>(h));
  if (it == handles_.end()) return false;
  dropped = std::move(it->second);
  handles_.erase(it);
  return true;
}

size_t SimKernel::OpenHandleCount() {
  std::lock_guard<std::mutex> lk(mu_);
  return handles_.size();
}

struct SimKernel::ThreadStart {
  SimKernel* kernel;
  std::shared_ptr<SimThreadRec> rec;
  LPTHREAD_START_ROUTINE start;
  void* param;
};

void* SimKernel::ThreadMain(void* arg) {
  std::unique_ptr<ThreadStart> ts(static_cast<ThreadStart*>(arg));
  SimKernel* k = ts->kernel;
  SimThreadRec* rec = ts->rec.get();
  t_rec = {k, rec};
  {
    // A suspended thread waits here; it is not counted as running until resumed.
    std::unique_lock<std::mutex> lk(k->mu_);
    k->BlockUntilLocked(
        lk, [rec] { return rec->started; }, UINT64_MAX);
  }
  DWORD code = 0;
  bool shutdown;
  {
    std::lock_guard<std::mutex> lk(k->mu_);
    shutdown = k->shutdown_ && !rec->started;
  }
  if (!shutdown) code = ts->start(ts->param);
  std::lock_guard<std::mutex> lk(k->mu_);
  rec->finished = true;
  rec->exitCode = code;
  rec->participates = false;
  k->running_--;
  k->live_--;
  t_rec = {};
  k->NotifyLocked();
  k->threadsDone_.notify_all();
  return nullptr;
}

HANDLE SimKernel::CreateThread(size_t stackSize, LPTHREAD_START_ROUTINE start, void* param, DWORD flags,
                               DWORD* tid) {
  auto rec = std::make_shared<SimThreadRec>();
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (shutdown_) {
      SimSetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    if (auto fault = createFaults_.Take()) {
      SimSetLastError(fault->winError);
      return nullptr;
    }
    rec->id = nextTid_;
    nextTid_ += 4;
    rec->stackSize = stackSize;
    lastStack_ = stackSize;
    rec->started = (flags & CREATE_SUSPENDED) == 0;
    threads_.push_back(rec);
    live_++;
    // The new thread is runnable from this moment when not suspended; it leaves the count when
    // it blocks on its start gate (immediately passed) or in any later wait.
    running_++;
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  size_t sz = std::max<size_t>(stackSize ? stackSize : 1024 * 1024, static_cast<size_t>(PTHREAD_STACK_MIN));
  pthread_attr_setstacksize(&attr, sz);
  auto* ts = new ThreadStart{this, rec, start, param};
  pthread_t th;
  int rc = pthread_create(&th, &attr, &SimKernel::ThreadMain, ts);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete ts;
    std::lock_guard<std::mutex> lk(mu_);
    rec->finished = true;
    running_--;
    live_--;
    SimSetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (tid) *tid = rec->id;
  return AddHandle(std::make_shared<SimThread>(rec));
}

DWORD SimKernel::ResumeThread(HANDLE h) {
  auto t = LookupAs<SimThread>(h);
  if (!t) {
    SimSetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFFu;
  }
  std::lock_guard<std::mutex> lk(mu_);
  SimThreadRec* rec = t->Rec().get();
  if (rec->started) return 0;
  rec->started = true;
  NotifyLocked();
  return 1;
}

bool SimKernel::GetExitCodeThread(HANDLE h, DWORD* code) {
  auto t = LookupAs<SimThread>(h);
  if (!t) {
    SimSetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  std::lock_guard<std::mutex> lk(mu_);
  if (code) *code = t->Rec()->exitCode;
  return true;
}

DWORD SimKernel::CurrentThreadId() {
  std::lock_guard<std::mutex> lk(mu_);
  SimThreadRec* r = CurrentRecLocked();
  if (r) return r->id;
  // A host thread the machine did not create: give it a stable id of its own.
  thread_local DWORD foreignId = 0;
  thread_local SimKernel* foreignOf = nullptr;
  if (foreignOf != this) {
    foreignId = nextTid_;
    nextTid_ += 4;
    foreignOf = this;
  }
  return foreignId;
}

bool SimKernel::CancelSynchronousIo(HANDLE thread) {
  auto t = LookupAs<SimThread>(thread);
  if (!t) {
    SimSetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  std::lock_guard<std::mutex> lk(mu_);
  Waiter* w = t->Rec()->waiter;
  if (!w || !w->kind.io || w->woken) {
    SimSetLastError(ERROR_NOT_FOUND);
    return false;
  }
  // Windows reports the request as cancelled even when the driver then ignores it.
  if (w->kind.cancellable) WakeLocked(w, WaitOutcome::Cancelled);
  return true;
}

void SimKernel::FailThreadCreation(DWORD winError, SimTrigger when) {
  std::lock_guard<std::mutex> lk(mu_);
  createFaults_.Add({}, when, SimOutcome::Error(winError));
}

size_t SimKernel::LastStackSize() {
  std::lock_guard<std::mutex> lk(mu_);
  return lastStack_;
}

int SimKernel::LiveThreads() {
  std::lock_guard<std::mutex> lk(mu_);
  return live_;
}

SimThreadRec* SimKernel::CurrentRecLocked() { return t_rec.kernel == this ? t_rec.rec : nullptr; }

void SimKernel::WakeLocked(Waiter* w, WaitOutcome o) {
  if (w->woken) return;
  w->woken = true;
  w->outcome = o;
  if (w->thread && w->thread->participates) running_++;
  w->cv.notify_one();
}

void SimKernel::NotifyLocked() {
  for (Waiter* w : waiters_) {
    if (!w->woken && w->ready && w->ready()) WakeLocked(w, WaitOutcome::Ready);
  }
  if (running_ == 0) AdvanceLocked();
}

void SimKernel::AdvanceLocked() {
  // Real time passes by itself; each wait times itself out.
  if (realTime_) return;
  while (running_ == 0 && !shutdown_) {
    uint64_t next = UINT64_MAX;
    for (Waiter* w : waiters_)
      if (!w->woken && w->thread && w->thread->participates) next = std::min(next, w->deadline);
    if (next == UINT64_MAX) {
      bool anyWaiting = false;
      for (Waiter* w : waiters_) anyWaiting |= !w->woken && w->thread && w->thread->participates;
      if (!anyWaiting) return;
      onDeadlock_("every thread waits for ever (deadlock or a hang nobody cancels)");
      return;
    }
    if (next > now_) now_ = next;
    for (Waiter* w : waiters_)
      if (!w->woken && w->deadline <= now_) WakeLocked(w, WaitOutcome::Timeout);
  }
}

WaitOutcome SimKernel::BlockUntil(std::function<bool()> ready, uint64_t deadline, WaitKind kind) {
  std::unique_lock<std::mutex> lk(mu_);
  return BlockUntilLocked(lk, std::move(ready), deadline, kind);
}

WaitOutcome SimKernel::BlockUntilLocked(std::unique_lock<std::mutex>& lk, std::function<bool()> ready,
                                        uint64_t deadline, WaitKind kind) {
  if (ready && ready()) return WaitOutcome::Ready;
  if (shutdown_) {
    // The clock runs on for whoever waits with a deadline while the machine stops.
    if (deadline == UINT64_MAX) return WaitOutcome::Shutdown;
    RunClockToLocked(deadline);
    return WaitOutcome::Timeout;
  }
  if (deadline <= NowLocked()) return WaitOutcome::Timeout;
  Waiter w;
  w.ready = std::move(ready);
  w.deadline = deadline;
  w.kind = kind;
  w.thread = CurrentRecLocked();
  waiters_.push_back(&w);
  if (w.thread) {
    w.thread->waiter = &w;
    if (w.thread->participates) running_--;
  }
  NotifyLocked();
  AwaitLocked(lk, w);
  waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &w));
  if (w.thread) w.thread->waiter = nullptr;
  return w.outcome;
}

void SimKernel::AwaitLocked(std::unique_lock<std::mutex>& lk, Waiter& w) {
  while (!w.woken) {
    if (realTime_) {
      const uint64_t now = NowLocked();
      if (w.deadline <= now) {
        WakeLocked(&w, WaitOutcome::Timeout);
        break;
      }
      // A deadline beyond a year is as good as none (and keeps the time point in range).
      constexpr uint64_t kYearMs = 365ull * 24 * 3600 * 1000;
      if (w.deadline - now > kYearMs)
        w.cv.wait(lk);
      else
        w.cv.wait_until(lk, realStart_ + std::chrono::milliseconds(w.deadline - now_));
    } else if (w.thread) {
      w.cv.wait(lk);
    } else {
      // A host thread outside the machine does not hold the clock back; it polls its deadline.
      w.cv.wait_for(lk, std::chrono::milliseconds(1));
      if (!w.woken && w.deadline <= now_) WakeLocked(&w, WaitOutcome::Timeout);
    }
  }
}

DWORD SimKernel::WaitForObjects(const std::vector<HANDLE>& handles, bool waitAll, DWORD ms) {
  std::vector<std::shared_ptr<SimObject>> objs;
  for (HANDLE h : handles) {
    auto o = Lookup(h);
    if (!o) {
      SimSetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objs.push_back(std::move(o));
  }
  std::unique_lock<std::mutex> lk(mu_);
  DWORD index = 0;
  auto ready = [&]() {
    if (waitAll) {
      for (auto& o : objs)
        if (!o->IsSignalled()) return false;
      for (auto& o : objs) o->OnWaitSatisfied();
      index = 0;
      return true;
    }
    for (size_t i = 0; i < objs.size(); ++i) {
      if (objs[i]->IsSignalled()) {
        objs[i]->OnWaitSatisfied();
        index = static_cast<DWORD>(i);
        return true;
      }
    }
    return false;
  };
  uint64_t deadline = ms == INFINITE ? UINT64_MAX : NowLocked() + ms;
  switch (BlockUntilLocked(lk, ready, deadline)) {
    case WaitOutcome::Ready: return WAIT_OBJECT_0 + index;
    case WaitOutcome::Timeout: return WAIT_TIMEOUT;
    default: SimSetLastError(ERROR_OPERATION_ABORTED); return WAIT_FAILED;
  }
}

void SimKernel::Sleep(DWORD ms) {
  if (ms == 0) return;
  std::unique_lock<std::mutex> lk(mu_);
  BlockUntilLocked(lk, {}, ms == INFINITE ? UINT64_MAX : NowLocked() + ms);
}

void SimKernel::SetDeadlockHandler(std::function<void(const std::string&)> h) {
  std::lock_guard<std::mutex> lk(mu_);
  onDeadlock_ = std::move(h);
}

bool SimKernel::ShuttingDown() {
  std::lock_guard<std::mutex> lk(mu_);
  return shutdown_;
}

}  // namespace plat::sim

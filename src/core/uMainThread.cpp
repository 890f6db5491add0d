// The main-thread dispatcher: one locked queue of calls, served in order by the main thread.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

#include "core/uMainThread.h"

using namespace plat;

namespace {

enum class TCallState { Pending, Running, Ran, Dropped };

struct TCall {
  std::function<void()> Fn;
  HANDLE Done = nullptr;  // set by the main thread when a synchronized call has run or was dropped
  TCallState State = TCallState::Pending;  // under the dispatcher's lock
  std::exception_ptr Error;                // of a synchronized call, rethrown in its worker
};

std::atomic<TMainThreadDispatcher*> g_mainThread{nullptr};

}  // namespace

struct TMainThreadDispatcher::Impl {
  DWORD MainId = 0;
  HANDLE Wake = nullptr;  // manual reset; signalled while the queue is not empty
  std::mutex Lock;
  std::condition_variable StateChanged;  // a call left the Running state
  std::deque<std::shared_ptr<TCall>> Calls;
  bool Shut = false;
  std::mutex WakerLock;  // held while the waker runs, so SetWaker can retire it safely
  std::function<void()> Waker;

  // Adds a call; false when the dispatcher is shut down and the call was dropped.
  bool Add(const std::shared_ptr<TCall>& call) {
    {
      std::lock_guard<std::mutex> lk(Lock);
      if (Shut) return false;
      Calls.push_back(call);
    }
    // Signalled after the push: a drain that resets the event in between only leaves a
    // spurious wake behind, never a missed one.
    Win().SetEvent(Wake);
    std::lock_guard<std::mutex> wk(WakerLock);
    if (Waker) Waker();
    return true;
  }

  // Marks a call as finished and releases its waiting worker. Under Lock.
  void FinishLocked(TCall& call, TCallState state) {
    call.State = state;
    if (call.Done) Win().SetEvent(call.Done);
    StateChanged.notify_all();
  }
};

TMainThreadDispatcher::TMainThreadDispatcher() : impl_(new Impl) {
  impl_->MainId = Win().GetCurrentThreadId();
  impl_->Wake = Win().CreateEventW(TRUE_, FALSE_);
}

TMainThreadDispatcher::~TMainThreadDispatcher() {
  Shutdown();
  SetWaker(nullptr);
  if (impl_->Wake) Win().CloseHandle(impl_->Wake);
  delete impl_;
}

DWORD TMainThreadDispatcher::MainThreadId() const { return impl_->MainId; }

bool TMainThreadDispatcher::IsMainThread() const { return Win().GetCurrentThreadId() == impl_->MainId; }

void TMainThreadDispatcher::Synchronize(std::function<void()> fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  auto call = std::make_shared<TCall>();
  call->Fn = std::move(fn);
  call->Done = Win().CreateEventW(TRUE_, FALSE_);
  if (!call->Done) return;  // no event, no way to wait: treat like a dropped call
  if (impl_->Add(call)) {
    // Waiting through the platform lets the simulated clock see this thread as blocked.
    if (Win().WaitForSingleObject(call->Done, INFINITE) != WAIT_OBJECT_0) {
      // The wait itself failed (the machine is going down). A call not yet taken must never
      // run once we are gone; one that runs right now must be let finish first.
      std::unique_lock<std::mutex> lk(impl_->Lock);
      if (call->State == TCallState::Pending) {
        auto& q = impl_->Calls;
        for (auto it = q.begin(); it != q.end(); ++it) {
          if (*it == call) {
            q.erase(it);
            break;
          }
        }
        call->State = TCallState::Dropped;
      }
      impl_->StateChanged.wait(lk, [&] { return call->State != TCallState::Running; });
    }
  }
  Win().CloseHandle(call->Done);
  // Moved out, so the exception lives and dies on this thread alone.
  if (std::exception_ptr error = std::move(call->Error)) std::rethrow_exception(error);
}

void TMainThreadDispatcher::Queue(std::function<void()> fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  ForceQueue(std::move(fn));
}

void TMainThreadDispatcher::ForceQueue(std::function<void()> fn) {
  auto call = std::make_shared<TCall>();
  call->Fn = std::move(fn);
  impl_->Add(call);
}

bool TMainThreadDispatcher::CheckSynchronize() {
  bool stopped = false;
  return CheckSynchronize(nullptr, stopped);
}

bool TMainThreadDispatcher::CheckSynchronize(const std::function<bool()>& StepAside, bool& Stopped) {
  Stopped = false;
  if (!IsMainThread()) return false;
  bool any = false;
  for (;;) {
    std::shared_ptr<TCall> call;
    {
      std::lock_guard<std::mutex> lk(impl_->Lock);
      if (impl_->Calls.empty()) {
        Win().ResetEvent(impl_->Wake);
        return any;
      }
    }
    // Asked outside the lock: the question may take its time (a message queue's state).
    if (StepAside && StepAside()) {
      Stopped = true;
      return any;
    }
    {
      std::lock_guard<std::mutex> lk(impl_->Lock);
      // A worker whose wait failed may have taken its own call back meanwhile.
      if (impl_->Calls.empty()) continue;
      call = std::move(impl_->Calls.front());
      impl_->Calls.pop_front();
      call->State = TCallState::Running;
    }
    any = true;
    std::exception_ptr error;
    try {
      call->Fn();
    } catch (...) {
      error = std::current_exception();
    }
    call->Fn = nullptr;  // its captures go before the worker resumes
    std::lock_guard<std::mutex> lk(impl_->Lock);
    // A queued call's exception has no caller left to see it.
    if (call->Done) call->Error = std::move(error);
    impl_->FinishLocked(*call, TCallState::Ran);
  }
}

DWORD TMainThreadDispatcher::WaitForThread(HANDLE thread, DWORD ms) {
  if (!IsMainThread()) return Win().WaitForSingleObject(thread, ms);
  const ULONGLONG start = Win().GetTickCount64();
  for (;;) {
    CheckSynchronize();
    DWORD left = INFINITE;
    if (ms != INFINITE) {
      const ULONGLONG spent = Win().GetTickCount64() - start;
      left = spent >= ms ? 0 : static_cast<DWORD>(ms - spent);
    }
    HANDLE handles[2] = {thread, impl_->Wake};
    const DWORD r = Win().WaitForMultipleObjects(2, handles, FALSE_, left);
    if (r == WAIT_OBJECT_0) {
      // What the thread handed over before it ended is delivered before the wait returns.
      CheckSynchronize();
      return WAIT_OBJECT_0;
    }
    if (r == WAIT_OBJECT_0 + 1) continue;
    return r;  // WAIT_TIMEOUT or WAIT_FAILED
  }
}

HANDLE TMainThreadDispatcher::WakeEvent() const { return impl_->Wake; }

void TMainThreadDispatcher::SetWaker(std::function<void()> waker) {
  std::lock_guard<std::mutex> wk(impl_->WakerLock);
  impl_->Waker = std::move(waker);
}

void TMainThreadDispatcher::Shutdown() {
  std::deque<std::shared_ptr<TCall>> dropped;
  {
    std::lock_guard<std::mutex> lk(impl_->Lock);
    impl_->Shut = true;
    dropped.swap(impl_->Calls);
    for (auto& call : dropped) impl_->FinishLocked(*call, TCallState::Dropped);
    Win().ResetEvent(impl_->Wake);
  }
  // The dropped calls' captures are released here, outside the lock.
}

TMainThreadDispatcher& MainThread() {
  TMainThreadDispatcher* d = g_mainThread.load(std::memory_order_acquire);
  if (!d) {
    std::fputs("no main-thread dispatcher installed\n", stderr);
    std::abort();
  }
  return *d;
}

bool HasMainThread() { return g_mainThread.load(std::memory_order_acquire) != nullptr; }

TMainThreadDispatcher* InstallMainThread(TMainThreadDispatcher* d) {
  return g_mainThread.exchange(d, std::memory_order_acq_rel);
}

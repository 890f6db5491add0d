// The main-thread dispatcher.
//
// Worker threads never touch the window; they hand work to the main thread:
//   Synchronize  the worker waits until the main thread has run the call
//   Queue        the worker does not wait (on the main thread the call runs at once)
//   ForceQueue   deferred: runs when the main loop next runs, even when called on the main thread
// In the real build the dispatcher is bound to the Win32 message loop (a hidden window woken by
// a posted message); in tests the main thread pumps it by hand (CheckSynchronize, WaitForThread).
//
// An exception thrown by a synchronized call is caught on the main thread and rethrown in the
// worker that asked for it, once Synchronize returns there. An exception thrown by a queued
// call has nobody to go to and is dropped; either way the main loop goes on.
//
// The thread base that workers derive from is in core/uThread.h.
#pragma once

#include <cstddef>
#include <functional>

#include "platform/Platform.h"

class TMainThreadDispatcher {
 public:
  // The constructing thread becomes the main thread. Needs an installed platform.
  TMainThreadDispatcher();
  ~TMainThreadDispatcher();
  TMainThreadDispatcher(const TMainThreadDispatcher&) = delete;
  TMainThreadDispatcher& operator=(const TMainThreadDispatcher&) = delete;

  plat::DWORD MainThreadId() const;
  bool IsMainThread() const;

  void Synchronize(std::function<void()> fn);
  void Queue(std::function<void()> fn);
  void ForceQueue(std::function<void()> fn);

  // Main thread: runs every call waiting now (and those they add); true when any ran.
  bool CheckSynchronize();
  // The same, but before each call StepAside may end the serve and leave the rest waiting (a
  // message loop takes the user's input first); Stopped tells whether it did.
  bool CheckSynchronize(const std::function<bool()>& StepAside, bool& Stopped);
  // Main thread: waits for a thread (or any waitable handle) while still serving synchronized and
  // queued calls; when the handle signals, the calls still waiting are run before it returns.
  // Returns WAIT_OBJECT_0, WAIT_TIMEOUT (ms may be INFINITE) or WAIT_FAILED. On another thread it
  // is a plain wait.
  plat::DWORD WaitForThread(plat::HANDLE thread, plat::DWORD ms);
  // Signalled while calls wait; a message loop may wait on it.
  plat::HANDLE WakeEvent() const;
  // Called (from any thread) whenever a call is added; the Win32 binding posts a message here.
  // Once SetWaker returns, the previous waker is no longer running and will not run again.
  void SetWaker(std::function<void()> waker);
  // From now on calls are dropped: waiting calls are discarded, a worker's Synchronize returns
  // without running its call, and calls added later never run.
  void Shutdown();

 private:
  struct Impl;
  Impl* impl_;
};

// The program's dispatcher, installed at start (and by each test fixture).
TMainThreadDispatcher& MainThread();
bool HasMainThread();
TMainThreadDispatcher* InstallMainThread(TMainThreadDispatcher* d);

// Builds a dispatcher on the calling thread and installs it for the life of the object; the
// previous one comes back afterwards. Calls still waiting at the end are dropped.
class TScopedMainThread {
 public:
  TScopedMainThread() : prev_(InstallMainThread(&dispatcher_)) {}
  ~TScopedMainThread() {
    dispatcher_.Shutdown();
    InstallMainThread(prev_);
  }
  TScopedMainThread(const TScopedMainThread&) = delete;
  TScopedMainThread& operator=(const TScopedMainThread&) = delete;
  TMainThreadDispatcher& operator*() { return dispatcher_; }
  TMainThreadDispatcher* operator->() { return &dispatcher_; }

 private:
  TMainThreadDispatcher dispatcher_;
  TMainThreadDispatcher* prev_;
};

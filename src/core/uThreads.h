// The main-thread dispatcher and the thread base.
//
// Worker threads never touch the window; they hand work to the main thread:
//   Synchronize  the worker waits until the main thread has run the call
//   Queue        the worker does not wait (on the main thread the call runs at once)
//   ForceQueue   deferred: runs when the main loop next runs, even when called on the main thread
// In the real build the dispatcher is bound to the Win32 message loop (a hidden window woken by
// a posted message); in tests the main thread pumps it by hand (CheckSynchronize, WaitForThread).
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
  // Main thread: waits for a thread (or any waitable handle) while still serving synchronized and
  // queued calls. Returns WAIT_OBJECT_0 or WAIT_TIMEOUT (ms may be INFINITE).
  plat::DWORD WaitForThread(plat::HANDLE thread, plat::DWORD ms);
  // Signalled while calls wait; a message loop may wait on it.
  plat::HANDLE WakeEvent() const;
  // Called (from any thread) whenever a call is added; the Win32 binding posts a message here.
  void SetWaker(std::function<void()> waker);
  // From now on calls are dropped: a worker's Synchronize returns without running its call.
  void Shutdown();

 private:
  struct Impl;
  Impl* impl_;
};

// The program's dispatcher, installed at start (and by each test fixture).
TMainThreadDispatcher& MainThread();
bool HasMainThread();
TMainThreadDispatcher* InstallMainThread(TMainThreadDispatcher* d);

// Binds the main-thread dispatcher to the Win32 message loop of the thread that builds it.
//
// A hidden message-only window runs the dispatcher's calls when a posted wake message reaches
// it; the dispatcher's waker posts that message whenever a call is added (at most one is in
// flight). Destroying the binding shuts the dispatcher down: a call that arrives after the
// window is gone is dropped, never run.
//
// Windows hands out posted messages before the user's input, and a run or a real test adds calls
// without pause: served as they come, they would keep the person's clicks (Cancel among them) and
// the window's painting waiting until the run ends. So a serve steps aside before the next call
// when input waits or after a slice of time, and then no wake is posted until the loop has taken
// that input (Resume, from our own loops) or, in a loop that is not ours (a message box's), until
// a timer fires, which Windows hands out only after input and painting.
#pragma once

#include <atomic>

#include "core/uMainThread.h"

namespace ui::win32 {

class Win32MainThreadBinding {
 public:
  // On the main thread, which must then run a message loop.
  explicit Win32MainThreadBinding(TMainThreadDispatcher& Dispatcher);
  ~Win32MainThreadBinding();
  Win32MainThreadBinding(const Win32MainThreadBinding&) = delete;
  Win32MainThreadBinding& operator=(const Win32MainThreadBinding&) = delete;

  // The hidden window (an HWND); null when it could not be created.
  void* Window() const { return FWindow; }
  // The message the waker posts to it.
  static unsigned WakeMessage();
  // A serve gives the loop back after at most this long, so that the window paints.
  static constexpr unsigned long long kServeSliceMs = 20;

  // Main thread, after the loop has handled a message: a serve that stepped aside goes on once
  // no input and no timer waits.
  void Resume();

 private:
  void Wake();
  void Serve();
  void StepAside();
  friend struct Win32MainThreadBindingProc;

  TMainThreadDispatcher& FDispatcher;
  void* FWindow = nullptr;
  std::atomic<bool> FPosted{false};  // a wake message is on its way, or the serve stepped aside
  bool FAside = false;               // main thread only: calls wait for Resume or the timer
};

}  // namespace ui::win32

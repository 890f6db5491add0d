// Binds the main-thread dispatcher to the Win32 message loop of the thread that builds it.
//
// A hidden message-only window runs CheckSynchronize when a posted wake message reaches it; the
// dispatcher's waker posts that message whenever a call is added (at most one is in flight).
// Destroying the binding shuts the dispatcher down: a call that arrives after the window is gone
// is dropped, never run.
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

 private:
  void Wake();
  void Serve();
  friend struct Win32MainThreadBindingProc;

  TMainThreadDispatcher& FDispatcher;
  void* FWindow = nullptr;
  std::atomic<bool> FPosted{false};  // a wake message is on its way
};

}  // namespace ui::win32

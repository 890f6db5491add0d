#include "ui/toolkit/win32/Win32MainThreadBinding.h"

// Our constants first, then Windows' (see PlatformTypes.h).
#include <windows.h>

// Outside our namespace, where Windows' macros mean Windows' types.
static HWND MessageOnlyParent() { return HWND_MESSAGE; }

namespace ui::win32 {

namespace {
const wchar_t kClassName[] = L"VrekTrimMainThreadWake";
constexpr UINT kWakeMessage = WM_APP + 0x51;
constexpr UINT_PTR kGoOnTimer = 1;

// The person's input (keys, buttons, the mouse) waits in this thread's queue. Under wine the
// question also lets the X server's events in first.
bool Waiting(UINT Kinds) { return (HIWORD(GetQueueStatus(Kinds)) & Kinds) != 0; }
}  // namespace

struct Win32MainThreadBindingProc {
  static LRESULT CALLBACK Proc(::HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kWakeMessage || (msg == WM_TIMER && wp == kGoOnTimer)) {
      auto* self = reinterpret_cast<Win32MainThreadBinding*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
      if (self) self->Serve();
      return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
};

unsigned Win32MainThreadBinding::WakeMessage() { return kWakeMessage; }

Win32MainThreadBinding::Win32MainThreadBinding(TMainThreadDispatcher& Dispatcher) : FDispatcher(Dispatcher) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &Win32MainThreadBindingProc::Proc;
  wc.hInstance = instance;
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);  // fails harmlessly when a former binding registered it already
  ::HWND hwnd =
      CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, MessageOnlyParent(), nullptr, instance, nullptr);
  if (!hwnd) return;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  FWindow = hwnd;
  FDispatcher.SetWaker([this] { Wake(); });
  // Calls that were added before the binding existed still need their first wake. The event is
  // the platform's (a simulated machine's in the demo), so it is asked through the platform.
  if (plat::Win().WaitForSingleObject(FDispatcher.WakeEvent(), 0) == WAIT_OBJECT_0) Wake();
}

Win32MainThreadBinding::~Win32MainThreadBinding() {
  // Once SetWaker returns no thread posts to the window any more.
  FDispatcher.SetWaker(nullptr);
  FDispatcher.Shutdown();
  if (FWindow) {
    SetWindowLongPtrW(static_cast<::HWND>(FWindow), GWLP_USERDATA, 0);
    DestroyWindow(static_cast<::HWND>(FWindow));  // its timer goes with it
  }
}

void Win32MainThreadBinding::Wake() {
  if (FPosted.exchange(true)) return;
  // A full message queue loses this wake; the next call added tries again.
  if (!PostMessageW(static_cast<::HWND>(FWindow), kWakeMessage, 0, 0)) FPosted.store(false);
}

void Win32MainThreadBinding::Serve() {
  if (FAside) {
    FAside = false;
    KillTimer(static_cast<::HWND>(FWindow), kGoOnTimer);
  }
  // Cleared before the pump, so a call added during it posts a fresh wake.
  FPosted.store(false);
  const ULONGLONG start = GetTickCount64();
  bool stopped = false;
  // Input is taken between the calls, also between the synchronized ones a worker waits on.
  FDispatcher.CheckSynchronize([start] { return Waiting(QS_INPUT) || GetTickCount64() - start >= kServeSliceMs; },
                               stopped);
  if (stopped) StepAside();
}

void Win32MainThreadBinding::StepAside() {
  // Calls still wait. A wake posted now would come before the input again: none is, by us or by
  // the workers (FPosted stays set), until Resume or the timer. A wake a worker posted during the
  // serve may still come first; it finds the input and steps aside again at once.
  FPosted.store(true);
  FAside = true;
  SetTimer(static_cast<::HWND>(FWindow), kGoOnTimer, USER_TIMER_MINIMUM, nullptr);
}

void Win32MainThreadBinding::Resume() {
  // A due timer waits too: Windows hands it out only when nothing is posted.
  if (!FAside || Waiting(QS_INPUT | QS_TIMER)) return;
  FAside = false;
  KillTimer(static_cast<::HWND>(FWindow), kGoOnTimer);
  if (!PostMessageW(static_cast<::HWND>(FWindow), kWakeMessage, 0, 0)) StepAside();  // a full queue: the timer
}

}  // namespace ui::win32

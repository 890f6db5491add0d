// The window toolkit's Win32 backend: real windows and Common Controls 6.
//
// Made on the main thread (after the platform and the main-thread dispatcher are installed) and
// installed with tk::InstallBackend. It owns the message loop and binds the dispatcher to it, so
// synchronized and queued calls of worker threads run in every loop of the thread: ours, a
// modal form's, a message box's and a common dialog's.
//
// Notifications go back to the control that sent them: every window of a control carries its
// peer (a window property), and every window that holds children (forms, panels, tab sheets,
// group boxes, the tab control) hands WM_COMMAND, WM_NOTIFY and WM_CTLCOLOR* to the peer of the
// sending window. Peers only mirror the model: they never raise an event for a change made by
// code, and user actions go to the controls' User... methods inside TApplication::Guard.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ui/toolkit/uTkApplication.h"

namespace ui::win32 {
class Win32MainThreadBinding;
}

namespace tk::win32 {

// The save dialog's filter as Windows takes it: "A|*.a|B|*.*" becomes "A\0*.a\0B\0*.*\0\0".
std::wstring SaveDialogFilter(const std::string& Filter);
// The save dialog's flags: the current directory never changes, no overwrite prompt.
uint32_t SaveDialogFlags();
// The window class of the text-input dialog (tests find it by that).
const wchar_t* InputDialogClass();

class TWin32Backend final : public IBackend {
 public:
  TWin32Backend();
  ~TWin32Backend() override;
  TWin32Backend(const TWin32Backend&) = delete;
  TWin32Backend& operator=(const TWin32Backend&) = delete;

  // The font every control gets (an HFONT): the system's message font.
  void* GuiFont() const { return FGuiFont; }
  // The backend's own hidden window (timers, deferred calls).
  void* Window() const { return FWnd; }
  // The binding of the main-thread dispatcher (null without an installed dispatcher).
  ui::win32::Win32MainThreadBinding* Binding() const { return FBinding.get(); }

  // Handles one message as the loop does (keyboard navigation of our windows included).
  void Dispatch(void* Msg);

  // ---- IBackend ----
  std::unique_ptr<IControlPeer> CreatePeer(TControl& Control) override;
  TSize MeasureText(const std::string& Text, const TFontInfo& Font) override;
  TSize FormFrame(TForm& Form) override;
  int StartTimer(TTimer& Timer, unsigned IntervalMs) override;
  void StopTimer(int Id) override;
  void Run(TForm& Main) override;
  void RunModal(TForm& Form) override;
  void PostDeferred(std::function<void()> Fn) override;
  void ProcessMessages() override;
  void FormClosed(TForm& Form) override;
  void* AllocateHWnd(TWndProc Proc) override;
  void DeallocateHWnd(void* Wnd) override;
  intptr_t DefWindowProc(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) override;
  bool PostWindowMessage(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) override;
  bool InputQuery(TForm* Owner, const std::string& Caption, const std::string& Prompt,
                  std::string& Value) override;
  bool SaveFileDialog(TForm* Owner, const TSaveDialogOptions& Options, std::string& Path) override;

 private:
  friend struct TBackendWndProc;
  void RunDeferred();
  void FireTimer(uintptr_t Id);
  void PaintWhenStarved();

  void* FWnd = nullptr;
  void* FGuiFont = nullptr;
  std::unique_ptr<ui::win32::Win32MainThreadBinding> FBinding;
  std::map<uintptr_t, TTimer*> FTimers;
  uintptr_t FNextTimer = 1;
  std::mutex FDeferredLock;
  std::deque<std::function<void()>> FDeferred;
  unsigned long long FLastPaintTick = 0;
};

}  // namespace tk::win32

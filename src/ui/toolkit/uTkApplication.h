// The toolkit's application object, its backend interface, hidden windows and the general
// handling of exceptions that escape the program's event handlers.
//
// Two backends implement IBackend: Win32 (ui/toolkit/win32: real controls with Common Controls 6;
// it owns the message loop and binds the main-thread dispatcher to it, so synchronized and queued
// calls run inside modal boxes and dialogs too) and headless (ui/toolkit/headless: the same
// control tree, drivable by name, with fixed text metrics, a recording canvas and a loop on the
// simulated machine's virtual clock). One is installed at program start (or by a test fixture)
// before any form is made; everything runs on the main thread.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "ui/toolkit/uTkControls.h"
#include "ui/toolkit/uTkForm.h"

namespace tk {

// What a backend shows for one control. The control holds the state; the peer mirrors it.
class IControlPeer {
 public:
  virtual ~IControlPeer() = default;
  // The control's state changed (see TChange); Arg as TChange says.
  virtual void Changed(TChange What, size_t Arg) = 0;
  // See TControl::PreferredSize (WrapWidth 0: no wrapping).
  virtual TSize PreferredSize(int WrapWidth) = 0;
  // Thickness of a container's frame on each side (a group box's caption on top, a page
  // control's tabs): the client rect is the control's box less these.
  virtual TRect ClientInsets() = 0;
  // An HWND in the Win32 backend; a unique token in the headless one.
  virtual void* Handle() = 0;
};

// The window procedure of a hidden window (for messages the program handles itself, such as
// device changes): gets the window, the message and its two parameters.
using TWndProc = std::function<intptr_t(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam)>;

struct TSaveDialogOptions {
  std::string Title;
  std::string Filter;      // "CSV files (*.csv)|*.csv|All files (*.*)|*.*": pairs of name and pattern
  std::string DefaultExt;  // ".csv"
  std::string FileName;    // proposed name
  std::string InitialDir;  // empty: the system's choice
};

class IBackend {
 public:
  virtual ~IBackend() = default;

  virtual std::unique_ptr<IControlPeer> CreatePeer(TControl& Control) = 0;
  // Extent of a text in a font, as the control or canvas would draw it.
  virtual TSize MeasureText(const std::string& Text, const TFontInfo& Font) = 0;
  // Outer size less client size of a form's window (frame and caption bar).
  virtual TSize FormFrame(TForm& Form) = 0;

  // Timers: Start returns an id; the backend calls TTimer::Fire from its loop.
  virtual int StartTimer(TTimer& Timer, unsigned IntervalMs) = 0;
  virtual void StopTimer(int Id) = 0;

  // The message loop. Run shows Main and returns once it closed; RunModal runs a nested loop
  // until Form closes (TForm::ShowModal has shown it and disabled its owner, and closes it
  // should the loop end otherwise). PostDeferred runs Fn when the loop next processes messages,
  // after what is waiting now; any thread may post. ProcessMessages handles what is waiting.
  virtual void Run(TForm& Main) = 0;
  virtual void RunModal(TForm& Form) = 0;
  virtual void PostDeferred(std::function<void()> Fn) = 0;
  virtual void ProcessMessages() = 0;
  // Closing a form: hide it (and, for the main form, end Run's loop).
  virtual void FormClosed(TForm& Form) = 0;

  // Hidden top-level windows (zero size, never shown) whose messages go to Proc.
  virtual void* AllocateHWnd(TWndProc Proc) = 0;
  virtual void DeallocateHWnd(void* Wnd) = 0;
  virtual intptr_t DefWindowProc(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) = 0;
  // Posts a message to a window of this backend: it is handled by the window's procedure from
  // the message loop. False when the window does not exist.
  virtual bool PostWindowMessage(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) = 0;

  // The text-input dialog and the save-file dialog (see uTkModal.h: call them through there).
  virtual bool InputQuery(TForm* Owner, const std::string& Caption, const std::string& Prompt,
                          std::string& Value) = 0;
  virtual bool SaveFileDialog(TForm* Owner, const TSaveDialogOptions& Options, std::string& Path) = 0;
};

// The installed backend. Installed once at program start, and by each test fixture.
IBackend& Backend();
bool HasBackend();
IBackend* InstallBackend(IBackend* B);  // returns the one it replaces

class TScopedBackend {
 public:
  explicit TScopedBackend(IBackend* B) : FPrev(InstallBackend(B)) {}
  ~TScopedBackend() { InstallBackend(FPrev); }
  TScopedBackend(const TScopedBackend&) = delete;
  TScopedBackend& operator=(const TScopedBackend&) = delete;

 private:
  IBackend* FPrev;
};

class TApplication {
 public:
  // Shows MainForm and runs the message loop until it closes.
  void Run(TForm& MainForm);
  TForm* MainForm() const { return FMainForm; }
  void ProcessMessages();
  // Runs Fn from the message loop once it next runs (after the window shows, when posted during
  // its creation). An exception from Fn goes to HandleException.
  void PostDeferred(std::function<void()> Fn);

  // Every call from the toolkit into program code (events, timers, deferred calls, paint,
  // window procedures) runs through Guard: an exception that escapes it never ends the program.
  // It is handed to the exception handler (set by the program: an ERROR log line and an error
  // box with the message); without one, an error box with the message is shown.
  template <class F>
  void Guard(F&& Fn) {
    try {
      Fn();
    } catch (...) {
      HandleException(std::current_exception());
    }
  }
  void HandleException(std::exception_ptr E);
  void SetOnException(std::function<void(const std::string& Message)> Handler);
  // The text of an exception: what() of a std::exception, else a fixed text.
  static std::string ExceptionMessage(std::exception_ptr E);

 private:
  friend TApplication& Application();
  TForm* FMainForm = nullptr;
  std::function<void(const std::string&)> FOnException;
};

TApplication& Application();

// Hidden windows for messages the program handles itself (see IBackend).
void* AllocateHWnd(TWndProc Proc);
void DeallocateHWnd(void* Wnd);
intptr_t DefWindowProc(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam);
bool PostWindowMessage(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam);

}  // namespace tk

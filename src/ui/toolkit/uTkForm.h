// A top-level window, and the timer the windows own.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/toolkit/uTkControls.h"

namespace tk {

enum class TFormPosition : uint8_t { poDefault, poOwnerFormCenter, poScreenCenter };

// Results of ShowModal (the Windows dialog results).
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrClose = 8;

class TTimer;
class TCaptionLayout;

class TForm : public TControl {
 public:
  // Owner: the window this one is centred on and that a modal show disables; nullptr for the
  // main window. The form's peer (its window, hidden until shown) exists when this returns.
  explicit TForm(TForm* Owner, const TCreate& Create = {});
  ~TForm() override;

  TForm* Owner() const { return FOwner; }

  // Size of the client area; the window's outer size follows from the backend's frame.
  void SetClientSize(TSize S);
  // Outer size (frame included), as Width/Height of the creation record.
  void SetOuterSize(TSize S);
  // The window can't be made smaller than this (client area or outer size).
  void SetMinClientSize(TSize S);
  void SetMinOuterSize(TSize S);
  TSize MinClientSize() const { return FMinClient; }
  TFormPosition Position() const { return FPosition; }
  void SetPosition(TFormPosition P) { FPosition = P; }

  // Shows the window (placed by Position) and lays it out.
  void Show();
  // Shows it modally: the owner is disabled and a nested loop runs until the window closes;
  // returns ModalResult (mrClose when closed by the frame or Close()).
  int ShowModal();
  bool IsModal() const { return FModal; }
  int ModalResult() const { return FModalResult; }
  void SetModalResult(int R);  // ends a modal show with R
  // Closes the window (the main window's close ends the program's message loop).
  void Close();
  bool Closed() const { return FClosed; }

  // The backend's calls when the user resized or closed the window.
  void UserResized(TSize NewClient);
  void UserClose();

  // The window's creation and destruction events. CreateForm runs OnCreate once the form is
  // built; DestroyForm runs OnDestroy while every control and window still exists, then frees it.
  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  // After the user resized the window (not after a size set by code).
  TNotifyEvent OnResize;
  void DoCreate();
  void DoDestroy();

  // The native handle (an HWND in the Win32 backend, a unique token in the headless one): the
  // owner of message boxes.
  void* Handle() const;

  // A timer owned by this window, freed with it.
  TTimer* AddTimer();

  // The window's rows whose captions decide their widths (uTkCaptionLayout.h); made on first use.
  TCaptionLayout& CaptionLayout();
  // A caption of one of this window's controls changed (the control calls it).
  void CaptionChanged(TControl& Control);

 private:
  std::unique_ptr<TCaptionLayout> FCaptionLayout;
  std::vector<std::unique_ptr<TTimer>> FTimers;
  TForm* FOwner;
  TSize FMinClient;
  TFormPosition FPosition = TFormPosition::poDefault;
  bool FModal = false;
  int FModalResult = mrNone;
  bool FClosed = false;
  bool FDestroyed = false;
};

template <class T, class... Args>
std::unique_ptr<T> CreateForm(Args&&... args) {
  auto f = std::make_unique<T>(std::forward<Args>(args)...);
  f->DoCreate();
  return f;
}
void DestroyForm(std::unique_ptr<TForm> Form);

// A timer owned by a window. Enabling it (or setting the interval while enabled) starts the
// interval afresh; enabling it while it is enabled changes nothing. No ticks with interval 0.
// OnTimer runs on the main thread from the message loop, also inside modal boxes.
class TTimer {
 public:
  explicit TTimer(TForm* Owner);  // made by TForm::AddTimer
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  unsigned Interval() const { return FInterval; }
  void SetInterval(unsigned Ms);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool V);
  TTimerEvent OnTimer;
  // The backend's call when the interval has passed.
  void Fire();

 private:
  TForm* FOwner;
  unsigned FInterval = 1000;
  bool FEnabled = false;
  int FId = 0;  // the backend's timer id while enabled
};

}  // namespace tk

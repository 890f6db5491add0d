// Top-level windows and their timers.
#include <algorithm>

#include "ui/toolkit/uTkApplication.h"
#include "ui/toolkit/uTkCaptionLayout.h"
#include "ui/toolkit/uTkForm.h"

namespace tk {

namespace {

void Raise(const TNotifyEvent& Event, TControl* Sender) {
  if (!Event) return;
  TNotifyEvent handler = Event;
  Application().Guard([&] { handler(Sender); });
}

TSize AtLeast(TSize S, TSize Min) { return {std::max(S.Width, Min.Width), std::max(S.Height, Min.Height)}; }

}  // namespace

TForm::TForm(TForm* Owner, const TCreate& Create) : TControl(TControlKind::Form, nullptr, Create), FOwner(Owner) {
  // A window is hidden until shown.
  SetVisible(false);
  AttachPeer();
}

TForm::~TForm() {
  // Timers stop before the window (and the handlers' objects) go.
  FTimers.clear();
  FCaptionLayout.reset();
}

TCaptionLayout& TForm::CaptionLayout() {
  if (!FCaptionLayout) FCaptionLayout = std::make_unique<TCaptionLayout>();
  return *FCaptionLayout;
}

void TForm::CaptionChanged(TControl& Control) {
  if (FCaptionLayout) FCaptionLayout->CaptionChanged(Control);
}

void TForm::SetClientSize(TSize S) {
  S = AtLeast(S, FMinClient);
  const TSize frame = Backend().FormFrame(*this);
  PlaceAt({Left(), Top(), S.Width + frame.Width, S.Height + frame.Height}, TChange::ClientSize);
}

void TForm::SetOuterSize(TSize S) {
  const TSize frame = Backend().FormFrame(*this);
  S = AtLeast(S, {FMinClient.Width + frame.Width, FMinClient.Height + frame.Height});
  PlaceAt({Left(), Top(), S.Width, S.Height});
}

void TForm::SetMinClientSize(TSize S) {
  FMinClient = S;
  Changed(TChange::Constraints);
  const TSize now = ClientSize();
  if (now.Width < S.Width || now.Height < S.Height) SetClientSize(now);
}

void TForm::SetMinOuterSize(TSize S) {
  const TSize frame = Backend().FormFrame(*this);
  SetMinClientSize({std::max(0, S.Width - frame.Width), std::max(0, S.Height - frame.Height)});
}

void TForm::Show() {
  if (FPosition == TFormPosition::poOwnerFormCenter && FOwner)
    PlaceAt({FOwner->Left() + (FOwner->Width() - Width()) / 2, FOwner->Top() + (FOwner->Height() - Height()) / 2,
             Width(), Height()});
  FClosed = false;
  SetVisible(true);
  LayoutChildren();
}

int TForm::ShowModal() {
  FModalResult = mrNone;
  FModal = true;
  // The owner takes no input while this window is up.
  const bool disableOwner = FOwner && FOwner->Enabled();
  if (disableOwner) FOwner->SetEnabled(false);
  struct TRestore {
    TForm& Form;
    bool Owner;
    ~TRestore() {
      if (Owner) Form.FOwner->SetEnabled(true);
      Form.FModal = false;
    }
  } restore{*this, disableOwner};
  Show();
  Backend().RunModal(*this);
  if (!FClosed) Close();
  return FModalResult;
}

void TForm::SetModalResult(int R) {
  FModalResult = R;
  if (FModal && R != mrNone && !FClosed) Close();
}

void TForm::Close() {
  if (FModal && FModalResult == mrNone) FModalResult = mrClose;
  FClosed = true;
  SetVisible(false);
  Backend().FormClosed(*this);
}

void TForm::UserResized(TSize NewClient) {
  NewClient = AtLeast(NewClient, FMinClient);
  const TSize frame = Backend().FormFrame(*this);
  PlaceAt({Left(), Top(), NewClient.Width + frame.Width, NewClient.Height + frame.Height});
  Raise(OnResize, this);
}

void TForm::UserClose() { Close(); }

void TForm::DoCreate() { Raise(OnCreate, this); }

void TForm::DoDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  Raise(OnDestroy, this);
}

void* TForm::Handle() const { return Peer() ? Peer()->Handle() : nullptr; }

TTimer* TForm::AddTimer() {
  FTimers.push_back(std::make_unique<TTimer>(this));
  return FTimers.back().get();
}

void DestroyForm(std::unique_ptr<TForm> Form) {
  if (!Form) return;
  Form->DoDestroy();
  Form.reset();
}

// ---- timer ----

TTimer::TTimer(TForm* Owner) : FOwner(Owner) {}

TTimer::~TTimer() { SetEnabled(false); }

void TTimer::SetInterval(unsigned Ms) {
  if (Ms == FInterval) return;
  FInterval = Ms;
  if (FEnabled) {
    if (FId) Backend().StopTimer(FId);
    FId = FInterval > 0 ? Backend().StartTimer(*this, FInterval) : 0;
  }
}

void TTimer::SetEnabled(bool V) {
  if (V == FEnabled) return;
  if (FId) {
    Backend().StopTimer(FId);
    FId = 0;
  }
  FEnabled = V;
  // As Windows' timers: no interval, no ticks.
  if (FEnabled && FInterval > 0) FId = Backend().StartTimer(*this, FInterval);
}

void TTimer::Fire() {
  if (!FEnabled || !OnTimer) return;
  TTimerEvent handler = OnTimer;
  Application().Guard([&] { handler(this); });
}

}  // namespace tk

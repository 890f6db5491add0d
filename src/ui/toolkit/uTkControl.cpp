// The control base: the tree, geometry, visibility and the state every control shares.
#include <algorithm>

#include "ui/toolkit/uTkApplication.h"
#include "ui/toolkit/uTkControls.h"
#include "ui/toolkit/uTkForm.h"

namespace tk {

TControl::TControl(TControlKind Kind, TControl* Parent, const TCreate& Create)
    : FKind(Kind),
      FName(Create.Name),
      FParent(Parent),
      FBounds(Create.Bounds),
      FAnchors(Create.Anchors),
      FAlign(Create.Align),
      FCaption(Create.Caption) {}

TControl::~TControl() {
  // Children go before this control's own window, as a parent window takes its children along.
  FChildren.clear();
  FPeer.reset();
}

TForm* TControl::OwnerForm() {
  TControl* c = this;
  while (c->FParent) c = c->FParent;
  return c->FKind == TControlKind::Form ? static_cast<TForm*>(c) : nullptr;
}

TControl* TControl::FindByName(const std::string& Name) {
  if (FName == Name) return this;
  for (auto& child : FChildren)
    if (TControl* found = child->FindByName(Name)) return found;
  return nullptr;
}

void TControl::AdoptChild(std::unique_ptr<TControl> Child) {
  TControl& c = *Child;
  FChildren.push_back(std::move(Child));
  c.AttachPeer();
  c.RememberAnchorDistances();
  c.FitLabel();
  const bool sheet = c.FKind == TControlKind::TabSheet && FKind == TControlKind::PageControl;
  if (sheet || c.FAlign != TAlign::alNone) ApplyAnchorLayout(*this);
}

void TControl::AttachPeer() { FPeer = Backend().CreatePeer(*this); }

void TControl::Changed(TChange What, size_t Arg) {
  if (FPeer) FPeer->Changed(What, Arg);
}

void TControl::RememberAnchorDistances() {
  FAnchorBase = FBounds;
  FAnchorParent = FParent ? FParent->ClientSize() : TSize{};
}

void TControl::FitLabel() {
  if (FKind != TControlKind::Label || !static_cast<TLabel*>(this)->AutoSize()) return;
  const TSize s = PreferredSize();
  SetBounds({FBounds.Left, FBounds.Top, s.Width, s.Height});
}

// ---- geometry ----

void TControl::SetBounds(const TBounds& B) {
  PlaceAt(B);
  RememberAnchorDistances();
  // An aligned control's size by code changes what its siblings get.
  if (FAlign != TAlign::alNone && FParent) ApplyAnchorLayout(*FParent);
}

void TControl::PlaceAt(const TBounds& B, TChange What) {
  if (B == FBounds) return;
  const TSize oldClient = ClientSize();
  FBounds = B;
  Changed(What);
  if (!(ClientSize() == oldClient)) ApplyAnchorLayout(*this);
}

void TControl::PlaceFromBase(const TBounds& Base, TSize BaseParent) {
  FAnchorBase = Base;
  FAnchorParent = BaseParent;
  PlaceAt(FParent && FAlign == TAlign::alNone ? tk::AnchoredBounds(*this, FParent->ClientSize()) : Base);
}

void TControl::SetLeft(int V) { SetBounds({V, FBounds.Top, FBounds.Width, FBounds.Height}); }
void TControl::SetTop(int V) { SetBounds({FBounds.Left, V, FBounds.Width, FBounds.Height}); }
void TControl::SetWidth(int V) { SetBounds({FBounds.Left, FBounds.Top, V, FBounds.Height}); }
void TControl::SetHeight(int V) { SetBounds({FBounds.Left, FBounds.Top, FBounds.Width, V}); }

void TControl::SetAnchors(TAnchors A) {
  FAnchors = A;
  RememberAnchorDistances();
}

TRect TControl::ClientRect() {
  const TRect in = FPeer ? FPeer->ClientInsets() : TRect{};
  return {0, 0, std::max(0, FBounds.Width - in.Left - in.Right), std::max(0, FBounds.Height - in.Top - in.Bottom)};
}

TSize TControl::ClientSize() {
  const TRect r = ClientRect();
  return {r.Width(), r.Height()};
}

TSize TControl::PreferredSize(int WrapWidth) {
  return FPeer ? FPeer->PreferredSize(WrapWidth) : TSize{FBounds.Width, FBounds.Height};
}

void TControl::BringToFront() {
  if (!FParent) return;
  auto& siblings = FParent->FChildren;
  auto it = std::find_if(siblings.begin(), siblings.end(), [this](const auto& c) { return c.get() == this; });
  std::rotate(it, it + 1, siblings.end());
  Changed(TChange::ZOrder);
  if (FAlign != TAlign::alNone) ApplyAnchorLayout(*FParent);
}

void TControl::LayoutChildren() { ApplyAnchorLayout(*this); }

// ---- state ----

void TControl::SetVisible(bool V) {
  if (V == FVisible) return;
  FVisible = V;
  Changed(TChange::Visible);
  // A hidden aligned control gives its room to the others.
  if (FAlign != TAlign::alNone && FParent) ApplyAnchorLayout(*FParent);
}

void TControl::SetEnabled(bool V) {
  if (V == FEnabled) return;
  FEnabled = V;
  Changed(TChange::Enabled);
}

bool TControl::Showing() const {
  for (const TControl* c = this; c; c = c->FParent) {
    if (!c->FVisible) return false;
    const TControl* p = c->FParent;
    if (c->FKind == TControlKind::TabSheet && p && p->FKind == TControlKind::PageControl &&
        static_cast<const TPageControl*>(p)->ActivePage() != c)
      return false;
  }
  return true;
}

bool TControl::EffectivelyEnabled() const {
  for (const TControl* c = this; c; c = c->FParent)
    if (!c->FEnabled) return false;
  return true;
}

void TControl::SetCaption(const std::string& S) {
  if (S == FCaption) return;
  FCaption = S;
  Changed(TChange::Caption);
  FitLabel();
  if (TForm* form = OwnerForm()) form->CaptionChanged(*this);
}

void TControl::SetHint(const std::string& S) {
  if (S == FHint) return;
  FHint = S;
  Changed(TChange::Hint);
}

std::string TControl::ShortHint(const std::string& Hint) { return Hint.substr(0, Hint.find('|')); }

}  // namespace tk

// The concrete controls: their state, the changes made by code (no events) and the user's
// actions (state first, then the event, run through the application's guard).
#include <algorithm>
#include <stdexcept>

#include "ui/toolkit/uTkApplication.h"
#include "ui/toolkit/uTkCanvas.h"
#include "ui/toolkit/uTkControls.h"

namespace tk {

namespace {

// A copy runs, so a handler that replaces its own event does not pull the rug from under it.
void Raise(const TNotifyEvent& Event, TControl* Sender) {
  if (!Event) return;
  TNotifyEvent handler = Event;
  Application().Guard([&] { handler(Sender); });
}

int ValidIndex(int Index, size_t Count) { return Index >= 0 && Index < static_cast<int>(Count) ? Index : -1; }

}  // namespace

TPanel::TPanel(TControl* Parent, const TCreate& Create) : TControl(TControlKind::Panel, Parent, Create) {}

TGroupBox::TGroupBox(TControl* Parent, const TCreate& Create) : TControl(TControlKind::GroupBox, Parent, Create) {}

// ---- page control ----

TTabSheet::TTabSheet(TControl* Parent, const TCreate& Create) : TControl(TControlKind::TabSheet, Parent, Create) {}

int TTabSheet::PageIndex() const {
  int index = 0;
  for (auto& c : Parent()->Children()) {
    if (c.get() == this) return index;
    if (c->Kind() == TControlKind::TabSheet) ++index;
  }
  return -1;
}

TPageControl::TPageControl(TControl* Parent, const TCreate& Create)
    : TControl(TControlKind::PageControl, Parent, Create) {}

int TPageControl::PageCount() const {
  return static_cast<int>(std::count_if(Children().begin(), Children().end(),
                                        [](const auto& c) { return c->Kind() == TControlKind::TabSheet; }));
}

TTabSheet* TPageControl::Page(int Index) const {
  for (auto& c : Children())
    if (c->Kind() == TControlKind::TabSheet && Index-- == 0) return static_cast<TTabSheet*>(c.get());
  return nullptr;
}

TTabSheet* TPageControl::ActivePage() const { return Page(FActive); }

void TPageControl::SetActivePage(TTabSheet* P) {
  if (P && P->Parent() == this) SetActivePageIndex(P->PageIndex());
}

void TPageControl::SetActivePageIndex(int Index) {
  if (Index < -1 || Index >= PageCount() || Index == FActive) return;
  FActive = Index;
  Changed(TChange::ActivePage);
}

void TPageControl::UserSelectPage(int Index) {
  if (Index < 0 || Index >= PageCount() || Index == FActive) return;
  SetActivePageIndex(Index);
  Raise(OnChange, this);
}

// ---- simple controls ----

TLabel::TLabel(TControl* Parent, const TCreate& Create)
    : TControl(TControlKind::Label, Parent, Create), FAutoSize(Create.Bounds.Width == 0) {}

void TLabel::SetRunTimeCaptions(std::vector<std::string> Captions) {
  if (Captions == FRunTimeCaptions) return;
  FRunTimeCaptions = std::move(Captions);
  FitLabel();
  if (TForm* form = OwnerForm()) form->CaptionChanged(*this);
}

TButton::TButton(TControl* Parent, const TCreate& Create) : TControl(TControlKind::Button, Parent, Create) {}

void TButton::UserClick() { Raise(OnClick, this); }

TCheckBox::TCheckBox(TControl* Parent, const TCreate& Create) : TControl(TControlKind::CheckBox, Parent, Create) {}

void TCheckBox::SetChecked(bool V) {
  if (V == FChecked) return;
  FChecked = V;
  Changed(TChange::Checked);
}

void TCheckBox::UserToggle() {
  SetChecked(!FChecked);
  Raise(OnClick, this);
}

// ---- radio group and combo box ----

TRadioGroup::TRadioGroup(TControl* Parent, const TCreate& Create)
    : TControl(TControlKind::RadioGroup, Parent, Create) {}

void TRadioGroup::SetItems(std::vector<std::string> Items) {
  FItems = std::move(Items);
  FIndex = ValidIndex(FIndex, FItems.size());
  Changed(TChange::Items);
  // The items are captions too.
  if (TForm* form = OwnerForm()) form->CaptionChanged(*this);
}

void TRadioGroup::SetItem(int Index, const std::string& Text) {
  if (ValidIndex(Index, FItems.size()) < 0) return;
  FItems[Index] = Text;
  Changed(TChange::Items);
  if (TForm* form = OwnerForm()) form->CaptionChanged(*this);
}

void TRadioGroup::SetItemIndex(int Index) {
  Index = ValidIndex(Index, FItems.size());
  if (Index == FIndex) return;
  FIndex = Index;
  Changed(TChange::ItemIndex);
}

void TRadioGroup::UserSelect(int Index) {
  if (ValidIndex(Index, FItems.size()) < 0) return;
  SetItemIndex(Index);
  Raise(OnClick, this);
}

TComboBox::TComboBox(TControl* Parent, const TCreate& Create) : TControl(TControlKind::ComboBox, Parent, Create) {}

void TComboBox::SetItems(std::vector<std::string> Items) {
  FItems = std::move(Items);
  FIndex = ValidIndex(FIndex, FItems.size());
  Changed(TChange::Items);
}

void TComboBox::SetItem(int Index, const std::string& Text) {
  if (ValidIndex(Index, FItems.size()) < 0) return;
  FItems[Index] = Text;
  Changed(TChange::Items);
}

void TComboBox::AddItem(const std::string& Text) {
  FItems.push_back(Text);
  Changed(TChange::Items);
}

void TComboBox::Clear() {
  FItems.clear();
  FIndex = -1;
  Changed(TChange::Items);
}

void TComboBox::SetItemIndex(int Index) {
  Index = ValidIndex(Index, FItems.size());
  if (Index == FIndex) return;
  FIndex = Index;
  Changed(TChange::ItemIndex);
}

std::string TComboBox::Text() const { return FIndex >= 0 ? FItems[FIndex] : std::string(); }

void TComboBox::UserSelect(int Index) {
  if (ValidIndex(Index, FItems.size()) < 0 || Index == FIndex) return;
  SetItemIndex(Index);
  Raise(OnChange, this);
}

// ---- spin edit and progress bar ----

TSpinEdit::TSpinEdit(TControl* Parent, const TCreate& Create) : TControl(TControlKind::SpinEdit, Parent, Create) {}

void TSpinEdit::SetRange(int Min, int Max, int Increment) {
  FMin = Min;
  FMax = std::max(Min, Max);
  FIncrement = Increment > 0 ? Increment : 1;
  Changed(TChange::Range);
  SetValue(FValue);
}

void TSpinEdit::SetValue(int V) {
  V = std::clamp(V, FMin, FMax);
  if (V == FValue) return;
  FValue = V;
  Changed(TChange::Value);
}

void TSpinEdit::UserSetValue(int V) {
  const int before = FValue;
  SetValue(V);
  if (FValue != before) Raise(OnChange, this);
}

TProgressBar::TProgressBar(TControl* Parent, const TCreate& Create)
    : TControl(TControlKind::ProgressBar, Parent, Create) {}

void TProgressBar::SetRange(int Min, int Max) {
  FMin = Min;
  FMax = std::max(Min, Max);
  Changed(TChange::Range);
  SetPosition(FPosition);
}

void TProgressBar::SetPosition(int V) {
  V = std::clamp(V, FMin, FMax);
  if (V == FPosition) return;
  FPosition = V;
  Changed(TChange::Value);
}

// ---- paint box ----

TPaintBox::TPaintBox(TControl* Parent, const TCreate& Create) : TControl(TControlKind::PaintBox, Parent, Create) {}

TPaintBox::~TPaintBox() = default;

TCanvas& TPaintBox::Canvas() {
  if (!FCanvas) throw std::logic_error("paint box canvas used outside its paint event");
  return *FCanvas;
}

void TPaintBox::Invalidate() { Changed(TChange::Invalidate); }

void TPaintBox::Paint(TCanvas& C) {
  FCanvas = &C;
  Raise(OnPaint, this);
  FCanvas = nullptr;
}

}  // namespace tk

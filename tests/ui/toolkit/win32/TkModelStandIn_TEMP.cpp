// TEMPORARY: a stand-in for the toolkit's backend-neutral model (src/ui/toolkit/*.cpp), which is
// written on another branch. Only so that the Win32 backend's tests link before it lands; this
// file is deleted when the real model is merged.
#include "ui/toolkit/uTkApplication.h"
#include "ui/toolkit/uTkCanvas.h"
#include "ui/toolkit/uTkForm.h"

#include <algorithm>
#include <utility>

#include "base/uUtf.h"

namespace tk {

namespace {
IBackend* gBackend = nullptr;
}

IBackend& Backend() { return *gBackend; }
bool HasBackend() { return gBackend != nullptr; }
IBackend* InstallBackend(IBackend* B) { return std::exchange(gBackend, B); }

TApplication& Application() {
  static TApplication app;
  return app;
}
void TApplication::Run(TForm& MainForm) {
  FMainForm = &MainForm;
  Backend().Run(MainForm);
  FMainForm = nullptr;
}
void TApplication::ProcessMessages() { Backend().ProcessMessages(); }
void TApplication::PostDeferred(std::function<void()> Fn) { Backend().PostDeferred(std::move(Fn)); }
void TApplication::HandleException(std::exception_ptr E) {
  if (FOnException) FOnException(ExceptionMessage(E));
}
void TApplication::SetOnException(std::function<void(const std::string&)> Handler) { FOnException = Handler; }
std::string TApplication::ExceptionMessage(std::exception_ptr E) {
  try {
    std::rethrow_exception(E);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

void* AllocateHWnd(TWndProc Proc) { return Backend().AllocateHWnd(std::move(Proc)); }
void DeallocateHWnd(void* Wnd) { Backend().DeallocateHWnd(Wnd); }
intptr_t DefWindowProc(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  return Backend().DefWindowProc(Wnd, Msg, WParam, LParam);
}
bool PostWindowMessage(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  return Backend().PostWindowMessage(Wnd, Msg, WParam, LParam);
}

// ---- TControl ----
TControl::TControl(TControlKind Kind, TControl* Parent, const TCreate& Create)
    : FKind(Kind),
      FName(Create.Name),
      FParent(Parent),
      FBounds(Create.Bounds),
      FAnchors(Create.Anchors),
      FAlign(Create.Align),
      FCaption(Create.Caption) {}
TControl::~TControl() {
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
  for (auto& c : FChildren)
    if (TControl* f = c->FindByName(Name)) return f;
  return nullptr;
}
void TControl::AdoptChild(std::unique_ptr<TControl> Child) {
  TControl* raw = Child.get();
  FChildren.push_back(std::move(Child));
  raw->AttachPeer();
  if (raw->FKind == TControlKind::Label && static_cast<TLabel*>(raw)->AutoSize()) {
    TSize p = raw->PreferredSize();
    raw->SetBounds({raw->Left(), raw->Top(), p.Width, p.Height});
  }
}
void TControl::AttachPeer() {
  FPeer = Backend().CreatePeer(*this);
  if (!FHint.empty()) Changed(TChange::Hint);
}
void TControl::Changed(TChange What, size_t Arg) {
  if (FPeer) FPeer->Changed(What, Arg);
}
void TControl::SetBounds(const TBounds& B) {
  if (B == FBounds) return;
  TSize old = ClientSize();
  FBounds = B;
  Changed(TChange::Bounds);
  TSize now = ClientSize();
  if (!(old == now)) ApplyAnchorLayout(*this, old, now);
}
void TControl::SetLeft(int V) { SetBounds({V, FBounds.Top, FBounds.Width, FBounds.Height}); }
void TControl::SetTop(int V) { SetBounds({FBounds.Left, V, FBounds.Width, FBounds.Height}); }
void TControl::SetWidth(int V) { SetBounds({FBounds.Left, FBounds.Top, V, FBounds.Height}); }
void TControl::SetHeight(int V) { SetBounds({FBounds.Left, FBounds.Top, FBounds.Width, V}); }
void TControl::SetAnchors(TAnchors A) { FAnchors = A; }
TRect TControl::ClientRect() {
  TRect in = FPeer ? FPeer->ClientInsets() : TRect{};
  return {0, 0, std::max(0, FBounds.Width - in.Left - in.Right), std::max(0, FBounds.Height - in.Top - in.Bottom)};
}
TSize TControl::ClientSize() {
  TRect r = ClientRect();
  return {r.Width(), r.Height()};
}
TSize TControl::PreferredSize() { return FPeer ? FPeer->PreferredSize() : TSize{FBounds.Width, FBounds.Height}; }
void TControl::BringToFront() {}
void TControl::SetVisible(bool V) {
  if (V == FVisible) return;
  FVisible = V;
  Changed(TChange::Visible);
}
void TControl::SetEnabled(bool V) {
  if (V == FEnabled) return;
  FEnabled = V;
  Changed(TChange::Enabled);
}
bool TControl::Showing() const {
  for (const TControl* c = this; c; c = c->FParent) {
    if (!c->FVisible) return false;
    if (c->FKind == TControlKind::TabSheet && static_cast<const TPageControl*>(c->FParent)->ActivePage() != c)
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
  if (FKind == TControlKind::Label && static_cast<TLabel*>(this)->AutoSize()) {
    TSize p = PreferredSize();
    SetBounds({Left(), Top(), p.Width, p.Height});
  }
}
void TControl::SetHint(const std::string& S) {
  FHint = S;
  Changed(TChange::Hint);
}
std::string TControl::ShortHint(const std::string& Hint) { return Hint.substr(0, Hint.find('|')); }
void TControl::LayoutChildren(TSize OldClient) { ApplyAnchorLayout(*this, OldClient, ClientSize()); }
void TControl::RememberAnchorDistances() {}

void ApplyAnchorLayout(TControl& Parent, TSize OldClient, TSize NewClient) {
  const int dw = NewClient.Width - OldClient.Width, dh = NewClient.Height - OldClient.Height;
  for (auto& c : Parent.FChildren) {
    TBounds b = c->FBounds;
    if (c->FAlign == TAlign::alClient || c->FKind == TControlKind::TabSheet) {
      b = {0, 0, NewClient.Width, NewClient.Height};
    } else {
      if ((c->FAnchors & akLeft) && (c->FAnchors & akRight))
        b.Width += dw;
      else if (c->FAnchors & akRight)
        b.Left += dw;
      if ((c->FAnchors & akTop) && (c->FAnchors & akBottom))
        b.Height += dh;
      else if (c->FAnchors & akBottom)
        b.Top += dh;
    }
    c->SetBounds(b);
  }
}

TPanel::TPanel(TControl* P, const TCreate& C) : TControl(TControlKind::Panel, P, C) {}
TGroupBox::TGroupBox(TControl* P, const TCreate& C) : TControl(TControlKind::GroupBox, P, C) {}
TTabSheet::TTabSheet(TControl* P, const TCreate& C) : TControl(TControlKind::TabSheet, P, C) {
  TSize s = P->ClientSize();
  SetBounds({0, 0, s.Width, s.Height});
}
int TTabSheet::PageIndex() const {
  int i = 0;
  for (auto& c : Parent()->Children()) {
    if (c.get() == this) return i;
    if (c->Kind() == TControlKind::TabSheet) i++;
  }
  return -1;
}
TPageControl::TPageControl(TControl* P, const TCreate& C) : TControl(TControlKind::PageControl, P, C) {}
int TPageControl::PageCount() const {
  int n = 0;
  for (auto& c : Children()) n += c->Kind() == TControlKind::TabSheet;
  return n;
}
TTabSheet* TPageControl::Page(int Index) const {
  int i = 0;
  for (auto& c : Children())
    if (c->Kind() == TControlKind::TabSheet && i++ == Index) return static_cast<TTabSheet*>(c.get());
  return nullptr;
}
TTabSheet* TPageControl::ActivePage() const { return Page(FActive); }
void TPageControl::SetActivePage(TTabSheet* P) { SetActivePageIndex(P ? P->PageIndex() : 0); }
void TPageControl::SetActivePageIndex(int Index) {
  if (Index < 0 || Index >= PageCount()) return;
  FActive = Index;
  Changed(TChange::ActivePage);
}
void TPageControl::UserSelectPage(int Index) {
  SetActivePageIndex(Index);
  if (OnChange) Application().Guard([&] { OnChange(this); });
}
TLabel::TLabel(TControl* P, const TCreate& C)
    : TControl(TControlKind::Label, P, C), FAutoSize(C.Bounds.Width == 0) {}
TButton::TButton(TControl* P, const TCreate& C) : TControl(TControlKind::Button, P, C) {}
void TButton::UserClick() {
  if (OnClick) OnClick(this);
}
TCheckBox::TCheckBox(TControl* P, const TCreate& C) : TControl(TControlKind::CheckBox, P, C) {}
void TCheckBox::SetChecked(bool V) {
  if (V == FChecked) return;
  FChecked = V;
  Changed(TChange::Checked);
}
void TCheckBox::UserToggle() {
  SetChecked(!FChecked);
  if (OnClick) OnClick(this);
}
TRadioGroup::TRadioGroup(TControl* P, const TCreate& C) : TControl(TControlKind::RadioGroup, P, C) {}
void TRadioGroup::SetItems(std::vector<std::string> Items) {
  FItems = std::move(Items);
  if (FIndex >= static_cast<int>(FItems.size())) FIndex = -1;
  Changed(TChange::Items);
}
void TRadioGroup::SetItem(int Index, const std::string& Text) {
  if (Index < 0 || Index >= static_cast<int>(FItems.size())) return;
  FItems[Index] = Text;
  Changed(TChange::Items);
}
void TRadioGroup::SetItemIndex(int Index) {
  FIndex = Index >= 0 && Index < static_cast<int>(FItems.size()) ? Index : -1;
  Changed(TChange::ItemIndex);
}
void TRadioGroup::UserSelect(int Index) {
  SetItemIndex(Index);
  if (OnClick) OnClick(this);
}
TComboBox::TComboBox(TControl* P, const TCreate& C) : TControl(TControlKind::ComboBox, P, C) {}
void TComboBox::SetItems(std::vector<std::string> Items) {
  FItems = std::move(Items);
  if (FIndex >= ItemCount()) FIndex = -1;
  Changed(TChange::Items);
}
void TComboBox::SetItem(int Index, const std::string& Text) {
  if (Index < 0 || Index >= ItemCount()) return;
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
  FIndex = Index >= 0 && Index < ItemCount() ? Index : -1;
  Changed(TChange::ItemIndex);
}
std::string TComboBox::Text() const { return FIndex >= 0 ? FItems[FIndex] : std::string(); }
void TComboBox::UserSelect(int Index) {
  const int old = FIndex;
  SetItemIndex(Index);
  if (FIndex != old && OnChange) OnChange(this);
}
TMemo::TMemo(TControl* P, const TCreate& C) : TControl(TControlKind::Memo, P, C) {}
std::string TMemo::Text() const {
  std::string s;
  for (size_t i = 0; i < FLines.size(); i++) s += (i ? "\r\n" : "") + FLines[i];
  return s;
}
void TMemo::SetText(const std::string& Text) {
  FLines.clear();
  std::string cur;
  for (size_t i = 0; i < Text.size(); i++) {
    if (Text[i] == '\r' || Text[i] == '\n') {
      FLines.push_back(cur);
      cur.clear();
      if (Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') i++;
    } else {
      cur += Text[i];
    }
  }
  if (!cur.empty()) FLines.push_back(cur);
  Changed(TChange::Lines);
}
void TMemo::Clear() {
  FLines.clear();
  FLength = 0;
  Changed(TChange::Lines);
}
void TMemo::AppendLine(const std::string& Line) {
  auto units = [](const std::string& s) { return Utf8ToUtf16(s).size(); };
  const size_t add = units(Line) + (FLines.empty() ? 0 : 2);
  size_t drop = 0, freed = 0;
  while (FMaxLength && drop < FLines.size() && FLength - freed + add > FMaxLength)
    freed += units(FLines[drop++]) + 2;
  if (drop) {
    DropFront(drop);
    FLength -= std::min(FLength, freed);
  }
  FLength += units(Line) + (FLines.empty() ? 0 : 2);
  FLines.push_back(Line);
  Changed(TChange::LinesAdded, 1);
}
void TMemo::SetMaxLength(size_t N) { FMaxLength = N; }
void TMemo::DropFront(size_t Count) {
  FLines.erase(FLines.begin(), FLines.begin() + static_cast<std::ptrdiff_t>(std::min(Count, FLines.size())));
  Changed(TChange::LinesDropped, Count);
}
TSpinEdit::TSpinEdit(TControl* P, const TCreate& C) : TControl(TControlKind::SpinEdit, P, C) {}
void TSpinEdit::SetRange(int Min, int Max, int Increment) {
  FMin = Min;
  FMax = Max;
  FIncrement = Increment;
  FValue = std::clamp(FValue, FMin, FMax);
  Changed(TChange::Range);
}
void TSpinEdit::SetValue(int V) {
  FValue = std::clamp(V, FMin, FMax);
  Changed(TChange::Value);
}
void TSpinEdit::UserSetValue(int V) {
  SetValue(V);
  if (OnChange) OnChange(this);
}
TProgressBar::TProgressBar(TControl* P, const TCreate& C) : TControl(TControlKind::ProgressBar, P, C) {}
void TProgressBar::SetRange(int Min, int Max) {
  FMin = Min;
  FMax = Max;
  Changed(TChange::Range);
}
void TProgressBar::SetPosition(int V) {
  FPosition = std::clamp(V, FMin, FMax);
  Changed(TChange::Value);
}
TStringGrid::TStringGrid(TControl* P, const TCreate& C) : TControl(TControlKind::StringGrid, P, C) {
  FCells.assign(FRows, std::vector<std::string>(FCols));
  FColWidths.assign(FCols, 64);
}
void TStringGrid::SetColCount(int N) {
  FCols = N;
  for (auto& r : FCells) r.resize(N);
  FColWidths.resize(N, 64);
  Changed(TChange::Grid);
}
void TStringGrid::SetRowCount(int N) {
  FRows = N;
  FCells.resize(N, std::vector<std::string>(FCols));
  Changed(TChange::Grid);
}
void TStringGrid::SetFixed(int Rows, int Cols) {
  FFixedRows = Rows;
  FFixedCols = Cols;
  Changed(TChange::Grid);
}
void TStringGrid::SetOptions(bool ColSizing, bool RowSelect) {
  FColSizing = ColSizing;
  FRowSelect = RowSelect;
  Changed(TChange::Grid);
}
std::string TStringGrid::Cell(int Col, int Row) const {
  if (Row < 0 || Row >= FRows || Col < 0 || Col >= FCols) return {};
  return FCells[Row][Col];
}
void TStringGrid::SetCell(int Col, int Row, const std::string& Text) {
  if (Row < 0 || Row >= FRows || Col < 0 || Col >= FCols) return;
  FCells[Row][Col] = Text;
  Changed(TChange::Cells);
}
int TStringGrid::ColWidth(int Col) const { return Col >= 0 && Col < FCols ? FColWidths[Col] : 0; }
void TStringGrid::SetColWidth(int Col, int Width) {
  if (Col < 0 || Col >= FCols) return;
  FColWidths[Col] = Width;
  Changed(TChange::ColWidths);
}
void TStringGrid::AutoSizeColumns() {
  for (int c = 0; c < FCols; c++) {
    int w = 0;
    for (int r = 0; r < FRows; r++) w = std::max(w, Backend().MeasureText(FCells[r][c], {}).Width);
    FColWidths[c] = w + 12;
  }
  Changed(TChange::ColWidths);
}
void TStringGrid::UserSelectRow(int Row) { FSelectedRow = Row; }
TPaintBox::TPaintBox(TControl* P, const TCreate& C) : TControl(TControlKind::PaintBox, P, C) {}
TPaintBox::~TPaintBox() = default;
TCanvas& TPaintBox::Canvas() { return *FCanvas; }
void TPaintBox::Invalidate() { Changed(TChange::Invalidate); }
void TPaintBox::Paint(TCanvas& C) {
  FCanvas = &C;
  if (OnPaint) OnPaint(this);
  FCanvas = nullptr;
}

// ---- TForm ----
TForm::TForm(TForm* Owner, const TCreate& Create) : TControl(TControlKind::Form, nullptr, Create), FOwner(Owner) {
  SetVisible(false);
  AttachPeer();
}
TForm::~TForm() = default;
void TForm::SetClientSize(TSize S) {
  TSize f = Backend().FormFrame(*this);
  SetBounds({Left(), Top(), S.Width + f.Width, S.Height + f.Height});
}
void TForm::SetOuterSize(TSize S) { SetBounds({Left(), Top(), S.Width, S.Height}); }
void TForm::SetMinClientSize(TSize S) {
  FMinClient = S;
  Changed(TChange::Constraints);
}
void TForm::SetMinOuterSize(TSize S) {
  TSize f = Backend().FormFrame(*this);
  SetMinClientSize({S.Width - f.Width, S.Height - f.Height});
}
void TForm::Show() {
  FClosed = false;
  SetVisible(true);
}
int TForm::ShowModal() {
  FModal = true;
  FModalResult = mrNone;
  Show();
  Backend().RunModal(*this);
  FModal = false;
  return FModalResult == mrNone ? mrClose : FModalResult;
}
void TForm::SetModalResult(int R) {
  FModalResult = R;
  if (R != mrNone && FModal) Close();
}
void TForm::Close() {
  if (FModal && FModalResult == mrNone) FModalResult = mrClose;
  FClosed = true;
  SetVisible(false);
  Backend().FormClosed(*this);
}
void TForm::UserResized(TSize NewClient) {
  TSize old = ClientSize();
  TSize f = Backend().FormFrame(*this);
  SetBounds({Left(), Top(), NewClient.Width + f.Width, NewClient.Height + f.Height});
  (void)old;
  if (OnResize) Application().Guard([&] { OnResize(this); });
}
void TForm::UserClose() { Close(); }
void TForm::DoCreate() {
  if (OnCreate) Application().Guard([&] { OnCreate(this); });
}
void TForm::DoDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  if (OnDestroy) Application().Guard([&] { OnDestroy(this); });
}
void* TForm::Handle() const { return Peer() ? Peer()->Handle() : nullptr; }
TTimer* TForm::AddTimer() {
  FTimers.push_back(std::make_unique<TTimer>(this));
  return FTimers.back().get();
}
void DestroyForm(std::unique_ptr<TForm> Form) {
  if (Form) Form->DoDestroy();
}

TTimer::TTimer(TForm* Owner) : FOwner(Owner) {}
TTimer::~TTimer() { SetEnabled(false); }
void TTimer::SetInterval(unsigned Ms) {
  FInterval = Ms;
  if (FEnabled) {
    SetEnabled(false);
    SetEnabled(true);
  }
}
void TTimer::SetEnabled(bool V) {
  if (V == FEnabled) return;
  FEnabled = V;
  if (V) {
    FId = Backend().StartTimer(*this, FInterval);
  } else {
    Backend().StopTimer(FId);
    FId = 0;
  }
}
void TTimer::Fire() {
  if (FEnabled && OnTimer) OnTimer(this);
}

}  // namespace tk

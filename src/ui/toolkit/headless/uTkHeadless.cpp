// The headless backend: peers with fixed metrics, the driver calls, the recording canvas, the
// dialogs and the hidden windows. The message loop is in uTkHeadlessLoop.cpp.
//
// Fixed metrics (pixels):
//   text            a code point is CharWidth = size in points - 2 wide (7 at the default 9 pt),
//                   one more in bold; a line is LineHeight = size * 4 / 3 + 3 high (15 at 9 pt)
//   check box       preferred width 17 (box and gap) + caption width, height 17
//   label           preferred size: its caption's extent, or its widest run-time caption's; wrapped
//                   at a width, its caption's words in lines
//   button          preferred width 16 (margins) + caption width, height as it stands
//   group box       preferred width 16 (margins) + caption width; a radio group at least its
//                   insets, 12 (margins) and its widest item as a check box measures it
//   form frame      8 left, 31 top (caption bar), 8 right, 8 bottom: outer = client + 16 x 39
//   group box       2 left, 16 top (caption), 2 right, 2 bottom; a radio group the same
//   page control    4 left, 24 top (tabs), 4 right, 4 bottom: 980 x 732 gives sheets of 972 x 704
//   other controls  no insets; preferred size is the present size
#include "ui/toolkit/headless/uTkHeadless.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/Platform.h"
#include "ui/toolkit/headless/uTkHeadlessImpl.h"

namespace tk::headless {

// ---- metrics ----

int CharWidth(int SizePt) { return std::max(1, SizePt - 2); }

int LineHeight(int SizePt) { return SizePt * 4 / 3 + 3; }

TSize TextExtent(const std::string& Text, const TFontInfo& Font) {
  int codePoints = 0;
  for (unsigned char c : Text)
    if ((c & 0xC0) != 0x80) ++codePoints;
  return {codePoints * (CharWidth(Font.SizePt) + (Font.Bold ? 1 : 0)), LineHeight(Font.SizePt)};
}

namespace {

constexpr TRect kFormInsets{8, 31, 8, 8};
constexpr TRect kGroupInsets{2, 16, 2, 2};
constexpr TRect kPageInsets{4, 24, 4, 4};
constexpr int kCheckBoxExtra = 17;
constexpr int kCheckBoxHeight = 17;
constexpr int kButtonExtra = 16;
constexpr int kRadioMargins = 12;  // a radio group's items stand 6 pixels inside its client area

TRect InsetsOf(TControlKind Kind) {
  switch (Kind) {
    case TControlKind::Form: return kFormInsets;
    case TControlKind::GroupBox:
    case TControlKind::RadioGroup: return kGroupInsets;
    case TControlKind::PageControl: return kPageInsets;
    default: return {};
  }
}

// A text's words in lines no wider than Width (a word longer than that on a line of its own).
TSize Wrapped(const std::string& Text, int Width) {
  const int space = TextExtent(" ", {}).Width;
  int lines = 1, line = 0, widest = 0;
  size_t at = 0;
  while (at <= Text.size()) {
    const size_t end = std::min(Text.find(' ', at), Text.size());
    const int word = TextExtent(Text.substr(at, end - at), {}).Width;
    if (line > 0 && line + space + word > Width) {
      ++lines;
      line = word;
    } else {
      line += (line > 0 ? space : 0) + word;
    }
    widest = std::max(widest, line);
    at = end + 1;
  }
  return {widest, lines * LineHeight(TFontInfo{}.SizePt)};
}

// Nothing but a handle and fixed insets; the control holds the state.
class THeadlessPeer final : public IControlPeer {
 public:
  THeadlessPeer(THeadlessBackend::Impl& B, TControl& C)
      : FB(B), FControl(C), FKind(C.Kind()), FHandle(B.NewHandle()) {
    if (FKind == TControlKind::Form) FB.Forms.push_back(&FControl);
  }
  ~THeadlessPeer() override {
    std::erase(FB.Forms, &FControl);
    std::erase(FB.Dirty, &FControl);
    FB.Paints.erase(&FControl);
  }

  void Changed(TChange What, size_t) override {
    if (What == TChange::Invalidate && std::find(FB.Dirty.begin(), FB.Dirty.end(), &FControl) == FB.Dirty.end())
      FB.Dirty.push_back(&FControl);
  }

  TSize PreferredSize(int WrapWidth) override {
    const TSize text = TextExtent(FControl.Caption(), {});
    switch (FKind) {
      case TControlKind::CheckBox: return {kCheckBoxExtra + text.Width, kCheckBoxHeight};
      case TControlKind::Label: {
        if (WrapWidth > 0) return Wrapped(FControl.Caption(), WrapWidth);
        TSize room = text;
        for (const std::string& c : static_cast<TLabel&>(FControl).RunTimeCaptions()) {
          const TSize s = TextExtent(c, {});
          room = {std::max(room.Width, s.Width), std::max(room.Height, s.Height)};
        }
        return room;
      }
      case TControlKind::Button: return {kButtonExtra + text.Width, FControl.Height()};
      case TControlKind::GroupBox: return {kButtonExtra + text.Width, FControl.Height()};
      case TControlKind::RadioGroup: {
        int widest = 0;
        for (const std::string& item : static_cast<TRadioGroup&>(FControl).Items())
          widest = std::max(widest, TextExtent(item, {}).Width);
        const TRect in = InsetsOf(FKind);
        return {std::max(kButtonExtra + text.Width, in.Left + in.Right + kRadioMargins + kCheckBoxExtra + widest),
                FControl.Height()};
      }
      default: return {FControl.Width(), FControl.Height()};
    }
  }

  TRect ClientInsets() override { return InsetsOf(FKind); }
  void* Handle() override { return FHandle; }

 private:
  THeadlessBackend::Impl& FB;
  TControl& FControl;
  TControlKind FKind;
  void* FHandle;
};

// Records every call; measures with the fixed metrics.
class TRecordingSurface final : public ICanvasSurface {
 public:
  explicit TRecordingSurface(std::vector<TDrawCall>& Calls) : FCalls(Calls) {}
  void FillRect(const TRect& R, TColor Color) override {
    TDrawCall d;
    d.Kind = TDrawCall::TKind::Fill;
    d.Rect = R;
    d.Color = Color;
    FCalls.push_back(d);
  }
  void Line(TPoint From, TPoint To, const TPenInfo& Pen) override {
    TDrawCall d;
    d.Kind = TDrawCall::TKind::Line;
    d.From = From;
    d.To = To;
    d.Pen = Pen;
    FCalls.push_back(d);
  }
  void TextOut(TPoint At, const std::string& Text, const TFontInfo& Font) override {
    TDrawCall d;
    d.Kind = TDrawCall::TKind::Text;
    d.From = At;
    d.Text = Text;
    d.Font = Font;
    FCalls.push_back(d);
  }
  TSize TextExtent(const std::string& Text, const TFontInfo& Font) override {
    return headless::TextExtent(Text, Font);
  }

 private:
  std::vector<TDrawCall>& FCalls;
};

// The user reaches only what is shown and enabled.
bool Reachable(TControl* C) { return C && C->Showing() && C->EffectivelyEnabled(); }

}  // namespace

// ---- the inside ----

THeadlessBackend::Impl::Impl() : PostedEvent(plat::Win().CreateEventW(plat::TRUE_, plat::FALSE_)) {}

THeadlessBackend::Impl::~Impl() {
  if (!Forms.empty()) {
    // Their peers would point into this object.
    std::fprintf(stderr, "headless backend destroyed while form \"%s\" still exists\n",
                 Forms.back()->Name().c_str());
    std::abort();
  }
  if (PostedEvent) plat::Win().CloseHandle(PostedEvent);
}

void* THeadlessBackend::Impl::NewHandle() { return reinterpret_cast<void*>(NextToken.fetch_add(4)); }

void THeadlessBackend::Impl::NoAnswerer(const char* What, const std::string& Caption) {
  std::fprintf(stderr, "headless backend: %s \"%s\" with no answerer installed\n", What, Caption.c_str());
  std::abort();
}

void THeadlessBackend::Impl::Paint(TPaintBox& Box) {
  std::vector<TDrawCall> calls;
  TRecordingSurface surface(calls);
  TCanvas canvas(surface);
  Box.Paint(canvas);
  Paints[&Box] = std::move(calls);
}

THeadlessBackend::THeadlessBackend() : FImpl(std::make_unique<Impl>()) {}

THeadlessBackend::~THeadlessBackend() = default;

// ---- finding and driving ----

TControl* THeadlessBackend::Find(const std::string& Name) {
  for (auto it = FImpl->Forms.rbegin(); it != FImpl->Forms.rend(); ++it)
    if (TControl* c = (*it)->FindByName(Name)) return c;
  return nullptr;
}

bool THeadlessBackend::Click(const std::string& Name) {
  TControl* c = Find(Name);
  if (!Reachable(c)) return false;
  if (auto* b = dynamic_cast<TButton*>(c)) {
    b->UserClick();
    return true;
  }
  if (auto* cb = dynamic_cast<TCheckBox*>(c)) {
    cb->UserToggle();
    return true;
  }
  return false;
}

bool THeadlessBackend::Check(const std::string& Name, bool On) {
  auto* cb = dynamic_cast<TCheckBox*>(Find(Name));
  if (!Reachable(cb)) return false;
  if (cb->Checked() != On) cb->UserToggle();
  return true;
}

bool THeadlessBackend::Select(const std::string& Name, int Index) {
  TControl* c = Find(Name);
  if (!Reachable(c) || Index < 0) return false;
  if (auto* combo = dynamic_cast<TComboBox*>(c)) {
    if (Index >= combo->ItemCount()) return false;
    combo->UserSelect(Index);
    return true;
  }
  if (auto* radio = dynamic_cast<TRadioGroup*>(c)) {
    if (Index >= static_cast<int>(radio->Items().size())) return false;
    radio->UserSelect(Index);
    return true;
  }
  if (auto* pages = dynamic_cast<TPageControl*>(c)) {
    if (Index >= pages->PageCount()) return false;
    pages->UserSelectPage(Index);
    return true;
  }
  return false;
}

bool THeadlessBackend::SetValue(const std::string& Name, int Value) {
  auto* spin = dynamic_cast<TSpinEdit*>(Find(Name));
  if (!Reachable(spin)) return false;
  spin->UserSetValue(Value);
  return true;
}

void THeadlessBackend::Resize(TForm& Form, TSize Client) { Form.UserResized(Client); }

void THeadlessBackend::CloseByUser(TForm& Form) { Form.UserClose(); }

// ---- painting ----

std::vector<TDrawCall> THeadlessBackend::Paint(TPaintBox& Box) {
  std::erase(FImpl->Dirty, &Box);
  FImpl->Paint(Box);
  return FImpl->Paints[&Box];
}

const std::vector<TDrawCall>& THeadlessBackend::LastPaint(const TPaintBox& Box) {
  static const std::vector<TDrawCall> kNone;
  auto it = FImpl->Paints.find(&Box);
  return it == FImpl->Paints.end() ? kNone : it->second;
}

// ---- modal answers ----

void THeadlessBackend::SetAnswerer(IAnswerer* Answerer) { FImpl->Answerer = Answerer; }

bool THeadlessBackend::InputQuery(TForm* Owner, const std::string& Caption, const std::string& Prompt,
                                  std::string& Value) {
  if (!FImpl->Answerer) Impl::NoAnswerer("input dialog", Caption);
  std::optional<std::string> answer = FImpl->Answerer->Input(Owner, Caption, Prompt, Value);
  if (!answer) return false;
  Value = *answer;
  return true;
}

bool THeadlessBackend::SaveFileDialog(TForm* Owner, const TSaveDialogOptions& Options, std::string& Path) {
  if (!FImpl->Answerer) Impl::NoAnswerer("save dialog", Options.Title);
  std::optional<std::string> answer = FImpl->Answerer->Save(Owner, Options);
  if (!answer) return false;
  Path = *answer;
  return true;
}

void THeadlessBackend::RunModal(TForm& Form) {
  if (!FImpl->Answerer) Impl::NoAnswerer("modal form", Form.Caption());
  // The answerer closes the form (TForm::ShowModal closes one it left open).
  FImpl->Answerer->ModalForm(Form);
}

// ---- peers, metrics ----

std::unique_ptr<IControlPeer> THeadlessBackend::CreatePeer(TControl& Control) {
  return std::make_unique<THeadlessPeer>(*FImpl, Control);
}

TSize THeadlessBackend::MeasureText(const std::string& Text, const TFontInfo& Font) {
  return TextExtent(Text, Font);
}

TSize THeadlessBackend::FormFrame(TForm&) {
  return {kFormInsets.Left + kFormInsets.Right, kFormInsets.Top + kFormInsets.Bottom};
}

// ---- hidden windows ----

void* THeadlessBackend::AllocateHWnd(TWndProc Proc) {
  void* wnd = FImpl->NewHandle();
  std::lock_guard<std::mutex> lk(FImpl->Lock);
  FImpl->Windows[wnd] = std::move(Proc);
  return wnd;
}

void THeadlessBackend::DeallocateHWnd(void* Wnd) {
  std::lock_guard<std::mutex> lk(FImpl->Lock);
  FImpl->Windows.erase(Wnd);
}

intptr_t THeadlessBackend::DefWindowProc(void*, uint32_t, uintptr_t, intptr_t) { return 0; }

bool THeadlessBackend::PostWindowMessage(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  {
    std::lock_guard<std::mutex> lk(FImpl->Lock);
    if (!FImpl->Windows.count(Wnd)) return false;
  }
  FImpl->Post({0, nullptr, Wnd, Msg, WParam, LParam});
  return true;
}

}  // namespace tk::headless

// The read-only memo (a multi-line edit) and the spin edit (an edit with up-down arrows).
#include "ui/toolkit/win32/Win32Peer.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <optional>

namespace tk::win32 {

namespace {

// A read-only edit is drawn with WM_CTLCOLORSTATIC; it keeps the window colour of an edit.
HBRUSH WindowColours(HDC Dc) {
  SetBkColor(Dc, GetSysColor(COLOR_WINDOW));
  SetTextColor(Dc, GetSysColor(COLOR_WINDOWTEXT));
  return GetSysColorBrush(COLOR_WINDOW);
}

constexpr UINT kMemoFlush = WM_APP + 0x62;
LRESULT CALLBACK MemoSubclassProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR Id, DWORD_PTR Data);

// Appended and dropped lines reach the edit once per turn of the message loop: a burst of log
// lines costs one update of the edit and its scroll bar, not one per line.
class TMemoPeer final : public TWinPeer {
 public:
  TMemoPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B), FMemo(static_cast<TMemo&>(C)) {
    if (!CreateMain(WC_EDITW, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP,
                    WS_EX_CLIENTEDGE))
      return;
    SetWindowSubclass(FWnd, &MemoSubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
    // The model keeps the memo within its limit; an edit at its own limit would refuse lines.
    SendMessageW(FWnd, EM_SETLIMITTEXT, 0, 0);
    ApplyLines();
    ApplyHint();
  }
  ~TMemoPeer() override {
    if (FWnd) RemoveWindowSubclass(FWnd, &MemoSubclassProc, 1);
  }
  HBRUSH CtlColor(HWND, UINT Msg, HDC Dc) override {
    return Msg == WM_CTLCOLORSTATIC ? WindowColours(Dc) : nullptr;
  }

  // Brings the edit up to the model: the dropped lines out at the front, the new ones in at the
  // end, and the last line in view.
  void Flush() {
    if (!FFlushPosted) return;
    FFlushPosted = false;
    if (FDropShown > 0) {
      size_t chars = 0;
      for (size_t i = 0; i < FDropShown; i++) chars += FLengths[i];
      FLengths.erase(FLengths.begin(), FLengths.begin() + static_cast<std::ptrdiff_t>(FDropShown));
      // The break after each dropped line, unless nothing is left after them.
      chars += (FLengths.empty() && FPendingAdd == 0) ? 2 * (FDropShown - 1) : 2 * FDropShown;
      FDropShown = 0;
      SendMessageW(FWnd, EM_SETSEL, 0, static_cast<LPARAM>(chars));
      SendMessageW(FWnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    }
    const auto& lines = FMemo.Lines();
    const size_t add = std::min(FPendingAdd, lines.size());
    FPendingAdd = 0;
    if (add > 0) {
      std::wstring text;
      for (size_t i = lines.size() - add; i < lines.size(); i++) {
        std::wstring w = Wide(lines[i]);
        if (!FLengths.empty()) text += L"\r\n";
        text += w;
        FLengths.push_back(w.size());
      }
      const int end = GetWindowTextLengthW(FWnd);
      SendMessageW(FWnd, EM_SETSEL, end, end);
      SendMessageW(FWnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    }
    ScrollToEnd();
  }

 protected:
  void ApplyCaption() override {}
  void OnChanged(TChange What, size_t Arg) override {
    switch (What) {
      case TChange::Lines: ApplyLines(); break;
      case TChange::LinesAdded:
        FPendingAdd += Arg;
        PostFlush();
        break;
      case TChange::LinesDropped: {
        // Lines still waiting to be shown may go too; the rest are shown ones.
        const size_t shown = FLengths.size() - FDropShown;
        const size_t fromShown = std::min(Arg, shown);
        FDropShown += fromShown;
        FPendingAdd -= std::min(FPendingAdd, Arg - fromShown);
        PostFlush();
        break;
      }
      default: break;
    }
  }

 private:
  void PostFlush() {
    if (!FFlushPosted) FFlushPosted = PostMessageW(FWnd, kMemoFlush, 0, 0) != 0;
  }
  void ApplyLines() {
    FLengths.clear();
    FPendingAdd = 0;
    FDropShown = 0;
    std::wstring all;
    for (const std::string& line : FMemo.Lines()) {
      std::wstring w = Wide(line);
      if (!FLengths.empty()) all += L"\r\n";
      all += w;
      FLengths.push_back(w.size());
    }
    // A whole new text shows from its first line, as an edit does; appended lines scroll.
    SetWindowTextW(FWnd, all.c_str());
    SendMessageW(FWnd, EM_SETSEL, 0, 0);
    SendMessageW(FWnd, EM_SCROLLCARET, 0, 0);
  }
  void ScrollToEnd() {
    const int end = GetWindowTextLengthW(FWnd);
    SendMessageW(FWnd, EM_SETSEL, end, end);
    SendMessageW(FWnd, EM_SCROLLCARET, 0, 0);
  }

  TMemo& FMemo;
  std::deque<size_t> FLengths;  // UTF-16 units of each line the edit shows
  size_t FPendingAdd = 0;       // the model's last lines not shown yet
  size_t FDropShown = 0;        // shown lines the model dropped already
  bool FFlushPosted = false;
};

LRESULT CALLBACK MemoSubclassProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR Id, DWORD_PTR Data) {
  if (Msg == kMemoFlush) {
    reinterpret_cast<TMemoPeer*>(Data)->Flush();
    return 0;
  }
  if (Msg == WM_NCDESTROY) RemoveWindowSubclass(Wnd, &MemoSubclassProc, Id);
  return DefSubclassProc(Wnd, Msg, WParam, LParam);
}

std::optional<int> ParseInt(const std::string& Text) {
  const char* b = Text.data();
  const char* e = b + Text.size();
  while (b < e && *b == ' ') b++;
  while (e > b && e[-1] == ' ') e--;
  int v = 0;
  auto [p, ec] = std::from_chars(b, e, v);
  if (ec != std::errc() || p != e || b == e) return std::nullopt;
  return v;
}

class TSpinEditPeer final : public TWinPeer {
 public:
  TSpinEditPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B), FSpin(static_cast<TSpinEdit&>(C)) {
    if (!CreateMain(WC_EDITW, ES_AUTOHSCROLL | WS_TABSTOP | NumberStyle(), WS_EX_CLIENTEDGE)) return;
    DWORD arrows =
        UDS_ARROWKEYS | UDS_HOTTRACK | (WantVisible() ? WS_VISIBLE : 0) | (C.Enabled() ? 0 : WS_DISABLED);
    FArrows = CreateExtra(GetParent(FWnd), UPDOWN_CLASSW, L"", arrows);
    SendMessageW(FArrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(FWnd), 0);
    ApplyBounds();
    ApplyRange();
    ApplyText();
    ApplyHint();
  }

  bool Command(HWND From, UINT Code, LRESULT& Result) override {
    if (From != FWnd) return false;
    if (Code == EN_CHANGE && !FSettingText) {
      // The model follows what the user types; the text stays as typed until the edit is left.
      if (auto v = ParseInt(WindowText(FWnd))) {
        FTyping = true;
        Guarded([&] { FSpin.UserSetValue(*v); });
        FTyping = false;
      }
    } else if (Code == EN_KILLFOCUS) {
      if (WindowText(FWnd) != std::to_string(FSpin.Value())) ApplyText();
    } else {
      return false;
    }
    Result = 0;
    return true;
  }

  bool Notify(NMHDR* Hdr, LRESULT& Result) override {
    if (Hdr->hwndFrom != FArrows || Hdr->code != UDN_DELTAPOS) return false;
    // The arrows step by the increment from the present value, which may be off the step.
    const auto* ud = reinterpret_cast<NMUPDOWN*>(Hdr);
    const long long next = std::clamp<long long>(
        static_cast<long long>(FSpin.Value()) + static_cast<long long>(ud->iDelta) * FSpin.Increment(),
        FSpin.MinValue(), FSpin.MaxValue());
    Guarded([&] { FSpin.UserSetValue(static_cast<int>(next)); });
    Result = 1;  // the model moved; the arrows keep no position of their own
    return true;
  }

 protected:
  void ApplyCaption() override {}
  void ApplyBounds() override {
    RECT r = PlacedRect();
    const int arrowsW = GetSystemMetrics(SM_CXVSCROLL);
    const int editW = std::max<int>(0, r.right - r.left - arrowsW);
    MoveTo(FWnd, {r.left, r.top, r.left + editW, r.bottom});
    if (FArrows) MoveTo(FArrows, {r.left + editW, r.top, r.left + editW + arrowsW, r.bottom});
  }
  void OnChanged(TChange What, size_t) override {
    if (What == TChange::Range) ApplyRange();
    if (What == TChange::Value || What == TChange::Range) {
      SendMessageW(FArrows, UDM_SETPOS32, 0, FSpin.Value());
      if (!FTyping) ApplyText();
    }
  }

 private:
  DWORD NumberStyle() const { return FSpin.MinValue() >= 0 ? ES_NUMBER : 0; }
  void ApplyRange() {
    SendMessageW(FArrows, UDM_SETRANGE32, FSpin.MinValue(), FSpin.MaxValue());
    SendMessageW(FArrows, UDM_SETPOS32, 0, FSpin.Value());
    LONG_PTR style = GetWindowLongPtrW(FWnd, GWL_STYLE);
    SetWindowLongPtrW(FWnd, GWL_STYLE, (style & ~static_cast<LONG_PTR>(ES_NUMBER)) | NumberStyle());
  }
  void ApplyText() {
    FSettingText = true;
    SetWindowTextW(FWnd, Wide(std::to_string(FSpin.Value())).c_str());
    FSettingText = false;
  }

  TSpinEdit& FSpin;
  HWND FArrows = nullptr;
  bool FTyping = false;       // the model is taking a typed value
  bool FSettingText = false;  // our own text: not the user's typing
};

}  // namespace

std::unique_ptr<IControlPeer> MakeMemoPeer(TControl& C, TWin32Backend& B) {
  return std::make_unique<TMemoPeer>(C, B);
}
std::unique_ptr<IControlPeer> MakeSpinEditPeer(TControl& C, TWin32Backend& B) {
  return std::make_unique<TSpinEditPeer>(C, B);
}

}  // namespace tk::win32

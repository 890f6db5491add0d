// The simple controls: panel, group box, label, button, check box, radio group, list-only
// combo box, progress bar. Changes made by code use messages that send no notification
// (BM_SETCHECK, CB_SETCURSEL, PBM_SETPOS); the notifications of user actions go to the
// controls' User... methods.
#include "ui/toolkit/win32/Win32Peer.h"

#include <algorithm>

namespace tk::win32 {

namespace {

HFONT GuiFont(TWin32Backend& B) { return static_cast<HFONT>(B.GuiFont()); }

// What BCM_GETIDEALSIZE says a button needs for its caption and theme; the text and Extra
// pixels when it can't tell.
TSize IdealButtonSize(HWND Wnd, HFONT Font, const std::string& Caption, int Extra) {
  SIZE ideal = {0, 0};
  if (SendMessageW(Wnd, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)) && ideal.cx > 0)
    return {ideal.cx, ideal.cy};
  SIZE text = TextSize(Font, Wide(Caption));
  return {text.cx + Extra, text.cy};
}

// Insets of a group box's client area: the caption's line on top, the frame on the sides.
TRect GroupInsets(HFONT Font) { return {2, FontHeight(Font) + 2, 2, 2}; }

class TPanelPeer final : public TWinPeer {
 public:
  TPanelPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B) {
    CreateMain(PanelClass(), 0, WS_EX_CONTROLPARENT);
    ApplyHint();
  }

 protected:
  void ApplyCaption() override {}
};

class TGroupBoxPeer final : public TWinPeer {
 public:
  TGroupBoxPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B) {
    if (CreateMain(L"BUTTON", BS_GROUPBOX, WS_EX_CONTROLPARENT)) SubclassContainer(FWnd);
    ApplyHint();
  }
  TRect ClientInsets() override { return GroupInsets(GuiFont(FBackend)); }
};

class TLabelPeer final : public TWinPeer {
 public:
  TLabelPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B) {
    CreateMain(L"STATIC", SS_LEFT | SS_NOPREFIX);
    ApplyHint();
  }
  TSize PreferredSize() override {
    SIZE s = TextSize(GuiFont(FBackend), Wide(FControl.Caption()));
    return {s.cx, s.cy};
  }

 protected:
  // A caption change paints at once in the old size, and the resize that follows leaves part of
  // that paint standing beside the new text: repaint the whole label after either.
  void OnChanged(TChange What, size_t) override {
    if (What == TChange::Caption || What == TChange::Bounds)
      RedrawWindow(FWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
  }
  // A label's hint needs mouse messages, which a static control only gets with SS_NOTIFY.
  void ApplyHint() override {
    if (!FControl.Hint().empty())
      SetWindowLongPtrW(FWnd, GWL_STYLE, GetWindowLongPtrW(FWnd, GWL_STYLE) | SS_NOTIFY);
    TWinPeer::ApplyHint();
  }
};

class TButtonPeer final : public TWinPeer {
 public:
  TButtonPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B) {
    CreateMain(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP);
    ApplyHint();
  }
  TSize PreferredSize() override { return IdealButtonSize(FWnd, GuiFont(FBackend), FControl.Caption(), 16); }
  bool Command(HWND, UINT Code, LRESULT& Result) override {
    if (Code != BN_CLICKED) return false;
    auto& button = static_cast<TButton&>(FControl);
    Guarded([&] { button.UserClick(); });
    Result = 0;
    return true;
  }
};

class TCheckBoxPeer final : public TWinPeer {
 public:
  TCheckBoxPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B) {
    // Not an auto check box: the state is the model's, the window shows it.
    if (CreateMain(L"BUTTON", BS_CHECKBOX | WS_TABSTOP)) ApplyChecked();
    ApplyHint();
  }
  TSize PreferredSize() override {
    return IdealButtonSize(FWnd, GuiFont(FBackend), FControl.Caption(), GetSystemMetrics(SM_CXMENUCHECK) + 6);
  }
  bool Command(HWND, UINT Code, LRESULT& Result) override {
    if (Code != BN_CLICKED) return false;
    auto& box = static_cast<TCheckBox&>(FControl);
    Guarded([&] { box.UserToggle(); });
    Result = 0;
    return true;
  }

 protected:
  void OnChanged(TChange What, size_t) override {
    if (What == TChange::Checked) ApplyChecked();
  }

 private:
  void ApplyChecked() {
    SendMessageW(FWnd, BM_SETCHECK, static_cast<TCheckBox&>(FControl).Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
  }
};

// A group box holding one radio button per item, in one column.
class TRadioGroupPeer final : public TWinPeer {
 public:
  TRadioGroupPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B), FGroup(static_cast<TRadioGroup&>(C)) {
    if (!CreateMain(L"BUTTON", BS_GROUPBOX, WS_EX_CONTROLPARENT)) return;
    SubclassContainer(FWnd);
    RebuildItems();
    ApplyHint();
  }
  TRect ClientInsets() override { return GroupInsets(GuiFont(FBackend)); }
  bool Command(HWND From, UINT Code, LRESULT& Result) override {
    auto it = std::find(FExtra.begin(), FExtra.end(), From);
    if (Code != BN_CLICKED || it == FExtra.end()) return false;
    const int index = static_cast<int>(it - FExtra.begin());
    Guarded([&] { FGroup.UserSelect(index); });
    Result = 0;
    return true;
  }

 protected:
  void OnChanged(TChange What, size_t) override {
    if (What == TChange::Items) RebuildItems();
    if (What == TChange::ItemIndex) ApplyIndex();
  }
  void ApplyBounds() override {
    TWinPeer::ApplyBounds();
    PlaceItems();
  }
  void ApplyVisible() override { ShowWindow(FWnd, WantVisible() ? SW_SHOWNA : SW_HIDE); }

 private:
  void RebuildItems() {
    const auto& items = FGroup.Items();
    while (FExtra.size() > items.size()) DestroyExtra(FExtra.back());
    for (size_t i = 0; i < items.size(); i++) {
      if (i < FExtra.size()) {
        SetWindowTextW(FExtra[i], Wide(items[i]).c_str());
        continue;
      }
      DWORD style = BS_RADIOBUTTON | WS_TABSTOP | WS_VISIBLE | (i == 0 ? WS_GROUP : 0);
      if (!FControl.Enabled()) style |= WS_DISABLED;
      CreateExtra(FWnd, L"BUTTON", Wide(items[i]), style);
    }
    PlaceItems();
    ApplyIndex();
    if (FHasTool) ApplyHint();
  }
  void PlaceItems() {
    if (FExtra.empty()) return;
    RECT r;
    GetClientRect(FWnd, &r);
    TRect in = ClientInsets();
    const int n = static_cast<int>(FExtra.size());
    const int clientH = std::max<int>(0, r.bottom - in.Top - in.Bottom);
    const int rowH = clientH / n;
    const int buttonH = std::min(rowH, FontHeight(GuiFont(FBackend)) + 6);
    const int w = std::max<int>(0, r.right - in.Left - in.Right - 12);
    for (int i = 0; i < n; i++) {
      SetWindowPos(FExtra[i], nullptr, in.Left + 6, in.Top + i * rowH + (rowH - buttonH) / 2, w, buttonH,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  void ApplyIndex() {
    for (size_t i = 0; i < FExtra.size(); i++)
      SendMessageW(FExtra[i], BM_SETCHECK, static_cast<int>(i) == FGroup.ItemIndex() ? BST_CHECKED : BST_UNCHECKED,
                   0);
  }

  TRadioGroup& FGroup;
};

class TComboBoxPeer final : public TWinPeer {
 public:
  TComboBoxPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B), FCombo(static_cast<TComboBox&>(C)) {
    if (!CreateMain(WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP)) return;
    ApplyBounds();
    ApplyItems();
    ApplyHint();
  }
  bool Command(HWND, UINT Code, LRESULT& Result) override {
    if (Code != CBN_SELCHANGE) return false;
    const int index = static_cast<int>(SendMessageW(FWnd, CB_GETCURSEL, 0, 0));
    Guarded([&] { FCombo.UserSelect(index); });
    Result = 0;
    return true;
  }

 protected:
  void ApplyCaption() override {}
  // The window's height is that of the open list; the closed box takes its height from the font.
  void ApplyBounds() override {
    RECT r = PlacedRect();
    SetWindowPos(FWnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top + kListHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  void OnChanged(TChange What, size_t) override {
    if (What == TChange::Items) ApplyItems();
    if (What == TChange::ItemIndex) SendMessageW(FWnd, CB_SETCURSEL, FCombo.ItemIndex(), 0);
  }

 private:
  static constexpr int kListHeight = 240;
  void ApplyItems() {
    SendMessageW(FWnd, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : FCombo.Items())
      SendMessageW(FWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
    SendMessageW(FWnd, CB_SETCURSEL, FCombo.ItemIndex(), 0);
  }
  TComboBox& FCombo;
};

class TProgressBarPeer final : public TWinPeer {
 public:
  TProgressBarPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B), FBar(static_cast<TProgressBar&>(C)) {
    if (!CreateMain(PROGRESS_CLASSW, 0)) return;
    ApplyRange();
    ApplyHint();
  }

 protected:
  void ApplyCaption() override {}
  void OnChanged(TChange What, size_t) override {
    if (What == TChange::Range) ApplyRange();
    if (What == TChange::Value) SendMessageW(FWnd, PBM_SETPOS, FBar.Position(), 0);
  }

 private:
  void ApplyRange() {
    SendMessageW(FWnd, PBM_SETRANGE32, FBar.Min(), FBar.Max());
    SendMessageW(FWnd, PBM_SETPOS, FBar.Position(), 0);
  }
  TProgressBar& FBar;
};

}  // namespace

std::unique_ptr<IControlPeer> MakePanelPeer(TControl& C, TWin32Backend& B) {
  return std::make_unique<TPanelPeer>(C, B);
}
std::unique_ptr<IControlPeer> MakeGroupBoxPeer(TControl& C, TWin32Backend& B) {
  return std::make_unique<TGroupBoxPeer>(C, B);
}
std::unique_ptr<IControlPeer> MakeLabelPeer(TControl& C, TWin32Backend& B) {
  return std::make_unique<TLabelPeer>(C, B);
}
std::unique_ptr<IControlPeer> MakeButtonPeer(TControl& C, TWin32Backend& B) {
  return std::make_unique<TButtonPeer>(C, B);
}
std::unique_ptr<IControlPeer> MakeCheckBoxPeer(TControl& C, TWin32Backend& B) {
  return std::make_unique<TCheckBoxPeer>(C, B);
}
std::unique_ptr<IControlPeer> MakeRadioGroupPeer(TControl& C, TWin32Backend& B) {
  return std::make_unique<TRadioGroupPeer>(C, B);
}
std::unique_ptr<IControlPeer> MakeComboBoxPeer(TControl& C, TWin32Backend& B) {
  return std::make_unique<TComboBoxPeer>(C, B);
}
std::unique_ptr<IControlPeer> MakeProgressBarPeer(TControl& C, TWin32Backend& B) {
  return std::make_unique<TProgressBarPeer>(C, B);
}

}  // namespace tk::win32

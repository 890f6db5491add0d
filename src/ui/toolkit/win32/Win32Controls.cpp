// The simple controls: panel, group box, label, button, check box, radio group, list-only
// combo box, progress bar. Changes made by code use messages that send no notification
// (BM_SETCHECK, CB_SETCURSEL, PBM_SETPOS); the notifications of user actions go to the
// controls' User... methods.
#include "ui/toolkit/win32/Win32Peer.h"

#include <algorithm>

namespace tk::win32 {

namespace {

HFONT GuiFont(TWin32Backend& B) { return static_cast<HFONT>(B.GuiFont()); }

// What a button needs for its caption: the text and Extra pixels (frame, margins, a check box's
// mark), or what BCM_GETIDEALSIZE says its theme needs when that is more. Wine's ideal leaves
// the text 2 pixels from the frame, which reads as touching it.
TSize IdealButtonSize(HWND Wnd, HFONT Font, const std::string& Caption, int Extra) {
  SIZE text = TextSize(Font, Wide(Caption));
  TSize size = {text.cx + Extra, text.cy};
  SIZE ideal = {0, 0};
  if (SendMessageW(Wnd, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)) && ideal.cx > size.Width)
    size = {ideal.cx, ideal.cy};
  return size;
}

// A push button's text keeps 8 pixels to each side of its frame; a check box's or radio
// button's caption starts 6 pixels after its mark.
constexpr int kButtonMargins = 16;
int MarkExtra() { return GetSystemMetrics(SM_CXMENUCHECK) + 6; }

// Insets of a group box's client area: the caption's line on top, the frame on the sides.
TRect GroupInsets(HFONT Font) { return {2, FontHeight(Font) + 2, 2, 2}; }

// A group box's caption starts 8 pixels in and keeps as much to its right end, beside the frame.
constexpr int kGroupCaptionMargins = 20;
int GroupCaptionWidth(HFONT Font, const std::string& Caption) {
  return Caption.empty() ? 0 : TextSize(Font, Wide(Caption)).cx + kGroupCaptionMargins;
}

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
  TSize PreferredSize(int) override {
    return {GroupCaptionWidth(GuiFont(FBackend), FControl.Caption()), FControl.Height()};
  }

 protected:
  // A group box paints its frame and caption over what stood there, not its inside: a shorter
  // caption would leave the end of the longer one, the rounded corners the old paint of the
  // parent, and a box moved by the layout its children's old places. The parent repaints the
  // box's place first.
  void OnChanged(TChange What, size_t) override {
    if (What == TChange::Caption) RepaintInParent(FWnd);
  }
  void ApplyBounds() override {
    TWinPeer::ApplyBounds();
    RepaintInParent(FWnd);
  }
};

class TLabelPeer final : public TWinPeer {
 public:
  TLabelPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B) {
    CreateMain(L"STATIC", SS_LEFT | SS_NOPREFIX);
    ApplyHint();
  }
  TSize PreferredSize(int WrapWidth) override {
    SIZE s = DrawnTextSize(GuiFont(FBackend), Wide(FControl.Caption()), WrapWidth);
    if (WrapWidth > 0) return {s.cx, s.cy};
    const TSize room = Room();
    return {std::max<int>(s.cx, room.Width), std::max<int>(s.cy, room.Height)};
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

 private:
  // The widest of the run-time captions, measured once for each list (they change with the
  // language, the label's caption every second).
  TSize Room() {
    const auto& captions = static_cast<TLabel&>(FControl).RunTimeCaptions();
    if (captions != FRoomFor) {
      FRoomFor = captions;
      FRoom = {};
      for (const std::string& c : captions) {
        const SIZE s = DrawnTextSize(GuiFont(FBackend), Wide(c));
        FRoom = {std::max<int>(FRoom.Width, s.cx), std::max<int>(FRoom.Height, s.cy)};
      }
    }
    return FRoom;
  }
  std::vector<std::string> FRoomFor;
  TSize FRoom;
};

class TButtonPeer final : public TWinPeer {
 public:
  TButtonPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B) {
    CreateMain(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP);
    ApplyHint();
  }
  TSize PreferredSize(int) override {
    return IdealButtonSize(FWnd, GuiFont(FBackend), FControl.Caption(), kButtonMargins);
  }
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
  TSize PreferredSize(int) override { return IdealButtonSize(FWnd, GuiFont(FBackend), FControl.Caption(), MarkExtra()); }
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
  // Its caption, or its widest item with the margins the items are placed with.
  TSize PreferredSize(int) override {
    const TRect in = ClientInsets();
    int widest = 0;
    for (size_t i = 0; i < FExtra.size(); i++)
      widest = std::max(widest, IdealButtonSize(FExtra[i], GuiFont(FBackend), FGroup.Items()[i], MarkExtra()).Width);
    return {std::max(GroupCaptionWidth(GuiFont(FBackend), FControl.Caption()),
                     in.Left + in.Right + 2 * kItemMargin + widest),
            FControl.Height()};
  }
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
    if (What == TChange::Caption) RepaintInParent(FWnd);
  }
  void ApplyBounds() override {
    TWinPeer::ApplyBounds();
    PlaceItems();
    RepaintInParent(FWnd);  // as a group box (above)
  }
  void ApplyVisible() override { ShowOrHide(FWnd, WantVisible()); }  // the items go with it

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
    const int w = std::max<int>(0, r.right - in.Left - in.Right - 2 * kItemMargin);
    for (int i = 0; i < n; i++) {
      SetWindowPos(FExtra[i], nullptr, in.Left + kItemMargin, in.Top + i * rowH + (rowH - buttonH) / 2, w, buttonH,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  void ApplyIndex() {
    for (size_t i = 0; i < FExtra.size(); i++)
      SendMessageW(FExtra[i], BM_SETCHECK, static_cast<int>(i) == FGroup.ItemIndex() ? BST_CHECKED : BST_UNCHECKED,
                   0);
  }

  static constexpr int kItemMargin = 6;
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
    r.bottom += kListHeight;
    MoveTo(FWnd, r);
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

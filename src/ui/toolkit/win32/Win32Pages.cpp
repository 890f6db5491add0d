// The page control (a tab control) and its tab sheets: each sheet is a child container in the
// tab control's display area, shown while its tab is the active one.
#include "ui/toolkit/win32/Win32Peer.h"

namespace tk::win32 {

namespace {

class TPageControlPeer final : public TWinPeer {
 public:
  TPageControlPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B), FPages(static_cast<TPageControl&>(C)) {
    if (!CreateMain(WC_TABCONTROLW, WS_CLIPCHILDREN | WS_TABSTOP, WS_EX_CONTROLPARENT)) return;
    SubclassContainer(FWnd);
    ApplyHint();
  }

  // The display area as TCM_ADJUSTRECT gives it: the tabs on top, the border around.
  TRect ClientInsets() override {
    RECT box;
    GetClientRect(FWnd, &box);
    if (box.right < 100 || box.bottom < 100) box = {0, 0, 1000, 1000};
    RECT display = box;
    // Without a tab there is no tab row yet: a passing one counts it (inserting and deleting a
    // tab sends no notification).
    const bool none = SendMessageW(FWnd, TCM_GETITEMCOUNT, 0, 0) == 0;
    TCITEMW probe = {};
    probe.mask = TCIF_TEXT;
    probe.pszText = const_cast<wchar_t*>(L"X");
    if (none) SendMessageW(FWnd, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&probe));
    SendMessageW(FWnd, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    if (none) SendMessageW(FWnd, TCM_DELETEITEM, 0, 0);
    return {display.left - box.left, display.top - box.top, box.right - display.right,
            box.bottom - display.bottom};
  }

  bool Notify(NMHDR* Hdr, LRESULT& Result) override {
    if (Hdr->code != TCN_SELCHANGE) return false;
    const int index = static_cast<int>(SendMessageW(FWnd, TCM_GETCURSEL, 0, 0));
    Guarded([&] { FPages.UserSelectPage(index); });
    // A handler that refused the page leaves the model elsewhere: the tabs follow the model.
    if (SendMessageW(FWnd, TCM_GETCURSEL, 0, 0) != FPages.ActivePageIndex()) ApplyActive();
    Result = 0;
    return true;
  }

  void InsertTab(int Index, const std::string& Caption) {
    std::wstring text = Wide(Caption);
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    SendMessageW(FWnd, TCM_INSERTITEMW, Index, reinterpret_cast<LPARAM>(&item));
    SendMessageW(FWnd, TCM_SETCURSEL, FPages.ActivePageIndex(), 0);
  }
  void SetTabText(int Index, const std::string& Caption) {
    std::wstring text = Wide(Caption);
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    SendMessageW(FWnd, TCM_SETITEMW, Index, reinterpret_cast<LPARAM>(&item));
    // The tab control repaints only the tabs whose text changed: the end of a longer strip would
    // stay where shorter tabs no longer reach. The whole strip, above the pages, is repainted.
    const TRect in = ClientInsets();
    RECT strip;
    GetClientRect(FWnd, &strip);
    strip.bottom = in.Top;
    RepaintInParent(FWnd, &strip);
  }

 protected:
  void ApplyCaption() override {}
  void OnChanged(TChange What, size_t) override {
    if (What == TChange::ActivePage) ApplyActive();
  }

 private:
  // TCM_SETCURSEL sends no TCN_SELCHANGE; the sheets follow.
  void ApplyActive() {
    SendMessageW(FWnd, TCM_SETCURSEL, FPages.ActivePageIndex(), 0);
    for (int i = 0; i < FPages.PageCount(); i++)
      if (IControlPeer* sheet = FPages.Page(i)->Peer()) sheet->Changed(TChange::Visible, 0);
  }
  TPageControl& FPages;
};

class TTabSheetPeer final : public TWinPeer {
 public:
  TTabSheetPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B), FSheet(static_cast<TTabSheet&>(C)) {
    if (!CreateMain(PanelClass(), 0, WS_EX_CONTROLPARENT)) return;
    if (auto* pages = Pages()) pages->InsertTab(FSheet.PageIndex(), FSheet.Caption());
    ApplyHint();
  }

 protected:
  bool WantVisible() override {
    auto* pages = static_cast<TPageControl*>(FSheet.Parent());
    return FSheet.Visible() && pages && pages->ActivePage() == &FSheet;
  }
  void ApplyCaption() override {
    TWinPeer::ApplyCaption();
    if (auto* pages = Pages()) pages->SetTabText(FSheet.PageIndex(), FSheet.Caption());
  }

 private:
  TPageControlPeer* Pages() {
    return FSheet.Parent() ? dynamic_cast<TPageControlPeer*>(FSheet.Parent()->Peer()) : nullptr;
  }
  TTabSheet& FSheet;
};

}  // namespace

std::unique_ptr<IControlPeer> MakePageControlPeer(TControl& C, TWin32Backend& B) {
  return std::make_unique<TPageControlPeer>(C, B);
}
std::unique_ptr<IControlPeer> MakeTabSheetPeer(TControl& C, TWin32Backend& B) {
  return std::make_unique<TTabSheetPeer>(C, B);
}

}  // namespace tk::win32

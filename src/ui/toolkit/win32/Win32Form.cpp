// A form: a top-level window of our own class, with its minimum size, centring on its owner,
// the user's resizing and closing, and the tooltip window its controls' hints go to.
#include "ui/toolkit/win32/Win32Peer.h"

namespace tk::win32 {

namespace {

const wchar_t kFormClass[] = L"VtTkForm";
LRESULT CALLBACK FormProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);

const wchar_t* FormClass() {
  static const bool registered = [] {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &FormProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kFormClass;
    return RegisterClassExW(&wc) != 0;
  }();
  (void)registered;
  return kFormClass;
}

constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW;
constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT;

// The work area of the monitor a window is on.
RECT WorkArea(HWND Near) {
  MONITORINFO mi = {};
  mi.cbSize = sizeof(mi);
  if (GetMonitorInfoW(MonitorFromWindow(Near, MONITOR_DEFAULTTOPRIMARY), &mi)) return mi.rcWork;
  RECT r = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  return r;
}

class TFormPeer final : public TWinPeer {
 public:
  TFormPeer(TForm& Form, TWin32Backend& Backend) : TWinPeer(Form, Backend), FForm(Form) {
    const TBounds& b = Form.Bounds();
    HWND owner = Form.Owner() ? static_cast<HWND>(Form.Owner()->Handle()) : nullptr;
    const bool placed = b.Left != 0 || b.Top != 0;
    FWnd = CreateWindowExW(kFormExStyle, FormClass(), Wide(Form.Caption()).c_str(), kFormStyle,
                           placed ? b.Left : CW_USEDEFAULT, placed ? b.Top : CW_USEDEFAULT,
                           b.Width > 0 ? b.Width : CW_USEDEFAULT, b.Height > 0 ? b.Height : CW_USEDEFAULT, owner,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!FWnd) return;
    Adopt(FWnd);
    SetPropW(FWnd, KeyboardNavigationProp(), FWnd);
  }
  ~TFormPeer() override {
    if (FTip && IsWindow(FTip)) DestroyWindow(FTip);
  }

  // The frame: the window's box less its client area, on each side.
  TRect ClientInsets() override {
    RECT wr, cr;
    if (!FWnd || !GetWindowRect(FWnd, &wr) || !GetClientRect(FWnd, &cr)) {
      RECT r = {0, 0, 0, 0};
      AdjustWindowRectEx(&r, kFormStyle, FALSE, kFormExStyle);
      return {-r.left, -r.top, r.right, r.bottom};
    }
    POINT origin = {0, 0};
    ClientToScreen(FWnd, &origin);
    return {origin.x - wr.left, origin.y - wr.top, wr.right - (origin.x + cr.right),
            wr.bottom - (origin.y + cr.bottom)};
  }
  POINT ChildOrigin() override { return {0, 0}; }

  HWND Tooltip() {
    if (!FTip && FWnd) {
      FTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, FWnd, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
      // Long hints wrap instead of running across the screen.
      if (FTip) SendMessageW(FTip, TTM_SETMAXTIPWIDTH, 0, 420);
    }
    return FTip;
  }

  LRESULT Proc(UINT Msg, WPARAM WParam, LPARAM LParam) {
    switch (Msg) {
      case WM_SIZE:
        if (!FSizing && WParam != SIZE_MINIMIZED) {
          FUserSizing = true;
          Guarded([&] { FForm.UserResized({LOWORD(LParam), HIWORD(LParam)}); });
          FUserSizing = false;
        }
        return 0;
      case WM_GETMINMAXINFO: {
        TSize min = FForm.MinClientSize();
        if (min.Width > 0 || min.Height > 0) {
          TRect f = ClientInsets();
          auto* mmi = reinterpret_cast<MINMAXINFO*>(LParam);
          mmi->ptMinTrackSize.x = std::max<LONG>(mmi->ptMinTrackSize.x, min.Width + f.Left + f.Right);
          mmi->ptMinTrackSize.y = std::max<LONG>(mmi->ptMinTrackSize.y, min.Height + f.Top + f.Bottom);
        }
        return 0;
      }
      case WM_CLOSE: Guarded([&] { FForm.UserClose(); }); return 0;
      case WM_ACTIVATE:
        if (LOWORD(WParam) == WA_INACTIVE) {
          HWND focus = GetFocus();
          if (focus && IsChild(FWnd, focus)) FFocus = focus;
          return 0;
        }
        if (FFocus && IsWindow(FFocus) && IsChild(FWnd, FFocus) && IsWindowEnabled(FFocus)) {
          SetFocus(FFocus);
          return 0;
        }
        if (HWND first = GetNextDlgTabItem(FWnd, nullptr, FALSE)) {
          SetFocus(first);
          return 0;
        }
        break;
      default: break;
    }
    return DefWindowProcW(FWnd, Msg, WParam, LParam);
  }

 protected:
  void ApplyBounds() override {
    if (FUserSizing) return;
    RECT wr;
    GetWindowRect(FWnd, &wr);
    if (wr.right - wr.left == FForm.Width() && wr.bottom - wr.top == FForm.Height()) return;
    FSizing = true;
    SetWindowPos(FWnd, nullptr, 0, 0, FForm.Width(), FForm.Height(), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    FSizing = false;
  }
  void OnChanged(TChange What, size_t) override {
    if (What == TChange::ClientSize) ApplyBounds();
  }
  void ApplyVisible() override {
    if (!FForm.Visible()) {
      // A modal window gives the activation back to its owner: enabled before the hide.
      if (FForm.IsModal() && FForm.Owner()) EnableWindow(static_cast<HWND>(FForm.Owner()->Handle()), TRUE);
      ShowWindow(FWnd, SW_HIDE);
      return;
    }
    if (IsWindowVisible(FWnd)) return;
    Place();
    ShowWindow(FWnd, SW_SHOW);
    UpdateWindow(FWnd);
  }

 private:
  void Place() {
    RECT wr;
    GetWindowRect(FWnd, &wr);
    const int w = wr.right - wr.left, h = wr.bottom - wr.top;
    RECT around;
    HWND owner = FForm.Owner() ? static_cast<HWND>(FForm.Owner()->Handle()) : nullptr;
    RECT work = WorkArea(owner ? owner : FWnd);
    switch (FForm.Position()) {
      case TFormPosition::poOwnerFormCenter:
        if (!owner || !IsWindowVisible(owner) || !GetWindowRect(owner, &around)) around = work;
        break;
      case TFormPosition::poScreenCenter: around = work; break;
      default: return;
    }
    int x = around.left + (around.right - around.left - w) / 2;
    int y = around.top + (around.bottom - around.top - h) / 2;
    x = std::max<int>(work.left, std::min<int>(x, work.right - w));
    y = std::max<int>(work.top, std::min<int>(y, work.bottom - h));
    SetWindowPos(FWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  TForm& FForm;
  HWND FTip = nullptr;
  HWND FFocus = nullptr;
  bool FSizing = false;      // our own resize: the model knows the size already
  bool FUserSizing = false;  // the model is taking the user's size
};

LRESULT CALLBACK FormProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  auto* peer = dynamic_cast<TFormPeer*>(PeerOf(Wnd));
  if (!peer) return DefWindowProcW(Wnd, Msg, WParam, LParam);
  LRESULT result = 0;
  if (RouteToSender(Msg, WParam, LParam, result)) return result;
  return peer->Proc(Msg, WParam, LParam);
}

}  // namespace

HWND FormTooltip(TForm& Form) {
  auto* peer = dynamic_cast<TFormPeer*>(Form.Peer());
  return peer ? peer->Tooltip() : nullptr;
}

std::unique_ptr<IControlPeer> MakeFormPeer(TForm& Form, TWin32Backend& B) {
  return std::make_unique<TFormPeer>(Form, B);
}

}  // namespace tk::win32

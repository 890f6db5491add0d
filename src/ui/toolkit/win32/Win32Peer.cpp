// The base of every control's peer, and the routing of notifications to the control that sent
// them.
#include "ui/toolkit/win32/Win32Peer.h"

#include <algorithm>
#include <cstdint>

#include "ui/toolkit/uTkForm.h"

namespace tk::win32 {

namespace {

const wchar_t kPeerProp[] = L"VtTkPeer";
const wchar_t kPanelClass[] = L"VtTkPanel";

// Child window ids: above IDOK, IDCANCEL and the other dialog ids, which IsDialogMessage sends
// with no window.
int NextChildId() {
  static int next = 1000;
  return next++;
}

LRESULT CALLBACK PanelProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  LRESULT result = 0;
  if (RouteToSender(Msg, WParam, LParam, result)) return result;
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

LRESULT CALLBACK ContainerSubclassProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR Id,
                                       DWORD_PTR /*Data*/) {
  if (Msg == WM_NCDESTROY) RemoveWindowSubclass(Wnd, &ContainerSubclassProc, Id);
  LRESULT result = 0;
  if (RouteToSender(Msg, WParam, LParam, result)) return result;
  return DefSubclassProc(Wnd, Msg, WParam, LParam);
}

bool IsGroupBox(HWND Wnd) {
  wchar_t name[16] = {};
  return (GetWindowLongPtrW(Wnd, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX && GetClassNameW(Wnd, name, 16) > 0 &&
         _wcsicmp(name, L"Button") == 0;
}

// The nearest of Wnd's ancestors that paints its whole inside: a group box paints its frame and
// caption only, so what shows inside one is painted by what lies behind it.
HWND PaintingAncestor(HWND Wnd) {
  HWND a = GetParent(Wnd);
  while (a && IsGroupBox(a)) a = GetParent(a);
  return a;
}

// The place a child of a group box left (moved away or hidden; Old in screen coordinates) is
// painted by what lies behind the box. Only what the child no longer covers: a combo box
// repainted under its own picture draws its arrow anew in parts, and the parts are not the
// arrow drawn whole.
void RepaintLeftPlace(HWND Wnd, const RECT& Old) {
  HWND box = GetParent(Wnd);
  HWND behind = box && IsGroupBox(box) ? PaintingAncestor(box) : nullptr;
  if (!behind) return;
  HRGN left = CreateRectRgnIndirect(&Old);
  if (GetWindowLongPtrW(Wnd, GWL_STYLE) & WS_VISIBLE) {
    RECT now;
    GetWindowRect(Wnd, &now);
    HRGN covered = CreateRectRgnIndirect(&now);
    CombineRgn(left, left, covered, RGN_DIFF);
    DeleteObject(covered);
  }
  POINT origin = {0, 0};
  MapWindowPoints(behind, HWND_DESKTOP, &origin, 1);
  OffsetRgn(left, -origin.x, -origin.y);
  RedrawWindow(behind, nullptr, left, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  DeleteObject(left);
}

}  // namespace

const wchar_t* KeyboardNavigationProp() { return L"VtTkKeyboardNavigation"; }

TWinPeer* PeerOf(HWND Wnd) { return Wnd ? static_cast<TWinPeer*>(GetPropW(Wnd, kPeerProp)) : nullptr; }

bool RouteToSender(UINT Msg, WPARAM WParam, LPARAM LParam, LRESULT& Result) {
  switch (Msg) {
    case WM_COMMAND: {
      auto from = reinterpret_cast<HWND>(LParam);
      TWinPeer* peer = PeerOf(from);
      return peer && peer->Command(from, HIWORD(WParam), Result);
    }
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(LParam);
      TWinPeer* peer = hdr ? PeerOf(hdr->hwndFrom) : nullptr;
      return peer && peer->Notify(hdr, Result);
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX: {
      auto from = reinterpret_cast<HWND>(LParam);
      TWinPeer* peer = PeerOf(from);
      HBRUSH brush = peer ? peer->CtlColor(from, Msg, reinterpret_cast<HDC>(WParam)) : nullptr;
      if (!brush) return false;
      Result = reinterpret_cast<LRESULT>(brush);
      return true;
    }
    default: return false;
  }
}

void SubclassContainer(HWND Wnd) { SetWindowSubclass(Wnd, &ContainerSubclassProc, 1, 0); }

const wchar_t* PanelClass() {
  static const bool registered = [] {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &PanelProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kPanelClass;
    return RegisterClassExW(&wc) != 0;
  }();
  (void)registered;
  return kPanelClass;
}

SIZE TextSize(HFONT Font, const std::wstring& Text, int WrapWidth) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, Font);
  SIZE size = {0, 0};
  if (Text.empty()) {
    TEXTMETRICW tm = {};
    GetTextMetricsW(dc, &tm);
    size.cy = tm.tmHeight;
  } else {
    RECT r = {0, 0, WrapWidth, 0};
    DrawTextW(dc, Text.c_str(), static_cast<int>(Text.size()), &r,
              DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | (WrapWidth > 0 ? DT_WORDBREAK : 0));
    size = {r.right - r.left, r.bottom - r.top};
  }
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return size;
}

int FontHeight(HFONT Font) { return TextSize(Font, L"").cy; }

SIZE DrawnTextSize(HFONT Font, const std::wstring& Text, int WrapWidth) {
  SIZE size = TextSize(Font, Text, WrapWidth);
  if (Text.empty() || size.cx <= 0 || size.cy <= 0) return size;
  // Drawn on a white bitmap with room to spare, unclipped, as the text's control draws it.
  const int room = std::max<int>(WrapWidth, size.cx);
  const int width = room + 4 * FontHeight(Font);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -size.cy;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bmp && bits) {
    HGDIOBJ oldBmp = SelectObject(mem, bmp);
    HGDIOBJ oldFont = SelectObject(mem, Font);
    RECT all = {0, 0, width, size.cy};
    FillRect(mem, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(mem, RGB(0, 0, 0));
    SetBkMode(mem, TRANSPARENT);
    RECT r = {0, 0, room, size.cy};
    DrawTextW(mem, Text.c_str(), static_cast<int>(Text.size()), &r,
              DT_NOPREFIX | DT_EXPANDTABS | DT_NOCLIP | (WrapWidth > 0 ? DT_WORDBREAK : 0));
    GdiFlush();
    const auto* px = static_cast<const uint32_t*>(bits);
    int end = 0;
    for (int y = 0; y < size.cy; y++)
      for (int x = width - 1; x >= end; x--)
        if ((px[static_cast<size_t>(y) * width + x] & 0xFFFFFF) != 0xFFFFFF) {
          end = x + 1;
          break;
        }
    size.cx = std::max<LONG>(size.cx, end);
    SelectObject(mem, oldFont);
    SelectObject(mem, oldBmp);
    DeleteObject(bmp);
  }
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return size;
}

void RepaintInParent(HWND Wnd, const RECT* Part) {
  RECT r;
  if (Part) {
    r = *Part;
  } else {
    GetClientRect(Wnd, &r);
  }
  HWND behind = PaintingAncestor(Wnd);
  if (!behind) {
    RedrawWindow(Wnd, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    return;
  }
  MapWindowPoints(Wnd, behind, reinterpret_cast<POINT*>(&r), 2);
  RedrawWindow(behind, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

TWinPeer::TWinPeer(TControl& Control, TWin32Backend& Backend) : FControl(Control), FBackend(Backend) {}

TWinPeer::~TWinPeer() {
  if (FHasTool && IsWindow(FTooltip)) {
    for (HWND w : HintWindows()) {
      TOOLINFOW ti = {};
      ti.cbSize = sizeof(ti);
      ti.hwnd = GetParent(FTooltip);
      ti.uId = reinterpret_cast<UINT_PTR>(w);
      SendMessageW(FTooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }
  }
  for (auto it = FExtra.rbegin(); it != FExtra.rend(); ++it) {
    if (!IsWindow(*it)) continue;
    RemovePropW(*it, kPeerProp);
    DestroyWindow(*it);
  }
  if (FWnd && IsWindow(FWnd)) {
    RemovePropW(FWnd, kPeerProp);
    DestroyWindow(FWnd);
  }
}

void TWinPeer::Changed(TChange What, size_t Arg) {
  if (!FWnd) return;
  switch (What) {
    case TChange::Bounds: ApplyBounds(); break;
    case TChange::Visible: ApplyVisible(); break;
    case TChange::Enabled: ApplyEnabled(); break;
    case TChange::Caption: ApplyCaption(); break;
    case TChange::Hint: ApplyHint(); break;
    case TChange::ZOrder: SetWindowPos(FWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE); break;
    default: break;
  }
  OnChanged(What, Arg);
}

TSize TWinPeer::PreferredSize(int) { return {FControl.Width(), FControl.Height()}; }

POINT TWinPeer::ChildOrigin() {
  TRect in = ClientInsets();
  return {in.Left, in.Top};
}

RECT TWinPeer::PlacedRect() {
  POINT origin = {0, 0};
  if (auto* parent = FControl.Parent() ? dynamic_cast<TWinPeer*>(FControl.Parent()->Peer()) : nullptr)
    origin = parent->ChildOrigin();
  const TBounds& b = FControl.Bounds();
  return {origin.x + b.Left, origin.y + b.Top, origin.x + b.Right(), origin.y + b.Bottom()};
}

void TWinPeer::Adopt(HWND Wnd) {
  SetPropW(Wnd, kPeerProp, this);
  SendMessageW(Wnd, WM_SETFONT, reinterpret_cast<WPARAM>(FBackend.GuiFont()), FALSE);
}

HWND TWinPeer::CreateMain(const wchar_t* Class, DWORD Style, DWORD ExStyle) {
  auto* parent = FControl.Parent() ? dynamic_cast<TWinPeer*>(FControl.Parent()->Peer()) : nullptr;
  if (!parent) return nullptr;
  RECT r = PlacedRect();
  Style |= WS_CHILD | WS_CLIPSIBLINGS;
  if (WantVisible()) Style |= WS_VISIBLE;
  if (!FControl.Enabled()) Style |= WS_DISABLED;
  FWnd = CreateWindowExW(ExStyle, Class, Wide(FControl.Caption()).c_str(), Style, r.left, r.top, r.right - r.left,
                         r.bottom - r.top, parent->ChildParent(), reinterpret_cast<HMENU>(INT_PTR(NextChildId())),
                         GetModuleHandleW(nullptr), nullptr);
  if (FWnd) Adopt(FWnd);
  return FWnd;
}

HWND TWinPeer::CreateExtra(HWND Parent, const wchar_t* Class, const std::wstring& Text, DWORD Style,
                           DWORD ExStyle) {
  HWND w = CreateWindowExW(ExStyle, Class, Text.c_str(), Style | WS_CHILD | WS_CLIPSIBLINGS, 0, 0, 0, 0, Parent,
                           reinterpret_cast<HMENU>(INT_PTR(NextChildId())), GetModuleHandleW(nullptr), nullptr);
  if (w) {
    Adopt(w);
    FExtra.push_back(w);
  }
  return w;
}

void TWinPeer::DestroyExtra(HWND Wnd) {
  std::erase(FExtra, Wnd);
  if (FHasTool && IsWindow(FTooltip)) {
    TOOLINFOW ti = {};
    ti.cbSize = sizeof(ti);
    ti.hwnd = GetParent(FTooltip);
    ti.uId = reinterpret_cast<UINT_PTR>(Wnd);
    SendMessageW(FTooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
  RemovePropW(Wnd, kPeerProp);
  DestroyWindow(Wnd);
}

void TWinPeer::ApplyBounds() { MoveTo(FWnd, PlacedRect()); }

void TWinPeer::MoveTo(HWND Wnd, const RECT& R) {
  RECT old;
  GetWindowRect(Wnd, &old);
  // Drawn anew at its new place, not copied there: a caption changed just before the move
  // (a language applied) was painted at the old size, and the copy kept that half-painted picture.
  SetWindowPos(Wnd, nullptr, R.left, R.top, R.right - R.left, R.bottom - R.top,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
  RepaintLeftPlace(Wnd, old);
}

void TWinPeer::ApplyVisible() {
  const bool visible = WantVisible();
  ShowOrHide(FWnd, visible);
  for (HWND w : FExtra) ShowOrHide(w, visible);
}

void TWinPeer::ShowOrHide(HWND Wnd, bool Visible) {
  const bool was = (GetWindowLongPtrW(Wnd, GWL_STYLE) & WS_VISIBLE) != 0;
  RECT old;
  GetWindowRect(Wnd, &old);
  ShowWindow(Wnd, Visible ? SW_SHOWNA : SW_HIDE);
  if (was && !Visible) RepaintLeftPlace(Wnd, old);
}

void TWinPeer::ApplyEnabled() {
  EnableWindow(FWnd, FControl.Enabled());
  for (HWND w : FExtra) EnableWindow(w, FControl.Enabled());
}

void TWinPeer::ApplyCaption() { SetWindowTextW(FWnd, Wide(FControl.Caption()).c_str()); }

std::vector<HWND> TWinPeer::HintWindows() {
  std::vector<HWND> all{FWnd};
  all.insert(all.end(), FExtra.begin(), FExtra.end());
  return all;
}

void TWinPeer::ApplyHint() {
  TForm* form = FControl.OwnerForm();
  if (!form || form == &FControl) return;
  std::wstring text = Wide(TControl::ShortHint(FControl.Hint()));
  if (!FTooltip) FTooltip = FormTooltip(*form);
  if (!FTooltip) return;
  for (HWND w : HintWindows()) {
    TOOLINFOW ti = {};
    ti.cbSize = sizeof(ti);
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = GetParent(FTooltip);
    ti.uId = reinterpret_cast<UINT_PTR>(w);
    if (text.empty()) {
      SendMessageW(FTooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    } else if (!SendMessageW(FTooltip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti))) {  // no text copied
      ti.lpszText = text.data();
      SendMessageW(FTooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    } else {
      ti.lpszText = text.data();
      SendMessageW(FTooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
    }
  }
  FHasTool = !text.empty();
}

}  // namespace tk::win32

// Win32Peer.h first: the toolkit's headers go before <windows.h>.
#include "ui/toolkit/win32/Win32Peer.h"

#include "ui/toolkit/win32/Win32LayoutCheck.h"
#include "ui/toolkit/win32/Win32PaintCheck.h"

#include <algorithm>
#include <cstdint>
#include <vector>
#include <sstream>

namespace tk::win32::testing {

namespace {

std::string ClassName(HWND W) {
  wchar_t name[64] = {};
  const int n = GetClassNameW(W, name, 64);
  return Narrow(name, n > 0 ? static_cast<size_t>(n) : 0);
}

bool IsClass(HWND W, const char* Class) { return _stricmp(ClassName(W).c_str(), Class) == 0; }

std::string NameOf(HWND W) {
  const std::string text = WindowText(W);
  if (TWinPeer* peer = PeerOf(W)) {
    if (peer->Wnd() == W) return peer->Control().Name();
    return peer->Control().Name() + "/" + ClassName(W) + " \"" + text + "\"";
  }
  return ClassName(W) + " \"" + text + "\"";
}

// The text's extent in the window's own font: on one line, or wrapped at WrapWidth when given.
SIZE Extent(HWND W, const std::wstring& Text, UINT Flags, int WrapWidth = 0) {
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(W, WM_GETFONT, 0, 0));
  if (!font) font = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
  HDC dc = GetDC(W);
  HGDIOBJ old = SelectObject(dc, font);
  RECT r = {0, 0, WrapWidth, 0};
  DrawTextW(dc, Text.c_str(), static_cast<int>(Text.size()), &r,
            DT_CALCRECT | Flags | (WrapWidth > 0 ? DT_WORDBREAK : DT_SINGLELINE));
  SelectObject(dc, old);
  ReleaseDC(W, dc);
  return {r.right - r.left, r.bottom - r.top};
}

// One past the rightmost column the text's ink reaches when drawn as a static control draws it,
// in a rect Width wide (wrapped there when Flags say so), unclipped: the extents the system
// reports can end a pixel short of it. 0 for no ink.
int InkEnd(HWND W, const std::wstring& Text, UINT Flags, int Width, int Height) {
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(W, WM_GETFONT, 0, 0));
  if (!font) font = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
  const int room = Width + 64;
  const std::vector<uint32_t> px = DrawnText(font, Text, Flags, {0, 0, Width, Height}, room, Height);
  int end = 0;
  for (size_t i = 0; i < px.size(); i++)
    if (px[i] != 0xFFFFFF) end = std::max(end, static_cast<int>(i % room) + 1);
  return end;
}

std::wstring WideText(HWND W) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(W)) + 1, L'\0');
  text.resize(static_cast<size_t>(std::max(0, GetWindowTextW(W, text.data(), static_cast<int>(text.size())))));
  return text;
}

class TJudge {
 public:
  TJudge(const TCaptionRoom& Room, std::vector<std::string>& Faults) : FRoom(Room), FFaults(Faults) {}

  void Window(HWND W) {
    Caption(W);
    if (IsClass(W, WC_LISTVIEWA)) Header(W);
    Children(W);
  }

 private:
  template <class... T>
  void Fault(const T&... Parts) {
    std::ostringstream s;
    (s << ... << Parts);
    FFaults.push_back(s.str());
  }

  void NeedWidth(HWND W, const std::wstring& Text, int Need, int Has) {
    if (Need > Has) Fault(NameOf(W), ": caption \"", Narrow(Text), "\" needs ", Need, " px, has ", Has);
  }

  void Caption(HWND W) {
    const std::wstring text = WideText(W);
    if (text.empty()) return;
    RECT c;
    GetClientRect(W, &c);
    const LONG_PTR style = GetWindowLongPtrW(W, GWL_STYLE);
    if (IsClass(W, "Button")) {
      const SIZE t = Extent(W, text, 0);
      switch (style & BS_TYPEMASK) {
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON: NeedWidth(W, text, t.cx + 2 * FRoom.ButtonMargin, c.right); break;
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE:
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
          NeedWidth(W, text, GetSystemMetrics(SM_CXMENUCHECK) + FRoom.MarkGap + t.cx, c.right);
          break;
        case BS_GROUPBOX: NeedWidth(W, text, t.cx + 2 * FRoom.GroupMargin, c.right); break;
        default: break;
      }
      if (t.cy > c.bottom) Fault(NameOf(W), ": caption \"", Narrow(text), "\" is ", t.cy, " px high, has ", c.bottom);
    } else if (IsClass(W, "Static")) {
      const UINT prefix = (style & SS_NOPREFIX) ? DT_NOPREFIX : 0;
      const bool wraps = (style & SS_TYPEMASK) == SS_LEFT || (style & SS_TYPEMASK) == SS_CENTER ||
                         (style & SS_TYPEMASK) == SS_RIGHT;
      const SIZE t = Extent(W, text, prefix | DT_EXPANDTABS, wraps ? std::max<int>(1, c.right) : 0);
      NeedWidth(W, text, t.cx, c.right);
      // Drawn, the text may reach further than its extent says: its last glyph is cut there.
      const int ink = InkEnd(W, text, prefix | DT_EXPANDTABS | (wraps ? DT_WORDBREAK : DT_SINGLELINE),
                             std::max<int>(1, c.right), std::max<int>(t.cy, c.bottom));
      if (ink > c.right && t.cx <= c.right)
        Fault(NameOf(W), ": caption \"", Narrow(text), "\" is drawn ", ink, " px wide, has ", c.right);
      if (t.cy > c.bottom)
        Fault(NameOf(W), ": caption \"", Narrow(text), "\" needs ", t.cy, " px of height, has ", c.bottom);
    }
  }

  void Header(HWND List) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(List, LVM_GETHEADER, 0, 0));
    if (!header || !IsWindowVisible(header)) return;
    const int n = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; i++) {
      wchar_t buf[256] = {};
      HDITEMW item = {};
      item.mask = HDI_TEXT;
      item.pszText = buf;
      item.cchTextMax = 256;
      SendMessageW(header, HDM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
      RECT r = {};
      SendMessageW(header, HDM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r));
      const std::wstring text = buf;
      const int need = Extent(header, text, DT_NOPREFIX).cx + 2 * FRoom.HeaderMargin;
      if (need > r.right - r.left)
        Fault(NameOf(List), ": column ", i, " title \"", Narrow(text), "\" needs ", need, " px, has ",
              r.right - r.left);
    }
  }

  // The area the children of W may use, in screen coordinates: its client area, and inside a
  // group box's frame, below its caption.
  RECT Room(HWND W) {
    RECT r;
    GetClientRect(W, &r);
    MapWindowPoints(W, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
    if (IsClass(W, "Button") && (GetWindowLongPtrW(W, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX) {
      const SIZE line = Extent(W, L"Xg", 0);
      r.left += 2;
      r.right -= 2;
      r.bottom -= 2;
      r.top += line.cy;
    }
    return r;
  }

  void Children(HWND Parent) {
    std::vector<HWND> kids;
    for (HWND c = GetWindow(Parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
      if (IsWindowVisible(c)) kids.push_back(c);
    const RECT room = Room(Parent);
    std::vector<RECT> boxes;
    for (HWND c : kids) {
      RECT r;
      GetWindowRect(c, &r);
      boxes.push_back(r);
      if (r.right <= r.left || r.bottom <= r.top) continue;
      if (r.left < room.left || r.top < room.top || r.right > room.right || r.bottom > room.bottom)
        Fault(NameOf(c), ": reaches outside ", NameOf(Parent), " by ", std::max<LONG>(0, room.left - r.left), "/",
              std::max<LONG>(0, room.top - r.top), "/", std::max<LONG>(0, r.right - room.right), "/",
              std::max<LONG>(0, r.bottom - room.bottom), " px (left/top/right/bottom)");
    }
    for (size_t i = 0; i < kids.size(); i++) {
      for (size_t j = i + 1; j < kids.size(); j++) {
        TWinPeer* a = PeerOf(kids[i]);
        if (a && a == PeerOf(kids[j])) continue;  // one control's windows (an edit and its arrows)
        RECT both;
        if (IntersectRect(&both, &boxes[i], &boxes[j]))
          Fault(NameOf(kids[i]), " and ", NameOf(kids[j]), " overlap by ", both.right - both.left, " x ",
                both.bottom - both.top, " px");
      }
    }
    for (HWND c : kids) Window(c);
  }

  const TCaptionRoom& FRoom;
  std::vector<std::string>& FFaults;
};

}  // namespace

std::vector<std::string> LayoutFaults(HWND Top, const TCaptionRoom& Room) {
  std::vector<std::string> faults;
  TJudge(Room, faults).Window(Top);
  return faults;
}

}  // namespace tk::win32::testing

// Win32Peer.h first: the toolkit's headers go before <windows.h>.
#include "ui/toolkit/win32/Win32Peer.h"

#include "ui/toolkit/win32/Win32PaintCheck.h"

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <vector>

namespace tk::win32::testing {

namespace {

// The window's client area as its own surface holds it (other windows on the display do not
// count: the tests of other processes share it).
std::vector<uint32_t> Picture(HWND W, SIZE& Size) {
  RECT r;
  GetClientRect(W, &r);
  Size = {r.right, r.bottom};
  HDC dc = GetDC(W);
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP bmp = CreateCompatibleBitmap(dc, Size.cx, Size.cy);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, Size.cx, Size.cy, dc, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = Size.cx;
  info.bmiHeader.biHeight = -Size.cy;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> pixels(static_cast<size_t>(Size.cx) * Size.cy);
  GetDIBits(mem, bmp, 0, Size.cy, pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(W, dc);
  return pixels;
}

}  // namespace

std::string PixelsLeftFromBefore(HWND W) {
  // What is still due to be painted is painted (on a busy machine the loop may not have got there
  // yet); what nobody asked to repaint stays as it is.
  SetFocus(nullptr);
  RedrawWindow(W, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  // Should the activation come back meanwhile, the control it focuses is left out.
  std::vector<RECT> focused;
  auto noteFocus = [&] {
    HWND f = GetFocus();
    if (!f || !IsChild(W, f)) return;
    RECT r;
    GetWindowRect(f, &r);
    MapWindowPoints(HWND_DESKTOP, W, reinterpret_cast<POINT*>(&r), 2);
    focused.push_back(r);
  };
  SIZE size;
  const auto now = Picture(W, size);
  noteFocus();
  RedrawWindow(W, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  SIZE again;
  const auto anew = Picture(W, again);
  noteFocus();
  if (size.cx != again.cx || size.cy != again.cy) return "the window changed its size while it was painted";
  RECT box = {size.cx, size.cy, -1, -1};
  int differ = 0;
  for (int y = 0; y < size.cy; y++)
    for (int x = 0; x < size.cx; x++) {
      if (now[static_cast<size_t>(y) * size.cx + x] == anew[static_cast<size_t>(y) * size.cx + x]) continue;
      const POINT p = {x, y};
      if (std::any_of(focused.begin(), focused.end(), [&](const RECT& r) { return PtInRect(&r, p); })) continue;
      ++differ;
      box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y), std::max<LONG>(box.right, x),
             std::max<LONG>(box.bottom, y)};
    }
  if (differ == 0) return {};
  std::ostringstream s;
  s << differ << " pixels left from before, within " << box.left << "," << box.top << " .. " << box.right << ","
    << box.bottom;
  return s.str();
}

std::vector<uint32_t> DrawnText(HFONT Font, const std::wstring& Text, UINT Flags, RECT Rect, int Width, int Height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = Width;
  info.bmiHeader.biHeight = -Height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  std::vector<uint32_t> pixels;
  if (bmp && bits) {
    HGDIOBJ oldBmp = SelectObject(dc, bmp);
    HGDIOBJ oldFont = SelectObject(dc, Font);
    RECT all = {0, 0, Width, Height};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, Text.c_str(), static_cast<int>(Text.size()), &Rect, Flags | DT_NOCLIP);
    GdiFlush();
    const auto* p = static_cast<const uint32_t*>(bits);
    for (size_t i = 0; i < static_cast<size_t>(Width) * Height; i++) pixels.push_back(p[i] & 0xFFFFFF);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBmp);
  }
  if (bmp) DeleteObject(bmp);
  DeleteDC(dc);
  return pixels;
}

}  // namespace tk::win32::testing

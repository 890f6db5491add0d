// The paint box: a window of our own class that the program paints through a canvas, drawn
// with GDI into a memory bitmap first (no flicker), and the canvas surface over a device context.
#include "ui/toolkit/win32/Win32Peer.h"

#include <map>
#include <tuple>

#include "ui/toolkit/uTkCanvas.h"

namespace tk::win32 {

namespace {

const wchar_t kPaintBoxClass[] = L"VtTkPaintBox";

// Draws on a device context; pens and fonts are made as asked and freed with the surface.
class TGdiSurface final : public ICanvasSurface {
 public:
  explicit TGdiSurface(HDC Dc) : FDc(Dc) {
    SetBkMode(FDc, TRANSPARENT);
    FOldFont = SelectObject(FDc, GetStockObject(DEFAULT_GUI_FONT));
    FOldPen = SelectObject(FDc, GetStockObject(BLACK_PEN));
  }
  ~TGdiSurface() override {
    SelectObject(FDc, FOldFont);
    SelectObject(FDc, FOldPen);
    for (auto& [info, font] : FFonts) DeleteObject(font);
    for (auto& [key, pen] : FPens) DeleteObject(pen);
  }

  void FillRect(const TRect& R, TColor Color) override {
    RECT r = {R.Left, R.Top, R.Right, R.Bottom};
    HBRUSH brush = CreateSolidBrush(Color);
    ::FillRect(FDc, &r, brush);
    DeleteObject(brush);
  }
  void Line(TPoint From, TPoint To, const TPenInfo& Pen) override {
    SelectObject(FDc, PenFor(Pen));
    MoveToEx(FDc, From.X, From.Y, nullptr);
    LineTo(FDc, To.X, To.Y);
  }
  void TextOut(TPoint At, const std::string& Text, const TFontInfo& Font) override {
    std::wstring w = Wide(Text);
    SelectObject(FDc, FontFor(Font));
    SetTextColor(FDc, Font.Color);
    TextOutW(FDc, At.X, At.Y, w.c_str(), static_cast<int>(w.size()));
  }
  TSize TextExtent(const std::string& Text, const TFontInfo& Font) override {
    std::wstring w = Wide(Text);
    SelectObject(FDc, FontFor(Font));
    SIZE s = {0, 0};
    GetTextExtentPoint32W(FDc, w.c_str(), static_cast<int>(w.size()), &s);
    return {s.cx, s.cy};
  }

 private:
  HPEN PenFor(const TPenInfo& Pen) {
    auto key = std::make_tuple(Pen.Color, static_cast<int>(Pen.Style), Pen.Width);
    auto it = FPens.find(key);
    if (it != FPens.end()) return it->second;
    const DWORD style = Pen.Style == TPenStyle::psDot    ? PS_DOT
                        : Pen.Style == TPenStyle::psDash ? PS_DASH
                                                         : PS_SOLID;
    HPEN pen;
    if (Pen.Width <= 1 || style == PS_SOLID) {
      pen = CreatePen(static_cast<int>(style), std::max(1, Pen.Width), Pen.Color);
    } else {
      // Only a geometric pen keeps dots and dashes at widths above one.
      LOGBRUSH lb = {BS_SOLID, Pen.Color, 0};
      pen = ExtCreatePen(PS_GEOMETRIC | style | PS_ENDCAP_FLAT, static_cast<DWORD>(Pen.Width), &lb, 0, nullptr);
    }
    FPens[key] = pen;
    return pen;
  }
  HFONT FontFor(const TFontInfo& Font) {
    auto key = std::make_tuple(Font.Name, Font.SizePt, Font.Bold);
    auto it = FFonts.find(key);
    if (it != FFonts.end()) return it->second;
    HFONT font = MakeFont(Font);
    FFonts[key] = font;
    return font;
  }

  HDC FDc;
  HGDIOBJ FOldFont;
  HGDIOBJ FOldPen;
  std::map<std::tuple<std::string, int, bool>, HFONT> FFonts;
  std::map<std::tuple<TColor, int, int>, HPEN> FPens;
};

LRESULT CALLBACK PaintBoxProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);

const wchar_t* PaintBoxClass() {
  static const bool registered = [] {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &PaintBoxProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kPaintBoxClass;
    return RegisterClassExW(&wc) != 0;
  }();
  (void)registered;
  return kPaintBoxClass;
}

class TPaintBoxPeer final : public TWinPeer {
 public:
  TPaintBoxPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B), FBox(static_cast<TPaintBox&>(C)) {
    CreateMain(PaintBoxClass(), 0);
    ApplyHint();
  }

  // Paints the whole box into a memory bitmap, then copies it onto Dc.
  void PaintOn(HDC Dc) {
    RECT r;
    GetClientRect(FWnd, &r);
    if (r.right <= 0 || r.bottom <= 0) return;
    HDC mem = CreateCompatibleDC(Dc);
    HBITMAP bitmap = CreateCompatibleBitmap(Dc, r.right, r.bottom);
    HGDIOBJ old = SelectObject(mem, bitmap);
    ::FillRect(mem, &r, GetSysColorBrush(COLOR_BTNFACE));
    {
      TGdiSurface surface(mem);
      TCanvas canvas(surface);
      Guarded([&] { FBox.Paint(canvas); });
    }
    BitBlt(Dc, 0, 0, r.right, r.bottom, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteObject(bitmap);
    DeleteDC(mem);
  }

 protected:
  void ApplyCaption() override {}
  void OnChanged(TChange What, size_t) override {
    if (What == TChange::Invalidate) InvalidateRect(FWnd, nullptr, FALSE);
  }

 private:
  TPaintBox& FBox;
};

LRESULT CALLBACK PaintBoxProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  auto* peer = dynamic_cast<TPaintBoxPeer*>(PeerOf(Wnd));
  switch (Msg) {
    case WM_ERASEBKGND: return 1;  // the paint covers every pixel
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(Wnd, &ps);
      if (peer) peer->PaintOn(dc);
      EndPaint(Wnd, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      if (peer) peer->PaintOn(reinterpret_cast<HDC>(WParam));
      return 0;
    default: return DefWindowProcW(Wnd, Msg, WParam, LParam);
  }
}

}  // namespace

std::unique_ptr<IControlPeer> MakePaintBoxPeer(TControl& C, TWin32Backend& B) {
  return std::make_unique<TPaintBoxPeer>(C, B);
}

}  // namespace tk::win32

// Under wine inside Xvfb: a paint box paints through GDI; the pixels are read back from a memory
// bitmap it was asked to paint into.
#include "Win32ToolkitFixture.h"

#include "ui/toolkit/uTkCanvas.h"
#include "ui/toolkit/uTkControls.h"

namespace tk::win32::testing {
namespace {

class Win32PaintTest : public Win32ToolkitTest {
 protected:
  // The box's client area as painted into a bitmap, pixel by pixel.
  struct TPixels {
    int W = 0, H = 0;
    std::vector<COLORREF> P;
    COLORREF At(int X, int Y) const { return P[static_cast<size_t>(Y * W + X)]; }
    int Count(int X0, int Y0, int X1, int Y1, COLORREF C) const {
      int n = 0;
      for (int y = Y0; y < Y1; y++)
        for (int x = X0; x < X1; x++) n += At(x, y) == C;
      return n;
    }
  };
  TPixels Capture(TPaintBox& Box) {
    HWND w = Wnd(&Box);
    RECT r;
    GetClientRect(w, &r);
    HDC screen = GetDC(w);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, r.right, r.bottom);
    HGDIOBJ old = SelectObject(mem, bmp);
    SendMessageW(w, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT);
    TPixels px{r.right, r.bottom, {}};
    for (int y = 0; y < r.bottom; y++)
      for (int x = 0; x < r.right; x++) px.P.push_back(GetPixel(mem, x, y));
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(w, screen);
    return px;
  }
};

TEST_F(Win32PaintTest, PaintBoxDrawsFillsLinesAndText) {
  auto form = ShowForm({400, 300});
  auto* box = form->Add<TPaintBox>(Cr("Chart", {0, 24, 400, 240}, kAnchorsAll));
  TSize extent;
  int paints = 0;
  box->OnPaint = [&](TControl*) {
    paints++;
    TCanvas& c = box->Canvas();
    c.SetBrushColor(clWhite);
    c.FillRect({0, 0, 400, 240});
    c.SetBrushColor(RGB(255, 0, 0));
    c.FillRect({10, 10, 30, 30});
    c.Pen().Color = 0xFF0000;  // 0x00BBGGRR: blue
    c.Pen().Width = 2;
    c.MoveTo(50, 100);
    c.LineTo(150, 100);
    c.Pen().Width = 1;
    c.Pen().Color = RGB(0, 128, 0);
    c.Pen().Style = TPenStyle::psDot;
    c.MoveTo(50, 150);
    c.LineTo(150, 150);
    c.Pen().Style = TPenStyle::psSolid;
    c.Font().SizePt = 9;
    c.Font().Bold = true;
    c.Font().Color = clBlack;
    c.TextOut(200, 50, "MB/s");
    extent = c.TextExtent("MB/s");
  };
  Pump();
  EXPECT_GT(paints, 0);  // the box painted on the screen once it was shown
  TPixels px = Capture(*box);
  ASSERT_EQ(px.W, 400);
  EXPECT_EQ(px.At(20, 20), RGB(255, 0, 0));
  EXPECT_EQ(px.At(5, 5), RGB(255, 255, 255));
  // A 2-pixel blue line, and nothing beyond its ends.
  EXPECT_EQ(px.Count(50, 99, 150, 102, RGB(0, 0, 255)), 200);
  EXPECT_EQ(px.At(153, 100), RGB(255, 255, 255));
  EXPECT_EQ(px.At(46, 100), RGB(255, 255, 255));
  // A dotted line leaves gaps of the background.
  const int dots = px.Count(50, 150, 150, 151, RGB(0, 128, 0));
  EXPECT_GT(dots, 20);
  EXPECT_LT(dots, 80);
  // The text: black pixels within its extent, none beyond.
  EXPECT_GT(extent.Width, 15);
  EXPECT_GT(extent.Height, 8);
  EXPECT_GT(px.Count(200, 50, 200 + extent.Width, 50 + extent.Height, RGB(0, 0, 0)), 10);
  EXPECT_EQ(px.Count(200 + extent.Width + 2, 50, 260 + extent.Width, 50 + extent.Height, RGB(0, 0, 0)), 0);
  // Bold is wider than regular.
  TSize regular = backend_.MeasureText("MB/s", {"", 9, false, clBlack});
  TSize bold = backend_.MeasureText("MB/s", {"", 9, true, clBlack});
  EXPECT_GT(bold.Width, regular.Width);
  EXPECT_EQ(extent, bold);

  // Invalidate asks the loop for a repaint.
  const int before = paints;
  box->Invalidate();
  EXPECT_TRUE(PumpUntil([&] { return paints > before; }));
}

TEST_F(Win32PaintTest, AnExceptionWhilePaintingIsHandled) {
  auto form = ShowForm({200, 200});
  auto* box = form->Add<TPaintBox>(Cr("Chart", {0, 0, 200, 200}));
  box->OnPaint = [](TControl*) { throw std::runtime_error("paint failed"); };
  Capture(*box);
  EXPECT_FALSE(exceptions_.empty());
  EXPECT_EQ(exceptions_.front(), "paint failed");
}

}  // namespace
}  // namespace tk::win32::testing

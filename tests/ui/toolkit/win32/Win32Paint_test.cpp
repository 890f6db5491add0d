// Under wine inside Xvfb: a paint box paints through GDI; the pixels are read back from a memory
// bitmap it was asked to paint into. A hidden control leaves no picture of itself.
#include "Win32ToolkitFixture.h"

#include "ui/toolkit/uTkCanvas.h"
#include "ui/toolkit/uTkControls.h"
#include "ui/toolkit/win32/Win32PaintCheck.h"

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

// A group box paints its frame and caption, not its inside: the place each kind of control left
// in one, hidden or made narrower, is painted by what lies behind the box.
TEST_F(Win32PaintTest, EveryKindHiddenOrShrunkInAGroupBoxLeavesNothingBehind) {
  // Made before it is shown, as the program's windows are.
  auto form = std::make_unique<TForm>(nullptr, Cr("Form", {}, kAnchorsDefault, "Test"));
  form->SetClientSize({640, 300});
  auto* group = form->Add<TGroupBox>(Cr("Group", {8, 8, 624, 284}, kAnchorsDefault, "Options"));
  auto* radio = group->Add<TRadioGroup>(Cr("Radio", {8, 8, 200, 70}, kAnchorsDefault, "Mode"));
  radio->SetItems({"Full device", "Free space"});
  auto* combo = group->Add<TComboBox>(Cr("Combo", {220, 8, 120, 23}));
  combo->SetItems({"GPT", "MBR"});
  combo->SetItemIndex(0);
  auto* spin = group->Add<TSpinEdit>(Cr("Spin", {360, 8, 100, 23}));
  spin->SetRange(0, 100, 1);
  spin->SetValue(42);
  auto* progress = group->Add<TProgressBar>(Cr("Progress", {220, 40, 240, 20}));
  progress->SetPosition(60);
  auto* memo = group->Add<TMemo>(Cr("Memo", {8, 90, 200, 60}));
  memo->SetText("line one\r\nline two");
  auto* grid = group->Add<TStringGrid>(Cr("Grid", {220, 90, 240, 80}));
  grid->SetCell(0, 0, "Drive");
  auto* box = group->Add<TPaintBox>(Cr("Box", {480, 8, 120, 60}));
  box->OnPaint = [box](TControl*) {
    box->Canvas().SetBrushColor(RGB(255, 0, 0));
    box->Canvas().FillRect({0, 0, 120, 60});
  };
  auto* inner = group->Add<TGroupBox>(Cr("Inner", {480, 80, 120, 60}, kAnchorsDefault, "Inner"));
  const std::vector<TControl*> kinds = {
      group->Add<TLabel>(Cr("Label", {8, 180, 0, 0}, kAnchorsDefault, "Init after TRIM:")),
      group->Add<TButton>(Cr("Button", {220, 180, 110, 31}, kAnchorsDefault, "Start")),
      group->Add<TCheckBox>(Cr("Check", {360, 180, 120, 19}, kAnchorsDefault, "Dry-run")),
      radio, combo, spin, progress, memo, grid, box, inner};
  form->Show();
  Pump();
  ASSERT_EQ(PixelsLeftFromBefore(Wnd(form.get())), "");
  for (TControl* c : kinds) {
    c->SetVisible(false);
    Pump();
    EXPECT_EQ(PixelsLeftFromBefore(Wnd(form.get())), "") << c->Name() << " hidden";
    c->SetVisible(true);
    Pump();
    const TBounds b = c->Bounds();
    c->SetBounds({b.Left, b.Top, b.Width - 10, b.Height});
    Pump();
    EXPECT_EQ(PixelsLeftFromBefore(Wnd(form.get())), "") << c->Name() << " made narrower";
    c->SetBounds(b);
    Pump();
  }
}

}  // namespace
}  // namespace tk::win32::testing

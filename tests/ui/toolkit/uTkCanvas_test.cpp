// The paint box and the headless recording canvas.
#include <stdexcept>

#include "ui/UiFixture.h"
#include "ui/toolkit/uTkCanvas.h"
#include "ui/toolkit/uTkForm.h"

using namespace tk;
using headless::TDrawCall;
using Kind = TDrawCall::TKind;

namespace {

class CanvasTest : public UiFixture {};

TEST_F(CanvasTest, EveryDrawingCallIsRecordedWithItsPenAndFont) {
  TForm form(nullptr, {.Name = "Chart"});
  form.SetClientSize({300, 200});
  auto* box = form.Add<TPaintBox>({.Name = "Box", .Bounds = {0, 24, 300, 140}});
  TSize measured;
  box->OnPaint = [&](TControl*) {
    TCanvas& c = box->Canvas();
    c.FillRect({0, 0, 300, 140});
    c.Pen() = {RGB(224, 224, 224), TPenStyle::psDot, 1};
    c.MoveTo(70, 40);
    c.LineTo(270, 40);
    c.LineTo(270, 90);  // on from where the last line ended
    c.Font().Color = RGB(128, 128, 128);
    c.Font().SizePt = 8;
    measured = c.TextExtent("0:10");
    c.TextOut(70 - c.TextWidth("50") - 6, 40 - c.TextHeight("50") / 2, "50");
    c.Font().Bold = true;
    c.SetBrushColor(clBlack);
    c.FillRect({1, 2, 3, 4});
  };

  const auto calls = ui.Paint(*box);
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].Kind, Kind::Fill);
  EXPECT_EQ(calls[0].Rect, (TRect{0, 0, 300, 140}));
  EXPECT_EQ(calls[0].Color, clWhite);  // the brush starts white
  EXPECT_EQ(calls[1].Kind, Kind::Line);
  EXPECT_EQ(calls[1].From, (TPoint{70, 40}));
  EXPECT_EQ(calls[1].To, (TPoint{270, 40}));
  EXPECT_EQ(calls[1].Pen, (TPenInfo{RGB(224, 224, 224), TPenStyle::psDot, 1}));
  EXPECT_EQ(calls[2].From, (TPoint{270, 40}));
  EXPECT_EQ(calls[2].To, (TPoint{270, 90}));
  EXPECT_EQ(measured, (TSize{24, 13}));  // 8 pt: 6 pixels a character, 13 a line
  EXPECT_EQ(calls[3].Kind, Kind::Text);
  EXPECT_EQ(calls[3].Text, "50");
  EXPECT_EQ(calls[3].From, (TPoint{70 - 12 - 6, 40 - 6}));
  EXPECT_EQ(calls[3].Font, (TFontInfo{"", 8, false, RGB(128, 128, 128)}));
  EXPECT_EQ(calls[4].Color, clBlack);
  EXPECT_EQ(ui.LastPaint(*box).size(), 5u);

  // Outside its paint event the canvas is not there.
  EXPECT_THROW(box->Canvas(), std::logic_error);
}

TEST_F(CanvasTest, AnInvalidatedBoxRepaintsFromTheLoopOnceShown) {
  TForm form(nullptr, {.Name = "Chart"});
  auto* box = form.Add<TPaintBox>({.Name = "Box", .Bounds = {0, 0, 100, 100}});
  int paints = 0;
  box->OnPaint = [&](TControl*) {
    ++paints;
    box->Canvas().TextOut(0, 0, "paint " + std::to_string(paints));
  };
  box->Invalidate();
  box->Invalidate();
  ui.RunFor(0);
  EXPECT_EQ(paints, 0);  // the window is not shown yet
  form.Show();
  ui.RunFor(0);
  EXPECT_EQ(paints, 1);  // two requests, one repaint
  ASSERT_EQ(ui.LastPaint(*box).size(), 1u);
  EXPECT_EQ(ui.LastPaint(*box)[0].Text, "paint 1");
}

}  // namespace

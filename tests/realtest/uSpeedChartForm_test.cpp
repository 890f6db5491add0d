// The speed chart window on the headless backend: how it is built, what it draws for the
// examples (read back from the recording canvas), and what its Save CSV writes.
#include "realtest/uSpeedChartForm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "TestTempPath.h"
#include "core/uFormatSettings.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "platform/sim/SimDialogPaths.h"
#include "ui/InspectTestUtil.h"
#include "ui/UiFixture.h"
#include "ui/toolkit/uTkModal.h"

using namespace plat;
using plat::sim::FileFault;
using tk::headless::TDrawCall;
using TKind = tk::headless::TDrawCall::TKind;

namespace {

TSpeedDataArray Series(std::initializer_list<TSpeedDataPoint> Points) {
  TSpeedDataArray A;
  for (const TSpeedDataPoint& P : Points) A.Add(P);
  return A;
}

class SpeedChartTest : public UiFixture {
 protected:
  SpeedChartTest()
      : savedLanguage(GetCurrentLanguage()), owner(std::make_unique<tk::TForm>(nullptr, tk::TCreate{"Owner"})) {
    SetCurrentLanguage(TUiLanguage::ulEnglish);
    owner->SetOuterSize({1200, 800});
    owner->SetBounds({100, 50, 1200, 800});
  }
  ~SpeedChartTest() override {
    if (chart) tk::DestroyForm(std::move(chart));
    SetCurrentLanguage(savedLanguage);
  }

  TSpeedChartForm& Open(const TSpeedDataArray& Samples, const std::string& Dir = "") {
    chart = TSpeedChartForm::CreateChart(owner.get(), Samples, Dir);
    return *chart;
  }
  std::vector<TDrawCall> Paint() { return ui.Paint(*chart->FPaintBox); }

  static std::vector<TDrawCall> Of(const std::vector<TDrawCall>& Calls, TKind Kind) {
    std::vector<TDrawCall> R;
    std::copy_if(Calls.begin(), Calls.end(), std::back_inserter(R),
                 [&](const TDrawCall& C) { return C.Kind == Kind; });
    return R;
  }
  static std::vector<std::string> Texts(const std::vector<TDrawCall>& Calls, int SizePt) {
    std::vector<std::string> R;
    for (const TDrawCall& C : Calls)
      if (C.Kind == TKind::Text && C.Font.SizePt == SizePt) R.push_back(C.Text);
    return R;
  }
  // The vertical lines drawn with this pen style (from top to bottom of the plot).
  static std::vector<int> VerticalsX(const std::vector<TDrawCall>& Calls, tk::TPenStyle Style) {
    std::vector<int> R;
    for (const TDrawCall& C : Calls)
      if (C.Kind == TKind::Line && C.Pen.Style == Style && C.From.X == C.To.X && C.From.Y != C.To.Y)
        R.push_back(C.From.X);
    return R;
  }

  TUiLanguage savedLanguage;
  std::unique_ptr<tk::TForm> owner;
  std::unique_ptr<TSpeedChartForm> chart;
};

TEST_F(SpeedChartTest, TheWindowAsItIsBuilt) {
  TSpeedChartForm& F = Open(Series({{0, 12.5, "STEP1"}, {3725.9, 37.44, "STEP2"}}), "C:\\out\\");
  EXPECT_EQ(F.Caption(), "Write Speed Chart");
  EXPECT_EQ(F.Owner(), owner.get());
  EXPECT_EQ(F.Width(), 1000);
  EXPECT_EQ(F.Height(), 520);
  EXPECT_EQ(F.Position(), tk::TFormPosition::poOwnerFormCenter);
  const tk::TSize Frame = tk::Backend().FormFrame(F);
  EXPECT_EQ(F.MinClientSize(), (tk::TSize{600 - Frame.Width, 350 - Frame.Height}));
  EXPECT_DOUBLE_EQ(F.FMaxSpeed, 37.44);
  EXPECT_DOUBLE_EQ(F.FMaxTime, 3725.9);
  EXPECT_EQ(F.FLblSummary->Caption(), "Data points: 2 | Max speed: 37.4 MB/s | Duration: 1:02:05");
  EXPECT_EQ(F.FLblSummary->Left(), 10);
  EXPECT_EQ(F.FLblSummary->Top(), 4);

  const tk::TSize C = F.ClientSize();
  EXPECT_EQ(F.FPaintBox->Bounds(), (tk::TBounds{0, 24, C.Width, C.Height - 60}));
  EXPECT_EQ(F.FPaintBox->Anchors(), tk::kAnchorsAll);
  EXPECT_EQ(F.FBtnSaveCsv->Bounds(), (tk::TBounds{C.Width - 230, C.Height - 34, 100, 28}));
  EXPECT_EQ(F.FBtnClose->Bounds(), (tk::TBounds{C.Width - 120, C.Height - 34, 100, 28}));
  EXPECT_EQ(F.FBtnSaveCsv->Caption(), "Save CSV");
  EXPECT_EQ(F.FBtnClose->Caption(), "Close");
  for (tk::TButton* B : {F.FBtnSaveCsv, F.FBtnClose}) EXPECT_EQ(B->Anchors(), tk::akRight | tk::akBottom);

  // Made larger by the user: the box fills the window, the buttons keep to the corner, and the
  // box is painted again.
  F.Show();
  // Placed centred on its owner.
  EXPECT_EQ(F.Left(), 100 + (1200 - 1000) / 2);
  EXPECT_EQ(F.Top(), 50 + (800 - 520) / 2);
  ui.Paint(*F.FPaintBox);
  ui.Resize(F, {C.Width + 200, C.Height + 100});
  EXPECT_EQ(F.FPaintBox->Bounds(), (tk::TBounds{0, 24, C.Width + 200, C.Height + 40}));
  EXPECT_EQ(F.FBtnClose->Bounds(), (tk::TBounds{C.Width + 80, C.Height + 66, 100, 28}));
  ui.RunFor(0);
  EXPECT_EQ(ui.LastPaint(*F.FPaintBox).front().Rect, (tk::TRect{0, 0, C.Width + 200, C.Height + 40}));
}

TEST_F(SpeedChartTest, TheSeriesIsSharedNotCopied) {
  TSpeedDataArray S = Series({{1, 5, "STEP1"}});
  TSpeedChartForm& F = Open(S);
  EXPECT_TRUE(F.FSamples.SharesWith(S));
}

// Opened on a running test's series: the caption names its drive, the plot says there is no
// sample yet, and within a second of new samples the summary and the picture show them.
TEST_F(SpeedChartTest, AnOpenChartFollowsTheSeriesOfARunningTest) {
  TSpeedDataArray S;
  S.SetDrive("E:\\");
  TSpeedChartForm& F = Open(S);
  F.Show();
  EXPECT_EQ(F.Caption(), "Write Speed Chart - E:\\");
  EXPECT_EQ(Texts(Paint(), 9), (std::vector<std::string>{"MB/s", "No speed data available."}));
  S.Add({2, 40, "STEP1"});
  S.Add({4, 50, "STEP1"});
  ui.RunFor(1000);
  EXPECT_EQ(F.FLblSummary->Caption(), "Data points: 2 | Max speed: 50.0 MB/s | Duration: 0:04");
  const std::vector<TDrawCall>& Calls = ui.LastPaint(*F.FPaintBox);
  EXPECT_EQ(std::count_if(Calls.begin(), Calls.end(), [](const TDrawCall& C) { return C.Pen.Width == 2; }), 1);
  EXPECT_EQ(Texts(Calls, 9), (std::vector<std::string>{"MB/s"}));
  // Saved as it stands at the click, the sample taken since the last refresh included.
  S.Add({6, 45, "STEP1"});
  script.Save("C:\\Users\\user\\now.csv");
  ASSERT_TRUE(ui.Click("BtnSaveCsv"));
  EXPECT_EQ(m->Files().ReadAll("C:\\Users\\user\\now.csv"),
            "time_sec,speed_mbps,step\r\n2.0,40.00,STEP1\r\n4.0,50.00,STEP1\r\n6.0,45.00,STEP1\r\n");
  EXPECT_EQ(F.FLblSummary->Caption(), "Data points: 3 | Max speed: 50.0 MB/s | Duration: 0:06");
}

// A test whose language was switched while it ran took its verification samples in two
// languages: the chart and its CSV give every step in the language of the moment.
TEST_F(SpeedChartTest, StepLabelsAndTheCsvAreInTheCurrentLanguageOnly) {
  const std::string Korean4 = LangTableFor(TUiLanguage::ulKorean)[TextIndex(TTextId::Step4Verify)];
  const std::string English5 = LangTableFor(TUiLanguage::ulEnglish)[TextIndex(TTextId::Step5Verify)];
  SetCurrentLanguage(TUiLanguage::ulGerman);
  TSpeedChartForm& F = Open(Series(
      {{2, 30, "STEP3"}, {4, 35, Korean4}, {6, 35, Korean4}, {8, 40, English5}, {10, 40, "own label"}}));
  F.Show();
  EXPECT_EQ(Texts(Paint(), 7),
            (std::vector<std::string>{"STEP3", "SCHRITT4 Prüfen", "SCHRITT5 Prüfen", "own label"}));
  script.Save("C:\\Users\\user\\de.csv");
  ASSERT_TRUE(ui.Click("BtnSaveCsv"));
  EXPECT_EQ(m->Files().ReadAll("C:\\Users\\user\\de.csv"),
            "time_sec,speed_mbps,step\r\n2.0,30.00,STEP3\r\n4.0,35.00,SCHRITT4 Prüfen\r\n"
            "6.0,35.00,SCHRITT4 Prüfen\r\n8.0,40.00,SCHRITT5 Prüfen\r\n10.0,40.00,own label\r\n");
}

// 37.4 MiB/s at most: the speed axis goes up to 50 in steps of 10.
TEST_F(SpeedChartTest, TheSpeedAxisOfA37MibSeries) {
  TSpeedChartForm& F = Open(Series({{0, 20, "STEP1"}, {30, 37.4, "STEP1"}, {45, 10, "STEP1"}}));
  const std::vector<TDrawCall> Calls = Paint();
  const tk::TRect R = F.ChartRect();
  ASSERT_EQ(R, (tk::TRect{70, 40, F.FPaintBox->Width() - 30, F.FPaintBox->Height() - 50}));
  ASSERT_FALSE(Calls.empty());
  EXPECT_EQ(Calls[0].Kind, TKind::Fill);
  EXPECT_EQ(Calls[0].Rect, (tk::TRect{0, 0, F.FPaintBox->Width(), F.FPaintBox->Height()}));
  EXPECT_EQ(Calls[0].Color, 0x00FFFFFFu);

  // Six dotted light-grey lines across the plot, their labels left of it in grey 8 pt.
  std::vector<TDrawCall> Grid;
  for (const TDrawCall& C : Of(Calls, TKind::Line))
    if (C.Pen.Style == tk::TPenStyle::psDot && C.From.Y == C.To.Y) Grid.push_back(C);
  ASSERT_EQ(Grid.size(), 6u);
  const std::vector<std::string> Labels = {"0", "10", "20", "30", "40", "50"};
  std::vector<TDrawCall> Texts8;
  for (const TDrawCall& C : Of(Calls, TKind::Text))
    if (C.Font.SizePt == 8 && C.From.Y != R.Bottom + 4) Texts8.push_back(C);  // not a time label
  ASSERT_EQ(Texts8.size(), 6u);
  const double PH = R.Height();
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const int Y = R.Bottom - static_cast<int>(std::nearbyint(PH * i / 5));
    EXPECT_EQ(Grid[i].From, (tk::TPoint{R.Left, Y}));
    EXPECT_EQ(Grid[i].To, (tk::TPoint{R.Right, Y}));
    EXPECT_EQ(Grid[i].Pen, (tk::TPenInfo{0x00E0E0E0, tk::TPenStyle::psDot, 1}));
    EXPECT_EQ(Texts8[i].Text, Labels[i]);
    const tk::TSize Ext = tk::headless::TextExtent(Labels[i], Texts8[i].Font);
    EXPECT_EQ(Texts8[i].From, (tk::TPoint{R.Left - Ext.Width - 6, Y - Ext.Height / 2}));
    EXPECT_EQ(Texts8[i].Font.Color, 0x00808080u);
    EXPECT_FALSE(Texts8[i].Font.Bold);
  }

  // The axes in solid black, the unit label in bold 9 pt over the top label, clear of it.
  std::vector<TDrawCall> Axes;
  for (const TDrawCall& C : Of(Calls, TKind::Line))
    if (C.Pen == tk::TPenInfo{0, tk::TPenStyle::psSolid, 1}) Axes.push_back(C);
  ASSERT_EQ(Axes.size(), 2u);
  EXPECT_EQ(Axes[0].From, (tk::TPoint{R.Left, R.Top}));
  EXPECT_EQ(Axes[0].To, (tk::TPoint{R.Left, R.Bottom}));
  EXPECT_EQ(Axes[1].To, (tk::TPoint{R.Right, R.Bottom}));
  const auto Unit = std::find_if(Calls.begin(), Calls.end(), [](const TDrawCall& C) { return C.Text == "MB/s"; });
  ASSERT_NE(Unit, Calls.end());
  EXPECT_EQ(Unit->Font, (tk::TFontInfo{"", 9, true, 0}));
  const tk::TSize UnitExt = tk::headless::TextExtent("MB/s", Unit->Font);
  EXPECT_EQ(Unit->From, (tk::TPoint{R.Left - UnitExt.Width - 4, Texts8[5].From.Y - UnitExt.Height - 2}));

  // The speed line in blue, 2 pixels wide, one segment per pair of samples.
  std::vector<TDrawCall> Speed;
  for (const TDrawCall& C : Of(Calls, TKind::Line))
    if (C.Pen.Color == 0x00FF0000u) Speed.push_back(C);
  ASSERT_EQ(Speed.size(), 2u);
  const double PW = R.Width();
  auto At = [&](double T, double V) {
    return tk::TPoint{R.Left + static_cast<int>(std::nearbyint(PW * T / 45)),
                      R.Bottom - static_cast<int>(std::nearbyint(V * PH / 50))};
  };
  EXPECT_EQ(Speed[0].Pen.Width, 2);
  EXPECT_EQ(Speed[0].From, At(0, 20));
  EXPECT_EQ(Speed[0].To, At(30, 37.4));
  EXPECT_EQ(Speed[1].To, At(45, 10));
}

TEST_F(SpeedChartTest, TimeLinesOfShortAndLongSeries) {
  const struct {
    double Seconds;
    std::vector<std::string> Labels;
  } Cases[] = {
      {45, {"0:00", "0:10", "0:20", "0:30", "0:40"}},
      {7500, {"0:00", "30:00", "1:00:00", "1:30:00", "2:00:00"}},
      {0.5, {"0:00"}},  // the time axis is at least one second long
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Seconds);
    if (chart) tk::DestroyForm(std::move(chart));
    TSpeedChartForm& F = Open(Series({{0, 5, "STEP1"}, {C.Seconds, 6, "STEP1"}}));
    const std::vector<TDrawCall> Calls = Paint();
    const tk::TRect R = F.ChartRect();
    std::vector<TDrawCall> Below;
    for (const TDrawCall& T : Of(Calls, TKind::Text))
      if (T.From.Y == R.Bottom + 4) Below.push_back(T);
    std::vector<std::string> Labels;
    for (const TDrawCall& T : Below) Labels.push_back(T.Text);
    EXPECT_EQ(Labels, C.Labels);
    const std::vector<int> X = VerticalsX(Calls, tk::TPenStyle::psDot);
    ASSERT_EQ(X.size(), C.Labels.size());
    const double Step = C.Seconds < 60 ? 10 : 1800;
    for (size_t i = 0; i < X.size(); ++i) {
      const int Want = R.Left + static_cast<int>(std::nearbyint(R.Width() * (i * Step) / C.Seconds));
      EXPECT_EQ(X[i], Want) << i;
      const int Width = tk::headless::TextExtent(Below[i].Text, Below[i].Font).Width;
      EXPECT_EQ(Below[i].From.X, Want - Width / 2);
    }
  }
}

// A test of a large drive runs for many hours, and past two hours the time lines stand half an
// hour apart: at 10 hours and more their labels would run into each other. Every line is drawn;
// a label that would touch the one before it is left out, the first one ("0:00") never.
TEST_F(SpeedChartTest, TimeLabelsOfAVeryLongTestNeverOverlap) {
  for (double Hours : {2.0, 10.0, 24.0, 72.0}) {
    if (chart) tk::DestroyForm(std::move(chart));
    TSpeedChartForm& F = Open(Series({{0, 5, "STEP1"}, {Hours * 3600, 6, "STEP1"}}));
    F.Show();
    for (bool Smallest : {false, true}) {
      SCOPED_TRACE(std::to_string(Hours) + (Smallest ? " h, smallest" : " h, designed"));
      if (Smallest) ui.Resize(F, F.MinClientSize());
      const std::vector<TDrawCall> Calls = Paint();
      const tk::TRect R = F.ChartRect();
      std::vector<tk::TRect> Boxes;
      std::vector<std::string> Labels;
      for (const TDrawCall& T : Of(Calls, TKind::Text))
        if (T.From.Y == R.Bottom + 4) {
          const tk::TSize Ext = tk::headless::TextExtent(T.Text, T.Font);
          Boxes.push_back({T.From.X, T.From.Y, T.From.X + Ext.Width, T.From.Y + Ext.Height});
          Labels.push_back(T.Text);
        }
      ASSERT_FALSE(Labels.empty());
      EXPECT_EQ(Labels.front(), "0:00");
      const double Step = TimeGridStep(Hours * 3600);
      EXPECT_EQ(VerticalsX(Calls, tk::TPenStyle::psDot).size(), static_cast<size_t>(Hours * 3600 / Step) + 1);
      for (size_t i = 1; i < Boxes.size(); ++i)
        EXPECT_GE(Boxes[i].Left, Boxes[i - 1].Right) << Labels[i - 1] << " and " << Labels[i] << " overlap";
      if (Hours == 2.0) {
        EXPECT_EQ(Labels.size(), 9u) << "where they fit, every line has its label";
      }
    }
  }
}

TEST_F(SpeedChartTest, StepMarkers) {
  const struct {
    std::vector<std::string> Steps;
    std::vector<std::string> Marked;
  } Cases[] = {
      {{"STEP1 TRIM", "STEP1", "STEP2"}, {"STEP1 TRIM", "STEP1", "STEP2"}},
      {{"STEP3", "", "STEP3"}, {"STEP3"}},
      {{"", "STEP1", "STEP1", "STEP4 Verify"}, {"STEP1", "STEP4 Verify"}},
  };
  for (const auto& C : Cases) {
    if (chart) tk::DestroyForm(std::move(chart));
    TSpeedDataArray S;
    for (size_t i = 0; i < C.Steps.size(); ++i) S.Add({i * 10.0, 20.0, C.Steps[i]});
    TSpeedChartForm& F = Open(S);
    const std::vector<TDrawCall> Calls = Paint();
    const tk::TRect R = F.ChartRect();
    EXPECT_EQ(Texts(Calls, 7), C.Marked);
    std::vector<TDrawCall> Dashed;
    for (const TDrawCall& L : Of(Calls, TKind::Line))
      if (L.Pen.Style == tk::TPenStyle::psDash) Dashed.push_back(L);
    ASSERT_EQ(Dashed.size(), C.Marked.size());
    for (const TDrawCall& L : Dashed) {
      EXPECT_EQ(L.Pen.Color, 0x00CCCCCCu);
      EXPECT_EQ(L.From.Y, R.Top);
      EXPECT_EQ(L.To.Y, R.Bottom);
    }
    for (const TDrawCall& T : Of(Calls, TKind::Text))
      if (T.Font.SizePt == 7) {
        EXPECT_EQ(T.Font.Color, 0x00606060u);
        EXPECT_EQ(T.From.Y, R.Top + 2);
      }
    // Each marker's label lies just right of its line, or just left of it near the box's edge:
    // the labels of the last samples, at the plot's right edge.
    for (size_t i = 0; i < Dashed.size(); ++i) {
      const auto Label = std::find_if(Calls.begin(), Calls.end(), [&](const TDrawCall& T) {
        return T.Kind == TKind::Text && T.Text == C.Marked[i];
      });
      const int Width = tk::headless::TextExtent(Label->Text, Label->Font).Width;
      const bool Right = Dashed[i].From.X < R.Right;
      EXPECT_EQ(Label->From.X, Right ? Dashed[i].From.X + 2 : Dashed[i].From.X - 2 - Width) << Label->Text;
    }
  }
}

// A speed-drop wait adds a sample of 0 MB/s every two seconds. The chart shows the wait as a
// span behind the grid, from the window that showed the drop to the wait's last sample, and the
// line pauses there: no part of it goes down to 0.
TEST_F(SpeedChartTest, AWaitIsASpanWhereTheLinePauses) {
  TSpeedDataArray S;
  for (int T = 2; T <= 20; T += 2) S.Add({double(T), 100, "STEP1"});
  S.Add({22, 30, "STEP1"});                                           // the drop
  for (int T = 24; T <= 142; T += 2) S.Add({double(T), 0, "STEP1"});  // a wait of 2 minutes
  for (int T = 144; T <= 160; T += 2) S.Add({double(T), 95, "STEP1"});
  S.Add({162, 0, "STEP1"});  // stopped during a second wait
  S.Add({163.5, 0, "STEP1"});
  TSpeedChartForm& F = Open(S);
  const std::vector<TDrawCall> Calls = Paint();
  const tk::TRect R = F.ChartRect();
  auto X = [&](double T) { return R.Left + static_cast<int>(std::nearbyint(R.Width() * T / 163.5)); };

  std::vector<TDrawCall> Spans;
  for (size_t i = 1; i < Calls.size(); ++i)
    if (Calls[i].Kind == TKind::Fill) Spans.push_back(Calls[i]);
  ASSERT_EQ(Spans.size(), 2u);
  EXPECT_EQ(Spans[0].Rect, (tk::TRect{X(22), R.Top, X(142), R.Bottom}));
  EXPECT_EQ(Spans[1].Rect, (tk::TRect{X(160), R.Top, X(163.5), R.Bottom}));
  for (const TDrawCall& Span : Spans) EXPECT_NE(Span.Color, 0x00FFFFFFu);
  const auto FirstLine =
      std::find_if(Calls.begin(), Calls.end(), [](const TDrawCall& C) { return C.Kind == TKind::Line; });
  EXPECT_EQ(std::find_if(FirstLine, Calls.end(), [](const TDrawCall& C) { return C.Kind == TKind::Fill; }),
            Calls.end())
      << "the grid is drawn over the spans";

  std::vector<TDrawCall> Speed;
  for (const TDrawCall& C : Of(Calls, TKind::Line))
    if (C.Pen.Width == 2) Speed.push_back(C);
  EXPECT_EQ(Speed.size(), 10u + 8u) << "the eleven samples up to the drop, the nine after the wait";
  for (const TDrawCall& C : Speed) {
    EXPECT_LT(C.From.Y, R.Bottom);
    EXPECT_LT(C.To.Y, R.Bottom);
    const bool Before = C.From.X <= X(22) && C.To.X <= X(22);
    const bool After = C.From.X >= X(144) && C.To.X >= X(144) && C.To.X <= X(160);
    EXPECT_TRUE(Before || After) << C.From.X << " to " << C.To.X;
  }
}

// Every label painted (grid, time, unit, step markers) lies inside the paint box, at the
// designed size and the smallest, in every language: a step label at the right edge moves left
// of its line, and two close together take two lines.
TEST_F(SpeedChartTest, EveryLabelLiesInsideThePaintBox) {
  for (int L = 0; L <= 7; ++L) {
    SetCurrentLanguage(static_cast<TUiLanguage>(L));
    SCOPED_TRACE(L);
    if (chart) tk::DestroyForm(std::move(chart));
    TSpeedDataArray S;
    S.Add({0, 850, "STEP1 TRIM"});
    S.Add({10, 1234.5, "STEP1"});
    S.Add({3000, 400, "STEP3"});
    S.Add({7380, 300, GetLangText(TTextId::Step4Verify)});
    S.Add({7440, 300, GetLangText(TTextId::Step5Verify)});
    S.Add({7500, 280, GetLangText(TTextId::Step5Verify)});
    TSpeedChartForm& F = Open(S);
    F.Show();
    for (bool Smallest : {false, true}) {
      SCOPED_TRACE(Smallest ? "smallest" : "designed");
      if (Smallest) ui.Resize(F, F.MinClientSize());
      const int W = F.FPaintBox->Width(), H = F.FPaintBox->Height();
      const std::vector<TDrawCall> Texts = Of(Paint(), TKind::Text);
      ASSERT_GT(Texts.size(), 12u);
      std::vector<tk::TRect> Steps;
      for (const TDrawCall& T : Texts) {
        const tk::TSize Ext = tk::headless::TextExtent(T.Text, T.Font);
        const tk::TRect Box{T.From.X, T.From.Y, T.From.X + Ext.Width, T.From.Y + Ext.Height};
        EXPECT_TRUE(Box.Left >= 0 && Box.Top >= 0 && Box.Right <= W && Box.Bottom <= H)
            << T.Text << " at " << Box.Left << "," << Box.Top << " to " << Box.Right << "," << Box.Bottom << " in "
            << W << " x " << H;
        if (T.Font.SizePt == 7) Steps.push_back(Box);
      }
      // The unit label touches no other label (the speed axis' top one stands just below it).
      const auto Unit =
          std::find_if(Texts.begin(), Texts.end(), [](const TDrawCall& T) { return T.Text == "MB/s"; });
      ASSERT_NE(Unit, Texts.end());
      const tk::TSize UnitExt = tk::headless::TextExtent(Unit->Text, Unit->Font);
      for (const TDrawCall& T : Texts) {
        if (&T == &*Unit) continue;
        const tk::TSize Ext = tk::headless::TextExtent(T.Text, T.Font);
        EXPECT_FALSE(Unit->From.X < T.From.X + Ext.Width && T.From.X < Unit->From.X + UnitExt.Width &&
                     Unit->From.Y < T.From.Y + Ext.Height && T.From.Y < Unit->From.Y + UnitExt.Height)
            << "the unit label overlaps " << T.Text;
      }
      ASSERT_EQ(Steps.size(), 5u);
      for (size_t i = 0; i < Steps.size(); ++i)
        for (size_t j = i + 1; j < Steps.size(); ++j)
          EXPECT_FALSE(Steps[i].Left < Steps[j].Right && Steps[j].Left < Steps[i].Right &&
                       Steps[i].Top < Steps[j].Bottom && Steps[j].Top < Steps[i].Bottom)
              << "step labels " << i << " and " << j << " overlap";
    }
  }
}

// A point half-way between two pixels goes to the even one: 884 x 1 / 8 = 110.5 gives 110.
TEST_F(SpeedChartTest, HalvesRoundToEven) {
  TSpeedChartForm& F = Open(Series({{0, 5, "STEP1"}, {1, 5, "STEP2"}, {8, 10, "STEP2"}}));
  ASSERT_EQ(F.ChartRect().Width(), 884);
  const std::vector<TDrawCall> Calls = Paint();
  EXPECT_EQ(VerticalsX(Calls, tk::TPenStyle::psDash), (std::vector<int>{70, 180}));
  std::vector<int> SpeedX;
  for (const TDrawCall& C : Of(Calls, TKind::Line))
    if (C.Pen.Width == 2) SpeedX.push_back(C.To.X);
  EXPECT_EQ(SpeedX, (std::vector<int>{180, 954}));
}

TEST_F(SpeedChartTest, OneSampleOrNoneDrawsOnlyTheFrame) {
  for (size_t N : {0, 1}) {
    if (chart) tk::DestroyForm(std::move(chart));
    TSpeedChartForm& F = Open(N ? Series({{12, 30, "STEP1"}}) : TSpeedDataArray());
    const std::vector<TDrawCall> Calls = Paint();
    EXPECT_TRUE(Texts(Calls, 7).empty());
    EXPECT_TRUE(VerticalsX(Calls, tk::TPenStyle::psDash).empty());
    for (const TDrawCall& C : Calls) EXPECT_NE(C.Pen.Width, 2);
    if (N == 0) {
      EXPECT_EQ(F.FLblSummary->Caption(), "Data points: 0 | Max speed: 1.0 MB/s | Duration: 0:01");
      // An axis of 1: its lines a fifth apart, labelled so.
      std::vector<std::string> Speeds = Texts(Calls, 8);
      Speeds.resize(6);
      EXPECT_EQ(Speeds, (std::vector<std::string>{"0.0", "0.2", "0.4", "0.6", "0.8", "1.0"}));
      // No sample: a notice in the middle of the plot says so.
      const tk::TRect R = F.ChartRect();
      const tk::TSize Ext = tk::headless::TextExtent(Calls.back().Text, Calls.back().Font);
      EXPECT_EQ(Calls.back().Text, "No speed data available.");
      EXPECT_EQ(Calls.back().From,
                (tk::TPoint{(R.Left + R.Right - Ext.Width) / 2, (R.Top + R.Bottom - Ext.Height) / 2}));
    } else {
      EXPECT_EQ(Calls.back().Text, "MB/s") << "the unit label is the last thing drawn";
    }
  }
}

TEST_F(SpeedChartTest, SpeedsAboveTheAxisRunAlongTheTop) {
  // The axis is made from the window's maximum, so only a maximum below a sample (set here by
  // hand) shows the clipping.
  TSpeedChartForm& F = Open(Series({{0, 120, "STEP1"}, {10, 50, "STEP1"}}));
  F.FMaxSpeed = 40;  // an axis of 50
  const std::vector<TDrawCall> Calls = Paint();
  const tk::TRect R = F.ChartRect();
  for (const TDrawCall& C : Of(Calls, TKind::Line))
    if (C.Pen.Width == 2) {
      EXPECT_EQ(C.From.Y, R.Top);
      EXPECT_EQ(C.To.Y, R.Top);
    }
}

TEST_F(SpeedChartTest, TheSmallestPlotArea) {
  TSpeedChartForm& F = Open(Series({{0, 1, "STEP1"}, {5, 2, "STEP2"}}));
  for (tk::TSize S : {tk::TSize{0, 0}, tk::TSize{50, 20}, tk::TSize{109, 99}, tk::TSize{111, 101}}) {
    F.FPaintBox->SetBounds({0, 24, S.Width, S.Height});
    const tk::TRect R = F.ChartRect();
    EXPECT_EQ(R.Left, 70);
    EXPECT_EQ(R.Top, 40);
    EXPECT_EQ(R.Right, std::max(80, S.Width - 30));
    EXPECT_EQ(R.Bottom, std::max(50, S.Height - 50));
    EXPECT_FALSE(Paint().empty());
  }
}

// ---- Save CSV ----

TEST_F(SpeedChartTest, SaveCsvOfTwoSamplesWithAFullStopWhateverTheLocale) {
  const TFormatSettings Before = GetFormatSettings();
  SetFormatSettings({",", ".", ":"});
  TSpeedChartForm& F = Open(Series({{2.04, 37.456, "STEP1"}, {4.25, 0, "STEP2 Wait"}}), "C:\\Users\\user\\out\\");
  F.Show();
  script.Save("C:\\Users\\user\\chart.csv");
  ASSERT_TRUE(ui.Click("BtnSaveCsv"));
  SetFormatSettings(Before);
  ASSERT_EQ(script.Log().size(), 1u);
  const tk::TSaveDialogOptions O = script.Log()[0].Save;
  EXPECT_EQ(O.Title, "Save Speed Data CSV");
  EXPECT_EQ(O.Filter, "CSV files (*.csv)|*.csv|All files (*.*)|*.*");
  EXPECT_EQ(O.DefaultExt, ".csv");
  EXPECT_EQ(O.FileName, "speed_data.csv");
  EXPECT_EQ(O.InitialDir, "C:\\Users\\user\\out\\");
  EXPECT_EQ(script.Log()[0].Owner, F.Handle());
  EXPECT_EQ(m->Files().ReadAll("C:\\Users\\user\\chart.csv"),
            "time_sec,speed_mbps,step\r\n2.0,37.46,STEP1\r\n4.3,0.00,STEP2 Wait\r\n");

  // Cancelled: nothing written. Overwritten without a question.
  script.SaveCancel();
  m->Files().WriteAll("C:\\Users\\user\\chart.csv", "old");
  ASSERT_TRUE(ui.Click("BtnSaveCsv"));
  EXPECT_EQ(m->Files().ReadAll("C:\\Users\\user\\chart.csv"), "old");
  script.Save("C:\\Users\\user\\chart.csv");
  ASSERT_TRUE(ui.Click("BtnSaveCsv"));
  EXPECT_EQ(m->Files().ReadAll("C:\\Users\\user\\chart.csv").substr(0, 9), "time_sec,");
}

TEST_F(SpeedChartTest, TheLabelsFollowTheLocale) {
  const TFormatSettings Before = GetFormatSettings();
  SetFormatSettings({",", ".", ":"});
  TSpeedChartForm& F = Open(Series({{2, 37.44, "STEP1"}}));
  SetFormatSettings(Before);
  EXPECT_EQ(F.FLblSummary->Caption(), "Data points: 1 | Max speed: 37,4 MB/s | Duration: 0:02");
}

TEST_F(SpeedChartTest, NoSavedPathProposedWithoutAnOutputFolder) {
  Open(Series({{1, 1, "STEP1"}})).Show();
  script.SaveCancel();
  ASSERT_TRUE(ui.Click("BtnSaveCsv"));
  EXPECT_EQ(script.Log()[0].Save.InitialDir, "");
}

// The demo: its save dialog is this computer's, opened on the host folder behind the machine's
// output folder; the CSV chosen there lands in that host folder, wait rows and all.
TEST_F(SpeedChartTest, TheDemosChartSavesIntoTheHostFolderTheDialogShows) {
  const std::filesystem::path Host = UniqueTempPath("vt_chart_demo_");
  std::filesystem::create_directories(Host / "output");
  const std::string Sep(1, Host.string().find('\\') != std::string::npos ? '\\' : '/');
  const std::string HostOutput = Host.string() + Sep + "output";
  m->Files().MountHostFolder("C:\\Users\\user\\Desktop\\vrek", Host.string());
  plat::sim::SimMachine& M = *m;
  const tk::TDialogPaths Before =
      tk::SetDialogPaths({[&M](const std::string& Folder) { return plat::sim::DialogFolderFor(M, Folder); },
                          [&M](const std::string& Chosen, std::string& Why) {
                            return plat::sim::MachinePathForDialogFile(M, Chosen, &Why);
                          }});
  Open(Series({{2, 80, "STEP1"}, {4, 30, "STEP1"}, {6, 0, "STEP1"}, {8, 75.5, "STEP1"}}),
       "C:\\Users\\user\\Desktop\\vrek\\output\\")
      .Show();
  script.Save([&](const tk::headless::TModal& D) -> std::optional<std::string> {
    EXPECT_EQ(D.Save.InitialDir, HostOutput);
    return HostOutput + Sep + "speed_data.csv";
  });
  EXPECT_TRUE(ui.Click("BtnSaveCsv"));
  tk::SetDialogPaths(Before);

  std::ifstream In(Host / "output" / "speed_data.csv", std::ios::binary);
  const std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  EXPECT_EQ(Text,
            "time_sec,speed_mbps,step\r\n2.0,80.00,STEP1\r\n4.0,30.00,STEP1\r\n6.0,0.00,STEP1\r\n"
            "8.0,75.50,STEP1\r\n");
  In.close();
  std::filesystem::remove_all(Host);
}

// A save that fails, from the main window's chart shown modally: an error box with the path and
// the system's message, an ERROR line in the log the main window hands it; the chart stays open.
class SpeedChartOfTheMainWindow : public InspectFixture {};

TEST_F(SpeedChartOfTheMainWindow, AFailedSaveIsShownAndLoggedAndTheChartStaysOpen) {
  Open();
  const std::string Path = "C:\\Users\\user\\locked\\speed_data.csv";
  FileFault Locked;
  Locked.openError = ERROR_ACCESS_DENIED;
  m->Files().SetFault(Path, Locked);
  bool StillOpen = false;
  script.Form([&](tk::TForm& Chart) {
    EXPECT_TRUE(Chart.IsModal());
    EXPECT_FALSE(form->Enabled()) << "the main window waits";
    EXPECT_TRUE(ui.Click("BtnSaveCsv"));
    StillOpen = !Chart.Closed();
    EXPECT_TRUE(ui.Click("BtnClose"));
  });
  script.Save(Path);
  script.Box(IDOK);
  auto Chart = TSpeedChartForm::CreateChart(form.get(), Series({{1, 2, "STEP1"}, {3, 4, "STEP1"}}),
                                            TMainFormTestAccess::OutputDir(*form), form->Logger());
  EXPECT_EQ(Chart->ShowModal(), tk::mrClose);
  tk::DestroyForm(std::move(Chart));
  EXPECT_TRUE(StillOpen);
  EXPECT_TRUE(form->Enabled());

  const auto Log = script.Log();
  ASSERT_EQ(Log.size(), 3u);
  EXPECT_EQ(Log[1].Save.InitialDir, kOutput);
  EXPECT_EQ(Log[2].Caption, "Error");
  EXPECT_EQ(Log[2].Type, MB_ICONERROR | MB_OK);
  EXPECT_NE(Log[2].Text.find(Path), std::string::npos) << Log[2].Text;
  EXPECT_NE(Log[2].Text.find(WinErrorText(ERROR_ACCESS_DENIED)), std::string::npos) << Log[2].Text;
  EXPECT_TRUE(
      LogHas("[ERROR] Speed data CSV save failed: " + Path + " (" + WinErrorText(ERROR_ACCESS_DENIED) + ")"));
  EXPECT_FALSE(m->Files().Exists(Path));
  EXPECT_FALSE(LogHas("Speed data CSV saved"));
}

TEST_F(SpeedChartOfTheMainWindow, ASaveSaysInTheLogWhereItWent) {
  Open();
  const std::string Path = std::string(kOutput) + "speed_data.csv";
  script.Form([&](tk::TForm&) {
    EXPECT_TRUE(ui.Click("BtnSaveCsv"));
    EXPECT_TRUE(ui.Click("BtnClose"));
  });
  script.Save(Path);
  auto Chart = TSpeedChartForm::CreateChart(form.get(), Series({{1, 2, "STEP1"}}), kOutput, form->Logger());
  Chart->ShowModal();
  tk::DestroyForm(std::move(Chart));
  EXPECT_TRUE(m->Files().Exists(Path));
  EXPECT_TRUE(LogHas("[INFO] Speed data CSV saved: " + Path));
}

}  // namespace

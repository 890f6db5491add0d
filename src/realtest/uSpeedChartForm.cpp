#include "realtest/uSpeedChartForm.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "core/uFileWrite.h"
#include "core/uFormat.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "platform/PlatformTypes.h"
#include "ui/toolkit/uTkCanvas.h"
#include "ui/toolkit/uTkCaptionLayout.h"
#include "ui/toolkit/uTkModal.h"

namespace {

// A speed-drop wait's span behind the grid: a pale amber, where the line pauses.
constexpr tk::TColor kWaitColour = tk::RGB(255, 240, 200);
// The least room between two labels of the time axis.
constexpr int kTimeLabelGap = 6;
// How often an open chart looks for new samples of a running test: about twice a sample.
constexpr unsigned kRefreshMs = 1000;

// The caption names the drive the series was taken on, when it names one.
std::string ChartCaption(const TSpeedDataArray& Samples) {
  const std::string Drive = Samples.Drive();
  const std::string Caption = GetLangText(TTextId::SpeedChartCaption);
  return Drive.empty() ? Caption : Caption + " - " + Drive;
}

}  // namespace

TSpeedChartForm::TSpeedChartForm(tk::TForm* AOwner, const TSpeedDataArray& ASamples, const std::string& AOutputDir,
                                 TLogger* ALogger)
    : tk::TForm(AOwner, tk::TCreate{"SpeedChartForm", {}, tk::kAnchorsDefault, ChartCaption(ASamples)}),
      FLogger(ALogger) {
  SetOuterSize({1000, 520});
  SetPosition(tk::TFormPosition::poOwnerFormCenter);
  SetMinOuterSize({600, 350});
  OnResize = [this](tk::TControl* S) { FormResize(S); };

  FSamples = ASamples;
  FOutputDir = AOutputDir;
  FLblSummary = Add<tk::TLabel>(tk::TCreate{"LblSummary", {10, 4, 0, 0}, tk::kAnchorsDefault});
  TakeSnapshot();

  const tk::TSize Client = ClientSize();
  FPaintBox =
      Add<tk::TPaintBox>(tk::TCreate{"PaintBox", {0, 24, Client.Width, Client.Height - 60}, tk::kAnchorsAll});
  FPaintBox->OnPaint = [this](tk::TControl* S) { PaintBoxPaint(S); };

  FBtnSaveCsv = Add<tk::TButton>(tk::TCreate{"BtnSaveCsv",
                                             {Client.Width - 230, Client.Height - 34, 100, 28},
                                             tk::akRight | tk::akBottom,
                                             GetLangText(TTextId::ButtonSaveCsv)});
  FBtnSaveCsv->OnClick = [this](tk::TControl* S) { BtnSaveCsvClick(S); };
  FBtnClose = Add<tk::TButton>(tk::TCreate{"BtnClose",
                                           {Client.Width - 120, Client.Height - 34, 100, 28},
                                           tk::akRight | tk::akBottom,
                                           GetLangText(TTextId::ButtonClose)});
  FBtnClose->OnClick = [this](tk::TControl* S) { BtnCloseClick(S); };

  // Captions decide the buttons' widths; they stay at the window's right edge.
  CaptionLayout().AddRow(tk::TLayoutRow{.Cells = {{FBtnClose}, {FBtnSaveCsv}}, .Flow = tk::TRowFlow::RightToLeft});
  CaptionLayout().AddRow(tk::TLayoutRow{.Cells = {{FLblSummary}}});
  CaptionLayout().Apply();

  FRefreshTimer = AddTimer();
  FRefreshTimer->OnTimer = [this](tk::TTimer*) { Refresh(); };
  FRefreshTimer->SetInterval(kRefreshMs);
  FRefreshTimer->SetEnabled(true);
}

void TSpeedChartForm::TakeSnapshot() {
  FShown = FSamples.Snapshot();
  for (TSpeedDataPoint& P : FShown) P.StepLabel = StepLabelNow(P.StepLabel);
  FMaxSpeed = 0;
  FMaxTime = 0;
  for (const TSpeedDataPoint& P : FShown) {
    if (P.SpeedMBps > FMaxSpeed) FMaxSpeed = P.SpeedMBps;
    if (P.ElapsedSec > FMaxTime) FMaxTime = P.ElapsedSec;
  }
  // At least 1, so that every division of the painting is defined.
  if (FMaxSpeed < 1) FMaxSpeed = 1;
  if (FMaxTime < 1) FMaxTime = 1;
  FLblSummary->SetCaption(Format(GetLangText(TTextId::SpeedChartSummaryFmt), static_cast<int>(FShown.size()),
                                 FMaxSpeed, FormatDuration(FMaxTime)));
}

void TSpeedChartForm::Refresh() {
  // A series only grows, so a snapshot of its size is the series as it stands.
  if (FSamples.size() == FShown.size()) return;
  TakeSnapshot();
  FPaintBox->Invalidate();
}

std::unique_ptr<TSpeedChartForm> TSpeedChartForm::CreateChart(tk::TForm* AOwner, const TSpeedDataArray& ASamples,
                                                              const std::string& AOutputDir, TLogger* ALogger) {
  return tk::CreateForm<TSpeedChartForm>(AOwner, ASamples, AOutputDir, ALogger);
}

tk::TRect TSpeedChartForm::ChartRect() const {
  return SpeedChartPlotRect(FPaintBox->Width(), FPaintBox->Height());
}

// Every label stays inside the paint box: one that would pass an edge moves back in.
void TSpeedChartForm::PaintBoxPaint(tk::TControl*) {
  tk::TCanvas& C = FPaintBox->Canvas();
  const int W = FPaintBox->Width(), H = FPaintBox->Height();
  C.SetBrushColor(tk::RGB(255, 255, 255));
  C.FillRect({0, 0, W, H});

  const tk::TRect R = ChartRect();
  const double YM = std::max(1.0, NiceAxisMax(FMaxSpeed));

  // A wait shows as a span of its own, never as the drive at 0 MB/s.
  if (FShown.size() >= 2) {
    C.SetBrushColor(kWaitColour);
    for (const TWaitSpan& S : FindWaitSpans(FShown)) {
      const int X0 = PlotX(R, S.StartSec, FMaxTime);
      C.FillRect({X0, R.Top, std::max(PlotX(R, S.EndSec, FMaxTime), X0 + 1), R.Bottom});
    }
    C.SetBrushColor(tk::RGB(255, 255, 255));
  }

  C.Pen().Color = tk::RGB(224, 224, 224);
  C.Pen().Style = tk::TPenStyle::psDot;
  C.Font().Color = tk::RGB(128, 128, 128);
  C.Font().SizePt = 8;
  // Speed grid: six lines from 0 to the axis maximum.
  int TopLabelTop = R.Top;  // of the label at the axis maximum
  for (int i = 0; i <= 5; ++i) {
    const double V = i * YM / 5;
    const int Y = PlotY(R, V, YM);
    C.MoveTo(R.Left, Y);
    C.LineTo(R.Right, Y);
    // Below an axis of 5 the lines stand a fraction apart (an empty series' axis is 1): whole
    // numbers would label them 0, 0, 0, 1, 1, 1.
    const std::string Label = Format(YM < 5 ? "%.1f" : "%.0f", V);
    const tk::TSize Size = C.TextExtent(Label);
    const int LabelTop = KeepInside(Y - Size.Height / 2, Size.Height, 0, H);
    C.TextOut(KeepInside(R.Left - Size.Width - 6, Size.Width, 0, W), LabelTop, Label);
    if (i == 5) TopLabelTop = LabelTop;
  }
  // Time grid; t is summed step by step. Past two hours the lines stand half an hour apart, so a
  // long test has more of them than labels fit: a label that would touch the one before it is
  // left out, its line drawn all the same.
  const double Step = TimeGridStep(FMaxTime);
  int LabelEnd = std::numeric_limits<int>::min();
  for (double T = 0; T <= FMaxTime; T += Step) {
    const int X = PlotX(R, T, FMaxTime);
    C.MoveTo(X, R.Top);
    C.LineTo(X, R.Bottom);
    const std::string Label = FormatDuration(T);
    const tk::TSize Size = C.TextExtent(Label);
    const int LabelX = KeepInside(X - Size.Width / 2, Size.Width, 0, W);
    if (LabelEnd != std::numeric_limits<int>::min() && LabelX < LabelEnd + kTimeLabelGap) continue;
    C.TextOut(LabelX, KeepInside(R.Bottom + 4, Size.Height, 0, H), Label);
    LabelEnd = LabelX + Size.Width;
  }

  C.Pen().Color = tk::RGB(0, 0, 0);
  C.Pen().Style = tk::TPenStyle::psSolid;
  C.MoveTo(R.Left, R.Top);
  C.LineTo(R.Left, R.Bottom);
  C.LineTo(R.Right, R.Bottom);

  C.Font().Color = tk::RGB(0, 0, 0);
  C.Font().SizePt = 9;
  C.Font().Bold = true;
  // Above the axis maximum's label, which stands half its height over the plot's top.
  const std::string Unit = "MB/s";
  const tk::TSize UnitSize = C.TextExtent(Unit);
  C.TextOut(KeepInside(R.Left - UnitSize.Width - 4, UnitSize.Width, 0, W),
            KeepInside(std::min(R.Top, TopLabelTop) - UnitSize.Height - 2, UnitSize.Height, 0, H), Unit);
  C.Font().Bold = false;

  if (FShown.empty()) {
    // A running test before its first sample (or a test that took none): said, not left blank.
    C.Font().Color = tk::RGB(128, 128, 128);
    const tk::TSize Size = C.TextExtent(kNoDataNotice);
    C.TextOut(KeepInside((R.Left + R.Right - Size.Width) / 2, Size.Width, 0, W),
              KeepInside((R.Top + R.Bottom - Size.Height) / 2, Size.Height, 0, H), kNoDataNotice);
  }
  if (FShown.size() < 2) return;

  // A marker where the step changes; an empty label neither draws nor counts as a change, so a
  // step that resumes after one leaves no second marker.
  C.Font().SizePt = 7;
  C.Font().Color = tk::RGB(96, 96, 96);
  std::vector<int> MarkerX;
  std::vector<std::string> Labels;
  std::vector<tk::TSize> Sizes;
  for (const TSpeedDataPoint& P : FShown) {
    if (P.StepLabel.empty() || (!Labels.empty() && P.StepLabel == Labels.back())) continue;
    MarkerX.push_back(PlotX(R, P.ElapsedSec, FMaxTime));
    Labels.push_back(P.StepLabel);
    Sizes.push_back(C.TextExtent(P.StepLabel));
  }
  const std::vector<tk::TPoint> LabelAt = PlaceStepLabels(MarkerX, Sizes, R, W);
  for (size_t I = 0; I < MarkerX.size(); ++I) {
    C.Pen().Color = tk::RGB(204, 204, 204);
    C.Pen().Style = tk::TPenStyle::psDash;
    C.MoveTo(MarkerX[I], R.Top);
    C.LineTo(MarkerX[I], R.Bottom);
    C.Pen().Style = tk::TPenStyle::psSolid;
    C.TextOut(LabelAt[I].X, LabelAt[I].Y, Labels[I]);
  }

  // The speed line, broken at every wait; speeds above the axis maximum run along the top edge.
  C.Pen().Color = tk::RGB(0, 0, 255);
  C.Pen().Width = 2;
  bool Joined = false;  // the pen stands at the previous sample
  for (const TSpeedDataPoint& P : FShown) {
    if (IsWaitSample(P)) {
      Joined = false;
      continue;
    }
    const int X = PlotX(R, P.ElapsedSec, FMaxTime), Y = PlotY(R, P.SpeedMBps, YM);
    if (Joined)
      C.LineTo(X, Y);
    else
      C.MoveTo(X, Y);
    Joined = true;
  }
  C.Pen().Width = 1;
}

void TSpeedChartForm::BtnSaveCsvClick(tk::TControl*) {
  tk::TSaveDialogOptions Options;
  Options.Title = GetLangText(TTextId::SaveSpeedCsvCaption);
  Options.Filter = "CSV files (*.csv)|*.csv|All files (*.*)|*.*";
  Options.DefaultExt = ".csv";
  Options.FileName = "speed_data.csv";
  Options.InitialDir = FOutputDir;
  std::string Path;
  if (!tk::SaveFileDialog(this, Options, Path)) return;

  // What is saved is what the chart shows: the samples so far of a test still running.
  Refresh();
  // A full stop whatever the locale: the columns stay separable by their commas.
  std::string Text = "time_sec,speed_mbps,step\r\n";
  for (const TSpeedDataPoint& P : FShown)
    Text += FormatPlain("%.1f,%.2f,%s\r\n", P.ElapsedSec, P.SpeedMBps, P.StepLabel);
  try {
    WriteWholeFile(Path, Text);
    if (FLogger) FLogger->Info(Format("Speed data CSV saved: %s", Path));
  } catch (const EFileError& E) {
    // Said here, where it happens; the chart stays open.
    const std::string Why = WinErrorText(E.WinErr());
    if (FLogger) FLogger->Error(Format("Speed data CSV save failed: %s (%s)", Path, Why));
    tk::MessageBox(this, Format("The file could not be saved:\r\n%s\r\n\r\n%s", Path, Why),
                   GetLangText(TTextId::ErrorCaption), plat::MB_ICONERROR | plat::MB_OK);
  }
}

void TSpeedChartForm::BtnCloseClick(tk::TControl*) { Close(); }

void TSpeedChartForm::FormResize(tk::TControl*) { FPaintBox->Invalidate(); }

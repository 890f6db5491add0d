#include "realtest/uSpeedChartForm.h"

#include <algorithm>
#include <cmath>

#include "core/uFileWrite.h"
#include "core/uFormat.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "platform/PlatformTypes.h"
#include "ui/toolkit/uTkCanvas.h"
#include "ui/toolkit/uTkCaptionLayout.h"
#include "ui/toolkit/uTkModal.h"
#include "ui/uMainForm.h"

namespace {

// Rounded to the nearest integer, halves to even (the default rounding mode); kept inside the
// range of an int so that no value makes the conversion undefined.
int Nearest(double A) {
  const double R = std::nearbyint(A);
  if (!(R > -1e9)) return -1000000000;  // NaN too
  if (R > 1e9) return 1000000000;
  return static_cast<int>(R);
}

}  // namespace

TSpeedChartForm::TSpeedChartForm(tk::TForm* AOwner, const TSpeedDataArray& ASamples, const std::string& AOutputDir)
    : tk::TForm(AOwner,
                tk::TCreate{"SpeedChartForm", {}, tk::kAnchorsDefault, GetLangText(TTextId::SpeedChartCaption)}) {
  SetOuterSize({1000, 520});
  SetPosition(tk::TFormPosition::poOwnerFormCenter);
  SetMinOuterSize({600, 350});
  OnResize = [this](tk::TControl* S) { FormResize(S); };
  if (auto* Main = dynamic_cast<TMainForm*>(AOwner)) FLogger = Main->Logger();

  FSamples = ASamples;
  FOutputDir = AOutputDir;
  FMaxSpeed = 0;
  FMaxTime = 0;
  for (const TSpeedDataPoint& P : FSamples) {
    if (P.SpeedMBps > FMaxSpeed) FMaxSpeed = P.SpeedMBps;
    if (P.ElapsedSec > FMaxTime) FMaxTime = P.ElapsedSec;
  }
  // At least 1, so that every division of the painting is defined.
  if (FMaxSpeed < 1) FMaxSpeed = 1;
  if (FMaxTime < 1) FMaxTime = 1;

  FLblSummary =
      Add<tk::TLabel>(tk::TCreate{"LblSummary",
                                  {10, 4, 0, 0},
                                  tk::kAnchorsDefault,
                                  Format(GetLangText(TTextId::SpeedChartSummaryFmt),
                                         static_cast<int>(FSamples.size()), FMaxSpeed, FormatDuration(FMaxTime))});

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
}

std::unique_ptr<TSpeedChartForm> TSpeedChartForm::CreateChart(tk::TForm* AOwner, const TSpeedDataArray& ASamples,
                                                              const std::string& AOutputDir) {
  return tk::CreateForm<TSpeedChartForm>(AOwner, ASamples, AOutputDir);
}

tk::TRect TSpeedChartForm::ChartRect() const {
  tk::TRect R{70, 40, FPaintBox->Width() - 30, FPaintBox->Height() - 50};
  if (R.Right < R.Left + 10) R.Right = R.Left + 10;
  if (R.Bottom < R.Top + 10) R.Bottom = R.Top + 10;
  return R;
}

void TSpeedChartForm::PaintBoxPaint(tk::TControl*) {
  tk::TCanvas& C = FPaintBox->Canvas();
  const int W = FPaintBox->Width(), H = FPaintBox->Height();
  C.SetBrushColor(tk::RGB(255, 255, 255));
  C.FillRect({0, 0, W, H});

  const tk::TRect R = ChartRect();
  const double PW = R.Width(), PH = R.Height();
  const double YM = std::max(1.0, NiceAxisMax(FMaxSpeed));

  C.Pen().Color = tk::RGB(224, 224, 224);
  C.Pen().Style = tk::TPenStyle::psDot;
  C.Font().Color = tk::RGB(128, 128, 128);
  C.Font().SizePt = 8;
  // Speed grid: six lines from 0 to the axis maximum.
  for (int i = 0; i <= 5; ++i) {
    const double V = i * YM / 5;
    const int Y = R.Bottom - Nearest(PH * V / YM);
    C.MoveTo(R.Left, Y);
    C.LineTo(R.Right, Y);
    const std::string Label = Format("%.0f", V);
    C.TextOut(R.Left - C.TextWidth(Label) - 6, Y - C.TextHeight(Label) / 2, Label);
  }
  // Time grid; t is summed step by step.
  const double Step = TimeGridStep(FMaxTime);
  for (double T = 0; T <= FMaxTime; T += Step) {
    const int X = R.Left + Nearest(PW * T / FMaxTime);
    C.MoveTo(X, R.Top);
    C.LineTo(X, R.Bottom);
    const std::string Label = FormatDuration(T);
    C.TextOut(X - C.TextWidth(Label) / 2, R.Bottom + 4, Label);
  }

  C.Pen().Color = tk::RGB(0, 0, 0);
  C.Pen().Style = tk::TPenStyle::psSolid;
  C.MoveTo(R.Left, R.Top);
  C.LineTo(R.Left, R.Bottom);
  C.LineTo(R.Right, R.Bottom);

  C.Font().Color = tk::RGB(0, 0, 0);
  C.Font().SizePt = 9;
  C.Font().Bold = true;
  const std::string Unit = "MB/s";
  C.TextOut(R.Left - C.TextWidth(Unit) - 4, R.Top - C.TextHeight(Unit) - 2, Unit);
  C.Font().Bold = false;

  if (FSamples.size() < 2) return;

  // A marker where the step changes; an empty label neither draws nor counts as a change, so a
  // step that resumes after one leaves no second marker.
  C.Font().SizePt = 7;
  C.Font().Color = tk::RGB(96, 96, 96);
  std::string Current;
  for (const TSpeedDataPoint& P : FSamples) {
    if (P.StepLabel.empty() || P.StepLabel == Current) continue;
    const int X = R.Left + Nearest(PW * P.ElapsedSec / FMaxTime);
    C.Pen().Color = tk::RGB(204, 204, 204);
    C.Pen().Style = tk::TPenStyle::psDash;
    C.MoveTo(X, R.Top);
    C.LineTo(X, R.Bottom);
    C.Pen().Style = tk::TPenStyle::psSolid;
    C.TextOut(X + 2, R.Top + 2, P.StepLabel);
    Current = P.StepLabel;
  }

  // The speed line; speeds above the axis maximum run along the top edge.
  C.Pen().Color = tk::RGB(0, 0, 255);
  C.Pen().Width = 2;
  bool First = true;
  for (const TSpeedDataPoint& P : FSamples) {
    const int X = R.Left + Nearest(PW * P.ElapsedSec / FMaxTime);
    const int Y = R.Bottom - Nearest(std::min(P.SpeedMBps, YM) * PH / YM);
    if (First)
      C.MoveTo(X, Y);
    else
      C.LineTo(X, Y);
    First = false;
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

  // A full stop whatever the locale: the columns stay separable by their commas.
  std::string Text = "time_sec,speed_mbps,step\r\n";
  for (const TSpeedDataPoint& P : FSamples)
    Text += FormatPlain("%.1f,%.2f,%s\r\n", P.ElapsedSec, P.SpeedMBps, P.StepLabel);
  try {
    WriteWholeFile(Path, Text);
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

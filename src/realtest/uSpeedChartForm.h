// The speed chart: a modal window, built in code, that draws a real test's speed series (the
// running test's samples so far, or the last test's) as a line over time on a labelled grid,
// marks where the test's step changed, and saves the series as speed_data.csv.
#pragma once

#include <memory>
#include <string>

#include "realtest/uSpeedData.h"
#include "ui/toolkit/uTkControls.h"
#include "ui/toolkit/uTkForm.h"

class TLogger;

class TSpeedChartForm : public tk::TForm {
 public:
  // CreateChart: the window over ASamples (shared, not copied), centred on AOwner, its caption
  // naming the series' drive; the save dialog opens in AOutputDir when it is not empty. Saves
  // are also logged through ALogger, the owner's log, when it gives one.
  TSpeedChartForm(tk::TForm* AOwner, const TSpeedDataArray& ASamples, const std::string& AOutputDir,
                  TLogger* ALogger = nullptr);
  // Made and its creation event run, as the speed-chart button shows it.
  static std::unique_ptr<TSpeedChartForm> CreateChart(tk::TForm* AOwner, const TSpeedDataArray& ASamples,
                                                      const std::string& AOutputDir, TLogger* ALogger = nullptr);

  // The plot area inside the paint box: left 70, top 40, right and bottom 30 and 50 pixels in,
  // at least 10 pixels wide and high.
  tk::TRect ChartRect() const;

  void PaintBoxPaint(tk::TControl* Sender);
  void BtnSaveCsvClick(tk::TControl* Sender);
  void BtnCloseClick(tk::TControl* Sender);
  void FormResize(tk::TControl* Sender);
  // Takes a new snapshot when the series has grown (a test still running): the summary, the
  // maxima and the picture follow it. Every second, and before a save.
  void Refresh();

  tk::TPaintBox* FPaintBox = nullptr;
  tk::TButton* FBtnClose = nullptr;
  tk::TButton* FBtnSaveCsv = nullptr;
  tk::TLabel* FLblSummary = nullptr;
  TSpeedDataArray FSamples;  // shared with the test that fills it
  TSpeedSamples FShown;      // the snapshot drawn and saved, its step labels in the current language
  tk::TTimer* FRefreshTimer = nullptr;
  double FMaxSpeed = 0;  // the largest SpeedMBps, at least 1
  double FMaxTime = 0;   // the largest ElapsedSec, at least 1
  std::string FOutputDir;
  TLogger* FLogger = nullptr;  // the owner's, or none

  // Drawn in the plot while the series has no sample; the window says the same in a box when
  // there is no series to open.
  static constexpr const char* kNoDataNotice = "No speed data available.";

 private:
  void TakeSnapshot();
};

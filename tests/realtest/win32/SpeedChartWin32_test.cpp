// Under wine inside Xvfb: the speed chart as real windows. It opens modally, centred on its
// owner with its minimum size, paints (a wait as its span, a step label at the right edge whole,
// the unit label clear of the speed axis' top label, in the real font's measure), and Save CSV
// writes the file the save dialog names; the test drives the window and the dialog from a timer,
// as a person would.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "core/uLang.h"
#include "realtest/uSpeedChartForm.h"
#include "ui/toolkit/win32/Win32ToolkitFixture.h"

namespace tk::win32::testing {
namespace {

class Win32SpeedChartTest : public Win32ToolkitTest {};

TEST_F(Win32SpeedChartTest, OpensModallyCentredPaintsAndSavesItsCsv) {
  SetCurrentLanguage(TUiLanguage::ulEnglish);
  wchar_t tmp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, tmp);
  const std::wstring Dir = std::wstring(tmp) + L"vt_chart_" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(Dir.c_str(), nullptr);
  const std::wstring Csv = Dir + L"\\speed_data.csv";
  DeleteFileW(Csv.c_str());

  auto Owner = std::make_unique<TForm>(nullptr, Cr("Owner", {}, kAnchorsDefault, "Owner"));
  Owner->SetBounds({100, 100, 1100, 800});
  Owner->Show();
  Pump();

  TSpeedDataArray Samples;
  Samples.Add({0, 12.5, "STEP1 TRIM"});
  Samples.Add({20, 37.4, "STEP1"});
  Samples.Add({22, 0, "STEP1"});  // a speed-drop wait
  Samples.Add({24, 0, "STEP1"});
  Samples.Add({26, 30, "STEP1"});
  Samples.Add({45, 30.25, "STEP4 Verify"});  // a step label at the right edge
  auto Chart = TSpeedChartForm::CreateChart(Owner.get(), Samples, Narrow(Dir) + "\\");
  const HWND OwnerWnd = Wnd(Owner.get());

  int Phase = 0;
  bool OwnerDisabled = false, SavedWhileOpen = false;
  RECT ChartBox{}, OwnerBox{};
  MINMAXINFO Limits{};
  COLORREF Background = 0, Axis = 0, Wait = 0;
  int Blue = 0, TextAtTheEdge = 0, UnitBottom = -1, TopLabelTop = 1 << 20;
  TTimer* T = Chart->AddTimer();
  T->OnTimer = [&](TTimer*) {
    const HWND ChartWnd = Wnd(Chart.get());
    switch (Phase) {
      case 0: {
        if (!IsWindowVisible(ChartWnd)) return;
        OwnerDisabled = !IsWindowEnabled(OwnerWnd);
        GetWindowRect(ChartWnd, &ChartBox);
        GetWindowRect(OwnerWnd, &OwnerBox);
        SendMessageW(ChartWnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&Limits));
        // What the paint box paints, read back from a bitmap it paints into.
        const HWND Box = Wnd(Chart->FPaintBox);
        RECT R;
        GetClientRect(Box, &R);
        HDC Screen = GetDC(Box);
        HDC Mem = CreateCompatibleDC(Screen);
        HBITMAP Bmp = CreateCompatibleBitmap(Screen, R.right, R.bottom);
        HGDIOBJ Old = SelectObject(Mem, Bmp);
        SendMessageW(Box, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(Mem), PRF_CLIENT);
        Background = GetPixel(Mem, 5, 5);
        // The time axis at 5 s: no grid line, marker or sample there.
        Axis = GetPixel(Mem, 70 + (R.right - 30 - 70) / 9, R.bottom - 50);
        for (int Y = 40; Y < R.bottom - 50; ++Y)
          for (int X = 70; X < R.right - 30; X += 3) Blue += GetPixel(Mem, X, Y) == RGB(0, 0, 255);
        // The wait's span, between two speed grid lines, at 22 s.
        const int PlotH = R.bottom - 50 - 40;
        Wait = GetPixel(Mem, 70 + (R.right - 30 - 70) * 22 / 45, 40 + PlotH / 10);
        // Left of the plot's top: the unit label in black over the speed axis' top label in grey.
        for (int Y = 0; Y < 40 + 12; ++Y)
          for (int X = 0; X < 68; ++X) {
            const COLORREF P = GetPixel(Mem, X, Y);
            if (P == RGB(0, 0, 0)) UnitBottom = std::max(UnitBottom, Y);
            if (P == RGB(128, 128, 128)) TopLabelTop = std::min(TopLabelTop, Y);
          }
        // Dark text pixels in the box's last columns: a label cut at the edge.
        for (int Y = 40; Y < 80; ++Y)
          for (int X = R.right - 3; X < R.right; ++X) TextAtTheEdge += GetRValue(GetPixel(Mem, X, Y)) < 160;
        SelectObject(Mem, Old);
        DeleteObject(Bmp);
        DeleteDC(Mem);
        ReleaseDC(Box, Screen);
        PostMessageW(Wnd(Chart->FBtnSaveCsv), BM_CLICK, 0, 0);
        Phase = 1;
        return;
      }
      case 1: {
        HWND Dlg = FindWindowW(L"#32770", L"Save Speed Data CSV");
        if (!Dlg || !IsWindowVisible(Dlg)) return;
        SendMessageW(GetDlgItem(Dlg, IDOK), BM_CLICK, 0, 0);
        Phase = 2;
        return;
      }
      case 2:
        if (GetFileAttributesW(Csv.c_str()) == INVALID_FILE_ATTRIBUTES) return;
        SavedWhileOpen = IsWindowVisible(ChartWnd);
        PostMessageW(Wnd(Chart->FBtnClose), BM_CLICK, 0, 0);
        Phase = 3;
        return;
      default: return;
    }
  };
  T->SetInterval(20);
  T->SetEnabled(true);

  EXPECT_EQ(Chart->ShowModal(), mrClose);
  EXPECT_EQ(Phase, 3);
  EXPECT_TRUE(OwnerDisabled);
  EXPECT_TRUE(IsWindowEnabled(OwnerWnd));
  EXPECT_EQ(ChartBox.right - ChartBox.left, 1000);
  EXPECT_EQ(ChartBox.bottom - ChartBox.top, 520);
  EXPECT_EQ(ChartBox.left + ChartBox.right, OwnerBox.left + OwnerBox.right) << "centred on its owner";
  EXPECT_LE(std::abs((ChartBox.top + ChartBox.bottom) - (OwnerBox.top + OwnerBox.bottom)), 1);
  EXPECT_EQ(Limits.ptMinTrackSize.x, 600);
  EXPECT_EQ(Limits.ptMinTrackSize.y, 350);
  EXPECT_EQ(Background, RGB(255, 255, 255));
  EXPECT_EQ(Axis, RGB(0, 0, 0));
  EXPECT_GT(Blue, 0) << "the speed line";
  EXPECT_EQ(Wait, RGB(255, 240, 200)) << "the wait's span";
  EXPECT_EQ(TextAtTheEdge, 0) << "the step label at the right edge is cut";
  EXPECT_GE(UnitBottom, 0) << "no unit label";
  EXPECT_LT(UnitBottom, TopLabelTop) << "the unit label runs into the speed axis' top label";
  EXPECT_TRUE(SavedWhileOpen);
  EXPECT_TRUE(exceptions_.empty());

  std::string Text(4096, '\0');
  DWORD Read = 0;
  HANDLE File = CreateFileW(Csv.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(File, INVALID_HANDLE_VALUE);
  ReadFile(File, Text.data(), static_cast<DWORD>(Text.size()), &Read, nullptr);
  CloseHandle(File);
  Text.resize(Read);
  EXPECT_EQ(Text,
            "time_sec,speed_mbps,step\r\n0.0,12.50,STEP1 TRIM\r\n20.0,37.40,STEP1\r\n22.0,0.00,STEP1\r\n"
            "24.0,0.00,STEP1\r\n26.0,30.00,STEP1\r\n45.0,30.25,STEP4 Verify\r\n");

  DestroyForm(std::move(Chart));
  DeleteFileW(Csv.c_str());
  RemoveDirectoryW(Dir.c_str());
}

}  // namespace
}  // namespace tk::win32::testing

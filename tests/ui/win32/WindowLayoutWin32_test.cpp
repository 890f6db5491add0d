// Under wine inside Xvfb: the window as the user reads it, judged from the real controls
// (tests/ui/toolkit/win32/Win32LayoutCheck.h) in all eight languages, switched live through the
// language selector: every tab in the states that change its captions, the speed chart and the
// disk-number dialog. After each switch the window must look as it does when painted anew: no
// piece of the old tab strip, captions or places stays behind.
#include "MainFormWin32Fixture.h"

#include <algorithm>

#include "core/uLang.h"
#include "realtest/uSpeedChartForm.h"
#include "ui/toolkit/uTkModal.h"
#include "ui/toolkit/win32/Win32LayoutCheck.h"

namespace mainwin32 {
namespace {

void UserPicks(HWND Combo, int Index) {
  SendMessageW(Combo, CB_SETCURSEL, Index, 0);
  SendMessageW(GetParent(Combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(Combo), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(Combo));
}

void UserPicksTab(HWND Pages, int Index) {
  SendMessageW(Pages, TCM_SETCURSEL, Index, 0);
  NMHDR n = {Pages, static_cast<UINT_PTR>(GetDlgCtrlID(Pages)), static_cast<UINT>(TCN_SELCHANGE)};
  SendMessageW(GetParent(Pages), WM_NOTIFY, n.idFrom, reinterpret_cast<LPARAM>(&n));
}

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

class WindowLayoutWin32Test : public MainFormWin32Test {
 protected:
  // A disk with an exFAT volume, a blank one, and one whose only volume is FAT: its file-system
  // policy line is the longest the window writes.
  const char* MachineText() const override {
    return "disk 0 sata size=64G\n"
           "volume C fs=ntfs\n"
           "disk 1 bot size=32G product=\"Portable SSD\" serial=BOT0001\n"
           "volume E fs=exfat\n"
           "disk 2 uas size=16G product=\"Blank SSD\" serial=UAS0002\n"
           "disk 3 uas size=16G product=\"Old SSD\" serial=UAS0003\n";
  }
  void AddToMachine() override { machine_->Discovery().AddVolume('G', 3, 1 << 20, 2ull << 30, "FAT", 4096); }

  // Handles what waits, paints included; nothing waits for the workers' later calls.
  void Drain() { backend_->ProcessMessages(); }

  void ExpectFits(const std::string& Where, HWND Window) {
    for (const std::string& f : tk::win32::testing::LayoutFaults(Window)) ADD_FAILURE() << Where << ": " << f;
  }

  // What the window shows now is what it shows painted anew.
  void ExpectPaintedWhole(const std::string& Where) {
    HWND w = Wnd(form_.get());
    // No control shows focus, which comes and goes with the window's activation (the tests of
    // other processes share the display). What is still due to be painted is painted (on a busy
    // machine the loop may not have got there yet); what nobody asked to repaint stays as it is.
    SetFocus(nullptr);
    RedrawWindow(w, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    // Should the activation come back meanwhile, the control it focuses is left out.
    std::vector<RECT> focused;
    auto noteFocus = [&] {
      HWND f = GetFocus();
      if (!f || !IsChild(w, f)) return;
      RECT r;
      GetWindowRect(f, &r);
      MapWindowPoints(HWND_DESKTOP, w, reinterpret_cast<POINT*>(&r), 2);
      focused.push_back(r);
    };
    SIZE size;
    const auto now = Picture(w, size);
    noteFocus();
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    SIZE again;
    const auto anew = Picture(w, again);
    noteFocus();
    ASSERT_EQ(size.cx, again.cx);
    ASSERT_EQ(size.cy, again.cy);
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
    EXPECT_EQ(differ, 0) << Where << ": pixels left from before, within " << box.left << "," << box.top << " .. "
                         << box.right << "," << box.bottom;
  }

  void ExpectEveryViewFits(const std::string& Where) {
    TMainForm& f = *form_;
    UserPicksTab(Wnd(f.PageMain), 0);
    f.CbAdvanced->SetChecked(true);
    f.CbAdvancedClick(nullptr);
    for (int disk = 0; disk < 3; disk++) {
      UserPicks(Wnd(f.CmbDisk), disk);
      Drain();
      if (disk == 1) {
        // Full device: the partition-style row shows.
        SendMessageW(GetWindow(Wnd(f.RgMode), GW_CHILD), BM_CLICK, 0, 0);
        Drain();
        EXPECT_TRUE(IsWindowVisible(Wnd(f.CbInitStyle))) << Where;
      }
      ExpectFits(Where + ", TRIM tab, disk " + std::to_string(disk), Wnd(&f));
    }
    UserPicks(Wnd(f.CmbDisk), 1);
    UserPicksTab(Wnd(f.PageMain), 1);
    Drain();
    ExpectFits(Where + ", inspection tab", Wnd(&f));
    SendMessageW(Wnd(f.BtnInspect), BM_CLICK, 0, 0);  // a disk without volumes
    Drain();
    ExpectFits(Where + ", inspection tab, blank disk inspected", Wnd(&f));
    UserPicks(Wnd(f.CmbDisk), 0);
    SendMessageW(Wnd(f.BtnInspect), BM_CLICK, 0, 0);
    Drain();
    ExpectFits(Where + ", inspection tab, disk inspected", Wnd(&f));

    UserPicksTab(Wnd(f.PageMain), 2);
    f.SetRealStatus("Running");
    f.SetRealSpeed("W 523.4 MB/s");
    f.SetRealElapsed("12:34:56");
    f.SetStepElapsed("1:23:45");
    Drain();
    ExpectFits(Where + ", real-test tab", Wnd(&f));

    TSpeedDataArray samples;
    samples.Add({0, 12.5, "STEP1 TRIM"});
    samples.Add({20, 37.4, "STEP1"});
    auto chart = TSpeedChartForm::CreateChart(&f, samples, "C:\\out\\");
    chart->Show();
    Drain();
    ExpectFits(Where + ", speed chart", Wnd(chart.get()));
    tk::DestroyForm(std::move(chart));

    // The second confirmation's dialog, judged from inside its own loop and closed.
    bool judged = false;
    tk::Application().PostDeferred([&] {
      HWND dialog = nullptr;
      PumpUntil([&] { return (dialog = FindWindowW(tk::win32::InputDialogClass(), nullptr)) != nullptr; }, 2000);
      if (dialog) {
        ExpectFits(Where + ", disk-number dialog", dialog);
        judged = true;
        PostMessageW(dialog, WM_CLOSE, 0, 0);
      }
    });
    std::string typed;
    EXPECT_FALSE(tk::InputQuery(&f, GetLangText(TTextId::ConfirmCaption),
                                GetLangText(TTextId::EnterDiskNumberPrefix), typed));
    EXPECT_TRUE(judged) << Where;
    Drain();
  }
};

TEST_F(WindowLayoutWin32Test, EveryViewFitsInEveryLanguageAndASwitchLeavesNothingOfTheOld) {
  ASSERT_TRUE(PumpUntil([&] { return form_->CmbDisk->ItemCount() == 3; }));
  // German and Russian to English shorten the tab strip, the captions and the rows most.
  const int order[] = {5, 1, 0, 2, 3, 4, 6, 7, 1};
  std::vector<bool> judged(8);
  for (int lang : order) {
    const std::string where = LanguageDisplayName(LanguageFromIndex(lang));
    UserPicks(Wnd(form_->CmbLanguage), lang);
    ASSERT_TRUE(PumpUntil([&] { return GetCurrentLanguage() == LanguageFromIndex(lang); }));
    Drain();
    ExpectPaintedWhole("switched to " + where);
    if (judged[lang]) continue;
    judged[lang] = true;
    ExpectEveryViewFits(where);
  }
}

}  // namespace
}  // namespace mainwin32

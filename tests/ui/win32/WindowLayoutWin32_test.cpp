// Under wine inside Xvfb: the window as the user reads it, judged from the real controls
// (tests/ui/toolkit/win32/Win32LayoutCheck.h) in all eight languages, switched live through the
// language selector: every tab in the states that change its captions, the speed chart and the
// disk-number dialog. After each switch, and after a control hides, the window must look as it
// does when painted anew: no piece of the old tab strip, captions or places stays behind.
#include "MainFormWin32Fixture.h"

#include "core/uLang.h"
#include "realtest/uSpeedChartForm.h"
#include "ui/RealTestLabelValues.h"
#include "ui/toolkit/uTkModal.h"
#include "ui/toolkit/win32/Win32LayoutCheck.h"
#include "ui/toolkit/win32/Win32PaintCheck.h"

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
    const std::string left = tk::win32::testing::PixelsLeftFromBefore(Wnd(form_.get()));
    EXPECT_TRUE(left.empty()) << Where << ": " << left;
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
    // Every value the four labels show during a test, drawn whole.
    const TRealTestLabelValues values = RealTestLabelValues();
    for (size_t row = 0; row < values.Rows(); ++row) {
      values.Show(f, row);
      Drain();
      ExpectFits(Where + ", real-test tab, \"" + f.LblRealStatus->Caption() + "\"", Wnd(&f));
    }

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

// A control hidden inside a group box (which paints only its frame and caption) leaves no
// picture of itself behind: the partition-style row of a blank disk, gone with a disk that has
// volumes.
TEST_F(WindowLayoutWin32Test, AControlHiddenInAGroupBoxLeavesNothingBehind) {
  ASSERT_TRUE(PumpUntil([&] { return form_->CmbDisk->ItemCount() == 3; }));
  TMainForm& f = *form_;
  UserPicks(Wnd(f.CmbDisk), 1);  // blank: full device, the row shows
  Drain();
  ASSERT_TRUE(IsWindowVisible(Wnd(f.CbInitStyle)));
  ExpectPaintedWhole("blank disk");
  UserPicks(Wnd(f.CmbDisk), 0);
  Drain();
  ASSERT_FALSE(IsWindowVisible(Wnd(f.CbInitStyle)));
  ExpectPaintedWhole("then a disk with a volume");
}

}  // namespace
}  // namespace mainwin32

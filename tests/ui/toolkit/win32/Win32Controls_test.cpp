// Under wine inside Xvfb: the toolkit's controls are real windows of the right classes, at their
// places in the parent's client area, with their captions, fonts and tooltips.
#include "Win32ToolkitFixture.h"

#include "ui/toolkit/uTkControls.h"
#include "ui/toolkit/win32/Win32Peer.h"

#include <cstdio>
#include <functional>

namespace tk::win32::testing {
namespace {

class Win32ControlsTest : public Win32ToolkitTest {
 protected:
  void SetUp() override {
    Win32ToolkitTest::SetUp();
    if (IsSkipped()) return;
    form_ = ShowForm({980, 760}, "vrek_trim_tool 0.1");
    top_ = form_->Add<TPanel>(Cr("PanelTop", {0, 0, 980, 28}, akLeft | akTop | akRight));
    pages_ = form_->Add<TPageControl>(Cr("PageMain", {0, 28, 980, 732}, kAnchorsAll));
    trim_ = pages_->Add<TTabSheet>(Cr("TabTrim", {}, kAnchorsAll, "TRIM Execute"));
    inspect_ = pages_->Add<TTabSheet>(Cr("TabInspect", {}, kAnchorsAll, "Drive Inspect"));
    group_ =
        trim_->Add<TGroupBox>(Cr("GroupSelection", {8, 8, 960, 64}, akLeft | akTop | akRight, "Disk Selection"));
    combo_ = group_->Add<TComboBox>(Cr("CmbDisk", {12, 8, 698, 23}, akLeft | akTop | akRight));
    refresh_ = group_->Add<TButton>(Cr("BtnRefresh", {724, 4, 110, 31}, akTop | akRight, "Refresh"));
    mode_ =
        trim_->Add<TGroupBox>(Cr("GroupMode", {8, 80, 960, 144}, akLeft | akTop | akRight, "Execution Options"));
    radio_ = mode_->Add<TRadioGroup>(Cr("RgMode", {12, 8, 420, 84}, kAnchorsDefault, "Execution Mode"));
    radio_->SetItems({"Full TRIM (Entire device range)", "Free-space TRIM only"});
    radio_->SetItemIndex(0);
    dry_ = mode_->Add<TCheckBox>(
        Cr("CbDryRun", {452, 14, 164, 19}, kAnchorsDefault, "Dry-run (verify only, no send)"));
    policy_ = mode_->Add<TLabel>(Cr("LblFsPolicy", {12, 104, 0, 0}, kAnchorsDefault, "FS policy: -"));
    memo_ = trim_->Add<TMemo>(Cr("MemoDiskInfo", {8, 232, 960, 120}, akLeft | akTop | akRight));
    spin_ = trim_->Add<TSpinEdit>(Cr("SpTimeout", {12, 360, 140, 23}));
    spin_->SetRange(1000, 120000, 1000);
    spin_->SetValue(5000);
    progress_ = trim_->Add<TProgressBar>(Cr("PbProgress", {376, 360, 578, 31}, akLeft | akTop | akRight));
    grid_ = inspect_->Add<TStringGrid>(Cr("GridVolumes", {8, 8, 600, 200}));
    box_ = inspect_->Add<TPaintBox>(Cr("Chart", {8, 216, 300, 200}));
    Pump();
  }

  std::unique_ptr<TForm> form_;
  TPanel* top_ = nullptr;
  TPageControl* pages_ = nullptr;
  TTabSheet *trim_ = nullptr, *inspect_ = nullptr;
  TGroupBox *group_ = nullptr, *mode_ = nullptr;
  TComboBox* combo_ = nullptr;
  TButton* refresh_ = nullptr;
  TRadioGroup* radio_ = nullptr;
  TCheckBox* dry_ = nullptr;
  TLabel* policy_ = nullptr;
  TMemo* memo_ = nullptr;
  TSpinEdit* spin_ = nullptr;
  TProgressBar* progress_ = nullptr;
  TStringGrid* grid_ = nullptr;
  TPaintBox* box_ = nullptr;
};

TEST_F(Win32ControlsTest, EachControlIsAWindowOfItsClassWithItsCaption) {
  struct Case {
    TControl* Control;
    const char* Class;
    const char* Text;
  };
  const Case cases[] = {
      {form_.get(), "VtTkForm", "vrek_trim_tool 0.1"},
      {top_, "VtTkPanel", ""},
      {pages_, "SysTabControl32", ""},
      {trim_, "VtTkPanel", "TRIM Execute"},
      {group_, "Button", "Disk Selection"},
      {combo_, "ComboBox", ""},
      {refresh_, "Button", "Refresh"},
      {radio_, "Button", "Execution Mode"},
      {dry_, "Button", "Dry-run (verify only, no send)"},
      {policy_, "Static", "FS policy: -"},
      {memo_, "Edit", ""},
      {spin_, "Edit", "5000"},
      {progress_, "msctls_progress32", ""},
      {grid_, "SysListView32", ""},
      {box_, "VtTkPaintBox", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Control->Name());
    HWND w = Wnd(c.Control);
    ASSERT_TRUE(IsWindow(w));
    EXPECT_EQ(ClassOf(w), c.Class);
    EXPECT_EQ(WindowText(w), c.Text);
    // Every common control has the GUI font; none is left with the system font.
    if (c.Class[0] != 'V') {
      EXPECT_EQ(reinterpret_cast<void*>(SendMessageW(w, WM_GETFONT, 0, 0)), backend_.GuiFont());
    }
  }
  LONG_PTR style = GetWindowLongPtrW(Wnd(group_), GWL_STYLE);
  EXPECT_EQ(style & BS_TYPEMASK, BS_GROUPBOX);
  EXPECT_EQ(GetWindowLongPtrW(Wnd(dry_), GWL_STYLE) & BS_TYPEMASK, BS_CHECKBOX);
  EXPECT_EQ(GetWindowLongPtrW(Wnd(combo_), GWL_STYLE) & 3, CBS_DROPDOWNLIST);
  LONG_PTR memo = GetWindowLongPtrW(Wnd(memo_), GWL_STYLE);
  EXPECT_TRUE((memo & ES_MULTILINE) && (memo & ES_READONLY) && (memo & WS_VSCROLL));
  EXPECT_EQ(GetWindowLongPtrW(Wnd(grid_), GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
  // The spin edit's arrows are an up-down control bound to its edit.
  HWND arrows = GetWindow(Wnd(spin_), GW_HWNDNEXT);
  ASSERT_EQ(ClassOf(arrows), "msctls_updown32");
  EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(arrows, UDM_GETBUDDY, 0, 0)), Wnd(spin_));
  // The radio group holds one radio button per item.
  HWND first = GetWindow(Wnd(radio_), GW_CHILD);
  ASSERT_TRUE(first);
  EXPECT_EQ(WindowText(first), "Full TRIM (Entire device range)");
  EXPECT_EQ(WindowText(GetWindow(first, GW_HWNDNEXT)), "Free-space TRIM only");
  EXPECT_EQ(GetWindowLongPtrW(first, GWL_STYLE) & BS_TYPEMASK, BS_RADIOBUTTON);
  // The tabs carry the sheets' captions.
  ASSERT_EQ(SendMessageW(Wnd(pages_), TCM_GETITEMCOUNT, 0, 0), 2);
  wchar_t tab[64] = {};
  TCITEMW item = {};
  item.mask = TCIF_TEXT;
  item.pszText = tab;
  item.cchTextMax = 64;
  SendMessageW(Wnd(pages_), TCM_GETITEMW, 1, reinterpret_cast<LPARAM>(&item));
  EXPECT_EQ(Narrow(tab, wcslen(tab)), "Drive Inspect");
}

// The loaded comctl32 is version 6 from the side-by-side store (its own version resource says
// 5.81 under wine, so it can't tell).
TEST_F(Win32ControlsTest, CommonControlsSixAreLoaded) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(GetModuleHandleW(L"comctl32.dll"), path, MAX_PATH);
  std::string p = Narrow(path, wcslen(path));
  for (char& ch : p) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
  EXPECT_NE(p.find("winsxs"), std::string::npos) << p;
}

TEST_F(Win32ControlsTest, ControlsSitInTheirParentsClientArea) {
  // A child of the form or of a panel sits at its bounds.
  EXPECT_EQ(RectInParent(Wnd(top_)), (RECT{0, 0, 980, 28}));
  EXPECT_EQ(RectInParent(Wnd(pages_)), (RECT{0, 28, 980, 760}));

  // A tab sheet fills the tab control's display area, below the tabs.
  RECT display;
  GetClientRect(Wnd(pages_), &display);
  SendMessageW(Wnd(pages_), TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
  EXPECT_EQ(RectInParent(Wnd(trim_)), display);
  EXPECT_EQ(trim_->Width(), display.right - display.left);
  EXPECT_EQ(trim_->Height(), display.bottom - display.top);
  RECT tabRow;
  SendMessageW(Wnd(pages_), TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&tabRow));
  EXPECT_GE(display.top, tabRow.bottom);

  // A child of a group box sits below the caption: its (0, 0) is the box's client origin.
  HWND g = Wnd(group_);
  TRect in = group_->Peer()->ClientInsets();
  HDC dc = GetDC(g);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(g, WM_GETFONT, 0, 0)));
  SIZE caption;
  GetTextExtentPoint32W(dc, L"Disk Selection", 14, &caption);
  SelectObject(dc, old);
  ReleaseDC(g, dc);
  EXPECT_GE(in.Top, caption.cy);
  RECT button = RectInParent(Wnd(refresh_));
  EXPECT_EQ(button, (RECT{in.Left + 724, in.Top + 4, in.Left + 834, in.Top + 35}));
  EXPECT_EQ(RectInParent(Wnd(combo_)).left, in.Left + 12);
  EXPECT_EQ(RectInParent(Wnd(combo_)).top, in.Top + 8);
  EXPECT_EQ(group_->ClientSize(), (TSize{960 - in.Left - in.Right, 64 - in.Top - in.Bottom}));

  TRect tabs = pages_->Peer()->ClientInsets();
  std::printf("[ measured ] group box insets %d,%d,%d,%d (caption text %ld high); tab area insets %d,%d,%d,%d\n",
              in.Left, in.Top, in.Right, in.Bottom, caption.cy, tabs.Left, tabs.Top, tabs.Right, tabs.Bottom);
}

TEST_F(Win32ControlsTest, AnchorsFollowTheUsersResize) {
  // The user makes the window 100 pixels wider and 50 higher.
  RECT wr;
  GetWindowRect(Wnd(form_.get()), &wr);
  SetWindowPos(Wnd(form_.get()), nullptr, 0, 0, wr.right - wr.left + 100, wr.bottom - wr.top + 50,
               SWP_NOMOVE | SWP_NOZORDER);
  Pump();
  EXPECT_EQ(form_->ClientSize(), (TSize{1080, 810}));
  EXPECT_EQ(RectInParent(Wnd(pages_)), (RECT{0, 28, 1080, 810}));
  TRect in = group_->Peer()->ClientInsets();
  // Anchored top and right: it moves with the right edge.
  EXPECT_EQ(RectInParent(Wnd(refresh_)).left, in.Left + 824);
  // Anchored left and right: it stretches.
  EXPECT_EQ(RectInParent(Wnd(progress_)).right - RectInParent(Wnd(progress_)).left, 678);
}

TEST_F(Win32ControlsTest, MinimumSizeHoldsForTheUser) {
  form_->SetMinClientSize({980, 760});
  MINMAXINFO mmi = {};
  SendMessageW(Wnd(form_.get()), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
  TSize frame = backend_.FormFrame(*form_);
  EXPECT_EQ(mmi.ptMinTrackSize.x, 980 + frame.Width);
  EXPECT_EQ(mmi.ptMinTrackSize.y, 760 + frame.Height);
  RECT cr;
  GetClientRect(Wnd(form_.get()), &cr);
  EXPECT_EQ(cr.right, 980);
  EXPECT_EQ(cr.bottom, 760);
}

TEST_F(Win32ControlsTest, OnlyTheActivePageIsShown) {
  EXPECT_TRUE(IsWindowVisible(Wnd(trim_)));
  EXPECT_FALSE(IsWindowVisible(Wnd(inspect_)));
  pages_->SetActivePageIndex(1);
  EXPECT_EQ(SendMessageW(Wnd(pages_), TCM_GETCURSEL, 0, 0), 1);
  EXPECT_FALSE(IsWindowVisible(Wnd(trim_)));
  EXPECT_TRUE(IsWindowVisible(Wnd(inspect_)));
  EXPECT_TRUE(IsWindowVisible(Wnd(grid_)));
}

TEST_F(Win32ControlsTest, VisibleAndEnabledFollowTheModel) {
  refresh_->SetEnabled(false);
  EXPECT_FALSE(IsWindowEnabled(Wnd(refresh_)));
  spin_->SetVisible(false);
  EXPECT_FALSE(IsWindowVisible(Wnd(spin_)));
  EXPECT_FALSE(IsWindowVisible(GetWindow(Wnd(spin_), GW_HWNDNEXT)));
  spin_->SetVisible(true);
  EXPECT_TRUE(IsWindowVisible(GetWindow(Wnd(spin_), GW_HWNDNEXT)));
}

TEST_F(Win32ControlsTest, CaptionsInFourScriptsRoundTrip) {
  const std::string texts[] = {"디스크 선택 (한국어)", "ディスクの選択（日本語）", "选择磁盘（中文）",
                               "Выбор диска (Русский)"};
  for (const std::string& t : texts) {
    SCOPED_TRACE(t);
    form_->SetCaption(t);
    refresh_->SetCaption(t);
    dry_->SetCaption(t);
    policy_->SetCaption(t);
    group_->SetCaption(t);
    inspect_->SetCaption(t);
    combo_->SetItems({t});
    EXPECT_EQ(WindowText(Wnd(form_.get())), t);
    EXPECT_EQ(WindowText(Wnd(refresh_)), t);
    EXPECT_EQ(WindowText(Wnd(dry_)), t);
    EXPECT_EQ(WindowText(Wnd(policy_)), t);
    EXPECT_EQ(WindowText(Wnd(group_)), t);
    wchar_t buf[128] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = buf;
    item.cchTextMax = 128;
    SendMessageW(Wnd(pages_), TCM_GETITEMW, 1, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(Narrow(buf, wcslen(buf)), t);
    SendMessageW(Wnd(combo_), CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(buf));
    EXPECT_EQ(Narrow(buf, wcslen(buf)), t);
    // An auto-sized label is as wide as its caption in its font.
    EXPECT_EQ(policy_->Width(), RectInParent(Wnd(policy_)).right - RectInParent(Wnd(policy_)).left);
    EXPECT_GT(policy_->Width(), 40);
  }
}

TEST_F(Win32ControlsTest, CheckBoxWantsItsBoxAndCaption) {
  HWND w = Wnd(dry_);
  HDC dc = GetDC(w);
  HGDIOBJ old = SelectObject(dc, static_cast<HFONT>(backend_.GuiFont()));
  SIZE text;
  GetTextExtentPoint32W(dc, L"Dry-run (verify only, no send)", 30, &text);
  SelectObject(dc, old);
  ReleaseDC(w, dc);
  const int width = dry_->PreferredSize().Width;
  // Room for the box and the gap before the caption, and not absurdly more.
  EXPECT_GT(width, text.cx + 10);
  EXPECT_LT(width, text.cx + 60);
  dry_->SetCaption("Dry-run (verify only, no send) and a much longer caption");
  EXPECT_GT(dry_->PreferredSize().Width, width + 50);
}

TEST_F(Win32ControlsTest, HintsShowTheirShortPartAsTooltips) {
  refresh_->SetHint("Rescan USB disk list.|The long part");
  radio_->SetHint("Full TRIM: entire disk (no volumes).|Free-space: only unused areas of mounted volumes.");
  HWND tip = FormTooltip(*form_);
  ASSERT_TRUE(tip);
  auto textOf = [&](HWND Tool) {
    wchar_t buf[256] = {};
    TOOLINFOW ti = {};
    ti.cbSize = sizeof(ti);
    ti.hwnd = Wnd(form_.get());
    ti.uId = reinterpret_cast<UINT_PTR>(Tool);
    ti.lpszText = buf;
    SendMessageW(tip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&ti));
    return Narrow(buf, wcslen(buf));
  };
  EXPECT_EQ(textOf(Wnd(refresh_)), "Rescan USB disk list.");
  EXPECT_EQ(textOf(GetWindow(Wnd(radio_), GW_CHILD)), "Full TRIM: entire disk (no volumes).");
  refresh_->SetHint("Another hint");
  EXPECT_EQ(textOf(Wnd(refresh_)), "Another hint");
  const LRESULT tools = SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0);
  refresh_->SetHint("");
  EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), tools - 1);
}

TEST_F(Win32ControlsTest, MemoMirrorsAppendedAndDroppedLines) {
  memo_->SetMaxLength(200);
  // In bursts, as log lines come; the edit catches up once per turn of the loop.
  for (int i = 0; i < 40; i++) {
    memo_->AppendLine("line " + std::to_string(i) + " \xED\x95\x9C");
    if (i % 7 == 0) Pump();
  }
  Pump();
  EXPECT_EQ(WindowText(Wnd(memo_)), memo_->Text());
  EXPECT_LE(memo_->Length(), 200u);
  // The newest line is the one in view.
  HWND m = Wnd(memo_);
  const LRESULT lines = SendMessageW(m, EM_GETLINECOUNT, 0, 0);
  EXPECT_GT(SendMessageW(m, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  EXPECT_GE(SendMessageW(m, EM_GETFIRSTVISIBLELINE, 0, 0), lines - 8);
  // Lines added and then dropped before the edit caught up never show.
  memo_->SetMaxLength(30);
  memo_->AppendLine("0123456789");
  memo_->AppendLine("abcdefghij");
  memo_->AppendLine("ABCDEFGHIJ");
  Pump();
  EXPECT_EQ(WindowText(m), memo_->Text());
  memo_->Clear();
  EXPECT_EQ(WindowText(m), "");
  memo_->SetText("a\r\nb\nc");
  Pump();
  EXPECT_EQ(WindowText(m), "a\r\nb\r\nc");
  // A whole text longer than the box shows from its first line.
  std::string many;
  for (int i = 0; i < 40; i++) many += "detail " + std::to_string(i) + "\r\n";
  memo_->SetMaxLength(0);
  memo_->SetText(many);
  Pump();
  EXPECT_EQ(SendMessageW(m, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
}

TEST_F(Win32ControlsTest, AStreamOfPostedCallsDoesNotKeepTheWindowFromPainting) {
  // A run posts its log lines and progress without pause: the queue is never empty, and
  // WM_PAINT, which comes only when nothing else waits, would never come.
  HWND m = Wnd(memo_);
  memo_->SetText("details");
  Pump();
  InvalidateRect(m, nullptr, TRUE);
  bool painted = false, stop = false;
  const ULONGLONG limit = GetTickCount64() + 2000;
  std::function<void()> next = [&] {
    painted = !GetUpdateRect(m, nullptr, FALSE);
    stop = painted || GetTickCount64() >= limit;
    if (!stop) backend_.PostDeferred(next);
  };
  backend_.PostDeferred(next);
  EXPECT_TRUE(PumpUntil([&] { return stop; }, 3000));
  EXPECT_TRUE(painted);
}

TEST_F(Win32ControlsTest, GridShowsItsCellsUnderTheFixedRow) {
  grid_->SetColCount(3);
  grid_->SetRowCount(3);
  grid_->SetOptions(true, true);
  grid_->SetCell(0, 0, "Type");
  grid_->SetCell(1, 0, "Sectors");
  grid_->SetCell(2, 0, "Start");
  grid_->SetCell(0, 1, "NTFS");
  grid_->SetCell(1, 1, "1048576");
  grid_->SetCell(2, 2, "2048");
  grid_->AutoSizeColumns();
  HWND g = Wnd(grid_);
  EXPECT_EQ(SendMessageW(g, LVM_GETITEMCOUNT, 0, 0), 2);
  wchar_t buf[64] = {};
  LVITEMW item = {};
  item.iSubItem = 1;
  item.pszText = buf;
  item.cchTextMax = 64;
  SendMessageW(g, LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&item));
  EXPECT_EQ(Narrow(buf, wcslen(buf)), "1048576");
  LVCOLUMNW col = {};
  col.mask = LVCF_TEXT;
  col.pszText = buf;
  col.cchTextMax = 64;
  SendMessageW(g, LVM_GETCOLUMNW, 1, reinterpret_cast<LPARAM>(&col));
  EXPECT_EQ(Narrow(buf, wcslen(buf)), "Sectors");
  for (int c = 0; c < 3; c++) EXPECT_EQ(SendMessageW(g, LVM_GETCOLUMNWIDTH, c, 0), grid_->ColWidth(c));
  EXPECT_GT(grid_->ColWidth(1), grid_->ColWidth(2));
  EXPECT_TRUE(SendMessageW(g, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);
}

}  // namespace
}  // namespace tk::win32::testing

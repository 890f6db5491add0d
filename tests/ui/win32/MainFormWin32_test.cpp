// Under wine inside Xvfb: the main window as real Win32 controls over the simulated machine, as
// the demo shows it: the controls' window classes, places and captions; clicks and selections as
// the user makes them against selections made by code; the notification window and the exact
// bytes it is registered with; captions in four scripts.
#include "MainFormWin32Fixture.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "core/uLang.h"
#include "core/uTextIds.h"
#include "core/uTypes.h"
#include "ui/toolkit/win32/Win32Peer.h"

#include <dbt.h>

namespace mainwin32 {
namespace {

using tk::TControl;
using tk::win32::Narrow;
using tk::win32::WindowText;

std::string ComboItem(HWND Combo, int Index) {
  const LRESULT n = SendMessageW(Combo, CB_GETLBTEXTLEN, Index, 0);
  if (n == CB_ERR) return "<none>";
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  SendMessageW(Combo, CB_GETLBTEXT, Index, reinterpret_cast<LPARAM>(text.data()));
  return Narrow(text.data(), static_cast<size_t>(n));
}

std::vector<std::string> ComboItems(HWND Combo) {
  std::vector<std::string> items;
  const LRESULT n = SendMessageW(Combo, CB_GETCOUNT, 0, 0);
  for (int i = 0; i < n; i++) items.push_back(ComboItem(Combo, i));
  return items;
}

// What the user does: a selection in a drop-down list, told to its parent as Windows tells it.
void UserPicks(HWND Combo, int Index) {
  SendMessageW(Combo, CB_SETCURSEL, Index, 0);
  SendMessageW(GetParent(Combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(Combo), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(Combo));
}

// Children of a group box sit below its caption: their (0, 0) is the box's client origin. A
// form's insets are its frame, outside the client area its children are placed in.
tk::TRect Insets(const TControl* C) {
  const TControl* parent = C->Parent();
  return parent->Kind() == tk::TControlKind::Form ? tk::TRect{} : parent->Peer()->ClientInsets();
}

TEST_F(MainFormWin32Test, ControlsAreWindowsOfTheirClassesAtTheirDesignedPlaces) {
  struct Case {
    TControl* Control;
    const char* Class;
    tk::TBounds Bounds;  // the design's left, top, width, height in the parent's client area
  };
  TMainForm& f = *form_;
  // The target drive's column keeps 16 pixels after the speed-drop label, which in English
  // already reaches the design's 160 (and past it in Windows' own fonts).
  const int drive =
      std::max(160, static_cast<int>(RectInParent(Wnd(f.LabelSpeedDropWait)).right - Insets(f.LabelSpeedDropWait).Left) + 16);
  const Case cases[] = {
      {f.PanelTop, "VtTkPanel", {0, 0, 980, 28}},
      {f.PageMain, "SysTabControl32", {0, 28, 980, 732}},
      {f.GroupSelection, "Button", {8, 8, 970, 64}},
      {f.CmbDisk, "ComboBox", {12, 8, 698, 23}},
      {f.BtnRefresh, "Button", {724, 4, 110, 31}},
      {f.BtnBotGuide, "Button", {844, 4, 110, 31}},
      {f.GroupMode, "Button", {8, 80, 970, 144}},
      {f.RgMode, "Button", {12, 8, 420, 84}},
      {f.MemoDiskInfo, "Edit", {8, 232, 970, 120}},
      {f.GroupAdvanced, "Button", {8, 363, 970, 106}},
      {f.SpTimeout, "Edit", {12, 24, 140, 23}},
      {f.SpRetry, "Edit", {170, 24, 90, 23}},
      {f.SpBatch, "Edit", {278, 24, 90, 23}},
      {f.CmbBatchLimit, "ComboBox", {386, 24, 130, 23}},
      {f.GroupStatus, "Button", {8, 480, 970, 224}},
      {f.BtnStart, "Button", {12, 10, 110, 31}},
      {f.BtnCancel, "Button", {132, 10, 110, 31}},
      {f.BtnClearLog, "Button", {256, 10, 110, 31}},
      {f.PbProgress, "msctls_progress32", {376, 10, 578, 31}},
      {f.MemoLog, "Edit", {12, 64, 942, 137}},
      {f.GroupRealTest, "Button", {8, 8, 956, 180}},
      {f.BtnRealTestStart, "Button", {12, 10, 140, 31}},
      {f.BtnRealTestStop, "Button", {162, 10, 120, 31}},
      {f.BtnVerifyOnly, "Button", {162, 46, 120, 31}},
      {f.BtnDeleteTestFolder, "Button", {12, 46, 140, 31}},
      {f.BtnExportFileMap, "Button", {300, 10, 160, 31}},
      {f.CmbStartStep, "ComboBox", {300, 72, 70, 23}},
      {f.CmbEndStep, "ComboBox", {390, 72, 70, 23}},
      {f.SpSpeedDropWait, "Edit", {12, 120, 120, 23}},
      {f.CmbRealTestDrive, "ComboBox", {drive, 120, 300, 23}},
      {f.BtnClearRealLog, "Button", {824, 120, 120, 31}},
      {f.MemoRealTestLog, "Edit", {8, 196, 956, 508}},
      // Built at run time.
      {f.BtnProducts, "Button", {4, 2, 90, 25}},
      {f.BtnManual, "Button", {98, 2, 100, 25}},
      {f.BtnLicense, "Button", {202, 2, 80, 25}},
      {f.BtnAboutTrim, "Button", {286, 2, 90, 25}},
      {f.BtnHowToUse, "Button", {380, 2, 90, 25}},
      {f.CmbLanguage, "ComboBox", {980 - 130, 3, 120, 23}},
      {f.CmbUaspMethod, "ComboBox", {530, 24, 140, 23}},
  };
  // The TRIM tab's 970-pixel controls end at the sheet's 8-pixel margin: as much narrower as the
  // real tab control's page is, and what they hold anchored to the right follows them.
  const RECT sheet = RectInParent(Wnd(f.TabTrim));
  const int cut = std::max(0, 8 + 970 - (static_cast<int>(sheet.right - sheet.left) - 8));
  auto designed = [&](const TControl* C, tk::TBounds B) {
    const TControl* p = C->Parent();
    const bool onTrimTab = p == f.TabTrim || (p && p->Parent() == f.TabTrim);
    if (!onTrimTab || !(C->Anchors() & tk::akRight)) return B;
    if (C->Anchors() & tk::akLeft) {
      B.Width -= cut;
    } else {
      B.Left -= cut;
    }
    return B;
  };
  for (const Case& raw : cases) {
    ASSERT_TRUE(raw.Control);
    const Case c{raw.Control, raw.Class, designed(raw.Control, raw.Bounds)};
    SCOPED_TRACE(c.Control->Name());
    HWND w = Wnd(c.Control);
    ASSERT_TRUE(IsWindow(w));
    EXPECT_EQ(ClassOf(w), c.Class);
    const tk::TRect in = Insets(c.Control);
    const RECT r = RectInParent(w);
    EXPECT_EQ(r.left, in.Left + c.Bounds.Left);
    EXPECT_EQ(r.top, in.Top + c.Bounds.Top);
    // A spin edit is its edit field and, at its right, the arrows.
    const RECT outer =
        c.Control->Kind() == tk::TControlKind::SpinEdit ? RectInParent(GetWindow(w, GW_HWNDNEXT)) : r;
    EXPECT_EQ(outer.right - r.left, c.Bounds.Width);
    // A drop-down list's window is as high as its edit field plus the list it drops.
    if (std::string(c.Class) != "ComboBox") {
      EXPECT_EQ(r.bottom - r.top, c.Bounds.Height);
    }
  }
  // Labels size themselves to their captions; only their places are designed.
  const struct {
    TControl* Control;
    int Left, Top;
  } labels[] = {{f.LblFsPolicy, 12, 104},         {f.LblStatus, 12, 48},       {f.LabelTimeout, 12, 8},
                {f.LabelRetry, 170, 8},           {f.LabelBatch, 278, 8},      {f.LabelBatchLimit, 386, 8},
                {f.LblUaspMethod, 530, 8},        {f.LblRealStatus, 470, 12},  {f.LblRealSpeed, 470, 30},
                {f.LblElapsed, 470, 48},          {f.LblStepElapsed, 470, 66}, {f.LabelSpeedDropWait, 12, 104},
                {f.LabelRealTestDrive, drive, 104}, {f.LabelStartStep, 300, 56}, {f.LabelEndStep, 392, 56}};
  for (const auto& l : labels) {
    SCOPED_TRACE(l.Control->Name());
    HWND w = Wnd(l.Control);
    EXPECT_EQ(ClassOf(w), "Static");
    const tk::TRect in = Insets(l.Control);
    EXPECT_EQ(RectInParent(w).left, in.Left + l.Left);
    EXPECT_EQ(RectInParent(w).top, in.Top + l.Top);
  }
  // Check boxes, the radio group's buttons, the spin edits' arrows.
  for (TControl* c : std::vector<TControl*>{f.CbDryRun, f.CbWinRetrimOnly, f.CbAdvanced, f.CbAllowSystemDisk,
                                            f.CbMaskSerial, f.CbQuietIteration, f.CbFlushVolumes})
    EXPECT_EQ(GetWindowLongPtrW(Wnd(c), GWL_STYLE) & BS_TYPEMASK, BS_CHECKBOX) << c->Name();
  EXPECT_EQ(GetWindowLongPtrW(Wnd(f.GroupMode), GWL_STYLE) & BS_TYPEMASK, BS_GROUPBOX);
  HWND radio = GetWindow(Wnd(f.RgMode), GW_CHILD);
  ASSERT_TRUE(radio);
  EXPECT_EQ(GetWindowLongPtrW(radio, GWL_STYLE) & BS_TYPEMASK, BS_RADIOBUTTON);
  EXPECT_TRUE(GetWindow(radio, GW_HWNDNEXT));
  EXPECT_EQ(ClassOf(GetWindow(Wnd(f.SpTimeout), GW_HWNDNEXT)), "msctls_updown32");
  const LONG_PTR memo = GetWindowLongPtrW(Wnd(f.MemoLog), GWL_STYLE);
  EXPECT_TRUE((memo & ES_MULTILINE) && (memo & ES_READONLY) && (memo & WS_VSCROLL));
  EXPECT_EQ(SendMessageW(Wnd(f.PageMain), TCM_GETITEMCOUNT, 0, 0), 3);
  EXPECT_FALSE(IsWindowEnabled(Wnd(f.BtnCancel)));
  EXPECT_FALSE(IsWindowEnabled(Wnd(f.BtnRealTestStop)));
  EXPECT_FALSE(IsWindowVisible(Wnd(f.CbInitStyle)));
}

TEST_F(MainFormWin32Test, TheModeRowFitsTheCaptionsAsTheRealControlsMeasureThem) {
  TMainForm& f = *form_;
  // Each check box as wide as its own measure of what its box and caption need, at the least
  // as designed.
  const std::pair<TControl*, int> boxes[] = {{f.CbDryRun, 164}, {f.CbWinRetrimOnly, 320}, {f.CbAdvanced, 98}};
  const tk::TRect in = Insets(f.CbDryRun);
  for (auto [control, design] : boxes) {
    SCOPED_TRACE(control->Name());
    SIZE ideal = {};
    ASSERT_TRUE(SendMessageW(Wnd(control), BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)));
    const RECT r = RectInParent(Wnd(control));
    EXPECT_EQ(r.left, in.Left + 452);
    EXPECT_GE(r.right - r.left, std::max<int>(design, ideal.cx));
  }
  const RECT box = RectInParent(Wnd(f.CbAdvanced));
  const RECT label = RectInParent(Wnd(f.LblInitStyle));
  const RECT list = RectInParent(Wnd(f.CbInitStyle));
  EXPECT_GE(label.top, box.bottom);
  EXPECT_GE(list.top, box.bottom);
  EXPECT_GE(list.left, label.right);
}

TEST_F(MainFormWin32Test, CaptionsAndItemsAreTheWindowsOwn) {
  TMainForm& f = *form_;
  EXPECT_EQ(WindowText(Wnd(&f)), "vrek_trim_tool " + AppVersion());
  EXPECT_EQ(WindowText(Wnd(f.LblUaspMethod)), GetLangText(TTextId::LabelUaspMethod));
  // Every control's window shows what the control holds, whatever the language applied.
  std::function<void(TControl&)> walk = [&](TControl& c) {
    switch (c.Kind()) {
      case tk::TControlKind::Button:
      case tk::TControlKind::CheckBox:
      case tk::TControlKind::Label:
      case tk::TControlKind::GroupBox:
      case tk::TControlKind::RadioGroup: EXPECT_EQ(WindowText(Wnd(&c)), c.Caption()) << c.Name(); break;
      case tk::TControlKind::ComboBox: {
        auto& combo = static_cast<tk::TComboBox&>(c);
        EXPECT_EQ(ComboItems(Wnd(&c)), combo.Items()) << c.Name();
        EXPECT_EQ(SendMessageW(Wnd(&c), CB_GETCURSEL, 0, 0), combo.ItemIndex()) << c.Name();
        break;
      }
      default: break;
    }
    for (auto& child : c.Children()) walk(*child);
  };
  walk(f);
  EXPECT_EQ(ComboItems(Wnd(f.CmbBatchLimit)), (std::vector<std::string>{"1", "10", "100", "All"}));
  EXPECT_EQ(SendMessageW(Wnd(f.CmbBatchLimit), CB_GETCURSEL, 0, 0), 3);
  EXPECT_EQ(ComboItems(Wnd(f.CmbUaspMethod)),
            (std::vector<std::string>{"Auto", "SCSI UNMAP", "ATA Pass-Through"}));
  EXPECT_EQ(SendMessageW(Wnd(f.CmbEndStep), CB_GETCURSEL, 0, 0), 4);
  EXPECT_EQ(SendMessageW(Wnd(f.SpTimeout), WM_GETTEXTLENGTH, 0, 0), 4);
  EXPECT_EQ(WindowText(Wnd(f.SpTimeout)), "5000");
}

TEST_F(MainFormWin32Test, AClickOnAButtonReachesItsHandler) {
  TMainForm& f = *form_;
  f.MemoLog->AppendLine("a line to clear");
  SendMessageW(Wnd(f.BtnClearLog), BM_CLICK, 0, 0);
  // The log memo is cleared and holds the one line saying so, in the edit control too.
  // (Lines that workers still hand over may follow it.)
  ASSERT_TRUE(PumpUntil([&] {
    return !f.MemoLog->Lines().empty() &&
           f.MemoLog->Lines()[0].find("UI log cleared by user") != std::string::npos;
  }));
  EXPECT_EQ(f.MemoLog->Text().find("a line to clear"), std::string::npos);
  EXPECT_TRUE(PumpUntil([&] { return WindowText(Wnd(f.MemoLog)) == f.MemoLog->Text(); }));

  // A button whose handler shows a box: the box is owned by the real main window.
  SendMessageW(Wnd(f.BtnLicense), BM_CLICK, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return !Boxes().empty(); }));
  const auto box = Boxes()[0];
  EXPECT_EQ(box.owner, Wnd(&f));
  EXPECT_EQ(box.caption, GetLangText(TTextId::LicenseCaption));
  EXPECT_EQ(box.type, static_cast<plat::UINT>(MB_ICONINFORMATION | MB_OK));
}

TEST_F(MainFormWin32Test, SelectionsByCodeRunNoHandlerAndTheUsersDo) {
  TMainForm& f = *form_;
  int languageChanges = 0, modeClicks = 0, pageChanges = 0, dryRunClicks = 0;
  auto count = [](int& n, tk::TNotifyEvent& e) {
    auto original = e;
    e = [&n, original](TControl* S) {
      n++;
      if (original) original(S);
    };
  };
  count(languageChanges, f.CmbLanguage->OnChange);
  count(modeClicks, f.RgMode->OnClick);
  count(pageChanges, f.PageMain->OnChange);
  count(dryRunClicks, f.CbDryRun->OnClick);
  const TUiLanguage before = GetCurrentLanguage();

  f.CmbLanguage->SetItemIndex(2);
  f.RgMode->SetItemIndex(0);
  f.CbDryRun->SetChecked(true);
  f.PageMain->SetActivePageIndex(2);
  Pump();
  // The windows show the change ...
  EXPECT_EQ(SendMessageW(Wnd(f.CmbLanguage), CB_GETCURSEL, 0, 0), 2);
  HWND first = GetWindow(Wnd(f.RgMode), GW_CHILD);
  HWND second = GetWindow(first, GW_HWNDNEXT);
  EXPECT_EQ(SendMessageW(first, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(second, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(SendMessageW(Wnd(f.CbDryRun), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(Wnd(f.PageMain), TCM_GETCURSEL, 0, 0), 2);
  EXPECT_TRUE(IsWindowVisible(Wnd(f.TabRealTest)));
  EXPECT_FALSE(IsWindowVisible(Wnd(f.TabTrim)));
  // ... and no handler ran.
  EXPECT_EQ(languageChanges + modeClicks + pageChanges + dryRunClicks, 0);
  EXPECT_EQ(GetCurrentLanguage(), before);

  // The user's own selections do run them.
  f.PageMain->SetActivePageIndex(0);
  Pump();
  UserPicks(Wnd(f.CmbLanguage), 7);
  SendMessageW(second, BM_CLICK, 0, 0);  // free space: the listed disk has a volume
  SendMessageW(Wnd(f.CbDryRun), BM_CLICK, 0, 0);
  NMHDR tab = {Wnd(f.PageMain), static_cast<UINT_PTR>(GetDlgCtrlID(Wnd(f.PageMain))),
               static_cast<UINT>(TCN_SELCHANGE)};
  SendMessageW(Wnd(f.PageMain), TCM_SETCURSEL, 1, 0);
  SendMessageW(GetParent(Wnd(f.PageMain)), WM_NOTIFY, tab.idFrom, reinterpret_cast<LPARAM>(&tab));
  ASSERT_TRUE(PumpUntil([&] { return languageChanges && modeClicks && dryRunClicks && pageChanges; }));
  EXPECT_EQ(f.CmbLanguage->ItemIndex(), 7);
  EXPECT_EQ(GetCurrentLanguage(), TUiLanguage::ulRussian);
  EXPECT_EQ(f.RgMode->ItemIndex(), 1);
  EXPECT_FALSE(f.CbDryRun->Checked());
  EXPECT_EQ(f.PageMain->ActivePageIndex(), 1);
  EXPECT_EQ(languageChanges + modeClicks + pageChanges + dryRunClicks, 4);
}

// WM_DEVICECHANGE as it reaches a window procedure of the main thread.
struct TSeenChange {
  HWND Wnd;
  WPARAM Event;
  std::string Name;  // the interface path of a device-interface broadcast
};
std::vector<TSeenChange> g_seen;

LRESULT CALLBACK SeeMessage(int Code, WPARAM W, LPARAM L) {
  const auto* m = reinterpret_cast<const CWPSTRUCT*>(L);
  if (Code == HC_ACTION && m->message == WM_DEVICECHANGE) {
    TSeenChange seen{m->hwnd, m->wParam, {}};
    const auto* b = reinterpret_cast<const DEV_BROADCAST_HDR*>(m->lParam);
    if (b && b->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
      const auto* i = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(b);
      seen.Name = Narrow(i->dbcc_name, wcslen(i->dbcc_name));
    }
    g_seen.push_back(seen);
  }
  return CallNextHookEx(nullptr, Code, W, L);
}

TEST_F(MainFormWin32Test, TheNotificationWindowIsTopLevelAndRegisteredForDiskInterfaces) {
  const auto calls = machine_->Notifications().RegisterCalls();
  ASSERT_EQ(calls.size(), 1u);
  HWND wnd = static_cast<HWND>(calls[0].recipient);
  ASSERT_TRUE(IsWindow(wnd));
  // Top-level (device broadcasts reach top-level windows only), hidden, and not the form's.
  EXPECT_EQ(GetParent(wnd), nullptr);
  EXPECT_EQ(GetAncestor(wnd, GA_PARENT), GetDesktopWindow());
  EXPECT_FALSE(GetWindowLongPtrW(wnd, GWL_STYLE) & WS_CHILD);
  EXPECT_FALSE(IsWindowVisible(wnd));
  EXPECT_NE(wnd, Wnd(form_.get()));
  EXPECT_EQ(machine_->Notifications().Recipients(), std::vector<plat::HWND>{wnd});

  // DEV_BROADCAST_DEVICEINTERFACE_W: size 32, DBT_DEVTYP_DEVICEINTERFACE, reserved 0,
  // GUID_DEVINTERFACE_DISK {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}, an empty name; flags 0.
  const std::vector<uint8_t> expected = {32,   0,    0,    0,    5,    0,    0,    0,    0,    0,    0,
                                         0,    0x07, 0x63, 0xF5, 0x53, 0xBF, 0xB6, 0xD0, 0x11, 0x94, 0xF2,
                                         0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B, 0,    0,    0,    0};
  EXPECT_EQ(calls[0].filter, expected);
  EXPECT_EQ(calls[0].flags, 0u);
  DEV_BROADCAST_DEVICEINTERFACE_W real = {};
  real.dbcc_size = sizeof real;
  real.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  real.dbcc_classguid = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
  ASSERT_EQ(sizeof real, expected.size());
  EXPECT_EQ(std::memcmp(&real, expected.data(), sizeof real), 0);

  // The same bytes, handed to the real Windows call, register the same window.
  std::vector<uint8_t> bytes = calls[0].filter;
  HDEVNOTIFY h = RegisterDeviceNotificationW(wnd, bytes.data(), DEVICE_NOTIFY_WINDOW_HANDLE);
  EXPECT_NE(h, nullptr) << GetLastError();
  if (h) {
    EXPECT_TRUE(UnregisterDeviceNotification(h));
  }

  // A disk that arrives on the machine is told to the real window, from the message loop.
  g_seen.clear();
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, &SeeMessage, nullptr, GetCurrentThreadId());
  ASSERT_TRUE(hook);
  machine_->Discovery().AddDisk(5, 32ull << 30, plat::sim::presets::UasEnclosure("Arrived", "ARR0001"));
  EXPECT_TRUE(PumpUntil([&] { return !g_seen.empty(); }));
  UnhookWindowsHookEx(hook);
  ASSERT_FALSE(g_seen.empty());
  EXPECT_EQ(g_seen[0].Wnd, wnd);
  EXPECT_EQ(g_seen[0].Event, static_cast<WPARAM>(DBT_DEVICEARRIVAL));
  EXPECT_NE(g_seen[0].Name.find("prod_arrived"), std::string::npos) << g_seen[0].Name;
}

TEST_F(MainFormWin32Test, CaptionsInKoreanJapaneseChineseAndRussianRoundTrip) {
  TMainForm& f = *form_;
  // The language selector holds every language's own name.
  const std::vector<std::string> names = ComboItems(Wnd(f.CmbLanguage));
  ASSERT_EQ(names.size(), 8u);
  EXPECT_EQ(names[0], "한국어");
  EXPECT_EQ(names[2], "日本語");
  EXPECT_EQ(names[3], "简体中文");
  EXPECT_EQ(names[7], "Русский");

  for (TUiLanguage lang : {TUiLanguage::ulKorean, TUiLanguage::ulJapanese, TUiLanguage::ulChineseSimplified,
                           TUiLanguage::ulRussian}) {
    SCOPED_TRACE(LanguageDisplayName(lang));
    // As the user picks it: the window applies the language.
    UserPicks(Wnd(f.CmbLanguage), static_cast<int>(lang));
    ASSERT_TRUE(PumpUntil([&] { return GetCurrentLanguage() == lang; }));
    Pump();
    const char* const* table = LangTableFor(lang);
    auto text = [&](TTextId id) { return std::string(table[TextIndex(id)]); };
    EXPECT_EQ(WindowText(Wnd(f.GroupSelection)), text(TTextId::GroupDiskSelection));
    EXPECT_EQ(WindowText(Wnd(f.BtnStart)), text(TTextId::ButtonStart));
    EXPECT_EQ(WindowText(Wnd(f.BtnRefresh)), text(TTextId::ButtonRefresh));
    EXPECT_EQ(WindowText(Wnd(f.CbDryRun)), text(TTextId::CheckDryRun));
    EXPECT_EQ(WindowText(Wnd(f.RgMode)), text(TTextId::GroupExecutionMode));
    EXPECT_EQ(WindowText(Wnd(f.LabelTimeout)), text(TTextId::LabelTimeoutMs));
    HWND second = GetWindow(GetWindow(Wnd(f.RgMode), GW_CHILD), GW_HWNDNEXT);
    EXPECT_EQ(WindowText(second), text(TTextId::ModeFreeSpaceTrim));
    wchar_t tab[128] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = tab;
    item.cchTextMax = 128;
    SendMessageW(Wnd(f.PageMain), TCM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(Narrow(tab, wcslen(tab)), text(TTextId::TabTrimExecute));
    // Every caption the window holds is what its window shows.
    std::function<void(TControl&)> walk = [&](TControl& c) {
      if (c.Kind() == tk::TControlKind::Button || c.Kind() == tk::TControlKind::CheckBox ||
          c.Kind() == tk::TControlKind::Label || c.Kind() == tk::TControlKind::GroupBox) {
        EXPECT_EQ(WindowText(Wnd(&c)), c.Caption()) << c.Name();
      }
      for (auto& child : c.Children()) walk(*child);
    };
    walk(f);
  }
}

}  // namespace
}  // namespace mainwin32

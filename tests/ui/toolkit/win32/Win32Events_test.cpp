// Under wine inside Xvfb: user actions on real controls reach the controls' handlers; changes
// made by code never do; an exception from a handler is handled and the window goes on.
#include "Win32ToolkitFixture.h"

#include "ui/toolkit/uTkControls.h"

#include <stdexcept>

namespace tk::win32::testing {
namespace {

class Win32EventsTest : public Win32ToolkitTest {
 protected:
  void SetUp() override {
    Win32ToolkitTest::SetUp();
    if (IsSkipped()) return;
    form_ = ShowForm();
    pages_ = form_->Add<TPageControl>(Cr("Pages", {0, 0, 640, 480}, kAnchorsAll));
    sheet0_ = pages_->Add<TTabSheet>(Cr("Sheet0", {}, kAnchorsAll, "One"));
    sheet1_ = pages_->Add<TTabSheet>(Cr("Sheet1", {}, kAnchorsAll, "Two"));
    group_ = sheet0_->Add<TGroupBox>(Cr("Group", {8, 8, 600, 300}, kAnchorsDefault, "Group"));
    button_ = group_->Add<TButton>(Cr("Button", {10, 10, 100, 30}, kAnchorsDefault, "Start"));
    check_ = group_->Add<TCheckBox>(Cr("Check", {10, 50, 150, 20}, kAnchorsDefault, "Check"));
    radio_ = group_->Add<TRadioGroup>(Cr("Radio", {200, 10, 200, 80}, kAnchorsDefault, "Mode"));
    radio_->SetItems({"A", "B"});
    combo_ = group_->Add<TComboBox>(Cr("Combo", {10, 100, 150, 23}));
    combo_->SetItems({"x", "y", "z"});
    spin_ = group_->Add<TSpinEdit>(Cr("Spin", {10, 140, 120, 23}));
    spin_->SetRange(1000, 120000, 1000);
    spin_->SetValue(5000);
    grid_ = sheet0_->Add<TStringGrid>(Cr("Grid", {8, 320, 400, 120}));
    grid_->SetColCount(2);
    grid_->SetRowCount(3);
    grid_->SetOptions(false, true);

    button_->OnClick = [this](TControl* s) { events_.push_back("click:" + s->Name()); };
    check_->OnClick = [this](TControl* s) { events_.push_back("check:" + s->Name()); };
    radio_->OnClick = [this](TControl*) { events_.push_back("radio:" + std::to_string(radio_->ItemIndex())); };
    combo_->OnChange = [this](TControl*) { events_.push_back("combo:" + std::to_string(combo_->ItemIndex())); };
    pages_->OnChange = [this](TControl*) {
      events_.push_back("page:" + std::to_string(pages_->ActivePageIndex()));
    };
    spin_->OnChange = [this](TControl*) { events_.push_back("spin:" + std::to_string(spin_->Value())); };
    Pump();
  }

  HWND RadioButton(int i) {
    HWND w = GetWindow(Wnd(radio_), GW_CHILD);
    while (i-- > 0 && w) w = GetWindow(w, GW_HWNDNEXT);
    return w;
  }
  void Type(HWND Edit, const std::wstring& Text) {
    for (wchar_t ch : Text) SendMessageW(Edit, WM_CHAR, ch, 1);
  }

  std::unique_ptr<TForm> form_;
  TPageControl* pages_ = nullptr;
  TTabSheet *sheet0_ = nullptr, *sheet1_ = nullptr;
  TGroupBox* group_ = nullptr;
  TButton* button_ = nullptr;
  TCheckBox* check_ = nullptr;
  TRadioGroup* radio_ = nullptr;
  TComboBox* combo_ = nullptr;
  TSpinEdit* spin_ = nullptr;
  TStringGrid* grid_ = nullptr;
  std::vector<std::string> events_;
};

TEST_F(Win32EventsTest, ChangesMadeByCodeRunNoHandler) {
  check_->SetChecked(true);
  radio_->SetItemIndex(1);
  combo_->SetItemIndex(2);
  pages_->SetActivePageIndex(1);
  spin_->SetValue(7000);
  radio_->SetItems({"C", "D"});
  combo_->SetItems({"p", "q", "r"});
  Pump();
  EXPECT_TRUE(events_.empty()) << events_.front();
  // The windows show it all the same.
  EXPECT_EQ(SendMessageW(Wnd(check_), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(RadioButton(1), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(RadioButton(0), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(WindowText(RadioButton(0)), "C");
  EXPECT_EQ(SendMessageW(Wnd(combo_), CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(SendMessageW(Wnd(pages_), TCM_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(WindowText(Wnd(spin_)), "7000");
}

TEST_F(Win32EventsTest, UserActionsRunTheirHandlers) {
  SendMessageW(Wnd(button_), BM_CLICK, 0, 0);
  SendMessageW(Wnd(check_), BM_CLICK, 0, 0);
  SendMessageW(RadioButton(1), BM_CLICK, 0, 0);
  // The keyboard moves the list's selection as the user does.
  SetFocus(Wnd(combo_));
  SendMessageW(Wnd(combo_), WM_KEYDOWN, VK_DOWN, 0);
  // TCM_SETCURFOCUS changes the tab the way a click does, with its notifications.
  SendMessageW(Wnd(pages_), TCM_SETCURFOCUS, 1, 0);
  Pump();
  EXPECT_EQ(events_, (std::vector<std::string>{"click:Button", "check:Check", "radio:1", "combo:0", "page:1"}));
  EXPECT_TRUE(check_->Checked());
  EXPECT_EQ(SendMessageW(Wnd(check_), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(RadioButton(1), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(combo_->ItemIndex(), 0);
  EXPECT_EQ(pages_->ActivePageIndex(), 1);
  EXPECT_TRUE(IsWindowVisible(Wnd(sheet1_)));
  EXPECT_FALSE(IsWindowVisible(Wnd(sheet0_)));
}

TEST_F(Win32EventsTest, SpinEditFollowsTypingAndStepsFromAnOffStepValue) {
  HWND edit = Wnd(spin_);
  SetFocus(edit);
  SendMessageW(edit, EM_SETSEL, 0, -1);
  Type(edit, L"5500");
  EXPECT_EQ(spin_->Value(), 5500);
  // The text stays as typed while the user types (the model clamps "5" to the minimum).
  EXPECT_EQ(WindowText(edit), "5500");
  events_.clear();
  // The up arrow key of the edit steps by the increment from the value as it is.
  SendMessageW(edit, WM_KEYDOWN, VK_UP, 0);
  Pump();
  EXPECT_EQ(spin_->Value(), 6500);
  EXPECT_EQ(WindowText(edit), "6500");
  EXPECT_EQ(events_, (std::vector<std::string>{"spin:6500"}));
  // Past the maximum: the model keeps it in range, and the edit shows that once it is left.
  SendMessageW(edit, EM_SETSEL, 0, -1);
  Type(edit, L"999999");
  EXPECT_EQ(spin_->Value(), 120000);
  SetFocus(Wnd(button_));
  Pump();
  EXPECT_EQ(WindowText(edit), "120000");
}

TEST_F(Win32EventsTest, GridRowSelectedByTheUser) {
  EXPECT_EQ(grid_->SelectedRow(), -1);
  SetFocus(Wnd(grid_));
  SendMessageW(Wnd(grid_), WM_KEYDOWN, VK_DOWN, 0);
  SendMessageW(Wnd(grid_), WM_KEYDOWN, VK_DOWN, 0);
  Pump();
  EXPECT_EQ(grid_->SelectedRow(), 2);
  // Rebuilding the grid by code selects nothing.
  grid_->SetRowCount(4);
  EXPECT_EQ(grid_->SelectedRow(), 2);
}

TEST_F(Win32EventsTest, ColumnsResizeOnlyWhenTheGridAllowsIt) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(Wnd(grid_), LVM_GETHEADER, 0, 0));
  ASSERT_TRUE(header);
  NMHEADERW nm = {};
  nm.hdr.hwndFrom = header;
  nm.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(header));
  nm.hdr.code = HDN_BEGINTRACKW;
  EXPECT_EQ(SendMessageW(Wnd(grid_), WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm)), TRUE);
  grid_->SetOptions(true, true);
  EXPECT_EQ(SendMessageW(Wnd(grid_), WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm)), FALSE);
}

TEST_F(Win32EventsTest, AnExceptionInAHandlerIsHandledAndTheWindowGoesOn) {
  button_->OnClick = [](TControl*) { throw std::runtime_error("handler failed"); };
  SendMessageW(Wnd(button_), BM_CLICK, 0, 0);
  Pump();
  EXPECT_EQ(exceptions_, (std::vector<std::string>{"handler failed"}));
  EXPECT_TRUE(IsWindow(Wnd(form_.get())));
  SendMessageW(Wnd(check_), BM_CLICK, 0, 0);
  EXPECT_EQ(events_, (std::vector<std::string>{"check:Check"}));
}

}  // namespace
}  // namespace tk::win32::testing

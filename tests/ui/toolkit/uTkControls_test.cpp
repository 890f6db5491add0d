// The controls' rules: changes by code raise no user event, user actions do and only where the
// user can reach the control; the index rules of lists; the memo's limit; fixed metrics.
#include <map>

#include "ui/UiFixture.h"
#include "ui/toolkit/uTkControls.h"
#include "ui/toolkit/uTkForm.h"

using namespace tk;

namespace {

// A shown form with one of each control the user acts on, counting their events by name.
class ControlsTest : public UiFixture {
 protected:
  ControlsTest() : form(std::make_unique<TForm>(nullptr, TCreate{.Name = "Form"})) {
    form->SetClientSize({600, 400});
    group = form->Add<TGroupBox>({.Name = "Group", .Bounds = {0, 0, 300, 300}});
    button = group->Add<TButton>({.Name = "Btn", .Bounds = {10, 10, 80, 25}});
    check = group->Add<TCheckBox>({.Name = "Check", .Bounds = {10, 40, 80, 19}});
    radio = group->Add<TRadioGroup>({.Name = "Radio", .Bounds = {10, 60, 200, 80}});
    combo = group->Add<TComboBox>({.Name = "Combo", .Bounds = {10, 150, 120, 23}});
    spin = group->Add<TSpinEdit>({.Name = "Spin", .Bounds = {10, 180, 80, 23}});
    pages = form->Add<TPageControl>({.Name = "Pages", .Bounds = {300, 0, 300, 300}});
    pages->Add<TTabSheet>({.Name = "Tab0"});
    auto* tab1 = pages->Add<TTabSheet>({.Name = "Tab1"});
    onTab1 = tab1->Add<TButton>({.Name = "BtnOnTab1", .Bounds = {10, 10, 80, 25}});
    radio->SetItems({"full", "free"});
    combo->SetItems({"a", "b", "c"});
    spin->SetRange(0, 100, 10);
    button->OnClick = Count("Btn");
    check->OnClick = Count("Check");
    radio->OnClick = Count("Radio");
    combo->OnChange = Count("Combo");
    spin->OnChange = Count("Spin");
    pages->OnChange = Count("Pages");
    onTab1->OnClick = Count("BtnOnTab1");
    form->Show();
  }
  ~ControlsTest() override { DestroyForm(std::move(form)); }

  TNotifyEvent Count(const std::string& Name) {
    return [this, Name](TControl* Sender) {
      ++events[Name];
      EXPECT_EQ(Sender->Name(), Name);
    };
  }

  std::unique_ptr<TForm> form;
  TGroupBox* group;
  TButton* button;
  TCheckBox* check;
  TRadioGroup* radio;
  TComboBox* combo;
  TSpinEdit* spin;
  TPageControl* pages;
  TButton* onTab1;
  std::map<std::string, int> events;
};

TEST_F(ControlsTest, ChangesByCodeRaiseNoEventsUserActionsDo) {
  check->SetChecked(true);
  radio->SetItemIndex(1);
  combo->SetItemIndex(2);
  spin->SetValue(55);
  pages->SetActivePageIndex(1);
  EXPECT_TRUE(events.empty());

  EXPECT_TRUE(ui.Click("Btn"));
  EXPECT_TRUE(ui.Click("Check"));  // a click toggles
  EXPECT_FALSE(check->Checked());
  EXPECT_TRUE(ui.Select("Radio", 0));
  EXPECT_TRUE(ui.Select("Combo", 0));
  EXPECT_TRUE(ui.SetValue("Spin", 33));  // off the step of 10: kept as typed
  EXPECT_TRUE(ui.Select("Pages", 0));
  EXPECT_EQ(events, (std::map<std::string, int>{
                        {"Btn", 1}, {"Check", 1}, {"Radio", 1}, {"Combo", 1}, {"Spin", 1}, {"Pages", 1}}));
  EXPECT_EQ(radio->ItemIndex(), 0);
  EXPECT_EQ(combo->ItemIndex(), 0);
  EXPECT_EQ(spin->Value(), 33);
  EXPECT_EQ(pages->ActivePageIndex(), 0);

  // Picking what is already picked: a radio group clicks again, a list or tab does not change.
  events.clear();
  EXPECT_TRUE(ui.Select("Radio", 0));
  EXPECT_TRUE(ui.Select("Combo", 0));
  EXPECT_TRUE(ui.Select("Pages", 0));
  EXPECT_TRUE(ui.Check("Check", false));  // already off: nothing to toggle
  EXPECT_TRUE(ui.SetValue("Spin", 500));  // kept within the range
  EXPECT_EQ(events, (std::map<std::string, int>{{"Radio", 1}, {"Spin", 1}}));
  EXPECT_EQ(spin->Value(), 100);
  EXPECT_FALSE(ui.Select("Combo", 3));  // no such item
}

TEST_F(ControlsTest, UserCannotReachHiddenOrDisabledControls) {
  struct Case {
    const char* Name;
    std::function<void()> Hide;
    std::function<void()> Restore;
  };
  const std::vector<TControl*> own = {button, check, radio, combo, spin};
  const Case cases[] = {
      {"control hidden",
       [&] {
         for (auto* c : own) c->SetVisible(false);
       },
       [&] {
         for (auto* c : own) c->SetVisible(true);
       }},
      {"control disabled",
       [&] {
         for (auto* c : own) c->SetEnabled(false);
       },
       [&] {
         for (auto* c : own) c->SetEnabled(true);
       }},
      {"parent hidden", [&] { group->SetVisible(false); }, [&] { group->SetVisible(true); }},
      {"parent disabled", [&] { group->SetEnabled(false); }, [&] { group->SetEnabled(true); }},
      {"window hidden", [&] { form->SetVisible(false); }, [&] { form->SetVisible(true); }},
      {"window disabled", [&] { form->SetEnabled(false); }, [&] { form->SetEnabled(true); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    c.Hide();
    EXPECT_FALSE(ui.Click("Btn"));
    EXPECT_FALSE(ui.Click("Check"));
    EXPECT_FALSE(ui.Check("Check", true));
    EXPECT_FALSE(ui.Select("Radio", 1));
    EXPECT_FALSE(ui.Select("Combo", 1));
    EXPECT_FALSE(ui.SetValue("Spin", 20));
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(check->Checked());
    EXPECT_EQ(radio->ItemIndex(), -1);
    c.Restore();
    EXPECT_TRUE(ui.Click("Btn"));
    events.clear();
  }
  // A control on a page that is not the active one is not shown.
  EXPECT_FALSE(onTab1->Showing());
  EXPECT_FALSE(ui.Click("BtnOnTab1"));
  EXPECT_TRUE(ui.Select("Pages", 1));
  EXPECT_TRUE(ui.Click("BtnOnTab1"));
  EXPECT_FALSE(ui.Click("NoSuchControl"));
}

TEST_F(ControlsTest, ListIndexRules) {
  // The index stays while it is valid, else none.
  combo->SetItemIndex(2);
  combo->SetItems({"x", "y", "z", "w"});
  EXPECT_EQ(combo->ItemIndex(), 2);
  EXPECT_EQ(combo->Text(), "z");
  combo->SetItems({"x"});
  EXPECT_EQ(combo->ItemIndex(), -1);
  EXPECT_EQ(combo->Text(), "");
  combo->SetItemIndex(7);
  EXPECT_EQ(combo->ItemIndex(), -1);
  combo->SetItemIndex(0);
  combo->SetItem(0, "renamed");  // replaced in place, the selection stays
  EXPECT_EQ(combo->Text(), "renamed");
  combo->AddItem("second");
  EXPECT_EQ(combo->ItemCount(), 2);
  combo->Clear();
  EXPECT_EQ(combo->ItemCount(), 0);
  EXPECT_EQ(combo->ItemIndex(), -1);

  radio->SetItemIndex(1);
  radio->SetItem(1, "free space");
  EXPECT_EQ(radio->ItemIndex(), 1);
  EXPECT_EQ(radio->Items()[1], "free space");
  radio->SetItems({"only"});
  EXPECT_EQ(radio->ItemIndex(), -1);
  radio->SetItemIndex(-5);
  EXPECT_EQ(radio->ItemIndex(), -1);
  EXPECT_TRUE(events.empty());
}

TEST_F(ControlsTest, CreateAndDestroyEventsSeeTheWholeWindow) {
  struct TProbeForm : TForm {
    explicit TProbeForm(std::vector<std::string>& Seen) : TForm(nullptr, {.Name = "Probe"}) {
      Add<TButton>({.Name = "Inner"});
      OnCreate = [&Seen, this](TControl*) {
        Seen.push_back(FindByName("Inner") ? "create" : "create without child");
      };
      OnDestroy = [&Seen, this](TControl*) {
        Seen.push_back(FindByName("Inner") ? "destroy" : "destroy without child");
      };
    }
  };
  std::vector<std::string> seen;
  auto probe = CreateForm<TProbeForm>(seen);
  EXPECT_EQ(ui.Find("Inner"), probe->FindByName("Inner"));
  DestroyForm(std::move(probe));
  EXPECT_EQ(seen, (std::vector<std::string>{"create", "destroy"}));
  EXPECT_EQ(ui.Find("Inner"), nullptr);
}

class MemoAndMetricsTest : public UiFixture {};

TEST_F(MemoAndMetricsTest, MemoDropsTheOldestLinesAtItsLimit) {
  TForm form(nullptr, {.Name = "Form"});
  auto* memo = form.Add<TMemo>({.Name = "Memo"});
  memo->SetMaxLength(20);
  for (int i = 0; i < 3; ++i) memo->AppendLine("aaaa" + std::to_string(i));
  EXPECT_EQ(memo->Length(), 19u);  // three times five, two line breaks of two
  memo->AppendLine("bb");
  EXPECT_EQ(memo->Lines(), (std::vector<std::string>{"aaaa1", "aaaa2", "bb"}));
  EXPECT_EQ(memo->Length(), 16u);
  EXPECT_EQ(memo->Length(), memo->Text().size());

  // Counted in UTF-16 units: "é" is one, "𝄞" (beyond U+FFFF) two.
  memo->Clear();
  memo->AppendLine("é𝄞é𝄞é𝄞é𝄞");  // 12 units
  memo->AppendLine("xxxxxx");    // 12 + 2 + 6 = 20: fits exactly
  EXPECT_EQ(memo->Lines().size(), 2u);
  EXPECT_EQ(memo->Length(), 20u);

  // A line longer than the whole memo keeps what fits of its start, whole code points only.
  memo->AppendLine(std::string(15, 'y') + "𝄞𝄞𝄞𝄞");
  EXPECT_EQ(memo->Lines(), (std::vector<std::string>{std::string(15, 'y') + "𝄞𝄞"}));
  EXPECT_EQ(memo->Length(), 19u);

  // The window log's limit: the newest lines always show.
  memo->Clear();
  memo->SetMaxLength(500000);
  const std::string line(998, 'L');
  for (int i = 0; i < 1000; ++i) memo->AppendLine(line + std::to_string(i % 10) + "!");
  EXPECT_LE(memo->Length(), 500000u);
  EXPECT_GT(memo->Length(), 500000u - 1002);
  EXPECT_EQ(memo->Lines().back(), line + "9!");
  EXPECT_EQ(memo->Lines().size(), 500000u / 1002);

  memo->SetText("one\r\ntwo\nthree\rfour\r\n");
  EXPECT_EQ(memo->Lines(), (std::vector<std::string>{"one", "two", "three", "four"}));
  EXPECT_EQ(memo->Text(), "one\r\ntwo\r\nthree\r\nfour");
}

TEST_F(MemoAndMetricsTest, FixedMetricsMeasureLabelsCheckBoxesAndGrids) {
  EXPECT_EQ(headless::TextExtent("Abc", {}), (TSize{21, 15}));
  EXPECT_EQ(headless::TextExtent("Abc", {.SizePt = 8, .Bold = true}), (TSize{21, 13}));
  EXPECT_EQ(headless::TextExtent("한국어", {}).Width, 21);  // code points, not bytes

  TForm form(nullptr, {.Name = "Form"});
  auto* label = form.Add<TLabel>({.Name = "Lbl", .Bounds = {12, 104, 0, 0}, .Caption = "FS policy: -"});
  EXPECT_EQ(label->Bounds(), (TBounds{12, 104, 84, 15}));
  label->SetCaption("FS");
  EXPECT_EQ(label->Width(), 14);
  auto* fixedLabel = form.Add<TLabel>({.Name = "Fixed", .Bounds = {0, 0, 200, 15}, .Caption = "x"});
  EXPECT_EQ(fixedLabel->Width(), 200);

  auto* check = form.Add<TCheckBox>({.Name = "Cb", .Bounds = {0, 0, 50, 19}, .Caption = "Mask serial in log"});
  EXPECT_EQ(check->PreferredSize(), (TSize{17 + 18 * 7, 17}));

  auto* grid = form.Add<TStringGrid>({.Name = "Grid"});
  grid->SetColCount(2);
  grid->SetRowCount(3);
  grid->SetCell(0, 0, "Type");
  grid->SetCell(0, 2, "NTFS volume");
  grid->SetCell(1, 1, "1");
  grid->SetCell(5, 5, "outside");
  EXPECT_EQ(grid->Cell(5, 5), "");
  grid->AutoSizeColumns();
  EXPECT_EQ(grid->ColWidth(0), 11 * 7 + 16);
  EXPECT_EQ(grid->ColWidth(1), 7 + 16);
  grid->SetRowCount(2);
  EXPECT_EQ(grid->Cell(0, 2), "");
  grid->UserSelectRow(0);  // a title row is not a data row
  EXPECT_EQ(grid->SelectedRow(), -1);
  grid->UserSelectRow(1);
  EXPECT_EQ(grid->SelectedRow(), 1);

  EXPECT_EQ(TControl::ShortHint("Full TRIM: entire disk.|Free-space: only unused areas."),
            "Full TRIM: entire disk.");
  EXPECT_EQ(TControl::ShortHint("no bar"), "no bar");
}

}  // namespace

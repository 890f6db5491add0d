// The caption rule on the headless backend's fixed metrics: a character 7 pixels wide, a
// button 16 pixels wider than its caption, a check box 17, a line 15 high; group box insets
// 2/16/2/2.
#include "ui/UiFixture.h"
#include "ui/toolkit/uTkCaptionLayout.h"
#include "ui/toolkit/uTkControls.h"
#include "ui/toolkit/uTkForm.h"

using namespace tk;

namespace {

std::string Chars(int N) { return std::string(static_cast<size_t>(N), 'x'); }

class CaptionLayoutTest : public UiFixture {
 protected:
  CaptionLayoutTest() : form(std::make_unique<TForm>(nullptr, TCreate{.Name = "Form"})) {
    form->SetClientSize({600, 400});
    form->Show();
  }
  ~CaptionLayoutTest() override { form.reset(); }
  template <class T>
  T* Make(TControl* Parent, const char* Name, TBounds B, TAnchors A = kAnchorsDefault) {
    return Parent->Add<T>(TCreate{.Name = Name, .Bounds = B, .Anchors = A});
  }
  std::unique_ptr<TForm> form;
};

TEST_F(CaptionLayoutTest, AWiderCaptionPushesWhatFollowsAsFarAsNeededAndTheDesignComesBack) {
  // Buttons of 100 at 10, 120 and 400: 10 pixels apart, then 180.
  auto* a = Make<TButton>(form.get(), "A", {10, 10, 100, 30});
  auto* b = Make<TButton>(form.get(), "B", {120, 10, 100, 30});
  auto* c = Make<TButton>(form.get(), "C", {400, 10, 100, 30});
  form->CaptionLayout().AddRow({.Cells = {{a}, {b}, {c}}});
  a->SetCaption("Go");
  EXPECT_EQ(a->Bounds(), (TBounds{10, 10, 100, 30}));  // fits: as designed
  EXPECT_EQ(b->Left(), 120);

  a->SetCaption(Chars(20));  // 156 pixels: B keeps its 10-pixel gap, C the room it had
  EXPECT_EQ(a->Width(), 156);
  EXPECT_EQ(b->Left(), 176);
  EXPECT_EQ(c->Left(), 400);
  b->SetCaption(Chars(40));  // 296: C keeps 16 of its 180
  EXPECT_EQ(c->Left(), 176 + 296 + 16);

  a->SetCaption("Go");
  b->SetCaption("Go");
  EXPECT_EQ(a->Bounds(), (TBounds{10, 10, 100, 30}));
  EXPECT_EQ(b->Bounds(), (TBounds{120, 10, 100, 30}));
  EXPECT_EQ(c->Left(), 400);
}

TEST_F(CaptionLayoutTest, ARowHeldToTheRightGrowsLeftAndItsStretchedListGivesWay) {
  auto* list = Make<TComboBox>(form.get(), "List", {10, 10, 360, 23}, akLeft | akTop | akRight);
  auto* b = Make<TButton>(form.get(), "B", {380, 10, 100, 30}, akTop | akRight);
  auto* c = Make<TButton>(form.get(), "C", {490, 10, 100, 30}, akTop | akRight);
  form->CaptionLayout().AddRow({.Cells = {{c}, {b}, {list}}, .Flow = TRowFlow::RightToLeft});
  b->SetCaption(Chars(24));  // 184 pixels, 84 more, to the left
  EXPECT_EQ(c->Bounds(), (TBounds{490, 10, 100, 30}));
  EXPECT_EQ(b->Bounds(), (TBounds{296, 10, 184, 30}));
  EXPECT_EQ(list->Bounds(), (TBounds{10, 10, 276, 23}));
  // The anchors keep working from the new places.
  form->SetClientSize({700, 400});
  EXPECT_EQ(b->Left(), 396);
  EXPECT_EQ(list->Width(), 376);
}

TEST_F(CaptionLayoutTest, ARowPastItsLimitMovesIntoItsGapsAndThenGoesOnBelow) {
  auto* group = Make<TGroupBox>(form.get(), "Group", {0, 0, 600, 100}, akLeft | akTop | akRight);
  auto* below = Make<TMemo>(form.get(), "Below", {0, 110, 600, 290}, kAnchorsAll);
  // Three buttons of 100; the last one stands far off: 10, 120, 450 (the limit is 588).
  auto* a = Make<TButton>(group, "A", {10, 40, 100, 30});
  auto* b = Make<TButton>(group, "B", {120, 40, 100, 30});
  auto* c = Make<TButton>(group, "C", {450, 40, 100, 30});
  form->CaptionLayout().AddRow({.Cells = {{a}, {b}, {c}}});

  c->SetCaption(Chars(25));  // 191: back into the gap before it
  EXPECT_EQ(c->Bounds(), (TBounds{397, 40, 191, 30}));
  EXPECT_EQ(b->Left(), 120);

  a->SetCaption(Chars(40));  // 296: B at 316, C no longer fits after it and goes on below
  EXPECT_EQ(b->Left(), 316);
  EXPECT_EQ(c->Bounds(), (TBounds{10, 40 + 34, 191, 30}));
  // The group grows by the line; what stands below keeps its gap, and its bottom.
  EXPECT_EQ(group->Height(), 134);
  EXPECT_EQ(below->Bounds(), (TBounds{0, 144, 600, 256}));

  a->SetCaption("Go");
  c->SetCaption("Go");
  EXPECT_EQ(group->Height(), 100);
  EXPECT_EQ(below->Bounds(), (TBounds{0, 110, 600, 290}));
}

TEST_F(CaptionLayoutTest, APackedRowPlacesEachBoxByItsCaptionAndALoneLabelTakesMoreLines) {
  auto* group = Make<TGroupBox>(form.get(), "Group", {0, 0, 400, 80});
  auto* x = Make<TCheckBox>(group, "X", {12, 10, 50, 19});
  auto* y = Make<TCheckBox>(group, "Y", {200, 10, 50, 19});
  auto* label = group->Add<TLabel>(TCreate{.Name = "L", .Bounds = {12, 40, 0, 0}});
  form->CaptionLayout().AddRow({.Cells = {{x}, {y}}, .PackGap = 16});
  form->CaptionLayout().AddRow({.Cells = {{label}}});
  x->SetCaption("ab");  // 31 pixels, narrower than designed
  y->SetCaption("cd");
  EXPECT_EQ(x->Bounds(), (TBounds{12, 10, 31, 19}));
  EXPECT_EQ(y->Left(), 12 + 31 + 16);

  // 60 words of 28 pixels, 7 between them: 10 a line within 376 (the group's 396 less 8, from
  // 12), 6 lines.
  std::string text;
  for (int i = 0; i < 60; ++i) {
    if (i) text += ' ';
    text += "wxyz";
  }
  label->SetCaption(text);
  EXPECT_EQ(label->Width(), 376);
  EXPECT_EQ(label->Height(), 6 * 15);
  // The group holds it with the 7 pixels it had below its content (client 62, content to 55).
  EXPECT_EQ(group->Height(), 80 + (40 + 90 + 7 - 62));
}

TEST_F(CaptionLayoutTest, ABatchPlacesOnceAtItsEndAndRowsFollowRadioItems) {
  auto* group = Make<TRadioGroup>(form.get(), "R", {10, 10, 100, 60});
  auto* b = Make<TButton>(form.get(), "B", {120, 10, 100, 30});
  form->CaptionLayout().AddRow({.Cells = {{group}, {b}}});
  {
    TCaptionBatch batch(form->CaptionLayout());
    group->SetItems({Chars(30), "short"});
    EXPECT_EQ(group->Width(), 100);  // held
  }
  // The widest item: insets 2 + 2, margins 12, the mark 17 and 210 pixels of text.
  EXPECT_EQ(group->Width(), 243);
  EXPECT_EQ(b->Left(), 10 + 243 + 10);
}

}  // namespace

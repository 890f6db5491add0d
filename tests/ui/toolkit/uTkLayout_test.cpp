// The one anchor and align layout of both backends, on the headless backend's fixed insets.
#include "ui/UiFixture.h"
#include "ui/toolkit/uTkControls.h"
#include "ui/toolkit/uTkForm.h"

using namespace tk;

namespace {

class LayoutTest : public UiFixture {
 protected:
  // A shown form with a client area of Client pixels.
  std::unique_ptr<TForm> MakeForm(TSize Client) {
    auto f = std::make_unique<TForm>(nullptr, TCreate{.Name = "Form"});
    f->SetClientSize(Client);
    f->Show();
    return f;
  }
};

struct AnchorCase {
  const char* Name;
  TAnchors Anchors;
  TBounds Grown;   // after the client area grew from 400 x 300 to 500 x 360
  TBounds Shrunk;  // after it shrank to 100 x 100
};

// The child sits at 10, 20, 100 x 50.
const AnchorCase kAnchorCases[] = {
    {"left top: stays", akLeft | akTop, {10, 20, 100, 50}, {10, 20, 100, 50}},
    {"left right: stretches", akLeft | akRight | akTop, {10, 20, 200, 50}, {10, 20, 0, 50}},
    {"right: moves", akRight | akTop, {110, 20, 100, 50}, {-290, 20, 100, 50}},
    {"top bottom: stretches", akLeft | akTop | akBottom, {10, 20, 100, 110}, {10, 20, 100, 0}},
    {"all four: stretches both ways", kAnchorsAll, {10, 20, 200, 110}, {10, 20, 0, 0}},
    {"right bottom: moves both ways", akRight | akBottom, {110, 80, 100, 50}, {-290, -180, 100, 50}},
    // Centre (60, 45) keeps its proportion: 75 of 500, 54 of 360; 15 of 100, 15 of 100.
    {"none: centre in proportion", 0, {25, 29, 100, 50}, {-35, -10, 100, 50}},
    {"top only: centred horizontally", akTop, {25, 20, 100, 50}, {-35, 20, 100, 50}},
};

TEST_F(LayoutTest, AnchorsFollowTheClientAreaAndComeBackWhenItDoes) {
  for (const AnchorCase& c : kAnchorCases) {
    SCOPED_TRACE(c.Name);
    auto form = MakeForm({400, 300});
    auto* child = form->Add<TPanel>({.Name = "Child", .Bounds = {10, 20, 100, 50}, .Anchors = c.Anchors});
    ui.Resize(*form, {500, 360});
    EXPECT_EQ(child->Bounds(), c.Grown);
    ui.Resize(*form, {100, 100});
    EXPECT_EQ(child->Bounds(), c.Shrunk);
    // Laid out from where code put it: the design place is back, a clamped width included.
    ui.Resize(*form, {400, 300});
    EXPECT_EQ(child->Bounds(), (TBounds{10, 20, 100, 50}));
  }
}

TEST_F(LayoutTest, BoundsSetByCodeBecomeThePlaceTheAnchorsKeep) {
  auto form = MakeForm({400, 300});
  auto* child = form->Add<TButton>({.Name = "B", .Bounds = {300, 10, 90, 20}, .Anchors = akTop | akRight});
  ui.Resize(*form, {500, 300});
  EXPECT_EQ(child->Left(), 400);
  child->SetLeft(100);  // measured against the 500 pixels of now
  ui.Resize(*form, {600, 300});
  EXPECT_EQ(child->Left(), 200);
}

TEST_F(LayoutTest, MainWindowFrameTopPanelPagesAndGroups) {
  auto form = MakeForm({980, 760});
  EXPECT_EQ(form->Bounds().Width, 980 + 16);
  EXPECT_EQ(form->Bounds().Height, 760 + 39);
  auto* top = form->Add<TPanel>({.Name = "PanelTop", .Bounds = {0, 0, 0, 28}, .Align = TAlign::alTop});
  auto* pages = form->Add<TPageControl>({.Name = "PageMain", .Align = TAlign::alClient});
  auto* trim = pages->Add<TTabSheet>({.Name = "TabTrim"});
  auto* inspect = pages->Add<TTabSheet>({.Name = "TabInspect"});
  EXPECT_EQ(top->Bounds(), (TBounds{0, 0, 980, 28}));
  EXPECT_EQ(pages->Bounds(), (TBounds{0, 28, 980, 732}));
  EXPECT_EQ(trim->Bounds(), (TBounds{0, 0, 972, 704}));
  EXPECT_EQ(inspect->Bounds(), trim->Bounds());

  auto* group = trim->Add<TGroupBox>(
      {.Name = "GroupSelection", .Bounds = {8, 8, 956, 64}, .Anchors = akLeft | akTop | akRight});
  EXPECT_EQ(group->ClientSize(), (TSize{952, 46}));  // below its caption
  auto* refresh =
      group->Add<TButton>({.Name = "BtnRefresh", .Bounds = {724, 4, 110, 31}, .Anchors = akTop | akRight});
  auto* status =
      trim->Add<TGroupBox>({.Name = "GroupStatus", .Bounds = {8, 480, 956, 216}, .Anchors = kAnchorsAll});

  // Wider and higher: every level follows, the button keeps its distance to the group's right edge.
  ui.Resize(*form, {1180, 860});
  EXPECT_EQ(pages->Bounds(), (TBounds{0, 28, 1180, 832}));
  EXPECT_EQ(trim->Bounds(), (TBounds{0, 0, 1172, 804}));
  EXPECT_EQ(group->Bounds(), (TBounds{8, 8, 1156, 64}));
  EXPECT_EQ(refresh->Bounds(), (TBounds{924, 4, 110, 31}));
  EXPECT_EQ(status->Bounds(), (TBounds{8, 480, 1156, 316}));

  // Never below the minimum client size.
  form->SetMinClientSize({980, 760});
  ui.Resize(*form, {500, 500});
  EXPECT_EQ(form->ClientSize(), (TSize{980, 760}));
  EXPECT_EQ(refresh->Bounds(), (TBounds{724, 4, 110, 31}));

  // A hidden top panel gives its room to the client-aligned pages.
  top->SetVisible(false);
  EXPECT_EQ(pages->Bounds(), (TBounds{0, 0, 980, 760}));
}

TEST_F(LayoutTest, TopAlignedControlsStackInCreationOrder) {
  auto form = MakeForm({300, 200});
  auto* a = form->Add<TPanel>({.Name = "A", .Bounds = {5, 5, 10, 20}, .Align = TAlign::alTop});
  auto* b = form->Add<TPanel>({.Name = "B", .Bounds = {0, 0, 0, 30}, .Align = TAlign::alTop});
  auto* rest = form->Add<TPanel>({.Name = "Rest", .Align = TAlign::alClient});
  EXPECT_EQ(a->Bounds(), (TBounds{0, 0, 300, 20}));
  EXPECT_EQ(b->Bounds(), (TBounds{0, 20, 300, 30}));
  EXPECT_EQ(rest->Bounds(), (TBounds{0, 50, 300, 150}));
  a->SetHeight(40);
  EXPECT_EQ(b->Bounds(), (TBounds{0, 40, 300, 30}));
  EXPECT_EQ(rest->Bounds(), (TBounds{0, 70, 300, 130}));
}

TEST_F(LayoutTest, ResizeByUserRaisesOnResizeButSizeByCodeDoesNot) {
  auto form = MakeForm({400, 300});
  int resized = 0;
  form->OnResize = [&](TControl*) { ++resized; };
  form->SetClientSize({500, 300});
  EXPECT_EQ(resized, 0);
  ui.Resize(*form, {600, 300});
  EXPECT_EQ(resized, 1);
  EXPECT_EQ(form->ClientSize(), (TSize{600, 300}));
}

}  // namespace

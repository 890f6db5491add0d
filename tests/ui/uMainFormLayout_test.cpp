// The window's layout judged by its own measures (the headless backend's fixed metrics), in
// every language and every view: captions fit their controls, siblings never overlap, nothing
// leaves its parent, grid titles fit their columns. The same judge on the real controls runs under
// wine (tests/ui/win32/WindowLayoutWin32_test.cpp).
#include "realtest/uSpeedChartForm.h"
#include "ui/DiskWindowFixture.h"
#include "ui/ModelLayoutCheck.h"
#include "ui/RealTestLabelValues.h"
#include "ui/toolkit/uTkCaptionLayout.h"

#include <map>

namespace {

class MainFormLayoutTest : public DiskWindowFixture {
 protected:
  // A disk with an exFAT volume, a blank one and one whose only volume is FAT (the longest
  // file-system policy line).
  void Machine() {
    AddBot(1, 32 * kGiB);
    AddFormatted('E', 1, kMiB, 16 * kGiB, plat::sim::SimFsKind::kExFat);
    AddUas(2, 16 * kGiB, "UAS0002", "Blank SSD");
    AddUas(3, 16 * kGiB, "UAS0003", "Old SSD");
    m->Discovery().AddVolume('G', 3, kMiB, 2 * kGiB, "FAT", 4096);
  }
  void Expect(const std::string& Where, tk::TControl& Window) {
    for (const std::string& f : layoutcheck::Faults(Window)) ADD_FAILURE() << Where << ": " << f;
  }
  static std::map<std::string, tk::TBounds> PlacesIn(tk::TControl& Parent) {
    std::map<std::string, tk::TBounds> places{{Parent.Name(), Parent.Bounds()}};
    for (const auto& c : Parent.Children()) places[c->Name()] = c->Bounds();
    return places;
  }
};

TEST_F(MainFormLayoutTest, EveryViewFitsItsCaptionsInEveryLanguage) {
  Machine();
  Open();
  ASSERT_EQ(form->CmbDisk->ItemCount(), 3);
  ASSERT_TRUE(ui.Check("CbAdvanced", true));
  TSpeedDataArray samples;
  samples.Add({0, 12.5, "STEP1 TRIM"});
  samples.Add({20, 37.4, "STEP1"});
  for (int lang = 0; lang < LanguageCount(); ++lang) {
    const std::string where = LanguageDisplayName(LanguageFromIndex(lang));
    if (form->CmbLanguage->ItemIndex() != lang) {
      ASSERT_TRUE(ui.Select("CmbLanguage", lang));
    }
    ASSERT_TRUE(ui.Select("PageMain", 0));
    for (int disk = 0; disk < 3; ++disk) {
      ASSERT_TRUE(ui.Select("CmbDisk", disk));
      Settle(100);
      if (disk == 1) {
        ASSERT_TRUE(ui.Select("RgMode", 0));  // full device: the partition-style row shows
        ASSERT_TRUE(form->CbInitStyle->Showing());
      }
      Expect(where + ", TRIM tab, disk " + std::to_string(disk), *form);
    }
    ASSERT_TRUE(ui.Select("PageMain", 1));
    Expect(where + ", inspection tab", *form);
    ASSERT_TRUE(ui.Click("BtnInspect"));
    Expect(where + ", inspection tab, inspected", *form);
    ASSERT_TRUE(ui.Select("PageMain", 2));
    // Every value the four labels show during a test fits, and none moves anything: the labels
    // kept room for the widest.
    const TRealTestLabelValues values = RealTestLabelValues();
    std::map<std::string, tk::TBounds> places;
    for (size_t row = 0; row < values.Rows(); ++row) {
      values.Show(*form, row);
      const std::string at = where + ", real-test tab, \"" + form->LblRealStatus->Caption() + "\"";
      Expect(at, *form);
      for (auto& [name, b] : PlacesIn(*form->GroupRealTest)) {
        if (row == 0) {
          places[name] = b;
        } else {
          EXPECT_EQ(b, places[name]) << at << ": " << name << " moved";
        }
      }
    }
    auto chart = TSpeedChartForm::CreateChart(form.get(), samples, "C:\\out\\");
    chart->Show();
    Expect(where + ", speed chart", *chart);
    tk::DestroyForm(std::move(chart));
  }
}

// The status line changes with every batch of a run, the real test's labels every second or
// two: such a change measures the caption that changed, not all the window's (each a measure of
// the system's on Win32, about 20 ms a change under wine for the whole window), and places the
// window as a run of the whole rule does.
TEST_F(MainFormLayoutTest, AStatusChangeMeasuresOnlyItsOwnCaption) {
  Machine();
  Open();
  ASSERT_TRUE(ui.Check("CbAdvanced", true));
  std::map<std::string, int> measured;
  trace.OnMeasure = [&](tk::TControl& C) { ++measured[C.Name()]; };
  for (int batch = 1; batch <= 50; ++batch) {
    form->RunProgress(batch, 50, "batch " + std::to_string(batch) + "/50");
    form->SetRealSpeed("W " + std::to_string(batch * 7) + ".0 MB/s");
    form->SetRealElapsed("0:00:" + std::to_string(10 + batch));
  }
  trace.OnMeasure = nullptr;
  for (const auto& [name, count] : measured)
    EXPECT_TRUE(name == "LblStatus" || name == "LblRealSpeed" || name == "LblElapsed")
        << name << " measured " << count << " times";
  EXPECT_LE(measured["LblStatus"], 2 * 50 * 2) << "its own fit, and the rule's one measure";

  std::map<std::string, tk::TBounds> places;
  for (tk::TControl* c : {static_cast<tk::TControl*>(form->LblStatus), static_cast<tk::TControl*>(form->MemoLog),
                          static_cast<tk::TControl*>(form->LblRealSpeed), static_cast<tk::TControl*>(form->LblElapsed),
                          static_cast<tk::TControl*>(form->BtnExportFileMap)})
    places[c->Name()] = c->Bounds();
  form->CaptionLayout().Apply();
  for (const auto& [name, b] : places) EXPECT_EQ(ui.Find(name)->Bounds(), b) << name;
}

}  // namespace

// The main window's real-test tab over a UAS disk (PD2) with an NTFS volume E: that holds real
// files, opened and closed as the program does (DiskWindowFixture.h), with small test files in
// place of 500 MiB and 1 GiB, and what a test reads back: the real-test log, the labels, the CSVs
// in the output folder, the drive's ledger.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/files/SimVolumeFiles.h"
#include "realtest/uTestContent.h"
#include "ui/DiskWindowFixture.h"

class RealTestWindowFixture : public DiskWindowFixture {
 protected:
  static constexpr int kDisk = 2;
  static constexpr const char* kFolder = "E:\\trim_real_test";
  static constexpr const char* kOutput = "C:\\Users\\user\\Desktop\\vrek\\output\\";
  // 1 MiB files and 2 MiB "1 GiB" files: a 48 MiB volume takes about 15 and 14 of them.
  const TRealTestFileSizes kSmall{static_cast<int64_t>(kMiB), static_cast<int64_t>(2 * kMiB)};

  std::shared_ptr<plat::sim::SimDisk> disk;

  // PD2 with E: from 1 MiB on; nothing read back can come from the volume's cache.
  void AddTestDisk(uint64_t VolumeBytes = 48 * kMiB, uint64_t DiskBytes = 2 * kGiB,
                   plat::sim::SimFsKind Kind = plat::sim::SimFsKind::kNtfs) {
    disk = AddUas(kDisk, DiskBytes, "UASRT01");
    AddFormatted('E', kDisk, kMiB, VolumeBytes, Kind);
    m->VolumeFiles().SetCacheLimit('E', 0);
  }
  // The window with PD2 selected and E: chosen, given Sizes for its tests.
  void OpenTab(const TRealTestFileSizes& Sizes) {
    Open();
    TMainFormTestAccess::RealTestSizes(*form) = Sizes;
    ShowTab(kRealTestPage);
  }
  void OpenTab() { OpenTab(kSmall); }

  // The test as the person starts it: Start, Yes to the confirmation.
  void StartTest(int StartStep = 1, int EndStep = 5, int WaitMin = 0) {
    form->CmbStartStep->SetItemIndex(StartStep - 1);
    form->CmbEndStep->SetItemIndex(EndStep - 1);
    form->SpSpeedDropWait->SetValue(WaitMin);
    script.Box(plat::IDYES);
    ASSERT_TRUE(ui.Click("BtnRealTestStart"));
  }
  // The pages of the main window, as the person picks them.
  static constexpr int kTrimPage = 0, kRealTestPage = 2;
  void ShowTab(int Page) { ASSERT_TRUE(ui.Select("PageMain", Page)); }
  TThread* Running() { return TMainFormTestAccess::RealTestThread(*form); }
  // Runs the loop until the test has ended and every expected box has come.
  void RunToEnd(unsigned LimitMs = 3600000) {
    ASSERT_TRUE(ui.RunUntil([&] { return !Running() && script.Pending() == 0; }, LimitMs))
        << "the test never ended";
  }

  // ---- what the tab shows ----
  // The real-test log's lines without their "[hh:mm:ss] " prefix (the guide's lines as they are).
  std::vector<std::string> RealLog() {
    std::vector<std::string> R;
    for (const std::string& L : form->MemoRealTestLog->Lines())
      R.push_back(L.size() > 11 && L[0] == '[' && L[9] == ']' ? L.substr(11) : L);
    return R;
  }
  bool RealLogged(const std::string& Piece) {
    const auto L = RealLog();
    return std::any_of(L.begin(), L.end(),
                       [&](const std::string& S) { return S.find(Piece) != std::string::npos; });
  }
  size_t RealLogCount(const std::string& Piece) {
    const auto L = RealLog();
    return std::count_if(L.begin(), L.end(),
                         [&](const std::string& S) { return S.find(Piece) != std::string::npos; });
  }
  std::pair<std::string, std::string> LastBox() {
    const auto B = BoxTexts();
    return B.empty() ? std::pair<std::string, std::string>{} : B.back();
  }
  bool ChartButtonOn() { return form->BtnSpeedChart && form->BtnSpeedChart->Enabled(); }
  // Idle as after start-up or a test's end: start, verify and delete usable, stop not.
  bool TabIdle() {
    return form->BtnRealTestStart->Enabled() && form->BtnVerifyOnly->Enabled() &&
           form->BtnDeleteTestFolder->Enabled() && !form->BtnRealTestStop->Enabled() && !Running();
  }

  // ---- files ----
  // The lines of a file in the output folder.
  std::vector<std::string> CsvLines(const std::string& Name) {
    const std::string B = m->Files().ReadAll(std::string(kOutput) + Name);
    std::vector<std::string> R;
    for (size_t At = 0; At < B.size();) {
      size_t E = B.find("\r\n", At);
      if (E == std::string::npos) E = B.size();
      R.push_back(B.substr(At, E - At));
      At = E + 2;
    }
    return R;
  }
  static std::string TestFile(int N) { return std::string(kFolder) + "\\file_" + std::to_string(N) + ".bin"; }
  static std::string GigFile(int N) { return std::string(kFolder) + "\\dumy\\gig_" + std::to_string(N) + ".bin"; }
  // A test file as a former test left it: the content its path and size give.
  void PlaceTestFile(const std::string& Path, size_t Size) {
    std::string Bytes(Size, '\0');
    TContentStream(NameSeed(Path)).Next(reinterpret_cast<uint8_t*>(Bytes.data()), Size);
    ASSERT_TRUE(m->VolumeFiles().WriteAll(Path, Bytes));
  }
};

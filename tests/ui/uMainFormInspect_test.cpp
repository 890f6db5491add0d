// The run-time tabs and the inspection view of the main window, on the headless backend over
// the simulated machine: disks with real MBR and GPT tables and formatted volumes.
#include <gtest/gtest.h>

#include <stdexcept>

#include "InspectTestUtil.h"
#include "core/uFormat.h"
#include "core/uLang.h"
#include "platform/WinDisk.h"
#include "platform/WinFsControl.h"

using namespace plat;
using namespace plat::sim;

namespace {

class InspectViewTest : public InspectFixture {
 protected:
  std::vector<std::string> Row(int R) {
    std::vector<std::string> Cells;
    for (int c = 0; c < form->GridVolumes->ColCount(); ++c) Cells.push_back(form->GridVolumes->Cell(c, R));
    return Cells;
  }
  std::string Last(const tk::TMemo* Memo) { return Memo->Lines().empty() ? "" : Memo->Lines().back(); }
};

// ---- the tabs ----

TEST_F(InspectViewTest, TheInspectionTabIsBuiltAtCreation) {
  Open();
  struct Want {
    const char* Name;
    tk::TBounds Bounds;
    tk::TAnchors Anchors;
    TTextId Caption, Hint;
  };
  const Want Controls[] = {
      {"BtnInspect", {12, 12, 120, 31}, tk::akTop | tk::akLeft, TTextId::ButtonInspect, TTextId::InspectHint},
      {"BtnExportFreeList",
       {144, 12, 190, 31},
       tk::akTop | tk::akLeft,
       TTextId::ButtonExportFreeSectorList,
       TTextId::ExportFreeSectorListHint},
      {"MemoInspect",
       {12, 52, 940, 170},
       tk::akTop | tk::akLeft | tk::akRight,
       TTextId(-1),
       TTextId::InspectSummaryHint},
      {"GridVolumes", {12, 232, 940, 480}, tk::kAnchorsAll, TTextId(-1), TTextId::VolumeGridHint},
  };
  for (const Want& W : Controls) {
    SCOPED_TRACE(W.Name);
    tk::TControl* C = form->TabInspect->FindByName(W.Name);
    ASSERT_NE(C, nullptr);
    EXPECT_EQ(C->Parent(), form->TabInspect);
    EXPECT_EQ(C->Anchors(), W.Anchors);
    EXPECT_EQ(C->Hint(), GetLangText(W.Hint));
    if (int(W.Caption) >= 0) {
      EXPECT_EQ(C->Caption(), GetLangText(W.Caption));
    }
    // Laid out against the tab's size now: the right and bottom anchors keep their distances.
    EXPECT_EQ(C->Left(), W.Bounds.Left);
    EXPECT_EQ(C->Top(), W.Bounds.Top);
    if (!(W.Anchors & tk::akRight)) {
      EXPECT_EQ(C->Width(), W.Bounds.Width);
    }
    if (!(W.Anchors & tk::akBottom)) {
      EXPECT_EQ(C->Height(), W.Bounds.Height);
    }
  }

  tk::TStringGrid* G = form->GridVolumes;
  EXPECT_EQ(G->ColCount(), 13);
  EXPECT_EQ(G->RowCount(), 2);
  EXPECT_EQ(G->FixedRows(), 1);
  EXPECT_EQ(G->FixedCols(), 1);
  EXPECT_TRUE(G->ColSizing());
  EXPECT_TRUE(G->RowSelect());
  EXPECT_EQ(Row(0),
            (std::vector<std::string>{"Drive", "FS", "Partition#", "Style", "Type", "Sec/Cluster", "Total Sectors",
                                      "Size (GB)", "Free Sectors", "Used Sectors", "Physical Start Sector",
                                      "Partition Length Sectors", "Cluster Bytes"}));
  EXPECT_EQ(Row(1), std::vector<std::string>(13));
  EXPECT_EQ(form->MemoInspect->Lines(), (std::vector<std::string>{GetLangText(TTextId::PressInspect)}));

  // The speed-chart button waits for a real test's samples.
  tk::TButton* Chart = form->BtnSpeedChart;
  ASSERT_NE(Chart, nullptr);
  EXPECT_EQ(Chart->Parent(), form->GroupRealTest);
  EXPECT_EQ(Chart->Bounds(), (tk::TBounds{690, 120, 120, 31}));
  EXPECT_EQ(Chart->Caption(), GetLangText(TTextId::ButtonSpeedChart));
  EXPECT_EQ(Chart->Hint(), GetLangText(TTextId::SpeedChartHint));
  EXPECT_FALSE(Chart->Enabled());
  ASSERT_TRUE(ui.Select("PageMain", 2));
  EXPECT_FALSE(ui.Click("BtnSpeedChart"));

  EXPECT_EQ(form->PageMain->ActivePage(), form->TabRealTest);
  EXPECT_TRUE(LogHas("[INFO] " + GetLangText(TTextId::TabsInitialized)));
}

TEST_F(InspectViewTest, TheTrimGroupsShowOnlyOnTheTrimTab) {
  Open();
  tk::TControl* Groups[] = {form->GroupSelection, form->GroupMode, form->MemoDiskInfo, form->GroupStatus};
  auto Shown = [&] {
    std::vector<bool> V;
    for (tk::TControl* G : Groups) V.push_back(G->Visible());
    V.push_back(form->GroupAdvanced->Visible());
    return V;
  };
  EXPECT_EQ(form->PageMain->ActivePage(), form->TabTrim);
  EXPECT_EQ(Shown(), (std::vector<bool>{true, true, true, true, false})) << "advanced settings are off";
  for (int Page : {1, 2}) {
    ASSERT_TRUE(ui.Select("PageMain", Page));
    EXPECT_EQ(Shown(), std::vector<bool>(5, false)) << Page;
  }
  form->CbAdvanced->SetChecked(true);
  ASSERT_TRUE(ui.Select("PageMain", 0));
  EXPECT_EQ(Shown(), std::vector<bool>(5, true));
  ASSERT_TRUE(ui.Select("PageMain", 1));
  EXPECT_EQ(Shown(), std::vector<bool>(5, false));
}

TEST_F(InspectViewTest, TheRealTestGuideIsWrittenOnceIntoAnEmptyLog) {
  Open();
  const std::vector<std::string> Guide = {GetLangText(TTextId::GuideTitle),
                                          GetLangText(TTextId::GuideStep1),
                                          GetLangText(TTextId::GuideStep2),
                                          GetLangText(TTextId::GuideStep3),
                                          GetLangText(TTextId::GuideStep4),
                                          GetLangText(TTextId::GuideStep5),
                                          "",
                                          GetLangText(TTextId::GuideSpeedDropWait),
                                          GetLangText(TTextId::GuidePressStop)};
  ASSERT_EQ(Guide[0], "TRIM Real Test Procedure (STEP 1~5):");
  EXPECT_TRUE(form->MemoRealTestLog->Lines().empty()) << "not before the tab is opened";
  ASSERT_TRUE(ui.Select("PageMain", 2));
  EXPECT_EQ(form->MemoRealTestLog->Lines(), Guide);
  ASSERT_TRUE(ui.Select("PageMain", 0));
  ASSERT_TRUE(ui.Select("PageMain", 2));
  EXPECT_EQ(form->MemoRealTestLog->Lines(), Guide) << "opened again: nothing added";

  // A log that holds a line is left alone; an emptied one gets the guide again.
  form->MemoRealTestLog->SetText("STEP1 started");
  form->ShowRealTestGuide();
  EXPECT_EQ(form->MemoRealTestLog->Lines(), (std::vector<std::string>{"STEP1 started"}));
  form->MemoRealTestLog->Clear();
  form->ShowRealTestGuide();
  EXPECT_EQ(form->MemoRealTestLog->Lines(), Guide);
}

// ---- the queries of one volume ----

TEST_F(InspectViewTest, PartitionStyleAndTypeOfEachVolume) {
  AddDisk(1, 2048 * kMiB, /*Mbr=*/true);
  m->Discovery().AddVolume('E', 1, kMiB, 64 * kMiB, "exFAT");
  m->Discovery().AddVolume('F', 1, 65 * kMiB, 64 * kMiB, "FAT32");
  AddDisk(2, 2048 * kMiB);
  m->Discovery().AddVolume('G', 2, kMiB, 64 * kMiB, "NTFS");
  m->Discovery().AddVolume('H', 2, 65 * kMiB, 64 * kMiB, "NTFS");
  m->Storage().AddDisk(3, 65536);
  m->Storage().AddVolume('R', {{3, kMiB, kMiB}});  // a disk without a table
  m->Storage().AddVolumeFault('H', IOCTL_DISK_GET_PARTITION_INFO_EX, SimOutcome::Error(ERROR_NOT_READY));
  Open();

  struct Case {
    const char* Drive;
    bool Ok;
    uint32_t Number;
    const char* Style;
    const char* Type;
  };
  const Case Cases[] = {
      {"E:", true, 1, "MBR", "0x07"},
      {"F:\\", true, 2, "MBR", "0x0C"},  // only the letter and colon count
      {"G:", true, 1, "GPT", "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}"},
      {"H:", false, 0, "Unknown", "Unknown"},  // the query fails
      {"R:", true, 0, "RAW", "RAW"},
      {"Q:", false, 0, "Unknown", "Unknown"},  // no such volume
      {"", false, 0, "Unknown", "Unknown"},
  };
  const size_t Handles = m->Kernel().OpenHandleCount();
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Drive);
    uint32_t Number = 99;
    std::string Style = "x", Type = "y";
    EXPECT_EQ(form->GetPartitionStyle(C.Drive, Number, Style, Type), C.Ok);
    EXPECT_EQ(Number, C.Number);
    EXPECT_EQ(Style, C.Style);
    EXPECT_EQ(Type, C.Type);
  }
  EXPECT_EQ(m->Kernel().OpenHandleCount(), Handles) << "every handle is closed";
}

TEST_F(InspectViewTest, VolumeSpaceMultipliesInSixtyFourBits) {
  AddDisk(1, 64ull << 30);
  // 2^32 - 1 clusters of 64 KiB: the byte counts do not fit 32 bits.
  auto V = m->Discovery().AddVolume('E', 1, kMiB, 60ull << 30, "NTFS", 65536);
  V->totalClusters = 0xFFFFFFFFu;
  V->freeClusters = 0x80000000u;
  Open();
  uint64_t T = 1, F = 1, TC = 1, FC = 1, Spc = 1;
  EXPECT_TRUE(form->GetVolumeSpace("E:\\", T, F, TC, FC, Spc));
  EXPECT_EQ(TC, 0xFFFFFFFFull);
  EXPECT_EQ(FC, 0x80000000ull);
  EXPECT_EQ(Spc, 128u);
  EXPECT_EQ(T, 0xFFFFFFFFull * 65536);
  EXPECT_EQ(F, 0x80000000ull * 65536);

  SimDiscovery::Faults Faults;
  Faults.diskFreeSpace['E'] = ERROR_NOT_READY;
  m->Discovery().SetFaults(Faults);
  EXPECT_FALSE(form->GetVolumeSpace("E:\\", T, F, TC, FC, Spc));
  EXPECT_EQ(std::vector<uint64_t>({T, F, TC, FC, Spc}), std::vector<uint64_t>(5, 0));
}

// ---- the grid ----

TEST_F(InspectViewTest, OneGridRowPerVolume) {
  AddDisk(1, 2048 * kMiB);
  AddFormatted('E', 1, 1, 64, SimFsKind::kNtfs);
  AddFormatted('F', 1, 65, 128, SimFsKind::kExFat, 512, 32768);
  m->Discovery().AddVolume('G', 1, 200 * kMiB, 8 * kMiB, "FAT16", 2048);
  Open();
  const TDiskInfo D = DiskNumbered(1);
  ASSERT_EQ(D.Volumes.size(), 3u);
  SimDiscovery::Faults Faults;
  Faults.diskFreeSpace['G'] = ERROR_NOT_READY;  // its cells show zeros, its record's columns stay
  m->Discovery().SetFaults(Faults);
  form->FillVolumeGrid(D);

  auto E = FsState(m->Storage(), 'E');
  const uint64_t ETotal = E->clusters * 8, EFree = E->FreeClusters() * 8;
  ASSERT_GT(EFree, 0u);
  auto Share = [](uint64_t Part, uint64_t Whole) {
    return Format("%.1f", static_cast<double>(static_cast<float>(Part) / static_cast<float>(Whole) * 100.0f));
  };
  ASSERT_EQ(form->GridVolumes->RowCount(), 4);
  EXPECT_EQ(Row(1),
            (std::vector<std::string>{"E:", "NTFS", "1", "GPT", "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}", "8",
                                      std::to_string(ETotal), Format("%.2f", ETotal * 512.0 / (1 << 30)),
                                      std::to_string(EFree) + " (" + Share(EFree, ETotal) + "%)",
                                      std::to_string(ETotal - EFree) + " (" + Share(ETotal - EFree, ETotal) + "%)",
                                      "2048", "131072", "4096"}));
  EXPECT_EQ(Row(2)[1], "exFAT");
  EXPECT_EQ(Row(2)[2], "2");
  EXPECT_EQ(Row(2)[5], "64");
  EXPECT_EQ(Row(2)[12], "32768");
  EXPECT_EQ(Row(3), (std::vector<std::string>{"G:", "FAT16", "3", "GPT", "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}",
                                              "0", "0", "0.00", "0", "0", "409600", "16384", "2048"}));
  // Columns fitted to their contents: the widest cell of each decides.
  for (int c = 0; c < 13; ++c) {
    int Widest = 0;
    for (int r = 0; r < 4; ++r)
      Widest = std::max(Widest, tk::headless::TextExtent(form->GridVolumes->Cell(c, r), {}).Width);
    EXPECT_GT(form->GridVolumes->ColWidth(c), Widest) << c;
  }

  // A disk without volumes keeps one empty data row; a reset empties what an inspection left.
  form->FillVolumeGrid(TDiskInfo{});
  EXPECT_EQ(form->GridVolumes->RowCount(), 2);
  form->FillVolumeGrid(D);
  form->ResetInspectView();
  EXPECT_EQ(form->GridVolumes->RowCount(), 2);
  EXPECT_EQ(Row(1), std::vector<std::string>(13));
  EXPECT_EQ(form->MemoInspect->Text(), GetLangText(TTextId::PressInspect));
}

// The space figures follow the files on the volume, as Windows reports them.
TEST_F(InspectViewTest, TheFreeFiguresFollowTheFilesOnTheVolume) {
  AddDisk(1, 2048 * kMiB);
  AddFormatted('E', 1, 1, 64, SimFsKind::kExFat);
  Open();
  const TDiskInfo D = DiskNumbered(1);
  form->FillVolumeGrid(D);
  const uint64_t Before = std::stoull(form->GridVolumes->Cell(8, 1));
  ASSERT_TRUE(m->VolumeFiles().WriteAll("E:\\data.bin", std::string(1 << 20, 'x')));
  form->FillVolumeGrid(D);
  EXPECT_EQ(std::stoull(form->GridVolumes->Cell(8, 1)), Before - 2048);
  EXPECT_EQ(std::stoull(form->GridVolumes->Cell(9, 1)) + Before - 2048,
            std::stoull(form->GridVolumes->Cell(6, 1)));
}

// Behind a bridge of 4096-byte blocks Windows counts its sectors in 4096 bytes; the view counts
// 512-byte sectors in every figure and says so.
TEST_F(InspectViewTest, EverySectorFigureIsOf512BytesWhateverTheBridgePresents) {
  struct Case {
    int Disk;
    uint32_t BlockBytes, ClusterBytes;
    SimFsKind Kind;
    char Letter;
  };
  const Case Cases[] = {
      {1, 512, 4096, SimFsKind::kFat32, 'E'},
      {2, 4096, 4096, SimFsKind::kFat32, 'F'},
      {3, 4096, 16384, SimFsKind::kNtfs, 'G'},
  };
  for (const Case& C : Cases) {
    AddDisk(C.Disk, 2048 * kMiB);
    m->Bridge().SetLogicalBlockSize(C.Disk, C.BlockBytes);
    AddFormatted(C.Letter, C.Disk, 1, 128, C.Kind, C.BlockBytes, C.ClusterBytes);
  }
  Open();
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Disk);
    SelectDisk(C.Disk);
    ASSERT_TRUE(ui.Select("PageMain", 1));
    ASSERT_TRUE(ui.Click("BtnInspect"));
    ASSERT_TRUE(ui.Select("PageMain", 0));
    const std::vector<std::string> R = Row(1);
    ASSERT_EQ(R[0], std::string(1, C.Letter) + ":");
    auto S = FsState(m->Storage(), C.Letter);
    EXPECT_EQ(R[5], std::to_string(C.ClusterBytes / 512)) << "Sec/Cluster";
    EXPECT_EQ(R[6], std::to_string(S->clusters * (C.ClusterBytes / 512))) << "Total Sectors";
    EXPECT_EQ(R[10], "2048") << "Physical Start Sector";
    EXPECT_EQ(R[11], "262144") << "Partition Length Sectors";
    EXPECT_EQ(R[12], std::to_string(C.ClusterBytes));
    const std::string First = form->MemoInspect->Lines()[0];
    EXPECT_NE(First.find(" GiB (" + form->FormatThousands(2048 * kMiB / 512) + " sectors of 512 bytes) |"),
              std::string::npos)
        << First;
  }
}

// ---- the summary ----

TEST_F(InspectViewTest, TheFileSystemListSkipsWhatItAlreadyHolds) {
  Open();
  const struct {
    std::vector<std::string> Names;
    const char* Want;
  } Cases[] = {
      {{"NTFS", "ntfs"}, "NTFS"},           {{"FAT32", "FAT"}, "FAT32"},
      {{"FAT", "FAT32"}, "FAT, FAT32"},     {{"exFAT", "NTFS", "EXFAT", ""}, "exFAT, NTFS"},
      {{"", "RAW/Unknown"}, "RAW/Unknown"}, {{}, ""},
  };
  for (const auto& C : Cases) {
    TDiskInfo D;
    D.DiskNumber = 4;
    for (const std::string& N : C.Names) {
      TVolumeInfo V;
      V.RootPath = "Q:\\";  // no such volume: its space counts 0
      V.FileSystem = N;
      D.Volumes.push_back(V);
    }
    form->ShowDiskSummary(D);
    ASSERT_FALSE(form->MemoInspect->Lines().empty());
    const std::string First = form->MemoInspect->Lines()[0];
    EXPECT_EQ(First.substr(First.find("| Volumes=")),
              "| Volumes=" + std::to_string(C.Names.size()) + " | FS=" + C.Want);
  }
}

TEST_F(InspectViewTest, SummaryOverTheDisksVolumes) {
  AddDisk(1, 2048 * kMiB, false, "Summary SSD");
  AddFormatted('E', 1, 1, 64, SimFsKind::kNtfs);
  AddFormatted('F', 1, 65, 128, SimFsKind::kFat32, 512, 4096);
  Open();
  const TDiskInfo D = DiskNumbered(1);
  form->ShowDiskSummary(D);
  auto E = FsState(m->Storage(), 'E'), F = FsState(m->Storage(), 'F');
  const uint64_t Clusters = E->clusters + F->clusters, Free = E->FreeClusters() + F->FreeClusters();
  const uint64_t Total = Clusters * 4096, FreeBytes = Free * 4096;
  auto T = [&](uint64_t V) { return form->FormatThousands(V); };
  const std::vector<std::string> Want = {
      "Disk: PD1 | Model=" + D.Model + " | Size=" + Format("%.1f", 2.0) + " GiB (" + T(4194304) +
          " sectors of 512 bytes) | Volumes=2 | FS=NTFS, FAT32",
      "",
      "Total space: bytes=" + T(Total) + " | clusters=" + T(Clusters) + " | sectors=" + T(Total / 512),
      "Free space: bytes=" + T(FreeBytes) + " | clusters=" + T(Free) + " | sectors=" + T(FreeBytes / 512),
      "Used space: bytes=" + T(Total - FreeBytes) + " | clusters=" + T(Clusters - Free) +
          " | sectors=" + T((Total - FreeBytes) / 512) + " | " +
          Format("%.1f", static_cast<double>(Total - FreeBytes) / static_cast<double>(Total) * 100.0) + "%",
      "",
      "Additional info: DiskSizeBytes=2147483648 | Transport=" + TransportToText(D.Transport) +
          " | Media=" + MediaKindToText(D.Media) + " | MediaReason=" + D.MediaReason + " | BusHint=" + D.BusHint,
  };
  EXPECT_EQ(form->MemoInspect->Lines(), Want);
}

// ---- the statistics ----

TEST_F(InspectViewTest, FreeSpaceStatisticsOverTheReadableVolumes) {
  AddDisk(1, 2048 * kMiB);
  AddFormatted('E', 1, 1, 64, SimFsKind::kNtfs);
  AddFormatted('F', 1, 65, 128, SimFsKind::kExFat);
  m->Discovery().AddVolume('G', 1, 200 * kMiB, 8 * kMiB, "FAT16", 2048);
  AddFormatted('H', 1, 210, 64, SimFsKind::kFat32);
  Open();
  TDiskInfo D = DiskNumbered(1);
  ASSERT_EQ(D.Volumes.size(), 4u);
  m->Storage().AddVolumeFault('H', fsc::FSCTL_GET_VOLUME_BITMAP,
                              SimOutcome::Error(ERROR_IO_DEVICE));  // left out, silently
  ASSERT_TRUE(AllocateRuns(m->Storage(), 'E', {{9000, 3}}));

  uint64_t WantFragments = 0, WantFree = 0;
  for (char L : {'E', 'F'}) {
    for (auto& R : FreeDiskRanges(m->Storage(), L)) {
      ++WantFragments;
      WantFree += R.second;
    }
  }
  uint64_t Fragments = 0, FreeSectors = 0;
  int64_t LastUsed = 0;
  EXPECT_TRUE(form->GetDiskFreeSpaceStats(D, Fragments, FreeSectors, LastUsed));
  EXPECT_EQ(Fragments, WantFragments);
  EXPECT_EQ(FreeSectors, WantFree);
  // The highest block in use of the volumes read, from their allocation: F lies behind E.
  auto LastUsedBlock = [&](char L) {
    auto S = FsState(m->Storage(), L);
    const uint64_t Base =
        m->Storage().Volume(L)->extents.front().startingOffset / 512 + S->heapOffset * S->bytesPerSector / 512;
    for (uint64_t c = S->clusters; c-- > 0;)
      if (S->Used(c)) return static_cast<int64_t>(Base + (c + 1) * (S->ClusterBytes() / 512)) - 1;
    return int64_t(-1);
  };
  ASSERT_GT(LastUsedBlock('F'), LastUsedBlock('E'));
  EXPECT_EQ(LastUsed, LastUsedBlock('F'));

  // None that a free-space TRIM would read: nothing, and no last used block.
  D.Volumes = {D.Volumes[2], D.Volumes[3]};
  EXPECT_FALSE(form->GetDiskFreeSpaceStats(D, Fragments, FreeSectors, LastUsed));
  EXPECT_EQ(Fragments, 0u);
  EXPECT_EQ(FreeSectors, 0u);
  EXPECT_EQ(LastUsed, -1);
}

// ---- the Inspect action ----

TEST_F(InspectViewTest, InspectWithoutASelectedDisk) {
  Open();
  script.Box(IDOK);
  form->MemoInspect->SetText("kept");
  ASSERT_TRUE(ui.Select("PageMain", 1));
  ASSERT_TRUE(ui.Click("BtnInspect"));
  ASSERT_EQ(script.Log().size(), 1u);
  EXPECT_EQ(script.Log()[0].Caption, GetLangText(TTextId::ErrorCaption));
  EXPECT_EQ(script.Log()[0].Text, "Please select a disk to inspect first.");
  EXPECT_EQ(script.Log()[0].Type, MB_ICONERROR | MB_OK);
  EXPECT_EQ(script.Log()[0].Owner, form->Handle());
  EXPECT_EQ(form->MemoInspect->Text(), "kept");
  EXPECT_FALSE(LogHas("Inspect completed"));
}

TEST_F(InspectViewTest, InspectADiskWithoutVolumes) {
  AddDisk(1, 2048 * kMiB, false, "Empty SSD");
  Open();
  SelectDisk(1);
  ASSERT_TRUE(ui.Select("PageMain", 1));
  ASSERT_TRUE(ui.Click("BtnInspect"));
  const std::vector<std::string>& L = form->MemoInspect->Lines();
  ASSERT_EQ(L.size(), 9u);
  EXPECT_NE(L[0].find("| Volumes=0 | FS="), std::string::npos);
  EXPECT_EQ(L[0].substr(L[0].size() - 3), "FS=") << L[0];
  EXPECT_EQ(L[2], "Total space: bytes=0 | clusters=0 | sectors=0");
  EXPECT_EQ(L[3], "Free space: bytes=0 | clusters=0 | sectors=0");
  EXPECT_EQ(L[4], "Used space: bytes=0 | clusters=0 | sectors=0 | " + Format("%.1f", 0.0) + "%");
  EXPECT_EQ(L[7], "");
  EXPECT_EQ(L[8], "Free fragments: 0 | Free sectors: 0 | Free GiB: 0.0 | Last used LBA: -");
  EXPECT_EQ(form->GridVolumes->RowCount(), 2);
  EXPECT_EQ(Row(1), std::vector<std::string>(13));
  EXPECT_TRUE(LogHas("[INFO] Inspect completed: PD1 volumes=0"));
}

TEST_F(InspectViewTest, InspectShowsTheFreeFragmentsAndTheLastUsedBlock) {
  AddDisk(2, 2048 * kMiB);
  AddFormatted('E', 2, 1, 64, SimFsKind::kNtfs);
  AddFormatted('F', 2, 65, 64, SimFsKind::kFat32);
  AddDisk(3, 2048 * kMiB, false, "Other SSD");
  Open();
  const TDiskInfo D = DiskNumbered(2);
  SelectDisk(D.DiskNumber);
  uint64_t Fragments = 0, FreeSectors = 0;
  int64_t LastUsed = -1;
  ASSERT_TRUE(form->GetDiskFreeSpaceStats(D, Fragments, FreeSectors, LastUsed));
  ASSERT_GE(LastUsed, 0);
  ASSERT_TRUE(ui.Select("PageMain", 1));
  ASSERT_TRUE(ui.Click("BtnInspect"));
  EXPECT_EQ(form->MemoInspect->Lines().size(), 9u);
  EXPECT_EQ(form->MemoInspect->Lines()[7], "");
  EXPECT_EQ(Last(form->MemoInspect),
            "Free fragments: " + form->FormatThousands(Fragments) + " | Free sectors: " +
                form->FormatThousands(FreeSectors) + " | Free GiB: " + Format("%.1f", FreeSectors / 2097152.0) +
                " | Last used LBA: " + form->FormatThousands(static_cast<uint64_t>(LastUsed)));
  EXPECT_EQ(form->GridVolumes->RowCount(), 3);
  EXPECT_EQ(form->GridVolumes->Cell(0, 2), "F:");
  EXPECT_TRUE(LogHas("[INFO] Inspect completed: PD2 volumes=2"));

  // Another disk chosen: the prompt, and no figure of the earlier disk left in the grid.
  ASSERT_TRUE(ui.Select("PageMain", 0));
  SelectDisk(3);
  EXPECT_EQ(form->MemoInspect->Lines(), (std::vector<std::string>{GetLangText(TTextId::PressInspect)}));
  EXPECT_EQ(form->GridVolumes->RowCount(), 2);
  EXPECT_EQ(Row(1), std::vector<std::string>(13));
  // The next inspection replaces everything.
  ASSERT_TRUE(ui.Select("PageMain", 1));
  ASSERT_TRUE(ui.Click("BtnInspect"));
  EXPECT_EQ(form->MemoInspect->Lines().size(), 9u);
  EXPECT_EQ(form->MemoInspect->Lines()[0].rfind("Disk: PD3 |", 0), 0u);
}

// Readable volumes of which none gives a last used block: "-", not the block address 0.
TEST_F(InspectViewTest, NoLastUsedBlockIsShownAsADash) {
  AddDisk(1, 2048 * kMiB);
  AddFormatted('E', 1, 1, 64, SimFsKind::kNtfs);
  m->Storage().AddVolumeFault('E', fsc::FSCTL_GET_NTFS_VOLUME_DATA, SimOutcome::Error(ERROR_INVALID_FUNCTION));
  Open();
  SelectDisk(1);
  ASSERT_TRUE(ui.Select("PageMain", 1));
  ASSERT_TRUE(ui.Click("BtnInspect"));
  const std::string L = Last(form->MemoInspect);
  EXPECT_EQ(L.find("Free fragments: 0 |"), std::string::npos) << L;
  EXPECT_EQ(L.substr(L.find(" | Last used LBA: ")), " | Last used LBA: -") << L;
}

// An exception while the statistics are gathered: its line; the summary and the grid stay and
// the inspection is still logged as completed.
TEST_F(InspectViewTest, AnExceptionInTheStatisticsIsShownInItsPlace) {
  AddDisk(1, 2048 * kMiB);
  AddFormatted('E', 1, 1, 64, SimFsKind::kNtfs);
  Open();
  SelectDisk(1);
  m->Storage().RegisterIoctl(fsc::FSCTL_GET_VOLUME_BITMAP,
                             [](SimDeviceCall&) -> BOOL { throw std::runtime_error("bitmap reader broke"); });
  ASSERT_TRUE(ui.Select("PageMain", 1));
  ASSERT_TRUE(ui.Click("BtnInspect"));
  const std::vector<std::string>& L = form->MemoInspect->Lines();
  ASSERT_EQ(L.size(), 8u);
  EXPECT_EQ(L[0].find("Disk: PD1 |"), 0u);
  EXPECT_EQ(L[7], "Free-space stats error: bitmap reader broke");
  EXPECT_EQ(form->GridVolumes->Cell(0, 1), "E:");
  EXPECT_TRUE(LogHas("[INFO] Inspect completed: PD1 volumes=1"));
}

}  // namespace

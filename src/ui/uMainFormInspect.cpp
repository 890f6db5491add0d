// The run-time tabs (the inspection tab's controls, the speed-chart button, the TRIM tab's groups
// shown only on their tab, the real-test guide), the inspection of the selected disk and the
// free-range export. Everything runs on the main thread, synchronously.
#include <array>
#include <cstddef>
#include <exception>

#include "base/uByteOrder.h"
#include "core/uText.h"
#include "core/uFileWrite.h"
#include "core/uFormat.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "engine/uLastUsedLba.h"
#include "engine/uFreeRangeCsv.h"
#include "engine/uVolumeBitmap.h"
#include "platform/Platform.h"
#include "platform/WinDisk.h"
#include "ui/uMainForm.h"

using namespace plat;

namespace {

constexpr int kGridColumns = 13;

const std::array<const char*, kGridColumns> kGridTitles = {"Drive",
                                                           "FS",
                                                           "Partition#",
                                                           "Style",
                                                           "Type",
                                                           "Sec/Cluster",
                                                           "Total Sectors",
                                                           "Size (GB)",
                                                           "Free Sectors",
                                                           "Used Sectors",
                                                           "Physical Start Sector",
                                                           "Partition Length Sectors",
                                                           "Cluster Bytes"};

// "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}": the GUID's three numbers, then its eight bytes.
std::string GuidText(TByteReader R, size_t At) {
  return Format("{%.8x-%.4x-%.4x-%.2x%.2x-%.2x%.2x%.2x%.2x%.2x%.2x}", R.LE32(At), R.LE16(At + 4), R.LE16(At + 6),
                R.U8(At + 8), R.U8(At + 9), R.U8(At + 10), R.U8(At + 11), R.U8(At + 12), R.U8(At + 13),
                R.U8(At + 14), R.U8(At + 15));
}

// "123 (45.6%)": a sector count and its share of the total, the share in single precision;
// "0" when the total is 0.
std::string SectorsWithShare(uint64_t Sectors, uint64_t TotalSectors) {
  if (TotalSectors == 0) return "0";
  const float Share = static_cast<float>(Sectors) / static_cast<float>(TotalSectors) * 100.0f;
  return Format("%d (%.1f%%)", Sectors, static_cast<double>(Share));
}

}  // namespace

// ---- the tabs ----

void TMainForm::SetupTabs() {
  PageMain->SetActivePage(TabTrim);
  BuildInspectTab();
  // The grid's designed height reaches past the sheet: its bottom border and scroll bar would
  // be cut off.
  EndAtSheetMargin(TabInspect);

  BtnSpeedChart = GroupRealTest->Add<tk::TButton>(tk::TCreate{
      "BtnSpeedChart", {690, 120, 120, 31}, tk::kAnchorsDefault, GetLangText(TTextId::ButtonSpeedChart)});
  BtnSpeedChart->SetHint(GetLangText(TTextId::SpeedChartHint));
  BtnSpeedChart->SetEnabled(false);  // until a real test has left speed samples
  BtnSpeedChart->OnClick = [this](tk::TControl* S) { BtnSpeedChartClick(S); };

  PageMain->BringToFront();
  PageMainChange(nullptr);
  if (FLogger) FLogger->Info(GetLangText(TTextId::TabsInitialized));
}

void TMainForm::BuildInspectTab() {
  using tk::akBottom;
  using tk::akLeft;
  using tk::akRight;
  using tk::akTop;
  BtnInspect = TabInspect->Add<tk::TButton>(
      tk::TCreate{"BtnInspect", {12, 12, 120, 31}, akTop | akLeft, GetLangText(TTextId::ButtonInspect)});
  BtnInspect->SetHint(GetLangText(TTextId::InspectHint));
  BtnInspect->OnClick = [this](tk::TControl* S) { BtnInspectClick(S); };

  BtnExportFreeList = TabInspect->Add<tk::TButton>(tk::TCreate{
      "BtnExportFreeList", {144, 12, 190, 31}, akTop | akLeft, GetLangText(TTextId::ButtonExportFreeSectorList)});
  BtnExportFreeList->SetHint(GetLangText(TTextId::ExportFreeSectorListHint));
  BtnExportFreeList->OnClick = [this](tk::TControl* S) { BtnExportFreeListClick(S); };

  MemoInspect =
      TabInspect->Add<tk::TMemo>(tk::TCreate{"MemoInspect", {12, 52, 940, 170}, akTop | akLeft | akRight});
  MemoInspect->SetHint(GetLangText(TTextId::InspectSummaryHint));

  GridVolumes = TabInspect->Add<tk::TStringGrid>(
      tk::TCreate{"GridVolumes", {12, 232, 940, 480}, akTop | akLeft | akRight | akBottom});
  GridVolumes->SetHint(GetLangText(TTextId::VolumeGridHint));
  GridVolumes->SetColCount(kGridColumns);
  GridVolumes->SetRowCount(2);
  GridVolumes->SetFixed(1, 1);
  GridVolumes->SetOptions(/*ColSizing=*/true, /*RowSelect=*/true);
  for (int c = 0; c < kGridColumns; ++c) GridVolumes->SetCell(c, 0, kGridTitles[c]);
  // Each title readable before the first inspection too (the columns' default width cuts
  // "Sec/Cluster" and longer); the data may scroll.
  GridVolumes->AutoSizeColumns();
}

void TMainForm::PageMainChange(tk::TControl*) {
  const bool OnTrim = PageMain->ActivePage() == TabTrim;
  GroupSelection->SetVisible(OnTrim);
  GroupMode->SetVisible(OnTrim);
  MemoDiskInfo->SetVisible(OnTrim);
  GroupStatus->SetVisible(OnTrim);
  GroupAdvanced->SetVisible(OnTrim && CbAdvanced->Checked());
  if (PageMain->ActivePage() == TabRealTest) ShowRealTestGuide();
}

void TMainForm::ResetInspectView() {
  if (MemoInspect) MemoInspect->SetText(GetLangText(TTextId::PressInspect));
  if (GridVolumes) {
    GridVolumes->SetRowCount(2);
    // No figure of an earlier disk stays beside a new selection.
    for (int c = 0; c < GridVolumes->ColCount(); ++c) GridVolumes->SetCell(c, 1, "");
  }
}

void TMainForm::ShowRealTestGuide() {
  if (!MemoRealTestLog || !MemoRealTestLog->Lines().empty()) return;
  for (TTextId Id : {TTextId::GuideTitle, TTextId::GuideStep1, TTextId::GuideStep2, TTextId::GuideStep3,
                     TTextId::GuideStep4, TTextId::GuideStep5})
    MemoRealTestLog->AppendLine(GetLangText(Id));
  MemoRealTestLog->AppendLine("");
  MemoRealTestLog->AppendLine(GetLangText(TTextId::GuideSpeedDropWait));
  MemoRealTestLog->AppendLine(GetLangText(TTextId::GuidePressStop));
}

// ---- the queries of one volume ----

// SectorsPerCluster counts 512-byte sectors, as every other sector figure of the view does;
// Windows counts the disk's own, 4096 bytes each behind some bridges.
bool TMainForm::GetVolumeSpace(const std::string& Root, uint64_t& TotalBytes, uint64_t& FreeBytes,
                               uint64_t& TotalClusters, uint64_t& FreeClusters, uint64_t& SectorsPerCluster) {
  TotalBytes = FreeBytes = TotalClusters = FreeClusters = SectorsPerCluster = 0;
  DWORD Spc = 0, Bps = 0, FreeC = 0, TotalC = 0;
  if (!Win().GetDiskFreeSpaceW(Root, &Spc, &Bps, &FreeC, &TotalC)) return false;
  TotalClusters = TotalC;
  FreeClusters = FreeC;
  SectorsPerCluster = uint64_t(Spc) * Bps / 512;
  TotalBytes = uint64_t(TotalC) * Spc * Bps;
  FreeBytes = uint64_t(FreeC) * Spc * Bps;
  return true;
}

bool TMainForm::GetPartitionStyle(const std::string& Drive, uint32_t& PartitionNumber, std::string& Style,
                                  std::string& TypeText) {
  PartitionNumber = 0;
  Style = "Unknown";
  TypeText = "Unknown";
  // No access rights: partition information needs none, and the volume opens while it is in use.
  const HANDLE H = Win().CreateFileW("\\\\.\\" + Drive.substr(0, 2), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (!IsValidHandle(H)) return false;
  uint8_t Info[sizeof(PARTITION_INFORMATION_EX)] = {};
  DWORD Returned = 0;
  const BOOL Ok =
      Win().DeviceIoControl(H, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, Info, sizeof Info, &Returned);
  Win().CloseHandle(H);
  if (!Ok) return false;

  TByteReader R(Info);
  constexpr size_t kUnionAt = offsetof(PARTITION_INFORMATION_EX, Mbr);
  PartitionNumber = R.LE32(offsetof(PARTITION_INFORMATION_EX, PartitionNumber));
  switch (R.LE32(offsetof(PARTITION_INFORMATION_EX, PartitionStyle))) {
    case PARTITION_STYLE_MBR:
      Style = "MBR";
      TypeText = Format("0x%.2x", R.U8(kUnionAt + offsetof(PARTITION_INFORMATION_MBR, PartitionType)));
      break;
    case PARTITION_STYLE_GPT:
      Style = "GPT";
      TypeText = GuidText(R, kUnionAt + offsetof(PARTITION_INFORMATION_GPT, PartitionType));
      break;
    case PARTITION_STYLE_RAW:
      Style = "RAW";
      TypeText = "RAW";
      break;
    default: break;  // "Unknown", "Unknown"
  }
  return true;
}

// ---- the inspection ----

void TMainForm::ShowDiskSummary(const TDiskInfo& Disk) {
  MemoInspect->Clear();
  uint64_t TotalBytes = 0, FreeBytes = 0, TotalClusters = 0, FreeClusters = 0;
  std::string FsList;
  for (const TVolumeInfo& V : Disk.Volumes) {
    uint64_t T = 0, F = 0, TC = 0, FC = 0, Spc = 0;
    GetVolumeSpace(V.RootPath, T, F, TC, FC, Spc);  // a failed query adds zeros
    TotalBytes += T;
    FreeBytes += F;
    TotalClusters += TC;
    FreeClusters += FC;
    // A substring test, as the list has always been built: "FAT" is not added after "FAT32".
    const std::string Upper = UpperCase(V.FileSystem);
    if (!Upper.empty() && UpperCase(FsList).find(Upper) == std::string::npos)
      FsList += (FsList.empty() ? "" : ", ") + V.FileSystem;
  }
  const uint64_t UsedBytes = TotalBytes > FreeBytes ? TotalBytes - FreeBytes : 0;
  const uint64_t UsedClusters = TotalClusters > FreeClusters ? TotalClusters - FreeClusters : 0;
  const uint64_t TotalSectors = TotalBytes / 512, FreeSectors = FreeBytes / 512;
  const uint64_t UsedSectors = TotalSectors > FreeSectors ? TotalSectors - FreeSectors : 0;
  const double UsedPercent =
      TotalBytes == 0 ? 0.0 : static_cast<double>(UsedBytes) / static_cast<double>(TotalBytes) * 100.0;

  auto Figures = [this](uint64_t Bytes, uint64_t Clusters, uint64_t Sectors) {
    return Format(": bytes=%s | clusters=%s | sectors=%s", FormatThousands(Bytes), FormatThousands(Clusters),
                  FormatThousands(Sectors));
  };
  MemoInspect->AppendLine(Format(
      "Disk: PD%d | Model=%s | Size=%.1f GiB (%s sectors of 512 bytes) | Volumes=%d | FS=%s", Disk.DiskNumber,
      Disk.Model, BytesToGiB(Disk.SizeBytes), FormatThousands(Disk.SizeBytes / 512), Disk.Volumes.size(), FsList));
  MemoInspect->AppendLine("");
  MemoInspect->AppendLine(GetLangText(TTextId::TotalSpace) + Figures(TotalBytes, TotalClusters, TotalSectors));
  MemoInspect->AppendLine(GetLangText(TTextId::FreeSpace) + Figures(FreeBytes, FreeClusters, FreeSectors));
  MemoInspect->AppendLine(GetLangText(TTextId::UsedSpace) + Figures(UsedBytes, UsedClusters, UsedSectors) +
                          Format(" | %.1f%%", UsedPercent));
  MemoInspect->AppendLine("");
  MemoInspect->AppendLine(GetLangText(TTextId::AdditionalInfo) +
                          Format(": DiskSizeBytes=%d | Transport=%s | Media=%s | MediaReason=%s | BusHint=%s",
                                 Disk.SizeBytes, TransportToText(Disk.Transport), MediaKindToText(Disk.Media),
                                 Disk.MediaReason, Disk.BusHint));
}

void TMainForm::FillVolumeGrid(const TDiskInfo& Disk) {
  const int Rows = static_cast<int>(Disk.Volumes.size()) + 1;
  GridVolumes->SetRowCount(Rows < 2 ? 2 : Rows);
  for (size_t i = 0; i < Disk.Volumes.size(); ++i) {
    const TVolumeInfo& V = Disk.Volumes[i];
    const int Row = static_cast<int>(i) + 1;
    uint32_t Number = 0;
    std::string Style, Type;
    GetPartitionStyle(V.DriveLetter, Number, Style, Type);  // a failure shows 0, Unknown, Unknown
    uint64_t TotalBytes = 0, FreeBytes = 0, TotalClusters = 0, FreeClusters = 0, Spc = 0;
    GetVolumeSpace(V.RootPath, TotalBytes, FreeBytes, TotalClusters, FreeClusters, Spc);
    const uint64_t TotalSectors = TotalBytes / 512, FreeSectors = FreeBytes / 512;
    const uint64_t UsedSectors = TotalSectors > FreeSectors ? TotalSectors - FreeSectors : 0;
    const std::string Cells[kGridColumns] = {
        V.DriveLetter,
        V.FileSystem,
        Format("%u", Number),
        Style,
        Type,
        Format("%d", Spc),
        Format("%d", TotalSectors),
        Format("%.2f", static_cast<double>(TotalBytes) / (1024.0 * 1024.0 * 1024.0)),
        SectorsWithShare(FreeSectors, TotalSectors),
        SectorsWithShare(UsedSectors, TotalSectors),
        Format("%d", static_cast<uint64_t>(V.PartitionOffset) / 512),
        Format("%d", static_cast<uint64_t>(V.PartitionLength) / 512),
        Format("%u", V.ClusterBytes),
    };
    for (int c = 0; c < kGridColumns; ++c) GridVolumes->SetCell(c, Row, Cells[c]);
  }
  GridVolumes->AutoSizeColumns();
}

bool TMainForm::GetDiskFreeSpaceStats(const TDiskInfo& Disk, uint64_t& Fragments, uint64_t& FreeSectors,
                                      int64_t& LastUsedLba) {
  Fragments = 0;
  FreeSectors = 0;
  LastUsedLba = -1;
  bool Any = false;
  for (const TVolumeInfo& V : Disk.Volumes) {
    if (!IsFreeRangeFileSystem(V.FileSystem)) continue;
    TTrimRangeArray Ranges;
    std::string Msg;
    if (!FBitmapReader->ReadFreeRanges(V, Ranges, Msg)) continue;  // left out, silently
    Fragments += Ranges.size();
    for (const TTrimRange& R : Ranges) FreeSectors += R.SectorCount;
    const int64_t Last = FindLastUsedLbaForVolume(V, FLogger);
    if (Last > LastUsedLba) LastUsedLba = Last;
    Any = true;
  }
  return Any;
}

void TMainForm::InspectDisk() {
  TDiskInfo Disk;
  if (!GetSelectedDisk(Disk)) {
    AppMessageBox(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::SelectDiskToInspect), dkError, mbOK);
    return;
  }
  // Every query below reaches the disk's volumes on this thread.
  if (DiskRefusedForReconnect(Disk, "Inspect")) return;
  ShowDiskSummary(Disk);
  FillVolumeGrid(Disk);
  try {
    uint64_t Fragments = 0, FreeSectors = 0;
    int64_t LastUsed = -1;
    if (GetDiskFreeSpaceStats(Disk, Fragments, FreeSectors, LastUsed)) {
      // 0 is a real block address: no answer at all is "-".
      const std::string Last = LastUsed >= 0 ? FormatThousands(static_cast<uint64_t>(LastUsed)) : "-";
      MemoInspect->AppendLine("");
      MemoInspect->AppendLine(Format("Free fragments: %s | Free sectors: %s | Free GiB: %.1f | Last used LBA: %s",
                                     FormatThousands(Fragments), FormatThousands(FreeSectors),
                                     BytesToGiB(FreeSectors * 512), Last));
    } else {
      MemoInspect->AppendLine("");
      MemoInspect->AppendLine("Free fragments: 0 | Free sectors: 0 | Free GiB: 0.0 | Last used LBA: -");
    }
  } catch (const std::exception& E) {
    MemoInspect->AppendLine(std::string("Free-space stats error: ") + E.what());
  }
  FLogger->Info(Format("Inspect completed: PD%d volumes=%d", Disk.DiskNumber, Disk.Volumes.size()));
}

void TMainForm::BtnInspectClick(tk::TControl*) { InspectDisk(); }

// ---- the free-range export ----

void TMainForm::BtnExportFreeListClick(tk::TControl*) {
  TDiskInfo Disk;
  if (!GetSelectedDisk(Disk)) {
    AppMessageBox(GetLangText(TTextId::ErrorCaption), GetLangText(TTextId::SelectDisk), dkError, mbOK);
    return;
  }
  if (DiskRefusedForReconnect(Disk, "Free range export")) return;
  if (FOutputDir.empty()) {
    AppendLogLine("Read-only drive: CSV export skipped.");
    return;
  }
  const std::string Path = FreeRangeCsvPath(FOutputDir, Disk.DiskNumber);
  const std::string Text =
      FreeRangeCsvText(Disk, *FBitmapReader, [this](const TVolumeInfo& V, const std::string& Msg) {
        FLogger->Warn(Format("Free range export skipped: %s (%s)", V.DriveLetter, Msg));
      });
  try {
    WriteWholeFile(Path, Text);
  } catch (const EFileError& E) {
    const std::string Why = WinErrorText(E.WinErr());
    FLogger->Error(Format("Free range export failed: %s (%s)", Path, Why));
    AppMessageBox(GetLangText(TTextId::ErrorCaption),
                  Format("The file could not be saved:\r\n%s\r\n\r\n%s", Path, Why), dkError, mbOK);
    return;
  }
  FLogger->Info("Free-space sector CSV saved: " + Path);
  AppendLogLine(GetLangText(TTextId::CsvSavedPrefix) + Path);
}

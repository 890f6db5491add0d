// The details of the selected disk under the disk selector, the drive selector of the real-test
// tab, the selection's log lines, and the two number helpers the inspection view shares.
#include "core/uFormat.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "core/uNumbers.h"
#include "core/uText.h"
#include "engine/uVolumeBitmap.h"
#include "ui/uMainForm.h"

namespace {

bool CountsForFreeSpace(const TVolumeInfo& V) {
  const std::string Fs = UpperCase(V.FileSystem);
  return Fs == "NTFS" || Fs == "EXFAT" || Fs == "FAT32";
}

}  // namespace

std::string TMainForm::FormatThousands(uint64_t Value) { return FormatGroupedU64(Value); }

std::string TMainForm::BuildFreeSpaceSummary(const TDiskInfo& Disk) {
  uint64_t Fragments = 0;
  uint64_t FreeSectors = 0;
  for (const TVolumeInfo& V : Disk.Volumes) {
    if (!CountsForFreeSpace(V)) continue;
    TTrimRangeArray Ranges;
    std::string Msg;
    if (!FBitmapReader->ReadFreeRanges(V, Ranges, Msg)) continue;  // left out, silently
    Fragments += Ranges.size();
    for (const TTrimRange& R : Ranges) FreeSectors += R.SectorCount;
  }
  return Format("Free fragments: %s | Free sectors: %s | Free GiB: %.1f", FormatThousands(Fragments),
                FormatThousands(FreeSectors), BytesToGiB(FreeSectors * 512));
}

void TMainForm::ShowDiskDetails(const TDiskInfo& Disk) {
  MemoDiskInfo->Clear();
  const std::string& Serial = CbMaskSerial->Checked() ? Disk.MaskedSerial : Disk.Serial;
  std::vector<std::string> L;
  L.push_back(
      Format("Disk: PD%d  Model=%s  Size=%.1f GiB", Disk.DiskNumber, Disk.Model, BytesToGiB(Disk.SizeBytes)));
  L.push_back(Format("Transport=%s  Media=%s  SystemCritical=%s", TransportToText(Disk.Transport),
                     MediaKindToText(Disk.Media), Disk.SystemCritical ? "True" : "False"));
  L.push_back("MediaReason=" + Disk.MediaReason);
  L.push_back("BusHint=" + Disk.BusHint);
  L.push_back("USB requirement=" + UsbRequirementText(Disk));
  L.push_back("Serial=" + Serial);
  L.push_back("Volumes:");
  if (Disk.Volumes.empty()) L.push_back("  (none)");
  for (const TVolumeInfo& V : Disk.Volumes)
    L.push_back(Format("  %s  FS=%s  Cluster=%s  Offset=%s  Length=%s (%.2f GiB)", V.DriveLetter, V.FileSystem,
                       FormatThousands(V.ClusterBytes), FormatThousands(static_cast<uint64_t>(V.PartitionOffset)),
                       FormatThousands(static_cast<uint64_t>(V.PartitionLength)),
                       BytesToGiB(static_cast<uint64_t>(V.PartitionLength))));
  L.push_back("");
  // The free-space summary reads every volume's bitmap from the device: not from a disk that
  // may hang the window.
  L.push_back(DiskNeedsReconnect(Disk) ? DiskReconnectText() : BuildFreeSpaceSummary(Disk));
  const TAtaProbeResult& A = Disk.Ata;
  if (A.Probed) {
    L.push_back("");
    if (A.IdentifyOk) {
      L.push_back(GetLangText(TTextId::AtaPassThrough) + ": YES");
      L.push_back(GetLangText(TTextId::AtaTrimCapable) + ": " + (A.TrimSupported ? "YES" : "NO"));
      if (!A.Model.empty()) L.push_back("ATA Model: " + A.Model);
      if (!A.Firmware.empty()) L.push_back("ATA Firmware: " + A.Firmware);
      if (A.RotationRate != 0) L.push_back(Format("ATA RotationRateWord217: %d", A.RotationRate));
    } else {
      L.push_back(GetLangText(TTextId::AtaPassThrough) + ": NO");
      if (A.WinErr != 0) L.push_back(Format("  WinError=%d  Sense=%d/%d/%d", A.WinErr, A.SenseKey, A.Asc, A.Ascq));
    }
    L.push_back(GetLangText(TTextId::AtaBridgeNote));
  }
  // One change of the text, so the box shows the details from their first line.
  std::string Text;
  for (size_t I = 0; I < L.size(); I++) Text += (I ? "\r\n" : "") + L[I];
  MemoDiskInfo->SetText(Text);

  CmbRealTestDrive->Clear();
  std::vector<std::string> Drives;
  for (const TVolumeInfo& V : Disk.Volumes) {
    if (V.DriveLetter.empty() || !V.HasDriveLetter) continue;
    if (V.FileSystem.empty()) {
      Drives.push_back(V.DriveLetter);
      continue;
    }
    const uint64_t Len = static_cast<uint64_t>(V.PartitionLength);
    Drives.push_back(V.DriveLetter + "(" + V.FileSystem + ") " + FormatThousands(Len) + " (" +
                     Format("%.1f GiB", BytesToGiB(Len)) + ")");
  }
  CmbRealTestDrive->SetItems(std::move(Drives));
  if (CmbRealTestDrive->ItemCount() > 0) CmbRealTestDrive->SetItemIndex(0);
}

void TMainForm::LogSelectedDisk(const TDiskInfo& Disk) {
  const std::string& Serial = CbMaskSerial->Checked() ? Disk.MaskedSerial : Disk.Serial;
  FLogger->Info(Format(
      "Selected disk: PD%d, model=%s, serial=%s, size_bytes=%d, transport=%s, media=%s, media_reason=\"%s\", "
      "bus_hint=%s",
      Disk.DiskNumber, Disk.Model, Serial, Disk.SizeBytes, TransportToText(Disk.Transport),
      MediaKindToText(Disk.Media), Disk.MediaReason, Disk.BusHint));
  if (Disk.Volumes.empty()) FLogger->Warn("No mapped drive letters/volumes found for selected PhysicalDrive");
  for (const TVolumeInfo& V : Disk.Volumes)
    FLogger->Info(Format("Volume map: %s fs=%s cluster=%d part_offset=%d part_len=%d", V.DriveLetter, V.FileSystem,
                         V.ClusterBytes, V.PartitionOffset, V.PartitionLength));
}

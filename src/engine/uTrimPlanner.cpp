#include "engine/uTrimPlanner.h"

#include "core/uText.h"
#include "core/uLogger.h"

TTrimRangeArray SplitRanges(const TTrimRangeArray& Ranges) {
  size_t Total = 0;
  // Counted without adding first, so a count near 2^64 cannot wrap.
  for (const TTrimRange& R : Ranges)
    Total += static_cast<size_t>(R.SectorCount / kMaxRangeBlocks + (R.SectorCount % kMaxRangeBlocks != 0));
  TTrimRangeArray Result;
  Result.reserve(Total);
  for (const TTrimRange& R : Ranges) {
    uint64_t Start = R.StartLba;
    uint64_t Rest = R.SectorCount;
    while (Rest > 0) {
      const uint64_t Piece = Rest < kMaxRangeBlocks ? Rest : kMaxRangeBlocks;
      Result.push_back({Start, Piece});
      Start += Piece;
      Rest -= Piece;
    }
  }
  return Result;
}

TTrimPlanner::TTrimPlanner(TLogger* ALogger) : TTrimPlanner(ALogger, nullptr) {}

TTrimPlanner::TTrimPlanner(TLogger* ALogger, TFreeRangeSource Source)
    : FLogger(ALogger), FBitmapReader(ALogger), FSource(std::move(Source)) {
  if (!FSource)
    FSource = [this](const TVolumeInfo& V, TTrimRangeArray& R, std::string& M) {
      return FBitmapReader.ReadFreeRanges(V, R, M);
    };
}

bool TTrimPlanner::GeneratePlan(const TDiskInfo& Disk, TTrimMode Mode, TTrimRangeArray& Ranges, std::string& Msg) {
  Ranges.clear();
  Msg.clear();
  TTrimRangeArray Raw;
  if (Mode == TTrimMode::tmFullDevice) {
    BuildFullRanges(Raw, Disk);
  } else {
    BuildFreeSpaceRanges(Raw, Disk, Msg);
    if (Raw.empty()) return false;
  }
  if (!NormalizeAndSplit(Raw, Disk.SizeBytes, Ranges, Msg)) return false;
  if (FLogger)
    FLogger->Info("Plan generated: mode=" + TrimModeToText(Mode) + ", ranges=" + std::to_string(Ranges.size()));
  return true;
}

void TTrimPlanner::BuildFullRanges(TTrimRangeArray& Ranges, const TDiskInfo& Disk) {
  Ranges.clear();
  const uint64_t Blocks = Disk.SizeBytes / 512;
  if (Blocks > 0) Ranges.push_back({0, Blocks});
}

void TTrimPlanner::BuildFreeSpaceRanges(TTrimRangeArray& Ranges, const TDiskInfo& Disk, std::string& Msg) {
  Ranges.clear();
  Msg.clear();
  bool Mapped = false;
  bool ReadOk = false;
  TTrimRangeArray All;
  for (const TVolumeInfo& V : Disk.Volumes) {
    const std::string FS = UpperCase(V.FileSystem);
    if (!IsFreeRangeFileSystem(FS)) continue;
    Mapped = true;
    TTrimRangeArray VolRanges;
    std::string VolMsg;
    if (!FSource(V, VolRanges, VolMsg)) {
      if (FLogger)
        FLogger->Warn("Free-space bitmap skipped for " + V.DriveLetter + " (" + V.FileSystem + "): " + VolMsg);
      if (FS == "EXFAT") {
        Msg = "exFAT bitmap extraction failed: full mode only";
        Ranges.clear();
        return;
      }
      continue;
    }
    ReadOk = true;
    All.insert(All.end(), VolRanges.begin(), VolRanges.end());
  }
  Ranges = NormalizeRanges(All);
  if (Ranges.empty()) {
    if (!Mapped)
      Msg = "No NTFS/exFAT/FAT32 volume mapped for free-space TRIM";
    else if (ReadOk)
      Msg = "No free space to TRIM (mapped volumes appear full)";
    else
      Msg = "Free-space bitmap could not be read on any mapped volume";
  }
}

bool TTrimPlanner::NormalizeAndSplit(const TTrimRangeArray& Raw, uint64_t DiskSizeBytes, TTrimRangeArray& Ranges,
                                     std::string& Msg) {
  Ranges.clear();
  Msg.clear();
  const uint64_t Limit = DiskSizeBytes >> 9;
  TTrimRangeArray Kept;
  Kept.reserve(Raw.size());
  for (const TTrimRange& R : Raw) {
    if (R.SectorCount == 0 || R.StartLba >= Limit) continue;
    // Compared as "count past what is left", so a start near 2^64 cannot wrap.
    Kept.push_back({R.StartLba, R.SectorCount > Limit - R.StartLba ? Limit - R.StartLba : R.SectorCount});
  }
  Ranges = SplitRanges(NormalizeRanges(Kept));
  if (Ranges.empty()) {
    Msg = "No valid TRIM ranges after normalization";
    return false;
  }
  Msg = "ok";
  return true;
}

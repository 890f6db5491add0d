#include "engine/uFreeRangeCsv.h"

#include "core/uFormat.h"
#include "engine/uVolumeBitmap.h"

std::string FreeRangeCsvPath(const std::string& Folder, int32_t DiskNumber) {
  return Folder + FormatPlain("pd%d_free_ranges.csv", DiskNumber);
}

std::string FreeRangeCsvRow(const TVolumeInfo& Volume, const TTrimRange& Range) {
  return FormatPlain("%s,%s,%u,%u,%u\r\n", Volume.DriveLetter, Volume.FileSystem, Range.StartLba,
                     Range.StartLba + Range.SectorCount - 1, Range.SectorCount);
}

std::string FreeRangeCsvText(const TDiskInfo& Disk, const TVolumeBitmapReader& Reader,
                             const std::function<void(const TVolumeInfo&, const std::string&)>& OnSkip) {
  std::string text = std::string(kFreeRangeCsvHeader) + "\r\n";
  for (const TVolumeInfo& v : Disk.Volumes) {
    if (!IsFreeRangeFileSystem(v.FileSystem)) continue;
    TTrimRangeArray ranges;
    std::string msg;
    if (!Reader.ReadFreeRanges(v, ranges, msg)) {
      if (OnSkip) OnSkip(v, msg);
      continue;
    }
    for (const TTrimRange& r : ranges) text += FreeRangeCsvRow(v, r);
  }
  return text;
}

#include "realtest/uFreeRangeCsv.h"

#include "core/uFormat.h"
#include "engine/uVolumeBitmap.h"

bool IsFreeRangeFileSystem(const std::string& FileSystem) {
  const std::string fs = UpperAscii(FileSystem);
  return fs == "NTFS" || fs == "EXFAT" || fs == "FAT32";
}

std::string FreeRangeCsvRow(const TVolumeInfo& Volume, const TTrimRange& Range) {
  return FormatPlain("%s,%s,%u,%u,%u\r\n", Volume.DriveLetter, Volume.FileSystem, Range.StartLba,
                     Range.StartLba + Range.SectorCount - 1, Range.SectorCount);
}

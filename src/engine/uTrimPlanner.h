// Turns a disk and a mode into the block ranges a run trims: the whole disk, or the free
// clusters of its mounted NTFS, exFAT and FAT32 volumes; clipped to the disk, sorted, merged
// and cut into pieces of at most 65535 blocks (one ATA range entry each).
#pragma once

#include <functional>
#include <string>

#include "core/uTypes.h"
#include "device/uAtaRangeLimit.h"
#include "engine/uVolumeBitmap.h"

class TLogger;

// Every planned range fits one ATA range entry, so a batch of N ranges is N entries.
constexpr uint64_t kMaxRangeBlocks = kMaxDsmEntrySectors;

// Cuts every range into consecutive pieces of at most 65535 blocks, keeping the input order.
TTrimRangeArray SplitRanges(const TTrimRangeArray& Ranges);

class TTrimPlanner {
 public:
  // Reads one volume's free ranges; the bitmap reader's ReadFreeRanges unless a test says else.
  using TFreeRangeSource = std::function<bool(const TVolumeInfo&, TTrimRangeArray&, std::string&)>;

  explicit TTrimPlanner(TLogger* ALogger);
  TTrimPlanner(TLogger* ALogger, TFreeRangeSource Source);

  bool GeneratePlan(const TDiskInfo& Disk, TTrimMode Mode, TTrimRangeArray& Ranges, std::string& Msg);
  void BuildFullRanges(TTrimRangeArray& Ranges, const TDiskInfo& Disk);
  void BuildFreeSpaceRanges(TTrimRangeArray& Ranges, const TDiskInfo& Disk, std::string& Msg);
  static bool NormalizeAndSplit(const TTrimRangeArray& Raw, uint64_t DiskSizeBytes, TTrimRangeArray& Ranges,
                                std::string& Msg);

 private:
  TLogger* FLogger;
  TVolumeBitmapReader FBitmapReader;
  TFreeRangeSource FSource;
};

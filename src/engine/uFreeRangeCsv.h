// The free-range file pd<N>_free_ranges.csv, written by the inspection view's export and by the
// real test's step 2: its header and one line per free range, absolute 512-byte sectors, from the
// same volume-bitmap reader a free-space plan uses (ranges as it returns them, not cut at 65535).
#pragma once

#include <functional>
#include <string>

#include "core/uTypes.h"

class TVolumeBitmapReader;

inline constexpr const char* kFreeRangeCsvHeader = "drive,filesystem,start_lba,end_lba,sector_count";

// Folder (ending in its delimiter) + "pd<N>_free_ranges.csv".
std::string FreeRangeCsvPath(const std::string& Folder, int32_t DiskNumber);
// "E:,NTFS,2048,2147,100" and its CR LF: the drive letter, the file system as reported, the
// first and last free sector and the count.
std::string FreeRangeCsvRow(const TVolumeInfo& Volume, const TTrimRange& Range);
// The whole file: the header, then the lines of the disk's NTFS, exFAT and FAT32 volumes in list
// order; a volume whose ranges cannot be read has none and is handed to OnSkip with the reader's
// message.
std::string FreeRangeCsvText(const TDiskInfo& Disk, const TVolumeBitmapReader& Reader,
                             const std::function<void(const TVolumeInfo&, const std::string&)>& OnSkip);

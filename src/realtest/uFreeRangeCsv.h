// The free-range file pd<N>_free_ranges.csv, written by the inspection view's export and by the
// real test's step 2: its header and one line per free range, absolute 512-byte sectors.
#pragma once

#include <string>

#include "core/uTypes.h"

inline constexpr const char* kFreeRangeCsvHeader = "drive,filesystem,start_lba,end_lba,sector_count";

// NTFS, exFAT and FAT32 (any case) have lines; other volumes are passed over.
bool IsFreeRangeFileSystem(const std::string& FileSystem);
// "E:,NTFS,2048,2147,100" and its CR LF: the drive letter, the file system as reported, the
// first and last free sector and the count.
std::string FreeRangeCsvRow(const TVolumeInfo& Volume, const TTrimRange& Range);

// Free clusters of a mounted NTFS, exFAT or FAT32 volume as block ranges of the physical disk.
#pragma once

#include <cstdint>
#include <string>

#include "core/uTypes.h"
#include "engine/uRanges.h"
#include "platform/PlatformTypes.h"

class TLogger;

// 512-byte blocks from the volume start to cluster 0 of its volume bitmap (the first cluster
// of the heap): 0 for NTFS, and 0 whenever it cannot be read. The boot sector counts the heap
// in the volume's own sectors; this is already scaled to 512-byte blocks.
int64_t GetClusterHeapOffset(const std::string& DriveLetter, const std::string& FileSystem);

class TVolumeBitmapReader {
 public:
  explicit TVolumeBitmapReader(TLogger* ALogger) : FLogger(ALogger) {}

  // "\\.\X:" opened for reading, shared; returned as it comes, valid or not.
  plat::HANDLE OpenVolume(const std::string& DriveLetter) const;

  // True with Msg "ok" and the volume's free ranges (absolute 512-byte blocks, normalised);
  // False with the reason in Msg, and then Ranges is not to be used.
  bool ReadFreeRanges(const TVolumeInfo& Volume, TTrimRangeArray& Ranges, std::string& Msg) const;

 private:
  TLogger* FLogger;
};

// NTFS, exFAT and FAT32 (any case): the file systems whose free clusters the reader places on the
// disk, and so the volumes a free-space plan, the free-space figures and the free-range file use.
bool IsFreeRangeFileSystem(const std::string& FileSystem);

// The last 512-byte block of the physical disk that a mounted NTFS, FAT32 or exFAT volume still
// uses, read from the file system's own allocation data. -1 everywhere means "not available".
#pragma once

#include <cstdint>

#include "core/uTypes.h"
#include "platform/PlatformTypes.h"

class TLogger;

// -1 also when the file system's own count of clusters, or its used extent, reaches past the
// partition's length (or the length is unknown): such numbers are not this partition's, and a
// block past the volume is never shown as its last used one.
int64_t FindLastUsedLbaForVolume(const TVolumeInfo& Volume, TLogger* Logger);

// Bytes from the volume start to the end of its highest cluster in use, or -1. FsBytes, when
// given, gets the bytes the file system spans by its own count of clusters (from the volume start
// to the end of its last cluster), or -1 when the used extent is not available.
int64_t GetVolumeUsedExtentBytes(char Letter, int64_t* FsBytes = nullptr);
int64_t GetNtfsUsedExtentBytes(plat::HANDLE Volume, int64_t* FsBytes = nullptr);
int64_t GetFat32UsedExtentBytes(plat::HANDLE Volume, int64_t* FsBytes = nullptr);
int64_t GetExFatUsedExtentBytes(plat::HANDLE Volume, int64_t* FsBytes = nullptr);

// Clusters up to and including the highest one in use; TotalClusters when none is; -1 when a
// bitmap request fails (a partial answer could point below data that is there).
int64_t FindLastUsedClusterCount(plat::HANDLE Volume, int64_t TotalClusters);
// The highest cluster number (at least 2) whose masked FAT entry is non-zero; -1 when there is
// none or a read of the table fails.
int64_t FindLastUsedFat32Cluster(plat::HANDLE Volume, int64_t FatOffsetBytes, int64_t ClusterLimit, uint32_t Mask);

// The boot-sector fields of FAT32 and exFAT volumes that place the cluster heap, parsed and
// checked in one place for the free-range reader and the last-used-block search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/PlatformTypes.h"

enum class TFatKind { fkFat32, fkExFat };

struct TFatBootInfo {
  TFatKind Kind = TFatKind::fkFat32;
  uint32_t BytesPerSector = 0;     // the volume's own sector
  uint32_t SectorsPerCluster = 0;  // own sectors
  uint64_t FatOffset = 0;          // own sectors from the volume start to the first table
  uint64_t FatSectors = 0;         // own sectors of one table
  uint32_t FatCount = 0;
  uint64_t ClusterHeapOffset = 0;  // own sectors from the volume start to cluster 2
  uint64_t ClusterCount = 0;       // clusters in the heap (cluster 2 .. ClusterCount + 1)
  uint64_t TotalSectors = 0;       // own sectors of the volume

  uint64_t ClusterBytes() const { return uint64_t(BytesPerSector) * SectorsPerCluster; }
  uint64_t HeapOffsetBytes() const { return ClusterHeapOffset * BytesPerSector; }
};

// Enough for one boot sector at any sector size a FAT32 or exFAT volume may have (512..4096).
constexpr uint32_t kBootReadSize = 4096;

// Parses and checks the boot sector in Data (at least 512 bytes). False with the reason in Msg
// when a field is out of range or the fields contradict each other.
bool ParseFatBootSector(const uint8_t* Data, size_t Size, TFatKind Kind, TFatBootInfo& Info, std::string& Msg);

// Reads the first kBootReadSize bytes of the open volume (one positioned read) and parses them.
bool ReadFatBootSector(plat::HANDLE Volume, TFatKind Kind, TFatBootInfo& Info, std::string& Msg);

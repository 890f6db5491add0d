#include "engine/uBootSector.h"

#include <bit>
#include <vector>

#include "core/uLogger.h"
#include "base/uByteOrder.h"
#include "platform/Platform.h"

namespace {

bool Fail(std::string& Msg, const char* Why) {
  Msg = Why;
  return false;
}

// FAT32 BPB (offsets in the boot sector, little-endian):
//  11 BytesPerSector u16    13 SectorsPerCluster u8   14 ReservedSectors u16
//  16 NumFats u8            17 RootEntries u16 (0)     19 TotalSectors16 u16
//  22 FatSize16 u16 (0)     32 TotalSectors32 u32      36 FatSize32 u32
// 510 signature 55 AA
bool ParseFat32(const uint8_t* B, TFatBootInfo& I, std::string& Msg) {
  TByteReader R({B, 512});
  I.Kind = TFatKind::fkFat32;
  I.BytesPerSector = R.LE16(11);
  I.SectorsPerCluster = B[13];
  const uint32_t Reserved = R.LE16(14);
  I.FatCount = B[16];
  const uint32_t Total16 = R.LE16(19);
  const uint32_t Total32 = R.LE32(32);
  I.FatSectors = R.LE32(36);
  if (B[510] != 0x55 || B[511] != 0xAA) return Fail(Msg, "FAT32 boot sector signature missing");
  if (I.BytesPerSector < 512 || I.BytesPerSector > 4096 || !std::has_single_bit(I.BytesPerSector))
    return Fail(Msg, "FAT32 bytes per sector out of range");
  if (I.SectorsPerCluster == 0 || !std::has_single_bit(I.SectorsPerCluster))
    return Fail(Msg, "FAT32 sectors per cluster out of range");
  if (Reserved == 0 || I.FatCount == 0 || I.FatSectors == 0)
    return Fail(Msg, "FAT32 allocation table fields are zero");
  if (R.LE16(17) != 0 || R.LE16(22) != 0) return Fail(Msg, "Boot sector is not FAT32");
  I.TotalSectors = Total32 != 0 ? Total32 : Total16;
  I.FatOffset = Reserved;
  I.ClusterHeapOffset = Reserved + uint64_t(I.FatCount) * I.FatSectors;
  if (I.TotalSectors <= I.ClusterHeapOffset) return Fail(Msg, "FAT32 cluster heap lies past the volume end");
  I.ClusterCount = (I.TotalSectors - I.ClusterHeapOffset) / I.SectorsPerCluster;
  // The table must hold an entry for every cluster (entries 0 and 1 are reserved).
  if ((I.ClusterCount + 2) * 4 > I.FatSectors * I.BytesPerSector)
    return Fail(Msg, "FAT32 allocation table is smaller than the cluster count");
  return true;
}

// exFAT boot sector (little-endian):
//   3 "EXFAT   "              64 PartitionOffset u64   72 VolumeLength u64 (sectors)
//  80 FatOffset u32           84 FatLength u32         88 ClusterHeapOffset u32
//  92 ClusterCount u32       108 BytesPerSectorShift u8 109 SectorsPerClusterShift u8
// 110 NumberOfFats u8        510 signature 55 AA
bool ParseExFat(const uint8_t* B, TFatBootInfo& I, std::string& Msg) {
  TByteReader R({B, 512});
  I.Kind = TFatKind::fkExFat;
  static const char kName[8] = {'E', 'X', 'F', 'A', 'T', ' ', ' ', ' '};
  for (int i = 0; i < 8; ++i)
    if (B[3 + i] != static_cast<uint8_t>(kName[i])) return Fail(Msg, "Boot sector is not exFAT");
  if (B[510] != 0x55 || B[511] != 0xAA) return Fail(Msg, "exFAT boot sector signature missing");
  const uint8_t BpsShift = B[108];
  const uint8_t SpcShift = B[109];
  if (BpsShift < 9 || BpsShift > 12) return Fail(Msg, "exFAT bytes-per-sector shift out of range");
  if (SpcShift > 25 - BpsShift) return Fail(Msg, "exFAT sectors-per-cluster shift out of range");
  I.BytesPerSector = 1u << BpsShift;
  I.SectorsPerCluster = 1u << SpcShift;
  I.TotalSectors = R.LE64(72);
  I.FatOffset = R.LE32(80);
  I.FatSectors = R.LE32(84);
  I.FatCount = B[110];
  I.ClusterHeapOffset = R.LE32(88);
  I.ClusterCount = R.LE32(92);
  if (I.ClusterHeapOffset == 0 || I.ClusterCount == 0) return Fail(Msg, "exFAT cluster heap fields are zero");
  if (I.FatCount != 1 && I.FatCount != 2) return Fail(Msg, "exFAT number of FATs out of range");
  if (I.ClusterHeapOffset < I.FatOffset + uint64_t(I.FatCount) * I.FatSectors)
    return Fail(Msg, "exFAT cluster heap overlaps the FAT");
  if (I.ClusterHeapOffset + (I.ClusterCount << SpcShift) > I.TotalSectors)
    return Fail(Msg, "exFAT cluster heap reaches past the volume end");
  return true;
}

}  // namespace

bool ParseFatBootSector(const uint8_t* Data, size_t Size, TFatKind Kind, TFatBootInfo& Info, std::string& Msg) {
  Info = {};
  Msg.clear();
  if (Size < 512) return Fail(Msg, "Boot sector read short");
  return Kind == TFatKind::fkExFat ? ParseExFat(Data, Info, Msg) : ParseFat32(Data, Info, Msg);
}

bool ReadFatBootSector(plat::HANDLE Volume, TFatKind Kind, TFatBootInfo& Info, std::string& Msg) {
  std::vector<uint8_t> Buf(kBootReadSize, 0);
  plat::DWORD Read = 0;
  if (!plat::Win().ReadFileAt(Volume, Buf.data(), kBootReadSize, &Read, 0)) {
    Info = {};
    Msg = "Boot sector read failed: " + WinErrorText(plat::Win().GetLastError());
    return false;
  }
  return ParseFatBootSector(Buf.data(), Read, Kind, Info, Msg);
}

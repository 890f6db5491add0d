// Partition tables on the simulated disk's sectors: what IOCTL_DISK_CREATE_DISK writes, what the
// drive layout and partition information requests read back, the tables a machine description
// writes for its volumes, and the faults.
#include "platform/sim/storage/SimPartitions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "PartitionTestUtil.h"
#include "base/uByteOrder.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;
using namespace parttest;

namespace {

class SimPartitionsTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> Sector(int disk, uint64_t lba, uint32_t bytes = 512) {
    std::vector<uint8_t> b(bytes);
    EXPECT_TRUE(m->Storage().Disk(disk)->drive.Read(lba, bytes / 512, b.data()));
    return b;
  }
  std::vector<uint8_t> Layout(int disk) {
    DWORD e = 0;
    auto b = DriveLayout(disk, &e);
    EXPECT_EQ(e, 0u);
    return b;
  }
  ScopedSimMachine m;
};

TEST(SimCrc32, IsTheIeeeCrcOfTheGpt) {
  EXPECT_EQ(SimCrc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(SimCrc32("", 0), 0u);
}

TEST_F(SimPartitionsTest, CreateDiskGptWritesBothHeadersArraysAndAProtectiveMbr) {
  constexpr uint64_t kSectors = 64 * kMiB / 512;
  auto disk = m->Storage().AddDisk(2, kSectors);
  ASSERT_EQ(CreateDisk(2, Gpt(kDiskGuid, 128)), 0u);

  const std::vector<uint8_t> first = Sector(2, 0);
  TByteReader mbr(first);
  EXPECT_EQ(mbr.U8(446 + 4), 0xEE);
  EXPECT_EQ(mbr.LE32(446 + 8), 1u);
  EXPECT_EQ(mbr.LE32(446 + 12), kSectors - 1);
  EXPECT_EQ(mbr.LE16(510), 0xAA55);
  for (size_t i = 462; i < 510; ++i) EXPECT_EQ(mbr.U8(i), 0) << i;

  // Primary at 1 with its array at 2, backup at the last block with its array before it.
  const struct {
    uint64_t my, alternate, array;
  } headers[] = {{1, kSectors - 1, 2}, {kSectors - 1, 1, kSectors - 33}};
  for (const auto& want : headers) {
    std::vector<uint8_t> h = Sector(2, want.my);
    TByteReader r(h);
    EXPECT_EQ(std::memcmp(h.data(), "EFI PART", 8), 0);
    EXPECT_EQ(r.LE32(8), 0x00010000u);
    EXPECT_EQ(r.LE32(12), 92u);
    const uint32_t crc = r.LE32(16);
    std::memset(h.data() + 16, 0, 4);
    EXPECT_EQ(SimCrc32(h.data(), 92), crc);
    EXPECT_EQ(r.LE64(24), want.my);
    EXPECT_EQ(r.LE64(32), want.alternate);
    EXPECT_EQ(r.LE64(40), 34u);
    EXPECT_EQ(r.LE64(48), kSectors - 34);
    GUID id;
    std::memcpy(&id, h.data() + 56, 16);
    EXPECT_TRUE(SameGuid(id, kDiskGuid));
    EXPECT_EQ(r.LE64(72), want.array);
    EXPECT_EQ(r.LE32(80), 128u);
    EXPECT_EQ(r.LE32(84), 128u);
    std::vector<uint8_t> array(32 * 512);
    ASSERT_TRUE(disk->drive.Read(want.array, 32, array.data()));
    EXPECT_EQ(r.LE32(88), SimCrc32(array.data(), array.size()));
  }

  const auto b = Layout(2);
  ASSERT_EQ(b.size(), kDriveLayoutHeaderSize);
  const auto head = LayoutHead(b);
  EXPECT_EQ(head.PartitionStyle, PARTITION_STYLE_GPT);
  EXPECT_EQ(head.PartitionCount, 0u);
  EXPECT_TRUE(SameGuid(head.Gpt.DiskId, kDiskGuid));
  EXPECT_EQ(head.Gpt.StartingUsableOffset, 34 * 512);
  EXPECT_EQ(head.Gpt.UsableLength, static_cast<LONGLONG>((kSectors - 34 - 34 + 1) * 512));
  EXPECT_EQ(head.Gpt.MaxPartitionCount, 128u);
}

TEST_F(SimPartitionsTest, CreateDiskMbrKeepsTheBootCodeAndWritesSignatureEmptyTableAndMark) {
  auto disk = m->Storage().AddDisk(1, 8192);
  std::vector<uint8_t> old(512, 0xCC);
  ASSERT_TRUE(disk->drive.Write(0, 1, old.data()));
  ASSERT_EQ(CreateDisk(1, Mbr(0xA1B2C3D4)), 0u);

  std::vector<uint8_t> s = Sector(1, 0);
  TByteReader r(s);
  for (size_t i = 0; i < 440; ++i) ASSERT_EQ(s[i], 0xCC) << i;
  EXPECT_EQ(r.LE32(440), 0xA1B2C3D4u);
  for (size_t i = 446; i < 510; ++i) EXPECT_EQ(s[i], 0) << i;
  EXPECT_EQ(r.LE16(510), 0xAA55);

  const auto b = Layout(1);
  const auto head = LayoutHead(b);
  EXPECT_EQ(head.PartitionStyle, PARTITION_STYLE_MBR);
  ASSERT_EQ(head.PartitionCount, 4u);  // Windows lists the four slots of the table
  EXPECT_EQ(b.size(), DriveLayoutSize(4));
  EXPECT_EQ(head.Mbr.Signature, 0xA1B2C3D4u);
  uint32_t sum = 0;
  for (size_t i = 0; i < 128; ++i) sum += r.LE32(i * 4);
  EXPECT_EQ(head.Mbr.CheckSum + sum, 0u);
  for (DWORD i = 0; i < 4; ++i) {
    const auto p = LayoutEntry(b, i);
    EXPECT_EQ(p.PartitionNumber, 0u);
    EXPECT_EQ(p.Mbr.PartitionType, PARTITION_ENTRY_UNUSED);
    EXPECT_EQ(p.PartitionLength, 0);
  }
}

TEST_F(SimPartitionsTest, CreateDiskRawClearsTheTableAndCreateDiskTakesTheDisksVolumesAway) {
  m->Storage().AddDisk(1, 65536);
  m->Discovery().AddVolume('E', 1, kMiB, 8 * kMiB);
  m->Storage().AddVolume('F', {{1, 10 * kMiB, kMiB}});
  m->Storage().AddDisk(2, 65536);
  m->Discovery().AddVolume('G', 2, kMiB, 8 * kMiB);
  ASSERT_EQ(LayoutHead(Layout(1)).PartitionStyle, PARTITION_STYLE_GPT);

  CREATE_DISK raw{};
  raw.PartitionStyle = PARTITION_STYLE_RAW;
  ASSERT_EQ(CreateDisk(1, raw), 0u);
  EXPECT_EQ(LayoutHead(Layout(1)).PartitionStyle, PARTITION_STYLE_RAW);
  EXPECT_EQ(Layout(1).size(), kDriveLayoutHeaderSize);
  EXPECT_FALSE(m->Storage().Volume('E'));
  EXPECT_FALSE(m->Storage().Volume('F'));
  EXPECT_TRUE(m->Storage().Volume('G'));
}

TEST_F(SimPartitionsTest, CreateDiskRefusals) {
  m->Storage().AddDisk(1, 8192);
  m->Storage().AddDisk(2, 16);  // too small for a GPT
  m->Storage().AddVolume('E', {{1, kMiB, kMiB}});
  CREATE_DISK odd = Mbr(1);
  odd.PartitionStyle = 7;
  EXPECT_EQ(CreateDisk(1, Mbr(1), GENERIC_READ), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(CreateDisk(1, Mbr(1), FILE_READ_ATTRIBUTES), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(CreateDisk(1, odd), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CreateDisk(2, Gpt(kDiskGuid)), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  HANDLE h = Win().CreateFileW(DiskPath(1), GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  CREATE_DISK in = Mbr(1);
  DWORD n = 0;
  EXPECT_FALSE(Win().DeviceIoControl(h, IOCTL_DISK_CREATE_DISK, &in, 20, nullptr, 0, &n));
  EXPECT_EQ(Win().GetLastError(), static_cast<DWORD>(ERROR_BAD_LENGTH));
  Win().CloseHandle(h);
  h = Win().CreateFileW("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  EXPECT_FALSE(Win().DeviceIoControl(h, IOCTL_DISK_CREATE_DISK, &in, sizeof in, nullptr, 0, &n));
  EXPECT_EQ(Win().GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  Win().CloseHandle(h);
  EXPECT_EQ(LayoutHead(Layout(1)).PartitionStyle, PARTITION_STYLE_RAW);  // nothing was written
}

TEST_F(SimPartitionsTest, DriveLayoutThatDoesNotFitTheBufferFailsWithInsufficientBuffer) {
  m->Storage().AddDisk(1, 65536);
  m->Discovery().AddVolume('E', 1, kMiB, 4 * kMiB);
  m->Discovery().AddVolume('F', 1, 5 * kMiB, 4 * kMiB);
  DWORD e = 0;
  EXPECT_EQ(DriveLayout(1, &e, DriveLayoutSize(2)).size(), DriveLayoutSize(2));
  EXPECT_EQ(e, 0u);
  for (DWORD size : {DriveLayoutSize(2) - 1, kDriveLayoutHeaderSize, 0u}) {
    EXPECT_TRUE(DriveLayout(1, &e, size).empty());
    EXPECT_EQ(e, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << size;
  }
  // A blank disk: RAW, no entries.
  m->Storage().AddDisk(2, 65536);
  const auto raw = Layout(2);
  EXPECT_EQ(LayoutHead(raw).PartitionStyle, PARTITION_STYLE_RAW);
  EXPECT_EQ(LayoutHead(raw).PartitionCount, 0u);
}

// The volumes of a machine description: GPT basic data partitions by default, MBR type bytes
// where the description asks for MBR.
TEST_F(SimPartitionsTest, DescriptionVolumesAreRealPartitions) {
  m->Discovery().AddDisk(1, 256 * kMiB, presets::UasEnclosure());
  auto mbrDisk = presets::BotEnclosure();
  mbrDisk.mbrPartitionTable = true;
  m->Discovery().AddDisk(2, 256 * kMiB, mbrDisk);
  const struct {
    char letter;
    const char* fs;
    uint8_t mbrType;
  } volumes[] = {{'E', "NTFS", 0x07}, {'F', "exFAT", 0x07}, {'G', "FAT32", 0x0C}};
  for (int i = 0; i < 3; ++i) {
    m->Discovery().AddVolume(volumes[i].letter, 1, kMiB + i * 64 * kMiB, 64 * kMiB, volumes[i].fs);
    m->Discovery().AddVolume(static_cast<char>(volumes[i].letter + 4), 2, kMiB + i * 64 * kMiB, 64 * kMiB,
                             volumes[i].fs);
  }

  const auto gpt = Layout(1);
  ASSERT_EQ(LayoutHead(gpt).PartitionStyle, PARTITION_STYLE_GPT);
  ASSERT_EQ(LayoutHead(gpt).PartitionCount, 3u);
  const auto mbr = Layout(2);
  ASSERT_EQ(LayoutHead(mbr).PartitionStyle, PARTITION_STYLE_MBR);
  ASSERT_EQ(LayoutHead(mbr).PartitionCount, 4u);
  for (DWORD i = 0; i < 3; ++i) {
    const auto g = LayoutEntry(gpt, i);
    EXPECT_EQ(g.PartitionStyle, PARTITION_STYLE_GPT);
    EXPECT_EQ(g.PartitionNumber, i + 1);
    EXPECT_EQ(g.StartingOffset, static_cast<LONGLONG>(kMiB + i * 64 * kMiB));
    EXPECT_EQ(g.PartitionLength, static_cast<LONGLONG>(64 * kMiB));
    EXPECT_TRUE(SameGuid(g.Gpt.PartitionType, kPartitionBasicDataGuid));
    EXPECT_EQ(std::u16string(g.Gpt.Name), u"Basic data partition");
    const auto p = LayoutEntry(mbr, i);
    EXPECT_EQ(p.PartitionStyle, PARTITION_STYLE_MBR);
    EXPECT_EQ(p.PartitionNumber, i + 1);
    EXPECT_EQ(p.Mbr.PartitionType, volumes[i].mbrType);
    EXPECT_EQ(p.Mbr.RecognizedPartition, 1);
    EXPECT_EQ(p.Mbr.HiddenSectors, (kMiB + i * 64 * kMiB) / 512);
    EXPECT_EQ(p.StartingOffset, static_cast<LONGLONG>(kMiB + i * 64 * kMiB));
  }
  EXPECT_FALSE(SameGuid(LayoutEntry(gpt, 0).Gpt.PartitionId, LayoutEntry(gpt, 1).Gpt.PartitionId));
  EXPECT_EQ(LayoutEntry(mbr, 3).Mbr.PartitionType, PARTITION_ENTRY_UNUSED);

  // Volumes no table can hold are placed without a partition.
  m->Discovery().AddVolume('K', 1, kMiB + 32 * kMiB, kMiB);  // inside E
  m->Discovery().AddVolume('L', 1, 250 * kMiB, 0);
  m->Discovery().AddVolume('M', 1, 256 * kMiB - 4096, 4096);  // over the backup table
  EXPECT_EQ(LayoutHead(Layout(1)).PartitionCount, 3u);
  EXPECT_TRUE(m->Storage().Volume('K'));
}

TEST_F(SimPartitionsTest, PartitionInformationOfAVolumeHandleOpenedWithNoAccess) {
  auto mbrDisk = presets::BotEnclosure();
  mbrDisk.mbrPartitionTable = true;
  m->Discovery().AddDisk(1, 256 * kMiB, mbrDisk);
  m->Discovery().AddVolume('E', 1, kMiB, 64 * kMiB, "exFAT");
  m->Discovery().AddVolume('F', 1, 65 * kMiB, 64 * kMiB, "FAT32");
  m->Discovery().AddDisk(2, 256 * kMiB, presets::UasEnclosure());
  m->Discovery().AddVolume('G', 2, kMiB, 64 * kMiB, "NTFS");
  m->Discovery().AddVolume('H', 2, 65 * kMiB, 64 * kMiB, "NTFS");
  m->Storage().AddDisk(3, 65536);
  m->Storage().AddVolume('R', {{3, kMiB, kMiB}});  // a disk without a table

  auto query = [](const std::string& path, PARTITION_INFORMATION_EX* p, DWORD size = 144) {
    HANDLE h =
        Win().CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (!IsValidHandle(h)) return Win().GetLastError();
    std::vector<uint8_t> out(size, 0);
    DWORD n = 0;
    const BOOL ok = Win().DeviceIoControl(h, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, out.data(), size, &n);
    const DWORD e = ok ? 0 : Win().GetLastError();
    Win().CloseHandle(h);
    if (ok) {
      EXPECT_EQ(n, 144u);
      std::memcpy(p, out.data(), sizeof *p);
    }
    return e;
  };
  const struct {
    const char* path;
    DWORD style, number;
    uint8_t mbrType;
    LONGLONG offset;
  } cases[] = {
      {"\\\\.\\E:", PARTITION_STYLE_MBR, 1, 0x07, kMiB}, {"\\\\.\\F:", PARTITION_STYLE_MBR, 2, 0x0C, 65 * kMiB},
      {"\\\\.\\G:", PARTITION_STYLE_GPT, 1, 0, kMiB},    {"\\\\.\\H:", PARTITION_STYLE_GPT, 2, 0, 65 * kMiB},
      {"\\\\.\\R:", PARTITION_STYLE_RAW, 0, 0, kMiB},    {"\\\\.\\PhysicalDrive1", PARTITION_STYLE_MBR, 0, 0, 0},
  };
  for (const auto& c : cases) {
    PARTITION_INFORMATION_EX p{};
    ASSERT_EQ(query(c.path, &p), 0u) << c.path;
    EXPECT_EQ(p.PartitionStyle, c.style) << c.path;
    EXPECT_EQ(p.PartitionNumber, c.number) << c.path;
    EXPECT_EQ(p.StartingOffset, c.offset) << c.path;
    if (c.style == PARTITION_STYLE_MBR) {
      EXPECT_EQ(p.Mbr.PartitionType, c.mbrType) << c.path;
    } else if (c.style == PARTITION_STYLE_GPT) {
      EXPECT_TRUE(SameGuid(p.Gpt.PartitionType, kPartitionBasicDataGuid)) << c.path;
    }
  }
  PARTITION_INFORMATION_EX p{};
  EXPECT_EQ(query("\\\\.\\E:", &p, 143), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  // Faults: the open (through the bridge), the request on a volume, the n-th request on a disk.
  SimFault refused;
  refused.command = SimCommand::VolumeOpen;
  refused.winError = ERROR_ACCESS_DENIED;
  m->Bridge().AddFault(1, refused);
  EXPECT_EQ(query("\\\\.\\E:", &p), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  m->Bridge().ClearFaults(1);
  EXPECT_EQ(query("\\\\.\\E:", &p), 0u);
  m->Storage().AddVolumeFault('f', IOCTL_DISK_GET_PARTITION_INFO_EX, SimOutcome::Error(ERROR_NOT_READY));
  EXPECT_EQ(query("\\\\.\\F:", &p), static_cast<DWORD>(ERROR_NOT_READY));
  EXPECT_EQ(query("\\\\.\\E:", &p), 0u);
  m->Storage().AddFault(2, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, SimOutcome::Error(ERROR_IO_DEVICE), {.nth = 2});
  DWORD e = 0;
  DriveLayout(2, &e);
  EXPECT_EQ(e, 0u);
  DriveLayout(2, &e);
  EXPECT_EQ(e, static_cast<DWORD>(ERROR_IO_DEVICE));
  DriveLayout(2, &e);
  EXPECT_EQ(e, 0u);
  m->Storage().AddFault(2, IOCTL_DISK_CREATE_DISK, SimOutcome::Error(ERROR_WRITE_PROTECT));
  EXPECT_EQ(CreateDisk(2, Mbr(5)), static_cast<DWORD>(ERROR_WRITE_PROTECT));
  EXPECT_EQ(LayoutHead(Layout(2)).PartitionStyle, PARTITION_STYLE_GPT);
  m->Storage().ClearFaults();
  EXPECT_EQ(query("\\\\.\\F:", &p), 0u);
}

TEST_F(SimPartitionsTest, A4096ByteBlockBridgeGetsItsTableInItsOwnBlocks) {
  constexpr uint64_t kBytes = 256 * kMiB;
  m->Discovery().AddDisk(1, kBytes, presets::UasEnclosure());
  m->Bridge().SetProfile(1, SimBridgeProfile::Uas4Kn());
  ASSERT_EQ(CreateDisk(1, Gpt(kDiskGuid)), 0u);
  const uint64_t blocks = kBytes / 4096;
  const auto head = LayoutHead(Layout(1));
  EXPECT_EQ(head.PartitionStyle, PARTITION_STYLE_GPT);
  EXPECT_EQ(head.Gpt.StartingUsableOffset, 6 * 4096);  // header at block 1, 4 blocks of entries
  EXPECT_EQ(head.Gpt.UsableLength, static_cast<LONGLONG>((blocks - 6 - 6 + 1) * 4096));
  EXPECT_EQ(std::memcmp(Sector(1, 8).data(), "EFI PART", 8), 0);
  EXPECT_EQ(TByteReader(Sector(1, 0)).LE32(446 + 12), blocks - 1);

  auto mbrDisk = presets::UasEnclosure();
  mbrDisk.mbrPartitionTable = true;
  m->Discovery().AddDisk(2, kBytes, mbrDisk);
  m->Bridge().SetProfile(2, SimBridgeProfile::Uas4Kn());
  m->Discovery().AddVolume('E', 2, kMiB, 64 * kMiB, "FAT32");
  const std::vector<uint8_t> first = Sector(2, 0);
  TByteReader r(first);
  EXPECT_EQ(r.LE32(446 + 8), kMiB / 4096);
  EXPECT_EQ(r.LE32(446 + 12), 64 * kMiB / 4096);
  const auto p = LayoutEntry(Layout(2), 0);
  EXPECT_EQ(p.StartingOffset, static_cast<LONGLONG>(kMiB));
  EXPECT_EQ(p.PartitionLength, static_cast<LONGLONG>(64 * kMiB));
}

TEST_F(SimPartitionsTest, TheBackupGptStandsInForADamagedPrimary) {
  constexpr uint64_t kSectors = 65536;
  auto disk = m->Storage().AddDisk(1, kSectors);
  m->Discovery().AddVolume('E', 1, kMiB, 4 * kMiB);
  std::vector<uint8_t> junk(512, 0x5A);
  ASSERT_TRUE(disk->drive.Write(1, 1, junk.data()));
  auto layout = m->Partitions().Layout(1);
  EXPECT_EQ(layout.style, SimPartitionStyle::kGpt);
  ASSERT_EQ(layout.entries.size(), 1u);
  EXPECT_EQ(layout.entries[0].firstLba, kMiB / 512);
  ASSERT_TRUE(disk->drive.Write(kSectors - 1, 1, junk.data()));
  EXPECT_EQ(m->Partitions().Layout(1).style, SimPartitionStyle::kRaw);
  // A first sector with a boot indicator no MBR has is no table either.
  std::vector<uint8_t> s(512, 0);
  s[446] = 0x12;
  s[510] = 0x55;
  s[511] = 0xAA;
  ASSERT_TRUE(disk->drive.Write(0, 1, s.data()));
  EXPECT_EQ(m->Partitions().Layout(1).style, SimPartitionStyle::kRaw);
}

// An MBR with an extended partition, laid out by hand: Windows lists four slots per table and
// numbers the partitions in that order, the container and the links unnumbered.
TEST_F(SimPartitionsTest, ExtendedPartitionsAreFollowedThroughTheirChain) {
  auto disk = m->Storage().AddDisk(1, 65536);
  auto table = [&](uint64_t lba, std::vector<std::array<uint32_t, 3>> slots) {
    std::vector<uint8_t> s(512, 0);
    TByteWriter w(s);
    for (size_t i = 0; i < slots.size(); ++i) {
      w.U8(446 + 16 * i + 4, static_cast<uint8_t>(slots[i][0]));
      w.LE32(446 + 16 * i + 8, slots[i][1]);
      w.LE32(446 + 16 * i + 12, slots[i][2]);
    }
    w.LE16(510, 0xAA55);
    ASSERT_TRUE(disk->drive.Write(lba, 1, s.data()));
  };
  table(0, {{0x07, 2048, 8192}, {0x0F, 10240, 40960}});
  table(10240, {{0x0C, 2048, 4096}, {0x05, 8192, 16384}});  // link: from the container's start
  table(18432, {{0x07, 2048, 8192}});
  const auto b = Layout(1);
  ASSERT_EQ(LayoutHead(b).PartitionCount, 12u);
  const struct {
    DWORD index, number;
    uint8_t type;
    LONGLONG start;
  } want[] = {{0, 1, 0x07, 2048},  {1, 0, 0x0F, 10240}, {2, 0, 0, 0}, {4, 2, 0x0C, 12288},
              {5, 0, 0x05, 18432}, {8, 3, 0x07, 20480}, {9, 0, 0, 0}};
  for (const auto& w : want) {
    const auto p = LayoutEntry(b, w.index);
    EXPECT_EQ(p.PartitionNumber, w.number) << w.index;
    EXPECT_EQ(p.Mbr.PartitionType, w.type) << w.index;
    EXPECT_EQ(p.StartingOffset, w.start * 512) << w.index;
  }
  EXPECT_EQ(LayoutEntry(b, 4).Mbr.HiddenSectors, 2048u);
  EXPECT_EQ(LayoutEntry(b, 1).Mbr.RecognizedPartition, 0);
}

}  // namespace

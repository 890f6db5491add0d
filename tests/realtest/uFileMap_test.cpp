// The sector rule on byte fixtures of the retrieval-pointer buffer, the volume a path is on, the
// CSV rows and their quoting, the free-range rows, and the recursive listing.
#include "realtest/uFileMap.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "base/uByteOrder.h"
#include "core/ThreadTestUtil.h"
#include "platform/sim/files/SimVolumeFormat.h"
#include "engine/uFreeRangeCsv.h"
#include "engine/uVolumeBitmap.h"

using namespace plat;
using namespace plat::sim;

namespace {

// A RETRIEVAL_POINTERS_BUFFER of 4096 bytes: the extents as (next VCN, LCN) from StartVcn.
std::vector<uint8_t> Extents(uint64_t StartVcn, const std::vector<std::pair<uint64_t, uint64_t>>& E,
                             uint32_t Count = UINT32_MAX) {
  std::vector<uint8_t> b(4096, 0);
  TByteWriter w(b);
  w.LE32(0, Count == UINT32_MAX ? static_cast<uint32_t>(E.size()) : Count);
  w.LE64(8, StartVcn);
  for (size_t k = 0; k < E.size(); ++k) {
    w.LE64(16 + 16 * k, E[k].first);
    w.LE64(24 + 16 * k, E[k].second);
  }
  return b;
}

TEST(FileMap, SectorRangeOfTheFirstAndLastExtent) {
  // NTFS at byte 1048576, 4096-byte clusters, 512 MiB long.
  const TSectorGeometry ntfs{2048, 8, 0, 1 << 20};
  // 512-byte clusters, heap 16384 sectors in.
  const TSectorGeometry fat{2048, 1, 16384, 1 << 20};
  const struct {
    const char* Name;
    std::vector<uint8_t> Buf;
    TSectorGeometry G;
    bool Ok;
    uint64_t First, Last;
  } cases[] = {
      // One extent of 128 clusters at cluster 1000: 2048 + 8000 to that + 8 x 128 - 1.
      {"contiguous", Extents(0, {{128, 1000}}), ntfs, true, 10048, 10048 + 1024 - 1},
      // Three extents: the middle one is not looked at, the span runs to the end of the last.
      {"fragmented", Extents(0, {{10, 5000}, {20, 100}, {25, 7000}}), ntfs, true, 2048 + 40000,
       2048 + 8 * (7000 + 5) - 1},
      {"heap offset", Extents(0, {{4, 3}}), fat, true, 2048 + 16384 + 3, 2048 + 16384 + 7 - 1},
      {"starting VCN of a single extent", Extents(6, {{10, 50}}), ntfs, true, 2048 + 400, 2048 + 8 * 54 - 1},
      {"no extent", Extents(0, {}), ntfs, false, 0, 0},
      {"more than the buffer holds", Extents(0, {{1, 1}}, 256), ntfs, false, 0, 0},
      {"a geometry without a length", Extents(0, {{128, 1000}}), TSectorGeometry{2048, 8, 0, 0}, false, 0, 0},
  };
  for (const auto& c : cases) {
    uint64_t first = 99, last = 99;
    EXPECT_EQ(SectorRangeOfExtents(c.Buf.data(), c.Buf.size(), c.G, first, last), c.Ok) << c.Name;
    EXPECT_EQ(first, c.First) << c.Name;
    EXPECT_EQ(last, c.Last) << c.Name;
  }
}

// Windows answers a sparse file's hole and a compressed file's packed run with cluster -1, and an
// extent list can fail to advance: no such answer, and no span outside the volume, reaches a
// file map. The volume covers sectors 2048 to 18431 in 8-sector clusters (2048 clusters).
TEST(FileMap, ASpanNeverLiesOutsideItsVolume) {
  const TSectorGeometry g{2048, 8, 0, 16384};
  constexpr uint64_t kNoCluster = ~0ull;
  const struct {
    const char* Name;
    std::vector<uint8_t> Buf;
    bool Ok;
    uint64_t First, Last;
  } cases[] = {
      // Before: 2040..2975, starting before the volume.
      {"sparse: a hole of 4 clusters, then 16 at cluster 100", Extents(0, {{4, kNoCluster}, {20, 100}}), false, 0, 0},
      // Before: 2848..2071, ending before it begins.
      {"compressed: the last run packed", Extents(0, {{16, 100}, {20, kNoCluster}}), false, 0, 0},
      {"a hole between two runs", Extents(0, {{4, 100}, {8, kNoCluster}, {12, 200}}), false, 0, 0},
      // Before: 2848..2847.
      {"the only extent has no cluster", Extents(0, {{0, 100}}), false, 0, 0},
      {"an extent behind its starting VCN", Extents(6, {{4, 100}}), false, 0, 0},
      {"an extent that goes back", Extents(0, {{10, 100}, {5, 200}}), false, 0, 0},
      {"past the volume's end", Extents(0, {{16, 2040}}), false, 0, 0},
      {"a cluster address that wraps", Extents(0, {{2, 0x2000000000000000ull}}), false, 0, 0},
      {"the last extent before the first", Extents(0, {{10, 1000}, {20, 100}}), false, 0, 0},
      {"up to the volume's last sector", Extents(0, {{16, 2032}}), true, 2048 + 8 * 2032, 18431},
      {"from the volume's first sector", Extents(0, {{1, 0}}), true, 2048, 2055},
  };
  for (const auto& c : cases) {
    uint64_t first = 99, last = 99;
    EXPECT_EQ(SectorRangeOfExtents(c.Buf.data(), c.Buf.size(), g, first, last), c.Ok) << c.Name;
    EXPECT_EQ(first, c.First) << c.Name;
    EXPECT_EQ(last, c.Last) << c.Name;
  }
}

TEST(FileMap, GeometryAndTheVolumeOfAPath) {
  TThreadFixture f;
  f.m->Storage().AddDisk(1, 1 << 18);
  f.m->Storage().AddVolume('G', {{1, 2048 * 512, 131072 * 512}});
  ASSERT_TRUE(FormatVolume(f.m->Storage(), 'G', SimFsKind::kFat32, 512, 4096));
  TDiskInfo disk;
  TVolumeInfo g;
  g.DriveLetter = "G:";
  g.FileSystem = "FAT32";
  g.ClusterBytes = 4096;
  g.PartitionOffset = 2048 * 512;
  g.PartitionLength = 131072 * 512;
  TVolumeInfo h = g;
  h.DriveLetter = "H:";
  h.FileSystem = "NTFS";
  h.ClusterBytes = 0;  // none reported: 8 sectors a cluster
  h.PartitionOffset = 1048576 + 511;
  disk.Volumes = {h, g};

  const TSectorGeometry gg = SectorGeometryOf(g);
  EXPECT_EQ(gg.PartStart, 2048u);
  EXPECT_EQ(gg.SectorsPerCluster, 8u);
  EXPECT_EQ(gg.HeapOffset, FsState(f.m->Storage(), 'G')->heapOffset);
  EXPECT_GT(gg.HeapOffset, 0u);
  EXPECT_EQ(gg.PartSectors, 131072u);
  const TSectorGeometry hg = SectorGeometryOf(h);
  EXPECT_EQ(hg.PartStart, 2048u);
  EXPECT_EQ(hg.SectorsPerCluster, 8u);
  EXPECT_EQ(hg.HeapOffset, 0u);

  // The folder's own volume, whatever the order of the disk's volumes.
  EXPECT_EQ(VolumeOfPath(disk, "G:\\trim_real_test\\file_0.bin"), &disk.Volumes[1]);
  EXPECT_EQ(VolumeOfPath(disk, "g:\\trim_real_test\\file_0.bin"), &disk.Volumes[1]);
  EXPECT_EQ(VolumeOfPath(disk, "H:\\x"), &disk.Volumes[0]);
  EXPECT_EQ(VolumeOfPath(disk, "E:\\trim_real_test\\file_0.bin"), nullptr);
  EXPECT_EQ(VolumeOfPath(disk, "\\\\?\\G:\\x"), nullptr);
}

TEST(FileMap, RowsAndTheirQuoting) {
  EXPECT_EQ(CreatedCsvRow(0, "E:\\trim_real_test\\file_0.bin", 2048, 1026047),
            "0,E:\\trim_real_test\\file_0.bin,2048,1026047,\r\n");
  EXPECT_EQ(CreatedCsvRow(9, "E:\\f.bin", 1, 2), "9,E:\\f.bin,1,2,Y\r\n");
  EXPECT_EQ(CreatedCsvRow(19, "E:\\f.bin", 1, 2), "19,E:\\f.bin,1,2,Y\r\n");
  EXPECT_EQ(CreatedCsvRow(20, "E:\\f.bin", 1, 2), "20,E:\\f.bin,1,2,\r\n");
  EXPECT_EQ(DeletedCsvRow(9, "E:\\f.bin", 0, 0), "9,E:\\f.bin,0,0\r\n");
  EXPECT_EQ(FileMapCsvRow("E:\\big.bin", 18446744073709551615ull, 1, 5368709120ll),
            "E:\\big.bin,18446744073709551615,1,5368709120\r\n");

  const struct {
    const char* In;
    const char* Out;
  } fields[] = {
      {"E:\\trim_real_test\\file_0.bin", "E:\\trim_real_test\\file_0.bin"},
      {"E:\\a,b.bin", "\"E:\\a,b.bin\""},
      {"E:\\say \"hi\".bin", "\"E:\\say \"\"hi\"\".bin\""},
      {"E:\\two\nlines", "\"E:\\two\nlines\""},
      {"E:\\cr\r", "\"E:\\cr\r\""},
      {"", ""},
  };
  for (const auto& f : fields) EXPECT_EQ(CsvField(f.In), f.Out) << f.In;
  EXPECT_EQ(DeletedCsvRow(3, "E:\\a,b.bin", 5, 6), "3,\"E:\\a,b.bin\",5,6\r\n");
  EXPECT_EQ(std::string(kCreatedCsvHeader), "Index,FileName,StartSector,EndSector,WillDelete");
  EXPECT_EQ(std::string(kDeletedCsvHeader), "Index,FileName,StartSector,EndSector");
  EXPECT_EQ(std::string(kFileMapCsvHeader), "FileName,StartSector,EndSector,SizeBytes");
}

TEST(FileMap, FreeRangeRows) {
  TVolumeInfo e;
  e.DriveLetter = "E:";
  e.FileSystem = "NTFS";
  EXPECT_EQ(FreeRangeCsvRow(e, {2048, 100}), "E:,NTFS,2048,2147,100\r\n");
  EXPECT_EQ(FreeRangeCsvRow(e, {5000, 1}), "E:,NTFS,5000,5000,1\r\n");
  for (const char* fs : {"NTFS", "exFAT", "EXFAT", "FAT32", "fat32"}) EXPECT_TRUE(IsFreeRangeFileSystem(fs)) << fs;
  for (const char* fs : {"FAT", "FAT16", "RAW/Unknown", "ReFS", ""}) EXPECT_FALSE(IsFreeRangeFileSystem(fs)) << fs;
}

TEST(FileMap, ListingIsDepthFirstAndTakesHiddenFiles) {
  TThreadFixture f;
  f.m->Files().AddDrive('E');
  const std::string root = "E:\\trim_real_test\\";
  for (const char* p :
       {"file_0.bin", "batch_1\\file_1000.bin", "dumy\\gig_0.bin", "dumy\\sub\\deep.bin", "zz.txt", "a.txt"})
    f.m->Files().WriteAll(root + p, "x");
  f.m->Files().WriteAll("E:\\outside.bin", "x");
  ASSERT_TRUE(Win().SetFileAttributesW(root + "a.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  Win().CreateDirectoryW(root + "empty");
  std::vector<std::string> list;
  CollectFilesRecursive(root, list);
  EXPECT_EQ(list,
            (std::vector<std::string>{root + "a.txt", root + "batch_1\\file_1000.bin", root + "dumy\\gig_0.bin",
                                      root + "dumy\\sub\\deep.bin", root + "file_0.bin", root + "zz.txt"}));
  list.clear();
  CollectFilesRecursive("E:\\missing\\", list);
  EXPECT_TRUE(list.empty());
}

TEST(FileMap, ListingNeverEntersAJunctionOrSymbolicLink) {
  TThreadFixture f;
  const std::filesystem::path host =
      std::filesystem::temp_directory_path() / ("vt_filemap_" + std::to_string(std::random_device{}()));
  ASSERT_TRUE(std::filesystem::create_directories(host / "test" / "sub"));
  ASSERT_TRUE(std::filesystem::create_directories(host / "outside"));
  { std::ofstream(host / "test" / "file_0.bin") << "x"; }
  { std::ofstream(host / "test" / "sub" / "x.bin") << "x"; }
  { std::ofstream(host / "outside" / "precious.doc") << "x"; }
  std::error_code ec;
  std::filesystem::create_directory_symlink(host / "outside", host / "test" / "escape", ec);
  if (ec) {
    std::filesystem::remove_all(host);
    GTEST_SKIP() << "the host makes no symbolic links here (wine): " << ec.message();
  }
  f.m->Files().AddDrive('E');
  f.m->Files().MountHostFolder("E:\\trim_real_test", (host / "test").string());
  std::vector<std::string> list;
  CollectFilesRecursive("E:\\trim_real_test\\", list);
  EXPECT_EQ(list, (std::vector<std::string>{"E:\\trim_real_test\\escape", "E:\\trim_real_test\\file_0.bin",
                                            "E:\\trim_real_test\\sub\\x.bin"}));
  std::filesystem::remove_all(host);
}

}  // namespace

// The free-range reader against file systems made by the real tools (mkfs.fat, mkfs.exfat,
// mkntfs; files put in with mtools and ntfs-3g), generated in the test run. The expected free
// clusters come from the test's own reading of each image (or ntfscat's copy of $Bitmap), and
// marker sectors check the result without any layout arithmetic: no sector of a live file may
// be reported free, and every sector of a deleted file must be.
//
// The tools run on the Linux host only; the Windows build (under wine) skips these tests.
#include <gtest/gtest.h>

#include "HostTools.h"
#include "TestTempPath.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "EngineTestUtil.h"
#include "TestTempPath.h"
#include "VolumeTestUtil.h"
#include "base/uByteOrder.h"
#include "engine/uLastUsedLba.h"
#include "engine/uVolumeBitmap.h"

using namespace plat::sim;
namespace fs = std::filesystem;

namespace {

bool Shell(const std::string& Cmd) { return std::system((Cmd + " >/dev/null 2>&1").c_str()) == 0; }

class ImageTest : public ::testing::Test {
 protected:
  ImageTest() {
    Dir = UniqueTempPath("vt_img_");
    fs::create_directories(Dir);
  }
  ~ImageTest() override {
    std::error_code Ec;
    fs::remove_all(Dir, Ec);
  }

  std::string P(const std::string& Name) { return (Dir / Name).string(); }

  // A host file of Sectors 512-byte sectors, each starting with Tag and the file's number.
  std::string MakeFile(const std::string& Name, const char* Tag, int Number, size_t Sectors) {
    std::vector<char> Data(Sectors * 512, 'x');
    for (size_t s = 0; s < Sectors; ++s) std::snprintf(&Data[s * 512], 32, "%s%06d", Tag, Number);
    std::ofstream(P(Name), std::ios::binary).write(Data.data(), static_cast<std::streamsize>(Data.size()));
    return P(Name);
  }

  // Puts the image on disk 1 at 1 MiB as volume E: and mounts it.
  void Load(const std::string& Image) {
    const uint64_t Bytes = fs::file_size(Image);
    M->Storage().AddDisk(1, 2048 + Bytes / 512 + 2048);
    // The disk presents sectors of the size the file system was made for.
    const std::vector<uint8_t> Boot = ReadAt(Image, 0, 512);
    const bool ExFat = std::memcmp(Boot.data() + 3, "EXFAT", 5) == 0;
    M->Bridge().SetLogicalBlockSize(1, ExFat ? 1u << Boot[108] : Boot[11] | Boot[12] << 8);
    ASSERT_TRUE(LoadImageFile(*M->Storage().Disk(1), 2048, Image));
    M->Storage().AddVolume('E', {{1, 1 << 20, Bytes}});
    std::string Why;
    ASSERT_TRUE(MountVolume(M->Storage(), 'E', &Why)) << Why;
  }

  // Where the marker sectors lie, as disk blocks (the image starts at block 2048).
  void FindMarkers(const std::string& Image, std::vector<uint64_t>& Live, std::vector<uint64_t>& Dead) {
    std::ifstream In(Image, std::ios::binary);
    std::vector<char> Buf(1 << 20);
    uint64_t Block = 2048;
    while (In.read(Buf.data(), static_cast<std::streamsize>(Buf.size())) || In.gcount() > 0) {
      const size_t N = static_cast<size_t>(In.gcount());
      for (size_t At = 0; At + 512 <= N; At += 512, ++Block) {
        if (std::memcmp(&Buf[At], "LIVE", 4) == 0) Live.push_back(Block);
        if (std::memcmp(&Buf[At], "DEAD", 4) == 0) Dead.push_back(Block);
      }
    }
  }

  void CheckMarkers(const TTrimRangeArray& R, const std::string& Image) {
    std::vector<uint64_t> Live, Dead;
    FindMarkers(Image, Live, Dead);
    ASSERT_FALSE(Live.empty());
    ASSERT_FALSE(Dead.empty());
    auto Free = [&](uint64_t B) {
      for (const TTrimRange& X : R)
        if (B >= X.StartLba && B < X.StartLba + X.SectorCount) return true;
      return false;
    };
    for (uint64_t B : Live) ASSERT_FALSE(Free(B)) << "live data at block " << B << " reported free";
    for (uint64_t B : Dead) ASSERT_TRUE(Free(B)) << "deleted data at block " << B << " not reported free";
  }

  // The block that ends the highest cluster in use of a bitmap, cluster 0 at Base.
  static int64_t LastUsedBlock(const std::vector<uint8_t>& Bits, uint64_t Clusters, uint64_t Base, uint64_t Spc) {
    for (uint64_t c = Clusters; c-- > 0;)
      if ((Bits[c / 8] >> (c % 8)) & 1) return static_cast<int64_t>(Base + (c + 1) * Spc) - 1;
    return -1;
  }

  static std::vector<uint8_t> ReadAt(const std::string& Image, uint64_t Offset, size_t N) {
    std::vector<uint8_t> B(N);
    std::ifstream In(Image, std::ios::binary);
    In.seekg(static_cast<std::streamoff>(Offset));
    In.read(reinterpret_cast<char*>(B.data()), static_cast<std::streamsize>(N));
    return B;
  }

  std::vector<std::pair<uint64_t, uint64_t>> Pairs(const TTrimRangeArray& A) {
    std::vector<std::pair<uint64_t, uint64_t>> V;
    for (auto& X : A) V.push_back({X.StartLba, X.SectorCount});
    return V;
  }

  TTrimRangeArray ReadFree() {
    TVolumeBitmapReader Reader(Rec.Log());
    TTrimRangeArray R;
    std::string Msg;
    EXPECT_TRUE(Reader.ReadFreeRanges(VolumeInfoOf(*M, 'E'), R, Msg)) << Msg;
    return R;
  }

  ScopedSimMachine M;
  TRecordedLog Rec;
  fs::path Dir;
};

class Fat32ImageTest : public ImageTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(Fat32ImageTest, FreeRangesAreTheImagesFreeClusters) {
  VT_NEED_TOOLS("mkfs.fat", "mcopy", "mdel");
  const auto [Bps, Spc] = GetParam();
  const std::string Img = P("fat32.img");
  // FAT32 needs 65525 clusters; the file is sparse.
  const uint64_t Kb = (70000ull * Bps * Spc) / 1024 + 4096;
  ASSERT_TRUE(Shell("mkfs.fat -F 32 -S " + std::to_string(Bps) + " -s " + std::to_string(Spc) + " -C " + Img +
                    " " + std::to_string(Kb)));
  std::string Copy = "mcopy -i " + Img, Del = "mdel -i " + Img;
  std::mt19937 Rng(7);
  for (int i = 0; i < 24; ++i) {
    const bool Dead = i % 3 == 1;
    const std::string Name = std::string(Dead ? "d" : "l") + std::to_string(i);
    Copy += " " + MakeFile(Name, Dead ? "DEAD" : "LIVE", i, 1 + Rng() % 90);
    if (Dead) Del += " ::/" + Name;
  }
  ASSERT_TRUE(Shell(Copy + " ::/"));
  ASSERT_TRUE(Shell(Del));
  Load(Img);
  const TTrimRangeArray R = ReadFree();

  // Our own reading of the image: the boot sector's fields and the FAT's zero entries.
  std::vector<uint8_t> B0 = ReadAt(Img, 0, 512);
  TByteReader Bs(B0);
  ASSERT_EQ(Bs.LE16(11), Bps);
  const uint64_t Reserved = Bs.LE16(14), Fats = Bs.U8(16), FatSec = Bs.LE32(36), Total = Bs.LE32(32);
  const uint64_t Heap = Reserved + Fats * FatSec;
  const uint64_t Clusters = (Total - Heap) / Spc;
  std::vector<uint8_t> Fat = ReadAt(Img, Reserved * Bps, (Clusters + 2) * 4);
  TByteReader F(Fat);
  std::vector<uint8_t> Used((Clusters + 7) / 8, 0);
  for (uint64_t c = 0; c < Clusters; ++c)
    if (F.LE32((c + 2) * 4) & 0x0FFFFFFF) Used[c / 8] = static_cast<uint8_t>(Used[c / 8] | (1 << (c % 8)));
  const uint64_t HeapLba = 2048 + Heap * Bps / 512;
  EXPECT_EQ(Pairs(R), Pairs(FreeRangesOfBitmap(Used, Clusters, HeapLba, uint64_t(Spc) * Bps / 512)));
  EXPECT_EQ(FindLastUsedLbaForVolume(VolumeInfoOf(*M, 'E'), Rec.Log()),
            LastUsedBlock(Used, Clusters, HeapLba, uint64_t(Spc) * Bps / 512));
  ASSERT_FALSE(R.empty());
  EXPECT_GE(R.front().StartLba, HeapLba);  // never the boot region or a FAT
  CheckMarkers(R, Img);
}

INSTANTIATE_TEST_SUITE_P(SectorAndClusterSizes, Fat32ImageTest,
                         ::testing::Values(std::pair{512, 1}, std::pair{512, 8}, std::pair{4096, 1}));

TEST_F(ImageTest, ExFatFreeRangesFollowItsBitmap) {
  VT_NEED_TOOLS("mkfs.exfat");
  const std::string Img = P("exfat.img");
  { std::ofstream(Img, std::ios::binary).close(); }
  fs::resize_file(Img, 48ull << 20);
  ASSERT_TRUE(Shell("mkfs.exfat -c 4096 " + Img));
  Load(Img);
  // Files through the allocation model, which writes the on-disk bitmap.
  std::vector<SimClusterRuns> Files;
  for (int i = 0; i < 12; ++i) Files.push_back(AllocateFile(M->Storage(), 'E', 3 + i * 5));
  for (int i = 1; i < 12; i += 3) ASSERT_TRUE(ReleaseRuns(M->Storage(), 'E', Files[i]));
  const TTrimRangeArray R = ReadFree();

  // Our own reading, of the disk's sectors now: boot sector, root directory, bitmap.
  auto& Drive = M->Storage().Disk(1)->drive;
  auto ReadDisk = [&](uint64_t Offset, size_t N) {
    std::vector<uint8_t> B((Offset % 512 + N + 511) / 512 * 512);
    EXPECT_TRUE(Drive.Read(2048 + Offset / 512, static_cast<uint32_t>(B.size() / 512), B.data()));
    return std::vector<uint8_t>(B.begin() + static_cast<long>(Offset % 512),
                                B.begin() + static_cast<long>(Offset % 512 + N));
  };
  std::vector<uint8_t> B0 = ReadDisk(0, 512);
  TByteReader Bs(B0);
  const uint64_t Bps = uint64_t(1) << Bs.U8(108), Spc = uint64_t(1) << Bs.U8(109);
  const uint64_t Heap = Bs.LE32(88), Clusters = Bs.LE32(92), Root = Bs.LE32(96);
  std::vector<uint8_t> Dir = ReadDisk(Heap * Bps + (Root - 2) * Spc * Bps, 512);
  uint64_t BitmapCluster = 0;
  for (size_t At = 0; At < 512; At += 32)
    if (Dir[At] == 0x81) BitmapCluster = TByteReader({&Dir[At], 32}).LE32(20);
  ASSERT_GE(BitmapCluster, 2u);
  std::vector<uint8_t> Bits = ReadDisk(Heap * Bps + (BitmapCluster - 2) * Spc * Bps, (Clusters + 7) / 8);
  const uint64_t HeapLba = 2048 + Heap * Bps / 512;
  EXPECT_EQ(Pairs(R), Pairs(FreeRangesOfBitmap(Bits, Clusters, HeapLba, Spc * Bps / 512)));
  EXPECT_EQ(FindLastUsedLbaForVolume(VolumeInfoOf(*M, 'E'), Rec.Log()),
            LastUsedBlock(Bits, Clusters, HeapLba, Spc * Bps / 512));
  ASSERT_FALSE(R.empty());
  EXPECT_GE(R.front().StartLba, HeapLba);
  EXPECT_TRUE(Shell("fsck.exfat -n " + Img)) << "the image itself stays sound";
}

class NtfsImageTest : public ImageTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(NtfsImageTest, FreeRangesAreTheImagesFreeClusters) {
  VT_NEED_TOOLS("mkntfs", "ntfscp", "ntfscat", "ntfsinfo", "ntfstruncate");
  const auto [Bps, ClusterBytes] = GetParam();
  const std::string Img = P("ntfs.img");
  { std::ofstream(Img, std::ios::binary).close(); }
  fs::resize_file(Img, 40ull << 20);
  ASSERT_TRUE(Shell("mkntfs -F -Q -s " + std::to_string(Bps) + " -c " + std::to_string(ClusterBytes) + " " + Img));
  std::mt19937 Rng(3);
  std::vector<std::string> Dead;
  for (int i = 0; i < 12; ++i) {
    const bool IsDead = i % 3 == 1;
    const std::string Name = std::string(IsDead ? "d" : "l") + std::to_string(i);
    ASSERT_TRUE(Shell("ntfscp -f " + Img + " " + MakeFile(Name, IsDead ? "DEAD" : "LIVE", i, 20 + Rng() % 200) +
                      " /" + Name));
    if (IsDead) Dead.push_back(Name);
  }
  for (const std::string& Name : Dead) {
    const std::string Out = P("inode.txt");
    ASSERT_TRUE(std::system(("ntfsinfo -f -F /" + Name + " " + Img + " > " + Out + " 2>/dev/null").c_str()) == 0);
    std::ifstream In(Out);
    std::string Word, Inode;
    while (In >> Word)
      if (Word == "Inode") {
        In >> Inode;
        break;
      }
    ASSERT_FALSE(Inode.empty());
    ASSERT_TRUE(Shell("ntfstruncate -f " + Img + " " + Inode + " 0x80 0"));
  }
  Load(Img);
  const TTrimRangeArray R = ReadFree();

  // ntfs-3g's own copy of $Bitmap, and the boot sector's geometry.
  ASSERT_TRUE(std::system(("ntfscat -f " + Img + " '$Bitmap' > " + P("bitmap.bin") + " 2>/dev/null").c_str()) ==
              0);
  std::ifstream In(P("bitmap.bin"), std::ios::binary);
  std::vector<uint8_t> Bits((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  std::vector<uint8_t> B0 = ReadAt(Img, 0, 512);
  TByteReader Bs(B0);
  const uint64_t Spc = Bs.U8(13), Clusters = Bs.LE64(40) / Spc;
  ASSERT_GE(Bits.size() * 8, Clusters);
  EXPECT_EQ(Pairs(R), Pairs(FreeRangesOfBitmap(Bits, Clusters, 2048, uint64_t(ClusterBytes) / 512)));
  EXPECT_EQ(FindLastUsedLbaForVolume(VolumeInfoOf(*M, 'E'), Rec.Log()),
            LastUsedBlock(Bits, Clusters, 2048, uint64_t(ClusterBytes) / 512));
  ASSERT_FALSE(R.empty());
  EXPECT_GT(R.front().StartLba, 2048u);  // cluster 0 holds the boot sector
  CheckMarkers(R, Img);
}

INSTANTIATE_TEST_SUITE_P(SectorAndClusterSizes, NtfsImageTest,
                         ::testing::Values(std::pair{512, 4096}, std::pair{512, 512}, std::pair{4096, 8192}));

}  // namespace

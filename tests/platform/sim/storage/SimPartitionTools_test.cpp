// The partition tables of the simulated machine read by independent tools: each disk is dumped
// to an image file and judged by sgdisk (gdisk) and sfdisk / fdisk (fdisk). The tools run on the
// Linux host only; a missing tool skips its test.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "HostTools.h"
#include "PartitionTestUtil.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;
using namespace parttest;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t kDiskBytes = 96 * kMiB;

class PartitionToolsTest : public ::testing::Test {
 protected:
  PartitionToolsTest() {
    dir = fs::temp_directory_path() / ("vt_parts_" + std::to_string(std::random_device{}()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  ~PartitionToolsTest() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  // The whole disk as an image file, sparse where the disk holds zeros.
  std::string Dump(int disk) {
    const std::string path = (dir / ("disk" + std::to_string(disk) + ".img")).string();
    const SimDrive& drive = m->Storage().Disk(disk)->drive;
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      constexpr uint32_t kChunk = 2048;
      std::vector<char> buf(kChunk * 512);
      const std::vector<char> zeros(buf.size(), 0);
      for (uint64_t lba = 0; lba < drive.Sectors(); lba += kChunk) {
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(kChunk, drive.Sectors() - lba));
        EXPECT_TRUE(drive.Read(lba, n, buf.data()));
        if (std::memcmp(buf.data(), zeros.data(), n * 512) == 0) continue;
        out.seekp(static_cast<std::streamoff>(lba * 512));
        out.write(buf.data(), n * 512);
      }
    }
    fs::resize_file(path, drive.Sectors() * 512);
    return path;
  }

  // A tool's standard output and error; *rc its exit status.
  std::string Run(const std::string& command, int* rc = nullptr) {
    std::string output;
    const int r = hosttools::Run(command, &output);
    if (rc) *rc = r;
    return output;
  }

  struct Listed {
    uint64_t start, size;
    std::string type;
  };
  // The partition lines of `sfdisk --dump`.
  static std::vector<Listed> Partitions(const std::string& dump) {
    std::vector<Listed> r;
    static const std::regex line(R"(start=\s*(\d+), size=\s*(\d+), type=([0-9A-Fa-f-]+))");
    for (auto it = std::sregex_iterator(dump.begin(), dump.end(), line); it != std::sregex_iterator(); ++it)
      r.push_back({std::stoull((*it)[1]), std::stoull((*it)[2]), (*it)[3]});
    return r;
  }

  fs::path dir;
  ScopedSimMachine m;
};

TEST_F(PartitionToolsTest, AnEmptyGptFromCreateDiskPassesSgdiskAndSfdisk) {
  VT_NEED_TOOL("sgdisk");
  VT_NEED_TOOL("sfdisk");
  m->Discovery().AddDisk(1, kDiskBytes, presets::UasEnclosure());
  ASSERT_EQ(CreateDisk(1, Gpt(kDiskGuid)), 0u);
  const std::string img = Dump(1);
  int rc = 0;
  const std::string verify = Run("sgdisk -v " + img, &rc);
  EXPECT_EQ(rc, 0) << verify;
  EXPECT_NE(verify.find("No problems found"), std::string::npos) << verify;
  const std::string dump = Run("sfdisk --dump " + img);
  EXPECT_NE(dump.find("label: gpt"), std::string::npos) << dump;
  EXPECT_NE(dump.find("label-id: 12345678-9ABC-DEF0-0102-030405060708"), std::string::npos) << dump;
  EXPECT_NE(dump.find("first-lba: 34\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("last-lba: " + std::to_string(kDiskBytes / 512 - 34) + "\n"), std::string::npos) << dump;
  EXPECT_TRUE(Partitions(dump).empty()) << dump;
}

TEST_F(PartitionToolsTest, AnEmptyMbrFromCreateDiskIsADosLabelWithItsSignature) {
  VT_NEED_TOOL("sfdisk");
  m->Discovery().AddDisk(1, kDiskBytes, presets::BotEnclosure());
  ASSERT_EQ(CreateDisk(1, Mbr(0xA1B2C3D4)), 0u);
  const std::string dump = Run("sfdisk --dump " + Dump(1));
  EXPECT_NE(dump.find("label: dos"), std::string::npos) << dump;
  EXPECT_NE(dump.find("label-id: 0xa1b2c3d4"), std::string::npos) << dump;
  EXPECT_TRUE(Partitions(dump).empty()) << dump;
}

TEST_F(PartitionToolsTest, TheVolumesOfADescriptionAreThePartitionsTheToolsList) {
  VT_NEED_TOOL("sgdisk");
  VT_NEED_TOOL("sfdisk");
  m->Discovery().AddDisk(1, kDiskBytes, presets::UasEnclosure());
  auto mbr = presets::BotEnclosure();
  mbr.mbrPartitionTable = true;
  m->Discovery().AddDisk(2, kDiskBytes, mbr);
  for (int disk : {1, 2}) {
    m->Discovery().AddVolume(disk == 1 ? 'E' : 'G', disk, kMiB, 32 * kMiB, "NTFS");
    m->Discovery().AddVolume(disk == 1 ? 'F' : 'H', disk, 33 * kMiB, 40 * kMiB, "FAT32");
  }

  const std::string gptImg = Dump(1);
  int rc = 0;
  const std::string verify = Run("sgdisk -v " + gptImg, &rc);
  EXPECT_NE(verify.find("No problems found"), std::string::npos) << verify;
  const auto gpt = Partitions(Run("sfdisk --dump " + gptImg));
  ASSERT_EQ(gpt.size(), 2u);
  EXPECT_EQ(gpt[0].start, kMiB / 512);
  EXPECT_EQ(gpt[0].size, 32 * kMiB / 512);
  EXPECT_EQ(gpt[1].start, 33 * kMiB / 512);
  EXPECT_EQ(gpt[1].size, 40 * kMiB / 512);
  for (const auto& p : gpt) EXPECT_EQ(p.type, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");

  const std::string mbrDump = Run("sfdisk --dump " + Dump(2));
  EXPECT_NE(mbrDump.find("label: dos"), std::string::npos) << mbrDump;
  const auto dos = Partitions(mbrDump);
  ASSERT_EQ(dos.size(), 2u) << mbrDump;
  EXPECT_EQ(dos[0].start, kMiB / 512);
  EXPECT_EQ(dos[0].size, 32 * kMiB / 512);
  EXPECT_EQ(dos[0].type, "7");
  EXPECT_EQ(dos[1].start, 33 * kMiB / 512);
  EXPECT_EQ(dos[1].type, "c");
  const std::string check = Run("sfdisk --verify " + Dump(2), &rc);
  EXPECT_EQ(rc, 0) << check;
}

// A bridge with 4096-byte logical blocks: the tables count in those blocks, as fdisk reads them
// when told the sector size.
TEST_F(PartitionToolsTest, FourKilobyteBlockTablesReadWithFdisksSectorSize) {
  VT_NEED_TOOL("fdisk");
  for (int disk : {1, 2}) {
    auto d = presets::UasEnclosure();
    d.mbrPartitionTable = disk == 2;
    m->Discovery().AddDisk(disk, kDiskBytes, d);
    m->Bridge().SetProfile(disk, SimBridgeProfile::Uas4Kn());
    m->Discovery().AddVolume(disk == 1 ? 'E' : 'F', disk, kMiB, 32 * kMiB, "exFAT");
  }
  int rc = 0;
  for (int disk : {1, 2}) {
    const std::string list = Run("fdisk -b 4096 -l " + Dump(disk), &rc);
    EXPECT_EQ(rc, 0) << list;
    EXPECT_NE(list.find(disk == 1 ? "Disklabel type: gpt" : "Disklabel type: dos"), std::string::npos) << list;
    EXPECT_EQ(list.find("corrupt"), std::string::npos) << list;
    // Device, start, end, sectors: 256 to 8447 in 4096-byte blocks.
    EXPECT_TRUE(std::regex_search(list, std::regex(R"(img1\s+256\s+8447\s+8192\s)"))) << list;
  }
}

}  // namespace

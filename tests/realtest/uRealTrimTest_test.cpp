// The real test's steps on the simulated machine with small files: the test files on a drive
// of the file system, the nested free-space TRIM runs on an NTFS volume of a simulated disk.
#include "realtest/uRealTrimTest.h"

#include <gtest/gtest.h>

#include "core/uFileWrite.h"
#include "platform/sim/SimVolumeFormat.h"
#include "realtest/RealTestUtil.h"
#include "realtest/uTestContent.h"

using namespace plat;
using namespace plat::sim;

namespace {

constexpr int kDiskNo = 2;
constexpr int64_t kVolStart = 2048;
constexpr int64_t kVolSectors = 131072;  // 64 MiB
constexpr int64_t kMiB = 1048576;
constexpr const char* kFolder = "E:\\trim_real_test\\";

constexpr int64_t kKiB = 1024;
// 256 KiB files and 512 KiB "1 GiB" files on an 8 MiB drive: step 1 writes 11 files (a third
// of the free space, the last one past it), step 2 deletes file_9.bin, step 3 writes 10 files
// and leaves 512 KiB free.
const TRealTestFileSizes kSmall{256 * kKiB, 512 * kKiB};
constexpr int64_t kDriveBytes = 8 * kMiB;

struct RealTest : ::testing::Test, TRealTestFixture {
  TDiskInfo disk;
  TTrimExecOptions trimOptions{.TimeoutMs = 5000};
  std::shared_ptr<SimDisk> simDisk;

  RealTest() {
    m->Files().AddDrive('E', kDriveBytes);
    // The nested runs trim the free space of an NTFS volume F: on the test's disk.
    simDisk = m->Storage().AddDisk(kDiskNo, 1 << 18);
    m->Storage().AddVolume('F', {{kDiskNo, kVolStart * 512, kVolSectors * 512}});
    EXPECT_TRUE(FormatVolume(m->Storage(), 'F', SimFsKind::kNtfs, 512, 4096));
    disk.DiskNumber = kDiskNo;
    disk.DevicePath = "\\\\.\\PhysicalDrive2";
    disk.SizeBytes = (1ull << 18) * 512;
    disk.Transport = TTransportKind::tkUAS;
    TVolumeInfo v;
    v.DriveLetter = "F:";
    v.RootPath = "F:\\";
    v.HasDriveLetter = true;
    v.FileSystem = "NTFS";
    v.ClusterBytes = 4096;
    v.PartitionOffset = kVolStart * 512;
    v.PartitionLength = kVolSectors * 512;
    v.DiskNumber = kDiskNo;
    disk.Volumes.push_back(v);
  }

  TRealTrimTestThread* NewTest(int Start, int End, int WaitMin = 0, bool VerifyOnly = false,
                               const TRealTestFileSizes& Sizes = kSmall) {
    return new TRealTrimTestThread(&window, disk, "E:\\trim_real_test", TRealTestOptions{WaitMin, Start, End},
                                   trimOptions, VerifyOnly, Sizes);
  }
  TRealTestOutcome Run(int Start, int End, int WaitMin = 0) { return RunToEnd(NewTest(Start, End, WaitMin)); }
  TRealTestOutcome VerifyOnly() { return RunToEnd(NewTest(1, 4, 0, true)); }

  std::string File(int N) { return std::string(kFolder) + "file_" + std::to_string(N) + ".bin"; }
  std::string Gig(int N) { return std::string(kFolder) + "dumy\\gig_" + std::to_string(N) + ".bin"; }
  // A test file as a former test left it: the content its path and size give.
  void PlaceFile(const std::string& Path, size_t Size) {
    std::string bytes(Size, '\0');
    TContentStream(NameSeed(Path)).Next(reinterpret_cast<uint8_t*>(bytes.data()), Size);
    m->Files().WriteAll(Path, bytes);
  }
  bool FileIntact(const std::string& Path, int64_t Size) {
    if (!m->Files().Exists(Path)) return false;
    const std::string b = m->Files().ReadAll(Path);
    return static_cast<int64_t>(b.size()) == Size &&
           Fnv1aUpdate(kFnvOffsetBasis, reinterpret_cast<const uint8_t*>(b.data()), b.size()) ==
               ExpectedHash(Size, NameSeed(Path));
  }
  void Damage(const std::string& Path) {
    std::string b = m->Files().ReadAll(Path);
    b[b.size() / 2] ^= 1;
    m->Files().WriteAll(Path, b);
  }
};

TEST_F(RealTest, AllFiveStepsWriteDeleteTrimFillAndVerify) {
  const TRealTestOutcome r = Run(1, 5);
  ASSERT_TRUE(r.Ended);
  EXPECT_TRUE(r.Succeeded);
  EXPECT_FALSE(r.Cancelled);
  EXPECT_EQ(r.ResultText, "STEP5 complete: Verification passed");
  EXPECT_EQ(window.Of("status: "), (std::vector<std::string>{"Preparing", "STEP1 TRIM", "STEP1", "STEP2", "STEP3",
                                                             "STEP4 Verify", "STEP5 Verify", "Done"}));
  // Step 1: a third of the drive in whole files, the last one past the target.
  for (int i = 0; i <= 10; ++i) {
    if (i == 9) continue;
    EXPECT_TRUE(FileIntact(File(i), kSmall.FileBytes)) << i;
  }
  EXPECT_FALSE(m->Files().Exists(File(11)));
  EXPECT_FALSE(m->Files().Exists(File(9)));  // step 2
  // Step 3: 8 - 2.5 = 5.5 MiB free, 512 KiB stay free: ten files exactly.
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(FileIntact(Gig(i), kSmall.GigFileBytes)) << i;
  EXPECT_FALSE(m->Files().Exists(Gig(10)));
  EXPECT_TRUE(window.Logged("STEP3: Filling ~5,242,880 bytes with 1GB files (leaving 1GB free)"));
  EXPECT_TRUE(window.Logged("STEP4 complete: Verification passed | Verified 10 files: 10 passed, 0 failed"));
  EXPECT_TRUE(window.Logged("STEP5 complete: Verification passed | Verified 10 files: 10 passed, 0 failed"));
  EXPECT_TRUE(window.Logged("Total elapsed time: "));
  // Both nested runs trimmed F:'s free space.
  EXPECT_EQ(window.CountLogged("TRIM completed: batches="), 2u);
  EXPECT_FALSE(simDisk->drive.Ledger().empty());
  // Every real-test line reached the program log too.
  const auto fileLines = LogFileLines();
  EXPECT_TRUE(std::any_of(fileLines.begin(), fileLines.end(), [](const std::string& l) {
    return l.find("[INFO] STEP2 complete") != std::string::npos;
  }));
}

}  // namespace

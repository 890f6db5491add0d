// The scenario fixture of the real-test tests: the test files on an 8 MiB drive of the file
// system, the nested free-space TRIM runs on an NTFS volume F: of a simulated disk, and small
// test files in place of 500 MiB and 1 GiB.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/sim/files/SimVolumeFormat.h"
#include "realtest/RealTestUtil.h"
#include "realtest/uRealTrimTest.h"
#include "realtest/uTestContent.h"

namespace realtest_scenario {

using namespace plat;
using namespace plat::sim;

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

}  // namespace realtest_scenario

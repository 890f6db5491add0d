// The storage switchboard: device paths, raw sector access, handlers by control code, and a disk
// that leaves the bus under an open handle.
#include "platform/sim/SimStorage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/sim/SimMachine.h"

using namespace plat;
using plat::sim::ScopedSimMachine;

namespace {

class SimStorageTest : public ::testing::Test {
 protected:
  ScopedSimMachine m;
};

TEST_F(SimStorageTest, DevicePathsOpenDisksAndVolumesWithoutCase) {
  m->Storage().AddDisk(3, 2048);
  m->Storage().AddVolume('e', {{3, 1024 * 512, 512 * 512}});
  for (const char* p : {"\\\\.\\PhysicalDrive3", "\\\\.\\physicaldrive3", "\\\\.\\E:", "\\\\.\\e:"}) {
    HANDLE h = Win().CreateFileW(p, GENERIC_READ, 3, OPEN_EXISTING, 0);
    EXPECT_NE(h, VT_INVALID_HANDLE_VALUE) << p;
    EXPECT_TRUE(Win().CloseHandle(h));
  }
  for (const char* p : {"\\\\.\\PhysicalDrive4", "\\\\.\\PhysicalDrive", "\\\\.\\PhysicalDrive3x", "\\\\.\\F:"}) {
    EXPECT_EQ(Win().CreateFileW(p, GENERIC_READ, 3, OPEN_EXISTING, 0), VT_INVALID_HANDLE_VALUE) << p;
    EXPECT_EQ(Win().GetLastError(), ERROR_FILE_NOT_FOUND) << p;
  }
}

TEST_F(SimStorageTest, VolumeOffsetsAreRelativeToItsExtentAndReleasedSectorsReadAsZeros) {
  auto disk = m->Storage().AddDisk(1, 4096);
  m->Storage().AddVolume('G', {{1, 2048 * 512, 1024 * 512}});
  std::vector<uint8_t> sector(512, 0xAB);
  ASSERT_TRUE(disk->drive.Write(2048 + 5, 1, sector.data()));

  HANDLE v = Win().CreateFileW("\\\\.\\G:", GENERIC_READ, 3, OPEN_EXISTING, 0);
  std::vector<uint8_t> got(512);
  DWORD n = 0;
  ASSERT_TRUE(Win().ReadFileAt(v, got.data(), 512, &n, 5 * 512));
  EXPECT_EQ(got, sector);
  // Past the volume's end, and not whole sectors.
  EXPECT_FALSE(Win().ReadFileAt(v, got.data(), 512, &n, 1024 * 512));
  EXPECT_FALSE(Win().ReadFileAt(v, got.data(), 100, &n, 0));

  ASSERT_TRUE(disk->drive.Trim(2048, 8, "TEST"));
  ASSERT_TRUE(Win().ReadFileAt(v, got.data(), 512, &n, 5 * 512));
  EXPECT_EQ(got, std::vector<uint8_t>(512, 0));
  EXPECT_FALSE(disk->drive.HoldsData(2048 + 5));
  Win().CloseHandle(v);
}

// Unbuffered device I/O is counted in the disk's logical blocks: behind a bridge that presents
// 4096-byte blocks, a 512-byte read at byte 512 is refused as Windows refuses it.
TEST_F(SimStorageTest, DeviceReadsAndWritesAreWholeLogicalBlocksOfTheDisk) {
  auto disk = m->Storage().AddDisk(1, 1 << 16);
  m->Storage().AddVolume('G', {{1, 1 << 20, 16 << 20}});
  m->Bridge().SetLogicalBlockSize(1, 4096);
  std::vector<uint8_t> buf(8192, 0x5C);
  DWORD n = 0;
  for (const char* path : {"\\\\.\\PhysicalDrive1", "\\\\.\\G:"}) {
    SCOPED_TRACE(path);
    HANDLE h = Win().CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    EXPECT_FALSE(Win().ReadFileAt(h, buf.data(), 512, &n, 512));
    EXPECT_EQ(Win().GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(Win().ReadFileAt(h, buf.data(), 512, &n, 0));
    EXPECT_FALSE(Win().WriteFileAt(h, buf.data(), 4096, &n, 512));
    EXPECT_EQ(Win().GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(Win().ReadFileAt(h, buf.data(), 4608, &n, 4096));
    EXPECT_TRUE(Win().WriteFileAt(h, buf.data(), 8192, &n, 4096));
    EXPECT_TRUE(Win().ReadFileAt(h, buf.data(), 4096, &n, 8192));
    EXPECT_EQ(n, 4096u);
    Win().CloseHandle(h);
  }
  EXPECT_TRUE(disk->drive.HoldsData(8));
  EXPECT_TRUE(disk->drive.HoldsData(2048 + 8));
}

TEST_F(SimStorageTest, LedgerMergesOverlappingReleases) {
  sim::SimDrive d(1000);
  EXPECT_TRUE(d.Trim(10, 10, "A"));
  EXPECT_TRUE(d.Trim(15, 10, "B"));
  EXPECT_TRUE(d.Trim(40, 1, "A"));
  EXPECT_FALSE(d.Trim(995, 6, "A"));  // leaves the drive: refused, not recorded
  EXPECT_EQ(d.Ledger().size(), 3u);
  using R = std::vector<std::pair<uint64_t, uint64_t>>;
  EXPECT_EQ(d.TrimmedRanges(), (R{{10, 15}, {40, 1}}));
}

TEST_F(SimStorageTest, ControlCodesReachTheirHandlerWithTheCallersBuffers) {
  m->Storage().AddDisk(0, 100);
  uint8_t in[4] = {1, 2, 3, 4};
  uint8_t out[8] = {};
  m->Storage().RegisterIoctl(0x1234, [&](sim::SimDeviceCall& c) {
    EXPECT_EQ(c.in, in);
    EXPECT_EQ(c.inSize, 4u);
    EXPECT_EQ(c.disk->number, 0);
    std::memcpy(c.out, "answer!", 8);
    c.SetReturned(8);
    return TRUE_;
  });
  HANDLE h = Win().CreateFileW("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  DWORD n = 0;
  EXPECT_TRUE(Win().DeviceIoControl(h, 0x1234, in, 4, out, 8, &n));
  EXPECT_EQ(n, 8u);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "answer!");
  EXPECT_FALSE(Win().DeviceIoControl(h, 0x9999, nullptr, 0, nullptr, 0, &n));
  EXPECT_EQ(Win().GetLastError(), ERROR_INVALID_FUNCTION);
  Win().CloseHandle(h);
}

TEST_F(SimStorageTest, ADiskThatLeavesTheBusFailsItsOpenHandlesAndComesBackUnderANewNumber) {
  auto disk = m->Storage().AddDisk(2, 100);
  m->Storage().RegisterIoctl(0x1234, [](sim::SimDeviceCall&) { return TRUE_; });
  HANDLE h = Win().CreateFileW("\\\\.\\PhysicalDrive2", GENERIC_READ, 3, OPEN_EXISTING, 0);
  m->Storage().DetachDisk(2);
  DWORD n = 0;
  EXPECT_FALSE(Win().DeviceIoControl(h, 0x1234, nullptr, 0, nullptr, 0, &n));
  EXPECT_EQ(Win().GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(Win().CreateFileW("\\\\.\\PhysicalDrive2", GENERIC_READ, 3, OPEN_EXISTING, 0),
            VT_INVALID_HANDLE_VALUE);
  Win().CloseHandle(h);

  m->Storage().AttachDisk(disk, 5);
  h = Win().CreateFileW("\\\\.\\PhysicalDrive5", GENERIC_READ, 3, OPEN_EXISTING, 0);
  EXPECT_TRUE(Win().DeviceIoControl(h, 0x1234, nullptr, 0, nullptr, 0, &n));
  Win().CloseHandle(h);
}

}  // namespace

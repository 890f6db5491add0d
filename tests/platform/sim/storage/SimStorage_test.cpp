// The storage switchboard: device paths, raw sector access, handlers by control code and the
// faults aimed at them, and a disk that leaves the bus under an open handle.
#include "platform/sim/storage/SimStorage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/WinFsControl.h"
#include "platform/WinStorage.h"
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

constexpr DWORD kCode = 0x1234;  // a control code with a handler of the test's own

// A fault on a control code is aimed at a disk (its handles and its volumes') or at one volume,
// which it does not outlive; it counts the calls it is aimed at from when it was set, and its
// outcome runs before the handler: an error after a delay, a delay, a device's refusal.
TEST_F(SimStorageTest, FaultsOnAControlCodeMeetTheCallsTheyAreAimedAt) {
  m->Storage().AddDisk(1, 1 << 20);
  m->Storage().AddVolume('E', {{1, 2048 * 512, 4096 * 512}});
  m->Storage().AddVolume('F', {{1, 8192 * 512, 4096 * 512}});
  int answered = 0;
  m->Storage().RegisterIoctl(kCode, [&](sim::SimDeviceCall&) {
    ++answered;
    return TRUE_;
  });
  auto call = [&](const char* path, DWORD code = kCode) -> DWORD {
    HANDLE h = Win().CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    DWORD n = 0;
    const BOOL ok = Win().DeviceIoControl(h, code, nullptr, 0, nullptr, 0, &n);
    const DWORD e = ok ? 0 : Win().GetLastError();
    Win().CloseHandle(h);
    return e;
  };
  EXPECT_EQ(call("\\\\.\\E:"), 0u);  // before the faults: not counted

  m->Storage().AddFault(1, kCode, sim::SimOutcome::Error(ERROR_CRC), {.nth = 2});
  m->Storage().AddFault(9, 0, sim::SimOutcome::Error(ERROR_CRC));  // no such disk: ignored
  EXPECT_EQ(call("\\\\.\\PhysicalDrive1"), 0u);
  EXPECT_EQ(call("\\\\.\\F:"), static_cast<DWORD>(ERROR_CRC));  // the second, on a volume of the disk
  EXPECT_EQ(call("\\\\.\\PhysicalDrive1"), 0u);
  EXPECT_EQ(answered, 3);

  m->Storage().AddVolumeFault('e', kCode, sim::SimOutcome::Error(ERROR_NOT_READY, 500));
  m->Storage().AddVolumeFault('F', 0, sim::SimOutcome::Delay(3000));
  m->Storage().AddVolumeFault('E', 0x5678, sim::SimOutcome::Status(0x02, sim::SimFixedSense(4, 0x44, 0)));
  const ULONGLONG t0 = Win().GetTickCount64();
  EXPECT_EQ(call("\\\\.\\E:"), static_cast<DWORD>(ERROR_NOT_READY));
  EXPECT_EQ(Win().GetTickCount64() - t0, 500u);
  EXPECT_EQ(call("\\\\.\\F:"), 0u);
  EXPECT_EQ(Win().GetTickCount64() - t0, 3500u);
  EXPECT_EQ(call("\\\\.\\E:", 0x5678), static_cast<DWORD>(ERROR_IO_DEVICE));  // no SCSI status to carry
  EXPECT_EQ(answered, 4);

  m->Storage().AddVolume('F', {{1, 8192 * 512, 4096 * 512}});  // a new volume under the letter
  EXPECT_EQ(call("\\\\.\\F:"), 0u);
  EXPECT_EQ(Win().GetTickCount64() - t0, 3500u);
  m->Storage().ClearFaults();
  EXPECT_EQ(call("\\\\.\\E:"), 0u);
  EXPECT_EQ(answered, 6);
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

// A disk that leaves takes its volumes along: their paths no longer open, and the handles open on
// them fail the storage TRIM request, the lock and the dismount; a handle from before the
// departure stays dead when the disk comes back, and the volumes come back with it.
TEST_F(SimStorageTest, ADepartingDiskTakesItsVolumesAlong) {
  auto disk = m->Storage().AddDisk(2, 1 << 20);
  m->Storage().AddVolume('E', {{2, 2048 * 512, 4096 * 512}})->fileSystemName = "NTFS";
  m->Storage().AddDisk(3, 1 << 20);
  m->Storage().AddVolume('F', {{3, 2048 * 512, 4096 * 512}})->fileSystemName = "NTFS";
  HANDLE e = Win().CreateFileW("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  ASSERT_NE(e, VT_INVALID_HANDLE_VALUE);

  m->Storage().DetachDisk(2);
  EXPECT_EQ(Win().CreateFileW("\\\\.\\E:", GENERIC_READ, 3, OPEN_EXISTING, 0), VT_INVALID_HANDLE_VALUE);
  EXPECT_EQ(Win().GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(Win().GetVolumeInformationW("E:\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
  DWORD n = 0;
  for (DWORD code :
       {DWORD{IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES}, fsc::FSCTL_LOCK_VOLUME, fsc::FSCTL_DISMOUNT_VOLUME}) {
    EXPECT_FALSE(Win().DeviceIoControl(e, code, nullptr, 0, nullptr, 0, &n)) << code;
    EXPECT_EQ(Win().GetLastError(), ERROR_DEVICE_NOT_CONNECTED) << code;
  }
  HANDLE f = Win().CreateFileW("\\\\.\\F:", GENERIC_READ, 3, OPEN_EXISTING, 0);
  EXPECT_NE(f, VT_INVALID_HANDLE_VALUE);  // another disk's volume stays
  Win().CloseHandle(f);

  // Back under another number: the volume is there again, on that number; the old handle is not.
  m->Storage().AttachDisk(disk, 5);
  ASSERT_TRUE(m->Storage().Volume('E'));
  EXPECT_EQ(m->Storage().Volume('E')->extents.front().diskNumber, 5);
  EXPECT_FALSE(Win().DeviceIoControl(e, fsc::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &n));
  EXPECT_EQ(Win().GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  Win().CloseHandle(e);
  e = Win().CreateFileW("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  EXPECT_TRUE(Win().DeviceIoControl(e, fsc::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &n));
  Win().CloseHandle(e);
}

// A newcomer takes the freed number and brings its own volumes; nothing sent on a handle of the
// disk that left reaches it. The departure can be set to happen at the nth call of a control
// code, or by the bridge's LeaveBus fault.
TEST_F(SimStorageTest, ANewcomerUnderTheSameNumberIsNotReachedByOldHandles) {
  auto old = m->Storage().AddDisk(1, 1 << 20);
  auto newcomer = m->Storage().AddDisk(7, 1 << 20);
  m->Storage().AddVolume('G', {{7, 2048 * 512, 4096 * 512}});
  m->Storage().DetachDisk(7);  // off the bus, with its volume, until it arrives

  const DWORD geometry = IOCTL_DISK_GET_DRIVE_GEOMETRY_EX;
  m->Storage().AddFault(1, geometry, sim::SimOutcome::LeaveBus(newcomer), {.nth = 2});
  HANDLE h = Win().CreateFileW("\\\\.\\PhysicalDrive1", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  uint8_t out[64] = {};
  DWORD n = 0;
  EXPECT_TRUE(Win().DeviceIoControl(h, geometry, nullptr, 0, out, sizeof out, &n));
  EXPECT_FALSE(Win().DeviceIoControl(h, geometry, nullptr, 0, out, sizeof out, &n));  // the 2nd: it leaves
  EXPECT_EQ(Win().GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(m->Storage().Disk(1), newcomer);
  ASSERT_TRUE(m->Storage().Volume('G'));
  EXPECT_EQ(m->Storage().Volume('G')->extents.front().diskNumber, 1);

  EXPECT_FALSE(Win().DeviceIoControl(h, IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES, nullptr, 0, nullptr, 0, &n));
  EXPECT_EQ(Win().GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  HANDLE fresh = Win().CreateFileW("\\\\.\\PhysicalDrive1", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  EXPECT_TRUE(Win().DeviceIoControl(fresh, geometry, nullptr, 0, out, sizeof out, &n));  // the newcomer answers

  const auto records = m->Storage().IoctlRecords();
  ASSERT_EQ(records.size(), 4u);
  for (size_t i = 0; i < 3; i++) EXPECT_EQ(records[i].disk, old) << i;
  EXPECT_EQ(records[1].offBus, false);  // it reached the disk, which left on it
  EXPECT_EQ(records[2].offBus, true);
  EXPECT_EQ(records[3].disk, newcomer);
  Win().CloseHandle(h);
  Win().CloseHandle(fresh);

  // The bridge's fault: the disk leaves on the storage TRIM request, another one arrives.
  auto third = m->Storage().AddDisk(8, 1 << 20);
  m->Storage().DetachDisk(8);
  sim::SimFault leave;
  leave.command = sim::SimCommand::StorageTrim;
  leave.kind = sim::SimFaultKind::LeaveBus;
  leave.newcomer = third;
  m->Bridge().AddFault(1, leave);
  fresh = Win().CreateFileW("\\\\.\\PhysicalDrive1", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  EXPECT_FALSE(Win().DeviceIoControl(fresh, IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES, nullptr, 0, nullptr, 0, &n));
  EXPECT_EQ(Win().GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(m->Storage().Disk(1), third);
  EXPECT_FALSE(m->Storage().Volume('G'));  // it left with the disk it belongs to
  Win().CloseHandle(fresh);
  EXPECT_TRUE(newcomer->drive.Ledger().empty());
  EXPECT_TRUE(third->drive.Ledger().empty());
}

// A call held up by a fault's delay while its disk leaves the bus fails as every call then does,
// and is not answered on the disk that has gone; a departure whose delay ends after the disk has
// already gone takes nobody else off the bus.
TEST_F(SimStorageTest, ADelayedCallWhoseDiskLeavesMeanwhileFailsAndTouchesNoOtherDisk) {
  auto old = m->Storage().AddDisk(1, 1 << 20);
  auto newcomer = m->Storage().AddDisk(7, 1 << 20);
  m->Storage().DetachDisk(7);
  int answered = 0;
  m->Storage().RegisterIoctl(kCode, [&](sim::SimDeviceCall&) {
    ++answered;
    return TRUE_;
  });
  struct Call {
    DWORD code = 0;
    DWORD error = 0;
    static DWORD Run(void* p) {
      auto* c = static_cast<Call*>(p);
      HANDLE h = Win().CreateFileW("\\\\.\\PhysicalDrive1", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
      DWORD n = 0;
      c->error = Win().DeviceIoControl(h, c->code, nullptr, 0, nullptr, 0, &n) ? 0 : Win().GetLastError();
      Win().CloseHandle(h);
      return 0;
    }
  };
  // Departs 1 s into the other thread's call, with another disk taking the number.
  auto departDuring = [&](Call& c, std::shared_ptr<sim::SimDisk> taker) {
    HANDLE t = Win().CreateThread(0, &Call::Run, &c, 0, nullptr);
    Win().Sleep(1000);
    m->Storage().LeaveBus(1, std::move(taker));
    EXPECT_EQ(Win().WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
    Win().CloseHandle(t);
  };

  m->Storage().AddFault(1, kCode, sim::SimOutcome::Delay(5000));
  Call slow{kCode};
  departDuring(slow, newcomer);
  EXPECT_EQ(slow.error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_EQ(answered, 0);

  auto third = m->Storage().AddDisk(8, 1 << 20);
  m->Storage().DetachDisk(8);
  sim::SimOutcome late = sim::SimOutcome::LeaveBus();
  late.delayMs = 5000;
  m->Storage().AddFault(1, kCode, late);  // aimed at the newcomer, now disk 1
  Call leaving{kCode};
  departDuring(leaving, third);
  EXPECT_EQ(leaving.error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_TRUE(m->Storage().Disk(1) == third);
  EXPECT_FALSE(old->present);
  EXPECT_EQ(answered, 0);
}

}  // namespace

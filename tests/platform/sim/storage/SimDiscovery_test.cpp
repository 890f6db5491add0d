#include "platform/sim/storage/SimDiscovery.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/WinStorage.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;

namespace {

constexpr uint64_t kGiB = 1073741824ull;

// Another module's property ids still reach it, whichever module registered first.
TEST(SimDiscovery, PropertyQueriesOfOtherIdsGoOnToTheEarlierHandler) {
  ScopedSimMachine m;
  m->Discovery().AddDisk(1, 8 * kGiB, presets::BotEnclosure());
  m->Storage().RegisterIoctl(IOCTL_STORAGE_QUERY_PROPERTY, [](SimDeviceCall& C) {
    static_cast<uint8_t*>(C.out)[8] = 0x5A;
    return TRUE_;
  });
  SimDiscovery Later(m->Kernel(), m->Storage(), m->Files());
  HANDLE H = Win().CreateFileW("\\\\.\\PhysicalDrive1", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  ASSERT_NE(H, InvalidHandleValue());
  uint8_t Query[spq::kSize] = {8};  // StorageDeviceTrimProperty: not discovery's
  uint8_t Out[64] = {};
  DWORD N = 0;
  EXPECT_TRUE(Win().DeviceIoControl(H, IOCTL_STORAGE_QUERY_PROPERTY, Query, spq::kSize, Out, 12, &N));
  EXPECT_EQ(Out[8], 0x5A);
  Query[0] = spq::StorageDeviceProperty;
  EXPECT_TRUE(Win().DeviceIoControl(H, IOCTL_STORAGE_QUERY_PROPERTY, Query, spq::kSize, Out, sizeof Out, &N));
  EXPECT_EQ(Out[sdd::kBusType], BusTypeUsb);
  Win().CloseHandle(H);
}

TEST(SimDiscovery, SetupApiChecksTheCallersRecordsAndItsPathsOpenTheDisk) {
  ScopedSimMachine m;
  m->Discovery().AddDisk(3, 8 * kGiB, presets::UasEnclosure());
  HDEVINFO Set = Win().SetupDiGetClassDevsW(&kGuidDevInterfaceDisk, nullptr, nullptr, 0x12);
  std::vector<uint8_t> Iface(spdi::kInterfaceDataSize, 0);
  EXPECT_FALSE(Win().SetupDiEnumDeviceInterfaces(Set, nullptr, &kGuidDevInterfaceDisk, 0, Iface.data()));
  EXPECT_EQ(Win().GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  Iface[0] = spdi::kInterfaceDataSize;
  ASSERT_TRUE(Win().SetupDiEnumDeviceInterfaces(Set, nullptr, &kGuidDevInterfaceDisk, 0, Iface.data()));
  EXPECT_FALSE(Win().SetupDiEnumDeviceInterfaces(Set, nullptr, &kGuidDevInterfaceDisk, 1, Iface.data()));
  EXPECT_EQ(Win().GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));

  std::vector<char16_t> Detail(64, 0);
  Detail[0] = spdi::kDetailCbSize;
  DWORD Required = 0;
  EXPECT_FALSE(Win().SetupDiGetDeviceInterfaceDetailW(Set, Iface.data(), Detail.data(), 128, &Required, nullptr));
  EXPECT_EQ(Win().GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  Detail.assign(Required / 2, 0);
  Detail[0] = spdi::kDetailCbSize;
  ASSERT_TRUE(
      Win().SetupDiGetDeviceInterfaceDetailW(Set, Iface.data(), Detail.data(), Required, &Required, nullptr));
  const std::u16string Path(Detail.data() + 2);
  EXPECT_EQ(Path.substr(0, 9), u"\\\\?\\scsi#");
  std::string Narrow(Path.begin(), Path.end());
  HANDLE H = Win().CreateFileW(Narrow, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  ASSERT_NE(H, InvalidHandleValue());
  uint8_t Number[sdn::kSize] = {};
  EXPECT_TRUE(Win().DeviceIoControl(H, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, Number, sdn::kSize, nullptr));
  EXPECT_EQ(Number[sdn::kDeviceNumber], 3);
  Win().CloseHandle(H);
  EXPECT_TRUE(Win().SetupDiDestroyDeviceInfoList(Set));
  EXPECT_FALSE(Win().SetupDiDestroyDeviceInfoList(Set));
}

TEST(SimDiscovery, LettersFreeSpaceAndTheAnsiCodePage) {
  ScopedSimMachine m;
  m->Discovery().AddDisk(1, 8 * kGiB, presets::BotEnclosure());
  m->Discovery().AddVolume('E', 1, 1048576, 4 * kGiB, "exFAT", 131072);
  m->Files().AddDrive('E', 1 * kGiB);  // the volume answers before the file drive of the same letter
  EXPECT_EQ(Win().GetLogicalDrives(), (1u << 2) | (1u << 4));
  ULONGLONG Free = 0, Total = 0;
  EXPECT_TRUE(Win().GetDiskFreeSpaceExW("E:\\trim_real_test\\", &Free, &Total, nullptr));
  EXPECT_EQ(Total, 4 * kGiB);
  DWORD Spc = 0, Bps = 0, FreeC = 0, TotalC = 0;
  EXPECT_TRUE(Win().GetDiskFreeSpaceW("E:\\", &Spc, &Bps, &FreeC, &TotalC));
  EXPECT_EQ(Spc * Bps, 131072u);
  EXPECT_EQ(TotalC, 32768u);

  char16_t W[8] = {};
  EXPECT_EQ(Win().MultiByteToWideChar(CP_ACP, 0, "\x80\xE9\x41", 3, W, 8), 3);
  EXPECT_EQ(std::u16string(W, 3), u"\u20AC\u00E9A");
  EXPECT_EQ(Win().MultiByteToWideChar(CP_ACP, 0, "abc", 3, W, 2), 0);
  EXPECT_EQ(Win().GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace

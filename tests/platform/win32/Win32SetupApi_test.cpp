// The Setup API through the real layer: the caller's records reach Windows as they are. Only
// the list is walked; no device is opened.
#include "platform/WinStorage.h"
#include "platform/win32/Win32Platform.h"

#include <gtest/gtest.h>

#include <vector>

using namespace plat;

namespace {

TEST(Win32SetupApi, DiskInterfaceListWalksToItsEndAndIsDestroyed) {
  win32::Win32Platform Platform;
  ScopedPlatform Scoped(&Platform);
  HDEVINFO Set =
      Win().SetupDiGetClassDevsW(&kGuidDevInterfaceDisk, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(Set, InvalidHandleValue()) << Win().GetLastError();

  std::vector<uint8_t> Bad(spdi::kInterfaceDataSize, 0);  // cbSize 0: refused
  EXPECT_FALSE(Win().SetupDiEnumDeviceInterfaces(Set, nullptr, &kGuidDevInterfaceDisk, 0, Bad.data()));

  DWORD Index = 0;
  for (; Index < 64; ++Index) {
    std::vector<uint8_t> Iface(spdi::kInterfaceDataSize, 0);
    Iface[0] = static_cast<uint8_t>(spdi::kInterfaceDataSize);
    if (!Win().SetupDiEnumDeviceInterfaces(Set, nullptr, &kGuidDevInterfaceDisk, Index, Iface.data())) break;
  }
  EXPECT_LT(Index, 64u);
  EXPECT_EQ(Win().GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_TRUE(Win().SetupDiDestroyDeviceInfoList(Set));
}

}  // namespace

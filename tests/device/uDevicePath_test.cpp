#include "device/uDevicePath.h"

#include <gtest/gtest.h>

TEST(DevicePath, VolumeAndDiskNames) {
  struct TCase {
    std::string Letter;
    std::string Path;
  };
  const TCase Cases[] = {
      {"E:", "\\\\.\\E:"}, {"e:\\", "\\\\.\\e:"}, {"E:\\dir", "\\\\.\\E:"}, {"E", ""}, {"1:", ""}, {"", ""},
  };
  for (const TCase& C : Cases) EXPECT_EQ(VolumeDevicePath(C.Letter), C.Path) << C.Letter;
  EXPECT_EQ(VolumeDevicePath('F'), "\\\\.\\F:");
  EXPECT_EQ(VolumeDevicePath('?'), "");
  EXPECT_EQ(PhysicalDrivePath(0), "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(PhysicalDrivePath(12), "\\\\.\\PhysicalDrive12");
}

#include "ui/uDiskThreads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/uMainThread.h"
#include "device/LogCapture.h"
#include "device/uDiskEnum.h"
#include "platform/sim/SimMachine.h"

namespace {

// A window whose handlers raise, as a window may while it applies a result: the thread still
// ends, and says what it caught.
class TRaisingWindow : public IDiskListWindow {
 public:
  void DiskRefreshDone(const TDiskInfoArray&) override {
    Calls++;
    throw std::runtime_error("the list is gone");
  }
  void ApplyDiskDetail(int32_t Index, int32_t Seq, const TDiskInfo& Disk) override {
    Calls++;
    EXPECT_EQ(Index, 3);
    EXPECT_EQ(Seq, 7);
    EXPECT_EQ(Disk.DiskNumber, 1);
    throw std::runtime_error("the item is gone");
  }
  int Calls = 0;
};

struct DiskThreadsTest : ::testing::Test {
  plat::sim::ScopedSimMachine M;
  devtest::LogCapture Cap;
  TDiskEnumerator Enum{&Cap.Log};
  TRaisingWindow Window;

  bool Logged(const std::string& Line) const {
    return std::find(Cap.Lines.begin(), Cap.Lines.end(), Line) != Cap.Lines.end();
  }
};

TEST_F(DiskThreadsTest, WhatAThreadCatchesFromTheWindowIsLogged) {
  TDiskRefreshThread Scan(&Window, &Enum, &Cap.Log);
  Scan.Start();
  Scan.WaitFor();  // serves the synchronized call and the log's hand-over
  EXPECT_EQ(Window.Calls, 1);
  EXPECT_TRUE(Logged("[ERROR] Disk list could not be shown: the list is gone"));

  TDiskInfo Disk;
  Disk.DiskNumber = 1;
  Disk.DevicePath = "\\\\.\\PhysicalDrive1";
  auto* Detail = new TDiskDetailThread(&Window, &Enum, &Cap.Log, 3, 7, Disk);  // frees itself
  const TThreadLink Link = Detail->Link();
  Detail->Start();
  Link.WaitFor();
  EXPECT_EQ(Window.Calls, 2);
  EXPECT_TRUE(Logged("[ERROR] Disk details of PD1 could not be shown: the item is gone"));
}

}  // namespace

// The device tests' fixture: a simulated machine with one disk behind a bridge, a log that
// keeps its lines, and an engine writing to it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "device/LogCapture.h"
#include "device/uAtaPassThrough.h"
#include "platform/sim/SimMachine.h"

namespace devtest {

struct SimDiskTest : ::testing::Test {
  static constexpr int kDiskNumber = 1;
  static constexpr uint64_t kSectors = 1ull << 21;  // 1 GiB
  const std::string kDisk = "\\\\.\\PhysicalDrive1";

  plat::sim::ScopedSimMachine M;
  LogCapture Cap;
  TAtaPassThroughEngine Engine{&Cap.Log};

  size_t HandlesBefore = 0;                  // the dispatcher's own
  std::shared_ptr<plat::sim::SimDisk> Disk;  // kept, so a disk that left the bus can be asked

  SimDiskTest() {
    Disk = M->Storage().AddDisk(kDiskNumber, kSectors);
    HandlesBefore = M->Kernel().OpenHandleCount();
  }
  ~SimDiskTest() override {
    EXPECT_EQ(M->Kernel().OpenHandleCount(), HandlesBefore) << "a device handle was left open";
  }

  plat::sim::SimBridge& Bridge() { return M->Bridge(); }
  plat::sim::SimDrive& Drive() { return Disk->drive; }
  std::vector<plat::sim::SimRequestRecord> Requests() { return Bridge().Requests(); }
  void Fault(plat::sim::SimFault F) { Bridge().AddFault(kDiskNumber, std::move(F)); }
  void Profile(plat::sim::SimBridgeProfile P) { Bridge().SetProfile(kDiskNumber, std::move(P)); }
};

// The DSM sender's arguments and out-values, with one payload and block built by the test.
struct DsmSenderTest : SimDiskTest {
  TByteArray Payload, Cdb = TByteArray(16);
  uint32_t WinErr = 99;
  uint8_t Key = 9, Asc = 9, Ascq = 9, Status = 9;

  bool SendWith(TAtaPassThroughEngine& Eng, uint32_t TimeoutMs) {
    return Eng.SendAtaPassThroughDsm(kDisk, Cdb, Payload, TimeoutMs, WinErr, Key, Asc, Ascq, Status);
  }
  bool Send(uint32_t TimeoutMs = 5000) { return SendWith(Engine, TimeoutMs); }
};

}  // namespace devtest

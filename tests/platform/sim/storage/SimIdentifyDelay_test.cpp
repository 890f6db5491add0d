// The drive's IDENTIFY answer time: probes of several disks on the virtual clock finish in the
// order of their drives' times, not of their starts; the probe's 5-second limit holds; a disk that
// leaves the bus while it answers fails the probe.
#include <gtest/gtest.h>

#include <string>

#include "device/uAtaPassThrough.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;

namespace {

struct Probe {
  int disk = 0;
  TAtaProbeResult result;
  bool ok = false;
  ULONGLONG doneAt = 0;
};

DWORD RunProbe(void* p) {
  auto* probe = static_cast<Probe*>(p);
  TAtaPassThroughEngine engine(nullptr);
  probe->ok = engine.ProbeIdentify("\\\\.\\PhysicalDrive" + std::to_string(probe->disk), 5000, probe->result);
  probe->doneAt = Win().GetTickCount64();
  return 0;
}

TEST(SimIdentifyDelay, ProbesFinishByTheirDrivesAnswerTimes) {
  ScopedSimMachine m;
  const struct {
    int disk;
    uint32_t delayMs;
    bool ok;
    uint32_t winErr;
    ULONGLONG doneAfter;
  } cases[] = {
      {1, 3000, true, 0, 3000},                   // started first, answers last of the two
      {2, 100, true, 0, 100},                     // overtakes it
      {3, 6000, false, ERROR_SEM_TIMEOUT, 5000},  // past the probe's five seconds
      {4, 0, true, 0, 0},
      {5, 2000, false, ERROR_DEVICE_NOT_CONNECTED, 2000},  // unplugged at 1000 ms
  };
  Probe probes[5];
  HANDLE threads[5];
  for (int i = 0; i < 5; ++i) {
    m->Storage().AddDisk(cases[i].disk, 1 << 20);
    m->Bridge().SetIdentifyDelay(cases[i].disk, cases[i].delayMs);
  }
  const ULONGLONG t0 = Win().GetTickCount64();
  for (int i = 0; i < 5; ++i) {
    probes[i].disk = cases[i].disk;
    threads[i] = Win().CreateThread(0, RunProbe, &probes[i], 0, nullptr);
  }
  Win().Sleep(1000);
  m->Storage().DetachDisk(5);
  ASSERT_EQ(Win().WaitForMultipleObjects(5, threads, TRUE_, INFINITE), WAIT_OBJECT_0);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(cases[i].disk);
    EXPECT_EQ(probes[i].ok, cases[i].ok);
    EXPECT_EQ(probes[i].result.IdentifyOk, cases[i].ok);
    EXPECT_EQ(probes[i].result.WinErr, cases[i].winErr);
    EXPECT_EQ(probes[i].doneAt - t0, cases[i].doneAfter);
    Win().CloseHandle(threads[i]);
  }
  EXPECT_EQ(probes[0].result.Model, "SIM SSD 1TB");
}

}  // namespace

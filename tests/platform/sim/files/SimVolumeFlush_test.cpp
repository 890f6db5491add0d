// FlushFileBuffers on volume and disk handles: write access needed, counted, and failed on demand.
#include "platform/sim/files/SimVolumeFlush.h"

#include <gtest/gtest.h>

#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;

namespace {

DWORD Flush(const char* path, DWORD access) {
  HANDLE h = Win().CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  if (!IsValidHandle(h)) return Win().GetLastError();
  const BOOL ok = Win().FlushFileBuffers(h);
  const DWORD e = ok ? 0 : Win().GetLastError();
  Win().CloseHandle(h);
  return e;
}

TEST(SimVolumeFlush, AVolumeHandleOpenedForWritingFlushesUnlessAFaultSaysOtherwise) {
  ScopedSimMachine m;
  m->Storage().AddDisk(1, 65536);
  m->Storage().AddVolume('E', {{1, 1 << 20, 1 << 24}});
  m->Storage().AddVolume('F', {{1, 1 << 25, 1 << 24}});
  constexpr DWORD kRw = GENERIC_READ | GENERIC_WRITE;
  EXPECT_EQ(Flush("\\\\.\\E:", kRw), 0u);
  EXPECT_EQ(Flush("\\\\.\\E:", GENERIC_READ), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Flush("\\\\.\\E:", 0), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Flush("\\\\.\\PhysicalDrive1", kRw), 0u);
  EXPECT_EQ(m->VolumeFlush().Flushes('e'), 1);
  EXPECT_EQ(m->VolumeFlush().Flushes(0), 1);

  m->VolumeFlush().AddFault('E', SimOutcome::Error(ERROR_WRITE_FAULT), {.nth = 2});  // the second flush from here
  EXPECT_EQ(Flush("\\\\.\\E:", kRw), 0u);
  EXPECT_EQ(Flush("\\\\.\\E:", kRw), static_cast<DWORD>(ERROR_WRITE_FAULT));
  EXPECT_EQ(Flush("\\\\.\\E:", kRw), 0u);
  m->VolumeFlush().AddFault('F', SimOutcome::Error(ERROR_NOT_READY));
  EXPECT_EQ(Flush("\\\\.\\F:", kRw), static_cast<DWORD>(ERROR_NOT_READY));
  EXPECT_EQ(Flush("\\\\.\\F:", kRw), static_cast<DWORD>(ERROR_NOT_READY));
  m->VolumeFlush().ClearFaults();
  EXPECT_EQ(Flush("\\\\.\\F:", kRw), 0u);
  EXPECT_EQ(m->VolumeFlush().Flushes('E'), 3);
  EXPECT_EQ(m->VolumeFlush().Flushes('F'), 1);

  // A handle whose disk left the bus.
  HANDLE h = Win().CreateFileW("\\\\.\\E:", kRw, 3, OPEN_EXISTING, 0);
  m->Storage().DetachDisk(1);
  EXPECT_FALSE(Win().FlushFileBuffers(h));
  EXPECT_EQ(Win().GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  Win().CloseHandle(h);
}

}  // namespace

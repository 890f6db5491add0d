// Device notifications: the registration's filter checks, and WM_DEVICECHANGE to every
// registered window through the desktop's message sink when disks and volumes come and go.
#include "platform/sim/storage/SimNotifications.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/uUtf.h"
#include "device/uAtaPassThrough.h"
#include "platform/WinDeviceNotify.h"
#include "platform/WinStorage.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;

namespace {

HWND Window(uintptr_t n) { return reinterpret_cast<HWND>(0x10000 + n); }

DEV_BROADCAST_DEVICEINTERFACE_W DiskFilter() {
  DEV_BROADCAST_DEVICEINTERFACE_W f{};
  f.dbcc_size = sizeof f;
  f.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  f.dbcc_classguid = kGuidDevInterfaceDisk;
  return f;
}

struct Seen {
  HWND window;
  UINT msg;
  WPARAM event;
  DWORD type;          // the record's device type
  std::string detail;  // interface path or drive letter
};

Seen Read(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  Seen s{w, msg, wp, 0, ""};
  const auto* hdr = reinterpret_cast<const DEV_BROADCAST_HDR*>(lp);
  s.type = hdr->dbch_devicetype;
  if (s.type == DBT_DEVTYP_DEVICEINTERFACE) {
    const auto* d = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lp);
    EXPECT_EQ(std::memcmp(&d->dbcc_classguid, &kGuidDevInterfaceDisk, sizeof(GUID)), 0);
    const size_t chars = (d->dbcc_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) / 2;
    std::u16string name(d->dbcc_name, chars);
    EXPECT_EQ(name.back(), u'\0');
    name.pop_back();
    s.detail = Utf16ToUtf8(name);
  } else if (s.type == DBT_DEVTYP_VOLUME) {
    const auto* v = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(lp);
    EXPECT_EQ(v->dbcv_size, sizeof(DEV_BROADCAST_VOLUME));
    for (int i = 0; i < 26; ++i)
      if (v->dbcv_unitmask & (1u << i)) s.detail += static_cast<char>('A' + i);
  }
  return s;
}

TEST(SimNotifications, RegistrationChecksTheFilterAsTheProgramSendsIt) {
  ScopedSimMachine m;
  auto with = [](auto change) {
    DEV_BROADCAST_DEVICEINTERFACE_W f = DiskFilter();
    change(f);
    return f;
  };
  using F = DEV_BROADCAST_DEVICEINTERFACE_W;
  const struct {
    const char* name;
    F filter;
    DWORD flags;
    DWORD error;
  } cases[] = {
      {"the program's filter", DiskFilter(), 0, 0},
      {"size 30", with([](F& f) { f.dbcc_size = 30; }), 0, ERROR_INVALID_DATA},
      {"volume type", with([](F& f) { f.dbcc_devicetype = DBT_DEVTYP_VOLUME; }), 0, ERROR_INVALID_DATA},
      {"reserved 1", with([](F& f) { f.dbcc_reserved = 1; }), 0, ERROR_INVALID_DATA},
      {"another class", with([](F& f) { f.dbcc_classguid.Data1 ^= 1; }), 0, ERROR_INVALID_DATA},
      {"a name", with([](F& f) { f.dbcc_name[0] = u'x'; }), 0, ERROR_INVALID_DATA},
      {"all classes", DiskFilter(), 4, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    F filter = c.filter;
    Win().SetLastError(0);
    void* h = Win().RegisterDeviceNotificationW(Window(1), &filter, c.flags);
    EXPECT_EQ(h != nullptr, c.error == 0) << c.name;
    EXPECT_EQ(Win().GetLastError(), c.error) << c.name;
    if (h) {
      EXPECT_TRUE(Win().UnregisterDeviceNotification(h));
    }
  }
  F filter = DiskFilter();
  EXPECT_EQ(Win().RegisterDeviceNotificationW(nullptr, &filter, 0), nullptr);
  EXPECT_EQ(Win().GetLastError(), 1400u);  // ERROR_INVALID_WINDOW_HANDLE

  m->Notifications().SetRegisterFault(ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(Win().RegisterDeviceNotificationW(Window(1), &filter, 0), nullptr);
  EXPECT_EQ(Win().GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  m->Notifications().SetRegisterFault(0);
  void* h = Win().RegisterDeviceNotificationW(Window(2), &filter, 0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(m->Notifications().Recipients(), std::vector<HWND>{Window(2)});
  EXPECT_TRUE(Win().UnregisterDeviceNotification(h));
  EXPECT_FALSE(Win().UnregisterDeviceNotification(h));
  EXPECT_EQ(Win().GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(m->Notifications().Recipients().empty());

  // Every call is kept with the filter's bytes, the refused ones too.
  const auto calls = m->Notifications().RegisterCalls();
  ASSERT_EQ(calls.size(), std::size(cases) + 3);
  EXPECT_EQ(calls[1].filter.size(), 30u);  // as far as its size field says
  EXPECT_EQ(calls[6].flags, 4u);
  EXPECT_EQ(calls.back().recipient, Window(2));
  ASSERT_EQ(calls.back().filter.size(), sizeof filter);
  EXPECT_EQ(std::memcmp(calls.back().filter.data(), &filter, sizeof filter), 0);
}

TEST(SimNotifications, EveryRegisteredWindowHearsDisksAndVolumesComeAndGo) {
  ScopedSimMachine m;
  std::vector<Seen> seen;
  m->Desktop().SetWindowMessageSink(
      [&](HWND w, UINT msg, WPARAM wp, LPARAM lp) { seen.push_back(Read(w, msg, wp, lp)); });
  auto filter = DiskFilter();
  void* a = Win().RegisterDeviceNotificationW(Window(1), &filter, 0);
  void* b = Win().RegisterDeviceNotificationW(Window(2), &filter, 0);
  ASSERT_TRUE(a && b);

  auto disk = m->Discovery().AddDisk(3, 1 << 30, presets::UasEnclosure("Fast SSD"));
  const std::string path = DiskInterfacePath(disk->description);
  EXPECT_NE(path.find("prod_fast ssd"), std::string::npos) << path;
  m->Discovery().AddVolume('E', 3, 1 << 20, 1 << 24);
  m->Storage().RemoveVolume('E');
  m->Storage().DetachDisk(3);
  m->Storage().AttachDisk(disk, 5);
  auto hidden = presets::InternalSata();
  hidden.listed = false;  // no disk interface: nothing to tell
  m->Discovery().AddDisk(0, 1 << 30, hidden);
  EXPECT_TRUE(Win().UnregisterDeviceNotification(a));
  m->Storage().DetachDisk(5);

  const struct {
    WPARAM event;
    DWORD type;
    std::string detail;
  } want[] = {
      {DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, path},
      {DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, "E"},
      {DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME, "E"},
      {DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, path},
      {DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, path},
  };
  ASSERT_EQ(seen.size(), 2 * std::size(want) + 1);
  for (size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& w = want[std::min(i / 2, std::size(want) - 1)];
    EXPECT_EQ(seen[i].window, i == seen.size() - 1 ? Window(2) : Window(1 + i % 2));
    EXPECT_EQ(seen[i].msg, static_cast<UINT>(WM_DEVICECHANGE));
    EXPECT_EQ(seen[i].event, i == seen.size() - 1 ? WPARAM{DBT_DEVICEREMOVECOMPLETE} : w.event);
    EXPECT_EQ(seen[i].type, w.type);
    EXPECT_EQ(seen[i].detail, w.detail);
  }
  // The records stay valid after the messages were handed on.
  const auto all = m->Desktop().WindowMessages();
  ASSERT_EQ(all.size(), seen.size());
  EXPECT_EQ(Read(all[0].window, all[0].msg, all[0].wParam, all[0].lParam).detail, path);
  Win().UnregisterDeviceNotification(b);
}

// Posted while no sink is there: the messages wait and go, in order, to the next sink; one that
// is taken away makes them wait again.
TEST(SimNotifications, MessagesWaitForASink) {
  ScopedSimMachine m;
  auto filter = DiskFilter();
  ASSERT_TRUE(Win().RegisterDeviceNotificationW(Window(1), &filter, 0));
  m->Storage().AddDisk(1, 2048);
  m->Storage().AddDisk(2, 2048);
  std::vector<WPARAM> events;
  std::vector<std::string> paths;
  m->Desktop().SetWindowMessageSink([&](HWND, UINT, WPARAM wp, LPARAM lp) {
    events.push_back(wp);
    paths.push_back(Read(nullptr, 0, wp, lp).detail);
  });
  EXPECT_EQ(events, (std::vector<WPARAM>{DBT_DEVICEARRIVAL, DBT_DEVICEARRIVAL}));
  m->Desktop().SetWindowMessageSink({});
  m->Storage().DetachDisk(2);
  EXPECT_EQ(events.size(), 2u);
  m->Desktop().SetWindowMessageSink([&](HWND, UINT, WPARAM wp, LPARAM) { events.push_back(wp); });
  EXPECT_EQ(events.size(), 3u);
  EXPECT_EQ(events.back(), DBT_DEVICEREMOVECOMPLETE);
  EXPECT_EQ(m->Desktop().WindowMessages().size(), 3u);
}

// A disk that leaves the bus in the middle of a request is heard of on the thread of that request.
TEST(SimNotifications, ADiskLeavingTheBusUnderARequestIsHeardOnItsThread) {
  ScopedSimMachine m;
  m->Storage().AddDisk(1, 2048);
  auto filter = DiskFilter();
  ASSERT_TRUE(Win().RegisterDeviceNotificationW(Window(1), &filter, 0));
  std::vector<DWORD> threads;
  m->Desktop().SetWindowMessageSink([&](HWND, UINT, WPARAM wp, LPARAM) {
    if (wp == DBT_DEVICEREMOVECOMPLETE) threads.push_back(Win().GetCurrentThreadId());
  });
  SimFault leave;
  leave.command = SimCommand::Identify;
  leave.kind = SimFaultKind::LeaveBus;
  m->Bridge().AddFault(1, leave);
  struct Job {
    DWORD thread = 0;
  } job;
  HANDLE t = Win().CreateThread(
      0,
      [](void* p) -> DWORD {
        static_cast<Job*>(p)->thread = Win().GetCurrentThreadId();
        TAtaProbeResult probe;
        TAtaPassThroughEngine(nullptr).ProbeIdentify("\\\\.\\PhysicalDrive1", 5000, probe);
        return 0;
      },
      &job, 0, nullptr);
  Win().WaitForSingleObject(t, INFINITE);
  Win().CloseHandle(t);
  EXPECT_EQ(threads, std::vector<DWORD>{job.thread});
  EXPECT_NE(job.thread, Win().GetCurrentThreadId());
}

}  // namespace

// What keeps a run on its own disk and lets a cancel end it: a disk that leaves the bus at any
// step (another disk taking its number or not), a command that hangs on the run's own thread,
// and the cancel, lock and release details around them.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "core/uLang.h"
#include "engine/TrimRunTestUtil.h"
#include "platform/WinFsControl.h"
#include "platform/WinStorage.h"
#include "platform/sim/storage/SimBridge.h"
#include "platform/sim/kernel/SimDesktop.h"
#include "platform/sim/kernel/SimKernel.h"
#include "platform/sim/kernel/SimProcesses.h"
#include "platform/sim/files/SimVolumeLocks.h"

using namespace plat;
using namespace plat::sim;

namespace {

constexpr int kDiskNo = 1;
constexpr uint64_t kDiskSectors = 1 << 21;
constexpr int64_t kVolStart = 2048;
constexpr int64_t kVolSectors = 131072;
constexpr int32_t kTextInfo = 85;
constexpr int32_t kTextUsbDisconnect = 205;
constexpr const char* kLeftTheBus = "Disk left the USB bus (winerr=1167); no further commands sent";

TTrimRangeArray Spaced(int Count) {
  TTrimRangeArray r;
  for (int i = 0; i < Count; i++) r.push_back({kVolStart + 100 + 16ull * i, 8});
  return r;
}

SimBridgeProfile UasProfile(DWORD StorageTrimError) {
  SimBridgeProfile p = SimBridgeProfile::UasUnmap(0, 0);
  p.storageTrimError = StorageTrimError;
  return p;
}

struct GuardFixture : TRunFixture {
  std::shared_ptr<SimDisk> simDisk;
  std::shared_ptr<SimVolume> simVol;
  TDiskInfo disk = RunTestDisk(kDiskNo);
  TTrimExecOptions options{.TimeoutMs = 5000};
  TRunStats stats;
  int doneCalls = 0;
  uint64_t doneAtMs = 0;
  size_t handlesBefore = 0;

  GuardFixture() {
    simDisk = m->Storage().AddDisk(kDiskNo, kDiskSectors);
    m->Discovery().Describe(kDiskNo, [](SimDiskDescription& d) { d.serial = "SIM-A"; });
    simVol = m->Storage().AddVolume('E', {{kDiskNo, kVolStart * 512, kVolSectors * 512}});
    simVol->fileSystemName = "exFAT";
    disk.Serial = "SIM-A";
    disk.SizeBytes = kDiskSectors * 512;
    disk.Volumes.push_back(RunTestVolume('E', kDiskNo, kVolStart, kVolSectors, "exFAT"));
    SetCurrentLanguage(TUiLanguage::ulEnglish);
    log.Info("test start");
    handlesBefore = m->Kernel().OpenHandleCount();
  }

  ~GuardFixture() { EXPECT_EQ(m->Kernel().OpenHandleCount(), handlesBefore) << "a run left a handle open"; }

  void Ntfs() {
    simVol->fileSystemName = "NTFS";
    disk.Volumes[0].FileSystem = "NTFS";
  }

  // A disk off the bus with a volume of its own where E: lies, and that letter: the worst disk to
  // arrive under the run's number.
  std::shared_ptr<SimDisk> Newcomer() {
    auto d = m->Storage().AddDisk(9, kDiskSectors);
    m->Discovery().Describe(9, [](SimDiskDescription& x) { x.serial = "SIM-B"; });
    auto v = m->Storage().AddVolume('X', {{9, kVolStart * 512, kVolSectors * 512}});
    v->fileSystemName = simVol->fileSystemName;
    m->Storage().DetachDisk(9);
    v->letter = 'E';
    return d;
  }

  // Runs to its end; Cancel (virtual ms after the start, 0: never) from a thread of its own.
  void RunToEnd(const TTrimRangeArray& Ranges, uint32_t CancelAtMs = 0, SYSTEMTIME* CancelledAt = nullptr) {
    auto* run = new TTrimExecutionThread(disk, Ranges, TTrimMode::tmFreeSpace, options, TRunMode::rmExecute, &log,
                                         nullptr, [this](const TRunStats& s) {
                                           stats = s;
                                           doneCalls++;
                                           doneAtMs = m->Kernel().NowMs();
                                         });
    TThreadLink link = run->Link();
    std::unique_ptr<TLambdaThread> canceller;
    if (CancelAtMs)
      canceller = std::make_unique<TLambdaThread>([&](TLambdaThread&) {
        Win().Sleep(CancelAtMs);
        if (CancelledAt) Win().GetSystemTime(CancelledAt);
        run->RequestCancel();
      });
    run->Start();
    if (canceller) canceller->Start();
    ASSERT_TRUE(link.WaitFor());
    if (canceller) canceller->WaitFor();
    ASSERT_EQ(doneCalls, 1);
  }

  std::vector<std::pair<std::string, std::string>> Boxes() {
    std::vector<std::pair<std::string, std::string>> r;
    for (const MessageBoxCall& b : m->Desktop().Boxes()) r.push_back({b.caption, b.text});
    return r;
  }
  static std::pair<std::string, std::string> Box(int32_t Caption, int32_t Text) {
    return {GetLangText(Caption), GetLangText(Text)};
  }
  // Lines from logFrom on that hold Text.
  size_t logFrom = 0;
  size_t Logged(const std::string& Text) {
    const auto lines = LogLines();
    size_t n = 0;
    for (size_t i = logFrom; i < lines.size(); i++) n += lines[i].find(Text) != std::string::npos;
    return n;
  }
};

// ---- A disk that leaves the bus ------------------------------------------------------------

struct Departure {
  std::string name = {};
  TTransportKind transport = TTransportKind::tkUAS;
  SimBridgeProfile profile = {};
  TForcedTrimPath forced = TForcedTrimPath::ftpAuto;
  bool ntfs = false;
  std::optional<SimCommand> onCommand = std::nullopt;  // the bridge's first request of this command, or
  DWORD onCode = 0;                                    // the first DeviceIoControl with this code
  bool newcomer = false;
};

std::ostream& operator<<(std::ostream& o, const Departure& d) { return o << d.name; }

struct DepartureTest : ::testing::TestWithParam<Departure>, GuardFixture {};

TEST_P(DepartureTest, NothingReachesAnotherDiskAndNothingCountsAsDone) {
  const Departure& d = GetParam();
  disk.Transport = d.transport;
  options.ForcedPath = d.forced;
  if (d.ntfs) Ntfs();
  m->Bridge().SetProfile(kDiskNo, d.profile);
  const std::shared_ptr<SimDisk> other = d.newcomer ? Newcomer() : nullptr;
  if (d.onCommand) {
    SimFault f;
    f.command = *d.onCommand;
    f.nth = 1;
    f.kind = SimFaultKind::LeaveBus;
    f.newcomer = other;
    m->Bridge().AddFault(kDiskNo, f);
  } else {
    m->Storage().AddFault(kDiskNo, d.onCode, SimOutcome::LeaveBus(other), {.nth = 1});
  }
  m->Desktop().ScriptAnswers({IDOK});
  RunToEnd(Spaced(6));

  EXPECT_EQ(stats.SucceededBatches, 0);
  EXPECT_EQ(stats.FailedBatches, 1);
  EXPECT_EQ(stats.SkippedBatches, 0);
  ASSERT_EQ(stats.Failures.size(), 1u);
  EXPECT_EQ(stats.Failures[0].Message, kLeftTheBus);
  EXPECT_EQ(stats.Failures[0].WinErr, ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(stats.Cancelled);
  EXPECT_EQ(Boxes(), (std::vector{Box(kTextInfo, kTextUsbDisconnect)}));
  EXPECT_EQ(Logged("[INFO] Total trimmed: sectors=0 (0.000 GiB)"), 1u);
  EXPECT_TRUE(simDisk->drive.Ledger().empty());

  // Once the disk has left nothing is sent anywhere, and a newcomer is not even asked.
  const auto records = m->Storage().IoctlRecords();
  size_t left = records.size();
  for (size_t i = 0; i < records.size(); i++)
    if (records[i].disk == simDisk && !records[i].offBus) left = i;
  ASSERT_LT(left, records.size());
  for (size_t i = left + 1; i < records.size(); i++) {
    EXPECT_FALSE(IsDiskCommand(records[i].code))
        << "request " << std::hex << records[i].code << " after the departure";
    EXPECT_NE(records[i].disk, other) << "request " << std::hex << records[i].code << " reached the newcomer";
  }
  if (other) {
    EXPECT_EQ(m->Storage().Disk(kDiskNo), other);
    EXPECT_TRUE(other->drive.Ledger().empty());
    std::lock_guard<std::mutex> lk(other->mu);
    for (int calls : other->bridge.calls) EXPECT_EQ(calls, 0);
  }
}

std::vector<Departure> Departures() {
  SimBridgeProfile unmapOnly = UasProfile(ERROR_INVALID_FUNCTION);
  unmapOnly.writeSameUnmap = false;
  SimBridgeProfile writeSameOnly = UasProfile(ERROR_INVALID_FUNCTION);
  writeSameOnly.unmap = false;
  const std::vector<Departure> places = {
      {.name = "GeometryQuery", .profile = UasProfile(0), .onCode = IOCTL_DISK_GET_DRIVE_GEOMETRY_EX},
      {.name = "DescriptorQuery", .profile = UasProfile(0), .onCode = IOCTL_STORAGE_QUERY_PROPERTY},
      {.name = "BlockLimitsInquiry", .profile = UasProfile(0), .onCommand = SimCommand::Inquiry},
      {.name = "StorageTrimRequest", .profile = UasProfile(0), .onCommand = SimCommand::StorageTrim},
      {.name = "PinnedVolume",
       .profile = UasProfile(ERROR_INVALID_FUNCTION),
       .ntfs = true,
       .onCode = IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS},
      {.name = "UpFrontLock",
       .transport = TTransportKind::tkBOT,
       .profile = SimBridgeProfile::BotAtaOnly(),
       .forced = TForcedTrimPath::ftpAtaPassThrough,
       .onCode = fsc::FSCTL_LOCK_VOLUME},
      {.name = "FirstUnmap", .profile = unmapOnly, .onCommand = SimCommand::Unmap},
      {.name = "FirstWriteSame16", .profile = writeSameOnly, .onCommand = SimCommand::WriteSame16},
      {.name = "AtaStageLock",
       .transport = TTransportKind::tkBOT,
       .profile = SimBridgeProfile::BotAtaOnly(),
       .onCode = fsc::FSCTL_DISMOUNT_VOLUME},
      {.name = "FirstAtaAttempt",
       .transport = TTransportKind::tkBOT,
       .profile = SimBridgeProfile::BotAtaOnly(),
       .onCommand = SimCommand::AtaDsm},
  };
  std::vector<Departure> v;
  for (const Departure& p : places)
    for (bool newcomer : {false, true}) {
      Departure d = p;
      d.newcomer = newcomer;
      if (newcomer) d.name += "WithANewcomer";
      v.push_back(d);
    }
  return v;
}

INSTANTIATE_TEST_SUITE_P(Guards, DepartureTest, ::testing::ValuesIn(Departures()),
                         [](const ::testing::TestParamInfo<Departure>& i) { return i.param.name; });

struct GuardTest : ::testing::Test, GuardFixture {};

// The disk was swapped before the run started: the proof finds another serial under the number,
// the run sends nothing and says why.
TEST_F(GuardTest, AnotherDiskUnderThePlannedNumberGetsNoCommand) {
  const auto other = Newcomer();
  m->Storage().LeaveBus(kDiskNo, other);
  m->Bridge().SetProfile(kDiskNo, UasProfile(0));
  m->Desktop().ScriptAnswers({IDOK});
  RunToEnd(Spaced(6));
  ASSERT_EQ(stats.Failures.size(), 1u);
  EXPECT_EQ(stats.Failures[0].Message,
            "Disk identity not confirmed: serial number mismatch (different disk now has this drive number); no "
            "command sent");
  EXPECT_EQ(stats.SucceededBatches, 0);
  EXPECT_EQ(Logged("[WARN] Disk identity not confirmed for \\\\.\\PhysicalDrive1: serial number mismatch"), 1u);
  EXPECT_EQ(Boxes(), (std::vector{Box(kTextInfo, kTextUsbDisconnect)}));
  for (const auto& r : m->Storage().IoctlRecords()) EXPECT_FALSE(IsDiskCommand(r.code)) << std::hex << r.code;
  EXPECT_TRUE(other->drive.Ledger().empty());
}

// ---- A command that hangs on the run's own thread ------------------------------------------

struct Hang {
  const char* name;
  SimBridgeProfile profile;
  SimCommand command;
  bool failsABatch = true;  // false: it hangs at set-up, before any batch
};

std::ostream& operator<<(std::ostream& o, const Hang& h) { return o << h.name; }

struct HangTest : ::testing::TestWithParam<Hang>, GuardFixture {};

uint64_t MsOfDay(const SYSTEMTIME& T) {
  return ((T.wHour * 60ull + T.wMinute) * 60 + T.wSecond) * 1000 + T.wMilliseconds;
}

// "2026-12-10T09:30:05.000Z ..." -> ms of the day.
uint64_t MsOfDay(const std::string& RawLine) {
  SYSTEMTIME t{};
  t.wHour = static_cast<WORD>(std::stoi(RawLine.substr(11, 2)));
  t.wMinute = static_cast<WORD>(std::stoi(RawLine.substr(14, 2)));
  t.wSecond = static_cast<WORD>(std::stoi(RawLine.substr(17, 2)));
  t.wMilliseconds = static_cast<WORD>(std::stoi(RawLine.substr(20, 3)));
  return MsOfDay(t);
}

TEST_P(HangTest, ACancelEndsItAndTheRunEndsAsUsual) {
  const Hang& h = GetParam();
  m->Bridge().SetProfile(kDiskNo, h.profile);
  SimFault f;
  f.command = h.command;
  f.nth = 1;
  f.kind = SimFaultKind::HangUntilCancel;
  m->Bridge().AddFault(kDiskNo, f);
  options.BatchEntries = 2;
  SYSTEMTIME cancelledAt{};
  const uint64_t t0 = m->Kernel().NowMs();
  RunToEnd(Spaced(6), 20000, &cancelledAt);

  EXPECT_TRUE(stats.Cancelled);
  EXPECT_EQ(stats.PlannedBatches, 3);
  EXPECT_EQ(stats.SucceededBatches, 0);
  EXPECT_EQ(stats.SucceededBatches + stats.FailedBatches + stats.SkippedBatches, 3);
  EXPECT_TRUE(simDisk->drive.Ledger().empty());
  if (h.failsABatch) {
    EXPECT_EQ(stats.FailedBatches, 1);
    ASSERT_EQ(stats.Failures.size(), 1u);
    EXPECT_EQ(stats.Failures[0].Message, "Cancelled by user");
    // The blocked command returned at the cancel: the batch failed within a second of it.
    std::string failedLine;
    const std::string raw = m->Files().ReadAll(kRunLogPath);
    const size_t at = raw.find("[ERROR] Batch 0 failed: Cancelled by user");
    ASSERT_NE(at, std::string::npos);
    failedLine = raw.substr(raw.rfind("\r\n", at) + 2);
    EXPECT_LT(MsOfDay(failedLine) - MsOfDay(cancelledAt), 1000u);
    // Then the usual end: the delayed probe finds the disk. The batch the cancel cut short shows
    // no dead end, so a UAS disk with only exFAT gets no reformat notice.
    EXPECT_EQ(Logged("USB bus disconnect delayed probe finished: disk still present"), 1u);
    EXPECT_EQ(Logged("[INFO] Reformat-as-NTFS guidance not shown: the run was cancelled"), 1u);
    EXPECT_TRUE(Boxes().empty());
  } else {
    EXPECT_EQ(stats.FailedBatches, 0);
    EXPECT_EQ(stats.SkippedBatches, 3);
    EXPECT_EQ(Logged("[WARN] Cancellation requested, stopping safely after current batch boundary."), 1u);
    EXPECT_LT(doneAtMs - t0, 20000u + 1000u);
    EXPECT_TRUE(Boxes().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Guards, HangTest,
                         ::testing::Values(Hang{"StorageTrimRequest", UasProfile(0), SimCommand::StorageTrim},
                                           Hang{"BlockLimitsInquiry", UasProfile(0), SimCommand::Inquiry, false},
                                           Hang{"Unmap", UasProfile(ERROR_INVALID_FUNCTION), SimCommand::Unmap},
                                           Hang{"WriteSame16",
                                                [] {
                                                  SimBridgeProfile p = UasProfile(ERROR_INVALID_FUNCTION);
                                                  p.unmap = false;
                                                  return p;
                                                }(),
                                                SimCommand::WriteSame16}),
                         [](const ::testing::TestParamInfo<Hang>& i) { return std::string(i.param.name); });

// ---- Cancel, lock and release details ------------------------------------------------------

// The cancel arrives during the delay before the second attempt: that attempt is not sent, and
// the batch does not count as done.
TEST_F(GuardTest, ACancelDuringTheAtaRetryDelaySendsNoFurtherAttempt) {
  disk.Transport = TTransportKind::tkBOT;
  m->Bridge().SetProfile(kDiskNo, SimBridgeProfile::BotAtaOnly());
  SimFault f;
  f.command = SimCommand::AtaDsm;
  f.nth = 1;
  f.winError = ERROR_GEN_FAILURE;  // retried in its configuration
  m->Bridge().AddFault(kDiskNo, f);
  options.AtaRetries = 2;
  m->Desktop().ScriptAnswers({IDOK});
  RunToEnd(Spaced(2), 100);  // the first retry waits 200 ms
  EXPECT_EQ(Logged("[WARN] ATA PT retry 1/2 after 200 ms"), 1u);
  size_t attempts = 0;
  for (const SimRequestRecord& r : m->Bridge().Requests()) attempts += r.command == SimCommand::AtaDsm;
  EXPECT_EQ(attempts, 1u);
  EXPECT_EQ(stats.SucceededBatches, 0);
  ASSERT_EQ(stats.Failures.size(), 1u);
  EXPECT_EQ(stats.Failures[0].Message, "Cancelled by user");
  EXPECT_TRUE(simDisk->drive.Ledger().empty());
}

// The up-front lock and the SCSI UNMAP stage's lock name a volume whose lock or dismount failed.
TEST_F(GuardTest, TheUpFrontAndTheUnmapStageLockNameTheFailedRequest) {
  struct Case {
    const char* name;
    TForcedTrimPath forced;
    SimVolumeLockBehaviour behaviour;
    std::string line;
  };
  size_t seen = 0;
  const std::vector<Case> cases = {
      {"up-front lock",
       TForcedTrimPath::ftpAtaPassThrough,
       {SimOutcome::Error(ERROR_ACCESS_DENIED), {}, 0},
       "[WARN] FSCTL_LOCK_VOLUME failed or timed out: \\\\.\\E: (winerr=5)"},
      {"up-front dismount",
       TForcedTrimPath::ftpAtaPassThrough,
       {{}, SimOutcome::Error(ERROR_ACCESS_DENIED), 0},
       "[WARN] FSCTL_DISMOUNT_VOLUME failed or timed out: \\\\.\\E: (winerr=5)"},
      {"unmap stage lock",
       TForcedTrimPath::ftpAuto,
       {SimOutcome::Error(ERROR_ACCESS_DENIED), {}, 0},
       "[WARN] FSCTL_LOCK_VOLUME failed or timed out: \\\\.\\E: (winerr=5)"},
      {"unmap stage dismount",
       TForcedTrimPath::ftpAuto,
       {{}, SimOutcome::Error(ERROR_ACCESS_DENIED), 0},
       "[WARN] FSCTL_DISMOUNT_VOLUME failed or timed out: \\\\.\\E: (winerr=5)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m->VolumeLocks().SetBehaviour('E', c.behaviour);
    m->Bridge().SetProfile(kDiskNo, UasProfile(ERROR_INVALID_FUNCTION));
    options.ForcedPath = c.forced;
    m->Desktop().ScriptAnswers({IDOK});
    logFrom = LogLines().size();
    doneCalls = 0;
    RunToEnd(Spaced(2));
    std::vector<std::string> lines;
    for (const std::string& l : LogLines())
      if (l.find("failed or timed out:") != std::string::npos) lines.push_back(l);
    lines.erase(lines.begin(), lines.begin() + static_cast<long>(std::min(lines.size(), seen)));
    seen += lines.size();
    EXPECT_EQ(lines, std::vector<std::string>{c.line});
    EXPECT_TRUE(simDisk->drive.Ledger().empty());
  }
}

// Accepting Windows ReTrim releases the run's volume handles; the line says so only when the
// volumes were dismounted, not after a lock that failed and left only open handles.
TEST_F(GuardTest, VolumeHandlesReleasedIsLoggedOnlyAfterADismount) {
  Ntfs();
  Win().GetStdHandle(STD_INPUT_HANDLE);  // the console's handle is the machine's, made on first use
  handlesBefore = m->Kernel().OpenHandleCount();
  struct Case {
    const char* name;
    SimVolumeLockBehaviour behaviour;
    size_t lines;
  };
  for (const Case& c :
       {Case{"dismounted", {}, 1u}, Case{"lock refused", {SimOutcome::Error(ERROR_ACCESS_DENIED), {}, 0}, 0u}}) {
    SCOPED_TRACE(c.name);
    m->VolumeLocks().SetBehaviour('E', c.behaviour);
    m->Bridge().SetProfile(kDiskNo, SimBridgeProfile::NoTrim());  // every hardware path fails
    m->Processes().SetPowerShell(SimPowerShellScript{});
    options.ForcedPath = TForcedTrimPath::ftpAtaPassThrough;
    m->Desktop().ScriptAnswers({IDOK});
    logFrom = LogLines().size();
    doneCalls = 0;
    RunToEnd(Spaced(2));
    EXPECT_EQ(Logged("offering Optimize-Volume -ReTrim fallback"), 1u);
    EXPECT_EQ(Logged("[INFO] Volume handles released; waiting for auto-remount before Optimize-Volume"), c.lines);
    EXPECT_EQ(stats.SucceededBatches, 1);  // ReTrim covered the volume
  }
}

}  // namespace

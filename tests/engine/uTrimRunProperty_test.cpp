// Whole runs on randomly built machines, checked against the run's promises: nothing released
// outside the plan or inside an allocated cluster, nothing sent once the disk has left the bus
// and nothing at all to a disk that took its number, one completion call, counts that add up,
// no handle left open, and a run that ends. The seeds are fixed, so a failure names the seed
// that shows it; VT_PROPERTY_RUNS sets how many runs are made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "core/uLang.h"
#include "engine/TrimRunTestUtil.h"
#include "engine/VolumeTestUtil.h"
#include "platform/WinFsControl.h"
#include "platform/WinStorage.h"
#include "platform/sim/SimFaultPicker.h"
#include "platform/sim/storage/SimBridge.h"
#include "platform/sim/kernel/SimDesktop.h"
#include "platform/sim/kernel/SimProcesses.h"
#include "platform/sim/files/SimVolumeFormat.h"
#include "platform/sim/files/SimVolumeLocks.h"

using namespace plat;
using namespace plat::sim;

namespace {

constexpr int kDiskNo = 1;
constexpr int kNewcomerNo = 9;
constexpr uint64_t kDiskSectors = 1 << 21;  // 1 GiB
constexpr uint64_t kVolStart = 2048;
constexpr uint64_t kVolSectors = 131072;  // 64 MiB
constexpr int32_t kTextUsbDisconnect = 205;

using TRanges = std::vector<std::pair<uint64_t, uint64_t>>;

int RunsToMake() {
  if (const char* e = std::getenv("VT_PROPERTY_RUNS")) return std::max(1, std::atoi(e));
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return 60;  // each run costs several times as much under a sanitizer
#elif defined(_WIN32)
  return 80;  // and under wine, where every thread of the machine is a Windows thread
#else
  return 300;
#endif
}

// One machine, one disk, one run.
struct TWorld : TRunFixture {
  SimRandom r;
  std::ostringstream about;  // what was chosen, for the failure message
  std::shared_ptr<SimDisk> simDisk;
  std::shared_ptr<SimDisk> newcomer;
  TDiskInfo disk = RunTestDisk(kDiskNo);
  TTrimRangeArray plan;
  TTrimMode mode = TTrimMode::tmFreeSpace;
  TRunMode runMode = TRunMode::rmExecute;
  TTrimExecOptions options;
  TRanges inUse;  // sectors holding file-system data
  uint32_t cancelAtMs = 0;
  SimRandom answers{0};

  explicit TWorld(uint64_t Seed) : r{Seed}, answers{Seed ^ 0xB0B0} {
    simDisk = m->Storage().AddDisk(kDiskNo, kDiskSectors);
    m->Discovery().Describe(kDiskNo, [](SimDiskDescription& d) { d.serial = "SIM-A"; });
    disk.Serial = "SIM-A";
    disk.SizeBytes = kDiskSectors * 512;
  }

  SimFsKind Kind(const char*& Name, uint32_t& Cluster) {
    switch (r.Below(3)) {
      case 0:
        Name = "NTFS";
        Cluster = r.Pick({4096u, 8192u});
        return SimFsKind::kNtfs;
      case 1:
        Name = "exFAT";
        Cluster = r.Pick({4096u, 32768u});
        return SimFsKind::kExFat;
      default:
        Name = "FAT32";
        Cluster = r.Pick({512u, 1024u});
        return SimFsKind::kFat32;
    }
  }

  // A volume with files in it, some deleted; the plan gets its free clusters.
  void AddVolume(char Letter, uint64_t Start) {
    m->Storage().AddVolume(Letter, {{kDiskNo, Start * 512, kVolSectors * 512}});
    const char* name = nullptr;
    uint32_t cluster = 0;
    const SimFsKind kind = Kind(name, cluster);
    // Windows formats in the disk's own logical sectors (4096 behind a 4Kn bridge).
    const uint32_t sector = SimLogicalBlockSize(*simDisk);
    cluster = std::max(cluster, sector);
    ASSERT_TRUE(FormatVolume(m->Storage(), Letter, kind, sector, cluster)) << name << " " << sector;
    std::vector<SimClusterRuns> files;
    const uint32_t count = 4 + r.Below(24);
    for (uint32_t i = 0; i < count; i++) files.push_back(AllocateFile(m->Storage(), Letter, 1 + r.Below(40)));
    for (uint32_t i = 0; i < count; i++)
      if (r.Chance(50)) ReleaseRuns(m->Storage(), Letter, files[i]);
    uint64_t at = Start;
    for (const auto& [first, n] : FreeDiskRanges(m->Storage(), Letter)) {
      if (first > at) inUse.push_back({at, first - at});
      at = first + n;
      for (uint64_t done = 0; done < n; done += 65535)
        plan.push_back({first + done, std::min<uint64_t>(65535, n - done)});
    }
    if (at < Start + kVolSectors) inUse.push_back({at, Start + kVolSectors - at});
    disk.Volumes.push_back(VolumeInfoOf(*m, Letter));
    about << " " << Letter << ":" << name << "/" << cluster;
  }

  // A disk off the bus that brings a mounted NTFS volume at E:, where the run's first volume lies.
  void MakeNewcomer() {
    if (newcomer) return;
    newcomer = m->Storage().AddDisk(kNewcomerNo, kDiskSectors);
    m->Discovery().Describe(kNewcomerNo, [](SimDiskDescription& d) { d.serial = "SIM-B"; });
    auto v = m->Storage().AddVolume('X', {{kNewcomerNo, kVolStart * 512, kVolSectors * 512}});
    ASSERT_TRUE(FormatVolume(m->Storage(), 'X', SimFsKind::kNtfs, 512, 4096));
    m->Storage().DetachDisk(kNewcomerNo);
    v->letter = 'E';
  }

  SimBridgeProfile Profile() {
    SimBridgeProfile p;
    switch (r.Below(6)) {
      case 0: p = SimBridgeProfile::FullSat(); break;
      case 1: p = SimBridgeProfile::BotAtaOnly(); break;
      case 2: p = SimBridgeProfile::UasUnmap(r.Pick({0u, 4096u, 65536u}), r.Pick({0u, 1u, 8u})); break;
      case 3: p = SimBridgeProfile::Uas4Kn(); break;
      case 4: p = SimBridgeProfile::NoTrim(); break;
      default:
        p = SimBridgeProfile::BotAtaOnly();
        p.protocolDma = false;
        p.extend = false;
        break;
    }
    if (r.Chance(40)) p.storageTrimError = r.Pick({0u, 1u, 1u, 50u});
    if (r.Chance(30)) p.mountedVolumeRawTrim = SimRawTrimPolicy::RefuseAccessDenied;
    if (r.Chance(20)) p.ckCondReplies = true;
    if (r.Chance(20)) p.descriptorSense = true;
    if (r.Chance(10)) p.blockLimitsPage = false;
    about << " bridge=" << p.name;
    return p;
  }

  SimFault Fault() {
    SimFaultChoice choice;
    choice.cancelComes = cancelAtMs != 0;
    choice.newcomer = [this] {
      MakeNewcomer();
      return newcomer;
    };
    const SimFault f = PickBridgeFault(r, choice);
    about << DescribeFault(f);
    return f;
  }

  void Build() {
    if (r.Chance(20)) cancelAtMs = r.Chance(30) ? 7 + 250 * r.Below(8) : 7 + 1000 * r.Below(90);
    disk.Transport = r.Chance(60) ? TTransportKind::tkUAS : TTransportKind::tkBOT;
    m->Bridge().SetProfile(kDiskNo, Profile());
    if (r.Chance(25)) {
      mode = TTrimMode::tmFullDevice;
      for (uint64_t at = 0; at < kDiskSectors; at += 65535)
        plan.push_back({at, std::min<uint64_t>(65535, kDiskSectors - at)});
      about << " full-device";
    } else {
      const uint32_t volumes = 1 + r.Below(2);
      for (uint32_t i = 0; i < volumes; i++)
        AddVolume(static_cast<char>('E' + i), kVolStart + i * (kVolSectors + 4096));
      for (const TVolumeInfo& v : disk.Volumes)
        if (r.Chance(20))
          m->VolumeLocks().SetBehaviour(v.DriveLetter[0],
                                        {PickVolumeRequest(r), PickVolumeRequest(r), r.Pick({0u, 9000u})});
    }
    if (r.Chance(10)) runMode = TRunMode::rmDryRun;
    options.TimeoutMs = static_cast<int32_t>(r.Pick({800u, 2000u, 5000u}));
    options.AtaRetries = static_cast<int32_t>(r.Below(3));
    options.BatchEntries = static_cast<int32_t>(r.Pick({0u, 1u, 2u, 3u, 8u, 32u}));
    options.BatchLimit = static_cast<int32_t>(r.Pick({0u, 0u, 0u, 1u, 2u, 5u}));
    options.ForcedPath = r.Chance(50) ? TForcedTrimPath::ftpAuto
                                      : r.Pick({TForcedTrimPath::ftpScsiUnmap, TForcedTrimPath::ftpAtaPassThrough,
                                                TForcedTrimPath::ftpWindowsReTrim});
    options.ExpertAtaRetry = r.Chance(50);
    options.QuietIterations = r.Chance(30);
    const uint32_t faults = r.Below(4);
    for (uint32_t i = 0; i < faults; i++) m->Bridge().AddFault(kDiskNo, Fault());
    if (r.Chance(25)) {
      const DWORD code =
          r.Pick({DWORD{IOCTL_DISK_GET_DRIVE_GEOMETRY_EX}, DWORD{IOCTL_STORAGE_QUERY_PROPERTY},
                  DWORD{IOCTL_STORAGE_GET_DEVICE_NUMBER}, DWORD{IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS},
                  fsc::FSCTL_LOCK_VOLUME, fsc::FSCTL_DISMOUNT_VOLUME,
                  DWORD{IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES}, DWORD{IOCTL_SCSI_PASS_THROUGH_DIRECT}});
      const int nth = 1 + static_cast<int>(r.Below(6));
      if (r.Chance(50)) MakeNewcomer();
      m->Storage().AddFault(kDiskNo, code, SimOutcome::LeaveBus(r.Chance(50) ? newcomer : nullptr), {.nth = nth});
      about << " departOn(code=" << std::hex << code << std::dec << ",nth=" << nth << ")";
    }
    switch (r.Below(3)) {
      case 0: m->Processes().SetPowerShell(SimPowerShellScript{}); break;
      case 1: m->Processes().SetPowerShell(SimPowerShellScript::Fails43022()); break;
      default: {
        SimPowerShellScript s;
        s.retrim = false;
        s.exitCode = 1;
        m->Processes().SetPowerShell(s);
      }
    }
    m->Desktop().SetBoxHandler([this](const MessageBoxCall&) { return answers.Chance(70) ? IDOK : IDCANCEL; });
    about << " transport=" << TransportToText(disk.Transport) << " ranges=" << plan.size()
          << " entries=" << options.BatchEntries << " limit=" << options.BatchLimit
          << " forced=" << static_cast<int>(options.ForcedPath) << " timeout=" << options.TimeoutMs
          << " retries=" << options.AtaRetries << (runMode == TRunMode::rmDryRun ? " dry-run" : "")
          << (cancelAtMs ? " cancelAt=" + std::to_string(cancelAtMs) : "");
  }
};

void RunAndCheck(uint64_t Seed) {
  TWorld w(Seed);
  w.Build();
  if (::testing::Test::HasFatalFailure()) return;
  SCOPED_TRACE(w.about.str());
  auto& m = w.m;
  Win().GetStdHandle(STD_INPUT_HANDLE);  // the console's handle is the machine's, made on first use
  w.log.Info("run start");
  const size_t handlesBefore = m->Kernel().OpenHandleCount();
  const size_t ledgerBefore = w.newcomer ? w.newcomer->drive.Ledger().size() : 0;

  TRunStats stats;
  int doneCalls = 0;
  bool sawUsbNotice = false;
  auto* run = new TTrimExecutionThread(w.disk, w.plan, w.mode, w.options, w.runMode, &w.log, nullptr,
                                       [&](const TRunStats& s) {
                                         stats = s;
                                         doneCalls++;
                                       });
  // Owned here, so that a cancel may come at any time, also after the run has ended.
  run->SetFreeOnTerminate(false);
  std::unique_ptr<TLambdaThread> canceller;
  if (w.cancelAtMs)
    canceller = std::make_unique<TLambdaThread>([&](TLambdaThread&) {
      Win().Sleep(w.cancelAtMs);
      run->RequestCancel();
    });
  run->Start();
  if (canceller) canceller->Start();
  ASSERT_TRUE(run->WaitFor()) << "the run did not end";
  if (canceller) canceller->WaitFor();
  canceller.reset();
  delete run;
  EXPECT_EQ(doneCalls, 1);
  for (const MessageBoxCall& b : m->Desktop().Boxes()) sawUsbNotice |= b.text == GetLangText(kTextUsbDisconnect);

  // Released: only planned sectors, never one that holds file-system data.
  const TRanges plan = Merged(w.plan);
  for (const SimTrimRecord& t : w.simDisk->drive.Ledger()) {
    const bool inside = std::any_of(plan.begin(), plan.end(), [&](const auto& p) {
      return t.lba >= p.first && t.lba + t.count <= p.first + p.second;
    });
    EXPECT_TRUE(inside) << t.command << " released " << t.lba << "+" << t.count << " outside the plan";
    for (const auto& [first, n] : w.inUse)
      EXPECT_FALSE(t.lba < first + n && t.lba + t.count > first)
          << t.command << " released " << t.lba << "+" << t.count << " over data at " << first << "+" << n;
  }

  const auto records = m->Storage().IoctlRecords();
  if (w.runMode == TRunMode::rmDryRun) {
    EXPECT_TRUE(records.empty()) << "a dry run sent a request";
    EXPECT_TRUE(w.simDisk->drive.Ledger().empty());
  }

  // Once the disk has left, nothing more is sent, and a disk under its number is never reached.
  const bool departed = m->Storage().Disk(kDiskNo) != w.simDisk;
  if (departed) {
    size_t left = records.size();
    for (size_t i = 0; i < records.size(); i++)
      if (records[i].disk == w.simDisk && !records[i].offBus) left = i;
    for (size_t i = left == records.size() ? 0 : left + 1; i < records.size(); i++) {
      const bool reachedNewcomer = w.newcomer && records[i].disk == w.newcomer;
      if (!IsDiskCommand(records[i].code) && !reachedNewcomer) continue;
      ADD_FAILURE() << "request " << std::hex << records[i].code << std::dec << " (" << i << " of "
                    << records.size() << ") after the disk left"
                    << (reachedNewcomer ? ", to the disk under its number" : "");
      break;
    }
  }
  if (w.newcomer) {
    EXPECT_EQ(w.newcomer->drive.Ledger().size(), ledgerBefore) << "the newcomer's sectors were released";
    std::lock_guard<std::mutex> lk(w.newcomer->mu);
    for (int calls : w.newcomer->bridge.calls) EXPECT_EQ(calls, 0) << "a request reached the newcomer's bridge";
  }
  bool leftMessage = false;
  for (const TBatchResult& f : stats.Failures) EXPECT_FALSE(f.Message.empty()) << "batch " << f.BatchIndex;
  for (const TBatchResult& f : stats.Failures)
    leftMessage |= f.Message.rfind("Disk left the USB bus", 0) == 0 || f.Message.rfind("Disk identity", 0) == 0;
  // (An injected error 55 says the same as a departure.)
  if (leftMessage) {
    EXPECT_TRUE(sawUsbNotice);
  }

  // Counts: every uncapped batch is accounted for once, the one failure of a fatal end aside.
  const auto lines = w.LogLines();
  const bool fatal = std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("Executor fatal: ") != std::string::npos;
  });
  const int32_t perBatch = w.options.BatchEntries ? w.options.BatchEntries : 32;
  const int32_t uncapped = (static_cast<int32_t>(w.plan.size()) + perBatch - 1) / perBatch;
  EXPECT_EQ(stats.SucceededBatches + stats.FailedBatches + stats.SkippedBatches, uncapped + (fatal ? 1 : 0));
  EXPECT_EQ(stats.DoneBatches, stats.SucceededBatches);
  EXPECT_LE(stats.Failures.size(), 1u);

  // No handle left open once the machine has stopped (an abandoned worker ends then).
  m->Shutdown();
  EXPECT_EQ(m->Kernel().OpenHandleCount(), handlesBefore) << "a handle was left open";
}

TEST(RunProperty, RandomRunsKeepTheRunsPromises) {
  const int runs = RunsToMake();
  for (int seed = 1; seed <= runs; seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    RunAndCheck(static_cast<uint64_t>(seed));
    if (::testing::Test::HasFailure()) break;  // one seed's story at a time
  }
}

}  // namespace

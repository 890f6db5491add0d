// A run against the simulated machine: set-up, batching, the dry run and the storage TRIM
// request, checked against what the drive's ledger says was released.
#include "engine/uTrimRun.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/uLang.h"
#include "engine/TrimRunTestUtil.h"
#include "platform/sim/storage/SimBridge.h"
#include "platform/sim/files/SimFileSystem.h"
#include "platform/sim/kernel/SimKernel.h"
#include "platform/sim/kernel/SimProcesses.h"
#include "platform/sim/files/SimVolumeLocks.h"

using namespace plat;
using namespace plat::sim;

namespace {

constexpr int kDiskNo = 1;
constexpr int64_t kVolStart = 2048;      // sectors
constexpr int64_t kVolSectors = 131072;  // 64 MiB

using TRanges = std::vector<std::pair<uint64_t, uint64_t>>;

// Count ranges of 8 sectors inside the volume, with gaps between them.
TTrimRangeArray SpacedRanges(int Count, uint64_t From = kVolStart + 100) {
  TTrimRangeArray r;
  for (int i = 0; i < Count; i++) r.push_back({From + 16ull * i, 8});
  return r;
}

TRanges AsLedger(const TTrimRangeArray& R) {
  TRanges out;
  for (const TTrimRange& x : R) out.push_back({x.StartLba, x.SectorCount});
  return out;
}

// A bridge that refuses every raw path, so a batch the storage TRIM request leaves fails.
SimBridgeProfile NoRawPaths() {
  SimBridgeProfile p = SimBridgeProfile::NoTrim();
  p.storageTrimError = 0;
  return p;
}

struct RunTest : ::testing::Test, TRunFixture {
  std::shared_ptr<SimDisk> simDisk;
  std::shared_ptr<SimVolume> simVol;
  TDiskInfo disk = RunTestDisk(kDiskNo);
  TTrimExecOptions options{.TimeoutMs = 5000};
  TRunStats stats;
  std::vector<std::string> progress;
  int doneCalls = 0;
  size_t handlesBefore = 0;

  RunTest() {
    simDisk = m->Storage().AddDisk(kDiskNo, 1 << 21);
    simVol = m->Storage().AddVolume('E', {{kDiskNo, kVolStart * 512, kVolSectors * 512}});
    simVol->fileSystemName = "exFAT";
    disk.Volumes.push_back(RunTestVolume('E', kDiskNo, kVolStart, kVolSectors, "exFAT"));
    SetCurrentLanguage(TUiLanguage::ulEnglish);
    log.Info("test start");  // the log file's own handle is open from here on
    handlesBefore = m->Kernel().OpenHandleCount();
  }
  ~RunTest() override { EXPECT_EQ(m->Kernel().OpenHandleCount(), handlesBefore) << "the run left a handle open"; }

  void Ntfs() {
    simVol->fileSystemName = "NTFS";
    disk.Volumes[0].FileSystem = "NTFS";
  }

  void Run(const TTrimRangeArray& Ranges, TRunMode Mode, TTrimMode TrimMode = TTrimMode::tmFreeSpace) {
    auto* run = new TTrimExecutionThread(
        disk, Ranges, TrimMode, options, Mode, &log,
        [this](uint32_t, uint32_t, const std::string& t) { progress.push_back(t); },
        [this](const TRunStats& s) {
          stats = s;
          doneCalls++;
        });
    TThreadLink link = run->Link();
    run->Start();
    ASSERT_TRUE(link.WaitFor());
    ASSERT_EQ(doneCalls, 1);
  }

  SimDrive& Drive() { return simDisk->drive; }
  std::vector<SimRequestRecord> Requests() { return m->Bridge().Requests(); }
  // The log's lines that begin with one of Prefixes, in order.
  std::vector<std::string> Lines(std::initializer_list<const char*> Prefixes) {
    std::vector<std::string> r;
    for (const std::string& l : LogLines())
      for (const char* p : Prefixes)
        if (l.find(p) != std::string::npos) {
          r.push_back(l);
          break;
        }
    return r;
  }
  bool Logged(const std::string& Text) {
    const auto lines = LogLines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(Text) != std::string::npos; });
  }
};

// ---- Batching and the dry run --------------------------------------------------------------

TEST_F(RunTest, BatchingCountsAndLimitsInADryRunThatTouchesNoDevice) {
  struct Case {
    int ranges, entries, limit;
    int planned, skipped;
  };
  for (const Case c : {Case{70, 32, 0, 3, 0}, Case{70, 32, 1, 1, 2}, Case{70, 0, 0, 3, 0}, Case{70, 32, 3, 3, 0},
                       Case{70, 32, 9, 3, 0}, Case{0, 32, 0, 0, 0}, Case{64, 32, 0, 2, 0}}) {
    SCOPED_TRACE(testing::Message() << c.ranges << " ranges, " << c.entries << " per batch, limit " << c.limit);
    options.BatchEntries = c.entries;
    options.BatchLimit = c.limit;
    progress.clear();
    doneCalls = 0;
    Run(SpacedRanges(c.ranges), TRunMode::rmDryRun);
    EXPECT_EQ(stats.RangeCount, c.ranges);
    EXPECT_EQ(stats.TotalSectors, 8u * c.ranges);
    EXPECT_EQ(stats.PlannedBatches, c.planned);
    EXPECT_EQ(stats.SucceededBatches, c.planned);
    EXPECT_EQ(stats.DoneBatches, c.planned);
    EXPECT_EQ(stats.FailedBatches, 0);
    EXPECT_EQ(stats.SkippedBatches, c.skipped);
    ASSERT_EQ(progress.size(), static_cast<size_t>(c.planned));
    if (c.planned) {
      EXPECT_EQ(progress.back(), "Batch " + std::to_string(c.planned) + "/" + std::to_string(c.planned));
    }
    EXPECT_TRUE(Logged("Execution start: disk=\\\\.\\PhysicalDrive1, protocol=UAS, mode=" +
                       RunModeToText(TRunMode::rmDryRun) + ", ranges=" + std::to_string(c.ranges) +
                       ", batches=" + std::to_string(c.planned) + ", batch_limit=" + std::to_string(c.limit)));
  }
  EXPECT_TRUE(Requests().empty());
  EXPECT_TRUE(Drive().Ledger().empty());
  // Each dry run wrote its golden report, and showed nothing.
  size_t saved = 0;
  for (const std::string& l : LogLines())
    if (l.rfind("[INFO] Dry-run golden saved: ", 0) == 0) {
      saved++;
      EXPECT_TRUE(m->Files().Exists(l.substr(29))) << l;
    }
  EXPECT_GE(saved, 1u);
  EXPECT_TRUE(m->Desktop().Boxes().empty());
}

TEST_F(RunTest, ADryRunPassesOnAnUnknownTransportAndAnExecutionEndsFatally) {
  disk.Transport = TTransportKind::tkUnknown;
  Run(SpacedRanges(3), TRunMode::rmDryRun);
  EXPECT_EQ(stats.SucceededBatches, 1);
  EXPECT_TRUE(Logged("Unknown USB transport. Dry-run allowed only."));

  doneCalls = 0;
  Run(SpacedRanges(3), TRunMode::rmExecute);
  EXPECT_EQ(stats.FailedBatches, 1);
  EXPECT_EQ(stats.SucceededBatches, 0);
  EXPECT_TRUE(stats.Failures.empty());
  EXPECT_TRUE(
      Logged("[ERROR] Executor fatal: USB transport not detected (BOT/UASP required). Reconnect device and "
             "retry."));
  EXPECT_TRUE(Requests().empty());
  EXPECT_TRUE(Drive().Ledger().empty());
}

TEST_F(RunTest, ADryRunRefusesARangeItsPayloadCannotCarry) {
  Run({{1ull << 48, 8}}, TRunMode::rmDryRun);
  EXPECT_EQ(stats.FailedBatches, 1);
  EXPECT_EQ(stats.SucceededBatches, 0);
  EXPECT_TRUE(Logged("[ERROR] Executor fatal: "));
}

// ---- The storage TRIM request --------------------------------------------------------------

TEST_F(RunTest, StorageTrimReleasesExactlyThePlannedSectorsBatchByBatch) {
  const TTrimRangeArray ranges = SpacedRanges(70);
  Run(ranges, TRunMode::rmExecute);
  EXPECT_EQ(stats.SucceededBatches, 3);
  EXPECT_EQ(stats.FailedBatches, 0);
  EXPECT_EQ(progress, (std::vector<std::string>{"Batch 1/3", "Batch 2/3", "Batch 3/3"}));
  EXPECT_EQ(Drive().TrimmedRanges(), AsLedger(ranges));
  for (const SimTrimRecord& r : Drive().Ledger()) EXPECT_EQ(r.command, "STORAGE TRIM");
  // One request per batch to the volume: 32, 32 and 6 ranges.
  std::vector<size_t> perRequest;
  for (const SimRequestRecord& r : Requests())
    if (r.command == SimCommand::StorageTrim) perRequest.push_back((r.in.size() - 32) / 16);
  EXPECT_EQ(perRequest, (std::vector<size_t>{32, 32, 6}));
  EXPECT_EQ(
      Lines({"Execution start", "UASP detected", "Pinned Volume guard", "Transport:", "SCSI UNMAP sizing",
             "Block Limits VPD (0xB0)"}),
      (std::vector<std::string>{
          "[INFO] Execution start: disk=\\\\.\\PhysicalDrive1, protocol=UAS, mode=Execute, ranges=70, "
          "batches=3, batch_limit=0",
          "[INFO] UASP detected: will try DSM TRIM first, then SCSI UNMAP, then WRITE SAME(16)+UNMAP, then ATA "
          "Pass-Through",
          "[INFO] Pinned Volume guard disabled: no NTFS volume on this disk (Optimize-Volume -ReTrim does not "
          "cover exFAT/FAT32); legacy lock+dismount available",
          "[INFO] Transport: UASP (DSM TRIM incl. FS-cooperative retry / SCSI UNMAP / WRITE SAME(16)+UNMAP "
          "fallback / ATA Pass-Through under Pinned Volume guard / Optimize-Volume -ReTrim fallback)",
          "[INFO] SCSI UNMAP sizing from Block Limits VPD: max_lba_per_cmd=65536 sectors, max_descriptors=32",
      }));
}

TEST_F(RunTest, TheCooperativeRetryIsMadeOncePerRun) {
  m->Bridge().SetProfile(kDiskNo, NoRawPaths());
  // Batch 0: refused with 1, then the cooperative retry passes; batch 1: refused with 1 again.
  for (int nth : {1, 3}) {
    SimFault f;
    f.command = SimCommand::StorageTrim;
    f.nth = nth;
    f.winError = 1;
    m->Bridge().AddFault(kDiskNo, f);
  }
  options.BatchEntries = 4;
  const TTrimRangeArray ranges = SpacedRanges(8);
  Run(ranges, TRunMode::rmExecute);
  EXPECT_EQ(stats.SucceededBatches, 1);
  EXPECT_EQ(stats.FailedBatches, 1);
  ASSERT_EQ(stats.Failures.size(), 1u);
  EXPECT_EQ(stats.Failures[0].BatchIndex, 1);
  EXPECT_EQ(Drive().TrimmedRanges(), AsLedger(TTrimRangeArray(ranges.begin(), ranges.begin() + 4)));
  EXPECT_EQ(Lines({"Retrying DSM", "DSM TRIM failed", "Batch "}),
            (std::vector<std::string>{"[INFO] Retrying DSM TRIM in FS-cooperative mode (flag=0)",
                                      "[WARN] DSM TRIM failed (winerr=1), falling back to SCSI UNMAP",
                                      "[ERROR] Batch 1 failed: All CDB configs and 1 retries exhausted "
                                      "(winerr=1117, sense=5/32/0)"}));
}

TEST_F(RunTest, ABatchNoVolumeHoldsAppliesNothingAndFailsWithoutRetry) {
  m->Bridge().SetProfile(kDiskNo, NoRawPaths());
  m->Desktop().ScriptAnswers({IDOK});  // the reformat notice: UAS, exFAT only, nothing done
  Run({{100, 8}, {kVolStart + kVolSectors + 10, 8}}, TRunMode::rmExecute);
  EXPECT_EQ(stats.FailedBatches, 1);
  ASSERT_EQ(stats.Failures.size(), 1u);
  EXPECT_TRUE(Drive().Ledger().empty());
  EXPECT_EQ(
      Lines({"[WARN] DSM TRIM", "Retrying"}),
      (std::vector<std::string>{"[WARN] DSM TRIM applied 0 ranges (no mapped volume range matched); falling back",
                                "[WARN] DSM TRIM failed (winerr=0), falling back to SCSI UNMAP"}));
}

TEST_F(RunTest, APinnedRunHoldsItsVolumesOpenWithoutLockAndClosesThemAtTheEnd) {
  Ntfs();
  const TTrimRangeArray ranges = SpacedRanges(5);
  Run(ranges, TRunMode::rmExecute);
  EXPECT_EQ(stats.SucceededBatches, 1);
  EXPECT_EQ(Drive().TrimmedRanges(), AsLedger(ranges));
  EXPECT_TRUE(
      Logged("[INFO] Pinned Volume guard active: UAS + NTFS volume; keeping mounted FS, no dismount before "
             "raw paths"));
  EXPECT_TRUE(Logged("[INFO] Volume pinned (mounted, no dismount): \\\\.\\E:"));
  EXPECT_FALSE(Logged("FSCTL_LOCK_VOLUME"));
  EXPECT_FALSE(Logged("Volume dismounted"));
  // The fixture's end checks that the pinned handle was closed.
}

TEST_F(RunTest, AForcedPathLocksUpFrontAndReleasesTheLockAtTheEnd) {
  options.ForcedPath = TForcedTrimPath::ftpScsiUnmap;
  Run(SpacedRanges(2), TRunMode::rmExecute);
  EXPECT_TRUE(Logged("[INFO] DEBUG: Forced SCSI UNMAP mode"));
  EXPECT_TRUE(Logged("[INFO] Volume dismounted: \\\\.\\E:"));
  EXPECT_FALSE(Logged("[INFO] Pinned Volume guard"));
  EXPECT_FALSE(Logged("DeviceIoControl(DSM TRIM"));  // the storage TRIM request is not first on a forced path
}

TEST_F(RunTest, BlockLimitsSizing) {
  struct Case {
    bool page;
    uint32_t lba, desc;
    const char* line;
  };
  for (const Case c : {
           Case{true, 2048, 0,
                "SCSI UNMAP sizing from Block Limits VPD: max_lba_per_cmd=65536 sectors, max_descriptors=32"},
           Case{true, 0xFFFFFFFFu, 5000,
                "SCSI UNMAP sizing from Block Limits VPD: max_lba_per_cmd=67108864 sectors, max_descriptors=4095"},
           Case{true, 100000, 8,
                "SCSI UNMAP sizing from Block Limits VPD: max_lba_per_cmd=100000 sectors, max_descriptors=8"},
           Case{
               false, 0, 0,
               "Block Limits VPD (0xB0) unavailable; using default SCSI UNMAP sizing (65536 sectors/cmd, up to 32 "
               "descriptors)"},
       }) {
    SCOPED_TRACE(c.line);
    SimBridgeProfile p = SimBridgeProfile::UasUnmap(c.lba, c.desc);
    p.blockLimitsPage = c.page;
    m->Bridge().SetProfile(kDiskNo, p);
    doneCalls = 0;
    Run(SpacedRanges(1), TRunMode::rmExecute);
    EXPECT_EQ(Lines({"SCSI UNMAP sizing", "Block Limits VPD (0xB0)"}).back(), std::string("[INFO] ") + c.line);
  }
}

TEST_F(RunTest, QuietIterationsDropTheBatchesInfoLinesButKeepWarnings) {
  options.QuietIterations = true;
  m->Bridge().SetProfile(kDiskNo, NoRawPaths());
  options.BatchEntries = 1;
  Run({{kVolStart + 10, 8}, {100, 8}}, TRunMode::rmExecute);
  EXPECT_TRUE(
      Logged("[INFO] Repetitive iteration messages excluded by option: per-batch info lines are not logged "
             "(warnings/errors still are)"));
  EXPECT_FALSE(Logged("DeviceIoControl(DSM TRIM)"));  // the request's own INFO line
  EXPECT_TRUE(Logged("[WARN] DSM TRIM applied 0 ranges"));
  EXPECT_TRUE(Logged("[ERROR] Batch 1 failed: "));
  EXPECT_EQ(Drive().TrimmedRanges(), (TRanges{{kVolStart + 10, 8}}));
  // The suppression ends with the run.
  log.Info("after the run");
  EXPECT_TRUE(Logged("after the run"));
}

TEST_F(RunTest, CancelBeforeTheFirstBatchSendsNothingAndCountsEveryBatchSkipped) {
  options.BatchEntries = 2;
  auto* run = new TTrimExecutionThread(disk, SpacedRanges(6), TTrimMode::tmFreeSpace, options, TRunMode::rmExecute,
                                       &log, nullptr, [this](const TRunStats& s) { stats = s; });
  run->RequestCancel();
  TThreadLink link = run->Link();
  run->Start();
  ASSERT_TRUE(link.WaitFor());
  EXPECT_EQ(stats.PlannedBatches, 3);
  EXPECT_EQ(stats.SkippedBatches, 3);
  EXPECT_EQ(stats.DoneBatches, 0);
  EXPECT_TRUE(Logged("[WARN] Cancellation requested, stopping safely after current batch boundary."));
  EXPECT_TRUE(Drive().Ledger().empty());
}

TEST_F(RunTest, CancelBetweenBatchesKeepsWhatWasReleasedAndSendsNoMore) {
  options.BatchEntries = 2;
  const TTrimRangeArray ranges = SpacedRanges(6);
  TTrimExecutionThread* run = nullptr;
  run = new TTrimExecutionThread(
      disk, ranges, TTrimMode::tmFreeSpace, options, TRunMode::rmExecute, &log,
      [&](uint32_t, uint32_t, const std::string&) { run->RequestCancel(); },  // after the first batch
      [this](const TRunStats& s) { stats = s; });
  TThreadLink link = run->Link();
  run->Start();
  ASSERT_TRUE(link.WaitFor());
  EXPECT_EQ(stats.DoneBatches, 1);
  EXPECT_EQ(stats.SucceededBatches, 1);
  EXPECT_EQ(stats.FailedBatches, 0);
  EXPECT_EQ(stats.SkippedBatches, 2);
  EXPECT_EQ(Drive().TrimmedRanges(), AsLedger(TTrimRangeArray(ranges.begin(), ranges.begin() + 2)));
}

TEST_F(RunTest, TheUpFrontLockGoesOnAfterAVolumeThatRefusesIt) {
  m->Storage().AddVolume('F', {{kDiskNo, (kVolStart + kVolSectors) * 512, kVolSectors * 512}})->fileSystemName =
      "exFAT";
  TVolumeInfo f = disk.Volumes[0];
  f.DriveLetter = "F:";
  f.RootPath = "F:\\";
  f.PartitionOffset = (kVolStart + kVolSectors) * 512;
  disk.Volumes.push_back(f);
  m->VolumeLocks().SetBehaviour('E', SimVolumeLockBehaviour{SimOutcome::Error(5), {}, 0});
  options.ForcedPath = TForcedTrimPath::ftpAtaPassThrough;
  m->Desktop().ScriptAnswers({IDOK});  // the reformat notice
  Run(SpacedRanges(2), TRunMode::rmExecute);
  // No stage may run after the failed lock; the batch says why.
  ASSERT_EQ(stats.Failures.size(), 1u);
  EXPECT_EQ(stats.Failures[0].Message, "Volume lock failed or timed out; close apps using the drive and retry");
  EXPECT_EQ(stats.Failures[0].WinErr, 5u);
  EXPECT_TRUE(Drive().Ledger().empty());
  EXPECT_EQ(Lines({"FSCTL_LOCK_VOLUME failed", "Volume dismounted"}),
            (std::vector<std::string>{"[WARN] FSCTL_LOCK_VOLUME failed: \\\\.\\E: (winerr=5, elapsed_ms=0)",
                                      "[WARN] FSCTL_LOCK_VOLUME failed or timed out: \\\\.\\E: (winerr=5)",
                                      "[INFO] Volume dismounted: \\\\.\\F:"}));
  // The fixture's end checks that both handles were closed.
}

}  // namespace

// ---- SCSI UNMAP, the ATA stage, the end of the run ------------------------------------------

namespace {

struct Descriptor {
  uint64_t lba;
  uint32_t count;
  bool operator==(const Descriptor&) const = default;
};

// The block descriptors of every UNMAP command that reached the bridge, one list per command.
std::vector<std::vector<Descriptor>> UnmapCommands(const std::vector<SimRequestRecord>& Requests) {
  std::vector<std::vector<Descriptor>> r;
  for (const SimRequestRecord& q : Requests) {
    if (q.command != SimCommand::Unmap) continue;
    std::vector<Descriptor> d;
    for (size_t at = 8; at + 16 <= q.data.size(); at += 16) {
      uint64_t lba = 0;
      uint32_t n = 0;
      for (int i = 0; i < 8; i++) lba = lba << 8 | q.data[at + i];
      for (int i = 8; i < 12; i++) n = n << 8 | q.data[at + i];
      d.push_back({lba, n});
    }
    r.push_back(d);
  }
  return r;
}

size_t CountOf(const std::vector<SimRequestRecord>& Requests, SimCommand C) {
  return static_cast<size_t>(
      std::count_if(Requests.begin(), Requests.end(), [C](const SimRequestRecord& q) { return q.command == C; }));
}

}  // namespace

TEST_F(RunTest, UnmapJoinsTouchingRangesIntoSpansAndCutsThemToTheSizing) {
  // Two touching ranges and one after a gap: the gap is never released.
  const uint64_t a = kVolStart + 100;
  const TTrimRangeArray ranges = {{a, 65535}, {a + 65535, 10}, {a + 65600, 4}};
  struct Case {
    uint32_t descriptors;
    std::vector<std::vector<Descriptor>> commands;
  };
  for (const Case& c : {Case{32, {{{a, 65536}, {a + 65536, 9}}, {{a + 65600, 4}}}},
                        Case{1, {{{a, 65536}}, {{a + 65536, 9}}, {{a + 65600, 4}}}}}) {
    SCOPED_TRACE(c.descriptors);
    // No block count limit of its own: the default cap of 65536 per descriptor applies.
    m->Bridge().SetProfile(kDiskNo, SimBridgeProfile::UasUnmap(0, c.descriptors));
    m->Bridge().ClearRequests();
    Drive().ClearLedger();
    doneCalls = 0;
    options.ForcedPath = TForcedTrimPath::ftpScsiUnmap;
    Run(ranges, TRunMode::rmExecute);
    EXPECT_EQ(stats.SucceededBatches, 1);
    EXPECT_EQ(UnmapCommands(Requests()), c.commands);
    EXPECT_EQ(Drive().TrimmedRanges(), (TRanges{{a, 65545}, {a + 65600, 4}}));
  }
}

TEST_F(RunTest, ABridgeRejectingEveryUnmapListShrinksTheSizingThenGivesUp) {
  SimBridgeProfile p = SimBridgeProfile::UasUnmap(65536, 32);
  p.writeSameUnmap = false;
  p.pt16 = p.pt12 = false;
  m->Bridge().SetProfile(kDiskNo, p);
  SimFault f;
  f.command = SimCommand::Unmap;
  f.kind = SimFaultKind::ScsiStatus;
  f.sense = SimFixedSense(5, 0x26, 0);
  m->Bridge().AddFault(kDiskNo, f);
  options.ForcedPath = TForcedTrimPath::ftpScsiUnmap;
  m->Desktop().ScriptAnswers({IDOK});  // the reformat notice
  Run({{kVolStart + 100, 70000}}, TRunMode::rmExecute);
  EXPECT_EQ(
      Lines({"SCSI UNMAP: "}),
      (std::vector<std::string>{
          "[INFO] SCSI UNMAP: bridge rejected multi-descriptor list; switching to single-descriptor mode",
          "[INFO] SCSI UNMAP: bridge rejected descriptor size; shrinking per-command LBA cap to 32768 sectors",
          "[INFO] SCSI UNMAP: bridge rejected descriptor size; shrinking per-command LBA cap to 16384 sectors",
          "[INFO] SCSI UNMAP: bridge rejected descriptor size; shrinking per-command LBA cap to 8192 sectors",
          "[INFO] SCSI UNMAP: bridge rejected descriptor size; shrinking per-command LBA cap to 4096 sectors"}));
  // Every command began at the same block: nothing was released and nothing skipped over.
  for (const auto& cmd : UnmapCommands(Requests())) EXPECT_EQ(cmd.front().lba, kVolStart + 100);
  EXPECT_TRUE(
      Logged("[WARN] SCSI UNMAP failed (winerr=1117, sense=5/38/0), falling back to WRITE SAME(16)+UNMAP"));
  EXPECT_EQ(stats.FailedBatches, 1);
  EXPECT_TRUE(Drive().Ledger().empty());
}

TEST_F(RunTest, AtaStageWalksEveryConfigurationWithItsRetries) {
  disk.Transport = TTransportKind::tkBOT;
  m->Bridge().SetProfile(kDiskNo, SimBridgeProfile::BotAtaOnly());
  SimFault f;
  f.command = SimCommand::AtaDsm;
  f.winError = ERROR_GEN_FAILURE;
  m->Bridge().AddFault(kDiskNo, f);
  options.AtaRetries = 3;
  const uint64_t t0 = m->Kernel().NowMs();
  Run(SpacedRanges(4), TRunMode::rmExecute);
  EXPECT_EQ(CountOf(Requests(), SimCommand::AtaDsm), 20u);
  const auto retries = Lines({"ATA PT retry"});
  ASSERT_EQ(retries.size(), 15u);
  EXPECT_EQ(retries[0], "[WARN] ATA PT retry 1/3 after 200 ms");
  EXPECT_EQ(retries[2], "[WARN] ATA PT retry 3/3 after 600 ms");
  EXPECT_GE(m->Kernel().NowMs() - t0, 5u * 1200u);
  ASSERT_EQ(stats.Failures.size(), 1u);
  EXPECT_EQ(stats.Failures[0].Message, "All CDB configs and 4 retries exhausted (winerr=31, sense=0/0/0)");
  EXPECT_EQ(stats.Failures[0].Retries, 3);
  EXPECT_TRUE(Drive().Ledger().empty());
}

TEST_F(RunTest, APayloadTooLargeForTheTwelveByteBlockSkipsItsConfigurations) {
  disk.Transport = TTransportKind::tkBOT;
  SimBridgeProfile p = SimBridgeProfile::BotAtaOnly();
  p.pt16 = false;
  m->Bridge().SetProfile(kDiskNo, p);
  options.BatchEntries = 19200;  // 300 payload blocks
  Run(SpacedRanges(19200, 1000), TRunMode::rmExecute);
  EXPECT_EQ(Lines({"Skipping ATA", "Trying ATA"}),
            (std::vector<std::string>{
                "[INFO] Trying ATA Pass-Through config: DMA+EXTEND (protocol=6, extend=Y, ck_cond=Y)",
                "[INFO] Trying ATA Pass-Through config: DMA (protocol=6, extend=N, ck_cond=N)",
                "[INFO] Trying ATA Pass-Through config: PIO (protocol=5, extend=N, ck_cond=N)",
                "[WARN] Skipping ATA Pass-Through config PT12-DMA: payload sectors=300 exceed PT12 limit (255)",
                "[WARN] Skipping ATA Pass-Through config PT12-PIO: payload sectors=300 exceed PT12 limit (255)"}));
  ASSERT_EQ(stats.Failures.size(), 1u);
  EXPECT_EQ(stats.Failures[0].PayloadSectors, 300);
  EXPECT_TRUE(Drive().Ledger().empty());
}

TEST_F(RunTest, AReportThatCannotBeWrittenStillEndsTheRunOnce) {
  std::string cwd;
  Win().GetCurrentDirectoryW(&cwd);
  FileFault ro;
  ro.readOnly = true;
  m->Files().SetFault(cwd, ro);
  Run(SpacedRanges(3), TRunMode::rmDryRun);  // asserts the one completion call
  EXPECT_EQ(stats.SucceededBatches, 1);
  EXPECT_TRUE(Logged("[ERROR] Dry-run report could not be written: "));
  EXPECT_TRUE(Logged("Total planned (dry-run): sectors=24 (0.000 GiB)"));
}

TEST_F(RunTest, ACancelDuringACoveringReTrimCountsTheRestOnce) {
  Ntfs();
  options.ForcedPath = TForcedTrimPath::ftpWindowsReTrim;
  options.BatchEntries = 2;
  m->Processes().SetFreeRanges([](char) { return TRanges{{kVolStart + 100, 8}}; });
  m->Processes().SetPowerShell(SimPowerShellScript{});
  Win().GetStdHandle(STD_INPUT_HANDLE);  // the console's handle is the machine's, made on first use
  handlesBefore = m->Kernel().OpenHandleCount();
  TTrimExecutionThread* run = nullptr;
  auto* t = new TTrimExecutionThread(
      disk, SpacedRanges(6), TTrimMode::tmFreeSpace, options, TRunMode::rmExecute, &log,
      [&](uint32_t, uint32_t, const std::string&) { run->RequestCancel(); },
      [this](const TRunStats& s) {
        stats = s;
        doneCalls++;
      });
  run = t;
  TThreadLink link = t->Link();
  t->Start();
  ASSERT_TRUE(link.WaitFor());
  EXPECT_EQ(doneCalls, 1);
  EXPECT_EQ(stats.PlannedBatches, 3);
  EXPECT_EQ(stats.SucceededBatches, 1);
  EXPECT_EQ(stats.SkippedBatches, 2);
  EXPECT_TRUE(stats.Cancelled);
  EXPECT_TRUE(
      Logged("[INFO] Total trimmed: managed by Windows Optimize-Volume -ReTrim (sector count not reported)"));
  EXPECT_EQ(Drive().TrimmedRanges(), (TRanges{{kVolStart + 100, 8}}));
}

TEST_F(RunTest, EntriesPerBatchAtEitherEndOfTheirRange) {
  // A negative count ends the run fatally; the largest one takes every range in one batch.
  options.BatchEntries = -1;
  Run(SpacedRanges(40), TRunMode::rmDryRun);
  EXPECT_EQ(stats.FailedBatches, 1);
  EXPECT_TRUE(stats.Failures.empty());
  EXPECT_TRUE(Logged("[ERROR] Executor fatal: Invalid batch entries: -1"));

  doneCalls = 0;
  options.BatchEntries = 2147483647;
  Run(SpacedRanges(40000, 1000), TRunMode::rmDryRun);
  EXPECT_EQ(stats.PlannedBatches, 1);
  EXPECT_EQ(stats.SucceededBatches, 1);
  EXPECT_TRUE(Requests().empty());
}

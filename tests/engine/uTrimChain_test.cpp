// The fallback chain of a run, one scenario per bridge: which stage ends up releasing the
// sectors, what the log says on the way, which questions are asked, and exactly which sectors
// the drive's ledger shows released.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "core/uLang.h"
#include "engine/TrimRunTestUtil.h"
#include "engine/uTrimRun.h"
#include "platform/sim/storage/SimBridge.h"
#include "platform/sim/kernel/SimDesktop.h"
#include "platform/sim/kernel/SimKernel.h"
#include "platform/sim/kernel/SimProcesses.h"
#include "platform/sim/files/SimVolumeFormat.h"

using namespace plat;
using namespace plat::sim;

namespace {

constexpr int kDiskNo = 1;
constexpr uint64_t kDiskSectors = 1 << 21;
constexpr int64_t kVolStart = 2048;      // sectors
constexpr int64_t kVolSectors = 131072;  // 64 MiB

using TRanges = std::vector<std::pair<uint64_t, uint64_t>>;
using TLines = std::vector<std::string>;

// Count ranges of Len sectors inside the volume, Step apart.
TTrimRangeArray Spaced(int Count, uint64_t Len = 8, uint64_t Step = 16, uint64_t From = kVolStart + 100) {
  TTrimRangeArray r;
  for (int i = 0; i < Count; i++) r.push_back({From + Step * i, Len});
  return r;
}

enum class TExpectLedger { Planned, Nothing, WholeDisk };

struct Scenario {
  const char* name;
  TTransportKind transport = TTransportKind::tkUAS;
  SimBridgeProfile profile;
  bool driveTrims = true;  // IDENTIFY reports TRIM
  std::vector<SimFault> faults = {};
  TTrimRangeArray ranges = {};
  TTrimMode mode = TTrimMode::tmFreeSpace;
  int batchEntries = 0;
  std::vector<int> answers = {};
  // E: formatted NTFS with allocated files in it; the plan is then its free clusters.
  bool ntfs = false;
  TForcedTrimPath forced = TForcedTrimPath::ftpAuto;
  bool expert = false;      // options.ExpertAtaRetry
  int cancelAfter = 0;      // the user cancels once this many batches have reported progress (0: never)
  uint32_t cancelAtMs = 0;  // ... or this long after the start, in virtual time (0: never)
  std::optional<SimPowerShellScript> powerShell = {};
  // Expectations.
  int succeeded = 0, failed = 0, skipped = 0;
  std::string failure = {};  // the first failure's message; empty: none
  std::vector<const char*> prefixes = {};
  TLines lines = {};                                    // the log lines holding one of the prefixes, in order
  std::vector<std::pair<TTextId, TTextId>> boxes = {};  // (caption, text) ids of the boxes shown, in order
  TExpectLedger ledger = TExpectLedger::Planned;
  int released = -1;                            // Planned: how many of the planned ranges were released (-1: all)
  std::vector<std::string> commands = {};       // the ledger's command names, deduplicated in order
  uint64_t elapsedFromMs = 0, elapsedToMs = 0;  // the run's virtual duration lies in [from, to) when to is set
  std::function<void(const std::vector<SimRequestRecord>&)> requests = {};  // extra checks on the bridge's record
};

std::ostream& operator<<(std::ostream& o, const Scenario& s) { return o << s.name; }

SimBridgeProfile Uas(uint32_t MaxLba = 0, uint32_t MaxDesc = 0) {
  SimBridgeProfile p = SimBridgeProfile::UasUnmap(MaxLba, MaxDesc);
  p.storageTrimError = ERROR_INVALID_FUNCTION;  // so the raw paths are reached
  return p;
}

SimBridgeProfile Bot(std::function<void(SimBridgeProfile&)> Edit = nullptr) {
  SimBridgeProfile p = SimBridgeProfile::BotAtaOnly();
  if (Edit) Edit(p);
  return p;
}

SimFault Fault(SimCommand C, int Nth, SimFaultKind K) {
  SimFault f;
  f.command = C;
  f.nth = Nth;
  f.kind = K;
  return f;
}

size_t CountOf(const std::vector<SimRequestRecord>& R, SimCommand C) {
  return std::count_if(R.begin(), R.end(), [&](const SimRequestRecord& r) { return r.command == C; });
}

struct ChainTest : ::testing::TestWithParam<Scenario>, TRunFixture {
  std::shared_ptr<SimDisk> simDisk;
  TDiskInfo disk = RunTestDisk(kDiskNo);
  TTrimExecOptions options{.TimeoutMs = 5000};
  TRunStats stats;
  int doneCalls = 0;

  ChainTest() {
    simDisk = m->Storage().AddDisk(kDiskNo, kDiskSectors);
    m->Storage().AddVolume('E', {{kDiskNo, kVolStart * 512, kVolSectors * 512}})->fileSystemName = "exFAT";
    disk.Volumes.push_back(RunTestVolume('E', kDiskNo, kVolStart, kVolSectors, "exFAT"));
    SetCurrentLanguage(TUiLanguage::ulEnglish);
  }

  void Run(const Scenario& s) {
    TTrimExecutionThread* run = nullptr;
    int reported = 0;
    TTrimProgressEvent progress;
    if (s.cancelAfter)
      progress = [&](uint32_t, uint32_t, const std::string&) {
        if (++reported == s.cancelAfter) run->RequestCancel();
      };
    run = new TTrimExecutionThread(disk, s.ranges, s.mode, options, TRunMode::rmExecute, &log, progress,
                                   [this](const TRunStats& r) {
                                     stats = r;
                                     doneCalls++;
                                   });
    TThreadLink link = run->Link();
    std::unique_ptr<TLambdaThread> canceller;
    if (s.cancelAtMs)
      canceller = std::make_unique<TLambdaThread>([&](TLambdaThread&) {
        Win().Sleep(s.cancelAtMs);
        run->RequestCancel();
      });
    run->Start();
    if (canceller) canceller->Start();
    const bool ended = link.WaitFor();
    if (canceller) canceller->WaitFor();
    ASSERT_TRUE(ended);
    ASSERT_EQ(doneCalls, 1);
  }

  TLines Lines(const std::vector<const char*>& Prefixes) {
    TLines r;
    for (const std::string& l : LogLines())
      for (const char* p : Prefixes)
        if (l.find(p) != std::string::npos) {
          r.push_back(l);
          break;
        }
    return r;
  }

  // Sectors of E: that hold file-system data: none of them may ever be released.
  TRanges inUse;

  // NTFS on E: with a file, a hole where a deleted file was, and another file; the plan is its
  // free clusters cut into ranges one ATA entry can carry.
  void FormatWithFiles(Scenario& s) {
    ASSERT_TRUE(FormatVolume(m->Storage(), 'E', SimFsKind::kNtfs, 512, 4096));
    const SimClusterRuns deleted = AllocateFile(m->Storage(), 'E', 300);
    ASSERT_FALSE(AllocateFile(m->Storage(), 'E', 200).empty());
    ASSERT_TRUE(ReleaseRuns(m->Storage(), 'E', deleted));
    disk.Volumes[0].FileSystem = "NTFS";
    s.ranges.clear();
    const auto free = FreeDiskRanges(m->Storage(), 'E');
    for (const auto& [first, count] : free)
      for (uint64_t done = 0; done < count; done += 65535)
        s.ranges.push_back({first + done, std::min<uint64_t>(65535, count - done)});
    inUse = InUseBetween(free, kVolStart, kVolStart + kVolSectors);
    ASSERT_GE(inUse.size(), 2u);
  }

  void CheckNoAllocatedSector() { ExpectNothingReleasedOver(simDisk->drive, inUse); }

  // Whatever the scenario: a free-space run releases nothing outside its planned ranges.
  void CheckNothingOutsideThePlan(const Scenario& s) {
    if (s.mode != TTrimMode::tmFreeSpace) return;
    const TRanges plan = Merged(s.ranges);
    for (const SimTrimRecord& r : simDisk->drive.Ledger()) {
      const bool inside = std::any_of(plan.begin(), plan.end(), [&](const auto& p) {
        return r.lba >= p.first && r.lba + r.count <= p.first + p.second;
      });
      EXPECT_TRUE(inside) << r.command << " released " << r.lba << "+" << r.count << " outside the plan";
    }
  }
};

TEST_P(ChainTest, Scenario) {
  Scenario s = GetParam();
  if (s.ntfs) FormatWithFiles(s);
  disk.Transport = s.transport;
  options.ExpertAtaRetry = s.expert;
  options.ForcedPath = s.forced;
  if (s.powerShell) m->Processes().SetPowerShell(*s.powerShell);
  m->Bridge().SetProfile(kDiskNo, s.profile);
  if (!s.driveTrims) {
    SimIdentity id;
    id.trimSupported = false;
    m->Bridge().SetIdentity(kDiskNo, id);
  }
  for (const SimFault& f : s.faults) m->Bridge().AddFault(kDiskNo, f);
  if (!s.answers.empty()) m->Desktop().ScriptAnswers(s.answers);
  options.BatchEntries = s.batchEntries;
  const uint64_t t0 = m->Kernel().NowMs();
  Run(s);
  if (s.elapsedToMs) {
    EXPECT_GE(m->Kernel().NowMs() - t0, s.elapsedFromMs);
    EXPECT_LT(m->Kernel().NowMs() - t0, s.elapsedToMs);
  }

  EXPECT_EQ(stats.SucceededBatches, s.succeeded);
  EXPECT_EQ(stats.FailedBatches, s.failed);
  EXPECT_EQ(stats.SkippedBatches, s.skipped);
  EXPECT_EQ(stats.SucceededBatches + stats.FailedBatches + stats.SkippedBatches, stats.PlannedBatches);
  if (s.failure.empty()) {
    EXPECT_TRUE(stats.Failures.empty());
  } else {
    ASSERT_FALSE(stats.Failures.empty());
    EXPECT_EQ(stats.Failures[0].Message, s.failure);
  }
  EXPECT_EQ(Lines(s.prefixes), s.lines);

  std::vector<std::pair<std::string, std::string>> boxes, wanted;
  for (const MessageBoxCall& b : m->Desktop().Boxes()) boxes.push_back({b.caption, b.text});
  for (const auto& [caption, text] : s.boxes) wanted.push_back({GetLangText(caption), GetLangText(text)});
  EXPECT_EQ(boxes, wanted);

  CheckNothingOutsideThePlan(s);
  CheckNoAllocatedSector();
  switch (s.ledger) {
    case TExpectLedger::Planned: {
      const size_t n = s.released < 0 ? s.ranges.size() : static_cast<size_t>(s.released);
      EXPECT_EQ(simDisk->drive.TrimmedRanges(), Merged(TTrimRangeArray(s.ranges.begin(), s.ranges.begin() + n)));
      break;
    }
    case TExpectLedger::Nothing: EXPECT_TRUE(simDisk->drive.Ledger().empty()); break;
    case TExpectLedger::WholeDisk: EXPECT_EQ(simDisk->drive.TrimmedRanges(), (TRanges{{0, kDiskSectors}})); break;
  }
  std::vector<std::string> commands;
  for (const SimTrimRecord& r : simDisk->drive.Ledger())
    if (std::find(commands.begin(), commands.end(), r.command) == commands.end()) commands.push_back(r.command);
  EXPECT_EQ(commands, s.commands);
  if (s.requests) s.requests(m->Bridge().Requests());
}

const std::vector<const char*> kAtaLines = {"Trying ATA Pass-Through config", "ATA PT retry", "Batch "};
const std::vector<const char*> kScsiLines = {"[WARN] DSM TRIM",
                                             "SCSI UNMAP sizing",
                                             "Block Limits VPD (0xB0)",
                                             "SCSI UNMAP:",
                                             "SCSI UNMAP failed",
                                             "SCSI UNMAP hang",
                                             "WRITE SAME(16)+UNMAP probe",
                                             "Trying ATA",
                                             "Batch "};

constexpr const char* kDmaExtend =
    "[INFO] Trying ATA Pass-Through config: DMA+EXTEND (protocol=6, extend=Y, ck_cond=Y)";
constexpr const char* kDma = "[INFO] Trying ATA Pass-Through config: DMA (protocol=6, extend=N, ck_cond=N)";
constexpr const char* kPio = "[INFO] Trying ATA Pass-Through config: PIO (protocol=5, extend=N, ck_cond=N)";
constexpr const char* kPt12Dma =
    "[INFO] Trying ATA Pass-Through config: PT12-DMA (protocol=6, extend=Y, ck_cond=Y)";
constexpr const char* kDsmFailed = "[WARN] DSM TRIM failed (winerr=1), falling back to SCSI UNMAP";
constexpr const char* kDefaultSizing =
    "[INFO] Block Limits VPD (0xB0) unavailable; using default SCSI UNMAP sizing (65536 sectors/cmd, up to 32 "
    "descriptors)";
constexpr const char* kVpdSizing =
    "[INFO] SCSI UNMAP sizing from Block Limits VPD: max_lba_per_cmd=65536 sectors, max_descriptors=32";

// The disk in ranges one ATA entry can carry: 33 of them, two batches.
TTrimRangeArray WholeDisk() {
  TTrimRangeArray r;
  for (uint64_t at = 0; at < kDiskSectors; at += 65535)
    r.push_back({at, std::min<uint64_t>(65535, kDiskSectors - at)});
  return r;
}

SimBridgeProfile WithoutBlockLimits(SimBridgeProfile p) {
  p.blockLimitsPage = false;
  return p;
}

std::vector<SimFault> Rejecting26h(int Count) {
  std::vector<SimFault> r;
  for (int n = 1; n <= Count; n++) {
    SimFault f = Fault(SimCommand::Unmap, n, SimFaultKind::ScsiStatus);
    f.sense = SimDescriptorSense(0x05, 0x26, 0x00);
    r.push_back(f);
  }
  return r;
}

std::vector<Scenario> Scenarios() {
  std::vector<Scenario> v;

  v.push_back({.name = "BotAtaPassThrough16DmaExtend",
               .transport = TTransportKind::tkBOT,
               .profile = Bot(),
               .ranges = Spaced(70),
               .succeeded = 3,
               .prefixes = kAtaLines,
               .lines = {kDmaExtend, kDmaExtend, kDmaExtend},
               .commands = {"ATA DSM"}});

  // Every later batch starts at the configuration that worked.
  v.push_back({.name = "BotBridgeNeedingPio",
               .transport = TTransportKind::tkBOT,
               .profile = Bot([](SimBridgeProfile& p) {
                 p.protocolDma = false;
                 p.extend = false;
               }),
               .ranges = Spaced(70),
               .succeeded = 3,
               .prefixes = kAtaLines,
               .lines = {kDmaExtend, kDma, kPio, kPio, kPio},
               .commands = {"ATA DSM"}});

  v.push_back({.name = "BotBridgeWithOnlyTheTwelveByteBlock",
               .transport = TTransportKind::tkBOT,
               .profile = Bot([](SimBridgeProfile& p) { p.pt16 = false; }),
               .ranges = Spaced(40),
               .batchEntries = 20,
               .succeeded = 2,
               .prefixes = kAtaLines,
               .lines = {kDmaExtend, kDma, kPio, kPt12Dma, kPt12Dma},
               .commands = {"ATA DSM"}});

  v.push_back({.name = "UasUnmapJoinsTouchingRanges",
               .profile = Uas(),
               .ranges = Spaced(10, 8, 8),
               .succeeded = 1,
               .prefixes = kScsiLines,
               .lines = {kVpdSizing, kDsmFailed},
               .commands = {"UNMAP"},
               .requests = [](const std::vector<SimRequestRecord>& r) {
                 ASSERT_EQ(CountOf(r, SimCommand::Unmap), 1u);
                 for (const SimRequestRecord& x : r)
                   if (x.command == SimCommand::Unmap) {
                     EXPECT_EQ(x.data.size(), 8u + 16u) << "one span";
                   }
               }});

  v.push_back({.name = "UasUnmapSpacedRanges",
               .profile = Uas(),
               .ranges = Spaced(70),
               .succeeded = 3,
               .prefixes = kScsiLines,
               .lines = {kVpdSizing, kDsmFailed},
               .commands = {"UNMAP"},
               .requests = [](const std::vector<SimRequestRecord>& r) {
                 EXPECT_EQ(CountOf(r, SimCommand::Unmap), 70u);  // a gap is never bridged
               }});

  // A span longer than one descriptor's cap goes out as a list of two.
  v.push_back(
      {.name = "UasRejectingMultiDescriptorUnmap",
       .profile = WithoutBlockLimits(Uas(0, 1)),
       .ranges = {{kVolStart + 100, 100000}, {kVolStart + 100200, 8}},
       .succeeded = 1,
       .prefixes = kScsiLines,
       .lines = {kDefaultSizing, kDsmFailed,
                 "[INFO] SCSI UNMAP: bridge rejected multi-descriptor list; switching to single-descriptor mode"},
       .commands = {"UNMAP"},
       .requests = [](const std::vector<SimRequestRecord>& r) {
         EXPECT_EQ(CountOf(r, SimCommand::Unmap), 4u);  // the rejected list, its two halves, the next span
       }});

  v.push_back(
      {.name = "UasRejectingEveryUnmapSizeDownTo4096",
       .profile = WithoutBlockLimits(Uas()),
       .faults = Rejecting26h(5),
       .ranges = {{kVolStart + 100, 100000}},
       .succeeded = 1,
       .prefixes = kScsiLines,
       .lines =
           {kDefaultSizing, kDsmFailed,
            "[INFO] SCSI UNMAP: bridge rejected multi-descriptor list; switching to single-descriptor mode",
            "[INFO] SCSI UNMAP: bridge rejected descriptor size; shrinking per-command LBA cap to 32768 sectors",
            "[INFO] SCSI UNMAP: bridge rejected descriptor size; shrinking per-command LBA cap to 16384 sectors",
            "[INFO] SCSI UNMAP: bridge rejected descriptor size; shrinking per-command LBA cap to 8192 sectors",
            "[INFO] SCSI UNMAP: bridge rejected descriptor size; shrinking per-command LBA cap to 4096 sectors"},
       .commands = {"UNMAP"},
       .requests = [](const std::vector<SimRequestRecord>& r) {
         EXPECT_EQ(CountOf(r, SimCommand::Unmap), 5u + 25u);  // 100000 sectors in 4096-sector commands
       }});

  // 5/24h is not the sizing answer: the stage gives up and WRITE SAME(16) takes the batch.
  v.push_back(
      {.name = "UasRefusingABigUnmapWithInvalidCdbFallsToWriteSame",
       .profile = WithoutBlockLimits(Uas(4096, 0)),
       .ranges = {{kVolStart + 100, 60000}},
       .succeeded = 1,
       .prefixes = kScsiLines,
       .lines = {kDefaultSizing, kDsmFailed,
                 "[WARN] SCSI UNMAP failed (winerr=1117, sense=5/36/0), falling back to WRITE SAME(16)+UNMAP",
                 "[INFO] WRITE SAME(16)+UNMAP probe: lba=2148, count=8 (small probe before committing)",
                 "[INFO] WRITE SAME(16)+UNMAP probe OK (elapsed=0 ms); using as fallback for remaining batches"},
       .commands = {"WRITE SAME(16)"}});

  v.push_back(
      {.name = "UasWithOnlyWriteSame16",
       .profile =
           [] {
             SimBridgeProfile p = Uas();
             p.unmap = false;
             return p;
           }(),
       .ranges = Spaced(20),
       .succeeded = 1,
       .prefixes = kScsiLines,
       .lines = {kVpdSizing, kDsmFailed,
                 "[WARN] SCSI UNMAP failed (winerr=1117, sense=5/32/0), falling back to WRITE SAME(16)+UNMAP",
                 "[INFO] WRITE SAME(16)+UNMAP probe: lba=2148, count=8 (small probe before committing)",
                 "[INFO] WRITE SAME(16)+UNMAP probe OK (elapsed=0 ms); using as fallback for remaining batches"},
       .commands = {"WRITE SAME(16)"}});

  v.push_back(
      {.name = "DriveLeavingTheBusInTheSecondBatch",
       .transport = TTransportKind::tkBOT,
       .profile = Bot(),
       .faults = {Fault(SimCommand::AtaDsm, 2, SimFaultKind::LeaveBus)},
       .ranges = Spaced(6),
       .batchEntries = 2,
       .answers = {IDOK},
       .succeeded = 1,
       .failed = 1,
       .skipped = 1,
       .failure = "Disk left the USB bus (winerr=1167); no further commands sent",
       .prefixes = {"USB bus disconnect", "Batch "},
       .lines = {"[ERROR] Batch 1 failed: Disk left the USB bus (winerr=1167); no further commands sent",
                 "[INFO] USB bus disconnect detected (winerr=55 in batch and/or disk path reopen); showing "
                 "user guidance"},
       .boxes = {{TTextId::InfoCaption, TTextId::UsbDisconnected}},
       .released = 2,
       .commands = {"ATA DSM"},
       .requests = [](const std::vector<SimRequestRecord>& r) {
         // Nothing reaches the bridge after the command the drive left on.
         int dsm = 0;
         size_t at = 0;
         for (size_t i = 0; i < r.size(); i++)
           if (r[i].command == SimCommand::AtaDsm && ++dsm == 2) at = i;
         ASSERT_EQ(dsm, 2);
         EXPECT_EQ(at + 1, r.size());
       }});

  v.push_back({.name = "BridgeWith4096ByteBlocksGoesToAta",
               .profile =
                   [] {
                     SimBridgeProfile p = SimBridgeProfile::Uas4Kn();
                     p.storageTrimError = ERROR_INVALID_FUNCTION;
                     return p;
                   }(),
               .ranges = Spaced(10),
               .succeeded = 1,
               .prefixes = {"SCSI UNMAP and WRITE SAME(16) not used", "Trying ATA", "Batch "},
               .lines = {"[WARN] SCSI UNMAP and WRITE SAME(16) not used: disk reports 4096-byte logical sectors "
                         "(planned ranges count 512-byte sectors)",
                         kDmaExtend},
               .commands = {"ATA DSM"},
               .requests =
                   [](const std::vector<SimRequestRecord>& r) {
                     EXPECT_EQ(CountOf(r, SimCommand::Unmap), 0u);
                     EXPECT_EQ(CountOf(r, SimCommand::WriteSame16), 0u);
                   }});

  v.push_back({.name = "FullDeviceCutShortIsNoSuccess",
               .transport = TTransportKind::tkBOT,
               .profile = Bot(),
               .faults = {Fault(SimCommand::AtaDsm, 2, SimFaultKind::LeaveBus)},
               .ranges = WholeDisk(),
               .mode = TTrimMode::tmFullDevice,
               .answers = {IDOK},
               .succeeded = 1,
               .failed = 1,
               .failure = "Disk left the USB bus (winerr=1167); no further commands sent",
               .prefixes = {"Batch "},
               .lines = {"[ERROR] Batch 1 failed: Disk left the USB bus (winerr=1167); no further commands sent"},
               .boxes = {{TTextId::InfoCaption, TTextId::UsbDisconnected}},
               .released = 32,
               .commands = {"ATA DSM"}});

  v.push_back({.name = "FullDeviceReleasesEverySector",
               .transport = TTransportKind::tkBOT,
               .profile = Bot(),
               .ranges = WholeDisk(),
               .mode = TTrimMode::tmFullDevice,
               .succeeded = 2,
               .prefixes = {"Batch "},
               .lines = {},
               .ledger = TExpectLedger::WholeDisk,
               .commands = {"ATA DSM"}});

  // A bridge that answers UNMAP with an I/O error only after the hang threshold: nothing else
  // is sent to it, and the user is told to reconnect it.
  v.push_back(
      {.name = "UnmapHangStopsTheChain",
       .profile =
           [] {
             SimBridgeProfile p = Uas();
             p.unmap = false;
             return p;
           }(),
       .faults = {[] {
         SimFault f = Fault(SimCommand::Unmap, 1, SimFaultKind::Delay);
         f.delayMs = 2000;  // the threshold, within the 2 s Windows waits
         return f;
       }()},
       .ranges = Spaced(6),
       .batchEntries = 2,
       .answers = {IDOK},
       .failed = 1,
       .skipped = 2,  // the run stops: no later batch reaches the bridge
       .failure = "SCSI UNMAP bridge hang detected; skipped unsafe fallback paths",
       .prefixes = {"SCSI UNMAP hang", "SCSI UNMAP failed", "WRITE SAME(16)+UNMAP probe", "Trying ATA",
                    "Skipping physical-drive", "USB bus disconnect", "Batch "},
       .lines = {"[WARN] SCSI UNMAP hang detected (winerr=1117 after 2000 ms >= threshold 2000 ms); skipping ATA "
                 "Pass-Through to keep the bridge alive",
                 "[WARN] SCSI UNMAP failed (winerr=1117, sense=5/32/0), falling back to WRITE SAME(16)+UNMAP",
                 "[ERROR] Batch 0 failed: SCSI UNMAP bridge hang detected; skipped unsafe fallback paths",
                 "[INFO] Skipping physical-drive reopen probe because SCSI UNMAP bridge hang was already "
                 "detected; showing USB reconnect guidance",
                 "[INFO] USB bus disconnect detected (winerr=55 in batch and/or disk path reopen); showing "
                 "user guidance"},
       .boxes = {{TTextId::InfoCaption, TTextId::UsbDisconnected}},
       .ledger = TExpectLedger::Nothing,
       .commands = {},
       .requests =
           [](const std::vector<SimRequestRecord>& r) {
             EXPECT_EQ(CountOf(r, SimCommand::Unmap), 1u);
             EXPECT_EQ(CountOf(r, SimCommand::WriteSame16), 0u);
             EXPECT_EQ(CountOf(r, SimCommand::AtaDsm), 0u);
           }});

  // An attempt that never returns is abandoned after the time-out plus the hang margin; no other
  // configuration is tried on that bridge.
  v.push_back(
      {.name = "AtaAttemptThatNeverReturns",
       .transport = TTransportKind::tkBOT,
       .profile = Bot(),
       .faults = {Fault(SimCommand::AtaDsm, 1, SimFaultKind::HangForever)},
       .ranges = Spaced(6),
       .batchEntries = 2,
       .answers = {IDOK},
       .succeeded = 0,
       .failed = 1,
       .skipped = 2,
       .failure = "ATA Pass-Through bridge hang detected; skipped to keep the bus enumerated",
       .prefixes = {"Trying ATA", "hang detected", "Batch ", "-ReTrim"},
       .lines = {kDmaExtend,
                 "[WARN] ATA Pass-Through hang detected: no response within 50000 ms; abandoning the path to "
                 "keep the bridge enumerated",
                 "[ERROR] Batch 0 failed: ATA Pass-Through bridge hang detected; skipped to keep the bus "
                 "enumerated"},
       .boxes = {{TTextId::InfoCaption, TTextId::UsbDisconnected}},
       .ledger = TExpectLedger::Nothing,
       .commands = {},
       .elapsedFromMs = 5000 + 45000,
       .elapsedToMs = 5000 + 45000 + 2000,  // and the grace the abandoned worker gets
       .requests = [](const std::vector<SimRequestRecord>& r) { EXPECT_EQ(CountOf(r, SimCommand::AtaDsm), 1u); }});

  v.push_back({.name = "CancelBetweenBatches",
               .transport = TTransportKind::tkBOT,
               .profile = Bot(),
               .ranges = Spaced(8),
               .batchEntries = 2,
               .cancelAfter = 2,
               .succeeded = 2,
               .skipped = 2,
               .prefixes = {"Cancellation requested", "Batch "},
               .lines = {"[WARN] Cancellation requested, stopping safely after current batch boundary."},
               .released = 4,
               .commands = {"ATA DSM"}});

  // The user cancels while the second batch's ATA command hangs: the attempt ends, nothing
  // more is sent.
  v.push_back(
      {.name = "CancelInsideAnAtaAttempt",
       .transport = TTransportKind::tkBOT,
       .profile = Bot(),
       .faults = {Fault(SimCommand::AtaDsm, 2, SimFaultKind::HangUntilCancel)},
       .ranges = Spaced(8),
       .batchEntries = 2,
       .cancelAtMs = 1000,
       .succeeded = 1,
       .failed = 1,
       .skipped = 2,
       .failure = "Cancelled by user",
       .prefixes = {"Cancel", "Trying ATA", "ATA PT retry", "hang", "Batch "},
       .lines = {kDmaExtend, kDmaExtend, "[ERROR] Batch 1 failed: Cancelled by user"},
       .released = 2,
       .commands = {"ATA DSM"},
       .requests = [](const std::vector<SimRequestRecord>& r) { EXPECT_EQ(CountOf(r, SimCommand::AtaDsm), 2u); }});

  // A UAS bridge behind a mounted NTFS volume: Windows refuses the raw UNMAP, ReTrim fails
  // with 43022, and the expert retry sends ATA.
  SimBridgeProfile pinned = Uas();
  pinned.mountedVolumeRawTrim = SimRawTrimPolicy::RefuseAccessDenied;
  SimPowerShellScript failing43022;
  failing43022.retrim = false;
  failing43022.chunks = {{0, "Optimize-Volume : Failed with error 43022.\r\n"}};
  failing43022.exitCode = 1;
  const std::vector<const char*> pinnedLines = {"DSM TRIM failed",
                                                "Retrying DSM",
                                                "SCSI UNMAP rejected",
                                                "Pinned Volume guard rejected",
                                                "-ReTrim starting",
                                                "-ReTrim completed",
                                                "-ReTrim failed",
                                                "-ReTrim fallback failed",
                                                "-ReTrim covers",
                                                "Expert",
                                                "Trying ATA",
                                                "Total trimmed",
                                                "Batch "};
  const TLines pinnedStart = {
      "[INFO] Retrying DSM TRIM in FS-cooperative mode (flag=0)",
      "[WARN] DSM TRIM failed (winerr=1), falling back to SCSI UNMAP",
      "[INFO] SCSI UNMAP rejected by Pinned Volume guard (winerr=5); bridge protected, routing to Optimize-Volume "
      "-ReTrim",
      "[INFO] Pinned Volume guard rejected raw paths; offering Optimize-Volume -ReTrim fallback",
      "[INFO] Optimize-Volume -ReTrim starting for E:"};
  auto with = [](TLines a, const TLines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  v.push_back(
      {.name = "PinnedNtfsReTrimFailingThenExpertAta",
       .profile = pinned,
       .answers = {IDOK, IDOK},
       .ntfs = true,
       .expert = true,
       .powerShell = failing43022,
       .succeeded = 1,
       .prefixes = pinnedLines,
       .lines = with({"[WARN] Expert ATA retry mode enabled: after ReTrim 43022 failure, user may opt into ATA "
                      "Pass-Through retry"},
                     with(pinnedStart,
                          {"[WARN] Optimize-Volume -ReTrim failed for E: (exit=1)",
                           "[ERROR] Optimize-Volume -ReTrim fallback failed for all eligible volumes",
                           "[WARN] Expert retry accepted: releasing pinned handles and retrying ATA Pass-Through",
                           kDmaExtend, "[INFO] Expert ATA Pass-Through retry succeeded after ReTrim failure",
                           // The free clusters of the formatted volume: $Bitmap takes one of them.
                           "[INFO] Total trimmed: sectors=129,400 (0.062 GiB)"})),
       .boxes = {{TTextId::InfoCaption, TTextId::PinnedReTrimQuestion},
                 {TTextId::WarningCaption, TTextId::ExpertAtaRetryQuestion}},
       .commands = {"ATA DSM"}});

  v.push_back({.name = "PinnedNtfsReTrimReleasesTheFreeClusters",
               .profile = pinned,
               .answers = {IDOK},
               .ntfs = true,
               .powerShell = SimPowerShellScript{},
               .succeeded = 1,
               .prefixes = pinnedLines,
               .lines = with(pinnedStart,
                             {"[INFO] Optimize-Volume -ReTrim completed for E: (exit=0)",
                              "[INFO] Optimize-Volume -ReTrim covers all free space; skipping remaining batches",
                              "[INFO] Total trimmed: managed by Windows Optimize-Volume -ReTrim (sector count not "
                              "reported)"}),
               .boxes = {{TTextId::InfoCaption, TTextId::PinnedReTrimQuestion}},
               .commands = {"RETRIM"}});

  // Every way a batch ends without a stage naming the reason: the batch's line and its result
  // (the failure report's message) still say why.
  SimPowerShellScript failing = failing43022;
  failing.chunks.clear();
  v.push_back({.name = "ReTrimOnlyWithoutAnNtfsVolumeSaysSo",
               .profile = Uas(),
               .ranges = Spaced(4),
               .answers = {IDOK},
               .forced = TForcedTrimPath::ftpWindowsReTrim,
               .failed = 1,
               .failure = "Windows ReTrim only: no NTFS volume on this disk; no TRIM command sent",
               .prefixes = {"Batch "},
               .lines = {"[ERROR] Batch 0 failed: Windows ReTrim only: no NTFS volume on this disk; no TRIM "
                         "command sent"},
               .boxes = {{TTextId::InfoCaption, TTextId::ReformatAsNtfsNotice}},
               .ledger = TExpectLedger::Nothing,
               .commands = {}});
  v.push_back({.name = "ReTrimOnlyOnAFullDeviceSaysSo",
               .transport = TTransportKind::tkBOT,
               .profile = Bot(),
               .ranges = WholeDisk(),
               .mode = TTrimMode::tmFullDevice,
               .forced = TForcedTrimPath::ftpWindowsReTrim,
               .failed = 1,
               .skipped = 1,
               .failure = "Windows ReTrim only: not available for a full-device TRIM; no TRIM command sent",
               .prefixes = {"Batch "},
               .lines = {"[ERROR] Batch 0 failed: Windows ReTrim only: not available for a full-device TRIM; no "
                         "TRIM command sent"},
               .ledger = TExpectLedger::Nothing,
               .commands = {}});
  v.push_back(
      {.name = "ReTrimOnlyFailingOnItsNtfsVolumeSaysSo",
       .profile = Uas(),
       .ntfs = true,
       .forced = TForcedTrimPath::ftpWindowsReTrim,
       .powerShell = failing,
       .failed = 1,
       .failure = "Optimize-Volume -ReTrim fallback failed for all eligible volumes",
       .prefixes = {"-ReTrim failed", "Batch "},
       .lines = {"[WARN] Optimize-Volume -ReTrim failed for E: (exit=1)",
                 "[ERROR] Batch 0 failed: Optimize-Volume -ReTrim fallback failed for all eligible volumes"},
       .ledger = TExpectLedger::Nothing,
       .commands = {}});
  v.push_back({.name = "PinnedReTrimDeclinedSaysSo",
               .profile = pinned,
               .answers = {IDCANCEL},
               .ntfs = true,
               .failed = 1,
               .failure = "User declined Optimize-Volume -ReTrim fallback",
               .prefixes = {"User declined", "Batch "},
               .lines = {"[WARN] User declined Optimize-Volume -ReTrim fallback",
                         "[ERROR] Batch 0 failed: User declined Optimize-Volume -ReTrim fallback"},
               .boxes = {{TTextId::InfoCaption, TTextId::PinnedReTrimQuestion}},
               .ledger = TExpectLedger::Nothing,
               .commands = {}});
  v.push_back(
      {.name = "PinnedReTrimFailingAndExpertRetryDeclinedSaysSo",
       .profile = pinned,
       .answers = {IDOK, IDCANCEL},
       .ntfs = true,
       .expert = true,
       .powerShell = failing43022,
       .failed = 1,
       .failure = "Optimize-Volume -ReTrim fallback failed for all eligible volumes",
       .prefixes = {"User declined", "Batch "},
       .lines = {"[WARN] User declined expert ATA Pass-Through retry after ReTrim failure",
                 "[ERROR] Batch 0 failed: Optimize-Volume -ReTrim fallback failed for all eligible volumes"},
       .boxes = {{TTextId::InfoCaption, TTextId::PinnedReTrimQuestion},
                 {TTextId::WarningCaption, TTextId::ExpertAtaRetryQuestion}},
       .ledger = TExpectLedger::Nothing,
       .commands = {}});

  // The cancel comes while PowerShell, having printed 43022, has not ended: the run asks nothing
  // more of the person who cancelled, the expert retry included.
  SimPowerShellScript slow43022 = failing43022;
  slow43022.chunks.push_back({120000, ""});
  v.push_back({.name = "ACancelDuringReTrimAsksNoExpertRetry",
               .profile = pinned,
               .answers = {IDOK},
               .ntfs = true,
               .expert = true,
               .cancelAtMs = 60000,
               .powerShell = slow43022,
               .failed = 1,
               .failure = "Cancelled by user",
               .prefixes = {"Expert", "-ReTrim failed", "Batch "},
               .lines = {"[WARN] Expert ATA retry mode enabled: after ReTrim 43022 failure, user may opt into ATA "
                         "Pass-Through retry",
                         "[WARN] Optimize-Volume -ReTrim failed for E: (exit=1)",
                         "[ERROR] Batch 0 failed: Cancelled by user"},
               .boxes = {{TTextId::InfoCaption, TTextId::PinnedReTrimQuestion}},
               .ledger = TExpectLedger::Nothing,
               .commands = {}});

  // Unscripted, PowerShell retrims as Windows does: down the storage stack of the volume's disk,
  // which a drive that reports no TRIM leaves with none to give (StorageWMI 43022, exit 1).
  const SimBridgeProfile uas = SimBridgeProfile::UasUnmap(0, 0);
  const std::vector<const char*> reTrimLines = {"-ReTrim starting",
                                                "-ReTrim completed",
                                                "-ReTrim failed",
                                                "-ReTrim fallback failed",
                                                "-ReTrim covers",
                                                "[PS] VERBOSE",
                                                "43022,",
                                                "Total trimmed",
                                                "Batch "};
  v.push_back({.name = "ReTrimOnlyReleasesTheFreeClustersThroughTheStorageStack",
               .profile = uas,
               .ntfs = true,
               .forced = TForcedTrimPath::ftpWindowsReTrim,
               .succeeded = 1,
               .prefixes = reTrimLines,
               .lines = {"[INFO] Optimize-Volume -ReTrim starting for E:",
                         "[INFO]   [PS] VERBOSE: Invoking retrim on (E:)...",
                         "[INFO]   [PS] VERBOSE: Retrim:  100% complete.",
                         "[INFO] Optimize-Volume -ReTrim completed for E: (exit=0)",
                         "[INFO] Optimize-Volume -ReTrim covers all free space; skipping remaining batches",
                         "[INFO] Total trimmed: managed by Windows Optimize-Volume -ReTrim (sector count not "
                         "reported)"},
               .commands = {"RETRIM"}});
  v.push_back(
      {.name = "ReTrimOnlyOnADriveWithoutTrimFailsWith43022",
       .profile = uas,
       .driveTrims = false,
       .ntfs = true,
       .forced = TForcedTrimPath::ftpWindowsReTrim,
       .failed = 1,
       .failure = "Optimize-Volume -ReTrim fallback failed for all eligible volumes",
       .prefixes = reTrimLines,
       .lines = {"[INFO] Optimize-Volume -ReTrim starting for E:",
                 "[INFO]   [PS] VERBOSE: Invoking retrim on (E:)...",
                 "[INFO]   [PS]     + FullyQualifiedErrorId : StorageWMI 43022,Optimize-Volume",
                 "[WARN] Optimize-Volume -ReTrim failed for E: (exit=1)",
                 "[ERROR] Optimize-Volume -ReTrim fallback failed for all eligible volumes",
                 "[ERROR] Batch 0 failed: Optimize-Volume -ReTrim fallback failed for all eligible volumes",
                 "[INFO] Total trimmed: sectors=0 (0.000 GiB)"},
       .ledger = TExpectLedger::Nothing,
       .commands = {}});
  // The pinned chain on such a drive: the storage TRIM request fails too, and the 43022 that
  // PowerShell prints is what offers the expert retry.
  SimBridgeProfile pinnedTakingStorageTrim = uas;
  pinnedTakingStorageTrim.mountedVolumeRawTrim = SimRawTrimPolicy::RefuseAccessDenied;
  v.push_back(
      {.name = "PinnedOnADriveWithoutTrimOffersTheExpertRetryAfter43022",
       .profile = pinnedTakingStorageTrim,
       .driveTrims = false,
       .answers = {IDOK, IDCANCEL},
       .ntfs = true,
       .expert = true,
       .failed = 1,
       .failure = "Optimize-Volume -ReTrim fallback failed for all eligible volumes",
       .prefixes = {"DSM TRIM failed", "43022,", "User declined", "Batch "},
       .lines = {kDsmFailed, "[INFO]   [PS]     + FullyQualifiedErrorId : StorageWMI 43022,Optimize-Volume",
                 "[WARN] User declined expert ATA Pass-Through retry after ReTrim failure",
                 "[ERROR] Batch 0 failed: Optimize-Volume -ReTrim fallback failed for all eligible volumes"},
       .boxes = {{TTextId::InfoCaption, TTextId::PinnedReTrimQuestion},
                 {TTextId::WarningCaption, TTextId::ExpertAtaRetryQuestion}},
       .ledger = TExpectLedger::Nothing,
       .commands = {}});

  return v;
}

INSTANTIATE_TEST_SUITE_P(Chain, ChainTest, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& i) { return std::string(i.param.name); });

}  // namespace

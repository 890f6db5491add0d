// The simulated PowerShell's Optimize-Volume -ReTrim over a volume's real allocation.
#include <gtest/gtest.h>

#include <string>

#include "platform/sim/SimMachine.h"
#include "platform/sim/files/SimVolumeFormat.h"

using namespace plat;
using namespace plat::sim;
using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;

namespace {

constexpr uint64_t kFirst = 2048;      // the volume's first sector on the disk
constexpr uint64_t kSectors = 200000;  // its length

struct ReTrimRig {
  ScopedSimMachine m;
  std::shared_ptr<SimDisk> disk = m->Storage().AddDisk(3, 1 << 20);

  ReTrimRig() { m->Storage().AddVolume('E', {{3, kFirst * 512, kSectors * 512}}); }

  // Runs PowerShell's ReTrim of E: to its end; returns the exit code, output in *out.
  DWORD Run(std::string* out) {
    HANDLE r = nullptr, w = nullptr;
    EXPECT_TRUE(Win().CreatePipe(&r, &w, TRUE_, 0));
    STARTUP_INFO si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = w;
    PROCESS_INFO pi;
    EXPECT_TRUE(Win().CreateProcessW(SimProcesses::PowerShellPath(),
                                     "powershell.exe -NoProfile -Command \"Optimize-Volume -DriveLetter E -ReTrim "
                                     "-Verbose 4>&1\"",
                                     TRUE_, CREATE_NO_WINDOW, "", si, &pi));
    Win().CloseHandle(w);
    char buf[256];
    DWORD n = 0;
    while (Win().ReadFile(r, buf, sizeof buf, &n) && n) out->append(buf, n);
    EXPECT_EQ(Win().WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
    DWORD code = 99;
    EXPECT_TRUE(Win().GetExitCodeProcess(pi.hProcess, &code));
    for (HANDLE h : {r, pi.hProcess, pi.hThread}) Win().CloseHandle(h);
    return code;
  }
};

// What the drive must hold released: the free clusters, read from the bitmap, on the disk.
Ranges FreeSectors(const SimFsState& s) {
  const uint64_t perCluster = s.ClusterBytes() / 512;
  Ranges r;
  for (uint64_t c = 0; c < s.clusters; ++c) {
    if (s.Used(c)) continue;
    const uint64_t lba = kFirst + c * perCluster;
    if (!r.empty() && r.back().first + r.back().second == lba)
      r.back().second += perCluster;
    else
      r.push_back({lba, perCluster});
  }
  return r;
}

TEST(SimPowerShellReTrim, ReleasesExactlyTheFreeClustersOfAnNtfsVolume) {
  struct Case {
    uint32_t bytesPerSector, clusterBytes;
  };
  for (const Case c : {Case{512, 4096}, Case{4096, 8192}, Case{512, 512}}) {
    SCOPED_TRACE(c.clusterBytes);
    ReTrimRig rig;
    rig.m->Bridge().SetLogicalBlockSize(3, c.bytesPerSector);
    ASSERT_TRUE(FormatVolume(rig.m->Storage(), 'E', SimFsKind::kNtfs, c.bytesPerSector, c.clusterBytes));
    // Files in pieces, so that free space lies between used clusters.
    ASSERT_FALSE(AllocateFile(rig.m->Storage(), 'E', 40).empty());
    ASSERT_TRUE(AllocateRuns(rig.m->Storage(), 'E', {{500, 3}, {510, 1}, {2000, 77}}));
    SimPowerShellScript script;
    script.chunks = {{200, "VERBOSE: Invoking retrim on New Volume (E:)...\r\n"}};
    rig.m->Processes().SetPowerShell(script);

    std::string out;
    EXPECT_EQ(rig.Run(&out), 0u);
    EXPECT_EQ(out, "VERBOSE: Invoking retrim on New Volume (E:)...\r\n");
    auto fs = FsState(rig.m->Storage(), 'E');
    const Ranges want = FreeSectors(*fs);
    ASSERT_GT(want.size(), 3u);
    EXPECT_EQ(rig.disk->drive.TrimmedRanges(), want);
    for (const auto& t : rig.disk->drive.Ledger()) EXPECT_EQ(t.command, "RETRIM");
    // No used cluster lost a sector: its data is still there to read.
    const uint64_t perCluster = fs->ClusterBytes() / 512;
    for (uint64_t cl = 0; cl < fs->clusters; ++cl) {
      if (!fs->Used(cl)) continue;
      for (const auto& [lba, count] : want)
        ASSERT_FALSE(kFirst + cl * perCluster < lba + count && lba < kFirst + (cl + 1) * perCluster) << cl;
    }
  }
}

// Without a script Optimize-Volume sends the free space down the disk's storage stack, as
// Windows does: released as the storage TRIM request releases it, or refused with 43022 where
// the stack has no TRIM to give.
TEST(SimPowerShellReTrim, WithoutAScriptTheDisksStorageStackDecides) {
  SimBridgeProfile overrun = SimBridgeProfile::UasUnmap(0, 0);
  overrun.trimOverrunSectors = 8;
  struct Case {
    const char* name;
    SimBridgeProfile profile;
    bool driveTrims;
    bool retrims;
  };
  const Case cases[] = {
      {"full SAT", SimBridgeProfile::FullSat(), true, true},
      {"a bridge that runs past each range", overrun, true, true},
      {"a drive that reports no TRIM", SimBridgeProfile::UasUnmap(0, 0), false, false},
      {"BOT: Windows refuses the storage TRIM request", SimBridgeProfile::BotAtaOnly(), true, false},
      {"no TRIM path", SimBridgeProfile::NoTrim(), true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReTrimRig rig;
    rig.m->Bridge().SetProfile(3, c.profile);
    SimIdentity id;
    id.trimSupported = c.driveTrims;
    rig.m->Bridge().SetIdentity(3, id);
    ASSERT_TRUE(FormatVolume(rig.m->Storage(), 'E', SimFsKind::kNtfs, 512, 4096));
    ASSERT_TRUE(AllocateRuns(rig.m->Storage(), 'E', {{500, 3}, {2000, 77}}));
    rig.m->Storage().Volume('E')->label = "Backup";

    std::string out;
    const uint64_t start = rig.m->Kernel().NowMs();
    const DWORD code = rig.Run(&out);
    if (!c.retrims) {
      EXPECT_EQ(code, 1u);
      EXPECT_EQ(out, SimPowerShellScript::Unsupported43022Text("Backup (E:)"));
      EXPECT_GT(rig.m->Kernel().NowMs(), start) << "the refusal takes a moment";
      EXPECT_TRUE(rig.disk->drive.Ledger().empty());
      continue;
    }
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(out, "VERBOSE: Invoking retrim on Backup (E:)...\r\nVERBOSE: Retrim:  100% complete.\r\n");
    const Ranges free = FreeSectors(*FsState(rig.m->Storage(), 'E'));
    ASSERT_GT(free.size(), 2u);
    Ranges released;
    for (const auto& t : rig.disk->drive.Ledger()) {
      EXPECT_EQ(t.command, "RETRIM");
      released.push_back({t.lba, t.count});
    }
    Ranges want = free;
    for (auto& r : want) r.second += c.profile.trimOverrunSectors;
    EXPECT_EQ(released, want);
  }
}

// A script a test gives answers in place of the storage stack, also where it has no TRIM.
TEST(SimPowerShellReTrim, AScriptAnswersWhateverTheStack) {
  ReTrimRig rig;
  rig.m->Bridge().SetProfile(3, SimBridgeProfile::NoTrim());
  ASSERT_TRUE(FormatVolume(rig.m->Storage(), 'E', SimFsKind::kNtfs, 512, 4096));
  rig.m->Processes().SetPowerShell(SimPowerShellScript{});
  std::string out;
  EXPECT_EQ(rig.Run(&out), 0u);
  EXPECT_EQ(rig.disk->drive.TrimmedRanges(), FreeSectors(*FsState(rig.m->Storage(), 'E')));
}

TEST(SimPowerShellReTrim, OtherFileSystemsFailUnlessTheHookNamesTheFreeSpace) {
  for (const SimFsKind kind : {SimFsKind::kFat32, SimFsKind::kExFat}) {
    ReTrimRig rig;
    ASSERT_TRUE(FormatVolume(rig.m->Storage(), 'E', kind, 512, 4096));
    std::string out;
    EXPECT_EQ(rig.Run(&out), 1u);
    EXPECT_NE(out.find("Optimize-Volume : "), std::string::npos) << out;
    EXPECT_EQ(out.find("43022"), std::string::npos);
    EXPECT_TRUE(rig.disk->drive.Ledger().empty());

    rig.m->Processes().SetFreeRanges([](char) { return Ranges{{kFirst + 64, 8}}; });
    out.clear();
    EXPECT_EQ(rig.Run(&out), 0u);
    EXPECT_EQ(rig.disk->drive.TrimmedRanges(), (Ranges{{kFirst + 64, 8}}));
  }
}

TEST(SimPowerShellReTrim, ARefusedReTrimReleasesNothingOfTheVolume) {
  ReTrimRig rig;
  ASSERT_TRUE(FormatVolume(rig.m->Storage(), 'E', SimFsKind::kNtfs, 512, 4096));
  rig.m->Processes().SetPowerShell(SimPowerShellScript::Fails43022());
  std::string out;
  EXPECT_EQ(rig.Run(&out), 1u);
  EXPECT_NE(out.find("StorageWMI 43022"), std::string::npos);
  EXPECT_TRUE(rig.disk->drive.Ledger().empty());
}

}  // namespace

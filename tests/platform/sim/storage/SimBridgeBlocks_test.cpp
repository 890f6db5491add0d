// A bridge that presents 4096-byte logical blocks in front of a 512-byte drive, Windows
// refusing raw UNMAP / WRITE SAME(16) into a mounted volume, and the storage TRIM request on a
// storage stack without TRIM.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "device/uAtaPassThrough.h"
#include "device/uScsiPassThrough.h"
#include "platform/WinFsControl.h"
#include "platform/WinStorage.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;
using E = TAtaPassThroughEngine;
using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;

namespace {

constexpr int kDisk = 1;
constexpr uint64_t kSectors = 1ull << 21;  // 1 GiB of 512-byte sectors

struct Outcome {
  bool ok = false;     // Windows and the device both accepted it
  DWORD winError = 0;  // DeviceIoControl's error
  uint8_t key = 0, asc = 0;
};

// Sends one command block straight through the platform, as the device layer builds it.
struct BridgeRig {
  ScopedSimMachine m;
  std::shared_ptr<SimDisk> disk = m->Storage().AddDisk(kDisk, kSectors);

  Outcome Send(std::span<const uint8_t> cdb, std::vector<uint8_t> data) {
    HANDLE h = Win().CreateFileW("\\\\.\\PhysicalDrive1", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    EXPECT_NE(h, VT_INVALID_HANDLE_VALUE);
    TScsiRequest req;
    req.Cdb = cdb;
    req.Direction = TScsiDirection::sdDataOut;
    req.Data = data.data();
    req.DataLength = static_cast<uint32_t>(data.size());
    req.TimeoutSec = 10;
    const TScsiReply r = ExecuteScsiPassThrough(h, req);
    Win().CloseHandle(h);
    return {r.WinOk && r.ScsiStatus == 0, r.WinErr, r.Sense.SenseKey, r.Sense.Asc};
  }
  Outcome Unmap(const TTrimRangeArray& ranges) {
    TByteArray list;
    E::BuildUnmapParameterList(list, ranges, 0, static_cast<int32_t>(ranges.size()));
    std::array<uint8_t, 10> cdb{};
    E::BuildUnmapCdb(cdb, static_cast<uint16_t>(list.size()));
    return Send(cdb, list);
  }
  Outcome WriteSame(uint64_t lba, uint32_t count, size_t blockBytes) {
    std::array<uint8_t, 16> cdb{};
    E::BuildWriteSame16UnmapCdb(cdb, lba, count);
    return Send(cdb, std::vector<uint8_t>(blockBytes, 0));
  }
  Outcome AtaDsm(const TTrimRangeArray& ranges) {
    TByteArray payload;
    E::BuildDsmPayload(payload, ranges, 0, static_cast<int32_t>(ranges.size()));
    std::array<uint8_t, 16> cdb{};
    E::BuildPt16DsmCdb(static_cast<uint16_t>(payload.size() / 512), cdb, 6, true, false);
    return Send(cdb, payload);
  }
  // The storage TRIM request on the disk, in drive sectors: 0, or the error it failed with.
  DWORD StorageTrim(uint64_t lba, uint64_t count) {
    TByteArray in = E::BuildDsmTrimInput({{static_cast<int64_t>(lba * 512), count * 512}}, false);
    HANDLE h = Win().CreateFileW("\\\\.\\PhysicalDrive1", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    DWORD n = 0;
    const BOOL ok = Win().DeviceIoControl(h, IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES, in.data(),
                                          static_cast<DWORD>(in.size()), nullptr, 0, &n);
    const DWORD error = ok ? 0 : Win().GetLastError();
    Win().CloseHandle(h);
    return error;
  }
  void Profile(SimBridgeProfile p) { m->Bridge().SetProfile(kDisk, std::move(p)); }
  Ranges Released() { return disk->drive.TrimmedRanges(); }
};

TEST(SimBridge4Kn, GeometryReportsTheBridgesBlockSizeAndTheSizeInBytes) {
  for (const auto& [profile, bytes] :
       {std::pair{SimBridgeProfile::FullSat(), 512u}, {SimBridgeProfile::Uas4Kn(), 4096u}}) {
    SCOPED_TRACE(bytes);
    BridgeRig rig;
    rig.Profile(profile);
    HANDLE h = Win().CreateFileW("\\\\.\\PhysicalDrive1", GENERIC_READ, 3, OPEN_EXISTING, 0);
    std::array<uint8_t, dgx::kReadSize> g{};
    DWORD n = 0;
    ASSERT_TRUE(
        Win().DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, g.data(), dgx::kReadSize, &n));
    Win().CloseHandle(h);
    uint32_t perSector;
    uint64_t size, cylinders;
    std::memcpy(&perSector, &g[dgx::kBytesPerSector], 4);
    std::memcpy(&size, &g[dgx::kDiskSize], 8);
    std::memcpy(&cylinders, &g[dgx::kCylinders], 8);
    EXPECT_EQ(perSector, bytes);
    EXPECT_EQ(size, kSectors * 512);
    EXPECT_EQ(cylinders, kSectors * 512 / bytes / (255 * 63));
  }
}

TEST(SimBridge4Kn, ScsiCountsLogicalBlocksWhileAtaAndStorageTrimAddressTheDrive) {
  BridgeRig rig;
  rig.Profile(SimBridgeProfile::Uas4Kn());
  const uint64_t blocks = kSectors / 8;

  // UNMAP descriptors: block b is drive sectors 8b .. 8b + 7.
  EXPECT_TRUE(rig.Unmap({{100, 3}, {1000, 1}}).ok);
  EXPECT_EQ(rig.Released(), (Ranges{{800, 24}, {8000, 8}}));
  // WRITE SAME(16) takes one logical block of data.
  rig.disk->drive.ClearLedger();
  EXPECT_TRUE(rig.WriteSame(2000, 5, 4096).ok);
  EXPECT_EQ(rig.Released(), (Ranges{{16000, 40}}));
  const Outcome shortBlock = rig.WriteSame(2000, 5, 512);
  EXPECT_FALSE(shortBlock.ok);
  EXPECT_EQ(shortBlock.asc, 0x24);
  // ATA PASS-THROUGH reaches the drive's own 512-byte sectors.
  rig.disk->drive.ClearLedger();
  EXPECT_TRUE(rig.AtaDsm({{4096, 16}}).ok);
  EXPECT_EQ(rig.Released(), (Ranges{{4096, 16}}));
  EXPECT_EQ(rig.disk->drive.Ledger().back().command, "ATA DSM");
  // The storage TRIM request names bytes.
  rig.disk->drive.ClearLedger();
  EXPECT_EQ(rig.StorageTrim(4096, 8), 0u);
  EXPECT_EQ(rig.Released(), (Ranges{{4096, 8}}));

  // The last logical block is in range; the next one is not, although in 512-byte sectors it
  // would be.
  rig.disk->drive.ClearLedger();
  EXPECT_TRUE(rig.Unmap({{blocks - 1, 1}}).ok);
  EXPECT_TRUE(rig.WriteSame(blocks - 2, 1, 4096).ok);
  EXPECT_EQ(rig.Released(), (Ranges{{kSectors - 16, 16}}));
  rig.disk->drive.ClearLedger();
  for (const Outcome& o : {rig.Unmap({{blocks, 1}}), rig.Unmap({{blocks - 1, 2}}), rig.WriteSame(blocks, 1, 4096),
                           rig.WriteSame(blocks + 5, 1, 4096)}) {
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.key, 0x05);
    EXPECT_EQ(o.asc, 0x21);  // LBA OUT OF RANGE
  }
  EXPECT_TRUE(rig.disk->drive.Ledger().empty());
}

TEST(SimBridge4Kn, BlockLimitsAreLogicalBlocks) {
  BridgeRig rig;
  SimBridgeProfile p = SimBridgeProfile::Uas4Kn();
  p.maxUnmapLbaCount = 1024;
  rig.Profile(p);
  TAtaPassThroughEngine engine(nullptr);
  uint32_t maxLba = 0, maxDesc = 0;
  ASSERT_TRUE(engine.QueryBlockLimitsVpd("\\\\.\\PhysicalDrive1", maxLba, maxDesc));
  EXPECT_EQ(maxLba, 1024u);
  EXPECT_TRUE(rig.Unmap({{0, 1024}}).ok);
  EXPECT_EQ(rig.Released(), (Ranges{{0, 8192}}));
  EXPECT_EQ(rig.Unmap({{2000, 1025}}).asc, 0x24);
  EXPECT_EQ(rig.Released(), (Ranges{{0, 8192}}));
}

TEST(SimBridgeOverrun, EveryPathReleasesPastEachRangeIntoWhatLiesThere) {
  BridgeRig rig;
  SimBridgeProfile p = SimBridgeProfile::FullSat();
  p.trimOverrunSectors = 16;
  rig.Profile(p);
  // Data behind every range, which the overrun destroys.
  const std::vector<uint8_t> block(512, 0xA5);
  for (uint64_t lba = 0; lba < 20000; lba += 8) ASSERT_TRUE(rig.disk->drive.Write(lba, 1, block.data()));
  EXPECT_TRUE(rig.Unmap({{1000, 8}, {3000, 8}}).ok);
  EXPECT_TRUE(rig.WriteSame(5000, 8, 512).ok);
  EXPECT_TRUE(rig.AtaDsm({{7000, 8}}).ok);
  EXPECT_EQ(rig.StorageTrim(9000, 8), 0u);
  EXPECT_EQ(rig.Released(), (Ranges{{1000, 24}, {3000, 24}, {5000, 24}, {7000, 24}, {9000, 24}}));
  for (uint64_t lba : {1016u, 3016u, 5016u, 7016u, 9016u}) EXPECT_FALSE(rig.disk->drive.HoldsData(lba)) << lba;
  EXPECT_TRUE(rig.disk->drive.HoldsData(1024));
  // Never past the drive's end.
  rig.disk->drive.ClearLedger();
  EXPECT_TRUE(rig.Unmap({{kSectors - 8, 8}}).ok);
  EXPECT_EQ(rig.Released(), (Ranges{{kSectors - 8, 8}}));
  // Without the fault: exactly the range.
  rig.Profile(SimBridgeProfile::FullSat());
  rig.disk->drive.ClearLedger();
  EXPECT_TRUE(rig.Unmap({{1000, 8}}).ok);
  EXPECT_EQ(rig.Released(), (Ranges{{1000, 8}}));
}

// A drive that reports no TRIM leaves its storage stack none to give: the storage TRIM request
// fails as Windows fails it, with the bridge's own refusal where it has one.
TEST(SimStorageStack, TheStorageTrimRequestNeedsADriveThatTrims) {
  SimBridgeProfile refuses50 = SimBridgeProfile::FullSat();
  refuses50.storageTrimError = ERROR_NOT_SUPPORTED;
  struct Case {
    const char* name;
    SimBridgeProfile profile;
    bool driveTrims;
    DWORD winError;  // 0: released
  };
  const Case cases[] = {
      {"full SAT", SimBridgeProfile::FullSat(), true, 0},
      {"a drive without TRIM", SimBridgeProfile::FullSat(), false, ERROR_INVALID_FUNCTION},
      {"BOT", SimBridgeProfile::BotAtaOnly(), true, ERROR_INVALID_FUNCTION},
      {"a bridge refusing with 50, a drive without TRIM", refuses50, false, ERROR_NOT_SUPPORTED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BridgeRig rig;
    rig.Profile(c.profile);
    SimIdentity id;
    id.trimSupported = c.driveTrims;
    rig.m->Bridge().SetIdentity(kDisk, id);
    EXPECT_EQ(SimStorageStackTrims(*rig.disk), c.winError == 0);
    EXPECT_EQ(rig.StorageTrim(4096, 8), c.winError);
    EXPECT_EQ(rig.Released(), c.winError ? Ranges{} : (Ranges{{4096, 8}}));
  }
}

// Volume E on disk 1 from sector 2048, 100000 sectors long, NTFS.
constexpr uint64_t kVolumeFirst = 2048, kVolumeSectors = 100000;

TEST(SimBridgeRawTrim, WindowsRefusesRawTrimIntoAMountedVolumeWhenTheDiskSaysSo) {
  using P = SimRawTrimPolicy;
  enum class State { Mounted, Raw, Locked, Dismounted, OnOtherDisk };
  enum class Cmd { Unmap, WriteSame, AtaDsm };
  struct Case {
    const char* name;
    P policy;
    uint32_t blockBytes;
    State state;
    Cmd cmd;
    TTrimRangeArray ranges;  // in the command's own units
    bool refused;
  };
  const uint64_t last = kVolumeFirst + kVolumeSectors - 1;
  constexpr P kRefuse = P::RefuseAccessDenied;
  const Case cases[] = {
      {"allowed by default", P::Allow, 512, State::Mounted, Cmd::Unmap, {{4096, 8}}, false},
      {"inside", kRefuse, 512, State::Mounted, Cmd::Unmap, {{4096, 8}}, true},
      {"one descriptor of two inside", kRefuse, 512, State::Mounted, Cmd::Unmap, {{0, 8}, {last, 1}}, true},
      {"ends where the volume starts", kRefuse, 512, State::Mounted, Cmd::Unmap, {{0, kVolumeFirst}}, false},
      {"starts after its end", kRefuse, 512, State::Mounted, Cmd::Unmap, {{last + 1, 100}}, false},
      {"write same inside", kRefuse, 512, State::Mounted, Cmd::WriteSame, {{kVolumeFirst, 1}}, true},
      {"raw volume", kRefuse, 512, State::Raw, Cmd::Unmap, {{4096, 8}}, false},
      {"locked volume", kRefuse, 512, State::Locked, Cmd::Unmap, {{4096, 8}}, false},
      {"dismounted volume", kRefuse, 512, State::Dismounted, Cmd::WriteSame, {{4096, 8}}, false},
      {"volume on another disk", kRefuse, 512, State::OnOtherDisk, Cmd::Unmap, {{4096, 8}}, false},
      {"ATA pass-through is not checked", kRefuse, 512, State::Mounted, Cmd::AtaDsm, {{4096, 8}}, false},
      // 4096-byte blocks: block 255 is sectors 2040-2047, block 256 the volume's first eight.
      {"4Kn block before the volume", kRefuse, 4096, State::Mounted, Cmd::WriteSame, {{255, 1}}, false},
      {"4Kn first block of the volume", kRefuse, 4096, State::Mounted, Cmd::WriteSame, {{255, 2}}, true},
      {"4Kn block with the volume's last sector",
       kRefuse,
       4096,
       State::Mounted,
       Cmd::Unmap,
       {{last / 8, 1}},
       true},
      {"4Kn block after the volume", kRefuse, 4096, State::Mounted, Cmd::Unmap, {{last / 8 + 1, 1}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BridgeRig rig;
    SimBridgeProfile p = c.blockBytes == 4096 ? SimBridgeProfile::Uas4Kn() : SimBridgeProfile::FullSat();
    p.mountedVolumeRawTrim = c.policy;
    rig.Profile(p);
    if (c.state == State::OnOtherDisk) rig.m->Storage().AddDisk(2, kSectors);
    auto v = rig.m->Storage().AddVolume(
        'E', {{c.state == State::OnOtherDisk ? 2 : kDisk, kVolumeFirst * 512, kVolumeSectors * 512}});
    v->fileSystemName = c.state == State::Raw ? "" : "NTFS";
    if (c.state == State::Locked || c.state == State::Dismounted) {
      HANDLE h = Win().CreateFileW("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
      DWORD n = 0;
      const DWORD code = c.state == State::Locked ? fsc::FSCTL_LOCK_VOLUME : fsc::FSCTL_DISMOUNT_VOLUME;
      ASSERT_TRUE(Win().DeviceIoControl(h, code, nullptr, 0, nullptr, 0, &n));
      Win().CloseHandle(h);
    }
    const Outcome o =
        c.cmd == Cmd::Unmap ? rig.Unmap(c.ranges)
        : c.cmd == Cmd::WriteSame
            ? rig.WriteSame(c.ranges[0].StartLba, static_cast<uint32_t>(c.ranges[0].SectorCount), c.blockBytes)
            : rig.AtaDsm(c.ranges);
    if (c.refused) {
      EXPECT_FALSE(o.ok);
      EXPECT_EQ(o.winError, ERROR_ACCESS_DENIED);
      EXPECT_TRUE(rig.disk->drive.Ledger().empty());
    } else {
      EXPECT_TRUE(o.ok) << o.winError << " " << int(o.key) << "/" << int(o.asc);
      EXPECT_FALSE(rig.disk->drive.Ledger().empty());
    }
  }
}

TEST(SimBridgeRawTrim, AVolumeMountedAgainIsProtectedAgain) {
  BridgeRig rig;
  SimBridgeProfile p = SimBridgeProfile::FullSat();
  p.mountedVolumeRawTrim = SimRawTrimPolicy::RefuseAccessDenied;
  rig.Profile(p);
  auto v = rig.m->Storage().AddVolume('E', {{kDisk, kVolumeFirst * 512, kVolumeSectors * 512}});
  v->fileSystemName = "NTFS";
  HANDLE h = Win().CreateFileW("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  DWORD n = 0;
  ASSERT_TRUE(Win().DeviceIoControl(h, fsc::FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &n));
  Win().CloseHandle(h);
  EXPECT_TRUE(rig.Unmap({{4096, 8}}).ok);
  // Its next use mounts it again.
  ASSERT_TRUE(Win().GetVolumeInformationW("E:\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(rig.Unmap({{8192, 8}}).winError, ERROR_ACCESS_DENIED);
  EXPECT_EQ(rig.Released(), (Ranges{{4096, 8}}));
}

}  // namespace

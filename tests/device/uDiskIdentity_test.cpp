// The proof that a disk path still names the listed disk, and volume handles placed on it; a
// handle proven once keeps reaching that disk only, whoever takes its number later.
#include "device/uDiskIdentity.h"

#include <gtest/gtest.h>

#include <functional>

#include "device/uAtaPassThrough.h"
#include "platform/WinStorage.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;

namespace {

constexpr int kDisk = 2;
constexpr uint64_t kBytes = 64ull << 30;
constexpr int64_t kVolOffset = 1 << 20;
constexpr int64_t kVolLength = 1ll << 30;

// A machine with the listed disk and its volume E:; one per case.
struct DiskWorld {
  ScopedSimMachine m;
  std::shared_ptr<SimDisk> disk;
  TDiskInfo listed;
  size_t handlesBefore = 0;

  DiskWorld() {
    disk = m->Discovery().AddDisk(kDisk, kBytes, presets::UasEnclosure("UAS SSD", "SERIAL-A"));
    m->Discovery().AddVolume('E', kDisk, kVolOffset, kVolLength);
    listed.DiskNumber = kDisk;
    listed.DevicePath = "\\\\.\\PhysicalDrive2";
    listed.Serial = "SERIAL-A";
    listed.SizeBytes = kBytes;
    TVolumeInfo v;
    v.DriveLetter = "E:";
    v.PartitionOffset = kVolOffset;
    v.PartitionLength = kVolLength;
    v.DiskNumber = kDisk;
    listed.Volumes.push_back(v);
    handlesBefore = m->Kernel().OpenHandleCount();
  }
  ~DiskWorld() { EXPECT_EQ(m->Kernel().OpenHandleCount(), handlesBefore) << "a handle was left open"; }

  // A disk off the bus with a volume of its own at Letter, where the planned one lies, ready to
  // arrive under another's number.
  std::shared_ptr<SimDisk> Newcomer(const std::string& Serial, char Letter) {
    auto d = m->Discovery().AddDisk(9, kBytes, presets::UasEnclosure("UAS SSD", Serial));
    auto v =
        m->Storage().AddVolume('X', {{9, static_cast<uint64_t>(kVolOffset), static_cast<uint64_t>(kVolLength)}});
    m->Storage().DetachDisk(9);
    v->letter = Letter;  // parked with its disk; it arrives under this letter
    return d;
  }
  size_t CallsReaching(const std::shared_ptr<SimDisk>& D) {
    size_t n = 0;
    for (const auto& r : m->Storage().IoctlRecords()) n += r.disk == D;
    return n;
  }
};

TEST(DiskIdentity, TheListedDiskIsProvenAndAnyDifferenceRefusesIt) {
  struct Case {
    const char* name;
    std::function<void(DiskWorld&)> change;
    bool proven, gone;
    std::string reason;
  };
  const Case cases[] = {
      {"the listed disk", nullptr, true, false, ""},
      {"details not loaded: no serial to compare", [](DiskWorld& t) { t.listed.Serial.clear(); }, true, false, ""},
      {"another serial under the number",
       [](DiskWorld& t) { t.m->Discovery().Describe(kDisk, [](auto& d) { d.serial = "SERIAL-B"; }); }, false,
       false, "serial number mismatch (different disk now has this drive number)"},
      {"another size under the number", [](DiskWorld& t) { t.listed.SizeBytes = kBytes / 2; }, false, false,
       "disk size mismatch (cached=34359738368, live=68719476736)"},
      {"the path is no longer found", [](DiskWorld& t) { t.m->Storage().DetachDisk(kDisk); }, false, true,
       "disk not accessible (removed or renumbered)"},
      {"it leaves on the geometry query",
       [](DiskWorld& t) {
         t.m->Storage().AddFault(kDisk, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, SimOutcome::LeaveBus(), {.nth = 1});
       },
       false, true, "disk geometry could not be read (winerr=1167)"},
      {"it leaves on the descriptor query",
       [](DiskWorld& t) {
         t.m->Storage().AddFault(kDisk, IOCTL_STORAGE_QUERY_PROPERTY, SimOutcome::LeaveBus(), {.nth = 1});
       },
       false, true, "storage descriptor could not be read (winerr=1167)"},
      {"a listed serial that cannot be read",
       [](DiskWorld& t) {
         t.m->Discovery().Describe(kDisk, [](auto& d) { d.faults.descriptorHeader = ERROR_GEN_FAILURE; });
       },
       false, false, "storage descriptor could not be read (winerr=31)"},
      {"a listed size that cannot be read",
       [](DiskWorld& t) {
         t.m->Discovery().Describe(kDisk, [](auto& d) { d.faults.geometry = ERROR_GEN_FAILURE; });
       },
       false, false, "disk geometry could not be read (winerr=31)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DiskWorld t;
    if (c.change) c.change(t);
    TDiskProof proof;
    TDeviceHandle h = OpenProvenDisk(t.listed, proof);
    EXPECT_EQ(h.Valid(), c.proven);
    EXPECT_EQ(proof.Proven, c.proven);
    EXPECT_EQ(proof.Gone, c.gone);
    EXPECT_EQ(proof.Reason, c.reason);
    if (c.proven) {
      EXPECT_TRUE(proof.GeometryRead);
      EXPECT_EQ(proof.SizeBytes, kBytes);
      EXPECT_EQ(proof.BytesPerSector, 512u);
    }
  }
}

// Once proven, the handle reaches that disk or fails: a newcomer under the same number gets no
// request through it.
TEST(DiskIdentity, AProvenHandleNeverReachesTheNextDiskUnderItsNumber) {
  DiskWorld w;
  auto& m = w.m;
  TDiskInfo& listed = w.listed;
  TDiskProof proof;
  TDeviceHandle h = OpenProvenDisk(listed, proof);
  ASSERT_TRUE(proof.Proven);
  EXPECT_TRUE(CheckDiskPresent(h.Get(), kDisk).Ok);

  auto other = w.Newcomer("SERIAL-B", 'X');
  m->Storage().LeaveBus(kDisk, other);
  TAtaPassThroughEngine engine(nullptr);
  TByteArray list;
  TAtaPassThroughEngine::BuildUnmapParameterList(list, {{2048, 8}}, 0, 1);
  const TDeviceResult r = engine.SendScsiUnmap(TDeviceRef{h.Get(), listed.DevicePath}, list, 5000, false);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.WinErr, ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_TRUE(DeviceLeftBus(CheckDiskPresent(h.Get(), kDisk).WinErr));
  EXPECT_EQ(w.CallsReaching(other), 0u);
  EXPECT_TRUE(other->drive.Ledger().empty());

  // A fresh proof by path finds the newcomer out.
  TDiskProof again;
  EXPECT_FALSE(OpenProvenDisk(listed, again).Valid());
  EXPECT_EQ(again.Reason, "serial number mismatch (different disk now has this drive number)");
}

TEST(DiskIdentity, AVolumeIsUsedOnlyWhereThePlanPutsIt) {
  struct Case {
    const char* name;
    std::function<void(DiskWorld&, TVolumeInfo&)> change;
    bool proven, gone, openFailed;
  };
  const Case cases[] = {
      {"the planned volume", nullptr, true, false, false},
      {"another offset", [](DiskWorld&, TVolumeInfo& v) { v.PartitionOffset += 512; }, false, false, false},
      {"another length", [](DiskWorld&, TVolumeInfo& v) { v.PartitionLength -= 512; }, false, false, false},
      {"the letter is another disk's",
       [](DiskWorld& t, TVolumeInfo& v) {
         t.m->Discovery().AddDisk(4, kBytes, presets::UasEnclosure("Other", "SERIAL-C"));
         t.m->Discovery().AddVolume('F', 4, kVolOffset, kVolLength);
         v.DriveLetter = "F:";
       },
       false, false, false},
      {"the letter is gone, the disk is here",
       [](DiskWorld& t, TVolumeInfo&) { t.m->Storage().RemoveVolume('E'); }, false, false, true},
      {"it leaves on the extents query",
       [](DiskWorld& t, TVolumeInfo&) {
         t.m->Storage().AddFault(kDisk, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, SimOutcome::LeaveBus(), {.nth = 1});
       },
       false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DiskWorld t;
    TDiskProof p;
    TDeviceHandle disk = OpenProvenDisk(t.listed, p);
    ASSERT_TRUE(p.Proven);
    TVolumeInfo v = t.listed.Volumes[0];
    if (c.change) c.change(t, v);
    TVolumeProof vp;
    TDeviceHandle h = OpenVolumeOnDisk(v, disk.Get(), kDisk, vp);
    EXPECT_EQ(h.Valid(), c.proven);
    EXPECT_EQ(vp.Proven, c.proven);
    EXPECT_EQ(vp.Gone, c.gone);
    EXPECT_EQ(vp.OpenFailed, c.openFailed);
    if (c.gone) {
      EXPECT_EQ(vp.DiskWinErr, ERROR_DEVICE_NOT_CONNECTED);
    }
    EXPECT_EQ(vp.Reason.empty(), c.proven) << vp.Reason;
  }
}

// The disk left and another took its number: the planned volume is not even opened, so the
// newcomer's volumes are never asked.
TEST(DiskIdentity, NoVolumeIsOpenedOnceTheDiskHasLeft) {
  DiskWorld w;
  TDiskProof proof;
  TDeviceHandle d = OpenProvenDisk(w.listed, proof);
  ASSERT_TRUE(proof.Proven);
  auto other = w.Newcomer("SERIAL-B", 'E');  // with E:, the letter the planned volume had
  w.m->Storage().LeaveBus(kDisk, other);
  ASSERT_TRUE(w.m->Storage().Volume('E'));
  TVolumeProof vp;
  EXPECT_FALSE(OpenVolumeOnDisk(w.listed.Volumes[0], d.Get(), kDisk, vp).Valid());
  EXPECT_TRUE(vp.Gone);
  EXPECT_FALSE(vp.OpenFailed);
  EXPECT_EQ(w.CallsReaching(other), 0u);
}

}  // namespace

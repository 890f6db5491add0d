#include "device/uDiskEnum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/ThreadTestUtil.h"
#include "core/uLogger.h"
#include "device/uScsiPassThrough.h"
#include "platform/WinStorage.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;

namespace {

constexpr uint64_t kGiB = 1073741824ull;
constexpr uint64_t kMiB = 1048576ull;

// Answers ATA IDENTIFY DEVICE through the SCSI pass-through with a chosen word 217 per disk; a
// disk without an entry fails the request as a bridge without ATA pass-through does.
class TIdentifyResponder {
 public:
  explicit TIdentifyResponder(SimStorage& Storage) {
    Storage.RegisterIoctl(plat::IOCTL_SCSI_PASS_THROUGH_DIRECT, [this](SimDeviceCall& C) { return Answer(C); });
  }
  void SetRotation(int Disk, uint16_t Rate) {
    std::lock_guard<std::mutex> Lk(FMu);
    FRates[Disk] = Rate;
  }

 private:
  BOOL Answer(SimDeviceCall& C) {
    int Number = 0;
    {
      std::lock_guard<std::mutex> Lk(C.disk->mu);
      Number = C.disk->number;
    }
    std::lock_guard<std::mutex> Lk(FMu);
    auto It = FRates.find(Number);
    auto* Req = static_cast<uint8_t*>(C.in);
    if (It == FRates.end() || !Req || C.inSize < sptd::kBufferSize || Req[sptd::kCdb + 14] != 0xEC) {
      SimSetLastError(ERROR_INVALID_FUNCTION);
      return FALSE_;
    }
    uint8_t* Data = nullptr;
    std::memcpy(&Data, Req + sptd::kDataBuffer, sizeof(Data));
    std::memset(Data, 0, 512);
    Data[434] = static_cast<uint8_t>(It->second);
    Data[435] = static_cast<uint8_t>(It->second >> 8);
    Req[sptd::kScsiStatus] = 0;
    C.SetReturned(sptd::kBufferSize);
    return TRUE_;
  }

  std::mutex FMu;
  std::map<int, uint16_t> FRates;
};

class DiskEnumTest : public ::testing::Test {
 protected:
  const std::string kLog = "C:\\logs\\disc.log";

  ScopedSimMachine m;
  TIdentifyResponder Identify{m->Storage()};
  TLogger Log{kLog};
  TDiskEnumerator En{&Log};

  SimDiscovery& Disc() { return m->Discovery(); }

  // The log's messages, without time stamp and level.
  std::vector<std::string> Lines() {
    std::vector<std::string> R;
    const std::string All = m->Files().Exists(kLog) ? m->Files().ReadAll(kLog) : std::string();
    size_t At = 0;
    while (At < All.size()) {
      size_t E = All.find("\r\n", At);
      if (E == std::string::npos) E = All.size();
      const std::string Line = All.substr(At, E - At);
      const size_t Tag = Line.find("] ");
      R.push_back(Tag == std::string::npos ? Line : Line.substr(Tag + 2));
      At = E + 2;
    }
    return R;
  }

  // The lines written since the last call.
  std::vector<std::string> NewLines() {
    std::vector<std::string> All = Lines();
    std::vector<std::string> R(All.begin() + static_cast<std::ptrdiff_t>(std::min(FSeen, All.size())), All.end());
    FSeen = All.size();
    return R;
  }
  size_t FSeen = 0;

  HANDLE Open(int Disk) { return TDiskEnumerator::OpenDevice("\\\\.\\PhysicalDrive" + std::to_string(Disk), 0); }
};

std::vector<int32_t> Numbers(const TDiskInfoArray& Disks) {
  std::vector<int32_t> R;
  for (const auto& D : Disks) R.push_back(D.DiskNumber);
  return R;
}

// The machine a user may have: an internal system disk, internal NVMe, several enclosures.
TEST_F(DiskEnumTest, EnumerateListsExactlyTheUsbSolidStateDisksAboveOneGiB) {
  Disc().AddDisk(0, 256 * kGiB, presets::InternalSata());
  Disc().AddVolume('C', 0, kMiB, 255 * kGiB);
  Disc().AddDisk(1, 500 * kGiB, presets::BotEnclosure("Portable SSD", "S1234567890"));
  Disc().AddVolume('E', 1, kMiB, 499 * kGiB);
  Disc().AddDisk(2, kGiB, presets::UasEnclosure());                    // exactly 1 GiB
  Disc().AddDisk(3, kGiB + 512, presets::UnidentifiedUsbBridge());     // no volumes
  Disc().AddDisk(4, 64 * kGiB, presets::BotEnclosure("Empty Parts"));  // volumes of length 0
  Disc().AddVolume('F', 4, kMiB, 0);
  Disc().AddVolume('G', 4, 2 * kMiB, 0);
  Disc().AddDisk(5, 2000 * kGiB, presets::UsbHardDisk());  // rotating
  Disc().AddDisk(6, 1000 * kGiB, presets::InternalNvme());
  auto Scsi = presets::InternalSata("UAS Bridge");  // a bridge reporting bus SCSI, UAS in its tail
  Scsi.busType = BusTypeScsi;
  Scsi.rawProperties = "UAS";
  Scsi.listed = false;
  Disc().AddDisk(7, 128 * kGiB, Scsi);
  auto NoPenalty = presets::UasEnclosure("Probe SSD");  // the identity probe decides
  NoPenalty.faults.seekPenalty = ERROR_INVALID_FUNCTION;
  Disc().AddDisk(9, 32 * kGiB, NoPenalty);
  Identify.SetRotation(9, 1);

  TDiskInfoArray Disks(1);
  En.Enumerate(Disks);
  ASSERT_EQ(Numbers(Disks), (std::vector<int32_t>{1, 3, 7, 9}));

  const TDiskInfo& D = Disks[0];
  EXPECT_EQ(D.DevicePath, "\\\\.\\PhysicalDrive1");
  EXPECT_EQ(D.Model, "PhysicalDrive1");
  EXPECT_EQ(D.Serial, "");
  EXPECT_EQ(D.MaskedSerial, "****");
  EXPECT_EQ(D.SizeBytes, 500 * kGiB);
  EXPECT_EQ(D.BusHint, "USB;DRV=USBSTOR;SERVICE=DISK;ENUM=USBSTOR;HWID=USBSTOR\\DISKJMICRONPORTABLE SSD");
  EXPECT_EQ(D.Transport, TTransportKind::tkBOT);
  EXPECT_EQ(D.Media, TMediaKind::mkSSD);
  EXPECT_EQ(D.MediaReason, "StorageDeviceSeekPenaltyProperty: no seek penalty");
  ASSERT_EQ(D.Volumes.size(), 1u);
  EXPECT_EQ(D.Volumes[0].DriveLetter, "E:");
  EXPECT_FALSE(D.SystemCritical);
  EXPECT_FALSE(D.Ata.Probed);

  EXPECT_EQ(Disks[1].SizeBytes, kGiB + 512);
  EXPECT_TRUE(Disks[1].Volumes.empty());
  EXPECT_EQ(Disks[1].Transport, TTransportKind::tkUnknown);
  EXPECT_EQ(Disks[2].BusHint, "SCSI;PROTO=UAS");
  EXPECT_EQ(Disks[2].Transport, TTransportKind::tkUAS);
  EXPECT_EQ(Disks[3].MediaReason, "ATA IDENTIFY word 217: non-rotating media");

  const std::vector<std::string> L = Lines();
  ASSERT_EQ(L.size(), 7u);
  EXPECT_EQ(L[0], "BuildDiskHintMap: entries=8 elapsed_ms=0");  // PD7 has no interface
  EXPECT_EQ(
      L[1],
      "DiskEnum: PD1 model=PhysicalDrive1 size=536870912000 bus_hint=USB;DRV=USBSTOR;SERVICE=DISK;ENUM=USBSTOR;"
      "HWID=USBSTOR\\DISKJMICRONPORTABLE SSD protocol=BOT media=SSD "
      "media_reason=\"StorageDeviceSeekPenaltyProperty: no seek penalty\" volumes=1");
  EXPECT_EQ(L[2],
            "DiskEnum: PD3 model=PhysicalDrive3 size=1073742336 bus_hint=USB;SERVICE=DISK "
            "protocol=Unknown (transport not identified) media=SSD "
            "media_reason=\"StorageDeviceSeekPenaltyProperty: no seek penalty\" volumes=0");
  EXPECT_EQ(L[3],
            "DiskEnum: skipping PD5 because media=HDD (StorageDeviceSeekPenaltyProperty: incurs seek penalty)");
  EXPECT_EQ(
      L[4].rfind("DiskEnum: PD7 model=PhysicalDrive7 size=137438953472 bus_hint=SCSI;PROTO=UAS protocol=UAS", 0),
      0u);
  EXPECT_EQ(L[5].rfind("ATA IDENTIFY DEVICE probe(params=path=\\\\.\\PhysicalDrive9, ret=True", 0), 0u) << L[5];
  EXPECT_EQ(L[6].rfind("DiskEnum: PD9 ", 0), 0u) << L[6];
  EXPECT_EQ(Disc().OpenDeviceInfoSets(), 0);
  EXPECT_EQ(m->Kernel().OpenHandleCount(), 1u);  // the log file's
}

TEST_F(DiskEnumTest, TheDiskHoldingTheWindowsDirectoryIsMarked) {
  Disc().AddDisk(0, 256 * kGiB, presets::InternalSata());
  Disc().AddVolume('C', 0, kMiB, 255 * kGiB);
  Disc().AddDisk(1, 64 * kGiB, presets::BotEnclosure());
  Disc().AddDisk(2, 64 * kGiB, presets::UasEnclosure());
  Disc().AddVolume('D', 2, kMiB, 60 * kGiB);
  Disc().SetWindowsDirectory("d:\\Windows");

  EXPECT_EQ(TDiskEnumerator::GetSystemDiskNumber(), 2);
  TDiskInfoArray Disks;
  En.Enumerate(Disks);
  ASSERT_EQ(Numbers(Disks), (std::vector<int32_t>{1, 2}));
  EXPECT_FALSE(Disks[0].SystemCritical);
  EXPECT_TRUE(Disks[1].SystemCritical);

  // Without a Windows directory the system disk is looked up on C.
  SimDiscovery::Faults F;
  F.windowsDirectory = ERROR_INVALID_FUNCTION;
  Disc().SetFaults(F);
  EXPECT_EQ(TDiskEnumerator::GetSystemDiskNumber(), 0);
  F.volumeExtents['C'] = ERROR_INVALID_FUNCTION;
  Disc().SetFaults(F);
  EXPECT_EQ(TDiskEnumerator::GetSystemDiskNumber(), -1);
  m->Storage().RemoveVolume('C');
  Disc().SetFaults({});
  Disc().SetWindowsDirectory("C:\\Windows");
  EXPECT_EQ(TDiskEnumerator::GetSystemDiskNumber(), -1);
}

TEST_F(DiskEnumTest, QueryBusHintOverBusTypesMarkersAndDescriptorSizes) {
  struct Case {
    DWORD BusType;
    std::string Raw;
    std::optional<DWORD> Size;
    DWORD HeaderErr, DataErr;
    std::string Want, Line;
  } Cases[] = {
      {BusTypeUsb, std::string("UASPSTOR\0USBSTOR", 16), {}, 0, 0, "USB;DRV=UASPSTOR", ""},
      {BusTypeScsi, "uas", {}, 0, 0, "SCSI;PROTO=UAS", ""},
      {BusTypeUsb, "USBSTOR BULK", {}, 0, 0, "USB;DRV=USBSTOR", ""},
      {BusTypeAta,
       "\x01"
       "Bulk\x7F",
       {},
       0,
       0,
       "ATA;PROTO=BOT",
       ""},
      {BusTypeSata, "", {}, 0, 0, "SATA", ""},
      {BusTypeNvme, "", {}, 0, 0, "NVMe", ""},
      {0, "", {}, 0, 0, "BusType=0", ""},
      {BusTypeSd, "", {}, 0, 0, "BusType=12", ""},
      // Exactly the fixed part: no tail, so no marker even though the texts hold one.
      {BusTypeUsb, "USBSTOR", 36, 0, 0, "USB", ""},
      {BusTypeUsb, "USBSTOR", 35, 0, 0, "Unknown", ""},
      {BusTypeUsb,
       "USBSTOR",
       {},
       ERROR_INVALID_FUNCTION,
       0,
       "Unknown",
       "QueryBusHint: header IOCTL failed, err=1"},
      {BusTypeUsb, "", 40, 0, ERROR_GEN_FAILURE, "Unknown", "QueryBusHint: data IOCTL failed, err=31 hdr_size=40"},
  };
  for (const auto& C : Cases) {
    SimDiskDescription D;
    D.busType = C.BusType;
    D.rawProperties = C.Raw;
    D.vendor = "ACME";
    D.product = "Disk";
    D.faults.reportedSize = C.Size;
    D.faults.descriptorHeader = C.HeaderErr;
    D.faults.descriptorData = C.DataErr;
    Disc().AddDisk(1, 8 * kGiB, D);
    NewLines();
    HANDLE H = Open(1);
    EXPECT_EQ(En.QueryBusHint(H), C.Want) << C.Want;
    Win().CloseHandle(H);
    std::vector<std::string> L = NewLines();
    EXPECT_EQ(L.empty() ? "" : L[0], C.Line);
  }
  // Without a log the answers are the same and nothing is written.
  NewLines();
  HANDLE H = Open(1);
  EXPECT_EQ(TDiskEnumerator(nullptr).QueryBusHint(H), "Unknown");
  Win().CloseHandle(H);
  EXPECT_TRUE(NewLines().empty());
}

TEST_F(DiskEnumTest, DetectMediaKindFromSeekPenaltyThenRotationRate) {
  struct Case {
    DWORD PenaltyErr;
    bool Penalty;
    int Rate;  // -1: the probe fails
    bool Ok;
    TMediaKind Media;
    std::string Reason;
  } Cases[] = {
      {0, true, 1, true, TMediaKind::mkHDD, "StorageDeviceSeekPenaltyProperty: incurs seek penalty"},
      {0, false, 7200, true, TMediaKind::mkSSD, "StorageDeviceSeekPenaltyProperty: no seek penalty"},
      {ERROR_INVALID_FUNCTION, false, 1, true, TMediaKind::mkSSD, "ATA IDENTIFY word 217: non-rotating media"},
      {ERROR_INVALID_FUNCTION, false, 0, true, TMediaKind::mkUnknown, "ATA IDENTIFY word 217: not reported (0)"},
      {ERROR_INVALID_FUNCTION, false, 0xFFFF, true, TMediaKind::mkUnknown,
       "ATA IDENTIFY word 217: not reported (65535)"},
      {ERROR_INVALID_FUNCTION, false, 7200, true, TMediaKind::mkHDD, "ATA IDENTIFY word 217: 7200 RPM"},
      {ERROR_NOT_SUPPORTED, false, -1, false, TMediaKind::mkUnknown, "media kind unknown"},
  };
  int N = 0;
  for (const auto& C : Cases) {
    ++N;
    auto D = presets::UasEnclosure();
    D.seekPenalty = C.Penalty;
    D.faults.seekPenalty = C.PenaltyErr;
    Disc().AddDisk(N, 8 * kGiB, D);
    if (C.Rate >= 0) Identify.SetRotation(N, static_cast<uint16_t>(C.Rate));
    HANDLE H = Open(N);
    TMediaKind Media = TMediaKind::mkSSD;
    std::string Reason = "stale";
    EXPECT_EQ(En.DetectMediaKind(H, "\\\\.\\PhysicalDrive" + std::to_string(N), Media, Reason), C.Ok) << C.Reason;
    EXPECT_EQ(Media, C.Media) << C.Reason;
    EXPECT_EQ(Reason, C.Reason);
    Win().CloseHandle(H);
  }
  // The probe runs with the enumerator's log and writes its own line.
  std::vector<std::string> L = Lines();
  ASSERT_EQ(L.size(), 5u);
  EXPECT_EQ(L[0].rfind("ATA IDENTIFY DEVICE probe(params=path=\\\\.\\PhysicalDrive3, ret=True", 0), 0u) << L[0];
}

TEST_F(DiskEnumTest, A7200RpmDiskBehindAProbeIsSkippedAndAnUnreportedRateIsKept) {
  auto D = presets::BotEnclosure();
  D.faults.seekPenalty = ERROR_INVALID_FUNCTION;
  Disc().AddDisk(1, 500 * kGiB, D);
  Disc().AddDisk(2, 500 * kGiB, D);
  Identify.SetRotation(1, 7200);
  Identify.SetRotation(2, 0);
  TDiskInfoArray Disks;
  En.Enumerate(Disks);
  ASSERT_EQ(Numbers(Disks), (std::vector<int32_t>{2}));
  EXPECT_EQ(Disks[0].Media, TMediaKind::mkUnknown);
  bool Skipped = false;
  for (const auto& L : Lines())
    Skipped = Skipped || L == "DiskEnum: skipping PD1 because media=HDD (ATA IDENTIFY word 217: 7200 RPM)";
  EXPECT_TRUE(Skipped);
}

TEST_F(DiskEnumTest, MapVolumesGivesOneRecordPerExtentOnTheDiskAskedFor) {
  Disc().AddDisk(1, 100 * kGiB, presets::BotEnclosure());
  Disc().AddDisk(2, 100 * kGiB, presets::UasEnclosure());
  // A volume spanning disks 1 and 2, one with two extents on disk 1, and single-extent ones.
  auto Spanned = m->Storage().AddVolume('S', {{1, 10 * kGiB, 5 * kGiB}, {2, kMiB, 7 * kGiB}});
  Spanned->fileSystemName = "NTFS";
  Spanned->sectorsPerCluster = 16;
  auto Two = m->Storage().AddVolume('T', {{1, 20 * kGiB, kGiB}, {1, 30 * kGiB, 2 * kGiB}});
  Two->fileSystemName = "exFAT";
  Disc().AddVolume('E', 1, kMiB, kGiB, "FAT32", 32768);
  Disc().AddVolume('R', 1, 40 * kGiB, kGiB, "");  // raw
  Disc().AddVolume('X', 1, 50 * kGiB, kGiB);      // its extents cannot be read
  SimDiscovery::Faults F;
  F.volumeExtents['X'] = ERROR_INVALID_FUNCTION;
  Disc().SetFaults(F);

  TVolumeInfoArray V(3);
  En.MapVolumes(V, 1);
  ASSERT_EQ(V.size(), 5u);
  EXPECT_EQ(V[0].RootPath, "E:\\");
  EXPECT_EQ(V[0].FileSystem, "FAT32");
  EXPECT_EQ(V[0].ClusterBytes, 32768u);
  EXPECT_FALSE(V[0].FreeSpaceSupported);
  EXPECT_EQ(V[0].SupportNote, "Only NTFS/exFAT supported for free-space TRIM");
  EXPECT_EQ(V[0].ExtentCount, 1);
  EXPECT_EQ(V[1].DriveLetter, "R:");
  EXPECT_EQ(V[1].FileSystem, "RAW/Unknown");
  EXPECT_EQ(V[1].ClusterBytes, 0u);
  EXPECT_EQ(V[2].DriveLetter, "S:");
  EXPECT_EQ(V[2].PartitionOffset, static_cast<int64_t>(10 * kGiB));
  EXPECT_EQ(V[2].PartitionLength, static_cast<int64_t>(5 * kGiB));
  EXPECT_EQ(V[2].ClusterBytes, 8192u);
  EXPECT_EQ(V[2].SupportNote, "supported");
  EXPECT_EQ(V[2].ExtentCount, 2);
  EXPECT_EQ(V[3].DriveLetter, "T:");
  EXPECT_EQ(V[4].DriveLetter, "T:");
  EXPECT_EQ(V[3].PartitionOffset, static_cast<int64_t>(20 * kGiB));
  EXPECT_EQ(V[4].PartitionOffset, static_cast<int64_t>(30 * kGiB));
  EXPECT_TRUE(V[4].FreeSpaceSupported);  // "exFAT" compared upper-cased
  for (const auto& R : V) {
    EXPECT_EQ(R.DiskNumber, 1);
    EXPECT_TRUE(R.HasDriveLetter);
  }

  En.MapVolumes(V, 2);
  ASSERT_EQ(V.size(), 1u);
  EXPECT_EQ(V[0].DriveLetter, "S:");
  EXPECT_EQ(V[0].PartitionOffset, static_cast<int64_t>(kMiB));
  EXPECT_EQ(V[0].ExtentCount, 2);

  F.logicalDrives = 0;
  Disc().SetFaults(F);
  En.MapVolumes(V, 1);
  EXPECT_TRUE(V.empty());
}

// An answer that claims more extents than its buffer holds is read only as far as the buffer,
// and a negative offset or length reads as 0.
TEST_F(DiskEnumTest, MapVolumesNeverReadsPastTheExtentsBuffer) {
  Disc().AddDisk(1, 100 * kGiB, presets::BotEnclosure());
  Disc().AddVolume('E', 1, kMiB, kGiB);
  m->Storage().RegisterIoctl(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, [](SimDeviceCall& C) {
    auto* B = static_cast<uint8_t*>(C.out);
    std::memset(B, 0, C.outSize);
    B[0] = 0xFF;
    B[1] = 0xFF;  // 65535 extents
    for (DWORD At = vde::kFirstExtent; At + vde::kExtentSize <= C.outSize; At += vde::kExtentSize) {
      B[At] = 1;
      std::memset(B + At + vde::kStartingOffset, 0xFF, 8);  // -1
    }
    return TRUE_;
  });
  TVolumeInfoArray V;
  En.MapVolumes(V, 1);
  ASSERT_EQ(V.size(), static_cast<size_t>(vde::Capacity(4096)));
  EXPECT_EQ(V[0].ExtentCount, static_cast<int32_t>(vde::Capacity(4096)));
  EXPECT_EQ(V[0].PartitionOffset, 0);
}

TEST_F(DiskEnumTest, LoadDiskDetailsReadsProductAndSerialInsideTheDescriptorOnly) {
  struct Case {
    const char* Name;
    std::string Product, Serial;
    bool HasSerial;
    std::optional<DWORD> ProductOffset, SerialOffset, Size;
    DWORD HeaderErr;
    std::string WantModel, WantSerial, WantMasked;
  } Cases[] = {
      {"both",
       "  Portable SSD T7 ",
       " S5T7NS0R123456 ",
       true,
       {},
       {},
       {},
       0,
       "Portable SSD T7",
       "S5T7NS0R123456",
       "**********3456"},
      {"ansi text",
       "Caf\xE9 Disk",
       "AB\x80"
       "CDEF",
       true,
       {},
       {},
       {},
       0,
       "Caf\xC3\xA9 Disk",
       "AB\xE2\x82\xAC"
       "CDEF",
       "***CDEF"},
      {"empty product keeps the model",
       "",
       "SER12345",
       true,
       {},
       {},
       {},
       0,
       "PhysicalDrive4",
       "SER12345",
       "****2345"},
      {"empty serial replaces the old one", "Disk", "", false, {}, {}, {}, 0, "Disk", "", "****"},
      {"offsets past the end", "Disk", "SER12345", true, 5000, 0xFFFFFFFF, {}, 0, "PhysicalDrive4", "", "****"},
      {"offsets beyond a 36-byte descriptor",
       "Disk",
       "SER12345",
       true,
       {},
       {},
       36,
       0,
       "PhysicalDrive4",
       "",
       "****"},
      {"descriptor not read",
       "Disk",
       "SER12345",
       true,
       {},
       {},
       {},
       ERROR_GEN_FAILURE,
       "PhysicalDrive4",
       "OLDSERIAL",
       "*****RIAL"},
  };
  for (const auto& C : Cases) {
    auto D = presets::BotEnclosure(C.Product, C.Serial);
    D.hasSerial = C.HasSerial;
    D.faults.productIdOffset = C.ProductOffset;
    D.faults.serialNumberOffset = C.SerialOffset;
    D.faults.reportedSize = C.Size;
    D.faults.descriptorHeader = C.HeaderErr;
    D.seekPenalty = true;
    Disc().AddDisk(4, 8 * kGiB, D);
    TDiskInfo Disk;
    Disk.DiskNumber = 4;
    Disk.DevicePath = "\\\\.\\PhysicalDrive4";
    Disk.Model = "PhysicalDrive4";
    Disk.Serial = "OLDSERIAL";
    Disk.MaskedSerial = "*****RIAL";
    Disk.SizeBytes = 12345;
    Disk.BusHint = "USB";
    En.LoadDiskDetails(Disk);
    EXPECT_EQ(Disk.Model, C.WantModel) << C.Name;
    EXPECT_EQ(Disk.Serial, C.WantSerial) << C.Name;
    EXPECT_EQ(Disk.MaskedSerial, C.WantMasked) << C.Name;
    EXPECT_EQ(Disk.Media, TMediaKind::mkHDD) << C.Name;
    EXPECT_EQ(Disk.MediaReason, "StorageDeviceSeekPenaltyProperty: incurs seek penalty");
    EXPECT_EQ(Disk.SizeBytes, 12345u);
    EXPECT_EQ(Disk.BusHint, "USB");
  }
  // A path that does not open leaves the record as it was.
  TDiskInfo Gone;
  Gone.DevicePath = "\\\\.\\PhysicalDrive9";
  Gone.Model = "PhysicalDrive9";
  Gone.MediaReason = "kept";
  En.LoadDiskDetails(Gone);
  EXPECT_EQ(Gone.Model, "PhysicalDrive9");
  EXPECT_EQ(Gone.MediaReason, "kept");
}

TEST_F(DiskEnumTest, QueryIdentityReadsModelSerialAndSize) {
  auto D = presets::UasEnclosure("Extreme SSD", "ID0042");
  Disc().AddDisk(3, 250 * kGiB, D);
  std::string Model = "x", Serial = "y";
  uint64_t Size = 1;
  EXPECT_TRUE(En.QueryIdentity("\\\\.\\PhysicalDrive3", Model, Serial, Size));
  EXPECT_EQ(Model, "Extreme SSD");
  EXPECT_EQ(Serial, "ID0042");
  EXPECT_EQ(Size, 250 * kGiB);

  // Failed queries leave their values empty; the call still succeeds once the path opened.
  Disc().Describe(3, [](SimDiskDescription& X) {
    X.faults.productIdOffset = 4096;
    X.faults.geometry = ERROR_INVALID_FUNCTION;
  });
  EXPECT_TRUE(En.QueryIdentity("\\\\.\\PhysicalDrive3", Model, Serial, Size));
  EXPECT_EQ(Model, "");
  EXPECT_EQ(Serial, "ID0042");
  EXPECT_EQ(Size, 0u);
  Disc().Describe(3, [](SimDiskDescription& X) {
    X.faults.geometry = 0;
    X.faults.diskSize = -4096;
  });
  HANDLE H = Open(3);
  EXPECT_TRUE(TDiskEnumerator::QueryDiskSize(H, Size));
  EXPECT_EQ(Size, 0u);
  Win().CloseHandle(H);

  EXPECT_FALSE(En.QueryIdentity("\\\\.\\PhysicalDrive8", Model, Serial, Size));
  EXPECT_EQ(Model, "");
  EXPECT_EQ(Serial, "");
  EXPECT_EQ(Size, 0u);
}

TEST_F(DiskEnumTest, HintMapLeavesOutWhatCannotBeRead) {
  Disc().AddDisk(0, 256 * kGiB, presets::InternalSata());
  auto Bot = presets::BotEnclosure();
  Bot.faults.properties[SPDRP_HARDWAREID] = ERROR_INVALID_DATA;
  Disc().AddDisk(1, 64 * kGiB, Bot);
  auto Uas = presets::UasEnclosure();
  Uas.faults.interfaceDetail = ERROR_INVALID_USER_BUFFER;
  Disc().AddDisk(2, 64 * kGiB, Uas);
  auto Closed = presets::UasEnclosure();
  Closed.faults.interfaceOpen = ERROR_ACCESS_DENIED;
  Disc().AddDisk(3, 64 * kGiB, Closed);
  auto NoNumber = presets::UasEnclosure();
  NoNumber.faults.deviceNumber = ERROR_INVALID_FUNCTION;
  Disc().AddDisk(4, 64 * kGiB, NoNumber);
  auto Bare = presets::UnidentifiedUsbBridge();
  Bare.service.clear();
  Disc().AddDisk(5, 64 * kGiB, Bare);

  const TDiskHintMap Map = En.BuildDiskHintMap();
  EXPECT_EQ(
      Map, (TDiskHintMap{
               {0, "SERVICE=DISK;ENUM=SCSI;HWID=SCSI\\DISKSATA SSD"}, {1, "SERVICE=DISK;ENUM=USBSTOR"}, {5, ""}}));
  EXPECT_EQ(NewLines(), (std::vector<std::string>{"BuildDiskHintMap: entries=3 elapsed_ms=0"}));
  EXPECT_EQ(Disc().OpenDeviceInfoSets(), 0);

  // No device-information set: an empty map and no line; a failing walk: an empty map.
  SimDiscovery::Faults F;
  F.classDevs = ERROR_ACCESS_DENIED;
  Disc().SetFaults(F);
  EXPECT_TRUE(En.BuildDiskHintMap().empty());
  EXPECT_TRUE(NewLines().empty());
  F.classDevs = 0;
  F.enumInterfaces = ERROR_GEN_FAILURE;
  Disc().SetFaults(F);
  EXPECT_TRUE(En.BuildDiskHintMap().empty());
  EXPECT_EQ(Disc().OpenDeviceInfoSets(), 0);
}

// Two interfaces answering with one device number: the later one's hint stays, counted once.
TEST_F(DiskEnumTest, HintMapKeepsTheLaterHintForADeviceNumberReportedTwice) {
  Disc().AddDisk(1, 64 * kGiB, presets::BotEnclosure());
  auto Uas = presets::UasEnclosure();
  Uas.faults.reportedNumber = 1;
  Disc().AddDisk(2, 64 * kGiB, Uas);
  EXPECT_EQ(En.BuildDiskHintMap(), (TDiskHintMap{{1, "SERVICE=DISK;ENUM=SCSI;HWID=SCSI\\DISKASMT____UAS SSD"}}));
  EXPECT_EQ(NewLines(), (std::vector<std::string>{"BuildDiskHintMap: entries=1 elapsed_ms=0"}));
  // Without a log the map is the same and nothing is written.
  EXPECT_EQ(TDiskEnumerator(nullptr).BuildDiskHintMap().size(), 1u);
  EXPECT_TRUE(NewLines().empty());
}

TEST_F(DiskEnumTest, ADiskThatLeavesOrJoinsShowsInTheNextEnumeration) {
  Disc().AddDisk(1, 500 * kGiB, presets::BotEnclosure());
  Disc().AddVolume('E', 1, kMiB, 400 * kGiB);
  Disc().AddDisk(2, 500 * kGiB, presets::UasEnclosure());
  TDiskInfoArray Disks;
  En.Enumerate(Disks);
  ASSERT_EQ(Numbers(Disks), (std::vector<int32_t>{1, 2}));

  auto Bot = m->Storage().Disk(1);
  m->Storage().DetachDisk(1);
  En.Enumerate(Disks);
  EXPECT_EQ(Numbers(Disks), (std::vector<int32_t>{2}));
  TVolumeInfoArray V;
  En.MapVolumes(V, 1);
  EXPECT_TRUE(V.empty());  // its volume left with it

  // Back under another number: its registry hint follows it there.
  m->Storage().AttachDisk(Bot, 5);
  m->Storage().AddVolume('E', {{5, kMiB, 400 * kGiB}})->fileSystemName = "NTFS";
  En.Enumerate(Disks);
  ASSERT_EQ(Numbers(Disks), (std::vector<int32_t>{2, 5}));
  EXPECT_EQ(Disks[1].BusHint.rfind("USB;DRV=USBSTOR;SERVICE=DISK;ENUM=USBSTOR", 0), 0u);
  EXPECT_EQ(Disks[1].Volumes.size(), 1u);
}

// The refresh, detail and main threads use one enumerator at once (run under ThreadSanitizer).
TEST(DiskEnumThreads, ThreeThreadsShareOneEnumerator) {
  TThreadFixture F;
  SimDiscovery& Disc = F.m->Discovery();
  TIdentifyResponder Identify(F.m->Storage());
  Disc.AddDisk(0, 256 * kGiB, presets::InternalSata());
  Disc.AddVolume('C', 0, kMiB, 255 * kGiB);
  Disc.AddDisk(1, 500 * kGiB, presets::BotEnclosure("Portable SSD", "S1234567890"));
  Disc.AddVolume('E', 1, kMiB, 499 * kGiB);
  auto Probe = presets::UasEnclosure();
  Probe.faults.seekPenalty = ERROR_INVALID_FUNCTION;
  Disc.AddDisk(2, 64 * kGiB, Probe);
  Identify.SetRotation(2, 1);
  TLogger Log("C:\\logs\\threads.log");
  const TDiskEnumerator En(&Log);

  TDiskInfoArray Want;
  En.Enumerate(Want);
  ASSERT_EQ(Want.size(), 2u);
  constexpr int kRounds = 15;
  std::atomic<int> Bad{0};
  TLambdaThread Refresh([&](TLambdaThread&) {
    for (int I = 0; I < kRounds; ++I) {
      TDiskInfoArray Got;
      En.Enumerate(Got);
      if (Got.size() != 2 || Got[0].BusHint != Want[0].BusHint || Got[1].MediaReason != Want[1].MediaReason) ++Bad;
    }
  });
  TLambdaThread Detail([&](TLambdaThread&) {
    for (int I = 0; I < kRounds; ++I) {
      TDiskInfo D = Want[0];
      En.LoadDiskDetails(D);
      if (D.Serial != "S1234567890" || D.Model != "Portable SSD") ++Bad;
    }
  });
  TLambdaThread Main([&](TLambdaThread&) {
    for (int I = 0; I < kRounds; ++I) {
      TVolumeInfoArray V;
      En.MapVolumes(V, 1);
      std::string Model, Serial;
      uint64_t Size = 0;
      if (V.size() != 1 || !En.QueryIdentity("\\\\.\\PhysicalDrive2", Model, Serial, Size) || Size != 64 * kGiB)
        ++Bad;
    }
  });
  Refresh.Start();
  Detail.Start();
  Main.Start();
  EXPECT_TRUE(Refresh.WaitFor());
  EXPECT_TRUE(Detail.WaitFor());
  EXPECT_TRUE(Main.WaitFor());
  EXPECT_EQ(Bad.load(), 0);
  EXPECT_EQ(Disc.OpenDeviceInfoSets(), 0);
}

}  // namespace

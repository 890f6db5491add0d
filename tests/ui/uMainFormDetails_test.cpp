// The disk details box, the real-test drive selector and the selection's log lines.
#include <gtest/gtest.h>

#include "DiskWindowFixture.h"
#include "core/ScopedFormatSettings.h"
#include "core/uFormat.h"
#include "core/uNumbers.h"

using namespace plat;
using namespace plat::sim;

namespace {

struct DetailsTest : DiskWindowFixture {
  // A disk as the list holds it after its details arrived, with no volume.
  static TDiskInfo Record() {
    TDiskInfo D;
    D.DiskNumber = 4;
    D.DevicePath = "\\\\.\\PhysicalDrive4";
    D.Model = "Example SSD";
    D.Serial = "SN12345678";
    D.MaskedSerial = "******5678";
    D.SizeBytes = 500107862016ull;
    D.BusHint = "USB;DRV=USBSTOR";
    D.Transport = TTransportKind::tkBOT;
    D.Media = TMediaKind::mkSSD;
    D.MediaReason = "no seek penalty";
    return D;
  }
  static TVolumeInfo Volume(const std::string& Letter, const std::string& Fs, int64_t Offset, int64_t Length,
                            bool Lettered = true) {
    TVolumeInfo V;
    V.DriveLetter = Letter;
    V.RootPath = Letter.empty() ? "" : Letter + "\\";
    V.FileSystem = Fs;
    V.ClusterBytes = 4096;
    V.PartitionOffset = Offset;
    V.PartitionLength = Length;
    V.HasDriveLetter = Lettered;
    return V;
  }
  // The lines after the free-space summary.
  std::vector<std::string> ProbeBlock() {
    const auto& L = Details();
    auto It =
        std::find_if(L.begin(), L.end(), [](const std::string& S) { return S.rfind("Free fragments:", 0) == 0; });
    EXPECT_NE(It, L.end());
    return It == L.end() ? std::vector<std::string>{} : std::vector<std::string>(It + 1, L.end());
  }
  std::string Note() { return GetLangText(TTextId::AtaBridgeNote); }
};

TEST_F(DetailsTest, TheBoxLineByLine) {
  Open();
  TDiskInfo D = Record();
  D.SystemCritical = true;
  D.Volumes = {Volume("E:", "NTFS", 1048576, 500105740288), Volume("", "", 0, 0, false)};
  form->ShowDiskDetails(D);
  const std::vector<std::string> Want = {
      "Disk: PD4  Model=Example SSD  Size=465.8 GiB",
      "Transport=BOT  Media=SSD  SystemCritical=True",
      "MediaReason=no seek penalty",
      "BusHint=USB;DRV=USBSTOR",
      "USB requirement=USB3+ required",
      "Serial=******5678",
      "Volumes:",
      "  E:  FS=NTFS  Cluster=4,096  Offset=1,048,576  Length=500,105,740,288 (465.76 GiB)",
      "    FS=  Cluster=4,096  Offset=0  Length=0 (0.00 GiB)",
      "",
      // E: is not on this machine: its bitmap cannot be read, so it adds nothing.
      "Free fragments: 0 | Free sectors: 0 | Free GiB: 0.0",
  };
  EXPECT_EQ(Details(), Want);
  EXPECT_EQ(form->CmbRealTestDrive->Items(), std::vector<std::string>{"E:(NTFS) 500,105,740,288 (465.8 GiB)"});
  EXPECT_EQ(form->CmbRealTestDrive->ItemIndex(), 0);
}

TEST_F(DetailsTest, TheProbeBlock) {
  Open();
  struct Case {
    const char* Name;
    TAtaProbeResult Ata;
    std::vector<std::string> Block;
  };
  const std::string Apt = GetLangText(TTextId::AtaPassThrough), Cap = GetLangText(TTextId::AtaTrimCapable);
  TAtaProbeResult Full;
  Full.Probed = Full.IdentifyOk = Full.TrimSupported = true;
  Full.Model = "SIM SSD";
  Full.Firmware = "FW1";
  Full.RotationRate = 1;
  TAtaProbeResult Bare;
  Bare.Probed = Bare.IdentifyOk = true;
  TAtaProbeResult Failed;
  Failed.Probed = true;
  TAtaProbeResult FailedErr = Failed;
  FailedErr.WinErr = 1117;
  FailedErr.SenseKey = 5;
  FailedErr.Asc = 0x20;
  const std::vector<Case> Cases = {
      {"not run", TAtaProbeResult{}, {}},
      {"full",
       Full,
       {"", Apt + ": YES", Cap + ": YES", "ATA Model: SIM SSD", "ATA Firmware: FW1", "ATA RotationRateWord217: 1",
        Note()}},
      {"identify without texts", Bare, {"", Apt + ": YES", Cap + ": NO", Note()}},
      {"identify failed", Failed, {"", Apt + ": NO", Note()}},
      {"identify failed with an error", FailedErr, {"", Apt + ": NO", "  WinError=1117  Sense=5/32/0", Note()}},
  };
  for (const Case& C : Cases) {
    TDiskInfo D = Record();
    D.Ata = C.Ata;
    form->ShowDiskDetails(D);
    EXPECT_EQ(ProbeBlock(), C.Block) << C.Name;
  }
}

TEST_F(DetailsTest, TheSummaryCountsNtfsExfatAndFat32Only) {
  AddUas(2, 8 * kGiB);
  AddFormatted('E', 2, kMiB, 1 * kGiB);
  AddFormatted('F', 2, 2 * kGiB, 1 * kGiB, SimFsKind::kExFat);
  ASSERT_TRUE(AllocateRuns(m->Storage(), 'E', {{10000, 50}, {20000, 50}}));
  Open();
  uint64_t Fragments = 0, Sectors = 0;
  for (char L : {'E', 'F'})
    for (const auto& [Lba, Count] : FreeDiskRanges(m->Storage(), L)) {
      Fragments++;
      Sectors += Count;
    }
  TDiskInfo D;
  ASSERT_TRUE(form->GetSelectedDisk(D));
  ASSERT_EQ(D.Volumes.size(), 2u);
  const std::string Want =
      Format("Free fragments: %s | Free sectors: %s | Free GiB: %.1f", FormatGroupedU64(Fragments),
             FormatGroupedU64(Sectors), static_cast<double>(Sectors) * 512 / kGiB);
  EXPECT_EQ(form->BuildFreeSpaceSummary(D), Want);
  EXPECT_TRUE(DetailsHave(Want));
  // The same volume reported as FAT or as RAW is not read.
  for (const char* Fs : {"FAT", "RAW/Unknown", "FAT16"}) {
    TDiskInfo Other = D;
    Other.Volumes[0].FileSystem = Fs;
    Other.Volumes[1].FileSystem = Fs;
    EXPECT_EQ(form->BuildFreeSpaceSummary(Other), "Free fragments: 0 | Free sectors: 0 | Free GiB: 0.0") << Fs;
  }
  TDiskInfo Lower = D;
  Lower.Volumes[1].FileSystem = "EXFAT";
  EXPECT_EQ(form->BuildFreeSpaceSummary(Lower), Want);
}

TEST_F(DetailsTest, TheRealTestSelectorListsLetteredVolumesAndStartsAtTheFirst) {
  Open();
  TDiskInfo D = Record();
  D.Volumes = {Volume("E:", "NTFS", 1048576, 4 * static_cast<int64_t>(kGiB)), Volume("F:", "", 0, kGiB),
               Volume("G:", "exFAT", 0, kGiB, false), Volume("", "FAT32", 0, kGiB),
               Volume("H:", "FAT32", 0, 3 * static_cast<int64_t>(kGiB) / 2)};
  form->ShowDiskDetails(D);
  EXPECT_EQ(
      form->CmbRealTestDrive->Items(),
      (std::vector<std::string>{"E:(NTFS) 4,294,967,296 (4.0 GiB)", "F:", "H:(FAT32) 1,610,612,736 (1.5 GiB)"}));
  EXPECT_TRUE(DetailsHave("  F:  FS=  Cluster=4,096"));
  EXPECT_TRUE(DetailsHave("  G:  FS=exFAT"));
  std::string Root;
  ASSERT_TRUE(form->GetRealTestDriveRoot(Root));
  EXPECT_EQ(Root, "E:\\");
  form->CmbRealTestDrive->SetItemIndex(1);
  ASSERT_TRUE(form->GetRealTestDriveRoot(Root));
  EXPECT_EQ(Root, "F:\\");

  D.Volumes.clear();
  form->ShowDiskDetails(D);
  EXPECT_EQ(form->CmbRealTestDrive->ItemCount(), 0);
  EXPECT_FALSE(form->GetRealTestDriveRoot(Root));
  EXPECT_EQ(Root, "");
  EXPECT_TRUE(DetailsHave("  (none)"));
}

TEST_F(DetailsTest, TheSerialMaskAndTheSelectorAfterAClick) {
  AddUas(2, 8 * kGiB, "UAS98765");
  AddFormatted('E', 2, kMiB, 1 * kGiB);
  AddFormatted('F', 2, 2 * kGiB, 1 * kGiB, SimFsKind::kFat32);
  Open();
  EXPECT_TRUE(DetailsHave("Serial=****8765"));
  ASSERT_TRUE(ui.Check("CbAdvanced", true));
  ASSERT_EQ(form->CmbRealTestDrive->ItemCount(), 2);
  form->CmbRealTestDrive->SetItemIndex(1);
  ASSERT_TRUE(ui.Check("CbMaskSerial", false));
  EXPECT_TRUE(DetailsHave("Serial=UAS98765"));
  EXPECT_EQ(form->CmbRealTestDrive->ItemIndex(), 0);  // rebuilt: the first again
  ASSERT_TRUE(ui.Click("BtnRefresh"));
  Settle();
  EXPECT_TRUE(Logged("serial=UAS98765,"));
  ASSERT_TRUE(ui.Check("CbMaskSerial", true));
  EXPECT_TRUE(DetailsHave("Serial=****8765"));
}

TEST_F(DetailsTest, TheSelectionLogLines) {
  Open();
  TDiskInfo D = Record();
  form->LogSelectedDisk(D);
  EXPECT_TRUE(Logged(
      "[INFO] Selected disk: PD4, model=Example SSD, serial=******5678, size_bytes=500107862016, transport=BOT, "
      "media=SSD, media_reason=\"no seek penalty\", bus_hint=USB;DRV=USBSTOR"));
  EXPECT_TRUE(Logged("[WARN] No mapped drive letters/volumes found for selected PhysicalDrive"));
  D.Volumes = {Volume("E:", "NTFS", 1048576, 500105740288)};
  D.Volumes[0].ClusterBytes = 0;
  form->LogSelectedDisk(D);
  EXPECT_TRUE(Logged("[INFO] Volume map: E: fs=NTFS cluster=0 part_offset=1048576 part_len=500105740288"));
  EXPECT_EQ(CountLogged("[WARN] No mapped drive letters"), 1u);
}

TEST_F(DetailsTest, ThousandsFollowTheRegionalSeparator) {
  Open();
  for (auto [V, S] :
       std::vector<std::pair<uint64_t, const char*>>{{0, "0"},
                                                     {999, "999"},
                                                     {1000, "1,000"},
                                                     {4096, "4,096"},
                                                     {18446744073709551615ull, "18,446,744,073,709,551,615"}})
    EXPECT_EQ(form->FormatThousands(V), S);
  ScopedFormatSettings German(TFormatSettings{",", ".", ":"});
  EXPECT_EQ(form->FormatThousands(1234567), "1.234.567");
  TDiskInfo D = Record();
  form->ShowDiskDetails(D);
  EXPECT_TRUE(DetailsHave("Size=465,8 GiB"));
}

}  // namespace

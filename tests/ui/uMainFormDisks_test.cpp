// The disk list: its states, the two item forms, reselection after a refresh, the detail
// generations, the shutdown's wait for every probe, and the device-change debounce.
#include <gtest/gtest.h>

#include "DiskWindowFixture.h"
#include "platform/WinDeviceNotify.h"

using namespace plat;
using namespace plat::sim;
using tk::headless::TModal;

namespace {

struct DiskListTest : DiskWindowFixture {
  std::string kUasHint() { return "USB;DRV=UASPSTOR;SERVICE=DISK;ENUM=SCSI;HWID=SCSI\\DISKASMT____UAS SSD"; }
  size_t Refreshes() { return CountLogged("[INFO] USB disk change detected: refreshing disk list"); }
  size_t Scans() { return CountLogged("[INFO] BuildDiskHintMap:"); }
};

TEST_F(DiskListTest, WithoutUsbDisksTheListIsEmptyAndReady) {
  m->Discovery().AddDisk(0, 64 * kGiB, presets::InternalSata());
  Open();
  EXPECT_TRUE(DiskItems().empty());
  EXPECT_EQ(form->CmbDisk->ItemIndex(), -1);
  EXPECT_EQ(Details(), std::vector<std::string>{"(no disk selected)"});
  EXPECT_FALSE(form->CbInitStyle->Visible());
  EXPECT_FALSE(form->LblInitStyle->Visible());
  EXPECT_TRUE(Ready());
  EXPECT_TRUE(form->BtnRefresh->Enabled());
  EXPECT_TRUE(form->CmbDisk->Enabled());
  TDiskInfo D;
  EXPECT_FALSE(form->GetSelectedDisk(D));
  EXPECT_EQ(m->Kernel().LastStackSize(), 4194304u);  // the scan's
}

TEST_F(DiskListTest, AnItemNamesTheModelOnceTheDetailsHaveArrived) {
  AddUas(2, 8 * kGiB);
  AddFormatted('E', 2, kMiB, 2 * kGiB);
  m->Bridge().SetIdentifyDelay(2, 3000);
  Create();
  form->Show();
  // The scan is done, the probe still answers.
  ASSERT_TRUE(ui.RunUntil([&] { return Ready(); }, 1000));
  EXPECT_EQ(DiskItems(), std::vector<std::string>{"PD2 | 8.0 GiB | UAS | SSD | USB3+ likely | E:(NTFS)"});
  EXPECT_TRUE(DetailsHave("Model=PhysicalDrive2"));
  Settle();
  EXPECT_EQ(DiskItems(),
            std::vector<std::string>{"PD2 | UAS SSD | 8.0 GiB | UAS | USB3+ likely | E:(NTFS) | ATA-TRIM:YES"});
  EXPECT_TRUE(DetailsHave("Disk: PD2  Model=UAS SSD  Size=8.0 GiB"));
  EXPECT_EQ(CountLogged("[INFO] Selected disk: PD2"), 2u);  // once for the list, once for the details
  EXPECT_EQ(m->Kernel().LastStackSize(), 4194304u);         // the probe's
}

TEST_F(DiskListTest, TheAtaSuffixFollowsTheProbe) {
  struct Case {
    const char* Name;
    std::function<void(SimMachine&)> Set;
    const char* Suffix;
  };
  const std::vector<Case> Cases = {
      {"trim supported", [](SimMachine&) {}, " | ATA-TRIM:YES"},
      {"identify without trim",
       [](SimMachine& M) {
         SimIdentity Id;
         Id.trimSupported = false;
         M.Bridge().SetIdentity(2, Id);
       },
       " | ATA-TRIM:NO"},
      {"no identify data",
       [](SimMachine& M) {
         SimFault F;
         F.command = SimCommand::Identify;
         F.winError = ERROR_INVALID_FUNCTION;
         M.Bridge().AddFault(2, F);
       },
       " | APT:N/A"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    AddUas(2, 8 * kGiB);
    C.Set(*m);
    Open();
    ASSERT_EQ(DiskItems().size(), 1u);
    EXPECT_EQ(DiskItems()[0],
              std::string("PD2 | UAS SSD | 8.0 GiB | UAS | USB3+ likely | (no-volume)") + C.Suffix);
    Close();
    m->Bridge().ClearFaults(2);
  }
  // A result whose probe did not run carries no suffix (the first generation is 1).
  AddUas(2, 8 * kGiB);
  Open();
  TDiskInfo D;
  ASSERT_TRUE(form->GetSelectedDisk(D));
  D.Ata = TAtaProbeResult{};
  form->ApplyDiskDetail(0, 1, D);
  EXPECT_EQ(DiskItems()[0], "PD2 | UAS SSD | 8.0 GiB | UAS | USB3+ likely | (no-volume)");
}

TEST_F(DiskListTest, UsbRequirementAndVolumeTexts) {
  Open();
  struct Req {
    const char* Hint;
    TTransportKind Transport;
    const char* Text;
  };
  for (const Req& C : std::vector<Req>{{"USB;usb2;XHCI", TTransportKind::tkUAS, "USB2 - unsupported"},
                                       {"HighSpeed hub", TTransportKind::tkBOT, "USB2 - unsupported"},
                                       {"root EHCI", TTransportKind::tkBOT, "USB2 - unsupported"},
                                       {"USB 3.1 port", TTransportKind::tkBOT, "USB3+"},
                                       {"superspeed", TTransportKind::tkBOT, "USB3+"},
                                       {"USB;DRV=UASPSTOR", TTransportKind::tkUAS, "USB3+ likely"},
                                       {"USB;DRV=USBSTOR", TTransportKind::tkBOT, "USB3+ required"},
                                       {"", TTransportKind::tkUnknown, "USB3+ required"}}) {
    TDiskInfo D;
    D.BusHint = C.Hint;
    D.Transport = C.Transport;
    EXPECT_EQ(form->UsbRequirementText(D), C.Text) << C.Hint;
  }
  TDiskInfo D;
  EXPECT_EQ(TMainForm::VolumeLettersText(D), "(no-volume)");
  TVolumeInfo E, F, Hidden, Bare;
  E.DriveLetter = "E:";
  E.FileSystem = "NTFS";
  F.DriveLetter = "F:";
  F.FileSystem = "RAW/Unknown";
  Bare.DriveLetter = "G:";
  D.Volumes = {E, Hidden, F, Bare};
  EXPECT_EQ(TMainForm::VolumeLettersText(D), "E:(NTFS), F:(RAW/Unknown), G:");
  D.Volumes = {Hidden};
  EXPECT_EQ(TMainForm::VolumeLettersText(D), "(no-volume)");
  EXPECT_DOUBLE_EQ(TMainForm::BytesToGiB(3 * kGiB / 2), 1.5);
  EXPECT_DOUBLE_EQ(TMainForm::BytesToGiB(~0ull), 17179869184.0);
}

TEST_F(DiskListTest, ARefreshReselectsByNumberSizeAndBusHint) {
  AddUas(1, 8 * kGiB, "A1");
  AddUas(2, 16 * kGiB, "B2");
  AddUas(3, 32 * kGiB, "C3");
  Open();
  ASSERT_EQ(DiskItems().size(), 3u);
  ASSERT_TRUE(ui.Select("CmbDisk", 2));
  Settle();

  // PD1 leaves: PD3 is now the second item and stays selected.
  m->Storage().DetachDisk(1);
  Settle();
  ASSERT_EQ(DiskItems().size(), 2u);
  EXPECT_EQ(form->CmbDisk->ItemIndex(), 1);
  EXPECT_TRUE(DetailsHave("Disk: PD3"));
  EXPECT_EQ(Refreshes(), 1u);

  // The Refresh button: same disks, same selection.
  ASSERT_TRUE(ui.Click("BtnRefresh"));
  Settle();
  EXPECT_EQ(form->CmbDisk->ItemIndex(), 1);

  // PD3 comes back with another size: not the same disk, so item 0 is selected.
  m->Discovery().AddDisk(3, 64 * kGiB, presets::UasEnclosure("UAS SSD", "C3"));
  Settle();
  ASSERT_EQ(DiskItems().size(), 2u);
  EXPECT_EQ(form->CmbDisk->ItemIndex(), 0);
  EXPECT_TRUE(DetailsHave("Disk: PD2"));
}

TEST_F(DiskListTest, ScanningStateAndARefreshClickDuringTheScan) {
  AddUas(2, 8 * kGiB);
  // Without the seek-penalty answer the media kind comes from IDENTIFY, which takes 2 s here.
  m->Discovery().Describe(2, [](SimDiskDescription& D) { D.faults.seekPenalty = ERROR_INVALID_FUNCTION; });
  m->Bridge().SetIdentifyDelay(2, 2000);
  Create();
  form->Show();
  ui.RunFor(500);
  EXPECT_EQ(form->LblStatus->Caption(), GetLangText(TTextId::StatusScanning));
  EXPECT_FALSE(form->BtnRefresh->Enabled());
  EXPECT_FALSE(form->CmbDisk->Enabled());
  EXPECT_FALSE(ui.Click("BtnRefresh"));  // the user cannot
  form->BtnRefreshClick(nullptr);        // and a call changes nothing while a scan runs
  Settle(20000);
  EXPECT_TRUE(Ready());
  EXPECT_EQ(Scans(), 1u);
  EXPECT_EQ(DiskItems().size(), 1u);
}

TEST_F(DiskListTest, ThreeDeviceEventsHalfASecondApartGiveOneRefresh) {
  AddUas(2, 8 * kGiB);
  Open();
  const size_t ScansBefore = Scans();
  AddUas(3, 8 * kGiB, "X3");
  ui.RunFor(500);
  m->Storage().DetachDisk(3);
  ui.RunFor(500);
  AddUas(4, 8 * kGiB, "X4");
  ui.RunFor(1190);
  EXPECT_EQ(Refreshes(), 0u);
  ui.RunFor(20);
  EXPECT_EQ(Refreshes(), 1u);
  Settle();
  EXPECT_EQ(Refreshes(), 1u);
  EXPECT_EQ(Scans(), ScansBefore + 1);
  EXPECT_EQ(DiskItems().size(), 2u);  // PD2 and PD4
}

TEST_F(DiskListTest, OtherMessagesGoToTheDefaultProcedure) {
  Open();
  EXPECT_EQ(form->DeviceWndProc(nullptr, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), 1);
  EXPECT_EQ(form->DeviceWndProc(nullptr, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0), 0);
  EXPECT_EQ(form->DeviceWndProc(nullptr, 0x0400, DBT_DEVICEARRIVAL, 0), 0);
  Settle();
  EXPECT_EQ(Refreshes(), 1u);  // the one arrival only
}

TEST_F(DiskListTest, WithoutNotificationsTheRefreshButtonStillWorks) {
  m->Notifications().SetRegisterFault(ERROR_INVALID_DATA);
  Open();
  EXPECT_TRUE(DiskItems().empty());
  AddUas(2, 8 * kGiB);
  Settle();
  EXPECT_TRUE(DiskItems().empty());
  ASSERT_TRUE(ui.Click("BtnRefresh"));
  Settle();
  EXPECT_EQ(DiskItems().size(), 1u);
}

// The older probe's result never counts, whether it arrives before or after the newer one.
TEST_F(DiskListTest, OnlyTheNewestDetailGenerationIsApplied) {
  for (bool OlderIsSlower : {true, false}) {
    SCOPED_TRACE(OlderIsSlower ? "older slower" : "older faster");
    AddUas(1, 8 * kGiB, "P1");
    AddUas(2, 8 * kGiB, "A2", "Disk A");
    AddUas(3, 8 * kGiB, "B3", "Disk B");
    Open();
    m->Bridge().SetIdentifyDelay(2, OlderIsSlower ? 3000 : 100);
    m->Bridge().SetIdentifyDelay(3, OlderIsSlower ? 100 : 3000);
    ASSERT_TRUE(ui.Select("CmbDisk", 1));
    ASSERT_TRUE(ui.Select("CmbDisk", 2));
    Settle();
    EXPECT_EQ(DiskItems()[1], "PD2 | 8.0 GiB | UAS | SSD | USB3+ likely | (no-volume)");
    EXPECT_EQ(DiskItems()[2], "PD3 | Disk B | 8.0 GiB | UAS | USB3+ likely | (no-volume) | ATA-TRIM:YES");
    EXPECT_TRUE(DetailsHave("Disk: PD3  Model=Disk B"));
    EXPECT_FALSE(Logged("model=Disk A"));
    Close();
  }
}

TEST_F(DiskListTest, TheShutdownWaitsForEverySupersededProbe) {
  AddUas(1, 8 * kGiB, "P1");
  AddUas(2, 8 * kGiB, "A2");
  AddUas(3, 8 * kGiB, "B3");
  Open();
  // The newest probe (PD1) answers at once, the two it superseded take 4 s.
  m->Bridge().SetIdentifyDelay(1, 100);
  for (int D : {2, 3}) m->Bridge().SetIdentifyDelay(D, 4000);
  ASSERT_TRUE(ui.Select("CmbDisk", 1));
  ASSERT_TRUE(ui.Select("CmbDisk", 2));
  ASSERT_TRUE(ui.Select("CmbDisk", 0));
  ui.RunFor(100);
  const uint64_t Start = m->Kernel().NowMs();
  Close();
  // None is left running once the window is gone.
  EXPECT_GE(m->Kernel().NowMs() - Start, 3800u);
  EXPECT_EQ(m->Kernel().LiveThreads(), 0);
}

TEST_F(DiskListTest, ADeviceEventDuringARunRefreshesOnceTheRunHasEnded) {
  AddUas(2, 8 * kGiB);
  AddFormatted('E', 2, kMiB, 2 * kGiB);
  Open();
  ASSERT_TRUE(ui.Check("CbDryRun", true));
  uint64_t RunEnd = 0;
  script.Box(IDOK).Box([&](const TModal&) {
    // The result box is open: the run still counts as going.
    AddUas(3, 8 * kGiB, "X3");
    ui.RunFor(3000);
    EXPECT_EQ(Refreshes(), 0u);
    RunEnd = m->Kernel().NowMs();
    return IDOK;
  });
  ASSERT_TRUE(ui.Click("BtnStart"));
  ASSERT_TRUE(ui.RunUntil([&] { return Refreshes() == 1; }, 10000));
  EXPECT_LE(m->Kernel().NowMs() - RunEnd, 1200u);
  Settle();
  EXPECT_EQ(Refreshes(), 1u);
  EXPECT_EQ(DiskItems().size(), 2u);
}

}  // namespace

// The tool's main job done in the window as a user does it: a free-space execution on a UAS disk
// with an NTFS volume, then a full-device execution on a disk without volumes that ends with a
// fresh GPT, which an independent reader (sgdisk, fdisk) judges from a dump of the disk (on the
// Linux host, when the tools are installed; the window's part runs everywhere).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "DiskWindowFixture.h"
#include "HostTools.h"

using namespace plat;
using namespace plat::sim;
using tk::headless::TModal;
namespace fs = std::filesystem;

namespace {

struct EndToEndTest : DiskWindowFixture {
  fs::path dir;

  EndToEndTest() {
    dir = fs::temp_directory_path() / ("vt_e2e_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
  }
  ~EndToEndTest() override {
    std::error_code Ec;
    fs::remove_all(dir, Ec);
  }

  // The disk as an image file: its first and last MiB, where the partition tables live; the
  // rest is left as a hole, which reads as zeros like the trimmed sectors.
  std::string Dump(int Disk) {
    const std::string Path = (dir / ("disk" + std::to_string(Disk) + ".img")).string();
    const SimDrive& Drive = m->Storage().Disk(Disk)->drive;
    const uint64_t Sectors = Drive.Sectors();
    {
      std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
      std::vector<char> Buf(2048 * 512);
      for (uint64_t Lba : {uint64_t{0}, Sectors - 2048}) {
        EXPECT_TRUE(Drive.Read(Lba, 2048, Buf.data()));
        Out.seekp(static_cast<std::streamoff>(Lba * 512));
        Out.write(Buf.data(), static_cast<std::streamsize>(Buf.size()));
      }
    }
    fs::resize_file(Path, Sectors * 512);
    return Path;
  }
  std::string Run(const std::string& Command, int* Rc) {
    std::string Output;
    *Rc = hosttools::Run(Command, &Output);
    return Output;
  }

  // Start, and the answers of a real execution: the notice, Yes, the disk number, the result.
  void Execute(int DiskNumber, std::set<int>& Seen, bool InitBox) {
    script.Box(IDOK).Box(IDYES).Input(std::to_string(DiskNumber)).Box(IDOK);
    if (InitBox) script.Box(IDOK);
    ASSERT_TRUE(ui.Click("BtnStart"));
    ASSERT_TRUE(ui.RunUntil(
        [&] {
          Seen.insert(form->PbProgress->Position());
          return form->BtnStart->Enabled() && script.Pending() == 0;
        },
        600000));
  }
};

TEST_F(EndToEndTest, FreeSpaceThenFullDeviceWithAFreshGpt) {
  AddUas(2, 4 * kGiB, "UASE2E1");
  AddFormatted('E', 2, kMiB, 1 * kGiB);
  // Files in the volume, so the free space lies in several pieces.
  for (uint64_t I = 0; I < 5; I++) ASSERT_TRUE(AllocateRuns(m->Storage(), 'E', {{20000 + I * 3000, 700}}));
  AddUas(3, 2 * kGiB, "UASE2E2");
  const auto Free = FreeDiskRanges(m->Storage(), 'E');
  ASSERT_GT(Free.size(), 3u);
  Open();

  // ---- free space on PD2 ----
  ASSERT_EQ(form->CmbDisk->ItemIndex(), 0);
  EXPECT_EQ(form->RgMode->ItemIndex(), 1);  // a disk with volumes runs in free-space mode
  std::set<int> Seen;
  Execute(2, Seen, false);
  const auto Shown = BoxTexts();
  ASSERT_GE(Shown.size(), 3u);
  EXPECT_EQ(Shown.front(),
            std::make_pair(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::StopWritesDuringTrim)));
  EXPECT_EQ(Shown[1],
            std::make_pair(GetLangText(TTextId::TrimWarningCaption), GetLangText(TTextId::TrimRiskQuestion)));
  EXPECT_EQ(Shown.back(), std::make_pair(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::TrimCompleted)));
  const auto Inputs = script.Log(tk::headless::TModalKind::Input);
  ASSERT_EQ(Inputs.size(), 1u);
  EXPECT_EQ(Inputs[0].Text, GetLangText(TTextId::EnterDiskNumberPrefix) + "\"2\"");
  EXPECT_EQ(form->PbProgress->Position(), 100);
  EXPECT_EQ(form->LblStatus->Caption(), GetLangText(TTextId::StatusCompleted));
  EXPECT_FALSE(form->BtnCancel->Enabled());
  EXPECT_TRUE(Seen.count(100));
  // Exactly the volume's free clusters were released, nothing outside them.
  EXPECT_EQ(m->Storage().Disk(2)->drive.TrimmedRanges(), Free);
  EXPECT_TRUE(m->Storage().Disk(3)->drive.Ledger().empty());
  EXPECT_TRUE(Logged("[INFO] Run completed: planned="));
  // A free-space run announces no initialisation and writes no line about one.
  for (TTextId Id : {TTextId::WillInitGpt, TTextId::WillInitMbr, TTextId::InitSkipped})
    EXPECT_FALSE(WindowLogHas(GetLangText(Id)));

  // ---- the whole of PD3, then a GPT ----
  ASSERT_TRUE(ui.Select("CmbDisk", 1));
  EXPECT_EQ(form->RgMode->ItemIndex(), 0);  // without volumes: full device
  ASSERT_TRUE(form->CbInitStyle->Visible());
  EXPECT_EQ(form->CbInitStyle->ItemIndex(), 0);  // a RAW disk: GPT preselected
  const size_t Before = Boxes().size();
  Execute(3, Seen, true);
  const auto After = BoxTexts();
  ASSERT_EQ(After.size(), Before + 4);
  EXPECT_EQ(After[After.size() - 2],
            std::make_pair(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::TrimCompleted)));
  EXPECT_EQ(After.back(),
            std::make_pair(GetLangText(TTextId::InitCompleteCaption), GetLangText(TTextId::InitializedGpt)));
  EXPECT_TRUE(Logged("[INFO] " + GetLangText(TTextId::InitSucceededPrefix) + "\\\\.\\PhysicalDrive3 style=GPT"));
  EXPECT_TRUE(WindowLogHas(GetLangText(TTextId::WillInitGpt)));
  EXPECT_TRUE(WindowLogHas("Disk initialized as GPT after TRIM."));
  const auto Trimmed = m->Storage().Disk(3)->drive.TrimmedRanges();
  ASSERT_EQ(Trimmed.size(), 1u);
  EXPECT_EQ(Trimmed[0], std::make_pair(uint64_t{0}, 2 * kGiB / 512));
  EXPECT_EQ(m->Storage().Disk(2)->drive.TrimmedRanges(), Free);  // PD2 untouched by the second run

  TDiskInfo Pd3;
  ASSERT_TRUE(form->GetSelectedDisk(Pd3));
  EXPECT_EQ(form->QueryPartitionStyle(Pd3), 1);

  // The independent reader's verdict on the disk's sectors.
  VT_NEED_TOOL("sgdisk");
  VT_NEED_TOOL("fdisk");
  int Rc = 0;
  const std::string Img = Dump(3);
  const std::string Verify = Run("sgdisk -v " + Img, &Rc);
  EXPECT_EQ(Rc, 0) << Verify;
  EXPECT_NE(Verify.find("No problems found"), std::string::npos) << Verify;
  const std::string List = Run("fdisk -l " + Img, &Rc);
  EXPECT_EQ(Rc, 0) << List;
  EXPECT_NE(List.find("Disklabel type: gpt"), std::string::npos) << List;
  const std::string Print = Run("sgdisk -p " + Img, &Rc);
  EXPECT_NE(Print.find("holds up to 128 entries"), std::string::npos) << Print;
  EXPECT_NE(Print.find("First usable sector is 34, last usable sector is " + std::to_string(2 * kGiB / 512 - 34)),
            std::string::npos)
      << Print;
}

}  // namespace

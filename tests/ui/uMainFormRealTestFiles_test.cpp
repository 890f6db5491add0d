// The test folder from the real-test tab: its deletion (asked with the drive named, never through
// a junction or symbolic link, failures logged) and the file-map export (every file below it,
// with its disk sectors on the folder's own volume, its size and the one quoting rule).
#include <gtest/gtest.h>

#include "realtest/uFileMap.h"
#include "ui/RealTestWindowFixture.h"

using namespace plat;
using namespace plat::sim;

namespace {

struct TestFolder : RealTestWindowFixture {
  // E:'s geometry: NTFS from sector 2048 in 4096-byte clusters, cluster 0 at the volume's start.
  std::string Row(const std::string& Path, int64_t Size) {
    const SimClusterRuns Runs = m->VolumeFiles().Runs(Path);
    if (Runs.empty()) return Path + ",0,0," + std::to_string(Size);
    const uint64_t First = 2048 + Runs.front().first * 8;
    const uint64_t Last = 2048 + (Runs.back().first + Runs.back().second) * 8 - 1;
    return Path + "," + std::to_string(First) + "," + std::to_string(Last) + "," + std::to_string(Size);
  }
  void Write(const std::string& Path, size_t Size) {
    ASSERT_TRUE(m->VolumeFiles().WriteAll(Path, std::string(Size, 'x')));
  }
  bool Exists(const std::string& Path) { return Win().GetFileAttributesW(Path) != INVALID_FILE_ATTRIBUTES; }
  void Delete(int Answer) {
    script.Box(Answer);
    ASSERT_TRUE(ui.Click("BtnDeleteTestFolder"));
  }
  void Export() { ASSERT_TRUE(ui.Click("BtnExportFileMap")); }
  std::string Confirm109() { return GetLangText(TTextId::DeleteTestFolderQuestion) + "\r\nE:\\"; }
};

TEST_F(TestFolder, DeletionAsksWithTheDriveNamedAndRemovesEverythingBelow) {
  AddTestDisk();
  Write(TestFile(0), 8192);
  Write(GigFile(0), 16384);
  Write(std::string(kFolder) + "\\deep\\er\\note.txt", 10);
  OpenTab();

  Delete(IDNO);
  EXPECT_EQ(LastBox(), std::make_pair(GetLangText(TTextId::ConfirmCaption), Confirm109()));
  EXPECT_EQ(Boxes().back().Type, MB_YESNO | MB_ICONQUESTION);
  EXPECT_TRUE(Exists(TestFile(0)));

  Delete(IDYES);
  EXPECT_FALSE(Exists(kFolder));
  EXPECT_EQ(RealLog().back(), "Folder deleted: E:\\trim_real_test");
  EXPECT_TRUE(Logged("[INFO] Folder deleted: E:\\trim_real_test"));
  EXPECT_TRUE(form->BtnDeleteTestFolder->Enabled());

  // Gone: the line names the folder without a trailing backslash, and nothing is asked.
  const size_t Asked = Boxes().size();
  ASSERT_TRUE(ui.Click("BtnDeleteTestFolder"));
  EXPECT_EQ(Boxes().size(), Asked);
  EXPECT_EQ(RealLog().back(), "Folder does not exist: E:\\trim_real_test");
}

TEST_F(TestFolder, DeletionRemovesAJunctionItselfAndNothingItLeadsTo) {
  AddTestDisk();
  const std::string Keep = "E:\\keep\\precious.doc";
  Write(Keep, 5000);
  Write(TestFile(0), 8192);
  ASSERT_TRUE(m->VolumeFiles().AddJunction(std::string(kFolder) + "\\link", "E:\\keep"));
  ASSERT_TRUE(Exists(std::string(kFolder) + "\\link\\precious.doc"));
  OpenTab();
  Delete(IDYES);
  EXPECT_EQ(RealLog().back(), "Folder deleted: E:\\trim_real_test");
  EXPECT_FALSE(Exists(kFolder));
  EXPECT_EQ(m->VolumeFiles().ReadAll(Keep), std::string(5000, 'x'));

  // The test folder itself a junction: only the link goes.
  ASSERT_TRUE(m->VolumeFiles().AddJunction(kFolder, "E:\\keep"));
  Delete(IDYES);
  EXPECT_FALSE(Exists(kFolder));
  EXPECT_EQ(m->VolumeFiles().ReadAll(Keep), std::string(5000, 'x'));
}

TEST_F(TestFolder, ATestDoesNotWriteThroughALinkInTheFoldersPlace) {
  AddTestDisk();
  const std::string Keep = "E:\\keep\\precious.doc";
  Write(Keep, 5000);
  ASSERT_TRUE(m->VolumeFiles().AddJunction(kFolder, "E:\\keep"));
  OpenTab();
  script.Box(IDYES).Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnRealTestStart"));
  RunToEnd();
  EXPECT_EQ(LastBox().second, GetLangText(TTextId::CreateTestFolderFailedPrefix) + kFolder + "\\");
  EXPECT_TRUE(RealLogged("junction or symbolic link"));
  // Nothing was written where the link leads.
  EXPECT_EQ(m->VolumeFiles().ReadAll(Keep), std::string(5000, 'x'));
  EXPECT_FALSE(Exists("E:\\keep\\file_0.bin"));
  EXPECT_TRUE(disk->drive.Ledger().empty());
  // Nor is a file map written of what lies behind it.
  ASSERT_TRUE(ui.Click("BtnExportFileMap"));
  EXPECT_TRUE(RealLogged("no file map is written"));
  EXPECT_FALSE(m->Files().Exists(std::string(kOutput) + "created_files.csv"));
}

TEST_F(TestFolder, ADeletionThatFailsIsLoggedAndWhatWentStaysGone) {
  AddTestDisk();
  Write(std::string(kFolder) + "\\a.bin", 4096);
  Write(std::string(kFolder) + "\\b.bin", 4096);
  Write(std::string(kFolder) + "\\c.bin", 4096);
  SimVolumeFileFault Locked;
  Locked.deleteError = ERROR_ACCESS_DENIED;
  m->VolumeFiles().SetFault(std::string(kFolder) + "\\b.bin", Locked);
  OpenTab();
  Delete(IDYES);
  EXPECT_EQ(RealLog().back(), "Folder deletion failed: E:\\trim_real_test");
  EXPECT_FALSE(Exists(std::string(kFolder) + "\\a.bin"));  // by name: a before b
  EXPECT_TRUE(Exists(std::string(kFolder) + "\\b.bin"));
  EXPECT_TRUE(Exists(std::string(kFolder) + "\\c.bin"));
  EXPECT_TRUE(form->BtnDeleteTestFolder->Enabled());
}

TEST_F(TestFolder, TheFileMapListsEveryFileBelowTheFolderOnce) {
  AddTestDisk();
  Write(TestFile(0), kMiB);
  Write(TestFile(1), 3 * 4096 + 100);
  Write(GigFile(0), 2 * kMiB);
  const std::string Hidden = std::string(kFolder) + "\\.hidden";
  Write(Hidden, 10);
  ASSERT_TRUE(Win().SetFileAttributesW(Hidden, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  const std::string Odd = std::string(kFolder) + "\\notes, v2.txt";
  Write(Odd, 7);
  Write("E:\\keep\\outside.bin", 4096);
  ASSERT_TRUE(m->VolumeFiles().AddJunction(std::string(kFolder) + "\\link", "E:\\keep"));
  OpenTab();
  Export();
  const auto Lines = CsvLines("file_map.csv");
  // NTFS lists by name; the junction is an entry of its own and never entered.
  const std::vector<std::string> Want = {
      "FileName,StartSector,EndSector,SizeBytes",
      Row(Hidden, 10),
      Row(GigFile(0), 2 * kMiB),
      Row(TestFile(0), kMiB),
      Row(TestFile(1), 3 * 4096 + 100),
      std::string(kFolder) + "\\link,0,0,0",
      "\"" + Odd + "\"" + Row(Odd, 7).substr(Odd.size()),
  };
  EXPECT_EQ(Lines, Want);
  EXPECT_EQ(RealLog().back(), "File map CSV saved: 6 \xE2\x86\x92 " + std::string(kOutput) + "file_map.csv");
  EXPECT_TRUE(form->BtnExportFileMap->Enabled());

  // A second export overwrites the first.
  ASSERT_TRUE(Win().DeleteFileW(TestFile(1)));
  Export();
  EXPECT_EQ(CsvLines("file_map.csv").size(), Want.size() - 1);  // one row less
  EXPECT_EQ(RealLog().back(), "File map CSV saved: 5 \xE2\x86\x92 " + std::string(kOutput) + "file_map.csv");
}

TEST_F(TestFolder, TheFileMapCountsSectorsOnTheFoldersOwnVolume) {
  // D: first on the disk, the test folder on E: behind it.
  disk = AddUas(kDisk, 2 * kGiB, "UASRT01");
  AddFormatted('D', kDisk, kMiB, 48 * kMiB);
  AddFormatted('E', kDisk, 100 * kMiB, 48 * kMiB);
  Write(TestFile(0), kMiB);
  OpenTab();
  ASSERT_EQ(form->CmbRealTestDrive->ItemCount(), 2);
  ASSERT_TRUE(ui.Select("CmbRealTestDrive", 1));
  Export();
  const SimClusterRuns Runs = m->VolumeFiles().Runs(TestFile(0));
  ASSERT_EQ(Runs.size(), 1u);
  const uint64_t Start = 100 * kMiB / 512;
  const auto Lines = CsvLines("file_map.csv");
  ASSERT_EQ(Lines.size(), 2u);
  EXPECT_EQ(Lines[1], TestFile(0) + "," + std::to_string(Start + Runs[0].first * 8) + "," +
                          std::to_string(Start + (Runs[0].first + Runs[0].second) * 8 - 1) + "," +
                          std::to_string(kMiB));
}

TEST_F(TestFolder, TheChosenDriveStaysChosenWhileItIsListed) {
  disk = AddUas(kDisk, 2 * kGiB, "UASRT01");
  AddFormatted('D', kDisk, kMiB, 48 * kMiB);
  AddFormatted('E', kDisk, 100 * kMiB, 48 * kMiB);
  OpenTab();
  ASSERT_TRUE(ui.Select("CmbRealTestDrive", 1));
  // The details are shown again by a refresh: E: stays the test's drive.
  ShowTab(kTrimPage);
  ASSERT_TRUE(ui.Click("BtnRefresh"));
  Settle();
  ASSERT_EQ(form->CmbRealTestDrive->ItemCount(), 2);
  EXPECT_EQ(form->CmbRealTestDrive->ItemIndex(), 1);
  std::string Root;
  ASSERT_TRUE(form->GetRealTestDriveRoot(Root));
  EXPECT_EQ(Root, "E:\\");
  // Once E: has gone, the first drive listed.
  m->Storage().RemoveVolume('E');
  ASSERT_TRUE(ui.Click("BtnRefresh"));
  Settle();
  ASSERT_EQ(form->CmbRealTestDrive->ItemCount(), 1);
  EXPECT_EQ(form->CmbRealTestDrive->ItemIndex(), 0);
}

TEST_F(TestFolder, AFileWhoseSectorsCannotBeFoundHasZerosAndItsSize) {
  AddTestDisk();
  m->VolumeFiles().SetAllocation('E', 1, 1);  // every cluster a run of its own: 256 runs a MiB
  Write(TestFile(0), kMiB);
  OpenTab();
  Export();
  const auto Lines = CsvLines("file_map.csv");
  ASSERT_EQ(Lines.size(), 2u);
  EXPECT_EQ(Lines[1], TestFile(0) + ",0,0," + std::to_string(kMiB));
}

TEST_F(TestFolder, TheExportsRefusalsAndItsLogLines) {
  AddTestDisk();
  OpenTab();
  // No folder: the line carries the trailing backslash, no box, no file.
  Export();
  EXPECT_EQ(RealLog().back(), "Folder does not exist: E:\\trim_real_test\\");
  // An empty folder.
  ASSERT_TRUE(Win().CreateDirectoryW(kFolder));
  Export();
  EXPECT_EQ(RealLog().back(), GetLangText(TTextId::NoFilesInTestFolder));
  EXPECT_FALSE(m->Files().Exists(std::string(kOutput) + "file_map.csv"));
  // The file cannot be written: logged, and the button comes back.
  Write(TestFile(0), 4096);
  m->Files().SetFault(std::string(kOutput) + "file_map.csv", {.openError = ERROR_ACCESS_DENIED});
  Export();
  EXPECT_EQ(RealLog().back().rfind(GetLangText(TTextId::CsvSaveFailedPrefix), 0), 0u) << RealLog().back();
  EXPECT_TRUE(form->BtnExportFileMap->Enabled());
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(TestFolder, AReadOnlyWorkingFolderSkipsTheExportAfterLookingAtTheFolder) {
  AddTestDisk();
  Write(TestFile(0), 4096);
  m->Files().SetFault(kWork, {.readOnly = true});
  OpenTab();
  Export();
  EXPECT_EQ(RealLog().back(), "Read-only drive: CSV export skipped.");
}

TEST_F(TestFolder, WhileATestRunsTheFolderIsLeftAlone) {
  AddTestDisk();
  disk->drive.SetSpeed(SimDriveSpeed::NeverSlows(1, 1));
  OpenTab();
  StartTest(1, 5);
  ASSERT_TRUE(ui.RunUntil([&] { return form->LblRealStatus->Caption() == "Status: STEP1"; }, 600000));
  const auto Busy = std::make_pair(GetLangText(TTextId::RunningCaption), GetLangText(TTextId::TestRunning));
  // The export's button stays usable and refuses; the deletion's is off, and refuses as well.
  script.Box(IDOK);
  Export();
  EXPECT_EQ(LastBox(), Busy);
  script.Box(IDOK);
  form->BtnDeleteTestFolderClick(nullptr);
  EXPECT_EQ(LastBox(), Busy);
  EXPECT_TRUE(Exists(kFolder));
  ASSERT_TRUE(ui.Click("BtnRealTestStop"));
  script.Box(IDOK);
  RunToEnd();
}

}  // namespace

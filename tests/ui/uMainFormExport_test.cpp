// The free-range export of the inspection tab: the bytes of pd<N>_free_ranges.csv, the volumes it
// passes over or cannot read, the working folder that is not writable, a file that cannot be
// written, and (on images made by mkfs at test time) agreement with a free-space plan.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

#include "HostTools.h"
#include "InspectTestUtil.h"
#include "TestTempPath.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "engine/VolumeTestUtil.h"
#include "engine/uTrimPlanner.h"
#include "platform/WinFsControl.h"
#include "platform/sim/storage/SimBridge.h"

using namespace plat;
using namespace plat::sim;

namespace {

constexpr const char* kHeader = "drive,filesystem,start_lba,end_lba,sector_count\r\n";

class FreeRangeExportTest : public InspectFixture {
 protected:
  std::string Csv(int Disk) {
    return m->Files().ReadAll(std::string(kOutput) + "pd" + std::to_string(Disk) + "_free_ranges.csv");
  }
  bool CsvExists(int Disk) {
    return m->Files().Exists(std::string(kOutput) + "pd" + std::to_string(Disk) + "_free_ranges.csv");
  }
  // Every range of a volume as its CSV line.
  static std::string Lines(const std::string& Drive, const std::string& FS, const TTrimRangeArray& Ranges) {
    std::string S;
    for (const TTrimRange& R : Ranges)
      S += Drive + "," + FS + "," + std::to_string(R.StartLba) + "," +
           std::to_string(R.StartLba + R.SectorCount - 1) + "," + std::to_string(R.SectorCount) + "\r\n";
    return S;
  }
  void Export() {
    ASSERT_TRUE(ui.Select("PageMain", 1));
    ASSERT_TRUE(ui.Click("BtnExportFreeList"));
  }
};

// The Part's example: one NTFS volume whose bitmap leaves blocks 2048-2147 and 5000 free.
TEST_F(FreeRangeExportTest, TheBytesOfTheTwoRangeExample) {
  AddDisk(0, 2048 * kMiB);
  m->Discovery().AddVolume('E', 0, 512 * 1024, 32 * kMiB, "NTFS", 512);
  ASSERT_TRUE(FormatVolume(m->Storage(), 'E', SimFsKind::kNtfs, 512, 512));
  // Everything in use but clusters 1024-1123 and 3976 (the volume starts at block 1024).
  SimClusterRuns WasFree;
  for (auto [Lba, Count] : FreeDiskRanges(m->Storage(), 'E')) WasFree.push_back({Lba - 1024, Count});
  auto FreeBefore = [&](uint64_t First, uint64_t Count) {
    for (auto [F, N] : WasFree)
      if (First >= F && First + Count <= F + N) return true;
    return false;
  };
  ASSERT_TRUE(FreeBefore(1024, 100) && FreeBefore(3976, 1)) << "no file system structure is released";
  ASSERT_TRUE(AllocateRuns(m->Storage(), 'E', WasFree));
  ASSERT_TRUE(ReleaseRuns(m->Storage(), 'E', {{1024, 100}, {3976, 1}}));
  Open();
  SelectDisk(0);
  Export();
  EXPECT_EQ(Csv(0), std::string(kHeader) + "E:,NTFS,2048,2147,100\r\nE:,NTFS,5000,5000,1\r\n");
  const std::string Path = std::string(kOutput) + "pd0_free_ranges.csv";
  EXPECT_TRUE(LogHas("[INFO] Free-space sector CSV saved: " + Path));
  EXPECT_EQ(LastWindowLine(), GetLangText(TTextId::CsvSavedPrefix) + Path);

  // A second export replaces the file.
  ASSERT_TRUE(AllocateRuns(m->Storage(), 'E', {{1024, 100}}));
  Export();
  EXPECT_EQ(Csv(0), std::string(kHeader) + "E:,NTFS,5000,5000,1\r\n");
}

// A volume whose ranges cannot be read, between two that can: its WARN line, and the lines of
// the other two in the order of the volume list; free runs are not cut at 65535 blocks; an
// exFAT volume keeps the name it reported.
TEST_F(FreeRangeExportTest, AFailingVolumeBetweenTwoReadableOnes) {
  AddDisk(1, 2048 * kMiB);
  AddFormatted('E', 1, 1, 64, SimFsKind::kNtfs);
  AddFormatted('F', 1, 65, 64, SimFsKind::kFat32);
  AddFormatted('G', 1, 129, 64, SimFsKind::kExFat);
  m->Discovery().AddVolume('H', 1, 200 * kMiB, 8 * kMiB, "FAT16", 2048);  // passed over, no line
  Open();
  SelectDisk(1);
  m->Storage().AddVolumeFault('F', fsc::FSCTL_GET_VOLUME_BITMAP, SimOutcome::Error(ERROR_IO_DEVICE));
  Export();

  TVolumeBitmapReader Reader(nullptr);
  TTrimRangeArray E, G;
  std::string Msg;
  ASSERT_TRUE(Reader.ReadFreeRanges(VolumeInfoOf(*m, 'E'), E, Msg));
  ASSERT_TRUE(Reader.ReadFreeRanges(VolumeInfoOf(*m, 'G'), G, Msg));
  EXPECT_EQ(Csv(1), kHeader + Lines("E:", "NTFS", E) + Lines("G:", "exFAT", G));
  bool Long = false;
  for (const TTrimRange& R : G) Long = Long || R.SectorCount > 65535;
  EXPECT_TRUE(Long) << "a free run of more than 65535 blocks stays one line";
  EXPECT_TRUE(
      LogHas("[WARN] Free range export skipped: F: (FAT32 bitmap extraction failed on current storage stack)"));
  EXPECT_FALSE(LogHas("skipped: H:"));
  EXPECT_TRUE(LogHas("[INFO] Free-space sector CSV saved: "));
}

TEST_F(FreeRangeExportTest, ADiskWithNoVolumeToReadGetsTheHeaderOnly) {
  AddDisk(2, 2048 * kMiB);
  m->Discovery().AddVolume('H', 2, kMiB, 8 * kMiB, "FAT16", 2048);
  Open();
  SelectDisk(2);
  Export();
  EXPECT_EQ(Csv(2), kHeader);
  const std::string Path = std::string(kOutput) + "pd2_free_ranges.csv";
  EXPECT_TRUE(LogHas("[INFO] Free-space sector CSV saved: " + Path));
  EXPECT_TRUE(WindowLogHas(GetLangText(TTextId::CsvSavedPrefix) + Path));
}

TEST_F(FreeRangeExportTest, NoSelectedDisk) {
  Open();
  script.Box(IDOK);
  Export();
  ASSERT_EQ(script.Log().size(), 1u);
  EXPECT_EQ(script.Log()[0].Caption, GetLangText(TTextId::ErrorCaption));
  EXPECT_EQ(script.Log()[0].Text, "Please select a disk.");
  EXPECT_EQ(script.Log()[0].Type, MB_ICONERROR | MB_OK);
  EXPECT_FALSE(LogHas("CSV"));
}

TEST_F(FreeRangeExportTest, AWorkingFolderThatIsNotWritable) {
  AddDisk(1, 2048 * kMiB);
  AddFormatted('E', 1, 1, 64, SimFsKind::kNtfs);
  FileFault ReadOnly;
  ReadOnly.readOnly = true;
  m->Files().SetFault("C:\\Users\\user\\Desktop\\vrek", ReadOnly);
  Open();
  ASSERT_EQ(TMainFormTestAccess::OutputDir(*form), "");
  SelectDisk(1);
  const size_t Before = WindowLog().size();
  Export();
  ASSERT_EQ(WindowLog().size(), Before + 1);
  EXPECT_EQ(LastWindowLine(), "Read-only drive: CSV export skipped.");
  EXPECT_FALSE(m->Files().Exists(std::string(kOutput)));
  EXPECT_EQ(LogFile(), "");
}

// A file that cannot be written: an error box with the path and the system's message, an ERROR
// line, and no success line.
TEST_F(FreeRangeExportTest, AFileThatCannotBeWritten) {
  AddDisk(1, 2048 * kMiB);
  AddFormatted('E', 1, 1, 64, SimFsKind::kNtfs);
  Open();
  SelectDisk(1);
  const std::string Path = std::string(kOutput) + "pd1_free_ranges.csv";
  for (bool Create : {true, false}) {
    SCOPED_TRACE(Create ? "create" : "write");
    FileFault F;
    (Create ? F.openError : F.writeError) = Create ? ERROR_ACCESS_DENIED : ERROR_DISK_FULL;
    m->Files().SetFault(Path, F);
    script.Box(IDOK);
    const size_t Boxes = script.Log().size();
    Export();
    ASSERT_EQ(script.Log().size(), Boxes + 1);
    const tk::headless::TModal Box = script.Log().back();
    EXPECT_EQ(Box.Caption, GetLangText(TTextId::ErrorCaption));
    EXPECT_EQ(Box.Type, MB_ICONERROR | MB_OK);
    const std::string Why = WinErrorText(Create ? ERROR_ACCESS_DENIED : ERROR_DISK_FULL);
    EXPECT_NE(Box.Text.find(Path), std::string::npos) << Box.Text;
    EXPECT_NE(Box.Text.find(Why), std::string::npos) << Box.Text;
    EXPECT_TRUE(LogHas("[ERROR] Free range export failed: " + Path + " (" + Why + ")"));
    m->Files().ClearFaults();
  }
  EXPECT_FALSE(LogHas("CSV saved"));
  EXPECT_FALSE(WindowLogHas(GetLangText(TTextId::CsvSavedPrefix)));
}

// ---- against images made by the real tools ----

struct TImageCase {
  const char* Name;
  const char* Tool;
  std::string Command;  // %s: the image
  uint64_t MiB;
  uint32_t BlockBytes;  // what the bridge presents: the volume's own sector size
};

void PrintTo(const TImageCase& C, std::ostream* Os) { *Os << C.Name; }

class ExportAgreesWithThePlan : public FreeRangeExportTest, public ::testing::WithParamInterface<TImageCase> {
 protected:
  ExportAgreesWithThePlan() {
    Dir = UniqueTempPath("vt_export_");
    std::filesystem::create_directories(Dir);
  }
  ~ExportAgreesWithThePlan() override {
    std::error_code Ec;
    std::filesystem::remove_all(Dir, Ec);
  }
  std::filesystem::path Dir;
};

TEST_P(ExportAgreesWithThePlan, EveryLineIsFreeAndTheLinesAreThePlan) {
  const TImageCase& C = GetParam();
  VT_NEED_TOOLS(C.Tool);
  const std::string Img = (Dir / "volume.img").string();
  { std::ofstream(Img, std::ios::binary).close(); }
  std::filesystem::resize_file(Img, C.MiB * kMiB);
  std::string Cmd = C.Command;
  Cmd.replace(Cmd.find("%s"), 2, Img);
  ASSERT_EQ(std::system((Cmd + " >/dev/null 2>&1").c_str()), 0) << Cmd;

  auto Desc = presets::UasEnclosure("Image SSD", "IMG0001");
  m->Discovery().AddDisk(1, 2048 * kMiB, Desc);
  if (C.BlockBytes == 4096) m->Bridge().SetProfile(1, SimBridgeProfile::Uas4Kn());
  ASSERT_TRUE(LoadImageFile(*m->Storage().Disk(1), 2048, Img));
  m->Storage().AddVolume('E', {{1, kMiB, C.MiB * kMiB}});
  std::string Why;
  ASSERT_TRUE(MountVolume(m->Storage(), 'E', &Why)) << Why;
  // Files written and some deleted, through the volume's own allocation.
  std::vector<SimClusterRuns> Files;
  for (int i = 0; i < 16; ++i) Files.push_back(AllocateFile(m->Storage(), 'E', 2 + (i * 7) % 23));
  for (int i = 1; i < 16; i += 3) ASSERT_TRUE(ReleaseRuns(m->Storage(), 'E', Files[i]));

  Open();
  const TDiskInfo D = DiskNumbered(1);
  ASSERT_EQ(D.Volumes.size(), 1u);
  SelectDisk(D.DiskNumber);
  Export();

  // The lines, read back.
  std::istringstream In(Csv(1));
  std::string Line;
  ASSERT_TRUE(std::getline(In, Line));
  ASSERT_EQ(Line, "drive,filesystem,start_lba,end_lba,sector_count\r");
  TTrimRangeArray Lines;
  while (std::getline(In, Line)) {
    ASSERT_EQ(Line.back(), '\r');
    uint64_t Start = 0, End = 0, Count = 0;
    char Drive[8] = {}, Fs[16] = {};
    ASSERT_EQ(std::sscanf(Line.c_str(), "%2[^,],%15[^,],%" SCNu64 ",%" SCNu64 ",%" SCNu64, Drive, Fs, &Start, &End,
                          &Count),
              5)
        << Line;
    EXPECT_EQ(std::string(Drive), "E:");
    EXPECT_EQ(std::string(Fs), D.Volumes[0].FileSystem);
    EXPECT_EQ(End, Start + Count - 1);
    Lines.push_back({Start, Count});
  }
  ASSERT_GT(Lines.size(), 3u) << "the deleted files leave free runs between the others";

  // Inside the volume's free clusters, as the allocation places them on the disk.
  const TTrimRangeArray Free = ExpectedFreeRanges(*m, 'E');
  for (const TTrimRange& R : Lines) {
    bool Inside = false;
    for (const TTrimRange& F : Free)
      Inside = Inside || (R.StartLba >= F.StartLba && R.StartLba + R.SectorCount <= F.StartLba + F.SectorCount);
    EXPECT_TRUE(Inside) << R.StartLba << "+" << R.SectorCount;
    EXPECT_GE(R.StartLba, 2048u);
    EXPECT_LE(R.StartLba + R.SectorCount, 2048 + C.MiB * 2048);
  }
  // And exactly what a free-space plan covers, its pieces of at most 65535 blocks joined again.
  TTrimPlanner Planner(nullptr);
  TTrimRangeArray Plan;
  std::string Msg;
  ASSERT_TRUE(Planner.GeneratePlan(D, TTrimMode::tmFreeSpace, Plan, Msg)) << Msg;
  TTrimRangeArray Joined;
  for (const TTrimRange& P : Plan) {
    EXPECT_LE(P.SectorCount, 65535u);
    if (!Joined.empty() && Joined.back().StartLba + Joined.back().SectorCount == P.StartLba)
      Joined.back().SectorCount += P.SectorCount;
    else
      Joined.push_back(P);
  }
  ASSERT_EQ(Lines.size(), Joined.size());
  for (size_t i = 0; i < Lines.size(); ++i) {
    EXPECT_EQ(Lines[i].StartLba, Joined[i].StartLba) << i;
    EXPECT_EQ(Lines[i].SectorCount, Joined[i].SectorCount) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Images, ExportAgreesWithThePlan,
    ::testing::Values(TImageCase{"Fat32_512", "mkfs.fat", "mkfs.fat -F 32 -S 512 -s 1 %s", 40, 512},
                      TImageCase{"Fat32_4096", "mkfs.fat", "mkfs.fat -F 32 -S 4096 -s 1 %s", 300, 4096},
                      TImageCase{"ExFat", "mkfs.exfat", "mkfs.exfat -c 4096 %s", 48, 512},
                      TImageCase{"Ntfs", "mkntfs", "mkntfs -F -Q -s 512 -c 4096 %s", 40, 512}),
    [](const ::testing::TestParamInfo<TImageCase>& I) { return std::string(I.param.Name); });

}  // namespace

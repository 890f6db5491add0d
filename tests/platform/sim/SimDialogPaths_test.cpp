// The demo's save dialog against the simulated machine: the folder it opens on, and where the
// file chosen in it is written.
#include "platform/sim/SimDialogPaths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestTempPath.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimMachineText.h"

using namespace plat;
using namespace plat::sim;

namespace {

class SimDialogPathsTest : public ::testing::Test {
 protected:
  SimDialogPathsTest() : host(UniqueTempPath("vt_dialog_")) {
    std::string error;
    EXPECT_TRUE(
        BuildMachineFromText(*m, "disk 0 sata size=1G\nvolume C\ndisk 1 bot size=1G\nvolume E fs=exfat\n", &error))
        << error;
    std::filesystem::create_directories(host / "output");
    h = host.string();
    sep = std::string(1, h.find('\\') != std::string::npos ? '\\' : '/');
    // As the demo does: the working folder is this computer's current one.
    m->Files().MountHostFolder(kWork, h);
  }
  ~SimDialogPathsTest() override { std::filesystem::remove_all(host); }

  static constexpr const char* kWork = "C:\\Users\\user\\Desktop\\vrek";
  ScopedSimMachine m;
  std::filesystem::path host;
  std::string h, sep;
};

TEST_F(SimDialogPathsTest, TheDialogOpensOnTheHostFolderBehindTheMachinesOne) {
  EXPECT_EQ(DialogFolderFor(*m, std::string(kWork) + "\\output\\"), h + sep + "output");
  EXPECT_EQ(DialogFolderFor(*m, ""), "") << "no folder: the dialog's own choice";
  EXPECT_EQ(DialogFolderFor(*m, "E:\\trim_real_test"), "") << "the machine's own";
}

// A file chosen in the working folder is written there, through the machine's own path.
TEST_F(SimDialogPathsTest, AFileInTheWorkingFolderIsWrittenThere) {
  std::string why;
  const std::string Path = MachinePathForDialogFile(*m, h + sep + "output" + sep + "speed_data.csv", &why);
  EXPECT_EQ(Path, std::string(kWork) + "\\output\\speed_data.csv");
  EXPECT_EQ(why, "");
  m->Files().WriteAll(Path, "time_sec,speed_mbps,step\r\n");
  EXPECT_TRUE(std::filesystem::exists(host / "output" / "speed_data.csv"));
}

// The machine's drives are its own: a host file there is refused, and nothing is mounted over
// them (the real test's files on E: stay on the simulated volume).
TEST_F(SimDialogPathsTest, TheMachinesOwnDrivesAreRefused) {
  const struct {
    const char* File;
    const char* Why;
  } cases[] = {
      {"E:\\trim_real_test\\speed_data.csv", "has a drive E: of its own"},
      {"c:\\Users\\me\\Documents\\speed_data.csv", "has a drive C: of its own"},
      {"\\\\server\\share\\speed_data.csv", "is not on a drive letter"},
      {"speed_data.csv", "is not on a drive letter"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    std::string why;
    EXPECT_EQ(MachinePathForDialogFile(*m, c.File, &why), "");
    EXPECT_NE(why.find(c.Why), std::string::npos) << why;
    EXPECT_NE(why.find(c.File), std::string::npos) << why;
  }
  std::string why;
  MachinePathForDialogFile(*m, "E:\\x.csv", &why);
  EXPECT_NE(why.find(h), std::string::npos) << "the working folder is named: " << why;
  EXPECT_EQ(m->Files().HostPathOf("E:\\trim_real_test"), "");
  EXPECT_FALSE(m->Files().HostMounted("E:\\trim_real_test\\f.bin"));
}

// A drive the machine does not have (under wine, Z: is this computer's whole file system) is
// mounted whole, so the file lies in the machine where the dialog showed it.
TEST_F(SimDialogPathsTest, ADriveTheMachineDoesNotHaveIsMountedWhole) {
  ASSERT_FALSE(Win().GetLogicalDrives() & (1u << ('Z' - 'A')));
  std::string why;
  EXPECT_EQ(MachinePathForDialogFile(*m, "z:\\home\\me\\Desktop\\speed_data.csv", &why),
            "Z:\\home\\me\\Desktop\\speed_data.csv");
  EXPECT_EQ(why, "");
  EXPECT_TRUE(Win().GetLogicalDrives() & (1u << ('Z' - 'A')));
  EXPECT_EQ(m->Files().HostPathOf("Z:\\home\\me\\Desktop"), "Z:\\home\\me\\Desktop");
  // A second file on it needs no new mount.
  EXPECT_EQ(MachinePathForDialogFile(*m, "Z:\\tmp\\b.csv", &why), "Z:\\tmp\\b.csv");
}

}  // namespace

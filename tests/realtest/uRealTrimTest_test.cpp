// The real test's steps on the simulated machine with small files: the test files on a drive
// of the file system, the nested free-space TRIM runs on an NTFS volume of a simulated disk.
#include "realtest/uRealTrimTest.h"

#include <gtest/gtest.h>

#include <cctype>

#include "core/uFileWrite.h"
#include "core/uFormat.h"
#include "realtest/uFileMap.h"
#include "platform/sim/files/SimVolumeFormat.h"
#include "realtest/RealTestScenario.h"
#include "realtest/RealTestUtil.h"
#include "realtest/uTestContent.h"

using namespace plat;
using namespace plat::sim;

namespace {

using namespace realtest_scenario;

TEST_F(RealTest, AllFiveStepsWriteDeleteTrimFillAndVerify) {
  const TRealTestOutcome r = Run(1, 5);
  ASSERT_TRUE(r.Ended);
  EXPECT_TRUE(r.Succeeded);
  EXPECT_FALSE(r.Cancelled);
  EXPECT_EQ(r.ResultText, "STEP5 complete: Verification passed");
  EXPECT_EQ(window.Of("status: "), (std::vector<std::string>{"Preparing", "STEP1 TRIM", "STEP1", "STEP2", "STEP3",
                                                             "STEP4 Verify", "STEP5 Verify", "Done"}));
  // Step 1: a third of the drive in whole files, the last one past the target.
  for (int i = 0; i <= 10; ++i) {
    if (i == 9) continue;
    EXPECT_TRUE(FileIntact(File(i), kSmall.FileBytes)) << i;
  }
  EXPECT_FALSE(m->Files().Exists(File(11)));
  EXPECT_FALSE(m->Files().Exists(File(9)));  // step 2
  // Step 3: 8 - 2.5 = 5.5 MiB free, 512 KiB stay free: ten files exactly.
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(FileIntact(Gig(i), kSmall.GigFileBytes)) << i;
  EXPECT_FALSE(m->Files().Exists(Gig(10)));
  EXPECT_TRUE(window.Logged("STEP3: Filling ~5,242,880 bytes with 1GB files (leaving 1GB free)"));
  EXPECT_TRUE(window.Logged("STEP4 complete: Verification passed | Verified 10 files: 10 passed, 0 failed"));
  EXPECT_TRUE(window.Logged("STEP5 complete: Verification passed | Verified 10 files: 10 passed, 0 failed"));
  EXPECT_TRUE(window.Logged("Total elapsed time: "));
  // Both nested runs trimmed F:'s free space.
  EXPECT_EQ(window.CountLogged("TRIM completed: batches="), 2u);
  EXPECT_FALSE(simDisk->drive.Ledger().empty());
  // Every real-test line reached the program log too.
  const auto fileLines = LogFileLines();
  EXPECT_TRUE(std::any_of(fileLines.begin(), fileLines.end(), [](const std::string& l) {
    return l.find("[INFO] STEP2 complete") != std::string::npos;
  }));
}

TEST_F(RealTest, CreationCopiesItsInputAndRefusesSizesThatCannotBeWrittenUnbuffered) {
  EXPECT_EQ(TRealTestFileSizes().FileBytes, 524288000);
  EXPECT_EQ(TRealTestFileSizes().GigFileBytes, 1073741824);
  std::unique_ptr<TRealTrimTestThread> t(NewTest(1, 5));
  EXPECT_EQ(t->Folder(), "E:\\trim_real_test\\");
  EXPECT_TRUE(t->FreeOnTerminate());
  EXPECT_FALSE(t->StopRequested());
  t->RequestStop();
  t->RequestStop();
  EXPECT_TRUE(t->StopRequested());
  EXPECT_EQ(t->GetElapsedText(), "0:00:00");
  std::unique_ptr<TRealTrimTestThread> slash(new TRealTrimTestThread(&window, disk, "E:\\t\\", {}, {}, false));
  EXPECT_EQ(slash->Folder(), "E:\\t\\");
  for (const TRealTestFileSizes& bad :
       {TRealTestFileSizes{0, 4096}, TRealTestFileSizes{4096, 4097}, TRealTestFileSizes{-4096, 4096},
        TRealTestFileSizes{524288000 + 512, 4096}})
    EXPECT_THROW(NewTest(1, 5, 0, false, bad), std::invalid_argument);
}

// ---- The verdict of a test whose TRIM steps trimmed nothing --------------------------------

struct TrimVerdictCase {
  const char* Name;
  int Start, End;
  bool NoPlan;               // the disk's volumes unknown: no nested run can be planned
  std::vector<int> ReTrim;   // the answers to the ReTrim offers of the failed runs
  const char* TrimsAgainOn;  // the event at which the bridge starts to trim; "" never
  const char* DamageOn;      // the event at which file_3.bin is damaged; "" never
  const char* StopOn;        // the event at which the test is stopped; "" never
  bool Succeeded, Cancelled;
  const char* Result;
  int FailedTrimSteps;  // steps that logged "TRIM failed or warning, check the log."
};

void PrintTo(const TrimVerdictCase& C, std::ostream* Os) { *Os << C.Name; }

struct RealTestTrimVerdict : RealTest, ::testing::WithParamInterface<TrimVerdictCase> {};

TEST_P(RealTestTrimVerdict, IsKeptFromAPass) {
  const TrimVerdictCase& c = GetParam();
  // A bridge that refuses every path; the F: volume is NTFS, so each failed run offers ReTrim.
  m->Bridge().SetProfile(kDiskNo, SimBridgeProfile::NoTrim());
  m->Desktop().ScriptAnswers(c.ReTrim);
  if (c.NoPlan) disk.Volumes.clear();
  if (c.Start > 1) {
    for (int i = 0; i < 4; ++i) PlaceFile(File(i), 8192);
    PlaceFile(Gig(0), 8192);
  }
  window.OnEvent = [&](const std::string& e) {
    if (e == c.TrimsAgainOn) m->Bridge().SetProfile(kDiskNo, SimBridgeProfile::FullSat());
    if (e == c.DamageOn) Damage(File(3));
    if (e == c.StopOn && running) running->RequestStop();
  };
  const TRealTestOutcome r = Run(c.Start, c.End);
  EXPECT_EQ(r.Succeeded, c.Succeeded);
  EXPECT_EQ(r.Cancelled, c.Cancelled);
  EXPECT_EQ(r.ResultText, c.Result);
  const std::string nothing = GetLangText(TTextId::TrimStepTrimmedNothing);
  EXPECT_EQ(window.Logged(nothing), r.ResultText == nothing);
  EXPECT_EQ(window.CountLogged("TRIM failed or warning, check the log."), static_cast<size_t>(c.FailedTrimSteps));
  EXPECT_EQ(window.CountLogged("TRIM failed: success=0, failed=1, planned="),
            c.NoPlan ? 0u : static_cast<size_t>(c.FailedTrimSteps));
  EXPECT_EQ(window.CountLogged("TRIM plan generation failed: "),
            c.NoPlan ? static_cast<size_t>(c.FailedTrimSteps) : 0u);
  // The steps go on after a failed TRIM: the test ends with its end block.
  EXPECT_TRUE(window.Logged("Total elapsed time: "));
  EXPECT_EQ(m->Desktop().Boxes().size(), c.ReTrim.size());
}

constexpr const char* kNothingTrimmed =
    "The TRIM step failed: nothing was trimmed, so this test proves nothing about TRIM. See the log for the TRIM "
    "errors.";
constexpr const char* kPassed = "STEP5 complete: Verification passed";
const std::vector<int> kDeclineOne{IDCANCEL}, kDeclineBoth{IDCANCEL, IDCANCEL}, kNoOffer;

INSTANTIATE_TEST_SUITE_P(
    Cases, RealTestTrimVerdict,
    ::testing::Values(
        // Both runs refused, the verifications pass: they prove nothing about TRIM.
        TrimVerdictCase{"both runs refused", 1, 5, false, kDeclineBoth, "", "", "", false, false, kNothingTrimmed,
                        2},
        TrimVerdictCase{"step 1 alone refused", 1, 1, false, kDeclineOne, "", "", "", false, false,
                        kNothingTrimmed, 1},
        TrimVerdictCase{"no plan", 1, 5, true, kNoOffer, "", "", "", false, false, kNothingTrimmed, 2},
        // Step 2's TRIM released the freed files' ranges between the files that are verified.
        TrimVerdictCase{"first refused, second trims", 1, 5, false, kDeclineOne, "status: STEP2", "", "", true,
                        false, kPassed, 1},
        // What a verification found, or a stop, stays the result.
        TrimVerdictCase{"a failed verification wins", 1, 5, false, kDeclineBoth, "", "status: STEP4 Verify", "",
                        false, false, "STEP4 complete: Verification failures found", 2},
        TrimVerdictCase{"a stop wins", 1, 5, false, kDeclineBoth, "", "", "status: STEP5 Verify", true, true,
                        "Operation canceled by user.", 2},
        // No TRIM step ran: no TRIM failure.
        TrimVerdictCase{"started at step 3", 3, 5, false, kNoOffer, "", "", "", true, false, kPassed, 0}),
    [](const ::testing::TestParamInfo<TrimVerdictCase>& i) {
      std::string n;
      for (const char* p = i.param.Name; *p; ++p)
        if (std::isalnum(static_cast<unsigned char>(*p))) n += *p;
      return n;
    });

// ---- Start and end steps, resume from the folder -----------------------------------------

TEST_F(RealTest, StepOneAloneEndsDoneThroughTheDisabledVerification) {
  const TRealTestOutcome r = Run(1, 1);
  EXPECT_TRUE(r.Succeeded);
  EXPECT_FALSE(r.Cancelled);
  EXPECT_EQ(r.ResultText, "Done");
  EXPECT_EQ(window.Of("status: ").back(), "Done");
  EXPECT_TRUE(window.Logged("STEP1 complete - "));
  EXPECT_TRUE(window.Logged("Total elapsed time: "));
  EXPECT_FALSE(window.Logged("STEP2"));
  EXPECT_EQ(window.Of("speed: ").back(), "-");
}

TEST_F(RealTest, StartingAtStepFourVerifiesWhatAFormerTestLeft) {
  for (int i : {0, 1, 2}) PlaceFile(File(i), 256 * 1024);
  PlaceFile(std::string(kFolder) + "batch_1\\file_1000.bin", 8192);
  PlaceFile(std::string(kFolder) + "batch_3\\file_3000.bin", 8192);  // after the gap: not found
  PlaceFile(Gig(0), 512 * 1024);
  PlaceFile(Gig(4), 4096 + 3);  // any size: the size found is the size checked
  const TRealTestOutcome r = Run(4, 5);
  EXPECT_TRUE(r.Succeeded);
  EXPECT_EQ(r.ResultText, "STEP5 complete: Verification passed");
  EXPECT_TRUE(window.Logged("Starting from STEP 4: scanning existing files"));
  EXPECT_TRUE(window.Logged("Scan complete: 4 files"));
  EXPECT_TRUE(window.Logged("Scan complete: 2 files"));
  EXPECT_TRUE(window.Logged("STEP4 complete: Verification passed | Verified 4 files: 4 passed, 0 failed"));
  EXPECT_TRUE(window.Logged("STEP5 complete: Verification passed | Verified 2 files: 2 passed, 0 failed"));
}

TEST_F(RealTest, StepTwoFromTheFolderDeletesByDirectoryOrderAndWritesNoDeletedRows) {
  // Rebuilt in the folder's order: file_0, file_1, file_10, file_11, file_2, ... file_9.
  for (int i = 0; i < 12; ++i) PlaceFile(File(i), 4096);
  const TRealTestOutcome r = Run(2, 2);
  EXPECT_TRUE(r.Succeeded);
  EXPECT_FALSE(m->Files().Exists(File(7)));
  EXPECT_TRUE(m->Files().Exists(File(9)));
  EXPECT_FALSE(m->Files().Exists(std::string(kRealTestOutputDir) + "deleted_files.csv"));
  EXPECT_FALSE(m->Files().Exists(std::string(kRealTestOutputDir) + "created_files.csv"));
  EXPECT_TRUE(window.Logged("STEP2 complete | "));
}

TEST_F(RealTest, NothingToVerifyIsNeverAPass) {
  const struct {
    const char* Name;
    int Start, End;
    bool PlaceFiles, PlaceGigs;
    const char* Result;
  } cases[] = {
      {"step 4 on an empty folder", 4, 4, false, false, "No files to verify. Check the trim_real_test folder."},
      {"step 5 alone without 1 GiB files", 5, 5, true, false,
       "No files to verify. Check the trim_real_test folder."},
      // The first failure stays the result.
      {"step 4 empty, step 5 passes", 4, 5, false, true, "No files to verify. Check the trim_real_test folder."},
  };
  for (const auto& c : cases) {
    m->Files().WriteAll(std::string(kFolder) + "keep.txt", "x");
    if (c.PlaceFiles) PlaceFile(File(0), 4096);
    if (c.PlaceGigs) PlaceFile(Gig(0), 4096);
    const TRealTestOutcome r = Run(c.Start, c.End);
    EXPECT_FALSE(r.Succeeded) << c.Name;
    EXPECT_FALSE(r.Cancelled) << c.Name;
    EXPECT_EQ(r.ResultText, c.Result) << c.Name;
    Win().DeleteFileW(File(0));
    Win().DeleteFileW(Gig(0));
  }
}

TEST_F(RealTest, VerificationResultsOfStepsFourAndFive) {
  const struct {
    const char* Name;
    bool DamageFile, DamageGig;
    bool Succeeded;
    const char* Result;
  } cases[] = {
      {"both pass", false, false, true, "STEP5 complete: Verification passed"},
      {"step 4 fails, step 5 passes", true, false, false, "STEP4 complete: Verification failures found"},
      {"step 4 passes, step 5 fails", false, true, false, "STEP5 complete: Verification failures found"},
  };
  for (const auto& c : cases) {
    window.Events.clear();
    PlaceFile(File(0), 8192);
    PlaceFile(File(1), 8192);
    PlaceFile(Gig(0), 8192);
    if (c.DamageFile) Damage(File(1));
    if (c.DamageGig) Damage(Gig(0));
    const TRealTestOutcome r = Run(4, 5);
    EXPECT_EQ(r.Succeeded, c.Succeeded) << c.Name;
    EXPECT_FALSE(r.Cancelled) << c.Name;
    EXPECT_EQ(r.ResultText, c.Result) << c.Name;
    EXPECT_EQ(window.Logged("Verification failed: CRC mismatch - " + File(1)), c.DamageFile) << c.Name;
    EXPECT_EQ(window.Logged("Verification failed: CRC mismatch - " + Gig(0)), c.DamageGig) << c.Name;
  }
}

TEST_F(RealTest, AFileCutShortAfterItsWriteFailsTheRunsVerification) {
  // Within the run that wrote it the size checked is the size written, whatever is left.
  window.OnEvent = [&](const std::string& e) {
    if (e == "status: STEP4 Verify") m->Files().WriteAll(File(3), m->Files().ReadAll(File(3)).substr(0, 4096));
  };
  const TRealTestOutcome r = Run(1, 4);
  EXPECT_FALSE(r.Succeeded);
  EXPECT_EQ(r.ResultText, "STEP4 complete: Verification failures found");
  EXPECT_TRUE(window.Logged("Verification failed: CRC mismatch - " + File(3)));
  EXPECT_TRUE(window.Logged("Verified 10 files: 9 passed, 1 failed"));
}

// ---- Verify-only --------------------------------------------------------------------------

TEST_F(RealTest, VerifyOnlyOnAnEmptyOrMissingFolderIsAnError) {
  for (bool makeFolder : {false, true}) {
    window.Events.clear();
    if (makeFolder) m->Files().WriteAll(std::string(kFolder) + "readme.txt", "");
    const TRealTestOutcome r = VerifyOnly();
    EXPECT_FALSE(r.Succeeded);
    EXPECT_FALSE(r.Cancelled);
    EXPECT_EQ(r.ResultText, "No files to verify. Check the trim_real_test folder.");
    EXPECT_EQ(window.Of("status: "), (std::vector<std::string>{"Preparing", "Done"}));
    EXPECT_TRUE(window.Logged("Scan complete: 0 files"));
    EXPECT_TRUE(r.Series.empty());
  }
}

TEST_F(RealTest, VerifyOnlyChecksContentPathAndSize) {
  PlaceFile(File(0), 65536);
  // Cut short but intact up to its end: the size found is the size checked.
  PlaceFile(File(1), 65536);
  m->Files().WriteAll(File(1), m->Files().ReadAll(File(1)).substr(0, 10000));
  // The same name written under another drive letter has another seed.
  std::string other(4096, '\0');
  TContentStream(NameSeed("F:\\trim_real_test\\file_2.bin")).Next(reinterpret_cast<uint8_t*>(other.data()), 4096);
  m->Files().WriteAll(File(2), other);
  PlaceFile(File(3), 4096);
  Damage(File(3));
  const TRealTestOutcome r = VerifyOnly();
  EXPECT_FALSE(r.Succeeded);
  EXPECT_FALSE(r.Cancelled);
  EXPECT_EQ(r.ResultText, "Verification complete: Failures found");
  EXPECT_EQ(window.Of("status: "), (std::vector<std::string>{"Preparing", "Verifying", "Done"}));
  EXPECT_TRUE(window.Logged("Verification complete: Failures found | Verified 4 files: 2 passed, 2 failed | "));
  EXPECT_TRUE(window.Logged("Verification failed: CRC mismatch - " + File(2)));
  EXPECT_TRUE(window.Logged("Verification failed: CRC mismatch - " + File(3)));
  EXPECT_FALSE(window.Logged("Total elapsed time"));

  Win().DeleteFileW(File(2));
  Win().DeleteFileW(File(3));
  window.Events.clear();
  const TRealTestOutcome ok = VerifyOnly();
  EXPECT_TRUE(ok.Succeeded);
  EXPECT_EQ(ok.ResultText, "Verification complete: Success");
}

// ---- A stop at each place the test looks for one ------------------------------------------

struct StopCase {
  const char* Name;
  int Start, End;
  const char* StopOn;  // the window event during which the stop is requested; "" before the start
  bool Cancelled;
  const char* Result;
  int FilesLeft;        // 256 KiB test files on the drive at the end
  bool EndBlock;        // "Total elapsed time" logged
  const char* MustLog;  // or ""
};

void PrintTo(const StopCase& C, std::ostream* Os) { *Os << C.Name; }

struct RealTestStop : RealTest, ::testing::WithParamInterface<StopCase> {};

TEST_P(RealTestStop, EndsAtThatPoint) {
  const StopCase& c = GetParam();
  if (c.Start >= 4) {
    PlaceFile(File(0), 8192);
    PlaceFile(Gig(0), 8192);
  }
  TRealTrimTestThread* t = NewTest(c.Start, c.End);
  if (!*c.StopOn) t->RequestStop();
  window.OnEvent = [&](const std::string& e) {
    if (*c.StopOn && e == c.StopOn && running) running->RequestStop();
  };
  const TRealTestOutcome r = RunToEnd(t);
  EXPECT_EQ(r.Cancelled, c.Cancelled);
  EXPECT_FALSE(r.Succeeded && c.Cancelled && std::string(c.Result) != "Done");
  EXPECT_EQ(r.ResultText, c.Result);
  int files = 0;
  for (int i = 0; i < 12; ++i)
    files += m->Files().Exists(File(i)) && m->Files().ReadAll(File(i)).size() == 256 * 1024;
  EXPECT_EQ(files, c.FilesLeft);
  EXPECT_EQ(window.Logged("Total elapsed time"), c.EndBlock);
  if (std::string(c.StopOn) == "status: STEP1 TRIM") {
    EXPECT_TRUE(simDisk->drive.Ledger().empty()) << "the nested run went on after the stop";
  }
  if (*c.MustLog) {
    EXPECT_TRUE(window.Logged(c.MustLog));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Points, RealTestStop,
    ::testing::Values(
        StopCase{"before the start", 1, 5, "", true, "Operation canceled by user.", 0, false, ""},
        // The nested run is asked to cancel at once; the summary is still logged, no file written.
        StopCase{"during step 1's TRIM", 1, 5, "status: STEP1 TRIM", true, "Operation canceled by user.", 0, false,
                 "TRIM completed: batches=0/"},
        StopCase{"during step 2's TRIM", 1, 5, "log: Free space CSV saved: C:\\vt\\output\\pd2_free_ranges.csv",
                 true, "Operation canceled by user.", 10, false, "STEP2 complete | "},
        // Between two files: the fill ends well, the step's line is logged, the disabled
        // verification records the cancel and the end block still runs.
        StopCase{"between files, end step 1", 1, 1,
                 "log: CSV: physical address lookup failed idx=2 E:\\trim_real_test\\file_2.bin (err=1168)", true,
                 "Operation canceled by user.", 3, true, "STEP1 complete - "},
        StopCase{"between files, end step 5", 1, 5,
                 "log: CSV: physical address lookup failed idx=2 E:\\trim_real_test\\file_2.bin (err=1168)", true,
                 "Operation canceled by user.", 3, false, "STEP1 complete - "},
        StopCase{"before step 4's first file", 4, 5, "status: STEP4 Verify", true, "Operation canceled by user.",
                 0, false, "STEP4: 500MB"}),
    [](const ::testing::TestParamInfo<StopCase>& i) {
      std::string n;
      for (const char* p = i.param.Name; *p; ++p)
        if (std::isalnum(static_cast<unsigned char>(*p))) n += *p;
      return n;
    });

TEST_F(RealTest, AStopInTheVerifyOnlyModeIsLoggedAndCancels) {
  // No failure so far: cancelled, and the cancel is logged.
  PlaceFile(File(0), 8192);
  window.OnEvent = [&](const std::string& e) {
    if (e == "status: Verifying" && running) running->RequestStop();
  };
  TRealTestOutcome r = VerifyOnly();
  EXPECT_TRUE(r.Cancelled);
  EXPECT_FALSE(r.Succeeded);
  EXPECT_EQ(r.ResultText, "Operation canceled by user.");
  EXPECT_TRUE(window.Logged("Operation canceled by user."));

  // After a failure: the failure text, and the cancel flag with it. file_00.bin is listed
  // first and goes between the listing and its check.
  window.Events.clear();
  Win().DeleteFileW(File(0));
  PlaceFile(std::string(kFolder) + "file_00.bin", 8192);
  PlaceFile(File(1), 8192);
  TRealTrimTestThread* t = NewTest(1, 4, 0, true);
  window.OnEvent = [&](const std::string& e) {
    if (e == "status: Verifying") Win().DeleteFileW(std::string(kFolder) + "file_00.bin");
    if (e.rfind("log: Verification failed: file missing", 0) == 0 && running) running->RequestStop();
  };
  r = RunToEnd(t);
  EXPECT_TRUE(r.Cancelled);
  EXPECT_FALSE(r.Succeeded);
  EXPECT_EQ(r.ResultText, "Verification complete: Failures found");
  EXPECT_TRUE(window.Logged("Verification complete: Failures found | Verified 1 files: 0 passed, 1 failed"));
}

// ---- CSVs --------------------------------------------------------------------------------

TEST_F(RealTest, FileMapRowsNeedTheFoldersOwnVolume) {
  // E: is no volume of the disk: no sectors, so no created row; the deleted row reads 0,0.
  Run(1, 2);
  EXPECT_EQ(m->Files().ReadAll(std::string(kRealTestOutputDir) + "created_files.csv"),
            "Index,FileName,StartSector,EndSector,WillDelete\r\n");
  EXPECT_EQ(m->Files().ReadAll(std::string(kRealTestOutputDir) + "deleted_files.csv"),
            "Index,FileName,StartSector,EndSector\r\n9,E:\\trim_real_test\\file_9.bin,0,0\r\n");
  EXPECT_EQ(window.CountLogged("CSV: physical address lookup failed idx="), 11u);
  EXPECT_TRUE(
      window.Logged("CSV: physical address lookup failed idx=9 E:\\trim_real_test\\file_9.bin (err=1168)"));
  EXPECT_TRUE(window.Logged("CSV created: C:\\vt\\output\\created_files.csv"));
  EXPECT_TRUE(window.Logged("CSV created: C:\\vt\\output\\deleted_files.csv"));
}

TEST_F(RealTest, WithoutAnOutputFolderTheTestRunsWithoutCsvs) {
  TRecordingWindow readOnly(&log, "");
  const TRealTestOutcome r = RunToEnd(new TRealTrimTestThread(
      &readOnly, disk, "E:\\trim_real_test", TRealTestOptions{0, 1, 2}, trimOptions, false, kSmall));
  EXPECT_TRUE(r.Succeeded);
  for (const std::string& l : readOnly.Of("log: "))
    if (l.rfind("STEP2:", 0) != 0) {
      EXPECT_EQ(l.find("CSV"), std::string::npos) << l;
    }
  EXPECT_FALSE(m->Files().Exists(std::string(kRealTestOutputDir) + "created_files.csv"));
  EXPECT_FALSE(m->Files().Exists(std::string(kRealTestOutputDir) + "pd2_free_ranges.csv"));
  EXPECT_FALSE(m->Files().Exists(File(9)));
}

TEST_F(RealTest, CsvFailuresAreReportedAndTheTestGoesOn) {
  // created_files.csv cannot be created: reported once, no row tried. deleted_files.csv goes
  // away after its set-up: every row reports the failure.
  FileFault f;
  f.openError = ERROR_ACCESS_DENIED;
  m->Files().SetFault(std::string(kRealTestOutputDir) + "created_files.csv", f);
  window.OnEvent = [&](const std::string& e) {
    if (e == "log: CSV created: C:\\vt\\output\\deleted_files.csv")
      Win().DeleteFileW(std::string(kRealTestOutputDir) + "deleted_files.csv");
  };
  m->Files().AddDrive('E', 24 * kMiB);  // 32 files in step 1: three are deleted
  const TRealTestOutcome r = Run(1, 2);
  EXPECT_TRUE(r.Succeeded);
  EXPECT_EQ(window.CountLogged("CSV creation failed (created): Cannot create file"), 1u);
  EXPECT_EQ(window.CountLogged("CSV: physical address lookup failed"), 0u);
  EXPECT_EQ(window.CountLogged("CSV write failed(deleted): Cannot open file"), 3u);
  EXPECT_FALSE(m->Files().Exists(File(9)));
  EXPECT_FALSE(m->Files().Exists(File(19)));
  EXPECT_FALSE(m->Files().Exists(File(29)));
  EXPECT_TRUE(m->Files().Exists(File(31)));
}

TEST_F(RealTest, StepTwoWritesTheFreeRangesOfTheDisksVolumes) {
  TVolumeInfo gone = disk.Volumes[0];
  gone.DriveLetter = "G:";
  gone.RootPath = "G:\\";
  TVolumeInfo fat16 = gone;
  fat16.DriveLetter = "H:";
  fat16.FileSystem = "FAT16";
  disk.Volumes.push_back(gone);
  disk.Volumes.push_back(fat16);
  Run(2, 2);
  std::string want = "drive,filesystem,start_lba,end_lba,sector_count\r\n";
  for (const auto& [first, count] : FreeDiskRanges(m->Storage(), 'F'))
    want += "F:,NTFS," + std::to_string(first) + "," + std::to_string(first + count - 1) + "," +
            std::to_string(count) + "\r\n";
  EXPECT_EQ(m->Files().ReadAll(std::string(kRealTestOutputDir) + "pd2_free_ranges.csv"), want);
  EXPECT_TRUE(window.Logged("Free range CSV skip: G: ("));
  EXPECT_FALSE(window.Logged("Free range CSV skip: H:"));
  EXPECT_TRUE(window.Logged("Free space CSV saved: C:\\vt\\output\\pd2_free_ranges.csv"));
}

// ---- Decided faults -----------------------------------------------------------------------

TEST_F(RealTest, AFolderThatCannotBeCreatedNamesTheFolder) {
  FileFault f;
  f.createDirectoryError = ERROR_ACCESS_DENIED;
  m->Files().SetFault("E:\\trim_real_test", f);
  const TRealTestOutcome r = Run(1, 5);
  EXPECT_FALSE(r.Succeeded);
  EXPECT_FALSE(r.Cancelled);
  EXPECT_EQ(r.ResultText, "Failed to create test folder: E:\\trim_real_test\\");
  EXPECT_TRUE(window.Logged("Failed to create test folder: E:\\trim_real_test\\"));
  EXPECT_EQ(window.Of("status: "), (std::vector<std::string>{"Preparing"}));
}

TEST_F(RealTest, AnExceptionEndsTheTestAsAnErrorWithItsMessage) {
  // A test file that exists but does not open for the verification; and a free-range CSV
  // that cannot be saved.
  const struct {
    const char* Name;
    int Start, End;
    std::function<void(RealTest&)> Set;
    const char* Message;
  } cases[] = {
      {"verification open", 4, 5,
       [](RealTest& t) {
         t.PlaceFile(t.File(0), 4096);
         FileFault f;
         f.openError = ERROR_SHARING_VIOLATION;
         t.m->Files().SetFault(t.File(0), f);
       },
       "Cannot open file \"E:\\trim_real_test\\file_0.bin\": "},
      {"free-range CSV", 1, 3,
       [](RealTest& t) {
         FileFault f;
         f.openError = ERROR_ACCESS_DENIED;
         t.m->Files().SetFault(std::string(kRealTestOutputDir) + "pd2_free_ranges.csv", f);
       },
       "Cannot create file \"C:\\vt\\output\\pd2_free_ranges.csv\""},
  };
  for (const auto& c : cases) {
    window.Events.clear();
    m->Files().ClearFaults();
    c.Set(*this);
    const TRealTestOutcome r = Run(c.Start, c.End);
    EXPECT_FALSE(r.Succeeded) << c.Name;
    EXPECT_FALSE(r.Cancelled) << c.Name;
    EXPECT_EQ(r.ResultText.rfind(c.Message, 0), 0u) << c.Name << ": " << r.ResultText;
    const auto errors = window.Of("error: ");
    ASSERT_EQ(errors.size(), 1u) << c.Name;
    EXPECT_EQ(errors[0], "Real test failed: " + r.ResultText);
    // No later step ran and the earlier step's success is not the result.
    EXPECT_FALSE(window.Logged("STEP5")) << c.Name;
    EXPECT_FALSE(window.Logged("STEP3")) << c.Name;
  }
  const auto lines = LogFileLines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("[ERROR] Real test failed: Cannot create file", 0) == 0;
  }));
}

TEST_F(RealTest, AFileThatCannotBeCreatedOrWrittenEndsTheFill) {
  const struct {
    const char* Name;
    FileFault Fault;
    const char* Line;
  } cases[] = {
      {"create", FileFault{.openError = ERROR_ACCESS_DENIED},
       "File creation failed: E:\\trim_real_test\\file_3.bin | Cannot create file"},
      {"write", FileFault{.writeError = ERROR_CRC}, "Write failed: E:\\trim_real_test\\file_3.bin | "},
  };
  for (const auto& c : cases) {
    window.Events.clear();
    m->Files().ClearFaults();
    m->Files().SetFault(File(3), c.Fault);
    const TRealTestOutcome r = Run(1, 5);
    EXPECT_FALSE(r.Succeeded) << c.Name;
    EXPECT_FALSE(r.Cancelled) << c.Name;
    EXPECT_EQ(r.ResultText, "Capacity query failed, aborting.") << c.Name;
    EXPECT_TRUE(window.Logged(c.Line)) << c.Name;
    EXPECT_FALSE(window.Logged("STEP1 complete")) << c.Name;
    EXPECT_EQ(window.Of("status: ").back(), "STEP1") << c.Name;  // an early exit keeps the status
    EXPECT_FALSE(m->Files().Exists(File(4))) << c.Name;
    // What the failed write left is removed; a file that was never created has nothing to remove.
    EXPECT_FALSE(m->Files().Exists(File(3))) << c.Name;
    EXPECT_EQ(window.Logged("Unfinished test file removed: " + File(3)), c.Fault.writeError != 0) << c.Name;
  }
}

TEST_F(RealTest, AnUnfinishedFileThatCannotBeRemovedNeverVerifiesAsIntact) {
  // 8 MiB files in 4 MiB writes on a 64 MiB drive: step 1 writes three. Another program holds
  // file_1.bin open without letting it be deleted, and a write of it fails.
  const TRealTestFileSizes sizes{8 * kMiB, 8 * kMiB};
  const struct {
    const char* Name;
    bool FirstWriteFails;  // else the drive is full at its second write
  } cases[] = {{"nothing written", true}, {"half written", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    window.Events.clear();
    m->Files().ClearFaults();
    m->Files().AddDrive('E', 64 * kMiB);
    PlaceFile(File(1), 4096);
    HANDLE reader = Win().CreateFileW(File(1), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(IsValidHandle(reader));
    if (c.FirstWriteFails) m->Files().SetFault(File(1), FileFault{.writeError = ERROR_CRC});
    window.OnEvent = [&](const std::string& e) {
      // file_0.bin is written: room for one more write.
      if (!c.FirstWriteFails && e.find("idx=0 " + File(0)) != std::string::npos)
        m->Files().AddDrive('E', 8 * kMiB + 6 * kMiB);
    };
    const TRealTestOutcome r = RunToEnd(NewTest(1, 1, 0, false, sizes));
    window.OnEvent = nullptr;
    EXPECT_EQ(r.ResultText, "Capacity query failed, aborting.");
    EXPECT_TRUE(window.Logged("Write failed: " + File(1)));
    EXPECT_TRUE(window.Logged("Unfinished test file could not be removed; no verification passes it: " + File(1)));
    EXPECT_TRUE(window.Logged(File(1) + " | The process cannot access the file because it is being used by "
                                        "another process. (winerr=32)"));
    Win().CloseHandle(reader);
    ASSERT_TRUE(m->Files().Exists(File(1)));
    EXPECT_EQ(m->Files().ReadAll(File(1)).size(), c.FirstWriteFails ? 0u : 4 * kMiB);

    // A later verification finds it, with the size it has, and fails it.
    window.Events.clear();
    m->Files().AddDrive('E', 64 * kMiB);
    const TRealTestOutcome v = VerifyOnly();
    EXPECT_EQ(v.ResultText, "Verification complete: Failures found");
    EXPECT_TRUE(window.Logged("Verified 2 files: 1 passed, 1 failed"));
    EXPECT_TRUE(window.Logged("Verification failed: CRC mismatch - " + File(1)));
    Win().DeleteFileW(File(0));
    Win().DeleteFileW(File(1));
  }
}

TEST_F(RealTest, StepThreeWritesExactlyItsTargetAndStepFiveChecksTheCutFile) {
  const struct {
    int64_t Filler;  // bytes already on the 8 MiB drive
    std::vector<int64_t> Sizes;
    const char* Line;
  } cases[] = {
      // Fourteen whole files and the 412 KiB left to the target.
      {100 * kKiB, [] { auto v = std::vector<int64_t>(14, 512 * kKiB); v.push_back(412 * kKiB); return v; }(),
       "STEP3: Filling ~7,761,920 bytes"},
      // 7,760,920 bytes: the last file ends at the last whole 4096-byte block below the target.
      {100 * kKiB + 1000,
       [] { auto v = std::vector<int64_t>(14, 512 * kKiB); v.push_back(408 * kKiB); return v; }(),
       "STEP3: Filling ~7,760,920 bytes"},
      // Less than one file's size to fill: one file of that size.
      {7 * kMiB + 200 * kKiB, {312 * kKiB}, "STEP3: Filling ~319,488 bytes"},
  };
  for (const auto& c : cases) {
    window.Events.clear();
    Win().DeleteFileW("E:\\filler.bin");
    for (int i = 0; i < 16; ++i) Win().DeleteFileW(Gig(i));
    if (c.Filler) m->Files().WriteAll("E:\\filler.bin", std::string(c.Filler, 'f'));
    const TRealTestOutcome r = Run(3, 5);
    EXPECT_TRUE(window.Logged(c.Line)) << c.Filler;
    std::vector<int64_t> sizes;
    for (int i = 0; m->Files().Exists(Gig(i)); ++i) {
      sizes.push_back(static_cast<int64_t>(m->Files().ReadAll(Gig(i)).size()));
      EXPECT_TRUE(FileIntact(Gig(i), sizes.back())) << c.Filler << " " << i;
    }
    EXPECT_EQ(sizes, c.Sizes) << c.Filler;
    // Step 5 checks each file at the size written, the cut one too.
    EXPECT_TRUE(window.Logged(Format("STEP5 complete: Verification passed | Verified %d files: %d passed, 0 failed",
                                     static_cast<int32_t>(c.Sizes.size()), static_cast<int32_t>(c.Sizes.size()))))
        << c.Filler;
    // No step 4 files: that stays the result.
    EXPECT_EQ(r.ResultText, "No files to verify. Check the trim_real_test folder.") << c.Filler;
  }
  // And so does a later test that finds them in the folder.
  window.Events.clear();
  const TRealTestOutcome again = Run(5, 5);
  EXPECT_TRUE(again.Succeeded) << again.ResultText;
  EXPECT_TRUE(window.Logged("STEP5 complete: Verification passed | Verified 1 files: 1 passed, 0 failed"));
}

TEST_F(RealTest, AStepWithTooLittleFreeSpaceSaysWhatItFoundAndNeeds) {
  const struct {
    const char* Name;
    int64_t Filler;  // bytes already on the 8 MiB drive
    int Start, End;
    bool PlaceFiles;  // 500 MiB files of a former test, for a test started at step 3
    const char* Line;
  } cases[] = {
      // Step 1 has no room for one whole file: the test ends before it trims or writes.
      {"step 1", 8 * kMiB - 200 * kKiB, 1, 5, false,
       "The volume is too small for the test: STEP1 found 204,800 bytes free and needs 262,144 bytes."},
      // Step 3 finds 1 GiB or less free (here 512 KiB plus 4095 bytes): no file, on to steps 4
      // and 5; step 4 passes, but the test did not run in full.
      {"step 3", 7 * kMiB + 512 * kKiB - 4095, 3, 5, true,
       "The volume is too small for the test: STEP3 found 528,383 bytes free and needs 528,384 bytes."},
      {"step 3, end step 4", 7 * kMiB + 512 * kKiB, 3, 4, true,
       "The volume is too small for the test: STEP3 found 524,288 bytes free and needs 528,384 bytes."},
      {"step 3 alone", 8 * kMiB, 3, 3, false,
       "The volume is too small for the test: STEP3 found 0 bytes free and needs 528,384 bytes."},
  };
  for (const auto& c : cases) {
    window.Events.clear();
    Win().DeleteFileW("E:\\filler.bin");
    Win().DeleteFileW(File(0));
    if (c.PlaceFiles) PlaceFile(File(0), 4096);
    m->Files().WriteAll("E:\\filler.bin", std::string(c.Filler - (c.PlaceFiles ? 4096 : 0), 'f'));
    const TRealTestOutcome r = Run(c.Start, c.End);
    EXPECT_FALSE(r.Succeeded) << c.Name;
    EXPECT_FALSE(r.Cancelled) << c.Name;
    EXPECT_EQ(r.ResultText, c.Line) << c.Name;
    EXPECT_TRUE(window.Logged(c.Line)) << c.Name;
    EXPECT_FALSE(window.Logged("No files to verify")) << c.Name;
    EXPECT_FALSE(m->Files().Exists(Gig(0))) << c.Name;
    if (c.Start == 1) {
      EXPECT_FALSE(m->Files().Exists(File(0))) << c.Name;
      EXPECT_TRUE(simDisk->drive.Ledger().empty()) << c.Name << ": trimmed";
      EXPECT_FALSE(window.Logged("STEP1 complete")) << c.Name;
    } else {
      EXPECT_TRUE(window.Logged("STEP3 complete - 0 MB/s | ")) << c.Name;
      EXPECT_TRUE(window.Logged("Total elapsed time: ")) << c.Name;
      EXPECT_EQ(window.Logged("STEP4 complete: Verification passed"), c.End >= 4) << c.Name;
    }
  }
}

TEST_F(RealTest, NewOneGigFilesFollowTheHighestNumberPresent) {
  const struct {
    std::vector<const char*> Names;
    int Next;
    const char* Line;  // nullptr: none
  } cases[] = {
      {{}, 0, nullptr},
      {{"gig_0.bin", "gig_7.bin"}, 8, "Existing 1GB files detected: last index=7, next=8"},
      {{"gig_3.bin", "gig_abc.bin", "gig_-9.bin", "gig_+12.bin", "gig_ 20.bin", "gig_2147483647.bin",
        "gig_99999999999.bin"},
       4,
       "Existing 1GB files detected: last index=3, next=4"},
      {{"gig_2147483646.bin"}, 2147483647, "Existing 1GB files detected: last index=2147483646, next=2147483647"},
  };
  for (const auto& c : cases) {
    window.Events.clear();
    for (const FIND_DATA& e : FindEntries(std::string(kFolder) + "dumy\\*"))
      Win().DeleteFileW(std::string(kFolder) + "dumy\\" + e.cFileName);
    for (const char* n : c.Names) m->Files().WriteAll(std::string(kFolder) + "dumy\\" + n, "");
    // A drive with room for exactly one more file after the gap it leaves free.
    m->Files().AddDrive('E', 2 * kSmall.GigFileBytes);
    Run(3, 3);
    EXPECT_TRUE(m->Files().Exists(Gig(c.Next))) << c.Next;
    if (c.Line) {
      EXPECT_TRUE(window.Logged(c.Line));
    } else {
      EXPECT_FALSE(window.Logged("Existing 1GB files detected"));
    }
  }
}

}  // namespace

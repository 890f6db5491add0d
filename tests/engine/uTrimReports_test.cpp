#include <gtest/gtest.h>

#include "core/uFileWrite.h"
#include "engine/TrimRunTestUtil.h"

using namespace plat;
using namespace plat::sim;

namespace {

// The machine's local time at boot is 2026-12-10 10:30:00, so every report carries this stamp.
const std::string kLogs = "C:\\Users\\user\\Desktop\\vrek\\logs\\";
const std::string kJson = kLogs + "failure_report_20261210_103000.json";
const std::string kCsv = kLogs + "failure_report_20261210_103000.csv";
const std::string kGolden = kLogs + "dryrun_golden_20261210_103000.json";

TBatchResult Failed(int32_t Index, uint32_t WinErr, const std::string& Message) {
  TBatchResult b;
  b.BatchIndex = Index;
  b.Retries = 2;
  b.WinErr = WinErr;
  b.SenseKey = 5;
  b.Asc = 0x24;
  b.Ascq = 1;
  b.Message = Message;
  return b;
}

struct ReportTest : ::testing::Test, TRunFixture {};

TEST_F(ReportTest, FailureReportBytesWithEscapesQuotesAndTabs) {
  TTestRun run(RunTestDisk(3), TRunMode::rmExecute, &log);
  run.FStats.Failures = {Failed(0, 1117, "bridge said \"no\"\tthen \\ gave up"), Failed(7, 0xC0000001u, "x\x01/y")};
  run.WriteFailureReport();

  EXPECT_EQ(m->Files().ReadAll(kJson),
            "{\r\n"
            "  \"target_disk\" : \"\\\\\\\\.\\\\PhysicalDrive3\",\r\n"
            "  \"mode\" : \"Execute\",\r\n"
            "  \"batches\" : [\r\n"
            "    {\r\n"
            "      \"batch\" : 0,\r\n"
            "      \"success\" : false,\r\n"
            "      \"retries\" : 2,\r\n"
            "      \"winerr\" : 1117,\r\n"
            "      \"sense_key\" : 5,\r\n"
            "      \"asc\" : 36,\r\n"
            "      \"ascq\" : 1,\r\n"
            "      \"message\" : \"bridge said \\\"no\\\"\\tthen \\\\ gave up\"\r\n"
            "    },\r\n"
            "    {\r\n"
            "      \"batch\" : 7,\r\n"
            "      \"success\" : false,\r\n"
            "      \"retries\" : 2,\r\n"
            "      \"winerr\" : 3221225473,\r\n"
            "      \"sense_key\" : 5,\r\n"
            "      \"asc\" : 36,\r\n"
            "      \"ascq\" : 1,\r\n"
            "      \"message\" : \"x\\u0001/y\"\r\n"
            "    }\r\n"
            "  ]\r\n"
            "}");
  EXPECT_EQ(m->Files().ReadAll(kCsv),
            "batch,success,retries,winerr,sense_key,asc,ascq,message\r\n"
            "0,False,2,1117,5,36,1,\"bridge said \"\"no\"\"\tthen \\ gave up\"\r\n"
            "7,False,2,-1073741823,5,36,1,\"x\x01/y\"\r\n");
  EXPECT_EQ(run.FStats.FailureReportPath, kJson);
  EXPECT_TRUE(LogLines().empty());  // the window names the path, not the report writer
}

TEST_F(ReportTest, EmptyFailureListStillFormsBothFiles) {
  TTestRun run(RunTestDisk(0), TRunMode::rmDryRun, &log);
  run.WriteFailureReport();
  EXPECT_EQ(m->Files().ReadAll(kJson),
            "{\r\n  \"target_disk\" : \"\\\\\\\\.\\\\PhysicalDrive0\",\r\n  \"mode\" : \"Dry-run\",\r\n"
            "  \"batches\" : [\r\n  ]\r\n}");
  EXPECT_EQ(m->Files().ReadAll(kCsv), "batch,success,retries,winerr,sense_key,asc,ascq,message\r\n");
}

TEST_F(ReportTest, GoldenFileBytesAndLogLine) {
  TDiskInfo disk = RunTestDisk(12);
  disk.Transport = TTransportKind::tkBOT;
  TTestRun run(disk, TRunMode::rmDryRun, &log, nullptr, nullptr, {}, TTrimMode::tmFreeSpace);
  run.FStats.RangeCount = 119001;
  run.FStats.TotalSectors = 7814037168ull;
  run.FStats.PlannedBatches = 3719;
  run.WriteDryRunGolden();
  EXPECT_EQ(m->Files().ReadAll(kGolden),
            "{\r\n"
            "  \"run_mode\": \"Dry-run\",\r\n"
            "  \"disk\": \"\\\\\\\\.\\\\PhysicalDrive12\",\r\n"
            "  \"transport\": \"BOT\",\r\n"
            "  \"trim_mode\": \"Free space only\",\r\n"
            "  \"total_ranges\": 119001,\r\n"
            "  \"total_sectors\": 7814037168,\r\n"
            "  \"planned_batches\": 3719,\r\n"
            "  \"policy_message\": \"BOT: ATA Pass-Through / UASP: DSM TRIM > SCSI UNMAP > ATA PT\"\r\n"
            "}\r\n");
  EXPECT_EQ(LogLines(), std::vector<std::string>{"[INFO] Dry-run golden saved: " + kGolden});
}

TEST_F(ReportTest, ReportOfTheSameSecondReplacesTheFirst) {
  TTestRun run(RunTestDisk(3), TRunMode::rmExecute, &log);
  run.FStats.Failures = {Failed(0, 5, "first"), Failed(1, 5, "second")};
  run.WriteFailureReport();
  run.FStats.Failures = {Failed(4, 87, "later")};
  run.WriteFailureReport();
  EXPECT_EQ(m->Files().ReadAll(kCsv), "batch,success,retries,winerr,sense_key,asc,ascq,message\r\n"
                                      "4,False,2,87,5,36,1,\"later\"\r\n");
}

TEST_F(ReportTest, FolderWithoutCurrentDirectoryDelimiterAndRootFolder) {
  m->Files().PlaceCurrentDirectory("C:\\");
  TTestRun run(RunTestDisk(1), TRunMode::rmDryRun, &log);
  run.WriteDryRunGolden();
  EXPECT_TRUE(m->Files().Exists("C:\\logs\\dryrun_golden_20261210_103000.json"));
}

TEST_F(ReportTest, FileFaultsReachTheCaller) {
  TTestRun run(RunTestDisk(3), TRunMode::rmExecute, &log);
  run.FStats.Failures = {Failed(0, 1, "m")};

  // The CSV cannot be created: the JSON file stays and its path is already set.
  FileFault noOpen;
  noOpen.openError = ERROR_ACCESS_DENIED;
  m->Files().SetFault(kCsv, noOpen);
  EXPECT_THROW(run.WriteFailureReport(), EFileError);
  EXPECT_TRUE(m->Files().Exists(kJson));
  EXPECT_EQ(run.FStats.FailureReportPath, kJson);
  EXPECT_FALSE(m->Files().Exists(kCsv));

  // A write that fails half-way is an error too, not a short file taken for a report.
  m->Files().ClearFaults();
  FileFault noWrite;
  noWrite.writeError = ERROR_DISK_FULL;
  m->Files().SetFault(kGolden, noWrite);
  try {
    run.WriteDryRunGolden();
    ADD_FAILURE() << "no error";
  } catch (const EFileError& e) {
    EXPECT_EQ(e.WinErr(), ERROR_DISK_FULL);
  }
  EXPECT_TRUE(LogLines().empty());

  // A read-only working folder: nothing is written and the caller hears of it.
  m->Files().ClearFaults();
  FileFault ro;
  ro.readOnly = true;
  m->Files().SetFault("C:\\Users\\user\\Desktop\\vrek", ro);
  run.FStats.FailureReportPath.clear();
  m->Files().DeleteFileW(kJson);
  EXPECT_THROW(run.WriteFailureReport(), EFileError);
  EXPECT_EQ(run.FStats.FailureReportPath, "");
}

TEST(JsonEscapeTest, Table) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"plain/slash", "plain/slash"},
      {"a\"b\\c", "a\\\"b\\\\c"},
      {"\b\t\n\f\r", "\\b\\t\\n\\f\\r"},
      {std::string("\x00\x1F\x0B", 3), "\\u0000\\u001F\\u000B"},
      {"\x7F caf\xC3\xA9", "\x7F caf\xC3\xA9"},  // DEL and UTF-8 stay as they are
  };
  for (const auto& c : cases) EXPECT_EQ(JsonEscape(c.in), c.out) << c.in;
}

}  // namespace

#include <gtest/gtest.h>

#include <stdexcept>

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

// A small reader of its own, to read a report back the way another program would.
struct TJson {
  enum { Null, Bool, Num, Str, Arr, Obj } kind = Null;
  bool b = false;
  double num = 0;
  std::string str;
  std::vector<TJson> items;
  std::vector<std::pair<std::string, TJson>> members;
  const TJson& operator[](const std::string& k) const {
    for (auto& [n, v] : members)
      if (n == k) return v;
    throw std::runtime_error("no member " + k);
  }
};

class TJsonReader {
 public:
  explicit TJsonReader(const std::string& t) : s(t) {}
  TJson Document() {
    TJson v = Value();
    Skip();
    if (i != s.size()) throw std::runtime_error("trailing text");
    return v;
  }

 private:
  void Skip() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\r' || s[i] == '\n' || s[i] == '\t')) ++i;
  }
  char Next() {
    if (i >= s.size()) throw std::runtime_error("end of text");
    return s[i++];
  }
  std::string String() {
    std::string r;
    for (char c; (c = Next()) != '"';) {
      if (static_cast<unsigned char>(c) < 0x20) throw std::runtime_error("raw control character");
      if (c != '\\') {
        r += c;
        continue;
      }
      switch (char e = Next()) {
        case 'b': r += '\b'; break;
        case 't': r += '\t'; break;
        case 'n': r += '\n'; break;
        case 'f': r += '\f'; break;
        case 'r': r += '\r'; break;
        case 'u':
          r += static_cast<char>(std::stoi(s.substr(i, 4), nullptr, 16));
          i += 4;
          break;
        default: r += e;
      }
    }
    return r;
  }
  TJson Value() {
    Skip();
    TJson v;
    const char c = Next();
    if (c == '"') {
      v.kind = TJson::Str;
      v.str = String();
    } else if (c == '{' || c == '[') {
      v.kind = c == '{' ? TJson::Obj : TJson::Arr;
      Skip();
      if (s[i] == (c == '{' ? '}' : ']')) return ++i, v;
      for (;;) {
        if (c == '{') {
          Skip();
          if (Next() != '"') throw std::runtime_error("member name");
          std::string name = String();
          Skip();
          if (Next() != ':') throw std::runtime_error("colon");
          v.members.emplace_back(name, Value());
        } else {
          v.items.push_back(Value());
        }
        Skip();
        const char d = Next();
        if (d == ',') continue;
        if (d != (c == '{' ? '}' : ']')) throw std::runtime_error("separator");
        break;
      }
    } else if (s.compare(i - 1, 4, "true") == 0 || s.compare(i - 1, 5, "false") == 0) {
      v.kind = TJson::Bool;
      v.b = c == 't';
      i += v.b ? 3 : 4;
    } else {
      size_t used = 0;
      v.kind = TJson::Num;
      v.num = std::stod(s.substr(i - 1), &used);
      i += used - 1;
    }
    return v;
  }
  const std::string& s;
  size_t i = 0;
};

struct ReportTest : ::testing::Test, TRunFixture {};

TEST_F(ReportTest, FailureReportBytesWithEscapesQuotesAndTabs) {
  TTestRun run(RunTestDisk(3), TRunMode::rmExecute, &log);
  run.FStats.Failures = {Failed(0, 1117, "bridge said \"no\"\tthen \\ gave up"),
                         Failed(7, 0xC0000001u, "x\x01/y")};
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
  EXPECT_EQ(m->Files().ReadAll(kCsv),
            "batch,success,retries,winerr,sense_key,asc,ascq,message\r\n"
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

TEST_F(ReportTest, ReportsReadBackByAnotherReader) {
  TTestRun run(RunTestDisk(3), TRunMode::rmExecute, &log);
  const std::string odd =
      std::string("quote \" back \\ tab \t nl \n ctl \x02 nul ") + std::string(1, '\0') + " caf\xC3\xA9";
  run.FStats.Failures = {Failed(0, 1117, odd), Failed(9, 0xFFFFFFFFu, "")};
  run.WriteFailureReport();
  const TJson doc = TJsonReader(m->Files().ReadAll(kJson)).Document();
  EXPECT_EQ(doc["target_disk"].str, "\\\\.\\PhysicalDrive3");
  EXPECT_EQ(doc["mode"].str, "Execute");
  ASSERT_EQ(doc["batches"].items.size(), 2u);
  EXPECT_EQ(doc["batches"].items[0]["message"].str, odd);
  EXPECT_FALSE(doc["batches"].items[0]["success"].b);
  EXPECT_EQ(doc["batches"].items[1]["batch"].num, 9);
  EXPECT_EQ(doc["batches"].items[1]["winerr"].num, 4294967295.0);

  // CSV: the message is the one quoted field, its marks doubled, so a reader that splits on the
  // first seven commas and unquotes the rest gets it back.
  const std::string csv = m->Files().ReadAll(kCsv);
  const size_t first = csv.find("\r\n") + 2;
  std::string line = csv.substr(first, csv.find("\r\n", first) - first);
  size_t at = 0;
  for (int k = 0; k < 7; ++k) at = line.find(',', at) + 1;
  EXPECT_EQ(line.substr(0, at), "0,False,2,1117,5,36,1,");
  std::string field = line.substr(at + 1, line.size() - at - 2), back;
  for (size_t k = 0; k < field.size(); ++k) {
    back += field[k];
    if (field[k] == '"') ++k;
  }
  EXPECT_EQ(back, odd);

  run.FStats.RangeCount = 2;
  run.WriteDryRunGolden();
  const TJson golden = TJsonReader(m->Files().ReadAll(kGolden)).Document();
  EXPECT_EQ(golden["disk"].str, "\\\\.\\PhysicalDrive3");
  EXPECT_EQ(golden["total_ranges"].num, 2);
  EXPECT_EQ(golden["transport"].str, "UAS");
}

TEST(JsonEscapeTest, Table) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"plain/slash", "plain/slash"},           {"a\"b\\c", "a\\\"b\\\\c"},
      {"\b\t\n\f\r", "\\b\\t\\n\\f\\r"},        {std::string("\x00\x1F\x0B", 3), "\\u0000\\u001F\\u000B"},
      {"\x7F caf\xC3\xA9", "\x7F caf\xC3\xA9"},  // DEL and UTF-8 stay as they are
  };
  for (const auto& c : cases) EXPECT_EQ(JsonEscape(c.in), c.out) << c.in;
}

}  // namespace

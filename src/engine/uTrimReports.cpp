// The run's reports: the failure report (JSON and CSV) and the dry-run golden file.
#include <string>
#include <vector>

#include "core/uCsv.h"
#include "core/uDateTime.h"
#include "core/uFileWrite.h"
#include "core/uFormat.h"
#include "core/uJson.h"
#include "core/uLogger.h"
#include "engine/uTrimExecutor.h"
#include "platform/Platform.h"

using namespace plat;

namespace {

const char* const kCrLf = "\r\n";

std::string Quoted(const std::string& S) {
  std::string R = "\"";
  R += JsonEscape(S);
  R += '"';
  return R;
}

// One member of the failure report's JSON: name, " : ", value.
std::string Member(int Indent, const std::string& Name, const std::string& Value, bool Last) {
  return std::string(static_cast<size_t>(Indent), ' ') + Quoted(Name) + " : " + Value + (Last ? "" : ",") + kCrLf;
}

}  // namespace

std::string TTrimExecutionThread::ReportFolder() {
  std::string dir;
  Win().GetCurrentDirectoryW(&dir);
  if (dir.empty() || (dir.back() != '\\' && dir.back() != '/')) dir += '\\';
  dir += "logs";
  ForceDirectories(dir);
  return dir;
}

void TTrimExecutionThread::WriteFailureReport() {
  const std::string folder = ReportFolder();
  const std::string stamp = FormatFileStamp(LocalTimeNow());
  const std::string jsonPath = folder + "\\failure_report_" + stamp + ".json";
  const std::string csvPath = folder + "\\failure_report_" + stamp + ".csv";

  std::string json = std::string("{") + kCrLf;
  json += Member(2, "target_disk", Quoted(FDisk.DevicePath), false);
  json += Member(2, "mode", Quoted(RunModeToText(FRunMode)), false);
  json += std::string("  ") + Quoted("batches") + " : [" + kCrLf;
  for (size_t i = 0; i < FStats.Failures.size(); ++i) {
    const TBatchResult& b = FStats.Failures[i];
    json += std::string("    {") + kCrLf;
    json += Member(6, "batch", Format("%d", b.BatchIndex), false);
    json += Member(6, "success", b.Success ? "true" : "false", false);
    json += Member(6, "retries", Format("%d", b.Retries), false);
    json += Member(6, "winerr", Format("%u", b.WinErr), false);
    json += Member(6, "sense_key", Format("%d", b.SenseKey), false);
    json += Member(6, "asc", Format("%d", b.Asc), false);
    json += Member(6, "ascq", Format("%d", b.Ascq), false);
    json += Member(6, "message", Quoted(b.Message), true);
    json += std::string("    }") + (i + 1 < FStats.Failures.size() ? "," : "") + kCrLf;
  }
  json += std::string("  ]") + kCrLf + "}";
  WriteWholeFile(jsonPath, json);
  FStats.FailureReportPath = jsonPath;

  std::string csv = std::string("batch,success,retries,winerr,sense_key,asc,ascq,message") + kCsvLineEnd;
  for (const TBatchResult& b : FStats.Failures) {
    csv += Format("%d,%s,%d,%d,%d,%d,%d,", b.BatchIndex, b.Success ? "True" : "False", b.Retries, b.WinErr,
                  b.SenseKey, b.Asc, b.Ascq) +
           CsvQuoted(b.Message) + kCsvLineEnd;
  }
  WriteWholeFile(csvPath, csv);
}

void TTrimExecutionThread::WriteDryRunGolden() {
  const std::string path = ReportFolder() + "\\dryrun_golden_" + FormatFileStamp(LocalTimeNow()) + ".json";
  const std::vector<std::string> lines = {
      "{",
      "  \"run_mode\": \"Dry-run\",",
      "  \"disk\": \"" + JsonEscape(FDisk.DevicePath) + "\",",
      "  \"transport\": \"" + JsonEscape(TransportToText(FDisk.Transport)) + "\",",
      "  \"trim_mode\": \"" + JsonEscape(TrimModeToText(FTrimMode)) + "\",",
      Format("  \"total_ranges\": %d,", FStats.RangeCount),
      Format("  \"total_sectors\": %u,", FStats.TotalSectors),
      Format("  \"planned_batches\": %d,", FStats.PlannedBatches),
      "  \"policy_message\": \"BOT: ATA Pass-Through / UASP: DSM TRIM > SCSI UNMAP > ATA PT\"",
      "}",
  };
  std::string text;
  for (const std::string& l : lines) text += l + kCrLf;
  WriteWholeFile(path, text);
  if (FLogger) FLogger->Info("Dry-run golden saved: " + path);
}

// The nested free-space TRIM run of steps 1 and 2, the flush of the test volume, and the
// free-range CSV of step 2.
#include <memory>
#include <mutex>

#include "core/uFileWrite.h"
#include "core/uFormat.h"
#include "core/uLang.h"
#include "core/uNumbers.h"
#include "device/uDeviceHandle.h"
#include "engine/uTrimExecutor.h"
#include "engine/uTrimPlanner.h"
#include "engine/uVolumeBitmap.h"
#include "platform/Platform.h"
#include "engine/uFreeRangeCsv.h"
#include "realtest/uRealTrimTest.h"

using namespace plat;

bool TRealTrimTestThread::RunFreeSpaceTrim() {
  ++FTrimStepsRun;
  TTrimRangeArray ranges;
  {
    std::string msg;
    TTrimPlanner planner(Logger());
    if (!planner.GeneratePlan(FDisk, TTrimMode::tmFreeSpace, ranges, msg)) {
      PostLog(GetLangText(TTextId::TrimPlanFailedPrefix) + msg);
      return false;
    }
  }
  const TTrimExecOptions options = FTrimOptions;
  FTrimOk = false;
  FRunStats = TRunStats();
  auto run = std::make_unique<TTrimExecutionThread>(FDisk, ranges, TTrimMode::tmFreeSpace, options,
                                                    TRunMode::rmExecute, Logger(), nullptr,
                                                    [this](const TRunStats& Stats) { TrimFinished(Stats); });
  run->SetFreeOnTerminate(false);
  // One reformat hint per test: the second run on the same dead end says nothing new.
  run->SetReformatNoticeAllowed(!FReformatNoticeShown);
  // Known to SuppressRunBoxes until it is freed, also when its start throws.
  struct TKnownRun {
    TRealTrimTestThread& Test;
    TKnownRun(TRealTrimTestThread& T, TTrimExecutionThread& Run) : Test(T) {
      std::lock_guard<std::mutex> lk(Test.FRunLock);
      Test.FRun = &Run;
      if (Test.FRunBoxesSuppressed) Run.SuppressBoxes();
    }
    ~TKnownRun() {
      std::lock_guard<std::mutex> lk(Test.FRunLock);
      Test.FRun = nullptr;
    }
  };
  {
    TKnownRun known(*this, *run);
    // A stop that came before the start reaches the run before its first batch, not at the first poll.
    if (StopRequested()) run->RequestCancel();
    run->Start();
    while (!run->Finished()) {
      if (StopRequested()) run->RequestCancel();
      Win().Sleep(kTrimPollMs);
    }
    run->WaitFor();
  }
  if (run->ReformatNoticeShown()) FReformatNoticeShown = true;
  run.reset();
  // A run that failed after some batches still released those ranges.
  if (FTrimOk || FRunStats.SucceededBatches > 0) FTrimmedAny = true;
  if (FTrimOk)
    PostLog(Format("TRIM completed: batches=%d/%d, sectors=%s", FRunStats.SucceededBatches,
                   FRunStats.PlannedBatches, FormatGroupedU64(FRunStats.TotalSectors)));
  else
    PostLog(Format("TRIM failed: success=%d, failed=%d, planned=%d", FRunStats.SucceededBatches,
                   FRunStats.FailedBatches, FRunStats.PlannedBatches));
  return FTrimOk;
}

void TRealTrimTestThread::SuppressRunBoxes() {
  // Passed on at once, not at the next poll: the run's box may be on its way to the main thread.
  std::lock_guard<std::mutex> lk(FRunLock);
  FRunBoxesSuppressed = true;
  if (FRun) FRun->SuppressBoxes();
}

void TRealTrimTestThread::TrimFinished(const TRunStats& Stats) {
  // Main thread, while the test thread polls; it reads these only after the run has ended.
  FRunStats = Stats;
  FTrimRuns.push_back(Stats);
  FTrimOk = Stats.FailedBatches == 0;
}

bool TRealTrimTestThread::FlushTestVolume() {
  const std::string path = "\\\\.\\" + FFolder.substr(0, 2);
  TDeviceHandle h(Win().CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  if (!h.Valid()) {
    PostLog(GetLangText(TTextId::FlushFailedPrefix) + path);
    return false;
  }
  if (Win().FlushFileBuffers(h.Get())) {
    PostLog(GetLangText(TTextId::FlushSucceededPrefix) + path);
    return true;
  }
  const DWORD err = Win().GetLastError();
  PostLog(GetLangText(TTextId::FlushFailedPrefix) + path + Format(" winerr=%d", err));
  return false;
}

void TRealTrimTestThread::ExportFreeRangesCsv() {
  const std::string dir = OutputDir();
  if (dir.empty()) return;
  const std::string path = FreeRangeCsvPath(dir, FDisk.DiskNumber);
  TVolumeBitmapReader reader(Logger());
  const std::string text = FreeRangeCsvText(FDisk, reader, [this](const TVolumeInfo& v, const std::string& msg) {
    PostLog("Free range CSV skip: " + v.DriveLetter + " (" + msg + ")");
  });
  WriteWholeFile(path, text);  // a file that cannot be saved ends the test as an error
  PostLog(GetLangText(TTextId::FreeSpaceCsvSavedPrefix) + path);
}

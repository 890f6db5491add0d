#include "engine/uTrimExecutor.h"

#include "core/uDateTime.h"
#include "core/uLogger.h"
#include "platform/Platform.h"

using namespace plat;

TTrimExecutionThread::TTrimExecutionThread(const TDiskInfo& Disk, const TTrimRangeArray& Ranges, TTrimMode TrimMode,
                                           const TTrimExecOptions& Options, TRunMode RunMode, TLogger* Logger,
                                           TTrimProgressEvent OnProgress, TTrimDoneEvent OnDone)
    : TThread(DefaultStackSize),
      FDisk(Disk),
      FRanges(Ranges),
      FTrimMode(TrimMode),
      FOptions(Options),
      FRunMode(RunMode),
      FLogger(Logger),
      FOnProgress(std::move(OnProgress)),
      FOnDone(std::move(OnDone)),
      FAtaEngine(std::make_unique<TAtaPassThroughEngine>(Logger)) {
  SetFreeOnTerminate(true);
}

TTrimExecutionThread::~TTrimExecutionThread() { CloseVolumeHandles(); }

void TTrimExecutionThread::RequestCancel() { FCancelRequested.exchange(1); }

bool TTrimExecutionThread::IsCancelRequested() const {
  int32_t expected = 0;
  // A compare-exchange of 0 with 0: reads the flag with full ordering and never changes it.
  FCancelRequested.compare_exchange_strong(expected, 0);
  return expected != 0;
}

// STAGE RUNNER (to be filled): set-up, the batch loop with its fallback chain, the ReTrim offer
// and the end of the run come here. Until then a run only records its frame and reports done.
void TTrimExecutionThread::Execute() {
  FStats.Disk = FDisk;
  FStats.TrimMode = FTrimMode;
  FStats.RunMode = FRunMode;
  FStats.StartTime = Now();
  try {
    // Stages go here.
  } catch (const std::exception& e) {
    if (FLogger) FLogger->Error(std::string("Executor fatal: ") + e.what());
    FStats.FailedBatches++;
  }
  FStats.EndTime = Now();
  try {
    Synchronize([this] { DoDone(); });
  } catch (...) {
    // A failing completion handler must not keep the thread from ending and freeing itself.
  }
}

void TTrimExecutionThread::ReportProgress(uint32_t Done, uint32_t /*Total*/, const std::string& Text) {
  // The handler is given the planned count; the batch loop passes that same value as Total.
  FStats.DoneBatches = static_cast<int32_t>(Done);
  FProgressText = Text;
  Synchronize([this] { DoProgress(); });
}

bool TTrimExecutionThread::AskQuestion(const std::string& Caption, const std::string& Text) {
  FQuestionCaption = Caption;
  FQuestionText = Text;
  FDialogAccepted = false;
  Synchronize([this] { DoAskQuestion(); });
  return FDialogAccepted;
}

void TTrimExecutionThread::ShowInfo(const std::string& Caption, const std::string& Text) {
  FInfoCaption = Caption;
  FInfoText = Text;
  Synchronize([this] { DoShowInfo(); });
}

void TTrimExecutionThread::DoProgress() {
  if (FOnProgress)
    FOnProgress(static_cast<uint32_t>(FStats.DoneBatches), static_cast<uint32_t>(FStats.PlannedBatches), FProgressText);
}

void TTrimExecutionThread::DoDone() {
  if (FOnDone) FOnDone(FStats);
}

void TTrimExecutionThread::DoAskQuestion() {
  FDialogAccepted = Win().MessageBoxW(nullptr, FQuestionText, FQuestionCaption, kRunQuestionBoxFlags) == IDOK;
}

void TTrimExecutionThread::DoShowInfo() { Win().MessageBoxW(nullptr, FInfoText, FInfoCaption, kRunInfoBoxFlags); }

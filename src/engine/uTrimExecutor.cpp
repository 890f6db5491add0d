#include "engine/uTrimExecutor.h"

#include "core/uDateTime.h"
#include "core/uLogger.h"
#include "engine/uTrimRun.h"
#include "engine/uValidation.h"
#include "platform/Platform.h"

using namespace plat;

TTrimExecutionThread::TTrimExecutionThread(const TDiskInfo& Disk, const TTrimRangeArray& Ranges,
                                           TTrimMode TrimMode, const TTrimExecOptions& Options, TRunMode RunMode,
                                           TLogger* Logger, TTrimProgressEvent OnProgress, TTrimDoneEvent OnDone)
    : TThread(DefaultStackSize),
      FDisk(Disk),
      FRanges(Ranges),
      FTrimMode(TrimMode),
      FOptions(Options),
      FRunMode(RunMode),
      FLogger(Logger),
      FOnProgress(std::move(OnProgress)),
      FOnDone(std::move(OnDone)),
      FAtaEngine(std::make_unique<TAtaPassThroughEngine>(Logger)),
      FValidator(std::make_unique<TPreflightValidator>(Logger)) {
  SetFreeOnTerminate(true);
}

TTrimExecutionThread::~TTrimExecutionThread() = default;

void TTrimExecutionThread::RequestCancel() {
  FCancelRequested.exchange(1);
  // A command that hangs on the run's own thread would never see the flag.
  Win().CancelSynchronousIo(Handle());
}

bool TTrimExecutionThread::IsCancelRequested() const {
  int32_t expected = 0;
  // A compare-exchange of 0 with 0: reads the flag with full ordering and never changes it.
  FCancelRequested.compare_exchange_strong(expected, 0);
  return expected != 0;
}

void TTrimExecutionThread::Execute() {
  TRunContext context{FDisk, FRanges, FTrimMode, FRunMode, FOptions, FStats, FLogger, *FAtaEngine, *FValidator};
  TTrimRun run(context, *this);
  try {
    run.Run();
  } catch (const std::exception& e) {
    run.Abort(e.what());
  } catch (...) {
    run.Abort("unknown exception");
  }
  try {
    run.Finish();
  } catch (const std::exception& e) {
    if (FLogger) FLogger->Error(std::string("Executor fatal: ") + e.what());
  } catch (...) {
    if (FLogger) FLogger->Error("Executor fatal: unknown exception");
  }
  // Whatever happened above, the window waits for this one call.
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
    FOnProgress(static_cast<uint32_t>(FStats.DoneBatches), static_cast<uint32_t>(FStats.PlannedBatches),
                FProgressText);
}

void TTrimExecutionThread::DoDone() {
  if (FOnDone) FOnDone(FStats);
}

void TTrimExecutionThread::DoAskQuestion() {
  FDialogAccepted = Win().MessageBoxW(nullptr, FQuestionText, FQuestionCaption, kRunQuestionBoxFlags) == IDOK;
}

void TTrimExecutionThread::DoShowInfo() { Win().MessageBoxW(nullptr, FInfoText, FInfoCaption, kRunInfoBoxFlags); }

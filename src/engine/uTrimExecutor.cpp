#include "engine/uTrimExecutor.h"

#include "core/uDateTime.h"
#include "core/uFormat.h"
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

TTrimExecutionThread::~TTrimExecutionThread() {
  if (FWorkOver) Win().CloseHandle(FWorkOver);
}

// Asks Windows again, each second, to end the call the run's thread is blocked in, until the
// run has done its work. CancelSynchronousIo ends only a request already in progress (and one a
// driver has not queued yet lets the cancel pass), so one cancel can be missed for good.
class TTrimExecutionThread::TCancelRepeat final : public TThread {
 public:
  explicit TCancelRepeat(TTrimExecutionThread& Run) : FRun(Run) {}

 protected:
  void Execute() override {
    while (Win().WaitForSingleObject(FRun.FWorkOver, kCancelRepeatMs) == WAIT_TIMEOUT) FRun.CancelRunIo();
  }

 private:
  TTrimExecutionThread& FRun;  // outlives this thread: LeaveWork waits for it
};

class TTrimExecutionThread::TWorkScope {
 public:
  explicit TWorkScope(TTrimExecutionThread& Run) : FRun(Run) { FRun.EnterWork(); }
  ~TWorkScope() { FRun.LeaveWork(); }
  TWorkScope(const TWorkScope&) = delete;
  TWorkScope& operator=(const TWorkScope&) = delete;

 private:
  TTrimExecutionThread& FRun;
};

void TTrimExecutionThread::RequestCancel() {
  const bool again = FCancelRequested.exchange(1) != 0;
  std::string failure;
  {
    std::lock_guard<std::mutex> lk(FCancelIoLock);
    // Not yet started: the work starts the repeat; over: nothing of the end is cancelled.
    if (!FInWork) return;
    // Asked before and the repeat is under way: it asks again itself. Without it (it could not
    // start) each ask of the caller is the repeat.
    if (again && FCancelRepeat) return;
    // A command that hangs on the run's own thread would never see the flag.
    Win().CancelSynchronousIo(Handle());
    failure = StartCancelRepeatLocked();
  }
  // Said once; a caller that asks again each second would repeat it.
  if (!failure.empty() && !again && FLogger) FLogger->Warn("Cancel will not be repeated: " + failure);
}

void TTrimExecutionThread::CancelRunIo() {
  std::lock_guard<std::mutex> lk(FCancelIoLock);
  if (FInWork) Win().CancelSynchronousIo(Handle());
}

std::string TTrimExecutionThread::StartCancelRepeatLocked() {
  if (FCancelRepeat) return {};
  if (!FWorkOver) FWorkOver = Win().CreateEventW(TRUE_, FALSE_);
  if (!FWorkOver) return Format("CreateEvent failed (winerr=%d)", Win().GetLastError());
  try {
    auto repeat = std::make_unique<TCancelRepeat>(*this);
    repeat->Start();
    FCancelRepeat = std::move(repeat);
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

void TTrimExecutionThread::EnterWork() {
  std::string failure;
  {
    std::lock_guard<std::mutex> lk(FCancelIoLock);
    FInWork = true;
    // Cancelled before the start: the set-up's first request may already be the one that hangs.
    if (IsCancelRequested()) failure = StartCancelRepeatLocked();
  }
  if (!failure.empty() && FLogger) FLogger->Warn("Cancel will not be repeated: " + failure);
}

void TTrimExecutionThread::LeaveWork() {
  std::unique_ptr<TThread> repeat;
  {
    std::lock_guard<std::mutex> lk(FCancelIoLock);
    FInWork = false;
    repeat = std::move(FCancelRepeat);
  }
  if (!repeat) return;
  Win().SetEvent(FWorkOver);
  repeat->WaitFor();
}

bool TTrimExecutionThread::IsCancelRequested() const {
  int32_t expected = 0;
  // A compare-exchange of 0 with 0: reads the flag with full ordering and never changes it.
  FCancelRequested.compare_exchange_strong(expected, 0);
  return expected != 0;
}

void TTrimExecutionThread::Execute() {
  TRunContext context{FDisk,  FRanges, FTrimMode,   FRunMode,    FOptions,
                      FStats, FLogger, *FAtaEngine, *FValidator, FReformatNoticeAllowed};
  TTrimRun run(context, *this);
  {
    // A cancel reaches the device calls of the work, never the reports and notices of the end.
    TWorkScope work(*this);
    try {
      run.Run();
    } catch (const std::exception& e) {
      run.Abort(e.what());
    } catch (...) {
      run.Abort("unknown exception");
    }
  }
  try {
    run.Finish();
  } catch (const std::exception& e) {
    if (FLogger) FLogger->Error(std::string("Executor fatal: ") + e.what());
  } catch (...) {
    if (FLogger) FLogger->Error("Executor fatal: unknown exception");
  }
  FReformatNoticeShown = run.ReformatNoticeShown();
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

void TTrimExecutionThread::SuppressBoxes() { FBoxesSuppressed.store(true); }

// Both read the switch on the main thread, where a closing window raises it before it waits for
// the run: no box of the run can come after it.
void TTrimExecutionThread::DoAskQuestion() {
  if (FBoxesSuppressed.load()) {
    FDialogAccepted = false;
    if (FLogger) FLogger->Warn("Question not asked, the window was closed: taken as declined");
    return;
  }
  FDialogAccepted = Win().MessageBoxW(nullptr, FQuestionText, FQuestionCaption, kRunQuestionBoxFlags) == IDOK;
}

void TTrimExecutionThread::DoShowInfo() {
  if (FBoxesSuppressed.load()) {
    if (FLogger) FLogger->Info("Notice not shown, the window was closed");
    return;
  }
  Win().MessageBoxW(nullptr, FInfoText, FInfoCaption, kRunInfoBoxFlags);
}

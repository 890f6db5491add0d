// The real-test thread: creation, the stop request, the calls to the window, and Execute with
// its two modes and five steps.
#include "realtest/uRealTrimTest.h"

#include <new>
#include <stdexcept>

#include "core/uFormat.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "core/uNumbers.h"
#include "platform/Platform.h"

using namespace plat;

namespace {

constexpr size_t kBufferAlign = 4096;  // a sector of any drive the test meets, for unbuffered I/O

bool UnbufferedSize(int64_t Bytes) { return Bytes > 0 && Bytes % 4096 == 0; }

uint64_t Tick() { return Win().GetTickCount64(); }

// Arms the speed-drop detection for one fill and disarms it on every way out.
class TDropCheckArm {
 public:
  explicit TDropCheckArm(bool& Flag) : FFlag(Flag) { FFlag = true; }
  ~TDropCheckArm() { FFlag = false; }

 private:
  bool& FFlag;
};

}  // namespace

void TRealTrimTestThread::TAlignedFree::operator()(uint8_t* P) const {
  ::operator delete[](P, std::align_val_t(kBufferAlign));
}

TRealTrimTestThread::TRealTrimTestThread(IRealTestWindow* AForm, const TDiskInfo& ADisk,
                                         const std::string& AFolder, const TRealTestOptions& AStepOptions,
                                         const TTrimExecOptions& ATrimOptions, bool AVerifyOnly,
                                         const TRealTestFileSizes& ASizes)
    : TThread(DefaultStackSize),
      FForm(AForm),
      FDisk(ADisk),
      FFolder(AFolder),
      FStepOptions(AStepOptions),
      FTrimOptions(ATrimOptions),
      FVerifyOnly(AVerifyOnly),
      FSizes(ASizes) {
  if (!UnbufferedSize(FSizes.FileBytes) || !UnbufferedSize(FSizes.GigFileBytes))
    throw std::invalid_argument("test file sizes must be positive multiples of 4096");
  SetFreeOnTerminate(true);
  if (FFolder.empty() || (FFolder.back() != '\\' && FFolder.back() != '/')) FFolder += '\\';
  FStartTick = Tick();
  FStepStartTick = FStartTick.load();
  FSpeedText = "-";
  FStepElapsedText = "-";
  FSampleStartTick = Tick();
  FBuffer.reset(static_cast<uint8_t*>(::operator new[](kWriteBlockBytes, std::align_val_t(kBufferAlign))));
}

TRealTrimTestThread::~TRealTrimTestThread() = default;

void TRealTrimTestThread::RequestStop() { FStopFlag.exchange(1); }

bool TRealTrimTestThread::StopRequested() const {
  int32_t expected = 0;
  // A compare-exchange of 0 with 0: a read that is a full barrier.
  const_cast<std::atomic<int32_t>&>(FStopFlag).compare_exchange_strong(expected, 0);
  return expected != 0;
}

// ---- to the window ---------------------------------------------------------------------------

TLogger* TRealTrimTestThread::Logger() const { return FForm ? FForm->RealTestLogger() : nullptr; }

std::string TRealTrimTestThread::OutputDir() const { return FForm ? FForm->RealTestOutputDir() : std::string(); }

void TRealTrimTestThread::PostLog(const std::string& S) {
  FLogText = S;
  Synchronize([this] {
    if (FForm) FForm->RealTestLog(FLogText);
  });
}

void TRealTrimTestThread::PostStatus(const std::string& S) {
  FStepLabel = S;
  FStatusText = S;
  Synchronize([this] {
    if (FForm) FForm->SetRealStatus(FStatusText);
  });
}

void TRealTrimTestThread::SyncSpeed() {
  Synchronize([this] {
    if (FForm) FForm->SetRealSpeed(FSpeedText);
  });
}

void TRealTrimTestThread::PostElapsed() {
  FElapsedText = TotalElapsedText();
  Synchronize([this] {
    if (FForm) FForm->SetRealElapsed(FElapsedText);
  });
}

void TRealTrimTestThread::PostStepElapsed() {
  FStepElapsedText = StepElapsedText();
  Synchronize([this] {
    if (FForm) FForm->SetStepElapsed(FStepElapsedText);
  });
}

void TRealTrimTestThread::StartStepTimer() {
  FStepStartTick = Tick();
  FStepElapsedText = "0:00:00";
  Synchronize([this] {
    if (FForm) FForm->SetStepElapsed(FStepElapsedText);
  });
}

void TRealTrimTestThread::ResetStepCounters() {
  FStepBytesWritten = 0;
  FStepWriteMs = 0;
  FSampleBytes = 0;
  FSampleStartTick = Tick();
  FSpeedText = "-";
  SyncSpeed();
}

bool TRealTrimTestThread::StepEnabled(int32_t Step) const {
  return FStepOptions.StartStep <= Step && Step <= FStepOptions.EndStep;
}

// ---- Execute ---------------------------------------------------------------------------------

void TRealTrimTestThread::Execute() {
  try {
    ExecuteSteps();
  } catch (const std::exception& e) {
    EndWithError(e.what());
  } catch (...) {
    EndWithError("unknown error");
  }
}

void TRealTrimTestThread::EndWithError(const std::string& Message) {
  FSpeedDropCheck = false;
  FSucceeded = false;
  FCancelled = false;
  FResultText = Message;
  const std::string line = "Real test failed: " + Message;
  try {
    FLogText = line;
    Synchronize([this] {
      if (FForm) FForm->RealTestLogError(FLogText);
    });
  } catch (...) {
    // The window could not take the line; the log file still gets it.
    if (TLogger* log = Logger()) log->Error(line);
  }
}

bool TRealTrimTestThread::StopHere() {
  if (!StopRequested()) return false;
  FCancelled = true;
  FResultText = GetLangText(181);
  return true;
}

void TRealTrimTestThread::ExecuteSteps() {
  PostStatus(GetLangText(118));
  FSpeedDropCheck = false;
  FSucceeded = false;
  FCancelled = false;
  FResultText.clear();
  FSpeedText = "-";
  SyncSpeed();
  PostElapsed();
  if (FVerifyOnly)
    RunVerifyOnly();
  else
    RunFullTest();
}

void TRealTrimTestThread::RunVerifyOnly() {
  StartStepTimer();
  PostLog(GetLangText(121));
  LoadExistingFiles();
  PostLog(Format(GetLangText(122), static_cast<int32_t>(FFiles.size())));
  if (FFiles.empty()) {
    PostLog(GetLangText(123));
    PostStatus(GetLangText(119));
    FSucceeded = false;
    FCancelled = false;
    FResultText = GetLangText(123);
    return;
  }
  FBytesRead = 0;
  FReadMs = 0;
  ResetStepCounters();
  PostLog(GetLangText(124));
  PostStatus(GetLangText(120));
  const bool ok = VerifyFileList();
  const std::string parts =
      " | " + VerifySummary() + " | " + FormatSpeed(FBytesRead, FReadMs) + " | " + StepElapsedText();
  if (ok && StopRequested()) {
    PostLog(GetLangText(181));
    FSucceeded = false;
    FCancelled = true;
    FResultText = GetLangText(181);
  } else if (ok && FVerifyPassed + FVerifyFailed == 0) {
    // Nothing was verified: not a pass.
    PostLog(GetLangText(123));
    FSucceeded = false;
    FCancelled = false;
    FResultText = GetLangText(123);
  } else if (ok) {
    PostLog(GetLangText(125) + parts);
    FSucceeded = true;
    FCancelled = false;
    FResultText = GetLangText(125);
  } else {
    PostLog(GetLangText(126) + parts);
    FSucceeded = false;
    FCancelled = StopRequested();
    FResultText = GetLangText(126);
  }
  PostStatus(GetLangText(119));
  FSpeedText = "-";
  SyncSpeed();
  PostElapsed();
}

void TRealTrimTestThread::RunFullTest() {
  if (!EnsureTestFolder()) {
    FResultText = GetLangText(139) + FFolder;
    return;
  }
  if (FStepOptions.StartStep > 1) {
    PostLog(Format(GetLangText(152), FStepOptions.StartStep));
    LoadExistingFiles();
    PostLog(Format(GetLangText(122), static_cast<int32_t>(FFiles.size())));
  }
  if (StepEnabled(1) && (StopHere() || !RunStep1())) return;
  if (StepEnabled(2)) {
    if (StopHere()) return;
    RunStep2();
  }
  if (StepEnabled(3) && (StopHere() || !RunStep3())) return;
  if (StepEnabled(4)) {
    if (StopHere()) return;
    RunStep4();
  } else if (!StopHere()) {
    FSucceeded = true;
    FResultText = GetLangText(119);
  }
  if (StepEnabled(5)) {
    if (StopHere()) return;
    RunStep5();
  }
  PostStatus(GetLangText(119));
  FSpeedText = "-";
  SyncSpeed();
  PostElapsed();
  PostLog(GetLangText(136) + TotalElapsedText());
}

bool TRealTrimTestThread::RunStep1() {
  int64_t total = 0, free = 0;
  if (!QueryFreeSpace(total, free)) {
    PostLog(GetLangText(138));
    FResultText = GetLangText(138);
    return false;
  }
  CreateFileMapCsvs();
  StartStepTimer();
  ResetStepCounters();
  PostLog(GetLangText(195));
  PostStatus("STEP1 TRIM");
  FlushTestVolume();
  if (!RunFreeSpaceTrim()) PostLog(GetLangText(137));
  if (StopHere()) return false;

  PostLog(GetLangText(127));
  PostStatus("STEP1");
  const int64_t target = free / 3;
  bool filled;
  {
    TDropCheckArm arm(FSpeedDropCheck);
    filled = FillWithFiles(target, FSizes.FileBytes, false);
  }
  if (!filled) {
    if (!StopHere()) FResultText = GetLangText(138);  // the fill has logged its cause
    return false;
  }
  PostLog(GetLangText(128) + " - " + FormatSpeed(FStepBytesWritten, FStepWriteMs) + " | " + StepElapsedText());
  PostElapsed();
  return true;
}

void TRealTrimTestThread::RunStep2() {
  StartStepTimer();
  PostLog(GetLangText(129));
  PostStatus("STEP2");
  DeleteEveryTenth();
  FlushTestVolume();
  ExportFreeRangesCsv();
  if (!RunFreeSpaceTrim()) PostLog(GetLangText(137));
  PostLog(GetLangText(130) + " | " + StepElapsedText());
  PostElapsed();
}

bool TRealTrimTestThread::RunStep3() {
  ScanGigIndex();
  StartStepTimer();
  ResetStepCounters();
  int64_t total = 0, free = 0;
  if (!QueryFreeSpace(total, free)) {
    PostLog(GetLangText(138));
    return true;  // on to STEP4
  }
  // One 1 GiB file's size stays free.
  const int64_t size = free > FSizes.GigFileBytes ? free - FSizes.GigFileBytes : 0;
  PostLog(Format(GetLangText(131), FormatGroupedI64(size)));
  PostStatus("STEP3");
  if (size > 0) {
    bool filled;
    {
      TDropCheckArm arm(FSpeedDropCheck);
      filled = FillWithFiles(size, FSizes.GigFileBytes, true);
    }
    if (!filled) {
      if (!StopHere()) FResultText = GetLangText(138);
      return false;
    }
  }
  PostLog(GetLangText(132) + " - " + FormatSpeed(FStepBytesWritten, FStepWriteMs) + " | " + StepElapsedText());
  PostElapsed();
  return true;
}

void TRealTrimTestThread::RunStep4() {
  StartStepTimer();
  FBytesRead = 0;
  FReadMs = 0;
  ResetStepCounters();
  PostLog(GetLangText(133));
  PostStatus(GetLangText(230));
  const bool ok = VerifyFileList();
  const std::string parts =
      " | " + VerifySummary() + " | " + FormatSpeed(FBytesRead, FReadMs) + " | " + StepElapsedText();
  if (ok && StopRequested()) {
    FCancelled = true;
    FResultText = GetLangText(181);
  } else if (ok && FVerifyPassed + FVerifyFailed == 0) {
    PostLog(GetLangText(123));
    FSucceeded = false;
    FResultText = GetLangText(123);
  } else if (ok) {
    PostLog(GetLangText(134) + parts);
    FSucceeded = true;
    FResultText = GetLangText(134);
  } else {
    PostLog(GetLangText(135) + parts);
    FSucceeded = false;
    FCancelled = StopRequested();
    FResultText = GetLangText(135);
  }
  PostElapsed();
}

void TRealTrimTestThread::RunStep5() {
  if (FGigFiles.empty()) {
    LoadExistingGigFiles();
    PostLog(Format(GetLangText(122), static_cast<int32_t>(FGigFiles.size())));
  }
  StartStepTimer();
  FBytesRead = 0;
  FReadMs = 0;
  ResetStepCounters();
  PostLog(GetLangText(241));
  PostStatus(GetLangText(244));
  const bool ok = VerifyGigList();
  const std::string parts =
      " | " + VerifySummary() + " | " + FormatSpeed(FBytesRead, FReadMs) + " | " + StepElapsedText();
  if (ok && StopRequested()) {
    FCancelled = true;
    FResultText = GetLangText(181);
  } else if (ok && FVerifyPassed + FVerifyFailed == 0) {
    PostLog(GetLangText(123));
    // An earlier failure stays the result; nothing verified is never a pass.
    if (FSucceeded) FResultText = GetLangText(123);
    FSucceeded = false;
  } else if (ok) {
    PostLog(GetLangText(242) + parts);
    if (FSucceeded) FResultText = GetLangText(242);
  } else {
    PostLog(GetLangText(243) + parts);
    FSucceeded = false;
    FCancelled = StopRequested();
    FResultText = GetLangText(243);
  }
  PostElapsed();
}

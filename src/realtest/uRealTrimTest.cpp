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
  // The series names its drive, for the chart's caption.
  if (FFolder.size() >= 2 && FFolder[1] == ':') FSpeedData.SetDrive(FFolder.substr(0, 2) + "\\");
  FBuffer.reset(static_cast<uint8_t*>(::operator new[](kWriteBlockBytes, std::align_val_t(kBufferAlign))));
  FCheck.SetStopCheck([this] { return StopRequested(); });
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
  FStepSamples = 0;
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

std::string TRealTrimTestThread::TooSmallText(int32_t Step, int64_t Free, int64_t Needs) const {
  return Format(GetLangText(TTextId::VolumeTooSmallFmt), Step, FormatGroupedI64(Free), FormatGroupedI64(Needs));
}

std::string TRealTrimTestThread::NothingVerifiedText() const {
  return FTooSmallText.empty() ? GetLangText(TTextId::NoFilesToVerify) : FTooSmallText;
}

bool TRealTrimTestThread::StopHere() {
  if (!StopRequested()) return false;
  FCancelled = true;
  FResultText = GetLangText(TTextId::CancelledByUser);
  return true;
}

void TRealTrimTestThread::ExecuteSteps() {
  PostStatus(GetLangText(TTextId::RealTestPreparing));
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
  PostLog(GetLangText(TTextId::VerifyOnlyScanning));
  LoadExistingFiles();
  PostLog(Format(GetLangText(TTextId::ScanCompleteFmt), static_cast<int32_t>(FFiles.size())));
  if (FFiles.empty()) {
    PostLog(GetLangText(TTextId::NoFilesToVerify));
    PostStatus(GetLangText(TTextId::RealTestDone));
    FSucceeded = false;
    FCancelled = false;
    FResultText = GetLangText(TTextId::NoFilesToVerify);
    return;
  }
  FBytesRead = 0;
  FReadMs = 0;
  ResetStepCounters();
  PostLog(GetLangText(TTextId::Verify500MbStarted));
  PostStatus(GetLangText(TTextId::RealTestVerifying));
  const bool ok = VerifyFileList();
  EndStepSamples(FBytesRead, FReadMs);
  const std::string parts =
      " | " + VerifySummary() + " | " + FormatSpeed(FBytesRead, FReadMs) + " | " + StepElapsedText();
  if (ok && StopRequested()) {
    PostLog(GetLangText(TTextId::CancelledByUser));
    FSucceeded = false;
    FCancelled = true;
    FResultText = GetLangText(TTextId::CancelledByUser);
  } else if (ok && FVerifyPassed + FVerifyFailed == 0) {
    // Nothing was verified: not a pass.
    PostLog(GetLangText(TTextId::NoFilesToVerify));
    FSucceeded = false;
    FCancelled = false;
    FResultText = GetLangText(TTextId::NoFilesToVerify);
  } else if (ok) {
    PostLog(GetLangText(TTextId::VerifySucceeded) + parts);
    FSucceeded = true;
    FCancelled = false;
    FResultText = GetLangText(TTextId::VerifySucceeded);
  } else {
    PostLog(GetLangText(TTextId::VerifyFailuresFound) + parts);
    FSucceeded = false;
    FCancelled = StopRequested();
    FResultText = GetLangText(TTextId::VerifyFailuresFound);
  }
  PostStatus(GetLangText(TTextId::RealTestDone));
  FSpeedText = "-";
  SyncSpeed();
  PostElapsed();
}

void TRealTrimTestThread::RunFullTest() {
  if (!EnsureTestFolder()) {
    FResultText = GetLangText(TTextId::CreateTestFolderFailedPrefix) + FFolder;
    return;
  }
  if (FStepOptions.StartStep > 1) {
    PostLog(Format(GetLangText(TTextId::StartFromStepFmt), FStepOptions.StartStep));
    LoadExistingFiles();
    PostLog(Format(GetLangText(TTextId::ScanCompleteFmt), static_cast<int32_t>(FFiles.size())));
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
    FResultText = GetLangText(TTextId::RealTestDone);
  }
  if (StepEnabled(5)) {
    if (StopHere()) return;
    RunStep5();
  }
  // TRIM steps that trimmed nothing leave the verifications nothing to say about TRIM: the test
  // did not pass (a failure they found stays the result, a stop stays a cancel). A test that
  // ran no TRIM step is judged by its verifications alone.
  if (FSucceeded && !FCancelled && FTrimStepsRun > 0 && !FTrimmedAny) {
    FSucceeded = false;
    FResultText = GetLangText(TTextId::TrimStepTrimmedNothing);
    PostLog(FResultText);
  }
  // A step that found too little free space could not do its part: the test did not pass,
  // however its verifications went (a failure they found stays the result).
  if (FSucceeded && !FTooSmallText.empty()) {
    FSucceeded = false;
    FResultText = FTooSmallText;
  }
  PostStatus(GetLangText(TTextId::RealTestDone));
  FSpeedText = "-";
  SyncSpeed();
  PostElapsed();
  PostLog(GetLangText(TTextId::TotalElapsedPrefix) + TotalElapsedText());
}

bool TRealTrimTestThread::RunStep1() {
  int64_t total = 0, free = 0;
  if (!QueryFreeSpace(total, free)) {
    PostLog(GetLangText(TTextId::CapacityQueryFailed));
    FResultText = GetLangText(TTextId::CapacityQueryFailed);
    return false;
  }
  // Step 1 writes whole files. Without room for one nothing could be verified, and every later
  // step would find nothing to do: the test ends here, before it trims or writes anything.
  if (free < FSizes.FileBytes) {
    FResultText = TooSmallText(1, free, FSizes.FileBytes);
    PostLog(FResultText);
    return false;
  }
  CreateFileMapCsvs();
  StartStepTimer();
  ResetStepCounters();
  PostLog(GetLangText(TTextId::Step1Trim));
  PostStatus("STEP1 TRIM");
  FlushTestVolume();
  if (!RunFreeSpaceTrim()) PostLog(GetLangText(TTextId::TrimFailedCheckLog));
  if (StopHere()) return false;

  PostLog(GetLangText(TTextId::Step1Start));
  PostStatus("STEP1");
  const int64_t target = free / 3;
  bool filled;
  {
    TDropCheckArm arm(FSpeedDropCheck);
    filled = FillWithFiles(target, FSizes.FileBytes, false);
  }
  EndStepSamples(FStepBytesWritten, FStepWriteMs);
  if (!filled) {
    if (!StopHere()) FResultText = GetLangText(TTextId::CapacityQueryFailed);  // the fill has logged its cause
    return false;
  }
  PostLog(GetLangText(TTextId::Step1Complete) + " - " + FormatSpeed(FStepBytesWritten, FStepWriteMs) + " | " +
          StepElapsedText());
  PostElapsed();
  return true;
}

void TRealTrimTestThread::RunStep2() {
  StartStepTimer();
  PostLog(GetLangText(TTextId::Step2Start));
  PostStatus("STEP2");
  DeleteEveryTenth();
  FlushTestVolume();
  ExportFreeRangesCsv();
  if (!RunFreeSpaceTrim()) PostLog(GetLangText(TTextId::TrimFailedCheckLog));
  PostLog(GetLangText(TTextId::Step2Complete) + " | " + StepElapsedText());
  PostElapsed();
}

bool TRealTrimTestThread::RunStep3() {
  ScanGigIndex();
  StartStepTimer();
  ResetStepCounters();
  int64_t total = 0, free = 0;
  if (!QueryFreeSpace(total, free)) {
    PostLog(GetLangText(TTextId::CapacityQueryFailed));
    return true;  // on to STEP4
  }
  // One 1 GiB file's size stays free.
  const int64_t size = free > FSizes.GigFileBytes ? free - FSizes.GigFileBytes : 0;
  PostLog(Format(GetLangText(TTextId::Step3StartFmt), FormatGroupedI64(size)));
  PostStatus("STEP3");
  if (size < 4096) {
    // Not one unbuffered block fits below the target. The steps go on: the 500 MiB files are
    // still verified, and the end says the volume was too small.
    const std::string why = TooSmallText(3, free, FSizes.GigFileBytes + 4096);
    PostLog(why);
    if (FTooSmallText.empty()) FTooSmallText = why;
  } else {
    bool filled;
    {
      TDropCheckArm arm(FSpeedDropCheck);
      filled = FillWithFiles(size, FSizes.GigFileBytes, true);
    }
    EndStepSamples(FStepBytesWritten, FStepWriteMs);
    if (!filled) {
      if (!StopHere()) FResultText = GetLangText(TTextId::CapacityQueryFailed);
      return false;
    }
  }
  PostLog(GetLangText(TTextId::Step3Complete) + " - " + FormatSpeed(FStepBytesWritten, FStepWriteMs) + " | " +
          StepElapsedText());
  PostElapsed();
  return true;
}

void TRealTrimTestThread::RunStep4() {
  StartStepTimer();
  FBytesRead = 0;
  FReadMs = 0;
  ResetStepCounters();
  PostLog(GetLangText(TTextId::Step4Start));
  PostStatus(GetLangText(TTextId::Step4Verify));
  const bool ok = VerifyFileList();
  EndStepSamples(FBytesRead, FReadMs);
  const std::string parts =
      " | " + VerifySummary() + " | " + FormatSpeed(FBytesRead, FReadMs) + " | " + StepElapsedText();
  if (ok && StopRequested()) {
    FCancelled = true;
    FResultText = GetLangText(TTextId::CancelledByUser);
  } else if (ok && FVerifyPassed + FVerifyFailed == 0) {
    PostLog(NothingVerifiedText());
    FSucceeded = false;
    FResultText = NothingVerifiedText();
  } else if (ok) {
    PostLog(GetLangText(TTextId::Step4Passed) + parts);
    FSucceeded = true;
    FResultText = GetLangText(TTextId::Step4Passed);
  } else {
    PostLog(GetLangText(TTextId::Step4Failed) + parts);
    FSucceeded = false;
    FCancelled = StopRequested();
    FResultText = GetLangText(TTextId::Step4Failed);
  }
  PostElapsed();
}

void TRealTrimTestThread::RunStep5() {
  if (FGigFiles.empty()) {
    LoadExistingGigFiles();
    PostLog(Format(GetLangText(TTextId::ScanCompleteFmt), static_cast<int32_t>(FGigFiles.size())));
  }
  StartStepTimer();
  FBytesRead = 0;
  FReadMs = 0;
  ResetStepCounters();
  PostLog(GetLangText(TTextId::Step5Start));
  PostStatus(GetLangText(TTextId::Step5Verify));
  const bool ok = VerifyGigList();
  EndStepSamples(FBytesRead, FReadMs);
  const std::string parts =
      " | " + VerifySummary() + " | " + FormatSpeed(FBytesRead, FReadMs) + " | " + StepElapsedText();
  if (ok && StopRequested()) {
    FCancelled = true;
    FResultText = GetLangText(TTextId::CancelledByUser);
  } else if (ok && FVerifyPassed + FVerifyFailed == 0) {
    PostLog(NothingVerifiedText());
    // An earlier failure stays the result; nothing verified is never a pass.
    if (FSucceeded) FResultText = NothingVerifiedText();
    FSucceeded = false;
  } else if (ok) {
    PostLog(GetLangText(TTextId::Step5Passed) + parts);
    if (FSucceeded) FResultText = GetLangText(TTextId::Step5Passed);
  } else {
    PostLog(GetLangText(TTextId::Step5Failed) + parts);
    FSucceeded = false;
    FCancelled = StopRequested();
    FResultText = GetLangText(TTextId::Step5Failed);
  }
  PostElapsed();
}

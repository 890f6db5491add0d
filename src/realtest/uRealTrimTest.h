// The real TRIM test's worker thread: five steps on a volume of the chosen disk (TRIM and fill a
// third of the free space with 500 MiB files, delete every tenth, TRIM again, fill the rest but
// 1 GiB with 1 GiB files, verify both kinds), or a verification of the files a former test left.
//
// Implementation by job: uRealTrimTest.cpp (creation, the window calls, Execute and its steps),
// uRealTestFiles.cpp (writing, deleting, verifying and finding the test files),
// uRealTestSpeed.cpp (speed windows, the speed-drop wait, elapsed times, the widest texts of the
// window's labels),
// uRealTestTrim.cpp (the nested free-space TRIM run, the volume flush, the free-range CSV),
// uRealTestCsv.cpp (created_files.csv and deleted_files.csv); the content and its hashes are in
// uTestContent.h, the sector rule and the file listing in uFileMap.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/uThread.h"
#include "core/uTypes.h"
#include "realtest/uSpeedData.h"
#include "realtest/uTestContent.h"

class TDeviceHandle;
class TLogger;
class TTrimExecutionThread;

// What the test runs: the minutes to wait after a speed drop (0 switches the detection off)
// and the first and last step, 1 to 5, start not above end (the window checks this).
struct TRealTestOptions {
  int32_t SpeedDropWaitMin = 0;
  int32_t StartStep = 0;
  int32_t EndStep = 0;
};

// One test file. FileName is the full path, empty once the file was deleted in step 2; Size is
// the size written, or the size found when the list was rebuilt from the folder.
struct TTestFileInfo {
  std::string FileName;
  int64_t Size = 0;
  uint32_t Seed = 0;
  bool IsGig = false;
};
using TTestFileArray = std::vector<TTestFileInfo>;

// The sizes of the two kinds of test file. The window always uses these values; tests run the
// whole test with small files. Both must be positive multiples of 4096, since the files are
// written unbuffered. Step 3 leaves one 1 GiB file's size free.
struct TRealTestFileSizes {
  int64_t FileBytes = 524288000;      // 500 MiB
  int64_t GigFileBytes = 1073741824;  // 1 GiB
};

// What the real test needs of the main window. The test thread calls the six operations only
// through synchronized calls (they run on the main thread while the test thread waits); the
// logger and the output folder are fixed after start-up and read from the test thread.
class IRealTestWindow {
 public:
  virtual ~IRealTestWindow() = default;

  // A line of the real-test log, shown with the time; the window passes it on as an INFO line
  // of the program log.
  virtual void RealTestLog(const std::string& Line) = 0;
  // The same for the one line of a test that broke off with an error; an ERROR line of the log.
  virtual void RealTestLogError(const std::string& Line) = 0;
  // The four labels: "Status: ", "Speed: ", "Elapsed: " and "Step: " followed by Text.
  virtual void SetRealStatus(const std::string& Text) = 0;
  virtual void SetRealSpeed(const std::string& Text) = 0;
  virtual void SetRealElapsed(const std::string& Text) = 0;
  virtual void SetStepElapsed(const std::string& Text) = 0;

  // The program's log, handed to the nested TRIM runs, their planner and the bitmap reader.
  virtual TLogger* RealTestLogger() const = 0;
  // The output folder with its trailing delimiter; empty when the working folder is not
  // writable, and then no CSV is written.
  virtual std::string RealTestOutputDir() const = 0;
};

class TRealTrimTestThread : public TThread {
 public:
  static constexpr uint32_t kWriteBlockBytes = 4194304;
  static constexpr uint32_t kReadBlockBytes = 1048576;
  static constexpr uint32_t kTrimPollMs = 200;
  static constexpr uint64_t kSpeedWindowMs = 2000;

  // Created suspended, freeing itself when it ends; the window sets the termination handler and
  // starts it. Disk and options are copied; Folder gets a trailing delimiter when it lacks one.
  // Throws std::invalid_argument for file sizes that cannot be written unbuffered.
  TRealTrimTestThread(IRealTestWindow* AForm, const TDiskInfo& ADisk, const std::string& AFolder,
                      const TRealTestOptions& AStepOptions, const TTrimExecOptions& ATrimOptions, bool AVerifyOnly,
                      const TRealTestFileSizes& ASizes = TRealTestFileSizes());
  ~TRealTrimTestThread() override;

  // Any thread: only raises the flag; the test ends at its next stop check.
  void RequestStop();
  bool StopRequested() const;
  // The window is closing: the test's TRIM runs show no box from now on, the one going on
  // included (TTrimExecutionThread::SuppressBoxes). Any thread.
  void SuppressRunBoxes();

  // Main thread, while the test runs: the elapsed times at this moment ("h:mm:ss").
  std::string GetElapsedText() const;
  std::string GetStepElapsedText() const;

  // Any thread, at any time: the series, shared. The window shows it while the test runs (the
  // series has a lock of its own) and keeps it after the thread has gone.
  void GetSpeedData(TSpeedDataArray& Series) const { Series = FSpeedData; }

  // Read once the thread's work has ended (in the termination handler).
  bool Succeeded() const { return FSucceeded; }
  bool Cancelled() const { return FCancelled; }
  const std::string& ResultText() const { return FResultText; }
  // The statistics of each nested TRIM run, in order: the window learns from them whether a run
  // hung the bridge or lost the disk.
  const std::vector<TRunStats>& TrimRuns() const { return FTrimRuns; }

  const std::string& Folder() const { return FFolder; }
  static std::string FormatSpeed(uint64_t Bytes, uint64_t Ms);

 protected:
  void Execute() override;
  // Execute's work; an exception that leaves it ends the test as an error.
  void ExecuteSteps();
  void RunVerifyOnly();
  void RunFullTest();
  // A step that returns false has ended the test (an early exit: no end block).
  bool RunStep1();
  void RunStep2();
  bool RunStep3();
  void RunStep4();
  void RunStep5();
  // Ends the test as cancelled when a stop was requested.
  bool StopHere();
  // The line and result of a step that found less free space than it needs.
  std::string TooSmallText(int32_t Step, int64_t Free, int64_t Needs) const;
  // The result of a verification that found no file: the volume too small, when a step found
  // it so, else no files.
  std::string NothingVerifiedText() const;
  // A test that broke off: an ERROR line, not succeeded, the message as the result.
  void EndWithError(const std::string& Message);

  // ---- to the window (each a synchronized call) ----------------------------------------------
  void PostLog(const std::string& S);
  void PostStatus(const std::string& S);
  void SyncSpeed();
  void PostElapsed();
  void PostStepElapsed();
  void StartStepTimer();
  void ResetStepCounters();
  bool StepEnabled(int32_t Step) const;
  TLogger* Logger() const;
  std::string OutputDir() const;

  // ---- test files ----------------------------------------------------------------------------
  // Writes the whole file, its first block last. A stop or a write error removes what was
  // written (after closing Handle) and says so.
  bool WriteTestFile(const TTestFileInfo& Info);
  void RemoveUnfinishedFile(TDeviceHandle& Handle, const std::string& Path);
  bool FillWithFiles(int64_t Target, int64_t FileSize, bool IsGig);
  void DeleteEveryTenth();
  bool VerifyFileList() { return VerifyList(FFiles); }
  bool VerifyGigList() { return VerifyList(FGigFiles); }
  bool VerifyList(const TTestFileArray& List);
  // Reads the file once and tells whether it is the content of Size and Seed (another length
  // fails); false with Stopped set when a stop cut the reading or the hashing short.
  bool FileMatches(const TTestFileInfo& Info, bool& Stopped);
  std::string VerifySummary() const;
  void LoadExistingFiles();
  void LoadExistingGigFiles();
  void ScanGigIndex();
  bool EnsureTestFolder();
  bool QueryFreeSpace(int64_t& Total, int64_t& Free);
  void AddTestFile(const TTestFileInfo& Info, bool IsGig);
  // The hash of a file as read back (kMissingFileHash for a file that does not exist); throws
  // EFileError when the file exists but does not open.
  uint32_t FileHash(const std::string& Path);
  // Opens a test file for an unbuffered verification read; throws EFileError when it exists
  // but does not open.
  plat::HANDLE OpenForVerify(const std::string& Path);

  // ---- speed ---------------------------------------------------------------------------------
  void AccountBytes(int32_t N);
  void AddSpeedPoint(double Speed);
  // At the end of a step's transfers (StepBytes in StepMs, as its step line counts them): the
  // open window becomes a sample when the step has none yet (the step's average, or the
  // window's own speed when the step completed no file), or when it is at least half a window
  // long. A shorter rest is left to the samples before it: the tick count's steps would make
  // its speed up. No byte counts twice, and no sample is 0 MB/s.
  void EndStepSamples(uint64_t StepBytes, uint64_t StepMs);
  void WaitAfterSpeedDrop(int32_t Minutes);
  uint64_t ElapsedSeconds() const;
  std::string TotalElapsedText() const;
  std::string StepElapsedText() const;

  // ---- nested TRIM, flush, free-range CSV ----------------------------------------------------
  bool RunFreeSpaceTrim();
  void TrimFinished(const TRunStats& Stats);
  bool FlushTestVolume();
  void ExportFreeRangesCsv();

  // ---- file-map CSVs -------------------------------------------------------------------------
  void CreateFileMapCsvs();
  void AppendCreatedRow(const TTestFileInfo& Info, int32_t Index);
  void AppendDeletedRow(const TTestFileInfo& Info, int32_t Index);
  bool GetFileSectorSpan(const std::string& Path, uint64_t& First, uint64_t& Last);

  IRealTestWindow* FForm;
  TDiskInfo FDisk;
  std::string FFolder;
  TRealTestOptions FStepOptions;
  TTrimExecOptions FTrimOptions;
  std::atomic<int32_t> FStopFlag{0};
  bool FVerifyOnly;
  bool FTrimOk = false;
  TRunStats FRunStats;
  // The TRIM run going on, while one does, and whether its boxes are to be suppressed.
  std::mutex FRunLock;
  TTrimExecutionThread* FRun = nullptr;
  bool FRunBoxesSuppressed = false;
  int32_t FTrimStepsRun = 0;          // TRIM steps of this test, a plan that failed included
  bool FTrimmedAny = false;           // some nested run trimmed: no batch failed, or one succeeded
  bool FReformatNoticeShown = false;  // a nested run showed the reformat-as-NTFS hint
  std::vector<TRunStats> FTrimRuns;
  std::string FLogText;
  std::string FStatusText;
  std::string FSpeedText;
  std::string FElapsedText;
  std::string FStepElapsedText;
  std::atomic<uint64_t> FStepStartTick{0};  // also read by the window's timer
  TTestFileArray FFiles;
  TTestFileArray FGigFiles;
  std::string FCreatedCsv;
  std::string FDeletedCsv;
  std::atomic<uint64_t> FStartTick{0};  // also read by the window's timer
  uint64_t FStepBytesWritten = 0;
  uint64_t FStepWriteMs = 0;  // without the speed-drop waits
  uint64_t FDropWaitMs = 0;   // all speed-drop waits so far
  uint64_t FBytesRead = 0;
  uint64_t FReadMs = 0;
  int32_t FVerifyPassed = 0;
  int32_t FVerifyFailed = 0;
  uint64_t FSampleBytes = 0;
  uint64_t FSampleStartTick = 0;
  int32_t FStepSamples = 0;  // transfer samples of the current step
  double FAvgSpeed = 0;
  bool FSpeedDropCheck = false;
  int32_t FNextGigIndex = 0;
  TSpeedDataArray FSpeedData;
  std::string FStepLabel;
  bool FSucceeded = false;
  bool FCancelled = false;
  std::string FResultText;
  std::string FTooSmallText;  // the first step of the run that found too little free space

  TRealTestFileSizes FSizes;
  // The one sector-aligned buffer every write and read of a test file goes through.
  struct TAlignedFree {
    void operator()(uint8_t* P) const;
  };
  std::unique_ptr<uint8_t[], TAlignedFree> FBuffer;
  TContentCheck FCheck;
};

#include "engine/uTrimExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/TrimRunTestUtil.h"

using namespace plat;
using namespace plat::sim;

namespace {

// A run whose stages are a test's body; the frame's own end (completion on the main thread,
// self-release) follows it.
class TBodyRun : public TTestRun {
 public:
  TBodyRun(std::function<void(TBodyRun&)> Body, std::atomic<int>* Destroyed, TTrimProgressEvent OnProgress,
           TTrimDoneEvent OnDone, const TDiskInfo& Disk = RunTestDisk(), const TTrimRangeArray& Ranges = {},
           TLogger* Log = nullptr)
      : TTestRun(Disk, TRunMode::rmExecute, Log, std::move(OnProgress), std::move(OnDone), Ranges),
        FBody(std::move(Body)),
        FDestroyed(Destroyed) {}
  ~TBodyRun() override {
    if (FDestroyed) FDestroyed->fetch_add(1);
  }
  using TTrimExecutionThread::IsCancelRequested;

 protected:
  void Execute() override {
    FBody(*this);
    TTrimExecutionThread::Execute();
  }

 private:
  std::function<void(TBodyRun&)> FBody;
  std::atomic<int>* FDestroyed;
};

struct ExecutorTest : ::testing::Test, TRunFixture {};

TEST_F(ExecutorTest, ProgressAndCompletionRunOnTheMainThreadAndTheRunFreesItself) {
  struct Progress {
    uint32_t done, total;
    std::string text;
  };
  std::vector<Progress> progress;
  int doneCalls = 0;
  std::atomic<int> destroyed{0};
  auto* run = new TBodyRun(
      [](TBodyRun& r) {
        r.FStats.PlannedBatches = 5;
        r.ReportProgress(1, 5, "batch 1");
        r.ReportProgress(2, 99, "batch 2");  // the handler is given the planned count
      },
      &destroyed,
      [&](uint32_t d, uint32_t t, const std::string& text) {
        EXPECT_TRUE(MainThread().IsMainThread());
        progress.push_back({d, t, text});
      },
      [&](const TRunStats& s) {
        EXPECT_TRUE(MainThread().IsMainThread());
        EXPECT_EQ(s.Disk.DevicePath, "\\\\.\\PhysicalDrive3");
        EXPECT_EQ(destroyed.load(), 0);  // the handler runs before the object can go
        doneCalls++;
      });
  TThreadLink link = run->Link();
  run->Start();
  ASSERT_TRUE(link.WaitFor());
  ASSERT_EQ(progress.size(), 2u);
  EXPECT_EQ(progress[0].done, 1u);
  EXPECT_EQ(progress[0].total, 5u);
  EXPECT_EQ(progress[0].text, "batch 1");
  EXPECT_EQ(progress[1].done, 2u);
  EXPECT_EQ(progress[1].total, 5u);
  EXPECT_EQ(doneCalls, 1);
  EXPECT_EQ(destroyed.load(), 1);
}

TEST_F(ExecutorTest, WithoutHandlersTheCallsStillRunAndDoNothing) {
  std::atomic<int> destroyed{0};
  auto* run = new TBodyRun([](TBodyRun& r) { r.ReportProgress(1, 1, "x"); }, &destroyed, nullptr, nullptr);
  TThreadLink link = run->Link();
  run->Start();
  ASSERT_TRUE(link.WaitFor());
  EXPECT_EQ(destroyed.load(), 1);
}

TEST_F(ExecutorTest, QuestionsAndNoticesAreTopMostBoxesWithoutOwner) {
  m->Desktop().ScriptAnswers({IDOK, IDCANCEL, 0, IDOK});
  std::vector<bool> answers;
  auto* run = new TBodyRun(
      [&](TBodyRun& r) {
        answers.push_back(r.AskQuestion("Caption 1", "Go on?"));
        answers.push_back(r.AskQuestion("Caption 2", "Escape?"));     // IDCANCEL: declined
        answers.push_back(r.AskQuestion("Caption 3", "Failed box"));  // 0: declined
        r.ShowInfo("Notice", "Drive left the bus");
      },
      nullptr, nullptr, nullptr);
  TThreadLink link = run->Link();
  run->Start();
  ASSERT_TRUE(link.WaitFor());
  EXPECT_EQ(answers, (std::vector<bool>{true, false, false}));
  auto boxes = m->Desktop().Boxes();
  ASSERT_EQ(boxes.size(), 4u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(boxes[i].owner, nullptr);
    EXPECT_EQ(boxes[i].type, 0x50021u);
    EXPECT_EQ(boxes[i].threadId, MainThread().MainThreadId());
  }
  EXPECT_EQ(boxes[0].caption, "Caption 1");
  EXPECT_EQ(boxes[0].text, "Go on?");
  EXPECT_EQ(boxes[3].type, 0x50040u);
  EXPECT_EQ(boxes[3].caption, "Notice");
  EXPECT_EQ(boxes[3].text, "Drive left the bus");
}

// The window that would own them is closing: a question counts as declined and a notice is not
// shown, each with a line of the log instead.
TEST_F(ExecutorTest, SuppressedBoxesAreDeclinedOrLoggedWithoutABox) {
  std::vector<bool> answers;
  auto* run = new TBodyRun(
      [&](TBodyRun& r) {
        r.SuppressBoxes();
        answers.push_back(r.AskQuestion("Caption", "Go on?"));
        r.ShowInfo("Notice", "Drive left the bus");
      },
      nullptr, nullptr, nullptr, RunTestDisk(), {}, &log);
  TThreadLink link = run->Link();
  run->Start();
  ASSERT_TRUE(link.WaitFor());
  EXPECT_EQ(answers, std::vector<bool>{false});
  EXPECT_TRUE(m->Desktop().Boxes().empty());
  const auto lines = LogLines();
  for (const char* line : {"[WARN] Question not asked, the window was closed: taken as declined",
                           "[INFO] Notice not shown, the window was closed"})
    EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
}

TEST_F(ExecutorTest, CancelFromAnyThreadBeforeStartAndRepeated) {
  TBodyRun run([](TBodyRun&) {}, nullptr, nullptr, nullptr);
  EXPECT_FALSE(run.IsCancelRequested());
  std::vector<std::thread> callers;
  for (int i = 0; i < 4; ++i)
    callers.emplace_back([&run] {
      for (int k = 0; k < 100; ++k) run.RequestCancel();
    });
  for (int k = 0; k < 100; ++k) (void)run.IsCancelRequested();
  for (auto& t : callers) t.join();
  EXPECT_TRUE(run.IsCancelRequested());
  EXPECT_TRUE(run.IsCancelRequested());  // reading never clears it
  // Never started: freeing it frees the engine with it (AddressSanitizer checks).
}

TEST_F(ExecutorTest, TheRunKeepsItsOwnCopiesOfDiskAndRanges) {
  TDiskInfo disk = RunTestDisk(4);
  TVolumeInfo v;
  v.DriveLetter = "E:";
  disk.Volumes.push_back(v);
  TTrimRangeArray ranges = {{100, 8}, {200, 8}};
  TBodyRun run([](TBodyRun&) {}, nullptr, nullptr, nullptr, disk, ranges);
  disk.DevicePath = "changed";
  disk.Volumes[0].DriveLetter = "Z:";
  ranges[0].StartLba = 999;
  ranges.clear();
  EXPECT_EQ(run.FDisk.DevicePath, "\\\\.\\PhysicalDrive4");
  ASSERT_EQ(run.FDisk.Volumes.size(), 1u);
  EXPECT_EQ(run.FDisk.Volumes[0].DriveLetter, "E:");
  ASSERT_EQ(run.FRanges.size(), 2u);
  EXPECT_EQ(run.FRanges[0].StartLba, 100u);
}

// The window's shutdown: take the run back while it works, cancel it, wait, free it.
TEST_F(ExecutorTest, OwnerTakesTheRunBackCancelsAndWaits) {
  std::atomic<int> destroyed{0};
  int doneCalls = 0;
  auto* run = new TBodyRun(
      [](TBodyRun& r) {
        while (!r.IsCancelRequested()) Win().Sleep(200);
      },
      &destroyed, nullptr, [&](const TRunStats&) { doneCalls++; });
  run->Start();
  Win().Sleep(1000);
  ASSERT_TRUE(run->TakeBack());
  run->RequestCancel();
  ASSERT_TRUE(run->WaitFor());
  EXPECT_EQ(doneCalls, 1);  // delivered while the owner waited
  EXPECT_EQ(destroyed.load(), 0);
  delete run;
  EXPECT_EQ(destroyed.load(), 1);
}

}  // namespace

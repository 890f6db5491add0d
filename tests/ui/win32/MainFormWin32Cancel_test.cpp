// Under wine inside Xvfb: Cancel clicked through the input queue while a run streams its log
// lines and progress to the window. The click is taken before the run's waiting traffic, and
// the run ends with the batch that was in flight.
#include "MainFormWin32Fixture.h"

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "core/uFileWrite.h"
#include "core/uLogger.h"
#include "ui/toolkit/win32/Win32Backend.h"

namespace mainwin32 {
namespace {

using tk::TControl;

// The lines of the run's log file, without their line ends.
std::vector<std::string> LogFileLines(plat::sim::SimMachine& M) {
  std::string dir;
  plat::Win().GetCurrentDirectoryW(&dir);
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  plat::FIND_DATA found;
  plat::HANDLE h = plat::Win().FindFirstFileW(dir + "logs\\run_*.log", &found);
  if (!plat::IsValidHandle(h)) return {};
  plat::Win().FindClose(h);
  const std::string bytes = M.VolumeFiles().ReadAll(dir + "logs\\" + found.cFileName);
  std::vector<std::string> lines;
  for (size_t at = 0; at < bytes.size();) {
    const size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) break;  // a line still being written
    lines.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

bool Has(const std::string& Line, const std::string& Piece) { return Line.find(Piece) != std::string::npos; }

// How many of the lines from First to Last hold Piece.
template <typename It>
long Holding(It First, It Last, const std::string& Piece) {
  return static_cast<long>(std::count_if(First, Last, [&](const std::string& l) { return Has(l, Piece); }));
}

const std::string kBatchStart = "Trying ATA Pass-Through config";
const std::string kCancelLine = "[WARN] Cancel requested by user";

// The centre of a window on the screen.
POINT Centre(HWND W) {
  RECT r;
  GetWindowRect(W, &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// The mouse moved to a point of the screen, through the input queue.
void MoveTheMouse(POINT At) {
  INPUT in = {};
  in.type = INPUT_MOUSE;
  in.mi.dx = MulDiv(At.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
  in.mi.dy = MulDiv(At.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
  in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &in, sizeof(INPUT));
}

// A left click where the mouse is, as the mouse makes it: through the input queue.
void ClickWithTheMouse() {
  INPUT in[2] = {};
  for (INPUT& i : in) i.type = INPUT_MOUSE;
  in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, in, sizeof(INPUT));
}

// The window over a working folder it can write to, so that the run has its log file.
class MainFormWin32CancelTest : public MainFormWin32Test {
 protected:
  void BeforeWindow() override {
    std::string dir;
    plat::Win().GetCurrentDirectoryW(&dir);
    ForceDirectories(dir);
  }
};

TEST_F(MainFormWin32CancelTest, ACancelClickIsTakenBeforeTheRunsWaitingTrafficAndNoBatchStartsAfterIt) {
  TMainForm& f = *form_;
  machine_->Desktop().SetBoxHandler([](const plat::sim::MessageBoxCall& c) {
    return (c.type & 0xF) == MB_YESNO ? IDYES : IDOK;  // the confirmation, then OK to the rest
  });
  // One range per batch: a thousand short batches, each with its log line and its progress.
  f.SpBatch->SetValue(1);
  // Each ATA command takes 5 ms, so that the run lasts seconds also when the machine is fast.
  plat::sim::SimFault slow;
  slow.command = plat::sim::SimCommand::AtaDsm;
  slow.kind = plat::sim::SimFaultKind::Delay;
  slow.delayMs = 5;
  machine_->Bridge().AddFault(1, slow);

  // The disk number goes into the input dialog as the user types it.
  tk::TTimer* typer = f.AddTimer();
  typer->OnTimer = [typer](tk::TTimer*) {
    HWND dlg = FindWindowW(tk::win32::InputDialogClass(), nullptr);
    if (!dlg || !IsWindowVisible(dlg)) return;
    SetWindowTextW(FindWindowExW(dlg, nullptr, L"Edit", nullptr), L"1");
    SendMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
    typer->SetEnabled(false);
  };
  typer->SetInterval(20);
  typer->SetEnabled(true);

  // Once 40 batches have started, a worker logs some lines, whose hand-over to the window then
  // waits in the main thread's queue with the run's own, and the mouse clicks Cancel.
  constexpr long kWaiting = 20;
  const std::string waitingLine = "[INFO] Waiting for the window when Cancel is clicked, line ";
  bool sent = false, clicked = false;
  std::string coveredBy;  // the window under the button's centre while it was not the button
  long stillWaitingAtClick = 0;
  tk::TTimer* clicker = f.AddTimer();
  clicker->OnTimer = [&](tk::TTimer*) {
    const std::vector<std::string> file = LogFileLines(*machine_);
    if (Holding(file.begin(), file.end(), kBatchStart) < 40) return;
    // Other tests' windows share the display: ours goes on top, and the mouse clicks only
    // where the button is the window under it.
    SetWindowPos(Wnd(&f), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    const POINT at = Centre(Wnd(f.BtnCancel));
    if (HWND under = WindowFromPoint(at); under != Wnd(f.BtnCancel)) {
      coveredBy = ClassOf(under);
      return;
    }
    if (POINT p; !GetCursorPos(&p) || p.x != at.x || p.y != at.y) {
      MoveTheMouse(at);  // click once it rests there
      return;
    }
    clicker->SetEnabled(false);
    std::thread worker([&] {
      for (int i = 0; i < kWaiting; i++) f.Logger()->Info(waitingLine.substr(7) + std::to_string(i));
    });
    worker.join();
    sent = true;
    ClickWithTheMouse();
  };
  clicker->SetInterval(10);
  auto cancel = f.BtnCancel->OnClick;
  f.BtnCancel->OnClick = [&, cancel](TControl* Sender) {
    const auto& memo = f.MemoLog->Lines();
    stillWaitingAtClick = kWaiting - Holding(memo.begin(), memo.end(), waitingLine);
    clicked = true;
    cancel(Sender);
  };

  // The first mouse input on a display whose desktop has just come up can be lost before it
  // reaches any window: a click on Clear Log, repeated until it is taken, opens the way. Then
  // the mouse rests on Cancel: under wine a motion event of the X server can come late, and one
  // from elsewhere between the button's press and release would take the press back.
  SetWindowPos(Wnd(&f), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  auto clearLog = f.BtnClearLog->OnClick;
  bool primed = false;
  f.BtnClearLog->OnClick = [&](TControl*) { primed = true; };
  for (int attempt = 0; attempt < 20 && !primed; attempt++) {
    MoveTheMouse(Centre(Wnd(f.BtnClearLog)));
    ClickWithTheMouse();
    PumpUntil([&] { return primed; }, 500);
  }
  ASSERT_TRUE(primed) << "no mouse click reached the window";
  f.BtnClearLog->OnClick = clearLog;
  const POINT onCancel = Centre(Wnd(f.BtnCancel));
  MoveTheMouse(onCancel);
  ASSERT_TRUE(PumpUntil([&] {
    POINT p;
    return GetCursorPos(&p) && p.x == onCancel.x && p.y == onCancel.y;
  })) << "the mouse did not reach Cancel";
  PumpUntil([] { return false; }, 200);

  SendMessageW(Wnd(f.BtnStart), BM_CLICK, 0, 0);  // returns once the run has started
  ASSERT_FALSE(f.BtnStart->Enabled()) << "the run did not start";
  clicker->SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return f.BtnStart->Enabled(); }, 60000)) << "the run did not end";
  ASSERT_TRUE(sent) << "the run ended before the click; the button was under " << coveredBy;
  ASSERT_TRUE(clicked) << "the click was never handled";

  // Taken before any of the calls that waited when the mouse clicked; they all came after it.
  EXPECT_EQ(stillWaitingAtClick, kWaiting);
  const auto& memo = f.MemoLog->Lines();
  const auto warn =
      std::find_if(memo.begin(), memo.end(), [](const std::string& l) { return Has(l, kCancelLine); });
  EXPECT_EQ(Holding(warn, memo.end(), waitingLine), kWaiting);
  // In the file's true order: no batch started after the cancel, and the run stopped there.
  const std::vector<std::string> file = LogFileLines(*machine_);
  const auto at = std::find_if(file.begin(), file.end(), [](const std::string& l) { return Has(l, kCancelLine); });
  ASSERT_NE(at, file.end());
  const long started = Holding(file.begin(), at, kBatchStart);
  EXPECT_EQ(Holding(at, file.end(), kBatchStart), 0);
  // The batch in flight at the cancel either completed or failed with it.
  const auto done =
      std::find_if(file.begin(), file.end(), [](const std::string& l) { return Has(l, "Run completed:"); });
  ASSERT_NE(done, file.end());
  const size_t n = done->find("done=");
  ASSERT_NE(n, std::string::npos) << *done;
  const long doneBatches = std::stol(done->substr(n + 5));
  EXPECT_TRUE(doneBatches == started || doneBatches == started - 1) << *done << " after " << started << " started";
}

}  // namespace
}  // namespace mainwin32

// The thread base: creation through the platform, the run, and the one release decision.
#include "core/uThread.h"

#include <mutex>
#include <stdexcept>

using namespace plat;

// Shared by the object, its running thread (for the thread's whole life) and every link, so the
// handle and the release decision stay readable after the object has gone.
struct TThreadControl {
  std::mutex Lock;
  TThread* Obj = nullptr;
  HANDLE Handle = nullptr;
  DWORD ThreadId = 0;
  bool Started = false;
  bool AbortStart = false;  // deleted before it was started: the thread runs nothing
  bool FreeOnTerminate = false;
  bool Decided = false;  // the thread has made its release decision and no longer uses Obj
  std::atomic<bool> Finished{false};

  ~TThreadControl() {
    if (Handle && HasPlatform()) Win().CloseHandle(Handle);
  }
};

bool TThreadLink::TakeBack() const {
  if (!FControl) return false;
  std::lock_guard<std::mutex> lk(FControl->Lock);
  if (FControl->Decided && FControl->FreeOnTerminate) return false;
  FControl->FreeOnTerminate = false;
  return true;
}

bool TThreadLink::Finished() const { return FControl && FControl->Finished.load(); }

bool TThreadLink::WaitFor() const {
  if (!FControl) return false;
  {
    std::lock_guard<std::mutex> lk(FControl->Lock);
    if (!FControl->Started || FControl->AbortStart) return false;
  }
  if (Win().GetCurrentThreadId() == FControl->ThreadId) return false;  // would wait for ever
  const DWORD r = HasMainThread() ? MainThread().WaitForThread(FControl->Handle, INFINITE)
                                  : Win().WaitForSingleObject(FControl->Handle, INFINITE);
  return r == WAIT_OBJECT_0;
}

HANDLE TThreadLink::Handle() const { return FControl ? FControl->Handle : nullptr; }

TThread::TThread(size_t StackSize) : FControl(std::make_shared<TThreadControl>()) {
  FControl->Obj = this;
  // The new thread holds its own reference to the control block from its first instruction.
  auto* param = new std::shared_ptr<TThreadControl>(FControl);
  HANDLE h = Win().CreateThread(StackSize, &TThread::ThreadProc, param,
                                CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &FThreadID);
  if (!h) {
    const DWORD err = Win().GetLastError();
    delete param;
    throw std::runtime_error("CreateThread failed (winerr=" + std::to_string(err) + ")");
  }
  FControl->Handle = h;
  FControl->ThreadId = FThreadID;
}

TThread::~TThread() {
  bool neverStarted;
  bool running;
  {
    std::lock_guard<std::mutex> lk(FControl->Lock);
    neverStarted = !FControl->Started;
    running = FControl->Started && !FControl->Decided;
    if (neverStarted) FControl->AbortStart = true;
    if (running) FControl->FreeOnTerminate = false;  // we free it; the thread must not as well
    FControl->Obj = nullptr;
  }
  if (neverStarted) {
    // Let the suspended thread run out; it sees AbortStart and touches nothing of ours.
    Win().ResumeThread(FControl->Handle);
    Win().WaitForSingleObject(FControl->Handle, INFINITE);
  } else if (running) {
    Terminate();
    Link().WaitFor();
  }
}

void TThread::Start() {
  {
    std::lock_guard<std::mutex> lk(FControl->Lock);
    if (FControl->Started || FControl->AbortStart) return;
    FControl->Started = true;
  }
  Win().ResumeThread(FControl->Handle);
}

bool TThread::Finished() const { return FControl->Finished.load(); }

void TThread::SetFreeOnTerminate(bool Value) {
  {
    std::lock_guard<std::mutex> lk(FControl->Lock);
    if (!FControl->Started) {
      FControl->FreeOnTerminate = Value;
      return;
    }
  }
  if (Value)
    Abandon();
  else
    TakeBack();
}

bool TThread::FreeOnTerminate() const {
  std::lock_guard<std::mutex> lk(FControl->Lock);
  return FControl->FreeOnTerminate;
}

bool TThread::TakeBack() { return Link().TakeBack(); }

void TThread::Abandon() {
  bool freeNow;
  {
    std::lock_guard<std::mutex> lk(FControl->Lock);
    // Ended already (with self-release off, or it would be gone) or never started: nobody else
    // will free it.
    freeNow = FControl->Decided || !FControl->Started;
    if (!freeNow) FControl->FreeOnTerminate = true;
  }
  if (freeNow) delete this;
}

HANDLE TThread::Handle() const { return FControl->Handle; }

DWORD TThread::ThreadProc(void* Param) {
  std::shared_ptr<TThreadControl> ctl = std::move(*static_cast<std::shared_ptr<TThreadControl>*>(Param));
  delete static_cast<std::shared_ptr<TThreadControl>*>(Param);
  TThread* self;
  {
    std::lock_guard<std::mutex> lk(ctl->Lock);
    if (ctl->AbortStart) return 0;
    self = ctl->Obj;
  }
  self->Run();
  bool freeSelf;
  {
    std::lock_guard<std::mutex> lk(ctl->Lock);
    ctl->Decided = true;
    freeSelf = ctl->FreeOnTerminate;
  }
  // From here on the object belongs to its owner, or to nobody but this line.
  if (freeSelf) delete self;
  return 0;
}

void TThread::Run() {
  try {
    Execute();
  } catch (const std::exception& e) {
    FHasFatalException = true;
    FFatalException = e.what();
  } catch (...) {
    FHasFatalException = true;
    FFatalException = "unknown exception";
  }
  FControl->Finished.store(true);
  if (FOnTerminate) {
    try {
      Synchronize([this] { FOnTerminate(this); });
    } catch (...) {
      // The handler's failure must not keep the thread from its release.
    }
  }
}

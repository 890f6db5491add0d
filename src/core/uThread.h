// The thread base every worker of the program derives from.
//
// A TThread is created suspended through the platform (so the stack size holds and the simulated
// machine knows the thread), started with Start, and runs Execute once. When Execute has
// returned (an exception escaping it is caught and kept), Finished is set, OnTerminate runs on
// the main thread through Synchronize, and then the thread decides, once and for good, who
// frees the object:
//   FreeOnTerminate on   the thread deletes the object itself;
//   FreeOnTerminate off  the owner does, after WaitFor.
// The decision and every change of the flag after Start are made under one lock of a small
// control block that the object, its thread and any TThreadLink share, so an owner taking the
// object back and the thread ending can meet in any order: the object is deleted exactly once.
//
// Owners:
//   - An owner that knows the object is alive (it holds the pointer on the main thread and clears
//     it in OnTerminate or in a completion handler the thread synchronizes before it ends) may
//     call TakeBack on the object; it always succeeds, since the decision comes only after those
//     handlers have returned.
//   - Any other owner keeps a TThreadLink from before the start and calls TakeBack on the link:
//     true means the owner now owns the object (WaitFor, then delete); false means the object
//     frees itself and must not be touched again (the link can still wait for its thread).
//   - An owner that gives up on a worker it still owns (a time-out) calls Abandon: the worker
//     frees itself when it ends, or at once when it has ended already.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "core/uMainThread.h"

class TThread;
struct TThreadControl;

using TThreadNotifyEvent = std::function<void(TThread* Sender)>;

// Outlives the object it was taken from: the owner's way to take a thread back, or to wait for
// its end, without touching an object that may have freed itself.
class TThreadLink {
 public:
  TThreadLink() = default;
  explicit operator bool() const { return FControl != nullptr; }

  // True: self-release is off for good and the caller owns the object. False: the thread has
  // already committed to freeing the object itself.
  bool TakeBack() const;
  bool Finished() const;
  // Waits until the thread has ended (on the main thread while serving calls); false when it
  // was never started, when called from the thread itself, or when the wait failed.
  bool WaitFor() const;
  plat::HANDLE Handle() const;

 private:
  friend class TThread;
  explicit TThreadLink(std::shared_ptr<TThreadControl> Control) : FControl(std::move(Control)) {}
  std::shared_ptr<TThreadControl> FControl;
};

class TThread {
 public:
  // The stack every thread of the program asks for.
  static constexpr size_t DefaultStackSize = 4194304;

  // Creates the thread suspended; throws std::runtime_error when Windows refuses.
  explicit TThread(size_t StackSize = DefaultStackSize);
  // The owner deletes only a thread it owns, after WaitFor (or one never started). Deleting a
  // running thread sets Terminated and waits for it, but the derived part is gone by then.
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  void Terminate() { FTerminated.store(true); }
  bool Terminated() const { return FTerminated.load(); }
  bool Finished() const;

  // Before Start this just sets the flag. After Start, false is TakeBack and true is Abandon.
  void SetFreeOnTerminate(bool Value);
  bool FreeOnTerminate() const;
  bool TakeBack();
  void Abandon();
  TThreadLink Link() const { return TThreadLink(FControl); }

  // Set before Start; runs on the main thread after Execute, before any self-release.
  void SetOnTerminate(TThreadNotifyEvent Handler) { FOnTerminate = std::move(Handler); }

  bool WaitFor() { return Link().WaitFor(); }
  plat::HANDLE Handle() const;
  plat::DWORD ThreadID() const { return FThreadID; }

  // What escaped Execute, if anything; read once Finished (or in OnTerminate).
  bool HasFatalException() const { return FHasFatalException; }
  const std::string& FatalException() const { return FFatalException; }

 protected:
  virtual void Execute() = 0;
  void Synchronize(std::function<void()> Fn) { MainThread().Synchronize(std::move(Fn)); }
  void Queue(std::function<void()> Fn) { MainThread().Queue(std::move(Fn)); }

 private:
  static plat::DWORD ThreadProc(void* Param);
  void Run();

  std::shared_ptr<TThreadControl> FControl;
  std::atomic<bool> FTerminated{false};
  TThreadNotifyEvent FOnTerminate;
  bool FHasFatalException = false;
  std::string FFatalException;
  plat::DWORD FThreadID = 0;
};

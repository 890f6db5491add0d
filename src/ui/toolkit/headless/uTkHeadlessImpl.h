// The headless backend's inside, shared by its two source files (not for tests).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "platform/PlatformTypes.h"
#include "ui/toolkit/headless/uTkHeadless.h"

namespace tk::headless {

struct THeadlessBackend::Impl {
  Impl();
  ~Impl();

  // A deferred call (Fn set) or a message posted to a hidden window.
  struct TPosted {
    uint64_t Seq = 0;  // the order of posting
    std::function<void()> Fn;
    void* Wnd = nullptr;
    uint32_t Msg = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
  };
  struct TTimerRec {
    TTimer* Timer = nullptr;
    unsigned Interval = 0;
    uint64_t Due = 0;  // on the platform's tick count
  };

  void* NewHandle();
  void Post(TPosted Item);
  // One round of what waits now: synchronized calls, posted items, due timers, repaints. True
  // when anything ran; Held is set (and the round ends) as soon as Cond holds.
  bool Round(const std::function<bool()>& Cond, bool& Held);
  // Rounds until Cond holds (true) or, once nothing waits, Deadline has passed (false); waits
  // through the platform for the next timer, a posted item or a synchronized call in between.
  bool Loop(uint64_t Deadline, const std::function<bool()>& Cond);
  uint64_t NextDue() const;
  void Paint(TPaintBox& Box);
  [[noreturn]] static void NoAnswerer(const char* What, const std::string& Caption);

  // Other threads post messages and synchronized calls; the rest is main-thread only.
  std::mutex Lock;
  std::deque<TPosted> Posted;          // under Lock
  uint64_t NextSeq = 0;                // under Lock
  std::map<void*, TWndProc> Windows;   // hidden windows, under Lock
  plat::HANDLE PostedEvent = nullptr;  // manual reset; signalled while Posted is not empty
  std::atomic<uintptr_t> NextToken{0x10000};

  std::map<int, TTimerRec> Timers;
  int NextTimerId = 1;
  std::vector<TControl*> Forms;  // live forms, oldest first
  std::vector<TControl*> Dirty;  // paint boxes waiting for their repaint
  std::map<const TControl*, std::vector<TDrawCall>> Paints;
  IAnswerer* Answerer = nullptr;
};

}  // namespace tk::headless

// The headless message loop, on the installed platform's clock.
//
// A round serves, in this order, what waits at its start: the main-thread dispatcher's calls,
// the posted items (deferred calls and window messages, in the order they were posted), the due
// timers (earliest deadline first) and the repaints of shown paint boxes. Whatever a round adds
// waits for the next one, so a deferred call runs after the message that posted it. Between
// rounds the loop waits in WaitForMultipleObjects on the posted items' event and the
// dispatcher's wake event, for at most the time to the next timer or the loop's end; on the
// simulated machine that is where virtual time moves.
#include <algorithm>

#include "core/uMainThread.h"
#include "platform/Platform.h"
#include "ui/toolkit/headless/uTkHeadlessImpl.h"

namespace tk::headless {

using plat::Win;

bool THeadlessBackend::Impl::Round(const std::function<bool()>& Cond, bool& Held) {
  auto held = [&] { return Held = Cond && Cond(); };
  bool any = false;

  if (HasMainThread() && MainThread().CheckSynchronize()) {
    any = true;
    if (held()) return any;
  }

  // Taken one at a time, so a nested loop (a box answered while a handler runs) serves what
  // still waits, as a modal loop does.
  uint64_t limit;
  {
    std::lock_guard<std::mutex> lk(Lock);
    limit = NextSeq;
  }
  for (;;) {
    TPosted item;
    TWndProc proc;
    {
      std::lock_guard<std::mutex> lk(Lock);
      if (Posted.empty()) Win().ResetEvent(PostedEvent);
      if (Posted.empty() || Posted.front().Seq >= limit) break;
      item = std::move(Posted.front());
      Posted.pop_front();
      if (!item.Fn) {
        auto it = Windows.find(item.Wnd);
        if (it != Windows.end()) proc = it->second;
      }
    }
    if (item.Fn) item.Fn();
    if (proc) proc(item.Wnd, item.Msg, item.WParam, item.LParam);
    any = true;
    if (held()) return any;
  }

  const uint64_t tick = Win().GetTickCount64();
  for (;;) {
    auto due = Timers.end();
    for (auto it = Timers.begin(); it != Timers.end(); ++it)
      if (it->second.Due <= tick && (due == Timers.end() || it->second.Due < due->second.Due)) due = it;
    if (due == Timers.end()) break;
    // Rearmed before the handler runs, which may stop or restart it.
    due->second.Due = tick + due->second.Interval;
    due->second.Timer->Fire();
    any = true;
    if (held()) return any;
  }

  std::vector<TControl*> dirty;
  dirty.swap(Dirty);
  for (size_t i = 0; i < dirty.size(); ++i) {
    auto* box = static_cast<TPaintBox*>(dirty[i]);
    // A hidden box is painted once it shows.
    if (!box->Showing()) {
      Dirty.push_back(box);
      continue;
    }
    Paint(*box);
    any = true;
    if (held()) {
      Dirty.insert(Dirty.end(), dirty.begin() + i + 1, dirty.end());
      return any;
    }
  }
  return any;
}

uint64_t THeadlessBackend::Impl::NextDue() const {
  uint64_t next = UINT64_MAX;
  for (auto& [id, t] : Timers) next = std::min(next, t.Due);
  return next;
}

bool THeadlessBackend::Impl::Loop(uint64_t Deadline, const std::function<bool()>& Cond) {
  for (;;) {
    if (Cond && Cond()) return true;
    bool held = false;
    if (Round(Cond, held)) {
      if (held) return true;
      continue;
    }
    const uint64_t now = Win().GetTickCount64();
    if (now >= Deadline) return false;
    const uint64_t until = std::min(Deadline, NextDue());
    const plat::DWORD ms = until == UINT64_MAX ? plat::INFINITE : static_cast<plat::DWORD>(until - now);
    plat::HANDLE handles[2] = {PostedEvent, HasMainThread() ? MainThread().WakeEvent() : nullptr};
    Win().WaitForMultipleObjects(handles[1] ? 2 : 1, handles, plat::FALSE_, ms);
  }
}

// ---- timers ----

int THeadlessBackend::StartTimer(TTimer& Timer, unsigned IntervalMs) {
  const int id = FImpl->NextTimerId++;
  FImpl->Timers[id] = {&Timer, IntervalMs, Win().GetTickCount64() + IntervalMs};
  return id;
}

void THeadlessBackend::StopTimer(int Id) { FImpl->Timers.erase(Id); }

// ---- the loop ----

void THeadlessBackend::Run(TForm& Main) {
  Main.Show();
  FImpl->Loop(UINT64_MAX, [&] { return Main.Closed(); });
}

void THeadlessBackend::Impl::Post(TPosted Item) {
  {
    std::lock_guard<std::mutex> lk(Lock);
    Item.Seq = NextSeq++;
    Posted.push_back(std::move(Item));
  }
  Win().SetEvent(PostedEvent);
}

void THeadlessBackend::PostDeferred(std::function<void()> Fn) {
  Impl::TPosted item;
  item.Fn = std::move(Fn);
  FImpl->Post(std::move(item));
}

void THeadlessBackend::ProcessMessages() {
  bool held = false;
  FImpl->Round(nullptr, held);
}

void THeadlessBackend::FormClosed(TForm&) {
  // The loops look at Closed() after every message.
}

void THeadlessBackend::RunFor(unsigned Ms) { FImpl->Loop(Win().GetTickCount64() + Ms, nullptr); }

bool THeadlessBackend::RunUntil(const std::function<bool()>& Condition, unsigned LimitMs) {
  return FImpl->Loop(Win().GetTickCount64() + LimitMs, Condition);
}

}  // namespace tk::headless

// Shared by the thread tests: a machine with a main thread, and a thread that runs a lambda.
#pragma once

#include <atomic>
#include <functional>

#include "core/uThread.h"
#include "platform/sim/SimMachine.h"

// The machine shuts down first, while the dispatcher is still installed, so threads it releases
// at the end still find their main thread (and have their calls dropped).
struct TThreadFixture {
  plat::sim::ScopedSimMachine m;
  TScopedMainThread main;
  ~TThreadFixture() { m->Shutdown(); }
};

class TLambdaThread : public TThread {
 public:
  explicit TLambdaThread(std::function<void(TLambdaThread&)> Body, std::atomic<int>* Destroyed = nullptr,
                         size_t StackSize = DefaultStackSize)
      : TThread(StackSize), FBody(std::move(Body)), FDestroyed(Destroyed) {}
  ~TLambdaThread() override {
    if (FDestroyed) FDestroyed->fetch_add(1);
  }
  using TThread::Queue;
  using TThread::Synchronize;

 protected:
  void Execute() override { FBody(*this); }

 private:
  std::function<void(TLambdaThread&)> FBody;
  std::atomic<int>* FDestroyed;
};

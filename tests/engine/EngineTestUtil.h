// A log whose lines a test reads back, on a simulated machine with a main thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/uLogger.h"
#include "core/uMainThread.h"
#include "platform/sim/SimMachine.h"

class TRecordedLog {
 public:
  TRecordedLog() : FPrev(InstallMainThread(&FDisp)), FLog(std::make_unique<TLogger>("")) {
    FLog->DisableFileOutput();
    FLog->SetOnLog([this](const std::string& L) { FLines.push_back(L); });
  }
  ~TRecordedLog() {
    FLog.reset();
    InstallMainThread(FPrev);
  }
  TLogger* Log() { return FLog.get(); }
  // Whether a line holds every one of the given pieces.
  bool Has(std::initializer_list<std::string> Pieces) const {
    for (const std::string& L : FLines) {
      bool All = true;
      for (const std::string& P : Pieces) All = All && L.find(P) != std::string::npos;
      if (All) return true;
    }
    return false;
  }
  const std::vector<std::string>& Lines() const { return FLines; }

 private:
  TMainThreadDispatcher FDisp;
  TMainThreadDispatcher* FPrev;
  std::unique_ptr<TLogger> FLog;
  std::vector<std::string> FLines;
};

// A log that keeps its lines (level tag and message, without the time stamp) for assertions.
// Lines reach the handler on the main thread, so the capture makes its creator the main thread;
// it needs an installed platform.
#pragma once

#include <string>
#include <vector>

#include "core/uLogger.h"
#include "core/uMainThread.h"

namespace devtest {

class LogCapture {
 public:
  LogCapture() : Log("") {
    Log.DisableFileOutput();
    Log.SetOnLog([this](const std::string& Line) {
      const size_t Tag = Line.find(" [");
      Lines.push_back(Tag == std::string::npos ? Line : Line.substr(Tag + 1));
    });
  }
  TScopedMainThread Main;
  TLogger Log;
  std::vector<std::string> Lines;
};

}  // namespace devtest

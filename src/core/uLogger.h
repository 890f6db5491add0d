// The program's one log: each line to the log file and to the window's log view, under one
// lock; worker lines reach the window through a queued call to the main thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Platform.h"

// The window's line handler; always called on the main thread with the whole line (no line end).
using TLogLineEvent = std::function<void(const std::string& line)>;

class TLogger {
 public:
  explicit TLogger(const std::string& AFileName);
  ~TLogger();
  TLogger(const TLogger&) = delete;
  TLogger& operator=(const TLogger&) = delete;

  void DisableFileOutput();
  void SetOnLog(TLogLineEvent Handler);
  void SetSuppressInfo(bool Value);

  void Info(const std::string& Msg);
  void Warn(const std::string& Msg);
  void Error(const std::string& Msg);

  void LogApiCall(const std::string& ApiName, const std::string& Params, bool Ok, uint32_t WinErr,
                  uint64_t ElapsedMs);
  void LogApiCallEx(const std::string& ApiName, const std::string& Params, bool Ok, uint32_t WinErr,
                    uint64_t ElapsedMs, bool WarnOnFailure);

  static std::string FormatTimestamp();

 private:
  // The part of the log that a queued flush still reaches, so a flush that runs after the
  // logger is gone finds no handler and does nothing.
  struct TShared {
    std::mutex FLock;  // the one lock of the log; guards this block and every field below
    TLogLineEvent FOnLog;
    std::deque<std::string> FPending;  // worker lines not yet handed to FOnLog, oldest first
  };

  void Write(const char* Tag, const std::string& Msg, bool IsInfo);
  void EnsureFileOpen();
  void WriteToFile(const std::string& Line);
  static void FlushPending(const std::shared_ptr<TShared>& Shared);

  std::shared_ptr<TShared> FShared;
  std::string FFileName;
  bool FFileEnabled = true;
  plat::HANDLE FStream = nullptr;
  bool FOpenFailed = false;
  bool FSuppressInfo = false;
};

std::string WinErrorText(uint32_t Code);

// Puts the process's format settings back when a test that changed them ends.
#pragma once

#include "core/uFormatSettings.h"

class ScopedFormatSettings {
 public:
  ScopedFormatSettings() : saved_(GetFormatSettings()) {}
  explicit ScopedFormatSettings(const TFormatSettings& s) : saved_(GetFormatSettings()) { SetFormatSettings(s); }
  ~ScopedFormatSettings() { SetFormatSettings(saved_); }
  ScopedFormatSettings(const ScopedFormatSettings&) = delete;
  ScopedFormatSettings& operator=(const ScopedFormatSettings&) = delete;

 private:
  TFormatSettings saved_;
};

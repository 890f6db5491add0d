// The user's regional separators, read once at program start (as a Delphi program's
// FormatSettings are). Shown numbers and clock times use them; files use plain ones.
#pragma once

#include <string>

struct TFormatSettings {
  std::string DecimalSeparator = ".";
  std::string ThousandSeparator = ",";
  std::string TimeSeparator = ":";
};

// Reads LOCALE_SDECIMAL, LOCALE_STHOUSAND and LOCALE_STIME of the user's locale through the
// installed platform; a value that can't be read keeps its default. Call once at start, before
// any thread runs: the settings are read without a lock afterwards.
void InitFormatSettings();
const TFormatSettings& GetFormatSettings();
// Replaces the settings (tests; start-up). Same rule: no thread may be formatting meanwhile.
void SetFormatSettings(const TFormatSettings& Settings);
// "." "," ":": for numbers written to files, whatever the user's settings.
const TFormatSettings& PlainFormatSettings();

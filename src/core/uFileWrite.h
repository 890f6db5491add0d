// Whole-file writes for the reports and exports, and folder creation with parents.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// A file that could not be created or written; the message names the path and the Windows error.
class EFileError : public std::runtime_error {
 public:
  EFileError(const std::string& Msg, uint32_t WinErr) : std::runtime_error(Msg), FWinErr(WinErr) {}
  uint32_t WinErr() const { return FWinErr; }

 private:
  uint32_t FWinErr;
};

// Creates Dir and every missing folder above it. Failures are left to the file operation that
// follows, which decides.
void ForceDirectories(const std::string& Dir);
// Creates or replaces Path with exactly Bytes; throws EFileError when that fails.
void WriteWholeFile(const std::string& Path, const std::string& Bytes);

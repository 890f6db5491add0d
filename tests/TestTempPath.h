// A host path of the system's temporary folder that no other test uses, in this process or in
// another one running beside it (ctest runs tests as parallel processes, and std::rand() gives
// every process the same numbers).
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

inline std::filesystem::path UniqueTempPath(const std::string& Prefix) {
  static std::atomic<unsigned> Next{0};
#ifdef _WIN32
  const long Pid = _getpid();
#else
  const long Pid = getpid();
#endif
  return std::filesystem::temp_directory_path() /
         (Prefix + std::to_string(Pid) + "_" + std::to_string(Next.fetch_add(1)));
}

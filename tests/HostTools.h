// The Linux host's tools (file systems, partition tables), for tests that let them judge what the
// simulated machine or the program wrote. A test skips itself when a tool is missing
// (tools/test-all installs them); under wine there are none.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "TestTempPath.h"

namespace hosttools {

#ifdef _WIN32
inline bool OnPath(const std::string&) { return false; }
#else
// On PATH, or in the system folders a user's PATH may leave out (sgdisk and fdisk live there).
inline bool OnPath(const std::string& tool) {
  const char* path = std::getenv("PATH");
  std::string p = path ? path : "";
  p += ":/usr/sbin:/sbin";
  for (size_t at = 0; at <= p.size();) {
    size_t end = p.find(':', at);
    if (end == std::string::npos) end = p.size();
    std::error_code ec;
    if (std::filesystem::is_regular_file(std::filesystem::path(p.substr(at, end - at)) / tool, ec)) return true;
    at = end + 1;
  }
  return false;
}
#endif

// Runs a command; its exit code, and what it printed in *output.
inline int Run(const std::string& command, std::string* output) {
  const std::string log = UniqueTempPath("vt_tool_").string();
  const int rc = std::system((command + " >" + log + " 2>&1").c_str());
  output->clear();
  if (std::FILE* f = std::fopen(log.c_str(), "rb")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) output->append(buf, n);
    std::fclose(f);
  }
  std::remove(log.c_str());
  return rc;
}

// A host file that goes with the test.
struct TempFile {
  std::string path = UniqueTempPath("vt_img_").string();
  ~TempFile() { std::remove(path.c_str()); }
};

}  // namespace hosttools

// Skips the test unless every tool named is on the host.
#ifdef _WIN32
#define VT_NEED_TOOLS(...) GTEST_SKIP() << "the host's tools run on the Linux host only"
#else
#define VT_NEED_TOOLS(...)                 \
  for (const char* vt_tool : {__VA_ARGS__}) \
  if (!hosttools::OnPath(vt_tool)) GTEST_SKIP() << vt_tool << " not found on the host (tools/test-all installs it)"
#endif
#define VT_NEED_TOOL(tool) VT_NEED_TOOLS(tool)

// The partition requests as the program sends them, through the installed platform.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/WinDisk.h"

namespace parttest {

constexpr uint64_t kMiB = 1048576;
constexpr plat::GUID kDiskGuid{0x12345678u, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

inline std::string DiskPath(int n) { return "\\\\.\\PhysicalDrive" + std::to_string(n); }

// IOCTL_DISK_CREATE_DISK with the 24-byte record; the Windows error, 0 on success.
inline plat::DWORD CreateDisk(int disk, const plat::CREATE_DISK& request,
                              plat::DWORD access = plat::GENERIC_READ | plat::GENERIC_WRITE) {
  using namespace plat;
  HANDLE h = Win().CreateFileW(DiskPath(disk), access, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  if (!IsValidHandle(h)) return Win().GetLastError();
  CREATE_DISK in = request;
  DWORD n = 0;
  const BOOL ok = Win().DeviceIoControl(h, IOCTL_DISK_CREATE_DISK, &in, sizeof in, nullptr, 0, &n);
  const DWORD e = ok ? 0 : Win().GetLastError();
  Win().CloseHandle(h);
  return e;
}

inline plat::CREATE_DISK Mbr(plat::DWORD signature) {
  plat::CREATE_DISK c{};
  c.PartitionStyle = plat::PARTITION_STYLE_MBR;
  c.Mbr.Signature = signature;
  return c;
}

inline plat::CREATE_DISK Gpt(const plat::GUID& id, plat::DWORD maxPartitions = 128) {
  plat::CREATE_DISK c{};
  c.PartitionStyle = plat::PARTITION_STYLE_GPT;
  c.Gpt.DiskId = id;
  c.Gpt.MaxPartitionCount = maxPartitions;
  return c;
}

// IOCTL_DISK_GET_DRIVE_LAYOUT_EX into a zeroed buffer, on a handle opened with
// FILE_READ_ATTRIBUTES; *error gets the Windows error (0 on success).
inline std::vector<uint8_t> DriveLayout(int disk, plat::DWORD* error, plat::DWORD bufferSize = 4096) {
  using namespace plat;
  std::vector<uint8_t> out(bufferSize, 0);
  HANDLE h = Win().CreateFileW(DiskPath(disk), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               OPEN_EXISTING, 0);
  if (!IsValidHandle(h)) {
    *error = Win().GetLastError();
    return {};
  }
  DWORD n = 0;
  const BOOL ok = Win().DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, out.data(), bufferSize, &n);
  *error = ok ? 0 : Win().GetLastError();
  Win().CloseHandle(h);
  out.resize(ok ? n : 0);
  return out;
}

inline plat::DRIVE_LAYOUT_INFORMATION_EX LayoutHead(const std::vector<uint8_t>& b) {
  plat::DRIVE_LAYOUT_INFORMATION_EX h{};
  std::memcpy(static_cast<void*>(&h), b.data(), plat::kDriveLayoutHeaderSize);
  return h;
}

inline plat::PARTITION_INFORMATION_EX LayoutEntry(const std::vector<uint8_t>& b, plat::DWORD i) {
  plat::PARTITION_INFORMATION_EX p{};
  std::memcpy(static_cast<void*>(&p), b.data() + plat::DriveLayoutSize(i), sizeof p);
  return p;
}

inline bool SameGuid(const plat::GUID& a, const plat::GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace parttest

// The simulated machine's file system: drive letters, folders and files behind Windows paths
// ("C:\dir\file.txt"; names compare without case; "\" and "/" both separate), held in memory,
// or a host folder mounted under a Windows path where a test wants real files. Share modes are
// enforced between open handles. Faults can be injected per path. Device paths ("\\.\...")
// are not files: they fail here with ERROR_FILE_NOT_FOUND. One lock guards everything.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/PlatformTypes.h"

namespace plat::sim {

class SimKernel;

// What a test can make go wrong for a path (matched without case; a folder's fault applies to
// everything below it, the nearest one winning). A count of -1 fails every call, N > 0 fails the
// next N (counting down), 0 no more.
struct FileFault {
  DWORD createDirectoryError = 0;  // CreateDirectoryW fails with this
  DWORD openError = 0;             // CreateFileW fails with this
  int openFailures = -1;           // how many opens fail (-1: all)
  DWORD writeError = 0;            // WriteFile fails with this
  int writeFailures = -1;          // how many writes fail (-1: all)
  bool readOnly = false;           // creating or writing anything below fails with access denied
  uint64_t bytesPerSecond = 0;     // a slow drive: each read and write takes its share of virtual time
};

class SimFileSystem {
 public:
  explicit SimFileSystem(SimKernel& kernel);
  ~SimFileSystem();

  // ---- set-up by tests ----
  // A drive letter with its capacity in bytes (writes past it fail with ERROR_DISK_FULL); for a
  // letter that exists, only its capacity changes. C: exists from the start.
  void AddDrive(char letter, uint64_t capacityBytes = 64ull << 30);
  // Mounts a host folder (POSIX path) at a Windows folder path, creating that folder; files below
  // it are real files (not counted against the drive's capacity).
  void MountHostFolder(const std::string& windowsPath, const std::string& hostPath);
  // Whether path is a mounted host folder or lies below one. Such paths are this module's even
  // on a drive letter that a formatted volume of the storage stack has (SimVolumeFiles), as a
  // folder on which Windows mounted another volume belongs to that volume.
  bool HostMounted(const std::string& path);
  // The host path behind a Windows path at or below a mounted host folder ("" when none is), and
  // the Windows path that shows a host path through the mount nearest to it ("" when no mounted
  // folder holds it). Host paths compare as the host names files: without case on Windows.
  std::string HostPathOf(const std::string& windowsPath);
  std::string WindowsPathOfHost(const std::string& hostPath);
  void SetFault(const std::string& path, const FileFault& fault);
  // The fault set for exactly this path, with its counts as they stand now.
  FileFault Fault(const std::string& path);
  void ClearFaults();
  // Direct access for assertions and fixtures (no share-mode checks, no faults); WriteAll and
  // PlaceCurrentDirectory create missing folders. The current directory starts as
  // "C:\Users\user\Desktop\vrek".
  bool Exists(const std::string& path);
  std::string ReadAll(const std::string& path);
  void WriteAll(const std::string& path, const std::string& bytes);
  void PlaceCurrentDirectory(const std::string& path);

  // ---- the calls ----
  HANDLE CreateFileW(const std::string& path, DWORD access, DWORD share, DWORD creation, DWORD flags);
  // Returns false when h is not a file handle of this module (the caller tries others).
  bool Owns(HANDLE h);
  BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read, const ULONGLONG* offset);
  BOOL WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, const ULONGLONG* offset);
  BOOL SetFilePointerEx(HANDLE h, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod);
  BOOL GetFileSizeEx(HANDLE h, LONGLONG* size);
  BOOL SetEndOfFile(HANDLE h);
  BOOL FlushFileBuffers(HANDLE h);
  BOOL DeleteFileW(const std::string& path);
  BOOL CreateDirectoryW(const std::string& path);
  BOOL RemoveDirectoryW(const std::string& path);
  DWORD GetFileAttributesW(const std::string& path);
  BOOL SetFileAttributesW(const std::string& path, DWORD attributes);
  HANDLE FindFirstFileW(const std::string& pattern, FIND_DATA* data);
  BOOL FindNextFileW(HANDLE find, FIND_DATA* data);
  BOOL FindClose(HANDLE find);
  DWORD GetCurrentDirectoryW(std::string* dir);
  BOOL SetCurrentDirectoryW(const std::string& dir);
  BOOL GetDiskFreeSpaceExW(const std::string& path, ULONGLONG* freeToCaller, ULONGLONG* total,
                           ULONGLONG* totalFree);

 private:
  struct Impl;
  struct FileObject;
  struct FindObject;
  // Shared with the open handles, which may outlive this object inside the kernel's table.
  std::shared_ptr<Impl> impl_;
};

}  // namespace plat::sim

// Files and folders on the mounted volumes of the simulated disks ("E:\dir\file.bin" where E: is
// a FAT32, exFAT or NTFS volume of SimStorage with a layout of SimVolumeFormat): the Windows
// calls on their paths and handles. The data lies in the volume's clusters on the drive
// (SimVolumeTree), so a TRIM of a file's clusters is seen in the file, and the allocation keeps
// the volume's bitmap, its free counts and the on-disk tables in agreement.
//
// As Windows: share modes between opens; FILE_FLAG_NO_BUFFERING needs offsets, lengths and
// buffer addresses in whole sectors of the volume (else ERROR_INVALID_PARAMETER), and without it
// the volume's cache serves what it holds without the drive (SimFileCache); FindFirstFileW lists
// NTFS folders by name and FAT32 / exFAT folders in the order of their entries; a file's
// clusters come from FSCTL_GET_RETRIEVAL_POINTERS; FSCTL_LOCK_VOLUME and FSCTL_DISMOUNT_VOLUME
// are refused (ERROR_ACCESS_DENIED) while a file or listing of the volume is open, and drop the
// cache when they succeed. Transfers take the drive's time (SimDriveSpeed.h) once the volume's
// lock is let go. A volume without a layout (a SimVolume with only a file-system name) holds no
// files: its paths are left to SimFileSystem.
//
// Locking: each volume's SimFsState::mu guards its tree, its cache and its handles; faults have
// the module's own lock. The kernel is never called with either held.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/PlatformTypes.h"
#include "platform/sim/files/SimVolumeFormat.h"

namespace plat::sim {

class SimFileSystem;
class SimKernel;
class SimVolumeLocks;

// What a test can make go wrong below a path (matched without case; a folder's fault applies to
// everything below it, the nearest one winning). `count` is how many calls it fails (-1: all).
struct SimVolumeFileFault {
  DWORD openError = 0;             // CreateFileW
  DWORD createDirectoryError = 0;  // CreateDirectoryW
  DWORD writeError = 0;            // a WriteFile that reaches byte writeAtByte of the file (nothing is written);
  uint64_t writeAtByte = 0;        // ERROR_DISK_FULL makes the volume full there
  DWORD readError = 0;             // a ReadFile that reaches byte readAtByte
  uint64_t readAtByte = 0;
  DWORD deleteError = 0;   // DeleteFileW and RemoveDirectoryW
  int listStopAfter = -1;  // a listing ends with listError once it has given this many entries (-1: never)
  DWORD listError = ERROR_NO_MORE_FILES;
  int count = -1;
};

class SimVolumeFiles {
 public:
  // Wraps the lock and dismount requests that `locks` registered, so construct it after them.
  SimVolumeFiles(SimKernel& kernel, SimStorage& storage, SimFileSystem& files, SimVolumeLocks& locks);
  ~SimVolumeFiles();

  // ---- set-up by tests ----
  // A volume of one extent on the disk, formatted in the disk's logical sector size and mounted;
  // null when the layout does not fit.
  std::shared_ptr<SimVolume> AddVolume(char letter, int disk, uint64_t offsetBytes, uint64_t lengthBytes,
                                       SimFsKind kind, uint32_t clusterBytes = 4096);
  // Direct access for fixtures and assertions (no share checks, no faults, no time); WriteAll
  // creates missing folders and replaces a file.
  bool WriteAll(const std::string& path, const std::string& bytes);
  std::string ReadAll(const std::string& path);
  bool Exists(const std::string& path);
  // A file's clusters in file order (bitmap numbering), empty for none or no such file.
  SimClusterRuns Runs(const std::string& path);
  // A junction (NTFS reparse point) at path that leads to the folder target on the same volume.
  bool AddJunction(const std::string& path, const std::string& target);
  // New clusters in runs of at most maxRunClusters, gapClusters left free after each (fragmented
  // files); 0: as long as the free space allows.
  void SetAllocation(char letter, uint64_t maxRunClusters, uint64_t gapClusters = 1);
  // The volume's cache: its limit in bytes (0: nothing is cached) and what it holds.
  void SetCacheLimit(char letter, uint64_t bytes);
  uint64_t CacheBytes(char letter);
  void SetFault(const std::string& path, const SimVolumeFileFault& fault);
  void ClearFaults();
  // Handles open on the volume's files and folders.
  int OpenHandles(char letter);

  // ---- the calls ----
  // Whether the path lies on a volume of the storage stack that has a file system on it.
  bool Serves(const std::string& path);
  bool Owns(HANDLE h);  // file and listing handles of this module
  HANDLE CreateFileW(const std::string& path, DWORD access, DWORD share, DWORD creation, DWORD flags);
  BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read, const ULONGLONG* offset);
  BOOL WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, const ULONGLONG* offset);
  BOOL SetFilePointerEx(HANDLE h, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod);
  BOOL GetFileSizeEx(HANDLE h, LONGLONG* size);
  BOOL SetEndOfFile(HANDLE h);
  BOOL FlushFileBuffers(HANDLE h);
  BOOL DeviceIoControl(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
  BOOL DeleteFileW(const std::string& path);
  BOOL CreateDirectoryW(const std::string& path);
  BOOL RemoveDirectoryW(const std::string& path);
  DWORD GetFileAttributesW(const std::string& path);
  BOOL SetFileAttributesW(const std::string& path, DWORD attributes);
  HANDLE FindFirstFileW(const std::string& pattern, FIND_DATA* data);
  BOOL FindNextFileW(HANDLE find, FIND_DATA* data);
  BOOL FindClose(HANDLE find);
  BOOL GetDiskFreeSpaceExW(const std::string& path, ULONGLONG* freeToCaller, ULONGLONG* total,
                           ULONGLONG* totalFree);

 private:
  struct Impl;
  struct FileObject;
  struct FindObject;
  std::shared_ptr<Impl> impl_;
};

}  // namespace plat::sim

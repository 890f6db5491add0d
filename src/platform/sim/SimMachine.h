// A simulated Windows machine. Tests (and the demo build) construct one, describe it, and
// install it as the platform; every call the program makes then lands here. This comment is the
// index of the whole machine: a module per part of Windows, each in the folder of its role, each
// header saying what it answers and how a test sets it up.
//
// The machine (this folder)
//   SimMachine        the modules wired together behind IPlatform; ScopedSimMachine installs one
//   SimMachineText    a machine written as text, a line per disk and volume (docs/machine-description.md)
//   SimFaults         the one fault vocabulary: a trigger (which calls) and an outcome (what happens)
//   SimFaultPicker    faults drawn from a seed, for tests that build many random machines
//   SimDialogPaths    the demo's file dialogs: a host path shown there and the machine's path it means
// kernel/            what every program meets
//   SimKernel         handles, threads, events, waits, CancelSynchronousIo, the virtual clock (or real
//                     time); thread creation that fails on request
//   SimProcesses      processes, pipes, the system folder, the error mode; PowerShell's ReTrim down
//                     the storage stack, or a test's script
//   SimDesktop        UI language, locale, message table, version resource, message boxes, GUIDs,
//                     ShellExecuteW, the sink that window messages leave the machine through
//   SimSecurity       the process token
//   SimCodePage       UTF-8 and the ANSI code page (Windows-1252)
// storage/           disks and what reaches them
//   SimStorage        physical disks (their logical block size), volumes, device paths, raw sector
//                     I/O; the switchboard that hands each control code to its module; faults on
//                     control codes; a disk leaving the bus and a newcomer taking its number
//   SimBridge         the USB bridge of each disk: SCSI / ATA pass-through and the storage TRIM
//                     request, bridge profiles, faults on its commands, a recorder of every request
//   SimDrive          the SSD behind it: sectors, read and write counts, the ledger of released ranges
//   SimPages          the drive's sparse 1 MiB pages; xorshift32 content kept as its stream state
//   SimDriveSpeed     the drive's read and write speeds and its fast cache, on the virtual clock
//   SimDiscovery      descriptors, seek penalty, geometry, device numbers, the Setup API, volume
//                     extents, drive letters, volume facts, the Windows directory; disk presets
//   SimPartitionTable MBR and GPT on a disk's sectors: read, written, CRC32
//   SimPartitions     drive layout, partition information and disk creation, answered from them
//   SimNotifications  device-change registrations and WM_DEVICECHANGE through the desktop's sink
// files/             file systems, volumes and what is on them
//   SimFileSystem     drive letters, folders and files in memory, or a mounted host folder
//                     (SimHostFiles); path faults, a slow drive
//   SimPath           Windows paths as the file stores read them, and their table of path faults
//   SimShare          share modes between open handles
//   SimVolumeFormat   FAT32, exFAT and NTFS layouts on a disk's sectors (or a real image), and the
//                     allocation model the FAT, the exFAT bitmap, $Bitmap and the volume requests use
//   SimVolumeFiles    files and folders on the mounted volumes: the calls on their paths and handles,
//                     unbuffered I/O, retrieval pointers, faults, junctions
//   SimVolumeTree     one volume's files, their data in its clusters; FAT32 and exFAT directory
//                     entries on disk (SimFatEntries); the volume's cache (SimFileCache)
//   SimFsControl      volume bitmap, NTFS volume data, disk writability, the TRIM-support property
//   SimVolumeLocks    volume lock and dismount, the mount state behind GetVolumeInformationW
//   SimVolumeFlush    FlushFileBuffers on volume and disk handles
#pragma once

#include <memory>

#include "platform/Platform.h"
#include "platform/sim/storage/SimBridge.h"
#include "platform/sim/kernel/SimDesktop.h"
#include "platform/sim/storage/SimDiscovery.h"
#include "platform/sim/files/SimFileSystem.h"
#include "platform/sim/files/SimFsControl.h"
#include "platform/sim/kernel/SimKernel.h"
#include "platform/sim/storage/SimNotifications.h"
#include "platform/sim/storage/SimPartitions.h"
#include "platform/sim/kernel/SimSecurity.h"
#include "platform/sim/kernel/SimProcesses.h"
#include "platform/sim/storage/SimStorage.h"
#include "platform/sim/files/SimVolumeFlush.h"
#include "platform/sim/files/SimVolumeFiles.h"
#include "platform/sim/files/SimVolumeLocks.h"

namespace plat::sim {

class SimMachine final : public IPlatform {
 public:
  SimMachine();
  ~SimMachine() override;

  SimKernel& Kernel() { return *kernel_; }
  SimFileSystem& Files() { return *files_; }
  SimDesktop& Desktop() { return *desktop_; }
  SimStorage& Storage() { return *storage_; }
  SimDiscovery& Discovery() { return *discovery_; }
  SimFsControl& FsControl() { return *fsControl_; }
  SimSecurity& Security() { return *security_; }
  SimProcesses& Processes() { return *processes_; }
  SimVolumeLocks& VolumeLocks() { return *volumeLocks_; }
  SimBridge& Bridge() { return *bridge_; }
  SimPartitions& Partitions() { return *partitions_; }
  SimVolumeFlush& VolumeFlush() { return *volumeFlush_; }
  SimNotifications& Notifications() { return *notifications_; }
  SimVolumeFiles& VolumeFiles() { return *volumeFiles_; }
  // Ends every wait inside the machine and lets its threads run out; called before the machine
  // is uninstalled, so that those threads still find it.
  void Shutdown();

  // ---- IPlatform ----
  DWORD GetLastError() override;
  void SetLastError(DWORD code) override;

  ULONGLONG GetTickCount64() override;
  void GetSystemTime(SYSTEMTIME* st) override;
  void GetLocalTime(SYSTEMTIME* st) override;
  void Sleep(DWORD ms) override;

  HANDLE CreateThread(size_t dwStackSize, LPTHREAD_START_ROUTINE start, void* param, DWORD dwCreationFlags,
                      DWORD* lpThreadId) override;
  DWORD ResumeThread(HANDLE thread) override;
  BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) override;
  DWORD GetCurrentThreadId() override;
  HANDLE CreateEventW(BOOL manualReset, BOOL initialState) override;
  BOOL SetEvent(HANDLE event) override;
  BOOL ResetEvent(HANDLE event) override;
  DWORD WaitForSingleObject(HANDLE h, DWORD ms) override;
  DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) override;
  BOOL CancelSynchronousIo(HANDLE thread) override;
  BOOL CloseHandle(HANDLE h) override;

  HANDLE CreateFileW(const std::string& path, DWORD access, DWORD share, DWORD creation,
                     DWORD flagsAndAttributes) override;
  BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read) override;
  BOOL WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written) override;
  BOOL ReadFileAt(HANDLE h, void* buffer, DWORD toRead, DWORD* read, ULONGLONG offset) override;
  BOOL WriteFileAt(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written, ULONGLONG offset) override;
  DWORD SetFilePointer(HANDLE h, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod) override;
  BOOL SetFilePointerEx(HANDLE h, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod) override;
  DWORD GetFileSize(HANDLE h, DWORD* sizeHigh) override;
  BOOL GetFileSizeEx(HANDLE h, LONGLONG* size) override;
  BOOL SetEndOfFile(HANDLE h) override;
  BOOL FlushFileBuffers(HANDLE h) override;
  BOOL DeleteFileW(const std::string& path) override;
  BOOL CreateDirectoryW(const std::string& path) override;
  BOOL RemoveDirectoryW(const std::string& path) override;
  DWORD GetFileAttributesW(const std::string& path) override;
  BOOL SetFileAttributesW(const std::string& path, DWORD attributes) override;
  HANDLE FindFirstFileW(const std::string& pattern, FIND_DATA* data) override;
  BOOL FindNextFileW(HANDLE find, FIND_DATA* data) override;
  BOOL FindClose(HANDLE find) override;
  DWORD GetCurrentDirectoryW(std::string* dir) override;
  BOOL SetCurrentDirectoryW(const std::string& dir) override;
  DWORD GetModuleFileNameW(std::string* path) override;
  BOOL DeviceIoControl(HANDLE h, DWORD ioControlCode, void* inBuffer, DWORD inSize, void* outBuffer, DWORD outSize,
                       DWORD* bytesReturned) override;
  BOOL GetDiskFreeSpaceExW(const std::string& path, ULONGLONG* freeToCaller, ULONGLONG* total,
                           ULONGLONG* totalFree) override;

  DWORD GetLogicalDrives() override;
  BOOL GetVolumeInformationW(const std::string& rootPath, std::string* volumeName, DWORD volumeNameSize,
                             DWORD* serialNumber, DWORD* maxComponentLength, DWORD* fileSystemFlags,
                             std::string* fileSystemName, DWORD fileSystemNameSize) override;
  BOOL GetDiskFreeSpaceW(const std::string& rootPath, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                         DWORD* freeClusters, DWORD* totalClusters) override;
  UINT GetWindowsDirectoryW(std::string* dir) override;
  HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const char* enumerator, HWND parent, DWORD flags) override;
  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfoData, const GUID* interfaceClassGuid,
                                   DWORD memberIndex, void* deviceInterfaceData) override;
  BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, void* deviceInterfaceData, void* detailData,
                                        DWORD detailSize, DWORD* requiredSize, void* deviceInfoData) override;
  BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, void* deviceInfoData, DWORD property,
                                         DWORD* propertyRegDataType, BYTE* buffer, DWORD bufferSize,
                                         DWORD* requiredSize) override;
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;
  int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, char16_t* dst,
                          int dstLen) override;

  DWORD GetFileVersionInfoSizeW(const std::string& file, DWORD* handle) override;
  BOOL GetFileVersionInfoW(const std::string& file, DWORD handle, DWORD len, void* data) override;
  BOOL VerQueryValueW(const void* block, const std::string& subBlock, void** buffer, UINT* len) override;

  LANGID GetUserDefaultUILanguage() override;
  int GetLocaleInfoW(DWORD locale, DWORD lcType, char16_t* data, int size) override;
  DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId, char16_t* buffer,
                       DWORD size) override;
  int32_t CoCreateGuid(GUID* guid) override;
  int MessageBoxW(HWND owner, const std::string& text, const std::string& caption, UINT type) override;
  void* RegisterDeviceNotificationW(HANDLE recipient, void* filter, DWORD flags) override;
  BOOL UnregisterDeviceNotification(void* notification) override;
  intptr_t ShellExecuteW(HWND owner, const std::string& verb, const std::string& file,
                         const std::string& parameters, const std::string& directory, int showCmd) override;

  HANDLE GetCurrentProcess() override;
  BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token) override;
  BOOL GetTokenInformation(HANDLE token, DWORD infoClass, void* info, DWORD length, DWORD* returnLength) override;
  // Processes and pipes (SimProcesses), volume facts (SimVolumeLocks).
  UINT GetSystemDirectoryW(std::string* dir) override;
  UINT SetErrorMode(UINT mode) override;
  BOOL CreatePipe(HANDLE* readPipe, HANDLE* writePipe, BOOL inheritHandle, DWORD size) override;
  BOOL SetHandleInformation(HANDLE h, DWORD mask, DWORD flags) override;
  HANDLE GetStdHandle(DWORD which) override;
  BOOL CreateProcessW(const std::string& applicationName, const std::string& commandLine, BOOL inheritHandles,
                      DWORD creationFlags, const std::string& currentDirectory, const STARTUP_INFO& startup,
                      PROCESS_INFO* info) override;
  BOOL PeekNamedPipe(HANDLE pipe, void* buffer, DWORD size, DWORD* read, DWORD* available,
                     DWORD* leftThisMessage) override;
  BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) override;
  BOOL TerminateProcess(HANDLE process, UINT exitCode) override;

 private:
  std::unique_ptr<SimKernel> kernel_;
  std::unique_ptr<SimFileSystem> files_;
  std::unique_ptr<SimDesktop> desktop_;
  std::unique_ptr<SimStorage> storage_;
  std::unique_ptr<SimDiscovery> discovery_;
  std::unique_ptr<SimFsControl> fsControl_;
  std::unique_ptr<SimSecurity> security_;
  std::unique_ptr<SimProcesses> processes_;
  std::unique_ptr<SimVolumeLocks> volumeLocks_;
  std::unique_ptr<SimBridge> bridge_;
  std::unique_ptr<SimPartitions> partitions_;
  std::unique_ptr<SimVolumeFlush> volumeFlush_;
  std::unique_ptr<SimNotifications> notifications_;
  std::unique_ptr<SimVolumeFiles> volumeFiles_;
};

// Builds a machine and installs it for the life of the object: the fixture of most tests.
class ScopedSimMachine {
 public:
  ScopedSimMachine() : scoped_(&machine_) {}
  ~ScopedSimMachine() { machine_.Shutdown(); }
  SimMachine& operator*() { return machine_; }
  SimMachine* operator->() { return &machine_; }

 private:
  SimMachine machine_;
  ScopedPlatform scoped_;
};

}  // namespace plat::sim

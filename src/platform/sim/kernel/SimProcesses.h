// The simulated machine's processes and pipes, with the one program the tool starts: Windows
// PowerShell running Optimize-Volume -ReTrim.
//
// A started process runs as a simulated thread (its PROCESS_INFO thread handle), so its output
// arrives in virtual time. Anonymous pipes hold bytes until read; the read end reports the pipe's
// end (ERROR_BROKEN_PIPE) once every write end is closed, the child's inherited ones included,
// which close when the child ends. A process handle is signalled when the process has ended.
//
// Optimize-Volume -ReTrim on a lettered NTFS volume behaves as on Windows: its free clusters, as
// its mounted allocation model has them, go down its disk's storage stack into the drive's ledger
// ("RETRIM"), and where that stack has no TRIM to give (SimStorageStackTrims: the drive reports
// none, or Windows refuses the storage TRIM request on its bridge) the cmdlet prints StorageWMI
// error 43022, releases nothing and exits 1. Any other file system fails with an error text and
// exit code 1. A test's hook, when set, names the free space of every volume instead. A test may
// give a script in place of the storage stack's answer (chunks of output after virtual delays, an
// exit code, never exiting, refusing termination).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/PlatformTypes.h"

namespace plat::sim {

class SimKernel;
class SimStorage;

struct SimPowerShellScript {
  struct Chunk {
    DWORD delayMs = 0;  // virtual time before the chunk is written
    std::string bytes;
  };
  std::vector<Chunk> chunks;
  DWORD exitCode = 0;
  bool retrim = true;            // Optimize-Volume releases the volume's free space, whatever the stack
  bool neverExit = false;        // runs until terminated
  bool refuseTerminate = false;  // TerminateProcess fails with ERROR_ACCESS_DENIED

  // What PowerShell prints when the bridge refuses the retrim: StorageWMI error 43022, exit 1.
  static SimPowerShellScript Fails43022();
  // The text of that refusal for one volume, as Windows names it ("New Volume (E:)").
  static std::string Unsupported43022Text(const std::string& volumeName);
};

// One CreateProcessW as the program made it.
struct SimProcessLaunch {
  std::string applicationName;
  std::string commandLine;
  bool inheritHandles = false;
  DWORD creationFlags = 0;
  STARTUP_INFO startup;
  bool stdoutIsPipe = false;  // standard output and error are write ends of one pipe
  bool stdinIsOwn = false;    // standard input is the program's own
  HANDLE process = nullptr;
};

class SimProcesses {
 public:
  SimProcesses(SimKernel& kernel, SimStorage& storage);
  ~SimProcesses();

  // ---- set-up by tests ----
  // The script of every PowerShell started from now on, in place of the storage stack's answer.
  void SetPowerShell(SimPowerShellScript script);
  // Free space of a volume in disk sectors (start, count); empty: nothing to release. Replaces
  // the volume's own allocation, and the file-system check, for every volume.
  using FreeRangesHook = std::function<std::vector<std::pair<uint64_t, uint64_t>>(char letter)>;
  void SetFreeRanges(FreeRangesHook hook);
  std::vector<SimProcessLaunch> Launches();
  // The full path CreateProcessW accepts as PowerShell.
  static std::string PowerShellPath();
  // Processes started and not ended.
  int Running();

  // ---- the calls ----
  UINT GetSystemDirectoryW(std::string* dir);
  UINT SetErrorMode(UINT mode);
  UINT ErrorMode();
  BOOL CreatePipe(HANDLE* readPipe, HANDLE* writePipe, BOOL inheritHandle, DWORD size);
  BOOL SetHandleInformation(HANDLE h, DWORD mask, DWORD flags);
  HANDLE GetStdHandle(DWORD which);
  BOOL CreateProcessW(const std::string& applicationName, const std::string& commandLine, BOOL inheritHandles,
                      DWORD creationFlags, const std::string& currentDirectory, const STARTUP_INFO& startup,
                      PROCESS_INFO* info);
  bool OwnsPipe(HANDLE h);
  BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read);
  BOOL WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written);
  BOOL PeekNamedPipe(HANDLE pipe, void* buffer, DWORD size, DWORD* read, DWORD* available, DWORD* leftThisMessage);
  BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode);
  BOOL TerminateProcess(HANDLE process, UINT exitCode);

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace plat::sim

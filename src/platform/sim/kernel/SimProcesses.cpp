#include "platform/sim/kernel/SimProcesses.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

#include "platform/sim/kernel/SimKernel.h"
#include "platform/sim/storage/SimStorage.h"
#include "platform/sim/files/SimVolumeFormat.h"

namespace plat::sim {

namespace {

BOOL Fail(DWORD e) {
  SimSetLastError(e);
  return FALSE_;
}

// How long Optimize-Volume takes to find that the hardware cannot retrim, to retrim, and
// PowerShell to end after its last line.
constexpr DWORD kRefusalMs = 500;
constexpr DWORD kReTrimMs = 1000;
constexpr DWORD kExitMs = 200;

// Guarded by its own lock, taken after the kernel lock when both are held: a handle's last
// reference may go while the kernel lock is held.
struct PipeState {
  std::mutex mu;
  std::string bytes;
  int writers = 0;  // open write ends, the children's inherited ones included
};

class PipeEnd final : public SimObject {
 public:
  PipeEnd(std::shared_ptr<PipeState> s, bool write) : state(std::move(s)), isWrite(write) {
    if (isWrite) AddWriter(*state);
  }
  ~PipeEnd() override {
    if (isWrite) DropWriter(*state);
  }
  const char* Kind() const override { return "pipe"; }
  static void AddWriter(PipeState& s) {
    std::lock_guard<std::mutex> lk(s.mu);
    s.writers++;
  }
  static void DropWriter(PipeState& s) {
    std::lock_guard<std::mutex> lk(s.mu);
    s.writers--;
  }
  std::shared_ptr<PipeState> state;
  bool isWrite;
  bool inherit = false;
};

class Console final : public SimObject {
 public:
  const char* Kind() const override { return "console"; }
};

// Fields below the script are guarded by the kernel lock.
class Process final : public SimObject {
 public:
  bool IsSignalled() const override { return exited; }
  const char* Kind() const override { return "process"; }
  std::optional<SimPowerShellScript> script;  // none: as Windows
  std::string commandLine;
  std::shared_ptr<PipeState> out;  // the pipe standard output goes to, if any
  bool exited = false;
  DWORD exitCode = STILL_ACTIVE;
  bool terminated = false;
  DWORD terminateCode = 0;
};

}  // namespace

namespace {

std::string InvokingLine(const std::string& volumeName) {
  return "VERBOSE: Invoking retrim on " + volumeName + "...\r\n";
}

constexpr const char* kRefusal =
    "Optimize-Volume : The volume optimization operation requested is not supported by the hardware backing the "
    "volume.\r\n"
    "    + CategoryInfo          : NotSpecified: (StorageWMI:ROOT/Microsoft/...age/MSFT_Volume) "
    "[Optimize-Volume], CimException\r\n"
    "    + FullyQualifiedErrorId : StorageWMI 43022,Optimize-Volume\r\n";

}  // namespace

std::string SimPowerShellScript::Unsupported43022Text(const std::string& volumeName) {
  return InvokingLine(volumeName) + kRefusal;
}

SimPowerShellScript SimPowerShellScript::Fails43022() {
  SimPowerShellScript s;
  s.retrim = false;
  s.exitCode = 1;
  s.chunks = {{kRefusalMs, Unsupported43022Text("New Volume (E:)")}};
  return s;
}

struct SimProcesses::Impl {
  Impl(SimKernel& k, SimStorage& s) : kernel(k), storage(s) {}
  SimKernel& kernel;
  SimStorage& storage;
  std::mutex mu;  // guards the set-up and records below
  std::optional<SimPowerShellScript> script;
  FreeRangesHook freeRanges;
  std::vector<SimProcessLaunch> launches;
  UINT errorMode = 0;
  HANDLE console = nullptr;
  int running = 0;

  void Write(Process& p, const std::string& bytes) {
    if (!p.out) return;  // output went nowhere: the handles were not handed over
    {
      std::lock_guard<std::mutex> lk(p.out->mu);
      p.out->bytes += bytes;
    }
    std::lock_guard<std::mutex> lk(kernel.Lock());
    kernel.NotifyLocked();
  }

  // True when the process was told to end (or the machine is shutting down).
  bool WaitTerminated(Process& p, uint64_t deadline) {
    std::unique_lock<std::mutex> lk(kernel.Lock());
    return kernel.BlockUntilLocked(
               lk, [&p] { return p.terminated; }, deadline) != WaitOutcome::Timeout;
  }

  DWORD RunPowerShell(Process& p) {
    const std::string& cmd = p.commandLine;
    const std::string key = "Optimize-Volume -DriveLetter ";
    const size_t at = cmd.find(key);
    if (at == std::string::npos || at + key.size() >= cmd.size() ||
        cmd.find(" -ReTrim", at) == std::string::npos) {
      Write(p, "The term is not recognized as the name of a cmdlet.\r\n");
      return 1;
    }
    const char letter = cmd[at + key.size()];
    auto volume = storage.Volume(letter);
    if (!volume) {
      Write(p,
            std::string("Optimize-Volume : No MSFT_Volume objects found with property 'DriveLetter' equal to '") +
                letter + "'.\r\n");
      return 1;
    }
    FreeRangesHook hook;
    {
      std::lock_guard<std::mutex> lk(mu);
      hook = freeRanges;
    }
    std::string fileSystem, label;
    std::vector<SimExtent> extents;
    {
      std::lock_guard<std::mutex> lk(volume->mu);
      fileSystem = volume->fileSystemName;
      label = volume->label;
      extents = volume->extents;
    }
    // Windows retrims NTFS only; the test's hook stands in for any volume's free space.
    if (!hook && fileSystem != "NTFS") {
      Write(p,
            "Optimize-Volume : The volume optimization operation requested is not supported by the file system "
            "present on the volume.\r\n");
      return 1;
    }
    auto disk = extents.empty() ? nullptr : storage.Disk(extents.front().diskNumber);
    auto release = [&] {
      const char own = volume->letter;
      if (disk) SimStorageStackRelease(*disk, hook ? hook(own) : FreeDiskRanges(storage, own), "RETRIM");
    };
    if (!p.script) {
      // Output after a while, and the end a moment after the last line; false once terminated
      // (the exit code is then the terminator's).
      auto say = [&](DWORD delayMs, const std::string& text) {
        if (WaitTerminated(p, kernel.NowMs() + delayMs)) return false;
        if (!text.empty()) Write(p, text);
        return true;
      };
      const std::string name = std::string(1, volume->letter) + ":";
      if (!say(0, InvokingLine(label.empty() ? "(" + name + ")" : label + " (" + name + ")"))) return 0;
      if (!disk || !SimStorageStackTrims(*disk)) {
        if (say(kRefusalMs, kRefusal)) say(kExitMs, "");
        return 1;
      }
      release();
      if (say(kReTrimMs, "VERBOSE: Retrim:  100% complete.\r\n")) say(kExitMs, "");
      return 0;
    }
    const SimPowerShellScript& script = *p.script;
    if (script.retrim) release();
    for (const auto& c : script.chunks) {
      if (WaitTerminated(p, kernel.NowMs() + c.delayMs)) return 0;
      Write(p, c.bytes);
    }
    if (script.neverExit) WaitTerminated(p, UINT64_MAX);
    return script.exitCode;
  }

  struct Start {
    std::shared_ptr<Impl> impl;
    std::shared_ptr<Process> process;
  };

  static DWORD Main(void* param) {
    std::unique_ptr<Start> s(static_cast<Start*>(param));
    Process& p = *s->process;
    const DWORD code = s->impl->RunPowerShell(p);
    if (p.out) PipeEnd::DropWriter(*p.out);  // the child's inherited write end closes with it
    {
      // Not under the kernel lock: the set-up lock is taken before it elsewhere.
      std::lock_guard<std::mutex> lk(s->impl->mu);
      s->impl->running--;
    }
    std::lock_guard<std::mutex> lk(s->impl->kernel.Lock());
    p.exited = true;
    p.exitCode = p.terminated ? p.terminateCode : code;
    s->impl->kernel.NotifyLocked();
    return 0;
  }
};

SimProcesses::SimProcesses(SimKernel& kernel, SimStorage& storage)
    : impl_(std::make_shared<Impl>(kernel, storage)) {}
SimProcesses::~SimProcesses() = default;

void SimProcesses::SetPowerShell(SimPowerShellScript script) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->script = std::move(script);
}

void SimProcesses::SetFreeRanges(FreeRangesHook hook) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->freeRanges = std::move(hook);
}

std::vector<SimProcessLaunch> SimProcesses::Launches() {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->launches;
}

std::string SimProcesses::PowerShellPath() {
  return "C:\\Windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe";
}

int SimProcesses::Running() {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->running;
}

UINT SimProcesses::GetSystemDirectoryW(std::string* dir) {
  *dir = "C:\\Windows\\system32";
  return static_cast<UINT>(dir->size());
}

UINT SimProcesses::SetErrorMode(UINT mode) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return std::exchange(impl_->errorMode, mode);
}

UINT SimProcesses::ErrorMode() {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->errorMode;
}

BOOL SimProcesses::CreatePipe(HANDLE* readPipe, HANDLE* writePipe, BOOL inheritHandle, DWORD /*size*/) {
  auto state = std::make_shared<PipeState>();
  auto r = std::make_shared<PipeEnd>(state, false);
  auto w = std::make_shared<PipeEnd>(state, true);
  r->inherit = w->inherit = inheritHandle != 0;
  *readPipe = impl_->kernel.AddHandle(r);
  *writePipe = impl_->kernel.AddHandle(w);
  return TRUE_;
}

BOOL SimProcesses::SetHandleInformation(HANDLE h, DWORD mask, DWORD flags) {
  auto e = impl_->kernel.LookupAs<PipeEnd>(h);
  if (!e) return impl_->kernel.Lookup(h) ? TRUE_ : Fail(ERROR_INVALID_HANDLE);
  if (mask & HANDLE_FLAG_INHERIT) e->inherit = (flags & HANDLE_FLAG_INHERIT) != 0;
  return TRUE_;
}

HANDLE SimProcesses::GetStdHandle(DWORD /*which*/) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  if (!impl_->console) impl_->console = impl_->kernel.AddHandle(std::make_shared<Console>());
  return impl_->console;
}

BOOL SimProcesses::CreateProcessW(const std::string& applicationName, const std::string& commandLine,
                                  BOOL inheritHandles, DWORD creationFlags,
                                  const std::string& /*currentDirectory*/, const STARTUP_INFO& startup,
                                  PROCESS_INFO* info) {
  SimProcessLaunch rec;
  rec.applicationName = applicationName;
  rec.commandLine = commandLine;
  rec.inheritHandles = inheritHandles != 0;
  rec.creationFlags = creationFlags;
  rec.startup = startup;
  auto out = impl_->kernel.LookupAs<PipeEnd>(startup.hStdOutput);
  auto err = impl_->kernel.LookupAs<PipeEnd>(startup.hStdError);
  rec.stdoutIsPipe = out && err && out->isWrite && out->state == err->state;
  rec.stdinIsOwn = startup.hStdInput != nullptr && startup.hStdInput == GetStdHandle(STD_INPUT_HANDLE);
  // Only the system's own PowerShell exists on this machine; it is found by its full path only.
  std::string lower = applicationName;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  std::string want = PowerShellPath();
  std::transform(want.begin(), want.end(), want.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower != want) {
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->launches.push_back(rec);
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  auto p = std::make_shared<Process>();
  p->commandLine = commandLine;
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    p->script = impl_->script;
  }
  const bool handsOver =
      inheritHandles && (startup.dwFlags & STARTF_USESTDHANDLES) && out && out->isWrite && out->inherit;
  if (handsOver) {
    p->out = out->state;
    PipeEnd::AddWriter(*p->out);
  }
  HANDLE ph = impl_->kernel.AddHandle(p);
  DWORD tid = 0;
  auto* start = new Impl::Start{impl_, p};
  HANDLE th = impl_->kernel.CreateThread(0, &Impl::Main, start, 0, &tid);
  if (!th) {
    delete start;
    if (p->out) PipeEnd::DropWriter(*p->out);
    impl_->kernel.CloseHandle(ph);
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  rec.process = ph;
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->running++;
    impl_->launches.push_back(rec);
  }
  info->hProcess = ph;
  info->hThread = th;
  info->dwProcessId = tid + 1;
  info->dwThreadId = tid;
  return TRUE_;
}

bool SimProcesses::OwnsPipe(HANDLE h) { return impl_->kernel.LookupAs<PipeEnd>(h) != nullptr; }

BOOL SimProcesses::ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read) {
  if (read) *read = 0;
  auto e = impl_->kernel.LookupAs<PipeEnd>(h);
  if (!e || e->isWrite) return Fail(ERROR_ACCESS_DENIED);
  PipeState& s = *e->state;
  // An empty pipe blocks the reader until bytes come, the last writer goes, or a cancel.
  const WaitOutcome w = impl_->kernel.BlockUntil(
      [&s] {
        std::lock_guard<std::mutex> lk(s.mu);
        return !s.bytes.empty() || s.writers == 0;
      },
      UINT64_MAX, WaitKind{true, true});
  if (w != WaitOutcome::Ready) return Fail(ERROR_OPERATION_ABORTED);
  std::lock_guard<std::mutex> lk(s.mu);
  if (s.bytes.empty()) return Fail(ERROR_BROKEN_PIPE);
  const size_t n = std::min<size_t>(toRead, s.bytes.size());
  std::memcpy(buffer, s.bytes.data(), n);
  s.bytes.erase(0, n);
  if (read) *read = static_cast<DWORD>(n);
  return TRUE_;
}

BOOL SimProcesses::WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written) {
  if (written) *written = 0;
  auto e = impl_->kernel.LookupAs<PipeEnd>(h);
  if (!e || !e->isWrite) return Fail(ERROR_ACCESS_DENIED);
  {
    std::lock_guard<std::mutex> lk(e->state->mu);
    e->state->bytes.append(static_cast<const char*>(buffer), toWrite);
  }
  std::lock_guard<std::mutex> lk(impl_->kernel.Lock());
  impl_->kernel.NotifyLocked();
  if (written) *written = toWrite;
  return TRUE_;
}

BOOL SimProcesses::PeekNamedPipe(HANDLE pipe, void* buffer, DWORD size, DWORD* read, DWORD* available,
                                 DWORD* leftThisMessage) {
  auto e = impl_->kernel.LookupAs<PipeEnd>(pipe);
  if (!e || e->isWrite) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lk(e->state->mu);
  const std::string& b = e->state->bytes;
  if (b.empty() && e->state->writers == 0) return Fail(ERROR_BROKEN_PIPE);
  const size_t n = buffer ? std::min<size_t>(size, b.size()) : 0;
  if (n) std::memcpy(buffer, b.data(), n);
  if (read) *read = static_cast<DWORD>(n);
  if (available) *available = static_cast<DWORD>(b.size());
  if (leftThisMessage) *leftThisMessage = 0;
  return TRUE_;
}

BOOL SimProcesses::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  auto p = impl_->kernel.LookupAs<Process>(process);
  if (!p) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lk(impl_->kernel.Lock());
  if (exitCode) *exitCode = p->exitCode;
  return TRUE_;
}

BOOL SimProcesses::TerminateProcess(HANDLE process, UINT exitCode) {
  auto p = impl_->kernel.LookupAs<Process>(process);
  if (!p) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lk(impl_->kernel.Lock());
  if (p->exited) return TRUE_;
  if (p->script && p->script->refuseTerminate) return Fail(ERROR_ACCESS_DENIED);
  p->terminated = true;
  p->terminateCode = exitCode;
  impl_->kernel.NotifyLocked();
  return TRUE_;
}

}  // namespace plat::sim

// The demo's entry: the real window and real message boxes, over the simulated machine for
// everything behind the platform interface (disks, bridges, volumes, PowerShell, device
// notifications). Nothing real is touched but the working folder, which holds the settings, the
// logs and the exports as it does for the real program, and the files the save dialog names.
//
//   vrek_trim_tool_demo.exe [--machine FILE] [--tab trim|inspect|realtest]
//                           [--ready-file FILE] [--close-file FILE]
//
//   --machine     the machine description to build (docs/machine-description.md); without it,
//                 the built-in five-disk machine
//   --tab         the tab to show once the window is up, picked as the user picks it
//   --ready-file  written once the window is shown and laid out ("shown"), and again once the
//                 first disk refresh has filled the disk list ("filled N"); an error before the
//                 window is written there ("error: ...") instead of shown in a box
//   --close-file  once this file exists, the window is closed as by its close button
//
// The simulated machine keeps real time here, so timers, time-outs and progress look as on
// Windows. Its message boxes (the window's and the TRIM thread's own) are real boxes with the
// real owner window; its device notifications go to the real notification window through the
// toolkit's message loop (tk::PostWindowMessage). Web
// pages are not opened: the demo writes the address to the window log and to standard error.
// The save dialog is the real one: it opens on the host folder behind the machine's, and the
// file chosen in it is written where it shows (plat::sim::MachinePathForDialogFile).
#include <atomic>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/uUtf.h"
#include "core/uLogger.h"
#include "platform/sim/SimDialogPaths.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimMachineText.h"
#include "ui/main_program.h"
#include "ui/toolkit/uTkApplication.h"
#include "ui/toolkit/uTkModal.h"
#include "ui/uMainForm.h"

// Our constants first, then Windows' (see PlatformTypes.h).
#include <windows.h>
#include <shellapi.h>

namespace {

std::wstring Wide(const std::string& s) {
  const std::u16string u = Utf8ToUtf16(s);
  return std::wstring(u.begin(), u.end());
}

std::string Narrow(const std::wstring& s) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(s.data()), s.size()));
}

struct TDemoOptions {
  std::string MachineFile;
  int Tab = -1;  // -1: the window's own choice
  std::string ReadyFile;
  std::string CloseFile;
};

bool ParseOptions(TDemoOptions& O, std::string& Error) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; argv && i < argc; i++) args.push_back(Narrow(argv[i]));
  if (argv) LocalFree(argv);
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--machine" && hasValue) {
      O.MachineFile = args[++i];
    } else if (a == "--tab" && hasValue) {
      static const std::map<std::string, int> tabs = {{"trim", 0}, {"inspect", 1}, {"realtest", 2}};
      auto it = tabs.find(args[++i]);
      if (it == tabs.end()) {
        Error = "--tab takes trim, inspect or realtest, not '" + args[i] + "'";
        return false;
      }
      O.Tab = it->second;
    } else if (a == "--ready-file" && hasValue) {
      O.ReadyFile = args[++i];
    } else if (a == "--close-file" && hasValue) {
      O.CloseFile = args[++i];
    } else {
      Error =
          "unknown option '" + a +
          "'; the options are --machine FILE, --tab trim|inspect|realtest, --ready-file FILE, --close-file FILE";
      return false;
    }
  }
  return true;
}

// Host files, outside the simulated machine.
std::optional<std::string> ReadHostFile(const std::string& Path) {
  FILE* f = _wfopen(Wide(Path).c_str(), L"rb");
  if (!f) return std::nullopt;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  return text;
}

void WriteHostFile(const std::string& Path, const std::string& Text) {
  if (Path.empty()) return;
  if (FILE* f = _wfopen(Wide(Path).c_str(), L"wb")) {
    std::fwrite(Text.data(), 1, Text.size(), f);
    std::fclose(f);
  }
}

bool HostFileExists(const std::string& Path) {
  return !Path.empty() && GetFileAttributesW(Wide(Path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string LocaleText(LCTYPE Type, const std::string& Fallback) {
  wchar_t buf[16] = {};
  const int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, Type, buf, 16);
  return n > 1 ? Narrow(std::wstring(buf, static_cast<size_t>(n - 1))) : Fallback;
}

// The program's own version, as the real program reads it from its file.
std::string OwnFileVersion() {
  wchar_t path[MAX_PATH] = {};
  if (!GetModuleFileNameW(nullptr, path, MAX_PATH)) return "";
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &handle);
  if (!size) return "";
  std::vector<uint8_t> block(size);
  if (!GetFileVersionInfoW(path, 0, size, block.data())) return "";
  wchar_t* value = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\FileVersion", reinterpret_cast<void**>(&value),
                      &len) ||
      !value)
    return "";
  return Narrow(std::wstring(value, len && value[len - 1] == 0 ? len - 1 : len));
}

int64_t FileTimeMs(const SYSTEMTIME& St) {
  FILETIME ft;
  SystemTimeToFileTime(&St, &ft);
  return static_cast<int64_t>((uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / 10000);
}

// The machine's clock, user settings and working folder as this computer has them.
void TakeHostSettings(plat::sim::SimMachine& M) {
  M.Kernel().SetRealTime(true);
  SYSTEMTIME utc, local;
  GetSystemTime(&utc);
  GetLocalTime(&local);
  M.Kernel().SetUtcAtBoot(utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond, utc.wMilliseconds);
  M.Kernel().SetLocalOffsetMinutes(static_cast<int>((FileTimeMs(local) - FileTimeMs(utc) + 30000) / 60000));

  plat::sim::SimDesktop& d = M.Desktop();
  d.SetUiLanguage(GetUserDefaultUILanguage());
  d.SetSeparators(LocaleText(LOCALE_SDECIMAL, "."), LocaleText(LOCALE_STHOUSAND, ","));
  d.SetTimeSeparator(LocaleText(LOCALE_STIME, ":"));
  const std::string version = OwnFileVersion();
  if (!version.empty())
    d.SetVersionResource(d.ModulePath(), std::map<std::string, std::string>{{"FileVersion", version}});

  // The working folder is the real current directory, seen inside the machine where the real
  // program would be started from.
  wchar_t cwd[MAX_PATH] = {};
  const DWORD n = GetCurrentDirectoryW(MAX_PATH, cwd);
  std::string simCwd;
  M.Files().GetCurrentDirectoryW(&simCwd);
  if (n > 0 && n < MAX_PATH) M.Files().MountHostFolder(simCwd, Narrow(std::wstring(cwd, n)));
}

std::atomic<TMainForm*> g_form{nullptr};

// What the machine shows on its desktop goes to the real one.
void ConnectDesktop(plat::sim::SimMachine& M) {
  plat::sim::SimDesktop& d = M.Desktop();
  d.SetBoxHandler([](const plat::sim::MessageBoxCall& c) {
    return MessageBoxW(static_cast<HWND>(c.owner), Wide(c.text).c_str(), Wide(c.caption).c_str(), c.type);
  });
  d.SetShellHandler([](const plat::sim::ShellExecuteCall& c) -> intptr_t {
    const std::string line = "Demo: the web page is not opened: " + c.file;
    std::fprintf(stderr, "%s\n", line.c_str());
    if (TMainForm* form = g_form.load())
      if (form->Logger()) form->Logger()->Info(line);
    return 42;  // above 32: the shell took it
  });
  d.SetWindowMessageSink([](plat::HWND Wnd, plat::UINT Msg, plat::WPARAM W, plat::LPARAM L) {
    if (tk::HasBackend()) tk::PostWindowMessage(Wnd, Msg, W, L);
  });
}

// The save dialog shows this computer's folders, while the program writes the machine's.
void JoinDialogs(plat::sim::SimMachine& M) {
  tk::SetDialogPaths({[&M](const std::string& Folder) { return plat::sim::DialogFolderFor(M, Folder); },
                      [&M](const std::string& Chosen, std::string& Why) {
                        return plat::sim::MachinePathForDialogFile(M, Chosen, &Why);
                      }});
}

void Fail(const TDemoOptions& O, const std::string& Message) {
  std::fprintf(stderr, "vrek_trim_tool_demo: %s\n", Message.c_str());
  if (!O.ReadyFile.empty())
    WriteHostFile(O.ReadyFile, "error: " + Message + "\n");
  else
    MessageBoxW(nullptr, Wide(Message).c_str(), L"vrek_trim_tool demo", MB_ICONERROR | MB_OK);
}

// Reports the window's progress to --ready-file, picks --tab, and closes on --close-file.
void WatchWindow(TMainForm& Form, const TDemoOptions& O) {
  struct TState {
    bool Shown = false;
    bool Filled = false;
    bool Closing = false;
  };
  auto state = std::make_shared<TState>();
  // Posted after the window's own deferred layout, so it runs once that has run.
  tk::Application().PostDeferred([&Form, O, state] {
    if (O.Tab >= 0) Form.PageMain->UserSelectPage(O.Tab);
    state->Shown = true;
    WriteHostFile(O.ReadyFile, "shown\n");
  });
  if (O.ReadyFile.empty() && O.CloseFile.empty()) return;
  tk::TTimer* t = Form.AddTimer();
  t->SetInterval(100);
  t->OnTimer = [&Form, O, state](tk::TTimer*) {
    if (state->Shown && !state->Filled && Form.CmbDisk->ItemCount() > 0) {
      state->Filled = true;
      WriteHostFile(O.ReadyFile, "shown\nfilled " + std::to_string(Form.CmbDisk->ItemCount()) + "\n");
    }
    if (!state->Closing && HostFileExists(O.CloseFile)) {
      state->Closing = true;
      PostMessageW(static_cast<HWND>(Form.Handle()), WM_CLOSE, 0, 0);
    }
  };
  t->SetEnabled(true);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  TDemoOptions options;
  std::string error;
  if (!ParseOptions(options, error)) {
    Fail(options, error);
    return 2;
  }
  std::string text = plat::sim::BuiltInMachineText();
  if (!options.MachineFile.empty()) {
    auto read = ReadHostFile(options.MachineFile);
    if (!read) {
      Fail(options, "cannot read the machine description " + options.MachineFile);
      return 2;
    }
    text = *read;
  }

  // Built on this thread: the machine's main thread is the window's.
  plat::sim::SimMachine machine;
  if (!plat::sim::BuildMachineFromText(machine, text, &error)) {
    Fail(options,
         (options.MachineFile.empty() ? std::string("built-in machine") : options.MachineFile) + ", " + error);
    return 2;
  }
  TakeHostSettings(machine);
  ConnectDesktop(machine);
  JoinDialogs(machine);
  int rc;
  {
    plat::ScopedPlatform platform(&machine);
    TProgramHooks hooks;
    hooks.MainFormCreated = [&](TMainForm& Form) {
      g_form = &Form;
      WatchWindow(Form, options);
    };
    hooks.MainFormClosed = [](TMainForm&) { g_form = nullptr; };
    rc = RunProgram(hooks);
    g_form = nullptr;
    // The machine's threads run out while the machine is still installed.
    machine.Shutdown();
  }
  tk::SetDialogPaths({});
  return rc;
}

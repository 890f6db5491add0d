// The program's run, shared by the real program (main_win32.cpp) and the demo (main_demo.cpp),
// which differ only in the platform they install first: Windows itself, or the simulated machine.
#pragma once

#include <functional>

class TMainForm;

struct TProgramHooks {
  // The main window exists (its creation event has run); the loop has not started yet.
  std::function<void(TMainForm&)> MainFormCreated;
  // The loop has ended; the window is about to be destroyed.
  std::function<void(TMainForm&)> MainFormClosed;
};

// Over the installed platform: the main-thread dispatcher, the module start (the program's
// version; the language module starts with Korean), the toolkit's Win32 backend, the main window,
// the message loop until the window closes, then the window's destruction. Returns the exit code.
int RunProgram(const TProgramHooks& Hooks = {});

// The real program's entry: the Win32 platform, then RunProgram.
int ProgramMain();

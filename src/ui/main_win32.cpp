// The real program's entry: Windows itself behind the platform interface.
#include "platform/win32/Win32Platform.h"
#include "ui/main_program.h"

#include <windows.h>

int ProgramMain() {
  static plat::win32::Win32Platform platform;
  plat::InstallPlatform(&platform);
  return RunProgram();
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return ProgramMain(); }

// Program entry of the real build: installs the Win32 layer, then runs the program.
#include "platform/win32/Win32Platform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  static plat::win32::Win32Platform platform;
  plat::InstallPlatform(&platform);
  return 0;
}

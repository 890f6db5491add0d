// MultiByteToWideChar of the simulated machine: UTF-8, and as its ANSI code page Windows-1252
// (a western system's), which is what device texts are read in.
#pragma once

#include "platform/WinStorage.h"

namespace plat::sim {

// As Windows: srcLen -1 reads up to and with the NUL; dstLen 0 asks for the length; a buffer
// too small fails with ERROR_INSUFFICIENT_BUFFER. Returns the UTF-16 units written or needed.
int SimMultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, char16_t* dst, int dstLen);

}  // namespace plat::sim

// Our own spelling of the Windows types, constants and record layouts the program uses.
// Values are pinned against the real headers in the Win32 layer (win32/Win32Checks.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

using BOOL = int32_t;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using LONG = int32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using LANGID = uint16_t;
using HANDLE = void*;
using HWND = void*;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using HDEVINFO = void*;

constexpr BOOL TRUE_ = 1;
constexpr BOOL FALSE_ = 0;

// Handles with fixed values, as Windows defines them.
inline HANDLE InvalidHandleValue() { return reinterpret_cast<HANDLE>(~uintptr_t(0)); }
#define VT_INVALID_HANDLE_VALUE (::plat::InvalidHandleValue())
// Calls that fail return one or the other, depending on the call.
inline bool IsValidHandle(HANDLE h) { return h != nullptr && h != InvalidHandleValue(); }

// Constants keep their Windows names; a TU that includes <windows.h> must include this header first.
// Windows error codes.
enum : DWORD {
  ERROR_SUCCESS = 0,
  ERROR_INVALID_FUNCTION = 1,
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_PATH_NOT_FOUND = 3,
  ERROR_TOO_MANY_OPEN_FILES = 4,
  ERROR_ACCESS_DENIED = 5,
  ERROR_INVALID_HANDLE = 6,
  ERROR_NOT_ENOUGH_MEMORY = 8,
  ERROR_INVALID_DATA = 13,
  ERROR_NO_MORE_FILES = 18,
  ERROR_WRITE_PROTECT = 19,
  ERROR_NOT_READY = 21,
  ERROR_BAD_COMMAND = 22,
  ERROR_CRC = 23,
  ERROR_BAD_LENGTH = 24,
  ERROR_SECTOR_NOT_FOUND = 27,
  ERROR_WRITE_FAULT = 29,
  ERROR_READ_FAULT = 30,
  ERROR_GEN_FAILURE = 31,
  ERROR_SHARING_VIOLATION = 32,
  ERROR_LOCK_VIOLATION = 33,
  ERROR_HANDLE_EOF = 38,
  ERROR_HANDLE_DISK_FULL = 39,
  ERROR_NOT_SUPPORTED = 50,
  ERROR_BAD_NETPATH = 53,
  ERROR_DEV_NOT_EXIST = 55,
  ERROR_FILE_EXISTS = 80,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_BROKEN_PIPE = 109,
  ERROR_DISK_FULL = 112,
  ERROR_CALL_NOT_IMPLEMENTED = 120,
  ERROR_SEM_TIMEOUT = 121,
  ERROR_INSUFFICIENT_BUFFER = 122,
  ERROR_INVALID_NAME = 123,
  ERROR_NEGATIVE_SEEK = 131,
  ERROR_DIR_NOT_EMPTY = 145,
  ERROR_BUSY = 170,
  ERROR_ALREADY_EXISTS = 183,
  ERROR_MORE_DATA = 234,
  ERROR_WAIT_TIMEOUT = 258,
  ERROR_NO_MORE_ITEMS = 259,
  ERROR_DIRECTORY = 267,
  ERROR_OPERATION_ABORTED = 995,
  ERROR_IO_PENDING = 997,
  ERROR_NOACCESS = 998,
  ERROR_UNRECOGNIZED_VOLUME = 1005,
  ERROR_MEDIA_CHANGED = 1110,
  ERROR_NO_MEDIA_IN_DRIVE = 1112,
  ERROR_IO_DEVICE = 1117,
  ERROR_DEVICE_NOT_CONNECTED = 1167,
  ERROR_NOT_FOUND = 1168,
  ERROR_NO_SYSTEM_RESOURCES = 1450,
  ERROR_INVALID_USER_BUFFER = 1784,
  ERROR_TIMEOUT = 1460,
  ERROR_RESOURCE_TYPE_NOT_FOUND = 1813,
  ERROR_RESOURCE_NAME_NOT_FOUND = 1814,
};

// File access and creation.
enum : DWORD {
  GENERIC_READ = 0x80000000u,
  GENERIC_WRITE = 0x40000000u,
  GENERIC_ALL = 0x10000000u,
  FILE_READ_DATA = 0x1,
  FILE_WRITE_DATA = 0x2,
  FILE_APPEND_DATA = 0x4,  // without FILE_WRITE_DATA: every write goes to the end of the file
  DELETE = 0x10000,
  FILE_SHARE_READ = 0x1,
  FILE_SHARE_WRITE = 0x2,
  FILE_SHARE_DELETE = 0x4,
  CREATE_NEW = 1,
  CREATE_ALWAYS = 2,
  OPEN_EXISTING = 3,
  OPEN_ALWAYS = 4,
  TRUNCATE_EXISTING = 5,
  FILE_ATTRIBUTE_READONLY = 0x1,
  FILE_ATTRIBUTE_HIDDEN = 0x2,
  FILE_ATTRIBUTE_SYSTEM = 0x4,
  FILE_ATTRIBUTE_DIRECTORY = 0x10,
  FILE_ATTRIBUTE_ARCHIVE = 0x20,
  FILE_ATTRIBUTE_NORMAL = 0x80,
  FILE_ATTRIBUTE_REPARSE_POINT = 0x400,
  FILE_FLAG_WRITE_THROUGH = 0x80000000u,
  FILE_FLAG_NO_BUFFERING = 0x20000000u,
  FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000u,
  INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu,
  INVALID_FILE_SIZE = 0xFFFFFFFFu,
  FILE_BEGIN = 0,
  FILE_CURRENT = 1,
  FILE_END = 2,
  INVALID_SET_FILE_POINTER = 0xFFFFFFFFu,
};

// Waiting and threads.
enum : DWORD {
  INFINITE = 0xFFFFFFFFu,
  WAIT_OBJECT_0 = 0,
  WAIT_ABANDONED = 0x80,
  WAIT_TIMEOUT = 258,
  WAIT_FAILED = 0xFFFFFFFFu,
  CREATE_SUSPENDED = 0x4,
  STACK_SIZE_PARAM_IS_A_RESERVATION = 0x10000,
  STILL_ACTIVE = 259,
};

// Messages and locale.
enum : DWORD {
  FORMAT_MESSAGE_IGNORE_INSERTS = 0x200,
  FORMAT_MESSAGE_FROM_SYSTEM = 0x1000,
  LOCALE_USER_DEFAULT = 0x0400,
  LOCALE_SDECIMAL = 0x0E,
  LOCALE_STHOUSAND = 0x0F,
  LOCALE_STIME = 0x1E,
};

// Message boxes.
enum : UINT {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_YESNOCANCEL = 0x3,
  MB_YESNO = 0x4,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONWARNING = 0x30,
  MB_ICONINFORMATION = 0x40,
  MB_DEFBUTTON2 = 0x100,
  MB_SYSTEMMODAL = 0x1000,
  MB_TASKMODAL = 0x2000,
  MB_SETFOREGROUND = 0x10000,
  MB_TOPMOST = 0x40000,
};
enum : int32_t { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// Standard handles and handle information.
enum : DWORD {
  STD_INPUT_HANDLE = 0xFFFFFFF6u,   // (DWORD)-10
  STD_OUTPUT_HANDLE = 0xFFFFFFF5u,  // (DWORD)-11
  STD_ERROR_HANDLE = 0xFFFFFFF4u,   // (DWORD)-12
  HANDLE_FLAG_INHERIT = 0x1,
  STARTF_USESHOWWINDOW = 0x1,
  STARTF_USESTDHANDLES = 0x100,
  CREATE_NO_WINDOW = 0x08000000u,
  SW_HIDE = 0,
  SW_SHOWNORMAL = 1,
  SEM_FAILCRITICALERRORS = 0x1,
  SEM_NOOPENFILEERRORBOX = 0x8000,
};

// SYSTEMTIME: eight 16-bit fields.
struct SYSTEMTIME {
  WORD wYear = 0;
  WORD wMonth = 0;
  WORD wDayOfWeek = 0;
  WORD wDay = 0;
  WORD wHour = 0;
  WORD wMinute = 0;
  WORD wSecond = 0;
  WORD wMilliseconds = 0;
};
static_assert(sizeof(SYSTEMTIME) == 16);

struct GUID {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  uint8_t Data4[8] = {};
};
static_assert(sizeof(GUID) == 16);

// What FindFirstFileW/FindNextFileW report of one entry (names in UTF-8).
// (Named apart from WIN32_FIND_DATA, STARTUPINFO, which are macros in <windows.h>.)
struct FIND_DATA {
  DWORD dwFileAttributes = 0;
  ULONGLONG nFileSize = 0;
  std::string cFileName;
};

// CreateProcessW's start-up record, reduced to the fields the program sets.
struct STARTUP_INFO {
  DWORD dwFlags = 0;
  WORD wShowWindow = 0;
  HANDLE hStdInput = nullptr;
  HANDLE hStdOutput = nullptr;
  HANDLE hStdError = nullptr;
};
struct PROCESS_INFO {
  HANDLE hProcess = nullptr;
  HANDLE hThread = nullptr;
  DWORD dwProcessId = 0;
  DWORD dwThreadId = 0;
};

// Thread entry as CreateThread takes it.
using LPTHREAD_START_ROUTINE = DWORD (*)(void* param);

}  // namespace plat

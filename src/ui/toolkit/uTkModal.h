// Every modal interaction of the program with the person goes through here: message boxes, the
// text-input dialog, the save-file dialog and opening a web page. So both backends, the demo and
// the tests see the same calls.
//
// Message boxes and web pages go to the platform (MessageBoxW and ShellExecuteW of plat::Win()):
// on Windows the real ones; on the simulated machine its desktop, which answers them from the
// tests' script (and, in the demo, shows real boxes). The two dialogs go to the backend: real
// dialogs in the Win32 backend, the same script in the headless one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ui/toolkit/uTkApplication.h"

namespace tk {

// MessageBoxW with the form's window as owner (none when Owner is null); Type is the MB_ flags.
// Returns the Windows result (IDOK 1, IDCANCEL 2, IDYES 6, IDNO 7; 0 when the box failed).
int MessageBox(TForm* Owner, const std::string& Text, const std::string& Caption, uint32_t Type);

// A modal dialog with Caption, the Prompt above one edit field holding Value, OK and Cancel.
// True with the edited Value on OK; false (Value unchanged) on Cancel or when closed.
bool InputQuery(TForm* Owner, const std::string& Caption, const std::string& Prompt, std::string& Value);

// The save-file dialog. It never changes the process's current directory. True with the chosen
// full path; false when cancelled.
bool SaveFileDialog(TForm* Owner, const TSaveDialogOptions& Options, std::string& Path);

// Where the program's files are not the dialog's (the demo: the simulated machine's against this
// computer's folders), the save dialog's paths go through these. ToDialog gives the folder the
// dialog opens on for the program's InitialDir; FromDialog the program's path for the file the
// dialog chose, or "" with the reason, which a warning box shows before the dialog opens again.
// Unset members pass paths unchanged.
struct TDialogPaths {
  std::function<std::string(const std::string& Folder)> ToDialog;
  std::function<std::string(const std::string& Chosen, std::string& Why)> FromDialog;
};
// Returns the ones it replaces.
TDialogPaths SetDialogPaths(TDialogPaths Paths);

// Opens Url with the system's default handler (ShellExecuteW, verb "open", no owner, no
// parameters, no folder, SW_SHOWNORMAL); the result is not looked at.
void OpenUrl(const std::string& Url);

}  // namespace tk

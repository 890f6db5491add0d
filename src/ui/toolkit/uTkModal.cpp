// The one place of the program's modal interactions (see uTkModal.h).
#include "ui/toolkit/uTkModal.h"

#include "platform/Platform.h"

namespace tk {

int MessageBox(TForm* Owner, const std::string& Text, const std::string& Caption, uint32_t Type) {
  return plat::Win().MessageBoxW(Owner ? Owner->Handle() : nullptr, Text, Caption, Type);
}

bool InputQuery(TForm* Owner, const std::string& Caption, const std::string& Prompt, std::string& Value) {
  // The caller's value changes only on OK.
  std::string edited = Value;
  if (!Backend().InputQuery(Owner, Caption, Prompt, edited)) return false;
  Value = edited;
  return true;
}

bool SaveFileDialog(TForm* Owner, const TSaveDialogOptions& Options, std::string& Path) {
  // Reports are written under the current directory, so the dialog must leave it as it was,
  // whatever the dialog (or a shell extension inside it) did.
  std::string before;
  const bool known = plat::Win().GetCurrentDirectoryW(&before) != 0;
  std::string chosen;
  const bool ok = Backend().SaveFileDialog(Owner, Options, chosen) && !chosen.empty();
  std::string after;
  if (known && plat::Win().GetCurrentDirectoryW(&after) != 0 && after != before)
    plat::Win().SetCurrentDirectoryW(before);
  if (ok) Path = chosen;
  return ok;
}

void OpenUrl(const std::string& Url) {
  plat::Win().ShellExecuteW(nullptr, "open", Url, "", "", plat::SW_SHOWNORMAL);
}

}  // namespace tk

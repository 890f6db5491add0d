// The one place of the program's modal interactions (see uTkModal.h).
#include "ui/toolkit/uTkModal.h"

#include <utility>

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

namespace {

TDialogPaths& DialogPaths() {
  static TDialogPaths Paths;
  return Paths;
}

}  // namespace

TDialogPaths SetDialogPaths(TDialogPaths Paths) {
  std::swap(DialogPaths(), Paths);
  return Paths;
}

bool SaveFileDialog(TForm* Owner, const TSaveDialogOptions& Options, std::string& Path) {
  const TDialogPaths& Map = DialogPaths();
  TSaveDialogOptions Shown = Options;
  if (Map.ToDialog) Shown.InitialDir = Map.ToDialog(Options.InitialDir);
  for (;;) {
    // Reports are written under the current directory, so the dialog must leave it as it was,
    // whatever the dialog (or a shell extension inside it) did.
    std::string before;
    const bool known = plat::Win().GetCurrentDirectoryW(&before) != 0;
    std::string chosen;
    const bool ok = Backend().SaveFileDialog(Owner, Shown, chosen) && !chosen.empty();
    std::string after;
    if (known && plat::Win().GetCurrentDirectoryW(&after) != 0 && after != before)
      plat::Win().SetCurrentDirectoryW(before);
    if (!ok) return false;
    if (!Map.FromDialog) {
      Path = chosen;
      return true;
    }
    std::string Why;
    const std::string Mapped = Map.FromDialog(chosen, Why);
    if (!Mapped.empty()) {
      Path = Mapped;
      return true;
    }
    MessageBox(Owner, Why, Options.Title, plat::MB_ICONWARNING | plat::MB_OK);
  }
}

void OpenUrl(const std::string& Url) {
  plat::Win().ShellExecuteW(nullptr, "open", Url, "", "", plat::SW_SHOWNORMAL);
}

}  // namespace tk

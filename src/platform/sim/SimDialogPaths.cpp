#include "platform/sim/SimDialogPaths.h"

#include "platform/sim/SimMachine.h"

namespace plat::sim {

namespace {

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string DialogFolderFor(SimMachine& machine, const std::string& machineFolder) {
  if (machineFolder.empty()) return {};
  return machine.Files().HostPathOf(machineFolder);
}

std::string MachinePathForDialogFile(SimMachine& machine, const std::string& hostFile, std::string* why) {
  std::string path = machine.Files().WindowsPathOfHost(hostFile);
  if (!path.empty()) return path;
  const bool onDrive = hostFile.size() >= 3 && IsDriveLetter(hostFile[0]) && hostFile[1] == ':' &&
                       (hostFile[2] == '\\' || hostFile[2] == '/');
  if (!onDrive) {
    *why = hostFile +
           " is not on a drive letter; the demo's simulated machine reaches this computer's files only on its "
           "drives.";
    return {};
  }
  const char letter = Upper(hostFile[0]);
  if (machine.Discovery().GetLogicalDrives() & (1u << (letter - 'A'))) {
    const std::string work = machine.Files().HostPathOf(".");
    *why = std::string("The demo's simulated machine has a drive ") + letter +
           ": of its own, so it cannot write " + hostFile + " on this computer. Choose a folder below " +
           (work.empty() ? std::string("its working folder") : work) +
           " (its working folder) or on a drive that the machine does not have.";
    return {};
  }
  const std::string root = std::string(1, letter) + ":\\";
  machine.Files().AddDrive(letter);
  machine.Files().MountHostFolder(root, root);
  path = machine.Files().WindowsPathOfHost(hostFile);
  if (path.empty()) *why = "The demo's simulated machine could not reach " + hostFile + ".";
  return path;
}

}  // namespace plat::sim

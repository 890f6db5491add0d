// The demo's file dialogs are this computer's own: they show its folders, while the program
// reads and writes the simulated machine's. These join the two through host folders that the
// machine's file system mounts (SimFileSystem::MountHostFolder), so that what the dialog shows
// is what the program writes to.
#pragma once

#include <string>

namespace plat::sim {

class SimMachine;

// The folder of this computer that a dialog opens on for a folder of the machine: the host
// folder mounted there or above it; "" (the dialog's own choice) when the folder is the
// machine's alone.
std::string DialogFolderFor(SimMachine& machine, const std::string& machineFolder);

// The machine's path for a file chosen in the dialog (a Windows path of this computer): below a
// mounted host folder, its path there; on a drive that the machine does not have, the same
// path, the drive being mounted whole from then on. Any other drive is the machine's own (its
// system drive, its disks' volumes, where the real test writes): mounting over it would hide
// its files, or send the test's files to a real disk, so such a file, and one named without a
// drive, is refused: "" with the reason in *why.
std::string MachinePathForDialogFile(SimMachine& machine, const std::string& hostFile, std::string* why);

}  // namespace plat::sim

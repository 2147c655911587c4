// Ctrl-C handling: the first SIGINT/SIGTERM sets a flag that every progress
// callback turns into the cancel code; a second one ends the process.
#pragma once

namespace qm::cli {

void InstallInterruptHandler();
bool Interrupted();

}  // namespace qm::cli

// Per-user folders.
#pragma once

#include <filesystem>

namespace qm {

// The folder that holds every scan's logs as the environment names it now
// (Environment::scanLogFolder). Not created here.
std::filesystem::path ScanLogFolder();

}  // namespace qm

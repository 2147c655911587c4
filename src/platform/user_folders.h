// Per-user folders.
#pragma once

#include <filesystem>

namespace qm {

// The folder that holds every scan's logs: $QUILLMARK_DATA_DIR when set,
// else $XDG_DATA_HOME/Quillmark Pro/ScanLog (default ~/.local/share/...).
// Not created here.
std::filesystem::path ScanLogFolder();

}  // namespace qm

#include "platform/user_folders.h"

#include "platform/environment.h"

namespace qm {

std::filesystem::path ScanLogFolder() { return Environment::Read().scanLogFolder; }

}  // namespace qm

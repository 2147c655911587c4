#include "app/preview_state.h"

#include <filesystem>
#include <system_error>

#include "platform/user_folders.h"

namespace qm {

void PreviewState::RemoveTemporaryFiles() {
  std::error_code ignored;
  if (!tempPath.empty()) std::filesystem::remove(tempPath, ignored);
  tempPath.clear();
  std::filesystem::remove(ScanLogFolder() / "tmp.jpg", ignored);
}

}  // namespace qm

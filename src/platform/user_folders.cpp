#include "platform/user_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace qm {

std::filesystem::path ScanLogFolder() {
  if (const char* dir = std::getenv("QUILLMARK_DATA_DIR"); dir && *dir) return dir;
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      if (const passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
    }
    base = std::filesystem::path(home ? home : "/tmp") / ".local" / "share";
  }
  return base / "Quillmark Pro" / "ScanLog";
}

}  // namespace qm

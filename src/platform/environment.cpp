#include "platform/environment.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace qm {

namespace {

std::vector<std::string> SplitPaths(const std::string& list) {
  std::vector<std::string> paths;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) paths.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return paths;
}

std::filesystem::path ScanLogFolderFrom(const char* dataDir, const char* xdgDataHome,
                                        const char* home) {
  if (dataDir && *dataDir) return dataDir;
  std::filesystem::path base;
  if (xdgDataHome && *xdgDataHome) {
    base = xdgDataHome;
  } else {
    if (!home || !*home) {
      if (const passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
    }
    base = std::filesystem::path(home ? home : "/tmp") / ".local" / "share";
  }
  return base / "Quillmark Pro" / "ScanLog";
}

}  // namespace

Environment Environment::Read() {
  Environment env;
  if (const char* disks = std::getenv("QUILLMARK_DISKS")) {
    env.disksFixed = true;
    env.disks = SplitPaths(disks);
  }
  env.scanLogFolder = ScanLogFolderFrom(std::getenv("QUILLMARK_DATA_DIR"),
                                        std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
  if (const char* seconds = std::getenv("QUILLMARK_DEEP_SAVE_SECONDS")) env.deepSaveSeconds = seconds;
  if (const char* share = std::getenv("QUILLMARK_SHARE_DIR")) env.shareDir = share;
  if (const char* skin = std::getenv("QUILLMARK_SKIN_DIR")) env.skinDir = skin;
  return env;
}

}  // namespace qm

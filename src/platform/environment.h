// The settings the program takes from environment variables. They are read
// here and nowhere else: a front end reads them once at start-up and hands
// what it made of them (its disk table, its scan history) down to the code
// below it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qm {

struct Environment {
  // QUILLMARK_DISKS: paths joined with ':' that replace the disk table, so
  // that image files or loop devices can stand in for drives. Set (even
  // empty) it fixes the table: device changes do not touch it.
  bool disksFixed = false;
  std::vector<std::string> disks;
  // The folder holding every scan's logs: $QUILLMARK_DATA_DIR when set, else
  // $XDG_DATA_HOME/Quillmark Pro/ScanLog (default ~/.local/share/...).
  std::filesystem::path scanLogFolder;
  // QUILLMARK_DEEP_SAVE_SECONDS as given (empty when not set): how often a
  // deep scan saves its position, a test and debugging knob.
  std::string deepSaveSeconds;
  // The desktop application's own: QUILLMARK_SHARE_DIR, a folder holding
  // config.ini, Languages/ and help/ in place of the installed ones, and
  // QUILLMARK_SKIN_DIR, a folder of layouts and images that replaces the
  // built-in skin. Empty when not set.
  std::string shareDir;
  std::string skinDir;

  // The variables as they are set now.
  static Environment Read();
};

}  // namespace qm

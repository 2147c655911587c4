// Runs quillmark-cli as a user would, with an empty disk table so that no
// test ever reads the machine's own disks.
#pragma once

#include <string>

#include "support/test_support.h"

namespace qm::test {

inline int Cli(const std::string& args, std::string* output) {
  return Run(std::string("QUILLMARK_DISKS= ") + Quote(QUILLMARK_CLI_PATH) + " " + args, output);
}

}  // namespace qm::test

#pragma once

#include <filesystem>

namespace qm::testing {

// The temporary folder the application tests run in: share/ holds the
// shipped config.ini, Languages/ and help/, config/ is the user's
// configuration.
const std::filesystem::path& AppTestFolder();

}  // namespace qm::testing

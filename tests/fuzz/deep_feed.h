// Hands every sector of a mutated image to a file-system deep engine the
// way the combined deep pass does: each sector is classified, and file
// records, folder starts and directory sectors go to the engine; then the
// engine finishes and its results are listed and recovered.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engines/deep/deep_file_system_engine.h"

namespace qm::fuzz {

void RunDeepEngine(DeepFileSystemEngine& engine, const uint8_t* data, size_t size);

}  // namespace qm::fuzz

// Chooses and opens the engine for a partition or an image from what its
// first 16 KiB hold.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engines/file_recovery_parse.h"
#include "engines/volume_classifier.h"

namespace qm {

class EngineFactory {
 public:
  // Drive `driveIndex` of the context's disk table, the volume at
  // startSector. The engine is given the context before it is opened.
  // Null when the drive cannot be read, a quick scan meets an unknown file
  // system (or an engine that this build does not have yet), or the engine
  // refuses to open the volume. `error`, when given, receives 0 or why:
  // the source's open error, the read error when its start could not be
  // read, 87 when no engine fits (an empty source included) or the context
  // names no disk table, else the engine's own open result.
  static std::unique_ptr<IFileRecoveryParse> CreateEngineForPartition(
      int driveIndex, uint64_t startSector, uint64_t sectorCount, uint16_t volumeLetter,
      bool deep, int* error, const EngineContext& context);
  static std::unique_ptr<IFileRecoveryParse> CreateEngineForImage(
      const std::string& imagePath, uint16_t imageTag, bool deep, int* error,
      const EngineContext& context);

  // The class the factory picks for a volume kind and scan mode; null when
  // there is none. Exposed so the choice can be tested on its own.
  static std::unique_ptr<IFileRecoveryParse> MakeEngine(VolumeKind kind, bool deep);
};

}  // namespace qm

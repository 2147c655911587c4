#include "engines/engine_factory.h"

#include <algorithm>
#include <vector>

#include "disk/sector_source.h"
#include "disk/volume_flush.h"
#include "engines/deep/professional_recovery.h"
#include "engines/fast_ext_recovery.h"
#include "engines/fat/fast_fat_recovery.h"
#include "engines/ntfs/fast_ntfs_recovery.h"
#include "platform/errors.h"

namespace qm {

namespace {

// Reads the first 16 KiB of the volume (less when the volume is smaller) and
// classifies it. Returns 0; 87 when the source holds no sector there (an
// empty or too short image: no engine fits it); or the read error.
int ClassifyAt(const SectorSource& source, uint64_t startSector, uint64_t sectorCount,
               uint32_t sectorSize, VolumeKind& kind) {
  uint64_t want = kClassifyBytes / sectorSize;
  if (want == 0) want = 1;
  if (sectorCount != 0) want = std::min(want, sectorCount);
  if (startSector >= source.totalSectors()) return err::kInvalidParameter;
  want = std::min<uint64_t>(want, source.totalSectors() - startSector);
  std::vector<uint8_t> buffer(std::max<size_t>(kClassifyBytes, want * sectorSize), 0);
  uint32_t got = 0;
  int rc = source.ReadSectors(static_cast<uint32_t>(want), buffer.data(), startSector, sectorSize,
                              &got);
  if (rc != 0 || got == 0) return rc != 0 ? rc : err::kReadFault;
  kind = ClassifyVolume(buffer.data(), uint64_t{got} * sectorSize);
  return err::kSuccess;
}

}  // namespace

std::unique_ptr<IFileRecoveryParse> EngineFactory::MakeEngine(VolumeKind kind, bool deep) {
  // A deep scan works on any volume: on an unknown one it carves, on FAT
  // and NTFS it runs their quick scan first.
  if (deep) return std::make_unique<CProfessionalRecovery>();
  switch (kind) {
    case VolumeKind::kNtfs: return std::make_unique<CFastNtfsRecovery>();
    case VolumeKind::kFat12_16:
    case VolumeKind::kFat32: return std::make_unique<CFastFatRecovery>();
    case VolumeKind::kExt: return std::make_unique<CFastExtRecovery>();
    default: return nullptr;
  }
}

namespace {

// What both entries share once the source is open: classify the volume's
// start, pick the class, hand it the context and let it open the volume
// (`open` calls OpenDisk or OpenImage). The source is closed before the
// engine opens its own.
template <typename OpenVolume>
std::unique_ptr<IFileRecoveryParse> ClassifyMakeOpen(SectorSource& source, uint64_t startSector,
                                                     uint64_t sectorCount, uint32_t sectorSize,
                                                     bool deep, const EngineContext& context,
                                                     int& rc, OpenVolume&& open) {
  VolumeKind kind = VolumeKind::kUnknown;
  // An unreadable start is no reason to refuse a deep scan: it reads on.
  if ((rc = ClassifyAt(source, startSector, sectorCount, sectorSize, kind)) != 0 &&
      (!deep || rc != err::kReadFault))
    return nullptr;
  source.Close();
  auto engine = EngineFactory::MakeEngine(kind, deep);
  if (!engine) {
    rc = err::kInvalidParameter;
    return nullptr;
  }
  // An engine that cannot open its volume is of no use to the caller; its
  // own result says why (a sector size it cannot read, a damaged boot sector).
  engine->SetContext(context);
  if ((rc = open(*engine)) != 0) return nullptr;
  return engine;
}

}  // namespace

std::unique_ptr<IFileRecoveryParse> EngineFactory::CreateEngineForPartition(
    int driveIndex, uint64_t startSector, uint64_t sectorCount, uint16_t volumeLetter, bool deep,
    int* error, const EngineContext& context) {
  int ignored = 0;
  int& rc = error ? *error : ignored;
  if (context.diskTable == nullptr) {
    rc = err::kInvalidParameter;
    return nullptr;
  }
  SectorSource source;
  if ((rc = source.OpenPhysicalDriveSource(*context.diskTable, driveIndex)) != 0) return nullptr;
  const uint32_t sectorSize = source.info().sectorSize ? source.info().sectorSize : 512;
  // Cached writes of a mounted volume must reach the disk before a raw read.
  FlushVolumeAt(source.path(), startSector, sectorSize);
  return ClassifyMakeOpen(source, startSector, sectorCount, sectorSize, deep, context, rc,
                          [&](IFileRecoveryParse& engine) {
                            return engine.OpenDisk(driveIndex, startSector, sectorCount,
                                                   volumeLetter);
                          });
}

std::unique_ptr<IFileRecoveryParse> EngineFactory::CreateEngineForImage(
    const std::string& imagePath, uint16_t imageTag, bool deep, int* error,
    const EngineContext& context) {
  int ignored = 0;
  int& rc = error ? *error : ignored;
  SectorSource source;
  if ((rc = source.OpenImageSource(imagePath)) != 0) return nullptr;
  return ClassifyMakeOpen(source, 0, 0, 512, deep, context, rc,
                          [&](IFileRecoveryParse& engine) {
                            return engine.OpenImage(imagePath, imageTag);
                          });
}

}  // namespace qm

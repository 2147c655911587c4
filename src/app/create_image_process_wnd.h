// Copies a partition or a whole disk, sector by sector, into an image file.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/process_wnd.h"
#include "disk/drive_copier.h"

class QLabel;
class QProgressBar;

namespace qm {

// What to copy: a range of a drive of the disk table (count 0 = to its
// end), or of a device or file named by path.
struct ImageCopySource {
  int driveIndex = -1;
  std::string sourcePath;  // used when driveIndex is -1
  uint64_t startSector = 0;
  uint64_t sectorCount = 0;
  uint32_t sectorSize = 512;
};

class CCreateImageProcessWnd final : public CProcessWnd {
  Q_OBJECT
 public:
  ~CCreateImageProcessWnd() override { StopWorker(); }

  // Null when the layout cannot be loaded; `error` says why.
  static std::unique_ptr<CCreateImageProcessWnd> Create(ImageCopySource source, QString imagePath,
                                                        QWidget* owner, QString* error = nullptr);

  // After the window closed: the copier's result (0, the cancel code, or why
  // it failed; 30 when unreadable sectors were written as zeros) and those
  // sectors.
  int CopyResult() const { return copyResult_; }
  const std::vector<SectorRange>& Unreadable() const { return job_.unreadable; }

 private:
  struct Figures {
    int percent = 0;
    uint64_t done = 0;
    uint64_t total = 0;
    int64_t secondsLeft = -1;
  };

  CCreateImageProcessWnd(ImageCopySource source, QString imagePath, QWidget* owner);
  static int OnCopyProgress(void* user, int percent, uint64_t doneSectors, uint64_t totalSectors,
                            int64_t secondsLeft);
  void Run() override;
  void ShowFigures() override;
  QString CancelQuestion() const override { return Message("MSG0306"); }

  ImageCopySource source_;
  QString imagePath_;
  DriveCopyJob job_;
  int copyResult_ = 0;  // written by the worker before it finishes
  QLabel* percent_ = nullptr;
  QLabel* time_ = nullptr;
  QLabel* sectors_ = nullptr;
  QProgressBar* progress_ = nullptr;
  Figures figures_;  // under lock_
};

}  // namespace qm

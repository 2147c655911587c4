// One preview: the file being shown, where its copy went, and what the
// copy-out worker made of it, ready for the UI thread to show.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <string>

#include "app/scan_item.h"
#include "results/found_file_record.h"

namespace qm {

// How much of a file without a viewer is copied into memory for its dump.
inline constexpr uint32_t kPreviewBufferBytes = 8192;

// Whether two records name the same found file: its place in its engine's
// main file names it (entry numbers repeat across volumes, and carved files
// all have 0).
inline bool SameFoundFile(const FoundFileRecord& a, const FoundFileRecord& b) {
  return a.volumeLetter == b.volumeLetter && a.engineKind == b.engineKind && a.recordIndex == b.recordIndex;
}

struct PreviewState {
  // What is shown.
  enum class Shown {
    kNothing,   // cancelled, or the copy-out failed (`error` says why)
    kMedia,     // played from `tempPath`
    kPicture,   // `picture`, a photo or a PDF's first page
    kText,      // `text`, from a document converter
    kDump,      // `bytes`, as a byte dump
  };

  FoundFileRecord record{};
  ScanItemPtr item;   // owns the engine that found the record
  std::string tempPath;  // the copy in the ScanLog folder; empty when copied to memory
  QByteArray bytes;   // the start of the file, when copied to memory (or a document's, for its dump)
  bool isMedia = false;
  bool isAudio = false;
  bool isDocument = false;
  bool isPdf = false;

  Shown shown = Shown::kNothing;
  QImage picture;
  bool pictureDamaged = false;  // a picture copy that does not decode
  QString text;
  int error = 0;                // the copy-out's error when it failed

  // Forgets what the last preview showed.
  void ClearShown() {
    shown = Shown::kNothing;
    picture = QImage();
    pictureDamaged = false;
    text.clear();
    bytes.clear();
  }
  // Deletes the copy of the last preview, and the page picture a PDF
  // preview leaves, so each preview starts clean.
  void RemoveTemporaryFiles();
};

}  // namespace qm

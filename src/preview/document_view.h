// Documents found by a scan are previewed as text (PDF as the picture of its
// first page). One converter per family of formats sits behind
// IDocumentView; ChooseConverter picks it by the file's extension.
#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stop_token>

namespace qm {

// Results of IDocumentView::Convert other than 0.
inline constexpr int kConvertNothingOut = 87;  // no text or picture came out
inline constexpr int kConvertToolMissing = 2;  // the helper program is not installed

// How much of a document the preview shows.
inline constexpr int kPreviewTextChars = 2048;
inline constexpr int kPreviewSheetRows = 10;
inline constexpr int kPreviewSheetColumns = 10;
inline constexpr int kPreviewSlides = 20;

// Recovered files are often truncated or hostile: nothing read into memory
// may grow past these, however the file describes itself.
inline constexpr std::int64_t kMaxPackageMemberBytes = 32LL << 20;
inline constexpr std::int64_t kMaxToolOutputBytes = 4LL << 20;
inline constexpr int kToolTimeLimitMs = 10'000;

class IDocumentView {
 public:
  virtual ~IDocumentView() = default;
  // Turns the file at `path` into preview text; 0 on success. Each call
  // stands alone and leaves nothing running behind it.
  virtual int Convert(const std::filesystem::path& path, QString& text) = 0;
};

// The converter for an extension (".docx"; the file-type table decides,
// by the whole extension), or null when it is not a previewed document. `pictureFolder` receives the page
// picture of a PDF ("tmp.jpg"); `stop` cuts a running conversion short.
std::unique_ptr<IDocumentView> ChooseConverter(const QString& lowerExtension,
                                               const std::filesystem::path& pictureFolder,
                                               std::stop_token stop = {});

}  // namespace qm

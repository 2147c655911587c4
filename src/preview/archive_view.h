// Archives are previewed as the list of their entries: name and size under
// a "-------------------" line.
#pragma once

#include <stop_token>

#include "preview/document_view.h"

namespace qm {

class ArchiveView final : public IDocumentView {
 public:
  explicit ArchiveView(std::stop_token stop) : stop_(std::move(stop)) {}
  // A damaged archive still shows the entries listed before the damage;
  // kConvertNothingOut only when not one entry could be listed.
  int Convert(const std::filesystem::path& path, QString& text) override;

  static constexpr const char* kSeparator = "-------------------";
  // A listing longer than this is cut; the preview cannot show more.
  static constexpr int kMaxEntries = 10'000;

 private:
  std::stop_token stop_;
};

}  // namespace qm

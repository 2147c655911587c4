#include "preview/zip_package.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>

#include "preview/document_view.h"

namespace qm {

std::optional<PackageParts> ReadPackageParts(const std::filesystem::path& path,
                                             const std::function<bool(const std::string&)>& wanted,
                                             std::stop_token stop) {
  std::unique_ptr<archive, decltype(&archive_read_free)> reader(archive_read_new(), archive_read_free);
  archive_read_support_format_zip(reader.get());
  if (archive_read_open_filename(reader.get(), path.c_str(), 64 * 1024) != ARCHIVE_OK) return std::nullopt;

  PackageParts parts;
  archive_entry* entry = nullptr;
  for (;;) {
    if (stop.stop_requested()) return std::nullopt;
    const int status = archive_read_next_header(reader.get(), &entry);
    if (status == ARCHIVE_EOF) break;
    if (status != ARCHIVE_OK && status != ARCHIVE_WARN) return std::nullopt;
    const char* name = archive_entry_pathname(entry);
    if (name == nullptr || !wanted(name)) continue;

    // The size in the header may lie; the cap is enforced on what inflates.
    QByteArray data;
    char block[64 * 1024];
    for (;;) {
      if (stop.stop_requested()) return std::nullopt;
      const la_ssize_t got = archive_read_data(reader.get(), block, sizeof block);
      if (got == 0) break;
      if (got < 0) return std::nullopt;
      if (data.size() + got > kMaxPackageMemberBytes) return std::nullopt;
      data.append(block, static_cast<qsizetype>(got));
    }
    parts[name] = std::move(data);
  }
  return parts;
}

}  // namespace qm

#include "preview/archive_view.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace qm {
namespace {

using ArchiveReader = std::unique_ptr<archive, decltype(&archive_read_free)>;

ArchiveReader OpenArchive(const std::filesystem::path& path, bool rawStream) {
  ArchiveReader reader(archive_read_new(), archive_read_free);
  archive_read_support_filter_all(reader.get());
  if (rawStream) {
    archive_read_support_format_raw(reader.get());
  } else {
    archive_read_support_format_all(reader.get());
  }
  if (archive_read_open_filename(reader.get(), path.c_str(), 64 * 1024) != ARCHIVE_OK) return {nullptr, archive_read_free};
  return reader;
}

// Names come from the archive and may hold anything, line feeds and
// terminal escapes included; they are shown on one line each, as text.
QString ShownName(const archive_entry* entry) {
  const char* utf8 = archive_entry_pathname_utf8(const_cast<archive_entry*>(entry));
  const char* raw = archive_entry_pathname(const_cast<archive_entry*>(entry));
  QString name = utf8 != nullptr ? QString::fromUtf8(utf8) : raw != nullptr ? QString::fromLocal8Bit(raw) : QString();
  name.truncate(1024);
  for (QChar& c : name) {
    if (c.category() == QChar::Other_Control) c = u'?';
  }
  return name;
}

QString EntryLine(const QString& size, const QString& name) {
  return QStringLiteral("%1  %2\n").arg(size, 14).arg(name);
}

}  // namespace

int ArchiveView::Convert(const std::filesystem::path& path, QString& text) {
  text.clear();
  QString listing;
  int listed = 0;
  bool damaged = false;

  ArchiveReader reader = OpenArchive(path, false);
  archive_entry* entry = nullptr;
  while (reader && listed < kMaxEntries) {
    if (stop_.stop_requested()) return kConvertNothingOut;
    const int status = archive_read_next_header(reader.get(), &entry);
    if (status == ARCHIVE_EOF) break;
    if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
      damaged = true;
      break;
    }
    const QString size =
        archive_entry_size_is_set(entry) ? QString::number(archive_entry_size(entry)) : QStringLiteral("-");
    listing += EntryLine(size, ShownName(entry));
    ++listed;
  }

  // A lone compressed file (.gz, .bz2 of something that is no tar) holds no
  // entries; it is listed as the one file it unpacks to, without unpacking
  // it to learn its size.
  if (listed == 0) {
    ArchiveReader stream = OpenArchive(path, true);
    if (stream && archive_read_next_header(stream.get(), &entry) == ARCHIVE_OK && archive_filter_count(stream.get()) > 1) {
      listing += EntryLine(QStringLiteral("-"), QString::fromStdString(path.stem().string()));
      listed = 1;
      damaged = false;
    }
  }
  if (listed == 0) return kConvertNothingOut;

  text = QString::fromLatin1(kSeparator) + u'\n' + listing;
  if (listed == kMaxEntries) text += QStringLiteral("(more entries are not listed)\n");
  if (damaged) text += QStringLiteral("(the archive is damaged here; entries after this point cannot be listed)\n");
  return 0;
}

}  // namespace qm

// What a copied-out document really is, from its first bytes: recovered
// files often carry the wrong extension, so the converters look inside.
#pragma once

#include <QByteArray>

#include <filesystem>

namespace qm {

enum class DocumentContainer { Zip, OleCompound, Rtf, Pdf, Other };

// The container of the file at `path`; Other when it cannot be read.
DocumentContainer SniffContainer(const std::filesystem::path& path);

// At most `limit` bytes from the start of the file; empty when unreadable.
QByteArray ReadFileHead(const std::filesystem::path& path, qint64 limit);

}  // namespace qm

#include "preview/preview_file_kind.h"

#include <QFile>

namespace qm {

QByteArray ReadFileHead(const std::filesystem::path& path, qint64 limit) {
  QFile file(QString::fromStdString(path.string()));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.read(limit);
}

DocumentContainer SniffContainer(const std::filesystem::path& path) {
  const QByteArray head = ReadFileHead(path, 8);
  if (head.startsWith("PK\x03\x04")) return DocumentContainer::Zip;
  if (head.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) return DocumentContainer::OleCompound;
  if (head.startsWith("{\\rtf")) return DocumentContainer::Rtf;
  if (head.startsWith("%PDF")) return DocumentContainer::Pdf;
  return DocumentContainer::Other;
}

}  // namespace qm

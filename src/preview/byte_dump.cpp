#include "preview/byte_dump.h"

namespace qm {

QString ByteDump(const uint8_t* data, size_t size) {
  QString text;
  text.reserve(static_cast<qsizetype>(size + size / kDumpLineChars + 2));
  for (size_t i = 0; i < size; ++i) {
    text += data[i] == 0 ? QChar(u'.') : QChar(static_cast<char16_t>(data[i]));
    if ((i + 1) % kDumpLineChars == 0) text += QStringLiteral("\r\n");
  }
  if (size % kDumpLineChars != 0 || size == 0) text += QStringLiteral("\r\n");
  return text;
}

}  // namespace qm

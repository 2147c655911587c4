#include "app/error_words.h"

#include "app/language_store.h"
#include "platform/errors.h"

namespace qm {

QString ErrorWords(int code) {
  const QString text = LanguageStore::Instance().Text("Errors", QString::number(code));
  return text.isEmpty() ? QString::fromStdString(ErrorText(code)) : text;
}

}  // namespace qm

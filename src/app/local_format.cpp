#include "app/local_format.h"

#include "app/language_store.h"

namespace qm {

namespace {

// A unit word of the language file, or the English one when it lacks it.
QString Word(const LanguageStore& language, const char* key, const char* english) {
  const QString text = language.Text("Messages", key);
  return text.isEmpty() ? QString::fromLatin1(english) : text;
}

}  // namespace

QString LocalSize(int64_t bytes) { return LocalSize(bytes, LanguageStore::Instance()); }

QString LocalSize(int64_t bytes, const LanguageStore& language) {
  struct Unit {
    int64_t size;
    const char* name;
  };
  static constexpr Unit kUnits[] = {{int64_t{1} << 40, "TB"}, {int64_t{1} << 30, "GB"}, {int64_t{1} << 20, "MB"},
                                    {int64_t{1} << 10, "KB"}};
  const QLocale locale = language.Locale();
  for (const Unit& unit : kUnits) {
    if (bytes < unit.size) continue;
    const double scaled = static_cast<double>(bytes) / static_cast<double>(unit.size);
    return locale.toString(scaled, 'f', 2) + " " + QString::fromLatin1(unit.name);
  }
  // No group separators: "1023 Bytes" as in the plain form.
  return QString::number(bytes) + " " + Word(language, "MSG1501", "Bytes");
}

QString LocalDuration(int64_t seconds) { return LocalDuration(seconds, LanguageStore::Instance()); }

QString LocalDuration(int64_t seconds, const LanguageStore& language) {
  const QString hour = Word(language, "MSG1504", "Hour");
  const QString minute = Word(language, "MSG1503", "Min");
  const QString second = Word(language, "MSG1502", "Sec");
  if (seconds >= 3600) {
    return QString("%1 %2 %3 %4").arg(seconds / 3600).arg(hour).arg((seconds % 3600) / 60).arg(minute);
  }
  if (seconds >= 60) return QString("%1 %2 %3 %4").arg(seconds / 60).arg(minute).arg(seconds % 60).arg(second);
  return QString("%1 %2").arg(seconds).arg(second);
}

}  // namespace qm

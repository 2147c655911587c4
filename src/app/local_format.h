// Sizes and durations as the window shows them: with the decimal mark and
// unit words of the current language ("1.16 MB" in English, "1,16 MB" in
// German). The plain forms in formatting.h stay for logs and file names.
#pragma once

#include <QString>
#include <cstdint>

namespace qm {

class LanguageStore;

// Binary units with two decimals, as FormatSize; whole bytes below 1 KB.
QString LocalSize(int64_t bytes);
QString LocalSize(int64_t bytes, const LanguageStore& language);

// "1 Min 5 Sec" and the like, as FormatDuration, in the language's words.
QString LocalDuration(int64_t seconds);
QString LocalDuration(int64_t seconds, const LanguageStore& language);

}  // namespace qm

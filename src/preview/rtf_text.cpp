#include "preview/rtf_text.h"

#include <QSet>

#include <algorithm>
#include <vector>

namespace qm {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Destinations whose content is never body text.
const QSet<QByteArray>& SkippedDestinations() {
  static const QSet<QByteArray> names{"fonttbl",    "colortbl",   "stylesheet", "info",        "pict",
                                      "object",     "header",     "footer",     "headerl",     "headerr",
                                      "footerl",    "footerr",    "headerf",    "footerf",     "listtable",
                                      "listoverridetable", "rsidtbl", "generator", "filetbl", "revtbl",
                                      "themedata",  "colorschememapping", "latentstyles", "datastore",
                                      "xmlnstbl",   "fldinst",    "bkmkstart",  "bkmkend"};
  return names;
}

struct Group {
  bool skip = false;
  int unicodeSkip = 1;  // \ucN: fallback characters that follow each \uN
};

}  // namespace

QString RtfToText(const QByteArray& rtf, int maxChars) {
  QString text;
  std::vector<Group> groups{Group{}};
  int pendingFallback = 0;  // fallback characters still to drop after \uN
  bool groupJustOpened = false;
  const qsizetype size = rtf.size();

  const auto put = [&](QChar c) {
    if (pendingFallback > 0) {
      --pendingFallback;
      return;
    }
    if (!groups.back().skip) text += c;
  };

  for (qsizetype i = 0; i < size && text.size() < maxChars; ++i) {
    const char c = rtf[i];
    if (c == '{') {
      groups.push_back(groups.back());
      groupJustOpened = true;
      continue;
    }
    if (c == '}') {
      if (groups.size() > 1) groups.pop_back();
      groupJustOpened = false;
      continue;
    }
    const bool atGroupStart = groupJustOpened;
    groupJustOpened = false;
    if (c == '\r' || c == '\n') continue;
    if (c != '\\') {
      put(QChar::fromLatin1(c));
      continue;
    }
    if (++i >= size) break;
    const char next = rtf[i];
    if (next == '\\' || next == '{' || next == '}') {
      put(QChar::fromLatin1(next));
      continue;
    }
    if (next == '*') {
      groups.back().skip = true;  // an optional destination this reader does not know
      continue;
    }
    if (next == '\'') {
      const int high = i + 1 < size ? HexValue(rtf[i + 1]) : -1;
      const int low = i + 2 < size ? HexValue(rtf[i + 2]) : -1;
      if (high >= 0 && low >= 0) {
        put(QChar::fromLatin1(static_cast<char>(high * 16 + low)));
        i += 2;
      }
      continue;
    }
    if (next == '~') {
      put(QChar(0x00A0));
      continue;
    }
    if (!IsAsciiLetter(next)) continue;  // other control symbols carry no text

    const qsizetype wordStart = i;
    while (i < size && IsAsciiLetter(rtf[i]) && i - wordStart < 32) ++i;
    const QByteArray word = rtf.mid(wordStart, i - wordStart);
    bool hasParameter = false;
    long parameter = 0;
    bool negative = false;
    if (i < size && rtf[i] == '-') {
      negative = true;
      ++i;
    }
    for (int digits = 0; i < size && rtf[i] >= '0' && rtf[i] <= '9' && digits < 10; ++i, ++digits) {
      parameter = parameter * 10 + (rtf[i] - '0');
      hasParameter = true;
    }
    if (negative) parameter = -parameter;
    if (!(i < size && rtf[i] == ' ')) --i;  // the delimiter belongs to the text unless it is a space

    if (word == "bin" && hasParameter) {
      // \binN: N raw bytes follow, braces and backslashes among them.
      i = std::min<qsizetype>(size - 1, i + std::max(0L, parameter));
    } else if (atGroupStart && SkippedDestinations().contains(word)) {
      groups.back().skip = true;
    } else if (word == "par" || word == "line" || word == "row") {
      put(QLatin1Char('\n'));
    } else if (word == "tab" || word == "cell") {
      put(QLatin1Char('\t'));
    } else if (word == "uc" && hasParameter) {
      groups.back().unicodeSkip = static_cast<int>(qBound(0L, parameter, 8L));
    } else if (word == "u" && hasParameter) {
      if (pendingFallback == 0 && !groups.back().skip) {
        const auto unit = static_cast<char16_t>(parameter < 0 ? parameter + 65536 : parameter);
        text += QChar(unit);
      }
      pendingFallback = groups.back().unicodeSkip;
    }
  }
  text.truncate(maxChars);
  return text;
}

}  // namespace qm

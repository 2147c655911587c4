// Every message the code shows by its key (MSGnnnn) has a text in every
// language file: a key missing from one shows as an empty box or label in
// that language only, which no other test would notice.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include "support/test_support.h"

namespace qm::testing {
namespace {

// The MSGnnnn keys named in the C++ sources under `root`.
QSet<QString> KeysUsedIn(const QString& root) {
  static const QRegularExpression key("MSG\\d{4}");
  QSet<QString> keys;
  QDirIterator files(root, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
  while (files.hasNext()) {
    QFile file(files.next());
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    const QString text = QString::fromUtf8(file.readAll());
    for (auto match = key.globalMatch(text); match.hasNext();) keys.insert(match.next().captured());
  }
  return keys;
}

// The keys of a language file's [Messages] section, read as the language
// store reads them (blanks around the key do not count).
QSet<QString> MessageKeysOf(const QString& path) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text)) << path.toStdString();
  QSet<QString> keys;
  QString section;
  QTextStream lines(&file);
  while (!lines.atEnd()) {
    const QString line = lines.readLine().trimmed();
    if (line.startsWith(u'[') && line.endsWith(u']')) {
      section = line.mid(1, line.size() - 2).trimmed();
    } else if (section == u"Messages" && line.contains(u'=')) {
      keys.insert(line.section(u'=', 0, 0).trimmed());
    }
  }
  return keys;
}

// The keys `sources` use that `language` lacks, sorted.
QStringList Missing(const QString& sources, const QString& language) {
  const QSet<QString> known = MessageKeysOf(language);
  QStringList missing;
  for (const QString& key : KeysUsedIn(sources)) {
    if (!known.contains(key)) missing << key;
  }
  missing.sort();
  return missing;
}

TEST(MessageKeys, EveryKeyTheCodeUsesIsInEveryLanguage) {
  const QString sources = QUILLMARK_SOURCE_DIR "/src";
  ASSERT_GT(KeysUsedIn(sources).size(), 50) << "the sources were not found";
  const QStringList languages =
      QDir(QUILLMARK_SOURCE_DIR "/languages").entryList({"*.ini"}, QDir::Files).filter(QRegularExpression("^(?!config)"));
  ASSERT_GE(languages.size(), 2);
  for (const QString& name : languages) {
    const QString path = QUILLMARK_SOURCE_DIR "/languages/" + name;
    EXPECT_EQ(Missing(sources, path), QStringList{}) << name.toStdString() << " lacks these messages";
  }
}

// The check itself: a key the code uses that a language lacks is named,
// also where the language has it outside [Messages] or commented out.
TEST(MessageKeys, AnUnknownKeyIsReported) {
  test::TempDir folder;
  const QString root = QString::fromStdString(folder.path().string());
  QDir().mkpath(root + "/src/app");
  test::WriteBytes(folder / "src/app/window.cpp",
                   "Message(\"MSG0101\"); Message(\"MSG9999\");\n// MSG0102 in a comment counts too\n");
  test::WriteBytes(folder / "English.ini",
                   "[Messages]\nMSG0101=Found\n ; MSG0102=not a key\n[MainWnd]\nMSG9999=elsewhere\n");
  EXPECT_EQ(Missing(root + "/src", root + "/English.ini"), (QStringList{"MSG0102", "MSG9999"}));
  test::WriteBytes(folder / "English.ini", "[Messages]\nMSG0101=a\n  MSG0102 = b\nMSG9999=c\n");
  EXPECT_EQ(Missing(root + "/src", root + "/English.ini"), QStringList{});
}

}  // namespace
}  // namespace qm::testing

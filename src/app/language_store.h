// The texts of the user interface, looked up by section and key in the
// current language's INI file.
//
// The shipped config.ini lists the installed languages ("Languages": name =
// menu text) and the default ("DefaultLanguage", key "Default"). The user's
// choice is written to a config.ini of their own, so the shipped files stay
// read-only. Lookups never add keys and take a shared lock, so worker threads
// may look texts up while the UI thread does too; a reload takes the lock
// exclusively.
#pragma once

#include <QList>
#include <QLocale>
#include <QMap>
#include <QPair>
#include <QString>
#include <shared_mutex>

class QWidget;

namespace qm {

// The lines of one INI section: key to text, in key order.
using TextSection = QMap<QString, QString>;

struct LanguageStorePaths {
  QString shippedConfig;    // config.ini installed with the program
  QString languagesFolder;  // folder of <language>.ini files
  QString userConfig;       // where the user's choice of language is kept
};

class LanguageStore {
 public:
  explicit LanguageStore(LanguageStorePaths paths);

  // The process-wide store, loaded on first use from the program's data
  // folder (see ProgramDataFolder) and the user's configuration folder.
  static LanguageStore& Instance();

  QString CurrentLanguage() const;
  // (language name, menu text) in the order config.ini lists them.
  QList<QPair<QString, QString>> Languages() const;

  // A copy of one section; a section the file lacks gives an empty map.
  TextSection Section(const QString& section) const;
  // One text; empty when the section or key is missing.
  QString Text(const QString& section, const QString& key) const;

  // Makes `language` current, remembers it in the user's config.ini and
  // reloads the texts. A name that is not a plain file name is refused.
  bool SetLanguage(const QString& language);

  // The conventions of the current language for numbers and dates, from
  // its file's [Language] Locale (e.g. "de_DE"); US English without one.
  QLocale Locale() const;

  // Sets the text of every control of `window` named by a key of `section`;
  // controls the section does not name keep their layout's text. A key
  // "Name.property" sets that property of the control (e.g. its toolTip or
  // placeholderText), "Name.columnN" the heading of a tree's column N.
  void ApplyWindowTexts(QWidget* window, const QString& section) const;

 private:
  void Load();

  LanguageStorePaths paths_;
  mutable std::shared_mutex mutex_;
  QString current_;
  QList<QPair<QString, QString>> languages_;
  QMap<QString, TextSection> texts_;
};

// Reads an INI file as sections of lines split at the first '='; a key seen
// again in the same section keeps its first text. A missing file gives no
// sections. Exposed for the tests and for config.ini.
QMap<QString, TextSection> ReadIniFile(const QString& path);
// The lines of one section in file order (duplicates kept), for lists whose
// order matters.
QList<QPair<QString, QString>> ReadIniSectionInOrder(const QString& path, const QString& section);

// Where config.ini and Languages/ are: $QUILLMARK_SHARE_DIR, else beside the
// program (a build tree), else <prefix>/share/quillmark.
QString ProgramDataFolder();

}  // namespace qm

#include "app/language_store.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>
#include <QTreeWidget>
#include <QWidget>
#include <mutex>

#include "platform/environment.h"

namespace qm {

namespace {

struct IniLine {
  QString section;
  QString key;
  QString text;
};

// Comment lines start with ';'. A line without '=' carries no text and is
// skipped; the key and the text are trimmed, the text keeps any further '='.
// A text in double quotes keeps the spaces inside them.
QList<IniLine> ReadIniLines(const QString& path) {
  QList<IniLine> lines;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return lines;
  QTextStream in(&file);
  in.setEncoding(QStringConverter::Utf8);
  QString section;
  bool inSection = false;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.isEmpty() || line.startsWith(u';')) continue;
    if (line.startsWith(u'[') && line.endsWith(u']')) {
      section = line.mid(1, line.size() - 2).trimmed();
      inSection = true;
      continue;
    }
    const qsizetype equals = line.indexOf(u'=');
    if (!inSection || equals <= 0) continue;
    QString text = line.mid(equals + 1).trimmed();
    if (text.size() >= 2 && text.startsWith(u'"') && text.endsWith(u'"')) text = text.mid(1, text.size() - 2);
    lines.append({section, line.left(equals).trimmed(), text});
  }
  return lines;
}

bool IsPlainFileName(const QString& name) {
  return !name.isEmpty() && name.size() <= 63 && !name.contains(u'/') && !name.contains(u'\\') &&
         name != u"." && name != u".." && !name.contains(QChar(0));
}

}  // namespace

QMap<QString, TextSection> ReadIniFile(const QString& path) {
  QMap<QString, TextSection> sections;
  for (const IniLine& line : ReadIniLines(path)) {
    TextSection& section = sections[line.section];
    if (!section.contains(line.key)) section.insert(line.key, line.text);
  }
  return sections;
}

QList<QPair<QString, QString>> ReadIniSectionInOrder(const QString& path, const QString& section) {
  QList<QPair<QString, QString>> result;
  for (const IniLine& line : ReadIniLines(path)) {
    if (line.section == section) result.append({line.key, line.text});
  }
  return result;
}

QString ProgramDataFolder() {
  const QString fromEnvironment = QString::fromStdString(Environment::Read().shareDir);
  if (!fromEnvironment.isEmpty()) return fromEnvironment;
  const QString programFolder = QCoreApplication::applicationDirPath();
  if (QFileInfo::exists(programFolder + "/config.ini")) return programFolder;
  return QDir::cleanPath(programFolder + "/../share/quillmark");
}

LanguageStore::LanguageStore(LanguageStorePaths paths) : paths_(std::move(paths)) { Load(); }

LanguageStore& LanguageStore::Instance() {
  static LanguageStore store([] {
    const QString data = ProgramDataFolder();
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return LanguageStorePaths{data + "/config.ini", data + "/Languages",
                              config + "/Quillmark Pro/config.ini"};
  }());
  return store;
}

void LanguageStore::Load() {
  const auto shipped = ReadIniFile(paths_.shippedConfig);
  const auto user = ReadIniFile(paths_.userConfig);
  QString language = user.value("DefaultLanguage").value("Default");
  if (!IsPlainFileName(language)) language = shipped.value("DefaultLanguage").value("Default");
  if (!IsPlainFileName(language)) language = "English";
  auto languages = ReadIniSectionInOrder(paths_.shippedConfig, "Languages");
  auto texts = ReadIniFile(paths_.languagesFolder + "/" + language + ".ini");

  std::unique_lock lock(mutex_);
  current_ = language;
  languages_ = std::move(languages);
  texts_ = std::move(texts);
}

QString LanguageStore::CurrentLanguage() const {
  std::shared_lock lock(mutex_);
  return current_;
}

QList<QPair<QString, QString>> LanguageStore::Languages() const {
  std::shared_lock lock(mutex_);
  return languages_;
}

TextSection LanguageStore::Section(const QString& section) const {
  std::shared_lock lock(mutex_);
  return texts_.value(section);
}

QString LanguageStore::Text(const QString& section, const QString& key) const {
  std::shared_lock lock(mutex_);
  const auto found = texts_.constFind(section);
  return found == texts_.cend() ? QString() : found->value(key);
}

bool LanguageStore::SetLanguage(const QString& language) {
  if (!IsPlainFileName(language)) return false;
  // Rewrite the user's file keeping its other lines; only the one key changes.
  QStringList kept;
  {
    QFile old(paths_.userConfig);
    if (old.open(QIODevice::ReadOnly | QIODevice::Text)) {
      QString section;
      QTextStream in(&old);
      while (!in.atEnd()) {
        const QString line = in.readLine();
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(u'[') && trimmed.endsWith(u']')) section = trimmed.mid(1, trimmed.size() - 2);
        if (section == u"DefaultLanguage") continue;
        kept.append(line);
      }
    }
  }
  QDir().mkpath(QFileInfo(paths_.userConfig).absolutePath());
  QSaveFile file(paths_.userConfig);
  if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
    QTextStream out(&file);
    out.setEncoding(QStringConverter::Utf8);
    out << "[DefaultLanguage]\nDefault=" << language << "\n";
    for (const QString& line : kept) out << line << "\n";
    out.flush();
    file.commit();
  }
  // Even when the choice could not be saved, it holds for this run.
  Load();
  std::unique_lock lock(mutex_);
  if (current_ != language) {
    current_ = language;
    texts_ = ReadIniFile(paths_.languagesFolder + "/" + language + ".ini");
  }
  return true;
}

void LanguageStore::ApplyWindowTexts(QWidget* window, const QString& section) const {
  if (window == nullptr) return;
  const TextSection texts = Section(section);
  for (auto it = texts.cbegin(); it != texts.cend(); ++it) {
    if (it.value().isEmpty()) continue;
    // "Name.toolTip" sets a property of the control; "Name.column1" the
    // heading of a tree's second column.
    const qsizetype dot = it.key().indexOf(u'.');
    const QString name = dot < 0 ? it.key() : it.key().left(dot);
    QWidget* control = window->objectName() == name ? window : window->findChild<QWidget*>(name);
    if (control == nullptr) continue;
    if (dot >= 0) {
      const QString part = it.key().mid(dot + 1);
      if (part.startsWith(u"column")) {
        bool number = false;
        const int column = part.mid(6).toInt(&number);
        auto* tree = qobject_cast<QTreeWidget*>(control);
        if (tree != nullptr && number && column >= 0 && column < tree->columnCount()) {
          tree->headerItem()->setText(column, it.value());
        }
      } else {
        control->setProperty(part.toLatin1().constData(), it.value());
      }
      continue;
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
      label->setText(it.value());
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
      button->setText(it.value());
    } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
      group->setTitle(it.value());
    } else if (control->isWindow()) {
      control->setWindowTitle(it.value());
    }
  }
}

QLocale LanguageStore::Locale() const {
  const QString name = Text("Language", "Locale");
  return name.isEmpty() ? QLocale(QLocale::English, QLocale::UnitedStates) : QLocale(name);
}

}  // namespace qm

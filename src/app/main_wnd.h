// The application's main window: the "skin.ui" layout with its caption band,
// pages and help menu. The scan workflow builds on this shell.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>

class QMenu;
class QStackedWidget;

namespace qm {

class SkinNotifications;
struct Notification;

class CMainWnd : public QWidget {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Quillmark Free";

  // Null when the layout is missing or lacks a control; `error` says which.
  static std::unique_ptr<CMainWnd> Create(QString* error);

  // Makes a language current and shows the window's texts in it.
  void ChangeLanguage(const QString& language);
  // Sets every text of the window from the current language.
  void ApplyTexts();

  QWidget* Layout() const { return layout_; }
  QMenu* HelpMenu() const { return helpMenu_; }

 signals:
  void QuitRequested();

 private:
  CMainWnd();
  // Empty, or why the menu's layout cannot be used.
  QString BuildHelpMenu();
  void OnNotification(const Notification& notification);
  void ShowPage(int page);

  QWidget* layout_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  QMenu* helpMenu_ = nullptr;
  SkinNotifications* notifications_ = nullptr;
};

}  // namespace qm

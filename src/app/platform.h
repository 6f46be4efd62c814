// Platform: everything the desktop program asks of the system that a test
// must be able to replace - the modal dialogs, message boxes, opening a web
// address, the per-user settings store and a few file-system questions.
//
// Windows and handlers reach the system only through a Platform they are
// given; they never keep it beyond its lifetime (the caller owns it and keeps
// it alive while any window uses it). QtPlatform is the real one, built on
// QFileDialog, QMessageBox, QDesktopServices and QSettings. Tests derive a
// fake from it that answers the dialogs itself, so nothing modal ever runs.
// Nothing here throws except the settings key (see settings_key.h).
#pragma once

#include <QString>
#include <QStringList>

#include <exception>
#include <memory>

class QWidget;

namespace lumifold {

class SettingsKey;

class Platform {
public:
  virtual ~Platform() = default;

  // Runs the open dialog for B-scans, several files allowed. initialFileName
  // is the start directory followed by the separator and "*.bmp". Returns
  // the chosen full paths, the dialog's own file name first; empty when the
  // user cancels.
  virtual QStringList runOpenPictureDialog(QWidget* parent, const QString& initialFileName) = 0;

  // Runs a save dialog with the caption and the file types of filter (the
  // "description|patterns|..." form, the first type chosen at the start),
  // started like the open dialog. Returns the chosen full path and the index
  // of the type chosen last; an empty path when the user cancels. The
  // dialog asks nothing about an existing file: the caller forms the name
  // that is written.
  struct SaveChoice {
    QString path;
    int type = 0;
  };
  virtual SaveChoice runSaveDialog(QWidget* parent, const QString& caption, const QString& initialFileName,
                                   const QString& filter) = 0;

  // A modal message box with text, caption and an OK button.
  virtual void showMessage(QWidget* parent, const QString& text, const QString& caption) = 0;

  // The application's report of an exception that ended a command: a modal
  // box with the message, captioned with the application title.
  virtual void reportException(QWidget* parent, const QString& message) = 0;

  // The modal error dialog for a file the image list rejected.
  virtual void showErrorDialog(QWidget* parent, const QString& path, const QString& reason) = 0;

  // Asks the desktop to open a web address in the default browser; a
  // failure is ignored.
  virtual void openWebAddress(const QString& address) = 0;

  // Opens the program's settings key, creating it when missing. Returns null
  // when there is no store at all; throws SettingsError naming the store
  // when it exists but cannot be read.
  virtual std::unique_ptr<SettingsKey> openSettingsKey() = 0;

  // True when path names an existing file; a folder is not a file.
  virtual bool fileExists(const QString& path) = 0;

  // The process's current directory, without a trailing separator.
  virtual QString currentDirectory() = 0;
};

class QtPlatform : public Platform {
public:
  QStringList runOpenPictureDialog(QWidget* parent, const QString& initialFileName) override;
  SaveChoice runSaveDialog(QWidget* parent, const QString& caption, const QString& initialFileName,
                           const QString& filter) override;
  void showMessage(QWidget* parent, const QString& text, const QString& caption) override;
  void reportException(QWidget* parent, const QString& message) override;
  void showErrorDialog(QWidget* parent, const QString& path, const QString& reason) override;
  void openWebAddress(const QString& address) override;
  std::unique_ptr<SettingsKey> openSettingsKey() override;
  bool fileExists(const QString& path) override;
  QString currentDirectory() override;
};

// What the report of an exception says: its message, and for a failure of
// the system underneath the system's reason after it ("Cannot open image
// file NAME: Permission denied").
QString reportText(const std::exception& e);

// Runs a handler at an event (a click, a key, a drop), reporting through
// platform whatever it throws, so no exception reaches the event loop.
template <typename F>
void reportingExceptions(Platform& platform, QWidget* parent, F&& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    platform.reportException(parent, reportText(e));
  } catch (...) {
    platform.reportException(parent, QString());
  }
}

// The application title, set once at start-up; windows take their caption
// and message boxes their caption from it. Empty until set.
void setApplicationTitle(const QString& title);
QString applicationTitle();

}  // namespace lumifold

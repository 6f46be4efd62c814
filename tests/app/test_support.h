// What the desktop program's tests share: a fake platform that answers the
// dialogs itself and records what would have been shown, a private settings
// location per test, and small BMP files written on the spot.
#pragma once

#include <QList>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

#include "app/platform.h"

namespace testutil {

class FakePlatform : public lumifold::QtPlatform {
public:
  struct Shown {
    QString first;
    QString second;
  };

  // Answers for the open dialog, one per call; an empty answer or none left
  // is a cancelled dialog.
  QList<QStringList> openAnswers;
  QStringList openRequests;
  QStringList saveRequests;
  QList<Shown> messages;    // text, caption
  QList<Shown> errors;      // path, reason
  QStringList exceptions;   // messages of the application's report
  QStringList openedAddresses;
  QString current = QStringLiteral("/fake/current");
  bool failFileExists = false;

  QStringList runOpenPictureDialog(QWidget* parent, const QString& initialFileName) override;
  QString runSavePictureDialog(QWidget* parent, const QString& initialFileName) override;
  void showMessage(QWidget* parent, const QString& text, const QString& caption) override;
  void reportException(QWidget* parent, const QString& message) override;
  void showErrorDialog(QWidget* parent, const QString& path, const QString& reason) override;
  void openWebAddress(const QString& address) override;
  bool fileExists(const QString& path) override;
  QString currentDirectory() override { return current; }
};

// Points the per-user settings at a fresh temporary folder for as long as
// it lives.
class SettingsSandbox {
public:
  SettingsSandbox();
  // The program's settings group in the sandbox, to look at or prepare.
  std::unique_ptr<QSettings> settings() const;
  QString path() const { return dir_.path(); }

private:
  QTemporaryDir dir_;
};

// Writes an 8-bit grey BMP of the given size (bottom-up unless topDown);
// returns its path.
QString writeBmp(const QString& path, int width, int height, bool topDown = false);
// Writes text to path; returns the path.
QString writeText(const QString& path, const QByteArray& content);

}  // namespace testutil

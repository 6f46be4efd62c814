// What the desktop program's tests share: a fake platform that answers the
// dialogs itself and records what would have been shown, a private settings
// location per test, and small BMP files written on the spot.
#pragma once

#include <QImage>
#include <QObject>
#include <QList>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

#include "app/image_viewer.h"
#include "app/platform.h"
#include "ipl/images.h"
#include "sim/bscan_simulator.h"

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
  // Answers for the save dialog, likewise.
  QStringList saveAnswers;
  QStringList openRequests;
  QStringList saveRequests;
  QList<Shown> messages;    // text, caption
  QList<Shown> errors;      // path, reason
  QStringList exceptions;   // messages of the application's report
  QStringList openedAddresses;
  QString current = QStringLiteral("/fake/current");
  bool failFileExists = false;

  QStringList runOpenPictureDialog(QWidget* parent, const QString& initialFileName) override;
  // Answers for the save dialogs: saveAnswers as the paths, saveTypes as
  // the types chosen (0 when none is left).
  QList<int> saveTypes;
  QStringList saveFilters;
  SaveChoice runSaveDialog(QWidget* parent, const QString& caption, const QString& initialFileName,
                           const QString& filter) override;
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

// What each main-window test starts from: private settings, a scratch
// folder, the fake platform and a viewer for the panel to fill, all made
// afresh by freshWindows() (call it from the test's init()).
class WindowTest : public QObject {
protected:
  void freshWindows();

  std::unique_ptr<SettingsSandbox> sandbox_;
  std::unique_ptr<QTemporaryDir> files_;
  std::unique_ptr<FakePlatform> platform_;
  std::unique_ptr<lumifold::TImageViewer> viewer_;
};

// Writes an 8-bit grey BMP of the given size (bottom-up unless topDown);
// returns its path.
QString writeBmp(const QString& path, int width, int height, bool topDown = false);
// Writes a simulated B-scan series of that many frames and size into
// directory (small sizes keep a merge quick); returns the frames' absolute
// paths in order.
QStringList writeSeries(const QString& directory, int frames, int width, int height);
// The same for a series of those parameters.
QStringList writeSeries(const QString& directory, const lumifold::SimulationParameters& parameters);
// Eight frames of width x height with a blink and a frame of another
// section, whose indices go to bad (ascending).
QStringList writeBadSeries(const QString& directory, int width, int height, QList<int>& bad);
// Writes text to path; returns the path.
QString writeText(const QString& path, const QByteArray& content);

// The merge of the files in order, by correlation or by the anterior edge,
// made with the engine directly.
velIPL::GImage mergeOf(const QStringList& paths, bool byCorrelation);

// Where two grey images differ first, described; empty when they are equal
// in size and every pixel.
QString firstDifference(const velIPL::GImage& actual, const velIPL::GImage& expected);

// Where a picture on screen and a coloured image differ first, described;
// empty when they are equal in size and every pixel.
QString firstDifference(const QImage& actual, const velIPL::RGBImage& expected);

}  // namespace testutil

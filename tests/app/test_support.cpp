#include "test_support.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QColor>
#include <QtEndian>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/file_names.h"
#include "merge/merger.h"
#include "sim/bscan_simulator.h"
#include "sim/series_writer.h"

namespace testutil {

void WindowTest::freshWindows() {
  // The viewer refers to the platform, so it goes first.
  viewer_.reset();
  sandbox_ = std::make_unique<SettingsSandbox>();
  files_ = std::make_unique<QTemporaryDir>();
  platform_ = std::make_unique<FakePlatform>();
  viewer_ = std::make_unique<lumifold::TImageViewer>(*platform_);
}

QStringList FakePlatform::runOpenPictureDialog(QWidget*, const QString& initialFileName) {
  openRequests.push_back(initialFileName);
  return openAnswers.isEmpty() ? QStringList() : openAnswers.takeFirst();
}

lumifold::Platform::SaveChoice FakePlatform::runSaveDialog(QWidget*, const QString&, const QString& initialFileName,
                                                         const QString& filter) {
  saveRequests.push_back(initialFileName);
  saveFilters.push_back(filter);
  SaveChoice choice;
  choice.path = saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
  choice.type = saveTypes.isEmpty() ? 0 : saveTypes.takeFirst();
  return choice;
}

void FakePlatform::showMessage(QWidget*, const QString& text, const QString& caption) {
  messages.push_back({text, caption});
}

void FakePlatform::reportException(QWidget*, const QString& message) { exceptions.push_back(message); }

void FakePlatform::showErrorDialog(QWidget*, const QString& path, const QString& reason) {
  errors.push_back({path, reason});
}

void FakePlatform::openWebAddress(const QString& address) { openedAddresses.push_back(address); }

bool FakePlatform::fileExists(const QString& path) {
  if (failFileExists) throw std::runtime_error("Disk gone");
  return QtPlatform::fileExists(path);
}

SettingsSandbox::SettingsSandbox() {
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path());
}

std::unique_ptr<QSettings> SettingsSandbox::settings() const {
  auto s = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("pellora"), QStringLiteral("Lumifold"));
  s->beginGroup(QStringLiteral("1.0"));
  return s;
}

QString writeBmp(const QString& path, int width, int height, bool topDown) {
  const int stride = (width + 3) / 4 * 4;
  const quint32 offset = 14 + 40 + 256 * 4;
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out.setByteOrder(QDataStream::LittleEndian);
  out.writeRawData("BM", 2);
  out << quint32(offset + stride * height) << quint32(0) << offset;
  out << quint32(40) << qint32(width) << qint32(topDown ? -height : height) << quint16(1)
      << quint16(8) << quint32(0) << quint32(stride * height) << qint32(2835) << qint32(2835)
      << quint32(256) << quint32(0);
  for (int i = 0; i < 256; ++i) out << quint8(i) << quint8(i) << quint8(i) << quint8(0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < stride; ++x) out << quint8((x * 7 + y * 3) & 0xFF);
  }
  return writeText(path, bytes);
}

QStringList writeSeries(const QString& directory, int frames, int width, int height) {
  lumifold::SimulationParameters parameters;
  parameters.frames = frames;
  parameters.width = width;
  parameters.height = height;
  parameters.maxShift = 3;
  parameters.seed = 7;
  return writeSeries(directory, parameters);
}

QStringList writeSeries(const QString& directory, const lumifold::SimulationParameters& parameters) {
  lumifold::writeSeries(lumifold::BScanSimulator(parameters), lumifold::localPath(directory));
  QStringList paths;
  for (int i = 0; i < parameters.frames; ++i) {
    const QString name = QString::fromStdString(lumifold::frameFileName(i, parameters.frames));
    paths.push_back(QFileInfo(directory + QLatin1Char('/') + name).absoluteFilePath());
  }
  return paths;
}

QStringList writeBadSeries(const QString& directory, int width, int height, QList<int>& bad) {
  lumifold::SimulationParameters parameters;
  parameters.frames = 8;
  parameters.width = width;
  parameters.height = height;
  parameters.seed = 11;
  parameters.badFrames = {lumifold::BadFrame::Blink, lumifold::BadFrame::Section};
  const lumifold::BScanSimulator simulator(parameters);
  for (const auto& [index, kind] : simulator.badFrames()) bad.push_back(index);
  std::sort(bad.begin(), bad.end());
  return writeSeries(directory, parameters);
}

QString writeText(const QString& path, const QByteArray& content) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
    throw std::runtime_error("cannot write test file " + path.toStdString());
  }
  return QFileInfo(path).absoluteFilePath();
}

velIPL::GImage mergeOf(const QStringList& paths, bool byCorrelation) {
  std::vector<std::string> names;
  for (const QString& p : paths) names.push_back(lumifold::localPath(p));
  lumifold::Merger merger(names);
  return byCorrelation ? merger.mergeByCorrelation() : merger.mergeByAnteriorEdge();
}

QString firstDifference(const velIPL::GImage& actual, const velIPL::GImage& expected) {
  if (actual.width() != expected.width() || actual.height() != expected.height()) {
    return QStringLiteral("size %1 x %2, expected %3 x %4")
        .arg(actual.width())
        .arg(actual.height())
        .arg(expected.width())
        .arg(expected.height());
  }
  for (int y = 0; y < expected.height(); ++y) {
    for (int x = 0; x < expected.width(); ++x) {
      if (actual.at(x, y) != expected.at(x, y)) {
        return QStringLiteral("(%1, %2): %3, expected %4").arg(x).arg(y).arg(actual.at(x, y)).arg(expected.at(x, y));
      }
    }
  }
  return QString();
}

QString firstDifference(const QImage& actual, const velIPL::RGBImage& expected) {
  if (actual.size() != QSize(expected.width(), expected.height())) {
    return QStringLiteral("size %1 x %2, expected %3 x %4")
        .arg(actual.width())
        .arg(actual.height())
        .arg(expected.width())
        .arg(expected.height());
  }
  for (int y = 0; y < expected.height(); ++y) {
    for (int x = 0; x < expected.width(); ++x) {
      const QColor want(expected.at(x, y, 0), expected.at(x, y, 1), expected.at(x, y, 2));
      if (actual.pixelColor(x, y) != want) {
        return QStringLiteral("(%1, %2): %3, expected %4").arg(x).arg(y).arg(actual.pixelColor(x, y).name(), want.name());
      }
    }
  }
  return QString();
}

}  // namespace testutil

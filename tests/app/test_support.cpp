#include "test_support.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <stdexcept>

namespace testutil {

QStringList FakePlatform::runOpenPictureDialog(QWidget*, const QString& initialFileName) {
  openRequests.push_back(initialFileName);
  return openAnswers.isEmpty() ? QStringList() : openAnswers.takeFirst();
}

QString FakePlatform::runSavePictureDialog(QWidget*, const QString& initialFileName) {
  saveRequests.push_back(initialFileName);
  return QString();
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

QString writeText(const QString& path, const QByteArray& content) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
    throw std::runtime_error("cannot write test file " + path.toStdString());
  }
  return QFileInfo(path).absoluteFilePath();
}

}  // namespace testutil

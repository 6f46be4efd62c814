#include "app/settings_key.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QVariant>

namespace lumifold {

namespace {

// How long to wait for another instance to finish with the store.
constexpr int kLockWaitMs = 5000;

}  // namespace

std::unique_ptr<QSettingsKey> QSettingsKey::open() {
  auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                              kOrganisation, kApplication);
  // QSettings has read the store when made; once the lock is held it reads
  // it again if another instance has changed it meanwhile.
  QDir().mkpath(QFileInfo(settings->fileName()).absolutePath());
  auto lock = std::make_unique<QLockFile>(settings->fileName() + QStringLiteral(".session-lock"));
  if (lock->tryLock(kLockWaitMs)) settings->sync();
  // QSettings reads nothing from a file it cannot open, and says so only
  // when it is asked to write; the file's own state tells at once.
  const QFileInfo file(settings->fileName());
  const bool unreadable = file.exists() && (!file.isFile() || !file.isReadable());
  if (unreadable || settings->status() != QSettings::NoError) {
    const QString reason = unreadable || settings->status() == QSettings::AccessError
                               ? QStringLiteral("it cannot be read")
                               : QStringLiteral("it is damaged");
    throw SettingsError(QStringLiteral("The settings file %1 is not used: %2. The program starts with its defaults "
                                       "and leaves the file as it is.")
                            .arg(QDir::toNativeSeparators(settings->fileName()), reason)
                            .toStdString());
  }
  settings->beginGroup(kGroup);
  return std::unique_ptr<QSettingsKey>(new QSettingsKey(std::move(lock), std::move(settings)));
}

QSettingsKey::QSettingsKey(std::unique_ptr<QLockFile> lock, std::unique_ptr<QSettings> settings)
    : lock_(std::move(lock)), settings_(std::move(settings)) {}

QSettingsKey::~QSettingsKey() {
  // Everything written is on disk before another instance may read.
  settings_.reset();
  lock_.reset();
}

QString QSettingsKey::readString(const QString& name) {
  const QVariant value = settings_->value(name);
  if (!value.isValid()) return QString();
  // The store keeps plain text as a string; a list or a typed value is not
  // one of ours.
  if (value.metaType().id() != QMetaType::QString) {
    throw SettingsError(QStringLiteral("Invalid data type for '%1'").arg(name).toStdString());
  }
  return value.toString();
}

void QSettingsKey::writeString(const QString& name, const QString& value) {
  settings_->setValue(name, value);
  // Written through at once, so a failure names the value that was lost.
  settings_->sync();
  if (settings_->status() != QSettings::NoError) {
    throw SettingsError(QStringLiteral("Failed to set data for '%1'").arg(name).toStdString());
  }
}

}  // namespace lumifold

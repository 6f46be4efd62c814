#include "app/settings_key.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

namespace lumifold {

std::unique_ptr<QSettingsKey> QSettingsKey::open() {
  auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                              kOrganisation, kApplication);
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
  return std::unique_ptr<QSettingsKey>(new QSettingsKey(std::move(settings)));
}

QSettingsKey::QSettingsKey(std::unique_ptr<QSettings> settings) : settings_(std::move(settings)) {}

QSettingsKey::~QSettingsKey() = default;

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

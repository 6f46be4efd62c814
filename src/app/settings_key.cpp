#include "app/settings_key.h"

#include <QSettings>
#include <QVariant>

namespace lumifold {

std::unique_ptr<QSettingsKey> QSettingsKey::open() {
  auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                              kOrganisation, kApplication);
  if (settings->status() != QSettings::NoError) return nullptr;
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

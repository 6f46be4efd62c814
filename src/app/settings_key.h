// SettingsKey: the program's four settings as named string values in the
// per-user store.
//
// QSettingsKey keeps them with QSettings in the user's native store under
// organisation "pellora", application "Lumifold", group "1.0" (on Linux the
// file pellora/Lumifold.conf in the user's configuration folder). Every
// value is a string. A missing value reads as an empty string. A value of
// another kind, or a write the store refuses, throws SettingsError with the
// store's message naming the value; a store that cannot be read at all
// throws SettingsError naming its file. The caller shows the message.
//
// Another instance of the program may be saving while this one starts: each
// value is written through at once, so a reader could see some values new
// and some old. A QSettingsKey therefore holds a lock file beside the store
// (".session-lock") for its whole life, from before the store is read until
// the last value is written; keep one only for one pass of reading or of
// writing. A lock left by a program that died is taken over; one not freed
// within five seconds is passed by, as reading late beats not starting.
#pragma once

#include <QString>

#include <memory>
#include <stdexcept>

class QLockFile;
class QSettings;

namespace lumifold {

class SettingsError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class SettingsKey {
public:
  virtual ~SettingsKey() = default;
  // The string stored under name, or "" when there is none. Throws
  // SettingsError("Invalid data type for 'NAME'") for a value that is not a
  // string.
  virtual QString readString(const QString& name) = 0;
  // Stores value under name at once. Throws SettingsError("Failed to set
  // data for 'NAME'") when the store cannot keep it.
  virtual void writeString(const QString& name, const QString& value) = 0;
};

class QSettingsKey : public SettingsKey {
public:
  inline static const QString kOrganisation = QStringLiteral("pellora");
  inline static const QString kApplication = QStringLiteral("Lumifold");
  inline static const QString kGroup = QStringLiteral("1.0");

  // The store, created on first write when missing. Throws SettingsError
  // naming the file and the reason when it exists but cannot be read (a
  // damaged file, a file without read permission, a folder in its place):
  // such a store is neither read nor overwritten.
  static std::unique_ptr<QSettingsKey> open();

  ~QSettingsKey() override;
  QString readString(const QString& name) override;
  void writeString(const QString& name, const QString& value) override;

private:
  QSettingsKey(std::unique_ptr<QLockFile> lock, std::unique_ptr<QSettings> settings);
  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<QSettings> settings_;
};

}  // namespace lumifold

// The per-user settings store: where it keeps the values and how it fails.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <chrono>
#include <thread>

#include "app/settings_key.h"
#include "test_support.h"

using lumifold::QSettingsKey;
using lumifold::SettingsError;

class SettingsKeyTest : public QObject {
  Q_OBJECT

private slots:
  void keepsStringsUnderThePelloraKey() {
    testutil::SettingsSandbox sandbox;
    {
      const auto key = QSettingsKey::open();
      QVERIFY(key);
      QCOMPARE(key->readString("colorScale"), QString());
      key->writeString("colorScale", "4");
      key->writeString("lastInput", "/data/a, b");
      QCOMPARE(key->readString("colorScale"), QStringLiteral("4"));
    }
    QFile file(sandbox.path() + "/pellora/Lumifold.conf");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(content.contains("[1.0]"));
    QVERIFY(content.contains("colorScale=4"));
    // A comma in a directory name must come back as one string.
    QCOMPARE(QSettingsKey::open()->readString("lastInput"), QStringLiteral("/data/a, b"));
  }

  // A program starting while another saves reads once the save is done,
  // never a mixture of old and new values.
  void aReaderWaitsForASaveToFinish() {
    testutil::SettingsSandbox sandbox;
    auto saving = QSettingsKey::open();
    saving->writeString("colorScale", "3");
    std::thread finish([&saving] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      saving->writeString("algorithm", "1");
      saving.reset();
    });
    const auto reading = QSettingsKey::open();
    finish.join();
    QCOMPARE(reading->readString("colorScale"), QStringLiteral("3"));
    QCOMPARE(reading->readString("algorithm"), QStringLiteral("1"));
  }

  void otherKindsOfValueAndRefusedWritesThrow() {
    testutil::SettingsSandbox sandbox;
    sandbox.settings()->setValue("lastOutput", QStringList{"a", "b"});
    const auto key = QSettingsKey::open();
    QVERIFY_THROWS_EXCEPTION(SettingsError, key->readString("lastOutput"));
    try {
      key->readString("lastOutput");
    } catch (const SettingsError& e) {
      QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Invalid data type for 'lastOutput'"));
    }

    const QString blocker = testutil::writeText(sandbox.path() + "/blocker", "x");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker + "/under");
    const auto blocked = QSettingsKey::open();
    QVERIFY(blocked);
    try {
      blocked->writeString("lastInput", "/x");
      QFAIL("no error");
    } catch (const SettingsError& e) {
      QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Failed to set data for 'lastInput'"));
    }
  }

  void storeThatCannotBeReadIsNamedAndLeftAlone() {
    testutil::SettingsSandbox sandbox;
    const QString conf = sandbox.path() + "/pellora/Lumifold.conf";
    const auto refusal = [] {
      try {
        QSettingsKey::open();
      } catch (const SettingsError& e) {
        return QString::fromUtf8(e.what());
      }
      return QStringLiteral("<opened>");
    };
    const QString tail = QStringLiteral(". The program starts with its defaults and leaves the file as it is.");

    QDir().mkpath(sandbox.path() + "/pellora");
    const QByteArray damaged = "[1.0\ncolorScale=\"4\n\x01\x02";
    testutil::writeText(conf, damaged);
    QCOMPARE(refusal(), "The settings file " + conf + " is not used: it is damaged" + tail);
    QFile kept(conf);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), damaged);

    // A folder where the file belongs.
    QVERIFY(QFile::remove(conf));
    QVERIFY(QDir().mkpath(conf));
    QCOMPARE(refusal(), "The settings file " + conf + " is not used: it cannot be read" + tail);
    QVERIFY(QDir(conf).removeRecursively());

    // A file without read permission, which only root may read anyway.
    testutil::writeText(conf, "[1.0]\ncolorScale=4\n");
    QVERIFY(QFile::setPermissions(conf, QFileDevice::WriteOwner));
    if (QFileInfo(conf).isReadable()) QSKIP("running as root: a file without read permission is still read");
    QCOMPARE(refusal(), "The settings file " + conf + " is not used: it cannot be read" + tail);
  }
};

QTEST_GUILESS_MAIN(SettingsKeyTest)
#include "settings_key_test.moc"

// The per-user settings store: where it keeps the values and how it fails.
#include <QFile>
#include <QTest>

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

  void damagedStoreIsNotOpened() {
    testutil::SettingsSandbox sandbox;
    QDir().mkpath(sandbox.path() + "/pellora");
    testutil::writeText(sandbox.path() + "/pellora/Lumifold.conf", "[1.0\ncolorScale=\"4\n\x01\x02");
    QVERIFY(!QSettingsKey::open());
  }
};

QTEST_GUILESS_MAIN(SettingsKeyTest)
#include "settings_key_test.moc"

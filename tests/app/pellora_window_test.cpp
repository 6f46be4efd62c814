// The information window about the maker's web platform.
#include <QPushButton>
#include <QTest>

#include "app/clickable_label.h"
#include "app/pellora_window.h"
#include "test_support.h"

using lumifold::Tpellora;

class PelloraWindowTest : public QObject {
  Q_OBJECT

private slots:
  void closeHidesAndTheMenuShowsItAgain() {
    testutil::FakePlatform platform;
    Tpellora window(platform);
    QVERIFY(!window.isVisible());
    QCOMPARE(window.windowTitle(), QStringLiteral("What is pellora?"));
    QCOMPARE(window.OK->text(), QStringLiteral("Close"));
    QCOMPARE(window.OK->pos(), QPoint(240, 176));

    window.showOver(nullptr);
    QVERIFY(window.isVisible());
    QTest::mouseClick(window.OK, Qt::LeftButton);
    QVERIFY(!window.isVisible());
    window.showOver(nullptr);
    QVERIFY(window.isVisible());
  }

  void addressLinesOpenTheWebSite() {
    testutil::FakePlatform platform;
    Tpellora window(platform);
    window.showOver(nullptr);
    QCOMPARE(window.AddressLabel->text(), QStringLiteral("www.pellora.example"));
    QVERIFY(window.AddressLabel->font().underline());
    QTest::mouseClick(window.AddressLabel, Qt::LeftButton);
    QTest::mouseClick(window.SignUpLabel, Qt::LeftButton);
    QCOMPARE(platform.openedAddresses.size(), 2);
    QCOMPARE(platform.openedAddresses.front(), QStringLiteral("https://www.pellora.example/"));
  }
};

QTEST_MAIN(PelloraWindowTest)
#include "pellora_window_test.moc"

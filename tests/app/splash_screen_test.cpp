// The splash: hides itself once, on time or on OK, and stays as the About box.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/clickable_label.h"
#include "app/splash_screen.h"
#include "test_support.h"

using lumifold::TSplashScreen;

class SplashScreenTest : public QObject {
  Q_OBJECT

private slots:
  void hidesItselfWhenTheTimerFires() {
    testutil::FakePlatform platform;
    TSplashScreen splash(platform, 50);
    QVERIFY(splash.Timer1->isActive());
    splash.show();
    QTRY_VERIFY_WITH_TIMEOUT(!splash.isVisible(), 2000);
    QVERIFY(!splash.Timer1->isActive());

    // As the About box it waits for OK.
    splash.showAbout(nullptr);
    QTest::qWait(150);
    QVERIFY(splash.isVisible());
    QTest::mouseClick(splash.SplashOKButton, Qt::LeftButton);
    QVERIFY(!splash.isVisible());
  }

  void okAndClosingHideAtOnce() {
    testutil::FakePlatform platform;
    TSplashScreen splash(platform);
    QCOMPARE(splash.Timer1->interval(), 3000);
    splash.show();
    QTest::mouseClick(splash.SplashOKButton, Qt::LeftButton);
    QVERIFY(!splash.isVisible());
    QVERIFY(!splash.Timer1->isActive());

    TSplashScreen closed(platform);
    closed.show();
    QVERIFY(closed.close());
    QVERIFY(!closed.isVisible());
    QVERIFY(!closed.Timer1->isActive());
  }

  void aboutDuringStartUpStillEndsOnTime() {
    testutil::FakePlatform platform;
    TSplashScreen splash(platform, 100);
    splash.show();
    splash.showAbout(nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!splash.isVisible(), 2000);
  }

  // A message or dialog shown while the splash is up would open under it
  // and block its OK button: the splash gives way to any modal window, not
  // to other windows.
  void givesWayToModalWindows() {
    lumifold::QtPlatform platform;
    TSplashScreen splash(platform);
    splash.show();
    QWidget other;
    other.show();
    QVERIFY(splash.isVisible());

    bool splashShownWithBox = true;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      if (QWidget* box = QApplication::activeModalWidget()) {
        splashShownWithBox = splash.isVisible();
        box->close();
      }
    });
    closer.start(10);
    platform.showMessage(nullptr, QStringLiteral("C:/scans/a.bmp"), QStringLiteral("No Sequence found"));
    QVERIFY(!splashShownWithBox);
    QVERIFY(!splash.Timer1->isActive());
  }

  void looksAsDesigned() {
    testutil::FakePlatform platform;
    TSplashScreen splash(platform);
    QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(splash.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(splash.size(), QSize(414, 325));
    QCOMPARE(splash.windowTitle(), QStringLiteral("Lumifold 1.0"));
    QCOMPARE(splash.Panel1->palette().color(QPalette::Window), QColor(100, 142, 194));
    QCOMPARE(splash.TitleLabel->text(), QStringLiteral("Lumifold 1.0 "));
    QCOMPARE(splash.TitleLabel->pos(), QPoint(178, 24));
    QCOMPARE(splash.SplashImage->geometry(), QRect(33, 16, 135, 56));
    QCOMPARE(splash.SplashOKButton->geometry(), QRect(304, 229, 59, 25));
    QCOMPARE(splash.SplashOKButton->text(), QStringLiteral("OK"));
    QCOMPARE(splash.DisclaimerLabel->geometry(), QRect(32, 176, 345, 56));
    QCOMPARE(splash.Label5->palette().color(QPalette::WindowText), QColor(Qt::yellow));
    QCOMPARE(splash.Label5->cursor().shape(), Qt::PointingHandCursor);

    splash.show();
    QTest::mouseClick(splash.Label5, Qt::LeftButton);
    QCOMPARE(platform.openedAddresses, QStringList{QStringLiteral("https://www.pellora.example/")});
  }
};

QTEST_MAIN(SplashScreenTest)
#include "splash_screen_test.moc"

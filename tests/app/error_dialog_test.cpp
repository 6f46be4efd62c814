// The error dialog for a refused file.
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/error_dialog.h"

using lumifold::TErrorDialog;

class ErrorDialogTest : public QObject {
  Q_OBJECT

private slots:
  void namesTheFileAndTheReason() {
    TErrorDialog dialog;
    const QString path = QStringLiteral("/data/scans/a very long folder name/and deeper still/scan0001.bmp");
    dialog.setError(path, QStringLiteral("Image has not same dimensions as reference image"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Error"));
    QCOMPARE(dialog.Heading->text(), QStringLiteral("Error encountered during load of image file"));
    QCOMPARE(dialog.FileLabel->text(), QStringLiteral("File: "));
    QCOMPARE(dialog.ReasonLabel->text(), QStringLiteral("Reason: "));
    QCOMPARE(dialog.ErrorPath->text(), path);
    QCOMPARE(dialog.ErrorReason->text(), QStringLiteral("Image has not same dimensions as reference image"));
    QCOMPARE(dialog.ErrorOK->text(), QStringLiteral("OK"));
    // However long the path, it stays inside the dialog.
    QVERIFY(dialog.ErrorPath->geometry().right() < 568);
  }

  void looksAsDesigned() {
    TErrorDialog dialog;
    QCOMPARE(dialog.size(), QSize(568, 96));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QCOMPARE(dialog.Heading->pos(), QPoint(88, 8));
    QCOMPARE(dialog.Heading->font().pixelSize(), 19);
    QCOMPARE(dialog.ErrorPath->pos(), QPoint(144, 42));
    QCOMPARE(dialog.ErrorReason->pos(), QPoint(144, 62));
    QCOMPARE(dialog.WarningImage->geometry(), QRect(8, 29, 36, 36));
    QCOMPARE(dialog.ErrorOK->geometry(), QRect(480, 64, 75, 25));
    for (QWidget* w : std::initializer_list<QWidget*>{dialog.Panel1, dialog.Heading, dialog.FileLabel,
                                                      dialog.ErrorPath, dialog.ReasonLabel, dialog.ErrorReason}) {
      QCOMPARE(w->palette().color(QPalette::Window), QColor(100, 142, 194));
    }
    QCOMPARE(dialog.ErrorReason->palette().color(QPalette::WindowText), QColor(Qt::white));
  }

  void okCloses() {
    TErrorDialog dialog;
    dialog.open();
    QVERIFY(dialog.isVisible());
    QTest::mouseClick(dialog.ErrorOK, Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
  }
};

QTEST_MAIN(ErrorDialogTest)
#include "error_dialog_test.moc"

// The image list's admission and deletion rules, without a window.
#include <QTemporaryDir>
#include <QTest>

#include "app/image_list.h"
#include "test_support.h"

using lumifold::ImageList;

class ImageListTest : public QObject {
  Q_OBJECT

private:
  QTemporaryDir dir_;

  QString bmp(const QString& name, int width, int height, bool topDown = false) {
    return testutil::writeBmp(dir_.filePath(name), width, height, topDown);
  }

  ImageList listOf(int n) {
    ImageList list;
    for (int i = 0; i < n; ++i) list.admit(bmp(QStringLiteral("n%1.bmp").arg(i), 4, 3));
    return list;
  }

private slots:
  void firstFileSetsTheReferenceSize() {
    ImageList list;
    QVERIFY(!list.admit(bmp("a.bmp", 7, 5)));
    QCOMPARE(list.refWidth(), 7);
    QCOMPARE(list.refHeight(), 5);
    QCOMPARE(*list.admit(bmp("b.bmp", 7, 6)), QStringLiteral("Image has not same dimensions as reference image"));
    // Stored top-down, the same size still matches.
    QVERIFY(!list.admit(bmp("c.bmp", 7, 5, true)));
    QCOMPARE(list.fileCount(), 2);

    // Emptied, the list takes a new reference size.
    list.clear();
    QVERIFY(!list.admit(bmp("d.bmp", 3, 9)));
    QCOMPARE(list.refWidth(), 3);
  }

  void refusalsNameTheirReason() {
    ImageList list;
    const QString missing = dir_.filePath("missing.bmp");
    QCOMPARE(*list.admit(missing), QStringLiteral("Not a valid image file"));
    QVERIFY(!list.admit(bmp("a.bmp", 4, 4)));
    // Exists for the caller's check but cannot be opened any more.
    QCOMPARE(*list.admit(missing), QStringLiteral("Unknown error"));
    QCOMPARE(*list.admit(testutil::writeText(dir_.filePath("short.bmp"), "BM")),
             QStringLiteral("Bitmap file not complete"));
    QCOMPARE(list.fileCount(), 1);
  }

  void removeRowsKeepsTheReferenceUnlessAlone() {
    ImageList list = listOf(5);
    const QStringList all = list.entries();
    QVERIFY(list.removeRows(2, 3));
    QCOMPARE(list.entries(), (QStringList{all[0], all[1], all[4]}));
    QVERIFY(!list.removeRows(0, 2));
    QVERIFY(!list.removeRows(0, 1));
    QVERIFY(list.removeRows(2, 2));
    QVERIFY(list.removeRows(0, 0));
    QCOMPARE(list.entries(), QStringList{all[1]});
    QCOMPARE(list.refWidth(), 4);

    // Ranges outside the list change nothing.
    QVERIFY(!list.removeRows(-1, -1));
    QVERIFY(!list.removeRows(1, 1));
    QVERIFY(!list.removeRows(0, 3));
    QVERIFY(list.removeRows(0, 0));
    QVERIFY(!list.removeRows(0, 0));
    QCOMPARE(list.fileCount(), 0);
  }
};

QTEST_GUILESS_MAIN(ImageListTest)
#include "image_list_test.moc"

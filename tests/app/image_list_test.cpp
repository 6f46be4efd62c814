// The image list's admission and deletion rules, without a window.
#include <QTemporaryDir>
#include <QTest>

#include "app/image_list.h"
#include "ipl/formats/png/png_writer.h"
#include "ipl/formats/tiff/tiff_writer.h"
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

  void framesOfAFileBecomeRowsOfTheirOwn() {
    const QString stack = dir_.filePath("stack.tif");
    velIPL::TiffWriter writer;
    for (int i = 0; i < 3; ++i) writer.addPage(velIPL::GImage(4, 3, static_cast<unsigned char>(i)));
    writer.writeFile(stack.toStdString());
    const QString png = dir_.filePath("one.png");
    velIPL::PngWriter().writeFile(png.toStdString(), velIPL::GImage(4, 3, 9));
    const QString wide = dir_.filePath("wide.png");
    velIPL::PngWriter().writeFile(wide.toStdString(), velIPL::GImage(5, 3, 9));

    ImageList list;
    QVERIFY(!list.admit(stack));
    QVERIFY(!list.admit(png));
    QCOMPARE(*list.admit(wide), QStringLiteral("Image has not same dimensions as reference image"));
    QCOMPARE(list.entries(), (QStringList{stack + " [frame 1 of 3]", stack + " [frame 2 of 3]",
                                          stack + " [frame 3 of 3]", png}));
    QCOMPARE(list.path(2), stack);
    QCOMPARE(list.frame(2), 2);
    QCOMPARE(list.frame(3), 0);
    // Rows, not files, are deleted; the reference rule holds for rows.
    QVERIFY(!list.removeRows(0, 1));
    QVERIFY(list.removeRows(1, 2));
    QCOMPARE(list.entries(), (QStringList{stack + " [frame 1 of 3]", png}));
    QCOMPARE(list.path(1), png);
    QCOMPARE(list.frame(0), 0);
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

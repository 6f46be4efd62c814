// The path and text helpers behind the dialogs, the sorted list and the
// settings.
#include <QTest>

#include <stdexcept>

#include "app/file_names.h"

using namespace lumifold;

class FileNamesTest : public QObject {
  Q_OBJECT

private slots:
  void directoryPartKeepsOnlyTheRootsSeparator() {
    QCOMPARE(directoryPart("/data/scans/a.bmp"), QStringLiteral("/data/scans"));
    QCOMPARE(directoryPart("/a.bmp"), QStringLiteral("/"));
    QCOMPARE(directoryPart("/data/scans/"), QStringLiteral("/data/scans"));
    QCOMPARE(directoryPart("a.bmp"), QString());
  }

  void dialogStartsInTheDirectory() {
    QCOMPARE(dialogStartName("/data/scans"), QStringLiteral("/data/scans/*.bmp"));
    QCOMPARE(dialogStartName("/"), QStringLiteral("/*.bmp"));
  }

  void savedNameEndsInBmp() {
    QCOMPARE(bmpFileName("/out/result.png"), QStringLiteral("/out/result.bmp"));
    QCOMPARE(bmpFileName("/out/result"), QStringLiteral("/out/result.bmp"));
    QCOMPARE(bmpFileName("/out/scan.old"), QStringLiteral("/out/scan.bmp"));
    QCOMPARE(bmpFileName("/out/my.dir/result"), QStringLiteral("/out/my.dir/result.bmp"));
    QCOMPARE(bmpFileName("/out/scan.tar.gz"), QStringLiteral("/out/scan.tar.bmp"));
    QCOMPARE(bmpFileName("/out/result."), QStringLiteral("/out/result.bmp"));
    QCOMPARE(bmpFileName("/out/result.bmp"), QStringLiteral("/out/result.bmp"));
    QCOMPARE(bmpFileName("result"), QStringLiteral("result.bmp"));
  }

  void sortIsCaseInsensitiveAndKeepsCaseVariants() {
    const QStringList sorted = sortedPaths({"/d/scan10.bmp", "/d/scan2.bmp", "/d/Scan1.bmp", "/d/scan1.bmp",
                                            "/d/scan2.bmp"});
    QCOMPARE(sorted, (QStringList{"/d/Scan1.bmp", "/d/scan1.bmp", "/d/scan10.bmp", "/d/scan2.bmp"}));
    QCOMPARE(sortedPaths({"/d/\u00fcber.bmp", "/d/zeta.bmp", "/d/Alpha.bmp"}).size(), 3);
  }

  void windowsFiltersBecomeQtFilters() {
    const QStringList filters = nameFiltersFrom(
        "All (*.jpg;*.jpeg;*.bmp|*.jpg;*.jpeg;*.bmp|JPEG Image File (*.jpg)|*.jpg|"
        "JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp");
    QCOMPARE(filters, (QStringList{"All (*.jpg *.jpeg *.bmp)", "JPEG Image File (*.jpg)",
                                   "JPEG Image File (*.jpeg)", "Bitmaps (*.bmp)"}));
    QCOMPARE(nameFiltersFrom("Bitmaps (*.bmp)|*.bmp"), QStringList{"Bitmaps (*.bmp)"});
  }

  void integerValueAcceptsDecimalsOnly() {
    QCOMPARE(integerValue("5"), 5);
    QCOMPARE(integerValue("-3"), -3);
    QCOMPARE(integerValue(" +9 "), 9);
    for (const char* bad : {"abc", "5x", "0x10", "1.5", "+", "99999999999", ""}) {
      try {
        integerValue(QString::fromUtf8(bad));
        QFAIL(bad);
      } catch (const std::invalid_argument& e) {
        QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("'%1' is not a valid integer value").arg(bad));
      }
    }
  }
};

QTEST_GUILESS_MAIN(FileNamesTest)
#include "file_names_test.moc"

// The bitmap bridge: the parts it keeps are the writer's bytes, and every
// bitmap made from them is a new picture with the image's pixels, row 0 at
// the top.
#include <QColor>
#include <QImage>
#include <QTest>

#include <cstdint>
#include <vector>

#include "app/windows_dib.h"
#include "ipl/images.h"
#include "ipl/ipl_exception.h"
#include "test_support.h"

using velIPL::RGBImage;
using velIPL::WindowsDIB;

namespace {

RGBImage patterned(int width, int height) {
  RGBImage image(width, height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.at(x, y, 0) = static_cast<unsigned char>(x * 37 + y * 11);
      image.at(x, y, 1) = static_cast<unsigned char>(x * 5 + y * 71 + 3);
      image.at(x, y, 2) = static_cast<unsigned char>(255 - x * 13 - y * 29);
    }
  }
  return image;
}

std::uint32_t word(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

}  // namespace

class WindowsDIBTest : public QObject {
  Q_OBJECT

private slots:
  void onePixelKeepsTheWritersBytes() {
    RGBImage image(1, 1, 0);
    image.at(0, 0, 0) = 10;
    image.at(0, 0, 1) = 20;
    image.at(0, 0, 2) = 30;
    const WindowsDIB dib(image);

    QCOMPARE(dib.fileHeader()[0], std::uint8_t('B'));
    QCOMPARE(dib.fileHeader()[1], std::uint8_t('M'));
    QCOMPARE(word(dib.fileHeader().data() + 2), 58u);
    QCOMPARE(word(dib.fileHeader().data() + 10), 54u);
    QCOMPARE(dib.infoHeader().size(), std::size_t{40});
    QCOMPARE(word(dib.infoHeader().data()), 40u);
    QCOMPARE(dib.colourCount(), 0u);
    QVERIFY(dib.palette().empty());
    QCOMPARE(dib.bits(), (std::vector<std::uint8_t>{30, 20, 10, 0}));

    const QImage bitmap = dib.createBitmap();
    QCOMPARE(bitmap.size(), QSize(1, 1));
    QCOMPARE(bitmap.pixelColor(0, 0), QColor(10, 20, 30));
  }

  void rowZeroIsAtTheTop() {
    const RGBImage image = patterned(3, 2);
    const WindowsDIB dib(image);
    QCOMPARE(word(dib.infoHeader().data() + 20), 24u);
    QCOMPARE(dib.bits().size(), std::size_t{24});
    // Stored bottom-up: the file's first row is the image's last.
    QCOMPARE(dib.bits()[0], image.at(0, 1, 2));
    QCOMPARE(dib.bits()[12], image.at(0, 0, 2));

    const QImage bitmap = dib.createBitmap();
    QCOMPARE(bitmap.size(), QSize(3, 2));
    QCOMPARE(testutil::firstDifference(bitmap, image), QString());
  }

  void everyWidthsPaddingIsSkipped() {
    // Widths 1 to 8 cover every padding of a 24-bit row.
    for (int width = 1; width <= 8; ++width) {
      const RGBImage image = patterned(width, 5);
      const QImage bitmap = WindowsDIB(image).createBitmap();
      QCOMPARE(bitmap.size(), QSize(width, 5));
      QCOMPARE(testutil::firstDifference(bitmap, image), QString());
    }
  }

  void eachBitmapIsNewAndIndependent() {
    const RGBImage image = patterned(4, 3);
    QImage first;
    QImage second;
    {
      const WindowsDIB dib(image);
      first = dib.createBitmap();
      second = dib.createBitmap();
    }
    // The bridge is gone; both pictures still hold the pixels.
    QVERIFY(first.cacheKey() != second.cacheKey());
    QVERIFY(first.constBits() != second.constBits());
    QCOMPARE(first, second);
    QCOMPARE(testutil::firstDifference(first, image), QString());

    first.setPixelColor(0, 0, QColor(1, 2, 3));
    QCOMPARE(testutil::firstDifference(second, image), QString());
  }

  void emptyImageMakesNoBridge() {
    for (const RGBImage& empty : {RGBImage(), RGBImage(0, 4, 0), RGBImage(4, 0, 0)}) {
      try {
        WindowsDIB dib(empty);
        QFAIL("an empty image gave a bridge");
      } catch (const velIPL::IPLException& e) {
        QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Empty image"));
      }
    }
  }
};

QTEST_GUILESS_MAIN(WindowsDIBTest)
#include "windows_dib_test.moc"

#include "app/artwork.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace lumifold::artwork {

namespace {

const QColor kSplashBlue(100, 142, 194);
const QColor kDeepBlue(28, 62, 112);

QPixmap transparentPixmap(int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

// A page with a folded corner, the base of the list icons.
void drawPage(QPainter& p) {
  QPainterPath page;
  page.moveTo(3.5, 1.5);
  page.lineTo(12.5, 1.5);
  page.lineTo(16.5, 5.5);
  page.lineTo(16.5, 18.5);
  page.lineTo(3.5, 18.5);
  page.closeSubpath();
  p.setPen(QPen(QColor(90, 90, 90), 1));
  p.setBrush(Qt::white);
  p.drawPath(page);
  p.drawLine(QPointF(12.5, 1.5), QPointF(12.5, 5.5));
  p.drawLine(QPointF(12.5, 5.5), QPointF(16.5, 5.5));
  p.setPen(QPen(QColor(150, 170, 200), 1));
  for (double y = 8.5; y < 17; y += 2.5) p.drawLine(QPointF(5.5, y), QPointF(13.5, y));
}

QPixmap addPicture() {
  QPixmap pm = transparentPixmap(20, 20);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  drawPage(p);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(40, 150, 40));
  p.drawEllipse(QRectF(9, 9, 11, 11));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(13.5, 11, 2, 7));
  p.drawRect(QRectF(11, 13.5, 7, 2));
  return pm;
}

QPixmap clearPicture() {
  QPixmap pm = transparentPixmap(20, 20);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  drawPage(p);
  p.setPen(QPen(QColor(200, 30, 30), 2.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(10, 10), QPointF(18, 18));
  p.drawLine(QPointF(18, 10), QPointF(10, 18));
  return pm;
}

QPixmap runPicture() {
  QPixmap pm = transparentPixmap(20, 20);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  // Three scans folding into one: the program's work in a picture.
  p.setPen(QPen(QColor(60, 60, 60), 1));
  for (int i = 0; i < 3; ++i) {
    p.setBrush(QColor(200 - 40 * i, 210 - 30 * i, 230 - 20 * i));
    p.drawRect(QRectF(1.5 + 2 * i, 3.5 + 2 * i, 8, 10));
  }
  QPainterPath arrow;
  arrow.moveTo(11, 6);
  arrow.lineTo(19, 11.5);
  arrow.lineTo(11, 17);
  arrow.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(40, 150, 40));
  p.drawPath(arrow);
  return pm;
}

QPixmap webPicture() {
  QPixmap pm = transparentPixmap(20, 20);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF globe(2, 2, 16, 16);
  QRadialGradient shade(QPointF(7, 7), 12);
  shade.setColorAt(0, QColor(140, 190, 250));
  shade.setColorAt(1, QColor(30, 90, 180));
  p.setPen(QPen(QColor(20, 60, 130), 1));
  p.setBrush(shade);
  p.drawEllipse(globe);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(230, 240, 255), 1));
  p.drawEllipse(QRectF(6.5, 2, 7, 16));
  p.drawLine(QPointF(10, 2), QPointF(10, 18));
  p.drawLine(QPointF(2, 10), QPointF(18, 10));
  p.drawLine(QPointF(3.5, 6), QPointF(16.5, 6));
  p.drawLine(QPointF(3.5, 14), QPointF(16.5, 14));
  return pm;
}

QPixmap savePicture() {
  QPixmap pm = transparentPixmap(20, 20);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(20, 40, 90), 1));
  p.setBrush(QColor(50, 90, 170));
  p.drawRoundedRect(QRectF(2.5, 2.5, 15, 15), 1.5, 1.5);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(5.5, 2.5, 9, 6));
  p.setBrush(QColor(200, 200, 200));
  p.drawRect(QRectF(5.5, 11.5, 9, 6));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(50, 90, 170));
  p.drawRect(QRectF(11, 3.5, 2, 4));
  return pm;
}

// Bands like the layers of a retina in a B-scan, bowed like a fovea.
void drawLayers(QPainter& p, const QRectF& box, const QColor& colour) {
  const QColor layerColours[] = {colour, QColor(250, 190, 60), colour};
  for (int i = 0; i < 3; ++i) {
    const double y = box.top() + box.height() * (0.25 + 0.25 * i);
    QPainterPath band;
    band.moveTo(box.left(), y);
    band.cubicTo(box.left() + box.width() * 0.35, y, box.left() + box.width() * 0.4,
                 y + box.height() * 0.22, box.center().x(), y + box.height() * 0.22);
    band.cubicTo(box.left() + box.width() * 0.6, y + box.height() * 0.22,
                 box.left() + box.width() * 0.65, y, box.right(), y);
    p.setPen(QPen(layerColours[i], i == 1 ? 3.0 : 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(band);
  }
}

}  // namespace

QIcon toolIcon(ToolIcon which) {
  switch (which) {
    case ToolIcon::Add:
      return QIcon(addPicture());
    case ToolIcon::Clear:
      return QIcon(clearPicture());
    case ToolIcon::Run:
      return QIcon(runPicture());
    case ToolIcon::Web:
      return QIcon(webPicture());
    case ToolIcon::Save:
      return QIcon(savePicture());
  }
  return QIcon();
}

QPixmap productLogo() {
  QPixmap pm = transparentPixmap(135, 56);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setPen(QPen(Qt::white, 1.5));
  p.setBrush(QColor(255, 255, 255, 40));
  p.drawRoundedRect(QRectF(1, 1, 52, 54), 6, 6);
  drawLayers(p, QRectF(6, 6, 42, 40), Qt::white);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(20);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(58, 8, 77, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("lumi"));
  p.drawText(QRectF(58, 28, 77, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("fold"));
  return pm;
}

QPixmap makerLogo() {
  QPixmap pm = transparentPixmap(135, 60);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  // An eye: the maker's mark.
  QPainterPath eye;
  eye.moveTo(4, 30);
  eye.quadTo(26, 6, 48, 30);
  eye.quadTo(26, 54, 4, 30);
  p.setPen(QPen(kDeepBlue, 2.5));
  p.setBrush(Qt::white);
  p.drawPath(eye);
  p.setPen(Qt::NoPen);
  p.setBrush(kSplashBlue);
  p.drawEllipse(QPointF(26, 30), 10, 10);
  p.setBrush(kDeepBlue);
  p.drawEllipse(QPointF(26, 30), 4.5, 4.5);
  // The largest size at which the name fits beside the eye in this font.
  const QString name = QStringLiteral("pellora");
  QFont font(QStringLiteral("Arial"));
  font.setBold(true);
  for (int size = 22; size > 10; --size) {
    font.setPixelSize(size);
    if (QFontMetrics(font).horizontalAdvance(name) <= 78) break;
  }
  p.setFont(font);
  p.setPen(kDeepBlue);
  p.drawText(QRectF(54, 10, 81, 40), Qt::AlignLeft | Qt::AlignVCenter, name);
  return pm;
}

QPixmap warningSign() {
  QPixmap pm = transparentPixmap(36, 36);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath triangle;
  triangle.moveTo(18, 2.5);
  triangle.lineTo(34, 32.5);
  triangle.lineTo(2, 32.5);
  triangle.closeSubpath();
  p.setPen(QPen(QColor(60, 50, 0), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(QColor(255, 215, 0));
  p.drawPath(triangle);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  QPainterPath bar;
  bar.moveTo(16.2, 11);
  bar.lineTo(19.8, 11);
  bar.lineTo(18.9, 23);
  bar.lineTo(17.1, 23);
  bar.closeSubpath();
  p.drawPath(bar);
  p.drawEllipse(QPointF(18, 27.3), 2, 2);
  return pm;
}

QIcon applicationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) {
    QPixmap pm = transparentPixmap(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 64.0;
    p.scale(s, s);
    QLinearGradient back(0, 0, 0, 64);
    back.setColorAt(0, kSplashBlue);
    back.setColorAt(1, kDeepBlue);
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    drawLayers(p, QRectF(8, 8, 48, 44), Qt::white);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

QPixmap previewStrip(const velIPL::RGBImage& table, int height) {
  QImage strip(256, height, QImage::Format_RGB32);
  for (int g = 0; g < 256; ++g) {
    const QRgb colour = qRgb(table.at(g, 0, 0), table.at(g, 0, 1), table.at(g, 0, 2));
    for (int y = 0; y < height; ++y) strip.setPixel(g, y, colour);
  }
  return QPixmap::fromImage(strip);
}

}  // namespace lumifold::artwork

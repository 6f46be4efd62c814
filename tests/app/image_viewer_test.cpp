// The result viewer: its make-up, closing, and the save command - the
// names it writes, the colours and size of the file, cancelling, and a save
// that fails.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QApplication>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <cmath>
#include <csignal>
#include <memory>
#include <sys/resource.h>

#include "app/image_viewer.h"
#include "app/main_panel.h"
#include "app/picture_control.h"
#include "app/radio_group.h"
#include "app/window_geometry.h"
#include "color/color_scales.h"
#include "test_support.h"

using lumifold::TMainPanel;

class ImageViewerTest : public testutil::WindowTest {
  Q_OBJECT

private:
  QString out_;

  // A main window that has merged a small series and shows it.
  std::unique_ptr<TMainPanel> mergedPanel(int width = 40, int height = 30) {
    auto panel = std::make_unique<TMainPanel>(*platform_);
    panel->setCompanions(viewer_.get(), nullptr, nullptr);
    panel->AddFiles(testutil::writeSeries(files_->filePath("series"), 3, width, height));
    panel->RunButton->click();
    if (!panel->merged) qFatal("the series did not merge");
    return panel;
  }

  void save(const QString& chosen) {
    platform_->saveAnswers.push_back(chosen);
    viewer_->SaveResultButton->click();
  }

  // Where the file at path differs from the merge coloured with scale.
  static QString savedDifference(const QString& path, const TMainPanel& panel, int scale) {
    const QImage saved(path, "BMP");
    if (saved.isNull()) return QStringLiteral("no picture in ") + path;
    return testutil::firstDifference(
        saved, lumifold::ApplyColorScale(lumifold::SelectedColorScale(scale), panel.mergedImage));
  }

  QStringList outEntries() const {
    return QDir(out_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
  }

private slots:
  void initTestCase() { lumifold::setApplicationTitle(QStringLiteral("Lumifold 1.0")); }

  void init() {
    freshWindows();
    out_ = files_->filePath("out");
    QDir().mkpath(out_ + "/my.dir");
  }

  void windowIsMadeAsDesigned() {
    QVERIFY(!viewer_->isVisible());
    QCOMPARE(viewer_->windowTitle(), QStringLiteral("pellora Image Viewer"));
    QCOMPARE(lumifold::outerGeometry(viewer_.get()).size(), QSize(700, 500));
    QCOMPARE(viewer_->SaveResultButton->toolTip(), QStringLiteral("Save As ..."));
    QCOMPARE(viewer_->SaveResultButton->size(), QSize(26, 26));
    QCOMPARE(viewer_->SaveResultButton->parentWidget(), viewer_->ToolBar1);

    viewer_->show();
    QCOMPARE(viewer_->ToolBar1->geometry(), QRect(0, 0, viewer_->width(), 31));
    QCOMPARE(viewer_->PictureArea->geometry(), QRect(0, 31, viewer_->width(), viewer_->height() - 31));

    // Closing only hides it; it is shown again by the next run.
    QVERIFY(viewer_->close());
    QVERIFY(!viewer_->isVisible());
    QVERIFY(!viewer_->testAttribute(Qt::WA_DeleteOnClose));
  }

  void pictureShowsUnscaledFromTheTopLeft() {
    // Narrower than the window may be: the picture stands at the top-left,
    // the rest of the control in the window's colour.
    auto panel = mergedPanel(24, 30);
    QCOMPARE(viewer_->size(), QSize(lumifold::TImageViewer::kMinimumWidth, 61));
    // A window the user made larger shows the picture as it was.
    viewer_->resize(300, 100);
    const QImage shown = viewer_->Image->grab().toImage();
    QCOMPARE(shown.size(), QSize(300, 69));
    const QImage& picture = viewer_->Image->bitmap();
    for (const QPoint p : {QPoint(0, 0), QPoint(23, 0), QPoint(0, 29), QPoint(23, 29), QPoint(17, 11)}) {
      QCOMPARE(shown.pixelColor(p), picture.pixelColor(p));
    }
    const QColor background = viewer_->Image->palette().color(QPalette::Window);
    for (const QPoint p : {QPoint(24, 0), QPoint(0, 30), QPoint(299, 68)}) {
      QCOMPARE(shown.pixelColor(p), background);
    }
    // No narrower than the room its caption, close box and button need.
    viewer_->resize(24, 61);
    QCOMPARE(viewer_->width(), lumifold::TImageViewer::kMinimumWidth);
    QVERIFY(viewer_->rect().contains(viewer_->SaveResultButton->geometry()));
    QVERIFY(viewer_->SaveResultButton->isVisible());
  }

  // A picture larger than the screen: the window is cut to the screen's free
  // area (offscreen 800 x 800) and the picture scrolls to its last pixel.
  void largePictureScrollsOnTheScreen() {
    auto panel = std::make_unique<TMainPanel>(*platform_);
    panel->setCompanions(viewer_.get(), nullptr, nullptr);
    panel->show();
    panel->AddFiles(testutil::writeSeries(files_->filePath("series"), 2, 1000, 900));
    panel->RunButton->click();
    QVERIFY(panel->merged);
    const QRect area = viewer_->screen()->availableGeometry();
    QCOMPARE(lumifold::outerGeometry(viewer_.get()), area);
    QTRY_VERIFY(viewer_->PictureArea->horizontalScrollBar()->isVisible());
    QVERIFY(viewer_->PictureArea->verticalScrollBar()->isVisible());
    const QImage& picture = viewer_->Image->bitmap();
    QCOMPARE(viewer_->Image->size(), picture.size());

    QWidget* viewport = viewer_->PictureArea->viewport();
    QCOMPARE(viewport->grab().toImage().pixelColor(0, 0), picture.pixelColor(0, 0));
    viewer_->PictureArea->horizontalScrollBar()->setValue(viewer_->PictureArea->horizontalScrollBar()->maximum());
    viewer_->PictureArea->verticalScrollBar()->setValue(viewer_->PictureArea->verticalScrollBar()->maximum());
    const QImage end = viewport->grab().toImage();
    QCOMPARE(end.pixelColor(end.width() - 1, end.height() - 1), picture.pixelColor(999, 899));

    // Scrolled to the far corner, the next run starts at the top-left.
    panel->RunButton->click();
    QCOMPARE(viewer_->PictureArea->horizontalScrollBar()->value(), 0);
    QCOMPARE(viewer_->PictureArea->verticalScrollBar()->value(), 0);
  }

  // Zoom by keys and wheel; whole factors repeat each pixel exactly; the
  // next run starts at 1:1 again.
  void zoomsSharplyAndEachRunStartsAtOneToOne() {
    auto panel = mergedPanel();
    viewer_->resize(400, 331);
    viewer_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(viewer_.get()));
    const QImage& picture = viewer_->Image->bitmap();
    const auto key = [this](Qt::Key k) { QTest::keyClick(viewer_.get(), k, Qt::ControlModifier); };
    const auto zoom = [this] { return viewer_->Image->zoom(); };

    key(Qt::Key_Plus);
    QCOMPARE(zoom(), 2.0);
    key(Qt::Key_Equal);
    QCOMPARE(zoom(), 3.0);
    QCOMPARE(viewer_->Image->minimumSize(), QSize(120, 90));
    const QImage tripled = viewer_->Image->grab().toImage();
    for (const QPoint p : {QPoint(0, 0), QPoint(39, 29), QPoint(17, 11)}) {
      for (int i = 0; i < 9; ++i) {
        QCOMPARE(tripled.pixelColor(3 * p.x() + i % 3, 3 * p.y() + i / 3), picture.pixelColor(p));
      }
    }
    key(Qt::Key_Minus);
    key(Qt::Key_Minus);
    key(Qt::Key_Minus);
    QCOMPARE(zoom(), 0.5);
    QCOMPARE(viewer_->Image->minimumSize(), QSize(20, 15));
    key(Qt::Key_0);
    QCOMPARE(zoom(), 1.0);
    // Fitting the 400 x 300 area; the steps go on from there.
    key(Qt::Key_F);
    QCOMPARE(zoom(), 10.0);
    QCOMPARE(viewer_->Image->size(), QSize(400, 300));
    key(Qt::Key_Plus);
    QCOMPARE(zoom(), 12.0);
    // The scroll area shows its bars once the event loop runs.
    QTRY_VERIFY(viewer_->PictureArea->horizontalScrollBar()->isVisible());

    // Ctrl with the wheel keeps the picture point under the mouse. (A
    // wheel event made here goes straight to the area's viewport; the
    // window system's would reach it through the picture.)
    QWidget* viewport = viewer_->PictureArea->viewport();
    const QPoint mouse(100, 80);
    const auto pictureUnder = [&] {
      return QPointF(viewer_->PictureArea->horizontalScrollBar()->value() + mouse.x(),
                     viewer_->PictureArea->verticalScrollBar()->value() + mouse.y()) / zoom();
    };
    const QPointF before = pictureUnder();
    QWheelEvent wheel(mouse, viewport->mapToGlobal(mouse), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &wheel);
    QCOMPARE(zoom(), 16.0);
    QVERIFY(std::abs(pictureUnder().x() - before.x()) < 0.1 && std::abs(pictureUnder().y() - before.y()) < 0.1);
    // Without Ctrl the wheel scrolls as ever.
    QWheelEvent scroll(mouse, viewport->mapToGlobal(mouse), QPoint(), QPoint(0, -120), Qt::NoButton,
                       Qt::NoModifier, Qt::NoScrollPhase, false);
    const int top = viewer_->PictureArea->verticalScrollBar()->value();
    QApplication::sendEvent(viewport, &scroll);
    QCOMPARE(zoom(), 16.0);
    QVERIFY(viewer_->PictureArea->verticalScrollBar()->value() > top);

    panel->RunButton->click();
    QCOMPARE(zoom(), 1.0);
    QCOMPARE(viewer_->size(), QSize(lumifold::TImageViewer::kMinimumWidth, 61));
    QCOMPARE(viewer_->PictureArea->horizontalScrollBar()->value(), 0);
  }

  // The placement rule alone: where the window fits it stays; otherwise it
  // moves the least distance onto the area, cut to the area's size.
  void placementKeepsWindowsInsideTheArea() {
    const QRect area(0, 20, 800, 580);
    const struct {
      QRect wanted;
      QRect placed;
    } cases[] = {
        {QRect(100, 50, 300, 200), QRect(100, 50, 300, 200)},  // fits
        {QRect(700, 50, 300, 200), QRect(500, 50, 300, 200)},  // past the right edge
        {QRect(100, 500, 300, 200), QRect(100, 400, 300, 200)},  // past the bottom
        {QRect(-50, 0, 300, 200), QRect(0, 20, 300, 200)},  // past the left and top
        {QRect(400, 50, 1000, 900), QRect(0, 20, 800, 580)},  // larger than the area
    };
    for (const auto& c : cases) QCOMPARE(lumifold::keptInside(c.wanted, area), c.placed);
  }

  void savesTheCurrentColoursUnderBmpNames() {
    auto panel = mergedPanel();
    const QString startDirectory = panel->lastOutput;
    save(out_ + "/result.png");
    save(out_ + "/result");
    save(out_ + "/scan.old");
    save(out_ + "/my.dir/result");
    QVERIFY(platform_->exceptions.isEmpty());
    QCOMPARE(platform_->saveRequests,
             (QStringList{startDirectory + "/*.bmp", out_ + "/*.bmp", out_ + "/*.bmp", out_ + "/*.bmp"}));
    QCOMPARE(panel->lastOutput, out_ + "/my.dir");
    // Nothing else is left behind: no other name, no temporary file.
    QCOMPARE(outEntries(), (QStringList{"my.dir", "result.bmp", "scan.bmp"}));
    QCOMPARE(QDir(out_ + "/my.dir").entryList(QDir::Files | QDir::Hidden), QStringList{"result.bmp"});
    for (const char* name : {"/result.bmp", "/scan.bmp", "/my.dir/result.bmp"}) {
      QCOMPARE(savedDifference(out_ + QString::fromUtf8(name), *panel, 0), QString());
    }

    // A new scale on the Settings page, a viewer the user made larger, and
    // the same name again: replaced, with the new colours, at the merge's
    // own size.
    panel->ColorScales->button(4)->click();
    viewer_->resize(700, 500);
    save(out_ + "/result.png");
    QVERIFY(platform_->exceptions.isEmpty());
    QCOMPARE(QImage(out_ + "/result.bmp").size(), QSize(40, 30));
    QCOMPARE(savedDifference(out_ + "/result.bmp", *panel, 4), QString());

    // The last save's folder is kept for the next start.
    panel->close();
    QCOMPARE(sandbox_->settings()->value("lastOutput").toString(), out_);
  }

  void cancellingChangesNothing() {
    auto panel = mergedPanel();
    const QString before = panel->lastOutput;
    viewer_->SaveResultButton->click();
    QCOMPARE(platform_->saveRequests.size(), 1);
    QCOMPARE(panel->lastOutput, before);
    QCOMPARE(outEntries(), QStringList{"my.dir"});
    QVERIFY(platform_->exceptions.isEmpty());
    QVERIFY(viewer_->isVisible());
  }

  void failedSaveIsReportedAndKeepsTheOldFile() {
    auto panel = mergedPanel();
    const QString existing = testutil::writeText(out_ + "/result.bmp", "the earlier result");

    // A folder that is not there: the writer's message, then the system's
    // reason.
    save(out_ + "/missing/result.png");
    QCOMPARE(platform_->exceptions,
             QStringList{"Cannot open image file " + out_ + "/missing/result.bmp: No such file or folder"});
    QCOMPARE(panel->lastOutput, out_ + "/missing");

    // A disk that fills up while writing: files may not grow past 64 bytes.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
    rlimit tight = limit;
    tight.rlim_cur = 64;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
    save(out_ + "/result.png");
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(platform_->exceptions.size(), 2);
    QCOMPARE(platform_->exceptions[1], "Cannot write image file " + existing + ": File too large");
    QFile kept(existing);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("the earlier result"));
    QCOMPARE(outEntries(), (QStringList{"my.dir", "result.bmp"}));
    QVERIFY(viewer_->isVisible());

    // With room again the same save succeeds.
    save(out_ + "/result.png");
    QCOMPARE(platform_->exceptions.size(), 2);
    QCOMPARE(savedDifference(existing, *panel, 0), QString());
  }
};

QTEST_MAIN(ImageViewerTest)
#include "image_viewer_test.moc"

// The result viewer: its make-up, closing, and the save command - the
// names it writes, the colours and size of the file, cancelling, and a save
// that fails.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRadioButton>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

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
  std::unique_ptr<TMainPanel> mergedPanel() {
    auto panel = std::make_unique<TMainPanel>(*platform_);
    panel->setCompanions(viewer_.get(), nullptr, nullptr);
    panel->AddFiles(testutil::writeSeries(files_->filePath("series"), 3, 40, 30));
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
    QCOMPARE(viewer_->Image->geometry(), QRect(0, 31, viewer_->width(), viewer_->height() - 31));

    // Closing only hides it; it is shown again by the next run.
    QVERIFY(viewer_->close());
    QVERIFY(!viewer_->isVisible());
    QVERIFY(!viewer_->testAttribute(Qt::WA_DeleteOnClose));
  }

  void pictureShowsUnscaledFromTheTopLeft() {
    auto panel = mergedPanel();
    QCOMPARE(viewer_->size(), QSize(40, 61));
    // A window the user made larger shows the picture as it was, the rest
    // of the control in the window's colour.
    viewer_->resize(100, 100);
    const QImage shown = viewer_->Image->grab().toImage();
    QCOMPARE(shown.size(), QSize(100, 69));
    const QImage& picture = viewer_->Image->bitmap();
    for (const QPoint p : {QPoint(0, 0), QPoint(39, 0), QPoint(0, 29), QPoint(39, 29), QPoint(17, 11)}) {
      QCOMPARE(shown.pixelColor(p), picture.pixelColor(p));
    }
    const QColor background = viewer_->Image->palette().color(QPalette::Window);
    for (const QPoint p : {QPoint(40, 0), QPoint(0, 30), QPoint(99, 68)}) {
      QCOMPARE(shown.pixelColor(p), background);
    }
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

    // A folder that is not there.
    save(out_ + "/missing/result.png");
    QCOMPARE(platform_->exceptions, QStringList{"Cannot open image file " + out_ + "/missing/result.bmp"});
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
    QVERIFY2(platform_->exceptions[1].startsWith("Cannot write image file " + existing),
             qPrintable(platform_->exceptions[1]));
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

// The windows under a real window manager (Xvfb and openbox, started by the
// test itself), where frames, placement and stacking are real: the viewer's
// place over several showings, a viewer kept on the screen, and messages
// shown while the splash is up. Skips with the reason where no X server or
// window manager can be started.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QTabWidget>
#include <QRadioButton>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>
#include <QTest>
#include <QToolButton>

#include <cstdlib>
#include <memory>

#include "app/image_viewer.h"
#include "app/main_panel.h"
#include "app/picture_control.h"
#include "app/radio_group.h"
#include "app/splash_screen.h"
#include "app/string_grid.h"
#include "app/window_geometry.h"
#include "test_support.h"
#include "x_session.h"

using lumifold::TMainPanel;

namespace {

const testutil::XSession* g_session = nullptr;

QString describe(const QRect& r) {
  return QStringLiteral("(%1, %2) %3 x %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

}  // namespace

class WindowManagerTest : public testutil::WindowTest {
  Q_OBJECT

private:
  // Runs the panel and waits until the window manager has put the viewer
  // on screen; returns where it stands, frame included.
  QRect runAndMeasure(TMainPanel& panel) {
    panel.RunButton->click();
    if (!viewer_->isVisible() || !testutil::waitUntilFramed(viewer_.get())) return {};
    return viewer_->frameGeometry();
  }

private slots:
  void initTestCase() {
    if (!g_session->ready()) QSKIP(qPrintable(g_session->reason()));
    lumifold::setApplicationTitle(QStringLiteral("Lumifold 1.0"));
    if (!testutil::waitForWindowManager()) QSKIP("no window manager framed a window on the test display");
  }

  void init() { freshWindows(); }

  // Every showing stands level with the main window at its right edge:
  // the first, one after the close box, one after a list change and one
  // after a failed merge.
  void viewerKeepsItsPlace() {
    auto panel = std::make_unique<TMainPanel>(*platform_);
    panel->setCompanions(viewer_.get(), nullptr, nullptr);
    const QStringList frames = testutil::writeSeries(files_->filePath("series"), 3, 64, 48);
    panel->AddFiles(frames);
    // Room for the viewer beside the main window on the 1280-pixel screen.
    panel->move(0, 100);
    panel->show();
    QVERIFY(testutil::waitUntilFramed(panel.get()));
    const QRect main = panel->frameGeometry();
    const QPoint beside(main.x() + main.width(), main.y());

    QList<QRect> shown;
    shown.push_back(runAndMeasure(*panel));
    viewer_->close();
    QVERIFY(!viewer_->isVisible());
    shown.push_back(runAndMeasure(*panel));
    panel->FileList->selectRows(2, 2);
    QTest::keyClick(panel->FileList, Qt::Key_Delete);
    QVERIFY(!viewer_->isVisible());
    shown.push_back(runAndMeasure(*panel));
    // A merge that fails hides it too; the next one shows it again.
    QVERIFY(QFile::rename(frames[1], frames[1] + ".away"));
    panel->Algorithm->button(1)->click();
    QCOMPARE(platform_->exceptions.size(), 1);
    QVERIFY(!viewer_->isVisible());
    QVERIFY(QFile::rename(frames[1] + ".away", frames[1]));
    shown.push_back(runAndMeasure(*panel));
    for (int i = 0; i < shown.size(); ++i) {
      qInfo("showing %d: viewer %s, main window %s", i + 1, qPrintable(describe(shown[i])), qPrintable(describe(main)));
      QCOMPARE(shown[i].topLeft(), beside);
    }
  }

  // Larger than the screen: the window is cut to the screen's free area,
  // the picture scrolls, and the wheel and keys zoom. A 24-pixel-wide
  // result still gets a window whose close box and button work, its
  // picture at the top-left.
  void viewerStaysUsableOnTheScreen() {
    auto panel = std::make_unique<TMainPanel>(*platform_);
    panel->setCompanions(viewer_.get(), nullptr, nullptr);
    panel->AddFiles(testutil::writeSeries(files_->filePath("large"), 2, 1300, 1000));
    panel->show();
    QVERIFY(testutil::waitUntilFramed(panel.get()));
    const QRect area = viewer_->screen()->availableGeometry();
    const QRect large = runAndMeasure(*panel);
    qInfo("large result: viewer %s on %s", qPrintable(describe(large)), qPrintable(describe(area)));
    QCOMPARE(large, area);
    QVERIFY(viewer_->PictureArea->horizontalScrollBar()->isVisible());
    QVERIFY(viewer_->PictureArea->verticalScrollBar()->isVisible());

    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xdotool.isEmpty()) QSKIP("xdotool is not installed: no input through the window system");
    const auto xdo = [&xdotool](const QStringList& args) { return QProcess::execute(xdotool, args) == 0; };
    const auto at = [](QPoint p) { return QStringList{"mousemove", QString::number(p.x()), QString::number(p.y())}; };

    // Zoom by the wheel and the keys as the window system delivers them.
    viewer_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(viewer_.get()));
    const QPoint overPicture = viewer_->Image->mapToGlobal(QPoint(300, 200));
    QVERIFY(xdo(at(overPicture) + QStringList{"keydown", "ctrl", "click", "4", "keyup", "ctrl"}));
    QTRY_COMPARE(viewer_->Image->zoom(), 2.0);
    QVERIFY(xdo({"key", "ctrl+plus"}));
    QTRY_COMPARE(viewer_->Image->zoom(), 3.0);
    QVERIFY(xdo({"key", "ctrl+minus"}));
    QTRY_COMPARE(viewer_->Image->zoom(), 2.0);
    QVERIFY(xdo({"key", "ctrl+f"}));
    QTRY_VERIFY(viewer_->Image->zoom() < 1.0);
    QVERIFY(xdo({"key", "ctrl+0"}));
    QTRY_COMPARE(viewer_->Image->zoom(), 1.0);

    panel->ClearList1->trigger();
    panel->AddFiles(testutil::writeSeries(files_->filePath("narrow"), 2, 24, 30));
    const QRect narrow = runAndMeasure(*panel);
    qInfo("24-pixel result: viewer %s", qPrintable(describe(narrow)));
    QCOMPARE(viewer_->width(), lumifold::TImageViewer::kMinimumWidth);
    QCOMPARE(viewer_->Image->mapTo(viewer_.get(), QPoint(0, 0)), QPoint(0, lumifold::TImageViewer::kToolBarHeight));
    const auto click = [&](QPoint p) { return xdo(at(p) + QStringList{"click", "1"}); };
    QVERIFY(click(viewer_->SaveResultButton->mapToGlobal(viewer_->SaveResultButton->rect().center())));
    QTRY_COMPARE(platform_->saveRequests.size(), 1);
    // The close box is the last button of the title bar, at its right end.
    const QMargins frame = viewer_->windowHandle()->frameMargins();
    QVERIFY(click(QPoint(narrow.right() - frame.top() / 2, narrow.top() + frame.top() / 2)));
    QTRY_VERIFY(!viewer_->isVisible());
  }

  // After a merge that left frames out, the screen shows the greyed rows
  // and the status line under the picture. LUMIFOLD_SCREENSHOTS names a
  // folder to keep what the screen showed.
  void leftOutFramesAndStatusLineShow() {
    QList<int> bad;
    const QStringList frames = testutil::writeBadSeries(files_->path(), 256, 192, bad);

    auto panel = std::make_unique<TMainPanel>(*platform_);
    panel->setCompanions(viewer_.get(), nullptr, nullptr);
    panel->AddFiles(frames);
    panel->RejectFrames->setChecked(true);
    panel->move(0, 100);
    panel->show();
    QVERIFY(testutil::waitUntilFramed(panel.get()));
    panel->RunButton->click();
    QVERIFY(viewer_->isVisible() && testutil::waitUntilFramed(viewer_.get()));
    panel->PageControl1->setCurrentWidget(panel->ProcessPage);
    QTest::qWait(200);

    // What the screen shows of a left-out row: a note at its right end,
    // drawn lighter than the text of a row that was kept.
    int kept = 1;
    while (panel->FileList->rowGreyed(kept)) ++kept;
    const auto shownRow = [&](int row) {
      const QRect cell = panel->FileList->visualRect(panel->FileList->model()->index(row, 0));
      const QPoint at = panel->FileList->viewport()->mapToGlobal(cell.topLeft());
      return panel->screen()->grabWindow(0, at.x(), at.y(), cell.width(), cell.height()).toImage();
    };
    // The darkest grey in columns from .. to of a row, and how many pixels
    // differ from its background there.
    const auto ink = [](const QImage& row, int from, int to, int& marked) {
      int darkest = 255;
      marked = 0;
      const QRgb background = row.pixel(row.width() - 1, row.height() / 2);
      for (int x = from; x < to; ++x) {
        for (int y = 1; y < row.height() - 1; ++y) {
          darkest = std::min(darkest, qGray(row.pixel(x, y)));
          marked += row.pixel(x, y) != background ? 1 : 0;
        }
      }
      return darkest;
    };
    const int row = bad.front();
    QVERIFY(panel->FileList->rowGreyed(row));
    const QImage left = shownRow(row);
    const QImage plain = shownRow(kept);
    int noteInk = 0;
    int textInk = 0;
    const int noteDarkest = ink(left, left.width() * 3 / 4, left.width() - 3, noteInk);
    const int textDarkest = ink(plain, 3, plain.width() / 4, textInk);
    QVERIFY2(noteInk > 10 && textInk > 10, "nothing drawn");
    QVERIFY2(noteDarkest > textDarkest + 40,
             qPrintable(QStringLiteral("note %1, kept row's text %2").arg(noteDarkest).arg(textDarkest)));
    QCOMPARE(panel->FileList->rowNote(kept), QString());

    // The status line under the picture, inside the window, with its text.
    QVERIFY(viewer_->StatusLine->isVisible());
    QCOMPARE(viewer_->StatusLine->geometry().top(), lumifold::TImageViewer::kToolBarHeight + 192);
    QVERIFY(viewer_->rect().contains(viewer_->StatusLine->geometry()));
    QVERIFY(viewer_->StatusLine->text().contains(QStringLiteral("6 of 8 kept")));
    const QPoint lineAt = viewer_->StatusLine->mapToGlobal(QPoint(0, 0));
    const QImage lineShown = viewer_->screen()
                                 ->grabWindow(0, lineAt.x(), lineAt.y(), viewer_->StatusLine->width(),
                                              viewer_->StatusLine->height())
                                 .toImage();
    QCOMPARE(lineShown.convertToFormat(QImage::Format_RGB32),
             viewer_->StatusLine->grab().toImage().convertToFormat(QImage::Format_RGB32));

    const QString keep = qEnvironmentVariable("LUMIFOLD_SCREENSHOTS");
    if (!keep.isEmpty()) {
      const QRect both = panel->frameGeometry().united(viewer_->frameGeometry());
      panel->screen()->grabWindow(0, both.x(), both.y(), both.width(), both.height()).save(keep + "/process.png");
      panel->PageControl1->setCurrentWidget(panel->SettingsPage);
      QTest::qWait(200);
      panel->screen()->grabWindow(0, both.x(), both.y(), both.width(), both.height()).save(keep + "/settings.png");
    }
  }

  // The start-up splash stays on top; a file refused while it is up gets
  // its error dialog where the user can see and answer it.
  void startUpMessagesShowAboveTheSplash() {
    struct Dialogs : testutil::FakePlatform {
      void showErrorDialog(QWidget* parent, const QString& path, const QString& reason) override {
        QtPlatform::showErrorDialog(parent, path, reason);
      }
    } platform;
    lumifold::TSplashScreen splash(platform);
    TMainPanel panel(platform);
    panel.setCompanions(nullptr, &splash, nullptr);
    splash.show();
    panel.show();
    QVERIFY(testutil::waitUntilFramed(&panel));

    // What the screen shows where the dialog is, against the dialog itself.
    double sameShare = -1;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      if (!dialog || !testutil::waitUntilFramed(dialog)) return;
      look.stop();
      QTest::qWait(100);
      const QImage own = dialog->grab().toImage().convertToFormat(QImage::Format_RGB32);
      const QPoint at = dialog->mapToGlobal(QPoint(0, 0));
      const QImage screen = dialog->screen()
                                ->grabWindow(0, at.x(), at.y(), own.width(), own.height())
                                .toImage()
                                .convertToFormat(QImage::Format_RGB32);
      qsizetype same = 0;
      for (int y = 0; y < own.height(); ++y) {
        for (int x = 0; x < own.width(); ++x) same += own.pixel(x, y) == screen.pixel(x, y) ? 1 : 0;
      }
      sameShare = static_cast<double>(same) / (static_cast<double>(own.width()) * own.height());
      dialog->close();
    });
    look.start(20);
    panel.filesDropped({testutil::writeText(files_->filePath("notes.bmp"), "not a picture")});
    QCOMPARE(platform.errors.size(), 0);
    QVERIFY2(sameShare > 0.99, qPrintable(QStringLiteral("%1 of the dialog on the screen").arg(sameShare)));
  }
};

int main(int argc, char* argv[]) {
  // The display must be there before the application connects to it.
  const testutil::XSession session;
  g_session = &session;
  // Without a session the tests only skip; they need no display for that.
  if (!session.ready()) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  WindowManagerTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_manager_test.moc"

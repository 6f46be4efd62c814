// The processing command of the main window: when it merges and with which
// algorithm, how it drives the progress bar, how it colours and shows the
// result beside the window, and how it recovers from a merge that fails.
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <memory>

#include "app/image_viewer.h"
#include "app/main_panel.h"
#include "app/picture_control.h"
#include "app/radio_group.h"
#include "app/string_grid.h"
#include "app/window_geometry.h"
#include "color/color_scales.h"
#include "test_support.h"

using lumifold::TMainPanel;

namespace {

// How often a merge of n images ran, from the bar's moves: each merge moves
// it to n exactly once.
int mergesSeen(const QSignalSpy& progress, int n) {
  int merges = 0;
  for (const QList<QVariant>& call : progress) merges += call.at(0).toInt() == n ? 1 : 0;
  return merges;
}

// Input as the window system queues it: delivered by the event loop, here
// while a merge runs or, were it not taken then, after it.
void postClick(QWidget* widget) {
  const QPointF at = QRectF(widget->rect()).center();
  const QPointF global = widget->mapToGlobal(at);
  QCoreApplication::postEvent(widget, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                                      Qt::LeftButton, Qt::NoModifier));
  QCoreApplication::postEvent(widget, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                                      Qt::NoButton, Qt::NoModifier));
}

void postKey(QWidget* widget, Qt::Key key) {
  QCoreApplication::postEvent(widget, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
  QCoreApplication::postEvent(widget, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier));
}

QList<int> moves(const QSignalSpy& progress) {
  QList<int> values;
  for (const QList<QVariant>& call : progress) values.push_back(call.at(0).toInt());
  return values;
}

}  // namespace

class ProcessingCommandTest : public testutil::WindowTest {
  Q_OBJECT

private:

  std::unique_ptr<TMainPanel> makePanel(const QStringList& paths = {}) {
    auto panel = std::make_unique<TMainPanel>(*platform_);
    panel->setCompanions(viewer_.get(), nullptr, nullptr);
    if (!paths.isEmpty()) panel->AddFiles(paths);
    return panel;
  }

  QStringList series(int frames = 3, int width = 64, int height = 48) const {
    return testutil::writeSeries(files_->path(), frames, width, height);
  }

  // Runs the list with the algorithm, as the user would: the Run button when
  // it is selected already, else a click on it, which merges at once.
  static void run(TMainPanel& panel, int algorithm) {
    if (panel.Algorithm->itemIndex() == algorithm) {
      panel.RunButton->click();
    } else {
      panel.Algorithm->button(algorithm)->click();
    }
  }

  QString shownDifference(const TMainPanel& panel, int scale) const {
    return testutil::firstDifference(viewer_->Image->bitmap(),
                                     lumifold::ApplyColorScale(lumifold::SelectedColorScale(scale), panel.mergedImage));
  }

private slots:
  void initTestCase() { lumifold::setApplicationTitle(QStringLiteral("Lumifold 1.0")); }

  void init() {
    freshWindows();
  }

  void emptyListChangesNothing() {
    auto panel = makePanel();
    viewer_->show();
    QSignalSpy progress(panel->Progress, &QProgressBar::valueChanged);
    panel->RunButton->click();
    panel->ProcessImages1->trigger();
    QVERIFY(viewer_->isVisible());
    QCOMPARE(panel->PageControl1->currentWidget(), panel->ProcessPage);
    QVERIFY(!panel->merged);
    QVERIFY(panel->mergedImage.empty());
    QCOMPARE(progress.count(), 0);
    QVERIFY(platform_->exceptions.isEmpty());

    // A new algorithm with nothing to merge only shows the Process page.
    panel->PageControl1->setCurrentWidget(panel->SettingsPage);
    panel->Algorithm->button(1)->click();
    QCOMPARE(panel->PageControl1->currentWidget(), panel->ProcessPage);
    QCOMPARE(progress.count(), 0);
  }

  void mergesOnceAndShowsTheResult() {
    const QStringList frames = series();
    auto panel = makePanel(frames);
    QCOMPARE(panel->fileCount(), 3);

    // What the window looks like while the engine runs.
    QList<bool> busy, listOn, runOn, viewerShown;
    connect(panel->Progress, &QProgressBar::valueChanged, this, [&](int value) {
      if (value == 0) return;
      busy.push_back(panel->busy);
      listOn.push_back(panel->FileList->isEnabled());
      runOn.push_back(panel->RunButton->isEnabled());
      viewerShown.push_back(viewer_->isVisible());
    });
    QSignalSpy progress(panel->Progress, &QProgressBar::valueChanged);
    panel->RunButton->click();

    QCOMPARE(moves(progress), (QList<int>{1, 2, 3, 0}));
    QCOMPARE(busy, (QList<bool>{true, true, true}));
    QCOMPARE(listOn, (QList<bool>{false, false, false}));
    QCOMPARE(runOn, (QList<bool>{false, false, false}));
    QCOMPARE(viewerShown, (QList<bool>{false, false, false}));

    QCOMPARE(panel->Progress->value(), 0);
    QCOMPARE(panel->Progress->maximum(), 3);
    QVERIFY(panel->merged);
    QVERIFY(!panel->busy);
    QVERIFY(panel->FileList->isEnabled());
    QVERIFY(panel->RunButton->isEnabled());
    QVERIFY(panel->ProcessImages1->isEnabled());
    QCOMPARE(testutil::firstDifference(panel->mergedImage, testutil::mergeOf(frames, true)), QString());
    QVERIFY(viewer_->isVisible());
    QCOMPARE(shownDifference(*panel, 0), QString());
    QCOMPARE(panel->PageControl1->currentWidget(), panel->SettingsPage);
    QVERIFY(platform_->exceptions.isEmpty());

    // Run again, here from the Merging menu after the user closed the
    // viewer: no merge, the same picture shown again, the Settings page.
    viewer_->close();
    QVERIFY(!viewer_->isVisible());
    panel->PageControl1->setCurrentWidget(panel->ProcessPage);
    progress.clear();
    panel->ProcessImages1->trigger();
    QCOMPARE(progress.count(), 0);
    QVERIFY(viewer_->isVisible());
    QCOMPARE(shownDifference(*panel, 0), QString());
    QCOMPARE(panel->PageControl1->currentWidget(), panel->SettingsPage);
  }

  void colourScaleRecoloursOnlyAKeptResult() {
    const QStringList frames = series();
    auto panel = makePanel(frames);
    QSignalSpy progress(panel->Progress, &QProgressBar::valueChanged);

    // Before any merge: nothing happens.
    panel->ColorScales->button(3)->click();
    QCOMPARE(panel->ColorScales->itemIndex(), 3);
    QVERIFY(!panel->merged);
    QVERIFY(!viewer_->isVisible());
    QCOMPARE(panel->PageControl1->currentWidget(), panel->ProcessPage);
    QCOMPARE(progress.count(), 0);

    // "White on black" shows the grey result itself.
    panel->RunButton->click();
    const QImage& shown = viewer_->Image->bitmap();
    for (int y = 0; y < panel->mergedImage.height(); ++y) {
      for (int x = 0; x < panel->mergedImage.width(); ++x) {
        const int g = panel->mergedImage.at(x, y);
        QCOMPARE(shown.pixelColor(x, y), QColor(g, g, g));
      }
    }

    // After the merge a new scale changes the picture, not the bar.
    progress.clear();
    panel->PageControl1->setCurrentWidget(panel->ProcessPage);
    panel->ColorScales->button(5)->click();
    QCOMPARE(progress.count(), 0);
    QCOMPARE(panel->Progress->maximum(), 3);
    QCOMPARE(shownDifference(*panel, 5), QString());
    QVERIFY(viewer_->isVisible());
    QCOMPARE(panel->PageControl1->currentWidget(), panel->SettingsPage);

    // No scale selected: Rainbow.
    panel->ColorScales->setItemIndex(-1);
    QCOMPARE(panel->ColorScales->itemIndex(), -1);
    QCOMPARE(shownDifference(*panel, 0), QString());
    QCOMPARE(progress.count(), 0);
  }

  void algorithmChangeMergesAtOnce() {
    const QStringList frames = series();
    const velIPL::GImage byCorrelation = testutil::mergeOf(frames, true);
    const velIPL::GImage byEdge = testutil::mergeOf(frames, false);
    QVERIFY(!testutil::firstDifference(byCorrelation, byEdge).isEmpty());

    auto panel = makePanel(frames);
    QSignalSpy progress(panel->Progress, &QProgressBar::valueChanged);
    panel->RunButton->click();
    QCOMPARE(mergesSeen(progress, 3), 1);

    panel->Algorithm->button(1)->click();
    QCOMPARE(mergesSeen(progress, 3), 2);
    QVERIFY(panel->merged);
    QCOMPARE(testutil::firstDifference(panel->mergedImage, byEdge), QString());
    QCOMPARE(panel->PageControl1->currentWidget(), panel->SettingsPage);
    QCOMPARE(shownDifference(*panel, 0), QString());

    // The handler merges even when neither list nor algorithm changed.
    panel->AlgorithmClick();
    QCOMPARE(mergesSeen(progress, 3), 3);

    panel->Algorithm->button(0)->click();
    QCOMPARE(testutil::firstDifference(panel->mergedImage, byCorrelation), QString());

    // No algorithm selected: the anterior edge.
    panel->Algorithm->setItemIndex(-1);
    QCOMPARE(mergesSeen(progress, 3), 5);
    QCOMPARE(testutil::firstDifference(panel->mergedImage, byEdge), QString());
    QVERIFY(platform_->exceptions.isEmpty());
  }

  // What the user does while a merge runs is dropped, not carried out
  // once it ends; the busy cursor shows meanwhile, and the result is that
  // of an undisturbed merge.
  void inputDuringAMergeIsDropped() {
    const QStringList frames = series(5);
    auto panel = makePanel(frames);
    panel->show();
    panel->PageControl1->setCurrentWidget(panel->SettingsPage);
    panel->FileList->selectRows(3, 3);
    QList<int> cursors;
    connect(panel->Progress, &QProgressBar::valueChanged, this, [&](int value) {
      const QCursor* cursor = QApplication::overrideCursor();
      cursors.push_back(cursor ? cursor->shape() : -1);
      if (value != 2) return;
      // The other algorithm clicked and Delete pressed on the list.
      postClick(panel->Algorithm->button(1));
      postKey(panel->FileList, Qt::Key_Delete);
    });
    QSignalSpy progress(panel->Progress, &QProgressBar::valueChanged);
    panel->ProcessImages1->trigger();
    QCoreApplication::processEvents();

    QCOMPARE(moves(progress), (QList<int>{1, 2, 3, 4, 5, 0}));
    const int wait = Qt::WaitCursor;
    QCOMPARE(cursors, (QList<int>{wait, wait, wait, wait, wait, -1}));
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(panel->Algorithm->itemIndex(), 0);
    QCOMPARE(panel->fileCount(), 5);
    QVERIFY(panel->merged);
    QCOMPARE(testutil::firstDifference(panel->mergedImage, testutil::mergeOf(frames, true)), QString());
    QVERIFY(viewer_->isVisible());
    QVERIFY(platform_->exceptions.isEmpty());

    // Input after the merge is taken as ever.
    postClick(panel->Algorithm->button(1));
    QCoreApplication::processEvents();
    QCOMPARE(panel->Algorithm->itemIndex(), 1);
    QCOMPARE(mergesSeen(progress, 5), 2);
  }

  // Escape during a merge leaves the window as a failed merge does, without
  // a message; the next run merges in full.
  void escapeCancelsTheMerge() {
    const QStringList frames = series(5);
    auto panel = makePanel(frames);
    panel->RunButton->click();
    const velIPL::GImage kept = panel->mergedImage;

    auto pressEscape = connect(panel->Progress, &QProgressBar::valueChanged, this, [&](int value) {
      if (value == 2) postKey(panel.get(), Qt::Key_Escape);
    });
    QSignalSpy progress(panel->Progress, &QProgressBar::valueChanged);
    panel->Algorithm->button(1)->click();
    QCoreApplication::processEvents();
    disconnect(pressEscape);

    QCOMPARE(moves(progress), (QList<int>{1, 2, 0}));
    QCOMPARE(panel->Progress->maximum(), 5);
    QVERIFY(!panel->merged);
    QVERIFY(!panel->busy);
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(panel->FileList->isEnabled());
    QVERIFY(panel->RunButton->isEnabled());
    QVERIFY(panel->ProcessImages1->isEnabled());
    QVERIFY(platform_->exceptions.isEmpty());
    QVERIFY(!viewer_->isVisible());
    QCOMPARE(panel->PageControl1->currentWidget(), panel->ProcessPage);
    QCOMPARE(testutil::firstDifference(panel->mergedImage, kept), QString());
    panel->ColorScales->button(2)->click();
    QVERIFY(!viewer_->isVisible());

    progress.clear();
    panel->RunButton->click();
    QCOMPARE(moves(progress), (QList<int>{1, 2, 3, 4, 5, 0}));
    QVERIFY(panel->merged);
    QCOMPARE(testutil::firstDifference(panel->mergedImage, testutil::mergeOf(frames, false)), QString());
  }

  void f5ProcessesTheImages() {
    auto panel = makePanel(series());
    panel->show();
    panel->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(panel.get()));
    QTest::keyClick(panel.get(), Qt::Key_F5);
    QVERIFY(panel->merged);
    QVERIFY(viewer_->isVisible());
    QCOMPARE(panel->ProcessImages1->shortcut(), QKeySequence(Qt::Key_F5));
  }

  // The viewer is sized to the picture and placed beside the main window as
  // far as the screen allows: offscreen the screen is 800 wide, so it moves
  // left until its right edge meets the screen's, level with the main
  // window's top.
  void viewerIsSizedToThePictureAndKeptOnTheScreen() {
    const QStringList frames = {testutil::writeBmp(files_->filePath("a.bmp"), 512, 496),
                                testutil::writeBmp(files_->filePath("b.bmp"), 512, 496)};
    auto panel = makePanel(frames);
    panel->show();
    panel->move(40, 30);
    panel->RunButton->click();

    QCOMPARE(panel->mergedImage.width(), 512);
    QCOMPARE(viewer_->size(), QSize(512, 527));
    const QRect area = viewer_->screen()->availableGeometry();
    const auto expectKeptBeside = [&] {
      const QRect main = lumifold::outerGeometry(panel.get());
      const QRect outer = lumifold::outerGeometry(viewer_.get());
      QVERIFY2(main.x() + main.width() + outer.width() > area.x() + area.width(), "the viewer would fit beside");
      QCOMPARE(outer.topLeft(), QPoint(area.x() + area.width() - outer.width(), main.y()));
    };
    expectKeptBeside();
    QCOMPARE(viewer_->ToolBar1->geometry(), QRect(0, 0, 512, 31));
    QCOMPARE(viewer_->PictureArea->geometry(), QRect(0, 31, 512, 496));
    QCOMPARE(viewer_->Image->size(), QSize(512, 496));
    QCOMPARE(viewer_->Image->bitmap().size(), QSize(512, 496));

    // A place and a size the user gave the viewer are not kept.
    viewer_->move(0, 0);
    viewer_->resize(300, 200);
    panel->move(60, 50);
    panel->RunButton->click();
    QCOMPARE(viewer_->size(), QSize(512, 527));
    expectKeptBeside();
  }

  void failedMergeLeavesTheWindowUsable() {
    const QStringList frames = series();
    auto panel = makePanel(frames);

    // The last frame replaced by one of another size after it was listed.
    testutil::writeBmp(frames[2], 32, 48);
    panel->RunButton->click();
    QCOMPARE(platform_->exceptions,
             QStringList{frames[2] + QStringLiteral(": Image has not same dimensions as reference image")});
    QVERIFY(!panel->busy);
    QVERIFY(!panel->merged);
    QVERIFY(panel->mergedImage.empty());
    QVERIFY(panel->FileList->isEnabled());
    QVERIFY(panel->RunButton->isEnabled());
    QVERIFY(panel->AddImages1->isEnabled());
    QCOMPARE(panel->Progress->value(), 0);
    QVERIFY(!viewer_->isVisible());
    QCOMPARE(panel->PageControl1->currentWidget(), panel->ProcessPage);

    // The list commands work again; without the bad frame the merge runs.
    panel->FileList->selectRows(2, 2);
    QTest::keyClick(panel->FileList, Qt::Key_Delete);
    QCOMPARE(panel->fileCount(), 2);
    panel->RunButton->click();
    QVERIFY(panel->merged);
    QCOMPARE(testutil::firstDifference(panel->mergedImage, testutil::mergeOf(frames.mid(0, 2), true)), QString());
    QVERIFY(viewer_->isVisible());
    QCOMPARE(platform_->exceptions.size(), 1);

    // A listed file deleted: the new algorithm's merge fails, the earlier
    // result is kept but no longer shown.
    const velIPL::GImage kept = panel->mergedImage;
    QVERIFY(QFile::remove(frames[1]));
    panel->Algorithm->button(1)->click();
    QCOMPARE(platform_->exceptions.size(), 2);
    QCOMPARE(platform_->exceptions[1], frames[1] + QStringLiteral(": Can't open image file"));
    QVERIFY(!panel->merged);
    QVERIFY(!panel->busy);
    QCOMPARE(testutil::firstDifference(panel->mergedImage, kept), QString());
    QVERIFY(!viewer_->isVisible());
    QCOMPARE(panel->PageControl1->currentWidget(), panel->ProcessPage);
    QCOMPARE(panel->Progress->value(), 0);

    // A scale change does not bring the old result back.
    panel->ColorScales->button(2)->click();
    QVERIFY(!viewer_->isVisible());
  }

  // A file replaced after it was listed is named for what changed, by
  // either algorithm, and the list can be put right and run again.
  void changedFilesAreNamedForWhatChanged() {
    const QStringList frames = series();
    QFile original(frames[0]);
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray reference = original.readAll();
    original.close();
    auto panel = makePanel(frames);

    for (const int algorithm : {0, 1}) {
      // A new reference would make every later frame look wrong: the
      // reference itself is named.
      testutil::writeBmp(frames[0], 32, 48);
      platform_->exceptions.clear();
      run(*panel, algorithm);
      QCOMPARE(platform_->exceptions,
               QStringList{frames[0] + QStringLiteral(": Image has changed size since it was checked")});
      QVERIFY(!panel->merged);
      QVERIFY(panel->mergedImage.empty());
      QVERIFY(!viewer_->isVisible());

      // A later frame of another width: the anterior edge meets it as
      // profiles of unequal length, and still names the size.
      testutil::writeText(frames[0], reference);
      testutil::writeBmp(frames[1], 40, 48);
      run(*panel, algorithm);
      QCOMPARE(platform_->exceptions.size(), 2);
      QCOMPARE(platform_->exceptions[1],
               frames[1] + QStringLiteral(": Image has not same dimensions as reference image"));
      QVERIFY(!panel->busy);
      QVERIFY(panel->RunButton->isEnabled());
      testutil::writeSeries(files_->path(), 3, 64, 48);
    }

    // With the files put back the same list merges.
    panel->RunButton->click();
    QCOMPARE(platform_->exceptions.size(), 2);
    QVERIFY(panel->merged);
    QVERIFY(viewer_->isVisible());
    QCOMPARE(testutil::firstDifference(panel->mergedImage, testutil::mergeOf(frames, false)), QString());

    // A reference replaced by a larger one in a list of one merges at the
    // new size, which the list never checked: refused as well.
    auto single = makePanel({frames[2]});
    testutil::writeBmp(frames[2], 80, 48);
    single->RunButton->click();
    QCOMPARE(platform_->exceptions.size(), 3);
    QCOMPARE(platform_->exceptions[2], frames[2] + QStringLiteral(": Image has changed size since it was checked"));
    QVERIFY(!single->merged);
    QVERIFY(single->mergedImage.empty());
  }

  // The reader takes BMPs without rows or columns, and so does the list;
  // a run reports them instead of showing nothing.
  void imagesWithoutPixelsAreReportedNotShown() {
    for (const QSize size : {QSize(0, 8), QSize(8, 0)}) {
      const QString empty = testutil::writeBmp(files_->filePath(QStringLiteral("empty.bmp")), size.width(),
                                               size.height());
      auto panel = makePanel({empty, empty});
      QCOMPARE(panel->fileCount(), 2);
      platform_->exceptions.clear();
      for (const int algorithm : {0, 1}) run(*panel, algorithm);
      QCOMPARE(platform_->exceptions, QStringList(2, empty + QStringLiteral(": Empty image")));
      QVERIFY(!panel->merged);
      QVERIFY(!panel->busy);
      QVERIFY(!viewer_->isVisible());
      QVERIFY(panel->FileList->isEnabled());
      panel->ColorScales->button(1)->click();
      QCOMPARE(platform_->exceptions.size(), 2);
    }
  }
};

QTEST_MAIN(ProcessingCommandTest)
#include "processing_command_test.moc"

// Frame quality in the window: the Settings page's options, kept in the
// settings; a merge with them marks the rows and shows the status line,
// and gives the pictures and the report the command line gives for the
// same series; the further save types.
#include <QCheckBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>


#include <memory>

#include "app/file_names.h"
#include "app/image_viewer.h"
#include "app/main_panel.h"
#include "app/picture_control.h"
#include "app/radio_group.h"
#include "app/string_grid.h"
#include "ipl/image_decoder.h"
#include "test_support.h"

using lumifold::TMainPanel;

namespace {

QByteArray contentOf(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing " + path.toUtf8() + ")");
}

}  // namespace

class FrameQualityWindowTest : public testutil::WindowTest {
  Q_OBJECT

private:
  std::unique_ptr<TMainPanel> makePanel() {
    auto panel = std::make_unique<TMainPanel>(*platform_);
    panel->setCompanions(viewer_.get(), nullptr, nullptr);
    return panel;
  }

  void save(void (lumifold::TImageViewer::*command)(), const QString& path, int type) {
    platform_->saveAnswers.push_back(path);
    platform_->saveTypes.push_back(type);
    (viewer_.get()->*command)();
  }

private slots:
  void initTestCase() { lumifold::setApplicationTitle(QStringLiteral("Lumifold 1.0")); }
  void init() { freshWindows(); }

  // Rejection drops the bad frames, greys their rows with the reason, marks
  // the reference, says so in the status line, and writes what
  // `lumifold-cli merge --reject auto` writes, byte for byte.
  void rejectionMatchesTheCommandLine() {
    QList<int> bad;
    const QStringList frames = testutil::writeBadSeries(files_->filePath(QStringLiteral("series")), 128, 96, bad);
    auto panel = makePanel();
    panel->AddFiles(frames);
    panel->RejectFrames->setChecked(true);

    QStringList hints;
    connect(panel->Progress, &QProgressBar::valueChanged, this,
            [&] { hints.push_back(panel->Progress->toolTip()); });
    panel->RunButton->click();
    QVERIFY(panel->merged);
    QVERIFY(platform_->exceptions.isEmpty());
    QCOMPARE(hints.front(), QStringLiteral("Merging: press Esc to cancel"));
    QCOMPARE(panel->Progress->toolTip(), QString());

    QList<int> greyed;
    for (int row = 0; row < frames.size(); ++row) {
      if (!panel->FileList->rowGreyed(row)) continue;
      greyed.push_back(row);
      QCOMPARE(panel->FileList->rowNote(row), QStringLiteral("left out"));
      const QString tip = panel->FileList->item(row, 0)->toolTip();
      QVERIFY2(tip.startsWith(frames[row] + QLatin1Char('\n')) && tip.contains(QLatin1String(" below ")),
               qPrintable(tip));
      QCOMPARE(panel->FileList->cellText(row), frames[row]);
    }
    QCOMPARE(greyed, bad);
    QVERIFY(panel->FileList->rowBold(0));
    QCOMPARE(panel->FileList->rowNote(0), QStringLiteral("reference"));

    QVERIFY(viewer_->StatusLine->isVisible());
    const QString status = viewer_->StatusLine->text();
    QVERIFY2(status.startsWith(QStringLiteral("frame_000.bmp, 8 frames \u00b7 6 of 8 kept \u00b7 Correlation \u00b7 "
                                              "Rainbow \u00b7 SNR ")) &&
                 status.endsWith(QStringLiteral(" dB over the reference) \u00b7 zoom 100 %")),
             qPrintable(status));
    // The picture keeps its place; the line is below it.
    QCOMPARE(viewer_->PictureArea->geometry(), QRect(0, 31, 300, 96));
    QCOMPARE(viewer_->StatusLine->geometry(), QRect(0, 127, 300, 20));
    viewer_->zoomIn();
    QVERIFY(viewer_->StatusLine->text().endsWith(QStringLiteral("zoom 200 %")));

    const QString out = files_->path();
    save(&lumifold::TImageViewer::SaveResultButtonClick, out + "/app.bmp", 0);
    save(&lumifold::TImageViewer::SaveGreyAverageClick, out + "/app_grey.png", 1);
    save(&lumifold::TImageViewer::SaveReportClick, out + "/app_report", 0);
    QVERIFY(platform_->exceptions.isEmpty());
    QStringList arguments{QStringLiteral("merge")};
    arguments << frames
              << QStringList{"--reject", "auto", "-o", out + "/cli.bmp", "--grey", out + "/cli_grey.png", "--report",
                             out + "/cli_report.json"};
    QProcess cli;
    cli.start(QStringLiteral(LUMIFOLD_CLI_PATH), arguments);
    QVERIFY(cli.waitForFinished(60000));
    QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
    QVERIFY(cli.readAllStandardOutput().contains("Kept 6 of 8 frames (2 dropped)"));
    QCOMPARE(contentOf(out + "/app.bmp"), contentOf(out + "/cli.bmp"));
    QCOMPARE(contentOf(out + "/app_grey.png"), contentOf(out + "/cli_grey.png"));
    const QByteArray report = contentOf(out + "/app_report.json");
    QVERIFY(report.startsWith("{\n  \"version\": 1,"));
    QCOMPARE(report, contentOf(out + "/cli_report.json"));

    // The reference chosen by hand: the row moves first, the result goes.
    panel->FileList->selectRows(3, 3);
    panel->SetAsReference1->trigger();
    QCOMPARE(panel->FileList->cellText(0), frames[3]);
    QCOMPARE(panel->FileList->cellText(1), frames[0]);
    QVERIFY(!panel->merged);
    QVERIFY(!viewer_->isVisible());
    QCOMPARE(panel->FileList->rowNote(0), QString());
  }

  // Slips and the chosen reference are shown in their rows; a default
  // merge afterwards shows no marks and no status line, at the picture's
  // own size.
  void slipsAndChosenReference() {
    lumifold::SimulationParameters parameters;
    parameters.frames = 5;
    parameters.width = 96;
    parameters.height = 64;
    parameters.lateralSlip = 4;
    const QStringList frames = testutil::writeSeries(files_->path(), parameters);
    auto panel = makePanel();
    panel->AddFiles(frames);
    panel->AutoReference->setChecked(true);
    panel->LateralSlips->setChecked(true);
    panel->RunButton->click();
    QVERIFY(panel->merged);
    int slipped = 0;
    int references = 0;
    for (int row = 0; row < 5; ++row) {
      const QString note = panel->FileList->rowNote(row);
      slipped += note.startsWith(QLatin1String("moved ")) && note.endsWith(QLatin1String(" sideways")) ? 1 : 0;
      references += panel->FileList->rowBold(row) ? 1 : 0;
    }
    QVERIFY(slipped > 0);
    QCOMPARE(references, 1);
    QVERIFY(panel->FileList->item(panel->mergeOutcome.reference, 0)->toolTip().contains("most like the others"));

    // Turning the options off merges the shown result again, the default way.
    panel->AutoReference->setChecked(false);
    panel->LateralSlips->setChecked(false);
    QVERIFY(panel->merged);
    QCOMPARE(testutil::firstDifference(panel->mergedImage, testutil::mergeOf(frames, true)), QString());
    for (int row = 0; row < 5; ++row) QCOMPARE(panel->FileList->rowNote(row), QString());
    QVERIFY(!viewer_->StatusLine->isVisible());
    QCOMPARE(viewer_->size(), QSize(300, 64 + 31));
    QVERIFY(!viewer_->SaveReportAction->isEnabled());
  }

  // The speckle filter's picture is the command line's --denoise picture.
  void speckleFilterMatchesTheCommandLine() {
    const QStringList frames = testutil::writeSeries(files_->path(), 4, 96, 64);
    auto panel = makePanel();
    panel->AddFiles(frames);
    panel->SpeckleFilter->setChecked(true);
    panel->RunButton->click();
    QVERIFY(panel->merged);
    QVERIFY(platform_->exceptions.isEmpty());
    QVERIFY2(viewer_->StatusLine->text().contains(QStringLiteral("speckle filter nl-means 1 (SNR ")),
             qPrintable(viewer_->StatusLine->text()));
    const QString out = files_->path();
    save(&lumifold::TImageViewer::SaveResultButtonClick, out + "/filtered.bmp", 0);
    QStringList arguments{QStringLiteral("merge")};
    arguments << frames << QStringList{"--denoise", "-o", out + "/cli_filtered.bmp"};
    QProcess cli;
    cli.start(QStringLiteral(LUMIFOLD_CLI_PATH), arguments);
    QVERIFY(cli.waitForFinished(60000));
    QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
    QCOMPARE(contentOf(out + "/filtered.bmp"), contentOf(out + "/cli_filtered.bmp"));
  }

  // The options are stored beside the four values once used, and read back.
  void optionsAreKept() {
    {
      auto panel = makePanel();
      QVERIFY(!panel->RejectFrames->isChecked() && !panel->AutoReference->isChecked() &&
              !panel->LateralSlips->isChecked());
      panel->RejectFrames->setChecked(true);
      panel->LateralSlips->setChecked(true);
      panel->SpeckleFilter->setChecked(true);
      panel->Exit1->trigger();
    }
    {
      const auto settings = sandbox_->settings();
      QCOMPARE(settings->value("rejectFrames").toString(), QStringLiteral("1"));
      QCOMPARE(settings->value("lateralSlips").toString(), QStringLiteral("1"));
      QCOMPARE(settings->value("speckleFilter").toString(), QStringLiteral("1"));
      QVERIFY(!settings->contains("autoReference"));
    }
    auto panel = makePanel();
    QVERIFY(panel->RejectFrames->isChecked() && !panel->AutoReference->isChecked() && panel->LateralSlips->isChecked() &&
            panel->SpeckleFilter->isChecked());
    panel->RejectFrames->setChecked(false);
    panel->Exit1->trigger();
    QCOMPARE(sandbox_->settings()->value("rejectFrames").toString(), QStringLiteral("0"));
  }

  // PNG and TIFF as the type chosen; a typed extension of an offered type
  // is kept, another one replaced by the type's.
  void savesTheOfferedTypes() {
    auto panel = makePanel();
    panel->AddFiles(testutil::writeSeries(files_->path(), 3, 64, 48));
    panel->ColorScales->setItemIndex(2);
    panel->RunButton->click();
    const QString out = files_->path();
    const struct {
      const char* chosen;
      int type;
      const char* written;
      const char* format;
    } cases[] = {{"/a.png", 1, "/a.png", "PNG"},
                 {"/b", 2, "/b.tif", "TIFF"},
                 {"/c.TIFF", 1, "/c.TIFF", "TIFF"},
                 {"/d.old", 1, "/d.png", "PNG"},
                 {"/e.bmp", 2, "/e.bmp", "BMP"}};
    const velIPL::RGBImage expected = lumifold::ApplyColorScale(lumifold::SelectedColorScale(2), panel->mergedImage);
    for (const auto& c : cases) {
      save(&lumifold::TImageViewer::SaveResultButtonClick, out + c.chosen, c.type);
      // Qt may lack a TIFF reader: the decoder table says what was written.
      velIPL::ImageFileInfo info;
      std::string reason;
      QVERIFY2(velIPL::probeImageFile(lumifold::localPath(out + c.written), info, reason), c.written);
      QCOMPARE(QString::fromStdString(info.format), QString::fromUtf8(c.format));
      QCOMPARE(info.samplesPerPixel, 3);
      if (info.format == "TIFF") continue;
      QCOMPARE(testutil::firstDifference(QImage(out + c.written, c.format), expected), QString());
    }
    QCOMPARE(platform_->saveFilters.front(),
             QStringLiteral("Bitmaps (*.bmp)|*.bmp|PNG images (*.png)|*.png|TIFF images (*.tif;*.tiff)|*.tif;*.tiff"));
    // A grey average is the merge's grey itself.
    save(&lumifold::TImageViewer::SaveGreyAverageClick, out + "/grey", 1);
    QCOMPARE(testutil::firstDifference(velIPL::GImage(lumifold::localPath(out + "/grey.png")), panel->mergedImage),
             QString());
    QVERIFY(platform_->exceptions.isEmpty());
  }
};

QTEST_MAIN(FrameQualityWindowTest)
#include "frame_quality_window_test.moc"

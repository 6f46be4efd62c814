// The main window: settings at creation and close, the image list's
// commands, drops, the busy guard, and the window's make-up.
#include <QAction>
#include <QDir>
#include <QDropEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QUrl>

#include <memory>

#include "app/image_viewer.h"
#include "app/main_panel.h"
#include "app/pellora_window.h"
#include "app/radio_group.h"
#include "app/splash_screen.h"
#include "app/string_grid.h"
#include "color/color_scales.h"
#include "test_support.h"

using lumifold::TMainPanel;

class MainPanelTest : public testutil::WindowTest {
  Q_OBJECT

private:

  std::unique_ptr<TMainPanel> makePanel() {
    auto panel = std::make_unique<TMainPanel>(*platform_);
    panel->setCompanions(viewer_.get(), nullptr, nullptr);
    return panel;
  }

  QString file(const QString& name) const { return files_->filePath(name); }
  QString bmp(const QString& name, int width = 8, int height = 6) const {
    return testutil::writeBmp(file(name), width, height);
  }

  static QStringList gridTexts(const TMainPanel& panel) {
    QStringList texts;
    for (int r = 0; r < panel.FileList->rowCount(); ++r) texts.push_back(panel.FileList->cellText(r));
    return texts;
  }

  // A list of n files, with the viewer shown and a merge result claimed, so
  // a change of the list shows in both.
  std::unique_ptr<TMainPanel> panelWithFiles(int n, QStringList& names) {
    auto panel = makePanel();
    for (int i = 0; i < n; ++i) names.push_back(bmp(QStringLiteral("f%1.bmp").arg(i)));
    panel->AddFiles(names);
    panel->merged = true;
    viewer_->show();
    return panel;
  }

  void pressDelete(TMainPanel& panel, int top, int bottom) {
    panel.FileList->selectRows(top, bottom);
    QTest::keyClick(panel.FileList, Qt::Key_Delete);
  }

private slots:
  void initTestCase() { lumifold::setApplicationTitle(QStringLiteral("Lumifold 1.0")); }

  void init() {
    freshWindows();
  }

  void firstStartTakesDefaultsAndWritesAllFourOnClose() {
    auto panel = makePanel();
    QCOMPARE(panel->ColorScales->itemIndex(), 0);
    QCOMPARE(panel->Algorithm->itemIndex(), 0);
    QCOMPARE(panel->lastInput, QStringLiteral("/fake/current"));
    QCOMPARE(panel->lastOutput, QStringLiteral("/fake/current"));
    QCOMPARE(panel->windowTitle(), QStringLiteral("Lumifold 1.0"));
    QCOMPARE(panel->PageControl1->currentWidget(), panel->ProcessPage);
    QVERIFY(platform_->exceptions.isEmpty());

    QSignalSpy closed(panel.get(), &TMainPanel::closed);
    panel->Exit1->trigger();
    QCOMPARE(closed.count(), 1);
    const auto settings = sandbox_->settings();
    QCOMPARE(settings->childKeys().size(), 4);
    QCOMPARE(settings->value("colorScale").toString(), QStringLiteral("0"));
    QCOMPARE(settings->value("algorithm").toString(), QStringLiteral("0"));
    QCOMPARE(settings->value("lastInput").toString(), QStringLiteral("/fake/current"));
    QCOMPARE(settings->value("lastOutput").toString(), QStringLiteral("/fake/current"));
  }

  void storedValuesAreSelectedAndStartTheDialog() {
    {
      const auto settings = sandbox_->settings();
      settings->setValue("colorScale", "5");
      settings->setValue("algorithm", "1");
      settings->setValue("lastInput", "/data/scans");
      settings->setValue("lastOutput", "");
    }
    auto panel = makePanel();
    QCOMPARE(panel->ColorScales->itemIndex(), 5);
    QVERIFY(panel->ColorScales->button(5)->isChecked());
    QCOMPARE(panel->ColorScales->button(5)->text(), QStringLiteral("Cirrus like"));
    QCOMPARE(panel->Algorithm->itemIndex(), 1);
    QCOMPARE(panel->Algorithm->button(1)->text(), QStringLiteral("Anterior Edge"));
    QCOMPARE(panel->lastOutput, QStringLiteral("/fake/current"));

    // A cancelled dialog starts in the stored directory and changes nothing.
    panel->AddImages1Click();
    QCOMPARE(platform_->openRequests, QStringList{QStringLiteral("/data/scans/*.bmp")});
    QCOMPARE(panel->lastInput, QStringLiteral("/data/scans"));
    panel->close();
    QCOMPARE(sandbox_->settings()->value("lastOutput").toString(), QStringLiteral("/fake/current"));
  }

  void storedIndicesOutsideTheItemsAreClamped() {
    {
      const auto settings = sandbox_->settings();
      settings->setValue("colorScale", "9");
      settings->setValue("algorithm", "-3");
    }
    auto panel = makePanel();
    QCOMPARE(panel->ColorScales->itemIndex(), 5);
    QCOMPARE(panel->Algorithm->itemIndex(), -1);
    QVERIFY(!panel->Algorithm->button(0)->isChecked());
    QVERIFY(!panel->Algorithm->button(1)->isChecked());
    panel->close();
    QCOMPARE(sandbox_->settings()->value("colorScale").toString(), QStringLiteral("5"));
    QCOMPARE(sandbox_->settings()->value("algorithm").toString(), QStringLiteral("-1"));
  }

  // A value that cannot be read loses only itself: the rest is read, the
  // message names it, and closing leaves it as the user stored it unless
  // the user has chosen anew.
  void unreadableValueLosesOnlyItself() {
    const QStringList names = {"colorScale", "algorithm", "lastInput", "lastOutput"};
    const QStringList good = {"3", "1", "/data/in", "/data/out"};
    struct Case {
      QList<int> bad;  // indices into names
      QList<QVariant> stored;
      QString message;
      bool chooseScale;  // the user picks scale 4 before closing
    };
    const QList<Case> cases = {
        {{0}, {"fast"}, "'fast' is not a valid integer value", false},
        {{1}, {"1.5"}, "'1.5' is not a valid integer value", false},
        {{2}, {QStringList{"a", "b"}}, "Invalid data type for 'lastInput'", false},
        {{3}, {QStringList{"c", "d"}}, "Invalid data type for 'lastOutput'", false},
        {{0, 2},
         {"fast", QStringList{"a", "b"}},
         "'fast' is not a valid integer value\nInvalid data type for 'lastInput'",
         true},
    };
    for (const Case& c : cases) {
      freshWindows();
      {
        const auto settings = sandbox_->settings();
        for (int i = 0; i < names.size(); ++i) {
          const qsizetype at = c.bad.indexOf(i);
          settings->setValue(names[i], at >= 0 ? c.stored[at] : QVariant(good[i]));
        }
      }
      auto panel = makePanel();
      QCOMPARE(platform_->exceptions, QStringList{c.message});
      QCOMPARE(panel->windowTitle(), QStringLiteral("Lumifold 1.0 beta3"));
      const QStringList defaults = {"0", "0", "/fake/current", "/fake/current"};
      const QStringList read = {QString::number(panel->ColorScales->itemIndex()),
                                QString::number(panel->Algorithm->itemIndex()), panel->lastInput, panel->lastOutput};
      for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(read[i], c.bad.contains(i) ? defaults[i] : good[i]);
      }

      if (c.chooseScale) panel->ColorScales->button(4)->click();
      QVERIFY(panel->close());
      QCOMPARE(platform_->exceptions.size(), 1);
      const auto settings = sandbox_->settings();
      for (int i = 0; i < names.size(); ++i) {
        const qsizetype at = c.bad.indexOf(i);
        const QVariant expected = i == 0 && c.chooseScale ? QVariant("4") : at >= 0 ? c.stored[at] : QVariant(good[i]);
        QCOMPARE(settings->value(names[i]), expected);
      }
    }
  }

  void storeErrorsAreReported() {
    auto panel = makePanel();

    // A store that cannot be written reports the first value and skips the
    // rest; the window still closes.
    const QString blocker = testutil::writeText(file("blocker"), "x");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker + "/settings");
    QSignalSpy closed(panel.get(), &TMainPanel::closed);
    QVERIFY(panel->close());
    QCOMPARE(closed.count(), 1);
    QCOMPARE(platform_->exceptions, QStringList{QStringLiteral("Failed to set data for 'colorScale'")});
  }

  void unreadableStoreGivesDefaultsAndOneMessage() {
    const QString conf = sandbox_->path() + "/pellora/Lumifold.conf";
    QDir().mkpath(sandbox_->path() + "/pellora");
    const QByteArray garbage("\x89PNG\r\n\x1a\n[1.0\ncolorScale=\"5\nalgorithm", 31);
    testutil::writeText(conf, garbage);

    auto panel = makePanel();
    QCOMPARE(platform_->exceptions.size(), 1);
    QVERIFY2(platform_->exceptions[0].startsWith("The settings file " + conf + " is not used: it is damaged."),
             qPrintable(platform_->exceptions[0]));
    QCOMPARE(panel->ColorScales->itemIndex(), 0);
    QCOMPARE(panel->Algorithm->itemIndex(), 0);
    QCOMPARE(panel->lastInput, QStringLiteral("/fake/current"));
    QCOMPARE(panel->lastOutput, QStringLiteral("/fake/current"));

    // The window works as ever; closing it says nothing more and keeps the
    // file for the user to look at.
    platform_->openAnswers.push_back({bmp("a.bmp")});
    panel->AddButton->click();
    QCOMPARE(platform_->exceptions, QStringList{platform_->exceptions.value(0)});
    QCOMPARE(panel->fileCount(), 1);
    QCOMPARE(platform_->openRequests, QStringList{QStringLiteral("/fake/current/*.bmp")});
    QSignalSpy closed(panel.get(), &TMainPanel::closed);
    QVERIFY(panel->close());
    QCOMPARE(closed.count(), 1);
    QCOMPARE(platform_->exceptions, QStringList{platform_->exceptions.value(0)});
    QFile kept(conf);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), garbage);
  }

  void addsOneSelectionInSortedOrder() {
    const QStringList chosen = {bmp("scan10.bmp"), bmp("scan2.bmp"), bmp("Scan1.bmp")};
    platform_->openAnswers.push_back(chosen);
    auto panel = makePanel();
    panel->merged = true;
    viewer_->show();
    panel->AddButtonClick();
    const QStringList expected = {chosen[2], chosen[0], chosen[1]};
    QCOMPARE(panel->images.entries(), expected);
    QCOMPARE(gridTexts(*panel), expected);
    QCOMPARE(panel->images.refWidth(), 8);
    QCOMPARE(panel->images.refHeight(), 6);
    QCOMPARE(panel->lastInput, QDir(files_->path()).absolutePath());
    QVERIFY(!panel->FileList->selectedRows());
    QVERIFY(!panel->merged);
    QVERIFY(!viewer_->isVisible());
    QVERIFY(platform_->messages.isEmpty() && platform_->errors.isEmpty());

    // Two more make five rows, all of them entries.
    platform_->openAnswers.push_back({bmp("z1.bmp"), bmp("z2.bmp")});
    panel->AddImages1Click();
    QCOMPARE(panel->fileCount(), 5);
    QCOMPARE(panel->FileList->rowCount(), 5);
  }

  void namesDifferingOnlyInCaseAreBothKept() {
    const QString upper = bmp("Scan1.bmp");
    const QString lower = bmp("scan1.bmp");
    auto panel = makePanel();
    panel->WMDropFiles({lower, upper, lower});
    QCOMPARE(panel->images.entries(), (QStringList{upper, lower}));
  }

  void droppedFolderIsReportedAndTheFilesAdded() {
    QDir(files_->path()).mkdir("folder");
    const QString folder = file("folder");
    const QString a = bmp("a.bmp");
    const QString b = bmp("b.bmp");
    auto panel = makePanel();

    // Through Qt's own drop events, as the file manager delivers them.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(b), QUrl::fromLocalFile(folder), QUrl::fromLocalFile(a)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel.get(), &drop);

    QCOMPARE(platform_->messages.size(), 1);
    QCOMPARE(platform_->messages[0].first, folder);
    QCOMPARE(platform_->messages[0].second, QStringLiteral("No Sequence found"));
    QCOMPARE(panel->images.entries(), (QStringList{a, b}));
    QVERIFY(platform_->errors.isEmpty());
    QCOMPARE(panel->lastInput, QStringLiteral("/fake/current"));
  }

  void refusedFileStopsTheAddition() {
    const QString notBmp = testutil::writeText(file("a_notes.bmp"), "not a picture at all");
    auto panel = makePanel();
    panel->WMDropFiles({bmp("b.bmp"), notBmp});
    QCOMPARE(panel->fileCount(), 0);
    QCOMPARE(platform_->errors.size(), 1);
    QCOMPARE(platform_->errors[0].first, notBmp);
    QCOMPARE(platform_->errors[0].second, QStringLiteral("Not a valid image file"));
    QCOMPARE(panel->FileList->rowCount(), 1);

    // Later files: the probe's own message, and the size check.
    platform_->errors.clear();
    panel->WMDropFiles({bmp("c1.bmp"), bmp("c2.bmp"), bmp("c3.bmp", 10, 6), bmp("c4.bmp")});
    QCOMPARE(panel->images.entries(), (QStringList{file("c1.bmp"), file("c2.bmp")}));
    QCOMPARE(platform_->errors.size(), 1);
    QCOMPARE(platform_->errors[0].first, file("c3.bmp"));
    QCOMPARE(platform_->errors[0].second, QStringLiteral("Image has not same dimensions as reference image"));

    platform_->errors.clear();
    const QString badMagic = testutil::writeText(file("d.bmp"), QByteArray(64, 'x'));
    panel->WMDropFiles({badMagic});
    QCOMPARE(platform_->errors.size(), 1);
    QCOMPARE(platform_->errors[0].second, QStringLiteral("File is not a bitmap image"));
    QCOMPARE(panel->fileCount(), 2);
  }

  void deleteRemovesTheSelectedRows() {
    QStringList names;
    auto panel = panelWithFiles(5, names);
    pressDelete(*panel, 2, 3);
    QCOMPARE(panel->images.entries(), (QStringList{names[0], names[1], names[4]}));
    QCOMPARE(gridTexts(*panel), panel->images.entries());
    QVERIFY(!panel->merged);
    QVERIFY(!viewer_->isVisible());

    // A range from the reference row over more rows is kept whole.
    panel->merged = true;
    viewer_->show();
    pressDelete(*panel, 0, 2);
    QCOMPARE(panel->fileCount(), 3);
    QVERIFY(panel->merged);
    QVERIFY(viewer_->isVisible());

    // The reference row alone goes; the next entry becomes the reference.
    pressDelete(*panel, 0, 0);
    QCOMPARE(panel->images.entries(), (QStringList{names[1], names[4]}));
    QVERIFY(!panel->merged);

    // The last entry.
    pressDelete(*panel, 1, 1);
    QCOMPARE(panel->images.entries(), QStringList{names[1]});

    // Other keys do nothing.
    panel->FileList->selectRows(0, 0);
    QTest::keyClick(panel->FileList, Qt::Key_Backspace);
    QCOMPARE(panel->fileCount(), 1);
  }

  void deletingTheOnlyEntryEmptiesTheList() {
    QStringList names;
    auto panel = panelWithFiles(1, names);
    pressDelete(*panel, 0, 0);
    QCOMPARE(panel->fileCount(), 0);
    QCOMPARE(gridTexts(*panel), QStringList{QString()});
    QVERIFY(!viewer_->isVisible());

    // An empty list ignores Delete on its empty row.
    pressDelete(*panel, 0, 0);
    QCOMPARE(panel->fileCount(), 0);
    QCOMPARE(panel->FileList->rowCount(), 1);

    // The next file sets the reference size anew.
    panel->WMDropFiles({bmp("wide.bmp", 12, 4)});
    QCOMPARE(panel->fileCount(), 1);
    QCOMPARE(panel->images.refWidth(), 12);
    QCOMPARE(panel->images.refHeight(), 4);
  }

  void clearingEmptiesTheListAndHidesTheViewer() {
    auto panel = makePanel();
    panel->merged = true;
    viewer_->show();
    panel->ClearButtonClick();
    QCOMPARE(gridTexts(*panel), QStringList{QString()});
    QVERIFY(!panel->merged);
    QVERIFY(!viewer_->isVisible());

    QStringList names;
    auto full = panelWithFiles(3, names);
    full->ClearList1->trigger();
    QCOMPARE(full->fileCount(), 0);
    QCOMPARE(full->FileList->rowCount(), 1);
    QVERIFY(!viewer_->isVisible());
  }

  void busyKeepsTheListAsItIs() {
    QStringList names;
    auto panel = panelWithFiles(3, names);
    panel->busy = true;
    panel->updateActions();
    QVERIFY(!panel->RunButton->isEnabled());
    QVERIFY(!panel->FileList->isEnabled());

    platform_->openAnswers.push_back({bmp("x.bmp")});
    panel->AddImages1Click();
    panel->AddButtonClick();
    panel->WMDropFiles({bmp("y.bmp")});
    panel->ClearList1Click();
    panel->ClearButtonClick();
    panel->FileList->selectRows(1, 1);
    panel->FileListKeyDown(Qt::Key_Delete, Qt::NoModifier);
    QVERIFY(platform_->openRequests.isEmpty());
    QCOMPARE(panel->images.entries(), names);
    QVERIFY(panel->merged);
    QVERIFY(viewer_->isVisible());

    panel->busy = false;
    panel->updateActions();
    QVERIFY(panel->RunButton->isEnabled());
    QVERIFY(panel->FileList->isEnabled());
  }

  void handlerFailureIsReportedNotThrown() {
    auto panel = makePanel();
    platform_->failFileExists = true;
    panel->filesDropped({bmp("a.bmp")});
    QCOMPARE(platform_->exceptions, QStringList{QStringLiteral("Disk gone")});
    QCOMPARE(panel->FileList->rowCount(), 1);
  }

  void algorithmChangeShowsTheProcessPage() {
    auto panel = makePanel();
    panel->merged = true;
    panel->PageControl1->setCurrentWidget(panel->SettingsPage);
    panel->Algorithm->button(1)->click();
    QCOMPARE(panel->Algorithm->itemIndex(), 1);
    QVERIFY(!panel->merged);
    QCOMPARE(panel->PageControl1->currentWidget(), panel->ProcessPage);
  }

  void helpMenuOpensTheCompanions() {
    auto panel = makePanel();
    lumifold::TSplashScreen splash(*platform_);
    splash.SplashOKButtonClick();
    lumifold::Tpellora info(*platform_);
    panel->setCompanions(viewer_.get(), &splash, &info);

    panel->About1->trigger();
    QVERIFY(splash.isVisible());
    panel->Whatispellora1->trigger();
    QVERIFY(info.isVisible());
    panel->WebSite1->trigger();
    panel->WebButton->click();
    QCOMPARE(platform_->openedAddresses,
             (QStringList{QStringLiteral("https://www.pellora.example/"), QStringLiteral("https://www.pellora.example/")}));
  }

  void windowIsMadeAsDesigned() {
    auto panel = makePanel();
    // The captions as shown; the access keys are the underlined letters.
    QStringList menus;
    QStringList keys;
    const auto shown = [&](QString caption) {
      const qsizetype at = caption.indexOf(QLatin1Char('&'));
      keys.push_back(at >= 0 ? caption.mid(at + 1, 1) : QString());
      menus.push_back(caption.remove(QLatin1Char('&')));
    };
    for (QMenu* m : {panel->FileMenu, panel->MergingMenu, panel->HelpMenu}) {
      shown(m->title());
      for (QAction* a : m->actions()) shown(a->text());
    }
    QCOMPARE(menus, (QStringList{"File", "Add Images ...", "Clear List", "Exit", "Merging", "Process Images",
                                 "Help", "About ...", "www.pellora.example ...", "What is pellora? ..."}));
    QCOMPARE(keys.join(QString()), QStringLiteral("FACxMPHAW"));
    QCOMPARE(panel->PageControl1->tabText(0), QStringLiteral("Process"));
    QCOMPARE(panel->PageControl1->tabText(1), QStringLiteral("Settings"));

    QStringList hints;
    for (QToolButton* b : {panel->AddButton, panel->ClearButton, panel->RunButton, panel->WebButton}) {
      QCOMPARE(b->size(), QSize(26, 26));
      hints.push_back(b->toolTip());
    }
    QCOMPARE(hints, (QStringList{"Add Images ...", "Clear List", "Process Images", "www.pellora.example"}));
    QCOMPARE(panel->WebButton->cursor().shape(), Qt::PointingHandCursor);

    QCOMPARE(panel->Progress->minimum(), 0);
    QCOMPARE(panel->Progress->maximum(), 100);
    QCOMPARE(panel->Progress->palette().color(QPalette::Highlight), QColor(255, 0, 0));
    QCOMPARE(panel->Label1->text(), QStringLiteral("Image list (first image is reference image)"));
    QCOMPARE(panel->FileList->columnCount(), 1);
    QCOMPARE(panel->FileList->verticalHeader()->defaultSectionSize(), 17);
    QCOMPARE(panel->FileList->columnWidth(0), 744);
    QVERIFY(panel->acceptDrops());

    QCOMPARE(panel->ColorScales->title(), QStringLiteral(" Output Color Scale "));
    QCOMPARE(panel->ColorScales->geometry(), QRect(16, 24, 105, 241));
    QCOMPARE(panel->Algorithm->title(), QStringLiteral(" Registration Algorithm "));
    QCOMPARE(panel->Algorithm->geometry(), QRect(424, 32, 185, 81));
    // The items come from the registration table, in its order.
    QCOMPARE(panel->Algorithm->count(), 2);
    QCOMPARE(panel->Algorithm->button(0)->text(), QStringLiteral("Correlation"));
    QCOMPARE(panel->Algorithm->button(1)->text(), QStringLiteral("Anterior Edge"));
    QCOMPARE(panel->ColorScales->count(), lumifold::kColorScaleCount);

    // Each strip shows its scale's table, grey value g in column g.
    const QLabel* strips[] = {panel->Image1, panel->Image2, panel->Image3,
                              panel->Image4, panel->Image5, panel->Image6};
    const int rows[] = {52, 88, 126, 165, 201, 236};
    for (int i = 0; i < lumifold::kColorScaleCount; ++i) {
      const char* name = lumifold::kColorScales[static_cast<std::size_t>(i)].name;
      QCOMPARE(panel->ColorScales->button(i)->text(), QString::fromUtf8(name));
      QCOMPARE(strips[i]->geometry(), QRect(121, rows[i], 256, 10));
      const QImage strip = strips[i]->pixmap().toImage();
      const velIPL::RGBImage table = lumifold::SelectedColorScale(i);
      for (int g : {0, 100, 200, 255}) {
        QCOMPARE(strip.pixelColor(g, 9), QColor(table.at(g, 0, 0), table.at(g, 0, 1), table.at(g, 0, 2)));
      }
    }
  }
};

QTEST_MAIN(MainPanelTest)
#include "main_panel_test.moc"

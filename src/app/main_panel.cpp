#include "app/main_panel.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QScopeGuard>
#include <QShortcut>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdlib>
#include <exception>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/artwork.h"
#include "app/file_names.h"
#include "app/image_viewer.h"
#include "app/maker.h"
#include "app/merge_session.h"
#include "app/pellora_window.h"
#include "app/platform.h"
#include "app/radio_group.h"
#include "app/settings_key.h"
#include "app/splash_screen.h"
#include "app/string_grid.h"
#include "app/picture_control.h"
#include "app/window_geometry.h"
#include "app/windows_dib.h"
#include "color/color_scales.h"
#include "merge/merger.h"
#include "merge/registration_methods.h"
#include "pipeline/path_error.h"

namespace lumifold {

namespace {

namespace text {
const char* const kFormCaption = "Lumifold 1.0 beta3";
const char* const kFileMenu = "File";
const char* const kAddImages = "Add Images ...";
const char* const kClearList = "Clear List";
const char* const kExit = "Exit";
const char* const kMergingMenu = "Merging";
const char* const kProcessImages = "Process Images";
const char* const kHelpMenu = "Help";
const char* const kAbout = "About ...";
const char* const kWebSiteSuffix = " ...";
const char* const kWhatIsPellora = "What is pellora? ...";
const char* const kProcessPage = "Process";
const char* const kSettingsPage = "Settings";
const char* const kListLabel = "Image list (first image is reference image)";
const char* const kColorScales = " Output Color Scale ";
const char* const kAlgorithm = " Registration Algorithm ";
const char* const kNoSequence = "No Sequence found";
// The menus' access keys; the captions shown are those above.
const char* const kFileMenuKeyed = "&File";
const char* const kAddImagesKeyed = "&Add Images ...";
const char* const kClearListKeyed = "&Clear List";
const char* const kExitKeyed = "E&xit";
const char* const kMergingMenuKeyed = "&Merging";
const char* const kProcessImagesKeyed = "&Process Images";
const char* const kHelpMenuKeyed = "&Help";
const char* const kAboutKeyed = "&About ...";
const char* const kWhatIsPelloraKeyed = "&What is pellora? ...";
const char* const kFrameQuality = " Frame Quality ";
const char* const kRejectFrames = "Leave out frames that do not fit";
const char* const kAutoReference = "Choose the reference automatically";
const char* const kLateralSlips = "Correct sideways slips";
const char* const kSpeckleFilter = "Reduce speckle (speckle filter)";
const char* const kSetAsReference = "Set as reference";
const char* const kCancelHint = "Merging: press Esc to cancel";
const char* const kReferenceNote = "reference";
const char* const kReferenceTip = "Reference image: every other frame is registered to it";
const char* const kChosenReferenceTip = "Reference image, chosen as the frame most like the others";
const char* const kLeftOutNote = "left out";
const char* const kSlipNote = "moved %1 sideways";
}  // namespace text

// The settings' value names, in the order they are read and written.
const QString kColorScaleValue = QStringLiteral("colorScale");
const QString kAlgorithmValue = QStringLiteral("algorithm");
const QString kLastInputValue = QStringLiteral("lastInput");
const QString kLastOutputValue = QStringLiteral("lastOutput");
// The frame-quality options, after the four, "1" when on.
const QString kRejectFramesValue = QStringLiteral("rejectFrames");
const QString kAutoReferenceValue = QStringLiteral("autoReference");
const QString kLateralSlipsValue = QStringLiteral("lateralSlips");
const QString kSpeckleFilterValue = QStringLiteral("speckleFilter");

// The window's outer size, and the width of the image list in the window's
// design, from which the list's column width is taken once.
constexpr int kOuterWidth = 764;
constexpr int kOuterHeight = 426;
constexpr int kFileListWidth = 748;

QString fromUtf8(const char* s) { return QString::fromUtf8(s); }

QStringList droppedPaths(const QMimeData* data) {
  QStringList paths;
  for (const QUrl& url : data->urls()) {
    // Only local files can be merged; anything else is listed as given, so
    // the user is told it is no file.
    paths.push_back(url.isLocalFile() ? url.toLocalFile() : url.toString());
  }
  return paths;
}

}  // namespace

template <typename F>
void TMainPanel::guarded(F&& handler) {
  reportingExceptions(platform_, this, std::forward<F>(handler));
}

TMainPanel::TMainPanel(Platform& platform) : platform_(platform) {
  setWindowTitle(fromUtf8(text::kFormCaption));
  setWindowIcon(artwork::applicationIcon());
  createActions();
  createMenus();

  PageControl1 = new QTabWidget(this);
  setCentralWidget(PageControl1);
  createProcessPage();
  createSettingsPage();
  PageControl1->setCurrentWidget(ProcessPage);

  setOuterSize(this, kOuterWidth, kOuterHeight);
  centreOn(this, nullptr);

  FileList->setDefaultColumnWidth(kFileListWidth - 4);
  FileList->showTexts({});
  QPalette progressPalette = Progress->palette();
  progressPalette.setColor(QPalette::Highlight, QColor(255, 0, 0));
  Progress->setPalette(progressPalette);
  setAcceptDrops(true);
  updateActions();

  connect(ColorScales, &RadioGroup::clicked, this, [this] { guarded([this] { ColorScalesClick(); }); });
  connect(Algorithm, &RadioGroup::clicked, this, [this] { guarded([this] { AlgorithmClick(); }); });
  connect(FileList, &StringGrid::keyDown, this, [this](int key, Qt::KeyboardModifiers modifiers) {
    guarded([&] { FileListKeyDown(key, modifiers); });
  });
  for (QCheckBox* option : {RejectFrames, AutoReference, LateralSlips, SpeckleFilter}) {
    connect(option, &QCheckBox::toggled, this, [this] { guarded([this] { FrameQualityClick(); }); });
  }
  FileList->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(FileList, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { showListMenu(at); });

  guarded([this] { FormCreate(); });
}

TMainPanel::~TMainPanel() {
  // The viewer may outlive this window; it must not save from it then.
  if (ImageViewer) ImageViewer->setMainPanel(nullptr);
}

void TMainPanel::setCompanions(TImageViewer* imageViewer, TSplashScreen* splashScreen,
                               Tpellora* pelloraWindow) {
  ImageViewer = imageViewer;
  if (ImageViewer) ImageViewer->setMainPanel(this);
  SplashScreen = splashScreen;
  pellora = pelloraWindow;
}

void TMainPanel::createActions() {
  // Each command is built once here; the menus and the tool bar show these.
  const auto command = [this](const QString& caption, void (TMainPanel::*handler)()) {
    auto* action = new QAction(caption, this);
    connect(action, &QAction::triggered, this, [this, handler] { guarded([this, handler] { (this->*handler)(); }); });
    return action;
  };
  AddImages1 = command(fromUtf8(text::kAddImagesKeyed), &TMainPanel::AddImages1Click);
  AddImages1->setShortcut(QKeySequence::Open);
  ClearList1 = command(fromUtf8(text::kClearListKeyed), &TMainPanel::ClearList1Click);
  Exit1 = command(fromUtf8(text::kExitKeyed), &TMainPanel::Exit1Click);
  Exit1->setShortcut(QKeySequence::Quit);
  ProcessImages1 = command(fromUtf8(text::kProcessImagesKeyed), &TMainPanel::RunButtonClick);
  ProcessImages1->setShortcut(Qt::Key_F5);
  About1 = command(fromUtf8(text::kAboutKeyed), &TMainPanel::About1Click);
  WebSite1 = command(fromUtf8(maker::kWebDomain) + fromUtf8(text::kWebSiteSuffix),
                     &TMainPanel::WebButtonClick);
  Whatispellora1 = command(fromUtf8(text::kWhatIsPelloraKeyed), &TMainPanel::Whatispellora1Click);
  SetAsReference1 = command(fromUtf8(text::kSetAsReference), &TMainPanel::SetAsReference1Click);

  // Qt would shorten a hint taken from the caption ("Add Images "); the hints
  // are the captions in full.
  const auto toolCommand = [&command](const QString& hint, void (TMainPanel::*handler)(),
                                      artwork::ToolIcon icon) {
    QAction* action = command(hint, handler);
    action->setToolTip(hint);
    action->setIcon(artwork::toolIcon(icon));
    return action;
  };
  addButtonAction_ = toolCommand(fromUtf8(text::kAddImages), &TMainPanel::AddButtonClick, artwork::ToolIcon::Add);
  clearButtonAction_ =
      toolCommand(fromUtf8(text::kClearList), &TMainPanel::ClearButtonClick, artwork::ToolIcon::Clear);
  runButtonAction_ =
      toolCommand(fromUtf8(text::kProcessImages), &TMainPanel::RunButtonClick, artwork::ToolIcon::Run);
  webButtonAction_ = toolCommand(fromUtf8(maker::kWebDomain), &TMainPanel::WebButtonClick, artwork::ToolIcon::Web);
}

void TMainPanel::createMenus() {
  FileMenu = menuBar()->addMenu(fromUtf8(text::kFileMenuKeyed));
  FileMenu->addAction(AddImages1);
  FileMenu->addAction(ClearList1);
  FileMenu->addAction(Exit1);
  MergingMenu = menuBar()->addMenu(fromUtf8(text::kMergingMenuKeyed));
  MergingMenu->addAction(ProcessImages1);
  HelpMenu = menuBar()->addMenu(fromUtf8(text::kHelpMenuKeyed));
  HelpMenu->addAction(About1);
  HelpMenu->addAction(WebSite1);
  HelpMenu->addAction(Whatispellora1);
  // F10 opens the menu bar at its first menu, as desktops expect.
  auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(menuKey, &QShortcut::activated, this, [this] {
    menuBar()->setActiveAction(FileMenu->menuAction());
  });
}

void TMainPanel::createProcessPage() {
  ProcessPage = new QWidget;
  auto* column = new QVBoxLayout(ProcessPage);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  ToolBar1 = new QToolBar(ProcessPage);
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setFixedHeight(31);
  ToolBar1->setIconSize(QSize(20, 20));
  ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
  ToolBar1->setContentsMargins(0, 0, 0, 0);
  ToolBar1->layout()->setSpacing(0);
  const auto button = [this](QAction* action) {
    ToolBar1->addAction(action);
    auto* b = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(action));
    b->setFixedSize(26, 26);
    return b;
  };
  // The wide gap takes what the style leaves of its 635 pixels, so the web
  // button keeps its place at the right end instead of moving into the
  // tool bar's overflow menu.
  const auto separator = [this](int width) {
    auto* gap = new QWidget(ToolBar1);
    gap->setFixedHeight(26);
    if (width > 8) {
      gap->setMinimumWidth(8);
      gap->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
      gap->setFixedWidth(width);
    }
    ToolBar1->addWidget(gap);
  };
  AddButton = button(addButtonAction_);
  ClearButton = button(clearButtonAction_);
  separator(8);
  RunButton = button(runButtonAction_);
  separator(635);
  WebButton = button(webButtonAction_);
  WebButton->setCursor(Qt::PointingHandCursor);
  column->addWidget(ToolBar1);

  Progress = new QProgressBar(ProcessPage);
  Progress->setFixedHeight(10);
  Progress->setRange(0, 100);
  Progress->setValue(0);
  Progress->setTextVisible(false);
  column->addWidget(Progress);

  Panel1 = new QFrame(ProcessPage);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setFixedHeight(20);
  auto* panelRow = new QHBoxLayout(Panel1);
  panelRow->setContentsMargins(6, 0, 6, 0);
  Label1 = new QLabel(fromUtf8(text::kListLabel), Panel1);
  panelRow->addWidget(Label1);
  column->addWidget(Panel1);

  FileList = new StringGrid(ProcessPage);
  FileList->setDefaultRowHeight(17);
  column->addWidget(FileList, 1);

  PageControl1->addTab(ProcessPage, fromUtf8(text::kProcessPage));
}

void TMainPanel::createSettingsPage() {
  SettingsPage = new QWidget;
  // The page is laid out to the pixel for a font of 11 pixels.
  QFont pageFont = SettingsPage->font();
  pageFont.setPixelSize(11);
  SettingsPage->setFont(pageFont);

  QStringList scaleNames;
  for (const ColorScale& scale : kColorScales) scaleNames.push_back(fromUtf8(scale.name));
  ColorScales = new RadioGroup(fromUtf8(text::kColorScales), scaleNames, SettingsPage);
  ColorScales->setGeometry(16, 24, 105, 241);
  ColorScales->setItemIndex(0);

  // Strips of the tables themselves, so they always show what a run gives.
  // The page has room for six items; a seventh scale needs a taller group.
  QLabel** strips[] = {&Image1, &Image2, &Image3, &Image4, &Image5, &Image6};
  const int stripRows[] = {52, 88, 126, 165, 201, 236};
  static_assert(std::size(strips) == kColorScales.size() && std::size(stripRows) == kColorScales.size());
  for (int i = 0; i < kColorScaleCount; ++i) {
    auto* strip = new QLabel(SettingsPage);
    strip->setGeometry(121, stripRows[i], 256, 10);
    strip->setPixmap(artwork::previewStrip(kColorScales[static_cast<std::size_t>(i)].build()));
    *strips[i] = strip;
  }

  QStringList methodNames;
  for (const RegistrationMethod& method : kRegistrationMethods) methodNames.push_back(fromUtf8(method.name));
  Algorithm = new RadioGroup(fromUtf8(text::kAlgorithm), methodNames, SettingsPage);
  Algorithm->setGeometry(424, 32, 185, 81);
  Algorithm->setItemIndex(0);

  // Below the two groups, off unless the user turns them on.
  FrameQuality = new QGroupBox(fromUtf8(text::kFrameQuality), SettingsPage);
  FrameQuality->setGeometry(424, 128, 300, 122);
  auto* options = new QVBoxLayout(FrameQuality);
  RejectFrames = new QCheckBox(fromUtf8(text::kRejectFrames), FrameQuality);
  AutoReference = new QCheckBox(fromUtf8(text::kAutoReference), FrameQuality);
  LateralSlips = new QCheckBox(fromUtf8(text::kLateralSlips), FrameQuality);
  SpeckleFilter = new QCheckBox(fromUtf8(text::kSpeckleFilter), FrameQuality);
  for (QCheckBox* option : {RejectFrames, AutoReference, LateralSlips, SpeckleFilter}) options->addWidget(option);

  PageControl1->addTab(SettingsPage, fromUtf8(text::kSettingsPage));
}

void TMainPanel::FormCreate() {
  ClearFileSelection();
  LoadSettings();
  setWindowTitle(applicationTitle());
}

void TMainPanel::LoadSettings() {
  std::unique_ptr<SettingsKey> key;
  try {
    key = platform_.openSettingsKey();
  } catch (const SettingsError&) {
    // Nothing can be read: every value takes its default, then the
    // message is shown, and the store is left as the user has it.
    lastInput = platform_.currentDirectory();
    lastOutput = platform_.currentDirectory();
    settingsUnreadable_ = true;
    throw;
  }
  if (!key) return;
  // Each value is read on its own. One that cannot be read keeps its
  // default for this run and is named in the message at the end; the text
  // standing in for it is remembered, so that closing does not write it
  // over what the user stored.
  QStringList problems;
  const auto unreadable = [&](const QString& name, const QString& standIn, const std::exception& e) {
    unreadValues_[name] = standIn;
    problems.push_back(QString::fromLocal8Bit(e.what()));
  };
  const auto readIndex = [&](const QString& name, RadioGroup* group) {
    try {
      const QString text = key->readString(name);
      group->setItemIndex(text.isEmpty() ? 0 : integerValue(text));
    } catch (const SettingsError& e) {
      unreadable(name, QString::number(group->itemIndex()), e);
    } catch (const std::invalid_argument& e) {
      unreadable(name, QString::number(group->itemIndex()), e);
    }
  };
  const auto readFolder = [&](const QString& name, QString& folder) {
    try {
      folder = key->readString(name);
      if (folder.isEmpty()) folder = platform_.currentDirectory();
    } catch (const SettingsError& e) {
      folder = platform_.currentDirectory();
      unreadable(name, folder, e);
    }
  };
  readIndex(kColorScaleValue, ColorScales);
  readIndex(kAlgorithmValue, Algorithm);
  readFolder(kLastInputValue, lastInput);
  readFolder(kLastOutputValue, lastOutput);
  const auto readOption = [&](const QString& name, QCheckBox* option) {
    try {
      const QString text = key->readString(name);
      if (text.isEmpty()) return;
      storedOptions_[name] = true;
      option->setChecked(integerValue(text) != 0);
    } catch (const SettingsError& e) {
      unreadable(name, QStringLiteral("0"), e);
    } catch (const std::invalid_argument& e) {
      unreadable(name, QStringLiteral("0"), e);
    }
  };
  readOption(kRejectFramesValue, RejectFrames);
  readOption(kAutoReferenceValue, AutoReference);
  readOption(kLateralSlipsValue, LateralSlips);
  readOption(kSpeckleFilterValue, SpeckleFilter);
  if (!problems.isEmpty()) throw SettingsError(problems.join(QLatin1Char('\n')).toStdString());
}

void TMainPanel::SaveSettings() {
  // A store that could not be read was reported at the start and is left
  // as the user has it.
  if (settingsUnreadable_) return;
  const std::unique_ptr<SettingsKey> key = platform_.openSettingsKey();
  if (!key) return;
  const auto write = [&](const QString& name, const QString& value) {
    // A stored value that could not be read stays unless the user has
    // chosen something else since.
    const auto standIn = unreadValues_.find(name);
    if (standIn != unreadValues_.end() && standIn->second == value) return;
    key->writeString(name, value);
  };
  write(kColorScaleValue, QString::number(ColorScales->itemIndex()));
  write(kAlgorithmValue, QString::number(Algorithm->itemIndex()));
  write(kLastInputValue, lastInput);
  write(kLastOutputValue, lastOutput);
  for (const auto& [name, option] : {std::pair{kRejectFramesValue, RejectFrames}, std::pair{kAutoReferenceValue, AutoReference},
                                     std::pair{kLateralSlipsValue, LateralSlips},
                                     std::pair{kSpeckleFilterValue, SpeckleFilter}}) {
    if (option->isChecked() || storedOptions_.count(name) || unreadValues_.count(name)) {
      write(name, option->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    }
  }
}

void TMainPanel::FormClose() { SaveSettings(); }

void TMainPanel::closeEvent(QCloseEvent* event) {
  guarded([this] { FormClose(); });
  event->accept();
  emit closed();
}

void TMainPanel::updateActions() {
  const bool idle = !busy;
  for (QAction* a : {AddImages1, ClearList1, ProcessImages1, addButtonAction_, clearButtonAction_,
                     runButtonAction_}) {
    a->setEnabled(idle);
  }
  FileList->setEnabled(idle);
}

void TMainPanel::showList() { FileList->showTexts(images.entries()); }

void TMainPanel::markRows() {
  if (!mergeOutcome.measured) return;
  const bool chosen = mergeOptionsUsed.reference == "auto";
  for (const lumifold::FrameQuality& q : mergeOutcome.qualities) {
    StringGrid::RowMark mark;
    if (q.dropped) {
      mark.greyed = true;
      mark.note = fromUtf8(text::kLeftOutNote);
      mark.tip = QString::fromStdString(q.reason);
    } else if (q.lateralShift != 0) {
      const int columns = std::abs(q.lateralShift);
      mark.note = fromUtf8(text::kSlipNote).arg(columns == 1 ? QStringLiteral("1 column")
                                                             : QStringLiteral("%1 columns").arg(columns));
    }
    FileList->markRow(q.frame, mark);
  }
  StringGrid::RowMark reference;
  reference.bold = true;
  reference.note = fromUtf8(text::kReferenceNote);
  reference.tip = fromUtf8(chosen ? text::kChosenReferenceTip : text::kReferenceTip);
  FileList->markRow(mergeOutcome.reference, reference);
}

void TMainPanel::showListMenu(const QPoint& at) {
  if (busy) return;
  const int row = FileList->rowAt(at.y());
  if (row < 0 || row >= fileCount()) return;
  FileList->selectRows(row, row);
  SetAsReference1->setEnabled(row > 0);
  QMenu menu(this);
  menu.addAction(SetAsReference1);
  menu.exec(FileList->viewport()->mapToGlobal(at));
}

void TMainPanel::SetAsReference1Click() {
  if (busy) return;
  const std::optional<std::pair<int, int>> rows = FileList->selectedRows();
  if (!rows || rows->first != rows->second || !images.moveToFront(rows->first)) return;
  showList();
  ClearFileSelection();
  listChanged();
}

void TMainPanel::FrameQualityClick() {
  const bool shown = merged;
  merged = false;
  if (shown) RunButtonClick();
}

MergeOptions TMainPanel::mergeOptions() const {
  MergeOptions options;
  options.algorithm = registrationMethodForItem(Algorithm->itemIndex()).key;
  const int scale = ColorScales->itemIndex();
  options.scale = kColorScales[static_cast<std::size_t>(scale < 0 || scale >= kColorScaleCount ? 0 : scale)].key;
  options.reject = RejectFrames->isChecked() ? "auto" : "none";
  options.reference = AutoReference->isChecked() ? "auto" : "";
  options.lateral = LateralSlips->isChecked();
  options.denoise = SpeckleFilter->isChecked() ? "default" : "";
  return options;
}

QString TMainPanel::resultDescription() const {
  if (mergePlan.frames.empty()) return QString();
  const int frames = static_cast<int>(mergePlan.frames.size());
  const QString first = QFileInfo(QString::fromStdString(mergePlan.frameNames.front())).fileName();
  QStringList parts;
  parts << QStringLiteral("%1, %2 %3").arg(first).arg(frames).arg(frames == 1 ? "frame" : "frames");
  parts << QStringLiteral("%1 of %2 kept").arg(averagedFrames(mergePlan, mergeOutcome)).arg(frames);
  parts << fromUtf8(registrationFor(mergeOptionsUsed.algorithm).name);
  const int scale = ColorScales->itemIndex();
  parts << fromUtf8(kColorScales[static_cast<std::size_t>(scale < 0 || scale >= kColorScaleCount ? 0 : scale)].name);
  if (mergeOutcome.filtered) {
    parts << QStringLiteral("speckle filter %1 %2 (SNR %3 dB after)")
                 .arg(QString::fromStdString(mergeOutcome.filterKey))
                 .arg(mergeOutcome.filterStrength)
                 .arg(mergeOutcome.filterFigures.after.snrDb, 0, 'f', 1);
  }
  if (mergeOutcome.measured) {
    const ImageQuality& iq = mergeOutcome.imageQuality;
    parts << QStringLiteral("SNR %1 dB (%2%3 dB over the reference)")
                 .arg(iq.average.snrDb, 0, 'f', 1)
                 .arg(iq.snrGainDb < 0 ? "" : "+")
                 .arg(iq.snrGainDb, 0, 'f', 1);
  }
  return parts.join(QStringLiteral(" \u00b7 "));
}

void TMainPanel::listChanged() {
  merged = false;
  if (ImageViewer) ImageViewer->hide();
}

void TMainPanel::ClearFileSelection() { FileList->selectNothing(); }

void TMainPanel::AddImages1Click() {
  if (busy) return;
  const QStringList chosen = platform_.runOpenPictureDialog(this, dialogStartName(lastInput));
  if (chosen.isEmpty()) return;
  lastInput = directoryPart(chosen.front());
  AddFiles(sortedPaths(chosen));
}

void TMainPanel::AddButtonClick() {
  if (!busy) AddImages1Click();
}

void TMainPanel::WMDropFiles(const QStringList& paths) {
  if (busy) return;
  AddFiles(sortedPaths(paths));
  show();
  raise();
  activateWindow();
}

void TMainPanel::AddFiles(const QStringList& paths) {
  // The grid, the selection and the merge state follow the list even when
  // something below throws.
  const auto finish = qScopeGuard([this] {
    showList();
    ClearFileSelection();
    listChanged();
  });
  for (const QString& path : paths) {
    if (!platform_.fileExists(path)) {
      platform_.showMessage(this, path, fromUtf8(text::kNoSequence));
      continue;
    }
    if (const std::optional<QString> reason = images.admit(path)) {
      platform_.showErrorDialog(this, path, *reason);
      break;
    }
  }
}

void TMainPanel::ClearList1Click() {
  if (busy) return;
  images.clear();
  showList();
  ClearFileSelection();
  listChanged();
}

void TMainPanel::ClearButtonClick() {
  if (!busy) ClearList1Click();
}

void TMainPanel::FileListKeyDown(int key, Qt::KeyboardModifiers) {
  if (key != Qt::Key_Delete || busy) return;
  const std::optional<std::pair<int, int>> rows = FileList->selectedRows();
  if (!rows || !images.removeRows(rows->first, rows->second)) return;
  showList();
  // Nothing stays selected, so a second Delete removes nothing unseen.
  ClearFileSelection();
  listChanged();
}

void TMainPanel::RunButtonClick() {
  if (fileCount() == 0) return;
  if (ImageViewer) ImageViewer->hide();
  if (!merged && !mergeList()) return;

  // The table is built anew each time, so a run always shows the scale
  // selected now.
  const velIPL::RGBImage table = SelectedColorScale(ColorScales->itemIndex());
  const velIPL::RGBImage picture = ApplyColorScale(table, mergedImage);
  if (ImageViewer) {
    // The status line is part of what frame quality adds; without it the
    // viewer is the picture and its tool bar alone.
    ImageViewer->setStatus(resultMeasured() || mergeOutcome.filtered ? resultDescription() : QString());
    ImageViewer->SaveReportAction->setEnabled(resultMeasured());
    ImageViewer->fitPicture(QSize(picture.width(), picture.height()));
    ImageViewer->Image->setBitmap(velIPL::WindowsDIB(picture).createBitmap());
    // Beside the main window, whatever place the user gave the viewer.
    ImageViewer->showBeside(this);
  }
  PageControl1->setCurrentWidget(SettingsPage);
}

bool TMainPanel::mergeList() {
  // Until the merge ends: the busy cursor, the bar moving, input dropped
  // and Escape taken as cancel, which the bar's hint says.
  MergeSession session(Progress);
  Progress->setToolTip(fromUtf8(text::kCancelHint));
  // However the merge ends, the window returns to a finished merge's state:
  // bar at 0 (its maximum kept), list and commands on again.
  const auto endMerge = [this, &session] {
    session.finish();
    Progress->setValue(0);
    Progress->setToolTip(QString());
    busy = false;
    updateActions();
  };
  auto endOnExit = qScopeGuard(endMerge);
  FileList->setEnabled(false);
  runButtonAction_->setEnabled(false);
  // A list shown again loses the marks of an earlier merge.
  showList();
  const QStringList rows = images.entries();
  // Row by row: the frame merged, named as the row shows it.
  std::vector<std::string> names;
  std::vector<MergeFrame> frames;
  names.reserve(static_cast<std::size_t>(rows.size()));
  frames.reserve(static_cast<std::size_t>(rows.size()));
  for (int row = 0; row < rows.size(); ++row) {
    names.push_back(localPath(rows[row]));
    frames.emplace_back(localPath(images.path(row)), images.frame(row));
  }
  busy = true;
  updateActions();

  // A file changed or vanished since it was listed. merged stays clear, so
  // the next Run merges again once the list is put right. The window is
  // usable again before the report appears.
  const MergeOptions options = mergeOptions();
  MergePlan plan;
  MergeOutcome outcome;
  try {
    plan = planFrames(std::move(frames), std::move(names), images.refWidth(), std::abs(images.refHeight()), options);
    outcome = mergeSeries(plan, options, &session);
  } catch (const MergeCancelled&) {
    // The user's own choice: the window as after a failed merge, without a
    // message.
    return false;
  } catch (const PathError& e) {
    endOnExit.dismiss();
    endMerge();
    platform_.reportException(this, QStringLiteral("%1: %2").arg(QString::fromStdString(e.path()),
                                                                 QString::fromLocal8Bit(e.what())));
    return false;
  }
  mergedImage = outcome.merged;
  mergePlan = std::move(plan);
  mergeOptionsUsed = options;
  mergeOutcome = std::move(outcome);
  endOnExit.dismiss();
  endMerge();
  merged = true;
  markRows();
  return true;
}

void TMainPanel::ColorScalesClick() {
  if (merged) RunButtonClick();
}

void TMainPanel::AlgorithmClick() {
  merged = false;
  PageControl1->setCurrentWidget(ProcessPage);
  RunButtonClick();
}

void TMainPanel::About1Click() {
  if (SplashScreen) SplashScreen->showAbout(this);
}

void TMainPanel::WebButtonClick() { platform_.openWebAddress(fromUtf8(maker::kWebAddress)); }

void TMainPanel::Whatispellora1Click() {
  if (pellora) pellora->showOver(this);
}

void TMainPanel::Exit1Click() { close(); }

void TMainPanel::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainPanel::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainPanel::dropEvent(QDropEvent* event) {
  const QStringList paths = droppedPaths(event->mimeData());
  event->acceptProposedAction();
  filesDropped(paths);
}

void TMainPanel::filesDropped(const QStringList& paths) {
  guarded([&] { WMDropFiles(paths); });
}

}  // namespace lumifold

#include "app/image_viewer.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <iterator>

#include "app/artwork.h"
#include "app/file_names.h"
#include "app/main_panel.h"
#include "app/picture_control.h"
#include "app/platform.h"
#include "app/radio_group.h"
#include "app/window_geometry.h"
#include "color/color_scales.h"
#include "pipeline/picture_output.h"
#include "pipeline/quality_report.h"
#include "pipeline/safe_file.h"

namespace lumifold {

namespace {

namespace text {
const char* const kCaption = "pellora Image Viewer";
const char* const kSaveAs = "Save As ...";
const char* const kSaveGrey = "Save Grey Average ...";
const char* const kSaveReport = "Save Report ...";
const char* const kSaveCaption = "Save As";
// The first type is the one the save has always had.
const char* const kPictureFilter =
    "Bitmaps (*.bmp)|*.bmp|PNG images (*.png)|*.png|TIFF images (*.tif;*.tiff)|*.tif;*.tiff";
const char* const kReportFilter = "Reports (*.json)|*.json";
const char* const kZoom = "%1 \u00b7 zoom %2 %";
}  // namespace text

// The window's outer size until the first result sizes it.
constexpr int kOuterWidth = 700;
constexpr int kOuterHeight = 500;

// Zoom steps: whole factors and their inverses, so that enlarged pixels are
// all of one size.
constexpr double kZoomSteps[] = {1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3, 1.0 / 2, 1.0,
                                 2.0,      3.0,      4.0,     6.0,     8.0,     12.0,    16.0};
// Zooms this close count as one (a fitted zoom is rarely a step exactly).
constexpr double kSameZoom = 1e-9;
// One notch of a mouse wheel, in eighths of a degree.
constexpr int kWheelNotch = 120;

// The zoom step after now, up (direction 1) or down (-1); now itself at
// either end.
double nextZoom(double now, int direction) {
  if (direction > 0) {
    const auto* next = std::find_if(std::begin(kZoomSteps), std::end(kZoomSteps),
                                    [now](double step) { return step > now * (1 + kSameZoom); });
    return next == std::end(kZoomSteps) ? now : *next;
  }
  const auto next = std::find_if(std::rbegin(kZoomSteps), std::rend(kZoomSteps),
                                 [now](double step) { return step < now * (1 - kSameZoom); });
  return next == std::rend(kZoomSteps) ? now : *next;
}

}  // namespace

TImageViewer::TImageViewer(Platform& platform, QWidget* parent)
    : QWidget(parent, Qt::Window), platform_(platform) {
  setWindowTitle(QString::fromUtf8(text::kCaption));
  setWindowIcon(artwork::applicationIcon());

  saveAction_ = new QAction(QString::fromUtf8(text::kSaveAs), this);
  // Qt would shorten a hint taken from the caption; the hint is the caption.
  saveAction_->setToolTip(QString::fromUtf8(text::kSaveAs));
  saveAction_->setIcon(artwork::toolIcon(artwork::ToolIcon::Save));
  saveAction_->setShortcut(QKeySequence::Save);
  connect(saveAction_, &QAction::triggered, this,
          [this] { reportingExceptions(platform_, this, [this] { SaveResultButtonClick(); }); });
  SaveGreyAction = new QAction(QString::fromUtf8(text::kSaveGrey), this);
  SaveGreyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G));
  connect(SaveGreyAction, &QAction::triggered, this,
          [this] { reportingExceptions(platform_, this, [this] { SaveGreyAverageClick(); }); });
  SaveReportAction = new QAction(QString::fromUtf8(text::kSaveReport), this);
  SaveReportAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
  connect(SaveReportAction, &QAction::triggered, this,
          [this] { reportingExceptions(platform_, this, [this] { SaveReportClick(); }); });
  // Right-click anywhere in the window, or hold the save button.
  for (QAction* a : {saveAction_, SaveGreyAction, SaveReportAction}) addAction(a);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  // The tool bar and the picture are placed by hand (resizeEvent): a layout
  // would give the window a minimum size of its own making.
  ToolBar1 = new QToolBar(this);
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(20, 20));
  ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
  ToolBar1->setContentsMargins(0, 0, 0, 0);
  ToolBar1->layout()->setSpacing(0);
  ToolBar1->addAction(saveAction_);
  SaveResultButton = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(saveAction_));
  SaveResultButton->setFixedSize(26, 26);
  auto* saveMenu = new QMenu(SaveResultButton);
  saveMenu->addActions({saveAction_, SaveGreyAction, SaveReportAction});
  SaveResultButton->setMenu(saveMenu);
  SaveResultButton->setPopupMode(QToolButton::DelayedPopup);

  // The picture fills the area below the tool bar and scrolls where the
  // area is smaller; without a frame the area shows the picture exactly.
  PictureArea = new QScrollArea(this);
  PictureArea->setFrameShape(QFrame::NoFrame);
  Image = new PictureControl;
  PictureArea->setWidget(Image);
  PictureArea->setWidgetResizable(true);
  PictureArea->viewport()->installEventFilter(this);
  StatusLine = new QLabel(this);
  StatusLine->setContentsMargins(6, 0, 6, 0);
  StatusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
  StatusLine->hide();

  const auto zoomCommand = [this](const QList<QKeySequence>& keys, auto handler) {
    auto* action = new QAction(this);
    action->setShortcuts(keys);
    connect(action, &QAction::triggered, this, handler);
    addAction(action);
    return action;
  };
  ZoomInAction = zoomCommand({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)}, [this] { zoomIn(); });
  ZoomOutAction = zoomCommand({QKeySequence::ZoomOut}, [this] { zoomOut(); });
  ActualSizeAction = zoomCommand({QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { zoomTo(1.0, visibleCentre()); });
  FitAction = zoomCommand({QKeySequence(Qt::CTRL | Qt::Key_F)}, [this] { zoomToFit(); });

  setMinimumWidth(kMinimumWidth);
  setOuterSize(this, kOuterWidth, kOuterHeight);
}

void TImageViewer::fitPicture(QSize picture) {
  zoomTo(1.0, QPoint(0, 0));
  PictureArea->horizontalScrollBar()->setValue(0);
  PictureArea->verticalScrollBar()->setValue(0);
  resize(std::max(picture.width(), kMinimumWidth),
         picture.height() + kToolBarHeight + (status_.isEmpty() ? 0 : kStatusHeight));
}

void TImageViewer::setStatus(const QString& status) {
  status_ = status;
  StatusLine->setVisible(!status_.isEmpty());
  showStatus();
  layOut();
}

void TImageViewer::showStatus() {
  if (status_.isEmpty()) return;
  StatusLine->setText(QString::fromUtf8(text::kZoom).arg(status_).arg(std::lround(Image->zoom() * 100)));
  StatusLine->setToolTip(StatusLine->text());
}

void TImageViewer::showBeside(const QWidget* beside) {
  const QMargins frame = frameMargins(this, beside);
  const QRect main = outerGeometry(beside);
  const QRect wanted(QPoint(main.x() + main.width(), main.y()), size().grownBy(frame));
  // The screen the window is wanted on; the main window's when that point
  // is on none.
  const QScreen* screen = QGuiApplication::screenAt(wanted.topLeft());
  if (!screen) screen = beside->screen();
  const QRect place = screen ? keptInside(wanted, screen->availableGeometry()) : wanted;
  if (place.size() != wanted.size()) resize(place.size().shrunkBy(frame));
  show();
  moveOuter(this, place.topLeft(), beside);
}

void TImageViewer::zoomTo(double factor, QPoint anchor) {
  factor = std::clamp(factor, kMinimumZoom, kMaximumZoom);
  QScrollBar* across = PictureArea->horizontalScrollBar();
  QScrollBar* down = PictureArea->verticalScrollBar();
  const double before = Image->zoom();
  const QPointF point((across->value() + anchor.x()) / before, (down->value() + anchor.y()) / before);
  Image->setZoom(factor);
  showStatus();
  // Lays the picture out again at once, so the scroll bars have their new
  // ranges before they are set.
  PictureArea->setWidgetResizable(true);
  across->setValue(static_cast<int>(std::lround(point.x() * factor - anchor.x())));
  down->setValue(static_cast<int>(std::lround(point.y() * factor - anchor.y())));
}

void TImageViewer::zoomIn() { zoomTo(nextZoom(Image->zoom(), 1), visibleCentre()); }

void TImageViewer::zoomOut() { zoomTo(nextZoom(Image->zoom(), -1), visibleCentre()); }

void TImageViewer::zoomToFit() {
  const QSize picture = Image->bitmap().size();
  if (picture.isEmpty()) return;
  const QSize area = PictureArea->size();
  zoomTo(std::min(static_cast<double>(area.width()) / picture.width(),
                  static_cast<double>(area.height()) / picture.height()),
         QPoint(0, 0));
}

QPoint TImageViewer::visibleCentre() const {
  const QSize visible = PictureArea->viewport()->size();
  return QPoint(visible.width() / 2, visible.height() / 2);
}

bool TImageViewer::eventFilter(QObject* watched, QEvent* event) {
  if (watched == PictureArea->viewport() && event->type() == QEvent::Wheel) {
    auto* wheel = static_cast<QWheelEvent*>(event);
    if (wheel->modifiers() & Qt::ControlModifier) {
      // About the picture point under the mouse.
      const QPoint anchor = wheel->position().toPoint();
      wheelAngle_ += wheel->angleDelta().y();
      for (; wheelAngle_ >= kWheelNotch; wheelAngle_ -= kWheelNotch) zoomTo(nextZoom(Image->zoom(), 1), anchor);
      for (; wheelAngle_ <= -kWheelNotch; wheelAngle_ += kWheelNotch) zoomTo(nextZoom(Image->zoom(), -1), anchor);
      wheel->accept();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TImageViewer::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layOut();
}

void TImageViewer::layOut() {
  const int status = status_.isEmpty() ? 0 : kStatusHeight;
  ToolBar1->setGeometry(0, 0, width(), kToolBarHeight);
  PictureArea->setGeometry(0, kToolBarHeight, width(), std::max(0, height() - kToolBarHeight - status));
  StatusLine->setGeometry(0, std::max(kToolBarHeight, height() - status), width(), status);
}

void TImageViewer::SaveResultButtonClick() {
  if (!mainPanel_) return;
  const QString filter = QString::fromUtf8(text::kPictureFilter);
  const Platform::SaveChoice chosen = platform_.runSaveDialog(this, QString::fromUtf8(text::kSaveCaption),
                                                              dialogStartName(mainPanel_->lastOutput), filter);
  if (chosen.path.isEmpty()) return;
  mainPanel_->lastOutput = directoryPart(chosen.path);
  const velIPL::RGBImage table = SelectedColorScale(mainPanel_->ColorScales->itemIndex());
  const velIPL::RGBImage picture = ApplyColorScale(table, mainPanel_->mergedImage);
  // The writer replaces a file only once the new one is complete, so a
  // failed save leaves an earlier file of that name as it was.
  const std::string target = localPath(savedFileName(chosen.path, filter, chosen.type));
  if (pictureFormat(target) == PictureFormat::bmp) {
    picture.save(target);
  } else {
    writeColourPicture(picture, target, spacing());
  }
}

PixelSpacing TImageViewer::spacing() const {
  return {mainPanel_->mergePlan.size.pixelSpacingX, mainPanel_->mergePlan.size.pixelSpacingY};
}

void TImageViewer::SaveGreyAverageClick() {
  if (!mainPanel_ || mainPanel_->mergedImage.empty()) return;
  const QString filter = QString::fromUtf8(text::kPictureFilter);
  const Platform::SaveChoice chosen = platform_.runSaveDialog(this, QString::fromUtf8(text::kSaveGrey).chopped(4),
                                                              dialogStartName(mainPanel_->lastOutput), filter);
  if (chosen.path.isEmpty()) return;
  mainPanel_->lastOutput = directoryPart(chosen.path);
  const MergeOutcome& outcome = mainPanel_->mergeOutcome;
  writeGreyPicture(mainPanel_->mergedImage, outcome.bitsPerSample == 16 ? &outcome.grey16 : nullptr,
                   localPath(savedFileName(chosen.path, filter, chosen.type)), spacing());
}

void TImageViewer::SaveReportClick() {
  if (!mainPanel_ || !mainPanel_->resultMeasured()) return;
  const QString filter = QString::fromUtf8(text::kReportFilter);
  const Platform::SaveChoice chosen = platform_.runSaveDialog(this, QString::fromUtf8(text::kSaveReport).chopped(4),
                                                              dialogStartName(mainPanel_->lastOutput), filter);
  if (chosen.path.isEmpty()) return;
  mainPanel_->lastOutput = directoryPart(chosen.path);
  writeFileSafely(localPath(savedFileName(chosen.path, filter, 0)),
                  qualityReportJson(mainPanel_->mergePlan, mainPanel_->mergeOutcome, mainPanel_->mergeOptionsUsed));
}

}  // namespace lumifold

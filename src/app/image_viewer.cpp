#include "app/image_viewer.h"

#include <QAction>
#include <QResizeEvent>
#include <QLayout>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

#include "app/artwork.h"
#include "app/file_names.h"
#include "app/main_panel.h"
#include "app/picture_control.h"
#include "app/platform.h"
#include "app/radio_group.h"
#include "app/window_geometry.h"
#include "color/color_scales.h"

namespace lumifold {

namespace {

namespace text {
const char* const kCaption = "pellora Image Viewer";
const char* const kSaveAs = "Save As ...";
}  // namespace text

// The window's outer size until the first result sizes it.
constexpr int kOuterWidth = 700;
constexpr int kOuterHeight = 500;

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

  // The tool bar and the picture are placed by hand (resizeEvent): a layout
  // would give the window a minimum size, and a narrow result must still get
  // a window exactly its width.
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

  Image = new PictureControl(this);

  setOuterSize(this, kOuterWidth, kOuterHeight);
}

void TImageViewer::fitPicture(QSize picture) { resize(picture.width(), picture.height() + kToolBarHeight); }

void TImageViewer::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ToolBar1->setGeometry(0, 0, width(), kToolBarHeight);
  Image->setGeometry(0, kToolBarHeight, width(), std::max(0, height() - kToolBarHeight));
}

void TImageViewer::SaveResultButtonClick() {
  if (!mainPanel_) return;
  const QString chosen = platform_.runSavePictureDialog(this, dialogStartName(mainPanel_->lastOutput));
  if (chosen.isEmpty()) return;
  mainPanel_->lastOutput = directoryPart(chosen);
  const velIPL::RGBImage table = SelectedColorScale(mainPanel_->ColorScales->itemIndex());
  const velIPL::RGBImage picture = ApplyColorScale(table, mainPanel_->mergedImage);
  // The writer replaces a file only once the new one is complete, so a
  // failed save leaves an earlier file of that name as it was.
  picture.save(localPath(bmpFileName(chosen)));
}

}  // namespace lumifold

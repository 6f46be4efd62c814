// TImageViewer: the window beside the main window that shows the coloured
// merge result at 1:1 under a tool bar with one command, "Save As ...".
//
// Made hidden at start-up and kept for the program's life; closing it only
// hides it. The main window's processing command fills, sizes, places and
// shows it; the image list hides it whenever the list changes. The save
// command does not copy the picture on the screen: it colours the main
// window's kept grey result again with the scale selected at that moment,
// so the file holds the merge's own pixels at its own size. What the save
// throws is reported through the platform, never passed on. The platform
// and the main window are the caller's and must outlive the viewer.
#pragma once

#include <QWidget>

class QAction;
class QToolBar;
class QToolButton;

namespace lumifold {

class Platform;
class PictureControl;
class TMainPanel;

class TImageViewer : public QWidget {
  Q_OBJECT

public:
  // Height of the tool bar above the picture.
  static constexpr int kToolBarHeight = 31;

  explicit TImageViewer(Platform& platform, QWidget* parent = nullptr);

  // The main window whose result the save command writes; until it is set,
  // saving does nothing.
  void setMainPanel(TMainPanel* mainPanel) { mainPanel_ = mainPanel; }

  // Sizes the window so that a picture of that size shows whole at 1:1
  // under the tool bar.
  void fitPicture(QSize picture);

  QToolBar* ToolBar1;
  QToolButton* SaveResultButton;
  PictureControl* Image;

public slots:
  // The save command. Throws what the BMP writer throws; the button reports
  // it.
  void SaveResultButtonClick();

protected:
  void resizeEvent(QResizeEvent* event) override;

private:
  Platform& platform_;
  TMainPanel* mainPanel_ = nullptr;
  QAction* saveAction_;
};

}  // namespace lumifold

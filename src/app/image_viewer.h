// TImageViewer: the window beside the main window that shows the coloured
// merge result under a tool bar with one command, "Save As ...".
//
// Made hidden at start-up and kept for the program's life; closing it only
// hides it. The main window's processing command fills, sizes, places and
// shows it; the image list hides it whenever the list changes. Every
// showing starts at 1:1 with the window sized to the picture and its frame
// at the main window's right edge, level with its top. Where the screen
// has no room for that, the window is moved onto the screen's free area
// and cut to it, and the picture scrolls. The keys Ctrl++ (or Ctrl+=) and
// Ctrl+- zoom in and out, as does Ctrl with the mouse wheel, Ctrl+0 goes
// back to 1:1, and Ctrl+F fits the picture to the window. However narrow
// the picture, the window keeps room for its caption and buttons.
//
// After a merge with frame quality a status line under the picture says
// what it shows: the series, the frames kept, the algorithm, the scale, the
// zoom and the SNR. The picture keeps its place at the top-left. Besides
// "Save As ..." (BMP as ever, or PNG and TIFF), the tool button's menu and
// the window's context menu offer "Save Grey Average ..." and, after a
// merge that measured frame quality, "Save Report ...".
//
// The save command does not copy the picture on the screen: it colours the
// main window's kept grey result again with the scale selected at that
// moment, so the file holds the merge's own pixels at its own size. What
// the save throws is reported through the platform, never passed on. The
// platform and the main window are the caller's and must outlive the
// viewer.
#pragma once

#include <QWidget>

#include "pipeline/picture_output.h"

class QAction;
class QLabel;
class QScrollArea;
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
  // Height of the status line under the picture, when there is one.
  static constexpr int kStatusHeight = 20;
  // The narrowest client area: room for the caption, the close box and the
  // tool bar's button.
  static constexpr int kMinimumWidth = 300;
  // The zoom's bounds, screen pixels per picture pixel.
  static constexpr double kMinimumZoom = 1.0 / 16;
  static constexpr double kMaximumZoom = 16.0;

  explicit TImageViewer(Platform& platform, QWidget* parent = nullptr);

  // The main window whose result the save command writes; until it is set,
  // saving does nothing.
  void setMainPanel(TMainPanel* mainPanel) { mainPanel_ = mainPanel; }

  // Back to 1:1, and the window sized so that a picture of that size shows
  // whole under the tool bar (no narrower than kMinimumWidth).
  void fitPicture(QSize picture);

  // What the status line says before the zoom; empty: no status line.
  // Call before fitPicture, which makes room for it.
  void setStatus(const QString& status);

  // Shows the window with its frame at the right edge of beside, level
  // with its top, as far as the screen's free area allows; a window larger
  // than that area is first cut to it.
  void showBeside(const QWidget* beside);

  // Zooms to factor (kept within the bounds), keeping the picture point
  // under anchor, a point of the visible part, where it is.
  void zoomTo(double factor, QPoint anchor);
  // The next zoom step up or down from the zoom now, about the centre of
  // the visible part: 1/16, 1/12, 1/8, 1/6, 1/4, 1/3, 1/2, 1, 2, 3, 4, 6,
  // 8, 12, 16.
  void zoomIn();
  void zoomOut();
  // The largest zoom at which the whole picture fits the window.
  void zoomToFit();

  QToolBar* ToolBar1;
  QToolButton* SaveResultButton;
  QScrollArea* PictureArea;
  PictureControl* Image;
  QAction* ZoomInAction;
  QAction* ZoomOutAction;
  QAction* ActualSizeAction;
  QAction* FitAction;
  QLabel* StatusLine;
  QAction* SaveGreyAction;
  QAction* SaveReportAction;

public slots:
  // The save command. Throws what the BMP writer throws; the button reports
  // it.
  void SaveResultButtonClick();
  // The grey average (BMP, PNG or TIFF; 16-bit for a 16-bit series) and
  // the frame quality report (JSON) of the kept result.
  void SaveGreyAverageClick();
  void SaveReportClick();

protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QPoint visibleCentre() const;
  void showStatus();
  PixelSpacing spacing() const;
  void layOut();

  Platform& platform_;
  TMainPanel* mainPanel_ = nullptr;
  QAction* saveAction_;
  // Wheel turns not yet used for a zoom step (touchpads send small ones).
  int wheelAngle_ = 0;
  QString status_;
};

}  // namespace lumifold

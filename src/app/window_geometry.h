// Outer window sizes and placement.
//
// The windows' sizes are given as outer sizes, frame and caption bar
// included. Before a window is on screen its frame is not known, so the
// classic frame is assumed: 4 pixels left, right and bottom and a 22-pixel
// caption bar, 8 x 26 in all. Once the window is shown, the window system's
// real frame is used (none at all without a window manager).
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace lumifold {

inline constexpr int kClassicFrameWidth = 8;
inline constexpr int kClassicFrameHeight = 26;

// The frame around the top-level window w: its own once the window manager
// has framed it. A window just shown again has none yet; the frame of
// like, a shown window of this program that the same window manager has
// framed, is assumed then, and also for a hidden w. Without like, a shown
// window is taken to have no frame and a hidden one the classic frame.
QMargins frameMargins(const QWidget* w, const QWidget* like = nullptr);

// What the frame adds to the client size of the top-level window w.
QSize frameExtent(const QWidget* w);

// Sizes the top-level window w so that its outer size is width x height.
void setOuterSize(QWidget* w, int width, int height);

// The outer rectangle of the top-level window w on the desktop.
QRect outerGeometry(const QWidget* w);

// Moves the top-level window w so that the top-left corner of its frame is
// at topLeft, its frame taken as frameMargins(w, like) says.
void moveOuter(QWidget* w, QPoint topLeft, const QWidget* like);

// Where a window wanted at the outer rectangle wanted goes on a screen
// whose free area is area: at wanted where it fits; otherwise moved the
// least distance that keeps it inside, and cut to the area's size where it
// is larger.
QRect keptInside(const QRect& wanted, const QRect& area);

// Moves the top-level window w so that its outer rectangle is centred on
// the outer rectangle of over, or on the available desktop when over is
// null.
void centreOn(QWidget* w, const QWidget* over);

}  // namespace lumifold

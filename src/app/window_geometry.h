// Outer window sizes and placement.
//
// The windows' sizes are given as outer sizes, frame and caption bar
// included. Before a window is on screen its frame is not known, so the
// classic frame is assumed: 4 pixels left, right and bottom and a 22-pixel
// caption bar, 8 x 26 in all. Once the window is shown, the window system's
// real frame is used (none at all without a window manager).
#pragma once

#include <QRect>
#include <QSize>

class QWidget;

namespace lumifold {

inline constexpr int kClassicFrameWidth = 8;
inline constexpr int kClassicFrameHeight = 26;

// What the frame adds to the client size of the top-level window w.
QSize frameExtent(const QWidget* w);

// Sizes the top-level window w so that its outer size is width x height.
void setOuterSize(QWidget* w, int width, int height);

// The outer rectangle of the top-level window w on the desktop.
QRect outerGeometry(const QWidget* w);

// Moves the top-level window w so that the top-left corner of its frame is
// at topLeft. A window just shown may not know its frame yet (the window
// manager adds it a moment later); the frame of like, a window of this
// program that the same window manager has framed, is assumed then.
void moveOuter(QWidget* w, QPoint topLeft, const QWidget* like);

// Moves the top-level window w so that its outer rectangle is centred on
// the outer rectangle of over, or on the available desktop when over is
// null.
void centreOn(QWidget* w, const QWidget* over);

}  // namespace lumifold

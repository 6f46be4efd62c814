#include "app/image_viewer.h"

#include "app/window_geometry.h"

namespace lumifold {

namespace {

namespace text {
const char* const kCaption = "pellora Image Viewer";
}  // namespace text

}  // namespace

TImageViewer::TImageViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QString::fromUtf8(text::kCaption));
  setOuterSize(this, 700, 500);
}

}  // namespace lumifold

// TImageViewer: the window beside the main window that shows the coloured
// result. Made hidden at start-up and kept for the program's life; closing
// it only hides it. The image list hides it whenever the list changes.
#pragma once

#include <QWidget>

namespace lumifold {

class TImageViewer : public QWidget {
  Q_OBJECT

public:
  explicit TImageViewer(QWidget* parent = nullptr);
};

}  // namespace lumifold

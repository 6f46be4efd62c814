#include "app/error_dialog.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include <algorithm>

#include "app/artwork.h"

namespace lumifold {

namespace {

namespace text {
const char* const kCaption = "Error";
const char* const kHeading = "Error encountered during load of image file";
const char* const kFile = "File: ";
const char* const kReason = "Reason: ";
const char* const kOK = "OK";
}  // namespace text

const QColor kPanelColour(100, 142, 194);

// A label that shortens a text too long for it in the middle, so a long
// path still shows where it starts and the file name at its end. text()
// stays the whole text.
class MiddleElidedLabel : public QLabel {
public:
  using QLabel::QLabel;

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, shown);
  }
};

template <typename Label = QLabel>
QLabel* makeLabel(QWidget* parent, const QString& caption, int x, int y, int pixelSize) {
  auto* label = new Label(caption, parent);
  QFont font = label->font();
  font.setPixelSize(pixelSize);
  label->setFont(font);
  label->move(x, y);
  label->adjustSize();
  return label;
}

}  // namespace

TErrorDialog::TErrorDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(text::kCaption));
  setFixedSize(568, 96);

  Panel1 = new QFrame(this);
  Panel1->setGeometry(0, 0, 568, 96);
  Heading = makeLabel(Panel1, QString::fromUtf8(text::kHeading), 88, 8, 19);
  FileLabel = makeLabel(Panel1, QString::fromUtf8(text::kFile), 88, 42, 11);
  ErrorPath = makeLabel<MiddleElidedLabel>(Panel1, QString(), 144, 42, 11);
  ReasonLabel = makeLabel(Panel1, QString::fromUtf8(text::kReason), 88, 62, 11);
  ErrorReason = makeLabel(Panel1, QString(), 144, 62, 11);
  for (QLabel* l : {ErrorPath, ErrorReason}) l->setTextInteractionFlags(Qt::TextSelectableByMouse);

  WarningImage = new QLabel(Panel1);
  WarningImage->setGeometry(8, 29, 36, 36);
  WarningImage->setPixmap(artwork::warningSign());

  ErrorOK = new QPushButton(QString::fromUtf8(text::kOK), Panel1);
  ErrorOK->setGeometry(480, 64, 75, 25);
  ErrorOK->setDefault(true);
  connect(ErrorOK, &QPushButton::clicked, this, &TErrorDialog::ErrorOKClick);

  FormCreate();
}

void TErrorDialog::FormCreate() {
  for (QWidget* w : std::initializer_list<QWidget*>{Panel1, Heading, FileLabel, ErrorPath,
                                                     ReasonLabel, ErrorReason}) {
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, kPanelColour);
    palette.setColor(QPalette::WindowText, Qt::white);
    w->setPalette(palette);
    w->setAutoFillBackground(true);
  }
}

void TErrorDialog::setError(const QString& path, const QString& reason) {
  ErrorPath->setText(path);
  ErrorPath->setToolTip(path);
  ErrorPath->adjustSize();
  ErrorPath->resize(std::min(ErrorPath->width(), Panel1->width() - ErrorPath->x() - 8),
                    ErrorPath->height());
  ErrorReason->setText(reason);
  ErrorReason->adjustSize();
}

void TErrorDialog::ErrorOKClick() { accept(); }

}  // namespace lumifold

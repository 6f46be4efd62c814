#include "app/splash_screen.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "app/artwork.h"
#include "app/clickable_label.h"
#include "app/maker.h"
#include "app/platform.h"
#include "app/window_geometry.h"

namespace lumifold {

namespace {

namespace text {
const char* const kCaption = "Lumifold 1.0";
const char* const kTitle = "Lumifold 1.0 ";
const char* const kCredits[4] = {
    "Averaging of OCT B-scan series",
    "Column-wise registration of every frame",
    "Image processing: pellora imaging group",
    "User interface built with Qt 6",
};
const char* const kDisclaimer = "";
const char* const kOK = "OK";
}  // namespace text

const QColor kPanelColour(100, 142, 194);

QFont arial(int pixelSize, bool bold = false) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

QLabel* placeLabel(QLabel* label, int x, int y, const QFont& font, const QColor& colour) {
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
  label->move(x, y);
  label->adjustSize();
  return label;
}

}  // namespace

TSplashScreen::TSplashScreen(Platform& platform, int timerInterval)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      platform_(platform) {
  setWindowTitle(QString::fromUtf8(text::kCaption));
  setFixedSize(414, 325);

  Panel1 = new QFrame(this);
  Panel1->setGeometry(0, 0, 414, 325);
  Panel1->setFrameStyle(QFrame::Box | QFrame::Plain);
  Panel1->setLineWidth(1);

  SplashImage = new QLabel(Panel1);
  SplashImage->setGeometry(33, 16, 135, 56);
  SplashImage->setPixmap(artwork::productLogo());

  TitleLabel = placeLabel(new QLabel(QString::fromUtf8(text::kTitle), Panel1), 178, 24,
                          arial(27, true), Qt::white);

  Label5 = new ClickableLabel(QString::fromUtf8(maker::kWebDomain), Panel1);
  placeLabel(Label5, 182, 55, arial(16), Qt::yellow);
  connect(Label5, &ClickableLabel::clicked, this, &TSplashScreen::Label5Click);

  const int creditRows[4] = {88, 104, 128, 144};
  for (int i = 0; i < 4; ++i) {
    CreditLabels[i] = placeLabel(new QLabel(QString::fromUtf8(text::kCredits[i]), Panel1), 33,
                                 creditRows[i], arial(13), Qt::white);
  }

  DisclaimerLabel = placeLabel(new QLabel(QString::fromUtf8(text::kDisclaimer), Panel1), 32, 176,
                               arial(11), Qt::white);
  DisclaimerLabel->setWordWrap(true);
  DisclaimerLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  DisclaimerLabel->setFixedSize(345, 56);

  SplashOKButton = new QPushButton(QString::fromUtf8(text::kOK), Panel1);
  SplashOKButton->setGeometry(304, 229, 59, 25);
  SplashOKButton->setDefault(true);
  connect(SplashOKButton, &QPushButton::clicked, this, &TSplashScreen::SplashOKButtonClick);

  Timer1 = new QTimer(this);
  Timer1->setInterval(timerInterval);
  connect(Timer1, &QTimer::timeout, this, &TSplashScreen::Timer1Timer);
  Timer1->start();

  FormCreate();
  centreOn(this, nullptr);
  // Every window's showing passes here before the window is on the screen.
  qApp->installEventFilter(this);
}

bool TSplashScreen::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show && watched != this && isVisible() && watched->isWidgetType()) {
    const auto* shown = static_cast<const QWidget*>(watched);
    if (shown->isWindow() && shown->isModal()) FormClose();
  }
  return QWidget::eventFilter(watched, event);
}

void TSplashScreen::FormCreate() {
  QPalette palette = Panel1->palette();
  palette.setColor(QPalette::Window, kPanelColour);
  Panel1->setPalette(palette);
  Panel1->setAutoFillBackground(true);
}

void TSplashScreen::showAbout(const QWidget* over) {
  centreOn(this, over);
  show();
  raise();
}

void TSplashScreen::Timer1Timer() { FormClose(); }

void TSplashScreen::SplashOKButtonClick() { FormClose(); }

void TSplashScreen::Label5Click() { platform_.openWebAddress(QString::fromUtf8(maker::kWebAddress)); }

void TSplashScreen::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TSplashScreen::FormClose() {
  Timer1->stop();
  hide();
}

}  // namespace lumifold

#include "app/pellora_window.h"

#include <QLabel>
#include <QPushButton>

#include "app/artwork.h"
#include "app/clickable_label.h"
#include "app/maker.h"
#include "app/platform.h"
#include "app/window_geometry.h"

namespace lumifold {

namespace {

namespace text {
const char* const kCaption = "What is pellora?";
const char* const kAbout =
    "pellora is a web platform for people who work with OCT: share your B-scans, "
    "films and cases, and learn from tutorials by colleagues around the world.";
const char* const kSignUp = "Sign up now, free of charge, and join the community.";
const char* const kClose = "Close";
}  // namespace text

void setTextColour(QWidget* w, const QColor& colour) {
  QPalette palette = w->palette();
  palette.setColor(QPalette::WindowText, colour);
  w->setPalette(palette);
}

}  // namespace

Tpellora::Tpellora(Platform& platform, QWidget* parent)
    : QWidget(parent, Qt::Dialog), platform_(platform) {
  setWindowTitle(QString::fromUtf8(text::kCaption));
  setOuterSize(this, 382, 235);
  // Laid out to the pixel; a larger window would only show empty space.
  setFixedSize(size());

  Logo = new QLabel(this);
  Logo->setGeometry(33, 16, 135, 60);
  Logo->setPixmap(artwork::makerLogo());

  AddressLabel = new ClickableLabel(QString::fromUtf8(maker::kWebDomain), this);
  QFont addressFont(QStringLiteral("Arial"));
  addressFont.setPixelSize(16);
  addressFont.setUnderline(true);
  AddressLabel->setFont(addressFont);
  setTextColour(AddressLabel, Qt::blue);
  AddressLabel->move(182, 39);
  AddressLabel->adjustSize();
  connect(AddressLabel, &ClickableLabel::clicked, this, &Tpellora::AddressClick);

  AboutText = new QLabel(QString::fromUtf8(text::kAbout), this);
  AboutText->setWordWrap(true);
  AboutText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  AboutText->setGeometry(32, 88, 320, 56);

  SignUpLabel = new ClickableLabel(QString::fromUtf8(text::kSignUp), this);
  setTextColour(SignUpLabel, Qt::blue);
  SignUpLabel->move(32, 152);
  SignUpLabel->adjustSize();
  connect(SignUpLabel, &ClickableLabel::clicked, this, &Tpellora::AddressClick);

  OK = new QPushButton(QString::fromUtf8(text::kClose), this);
  OK->setGeometry(240, 176, 75, 25);
  connect(OK, &QPushButton::clicked, this, &Tpellora::OKClick);
}

void Tpellora::showOver(const QWidget* over) {
  centreOn(this, over);
  show();
  raise();
  activateWindow();
}

void Tpellora::AddressClick() { platform_.openWebAddress(QString::fromUtf8(maker::kWebAddress)); }

void Tpellora::OKClick() { hide(); }

}  // namespace lumifold

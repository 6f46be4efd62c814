// Tpellora: the small window that tells what the maker's web platform is,
// with the web address to open. Made hidden at start-up and kept for the
// program's life; "Close" hides it and the Help menu shows it again. Keeps
// a reference to platform for opening the address.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace lumifold {

class ClickableLabel;
class Platform;

class Tpellora : public QWidget {
  Q_OBJECT

public:
  explicit Tpellora(Platform& platform, QWidget* parent = nullptr);

  // Shows the window centred on over (the desktop when null) and raises it.
  void showOver(const QWidget* over);

  QLabel* Logo;
  ClickableLabel* AddressLabel;
  QLabel* AboutText;
  ClickableLabel* SignUpLabel;
  QPushButton* OK;

public slots:
  void AddressClick();
  void OKClick();

private:
  Platform& platform_;
};

}  // namespace lumifold

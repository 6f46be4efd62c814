// TSplashScreen: the frameless window shown on top for three seconds at
// start-up, and again as the About box.
//
// Timer1 starts when the window is made, before the main window exists, and
// hides it when it first fires; OK and closing hide it at once. Whichever
// hides it stops the timer for good, so the About box stays until OK. The
// interval is a constructor argument only so that tests need not wait three
// seconds. The window keeps a reference to platform for opening the web
// address; the caller keeps the platform alive.
//
// A window on top would hide any message or dialog shown while it is up
// (a file named on the command line refused, a bad stored setting), and
// the dialog would block its OK button. So the splash gives way: when any
// modal window of the program is shown, it hides as OK would hide it.
#pragma once

#include <QWidget>

class QFrame;
class QLabel;
class QPushButton;
class QTimer;

namespace lumifold {

class ClickableLabel;
class Platform;

class TSplashScreen : public QWidget {
  Q_OBJECT

public:
  static constexpr int kTimerInterval = 3000;

  explicit TSplashScreen(Platform& platform, int timerInterval = kTimerInterval);

  // Shows the window again, centred on over (the desktop when null), without
  // touching the timer.
  void showAbout(const QWidget* over);

  QFrame* Panel1;
  QLabel* SplashImage;
  QLabel* TitleLabel;
  ClickableLabel* Label5;
  QLabel* CreditLabels[4];
  QLabel* DisclaimerLabel;
  QPushButton* SplashOKButton;
  QTimer* Timer1;

public slots:
  void Timer1Timer();
  void SplashOKButtonClick();
  void Label5Click();

protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void FormCreate();
  void FormClose();

  Platform& platform_;
};

}  // namespace lumifold

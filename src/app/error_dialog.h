// TErrorDialog: the modal report of a file that the image list refused,
// naming the file after "File: " and the reason after "Reason: ".
//
// One dialog is made per refused file and shown modally; OK closes it.
// Fixed size, the blue panel shared with the splash.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace lumifold {

class TErrorDialog : public QDialog {
  Q_OBJECT

public:
  explicit TErrorDialog(QWidget* parent = nullptr);

  // Fills ErrorPath with the file's full path and ErrorReason with the reason.
  void setError(const QString& path, const QString& reason);

  QFrame* Panel1;
  QLabel* Heading;
  QLabel* FileLabel;
  QLabel* ErrorPath;
  QLabel* ReasonLabel;
  QLabel* ErrorReason;
  QLabel* WarningImage;
  QPushButton* ErrorOK;

public slots:
  void ErrorOKClick();

private:
  void FormCreate();
};

}  // namespace lumifold

// RadioGroup: a captioned group of radio buttons with one item index.
//
// itemIndex() runs from -1 (nothing selected) to the last item. Setting it
// clamps to that range, and whenever the index changes - by the user's
// click or the keyboard, or by setItemIndex - the group emits clicked(),
// which is where its owner runs the group's click handler. Setting the
// index it already has emits nothing. The arrow keys select the next or
// the previous item (wrapping round), as a click on it would, and move the
// focus with the selection. The buttons are laid out one above
// the other, evenly over the space below the caption. Where the
// group is too narrow for its caption or items in the font it is given, the
// font is narrowed (never made smaller) until they fit.
#pragma once

#include <QGroupBox>
#include <QStringList>
#include <QVector>

class QButtonGroup;
class QRadioButton;

namespace lumifold {

class RadioGroup : public QGroupBox {
  Q_OBJECT

public:
  RadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

  int itemIndex() const { return itemIndex_; }
  void setItemIndex(int index);
  int count() const { return static_cast<int>(buttons_.size()); }
  QRadioButton* button(int i) const { return buttons_[i]; }

signals:
  void clicked();

protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void buttonToggled(int id, bool checked);
  void showIndex();
  void layoutButtons();
  void fitFont();

  QButtonGroup* group_;
  QVector<QRadioButton*> buttons_;
  int itemIndex_ = -1;
};

}  // namespace lumifold

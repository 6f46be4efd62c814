#include "app/radio_group.h"

#include <QButtonGroup>
#include <QKeyEvent>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyle>

#include <algorithm>

namespace lumifold {

namespace {

constexpr int kLeftMargin = 8;
constexpr int kRightMargin = 4;

}  // namespace

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)) {
  for (qsizetype i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], this);
    group_->addButton(button, static_cast<int>(i));
    buttons_.push_back(button);
    button->installEventFilter(this);
  }
  connect(group_, &QButtonGroup::idToggled, this, &RadioGroup::buttonToggled);
}

void RadioGroup::setItemIndex(int index) {
  index = std::clamp(index, -1, count() - 1);
  if (index == itemIndex_) return;
  itemIndex_ = index;
  showIndex();
  emit clicked();
}

bool RadioGroup::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QGroupBox::eventFilter(watched, event);
  const int key = static_cast<QKeyEvent*>(event)->key();
  int step = 0;
  if (key == Qt::Key_Down || key == Qt::Key_Right) step = 1;
  if (key == Qt::Key_Up || key == Qt::Key_Left) step = -1;
  const int at = static_cast<int>(buttons_.indexOf(qobject_cast<QRadioButton*>(watched)));
  if (step == 0 || at < 0) return QGroupBox::eventFilter(watched, event);
  // Qt moves only the focus here; the classic group selects as it goes.
  const int next = (at + step + count()) % count();
  buttons_[next]->setFocus(Qt::TabFocusReason);
  setItemIndex(next);
  return true;
}

void RadioGroup::buttonToggled(int id, bool checked) {
  if (!checked || id == itemIndex_) return;
  itemIndex_ = id;
  emit clicked();
}

void RadioGroup::showIndex() {
  const QSignalBlocker blocker(group_);
  if (itemIndex_ >= 0) {
    buttons_[itemIndex_]->setChecked(true);
    return;
  }
  // An exclusive group never unchecks its last checked button by itself.
  group_->setExclusive(false);
  for (QRadioButton* b : buttons_) b->setChecked(false);
  group_->setExclusive(true);
}

void RadioGroup::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  fitFont();
  layoutButtons();
}

void RadioGroup::fitFont() {
  const int indicator = style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, this) +
                        style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, this);
  const int itemRoom = width() - kLeftMargin - kRightMargin - indicator - 2;
  const int titleRoom = width() - 2 * kLeftMargin;
  QFont narrowed = font();
  for (int stretch = 100; stretch >= 60; stretch -= 5) {
    narrowed.setStretch(stretch);
    const QFontMetrics metrics(narrowed);
    bool fits = metrics.horizontalAdvance(title()) <= titleRoom;
    for (const QRadioButton* b : buttons_) fits = fits && metrics.horizontalAdvance(b->text()) <= itemRoom;
    if (fits) break;
  }
  if (narrowed != font()) setFont(narrowed);
}

void RadioGroup::layoutButtons() {
  if (buttons_.isEmpty()) return;
  // Measured from the group's own edges, as the classic radio group does: the
  // caption's height on top, a small margin at the sides and the bottom.
  const QRect area = rect().adjusted(kLeftMargin, fontMetrics().height(), -kRightMargin, -5);
  const int n = count();
  for (int i = 0; i < n; ++i) {
    const int top = area.top() + area.height() * i / n;
    const int bottom = area.top() + area.height() * (i + 1) / n;
    buttons_[i]->setGeometry(area.left(), top, area.width(), bottom - top);
  }
}

}  // namespace lumifold

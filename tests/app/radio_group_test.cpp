// The radio group's item index: clamped, and a change runs the click handler
// whether the user or the program makes it.
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include "app/radio_group.h"

using lumifold::RadioGroup;

class RadioGroupTest : public QObject {
  Q_OBJECT

private slots:
  void indexIsClampedAndChangesClick() {
    RadioGroup group(" Items ", {"a", "b", "c"});
    QSignalSpy clicks(&group, &RadioGroup::clicked);
    QCOMPARE(group.itemIndex(), -1);
    group.setItemIndex(-1);
    QCOMPARE(clicks.count(), 0);

    group.setItemIndex(9);
    QCOMPARE(group.itemIndex(), 2);
    QVERIFY(group.button(2)->isChecked());
    QCOMPARE(clicks.count(), 1);
    group.setItemIndex(2);
    QCOMPARE(clicks.count(), 1);

    group.setItemIndex(-3);
    QCOMPARE(group.itemIndex(), -1);
    for (int i = 0; i < 3; ++i) QVERIFY(!group.button(i)->isChecked());
    QCOMPARE(clicks.count(), 2);
  }

  void userClickChangesTheIndexOnce() {
    RadioGroup group(" Items ", {"a", "b"});
    group.setItemIndex(0);
    QSignalSpy clicks(&group, &RadioGroup::clicked);
    group.show();
    QTest::mouseClick(group.button(1), Qt::LeftButton, {}, QPoint(5, group.button(1)->height() / 2));
    QCOMPARE(group.itemIndex(), 1);
    QCOMPARE(clicks.count(), 1);
    group.button(1)->click();
    QCOMPARE(clicks.count(), 1);
  }

  // The arrow keys select as they move, wrapping round.
  void arrowKeysSelect() {
    RadioGroup group(" Items ", {"a", "b", "c"});
    group.setItemIndex(0);
    group.show();
    group.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&group));
    group.button(0)->setFocus();
    QSignalSpy clicks(&group, &RadioGroup::clicked);
    const std::pair<Qt::Key, int> steps[] = {
        {Qt::Key_Down, 1}, {Qt::Key_Right, 2}, {Qt::Key_Down, 0}, {Qt::Key_Up, 2}, {Qt::Key_Left, 1}};
    int at = 0;
    for (const auto& [key, index] : steps) {
      QTest::keyClick(group.button(at), key);
      QCOMPARE(group.itemIndex(), index);
      QVERIFY(group.button(index)->hasFocus());
      at = index;
    }
    QCOMPARE(clicks.count(), 5);
  }

  void itemsShareTheHeightBelowTheCaption() {
    RadioGroup group(" Items ", {"a", "b", "c", "d", "e", "f"});
    group.setGeometry(16, 24, 105, 241);
    group.show();
    for (int i = 1; i < group.count(); ++i) {
      const int step = group.button(i)->y() - group.button(i - 1)->y();
      QVERIFY2(step >= 34 && step <= 39, qPrintable(QString::number(step)));
    }
    QVERIFY(group.button(5)->geometry().bottom() < 241);
  }
};

QTEST_MAIN(RadioGroupTest)
#include "radio_group_test.moc"

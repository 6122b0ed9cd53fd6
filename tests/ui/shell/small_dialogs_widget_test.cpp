// The small dialogs' widgets offscreen: Enter in the offset edit takes the
// value without closing; the slider and the edit follow each other once.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include "ui/shell/small_dialogs.h"

namespace {

TEST(SmallDialogWidgets, EnterInOffsetDoesNotCloseAndControlsFollow) {
  AVSyncSetting s;
  CAVSyncDlg model(&s);
  AVSyncDialog d(&model);
  d.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
  QSignalSpy finished(&d, &QDialog::finished);
  auto* offset = d.findChild<QLineEdit*>("c1032");
  offset->setFocus();
  offset->selectAll();
  QTest::keyClicks(offset, "0.2");
  QTest::keyClick(offset, Qt::Key_Return);
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(finished.count(), 0);
  EXPECT_EQ(s.offset_ms, 200);
  EXPECT_EQ(d.findChild<QSlider*>("c1034")->value(), 700);
  d.findChild<QSlider*>("c1034")->setValue(250);
  EXPECT_EQ(offset->text(), "-0.250");
  EXPECT_EQ(s.offset_ms, -250);
}

TEST(SmallDialogWidgets, FieldOrderAndCaution) {
  CFieldOrderDlg order(2);
  FieldOrderDialog f(&order);
  EXPECT_TRUE(f.findChild<QRadioButton*>("c1001")->isChecked());
  f.findChild<QRadioButton*>("c1000")->click();
  EXPECT_EQ(order.value, 1);
  CCompatCautionDlg caution;
  CompatCautionDialog c(&caution);
  c.findChild<QCheckBox*>("c_dont_show")->click();
  EXPECT_EQ(caution.dont_show_again, 1);
}

}  // namespace

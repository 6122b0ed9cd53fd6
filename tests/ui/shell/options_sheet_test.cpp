// The Options sheet driven through its controls.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include "access/dtv.h"
#include "app/shell/editor_settings.h"
#include "ui/shell/options_sheet.h"

namespace {

struct OptionsSheetTest : ::testing::Test {
  OptionsSheetTest() {
    s.set_defaults();
    s.set_default_key_map();
    s.screen_depth = 24;
  }
  ~OptionsSheetTest() override { skip_full_scan = 0; }
  static QPushButton* button(OptionsSheet& sheet, QDialogButtonBox::StandardButton which) {
    return sheet.findChild<QDialogButtonBox*>()->button(which);
  }
  EditorSettings s;
};

TEST_F(OptionsSheetTest, OkStoresApplyIsOnlyEnabledByAChangeCancelStoresNothing) {
  s.full_scan = 1;
  {
    OptionsSheet sheet(&s);
    EXPECT_FALSE(button(sheet, QDialogButtonBox::Apply)->isEnabled());
    sheet.findChild<QRadioButton*>("c2_size_1")->click();
    QTest::keyClicks(sheet.findChild<QLineEdit*>("c4_jump"), "9");
    EXPECT_TRUE(button(sheet, QDialogButtonBox::Apply)->isEnabled());
    button(sheet, QDialogButtonBox::Cancel)->click();
  }
  EXPECT_EQ(s.image_size, 0);
  EXPECT_EQ(EditorSettings::compare_key_map(s, [] {
              EditorSettings d;
              d.set_default_key_map();
              return d;
            }()),
            0);

  OptionsSheet sheet(&s);
  sheet.findChild<QRadioButton*>("c2_size_1")->click();
  sheet.findChild<QCheckBox*>("c3_scan")->click();  // off
  sheet.pages()->setCurrentIndex(4);
  button(sheet, QDialogButtonBox::Ok)->click();
  EXPECT_EQ(s.image_size, 1);
  EXPECT_EQ(s.full_scan, 0);
  EXPECT_EQ(skip_full_scan.load(), 1);
}

TEST_F(OptionsSheetTest, ReopensOnItsLastPageAndAnEightBitScreenOffersEightBitOnly) {
  {
    OptionsSheet sheet(&s);
    sheet.pages()->setCurrentIndex(3);
  }
  s.screen_depth = 8;
  OptionsSheet sheet(&s);
  EXPECT_EQ(sheet.pages()->currentIndex(), 3);
  EXPECT_TRUE(sheet.findChild<QRadioButton*>("c1_color_8")->isChecked());
  EXPECT_FALSE(sheet.findChild<QRadioButton*>("c1_color_24")->isEnabled());
  EXPECT_FALSE(sheet.findChild<QRadioButton*>("c1_color_16")->isEnabled());
}

}  // namespace

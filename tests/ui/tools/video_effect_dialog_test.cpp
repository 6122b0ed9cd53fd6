// The Video Effect Setup driven through its controls.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTest>

#include "platform/fakes.h"
#include "ui/tools/video_effect_dialog.h"

namespace {

Clip clip(const char* file, int count) {
  Clip c;
  c.set_file_name(file);
  c.clip_type = 3;
  c.video_stream_count = 1;
  c.frame_rate = 25;
  c.count = count;
  return c;
}

TEST(VideoEffectDialog, ControlsFollowTheClipAndOkStoresTheEffects) {
  FakePlatform fp;
  std::vector<Clip> clips = {clip("/m/a.mpg", 100), clip("/m/b.mpg", 80)};
  for (bool ok : {false, true}) {
    VideoEffectDialog d(&clips, 1, nullptr);
    EXPECT_EQ(d.windowTitle(), "  Video Effect Setup");
    auto* effects = d.findChild<QListWidget*>("c1336");
    auto* length = d.findChild<QLineEdit*>("c1335");
    auto* add = d.findChild<QPushButton*>("Add");
    EXPECT_EQ(d.findChild<QComboBox*>("c1334")->currentText(), "/m/b.mpg");
    EXPECT_EQ(effects->count(), 6);
    EXPECT_FALSE(d.findChild<QLineEdit*>("c1341")->isEnabled());
    EXPECT_FALSE(add->isEnabled());

    effects->setCurrentRow(4);  // Blend
    EXPECT_EQ(length->text(), "50");  // two seconds
    EXPECT_TRUE(add->isEnabled());
    length->selectAll();
    QTest::keyClicks(length, "90");  // past the end: the whole clip
    EXPECT_EQ(length->text(), "80");
    add->click();
    EXPECT_EQ(d.findChild<QLabel*>("c1340")->text(), "\"Blend\":   offset = 0,   length = 80");
    EXPECT_FALSE(add->isEnabled());
    EXPECT_TRUE(d.findChild<QPushButton*>("Remove")->isEnabled());

    // The first clip offers no transition.
    d.findChild<QComboBox*>("c1334")->setCurrentIndex(0);
    EXPECT_EQ(d.findChild<QGroupBox*>()->title(), "Effect Range (total: 100)");
    effects->setCurrentRow(1);
    EXPECT_FALSE(add->isEnabled());
    d.findChild<QTabBar*>("c1342")->setCurrentIndex(2);
    EXPECT_EQ(effects->item(2)->text(), "Ending Fade");

    auto* box = d.findChild<QDialogButtonBox*>();
    box->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    EXPECT_EQ(d.current_clip(), 0);
    EXPECT_EQ(clips[1].transition_id, ok ? 4 : 0);
    EXPECT_EQ(clips[1].transition_length, ok ? 80 : 0);
  }
}

}  // namespace

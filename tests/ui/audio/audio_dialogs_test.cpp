#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QSlider>
#include <QTest>

#include "platform/dsaudio.h"
#include "platform/fakes.h"
#include "ui/audio/audio_dialogs.h"

namespace {

TEST(AudioConfigDialog, KeepsAChannelAndMovesTheVolumeWhileDragging) {
  FakePlatform fake;
  audio_channel_left = 1;
  audio_channel_right = 1;
  audio_volume = 40;
  int shown = 0;
  CAudioConfigDlg dlg([&shown] { ++shown; });
  EXPECT_EQ(dlg.windowTitle(), " Audio Configuration ");
  auto* left = dlg.findChild<QCheckBox*>("c1012");
  auto* right = dlg.findChild<QCheckBox*>("c1013");
  right->click();
  EXPECT_EQ(audio_channel_right.load(), 0);
  left->click();  // both would be clear: right comes back
  EXPECT_FALSE(left->isChecked());
  EXPECT_TRUE(right->isChecked());
  EXPECT_EQ(audio_channel_left.load(), 0);
  EXPECT_EQ(audio_channel_right.load(), 1);
  auto* slider = dlg.findChild<QSlider*>("c1016");
  EXPECT_EQ(slider->value(), 40);
  EXPECT_EQ(slider->pageStep(), 5);
  // Dragging: the volume and the main window's slider follow each move.
  slider->setSliderDown(true);
  slider->setSliderPosition(55);
  EXPECT_EQ(audio_volume.load(), 55);
  EXPECT_EQ(shown, 1);
  slider->setSliderPosition(60);
  EXPECT_EQ(audio_volume.load(), 60);
  EXPECT_EQ(shown, 2);
  slider->setSliderDown(false);
  QTest::mouseClick(dlg.findChild<QWidget*>("c1015"), Qt::LeftButton);
  EXPECT_EQ(fake.help.pages, std::vector<std::string>{"help.chm::/htm/chap03-3.htm"});
  audio_channel_left = 1;
}

TEST(AudioAboutBox, NamesTheWindowAndLinksTheLocalHelp) {
  FakePlatform fake;
  CAudioAboutDlg about;
  EXPECT_EQ(about.windowTitle(), "   About Quarvel MPEG Audio Player + Editor ");
  EXPECT_TRUE(about.findChild<QLabel*>("c1011")->text().startsWith("MPEG Audio Player + Editor "));
  EXPECT_NE(about.findChild<QLabel*>("c1185"), nullptr);
}

}  // namespace

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

#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "ui/audio/lyrics_editor_dlg.h"

namespace {

TEST(LyricsEditorWindow, AddsLinesAndRefusesBadTimes) {
  FakePlatform fake;
  auto* dlg = new CLyricsEditorDlg(std::string(), fake.paths.temp, 0);
  dlg->setAttribute(Qt::WA_DeleteOnClose, false);
  auto* time = dlg->findChild<QLineEdit*>("c1165");
  auto* text = dlg->findChild<QLineEdit*>("c1164");
  auto* list = dlg->findChild<QTreeWidget*>("c1159");
  EXPECT_FALSE(dlg->findChild<QPushButton*>("save")->isEnabled());
  time->setText("1:05");
  text->setText("hello");
  dlg->findChild<QPushButton*>("add")->click();
  text->setText("next");
  dlg->findChild<QPushButton*>("add")->click();
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(1)->text(0), "1:08");
  EXPECT_TRUE(dlg->findChild<QPushButton*>("save")->isEnabled());
  list->setCurrentItem(list->topLevelItem(0));
  time->setText("1:75");
  dlg->findChild<QPushButton*>("replace")->click();
  EXPECT_EQ(fake.prompter.last_text(), "<1:75>: NOT a valid time entry");
  EXPECT_EQ(list->topLevelItem(0)->text(0), "1:05");
  // Closing with changes asks; No keeps the editor.
  fake.prompter.answers = {PromptAnswer::No};
  EXPECT_FALSE(dlg->close());
  EXPECT_EQ(fake.prompter.last_text(), "  Discard the change?  ");
  delete dlg;
}

}  // namespace

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QSlider>
#include <QToolButton>
#include <QTreeWidget>

#include "tests/app/audio/fake_track.h"
#include "ui/audio/audio_editor_dlg.h"

namespace {

struct AudioWindowTest : ::testing::Test {
  FakePlatform fake;
  FakeFiles files;
  void SetUp() override {
    audio_volume = 40;
    audio_channel_left = 1;
    audio_channel_right = 1;
    FakeTrackSpec s;
    files.files["/m/a.mp2"] = s;
  }
};

TEST_F(AudioWindowTest, PicturesAndEnablingFollowTheState) {
  CAudioEditorDlg w(files.deps(&fake.clock));
  EXPECT_TRUE(w.windowTitle().contains("MPEG Audio Player + Editor"));
  EXPECT_EQ(w.parent(), nullptr);
  // Empty list: nothing to play, save or remove; help instead of the editor.
  EXPECT_EQ(w.icon_name(1212), "play_no");
  EXPECT_FALSE(w.button(1212)->isEnabled());
  EXPECT_EQ(w.icon_name(1205), "save_no");
  EXPECT_EQ(w.icon_name(1200), "cut_no");
  EXPECT_EQ(w.icon_name(1206), "sel_all_no");
  EXPECT_EQ(w.icon_name(1202), "lst_help");
  EXPECT_EQ(w.icon_name(1204), "loop_all");
  w.button(1202)->click();
  EXPECT_EQ(fake.help.pages, std::vector<std::string>{"help.chm::/htm/chap05-1.htm"});

  w.OpenTrack("/m/a.mp2");
  EXPECT_EQ(w.findChild<QTreeWidget*>("c1199")->topLevelItemCount(), 1);
  EXPECT_EQ(w.findChild<QTreeWidget*>("c1199")->topLevelItem(0)->text(0), "[0:10]  a.mp2");
  EXPECT_EQ(w.icon_name(1212), "stop");
  EXPECT_EQ(w.icon_name(1205), "save");
  EXPECT_EQ(w.icon_name(1202), "ed_rec");
  w.button(1212)->click();
  EXPECT_EQ(w.icon_name(1212), "play");
  w.button(1204)->click();
  EXPECT_EQ(w.icon_name(1204), "loop_rnd");

  // The editor layout: its panel shows; marks, Insert and Save are there at
  // once, the edits once they can act.
  QWidget* panel = w.findChild<QWidget*>("editor_panel");
  w.show();
  // Play/Stop has the keyboard first.
  EXPECT_EQ(w.focusWidget(), w.button(1212)) << (w.focusWidget() ? w.focusWidget()->objectName().toStdString() : "none");
  EXPECT_FALSE(panel->isVisible());
  w.button(1202)->click();
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(w.windowTitle(), " Quarvel MPEG Audio Editor ");
  EXPECT_EQ(w.player().loop(), LoopMode::One);
  for (int id : {1197, 1196, 1189, 1190, 1191}) EXPECT_FALSE(w.button(id)->isEnabled()) << id;
  for (int id : {1193, 1194, 1192, 1195}) EXPECT_TRUE(w.button(id)->isEnabled()) << id;
  EXPECT_EQ(w.icon_name(1189), "ed_cut_no");
  w.button(1188)->click();
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(w.windowTitle(), " Quarvel MPEG Audio Player ");
  EXPECT_EQ(w.player().loop(), LoopMode::Random);
}

TEST_F(AudioWindowTest, VolumeSliderShowsEightyLessTheVolume) {
  CAudioEditorDlg w(files.deps(&fake.clock));
  auto* slider = w.findChild<QSlider*>("c1237");
  EXPECT_EQ(slider->value(), 40);
  audio_volume = 40;
  w.player().SetVolume(20);
  EXPECT_EQ(slider->value(), 60);
  slider->setValue(10);
  EXPECT_EQ(w.player().volume(), 70);
  EXPECT_EQ(audio_volume.load(), 70);
  EXPECT_EQ(slider->maximum(), 80);
  EXPECT_EQ(slider->pageStep(), 10);
}

TEST_F(AudioWindowTest, ClearingBothChannelBoxesKeepsOne) {
  CAudioEditorDlg w(files.deps(&fake.clock));
  auto* left = w.findChild<QCheckBox*>("c1186");
  auto* right = w.findChild<QCheckBox*>("c1187");
  right->click();
  EXPECT_FALSE(right->isChecked());
  left->click();
  EXPECT_FALSE(left->isChecked());
  EXPECT_TRUE(right->isChecked());
}

TEST_F(AudioWindowTest, ClosingCallsTheCloseCallbackOnce) {
  auto* w = new CAudioEditorDlg(files.deps(&fake.clock));
  w->setAttribute(Qt::WA_DeleteOnClose, false);
  int closed = 0;
  w->SetCloseCallback([&closed] { ++closed; });
  w->show();
  w->OpenTrack("/m/a.mp2");
  w->close();
  w->close();
  EXPECT_EQ(closed, 1);
  EXPECT_FALSE(w->player().has_track());
  delete w;
}

}  // namespace

#include <QImage>
#include <QPushButton>
#include <fstream>

#include "ui/audio/equalizer_dlg.h"

namespace {

TEST(EqualizerWindow, GraphColumnsStandAtTheirPlaceAndHeight) {
  FakePlatform fake;
  GainSet g;
  g.fill(12);
  g[5] = 24;
  g[32 + 7] = 0;
  auto* dlg = new CEqualizerDlg(g, 12);
  dlg->setAttribute(Qt::WA_DeleteOnClose, false);
  dlg->resize(500, 420);
  dlg->show();
  const QImage img = dlg->graph_widget()->grab().toImage();
  const EqualizerGraph geo = dlg->graph();
  auto yellow = [&img](int x, int y) { return img.pixelColor(x, y) == QColor(255, 255, 0); };
  // Band 6 of the left graph: full height; band 8 of the right: nothing.
  const int x6 = geo.column_x(5), x8 = geo.column_x(7);
  EXPECT_TRUE(yellow(x6, geo.left_base - geo.bar(24) + 1));
  EXPECT_FALSE(yellow(x6, geo.left_base - geo.bar(24) - 3));
  EXPECT_TRUE(yellow(geo.column_x(0), geo.left_base - geo.bar(12) + 1));
  EXPECT_FALSE(yellow(geo.column_x(0), geo.left_base - geo.bar(12) - 3));
  EXPECT_FALSE(yellow(x8, geo.right_base - 3));
  // OK with changed gains hands them back once.
  std::vector<int> events;
  dlg->model().on_event = [&events](const GainSet&, int, int e) { events.push_back(e); };
  dlg->findChild<QSlider*>("c1121")->setValue(20);
  dlg->findChild<QPushButton*>("c1")->click();
  dlg->close();
  EXPECT_EQ(events, std::vector<int>{0});
  EXPECT_EQ(dlg->model().gains()[0], 20);
  delete dlg;
  // The list of filter files is written when the window goes.
  EXPECT_TRUE(std::ifstream(fake.paths.config_folder() + "/equalize.cfg").good());
}

}  // namespace

// The Stream Info window offscreen: its caption and lines over a real
// movie, edits read back in the form shown, list mode, and the Video Clip
// List's "Info" moving the list's selection to the clip chosen there.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include "app/shell/editor_settings.h"
#include "engine/clips/clip_verify.h"
#include "platform/fakes.h"
#include "support.h"
#include "ui/tools/clip_list_dialog.h"
#include "ui/tools/stream_info_dialog.h"

namespace {

EClip project_of(std::initializer_list<const char*> names) {
  EClip p;
  for (const char* n : names)
    if (auto c = clip_ctor(tsupport::fixture(n).c_str(), 0, 0, 0, 0)) p.clips.push_back(*c);
  return p;
}

TEST(StreamInfoDialog, ShowsTheClipAndReadsTheEditsInTheirForm) {
  TSUPPORT_NEED_FIXTURES("cv_dvd_2a.vob");
  FakePlatform fake;
  CStreamInfoDlg model(project_of({"cv_dvd_2a.vob"}));
  ASSERT_EQ(model.clip_count(), 1);
  model.frame_rate = 25.0;
  model.values[CStreamInfoDlg::kStart] = 1.0;
  StreamInfoDialog d(&model);
  EXPECT_EQ(d.windowTitle(), QStringLiteral("  MPEG Stream Info "));
  EXPECT_FALSE(d.findChild<QComboBox*>("clips")->isEnabled());
  EXPECT_EQ(d.findChild<QGroupBox*>("clip_box")->title(),
            QStringLiteral("Stream Info:  clip 1/1 (MPEG-2 Program Stream)"));
  EXPECT_EQ(d.findChild<QGroupBox*>("audio_box")->title(), QStringLiteral("Audio (2)"));
  EXPECT_TRUE(d.findChild<QComboBox*>("audio")->isEnabled());
  EXPECT_FALSE(d.findChild<QComboBox*>("video")->isEnabled());
  auto* start = d.findChild<QLineEdit*>("start");
  EXPECT_EQ(start->text(), QStringLiteral("1:00"));
  start->setText(QStringLiteral("2:05"));
  EXPECT_NEAR(model.values[CStreamInfoDlg::kStart], 2.2, 1e-9);
  // Frames: the edits are refilled, and typed frame numbers read as such.
  d.findChild<QRadioButton*>("frame")->click();
  EXPECT_EQ(start->text(), QStringLiteral("55"));
  start->setText(QStringLiteral("1,250"));
  EXPECT_NEAR(model.values[CStreamInfoDlg::kStart], 50.0, 1e-9);
  start->setText(QStringLiteral("12:x"));
  EXPECT_NEAR(model.values[CStreamInfoDlg::kStart], 50.0, 1e-9);
  EXPECT_EQ(model.time_format, 0);
}

TEST(StreamInfoDialog, ClipListInfoOpensInListModeAndSelectsTheChosenClip) {
  TSUPPORT_NEED_FIXTURES("cv_vcd.mpg", "cv_es.m2v");
  FakePlatform fake;
  editor_settings() = EditorSettings();
  editor_settings().program_folder = tsupport::test_dir();
  ClipListDialog list([](const EClip&) {}, [] {});
  ASSERT_TRUE(list.add_clip_file(tsupport::fixture("cv_vcd.mpg"), false, -1));
  ASSERT_TRUE(list.add_clip_file(tsupport::fixture("cv_es.m2v"), false, -1));
  list.select_row(0);
  auto* info = list.findChild<QPushButton*>("Info");
  ASSERT_NE(info, nullptr);
  ASSERT_TRUE(info->isEnabled());
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    seen = d->windowTitle() == QStringLiteral("  MPEG Stream Info ");
    EXPECT_FALSE(d->findChild<QLineEdit*>("start")->isEnabled());
    EXPECT_FALSE(d->findChild<QRadioButton*>("timecode")->isEnabled());
    auto* clips = d->findChild<QComboBox*>("clips");
    EXPECT_TRUE(clips->isEnabled());
    EXPECT_EQ(clips->currentIndex(), 0);
    clips->setCurrentIndex(1);
    emit clips->activated(1);
    EXPECT_EQ(d->findChild<QGroupBox*>("clip_box")->title(),
              QStringLiteral("Stream Info:  clip 2/2 (MPEG-2 Video Stream)"));
    d->findChild<QPushButton*>("ok")->click();
  });
  info->click();
  EXPECT_TRUE(seen);
  EXPECT_EQ(list.model().selected, 1);
  editor_settings() = EditorSettings();
}

}  // namespace

// The Multiplexer window offscreen: caption, controls per state and the
// inputs locked while its job runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/shell/editor_settings.h"
#include "platform/fakes.h"
#include "named_child.h"
#include "support.h"
#include "ui/tools/mux_dialog.h"

namespace {

using namespace tsupport;

TEST(MuxDialog, StatesAndLockedInputsDuringTheJob) {
  TSUPPORT_NEED_FIXTURES("pm_m2.m2v", "pm_a48.mp2");
  FakePlatform fake;
  editor_settings() = EditorSettings();
  editor_settings().muxer_type = 3;
  fake.disk.volume_list = {{"/", 1e12}};
  bool closed = false;
  auto* d = new MuxDialog([&] { closed = true; });
  d->show();
  EXPECT_EQ(d->windowTitle(), QStringLiteral("  MPEG Multiplexer"));
  EXPECT_FALSE(child<QPushButton>(d, "save")->isEnabled());
  EXPECT_FALSE(child<QPushButton>(d, "select_pid")->isEnabled());
  EXPECT_TRUE(child<QRadioButton>(d, "radio_2")->isChecked());
  EXPECT_TRUE(child<QCheckBox>(d, "minimize")->isEnabled());
  EXPECT_FALSE(child<QPushButton>(d, "av_sync")->isEnabled());
  EXPECT_GE(child<QComboBox>(d, "disk_space")->count(), 1);

  // Minimize Size on a program stream: the caution, once its box says so.
  bool caution = false;
  QTimer::singleShot(0, [&] {
    auto* c = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(c, nullptr);
    caution = c->windowTitle() == QStringLiteral("  Caution for compatibility");
    c->findChild<QCheckBox*>("c_dont_show")->setChecked(true);
    c->findChild<QPushButton*>("c1")->click();
  });
  QTest::mouseClick(child<QCheckBox>(d, "minimize"), Qt::LeftButton);
  EXPECT_TRUE(caution);
  EXPECT_EQ(editor_settings().show_min_size_info, 0);
  EXPECT_EQ(editor_settings().select_min_size, 1);
  QTest::mouseClick(child<QCheckBox>(d, "minimize"), Qt::LeftButton);
  EXPECT_EQ(editor_settings().select_min_size, 0);

  const std::string video = test_dir() + "/v.m2v";
  std::filesystem::copy_file(fixture("pm_m2.m2v"), video);
  fake.dialogs.push_path(video);
  QTest::mouseClick(child<QPushButton>(d, "video_browse"), Qt::LeftButton);
  fake.dialogs.push_path(fixture("pm_a48.mp2"));
  QTest::mouseClick(child<QPushButton>(d, "audio_browse"), Qt::LeftButton);
  EXPECT_EQ(child<QComboBox>(d, "audio_input")->count(), 1);
  EXPECT_EQ(child<QLineEdit>(d, "output")->text().toStdString(), test_dir() + "/v.mpg");
  ASSERT_TRUE(child<QPushButton>(d, "save")->isEnabled());
  EXPECT_TRUE(child<QPushButton>(d, "av_sync")->isEnabled());
  QTest::mouseClick(child<QRadioButton>(d, "radio_4"), Qt::LeftButton);
  EXPECT_TRUE(child<QPushButton>(d, "select_pid")->isEnabled());
  EXPECT_FALSE(child<QCheckBox>(d, "minimize")->isEnabled());

  QTest::mouseClick(child<QPushButton>(d, "save"), Qt::LeftButton);
  ASSERT_TRUE(d->is_busy());
  for (const char* off :
       {"video_browse", "audio_browse", "output_browse", "reset", "save", "close", "select_pid", "av_sync"})
    EXPECT_FALSE(child<QPushButton>(d, off)->isEnabled()) << off;
  EXPECT_FALSE(child<QLineEdit>(d, "video_input")->isEnabled());
  while (d->is_busy()) {
    d->tick();
    QTest::qWait(2);
  }
  EXPECT_TRUE(std::filesystem::file_size(test_dir() + "/v.mpg") > 0);
  // Reset after success.
  EXPECT_TRUE(child<QLineEdit>(d, "video_input")->text().isEmpty());
  EXPECT_EQ(child<QComboBox>(d, "audio_input")->count(), 0);
  d->close();
  EXPECT_TRUE(closed);
  EXPECT_EQ(editor_settings().muxer_type, 4);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  editor_settings() = EditorSettings();
}

}  // namespace

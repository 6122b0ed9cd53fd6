// The DeMultiplexer window offscreen (caption, controls per state, inputs
// locked during its job, a confirmed Close that waits for the job) and the
// MBS Scan window made by its command.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "app/shell/command_ids.h"
#include "app/shell/editor_app.h"
#include "app/shell/editor_settings.h"
#include "fake_editor.h"
#include "platform/fakes.h"
#include "named_child.h"
#include "support.h"
#include "ui/tools/demux_dialog.h"
#include "ui/tools/mbs_scan_dialog.h"
#include "ui/tools/tool_windows.h"

namespace {

using namespace tsupport;

TEST(DemuxDialog, StatesAndCloseDuringAJob) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob");
  FakePlatform fake;
  editor_settings() = EditorSettings();
  bool closed = false;
  auto* d = new DemuxDialog([&] { closed = true; });
  d->show();
  EXPECT_EQ(d->windowTitle(), QStringLiteral("  MPEG DeMultiplexer"));
  for (const char* off : {"video_browse", "audio_browse", "save", "more"})
    EXPECT_FALSE(child<QPushButton>(d, off)->isEnabled()) << off;

  const std::string in = test_dir() + "/d.vob";
  std::filesystem::copy_file(fixture("cv_dvd.vob"), in);
  ASSERT_TRUE(d->load_input(in));
  EXPECT_EQ(child<QLineEdit>(d, "format")->text(), QStringLiteral("MPEG-2 Program"));
  EXPECT_EQ(child<QComboBox>(d, "video_streams")->itemText(0), QStringLiteral("224"));
  EXPECT_TRUE(child<QPushButton>(d, "save")->isEnabled());
  EXPECT_FALSE(child<QLineEdit>(d, "video_output")->text().isEmpty());

  QTest::mouseClick(child<QPushButton>(d, "save"), Qt::LeftButton);
  ASSERT_TRUE(d->is_busy());
  d->model().job().control().pause();
  for (const char* off : {"input_browse", "video_browse", "audio_browse", "save", "close"})
    EXPECT_FALSE(child<QPushButton>(d, off)->isEnabled()) << off;
  EXPECT_FALSE(child<QComboBox>(d, "audio_streams")->isEnabled());

  fake.prompter.answers = {PromptAnswer::Ok};
  d->close();
  EXPECT_FALSE(closed);  // not before the job has ended
  for (int i = 0; i < 2000 && !closed; ++i) {
    d->tick();
    QTest::qWait(2);
  }
  EXPECT_TRUE(closed);
  EXPECT_EQ(ToolJob::live_count(), 0);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  editor_settings() = EditorSettings();
}

}  // namespace


namespace {

// The MBS Scan command makes its window (one while none is open); a
// ".mbs" input is refused and Cancel closes it.
TEST(MbsScanDialog, OpensFromTheCommandAndRefusesSegmentLists) {
  FakePlatform fake;
  editor_settings() = EditorSettings();
  std::vector<FakeEditor*> made;
  CEditorApp app(fake_editor_factory(&made));
  QWidget owner;
  register_tool_windows(&app, &owner);
  EXPECT_TRUE(app.mbs_scans().enabled());
  app.open_mbs_scan("");
  ASSERT_EQ(app.mbs_scans().count(), 1);
  auto* d = dynamic_cast<MbsScanDialog*>(app.mbs_scans().windows()[0]);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->windowTitle(), QStringLiteral("scan"));
  EXPECT_FALSE(child<QPushButton>(d, "scan")->isEnabled());
  EXPECT_FALSE(child<QPushButton>(d, "stop")->isEnabled());
  EXPECT_FALSE(d->set_input(test_dir() + "/x.mbs"));
  QTest::mouseClick(child<QPushButton>(d, "cancel"), Qt::LeftButton);
  EXPECT_EQ(app.mbs_scans().count(), 0);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  editor_settings() = EditorSettings();
}

}  // namespace

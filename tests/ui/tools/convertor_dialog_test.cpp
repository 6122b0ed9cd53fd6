// The convertor window offscreen: its caption and controls per state, the
// inputs locked while its job runs, F4 opening it through the registry,
// and a conversion driven through its buttons.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include "app/shell/command_ids.h"
#include "app/shell/editor_app.h"
#include "app/shell/editor_settings.h"
#include "fake_editor.h"
#include "platform/fakes.h"
#include "named_child.h"
#include "support.h"
#include "ui/tools/convertor_dialog.h"
#include "ui/tools/tool_windows.h"

namespace {

using namespace tsupport;

TEST(ConvertorDialog, ControlsPerStateAndAConversionThroughTheButtons) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob");
  FakePlatform fake;
  editor_settings() = EditorSettings();
  editor_settings().muxer_type = 3;
  bool closed = false;
  auto* d = new ConvertorDialog([&] { closed = true; });
  d->show();
  EXPECT_EQ(d->windowTitle(), QStringLiteral("  MPEG Systems Stream Convertor"));
  EXPECT_FALSE(child<QPushButton>(d, "add")->isEnabled());
  EXPECT_FALSE(child<QPushButton>(d, "convert")->isEnabled());
  EXPECT_FALSE(child<QPushButton>(d, "select_pid")->isVisible());  // format 3
  EXPECT_TRUE(child<QRadioButton>(d, "format_3")->isChecked());

  ASSERT_TRUE(d->load_input(fixture("cv_dvd.vob")));
  EXPECT_TRUE(child<QPushButton>(d, "add")->isEnabled());
  EXPECT_EQ(child<QTreeWidget>(d, "input_list")->topLevelItemCount(), 2);
  QTest::mouseClick(child<QPushButton>(d, "all"), Qt::LeftButton);
  EXPECT_EQ(child<QTreeWidget>(d, "output_list")->topLevelItemCount(), 2);
  EXPECT_FALSE(child<QRadioButton>(d, "format_2")->isEnabled());  // MPEG-2 video: no Video CD
  QTest::mouseClick(child<QRadioButton>(d, "format_4"), Qt::LeftButton);
  EXPECT_TRUE(child<QPushButton>(d, "select_pid")->isVisible());
  EXPECT_EQ(child<QTreeWidget>(d, "output_list")->topLevelItem(0)->text(2), QStringLiteral("32"));

  const std::string out = test_dir() + "/dialog.ts";
  ASSERT_TRUE(d->set_output(out));
  ASSERT_TRUE(child<QPushButton>(d, "convert")->isEnabled());
  QTest::mouseClick(child<QPushButton>(d, "convert"), Qt::LeftButton);
  ASSERT_TRUE(d->is_busy());
  for (const char* locked : {"input_browse", "output_browse", "remove", "clear", "convert", "close"})
    EXPECT_FALSE(child<QPushButton>(d, locked)->isEnabled()) << locked;
  EXPECT_FALSE(child<QRadioButton>(d, "format_3")->isEnabled());
  // Close during the job is refused with a message.
  d->close();
  EXPECT_FALSE(closed);
  EXPECT_EQ(fake.prompter.last_text(), kPleaseStop);
  while (d->is_busy()) {
    d->tick();
    QTest::qWait(5);
  }
  EXPECT_TRUE(std::filesystem::file_size(out) > 0);
  EXPECT_TRUE(child<QLineEdit>(d, "output_file")->text().isEmpty());
  EXPECT_FALSE(child<QPushButton>(d, "convert")->isEnabled());
  EXPECT_TRUE(child<QPushButton>(d, "close")->isEnabled());
  d->close();
  EXPECT_TRUE(closed);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  editor_settings() = EditorSettings();
}

TEST(ConvertorDialog, FunctionKeyOpensItOnceThroughTheRegistry) {
  FakePlatform fake;
  editor_settings() = EditorSettings();
  std::vector<FakeEditor*> made;
  CEditorApp app(fake_editor_factory(&made));
  QWidget owner;
  register_tool_windows(&app, &owner);
  EXPECT_TRUE(app.tools().enabled(cmd::kStreamConvertor));
  ASSERT_TRUE(app.tools().run(cmd::kStreamConvertor));
  ToolWindow* w = app.tools().window(cmd::kStreamConvertor);
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(app.tools().enabled(cmd::kStreamConvertor));
  auto* d = dynamic_cast<QWidget*>(w);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->windowTitle(), QStringLiteral("  MPEG Systems Stream Convertor"));
  // A second run closes it (no job).
  app.tools().run(cmd::kStreamConvertor);
  EXPECT_FALSE(app.tools().is_open(cmd::kStreamConvertor));
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  editor_settings() = EditorSettings();
}

}  // namespace

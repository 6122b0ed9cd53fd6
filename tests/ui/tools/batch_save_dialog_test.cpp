// The Batch Save Manager window offscreen: F5 opens it with the kept
// list, a batch locks the list's controls and shows its percentage, Close
// writes the list back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <atomic>
#include <fstream>
#include <thread>

#include "app/shell/command_ids.h"
#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/shell/kept_file.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "platform/fakes.h"
#include "named_child.h"
#include "support.h"
#include "ui/shell/main_window.h"
#include "ui/tools/batch_save_dialog.h"
#include "ui/tools/tool_windows.h"

namespace {

using namespace tsupport;

TEST(BatchSaveDialog, F5ShowsTheKeptListAndCloseWritesItBack) {
  FakePlatform fp;
  editor_settings() = EditorSettings();
  const std::string dir = test_dir();
  const std::string cfg = dir + "/BatchSav.cfg";
  ASSERT_TRUE(write_kept_file(cfg, "BatchInitSelect: 1\nBatchSave:\n    /p/a.rec\n    /o/a.mpg\n    2.25\n"
                                   "BatchSave:\n    /p/b.rec\n    /o/b.mpg\n    1\n"));
  CEditorApp app(&MpegEditorAdapter::open);
  app.init_instance();
  editor_settings().program_folder = dir;
  {
    MainWindow main(&app);
    register_tool_windows(&app, &main);
    main.show();
    ASSERT_TRUE(main.run_command(cmd::kBatchSave));
    auto* d = dynamic_cast<BatchSaveDialog*>(app.tools().window(cmd::kBatchSave));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->windowTitle(), QStringLiteral(" MPEG-Tamsel Batch Save Manager "));
    auto* list = child<QTreeWidget>(d, "list");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(2), QStringLiteral(" 2.2 MB"));
    EXPECT_EQ(child<QLineEdit>(d, "input")->text(), QStringLiteral("/p/b.rec"));
    EXPECT_FALSE(child<QProgressBar>(d, "progress")->isVisible());
    EXPECT_FALSE(child<QPushButton>(d, "add")->isEnabled());
    // Help opens the manager's own page, which is installed with the program.
    child<QPushButton>(d, "help")->click();
    EXPECT_EQ(fp.help.pages, std::vector<std::string>{kBatchHelp});
    const std::string page = help_page_file(source_dir() + "/ui", kBatchHelp);
    EXPECT_TRUE(std::ifstream(page).good()) << page;
    child<QPushButton>(d, "close")->click();
    QApplication::processEvents();
    EXPECT_FALSE(app.tools().is_open(cmd::kBatchSave));
    main.close();
  }
  std::string text;
  ASSERT_TRUE(read_kept_file(cfg, &text));
  EXPECT_EQ(text.rfind("//\n// multiple save project batch job\n//\nBatchWindow: ", 0), 0u) << text;
  EXPECT_NE(text.find("BatchInitSelect: 1\n"), std::string::npos);
  EXPECT_NE(text.find("    /p/b.rec\n    /o/b.mpg\n    1.000\n//\n// total: 2\n//\n"), std::string::npos) << text;
  editor_settings() = EditorSettings();
}

TEST(BatchSaveDialog, ABatchLocksTheListAndShowsItsPercentage) {
  FakePlatform fp;
  editor_settings() = EditorSettings();
  std::atomic<bool> release{false};
  auto* d = new BatchSaveDialog(
      [] {}, nullptr,
      [](const std::string& p, EditorRecordData* r) {
        r->second_file_name = p + ".mpg";
        return true;
      },
      [&](const EditorRecordData&, std::string*) -> ToolJob::Work {
        return [&](JobControl& c) {
          c.set_progress(40);
          while (!release) std::this_thread::yield();
          c.set_progress(100);
          c.finish(JobOutcome::done);
        };
      });
  d->show();
  const std::string dir = test_dir();
  ASSERT_TRUE(d->model().add_row(dir + "/a.rec", dir + "/a.mpg", 1, true));
  d->refresh();
  child<QPushButton>(d, "save_all")->click();
  ASSERT_TRUE(d->is_busy());
  for (int i = 0; i < 2000 && d->model().percent() < 40; ++i) {
    d->tick();
    std::this_thread::yield();
  }
  EXPECT_EQ(child<QLabel>(d, "percent")->text(), QStringLiteral("40%"));
  EXPECT_TRUE(child<QProgressBar>(d, "progress")->isVisible());
  EXPECT_EQ(child<QPushButton>(d, "save_all")->text(), QStringLiteral("Stop"));
  EXPECT_FALSE(child<QPushButton>(d, "save_one")->isEnabled());
  for (const char* name : {"input", "output", "input_browse", "output_browse", "add", "update", "delete", "encoders",
                           "cancel", "close", "load_list", "save_list", "help", "clear_list"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(child<QWidget>(d, name)->isEnabled());
  }
  release = true;
  for (int i = 0; i < 200000 && d->is_busy(); ++i) d->tick();
  d->tick();
  EXPECT_FALSE(d->is_busy());
  EXPECT_EQ(child<QPushButton>(d, "save_all")->text(), QStringLiteral("Save All"));
  EXPECT_FALSE(child<QProgressBar>(d, "progress")->isVisible());
  EXPECT_TRUE(child<QPushButton>(d, "close")->isEnabled());
  d->model().stop_and_join();
  delete d;
}

}  // namespace

// The Video Clipboard window over fake editors: copies from editor
// windows, rows opened by a drop on the main window, the report's
// highlight, the Delete key and the list written at the close check.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <QTreeView>
#include <cstdio>

#include "app/shell/clip_drag.h"
#include "app/shell/clipboard_model.h"
#include "app/shell/editor_settings.h"
#include "fake_editor.h"
#include "platform/fakes.h"
#include "support.h"
#include "ui/shell/clipboard_window.h"
#include "ui/shell/main_window.h"

namespace {

class ClipboardWindowTest : public ::testing::Test {
 protected:
  ClipboardWindowTest() : app_(fake_editor_factory(&made_)), board_(fake_clip_factory()) {
    editor_settings() = EditorSettings();
    app_.init_instance();
    editor_settings().program_folder = tsupport::test_dir();
    app_.set_clip_factory(fake_clip_factory(&made_));
    board_.set_scheduler([](EClip clip, std::function<void(DrawnThumbnail)> done) {
      done(draw_clip_thumbnail(clip, fake_clip_factory()));
    });
    main_ = std::make_unique<MainWindow>(&app_);
    main_->resize(900, 700);
    window_ = install_clipboard(&app_, main_.get(), &board_);
    main_->show();
  }
  ~ClipboardWindowTest() override {
    main_->close();
    main_.reset();
    editor_settings() = EditorSettings();
  }
  // Copies frames [start, start + count) of a new editor window of movie.
  void copy(const std::string& name, int start, int count) {
    const std::string path = tsupport::test_dir() + "/" + name;
    ASSERT_TRUE(write_fake_movie(path, 60, 160, 120));
    ASSERT_EQ(app_.open_input_file(path, 0, 0, 0), 1);
    EditorEntry* e = nullptr;
    for (int i = 0; i < CEditorApp::kEditorCapacity; ++i)
      if (app_.entry(i)) e = app_.entry(i);
    e->kind = EditorEntry::kCopy;
    e->start_frame = start;
    e->frame_count = count;
    app_.editor_callback(e);
  }
  int editor_windows() const { return app_.editor_count(); }

  FakePlatform fp_;
  std::vector<FakeEditor*> made_;
  CEditorApp app_;
  VideoClipboard board_;
  std::unique_ptr<MainWindow> main_;
  ClipboardWindow* window_ = nullptr;
};

TEST_F(ClipboardWindowTest, CopiesBecomeRowsThatADropOnTheMainWindowOpens) {
  copy("a.mpg", 10, 20);
  copy("b.mpg", 0, 5);
  ASSERT_EQ(board_.count(), 2);
  EXPECT_EQ(window_->item_model()->rowCount(), 2);
  EXPECT_TRUE(window_->item_model()->index(1, 0).data().toString().endsWith(QStringLiteral(" clip")));
  const int before = editor_windows();
  EXPECT_TRUE(main_->drop_clip(encode_clip_drag(make_clip_drag(window_->view_id(), 0)), QPoint(200, 100)));
  EXPECT_EQ(editor_windows(), before + 1);
  // A row that is not there, or another list's, opens nothing.
  EXPECT_FALSE(main_->drop_clip(encode_clip_drag(make_clip_drag(window_->view_id(), 2)), QPoint(5, 5)));
  EXPECT_FALSE(main_->drop_clip(encode_clip_drag(make_clip_drag(window_->view_id() + 1, 0)), QPoint(5, 5)));
  EXPECT_EQ(editor_windows(), before + 1);
}

TEST_F(ClipboardWindowTest, AClipThatCannotOpenLosesItsRowUndoablyAndSaysWhy) {
  copy("a.mpg", 0, 10);
  copy("gone.mpg", 0, 10);
  copy("c.mpg", 0, 10);
  std::remove((tsupport::test_dir() + "/gone.mpg").c_str());
  board_.select(2);  // the selection is elsewhere
  window_->open_row(1);
  ASSERT_EQ(board_.count(), 2);
  EXPECT_EQ(board_.row(1)->text.substr(0, 1), "#");
  EXPECT_NE(fp_.prompter.last_text().find("gone.mpg>: cannot open to read\n"), std::string::npos)
      << fp_.prompter.last_text();
  board_.undo_delete();
  EXPECT_EQ(board_.count(), 3);
}

TEST_F(ClipboardWindowTest, DeleteKeyDeletesAndADotDoesNot) {
  copy("a.mpg", 0, 10);
  copy("b.mpg", 0, 10);
  QTest::keyClick(window_, Qt::Key_Period);
  EXPECT_EQ(board_.count(), 2);
  QTest::keyClick(window_, Qt::Key_Delete);
  EXPECT_EQ(board_.count(), 1);
  main_->run_command(32782);  // Ctrl+Z
  EXPECT_EQ(board_.count(), 2);
}

TEST_F(ClipboardWindowTest, TheSelectedReportRowIsHighlightedToTheClientEdge) {
  copy("a.mpg", 0, 10);
  copy("b.mpg", 0, 10);
  window_->show_report();
  QMdiSubWindow* sub = nullptr;
  for (QMdiSubWindow* s : main_->mdi_area()->subWindowList())
    if (s->widget() == window_) sub = s;
  ASSERT_NE(sub, nullptr);
  sub->resize(600, 200);
  board_.select(0);
  QTreeView* report = window_->report_view();
  QApplication::processEvents();
  const QRect row = report->visualRect(window_->item_model()->index(0, 0));
  const QImage shot = report->viewport()->grab().toImage();
  const QColor highlight = report->palette().color(QPalette::Inactive, QPalette::Highlight);
  const QColor active = report->palette().color(QPalette::Active, QPalette::Highlight);
  const int y = row.center().y();
  for (int x : {report->header()->sectionPosition(1) - 3, report->header()->sectionPosition(1) + 3, report->header()->sectionPosition(2) + 3,
                shot.width() - 2}) {
    const QColor c = shot.pixelColor(x, y);
    EXPECT_TRUE(c == highlight || c == active) << x << " " << c.name().toStdString();
  }
  const QRect other = report->visualRect(window_->item_model()->index(1, 0));
  const QColor below = shot.pixelColor(shot.width() - 2, other.center().y());
  EXPECT_NE(below, active);
  EXPECT_NE(below, highlight);
}

TEST_F(ClipboardWindowTest, AnEmptyClipboardIsWrittenWithoutAWord) {
  EXPECT_TRUE(app_.confirm_close());
  EXPECT_TRUE(fp_.prompter.shown.empty()) << fp_.prompter.last_text();
  VideoClipboard next(fake_clip_factory());
  EXPECT_EQ(next.read_project_list(tsupport::test_dir() + "/mpeg-tamsel.vls", ""), 0);
}

TEST_F(ClipboardWindowTest, TheCloseCheckWritesTheListAndItsPictures) {
  copy("a.mpg", 0, 10);
  EXPECT_TRUE(app_.confirm_close());
  VideoClipboard next(fake_clip_factory());
  next.set_scheduler([](EClip, std::function<void(DrawnThumbnail)>) {});
  EXPECT_EQ(next.read_project_list(tsupport::test_dir() + "/mpeg-tamsel.vls",
                                   tsupport::test_dir() + "/mpeg-tamsel.bmp"),
            1);
  EXPECT_EQ(next.row(0)->thumbnail.rgb, board_.row(0)->thumbnail.rgb);
}

}  // namespace

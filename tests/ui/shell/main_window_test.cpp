// The main window over fake editors and fake dialogs: its title, editor
// windows that show their frame in the bitmap's own colours, Ctrl+O, the
// function keys, and closing.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <QTimer>

#include "app/shell/command_ids.h"
#include "app/shell/editor_settings.h"
#include "app/shell/program_title.h"
#include "fake_editor.h"
#include "platform/fakes.h"
#include "support.h"
#include "ui/editor/player_pane.h"
#include "ui/shell/dib_image.h"
#include "ui/shell/editor_window.h"
#include "ui/shell/function_keys.h"
#include "ui/shell/main_window.h"

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : app_(fake_editor_factory(&made_)) {
    editor_settings() = EditorSettings();
    app_.init_instance();
    main_ = std::make_unique<MainWindow>(&app_);
    main_->resize(900, 700);
    main_->show();
    QApplication::setActiveWindow(main_.get());
    EXPECT_TRUE(QTest::qWaitForWindowActive(main_.get()));
  }
  ~MainWindowTest() override {
    main_->close();
    main_.reset();
    editor_settings() = EditorSettings();
  }

  std::string movie(const std::string& name, int frames = 100, int width = 352, int height = 288) {
    const std::string path = tsupport::test_dir() + "/" + name;
    EXPECT_TRUE(write_fake_movie(path, frames, width, height));
    return path;
  }

  EditorWindow* active_editor() const {
    return qobject_cast<EditorWindow*>(main_->mdi_area()->activeSubWindow());
  }

  FakePlatform platform_;
  std::vector<FakeEditor*> made_;
  CEditorApp app_;
  std::unique_ptr<MainWindow> main_;
};

TEST_F(MainWindowTest, TitleNamesProgramAndActiveEditor) {
  const QString title = main_->windowTitle();
  EXPECT_TRUE(title.startsWith("MPEG-Tamsel ")) << title.toStdString();
  EXPECT_TRUE(title.contains(" (MPEG-2) (")) << title.toStdString();
  EXPECT_EQ(title.toStdString(), program_title());

  const std::string a = movie("first.mpg"), b = movie("second.mpg");
  ASSERT_EQ(app_.open_input_file(a, 0, 0, 0), 1);
  ASSERT_EQ(app_.open_input_file(b, 0, 0, 0), 1);
  EXPECT_EQ(main_->windowTitle().toStdString(), program_title() + " - " + b);
  ASSERT_NE(active_editor(), nullptr);
  EXPECT_EQ(active_editor()->windowTitle().toStdString(), b);
  // The new window is active and its picture has the focus.
  EXPECT_EQ(QApplication::focusWidget(), active_editor()->widget()->focusProxy());

  main_->mdi_area()->setActiveSubWindow(main_->editor_window(app_.entry(0)));
  EXPECT_EQ(main_->windowTitle().toStdString(), program_title() + " - " + a);
  main_->mdi_area()->closeAllSubWindows();
  EXPECT_EQ(app_.editor_count(), 0);
  EXPECT_EQ(main_->windowTitle().toStdString(), program_title());
}

TEST_F(MainWindowTest, CtrlOOpensTheChosenMovie) {
  const std::string path = movie("chosen.mpg");
  platform_.dialogs.push_path(path);
  QTest::keyClick(main_.get(), Qt::Key_O, Qt::ControlModifier);
  ASSERT_EQ(platform_.dialogs.requests.size(), 1u);
  EXPECT_EQ(platform_.dialogs.requests[0].title, "Open MPEG Movie");
  ASSERT_NE(active_editor(), nullptr);
  EXPECT_EQ(active_editor()->windowTitle().toStdString(), path);
  EXPECT_EQ(app_.editor_count(), 1);
  // The action carries the command's object name.
  EXPECT_NE(main_->findChild<QAction*>("a32780"), nullptr);
}

TEST_F(MainWindowTest, EditorWindowShowsItsFrame) {
  auto editor = std::make_unique<FakeEditor>(200, 352, 288);
  editor->current = 137;
  FakeEditor* fake = editor.get();
  ASSERT_EQ(app_.open_editor_window(std::move(editor), "frame 137", 0, 0), 1);
  auto* pane = qobject_cast<PlayerPane*>(active_editor()->widget());
  ASSERT_NE(pane, nullptr);
  QtPlayerView* view = pane->view();
  // The window is sized to the picture, so the view shows it 1:1.
  EXPECT_EQ(view->size(), QSize(352, 288));
  const QImage shot = view->grab().toImage();
  ASSERT_EQ(shot.size(), QSize(352, 288));
  int differ = 0;
  for (int y = 0; y < 288; y += 7)
    for (int x = 0; x < 352; x += 5) {
      const FakeRgb want = fake->rgb_at(x, y);
      const QColor got = shot.pixelColor(x, y);
      differ += got.red() != want.r || got.green() != want.g || got.blue() != want.b;
    }
  EXPECT_EQ(differ, 0);
  // The frame number is drawn in white at the top left (the stem of its
  // first digit, a 1, in cells of 8 pixels from (8, 8)).
  EXPECT_EQ(fake->rgb_at(20, 12), (FakeRgb{255, 255, 255}));
  EXPECT_EQ(shot.pixelColor(20, 12), QColor(255, 255, 255));
}

// File Information ('0'): the Stream Info window on the editor's list; a
// start typed there becomes the mark in after OK.
TEST_F(MainWindowTest, FileInformationKeyOpensStreamInfo) {
  ASSERT_EQ(app_.open_editor_window(std::make_unique<FakeEditor>(200, 352, 288), "info", 0, 0), 1);
  auto* pane = qobject_cast<PlayerPane*>(active_editor()->widget());
  ASSERT_NE(pane, nullptr);
  pane->model()->mark_in = 5;
  pane->model()->mark_out = 150;
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    seen = d->windowTitle() == QStringLiteral("  MPEG Stream Info ");
    auto* start = d->findChild<QLineEdit*>("start");
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->text(), QStringLiteral("0:05"));  // 5 frames at 25 a second
    start->setText(QStringLiteral("1:00"));
    d->accept();
  });
  QTest::keyClick(pane->view(), Qt::Key_0);
  EXPECT_TRUE(seen);
  EXPECT_EQ(pane->model()->mark_in, 25);
  EXPECT_EQ(pane->model()->mark_out, 150);
}

TEST_F(MainWindowTest, FunctionKeysReachTheToolsAndGoOn) {
  FunctionKeyFilter filter(main_.get());
  qApp->installEventFilter(&filter);
  struct Tool : ToolWindow {
    std::function<void()> closed;
    void close() override { closed(); }
  } tool;
  int opened = 0;
  app_.tools().add(
      cmd::kGopFixer,
      [&](std::function<void()> closed) -> ToolWindow* {
        ++opened;
        tool.closed = std::move(closed);
        return &tool;
      },
      ToolRerun::CloseUnlessBusy);
  ASSERT_EQ(app_.open_input_file(movie("a.mpg"), 0, 0, 0), 1);
  QWidget* view = active_editor()->widget()->focusProxy();
  ASSERT_EQ(QApplication::focusWidget(), view);
  // Counts the function keys that reach the view after the filter.
  struct Seen : QObject {
    int keys = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      keys += e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_F7;
      return false;
    }
  } seen;
  view->installEventFilter(&seen);

  QTest::keyClick(view, Qt::Key_F7);
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(seen.keys, 1);  // passed on
  EXPECT_TRUE(app_.tools().is_open(cmd::kGopFixer));
  QTest::keyClick(view, Qt::Key_F7);  // an idle tool closes
  EXPECT_FALSE(app_.tools().is_open(cmd::kGopFixer));
  QTest::keyClick(view, Qt::Key_F7, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
  EXPECT_EQ(opened, 1);
  QTest::keyClick(view, Qt::Key_F7, Qt::ControlModifier);
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(seen.keys, 4);
  view->removeEventFilter(&seen);
  qApp->removeEventFilter(&filter);
  app_.tools().close_all();  // before the tool goes
}

TEST_F(MainWindowTest, ClosingReleasesEditorsAndKeepsTheRectangle) {
  ASSERT_EQ(app_.open_input_file(movie("a.mpg"), 0, 0, 0), 1);
  ASSERT_EQ(app_.open_input_file(movie("b.mpg"), 0, 0, 0), 1);
  main_->setGeometry(40, 50, 800, 600);
  EXPECT_TRUE(main_->close());
  EXPECT_EQ(app_.editor_count(), 0);
  const EditorSettings& s = editor_settings();
  EXPECT_EQ(s.window_zoomed, 0);
  EXPECT_EQ(s.window_rect[0], 40);
  EXPECT_EQ(s.window_rect[1], 50);
  EXPECT_EQ(s.window_rect[2], 840);
  EXPECT_EQ(s.window_rect[3], 650);
}

TEST_F(MainWindowTest, ToolItemsFollowTheirRegistry) {
  main_->update_commands();
  auto* gop = main_->findChild<QAction*>("a32831");
  ASSERT_NE(gop, nullptr);
  EXPECT_FALSE(gop->isEnabled());  // no factory yet
  struct Tool : ToolWindow {
    std::function<void()> closed;
    void close() override { closed(); }
  } tool;
  app_.tools().add(
      cmd::kGopFixer,
      [&](std::function<void()> closed) -> ToolWindow* {
        tool.closed = std::move(closed);
        return &tool;
      },
      ToolRerun::CloseUnlessBusy);
  main_->update_commands();
  EXPECT_TRUE(gop->isEnabled());
  gop->trigger();
  main_->update_commands();
  EXPECT_FALSE(gop->isEnabled());  // open: disabled
  app_.tools().close_all();
}

// Every pixel of a bitmap at each depth comes out in the colour the bitmap
// holds, rows top-down.
TEST(DibImage, PixelsAreTheBitmapsColours) {
  for (int depth : {8, 16, 24}) {
    SCOPED_TRACE(depth);
    FakeEditor e(10, 101, 37);  // odd width: padded rows
    e.current = 5;
    e.depth = depth;
    const QImage image = dib_to_image(e.get_decoded_image_dib_header(), e.get_decoded_image_dib_data());
    ASSERT_EQ(image.size(), QSize(101, 37));
    int differ = 0;
    for (int y = 0; y < 37; ++y)
      for (int x = 0; x < 101; ++x) {
        const FakeRgb want = e.rgb_at(x, y);
        const QColor got = image.pixelColor(x, y);
        differ += got.red() != want.r || got.green() != want.g || got.blue() != want.b;
      }
    EXPECT_EQ(differ, 0);
  }
}

TEST(DibImage, RefusesWhatItCannotShow) {
  EXPECT_TRUE(dib_to_image(nullptr, nullptr).isNull());
  FakeEditor e(10, 64, 48);
  BitmapInfo info = *e.get_decoded_image_dib_header();
  info.header.biBitCount = 4;
  EXPECT_TRUE(dib_to_image(&info, e.get_decoded_image_dib_data()).isNull());
  info = *e.get_decoded_image_dib_header();
  info.header.biWidth = 0;
  EXPECT_TRUE(dib_to_image(&info, e.get_decoded_image_dib_data()).isNull());
  // Top-down rows (negative height) are taken as they come.
  info = *e.get_decoded_image_dib_header();
  info.header.biHeight = -48;
  const QImage flipped = dib_to_image(&info, e.get_decoded_image_dib_data());
  const FakeRgb bottom = e.rgb_at(0, 47);
  EXPECT_EQ(flipped.pixelColor(0, 0), QColor(bottom.r, bottom.g, bottom.b));
}

}  // namespace

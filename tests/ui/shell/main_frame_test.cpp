// The main frame's bars, volume slider, View toggles, drops of files and
// clips, the close check as the window runs it, the About box and its
// link.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMimeData>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <fstream>

#include "app/shell/clip_drag.h"
#include "app/shell/command_ids.h"
#include "app/shell/editor_settings.h"
#include "app/shell/program_title.h"
#include "fake_editor.h"
#include "platform/dsaudio.h"
#include "platform/fakes.h"
#include "platform/help.h"
#include "support.h"
#include "ui/shell/about_dialog.h"
#include "ui/shell/editor_view.h"
#include "ui/shell/editor_window.h"
#include "ui/shell/hyperlink_static.h"
#include "ui/shell/main_window.h"

namespace {

// An editor view whose save or trim job runs while the test says so.
class BusyView : public QWidget, public EditorView {
 public:
  bool busy = false;
  int playback_stops = 0;
  void detach_editor() override {}
  void stop_playback() override { ++playback_stops; }
  bool job_running() const override { return busy; }
};

class MainFrameTest : public ::testing::Test {
 protected:
  MainFrameTest() : app_(fake_editor_factory()) {
    editor_settings() = EditorSettings();
    audio_volume = 40;
    app_.init_instance();
    app_.set_input_probe(fake_input_probe());
    main_ = std::make_unique<MainWindow>(&app_);
    main_->resize(900, 700);
    main_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(main_.get()));
  }
  ~MainFrameTest() override {
    main_->close();
    main_.reset();
    editor_settings() = EditorSettings();
    audio_volume = 40;
  }
  std::string movie(const std::string& name) {
    const std::string path = tsupport::test_dir() + "/" + name;
    EXPECT_TRUE(write_fake_movie(path));
    return path;
  }
  QAction* action(int id) { return main_->findChild<QAction*>(QString::fromStdString(action_name(id))); }

  FakePlatform platform_;
  CEditorApp app_;
  std::unique_ptr<MainWindow> main_;
};

TEST_F(MainFrameTest, BarsAndStatusPanes) {
  const struct {
    QToolBar* bar;
    const char* title;
    Qt::ToolBarAreas areas;
  } bars[] = {
      {main_->main_bar(), "Main Control", Qt::TopToolBarArea},
      {main_->tools_bar(), "Tools Control", Qt::AllToolBarAreas},
      {main_->audio_bar(), "Audio Control", Qt::AllToolBarAreas},
  };
  int left = -1;
  for (const auto& b : bars) {
    SCOPED_TRACE(b.title);
    ASSERT_NE(b.bar, nullptr);
    EXPECT_EQ(b.bar->windowTitle(), b.title);
    EXPECT_EQ(b.bar->allowedAreas(), b.areas);
    EXPECT_EQ(main_->toolBarArea(b.bar), Qt::TopToolBarArea);
    EXPECT_TRUE(b.bar->isVisible());
    // Each bar docks to the right of the one before.
    EXPECT_GT(b.bar->x(), left);
    left = b.bar->x();
    for (QAction* a : b.bar->actions())
      if (!a->isSeparator() && !a->text().isEmpty()) {
        EXPECT_FALSE(a->toolTip().isEmpty());
        EXPECT_FALSE(a->statusTip().isEmpty());
        EXPECT_FALSE(a->icon().isNull()) << a->text().toStdString();
      }
  }
  // The volume slider is the audio bar's second place.
  const QList<QAction*> audio = main_->audio_bar()->actions();
  ASSERT_GE(audio.size(), 2);
  EXPECT_EQ(main_->audio_bar()->widgetForAction(audio[1]), main_->volume_slider());
  EXPECT_EQ(main_->findChild<QLabel*>("status_pane1")->width(), 8);
  EXPECT_EQ(main_->findChild<QLabel*>("status_pane2")->width(), 200);
  EXPECT_FALSE(main_->windowIcon().isNull());
}

TEST_F(MainFrameTest, VolumeSliderClampsAndFollowsTheVolume) {
  QSlider* s = main_->findChild<QSlider*>("c32774");
  ASSERT_EQ(s, main_->volume_slider());
  EXPECT_EQ(s->minimum(), 0);
  EXPECT_EQ(s->maximum(), 80);
  EXPECT_EQ(s->pageStep(), 10);
  EXPECT_EQ(s->tickInterval(), 10);
  EXPECT_EQ(s->value(), 40);  // the volume at start
  const struct {
    int in, shown;
  } cases[] = {{-5, 0}, {0, 0}, {33, 33}, {80, 80}, {81, 80}, {1000, 80}};
  for (const auto& c : cases) {
    main_->show_volume(c.in);
    EXPECT_EQ(s->value(), c.shown) << c.in;
    EXPECT_EQ(audio_volume.load(), c.shown) << c.in;
  }
  // Moving the slider sets the volume; the application shows a volume
  // set elsewhere.
  QTest::keyClick(s, Qt::Key_PageDown);
  EXPECT_EQ(audio_volume.load(), 70);
  audio_volume = 12;
  app_.UpdateVolumeSlider();
  EXPECT_EQ(s->value(), 12);
}

TEST_F(MainFrameTest, ViewTogglesShowAndHideTheBars) {
  const struct {
    int id;
    QWidget* bar;
  } toggles[] = {{cmd::kViewTools, main_->tools_bar()},
                 {cmd::kViewAudio, main_->audio_bar()},
                 {cmd::kViewToolbar, main_->main_bar()},
                 {cmd::kViewStatusBar, main_->statusBar()}};
  for (const auto& t : toggles) {
    SCOPED_TRACE(t.id);
    QAction* a = action(t.id);
    ASSERT_NE(a, nullptr);
    main_->update_commands();
    EXPECT_TRUE(a->isChecked());
    a->trigger();
    main_->update_commands();
    EXPECT_FALSE(t.bar->isVisible());
    EXPECT_FALSE(a->isChecked());
    a->trigger();
    main_->update_commands();
    EXPECT_TRUE(t.bar->isVisible());
    EXPECT_TRUE(a->isChecked());
  }
}

TEST_F(MainFrameTest, DroppedFilesOpenOrSayWhyNot) {
  const std::string dir = tsupport::test_dir();
  const std::string good = movie("dropped.mpg"), invalid = dir + "/notes.txt", missing = dir + "/gone.mpg";
  std::ofstream(invalid) << "not a movie";
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(missing)), QUrl::fromLocalFile(QString::fromStdString(invalid)),
                QUrl::fromLocalFile(QString::fromStdString(good))});
  const QPoint at = main_->mdi_area()->geometry().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(main_.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(main_.get(), &drop);
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(platform_.prompter.texts(), (std::vector<std::string>{"<" + missing + ">: cannot open to read\n",
                                                                    "<" + invalid + ">: not a valid input file\n"}));
  ASSERT_EQ(app_.editor_count(), 1);
  auto* w = qobject_cast<EditorWindow*>(main_->mdi_area()->activeSubWindow());
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->windowTitle().toStdString(), good);
}

TEST_F(MainFrameTest, ClipDropsPlaceTheNextWindow) {
  std::vector<int> rows;
  main_->set_clip_drop_handler([&](const ClipDragPayload& p) {
    rows.push_back(p.row);
    return app_.open_input_file(movie("clip.mpg"), 0, 0, 0) == 1;
  });
  const int width = main_->mdi_area()->viewport()->width();
  EXPECT_TRUE(main_->drop_clip(encode_clip_drag(make_clip_drag(1, 4)), QPoint(0, 0)));
  EXPECT_EQ(main_->mdi_area()->subWindowList().back()->pos(), QPoint(0, 0));
  EXPECT_TRUE(main_->drop_clip(encode_clip_drag(make_clip_drag(1, 2)), QPoint(width, 0)));  // the right edge
  EXPECT_EQ(main_->mdi_area()->subWindowList().back()->pos(), QPoint(width - 50, 0));
  EXPECT_EQ(rows, (std::vector<int>{4, 2}));

  // Another program's drag, or a damaged one, is refused.
  ClipDragPayload foreign = make_clip_drag(1, 0);
  foreign.process_id += 1;
  EXPECT_FALSE(main_->drop_clip(encode_clip_drag(foreign), QPoint(5, 5)));
  EXPECT_FALSE(main_->drop_clip("clip 1 2", QPoint(5, 5)));
  EXPECT_EQ(rows.size(), 2u);
}

TEST_F(MainFrameTest, CloseRefusedWhileAnEditorSavesRestoresAMaximisedChild) {
  BusyView* view = nullptr;
  main_->set_editor_view_factory([&](EditorEntry*, QWidget*) {
    view = new BusyView;
    return view;
  });
  ASSERT_EQ(app_.open_input_file(movie("a.mpg"), 0, 0, 0), 1);
  QMdiSubWindow* child = main_->mdi_area()->activeSubWindow();
  child->showMaximized();
  EXPECT_TRUE(main_->is_child_zoomed());
  view->busy = true;
  EXPECT_FALSE(main_->close());
  EXPECT_EQ(platform_.prompter.texts(), std::vector<std::string>{kSaveJobRunningMessage});
  EXPECT_TRUE(main_->isVisible());  // shown again
  EXPECT_FALSE(child->isMaximized());
  EXPECT_EQ(view->playback_stops, 1);
  EXPECT_EQ(app_.editor_count(), 1);
  view->busy = false;
  EXPECT_TRUE(main_->close());
  EXPECT_EQ(app_.editor_count(), 0);
}

TEST_F(MainFrameTest, HelpCommandsShowTheIndexPage) {
  QTest::keyClick(main_.get(), Qt::Key_F1);
  for (int id : {cmd::kHelpTopics, cmd::kHelp, cmd::kContextHelp, cmd::kDefaultHelp})
    EXPECT_TRUE(main_->run_command(id)) << id;
  EXPECT_EQ(platform_.help.pages, std::vector<std::string>(5, "help.chm::/htm/chap00-1.htm"));
  // The page is one of ours, installed beside the program.
  const std::string page = help_page_file(tsupport::source_dir() + "/ui", "help.chm::/htm/chap00-1.htm");
  EXPECT_TRUE(std::ifstream(page).good()) << page;
}

TEST_F(MainFrameTest, CtrlF4ClosesTheActiveEditor) {
  ASSERT_EQ(app_.open_input_file(movie("a.mpg"), 0, 0, 0), 1);
  ASSERT_EQ(app_.open_input_file(movie("b.mpg"), 0, 0, 0), 1);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F4, Qt::ControlModifier);
  EXPECT_EQ(app_.editor_count(), 1);
  main_->setFocus();  // also when the focus is outside the editor windows
  QTest::keyClick(main_.get(), Qt::Key_F4, Qt::ControlModifier);
  EXPECT_EQ(app_.editor_count(), 0);
}

TEST_F(MainFrameTest, AboutBox) {
  AboutDialog about(main_.get());
  EXPECT_EQ(about.windowTitle().toStdString(), program_title());
  EXPECT_FALSE(about.windowIcon().isNull());
  auto* group = about.findChild<QGroupBox*>();
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->title(), " Supported Video and Audio Formats:  ");
  const char* const formats[] = {
      "  MPEG-2 Video Streams",  "  MPEG-2 Program Streams", "  MPEG-2 Transport Streams",
      "  MPEG-1 Video Streams",  "  MPEG-1 System Streams",  "  AC-3 Audio Streams",
      "  DVD Movie (VOB) Files", " JPEG and Windows Bitmap Images", " Linear PCM in MPEG-2 Program Streams"};
  for (int i = 0; i < 9; ++i) {
    auto* box = about.findChild<QCheckBox*>(QStringLiteral("c%1").arg(1001 + i));
    ASSERT_NE(box, nullptr) << i;
    EXPECT_EQ(box->text(), formats[i]);
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(box->isEnabled());
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_TRUE(box->isChecked());
  }
  EXPECT_EQ(about.findChild<QLabel*>("c1011")->text().toStdString(), program_title());
  const QString date = about.findChild<QLabel*>("c1010")->text();
  EXPECT_TRUE(date.startsWith("[ build ") && date.endsWith(" ]")) << date.toStdString();
  ASSERT_NE(about.link(), nullptr);
  EXPECT_EQ(about.link()->objectName(), "c1000");
  EXPECT_EQ(about.link()->target(), "file://" + platform_.paths.data + "/help/htm/chap00-1.htm");
}

TEST_F(MainFrameTest, LinksOpenThroughTheDesktopAndAllTurnVisited) {
  HyperLinkStatic::reset_visited();
  HyperLinkStatic first(QStringLiteral("first")), second(QStringLiteral("https://example.invalid/"));
  first.set_target("mailto:nobody@example.invalid");
  first.resize(120, 20);
  second.resize(200, 20);
  first.show();
  second.show();
  EXPECT_EQ(first.link_colour(), QColor(0, 0, 255));
  EXPECT_TRUE(first.font().underline());
  EXPECT_EQ(first.cursor().shape(), Qt::PointingHandCursor);

  // A target that cannot be opened stays unvisited.
  platform_.desktop.result = false;
  QTest::mouseClick(&first, Qt::LeftButton);
  EXPECT_FALSE(HyperLinkStatic::visited());
  EXPECT_EQ(first.link_colour(), QColor(0, 0, 255));

  platform_.desktop.result = true;
  QTest::mouseClick(&second, Qt::LeftButton);  // no target: its text
  EXPECT_EQ(platform_.desktop.urls,
            (std::vector<std::string>{"mailto:nobody@example.invalid", "https://example.invalid/"}));
  EXPECT_EQ(first.link_colour(), QColor(128, 0, 128));
  const QImage shot = first.grab().toImage();
  bool purple = false;
  for (int y = 0; y < shot.height() && !purple; ++y)
    for (int x = 0; x < shot.width() && !purple; ++x) purple = shot.pixelColor(x, y) == QColor(128, 0, 128);
  EXPECT_TRUE(purple);
  HyperLinkStatic::reset_visited();
}

TEST(ClipDrag, PayloadsOfThisProcessOnly) {
  ClipDragPayload p;
  ASSERT_TRUE(decode_clip_drag(encode_clip_drag(make_clip_drag(3, 17)), &p));
  EXPECT_EQ(p.view_id, 3);
  EXPECT_EQ(p.row, 17);
  const std::string own = std::to_string(make_clip_drag(0, 0).process_id);
  for (const std::string& bad : {std::string(), std::string("clip"), "clip " + own + " 1", "clip " + own + " 1 -1",
                                 "clip " + own + " 1 2 3", "clip " + own + " 1 2x", std::string(200, '7'),
                                 std::string("clip 1 2 3")})
    EXPECT_FALSE(decode_clip_drag(bad, nullptr)) << bad;
}

}  // namespace

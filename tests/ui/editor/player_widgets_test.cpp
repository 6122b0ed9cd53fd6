// The editor window's widgets offscreen: keys on the real engine land on
// the frames the rules give (by picture and by the frame number the
// fixture draws), typed positions and slider clicks, and the display of
// 8, 16 and 24-bit bitmaps fitted by the aspect modes with a grey border.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>

#include "app/editor/player_view.h"
#include "app/shell/editor_app.h"
#include "app/shell/editor_settings.h"
#include "app/shell/ieditor.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "e2e.h"
#include "fake_editor.h"
#include "platform/fakes.h"
#include "support.h"
#include "ui/editor/player_pane.h"
#include "ui/shell/main_window.h"

namespace {

tsupport::RgbImage rgb_of(const QImage& shot) {
  const QImage img = shot.convertToFormat(QImage::Format_RGB888);
  tsupport::RgbImage out;
  out.w = img.width();
  out.h = img.height();
  out.px.resize(size_t(out.w) * size_t(out.h) * 3);
  for (int y = 0; y < out.h; ++y)
    std::memcpy(out.px.data() + size_t(y) * size_t(out.w) * 3, img.constScanLine(y), size_t(out.w) * 3);
  return out;
}

class PlayerWidgets : public ::testing::Test {
 protected:
  void open(std::unique_ptr<IEditor> e) {
    editor = std::move(e);
    pane = std::make_unique<PlayerPane>(nullptr);
    ASSERT_EQ(pane->model()->attach_editor(editor.get(), 1), 1);
    pane->model()->run_command(pcmd::kAspectFit);
    pane->resize(pane->sizeHint());
    pane->show();
    QApplication::setActiveWindow(pane.get());
    pane->view()->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(pane.get()));
  }
  QImage shot() {
    fake.post.drain();
    return pane->view()->grab().toImage();
  }
  void TearDown() override {
    pane.reset();
    editor.reset();
    editor_settings() = EditorSettings();
  }

  FakePlatform fake;
  std::unique_ptr<IEditor> editor;
  std::unique_ptr<PlayerPane> pane;
};

TEST_F(PlayerWidgets, KeysOnTheEngineLandOnTheirFrames) {
  TSUPPORT_NEED_FIXTURES("ui.mpg");
  const std::string movie = tsupport::fixture("ui.mpg");
  auto e = MpegEditorAdapter::open(movie, 0);
  ASSERT_NE(e, nullptr);
  e->set_bmp_depth(24);
  open(std::move(e));
  CQuarvelPlayerView* m = pane->model();
  ASSERT_EQ(m->total_frames, 250);
  ASSERT_EQ(pane->view()->size(), QSize(352, 288));
  m->mark_in = 100;
  m->mark_out = 140;
  m->insert_point = 70;
  struct Case {
    const char* name;
    int from;
    int key;
    int expected;
  };
  // Jumps are the tenth of the movie (the 150-frame default is capped).
  const Case cases[] = {
      {"L", 10, Qt::Key_L, 11},         {"H", 10, Qt::Key_H, 9},          {"Right", 10, Qt::Key_Right, 11},
      {"Left", 30, Qt::Key_Left, 29},    {"Home", 50, Qt::Key_Home, 0},    {"End", 50, Qt::Key_End, 249},
      {"F", 50, Qt::Key_F, 0},          {"E", 50, Qt::Key_E, 249},        {"Page Up", 60, Qt::Key_PageUp, 35},
      {"K", 60, Qt::Key_K, 35},         {"Page Down", 60, Qt::Key_PageDown, 85},
      {"J", 60, Qt::Key_J, 85},         {"Up", 10, Qt::Key_Up, 0},        {"Down", 240, Qt::Key_Down, 249},
      {"L wraps", 249, Qt::Key_L, 0},   {"H wraps", 0, Qt::Key_H, 249},   {"1", 5, Qt::Key_1, 70},
      {"2", 5, Qt::Key_2, 140},         {"3", 5, Qt::Key_3, 100},         {"[", 5, Qt::Key_BracketLeft, 100},
      {"]", 5, Qt::Key_BracketRight, 140}, {"\\", 5, Qt::Key_Backslash, 70},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m->post_command(kCodeGoto, c.from);
    QTest::keyClick(pane->view(), Qt::Key(c.key));
    ASSERT_EQ(m->current_frame, c.expected);
    const tsupport::RgbImage got = rgb_of(shot());
    const tsupport::RgbImage want = tsupport::decode_frame(movie, c.expected);
    const tsupport::Match at = tsupport::find_picture(got, want, {1});
    EXPECT_GE(at.psnr, 35.0);
    EXPECT_EQ(tsupport::read_frame_number(got, at), c.expected);
    const int other = c.expected > 0 ? c.expected - 1 : c.expected + 1;
    EXPECT_LT(tsupport::psnr_at(got, tsupport::decode_frame(movie, other), at.x, at.y), at.psnr);
  }
  // Play Segment: F and E keep to the marks.
  m->post_command(kCodeGoto, 120);
  QTest::keyClick(pane->view(), Qt::Key_Q);
  QTest::keyClick(pane->view(), Qt::Key_F);
  EXPECT_EQ(m->current_frame, 100);
  QTest::keyClick(pane->view(), Qt::Key_E);
  EXPECT_EQ(m->current_frame, 140);
  // The wheel: forward steps back.
  QWheelEvent up(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                 Qt::NoScrollPhase, false);
  QApplication::sendEvent(pane->view(), &up);
  EXPECT_EQ(m->current_frame, 139);
  const tsupport::RgbImage got = rgb_of(shot());
  EXPECT_EQ(tsupport::read_frame_number(got, tsupport::find_picture(got, tsupport::decode_frame(movie, 139), {1})),
            139);
}

TEST_F(PlayerWidgets, TypedPositionsAndTheField) {
  TSUPPORT_NEED_FIXTURES("ui.mpg");
  auto e = MpegEditorAdapter::open(tsupport::fixture("ui.mpg"), 0);
  ASSERT_NE(e, nullptr);
  IEditor* ed = e.get();
  open(std::move(e));
  PositionField* field = pane->toolbar()->field();
  for (const char* typed : {"50", "0:00:02:00"}) {
    SCOPED_TRACE(typed);
    pane->model()->post_command(kCodeGoto, 0);
    field->setFocus();
    field->clear();
    QTest::keyClicks(field, QString::fromLatin1(typed));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(pane->model()->current_frame, 50);
    EXPECT_EQ(field->text().toStdString(), ed->get_frame_offset_timecode(50));
  }
  // Letters and ";" do not go in.
  field->clear();
  QTest::keyClicks(field, "1a;2");
  EXPECT_EQ(field->text(), "12");
}

TEST_F(PlayerWidgets, SliderClicksAndDragsLandOnPositionOverScale) {
  open(std::make_unique<FakeEditor>(301, 352, 288, 25.0));
  PlayerSlider* slider = pane->toolbar()->slider();
  CQuarvelPlayerView* m = pane->model();
  const double scale = m->toolbar().scale();
  for (int pos : {250, 500, 900}) {
    const int x = slider->x_of(pos);
    QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(x, slider->height() / 2));
    const int v = slider->value();
    EXPECT_NEAR(v, pos, 10);
    EXPECT_EQ(m->current_frame, int(v / scale + 0.5));
  }
  // A drag of the thumb.
  const QPoint from(slider->x_of(slider->value()), slider->height() / 2);
  QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, from);
  QTest::mouseMove(slider, QPoint(slider->x_of(100), from.y()));
  QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->x_of(100), from.y()));
  EXPECT_NEAR(slider->value(), 100, 10);
  EXPECT_EQ(m->current_frame, int(slider->value() / scale + 0.5));
}

TEST_F(PlayerWidgets, BitmapsShowTheirColours) {
  for (int depth : {8, 16, 24}) {
    SCOPED_TRACE(depth);
    auto e = std::make_unique<FakeEditor>(50, 352, 288, 25.0);
    e->depth = depth;
    e->current = 17;
    FakeEditor* f = e.get();
    open(std::move(e));
    const QImage img = shot();
    ASSERT_EQ(img.size(), QSize(352, 288));
    int differ = 0;
    for (int y = 0; y < 288; y += 9)
      for (int x = 0; x < 352; x += 7) {
        const FakeRgb want = f->rgb_at(x, y);
        const QColor got = img.pixelColor(x, y);
        differ += got.red() != want.r || got.green() != want.g || got.blue() != want.b;
      }
    EXPECT_EQ(differ, 0);
    pane.reset();
    editor.reset();
  }
}

TEST_F(PlayerWidgets, AspectModesFitWithAGreyBorder) {
  struct Case {
    int mode, w, h;
    QRect rect;
  };
  // A 352 x 288 picture.
  const Case cases[] = {
      {3, 600, 300, QRect(0, 0, 600, 300)},   {1, 600, 300, QRect(33, 0, 534, 300)},
      {2, 600, 300, QRect(100, 0, 400, 300)}, {0, 600, 300, QRect(117, 0, 366, 300)},
      {1, 400, 400, QRect(0, 87, 400, 226)},  {2, 400, 400, QRect(0, 50, 400, 300)},
      {0, 400, 400, QRect(0, 36, 400, 328)},
  };
  open(std::make_unique<FakeEditor>(50, 352, 288, 25.0));
  const QColor grey(0x80, 0x80, 0x80);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " " << c.w << "x" << c.h);
    pane->model()->set_aspect_mode(c.mode);
    QtPlayerView view(pane->model());
    view.resize(c.w, c.h);
    EXPECT_EQ(view.picture_rect(), c.rect);
    const QImage img = view.grab().toImage();
    if (c.rect.left() > 0) {
      EXPECT_EQ(img.pixelColor(c.rect.left() - 1, c.h / 2), grey);
      EXPECT_EQ(img.pixelColor(c.rect.right() + 1, c.h / 2), grey);
    }
    if (c.rect.top() > 0) {
      EXPECT_EQ(img.pixelColor(c.w / 2, c.rect.top() - 1), grey);
      EXPECT_EQ(img.pixelColor(c.w / 2, c.rect.bottom() + 1), grey);
    }
  }
  // The stream's aspect picks the mode.
  EXPECT_EQ(aspect_mode_for(1, 2, 3), 2);
  EXPECT_EQ(aspect_mode_for(1, 3, 0), 1);
  EXPECT_EQ(aspect_mode_for(0, 8, 3), 2);
  EXPECT_EQ(aspect_mode_for(0, 12, 3), 2);
  EXPECT_EQ(aspect_mode_for(1, 4, 0), 0);
}

}  // namespace

namespace {

TEST(PlayerInMainWindow, OpeningAnotherMovieStopsPlayback) {
  FakePlatform fake;
  editor_settings() = EditorSettings();
  std::vector<FakeEditor*> made;
  CEditorApp app(fake_editor_factory(&made));
  app.init_instance();
  MainWindow main(&app);
  main.resize(900, 700);
  main.show();
  const std::string a = tsupport::test_dir() + "/a.mpg", b = tsupport::test_dir() + "/b.mpg";
  ASSERT_TRUE(write_fake_movie(a, 1000000, 64, 48));
  ASSERT_TRUE(write_fake_movie(b, 100, 64, 48));
  ASSERT_EQ(app.open_input_file(a, 0, 0, 0), 1);
  auto* pane = qobject_cast<PlayerPane*>(main.mdi_area()->activeSubWindow()->widget());
  ASSERT_NE(pane, nullptr);
  QTest::keyClick(pane->view(), Qt::Key_D);
  EXPECT_TRUE(pane->model()->playback_thread_alive());
  ASSERT_EQ(app.open_input_file(b, 0, 0, 0), 1);
  // Stopped at once, or once the step in progress ended.
  while (pane->model()->command_pending()) {
    while (!pane->model()->playback_thread_ended()) QTest::qWait(1);
    pane->model()->on_retry_timer();
  }
  EXPECT_FALSE(pane->model()->playback_thread_alive());
  EXPECT_EQ(pane->model()->playing_forward, 0);
  main.close();
  editor_settings() = EditorSettings();
}

}  // namespace

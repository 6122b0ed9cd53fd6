// Insert on the real engine: a second of another movie put in after the
// current frame through the Insert command, saved as a program stream;
// ffmpeg's decode of the output shows the frames of both sources in the
// order the insert asks for, and undo brings the movie back.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <thread>

#include "app/editor/player_view.h"
#include "app/editor/save_dialog.h"
#include "app/editor/save_job.h"
#include "app/shell/editor_settings.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "ffmpeg_oracle.h"
#include "platform/fakes.h"
#include "support.h"

namespace {

constexpr int kW = 352, kH = 288;

struct Host : PlayerViewHost, SaveJobHost {
  // Insert dialog: the record the user would fill in.
  InsertParams answer;
  InsertParams seen;
  std::string drop_file_seen;
  bool from_drop = false;
  bool run_insert_dialog(InsertParams* record, const EClip&, std::string*, bool drop, double) override {
    seen = *record;
    from_drop = drop;
    if (drop) {
      drop_file_seen = record->file_name;
      record->length = answer.length;
      return true;
    }
    answer.insertion = record->insertion;
    answer.track_length = record->track_length;
    *record = answer;
    return true;
  }
  // Save dialog.
  std::string name;
  bool run_save_dialog(CSaveDlg& d) override {
    d.choose(SaveButton::program);
    d.file_name = name;
    return d.on_ok();
  }
  void start_poll_timer(int, int) override {}
  void stop_poll_timer(int) override {}
  void announce(const std::string&) override {}
};

// The frame number the fixture draws: 16 boxes at y 40..56, bit 0 left.
int frame_number(const uint8_t* y) {
  int n = 0;
  for (int i = 0; i < 16; ++i)
    if (y[48 * kW + 24 + 20 * i] > 128) n |= 1 << i;
  return n;
}

double psnr(const uint8_t* a, const uint8_t* b) {
  double se = 0;
  for (int i = 0; i < kW * kH; ++i) se += double(a[i] - b[i]) * double(a[i] - b[i]);
  return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * kW * kH / se);
}

class EngineInsert : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tsupport::have_program("ffmpeg") || !tsupport::have_program("ffprobe")) GTEST_SKIP() << "no ffmpeg";
    const std::string missing = tsupport::missing_fixture({"ui.mpg"});
    if (!missing.empty()) GTEST_SKIP() << "missing fixture " << missing;
    dir = tsupport::test_dir();
    movie = tsupport::fixture("ui.mpg");
    // The second source: three seconds of the first from frame 100,
    // encoded anew (its pictures keep their drawn numbers).
    second = dir + "/second.mpg";
    std::string out;
    ASSERT_EQ(tsupport::run("ffmpeg -v error -y -ss 4 -i " + tsupport::sh_quote(movie) +
                                " -t 3 -c:v mpeg2video -b:v 1500k -minrate 1500k -maxrate 1500k -bufsize 600000"
                                " -g 12 -bf 2 -c:a mp2 -b:a 128k -f vob " +
                                tsupport::sh_quote(second) + " 2>&1",
                            &out),
              0)
        << out;
    settings.set_defaults();
    editor = MpegEditorAdapter::open(movie, 0);
    ASSERT_TRUE(editor);
    editor->set_bmp_depth(24);
    view = std::make_unique<CQuarvelPlayerView>(&settings, &host);
    ASSERT_EQ(view->attach_editor(editor.get(), 3), 1);
  }
  void TearDown() override {
    if (view) view->detach_editor();
  }
  std::vector<uint8_t> luma(const std::string& file, const std::string& name) {
    return tsupport::ffmpeg_raw(file, "", "gray", dir + "/" + name);
  }
  // Saves the whole movie; the number of frames ffprobe counts.
  void save(const std::string& name) {
    host.name = dir + "/" + name;
    PlayerSaveJobs jobs(&settings, &host);
    jobs.set_editor(editor.get());
    jobs.save_edited_movie(0, view->total_frames - 1);
    ASSERT_TRUE(jobs.is_saving()) << fakes.prompter.last_text();
    for (int i = 0; i < 600000000 && !jobs.save_ended(); ++i) std::this_thread::yield();
    jobs.poll_save_job();
  }

  FakePlatform fakes;
  EditorSettings settings;
  Host host;
  std::string dir, movie, second;
  std::unique_ptr<IEditor> editor;
  std::unique_ptr<CQuarvelPlayerView> view;
};

TEST_F(EngineInsert, PieceOfAnotherMovieLandsAfterTheCurrentFrame) {
  view->post_command(kCodeGoto, 60);
  ASSERT_EQ(view->current_frame.load(), 60);
  host.answer.file_name = second;
  host.answer.offset = 1.0;
  host.answer.length = 1.0;
  host.answer.input_length = 3.0;
  // Key B (Insert) opens the dialog and inserts on OK.
  view->key_down('B');
  EXPECT_NEAR(host.seen.insertion, 61 / 25.0, 1e-6);
  EXPECT_NEAR(host.seen.track_length, 10.0, 0.05);
  ASSERT_EQ(view->total_frames.load(), 275) << fakes.prompter.last_text();
  EXPECT_EQ(view->mark_in.load(), 61);
  EXPECT_EQ(view->mark_out.load(), 85);
  EXPECT_EQ(view->undo_history().count(), 1);
  EXPECT_EQ(fakes.prompter.shown.size(), 0u) << fakes.prompter.last_text();

  save("inserted.mpg");
  std::string errors;
  tsupport::run("ffmpeg -v error -i " + tsupport::sh_quote(host.name) + " -f null - 2>&1", &errors);
  EXPECT_EQ(errors, "");
  const std::vector<uint8_t> out = luma(host.name, "out.gray");
  const std::vector<uint8_t> a = luma(movie, "a.gray");
  const std::vector<uint8_t> b = luma(second, "b.gray");
  const size_t frame = size_t(kW) * kH;
  ASSERT_EQ(out.size() / frame, 275u);
  ASSERT_GE(a.size() / frame, 250u);
  ASSERT_GE(b.size() / frame, 50u);
  // The second source's pictures carry the numbers of the first's.
  EXPECT_NE(frame_number(&b[25 * frame]), 25);
  int wrong = 0;
  double worst = 99;
  for (int i = 0; i < 275; ++i) {
    const uint8_t* ref = i <= 60 ? &a[size_t(i) * frame] : i <= 85 ? &b[size_t(25 + i - 61) * frame] : &a[size_t(i - 25) * frame];
    const int expected = frame_number(ref);
    const uint8_t* got = &out[size_t(i) * frame];
    if (frame_number(got) != expected) ++wrong;
    worst = std::min(worst, psnr(got, ref));
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GE(worst, 30.0);

  view->post_command(kCodeUndo);
  EXPECT_EQ(view->total_frames.load(), 250);
  EXPECT_EQ(editor->get_total_frames(), 250);
}

TEST_F(EngineInsert, DroppedClipGoesInWholeThroughTheDialog) {
  settings.program_folder = dir;
  std::unique_ptr<IEditor> other = MpegEditorAdapter::open(second, 0);
  ASSERT_TRUE(other);
  std::unique_ptr<EClip> clip = other->frame_copy(10, 20);
  ASSERT_TRUE(clip);
  host.answer.length = 20 / 25.0;
  view->post_command(kCodeGoto, 0);
  view->drop_clip(*clip);
  EXPECT_TRUE(host.from_drop);
  EXPECT_EQ(host.drop_file_seen, dir + "/editor-3.tmp");
  EXPECT_EQ(view->total_frames.load(), 270) << fakes.prompter.last_text();
  // The list file served the dialog only.
  EXPECT_FALSE(std::ifstream(dir + "/editor-3.tmp").good());
  view->post_command(kCodeUndo);
  EXPECT_EQ(view->total_frames.load(), 250);
}

TEST_F(EngineInsert, EffectsAloneAreCheckedThenLaidAtThePoint) {
  struct Case {
    const char* what;
    int goto_frame, start_op, end_op;
    double length;
    const char* message;  // null: applied
  } cases[] = {
      {"no operator", 60, 0, 0, 1.0, "No proper insert operator selected"},
      {"zero length", 60, 4, 0, 0.0, "Zero insert length"},
      {"unknown operator", 60, 99, 0, 1.0, "Selected operator not found"},
      {"a blend needs movie before the point", 0, 4, 0, 1.0, "No proper insertion point selected"},
      {"an end effect alone acts as the start", 60, 0, 4, 1.0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fakes.prompter.shown.clear();
    view->post_command(kCodeGoto, c.goto_frame);
    host.answer = InsertParams();
    host.answer.start_operator = c.start_op;
    host.answer.start_length = c.start_op ? c.length : 0;
    host.answer.end_operator = c.end_op;
    host.answer.end_length = c.end_op ? c.length : 0;
    const int undo = view->undo_history().count();
    view->run_command(pcmd::kInsert);
    if (c.message) {
      EXPECT_EQ(fakes.prompter.last_text(), c.message);
      EXPECT_EQ(view->undo_history().count(), undo);
    } else {
      EXPECT_TRUE(fakes.prompter.shown.empty()) << fakes.prompter.last_text();
      EXPECT_EQ(view->undo_history().count(), undo + 1);
      EXPECT_EQ(view->undo_history().top()->kind, kEditEffects);
    }
  }
}

TEST_F(EngineInsert, TransitionsAtBothEndsOverlapTheMovie) {
  view->post_command(kCodeGoto, 60);
  host.answer.file_name = second;
  host.answer.offset = 0;
  host.answer.length = 2.0;
  host.answer.input_length = 3.0;
  host.answer.start_operator = 4;  // Blend: mixes the piece into the movie
  host.answer.start_inputs = 2;
  host.answer.start_length = 0.4;
  host.answer.end_operator = 1;  // Wipe Horizontal
  host.answer.end_inputs = 2;
  host.answer.end_length = 0.4;
  view->run_command(pcmd::kInsert);
  EXPECT_TRUE(fakes.prompter.shown.empty()) << fakes.prompter.last_text();
  // 50 frames in, 10 of them under each transition.
  EXPECT_EQ(view->total_frames.load(), 280);
  save("blended.mpg");
  std::string errors;
  tsupport::run("ffmpeg -v error -i " + tsupport::sh_quote(host.name) + " -f null - 2>&1", &errors);
  EXPECT_EQ(errors, "");
  const size_t frame = size_t(kW) * kH;
  EXPECT_EQ(luma(host.name, "blended.gray").size() / frame, 280u);
  view->post_command(kCodeUndo);
  EXPECT_EQ(view->total_frames.load(), 250);
}

}  // namespace

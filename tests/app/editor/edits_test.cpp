// Edits with undo and redo over the fake editor: the mark rules after a
// cut or paste, merges, the undo depth, refused edits, and the snapshot.
#include <fstream>

#include "player_fixture.h"

namespace {

struct MarkCase {
  const char* name;
  bool paste;
  int start, count;
  int in, out, ins, cur;                  // before
  int in2, out2, ins2, cur2, total2;      // after
};

TEST_F(PlayerTest, MarksFollowTheEdit) {
  const MarkCase cases[] = {
      {"cut after the marks", false, 30, 10, 10, 20, 50, 60, 10, 20, 40, 50, 90},
      {"cut holding the current frame", false, 40, 10, 0, 99, 50, 45, 0, 89, 40, 40, 90},
      {"cut holding both marks", false, 40, 10, 42, 45, 10, 5, 40, 40, 10, 5, 90},
      {"cut before everything", false, 0, 5, 10, 20, 30, 40, 5, 15, 25, 35, 95},
      {"cut at the end", false, 90, 10, 10, 95, 50, 95, 10, 89, 50, 89, 90},
      {"paste shifts what follows", true, 30, 10, 10, 40, 30, 35, 10, 50, 30, 45, 110},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    make(100, 25.0);
    go(c.cur);
    set_marks(c.in, c.out, c.ins);
    if (c.paste) {
      auto clip = editor->frame_copy(0, c.count);
      ASSERT_EQ(editor->frame_paste(*clip, c.start), 1);
      view->adjust_marks(kEditPaste, c.start, c.count, true);
    } else {
      ASSERT_EQ(view->cut_frames(kEditCut, c.start, c.count), 1);
      view->adjust_marks(kEditCut, c.start, c.count, true);
    }
    EXPECT_EQ(view->mark_in, c.in2);
    EXPECT_EQ(view->mark_out, c.out2);
    EXPECT_EQ(view->insert_point, c.ins2);
    EXPECT_EQ(view->current_frame, c.cur2);
    EXPECT_EQ(editor->current, c.cur2);
    EXPECT_EQ(view->total_frames, c.total2);
  }
}

TEST_F(PlayerTest, CutUndoRedoAndANewEditEmptiesRedo) {
  set_marks(30, 59, 80);
  go(40);
  view->key_down('X');
  EXPECT_EQ(editor->frames, 70);
  EXPECT_EQ(view->mark_in, 30);
  EXPECT_EQ(view->mark_out, 30);
  EXPECT_EQ(view->insert_point, 50);
  EXPECT_EQ(editor->current, 30);
  view->key_down('U');
  EXPECT_EQ(editor->frames, 100);
  EXPECT_EQ(view->mark_in, 30);
  EXPECT_EQ(view->mark_out, 59);
  EXPECT_EQ(view->insert_point, 80);
  EXPECT_EQ(editor->current, 40);
  EXPECT_EQ(view->redo_history().count(), 1);
  view->key_down('N');
  EXPECT_EQ(editor->frames, 70);
  EXPECT_EQ(view->mark_out, 30);
  view->key_down('U');
  ASSERT_EQ(view->redo_history().count(), 1);
  go(10);
  view->key_down('I');
  view->key_down('R');  // trim left: a new edit
  EXPECT_EQ(view->redo_history().count(), 0);
  EXPECT_FALSE(view->update_command(pcmd::kRedo).enabled);
}

TEST_F(PlayerTest, UndoDepthIsTheUndoSize) {
  settings.undo_size = 8;
  make(100, 25.0);
  for (int i = 0; i < 10; ++i) {
    set_marks(5, 10, 20);
    view->run_command(pcmd::kTrimLeft);
  }
  EXPECT_EQ(editor->frames, 50);
  int undone = 0;
  while (view->update_command(pcmd::kUndo).enabled) {
    view->run_command(pcmd::kUndo);
    ++undone;
  }
  EXPECT_EQ(undone, 8);
  EXPECT_EQ(view->undo_history().capacity(), 8);
  EXPECT_EQ(editor->frames, 90);
}

TEST_F(PlayerTest, RefusedEditsChangeNothing) {
  set_marks(10, 19, 50);
  go(15);
  editor->cut_results = {0};
  view->run_command(pcmd::kCut);
  editor->paste_results = {0};
  view->run_command(pcmd::kPaste);
  EXPECT_EQ(editor->frames, 100);
  EXPECT_EQ(view->total_frames, 100);
  EXPECT_EQ(view->mark_in, 10);
  EXPECT_EQ(view->mark_out, 19);
  EXPECT_EQ(view->insert_point, 50);
  EXPECT_EQ(view->current_frame, 15);
  EXPECT_EQ(view->undo_history().count(), 0);
}

TEST_F(PlayerTest, MergeKeepsTheSegmentInOneStep) {
  struct Case {
    int in, out, cuts, total;
  };
  // Head only, tail only, both.
  const Case cases[] = {{0, 39, 1, 40}, {60, 99, 1, 40}, {30, 59, 2, 30}};
  for (const auto& c : cases) {
    make(100, 25.0);
    set_marks(c.in, c.out, 50);
    go(45);
    view->run_command(pcmd::kMerge);
    EXPECT_EQ(count_calls("frame_cut"), c.cuts);
    EXPECT_EQ(editor->frames, c.total);
    EXPECT_EQ(view->mark_in, 0);
    EXPECT_EQ(view->mark_out, c.total - 1);
    EXPECT_LT(view->current_frame, c.total);
    EXPECT_EQ(view->undo_history().count(), 1);
    view->run_command(pcmd::kUndo);
    EXPECT_EQ(editor->frames, 100);
  }
}

TEST_F(PlayerTest, PasteMarksThePastedFrames) {
  set_marks(10, 19, 50);
  go(70);
  view->key_down('V');
  EXPECT_EQ(editor->frames, 110);
  EXPECT_EQ(view->mark_in, 50);
  EXPECT_EQ(view->mark_out, 59);
  EXPECT_EQ(view->current_frame, 80);
}

class SnapshotTest : public PlayerTest {
 protected:
  std::string path(const std::string& name) { return fake.paths.temp + "/" + name; }
};

TEST_F(SnapshotTest, NameWithoutExtensionGetsTheTypesAndAPrompt) {
  settings.image_extension = ".jpg";
  { std::ofstream(path("shot.jpg")) << "old"; }
  fake.dialogs.push_path(path("shot"), ImageFormat::Jpeg);
  fake.prompter.answers = {PromptAnswer::Yes};
  view->key_down('Y');
  ASSERT_EQ(fake.dialogs.requests.size(), 1u);
  const FileDialogRequest& r = fake.dialogs.requests[0];
  EXPECT_EQ(r.title, "Save Image");
  EXPECT_EQ(r.kind, FileDialogKind::SaveImage);
  EXPECT_EQ(r.image_format, ImageFormat::Jpeg);
  EXPECT_EQ(r.filter, "Image File (*.jpg;*.bmp;*.mpv)|*.jpg;*.bmp;*.mpv|All (*.*)|*.*||");
  EXPECT_EQ(fake.prompter.shown.size(), 1u);
  EXPECT_EQ(editor->calls.back(), "save_image " + path("shot.jpg") + " 11 85");
  EXPECT_EQ(settings.save_folder, fake.paths.temp + "/");
  // Refused: nothing written.
  fake.dialogs.push_path(path("shot"), ImageFormat::Jpeg);
  fake.prompter.answers = {PromptAnswer::No};
  editor->calls.clear();
  view->key_down('Y');
  EXPECT_EQ(count_calls("save_image"), 0);
}

TEST_F(SnapshotTest, ATypedExtensionSaysTheType) {
  fake.dialogs.push_path(path("x.jpg"), ImageFormat::Bitmap);
  view->run_command(pcmd::kSnapshot);
  EXPECT_EQ(editor->calls.back(), "save_image " + path("x.jpg") + " 11 85");
  EXPECT_EQ(settings.image_extension, ".jpg");
  fake.dialogs.push_path(path("y.mpv"), ImageFormat::Bitmap);
  view->run_command(pcmd::kSnapshot);
  EXPECT_EQ(editor->calls.back(), "save_image " + path("y.mpv") + " 2 85");
}

TEST_F(SnapshotTest, OverASourceOrUnwritableShowsCannotWrite) {
  editor->file = path("movie.mpg");
  { std::ofstream(editor->file) << "movie"; }
  fake.dialogs.push_path(editor->file, ImageFormat::Bitmap);
  view->run_command(pcmd::kSnapshot);
  EXPECT_EQ(fake.prompter.last_text(), "<" + editor->file + ">: cannot write");
  fake.file_use.refuse_write.insert(path("z.bmp"));
  fake.dialogs.push_path(path("z.bmp"), ImageFormat::Bitmap);
  view->run_command(pcmd::kSnapshot);
  EXPECT_EQ(fake.prompter.last_text(), "<" + path("z.bmp") + ">: cannot write");
  EXPECT_EQ(count_calls("save_image"), 0);
  std::ifstream f(editor->file);
  std::string text;
  f >> text;
  EXPECT_EQ(text, "movie");
}

}  // namespace

// The save entry: project-only saves, refusals that keep the sources, and
// the edit command's records.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/clips/clip_list.h"
#include "engine/editor_record.h"
#include "engine/mpeg_editor.h"
#include "foundation/job_control.h"
#include "ffmpeg_oracle.h"
#include "support.h"

namespace {

bool exists(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0;
}

TEST(EngineSave, ProjectOnlySaveWritesAClipListThatLoadsBackEqual) {
  const std::string dir = tsupport::temp_dir();
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  ASSERT_EQ(ed.frame_cut(5, 10), 1);
  const std::string out = dir + "/p.txt";
  int progress = 0;
  ASSERT_EQ(ed.frame_record_range(out.c_str(), 7, 3, 30, &progress), 1);
  EXPECT_EQ(progress, 100);
  EXPECT_FALSE(tsupport::partial_left(out));
  auto want = ed.frame_copy(3, 30);
  ASSERT_TRUE(want);
  std::unique_ptr<MPEG_Editor> back_made = MPEG_Editor::create(out.c_str(), 0, 0, 0);
  ASSERT_TRUE(back_made);
  MPEG_Editor& back = *back_made;
  auto got = back.frame_copy(0, 0);
  ASSERT_TRUE(got);
  ASSERT_EQ(got->clips.size(), want->clips.size());
  for (size_t k = 0; k < got->clips.size(); ++k) EXPECT_TRUE(got->clips[k].equals(want->clips[k])) << k;
  EXPECT_EQ(back.get_total_frames(), 30);
}

// Fault: the output was truncated before the save began, so a save onto a
// source destroyed it.
TEST(EngineSave, OutputNamingASourceIsRefusedAndTheSourceKept) {
  const std::string dir = tsupport::temp_dir();
  const std::string src = dir + "/src.m2v";
  const auto bytes = tsupport::read_file(tsupport::fixture("en_a.m2v"));
  ASSERT_TRUE(tsupport::write_file(src, bytes));
  ASSERT_EQ(symlink(src.c_str(), (dir + "/link.m2v").c_str()), 0);
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(src.c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  for (const std::string& out : {src, dir + "/link.m2v", dir + "/./src.m2v"}) {
    for (int kind : {7, 4, 2}) {
      int progress = 0;
      EXPECT_EQ(ed.frame_record_range(out.c_str(), kind, 0, 10, &progress), 0) << out << " " << kind;
      EXPECT_EQ(progress, 100);
    }
    EXPECT_EQ(ed.save_image(out.c_str(), 12, 90), 0);
  }
  EXPECT_EQ(tsupport::read_file(src), bytes);
}

// Faults: audio-only kinds were reported as complete successes. Recordable
// kinds go through the save pipeline; every end reports completion.
TEST(EngineSave, EveryEarlyEndReportsCompletionAndFailure) {
  const std::string dir = tsupport::temp_dir();
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  struct Case {
    int kind;
    std::string out;
    int saved;
  } cases[] = {{1, dir + "/a.mp2", 0}, {9, dir + "/a.ac3", 0}, {2, dir + "/v.m2v", 1}, {6, dir + "/p.mpg", 1},
               {8, dir + "/t.ts", 1},  {7, dir + "/no/such/folder/p.txt", 0}};
  for (const Case& c : cases) {
    int progress = 0;
    EXPECT_EQ(ed.frame_record_range(c.out.c_str(), c.kind, 0, 10, &progress), c.saved) << c.kind;
    EXPECT_EQ(progress, 100) << c.kind;
    EXPECT_EQ(exists(c.out), c.saved == 1) << c.kind;
    if (c.saved) EXPECT_EQ(tsupport::ffmpeg_strict_messages(c.out), "") << c.kind;
    // Through a window's control: it ends at 100 with the outcome, so a
    // window waiting on it never waits for a save that did not run.
    JobControl control;
    EXPECT_EQ(ed.frame_record_range_status(c.out.c_str(), c.kind, 0, 10, &control), c.saved) << c.kind;
    EXPECT_EQ(control.progress(), 100.0) << c.kind;
    EXPECT_EQ(control.outcome(), c.saved ? JobOutcome::done : JobOutcome::failed) << c.kind;
    if (!c.saved) EXPECT_FALSE(control.message().empty()) << c.kind;
  }
  int progress = 0;
  EXPECT_EQ(ed.frame_record((dir + "/x.txt").c_str(), 7, 5, 0, 10, &progress), 0);
  EXPECT_EQ(progress, 100);
  JobControl control;
  EXPECT_EQ(ed.frame_record_status((dir + "/x.txt").c_str(), 7, 5, 0, 10, &control), 0);
  EXPECT_EQ(control.outcome(), JobOutcome::failed);
}

TEST(EngineSave, TrimRangeOnlyForOneClipThatIsNotItsWholeFile) {
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  int s = 0, n = 0;
  EXPECT_EQ(ed.get_trim_range(&s, &n), nullptr);
  s = 10, n = 5;
  ASSERT_NE(ed.get_trim_range(&s, &n), nullptr);
  EXPECT_EQ(s, 10);
  ASSERT_EQ(ed.frame_cut(0, 20), 1);
  s = 0, n = 0;
  ASSERT_NE(ed.get_trim_range(&s, &n), nullptr);
  EXPECT_EQ(s, 20);
  EXPECT_EQ(n, 55);
  auto p = ed.frame_copy(0, 10);
  ASSERT_EQ(ed.frame_paste(*p, 40), 1);
  s = 0, n = 0;
  EXPECT_EQ(ed.get_trim_range(&s, &n), nullptr);
}

TEST(EngineRecordData, LoadCreatesOrReplacesTheEditor) {
  const std::string dir = tsupport::temp_dir();
  auto ed = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed);
  ASSERT_EQ(ed->frame_cut(0, 25), 1);
  EditorRecordData rec;
  editor_record_set_editor(&rec, ed.get());
  EXPECT_EQ(rec.total, 50);
  EXPECT_EQ(rec.count, 50);
  EXPECT_EQ(rec.output_type, 3);
  rec.second_file_name = dir + "/out.mpg";
  ASSERT_EQ(rec.save((dir + "/job.rec").c_str(), "test"), 0);

  std::unique_ptr<MPEG_Editor> none;
  EditorRecordData a;
  ASSERT_EQ(editor_record_load(&a, (dir + "/job.rec").c_str(), &none, 0), 0);
  ASSERT_TRUE(none);
  EXPECT_EQ(none->get_total_frames(), 50);

  ASSERT_EQ(ed->frame_cut(0, 10), 1);
  EditorRecordData b;
  MPEG_Editor* before = ed.get();
  ASSERT_EQ(editor_record_load(&b, (dir + "/job.rec").c_str(), &ed, 0), 0);
  EXPECT_EQ(ed.get(), before);
  EXPECT_EQ(ed->get_total_frames(), 50);
}

// Fault: a save project whose clips did not load was taken as a success
// with no movie.
TEST(EngineRecordData, SaveProjectWithoutClipsIsInvalidAndKeepsTheEditor) {
  const std::string dir = tsupport::temp_dir();
  auto ed = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed);
  EditorRecordData rec;
  editor_record_set_editor(&rec, ed.get());
  rec.project.clips.clear();
  rec.save((dir + "/empty.rec").c_str(), "test");  // its writer reports the empty project
  ASSERT_TRUE(exists(dir + "/empty.rec"));
  ASSERT_EQ(ed->frame_cut(0, 5), 1);
  EditorRecordData r;
  EXPECT_EQ(editor_record_load(&r, (dir + "/empty.rec").c_str(), &ed, 0), 2);
  EXPECT_EQ(ed->get_total_frames(), 70);
  EXPECT_EQ(editor_record_load(&r, (dir + "/missing.rec").c_str(), &ed, 0), 1);
  std::unique_ptr<MPEG_Editor> none;
  EXPECT_EQ(editor_record_load(&r, (dir + "/empty.rec").c_str(), &none, 0), 2);
  EXPECT_FALSE(none);
}

TEST(EngineEditCommand, ScriptPrintsOperationsFramesAndTotals) {
  const std::string dir = tsupport::temp_dir();
  const std::string a = tsupport::fixture("en_a.m2v"), b = tsupport::fixture("en_b.m2v");
  {
    std::ofstream ops(dir + "/ops");
    ops << "snapshot before\ncut 10 20\nsnapshot after\ninsert " << b << " 5 10 0\nshow 0 9 10\n"
        << "replace before\nreplace after\nstep 8 12\ntime 2.0\ncut 0 45\ntrim-range 0 0\n"
        << "rec-save " << dir << "/j.rec\nrecord " << dir << "/p.txt 7 0 20\n";
  }
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("edit " + tsupport::sh_quote(a) + " --script " + tsupport::sh_quote(dir + "/ops") +
                              " --out " + tsupport::sh_quote(dir + "/o.yuv"),
                          &lines),
            0);
  std::vector<std::string> ops, totals, frames;
  for (const auto& l : lines) {
    if (l.rfind("op ", 0) == 0) ops.push_back(l);
    if (l.rfind("total ", 0) == 0) totals.push_back(l);
    if (l.rfind("frame ", 0) == 0) frames.push_back(l);
  }
  ASSERT_EQ(ops.size(), 13u);
  for (size_t k = 0; k + 1 < ops.size(); ++k) EXPECT_NE(tsupport::field(ops[k], "result"), "0") << ops[k];
  EXPECT_EQ(tsupport::field_int(totals[1], "frames"), 55);
  EXPECT_EQ(tsupport::field_int(totals[3], "frames"), 65);
  EXPECT_EQ(tsupport::field_int(totals[5], "frames"), 75);
  EXPECT_EQ(tsupport::field_int(totals[6], "frames"), 55);
  EXPECT_EQ(tsupport::field_int(totals[7], "current"), 12);
  ASSERT_EQ(frames.size(), 3u + 5u);
  EXPECT_EQ(tsupport::field_int(frames[0], "clip"), 0);
  EXPECT_EQ(tsupport::field_int(frames[2], "clip"), 1);
  EXPECT_EQ(tsupport::field_int(frames[2], "width"), 352);
  EXPECT_EQ(tsupport::read_file(dir + "/o.yuv").size(), 8u * 352 * 288 * 3 / 2);
  bool time_line = false, trim_line = false, record_line = false;
  for (const auto& l : lines) {
    if (l.rfind("time ", 0) == 0) {
      time_line = true;
      EXPECT_EQ(tsupport::field_int(l, "frame"), 50);
      EXPECT_EQ(tsupport::field(l, "timecode"), "00:00:02:00");
    }
    if (l.rfind("trim ", 0) == 0) {
      trim_line = true;
      EXPECT_EQ(tsupport::field_int(l, "start"), 65);
      EXPECT_EQ(tsupport::field_int(l, "count"), 10);
    }
    if (l.rfind("record ", 0) == 0) {
      record_line = true;
      EXPECT_EQ(tsupport::field(l, "result"), "failed");  // 20 frames of a 10-frame movie
    }
  }
  EXPECT_TRUE(time_line && trim_line && record_line);
}

}  // namespace

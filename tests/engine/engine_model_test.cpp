// The engine against a reference model: the movie as a plain list of
// (file, frame) entries. Random cuts, copies, pastes, inserts of a second
// file, snapshots and replaces are applied to both; after every step the
// list, the total and the frame shown must follow the model. At the end
// every frame of the edited movie, searched, must be the source frame the
// model maps it to (against ffmpeg's decode).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "access/dtv.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/cliplist_file.h"
#include "engine/mpeg_editor.h"
#include "picture/frame.h"
#include "engine_pictures.h"
#include "support.h"

namespace {

struct Entry {
  int file = -1, frame = -1;
  bool operator==(const Entry&) const = default;
};
using Movie = std::vector<Entry>;

constexpr int kW = 352, kH = 288, kFrames = 75;

struct Sources {
  std::string names[2];
  std::vector<uint8_t> yuv[2];
  Sources() {
    names[0] = tsupport::fixture("en_a.m2v");
    names[1] = tsupport::fixture("en_b.m2v");
    yuv[0] = tsupport::read_file(tsupport::fixture("en_a.yuv"));
    yuv[1] = tsupport::read_file(tsupport::fixture("en_b.yuv"));
  }
  int file_index(const std::string& name) const { return name == names[0] ? 0 : name == names[1] ? 1 : -1; }
  const uint8_t* picture(int file, int frame) const {
    return yuv[file].data() + size_t(frame) * kW * kH * 3 / 2;
  }
};

Movie expand(const Sources& s, const MPEG_Clip* list) {
  Movie m;
  for (const MPEG_Clip* c = list; c; c = c->next)
    for (int i = 0; i < c->count; ++i) m.push_back({s.file_index(c->file_name), c->start + i});
  return m;
}

std::unique_ptr<EClip> project_of(const std::string& file, int start, int count) {
  MPEG_Clip* c = mpeg_clip_of_file(file.c_str(), start, count);
  if (!c) return nullptr;
  std::unique_ptr<EClip> p(mpeg_clip_2_eclip(c));
  mpeg_clip_list_free(c);
  return p;
}

// PSNR of the picture shown (luma and chroma) against a source picture.
double shown_psnr(DTamsel* e, const uint8_t* ref) {
  Frame* f = e->get_dtv_screen();
  if (!f || f->get_width() != kW || f->get_height() != kH) return 0;
  const std::vector<uint8_t> got = packed_420(f);
  return tsupport::psnr(got.data(), ref, got.size());
}

class EngineModel : public ::testing::TestWithParam<unsigned> {};

TEST_P(EngineModel, RandomEditsFollowTheModelAndShowTheMappedSourceFrames) {
  const Sources src;
  ASSERT_EQ(src.yuv[0].size(), size_t(kFrames) * kW * kH * 3 / 2);
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(src.names[0].c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  Movie model;
  for (int i = 0; i < kFrames; ++i) model.push_back({0, i});
  Movie board;
  std::unique_ptr<EClip> board_project;
  std::map<int, std::pair<Movie, EClip>> snaps;
  std::mt19937 rng(GetParam());
  auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int shown = 0;
  for (int step = 0; step < 40; ++step) {
    const int total = int(model.size());
    const int op = rnd(0, 5);
    SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op));
    if (op == 0) {  // cut
      const int s = rnd(0, total - 1), n = rnd(0, std::min(20, total - s));
      const int r = ed.frame_cut(s, n);
      const int end = (n == 0 ? total : s + n) - 1;
      const bool whole = s == 0 && end >= total - 1;
      ASSERT_EQ(r, whole ? 0 : 1);
      if (r) {
        const int cnt = end - s + 1;
        model.erase(model.begin() + s, model.begin() + end + 1);
        shown = shown > end ? shown - cnt : (shown >= s ? s : shown);
      }
    } else if (op == 1) {  // copy
      const int s = rnd(0, total - 1), n = rnd(1, std::min(30, total - s));
      board_project = ed.frame_copy(s, n);
      ASSERT_TRUE(board_project);
      board.assign(model.begin() + s, model.begin() + s + n);
    } else if (op == 2 && board_project) {  // paste
      const int pos = rnd(0, total);
      ASSERT_EQ(ed.frame_paste(*board_project, pos), 1);
      model.insert(model.begin() + pos, board.begin(), board.end());
      if (shown >= pos) shown += int(board.size());
    } else if (op == 3) {  // insert from the second file
      const int s = rnd(0, kFrames - 10), n = rnd(1, 10), pos = rnd(0, total);
      auto p = project_of(src.names[1], s, n);
      ASSERT_TRUE(p);
      ASSERT_EQ(ed.frame_paste(*p, pos), 1);
      Movie ins;
      for (int i = 0; i < n; ++i) ins.push_back({1, s + i});
      model.insert(model.begin() + pos, ins.begin(), ins.end());
      if (shown >= pos) shown += n;
    } else if (op == 4) {  // snapshot
      auto p = ed.frame_copy(0, 0);
      ASSERT_TRUE(p);
      snaps[step] = {model, *p};
    } else if (op == 5 && !snaps.empty()) {  // replace by an earlier snapshot, then back
      auto after = ed.frame_copy(0, 0);
      ASSERT_TRUE(after);
      const auto& [m, p] = snaps.begin()->second;
      ASSERT_EQ(ed.replace(p), 1);
      EXPECT_EQ(expand(src, ed.engine()->get_clip_list()), m);
      // The frame shown stays, within the shorter of the two movies.
      shown = std::min(shown, int(m.size()) - 1);
      EXPECT_EQ(ed.get_curr_frame_offset(), shown);
      ASSERT_EQ(ed.replace(*after), 1);
      shown = std::min(shown, int(model.size()) - 1);
    }
    ASSERT_EQ(expand(src, ed.engine()->get_clip_list()), model);
    ASSERT_EQ(ed.get_total_frames(), int(model.size()));
    shown = std::min(shown, int(model.size()) - 1);
    ASSERT_EQ(ed.get_curr_frame_offset(), shown);
  }
  for (int n = 0; n < int(model.size()); ++n) {
    ASSERT_EQ(ed.search(n, 0), n);
    const double db = shown_psnr(ed.engine(), src.picture(model[size_t(n)].file, model[size_t(n)].frame));
    ASSERT_GE(db, 48.0) << "edit frame " << n << " file " << model[size_t(n)].file << " frame "
                        << model[size_t(n)].frame;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, EngineModel, ::testing::Values(1u, 2u, 3u));

TEST(EngineEdits, CutOfTheWholeMovieIsRefusedAndChangesNothing) {
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  const int total = ed.get_total_frames();
  ed.search(20, 0);
  for (auto [s, n] : {std::pair{0, 0}, {0, total}}) {
    EXPECT_EQ(ed.frame_cut(s, n), 0) << s << " " << n;
    EXPECT_EQ(ed.get_total_frames(), total);
    EXPECT_EQ(ed.get_curr_frame_offset(), 20);
  }
  EXPECT_EQ(ed.engine()->cut(-1, total + 1), 0);
  EXPECT_EQ(ed.engine()->cut(0, total), 0);
  EXPECT_EQ(ed.frame_cut(0, total + 1), 0);
  EXPECT_EQ(ed.frame_cut(0, total - 1), 1);
  EXPECT_EQ(ed.get_total_frames(), 1);
}

TEST(EngineEdits, ReplaceByAnEqualListReopensNothing) {
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  auto p = ed.frame_copy(0, 0);
  ASSERT_TRUE(p);
  const int opens = ed.engine()->get_open_count();
  EXPECT_EQ(ed.replace(*p), 1);
  EXPECT_EQ(ed.engine()->get_open_count(), opens);
}

// Fault: replace took the frame shown after opening the new list's head,
// so the picture jumped.
TEST(EngineEdits, ReplaceKeepsTheFrameShown) {
  const Sources src;
  auto two = [&](int f0, int s0, int n0, int f1, int s1, int n1) {
    EClip p;
    for (auto [f, s, n] : {std::tuple{f0, s0, n0}, {f1, s1, n1}}) {
      auto one = project_of(src.names[f], s, n);
      p.clips.push_back(one->clips[0]);
    }
    return p;
  };
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(two(0, 0, 40, 1, 0, 40), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  ASSERT_EQ(ed.search(50, 0), 50);
  ASSERT_EQ(ed.replace(two(1, 0, 10, 0, 0, 60)), 1);
  EXPECT_EQ(ed.get_curr_frame_offset(), 50);
  EXPECT_GE(shown_psnr(ed.engine(), src.picture(0, 40)), 48.0);
}

TEST(EngineEdits, SearchPastTheEndShowsTheLastFrame) {
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  EXPECT_EQ(ed.search(kFrames + 40, 0), kFrames - 1);
  EXPECT_EQ(ed.search(-5, 0), 0);
}

TEST(EngineEdits, CopyOfAnInvalidRangeCopiesTheWholeList) {
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  MPEG_Clip* c = ed.engine()->copy(-5, 10);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(mpeg_clip_list_total_frames(c, 1), kFrames);
  mpeg_clip_list_free(c);
  EXPECT_FALSE(ed.frame_copy(0, kFrames + 1));
  EXPECT_TRUE(ed.frame_copy(0, kFrames));
}

TEST(EngineEdits, DamagedProjectOpensToACleanRefusal) {
  const std::string dir = tsupport::temp_dir();
  const std::string bad = dir + "/bad.txt";
  ASSERT_TRUE(tsupport::write_file(bad, std::vector<uint8_t>{'C', 'L', 'I', 'P', 0xff, 0x00, '\n', '7'}));
  EngineError error;
  EXPECT_FALSE(MPEG_Editor::create(bad.c_str(), 0, 0, 0, &error));
  EXPECT_NE(error.code, EngineError::none);
  EXPECT_FALSE(MPEG_Editor::create((dir + "/missing.m2v").c_str()));
}

}  // namespace

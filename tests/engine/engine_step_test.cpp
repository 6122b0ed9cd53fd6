// Stepping and searching through transitions, and movie times.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "access/effects.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/cliplist_file.h"
#include "engine/mpeg_editor.h"
#include "picture/frame.h"
#include "picture/image.h"
#include "engine_pictures.h"
#include "support.h"

namespace {

constexpr int kW = 352, kH = 288;
constexpr size_t kPic = size_t(kW) * kH * 3 / 2;

std::vector<uint8_t> shown(DTamsel* e) {
  Frame* f = e->get_dtv_screen();
  if (!f || f->get_width() != kW || f->get_height() != kH) return {};
  return packed_420(f);
}

// The blend of two source pictures as the effect registry makes it.
std::vector<uint8_t> blend(const uint8_t* a, const uint8_t* b, int pos, int len) {
  Frame fa(kW, kH, 1, 0), fb(kW, kH, 1, 0), out(kW, kH, 1, 0);
  auto load = [](Frame& f, const uint8_t* p) {
    for (int y = 0; y < kH; ++y) std::copy(p + y * kW, p + (y + 1) * kW, f.y_plane() + y * f.padded_width());
    const uint8_t* c = p + kW * kH;
    for (uint8_t* d : {f.cb_plane(), f.cr_plane()}) {
      for (int y = 0; y < kH / 2; ++y) std::copy(c + y * kW / 2, c + (y + 1) * kW / 2, d + y * f.c_width());
      c += kW * kH / 4;
    }
  };
  load(fa, a);
  load(fb, b);
  effect_blend(pos, len, out.image(), fa.image(), fb.image(), nullptr, 0, 0);
  return packed_420(&out);
}

int blend_id() {
  for (int id = 0; id < effect_op_get_count(); ++id)
    if (std::string(effect_op_get_name(id)) == "Blend") return id;
  return -1;
}

struct TwoClips {
  std::vector<uint8_t> a, b;
  std::unique_ptr<MPEG_Editor> ed;
  TwoClips() {
    a = tsupport::read_file(tsupport::fixture("en_a.yuv"));
    b = tsupport::read_file(tsupport::fixture("en_b.yuv"));
    MPEG_Clip* ca = mpeg_clip_of_file(tsupport::fixture("en_a.m2v").c_str(), 0, 40);
    MPEG_Clip* cb = mpeg_clip_of_file(tsupport::fixture("en_b.m2v").c_str(), 0, 40);
    MPEG_Clip *head = nullptr, *tail = nullptr;
    clip_list_link(&head, &tail, ca);
    clip_list_link(&head, &tail, cb);
    head = clip_update(head);
    std::unique_ptr<EClip> p(mpeg_clip_2_eclip(head));
    mpeg_clip_list_free(head);
    ed = MPEG_Editor::create(*p, 0, 0, 0);
  }
  // What edit frame n must show with a 10-frame blend at 30..39.
  std::vector<uint8_t> expected(int n) const {
    if (n < 30) return {a.begin() + n * kPic, a.begin() + (n + 1) * kPic};
    if (n < 40) return blend(a.data() + (n) * kPic, b.data() + (n - 30) * kPic, n - 30, 10);
    return {b.begin() + (n - 30) * kPic, b.begin() + (n - 29) * kPic};
  }
};

TEST(EngineStep, BlendShowsTheMixBySearchAndBySteppingBothWays) {
  TwoClips t;
  ASSERT_TRUE(t.ed);
  ASSERT_GE(blend_id(), 1);
  ASSERT_EQ(t.ed->frame_insert_transitions(40, blend_id(), 10), 10);
  ASSERT_EQ(t.ed->get_total_frames(), 70);
  DTamsel* e = t.ed->engine();
  for (int n = 25; n < 50; ++n) {
    e->search(n, 0, 0);
    EXPECT_EQ(e->get_curr_frame_offset(), n);
    EXPECT_EQ(e->in_transition(), n >= 30 && n < 40) << n;
    const auto got = shown(e);
    ASSERT_EQ(got.size(), kPic);
    EXPECT_GE(tsupport::psnr(got.data(), t.expected(n).data(), kPic), 45.0) << "search " << n;
  }
  e->search(25, 0, 0);
  for (int n = 26; n < 50; ++n) {
    ASSERT_EQ(e->forward(1), 1);
    ASSERT_EQ(e->get_curr_frame_offset(), n);
    EXPECT_GE(tsupport::psnr(shown(e).data(), t.expected(n).data(), kPic), 45.0) << "forward " << n;
  }
  for (int n = 48; n >= 25; --n) {
    ASSERT_EQ(e->backward(1), 1);
    ASSERT_EQ(e->get_curr_frame_offset(), n);
    EXPECT_GE(tsupport::psnr(shown(e).data(), t.expected(n).data(), kPic), 45.0) << "backward " << n;
  }
}

TEST(EngineStep, AllTransitionClipIsPassedOver) {
  TwoClips t;
  ASSERT_TRUE(t.ed);
  // A 10-frame clip entirely inside a transition from the first clip.
  MPEG_Clip* ca = mpeg_clip_of_file(tsupport::fixture("en_a.m2v").c_str(), 0, 40);
  MPEG_Clip* cb = mpeg_clip_of_file(tsupport::fixture("en_b.m2v").c_str(), 0, 10);
  MPEG_Clip* cc = mpeg_clip_of_file(tsupport::fixture("en_a.m2v").c_str(), 50, 20);
  cb->transition_id = blend_id();
  cb->transition_length = 10;
  MPEG_Clip *head = nullptr, *tail = nullptr;
  for (MPEG_Clip* c : {ca, cb, cc}) clip_list_link(&head, &tail, c);
  head = clip_update(head);
  const int total = mpeg_clip_list_total_frames(head, 1);
  std::unique_ptr<DTamsel> e_made = DTamsel::create(head, 0);
  mpeg_clip_list_free(head);
  ASSERT_TRUE(e_made);
  DTamsel& e = *e_made;
  ASSERT_EQ(total, 60);
  e.search(28, 0, 0);
  for (int n = 29; n < total; ++n) {
    ASSERT_EQ(e.forward(1), 1) << n;
    ASSERT_EQ(e.get_curr_frame_offset(), n);
  }
  EXPECT_EQ(e.get_current_clip_index(), 2);
  EXPECT_EQ(e.forward(1), 0);
}

// Fault: the open-time frame-count check asked every clip's file for a GOP
// index, stills included.
TEST(EngineStep, FrameCountCheckSkipsClipsWithoutAGopIndex) {
  MPEG_Clip* still = mpeg_clip_of_file(tsupport::fixture("jpg_q95.jpg").c_str(), 0, 0);
  MPEG_Clip* movie = mpeg_clip_of_file(tsupport::fixture("en_a.m2v").c_str(), 0, 10);
  ASSERT_TRUE(still && movie);
  const int still_frames = still->count;
  ASSERT_GT(still_frames, 0);
  MPEG_Clip *head = nullptr, *tail = nullptr;
  clip_list_link(&head, &tail, still);
  clip_list_link(&head, &tail, movie);
  head = clip_update(head);
  std::unique_ptr<DTamsel> e_made = DTamsel::create(head, 0);
  mpeg_clip_list_free(head);
  ASSERT_TRUE(e_made);
  DTamsel& e = *e_made;
  EXPECT_EQ(e.get_total_frames(), still_frames + 10);
  e.search(still_frames - 1, 0, 0);
  ASSERT_EQ(e.forward(1), 1);
  EXPECT_EQ(e.get_curr_frame_offset(), still_frames);
  EXPECT_EQ(e.get_current_clip_index(), 1);
}

TEST(EngineTime, TimesCountFromTheMovieStartTimeCodesFromItsGops) {
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(tsupport::fixture("en_tc.m2v").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  DTamsel* e = ed.engine();
  EXPECT_DOUBLE_EQ(e->frame_2_time(50), 2.0);
  EXPECT_EQ(e->time_2_frame(2.0), 50);
  std::string tc;
  e->get_frame_offset_timecode(50, &tc);
  EXPECT_EQ(tc, "01:00:02:00");
  ASSERT_EQ(ed.frame_cut(10, 5), 1);
  EXPECT_DOUBLE_EQ(e->frame_2_time(50), 2.0);
  EXPECT_EQ(e->time_2_frame(2.0), 50);
}

TEST(EngineTime, TimeAndFrameRoundTripAt25And2997) {
  for (const char* f : {"en_a.m2v", "en_ntsc.m2v"}) {
    std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(tsupport::fixture(f).c_str(), 0, 0, 0);
    ASSERT_TRUE(ed_made) << f;
    MPEG_Editor& ed = *ed_made;
    DTamsel* e = ed.engine();
    for (int n = 0; n < e->get_total_frames(); ++n) ASSERT_EQ(e->time_2_frame(e->frame_2_time(n)), n) << f;
  }
}

}  // namespace

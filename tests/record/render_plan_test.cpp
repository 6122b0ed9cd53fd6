// The plan of a clip with rendered frames (transitions, overlays): spans in
// any order, overlapping or reaching past the clip, give pieces that cover
// the clip exactly once, the rendered ones being the spans' union.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demux/goplist.h"
#include "demux/goplist_cache.h"
#include "record/recorder.h"
#include "support.h"

namespace {

struct Want {
  int first, last, render_at;  // render_at -1: copied or re-encoded from the source
};

struct Case {
  const char* name;
  int start, end;
  std::vector<RenderSpan> spans;
  std::vector<Want> rendered;
};

// en_a.m2v: 75 frames, closed GOPs of 10. The movie starts at frame 100.
const Case kCases[] = {
    {"none", 0, 74, {}, {}},
    {"transition out", 5, 44, {{35, 44}}, {{35, 44, 130}}},
    {"unsorted, overlapping and touching", 0, 74, {{40, 45}, {12, 20}, {18, 25}, {26, 27}}, {{12, 27, 112}, {40, 45, 140}}},
    {"past both ends", 10, 30, {{0, 12}, {29, 90}}, {{10, 12, 100}, {29, 30, 119}}},
    {"outside the clip", 10, 30, {{0, 9}, {31, 40}, {25, 20}}, {}},
    {"the whole clip", 3, 17, {{3, 17}}, {{3, 17, 100}}},
};

TEST(RenderPlan, PiecesCoverTheClipOnceWithTheSpansRendered) {
  TSUPPORT_NEED_FIXTURES("en_a.m2v");
  GOPList list;
  ASSERT_EQ(GoplistCache::take_from_cache(&list, tsupport::fixture("en_a.m2v").c_str(), 0, 0), 0);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<ClipPiece> pieces = plan_rendered_pieces(&list, c.start, c.end, 0, 100, c.spans);
    ASSERT_FALSE(pieces.empty());
    int next = c.start;
    std::vector<Want> rendered;
    for (const ClipPiece& p : pieces) {
      EXPECT_EQ(p.first, next);
      EXPECT_LE(p.first, p.last);
      next = p.last + 1;
      if (p.render_at >= 0) {
        EXPECT_FALSE(p.copy);
        rendered.push_back(Want{p.first, p.last, p.render_at});
      }
    }
    EXPECT_EQ(next, c.end + 1);
    ASSERT_EQ(rendered.size(), c.rendered.size());
    for (size_t k = 0; k < rendered.size(); ++k) {
      EXPECT_EQ(rendered[k].first, c.rendered[k].first) << k;
      EXPECT_EQ(rendered[k].last, c.rendered[k].last) << k;
      EXPECT_EQ(rendered[k].render_at, c.rendered[k].render_at) << k;
    }
  }
}

// The plan made one GOP ahead of the copy is the plan made whole, and each
// copied GOP's bytes are in the walk GOP when its piece is taken: the copy
// reads nothing a second time.
TEST(RenderPlan, PlanOneGopAheadMatchesTheWholePlanAndHoldsEachCopiedGop) {
  TSUPPORT_NEED_FIXTURES("en_a.m2v", "fa_sd.m2v");
  const struct {
    const char* file;
    int start, end, mode;
  } cases[] = {
      {"en_a.m2v", 0, 74, 0}, {"en_a.m2v", 7, 61, 0}, {"en_a.m2v", 12, 12, 0}, {"en_a.m2v", 5, 40, 1},
      {"fa_sd.m2v", 0, 299, 0}, {"fa_sd.m2v", 13, 250, 0}, {"fa_sd.m2v", 100, 107, 0}, {"fa_sd.m2v", 290, 299, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.start) + ".." + std::to_string(c.end));
    GOPList whole, ahead;
    const std::string f = tsupport::fixture(c.file);
    ASSERT_EQ(GoplistCache::take_from_cache(&whole, f.c_str(), 0, 0), 0);
    ASSERT_EQ(GoplistCache::take_from_cache(&ahead, f.c_str(), 0, 0), 0);
    const std::vector<ClipPiece> want = plan_clip_pieces(&whole, c.start, c.end, c.mode);
    ASSERT_FALSE(want.empty());
    GOP walk;
    ClipPlanner plan(&ahead, c.start, c.end, c.mode, &walk);
    size_t k = 0;
    for (ClipPiece p; plan.next(&p); ++k) {
      ASSERT_LT(k, want.size());
      EXPECT_EQ(p.copy, want[k].copy) << k;
      EXPECT_EQ(p.first, want[k].first) << k;
      EXPECT_EQ(p.last, want[k].last) << k;
      if (!p.copy) continue;
      EXPECT_EQ(p.gop_frame, want[k].gop_frame) << k;
      EXPECT_EQ(p.keep_leading, want[k].keep_leading) << k;
      EXPECT_EQ(walk.first_frame(), p.gop_frame) << k;
      EXPECT_GT(walk.byte_length, 0) << k;
      EXPECT_GE(walk.data_valid, walk.byte_length) << k;
    }
    EXPECT_EQ(k, want.size());
  }
}

}  // namespace

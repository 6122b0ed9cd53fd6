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

}  // namespace

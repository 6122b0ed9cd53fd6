// Edge cases of the working clip list, one table or case per rule, and the
// faults of its first description, each pinned by name.
#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <vector>

#include "engine/clips/clip_list.h"
#include "foundation/timecode.h"
#include "support/support.h"

namespace {

struct Rec {
  const char* file;
  int start, count, effect, length;
};

MPEG_Clip* build(std::initializer_list<Rec> recs, bool update = true) {
  MPEG_Clip *head = nullptr, *tail = nullptr;
  for (const Rec& r : recs) {
    auto* c = new MPEG_Clip;
    c->clip_type = 3;
    c->set_file_name(r.file);
    c->start = r.start;
    c->count = r.count;
    c->video_stream_count = 1;
    c->frame_rate = 25;
    c->transition_id = r.effect;
    c->transition_length = r.length;
    clip_list_link(&head, &tail, c);
  }
  return update ? clip_update(head) : head;
}

std::vector<Rec> records(const MPEG_Clip* l) {
  std::vector<Rec> out;
  for (; l; l = l->next) out.push_back(Rec{l->file_name.c_str(), l->start, l->count, l->transition_id, l->transition_length});
  return out;
}

void expect_records(const MPEG_Clip* l, const std::vector<Rec>& want) {
  const std::vector<Rec> got = records(l);
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(got[i].file, want[i].file);
    EXPECT_EQ(got[i].start, want[i].start);
    EXPECT_EQ(got[i].count, want[i].count);
    EXPECT_EQ(got[i].effect, want[i].effect);
    EXPECT_EQ(got[i].length, want[i].length);
  }
}

TEST(ClipListUpdate, InvariantsTable) {
  {  // a one-frame clip after the head loses its transition; so does the head
    MPEG_Clip* l = build({{"a", 0, 10, 4, 3}, {"b", 0, 1, 4, 1}});
    expect_records(l, {{"a", 0, 10, 0, 0}, {"b", 0, 1, 0, 0}});
    mpeg_clip_list_free(l);
  }
  {  // the head keeps its transition when asked to
    MPEG_Clip* l = build({{"a", 0, 10, 4, 3}}, false);
    l->keep_head_transition = 1;
    clip_update(l);
    expect_records(l, {{"a", 0, 10, 4, 3}});
    mpeg_clip_list_free(l);
  }
  {  // continuing neighbours of one file merge, overlays joined
    MPEG_Clip* l = build({{"a", 0, 10, 0, 0}, {"a", 10, 5, 0, 0}}, false);
    l->insert_overlay(8, 2, 3);
    l->next->insert_overlay(9, 11, 2);
    clip_update(l);
    expect_records(l, {{"a", 0, 15, 0, 0}});
    EXPECT_EQ(l->overlays.size(), 2u);
    mpeg_clip_list_free(l);
  }
  {  // a transition longer than the previous clip less its own is shortened
    MPEG_Clip* l = build({{"a", 0, 10, 0, 0}, {"b", 0, 8, 4, 6}, {"c", 0, 20, 4, 9}});
    expect_records(l, {{"a", 0, 10, 0, 0}, {"b", 0, 8, 4, 6}, {"c", 0, 20, 4, 2}});
    EXPECT_EQ(mpeg_clip_list_total_frames(l, 1), 10 + 2 + 18);
    mpeg_clip_list_free(l);
  }
  {  // an effect without length, a length without effect: both go
    tsupport::TraceCapture trace;
    MPEG_Clip* l = build({{"a", 0, 10, 0, 0}, {"b", 0, 8, 4, 0}, {"c", 0, 8, 0, 3}});
    expect_records(l, {{"a", 0, 10, 0, 0}, {"b", 0, 8, 0, 0}, {"c", 0, 8, 0, 0}});
    EXPECT_TRUE(trace.contains("clip_update (Warning): inconsistency found (effect=4, transition=0)\n"));
    EXPECT_TRUE(trace.contains("clip_update (Warning): inconsistency found (effect=0, transitions=3)\n"));
    mpeg_clip_list_free(l);
  }
}

// A merge brought in a record whose transition was never checked; after the
// merge its empty or over-long neighbours must still be fitted.
TEST(ClipListUpdate, RecordAfterMergeIsCheckedToo) {
  MPEG_Clip* l = build({{"a", 0, 10, 0, 0}, {"a", 10, 2, 0, 0}, {"b", 0, 0, 0, 0}, {"c", 0, 5, 4, 40}}, false);
  clip_update(l);
  expect_records(l, {{"a", 0, 12, 0, 0}, {"c", 0, 5, 4, 5}});
  mpeg_clip_list_free(l);
}

// An offset past the full length clears the transition's effect with its
// length, so no record keeps an effect without frames.
TEST(ClipListUpdate, OffsetPastFullLengthClearsEffectToo) {
  MPEG_Clip* l = build({{"a", 0, 10, 0, 0}, {"b", 0, 8, 4, 3}}, false);
  l->next->set_transition_full(3);
  l->next->set_transition_offset(3);
  clip_update(l);
  expect_records(l, {{"a", 0, 10, 0, 0}, {"b", 0, 8, 0, 0}});
  mpeg_clip_list_free(l);
}

TEST(ClipListUpdate, RecordWithoutFramesIsReadAgain) {
  MPEG_Clip* l = build({{"a", 0, 10, 0, 0}, {"b", 0, 0, 0, 0}}, false);
  l->next->set_file_name(tsupport::fixture("st_m1.m1v").c_str());
  EXPECT_EQ(mpeg_clip_list_total_frames(l, 1), 10 + 75);
  EXPECT_EQ(l->next->clip_type, 2);
  mpeg_clip_list_free(l);
}

// The total is that of the renumbered list, not of the list before.
TEST(ClipListUpdate, TotalFramesAfterRenumbering) {
  MPEG_Clip* l = build({{"a", 0, 10, 0, 0}, {"b", 0, 8, 4, 30}}, false);
  EXPECT_EQ(mpeg_clip_list_total_frames(l, 1), 10 + 8 - 8);
  mpeg_clip_list_free(l);
}

TEST(ClipListCopy, RangesTable) {
  // a: edit 0..9; b (transition 4): edit 6..25, pairs at 6..9; c: 26..35
  struct Case {
    int start, count;
    std::vector<Rec> want;
    int total;
  } cases[] = {
      {0, 0, {{"a", 0, 10, 0, 0}, {"b", 100, 20, 4, 4}, {"c", 50, 10, 0, 0}}, 36},
      {2, 3, {{"a", 2, 3, 0, 0}}, 3},
      // starts inside the transition: a's tail, then b with the rest of it
      {7, 5, {{"a", 7, 3, 0, 0}, {"b", 101, 5, 4, 3}}, 5},
      // ends inside the transition: b keeps only the frames in range
      {3, 5, {{"a", 3, 5, 0, 0}, {"b", 100, 2, 4, 2}}, 5},
      // starts and ends inside it
      {7, 2, {{"a", 7, 2, 0, 0}, {"b", 101, 2, 4, 2}}, 2},
      // the last frame only, and past the end
      {35, 10, {{"c", 59, 1, 0, 0}}, 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.start);
    MPEG_Clip* l = build({{"a", 0, 10, 0, 0}, {"b", 100, 20, 4, 4}, {"c", 50, 10, 0, 0}});
    MPEG_Clip* c = clip_copy(l, k.start, k.count);
    ASSERT_NE(c, nullptr);
    expect_records(c, k.want);
    EXPECT_EQ(mpeg_clip_list_total_frames(c, 1), k.total);
    mpeg_clip_list_free(c);
    mpeg_clip_list_free(l);
  }
}

TEST(ClipListCopy, StartInsideTransitionGrowsOffset) {
  MPEG_Clip* l = build({{"a", 0, 10, 0, 0}, {"b", 100, 20, 4, 4}});
  MPEG_Clip* c = clip_copy(l, 8, 0);
  ASSERT_NE(c, nullptr);
  ASSERT_NE(c->next, nullptr);
  EXPECT_EQ(c->transition_length, 0);
  EXPECT_EQ(c->next->transition_length, 2);
  EXPECT_EQ(c->next->transition_offset(), 2);
  EXPECT_EQ(c->next->transition_full(), 4);
  mpeg_clip_list_free(c);
  mpeg_clip_list_free(l);
}

TEST(ClipListCut, Table) {
  struct Case {
    int start, count;
    std::vector<Rec> want;
  } cases[] = {
      // from frame 0: the back part becomes the head
      {0, 8, {{"a", 8, 2, 0, 0}, {"b", 102, 18, 4, 2}, {"c", 50, 10, 0, 0}}},
      // a range ending inside the transition shortens it
      {2, 5, {{"a", 0, 2, 0, 0}, {"a", 7, 3, 0, 0}, {"b", 101, 19, 4, 3}, {"c", 50, 10, 0, 0}}},
      // a range starting inside it keeps the pairs before the start
      {8, 10, {{"a", 0, 8, 0, 0}, {"b", 100, 2, 4, 2}, {"b", 112, 8, 0, 0}, {"c", 50, 10, 0, 0}}},
      // to the end
      {30, 0, {{"a", 0, 10, 0, 0}, {"b", 100, 20, 4, 4}, {"c", 50, 4, 0, 0}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.start);
    MPEG_Clip* l = build({{"a", 0, 10, 0, 0}, {"b", 100, 20, 4, 4}, {"c", 50, 10, 0, 0}});
    l = clip_cut(l, k.start, k.count);
    expect_records(l, k.want);
    mpeg_clip_list_free(l);
  }
}

TEST(ClipListCut, BadRangeKeepsList) {
  MPEG_Clip* l = build({{"a", 0, 10, 0, 0}});
  MPEG_Clip* before = clip_list_duplicate(l);
  tsupport::TraceCapture trace;
  for (int start : {-1, 10, 50}) {
    l = clip_cut(l, start, 3);
    EXPECT_FALSE(mpeg_clip_list_differs(l, before));
  }
  EXPECT_TRUE(trace.contains("clip_cut (ERROR): illegal range (start=-1, count=3)\n"));
  mpeg_clip_list_free(l);
  mpeg_clip_list_free(before);
}

TEST(ClipListInsert, Table) {
  struct Case {
    int at, effect, length;
    std::vector<Rec> want;
  } cases[] = {
      // at 0 the old head takes the transition
      {0, 4, 3, {{"x", 0, 5, 0, 0}, {"a", 0, 10, 4, 3}}},
      // after the last frame nothing is mixed
      {10, 4, 3, {{"a", 0, 10, 0, 0}, {"x", 0, 5, 0, 0}}},
      {99, 4, 3, {{"a", 0, 10, 0, 0}, {"x", 0, 5, 0, 0}}},
      // in the middle the back part takes it
      {4, 4, 3, {{"a", 0, 4, 0, 0}, {"x", 0, 5, 0, 0}, {"a", 4, 6, 4, 3}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.at);
    MPEG_Clip* l = build({{"a", 0, 10, 0, 0}});
    MPEG_Clip* x = build({{"x", 0, 5, 0, 0}});
    bool taken = false;
    l = clip_insert(l, x, k.at, k.effect, k.length, &taken);
    EXPECT_TRUE(taken);
    expect_records(l, k.want);
    mpeg_clip_list_free(l);
  }
}

// A refused insert used to hand back nil: the caller lost its list and the
// inserted one leaked. Both lists stay as they were.
TEST(ClipListInsert, RefusedInsertKeepsBothLists) {
  MPEG_Clip* l = build({{"a", 0, 10, 0, 0}});
  MPEG_Clip* x = build({{"x", 0, 5, 0, 0}});
  MPEG_Clip* before = clip_list_duplicate(l);
  bool taken = true;
  MPEG_Clip* r = clip_insert(l, x, -3, 0, 0, &taken);
  EXPECT_EQ(r, l);
  EXPECT_FALSE(taken);
  EXPECT_FALSE(mpeg_clip_list_differs(r, before));
  expect_records(x, {{"x", 0, 5, 0, 0}});
  mpeg_clip_list_free(r);
  mpeg_clip_list_free(x);
  mpeg_clip_list_free(before);
}

TEST(ClipListTransitions, InsertAndRemove) {
  {  // within 2 frames of a boundary marks the boundary
    MPEG_Clip* l = build({{"a", 0, 10, 0, 0}, {"b", 0, 10, 0, 0}});
    EXPECT_EQ(clip_insert_transitions(l, 11, 4, 5), 5);
    expect_records(l, {{"a", 0, 10, 0, 0}, {"b", 0, 10, 4, 5}});
    // an existing transition is left alone, also by a split inside it
    EXPECT_EQ(clip_insert_transitions(l, 10, 4, 2), 0);
    EXPECT_EQ(clip_insert_transitions(l, 6, 4, 2), 0);
    expect_records(l, {{"a", 0, 10, 0, 0}, {"b", 0, 10, 4, 5}});
    // inside the region: removed, its length returned
    EXPECT_EQ(clip_remove_transitions(l, 8), 5);
    expect_records(l, {{"a", 0, 10, 0, 0}, {"b", 0, 10, 0, 0}});
    mpeg_clip_list_free(l);
  }
  {  // elsewhere the clip is split
    MPEG_Clip* l = build({{"a", 0, 30, 0, 0}});
    EXPECT_EQ(clip_insert_transitions(l, 12, 4, 5), 5);
    expect_records(l, {{"a", 0, 12, 0, 0}, {"a", 12, 18, 4, 5}});
    EXPECT_EQ(mpeg_clip_list_total_frames(l, 1), 25);
    mpeg_clip_list_free(l);
  }
  {  // refusals
    MPEG_Clip* l = build({{"a", 0, 30, 0, 0}});
    for (auto [n, e, len] : {std::tuple{-1, 4, 5}, {29, 4, 5}, {10, 0, 5}, {10, 4, 0}})
      EXPECT_EQ(clip_insert_transitions(l, n, e, len), 0) << n;
    tsupport::TraceCapture trace;
    EXPECT_EQ(clip_remove_transitions(l, 5), 0);
    EXPECT_TRUE(trace.contains("clip_remove_transitions (ERROR: no effect): insert=5\n"));
    mpeg_clip_list_free(l);
  }
}

// Three frames before a boundary the record taken is the next one, which
// the frame is not in: splitting it there made a record of negative count.
TEST(ClipListTransitions, InsertJustBeforeBoundaryNeverSplitsOutsideRecord) {
  MPEG_Clip* l = build({{"a", 0, 4, 0, 0}, {"b", 0, 20, 0, 0}});
  // a ends at 3; the first record with N < L - 2 for N = 1 is b (L = 23).
  const int r = clip_insert_transitions(l, 1, 4, 5);
  for (const MPEG_Clip* c = l; c; c = c->next) EXPECT_GE(c->count, 1);
  EXPECT_EQ(mpeg_clip_list_total_frames(l, 1), 24 - r);
  mpeg_clip_list_free(l);
}

TEST(ClipListOverlays, AddAcrossClipsAndRemove) {
  MPEG_Clip* l = build({{"a", 100, 10, 0, 0}, {"b", 0, 10, 0, 0}});
  EXPECT_EQ(clip_add_overlay(l, 8, 6, 8), 1);
  ASSERT_EQ(l->overlays.size(), 1u);
  ASSERT_EQ(l->next->overlays.size(), 1u);
  const OverlayClip& a = l->overlays[0];
  const OverlayClip& b = l->next->overlays[0];
  EXPECT_EQ(a.position, 106);
  EXPECT_EQ(a.length, 4);
  EXPECT_EQ(a.effect_span, 8);
  EXPECT_EQ(a.effect_offset, 0);
  EXPECT_EQ(b.position, 0);
  EXPECT_EQ(b.length, 4);
  EXPECT_EQ(b.effect_offset, 4);
  EXPECT_EQ(clip_remove_transitions(l, 7), 4);
  EXPECT_TRUE(l->overlays.empty());
  mpeg_clip_list_free(l);
}

// An overlay holding an existing one whole (5..25 over 10..19) was accepted,
// so two overlays covered the same frames.
TEST(ClipOverlay, OverlayHoldingAnotherIsRefused) {
  Clip c;
  c.count = 100;
  ASSERT_EQ(c.insert_overlay(8, 10, 10), 1);
  EXPECT_EQ(c.insert_overlay(8, 5, 20), 0);
  EXPECT_EQ(c.insert_overlay(8, 20, 5), 1);
}

TEST(ClipOverlay, FittedToRange) {
  Clip c;
  c.count = 100;
  ASSERT_EQ(c.insert_overlay(8, 0, 10), 1);
  ASSERT_EQ(c.insert_overlay(8, 90, 10), 1);
  c.start = 4;
  c.count = 90;
  c.clip_overlays();
  ASSERT_EQ(c.overlays.size(), 2u);
  EXPECT_EQ(c.overlays[0].position, 4);
  EXPECT_EQ(c.overlays[0].length, 6);
  EXPECT_EQ(c.overlays[0].effect_offset, 4);
  EXPECT_EQ(c.overlays[1].length, 4);
  EXPECT_TRUE(c.overlay_reaches_end());
  c.count = 50;
  c.clip_overlays();
  EXPECT_EQ(c.overlays.size(), 1u);
  EXPECT_FALSE(c.overlay_reaches_end());
}

TEST(ClipListHelpers, PrepareAndSplit) {
  MPEG_Clip* l = build({{"a", 0, 10, 0, 0}, {"b", 0, 10, 0, 0}});
  l->clip_type = 1;
  l->next->clip_type = 1;
  EXPECT_EQ(clip_prepare_list(l), nullptr);
  MPEG_Clip* m = build({{"a", 0, 10, 0, 0}, {"b", 100, 10, 4, 6}});
  m->next->audio_stream_count = 1;
  clip_list_split_transitions(m);
  expect_records(m, {{"a", 0, 7, 0, 0}, {"b", 103, 7, 0, 0}});
  EXPECT_EQ(clip_list_count(m->next), 2);
  mpeg_clip_list_free(m);
}

}  // namespace

namespace {

int frame_of(uint32_t word, double rate) {
  SMPTE_TimeCode tc;
  tc.set_frame_rate(rate);
  tc.set_gop_bits(word);
  return tc.to_frame();
}

TEST(ClipListTimecodes, RunningTimeFromEachFilesFirstTimeCode) {
  MPEG_Clip* l = build({{"a", 0, 50, 0, 0}, {"b", 0, 40, 4, 10}, {"c", 0, 30, 0, 0}}, false);
  SMPTE_TimeCode hour;
  hour.set_frame_rate(25);
  hour.smpte_4_gop(25 * 3600);
  l->next->next->first_time_code = hour.to_gop_bits();
  clip_update(l);
  EXPECT_EQ(frame_of(l->tc_gop_bits, 25), 0);
  EXPECT_EQ(frame_of(l->next->tc_gop_bits, 25), 50);
  // movie time before c: 50 + 40 - 10 frames; c's own clock starts at 1 h
  EXPECT_EQ(frame_of(l->next->next->tc_gop_bits, 25), 25 * 3600 + 80);
  EXPECT_EQ(frame_of(mpeg_clip_get_timecode(l->next->next, 85), 25), 25 * 3600 + 85);
  // past the record: its last frame
  EXPECT_EQ(frame_of(mpeg_clip_get_timecode(l->next->next, 500), 25), 25 * 3600 + 109);
  EXPECT_EQ(mpeg_clip_get_timecode(l->next->next, 3), l->next->next->tc_gop_bits);
  mpeg_clip_list_free(l);
}

}  // namespace

// Counts claimed by damaged files (a QuickTime movie of 2^31 samples): the
// edit positions, the total and a merged record's count saturate at INT_MAX
// instead of overflowing.
TEST(ClipListUpdate, HugeCountsSaturate) {
  const int big = 2000000000;
  MPEG_Clip* l = build({{"a", 0, big, 0, 0}, {"b", 0, big, 0, 0}, {"c", 0, 10, 0, 0}});
  ASSERT_NE(l, nullptr);
  ASSERT_NE(l->next, nullptr);
  EXPECT_EQ(l->next->edit_position, big);
  EXPECT_EQ(l->next->next->edit_position, INT_MAX);
  EXPECT_EQ(mpeg_clip_list_total_frames(l, 0), INT_MAX);
  EXPECT_EQ(mpeg_clip_list_total_frames(l, 1), INT_MAX);
  mpeg_clip_list_free(l);
  MPEG_Clip* m = build({{"a", 0, big, 0, 0}, {"a", big, big, 0, 0}});
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->next, nullptr);
  EXPECT_EQ(m->count, INT_MAX);
  mpeg_clip_list_free(m);
}

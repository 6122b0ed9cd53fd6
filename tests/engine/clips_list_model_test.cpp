// Working clip list against a reference model: the movie as a plain list of
// (file, frame) entries, transition frames as pairs. Every copy, cut and
// paste is applied to both; the expanded list must equal the model after
// every step, and a refused step must change nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/clips/clip_list.h"

namespace {

struct Entry {
  int file_a = -1, frame_a = -1;  // the earlier clip of a pair, or the only one
  int file_b = -1, frame_b = -1;  // the later clip of a transition frame
  bool pair() const { return file_b >= 0; }
  bool operator==(const Entry&) const = default;
};
using Movie = std::vector<Entry>;

const char* const kFiles[] = {"/media/a.m2v", "/media/b b.m2v", "/media/c.m1v"};

int file_index(const MPEG_Clip* c) {
  for (int i = 0; i < 3; ++i)
    if (c->file_name == kFiles[i]) return i;
  return -1;
}

MPEG_Clip* make_clip(int file, int start, int count) {
  auto* c = new MPEG_Clip;
  c->clip_type = 3;
  c->set_file_name(kFiles[file]);
  c->start = start;
  c->count = count;
  c->video_stream_count = 1;
  c->frame_rate = 25;
  return c;
}

// The movie a list plays, frame by frame.
Movie expand(const MPEG_Clip* list) {
  Movie m;
  for (const MPEG_Clip* c = list; c; c = c->next) {
    const int f = clip_first_edit_frame(c);
    if (int(m.size()) < f + c->count) m.resize(size_t(f + c->count));
    for (int i = 0; i < c->count; ++i) {
      Entry& e = m[size_t(f + i)];
      if (i < c->transition_length) {
        e.file_b = file_index(c);
        e.frame_b = c->start + i;
      } else {
        e.file_a = file_index(c);
        e.frame_a = c->start + i;
      }
    }
  }
  return m;
}

// The list's own rule that changes a movie: a clip of one frame has no
// transition, so a lone transition frame whose later clip does not go on
// plays as two plain frames.
void normalise(Movie& m) {
  for (size_t i = 0; i < m.size(); ++i) {
    if (!m[i].pair()) continue;
    const int f = m[i].file_b, n = m[i].frame_b;
    // Neighbouring pairs of the same transition go on in both clips; a
    // pair whose earlier clip jumps belongs to another transition.
    auto same_transition = [&](size_t a, size_t b) {
      return m[a].pair() && m[b].pair() && m[a].file_a == m[b].file_a && m[a].frame_a + 1 == m[b].frame_a &&
             m[a].file_b == m[b].file_b && m[a].frame_b + 1 == m[b].frame_b;
    };
    const bool before = i > 0 && same_transition(i - 1, i);
    const bool after = i + 1 < m.size() &&
                       ((m[i + 1].file_a == f && m[i + 1].frame_a == n + 1) || same_transition(i, i + 1));
    if (before || after) continue;
    Entry later{f, n, -1, -1};
    m[i].file_b = m[i].frame_b = -1;
    m.insert(m.begin() + long(i) + 1, later);
  }
}

Movie slice(const Movie& m, int start, int end) {
  Movie s(m.begin() + start, m.begin() + end + 1);
  // A range that starts inside a transition keeps its pairs: the record
  // holding the start is the earlier clip of the pair.
  normalise(s);
  return s;
}

Movie join(Movie a, const Movie& b) {
  a.insert(a.end(), b.begin(), b.end());
  normalise(a);
  return a;
}

// Range rule shared by copy and cut: nullopt-like -1 end on refusal.
int range_end(const Movie& m, int start, int count) {
  const int last = int(m.size()) - 1;
  int end = start + count - 1;
  if (count == 0 || end > last) end = last;
  if (start < 0 || start > end) return -1;
  return end;
}

class ClipListModel : public ::testing::TestWithParam<unsigned> {};

MPEG_Clip* random_list(std::mt19937& rng) {
  MPEG_Clip* head = nullptr;
  const int n = 2 + int(rng() % 6);
  for (int i = 0; i < n; ++i) {
    // Drawn one by one: the order of function arguments is up to the compiler.
    const int length = 1 + int(rng() % 40);
    const int frame = int(rng() % 200);
    const int file = int(rng() % 3);
    MPEG_Clip* c = make_clip(file, frame, length);
    if (rng() % 2) {
      c->transition_id = 4;
      c->transition_length = 1 + int(rng() % 12);
    }
    MPEG_Clip* tail = clip_list_tail(head);
    clip_list_link(&head, &tail, c);
  }
  return clip_update(head);
}

TEST_P(ClipListModel, RandomCopyCutPasteMatchModel) {
  std::mt19937 rng(GetParam());
  MPEG_Clip* list = random_list(rng);
  Movie model = expand(list);
  ASSERT_EQ(int(model.size()), mpeg_clip_list_total_frames(list, 1));
  MPEG_Clip* clipboard = nullptr;
  Movie board;
  for (int step = 0; step < 400; ++step) {
    const int total = int(model.size());
    const int op = int(rng() % 3);
    // Mostly valid ranges, sometimes past either end.
    int start = int(rng() % unsigned(total + 4)) - 2;
    int count = int(rng() % 4) == 0 ? 0 : int(rng() % 30);
    SCOPED_TRACE("seed " + std::to_string(GetParam()) + " step " + std::to_string(step) + " op " +
                 std::to_string(op) + " start " + std::to_string(start) + " count " + std::to_string(count));
    MPEG_Clip* before = clip_list_duplicate(list);
    if (op == 0) {
      MPEG_Clip* copy = clip_copy(list, start, count);
      const int end = range_end(model, start, count);
      if (end < 0) {
        EXPECT_EQ(copy, nullptr);
      } else {
        ASSERT_NE(copy, nullptr);
        board = slice(model, start, end);
        EXPECT_EQ(expand(copy), board);
        EXPECT_EQ(mpeg_clip_list_total_frames(copy, 1), int(board.size()));
        mpeg_clip_list_free(clipboard);
        clipboard = copy;
      }
      EXPECT_FALSE(mpeg_clip_list_differs(list, before));
    } else if (op == 1) {
      const int end = range_end(model, start, count);
      if (end >= 0 && end - start + 1 == total) {
        mpeg_clip_list_free(before);
        continue;  // the movie keeps at least one frame
      }
      list = clip_cut(list, start, count);
      if (end < 0) {
        EXPECT_FALSE(mpeg_clip_list_differs(list, before));
      } else {
        Movie front = start > 0 ? slice(model, 0, start - 1) : Movie{};
        Movie back = end < total - 1 ? slice(model, end + 1, total - 1) : Movie{};
        model = join(front, back);
      }
    } else if (clipboard) {
      const int at = int(rng() % unsigned(total + 3)) - 1;
      bool taken = false;
      MPEG_Clip* pasted = clip_list_duplicate(clipboard);
      list = clip_insert(list, pasted, at, 0, 0, &taken);
      if (at < 0) {
        EXPECT_FALSE(taken);
        EXPECT_FALSE(mpeg_clip_list_differs(list, before));
        mpeg_clip_list_free(pasted);
      } else if (at == 0) {
        model = join(board, model);
      } else if (at >= total) {
        model = join(model, board);
      } else {
        model = join(join(slice(model, 0, at - 1), board), slice(model, at, total - 1));
      }
    }
    mpeg_clip_list_free(before);
    const Movie got = expand(list);
    for (size_t i = 0; i < std::min(got.size(), model.size()); ++i)
      ASSERT_EQ(got[i], model[i]) << "first difference at edit frame " << i << ": " << got[i].file_a << ":"
                                  << got[i].frame_a << "/" << got[i].file_b << ":" << got[i].frame_b << " vs "
                                  << model[i].file_a << ":" << model[i].frame_a << "/" << model[i].file_b << ":"
                                  << model[i].frame_b;
    ASSERT_EQ(got.size(), model.size());
    ASSERT_EQ(mpeg_clip_list_total_frames(list, 1), int(model.size()));
    ASSERT_EQ(list->prev, nullptr);
    for (const MPEG_Clip* c = list; c; c = c->next) {
      ASSERT_GE(c->count, 1);
      ASSERT_EQ(c->transition_id != 0, c->transition_length != 0);
      ASSERT_LE(c->transition_length, c->count);
      if (c->prev) {
        ASSERT_LE(c->transition_length, c->prev->count - c->prev->transition_length);
      }
      if (c->next) {
        ASSERT_EQ(c->next->prev, c);
      }
    }
  }
  mpeg_clip_list_free(list);
  mpeg_clip_list_free(clipboard);
}

INSTANTIATE_TEST_SUITE_P(Seeds, ClipListModel, ::testing::Range(1u, 61u));

}  // namespace

#include "engine/clips/clip_list.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "access/effects.h"
#include "engine/clips/clip_verify.h"
#include "foundation/timecode.h"
#include "foundation/trace.h"

namespace {

// Frame numbers are ints: sums of damaged records' counts stop at INT_MAX.
int saturated_sum(int64_t a, int64_t b) { return int(std::clamp<int64_t>(a + b, INT_MIN, INT_MAX)); }

bool has_video(const MPEG_Clip* c) { return c->video_stream_count > 0 || c->is_still_image(); }

void unlink(MPEG_Clip* c) {
  if (c->prev) c->prev->next = c->next;
  if (c->next) c->next->prev = c->prev;
  c->prev = c->next = nullptr;
}

void link_after(MPEG_Clip* at, MPEG_Clip* c) {
  c->prev = at;
  c->next = at->next;
  if (at->next) at->next->prev = c;
  at->next = c;
}

// Joins list b after list a; either may be nil.
MPEG_Clip* concat(MPEG_Clip* a, MPEG_Clip* b) {
  if (!a) return b;
  if (!b) return a;
  MPEG_Clip* t = clip_list_tail(a);
  t->next = b;
  b->prev = t;
  return a;
}

void clear_transition(MPEG_Clip* c) {
  c->transition_id = c->transition_length = 0;
  c->set_transition_full(0);
  c->set_transition_offset(0);
}

bool continues(const MPEG_Clip* r, const MPEG_Clip* s) {
  return s->transition_id == 0 && s->start == int64_t(r->start) + r->count && r->has_file && s->has_file &&
         r->file_name == s->file_name && r->audio_stream_id == s->audio_stream_id &&
         r->audio_pid == s->audio_pid && r->video_stream_id == s->video_stream_id &&
         r->video_pid == s->video_pid && r->clip_type == s->clip_type;
}

// Step 2.3: a transition needs both its effect and its length, and fits
// into both records.
void fit_transition(const MPEG_Clip* r, MPEG_Clip* s) {
  if (s->transition_id && s->transition_length <= 0) {
    trace("clip_update (Warning): inconsistency found (effect=%d, transition=0)\n", s->transition_id);
    clear_transition(s);
  } else if (s->transition_length && !s->transition_id) {
    trace("clip_update (Warning): inconsistency found (effect=0, transitions=%d)\n", s->transition_length);
    clear_transition(s);
  } else if (s->transition_length) {
    s->transition_length = std::min({s->transition_length, s->count, r->count - r->transition_length});
    if (s->count == 1 || s->transition_length <= 0) clear_transition(s);
  }
}

double record_rate(const MPEG_Clip* c) { return c->frame_rate > 1 ? c->frame_rate : 30000.0 / 1001.0; }

// The time code of a record's first edit frame: its file's own first time
// code moved on by the movie time before it; without video, drop-frame
// time at 29.97.
SMPTE_TimeCode timecode_base(const MPEG_Clip* c) {
  SMPTE_TimeCode tc;
  if (c->video_stream_count > 0) {
    tc.set_frame_rate(record_rate(c));
    tc.set_gop_bits(c->first_time_code);
  } else {
    tc.init(1);
  }
  return tc;
}

// Frame number and drop-frame flag of a file's first time code at a rate;
// files repeat from record to record, so the last answer is kept.
struct FirstTimecode {
  uint32_t word = 0;
  double rate = 0;
  int frame = 0;
  int drop = 0;
};

const FirstTimecode& first_timecode(uint32_t word, double rate) {
  thread_local FirstTimecode last;
  if (word != last.word || rate != last.rate) {
    SMPTE_TimeCode tc;
    tc.set_frame_rate(rate);
    tc.set_gop_bits(word);
    last = FirstTimecode{word, rate, tc.to_frame(), tc.get_drop_frame_flag()};
  }
  return last;
}

void set_timecode(MPEG_Clip* c, double seconds) {
  const bool video = c->video_stream_count > 0;
  const double rate = video ? record_rate(c) : 30000.0 / 1001.0;
  int base = 0, drop = 1;
  if (video) {
    const FirstTimecode& first = first_timecode(c->first_time_code, rate);
    base = first.frame;
    drop = first.drop;
  }
  c->tc_frame = saturated_sum(base, int64_t(std::min(seconds * rate + 0.5, 1e18)));
  // The word is worked out again only when what it depends on changed.
  uint64_t rate_bits;
  std::memcpy(&rate_bits, &rate, sizeof rate_bits);
  const uint64_t key = ((uint64_t(uint32_t(c->tc_frame)) << 32 | c->first_time_code) ^
                        (rate_bits * 0x9E3779B97F4A7C15ull) ^ uint64_t(video)) | 1;
  if (key == c->tc_key) return;
  SMPTE_TimeCode tc;
  tc.set_frame_rate(rate);
  tc.init(drop);
  tc.smpte_4_gop(c->tc_frame);
  c->tc_gop_bits = tc.to_gop_bits();
  c->tc_key = key;
}

}  // namespace

int clip_first_edit_frame(const MPEG_Clip* c) { return c->edit_position - c->transition_length; }
int clip_last_edit_frame(const MPEG_Clip* c) { return clip_first_edit_frame(c) + c->count - 1; }

void mpeg_clip_list_free(MPEG_Clip* list) {
  while (list) {
    MPEG_Clip* n = list->next;
    delete list;
    list = n;
  }
}

MPEG_Clip* clip_list_tail(MPEG_Clip* list) {
  while (list && list->next) list = list->next;
  return list;
}

void clip_list_link(MPEG_Clip** head, MPEG_Clip** tail, MPEG_Clip* c) {
  c->prev = *tail;
  c->next = nullptr;
  if (*tail) (*tail)->next = c;
  else *head = c;
  *tail = c;
}

int clip_list_count(const MPEG_Clip* any) {
  if (!any) return 0;
  while (any->prev) any = any->prev;
  int n = 0;
  for (; any; any = any->next) ++n;
  return n;
}

int mpeg_clip_list_differs(const MPEG_Clip* a, const MPEG_Clip* b) {
  for (; a && b; a = a->next, b = b->next)
    if (!a->equals(*b)) return 1;
  return a || b ? 1 : 0;
}

MPEG_Clip* clip_list_duplicate(const MPEG_Clip* list) {
  MPEG_Clip *head = nullptr, *tail = nullptr;
  for (; list; list = list->next) {
    auto* c = new MPEG_Clip(*list);
    c->keep_head_transition = list->keep_head_transition;
    c->index = list->index;
    c->tc_frame = list->tc_frame;
    c->tc_gop_bits = list->tc_gop_bits;
    clip_list_link(&head, &tail, c);
  }
  return head;
}

namespace {

// A transition needs the part of its effect not yet past: with an offset
// at or past the full length nothing is left, and the effect goes too.
void fit_effect_span(MPEG_Clip* c) {
  if (!c->transition_length) {
    c->set_transition_full(0);
    c->set_transition_offset(0);
    return;
  }
  if (c->transition_offset() < 0) c->set_transition_offset(0);
  c->set_transition_full(std::max(c->transition_full(), c->transition_length));
  if (c->transition_offset() >= c->transition_full()) clear_transition(c);
}

// The renumbering walk; returns the total frames. With reverify, a record
// without frames is read again from its file first.
int renumber(MPEG_Clip* list, bool reverify) {
  if (list->prev) {
    trace("clip_update (ERROR): the list has not been terminated at the start\n");
    list->prev->next = nullptr;
    list->prev = nullptr;
  }
  if (!list->keep_head_transition) {
    list->edit_position = 0;
    clear_transition(list);
  }
  int sum = 0, counter = 0;
  double seconds = 0;
  if (reverify && list->count < 1 && list->has_file) mpeg_clip_verify(list);
  for (MPEG_Clip* r = list;; r = r->next) {
    fit_effect_span(r);
    // Every successor is checked, also one that arrives through a merge,
    // so no empty record or over-long transition survives.
    while (MPEG_Clip* s = r->next) {
      if (reverify && s->count < 1 && s->has_file) mpeg_clip_verify(s);
      if (s->count < 1) {
        unlink(s);
        delete s;
        continue;
      }
      fit_transition(r, s);
      if (!continues(r, s)) break;
      r->count = saturated_sum(r->count, s->count);
      for (const OverlayClip& o : s->overlays) r->add_overlay_record(o);
      unlink(s);
      delete s;
    }
    r->index = counter++;
    r->edit_position = sum;
    sum = saturated_sum(sum, int64_t(r->count) - r->transition_length);
    if (!r->overlays.empty()) r->clip_overlays();
    set_timecode(r, seconds);
    seconds += (r->count - r->transition_length) / record_rate(r);
    if (!r->next) break;
  }
  return sum;
}

}  // namespace

MPEG_Clip* clip_update(MPEG_Clip* list) {
  if (!list) {
    trace("clip_update (ERROR): clip=nil\n");
    return nullptr;
  }
  renumber(list, false);
  return list;
}

int mpeg_clip_list_total_frames(MPEG_Clip* list, int update) {
  if (!list) return 0;
  // Records without frames are read again from their files and the list is
  // renumbered first, so the sum is that of the list as it now stands.
  if (update) return renumber(list, true);
  int sum = 0;
  for (const MPEG_Clip* c = list; c; c = c->next) sum = saturated_sum(sum, int64_t(c->count) - c->transition_length);
  return sum;
}

MPEG_Clip* clip_copy(MPEG_Clip* list, int start, int count) {
  if (!list) {
    trace("clip_copy (ERROR): list=nil\n");
    return nullptr;
  }
  const int last = mpeg_clip_list_total_frames(list, 1) - 1;
  int end = start + count - 1;
  if (count == 0 || end > last) end = last;
  if (start < 0 || start > end) {
    if (has_video(list)) {
      trace("clip_copy (ERROR): illegal copy range (start=%d, count=%d)\n", start, count);
      return nullptr;
    }
    start = 0;
    end = last;
  }
  MPEG_Clip* k = list;
  while (k && start > clip_last_edit_frame(k) && has_video(k)) k = k->next;
  if (!k) {
    trace("clip_copy (ERROR): starting frame (%d) is NOT in the Clip list\n", start);
    return nullptr;
  }
  // First record: frames from start on.
  auto* head = new MPEG_Clip(*k);
  const int skip = start - clip_first_edit_frame(k);
  head->start += skip;
  head->count -= skip;
  if (head->transition_length) head->set_transition_offset(head->transition_offset() + skip);
  int carry = 0;
  if (k->next && start > clip_first_edit_frame(k->next)) carry = start - clip_first_edit_frame(k->next);

  MPEG_Clip* tail = head;
  const MPEG_Clip* src = k;
  while (end > clip_last_edit_frame(src) && src->next) {
    src = src->next;
    auto* c = new MPEG_Clip(*src);
    link_after(tail, c);
    tail = c;
  }
  // The last copy ends at edit frame end.
  tail->count -= clip_last_edit_frame(src) - end;
  // The range reaches into the next record's transition: keep the frames of
  // that record that lie in the range.
  if (src->next && end >= clip_first_edit_frame(src->next)) {
    auto* c = new MPEG_Clip(*src->next);
    c->transition_length = end - clip_first_edit_frame(src->next) + 1;
    c->count = c->transition_length;
    link_after(tail, c);
    tail = c;
  }
  if (carry && head->next) {
    MPEG_Clip* second = head->next;
    second->start += carry;
    second->count -= carry;
    second->transition_length -= carry;
    if (second->transition_length > 0) second->set_transition_offset(second->transition_offset() + carry);
  }
  return clip_update(head);
}

namespace {

// Splits a renumbered list so that the front plays edit frames 0 .. N - 1
// and the back the frames from N on, as a copy of each would: the record
// holding N is cut in two (the back's part without its transition) and
// transition frames before N stay in the front as a record of their own.
// Either part may come back nil.
MPEG_Clip* split_list(MPEG_Clip* list, int n, MPEG_Clip** back) {
  *back = nullptr;
  if (!list) return nullptr;
  if (n <= 0) {
    *back = list;
    return nullptr;
  }
  MPEG_Clip* k = list;
  while (k && n > clip_last_edit_frame(k)) k = k->next;
  if (!k) return list;
  const int f = clip_first_edit_frame(k);
  MPEG_Clip* next = k->next;
  if (n == f) {
    // A plain boundary (no transition into k, or n would lie in k - 1).
    if (k->prev) k->prev->next = nullptr;
    k->prev = nullptr;
    *back = k;
    return k == list ? nullptr : list;
  }
  const int front_count = n - f;
  auto* rest = new MPEG_Clip(*k);
  rest->start += front_count;
  rest->count -= front_count;
  clear_transition(rest);
  k->count = front_count;
  k->clip_overlays();
  rest->clip_overlays();
  // Transition frames of the next record that lie before n stay in front.
  if (next && n > clip_first_edit_frame(next)) {
    const int carry = n - clip_first_edit_frame(next);
    auto* pairs = new MPEG_Clip(*next);
    pairs->transition_length = carry;
    pairs->count = carry;
    pairs->edit_position = n;
    pairs->clip_overlays();
    next->start += carry;
    next->count -= carry;
    next->transition_length -= carry;
    if (next->transition_length > 0) next->set_transition_offset(next->transition_offset() + carry);
    next->clip_overlays();
    k->next = pairs;
    pairs->prev = k;
    pairs->next = nullptr;
  } else {
    k->next = nullptr;
  }
  rest->next = next;
  rest->prev = nullptr;
  if (next) next->prev = rest;
  *back = rest;
  return list;
}

}  // namespace

MPEG_Clip* clip_cut(MPEG_Clip* list, int start, int count) {
  if (!list) return nullptr;
  const int last = mpeg_clip_list_total_frames(list, 1) - 1;
  int end = start + count - 1;
  if (count == 0 || end > last) end = last;
  if (start < 0 || start > end) {
    trace("clip_cut (ERROR): illegal range (start=%d, count=%d)\n", start, count);
    return list;
  }
  // Front keeps the frames before start (with the transition frames of the
  // following record before start), back the frames after end.
  MPEG_Clip* back = nullptr;
  MPEG_Clip* front = split_list(list, end + 1, &back);
  MPEG_Clip* middle = nullptr;
  front = split_list(front, start, &middle);
  mpeg_clip_list_free(middle);
  MPEG_Clip* joined = concat(front, back);
  return joined ? clip_update(joined) : nullptr;
}

MPEG_Clip* clip_insert(MPEG_Clip* list, MPEG_Clip* inserted, int frame, int effect_id, int length,
                       bool* inserted_taken) {
  if (inserted_taken) *inserted_taken = false;
  if (!list || !inserted) {
    trace("clip_insert (ERROR): nil input(s)\n");
    return list;
  }
  const int total = mpeg_clip_list_total_frames(list, 1);
  if (frame < 0) {
    trace("clip_insert (ERROR): insertion point (%d) is out of range (0-%d)\n", frame, total);
    return list;
  }
  inserted->prev = nullptr;
  MPEG_Clip* result = nullptr;
  if (frame == 0) {
    list->transition_id = effect_id;
    list->transition_length = length;
    if (!effect_id || length <= 0) clear_transition(list);
    result = concat(inserted, list);
  } else if (frame >= total) {
    result = concat(list, inserted);
  } else {
    MPEG_Clip* back = nullptr;
    MPEG_Clip* front = split_list(list, frame, &back);
    back->transition_id = effect_id;
    back->transition_length = length;
    if (!effect_id || length <= 0) clear_transition(back);
    result = concat(concat(front, inserted), back);
  }
  if (inserted_taken) *inserted_taken = true;
  return clip_update(result);
}

int clip_insert_transitions(MPEG_Clip* list, int frame, int effect_id, int length) {
  if (!list) {
    trace("clip_insert_transitions (ERROR): clip=nil\n");
    return 0;
  }
  const int last = mpeg_clip_list_total_frames(list, 1) - 1;
  if (frame < 0 || frame >= last || length <= 0 || effect_id == 0) {
    trace("clip_insert_transitions (ERROR): insert=%d, length=%d, effect=%d\n", frame, length, effect_id);
    return 0;
  }
  MPEG_Clip* k = list;
  while (k && !(frame < clip_last_edit_frame(k) - 2)) k = k->next;
  if (!k) {
    trace("clip_insert_transitions (ERROR): insert=%d, length=%d, effect=%d\n", frame, length, effect_id);
    return 0;
  }
  if (frame >= k->edit_position - 2 && frame <= k->edit_position + 2) {
    if (k->transition_length || k == list) return 0;
    // The new transition fits beside the one that leaves this record; the
    // existing one is never shortened by it.
    const int room = k->count - (k->next ? k->next->transition_length : 0);
    if (std::min(length, room) < 1) return 0;
    k->transition_id = effect_id;
    k->transition_length = std::min(length, room);
    clip_update(list);
    return k->transition_length;
  }
  // A split inside the record's own transition frames (or before them)
  // would leave the front part shorter than its transition.
  if (frame < k->edit_position) {
    trace("clip_insert_transitions (ERROR): insert=%d, length=%d, effect=%d\n", frame, length, effect_id);
    return 0;
  }
  const int front_count = frame - clip_first_edit_frame(k);
  const int back_count = k->count - front_count;
  // Splitting inside the transition that leaves this record would shorten
  // that transition: refused.
  if (k->next && k->next->transition_length > back_count - std::min(length, back_count)) {
    trace("clip_insert_transitions (ERROR): insert=%d, length=%d, effect=%d\n", frame, length, effect_id);
    return 0;
  }
  auto* back = new MPEG_Clip(*k);
  back->start = k->start + front_count;
  back->count = k->count - front_count;
  k->count = front_count;
  back->overlays.clear();
  for (const OverlayClip& o : k->overlays) back->add_overlay_record(o);
  back->clip_overlays();
  k->clip_overlays();
  back->transition_id = effect_id;
  back->transition_length = std::min(length, back->count);
  back->set_transition_full(0);
  back->set_transition_offset(0);
  link_after(k, back);
  clip_update(list);
  return back->transition_length;
}

int clip_remove_transitions(MPEG_Clip* list, int frame) {
  if (!list) {
    trace("clip_remove_transitions (ERROR): clip=nil\n");
    return 0;
  }
  const int last = mpeg_clip_list_total_frames(list, 1) - 1;
  if (frame == last + 1) frame = last;
  if (frame > last || frame < 0) {
    trace("clip_remove_transitions (ERROR): insert=%d\n", frame);
    return 0;
  }
  MPEG_Clip* k = list;
  while (k->next && frame > clip_last_edit_frame(k)) k = k->next;
  const int l = clip_last_edit_frame(k);
  if (k->next && k->next->transition_length && frame > l - k->next->transition_length && frame <= l) {
    const int removed = k->next->transition_length;
    clear_transition(k->next);
    clip_update(list);
    return removed;
  }
  if (k->overlays.empty()) {
    trace("clip_remove_transitions (ERROR: no effect): insert=%d\n", frame);
    return 0;
  }
  return k->remove_overlay_at(k->start + frame - clip_first_edit_frame(k));
}

namespace {

int add_overlay_spans(MPEG_Clip* list, int frame, int length, const OverlayClip& model) {
  if (!list) return 0;
  for (MPEG_Clip* c = list; c; c = c->next) {
    const int f = clip_first_edit_frame(c), n = c->count;
    if (f >= frame + length) break;
    const int from = std::max(frame, f), to = std::min(frame + length, f + n);
    if (to <= from) continue;
    OverlayClip o = model;
    o.position = c->start + from - f;
    o.length = to - from;
    o.effect_span = length;
    o.effect_offset = from - frame;
    c->add_overlay_record(o);
    c->clip_overlays();
  }
  return 1;
}

}  // namespace

int clip_add_overlay(MPEG_Clip* list, int effect_id, int frame, int length) {
  return add_overlay_spans(list, frame, length, OverlayClip(0, 0, effect_id));
}

int clip_add_overlay_at(MPEG_Clip* list, const char* image_file, int kind, int value, int frame, int length) {
  OverlayClip model(0, 0, value);
  model.kind = kind;
  if (image_file && model.set_image_file(image_file)) return list ? 1 : 0;
  return add_overlay_spans(list, frame, length, model);
}

MPEG_Clip* clip_prepare_list(MPEG_Clip* list) {
  bool removed = false;
  MPEG_Clip* head = list;
  for (MPEG_Clip* c = list; c;) {
    MPEG_Clip* n = c->next;
    if (c->clip_type == 1) {
      if (c == head) head = n;
      unlink(c);
      delete c;
      removed = true;
    }
    c = n;
  }
  if (head && removed) head = clip_update(head);
  return head;
}

void mpeg_clip_split_transition(MPEG_Clip* c) {
  if (!c->transition_id && c->overlays.empty()) return;
  int rest = c->transition_length;
  if (c->prev && !(c->audio_stream_count == 0 && effect_op_is_title(c->transition_id))) {
    const int half = c->transition_length / 2;
    if (c->prev->count > half) {
      c->prev->count -= half;
      c->prev->clip_overlays();
      rest -= half;
    }
  }
  c->edit_position -= rest;
  c->count -= rest;
  c->start += rest;
  clear_transition(c);
  c->clip_overlays();
}

void clip_list_split_transitions(MPEG_Clip* list) {
  if (!list) return;
  for (MPEG_Clip* c = list->next; c; c = c->next)
    if (c->transition_length) mpeg_clip_split_transition(c);
  clip_update(list);
}

bool mpeg_clip_has_non_image_overlay(const MPEG_Clip* c) {
  for (const OverlayClip& o : c->overlays)
    if (o.kind != 11 && o.kind != 12) return true;
  return false;
}

uint32_t mpeg_clip_get_timecode(const MPEG_Clip* c, int frame) {
  if (frame < c->edit_position) return c->tc_gop_bits;
  const int last = c->edit_position + c->count - c->transition_length;
  if (frame > last) frame = last - 1;
  SMPTE_TimeCode tc = timecode_base(c);
  int base = c->tc_frame;
  if (base < 0) {
    tc.set_gop_bits(c->tc_gop_bits);
    base = tc.to_frame();
  }
  tc.smpte_4_gop(base + frame - c->edit_position);
  return tc.to_gop_bits();
}

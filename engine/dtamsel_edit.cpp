// Edits of the working list. Each replaces the list through the list
// functions, then shows a sensible frame of the new list.
#include <algorithm>
#include <cmath>

#include "access/dtv.h"
#include "access/effects.h"
#include "engine/clips/clip_list.h"
#include "engine/dtamsel.h"
#include "foundation/trace.h"

void DTamsel::list_changed(MPEG_Clip* head) {
  list_ = head;
  current_ = head;
  in_transition_ = 0;
  second_clip_ = nullptr;
  min_rates_known_ = false;  // they follow the head clip
  update_clip_bounds();
  audio_player_update();
}

MPEG_Clip* DTamsel::copy(int start, int count) {
  if (!list_) return nullptr;
  const int last = get_end_offset();
  int end = start + count - 1;
  if (count < 1) {
    end = last;
    count = end - start + 1;
    if (count < 1) {
      start = end;
      count = 1;
    }
  }
  if (start < 0 || start > end || end > last) {
    trace("DTamsel::copy (ERROR: %d-%d:=%d): invalid range.\n", start, end, count);
    start = 0;
    count = std::max(1, last + 1);
  }
  return clip_copy(list_, start, count);
}

MPEG_Clip* DTamsel::copy_time(double start, double length) {
  const int s = (start == start && start != 0) ? time_2_frame(start) : 0;
  if (!(length == length) || length == 0) return copy(s, 0);
  // A duration is a number of frames at the rate where it starts.
  return copy(s, time_2_frame(start + length) - s);
}

int DTamsel::cut(int start, int count) {
  if (!list_) return 0;
  const int p = get_curr_frame_offset();
  const int last = get_end_offset();
  int end = start + count - 1;
  if (count == 0) {
    end = last;
    count = end - start + 1;
  }
  if (start < 0 || count < 1 || start > end || end > last) {
    trace("DTamsel::cut (ERROR: %d-%d:=%d): invalid range.\n", start, end, count);
    return 0;
  }
  // Nothing would be left to show.
  if (start <= 0 && end >= last) {
    trace("DTamsel::cut (ERROR: %d-%d:=%d): can't cut the whole list\n", start, end, count);
    return 0;
  }
  MPEG_Clip* head = clip_cut(list_, start, count);
  if (!head) return 0;
  list_changed(head);
  const int show = p > end ? p - count : (p >= start ? start : p);
  search(show, 1, 1);
  return 1;
}

int DTamsel::paste(MPEG_Clip* inserted, int frame, int effect_id, int length) {
  if (!list_ || !inserted) return 0;
  const int n = mpeg_clip_list_total_frames(inserted, 0);
  const int p = get_curr_frame_offset();
  bool taken = false;
  MPEG_Clip* head = clip_insert(list_, inserted, frame, effect_id, length, &taken);
  if (!head || !taken) {
    if (head) list_ = head;
    return 0;
  }
  list_changed(head);
  search(p < frame ? p : p + n, 1, 1);
  return 1;
}

int DTamsel::paste_time(MPEG_Clip* inserted, double t, int effect_id, double seconds) {
  const int n = (t == t && t > 0) ? time_2_frame(t) : 0;
  const int length = effect_id > 0 && seconds > 0 ? time_2_frame(t + seconds) - n : 0;
  return paste(inserted, n, effect_id, length);
}

int DTamsel::replace(const MPEG_Clip* list) {
  if (!list || !list_) return 0;
  if (!mpeg_clip_list_differs(list_, list)) return 1;
  MPEG_Clip* fresh = clip_list_duplicate(list);
  if (!fresh) return 0;
  fresh = clip_prepare_list(fresh);
  if (!fresh || mpeg_clip_list_total_frames(fresh, 1) < 1) {
    mpeg_clip_list_free(fresh);
    return 0;
  }
  const int p = get_curr_frame_offset();
  if (open_main(fresh)) {
    trace("DTamsel::replace (): failed in DTV::new_clip () for:\n");
    mpeg_clip_list_free(fresh);
    // The frame access may have lost its clip: show the old list again.
    search(p, 0, 1);
    return 0;
  }
  second_.reset();
  MPEG_Clip* old = list_;
  list_changed(fresh);
  // The main frame access already holds the new head.
  current_ = fresh;
  mpeg_clip_list_free(old);
  search(p, 1, 0);
  return 1;
}

int DTamsel::insert_transitions(int frame, int effect_id, int length) {
  const EffectOp op = effect_op_get(effect_id);
  if (!op) {
    trace("DTamsel::insert_transitions (ERROR): no operator found for effect id = %d\n", effect_id);
    return 0;
  }
  if (!list_) return 0;
  const unsigned kind = op(0, 0, nullptr, nullptr, nullptr, nullptr, 0, 0);
  const int p = get_curr_frame_offset();
  if (kind == 1) {
    if (!clip_add_overlay(list_, effect_id, frame, length)) return 0;
    search(p, 1, 1);
    return length;
  }
  const int r = clip_insert_transitions(list_, frame, effect_id, length);
  if (!r) return 0;
  list_changed(list_);
  search(p, 1, 1);
  return r;
}

double DTamsel::insert_transitions_time(double t, int effect_id, double seconds) {
  const int n = (t == t && t != 0) ? time_2_frame(t) : 0;
  const int length = (seconds == seconds && seconds != 0) ? time_2_frame(t + seconds) - n : 0;
  return insert_transitions(n, effect_id, length) ? seconds : 0.0;
}

int DTamsel::remove_transitions(int frame) {
  if (!list_) return 0;
  const int p = get_curr_frame_offset();
  const int r = clip_remove_transitions(list_, frame);
  if (!r) return 0;
  list_changed(list_);
  search(p, 1, 1);
  return r;
}

int DTamsel::add_overlay(const char* image_file, int kind, int value, int frame, int length) {
  if (!list_) return 0;
  const int p = get_curr_frame_offset();
  if (!clip_add_overlay_at(list_, image_file, kind, value, frame, length)) return 0;
  search(p, 1, 1);
  return 1;
}

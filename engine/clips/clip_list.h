// The working clip list: a doubly linked list of MPEG_Clip records that
// every edit addresses by edit-frame numbers (0 = first frame of the movie).
//
// Record k with count n and transition length T plays edit frames
// F = P - T .. F + n - 1, where P (its edit_position) is the sum of n - T
// over the records before it; frames F .. P - 1 mix the end of record k - 1
// with the start of record k.
#pragma once

#include <cstdint>

#include "access/clip.h"

void mpeg_clip_list_free(MPEG_Clip* list);
// Sum of (count - transition) over the list; with update, the list is
// renumbered first so the sum is that of the list as it now stands.
int mpeg_clip_list_total_frames(MPEG_Clip* list, int update);
int clip_list_count(const MPEG_Clip* any);
int mpeg_clip_list_differs(const MPEG_Clip* a, const MPEG_Clip* b);
MPEG_Clip* clip_prepare_list(MPEG_Clip* list);
void clip_list_split_transitions(MPEG_Clip* list);
// Deep copy of a whole list, links rebuilt.
MPEG_Clip* clip_list_duplicate(const MPEG_Clip* list);
MPEG_Clip* clip_list_tail(MPEG_Clip* list);
// Links c at the tail of a list being built (head and tail nil when empty).
void clip_list_link(MPEG_Clip** head, MPEG_Clip** tail, MPEG_Clip* c);

// First and last edit frame a record plays.
int clip_first_edit_frame(const MPEG_Clip* c);
int clip_last_edit_frame(const MPEG_Clip* c);

// Restores the list's invariants and renumbers it; returns the head. An
// empty head is the caller's to avoid: every operation here keeps one.
MPEG_Clip* clip_update(MPEG_Clip* list);

MPEG_Clip* clip_copy(MPEG_Clip* list, int start, int count);
MPEG_Clip* clip_cut(MPEG_Clip* list, int start, int count);
// On refusal the list comes back unchanged and the inserted list stays the
// caller's (*inserted_taken = false).
MPEG_Clip* clip_insert(MPEG_Clip* list, MPEG_Clip* inserted, int frame, int effect_id, int length,
                       bool* inserted_taken = nullptr);
int clip_insert_transitions(MPEG_Clip* list, int frame, int effect_id, int length);
int clip_remove_transitions(MPEG_Clip* list, int frame);
int clip_add_overlay(MPEG_Clip* list, int effect_id, int frame, int length);
int clip_add_overlay_at(MPEG_Clip* list, const char* image_file, int kind, int value, int frame, int length);

// Turns the record's transition into a plain cut (half from each side).
void mpeg_clip_split_transition(MPEG_Clip* c);
bool mpeg_clip_has_non_image_overlay(const MPEG_Clip* c);
// GOP-header time-code word of edit frame N of the record.
uint32_t mpeg_clip_get_timecode(const MPEG_Clip* c, int frame);

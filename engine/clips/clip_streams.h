// The streams of a clip: elementary-stream records and stream descriptions
// of its file, the timing of a clip in seconds, and the conversion of a
// video clip list into the audio clip list the audio side plays.
#pragma once

#include "access/clip.h"
#include "foundation/es_data.h"

// Video timing, from the video frame period (video facts loaded first).
double clip_get_video_frame_period(Clip* c);
double clip_get_video_time_of(Clip* c);
double clip_get_video_start_time(Clip* c);
double clip_get_video_transition_time(Clip* c);
double clip_get_video_time_without_transition(Clip* c);
// Audio timing, from the audio frame period (audio facts worked out first).
double clip_get_frame_period(Clip* c);
double clip_get_length_time(Clip* c);
double clip_get_time_of(Clip* c);
double clip_get_transition_time(Clip* c);
double clip_get_time_without_transition(Clip* c);
// Sets the frame count within the stream; the count set.
int clip_set_count(Clip* c, int n);

int clip_get_video_es_info(Clip* c, ClipInfo* out, int n);
int clip_get_audio_es_info(Clip* c, ClipInfo* out, int n);
int clip_get_es_info(Clip* c, ClipInfo* out, int n);

int mpeg_clip_get_es_data(const MPEG_Clip* c, ESData* out, int capacity);
int mpeg_clip_get_video_es_data(MPEG_Clip* c, ESData* out);
int mpeg_clip_get_audio_es_data(MPEG_Clip* c, ESData* out);

// A new list of the clips in audio frames: transitions become plain cuts,
// and each clip's audio never drifts from its video by a frame or more.
// Layer 0 counts AC-3 frames (1536 samples), 1 frames of 384, others 1152.
MPEG_Clip* mpeg_clip_get_audio_range(MPEG_Clip* list, int sample_rate, int layer, double frame_rate);
void mpeg_clip_video_2_audio(MPEG_Clip* c, int sample_rate, int layer, double frame_rate);

// A new list with audio track `index` (the file's audio streams in order) in
// every clip, or null when a clip lacks that track or its track differs from
// the first clip's (rate, channels, layer, bit rate, coding).
MPEG_Clip* mpeg_clip_select_audio_track(const MPEG_Clip* list, int index);

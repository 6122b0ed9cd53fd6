// Summary queries over a whole clip list: which clip's video or audio
// format covers most of the movie, and whether every clip shares one audio
// format. The save path and the editor choose output formats with them.
#pragma once

#include "access/clip.h"

// Index of the clip that starts the longest group of clips whose video
// streams share every parameter (duration: frame period x count; the
// earlier group wins a tie), its description in *out; -1 when no clip has
// video.
int clip_get_longest_video_es_info(const MPEG_Clip* list, ClipInfo* out);
// The same over MPEG audio streams (ids 0xC0..0xDF), by clip length in
// seconds; -1 when no clip has one.
int clip_get_longest_audio_es_info(const MPEG_Clip* list, ClipInfo* out);
// 1 when every clip has an audio stream (id 0x80..0xDF) and all share its
// format (rate, channels, layer, bit rate, coding); 0 otherwise.
int clip_find_reference_audio_clip(const MPEG_Clip* list);
// The same; *at is the index of the first clip that breaks the shared
// format (-1 when none does), its description in *info when asked.
int clip_find_reference_audio_clip_at(const MPEG_Clip* list, int* at, ClipInfo* info);

// Verified clips: what a media file is, which streams it carries and how
// many frames it has, checked against a clip's range and transition.
#pragma once

#include <optional>

#include "access/clip.h"
#include "audio/dalist.h"
#include "foundation/engine_error.h"

// Builds a verified clip through the process-wide cache (keyed by canonical
// path, size and modification time); nothing (and *error filled) when the
// file is no media file the editor opens.
std::optional<Clip> clip_ctor(const char* file_name, int start, int count, int audio_stream_id, int clip_type,
                              EngineError* error = nullptr);
// Verifies the clip against its file; 1 when usable.
int clip_verification(Clip* c);
// Another video or audio stream of a verified MPEG clip with two or more of
// them (PID 0: by stream id); 1 when the choice changed. A new video stream
// sets the range to the whole stream.
int clip_select_video_stream(Clip* c, int stream_id, int pid);
int clip_select_audio_stream(Clip* c, int stream_id, int pid);
// Audio frame facts from the file (period, length, frame total).
void clip_set_abs_parameters(Clip* c);
// Clears the type and verifies again; the clip type, 0 on failure.
int mpeg_clip_verify(MPEG_Clip* c);
// Frames a still plays for at a rate.
int get_still_image_frames(double frame_rate);
// Entries of the verified-clip cache, and how many files were read to build
// them (a second verification of an unchanged file reads none).
int clip_cache_count();
long clip_cache_verifications();

// The MPEG audio frames of an elementary stream as `audio` lists them: the
// first frame confirmed by a same-stream header one frame later, then frame
// by frame, resynchronising on the stream's header after junk.
#pragma once

#include <cstdint>
#include <functional>

#include "devtool/file_window.h"
#include "foundation/audio_header.h"

// Calls each(offset, header) for every whole frame, in order, until it
// returns false. Returns the frames visited, or -1 when the file holds no
// MPEG audio frame at all.
long long walk_audio_frames(FileWindow& w, const std::function<bool(uint64_t, const FrmHdr&)>& each);

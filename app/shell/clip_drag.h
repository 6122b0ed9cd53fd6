// What a clip dragged from a clip list carries: which list of this
// process and which row, never a pointer, so a drop from another running
// copy of the program is told apart and refused.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* kClipDragMimeType = "application/x-mpeg-tamsel-clip";

struct ClipDragPayload {
  int64_t process_id = 0;
  int32_t view_id = 0;
  int32_t row = -1;
};

// A payload of this process for a list and a row.
ClipDragPayload make_clip_drag(int view_id, int row);
std::string encode_clip_drag(const ClipDragPayload& payload);
// false for malformed data, a negative row and another process's drag.
bool decode_clip_drag(const std::string& data, ClipDragPayload* out);

// What the frame and walk commands share: their arguments, opening the clip
// through frame access and writing the frame shown.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class DTV;
class Frame;

struct FrameAccessArgs {
  std::string file, out;
  std::vector<long long> numbers;
  bool has_clip = false;
  int first = 0, last = -1, size_mode = 0, mode = 25;
};

// Parses FILE, numbers and the options; 0, or 2 after a usage error naming
// what was wrong.
int frame_access_parse(const char* name, int argc, char** argv, FrameAccessArgs* a);
// Opens the clip and checks the numbers and the clip range against it; null
// (with a message) on failure.
std::unique_ptr<DTV> frame_access_open(const FrameAccessArgs& a);
// Writes a frame's planes at display size as planar YUV; false when the
// write failed.
bool frame_write_planar(const Frame* frame, FILE* out);
// Writes the shown frame and prints its line; false when the write failed.
bool frame_access_emit(DTV* dtv, FILE* out);

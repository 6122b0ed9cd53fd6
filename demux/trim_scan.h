// State of the start-cut scan that every demultiplexer runs over the first
// bytes of a segment beginning at a GOP: which pictures lead the GOP, where
// its headers sit and which bytes belong to B pictures that refer back into
// the part that was cut away. Offsets count from the start of the segment;
// -1 means not met.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class BSFile;

struct TrimScan {
  int i_pictures = 0;
  int64_t first_header = -1;  // first sequence, GOP or picture start code
  int ip_pictures = 0;        // I and P pictures from the first I picture on
  int b_pictures = 0;         // B pictures after the first I picture
  int64_t first_b = -1;
  // Where blanking stops: the second I or P picture, or a sequence or GOP
  // header met first. The scan is over once it is set.
  int64_t end = -1;
  int sequence_seen = 0;
  int gop_seen = 0;
  int closed_gop = 0;
  int64_t gop_offset = -1;
  int b_fields = 0;  // fields the B pictures display
  int open_field = 0;  // the last picture was the first field of a frame
  // Input: progressive_sequence of the stream, for the B pictures' fields.
  int progressive_sequence = 1;

  bool done() const { return end >= 0; }
  // The leading B pictures refer into the removed part and must be blanked.
  bool needs_blanking() const {
    return (!gop_seen || !closed_gop) && b_pictures > 0 && first_b >= 0 && first_b != end;
  }
};

// Bytes the scan needs behind a picture start code, in every container: the
// header alone for MPEG-1 video, the header and its coding extension for
// MPEG-2.
inline int trim_min_picture_bytes(bool mpeg2) { return mpeg2 ? 32 : 9; }

// The file of a demultiplexer opened for update; null with a trace when it
// cannot be (lists of files are read-only).
std::unique_ptr<BSFile> demux_open_for_update(const std::string& name, const char* who);

// Description of one video stream, filled from its sequence header and first
// GOP by the readers and compared by the writers to decide whether clips can
// be joined without re-encoding.
#pragma once

#include <cstdint>

struct VideoInfo {
  VideoInfo();
  VideoInfo(const VideoInfo&) = default;
  VideoInfo& operator=(const VideoInfo&) = default;

  // 1 when both describe the same coding format (and the same stream: by
  // PID when this one has a PID, else by stream id); 0 otherwise.
  int operator==(const VideoInfo& other) const;
  int operator!=(const VideoInfo& other) const { return !(*this == other); }

  // Non-zero when size, frame rate and bit rate meet the DVD or the Video CD
  // rules.
  int is_dvd() const;
  int is_vcd() const;

  int32_t video_type = 0;  // leading word: the kind of the described stream (2 MPEG-1, 3 MPEG-2)
  int32_t mpeg2 = 0;
  int32_t vbr = 0;
  int32_t bit_rate = 0;  // bit/s
  double frame_rate;     // of frame_rate_code
  int32_t frame_rate_code = 4;
  int32_t drop_frame = 1;  // drop-frame flag of the first GOP header
  int32_t width = 0;
  int32_t height = 0;
  int32_t chroma_format = 1;  // 1 4:2:0, 2 4:2:2
  int32_t aspect_ratio_information = 0;
  int32_t progressive_sequence = 1;
  int32_t extra_fields = 0;  // fields beyond two per picture (repeat_first_field)
  int32_t profile_and_level_indication = 0;
  int32_t stream_id = 0xE0;
  int32_t pid = 0;
  int32_t stream_word = 0;  // compared with the format: set by still-image sequences
  double length = 0.0;      // seconds
  uint32_t first_gop_time_code = 0;  // 25-bit word of the first GOP header
  int32_t first_gop_closed = 0;
  int32_t average_gop_length = 0;  // pictures
};

#include "foundation/video_info.h"

#include <cmath>

#include "foundation/mpeg_fields.h"

VideoInfo::VideoInfo() : frame_rate(mpeg_get_frame_rate(4)) {}

int VideoInfo::operator==(const VideoInfo& o) const {
  if (video_type != o.video_type || mpeg2 != o.mpeg2 || bit_rate != o.bit_rate) return 0;
  if (std::fabs(frame_rate - o.frame_rate) >= 0.0001) return 0;
  if (drop_frame != o.drop_frame || width != o.width || height != o.height) return 0;
  if (chroma_format != o.chroma_format || aspect_ratio_information != o.aspect_ratio_information) return 0;
  if (progressive_sequence != o.progressive_sequence || stream_word != o.stream_word) return 0;
  if (mpeg2 && vbr != o.vbr) return 0;
  if (pid != 0) return pid == o.pid;
  return stream_id == o.stream_id;
}

int VideoInfo::is_dvd() const { return check_dvd_video(mpeg2, bit_rate, frame_rate, width, height); }

int VideoInfo::is_vcd() const { return check_vcd_video(bit_rate, frame_rate, width, height); }

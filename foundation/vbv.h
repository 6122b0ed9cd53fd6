// VBV follows the video buffer verifier of an output stream while pictures
// are copied and cut, so that each picture header written carries a
// vbv_delay consistent with the pictures that now precede it. State is kept
// in 90 kHz ticks: the delay with which the next picture's first byte would
// enter decoding. Called once per picture, in coded order.
#pragma once

#include <cstdint>

class PicHdr;
class SeqHdr;

class VBV {
 public:
  VBV() { reset(); }
  ~VBV() { reset(); }

  void reset();
  void init(const SeqHdr& seq);
  // 0 is always accepted; a drop-frame flag only at 29.97 (frame_rate_code
  // 4). Returns the flag in force.
  int set_drop_frame_flag(int flag);
  // Display duration of the picture in ticks (also kept as last_duration).
  double get_pic_duration(const PicHdr& pic);
  // The vbv_delay for this picture; previous_picture_bytes: the previous
  // picture's data, header_bytes: sequence, GOP and other headers written
  // between it and this one. 65535 throughout once the stream is VBR.
  int get_vbv_delay(const PicHdr& pic, int64_t previous_picture_bytes, int64_t header_bytes);

  double period() const { return period_; }
  double first_delay() const { return first_delay_; }
  double min_delay() const { return min_delay_; }
  double max_delay() const { return max_delay_; }
  double elapsed() const { return elapsed_; }
  double last_duration() const { return last_duration_; }
  int64_t buffer_size() const { return buffer_size_; }
  bool is_vbr() const { return vbr_; }
  bool started() const { return started_; }
  int drop_frame() const { return drop_frame_; }

 private:
  // Frames the picture shows (1, 2 or 3) from repeat_first_field r and
  // top_field_first t of a progressive sequence.
  static int frames_shown(int r, int t) { return (t & r) + (1 << r); }

  double period_;
  double ticks_per_byte_;
  double ticks_per_byte_low_;  // at 399 bit/s less: the rate's rounding
  double first_delay_;
  double min_delay_;
  double max_delay_;
  double last_duration_;
  double delay_;
  int64_t buffer_size_;
  int frame_rate_code_;
  double elapsed_;
  bool mpeg1_;
  bool vbr_;
  // The first picture seeds the model; a first delay of 0 is legal, so
  // this is a flag of its own.
  bool started_;
  int progressive_sequence_;
  int low_delay_;
  int last_structure_;
  int last_repeat_;
  int last_top_first_;
  int drop_frame_;
};

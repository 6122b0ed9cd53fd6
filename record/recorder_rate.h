// Frame-rate conversion of a re-encoded clip: which source frame each
// output frame shows. The source and output time are whole frame counts
// of exact rational rates, so a clip of hours never drifts by rounding:
// every output frame shows a source frame within one frame of its time.
#pragma once

#include <cstdint>
#include <deque>

class SeqHdr;

// A frame rate num / den frames per second.
struct FrameRateRatio {
  int64_t num = 30000, den = 1001;
};

// The exact rate of a sequence header (frame_rate_code with the MPEG-2
// frame_rate_extension); 30000/1001 for a code outside 1..8.
FrameRateRatio seq_frame_rate_ratio(const SeqHdr& seq);

class RateClock {
 public:
  RateClock(FrameRateRatio source, FrameRateRatio output);

  // round(n x output rate / source rate): the output length of n source
  // frames.
  int64_t source_to_output_frames(int64_t n) const;
  // How far the source is behind the output time, in frames: d = output
  // time - source time gives round(d x source rate) when d >= 0 and
  // -round(-d x output rate) when it is below (halves away from zero).
  int64_t frames_behind() const;
  // The source frame (from 0, never past last) the next output frame shows;
  // *repeat (when given) is set when it shows the frame before again.
  // Source frames the output has passed by half a frame are dropped.
  int64_t next_source(int64_t last, bool* repeat = nullptr);
  // The encoder gave the last `count` output frames back (it will ask for
  // them again): the clock returns to where it was before them. At most
  // the last kHistory frames can be given back; returns how many were.
  int hand_back(int count);

  int64_t produced() const { return produced_; }
  int64_t stepped() const { return stepped_; }
  bool same_rate() const { return src_.num * out_.den == out_.num * src_.den; }

  static constexpr int kHistory = 128;

 private:
  FrameRateRatio src_, out_;
  int64_t produced_ = 0;  // output frames produced
  int64_t stepped_ = 0;   // source frames stepped over (the next one to show)
  std::deque<int> history_;  // source frames stepped per output frame, newest last
};

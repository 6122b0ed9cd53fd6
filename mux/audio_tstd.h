// Decoder buffer of one audio stream of a transport stream, as the
// multiplexer must respect it: the payload of every transport packet enters
// when sent, whole frames leave at their presentation time. PES header
// bytes stay in the buffer until the frame after them leaves.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

class AudioTSTD {
 public:
  static constexpr int kAssemblyBytes = 32768;

  // kind: 1 MPEG audio, 9 AC-3. samples per frame and the sample rate give
  // the frame duration; bit_rate the nominal frame size.
  AudioTSTD(int kind, int sample_rate, int bit_rate, int samples_per_frame);

  int buffer_size() const { return size_; }
  int nominal_frame_bytes() const { return nominal_; }
  // One packet's elementary bytes, the PES header bytes it carried and the
  // PES's PTS when it starts one (negative: none). Frames completed by it
  // are queued with their removal times. -1 when the assembly buffer would
  // overflow or the bytes hold no frame where one must start.
  int add_packet(const uint8_t* payload, int n, int header_bytes, double pts);
  // Bytes that may enter at clock t, after the removals due by then.
  int room(double t);
  // Frames removed so far and frames whose bytes came after their time.
  int64_t removed() const { return removed_; }
  int late() const { return late_; }
  int jumps() const { return jumps_; }
  int held() const { return held_ + pending_header_ + int(assembly_.size()); }

 private:
  struct Unit {
    double time;
    int frame_bytes, header_bytes;
  };
  void advance(double t);
  int frame_size(const uint8_t* d, int n) const;

  int kind_;
  int size_;
  int nominal_;
  double frame_ticks_;
  std::vector<uint8_t> assembly_;
  std::deque<Unit> queue_;
  int held_ = 0;
  int pending_header_ = 0;
  bool have_running_ = false;
  double running_ = 0, last_pts_ = -1;
  double clock_ = 0;
  bool next_stamped_ = false;
  int64_t removed_ = 0;
  int late_ = 0, jumps_ = 0;
};

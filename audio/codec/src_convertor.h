// Streaming sample-rate and channel conversion of interleaved 16-bit PCM
// between 32000, 44100 and 48000 Hz (half and quarter rates are raised by
// repetition first), mono and stereo.
#pragma once

#include <cstdint>
#include <vector>

struct SrcPlan;

class SampleRateConvertor {
 public:
  SampleRateConvertor(int out_rate, int out_channels);

  // 0; 1 when one value was replaced by its default; 2 when both were.
  int set_output_format(int rate, int channels);
  // Forgets the held input and clears the counters.
  void reset();
  // Grows the work buffer to hold at least `samples`, keeping its contents.
  void resize_buffer(int samples);
  // Moves held samples out, leaving two frames of history.
  int read_output(int16_t* dst, int max);

  // Converts `samples` interleaved input samples at in_rate (32000, 44100 or
  // 48000) and in_channels into out (room for `capacity` samples); returns
  // the samples written, -1 for an unsupported format. Input the output
  // room cannot take waits in the work buffer. flush finishes the held
  // input (after this call's) and resets.
  int convert(int16_t* out, int capacity, const int16_t* in, int samples, int in_rate, int in_channels, bool flush);
  // convert for any of the nine rates; -1 (traced) for others.
  int convert_rate(int16_t* out, int capacity, const int16_t* in, int samples, int in_rate, int in_channels,
                   bool flush);
  // Sample repetition by 2 or 4 with a channel change; input that does not
  // fit waits for the next call.
  int convert_2x(int16_t* out, int capacity, const int16_t* in, int samples, int in_channels, int out_channels);
  int convert_4x(int16_t* out, int capacity, const int16_t* in, int samples, int in_channels, int out_channels);

  int out_rate() const { return out_rate_; }
  int out_channels() const { return out_channels_; }
  int held() const { return held_; }
  int64_t consumed() const { return consumed_; }
  int64_t produced() const { return produced_; }
  int64_t total_produced() const { return total_produced_; }

 private:
  int repeat(int factor, int16_t* out, int capacity, const int16_t* in, int samples, int in_channels,
             int out_channels);
  int same_rate(int16_t* out, int capacity, const int16_t* in, int frames, int in_channels);
  void append(const int16_t* in, int samples);
  void prime(bool force);
  int run(int16_t* out, int capacity);
  int finish(int16_t* out, int capacity);

  int out_rate_ = 44100, out_channels_ = 2, out_unit_ = 22;
  int in_rate_ = 44100, in_channels_ = 2, in_unit_ = 22;
  int64_t produced_ = 0, total_produced_ = 0, consumed_ = 0;
  bool primed_ = false;
  const SrcPlan* plan_ = nullptr;
  std::vector<int16_t> buffer_;
  int held_ = 0;
  std::vector<int16_t> raised_;
  // Repetition input that found no room: its samples, factor and channels.
  std::vector<int16_t> pending_;
  int pending_factor_ = 0, pending_in_channels_ = 0, pending_out_channels_ = 0;
};

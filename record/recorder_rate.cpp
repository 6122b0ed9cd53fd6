#include "record/recorder_rate.h"

#include <cmath>
#include <numeric>

#include "foundation/seq_header.h"
#include "foundation/trace.h"
#include "record/recorder.h"

namespace {

constexpr FrameRateRatio kRates[9] = {
    {30000, 1001},  // 0: not a code
    {24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {50, 1}, {60000, 1001}, {60, 1},
};

FrameRateRatio reduced(FrameRateRatio r) {
  const int64_t g = std::gcd(r.num, r.den);
  if (g > 1) {
    r.num /= g;
    r.den /= g;
  }
  return r;
}

// floor(a / b) for b > 0.
int64_t floor_div(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

FrameRateRatio seq_frame_rate_ratio(const SeqHdr& seq) {
  const int code = seq.get_frame_rate_code();
  FrameRateRatio r = kRates[code >= 1 && code <= 8 ? code : 0];
  if (seq.mpeg2 && seq.seq_ext) {
    r.num *= (seq.seq_ext->frame_rate_extension_n & 3) + 1;
    r.den *= (seq.seq_ext->frame_rate_extension_d & 31) + 1;
  }
  return reduced(r);
}

RateClock::RateClock(FrameRateRatio source, FrameRateRatio output) : src_(reduced(source)), out_(reduced(output)) {
  if (src_.num <= 0 || src_.den <= 0) src_ = kRates[0];
  if (out_.num <= 0 || out_.den <= 0) out_ = kRates[0];
}

int64_t RateClock::source_to_output_frames(int64_t n) const {
  // n x (on / od) / (sn / sd), rounded half up.
  const int64_t num = n * out_.num * src_.den, den = out_.den * src_.num;
  return floor_div(2 * num + den, 2 * den);
}

int64_t RateClock::frames_behind() const {
  // d x on x sn x od x sd over whole numbers: output time produced_ x od / on,
  // source time stepped_ x sd / sn.
  const int64_t lag = produced_ * out_.den * src_.num - stepped_ * src_.den * out_.num;
  if (lag >= 0) {
    // d x source rate = lag / (on x sd)
    const int64_t den = out_.num * src_.den;
    return floor_div(2 * lag + den, 2 * den);
  }
  // d x output rate = lag / (sn x od)
  const int64_t den = src_.num * out_.den;
  return -floor_div(-2 * lag + den, 2 * den);
}

int64_t RateClock::next_source(int64_t last, bool* repeat) {
  int steps = 0;
  while (stepped_ < last && frames_behind() >= 1) {
    ++stepped_;
    ++steps;
  }
  bool again = stepped_ > last || (stepped_ > 0 && frames_behind() <= -1);
  int64_t show = stepped_;
  if (again) {
    show = (stepped_ > last ? last + 1 : stepped_) - 1;
    if (show < 0) show = 0;
  } else {
    ++stepped_;
    ++steps;
  }
  ++produced_;
  history_.push_back(steps);
  if (history_.size() > size_t(kHistory)) history_.pop_front();
  if (repeat) *repeat = again;
  return show;
}

int RateClock::hand_back(int count) {
  int done = 0;
  while (done < count && !history_.empty()) {
    stepped_ -= history_.back();
    history_.pop_back();
    --produced_;
    ++done;
  }
  return done;
}

// ---- the Recorder's clock ----------------------------------------------------

RateClock Recorder::rate_clock() const {
  const FrameRateRatio out = seq_frame_rate_ratio(out_seq_);
  return RateClock(gops_list_ ? seq_frame_rate_ratio(gops_list_->get_seqhdr()) : out, out);
}

int Recorder::source_to_output_frames(int n) const { return int(rate_clock().source_to_output_frames(n)); }

void Recorder::init_video_params(const RecordData& data) {
  ref_ = list_;
  if (!list_ || data.ref_clip <= 0) return;
  MPEG_Clip* c = list_;
  int index = 0;
  while (c && index < data.ref_clip) c = c->next, ++index;
  if (!c || !Clip::is_mpeg_video_type(c->clip_type)) {
    trace("Recorder::init_video_params: reference clip %d dropped: not MPEG video\n", data.ref_clip);
    return;
  }
  clip_ = c;
  clip_index_ = index;
  if (!open_clip()) return;  // the save fails on it: the clip is one of the save's
  const SeqHdr& s = gops_list_->get_seqhdr();
  const ESData& v = data.video;
  // A set-up naming its own picture differs from a reference clip that
  // cannot give it.
  if (v.is_video() && v.get_video_width() > 0 &&
      ((v.is_video_mpeg2() != 0) != (s.mpeg2 != 0) || v.get_video_width() != s.get_horizontal_size() ||
       v.get_video_height() != s.get_vertical_size() ||
       std::lround(v.get_video_frame_rate()) != std::lround(s.get_frame_rate()))) {
    trace("Recorder::init_video_params: reference clip %d dropped: it differs from the output video\n",
          data.ref_clip);
    return;
  }
  ref_ = c;
  check_clip(c);
}

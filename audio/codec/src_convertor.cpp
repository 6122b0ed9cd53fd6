#include "audio/codec/src_convertor.h"

#include <algorithm>
#include <cstring>

#include "audio/codec/src_kernels.h"
#include "foundation/trace.h"

namespace {

constexpr int kLookAhead = 4;  // frames kept after the converted units

bool supported_rate(int rate) { return rate == 32000 || rate == 44100 || rate == 48000; }
int unit_frames(int rate) { return rate == 44100 ? 11 : rate == 48000 ? 12 : 8; }

}  // namespace

SampleRateConvertor::SampleRateConvertor(int out_rate, int out_channels) {
  set_output_format(out_rate, out_channels);
  in_rate_ = out_rate_;
  in_channels_ = out_channels_;
  in_unit_ = out_unit_;
  buffer_.assign(18432, 0);
}

int SampleRateConvertor::set_output_format(int rate, int channels) {
  int replaced = 0;
  if (!supported_rate(rate)) {
    trace("SampleRateConvertor::set_output_format (ERROR): %.1fkHz is NOT supported\n", rate / 1000.0);
    rate = 44100;
    ++replaced;
  }
  if (channels != 1 && channels != 2) {
    trace("SampleRateConvertor::set_output_format (ERROR): channels=%d is NOT supported\n", channels);
    channels = 2;
    ++replaced;
  }
  out_rate_ = rate;
  out_channels_ = channels;
  out_unit_ = unit_frames(rate) * channels;
  reset();
  return replaced;
}

void SampleRateConvertor::reset() {
  produced_ = total_produced_ = consumed_ = 0;
  held_ = 0;
  primed_ = false;
  plan_ = nullptr;
}

void SampleRateConvertor::resize_buffer(int samples) {
  const int old = static_cast<int>(buffer_.size());
  if (samples <= old) return;
  const int grown = ((samples + 3071) / 3072 + 1) * 3072;
  trace("SampleRateConvertor::resize_buffer (): %d ==> %d\n", old, grown);
  buffer_.resize(size_t(grown));
}

int SampleRateConvertor::read_output(int16_t* dst, int max) {
  const int n = std::max(0, std::min(max, held_ - 2 * in_channels_));
  if (n <= 0 || !dst) return 0;
  std::memcpy(dst, buffer_.data(), size_t(n) * 2);
  std::memmove(buffer_.data(), buffer_.data() + n, size_t(held_ - n) * 2);
  held_ -= n;
  return n;
}

void SampleRateConvertor::append(const int16_t* in, int samples) {
  if (samples <= 0) return;
  resize_buffer(held_ + samples);
  std::memcpy(buffer_.data() + held_, in, size_t(samples) * 2);
  held_ += samples;
}

// Puts the mirrored history (frames 1 and 0) before the first frame, once
// two frames are there (one frame twice when a flush comes first).
void SampleRateConvertor::prime(bool force) {
  const int ch = in_channels_;
  if (primed_ || held_ < ch || (held_ < 2 * ch && !force)) return;
  resize_buffer(held_ + 2 * ch);
  int16_t* b = buffer_.data();
  std::memmove(b + 2 * ch, b, size_t(held_) * 2);
  const int second = held_ >= 2 * ch ? 1 : 0;
  for (int c = 0; c < ch; ++c) {
    b[c] = b[2 * ch + second * ch + c];
    b[ch + c] = b[2 * ch + c];
  }
  held_ += 2 * ch;
  primed_ = true;
}

int SampleRateConvertor::run(int16_t* out, int capacity) {
  if (!primed_ || !plan_) return 0;
  const int ich = in_channels_, och = out_channels_;
  const int frames = held_ / ich;
  const int in_unit = unit_frames(in_rate_), out_unit = unit_frames(out_rate_);
  int units = (frames - kLookAhead) / in_unit;
  if (units <= 0) return 0;
  // The unit arithmetic only reserves room; the kernel's counts rule.
  auto room = [&](int u) { return (u * out_unit + (out_rate_ == 44100 ? u / 40 + 1 : 0)) * och; };
  if (room(units) > capacity) {
    const int want = room(units);
    while (units > 0 && room(units) > capacity) --units;
    trace("WARNING (SRC::convert): out size = %d < %d = out samples\n", capacity, want);
    if (units <= 0) return 0;
  }
  const int count = units * in_unit - (in_rate_ == 44100 ? units / 40 + 1 : 0);
  const SrcPlan& p = *plan_;
  int j0 = 0;
  if (p.cycle == 40) {
    const int64_t counter = p.cycle_by_output ? produced_ / (int64_t(p.out_block) * och)
                                              : consumed_ / (int64_t(p.in_block) * ich);
    j0 = static_cast<int>(counter % 40);
  }
  const SrcDsp& dsp = src_dsp();
  int made = 0, used = 0;
  if (ich == 2 && och == 2) {
    made = dsp.stereo(p, out, 2, buffer_.data(), 2, count, j0, &used);
  } else if (ich == och) {
    made = dsp.run[int(SrcChannels::same)](p, out, 1, buffer_.data(), 1, count, j0, &used);
  } else if (ich == 1) {
    made = dsp.run[int(SrcChannels::mono_to_stereo)](p, out, 2, buffer_.data(), 1, count, j0, &used);
  } else {
    made = dsp.run[int(SrcChannels::stereo_to_mono)](p, out, 1, buffer_.data(), 2, count, j0, &used);
  }
  const int used_samples = used * ich;
  std::memmove(buffer_.data(), buffer_.data() + used_samples, size_t(held_ - used_samples) * 2);
  held_ -= used_samples;
  consumed_ += used_samples;
  produced_ += int64_t(made) * och;
  total_produced_ += int64_t(made) * och;
  return made * och;
}

// Pads the held input with its last frame so that every input frame is
// converted, converts it and resets.
int SampleRateConvertor::finish(int16_t* out, int capacity) {
  int written = 0;
  if (held_ >= in_channels_ && plan_) {
    prime(true);
    const int ch = in_channels_;
    int16_t last[2] = {buffer_[size_t(held_ - ch)], buffer_[size_t(held_ - 1)]};
    const int pad = unit_frames(in_rate_) + kLookAhead + 1;
    for (int i = 0; i < pad; ++i) append(last, ch);
    written = run(out, capacity);
  }
  reset();
  return written;
}

int SampleRateConvertor::same_rate(int16_t* out, int capacity, const int16_t* in, int frames, int in_channels) {
  const int och = out_channels_;
  const int n = std::min(frames, capacity / och);
  for (int i = 0; i < n; ++i) {
    if (in_channels == och) {
      for (int c = 0; c < och; ++c) out[i * och + c] = in[i * och + c];
    } else if (in_channels == 1) {
      out[2 * i] = out[2 * i + 1] = in[i];
    } else {
      out[i] = static_cast<int16_t>((int32_t(in[2 * i]) + int32_t(in[2 * i + 1])) / 2);
    }
  }
  total_produced_ += int64_t(n) * och;
  return n * och;
}

int SampleRateConvertor::convert(int16_t* out, int capacity, const int16_t* in, int samples, int in_rate,
                                 int in_channels, bool flush) {
  if (!supported_rate(in_rate) || (in_channels != 1 && in_channels != 2)) {
    trace("SRC::convert (ERROR): %d Hz, %d channels NOT supported\n", in_rate, in_channels);
    return -1;
  }
  if (!out || capacity < 0) capacity = 0;
  const int frames = in && samples > 0 ? samples / in_channels : 0;
  int written = 0;
  if (held_ > 0 && (in_rate != in_rate_ || in_channels != in_channels_)) written += finish(out, capacity);
  if (in_rate == out_rate_) {
    in_rate_ = in_rate;
    in_channels_ = in_channels;
    return written + same_rate(out + written, capacity - written, in, frames, in_channels);
  }
  if (held_ == 0 && !primed_) {
    in_rate_ = in_rate;
    in_channels_ = in_channels;
    in_unit_ = unit_frames(in_rate) * in_channels;
    plan_ = src_plan(out_rate_, in_rate);
    consumed_ = produced_ = 0;
  }
  append(in, frames * in_channels);
  prime(false);
  written += run(out + written, capacity - written);
  if (flush) written += finish(out + written, capacity - written);
  return written;
}

int SampleRateConvertor::repeat(int factor, int16_t* out, int capacity, const int16_t* in, int samples,
                                int in_channels, int out_channels) {
  const int step = factor * out_channels;  // output samples per input frame
  int written = 0;
  // Earlier input of another shape goes out first, as far as it fits.
  auto emit = [&](const int16_t* src, int frames, int ich, int och, int f) {
    const int fit = std::min(frames, (capacity - written) / (f * och));
    for (int i = 0; i < fit; ++i) {
      int16_t v[2];
      if (ich == och) {
        v[0] = src[i * ich];
        v[1] = ich == 2 ? src[i * ich + 1] : 0;
      } else if (ich == 1) {
        v[0] = v[1] = src[i];
      } else {
        v[0] = static_cast<int16_t>((int32_t(src[2 * i]) + int32_t(src[2 * i + 1])) / 2);
      }
      for (int r = 0; r < f; ++r)
        for (int c = 0; c < och; ++c) out[written++] = v[c];
    }
    return fit;
  };
  if (!pending_.empty()) {
    const int pf = int(pending_.size()) / pending_in_channels_;
    const int done = emit(pending_.data(), pf, pending_in_channels_, pending_out_channels_, pending_factor_);
    pending_.erase(pending_.begin(), pending_.begin() + done * pending_in_channels_);
    if (!pending_.empty()) {
      if (pending_factor_ == factor && pending_in_channels_ == in_channels && pending_out_channels_ == out_channels) {
        if (in && samples > 0) pending_.insert(pending_.end(), in, in + samples / in_channels * in_channels);
        trace("ERROR (convert_%dx): output PCM buffer is too small (%d < %d)\n", factor, capacity,
              written + int(pending_.size()) / in_channels * step);
        return written;
      }
    }
  }
  const int frames = in && samples > 0 ? samples / in_channels : 0;
  const int done = emit(in, frames, in_channels, out_channels, factor);
  if (done < frames) {
    trace("ERROR (convert_%dx): output PCM buffer is too small (%d < %d)\n", factor, capacity,
          written + (frames - done) * step);
    pending_.insert(pending_.end(), in + done * in_channels, in + frames * in_channels);
    pending_factor_ = factor;
    pending_in_channels_ = in_channels;
    pending_out_channels_ = out_channels;
  }
  total_produced_ += written;
  return written;
}

int SampleRateConvertor::convert_2x(int16_t* out, int capacity, const int16_t* in, int samples, int in_channels,
                                    int out_channels) {
  return repeat(2, out, capacity, in, samples, in_channels, out_channels);
}

int SampleRateConvertor::convert_4x(int16_t* out, int capacity, const int16_t* in, int samples, int in_channels,
                                    int out_channels) {
  return repeat(4, out, capacity, in, samples, in_channels, out_channels);
}

int SampleRateConvertor::convert_rate(int16_t* out, int capacity, const int16_t* in, int samples, int in_rate,
                                      int in_channels, bool flush) {
  if (in_channels != 1 && in_channels != 2) {
    trace("SampleRateConvertor::convert_rate (ERROR): channels=%d is NOT supported\n", in_channels);
    return -1;
  }
  if (supported_rate(in_rate)) return convert(out, capacity, in, samples, in_rate, in_channels, flush);
  int factor = 0, raised = 0;
  switch (in_rate) {
    case 22050: factor = 2; raised = 44100; break;
    case 24000: factor = 2; raised = 48000; break;
    case 16000: factor = 2; raised = 32000; break;
    case 11025: factor = 4; raised = 44100; break;
    case 12000: factor = 4; raised = 48000; break;
    case 8000: factor = 4; raised = 32000; break;
    default:
      trace("SampleRateConvertor::convert_rate (ERROR): %d Hz is NOT supported\n", in_rate);
      return -1;
  }
  if (!out || capacity < 0) capacity = 0;
  if (raised == out_rate_) {
    int written = 0;
    if (held_ > 0) written += finish(out, capacity);
    return written + repeat(factor, out + written, capacity - written, in, samples, in_channels, out_channels_);
  }
  const int frames = in && samples > 0 ? samples / in_channels : 0;
  raised_.resize(size_t(frames) * factor * in_channels);
  int16_t* r = raised_.data();
  for (int i = 0; i < frames; ++i)
    for (int k = 0; k < factor; ++k)
      for (int c = 0; c < in_channels; ++c) *r++ = in[i * in_channels + c];
  return convert(out, capacity, raised_.data(), frames * factor * in_channels, raised, in_channels, flush);
}

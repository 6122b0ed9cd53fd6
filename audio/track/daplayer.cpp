#include "audio/track/daplayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>

#include "access/clip.h"
#include "demux/demuxer.h"
#include "demux/demuxer_cache.h"
#include "foundation/gop.h"
#include "foundation/trace.h"

namespace {

// Index of the frame holding t, frames of period p from 0.
int64_t frame_holding(double t, double p) { return p > 0 ? int64_t(std::floor(t / p + 1e-9)) : 0; }

}  // namespace

DAPlayer::DAPlayer() : frame_(6176), pcm_(6176) {}
DAPlayer::~DAPlayer() = default;

bool DAPlayer::open_audio(const char* name, int stream_id, int pid) {
  list_.reset();
  if (wave_open_) wave_.close();
  wave_open_ = false;
  auto list = std::make_unique<DAList>();
  if (list->init(name, stream_id, pid) == 0) {
    list_ = std::move(list);
    period_ = list_->get_frame_period();
    const int need = (list_->get_max_frame_size() + 1023) / 1024 * 1024 + 32;
    if (int(frame_.size()) < need) frame_.assign(size_t(need), 0);
    mpa_.clear();
    // A fresh decoder: its reset would switch it to six-channel output.
    ac3_.reset();
    if (list_->is_ac3()) ac3_ = std::make_unique<AC3Decoder>();
    // One compressed frame that decodes to silence, for copies.
    const int type = list_->is_ac3() ? AudioMuteFrame::kAC3 : list_->is_lpcm() ? AudioMuteFrame::kLPCM : AudioMuteFrame::kMpeg;
    const std::array<int, 5> format = {type, list_->get_sample_rate(), list_->get_channels(), list_->get_bit_rate(),
                                       list_->get_layer()};
    if (!silent_.empty() && format == silent_format_) return true;
    silent_format_ = format;
    // Every seek reopens the clip, and the encoder behind a silent frame
    // costs milliseconds to build: one frame per format for the process.
    static std::mutex made_mutex;
    static std::map<std::array<int, 5>, std::vector<uint8_t>> made;
    {
      std::lock_guard<std::mutex> lock(made_mutex);
      auto it = made.find(format);
      if (it != made.end()) {
        silent_ = it->second;
        return true;
      }
    }
    silent_.clear();
    if (mute_.init(type, list_->get_sample_rate(), list_->get_channels(), list_->get_bit_rate(), list_->get_layer()) == 0) {
      silent_.assign(size_t(std::max(mute_.get_frame_size(), 0) + 32768), 0);
      const int n = type == AudioMuteFrame::kLPCM ? mute_.get_pcm_frame(silent_.data(), int(silent_.size()))
                                                  : mute_.next_frame(silent_.data(), int(silent_.size()));
      silent_.resize(size_t(std::max(n, 0)));
      std::lock_guard<std::mutex> lock(made_mutex);
      if (made.size() < 64) made.emplace(format, silent_);
    }
    return true;
  }
  // A WAVE file: frames of 1152 samples.
  if (wave_.open(name, 1) != 0) return false;
  const WaveFmt& f = wave_.fmt();
  if (f.sample_rate < 1 || f.channels < 1 || f.channels > 2) {
    wave_.close();
    return false;
  }
  wave_open_ = true;
  period_ = 1152.0 / f.sample_rate;
  silent_.clear();
  return true;
}

int DAPlayer::new_clip(const Clip& clip, double start, double length) {
  const char* name = clip.get_file_name();
  if (!name) return 1;
  if (!open_audio(name, clip.audio_stream_id, clip.audio_pid)) return 1;
  name_ = name;
  const double total = list_ ? list_->get_length() : wave_.get_duration();
  if (length < 0.001) length = total - start;
  // The clip's times are the file's; the stream may start later than the
  // file (its first time stamp after the video's).
  double shift = 0.0;
  if (list_) {
    std::unique_ptr<DeMuxer> dm(demuxer_create(name, 0));
    if (dm && !dm->is_elementary()) {
      const double v = dm->get_video_start_pts();
      if (v > kNoTime && dm->get_video_es_count() > 0) shift = (list_->get_start_time() * 90000.0 - v) / 90000.0;
    }
  }
  shift_ = shift;
  stream_start_ = start - shift;
  stream_end_ = stream_start_ + length;
  if (stream_start_ >= total || stream_end_ <= 0) {
    trace("DAPlayer::new_clip (ERROR): input=(s=%.6f,l=%.6f), length=%.6f\n", start, length, total);
    stream_start_ = std::clamp(start, 0.0, total);
    stream_end_ = total;
  }
  lead_in_ = 0.0;
  if (stream_start_ < 0) {
    lead_in_ = -stream_start_;
    stream_start_ = 0.0;
  }
  goto_offset(0.0);
  return 0;
}

double DAPlayer::start_lead() const {
  return lead_in_ > 0 ? 0.0 : std::max(stream_start_ - double(first_frame_) * period_, 0.0);
}

int DAPlayer::frames_in_clip() const {
  const int64_t lead = int64_t(lead_in_ / period_ + 0.5);
  const int64_t body = frame_holding(stream_end_, period_) - frame_holding(stream_start_, period_);
  return int(lead + std::max<int64_t>(body, 0));
}

double DAPlayer::goto_offset(double offset) {
  const double len = get_length();
  if (offset < 0 || offset > len) {
    trace("ERROR (DAPlayer::goto_offset): offset = %.3f (0 - %.3f)\n", offset, len);
    offset = std::clamp(offset, 0.0, len);
  }
  const int64_t lead = int64_t(lead_in_ / period_ + 0.5);
  const int64_t k = std::min<int64_t>(frame_holding(offset, period_), frames_in_clip());
  silent_owed_ = int(std::max<int64_t>(lead - k, 0));
  frame_no_ = k;
  first_frame_ = frame_holding(stream_start_, period_);
  const int64_t stream_frame = first_frame_ + std::max<int64_t>(k - lead, 0);
  const double t = double(stream_frame) * period_;
  if (list_) {
    // Aim inside the frame: its start time computed back from the index may
    // round to just before it and land on the frame ahead of it. PCM is cut
    // at the sample, so it is aimed at the frame's own start.
    list_->goto_time(list_->is_lpcm() ? t : t + period_ / 2);
    mpa_.clear();
    if (ac3_) ac3_ = std::make_unique<AC3Decoder>();
  } else if (wave_open_) {
    wave_.goto_time(t + 0.5 / wave_.fmt().sample_rate);  // lands on the sample, not one short
  }
  return get_time();
}

double DAPlayer::get_time() const { return double(frame_no_) * period_; }

bool DAPlayer::is_end() const { return frame_no_ >= frames_in_clip(); }

int DAPlayer::get_next_frame(uint8_t* buffer, int size) {
  if (!list_ || !buffer || size < list_->get_frame_size()) {
    trace("ERROR (DAPlayer::get_next_abs_frame): not initialized or invalid input parameters\n");
    return 0;
  }
  if (is_end()) return 0;
  const int64_t lead = int64_t(lead_in_ / period_ + 0.5);
  const double clock = double(first_frame_ + frame_no_ - lead) * period_;
  int n = 0;
  // Silence before the stream and where its time stamps jump ahead.
  // A format without a silent frame gives 0 bytes for the frame's time.
  if (silent_owed_ > 0 || list_->get_curr_time() >= clock + period_ - 1e-6) {
    if (silent_owed_ > 0) --silent_owed_;
    if (int(silent_.size()) > size) return 0;
    if (!silent_.empty()) std::memcpy(buffer, silent_.data(), silent_.size());
    n = int(silent_.size());
  } else {
    n = list_->next_frame(buffer, size);
    if (n <= 0) {  // the stream ended early: silence to the clip's end
      if (int(silent_.size()) > size) return 0;
      if (!silent_.empty()) std::memcpy(buffer, silent_.data(), silent_.size());
      n = int(silent_.size());
    }
  }
  ++frame_no_;
  return n;
}

const int16_t* DAPlayer::get_next_pcm_frame(int* count) {
  if (!count) {
    trace("DAPlayer::get_next_pcm_frame (ERROR): samples=nil\n");
    return nullptr;
  }
  *count = 0;
  if (is_end()) return nullptr;
  const int channels = get_channels();
  const int frame_samples = get_samples_per_frame() * channels;
  if (int(pcm_.size()) < frame_samples) pcm_.resize(size_t(frame_samples));
  if (wave_open_) {
    const int bits = wave_.fmt().bits_per_sample;
    int got = 0;
    if (bits == 8) {
      std::vector<uint8_t> b(size_t(1152 * channels));
      const int n = wave_.read(b.data(), int(b.size()));
      for (int i = 0; i < n; ++i) pcm_[size_t(i)] = int16_t((int(b[size_t(i)]) - 128) * 128);  // 128 is silence
      got = std::max(n, 0);
    } else {
      got = std::max(wave_.read(pcm_.data(), frame_samples * 2), 0) / 2;
    }
    // Past the data: silence, so the clip keeps its length.
    std::fill(pcm_.begin() + got, pcm_.begin() + frame_samples, int16_t(0));
    ++frame_no_;
    *count = frame_samples;
    return pcm_.data();
  }
  if (!list_) return nullptr;
  if (list_->is_lpcm() && silent_owed_ == 0) {
    const int n = list_->next_frame(frame_.data(), int(frame_.size()));
    const int got = std::max(n, 0) / 2;
    std::memcpy(pcm_.data(), frame_.data(), size_t(got) * 2);
    std::fill(pcm_.begin() + got, pcm_.begin() + frame_samples, int16_t(0));
    ++frame_no_;
    *count = frame_samples;
    return pcm_.data();
  }
  const int64_t before = frame_no_;
  const int n = get_next_frame(frame_.data(), int(frame_.size()));
  int got = 0;
  if (n > 0) {
    if (list_->is_ac3())
      got = ac3_->decode_frame(frame_.data(), n, pcm_.data());
    else if (list_->is_lpcm())
      got = 0;  // silence owed: zeros below
    else
      got = mpa_.decode_frame(frame_.data(), n, pcm_.data());
  }
  if (got <= 0) {
    // A frame that does not decode is a frame of silence: the timing stays exact.
    if (n > 0 && !list_->is_lpcm())
      trace("DAPlayer::get_next_pcm_frame (ERROR): nil return AudioDecoder::decode_frame (%d bytes)\n", n);
    std::fill(pcm_.begin(), pcm_.begin() + frame_samples, int16_t(0));
    got = frame_samples;
    if (frame_no_ == before) ++frame_no_;  // nothing handed out, but the clip's clock runs on
  }
  *count = got;
  return pcm_.data();
}

int DAPlayer::get_sample_rate() const {
  if (list_) return list_->get_sample_rate();
  return wave_open_ ? int(wave_.fmt().sample_rate) : 0;
}
int DAPlayer::get_channels() const {
  if (list_) return list_->get_channels();
  return wave_open_ ? int(wave_.fmt().channels) : 0;
}
int DAPlayer::get_bit_rate() const {
  if (list_) return list_->get_bit_rate();
  return wave_open_ ? int(wave_.fmt().sample_rate) * wave_.fmt().channels * wave_.fmt().bits_per_sample : 0;
}
int DAPlayer::get_layer() const { return list_ ? list_->get_layer() : 2; }
int DAPlayer::get_samples_per_frame() const { return list_ ? list_->get_samples_per_frame() : 1152; }

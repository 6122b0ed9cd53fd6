#include "foundation/audio_info.h"

namespace {
constexpr int32_t kLpcmStereo48k = 1536000;  // 48000 Hz x 2 channels x 16 bits

bool in_range(int32_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }
}  // namespace

int AudioInfo::get_audio_type() const {
  if (in_range(stream_id, 0xC0, 0xDF)) return AUDIO_TYPE_MPEG;
  if (in_range(stream_id, 0x80, 0x87)) return AUDIO_TYPE_AC3;
  if (in_range(stream_id, 0xA0, 0xA7)) return AUDIO_TYPE_LPCM;
  if (stream_id != 0xBD) return AUDIO_TYPE_NONE;
  // Private stream 1 without a sub-stream id: only the rates tell. Without
  // the private-stream flag and without a full channel count nothing is
  // known, and 0 is returned.
  int type = AUDIO_TYPE_NONE;
  if (private_stream) type = bit_rate == kLpcmStereo48k ? AUDIO_TYPE_LPCM : AUDIO_TYPE_AC3;
  if (full_channels >= 1 && static_cast<int64_t>(bit_rate) != static_cast<int64_t>(sample_rate) * channels * 16)
    type = AUDIO_TYPE_AC3;
  return type;
}

void AudioInfo::set_audio_type(int type) {
  switch (type) {
    case AUDIO_TYPE_LPCM:
      if (!in_range(stream_id, 0xA0, 0xA7)) stream_id = 0xA0;
      break;
    case AUDIO_TYPE_AC3:
      if (!in_range(stream_id, 0x80, 0x87) && !(stream_id == 0xBD && private_stream)) stream_id = 0x80;
      break;
    case AUDIO_TYPE_MPEG:
      break;
    default:
      return;
  }
  audio_type = type;
}

int AudioInfo::get_samples_per_frame() const {
  switch (get_audio_type()) {
    case AUDIO_TYPE_AC3:
      return 1536;
    case AUDIO_TYPE_LPCM:
      return 1152;
    default:
      break;
  }
  if (layer < 2) return 384;
  // Layer III at the lower sampling frequencies (MPEG-2 and 2.5, all below
  // 32 kHz) codes one granule per channel: 576 samples.
  if (layer == 3 && sample_rate > 0 && sample_rate < 32000) return 576;
  return 1152;
}

double AudioInfo::get_frame_duration() const {
  if (sample_rate < 1) return 0.0;
  return static_cast<double>(get_samples_per_frame()) / sample_rate;
}

int AudioInfo::get_frame_sample_count() const {
  if (channels < 1) return 0;
  return get_samples_per_frame() * channels;
}

bool AudioInfo::operator==(const AudioInfo& o) const {
  if (format != o.format || layer != o.layer || channels != o.channels || sample_rate != o.sample_rate ||
      bit_rate != o.bit_rate || full_channels != o.full_channels || stream_word != o.stream_word ||
      extra_word != o.extra_word || get_audio_type() != o.get_audio_type())
    return false;
  if (private_stream) return private_stream == o.private_stream;
  // Transport streams may carry several audio streams of one stream id.
  if (pid) return pid == o.pid;
  return stream_id == o.stream_id;
}

int utils_same_audio_info(const AudioInfo& a, const AudioInfo& b) {
  const bool same = a.layer == b.layer && a.channels == b.channels && a.sample_rate == b.sample_rate &&
                    a.bit_rate == b.bit_rate && a.get_audio_type() == b.get_audio_type() && a.format == b.format &&
                    a.full_channels == b.full_channels && a.extra_word == b.extra_word;
  return same ? 0 : 1;
}

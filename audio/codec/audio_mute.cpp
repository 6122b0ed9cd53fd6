#include "audio/codec/audio_mute.h"

#include <cstring>

#include "audio/codec/ac3_mute_data.h"
#include "audio/codec/mpaenc_encoder.h"
#include "foundation/audio_header.h"
#include "foundation/trace.h"

// Each row's template is its header followed by zero side information
// (main_data_begin 0, part2_3_length 0: nothing coded, every granule zero) and
// a few zero bytes of main data; the rest of the frame is 0x55 filler that
// decoders skip as ancillary data.
const Mp3MuteRow mp3_mute_frame_table[62] = {
    {11025, 2, 32000, 208, 30, {0xFF, 0xE3, 0x40, 0x04}},
    {16000, 2, 40000, 180, 30, {0xFF, 0xF3, 0x58, 0x04}},
    {16000, 2, 48000, 216, 30, {0xFF, 0xF3, 0x68, 0x04}},
    {22050, 1, 32000, 104, 22, {0xFF, 0xF3, 0x40, 0xC4}},
    {22050, 2, 56000, 182, 30, {0xFF, 0xF3, 0x70, 0x04}},
    {22050, 2, 64000, 208, 30, {0xFF, 0xF3, 0x80, 0x04}},
    {32000, 1, 40000, 180, 30, {0xFF, 0xFB, 0x28, 0xC4}},
    {32000, 1, 48000, 216, 30, {0xFF, 0xFB, 0x38, 0xC4}},
    {32000, 1, 56000, 252, 30, {0xFF, 0xFB, 0x48, 0xC4}},
    {32000, 1, 64000, 288, 30, {0xFF, 0xFB, 0x58, 0xC4}},
    {32000, 1, 80000, 360, 30, {0xFF, 0xFB, 0x68, 0xC4}},
    {32000, 1, 96000, 432, 30, {0xFF, 0xFB, 0x78, 0xC4}},
    {32000, 1, 112000, 504, 30, {0xFF, 0xFB, 0x88, 0xC4}},
    {32000, 1, 128000, 576, 30, {0xFF, 0xFB, 0x98, 0xC4}},
    {32000, 1, 160000, 720, 30, {0xFF, 0xFB, 0xA8, 0xC4}},
    {32000, 1, 192000, 864, 30, {0xFF, 0xFB, 0xB8, 0xC4}},
    {32000, 1, 224000, 1008, 30, {0xFF, 0xFB, 0xC8, 0xC4}},
    {32000, 1, 256000, 1152, 30, {0xFF, 0xFB, 0xD8, 0xC4}},
    {32000, 1, 320000, 1440, 30, {0xFF, 0xFB, 0xE8, 0xC4}},
    {32000, 2, 80000, 360, 45, {0xFF, 0xFB, 0x68, 0x04}},
    {32000, 2, 96000, 432, 45, {0xFF, 0xFB, 0x78, 0x04}},
    {32000, 2, 112000, 504, 45, {0xFF, 0xFB, 0x88, 0x04}},
    {32000, 2, 128000, 576, 45, {0xFF, 0xFB, 0x98, 0x04}},
    {32000, 2, 160000, 720, 45, {0xFF, 0xFB, 0xA8, 0x04}},
    {32000, 2, 192000, 864, 45, {0xFF, 0xFB, 0xB8, 0x04}},
    {32000, 2, 224000, 1008, 45, {0xFF, 0xFB, 0xC8, 0x04}},
    {32000, 2, 256000, 1152, 45, {0xFF, 0xFB, 0xD8, 0x04}},
    {32000, 2, 320000, 1440, 45, {0xFF, 0xFB, 0xE8, 0x04}},
    {44100, 1, 56000, 182, 30, {0xFF, 0xFB, 0x40, 0xC4}},
    {44100, 1, 64000, 208, 30, {0xFF, 0xFB, 0x50, 0xC4}},
    {44100, 1, 80000, 261, 30, {0xFF, 0xFB, 0x60, 0xC4}},
    {44100, 1, 96000, 313, 30, {0xFF, 0xFB, 0x70, 0xC4}},
    {44100, 1, 112000, 365, 30, {0xFF, 0xFB, 0x80, 0xC4}},
    {44100, 1, 128000, 417, 30, {0xFF, 0xFB, 0x90, 0xC4}},
    {44100, 1, 160000, 522, 30, {0xFF, 0xFB, 0xA0, 0xC4}},
    {44100, 1, 192000, 626, 30, {0xFF, 0xFB, 0xB0, 0xC4}},
    {44100, 1, 224000, 731, 30, {0xFF, 0xFB, 0xC0, 0xC4}},
    {44100, 1, 256000, 835, 30, {0xFF, 0xFB, 0xD0, 0xC4}},
    {44100, 1, 320000, 1044, 30, {0xFF, 0xFB, 0xE0, 0xC4}},
    {44100, 2, 112000, 365, 45, {0xFF, 0xFB, 0x80, 0x04}},
    {44100, 2, 128000, 417, 45, {0xFF, 0xFB, 0x90, 0x04}},
    {44100, 2, 160000, 522, 45, {0xFF, 0xFB, 0xA0, 0x04}},
    {44100, 2, 192000, 626, 45, {0xFF, 0xFB, 0xB0, 0x04}},
    {44100, 2, 224000, 731, 45, {0xFF, 0xFB, 0xC0, 0x04}},
    {44100, 2, 256000, 835, 45, {0xFF, 0xFB, 0xD0, 0x04}},
    {44100, 2, 320000, 1044, 45, {0xFF, 0xFB, 0xE0, 0x04}},
    {48000, 1, 64000, 192, 30, {0xFF, 0xFB, 0x54, 0xC4}},
    {48000, 1, 80000, 240, 30, {0xFF, 0xFB, 0x64, 0xC4}},
    {48000, 1, 96000, 288, 30, {0xFF, 0xFB, 0x74, 0xC4}},
    {48000, 1, 112000, 336, 30, {0xFF, 0xFB, 0x84, 0xC4}},
    {48000, 1, 128000, 384, 30, {0xFF, 0xFB, 0x94, 0xC4}},
    {48000, 1, 160000, 480, 30, {0xFF, 0xFB, 0xA4, 0xC4}},
    {48000, 1, 192000, 576, 30, {0xFF, 0xFB, 0xB4, 0xC4}},
    {48000, 1, 224000, 672, 30, {0xFF, 0xFB, 0xC4, 0xC4}},
    {48000, 1, 256000, 768, 30, {0xFF, 0xFB, 0xD4, 0xC4}},
    {48000, 1, 320000, 960, 30, {0xFF, 0xFB, 0xE4, 0xC4}},
    {48000, 2, 128000, 384, 45, {0xFF, 0xFB, 0x94, 0x04}},
    {48000, 2, 160000, 480, 45, {0xFF, 0xFB, 0xA4, 0x04}},
    {48000, 2, 192000, 576, 45, {0xFF, 0xFB, 0xB4, 0x04}},
    {48000, 2, 224000, 672, 45, {0xFF, 0xFB, 0xC4, 0x04}},
    {48000, 2, 256000, 768, 45, {0xFF, 0xFB, 0xD4, 0x04}},
    {48000, 2, 320000, 960, 45, {0xFF, 0xFB, 0xE4, 0x04}},
};

namespace {

const Mp3MuteRow* mp3_row(int sample_rate, int channels, int bit_rate) {
  for (const Mp3MuteRow& r : mp3_mute_frame_table)
    if (r.sample_rate == sample_rate && r.channels == channels && r.bit_rate == bit_rate) return &r;
  return nullptr;
}

constexpr int kLPCMFrameBytes = 2304;  // per channel

}  // namespace

int mp3_mute_is_supported(int sample_rate, int channels, int bit_rate) {
  return mp3_row(sample_rate, channels, bit_rate) ? 1 : 0;
}

int mp3_mute_get_frame_size(int sample_rate, int channels, int bit_rate) {
  const Mp3MuteRow* r = mp3_row(sample_rate, channels, bit_rate);
  if (!r) {
    trace("ERROR (mp3_mute_get_frame_size): invalid parameter sr = %d, ch = %d, br = %d\n", sample_rate, channels,
          bit_rate);
    return 0;
  }
  return r->frame_size;
}

int mp3_mute_frame(int sample_rate, int channels, int bit_rate, uint8_t* out, int size) {
  const Mp3MuteRow* r = mp3_row(sample_rate, channels, bit_rate);
  if (!r || !out) {
    trace("ERROR (mp3_mute_frame): invalid parameter sr = %d, ch = %d, br = %d\n", sample_rate, channels, bit_rate);
    return 0;
  }
  if (size < r->frame_size) {
    trace("ERROR (mp3_mute_frame): invalid input(s)\n");
    return 0;
  }
  std::memcpy(out, r->header, 4);
  std::memset(out + 4, 0, static_cast<size_t>(r->template_bytes - 4));
  std::memset(out + r->template_bytes, 0x55, static_cast<size_t>(r->frame_size - r->template_bytes));
  return r->frame_size;
}

namespace {

constexpr int kAC3BitRates[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160,
                                  192, 224, 256, 320, 384, 448, 512, 576, 640};

const AC3MuteFrameData* ac3_data_find(int sample_rate, int channels, int bit_rate) {
  for (const AC3MuteFrameData& d : kAC3StoredFrames)
    if (d.sample_rate == sample_rate && d.channels == channels && d.bit_rate == bit_rate) return &d;
  return nullptr;
}

void put_frame(const AC3MuteFrameData& d, uint8_t* out) {
  std::memcpy(out, d.prefix, static_cast<size_t>(d.prefix_len));
  std::memset(out + d.prefix_len, 0, static_cast<size_t>(d.size - d.prefix_len));
  out[d.size - 2] = d.tail[0];
  out[d.size - 1] = d.tail[1];
}

// Index of the bit rate in the nominal list for a computed frame, or -1:
// only six channels, from 64 kbit/s at 32 kHz and 96 kbit/s otherwise (the
// two-channel bases stay unoffered).
int comp_bit_rate_index(int sample_rate, int channels, int bit_rate) {
  if (channels != 6) return -1;
  if (bit_rate < (sample_rate == 32000 ? 64000 : 96000)) return -1;
  for (int i = 0; i < 19; ++i)
    if (kAC3BitRates[i] == bit_rate / 1000) return i;
  return -1;
}

const AC3MuteBase* comp_base(int sample_rate, int channels) {
  for (const AC3MuteBase& b : kAC3MuteBases)
    if (b.sample_rate == sample_rate && b.channels == channels) return &b;
  return nullptr;
}

bool comp_request_ok(int sample_rate, int channels) {
  return (channels == 2 || channels == 6) && (sample_rate == 48000 || sample_rate == 44100 || sample_rate == 32000);
}

// Size of the computed frame at index, 0 when there is none.
int comp_frame_size(const AC3MuteBase& b, int index) {
  if (index < b.base_index) return 0;
  if (index == b.base_index) return b.base.size;
  if (index - b.base_index > b.row_count) {
    trace("ERROR (get_comp_frame_size): idx = %d >= %d = size\n", index - b.base_index - 1, b.row_count);
    return 0;
  }
  return b.rows[index - b.base_index - 1].frame_size;
}

}  // namespace

int ac3_data_get_size(int sample_rate, int channels, int bit_rate) {
  const AC3MuteFrameData* d = ac3_data_find(sample_rate, channels, bit_rate);
  return d ? d->size : 0;
}

int ac3_data_get(int sample_rate, int channels, int bit_rate, uint8_t* out, int size) {
  const AC3MuteFrameData* d = ac3_data_find(sample_rate, channels, bit_rate);
  if (!d) return 0;
  if (!out || size < d->size) {
    trace("ERROR (ac3_data_get): size = %d < %d = bytes\n", size, d->size);
    return 0;
  }
  put_frame(*d, out);
  return d->size;
}

int ac3_mute_is_supported(int sample_rate, int channels, int bit_rate) {
  if (ac3_data_find(sample_rate, channels, bit_rate)) return 1;
  return comp_request_ok(sample_rate, channels) && comp_bit_rate_index(sample_rate, channels, bit_rate) >= 0 ? 1 : 0;
}

int ac3_mute_get_frame_size(int sample_rate, int channels, int bit_rate) {
  if (const int n = ac3_data_get_size(sample_rate, channels, bit_rate)) return n;
  const int index = comp_bit_rate_index(sample_rate, channels, bit_rate);
  const AC3MuteBase* b = comp_base(sample_rate, channels);
  if (!comp_request_ok(sample_rate, channels) || index < 0 || !b) {
    trace("ERROR (ac3_mute_get_frame_size): invalid parameter sr = %d, ch = %d, br = %d\n", sample_rate, channels,
          bit_rate);
    return 0;
  }
  return comp_frame_size(*b, index);
}

int ac3_mute_frame(int sample_rate, int channels, int bit_rate, uint8_t* out, int size) {
  if (const int n = ac3_data_get(sample_rate, channels, bit_rate, out, size)) return n;
  if (!comp_request_ok(sample_rate, channels)) return 0;
  const int index = comp_bit_rate_index(sample_rate, channels, bit_rate);
  const AC3MuteBase* b = comp_base(sample_rate, channels);
  if (index < 0 || !b) return 0;
  const int frame_size = comp_frame_size(*b, index);
  if (frame_size == 0 || !out || size < frame_size) return 0;
  put_frame(b->base, out);
  if (index == b->base_index) return frame_size;
  std::memset(out + b->base.size, 0, static_cast<size_t>(frame_size - b->base.size));
  auto apply = [&](const AC3MutePatchRow& row) {
    for (int i = 0; i < row.count; ++i) {
      const int at = static_cast<int>(row.patches[i] & 0xFFFF);
      if (at >= frame_size) continue;
      out[at] = static_cast<uint8_t>(out[at] + (row.patches[i] >> 16));
    }
  };
  apply(b->rows[0]);
  if (index - b->base_index >= 2) apply(b->rows[index - b->base_index - 1]);
  return frame_size;
}

AudioMuteFrame::AudioMuteFrame() = default;
AudioMuteFrame::~AudioMuteFrame() { free(); }

void AudioMuteFrame::free() {
  type = kNone;
  sample_rate = channels = bit_rate = layer = 0;
  encoder_.reset();
}

int AudioMuteFrame::init(int type_, int rate, int channels_, int bit_rate_, int layer_) {
  free();
  switch (type_) {
    case kAC3:
      if (!ac3_mute_is_supported(rate, channels_, bit_rate_)) return 1;
      break;
    case kLPCM:
      if (rate != 48000) {
        trace("ERROR (AudioMuteFrame::init): PCM sample_rate=%d\n", rate);
        return 1;
      }
      if (channels_ != 2) {
        trace("ERROR (AudioMuteFrame::init): PCM channels=%d\n", channels_);
        return 1;
      }
      bit_rate_ = 1536000;
      break;
    case kMpeg:
      if (layer_ == 3) {
        if (!mp3_mute_is_supported(rate, channels_, bit_rate_)) return 1;
        break;
      }
      if (layer_ != 1 && layer_ != 2) {
        trace("ERROR (AudioMuteFrame::init): layer=%d\n", layer_);
        return 1;
      }
      if (rate != 44100 && rate != 48000 && rate != 32000) {
        trace("ERROR (AudioMuteFrame::init): sample_rate=%d\n", rate);
        return 1;
      }
      if (channels_ != 1 && channels_ != 2) {
        trace("ERROR (AudioMuteFrame::init): channels=%d\n", channels_);
        return 1;
      }
      bit_rate_ = mpeg_audio_nearest_bit_rate(bit_rate_, layer_);
      if (bit_rate_ == 0) {
        trace("ERROR (AudioMuteFrame::init): bit_rate=%d\n", bit_rate_);
        return 1;
      }
      break;
    default:
      trace("ERROR (AudioMuteFrame::init): type=%d\n", type_);
      return 1;
  }
  type = type_;
  sample_rate = rate;
  channels = channels_;
  bit_rate = bit_rate_;
  layer = type_ == kMpeg ? layer_ : 0;
  if (type_ == kMpeg && layer_ != 3) encoder_ = std::make_unique<AudioEncoder>(rate, channels_, bit_rate_, layer_, 2);
  return 0;
}

int AudioMuteFrame::get_pcm_frame(uint8_t* out, int size) const {
  const int bytes = channels * kLPCMFrameBytes;
  if (!out || bytes <= 0 || size < bytes) {
    trace("ERROR (AudioMuteFrame::get_pcm_frame): invalid inupt(s)\n");
    return 0;
  }
  std::memset(out, 0, static_cast<size_t>(bytes));
  return bytes;
}

int AudioMuteFrame::get_frame_size() const {
  switch (type) {
    case kAC3:
      return ac3_mute_get_frame_size(sample_rate, channels, bit_rate);
    case kLPCM:
      return channels * kLPCMFrameBytes;
    case kMpeg:
      if (layer == 3) return mp3_mute_get_frame_size(sample_rate, channels, bit_rate);
      return channels * (layer == 1 ? 768 : 2304);
    default:
      return 0;
  }
}

int AudioMuteFrame::next_frame(uint8_t* out, int size) {
  switch (type) {
    case kAC3:
      return ac3_mute_frame(sample_rate, channels, bit_rate, out, size);
    case kLPCM:
      return get_pcm_frame(out, size);
    case kMpeg:
      if (layer == 3) return mp3_mute_frame(sample_rate, channels, bit_rate, out, size);
      if (!encoder_ || !out) return 0;
      if (const int n = encoder_->encode_silent_frame(out, size)) return n;
      trace("ERROR (AudioMuteFrame::next_frame): invalid input(s)\n");
      return 0;
    default:
      return 0;
  }
}

void AudioMuteFrame::create(AudioMuteFrame** slot) {
  if (slot) *slot = new AudioMuteFrame();
}

void AudioMuteFrame::destroy(AudioMuteFrame** slot) {
  if (!slot) return;
  delete *slot;
  *slot = nullptr;
}

int AudioMuteFrame::init_held(AudioMuteFrame** slot, int type_, int rate, int channels_, int bit_rate_, int layer_) {
  if (!slot || !*slot) return 1;
  return (*slot)->init(type_, rate, channels_, bit_rate_, layer_);
}

int AudioMuteFrame::get_frame_held(AudioMuteFrame** slot, uint8_t* out, int size) {
  if (!slot || !*slot) return 0;
  return (*slot)->next_frame(out, size);
}

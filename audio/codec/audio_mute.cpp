#include "audio/codec/audio_mute.h"

#include <cstring>

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

// Silent AC-3 frames need the AC-3 frame writer; until it exists no AC-3
// format is offered, so callers leave such gaps unfilled.
int ac3_mute_is_supported(int, int, int) { return 0; }

int ac3_mute_get_frame_size(int sample_rate, int channels, int bit_rate) {
  trace("ERROR (ac3_mute_get_frame_size): invalid parameter sr = %d, ch = %d, br = %d\n", sample_rate, channels,
        bit_rate);
  return 0;
}

int ac3_mute_frame(int sample_rate, int channels, int bit_rate, uint8_t*, int) {
  trace("ERROR (ac3_mute_frame): no silent AC-3 frame for sr = %d, ch = %d, br = %d\n", sample_rate, channels,
        bit_rate);
  return 0;
}

void AudioMuteFrame::free() {
  type = kNone;
  sample_rate = channels = bit_rate = layer = 0;
}

int AudioMuteFrame::init(int type_, int rate, int channels_, int bit_rate_, int layer_) {
  free();
  switch (type_) {
    case kAC3:
      if (!ac3_mute_is_supported(rate, channels_, bit_rate_)) {
        trace("ERROR (AudioMuteFrame::init): AC-3 sr = %d, ch = %d, br = %d not supported\n", rate, channels_,
              bit_rate_);
        return 1;
      }
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
  return 0;
}

int AudioMuteFrame::layer12_frame_bytes() const {
  // Unpadded frames: a silent frame may always drop the padding slot.
  if (layer == 1) return 12 * bit_rate / sample_rate * 4;
  return 144 * bit_rate / sample_rate;
}

// Layers I and II: a header from the parameters and every allocation zero,
// so no scale factor or sample follows and the frame decodes to silence.
int AudioMuteFrame::layer12_frame(uint8_t* out, int size) const {
  static const int kRates[2][15] = {
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
  };
  const int bytes = layer12_frame_bytes();
  if (!out || size < bytes) {
    trace("ERROR (AudioMuteFrame::next_frame): invalid input(s)\n");
    return 0;
  }
  int index = 0;
  for (int i = 1; i < 15; ++i)
    if (kRates[layer - 1][i] * 1000 == bit_rate) index = i;
  const int rate_code = sample_rate == 44100 ? 0 : sample_rate == 48000 ? 1 : 2;
  std::memset(out, 0, static_cast<size_t>(bytes));
  out[0] = 0xFF;
  out[1] = layer == 1 ? 0xFF : 0xFD;  // MPEG-1, no CRC
  out[2] = static_cast<uint8_t>(index << 4 | rate_code << 2);
  out[3] = channels == 1 ? 0xC4 : 0x04;
  return bytes;
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
      return layer12_frame(out, size);
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

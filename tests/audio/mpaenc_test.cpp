// Layer I/II encoder: frame sizes and padding against the rule computed here
// independently, header fields, parameter defaults, silent frames, and
// round trips through our decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "audio/codec/mpa_decoder.h"
#include "audio/codec/mpaenc_encoder.h"
#include "audio/codec/mpaenc_tables.h"
#include "audio/codec/psy_model1.h"
#include "audio/codec/psy_model1_tables.h"
#include "audio/codec/psy_model2.h"
#include "audio/codec/psy_model2_tables.h"
#include "support.h"

namespace {

struct Stream {
  std::vector<uint8_t> bytes;
  std::vector<int> sizes, paddings;
};

std::vector<int16_t> tones(int rate, int channels, int frames, uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 0.05);
  std::vector<int16_t> pcm(size_t(frames) * channels);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) {
      const double t = double(i) / rate;
      const double v = 0.3 * std::sin(2 * M_PI * (440 + 220 * c) * t) + 0.2 * std::sin(2 * M_PI * 3100 * t) + noise(rng);
      pcm[size_t(i) * channels + c] = int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32767));
    }
  return pcm;
}

Stream encode(AudioEncoder& enc, const std::vector<int16_t>& pcm) {
  Stream s;
  const size_t total = pcm.size() / size_t(enc.channels());
  std::vector<uint8_t> frame(size_t(enc.max_frame_bytes()));
  for (size_t at = 0; at < total; at += size_t(enc.samples_per_frame())) {
    const int count = int(std::min<size_t>(size_t(enc.samples_per_frame()), total - at));
    const int n = enc.encode_next_frame(frame.data(), int(frame.size()), &pcm[at * size_t(enc.channels())], count);
    EXPECT_GT(n, 0);
    s.bytes.insert(s.bytes.end(), frame.begin(), frame.begin() + n);
    s.sizes.push_back(n);
    s.paddings.push_back(enc.padding());
  }
  return s;
}

// The padding rule as a float-rate reference: lag starts at -fraction.
std::vector<int> expected_sizes(int rate, int kbps, int layer, int frames) {
  const float khz = rate == 44100 ? 44.1f : float(rate / 1000);
  const int spf = layer == 1 ? 384 : 1152, bps = layer == 1 ? 32 : 8;
  const double avg = spf / double(khz) * kbps / bps;
  const int whole = int(avg);
  const double frac = avg - whole;
  double lag = -frac;
  std::vector<int> out;
  for (int i = 0; i < frames; ++i) {
    int pad = 0;
    if (frac != 0.0) {
      if (lag <= frac - 1.0) {
        pad = 1;
        lag += 1.0 - frac;
      } else {
        lag -= frac;
      }
    }
    out.push_back((whole + pad) * bps / 8);
  }
  return out;
}

std::vector<int16_t> decode_all(const std::vector<uint8_t>& s, int* frames) {
  MpegAudioDecoder d;
  std::vector<int16_t> out;
  int16_t buf[MpegAudioDecoder::kMaxOutput];
  size_t at = 0;
  *frames = 0;
  while (at < s.size()) {
    const int n = d.decode_frame(s.data() + at, int(s.size() - at), buf);
    if (d.consumed() <= 0) break;
    at += size_t(d.consumed());
    if (n > 0) {
      ++*frames;
      out.insert(out.end(), buf, buf + n);
    }
  }
  return out;
}

double snr_at_delay(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec, int channels, int delay) {
  double sig = 0, err = 0;
  const size_t d = size_t(delay) * channels;
  for (size_t i = 4096; i + d + 4096 < std::min(ref.size(), dec.size()); ++i) {
    sig += double(ref[i]) * ref[i];
    const double e = double(ref[i]) - dec[i + d];
    err += e * e;
  }
  return 10 * std::log10(sig / std::max(err, 1.0));
}

struct FrameCase {
  int rate, channels, kbps, layer, frames;
  double min_snr = 12.0;  // 16 kbit/s per channel cannot carry the test tones
};

class MpaEncFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(MpaEncFrames, SizesPaddingHeadersAndRoundTrip) {
  const FrameCase c = GetParam();
  AudioEncoder enc(c.rate, c.channels, c.kbps * 1000, c.layer, 2);
  const int spf = enc.samples_per_frame();
  // One sample more than whole frames: the last frame is short and padded.
  const std::vector<int16_t> pcm = tones(c.rate, c.channels, spf * (c.frames - 1) + 1, 7);
  const Stream s = encode(enc, pcm);
  ASSERT_EQ(int(s.sizes.size()), c.frames);
  EXPECT_EQ(s.sizes, expected_sizes(c.rate, c.kbps, c.layer, c.frames));
  size_t at = 0;
  for (int i = 0; i < c.frames; ++i) {
    // 12 sync | ID | layer 2 | !crc | rate idx 4 | fs 2 | pad | priv | mode 2 | ...
    const uint8_t* h = &s.bytes[at];
    ASSERT_EQ(h[0], 0xFF);
    EXPECT_EQ(h[1], uint8_t(0xF8 | ((4 - c.layer) << 1) | 1));
    EXPECT_EQ((h[2] >> 4), [&] {
      for (int k = 1; k < 15; ++k)
        if (kMpaEncBitRates[c.layer - 1][k] == c.kbps) return k;
      return 0;
    }());
    EXPECT_EQ((h[2] >> 2) & 3, c.rate == 44100 ? 0 : c.rate == 48000 ? 1 : 2);
    EXPECT_EQ((h[2] >> 1) & 1, s.paddings[size_t(i)]);
    EXPECT_EQ(h[3] >> 6, c.channels == 1 ? 3 : 0);
    at += size_t(s.sizes[size_t(i)]);
  }
  int frames = 0;
  const std::vector<int16_t> dec = decode_all(s.bytes, &frames);
  EXPECT_EQ(frames, c.frames);
  EXPECT_GT(snr_at_delay(pcm, dec, c.channels, c.layer == 1 ? 545 : 481), c.min_snr);
}

INSTANTIATE_TEST_SUITE_P(Rates, MpaEncFrames,
                         ::testing::Values(FrameCase{44100, 2, 128, 2, 400}, FrameCase{44100, 2, 384, 2, 400},
                                           FrameCase{44100, 1, 96, 2, 40}, FrameCase{48000, 2, 192, 2, 30},
                                           FrameCase{32000, 2, 192, 2, 30}, FrameCase{32000, 1, 64, 2, 30},
                                           FrameCase{44100, 2, 384, 1, 120}, FrameCase{48000, 1, 192, 1, 60},
                                           FrameCase{32000, 2, 32, 1, 30, 2.0}));

TEST(MpaEnc, PaddingLeavesExactSequenceAfterHundredsOfFrames) {
  // With 44.1 held at single precision the sequence drifts from the
  // exact-rate one; the reference above uses the same float.
  const std::vector<int> f = expected_sizes(44100, 128, 2, 800);
  std::vector<int> exact;
  double lag = 0;
  for (int i = 0; i < 800; ++i) {
    const double bytes = 1152.0 / 44100.0 * 128000.0 / 8.0;
    lag += bytes;
    const int n = int(std::floor(lag + 1e-9)) - int(std::floor(lag - bytes + 1e-9));
    exact.push_back(n);
  }
  EXPECT_NE(f, exact);
  EXPECT_EQ(f[0], 418);  // the lag starts at -0.959: padded
  EXPECT_EQ(expected_sizes(48000, 128, 2, 1)[0], 384);
  EXPECT_EQ(expected_sizes(32000, 32, 1, 1)[0], 48);
}

TEST(MpaEnc, CrcFramesDecodeAndCarryProtection) {
  for (int layer : {1, 2}) {
    AudioEncoder enc(48000, 2, layer == 1 ? 384000 : 192000, layer, 2);
    enc.set_error_protection(true);
    const Stream s = encode(enc, tones(48000, 2, 1152 * 4, 3));
    EXPECT_EQ(s.bytes[1] & 1, 0);
    int frames = 0;
    decode_all(s.bytes, &frames);
    EXPECT_EQ(frames, int(s.sizes.size()));
  }
}

struct DefaultCase {
  int rate, channels, bit_rate, layer, model;
  const char* message;
  int want_rate, want_channels, want_bit_rate, want_layer;
};

TEST(MpaEnc, BadSettingsBecomeDefaultsWithTrace) {
  const DefaultCase cases[] = {
      {22050, 2, 128000, 2, 2, "bad sample-rate=22050", 44100, 2, 128000, 2},
      {48000, 2, 100000, 2, 2, "bad bit_rate=100000", 48000, 2, 128000, 2},
      // Below 1000 bit/s would be the free-format index: refused too.
      {48000, 2, 500, 2, 2, "bad bit_rate=500", 48000, 2, 128000, 2},
      {48000, 2, 192000, 3, 2, "bad layer=3", 48000, 2, 192000, 2},
      {48000, 3, 192000, 2, 2, "bad channels=3", 48000, 2, 192000, 2},
      {48000, 2, 192000, 2, 7, "bad model=7", 48000, 2, 192000, 2},
  };
  for (const DefaultCase& c : cases) {
    tsupport::TraceCapture cap;
    AudioEncoder enc(c.rate, c.channels, c.bit_rate, c.layer, c.model);
    EXPECT_TRUE(cap.contains(std::string("AudioEncoder::init_info (ERROR): ") + c.message)) << c.message;
    EXPECT_EQ(enc.sample_rate(), c.want_rate);
    EXPECT_EQ(enc.channels(), c.want_channels);
    EXPECT_EQ(enc.bit_rate(), c.want_bit_rate);
    EXPECT_EQ(enc.layer(), c.want_layer);
  }
}

TEST(MpaEncTables, AllocationTablesAndChoice) {
  MpaAllocTable t;
  const int sblimits[4] = {27, 30, 8, 12};
  for (int n = 0; n < 4; ++n) EXPECT_EQ(load_bit_alloc_table(n, t), sblimits[n]);
  EXPECT_EQ(load_bit_alloc_table(4, t), -1);
  load_bit_alloc_table(0, t);
  EXPECT_EQ(t[0][0].bits, 4);
  EXPECT_EQ(t[0][15].steps, 65535);
  EXPECT_EQ(t[11][0].bits, 3);
  EXPECT_EQ(t[23][3].steps, 65535);
  EXPECT_EQ(t[3][2].steps, 5);
  EXPECT_EQ(t[3][2].group, 1);
  EXPECT_EQ(t[3][2].bits, 7);
  struct {
    int khz, kbps, table;
  } picks[] = {{48, 96, 0}, {44, 96, 1}, {44, 32, 2}, {48, 32, 2}, {32, 32, 3}, {44, 64, 0}, {32, 192, 1}};
  for (auto p : picks) EXPECT_EQ(audio_encoder_pick_table(p.khz, p.kbps), p.table) << p.khz << " " << p.kbps;
  AudioEncoder a(48000, 2, 192000, 2, 2), b(44100, 2, 192000, 2, 2), c(32000, 2, 64000, 2, 2);
  EXPECT_EQ(a.table_number(), 0);
  EXPECT_EQ(b.table_number(), 1);
  EXPECT_EQ(c.table_number(), 3);
}

// The allocator raises a subband's code one step at a time: every step must
// buy more quantiser levels, and the SNR must follow.
TEST(MpaEncTables, EveryAllocationStepAddsLevels) {
  MpaAllocTable t;
  for (int n = 0; n < 4; ++n) {
    const int sblimit = load_bit_alloc_table(n, t);
    for (int sb = 0; sb < sblimit; ++sb) {
      const int codes = 1 << t[sb][0].bits;
      EXPECT_EQ(t[sb][0].steps, 0);
      for (int a = 1; a < codes; ++a) {
        SCOPED_TRACE(testing::Message() << "table " << n << " subband " << sb << " code " << a);
        EXPECT_GT(t[sb][a].steps, t[sb][a - 1].steps);
        EXPECT_GT(mpaenc_snr_of_class(t[sb][a].quant), a > 1 ? mpaenc_snr_of_class(t[sb][a - 1].quant) : 0.0);
      }
      for (int a = codes; a < 16; ++a) EXPECT_EQ(t[sb][a].steps, 0);
    }
  }
}

TEST(MpaEncTables, JsBoundOutsideTableIsAnError) {
  EXPECT_EQ(audio_encoder_get_js_bound(2, 0), 4);
  EXPECT_EQ(audio_encoder_get_js_bound(1, 3), 16);
  tsupport::TraceCapture cap;
  EXPECT_EQ(audio_encoder_get_js_bound(4, 0), -1);
  EXPECT_EQ(audio_encoder_get_js_bound(2, 4), -1);
  EXPECT_TRUE(cap.contains("audio_encoder_get_js_bound (ERROR)"));
}

TEST(MpaEncTables, ScaleFactorsAtSinglePrecision) {
  EXPECT_EQ(mpaenc_scale_factors()[0], 2.0f);
  EXPECT_EQ(double(mpaenc_scale_factors()[1]), 1.587401032447815);
  EXPECT_EQ(mpaenc_scale_factors()[63], 0.0f);
}

TEST(MpaEncSilence, FramesDecodeToZerosWithPadding) {
  const FrameCase cases[] = {{48000, 2, 192, 2, 0}, {44100, 2, 128, 2, 0}, {32000, 2, 192, 2, 0},
                             {44100, 2, 384, 1, 0}, {48000, 1, 64, 1, 0},  {44100, 1, 192, 2, 0}};
  for (const FrameCase& c : cases) {
    AudioEncoder enc(c.rate, c.channels, c.kbps * 1000, c.layer, 2);
    std::vector<uint8_t> stream, frame(size_t(enc.max_frame_bytes()));
    std::vector<int> sizes;
    for (int i = 0; i < 60; ++i) {
      const int n = enc.encode_silent_frame(frame.data(), int(frame.size()));
      ASSERT_GT(n, 0);
      EXPECT_EQ((frame[2] >> 1) & 1, enc.padding());
      sizes.push_back(n);
      stream.insert(stream.end(), frame.begin(), frame.begin() + n);
    }
    EXPECT_EQ(sizes, expected_sizes(c.rate, c.kbps, c.layer, 60));
    int frames = 0;
    const std::vector<int16_t> pcm = decode_all(stream, &frames);
    EXPECT_EQ(frames, 60);
    for (int16_t v : pcm) ASSERT_EQ(v, 0);
    EXPECT_EQ(enc.encode_silent_frame(frame.data(), 10), 0);
  }
}

TEST(MpaEncInput, ExtremePcmNeverWritesPastFrame) {
  const int16_t levels[] = {32767, -32768, 0, 12345};
  for (int layer : {1, 2})
    for (int16_t level : levels) {
      AudioEncoder enc(44100, 2, layer == 1 ? 448000 : 384000, layer, 2);
      const int spf = enc.samples_per_frame();
      std::vector<int16_t> pcm(size_t(spf) * 2, level);
      for (size_t i = 1; level == 12345 && i < pcm.size(); i += 2) pcm[i] = int16_t(i % 2 ? 32767 : -32768);
      std::vector<uint8_t> out(size_t(enc.max_frame_bytes()) + 16, 0xA5);
      for (int f = 0; f < 3; ++f) {
        const int n = enc.encode_next_frame(out.data(), enc.max_frame_bytes(), pcm.data(), spf);
        ASSERT_GT(n, 0);
        for (size_t i = size_t(enc.max_frame_bytes()); i < out.size(); ++i) ASSERT_EQ(out[i], 0xA5);
      }
      // A count below a frame reads only what it is given (ASan checks).
      std::vector<int16_t> few(6, level);
      EXPECT_GT(enc.encode_next_frame(out.data(), enc.max_frame_bytes(), few.data(), 3), 0);
      EXPECT_EQ(enc.encode_next_frame(out.data(), 4, few.data(), 3), 0);
    }
}

TEST(MpaEncPsy, ModelOneSizesSilenceAndRoundTrip) {
  const int sizes[2][2] = {{512, 640}, {1024, 1408}};
  for (int layer : {1, 2})
    for (int rate : {44100, 48000, 32000}) {
      AudioEncoderPsyModel1 m(layer, rate);
      EXPECT_EQ(m.fft_size(), sizes[layer - 1][0]);
      EXPECT_EQ(m.history_size(), sizes[layer - 1][1]);
      std::vector<int16_t> zero(1152, 0);
      double smr[32], scale[32];
      std::fill_n(scale, 32, 1e-20);
      m.analyse(0, zero.data(), 1, scale, smr);
      for (double v : smr) EXPECT_LE(v, 0.0) << layer << " " << rate;
    }
  for (int layer : {1, 2})
    for (int rate : {48000, 32000}) {
      AudioEncoder enc(rate, 2, layer == 1 ? 384000 : 192000, layer, 1);
      EXPECT_EQ(enc.model(), 1);
      const std::vector<int16_t> pcm = tones(rate, 2, 1152 * 40, 11);
      const Stream s = encode(enc, pcm);
      int frames = 0;
      const std::vector<int16_t> dec = decode_all(s.bytes, &frames);
      EXPECT_EQ(frames, int(s.sizes.size()));
      EXPECT_GT(snr_at_delay(pcm, dec, 2, layer == 1 ? 545 : 481), 15.0);
    }
}

// The line tables of model 1: rising lines and rates inside the spectrum,
// band boundaries on it, values where a slip would show.
TEST(MpaEncPsy, ModelOneTables) {
  struct Spot {
    int layer, rate, count, line;
    double bark, hear;
  } spots[] = {{2, 44100, 130, 464, 24.574, 68.00}, {2, 48000, 126, 432, 24.597, 68.00},
               {2, 32000, 132, 392, 23.272, 23.01}, {1, 44100, 106, 25, 13.578, -0.96},
               {1, 48000, 102, 216, 24.597, 68.00}, {1, 32000, 108, 1, 0.617, 33.44}};
  for (const Spot& sp : spots) {
    SCOPED_TRACE(std::to_string(sp.layer) + " " + std::to_string(sp.rate));
    MpaPsyTable t{};
    ASSERT_TRUE(audio_encoder_get_indice(sp.layer, sp.rate, &t));
    EXPECT_EQ(t.count, sp.count);
    const int half = sp.layer == 1 ? 256 : 512;
    bool found = false;
    for (int i = 0; i < t.count; ++i) {
      EXPECT_LT(t.lines[i].line, half);
      if (i > 0) {
        EXPECT_GT(t.lines[i].line, t.lines[i - 1].line);
        EXPECT_GT(t.lines[i].bark, t.lines[i - 1].bark);
      }
      if (t.lines[i].line == sp.line) {
        found = true;
        EXPECT_EQ(t.lines[i].bark, sp.bark);
        EXPECT_EQ(t.lines[i].hear, sp.hear);
      }
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(t.bounds[t.bound_count - 1], t.lines[t.count - 1].line);
    for (int b = 1; b < t.bound_count; ++b) EXPECT_GT(t.bounds[b], t.bounds[b - 1]);
  }
  tsupport::TraceCapture cap;
  MpaPsyTable t{};
  EXPECT_FALSE(audio_encoder_get_indice(3, 44100, &t));
  EXPECT_FALSE(audio_encoder_get_indice(2, 22050, &t));
  EXPECT_TRUE(cap.contains("audio_encoder_get_indice (ERROR): layer=3, sample_rate=44100"));
  EXPECT_TRUE(cap.contains("audio_encoder_get_indice (ERROR): layer=2, sample_rate=22050"));
}

TEST(MpaEncPsy, SilenceGivesNoPositiveSmrAndAbsThrRates) {
  for (int layer : {1, 2}) {
    AudioEncoderPsyModel2 m(layer, 48000);
    std::vector<int16_t> zero(1152, 0);
    double smr[32];
    m.analyse(0, zero.data(), 1, smr);
    for (double v : smr) EXPECT_LE(v, 0.0);
    EXPECT_LE(m.partitions(), 80);
  }
  tsupport::TraceCapture cap;
  EXPECT_EQ(audio_encoder_tables_get_absthr(22050), nullptr);
  EXPECT_TRUE(cap.contains("audio_encoder_tables_get_absthr (ERROR): sample_rate=22050"));
  EXPECT_NE(audio_encoder_tables_get_absthr(32000), nullptr);
}

// The model 2 partitions as tabulated: widths adding up to the lines each
// table covers, rising rates, minimum SNRs falling with the rate, and per
// line thresholds in quiet that sit on the table's few levels (0, 3, 5, 10,
// 20, 24, 27 or 30 dB above the lowest), which a slip in a width or a
// threshold would leave. Spot values at both ends of each table.
TEST(MpaEncPsy, ModelTwoPartitionTables) {
  struct Spot {
    int index, lines;
    double minval, qthr, norm, bval;
  };
  struct Case {
    int rate, count, lines;
    Spot spots[3];
  } cases[] = {
      {44100, 63, 465, {{0, 1, 24.5, 4.532, 0.951, 0.0}, {15, 2, 12.0, 0.018, 0.856, 6.422}, {62, 18, 0.0, 162.770, 0.515, 24.442}}},
      {48000, 62, 481, {{0, 1, 24.5, 4.532, 0.970, 0.0}, {16, 2, 6.0, 0.018, 0.857, 7.174}, {61, 67, 0.0, 605.867, 0.524, 24.576}}},
      {32000, 59, 488, {{0, 2, 24.5, 4.532, 0.997, 0.313}, {18, 3, 3.0, 0.027, 0.654, 9.484}, {58, 12, 0.0, 10.851, 0.500, 23.937}}},
  };
  const double levels[] = {0, 3, 5, 10, 20, 24, 27, 30};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    const PsyPartitionTable t = psy_model2_partitions(c.rate);
    ASSERT_EQ(t.count, c.count);
    int lines = 0;
    for (int b = 0; b < t.count; ++b) {
      const PsyPartition& p = t.parts[b];
      SCOPED_TRACE(b);
      lines += p.lines;
      EXPECT_GT(p.lines, 0);
      EXPECT_GT(p.norm, 0.0);
      EXPECT_LE(p.norm, 1.0);
      if (b > 0) {
        EXPECT_GT(p.bval, t.parts[b - 1].bval);
        EXPECT_LE(p.minval, t.parts[b - 1].minval);
        if (b < t.count - 1) EXPECT_GE(p.lines, t.parts[b - 1].lines);  // the last one is cut off
      }
      const double above = 10.0 * std::log10(p.qthr / p.lines / 0.009043);
      double nearest = 1e9;
      for (double l : levels) nearest = std::min(nearest, std::fabs(above - l));
      EXPECT_LT(nearest, 0.1) << "qthr " << p.qthr << " over " << p.lines << " lines";
    }
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(t.lines, c.lines);
    for (const Spot& sp : c.spots) {
      const PsyPartition& p = t.parts[sp.index];
      EXPECT_EQ(p.lines, sp.lines) << sp.index;
      EXPECT_DOUBLE_EQ(p.minval, sp.minval) << sp.index;
      EXPECT_DOUBLE_EQ(p.qthr, sp.qthr) << sp.index;
      EXPECT_DOUBLE_EQ(p.norm, sp.norm) << sp.index;
      EXPECT_DOUBLE_EQ(p.bval, sp.bval) << sp.index;
    }
    // The lines' thresholds come from the partitions: the lowest level,
    // 0.009 over one line of a 1/1024-scaled transform, is -2.75 dB.
    const double* thr = audio_encoder_tables_get_absthr(c.rate);
    ASSERT_NE(thr, nullptr);
    EXPECT_NEAR(*std::min_element(thr, thr + 513), -2.75, 0.01);
    EXPECT_DOUBLE_EQ(thr[512], thr[c.lines - 1]);
  }
  tsupport::TraceCapture cap;
  EXPECT_EQ(psy_model2_partitions(22050).count, 0);
  EXPECT_TRUE(cap.contains("psy_model2_partitions (ERROR): sample_rate=22050"));
}

// A tone centred in subband k gives its largest SMR there, with the
// standard's partitions at each rate.
TEST(MpaEncPsy, ModelTwoToneMasksAroundItsSubband) {
  for (int rate : {32000, 44100, 48000})
    for (int sb : {2, 9, 20}) {
      AudioEncoderPsyModel2 m(2, rate);
      std::vector<int16_t> pcm(1152 * 4);
      const double hz = (sb + 0.5) * rate / 64.0;
      for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t(std::lround(12000 * std::sin(2 * M_PI * hz * double(i) / rate)));
      double smr[32];
      for (int f = 0; f < 4; ++f) m.analyse(0, &pcm[size_t(f) * 1152], 1, smr);
      EXPECT_EQ(std::max_element(smr, smr + 32) - smr, sb) << rate << " " << sb;
      EXPECT_GT(smr[sb], 20.0) << rate << " " << sb;
      EXPECT_LT(smr[(sb + 12) % 32], 0.0) << rate << " " << sb;
    }
}

}  // namespace

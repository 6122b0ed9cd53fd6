// MpegAudioDecoder in-process: the frame road (locking, junk, cut frames,
// rate changes), layer III reservoir and side-information checks, the
// layer II joint-stereo bound, the equalizer switch, rescaling, the
// Huffman tables and concurrent construction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "audio/codec/layer3_huffman.h"
#include "audio/codec/mpa_decoder.h"
#include "foundation/bitstream.h"
#include "support.h"

namespace {

std::vector<uint8_t> load(const std::string& name) { return tsupport::read_file(tsupport::fixture(name)); }

// Offsets of the frames of a clean elementary stream.
std::vector<size_t> frame_offsets(const std::vector<uint8_t>& s) {
  std::vector<size_t> at;
  size_t pos = 0;
  while (pos + 4 <= s.size()) {
    FrmHdr h;
    if (h.parse(static_cast<uint32_t>(s[pos]) << 24 | s[pos + 1] << 16 | s[pos + 2] << 8 | s[pos + 3]) != 0) break;
    at.push_back(pos);
    pos += static_cast<size_t>(h.frame_size);
  }
  return at;
}

int frame_size_at(const std::vector<uint8_t>& s, size_t pos) {
  FrmHdr h;
  h.parse(static_cast<uint32_t>(s[pos]) << 24 | s[pos + 1] << 16 | s[pos + 2] << 8 | s[pos + 3]);
  return h.frame_size;
}

struct Pcm {
  int16_t v[MpegAudioDecoder::kMaxOutput];
};

TEST(MpaHuffman, EveryCodeOfEveryTableDecodesToItsValue) {
  for (int t = 1; t < 34; ++t) {
    const HuffSource& s = kHuffSources[t];
    const HuffLookup* h = huff_lookup(t);
    if (!s.codes) {
      EXPECT_EQ(h, nullptr) << "table " << t;
      continue;
    }
    ASSERT_NE(h, nullptr) << "table " << t;
    EXPECT_EQ(h->linbits, s.linbits) << "table " << t;
    const int n = t >= 32 ? 16 : s.size * s.size;
    double kraft = 0.0;
    for (int i = 0; i < n; ++i) {
      kraft += std::ldexp(1.0, -s.lengths[i]);
      // The code word, then a tail of ones and of zeros after it.
      for (uint32_t tail : {0u, 0xFFFFFFFFu}) {
        uint8_t buf[16] = {};
        BitWriter w(buf, sizeof buf);
        w.put_bits(s.codes[i], s.lengths[i]);
        w.put_bits(tail, 32);
        w.flush();
        BS bs(buf, sizeof buf);
        const int v = huff_decode(bs, *h);
        const int want = t >= 32 ? i : (i / s.size) * 16 + i % s.size;
        ASSERT_EQ(v, want) << "table " << t << " entry " << i;
        ASSERT_EQ(static_cast<int>(bs.bit_position()), s.lengths[i]) << "table " << t << " entry " << i;
      }
    }
    // Every table is a complete prefix code.
    EXPECT_DOUBLE_EQ(kraft, 1.0) << "table " << t;
  }
}

TEST(MpaEqualizer, UnityGainsSwitchItOffAndOthersOn) {
  MpegAudioDecoder d;
  std::vector<double> g(64, 1.005);
  EXPECT_EQ(d.set_equalizer(g.data()), 0);
  EXPECT_FALSE(d.equalizer_on());
  g[17] = 0.999;
  EXPECT_EQ(d.set_equalizer(g.data()), 1);
  EXPECT_TRUE(d.equalizer_on());
  g[17] = 1.01;  // the first gain above unity
  EXPECT_EQ(d.set_equalizer(g.data()), 1);
  g[17] = 1.0;
  EXPECT_EQ(d.set_equalizer(g.data()), 0);
  EXPECT_FALSE(d.equalizer_on());
  d.clear();  // clear keeps the equalizer
  g[0] = 2.0;
  d.set_equalizer(g.data());
  d.clear();
  EXPECT_TRUE(d.equalizer_on());
}

TEST(MpaFrameRoad, GarbageBeforeAFrameIsSkipped) {
  TSUPPORT_NEED_FIXTURES("mpa_tl_s.mp2");
  const std::vector<uint8_t> s = load("mpa_tl_s.mp2");
  MpegAudioDecoder plain, junked;
  Pcm a, b;
  std::vector<uint8_t> buf(333 + s.size(), 0x55);
  std::copy(s.begin(), s.end(), buf.begin() + 333);
  const int n = plain.decode_frame(s.data(), static_cast<int>(s.size()), a.v);
  ASSERT_EQ(n, 2304);
  EXPECT_EQ(junked.decode_frame(buf.data(), static_cast<int>(buf.size()), b.v), n);
  EXPECT_EQ(junked.consumed(), 333 + plain.consumed());
  EXPECT_EQ(std::vector<int16_t>(a.v, a.v + n), std::vector<int16_t>(b.v, b.v + n));
}

TEST(MpaFrameRoad, CutLastFrameGivesNoSamples) {
  TSUPPORT_NEED_FIXTURES("mpa_lame_cbr.mp3");
  const std::vector<uint8_t> s = load("mpa_lame_cbr.mp3");
  const std::vector<size_t> at = frame_offsets(s);
  ASSERT_GE(at.size(), 3u);
  MpegAudioDecoder d;
  Pcm p;
  ASSERT_GT(d.decode_frame(s.data(), static_cast<int>(at[1]), p.v), 0);  // the frame ends the buffer: taken
  const int size = frame_size_at(s, at[1]);
  EXPECT_EQ(d.decode_frame(s.data() + at[1], size - 1, p.v), 0);
  EXPECT_EQ(d.frame_bytes(), 0);
}

TEST(MpaFrameRoad, SampleRateChangeIsSkippedUntilClear) {
  TSUPPORT_NEED_FIXTURES("mpa_t0_48000.mp2", "mpa_t1_44100.mp2");
  const std::vector<uint8_t> a = load("mpa_t0_48000.mp2");
  const std::vector<uint8_t> b = load("mpa_t1_44100.mp2");
  MpegAudioDecoder d;
  Pcm p;
  ASSERT_EQ(d.decode_frame(a.data(), static_cast<int>(a.size()), p.v), 2304);
  EXPECT_EQ(d.decode_frame(b.data(), static_cast<int>(b.size()), p.v), 0);
  EXPECT_EQ(d.frame_bytes(), 0);
  d.clear();
  EXPECT_EQ(d.decode_frame(b.data(), static_cast<int>(b.size()), p.v), 2304);
  EXPECT_EQ(d.reference().sample_rate, 44100);
}

struct CountCase {
  const char* file;
  int values;
};

TEST(MpaFrameRoad, ValuesPerFrameFollowLayerRateAndChannels) {
  TSUPPORT_NEED_FIXTURES("mpa_lame_24000.mp3", "mpa_lame_vbr.mp3", "mpa_lame_mono.mp3", "mpa_lame_8000.mp3", "mpa_tl_m.mp2", "mpa_t4_24000.mp2");
  const CountCase cases[] = {{"mpa_lame_24000.mp3", 1152}, {"mpa_lame_vbr.mp3", 2304}, {"mpa_lame_mono.mp3", 1152},
                             {"mpa_lame_8000.mp3", 1152},  {"mpa_tl_m.mp2", 1152},     {"mpa_t4_24000.mp2", 2304}};
  for (const CountCase& c : cases) {
    const std::vector<uint8_t> s = load(c.file);
    MpegAudioDecoder d;
    Pcm p;
    size_t pos = 0;
    int decoded = 0;
    for (int i = 0; i < 6 && pos < s.size(); ++i) {
      const int n = d.decode_frame(s.data() + pos, static_cast<int>(s.size() - pos), p.v);
      ASSERT_GT(d.consumed(), 0) << c.file;
      pos += static_cast<size_t>(d.consumed());
      if (d.frame_bytes()) {
        EXPECT_EQ(n, c.values) << c.file << " frame " << i;
        ++decoded;
      }
    }
    EXPECT_EQ(decoded, 6) << c.file;
  }
}

// Bits of the side information of an MPEG-1 layer III frame without CRC.
void set_bits(std::vector<uint8_t>& s, size_t byte, int bit, int n, uint32_t v) {
  for (int i = 0; i < n; ++i) {
    const size_t at = byte * 8 + static_cast<size_t>(bit + i);
    const uint8_t mask = static_cast<uint8_t>(0x80 >> (at & 7));
    if (v >> (n - 1 - i) & 1) s[at >> 3] |= mask;
    else s[at >> 3] &= static_cast<uint8_t>(~mask);
  }
}
uint32_t get_bits(const std::vector<uint8_t>& s, size_t byte, int bit, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) {
    const size_t at = byte * 8 + static_cast<size_t>(bit + i);
    v = v << 1 | (s[at >> 3] >> (7 - (at & 7)) & 1);
  }
  return v;
}

TEST(MpaLayer3, FirstFrameAfterClearThatReachesBackIsSilenceOfFrameLength) {
  TSUPPORT_NEED_FIXTURES("mpa_vbr_long.mp3");
  const std::vector<uint8_t> s = load("mpa_vbr_long.mp3");
  const std::vector<size_t> at = frame_offsets(s);
  size_t k = 0;
  for (size_t i = 10; i < at.size() && !k; ++i)
    if (get_bits(s, at[i] + 4, 0, 9) > 0 && at.size() > i + 3) k = i;
  ASSERT_GT(k, 0u);
  MpegAudioDecoder d;
  Pcm p;
  std::fill(std::begin(p.v), std::end(p.v), int16_t{7});
  ASSERT_EQ(d.decode_frame(s.data() + at[k], static_cast<int>(s.size() - at[k]), p.v), 2304);
  for (int i = 0; i < 2304; ++i) ASSERT_EQ(p.v[i], 0) << i;
  // Within three frames the carried data suffices again.
  bool sound = false;
  for (size_t j = k + 1; j <= k + 3 && !sound; ++j) {
    ASSERT_EQ(d.decode_frame(s.data() + at[j], static_cast<int>(s.size() - at[j]), p.v), 2304);
    for (int i = 0; i < 2304 && !sound; ++i) sound = p.v[i] != 0;
  }
  EXPECT_TRUE(sound);
}

TEST(MpaLayer3, BigValuesAbove288EndTheFrameAndTheNextDecodes) {
  TSUPPORT_NEED_FIXTURES("mpa_lame_cbr.mp3");
  std::vector<uint8_t> s = load("mpa_lame_cbr.mp3");
  const std::vector<size_t> at = frame_offsets(s);
  ASSERT_GE(at.size(), 8u);
  ASSERT_EQ(s[at[5] + 1] & 1, 1) << "expected frames without CRC";
  // Side information (stereo): main_data_begin 9, private 3, scfsi 8, then
  // granule 0 channel 0: part2_3_length 12, big_values 9.
  set_bits(s, at[5] + 4, 32, 9, 300);
  MpegAudioDecoder d, clean;
  Pcm p;
  tsupport::TraceCapture trace;
  for (size_t i = 0; i < 5; ++i) d.decode_frame(s.data() + at[i], static_cast<int>(s.size() - at[i]), p.v);
  EXPECT_EQ(d.decode_frame(s.data() + at[5], static_cast<int>(s.size() - at[5]), p.v), 0);
  EXPECT_EQ(d.frame_bytes(), frame_size_at(s, at[5]));
  EXPECT_TRUE(trace.contains("get_side_info_1 (): big_values too large!"));
  EXPECT_EQ(d.decode_frame(s.data() + at[6], static_cast<int>(s.size() - at[6]), p.v), 2304);
}

TEST(MpaLayer3, WindowSwitchingWithBlockTypeZeroIsRefused) {
  TSUPPORT_NEED_FIXTURES("mpa_lame_cbr.mp3");
  std::vector<uint8_t> s = load("mpa_lame_cbr.mp3");
  const std::vector<size_t> at = frame_offsets(s);
  // granule 0 channel 0 after part2_3_length 12, big_values 9,
  // global_gain 8, scalefac_compress 4: window_switching 1, block_type 2.
  set_bits(s, at[4] + 4, 20 + 33, 3, 0b100);
  MpegAudioDecoder d;
  Pcm p;
  tsupport::TraceCapture trace;
  EXPECT_EQ(d.decode_frame(s.data() + at[4], static_cast<int>(s.size() - at[4]), p.v), 0);
  EXPECT_TRUE(trace.contains("Blocktype == 0 and window-switching == 1 not allowed."));
}

// region0_count + region1_count + 2 may name bands past the 23 edges of
// the long-block table; the boundaries stop at the table's end.
TEST(MpaLayer3, RegionCountsPastTheBandTableStayInside) {
  TSUPPORT_NEED_FIXTURES("mpa_lame_cbr.mp3");
  std::vector<uint8_t> s = load("mpa_lame_cbr.mp3");
  const std::vector<size_t> at = frame_offsets(s);
  // Side information: main_data_begin 9, private 3, scfsi 8; granule 0
  // channel 0: part2_3_length 12, big_values 9, global_gain 8,
  // scalefac_compress 4, window_switching 1 (bit 53), then without window
  // switching three table selects (15 bits), region0_count 4 (bit 69) and
  // region1_count 3 (bit 73).
  size_t k = 0;
  for (size_t i = 2; i < at.size() && !k; ++i)
    if (get_bits(s, at[i] + 4, 53, 1) == 0) k = i;
  ASSERT_GT(k, 0u);
  set_bits(s, at[k] + 4, 69, 4, 15);
  set_bits(s, at[k] + 4, 73, 3, 7);
  MpegAudioDecoder d;
  Pcm p;
  tsupport::TraceCapture trace;
  for (size_t i = 0; i <= k + 1; ++i) {
    const int n = d.decode_frame(s.data() + at[i], static_cast<int>(s.size() - at[i]), p.v);
    EXPECT_TRUE(n == 0 || n == 2304) << "frame " << i;
  }
  // Region 2 then starts at line 576: never before region 1. An edge read
  // from beyond the table would put it almost anywhere.
  EXPECT_FALSE(trace.contains("III_dequantize_sample (ERROR)"));
}

// With the 8- and 12-subband tables a mode extension of 2 or 3 names a
// joint-stereo bound (12 or 16) above the table's subbands; the allocation
// read ran past the table.
TEST(MpaLayer2, JointBoundAboveSublimitStaysInsideTheTable) {
  TSUPPORT_NEED_FIXTURES("mpa_t2_48000.mp2", "mpa_t3_32000.mp2");
  for (const char* name : {"mpa_t2_48000.mp2", "mpa_t3_32000.mp2"}) {
    std::vector<uint8_t> s = load(name);
    const std::vector<size_t> at = frame_offsets(s);
    ASSERT_GE(at.size(), 4u);
    MpegAudioDecoder d;
    Pcm p;
    for (size_t i = 0; i < 4; ++i) {
      ASSERT_EQ(s[at[i] + 3] >> 6, 1) << name << ": expected joint stereo";
      s[at[i] + 3] |= 0x30;  // mode extension 3: bound 16
      EXPECT_EQ(d.decode_frame(s.data() + at[i], static_cast<int>(s.size() - at[i]), p.v), 2304) << name;
    }
  }
}

TEST(MpaRescale, GainOneKeepsBytesGainZeroSilencesEveryScaleFactor) {
  TSUPPORT_NEED_FIXTURES("mpa_tl_j.mp2");
  const std::vector<uint8_t> s = load("mpa_tl_j.mp2");
  const std::vector<size_t> at = frame_offsets(s);
  for (size_t i = 0; i < 10; ++i) {
    const int size = frame_size_at(s, at[i]);
    std::vector<uint8_t> out(static_cast<size_t>(size));
    ASSERT_EQ(MpegAudioDecoder::rescale_frame(s.data() + at[i], size, 1.0, out.data(), size), size);
    EXPECT_EQ(out, std::vector<uint8_t>(s.begin() + static_cast<long>(at[i]), s.begin() + static_cast<long>(at[i]) + size));
    ASSERT_EQ(MpegAudioDecoder::rescale_frame(s.data() + at[i], size, 0.0, out.data(), size), size);
    MpegAudioDecoder d;
    Pcm p;
    ASSERT_EQ(d.decode_frame(out.data(), size, p.v), 2304);
    for (int k = 0; k < 2304; ++k) ASSERT_EQ(p.v[k], 0);
    // In place: input and output the same buffer.
    std::vector<uint8_t> same(s.begin() + static_cast<long>(at[i]), s.begin() + static_cast<long>(at[i]) + size);
    ASSERT_EQ(MpegAudioDecoder::rescale_frame(same.data(), size, 0.0, same.data(), size), size);
    EXPECT_EQ(same, out);
  }
}

// A layer I frame of 32 bytes (32 kbit/s, 48 kHz) cannot hold the
// allocation and scale factors it claims; the rewrite reached for the byte
// after the frame to keep its low bits.
TEST(MpaRescale, SideInformationRunningPastTheFrameStaysInside) {
  // 1111 1111 1111 | ID 1 | layer 11 | no CRC | 32 kbit/s 0001 | 48 kHz 01
  // | padding 0 | private 0 | stereo 00 | 00 | 0 | 0 | 00
  std::vector<uint8_t> frame = {0xFF, 0xFF, 0x14, 0x00};
  frame.resize(32, 0x11);  // allocated subbands: 63 of 64, so the scale
  frame[4] = 0x01;         // factors end inside a byte, past the frame
  for (double gain : {0.0, 0.5, 1.0}) {
    std::vector<uint8_t> out(frame.size());  // exactly the frame: overruns show
    EXPECT_EQ(MpegAudioDecoder::rescale_frame(frame.data(), 32, gain, out.data(), 32), 32);
  }
}

TEST(MpaRescale, RefusesCutFramesAndSmallOutputs) {
  TSUPPORT_NEED_FIXTURES("mpa_tl_j.mp2");
  const std::vector<uint8_t> s = load("mpa_tl_j.mp2");
  const int size = frame_size_at(s, 0);
  std::vector<uint8_t> out(static_cast<size_t>(size));
  tsupport::TraceCapture trace;
  EXPECT_EQ(MpegAudioDecoder::rescale_frame(s.data(), size - 1, 0.5, out.data(), size), 0);
  EXPECT_TRUE(trace.contains("incomplete frame"));
  EXPECT_EQ(MpegAudioDecoder::rescale_frame(s.data(), size, 0.5, out.data(), size - 1), 0);
  EXPECT_TRUE(trace.contains("output buffer size"));
  EXPECT_EQ(MpegAudioDecoder::rescale_frame(nullptr, size, 0.5, out.data(), size), 0);
}

TEST(MpaThreads, DecodersConstructedOnTwoThreadsAtOnceDecodeAlike) {
  TSUPPORT_NEED_FIXTURES("mpa_lame_cbr.mp3");
  const std::vector<uint8_t> s = load("mpa_lame_cbr.mp3");
  std::vector<int16_t> out[4];
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      MpegAudioDecoder d;
      Pcm p;
      size_t pos = 0;
      for (int i = 0; i < 5; ++i) {
        const int n = d.decode_frame(s.data() + pos, static_cast<int>(s.size() - pos), p.v);
        pos += static_cast<size_t>(d.consumed());
        out[t].insert(out[t].end(), p.v, p.v + n);
      }
    });
  for (std::thread& t : threads) t.join();
  for (int t = 1; t < 4; ++t) EXPECT_EQ(out[t], out[0]);
}

}  // namespace

// AC3Decoder against ffmpeg's and a52dec's stereo downmix of ffmpeg-made streams, and
// the ac3-decode command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "audio/codec/ac3_decoder.h"
#include "foundation/ac3.h"
#include "support.h"
#include "tests/audio/ac3_frame_tools.h"

namespace {

struct Decoded {
  std::vector<int16_t> pcm;  // interleaved stereo
  int frames = 0, failed = 0, crc_errors = 0;
};

Decoded decode_bytes(const std::vector<uint8_t>& s, double drc = 1.0) {
  Decoded d;
  AC3Decoder dec;
  dec.set_drc_scale(drc, drc);
  std::vector<int16_t> out(static_cast<size_t>(dec.get_pcm_samples()));
  for (const auto& f : ac3test::split_frames(s)) {
    const int n = dec.decode_frame(s.data() + f.offset, static_cast<int>(s.size() - f.offset), out.data());
    ++d.frames;
    if (dec.crc_errors()) ++d.crc_errors;
    if (n == 0) ++d.failed;
    d.pcm.insert(d.pcm.end(), out.begin(), out.begin() + n);
  }
  return d;
}

std::vector<float> read_f32(const std::string& path) {
  const auto b = tsupport::read_file(path);
  std::vector<float> f(b.size() / 4);
  std::memcpy(f.data(), b.data(), f.size() * 4);
  return f;
}

// a52dec's stereo mix as floats (a mono stream too is played on both
// channels, 3 dB louder than ours); empty when a52dec fails.
std::vector<float> a52dec_decode(const std::string& stream, int* channels) {
  const std::string out = tsupport::temp_dir() + "/a52.wav";
  if (tsupport::run("a52dec -o wav " + tsupport::sh_quote(stream) + " > " + out + " 2>/dev/null") != 0) return {};
  const auto w = tsupport::read_file(out);
  if (w.size() < 44 || std::memcmp(w.data() + 36, "data", 4) != 0) return {};
  *channels = w[22];
  std::vector<float> f((w.size() - 44) / 2);
  for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<int16_t>(w[44 + 2 * i] | w[45 + 2 * i] << 8) / 32768.0f;
  return f;
}

// SNR in dB of ours (channel c of stereo) against g x reference, g the
// best-fit gain; ref_channels 1 compares against a mono reference.
double snr(const std::vector<int16_t>& ours, int c, const std::vector<float>& ref, int ref_channels, int rc,
           double* gain) {
  const size_t n = std::min(ours.size() / 2, ref.size() / static_cast<size_t>(ref_channels));
  double orr = 0, rr = 0;
  for (size_t i = 0; i < n; ++i) {
    const double o = ours[2 * i + static_cast<size_t>(c)] / 32768.0;
    const double r = ref[i * static_cast<size_t>(ref_channels) + static_cast<size_t>(rc)];
    orr += o * r;
    rr += r * r;
  }
  const double g = rr > 0 ? orr / rr : 0.0;
  double sig = 0, err = 0;
  for (size_t i = 0; i < n; ++i) {
    const double o = ours[2 * i + static_cast<size_t>(c)] / 32768.0;
    const double r = g * ref[i * static_cast<size_t>(ref_channels) + static_cast<size_t>(rc)];
    sig += r * r;
    err += (o - r) * (o - r);
  }
  if (gain) *gain = g;
  return err > 0 ? 10.0 * std::log10(sig / err) : 200.0;
}

}  // namespace

// Also against a52dec, whose level-adjusted mix has our levels.
TEST(AC3Decode, MatchesFfmpegAndA52decDownmixOnEveryLayoutAndRate) {
  const bool a52dec = tsupport::have_program("a52dec");
  const char* layouts[] = {"mono", "stereo", "3_0", "3_0back", "4_0", "quad", "5_0",
                           "2_1",  "3_1",    "4_1", "5_1",     "5_1side"};
  for (const char* layout : layouts)
    for (int rate : {48000, 44100, 32000}) {
      const std::string base = std::string("ac3d_") + layout + "_" + std::to_string(rate);
      TSUPPORT_NEED_FIXTURES(base + ".ac3", base + ".f32");
    }
  for (const char* layout : layouts) {
    for (int rate : {48000, 44100, 32000}) {
      const std::string base = std::string("ac3d_") + layout + "_" + std::to_string(rate);
      SCOPED_TRACE(base);
      const Decoded d = decode_bytes(tsupport::read_file(tsupport::fixture(base + ".ac3")));
      const auto ref = read_f32(tsupport::fixture(base + ".f32"));
      EXPECT_EQ(d.failed, 0);
      EXPECT_EQ(d.crc_errors, 0);
      const bool mono = std::string(layout) == "mono";
      ASSERT_EQ(d.pcm.size(), ref.size() * (mono ? 2 : 1));
      for (int c = 0; c < 2; ++c) {
        double g = 0;
        const double s = snr(d.pcm, c, ref, mono ? 1 : 2, mono ? 0 : c, &g);
        EXPECT_GE(s, 65.0) << "channel " << c << " gain " << g;
        if (std::string(layout) == "stereo") {
          EXPECT_NEAR(g, 1.0, 0.005);
        }
      }
      if (!a52dec) continue;
      int channels = 0;
      const auto a52 = a52dec_decode(tsupport::fixture(base + ".ac3"), &channels);
      ASSERT_EQ(channels, 2);
      ASSERT_EQ(d.pcm.size(), a52.size());
      for (int c = 0; c < 2; ++c) {
        double g = 0;
        EXPECT_GE(snr(d.pcm, c, a52, 2, c, &g), 65.0) << "a52dec channel " << c << " gain " << g;
        EXPECT_NEAR(g, mono ? 0.7071 : 1.0, 0.005) << "a52dec channel " << c;
      }
    }
  }
  if (!a52dec) GTEST_SKIP() << "a52dec not installed: its decode is unchecked";
}

TEST(AC3Decode, CouplingAndExtendedMixLevels) {
  for (const char* base : {"ac3d_cpl_stereo", "ac3d_cpl_5_1", "ac3d_loro"})
    TSUPPORT_NEED_FIXTURES(std::string(base) + ".ac3", std::string(base) + ".f32");
  for (const char* base : {"ac3d_cpl_stereo", "ac3d_cpl_5_1", "ac3d_loro"}) {
    SCOPED_TRACE(base);
    const Decoded d = decode_bytes(tsupport::read_file(tsupport::fixture(std::string(base) + ".ac3")));
    const auto ref = read_f32(tsupport::fixture(std::string(base) + ".f32"));
    ASSERT_EQ(d.pcm.size(), ref.size());
    for (int c = 0; c < 2; ++c) {
      double g = 0;
      EXPECT_GE(snr(d.pcm, c, ref, 2, c, &g), 65.0) << "channel " << c << " gain " << g;
      if (std::string(base) == "ac3d_cpl_stereo") {
        EXPECT_NEAR(g, 1.0, 0.005);
      }
    }
    // a52dec does not read the extended mix levels.
    if (std::string(base) == "ac3d_loro" || !tsupport::have_program("a52dec")) continue;
    int channels = 0;
    const auto a52 = a52dec_decode(tsupport::fixture(std::string(base) + ".ac3"), &channels);
    ASSERT_EQ(d.pcm.size(), a52.size());
    for (int c = 0; c < 2; ++c) {
      double g = 0;
      EXPECT_GE(snr(d.pcm, c, a52, 2, c, &g), 65.0) << "a52dec channel " << c << " gain " << g;
      EXPECT_NEAR(g, 1.0, 0.005) << "a52dec channel " << c;
    }
  }
}

namespace {

// ffmpeg's stereo downmix of an AC-3 file as floats.
std::vector<float> ffmpeg_decode_file(const std::string& path, double drc_scale) {
  const std::string out = tsupport::temp_dir() + "/ref.f32";
  EXPECT_EQ(tsupport::run("ffmpeg -nostdin -v error -y -drc_scale " + std::to_string(drc_scale) +
                          " -downmix stereo -c:a ac3 -i " + tsupport::sh_quote(path) + " -f f32le " + out),
            0);
  return read_f32(out);
}

// The stream with every block's dither flags cleared (both CRCs redone), so
// that empty bins decode to 0 in any decoder rather than to each decoder's
// own noise. The counts of decoding the stream as it was go to original.
std::vector<uint8_t> without_dither(std::vector<uint8_t> s, Decoded* original) {
  static const int kFullBand[8] = {2, 1, 2, 3, 3, 4, 4, 5};
  AC3Decoder dec;
  std::vector<int16_t> out(static_cast<size_t>(dec.get_pcm_samples()));
  for (const auto& f : ac3test::split_frames(s)) {
    uint8_t* frame = s.data() + f.offset;
    ++original->frames;
    const int n = dec.decode_frame(frame, f.size, out.data());
    if (dec.crc_errors()) ++original->crc_errors;
    if (n == 0) ++original->failed;
    if (n == 0) continue;
    const int nf = kFullBand[f.header.bsi.acmod & 7];
    for (int b = 0; b < 6; ++b) {
      const uint32_t at = ac3_dec_block_start(dec.core(), b) + static_cast<uint32_t>(nf);  // after blksw
      for (uint32_t i = at; i < at + static_cast<uint32_t>(nf); ++i)
        frame[i >> 3] = static_cast<uint8_t>(frame[i >> 3] & ~(0x80u >> (i & 7)));
    }
    ac3test::fix_crcs(frame, f.size);
  }
  return s;
}

}  // namespace

// Tones under broadband noise fill most bins with large, jumpy exponents:
// every band-power sum and grouped mantissa path is taken. Each frame must
// match ffmpeg's decode, not only the whole file on average (with dither
// off: both decoders fill empty bins with their own noise).
TEST(AC3Decode, NoisyStreamsMatchFfmpegFrameByFrame) {
  const char* names[] = {"ac3_48000_2ch", "ac3_44100_2ch", "ac3_32000_2ch",
                         "ac3_48000_6ch", "ac3_44100_6ch", "ac3_32000_6ch"};
  for (const char* name : names) TSUPPORT_NEED_FIXTURES(std::string(name) + ".ac3");
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const std::string path = tsupport::fixture(std::string(name) + ".ac3");
    const std::string plain = tsupport::temp_dir() + "/plain.ac3";
    Decoded d;
    {
      tsupport::TraceCapture cap;
      ASSERT_TRUE(tsupport::write_file(plain, without_dither(tsupport::read_file(path), &d)));
      for (const std::string& m : cap.messages()) {
        // ffmpeg's encoder lets its first two blocks run past the first CRC's span.
        EXPECT_NE(m.rfind("ac3_dec: block 0 & 1 exceed 5/8 of a frame", 0), std::string::npos) << m;
      }
    }
    EXPECT_GT(d.frames, 50);
    EXPECT_EQ(d.failed, 0);
    EXPECT_EQ(d.crc_errors, 0);
    const Decoded u = decode_bytes(tsupport::read_file(plain));
    EXPECT_EQ(u.crc_errors, 0);
    EXPECT_EQ(u.frames, d.frames);
    const auto ref = ffmpeg_decode_file(plain, 1.0);
    ASSERT_EQ(u.pcm.size(), ref.size());
    for (int c = 0; c < 2; ++c) {
      double g = 0;
      EXPECT_GE(snr(u.pcm, c, ref, 2, c, &g), 70.0) << "channel " << c << " gain " << g;
      double worst = 200.0;
      size_t worst_frame = 0;
      for (size_t f = 0; f * 3072 < u.pcm.size(); ++f) {
        double sig = 0, err = 0;
        for (size_t i = f * 1536; i < (f + 1) * 1536 && 2 * i < u.pcm.size(); ++i) {
          const double r = g * ref[2 * i + static_cast<size_t>(c)];
          const double o = u.pcm[2 * i + static_cast<size_t>(c)] / 32768.0;
          sig += r * r;
          err += (o - r) * (o - r);
        }
        const double s = err > 0 ? 10.0 * std::log10(sig / err) : 200.0;
        if (s < worst) {
          worst = s;
          worst_frame = f;
        }
      }
      EXPECT_GE(worst, 60.0) << "channel " << c << " frame " << worst_frame;
    }
  }
}

// ffmpeg ignores dialnorm; at -20 dB the stream plays 11 dB below it.
TEST(AC3Decode, DialogueLevelAttenuates) {
  TSUPPORT_NEED_FIXTURES("ac3d_dialnorm20.ac3", "ac3d_dialnorm20.f32");
  const Decoded d = decode_bytes(tsupport::read_file(tsupport::fixture("ac3d_dialnorm20.ac3")));
  const auto ref = read_f32(tsupport::fixture("ac3d_dialnorm20.f32"));
  for (int c = 0; c < 2; ++c) {
    double g = 0;
    EXPECT_GE(snr(d.pcm, c, ref, 2, c, &g), 65.0);
    EXPECT_NEAR(20.0 * std::log10(g), -11.0, 0.2);
  }
}

// One byte changed in the last 3/8 of every fourth frame: every frame still
// gives its 3072 values and the command counts the CRC failures.
TEST(AC3Decode, DamagedFramesAreConcealedAndCounted) {
  TSUPPORT_NEED_FIXTURES("ac3d_5_1_48000.ac3");
  auto s = tsupport::read_file(tsupport::fixture("ac3d_5_1_48000.ac3"));
  int frame = 0, damaged = 0;
  for (const auto& f : ac3test::split_frames(s)) {
    if (frame % 4 == 3) {
      s[f.offset + static_cast<size_t>(f.size) * 7 / 8] ^= 0x5A;
      ++damaged;
    }
    ++frame;
  }
  const Decoded d = decode_bytes(s);
  EXPECT_EQ(d.frames, frame);
  EXPECT_EQ(d.failed, 0);
  EXPECT_EQ(d.crc_errors, damaged);
  EXPECT_EQ(d.pcm.size(), static_cast<size_t>(frame) * 3072);

  const std::string dir = tsupport::temp_dir();
  ASSERT_TRUE(tsupport::write_file(dir + "/d.ac3", s));
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("ac3-decode " + dir + "/d.ac3 " + dir + "/d.pcm", &lines), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "decoded frames=" + std::to_string(frame) + " failed=" + std::to_string(damaged) +
                          " crc_errors=" + std::to_string(damaged) + " rate=48000 channels=2");
  EXPECT_EQ(tsupport::read_file(dir + "/d.pcm").size(), static_cast<size_t>(frame) * 3072 * 2);
}

TEST(AC3Decode, EAC3IsRefused) {
  TSUPPORT_NEED_FIXTURES("ac3d_eac3.eac3");
  const std::string dir = tsupport::temp_dir();
  std::vector<std::string> lines;
  EXPECT_EQ(tsupport::dev("ac3-decode " + tsupport::fixture("ac3d_eac3.eac3") + " " + dir + "/e.pcm", &lines), 1);
  EXPECT_TRUE(lines.empty());
}

// An AC-3 sync word with a plausible header inside E-AC-3 data (bsid 8,
// 48 kHz, 192 kbit/s) passes the header check but not the CRCs: the file
// still holds no AC-3 frame and is refused, not "decoded" with exit 0.
TEST(AC3Decode, FalseSyncInsideEAC3IsRefused) {
  TSUPPORT_NEED_FIXTURES("ac3d_eac3.eac3");
  auto s = tsupport::read_file(tsupport::fixture("ac3d_eac3.eac3"));
  ASSERT_GT(s.size(), 2000u);
  static const uint8_t kHeader[8] = {0x0B, 0x77, 0x12, 0x34, 0x0E, 0x40, 0x43, 0x00};
  std::copy(kHeader, kHeader + 8, s.begin() + 100);
  const std::string dir = tsupport::temp_dir();
  ASSERT_TRUE(tsupport::write_file(dir + "/false.eac3", s));
  std::vector<std::string> lines;
  EXPECT_EQ(tsupport::dev("ac3-decode " + dir + "/false.eac3 " + dir + "/f.pcm", &lines), 1);
  EXPECT_TRUE(lines.empty());
}

TEST(AC3Decode, ShortInputGivesNothing) {
  TSUPPORT_NEED_FIXTURES("ac3d_stereo_48000.ac3");
  const auto s = tsupport::read_file(tsupport::fixture("ac3d_stereo_48000.ac3"));
  AC3Decoder dec;
  std::vector<int16_t> out(3072);
  tsupport::TraceCapture cap;
  EXPECT_EQ(dec.decode_frame(s.data(), 19, out.data()), 0);
  EXPECT_TRUE(cap.messages().empty());
  EXPECT_EQ(dec.decode_frame(s.data(), 100, out.data()), 0);
  EXPECT_TRUE(cap.contains("ERROR (decode_frame): not enough data (100 < 1536)"));
  EXPECT_EQ(dec.decode_frame(s.data(), static_cast<int>(s.size()), out.data()), 3072);
  EXPECT_EQ(dec.sample_rate(), 48000);
  EXPECT_EQ(dec.frame_size(), 1536);
}

TEST(AC3Decode, PcmConversionRoundsAndLimits) {
  double block[256][6] = {};
  block[0][0] = 1.0;
  block[0][1] = -1.0;
  block[1][0] = 0.49999 / 32768;
  block[1][1] = -1.5;
  block[2][0] = 0.5 / 32768;
  block[2][1] = -0.5 / 32768;
  int16_t out[512];
  EXPECT_EQ(ac3_float_to_pcm16(block, out, 2), 512);
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[1], -32768);
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(out[3], -32768);
  EXPECT_EQ(out[4], 1);
  EXPECT_EQ(out[5], 0);
}

namespace {

// The stream with a dynamic-range word in block 0 of each frame, codes taken
// in turn from the list; also ffmpeg's decode of it at drc_scale.
std::vector<uint8_t> add_dynrng(const std::string& fixture, const std::vector<int>& codes) {
  const auto s = tsupport::read_file(tsupport::fixture(fixture));
  std::vector<uint8_t> out;
  int frame = 0;
  ac3_dec_state* st = ac3_dec_create();
  for (const auto& span : ac3test::split_frames(s)) {
    const AC3FrmHdr& h = span.header;
    auto w = ac3test::to_words(s.data() + span.offset, span.size);
    w.resize(w.size() + 4);
    ac3_dec_params p;
    p.words = w.data();
    ac3_dec_result r;
    ac3_dec_command(st, &r, AC3_CMD_SYNC, &p);
    AC3Bsi bigger = h.bsi;
    bigger.frmsizecod = static_cast<uint16_t>(bigger.frmsizecod + 2);
    const auto f = ac3test::with_dynrng(s.data() + span.offset, span.size, ac3_dec_audio_start(st),
                                        h.bsi.acmod == 1 ? 1 : h.bsi.get_channels() - h.bsi.lfeon,
                                        codes[static_cast<size_t>(frame) % codes.size()], bigger.get_frame_size());
    EXPECT_FALSE(f.empty());
    out.insert(out.end(), f.begin(), f.end());
    ++frame;
  }
  ac3_dec_destroy(st);
  return out;
}

std::vector<float> ffmpeg_decode(const std::vector<uint8_t>& stream, double drc_scale) {
  const std::string path = tsupport::temp_dir() + "/drc.ac3";
  tsupport::write_file(path, stream);
  return ffmpeg_decode_file(path, drc_scale);
}

}  // namespace

// Boosts (+6 dB, +3.5 dB) and cuts (-6 dB, -1.2 dB) in turn, frame by frame.
TEST(AC3Decode, DynamicRangeWordsAreApplied) {
  TSUPPORT_NEED_FIXTURES("ac3d_stereo_48000.ac3", "ac3d_5_1_48000.ac3");
  const std::vector<int> mixed = {0x20, 0xE0, 0x10, 0xF8};
  const std::vector<int> boosts = {0x20, 0x10, 0x08};
  struct Case {
    const char* fixture;
    const std::vector<int>* codes;
    double scale;
  } cases[] = {
      {"ac3d_stereo_48000.ac3", &mixed, 1.0},
      {"ac3d_5_1_48000.ac3", &mixed, 1.0},
      {"ac3d_stereo_48000.ac3", &boosts, 0.0},
      {"ac3d_5_1_48000.ac3", &boosts, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " scale " + std::to_string(c.scale));
    const auto stream = add_dynrng(c.fixture, *c.codes);
    ASSERT_FALSE(stream.empty());
    // Both CRCs of every rewritten frame check.
    const std::string dir = tsupport::temp_dir();
    tsupport::write_file(dir + "/s.ac3", stream);
    std::vector<std::string> lines;
    ASSERT_EQ(tsupport::dev("ac3 " + dir + "/s.ac3", &lines), 0);
    const Decoded d = decode_bytes(stream, c.scale);
    EXPECT_EQ(static_cast<int>(lines.size()), d.frames);
    EXPECT_EQ(d.crc_errors, 0);
    const auto ref = ffmpeg_decode(stream, c.scale);
    ASSERT_EQ(d.pcm.size(), ref.size());
    for (int ch = 0; ch < 2; ++ch) {
      double g = 0;
      EXPECT_GE(snr(d.pcm, ch, ref, 2, ch, &g), 65.0) << "channel " << ch << " gain " << g;
      if (std::string(c.fixture) == "ac3d_stereo_48000.ac3") {
        EXPECT_NEAR(g, 1.0, 0.005);
      }
    }
  }
}

// Damage after the 5/8 point fails only the second CRC part: blocks 0 and 1
// decode, blocks 2-5 are concealed, and the frame still gives its samples.
TEST(AC3Decode, SecondCrcPartConcealsTheLastFourBlocks) {
  TSUPPORT_NEED_FIXTURES("ac3d_stereo_48000.ac3");
  auto s = tsupport::read_file(tsupport::fixture("ac3d_stereo_48000.ac3"));
  const auto spans = ac3test::split_frames(s);
  ASSERT_GT(spans.size(), 4u);
  s[spans[3].offset + static_cast<size_t>(spans[3].size) - 10] ^= 0x01;
  AC3Decoder dec;
  std::vector<int16_t> out(3072);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(dec.decode_frame(s.data() + spans[i].offset, spans[i].size, out.data()), 3072);
  EXPECT_EQ(dec.decode_frame(s.data() + spans[3].offset, spans[3].size, out.data()), 3072);
  EXPECT_EQ(dec.crc_errors(), 2);
  const int16_t expect[6] = {AC3_BLOCK_OK, AC3_BLOCK_OK, AC3_BLOCK_REPEAT, AC3_BLOCK_REPEAT, AC3_BLOCK_REPEAT,
                             AC3_BLOCK_REPEAT};
  for (int b = 0; b < 6; ++b) EXPECT_EQ(dec.block_status()[b], expect[b]) << b;
}

// Truncated and random files end cleanly: whole frames decode, junk fails.
TEST(AC3Decode, TruncatedAndRandomFilesEndCleanly) {
  TSUPPORT_NEED_FIXTURES("ac3d_stereo_48000.ac3", "wave_s16_plain.wav");
  const auto s = tsupport::read_file(tsupport::fixture("ac3d_stereo_48000.ac3"));
  const std::string dir = tsupport::temp_dir();
  std::vector<uint8_t> cut(s.begin(), s.begin() + static_cast<long>(s.size() / 2 + 77));
  ASSERT_TRUE(tsupport::write_file(dir + "/cut.ac3", cut));
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("ac3-decode " + dir + "/cut.ac3 " + dir + "/cut.pcm", &lines), 0);
  const size_t whole = cut.size() / 1536;
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "decoded frames=" + std::to_string(whole) + " failed=0 crc_errors=0 rate=48000 channels=2");
  std::vector<uint8_t> noise(20000);
  uint32_t x = 12345;
  for (auto& b : noise) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  ASSERT_TRUE(tsupport::write_file(dir + "/noise.ac3", noise));
  // A sync word in the noise may pass the header check, but its CRCs fail:
  // no frame decodes cleanly and the file is refused.
  EXPECT_EQ(tsupport::dev("ac3-decode " + dir + "/noise.ac3 " + dir + "/noise.pcm", &lines), 1);
  ASSERT_TRUE(tsupport::write_file(dir + "/noise.wav", noise));
  EXPECT_EQ(tsupport::dev("wav-info " + dir + "/noise.wav", &lines), 1);
  const auto wav = tsupport::read_file(tsupport::fixture("wave_s16_plain.wav"));
  ASSERT_TRUE(tsupport::write_file(dir + "/cut.wav", std::vector<uint8_t>(wav.begin(), wav.begin() + 1001)));
  ASSERT_EQ(tsupport::dev("wav-read " + dir + "/cut.wav " + dir + "/cut.raw", &lines), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "read bytes=957 start=0");
}

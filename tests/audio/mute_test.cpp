// Silent frames: exact sizes and headers, and ffmpeg decodes runs of them to
// all-zero PCM without a message.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "audio/codec/audio_mute.h"
#include "foundation/audio_header.h"
#include "support.h"
#include "tests/audio/ac3_mute_tables.h"

using tsupport::TraceCapture;

namespace {

// Decodes the stream with a peer decoder (ffmpeg, mpg123 or a52dec); true
// when it said nothing and every sample is zero. samples receives the
// sample count over all channels.
bool decodes_to_silence(const std::string& peer, const std::vector<uint8_t>& stream, const char* format,
                        size_t* samples) {
  const std::string dir = tsupport::temp_dir();
  const std::string in = dir + "/in." + format, out = dir + "/out.raw", err = dir + "/err.txt";
  *samples = 0;
  if (!tsupport::write_file(in, stream)) return false;
  std::string cmd;
  if (peer == "ffmpeg") {
    cmd = "ffmpeg -nostdin -v error -y -f " + std::string(format) + " -i " + in + " -f s16le " + out;
  } else if (peer == "mpg123") {
    cmd = "mpg123 -q -s " + in + " > " + out;
  } else {
    cmd = "a52dec -o wav " + in + " > " + out;
  }
  const int rc = tsupport::run(cmd + " 2>" + err);
  auto pcm = tsupport::read_file(out);
  std::string msg;
  for (const std::string& line : tsupport::split_lines([&] {
         const auto e = tsupport::read_file(err);
         return std::string(e.begin(), e.end());
       }())) {
    // a52dec always names itself and counts the frames; anything else is a complaint.
    if (peer == "a52dec" && (line.empty() || line.rfind("a52dec-", 0) == 0 ||
                             line.find(" frames decoded in ") != std::string::npos))
      continue;
    msg += line + "\n";
  }
  EXPECT_EQ(msg, "") << peer;
  if (peer == "a52dec") {
    EXPECT_GE(pcm.size(), 44u);
    pcm.erase(pcm.begin(), pcm.begin() + std::min<size_t>(44, pcm.size()));
  }
  *samples = pcm.size() / 2;
  if (rc != 0 || !msg.empty()) return false;
  for (uint8_t b : pcm)
    if (b) return false;
  return true;
}

bool ffmpeg_decodes_to_silence(const std::vector<uint8_t>& stream, const char* format, size_t* samples) {
  return decodes_to_silence("ffmpeg", stream, format, samples);
}

std::vector<uint8_t> frames(AudioMuteFrame& m, int count) {
  std::vector<uint8_t> s;
  std::vector<uint8_t> buf(8192);
  for (int i = 0; i < count; ++i) {
    const int n = m.next_frame(buf.data(), static_cast<int>(buf.size()));
    EXPECT_GT(n, 0);
    if (n <= 0) break;
    s.insert(s.end(), buf.begin(), buf.begin() + n);
  }
  return s;
}

}  // namespace

TEST(Mp3Mute, EveryRowIsAnUnpaddedFrameWithoutCrcAndFiller) {
  for (const Mp3MuteRow& r : mp3_mute_frame_table) {
    SCOPED_TRACE(std::to_string(r.sample_rate) + "/" + std::to_string(r.channels) + "/" +
                 std::to_string(r.bit_rate));
    std::vector<uint8_t> f(2000, 0xEE);
    ASSERT_EQ(mp3_mute_frame(r.sample_rate, r.channels, r.bit_rate, f.data(), 2000), r.frame_size);
    FrmHdr h;
    ASSERT_EQ(h.parse(static_cast<uint32_t>(f[0] << 24 | f[1] << 16 | f[2] << 8 | f[3])), 0);
    EXPECT_EQ(h.layer, 3);
    EXPECT_EQ(h.padding, 0);
    EXPECT_EQ(h.error_protection, 0);
    EXPECT_EQ(h.sample_rate, r.sample_rate);
    EXPECT_EQ(h.channels, r.channels);
    EXPECT_EQ(h.bit_rate, r.bit_rate);
    EXPECT_EQ(h.frame_size, r.frame_size);
    EXPECT_EQ(mp3_mute_get_frame_size(r.sample_rate, r.channels, r.bit_rate), r.frame_size);
    const int expect_template = h.lsf ? (r.channels == 1 ? 22 : 30) : (r.channels == 1 ? 30 : 45);
    EXPECT_EQ(r.template_bytes, expect_template);
    for (int i = r.template_bytes; i < r.frame_size; ++i) ASSERT_EQ(f[i], 0x55) << i;
    EXPECT_EQ(f[r.frame_size], 0xEE);
  }
}

TEST(Mp3Mute, EveryRowDecodesToSilenceInFfmpegAndMpg123) {
  const bool mpg123 = tsupport::have_program("mpg123");
  for (const Mp3MuteRow& r : mp3_mute_frame_table) {
    SCOPED_TRACE(std::to_string(r.sample_rate) + "/" + std::to_string(r.channels) + "/" +
                 std::to_string(r.bit_rate));
    AudioMuteFrame m;
    ASSERT_EQ(m.init(AudioMuteFrame::kMpeg, r.sample_rate, r.channels, r.bit_rate, 3), 0);
    EXPECT_EQ(m.get_frame_size(), r.frame_size);
    const auto s = frames(m, 6);
    size_t samples = 0;
    EXPECT_TRUE(ffmpeg_decodes_to_silence(s, "mp3", &samples));
    EXPECT_GT(samples, 0u);
    if (!mpg123) continue;
    // mpg123 plays every frame, the first one included.
    EXPECT_TRUE(decodes_to_silence("mpg123", s, "mp3", &samples));
    EXPECT_EQ(samples, static_cast<size_t>(6 * r.channels * (r.sample_rate < 32000 ? 576 : 1152)));
  }
  if (!mpg123) GTEST_SKIP() << "mpg123 not installed: its decode is unchecked";
}

TEST(Mp3Mute, UnsupportedRequestsAreRefused) {
  TraceCapture cap;
  EXPECT_EQ(mp3_mute_is_supported(44100, 2, 96000), 0);
  AudioMuteFrame m;
  EXPECT_EQ(m.init(AudioMuteFrame::kMpeg, 44100, 2, 96000, 3), 1);
  EXPECT_EQ(m.type, AudioMuteFrame::kNone);
  uint8_t b[2000];
  EXPECT_EQ(mp3_mute_frame(44100, 2, 96000, b, 2000), 0);
  EXPECT_TRUE(cap.contains("ERROR (mp3_mute_frame): invalid parameter sr = 44100, ch = 2, br = 96000"));
  EXPECT_EQ(mp3_mute_frame(44100, 2, 128000, b, 416), 0);
  EXPECT_TRUE(cap.contains("ERROR (mp3_mute_frame): invalid input(s)"));
  EXPECT_EQ(mp3_mute_frame(44100, 2, 128000, b, 417), 417);
}

// Layers I and II: the encoder's silent frames, padded by its rule (some
// 44.1 kHz frames are one slot longer).
TEST(AudioMuteFrame, LayerOneAndTwoFramesDecodeToSilence) {
  struct Case {
    int rate, channels, bit_rate, layer, expect_rate, expect_bytes;
  } cases[] = {
      {44100, 2, 200000, 2, 192000, 626}, {48000, 2, 256000, 2, 256000, 768}, {32000, 1, 64000, 2, 64000, 288},
      {48000, 1, 96000, 2, 96000, 288},   {44100, 2, 384000, 1, 384000, 416}, {32000, 1, 128000, 1, 128000, 192},
      {44100, 1, 200000, 2, 192000, 626},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.layer) + ":" + std::to_string(c.rate) + "/" + std::to_string(c.channels));
    AudioMuteFrame m;
    ASSERT_EQ(m.init(AudioMuteFrame::kMpeg, c.rate, c.channels, c.bit_rate, c.layer), 0);
    EXPECT_EQ(m.bit_rate, c.expect_rate);
    EXPECT_EQ(m.get_frame_size(), c.channels * (c.layer == 1 ? 768 : 2304));
    const auto s = frames(m, 8);
    size_t at = 0;
    int padded = 0;
    for (int i = 0; i < 8; ++i) {
      ASSERT_LT(at + 4, s.size());
      FrmHdr h;
      ASSERT_EQ(h.parse(static_cast<uint32_t>(s[at] << 24 | s[at + 1] << 16 | s[at + 2] << 8 | s[at + 3])), 0);
      EXPECT_EQ(h.layer, c.layer);
      EXPECT_EQ(h.bit_rate, c.expect_rate);
      EXPECT_EQ(h.channels, c.channels);
      const int slot = c.layer == 1 ? 4 : 1;
      EXPECT_TRUE(h.frame_size == c.expect_bytes || (c.rate == 44100 && h.frame_size == c.expect_bytes + slot));
      padded += h.frame_size != c.expect_bytes;
      at += static_cast<size_t>(h.frame_size);
    }
    EXPECT_EQ(at, s.size());
    EXPECT_EQ(padded > 0, c.rate == 44100);
    size_t samples = 0;
    EXPECT_TRUE(ffmpeg_decodes_to_silence(s, "mp3", &samples));
    EXPECT_EQ(samples, static_cast<size_t>(8 * c.channels * (c.layer == 1 ? 384 : 1152)));
    if (!tsupport::have_program("mpg123")) continue;
    EXPECT_TRUE(decodes_to_silence("mpg123", s, "mp3", &samples));
    EXPECT_EQ(samples, static_cast<size_t>(8 * c.channels * (c.layer == 1 ? 384 : 1152)));
  }
}

TEST(AudioMuteFrame, SetUpRefusals) {
  struct Case {
    int type, rate, channels, bit_rate, layer;
    const char* message;
  } cases[] = {
      {AudioMuteFrame::kLPCM, 44100, 2, 0, 0, "ERROR (AudioMuteFrame::init): PCM sample_rate=44100"},
      {AudioMuteFrame::kLPCM, 48000, 6, 0, 0, "ERROR (AudioMuteFrame::init): PCM channels=6"},
      {AudioMuteFrame::kMpeg, 22050, 2, 128000, 2, "ERROR (AudioMuteFrame::init): sample_rate=22050"},
      {AudioMuteFrame::kMpeg, 48000, 3, 128000, 2, "ERROR (AudioMuteFrame::init): channels=3"},
      {AudioMuteFrame::kMpeg, 48000, 2, 128000, 4, "ERROR (AudioMuteFrame::init): layer=4"},
      {7, 48000, 2, 128000, 0, "ERROR (AudioMuteFrame::init): type=7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TraceCapture cap;
    AudioMuteFrame m;
    ASSERT_EQ(m.init(AudioMuteFrame::kMpeg, 48000, 2, 128000, 3), 0);
    EXPECT_EQ(m.init(c.type, c.rate, c.channels, c.bit_rate, c.layer), 1);
    EXPECT_TRUE(cap.contains(c.message));
    EXPECT_EQ(m.type, AudioMuteFrame::kNone);
    EXPECT_EQ(m.get_frame_size(), 0);
    uint8_t b[16];
    EXPECT_EQ(m.next_frame(b, 16), 0);
  }
}

TEST(AudioMuteFrame, LinearPcmFramesAreZeroBytes) {
  AudioMuteFrame m;
  ASSERT_EQ(m.init(AudioMuteFrame::kLPCM, 48000, 2, 0, 0), 0);
  EXPECT_EQ(m.bit_rate, 1536000);
  EXPECT_EQ(m.get_frame_size(), 4608);
  std::vector<uint8_t> b(5000, 0xAA);
  EXPECT_EQ(m.next_frame(b.data(), 5000), 4608);
  for (int i = 0; i < 4608; ++i) ASSERT_EQ(b[i], 0);
  EXPECT_EQ(b[4608], 0xAA);
  TraceCapture cap;
  EXPECT_EQ(m.next_frame(b.data(), 4607), 0);
  EXPECT_EQ(m.next_frame(nullptr, 5000), 0);
  EXPECT_TRUE(cap.contains("ERROR (AudioMuteFrame::get_pcm_frame): invalid inupt(s)"));
}

TEST(AudioMuteFrame, HolderFunctions) {
  AudioMuteFrame* slot = nullptr;
  uint8_t b[5000];
  EXPECT_EQ(AudioMuteFrame::init_held(&slot, AudioMuteFrame::kLPCM, 48000, 2, 0, 0), 1);
  EXPECT_EQ(AudioMuteFrame::get_frame_held(&slot, b, 5000), 0);
  AudioMuteFrame::create(&slot);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(AudioMuteFrame::init_held(&slot, AudioMuteFrame::kLPCM, 48000, 2, 0, 0), 0);
  EXPECT_EQ(AudioMuteFrame::get_frame_held(&slot, b, 5000), 4608);
  AudioMuteFrame::destroy(&slot);
  EXPECT_EQ(slot, nullptr);
}

TEST(SilenceCommand, WritesFramesAndRefusesUnsupported) {
  const std::string dir = tsupport::temp_dir();
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("silence mpa 44100 2 128000 3 5 " + dir + "/s.mp3", &lines), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "silence frame_size=417 frames=5 bytes=2085 bit_rate=128000");
  ASSERT_EQ(tsupport::dev("silence mpa 44100 2 200000 2 3 " + dir + "/s.mp2", &lines), 0);
  ASSERT_EQ(lines.size(), 1u);
  // 626.9 slots a frame: the first three frames are all padded.
  EXPECT_EQ(lines[0], "silence frame_size=627 frames=3 bytes=1881 bit_rate=192000");
  ASSERT_EQ(tsupport::dev("silence pcm 48000 2 0 0 2 " + dir + "/s.pcm", &lines), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "silence frame_size=4608 frames=2 bytes=9216 bit_rate=1536000");
  EXPECT_EQ(tsupport::dev("silence mpa 44100 2 96000 3 5 " + dir + "/x", &lines), 1);
  EXPECT_EQ(tsupport::dev("silence pcm 44100 2 0 0 5 " + dir + "/x", &lines), 1);
  EXPECT_EQ(tsupport::dev("silence ogg 44100 2 0 0 5 " + dir + "/x", &lines), 2);
}

namespace {

std::vector<uint8_t> ac3_run(int rate, int channels, int bit_rate, int count, int* frame_size) {
  AudioMuteFrame m;
  EXPECT_EQ(m.init(AudioMuteFrame::kAC3, rate, channels, bit_rate, 0), 0);
  *frame_size = m.get_frame_size();
  return frames(m, count);
}

}  // namespace

// Every offered AC-3 format: the frame the test-side writer makes for it,
// of its frame-size code's size, both CRCs good, and a run of them decodes to
// silence in ffmpeg and a52dec without a message.
TEST(AC3Mute, EveryOfferedFrameIsTheWritersAndDecodesToSilence) {
  const bool a52dec = tsupport::have_program("a52dec");
  if (getenv("TAMSEL_PRINT_AC3_MUTE")) std::fputs(ac3test::mute_tables_source().c_str(), stdout);
  struct Format {
    int rate, channels, index;
  };
  std::vector<Format> formats = {{48000, 2, 14}, {48000, 2, 12}, {48000, 2, 11}, {48000, 2, 10}, {48000, 1, 6}};
  for (int rate : {48000, 44100, 32000})
    for (int i = rate == 32000 ? 4 : 6; i < 19; ++i) formats.push_back({rate, 6, i});
  for (const Format& f : formats) {
    const int bit_rate = ac3test::kAC3Rates[f.index] * 1000;
    SCOPED_TRACE(std::to_string(f.rate) + "/" + std::to_string(f.channels) + "/" + std::to_string(bit_rate));
    ASSERT_EQ(ac3_mute_is_supported(f.rate, f.channels, bit_rate), 1);
    int size = 0;
    const auto s = ac3_run(f.rate, f.channels, bit_rate, 4, &size);
    const auto want = ac3test::silent(f.rate, f.channels, f.index);
    ASSERT_EQ(size, static_cast<int>(want.size()));
    ASSERT_EQ(s.size(), 4 * want.size());
    EXPECT_TRUE(std::equal(want.begin(), want.end(), s.begin()));
    AC3FrmHdr h;
    EXPECT_EQ(h.decode(s.data(), static_cast<int>(s.size()), kAC3CheckCrc), 0);
    EXPECT_EQ(h.valid, 1);
    EXPECT_EQ(h.frame_size, size);
    EXPECT_EQ(h.bit_rate, bit_rate);
    EXPECT_EQ(h.sample_rate, f.rate);
    EXPECT_EQ(h.bsi.get_channels(), f.channels);
    size_t samples = 0;
    EXPECT_TRUE(ffmpeg_decodes_to_silence(s, "ac3", &samples));
    EXPECT_EQ(samples, 4u * 1536u * static_cast<size_t>(f.channels));
    if (!a52dec) continue;
    // a52dec writes the stereo mix, of a mono stream too.
    EXPECT_TRUE(decodes_to_silence("a52dec", s, "ac3", &samples));
    EXPECT_EQ(samples, 4u * 1536u * 2u);
  }
  if (!a52dec) GTEST_SKIP() << "a52dec not installed: its decode is unchecked";
}

TEST(AC3Mute, SizesAndRefusals) {
  EXPECT_EQ(ac3_mute_get_frame_size(48000, 2, 224000), 896);
  EXPECT_EQ(ac3_mute_get_frame_size(48000, 6, 96000), 384);
  EXPECT_EQ(ac3_mute_get_frame_size(48000, 6, 448000), 1792);
  EXPECT_EQ(ac3_mute_get_frame_size(44100, 6, 448000), 1950);
  EXPECT_EQ(ac3_mute_get_frame_size(32000, 6, 64000), 384);
  struct Case {
    int rate, channels, bit_rate;
  } refused[] = {{48000, 2, 128000}, {48000, 2, 40000}, {32000, 2, 32000}, {48000, 6, 64000},
                 {32000, 6, 48000},  {22050, 6, 96000}, {48000, 6, 100000}, {48000, 4, 384000}};
  for (const Case& c : refused) {
    SCOPED_TRACE(std::to_string(c.rate) + "/" + std::to_string(c.channels) + "/" + std::to_string(c.bit_rate));
    tsupport::TraceCapture cap;
    EXPECT_EQ(ac3_mute_is_supported(c.rate, c.channels, c.bit_rate), 0);
    AudioMuteFrame m;
    EXPECT_EQ(m.init(AudioMuteFrame::kAC3, c.rate, c.channels, c.bit_rate, 0), 1);
    EXPECT_TRUE(cap.messages().empty());
    uint8_t b[4000];
    EXPECT_EQ(ac3_mute_frame(c.rate, c.channels, c.bit_rate, b, sizeof b), 0);
    EXPECT_EQ(ac3_mute_get_frame_size(c.rate, c.channels, c.bit_rate), 0);
  }
  // A stored frame that does not fit says so, then the computed path is
  // tried (it has none for two channels).
  tsupport::TraceCapture cap;
  uint8_t b[1000];
  EXPECT_EQ(ac3_mute_frame(48000, 2, 384000, b, 1000), 0);
  EXPECT_TRUE(cap.contains("ERROR (ac3_data_get): size = 1000 < 1536 = bytes"));
  EXPECT_EQ(ac3_mute_frame(48000, 6, 448000, b, 1000), 0);
}

TEST(SilenceCommand, AC3SixChannels) {
  const std::string dir = tsupport::temp_dir();
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("silence ac3 48000 6 448000 0 3 " + dir + "/s.ac3", &lines), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "silence frame_size=1792 frames=3 bytes=5376 bit_rate=448000");
  EXPECT_EQ(tsupport::dev("silence ac3 48000 2 128000 0 3 " + dir + "/x.ac3", &lines), 1);
}

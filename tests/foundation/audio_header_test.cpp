#include "foundation/audio_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "foundation/audio_info.h"
#include "support/support.h"

namespace {

// Header word, high bit first:
//   sync(11) | version(2) | layer(2) | !crc(1) | bitrate_index(4) |
//   sampling_frequency(2) | padding(1) | private(1) | mode(2) | mode_ext(2) |
//   copyright(1) | original(1) | emphasis(2)
// version: 3 MPEG-1, 2 MPEG-2, 0 MPEG 2.5, 1 reserved; layer bits: 3 = I, 1 = III.
uint32_t word(int version, int layer, int bitrate_index, int sf, int padding = 0, int mode = 0, int crc = 0) {
  return 0xFFE00000u | uint32_t(version) << 19 | uint32_t(4 - layer) << 17 | uint32_t(crc ? 0 : 1) << 16 |
         uint32_t(bitrate_index) << 12 | uint32_t(sf) << 10 | uint32_t(padding) << 9 | uint32_t(mode) << 6;
}

void put_be32(std::vector<uint8_t>& v, size_t at, uint32_t w) {
  v[at] = uint8_t(w >> 24);
  v[at + 1] = uint8_t(w >> 16);
  v[at + 2] = uint8_t(w >> 8);
  v[at + 3] = uint8_t(w);
}

// A run of frames of one header (bodies of zeros) after `lead` junk bytes.
std::vector<uint8_t> frames(uint32_t w, int count, size_t lead = 0, uint8_t junk = 0x11) {
  FrmHdr h;
  EXPECT_EQ(h.parse(w), 0);
  std::vector<uint8_t> v(lead + size_t(h.frame_size) * count, 0);
  std::memset(v.data(), junk, lead);
  for (int i = 0; i < count; ++i) put_be32(v, lead + size_t(i) * h.frame_size, w);
  return v;
}

TEST(FrmHdr, ParsesKnownHeaders) {
  FrmHdr h;
  ASSERT_EQ(h.parse(0xFFFB9064), 0);  // MPEG-1 layer III, 128k, 44.1 kHz
  EXPECT_EQ(h.layer, 3);
  EXPECT_EQ(h.bit_rate, 128000);
  EXPECT_EQ(h.sample_rate, 44100);
  EXPECT_EQ(h.frame_size, 417);
  EXPECT_EQ(h.mode, 1);  // 0x64 = 01 10 0 1 00: joint stereo
  EXPECT_EQ(h.channels, 2);
  EXPECT_EQ(h.valid, 1);
  EXPECT_EQ(h.header, 0xFFFB9064u);
  ASSERT_EQ(h.parse(0xFFFB9264), 0);  // the same, padded
  EXPECT_EQ(h.frame_size, 418);
  EXPECT_EQ(h.padding, 1);
}

TEST(FrmHdr, RatesAndSizesOfAllVersions) {
  struct Row {
    int version, layer, index, sf, padding;
    int bit_rate, sample_rate, frame_size, samples;
  };
  const Row rows[] = {
      {3, 1, 14, 2, 0, 448000, 32000, 672, 384},                                                 // MPEG-1 I top rate
      {3, 1, 1, 0, 1, 32000, 44100, 36, 384},                                                    // (8 + 1) x 4
      {3, 2, 14, 1, 0, 384000, 48000, 1152, 1152},                                               // MPEG-1 II
      {3, 2, 11, 0, 1, 224000, 44100, 732, 1152},  {3, 3, 14, 2, 0, 320000, 32000, 1440, 1152},  // MPEG-1 III
      {2, 1, 14, 1, 0, 256000, 24000, 512, 384},                                                 // MPEG-2 LSF I
      {2, 2, 14, 2, 0, 160000, 16000, 1440, 1152},                                               // MPEG-2 LSF II
      {2, 3, 8, 0, 0, 64000, 22050, 208, 576},                                                   // MPEG-2 LSF III
      {0, 3, 1, 2, 0, 8000, 8000, 72, 576},                                                      // MPEG 2.5 III
      {0, 3, 4, 0, 1, 32000, 11025, 209, 576},     {0, 2, 14, 1, 0, 160000, 12000, 1920, 1152},  // MPEG 2.5 II
  };
  for (const Row& r : rows) {
    FrmHdr h;
    SCOPED_TRACE(testing::Message() << "version " << r.version << " layer " << r.layer << " index " << r.index);
    ASSERT_EQ(h.parse(word(r.version, r.layer, r.index, r.sf, r.padding)), 0);
    EXPECT_EQ(h.bit_rate, r.bit_rate);
    EXPECT_EQ(h.sample_rate, r.sample_rate);
    EXPECT_EQ(h.frame_size, r.frame_size);
    EXPECT_EQ(h.samples_per_frame(), r.samples);
    EXPECT_EQ(h.lsf, r.version == 3 ? 0 : 1);
    EXPECT_EQ(h.mpeg25, r.version == 0 ? 1 : 0);
  }
}

TEST(FrmHdr, RefusesUnusableHeaders) {
  FrmHdr h;
  EXPECT_EQ(h.parse(word(3, 2, 0, 0)), 1) << "free format";
  EXPECT_EQ(h.parse(word(3, 2, 15, 0)), 1) << "bit-rate index 15";
  EXPECT_EQ(h.parse(word(3, 2, 8, 3)), 1) << "reserved sampling frequency";
  EXPECT_EQ(h.parse(word(3, 2, 8, 0) & ~(3u << 17)), 1) << "layer bits 00";
  // Version bits '01' are reserved, not MPEG 2.5.
  EXPECT_EQ(h.parse(word(1, 3, 8, 0)), 1);
  EXPECT_EQ(h.valid, 0);
}

TEST(FrmHdr, SameStreamIgnoresPerFrameBits) {
  FrmHdr a, b;
  a.parse(word(3, 3, 9, 0));
  b.parse(word(3, 3, 12, 0, 1, 3, 1));  // other rate, padding, mode, CRC
  EXPECT_EQ(a.same_stream(b), 0) << "layer III may change its bit rate";
  a.parse(word(3, 2, 9, 0));
  b.parse(word(3, 2, 12, 0));
  EXPECT_EQ(a.same_stream(b), 1) << "layer II may not";
  b.parse(word(3, 2, 9, 0, 1, 3, 1));
  EXPECT_EQ(a.same_stream(b), 0);
  b.parse(word(3, 2, 9, 1));
  EXPECT_EQ(a.same_stream(b), 1) << "other sample rate";
  b.parse(word(2, 2, 9, 0));
  EXPECT_EQ(a.same_stream(b), 1) << "other version";
  b.clear();
  EXPECT_EQ(a.same_stream(b), 1) << "invalid other";
}

TEST(FrmHdr, NearestBitRate) {
  EXPECT_EQ(mpeg_audio_nearest_bit_rate(200000, 2), 192000);
  EXPECT_EQ(mpeg_audio_nearest_bit_rate(16000, 1), 0);  // tie with 0 keeps 0
  EXPECT_EQ(mpeg_audio_nearest_bit_rate(224000, 3), 224000);
  EXPECT_EQ(mpeg_audio_nearest_bit_rate(52000, 2), 48000);  // tie keeps the lower
  EXPECT_EQ(mpeg_audio_nearest_bit_rate(999999, 1), 448000);
  EXPECT_EQ(mpeg_audio_nearest_bit_rate(128000, 0), 0);
  EXPECT_EQ(mpeg_audio_nearest_bit_rate(128000, 4), 0);
}

TEST(FrmHdr, SearchesSkipJunkAndFalseSyncs) {
  const uint32_t w = word(3, 2, 11, 1);  // 224k, 48 kHz: 672 bytes
  std::vector<uint8_t> v = frames(w, 3, 100);
  // A plausible header in the junk with no frame after it.
  put_be32(v, 10, word(3, 2, 11, 1));
  FrmHdr h;
  EXPECT_EQ(h.parse_buffer(v.data(), int(v.size())), 10);
  EXPECT_EQ(h.valid, 1);
  EXPECT_EQ(h.find_sync(v.data(), int(v.size())), 100);
  EXPECT_EQ(h.valid, 1);
  EXPECT_EQ(h.frame_size, 672);

  FrmHdr ref, m;
  ref.parse(word(3, 2, 11, 1));
  put_be32(v, 30, word(3, 2, 11, 0));  // other sample rate: not the stream
  EXPECT_EQ(m.find_matching(v.data() + 20, int(v.size()) - 20, ref), 80);
  EXPECT_EQ(m.valid, 1);

  EXPECT_EQ(h.parse_buffer(v.data(), 3), 0);
  EXPECT_EQ(h.valid, 0);
  std::vector<uint8_t> zeros(5000, 0);
  h.parse_buffer(zeros.data(), int(zeros.size()));
  EXPECT_EQ(h.valid, 0);
}

TEST(FrmHdr, CheckFramesCountsARun) {
  const uint32_t w = word(3, 3, 9, 0);  // 128k, 44.1 kHz: 417 bytes
  std::vector<uint8_t> v = frames(w, 4, 50);
  FrmHdr h;
  // Junk in front: the first frame found restarts the run, so three more follow.
  EXPECT_EQ(h.check_frames(v.data(), int(v.size()), 3, 0), 1);
  EXPECT_EQ(h.first_offset, 50);
  EXPECT_EQ(h.checked_bytes, 50 + 4 * 417);

  // Exactly count frames: the last one fills the data to the end.
  std::vector<uint8_t> three = frames(w, 3);
  EXPECT_EQ(h.check_frames(three.data(), int(three.size()), 3, 0), 1);

  // A run cut short by the end of the data still counts.
  std::vector<uint8_t> two = frames(w, 2);
  EXPECT_EQ(h.check_frames(two.data(), int(two.size()), 5, 0), 1);
  EXPECT_EQ(h.first_offset, 0);

  // Two frames that do not follow each other.
  std::vector<uint8_t> gap = frames(w, 1);
  gap.resize(417 + 300, 0x22);
  std::vector<uint8_t> more = frames(w, 1);
  gap.insert(gap.end(), more.begin(), more.end());
  gap.resize(gap.size() + 2000, 0x22);
  EXPECT_EQ(h.check_frames(gap.data(), int(gap.size()), 3, 0), 0);
  EXPECT_EQ(h.first_offset, 0);
}

TEST(FrmHdr, CheckFramesDoesNotConfirmGarbageWithAStaleFrameSize) {
  FrmHdr h;
  ASSERT_EQ(h.parse(word(3, 2, 14, 2)), 0);  // leaves frame_size 1728
  std::vector<uint8_t> junk(1000, 0x5A);
  EXPECT_EQ(h.check_frames(junk.data(), int(junk.size()), 2, 0), 0);
  EXPECT_EQ(h.check_frames(junk.data(), int(junk.size()), 0, 1), 0);
  EXPECT_EQ(h.check_frames(nullptr, 0, 1, 1), 0);
}

TEST(FrmHdr, AudioInfoFromHeaderAndData) {
  FrmHdr h;
  ASSERT_EQ(h.parse(word(3, 2, 11, 0, 1)), 0);  // padded, 732 bytes
  AudioInfo info;
  ASSERT_EQ(h.get_audio_info(&info), 1);
  EXPECT_EQ(info.frame_size, 731);
  EXPECT_EQ(info.stream_id, 192);
  EXPECT_EQ(info.layer, 2);
  EXPECT_EQ(info.bits_per_sample, 16);
  EXPECT_EQ(h.get_audio_info(nullptr), 0);
  h.valid = 0;
  EXPECT_EQ(h.get_audio_info(&info), 0);

  std::vector<uint8_t> v = frames(word(2, 3, 8, 0, 0, 3), 3, 7);  // LSF III mono
  AudioInfo a;
  a.full_channels = 5;  // carried over
  int len = int(v.size());
  EXPECT_EQ(mpeg_audio_info_from_data(v.data(), &len, &a), 1);
  EXPECT_EQ(a.sample_rate, 22050);
  EXPECT_EQ(a.channels, 1);
  EXPECT_EQ(a.layer, 3);
  EXPECT_EQ(a.full_channels, 5);
  EXPECT_LT(len, int(v.size()));
  EXPECT_DOUBLE_EQ(a.get_frame_duration(), 576.0 / 22050);
  len = int(v.size());
  EXPECT_EQ(mpeg_audio_info_from_data(v.data(), &len, &a), 0) << "no change the second time";
  std::vector<uint8_t> junk(3000, 0x33);
  len = int(junk.size());
  EXPECT_EQ(mpeg_audio_info_from_data(junk.data(), &len, &a), 0);
  len = 4;
  EXPECT_EQ(mpeg_audio_info_from_data(v.data(), &len, &a), 0);
}

// ---- against ffprobe, on real streams

struct Probe {
  std::vector<long long> sizes;
  long long sample_rate = 0, channels = 0, bit_rate = 0;
  std::string codec;
};

Probe ffprobe(const std::string& path) {
  Probe p;
  std::string out;
  tsupport::run("ffprobe -v error -show_entries packet=size -of csv=p=0 " + tsupport::sh_quote(path), &out);
  for (const auto& l : tsupport::split_lines(out))
    if (!l.empty()) p.sizes.push_back(std::stoll(l));
  tsupport::run("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate -of default=nw=1 " +
                    tsupport::sh_quote(path),
                &out);
  for (const auto& l : tsupport::split_lines(out)) {
    const auto eq = l.find('=');
    if (eq == std::string::npos) continue;
    const std::string k = l.substr(0, eq), v = l.substr(eq + 1);
    if (k == "codec_name") p.codec = v;
    if (k == "sample_rate") p.sample_rate = std::stoll(v);
    if (k == "channels") p.channels = std::stoll(v);
    if (k == "bit_rate" && v != "N/A") p.bit_rate = std::stoll(v);
  }
  return p;
}

class MpegAudioFixture : public testing::TestWithParam<const char*> {};

TEST_P(MpegAudioFixture, FrameWalkMatchesFfprobe) {
  const std::string path = tsupport::fixture(GetParam());
  const Probe p = ffprobe(path);
  ASSERT_FALSE(p.sizes.empty());
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("audio " + tsupport::sh_quote(path), &lines), 0);
  ASSERT_EQ(lines.size(), p.sizes.size());
  long long offset = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(tsupport::field_int(lines[i], "size"), p.sizes[i]) << lines[i];
    ASSERT_EQ(tsupport::field_int(lines[i], "offset"), offset) << lines[i];
    offset += p.sizes[i];
  }
  const std::string& first = lines[0];
  EXPECT_EQ(tsupport::field_int(first, "layer"), p.codec == "mp3" ? 3 : 2);
  EXPECT_EQ(tsupport::field_int(first, "rate"), p.sample_rate);
  EXPECT_EQ(tsupport::field_int(first, "channels"), p.channels);
  if (std::string(GetParam()).find("vbr") == std::string::npos) {
    EXPECT_EQ(tsupport::field_int(first, "bit_rate"), p.bit_rate);
  }

  // The header's frame duration is ffprobe's packet duration.
  const auto bytes = tsupport::read_file(path);
  FrmHdr h;
  ASSERT_EQ(h.check_frames(bytes.data(), int(bytes.size()), 3, 0), 1);
  EXPECT_EQ(h.first_offset, 0);
  AudioInfo info;
  ASSERT_EQ(h.get_audio_info(&info), 1);
  std::string out;
  tsupport::run("ffprobe -v error -read_intervals %+#1 -show_entries packet=duration_time -of csv=p=0 " +
                    tsupport::sh_quote(path),
                &out);
  EXPECT_NEAR(info.get_frame_duration(), std::stod(out), 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Streams, MpegAudioFixture,
                         testing::Values("mp2_32000.mp2", "mp2_44100.mp2", "mp2_48000.mp2", "mp2_16000.mp2",
                                         "mp2_22050.mp2", "mp2_24000.mp2", "mp3_44100.mp3", "mp3_44100_vbr.mp3",
                                         "mp3_22050.mp3", "mp3_11025.mp3"));

TEST(AudioCommand, DamagedFilesEndCleanly) {
  const auto bytes = tsupport::read_file(tsupport::fixture("mp2_44100.mp2"));
  ASSERT_GT(bytes.size(), 5000u);
  const std::string dir = tsupport::temp_dir();
  std::vector<std::string> whole;
  ASSERT_EQ(tsupport::dev("audio " + tsupport::fixture("mp2_44100.mp2"), &whole), 0);

  // Cut inside a frame: the frames before the cut, nothing of the cut one.
  const long long cut_at = tsupport::field_int(whole[5], "offset") + 100;
  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + cut_at);
  tsupport::write_file(dir + "/cut.mp2", cut);
  std::vector<std::string> lines;
  EXPECT_EQ(tsupport::dev("audio " + dir + "/cut.mp2", &lines), 0);
  EXPECT_EQ(lines.size(), 5u);

  // 333 junk bytes spliced in after frame 10: every frame is still found.
  std::vector<uint8_t> spliced(bytes);
  const long long at = tsupport::field_int(whole[10], "offset");
  std::vector<uint8_t> junk(333);
  std::mt19937 rng(3);
  for (auto& b : junk) b = uint8_t(rng());
  spliced.insert(spliced.begin() + at, junk.begin(), junk.end());
  tsupport::write_file(dir + "/spliced.mp2", spliced);
  EXPECT_EQ(tsupport::dev("audio " + dir + "/spliced.mp2", &lines), 0);
  ASSERT_EQ(lines.size(), whole.size());
  EXPECT_EQ(tsupport::field_int(lines[10], "offset"), at + 333);

  // Random bytes and an empty file: no frame, an error exit, no crash.
  std::vector<uint8_t> noise(20000);
  for (auto& b : noise) b = uint8_t(rng());
  tsupport::write_file(dir + "/noise.bin", noise);
  EXPECT_EQ(tsupport::dev("audio " + dir + "/noise.bin 2>/dev/null", &lines), 1);
  EXPECT_TRUE(lines.empty());
  tsupport::write_file(dir + "/empty.bin", {});
  EXPECT_EQ(tsupport::dev("audio " + dir + "/empty.bin 2>/dev/null", &lines), 1);
  EXPECT_EQ(tsupport::dev("audio " + dir + "/missing.mp2 2>/dev/null", &lines), 1);
}

}  // namespace

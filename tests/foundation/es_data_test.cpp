#include "foundation/es_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "foundation/audio_info.h"
#include "foundation/seq_header.h"
#include "foundation/video_info.h"
#include "support/support.h"

namespace {

std::string probe(const std::string& path, const std::string& entries) {
  std::string out;
  tsupport::run("ffprobe -v error -show_entries " + entries + " -of csv=p=0 " + tsupport::sh_quote(path), &out);
  while (!out.empty() && (out.back() == '\n' || out.back() == ',')) out.pop_back();
  return out;
}

TEST(ESData, LpcmRecord) {
  ESData es;
  es.set_lpcm_header(0xA0, 48000, 2);
  EXPECT_EQ(es.kind, ES_KIND_LPCM);
  EXPECT_EQ(es.bit_rate, 1536000);
  EXPECT_EQ(es.get_audio_bit_rate(), 1536000);
  EXPECT_EQ(es.lpcm_bytes_per_frame, 3200);
  EXPECT_EQ(es.get_audio_frame_size(), 3200);
  EXPECT_DOUBLE_EQ(es.get_audio_frame_duration(), 1.0 / 60);
  EXPECT_EQ(es.get_audio_layer(), 0);
  EXPECT_TRUE(es.is_audio());
  EXPECT_FALSE(es.is_video());

  es.set_lpcm_header(0xA1, 48000, 6);
  EXPECT_EQ(es.get_audio_channels(), 2);
  EXPECT_EQ(es.get_channel_count(), 6);
  AudioInfo info;
  ASSERT_EQ(es.get_audio_info(&info), 0);
  EXPECT_EQ(info.full_channels, 6);
  EXPECT_EQ(info.get_audio_type(), AUDIO_TYPE_LPCM);
}

TEST(ESData, MpegAudioHeaderAndFallbacks) {
  ESData es;
  FrmHdr h;
  ASSERT_EQ(h.parse(0xFFFD9A04), 0);  // MPEG-1 layer II, 160k, 32 kHz, padded: 721 bytes
  es.set_audio_header(h);
  EXPECT_EQ(es.kind, ES_KIND_MPEG_AUDIO);
  EXPECT_EQ(es.get_audio_header()->header, 0xFFFD9A04u);
  EXPECT_EQ(es.get_audio_frame_size(), h.frame_size - 1);
  EXPECT_EQ(es.get_audio_crc_flag(), 0);

  // A padded 418-byte layer II frame reports 417.
  FrmHdr p;
  ASSERT_EQ(p.parse(0xFFFD0000 | (8u << 12) | (1u << 9) | 0x44), 0);  // 128k, 44.1 kHz, padded
  ASSERT_EQ(p.frame_size, 418);
  es.set_audio_header(p);
  EXPECT_EQ(es.get_audio_frame_size(), 417);

  // An invalid header: the stand-in rates, 224 kbit/s (not 22.4).
  FrmHdr bad;
  es.set_audio_header(bad);
  EXPECT_EQ(es.audio_bit_rate, 224000);
  EXPECT_EQ(es.sample_rate, 44100);
  EXPECT_EQ(es.channels, 2);
  EXPECT_EQ(es.layer, 2);
  EXPECT_EQ(es.get_audio_frame_size(), 731);
  es.audio_bit_rate = es.sample_rate = es.channels = es.layer = 0;
  EXPECT_EQ(es.get_audio_bit_rate(), 224000);
  EXPECT_EQ(es.get_audio_sample_rate(), 44100);
  EXPECT_EQ(es.get_audio_channels(), 2);
  EXPECT_EQ(es.get_audio_layer(), 2);

  // Layer III at 22.05 kHz: 576 samples a frame.
  FrmHdr lsf;
  ASSERT_EQ(lsf.parse(0xFFF38000), 0);
  es.set_audio_header(lsf);
  EXPECT_DOUBLE_EQ(es.get_audio_frame_duration(), 576.0 / 22050);
  ASSERT_EQ(lsf.parse(0xFFFD8000), 0);  // layer II, 44.1 kHz
  es.set_audio_header(lsf);
  EXPECT_DOUBLE_EQ(es.get_audio_frame_duration(), 1152.0 / 44100);

  ESData none;
  EXPECT_EQ(none.get_audio_layer(), 0);
  EXPECT_EQ(none.get_audio_bit_rate(), 0);
  EXPECT_EQ(none.get_audio_frame_size(), 0);
  EXPECT_EQ(none.get_audio_header(), nullptr);
  EXPECT_EQ(none.get_ac3_header(), nullptr);
}

TEST(ESData, CopiesOwnTheirHeaderAndName) {
  ESData a;
  a.set_name("one.mp2");
  FrmHdr h;
  h.parse(0xFFFD8000);
  a.set_audio_header(h);
  a.pid = 0x101;
  ESData b = a;
  ASSERT_NE(b.get_audio_header(), nullptr);
  EXPECT_NE(b.get_audio_header(), a.get_audio_header());
  EXPECT_EQ(b.get_audio_header()->header, h.header);
  EXPECT_STREQ(b.get_name(), "one.mp2");
  EXPECT_EQ(b.pid, 0x101);
  a.clear();
  EXPECT_EQ(a.get_name(), nullptr);
  EXPECT_EQ(a.get_audio_header(), nullptr);
  EXPECT_EQ(b.get_audio_header()->header, h.header) << "the copy survives";

  AC3FrmHdr ac3;
  ac3.valid = 1;
  ac3.bit_rate = 448000;
  ac3.sample_rate = 48000;
  ac3.channels = 2;
  ac3.frame_size = 1792;
  ac3.bsi.acmod = 7;
  ac3.bsi.lfeon = 1;
  ac3.bsi.langcod = 9;
  b.set_ac3_header(ac3);
  EXPECT_EQ(b.get_audio_header(), nullptr);
  EXPECT_EQ(b.kind, ES_KIND_AC3);
  EXPECT_EQ(b.get_ac3_channels(), 6);
  EXPECT_EQ(b.get_ac3_language_code(), 9);
  EXPECT_EQ(b.get_audio_frame_size(), 1792);
  EXPECT_DOUBLE_EQ(b.get_audio_frame_duration(), 0.032);
  ESData c;
  c = b;
  ASSERT_NE(c.get_ac3_header(), nullptr);
  EXPECT_NE(c.get_ac3_header(), b.get_ac3_header());
  ESData& same = c;
  c = same;  // self-assignment keeps it
  EXPECT_EQ(c.get_ac3_channels(), 6);
  c.set_name(nullptr);
  EXPECT_EQ(c.get_name(), nullptr);
  c.free_header();
  EXPECT_EQ(c.get_ac3_header(), nullptr);
  EXPECT_EQ(c.get_ac3_channels(), 0);
}

TEST(ESData, VideoQueriesWithoutHeaderFallBack) {
  ESData es;
  es.bit_rate = 5000000;
  tsupport::TraceCapture trace;
  EXPECT_EQ(es.get_video_width(), 0);
  EXPECT_EQ(es.get_video_bit_rate(), 5000000);
  EXPECT_EQ(es.get_video_chroma_format(), 1);
  EXPECT_EQ(es.get_video_pel_aspect_ratio(), 2);
  EXPECT_DOUBLE_EQ(es.get_video_frame_rate(), 0.0);
  EXPECT_FALSE(trace.messages().empty());
  VideoInfo vi;
  EXPECT_EQ(es.get_video_info(&vi), 1);
}

TEST(ESData, Mpeg1DefaultsMarkedMpeg2) {
  struct Row {
    int width, height, mpeg2, kind;
  };
  const Row rows[] = {{352, 288, 0, ES_KIND_MPEG1_VIDEO}, {720, 576, 1, ES_KIND_MPEG2_VIDEO}};
  for (const Row& r : rows) {
    SeqHdr seq;
    seq.setup(r.width, r.height, 0, 25.0, r.mpeg2);
    ESData es;
    es.set_video_header(seq);
    EXPECT_EQ(es.kind, r.kind) << r.width;
    EXPECT_EQ(es.is_video_mpeg2(), r.mpeg2);
    EXPECT_EQ(es.get_video_width(), r.width);
    EXPECT_EQ(es.get_video_progressive_sequence(), r.mpeg2 ? 0 : 1);
  }
}

// ---- from real files

struct Case {
  const char* file;
  int kind;
};

class ESDataOpen : public testing::TestWithParam<Case> {};

TEST_P(ESDataOpen, MatchesFfprobe) {
  const std::string path = tsupport::fixture(GetParam().file);
  ESData es;
  int error = -1;
  es.open(path.c_str(), &error);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(es.kind, GetParam().kind);
  EXPECT_EQ(es.header_offset, 0);
  const double ff_duration = std::stod(probe(path, "format=duration"));
  if (es.is_video()) {
    EXPECT_EQ(probe(path, "stream=width,height,bit_rate"), std::to_string(es.get_video_width()) + "," +
                                                               std::to_string(es.get_video_height()) + "," +
                                                               std::to_string(es.get_video_bit_rate()));
    EXPECT_EQ(es.stream_id, 224);
    EXPECT_NEAR(es.get_duration(), ff_duration, 0.1);
    VideoInfo vi;
    EXPECT_EQ(es.get_video_info(&vi), 0);
    EXPECT_EQ(vi.mpeg2, es.kind == ES_KIND_MPEG2_VIDEO ? 1 : 0);
    return;
  }
  AudioInfo info;
  ASSERT_EQ(es.get_audio_info(&info), 0);
  const int full = es.ac3 ? es.get_ac3_channels() : es.get_audio_channels();
  EXPECT_EQ(probe(path, "stream=sample_rate,channels,bit_rate"), std::to_string(es.get_audio_sample_rate()) + "," +
                                                                     std::to_string(full) + "," +
                                                                     std::to_string(es.get_audio_bit_rate()));
  EXPECT_EQ(es.stream_id, es.ac3 ? 128 : 192);
  EXPECT_NEAR(es.get_duration(), ff_duration, es.get_audio_frame_duration());
  if (es.ac3) {  // one of the stream's frame sizes (two alternate at 44.1 kHz)
    const auto sizes = tsupport::split_lines(probe(path, "packet=size"));
    EXPECT_NE(std::find(sizes.begin(), sizes.end(), std::to_string(es.get_audio_frame_size())), sizes.end());
  }
  EXPECT_EQ(es.get_audio_layer(), es.ac3 ? 0 : std::string(GetParam().file).find("mp3") == 0 ? 3 : 2);
}

INSTANTIATE_TEST_SUITE_P(Streams, ESDataOpen,
                         testing::Values(Case{"mp2_48000.mp2", 1}, Case{"mp2_22050.mp2", 1}, Case{"mp3_44100.mp3", 1},
                                         Case{"mp3_11025.mp3", 1}, Case{"ac3_48000_6ch.ac3", 9},
                                         Case{"ac3_44100_2ch.ac3", 9}, Case{"m1c.m1v", 2}, Case{"m2c.m2v", 3}),
                         [](const testing::TestParamInfo<Case>& i) {
                           std::string n = i.param.file;
                           for (char& c : n)
                             if (c == '.') c = '_';
                           return n;
                         });

TEST(ESData, OpenRefusesOtherFiles) {
  const std::string dir = tsupport::temp_dir();
  std::vector<uint8_t> noise(50000);
  std::mt19937 rng(5);
  for (auto& b : noise) b = uint8_t(rng());
  tsupport::write_file(dir + "/noise.bin", noise);
  ESData es;
  int error = 0;
  es.open((dir + "/noise.bin").c_str(), &error);
  EXPECT_EQ(error, 1);
  es.open((dir + "/missing.mp2").c_str(), &error);
  EXPECT_EQ(error, 1);
  es.open(nullptr, &error);
  EXPECT_EQ(error, 1);
  EXPECT_EQ(mpeg_get_es_data(nullptr), 0);

  // A record that knows only its name works its duration out on first use.
  ESData lazy;
  lazy.set_name(tsupport::fixture("mp2_32000.mp2").c_str());
  EXPECT_NEAR(lazy.get_duration(), 60480 * 8.0 / 192000, 1e-9);
}

TEST(ESData, LateSequenceHeaderIsSoughtFurtherOnlyInMpeg2) {
  // 600,000 zero bytes (legal stuffing) push the first sequence header past
  // the first 512 KiB read.
  const std::string dir = tsupport::temp_dir();
  const std::vector<uint8_t> zeros(600000, 0);
  for (const char* name : {"m2c.m2v", "m1c.m1v"}) {
    auto v = zeros;
    const auto es_bytes = tsupport::read_file(tsupport::fixture(name));
    v.insert(v.end(), es_bytes.begin(), es_bytes.end());
    const std::string path = dir + "/late_" + name;
    tsupport::write_file(path, v);
    ESData es;
    int error = 0;
    es.open(path.c_str(), &error);
    if (std::string(name) == "m2c.m2v") {
      ASSERT_EQ(error, 0);
      EXPECT_EQ(es.header_offset, 600000);
      EXPECT_EQ(es.get_video_width(), 720);
    } else {
      EXPECT_EQ(error, 1) << "MPEG-1 is not searched beyond the first read";
    }
  }
}

TEST(ESData, LoadData) {
  const std::string path = tsupport::fixture("mp2_32000.mp2");
  int size = 0;
  auto d = mpeg_load_data(path.c_str(), &size);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(size, 60480) << "the whole file, below the default 512 KiB";
  size = 100;
  d = mpeg_load_data(path.c_str(), &size);
  EXPECT_EQ(size, 100);
  size = 0;
  EXPECT_EQ(mpeg_load_data("", &size), nullptr);
  EXPECT_EQ(mpeg_load_data("/nonexistent/x", &size), nullptr);
}

}  // namespace

// Lengths and audio spans of elementary streams, and damaged input.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "demux/demuxer_cache.h"
#include "demux/goplist.h"
#include "demux/slice_walk.h"
#include "foundation/pic_header.h"
#include "support/support.h"

namespace {

using namespace tsupport;

double ffprobe_frames_over_rate(const std::string& file) {
  std::string out;
  run("ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames,r_frame_rate -of csv=p=0 " +
          sh_quote(file),
      &out);
  // "num/den,frames"
  int num = 0, den = 1, frames = 0;
  std::sscanf(out.c_str(), "%d/%d,%d", &num, &den, &frames);
  return num > 0 ? frames * double(den) / num : 0.0;
}

TEST(StreamLength, VideoWithinOneFrameOfFfprobe) {
  for (const char* name : {"m1c.m1v", "m2c.m2v", "cg.m2v", "m2v.m2v", "il_tff.m2v", "422.m2v", "hd.m2v", "df.m2v"}) {
    const std::string file = fixture(name);
    std::vector<std::string> lines;
    ASSERT_EQ(dev("info " + sh_quote(file), &lines), 0);
    ASSERT_EQ(lines.size(), 1u);
    const double rate = std::stod(field(lines[0], "frame_rate"));
    const double want = ffprobe_frames_over_rate(file);
    EXPECT_NEAR(std::stod(field(lines[0], "length")), want, 1.0 / rate) << name;
    EXPECT_EQ(field_int(lines[0], "frames"), std::lround(want * rate)) << name;
  }
}

TEST(StreamLength, RestartedTimeCodesAddUp) {
  // Two 2-second clips whose time codes restart at 00:00:00:00.
  std::vector<std::string> lines;
  ASSERT_EQ(dev("info " + sh_quote(fixture("tcr.m2v")), &lines), 0);
  EXPECT_NEAR(std::stod(field(lines[0], "length")), 4.0, 1.0 / 25);
  EXPECT_EQ(field_int(lines[0], "frames"), 100);
}

// Time codes that clearly run on are cleared of a restart on the sampled
// GOP headers alone: opening parses the first and the last GOPs only.
// Codes that restart still get the full check and add up.
TEST(StreamLength, RestartCheckParsesSampledGopsOnlyWhenCodesDoNotRunOn) {
  struct Case {
    const char* file;
    double length;
    bool headers_only;
  } cases[] = {{"long60.m2v", 60.0, true}, {"join24.m2v", 24.0, false}};
  for (const Case& c : cases) {
    // A copy: the process has not measured it yet.
    const std::string path = temp_dir() + "/restart_" + c.file;
    ASSERT_TRUE(write_file(path, read_file(fixture(c.file))));
    const long before = DeMuxer::parse_gop_count();
    std::unique_ptr<DeMuxer> d(demuxer_create(path.c_str(), 0));
    ASSERT_TRUE(d) << c.file;
    const long parses = DeMuxer::parse_gop_count() - before;
    if (c.headers_only)
      EXPECT_LE(parses, 4) << c.file;
    else
      EXPECT_GT(parses, 16) << c.file;
    EXPECT_NEAR(d->get_total_length(), c.length, 1.0 / 25) << c.file;
  }
}

TEST(StreamLength, AudioWithinOneFrameOfFfprobe) {
  for (const char* name : {"mp2_44100.mp2", "mp2_48000.mp2", "mp3_44100.mp3", "ac3_48000_2ch.ac3", "ac3_44100_6ch.ac3"}) {
    const std::string file = fixture(name);
    std::string out;
    run("ffprobe -v error -show_entries format=duration -of csv=p=0 " + sh_quote(file), &out);
    std::vector<std::string> lines;
    ASSERT_EQ(dev("info " + sh_quote(file), &lines), 0);
    EXPECT_NEAR(std::stod(field(lines[0], "length")), std::stod(out), 0.035) << name;
  }
}

TEST(StreamLength, AudioCutInsideAFrameEndsAtTheLastWholeFrame) {
  const auto bytes = read_file(fixture("mp2_44100.mp2"));
  std::unique_ptr<DeMuxer> d(demuxer_create(fixture("mp2_44100.mp2").c_str(), 0));
  ASSERT_TRUE(d);
  const FrmHdr* h = d->get_audio_header(0, 0);
  ASSERT_TRUE(h && h->valid);
  // Keep 50 frames and half of the 51st (224 kbit/s at 44.1 kHz: 731 or 732
  // bytes a frame).
  size_t pos = 0;
  for (int i = 0; i < 50; ++i) {
    FrmHdr f;
    ASSERT_EQ(f.find_matching(bytes.data() + pos, 8, *h), 0);
    pos += size_t(f.frame_size);
  }
  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(pos + 300));
  const std::string path = temp_dir() + "/cut.mp2";
  ASSERT_TRUE(write_file(path, cut));
  std::vector<std::string> lines;
  ASSERT_EQ(dev("info " + sh_quote(path), &lines), 0);
  EXPECT_NEAR(std::stod(field(lines[0], "length")), pos * 8.0 / 224000, 1e-6);
  EXPECT_NEAR(std::stod(field(lines[0], "length")), 50 * 1152 / 44100.0, 0.0005);
}

TEST(AudioSpan, SkippingWholeFrames) {
  const std::string file = fixture("mp2_48000.mp2");
  const auto bytes = read_file(file);
  std::unique_ptr<DeMuxer> d(demuxer_create(file.c_str(), 0));
  ASSERT_TRUE(d);
  int n = 0;
  ESData* es = d->get_es_data(&n);
  ASSERT_EQ(n, 1);
  const int size = es[0].get_audio_header()->frame_size;  // 48 kHz: no padding
  int frames = 7;
  EXPECT_EQ(d->skip_audio_frames(bytes.data(), int(bytes.size()), &es[0], &frames), 7 * size);
  EXPECT_EQ(frames, 0);
  frames = 7;  // fewer whole frames than asked
  EXPECT_EQ(d->skip_audio_frames(bytes.data(), 3 * size + 10, &es[0], &frames), 3 * size);
  EXPECT_EQ(frames, 4);
}

struct Packet {
  long long pos;
  double pts_time;
};

std::vector<Packet> audio_packets(const std::string& file) {
  std::string out;
  run("ffprobe -v error -show_entries packet=pos,pts_time -of csv=p=0 " + sh_quote(file), &out);
  std::vector<Packet> p;
  for (const auto& l : split_lines(out)) {
    long long pos = 0;
    double t = 0;
    if (std::sscanf(l.c_str(), "%lf,%lld", &t, &pos) == 2) p.push_back({pos, t});
  }
  return p;
}

TEST(AudioSpan, StampsAreThoseOfTheFirstWholeFrame) {
  // (At 44.1 kHz AC-3 frame sizes alternate and ffprobe's raw-AC-3 time
  // stamps drift from whole frames, so it is no oracle there.) Loaded
  // through the demultiplexer directly: `span` prints the same two values
  // (its line is checked below), and a process per offset is slow under the
  // sanitizers.
  for (const char* name : {"mp2_44100.mp2", "mp2_48000.mp2", "mp2_32000.mp2", "ac3_48000_2ch.ac3", "ac3_32000_6ch.ac3"}) {
    const std::string file = fixture(name);
    const auto packets = audio_packets(file);
    ASSERT_GT(packets.size(), 40u) << name;
    std::unique_ptr<DeMuxer> d(demuxer_create(file.c_str(), 0));
    ASSERT_TRUE(d) << name;
    std::mt19937 rng(30);
    const long long limit = packets[packets.size() - 6].pos;
    for (int i = 0; i < 30; ++i) {
      const long long off = rng() % limit;
      ESBuffer span(16384);
      span.start = FileOffset::from_u64(uint64_t(off));
      const double t = d->load_abs(&span, 0, 0);
      const Packet* first = nullptr;
      for (const auto& p : packets)
        if (p.pos >= off) {
          first = &p;
          break;
        }
      ASSERT_TRUE(first);
      EXPECT_EQ(static_cast<long long>(span.start.value()) + span.first_frame, first->pos) << name << " @" << off;
      EXPECT_NEAR(t, 90000.0 * first->pts_time, 1.0) << name << " @" << off;
      if (i == 0) {
        std::vector<std::string> lines;
        ASSERT_EQ(dev("span " + sh_quote(file) + " " + std::to_string(off), &lines), 0);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(field_int(lines[0], "first_frame"), first->pos) << name << " @" << off;
        EXPECT_NEAR(std::stod(field(lines[0], "pts")), 90000.0 * first->pts_time, 1.0) << name << " @" << off;
      }
    }
  }
}

TEST(AudioSpan, SpanPastTheEndIsEmpty) {
  const std::string file = fixture("mp2_44100.mp2");
  std::vector<std::string> lines;
  ASSERT_EQ(dev("span " + sh_quote(file) + " 100000000", &lines), 0);
  EXPECT_EQ(field_int(lines[0], "bytes"), 0);
  EXPECT_EQ(field(lines[0], "pts"), "none");
}

// ---- damaged input ----

int walk(const std::string& file, std::vector<long long>* starts = nullptr) {
  GOPList list(file.c_str());
  if (!list.is_open() || list.build_index()) return -1;
  GOP g;
  int n = 0;
  for (int p = list.get_first_gop(&g, 1); p > 0 && n < 100000; p = list.next_gop(&g, 1), ++n)
    if (starts) starts->push_back(g.start.value());
  return n;
}

TEST(DamagedStreams, TruncatedInsideAPictureDropsIt) {
  const std::string file = fixture("m2c.m2v");
  const auto bytes = read_file(file);
  GOP last;
  {
    GOPList list(file.c_str());
    ASSERT_TRUE(list.is_open());
    ASSERT_EQ(list.build_index(), 0);
    ASSERT_EQ(list.get_last_gop(&last, 0), 5);  // IBBPB
  }
  // Cut 600 bytes into the slices of the last picture.
  const size_t cut_at = last.start.value() + last.get_pic_entry(4) + 600;
  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(cut_at));
  const std::string path = temp_dir() + "/cut.m2v";
  ASSERT_TRUE(write_file(path, cut));
  GOPList list(path.c_str());
  ASSERT_TRUE(list.is_open());
  ASSERT_EQ(list.build_index(), 0);
  GOP g;
  ASSERT_GT(list.get_last_gop(&g, 1), 0);
  EXPECT_EQ(g.pic_count, 4);
  EXPECT_EQ(g.byte_length, last.get_pic_entry(4));
  EXPECT_EQ(g.end.value(), cut.size());
  EXPECT_EQ(list.get_total_frames(), 74);
}

// MPEG-1 slices may span rows: whether the last picture of a stream without
// an end code is whole follows from its macroblocks, not from where its
// last slice starts. Sliced streams, each whole and cut at several places
// inside its last picture.
TEST(DamagedStreams, Mpeg1LastPictureOfManySlices) {
  if (!have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  for (const int slices : {1, 2, 3, 4}) {
    SCOPED_TRACE(slices);
    const std::string file = temp_dir() + "/slices" + std::to_string(slices) + ".m1v";
    ASSERT_EQ(run("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 14 -c:v mpeg1video "
                  "-threads 1 -g 7 -bf 2 -b:v 1500k -slices " + std::to_string(slices) + " " + sh_quote(file)),
              0);
    auto bytes = read_file(file);
    // ffmpeg ends the stream without a sequence end code; take one off if present.
    if (bytes.size() > 4 && bytes[bytes.size() - 4] == 0 && bytes[bytes.size() - 3] == 0 &&
        bytes[bytes.size() - 2] == 1 && bytes[bytes.size() - 1] == 0xB7)
      bytes.resize(bytes.size() - 4);
    ASSERT_TRUE(write_file(file, bytes));
    {
      GOPList list(file.c_str());
      ASSERT_TRUE(list.is_open());
      ASSERT_EQ(list.build_index(), 0);
      EXPECT_EQ(list.get_total_frames(), 14);
    }
    // Every picture's last slice walks to the last macroblock (I, P and B).
    std::vector<size_t> codes;
    for (size_t i = 0; i + 3 < bytes.size(); ++i)
      if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) codes.push_back(i);
    codes.push_back(bytes.size());
    size_t last_pic = 0;
    for (size_t k = 0; k + 1 < codes.size(); ++k) {
      if (bytes[codes[k] + 3] != 0) continue;
      last_pic = codes[k];
      PicHdr hdr;
      ASSERT_GT(hdr.decode(&bytes[codes[k]], int(bytes.size() - codes[k])), 0);
      size_t slice = 0, end = 0;
      for (size_t j = k + 1; j + 1 < codes.size(); ++j) {
        const int c = bytes[codes[j] + 3];
        if (c < 1 || c > 0xAF) {
          end = codes[j];
          break;
        }
        slice = codes[j];
        end = codes[j + 1];
      }
      ASSERT_GT(slice, 0u);
      EXPECT_EQ(mpeg1_slice_last_address(&bytes[slice], int(end - slice), 22, 22 * 18, hdr.picture_coding_type,
                                         hdr.forward_f_code, hdr.backward_f_code),
                22 * 18 - 1)
          << "picture at " << codes[k];
    }
    const size_t tail = bytes.size() - last_pic;
    for (const size_t keep : {tail / 4, tail / 2, tail - 40, tail - 2}) {
      const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(last_pic + keep));
      const std::string path = temp_dir() + "/slices_cut.m1v";
      ASSERT_TRUE(write_file(path, cut));
      GOPList list(path.c_str());
      ASSERT_TRUE(list.is_open());
      ASSERT_EQ(list.build_index(), 0);
      EXPECT_EQ(list.get_total_frames(), 13) << "kept " << keep << " of " << tail;
    }
  }
}

TEST(DamagedStreams, IndexingGoesOnPastGarbage) {
  const auto bytes = read_file(fixture("long60.m2v"));
  std::vector<long long> clean;
  ASSERT_EQ(walk(fixture("long60.m2v"), &clean), 126);
  // 200 KB of noise (with stray start codes) in the middle of the file.
  std::mt19937 rng(5);
  const size_t at = bytes.size() / 2;
  std::vector<uint8_t> noise(200000);
  for (auto& b : noise) b = uint8_t(rng());
  for (size_t i = 0; i + 4 < noise.size(); i += 3001) noise[i] = 0, noise[i + 1] = 0, noise[i + 2] = 1;
  std::vector<uint8_t> damaged(bytes.begin(), bytes.begin() + at);
  damaged.insert(damaged.end(), noise.begin(), noise.end());
  damaged.insert(damaged.end(), bytes.begin() + at, bytes.end());
  const std::string path = temp_dir() + "/noisy.m2v";
  ASSERT_TRUE(write_file(path, damaged));
  std::vector<long long> starts;
  ASSERT_GT(walk(path, &starts), 120);
  // Every GOP that starts behind the noise is found at its shifted place.
  int behind = 0;
  for (long long s : clean)
    if (size_t(s) > at + 100000) {
      ++behind;
      EXPECT_NE(std::find(starts.begin(), starts.end(), s + 200000), starts.end()) << s;
    }
  EXPECT_GT(behind, 50);
}

TEST(DamagedStreams, OversizeStretchDoesNotEndTheFile) {
  // 6 MB without any start code inside a GOP: its buffer growth is refused,
  // and that GOP must not pretend to reach the end of the file.
  const auto bytes = read_file(fixture("m2c.m2v"));
  std::vector<long long> clean;
  ASSERT_EQ(walk(fixture("m2c.m2v"), &clean), 7);
  std::mt19937 rng(17);
  std::vector<uint8_t> noise(6 << 20);
  for (auto& b : noise) b = uint8_t(1 + rng() % 255);
  const size_t at = size_t(clean[3]) + 1000;  // inside GOP 3
  std::vector<uint8_t> damaged(bytes.begin(), bytes.begin() + long(at));
  damaged.insert(damaged.end(), noise.begin(), noise.end());
  damaged.insert(damaged.end(), bytes.begin() + long(at), bytes.end());
  const std::string path = temp_dir() + "/oversize.m2v";
  ASSERT_TRUE(write_file(path, damaged));
  TraceCapture trace;
  std::vector<long long> starts;
  walk(path, &starts);
  EXPECT_TRUE(trace.contains("requested GOP size"));
  for (size_t k = 4; k < clean.size(); ++k)
    EXPECT_NE(std::find(starts.begin(), starts.end(), clean[k] + long(noise.size())), starts.end()) << k;
}

TEST(DamagedStreams, FlippedBitsAndRandomFilesEndCleanly) {
  const auto bytes = read_file(fixture("m2c.m2v"));
  std::mt19937 rng(9);
  for (int round = 0; round < 12; ++round) {
    auto v = bytes;
    for (int k = 0; k < 200; ++k) v[rng() % v.size()] ^= uint8_t(1u << (rng() % 8));
    const std::string path = temp_dir() + "/flip" + std::to_string(round) + ".m2v";
    ASSERT_TRUE(write_file(path, v));
    walk(path);  // must end, without a sanitizer report
  }
  std::vector<uint8_t> random(300000);
  for (auto& b : random) b = uint8_t(rng());
  const std::string path = temp_dir() + "/random.m2v";
  ASSERT_TRUE(write_file(path, random));
  EXPECT_EQ(walk(path), -1);
}

}  // namespace

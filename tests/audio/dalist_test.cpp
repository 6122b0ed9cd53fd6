// Audio access-unit lists against ffmpeg: the frames handed out are the
// stream's own frames byte for byte, seeks land on the frame holding the
// time, and damaged files end cleanly.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "audio/dalist.h"
#include "support.h"

namespace {

using tsupport::fixture;
using tsupport::sh_quote;

std::vector<uint8_t> all_frames(DAList* list, int* count = nullptr) {
  std::vector<uint8_t> out, buf(65536);
  int n = 0, frames = 0;
  while ((n = list->next_frame(buf.data(), int(buf.size()))) > 0) {
    out.insert(out.end(), buf.begin(), buf.begin() + n);
    ++frames;
  }
  if (count) *count = frames;
  return out;
}

// ffmpeg's copy of one audio stream (map: ffmpeg's stream specifier).
std::vector<uint8_t> ffmpeg_copy(const std::string& file, const std::string& map, const std::string& format) {
  const std::string out = tsupport::temp_dir() + "/copy." + format;
  const std::string codec = format == "s16le" ? "-c:a pcm_s16le" : "-c copy";
  const std::string cmd = "ffmpeg -nostdin -v error -y -i " + sh_quote(file) + " -map " + map + " " + codec +
                          " -f " + format + " " + sh_quote(out);
  if (tsupport::run(cmd) != 0) return {};
  return tsupport::read_file(out);
}

struct StreamCase {
  const char* file;
  int id, pid;
  const char* map;
  const char* format;
  const char* kind;
};

const StreamCase kStreams[] = {
    {"mp2_44100.mp2", 0, 0, "0:a:0", "mp2", "mpeg"},
    {"mp3_11025.mp3", 0, 0, "0:a:0", "mp2", "mpeg"},
    {"ac3_44100_2ch.ac3", 0, 0, "0:a:0", "ac3", "ac3"},
    {"ac3_48000_6ch.ac3", 0, 0, "0:a:0", "ac3", "ac3"},
    {"ps_dvd.vob", 0xC0, 0, "0:i:0x1c0", "mp2", "mpeg"},
    {"ps_dvd.vob", 0x80, 0, "0:i:0x80", "ac3", "ac3"},
    {"ps_dvd.vob", 0xA0, 0, "0:i:0xa0", "s16le", "lpcm"},
    {"ts_ac3mp2.ts", 0, 0x101, "0:i:0x101", "ac3", "ac3"},
    {"ts_ac3mp2.ts", 0, 0x102, "0:i:0x102", "mp2", "mpeg"},
};

// Every frame from the start, joined, is the stream as ffmpeg copies it
// out (LPCM as little-endian samples).
TEST(DAList, FramesAreTheStreamByteForByte) {
  for (const StreamCase& k : kStreams) {
    SCOPED_TRACE(std::string(k.file) + " " + k.map);
    const std::string file = fixture(k.file);
    DAList list;
    ASSERT_EQ(list.init(file.c_str(), k.id, k.pid), 0);
    EXPECT_EQ(list.is_ac3(), std::string(k.kind) == "ac3");
    EXPECT_EQ(list.is_lpcm(), std::string(k.kind) == "lpcm");
    if (k.pid) {
      int pid = 0;
      list.get_stream_id(&pid);
      EXPECT_EQ(pid, k.pid);
    }
    const std::vector<uint8_t> want = ffmpeg_copy(file, k.map, k.format);
    ASSERT_FALSE(want.empty());
    int frames = 0;
    const std::vector<uint8_t> got = all_frames(&list, &frames);
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
    // The length is the frames' duration within a frame.
    if (!list.is_lpcm()) {
      EXPECT_NEAR(list.get_length(), frames * list.get_frame_period(), list.get_frame_period() * 1.01);
    }
    // A second pass after a return to the start gives the same bytes.
    list.goto_time(0.0);
    EXPECT_TRUE(all_frames(&list) == got);
  }
}

// Frame periods by layer and rate: 1152 samples for layer II, 576 for
// layer III below 32 kHz (MPEG-2 and 2.5), 1536 for AC-3, 1152 for LPCM.
TEST(DAList, FramePeriodsFollowTheLayerAndRate) {
  struct Case {
    const char* file;
    int id;
    double period;
  } cases[] = {{"mp2_44100.mp2", 0, 1152.0 / 44100}, {"mp3_22050.mp3", 0, 576.0 / 22050},
               {"mp3_11025.mp3", 0, 576.0 / 11025},  {"ac3_32000_2ch.ac3", 0, 1536.0 / 32000},
               {"ps_dvd.vob", 0xA0, 1152.0 / 48000}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.file);
    DAList list;
    ASSERT_EQ(list.init(fixture(k.file).c_str(), k.id, 0), 0);
    EXPECT_NEAR(list.get_frame_period(), k.period, 1e-12);
  }
}

// A seek lands on the frame holding the time, and the frame handed out
// next is that frame of ffmpeg's copy (constant-size frames: frame k sits
// at k times the frame size).
TEST(DAList, SeekLandsOnTheFrameHoldingTheTime) {
  struct Case {
    const char* file;
    int id, pid;
    const char* map;
    const char* format;
  } cases[] = {{"mp2_48000.mp2", 0, 0, "0:a:0", "mp2"},
               {"ps_dvd.vob", 0xC0, 0, "0:i:0x1c0", "mp2"},
               {"ps_dvd.vob", 0x80, 0, "0:i:0x80", "ac3"},
               {"ts_ac3mp2.ts", 0, 0x101, "0:i:0x101", "ac3"}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.file);
    const std::string file = fixture(k.file);
    const std::vector<uint8_t> want = ffmpeg_copy(file, k.map, k.format);
    DAList list;
    ASSERT_EQ(list.init(file.c_str(), k.id, k.pid), 0);
    const double period = list.get_frame_period();
    const int size = list.get_frame_size();
    ASSERT_GT(size, 0);
    const int total = int(want.size()) / size;
    for (double t : {0.7, 2.0, 0.01, 1.5 + period / 2, list.get_length() - 2.5 * period, 1.0}) {
      SCOPED_TRACE(t);
      const double reached = list.goto_time(t);
      EXPECT_LE(reached, t + 1e-6);
      EXPECT_GT(reached + period, t - 1e-6);
      const long k_frame = std::lround(reached / period);
      ASSERT_LT(k_frame, total);
      std::vector<uint8_t> buf(65536);
      const int n = list.next_frame(buf.data(), int(buf.size()));
      ASSERT_EQ(n, size);
      EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + n, want.begin() + k_frame * size));
      EXPECT_NEAR(list.get_curr_time(), reached + period, 1e-6);
    }
  }
}

// Units stay short on a long program stream, so the time stamps of every
// piece of a joined recording (20 one-second pieces, each starting its
// clock again) set the reader's time: a seek lands on the frame that a
// walk from the start shows at that time. Units that grew at each load
// once covered the file in a dozen loads, and a seek to 0.5 s in this
// file landed at 1.288 s.
TEST(DAList, SeeksFollowTheTimeStampsOfEveryPiece) {
  const std::string file = fixture("ps_many.VRO");
  DAList list;
  ASSERT_EQ(list.init(file.c_str(), 0xC0, 0), 0);
  const double period = list.get_frame_period();
  std::vector<double> times;
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> buf(65536);
  for (;;) {
    const int n = list.next_frame(buf.data(), int(buf.size()));
    if (n <= 0) break;
    times.push_back(list.get_curr_time() - period);  // the frame's own time
    frames.emplace_back(buf.begin(), buf.begin() + n);
  }
  ASSERT_GT(times.size(), 800u);
  // Each piece's first frame starts on its own second.
  int piece_starts = 0;
  for (size_t i = 1; i < times.size(); ++i)
    if (std::fabs(times[i] - std::round(times[i])) < 1e-6 && times[i] - times[i - 1] < period - 1e-6) ++piece_starts;
  EXPECT_EQ(piece_starts, 19);
  for (double t : {0.5, 1.7, 7.9, 12.31, 0.2, 18.99}) {
    SCOPED_TRACE(t);
    size_t k = 0;
    while (k + 1 < times.size() && times[k + 1] <= t + 1e-9) ++k;
    EXPECT_NEAR(list.goto_time(t), times[k], 1e-6);
    const int n = list.next_frame(buf.data(), int(buf.size()));
    ASSERT_GT(n, 0);
    EXPECT_TRUE(std::vector<uint8_t>(buf.begin(), buf.begin() + n) == frames[k]);
  }
}

// A PID the file does not have opens the default audio stream; a switch
// to another stream changes the kind when needed, and a stream the file
// does not have keeps the old list.
TEST(DAList, StreamSelection) {
  const std::string file = fixture("ts_ac3mp2.ts");
  DAList def, list;
  ASSERT_EQ(def.init(file.c_str(), 0, 0), 0);
  int def_pid = 0, pid = 0;
  def.get_stream_id(&def_pid);
  ASSERT_EQ(list.init(file.c_str(), 0, 0x1234), 0);
  list.get_stream_id(&pid);
  EXPECT_EQ(pid, def_pid);
  int ids[8], pids[8];
  ASSERT_EQ(list.get_stream_list(ids, pids, 8), 2);
  // To the other stream: AC-3 and MPEG audio change places.
  const int other = pids[0] == def_pid ? 1 : 0;
  const bool was_ac3 = list.is_ac3();
  list.set_abs_id(ids[other], pids[other]);
  list.get_stream_id(&pid);
  EXPECT_EQ(pid, pids[other]);
  EXPECT_NE(list.is_ac3(), was_ac3);
  list.set_abs_id(0x77, 0x777);
  list.get_stream_id(&pid);
  EXPECT_EQ(pid, pids[other]);
  char map[32];
  std::snprintf(map, sizeof map, "0:i:0x%x", pid);
  EXPECT_TRUE(all_frames(&list) == ffmpeg_copy(file, map, list.is_ac3() ? "ac3" : "mp2"));
  // An empty handle answers 0 everywhere.
  DAList empty;
  uint8_t b[16];
  EXPECT_EQ(empty.next_frame(b, 16), 0);
  EXPECT_EQ(empty.get_length(), 0.0);
  EXPECT_EQ(empty.get_sample_rate(), 0);
  EXPECT_EQ(empty.set_abs_id(0xC0, 0), 0);
}

// Two handles on one file share the cached measures; a file changed since
// (a new modification time) is measured again and read as it is now.
TEST(DAList, CacheFollowsTheFile) {
  const std::string dir = tsupport::temp_dir();
  const std::string name = dir + "/a.mp2";
  const std::vector<uint8_t> a = tsupport::read_file(fixture("mp2_48000.mp2"));
  const std::vector<uint8_t> b = tsupport::read_file(fixture("mp2_32000.mp2"));
  ASSERT_TRUE(tsupport::write_file(name, a));
  DAListCache& cache = DAListCache::instance();
  DAList one, two;
  ASSERT_EQ(one.init(name.c_str(), 0, 0), 0);
  const int entries = cache.count();
  ASSERT_EQ(two.init(name.c_str(), 0, 0), 0);
  EXPECT_EQ(cache.count(), entries);
  EXPECT_TRUE(all_frames(&two) == a);
  ASSERT_TRUE(tsupport::write_file(name, b));
  struct utimbuf later = {time(nullptr) + 10, time(nullptr) + 10};
  ASSERT_EQ(utime(name.c_str(), &later), 0);
  DAList three;
  ASSERT_EQ(three.init(name.c_str(), 0, 0), 0);
  EXPECT_EQ(three.get_sample_rate(), 32000);
  EXPECT_TRUE(all_frames(&three) == b);
  // The first handle still reads its own (open) file to the end cleanly.
  EXPECT_EQ(one.get_sample_rate(), 48000);
  EXPECT_LE(cache.count(), DAListCache::kCapacity);
}

// Truncated, bit-flipped and random files: opening fails or every walk
// and seek ends, with frames that are whole headers of the stream.
TEST(DAList, DamagedFilesEndCleanly) {
  const std::string dir = tsupport::temp_dir();
  std::mt19937 rng(11);
  int k = 0;
  for (const char* src : {"mp2_44100.mp2", "ac3_48000_2ch.ac3", "ps_dvd.vob", "ts_ac3mp2.ts"}) {
    const std::vector<uint8_t> orig = tsupport::read_file(fixture(src));
    ASSERT_GT(orig.size(), 4096u);
    std::vector<std::vector<uint8_t>> damaged;
    damaged.emplace_back(orig.begin(), orig.begin() + std::ptrdiff_t(orig.size() / 3 + 77));  // truncated
    std::vector<uint8_t> flipped = orig;
    for (int i = 0; i < 400; ++i) flipped[rng() % flipped.size()] ^= uint8_t(1u << (rng() % 8));
    damaged.push_back(flipped);
    std::vector<uint8_t> junk = orig;  // a run of random bytes in the middle
    for (size_t i = junk.size() / 2; i < junk.size() / 2 + 3000 && i < junk.size(); ++i) junk[i] = uint8_t(rng());
    damaged.push_back(junk);
    std::vector<uint8_t> noise(20000);
    for (auto& c : noise) c = uint8_t(rng());
    damaged.push_back(noise);
    for (const auto& d : damaged) {
      const std::string name = dir + "/d" + std::to_string(k++) + "." + std::string(src).substr(std::string(src).find('.') + 1);
      ASSERT_TRUE(tsupport::write_file(name, d));
      DAList list;
      if (list.init(name.c_str(), 0, 0) != 0) continue;
      int frames = 0;
      const std::vector<uint8_t> got = all_frames(&list, &frames);
      EXPECT_LE(got.size(), d.size());
      for (double t : {0.5, 100.0, 0.0, 1.7}) {
        const double r = list.goto_time(t);
        EXPECT_TRUE(std::isfinite(r));
      }
      all_frames(&list);
    }
  }
}

// DVD LPCM of more than two channels is refused, never handed out as
// 16-bit stereo noise.
TEST(DAList, MultichannelLpcmIsRefused) {
  const std::string vob = tsupport::temp_dir() + "/l6.vob";
  ASSERT_EQ(tsupport::run("ffmpeg -nostdin -v error -y -f lavfi -i sine=f=440:r=48000:d=0.5 -f lavfi -i "
                          "testsrc=size=176x144:rate=25:duration=0.5 -map 1:v -map 0:a -ac 6 -c:v mpeg2video "
                          "-c:a pcm_dvd -f dvd " +
                          sh_quote(vob)),
            0);
  DAList list;
  EXPECT_EQ(list.init(vob.c_str(), 0xA0, 0), 1);
  EXPECT_EQ(list.next_frame(nullptr, 0), 0);
}

// The subcommand: the facts line, a seek line per time, and the frames
// written out are ffmpeg's copy of the stream.
TEST(DAList, AlistCommand) {
  const std::string file = fixture("ps_dvd.vob");
  const std::string out = tsupport::temp_dir() + "/frames.ac3";
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("alist " + sh_quote(file) + " --id 0x80 --seek 1.0 2.5 --frames " + sh_quote(out), &lines),
            0);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("alist kind=ac3 id=128 pid=0 layer=0 sample_rate=48000 channels=2 bit_rate=", 0), 0u)
      << lines[0];
  EXPECT_EQ(tsupport::field(lines[0], "frame_period"), "0.032000");
  EXPECT_NEAR(std::stod(tsupport::field(lines[0], "length")), 6.0, 0.1);
  EXPECT_EQ(lines[1], "seek want=1.000000 reached=0.992000");
  EXPECT_EQ(lines[2].rfind("seek want=2.500000 reached=2.496000", 0), 0u) << lines[2];
  const std::vector<uint8_t> want = ffmpeg_copy(file, "0:i:0x80", "ac3");
  EXPECT_EQ(lines[3], "frames count=" + std::to_string(want.size() / 768) + " bytes=" + std::to_string(want.size()));
  EXPECT_TRUE(tsupport::read_file(out) == want);
  EXPECT_EQ(tsupport::dev("alist " + sh_quote(file) + " --seek", &lines), 2);
  EXPECT_EQ(tsupport::dev("alist " + sh_quote(fixture("ps_v.m2v")), &lines), 1);
}

}  // namespace

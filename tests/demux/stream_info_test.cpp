// The time-stamp scan and the cached stream information of a file, against
// ffprobe, on program streams made with ffmpeg here: two recordings joined
// with cat (clock restart, picture size and audio rate change), a DVD file
// with MP2 and AC-3, a two-program transport stream and a video stream.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "demux/demuxer_cache.h"
#include "demux/program.h"
#include "demux/timestamp_scan.h"
#include "engine/clips/file_info.h"
#include "support/support.h"

namespace {

using namespace tsupport;

std::string q(const std::string& s) { return sh_quote(s); }

std::string lavfi(const std::string& size, int rate, double seconds) {
  const std::string d = std::to_string(seconds);
  return " -f lavfi -i testsrc=size=" + size + ":rate=25:duration=" + d + " -f lavfi -i sine=frequency=440:sample_rate=" +
         std::to_string(rate) + ":duration=" + d;
}

// a.vob (720x576, MP2 48 kHz) and b.vob (352x288, MP2 44.1 kHz) joined.
const std::string& joined(uint64_t* join = nullptr) {
  static std::string path;
  static uint64_t at = 0;
  if (path.empty()) {
    const std::string dir = temp_dir();
    const std::string a = dir + "/a.vob", b = dir + "/b.vob";
    const std::string enc = " -c:v mpeg2video -b:v 3M -g 12 -c:a mp2 -b:a 192k -threads 1 -f vob ";
    EXPECT_EQ(run("ffmpeg -nostdin -v error -y" + lavfi("720x576", 48000, 2) + enc + q(a)), 0);
    EXPECT_EQ(run("ffmpeg -nostdin -v error -y" + lavfi("352x288", 44100, 2) + enc + q(b)), 0);
    path = dir + "/ab.vob";
    EXPECT_EQ(run("cat " + q(a) + " " + q(b) + " > " + q(path)), 0);
    at = read_file(a).size();
  }
  if (join) *join = at;
  return path;
}

std::vector<std::string> lines_of(const std::vector<std::string>& all, const std::string& kind) {
  std::vector<std::string> r;
  for (const auto& l : all)
    if (l.rfind(kind + " ", 0) == 0) r.push_back(l);
  return r;
}

TEST(TimeStampScan, JoinedRecordingsShowTheClockRestartAndBothChanges) {
  if (!have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  uint64_t join = 0;
  const std::string file = joined(&join);
  const auto size = (long long)read_file(file).size();
  std::vector<std::string> out;
  ASSERT_EQ(dev("tsscan " + q(file), &out), 0);
  const auto tb = lines_of(out, "timebase"), video = lines_of(out, "video"), audio = lines_of(out, "audio");
  ASSERT_EQ(tb.size(), 2u);
  EXPECT_EQ(field_int(tb[0], "start"), 0);
  EXPECT_LE(std::llabs(field_int(tb[1], "start") - (long long)join), 2048);
  EXPECT_EQ(field_int(tb[0], "end"), field_int(tb[1], "start"));
  EXPECT_EQ(field_int(tb[1], "end"), size);
  EXPECT_GT(field_int(tb[0], "clock_end"), field_int(tb[1], "clock_start"));
  ASSERT_EQ(video.size(), 2u);
  EXPECT_EQ(field_int(video[0], "width"), 720);
  EXPECT_EQ(field_int(video[1], "width"), 352);
  EXPECT_EQ(field_int(video[1], "height"), 288);
  EXPECT_GE(field_int(video[1], "start"), (long long)join - 2048);
  ASSERT_EQ(audio.size(), 2u);
  EXPECT_EQ(field_int(audio[0], "rate"), 48000);
  EXPECT_EQ(field_int(audio[1], "rate"), 44100);
  EXPECT_EQ(field_int(audio[1], "type"), 1);
  EXPECT_GE(field_int(audio[1], "start"), (long long)join - 4096);
  EXPECT_EQ(out.back(), "tsscan changes=3 status=finished progress=100.0");

  // Stopped half-way: below 100 %, and the last entries are still open.
  ASSERT_EQ(dev("tsscan " + q(file) + " --stop-at 50", &out), 0);
  EXPECT_EQ(field(out.back(), "status"), "stopped");
  EXPECT_LT(std::stod(field(out.back(), "progress")), 100.0);
  for (const auto& l : out)
    if (l.rfind("tsscan", 0) != 0) EXPECT_NE(field_int(l, "end"), size) << l;
}

TEST(TimeStampScan, PauseWaitsStopResumesAndUnknownListsAreEmpty) {
  if (!have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const std::string file = joined();
  TimeStampScan whole;
  ASSERT_EQ(whole.open(file.c_str()), 0);
  const int expected = whole.scan(nullptr);
  EXPECT_EQ(expected, 3);
  TimeStampEntry dummy;
  const TimeStampEntry* list = &dummy;
  EXPECT_EQ(whole.get_list(4, &list), 0);
  EXPECT_EQ(list, nullptr);

  int sleeps = 0, finished = 0;
  double paused_at = -1.0;
  TimeStampScan s;
  ASSERT_EQ(s.open(file.c_str()), 0);
  JobControl st;
  st.set_progress_callback([&](double p) {
    if (p > 20.0 && paused_at < 0) {
      paused_at = p;
      st.set_command(JobControl::from_scan_bits(8));
    } else if (p > 40.0) {
      st.set_command(JobControl::from_scan_bits(0x10));
    }
  });
  // Three waits of a second, the progress standing still, then on.
  st.set_sleep([&](int ms) {
    EXPECT_EQ(ms, 1000);
    EXPECT_EQ(st.progress(), paused_at);
    if (++sleeps == 3) st.resume();
  });
  const int partial = s.scan(&st);
  EXPECT_EQ(sleeps, 3);
  EXPECT_FALSE(s.done());
  EXPECT_LT(st.progress(), 100.0);
  EXPECT_EQ(st.outcome(), JobOutcome::stopped);
  EXPECT_LE(partial, expected);
  // Going on from the stop gives the lists of one whole walk.
  st.reset();
  st.set_progress_callback([&](double p) { finished += p == 100.0; });
  EXPECT_EQ(s.scan(&st), expected);
  EXPECT_TRUE(s.done());
  EXPECT_EQ(st.progress(), 100.0);
  EXPECT_EQ(st.outcome(), JobOutcome::done);
  EXPECT_EQ(finished, 1);
  for (int kind = 1; kind <= 3; ++kind) {
    const TimeStampEntry *a = nullptr, *b = nullptr;
    const int n = whole.get_list(kind, &a);
    ASSERT_EQ(s.get_list(kind, &b), n);
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(a[i].start, b[i].start) << kind << " " << i;
      EXPECT_EQ(a[i].end, b[i].end) << kind << " " << i;
    }
  }
}

TEST(ProgramCutoff, CountsClockFallsAndEndsOnShortFiles) {
  if (!have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  uint64_t join = 0;
  const std::string file = joined(&join);
  std::unique_ptr<DeMuxer> d(demuxer_create(file.c_str(), 0));
  auto* ps = dynamic_cast<DeMuxerProgram*>(d.get());
  ASSERT_NE(ps, nullptr);
  EXPECT_EQ(ps->check_cutoff(8), 1);
  EXPECT_EQ(ps->check_cutoff(0), 0);
  // Fewer bytes than eight packs: every pack is a sample, and the count ends.
  const auto all = read_file(file);
  const std::string small = temp_dir() + "/small.vob";
  write_file(small, std::vector<uint8_t>(all.begin(), all.begin() + 7 * 2048));
  std::unique_ptr<DeMuxer> s(demuxer_create(small.c_str(), 0));
  auto* sp = dynamic_cast<DeMuxerProgram*>(s.get());
  ASSERT_NE(sp, nullptr);
  EXPECT_EQ(sp->check_cutoff(8), 0);
  // The join's first pack restarts the clock: inside a short piece too.
  const std::string around = temp_dir() + "/around.vob";
  const size_t from = size_t(join) - 4 * 2048;
  write_file(around, std::vector<uint8_t>(all.begin() + long(from), all.begin() + long(from) + 7 * 2048));
  std::unique_ptr<DeMuxer> a(demuxer_create(around.c_str(), 0));
  auto* ap = dynamic_cast<DeMuxerProgram*>(a.get());
  ASSERT_NE(ap, nullptr);
  EXPECT_EQ(ap->check_cutoff(8), 1);
}

// ffprobe's streams: id -> key=value map.
std::map<std::string, std::map<std::string, std::string>> probe_streams(const std::string& file) {
  std::string out;
  EXPECT_EQ(run("ffprobe -v error -show_entries stream=id,codec_type,width,height,sample_rate,channels,bit_rate,duration"
                " -of compact=p=0:nk=0 " +
                    q(file),
                &out),
            0);
  std::map<std::string, std::map<std::string, std::string>> r;
  for (const auto& l : split_lines(out)) {
    std::map<std::string, std::string> m;
    size_t p = 0;
    while (p < l.size()) {
      size_t e = l.find('|', p);
      if (e == std::string::npos) e = l.size();
      const std::string kv = l.substr(p, e - p);
      const size_t eq = kv.find('=');
      if (eq != std::string::npos) m[kv.substr(0, eq)] = kv.substr(eq + 1);
      p = e + 1;
    }
    if (m["codec_type"].empty()) continue;
    // Elementary streams have no id: by their place.
    r[m["id"].empty() || m["id"] == "N/A" ? "#" + std::to_string(r.size()) : m["id"]] = m;
  }
  return r;
}

// "0x1e0" or "0x80" as ffprobe names program-stream streams; PIDs for
// transport streams.
std::string probe_id(const std::string& line, bool transport, bool elementary) {
  char b[32];
  if (elementary) return "#" + field(line, "index");
  if (transport) {
    std::snprintf(b, sizeof b, "0x%llx", (unsigned long long)field_int(line, "pid"));
    return b;
  }
  const long long id = std::stoll(field(line, "id"), nullptr, 16);
  std::snprintf(b, sizeof b, "0x%llx", id >= 0xC0 ? 0x100 + id : id);
  return b;
}

void expect_like_ffprobe(const std::string& file, bool transport, bool elementary, int videos, int audios) {
  std::vector<std::string> out;
  ASSERT_EQ(dev("file-info " + q(file), &out), 0) << file;
  const auto probe = probe_streams(file);
  const auto v = lines_of(out, "video"), a = lines_of(out, "audio");
  ASSERT_EQ(int(v.size()), videos) << file;
  ASSERT_EQ(int(a.size()), audios) << file;
  for (const auto& l : v) {
    const auto it = probe.find(probe_id(l, transport, elementary));
    ASSERT_NE(it, probe.end()) << l;
    auto m = it->second;
    EXPECT_EQ(field(l, "width"), m["width"]) << l;
    EXPECT_EQ(field(l, "height"), m["height"]) << l;
    if (!m["duration"].empty() && m["duration"] != "N/A")
      EXPECT_NEAR(std::stod(field(l, "length")), std::stod(m["duration"]), 0.041) << l;
  }
  for (const auto& l : a) {
    const auto it = probe.find(probe_id(l, transport, elementary));
    ASSERT_NE(it, probe.end()) << l;
    auto m = it->second;
    EXPECT_EQ(field(l, "rate"), m["sample_rate"]) << l;
    EXPECT_EQ(field(l, "channels"), m["channels"]) << l;
    if (!m["bit_rate"].empty() && m["bit_rate"] != "N/A") EXPECT_EQ(field(l, "bit_rate"), m["bit_rate"]) << l;
    if (!m["duration"].empty() && m["duration"] != "N/A")
      EXPECT_NEAR(std::stod(field(l, "length")), std::stod(m["duration"]), 0.1) << l;
  }
}

TEST(FileInfo, MatchesFfprobeForProgramTransportAndVideoStreams) {
  if (!have_program("ffmpeg") || !have_program("ffprobe")) GTEST_SKIP() << "ffmpeg missing";
  const std::string dir = temp_dir();
  const std::string src = " -f lavfi -i testsrc=size=720x576:rate=25:duration=2 -f lavfi -i "
                          "sine=frequency=440:sample_rate=48000:duration=2 ";
  const std::string dvd = dir + "/d.vob", ts = dir + "/p.ts", es = dir + "/v.m2v";
  ASSERT_EQ(run("ffmpeg -nostdin -v error -y" + src +
                "-map 0:v -map 1:a -map 1:a -c:v mpeg2video -b:v 3M -g 12 -c:a:0 mp2 -b:a:0 192k -c:a:1 ac3 -b:a:1 "
                "448k -threads 1 -f dvd " +
                q(dvd)),
            0);
  ASSERT_EQ(run("ffmpeg -nostdin -v error -y" + src +
                "-map 0:v -map 1:a -map 0:v -map 1:a -c:v mpeg2video -b:v 2M -g 12 -c:a mp2 -b:a 128k -threads 1 "
                "-program title=A:st=0:st=1 -program title=B:st=2:st=3 -f mpegts " +
                q(ts)),
            0);
  ASSERT_EQ(run("ffmpeg -nostdin -v error -y" + src + "-map 0:v -c:v mpeg2video -b:v 2M -g 12 -threads 1 " + q(es)), 0);
  expect_like_ffprobe(dvd, false, false, 1, 2);
  expect_like_ffprobe(es, false, true, 1, 0);

  // The selected program's PMT PID, its audio first.
  std::vector<std::string> out;
  ASSERT_EQ(dev("file-info " + q(ts), &out), 0);
  std::string probe;
  ASSERT_EQ(run("ffprobe -v error -show_entries program=pmt_pid -of csv=p=0 " + q(ts), &probe), 0);
  const auto pmts = split_lines(probe);
  ASSERT_FALSE(out.empty());
  bool known = false;
  for (const auto& p : pmts)
    if (!p.empty() && std::stoll(p) == field_int(out[0], "pmt_pid")) known = true;
  EXPECT_TRUE(known) << out[0];
  EXPECT_EQ(field_int(out[0], "type"), 8);

  // Picture size and audio rate change inside the joined file.
  ASSERT_EQ(dev("file-info " + q(joined()), &out), 0);
  EXPECT_GE(field_int(out[0], "changes"), 1) << out[0];
}

TEST(FileInfo, CacheAnswersAnUnchangedFileAndRebuildsATouchedOne) {
  if (!have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const std::string file = joined();
  MpegFileInfoCache& cache = FileInfoFacade::cache();
  FileInfoFacade f;
  ASSERT_EQ(f.open(file.c_str()), 0);
  const long built = cache.builds();
  FileInfoFacade g;
  ASSERT_EQ(g.open(file.c_str()), 0);
  EXPECT_EQ(cache.builds(), built);
  int n = 0;
  ASSERT_NE(g.get_video_infos(&n), nullptr);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(g.get_video_infos(&n)[0].width, 720);
  // A new modification time (same size and name) builds a new entry.
  struct timespec times[2] = {{0, UTIME_OMIT}, {1234567, 890}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  ASSERT_EQ(g.open(file.c_str()), 0);
  EXPECT_EQ(cache.builds(), built + 1);
  // Movie files of other kinds are refused without a look at the disk.
  EXPECT_EQ(g.open("/no/such/movie.AVI"), 1);
  EXPECT_EQ(g.get_video_infos(&n)[0].width, 720);
  g.close();
  EXPECT_EQ(g.get_video_infos(&n), nullptr);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(g.get_stream_info_total(), 0);
}

TEST(FileInfo, SmallHelpers) {
  set_still_image_duration(0);
  set_still_image_duration(86400);
  EXPECT_EQ(get_still_image_duration(), 5.0);
  set_still_image_duration(86399.5);
  EXPECT_EQ(get_still_image_duration(), 86399.5);
  set_still_image_duration(5.0);
  EXPECT_EQ(is_non_mpeg_movie_file("a.Mp4"), 1);
  EXPECT_EQ(is_non_mpeg_movie_file("a.mpg"), 0);
  EXPECT_EQ(differs_by_more_than_2(5, 3), 0);
  EXPECT_EQ(differs_by_more_than_2(6, 3), 1);
  EXPECT_EQ(differs_by_more_than_2(INT32_MIN, INT32_MAX), 1);
}

}  // namespace

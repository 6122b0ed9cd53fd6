// Program streams made by ffmpeg from known elementary streams: the streams
// found, every GOP and its bytes against the elementary stream, GOP time
// stamps and audio spans against ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "demux/demuxer_cache.h"
#include "demux/goplist.h"
#include "demux/program.h"
#include "foundation/audio_header.h"
#include "support/support.h"

namespace {

using namespace tsupport;

// ffprobe's key=value records, one map per line.
std::vector<std::map<std::string, std::string>> probe(const std::string& args) {
  std::string out;
  run("ffprobe -v error " + args + " -of compact=p=0 2>/dev/null", &out);
  std::vector<std::map<std::string, std::string>> rows;
  for (const std::string& line : split_lines(out)) {
    if (line.empty()) continue;
    std::map<std::string, std::string> m;
    size_t p = 0;
    while (p < line.size()) {
      size_t bar = line.find('|', p);
      if (bar == std::string::npos) bar = line.size();
      const std::string kv = line.substr(p, bar - p);
      const size_t eq = kv.find('=');
      if (eq != std::string::npos) m[kv.substr(0, eq)] = kv.substr(eq + 1);
      p = bar + 1;
    }
    rows.push_back(m);
  }
  return rows;
}

struct Stream {
  int id, kind, rate, channels;
  bool operator==(const Stream& o) const {
    return id == o.id && kind == o.kind && rate == o.rate && channels == o.channels;
  }
};

std::string text(const std::vector<Stream>& v) {
  std::string s;
  for (const Stream& x : v)
    s += std::to_string(x.id) + "/" + std::to_string(x.kind) + "/" + std::to_string(x.rate) + "/" +
         std::to_string(x.channels) + " ";
  return s;
}

int kind_of(const std::string& codec) {
  if (codec == "mpeg2video") return ES_KIND_MPEG2_VIDEO;
  if (codec == "mpeg1video") return ES_KIND_MPEG1_VIDEO;
  if (codec == "mp2" || codec == "mp3") return ES_KIND_MPEG_AUDIO;
  if (codec == "ac3") return ES_KIND_AC3;
  if (codec == "pcm_dvd") return ES_KIND_LPCM;
  return 0;
}

std::vector<Stream> ffprobe_streams(const std::string& file) {
  std::vector<Stream> v;
  for (auto& m : probe("-show_entries stream=id,codec_name,sample_rate,channels " + sh_quote(file))) {
    const int kind = kind_of(m["codec_name"]);
    if (!kind) continue;
    int id = int(std::stol(m["id"], nullptr, 16));
    if (id > 0xFF) id &= 0xFF;
    const bool audio = kind == ES_KIND_MPEG_AUDIO || kind == ES_KIND_AC3 || kind == ES_KIND_LPCM;
    v.push_back({id, kind, audio ? std::stoi(m["sample_rate"]) : 0, audio ? std::stoi(m["channels"]) : 0});
  }
  std::sort(v.begin(), v.end(), [](const Stream& a, const Stream& b) { return a.id < b.id; });
  return v;
}

std::vector<Stream> our_streams(DeMuxer* d) {
  std::vector<Stream> v;
  int n = 0;
  const ESData* es = d->get_es_data(&n);
  for (int i = 0; i < n; ++i) {
    const bool audio = es[i].is_audio();
    v.push_back({es[i].stream_id, es[i].kind, audio ? es[i].sample_rate : 0, audio ? es[i].get_channel_count() : 0});
  }
  std::sort(v.begin(), v.end(), [](const Stream& a, const Stream& b) { return a.id < b.id; });
  return v;
}

TEST(ProgramStream, StreamsEqualFfprobe) {
  for (const char* name : {"ps_vob.vob", "ps_dvd.vob", "ps_ac3x2.vob", "ps_m1.mpg", "ps_svcd.mpg", "ps_vcd.mpg"}) {
    const std::string file = fixture(name);
    std::unique_ptr<DeMuxer> d(demuxer_create(file.c_str(), 0));
    ASSERT_TRUE(d) << name;
    const auto want = ffprobe_streams(file);
    const auto got = our_streams(d.get());
    EXPECT_EQ(got, want) << name << ": " << text(got) << " vs " << text(want);
  }
}

TEST(ProgramStream, RawCdSectorsListTheStreamsOfTheFileItself) {
  std::unique_ptr<DeMuxer> a(demuxer_create(fixture("ps_vcd.mpg").c_str(), 0));
  std::unique_ptr<DeMuxer> b(demuxer_create(fixture("ps_vcd_raw.bin").c_str(), 0));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(our_streams(b.get()), our_streams(a.get()));
}

TEST(ProgramStream, DefaultAudioIsTheLowestAc3SubStream) {
  std::unique_ptr<DeMuxer> d(demuxer_create(fixture("ps_ac3x2.vob").c_str(), 0));
  ASSERT_TRUE(d);
  EXPECT_EQ(d->get_audio_selection(nullptr), 0x80);
}

struct GopRow {
  int first_field, fields, pictures;
  std::string types;
  uint32_t tc;
  std::vector<uint8_t> bytes;
  double pts;
};

std::vector<GopRow> walk(const std::string& file) {
  std::vector<GopRow> rows;
  GOPList list(file.c_str());
  EXPECT_TRUE(list.is_open()) << file;
  if (!list.is_open() || list.build_index()) return rows;
  GOP g;
  for (int n = list.get_first_gop(&g, 0); n > 0; n = list.next_gop(&g, 0)) {
    GopRow r{g.first_field, g.total_fields, g.pic_count, "", g.time_code, {}, g.pts};
    for (int i = 0; i < g.pic_count; ++i) r.types += "?IPB"[g.get_pic_type(i) & 3];
    GOP c;
    c = g;
    if (list.copy_gop(&c, 1) > 0) r.bytes.assign(c.data, c.data + c.valid_bytes());
    rows.push_back(std::move(r));
    if (rows.size() > 10000) break;
  }
  return rows;
}

TEST(ProgramStream, GopsAndTheirBytesEqualTheElementaryStream) {
  const std::pair<const char*, const char*> pairs[] = {
      {"ps_vob.vob", "ps_v.m2v"},       {"ps_dvd.vob", "ps_v.m2v"},         {"ps_m1.mpg", "ps_m1_v.m1v"},
      {"ps_svcd.mpg", "ps_svcd_v.m2v"}, {"ps_vcd.mpg", "ps_vcd_v.m1v"}, {"ps_vcd_raw.bin", "ps_vcd_v.m1v"},
  };
  for (auto [ps, es] : pairs) {
    const auto a = walk(fixture(ps));
    const auto b = walk(fixture(es));
    ASSERT_EQ(a.size(), b.size()) << ps;
    ASSERT_GT(a.size(), 5u) << ps;
    for (size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i].first_field, b[i].first_field) << ps << " gop " << i;
      EXPECT_EQ(a[i].fields, b[i].fields) << ps << " gop " << i;
      EXPECT_EQ(a[i].pictures, b[i].pictures) << ps << " gop " << i;
      EXPECT_EQ(a[i].types, b[i].types) << ps << " gop " << i;
      EXPECT_EQ(a[i].tc, b[i].tc) << ps << " gop " << i;
      EXPECT_TRUE(a[i].bytes == b[i].bytes) << ps << " gop " << i << ": " << a[i].bytes.size() << " vs "
                                            << b[i].bytes.size() << " bytes";
    }
  }
}

// Presentation times of the video frames in display order.
std::vector<long long> ffprobe_video_pts(const std::string& file) {
  std::vector<long long> v;
  // Frames whose packet had no time stamp get ffmpeg's guess, which for
  // these constant-rate files is exact.
  for (auto& m : probe("-select_streams v -show_entries frame=best_effort_timestamp " + sh_quote(file)))
    if (m.count("best_effort_timestamp") && m["best_effort_timestamp"] != "N/A")
      v.push_back(std::stoll(m["best_effort_timestamp"]));
  std::sort(v.begin(), v.end());
  return v;
}

TEST(ProgramStream, GopTimeIsThatOfItsFirstDisplayedFrame) {
  for (const char* name : {"ps_vob.vob", "ps_dvd.vob", "ps_m1.mpg", "ps_svcd.mpg", "ps_vcd.mpg"}) {
    const std::string file = fixture(name);
    const auto pts = ffprobe_video_pts(file);
    ASSERT_FALSE(pts.empty()) << name;
    // The index keeps times from its first GOP on; the demultiplexer's own
    // parse gives the absolute time.
    std::unique_ptr<DeMuxer> d(demuxer_create(file.c_str(), 0));
    ASSERT_TRUE(d);
    GOP g;
    d->goto_offset(FileOffset(0u));
    ASSERT_GT(d->parse_gop(&g, 0, 0, 0), 0);
    EXPECT_DOUBLE_EQ(g.pts, double(pts[0])) << name;
    const auto rows = walk(file);
    for (const GopRow& r : rows) {
      const size_t frame = size_t((r.first_field + 1) / 2);
      ASSERT_LT(frame, pts.size()) << name;
      EXPECT_NEAR(r.pts, double(pts[frame] - pts[0]), 1.0) << name << " frame " << frame;
    }
  }
}

// Audio frames of one stream: (pts, file position of the packet).
std::vector<std::pair<long long, long long>> ffprobe_audio(const std::string& file, int index) {
  std::vector<std::pair<long long, long long>> v;
  for (auto& m : probe("-select_streams a:" + std::to_string(index) + " -show_entries packet=pts,pos " + sh_quote(file)))
    if (m.count("pts") && m["pts"] != "N/A" && m.count("pos") && m["pos"] != "N/A")
      v.push_back({std::stoll(m["pts"]), std::stoll(m["pos"])});
  return v;
}

TEST(ProgramStream, AudioSpanTimeAtRandomOffsets) {
  const std::string file = fixture("ps_dvd.vob");
  struct Key {
    int id, index;
  };
  for (Key k : {Key{0x80, 0}, Key{0xC0, 1}}) {
    const auto frames = ffprobe_audio(file, k.index);
    ASSERT_GT(frames.size(), 20u);
    std::unique_ptr<DeMuxer> d(demuxer_create(file.c_str(), 0));
    ASSERT_TRUE(d);
    std::mt19937 rng(7);
    for (int i = 0; i < 20; ++i) {
      const uint64_t at = rng() % uint64_t(d->get_file_size().value() * 9 / 10);
      ESBuffer s(16384);
      s.start = FileOffset::from_u64(at);
      s.stream_id = k.id;
      const double t = d->load_abs(&s, 0, 0);
      // ffprobe's first frame of the stream whose packet lies at or after
      // the span's start.
      long long want = -1;
      for (auto& f : frames)
        if (uint64_t(f.second) >= s.start.value()) {
          want = f.first;
          break;
        }
      if (want < 0) continue;
      EXPECT_NEAR(t, double(want), 1.0) << std::hex << k.id << std::dec << " at " << at << " start "
                                        << s.start.value();
    }
  }
}

}  // namespace

namespace {

double start_time(const std::string& file, const std::string& sel) {
  auto rows = probe("-select_streams " + sel + " -show_entries stream=start_time " + sh_quote(file));
  return rows.empty() ? 0.0 : std::stod(rows[0]["start_time"]);
}

std::vector<uint8_t> ffmpeg_copy(const std::string& file, const std::string& map, const std::string& format) {
  const std::string out = temp_dir() + "/ff." + format;
  EXPECT_EQ(run("ffmpeg -nostdin -v error -y -i " + sh_quote(file) + " -map " + map + " -c copy -f " + format + " " +
                sh_quote(out)),
            0);
  return read_file(out);
}

// The records of a file, with outputs named by key in dir.
std::vector<ESData> records_into(DeMuxer* d, const std::string& dir) {
  int n = 0;
  const ESData* es = d->get_es_data(&n);
  std::vector<ESData> r(es, es + n);
  for (ESData& x : r) {
    char name[32];
    const char* ext = x.is_video() ? "m2v" : x.ac3 ? "ac3" : x.lpcm ? "wav" : "mp2";
    std::snprintf(name, sizeof name, "%02x.%s", x.stream_id, ext);
    x.set_name((dir + "/" + name).c_str());
  }
  return r;
}

TEST(ProgramDemux, StreamsEqualFfmpegCopiesAfterTheStartAlignment) {
  const std::string file = fixture("ps_dvd.vob");
  std::unique_ptr<DeMuxer> d(demuxer_create(file.c_str(), 0));
  ASSERT_TRUE(d);
  const std::string dir = temp_dir();
  auto r = records_into(d.get(), dir);
  JobControl st;
  const double bytes = d->demuxer(int(r.size()), r.data(), &st);
  ASSERT_GT(bytes, 0);
  EXPECT_DOUBLE_EQ(st.progress(), 100.0);
  EXPECT_EQ(st.outcome(), JobOutcome::done);
  // Video: the elementary stream, plus an end code where it lacks one.
  auto v = read_file(dir + "/e0.m2v");
  auto want_v = read_file(fixture("ps_v.m2v"));
  const uint8_t end_code[4] = {0, 0, 1, 0xB7};
  if (want_v.size() < 4 || std::memcmp(want_v.data() + want_v.size() - 4, end_code, 4) != 0)
    want_v.insert(want_v.end(), end_code, end_code + 4);
  EXPECT_TRUE(v == want_v) << v.size() << " vs " << want_v.size();
  const double video_start = start_time(file, "v");
  struct Audio {
    const char* out;
    const char* map;
    const char* format;
    double frame_seconds;
  };
  for (Audio a : {Audio{"80.ac3", "0:a:0", "ac3", 1536 / 48000.0}, Audio{"c0.mp2", "0:a:1", "mp2", 1152 / 48000.0}}) {
    const auto got = read_file(dir + "/" + a.out);
    const auto ff = ffmpeg_copy(file, a.map, a.format);
    ASSERT_GT(ff.size(), 1000u) << a.out;
    const double audio_start = start_time(file, std::string("a:") + (a.map + 4));
    const int align = int((video_start - audio_start) / a.frame_seconds);
    ASSERT_GE(align, 0) << a.out;
    // Frames of these streams all have one size.
    const size_t frame = ff.size() / size_t(std::lround(6.0 / a.frame_seconds));
    ASSERT_GT(frame, 0u);
    const size_t cut = ff.size() - got.size();
    EXPECT_EQ(cut % frame, 0u) << a.out;
    EXPECT_EQ(int(cut / frame), align) << a.out;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), ff.begin() + long(cut))) << a.out;
  }
  // LPCM as 16-bit little-endian WAVE data.
  const auto wav = read_file(dir + "/a0.wav");
  const std::string raw = temp_dir() + "/a0.raw";
  ASSERT_EQ(run("ffmpeg -nostdin -v error -y -i " + sh_quote(file) + " -map 0:a:2 -f s16le " + sh_quote(raw)), 0);
  const auto pcm = read_file(raw);
  ASSERT_GT(wav.size(), 44u);
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(wav[22] | wav[23] << 8, 2);                                    // channels
  EXPECT_EQ(wav[24] | wav[25] << 8 | wav[26] << 16 | wav[27] << 24, 48000);  // rate
  EXPECT_EQ(wav[34] | wav[35] << 8, 16);                                   // bits
  std::vector<uint8_t> data(wav.begin() + 44, wav.end());
  EXPECT_TRUE(data == pcm) << data.size() << " vs " << pcm.size();
}

TEST(ProgramDemux, StopDeletesOrKeepsAndFullDiskFails) {
  const std::string file = fixture("ps_dvd.vob");
  struct Case {
    int command;
    bool files_left;
    double result_sign;
  };
  for (Case c : {Case{-1, false, 1}, Case{-2, true, 1}}) {
    std::unique_ptr<DeMuxer> d(demuxer_create(file.c_str(), 0));
    ASSERT_TRUE(d);
    const std::string dir = temp_dir() + "/stop" + std::to_string(-c.command);
    ASSERT_EQ(run("mkdir -p " + sh_quote(dir)), 0);
    auto r = records_into(d.get(), dir);
    JobControl st;
    st.set_command_word(c.command);
    d->demuxer(int(r.size()), r.data(), &st);
    // A stopped job still ends its progress: the tool closes on 100.
    EXPECT_DOUBLE_EQ(st.progress(), 100.0);
    EXPECT_EQ(st.outcome(), JobOutcome::stopped);
    for (const ESData& x : r) {
      std::string out;
      const bool exists = run("test -e " + sh_quote(x.get_name())) == 0;
      EXPECT_EQ(exists, c.files_left) << x.get_name() << " after " << c.command;
    }
  }
  // A disk that fills up: the job fails and leaves no partial outputs.
  std::unique_ptr<DeMuxer> d(demuxer_create(file.c_str(), 0));
  ASSERT_TRUE(d);
  const std::string dir = temp_dir() + "/full";
  ASSERT_EQ(run("mkdir -p " + sh_quote(dir) + " && ln -s /dev/full " + sh_quote(dir + "/80.ac3")), 0);
  auto r = records_into(d.get(), dir);
  JobControl st;
  DemuxReport report;
  EXPECT_LT(d->demuxer(int(r.size()), r.data(), &st, &report), 0.0);
  EXPECT_EQ(st.outcome(), JobOutcome::failed);
  EXPECT_EQ(report.failed_output, dir + "/80.ac3");
  EXPECT_EQ(st.message(), "<" + dir + "/80.ac3>: cannot write");
  EXPECT_NE(run("test -e " + sh_quote(dir + "/e0.m2v")), 0);
  EXPECT_EQ(run("test -c /dev/full"), 0);
}

TEST(ProgramDemux, OutputThatIsTheInputIsRefused) {
  const std::string dir = temp_dir();
  const std::string copy = dir + "/in.vob";
  ASSERT_EQ(run("cp " + sh_quote(fixture("ps_vob.vob")) + " " + sh_quote(copy)), 0);
  std::unique_ptr<DeMuxer> d(demuxer_create(copy.c_str(), 0));
  ASSERT_TRUE(d);
  auto r = records_into(d.get(), dir);
  r[0].set_name(copy.c_str());
  EXPECT_LT(d->demuxer(int(r.size()), r.data(), nullptr), 0.0);
  EXPECT_EQ(read_file(copy), read_file(fixture("ps_vob.vob")));
}

}  // namespace

namespace {

DeMuxerProgram* as_program(DeMuxer* d) { return dynamic_cast<DeMuxerProgram*>(d); }

double duration(const std::string& file) {
  auto rows = probe("-show_entries format=duration " + sh_quote(file));
  return rows.empty() ? 0.0 : std::stod(rows[0]["duration"]);
}

int frame_count(const std::string& file) {
  auto rows = probe("-count_frames -select_streams v -show_entries stream=nb_read_frames " + sh_quote(file));
  return rows.empty() ? 0 : std::stoi(rows[0]["nb_read_frames"]);
}

// Each GOP's time is the one before it plus its pictures.
void expect_continuous(const std::vector<GopRow>& rows, double frame_rate, const std::string& what) {
  for (size_t i = 1; i < rows.size(); ++i)
    EXPECT_NEAR(rows[i].pts, rows[i - 1].pts + rows[i - 1].fields * 45000.0 / frame_rate, 1.0)
        << what << " gop " << i;
}

TEST(ProgramSegments, DvdTitleOfTwoCellsIsOneTimeLine) {
  const std::string title = fixture("ps_title/VIDEO_TS/VTS_01_1.VOB");
  const std::string t1 = fixture("ps_t1.mpg"), t2 = fixture("ps_t2.mpg");
  std::unique_ptr<DeMuxer> d(demuxer_create(title.c_str(), 0));
  ASSERT_TRUE(d);
  DeMuxerProgram* p = as_program(d.get());
  ASSERT_TRUE(p);
  ASSERT_EQ(p->get_segments().size(), 2u);
  EXPECT_EQ(p->get_segments()[1].start.value(), read_file(t1).size());
  EXPECT_NEAR(d->get_total_length(), duration(t1) + duration(t2), 0.1);
  const auto rows = walk(title);
  int frames = 0;
  for (const GopRow& r : rows) frames += r.fields / 2;
  EXPECT_EQ(frames, frame_count(t1) + frame_count(t2));
  expect_continuous(rows, 25.0, "title");
  // An ffmpeg-only DVD file has zeroed navigation packs: no segments.
  std::unique_ptr<DeMuxer> z(demuxer_create(fixture("ps_dvd.vob").c_str(), 0));
  ASSERT_TRUE(z);
  EXPECT_TRUE(as_program(z.get())->get_segments().empty());
}

TEST(ProgramSegments, DvdTitleShowsTheSecondFileAfterTheFirst) {
  const std::string title = fixture("ps_title/VIDEO_TS/VTS_01_1.VOB");
  const std::string dir = temp_dir();
  const int first = frame_count(fixture("ps_t1.mpg"));
  // Frames of the second file, decoded by ffmpeg.
  ASSERT_EQ(run("ffmpeg -nostdin -v error -y -i " + sh_quote(fixture("ps_t2.mpg")) +
                " -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " + sh_quote(dir + "/t2.yuv")),
            0);
  const auto ref = read_file(dir + "/t2.yuv");
  const size_t frame = 720 * 576 * 3 / 2;
  std::vector<int> want = {0, 1, 2, 14, 30, 60};
  std::string args = "frame " + sh_quote(title);
  for (int k : want) args += " " + std::to_string(first + k);
  args += " --out " + sh_quote(dir + "/ours.yuv");
  std::vector<std::string> lines;
  ASSERT_EQ(dev(args, &lines), 0);
  const auto ours = read_file(dir + "/ours.yuv");
  ASSERT_EQ(ours.size(), want.size() * frame);
  for (size_t i = 0; i < want.size(); ++i) {
    ASSERT_LE(size_t(want[i] + 1) * frame, ref.size());
    EXPECT_GT(psnr(ours.data() + i * frame, ref.data() + size_t(want[i]) * frame, 720 * 576), 40.0)
        << "frame " << first + want[i];
  }
}

TEST(ProgramSegments, RecorderFileOfThreePieces) {
  const std::string rec = fixture("ps_rec.VRO");
  std::unique_ptr<DeMuxer> d(demuxer_create(rec.c_str(), 0));
  ASSERT_TRUE(d);
  const auto& seg = as_program(d.get())->get_segments();
  ASSERT_EQ(seg.size(), 3u);
  const uint64_t join1 = read_file(fixture("ps_rec1.vob")).size();
  const uint64_t join2 = join1 + read_file(fixture("ps_rec2.vob")).size();
  EXPECT_EQ(seg[0].start.value(), 0u);
  EXPECT_LE(seg[1].start.value(), join1 + 4096);
  EXPECT_GE(seg[1].start.value() + 4096, join1);
  EXPECT_LE(seg[2].start.value(), join2 + 4096);
  EXPECT_GE(seg[2].start.value() + 4096, join2);
  double sum = 0;
  int frames = 0;
  for (int i = 1; i <= 3; ++i) {
    sum += duration(fixture("ps_rec" + std::to_string(i) + ".vob"));
    frames += frame_count(fixture("ps_rec" + std::to_string(i) + ".vob"));
  }
  EXPECT_NEAR(d->get_total_length(), sum, 0.1);
  const auto rows = walk(rec);
  int listed = 0;
  for (const GopRow& r : rows) listed += r.fields / 2;
  EXPECT_EQ(listed, frames);
  expect_continuous(rows, 25.0, "recorder");
}

TEST(ProgramSegments, JoinedRecordingGetsItsOffsetThroughTheTimeBaseCheck) {
  const std::string join = fixture("ps_join.mpg");
  std::unique_ptr<DeMuxer> d(demuxer_create(join.c_str(), 0));
  ASSERT_TRUE(d);
  DeMuxerProgram* p = as_program(d.get());
  const uint64_t piece = read_file(fixture("ps_join1.mpg")).size();
  EXPECT_LE(p->get_vro_offset().value(), piece);
  EXPECT_GE(p->get_vro_offset().value() + 4096, piece);
  EXPECT_GT(p->get_vro_delta(), 0.0);
  const auto rows = walk(join);
  expect_continuous(rows, 25.0, "join");
  int frames = 0;
  for (const GopRow& r : rows) frames += r.fields / 2;
  EXPECT_EQ(frames, frame_count(fixture("ps_join1.mpg")) + frame_count(fixture("ps_join2.mpg")));
  // Two pieces of equal length are left alone.
  std::unique_ptr<DeMuxer> e(demuxer_create(fixture("ps_even.mpg").c_str(), 0));
  ASSERT_TRUE(e);
  EXPECT_EQ(as_program(e.get())->get_vro_delta(), 0.0);
  EXPECT_TRUE(as_program(e.get())->get_segments().empty());
}

}  // namespace

namespace {

std::string write_temp(const std::string& name, const std::vector<uint8_t>& b) {
  const std::string path = temp_dir() + "/" + name;
  EXPECT_TRUE(write_file(path, b));
  return path;
}

TEST(ProgramDamage, TruncatedDvdFileListsItsGopsUpToTheCut) {
  auto b = read_file(fixture("ps_dvd.vob"));
  const auto whole = walk(fixture("ps_dvd.vob"));
  ASSERT_GT(whole.size(), 6u);
  b.resize(b.size() / 2 + 1000);  // inside a pack
  const std::string cut = write_temp("cut.vob", b);
  const auto rows = walk(cut);
  ASSERT_GE(rows.size(), whole.size() / 2 - 1);
  // Every GOP but the last is whole and equal; the last is no longer
  // than its whole self and its bytes agree as far as they go.
  for (size_t i = 0; i + 1 < rows.size(); ++i) EXPECT_TRUE(rows[i].bytes == whole[i].bytes) << i;
  const auto& last = rows.back();
  const auto& full = whole[rows.size() - 1];
  ASSERT_LE(last.bytes.size(), full.bytes.size());
  EXPECT_TRUE(std::equal(last.bytes.begin(), last.bytes.end(), full.bytes.begin()));
}

TEST(ProgramDamage, BitFlipsAndJunkNeitherCrashNorStopTheReading) {
  const auto clean = read_file(fixture("ps_dvd.vob"));
  const auto whole = walk(fixture("ps_dvd.vob"));
  std::mt19937 rng(99);
  for (int round = 0; round < 3; ++round) {
    auto b = clean;
    for (int i = 0; i < 40; ++i) b[rng() % b.size()] ^= uint8_t(1u << (rng() % 8));
    // Junk in front and a lying PES length in the middle.
    std::vector<uint8_t> junk(100 + round * 977);
    for (auto& x : junk) x = uint8_t(rng());
    b.insert(b.begin(), junk.begin(), junk.end());
    const size_t mid = b.size() / 2;
    for (size_t i = mid; i + 6 < b.size(); ++i)
      if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xE0) {
        b[i + 4] = 0xFF, b[i + 5] = 0xFF;
        break;
      }
    const std::string path = write_temp("flip" + std::to_string(round) + ".vob", b);
    const auto rows = walk(path);
    // Reading goes on past the damage: most GOPs are still there.
    EXPECT_GE(rows.size() * 10, whole.size() * 7) << round;
    std::unique_ptr<DeMuxer> d(demuxer_create(path.c_str(), 0));
    ASSERT_TRUE(d);
    for (int i = 0; i < 5; ++i) {
      ESBuffer s(16384);
      s.start = FileOffset::from_u64(b.size() * uint64_t(i) / 5);
      s.stream_id = 0x80;
      d->load_abs(&s, 0, 0);
      EXPECT_LE(s.first_frame, s.bytes);
    }
  }
}

// A navigation pack whose entries all say "0 sectors ahead" once made the
// walk stand still; a damaged pack among good ones is stepped over.
TEST(ProgramDamage, ForwardJumpOfZeroAndDamagedNavigationPacks) {
  auto b = read_file(fixture("ps_title/VIDEO_TS/VTS_01_1.VOB"));
  // The first pack's forward entries: video, the 19 jumps and the next unit
  // all valid with offset 0 (bytes from the DSI start code: 241 ... 324).
  size_t dsi = 0;
  for (size_t i = 1000; i + 4 < 2048; ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xBF) {
      dsi = i;
      break;
    }
  ASSERT_GT(dsi, 0u);
  for (size_t k = 241; k < 325; k += 4) b[dsi + k] = 0x80, b[dsi + k + 1] = b[dsi + k + 2] = b[dsi + k + 3] = 0;
  // A later navigation pack with its DSI length destroyed.
  for (size_t at = 2048 * 20; at + 2048 < b.size(); at += 2048)
    if (b[at + 14] == 0 && b[at + 17] == 0xBB) {
      for (size_t i = at + 1000; i + 4 < at + 2048; ++i)
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xBF) {
          b[i + 4] = 0x12;
          break;
        }
      break;
    }
  NV_PCK_Parser nv;
  ASSERT_EQ(nv.decode(b.data(), 2048, FileOffset(0u)), 2048);
  EXPECT_EQ(nv.forward_jump, 0u);
  const std::string path = write_temp("JUMP0.VOB", b);
  std::unique_ptr<DeMuxer> d(demuxer_create(path.c_str(), 0));
  ASSERT_TRUE(d);
  EXPECT_EQ(as_program(d.get())->get_segments().size(), 2u);
  EXPECT_NEAR(d->get_total_length(), duration(fixture("ps_t1.mpg")) + duration(fixture("ps_t2.mpg")), 0.1);
}

// Fault: MPEG-2 headers were decoded with the MPEG-1 rules unless the type
// code was 6. The layout is in the bits.
TEST(ProgramDamage, SvcdTypeCodeReadsMpeg2Layouts) {
  const std::string file = fixture("ps_svcd.mpg");
  int err = 0;
  DeMuxerProgram d(file.c_str(), &err, 7, 2600000);
  ASSERT_EQ(err, 0);
  d.goto_offset(FileOffset(0u));
  GOP g;
  ASSERT_GT(d.parse_gop(&g, 0, 0, 0), 0);
  EXPECT_TRUE(g.has_pts());
  const auto es = walk(fixture("ps_svcd_v.m2v"));
  ASSERT_FALSE(es.empty());
  EXPECT_EQ(g.pic_count, es[0].pictures);
  EXPECT_EQ(g.byte_length, int(es[0].bytes.size()));
}

// Fault: a time-base fall inside an audio span loaded from the start kept
// the time of the discarded bytes.
TEST(ProgramDamage, RestartedAudioSpanTakesTheTimeOfItsNewStart) {
  // Two pieces whose clocks both start at the same time, joined.
  auto b = read_file(fixture("ps_rec1.vob"));
  const auto second = read_file(fixture("ps_rec2.vob"));
  const size_t join = b.size();
  b.insert(b.end(), second.begin(), second.end());
  const std::string path = write_temp("restart.mpg", b);
  std::unique_ptr<DeMuxer> d(demuxer_create(path.c_str(), 0));
  ASSERT_TRUE(d);
  ESBuffer s(1 << 20);
  s.stream_id = 0xC0;
  const double t = d->load_abs(&s, 1 << 20, 0);
  ASSERT_GE(s.start.value(), join);
  // ffprobe's first audio frame of the second piece.
  const auto frames = ffprobe_audio(fixture("ps_rec2.vob"), 0);
  ASSERT_FALSE(frames.empty());
  EXPECT_NEAR(t, double(frames[0].first), 1.0);
  EXPECT_EQ(s.first_frame, 0);
}

// Fault: the first access unit pointer of an AC-3 sub-stream was trusted.
TEST(ProgramDamage, FirstAccessUnitBeyondThePayloadIsNotTrusted) {
  auto b = read_file(fixture("ps_dvd.vob"));
  size_t first = 0;
  for (size_t i = 0; i + 20 < b.size(); ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xBD) {
      const size_t sub = i + 9 + b[i + 8];
      if (b[sub] == 0x80) {
        b[sub + 2] = 0xFF, b[sub + 3] = 0xF0;
        first = i;
        break;
      }
    }
  ASSERT_GT(first, 0u);
  const std::string path = write_temp("pointer.vob", b);
  std::unique_ptr<DeMuxer> d(demuxer_create(path.c_str(), 0));
  ASSERT_TRUE(d);
  ESBuffer s(16384);
  s.start = FileOffset::from_u64(first - first % 2048);
  s.stream_id = 0x80;
  d->load_abs(&s, 0, 0);
  ASSERT_GT(s.bytes, 0);
  EXPECT_LT(s.first_frame, s.bytes);
}

// Fault: a GOP read from a file that shrank kept stale bytes as its data.
TEST(ProgramDamage, ShortGopReadBoundsTheDecodedBytes) {
  const std::string copy = write_temp("shrink.vob", read_file(fixture("ps_vob.vob")));
  std::unique_ptr<DeMuxer> d(demuxer_create(copy.c_str(), 0));
  ASSERT_TRUE(d);
  d->goto_offset(FileOffset(0u));
  GOP g;
  ASSERT_GT(d->parse_gop(&g, 0, 0, 0), 0);
  ASSERT_GT(d->read_gop(&g, 0, 0), 0);
  EXPECT_EQ(g.valid_bytes(), g.byte_length);
  // Cut the file inside the GOP and read it again.
  auto b = read_file(copy);
  b.resize(size_t(g.start.value()) + size_t(g.byte_length) / 2);
  ASSERT_TRUE(write_file(copy, b));
  std::unique_ptr<DeMuxer> e(demuxer_create(copy.c_str(), 0));
  ASSERT_TRUE(e);
  const int got = e->read_gop(&g, 0, 0);
  EXPECT_LT(got, g.byte_length);
  EXPECT_EQ(g.valid_bytes(), got);
}

}  // namespace

namespace {

// The MPEG audio of a file whose first 40 KB of audio payload are zeros is
// still found: its filler is tried again at later packets.
TEST(ProgramDamage, StreamWhoseFirstPacketsFailTheirFillerIsFoundLater) {
  auto b = read_file(fixture("ps_vob.vob"));
  size_t zeroed = 0;
  for (size_t i = 0; i + 20 < b.size() && zeroed < 40000; ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xC0) {
      const size_t len = size_t(b[i + 4] << 8 | b[i + 5]);
      const size_t pay = i + 9 + b[i + 8];
      for (size_t k = pay; k < i + 6 + len && k < b.size(); ++k) b[k] = 0;
      zeroed += len;
    }
  ASSERT_GE(zeroed, 40000u);
  const std::string path = write_temp("late_audio.vob", b);
  std::unique_ptr<DeMuxer> d(demuxer_create(path.c_str(), 0));
  ASSERT_TRUE(d);
  EXPECT_TRUE(d->has_stream_id(0xC0));
  EXPECT_EQ(d->get_audio_selection(nullptr), 0xC0);
}

TEST(ProgramDemux, PauseWaitsForTheWindow) {
  std::unique_ptr<DeMuxer> d(demuxer_create(fixture("ps_vob.vob").c_str(), 0));
  ASSERT_TRUE(d);
  const std::string dir = temp_dir() + "/pause";
  ASSERT_EQ(run("mkdir -p " + sh_quote(dir)), 0);
  auto r = records_into(d.get(), dir);
  // The window's pause lasts two of the job's one-second polls; the job
  // reads nothing meanwhile. The wait goes through the control's sleep:
  // no real time passes and no value is shared between threads.
  JobControl st;
  st.pause();
  int polls = 0;
  st.set_sleep([&](int ms) {
    EXPECT_EQ(ms, 1000);
    EXPECT_LT(st.progress(), 1.0);  // nothing done while paused
    if (++polls == 2) st.resume();
  });
  const double bytes = d->demuxer(int(r.size()), r.data(), &st);
  EXPECT_EQ(polls, 2);
  EXPECT_GT(bytes, 0.0);
  EXPECT_DOUBLE_EQ(st.progress(), 100.0);
}

}  // namespace

namespace {

// Video that starts 1.5 s before the audio is read from the GOP in which
// the audio begins.
TEST(ProgramStream, LateAudioStartsTheVideoAtItsGop) {
  const std::string file = fixture("ps_late.vob");
  const double audio = start_time(file, "a") * 90000.0;
  const auto pts = ffprobe_video_pts(file);
  ASSERT_FALSE(pts.empty());
  std::unique_ptr<DeMuxer> d(demuxer_create(file.c_str(), 0));
  ASSERT_TRUE(d);
  d->goto_offset(FileOffset(0u));
  GOP g;
  ASSERT_GT(d->parse_gop(&g, 0, 0, 0), 0);
  EXPECT_LE(g.pts, audio);
  EXPECT_GT(g.pts + g.total_fields * 1800.0, audio);
  // The GOPs from there on are those of the elementary stream.
  const auto rows = walk(file);
  const auto es = walk(fixture("ps_v.m2v"));
  ASSERT_LT(rows.size(), es.size());
  const size_t skip = es.size() - rows.size();
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_TRUE(rows[i].bytes == es[i + skip].bytes) << i;
}

}  // namespace

namespace {

// Several GOPs to a pack: GOPs that begin inside the pack of the one before
// join it, and no picture is lost where a pack ends inside a picture.
TEST(ProgramStream, GopsSmallerThanAPackKeepEveryPicture) {
  const auto ps = walk(fixture("ps_tiny.vob"));
  const auto es = walk(fixture("ps_tiny.m2v"));
  int ps_pictures = 0, es_pictures = 0;
  std::vector<uint8_t> a, b;
  for (const GopRow& r : ps) {
    ps_pictures += r.pictures;
    a.insert(a.end(), r.bytes.begin(), r.bytes.end());
  }
  for (const GopRow& r : es) {
    es_pictures += r.pictures;
    b.insert(b.end(), r.bytes.begin(), r.bytes.end());
  }
  EXPECT_EQ(ps_pictures, es_pictures);
  // The same bytes in the same order (an end code is blanked in GOP data).
  ASSERT_GE(a.size() + 4, b.size());
  const size_t n = std::min(a.size(), b.size()) - 4;
  EXPECT_TRUE(std::equal(a.begin(), a.begin() + long(n), b.begin()));
}

}  // namespace

namespace {

// Audio spans in the second cell of a DVD title lie on the title's time
// line: the second file's time plus the first cell's length.
TEST(ProgramSegments, AudioSpansOfTheSecondCellFollowTheFirst) {
  const std::string title = fixture("ps_title/VIDEO_TS/VTS_01_1.VOB");
  const uint64_t cell = read_file(fixture("ps_t1.mpg")).size();
  std::unique_ptr<DeMuxer> d(demuxer_create(title.c_str(), 0));
  ASSERT_TRUE(d);
  const auto& seg = as_program(d.get())->get_segments();
  ASSERT_EQ(seg.size(), 2u);
  // dvdauthor fills the navigation packs in place: positions in the second
  // file are positions in the cell.
  const auto frames = ffprobe_audio(fixture("ps_t2.mpg"), 0);
  ASSERT_GT(frames.size(), 5u);
  int checked = 0;
  for (size_t i = 1; i < frames.size() && checked < 6; i += frames.size() / 6 + 1) {
    ESBuffer s(16384);
    s.start = FileOffset::from_u64(cell + uint64_t(frames[i].second) - 1);
    s.stream_id = 0x80;
    const double t = d->load_abs(&s, 0, 0);
    long long want = -1;
    for (auto& f : frames)
      if (cell + uint64_t(f.second) >= s.start.value()) {
        want = f.first;
        break;
      }
    ASSERT_GE(want, 0);
    EXPECT_NEAR(t, double(want) + seg[1].delta, 1.0) << "at " << s.start.value();
    ++checked;
  }
  EXPECT_GT(checked, 3);
}

}  // namespace

namespace {

// Many short recordings joined: every fall of the clock is found, however
// many lie in one search window, and the time line runs on across all.
TEST(ProgramSegments, RecorderFileOfTwentyShortPieces) {
  const std::string rec = fixture("ps_many.VRO");
  const uint64_t piece = read_file(fixture("ps_many1.vob")).size();
  std::unique_ptr<DeMuxer> d(demuxer_create(rec.c_str(), 0));
  ASSERT_TRUE(d);
  const auto& seg = as_program(d.get())->get_segments();
  ASSERT_EQ(seg.size(), 20u);
  for (size_t i = 0; i < seg.size(); ++i) {
    EXPECT_LE(seg[i].start.value(), i * piece + 4096) << "segment " << i;
    EXPECT_GE(seg[i].start.value() + 4096, i * piece) << "segment " << i;
  }
  EXPECT_NEAR(d->get_total_length(), 20 * frame_count(fixture("ps_many1.vob")) / 25.0, 0.1);
  const auto rows = walk(rec);
  int listed = 0;
  for (const GopRow& r : rows) listed += r.fields / 2;
  EXPECT_EQ(listed, 20 * frame_count(fixture("ps_many1.vob")));
  expect_continuous(rows, 25.0, "many");
}

// A recording without video between two with video: its stretch lasts as
// long as its clock ran (not the clock's value), and the third recording's
// pictures follow on that time line.
TEST(ProgramSegments, StretchWithoutVideoLastsAsLongAsItsClockRan) {
  const std::string rec = fixture("ps_gap.VRO");
  std::unique_ptr<DeMuxer> d(demuxer_create(rec.c_str(), 0));
  ASSERT_TRUE(d);
  const auto& seg = as_program(d.get())->get_segments();
  ASSERT_EQ(seg.size(), 3u);
  const uint64_t join1 = read_file(fixture("ps_gap1.vob")).size();
  const uint64_t join2 = join1 + read_file(fixture("ps_gap2.vob")).size();
  EXPECT_LE(seg[1].start.value(), join1 + 4096);
  EXPECT_GE(seg[1].start.value() + 4096, join1);
  EXPECT_LE(seg[2].start.value(), join2 + 4096);
  EXPECT_GE(seg[2].start.value() + 4096, join2);
  const double gap = duration(fixture("ps_gap2.vob"));
  EXPECT_NEAR((seg[1].end_time - seg[1].start_time) / 90000.0, gap, 0.5);
  const double total = duration(fixture("ps_gap1.vob")) + gap + duration(fixture("ps_gap3.vob"));
  EXPECT_NEAR(d->get_total_length(), total, 0.5);
  // The pictures: the first piece's, then the third's after the gap.
  const auto rows = walk(rec);
  ASSERT_GT(rows.size(), 2u);
  size_t third = 0;
  for (size_t i = 1; i < rows.size(); ++i)
    if (std::fabs(rows[i].pts - (rows[i - 1].pts + rows[i - 1].fields * 1800.0)) > 1.0) {
      EXPECT_EQ(third, 0u) << "a second jump at gop " << i;
      third = i;
    }
  ASSERT_GT(third, 0u);
  const double jump = (rows[third].pts - (rows[third - 1].pts + rows[third - 1].fields * 1800.0)) / 90000.0;
  EXPECT_NEAR(jump, gap, 0.5);
  int listed = 0;
  for (const GopRow& r : rows) listed += r.fields / 2;
  EXPECT_EQ(listed, frame_count(fixture("ps_gap1.vob")) + frame_count(fixture("ps_gap3.vob")));
}

// A GOP record whose start lies a packet earlier than its own first packet
// (the previous GOP's tail then fills more than one packet): exactly the
// bytes before the GOP are dropped, over as many packets as they take.
TEST(ProgramStream, GopReadDropsALeadReachingOverSeveralPackets) {
  const std::string file = fixture("ps_vob.vob");
  const std::vector<uint8_t> ps = read_file(file);
  std::unique_ptr<DeMuxer> d(demuxer_create(file.c_str(), 0));
  ASSERT_TRUE(d);
  // Video packets of the file: offset and payload bytes.
  std::vector<std::pair<uint64_t, int>> video;
  for (size_t i = 0; i + 9 < ps.size(); ++i) {
    if (ps[i] || ps[i + 1] || ps[i + 2] != 1 || ps[i + 3] != 0xE0) continue;
    const int length = ps[i + 4] << 8 | ps[i + 5];
    video.push_back({i, length - 3 - ps[i + 8]});
    i += size_t(std::max(length, 3)) + 5;
  }
  ASSERT_GT(video.size(), 20u);
  d->goto_offset(FileOffset(0u));
  GOP g;
  int checked = 0;
  for (int k = 0; k < 8 && d->parse_gop(&g, 0, 0, 0) > 0; ++k) {
    d->goto_offset(g.end);
    // The video packet holding the GOP's first byte and the one before it.
    size_t at = 0;
    while (at + 1 < video.size() && video[at + 1].first <= g.start.value() + 16) ++at;
    if (at == 0 || video[at].first < g.start.value()) continue;
    GOP own = g, early = g;
    ASSERT_GT(d->read_gop(&own, 0, 0), 0);
    early.start = FileOffset::from_u64(video[at - 1].first);
    early.set_vbs_offset(g.get_vbs_offset() + video[at - 1].second);
    ASSERT_GT(d->read_gop(&early, 0, 0), 0);
    ASSERT_EQ(early.data_valid, own.data_valid) << "gop " << k;
    EXPECT_TRUE(std::equal(own.data, own.data + own.data_valid, early.data)) << "gop " << k;
    ++checked;
  }
  EXPECT_GT(checked, 3);
}

// In a DVD title whose second cell carries audio of another mode and bit
// rate, reading a span there makes that the stream's header.
TEST(ProgramSegments, AudioHeaderFollowsTheCellRead) {
  const std::string title = fixture("ps_mtitle/VIDEO_TS/VTS_01_1.VOB");
  std::unique_ptr<DeMuxer> d(demuxer_create(title.c_str(), 0));
  ASSERT_TRUE(d);
  DeMuxerProgram* p = as_program(d.get());
  const auto& seg = p->get_segments();
  ASSERT_EQ(seg.size(), 2u);
  ESBuffer s(16384);
  s.start = FileOffset::from_u64(seg[1].start.value() + 65536);
  s.end = FileOffset::from_u64(read_file(title).size());
  s.stream_id = 0xC0;
  ASSERT_GT(d->read_abs(&s), 4000);
  FrmHdr h;
  const int o = h.parse_buffer(s.data, s.bytes);
  ASSERT_TRUE(h.valid);
  ASSERT_TRUE(h.check_frames(s.data + o, s.bytes - o, 2, 0));
  EXPECT_EQ(h.channels, 1);
  EXPECT_EQ(h.bit_rate, 96000);
  EXPECT_EQ(p->is_same_audio_stream(&h), 1);
  // And back in the first cell.
  ESBuffer f(16384);
  f.start = FileOffset::from_u64(65536);
  f.end = seg[1].start;
  f.stream_id = 0xC0;
  ASSERT_GT(d->read_abs(&f), 4000);
  FrmHdr g;
  g.parse_buffer(f.data, f.bytes);
  ASSERT_TRUE(g.valid);
  EXPECT_EQ(g.channels, 2);
  EXPECT_EQ(p->is_same_audio_stream(&g), 1);
  EXPECT_EQ(p->is_same_audio_stream(&h), 0);
}

}  // namespace

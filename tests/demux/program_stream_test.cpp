// Program streams made by ffmpeg from known elementary streams: the streams
// found, every GOP and its bytes against the elementary stream, GOP time
// stamps and audio spans against ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "demux/demuxer_cache.h"
#include "demux/goplist.h"
#include "demux/program.h"
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

// Projects and save settings: files written read back with every field,
// hand-written files read as the format says, the compliance tables, and
// damaged files refused without harm.
#include <gtest/gtest.h>

#include <cstring>

#include <cstdio>
#include <random>
#include <string>

#include "engine/clips/cliplist_file.h"
#include "engine/clips/project.h"
#include "engine/clips/settings.h"
#include "support/support.h"

namespace {

void write_text(const std::string& path, const std::string& text) {
  ASSERT_TRUE(tsupport::write_file(path, std::vector<uint8_t>(text.begin(), text.end())));
}

EClip sample_project() {
  MPEG_Clip* list = nullptr;
  for (const char* f : {"fa_sd.m2v", "fields_film.m2v", "fa_title.bmp"}) {
    MPEG_Clip* c = mpeg_clip_of_file(tsupport::fixture(f).c_str(), 0, 0);
    EXPECT_NE(c, nullptr) << f;
    if (!c) continue;
    MPEG_Clip* tail = clip_list_tail(list);
    clip_list_link(&list, &tail, c);
    clip_update(list);
  }
  clip_insert_transitions(list, 300, 4, 12);
  clip_add_overlay(list, 8, 20, 30);
  EClip* e = mpeg_clip_2_eclip(list);
  EClip p = *e;
  delete e;
  mpeg_clip_list_free(list);
  p.pcm_scale = {{0.0f, 1.0f}, {2.5f, 0.5f}, {4.0f, 1.25f}};
  return p;
}

void expect_same_clips(const EClip& a, const EClip& b) {
  ASSERT_EQ(a.clips.size(), b.clips.size());
  for (size_t i = 0; i < a.clips.size(); ++i) EXPECT_TRUE(a.clips[i].equals(b.clips[i])) << i;
  ASSERT_EQ(a.pcm_scale.size(), b.pcm_scale.size());
  for (size_t i = 0; i < a.pcm_scale.size(); ++i) {
    EXPECT_FLOAT_EQ(a.pcm_scale[i].time, b.pcm_scale[i].time);
    EXPECT_FLOAT_EQ(a.pcm_scale[i].gain, b.pcm_scale[i].gain);
  }
}

TEST(Project, ClipListFileKeepsClipsAndGain) {
  const std::string dir = tsupport::temp_dir();
  const EClip p = sample_project();
  const std::string path = dir + "/project with spaces.qme";
  ASSERT_EQ(p.save(path.c_str()), 0);
  EClip q;
  ASSERT_EQ(q.init(path.c_str(), 0), 0);
  expect_same_clips(p, q);
}

TEST(Project, PcmScaleKeepsTimeOrder) {
  tsupport::TraceCapture trace;
  const auto kept = copy_pcm_scale({{0, 1}, {2, 0.5f}, {1, 0.7f}, {3, 1}});
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_FLOAT_EQ(kept[2].time, 3);
  EXPECT_TRUE(trace.contains("copy_pcm_scale (ERROR): time(2) = 1.000 <= 2.000 = time(1)\n"));
  EXPECT_TRUE(copy_pcm_scale({}).empty());
}

EditorRecordData sample_record(int type) {
  EditorRecordData r;
  r.set_project(sample_project());
  r.output_type = type;
  r.second_file_name = "/tmp/out file.mpg";
  r.file_name = "/tmp/other.mpg";
  r.video_pid = 0x101;
  r.audio_pid = 0x102;
  r.svcd = 1;
  r.video.frame_rate = 24000.0 / 1001.0;
  r.video.set_index_option(5);
  r.video.chroma_format = 1;
  r.video.fixed_mquant = 4;
  r.video.fixed_mq_max_bit_rate = 3000000;
  r.audio.has_audio = 1;
  r.audio.layer = 2;
  r.audio.sample_rate = 48000;
  r.audio.channels = 2;
  r.audio.bit_rate = 224000;
  r.audio.copy_flag = 1;
  r.audio.second_flag = 1;
  return r;
}

TEST(RecFile, EveryFieldReadsBack) {
  const std::string dir = tsupport::temp_dir();
  for (int type : {3, 6, 8}) {
    SCOPED_TRACE(type);
    const EditorRecordData r = sample_record(type);
    const std::string path = dir + "/job.rec";
    ASSERT_EQ(r.save(path.c_str(), "test"), 0);
    EditorRecordData s;
    ASSERT_EQ(s.load(path.c_str()), 0);
    EXPECT_EQ(s.output_type, type);
    EXPECT_EQ(s.start, r.start);
    EXPECT_EQ(s.count, r.count);
    EXPECT_EQ(s.total, r.total);
    EXPECT_EQ(s.file_name, r.file_name);
    EXPECT_EQ(s.second_file_name, r.second_file_name);
    EXPECT_TRUE(s.video == r.video);
    EXPECT_NEAR(s.video.frame_rate, 24000.0 / 1001.0, 1e-9);
    EXPECT_EQ(s.video.index_option, 5);
    EXPECT_TRUE(s.audio.equals(r.audio));
    EXPECT_EQ(s.audio.second_flag, 1);
    if (type == 8) {
      EXPECT_EQ(s.video_pid, 0x101);
      EXPECT_EQ(s.audio_pid, 0x102);
    }
    if (type == 6) {
      EXPECT_EQ(s.svcd, 1);
    }
    expect_same_clips(r.project, s.project);
  }
}

// Frame rates were written with two decimals and matched within 0.0001, so
// 23.976 came back as 29.97. Six decimals now; two-decimal files still read.
TEST(RecFile, FilmRateSurvivesAndOldTwoDecimalFilesRead) {
  const std::string dir = tsupport::temp_dir();
  EditorRecordData r = sample_record(3);
  const std::string path = dir + "/film.rec";
  ASSERT_EQ(r.save(path.c_str(), nullptr), 0);
  std::string text;
  for (uint8_t b : tsupport::read_file(path)) text += char(b);
  EXPECT_NE(text.find("  23.976024\n"), std::string::npos);
  struct Case {
    const char* written;
    double want;
  } cases[] = {{"23.98", 24000.0 / 1001.0}, {"29.97", 30000.0 / 1001.0}, {"25.00", 25.0},
               {"59.94", 60000.0 / 1001.0}, {"61", 30.0},               {"17.5", 17.5}};
  for (const Case& k : cases) {
    std::string t = text;
    t.replace(t.find("  23.976024\n"), 12, std::string("  ") + k.written + "\n");
    write_text(path, t);
    EditorRecordData s;
    ASSERT_EQ(s.load(path.c_str()), 0) << k.written;
    EXPECT_NEAR(s.video.frame_rate, k.want, 1e-9) << k.written;
  }
}

TEST(RecFile, PidAndLineRules) {
  const std::string dir = tsupport::temp_dir();
  EditorRecordData r = sample_record(8);
  const std::string path = dir + "/pids.rec";
  ASSERT_EQ(r.save(path.c_str(), nullptr), 0);
  std::string text;
  for (uint8_t b : tsupport::read_file(path)) text += char(b);
  {  // a PID of 8191 reads as 0
    std::string t = text;
    t.replace(t.find(" 257 258 "), 9, " 8191 258 ");
    write_text(path, t);
    EditorRecordData s;
    tsupport::TraceCapture trace;
    ASSERT_EQ(s.load(path.c_str()), 0);
    EXPECT_EQ(s.video_pid, 0);
    EXPECT_EQ(s.audio_pid, 258);
    EXPECT_TRUE(trace.contains("EditorRecordData::load (ERROR): invalid video PID found (0x00001fff)\n"));
  }
  {  // the video block's optional last line may be missing
    std::string t = text;
    const size_t at = t.find("  5 1\n");
    ASSERT_NE(at, std::string::npos);
    t.erase(at, 6);
    write_text(path, t);
    EditorRecordData s;
    s.video.index_option = 9;
    ASSERT_EQ(s.load(path.c_str()), 0);
    EXPECT_EQ(s.video.index_option, 9);
  }
  {  // an effect of 0 with a length is refused: that clip is not read
    std::string t = text;
    const size_t at = t.find("  4 12 0 12\n");
    ASSERT_NE(at, std::string::npos);
    t.replace(at, 12, "  0 5 0 0\n");
    write_text(path, t);
    EditorRecordData s;
    tsupport::TraceCapture trace;
    ASSERT_EQ(s.load(path.c_str()), 0);
    EXPECT_EQ(s.project.clips.size(), r.project.clips.size() - 1);
    EXPECT_TRUE(trace.contains("read_clip (ERROR): invalid effect parameters\n"));
  }
  {  // a high-definition size is kept
    EditorRecordData hd = sample_record(3);
    hd.video.set_size(1920, 1080);
    ASSERT_EQ(hd.save(path.c_str(), nullptr), 0);
    EditorRecordData s;
    ASSERT_EQ(s.load(path.c_str()), 0);
    EXPECT_EQ(s.video.width, 1920);
    EXPECT_EQ(s.video.height, 1080);
  }
}

// The program PID (transport) and the DVD flag (program stream) follow
// the values of their lines; files written before them still read.
TEST(RecFile, TrailingProgramPidAndDvdFlag) {
  const std::string dir = tsupport::temp_dir();
  const std::string path = dir + "/trail.rec";
  auto text_of = [&](const EditorRecordData& r) {
    EXPECT_EQ(r.save(path.c_str(), nullptr), 0);
    std::string t;
    for (uint8_t b : tsupport::read_file(path)) t += char(b);
    return t;
  };
  EditorRecordData ts = sample_record(8);
  ts.program_pid = 0x100;
  const std::string ts_text = text_of(ts);
  EditorRecordData dvd = sample_record(6);
  dvd.svcd = 0;
  dvd.dvd = 1;
  const std::string ps_text = text_of(dvd);
  struct Case {
    const char* name;
    const std::string* text;
    const char *from, *to;
    int result, program_pid, dvd;
  } cases[] = {
      {"program PID", &ts_text, " 257 258 256\n", " 257 258 256\n", 0, 256, 0},
      {"no program PID", &ts_text, " 257 258 256\n", " 257 258\n", 0, 16, 0},
      {"program PID out of range", &ts_text, " 257 258 256\n", " 257 258 9000\n", 0, 16, 0},
      {"DVD flag", &ps_text, " 0 1\n", " 0 1\n", 0, 16, 1},
      {"no DVD flag", &ps_text, " 0 1\n", " 0\n", 0, 16, 0},
      {"DVD flag with SVCD", &ps_text, " 0 1\n", " 1 1\n", 0, 16, 0},
      {"bad DVD flag", &ps_text, " 0 1\n", " 0 2\n", 2, 16, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string t = *c.text;
    const size_t at = t.find(c.from);
    ASSERT_NE(at, std::string::npos) << t;
    t.replace(at, std::strlen(c.from), c.to);
    write_text(path, t);
    EditorRecordData s;
    ASSERT_EQ(s.load(path.c_str()), c.result);
    if (c.result) continue;
    EXPECT_EQ(s.program_pid, c.program_pid);
    EXPECT_EQ(s.dvd, c.dvd);
    EXPECT_EQ(s.video_pid, c.text == &ts_text ? 0x101 : 17);
  }
}

// Writers emitted any number of clips, readers refused more than 5000, so a
// large project was written and could not be opened again.
TEST(RecFile, LargeProjectReadsBack) {
  const std::string dir = tsupport::temp_dir();
  EClip p;
  Clip one = sample_project().clips[0];
  one.overlays.clear();
  one.transition_id = one.transition_length = one.transition_value1 = one.transition_value2 = 0;
  one.count = 2;
  for (int i = 0; i < 5001; ++i) {
    one.start = i % 200;
    p.clips.push_back(one);
  }
  const std::string path = dir + "/large.rec";
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(p.file_save(f), 0);
  std::fclose(f);
  f = std::fopen(path.c_str(), "r");
  EClip q;
  EXPECT_EQ(q.file_load(f), 0);
  std::fclose(f);
  EXPECT_EQ(q.clips.size(), 5001u);
}

TEST(RecFile, VideoFilterSection) {
  Clip c;
  c.start = 10;
  c.count = 50;
  const std::string text =
      "[VideoFilter]\n  6\n  8 12 5 0 0 0\n  99 20 5 0 5 0\n  8 5 5 0 5 0\n  8 30 0 0 5 0\n  9 40 10 0 20 25\n"
      "  8 50 2 0 2 1\n";
  FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  ASSERT_NE(f, nullptr);
  tsupport::TraceCapture trace;
  EXPECT_EQ(read_video_filter(f, &c), 3);
  std::fclose(f);
  ASSERT_EQ(c.overlays.size(), 3u);
  EXPECT_EQ(c.overlays[0].effect_span, 5);  // a value a of 0 takes the length
  EXPECT_EQ(c.overlays[1].effect_offset, 0);  // value b past value a
  EXPECT_EQ(c.overlays[2].effect_offset, 1);
  EXPECT_TRUE(trace.contains("read_video_filter (ERROR): invalid video filter effect id\n"));
  EXPECT_TRUE(trace.contains("read_video_filter (ERROR): invalid video filter offset\n"));
  EXPECT_TRUE(trace.contains("read_video_filter (ERROR): invalid video filter length\n"));
  // Not there: the position stays where it was.
  const std::string none = "[Clip]\n";
  f = fmemopen(const_cast<char*>(none.data()), none.size(), "r");
  EXPECT_EQ(read_video_filter(f, &c), 0);
  EXPECT_EQ(std::ftell(f), 0);
  std::fclose(f);
}

TEST(Settings, ComplianceTables) {
  struct VCase {
    int mpeg2, w, h, rate_code;
    bool vcd, svcd, dvd;
  } vcases[] = {
      {0, 352, 240, 4, true, false, true},  {0, 352, 288, 3, true, false, true},
      {0, 352, 288, 4, false, false, false}, {1, 480, 480, 4, false, true, false},
      {1, 480, 480, 3, false, false, false}, {1, 480, 576, 3, false, true, false},
      {1, 720, 576, 3, false, false, true},  {1, 704, 480, 4, false, false, true},
      {1, 352, 240, 4, false, false, true},  {1, 720, 240, 4, false, false, false},
  };
  for (const VCase& k : vcases) {
    VideoEncoderData v;
    v.set_default_values(k.mpeg2);
    v.set_size(k.w, k.h);
    v.frame_rate = k.rate_code == 3 ? 25.0 : 30000.0 / 1001.0;
    v.bit_rate = 1150000;
    EXPECT_EQ(v.is_vcd(), k.vcd) << k.w << "x" << k.h;
    EXPECT_EQ(v.is_svcd(), k.svcd) << k.w << "x" << k.h;
    EXPECT_EQ(v.is_dvd(), k.dvd) << k.w << "x" << k.h;
    VideoEncoderData a = v, b = v, c = v;
    a.fix_vcd();
    b.fix_svcd();
    c.fix_dvd();
    EXPECT_TRUE(a.is_vcd());
    EXPECT_TRUE(b.is_svcd());
    EXPECT_TRUE(c.is_dvd());
  }
  VideoEncoderData p;
  p.set_default_values(1);
  p.set_size(480, 480);
  p.frame_rate = 25.0;
  p.fix_svcd();
  EXPECT_EQ(p.height, 576);
  struct ACase {
    int channels, rate, want;
  } acases[] = {{1, 256000, 128000}, {2, 32000, 224000}, {2, 192000, 192000}, {1, 64000, 64000}};
  for (const ACase& k : acases) {
    AudioEncoderData a;
    a.has_audio = 1;
    a.layer = 1;
    a.sample_rate = 48000;
    a.channels = k.channels;
    a.bit_rate = k.rate;
    a.fix_svcd();
    EXPECT_EQ(a.bit_rate, k.want) << k.channels << " " << k.rate;
    EXPECT_EQ(a.layer, 2);
    EXPECT_EQ(a.sample_rate, 44100);
    EXPECT_TRUE(a.is_svcd());
  }
  AudioEncoderData silent;
  EXPECT_FALSE(silent.is_vcd());
  silent.fix_vcd();
  EXPECT_EQ(silent.bit_rate, 0);
}

TEST(Settings, SearchRangesAndEquality) {
  struct Case {
    int w, h, mh, mv;
  } cases[] = {{352, 240, 7, 7}, {720, 480, 15, 15}, {480, 576, 11, 15}, {1920, 1080, 15, 15}, {16, 16, 7, 7}};
  for (const Case& k : cases) {
    VideoEncoderData v;
    v.set_size(k.w, k.h);
    EXPECT_EQ(v.me[0], k.mh) << k.w;
    EXPECT_EQ(v.me[1], k.mv) << k.h;
  }
  VideoEncoderData a, b, c;
  a.frame_rate = 29.97;
  b.frame_rate = 29.975;
  c.frame_rate = 29.985;
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a == c);
}

TEST(RecFile, DamagedFilesNeverCrash) {
  const std::string dir = tsupport::temp_dir();
  const EditorRecordData r = sample_record(8);
  const std::string good = dir + "/good.rec";
  ASSERT_EQ(r.save(good.c_str(), nullptr), 0);
  const auto bytes = tsupport::read_file(good);
  std::mt19937 rng(3);
  const std::string bad = dir + "/bad.rec";
  auto check = [&](const std::vector<uint8_t>& d) {
    ASSERT_TRUE(tsupport::write_file(bad, d));
    EditorRecordData s;
    const int res = s.load(bad.c_str());
    EXPECT_TRUE(res == 0 || res == 2);
    for (const Clip& c : s.project.clips) {
      EXPECT_GE(c.clip_type, 1);
      EXPECT_GE(c.count, 1);
    }
  };
  for (size_t n = 0; n < bytes.size(); n += 11) check(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(n)));
  for (int i = 0; i < 150; ++i) {
    auto d = bytes;
    d[rng() % d.size()] ^= uint8_t(1u << (rng() % 8));
    check(d);
  }
  std::vector<uint8_t> huge(bytes.begin(), bytes.begin() + 80);
  huge.insert(huge.end(), 4u << 20, '7');
  check(huge);
  EditorRecordData s;
  EXPECT_EQ(s.load((dir + "/missing.rec").c_str()), 1);
}

}  // namespace

namespace {

// Lines of a save project were cut at 253 characters: a long name opened
// another file or dropped the clip.
TEST(RecFile, LongPathsWithSpacesSurvive) {
  const std::string dir = tsupport::temp_dir();
  std::string deep = dir + "/a folder with spaces";
  while (deep.size() < 330) deep += "/one more level";
  ASSERT_EQ(tsupport::run("mkdir -p " + tsupport::sh_quote(deep)), 0);
  const std::string movie = deep + "/the movie.m2v";
  ASSERT_TRUE(tsupport::write_file(movie, tsupport::read_file(tsupport::fixture("st_m1.m1v"))));
  MPEG_Clip* c = mpeg_clip_of_file(movie.c_str(), 5, 20);
  ASSERT_NE(c, nullptr);
  EClip* p = mpeg_clip_2_eclip(c);
  mpeg_clip_list_free(c);
  EditorRecordData r;
  r.set_project(*p);
  delete p;
  r.second_file_name = deep + "/out put.mpg";
  const std::string rec = deep + "/job file.rec";
  ASSERT_EQ(r.save(rec.c_str(), nullptr), 0);
  EditorRecordData s;
  ASSERT_EQ(s.load(rec.c_str()), 0);
  ASSERT_EQ(s.project.clips.size(), 1u);
  EXPECT_EQ(s.project.clips[0].file_name, movie);
  EXPECT_EQ(s.project.clips[0].start, 5);
  EXPECT_EQ(s.project.clips[0].count, 20);
  EXPECT_EQ(s.second_file_name, deep + "/out put.mpg");
}

}  // namespace

// The envelope of a span, counted from the span's start: end gains
// interpolated, the points inside kept.
TEST(Project, GainEnvelopeOfASpan) {
  using P = std::vector<PCMScalePoint>;
  const P env = {{1.0f, 1.0f}, {3.0f, 0.0f}, {4.0f, 0.5f}};
  const struct {
    P points;
    double start, length;
    P want;
  } cases[] = {
      {env, 2.0, 1.5, {{0.0f, 0.5f}, {1.0f, 0.0f}, {1.5f, 0.25f}}},
      {env, 0.0, 5.0, {{0.0f, 1.0f}, {1.0f, 1.0f}, {3.0f, 0.0f}, {4.0f, 0.5f}, {5.0f, 0.5f}}},
      {env, 3.0, 1.0, {{0.0f, 0.0f}, {1.0f, 0.5f}}},
      {env, 5.0, 2.0, {{0.0f, 0.5f}, {2.0f, 0.5f}}},
      {env, 2.0, 0.0, {{0.0f, 0.5f}}},
      {{{0.0f, 0.7f}}, 1.0, 1.0, {}},  // one point is no envelope
      {{}, 0.0, 1.0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << " +" << c.length);
    const P got = pcm_scale_range(c.points, c.start, c.length);
    ASSERT_EQ(got.size(), c.want.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_FLOAT_EQ(got[i].time, c.want[i].time) << i;
      EXPECT_FLOAT_EQ(got[i].gain, c.want[i].gain) << i;
    }
  }
}

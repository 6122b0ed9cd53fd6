// The save writer's rewrites on hand-made chunks, the copy planner on
// synthetic GOP tables, and the save settings records.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/clips/cliplist_file.h"
#include "foundation/gop.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/vbv.h"
#include "mux/es.h"
#include "record/record_data.h"
#include "record/recorder.h"
#include "mux/save.h"
#include "record/save_request.h"
#include "ps_reader.h"
#include "support/support.h"

namespace {

// An MPEG-2 sequence header of 720x576 at 25 fps (aspect code 2, bit rate
// 6 Mbit/s, vbv_buffer_size 112) with its extension.
std::vector<uint8_t> seq_bytes() {
  SeqHdr s;
  s.setup(720, 576, 6000000, 25.0, 1);
  s.aspect_ratio_information = 2;
  s.vbv_buffer_size = 112;
  uint8_t b[256];
  const int n = s.encode(b, sizeof b, 1);
  return std::vector<uint8_t>(b, b + (n > 0 ? n : 0));
}

// GOP header with time code 10:00:00:00 and the given closed/broken bits.
std::vector<uint8_t> gop_bytes(bool closed, bool broken) {
  const uint32_t tc = (10u << 19) | (1u << 12);  // hours 10, marker bit
  return {0,
          0,
          1,
          0xB8,
          uint8_t(tc >> 17),
          uint8_t(tc >> 9),
          uint8_t(tc >> 1),
          uint8_t(((tc & 1) << 7) | (closed ? 0x40 : 0) | (broken ? 0x20 : 0))};
}

// An I frame picture (progressive, top field first) with vbv_delay vd, its
// coding extension and a slice of filler.
std::vector<uint8_t> picture_bytes(int tr, int vd) {
  std::vector<uint8_t> p = {0, 0, 1, 0, uint8_t(tr >> 2), uint8_t(((tr & 3) << 6) | (1 << 3) | (vd >> 13)),
                            uint8_t(vd >> 5), uint8_t(((vd & 0x1F) << 3) | 0x0)};
  const uint8_t ext[] = {0, 0, 1, 0xB5, 0x8F, 0xFF, 0xF3, 0x80, 0x80};
  p.insert(p.end(), ext, ext + sizeof ext);
  const uint8_t slice[] = {0, 0, 1, 1, 0x12, 0x34, 0x56, 0x78};
  p.insert(p.end(), slice, slice + sizeof slice);
  p.resize(p.size() + 3000, 0x55);
  return p;
}

ESData video_es() {
  SeqHdr s;
  const std::vector<uint8_t> b = seq_bytes();
  EXPECT_GT(s.decode(b.data(), int(b.size())), 0);
  ESData e;
  e.set_video_header(s);
  e.kind = ES_KIND_MPEG2_VIDEO;
  e.stream_id = 0xE0;
  e.bit_rate = 6000000;
  return e;
}

uint32_t gop_time_code(const uint8_t* g) {
  return (uint32_t(g[4]) << 17) | (uint32_t(g[5]) << 9) | (uint32_t(g[6]) << 1) | (g[7] >> 7);
}

TEST(SaveUpdate, RewritesHeadersOfGoldenChunks) {
  const std::string out = tsupport::temp_dir() + "/golden.m2v";
  const ESData es = video_es();
  auto made = Save::create(out.c_str(), MUX_MPEG2_VIDEO_ES, &es, 1);
  ASSERT_TRUE(made);
  Save& save = *made;
  save.set_aspect_ratio(3);
  SeqHdr wanted;
  wanted.vbv_buffer_size = 0x2A5;  // bits on both sides of the byte border
  save.set_vbv_buffer_size(wanted);

  std::vector<uint8_t> head = seq_bytes();
  const size_t gop_at = head.size();
  const std::vector<uint8_t> g = gop_bytes(true, true);
  head.insert(head.end(), g.begin(), g.end());
  const std::vector<uint8_t> before = head;
  const int flags = save.update(head.data(), 0, int(head.size()));
  EXPECT_EQ(flags, Save::kGopRewritten | Save::kSeqHandled);
  // Aspect nibble rewritten, frame_rate_code kept.
  EXPECT_EQ(head[7], uint8_t(0x30 | (before[7] & 0x0F)));
  // vbv_buffer_size: low 5 bits of byte 10 then high 5 bits of byte 11.
  EXPECT_EQ(((head[10] & 0x1F) << 5) | (head[11] >> 3), 0x2A5);
  EXPECT_EQ(head[10] & 0xE0, before[10] & 0xE0);
  EXPECT_EQ(head[11] & 0x07, before[11] & 0x07);
  // The first time code of the output is 00:00:00:00 with closed_gop and
  // broken_link kept.
  const uint8_t* gh = head.data() + gop_at;
  EXPECT_EQ(gop_time_code(gh), 1u << 12);
  EXPECT_EQ(gh[7] & 0x7F, 0x60);

  // Twelve pictures later the next GOP shows 00:00:00:12; each picture's
  // vbv_delay is the model's, the bits after it kept.
  VBV model;
  SeqHdr s;
  ASSERT_GT(s.decode(head.data(), int(head.size())), 0);
  model.init(s);
  int prev = 0, hdr = int(head.size());
  for (int i = 0; i < 12; ++i) {
    std::vector<uint8_t> p = picture_bytes(i, 0);
    p[7] |= 0x05;
    PicHdr ph;
    ASSERT_GT(ph.decode(p.data(), int(p.size())), 0);
    const int want = model.get_vbv_delay(ph, prev, hdr);
    EXPECT_EQ(save.update(p.data(), int(p.size()), 0), 0);
    const int got = ((p[5] & 7) << 13) | (p[6] << 5) | (p[7] >> 3);
    EXPECT_EQ(got, want) << "picture " << i;
    EXPECT_EQ(p[7] & 7, 5);
    prev = int(p.size());
    hdr = 0;
  }
  std::vector<uint8_t> g2 = gop_bytes(false, false);
  save.update(g2.data(), 0, int(g2.size()));
  EXPECT_EQ(gop_time_code(g2.data()), (1u << 12) | 12u);
  EXPECT_EQ(g2[7] & 0x7F, 0);
  save.close(0);
}

// A synthetic GOP of coded picture types ("IBBPBBP"), two fields each.
LGOP gop_of(const char* types) {
  std::vector<uint32_t> t;
  for (const char* c = types; *c; ++c) {
    const uint32_t type = *c == 'I' ? 1 : *c == 'P' ? 2 : 3;
    t.push_back((type << 30) | uint32_t(t.size() * 1000));
  }
  LGOP g;
  g.set_pic_table(t.data(), int(t.size()));
  g.total_fields = 2 * int(t.size());
  g.byte_length = int(t.size()) * 1000;
  return g;
}

// Two saves started into one output: each writes under a name of its own
// and both finish (the second used to remove the first one's file, and
// each then failed); no temporary file stays behind.
TEST(SaveOutput, TwoRunsIntoOneOutputBothFinish) {
  const std::string out = tsupport::temp_dir() + "/twice.m2v";
  const ESData es = video_es();
  auto first = Save::create(out.c_str(), MUX_MPEG2_VIDEO_ES, &es, 1);
  auto second = Save::create(out.c_str(), MUX_MPEG2_VIDEO_ES, &es, 1);
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  Save& a = *first;
  Save& b = *second;
  EXPECT_NE(a.partial_name(), b.partial_name());
  auto gop = [](Save& s, int vbv_delay) {
    std::vector<uint8_t> head = seq_bytes();
    const std::vector<uint8_t> g = gop_bytes(true, false), p = picture_bytes(0, vbv_delay);
    head.insert(head.end(), g.begin(), g.end());
    std::vector<uint8_t> chunk = head;
    chunk.insert(chunk.end(), p.begin(), p.end());
    return s.save_vbs(chunk.data(), int(p.size()), int(head.size()), 0) == int(chunk.size());
  };
  EXPECT_TRUE(gop(a, 1000));
  EXPECT_TRUE(gop(b, 2000));
  EXPECT_EQ(a.close(1), 0);
  EXPECT_EQ(b.close(1), 0);
  EXPECT_GT(tsupport::read_file(out).size(), 3000u);
  EXPECT_FALSE(tsupport::partial_left(out));
}

TEST(GopPlan, CopiesGopAlignedRangesAndRefusesTheRest) {
  struct Case {
    const char* name;
    const char* types;
    int a, b;
    bool clip_start, closed;
    int copy, dropped, needs_reencoding;
    const char* kept;  // coded pictures copied
  };
  // Open GOP "IBBPBBPBB": display B B I B B P B B P, the I shown at frame 2.
  const Case cases[] = {
      {"whole_gop_inside_a_clip", "IBBPBBPBB", 0, 8, false, false, 9, 0, 0, "111111111"},
      {"clip_starts_at_the_i_picture", "IBBPBBPBB", 2, 8, true, false, 7, 2, 0, "100111111"},
      {"clip_starts_on_a_leading_b", "IBBPBBPBB", 0, 8, true, false, 0, 0, 1, "000000000"},
      {"closed_gop_from_its_first_frame", "IBBPBBPBB", 0, 8, true, true, 9, 0, 0, "111111111"},
      {"range_ends_at_a_p_picture", "IBBPBBPBB", 2, 5, true, false, 4, 2, 0, "100111000"},
      {"range_ends_on_a_b_picture", "IBBPBBPBB", 2, 6, true, false, 0, 2, 1, "000000000"},
      {"range_starts_after_the_i_picture", "IBBPBBPBB", 5, 8, true, false, 0, 2, 1, "000000000"},
      {"no_b_pictures", "IPPP", 0, 3, true, false, 4, 0, 0, "1111"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LGOP g = gop_of(c.types);
    GopPlan plan;
    get_next_gop_info(g, c.a, c.b, c.clip_start, c.closed, &plan);
    EXPECT_EQ(plan.copy, c.copy);
    EXPECT_EQ(plan.dropped_leading_b, c.dropped);
    EXPECT_EQ(plan.head + plan.tail > 0, c.needs_reencoding != 0);
    std::string kept;
    for (uint8_t k : plan.keep) kept += k ? '1' : '0';
    EXPECT_EQ(kept, c.kept);
  }
}

TEST(RecorderRewrites, TemporalReferenceClosedGopAndFieldCount) {
  std::vector<uint8_t> p = picture_bytes(7, 100);
  // An I picture followed by two B pictures shows third: base + 2 - 1.
  EXPECT_EQ(Recorder::set_temporal_reference(p.data(), int(p.size()), 0, 1, 2, 1), 1);
  EXPECT_EQ((p[4] << 2) | (p[5] >> 6), 2);
  EXPECT_EQ(Recorder::set_temporal_reference(p.data(), int(p.size()), 0, 1, 2, 1), 0);
  EXPECT_EQ((p[5] >> 3) & 7, 1);  // the picture type stays

  std::vector<uint8_t> g = gop_bytes(false, true);
  EXPECT_EQ(Recorder::set_closed_gop(g.data(), int(g.size()), 1), 1);
  EXPECT_EQ(g[7] & 0x60, 0x60);

  // The last picture shown gains a repeated field, then loses it again.
  std::vector<uint8_t> two = picture_bytes(0, 0);
  EXPECT_EQ(Recorder::update_field_count(two.data(), int(two.size()), 0, 0), 0);
  EXPECT_EQ(Recorder::update_field_count(two.data(), int(two.size()), 0, 1), 1);
  EXPECT_EQ(two[8 + 7] & 0x02, 0x02);
  PicHdr h;
  ASSERT_GT(h.decode(two.data(), int(two.size())), 0);
  EXPECT_EQ(h.get_field_count(0), 3);
  EXPECT_EQ(Recorder::update_field_count(two.data(), int(two.size()), 0, 0), 1);
  ASSERT_GT(h.decode(two.data(), int(two.size())), 0);
  EXPECT_EQ(h.get_field_count(0), 2);
}

TEST(RecordDataTest, ChecksAndDeepCopies) {
  SeqHdr s;
  s.setup(352, 288, 1150000, 25.0, 0);
  RecordVideo v(s);
  EXPECT_EQ(v.setup.mpeg1, 1);
  EXPECT_EQ(v.setup.progressive, 1);
  EXPECT_EQ(v.setup.seqhdr, v.seq.get());
  ESData es[3];
  es[0] = video_es();
  es[1].kind = ES_KIND_MPEG_AUDIO;
  es[1].sample_rate = 22050;
  es[1].channels = 6;
  es[1].layer = 2;
  es[1].audio_bit_rate = 200000;
  es[2].kind = ES_KIND_MPEG_AUDIO;
  tsupport::TraceCapture trace;
  RecordData d(MUX_MPEG2_PROGRAM, "out.mpg", &v, 3, es);
  EXPECT_TRUE(trace.contains("n_es=3 > 2"));
  EXPECT_EQ(d.n_es, 2);
  EXPECT_TRUE(d.video.is_video());
  EXPECT_EQ(d.audio.sample_rate, 44100);
  EXPECT_EQ(d.audio.channels, 2);
  EXPECT_EQ(d.audio.audio_bit_rate, 192000);
  EXPECT_EQ(d.set_aspect_ratio(15), 0);
  EXPECT_EQ(d.set_aspect_ratio(3), 3);
  d.pcm_scale = {0.0, 1.0, 2.0, 0.5};
  d.dvd = 1;

  RecordData c(d);
  ASSERT_TRUE(c.video_setup);
  EXPECT_NE(c.video_setup.get(), d.video_setup.get());
  EXPECT_EQ(c.video_setup->setup.seqhdr, c.video_setup->seq.get());
  EXPECT_NE(c.video.get_video_header(), d.video.get_video_header());
  EXPECT_EQ(c.name, "out.mpg");
  EXPECT_EQ(c.aspect_ratio, 3);
  EXPECT_EQ(c.dvd, 1);
  EXPECT_EQ(c.pcm_scale, d.pcm_scale);
  const RecordData& same = c;
  c = same;
  EXPECT_EQ(c.name, "out.mpg");
  d.video_setup.reset();
  EXPECT_EQ(c.video_setup->seq->get_horizontal_size(), 352);
}

struct Seen {
  std::vector<double> progress;
  int done = 0;
};

void on_done(void* a, void*) { ++static_cast<Seen*>(a)->done; }

// Runs one save of the clip through the pipeline; the report.
SaveReport run_job(MPEG_Clip* clip, const std::string& out, Seen* seen, JobControl* status,
                   int kind = MUX_MPEG2_PROGRAM) {
  RecordData d;
  d.kind = kind;
  d.name = out;
  status->set_progress_callback([seen](double p) { seen->progress.push_back(p); });
  SaveReport rep;
  RecordJob job(clip, d, status);
  job.report = &rep;
  job.done = on_done;
  job.done_arg1 = seen;
  prepare_recording(job);
  return rep;
}

TEST(SavePipeline, ProgressRisesToNinetyNineThenCompletesWithTheOutcome) {
  TSUPPORT_NEED_FIXTURES("sv_open.m2v");
  const std::string in = tsupport::fixture("sv_open.m2v");
  MPEG_Clip* clip = mpeg_clip_of_file(in.c_str(), 0, 100);
  ASSERT_NE(clip, nullptr);
  {
    Seen seen;
    JobControl status;
    const SaveReport rep = run_job(clip, tsupport::temp_dir() + "/p.mpg", &seen, &status);
    EXPECT_EQ(rep.failed, 0) << rep.message;
    EXPECT_EQ(rep.frames, 100);
    ASSERT_GE(seen.progress.size(), 3u);
    for (size_t k = 0; k + 1 < seen.progress.size(); ++k) {
      EXPECT_LE(seen.progress[k], 99.0);
      EXPECT_LE(seen.progress[k], seen.progress[k + 1]);
    }
    EXPECT_EQ(seen.progress.back(), 100.0);
    EXPECT_EQ(status.result(), rep.result);
    EXPECT_GE(rep.result, -1000);  // a buffer report, not a failure
    EXPECT_EQ(seen.done, 1);
  }
  {
    // A save that cannot run still completes, with a failure result and no
    // file left behind.
    Seen seen;
    JobControl status;
    const SaveReport rep = run_job(clip, in, &seen, &status);
    EXPECT_EQ(rep.failed, 1);
    EXPECT_EQ(status.result(), kSaveFailed);
    EXPECT_EQ(seen.progress.back(), 100.0);
    EXPECT_EQ(seen.done, 1);
    EXPECT_FALSE(tsupport::partial_left(in));
  }
  for (int audio_kind : {1, 9}) {
    // Audio-only kinds cannot take a movie: refused, not reported done.
    Seen seen;
    JobControl status;
    const std::string out = tsupport::temp_dir() + "/audio_only";
    const SaveReport rep = run_job(clip, out, &seen, &status, audio_kind);
    EXPECT_EQ(rep.failed, 1) << audio_kind;
    EXPECT_EQ(status.result(), kSaveFailed);
    struct stat sb {};
    EXPECT_NE(stat(out.c_str(), &sb), 0);
  }
  delete clip;
}

// A set-up whose sequence header has no fixed rate asks for a variable-rate
// output like --vbr: the saved headers say so, even over pictures copied
// from a constant-rate source.
TEST(SavePipeline, VbrSetUpGivesAVariableRateOutput) {
  TSUPPORT_NEED_FIXTURES("vbv_p.m2v");
  const std::string in = tsupport::fixture("vbv_p.m2v");
  const std::vector<uint8_t> src = tsupport::read_file(in);
  SeqHdr seq;
  ASSERT_GT(seq.decode(src.data(), int(src.size())), 0);
  ASSERT_FALSE(seq.is_vbr());
  seq.bit_rate = 0x3FFFF;
  const RecordVideo setup(seq);
  MPEG_Clip* clip = mpeg_clip_of_file(in.c_str(), 0, 30);
  ASSERT_NE(clip, nullptr);
  const std::string out = tsupport::temp_dir() + "/vbr_setup.mpg";
  RecordData d(MUX_MPEG2_PROGRAM, out.c_str(), &setup, 0, nullptr);
  JobControl status;
  SaveReport rep;
  RecordJob job(clip, d, &status);
  job.report = &rep;
  prepare_recording(job);
  delete clip;
  ASSERT_EQ(rep.failed, 0) << rep.message;
  const psr::File f = psr::read(tsupport::read_file(out));
  ASSERT_TRUE(f.streams.count(0xE0));
  const std::vector<uint8_t>& v = f.streams.at(0xE0).es;
  int headers = 0, pictures = 0;
  for (size_t i = 0; i + 8 <= v.size(); ++i) {
    if (v[i] != 0 || v[i + 1] != 0 || v[i + 2] != 1) continue;
    if (v[i + 3] == 0xB3) {
      // 18-bit bit_rate_value after width, height, aspect and rate code.
      EXPECT_EQ(int(v[i + 8]) << 10 | int(v[i + 9]) << 2 | v[i + 10] >> 6, 0x3FFFF);
      ++headers;
    } else if (v[i + 3] == 0x00) {
      // 16-bit vbv_delay after temporal_reference and coding type.
      EXPECT_EQ((v[i + 5] & 7) << 13 | int(v[i + 6]) << 5 | v[i + 7] >> 3, 0xFFFF);
      ++pictures;
    }
  }
  EXPECT_GT(headers, 0);
  EXPECT_EQ(pictures, 30);
}

TEST(SaveRequestKinds, NamesCodesAndProfilesAgree) {
  struct Row {
    const char* name;
    int code, svcd, dvd;
    OutputProfile profile;
  };
  const Row rows[] = {
      {"es", MUX_MPEG2_VIDEO_ES, 0, 0, {MUX_MPEG2_VIDEO_ES, false, false, false}},
      {"mpeg1", MUX_MPEG1_SYSTEM, 0, 0, {MUX_MPEG1_SYSTEM, false, false, true}},
      {"vcd", MUX_VCD, 0, 0, {MUX_VCD, false, false, false}},
      {"ps", MUX_MPEG2_PROGRAM, 0, 0, {MUX_MPEG2_PROGRAM, false, false, true}},
      {"svcd", MUX_MPEG2_PROGRAM, 1, 0, {MUX_MPEG2_PROGRAM, false, true, true}},
      {"dvd", MUX_MPEG2_PROGRAM, 0, 1, {MUX_MPEG2_PROGRAM, true, false, true}},
      {"ts", MUX_TRANSPORT, 0, 0, {MUX_TRANSPORT, false, false, false}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const auto kind = output_kind_named(r.name);
    ASSERT_TRUE(kind);
    EXPECT_STREQ(output_kind_name(*kind), r.name);
    EXPECT_EQ(output_kind_of_code(r.code, r.svcd, r.dvd), kind);
    const OutputProfile p = output_profile(*kind);
    EXPECT_EQ(p.mux_type, r.profile.mux_type);
    EXPECT_EQ(p.nav_packs, r.profile.nav_packs);
    EXPECT_EQ(p.svcd, r.profile.svcd);
    EXPECT_EQ(p.vbr, r.profile.vbr);
  }
  EXPECT_EQ(output_kind_of_code(MUX_MPEG1_VIDEO_ES, 0, 0), OutputKind::es);
  EXPECT_EQ(output_kind_of_code(MUX_SVCD, 0, 0), OutputKind::svcd);
  // SVCD rules win over navigation packs, as the writer never made both.
  EXPECT_EQ(output_kind_of_code(MUX_MPEG2_PROGRAM, 1, 1), OutputKind::svcd);
  for (int audio_only : {int(MUX_MPEG1_AUDIO_ES), 9, 0, -1}) EXPECT_FALSE(output_kind_of_code(audio_only, 0, 0));
  EXPECT_FALSE(output_kind_named("mpeg2"));
  EXPECT_FALSE(output_kind_named(""));
}

// A reference range the request does not have is a usage error, checked
// before any clip is opened (the clips made before the check were lost).
TEST(SaveRequestRun, ReferencePastTheRangesIsAUsageError) {
  if (!tsupport::missing_fixture({"sv_dvd.vob"}).empty()) GTEST_SKIP() << "fixture missing";
  const std::string out = tsupport::temp_dir() + "/ref_usage.mpg";
  std::vector<std::string> lines;
  EXPECT_EQ(tsupport::dev("save " + tsupport::sh_quote(tsupport::fixture("sv_dvd.vob")) + " " + tsupport::sh_quote(out) +
                              " --keep 5:30,50:62 --kind ps --ref 2",
                          &lines),
            2);
  struct stat st {};
  EXPECT_NE(stat(out.c_str(), &st), 0);
}

// Clips joined to whole GOPs can leave the reference clip past the list:
// the save is refused before its output exists, and its control ends.
TEST(SaveRequestRun, ReferencePastTheJoinedClipsIsRefusedBeforeWriting) {
  if (!tsupport::missing_fixture({"sv_dvd.vob"}).empty()) GTEST_SKIP() << "fixture missing";
  const std::string src = tsupport::fixture("sv_dvd.vob");
  MPEG_Clip* head = mpeg_clip_of_file(src.c_str(), 5, 26);
  ASSERT_NE(head, nullptr);
  MPEG_Clip* second = mpeg_clip_of_file(src.c_str(), 20, 20);
  ASSERT_NE(second, nullptr);
  head->next = second;
  second->prev = head;
  const std::string out = tsupport::temp_dir() + "/ref.mpg";
  JobControl control;
  SaveRequest request;
  request.kind = OutputKind::ts;
  request.output = out;
  request.clips = head;
  request.gop_only = true;
  request.options.ref_clip = 1;
  request.control = &control;
  SaveRun run;
  EXPECT_EQ(save_run(request, &run), 1);
  record_free_clips(head);
  ASSERT_EQ(run.ranges.size(), 1u);
  EXPECT_EQ(run.ranges[0].first, 0);
  EXPECT_EQ(run.report.failed, 1);
  EXPECT_EQ(control.outcome(), JobOutcome::failed);
  EXPECT_EQ(control.progress(), 100.0);
  struct stat st {};
  EXPECT_NE(stat(out.c_str(), &st), 0);
}

}  // namespace

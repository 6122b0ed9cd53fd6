// Whole GOPs coded again with the record option (Recorder::transcode_gop),
// against ffmpeg's decode of ffmpeg-made MPEG-2 sources with open and with
// closed GOPs.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "demux/goplist.h"
#include "demux/goplist_cache.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/cliplist_file.h"
#include "mux/es.h"
#include "record/record_data.h"
#include "record/recorder.h"
#include "mux/save.h"
#include "support/ffmpeg_oracle.h"
#include "support/support.h"

namespace {

using tsupport::run;
using tsupport::sh_quote;

constexpr int kW = 176, kH = 144;
constexpr size_t kFrame = size_t(kW) * kH * 3 / 2;

// 36 frames in GOPs of 12 with two B pictures between references.
std::string make_source(const std::string& dir, bool closed) {
  const std::string in = dir + (closed ? "/closed.m2v" : "/open.m2v");
  const int rc = run(std::string("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=176x144:rate=25:duration=1.44 "
                                 "-vf noise=alls=4:allf=t -c:v mpeg2video -threads 1 -b:v 1500k -g 12 -bf 2 ") +
                     (closed ? "-flags +cgop " : "") + "-sc_threshold 1000000000 -f mpeg2video " + sh_quote(in));
  EXPECT_EQ(rc, 0);
  return in;
}

// (picture type, temporal_reference) of each picture in coded order.
std::vector<std::pair<int, int>> coded_pictures(const std::string& file) {
  const std::vector<uint8_t> v = tsupport::read_file(file);
  std::vector<std::pair<int, int>> out;
  for (size_t i = 0; i + 6 <= v.size(); ++i)
    if (v[i] == 0 && v[i + 1] == 0 && v[i + 2] == 1 && v[i + 3] == 0)
      out.emplace_back((v[i + 5] >> 3) & 7, (v[i + 4] << 2) | (v[i + 5] >> 6));
  return out;
}

std::vector<int> gop_closed_flags(const std::string& file) {
  const std::vector<uint8_t> v = tsupport::read_file(file);
  std::vector<int> out;
  for (size_t i = 0; i + 8 <= v.size(); ++i)
    if (v[i] == 0 && v[i + 1] == 0 && v[i + 2] == 1 && v[i + 3] == 0xB8) out.push_back((v[i + 7] >> 6) & 1);
  return out;
}

// Lowest of the Y, Cb and Cr PSNR of two 4:2:0 pictures.
double picture_psnr(const uint8_t* a, const uint8_t* b) {
  const size_t y = size_t(kW) * kH, c = y / 4;
  return std::min({tsupport::psnr(a, b, y), tsupport::psnr(a + y, b + y, c), tsupport::psnr(a + y + c, b + y + c, c)});
}

// The file's index and its first GOP with its data (no pictures when
// either cannot be had).
void first_gop(const std::string& in, GOPList* list, GOP* g) {
  ASSERT_EQ(GoplistCache::take_from_cache(list, in.c_str(), 0, 0), 0);
  ASSERT_GE(list->get_gop(0, g, 1, 0), 0);
}

// A Recorder of the whole file with its elementary-stream writer.
struct Transcoder {
  std::unique_ptr<Recorder> rec;
  std::unique_ptr<Save> save;
  // bit_rate 0: the source's.
  Transcoder(const std::string& in, int frames, const std::string& out, int bit_rate = 0) {
    MPEG_Clip* clip = mpeg_clip_of_file(in.c_str(), 0, frames);
    EXPECT_NE(clip, nullptr);
    RecordData data;
    data.kind = MUX_MPEG2_VIDEO_ES;
    data.name = out;
    data.video.bit_rate = bit_rate;
    EngineError err;
    rec = Recorder::create(clip, data, &err);
    mpeg_clip_list_free(clip);
    EXPECT_TRUE(rec) << err.message;
    if (!rec) return;
    const ESData es = rec->output_es();
    save = Save::create(out.c_str(), MUX_MPEG2_VIDEO_ES, &es, 1, &err);
    EXPECT_TRUE(save) << err.message;
  }
};

// Every GOP of the stream in turn: the output has the source's pictures,
// types and temporal references, decodes cleanly and stays within 40 dB of
// every source frame. Without the record option nothing is done.
TEST(TranscodeGop, WholeStreamsOfOpenAndClosedGops) {
  const std::string dir = tsupport::temp_dir();
  for (const bool closed : {false, true}) {
    SCOPED_TRACE(closed ? "closed" : "open");
    const std::string in = make_source(dir, closed), out = dir + "/out.m2v";
    GOPList list;
    GOP g;
    first_gop(in, &list, &g);
    const int frames = list.get_total_frames();
    ASSERT_EQ(frames, 36);
    Transcoder t(in, frames, out);
    EXPECT_EQ(t.rec->transcode_gop(g, t.save.get()), 0) << "the record option is off";
    t.rec->set_record_option(1);
    int gops = 0, total = 0;
    for (;;) {
      ++gops;
      EXPECT_EQ(t.rec->transcode_gop(g, t.save.get()), g.pic_count) << "GOP " << gops;
      total += g.pic_count;
      const FileOffset was = g.start;
      if (list.next_gop(&g, 1) <= 0 || g.start.equals(was)) break;
    }
    const std::vector<int> source_flags = gop_closed_flags(in);
    EXPECT_EQ(gops, int(source_flags.size()));
    EXPECT_EQ(total, frames);
    EXPECT_EQ(t.rec->pictures_transcoded(), frames);
    ASSERT_EQ(t.save->close(1), 0);
    EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
    EXPECT_EQ(coded_pictures(out), coded_pictures(in));
    // The first GOP is closed (nothing is before it); each one that
    // follows keeps the source's flag.
    std::vector<int> flags = gop_closed_flags(out);
    ASSERT_FALSE(flags.empty());
    EXPECT_EQ(flags[0], 1);
    flags[0] = source_flags[0];
    EXPECT_EQ(flags, source_flags);
    const std::vector<uint8_t> want = tsupport::ffmpeg_raw(in, "", "yuv420p", dir + "/src.yuv");
    const std::vector<uint8_t> got = tsupport::ffmpeg_raw(out, "", "yuv420p", dir + "/got.yuv");
    ASSERT_EQ(want.size(), size_t(frames) * kFrame);
    ASSERT_EQ(got.size(), want.size());
    for (int f = 0; f < frames; ++f)
      EXPECT_GE(picture_psnr(got.data() + size_t(f) * kFrame, want.data() + size_t(f) * kFrame), 40.0) << "frame " << f;
  }
}

// An open GOP transcoded alone: its leading B pictures are decoded from the
// references of the GOP before, and coded as a closed GOP, since the output
// has nothing before them.
TEST(TranscodeGop, OpenGopAloneBecomesClosed) {
  const std::string dir = tsupport::temp_dir();
  const std::string in = make_source(dir, false), out = dir + "/alone.m2v";
  GOPList list;
  GOP g;
  first_gop(in, &list, &g);
  ASSERT_GT(list.next_gop(&g, 1), 0);
  ASSERT_GT(g.pic_count, 2);
  ASSERT_EQ(g.get_pic_type(1), 3) << "the second GOP starts with leading B pictures";
  const int first = g.first_frame(), n = g.pic_count;
  Transcoder t(in, list.get_total_frames(), out);
  t.rec->set_record_option(1);
  EXPECT_EQ(t.rec->transcode_gop(g, t.save.get()), n);
  ASSERT_EQ(t.save->close(1), 0);
  EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
  EXPECT_EQ(gop_closed_flags(out), std::vector<int>{1});
  // Its pictures are the source's from its I picture on, types and
  // temporal references alike.
  const auto src = coded_pictures(in);
  const auto at = std::find_if(src.begin() + 1, src.end(), [](const std::pair<int, int>& p) { return p.first == 1; });
  ASSERT_GE(src.end() - at, n);
  const std::vector<std::pair<int, int>> want_pics(at, at + n);
  EXPECT_EQ(coded_pictures(out), want_pics);
  const std::vector<uint8_t> want = tsupport::ffmpeg_raw(in, "", "yuv420p", dir + "/src.yuv");
  const std::vector<uint8_t> got = tsupport::ffmpeg_raw(out, "", "yuv420p", dir + "/got.yuv");
  ASSERT_EQ(got.size(), size_t(n) * kFrame);
  ASSERT_GE(want.size(), size_t(first + n) * kFrame);
  for (int f = 0; f < n; ++f)
    EXPECT_GE(picture_psnr(got.data() + size_t(f) * kFrame, want.data() + size_t(first + f) * kFrame), 40.0)
        << "frame " << first + f;
}

// Below the source's rate the pictures are coded under rate control:
// the same pictures, decoding cleanly, in fewer bytes.
TEST(TranscodeGop, LowerOutputRate) {
  const std::string dir = tsupport::temp_dir();
  const std::string in = make_source(dir, false);
  GOPList list;
  GOP g;
  first_gop(in, &list, &g);
  ASSERT_GT(g.pic_count, 0);
  size_t bytes[2] = {};
  for (const int rate : {0, 400000}) {
    const std::string out = dir + "/rate" + std::to_string(rate) + ".m2v";
    GOP h;
    ASSERT_GE(list.get_gop(0, &h, 1, 0), 0);
    Transcoder t(in, list.get_total_frames(), out, rate);
    t.rec->set_record_option(1);
    int total = 0;
    for (;;) {
      total += t.rec->transcode_gop(h, t.save.get());
      const FileOffset was = h.start;
      if (list.next_gop(&h, 1) <= 0 || h.start.equals(was)) break;
    }
    EXPECT_EQ(total, 36);
    ASSERT_EQ(t.save->close(1), 0);
    EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
    EXPECT_EQ(coded_pictures(out), coded_pictures(in));
    bytes[rate ? 1 : 0] = tsupport::read_file(out).size();
  }
  EXPECT_LT(bytes[1], bytes[0] * 3 / 4);
}

// Damaged input: a picture whose body is garbage is concealed and the GOP
// still comes out whole; a picture table that points past the GOP's bytes
// or a GOP without its I picture gives 0 and a trace, never a crash.
TEST(TranscodeGop, DamagedGops) {
  const std::string dir = tsupport::temp_dir();
  const std::string in = make_source(dir, true), out = dir + "/damaged.m2v";
  GOPList list;
  GOP g;
  first_gop(in, &list, &g);
  ASSERT_GT(g.pic_count, 4);
  Transcoder t(in, list.get_total_frames(), out);
  t.rec->set_record_option(1);
  {
    GOP bad(g);
    const int s = bad.get_pic_entry(3), e = bad.get_pic_entry(4);
    for (int i = s + 12; i < e; ++i) bad.data[i] = uint8_t(0xA5 ^ (i * 7));
    tsupport::TraceCapture trace;
    EXPECT_EQ(t.rec->transcode_gop(bad, t.save.get()), g.pic_count);
  }
  {
    GOP cut(g);
    cut.data_valid = cut.get_pic_entry(2) + 10;
    tsupport::TraceCapture trace;
    EXPECT_EQ(t.rec->transcode_gop(cut, t.save.get()), 0);
    EXPECT_TRUE(trace.contains("outside the GOP's bytes"));
  }
  {
    GOP no_i(g);
    no_i.pic_table[0] = (no_i.pic_table[0] & 0x3FFFFFFFu) | (2u << 30);  // a P picture first
    tsupport::TraceCapture trace;
    EXPECT_EQ(t.rec->transcode_gop(no_i, t.save.get()), 0);
    EXPECT_TRUE(trace.contains("without an I picture"));
  }
  EXPECT_FALSE(t.rec->failed());
  ASSERT_EQ(t.save->close(1), 0);
  EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
  EXPECT_EQ(coded_pictures(out).size(), size_t(g.pic_count));
}

// The GOP step takes the same path for every GOP it would copy whole when
// the record option is set.
TEST(TranscodeGop, GopStepTranscodesWholeGops) {
  const std::string dir = tsupport::temp_dir();
  const std::string in = make_source(dir, false), out = dir + "/step.m2v";
  Transcoder t(in, 36, out);
  t.rec->set_record_option(1);
  while (!t.rec->at_end() && t.rec->recode_next_gop(t.save.get()) > 0) {
  }
  ASSERT_FALSE(t.rec->failed()) << t.rec->message();
  t.rec->flush(t.save.get());
  ASSERT_EQ(t.save->close(1), 0);
  EXPECT_EQ(t.rec->pictures_transcoded(), 36);
  EXPECT_EQ(t.rec->copied(), 0);
  EXPECT_EQ(t.rec->total_fields(), 72);
  EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
  EXPECT_EQ(coded_pictures(out), coded_pictures(in));
}

}  // namespace

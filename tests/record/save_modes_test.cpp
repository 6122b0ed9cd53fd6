// Save options beside the cut plan, against ffmpeg's decode and the saved
// headers: pulldown sources cut inside GOPs (fields, parity, time stamps,
// unbroken film frames and every source field in its place), variable bit rate, scene changes in
// re-encoded runs and 24-frame output of telecined film.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/clips/clip_list.h"
#include "engine/clips/cliplist_file.h"
#include "picture/frame.h"
#include "ps_reader.h"
#include "record/frame_source.h"
#include "record/record_data.h"
#include "support/ffmpeg_oracle.h"
#include "support/support.h"

namespace {

using tsupport::dev;
using tsupport::field_int;
using tsupport::fixture;
using tsupport::psnr;
using tsupport::run;
using tsupport::sh_quote;
using tsupport::temp_dir;

// Luminance of each decoded picture, in display order, narrowed to w
// (lines, and with them the fields, stay as they are).
std::vector<std::vector<uint8_t>> gray_pictures(const std::string& file, int w, int h, const std::string& dir) {
  const std::string raw = dir + "/pictures.gray";
  run("ffmpeg -nostdin -v error -y -i " + sh_quote(file) + " -map 0:v:0 -fps_mode passthrough -vf scale=" +
      std::to_string(w) + ":" + std::to_string(h) + " -f rawvideo -pix_fmt gray " + sh_quote(raw));
  const std::vector<uint8_t> all = tsupport::read_file(raw);
  const size_t size = size_t(w) * h;
  std::vector<std::vector<uint8_t>> out;
  for (size_t at = 0; at + size <= all.size(); at += size) out.emplace_back(all.begin() + long(at), all.begin() + long(at + size));
  return out;
}

struct Probed {
  int tff = 0, repeat = 0;
  long long pts = 0;
};

// Time stamp (0 when there is none), top_field_first and repeat_pict of
// each picture in display order.
std::vector<Probed> probe_frames(const std::string& file) {
  std::string text;
  run("ffprobe -v error -select_streams v:0 -show_entries frame=pts,top_field_first,repeat_pict -of csv=p=0 " +
          sh_quote(file),
      &text);
  std::vector<Probed> out;
  for (const std::string& l : tsupport::split_lines(text)) {
    Probed p;
    char pts[32] = {};
    if (std::sscanf(l.c_str(), "%31[^,],%d,%d", pts, &p.tff, &p.repeat) != 3) continue;
    p.pts = std::atoll(pts);
    out.push_back(p);
  }
  return out;
}

// A field a picture shows: the picture, its parity (0 top), luminance.
struct Field {
  int picture = 0, parity = 0;
  std::vector<uint8_t> y;
};

// The fields the pictures show, in order, each w x h / 2.
std::vector<Field> fields_shown(const std::vector<std::vector<uint8_t>>& pictures, const std::vector<Probed>& flags,
                                int w, int h) {
  std::vector<Field> out;
  for (size_t k = 0; k < pictures.size() && k < flags.size(); ++k) {
    const int first = flags[k].tff ? 0 : 1;
    for (int n = 0; n < 2 + flags[k].repeat; ++n) {
      Field f;
      f.picture = int(k);
      f.parity = (first + n) & 1;
      for (int y = f.parity; y < h; y += 2)
        f.y.insert(f.y.end(), pictures[k].begin() + y * w, pictures[k].begin() + (y + 1) * w);
      out.push_back(std::move(f));
    }
  }
  return out;
}

std::vector<int> sequence_bit_rate_values(const std::vector<uint8_t>& v) {
  std::vector<int> r;
  for (size_t i = 0; i + 12 <= v.size(); ++i)
    if (v[i] == 0 && v[i + 1] == 0 && v[i + 2] == 1 && v[i + 3] == 0xB3)
      r.push_back((v[i + 8] << 10) | (v[i + 9] << 2) | (v[i + 10] >> 6));
  return r;
}

// Picture types of an elementary stream in display order.
std::string display_types(const std::string& file) {
  std::string out;
  run("ffprobe -v error -select_streams v:0 -show_entries frame=pict_type -of csv=p=0 " + sh_quote(file), &out);
  std::string t;
  for (const std::string& l : tsupport::split_lines(out))
    if (!l.empty()) t += l[0];
  return t;
}

// A pulldown source cut inside GOPs: the output shows twice the kept frames
// in fields, each picture starts on the field due, time stamps step by the
// fields shown, and the film pictures of each range follow one another.
TEST(SaveModes, PulldownCutsInsideGops) {
  TSUPPORT_NEED_FIXTURES("sv_film.m2v");
  const std::string in = fixture("sv_film.m2v"), dir = temp_dir();
  const auto src = fields_shown(gray_pictures(in, 180, 480, dir), probe_frames(in), 180, 480);
  ASSERT_GT(src.size(), 200u);
  // Its GOPs of 15 pictures start on odd and even fields: 19 and 37.5 ...
  const std::string keep = "3:45,60:100";
  const int frames = 43 + 41;
  for (const std::string mode : {"", "--copy-only"}) {
    SCOPED_TRACE("mode " + mode);
    const std::string out = dir + "/film" + (mode.empty() ? "" : "_copy") + ".mpg";
    std::vector<std::string> lines;
    ASSERT_EQ(dev("save " + sh_quote(in) + " " + sh_quote(out) + " --keep " + keep + " --kind ps " + mode, &lines), 0);
    const std::string last = lines.empty() ? "" : lines.back();
    EXPECT_EQ(field_int(last, "fields"), 2 * frames) << last;
    EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
    const std::vector<Probed> pf = probe_frames(out);
    ASSERT_FALSE(pf.empty());
    int fields = 0, bad_parity = 0, bad_step = 0;
    for (size_t k = 0; k < pf.size(); ++k) {
      if (pf[k].tff != (pf[0].tff ^ (fields & 1))) ++bad_parity;
      const int shown = 2 + pf[k].repeat;
      fields += shown;
      // 90 kHz: 1501.5 ticks a field at 29.97.
      if (k + 1 < pf.size() && std::abs(double(pf[k + 1].pts - pf[k].pts) - 1501.5 * shown) > 1.0) ++bad_step;
    }
    EXPECT_EQ(bad_parity, 0);
    EXPECT_EQ(bad_step, 0);
    EXPECT_EQ(fields, 2 * frames);
    // Each output field is named by the source picture (film frame) whose
    // field of that parity it matches; within a range the film frames run
    // on one by one, never back and never over one.
    const auto got = fields_shown(gray_pictures(out, 180, 480, dir), pf, 180, 480);
    ASSERT_EQ(int(got.size()), 2 * frames);
    auto match = [&src](const Field& g, int from, int to) {
      std::pair<double, int> best{-1.0, -1};
      for (const Field& f : src)
        if (f.parity == g.parity && f.picture >= from && f.picture <= to)
          best = std::max(best, {psnr(g.y.data(), f.y.data(), g.y.size()), f.picture});
      return best;
    };
    int runs = 0, film_frame = -10;
    double worst = 99;
    for (const Field& g : got) {
      auto m = match(g, film_frame, film_frame + 1);
      if (m.first < 35.0) {
        ++runs;
        m = match(g, 0, 1 << 20);
      }
      worst = std::min(worst, m.first);
      film_frame = m.second;
    }
    EXPECT_EQ(runs, 2);
    EXPECT_GE(worst, 35.0);
  }
}

// Field by field: each range shows the source's fields 2a .. 2b + 1 in
// order, each of the parity and film frame it has in the source, where
// GOPs start or end on a frame's second field, the field there a film
// frame's repeated one or not, and runs one frame long.
TEST(SaveModes, PulldownRangesShowEverySourceField) {
  TSUPPORT_NEED_FIXTURES("sv_film.m2v");
  const std::string in = fixture("sv_film.m2v"), dir = temp_dir();
  const auto src = fields_shown(gray_pictures(in, 180, 480, dir), probe_frames(in), 180, 480);
  ASSERT_GE(src.size(), 240u);
  for (const std::string keep : {"11:57,99:119", "5:37,38:38,56:95", "20:56,113:119", "19:36,57:93", "0:119"}) {
    SCOPED_TRACE("--keep " + keep);
    std::vector<int> want;
    for (size_t at = 0; at < keep.size();) {
      int a = 0, b = 0, used = 0;
      ASSERT_EQ(std::sscanf(keep.c_str() + at, "%d:%d%n", &a, &b, &used), 2);
      for (int f = 2 * a; f <= 2 * b + 1; ++f) want.push_back(f);
      at += size_t(used) + 1;
    }
    const std::string out = dir + "/fields.mpg";
    std::vector<std::string> lines;
    ASSERT_EQ(dev("save " + sh_quote(in) + " " + sh_quote(out) + " --keep " + keep + " --kind ps", &lines), 0);
    EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
    const auto got = fields_shown(gray_pictures(out, 180, 480, dir), probe_frames(out), 180, 480);
    ASSERT_EQ(got.size(), want.size());
    int wrong = 0;
    for (size_t k = 0; k < got.size(); ++k) {
      const Field& w = src[size_t(want[k])];
      const double p = got[k].parity == w.parity ? psnr(got[k].y.data(), w.y.data(), w.y.size()) : 0.0;
      if (p < 35.0 && ++wrong <= 5)
        ADD_FAILURE() << "output field " << k << ": source field " << want[k] << " (film frame " << w.picture
                      << ") at " << p << " dB";
    }
    EXPECT_EQ(wrong, 0);
  }
}

// --vbr: every sequence header says 0x3FFFF, re-encoded pictures carry
// vbv_delay 0xFFFF, and a clip of another bit rate is copied, not
// re-encoded.
TEST(SaveModes, VariableBitRate) {
  TSUPPORT_NEED_FIXTURES("sv_closed.m2v");
  const std::string dir = temp_dir(), in = fixture("sv_closed.m2v"), lo = dir + "/lo.m2v";
  ASSERT_EQ(run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=352x288:rate=25:duration=2 -c:v mpeg2video "
                "-threads 1 -b:v 900k -maxrate 900k -minrate 900k -bufsize 1000k -g 12 -bf 2 -flags +cgop -sc_threshold "
                "1000000000 -f "
                "mpeg2video " + sh_quote(lo)),
            0);
  for (const std::string kind : {"es", "ps"}) {
    SCOPED_TRACE(kind);
    const std::string out = dir + "/vbr." + kind;
    std::vector<std::string> lines;
    ASSERT_EQ(dev("save " + sh_quote(in) + "," + sh_quote(lo) + " " + sh_quote(out) +
                      " --keep 5:40,1@12:47 --vbr --kind " + kind,
                  &lines),
              0);
    const std::string last = lines.empty() ? "" : lines.back();
    EXPECT_EQ(field_int(last, "frames"), 36 + 36) << last;
    // The second clip's whole GOPs are copied: it is not re-encoded whole.
    EXPECT_LT(field_int(last, "reencoded"), 36) << last;
    EXPECT_GT(field_int(last, "copied"), 36) << last;
    EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
    std::vector<uint8_t> v = tsupport::read_file(out);
    if (kind == "ps") v = psr::read(v).streams[0xE0].es;
    const std::vector<int> rates = sequence_bit_rate_values(v);
    ASSERT_GE(rates.size(), 3u);
    for (int r : rates) EXPECT_EQ(r, 0x3FFFF);
    // The first picture is re-encoded (frame 5 lies inside a GOP).
    size_t pic = 0;
    while (pic + 8 < v.size() && !(v[pic] == 0 && v[pic + 1] == 0 && v[pic + 2] == 1 && v[pic + 3] == 0)) ++pic;
    ASSERT_LT(pic + 8, v.size());
    const int vbv_delay = ((v[pic + 5] & 7) << 13) | (v[pic + 6] << 5) | (v[pic + 7] >> 3);
    EXPECT_EQ(vbv_delay, 0xFFFF);
  }
}

// A hard scene change inside a long GOP, re-encoded whole with GOPs of 30:
// with scene detection an I picture follows the cut within M frames.
TEST(SaveModes, SceneChangeStartsAGop) {
  const std::string dir = temp_dir(), in = dir + "/scene.m2v";
  ASSERT_EQ(run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=176x144:rate=25:duration=1.6 -f lavfi -i "
                "testsrc2=size=176x144:rate=25 -filter_complex "
                "\"[1]trim=end_frame=40,setpts=PTS-STARTPTS[b];[0][b]concat=n=2:v=1\" -c:v mpeg2video -threads 1 "
                "-b:v 2M -g 100 -bf 2 -sc_threshold 1000000000 -f mpeg2video " + sh_quote(in)),
            0);
  ASSERT_EQ(display_types(in).find('I', 1), std::string::npos) << "the source has one GOP";
  std::string plain;  // picture types without scene detection
  for (const int scene : {0, 1, 2}) {
    SCOPED_TRACE(scene);
    const std::string out = dir + "/scene_" + std::to_string(scene) + ".m2v";
    std::vector<std::string> lines;
    ASSERT_EQ(dev("save " + sh_quote(in) + " " + sh_quote(out) +
                      " --keep 0:79 --bit-rate 900000 --gop 30 --sub-gop 3 --kind es --scene " + std::to_string(scene),
                  &lines),
              0);
    const std::string t = display_types(out);
    ASSERT_EQ(t.size(), 80u);
    EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
    if (scene == 0) {
      plain = t;
      EXPECT_EQ(t.substr(40, 3).find('I'), std::string::npos) << t;
      continue;
    }
    EXPECT_NE(t.substr(40, 3).find('I'), std::string::npos) << t;
    EXPECT_EQ(t.substr(0, 40), plain.substr(0, 40)) << "no new scene before the cut";
  }
}

// Closed flags of the GOP headers of an elementary stream, in order.
std::string gop_closed_flags(const std::string& file) {
  const std::vector<uint8_t> v = tsupport::read_file(file);
  std::string out;
  for (size_t i = 0; i + 8 <= v.size(); ++i)
    if (v[i] == 0 && v[i + 1] == 0 && v[i + 2] == 1 && v[i + 3] == 0xB8) out += (v[i + 7] & 0x40) ? 'c' : 'o';
  return out;
}

// Option 2 looks at the B pictures waiting when a P picture finds a new
// scene: those that still show the old scene stay with it (the later one
// as a P picture) and the new scene's GOP is closed; option 1 puts them
// all into an open GOP. Runs of GOPs of 30 and M 3 have their P picture at
// 42 and B pictures at 40 and 41; the cut falls before 41 or 42.
TEST(SaveModes, SceneOptionTwoKeepsOldSceneBPictures) {
  const std::string dir = temp_dir();
  struct Case {
    int cut;
    const char* types1;  // display types 39..42 with option 1
    const char* types2;  // and with option 2
  };
  // (A cut before 40 leaves no old-scene B picture: SceneChangeStartsAGop.)
  const Case cases[] = {
      {41, "PBBI", "PPBI"},
      {42, "PBBI", "PBPI"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cut);
    const std::string in = dir + "/cut" + std::to_string(c.cut) + ".m2v";
    ASSERT_EQ(run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=176x144:rate=25 -f lavfi -i "
                  "testsrc2=size=176x144:rate=25 -filter_complex \"[0]trim=end_frame=" + std::to_string(c.cut) +
                  ",setpts=PTS-STARTPTS[a];[1]trim=end_frame=40,setpts=PTS-STARTPTS[b];[a][b]concat=n=2:v=1\" "
                  "-c:v mpeg2video -threads 1 -b:v 2M -g 200 -bf 2 -sc_threshold 1000000000 -f mpeg2video " +
                  sh_quote(in)),
              0);
    for (const int scene : {1, 2}) {
      SCOPED_TRACE(scene);
      const std::string out = dir + "/out" + std::to_string(c.cut) + "_" + std::to_string(scene) + ".m2v";
      std::vector<std::string> lines;
      ASSERT_EQ(dev("save " + sh_quote(in) + " " + sh_quote(out) +
                        " --keep 0:79 --bit-rate 900000 --gop 30 --sub-gop 3 --kind es --scene " +
                        std::to_string(scene),
                    &lines),
                0);
      const std::string t = display_types(out);
      ASSERT_EQ(t.size(), 80u);
      EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
      EXPECT_EQ(t.substr(39, 4), scene == 1 ? c.types1 : c.types2) << t;
      EXPECT_NE(t.substr(size_t(c.cut), 3).find('I'), std::string::npos) << "an I picture within M frames of the cut";
      // Runs are closed GOPs; option 1 leaves the new scene's open to the
      // old scene's last picture.
      const std::string flags = gop_closed_flags(out);
      EXPECT_EQ(std::count(flags.begin(), flags.end(), 'o'), scene == 1 ? 1 : 0) << flags;
    }
  }
}

// Transition frames rendered from raw 176x144 pictures: the first five
// of one scene, the rest of another.
class TwoSceneTransition : public FrameSource {
 public:
  TwoSceneTransition(std::vector<uint8_t> a, std::vector<uint8_t> b, int first)
      : a_(std::move(a)), b_(std::move(b)), first_(first), frame_(176, 144, 1, 0) {}
  Frame* render(int n) override {
    const int k = n - first_;
    const std::vector<uint8_t>& src = k < 5 ? a_ : b_;
    const size_t size = 176 * 144 * 3 / 2, at = size_t(n) * size;
    if (k < 0 || at + size > src.size()) return nullptr;
    const uint8_t* p = src.data() + at;
    for (int y = 0; y < 144; ++y) std::copy(p + y * 176, p + y * 176 + 176, frame_.y_plane() + y * frame_.padded_width());
    for (int c = 0; c < 2; ++c) {
      const uint8_t* q = p + 176 * 144 + c * 88 * 72;
      uint8_t* d = c ? frame_.cr_plane() : frame_.cb_plane();
      for (int y = 0; y < 72; ++y) std::copy(q + y * 88, q + y * 88 + 88, d + y * frame_.c_width());
    }
    frame_.set_stream_frame(n);
    return &frame_;
  }

 private:
  std::vector<uint8_t> a_, b_;
  int first_;
  Frame frame_;
};

// The frames of a transition mix two clips: a hard change inside them is
// no new scene (the transition's run keeps its single I picture).
TEST(SaveModes, NoSceneChangeInsideATransition) {
  const std::string dir = temp_dir(), a = dir + "/a.m2v", b = dir + "/b.m2v", out = dir + "/out.m2v";
  for (const auto& [name, src] : {std::make_pair(a, "testsrc"), std::make_pair(b, "testsrc2")})
    ASSERT_EQ(run(std::string("ffmpeg -nostdin -v error -y -f lavfi -i ") + src +
                  "=size=176x144:rate=25:duration=1.6 -c:v mpeg2video -threads 1 -b:v 2M -g 12 -bf 2 "
                  "-sc_threshold 1000000000 -f mpeg2video " + sh_quote(name)),
              0);
  MPEG_Clip* head = nullptr;
  MPEG_Clip* tail = nullptr;
  clip_list_link(&head, &tail, mpeg_clip_of_file(a.c_str(), 0, 40));
  MPEG_Clip* second = mpeg_clip_of_file(b.c_str(), 0, 40);
  ASSERT_TRUE(head && second);
  second->transition_length = 10;
  clip_list_link(&head, &tail, second);
  RecordData d;
  d.kind = 3;
  d.name = out;
  d.scene_change = 1;
  JobControl control;
  SaveReport rep;
  RecordJob job(head, d, &control);
  mpeg_clip_list_free(head);
  job.report = &rep;
  // Movie frames 30..39 are the transition: 30..34 the first clip's own
  // pictures, then the second's.
  job.frames = std::make_unique<TwoSceneTransition>(tsupport::ffmpeg_raw(a, "", "yuv420p", dir + "/a.yuv"),
                                                    tsupport::ffmpeg_raw(b, "", "yuv420p", dir + "/b.yuv"), 30);
  prepare_recording(job);
  ASSERT_EQ(rep.failed, 0) << rep.message;
  EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
  const std::string t = display_types(out);
  ASSERT_EQ(t.size(), 70u);
  EXPECT_EQ(t[30], 'I') << t;
  EXPECT_EQ(t.substr(31, 9).find('I'), std::string::npos) << t;
}

// Telecined 24-frame film in a 29.97 stream saved with --film: 24000/1001
// output holding each film frame once, in order.
TEST(SaveModes, FilmOutputOfTelecinedSource) {
  const std::string dir = temp_dir(), film = dir + "/film.yuv", in = dir + "/telecined.m2v";
  const std::string source = "-f lavfi -i testsrc=size=352x240:rate=24000/1001:duration=2.5";
  ASSERT_EQ(run("ffmpeg -nostdin -v error -y " + source + " -pix_fmt yuv420p -f rawvideo " + sh_quote(film)), 0);
  ASSERT_EQ(run("ffmpeg -nostdin -v error -y " + source + " -vf telecine -c:v mpeg2video -threads 1 -b:v 4M -g 15 "
                "-bf 2 -flags +ilme+ildct -top 1 -f mpeg2video " + sh_quote(in)),
            0);
  const std::vector<uint8_t> want = tsupport::read_file(film);
  const size_t fb = 352 * 240 * 3 / 2;
  ASSERT_GE(want.size() / fb, 48u);
  const std::string out = dir + "/out.m2v";
  std::vector<std::string> lines;
  ASSERT_EQ(dev("save " + sh_quote(in) + " " + sh_quote(out) + " --keep 0:59 --film --kind es", &lines), 0);
  std::string rate;
  run("ffprobe -v error -show_entries stream=r_frame_rate -of csv=p=0 " + sh_quote(out), &rate);
  EXPECT_EQ(rate.substr(0, 10), "24000/1001");
  EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
  const std::vector<uint8_t> got = tsupport::ffmpeg_raw(out, "", "yuv420p", dir + "/out.yuv");
  ASSERT_EQ(got.size(), 48 * fb);
  for (size_t k = 0; k < 48; ++k) {
    const double p = psnr(got.data() + k * fb, want.data() + k * fb, 352 * 240);
    EXPECT_GE(p, 32.0) << "output frame " << k;
    for (size_t n : {k - 1, k + 1})
      if (n < 48) EXPECT_LT(psnr(got.data() + k * fb, want.data() + n * fb, 352 * 240), p) << "output frame " << k;
  }
}

}  // namespace

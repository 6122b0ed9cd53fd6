// Frame access against ffmpeg's decode: exact searches, walks in both
// directions, direction changes, I/P stepping, pulldown streams, clip
// ranges, decode counts, index reuse, overlays and damaged input.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "access/dtv.h"
#include "decode/picdec.h"
#include "access/dtv_rates.h"
#include "access/effects.h"
#include "formats/still_loader.h"
#include "demux/goplist_cache.h"
#include "support/support.h"

namespace {

using namespace tsupport;

struct Reference {
  int width = 0, height = 0, chroma = 1;
  size_t frame_size = 0;
  std::vector<uint8_t> data;
  std::vector<char> types;  // ffprobe pict_type per display frame
  int frames() const { return frame_size ? int(data.size() / frame_size) : 0; }
  const uint8_t* frame(int n) const { return data.data() + size_t(n) * frame_size; }
};

// ffmpeg's decode of every frame (planar, display order) and ffprobe's types.
Reference decode_reference(const std::string& file, const std::string& filter = "") {
  Reference r;
  std::string out;
  run("ffprobe -v error -select_streams v -show_entries stream=width,height,pix_fmt -of csv=p=0 " + sh_quote(file),
      &out);
  std::stringstream ss(out);
  std::string w, h, fmt;
  std::getline(ss, w, ',');
  std::getline(ss, h, ',');
  std::getline(ss, fmt);
  r.width = std::stoi(w);
  r.height = std::stoi(h);
  r.chroma = fmt.find("422") != std::string::npos ? 2 : 1;
  const size_t cw = size_t(r.width + 1) / 2, ch = r.chroma == 2 ? size_t(r.height) : size_t(r.height + 1) / 2;
  r.frame_size = size_t(r.width) * r.height + 2 * cw * ch;
  const std::string yuv = temp_dir() + "/ref.yuv";
  const std::string vf = filter.empty() ? "" : " -vf " + filter;
  EXPECT_EQ(run("ffmpeg -nostdin -v error -y -i " + sh_quote(file) + vf + " -fps_mode passthrough -f rawvideo -pix_fmt " +
                (r.chroma == 2 ? "yuv422p " : "yuv420p ") + sh_quote(yuv)),
            0);
  r.data = read_file(yuv);
  run("ffprobe -v error -select_streams v -show_entries frame=pict_type -of csv=p=0 " + sh_quote(file), &out);
  for (const auto& l : split_lines(out))
    if (!l.empty()) r.types.push_back(l[0]);
  return r;
}

struct Shown {
  std::vector<int> numbers;
  std::vector<std::string> lines;
  std::vector<uint8_t> data;
};

Shown dev_frames(const std::string& args) {
  Shown s;
  const std::string out = temp_dir() + "/out.yuv";
  EXPECT_EQ(dev(args + " --out " + sh_quote(out), &s.lines), 0) << args;
  for (const auto& l : s.lines) s.numbers.push_back(int(field_int(l, "frame")));
  s.data = read_file(out);
  return s;
}

// Every shown frame against the reference frame of its number.
void expect_frames_match(const Shown& s, const Reference& ref, const std::string& what, int offset = 0) {
  ASSERT_EQ(s.data.size(), s.numbers.size() * ref.frame_size) << what;
  for (size_t i = 0; i < s.numbers.size(); ++i) {
    const int n = s.numbers[i] + offset;
    ASSERT_LT(n, ref.frames()) << what;
    const double p = psnr(s.data.data() + i * ref.frame_size, ref.frame(n), ref.frame_size);
    EXPECT_GE(p, 48.0) << what << ": output " << i << " frame " << n;
  }
}

std::string join(const std::vector<int>& v) {
  std::string s;
  for (int x : v) s += " " + std::to_string(x);
  return s;
}

class FrameAccessStreams : public ::testing::TestWithParam<const char*> {};

TEST_P(FrameAccessStreams, ExactSearchEqualsFfmpegFrame) {
  const std::string file = fixture(GetParam());
  const Reference ref = decode_reference(file);
  const int total = ref.frames();
  ASSERT_GT(total, 40);
  std::vector<int> want;
  for (int n = 0; n <= 20; ++n) want.push_back(n);
  int boundaries = 0;
  for (int n = 1; n < total && boundaries < 5; ++n) {
    if (ref.types[size_t(n)] != 'I' || n < 21) continue;
    // Both sides of the boundary, and the leading pictures after it.
    for (int d : {-2, -1, 0, 1, 2})
      if (n + d < total) want.push_back(n + d);
    ++boundaries;
  }
  std::mt19937 rng(1234);
  for (int i = 0; i < 100; ++i) want.push_back(int(rng() % unsigned(total)));
  const Shown s = dev_frames("frame " + sh_quote(file) + join(want));
  ASSERT_EQ(s.numbers, want);
  expect_frames_match(s, ref, GetParam());
  for (size_t i = 0; i < s.lines.size(); ++i)
    EXPECT_EQ(field(s.lines[i], "type")[0], ref.types[size_t(want[i])]) << s.lines[i];
}

TEST_P(FrameAccessStreams, WalksAndTurnsNeverSkipOrRepeat) {
  const std::string file = fixture(GetParam());
  const Reference ref = decode_reference(file);
  const int total = ref.frames();
  // Forward 60 frames.
  const int from = std::min(3, total - 61);
  Shown f = dev_frames("walk " + sh_quote(file) + " " + std::to_string(from) + " " + std::to_string(from + 60));
  std::vector<int> expect;
  for (int n = from; n <= from + 60; ++n) expect.push_back(n);
  EXPECT_EQ(f.numbers, expect);
  expect_frames_match(f, ref, "forward");
  // Backward up to 100 frames, from the end.
  const int back_to = std::max(0, total - 101);
  Shown b = dev_frames("walk " + sh_quote(file) + " " + std::to_string(total - 1) + " " + std::to_string(back_to));
  expect.clear();
  for (int n = total - 1; n >= back_to; --n) expect.push_back(n);
  EXPECT_EQ(b.numbers, expect);
  expect_frames_match(b, ref, "backward");
  // 10 forward, 7 back, 12 forward, across GOP boundaries.
  const int a = 9;
  Shown t = dev_frames("walk " + sh_quote(file) + " " + std::to_string(a) + " " + std::to_string(a + 10) + " " +
                       std::to_string(a + 3) + " " + std::to_string(a + 15));
  expect.clear();
  for (int n = a; n <= a + 10; ++n) expect.push_back(n);
  for (int n = a + 9; n >= a + 3; --n) expect.push_back(n);
  for (int n = a + 4; n <= a + 15; ++n) expect.push_back(n);
  EXPECT_EQ(t.numbers, expect);
  expect_frames_match(t, ref, "turns");
}

TEST_P(FrameAccessStreams, IPSteppingShowsOnlyIAndPFrames) {
  const std::string file = fixture(GetParam());
  const Reference ref = decode_reference(file);
  const int total = ref.frames();
  std::vector<int> expect;
  for (int n = 0; n < total; ++n)
    if (ref.types[size_t(n)] != 'B') expect.push_back(n);
  Shown s = dev_frames("walk " + sh_quote(file) + " 0 " + std::to_string(total - 1) + " --step ip");
  EXPECT_EQ(s.numbers, expect);
  expect_frames_match(s, ref, "ip");
  for (const auto& l : s.lines) EXPECT_NE(field(l, "type"), "B") << l;
  // GOP stepping shows each GOP's I picture, both ways.
  expect.clear();
  for (int n = 0; n < total; ++n)
    if (ref.types[size_t(n)] == 'I') expect.push_back(n);
  Shown g = dev_frames("walk " + sh_quote(file) + " 0 " + std::to_string(total - 1) + " --step gop");
  if (!g.numbers.empty() && g.numbers.back() == total - 1 && ref.types[size_t(total - 1)] != 'I') g.numbers.pop_back();
  EXPECT_EQ(g.numbers, expect);
  Shown gb = dev_frames("walk " + sh_quote(file) + " " + std::to_string(expect.back()) + " 0 --step gop");
  std::vector<int> rev(expect.rbegin(), expect.rend());
  EXPECT_EQ(gb.numbers, rev);
}

INSTANTIATE_TEST_SUITE_P(Streams, FrameAccessStreams,
                         ::testing::Values("il_tff.m2v", "cg.m2v", "m2c.m2v", "m1c.m1v", "422.m2v", "fa_ps.mpg", "ts_fa.ts"),
                         [](const auto& p) {
                           std::string n = p.param;
                           std::replace_if(n.begin(), n.end(), [](char c) { return !std::isalnum(c); }, '_');
                           return n;
                         });

TEST(FrameAccess, HdSearchAndBackwardWalk) {
  const std::string file = fixture("hd.m2v");
  const Reference ref = decode_reference(file);
  const int total = ref.frames();
  // Frames 0-20, both sides of every GOP boundary, and random frames (fewer
  // than on SD streams: each HD frame is 3 MB of output).
  std::vector<int> want;
  for (int n = 0; n <= 20; ++n) want.push_back(n);
  for (int n = 21; n < total; ++n)
    if (ref.types[size_t(n)] == 'I')
      for (int d : {-2, -1, 0, 1})
        if (n + d < total) want.push_back(n + d);
  std::mt19937 rng(99);
  for (int i = 0; i < 30; ++i) want.push_back(int(rng() % unsigned(total)));
  want.push_back(total - 1);
  const Shown s = dev_frames("frame " + sh_quote(file) + join(want));
  ASSERT_EQ(s.numbers, want);
  expect_frames_match(s, ref, "hd search");
  const Shown b = dev_frames("walk " + sh_quote(file) + " " + std::to_string(total - 1) + " 0");
  EXPECT_EQ(int(b.numbers.size()), total);
  expect_frames_match(b, ref, "hd backward");
}

TEST(FrameAccess, PulldownCountsDisplayedFieldsBothWays) {
  const std::string file = fixture("pd.m2v");
  const Reference coded = decode_reference(file);
  const Reference ref = decode_reference(file, "repeatfields");
  const int pictures = coded.frames();
  const int frames = ref.frames();
  ASSERT_EQ(frames, pictures * 5 / 4) << "3:2 pulldown: 4 pictures make 5 frames";
  Shown f = dev_frames("walk " + sh_quote(file) + " 0 " + std::to_string(frames - 1));
  ASSERT_EQ(int(f.numbers.size()), frames);
  expect_frames_match(f, ref, "pulldown forward");
  Shown b = dev_frames("walk " + sh_quote(file) + " " + std::to_string(frames - 1) + " 0");
  ASSERT_EQ(int(b.numbers.size()), frames);
  expect_frames_match(b, ref, "pulldown backward");
  // The index was numbered once, when it was cached: a new clip walks no GOP.
  {
    MPEG_Clip c;
    c.set_file_name(file.c_str());
    c.clip_type = 3;
    int err = 1;
    DTV d(&c, &err, 0);
    ASSERT_EQ(err, 0);
    DTV e(&c, &err, 0);
    ASSERT_EQ(err, 0);
    EXPECT_EQ(e.get_goplist()->get_parse_count(), 0);
    EXPECT_EQ(e.get_clip_frames(), frames);
  }
  // Searching gives the same pictures as stepping.
  std::vector<int> want = {0, 1, 2, 3, 4, 5, 9, 17, frames - 1, 22};
  const Shown s = dev_frames("frame " + sh_quote(file) + join(want));
  ASSERT_EQ(s.numbers, want);
  expect_frames_match(s, ref, "pulldown search");
}

TEST(FrameAccess, ClipRangeIsExactInBothDirections) {
  const std::string file = fixture("fa_long.m2v");
  const Reference ref = decode_reference(file);
  ASSERT_GT(ref.frames(), 413);
  const std::string clip = " --clip 37:412";
  Shown f = dev_frames("walk " + sh_quote(file) + " 0 375" + clip);
  ASSERT_EQ(int(f.numbers.size()), 376);
  EXPECT_EQ(f.numbers.front(), 0);
  EXPECT_EQ(f.numbers.back(), 375);
  expect_frames_match(f, ref, "clip forward", 37);
  Shown b = dev_frames("walk " + sh_quote(file) + " 375 0" + clip);
  ASSERT_EQ(int(b.numbers.size()), 376);
  EXPECT_EQ(b.numbers.back(), 0);
  expect_frames_match(b, ref, "clip backward", 37);
  // Frame access clamps searches beyond either end...
  MPEG_Clip c;
  c.set_file_name(file.c_str());
  c.clip_type = 3;
  c.start = 37;
  c.count = 376;
  int err = 1;
  DTV d(&c, &err, 0);
  ASSERT_EQ(err, 0);
  d.search(100000, 1);
  EXPECT_EQ(d.get_position(), 375);
  d.search(-3, 1);
  EXPECT_EQ(d.get_position(), 0);
  // ...which the tool reports instead of showing another frame.
  for (const char* n : {"100000", "-3", "376"}) {
    std::string text;
    EXPECT_EQ(run(sh_quote(dev_tool()) + " frame " + sh_quote(file) + " " + n + clip + " --out /dev/null 2>&1", &text), 1);
    EXPECT_NE(text.find(std::string("frame ") + n + " outside 0..375"), std::string::npos) << text;
  }
}

MPEG_Clip clip_of(const std::string& file, int type) {
  MPEG_Clip c;
  c.set_file_name(file.c_str());
  c.clip_type = type;
  return c;
}

TEST(FrameAccess, EachPictureIsDecodedOncePerLoad) {
  for (const char* name : {"m2c.m2v", "cg.m2v"}) {
    const std::string file = fixture(name);
    int err = 1;
    MPEG_Clip c = clip_of(file, 3);
    DTV fwd(&c, &err, 0);
    ASSERT_EQ(err, 0);
    const int frames = fwd.get_clip_frames();
    while (fwd.forward(1) == 1) {
    }
    EXPECT_EQ(fwd.get_position(), frames - 1);
    EXPECT_EQ(fwd.get_decode_count(), frames) << name << ": walking forward decodes every picture once";

    DTV back(&c, &err, 0);
    ASSERT_EQ(err, 0);
    back.search(frames - 1, 1);
    const int start = back.get_decode_count();
    int steps = 0;
    while (back.backward(1) == 1) ++steps;
    EXPECT_EQ(steps, frames - 1);
    EXPECT_EQ(back.get_position(), 0);
    // Every picture once, plus what the first search needed (one GOP's
    // references, or two for an open GOP).
    EXPECT_LE(back.get_decode_count() - start, frames) << name;
  }
}

TEST(FrameAccess, ReopeningAnotherRangeOfTheSameFileOnlySeeks) {
  MPEG_Clip c = clip_of(fixture("fa_long.m2v"), 3);
  int err = 1;
  DTV d(&c, &err, 0);
  ASSERT_EQ(err, 0);
  GOPList* index = d.get_goplist();
  MPEG_Clip part = c;
  part.set_range(100, 199);
  ASSERT_EQ(d.init(&part), 0);
  EXPECT_EQ(d.get_goplist(), index) << "the index is kept";
  EXPECT_EQ(d.get_clip_frames(), 100);
  EXPECT_EQ(d.get_position(), 0);
  EXPECT_EQ(d.get_screen()->stream_frame(), 100);
}

TEST(FrameAccess, SecondOpenReusesTheCachedIndex) {
  const std::string file = temp_dir() + "/reuse.m2v";
  ASSERT_EQ(run("cp " + sh_quote(fixture("fa_long.m2v")) + " " + sh_quote(file)), 0);
  const int built = GoplistCache::instance().built_count();
  MPEG_Clip c = clip_of(file, 3);
  int err = 1;
  auto count_records = [](GOPList* l) {
    int n = 0;
    for (const LGOP* r = l->first(); r; r = r->next) ++n;
    return n;
  };
  int first_records = 0;
  {
    DTV a(&c, &err, 0);
    ASSERT_EQ(err, 0);
    first_records = count_records(a.get_goplist());
    a.search(250, 1);
    a.search(400, 1);
  }
  EXPECT_EQ(GoplistCache::instance().built_count(), built + 1);
  DTV b(&c, &err, 0);
  ASSERT_EQ(err, 0);
  EXPECT_EQ(GoplistCache::instance().built_count(), built + 1) << "no second index of the same file";
  EXPECT_EQ(b.get_goplist()->get_parse_count(), 0) << "the copy parsed no GOP";
  EXPECT_GT(count_records(b.get_goplist()), first_records) << "GOPs learnt by the closed copy are known";
}

TEST(FrameAccess, OverlaysCoverExactlyTheirFrames) {
  const std::string file = fixture("fa_long.m2v");
  MPEG_Clip c = clip_of(file, 3);
  c.start = 0;
  c.count = 500;
  ASSERT_EQ(c.insert_overlay(8, 10, 10), 1);  // Beginning Fade over 10..19
  const auto title = OverlayClip::with_image(fixture("fa_title.bmp").c_str(), 0, 30, 5, 7);
  ASSERT_TRUE(title);
  ASSERT_EQ(c.add_overlay_record(*title), 1);
  int err = 1;
  DTV d(&c, &err, 0);
  ASSERT_EQ(err, 0);
  for (int n = 7; n <= 37; ++n) {
    ASSERT_EQ(d.search(n, 1), n);
    Frame* plain = d.get_screen();
    Frame* shown = d.create_screen();
    const bool covered = (n >= 10 && n < 20) || (n >= 30 && n < 35);
    EXPECT_EQ(shown != plain, covered) << n;
    if (!covered) continue;
    const size_t bytes = size_t(plain->y_size());
    const double p = psnr(shown->y_plane(), plain->y_plane(), bytes);
    EXPECT_LT(p, 40.0) << "frame " << n << " was not changed by its overlay";
  }
  // The title's white box is keyed over the picture, its black around it is not.
  ASSERT_EQ(d.search(31, 1), 31);
  Frame* plain = d.get_screen();
  const uint8_t outside = plain->y_plane()[20 * plain->padded_width() + 20];
  Frame* shown = d.create_screen();
  EXPECT_GT(shown->y_plane()[120 * shown->padded_width() + 150], 200);
  EXPECT_EQ(shown->y_plane()[20 * shown->padded_width() + 20], outside);
}

TEST(FrameAccess, DamagedStreamsGiveUsableClips) {
  const std::vector<uint8_t> good = read_file(fixture("m2c.m2v"));
  ASSERT_GT(good.size(), 10000u);
  const std::string dir = temp_dir();
  std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
  cases.push_back({"half.m2v", std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2))});
  cases.push_back({"head.m2v", std::vector<uint8_t>(good.begin(), good.begin() + 3000)});
  std::vector<uint8_t> flipped = good;
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) flipped[200 + rng() % (flipped.size() - 200)] ^= uint8_t(1 << (rng() % 8));
  cases.push_back({"flipped.m2v", flipped});
  std::vector<uint8_t> garbage(5000);
  for (auto& b : garbage) b = uint8_t(rng());
  cases.push_back({"garbage.m2v", garbage});
  for (auto& [name, bytes] : cases) {
    const std::string file = dir + "/" + name;
    ASSERT_TRUE(write_file(file, bytes));
    MPEG_Clip c = clip_of(file, 3);
    int err = 1;
    DTV d(&c, &err, 0);
    if (err) continue;  // refused cleanly
    const int frames = d.get_clip_frames();
    ASSERT_GT(frames, 0) << name;
    EXPECT_EQ(d.search(100000, 1), frames - 1) << name;
    d.search(0, 1);
    for (int i = 0; i < frames + 2; ++i) d.forward(1);
    for (int i = 0; i < frames + 2; ++i) d.backward(1);
    for (int n : {frames / 2, frames - 1, 1}) d.search(n, 1);
  }
  // A truncated stream still shows the frames it holds.
  MPEG_Clip c = clip_of(dir + "/half.m2v", 3);
  int err = 1;
  DTV d(&c, &err, 0);
  ASSERT_EQ(err, 0);
  EXPECT_GE(d.get_clip_frames(), 30);
}

TEST(FrameAccess, StillClipStepResults) {
  MPEG_Clip c = clip_of(fixture("fa_title.bmp"), 12);
  c.start = 0;
  c.count = 100;
  int err = 1;
  DTV d(&c, &err, 0);
  ASSERT_EQ(err, 0);
  EXPECT_EQ(d.search(98, 1), 98);
  EXPECT_EQ(d.forward(1), 0);  // lands exactly on the last frame
  EXPECT_EQ(d.get_position(), 99);
  EXPECT_EQ(d.forward(1), -1);
  EXPECT_EQ(d.get_position(), 99);
  EXPECT_EQ(d.backward(1), -1);
  EXPECT_EQ(d.get_position(), 98);
  EXPECT_EQ(d.backward(200), -102);
  EXPECT_EQ(d.get_position(), 0);
  ASSERT_NE(d.get_screen(), nullptr);
  EXPECT_EQ(d.get_screen()->get_width(), 352);
}

// An odd-sized still keeps its last chroma column and row in the frame.
TEST(FrameAccess, OddSizedStillKeepsLastChromaColumnAndRow) {
  const std::string file = fixture("pic_odd_im24.bmp");
  StillPicture pic;
  ASSERT_NE(load_still_picture(file.c_str(), &pic), 0);
  ASSERT_EQ(pic.width % 2, 1);
  ASSERT_EQ(pic.height % 2, 1);
  MPEG_Clip c = clip_of(file, 12);
  c.start = 0;
  c.count = 10;
  int err = 1;
  DTV d(&c, &err, 0);
  ASSERT_EQ(err, 0);
  const Frame* f = d.get_screen();
  ASSERT_NE(f, nullptr);
  const YuvPlanes p = pic.planes();
  const int cx = (pic.width - 1) / 2, cy = (pic.height - 1) / 2;
  for (int y = 0; y <= cy; ++y) {
    EXPECT_EQ(f->cb_plane()[size_t(y) * f->c_width() + cx], p.cb[size_t(y) * p.c_stride + cx]) << "row " << y;
    EXPECT_EQ(f->cr_plane()[size_t(y) * f->c_width() + cx], p.cr[size_t(y) * p.c_stride + cx]) << "row " << y;
  }
  for (int x = 0; x <= cx; ++x)
    EXPECT_EQ(f->cb_plane()[size_t(cy) * f->c_width() + x], p.cb[size_t(cy) * p.c_stride + x]) << "column " << x;
}

// Regression: a JPEG still or a QuickTime JPEG sample became a movie frame
// with its full-range planes unchanged (blacks too dark, colours too strong).
// The frame shown equals ffmpeg's video-range conversion of the picture.
TEST(FrameAccess, JpegStillsAndSamplesBecomeVideoRangeFrames) {
  const std::string dir = temp_dir();
  struct Case {
    const char* file;
    int number;  // frame asked for (the sample of a movie)
    int w, h;
  } cases[] = {{"jpg_ff420.jpg", 0, 352, 288}, {"jpg_ff422.jpg", 0, 352, 288}, {"jpg_ff444.jpg", 0, 352, 288},
               {"jpg_ffgray.jpg", 0, 352, 288}, {"jpg_cj420.jpg", 3, 352, 288}, {"mov_mjpeg.mov", 17, 320, 240}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::vector<std::string> lines;
    ASSERT_EQ(dev("frame " + fixture(c.file) + " " + std::to_string(c.number) + " --out " + dir + "/f.yuv", &lines),
              0);
    const auto out = read_file(dir + "/f.yuv");
    const std::string base = std::string(c.file).substr(0, std::string(c.file).rfind('.'));
    const auto ref = read_file(fixture(base + ".video.yuv"));
    const size_t ys = size_t(c.w) * c.h, fs = ys * 3 / 2;
    ASSERT_EQ(out.size(), fs);
    const size_t at = base == "mov_mjpeg" ? fs * size_t(c.number) : 0;
    ASSERT_GE(ref.size(), at + fs);
    EXPECT_GE(psnr(out.data(), ref.data() + at, ys), 40.0);
    EXPECT_GE(psnr(out.data() + ys, ref.data() + at + ys, fs - ys), 40.0);
    const auto [lo, hi] = std::minmax_element(out.begin(), out.begin() + long(ys));
    EXPECT_GE(*lo, 16);
    EXPECT_LE(*hi, 235);
  }
}

// Regression: a damaged first sequence header claiming 16383 x 16383 made
// `frame` and `walk` take 4.8-5.9 GB, one claiming 4095 x 4095 330 MB for a
// 352 x 288 stream. The first is refused with a message; with the second
// only the pictures that are decoded get frames, each at the size of the
// header in force for its GOP, and the later GOPs decode as the true stream.
TEST(FrameAccess, DamagedPictureSizeClaims) {
  {
    MPEG_Clip c = clip_of(fixture("size_16383.m2v"), 3);
    TraceCapture trace;
    int err = 0;
    DTV d(&c, &err, 0);
    EXPECT_EQ(err, 1);
    EXPECT_EQ(d.get_frame_bytes(), 0u);
    EXPECT_TRUE(trace.contains("picture size 16383 x 16383 is beyond every MPEG level"));
    std::vector<std::string> lines;
    const std::string out = temp_dir() + "/big.yuv";
    EXPECT_EQ(dev("frame " + fixture("size_16383.m2v") + " 0 --out " + out, &lines), 1);
    EXPECT_EQ(dev("walk " + fixture("size_16383.m2v") + " 0 10 --out " + out, &lines), 1);
    EXPECT_EQ(dev("decode " + fixture("size_16383.m2v") + " " + out, &lines), 1);
    // The decoder on its own keeps a token size rather than tables for the claim.
    PicDecoder dec(nullptr);
    EXPECT_EQ(dec.set_size(16383, 16383, 1), 1);
    EXPECT_EQ(dec.get_padded_width(), 16);
    // The largest child so far (these two; a 16383 x 16383 frame alone is 400 MB).
    rusage ru{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &ru), 0);
    EXPECT_LT(ru.ru_maxrss, 200L * 1024) << "kB";
  }
  MPEG_Clip real_clip = clip_of(fixture("size_real.m2v"), 3);
  MPEG_Clip claim_clip = clip_of(fixture("size_4095.m2v"), 3);
  int err = 1;
  DTV real(&real_clip, &err, 0);
  ASSERT_EQ(err, 0);
  DTV claim(&claim_clip, &err, 0);
  ASSERT_EQ(err, 0);
  ASSERT_EQ(claim.get_clip_frames(), real.get_clip_frames());
  // Frame 0 is the first I picture: one pool frame of the claimed size.
  const size_t big = size_t(4096) * 4096 * 3 / 2 + 32;
  EXPECT_EQ(claim.get_frame_bytes(), big);
  for (int n = 30; n < claim.get_clip_frames(); ++n) {
    ASSERT_EQ(real.search(n, 1), n);
    ASSERT_EQ(claim.search(n, 1), n);
    const Frame* a = real.get_screen();
    const Frame* b = claim.get_screen();
    ASSERT_EQ(b->padded_width(), a->padded_width()) << n;
    ASSERT_TRUE(std::equal(a->buffer(), a->buffer() + a->y_size(), b->buffer())) << "frame " << n;
  }
  EXPECT_LE(claim.get_frame_bytes(), real.get_frame_bytes());
  EXPECT_LT(real.get_frame_bytes(), 16 * (size_t(352) * 288 * 3 / 2 + 32));
  // Back over the size change: the pictures predicting across it use no
  // frame of the other geometry.
  while (claim.backward(1) > 0) {
  }
  EXPECT_EQ(claim.get_position(), 0);
}

// Reader-backed clips: stepping and searching give the same pictures.
TEST(FrameAccess, SequenceClipsStepAndSearchAlike) {
  for (auto [name, type] : {std::pair<const char*, int>{"avi_bgr24.avi", 14}, {"mov_mjpeg.mov", 13}}) {
    MPEG_Clip c = clip_of(fixture(name), type);
    int err = 1;
    DTV d(&c, &err, 0);
    ASSERT_EQ(err, 0) << name;
    const int frames = d.get_clip_frames();
    ASSERT_GT(frames, 2) << name;
    std::vector<std::vector<uint8_t>> stepped;
    auto grab = [&]() {
      Frame* f = d.get_screen();
      return std::vector<uint8_t>(f->y_plane(), f->y_plane() + f->y_size());
    };
    stepped.push_back(grab());
    while (d.forward(1) > 0) stepped.push_back(grab());
    EXPECT_EQ(int(stepped.size()), frames) << name;
    EXPECT_EQ(d.forward(1), 0);
    for (int n = frames - 1; n >= 0; --n) {
      EXPECT_EQ(d.search(n, 1), n);
      EXPECT_EQ(grab(), stepped[size_t(n)]) << name << " frame " << n;
    }
    d.search(frames - 1, 1);
    int back = 0;
    while (d.backward(1) > 0) ++back;
    EXPECT_EQ(back, frames - 1) << name;
    EXPECT_GT(d.get_frame_rate(), 0.0);
  }
}

TEST(MinimumRates, MuxRateArithmetic) {
  const int video[1] = {2015 * 8 * 100};
  const int vtype[1] = {3};
  // 100 packs of 2048 bytes per second, plus the system header's share.
  EXPECT_EQ(program_min_mux_rate(6, 1, video, vtype), 1638800);
  const int two[2] = {1150000, 224000};
  const int types[2] = {2, 1};
  EXPECT_EQ(program_min_mux_rate(5, 2, two, types), 1411200);
  EXPECT_EQ(program_min_mux_rate(5, 1, two, types), program_min_mux_rate(4, 1, two, types));
  TraceCapture trace;
  const int audio_type[1] = {1};
  EXPECT_EQ(program_min_mux_rate(6, 1, two + 1, audio_type), 0);
  EXPECT_TRUE(trace.contains("ERROR (program_min_mux_rate): NO audio-only muxing\n"));
  EXPECT_EQ(transport_min_mux_rate(0, nullptr, nullptr), 3200);
  // One 3653-byte PES packet per second: 20 transport packets, PAT and PMT.
  const int one_pes[1] = {3653 * 8};
  EXPECT_EQ(transport_min_mux_rate(1, one_pes, vtype), 33200);
}

TEST(MinimumRates, VideoOnlyClipHasNoVideoCdRate) {
  MPEG_Clip c = clip_of(fixture("m1c.m1v"), 2);
  int out[5] = {};
  ASSERT_EQ(dtv_minimum_output_bit_rate(&c, out), 0);
  EXPECT_EQ(out[0], 1150000);
  EXPECT_GT(out[1], out[0]);
  EXPECT_EQ(out[2], 0);
  EXPECT_GT(out[3], out[0]);
  EXPECT_GT(out[4], out[0]);
  MPEG_Clip missing = clip_of("/nonexistent.m1v", 2);
  TraceCapture trace;
  EXPECT_EQ(dtv_minimum_output_bit_rate(&missing, out), 1);
  EXPECT_TRUE(trace.contains("dtv_minimum_output_bit_rate (ERROR): DTV ctor failed\n"));
}

TEST(FrameAccess, ModesAndLoadIds) {
  MPEG_Clip c = clip_of(fixture("m2c.m2v"), 3);
  int err = 1;
  DTV d(&c, &err, 0);
  ASSERT_EQ(err, 0);
  TraceCapture trace;
  EXPECT_EQ(d.load_gop(3, 0, 1), 0);
  EXPECT_TRUE(trace.contains("DTV::load_gop (): illegal load id=3\n"));
  EXPECT_EQ(d.get_play_mode(), 25);
  d.search(10, 1);
  EXPECT_EQ(d.forward(5), 5);
  EXPECT_EQ(d.get_position(), 15);
  EXPECT_EQ(d.forward(-1), 0);
  EXPECT_TRUE(trace.contains("ERROR (DTV::forward): negative increment = -1\n"));
  EXPECT_EQ(d.get_position(), 15);
  EXPECT_EQ(d.backward(3), 3);
  EXPECT_EQ(d.get_position(), 12);
  // Without the exact bit an increment moves one picture.
  d.set_play_mode(16 + 8);
  EXPECT_EQ(d.forward(5), 1);
  EXPECT_EQ(d.get_position(), 13);
  // A non-exact search shows the GOP's I picture.
  d.set_play_mode(25);
  const int shown = d.search(20, 0);
  EXPECT_LE(shown, 20);
  EXPECT_EQ(d.get_screen()->picture_coding_type(), 1);
}

}  // namespace

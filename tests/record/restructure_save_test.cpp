// A save in restructure mode of a source with 30-picture GOPs to a DVD
// program stream: no output GOP above 18 pictures at 29.97 frames per
// second, a sequence header before each, every frame kept (copied ones bit
// for bit, the re-encoded I pictures close to their source), and dvdauthor
// takes the result. Ranges that start and end inside the long GOPs show
// each kept source frame once, in order.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support.h"

namespace {

using namespace tsupport;

std::vector<uint8_t> gray_frames(const std::string& file, const std::string& args) {
  const std::string raw = temp_dir() + "/frames.gray";
  run("ffmpeg -nostdin -v error -y -i " + sh_quote(file) + " " + args + " -f rawvideo -pix_fmt gray " + sh_quote(raw));
  return read_file(raw);
}

TEST(RestructureSave, LongGopsSplitForDvd) {
  TSUPPORT_NEED_FIXTURES("rc_g30.m2v");
  if (!have_program("ffmpeg") || !have_program("dvdauthor")) GTEST_SKIP() << "ffmpeg or dvdauthor missing";
  const std::string in = fixture("rc_g30.m2v");
  const std::string out = temp_dir() + "/restructured.vob";
  std::string text;
  ASSERT_EQ(run(sh_quote(dev_tool()) + " save " + sh_quote(in) + " " + sh_quote(out) +
                    " --keep 0:89 --kind dvd --restructure 2>&1",
                &text),
            0)
      << text;
  const std::vector<std::string> lines = split_lines(text);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(field_int(lines.back(), "frames"), 90) << text;
  EXPECT_GT(field_int(lines.back(), "reencoded"), 0) << text;

  // The video's GOPs: pictures of each and the sequence headers.
  const std::string es = temp_dir() + "/video.m2v";
  ASSERT_EQ(run("ffmpeg -nostdin -v error -y -i " + sh_quote(out) + " -c copy -f mpeg2video " + sh_quote(es)), 0);
  const std::vector<uint8_t> b = read_file(es);
  std::vector<int> gops;
  int seq = 0, seq_before_gop = 0;
  for (size_t i = 0; i + 4 <= b.size(); ++i) {
    if (b[i] || b[i + 1] || b[i + 2] != 1) continue;
    if (b[i + 3] == 0xB3) ++seq;
    if (b[i + 3] == 0xB8) {
      gops.push_back(0);
      seq_before_gop += seq > 0;
      seq = 0;
    }
    if (b[i + 3] == 0 && !gops.empty()) ++gops.back();
  }
  ASSERT_GE(gops.size(), 5u);
  int total = 0;
  for (int n : gops) {
    EXPECT_LE(n, 18);
    total += n;
  }
  EXPECT_EQ(total, 90);
  EXPECT_EQ(seq_before_gop, int(gops.size())) << "a sequence header before each GOP";

  std::string err;
  run("ffmpeg -nostdin -v error -i " + sh_quote(out) + " -f null - 2>&1", &err);
  EXPECT_EQ(err, "");
  const std::vector<uint8_t> got = gray_frames(out, ""), src = gray_frames(in, "-frames:v 90");
  const size_t size = 720 * 480;
  ASSERT_EQ(got.size(), 90 * size);
  ASSERT_EQ(src.size(), 90 * size);
  int exact = 0;
  double worst = 99;
  for (size_t k = 0; k < 90; ++k) {
    const double p = psnr(got.data() + k * size, src.data() + k * size, size);
    exact += p >= 99.0;
    worst = std::min(worst, p);
  }
  EXPECT_GT(exact, 0) << "the copied pictures before the first split are the source's";
  EXPECT_GT(worst, 40.0);

  const std::string dir = temp_dir() + "/dvd";
  std::string log;
  run("VIDEO_FORMAT=NTSC dvdauthor -o " + sh_quote(dir) + " -t " + sh_quote(out) + " 2>&1", &log);
  EXPECT_EQ(log.find("ERR:"), std::string::npos) << log;
  EXPECT_NE(log.find("fixed " + std::to_string(gops.size()) + " VOBUs"), std::string::npos) << log;
}

// Pictures of each GOP of an elementary stream.
std::vector<int> gop_pictures(const std::vector<uint8_t>& b) {
  std::vector<int> gops;
  for (size_t i = 0; i + 4 <= b.size(); ++i) {
    if (b[i] || b[i + 1] || b[i + 2] != 1) continue;
    if (b[i + 3] == 0xB8) gops.push_back(0);
    if (b[i + 3] == 0 && !gops.empty()) ++gops.back();
  }
  return gops;
}

TEST(RestructureSave, CutRangesShowEverySourceFrameOnce) {
  TSUPPORT_NEED_FIXTURES("rc_g30.m2v", "rc_g30p.m2v");
  if (!have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  struct Range {
    int a, b;
  };
  // A head longer than a GOP may be inside the open 30-picture GOP after it
  // (whose leading B pictures show frames the head re-encoded), and a GOP
  // taken whole but without those leading B pictures.
  const struct {
    const char* file;
    int w, h, frames, longest;
    std::vector<std::vector<Range>> keep;
  } sources[] = {
      {"rc_g30.m2v", 720, 480, 90, 18, {{{10, 75}}, {{5, 40}, {50, 89}}, {{29, 60}}}},
      {"rc_g30p.m2v", 720, 576, 75, 15, {{{10, 70}}}},
  };
  for (const auto& s : sources) {
    const std::string in = fixture(s.file);
    const std::vector<uint8_t> src = gray_frames(in, "");
    const size_t size = size_t(s.w) * s.h;
    ASSERT_EQ(src.size(), size_t(s.frames) * size);
    for (size_t c = 0; c < s.keep.size(); ++c) {
      std::string keep;
      std::vector<int> want;
      for (const Range& r : s.keep[c]) {
        keep += (keep.empty() ? "" : ",") + std::to_string(r.a) + ":" + std::to_string(r.b);
        for (int f = r.a; f <= r.b; ++f) want.push_back(f);
      }
      SCOPED_TRACE(std::string(s.file) + " --keep " + keep);
      const std::string out = temp_dir() + "/cut" + std::to_string(c) + ".m2v";
      std::string text;
      ASSERT_EQ(run(sh_quote(dev_tool()) + " save " + sh_quote(in) + " " + sh_quote(out) + " --keep " + keep +
                        " --kind es --restructure 2>&1",
                    &text),
                0)
          << text;
      for (int n : gop_pictures(read_file(out))) EXPECT_LE(n, s.longest);
      const std::vector<uint8_t> got = gray_frames(out, "");
      ASSERT_EQ(got.size(), want.size() * size);
      for (size_t k = 0; k < want.size(); ++k) {
        const uint8_t* o = got.data() + k * size;
        const int f = want[k];
        const double p = psnr(o, src.data() + size_t(f) * size, size);
        EXPECT_GE(p, 40.0) << "output frame " << k << " source frame " << f;
        for (int n : {f - 1, f + 1})
          if (n >= 0 && n < s.frames)
            EXPECT_LT(psnr(o, src.data() + size_t(n) * size, size), p)
                << "output frame " << k << " is closer to source frame " << n << " than to " << f;
      }
    }
  }
}

}  // namespace

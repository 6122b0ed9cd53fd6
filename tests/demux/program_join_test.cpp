// Program streams made of pieces joined one after another: by ffmpeg's
// concat demuxer (GOP time codes start again with each piece, or jump far
// ahead, while the time stamps run on, jumping by a fraction of a frame at
// each join) and by cat (both start again). The length, the GOP index, frame access and a
// save must all number the frames as a decoder shows them, one after
// another.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "demux/demuxer.h"
#include "demux/demuxer_cache.h"
#include "demux/goplist.h"
#include "ffmpeg_oracle.h"
#include "support.h"

namespace {

using tsupport::dev;
using tsupport::fixture;
using tsupport::read_file;
using tsupport::run;
using tsupport::sh_quote;
using tsupport::temp_dir;

constexpr size_t kFrameBytes = 352 * 288 * 3 / 2;
constexpr size_t kLumaBytes = 352 * 288;

struct Joined {
  const char* file;
  double rate;
  std::vector<int> joins;  // first frame of each later piece
};

const std::vector<Joined>& joined() {
  static const std::vector<Joined> cases = {
      {"pj_25x3.mpg", 25.0, {100, 200}},
      {"pj_25x2.mpg", 25.0, {65}},
      {"pj_30x3.mpg", 30000.0 / 1001.0, {75, 165}},
      {"pj_25tj.mpg", 25.0, {100}},
      {"ps_even.mpg", 25.0, {500}},
  };
  return cases;
}

bool have_fixtures() {
  return tsupport::missing_fixture({"pj_25x3.mpg", "pj_25x2.mpg", "pj_30x3.mpg", "pj_25tj.mpg", "ps_even.mpg"}).empty() &&
         tsupport::have_program("ffprobe");
}

int ffprobe_frames(const std::string& file) {
  std::string out;
  if (run("ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 " +
              sh_quote(file),
          &out) != 0)
    return -1;
  return std::atoi(out.c_str());
}

// Runs check on every joined stream with its path and ffprobe's count of
// its frames.
template <class Check>
void for_each_joined(Check check) {
  for (const Joined& c : joined()) {
    SCOPED_TRACE(c.file);
    const std::string file = fixture(c.file);
    const int total = ffprobe_frames(file);
    ASSERT_GT(total, 100);
    check(c, file, total);
  }
}

// ffmpeg's decode of the listed frames, in order.
std::vector<uint8_t> ffmpeg_frames(const std::string& file, const std::vector<int>& numbers, const std::string& out) {
  std::string select;
  for (int n : numbers) select += (select.empty() ? "" : "+") + std::string("eq(n\\,") + std::to_string(n) + ")";
  return tsupport::ffmpeg_raw(file, " -vf 'select=" + select + "'", "yuv420p", out);
}

// ours holds, in order, the frames of file with the listed numbers: each
// matches ffmpeg's decode of that number.
void expect_decoders_frames(const std::string& file, const std::vector<int>& numbers, const std::vector<uint8_t>& ours,
                            double min_db, const std::string& dir) {
  const auto ref = ffmpeg_frames(file, numbers, dir + "/ref.yuv");
  ASSERT_EQ(ref.size(), numbers.size() * kFrameBytes);
  ASSERT_EQ(ours.size(), ref.size());
  for (size_t i = 0; i < numbers.size(); ++i)
    EXPECT_GE(tsupport::psnr(ours.data() + i * kFrameBytes, ref.data() + i * kFrameBytes, kLumaBytes), min_db)
        << "frame " << numbers[i];
}

// Frames either side of every join, and the first and last ones.
std::vector<int> frames_to_check(const Joined& c, int total) {
  std::vector<int> v = {0, 1};
  for (int j : c.joins)
    for (int d = -2; d <= 1; ++d) v.push_back(j + d);
  v.push_back(total - 2);
  v.push_back(total - 1);
  return v;
}

TEST(ProgramJoins, LengthAndIndexCountTheDecodedFrames) {
  if (!have_fixtures()) GTEST_SKIP() << "fixtures or ffprobe missing";
  for_each_joined([](const Joined& c, const std::string& file, int want) {
    std::unique_ptr<DeMuxer> d(demuxer_create(file.c_str(), 0));
    ASSERT_TRUE(d);
    EXPECT_EQ(int(std::lround(d->get_total_length() * c.rate)), want);
    // The index of the first and last GOPs (numbered by the length), then
    // the frames its GOPs hold, reached by jumps to frame numbers and
    // walked one by one.
    GOPList list(file.c_str());
    ASSERT_EQ(list.build_index(), 0);
    EXPECT_EQ(list.get_total_frames(), want);
    for (int n : frames_to_check(c, want)) {
      GOP g;
      ASSERT_GE(list.get_gop(n, &g, 0, 0), 0) << n;
      EXPECT_LE(g.first_frame(), n);
      EXPECT_GT(g.end_frame(), n);
    }
    GOPList walked(file.c_str());
    ASSERT_EQ(walked.build_index(), 0);
    GOP g;
    int frames = 0, gops = 0;
    for (int n = walked.get_first_gop(&g, 0); n > 0; n = walked.next_gop(&g, 0), ++gops) {
      EXPECT_EQ(g.first_field, 2 * frames) << "gop " << gops;
      frames += g.total_fields / 2;
    }
    EXPECT_EQ(frames, want);
    EXPECT_EQ(walked.get_total_frames(), want);
  });
}

TEST(ProgramJoins, FrameNumberShowsTheDecodersFrameOfThatNumber) {
  if (!have_fixtures()) GTEST_SKIP() << "fixtures or ffprobe missing";
  const std::string dir = temp_dir();
  for_each_joined([&](const Joined& c, const std::string& file, int total) {
    const std::vector<int> numbers = frames_to_check(c, total);
    std::string args = "frame " + sh_quote(file);
    for (int n : numbers) args += " " + std::to_string(n);
    std::vector<std::string> lines;
    ASSERT_EQ(dev(args + " --out " + sh_quote(dir + "/ours.yuv"), &lines), 0);
    expect_decoders_frames(file, numbers, read_file(dir + "/ours.yuv"), 40.0, dir);
  });
}

TEST(ProgramJoins, SaveOfTheLastFramesHoldsExactlyThem) {
  if (!have_fixtures()) GTEST_SKIP() << "fixtures or ffprobe missing";
  const std::string dir = temp_dir();
  for_each_joined([&](const Joined&, const std::string& file, int total) {
    // From inside a GOP of the last piece to the last frame.
    const int first = total - 22;
    const std::string out = dir + "/tail.mpg";
    std::vector<std::string> lines;
    ASSERT_EQ(dev("save " + sh_quote(file) + " " + sh_quote(out) + " --keep " + std::to_string(first) + ":" +
                      std::to_string(total - 1) + " --kind ps --no-audio",
                  &lines),
              0);
    const auto got = tsupport::ffmpeg_raw(out, "", "yuv420p", dir + "/got.yuv");
    ASSERT_EQ(got.size(), 22 * kFrameBytes);
    std::vector<int> numbers;
    for (int n = first; n < total; ++n) numbers.push_back(n);
    // Re-encoded frames at the cut come close; copied ones are the source's.
    expect_decoders_frames(file, numbers, got, 35.0, dir);
  });
}

}  // namespace

// AVI DIB reader against ffprobe's counts and ffmpeg's RGB frames (taken
// through the bitmap colour conversion), plus damaged and unusual files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "formats/avi.h"
#include "picture/bmp.h"
#include "support/planar.h"
#include "support/support.h"

using namespace tsupport;

namespace {

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void set32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
size_t find(const std::vector<uint8_t>& d, const char* fourcc, size_t from = 0) {
  for (size_t i = from; i + 4 <= d.size(); ++i)
    if (std::memcmp(d.data() + i, fourcc, 4) == 0) return i;
  return std::string::npos;
}

// ffmpeg's BGR frame (top row first) through the bitmap conversion.
std::vector<uint8_t> expected_from_bgr(const uint8_t* bgr, int w, int h) {
  BitmapInfo info{};
  bmp_fill_dib_header(&info, 24, w, h);
  info.header.biHeight = -h;
  info.header.biClrUsed = 0;
  BMP bmp;
  EXPECT_EQ(bmp.set_dib_header(&info), 0);
  std::vector<uint8_t> rows(bgr, bgr + static_cast<size_t>(w) * h * 3);
  EXPECT_EQ(bmp.set_dib_data(rows.data(), rows.size()), 0);
  Planar out(w, h);
  EXPECT_GT(bmp.rgb2yuv(out.planes(), 0, 1), 0);
  bmp.dib_data = nullptr;
  return out.b;
}

std::vector<uint8_t> sample(Avi& avi, int n) {
  Planar p(avi.get_width(), avi.get_height());
  avi.goto_sample_planes(n, p.planes());
  return p.b;
}

// Opens bytes written to a temporary file; the status.
int open_bytes(const std::vector<uint8_t>& d, std::unique_ptr<Avi>* out = nullptr) {
  const std::string path = temp_dir() + "/t.avi";
  EXPECT_TRUE(write_file(path, d));
  int status = 0;
  auto avi = std::make_unique<Avi>(path.c_str(), &status);
  if (out) *out = std::move(avi);
  return status;
}

}  // namespace

// Counts as ffprobe has them; every sample equals ffmpeg's RGB frame
// converted the bitmap way, stepping forward and back over all of them.
TEST(AviReader, SamplesMatchFfmpegFrames) {
  struct Case {
    const char* name;
    int w, h, frames;
    double rate;
  } cases[] = {{"avi_bgr24", 320, 240, 25, 25.0}, {"avi_pal8", 160, 120, 10, 10.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = fixture(std::string(c.name) + ".avi");
    const auto ref = read_file(fixture(std::string(c.name) + ".ref.bgr"));
    const size_t fb = static_cast<size_t>(c.w) * c.h * 3;
    ASSERT_EQ(ref.size(), fb * c.frames);
    std::string count;
    ASSERT_EQ(run("ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " +
                      path,
                  &count),
              0);
    int status = 1;
    Avi avi(path.c_str(), &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(avi.video_samples, std::stoi(count));
    EXPECT_EQ(avi.video_samples, c.frames);
    EXPECT_DOUBLE_EQ(avi.get_frame_rate(), c.rate);
    std::string fr;
    ASSERT_EQ(run("ffprobe -v error -select_streams v -show_entries stream=r_frame_rate -of csv=p=0 " + path, &fr), 0);
    int num = 0, den = 1;
    ASSERT_EQ(std::sscanf(fr.c_str(), "%d/%d", &num, &den), 2);
    EXPECT_DOUBLE_EQ(avi.get_frame_rate(), static_cast<double>(num) / den);
    EXPECT_EQ(avi.get_width(), c.w);
    EXPECT_EQ(avi.get_height(), c.h);
    Planar pic(c.w, c.h);
    EXPECT_EQ(avi.goto_sample_planes(0, pic.planes()), 0);
    EXPECT_TRUE(pic.b == expected_from_bgr(ref.data(), c.w, c.h));
    for (int n = 1; n < c.frames; ++n) {
      ASSERT_EQ(avi.forward_planes(pic.planes(), 1), 1);
      EXPECT_TRUE(pic.b == expected_from_bgr(ref.data() + fb * n, c.w, c.h)) << n;
    }
    EXPECT_EQ(avi.forward_planes(pic.planes(), 1), 0);  // last: read again, not moved
    for (int n = c.frames - 2; n >= 0; --n) {
      ASSERT_EQ(avi.backward_planes(pic.planes(), 1), 1);
      EXPECT_TRUE(pic.b == expected_from_bgr(ref.data() + fb * n, c.w, c.h)) << n;
    }
    EXPECT_EQ(avi.backward_planes(pic.planes(), 1), 0);
  }
}

TEST(AviReader, AudioEntriesAndClamping) {
  const std::string path = fixture("avi_bgr24.avi");
  std::string sizes;
  ASSERT_EQ(run("ffprobe -v error -select_streams a -show_entries packet=size -of csv=p=0 " + path, &sizes), 0);
  long long total = 0;
  std::istringstream in(sizes);
  for (long long v; in >> v;) total += v;
  int status = 1;
  Avi avi(path.c_str(), &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(avi.audio_size, total);
  EXPECT_GT(avi.hdrl.audio_list_size, 0u);
  EXPECT_EQ(avi.hdrl.audio.type, 0x73647561u);  // "auds"

  Planar pic(320, 240);
  avi.goto_sample_planes(23, pic.planes());
  TraceCapture cap;
  EXPECT_EQ(avi.forward_planes(pic.planes(), 5), 1);
  EXPECT_TRUE(cap.contains("check_sample_number (): sample number=28 (total=25)"));
  EXPECT_EQ(avi.goto_sample_planes(-3, pic.planes()), 0);
  EXPECT_TRUE(cap.contains("negative sample number=-3"));
}

// Index variants that must give the same pictures: absolute offsets, a
// bitmap of the other row order, entries that are no samples.
TEST(AviReader, IndexAndOrientationVariants) {
  const auto good = read_file(fixture("avi_bgr24.avi"));
  int status = 1;
  Avi ref(fixture("avi_bgr24.avi").c_str(), &status);
  ASSERT_EQ(status, 0);
  const size_t movi = find(good, "movi");
  const size_t idx = find(good, "idx1", movi);
  ASSERT_NE(idx, std::string::npos);
  const size_t entries = le32(good.data() + idx + 4) / 16;

  auto absolute = good;
  for (size_t i = 0; i < entries; ++i) {
    uint8_t* e = absolute.data() + idx + 8 + 16 * i;
    set32(e + 8, le32(e + 8) + static_cast<uint32_t>(movi));
  }
  // ffmpeg writes top-down rows (negative height): make the bottom-up twin.
  auto flipped = good;
  const size_t strf = find(good, "strf");
  ASSERT_EQ(static_cast<int32_t>(le32(good.data() + strf + 16)), -240);
  set32(flipped.data() + strf + 16, 240);
  for (size_t i = 0; i < entries; ++i) {
    const uint8_t* e = good.data() + idx + 8 + 16 * i;
    if (e[2] != 'd') continue;
    const size_t data = movi + le32(e + 8) + 8;
    for (int r = 0; r < 240; ++r)
      std::memcpy(flipped.data() + data + r * 960, good.data() + data + (239 - r) * 960, 960);
  }
  auto other_ids = good;
  for (size_t i = 0, changed = 0; i < entries && changed < 2; ++i) {
    uint8_t* e = other_ids.data() + idx + 8 + 16 * i;
    if (e[2] == 'w') std::memcpy(e, changed++ ? "rec " : "00pc", 4);
  }
  const std::pair<const char*, const std::vector<uint8_t>*> variants[] = {
      {"absolute offsets", &absolute}, {"bottom-up rows", &flipped}, {"entries of no stream", &other_ids}};
  for (const auto& [what, data] : variants) {
    SCOPED_TRACE(what);
    std::unique_ptr<Avi> avi;
    ASSERT_EQ(open_bytes(*data, &avi), 0);
    EXPECT_EQ(avi->video_samples, 25);
    for (int n : {0, 7, 24}) EXPECT_TRUE(sample(*avi, n) == sample(ref, n)) << n;
  }
}

// A chunk shorter than a picture (a dropped frame) repeats the picture
// before it instead of reading the next chunk's bytes as pixels.
TEST(AviReader, ShortChunkRepeatsPreviousPicture) {
  auto d = read_file(fixture("avi_bgr24.avi"));
  const size_t idx = find(d, "idx1", find(d, "movi"));
  const size_t entries = le32(d.data() + idx + 4) / 16;
  int video = 0;
  for (size_t i = 0; i < entries; ++i) {
    uint8_t* e = d.data() + idx + 8 + 16 * i;
    if (e[2] == 'd' && video++ == 2) set32(e + 12, 0);
  }
  std::unique_ptr<Avi> avi;
  ASSERT_EQ(open_bytes(d, &avi), 0);
  const auto one = sample(*avi, 1);
  EXPECT_TRUE(sample(*avi, 2) == one);
  EXPECT_TRUE(sample(*avi, 3) != one);
}

TEST(AviReader, RefusesDamagedAndUnsupportedFiles) {
  const auto good = read_file(fixture("avi_bgr24.avi"));
  const size_t avih = find(good, "avih");
  const size_t strh = find(good, "strh");
  struct Case {
    const char* what;
    std::vector<uint8_t> data;
  };
  std::vector<Case> cases;
  cases.push_back({"RIFF size not the file's", [&] { auto d = good; d.push_back(0); return d; }()});
  cases.push_back({"strh of 60 bytes", [&] { auto d = good; set32(d.data() + strh + 4, 60); return d; }()});
  cases.push_back({"no index flag", [&] { auto d = good; d[avih + 8 + 12] &= ~0x10; return d; }()});
  cases.push_back({"no idx1", [&] {
                     auto d = good;
                     const size_t idx = find(d, "idx1", find(d, "movi"));
                     std::memcpy(d.data() + idx, "JUNK", 4);
                     return d;
                   }()});
  cases.push_back({"compressed video", read_file(fixture("avi_mjpeg.avi"))});
  cases.push_back({"cut short", std::vector<uint8_t>(good.begin(), good.begin() + 5000)});
  cases.push_back({"not an AVI", read_file(fixture("jpg_odd.jpg"))});
  cases.push_back({"empty", {}});
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(open_bytes(c.data), 1);
  }
  // Header decoders on every prefix of the header list.
  const uint32_t list = le32(good.data() + 16) + 8;
  for (uint32_t n = 0; n <= list; n += 5) {
    std::vector<uint8_t> part(good.begin() + 12, good.begin() + 12 + n);
    AviHdrl h;
    h.decode(part.data(), part.size());
  }
}

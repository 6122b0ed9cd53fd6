// Bitmap reading and writing against ffmpeg's and ImageMagick's files, and
// malformed files.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include <cstring>
#include <string>
#include <vector>

#include "picture/frame.h"
#include "picture/bmp.h"
#include "formats/still_loader.h"
#include "support/support.h"

using namespace tsupport;

namespace {

struct PlanePsnr {
  double y, cb, cr;
};

// Chroma of a lone last column or row is left out: ffmpeg's reference
// fills it from outside the picture.
PlanePsnr yuv420_psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int w, int h) {
  const int cw = (w + 1) / 2, ch = (h + 1) / 2;
  const size_t ys = static_cast<size_t>(w) * h, cs = static_cast<size_t>(cw) * ch;
  if (a.size() < ys + 2 * cs || b.size() < ys + 2 * cs) return {0, 0, 0};
  auto chroma = [&](size_t off) {
    std::vector<uint8_t> x, y;
    for (int r = 0; r < h / 2; ++r)
      for (int c = 0; c < w / 2; ++c) {
        x.push_back(a[off + static_cast<size_t>(r) * cw + c]);
        y.push_back(b[off + static_cast<size_t>(r) * cw + c]);
      }
    return psnr(x.data(), y.data(), x.size());
  };
  return {psnr(a.data(), b.data(), ys), chroma(ys), chroma(ys + cs)};
}

// A 24-bit bottom-up file of w x h built by hand.
std::vector<uint8_t> make_bmp24(int w, int h, uint32_t off_bits_extra = 0) {
  const int bpl = (3 * w + 3) / 4 * 4;
  std::vector<uint8_t> f(54 + off_bits_extra + static_cast<size_t>(bpl) * h, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&f[at], &v, 4); };
  f[0] = 'B';
  f[1] = 'M';
  put32(2, static_cast<uint32_t>(f.size()));
  put32(10, 54 + off_bits_extra);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(w));
  put32(22, static_cast<uint32_t>(h));
  f[26] = 1;
  f[28] = 24;
  for (int r = 0; r < h; ++r)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &f[54 + off_bits_extra + static_cast<size_t>(r) * bpl + 3 * x];
      p[0] = static_cast<uint8_t>(x * 7);
      p[1] = static_cast<uint8_t>(r * 5);
      p[2] = static_cast<uint8_t>(x + r);
    }
  return f;
}

}  // namespace

TEST(BmpOracle, ForeignFilesLoadAsFfmpegReadsThem) {
  const char* const names[] = {"pic_ff8",  "pic_ff24", "pic_ff32",    "pic_im8",     "pic_im24",     "pic_im32", "pic_td8",
                               "pic_td24", "pic_td32", "pic_gap24",   "pic_odd_im4", "pic_odd_im8",  "pic_odd_im24"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const std::string out = temp_dir() + "/out.yuv";
    std::vector<std::string> lines;
    ASSERT_EQ(dev("image " + sh_quote(fixture(std::string(name) + ".bmp")) + " " + sh_quote(out), &lines), 0);
    ASSERT_EQ(lines.size(), 1u);
    const int w = static_cast<int>(field_int(lines[0], "width")), h = static_cast<int>(field_int(lines[0], "height"));
    const bool odd = std::string(name).find("odd") != std::string::npos;
    EXPECT_EQ(w, odd ? 97 : 352);
    EXPECT_EQ(h, odd ? 61 : 288);
    const PlanePsnr p = yuv420_psnr(read_file(out), read_file(fixture(std::string(name) + ".ref.yuv")), w, h);
    EXPECT_GE(p.y, 40.0);
    // At odd sizes ffmpeg's subsampling sites chroma differently from 2x2
    // blocks; palette dither noise makes that show.
    const double chroma_floor = odd ? 28.0 : 40.0;
    EXPECT_GE(p.cb, chroma_floor);
    EXPECT_GE(p.cr, chroma_floor);
  }
}

TEST(BmpOracle, SavedFilesReadBackIdenticallyEverywhere) {
  // Our own 24-bit and 8-bit (implicit palette) files: ImageMagick, ffmpeg
  // and our loader must see the same upright pixels.
  for (int bits : {8, 24}) {
    SCOPED_TRACE(bits);
    const int w = 37, h = 21;
    BMP bmp;
    ASSERT_EQ(bmp.init_dib_header(bits, w, h), 0);
    bmp.dib_header->header.biClrUsed = 0;  // palette implied by the depth
    ASSERT_EQ(bmp.init_dib_data(), 0);
    const int bpl = bmp.get_bytes_per_line();
    for (int r = 0; r < h; ++r)
      for (int x = 0; x < w; ++x) {
        uint8_t* p = bmp.dib_data + static_cast<size_t>(r) * bpl;
        if (bits == 8) p[x] = static_cast<uint8_t>(x * 3 + r * 11);
        else for (int c = 0; c < 3; ++c) p[3 * x + c] = static_cast<uint8_t>(x * (c + 2) + r * 9);
      }
    const std::string path = temp_dir() + "/ours.bmp";
    // Memory holds the bottom row first (DIB order): save as is.
    ASSERT_GT(bmp.save(path.c_str(), 0), 0);
    const auto file = read_file(path);
    uint32_t off;
    std::memcpy(&off, &file[10], 4);
    EXPECT_EQ(off, bits == 8 ? 54u + 1024 : 54u);

    std::string im, ff;
    ASSERT_EQ(run("convert " + sh_quote(path) + " -depth 8 bgr:-", &im), 0);
    ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -i " + sh_quote(path) + " -f rawvideo -pix_fmt bgr24 -", &ff), 0);
    ASSERT_EQ(im.size(), static_cast<size_t>(w * h * 3));
    EXPECT_EQ(im, ff);
    // Top row of the picture is the last row in memory.
    BMP back;
    ASSERT_GT(back.load(path.c_str()), 0);
    for (int r = 0; r < h; ++r) {
      const uint8_t* mine = bmp.dib_data + static_cast<size_t>(h - 1 - r) * bpl;
      const uint8_t* loaded = back.dib_data + static_cast<size_t>(r) * bpl;
      ASSERT_EQ(std::memcmp(mine, loaded, bits == 8 ? w : 3 * w), 0) << "row " << r;
      if (bits == 24) {
        ASSERT_EQ(std::memcmp(mine, im.data() + static_cast<size_t>(r) * w * 3, 3 * w), 0) << "row " << r;
      } else {
        for (int x = 0; x < w; ++x) {
          const RGBQuad& c = bmp.dib_header->colors[mine[x]];
          const uint8_t* q = reinterpret_cast<const uint8_t*>(im.data()) + (static_cast<size_t>(r) * w + x) * 3;
          ASSERT_TRUE(q[0] == c.blue && q[1] == c.green && q[2] == c.red) << r << "," << x;
        }
      }
    }
    // Saving twice gives the same file; the loaded copy written bottom-up
    // again has the same pixels behind its header.
    const std::string twice = temp_dir() + "/twice.bmp";
    ASSERT_GT(bmp.save(twice.c_str(), 0), 0);
    EXPECT_EQ(read_file(twice), file);
    const std::string again = temp_dir() + "/again.bmp";
    ASSERT_GT(back.save(again.c_str(), 1), 0);
    const auto reread = read_file(again);
    ASSERT_EQ(reread.size(), file.size());
    EXPECT_TRUE(std::equal(file.begin() + 54, file.end(), reread.begin() + 54));
  }
}

TEST(Bmp, HeaderDerivedValues) {
  struct Row {
    int bits, width, bpl;
  } rows[] = {{1, 33, 8}, {4, 9, 8}, {8, 5, 8}, {16, 3, 8}, {24, 5, 16}, {32, 3, 12}, {15, 4, 0}};
  for (const Row& r : rows) EXPECT_EQ(bmp_get_bytes_per_line(r.bits, r.width), r.bpl) << r.bits;
  BMP none;
  TraceCapture cap;
  EXPECT_EQ(none.get_width(), 0);
  EXPECT_TRUE(cap.contains("BMP::get_width (ERROR): BITMAPINFO hasn't initialized"));
  EXPECT_EQ(none.get_compression(), 1);
}

TEST(Bmp, RgbToYcbcrEndpoints) {
  uint8_t y, cb, cr;
  rgb_to_ycbcr(0, 0, 0, &y, &cb, &cr);
  EXPECT_EQ(y, 16);
  EXPECT_EQ(cb, 128);
  EXPECT_EQ(cr, 128);
  rgb_to_ycbcr(255, 255, 255, &y, &cb, &cr);
  EXPECT_EQ(y, 235);
  EXPECT_EQ(cb, 128);
  EXPECT_EQ(cr, 128);
  rgb_to_ycbcr(255, 0, 0, &y, &cb, &cr);  // BT.601: 81, 90, 240
  EXPECT_NEAR(y, 81, 1);
  EXPECT_NEAR(cb, 90, 1);
  EXPECT_NEAR(cr, 240, 1);
  rgb_to_ycbcr(0, 0, 255, &y, &cb, &cr);  // 41, 240, 110
  EXPECT_NEAR(y, 41, 1);
  EXPECT_NEAR(cb, 240, 1);
  EXPECT_NEAR(cr, 110, 1);
}

TEST(Bmp, PaletteEntriesBeyondTheCountAreBlack) {
  BMP bmp;
  ASSERT_EQ(bmp.init_dib_header(8, 4, 4), 0);
  bmp.dib_header->header.biClrUsed = 2;
  bmp.dib_header->colors[0] = {255, 255, 255, 0};
  bmp.dib_header->colors[1] = {0, 0, 0, 0};
  int n = 0;
  std::unique_ptr<uint8_t[]> map(bmp.get_yuv_cmap(&n));
  ASSERT_EQ(n, 256);
  EXPECT_EQ(map[0], 235);
  EXPECT_EQ(map[3], 16);
  for (int i = 2; i < 256; ++i) ASSERT_TRUE(map[3 * i] == 0 && map[3 * i + 1] == 128 && map[3 * i + 2] == 128);
}

TEST(Bmp, CentredConversionBordersAndCrops) {
  // 6 x 4 picture of one colour into an 10 x 8 destination: centred on black.
  BMP bmp;
  ASSERT_EQ(bmp.init_dib_header(24, 6, 4), 0);
  ASSERT_EQ(bmp.init_dib_data(), 0);
  std::memset(bmp.dib_data, 200, bmp.get_dib_data_size());
  std::vector<uint8_t> buf(10 * 8 + 2 * 5 * 4, 7);
  YuvPlanes p{buf.data(), buf.data() + 80, buf.data() + 100, 10, 8, 10, 5, 1};
  ASSERT_GT(bmp.rgb2yuv(p, 0, 1), 0);
  for (int r = 0; r < 8; ++r)
    for (int x = 0; x < 10; ++x) {
      const bool inside = r >= 2 && r < 6 && x >= 2 && x < 8;
      ASSERT_EQ(buf[r * 10 + x], inside ? 188 : 0) << r << "," << x;
    }
  for (int r = 0; r < 4; ++r)
    for (int x = 0; x < 5; ++x) ASSERT_EQ(buf[80 + r * 5 + x], 128);
  // A larger source gives its centre: columns 2..5 of an 8-wide ramp.
  BMP big;
  ASSERT_EQ(big.init_dib_header(24, 8, 2), 0);
  ASSERT_EQ(big.init_dib_data(), 0);
  for (int x = 0; x < 8; ++x)
    for (int r = 0; r < 2; ++r) std::memset(big.dib_data + r * 24 + 3 * x, x * 30, 3);
  std::vector<uint8_t> small(4 * 2 + 2 * 2, 0);
  YuvPlanes q{small.data(), small.data() + 8, small.data() + 10, 4, 2, 4, 2, 1};
  ASSERT_GT(big.rgb2yuv(q, 0, 1), 0);
  uint8_t y2, cb, cr;
  rgb_to_ycbcr(60, 60, 60, &y2, &cb, &cr);
  EXPECT_EQ(small[0], y2);
}

TEST(BmpMalformed, RefusedCleanly) {
  const std::string dir = temp_dir();
  auto good = make_bmp24(16, 8);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"header only", std::vector<uint8_t>(good.begin(), good.begin() + 54)});
  cases.push_back({"truncated pixels", std::vector<uint8_t>(good.begin(), good.end() - 10)});
  auto bad_magic = good;
  bad_magic[0] = 'X';
  cases.push_back({"magic", bad_magic});
  auto huge = good;
  const int32_t big = 0x40000000;
  std::memcpy(&huge[18], &big, 4);
  std::memcpy(&huge[22], &big, 4);
  cases.push_back({"oversized", huge});
  auto mono_huge = good;  // 1 bit per pixel: few bytes, absurd picture
  const int32_t side = 30000;
  mono_huge[28] = 1;
  std::memcpy(&mono_huge[18], &side, 4);
  std::memcpy(&mono_huge[22], &side, 4);
  cases.push_back({"too many pixels", mono_huge});
  auto negw = good;
  const int32_t minus = -16;
  std::memcpy(&negw[18], &minus, 4);
  cases.push_back({"negative width", negw});
  auto zeroh = good;
  std::memset(&zeroh[22], 0, 4);
  cases.push_back({"zero height", zeroh});
  auto rle = good;
  rle[30] = 1;
  cases.push_back({"compressed", rle});
  auto bits = good;
  bits[28] = 7;
  cases.push_back({"depth", bits});
  std::vector<uint8_t> garbage(5000);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 131 + 7);
  garbage[0] = 'B';
  garbage[1] = 'M';
  cases.push_back({"garbage", garbage});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir + "/bad.bmp";
    ASSERT_TRUE(write_file(path, c.bytes));
    BMP bmp;
    // A failed load keeps what the object held before.
    ASSERT_EQ(bmp.init_dib_header(24, 3, 3), 0);
    EXPECT_EQ(bmp.load(path.c_str()), 0);
    EXPECT_EQ(bmp.get_width(), 3);
    EXPECT_EQ(load_bmp_image(path.c_str()), nullptr);
    std::vector<std::string> lines;
    EXPECT_NE(dev("image " + sh_quote(path) + " " + sh_quote(dir + "/o.yuv") + " 2>/dev/null", &lines), 0);
  }
  // The intact file loads, into a 4:2:0 frame of its size.
  ASSERT_TRUE(write_file(dir + "/good.bmp", good));
  std::unique_ptr<Frame> f(load_bmp_image((dir + "/good.bmp").c_str()));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->get_width(), 16);
  EXPECT_EQ(f->get_height(), 8);
  EXPECT_EQ(f->chroma_format(), 1);
}

TEST(Bmp, PixelsStartAtOffBits) {
  const std::string dir = temp_dir();
  auto plain = make_bmp24(8, 4), gapped = make_bmp24(8, 4, 40);
  ASSERT_TRUE(write_file(dir + "/a.bmp", plain));
  ASSERT_TRUE(write_file(dir + "/b.bmp", gapped));
  BMP a, b;
  ASSERT_GT(a.load((dir + "/a.bmp").c_str()), 0);
  ASSERT_GT(b.load((dir + "/b.bmp").c_str()), 0);
  EXPECT_EQ(std::memcmp(a.dib_data, b.dib_data, a.get_dib_data_size()), 0);
}

TEST(Bmp, ShortWriteFails) {
  BMP bmp;
  ASSERT_EQ(bmp.init_dib_header(24, 64, 64), 0);
  ASSERT_EQ(bmp.init_dib_data(), 0);
  const std::string path = temp_dir() + "/short.bmp";
  // A file size limit makes the writes come up short (EFBIG).
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit lim = {4096, old.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
  TraceCapture cap;
  const long long written = bmp.save(path.c_str(), 0);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(written, 0);
  EXPECT_TRUE(cap.contains("BMP::save (ERROR: fwrite ()): <" + path + ">"));
  EXPECT_FALSE(std::filesystem::exists(path));  // no partial file left
  BMP empty;
  EXPECT_EQ(empty.save((temp_dir() + "/x.bmp").c_str(), 0), 0);
}

TEST(BmpOracle, PaletteDepthsUnpackAsImageMagickDecodes) {
  // 1-, 4- and 8-bit files of widths 1..9 and odd heights: every pixel's
  // palette colour equals ImageMagick's reading of the file.
  const std::string dir = temp_dir();
  int checked = 0;
  for (int colors : {2, 16, 200}) {
    for (int w = 1; w <= 9; ++w) {
      const int h = 2 * w + 1;
      const std::string path = dir + "/p" + std::to_string(colors) + "_" + std::to_string(w) + ".bmp";
      ASSERT_EQ(run("convert -size " + std::to_string(w) + "x" + std::to_string(h) +
                    " plasma:fractal -seed 5 -colors " + std::to_string(colors) +
                    " -type palette -compress none BMP3:" + sh_quote(path) + " 2>/dev/null"),
                0);
      BMP bmp;
      ASSERT_GT(bmp.load(path.c_str()), 0) << path;
      const int bits = bmp.get_bits_per_pixel();
      if (bits > 8) continue;
      std::string im;
      ASSERT_EQ(run("convert " + sh_quote(path) + " -depth 8 bgr:-", &im), 0);
      ASSERT_EQ(im.size(), static_cast<size_t>(w * h * 3));
      const int bpl = bmp.get_bytes_per_line();
      for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x) {
          const uint8_t* row = bmp.dib_data + static_cast<size_t>(r) * bpl;
          int idx = bits == 8 ? row[x] : bits == 4 ? (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15 : (row[x >> 3] >> (7 - (x & 7))) & 1;
          const RGBQuad& c = bmp.dib_header->colors[idx];
          const auto* q = reinterpret_cast<const uint8_t*>(im.data()) + (static_cast<size_t>(r) * w + x) * 3;
          ASSERT_TRUE(q[0] == c.blue && q[1] == c.green && q[2] == c.red) << path << " " << r << "," << x;
        }
      // The 4:2:0 conversion reads the same indexes.
      StillPicture pic;
      ASSERT_EQ(load_still_picture(path.c_str(), &pic), 12);
      uint8_t y, cb, cr;
      const RGBQuad& c0 = bmp.dib_header->colors[bits == 8 ? bmp.dib_data[0] : bits == 4 ? bmp.dib_data[0] >> 4 : bmp.dib_data[0] >> 7];
      rgb_to_ycbcr(c0.red, c0.green, c0.blue, &y, &cb, &cr);
      EXPECT_EQ(pic.yuv[0], y);
      ++checked;
    }
  }
  EXPECT_GE(checked, 18);
}

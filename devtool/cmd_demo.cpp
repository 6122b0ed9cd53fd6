// demo [DIR]: a frame-accurate save shown end to end. Our own encoder makes
// a 12-second 720x576 MPEG-2 sample of a moving picture with its frame
// number drawn (in digits and as 16 black or white boxes, bit 0 left), then
// three ranges cut inside GOPs are saved through the save pipeline as a DVD
// program stream.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "demux/goplist.h"
#include "demux/goplist_cache.h"
#include "devtool/command.h"
#include "encode/enc_sequence.h"
#include "encode/encoder.h"
#include "foundation/seq_header.h"
#include "picture/frame.h"

namespace {

constexpr int kWidth = 720, kHeight = 576, kFrames = 300;
// Kept ranges: each starts and ends inside a GOP of 12.
constexpr const char* kRanges = "20:97,130:181,229:287";

void box(Frame& f, int x0, int y0, int w, int h, uint8_t luma) {
  const int stride = f.padded_width();
  const int x1 = std::min(kWidth, x0 + w);
  x0 = std::max(0, x0);
  if (x1 <= x0) return;
  for (int y = std::max(0, y0); y < std::min(kHeight, y0 + h); ++y)
    std::memset(f.y_plane() + ptrdiff_t(y) * stride + x0, luma, size_t(x1 - x0));
}

// Seven segments of the digits, bit 0 top, then clockwise, bit 6 middle.
constexpr uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

void digit(Frame& f, int x, int y, int d) {
  const int w = 40, h = 70, t = 9;
  const uint8_t s = kSegments[d];
  if (s & 1) box(f, x, y, w, t, 235);
  if (s & 2) box(f, x + w - t, y, t, h / 2, 235);
  if (s & 4) box(f, x + w - t, y + h / 2, t, h / 2, 235);
  if (s & 8) box(f, x, y + h - t, w, t, 235);
  if (s & 16) box(f, x, y + h / 2, t, h / 2, 235);
  if (s & 32) box(f, x, y, t, h / 2, 235);
  if (s & 64) box(f, x, y + h / 2 - t / 2, w, t, 235);
}

void draw(Frame& f, int n) {
  const int stride = f.padded_width(), cstride = f.c_width();
  // A gradient that drifts, and a bar that sweeps across.
  const auto wave = [](int t) { return std::abs(((t % 256) + 256) % 256 - 128); };  // 0..128, no edges
  for (int y = 0; y < f.padded_height(); ++y)
    for (int x = 0; x < stride; ++x) f.y_plane()[ptrdiff_t(y) * stride + x] = uint8_t(60 + wave(x + y + 3 * n) / 2);
  for (int y = 0; y < f.c_height(); ++y)
    for (int x = 0; x < cstride; ++x) {
      f.cb_plane()[ptrdiff_t(y) * cstride + x] = uint8_t(96 + wave(2 * x + n) / 2);
      f.cr_plane()[ptrdiff_t(y) * cstride + x] = uint8_t(96 + wave(2 * y + 2 * n) / 2);
    }
  box(f, (n * 7) % kWidth, 200, 48, 220, 200);
  // The frame number: 16 boxes, then four digits.
  for (int b = 0; b < 16; ++b) box(f, 24 + 42 * b, 32, 36, 36, (n >> b) & 1 ? 235 : 16);
  box(f, 230, 90, 260, 94, 16);
  for (int k = 0, v = n, x = 420; k < 4; ++k, v /= 10, x -= 60) digit(f, x, 102, v % 10);
}

bool make_sample(const std::string& path) {
  SeqHdr seq;
  seq.setup(kWidth, kHeight, 0, 0.0, 1);
  seq.frame_rate_code = 3;
  seq.seq_ext->profile_and_level_indication = 0x48;
  seq.set_bit_rate(6000000);
  seq.vbv_buffer_size = 112;
  seq.aspect_ratio_information = 2;
  RecordVideoSetup params;
  params.mpeg1 = 0;
  params.gop_size = 12;
  params.ref_distance = 3;
  params.progressive = 0;
  params.seqhdr = &seq;
  int result = 1;
  Encoder enc(params, &result);
  if (result) return false;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  bool ok = true;
  SequenceEncoder coder(enc, 12, 3, false, false, [&](const CodedPicture& p) {
    ok &= std::fwrite(p.data, 1, p.size, out) == p.size;
    return ok;
  });
  Frame cur(kWidth, kHeight, 1, 1);
  for (int n = 0; n < kFrames && ok; ++n) {
    draw(cur, n);
    cur.set_top_field_first(1);
    cur.set_progressive_frame(0);
    cur.set_stream_frame(n);
    ok &= coder.push(cur);
  }
  ok &= coder.finish();
  ok &= std::fclose(out) == 0;
  return ok;
}

int frames_of(const std::string& path) {
  GOPList list;
  if (GoplistCache::take_from_cache(&list, path.c_str(), 0, 0) != 0) return -1;
  return list.get_total_frames();
}

int run_demo(int argc, char** argv) {
  if (argc > 2) return dev_bad_count("demo", argc);
  std::string dir;
  if (argc == 2) {
    dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return dev_fail("<%s>: cannot create the folder", dir.c_str());
  } else {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::string tmpl = (base / "tamsel-demo-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return dev_fail("<%s>: cannot create a temporary folder", tmpl.c_str());
    dir = tmpl;
  }
  const std::string sample = dir + "/sample.m2v";
  const std::string output = dir + "/demo.vob";
  if (!make_sample(sample)) return dev_fail("<%s>: the sample could not be written", sample.c_str());
  std::printf("demo sample=%s frames=%d\n", sample.c_str(), frames_of(sample));
  std::fflush(stdout);
  std::string keep = kRanges;
  std::vector<char*> args;
  const char* words[] = {"save", sample.c_str(), output.c_str(), "--keep", keep.c_str(), "--kind", "dvd", "--no-audio"};
  for (const char* w : words) args.push_back(const_cast<char*>(w));
  const int rc = dev_run("save", int(args.size()), args.data());
  std::fflush(stdout);
  if (rc != 0) return rc;
  std::printf("demo output=%s frames=%d\n", output.c_str(), frames_of(output));
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(demo, "[DIR]",
                   "makes a moving-picture sample with our encoder and saves three ranges cut inside GOPs as a DVD "
                   "program stream (into DIR, else a new temporary folder)",
                   run_demo);

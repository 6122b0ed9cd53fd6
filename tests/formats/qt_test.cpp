// QuickTime atoms and the JPEG-sample reader against ffprobe's packet list
// and ffmpeg's decode of ffmpeg-made movies, plus damaged atoms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "picture/frame.h"
#include "formats/avi.h"
#include "formats/qt_atoms.h"
#include "formats/qt_decoder.h"
#include "support/planar.h"
#include "support/support.h"

using namespace tsupport;

namespace {

void put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}
void put4(std::vector<uint8_t>& v, const char* t) { v.insert(v.end(), t, t + 4); }
// An atom of the type around the body (size field first).
std::vector<uint8_t> atom(const char* type, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> a;
  put32(a, static_cast<uint32_t>(body.size() + 8));
  put4(a, type);
  a.insert(a.end(), body.begin(), body.end());
  return a;
}
std::vector<uint8_t> table(const std::vector<uint32_t>& words) {
  std::vector<uint8_t> b;
  put32(b, 0);  // version, flags
  for (uint32_t w : words) put32(b, w);
  return b;
}
std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> r;
  for (const auto& p : parts) r.insert(r.end(), p.begin(), p.end());
  return r;
}

struct Packet {
  int64_t pos;
  uint32_t size;
};
std::vector<Packet> ffprobe_packets(const std::string& path) {
  std::string out;
  EXPECT_EQ(run("ffprobe -v error -select_streams v -show_entries packet=pos,size -of csv=p=0 " + path, &out), 0);
  std::vector<Packet> r;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    Packet p{};
    if (std::sscanf(line.c_str(), "%u,%lld", &p.size, reinterpret_cast<long long*>(&p.pos)) == 2) r.push_back(p);
  }
  return r;
}

}  // namespace

// Sample count, rate, size and bit rate as ffprobe has them; the sample
// table places every packet where ffprobe does, in both layouts.
TEST(QtDecoder, HeadersAndSampleTableMatchFfprobe) {
  for (const char* name : {"mov_mjpeg.mov", "mov_faststart.mov"}) {
    SCOPED_TRACE(name);
    const std::string path = fixture(name);
    int status = 1;
    QT_Decoder qt(path.c_str(), &status);
    ASSERT_EQ(status, 0);
    const auto packets = ffprobe_packets(path);
    ASSERT_EQ(packets.size(), 50u);
    EXPECT_EQ(qt.total_samples, 50);
    std::string fr;
    ASSERT_EQ(run("ffprobe -v error -select_streams v -show_entries stream=r_frame_rate -of csv=p=0 " + path, &fr), 0);
    int num = 0, den = 1;
    ASSERT_EQ(std::sscanf(fr.c_str(), "%d/%d", &num, &den), 2);
    EXPECT_DOUBLE_EQ(qt.frame_rate, static_cast<double>(num) / den);
    EXPECT_EQ(qt.width, 320);
    EXPECT_EQ(qt.height, 240);
    std::string rate;
    ASSERT_EQ(run("ffprobe -v error -select_streams v -show_entries stream=bit_rate -of csv=p=0 " + path, &rate), 0);
    EXPECT_NEAR(static_cast<double>(qt.bit_rate), std::stod(rate), std::stod(rate) * 0.001);
    QT_Stbl* stbl = qt.moov->find_track(kQtVideoTrack)->minf->stbl.get();
    for (size_t n = 0; n < packets.size(); ++n) {
      uint32_t size = 0;
      EXPECT_EQ(stbl->get_sample_offset(static_cast<int64_t>(n), &size), packets[n].pos) << n;
      EXPECT_EQ(size, packets[n].size) << n;
    }
    // Beyond the table: the last chunk's offset and the last size.
    uint32_t size = 0;
    stbl->get_sample_offset(1000, &size);
    EXPECT_EQ(size, packets.back().size);
    // The sound track's constant-size table is kept.
    QT_Mdia* sound = qt.moov->find_track(kQtSoundTrack);
    ASSERT_NE(sound, nullptr);
    ASSERT_TRUE(sound->minf->stbl->stsz);
    EXPECT_GT(sound->minf->stbl->stsz->sample_size, 0u);
    EXPECT_EQ(qt.sample_buffer.size() % 16384, 0u);

    int hs = 1;
    QT_Decoder header(path.c_str(), &hs, 1);
    EXPECT_EQ(hs, 0);
    EXPECT_EQ(header.total_samples, 50);
    EXPECT_FALSE(header.jpeg);
  }
}

// Every sample equals ffmpeg's video-range decode of it; stepping forward
// then back visits every sample and stops at both ends without decoding
// again.
TEST(QtDecoder, EverySampleMatchesFfmpegWhileStepping) {
  const std::string path = fixture("mov_mjpeg.mov");
  const auto ref = read_file(fixture("mov_mjpeg.video.yuv"));
  const size_t fs = 320 * 240 * 3 / 2;
  ASSERT_EQ(ref.size(), fs * 50);
  int status = 1;
  QT_Decoder qt(path.c_str(), &status);
  ASSERT_EQ(status, 0);
  Planar pic(320, 240);
  YuvPlanes p = pic.planes();
  ASSERT_EQ(qt.goto_sample_planes(0, &p), 0);
  EXPECT_GE(psnr(pic.b.data(), ref.data(), fs), 40.0);
  for (int n = 1; n < 50; ++n) {
    ASSERT_EQ(qt.forward_planes(&p, 1), 1);
    ASSERT_EQ(qt.current_sample, n);
    EXPECT_GE(psnr(pic.b.data(), ref.data() + fs * n, fs), 40.0) << n;
  }
  EXPECT_EQ(qt.forward_planes(&p, 1), 0);
  for (int n = 48; n >= 0; --n) {
    ASSERT_EQ(qt.backward_planes(&p, 1), 1);
    EXPECT_GE(psnr(pic.b.data(), ref.data() + fs * n, fs), 40.0) << n;
  }
  EXPECT_EQ(qt.backward_planes(&p, 1), 0);
  EXPECT_EQ(qt.forward_planes(&p, 100), 49);
  EXPECT_EQ(qt.backward_planes(&p, 10), 10);
  EXPECT_EQ(qt.current_sample, 39);
}

// A 'moov' found behind a 64-bit 'mdat' header (size 1): ffmpeg leaves an
// 8-byte 'wide' atom for exactly that rewrite.
TEST(QtDecoder, FindsMoovBehindLargeSizeMdat) {
  auto d = read_file(fixture("mov_mjpeg.mov"));
  ASSERT_EQ(std::memcmp(d.data() + 24, "wide", 4), 0);
  const uint32_t mdat = qt_get32(d.data() + 28);
  std::vector<uint8_t> hdr;
  put32(hdr, 1);
  put4(hdr, "mdat");
  put32(hdr, 0);
  put32(hdr, mdat + 8);
  std::copy(hdr.begin(), hdr.end(), d.begin() + 20);
  const std::string path = temp_dir() + "/big.mov";
  ASSERT_TRUE(write_file(path, d));
  int status = 1;
  QT_Decoder qt(path.c_str(), &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(qt.total_samples, 50);
}

TEST(QtDecoder, RefusesOtherCodecsAndDamagedFiles) {
  const auto good = read_file(fixture("mov_mjpeg.mov"));
  const std::string dir = temp_dir();
  struct Case {
    const char* what;
    std::vector<uint8_t> data;
  };
  std::vector<Case> cases = {
      {"png samples", read_file(fixture("mov_png.mov"))},
      {"no moov", std::vector<uint8_t>(good.begin(), good.begin() + 762219)},
      {"moov cut short", std::vector<uint8_t>(good.begin(), good.end() - 100)},
      {"not a movie", read_file(fixture("jpg_odd.jpg"))},
      {"empty", {}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir + "/c.mov";
    ASSERT_TRUE(write_file(path, c.data));
    int status = 0;
    QT_Decoder qt(path.c_str(), &status);
    EXPECT_EQ(status, 1);
  }
  int status = 0;
  QT_Decoder none((dir + "/missing.mov").c_str(), &status);
  EXPECT_EQ(status, 1);
}

// A time-to-sample count of 2^31 in a 50-sample movie (found by a sweep of
// damaged inputs: clip-list sums overflowed, and a track walk took minutes)
// counts the samples that the size table lists, not the claim.
TEST(QtDecoder, SampleCountClaimsBeyondTheTablesAreNotBelieved) {
  auto d = read_file(fixture("mov_mjpeg.mov"));
  const uint8_t kStts[4] = {'s', 't', 't', 's'};
  const auto at = std::search(d.begin(), d.end(), kStts, kStts + 4);  // the video track's, first
  ASSERT_NE(at, d.end());
  const size_t count = size_t(at - d.begin()) + 12;  // the first entry's sample count
  ASSERT_EQ(d[count - 1], 1);  // one entry
  d[count] = 0x80, d[count + 1] = 0, d[count + 2] = 0, d[count + 3] = 0;
  const std::string path = temp_dir() + "/claims.mov";
  ASSERT_TRUE(write_file(path, d));
  for (int header_only : {0, 1}) {
    int status = 1;
    QT_Decoder qt(path.c_str(), &status, header_only);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(qt.total_samples, 50);
  }
}

// A sample that does not decode clears the decoded mark, so that asking
// for it again does not hand out a damaged picture as intact.
TEST(QtDecoder, FailedSampleClearsDecodedMark) {
  auto d = read_file(fixture("mov_mjpeg.mov"));
  const auto packets = ffprobe_packets(fixture("mov_mjpeg.mov"));
  ASSERT_GT(packets.size(), 5u);
  std::fill(d.begin() + packets[5].pos, d.begin() + packets[5].pos + packets[5].size, 0);
  const std::string path = temp_dir() + "/bad.mov";
  ASSERT_TRUE(write_file(path, d));
  int status = 1;
  QT_Decoder qt(path.c_str(), &status);
  ASSERT_EQ(status, 0);
  Planar pic(320, 240);
  YuvPlanes p = pic.planes();
  EXPECT_EQ(qt.goto_sample_planes(4, &p), 0);
  TraceCapture cap;
  EXPECT_EQ(qt.goto_sample_planes(5, &p), 1);
  EXPECT_TRUE(cap.contains("couldn't decode sample #5"));
  EXPECT_EQ(qt.decoded, 0);
  EXPECT_EQ(qt.forward_planes(&p, 1), 0);
  EXPECT_EQ(qt.goto_sample_planes(6, &p), 0);
}

// Sample tables: constant sizes, chunk runs, and tables that cannot place
// a sample.
TEST(QtAtoms, SampleTables) {
  // Three chunks: 2 samples, then 3 per chunk from chunk 2 on.
  const auto stsc = atom("stsc", table({2, 1, 2, 1, 2, 3, 1}));
  const auto stco = atom("stco", table({3, 1000, 2000, 3000}));
  const auto stsz = atom("stsz", table({0, 8, 10, 11, 12, 13, 14, 15, 16, 17}));
  auto stbl_of = [&](const std::vector<uint8_t>& sz, const std::vector<uint8_t>& sc) {
    auto s = std::make_unique<QT_Stbl>();
    const auto bytes = atom("stbl", cat({sc, stco, sz}));
    EXPECT_EQ(s->decode(bytes.data(), bytes.size()), bytes.size());
    return s;
  };
  auto s = stbl_of(stsz, stsc);
  uint32_t size = 0;
  const int64_t expect[8] = {1000, 1010, 2000, 2012, 2025, 3000, 3015, 3031};
  for (int n = 0; n < 8; ++n) {
    EXPECT_EQ(s->get_sample_offset(n, &size), expect[n]) << n;
    EXPECT_EQ(size, static_cast<uint32_t>(10 + n));
  }
  int64_t first = -1;
  EXPECT_EQ(s->stsc->get_chunk_number(4, &first), 1);
  EXPECT_EQ(first, 2);

  // Constant size: every sample 100 bytes, no table.
  auto c = stbl_of(atom("stsz", table({100, 8})), stsc);
  EXPECT_EQ(c->get_sample_offset(4, &size), 2200);
  EXPECT_EQ(size, 100u);
  EXPECT_EQ(c->get_total_size(), 800);

  // Empty stsc and a zero samples-per-chunk entry are refused at decode,
  // and the lookup then says so instead of dividing by zero.
  for (const auto& bad : {atom("stsc", table({0})), atom("stsc", table({1, 1, 0, 1}))}) {
    TraceCapture cap;
    auto b = stbl_of(stsz, bad);
    EXPECT_FALSE(b->stsc);
    EXPECT_EQ(b->get_sample_offset(3, &size), 0);
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(cap.contains("not enough information"));
  }
  // Constant size and count at their largest: the total saturates.
  QT_Stsz huge;
  const auto most = atom("stsz", table({0xFFFFFFFF, 0xFFFFFFFF}));
  EXPECT_EQ(huge.decode(most.data(), most.size()), most.size());
  EXPECT_GT(huge.total_size, int64_t{1} << 50);
  // A count that disagrees with the atom size is refused.
  QT_Stco bad_stco;
  const auto wrong = atom("stco", table({5, 1, 2}));
  EXPECT_EQ(bad_stco.decode(wrong.data(), wrong.size()), 0u);
}

// Container walks stay inside each container: a child whose size runs past
// its parent ends the walk (the bytes sit in exact-size heap copies so the
// sanitizer sees any read outside).
TEST(QtAtoms, ContainersAndDamagedSizes) {
  std::vector<uint8_t> mvhd_body(100, 0);
  const auto mvhd = atom("mvhd", mvhd_body);
  const auto moov_ok = atom("moov", mvhd);
  auto decode = [](const std::vector<uint8_t>& bytes, QT_Atom& a) {
    std::unique_ptr<uint8_t[]> heap(new uint8_t[bytes.size() ? bytes.size() : 1]);
    std::copy(bytes.begin(), bytes.end(), heap.get());
    return a.decode(heap.get(), bytes.size());
  };
  QT_Moov m1;
  EXPECT_EQ(decode(moov_ok, m1), moov_ok.size());  // no track is fine
  EXPECT_TRUE(m1.traks.empty());
  QT_Moov m2;
  EXPECT_EQ(decode(atom("moov", atom("free", {1, 2, 3})), m2), 0u);  // no mvhd

  // A trak whose size field claims more than the moov holds.
  auto overrun = cat({mvhd, atom("trak", std::vector<uint8_t>(40, 0))});
  overrun[mvhd.size() + 3] = 200;
  QT_Moov m3;
  TraceCapture cap;
  EXPECT_EQ(decode(atom("moov", overrun), m3), overrun.size() + 8);
  EXPECT_TRUE(cap.contains("QT_Moov::decode (ERROR): size=200"));

  // 'dref' with 128 entries.
  std::vector<uint8_t> dref_body = table({128});
  const auto dinf = atom("dinf", atom("dref", dref_body));
  QT_Dinf di;
  EXPECT_EQ(decode(dinf, di), 0u);

  // Every prefix of a real 'moov' decodes or fails without a fault.
  const auto mov = read_file(fixture("mov_faststart.mov"));
  const std::vector<uint8_t> real(mov.begin() + 20, mov.begin() + 20 + 2123);
  for (size_t n = 0; n <= real.size(); n += 7) {
    QT_Moov m;
    decode(std::vector<uint8_t>(real.begin(), real.begin() + n), m);
  }
  uint32_t type = 0;
  EXPECT_EQ(qt_find_atom(mov.data(), 1024, &type), 20u);
  EXPECT_EQ(type, qt_fourcc("moov"));
  const uint8_t none[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(qt_find_atom(none, sizeof none, &type), 5u);
  EXPECT_EQ(type, 0u);
}

// The frame forms of the three readers fill a decoder Frame as the planar
// forms fill plain planes.
TEST(StillFrames, FrameFormsMatchPlanarForms) {
  auto frame_bytes = [](const Frame& f) {
    const YuvPlanes p = f.image()->planes();
    std::vector<uint8_t> v;
    for (int y = 0; y < p.height; ++y) v.insert(v.end(), p.y + y * p.y_stride, p.y + y * p.y_stride + p.width);
    for (const uint8_t* c : {p.cb, p.cr})
      for (int y = 0; y < p.height / 2; ++y) v.insert(v.end(), c + y * p.c_stride, c + y * p.c_stride + p.width / 2);
    return v;
  };
  int status = 1;
  QT_Decoder qt(fixture("mov_mjpeg.mov").c_str(), &status);
  ASSERT_EQ(status, 0);
  Frame f(320, 240, 1, 0);
  Planar pic(320, 240);
  YuvPlanes p = pic.planes();
  ASSERT_EQ(qt.goto_sample(9, &f), 0);
  ASSERT_EQ(qt.goto_sample_planes(9, &p), 0);
  EXPECT_TRUE(frame_bytes(f) == pic.b);
  EXPECT_EQ(qt.forward(&f, 2), 2);
  EXPECT_EQ(qt.backward(&f, 1), 1);
  EXPECT_EQ(qt.copy_frame(&f), 0);

  std::unique_ptr<Frame> still(load_jpeg_image(fixture("jpg_cj420.jpg").c_str()));
  ASSERT_TRUE(still);
  EXPECT_EQ(still->get_width(), 352);
  JDecoder d;
  ASSERT_EQ(d.decode(fixture("jpg_cj420.jpg").c_str()), 2);
  Planar jp(352, 288);
  ASSERT_EQ(d.get_picture(jp.b.data(), 352, 288), 0);
  // The decoder's own output stays full range; the frame holds video range.
  EXPECT_FALSE(frame_bytes(*still) == jp.b);
  full_range_to_video_range(jp.planes());
  EXPECT_TRUE(frame_bytes(*still) == jp.b);
  EXPECT_TRUE(std::unique_ptr<Frame>(load_jpeg_image(fixture("jpg_exif.jpg").c_str())));
  EXPECT_EQ(load_jpeg_image(fixture("mov_png.mov").c_str()), nullptr);

  Avi avi(fixture("avi_bgr24.avi").c_str(), &status);
  ASSERT_EQ(status, 0);
  Frame af(320, 240, 1, 0);
  EXPECT_EQ(avi.goto_sample(4, &af), 4);
  Planar ap(320, 240);
  avi.goto_sample_planes(4, ap.planes());
  EXPECT_TRUE(frame_bytes(af) == ap.b);
  EXPECT_EQ(avi.forward(&af, 1), 1);
  EXPECT_EQ(avi.backward(&af, 2), 2);
}

// The driver: `image` takes JPEG stills and the first picture of movies,
// `sample` any picture of a movie, both in video range as a movie frame
// holds them (full-range pictures shown with dark blacks and strong colours
// before).
TEST(StillDriver, ImageAndSampleCommandsGiveVideoRange) {
  const std::string dir = temp_dir();
  struct Case {
    const char* file;
    const char* ref;  // ffmpeg's video-range yuv420p of the picture (first frame)
    int w, h;
  } cases[] = {{"jpg_ff420.jpg", "jpg_ff420.video.yuv", 352, 288},
               {"jpg_ff422.jpg", "jpg_ff422.video.yuv", 352, 288},
               {"jpg_ff444.jpg", "jpg_ff444.video.yuv", 352, 288},
               {"jpg_ffgray.jpg", "jpg_ffgray.video.yuv", 352, 288},
               {"jpg_prog420.jpg", "jpg_prog420.video.yuv", 352, 288},
               {"jpg_odd.jpg", "jpg_odd.video.yuv", 33, 17},
               {"mov_mjpeg.mov", "mov_mjpeg.video.yuv", 320, 240}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::vector<std::string> lines;
    ASSERT_EQ(dev("image " + fixture(c.file) + " " + dir + "/out.yuv", &lines), 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(field_int(lines[0], "width"), c.w);
    EXPECT_EQ(field_int(lines[0], "height"), c.h);
    const auto out = read_file(dir + "/out.yuv");
    const auto ref = read_file(fixture(c.ref));
    ASSERT_LE(out.size(), ref.size());
    const size_t ys = size_t(c.w) * c.h, cs = size_t((c.w + 1) / 2) * ((c.h + 1) / 2);
    ASSERT_EQ(out.size(), ys + 2 * cs);
    EXPECT_GE(psnr(out.data(), ref.data(), ys), 40.0);
    EXPECT_GE(psnr(out.data() + ys, ref.data() + ys, 2 * cs), 40.0);
  }
  std::vector<std::string> lines;
  ASSERT_EQ(dev("image " + fixture("avi_bgr24.avi") + " " + dir + "/avi.yuv", &lines), 0);
  EXPECT_EQ(lines, std::vector<std::string>{"width=320 height=240"});

  ASSERT_EQ(dev("sample " + fixture("mov_mjpeg.mov") + " 17 " + dir + "/s.yuv", &lines), 0);
  EXPECT_EQ(lines, std::vector<std::string>{"sample=17 width=320 height=240"});
  const auto ref = read_file(fixture("mov_mjpeg.video.yuv"));
  const auto s = read_file(dir + "/s.yuv");
  ASSERT_EQ(s.size(), 320u * 240 * 3 / 2);
  EXPECT_GE(psnr(s.data(), ref.data() + 17 * s.size(), s.size()), 40.0);

  ASSERT_EQ(dev("sample " + fixture("avi_bgr24.avi") + " 24 " + dir + "/a.yuv", &lines), 0);
  EXPECT_EQ(lines, std::vector<std::string>{"sample=24 width=320 height=240"});
  int status = 1;
  Avi avi(fixture("avi_bgr24.avi").c_str(), &status);
  Planar pic(320, 240);
  avi.goto_sample_planes(24, pic.planes());
  EXPECT_TRUE(read_file(dir + "/a.yuv") == pic.b);

  EXPECT_NE(dev("sample " + fixture("mov_png.mov") + " 0 " + dir + "/x.yuv", &lines), 0);
  EXPECT_NE(dev("image " + fixture("mov_png.mov") + " " + dir + "/x.yuv", &lines), 0);
}

// WaveFile and WaveFmt against files written by ffmpeg and hand-built
// headers; written files checked by ffmpeg/ffprobe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "audio/codec/wave.h"
#include "support.h"

using tsupport::TraceCapture;

namespace {

void le32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void le16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void tag(std::vector<uint8_t>& v, const char* t) { v.insert(v.end(), t, t + 4); }

struct Chunk {
  std::string id;
  std::vector<uint8_t> body;
};

std::vector<uint8_t> fmt_body(int tag_, int channels, int rate, int bits, int size = 16) {
  std::vector<uint8_t> b;
  le16(b, tag_);
  le16(b, channels);
  le32(b, rate);
  le32(b, rate * channels * bits / 8);
  le16(b, channels * bits / 8);
  le16(b, bits);
  while (static_cast<int>(b.size()) < size) b.push_back(0);
  return b;
}

// RIFF file of the given chunks, each padded to a word; riff_size < 0 means
// the true size.
std::vector<uint8_t> riff(const std::vector<Chunk>& chunks, long riff_size = -1) {
  std::vector<uint8_t> f;
  tag(f, "RIFF");
  le32(f, 0);
  tag(f, "WAVE");
  for (const Chunk& c : chunks) {
    tag(f, c.id.c_str());
    le32(f, static_cast<uint32_t>(c.body.size()));
    f.insert(f.end(), c.body.begin(), c.body.end());
    if (c.body.size() & 1) f.push_back(0);
  }
  const uint32_t size = riff_size < 0 ? static_cast<uint32_t>(f.size() - 8) : static_cast<uint32_t>(riff_size);
  std::memcpy(f.data() + 4, &size, 4);
  return f;
}

std::vector<uint8_t> ramp(size_t n) {
  std::vector<uint8_t> d(n);
  for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(i * 7 + 3);
  return d;
}

std::vector<uint8_t> read_all(WaveFile& w) {
  std::vector<uint8_t> out;
  uint8_t buf[20000];
  for (;;) {
    const int n = w.read(buf, sizeof buf);
    if (n <= 0) break;
    EXPECT_LE(n, WaveFile::kSamplesPerFrame * w.fmt().block_align);
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

std::string put_temp(const std::vector<uint8_t>& bytes, const char* name = "t.wav") {
  const std::string path = tsupport::temp_dir() + "/" + name;
  EXPECT_TRUE(tsupport::write_file(path, bytes));
  return path;
}

}  // namespace

TEST(WaveFmt, DecodeAndEncodeBySize) {
  const std::vector<uint8_t> b18 = [] {
    auto b = fmt_body(1, 2, 48000, 16, 18);
    b[16] = 0x34;
    b[17] = 0x12;
    return b;
  }();
  WaveFmt f;
  EXPECT_EQ(f.decode(b18.data(), 18), 18);
  EXPECT_EQ(f.extra_size, 0x1234);
  EXPECT_EQ(f.sample_rate, 48000u);
  EXPECT_EQ(f.block_align, 4);
  EXPECT_EQ(f.bytes_per_second, 192000u);

  uint8_t out[18] = {};
  EXPECT_EQ(f.encode(out, 18), 18);
  EXPECT_EQ(0, std::memcmp(out, b18.data(), 18));
  EXPECT_EQ(f.encode(out, 17), 16);
  EXPECT_EQ(f.encode(out, 15), 0);

  // An extensible (40-byte) body reads its first 16 bytes.
  const auto b40 = fmt_body(0xFFFE, 6, 48000, 16, 40);
  EXPECT_EQ(f.decode(b40.data(), 40), 16);
  EXPECT_EQ(f.channels, 6);

  WaveFmt before = f;
  TraceCapture cap;
  EXPECT_EQ(f.decode(b18.data(), 15), 0);
  EXPECT_EQ(f.channels, before.channels);
  EXPECT_TRUE(cap.contains("WaveFmt::decode (ERROR): data size = 15 < 16 bytes"));
}

TEST(WaveFmt, StaleExtraSizeIsClearedByA16ByteBody) {
  auto b18 = fmt_body(1, 2, 44100, 16, 18);
  b18[16] = 22;
  WaveFmt f;
  ASSERT_EQ(f.decode(b18.data(), 18), 18);
  ASSERT_EQ(f.extra_size, 22);
  const auto b16 = fmt_body(1, 1, 8000, 8);
  EXPECT_EQ(f.decode(b16.data(), 16), 16);
  EXPECT_EQ(f.extra_size, 0);
}

// ffmpeg's files (plain header, odd data size with a pad byte, LIST chunk)
// and sox's read back exactly the samples their writer decodes from them.
TEST(WaveFile, ReadsFfmpegAndSoxFilesExactly) {
  struct Case {
    const char* wav;
    const char* raw;
    int rate, channels, bits;
  } cases[] = {
      {"wave_s16_plain.wav", "wave_s16_plain.raw", 44100, 2, 16},
      {"wave_u8_mono.wav", "wave_u8_mono.raw", 22050, 1, 8},
      {"wave_s16_list.wav", "wave_s16_list.raw", 48000, 2, 16},
      {"wave_sox_s16.wav", "wave_sox_s16.raw", 44100, 2, 16},
      {"wave_sox_u8.wav", "wave_sox_u8.raw", 11025, 1, 8},
  };
  for (const Case& c : cases) TSUPPORT_NEED_FIXTURES(c.wav, c.raw);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wav);
    WaveFile w;
    ASSERT_EQ(w.open(tsupport::fixture(c.wav).c_str(), 1), 0) << w.reason();
    EXPECT_EQ(static_cast<int>(w.fmt().sample_rate), c.rate);
    EXPECT_EQ(w.fmt().channels, c.channels);
    EXPECT_EQ(w.fmt().bits_per_sample, c.bits);
    EXPECT_EQ(w.audio_info().stream_id, 0xA0);
    const auto raw = tsupport::read_file(tsupport::fixture(c.raw));
    EXPECT_NEAR(w.get_duration(), static_cast<double>(raw.size()) / (c.rate * c.channels * c.bits / 8), 1e-9);
    EXPECT_EQ(read_all(w), raw);
    EXPECT_EQ(w.is_eof(), 1);
  }
}

TEST(WaveFile, HandBuiltLayoutsReadTheirDataExactly) {
  const auto data = ramp(1001 * 4);
  std::vector<uint8_t> odd = {1, 2, 3};
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    size_t expect;  // data bytes read
  } cases[] = {
      {"18-byte fmt", riff({{"fmt ", fmt_body(1, 2, 44100, 16, 18)}, {"data", data}}), data.size()},
      {"fact and odd chunk before data",
       riff({{"fmt ", fmt_body(1, 2, 44100, 16)}, {"fact", {0, 0, 0, 0}}, {"junk", odd}, {"data", data}}),
       data.size()},
      {"wrong RIFF size", riff({{"fmt ", fmt_body(1, 2, 44100, 16)}, {"data", data}}, 12345), data.size()},
      {"small data (under 64 bytes in all)", riff({{"fmt ", fmt_body(1, 2, 44100, 16)}, {"data", ramp(8)}}), 8},
      {"empty data", riff({{"fmt ", fmt_body(1, 2, 44100, 16)}, {"data", {}}}), 0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    WaveFile w;
    ASSERT_EQ(w.open(put_temp(c.file).c_str(), 1), 0) << w.reason();
    const auto got = read_all(w);
    ASSERT_EQ(got.size(), c.expect);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), c.expect == data.size() ? data.begin() : ramp(8).begin()));
  }
}

TEST(WaveFile, DataSizeBeyondTheFileIsCutToTheBytesPresent) {
  auto file = riff({{"fmt ", fmt_body(1, 2, 44100, 16)}, {"data", ramp(400)}});
  const uint32_t big = 1000000;
  std::memcpy(file.data() + 40, &big, 4);
  TraceCapture cap;
  WaveFile w;
  ASSERT_EQ(w.open(put_temp(file).c_str(), 1), 0);
  EXPECT_TRUE(cap.contains("WaveFile::init_reader (ERROR): data size = 1000000"));
  EXPECT_EQ(read_all(w), ramp(400));
  EXPECT_NEAR(w.get_duration(), 100.0 / 44100, 1e-12);
}

TEST(WaveFile, RefusesWhatItCannotPlay) {
  TSUPPORT_NEED_FIXTURES("wave_s24.wav", "wave_f32.wav", "wave_mulaw.wav", "wave_6ch.wav");
  struct Case {
    const char* name;
    std::string path;
  };
  std::vector<Case> cases = {
      {"24-bit", tsupport::fixture("wave_s24.wav")},
      {"float", tsupport::fixture("wave_f32.wav")},
      {"mu-law", tsupport::fixture("wave_mulaw.wav")},
      {"six channels", tsupport::fixture("wave_6ch.wav")},
      {"rate 0", put_temp(riff({{"fmt ", fmt_body(1, 2, 0, 16)}, {"data", ramp(64)}}), "r0.wav")},
      {"channels 0", put_temp(riff({{"fmt ", fmt_body(1, 0, 44100, 16)}, {"data", ramp(64)}}), "c0.wav")},
      {"30-byte file", put_temp([] {
         auto f = riff({{"fmt ", fmt_body(1, 2, 44100, 16)}, {"data", ramp(64)}});
         f.resize(30);
         return f;
       }(), "short.wav")},
      {"no data chunk", put_temp(riff({{"fmt ", fmt_body(1, 2, 44100, 16)}}), "nodata.wav")},
      {"data before fmt", put_temp(riff({{"data", ramp(8)}, {"fmt ", fmt_body(1, 2, 44100, 16)}}), "order.wav")},
      {"not RIFF", put_temp(ramp(100), "noise.wav")},
      {"missing file", tsupport::temp_dir() + "/absent.wav"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WaveFile w;
    EXPECT_EQ(w.open(c.path.c_str(), 1), 1);
    EXPECT_EQ(w.status(), 1);
    EXPECT_FALSE(w.reason().empty());
    uint8_t b[16];
    EXPECT_EQ(w.read(b, 16), 0);
    EXPECT_EQ(w.goto_time(1.0), 0.0);
  }
}

TEST(WaveFile, SeekLandsOnWholeSampleFramesAndClamps) {
  TSUPPORT_NEED_FIXTURES("wave_s16_plain.wav");
  WaveFile w;
  ASSERT_EQ(w.open(tsupport::fixture("wave_s16_plain.wav").c_str(), 1), 0);
  for (double t : {0.0, 0.1234567, 0.5, 1.2999, 5.0, -3.0}) {
    SCOPED_TRACE(t);
    const double got = w.goto_time(t);
    EXPECT_EQ((w.position() - w.data_start()) % 4, 0);
    EXPECT_GE(got, 0.0);
    EXPECT_LE(got, w.get_duration());
    if (t >= 0 && t <= w.get_duration()) {
      EXPECT_NEAR(got, t, 1.0 / 44100 + 1e-9);
    }
  }
  EXPECT_EQ(w.goto_time(5.0), w.get_duration());
  EXPECT_EQ(w.is_eof(), 1);
}

TEST(WaveFile, EmptyDataSeeksWithoutDividingByZero) {
  WaveFile w;
  ASSERT_EQ(w.open(put_temp(riff({{"fmt ", fmt_body(1, 2, 44100, 16)}, {"data", {}}})).c_str(), 1), 0);
  EXPECT_EQ(w.get_duration(), 0.0);
  EXPECT_EQ(w.goto_time(3.0), 0.0);
  EXPECT_EQ(w.get_time(), 0.0);
  EXPECT_EQ(w.position(), w.data_start());
}

TEST(WaveFile, SparseFileAbove2GiBReportsSizeAndSeeksNearItsEnd) {
  const uint32_t data = 2684354560u;  // 2.5 GiB
  std::vector<uint8_t> head = riff({{"fmt ", fmt_body(1, 2, 48000, 16)}, {"data", {}}});
  std::memcpy(head.data() + 40, &data, 4);
  const uint32_t riff_size = data + 36;
  std::memcpy(head.data() + 4, &riff_size, 4);
  const std::string path = put_temp(head, "big.wav");
  ASSERT_EQ(truncate(path.c_str(), 44 + static_cast<off_t>(data)), 0);
  // A recognisable sample frame near the end.
  const int fd = ::open(path.c_str(), O_WRONLY);
  const uint8_t mark[4] = {1, 2, 3, 4};
  ASSERT_EQ(pwrite(fd, mark, 4, 44 + static_cast<off_t>(data) - 48000 * 4), 4);
  ::close(fd);

  WaveFile w;
  TraceCapture cap;
  ASSERT_EQ(w.open(path.c_str(), 1), 0) << w.reason();
  EXPECT_TRUE(cap.messages().empty());
  EXPECT_EQ(w.file_size(), 44 + static_cast<int64_t>(data));
  EXPECT_NEAR(w.get_duration(), data / 192000.0, 1e-9);
  const double t = w.get_duration() - 1.0;
  EXPECT_NEAR(w.goto_time(t), t, 1e-6);
  EXPECT_EQ(w.position(), 44 + static_cast<int64_t>(data) - 48000 * 4);
  uint8_t b[4];
  ASSERT_EQ(w.read(b, 4), 4);
  EXPECT_EQ(0, std::memcmp(b, mark, 4));
}

// The written header is the 44-byte one, the same through wav-write; ffmpeg
// and sox read the samples back and neither ffprobe nor sox has anything to
// say.
TEST(WaveFile, WrittenFilesHaveThePlainHeaderAndReadBack) {
  const bool sox = tsupport::have_program("sox");
  struct Case {
    int rate, channels, bits;
  } cases[] = {{44100, 2, 16}, {22050, 1, 8}, {48000, 1, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.channels * 100 + c.bits);
    const std::string path = tsupport::temp_dir() + "/w.wav";
    const auto data = ramp(c.rate / 10 * c.channels * c.bits / 8 + 2 * c.channels);
    WaveFile w;
    ASSERT_EQ(w.open(path.c_str(), 0), 0);
    w.set_sample_rate(c.rate);
    w.set_channels(c.channels);
    w.set_bits(c.bits);
    std::vector<uint8_t> copy = data;
    const size_t half = copy.size() / 2 / 4 * 4;
    EXPECT_EQ(w.write_pcm(copy.data(), static_cast<int>(half), 0), static_cast<int>(half) + 44);
    EXPECT_EQ(w.write_pcm(copy.data() + half, static_cast<int>(copy.size() - half), 0),
              static_cast<int>(copy.size() - half));
    EXPECT_EQ(w.close(), 0);

    const auto file = tsupport::read_file(path);
    std::vector<uint8_t> expect = riff({{"fmt ", fmt_body(1, c.channels, c.rate, c.bits)}, {"data", data}});
    if (data.size() & 1) {  // exactly header plus data: no pad byte after odd data
      expect.pop_back();
      const uint32_t riff_size = static_cast<uint32_t>(expect.size() - 8);
      std::memcpy(expect.data() + 4, &riff_size, 4);
    }
    EXPECT_EQ(file, expect);

    std::string out;
    EXPECT_EQ(tsupport::run("ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 " +
                                tsupport::sh_quote(path) + " 2>&1",
                            &out),
              0);
    EXPECT_EQ(out, std::to_string(c.rate) + "," + std::to_string(c.channels) + "\n");
    const std::string raw = path + ".raw";
    ASSERT_EQ(tsupport::run("ffmpeg -nostdin -v error -y -i " + tsupport::sh_quote(path) + " -f " +
                            (c.bits == 8 ? "u8" : "s16le") + " " + tsupport::sh_quote(raw)),
              0);
    EXPECT_EQ(tsupport::read_file(raw), data);

    const std::string in = path + ".in", by_dev = path + ".dev.wav";
    ASSERT_TRUE(tsupport::write_file(in, data));
    std::vector<std::string> lines;
    ASSERT_EQ(tsupport::dev("wav-write " + in + " " + std::to_string(c.rate) + " " + std::to_string(c.channels) +
                                " " + std::to_string(c.bits) + " " + by_dev,
                            &lines),
              0);
    EXPECT_EQ(tsupport::read_file(by_dev), file);
    if (!sox) continue;
    for (const std::string& f : {path, by_dev}) {
      const std::string q = tsupport::sh_quote(f);
      out.clear();
      EXPECT_EQ(tsupport::run("sox --i -r " + q + " && sox --i -c " + q + " && sox --i -b " + q + " && sox --i -s " + q +
                                  " && sox --i -e " + q + " 2>&1",
                              &out),
                0);
      const size_t frames = data.size() / static_cast<size_t>(c.channels * c.bits / 8);
      EXPECT_EQ(out, std::to_string(c.rate) + "\n" + std::to_string(c.channels) + "\n" + std::to_string(c.bits) +
                         "\n" + std::to_string(frames) + "\n" +
                         (c.bits == 8 ? "Unsigned Integer PCM" : "Signed Integer PCM") + "\n");
      const std::string sox_raw = f + ".sox.raw";
      std::string err;
      EXPECT_EQ(tsupport::run("sox " + q + " -t raw " + tsupport::sh_quote(sox_raw) + " 2>&1", &err), 0);
      EXPECT_EQ(err, "");
      EXPECT_EQ(tsupport::read_file(sox_raw), data);
    }
  }
  if (!sox) GTEST_SKIP() << "sox not installed: its read-back is unchecked";
}

TEST(WaveFile, SwapFlagExchangesSampleBytes) {
  const std::string path = tsupport::temp_dir() + "/s.wav";
  WaveFile w;
  ASSERT_EQ(w.open(path.c_str(), 0), 0);
  uint8_t s[4] = {1, 2, 3, 4};
  EXPECT_EQ(w.write_pcm(s, 4, 1), 48);
  EXPECT_EQ(w.close(), 0);
  const auto f = tsupport::read_file(path);
  ASSERT_EQ(f.size(), 48u);
  EXPECT_EQ(f[44], 2);
  EXPECT_EQ(f[45], 1);
  EXPECT_EQ(f[47], 3);
}

TEST(WaveFile, WriterClosedWithoutSamplesLeavesAValidEmptyFile) {
  const std::string path = tsupport::temp_dir() + "/e.wav";
  WaveFile w;
  ASSERT_EQ(w.open(path.c_str(), 0), 0);
  EXPECT_EQ(w.close(), 0);
  const auto f = tsupport::read_file(path);
  EXPECT_EQ(f, riff({{"fmt ", fmt_body(1, 2, 44100, 16)}, {"data", {}}}));
  WaveFile r;
  EXPECT_EQ(r.open(path.c_str(), 1), 0);
  EXPECT_EQ(r.get_duration(), 0.0);
}

TEST(WaveFile, WritesAreRefusedInReadModeAndWithoutAFile) {
  TraceCapture cap;
  WaveFile w;
  uint8_t s[4] = {};
  EXPECT_EQ(w.write_pcm(s, 4, 0), 0);
  EXPECT_TRUE(cap.contains("WaveFile::write_pcm (ERROR): not initialized"));
  TSUPPORT_NEED_FIXTURES("wave_s16_plain.wav");
  ASSERT_EQ(w.open(tsupport::fixture("wave_s16_plain.wav").c_str(), 1), 0);
  EXPECT_EQ(w.write_pcm(s, 4, 0), 0);
  EXPECT_TRUE(cap.contains("WaveFile::write_pcm (ERROR): read-only file"));
}

TEST(WaveFile, WriteToAFullDiskFails) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  WaveFile w;
  ASSERT_EQ(w.open("/dev/full", 0), 0);
  std::vector<uint8_t> s(4096);
  EXPECT_EQ(w.write_pcm(s.data(), 4096, 0), 0);
  EXPECT_EQ(w.write_pcm(s.data(), 4096, 0), 0);
  EXPECT_EQ(w.close(), 1);
}

TEST(WaveCommands, InfoReadAndWrite) {
  TSUPPORT_NEED_FIXTURES("wave_s16_list.wav", "wave_s16_list.raw", "wave_f32.wav");
  std::vector<std::string> lines;
  const std::string wav = tsupport::fixture("wave_s16_list.wav");
  ASSERT_EQ(tsupport::dev("wav-info " + wav, &lines), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "wave format=1 channels=2 rate=48000 bits=16 block_align=4 data_start=78 data_bytes=249600 "
            "duration=1.300000");

  const std::string dir = tsupport::temp_dir();
  ASSERT_EQ(tsupport::dev("wav-read " + wav + " " + dir + "/r.raw --from 0.5", &lines), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "read bytes=153604 start=95996");
  const auto raw = tsupport::read_file(tsupport::fixture("wave_s16_list.raw"));
  const auto part = tsupport::read_file(dir + "/r.raw");
  EXPECT_TRUE(std::equal(part.begin(), part.end(), raw.begin() + 95996));

  ASSERT_EQ(tsupport::dev("wav-write " + dir + "/r.raw 48000 2 16 " + dir + "/w.wav", &lines), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "wave bytes=153648");
  const auto w = tsupport::read_file(dir + "/w.wav");
  ASSERT_EQ(w.size(), 153648u);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), w.begin() + 44));

  // No data: the header alone, data size 0.
  ASSERT_TRUE(tsupport::write_file(dir + "/empty.raw", {}));
  ASSERT_EQ(tsupport::dev("wav-write " + dir + "/empty.raw 22050 1 8 " + dir + "/e.wav", &lines), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "wave bytes=44");
  EXPECT_EQ(tsupport::read_file(dir + "/e.wav"), riff({{"fmt ", fmt_body(1, 1, 22050, 8)}, {"data", {}}}));

  EXPECT_EQ(tsupport::dev("wav-info " + tsupport::fixture("wave_f32.wav"), &lines), 1);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(tsupport::dev("wav-write " + dir + "/r.raw 48000 3 16 " + dir + "/x.wav", &lines), 2);
}

TEST(WaveFile, OpeningTheOpenFileAgainKeepsItsPosition) {
  TSUPPORT_NEED_FIXTURES("wave_s16_plain.wav");
  WaveFile w;
  const std::string path = tsupport::fixture("wave_s16_plain.wav");
  ASSERT_EQ(w.open(path.c_str(), 1), 0);
  uint8_t b[400];
  ASSERT_EQ(w.read(b, 400), 400);
  EXPECT_EQ(w.open(path.c_str(), 1), 0);
  EXPECT_EQ(w.position(), w.data_start() + 400);
}

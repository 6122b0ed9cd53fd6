#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "foundation/utils.h"
#include "foundation/video_info.h"
#include "support/support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Byte-by-byte references for the scans.
int64_t ref_next_start_code(const Bytes& b, int* code) {
  *code = 0;
  if (b.size() < 4) return 0;
  for (size_t i = 0; i + 3 < b.size(); ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) {
      *code = 0x100 + b[i + 3];
      return int64_t(i);
    }
  return int64_t(b.size()) - 3;
}

int64_t ref_usr(uint32_t code, const Bytes& b, uint32_t* out) {
  *out = 0;
  if (b.size() < 4) return 0;
  for (size_t i = 0; i + 3 < b.size(); ++i)
    if ((uint32_t(b[i]) << 24 | uint32_t(b[i + 1]) << 16 | uint32_t(b[i + 2]) << 8 | b[i + 3]) == code) {
      *out = code;
      return int64_t(i);
    }
  return int64_t(b.size());
}

TEST(StartCodeScan, NextStartCodeCases) {
  struct Case {
    Bytes bytes;
    int64_t offset;
    int code;
  } cases[] = {
      {{}, 0, 0},
      {{0, 0, 1}, 0, 0},                       // fewer than 4 bytes
      {{0, 0, 1, 0xB3}, 0, 0x1B3},
      {{0, 0, 0, 1, 0xB8}, 1, 0x1B8},          // zero stuffing before the prefix
      {{9, 0, 0, 1, 0x00, 7}, 1, 0x100},       // picture start code
      {{1, 2, 3, 4, 5, 6}, 3, 0},              // none: length - 3
      {{7, 7, 7, 0, 0, 1}, 3, 0},              // prefix without its id byte at the end
      {{1, 0, 1, 0, 0, 1, 0xB5}, 3, 0x1B5},    // a lone 01 and 00 01 before it
      {{0, 1, 0, 0, 1, 0xFF}, 2, 0x1FF},
  };
  for (const auto& c : cases) {
    int code = -1;
    EXPECT_EQ(utils_next_start_code(c.bytes.data(), int64_t(c.bytes.size()), &code), c.offset);
    EXPECT_EQ(code, c.code);
  }
  const uint8_t sc[] = {0, 0, 1, 0xB3};
  EXPECT_EQ(utils_next_start_code(sc, 4, nullptr), 0);
  int code = -1;
  EXPECT_EQ(utils_next_start_code(nullptr, 4, &code), 0);
  EXPECT_EQ(utils_next_start_code(sc, -5, &code), 0);
  EXPECT_EQ(code, 0);
}

TEST(StartCodeScan, UserCodeCases) {
  const Bytes b = {0xB3, 0, 0, 1, 0xB8, 0, 0, 1, 0xB3, 0x11};
  uint32_t out = 7;
  EXPECT_EQ(utils_next_usr_start_code(0x1B3, b.data(), int64_t(b.size()), &out), 5);
  EXPECT_EQ(out, 0x1B3u);
  EXPECT_EQ(utils_next_usr_start_code(0x1B8, b.data(), int64_t(b.size()), nullptr), 1);
  EXPECT_EQ(utils_next_usr_start_code(0x1B7, b.data(), int64_t(b.size()), &out), int64_t(b.size()));
  EXPECT_EQ(out, 0u);
  EXPECT_EQ(utils_next_usr_start_code(0xB3000001, b.data(), int64_t(b.size()), &out), 0);  // any 32-bit word
  EXPECT_EQ(out, 0xB3000001u);
  out = 7;
  EXPECT_EQ(utils_next_usr_start_code(0x1B3, b.data(), 3, &out), 0);
  EXPECT_EQ(out, 0u);
  EXPECT_EQ(utils_next_usr_start_code(0x1B3, nullptr, 10, &out), 0);
}

// Random data dense in 00 and 01 bytes, so that near-misses of the prefix are
// common, against the byte-by-byte references; each buffer is an exact-size
// heap block so the sanitizer catches any read past it.
TEST(StartCodeScan, MatchesByteByByteReference) {
  std::mt19937 rng(5);
  const uint32_t codes[] = {0x1B3, 0x100, 0x1B8, 0x1FF, 0x00000100, 0x01000000, 0xFFFFFFFF};
  for (int round = 0; round < 5000; ++round) {
    Bytes b(rng() % 64);
    for (auto& x : b) {
      const uint32_t r = rng() % 8;
      x = r < 4 ? 0 : r < 6 ? 1 : uint8_t(rng());
    }
    if (!b.empty() && rng() % 2) b[rng() % b.size()] = 0xB3;
    int code, ref_code;
    const int64_t got = utils_next_start_code(b.data(), int64_t(b.size()), &code);
    ASSERT_EQ(got, ref_next_start_code(b, &ref_code)) << round << " " << ::testing::PrintToString(b);
    ASSERT_EQ(code, ref_code) << round;
    for (uint32_t c : codes) {
      uint32_t out, ref_out;
      ASSERT_EQ(utils_next_usr_start_code(c, b.data(), int64_t(b.size()), &out), ref_usr(c, b, &ref_out))
          << round << " code " << c;
      ASSERT_EQ(out, ref_out);
    }
  }
}

TEST(Utils, StripSpaces) {
  struct Case {
    const char* in;
    const char* out;
    const char* source_after;
  } cases[] = {
      {"  name.mpg \t\r\n", "name.mpg", "  name.mpg"},
      {"x", "x", "x"},
      {"", "", ""},
      {" \t ", "", ""},
      {"a b  ", "a b", "a b"},
  };
  for (const auto& c : cases) {
    std::string src = c.in;
    std::vector<char> text(src.begin(), src.end());
    text.push_back(0);
    char out[64];
    utils_strip_spaces(out, text.data());
    EXPECT_STREQ(out, c.out) << '"' << c.in << '"';
    EXPECT_STREQ(text.data(), c.source_after);
  }
  char in_place[] = "  both  ";
  utils_strip_spaces(in_place, in_place);
  EXPECT_STREQ(in_place, "both");
}

TEST(Utils, FileSizeAndSequenceEnd) {
  const std::string dir = tsupport::temp_dir();
  const std::string path = dir + "/s.bin";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fputs("0123456789", f);
  EXPECT_EQ(utils_write_sequence_end_code(f), 4);
  std::fclose(f);
  EXPECT_EQ(utils_get_file_size(path.c_str()), 14);
  const Bytes data = tsupport::read_file(path);
  EXPECT_EQ(Bytes(data.end() - 4, data.end()), (Bytes{0, 0, 1, 0xB7}));
  EXPECT_EQ(utils_get_file_size((dir + "/none").c_str()), 0);
  EXPECT_EQ(utils_get_file_size(nullptr), 0);
  EXPECT_EQ(utils_write_sequence_end_code(nullptr), 0);
}

// Exact-size heap copy, so the sanitizer sees any read past the end.
struct Exact {
  explicit Exact(const Bytes& b) : p(new uint8_t[b.size() ? b.size() : 1]), n(int64_t(b.size())) {
    std::copy(b.begin(), b.end(), p);
  }
  ~Exact() { delete[] p; }
  uint8_t* p;
  int64_t n;
};

TEST(PacketScan, FindTsSyncOnRealTransportStream) {
  const Bytes ts = tsupport::read_file(tsupport::fixture("rw.ts"));
  ASSERT_GT(ts.size(), 1000u * 188);
  // 100 junk bytes in front.
  Bytes junk(100, 0x00);
  junk.insert(junk.end(), ts.begin(), ts.begin() + 400 * 188);
  Exact a(junk);
  EXPECT_EQ(utils_find_ts_sync(a.p, a.n, 200, 0), 100);
  EXPECT_EQ(utils_find_ts_sync(a.p, a.n, 200, 1), 100);
  // 57 bytes inserted after packet 300: from inside packet 299 the next
  // whole run starts after the insertion.
  Bytes mid(ts.begin(), ts.begin() + 300 * 188);
  mid.insert(mid.end(), 57, 0x47);
  mid.insert(mid.end(), ts.begin() + 300 * 188, ts.begin() + 600 * 188);
  const int64_t from = 299 * 188 + 5;
  Exact b(Bytes(mid.begin() + from, mid.end()));
  EXPECT_EQ(utils_find_ts_sync(b.p, b.n, 10, 1), 188 - 5 + 57);
}

TEST(PacketScan, FindTsSyncLimits) {
  // 500 bytes asked for 200 packets: (500 - 188) / 188 = 1 packet checked.
  Bytes b(500, 0);
  b[30] = 0x47;
  Exact one(b);
  EXPECT_EQ(utils_find_ts_sync(one.p, one.n, 200, 0), 30);
  b[30] = 0;
  b[200] = 0x47;  // beyond the first 188 candidates
  Exact two(b);
  EXPECT_EQ(utils_find_ts_sync(two.p, two.n, 200, 0), -1);
  EXPECT_EQ(utils_find_ts_sync(two.p, two.n, 200, 1), 200);
  EXPECT_EQ(utils_find_ts_sync(two.p, two.n, 0, 1), -1);
  EXPECT_EQ(utils_find_ts_sync(two.p, 375, 1, 1), -1);  // shorter than two packets
  EXPECT_EQ(utils_find_ts_sync(nullptr, 1000, 1, 1), -1);
}

TEST(PacketScan, PesHeaderLength) {
  struct Case {
    Bytes b;
    int want;
  } cases[] = {
      {{0, 0, 1, 0xBE, 0x07, 0xEC, 0xFF, 0xFF, 0xFF}, 0},           // MPEG-1 style padding
      {{0, 0, 1, 0xBE, 0x07, 0xEC, 0x80, 0xFF, 0xFF}, 6},           // padding, '10' bits
      {{0, 0, 1, 0xE0, 0x00, 0x00, 0x81, 0x80, 0x05, 0x21}, 14},   // video with a PTS
      {{0, 0, 1, 0xBD, 0x07, 0xEC, 0x81, 0x80, 0x00}, 9},
      {{0, 0, 1, 0xC0, 0x07, 0xEC, 0x40, 0x80, 0x05}, 0},           // not '10'
      {{0, 0, 1, 0xBA, 0x44, 0x00, 0x84, 0x80, 0x05}, 0},           // pack header: id below BC
      {{0, 0, 1, 0xF2, 0x00, 0x10, 0x80, 0x80, 0x05}, 6},
      {{0, 0, 1, 0xE0, 0x00, 0x00, 0x81, 0x80}, 0},                 // 8 bytes
      {{0, 1, 1, 0xE0, 0x00, 0x00, 0x81, 0x80, 0x05}, 0},           // no prefix
  };
  for (const auto& c : cases) {
    Exact e(c.b);
    EXPECT_EQ(pes_header_length(e.p, e.n), c.want) << ::testing::PrintToString(c.b);
  }
  EXPECT_EQ(pes_header_length(nullptr, 20), 0);
}

TEST(PacketScan, CountPicturesAgreesWithFfprobe) {
  for (const char* name : {"rw_m2i.m2v", "rw_pd.m2v"}) {
    const std::string path = tsupport::fixture(name);
    const Bytes b = tsupport::read_file(path);
    std::string out;
    ASSERT_EQ(tsupport::run("ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames "
                            "-of default=nw=1:nk=1 " + tsupport::sh_quote(path), &out), 0);
    EXPECT_EQ(utils_count_pictures(b.data(), int64_t(b.size())), std::stoi(out)) << name;
  }
  const Bytes tail = {7, 0, 0, 1, 0};
  Exact e(tail);
  EXPECT_EQ(utils_count_pictures(e.p, e.n), 1);
  EXPECT_EQ(utils_count_pictures(e.p, 4), 0);
  EXPECT_EQ(utils_count_pictures(nullptr, 100), 0);
}

TEST(Utils, SameVideoInfoComparesCodingFormatOnly) {
  VideoInfo base;
  base.video_type = 3;
  base.mpeg2 = 1;
  base.width = 720;
  base.height = 576;
  base.frame_rate = 25.0;
  base.bit_rate = 6000000;
  struct Case {
    const char* what;
    void (*change)(VideoInfo&);
    int differs;
  } cases[] = {
      {"same", [](VideoInfo&) {}, 0},
      {"kind", [](VideoInfo& v) { v.video_type = 2; }, 1},
      {"mpeg2", [](VideoInfo& v) { v.mpeg2 = 0; }, 1},
      {"width", [](VideoInfo& v) { v.width = 704; }, 1},
      {"height", [](VideoInfo& v) { v.height = 480; }, 1},
      {"chroma", [](VideoInfo& v) { v.chroma_format = 2; }, 1},
      {"aspect", [](VideoInfo& v) { v.aspect_ratio_information = 3; }, 1},
      {"rate", [](VideoInfo& v) { v.frame_rate = 25.00011; }, 1},
      {"rate within", [](VideoInfo& v) { v.frame_rate = 25.00009; }, 0},
      {"bit rate", [](VideoInfo& v) { v.bit_rate = 1; }, 0},
      {"vbr", [](VideoInfo& v) { v.vbr = 1; }, 0},
      {"drop", [](VideoInfo& v) { v.drop_frame = 0; }, 0},
      {"progressive", [](VideoInfo& v) { v.progressive_sequence = 0; }, 0},
      {"stream id", [](VideoInfo& v) { v.stream_id = 0xE1; }, 0},
      {"pid", [](VideoInfo& v) { v.pid = 0x100; }, 0},
      {"after pid", [](VideoInfo& v) { v.stream_word = 5; }, 0},
  };
  for (const auto& c : cases) {
    VideoInfo other = base;
    c.change(other);
    EXPECT_EQ(utils_same_video_info(base, other), c.differs) << c.what;
    EXPECT_EQ(utils_same_video_info(other, base), c.differs) << c.what;
  }
}

TEST(Utils, FileNames) {
  struct Ext {
    const char* name;
    const char* ext;
  } exts[] = {{"a.mpg", "mpg"}, {"a.b.M2V", "M2V"}, {"noext", nullptr}, {"dot.", nullptr},
              {"/dir.d/file", nullptr}, {"/dir.d/file.ts", "ts"}, {".mbs", "mbs"}, {nullptr, nullptr}};
  for (const auto& e : exts) {
    const char* got = utils_get_extension(e.name);
    if (e.ext)
      EXPECT_STREQ(got, e.ext) << e.name;
    else
      EXPECT_EQ(got, nullptr) << (e.name ? e.name : "(null)");
  }
  EXPECT_EQ(utils_has_extension("clip.MBS", ".mbs"), 1);
  EXPECT_EQ(utils_has_extension("clip.mbs", "MBS"), 1);
  EXPECT_EQ(utils_has_extension("clip.mbsx", "mbs"), 0);
  EXPECT_EQ(utils_has_extension("clip", "mbs"), 0);

  EXPECT_EQ(utils_compare_no_case("Movie.MPG", "movie.mpg"), 0);
  EXPECT_EQ(utils_compare_no_case("", ""), 0);
  EXPECT_EQ(utils_compare_no_case("abc", "abcd"), 1);
  EXPECT_EQ(utils_compare_no_case("abc", "abd"), 1);

  char* s = utils::replace_string("longer text", nullptr);
  ASSERT_STREQ(s, "longer text");
  char* same = utils::replace_string("short", s);  // fits: reused
  EXPECT_EQ(same, s);
  EXPECT_STREQ(same, "short");
  EXPECT_EQ(utils::replace_string(nullptr, same), same);
  char* grown = utils::replace_string("a much longer text than before", same);
  EXPECT_STREQ(grown, "a much longer text than before");
  std::free(grown);
}

TEST(Utils, FullPathname) {
  const std::string dir = tsupport::temp_dir();
  tsupport::write_file(dir + "/clip.m2v", Bytes{1});
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  ASSERT_EQ(chdir(dir.c_str()), 0);
  char out[4096] = "unchanged";
  EXPECT_EQ(utils_get_full_pathname("./sub/../clip.m2v", out, sizeof out), 1);
  EXPECT_EQ(std::string(out), dir + "/clip.m2v");
  std::strcpy(out, "unchanged");
  EXPECT_EQ(utils_get_full_pathname("missing.m2v", out, sizeof out), 0);  // must open
  EXPECT_STREQ(out, "unchanged");
  EXPECT_EQ(utils_get_full_pathname("clip.m2v", out, 8), 0);  // does not fit
  EXPECT_STREQ(out, "unchanged");
  ASSERT_EQ(chdir(cwd), 0);
  // An absolute name is taken as it is, existing or not.
  EXPECT_EQ(utils_get_full_pathname("/no/such/file.mpg", out, sizeof out), 1);
  EXPECT_STREQ(out, "/no/such/file.mpg");
  EXPECT_EQ(utils_get_full_pathname(nullptr, out, sizeof out), 0);
  EXPECT_EQ(utils_get_full_pathname("x", nullptr, 10), 0);
}

TEST(Utils, FileQueries) {
  const std::string path = tsupport::temp_dir() + "/f.bin";
  tsupport::write_file(path, Bytes(12345, 7));
  EXPECT_EQ(utils_get_file_size64(path.c_str()).value(), 12345u);
  EXPECT_EQ(utils_get_file_size64((path + "x").c_str()).value(), 0u);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(utils_get_file_time(path.c_str()), int64_t(st.st_mtime));
  EXPECT_EQ(utils_get_file_time((path + "x").c_str()), 0);
  EXPECT_EQ(utils_delete_file(path.c_str()), 1);
  EXPECT_EQ(utils_delete_file(path.c_str()), 0);

  const std::string date = utils_get_date_string();
  ASSERT_EQ(date.size(), 25u);
  EXPECT_EQ(date.back(), '\n');
  std::tm tm {};
  EXPECT_NE(strptime(date.c_str(), "%a %b %d %H:%M:%S %Y", &tm), nullptr) << date;
}

}  // namespace

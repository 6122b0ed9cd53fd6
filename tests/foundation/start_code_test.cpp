#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/cpu.h"
#include "foundation/start_code.h"
#include "foundation/utils.h"
#include "foundation/video_finders.h"
#include "support/support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Every start code of b in order, byte by byte: (offset, code byte).
std::vector<std::pair<int64_t, int>> ref_codes(const uint8_t* b, int64_t n) {
  std::vector<std::pair<int64_t, int>> out;
  for (int64_t i = 0; i + 3 < n; ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) out.push_back({i, b[i + 3]});
  return out;
}

std::vector<std::pair<int64_t, int>> cursor_codes(const uint8_t* b, int64_t n) {
  std::vector<std::pair<int64_t, int>> out;
  StartCodeCursor c(b, n);
  while (c.next()) out.push_back({c.offset(), c.code()});
  EXPECT_EQ(c.offset(), c.length());
  EXPECT_EQ(c.code(), -1);
  return out;
}

// An exact-size heap copy, so that AddressSanitizer sees any read past it.
std::unique_ptr<uint8_t[]> exact(const Bytes& b) {
  auto p = std::make_unique<uint8_t[]>(b.size() ? b.size() : 1);
  if (!b.empty()) std::memcpy(p.get(), b.data(), b.size());
  return p;
}

TEST(StartCodeCursor, MalformedAndEdgeInputs) {
  using Codes = std::vector<std::pair<int64_t, int>>;
  struct Case {
    const char* name;
    Bytes bytes;
    Codes codes;
  } cases[] = {
      {"empty", {}, {}},
      {"one byte", {0}, {}},
      {"two bytes", {0, 0}, {}},
      {"prefix without code byte", {0, 0, 1}, {}},
      {"at offset 0", {0, 0, 1, 0xB3}, {{0, 0xB3}}},
      {"truncated at the end", {0, 0, 1, 0xB8, 7, 0, 0, 1}, {{0, 0xB8}}},
      {"truncated after two zeros", {5, 0, 0, 1, 0x00, 0, 0}, {{1, 0x00}}},
      {"at length - 4", {9, 9, 9, 0, 0, 1, 0xB7}, {{3, 0xB7}}},
      {"00 00 00 01 run", {0, 0, 0, 1, 0, 0, 0, 1, 0xB5}, {{1, 0x00}, {5, 0xB5}}},
      {"codes sharing a byte", {0, 0, 1, 0, 0, 1, 0, 0, 1, 1}, {{0, 0x00}, {3, 0x00}, {6, 0x01}}},
      {"lone 01 and 00 01", {1, 0, 1, 0, 0, 1, 0xFF}, {{3, 0xFF}}},
      {"all zeros", Bytes(40, 0), {}},
  };
  for (const auto& c : cases) {
    const auto p = exact(c.bytes);
    EXPECT_EQ(cursor_codes(p.get(), int64_t(c.bytes.size())), c.codes) << c.name;
    EXPECT_EQ(ref_codes(p.get(), int64_t(c.bytes.size())), c.codes) << c.name << " (reference)";
  }
  StartCodeCursor none(nullptr, 100);
  EXPECT_EQ(none.offset(), -1);
  EXPECT_FALSE(none.next());
  EXPECT_EQ(none.length(), 0);
  StartCodeCursor negative(cases[4].bytes.data(), -4);
  EXPECT_FALSE(negative.next());
}

TEST(StartCodeCursor, FindUnitEndAndSeek) {
  //            seq header at 0           ext at 8             picture at 15 (shares nothing)
  const Bytes b = {0, 0, 1, 0xB3, 1, 2, 3, 4, 0, 0, 1, 0xB5, 0x14, 9, 9, 0, 0, 1, 0x00, 0, 0x08};
  StartCodeCursor c(b.data(), int64_t(b.size()));
  ASSERT_TRUE(c.find(0xB5));
  EXPECT_EQ(c.offset(), 8);
  EXPECT_EQ(c.left(), int64_t(b.size()) - 8);
  EXPECT_EQ(c.unit_end(), 15);
  EXPECT_EQ(c.code(), 0x00);
  EXPECT_EQ(c.unit_end(), int64_t(b.size()));  // the picture runs to the end
  EXPECT_FALSE(c.found());
  c.seek(0);
  EXPECT_TRUE(c.find_if([](uint8_t x) { return x == 0x00 || x == 0xB8; }));
  EXPECT_EQ(c.offset(), 15);
  c.seek(1000);  // clamped: nothing more
  EXPECT_FALSE(c.next());
}

TEST(StartCodeAt, KnownPlacesAndSpanEnds) {
  struct Case {
    const char* name;
    Bytes bytes;
    int64_t at;
    int code;        // start_code_at
    bool prefix_end;  // start_code_prefix_at_end over the whole span
  } cases[] = {
      {"code at 0", {0, 0, 1, 0xBA, 0x44}, 0, 0xBA, false},
      {"code byte 00", {7, 0, 0, 1, 0}, 1, 0x00, false},
      {"code at length - 4", {9, 0, 0, 1, 0xB7}, 1, 0xB7, false},
      {"code byte behind the span", {9, 9, 0, 0, 1}, 2, -1, true},
      {"one place off", {0, 0, 1, 0xB3}, 1, -1, false},
      {"negative place", {0, 0, 1, 0xB3}, -1, -1, false},
      {"00 00 02", {0, 0, 2, 0xB3}, 0, -1, false},
      {"01 00 01", {1, 0, 1, 0xB3}, 0, -1, false},
      {"three bytes", {0, 0, 1}, 0, -1, true},
      {"two bytes", {0, 1}, 0, -1, false},
      {"empty", {}, 0, -1, false},
  };
  for (const auto& c : cases) {
    const auto p = exact(c.bytes);
    const int64_t n = int64_t(c.bytes.size());
    EXPECT_EQ(start_code_at(p.get(), n, c.at), c.code) << c.name;
    EXPECT_EQ(start_code_prefix_at_end(p.get(), n), c.prefix_end) << c.name;
  }
  EXPECT_EQ(start_code_at(nullptr, 8, 0), -1);
  EXPECT_FALSE(start_code_prefix_at_end(nullptr, 8));
}

TEST(PictureCodingExt, FoundOnlyInItsOwnPicture) {
  // picture header (8 bytes) at 0, then what follows it.
  const Bytes pic = {0, 0, 1, 0x00, 0, 0x10, 0xFF, 0xF8};
  const Bytes ext = {0, 0, 1, 0xB5, 0x8F, 0xFF, 0xF3, 0x41, 0x80};  // id 8, 9 bytes
  const Bytes other_ext = {0, 0, 1, 0xB5, 0x3F, 0xFF};             // quant matrix id 3
  auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
  };
  auto cut = [](Bytes b, size_t n) {
    b.resize(n);
    return b;
  };
  const Bytes slice = {0, 0, 1, 0x01, 0x12};
  struct Case {
    const char* name;
    Bytes bytes;
    int picture;
    int want;
  } cases[] = {
      {"right behind", cat({pic, ext, slice}), 0, 8},
      {"behind another extension", cat({pic, other_ext, ext}), 0, 14},
      {"behind a slice: only headers stop the search", cat({pic, slice, ext}), 0, 13},
      {"next picture first", cat({pic, pic, ext}), 0, -1},
      {"GOP header first", cat({pic, Bytes{0, 0, 1, 0xB8, 0, 0, 0, 0}, ext}), 0, -1},
      {"sequence end first", cat({pic, Bytes{0, 0, 1, 0xB7}, ext}), 0, -1},
      {"cut short", cut(cat({pic, ext}), 16), 0, -1},
      {"id byte missing", cut(cat({pic, ext}), 12), 0, -1},
      {"of the second picture", cat({pic, ext, pic, ext}), 17, 25},
      {"no data", {}, 0, -1},
  };
  for (const auto& c : cases) {
    const auto p = exact(c.bytes);
    EXPECT_EQ(find_picture_coding_ext(p.get(), int(c.bytes.size()), c.picture), c.want) << c.name;
  }
}

// Bytes dense in 00 and 01 so that prefixes and near misses are common.
Bytes random_bytes(std::mt19937& rng, size_t n) {
  Bytes b(n);
  for (auto& x : b) {
    const uint32_t r = rng() % 8;
    x = r < 4 ? 0 : r < 6 ? 1 : uint8_t(rng());
  }
  return b;
}

// Every level's kernel against the plain one: every length up to a few
// SIMD rounds, worst cases (all zeros, 00 00 01 repeated, a single code at
// each position), exact-size buffers.
TEST(StartCodeDsp, EveryLevelMatchesPlain) {
  const StartCodeDsp* plain = start_code_dsp_for(CpuLevel::c);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->scan(nullptr, 10), -1);
  std::mt19937 rng(7);
  for (int l = 0; l <= int(cpu_level_supported()); ++l) {
    const StartCodeDsp* dsp = start_code_dsp_for(CpuLevel(l));
    if (!dsp) continue;
    SCOPED_TRACE(cpu_level_name(CpuLevel(l)));
    auto check = [&](const Bytes& b) {
      const auto p = exact(b);
      const auto want = ref_codes(p.get(), int64_t(b.size()));
      const int64_t got = dsp->scan(p.get(), int64_t(b.size()));
      ASSERT_EQ(got, want.empty() ? -1 : want[0].first) << ::testing::PrintToString(b);
      ASSERT_EQ(got, plain->scan(p.get(), int64_t(b.size())));
    };
    for (size_t n = 0; n < 300; ++n) {
      check(random_bytes(rng, n));
      check(Bytes(n, 0));
      Bytes run(n);
      for (size_t i = 0; i < n; ++i) run[i] = i % 3 == 2;
      check(run);
    }
    for (size_t n = 4; n < 160; ++n)
      for (size_t at = 0; at + 4 <= n + 1; ++at) {
        Bytes b(n, 0x80);
        for (size_t i = 0; i < 4 && at + i < n; ++i) b[at + i] = i == 2 ? 1 : i == 3 ? 0xB3 : 0;
        check(b);
      }
    for (int round = 0; round < 200; ++round) check(random_bytes(rng, 1000 + rng() % 5000));
  }
}

// The wrappers, walked over real streams, return what the byte-by-byte
// forms of their documented results return.
TEST(StartCodeWrappers, SameOffsetsOnFixtureStreams) {
  for (const char* name : {"422.m2v", "fa_ps.mpg", "fields.ts", "fields_film.m2v", "odd.m2v"}) {
    const Bytes b = tsupport::read_file(tsupport::fixture(name));
    ASSERT_FALSE(b.empty()) << name;
    const int n = int(b.size());
    const auto codes = ref_codes(b.data(), n);
    ASSERT_EQ(cursor_codes(b.data(), n), codes) << name;
    EXPECT_EQ(utils_count_pictures(b.data(), n),
              std::count_if(codes.begin(), codes.end(), [](auto c) { return c.second == 0; }))
        << name;
    // From every start code and from a byte behind it.
    size_t k = 0;
    for (const auto& [at, code] : codes) {
      for (const int from : {int(at), int(at) + 1}) {
        while (k < codes.size() && codes[k].first < from) ++k;
        // next start code, header and GOP-or-picture finders
        auto first = [&](auto want) -> std::pair<int64_t, int> {
          for (size_t j = k; j < codes.size(); ++j)
            if (want(codes[j].second)) return codes[j];
          return {-1, -1};
        };
        const int left = n - from;
        // What the wrappers return when nothing is found (0 below 4 bytes).
        auto none = [left](int back) { return left < 4 ? 0 : left - back; };
        const auto any = first([](int) { return true; });
        int sc = 0;
        ASSERT_EQ(utils_next_start_code(b.data() + from, n - from, &sc),
                  any.first < 0 ? none(3) : any.first - from);
        ASSERT_EQ(sc, any.first < 0 ? 0 : 0x100 + any.second);
        const auto hdr = first([](int c) { return c == 0 || c == 0xB3 || c == 0xB8; });
        ASSERT_EQ(find_next_header_start(b.data() + from, n - from, &sc), hdr.first < 0 ? none(4) : hdr.first - from);
        ASSERT_EQ(sc, hdr.first < 0 ? 0xFFF : 0x100 | hdr.second);
        const auto gp = first([](int c) { return c == 0 || c == 0xB8; });
        ASSERT_EQ(find_next_gop_or_picture_start(b.data() + from, n - from, &sc),
                  gp.first < 0 ? none(4) : gp.first - from);
        const auto pic = first([](int c) { return c == 0; });
        uint32_t out = 0;
        ASSERT_EQ(utils_next_usr_start_code(0x100, b.data() + from, n - from, &out),
                  pic.first < 0 ? none(0) : pic.first - from);
        ASSERT_EQ(start_code_find(b.data() + from, n - from, 0x00, 4), pic.first < 0 ? -1 : int(pic.first) - from);
      }
      // The unit ends at the first start code that begins behind its four bytes.
      int sc = 0;
      size_t j = k;
      while (j < codes.size() && codes[j].first < at + 4) ++j;
      ASSERT_EQ(start_code_unit_end(b.data(), n, int(at), &sc), j < codes.size() ? int(codes[j].first) : n);
      ASSERT_EQ(sc, j < codes.size() ? codes[j].second : -1);
    }
  }
}

}  // namespace

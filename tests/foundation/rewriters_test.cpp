#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/bitstream.h"
#include "foundation/bsfile.h"
#include "foundation/rewriters.h"
#include "foundation/seq_header.h"
#include "foundation/system_header.h"
#include "foundation/utils.h"
#include "support/support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using tsupport::run;
using tsupport::sh_quote;

Bytes load(const std::string& fixture_name) { return tsupport::read_file(tsupport::fixture(fixture_name)); }

// Offsets of every start code `code` in b.
std::vector<int64_t> find_all(const Bytes& b, uint32_t code) {
  std::vector<int64_t> at;
  int64_t pos = 0;
  for (;;) {
    uint32_t found = 0;
    const int64_t k = utils_next_usr_start_code(code, b.data() + pos, int64_t(b.size()) - pos, &found);
    if (!found) break;
    at.push_back(pos + k);
    pos += k + 4;
  }
  return at;
}

// ffprobe lines (compact, key=value) of a file.
std::vector<std::string> probe(const std::string& path, const std::string& args) {
  std::string out;
  EXPECT_EQ(run("ffprobe -v error " + args + " -of compact=p=0 " + sh_quote(path), &out), 0);
  return tsupport::split_lines(out);
}

// Value of key in a compact ffprobe line ("a=1|b=2").
std::string kv(const std::string& line, const std::string& key) {
  std::istringstream in(line);
  std::string item;
  while (std::getline(in, item, '|'))
    if (item.compare(0, key.size() + 1, key + "=") == 0) return item.substr(key.size() + 1);
  return "";
}

std::vector<std::string> gop_time_codes(const std::string& path) {
  std::string out;
  run("ffprobe -v error -show_frames " + sh_quote(path) + " | sed -n 's/^timecode=//p'", &out);
  return tsupport::split_lines(out);
}

// Offsets (0-based) of the bytes `cmp -l` reports as different, with the
// two values.
struct Diff {
  int64_t at;
  int was, now;
};
std::vector<Diff> cmp_l(const std::string& a, const std::string& b) {
  std::string out;
  run("cmp -l " + sh_quote(a) + " " + sh_quote(b), &out);
  std::vector<Diff> d;
  std::istringstream in(out);
  long long at;
  std::string was, now;
  while (in >> at >> was >> now) d.push_back({at - 1, std::stoi(was, nullptr, 8), std::stoi(now, nullptr, 8)});
  return d;
}

// Every changed byte must lie in [start + from, start + to] of one of the
// headers.
void expect_changes_within(const std::vector<Diff>& diffs, const std::vector<int64_t>& headers, int from, int to) {
  for (const auto& d : diffs) {
    bool inside = false;
    for (int64_t h : headers) inside |= d.at >= h + from && d.at <= h + to;
    EXPECT_TRUE(inside) << "byte " << d.at << " changed outside the field";
  }
}

std::string save(const Bytes& b, const std::string& name) {
  const std::string path = tsupport::temp_dir() + "/" + name;
  tsupport::write_file(path, b);
  return path;
}

// Exact-size heap copy, so the sanitizer sees any access past the end.
struct Exact {
  explicit Exact(const Bytes& b) : p(new uint8_t[b.size() ? b.size() : 1]), n(int64_t(b.size())) {
    std::memcpy(p, b.data(), b.size());
  }
  ~Exact() { delete[] p; }
  Bytes bytes() const { return Bytes(p, p + n); }
  uint8_t* p;
  int64_t n;
};

// ---- synthetic pictures ---------------------------------------------------

// A picture header (and an MPEG-2 picture coding extension when structure
// is given: 1 top field, 2 bottom field, 3 frame), then a short slice.
void put_picture(Bytes& out, int type, int tr, int structure = 0, int rff = 0) {
  uint8_t buf[64] = {};
  BitWriter w(buf, sizeof buf, 0);
  w.put_bits(0x100, 32);
  w.put_bits(uint32_t(tr), 10);
  w.put_bits(uint32_t(type), 3);
  w.put_bits(0xFFFF, 16);  // vbv_delay
  if (type >= 2) w.put_bits(structure ? 0x7 : 0x2, 4);  // full_pel 0, f_code
  if (type == 3) w.put_bits(structure ? 0x7 : 0x2, 4);
  w.put_bits(0, 1);  // extra_bit_picture
  w.align_zero();
  if (structure) {
    w.put_bits(0x1B5, 32);
    w.put_bits(8, 4);
    w.put_bits(0x1111, 16);  // f_codes
    w.put_bits(0, 2);        // intra_dc_precision
    w.put_bits(uint32_t(structure), 2);
    w.put_bits(1, 1);        // top_field_first
    w.put_bits(structure == 3, 1);  // frame_pred_frame_dct
    w.put_bits(0, 4);        // concealment, q_scale_type, intra_vlc, alternate_scan
    w.put_bits(uint32_t(rff), 1);
    w.put_bits(1, 1);        // chroma_420_type
    w.put_bits(1, 1);        // progressive_frame
    w.put_bits(0, 1);        // composite_display_flag
    w.align_zero();
  }
  w.put_bits(0x101, 32);  // slice 1
  w.put_bits(0x12345678, 32);
  const size_t n = w.flush();
  out.insert(out.end(), buf, buf + n);
}

void put_gop_header(Bytes& out) {
  const uint8_t g[] = {0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x40};
  out.insert(out.end(), g, g + sizeof g);
}

std::vector<int> temporal_references(const Bytes& b) {
  std::vector<int> tr;
  for (int64_t at : find_all(b, 0x100)) tr.push_back((b[size_t(at) + 4] << 2) | (b[size_t(at) + 5] >> 6));
  return tr;
}

// ---- sequence header bit rate ---------------------------------------------

TEST(Rewriters, SeqBitRateOnRealStream) {
  const std::string original = tsupport::fixture("rw_m1c.m1v");
  Bytes b = tsupport::read_file(original);
  const auto headers = find_all(b, 0x1B3);
  ASSERT_GE(headers.size(), 2u);
  for (int64_t at : headers) {
    EXPECT_EQ(utils_set_seq_bit_rate(b.data() + at, int64_t(b.size()) - at, 1500000, 0), 1);
    EXPECT_EQ(utils_set_seq_bit_rate(b.data() + at, int64_t(b.size()) - at, 1500000, 0), 0);  // already so
  }
  const std::string path = save(b, "rate.m1v");
  const auto lines = probe(path, "-show_entries stream=bit_rate");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(kv(lines[0], "bit_rate"), "1500000");
  const auto diffs = cmp_l(original, path);
  EXPECT_FALSE(diffs.empty());
  expect_changes_within(diffs, headers, 8, 10);
}

TEST(Rewriters, SeqBitRateValuesAndClamping) {
  const Bytes m1 = load("rw_m1c.m1v");
  const Bytes head(m1.begin(), m1.begin() + 12 + 64 + 64 + 16);  // room for matrices
  struct Case {
    int64_t bit_rate;
    int raw;
    int result;
    int value;  // bit_rate_value afterwards
  } cases[] = {
      {1150000, 0, 0, 2875},           // already stored
      {1150001, 0, 1, 2876},
      {1500000, 0, 1, 3750},
      {0x3FFFF, 1, 1, 0x3FFFF},        // raw VBR marker
      {104857200, 0, 1, 0x3FFFE},      // computes 0x3FFFF: a rate, not VBR
      {200000000, 0, 1, 0x3FFFE},      // beyond 18 bits: clamped, no spill
      {0, 0, 0, 2875},                 // refused
      {-400, 1, 0, 2875},
  };
  for (const auto& c : cases) {
    Bytes b = head;
    EXPECT_EQ(utils_set_seq_bit_rate(b.data(), int64_t(b.size()), c.bit_rate, c.raw), c.result) << c.bit_rate;
    SeqHdr h;
    ASSERT_TRUE(h.decode(b.data(), int(b.size())));
    EXPECT_EQ(h.bit_rate, c.value) << c.bit_rate;
    // Neighbouring fields: sizes, aspect, rate code (bytes 4-7), marker,
    // vbv_buffer_size and the rest (byte 10's low six bits on).
    EXPECT_EQ(0, std::memcmp(b.data(), head.data(), 8));
    EXPECT_EQ(b[10] & 0x3F, head[10] & 0x3F);
    EXPECT_TRUE(std::equal(b.begin() + 11, b.end(), head.begin() + 11));
  }
  // No header, or one cut short: nothing written.
  Bytes none(64, 0xAB);
  EXPECT_EQ(utils_set_seq_bit_rate(none.data(), 64, 1500000, 0), 0);
  Exact cut(Bytes(head.begin(), head.begin() + 11));
  EXPECT_EQ(utils_set_seq_bit_rate(cut.p, cut.n, 1500000, 0), 0);
  EXPECT_EQ(cut.bytes(), Bytes(head.begin(), head.begin() + 11));
}

// ---- GOP time codes ---------------------------------------------------------

int tc_frames25(const std::string& tc) {  // "HH:MM:SS:FF" at 25 fps
  int h, m, s, f;
  EXPECT_EQ(std::sscanf(tc.c_str(), "%d:%d:%d:%d", &h, &m, &s, &f), 4) << tc;
  return ((h * 60 + m) * 60 + s) * 25 + f;
}
std::string tc_text25(int frames) {
  char t[32];
  std::snprintf(t, sizeof t, "%02d:%02d:%02d:%02d", frames / 90000, frames / 1500 % 60, frames / 25 % 60,
                frames % 25);
  return t;
}

TEST(Rewriters, GopTimeCodesOnRealStream) {
  const std::string original = tsupport::fixture("rw_m2i.m2v");
  Bytes b = tsupport::read_file(original);
  const auto before = gop_time_codes(original);
  const auto gops = find_all(b, 0x1B8);
  ASSERT_EQ(before.size(), gops.size());
  ASSERT_GE(gops.size(), 4u);

  // 01:02:03:04: drop 0, hours, minutes, marker, seconds, pictures.
  const uint32_t word = (1u << 19) | (2u << 13) | (1u << 12) | (3u << 6) | 4u;
  EXPECT_EQ(utils_set_gop_time_code(b.data(), int64_t(b.size()), word), 1);
  EXPECT_EQ(utils_set_gop_time_code(b.data(), int64_t(b.size()), word & ~(1u << 12)), 0);  // same with marker

  // Every later GOP moves 5 frames at 25 fps, carrying into the seconds.
  for (size_t i = 1; i < gops.size(); ++i)
    EXPECT_EQ(utils_shift_gop_time_code(b.data() + gops[i], int64_t(b.size()) - gops[i], 5, 25.0), 1);

  const std::string path = save(b, "tc.m2v");
  const auto after = gop_time_codes(path);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after[0], "01:02:03:04");
  for (size_t i = 1; i < after.size(); ++i) EXPECT_EQ(after[i], tc_text25(tc_frames25(before[i]) + 5)) << i;
  expect_changes_within(cmp_l(original, path), gops, 4, 7);

  Bytes none(32, 0);
  EXPECT_EQ(utils_set_gop_time_code(none.data(), 32, word), 0);
  EXPECT_EQ(utils_shift_gop_time_code(none.data(), 32, 5, 25.0), 0);
  Exact cut(Bytes(b.begin() + gops[1], b.begin() + gops[1] + 7));  // one byte short
  EXPECT_EQ(utils_shift_gop_time_code(cut.p, cut.n, 5, 25.0), 0);
}

// ---- top_field_first ---------------------------------------------------------

TEST(Rewriters, TopFieldFirstOnRealStream) {
  const std::string original = tsupport::fixture("rw_m2i.m2v");
  Bytes b = tsupport::read_file(original);
  const auto pictures = find_all(b, 0x100);
  ASSERT_GT(pictures.size(), 50u);
  for (int64_t at : pictures) EXPECT_EQ(utils_set_top_field_first(b.data() + at, int64_t(b.size()) - at, 0), 0);
  const std::string path = save(b, "bff.m2v");

  int frames = 0;
  for (const auto& line : probe(path, "-show_frames -show_entries frame=top_field_first")) {
    if (line.find("top_field_first=") == std::string::npos) continue;
    ++frames;
    EXPECT_EQ(kv(line, "top_field_first"), "0");
  }
  EXPECT_EQ(frames, int(pictures.size()));

  // One byte per picture: bit 7 of byte 7 of the extension that follows it.
  const auto diffs = cmp_l(original, path);
  EXPECT_EQ(diffs.size(), pictures.size());
  for (const auto& d : diffs) {
    EXPECT_EQ(d.was ^ d.now, 0x80) << d.at;
    EXPECT_EQ(b[size_t(d.at) - 7], 0x00);
    EXPECT_EQ(b[size_t(d.at) - 4], 0xB5);
    EXPECT_EQ(b[size_t(d.at) - 3] >> 4, 8);
  }
  for (int64_t at : pictures) utils_set_top_field_first(b.data() + at, int64_t(b.size()) - at, 1);
  EXPECT_EQ(b, tsupport::read_file(original));
}

// Fault pinned: only the picture coding extension right after the picture
// header may be changed; any other extension further on stays intact.
TEST(Rewriters, TopFieldFirstTouchesOnlyThePictureCodingExtension) {
  // MPEG-1: slices follow the picture header; a sequence extension later.
  Bytes m1;
  put_picture(m1, 1, 0);
  const uint8_t seq_ext[] = {0, 0, 1, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00};
  m1.insert(m1.end(), seq_ext, seq_ext + sizeof seq_ext);
  Exact a(m1);
  EXPECT_EQ(utils_set_top_field_first(a.p, a.n, 1), 1);
  EXPECT_EQ(a.bytes(), m1);

  // Picture header directly followed by a sequence extension (id 1).
  Bytes p = {0, 0, 1, 0, 0x00, 0x0F, 0xFF, 0xF8};
  p.insert(p.end(), seq_ext, seq_ext + sizeof seq_ext);
  Exact c(p);
  EXPECT_EQ(utils_set_top_field_first(c.p, c.n, 0), 1);
  EXPECT_EQ(c.bytes(), p);

  // User data may come between.
  Bytes u = {0, 0, 1, 0, 0x00, 0x0F, 0xFF, 0xF8, 0, 0, 1, 0xB2, 'h', 'i'};
  Bytes field;
  put_picture(field, 1, 0, 3);
  u.insert(u.end(), field.begin() + 8, field.end());  // the coding extension onwards
  Exact d(u);
  EXPECT_EQ(utils_set_top_field_first(d.p, d.n, 0), 0);
  const Bytes got = d.bytes();
  const auto ext = find_all(got, 0x1B5);
  ASSERT_EQ(ext.size(), 1u);
  EXPECT_EQ(got[size_t(ext[0]) + 7] & 0x80, 0);

  // An extension cut before byte 7.
  Bytes cut(field.begin(), field.begin() + int(find_all(field, 0x1B5)[0]) + 7);
  Exact e(cut);
  EXPECT_EQ(utils_set_top_field_first(e.p, e.n, 0), 1);
  EXPECT_EQ(e.bytes(), cut);
  EXPECT_EQ(utils_set_top_field_first(nullptr, 10, 0), 1);
}

// ---- temporal_reference ------------------------------------------------------

// Fault pinned: a picture start code in the last bytes of the buffer must not
// be written past the end.
TEST(Rewriters, TemporalReferenceField) {
  Bytes b;
  put_picture(b, 2, 5);
  const Bytes original = b;
  EXPECT_EQ(utils_set_temporal_reference(b.data(), int64_t(b.size()), 5), 0);
  EXPECT_EQ(b, original);
  EXPECT_EQ(utils_set_temporal_reference(b.data(), int64_t(b.size()), 0x3FF + 0x400 * 3), 1);  // masked to 10 bits
  EXPECT_EQ(temporal_references(b), std::vector<int>{0x3FF});
  // Only the ten bits moved: picture_coding_type and vbv_delay unchanged.
  EXPECT_EQ(b[5] & 0x3F, original[5] & 0x3F);
  EXPECT_TRUE(std::equal(b.begin() + 6, b.end(), original.begin() + 6));

  for (int keep = 4; keep <= 6; ++keep) {
    Bytes tail = {0xAA, 0xBB, 0, 0, 1, 0, 0xC0, 0x50};
    tail.resize(size_t(2 + keep));
    Exact e(tail);
    EXPECT_EQ(utils_set_temporal_reference(e.p, e.n, 1), keep == 6 ? 1 : 0) << keep;
  }
}

// ---- renumbering -------------------------------------------------------------

TEST(Rewriters, RenumbersSyntheticGops) {
  struct Pic {
    int type, structure;
  };
  struct Case {
    const char* name;
    std::vector<Pic> pics;  // coded order; structure 0 = MPEG-1 frame
    bool gop_after_third;   // a GOP header after the third picture
    std::vector<int> want;
    int leading_fields;
  } cases[] = {
      {"IBBPBB", {{1, 0}, {3, 0}, {3, 0}, {2, 0}, {3, 0}, {3, 0}}, false, {2, 0, 1, 5, 3, 4}, 4},
      {"IPBBPBB", {{1, 0}, {2, 0}, {3, 0}, {3, 0}, {2, 0}, {3, 0}, {3, 0}}, false, {0, 3, 1, 2, 6, 4, 5}, 0},
      // Field pairs: I/P, B/B, B/B, P/P; the second field takes the first's.
      {"fields",
       {{1, 1}, {2, 2}, {3, 1}, {3, 2}, {3, 1}, {3, 2}, {2, 1}, {2, 2}},
       false,
       {2, 2, 0, 0, 1, 1, 3, 3},
       4},
      // A GOP header restarts the count; a B first after it gets 0, not 1023.
      {"restart", {{1, 0}, {3, 0}, {2, 0}, {3, 0}, {1, 0}, {3, 0}}, true, {1, 0, 2, 0, 2, 1}, 2},
  };
  for (const auto& c : cases) {
    Bytes b;
    for (size_t i = 0; i < c.pics.size(); ++i) {
      if (c.gop_after_third && i == 3) put_gop_header(b);
      put_picture(b, c.pics[i].type, 777, c.pics[i].structure);
    }
    Exact e(b);
    EXPECT_EQ(utils_gop_temporal_reference(e.p, e.n), c.leading_fields) << c.name;
    EXPECT_EQ(temporal_references(e.bytes()), c.want) << c.name;
  }
}

// Chunks of a stream as a writer hands them over: each starts at the first
// sequence or GOP header after coded picture data.
std::vector<std::pair<int64_t, int64_t>> gop_chunks(const Bytes& b) {
  std::vector<int64_t> starts;
  int64_t pos = 0;
  int last = 0;
  for (;;) {
    int code = 0;
    const int64_t at = pos + utils_next_start_code(b.data() + pos, int64_t(b.size()) - pos, &code);
    if (!code) break;
    const bool header = code == 0x1B3 || code == 0x1B8;
    if (header && (last == 0 || (last >= 0x100 && last <= 0x1AF))) starts.push_back(at);
    last = code;
    pos = at + 4;
  }
  std::vector<std::pair<int64_t, int64_t>> chunks;
  for (size_t i = 0; i < starts.size(); ++i)
    chunks.emplace_back(starts[i], i + 1 < starts.size() ? starts[i + 1] : int64_t(b.size()));
  return chunks;
}

// Zero every temporal_reference of a real stream, renumber GOP by GOP: the
// file must come back byte for byte, and the leading B pictures' fields must
// be those ffprobe reports (2 + repeat_pict each).
TEST(Rewriters, RenumbersRealStreamsByteForByte) {
  for (const char* name : {"rw_m2i.m2v", "rw_cg.m2v", "rw_pd.m2v", "rw_m1c.m1v"}) {
    SCOPED_TRACE(name);
    const std::string path = tsupport::fixture(name);
    const Bytes original = tsupport::read_file(path);
    Bytes b = original;
    for (int64_t at : find_all(b, 0x100)) utils_set_temporal_reference(b.data() + at, int64_t(b.size()) - at, 0);
    ASSERT_NE(b, original);

    // Coded order of ffprobe's frames: type and repeat_pict.
    std::vector<std::pair<char, int>> coded(find_all(b, 0x100).size(), {'?', 0});
    for (const auto& line : probe(path, "-show_frames -show_entries frame=pict_type,coded_picture_number,repeat_pict")) {
      if (line.find("coded_picture_number=") == std::string::npos) continue;
      const auto n = size_t(std::stoul(kv(line, "coded_picture_number")));
      ASSERT_LT(n, coded.size());
      coded[n] = {kv(line, "pict_type")[0], std::stoi(kv(line, "repeat_pict"))};
    }

    size_t first_picture = 0;
    int gops_with_leading_b = 0;
    for (auto [from, to] : gop_chunks(b)) {
      Exact e(Bytes(b.begin() + from, b.begin() + to));
      const int leading = utils_gop_temporal_reference(e.p, e.n);
      std::memcpy(b.data() + from, e.p, size_t(e.n));
      // Expected: the B run right after the GOP's I picture.
      const int count = utils_count_pictures(e.p, e.n);
      int want = 0;
      for (size_t i = first_picture + 1; i < first_picture + size_t(count) && coded[i].first == 'B'; ++i)
        want += 2 + coded[i].second;
      if (coded[first_picture].first != 'I') want = -1;
      if (want >= 0) {
        EXPECT_EQ(leading, want) << "GOP at " << from;
        gops_with_leading_b += want > 0;
      }
      first_picture += size_t(count);
    }
    EXPECT_EQ(first_picture, coded.size());
    // Open GOPs start with B pictures (the closed ones of rw_cg do not).
    EXPECT_EQ(gops_with_leading_b > 0, std::string(name) != "rw_cg.m2v") << gops_with_leading_b;
    EXPECT_TRUE(b == original);

    // The whole file in one call does the same.
    for (int64_t at : find_all(b, 0x100)) utils_set_temporal_reference(b.data() + at, int64_t(b.size()) - at, 0);
    utils_gop_temporal_reference(b.data(), int64_t(b.size()));
    EXPECT_TRUE(b == original);
  }
}

// ---- sequence end code -------------------------------------------------------

TEST(Rewriters, CheckSequenceEnd) {
  const std::string dir = tsupport::temp_dir();
  const Bytes pd = load("rw_pd.m2v");  // ends with 00 00 01 B7
  ASSERT_EQ(Bytes(pd.end() - 4, pd.end()), (Bytes{0, 0, 1, 0xB7}));

  const std::string whole = save(pd, "whole.m2v");
  EXPECT_EQ(check_sequence_end(whole.c_str()), 0);
  EXPECT_EQ(tsupport::read_file(whole), pd);

  const std::string cut = save(Bytes(pd.begin(), pd.end() - 4), "cut.m2v");
  EXPECT_EQ(check_sequence_end(cut.c_str()), 4);
  EXPECT_EQ(tsupport::read_file(cut), pd);

  Bytes trailing = pd;
  trailing.push_back(0);
  trailing.push_back(0);
  const std::string tz = save(trailing, "tz.m2v");
  EXPECT_EQ(check_sequence_end(tz.c_str()), 0);
  EXPECT_EQ(tsupport::read_file(tz), trailing);

  // CBR stuffing at the end: the last four zero bytes take the code.
  const Bytes m1 = load("rw_m1c.m1v");
  ASSERT_EQ(Bytes(m1.end() - 4, m1.end()), Bytes(4, 0));
  const std::string stuffed = save(m1, "m1.m1v");
  EXPECT_EQ(check_sequence_end(stuffed.c_str()), 4);
  const Bytes after = tsupport::read_file(stuffed);
  ASSERT_EQ(after.size(), m1.size());
  EXPECT_EQ(Bytes(after.end() - 4, after.end()), (Bytes{0, 0, 1, 0xB7}));
  EXPECT_TRUE(std::equal(m1.begin(), m1.end() - 4, after.begin()));
  std::string out;
  EXPECT_EQ(run("ffmpeg -v error -i " + sh_quote(stuffed) + " -f null - 2>&1", &out), 0);
  EXPECT_EQ(out, "");

  const std::string tiny = save(Bytes{1, 2}, "tiny.bin");  // shorter than a code
  EXPECT_EQ(check_sequence_end(tiny.c_str()), 4);
  EXPECT_EQ(tsupport::read_file(tiny), (Bytes{1, 2, 0, 0, 1, 0xB7}));
  EXPECT_EQ(check_sequence_end((dir + "/missing.m2v").c_str()), 0);
  EXPECT_EQ(check_sequence_end(nullptr), 0);
}

// ---- Video CD header sectors -------------------------------------------------

uint64_t read_scr(const uint8_t* p) {  // the 5 SCR bytes of an MPEG-1 pack header
  return (uint64_t(p[0] >> 1) & 7) << 30 | uint64_t(p[1]) << 22 | uint64_t(p[2] >> 1) << 15 |
         uint64_t(p[3]) << 7 | uint64_t(p[4] >> 1);
}

TEST(Rewriters, VcdHeaderSectorsMatchVideoCdStream) {
  const Bytes vcd = load("rw_vcd.mpg");
  ASSERT_GE(vcd.size(), 3u * 2324);
  const uint64_t scr = read_scr(vcd.data() + 4);
  Bytes ours(kVcdSystemHeaderBytes + 8, 0xEE);
  EXPECT_EQ(vcd_mux_system_headers(ours.data(), kVcdSystemHeaderBytes, double(scr)), kVcdSystemHeaderBytes);
  EXPECT_EQ(ours[kVcdSystemHeaderBytes], 0xEE);  // nothing past the end

  // Sector 1 is the Video CD's first sector byte for byte; sector 2 its third
  // (the audio system header) apart from the clock.
  EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + 2324, vcd.begin()));
  const uint8_t* s2 = ours.data() + 2324;
  EXPECT_EQ(read_scr(s2 + 4), scr + 1200);
  EXPECT_TRUE(std::equal(s2 + 9, s2 + 2324, vcd.begin() + 2 * 2324 + 9));
  EXPECT_TRUE(std::equal(s2, s2 + 4, vcd.begin() + 2 * 2324));

  SysHdr video, audio;
  ASSERT_EQ(video.decode(ours.data(), 2324), 1);
  ASSERT_EQ(audio.decode(s2, 2324), 1);
  EXPECT_EQ(video.rate_bound, 3528 * 400);
  EXPECT_EQ(video.get_stream_id(0), 0xE0);
  EXPECT_EQ(video.video_bound, 1);
  EXPECT_EQ(audio.get_stream_id(0), 0xC0);
  EXPECT_EQ(audio.audio_bound, 1);

  Bytes small(kVcdSystemHeaderBytes - 1, 0x11);
  EXPECT_EQ(vcd_mux_system_headers(small.data(), int64_t(small.size()), 0.0), 0);
  EXPECT_EQ(small, Bytes(kVcdSystemHeaderBytes - 1, 0x11));
}

TEST(Rewriters, EndCodesThroughTheFileLayer) {
  const std::string path = tsupport::temp_dir() + "/end.bin";
  {
    BSFile f(path.c_str(), 2);
    EXPECT_EQ(utils_bsf_write_sequence_end_code(&f), 4);
    EXPECT_EQ(utils_bsf_write_program_end_code(&f), 4);
  }
  EXPECT_EQ(tsupport::read_file(path), (Bytes{0, 0, 1, 0xB7, 0, 0, 1, 0xB9}));
  EXPECT_EQ(utils_bsf_write_sequence_end_code(nullptr), 0);
}

}  // namespace

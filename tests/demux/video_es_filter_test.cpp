// Video elementary-stream filter: pass-through, continuous GOP time codes on
// joined streams, header insertion, feeding in pieces, damaged input.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "demux/video_es_filter.h"
#include "foundation/gop_header.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/start_code.h"
#include "foundation/timecode.h"
#include "support/support.h"

namespace {

using namespace tsupport;
using Bytes = std::vector<uint8_t>;

struct Filtered {
  Bytes out;
  int gops = 0, pictures = 0, rewritten = 0, inserted = 0;
};

// Feeds the input chunk bytes at a time (0: all at once).
Filtered run_filter(const Bytes& in, size_t chunk, int insert = 0) {
  VideoESFilter f;
  Filtered r;
  if (chunk == 0) chunk = in.size() ? in.size() : 1;
  for (size_t at = 0; at < in.size(); at += chunk) {
    const int n = static_cast<int>(std::min(chunk, in.size() - at));
    int len = -1;
    const uint8_t* p = f.filter_data(in.data() + at, n, &len, insert);
    EXPECT_NE(p, nullptr);
    EXPECT_GE(len, 0);
    if (p && len > 0) r.out.insert(r.out.end(), p, p + len);
  }
  int len = -1;
  const uint8_t* p = f.take_output(&len);
  if (p && len > 0) r.out.insert(r.out.end(), p, p + len);
  EXPECT_EQ(f.pending(), 0);
  r.gops = f.gop_headers();
  r.pictures = f.pictures();
  r.rewritten = f.rewritten();
  r.inserted = f.inserted();
  return r;
}

struct Unit {
  int64_t at;
  int code;
};
std::vector<Unit> units(const Bytes& b) {
  std::vector<Unit> u;
  StartCodeCursor sc(b.data(), static_cast<int64_t>(b.size()));
  while (sc.next()) u.push_back({sc.offset(), sc.code()});
  return u;
}

// Walks the stream and checks every GOP's time code against the frames shown
// before it (either rounding of a field count), or against the pictures
// before it when the stream counts those; returns the GOP count.
int expect_continuous_time_codes(const Bytes& b, double rate, bool count_pictures = false) {
  int gops = 0;
  int64_t fields = 0, pictures = 0;
  int first = 0;
  int prog = 0;
  for (const Unit& u : units(b)) {
    const uint8_t* p = b.data() + u.at;
    const int left = static_cast<int>(b.size() - u.at);
    if (u.code == 0xB3) {
      SeqHdr s;
      if (s.decode(p, left) > 0) prog = s.get_progressive_sequence();
    } else if (u.code == 0xB8) {
      GopHdr g;
      EXPECT_GT(g.decode(p, left), 0);
      const int frame = tc25_to_frame(g.time_code & 0x1FFFFFF, count_pictures ? 24.0 : rate);
      if (gops++ == 0) {
        first = frame;
        fields = pictures = 0;
      } else if (count_pictures) {
        EXPECT_EQ(frame - first, pictures) << "GOP " << gops;
      } else {
        EXPECT_TRUE(frame - first == fields / 2 || frame - first == (fields + 1) / 2)
            << "GOP " << gops << " at frame " << frame - first << " after " << fields << " fields";
      }
    } else if (u.code == 0x00) {
      PicHdr h;
      h.decode(p, left);
      fields += h.get_field_count(prog);
      ++pictures;
    }
  }
  return gops;
}

Bytes cat(const Bytes& a, const Bytes& b) {
  Bytes r = a;
  r.insert(r.end(), b.begin(), b.end());
  return r;
}

// Removes the sequence and/or GOP headers (with their extensions and user
// data) that come after the first picture.
Bytes strip_headers(const Bytes& in, bool seq, bool gop) {
  Bytes out;
  const std::vector<Unit> u = units(in);
  bool seen_picture = false;
  size_t copied = 0;
  for (size_t i = 0; i < u.size(); ++i) {
    if (u[i].code == 0x00) seen_picture = true;
    const bool drop = seen_picture && ((u[i].code == 0xB3 && seq) || (u[i].code == 0xB8 && gop));
    if (!drop) continue;
    size_t j = i + 1;
    while (j < u.size() && (u[j].code == 0xB5 || u[j].code == 0xB2)) ++j;
    const size_t end = j < u.size() ? static_cast<size_t>(u[j].at) : in.size();
    out.insert(out.end(), in.begin() + static_cast<long>(copied), in.begin() + u[i].at);
    copied = end;
  }
  out.insert(out.end(), in.begin() + static_cast<long>(copied), in.end());
  return out;
}

TEST(VideoESFilter, CorrectStreamsPassByteIdentical) {
  // MPEG-1, MPEG-2 at 25 and 29.97 fps, interlaced, 3:2 pulldown (odd field
  // counts per GOP), drop-frame time codes across minutes, film rate.
  for (const char* name : {"st_m1.m1v", "st_m2.m2v", "st_m2vbr.m2v", "il_tff.m2v", "pd.m2v", "rw_pd.m2v",
                           "fields_df.m2v", "fields_df10.m2v", "fields_film.m2v", "fields_cg.m2v", "m2c.m2v"}) {
    const Bytes in = read_file(fixture(name));
    ASSERT_FALSE(in.empty()) << name;
    const Filtered r = run_filter(in, 65536);
    EXPECT_EQ(r.rewritten, 0) << name;
    EXPECT_EQ(r.inserted, 0) << name;
    EXPECT_GT(r.gops, 0) << name;
    EXPECT_TRUE(r.out == in) << name;
  }
}

TEST(VideoESFilter, JoinedStreamsGetContinuousTimeCodesAndDifferOnlyThere) {
  // pd.m2v is pulled-down film whose time codes count pictures at 24 fps: the
  // joined copy keeps counting them so.
  for (const char* name : {"st_m2.m2v", "st_m2vbr.m2v", "st_m1.m1v", "pd.m2v"}) {
    const Bytes one = read_file(fixture(name));
    const Bytes in = cat(one, one);
    SeqHdr s;
    ASSERT_GT(s.decode(in.data(), static_cast<int>(in.size())), 0);
    const Filtered r = run_filter(in, 0);
    ASSERT_EQ(r.out.size(), in.size()) << name;
    EXPECT_GT(r.rewritten, 0) << name;
    EXPECT_EQ(expect_continuous_time_codes(r.out, s.get_frame_rate(), std::string(name) == "pd.m2v"), r.gops)
        << name;
    // The first copy is untouched; in the second only time-code bytes of GOP
    // headers (bytes 4..7 after 00 00 01 B8) may change.
    EXPECT_TRUE(std::equal(one.begin(), one.end(), r.out.begin())) << name;
    std::vector<bool> tc_byte(in.size(), false);
    for (const Unit& u : units(in))
      if (u.code == 0xB8)
        for (int k = 4; k < 8; ++k) tc_byte[u.at + k] = true;
    size_t diffs = 0;
    for (size_t i = 0; i < in.size(); ++i)
      if (in[i] != r.out[i]) {
        ++diffs;
        EXPECT_TRUE(tc_byte[i]) << name << " byte " << i;
      }
    EXPECT_GT(diffs, 0u) << name;
  }
}

TEST(VideoESFilter, FeedingInPiecesGivesTheSameOutput) {
  const Bytes one = read_file(fixture("st_m2.m2v"));
  const Bytes joined = cat(one, one);
  for (int insert : {0, 1}) {
    const Bytes in = insert ? strip_headers(joined, true, true) : joined;
    const Filtered whole = run_filter(in, 0, insert);
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{4093}}) {
      const Filtered part = run_filter(in, chunk, insert);
      EXPECT_TRUE(part.out == whole.out) << "chunk " << chunk << " insert " << insert;
      EXPECT_EQ(part.rewritten, whole.rewritten);
      EXPECT_EQ(part.inserted, whole.inserted);
      EXPECT_EQ(part.pictures, whole.pictures);
    }
  }
}

TEST(VideoESFilter, InsertionRestoresStrippedHeaders) {
  // The fixture repeats its sequence header before every GOP, with time
  // codes from 00:00:00:00; stripping and inserting must give it back.
  const Bytes in = read_file(fixture("st_m2.m2v"));
  struct Case {
    bool seq, gop;
  };
  for (const Case c : {Case{true, true}, Case{true, false}, Case{false, true}}) {
    const Bytes stripped = strip_headers(in, c.seq, c.gop);
    ASSERT_LT(stripped.size(), in.size());
    const Filtered off = run_filter(stripped, 65536, 0);
    EXPECT_TRUE(off.out == stripped) << c.seq << c.gop;
    const Filtered on = run_filter(stripped, 65536, 1);
    EXPECT_GT(on.inserted, 0);
    EXPECT_TRUE(on.out == in) << "seq " << c.seq << " gop " << c.gop;
  }
}

// ---- a hand-made field-coded stream ----------------------------------------

struct Bits {
  Bytes out;
  uint32_t acc = 0;
  int held = 0;
  void put(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
      acc = (acc << 1) | ((v >> i) & 1);
      if (++held == 8) {
        out.push_back(uint8_t(acc));
        acc = 0;
        held = 0;
      }
    }
  }
  void start_code(uint8_t c) {
    while (held) put(0, 1);
    put(0x000001, 24);
    put(c, 8);
  }
};

void sequence(Bits& b) {
  b.start_code(0xB3);
  b.put(64, 12), b.put(48, 12), b.put(2, 4), b.put(3, 4);  // 64x48, 4:3, 25 fps
  b.put(0x3FFFF, 18), b.put(1, 1), b.put(112, 10), b.put(0, 1), b.put(0, 1), b.put(0, 1);
  b.start_code(0xB5);  // main profile, interlaced 4:2:0
  b.put(1, 4), b.put(0x48, 8), b.put(0, 1), b.put(1, 2), b.put(0, 2), b.put(0, 2);
  b.put(0, 12), b.put(1, 1), b.put(0, 8), b.put(0, 1), b.put(0, 2), b.put(0, 5);
}

void gop(Bits& b, int seconds) {
  b.start_code(0xB8);
  b.put(0, 1), b.put(0, 5), b.put(0, 6), b.put(1, 1), b.put(uint32_t(seconds), 6), b.put(0, 6);
  b.put(0, 1), b.put(0, 1), b.put(0, 5);
}

void field(Bits& b, int tr, int type, int structure) {
  b.start_code(0x00);
  b.put(uint32_t(tr), 10), b.put(uint32_t(type), 3), b.put(0xFFFF, 16);
  if (type >= 2) b.put(0, 1), b.put(7, 3);
  if (type == 3) b.put(0, 1), b.put(7, 3);
  b.put(0, 1);
  b.start_code(0xB5);
  b.put(8, 4);
  for (int i = 0; i < 4; ++i) b.put(type == 1 ? 15 : 1, 4);
  b.put(0, 2), b.put(uint32_t(structure), 2);
  b.put(0, 7), b.put(1, 1), b.put(0, 2);
  for (int row = 1; row <= 2; ++row) {
    b.start_code(uint8_t(row));
    for (int i = 0; i < 40; ++i) b.put(0x5A, 8);
  }
}

TEST(VideoESFilter, InsertionKeepsFieldPairsTogether) {
  // An I/I field pair with no headers of its own: the headers go before the
  // first field only, never between the two fields of one frame.
  Bits b;
  sequence(b);
  gop(b, 0);
  field(b, 0, 1, 1), field(b, 0, 1, 2);
  field(b, 1, 2, 1), field(b, 1, 2, 2);
  const size_t second_gop = b.out.size();
  field(b, 0, 1, 1), field(b, 0, 1, 2);
  b.start_code(0xB7);
  const Filtered r = run_filter(b.out, 0, 1);
  EXPECT_EQ(r.inserted, 2);
  const std::vector<Unit> u = units(r.out);
  int pics = 0;
  for (size_t i = 0; i < u.size(); ++i) {
    if (u[i].code == 0x00) ++pics;
    if (u[i].code == 0xB3 || u[i].code == 0xB8) {
      EXPECT_TRUE(pics == 0 || pics == 4) << "header after picture " << pics;
    }
  }
  // The inserted GOP header says 2 frames in (4 fields at 25 fps).
  const Bytes tail(r.out.begin() + static_cast<long>(second_gop), r.out.end());
  GopHdr g;
  ASSERT_GT(g.decode(tail.data(), static_cast<int>(tail.size())), 0);
  EXPECT_EQ(tc25_to_frame(g.time_code & 0x1FFFFFF, 25.0), 2);
}

TEST(VideoESFilter, DamagedInputEndsCleanly) {
  const Bytes in = read_file(fixture("st_m2.m2v"));
  std::mt19937 rng(5);
  for (int round = 0; round < 6; ++round) {
    Bytes bad(in.begin(), in.begin() + static_cast<long>(in.size() / (round + 2)));
    for (int k = 0; k < 200; ++k) bad[rng() % bad.size()] ^= uint8_t(1u << (rng() % 8));
    TraceCapture cap;
    const Filtered r = run_filter(bad, 1 + rng() % 9000, round & 1);
    EXPECT_GE(r.out.size(), bad.size());
  }
  Bytes random(200000);
  for (auto& x : random) x = uint8_t(rng());
  const Filtered r = run_filter(random, 3000, 1);
  EXPECT_EQ(r.out.size(), random.size());
  // Nothing at all, and data with no start code.
  EXPECT_TRUE(run_filter({}, 0).out.empty());
  const Bytes zeros(100000, 0);
  EXPECT_TRUE(run_filter(zeros, 999).out == zeros);
}

}  // namespace

// The start-cut scan over hand-built GOPs (fed whole and in small chunks),
// the header patch helpers on a scratch file (split headers included), and
// trim_start / copy_bytes / the modifiers on real streams.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "demux/demuxer.h"
#include "demux/demuxer_cache.h"
#include "demux/goplist.h"
#include "foundation/gop_header.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "support/support.h"

namespace {

using namespace tsupport;
using Bytes = std::vector<uint8_t>;

// ---- hand-built MPEG-1 elementary data -----------------------------------------

void put(Bytes* b, std::initializer_list<int> v) {
  for (int x : v) b->push_back(uint8_t(x));
}

// 352x288, 25 Hz, bit_rate_value 2875, vbv_buffer_size 20.
void sequence_header(Bytes* b) {
  put(b, {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13, 0x02, 0xCE, 0xE0, 0xA4});
}

// GOP header: time code 10:00:00:00, closed_gop as given.
//   byte 4: d h h h h h m m   byte 5: m m m m 1 s s s   byte 6: s s s p p p p p
//   byte 7: p c b 0 0 0 0 0   (d drop frame, c closed_gop, b broken_link)
void gop_header(Bytes* b, int closed) {
  put(b, {0, 0, 1, 0xB8, 10 << 2, 0x08, 0x00, closed ? 0x40 : 0x00});
}

// A picture of the given coding type with a vbv_delay, then a slice of
// filler bytes.
void picture(Bytes* b, int type, int vbv_delay, int filler) {
  //   byte 4: t*8   byte 5: t t c c c v v v   byte 6: v*8   byte 7: v v v v v x x x
  // byte 8 of P: f f e 0 ...  of B: f g g g h e 0 0 (forward_f_code 1 ends in
  // its top bit, backward_f_code 1 after full_pel_backward, e: extra_bit 0).
  const uint32_t bits = uint32_t(type) << 19 | uint32_t(vbv_delay) << 3;
  put(b, {0, 0, 1, 0, int(bits >> 24) & 0xFF, int(bits >> 16) & 0xFF, int(bits >> 8) & 0xFF, int(bits) & 0xFF,
          type == 2 ? 0x80 : type == 3 ? 0x88 : 0x00});
  put(b, {0, 0, 1, 1});
  for (int i = 0; i < filler; ++i) b->push_back(uint8_t(0x55 + (i & 0x0F)));
}

struct Gop {
  Bytes bytes;
  std::vector<int> offsets;  // of each picture start code
};

// "IBBP" etc.; sequence header and GOP header first.
Gop build(const char* types, int closed, int filler = 300) {
  Gop g;
  sequence_header(&g.bytes);
  gop_header(&g.bytes, closed);
  for (const char* t = types; *t; ++t) {
    if (*t == 'G') {  // the next GOP
      sequence_header(&g.bytes);
      gop_header(&g.bytes, 0);
      continue;
    }
    g.offsets.push_back(int(g.bytes.size()));
    picture(&g.bytes, *t == 'I' ? 1 : *t == 'P' ? 2 : 3, 1000, filler);
  }
  return g;
}

// Feeds the bytes to the scan in chunks of `chunk` bytes, keeping what it
// does not consume, as trim_parse does.
TrimScan scan_in_chunks(const Bytes& all, int chunk) {
  TrimScan s;
  Bytes held;
  size_t next = 0;
  int64_t fed = 0;
  for (int guard = 0; guard < 100000 && !s.done(); ++guard) {
    const size_t take = std::min(all.size() - next, size_t(chunk));
    held.insert(held.end(), all.begin() + long(next), all.begin() + long(next + take));
    next += take;
    fed += int64_t(take);
    const int c = DeMuxer::trim_scan(held.data(), int(held.size()), fed, 9, &s);
    if (c <= 0 && next >= all.size()) break;
    held.erase(held.begin(), held.begin() + c);
  }
  return s;
}

struct ScanCase {
  const char* name;
  const char* types;
  int closed;
  bool blank;
  int first_b;  // picture index, -1 none
  int end;      // picture index; -2: the second sequence header
  int b_fields;
};

TEST(TrimScan, FindsLeadingBPicturesWhateverTheFeedSize) {
  const std::vector<ScanCase> cases = {
      {"open, two B", "IBBPBBP", 0, true, 1, 3, 4},
      {"open, three B", "IBBBPBBBP", 0, true, 1, 4, 6},
      {"closed GOP", "IBBPBBP", 1, false, 1, 3, 4},
      {"I then P", "IPBBPBB", 0, false, -1, 1, 0},
      // The GOP ends before a second anchor: blanking stops at the next
      // sequence header instead of zeroing it.
      {"next GOP first", "IBBGIBB", 0, true, 1, -2, 4},
  };
  for (const auto& c : cases) {
    const Gop g = build(c.types, c.closed);
    for (int chunk : {1, 7, 64, 300, 100000}) {
      SCOPED_TRACE(std::string(c.name) + " chunk " + std::to_string(chunk));
      const TrimScan s = scan_in_chunks(g.bytes, chunk);
      ASSERT_TRUE(s.done());
      EXPECT_EQ(s.first_header, 0);
      EXPECT_EQ(s.sequence_seen, 1);
      EXPECT_EQ(s.gop_seen, 1);
      EXPECT_EQ(s.gop_offset, 12);
      EXPECT_EQ(s.closed_gop, c.closed);
      EXPECT_EQ(s.i_pictures, 1);
      EXPECT_EQ(s.first_b, c.first_b < 0 ? -1 : g.offsets[size_t(c.first_b)]);
      const int64_t second_seq = int64_t(g.offsets[2]) + 13 + 300;  // after the second B picture
      EXPECT_EQ(s.end, c.end == -2 ? second_seq : g.offsets[size_t(c.end)]);
      EXPECT_EQ(s.b_fields, c.b_fields);
      EXPECT_EQ(s.needs_blanking(), c.blank);
    }
  }
}

// An MPEG-2 field picture: header, coding extension, a slice of filler.
void field_picture(Bytes* b, int type, int structure) {
  const uint32_t bits = uint32_t(type) << 19 | 0xFFFFu << 3;
  put(b, {0, 0, 1, 0, int(bits >> 24) & 0xFF, int(bits >> 16) & 0xFF, int(bits >> 8) & 0xFF, int(bits) & 0xFF,
          type == 2 ? 0x80 : type == 3 ? 0x88 : 0x00});
  //   B5, then: 1 0 0 0 f f f f | f*8 | f f f f d d s s | t p c q v a r h | g x ...
  //   (extension id 8, f_codes 15, s: picture_structure)
  put(b, {0, 0, 1, 0xB5, 0x8F, 0xFF, 0xF0 | structure, 0x00, 0x00});
  put(b, {0, 0, 1, 1});
  for (int i = 0; i < 200; ++i) b->push_back(uint8_t(0x55 + (i & 0x0F)));
}

TEST(TrimScan, FieldPairsCountAsOneAnchor) {
  // I top + P bottom, then four B fields, then the next frame's P fields.
  Bytes all;
  sequence_header(&all);
  gop_header(&all, 0);
  std::vector<int> at;
  for (const auto& [type, structure] : std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {3, 1}, {3, 2}, {3, 1}, {3, 2}, {2, 1}, {2, 2}}) {
    at.push_back(int(all.size()));
    field_picture(&all, type, structure);
  }
  for (int chunk : {5, 64, 100000}) {
    SCOPED_TRACE(chunk);
    TrimScan s;
    s.progressive_sequence = 0;
    Bytes held;
    size_t next = 0;
    int64_t fed = 0;
    while (!s.done() && next < all.size()) {
      const size_t take = std::min(all.size() - next, size_t(chunk));
      held.insert(held.end(), all.begin() + long(next), all.begin() + long(next + take));
      next += take;
      fed += int64_t(take);
      const int c = DeMuxer::trim_scan(held.data(), int(held.size()), fed, 32, &s);
      held.erase(held.begin(), held.begin() + c);
    }
    ASSERT_TRUE(s.done());
    EXPECT_EQ(s.first_b, at[2]);
    EXPECT_EQ(s.end, at[6]);
    EXPECT_EQ(s.b_pictures, 4);
    EXPECT_EQ(s.b_fields, 4);  // two frames' worth
    EXPECT_TRUE(s.needs_blanking());
  }
}

TEST(TrimScan, ShortOrEmptyInputConsumesNothing) {
  TrimScan s;
  const uint8_t b[8] = {0, 0, 1, 0, 0, 0x08, 0, 0};
  EXPECT_EQ(DeMuxer::trim_scan(nullptr, 100, 100, 9, &s), 0);
  EXPECT_EQ(DeMuxer::trim_scan(b, 8, 8, 9, &s), 0);  // fewer than the minimum
  EXPECT_FALSE(s.done());
  EXPECT_EQ(s.first_header, -1);
}

// ---- patch helpers on a scratch file ----------------------------------------------

struct ScratchFile {
  std::string path;
  explicit ScratchFile(const Bytes& b) : path(temp_dir() + "/scratch.bin") { write_file(path, b); }
  Bytes bytes() const { return read_file(path); }
};

int seq_bit_rate(const uint8_t* h) { return (h[8] << 10) | (h[9] << 2) | (h[10] >> 6); }
int seq_vbv_size(const uint8_t* h) { return ((h[10] & 0x1F) << 5) | (h[11] >> 3); }
int pic_vbv_delay(const uint8_t* h) { return ((h[5] & 7) << 13) | (h[6] << 5) | (h[7] >> 3); }

TEST(TrimPatch, VbvDelayUsesTheIsoBitLayout) {
  // An ffmpeg CBR picture header: vbv_delay 19218.
  const uint8_t h[] = {0, 0, 1, 0, 0x00, 0x0a, 0x58, 0x90, 0, 0, 1, 1};
  PicHdr pic;
  (void)pic.decode(h, sizeof h);
  EXPECT_EQ(pic.vbv_delay, 19218);
  EXPECT_EQ(pic_vbv_delay(h), 19218);
  ScratchFile f(Bytes(h, h + sizeof h));
  BSFile file(f.path.c_str(), 3);
  EXPECT_EQ(DeMuxer::add_vbv_delay(&file, 900, FileOffset()), 1);
  file.close();
  const Bytes after = f.bytes();
  EXPECT_EQ(pic_vbv_delay(after.data()), 19218 + 900);
  EXPECT_EQ(after[5] & 0xF8, h[5] & 0xF8);  // temporal_reference and coding type kept
  EXPECT_EQ(after[7] & 7, h[7] & 7);
}

struct DelayCase {
  int before, add, after;
};

TEST(TrimPatch, AddVbvDelayKeepsVbrAndClampsInsteadOfWrapping) {
  const std::vector<DelayCase> cases = {
      {1000, 900, 1900},
      {0xFFFF, 900, 0xFFFF},   // variable bit rate stays so
      {0xFF00, 900, 0xFFFE},   // no wrap to a tiny delay
      {500, -900, 0},          // no wrap to a huge one
      {1000, 0, 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before);
    Bytes b;
    picture(&b, 2, c.before, 20);
    ScratchFile f(b);
    BSFile file(f.path.c_str(), 3);
    EXPECT_EQ(DeMuxer::add_vbv_delay(&file, c.add, FileOffset()), c.after != c.before ? 1 : 0);
    file.close();
    EXPECT_EQ(pic_vbv_delay(f.bytes().data()), c.after);
  }
}

TEST(TrimPatch, FieldValuesClampToTheirWidth) {
  EXPECT_EQ(DeMuxer::to_bit_rate_value(3000000), 7500);
  EXPECT_EQ(DeMuxer::to_bit_rate_value(3000001), 7501);
  EXPECT_EQ(DeMuxer::to_bit_rate_value(int64_t(0x3FFFF) * 400), 0x3FFFE);  // never the VBR mark
  EXPECT_EQ(DeMuxer::to_bit_rate_value(int64_t(1) << 40), 0x3FFFE);
  EXPECT_EQ(DeMuxer::to_vbv_size_code(1000000), 62);
  EXPECT_EQ(DeMuxer::to_vbv_size_code(16384), 1);
  EXPECT_EQ(DeMuxer::to_vbv_size_code(int64_t(1) << 30), 1023);
}

TEST(TrimPatch, SequenceHeaderSettersTouchOnlyTheirBits) {
  Bytes b;
  sequence_header(&b);
  ScratchFile f(b);
  BSFile file(f.path.c_str(), 3);
  EXPECT_EQ(DeMuxer::set_seqhdr_bit_rate(&file, 7500, FileOffset()), 1);
  EXPECT_EQ(DeMuxer::set_seqhdr_bit_rate(&file, 7500, FileOffset()), 0);
  EXPECT_EQ(DeMuxer::set_vbv_buffer_size(&file, 62, FileOffset()), 1);
  EXPECT_EQ(DeMuxer::set_vbv_buffer_size(&file, 62, FileOffset()), 0);
  file.close();
  const Bytes a = f.bytes();
  EXPECT_EQ(seq_bit_rate(a.data()), 7500);
  EXPECT_EQ(seq_vbv_size(a.data()), 62);
  EXPECT_EQ(a[10] & 0x20, 0x20);  // marker bit
  EXPECT_EQ(a[11] & 7, b[11] & 7);
  EXPECT_TRUE(std::equal(a.begin(), a.begin() + 8, b.begin()));
  // Not a sequence header: nothing is written.
  ScratchFile junk(Bytes(16, 0x11));
  BSFile j(junk.path.c_str(), 3);
  EXPECT_EQ(DeMuxer::set_seqhdr_bit_rate(&j, 7500, FileOffset()), 0);
  EXPECT_EQ(DeMuxer::set_vbv_buffer_size(&j, 62, FileOffset()), 0);
  EXPECT_EQ(DeMuxer::add_vbv_delay(&j, 5, FileOffset()), 0);
  j.close();
  EXPECT_EQ(junk.bytes(), Bytes(16, 0x11));
}

TEST(TrimPatch, HeadersSplitOverTwoPlacesPatchLikeWholeOnes) {
  Bytes seq, pic;
  sequence_header(&seq);
  picture(&pic, 1, 1234, 0);
  pic.resize(8);
  for (int k = 1; k < 12; ++k) {
    SCOPED_TRACE(k);
    // k bytes at 10, the rest at 100; filler elsewhere must stay.
    Bytes file_bytes(200, 0xAA);
    std::copy(seq.begin(), seq.begin() + k, file_bytes.begin() + 10);
    std::copy(seq.begin() + k, seq.end(), file_bytes.begin() + 100);
    if (k < 8) {
      std::copy(pic.begin(), pic.begin() + k, file_bytes.begin() + 40);
      std::copy(pic.begin() + k, pic.end(), file_bytes.begin() + 150);
    }
    ScratchFile f(file_bytes);
    BSFile file(f.path.c_str(), 3);
    file.seek(FileOffset(77u), 0);
    EXPECT_EQ(DeMuxer::set_vbv_buffer_size(&file, 99, FileOffset(10u), k, FileOffset(100u)), 1);
    if (k < 8) {
      EXPECT_EQ(DeMuxer::add_vbv_delay(&file, 66, FileOffset(40u), k, FileOffset(150u)), 1);
    }
    EXPECT_EQ(file.tell().value(), 77u);  // position restored
    uint8_t h[12];
    ASSERT_EQ(DeMuxer::read_seqhdr(&file, h, FileOffset(10u), k, FileOffset(100u)), 1);
    EXPECT_EQ(seq_vbv_size(h), 99);
    EXPECT_EQ(seq_bit_rate(h), 2875);
    if (k < 8) {
      ASSERT_EQ(DeMuxer::read_vbv_delay(&file, h, FileOffset(40u), k, FileOffset(150u)), 1);
      EXPECT_EQ(pic_vbv_delay(h), 1300);
    }
    file.close();
    const Bytes a = f.bytes();
    for (size_t i = 0; i < a.size(); ++i) {
      const bool in_seq = (i >= 10 && i < 10 + size_t(k)) || (i >= 100 && i < 100 + 12 - size_t(k));
      const bool in_pic = k < 8 && ((i >= 40 && i < 40 + size_t(k)) || (i >= 150 && i < 150 + 8 - size_t(k)));
      if (!in_seq && !in_pic) {
        ASSERT_EQ(a[i], 0xAA) << i;
      }
    }
  }
}

TEST(TrimPatch, ShortReadIsAFailureNotAChange) {
  ScratchFile f(Bytes(6, 0));
  BSFile file(f.path.c_str(), 3);
  TraceCapture trace;
  EXPECT_EQ(DeMuxer::set_vbv_buffer_size(&file, 3, FileOffset()), -1);
  EXPECT_EQ(DeMuxer::add_vbv_delay(&file, 3, FileOffset()), -1);
  EXPECT_TRUE(trace.contains("short read"));
}

// ---- on real streams ------------------------------------------------------------

std::unique_ptr<DeMuxer> open_demuxer(const std::string& path) {
  return std::unique_ptr<DeMuxer>(demuxer_create(path.c_str(), 0));
}

// GOP k of a file as the index gives it.
GOP gop_of(const std::string& src, int k) {
  GOPList list(src.c_str());
  GOP g;
  EXPECT_EQ(list.build_index(), 0);
  int n = list.get_first_gop(&g, 0);
  for (int i = 0; i < k && n > 0; ++i) n = list.next_gop(&g, 0);
  EXPECT_GT(n, 0) << src << " GOP " << k;
  return g;
}

TEST(TrimStart, OpenGopBlanksLeadingBPicturesAndMovesTheTimeCode) {
  const std::string src = fixture("cut_i2.m2v");
  const GOP g = gop_of(src, 1);  // open, I B B P ...
  const FileOffset start = g.start, end = g.end;
  auto d = open_demuxer(src);
  ASSERT_TRUE(d);
  const std::string out_path = temp_dir() + "/start.m2v";
  BSFile out(out_path.c_str(), 2);
  std::vector<uint8_t> work(4096);
  d->goto_offset(start);
  const int wrote = d->trim_start(&out, work.data(), int(work.size()), end);
  out.close();
  ASSERT_GT(wrote, 0);
  // The demultiplexer stands right behind the bytes written.
  EXPECT_EQ(d->current_offset().value(), start.value() + uint64_t(wrote));
  const Bytes all = read_file(src);
  const Bytes got = read_file(out_path);
  ASSERT_EQ(got.size(), size_t(wrote));
  const uint8_t* in = all.data() + start.value();
  auto code_at = [&](size_t i, uint8_t c) { return in[i] == 0 && in[i + 1] == 0 && in[i + 2] == 1 && in[i + 3] == c; };
  auto type_at = [&](size_t i) { return (in[i + 5] >> 3) & 7; };
  size_t gop_at = 0, first_b = 0;
  while (!code_at(gop_at, 0xB8)) ++gop_at;
  while (!(code_at(first_b, 0x00) && type_at(first_b) == 3)) ++first_b;
  // Everything before the first B picture is the source but the 4 time-code
  // bytes; from it on, zeros up to the next anchor picture.
  for (size_t i = 0; i < first_b; ++i)
    if (i < gop_at + 4 || i >= gop_at + 8) {
      ASSERT_EQ(got[i], in[i]) << i;
    }
  for (size_t i = first_b; i < got.size(); ++i) ASSERT_EQ(got[i], 0) << i;
  ASSERT_TRUE(code_at(got.size(), 0x00));
  EXPECT_EQ(type_at(got.size()), 2);
  // The time code moved on by the two blanked frames.
  GopHdr before, after;
  ASSERT_GT(before.decode(in, 64), 0);
  ASSERT_GT(after.decode(got.data(), int(got.size())), 0);
  EXPECT_EQ(after.get_frame(), before.get_frame() + 2);
  EXPECT_EQ(after.closed_gop, before.closed_gop);
}

// The work buffer is only ever filled up to its size: the smallest one
// accepted (256 bytes, guarded by the sanitizer as an exact heap block) writes
// what a large one writes.
TEST(TrimStart, SmallWorkBufferIsFilledOnlyToItsSize) {
  const std::string src = fixture("cut_i3.m2v");
  const GOP g = gop_of(src, 1);
  Bytes outputs[2];
  for (int i = 0; i < 2; ++i) {
    auto d = open_demuxer(src);
    ASSERT_TRUE(d);
    const std::string out_path = temp_dir() + "/start.m2v";
    BSFile out(out_path.c_str(), 2);
    const size_t size = i == 0 ? 256 : 1 << 20;
    std::unique_ptr<uint8_t[]> work(new uint8_t[size]);
    d->goto_offset(g.start);
    ASSERT_GT(d->trim_start(&out, work.get(), int(size), g.end), 0);
    out.close();
    outputs[i] = read_file(out_path);
  }
  EXPECT_EQ(outputs[0], outputs[1]);
  std::vector<uint8_t> tiny(255);
  auto d = open_demuxer(src);
  BSFile out((temp_dir() + "/x.m2v").c_str(), 2);
  EXPECT_EQ(d->trim_start(&out, tiny.data(), int(tiny.size()), g.end), -1);
}

TEST(TrimStart, ClosedGopWritesNothingAndStays) {
  const std::string src = fixture("cut_cg.m2v");
  const GOP g = gop_of(src, 1);
  auto d = open_demuxer(src);
  ASSERT_TRUE(d);
  const std::string out_path = temp_dir() + "/start.m2v";
  BSFile out(out_path.c_str(), 2);
  std::vector<uint8_t> work(1024);
  d->goto_offset(g.start);
  EXPECT_EQ(d->trim_start(&out, work.data(), int(work.size()), g.end), 0);
  EXPECT_EQ(d->current_offset().value(), g.start.value());
}

TEST(CopyBytes, StopsExactlyAtTheEndOffset) {
  const std::string src = fixture("cut_m1.m1v");
  auto d = open_demuxer(src);
  ASSERT_TRUE(d);
  const Bytes all = read_file(src);
  for (const uint64_t from : {uint64_t(0), uint64_t(1000), uint64_t(70000)}) {
    for (const uint64_t to : {from + 1, from + 5000, from + 300000, uint64_t(all.size())}) {
      SCOPED_TRACE(std::to_string(from) + ".." + std::to_string(to));
      d->goto_offset(FileOffset::from_u64(from));
      Bytes got;
      std::vector<uint8_t> buf(100000);
      for (int n; (n = d->copy_bytes(buf.data(), int(buf.size()), FileOffset::from_u64(to))) > 0;)
        got.insert(got.end(), buf.begin(), buf.begin() + n);
      ASSERT_EQ(got.size(), to - from);
      EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin() + long(from)));
    }
  }
}

}  // namespace

namespace {

using namespace tsupport;

// A demultiplexer over a list of files measures it by the stream it reads:
// asking whether the file grew must not reopen it and lose its place.
TEST(ListDemuxer, UnchangedListKeepsItsSizeAndPlace) {
  const std::string src = fixture("cut_m1.m1v");
  const std::string dir = temp_dir();
  const std::string text = "[MBSFile]\nNumFile= 2\nFile= " + src + "\nFile= " + src + "\n";
  write_file(dir + "/two.mbs", std::vector<uint8_t>(text.begin(), text.end()));
  std::unique_ptr<DeMuxer> d(demuxer_create((dir + "/two.mbs").c_str(), 0));
  ASSERT_TRUE(d);
  const uint64_t size = read_file(src).size();
  EXPECT_EQ(d->get_file_size().value(), 2 * size);
  d->goto_offset(FileOffset::from_u64(size + 1234));
  EXPECT_FALSE(d->update_file_size());
  EXPECT_EQ(d->current_offset().value(), size + 1234);
  uint8_t b[4];
  ASSERT_EQ(d->get_payload(b, 4), 4);
  const auto all = read_file(src);
  EXPECT_TRUE(std::equal(b, b + 4, all.begin() + 1234));
}

}  // namespace

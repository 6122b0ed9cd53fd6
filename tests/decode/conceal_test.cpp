// Concealment: the ring search, and a stream with one slice removed decoded
// next to the clean stream: only that slice's macroblocks change, they hold
// what the rules say, and the pictures from the next I picture on are the
// same again.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "decode/conceal.h"
#include "picture/frame.h"
#include "decode/picdec.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/utils.h"
#include "support.h"

namespace {

TEST(Conceal, NearestMarkedMacroblock) {
  struct Case {
    const char* name;
    int cols, rows;
    std::vector<uint8_t> map;
    int col, row;
    int found, out_col, out_row;
  };
  const std::vector<Case> cases = {
      {"above", 3, 3, {1, 1, 1, 1, 0, 1, 1, 1, 1}, 1, 1, 1, 1, 0},
      // first row lost: ring 1 reaches the row below right to left
      {"first row", 5, 3, {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 2, 0, 1, 3, 1},
      {"left only", 4, 1, {1, 0, 0, 0}, 3, 0, 1, 0, 0},
      {"nothing", 3, 2, {0, 0, 0, 0, 0, 0}, 1, 1, 0, 1, 1},
      {"single", 1, 1, {0}, 0, 0, 0, 0, 0},
      // beyond the ring bound: nothing found
      {"far", 12, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    int oc = -1, orow = -1;
    EXPECT_EQ(find_nearest_marked_mb(c.map.data(), c.cols, c.rows, c.col, c.row, &oc, &orow), c.found) << c.name;
    EXPECT_EQ(oc, c.out_col) << c.name;
    EXPECT_EQ(orow, c.out_row) << c.name;
  }
}

struct Pic {
  std::vector<uint8_t> bytes;  // headers in front of the picture included
  int type;
};

std::vector<Pic> split(const std::vector<uint8_t>& es) {
  std::vector<Pic> out;
  const int64_t n = static_cast<int64_t>(es.size());
  int64_t start = 0;
  uint32_t code = 0;
  int64_t at = utils_next_usr_start_code(0x100, es.data(), n, &code);
  while (code == 0x100) {
    int64_t end = at + 4;
    for (;;) {
      int c = 0;
      const int64_t k = utils_next_start_code(es.data() + end, n - end, &c);
      if (!c) {
        end = n;
        break;
      }
      end += k;
      if (c == 0x100 || c == 0x1B3 || c == 0x1B8 || c == 0x1B7) break;
      end += 4;
    }
    PicHdr h;
    h.decode(es.data() + at, static_cast<int>(end - at));
    out.push_back(Pic{std::vector<uint8_t>(es.begin() + start, es.begin() + end), h.picture_coding_type});
    start = end;
    at = utils_next_usr_start_code(0x100, es.data() + end, n - end, &code);
    at += end;
  }
  return out;
}

// Decodes in coded order; returns each picture's planes (Y, Cb, Cr).
std::vector<std::vector<uint8_t>> decode_all(const std::vector<Pic>& pics, const SeqHdr& seq) {
  PicDecoder dec(&seq);
  const int w = seq.get_horizontal_size(), h = seq.get_vertical_size();
  std::unique_ptr<Frame> older, newer;
  std::vector<std::vector<uint8_t>> out;
  for (const Pic& p : pics) {
    auto f = std::make_unique<Frame>(w, h, 1, 0);
    Frame* fwd = p.type == 3 ? (older ? older.get() : newer.get()) : p.type == 2 ? newer.get() : nullptr;
    Frame* bwd = p.type == 3 ? newer.get() : nullptr;
    EXPECT_GT(dec.decode_picture(p.bytes.data(), static_cast<int>(p.bytes.size()), f.get(), fwd, bwd), 0);
    out.emplace_back(f->y_plane(), f->y_plane() + f->y_size() + 2 * f->c_size());
    if (p.type != 3) {
      older = std::move(newer);
      newer = std::move(f);
    }
  }
  return out;
}

// Bytes of slice `row` (start code to the next start code) removed.
std::vector<uint8_t> without_slice(const std::vector<uint8_t>& pic, int row) {
  const int64_t n = static_cast<int64_t>(pic.size());
  int64_t at = 0;
  for (;;) {
    int c = 0;
    const int64_t k = utils_next_start_code(pic.data() + at, n - at, &c);
    if (!c) return pic;
    at += k;
    if (c == 0x101 + row) break;
    at += 4;
  }
  int c = 0;
  const int64_t k = utils_next_start_code(pic.data() + at + 4, n - at - 4, &c);
  const int64_t end = c ? at + 4 + k : n;
  std::vector<uint8_t> out(pic.begin(), pic.begin() + at);
  out.insert(out.end(), pic.begin() + end, pic.end());
  return out;
}

// 16x16 luma square and its chroma of macroblock (col, row) equal in a and b.
bool mb_equal(const uint8_t* a, const uint8_t* b, int w, int h, int col, int row) {
  for (int y = 0; y < 16; ++y)
    if (std::memcmp(a + (row * 16 + y) * w + col * 16, b + (row * 16 + y) * w + col * 16, 16)) return false;
  for (int p = 0; p < 2; ++p) {
    const size_t off = static_cast<size_t>(w) * h + static_cast<size_t>(p) * (w / 2) * (h / 2);
    for (int y = 0; y < 8; ++y)
      if (std::memcmp(a + off + (row * 8 + y) * (w / 2) + col * 8, b + off + (row * 8 + y) * (w / 2) + col * 8, 8))
        return false;
  }
  return true;
}

TEST(Conceal, RemovedSliceChangesOnlyItsMacroblocks) {
  const std::vector<uint8_t> es = tsupport::read_file(tsupport::fixture("cg.m2v"));
  SeqHdr seq;
  ASSERT_GT(seq.decode(es.data(), static_cast<int>(es.size())), 0);
  const int w = seq.get_horizontal_size(), h = seq.get_vertical_size(), cols = w / 16, rows = h / 16;
  const std::vector<Pic> clean = split(es);
  ASSERT_GT(clean.size(), 20u);
  const auto ref = decode_all(clean, seq);
  for (int want_type : {1, 2, 3}) {
    SCOPED_TRACE(testing::Message() << "picture type " << want_type);
    // the second picture of that type, then the next I picture after it
    size_t k = 0;
    for (size_t i = 0, seen = 0; i < clean.size(); ++i)
      if (clean[i].type == want_type && ++seen == 2) {
        k = i;
        break;
      }
    size_t next_i = k + 1;
    while (next_i < clean.size() && clean[next_i].type != 1) ++next_i;
    ASSERT_LT(next_i, clean.size());
    const int lost = 10;
    std::vector<Pic> damaged = clean;
    damaged[k].bytes = without_slice(clean[k].bytes, lost);
    ASSERT_LT(damaged[k].bytes.size(), clean[k].bytes.size());
    const auto got = decode_all(damaged, seq);
    for (size_t i = 0; i < k; ++i) EXPECT_TRUE(got[i] == ref[i]) << "picture " << i;
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c)
        if (r != lost) {
          EXPECT_TRUE(mb_equal(got[k].data(), ref[k].data(), w, h, c, r)) << c << "," << r;
        }
    // what fills the hole
    if (want_type == 1) {
      for (int c = 0; c < cols; ++c) {
        // copy of the macroblock above
        for (int y = 0; y < 16; ++y)
          EXPECT_EQ(0, std::memcmp(&got[k][(lost * 16 + y) * w + c * 16], &got[k][((lost - 1) * 16 + y) * w + c * 16], 16));
      }
    } else {
      // reference pictures in coded order before k
      int last_ref = -1, prev_ref = -1;
      for (size_t i = 0; i < k; ++i)
        if (clean[i].type != 3) {
          prev_ref = last_ref;
          last_ref = static_cast<int>(i);
        }
      const std::vector<uint8_t>& fwd = want_type == 2 ? got[last_ref] : got[prev_ref];
      for (int c = 0; c < cols; ++c) {
        if (want_type == 2) {
          EXPECT_TRUE(mb_equal(got[k].data(), fwd.data(), w, h, c, lost)) << c;
        } else {
          const std::vector<uint8_t>& bwd = got[last_ref];
          for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
              const size_t o = static_cast<size_t>(lost * 16 + y) * w + c * 16 + x;
              ASSERT_EQ(got[k][o], (fwd[o] + bwd[o] + 1) >> 1);
            }
        }
      }
    }
    for (size_t i = next_i; i < clean.size(); ++i) EXPECT_TRUE(got[i] == ref[i]) << "picture " << i;
  }
}

}  // namespace

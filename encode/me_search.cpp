// The motion-estimation object, half-pel refinement and the search
// strategies.
#include "encode/me_search.h"

#include <algorithm>
#include <cstdlib>

#include "foundation/trace.h"
#include "picture/frame.h"

namespace {

// Candidate orders of the refiner: interior, then the border cases.
struct Step {
  int8_t dx, dy;
};
constexpr Step kInterior[9] = {{0, 0}, {-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};
constexpr Step kLeft[6] = {{0, 0}, {1, -1}, {0, -1}, {1, 0}, {0, 1}, {1, 1}};
constexpr Step kRight[6] = {{0, 0}, {-1, -1}, {0, -1}, {-1, 0}, {-1, 1}, {0, 1}};
constexpr Step kTop[6] = {{0, 0}, {-1, 1}, {0, 1}, {1, 1}, {-1, 0}, {1, 0}};
constexpr Step kBottom[6] = {{0, 0}, {-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}};
constexpr Step kTopLeft[4] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
constexpr Step kTopRight[4] = {{0, 0}, {-1, 0}, {0, 1}, {-1, 1}};
constexpr Step kBottomLeft[4] = {{0, 0}, {1, 0}, {0, -1}, {1, -1}};
constexpr Step kBottomRight[4] = {{0, 0}, {-1, 0}, {0, -1}, {-1, -1}};

}  // namespace

int refine_half_pel(const uint8_t* cur, const uint8_t* ref, int stride, int width, int height, int block_height, int* x,
                    int* y) {
  const int px = *x >> 1, py = *y >> 1;
  const uint8_t* centre = ref + static_cast<long>(py) * stride + px;
  const bool left = px <= 0, right = px >= width - 16, top = py <= 0, bottom = py >= height - block_height;
  if (!left && !right && !top && !bottom) {
    uint32_t sums[9];
    me_dsp().sad_half9(cur, centre, stride, block_height, sums);
    int k = 0;
    for (int i = 1; i < 9; ++i)
      if (sums[i] < sums[k]) k = i;
    *x += kInterior[k].dx;
    *y += kInterior[k].dy;
    return static_cast<int>(sums[k]);
  }
  if ((left && right) || (top && bottom)) {  // a plane one block wide or high
    uint32_t best_cost = UINT32_MAX;
    int k = 0;
    for (int i = 0; i < 9; ++i) {
      const Step& s = kInterior[i];
      if ((s.dx < 0 && left) || (s.dx > 0 && right) || (s.dy < 0 && top) || (s.dy > 0 && bottom)) continue;
      const uint32_t c = sad_at(cur, centre, stride, s.dx, s.dy, block_height);
      if (c < best_cost) best_cost = c, k = i;
    }
    *x += kInterior[k].dx;
    *y += kInterior[k].dy;
    return static_cast<int>(best_cost);
  }
  const Step* order;
  int n;
  if (top) {
    order = left ? kTopLeft : right ? kTopRight : kTop;
    n = left || right ? 4 : 6;
  } else if (bottom) {
    order = left ? kBottomLeft : right ? kBottomRight : kBottom;
    n = left || right ? 4 : 6;
  } else {
    order = left ? kLeft : kRight;
    n = 6;
  }
  uint32_t best = UINT32_MAX;
  int k = 0;
  for (int i = 0; i < n; ++i) {
    const uint32_t s = sad_at(cur, centre, stride, order[i].dx, order[i].dy, block_height);
    if (s < best) best = s, k = i;
  }
  *x += order[k].dx;
  *y += order[k].dy;
  return static_cast<int>(best);
}

int mv_component_bits(int d) {
  // motion_code lengths with the sign bit, codes 0..16.
  static constexpr uint8_t kLen[17] = {1, 3, 4, 5, 7, 8, 8, 8, 10, 10, 10, 11, 11, 11, 11, 11, 11};
  d = d < 0 ? -d : d;
  if (d <= 16) return kLen[d];
  int extra = 0;
  for (int r = d >> 4; r; r >>= 1) extra += 2;
  return 11 + extra;
}

// ---- the object -------------------------------------------------------------

MESearch::MESearch(unsigned word) {
  best = MEBestMatch{};
  clear();
  set_mode(word);
  needs_alloc = 1;
  install_operations();
}

void MESearch::clear() {
  skip_search = 0;
  candidates_fwd = candidates_bwd = nullptr;
  mv_class = nullptr;
  width = height = 0;
  last_cost = last_cost_bwd = 0;
  no_half_pel = 0;
  use_quarter_layer = 0;
  field_search_enabled = 1;
  level = 1;
}

void MESearch::free() {
  fwd_.clear();
  bwd_.clear();
  classes_.clear();
  capacity_ = 0;
  mv_class_valid = 0;
  clear();
}

void MESearch::alloc(int count) {
  needs_alloc = 0;
  if (count > capacity_) {
    fwd_.assign(static_cast<size_t>(count), MECandidate{});
    bwd_.assign(static_cast<size_t>(count), MECandidate{});
    classes_.assign(static_cast<size_t>(count), 0);
    capacity_ = count;
    mv_class_valid = 0;  // the classes were of another picture size
  }
  candidates_fwd = fwd_.data();
  candidates_bwd = bwd_.data();
  mv_class = classes_.data();
  best.cost = count / 2;
}

unsigned MESearch::set_mode(unsigned word) {
  const unsigned old = mode;
  mode = word ? word : 6;
  return old;
}

int MESearch::set_search_level(int new_level) {
  const int old = level;
  level = (new_level & 15) ? (new_level & 15) : 1;
  return old;
}

void MESearch::install_half_pel_refiner() { ops.refine_half_pel_interior = me_dsp().sad_half9; }

void MESearch::install_operations() {
  init_distortion_kernels();
  const MeDsp& d = me_dsp();
  ops.match_4x4 = d.match_4x4;
  ops.scan_4x4_row = scan_4x4_row;
  ops.match_8x8 = d.match_8x8;
  ops.match_8x8_fields = d.match_8x8_fields;
  ops.match_8x8_three = match_8x8_three;
  ops.match_8x8_two = match_8x8_two;
  install_half_pel_refiner();
  ops.mb_variance = d.mb_variance;
}

// ---- strategies ---------------------------------------------------------------

namespace {
MESearch::Window make_window(int cx, int cy, int rx, int ry, int max_x, int max_y) {
  return {std::max(cx - rx, 0), std::min(cx + rx, max_x), std::max(cy - ry, 0), std::min(cy + ry, max_y)};
}
}  // namespace

int MESearch::half_layer_search(const uint8_t* cur2, const uint8_t* ref2, int w2, int h2, int cx, int cy, int rx,
                                int ry, int* bx, int* by) {
  const uint8_t* block = cur2 + static_cast<long>(cy) * w2 + cx;
  uint32_t best_cost = ops.match_8x8(block, ref2 + static_cast<long>(cy) * w2 + cx, w2, 65535);
  *bx = cx;
  *by = cy;
  if (best_cost == 0) return 0;
  const int x0 = std::max(cx - rx, 0), x1 = std::min(cx + rx, w2 - 8);
  const int y0 = std::max(cy - ry, 0), y1 = std::min(cy + ry, h2 - 8);
  // Where the steps are single columns, eight whole sums at a time: a sum
  // the early exit would have cut short never wins, so the choice is the
  // same.
  const auto row8 = me_dsp().match_8x8_row8;
  uint32_t batch[8];
  for (int l = y0; l <= y1;) {
    const int line_step = (std::abs(l - cy) >> level) + 1;
    const uint8_t* row = ref2 + static_cast<long>(l) * w2;
    int batch_x = -16;
    for (int x = x0; x <= x1;) {
      const int step = (std::abs(x - cx) >> level) + line_step;
      uint32_t c;
      if (x - batch_x < 8) {
        c = batch[x - batch_x];
      } else if (step <= 2 && x + 16 <= w2) {
        row8(block, row + x, w2, batch);
        batch_x = x;
        c = batch[0];
      } else {
        c = ops.match_8x8(block, row + x, w2, best_cost);
      }
      if (c < best_cost) {
        best_cost = c;
        *bx = x;
        *by = l;
        if (c == 0) return 0;
      }
      x += step;
    }
    l += line_step;
  }
  return static_cast<int>(best_cost);
}

// The quarter layer scanned line by line, four positions at a time, then
// the 3x3 half-layer neighbourhood of its answer against the co-located
// half-layer block. Ranges (rx, ry) are the half layer's; the quarter
// layer's are half of them. Returns the half-layer cost and position.
int MESearch::quarter_layer_search(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, int* bx,
                                   int* by) {
  const int w4 = cur.w / 4, h4 = cur.h / 4, cx = mx / 4, cy = my / 4;
  const uint8_t* block4 = cur.l4 + static_cast<long>(cy) * w4 + cx;
  uint32_t best4 = ops.match_4x4(block4, ref.l4 + static_cast<long>(cy) * w4 + cx, w4, 65535);
  int qx = cx, qy = cy;
  if (best4 != 0) {
    const int x0 = std::max(cx - (rx >> 1), 0), x1 = std::min(cx + (rx >> 1), w4 - 4);
    const int y0 = std::max(cy - (ry >> 1), 0), y1 = std::min(cy + (ry >> 1), h4 - 4);
    for (int l = y0; l <= y1 && best4 != 0; ++l) {
      int offset;
      const uint32_t c = ops.scan_4x4_row(block4, ref.l4 + static_cast<long>(l) * w4 + x0, w4, x1 - x0 + 1, &offset);
      if (c < best4) best4 = c, qx = x0 + offset, qy = l;
    }
  }
  // 3x3 on the half layer around the scaled answer, inside the window.
  const int w2 = cur.w / 2, h2 = cur.h / 2, c2x = mx / 2, c2y = my / 2;
  const int hx0 = std::max({2 * qx - 1, c2x - rx, 0}), hx1 = std::min({2 * qx + 1, c2x + rx, w2 - 8});
  const int hy0 = std::max({2 * qy - 1, c2y - ry, 0}), hy1 = std::min({2 * qy + 1, c2y + ry, h2 - 8});
  const uint8_t* block2 = cur.l2 + static_cast<long>(c2y) * w2 + c2x;
  uint32_t best2 = UINT32_MAX;
  *bx = c2x, *by = c2y;
  for (int l = hy0; l <= hy1; ++l) {
    const uint8_t* row = ref.l2 + static_cast<long>(l) * w2;
    int which = 0;
    uint32_t c;
    if (hx1 - hx0 == 2)
      c = ops.match_8x8_three(block2, row + hx0, w2, &which);
    else if (hx1 - hx0 == 1)
      c = ops.match_8x8_two(block2, row + hx0, w2, &which);
    else
      c = ops.match_8x8(block2, row + hx0, w2, UINT32_MAX);
    if (c < best2) best2 = c, *bx = hx0 + which, *by = l;
  }
  const uint32_t colocated = ops.match_8x8(block2, ref.l2 + static_cast<long>(c2y) * w2 + c2x, w2, UINT32_MAX);
  if (colocated < best2) best2 = colocated, *bx = c2x, *by = c2y;
  return static_cast<int>(best2);
}

int MESearch::ring_search(const Pic& cur, const Pic& ref, int mx, int my, int sx, int sy, int rx, int ry,
                          unsigned word, int* bx, int* by) {
  const int w = cur.w;
  const uint8_t* block = cur.y + static_cast<long>(my) * w + mx;
  const auto match = (word & kMESubsample) ? me_dsp().sad16_checker_limit : me_dsp().sad16_limit;
  auto cost_at = [&](int x, int y, uint32_t limit) {
    return match(block, ref.y + static_cast<long>(y) * w + x, w, 16, limit);
  };
  uint32_t best_cost = cost_at(sx, sy, 65535);
  *bx = sx;
  *by = sy;
  if (best_cost == 0) return 0;
  if (sx != mx || sy != my) {
    const uint32_t c = cost_at(mx, my, best_cost);
    if (c < best_cost) {
      best_cost = c;
      *bx = mx;
      *by = my;
      if (c == 0) return 0;
    }
  }
  // The picture's window around the co-located block bounds every pass.
  const Window outer = win_;
  auto pass = [&](int rrx, int rry, bool sparse) {
    const int cx = *bx, cy = *by;
    Window win = make_window(cx, cy, rrx, rry, w - 16, cur.h - 16);
    win.x0 = std::max(win.x0, outer.x0);
    win.x1 = std::min(win.x1, outer.x1);
    win.y0 = std::max(win.y0, outer.y0);
    win.y1 = std::min(win.y1, outer.y1);
    int best_step = 1;
    auto visit = [&](int x, int y, int s) {
      if (!win.contains(x, y)) return false;
      const uint32_t c = cost_at(x, y, best_cost);
      if (c < best_cost) {
        best_cost = c;
        *bx = x;
        *by = y;
        best_step = s;
      }
      return best_cost == 0;
    };
    const int reach = std::max(rrx, rry);
    for (int d = 1, s = 1; d <= reach;) {
      for (int x = cx - d; x <= cx + d; x += s)
        if (visit(x, cy - d, s) || visit(x, cy + d, s)) return 1;
      for (int y = cy - d + s; y <= cy + d - s; y += s)
        if (visit(cx - d, y, s) || visit(cx + d, y, s)) return 1;
      s = sparse ? (d >> level) + 1 : 1;
      d += s;
    }
    return best_step;
  };
  const int step = pass(rx, ry, (word & kMESparse) != 0);
  if (best_cost != 0 && step >= 2) pass(step - 1, step - 1, false);
  return static_cast<int>(best_cost);
}

// Strategy 1 without fields: rings around the co-located block.
void MESearch::full_search(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, unsigned word,
                           MECandidate* out) {
  int bx, by;
  const int cost = ring_search(cur, ref, mx, my, mx, my, rx, ry, word, &bx, &by);
  out->x = 2 * bx;
  out->y = 2 * by;
  out->cost = cost;
  if (cost > 32)
    out->cost = refine_half_pel(cur.y + static_cast<long>(my) * cur.w + mx, ref.y, cur.w, cur.w, cur.h, 16, &out->x,
                                &out->y);
}

// Strategies 2 and 3: the half layer, then half-pel (strategy 3: a ring
// search of two pixels first). Returns true when the class settled it.
bool MESearch::hierarchical(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, unsigned word, int cls,
                            MECandidate* out) {
  const bool ring = (word & kMERing) != 0;
  int hx = ring ? (rx >> 1) - 1 : (rx - 1) >> 1, hy = ring ? (ry >> 1) - 1 : (ry - 1) >> 1;
  hx = std::max(hx, 0);
  hy = std::max(hy, 0);
  if (cls >= 0) {
    if (cls == 0x33) {
      *out = MECandidate{};
      out->x = 2 * mx;
      out->y = 2 * my;
      out->cost = 0;
      return true;
    }
    if (cls & 0x03) hx = 0;
    if (cls & 0x30) hy = 0;
  }
  int px = mx, py = my, cost = 65535;  // full-pel
  if (cls < 0 || hx || hy) {
    int bx, by;
    if (!ring && use_quarter_layer && cur.l4 && ref.l4)
      cost = quarter_layer_search(cur, ref, mx, my, hx, hy, &bx, &by);
    else
      cost = half_layer_search(cur.l2, ref.l2, cur.w / 2, cur.h / 2, mx / 2, my / 2, hx, hy, &bx, &by);
    px = 2 * bx;
    py = 2 * by;
    if (ring && (px != mx || py != my)) cost = ring_search(cur, ref, mx, my, px, py, 2, 2, word, &px, &py);
  }
  out->x = 2 * px;
  out->y = 2 * py;
  out->cost = cost;
  // Our refinement ends in a half-pel step of its own.
  if (cost > 32 && (ring || !no_half_pel) && !(word & kMERefine))
    out->cost = refine_half_pel(cur.y + static_cast<long>(my) * cur.w + mx, ref.y, cur.w, cur.w, cur.h, 16, &out->x,
                                &out->y);
  return false;
}

namespace {
// Field candidates at the macroblock's own place, marked unusable.
void own_fields(MECandidate* c, int mx, int my) {
  c->top_x = c->bot_x = c->top2_x = c->bot2_x = 2 * mx;
  c->top_y = c->bot_y = c->top2_y = c->bot2_y = my;  // field line my / 2
  c->top_cost = c->bot_cost = 65535;
  c->top_sel = 0;
  c->bot_sel = 1;
}
}  // namespace

// Each field block against both reference fields at their candidates; the
// field of the block's own parity wins ties.
void MESearch::refine_fields(const Pic& cur, const Pic& ref, int mx, int my, MECandidate* c, bool top_fixed,
                             bool bot_fixed) {
  const int w = cur.w, fh = cur.h / 2;
  const uint8_t* top = cur.y + static_cast<long>(my) * w + mx;
  const uint8_t* bottom = top + w;
  if (top_fixed) {
    c->top_x = 2 * mx, c->top_y = my, c->top_cost = 65535, c->top_sel = 0;
  } else {
    int x0 = c->top_x, y0 = c->top_y, x1 = c->top2_x, y1 = c->top2_y;
    const int c0 = refine_half_pel(top, ref.y, 2 * w, w, fh, 8, &x0, &y0);
    const int c1 = refine_half_pel(top, ref.y + w, 2 * w, w, fh, 8, &x1, &y1);
    if (c1 < c0)
      c->top_x = x1, c->top_y = y1, c->top_cost = c1, c->top_sel = 1;
    else
      c->top_x = x0, c->top_y = y0, c->top_cost = c0, c->top_sel = 0;
  }
  if (bot_fixed) {
    c->bot_x = 2 * mx, c->bot_y = my, c->bot_cost = 65535, c->bot_sel = 1;
  } else {
    int x0 = c->bot_x, y0 = c->bot_y, x1 = c->bot2_x, y1 = c->bot2_y;
    const int c0 = refine_half_pel(bottom, ref.y + w, 2 * w, w, fh, 8, &x0, &y0);
    const int c1 = refine_half_pel(bottom, ref.y, 2 * w, w, fh, 8, &x1, &y1);
    if (c1 < c0)
      c->bot_x = x1, c->bot_y = y1, c->bot_cost = c1, c->bot_sel = 0;
    else
      c->bot_x = x0, c->bot_y = y0, c->bot_cost = c0, c->bot_sel = 1;
  }
}

// Strategy 1 with fields: rings over the full picture; a position on an
// even line gives the frame and the same-parity field candidates, one on an
// odd line the other-parity ones.
void MESearch::mpeg2_full_pel(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, unsigned word,
                              MECandidate* out) {
  const int w = cur.w;
  if (my & 1) trace("MESearch::mpeg2_full_pel (ERROR): start at an odd line = (%3d,%3d)\n", mx, my);
  const uint8_t* block = cur.y + static_cast<long>(my) * w + mx;
  const auto fields = (word & kMESubsample) ? me_dsp().sad16_fields_sub : me_dsp().sad16_fields;
  const bool parity_only = (word & kMEParityOnly) != 0;
  // Bests: frame, top, bottom, second top, second bottom (full-pel x, frame
  // line for the frame, field line for the fields).
  struct Best {
    uint32_t cost;
    int x, y;
  } b[5];
  FieldSums s = fields(block, ref.y + static_cast<long>(my) * w + mx, w, 16, {65535, 65535, 65535});
  b[0] = {parity_only ? 65535u : s.total, mx, my};
  b[1] = {s.even, mx, my / 2};
  b[2] = {s.odd, mx, my / 2};
  b[3] = b[4] = {65535, mx, my / 2};
  auto done = [&] { return b[0].cost == 0 || (b[1].cost == 0 && b[2].cost == 0); };
  int best_step = 1;
  auto visit = [&](const Window& win, int x, int y, int step) {
    if (!win.contains(x, y)) return false;
    const bool odd = y & 1;
    Best& e = b[odd ? 3 : 1];
    Best& o = b[odd ? 4 : 2];
    const FieldSums r =
        fields(block, ref.y + static_cast<long>(y) * w + x, w, 16, {parity_only ? 0u : b[0].cost, e.cost, o.cost});
    if (!parity_only && r.total < b[0].cost) b[0] = {r.total, x, y}, best_step = step;
    if (r.even < e.cost) e = {r.even, x, y >> 1};
    if (r.odd < o.cost) o = {r.odd, x, (y + 1) >> 1};
    return done();
  };
  auto rings = [&](int cx, int cy, int rrx, int rry, bool sparse) {
    Window win = make_window(cx, cy, rrx, rry, w - 16, cur.h - 16);
    win.x0 = std::max(win.x0, win_.x0), win.x1 = std::min(win.x1, win_.x1);
    win.y0 = std::max(win.y0, win_.y0), win.y1 = std::min(win.y1, win_.y1);
    const int reach = std::max(rrx, rry);
    for (int d = 1, st = 1; d <= reach;) {
      for (int x = cx - d; x <= cx + d; x += st)
        if (visit(win, x, cy - d, st) || visit(win, x, cy + d, st)) return;
      for (int y = cy - d + st; y <= cy + d - st; y += st)
        if (visit(win, cx - d, y, st) || visit(win, cx + d, y, st)) return;
      st = sparse ? (d >> level) + 1 : 1;
      d += st;
    }
  };
  if (!done()) {
    rings(mx, my, rx, ry, (word & kMESparse) != 0);
    if (!done() && best_step >= 2) rings(b[0].x, b[0].y, best_step - 1, best_step - 1, false);
  }
  out->x = 2 * b[0].x, out->y = 2 * b[0].y, out->cost = static_cast<int>(b[0].cost);
  out->top_x = 2 * b[1].x, out->top_y = 2 * b[1].y, out->top_cost = static_cast<int>(b[1].cost), out->top_sel = 0;
  out->bot_x = 2 * b[2].x, out->bot_y = 2 * b[2].y, out->bot_cost = static_cast<int>(b[2].cost), out->bot_sel = 1;
  out->top2_x = 2 * b[3].x, out->top2_y = 2 * b[3].y, out->top2_cost = static_cast<int>(b[3].cost);
  out->bot2_x = 2 * b[4].x, out->bot2_y = 2 * b[4].y, out->bot2_cost = static_cast<int>(b[4].cost);
  if (out->cost > 32) {
    out->cost = refine_half_pel(block, ref.y, w, w, cur.h, 16, &out->x, &out->y);
    refine_fields(cur, ref, mx, my, out, false, false);
  }
}

// Strategy 4: line pairs of the per-field half layer, then the frame and
// both field blocks refined at full resolution.
bool MESearch::field_hierarchical(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, int cls,
                                  MECandidate* out) {
  const int w2 = cur.w / 2, h2 = cur.h / 2, cx = mx / 2, cy = my / 2;
  int hx = rx >> 1, hy = ry >> 1;
  bool top_fixed = false, bot_fixed = false;
  if (cls >= 0) {
    if (cls == 0x0F) {
      out->x = 2 * mx, out->y = 2 * my, out->cost = 0;
      own_fields(out, mx, my);
      return true;
    }
    if (cls & 0x0F) {
      if (cls & 0x01) hx = 0;
      if (cls & 0x04) hy = 0;
    } else if (cls & 0xFF0) {
      if ((cls & 0x110) == 0x110) hx = 0;
      if ((cls & 0x440) == 0x440) hy = 0;
    }
    top_fixed = (cls & 0xF0) == 0xF0;
    bot_fixed = (cls & 0xF00) == 0xF00;
  }
  struct Best {
    uint32_t cost;
    int x, l;  // half-layer column and line (field line for the fields)
  } b[5];
  const uint8_t* block = cur.l2f + static_cast<long>(cy) * w2 + cx;
  if (cls >= 0 && hx == 0 && hy == 0) {
    b[0] = {65535, cx, cy};
    b[1] = b[2] = b[3] = b[4] = {65535, cx, cy >> 1};
  } else {
    const FieldSums s = ops.match_8x8_fields(block, ref.l2f + static_cast<long>(cy) * w2 + cx, w2,
                                             {16383, 16383, 16383});
    b[0] = {s.total, cx, cy};
    b[1] = {s.even, cx, cy >> 1};
    b[2] = {s.odd, cx, cy >> 1};
    b[3] = {16383, cx, cy >> 1};
    b[4] = {16383, cx, (cy + 1) >> 1};
    if (s.total != 0) {
      const int x0 = std::max(cx - hx, 0), x1 = std::min(cx + hx, w2 - 8);
      int y0 = std::max(cy - hy, 0);
      const int y1 = std::min(cy + hy, h2 - 8);
      y0 += y0 & 1;  // pairs start on a top-field line
      bool stop = false;
      for (int l = y0; l <= y1 && !stop;) {
        const uint8_t* row = ref.l2f + static_cast<long>(l) * w2;
        for (int x = x0; x <= x1 && !stop; x += (std::abs(x - cx) >> level) + 1) {
          FieldSums r = ops.match_8x8_fields(block, row + x, w2, {b[0].cost, b[1].cost, b[2].cost});
          if (r.total < b[0].cost) b[0] = {r.total, x, l};
          if (r.even < b[1].cost) b[1] = {r.even, x, l >> 1};
          if (r.odd < b[2].cost) b[2] = {r.odd, x, l >> 1};
          if (l + 1 <= y1) {
            r = ops.match_8x8_fields(block, row + w2 + x, w2, {b[0].cost, b[3].cost, b[4].cost});
            if (r.total < b[0].cost) b[0] = {r.total, x, l + 1};
            if (r.even < b[3].cost) b[3] = {r.even, x, (l + 1) >> 1};
            if (r.odd < b[4].cost) b[4] = {r.odd, x, (l + 2) >> 1};
          }
          for (const Best& e : b) stop = stop || e.cost == 0;
        }
        l += (std::abs(l - cy) >> level) + 2;
      }
    }
  }
  out->x = 4 * b[0].x, out->y = 4 * b[0].l, out->cost = static_cast<int>(b[0].cost);
  if (out->cost <= 32) {
    own_fields(out, mx, my);
    return false;
  }
  out->top_x = 4 * b[1].x, out->top_y = 4 * b[1].l;
  out->bot_x = 4 * b[2].x, out->bot_y = 4 * b[2].l;
  out->top2_x = 4 * b[3].x, out->top2_y = 4 * b[3].l, out->top2_cost = static_cast<int>(b[3].cost);
  out->bot2_x = 4 * b[4].x, out->bot2_y = 4 * b[4].l, out->bot2_cost = static_cast<int>(b[4].cost);
  out->cost = refine_half_pel(cur.y + static_cast<long>(my) * cur.w + mx, ref.y, cur.w, cur.w, cur.h, 16, &out->x,
                              &out->y);
  refine_fields(cur, ref, mx, my, out, top_fixed, bot_fixed);
  return false;
}

namespace {

// A block to place in one reference plane: frame (16 lines) or field
// (8 lines of one field, twice the width apart).
struct Plane {
  const uint8_t* block;  // current block
  const uint8_t* ref;    // reference plane
  int stride, width, height, block_height;
  MESearch::Window win;  // full-pel positions allowed
  // With lambda, the vector's bits against the predicted vector (half-pel
  // units, relative to the block at (ox, oy)) join the distortion.
  int lambda = 0, ox = 0, oy = 0, pred_x = 0, pred_y = 0;
  uint32_t mv_cost(int hx, int hy) const {
    if (!lambda) return 0;
    return static_cast<uint32_t>(
        lambda * (mv_component_bits(hx - 2 * ox - pred_x) + mv_component_bits(hy - 2 * oy - pred_y)));
  }
  // Whole sums: near the optimum an early exit seldom pays for its checks.
  uint32_t cost(int x, int y) const {
    return me_dsp().sad_full(block, ref + static_cast<long>(y) * stride + x, stride, block_height) +
           mv_cost(2 * x, 2 * y);
  }
};

// Half-pel refinement with the vector's bits counted: the nine interior
// positions from one kernel call; at the borders the plain refinement.
int refine_half_pel_rated(const Plane& p, int* x, int* y) {
  const int px = *x >> 1, py = *y >> 1;
  if (!p.lambda || px <= 0 || px >= p.width - 16 || py <= 0 || py >= p.height - p.block_height)
    return refine_half_pel(p.block, p.ref, p.stride, p.width, p.height, p.block_height, x, y);
  uint32_t sums[9];
  me_dsp().sad_half9(p.block, p.ref + static_cast<long>(py) * p.stride + px, p.stride, p.block_height, sums);
  int k = 0;
  uint32_t best = UINT32_MAX;
  for (int i = 0; i < 9; ++i) {
    const uint32_t c = sums[i] + p.mv_cost(*x + kInterior[i].dx, *y + kInterior[i].dy);
    if (c < best) best = c, k = i;
  }
  *x += kInterior[k].dx;
  *y += kInterior[k].dy;
  return static_cast<int>(sums[k]);
}

// Best full-pel start among `starts`, then single steps (to the 8 square
// or the 4 diamond neighbours) while they gain, then half-pel unless
// `half_pel` is false. Returns the cost at the half-pel position (*hx, *hy).
int descend(const Plane& p, const int (*starts)[2], int count, bool half_pel, int* hx, int* hy, int steps = 8) {
  int bx = -1, by = -1;
  uint32_t best = UINT32_MAX;
  int seen[12][2], nseen = 0;
  for (int i = 0; i < count; ++i) {
    int x = starts[i][0], y = starts[i][1];
    p.win.clamp(&x, &y);
    bool again = false;
    for (int k = 0; k < nseen; ++k) again = again || (seen[k][0] == x && seen[k][1] == y);
    if (again) continue;
    if (nseen < 12) seen[nseen][0] = x, seen[nseen][1] = y, ++nseen;
    const uint32_t c = p.cost(x, y);
    if (c < best) best = c, bx = x, by = y;
  }
  static constexpr int kSteps[8][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}, {-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
  int px = INT32_MIN / 2, py = 0;  // centre of the last round: its ring is known
  for (int guard = 0; guard < 256 && best != 0; ++guard) {
    int nx = bx, ny = by;
    for (int k = 0; k < steps; ++k) {
      const int x = bx + kSteps[k][0], y = by + kSteps[k][1];
      // Around the last centre every square neighbour is known; of a
      // diamond only that centre itself.
      const bool known = steps == 8 ? std::abs(x - px) <= 1 && std::abs(y - py) <= 1 : x == px && y == py;
      if (!p.win.contains(x, y) || known) continue;
      const uint32_t c = p.cost(x, y);
      if (c < best) best = c, nx = x, ny = y;
    }
    if (nx == bx && ny == by) break;
    px = bx, py = by;
    bx = nx, by = ny;
  }
  *hx = 2 * bx;
  *hy = 2 * by;
  if (!half_pel) return static_cast<int>(best);
  return refine_half_pel_rated(p, hx, hy);
}

}  // namespace

// Full-pel positions for this macroblock from the vectors around it: the
// zero vector, the last search of this direction here and at the right and
// lower neighbours (not searched yet in this picture), and this picture's
// left, upper and upper-right neighbours. Returns the count (at most 8).
int MESearch::neighbour_starts(const Pic& cur, int mx, int my, const MECandidate* cands,
                               const MECandidate& previous, int (*starts)[2]) const {
  const int mbw = cur.w >> 4, mbh = cur.h >> 4, i = (my >> 4) * mbw + (mx >> 4);
  int n = 0;
  auto add = [&](int x, int y) { starts[n][0] = x, starts[n][1] = y, ++n; };
  add(mx, my);
  add(previous.x >> 1, previous.y >> 1);
  if (mx > 0) add((cands[i - 1].x >> 1) + 16, cands[i - 1].y >> 1);
  if (my > 0) {
    add(cands[i - mbw].x >> 1, (cands[i - mbw].y >> 1) + 16);
    if (mx + 16 < mbw * 16) add((cands[i - mbw + 1].x >> 1) - 16, (cands[i - mbw + 1].y >> 1) + 16);
  }
  if (mx + 16 < mbw * 16) add((cands[i + 1].x >> 1) - 16, cands[i + 1].y >> 1);
  if (my + 16 < mbh * 16) add(cands[i + mbw].x >> 1, (cands[i + mbw].y >> 1) - 16);
  return n;
}

// Strategy 2 with our refinement: the neighbours' vectors first, full-pel
// steps from the best of them, and the half-layer search of the whole
// window only when that answer is clearly worse than the neighbours' (or
// there are none); then half-pel. Returns true when the class settled it.
// With `wide` (interlaced pictures) the frame candidate only: a wide
// search needed is left to the caller and reported there.
bool MESearch::predictive(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, int cls,
                          const MECandidate* cands, const MECandidate& previous, MECandidate* out, bool* wide) {
  const int w = cur.w, mbw = w >> 4, i = (my >> 4) * mbw + (mx >> 4);
  const long at = static_cast<long>(my) * w + mx;
  const uint8_t* block = cur.y + at;
  *out = MECandidate{};
  if (cls == (wide ? 0x0F : 0x33)) {  // still in the P picture: check with one sum
    const uint32_t zero = me_dsp().sad_full(block, ref.y + at, w, 16);
    if (zero <= 32) {
      out->x = 2 * mx, out->y = 2 * my, out->cost = static_cast<int>(zero);
      return true;
    }
  }
  // Level 1, the fastest: the four nearest starts and diamond steps.
  int starts[8][2];
  const int n = std::min(neighbour_starts(cur, mx, my, cands, previous, starts), level > 1 ? 8 : 4);
  const int steps = level > 1 ? 8 : 4;
  Plane frame{block, ref.y, w, w, cur.h, 16, win_};
  if (mv_lambda && !wide) {
    // The vector coded before this one in the row (zero at a row's start).
    frame.lambda = mv_lambda, frame.ox = mx, frame.oy = my;
    if (mx > 0) frame.pred_x = cands[i - 1].x - 2 * (mx - 16), frame.pred_y = cands[i - 1].y - 2 * my;
  }
  int hx, hy;
  int cost = descend(frame, starts, n, false, &hx, &hy, steps);
  // How good the answers around were (the last search here included; a
  // fresh object has cost 0 there, so its first picture searches wide):
  // clearly worse means the vectors around do not fit this block.
  int yardstick = previous.cost;
  if (mx > 0) yardstick = std::min(yardstick, cands[i - 1].cost);
  if (my > 0) yardstick = std::min(yardstick, cands[i - mbw].cost);
  if (cost > 2 * yardstick + 256 && wide) {
    *wide = true;  // the caller's own wide search; the prediction meanwhile
    out->x = hx, out->y = hy, out->cost = cost;
    return false;
  }
  if (cost > 2 * yardstick + 256) {
    int hxr = std::max((rx - 1) >> 1, 0), hyr = std::max((ry - 1) >> 1, 0);
    if (cls >= 0 && (cls & 0x03)) hxr = 0;
    if (cls >= 0 && (cls & 0x30)) hyr = 0;
    if (hxr || hyr) {
      int bx, by;
      const uint8_t *c2, *r2;
      wide_layers(&c2, &r2);
      half_layer_search(c2, r2, w / 2, cur.h / 2, mx / 2, my / 2, hxr, hyr, &bx, &by);
      bx *= 2, by *= 2;
      const int found[1][2] = {{bx, by}};
      int wx, wy;
      const int c = descend(frame, found, 1, false, &wx, &wy, steps);
      if (c < cost) cost = c, hx = wx, hy = wy;
    }
  }
  if (!no_half_pel && cost > 0) {
    cost = refine_half_pel_rated(frame, &hx, &hy);
  } else if (frame.lambda) {
    cost = static_cast<int>(me_dsp().sad_full(block, ref.y + static_cast<long>(hy >> 1) * w + (hx >> 1), w, 16));
  }
  out->x = hx, out->y = hy, out->cost = cost;
  return false;
}

namespace {
// 2x2 means, rounded: a half-size luminance plane for the wide search.
void halve(const uint8_t* src, int w, int h, uint8_t* dst) {
  const int w2 = w / 2;
  for (int y = 0; y < h / 2; ++y, src += 2 * w, dst += w2)
    for (int x = 0; x < w2; ++x)
      dst[x] = static_cast<uint8_t>((src[2 * x] + src[2 * x + 1] + src[w + 2 * x] + src[w + 2 * x + 1] + 2) >> 2);
}
}  // namespace

const uint8_t* MESearch::half_layer(const Frame* f, bool rebuild) {
  const size_t bytes = static_cast<size_t>(f->padded_width() / 2) * (f->padded_height() / 2);
  HalfLayer* e = nullptr;
  for (HalfLayer& l : layers_)
    if (l.frame == f && l.pixels.size() == bytes) e = &l;
  if (e && !rebuild) return e->pixels.data();
  if (!e) {  // the oldest entry that is not one of the pictures under search
    for (HalfLayer& l : layers_)
      if (l.frame != lazy_cur_ && l.frame != lazy_ref_ && (!e || l.age < e->age)) e = &l;
    e->frame = f;
    e->pixels.resize(bytes);
  }
  e->age = ++layer_clock_;
  halve(f->y_plane(), f->padded_width(), f->padded_height(), e->pixels.data());
  return e->pixels.data();
}

bool MESearch::field_layers() {
  if (!lazy_fields_fresh_) lazy_cur_->get_layer2(use_quarter_layer, 1);
  lazy_fields_fresh_ = true;
  if (!lazy_ref_->layer2_fields()) lazy_ref_->get_layer2(use_quarter_layer, 1);
  return lazy_cur_->layer2_fields() && lazy_ref_->layer2_fields();
}

void MESearch::forget_layer(const Frame* f) {
  for (HalfLayer& l : layers_)
    if (l.frame == f) l.frame = nullptr;
}

void MESearch::wide_layers(const uint8_t** cur, const uint8_t** ref) {
  *cur = half_layer(lazy_cur_, !lazy_fresh_);
  lazy_fresh_ = true;
  *ref = half_layer(lazy_ref_, false);
}

// Our refinement (bit 0x80): starts from the strategy's result, the left,
// upper and upper-right macroblocks and the last search of this direction,
// full-pel steps at full resolution while they gain, then half-pel; the
// strategy's own answer is kept when nothing beats it.
void MESearch::own_refinement(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, unsigned word,
                              const MECandidate* cands, const MECandidate& previous, MECandidate* out) {
  const int w = cur.w;
  const uint8_t* block = cur.y + static_cast<long>(my) * w + mx;
  int starts[12][2];
  int n = 0;
  starts[n][0] = out->x >> 1, starts[n][1] = out->y >> 1, ++n;
  starts[n][0] = (out->x + 1) >> 1, starts[n][1] = (out->y + 1) >> 1, ++n;
  n += neighbour_starts(cur, mx, my, cands, previous, starts + n);
  const Plane frame{block, ref.y, w, w, cur.h, 16, win_};
  int hx, hy;
  const int c = descend(frame, starts, n, !no_half_pel, &hx, &hy);
  const int own = static_cast<int>(sad_at(block, ref.y + static_cast<long>(my) * w + mx, w, out->x - 2 * mx,
                                          out->y - 2 * my, 16));
  if (c < own)
    out->x = hx, out->y = hy, out->cost = c;
  else
    out->cost = own;
  if (word & kMEInterlaced) own_field_refinement(cur, ref, mx, my, rx, ry, cands, out);
}

// Fields: each block in each reference field, from its own candidate, the
// frame vector, the zero vector and the left and upper neighbours' field
// vectors into that field; the block's own parity wins ties.
void MESearch::own_field_refinement(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry,
                                    const MECandidate* cands, MECandidate* out) {
  const int w = cur.w, mbw = w >> 4, i = (my >> 4) * mbw + (mx >> 4);
  const uint8_t* block = cur.y + static_cast<long>(my) * w + mx;
  const int fh = cur.h / 2;
  const Window fwin = make_window(mx, my / 2, rx, ry, w - 16, fh - 8);
  const int fx = out->x >> 1, fy = my / 2 + (((out->y >> 1) - my) >> 1);
  auto best_field = [&](const uint8_t* fblock, int own_parity, int* x, int* y, int* cost, int* sel,
                        const int cand[2][2]) {
    int bx[2], by[2], bc[2];
    for (int parity = 0; parity < 2; ++parity) {
      const Plane p{fblock, ref.y + parity * w, 2 * w, w, fh, 8, fwin};
      int s[5][2] = {{cand[parity][0], cand[parity][1]}, {fx, fy}, {mx, my / 2}};
      int n = 3;
      auto neighbour = [&](const MECandidate& c, int dx, int dy) {
        const int nx = own_parity ? c.bot_x : c.top_x, ny = own_parity ? c.bot_y : c.top_y;
        if ((own_parity ? c.bot_sel : c.top_sel) == parity) s[n][0] = (nx >> 1) + dx, s[n][1] = (ny >> 1) + dy, ++n;
      };
      if (mx > 0) neighbour(cands[i - 1], 16, 0);
      if (my > 0) neighbour(cands[i - mbw], 0, 8);
      bc[parity] = descend(p, s, n, !no_half_pel, &bx[parity], &by[parity]);
    }
    // Half a field line apart the two fields rank differently than at
    // full-pel: both are refined before the choice.
    const int other = own_parity ^ 1;
    const int pick = bc[other] < bc[own_parity] ? other : own_parity;
    *x = bx[pick], *y = by[pick], *cost = bc[pick], *sel = pick;
  };
  // Candidate positions per reference field, full-pel field lines.
  auto fp = [](int x, int y, int (*d)[2]) { (*d)[0] = x >> 1, (*d)[1] = y >> 1; };
  int top[2][2], bot[2][2];
  fp(out->top_sel == 0 ? out->top_x : out->top2_x, out->top_sel == 0 ? out->top_y : out->top2_y, &top[0]);
  fp(out->top_sel == 0 ? out->top2_x : out->top_x, out->top_sel == 0 ? out->top2_y : out->top_y, &top[1]);
  fp(out->bot_sel == 1 ? out->bot2_x : out->bot_x, out->bot_sel == 1 ? out->bot2_y : out->bot_y, &bot[0]);
  fp(out->bot_sel == 1 ? out->bot_x : out->bot2_x, out->bot_sel == 1 ? out->bot_y : out->bot2_y, &bot[1]);
  best_field(block, 0, &out->top_x, &out->top_y, &out->top_cost, &out->top_sel, top);
  best_field(block + w, 1, &out->bot_x, &out->bot_y, &out->bot_cost, &out->bot_sel, bot);
}

// Strategy 4 with our refinement: the frame candidate by prediction, then
// the field blocks from the vectors around; strategy 4 and the full
// refinement where the prediction fits badly. True when the class settled it.
bool MESearch::predictive_fields(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, unsigned word,
                                 int cls, const MECandidate* cands, const MECandidate& previous, MECandidate* out) {
  bool wide = false;
  if (predictive(cur, ref, mx, my, rx, ry, cls, cands, previous, out, &wide)) {
    own_fields(out, mx, my);
    return true;
  }
  if (wide && field_layers()) {
    const Pic c2(lazy_cur_), r2(lazy_ref_);
    if (field_hierarchical(c2, r2, mx, my, rx, ry, cls, out)) return true;
    own_refinement(cur, ref, mx, my, rx, ry, word, cands, previous, out);
    return false;
  }
  if (wide) {  // no layers for so large a picture: the prediction's frame candidate, then half-pel
    int hx = out->x, hy = out->y;
    const uint8_t* block = cur.y + static_cast<long>(my) * cur.w + mx;
    if (!no_half_pel) out->cost = refine_half_pel(block, ref.y, cur.w, cur.w, cur.h, 16, &hx, &hy);
    out->x = hx, out->y = hy;
  }
  own_fields(out, mx, my);
  own_field_refinement(cur, ref, mx, my, rx, ry, cands, out);
  return false;
}

void MESearch::search_mb(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, unsigned word,
                         MECandidate* cands, bool narrow) {
  const int i = (my >> 4) * (cur.w >> 4) + (mx >> 4);
  MECandidate* out = &cands[i];
  const MECandidate previous = *out;
  const int cls = narrow ? mv_class[i] : -1;
  win_ = make_window(mx, my, rx, ry, cur.w - 16, cur.h - 16);
  bool settled = false;
  if (word & kMEFull) {
    if (word & kMEInterlaced)
      mpeg2_full_pel(cur, ref, mx, my, rx, ry, word, out);
    else
      full_search(cur, ref, mx, my, rx, ry, word, out);
  } else if ((word & kMEInterlaced) && (word & kMERefine)) {
    predictive_fields(cur, ref, mx, my, rx, ry, word, cls, cands, previous, out);
    return;
  } else if (word & kMEInterlaced) {
    settled = field_hierarchical(cur, ref, mx, my, rx, ry, cls, out);
  } else if (word & kMERefine && !(word & kMERing)) {
    predictive(cur, ref, mx, my, rx, ry, cls, cands, previous, out, nullptr);
    return;
  } else {
    settled = hierarchical(cur, ref, mx, my, rx, ry, word, cls, out);
  }
  if (settled && (word & kMERefine)) {
    // The P picture's class is a guess about this picture: one sum checks
    // it, and a block that moved after all is searched.
    const long at = static_cast<long>(my) * cur.w + mx;
    const int zero = static_cast<int>(me_dsp().sad_full(cur.y + at, ref.y + at, cur.w, 16));
    settled = zero <= 32;
    out->cost = zero;
  }
  if ((word & kMERefine) && !settled) own_refinement(cur, ref, mx, my, rx, ry, word, cands, previous, out);
}

int MESearch::motion_search(Frame* current, Frame* reference, int range_x, int range_y, MECandidate* candidates,
                            int, int) {
  width = current->padded_width();
  height = current->padded_height();
  const int mbw = width >> 4, mbh = height >> 4, n = mbw * mbh;
  if (n <= 0 || !candidates || !current->y_plane() || !reference->y_plane() ||
      reference->padded_width() != width || reference->padded_height() != height)
    return 0;
  const Pic cur(current), ref(reference);
  unsigned word = mode;
  // Reduced layers missing (too large a picture): search at full resolution.
  const bool hier = !(word & kMEFull);
  const bool fields = (word & kMEInterlaced) != 0;
  if (predictive_word(word)) {
    lazy_fresh_ = lazy_fields_fresh_ = false;  // the current picture's layers are built anew on need
    lazy_cur_ = current, lazy_ref_ = reference;
  } else if (hier && (fields ? (!cur.l2f || !ref.l2f) : (!cur.l2 || !ref.l2))) {
    word = (word & ~kMERing) | kMEFull;
  }
  range_x = std::max(range_x, 0);
  range_y = std::max(range_y, 0);
  // B pictures after a P picture follow its classes.
  const bool narrow = mv_class_valid != 0 && mv_class != nullptr && n <= capacity_;
  long long sum = 0;
  for (int my = 0; my < mbh * 16; my += 16)
    for (int mx = 0; mx < mbw * 16; mx += 16) {
      search_mb(cur, ref, mx, my, range_x, range_y, word, candidates, narrow);
      sum += candidates[(my >> 4) * mbw + (mx >> 4)].cost;
    }
  return static_cast<int>((sum + n / 2) / n);
}

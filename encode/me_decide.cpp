// Per-picture estimation drivers and the macroblock decisions.
#include <algorithm>
#include <cstring>

#include "encode/me_search.h"

namespace {

constexpr uint32_t kWorthCompensating = 2304;  // 9 x 256: smallest error worth a vector

void set_mb(MBInfo& m, int type, int motion, int variance) {
  m.mb_type = type;
  m.motion_type = motion;
  std::memset(m.mv, 0, sizeof m.mv);
  mbi_field_sel(m, 1, 0) = mbi_field_sel(m, 1, 1) = 1;
  mbi_variance(m) = variance;
}

// Class bits of one small vector component: zero gives `zero`, +-1 gives
// `one`, anything larger nothing.
int component_class(int v, int zero, int one) { return v == 0 ? zero : (v == 1 || v == -1) ? one : 0; }

}  // namespace

int choose_p(uint32_t var, uint32_t vmc, uint32_t e0) {
  if (vmc > var && vmc >= kWorthCompensating) return kMBIntra;
  if (4ull * e0 > 5ull * vmc && e0 >= kWorthCompensating) return kMBForward;
  return 0;
}

int choose_b_progressive(uint32_t d_f, uint32_t d_b, uint32_t d_i) {
  if (d_f <= d_b && d_f <= d_i) return kMBForward;
  return d_b <= d_i ? kMBBackward : kMBInterpolated;
}

int choose_b_interlaced(const uint32_t costs[6]) {
  for (int k = 0; k < 4; ++k)
    if (std::all_of(costs + k + 1, costs + 6, [&](uint32_t v) { return costs[k] <= v; })) return k;
  return costs[4] <= costs[5] ? 4 : 5;
}

bool MESearch::prepare(Frame* current, std::initializer_list<Frame*> references) {
  width = current ? current->padded_width() : 0;
  height = current ? current->padded_height() : 0;
  if (!current || !current->y_plane()) return false;
  for (Frame* r : references)
    if (!r || !r->y_plane() || r->padded_width() != width || r->padded_height() != height) return false;
  // Our predictive search builds the half layers only when it needs them.
  if ((mode & kMELayers) && !predictive_word(mode)) {
    const int fields = (mode & kMEInterlaced) ? 1 : 0;
    current->get_layer2(use_quarter_layer, fields);
    for (Frame* r : references)
      if (!r->layer2() || (fields && !r->layer2_fields())) r->get_layer2(use_quarter_layer, fields);
  }
  if (needs_alloc || mb_count() > capacity_) alloc(mb_count());
  forget_layer(current);  // new content, searched or not: never a stale plane later
  return true;
}

int MESearch::motion_estimate_intra(Frame* current, MBInfo* mbi) {
  width = current ? current->padded_width() : 0;
  height = current ? current->padded_height() : 0;
  const int n = mb_count(), mbw = width >> 4;
  last_cost = last_cost_bwd = 65535;
  mv_class_valid = 0;
  forget_layer(current);
  if (n <= 0 || !current->y_plane()) return std::max(n, 0);
  for (int i = 0; i < n; ++i) {
    const int mx = (i % mbw) * 16, my = (i / mbw) * 16;
    const int var = skip_search ? 1
                                : static_cast<int>(ops.mb_variance(
                                      current->y_plane() + static_cast<long>(my) * width + mx, width));
    set_mb(mbi[i], kMBIntra, kMotionFrame, var);
  }
  return n;
}

int MESearch::decide_p(const Pic& cur, const Pic& ref, int mx, int my, MBInfo& m, uint16_t* cls) {
  const int w = cur.w;
  const MECandidate& c = candidates_fwd[(my >> 4) * (w >> 4) + (mx >> 4)];
  const long at = static_cast<long>(my) * w + mx;
  const uint8_t* block = cur.y + at;
  const uint32_t var = ops.mb_variance(block, w);
  const bool interlaced = (mode & kMEInterlaced) != 0;
  const bool field = interlaced && c.top_cost + c.bot_cost < c.cost;
  uint32_t vmc;
  if (field) {
    vmc = sse_at(block, ref.y + at + c.top_sel * w, 2 * w, c.top_x - 2 * mx, c.top_y - my, 8) +
          sse_at(block + w, ref.y + at + c.bot_sel * w, 2 * w, c.bot_x - 2 * mx, c.bot_y - my, 8);
  } else {
    vmc = sse_at(block, ref.y + at, w, c.x - 2 * mx, c.y - 2 * my, 16);
  }
  const uint32_t e0 = me_dsp().sse_full(block, ref.y + at, w, 16);
  const int type = choose_p(var, vmc, e0);
  if (type == kMBIntra) {
    set_mb(m, kMBIntra, kMotionFrame, static_cast<int>(var));
    *cls = 0;
    return 1;
  }
  if (type == kMBForward) {
    if (field) {
      set_mb(m, kMBForward, kMotionField, static_cast<int>(vmc));
      mbi_mv(m, 0, 0, 0) = c.top_x - 2 * mx;
      mbi_mv(m, 0, 0, 1) = 2 * c.top_y - 2 * my;
      mbi_mv(m, 1, 0, 0) = c.bot_x - 2 * mx;
      mbi_mv(m, 1, 0, 1) = 2 * c.bot_y - 2 * my;
      mbi_field_sel(m, 0, 0) = c.top_sel;
      mbi_field_sel(m, 1, 0) = c.bot_sel;
      *cls = static_cast<uint16_t>(
          component_class(c.top_x - 2 * mx, 0x30, 0x10) | component_class(c.top_y - my, 0xC0, 0x40) |
          component_class(c.bot_x - 2 * mx, 0x300, 0x100) | component_class(c.bot_y - my, 0xC00, 0x400));
    } else {
      set_mb(m, kMBForward, kMotionFrame, static_cast<int>(vmc));
      const int vx = c.x - 2 * mx, vy = c.y - 2 * my;
      mbi_mv(m, 0, 0, 0) = vx;
      mbi_mv(m, 0, 0, 1) = vy;
      *cls = static_cast<uint16_t>(interlaced ? component_class(vx, 3, 1) | component_class(vy, 0xC, 4)
                                              : component_class(vx, 3, 1) | component_class(vy, 0x30, 0x10));
    }
    return 0;
  }
  set_mb(m, 0, kMotionFrame, static_cast<int>(e0));
  *cls = interlaced ? 0x0F : 0x33;
  return 0;
}

int MESearch::motion_estimate_p(Frame* current, Frame* reference, int range_x, int range_y, MBInfo* mbi) {
  const bool ok = prepare(current, {reference});
  const int n = mb_count(), mbw = width >> 4;
  if (n <= 0) return 0;
  if (!ok) {  // nothing to predict from: every macroblock intra
    mv_class_valid = 0;
    last_cost = last_cost_bwd = 65535;
    if (!current->y_plane()) {
      for (int i = 0; i < n; ++i) set_mb(mbi[i], kMBIntra, kMotionFrame, 1);
      return n;
    }
    return motion_estimate_intra(current, mbi);
  }
  if (skip_search) {
    for (int i = 0; i < n; ++i) set_mb(mbi[i], 0, kMotionFrame, 1);
    last_cost = 0;
    return 0;
  }
  mv_class_valid = 0;
  last_cost = motion_search(current, reference, range_x, range_y, candidates_fwd);
  last_cost_bwd = 65535;
  const Pic cur(current), ref(reference);
  int intra = 0;
  for (int i = 0; i < n; ++i) intra += decide_p(cur, ref, (i % mbw) * 16, (i / mbw) * 16, mbi[i], &mv_class[i]);
  mv_class_valid = 1;
  return intra;
}

int MESearch::decide_b(const Pic& cur, const Pic& fwd, const Pic& bwd, int mx, int my, MBInfo& m,
                       bool backward_only) {
  const int w = cur.w, i = (my >> 4) * (w >> 4) + (mx >> 4);
  const MECandidate& f = candidates_fwd[i];
  const MECandidate& b = candidates_bwd[i];
  const long at = static_cast<long>(my) * w + mx;
  const uint8_t* block = cur.y + at;
  const uint8_t* fr = fwd.y + at;
  const uint8_t* br = bwd.y + at;
  const int fx = f.x - 2 * mx, fy = f.y - 2 * my, bx = b.x - 2 * mx, by = b.y - 2 * my;
  int type;
  bool field = false;
  uint32_t vmc;
  if (!(mode & kMEInterlaced)) {
    const uint32_t big = 0x0FFFFFFF;
    const uint32_t d_f = backward_only ? big : sse_at(block, fr, w, fx, fy, 16);
    const uint32_t d_b = sse_at(block, br, w, bx, by, 16);
    const uint32_t d_i = backward_only ? big : sse_bidir_at(block, fr, br, w, fx, fy, bx, by, 16);
    type = choose_b_progressive(d_f, d_b, d_i);
    vmc = type == kMBForward ? d_f : type == kMBBackward ? d_b : d_i;
  } else {
    // Field blocks: top at `block`, bottom one line down; references by select.
    auto field_bidir = [&](bool square) {
      uint32_t s = 0;
      for (int r = 0; r < 2; ++r) {
        const int fsel = r ? f.bot_sel : f.top_sel, bsel = r ? b.bot_sel : b.top_sel;
        const int fvx = (r ? f.bot_x : f.top_x) - 2 * mx, fvy = (r ? f.bot_y : f.top_y) - my;
        const int bvx = (r ? b.bot_x : b.top_x) - 2 * mx, bvy = (r ? b.bot_y : b.top_y) - my;
        const auto fn = square ? sse_bidir_at : sad_bidir_at;
        s += fn(block + r * w, fr + fsel * w, br + bsel * w, 2 * w, fvx, fvy, bvx, bvy, 8);
      }
      return s;
    };
    auto field_single = [&](const MECandidate& c, const uint8_t* ref) {
      return sse_at(block, ref + c.top_sel * w, 2 * w, c.top_x - 2 * mx, c.top_y - my, 8) +
             sse_at(block + w, ref + c.bot_sel * w, 2 * w, c.bot_x - 2 * mx, c.bot_y - my, 8);
    };
    const uint32_t none = 65535;
    const uint32_t fwd_frame = backward_only ? none : static_cast<uint32_t>(f.cost);
    const uint32_t bwd_frame = static_cast<uint32_t>(b.cost);
    const uint32_t fwd_field = backward_only ? none : static_cast<uint32_t>(f.top_cost + f.bot_cost);
    const uint32_t bwd_field = static_cast<uint32_t>(b.top_cost + b.bot_cost);
    const uint32_t int_frame = backward_only ? none : sad_bidir_at(block, fr, br, w, fx, fy, bx, by, 16);
    const uint32_t int_field = backward_only ? none : field_bidir(false);
    const uint32_t costs[6] = {int_frame, int_field, fwd_frame, fwd_field, bwd_frame, bwd_field};
    const int pick = choose_b_interlaced(costs);
    type = pick < 2 ? kMBInterpolated : pick < 4 ? kMBForward : kMBBackward;
    field = pick & 1;
    switch (pick) {
      case 0: vmc = sse_bidir_at(block, fr, br, w, fx, fy, bx, by, 16); break;
      case 1: vmc = field_bidir(true); break;
      case 2: vmc = sse_at(block, fr, w, fx, fy, 16); break;
      case 3: vmc = field_single(f, fr); break;
      case 4: vmc = sse_at(block, br, w, bx, by, 16); break;
      default: vmc = field_single(b, br); break;
    }
  }
  const uint32_t var = ops.mb_variance(block, w);
  if (b_is_intra(var, vmc)) {
    set_mb(m, kMBIntra, kMotionFrame, static_cast<int>(var));
    return 1;
  }
  set_mb(m, type, field ? kMotionField : kMotionFrame, static_cast<int>(vmc));
  if (field) {
    const MECandidate* dir[2] = {&f, &b};
    for (int s = 0; s < 2; ++s) {
      mbi_mv(m, 0, s, 0) = dir[s]->top_x - 2 * mx;
      mbi_mv(m, 0, s, 1) = 2 * dir[s]->top_y - 2 * my;
      mbi_mv(m, 1, s, 0) = dir[s]->bot_x - 2 * mx;
      mbi_mv(m, 1, s, 1) = 2 * dir[s]->bot_y - 2 * my;
      mbi_field_sel(m, 0, s) = dir[s]->top_sel;
      mbi_field_sel(m, 1, s) = dir[s]->bot_sel;
    }
  } else {
    mbi_mv(m, 0, 0, 0) = fx;
    mbi_mv(m, 0, 0, 1) = fy;
    mbi_mv(m, 0, 1, 0) = bx;
    mbi_mv(m, 0, 1, 1) = by;
  }
  return 0;
}

int MESearch::motion_estimate_b(Frame* current, Frame* forward, Frame* backward, int range_fx, int range_fy,
                                int range_bx, int range_by, MBInfo* mbi, int backward_only) {
  const bool ok = backward_only ? prepare(current, {backward}) : prepare(current, {forward, backward});
  const int n = mb_count(), mbw = width >> 4;
  if (n <= 0) return 0;
  if (!ok) {
    last_cost = last_cost_bwd = 65535;
    if (!current->y_plane()) {
      for (int i = 0; i < n; ++i) set_mb(mbi[i], kMBIntra, kMotionFrame, 1);
      return n;
    }
    const int keep = mv_class_valid;
    const int r = motion_estimate_intra(current, mbi);
    mv_class_valid = keep;  // B pictures leave the P picture's classes alone
    return r;
  }
  if (skip_search) {
    for (int i = 0; i < n; ++i) set_mb(mbi[i], kMBBackward, kMotionFrame, 1);
    return 0;
  }
  last_cost_bwd = motion_search(current, backward, range_bx, range_by, candidates_bwd);
  if (backward_only) {
    last_cost = 65535;
    // The forward candidates are read by the decisions only through the
    // costs that backward_only replaces; keep them harmless.
    for (int i = 0; i < n; ++i) candidates_fwd[i] = candidates_bwd[i];
  } else {
    last_cost = motion_search(current, forward, range_fx, range_fy, candidates_fwd);
  }
  const Pic cur(current), bwd(backward), fwd(backward_only ? backward : forward);
  int intra = 0;
  for (int i = 0; i < n; ++i)
    intra += decide_b(cur, fwd, bwd, (i % mbw) * 16, (i / mbw) * 16, mbi[i], backward_only != 0);
  return intra;
}

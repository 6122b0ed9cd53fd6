#include "access/effects.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <mutex>

#include "picture/image.h"
#include "foundation/trace.h"

namespace {

// One plane of a picture, possibly a temporary chroma conversion.
struct Plane {
  uint8_t* d = nullptr;
  int stride = 0, w = 0, h = 0;
  uint8_t* at(int x, int y) const { return d + static_cast<size_t>(y) * stride + x; }
};

int chroma_of(const Image* im) { return im->chroma_format == 2 ? 2 : 1; }

// Plane p of im as the output's chroma format cf needs it.
Plane plane_of(Image* im, int p, int cf, std::vector<uint8_t>& tmp) {
  Plane r;
  const int w = im->display_width, h = im->display_height;
  if (p == 0) {
    r.d = im->get_y();
    r.stride = im->y_stride();
    r.w = w;
    r.h = h;
    return r;
  }
  const int icf = chroma_of(im);
  uint8_t* src = p == 1 ? im->get_u() : im->get_v();
  const int cs = im->c_stride();
  const int cw = w / 2;
  const int ih = icf == 2 ? h : h / 2;
  if (icf == cf) {
    r.d = src;
    r.stride = cs;
    r.w = cw;
    r.h = ih;
    return r;
  }
  const int oh = cf == 2 ? h : h / 2;
  tmp.assign(static_cast<size_t>(std::max(1, cw)) * std::max(1, oh), 128);
  for (int y = 0; y < oh; ++y) {
    uint8_t* o = tmp.data() + static_cast<size_t>(y) * cw;
    if (cf == 1) {  // 4:2:2 to 4:2:0: average row pairs
      const uint8_t* a = src + static_cast<size_t>(std::min(2 * y, ih - 1)) * cs;
      const uint8_t* b = src + static_cast<size_t>(std::min(2 * y + 1, ih - 1)) * cs;
      for (int x = 0; x < cw; ++x) o[x] = uint8_t((a[x] + b[x] + 1) >> 1);
    } else {  // 4:2:0 to 4:2:2: double rows
      std::memcpy(o, src + static_cast<size_t>(std::min(y / 2, ih - 1)) * cs, static_cast<size_t>(cw));
    }
  }
  r.d = tmp.data();
  r.stride = cw;
  r.w = cw;
  r.h = oh;
  return r;
}

// The centred overlap of up to three planes: each is narrowed to the
// smallest size, offset by half of its own excess.
void overlap(Plane* planes, int n) {
  int w = planes[0].w, h = planes[0].h;
  for (int i = 1; i < n; ++i) {
    w = std::min(w, planes[i].w);
    h = std::min(h, planes[i].h);
  }
  for (int i = 0; i < n; ++i) {
    planes[i].d = planes[i].at((planes[i].w - w) / 2, (planes[i].h - h) / 2);
    planes[i].w = w;
    planes[i].h = h;
  }
}

bool position_ok(int pos, int len, const char* log_name) {
  if (len < 1) {
    trace("%s (ERROR): length=%d\n", log_name, len);
    return false;
  }
  if (pos < 0 || pos > len) {
    trace("ERROR (%s): offset=%d (%d=length)\n", log_name, pos, len);
    return false;
  }
  return true;
}

bool named(char* name, const char* text) {
  if (!name) return false;
  std::strcpy(name, text);
  return true;
}

bool usable(const Image* im) { return im && im->buffer && im->display_width > 0 && im->display_height > 0; }

// Two-picture operation: per plane of (out, source, destination) overlap.
template <class F>
void for_planes3(Image* out, Image* src, Image* dst, F&& f) {
  const int cf = chroma_of(out);
  for (int p = 0; p < 3; ++p) {
    std::vector<uint8_t> t0, t1, t2;
    Plane pl[3] = {plane_of(out, p, cf, t0), plane_of(src, p, cf, t1), plane_of(dst, p, cf, t2)};
    overlap(pl, 3);
    f(p, pl[0], pl[1], pl[2]);
  }
}

enum WipeKind { kHorizontal, kVertical, kRotate };

unsigned effect_wipe(int pos, int len, Image* out, Image* src, Image* dst, const char* log_name, WipeKind kind) {
  if (!position_ok(pos, len, log_name) || !usable(out) || !usable(src) || !usable(dst)) return 2;
  const double f = double(pos + 1) / (len + 1);
  for_planes3(out, src, dst, [&](int, Plane o, Plane s, Plane d) {
    const int w = o.w, h = o.h;
    const double t = h > 0 ? std::tan(M_PI / 2 * f) * w / h : 0.0;
    for (int y = 0; y < h; ++y) {
      int n;
      if (kind == kHorizontal) n = int(w * f + 0.5);
      else if (kind == kVertical) n = y < int(h * f + 0.5) ? w : 0;
      else n = int(std::min<double>(w, 0.5 + y * t));
      n = std::clamp(n, 0, w);
      std::memmove(o.at(0, y), d.at(0, y), static_cast<size_t>(n));
      std::memmove(o.at(n, y), s.at(n, y), static_cast<size_t>(w - n));
    }
  });
  return 2;
}

// Fade factor of one picture: (p^2 + 1) / (L^2 + 1) in 1/256 units.
unsigned effect_fade(int pos, int len, Image* out, Image* in, const char* log_name, bool ending) {
  if (!position_ok(pos, len, log_name) || !usable(out)) return 1;
  if (!usable(in)) in = out;
  const int p = ending ? len - pos : pos;
  const int a = int((double(p) * p + 1) / (double(len) * len + 1) * 256 + 0.5);
  const int cf = chroma_of(out);
  for (int pl = 0; pl < 3; ++pl) {
    std::vector<uint8_t> t0, t1;
    Plane v[2] = {plane_of(out, pl, cf, t0), plane_of(in, pl, cf, t1)};
    overlap(v, 2);
    for (int y = 0; y < v[0].h; ++y) {
      uint8_t* o = v[0].at(0, y);
      const uint8_t* s = v[1].at(0, y);
      for (int x = 0; x < v[0].w; ++x) {
        if (a < 1) o[x] = pl == 0 ? 0 : 128;
        else if (a >= 256) o[x] = s[x];
        else if (pl == 0) o[x] = uint8_t((s[x] * a) >> 8);
        else o[x] = uint8_t((((s[x] - 128) * a) >> 8) + 128);
      }
    }
  }
  return 1;
}

}  // namespace

unsigned effect_none(int, int, Image*, Image*, Image*, char* name, int, int) {
  named(name, "None");
  return 1;
}

unsigned effect_wipe_horizontal(int pos, int len, Image* out, Image* src, Image* dst, char* name, int, int) {
  if (named(name, "Wipe Horizontal")) return 2;
  return effect_wipe(pos, len, out, src, dst, "effect_wipe_horizontal", kHorizontal);
}

unsigned effect_wipe_vertical(int pos, int len, Image* out, Image* src, Image* dst, char* name, int, int) {
  if (named(name, "Wipe Vertical")) return 2;
  return effect_wipe(pos, len, out, src, dst, "effect_wipe_vertical", kVertical);
}

unsigned effect_wipe_rotate(int pos, int len, Image* out, Image* src, Image* dst, char* name, int, int) {
  if (named(name, "Wipe Rotate")) return 2;
  return effect_wipe(pos, len, out, src, dst, "effect_wipe_rotate", kRotate);
}

unsigned effect_blend(int pos, int len, Image* out, Image* src, Image* dst, char* name, int, int) {
  if (named(name, "Blend")) return 2;
  if (!position_ok(pos, len, "effect_blend") || !usable(out) || !usable(src) || !usable(dst)) return 2;
  const int a = int(double(pos + 1) / (len + 1) * 256);
  for_planes3(out, src, dst, [&](int, Plane o, Plane s, Plane d) {
    for (int y = 0; y < o.h; ++y) {
      uint8_t* po = o.at(0, y);
      const uint8_t* ps = s.at(0, y);
      const uint8_t* pd = d.at(0, y);
      for (int x = 0; x < o.w; ++x) po[x] = uint8_t((ps[x] * (256 - a) + pd[x] * a + 128) >> 8);
    }
  });
  return 2;
}

unsigned effect_zoom(int pos, int len, Image* out, Image* src, Image* dst, char* name, int, int) {
  if (named(name, "Zoom Circle")) return 2;
  if (!position_ok(pos, len, "effect_zoom")) return 0;
  if (!usable(out) || !usable(src) || !usable(dst)) return 2;
  const double f = double(pos + 1) / (len + 1);
  for_planes3(out, src, dst, [&](int, Plane o, Plane s, Plane d) {
    const int w = o.w, h = o.h, w2 = w / 2, h2 = h / 2;
    const int R = int(std::max(w2, h2) * f + 0.5);
    auto copy_row = [&](const Plane& from, int y) { std::memmove(o.at(0, y), from.at(0, y), static_cast<size_t>(w)); };
    const int band = std::max(0, h2 - R);
    int y = 0;
    for (; y < std::min(band, h); ++y) copy_row(s, y);
    int dd = 1 - R;
    for (; y < std::min(band + 2 * R, h); ++y, ++dd) {
      const int k = int(std::sqrt(std::max(0.0, double(R) * R - double(dd) * dd)) + 0.5);
      const int x0 = w2 - k;
      if (x0 < 1) {
        copy_row(d, y);
        continue;
      }
      const int x1 = std::min(w, w2 + k);
      copy_row(s, y);
      if (x1 > x0) std::memmove(o.at(x0, y), d.at(x0, y), static_cast<size_t>(x1 - x0));
    }
    for (; y < h; ++y) copy_row(s, y);
  });
  return 2;
}

unsigned effect_keying_title(int, int, Image* out, Image* title, Image* back, char* name, int, int) {
  if (named(name, "Keying Title Image")) return 1;
  if (!usable(out) || !usable(title)) return 1;
  if (!usable(back)) back = out;
  const int cf = chroma_of(out);
  for (int p = 0; p < 3; ++p) {
    std::vector<uint8_t> t0, t1, t2;
    Plane v[3] = {plane_of(out, p, cf, t0), plane_of(title, p, cf, t1), plane_of(back, p, cf, t2)};
    overlap(v, 3);
    for (int y = 0; y < v[0].h; ++y) {
      uint8_t* o = v[0].at(0, y);
      const uint8_t* t = v[1].at(0, y);
      const uint8_t* b = v[2].at(0, y);
      for (int x = 0; x < v[0].w; ++x) {
        if (p == 0) o[x] = t[x] > 15 ? uint8_t((3 * t[x] + b[x]) >> 2) : b[x];
        else o[x] = (t[x] < 113 || t[x] > 143) ? uint8_t((b[x] + t[x] + 1) >> 1) : b[x];
      }
    }
  }
  return 1;
}

unsigned effect_color_keying_title(int key, int, Image* out, Image* title, Image* back, char* name, int, int) {
  if (named(name, "Color Keying Title Image")) return 1;
  if (!usable(out) || !usable(title)) return 1;
  const bool separate = usable(back) && back != out;
  const int cf = chroma_of(out);
  const int comp[3] = {(key >> 16) & 0xFF, (key >> 8) & 0xFF, key & 0xFF};
  for (int p = 0; p < 3; ++p) {
    std::vector<uint8_t> t0, t1, t2;
    Plane o = plane_of(out, p, cf, t0);
    if (separate) {
      Plane v[2] = {o, plane_of(back, p, cf, t2)};
      overlap(v, 2);
      for (int y = 0; y < v[0].h; ++y) std::memmove(v[0].at(0, y), v[1].at(0, y), static_cast<size_t>(v[0].w));
    }
    Plane v[2] = {o, plane_of(title, p, cf, t1)};
    overlap(v, 2);
    // Keyed area: even size minus 2 in each direction, centred.
    const int kw = std::max(0, v[0].w - 2 - v[0].w % 2), kh = std::max(0, v[0].h - 2 - v[0].h % 2);
    const int ox = (v[0].w - kw) / 2, oy = (v[0].h - kh) / 2;
    for (int y = 0; y < kh; ++y) {
      uint8_t* po = v[0].at(ox, oy + y);
      const uint8_t* pt = v[1].at(ox, oy + y);
      for (int x = 0; x < kw; ++x)
        if (pt[x] != comp[p]) po[x] = pt[x];
    }
  }
  return 1;
}

unsigned effect_fade_beginning(int pos, int len, Image* out, Image* in, Image*, char* name, int, int) {
  if (named(name, "Beginning Fade")) return 1;
  return effect_fade(pos, len, out, in, "effect_fade_beginning", false);
}

unsigned effect_fade_ending(int pos, int len, Image* out, Image* in, Image*, char* name, int, int) {
  if (named(name, "Ending Fade")) return 1;
  return effect_fade(pos, len, out, in, "effect_fade_ending", true);
}

// ---- registry ----

std::string op_name_next_number(const std::string& name) {
  size_t end = name.size();
  while (end > 0 && std::isdigit(static_cast<unsigned char>(name[end - 1]))) --end;
  if (end == name.size()) return name + " 2";
  const long n = std::strtol(name.c_str() + end, nullptr, 10);
  return name.substr(0, end) + " " + std::to_string(n + 1);
}

EffectOPManager::EffectOPManager() {
  const EffectOp builtins[] = {effect_none,        effect_wipe_horizontal, effect_wipe_vertical,
                               effect_wipe_rotate, effect_blend,           effect_zoom,
                               effect_keying_title, effect_color_keying_title, effect_fade_beginning,
                               effect_fade_ending};
  for (EffectOp f : builtins) add_op(f, 0);
  builtin_count_ = get_count();
}

bool EffectOPManager::check_op(EffectOp func, int kind, const char* name) const {
  for (const OPEntry& e : entries_) {
    if (e.func != func || e.kind != kind) continue;
    if (name ? e.name == name : e.name.empty()) {
      trace("EffectOPManager::check_op (): op=(%s:%d:%s) exists\n", e.name.c_str(), kind, name ? name : "");
      return true;
    }
  }
  return false;
}

int EffectOPManager::add_op(EffectOp func, int) {
  if (!func) {
    trace("EffectOPManager::add_op (ERROR): invalid input parameters: op_func=nil\n");
    return -1;
  }
  char buf[512] = {};
  const int kind = int(func(0, 0, nullptr, nullptr, nullptr, buf, 0, 0));
  if (kind != 1 && kind != 2) {
    trace("EffectOPManager::add_op (ERROR): invalid return for number of input frames = %d\n", kind);
    return -1;
  }
  if (!buf[0]) {
    trace("EffectOPManager::add_op (ERROR): invalid return for op name string=nil\n");
    return -1;
  }
  if (check_op(func, kind, buf)) return -1;
  std::string name = buf;
  auto used = [&](const std::string& n) {
    return std::any_of(entries_.begin(), entries_.end(), [&](const OPEntry& e) { return e.name == n; });
  };
  while (used(name)) name = op_name_next_number(name);
  OPEntry e;
  e.set(func, kind, name.c_str());
  entries_.push_back(e);
  name_ptrs_.clear();
  for (const OPEntry& x : entries_) name_ptrs_.push_back(x.name.c_str());
  return get_count() - 1;
}

const OPEntry* EffectOPManager::entry(int id) const {
  if (id < 0 || id >= get_count()) return nullptr;
  return &entries_[size_t(id)];
}

EffectOPManager* effect_op_manager() {
  static EffectOPManager manager;  // destroyed at process exit
  return &manager;
}

const char* const* effect_op_get_names(int* out_count) {
  EffectOPManager* m = effect_op_manager();
  if (out_count) *out_count = m->get_count();
  return m->names().data();
}

int effect_op_get_count() { return effect_op_manager()->get_count(); }

const char* effect_op_get_name(int id) {
  const OPEntry* e = effect_op_manager()->entry(id);
  return e ? e->name.c_str() : "Invalid OP ID";
}

EffectOp effect_op_get(int id) {
  const OPEntry* e = effect_op_manager()->entry(id);
  return e ? e->func : nullptr;
}

int effect_op_check_id(int id) { return id >= 1 && id < effect_op_get_count() ? id : 0; }

bool effect_op_is_title(int id) {
  const char* n = effect_op_get_name(id);
  return std::strcmp(n, "Keying Title Image") == 0 || std::strcmp(n, "Color Keying Title Image") == 0;
}

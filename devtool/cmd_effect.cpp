// effect OP POSITION LENGTH OUT.yuv WIDTH HEIGHT A.yuv A_WIDTH A_HEIGHT
// [B.yuv B_WIDTH B_HEIGHT] [--p1 N] [--p2 N]: one picture of a registered
// effect operation (4:2:0 planar pictures), inputs scaled to the output.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "access/effect_frame.h"
#include "access/effects.h"
#include "devtool/command.h"
#include "devtool/frame_access.h"
#include "picture/frame.h"

namespace {

bool size_of(const std::string& w, const std::string& h, int* ow, int* oh) {
  long long a = 0, b = 0;
  if (!dev_parse_int(w.c_str(), &a) || !dev_parse_int(h.c_str(), &b) || a < 2 || b < 2 || a > 4096 || b > 4096 ||
      (a & 1) || (b & 1))
    return false;
  *ow = static_cast<int>(a);
  *oh = static_cast<int>(b);
  return true;
}

// The first 4:2:0 picture of a planar file into a new frame; null when the
// file holds no whole picture.
std::unique_ptr<Frame> read_picture(const std::string& path, int w, int h) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return nullptr;
  auto fr = std::make_unique<Frame>(w, h, 1, 0);
  const int cw = w / 2, ch = h / 2;
  bool ok = fr->buffer() != nullptr;
  auto plane = [&](uint8_t* d, int stride, int pw, int ph) {
    for (int y = 0; ok && y < ph; ++y) ok = std::fread(d + static_cast<size_t>(y) * stride, 1, size_t(pw), f) == size_t(pw);
  };
  if (ok) {
    plane(fr->y_plane(), fr->padded_width(), w, h);
    plane(fr->cb_plane(), fr->c_width(), cw, ch);
    plane(fr->cr_plane(), fr->c_width(), cw, ch);
  }
  std::fclose(f);
  return ok ? std::move(fr) : nullptr;
}

int op_of(const std::string& text) {
  long long v = 0;
  if (dev_parse_int(text.c_str(), &v)) return v < -1 || v > 1000000 ? -1 : static_cast<int>(v);
  for (int id = 0; id < effect_op_get_count(); ++id)
    if (text == effect_op_get_name(id)) return id;
  return -1;
}

int run_effect(int argc, char** argv) {
  const char* name = "effect";
  std::vector<std::string> pos;
  long long p1 = 0, p2 = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--p1" || a == "--p2") {
      if (i + 1 >= argc || !dev_parse_int(argv[i + 1], a == "--p1" ? &p1 : &p2) || (a == "--p1" ? p1 : p2) < -1000000 ||
          (a == "--p1" ? p1 : p2) > 1000000)
        return dev_usage(name, "%s takes a number", a.c_str());
      ++i;
    } else if (a.size() > 2 && a[0] == '-' && a[1] == '-') {
      return dev_usage(name, "unknown option %s", a.c_str());
    } else {
      pos.push_back(a);
    }
  }
  if (pos.size() != 9 && pos.size() != 12) return dev_usage(name, "wrong number of arguments");
  const int op = op_of(pos[0]);
  long long position = 0, length = 0;
  if (!dev_parse_int(pos[1].c_str(), &position) || !dev_parse_int(pos[2].c_str(), &length) || position < -1000000 ||
      position > 1000000 || length < 0 || length > 1000000)
    return dev_usage(name, "POSITION and LENGTH must be numbers of frames");
  int w = 0, h = 0, aw = 0, ah = 0, bw = 0, bh = 0;
  if (!size_of(pos[4], pos[5], &w, &h) || !size_of(pos[7], pos[8], &aw, &ah) ||
      (pos.size() == 12 && !size_of(pos[10], pos[11], &bw, &bh)))
    return dev_usage(name, "sizes must be even, 2..4096");
  auto a = read_picture(pos[6], aw, ah);
  if (!a) return dev_fail("<%s>: no whole %dx%d picture", pos[6].c_str(), aw, ah);
  std::unique_ptr<Frame> b;
  if (pos.size() == 12) {
    b = read_picture(pos[9], bw, bh);
    if (!b) return dev_fail("<%s>: no whole %dx%d picture", pos[9].c_str(), bw, bh);
  }
  Frame out(w, h, 1, 0);
  if (!out.buffer()) return dev_fail("no memory for a %dx%d picture", w, h);
  std::memset(out.y_plane(), 16, static_cast<size_t>(out.y_size()));
  std::memset(out.cb_plane(), 128, static_cast<size_t>(out.c_size()));
  std::memset(out.cr_plane(), 128, static_cast<size_t>(out.c_size()));
  Effect e;
  e.new_clip(op, static_cast<int>(length), static_cast<int>(p1), static_cast<int>(p2));
  const int result = e.effect(static_cast<int>(position), &out, a.get(), b.get());
  const EffectOp f = op >= 0 && op < effect_op_get_count() ? effect_op_get(op) : nullptr;
  const unsigned kind = f ? f(0, 0, nullptr, nullptr, nullptr, nullptr, 0, 0) : 1u;
  FILE* o = std::fopen(pos[3].c_str(), "wb");
  if (!o) return dev_fail("<%s>: cannot create", pos[3].c_str());
  bool ok = frame_write_planar(&out, o);
  ok = std::fclose(o) == 0 && ok;
  if (!ok) return dev_fail("<%s>: write failed", pos[3].c_str());
  std::printf("result=%d kind=%u\n", result, kind == 2 ? 2u : 1u);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(effect,
                   "OP POSITION LENGTH OUT.yuv WIDTH HEIGHT A.yuv A_WIDTH A_HEIGHT [B.yuv B_WIDTH B_HEIGHT] "
                   "[--p1 N] [--p2 N]",
                   "one picture of an effect operation from one or two planar 4:2:0 pictures", run_effect);

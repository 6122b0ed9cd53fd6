// me IN.yuv WIDTH HEIGHT [options]: motion estimation and macroblock
// decisions over planar frames, in the coded order of GOPs, estimated
// against the source frames.
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/raw_frame.h"
#include "encode/me_search.h"
#include "foundation/mpeg_fields.h"
#include "picture/frame.h"

namespace {

constexpr const char* kName = "me";

struct Options {
  RawFrameArgs size;
  int gop_n = 15, gop_m = 3;
  int range_h = -1, range_v = -1;
  long long mode = -1;
  int level = 2;
  bool no_half_pel = false, interlaced = false, mbs = false;
};

int parse(int argc, char** argv, Options* o) {
  if (argc < 4) return dev_bad_count(kName, argc);
  long long w, h;
  if (!dev_parse_int(argv[2], &w) || !dev_parse_int(argv[3], &h) || w < 1 || h < 1 || w > 4096 || h > 4096)
    return dev_usage(kName, "size %s x %s is not 1..4096 on each side", argv[2], argv[3]);
  if ((w | h) & 1) return dev_usage(kName, "size %lld x %lld is odd", w, h);
  o->size.width = static_cast<int>(w);
  o->size.height = static_cast<int>(h);
  for (int i = 4; i < argc; ++i) {
    const char* a = argv[i];
    auto need = [&](int k) { return i + k < argc; };
    long long v1, v2;
    if (!std::strcmp(a, "--chroma") && need(1)) {
      if (!dev_parse_chroma(argv[++i], &o->size.chroma)) return dev_usage(kName, "chroma '%s' is not 420 or 422", argv[i]);
    } else if (!std::strcmp(a, "--gop") && need(2)) {
      if (!dev_parse_int(argv[i + 1], &v1) || !dev_parse_int(argv[i + 2], &v2) || v1 < 1 || v2 < 1 || v1 > 1000 ||
          v2 > v1)
        return dev_usage(kName, "--gop %s %s: N 1..1000 and M 1..N", argv[i + 1], argv[i + 2]);
      o->gop_n = static_cast<int>(v1), o->gop_m = static_cast<int>(v2), i += 2;
    } else if (!std::strcmp(a, "--range") && need(2)) {
      if (!dev_parse_int(argv[i + 1], &v1) || !dev_parse_int(argv[i + 2], &v2) || v1 < 0 || v2 < 0 || v1 > 1024 ||
          v2 > 1024)
        return dev_usage(kName, "--range %s %s: 0..1024 each", argv[i + 1], argv[i + 2]);
      o->range_h = static_cast<int>(v1), o->range_v = static_cast<int>(v2), i += 2;
    } else if (!std::strcmp(a, "--mode") && need(1)) {
      char* end = nullptr;
      const char* t = argv[++i];
      const unsigned long m = std::strtoul(t, &end, 0);
      if (!*t || *end || m > 0xFF) return dev_usage(kName, "--mode '%s' is not a word 0..0xFF", t);
      o->mode = static_cast<long long>(m);
    } else if (!std::strcmp(a, "--level") && need(1)) {
      if (!dev_parse_int(argv[++i], &v1) || v1 < 1 || v1 > 15) return dev_usage(kName, "--level '%s' is not 1..15", argv[i]);
      o->level = static_cast<int>(v1);
    } else if (!std::strcmp(a, "--no-half-pel")) {
      o->no_half_pel = true;
    } else if (!std::strcmp(a, "--interlaced")) {
      o->interlaced = true;
    } else if (!std::strcmp(a, "--mbs")) {
      o->mbs = true;
    } else {
      return dev_usage(kName, "unknown or incomplete option '%s'", a);
    }
  }
  return 0;
}

// Loads frame k into a frame of the padded size, repeating the last column
// and line into the padding the coder's macroblock grid covers.
bool load(FILE* f, const Options& o, int k, Frame* frame, std::vector<uint8_t>& buf) {
  const size_t bytes = dev_raw_frame_bytes(o.size);
  if (std::fseek(f, static_cast<long>(bytes * static_cast<size_t>(k)), SEEK_SET) != 0) return false;
  if (std::fread(buf.data(), 1, bytes, f) != bytes) return false;
  const int w = o.size.width, h = o.size.height, pw = frame->padded_width(), ph = frame->padded_height();
  uint8_t* y = frame->y_plane();
  for (int r = 0; r < ph; ++r) {
    uint8_t* row = y + static_cast<size_t>(r) * pw;
    std::memcpy(row, buf.data() + static_cast<size_t>(std::min(r, h - 1)) * w, static_cast<size_t>(w));
    std::memset(row + w, row[w - 1], static_cast<size_t>(pw - w));
  }
  const int cw = w / 2, ch = o.size.chroma == 2 ? h : h / 2;
  for (int p = 0; p < 2; ++p) {
    uint8_t* plane = p ? frame->cr_plane() : frame->cb_plane();
    const uint8_t* src = buf.data() + static_cast<size_t>(w) * h + static_cast<size_t>(p) * cw * ch;
    for (int r = 0; r < ch && r < frame->c_height(); ++r)
      std::memcpy(plane + static_cast<size_t>(r) * frame->c_width(), src + static_cast<size_t>(r) * cw,
                  static_cast<size_t>(cw));
  }
  return true;
}

// Processor time of this thread: what the estimation costs, whatever else
// the machine runs.
long long thread_us() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

struct Picture {
  int n;     // display number
  char type; // I, P, B
  int fwd = -1, bwd = -1;
};

// Coded order: each reference, then the B pictures before it.
std::vector<Picture> coded_order(int frames, int n, int m) {
  std::vector<bool> is_ref(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) is_ref[static_cast<size_t>(i)] = i % n == 0 || (i % n) % m == 0;
  is_ref[static_cast<size_t>(frames - 1)] = true;  // nothing after it to predict from
  std::vector<Picture> out;
  int prev = -1;
  for (int i = 0; i < frames; ++i) {
    if (!is_ref[static_cast<size_t>(i)]) continue;
    out.push_back({i, i % n == 0 ? 'I' : 'P', i % n == 0 ? -1 : prev, -1});
    for (int b = prev + 1; b < i; ++b) out.push_back({b, 'B', prev, i});
    prev = i;
  }
  return out;
}

void print_mbs(const MESearch& me, const Picture& p, const MBInfo* mbi, int count) {
  for (int i = 0; i < count; ++i) {
    MBInfo m = mbi[i];
    const MECandidate none{};
    const MECandidate& f = p.type != 'I' && p.fwd >= 0 ? me.candidates_fwd[i] : none;
    const MECandidate& b = p.type == 'B' ? me.candidates_bwd[i] : none;
    const int cls = p.type == 'P' ? me.mv_class[i] : 0;
    std::printf(
        "mb n=%d i=%d type=%d motion=%d f0=%d,%d f1=%d,%d b0=%d,%d b1=%d,%d sel=%d,%d,%d,%d var=%d class=0x%02x "
        "cand=%d,%d,%d bcand=%d,%d,%d\n",
        p.n, i, m.mb_type, m.motion_type, mbi_mv(m, 0, 0, 0), mbi_mv(m, 0, 0, 1), mbi_mv(m, 1, 0, 0),
        mbi_mv(m, 1, 0, 1), mbi_mv(m, 0, 1, 0), mbi_mv(m, 0, 1, 1), mbi_mv(m, 1, 1, 0), mbi_mv(m, 1, 1, 1),
        mbi_field_sel(m, 0, 0), mbi_field_sel(m, 1, 0), mbi_field_sel(m, 0, 1), mbi_field_sel(m, 1, 1),
        mbi_variance(m), cls, f.x, f.y, f.cost, b.x, b.y, b.cost);
  }
}

int run_me(int argc, char** argv) {
  Options o;
  if (const int rc = parse(argc, argv, &o)) return rc;
  uint64_t have = 0;
  if (dev_input_readable(argv[1], &have)) return 1;
  const size_t bytes = dev_raw_frame_bytes(o.size);
  if (have < bytes || have % bytes != 0)
    return dev_fail("<%s>: %llu bytes are not whole %dx%d %d frames of %zu bytes", argv[1],
                    static_cast<unsigned long long>(have), o.size.width, o.size.height,
                    dev_chroma_notation(o.size.chroma), bytes);
  const int frames = static_cast<int>(have / bytes);
  int hr, vr;
  mpeg_get_search_range(o.size.width, o.size.height, &hr, &vr);
  if (o.range_h >= 0) hr = o.range_h, vr = o.range_v;
  const unsigned word = o.mode >= 0 ? static_cast<unsigned>(o.mode)
                                    : (o.interlaced ? kMEDefaultInterlaced : kMEDefaultProgressive);
  MESearch me(word);
  me.set_search_level(o.level);
  me.no_half_pel = o.no_half_pel;

  FILE* f = std::fopen(argv[1], "rb");
  if (!f) return dev_fail("<%s>: cannot open to read", argv[1]);
  std::vector<uint8_t> buf(bytes);
  std::vector<std::unique_ptr<Frame>> pics(static_cast<size_t>(frames));
  auto frame = [&](int k) -> Frame* {
    auto& p = pics[static_cast<size_t>(k)];
    if (!p) {
      p = std::make_unique<Frame>(o.size.width, o.size.height, o.size.chroma, 0);
      if (!p->buffer() || !load(f, o, k, p.get(), buf)) p.reset();
      if (p && o.interlaced) p->set_top_field_first(1), p->set_progressive_frame(0);
    }
    return p.get();
  };
  const int mbw = (o.size.width + 15) / 16, mbh = (o.size.height + 15) / 16;
  std::vector<MBInfo> mbi(static_cast<size_t>(mbw * mbh));
  long long total_us = 0;
  int count = 0, freed_below = 0;
  for (const Picture& p : coded_order(frames, o.gop_n, o.gop_m)) {
    Frame* cur = frame(p.n);
    Frame* fwd = p.fwd >= 0 ? frame(p.fwd) : nullptr;
    Frame* bwd = p.bwd >= 0 ? frame(p.bwd) : nullptr;
    if (!cur || (p.fwd >= 0 && !fwd) || (p.bwd >= 0 && !bwd)) {
      std::fclose(f);
      return dev_fail("<%s>: cannot read frame %d", argv[1], p.n);
    }
    const long long t0 = thread_us();
    int intra;
    if (p.type == 'I') {
      intra = me.motion_estimate_intra(cur, mbi.data());
    } else if (p.type == 'P') {
      const int d = p.n - p.fwd;
      intra = me.motion_estimate_p(cur, fwd, (d * hr) | 1, (d * vr) | 1, mbi.data());
    } else {
      const int df = p.n - p.fwd, db = p.bwd - p.n;
      intra = me.motion_estimate_b(cur, fwd, bwd, (df * hr) | 1, (df * vr) | 1, (db * hr) | 1, (db * vr) | 1,
                                   mbi.data(), 0);
    }
    const long long us = thread_us() - t0;
    total_us += us;
    ++count;
    if (o.mbs) print_mbs(me, p, mbi.data(), mbw * mbh);
    std::printf("pic n=%d type=%c cost=%d cost_bwd=%d intra=%d us=%lld\n", p.n, p.type, me.last_cost,
                me.last_cost_bwd, intra, us);
    // Pictures no later one refers to can go: B pictures at once, and at
    // each reference every picture before the reference before it.
    if (p.type == 'B') pics[static_cast<size_t>(p.n)].reset();
    if (p.type != 'B')
      for (; freed_below < p.fwd; ++freed_below) pics[static_cast<size_t>(freed_below)].reset();
  }
  std::fclose(f);
  std::printf("total pictures=%d us=%lld\n", count, total_us);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(me, "IN.yuv WIDTH HEIGHT [--chroma 420|422] [--gop N M] [--range H V] [--mode WORD] [--level L] "
                       "[--no-half-pel] [--interlaced] [--mbs]",
                   "motion estimation and macroblock decisions of planar frames in coded order", run_me);

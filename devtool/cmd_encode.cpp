// encode IN OUT [options]: codes YUV4MPEG2 or raw planar pictures as an
// MPEG-1/MPEG-2 video elementary stream (I, P and B pictures, or intra only).
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devtool/command.h"
#include "encode/enc_sequence.h"
#include "encode/enc_y4m.h"
#include "encode/encoder.h"
#include "foundation/mpeg_fields.h"

namespace {

const char kUsage[] =
    "IN OUT [--size WxH --rate R [--chroma 420|422]] [--mpeg 1|2] [--gop N M] [--closed-gop] [--intra-only] "
    "[--quant Q [--constant]] [--bit-rate BPS] [--vbv N] [--max-rate BPS] [--me-mode 0|1|2] [--two-stage] "
    "[--baseline] [--aspect CODE] [--profile-level HEX] [--q-scale-type 0|1] [--intra-vlc 0|1] "
    "[--alternate-scan 0|1] [--dc-precision 8-11] [--intra-matrix FILE] [--non-intra-matrix FILE] "
    "[--first-number N] [--drop-frame] [--user-data FILE] [--copy-b fwd|bwd] [--recon OUT.yuv] [--frames K]";

struct Options {
  std::string in, out, recon, intra_matrix, non_intra_matrix, user_data;
  int width = 0, height = 0, chroma = 1;
  std::string rate;
  int mpeg = 2, quant = 0, constant = 0, intra_only = 0;
  long long bit_rate = 0, vbv = 0, aspect = 0, profile_level = -1;
  int q_scale_type = -1, intra_vlc = -1, alternate_scan = -1, dc_precision = -1;
  long long first_number = 0, frames = -1;
  int drop_frame = 0, copy_b = 0;  // 1 fwd, 2 bwd
  int gop_n = 15, gop_m = 3, closed_gop = 0, me_mode = 0, two_stage = 0, baseline = 0;
  long long max_rate = 0;
};

bool rate_of(const std::string& text, int* num, int* den) {
  const size_t slash = text.find('/');
  long long a = 0, b = 1;
  if (slash != std::string::npos) {
    if (!dev_parse_int(text.substr(0, slash).c_str(), &a) || !dev_parse_int(text.substr(slash + 1).c_str(), &b))
      return false;
  } else if (text == "23.976") {
    a = 24000, b = 1001;
  } else if (text == "29.97") {
    a = 30000, b = 1001;
  } else if (text == "59.94") {
    a = 60000, b = 1001;
  } else if (!dev_parse_int(text.c_str(), &a)) {
    return false;
  }
  if (a <= 0 || b <= 0 || a > 1000000 || b > 1000000) return false;
  *num = static_cast<int>(a);
  *den = static_cast<int>(b);
  return true;
}

int frame_rate_code_of(int num, int den) {
  static const int rates[9][2] = {{0, 0},    {24000, 1001}, {24, 1},       {25, 1}, {30000, 1001},
                                  {30, 1},   {50, 1},       {60000, 1001}, {60, 1}};
  for (int c = 1; c <= 8; ++c)
    if (static_cast<long long>(num) * rates[c][1] == static_cast<long long>(den) * rates[c][0]) return c;
  return 0;
}

bool read_matrix(const std::string& path, uint8_t out[64]) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  int n = 0;
  long v = 0;
  while (n < 64 && std::fscanf(f, "%ld", &v) == 1) {
    if (v < 1 || v > 255) break;
    out[n++] = static_cast<uint8_t>(v);
  }
  char extra = 0;
  const bool more = std::fscanf(f, " %c", &extra) == 1;
  std::fclose(f);
  return n == 64 && !more;
}

bool read_all(const std::string& path, std::vector<uint8_t>* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// Picture into the padded frame: display area copied, the padding filled
// by repeating the last column and line.
void load_picture(Frame& fr, const uint8_t* src, int w, int h, int chroma) {
  const int cw = (w + 1) / 2, ch = chroma == 2 ? h : (h + 1) / 2;
  auto plane = [](uint8_t* dst, int stride, int rows, const uint8_t* s, int sw, int sh) {
    for (int y = 0; y < rows; ++y) {
      uint8_t* d = dst + static_cast<size_t>(y) * stride;
      if (y < sh) {
        std::memcpy(d, s + static_cast<size_t>(y) * sw, static_cast<size_t>(sw));
        std::memset(d + sw, d[sw - 1], static_cast<size_t>(stride - sw));
      } else {
        std::memcpy(d, d - stride, static_cast<size_t>(stride));
      }
    }
  };
  plane(fr.y_plane(), fr.padded_width(), fr.padded_height(), src, w, h);
  plane(fr.cb_plane(), fr.c_width(), fr.c_height(), src + static_cast<size_t>(w) * h, cw, ch);
  plane(fr.cr_plane(), fr.c_width(), fr.c_height(), src + static_cast<size_t>(w) * h + static_cast<size_t>(cw) * ch,
        cw, ch);
}

bool write_picture(FILE* f, const Frame& fr, int w, int h, int chroma) {
  const int cw = (w + 1) / 2, ch = chroma == 2 ? h : (h + 1) / 2;
  bool ok = true;
  for (int y = 0; y < h; ++y)
    ok &= std::fwrite(fr.y_plane() + static_cast<size_t>(y) * fr.padded_width(), 1, static_cast<size_t>(w), f) ==
          static_cast<size_t>(w);
  for (const uint8_t* p : {fr.cb_plane(), fr.cr_plane()})
    for (int y = 0; y < ch; ++y)
      ok &= std::fwrite(p + static_cast<size_t>(y) * fr.c_width(), 1, static_cast<size_t>(cw), f) ==
            static_cast<size_t>(cw);
  return ok;
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

double mean_quant(const Encoder& e) {
  double s = 0;
  for (const MBInfo& m : e.mbinfo) s += m.quantiser_scale;
  return e.mbinfo.empty() ? 0.0 : s / static_cast<double>(e.mbinfo.size());
}

int run_encode(int argc, char** argv) {
  const char* name = "encode";
  Options o;
  std::vector<std::string> pos;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](long long* out) {
      if (i + 1 >= argc || !dev_parse_int(argv[i + 1], out)) return false;
      ++i;
      return true;
    };
    auto text = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    long long v = 0;
    std::string t;
    if (a == "--size") {
      if (!text(&t) || std::sscanf(t.c_str(), "%dx%d", &o.width, &o.height) != 2)
        return dev_usage(name, "--size takes WxH");
    } else if (a == "--rate") {
      if (!text(&o.rate)) return dev_usage(name, "--rate takes a rate");
    } else if (a == "--chroma") {
      if (!text(&t) || !dev_parse_chroma(t.c_str(), &o.chroma)) return dev_usage(name, "--chroma takes 420 or 422");
    } else if (a == "--mpeg") {
      if (!value(&v) || (v != 1 && v != 2)) return dev_usage(name, "--mpeg takes 1 or 2");
      o.mpeg = static_cast<int>(v);
    } else if (a == "--intra-only") {
      o.intra_only = 1;
    } else if (a == "--quant") {
      if (!value(&v) || v < 1 || v > 31) return dev_usage(name, "--quant takes 1..31");
      o.quant = static_cast<int>(v);
    } else if (a == "--constant") {
      o.constant = 1;
    } else if (a == "--bit-rate") {
      if (!value(&o.bit_rate) || o.bit_rate < 400 || o.bit_rate > 1000000000) return dev_usage(name, "bad --bit-rate");
    } else if (a == "--vbv") {
      if (!value(&o.vbv) || o.vbv < 1 || o.vbv > 262143) return dev_usage(name, "bad --vbv");
    } else if (a == "--aspect") {
      if (!value(&o.aspect) || o.aspect < 1 || o.aspect > 14) return dev_usage(name, "bad --aspect");
    } else if (a == "--profile-level") {
      if (!text(&t)) return dev_usage(name, "--profile-level takes a hex byte");
      char* end = nullptr;
      o.profile_level = std::strtol(t.c_str(), &end, 16);
      if (!end || *end || o.profile_level < 0 || o.profile_level > 255) return dev_usage(name, "bad --profile-level");
    } else if (a == "--q-scale-type" || a == "--intra-vlc" || a == "--alternate-scan") {
      if (!value(&v) || (v != 0 && v != 1)) return dev_usage(name, "%s takes 0 or 1", a.c_str());
      (a == "--q-scale-type" ? o.q_scale_type : a == "--intra-vlc" ? o.intra_vlc : o.alternate_scan) =
          static_cast<int>(v);
    } else if (a == "--dc-precision") {
      if (!value(&v) || v < 8 || v > 11) return dev_usage(name, "--dc-precision takes 8..11");
      o.dc_precision = static_cast<int>(v) - 8;
    } else if (a == "--intra-matrix") {
      if (!text(&o.intra_matrix)) return dev_usage(name, "--intra-matrix takes a file");
    } else if (a == "--non-intra-matrix") {
      if (!text(&o.non_intra_matrix)) return dev_usage(name, "--non-intra-matrix takes a file");
    } else if (a == "--first-number") {
      if (!value(&o.first_number) || o.first_number < 0 || o.first_number > 100000000)
        return dev_usage(name, "bad --first-number");
    } else if (a == "--drop-frame") {
      o.drop_frame = 1;
    } else if (a == "--user-data") {
      if (!text(&o.user_data)) return dev_usage(name, "--user-data takes a file");
    } else if (a == "--copy-b") {
      if (!text(&t) || (t != "fwd" && t != "bwd")) return dev_usage(name, "--copy-b takes fwd or bwd");
      o.copy_b = t == "fwd" ? 1 : 2;
    } else if (a == "--gop") {
      long long m = 0;
      if (!value(&v) || v < 1 || v > 1000 || !value(&m) || m < 1 || m > 8 || m > v)
        return dev_usage(name, "--gop takes N 1..1000 and M 1..8 (M <= N)");
      o.gop_n = static_cast<int>(v);
      o.gop_m = static_cast<int>(m);
    } else if (a == "--closed-gop") {
      o.closed_gop = 1;
    } else if (a == "--max-rate") {
      if (!value(&o.max_rate) || o.max_rate < 400 || o.max_rate > 1000000000) return dev_usage(name, "bad --max-rate");
    } else if (a == "--me-mode") {
      if (!value(&v) || v < 0 || v > 2) return dev_usage(name, "--me-mode takes 0, 1 or 2");
      o.me_mode = static_cast<int>(v);
    } else if (a == "--two-stage") {
      o.two_stage = 1;
    } else if (a == "--baseline") {
      o.baseline = 1;
    } else if (a == "--recon") {
      if (!text(&o.recon)) return dev_usage(name, "--recon takes a file");
    } else if (a == "--frames") {
      if (!value(&o.frames) || o.frames < 0) return dev_usage(name, "bad --frames");
    } else if (a.size() > 1 && a[0] == '-') {
      return dev_usage(name, "unknown option %s", a.c_str());
    } else {
      pos.push_back(a);
    }
  }
  if (pos.size() != 2) return dev_usage(name, "IN and OUT are needed");
  o.in = pos[0];
  o.out = pos[1];
  if (o.constant && !o.quant) return dev_usage(name, "--constant needs --quant Q");
  if (o.max_rate && !o.quant) return dev_usage(name, "--max-rate needs --quant Q");
  if (o.copy_b && !o.intra_only) return dev_usage(name, "--copy-b needs --intra-only");
  if (o.intra_only && !o.quant) return dev_usage(name, "--intra-only needs --quant Q");
  if (o.mpeg == 1 && (o.q_scale_type > 0 || o.intra_vlc > 0 || o.alternate_scan > 0 || o.dc_precision > 0))
    return dev_usage(name, "--q-scale-type, --intra-vlc, --alternate-scan and --dc-precision need --mpeg 2");
  if (same_file(o.in, o.out) || (!o.recon.empty() && (same_file(o.in, o.recon) || same_file(o.out, o.recon))))
    return dev_fail("<%s>: an output may not be the input", o.out.c_str());

  FILE* in = std::fopen(o.in.c_str(), "rb");
  if (!in) return dev_fail("<%s>: cannot open", o.in.c_str());
  std::unique_ptr<FILE, int (*)(FILE*)> in_guard(in, std::fclose);
  Y4mHeader h;
  const bool y4m = o.width == 0;
  if (y4m) {
    std::vector<uint8_t> head(4096);
    const size_t n = std::fread(head.data(), 1, head.size(), in);
    if (!y4m_parse_header(head.data(), n, &h)) return dev_fail("<%s>: not a usable YUV4MPEG2 file", o.in.c_str());
    std::fseek(in, static_cast<long>(h.header_bytes), SEEK_SET);
    if (!o.rate.empty() && !rate_of(o.rate, &h.rate_num, &h.rate_den)) return dev_usage(name, "bad --rate");
  } else {
    if (o.width < 16 || o.height < 16 || o.width > 4096 || o.height > 4096 || (o.width & 1) || (o.height & 1))
      return dev_usage(name, "bad --size");
    if (o.rate.empty() || !rate_of(o.rate, &h.rate_num, &h.rate_den)) return dev_usage(name, "raw input needs --rate");
    h.width = o.width;
    h.height = o.height;
    h.chroma_format = o.chroma;
  }
  if (h.rate_num == 0) h.rate_num = 25, h.rate_den = 1;
  const int frc = frame_rate_code_of(h.rate_num, h.rate_den);
  if (!frc) return dev_fail("frame rate %d/%d has no MPEG code", h.rate_num, h.rate_den);
  if ((h.width & 1) || (h.height & 1)) return dev_fail("picture size %dx%d is not even", h.width, h.height);
  if (o.mpeg == 1 && h.chroma_format != 1) return dev_fail("MPEG-1 holds 4:2:0 only");
  if (o.drop_frame && frc != 4) return dev_usage(name, "--drop-frame needs 29.97 pictures per second");
  const bool interlaced = o.mpeg == 2 && (h.interlace == 't' || h.interlace == 'b');

  SeqHdr seq;
  seq.setup(h.width, h.height, 0, 0.0, o.mpeg == 2);
  seq.frame_rate_code = frc;
  if (o.mpeg == 2) {
    if (h.chroma_format == 2) seq.set_chroma_format(2);
    int pl = o.profile_level;
    if (pl < 0) {
      const int lvl = h.width <= 720 && h.height <= 576 && frc <= 5 ? 8 : h.width <= 1440 ? 6 : 4;
      pl = (h.chroma_format == 2 ? 0x10 : 0x40) | lvl;
    }
    seq.seq_ext->profile_and_level_indication = pl;
  }
  const int level = seq.seq_ext ? seq.seq_ext->profile_and_level_indication & 15 : 0;
  long long bps = o.bit_rate;
  if (!bps) bps = o.mpeg == 1 ? (h.width <= 352 && h.height <= 288 ? 1150000 : 8000000)
                  : level == 4 ? 80000000 : level == 6 ? 60000000 : level == 10 ? 4000000 : 15000000;
  seq.set_bit_rate(static_cast<int>(bps));
  seq.vbv_buffer_size = static_cast<int>(o.vbv ? o.vbv : o.mpeg == 1 ? (bps <= 1152000 ? 20 : 112)
                                                        : level == 4 ? 597 : level == 6 ? 448 : level == 10 ? 29 : 112);
  if (o.aspect) seq.aspect_ratio_information = static_cast<int>(o.aspect);
  else seq.aspect_ratio_information = o.mpeg == 1 ? 1 : 2;

  RecordVideoSetup params;
  params.mpeg1 = o.mpeg == 1;
  params.gop_size = o.intra_only ? 1 : o.gop_n;
  params.ref_distance = o.intra_only ? 0 : o.gop_m;
  params.fixed_mquant = o.quant;
  params.fixed_mq_max_bit_rate = o.max_rate ? static_cast<int>(o.max_rate) : o.constant ? static_cast<int>(bps) : 0;
  params.me_mode = o.me_mode;
  params.progressive = !interlaced;
  params.drop_frame = o.drop_frame;
  params.seqhdr = &seq;
  params.constant_mquant = o.constant;
  int result = 1;
  Encoder enc(params, &result);
  if (result) return dev_fail("encoder set-up failed for %dx%d", h.width, h.height);
  enc.baseline = o.baseline;
  if (o.mpeg == 2) {
    for (int i = 0; i < 3; ++i) {
      if (o.q_scale_type >= 0) enc.q_scale_type[i] = o.q_scale_type;
      if (o.alternate_scan >= 0) enc.alternate_scan[i] = o.alternate_scan;
    }
    if (o.intra_vlc >= 0) enc.intra_vlc_format[0] = o.intra_vlc;
    if (o.dc_precision >= 0) enc.pichdr->coding_ext->intra_dc_precision = o.dc_precision;
  }
  uint8_t m[64];
  if (!o.intra_matrix.empty() && (!read_matrix(o.intra_matrix, m) || m[0] != 8 || enc.load_intra_matrix(m)))
    return dev_fail("<%s>: not 64 matrix entries 1..255 (intra DC entry 8)", o.intra_matrix.c_str());
  if (!o.non_intra_matrix.empty() && (!read_matrix(o.non_intra_matrix, m) || enc.load_non_intra_matrix(m)))
    return dev_fail("<%s>: not 64 matrix entries 1..255", o.non_intra_matrix.c_str());
  if (o.drop_frame && !enc.set_drop_frame_flag(1)) return dev_fail("drop-frame time codes refused");
  if (!o.user_data.empty()) {
    std::vector<uint8_t> ud;
    if (!read_all(o.user_data, &ud) || enc.set_user_data(ud.data(), static_cast<int>(ud.size())))
      return dev_fail("<%s>: user data must start 00 00 01 B2 and hold no other start code", o.user_data.c_str());
  }

  FILE* out = std::fopen(o.out.c_str(), "wb");
  if (!out) return dev_fail("<%s>: cannot create", o.out.c_str());
  std::unique_ptr<FILE, int (*)(FILE*)> out_guard(out, std::fclose);
  FILE* rec = nullptr;
  std::unique_ptr<FILE, int (*)(FILE*)> rec_guard(nullptr, std::fclose);
  if (!o.recon.empty()) {
    rec = std::fopen(o.recon.c_str(), "wb");
    if (!rec) return dev_fail("<%s>: cannot create", o.recon.c_str());
    rec_guard.reset(rec);
  }
  Frame cur(h.width, h.height, h.chroma_format, interlaced ? 1 : 0);
  if (cur.padded_width() != enc.width || cur.padded_height() != enc.height)
    return dev_fail("frame buffer %dx%d does not match the coded size %dx%d", cur.padded_width(),
                    cur.padded_height(), enc.width, enc.height);
  Frame prev(h.width, h.height, h.chroma_format, interlaced ? 1 : 0);
  std::vector<uint8_t> pic(h.frame_bytes());
  std::vector<uint8_t> obuf(static_cast<size_t>(enc.width) * enc.height * 4 + 65536);
  long long pictures = 0, total = 0, coded_frames = 0;
  bool ok = true;
  auto emit = [&](size_t n) { ok &= std::fwrite(obuf.data(), 1, n, out) == n; };
  // 1 with the next picture in `cur`, 0 at the end, -1 on a damaged input.
  auto next_picture = [&]() {
    if (o.frames >= 0 && coded_frames >= o.frames) return 0;
    if (y4m) {
      char line[128];
      if (!std::fgets(line, sizeof line, in)) return 0;
      if (std::strncmp(line, "FRAME", 5) != 0 || !std::strchr(line, '\n')) {
        dev_fail("<%s>: bad frame header at picture %lld", o.in.c_str(), coded_frames);
        return -1;
      }
    }
    const size_t got = std::fread(pic.data(), 1, pic.size(), in);
    if (got == 0 && !y4m) return 0;
    if (got != pic.size()) {
      dev_fail("<%s>: truncated picture %lld", o.in.c_str(), coded_frames);
      return -1;
    }
    load_picture(cur, pic.data(), h.width, h.height, h.chroma_format);
    cur.set_top_field_first(h.interlace != 'b');
    cur.set_progressive_frame(interlaced ? 0 : 1);
    return 1;
  };
  auto print_picture = [&](long long number, int type, long long bytes) {
    int intra = 0, skipped = 0, field_mc = 0, field_dct = 0;
    for (const MBInfo& r : enc.mbinfo) {
      intra += (r.mb_type & 1) != 0;
      skipped += r.skipped != 0;
      field_mc += !(r.mb_type & 1) && !r.skipped && r.motion_type == 1;
      field_dct += !r.skipped && ((r.mb_type & 1) || r.cbp) && r.dct_type == 1;
    }
    std::printf("pic n=%lld type=%c bytes=%lld mquant=%.2f vbv_delay=%d intra=%d skipped=%d field_mc=%d field_dct=%d\n",
                number, "?IPB"[type & 3], bytes, mean_quant(enc), enc.pichdr->vbv_delay, intra, skipped, field_mc,
                field_dct);
  };
  auto finish_run = [&]() {
    ok &= std::fflush(out) == 0;
    if (rec) ok &= std::fflush(rec) == 0;
    if (std::fclose(out_guard.release()) != 0) ok = false;
    if (rec && std::fclose(rec_guard.release()) != 0) ok = false;
    if (!ok) return dev_fail("<%s>: write failed", o.out.c_str());
    const double seconds = static_cast<double>(pictures) * h.rate_den / h.rate_num;
    std::printf("total pictures=%lld bytes=%lld seconds=%.3f bit_rate=%lld stuffing=%d\n", pictures, total, seconds,
                seconds > 0 ? std::llround(8.0 * static_cast<double>(total) / seconds) : 0LL, enc.rc.stuffing_total);
    return 0;
  };
  if (!o.intra_only) {
    // Reconstructions leave in display order: a reference waits for the next.
    Frame held(h.width, h.height, h.chroma_format, interlaced ? 1 : 0);
    bool holding = false;
    const int first = static_cast<int>(o.first_number);
    SequenceEncoder seq_enc(enc, o.gop_n, o.gop_m, o.closed_gop != 0, o.two_stage != 0, [&](const CodedPicture& p) {
      ok &= std::fwrite(p.data, 1, p.size, out) == p.size;
      total += static_cast<long long>(p.size);
      if (!p.type) {
        if (rec && holding) ok &= write_picture(rec, held, h.width, h.height, h.chroma_format);
        return ok;
      }
      ++pictures;
      print_picture(p.number, p.type, static_cast<long long>(p.size));
      if (rec) {
        if (p.type == PIC_TYPE_B) {
          ok &= write_picture(rec, *enc.recon, h.width, h.height, h.chroma_format);
        } else {
          if (holding) ok &= write_picture(rec, held, h.width, h.height, h.chroma_format);
          std::memcpy(held.buffer(), enc.recon->buffer(), static_cast<size_t>(held.y_size() + 2 * held.c_size()));
          holding = true;
        }
      }
      return ok;
    });
    for (;;) {
      const int got = next_picture();
      if (got < 0) return 1;
      if (got == 0) break;
      cur.set_stream_frame(first + static_cast<int>(coded_frames));
      ++coded_frames;
      if (!seq_enc.push(cur)) {
        if (!ok) return dev_fail("<%s>: write failed", o.out.c_str());
        return dev_fail("picture %lld could not be coded", coded_frames - 1);
      }
    }
    if (!seq_enc.finish()) return dev_fail("<%s>: write failed", o.out.c_str());
    return finish_run();
  }
  for (;;) {
    const int got = next_picture();
    if (got < 0) return 1;
    if (got == 0) break;
    const bool with_b = o.copy_b && coded_frames > 0;
    const long long number = o.first_number + (o.copy_b ? 2 * coded_frames : coded_frames);
    // With a copying B picture in front, the GOP starts at the B picture.
    cur.set_stream_frame(static_cast<int>(with_b ? number - 1 : number));
    enc.closed_gop = with_b ? 0 : 1;
    enc.pichdr->temporal_reference = with_b ? 1 : 0;
    BitWriter bw(obuf.data(), obuf.size());
    const int bytes = enc.encode_picture(&cur, nullptr, nullptr, PIC_TYPE_I, 0, bw, 0, nullptr, 1);
    if (bytes <= 0) return dev_fail("picture %lld could not be coded", number);
    emit(static_cast<size_t>(bw.flush()));
    print_picture(number, PIC_TYPE_I, bytes);
    total += bytes;
    ++pictures;
    if (with_b) {
      BitWriter bb(obuf.data(), obuf.size());
      enc.pichdr->temporal_reference = 0;
      const int bbytes = enc.vlc_picture_mbi(o.copy_b == 1, &cur, bb);
      if (bb.overflow() || bbytes <= 0) return dev_fail("copying picture %lld could not be coded", number - 1);
      emit(static_cast<size_t>(bb.flush()));
      print_picture(number - 1, PIC_TYPE_B, bbytes);
      total += bbytes;
      ++pictures;
      if (rec) ok &= write_picture(rec, o.copy_b == 1 ? prev : *enc.recon, h.width, h.height, h.chroma_format);
    }
    if (rec) ok &= write_picture(rec, *enc.recon, h.width, h.height, h.chroma_format);
    std::memcpy(prev.buffer(), enc.recon->buffer(), static_cast<size_t>(prev.y_size() + 2 * prev.c_size()));
    ++coded_frames;
    if (!ok) break;
  }
  const uint8_t end_code[4] = {0, 0, 1, 0xB7};
  ok &= std::fwrite(end_code, 1, 4, out) == 4;
  total += 4;
  return finish_run();
}

}  // namespace

TAMSEL_DEV_COMMAND(encode, kUsage, "YUV4MPEG2 or raw pictures as an MPEG video elementary stream",
                   run_encode);

// reencode IN OUT [--gops FIRST:COUNT] [--decisions source|search]
// [--quant source|Q]: decodes a video elementary stream and codes its
// pictures again, each with its own type, the source's matrices and coding
// settings, its macroblock decisions and (by default) its own mean
// quantiser as a constant quantiser.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "decode/picdec.h"
#include "decode/picdec_bits.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "encode/encoder.h"
#include "foundation/mapped_file.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/utils.h"

namespace {

const char kName[] = "reencode";

// One coded picture (a field pair counts as one) of the source.
struct SourcePicture {
  int64_t chunk = 0;  // first header byte that belongs to it (sequence/GOP headers before it)
  int64_t at = 0;     // its picture start code
  int64_t end = 0;    // the next boundary after it
  int type = 0;
  int frame_picture = 1;
  int gop = 0;        // source GOP index
  int closed = 0;     // its GOP header's closed_gop flag
  long long number = 0;  // display number
};

bool boundary(int code) { return code == 0x100 || code == 0x1B3 || code == 0x1B7 || code == 0x1B8; }

int64_t next_boundary(const uint8_t* data, int64_t size, int64_t from) {
  while (from + 4 <= size) {
    int code = 0;
    const int64_t k = utils_next_start_code(data + from, size - from, &code);
    if (!code) return size;
    if (boundary(code)) return from + k;
    from += k + 4;
  }
  return size;
}

// The pictures of the stream with their display numbers: a GOP header (or,
// in a stream without any, an I picture) starts a GOP whose pictures count
// from the pictures of the GOPs before it.
std::vector<SourcePicture> list_pictures(const uint8_t* data, int64_t size, int64_t from) {
  std::vector<SourcePicture> out;
  bool any_gop = false;
  for (int64_t p = from; p + 4 <= size;) {
    int code = 0;
    const int64_t k = utils_next_start_code(data + p, size - p, &code);
    if (!code) break;
    any_gop |= code == 0x1B8;
    p += k + 4;
  }
  int gop = -1, closed = 0;
  long long base = 0, in_gop = 0, max_tr = -1;
  int64_t chunk = -1;
  for (int64_t p = from; p + 4 <= size;) {
    int code = 0;
    const int64_t k = utils_next_start_code(data + p, size - p, &code);
    if (!code) break;
    const int64_t at = p + k;
    if (code == 0x1B3 || code == 0x1B8) {
      if (chunk < 0) chunk = at;
      if (code == 0x1B8) {
        base += std::max(in_gop, max_tr + 1);
        in_gop = 0;
        max_tr = -1;
        ++gop;
        closed = at + 7 < size ? (data[at + 7] >> 6) & 1 : 0;
      }
      p = at + 4;
      continue;
    }
    if (code != 0x100) {
      p = at + 4;
      continue;
    }
    PicHdr h;
    SourcePicture s;
    s.chunk = chunk >= 0 ? chunk : at;
    s.at = at;
    chunk = -1;
    const bool ok = h.decode(data + at, static_cast<int>(std::min<int64_t>(size - at, 1 << 30))) > 0;
    s.type = ok ? h.picture_coding_type : 0;
    s.end = next_boundary(data, size, at + 4);
    if (ok && h.mpeg2 && h.coding_ext && h.get_picture_structure() != 3) {
      s.frame_picture = 0;
      // The second field belongs to the same frame.
      int next = 0;
      if (s.end + 4 <= size) (void)utils_next_start_code(data + s.end, 4, &next);
      if (next == 0x100) s.end = next_boundary(data, size, s.end + 4);
    }
    if (!any_gop && s.type == 1) {
      base += std::max(in_gop, max_tr + 1);
      in_gop = 0;
      max_tr = -1;
      ++gop;
      closed = 0;
    }
    const int tr = ok ? h.temporal_reference : static_cast<int>(in_gop);
    s.gop = std::max(gop, 0);
    s.closed = closed;
    s.number = base + tr;
    max_tr = std::max<long long>(max_tr, tr);
    ++in_gop;
    out.push_back(s);
    p = std::max(s.end, at + 4);
  }
  return out;
}

double mean_quant(const Encoder& e) {
  double s = 0;
  for (const MBInfo& m : e.mbinfo) s += m.quantiser_scale;
  return e.mbinfo.empty() ? 0.0 : s / static_cast<double>(e.mbinfo.size());
}

int run_reencode(int argc, char** argv) {
  std::vector<std::string> pos;
  long long first_gop = 0, gop_count = -1;
  bool search = false;
  int fixed_code = 0;  // 0: each picture's own mean quantiser
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--gops") {
      long long f = 0, c = 0;
      const char* v = i + 1 < argc ? argv[++i] : "";
      const char* colon = std::strchr(v, ':');
      if (!colon || !dev_parse_int(std::string(v, colon).c_str(), &f) || !dev_parse_int(colon + 1, &c) || f < 0 ||
          c < 1)
        return dev_usage(kName, "--gops takes FIRST:COUNT (FIRST from 0, COUNT from 1)");
      first_gop = f;
      gop_count = c;
    } else if (a == "--decisions") {
      const std::string v = i + 1 < argc ? argv[++i] : "";
      if (v != "source" && v != "search") return dev_usage(kName, "--decisions takes source or search");
      search = v == "search";
    } else if (a == "--quant") {
      const std::string v = i + 1 < argc ? argv[++i] : "";
      long long q = 0;
      if (v == "source") q = 0;
      else if (!dev_parse_int(v.c_str(), &q) || q < 1 || q > 31) return dev_usage(kName, "--quant takes source or 1..31");
      fixed_code = static_cast<int>(q);
    } else if (a.size() > 1 && a[0] == '-') {
      return dev_usage(kName, "unknown option %s", a.c_str());
    } else {
      pos.push_back(a);
    }
  }
  if (pos.size() != 2) return dev_usage(kName, "IN and OUT are needed");
  const char* in_name = pos[0].c_str();
  const char* out_name = pos[1].c_str();
  if (dev_input_of(in_name, {InputKind::video}, "a video elementary stream", true)) return 1;
  if (dev_same_file(in_name, out_name)) return dev_fail("<%s>: the output may not be the input", out_name);
  int error = 0;
  MappedFile in;
  if (!in.open(in_name, MB_READER_PADDING, &error)) return dev_fail("<%s>: %s", in_name, std::strerror(error));
  if (in.size() > (1ull << 31) - 64) return dev_fail("<%s>: larger than 2 GB", in_name);
  const uint8_t* data = in.data();
  const int64_t size = static_cast<int64_t>(in.size());
  SeqHdr seq;
  uint32_t code = 0;
  const int64_t first_seq = utils_next_usr_start_code(0x1B3, data, size, &code);
  if (code != 0x1B3 || !seq.decode(data + first_seq, static_cast<int>(size - first_seq)))
    return dev_fail("<%s>: no sequence header", in_name);
  if (!mpeg_picture_size_ok(seq.get_horizontal_size(), seq.get_vertical_size()) ||
      (seq.get_chroma_format() != 1 && seq.get_chroma_format() != 2))
    return dev_fail("<%s>: picture size %d x %d or chroma format not codable", in_name, seq.get_horizontal_size(),
                    seq.get_vertical_size());
  const std::vector<SourcePicture> pics = list_pictures(data, size, first_seq);

  // GOP shape of the source: the largest reference distance and GOP length.
  int m = 1, n = 1;
  {
    long long last_ref = -1;
    int run = 0, gop = -1;
    for (const SourcePicture& s : pics) {
      if (s.type == 1 || s.type == 2) {
        if (last_ref >= 0) m = static_cast<int>(std::clamp<long long>(std::max<long long>(m, s.number - last_ref), 1, 8));
        last_ref = s.number;
      }
      if (s.gop != gop) gop = s.gop, run = 0;
      n = std::max(n, ++run);
    }
  }
  RecordVideoSetup params;
  params.mpeg1 = seq.mpeg2 ? 0 : 1;
  params.gop_size = std::min(n, 1000);
  params.ref_distance = m;
  params.fixed_mquant = fixed_code ? fixed_code : 8;  // constant quantiser: no buffer model
  params.constant_mquant = 1;
  params.progressive = seq.mpeg2 ? seq.get_progressive_sequence() : 1;
  params.seqhdr = &seq;
  int result = 1;
  Encoder enc(params, &result);
  if (result) return dev_fail("encoder set-up failed for %dx%d", seq.get_horizontal_size(), seq.get_vertical_size());
  if (enc.set_quant_matrices(&seq)) return dev_fail("<%s>: the source's matrices were refused", in_name);

  FILE* out = dev_open_output(out_name);
  if (!out) return 1;
  std::unique_ptr<FILE, int (*)(FILE*)> out_guard(out, std::fclose);

  PicDecoder dec(&seq);
  dec.set_input_padding(MB_READER_PADDING);
  dec.enable_mb_info(1);
  const int chroma = seq.get_chroma_format() == 2 ? 2 : 1;
  const int round32 = seq.mpeg2 && !seq.get_progressive_sequence();
  auto new_frame = [&]() {
    return std::make_unique<Frame>(seq.get_horizontal_size(), seq.get_vertical_size(), chroma, round32);
  };
  std::unique_ptr<Frame> older, newer, spare;
  std::vector<uint8_t> obuf(static_cast<size_t>(enc.width) * enc.height * 4 + 65536);
  long long pictures = 0, src_total = 0, total = 0;
  bool ok = true, started = false;
  long long gop_first = 0;
  int run_closed = 0;
  const long long last_gop = gop_count < 0 ? (1LL << 40) : first_gop + gop_count;
  for (size_t k = 0; k < pics.size() && ok; ++k) {
    const SourcePicture& s = pics[k];
    if (s.gop >= last_gop) break;
    const int ptype = s.type >= 1 && s.type <= 3 ? s.type : 1;
    std::unique_ptr<Frame> target = spare ? std::move(spare) : new_frame();
    Frame* fwd = ptype == 3 ? (older ? older.get() : newer.get()) : ptype == 2 ? newer.get() : nullptr;
    Frame* bwd = ptype == 3 ? newer.get() : nullptr;
    const int used = dec.decode_picture(data + s.chunk, static_cast<int>(s.end - s.chunk), target.get(), fwd, bwd);
    if (used <= 0) {  // damaged beyond decoding: nothing to code again
      spare = std::move(target);
      continue;
    }
    const PicHdr& ph = dec.get_picture_header();
    const bool wanted = s.gop >= first_gop && (started || ptype == 1);
    if (wanted) {
      if (ptype == 1) {
        // Our GOP starts at this I picture with the B pictures after it.
        gop_first = s.number;
        int np = 0, nb = 0;
        for (size_t j = k + 1; j < pics.size() && pics[j].type != 1; ++j) {
          if (pics[j].type == 3 && np == 0) gop_first = std::min(gop_first, pics[j].number);
          (pics[j].type == 3 ? nb : np) += 1;
        }
        // The first GOP coded has nothing before it: its leading B pictures look back only.
        run_closed = s.closed || !started ? 1 : 0;
        enc.rc_init_gop(np, nb, 0.0);
        started = true;
      }
      enc.closed_gop = ptype == 1 || ptype == 3 ? run_closed : 0;
      if (ptype == 2) run_closed = 0;
      enc.copy_picture_coding_ext(&ph);
      target->set_stream_frame(static_cast<int>(ptype == 1 ? gop_first : s.number));
      enc.pichdr->temporal_reference = static_cast<int>((s.number - gop_first) & 1023);
      const double value = dec.get_mean_quant() * (seq.mpeg2 ? 1.0 : 2.0);
      enc.fixed_mquant = fixed_code ? fixed_code : enc.quant_code_of_value(value, ptype);
      const bool own = !search && s.frame_picture && dec.get_mb_info() && dec.get_mb_cols() == enc.mb_width;
      Frame* sf = ptype == 3 ? (older ? older.get() : newer.get()) : ptype == 2 ? newer.get() : nullptr;
      Frame* sb = ptype == 3 ? newer.get() : nullptr;
      const int distance = ptype == 3 && sf ? static_cast<int>(std::clamp<long long>(s.number - sf->stream_frame(), 1, 8)) : 1;
      BitWriter bw(obuf.data(), obuf.size());
      const int bytes = enc.encode_picture(target.get(), sf, sb, ptype, distance, bw, 0,
                                           own ? dec.get_mb_info() : nullptr, own ? dec.get_mb_count() : 0, 1);
      if (bytes > 0) {
        const size_t nb = bw.flush();
        ok &= std::fwrite(obuf.data(), 1, nb, out) == nb;
        total += static_cast<long long>(nb);
        src_total += s.end - s.chunk;
        ++pictures;
        std::printf("pic n=%lld type=%c src_bytes=%lld bytes=%zu mquant=%.2f\n", s.number, "?IPB"[ptype],
                    static_cast<long long>(s.end - s.chunk), nb, mean_quant(enc));
      } else {
        std::fprintf(stderr, "%s: picture %lld could not be coded again\n", kName, s.number);
        if (ptype == 1) started = false;
      }
    }
    // References in decoding order; their display numbers for B distances.
    target->set_stream_frame(static_cast<int>(s.number));
    if (ptype == 3) {
      spare = std::move(target);
    } else {
      spare = std::move(older);
      older = std::move(newer);
      newer = std::move(target);
    }
  }
  if (pictures) {
    static const uint8_t kEnd[4] = {0, 0, 1, 0xB7};
    ok &= std::fwrite(kEnd, 1, 4, out) == 4;
    total += 4;
  }
  ok &= std::fflush(out) == 0;
  if (std::fclose(out_guard.release()) != 0) ok = false;
  if (in.shrunk()) return dev_fail("<%s>: the file shrank while it was read", in_name);
  if (!ok) return dev_fail("<%s>: write failed", out_name);
  std::printf("total pictures=%lld src_bytes=%lld bytes=%lld\n", pictures, src_total, total);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(reencode, "IN OUT [--gops FIRST:COUNT] [--decisions source|search] [--quant source|Q]",
                   "codes every picture of a video elementary stream again with its own type, settings and decisions",
                   run_reencode);

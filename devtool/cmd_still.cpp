// Still output: snapshot (one frame of a clip as BMP or JPEG) and still-seq
// (planar pictures as an MPEG video stream of intra pictures).
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "access/dtv.h"
#include "devtool/command.h"
#include "devtool/frame_access.h"
#include "encode/encoder.h"
#include "encode/image_sequence.h"
#include "picture/frame.h"

namespace {

bool ends_with(const std::string& s, const char* tail) {
  const std::string t = tail;
  if (s.size() < t.size()) return false;
  for (size_t i = 0; i < t.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - t.size() + i])) != t[i]) return false;
  return true;
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int run_snapshot(int argc, char** argv) {
  const char* name = "snapshot";
  std::vector<std::string> pos;
  long long quality = 90;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quality") {
      if (i + 1 >= argc || !dev_parse_int(argv[i + 1], &quality) || quality < 1 || quality > 100)
        return dev_usage(name, "--quality takes 1..100");
      ++i;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return dev_usage(name, "unknown option %s", a.c_str());
    } else {
      pos.push_back(a);
    }
  }
  if (pos.size() != 3) return dev_usage(name, "FILE, FRAME and OUT are needed");
  long long n = 0;
  if (!dev_parse_int(pos[1].c_str(), &n) || n < 0) return dev_usage(name, "FRAME '%s' is not a frame", pos[1].c_str());
  const std::string& out = pos[2];
  const bool jpeg = ends_with(out, ".jpg") || ends_with(out, ".jpeg");
  if (!jpeg && !ends_with(out, ".bmp")) return dev_usage(name, "OUT must end .bmp, .jpg or .jpeg");
  if (same_file(pos[0], out)) return dev_fail("<%s>: an output may not be the input", out.c_str());
  FrameAccessArgs fa;
  fa.file = pos[0];
  fa.numbers.push_back(n);
  auto dtv = frame_access_open(fa);
  if (!dtv) return 1;
  dtv->search(static_cast<int>(n), 1);
  Frame* fr = dtv->create_screen();
  if (!fr) return dev_fail("<%s>: frame %lld cannot be shown", pos[0].c_str(), n);
  const long long bytes = jpeg ? fr->save_jpeg(out.c_str(), static_cast<int>(quality)) : fr->save_bmp(out.c_str(), 24);
  if (bytes <= 0) return dev_fail("<%s>: cannot be written", out.c_str());
  std::printf("frame=%d width=%d height=%d bytes=%lld format=%s\n", dtv->get_position(), fr->get_width(),
              fr->get_height(), bytes, jpeg ? "jpeg" : "bmp");
  return 0;
}

int run_still_seq(int argc, char** argv) {
  const char* name = "still-seq";
  std::vector<std::string> pos;
  long long count = -1, aspect = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--count") {
      if (i + 1 >= argc || !dev_parse_int(argv[i + 1], &count) || count < 0 || count > 1000000)
        return dev_usage(name, "--count takes a number of pictures");
      ++i;
    } else if (a == "--aspect") {
      if (i + 1 >= argc || !dev_parse_int(argv[i + 1], &aspect) || aspect < 1 || aspect > 15)
        return dev_usage(name, "--aspect takes 1..15");
      ++i;
    } else if (a.size() > 1 && a[0] == '-') {
      return dev_usage(name, "unknown option %s", a.c_str());
    } else {
      pos.push_back(a);
    }
  }
  if (pos.size() != 5) return dev_usage(name, "IN.yuv, WIDTH, HEIGHT, CHROMA and OUT are needed");
  long long w = 0, h = 0;
  int chroma = 1;
  if (!dev_parse_int(pos[1].c_str(), &w) || !dev_parse_int(pos[2].c_str(), &h) || w < 16 || h < 16 || w > 4096 ||
      h > 4096 || (w & 1) || (h & 1))
    return dev_usage(name, "WIDTH and HEIGHT must be even, 16..4096");
  if (!dev_parse_chroma(pos[3].c_str(), &chroma)) return dev_usage(name, "CHROMA takes 420 or 422");
  if (same_file(pos[0], pos[4])) return dev_fail("<%s>: an output may not be the input", pos[4].c_str());
  FILE* in = std::fopen(pos[0].c_str(), "rb");
  if (!in) return dev_fail("<%s>: cannot open", pos[0].c_str());
  std::unique_ptr<FILE, int (*)(FILE*)> in_guard(in, std::fclose);
  Frame pic(static_cast<int>(w), static_cast<int>(h), chroma, 0);
  if (!pic.buffer()) return dev_fail("no memory for a %lldx%lld picture", w, h);
  const int cw = static_cast<int>(w + 1) / 2, ch = chroma == 2 ? static_cast<int>(h) : static_cast<int>(h + 1) / 2;
  const size_t frame_bytes = static_cast<size_t>(w * h) + 2 * static_cast<size_t>(cw) * ch;
  std::vector<uint8_t> raw(frame_bytes);
  // The pictures of IN in turn, from the start again when N asks for more.
  std::vector<std::vector<uint8_t>> pictures;
  while (std::fread(raw.data(), 1, raw.size(), in) == raw.size()) {
    pictures.push_back(raw);
    if (count >= 0 && static_cast<long long>(pictures.size()) >= count) break;
  }
  if (pictures.empty() && count != 0) return dev_fail("<%s>: no whole %lldx%lld picture", pos[0].c_str(), w, h);
  if (count < 0) count = static_cast<long long>(pictures.size());
  int failed = 1;
  AddImageSequence seq(pos[4].c_str(), &failed);
  if (failed) return dev_fail("<%s>: cannot create", pos[4].c_str());
  if (aspect) seq.set_aspect_ratio(static_cast<int>(aspect));
  for (long long k = 0; k < count; ++k) {
    const uint8_t* s = pictures[static_cast<size_t>(k) % pictures.size()].data();
    auto plane = [](uint8_t* d, int stride, const uint8_t* src, int pw, int ph) {
      for (int y = 0; y < ph; ++y) std::memcpy(d + static_cast<size_t>(y) * stride, src + static_cast<size_t>(y) * pw, size_t(pw));
    };
    plane(pic.y_plane(), pic.padded_width(), s, static_cast<int>(w), static_cast<int>(h));
    plane(pic.cb_plane(), pic.c_width(), s + w * h, cw, ch);
    plane(pic.cr_plane(), pic.c_width(), s + w * h + static_cast<size_t>(cw) * ch, cw, ch);
    if (!seq.add_image(pic.image())) return dev_fail("<%s>: picture %lld could not be written", pos[4].c_str(), k);
  }
  if (seq.close()) return dev_fail("<%s>: write failed", pos[4].c_str());
  const Encoder* enc = seq.get_encoder();
  std::printf("pictures=%d bytes=%lld mpeg=%d frame_rate=%.6f bit_rate=%d\n", seq.get_pictures_written(),
              seq.get_bytes_written(), enc ? (enc->mpeg1 ? 1 : 2) : 0,
              enc && enc->seqhdr ? enc->seqhdr->get_frame_rate() : 0.0, enc && enc->seqhdr ? enc->seqhdr->get_bit_rate() : 0);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(snapshot, "FILE FRAME OUT.bmp|OUT.jpg [--quality Q]",
                   "one frame of a clip, found by exact search, saved as a bitmap or JPEG still", run_snapshot);
static const bool dev_reg_still_seq =
    dev_register(DevCommand{"still-seq", "IN.yuv WIDTH HEIGHT CHROMA OUT [--count N] [--aspect CODE]",
                            "planar pictures in turn as an MPEG video stream of intra pictures", run_still_seq});

// decode FILE OUT.yuv [--size full|half|quarter]: decodes every picture of a
// video elementary stream, found directly by start codes, and writes one
// planar frame per coded frame in display order. A program or transport
// stream's first video stream is demultiplexed first and decoded the same
// way.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "picture/frame.h"
#include "decode/picdec.h"
#include "decode/picdec_bits.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "foundation/mapped_file.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/start_code.h"
#include "foundation/utils.h"
#include "mux/demux_job.h"

namespace {

struct Output {
  FILE* f = nullptr;
  int width = 0, height = 0, chroma = 1;
  long frames = 0;
  std::vector<uint8_t> row;
  bool ok = true;

  void write(const Frame* fr) {
    ++frames;
    if (!f) return;
    const int cw = (width + 1) / 2;
    const int ch = chroma == 2 ? height : (height + 1) / 2;
    // Lines the plane holds whole are written from it; only padding
    // lines go through a line of their own.
    auto put = [&](const uint8_t* plane, int stride, int w, int h, int pw, int ph) {
      row.assign(static_cast<size_t>(w), plane ? 0 : 128);
      for (int y = 0; y < h; ++y) {
        const uint8_t* line = row.data();
        if (plane && y < ph && w <= pw) {
          line = plane + static_cast<size_t>(y) * stride;
        } else if (plane && y < ph) {
          std::memcpy(row.data(), plane + static_cast<size_t>(y) * stride, static_cast<size_t>(std::min(w, pw)));
        }
        if (std::fwrite(line, 1, row.size(), f) != row.size()) ok = false;
      }
    };
    put(fr->y_plane(), fr->padded_width(), width, height, fr->padded_width(), fr->padded_height());
    put(fr->cb_plane(), fr->c_width(), cw, ch, fr->c_width(), fr->c_height());
    put(fr->cr_plane(), fr->c_width(), cw, ch, fr->c_width(), fr->c_height());
  }
};

bool is_boundary(int code) { return code == 0x100 || code == 0x1B3 || code == 0x1B7 || code == 0x1B8; }

// True when a picture, sequence, GOP or end code starts at offset at.
bool boundary_at(const uint8_t* data, int64_t size, int64_t at) {
  const int code = start_code_at(data, size, at);
  return code >= 0 && is_boundary(0x100 | code);
}

// Offset of the next picture, sequence, GOP or end code at or after from.
int64_t next_boundary(const uint8_t* data, int64_t size, int64_t from) {
  while (from + 4 <= size) {
    int code = 0;
    const int64_t k = utils_next_start_code(data + from, size - from, &code);
    if (!code) return size;
    if (is_boundary(code)) return from + k;
    from += k + 4;
  }
  return size;
}

// Demultiplexes the first video stream of a program or transport stream
// into a temporary file and maps it into es; the file's name is removed as
// soon as it is mapped. 0, or 1 with the cause on stderr.
int map_first_video(const char* path, const DevInput& in, MappedFile* es) {
  auto made = MPEG_Demuxer::create(path);
  if (!made) return dev_fail("<%s>: cannot read %s", path, dev_kind_text(in));
  MPEG_Demuxer& job = *made;
  int count = 0;
  const ESData* streams = job.demuxer()->get_es_data(&count);
  const ESData* video = nullptr;
  for (int i = 0; streams && i < count && !video; ++i)
    if (streams[i].is_video()) video = &streams[i];
  if (!video) return dev_fail("<%s>: no video stream", path);
  std::error_code ec;
  std::string name = (std::filesystem::temp_directory_path(ec) / "tamsel-decode-XXXXXX").string();
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return dev_fail("<%s>: cannot create a temporary file: %s", name.c_str(), std::strerror(errno));
  ::close(fd);
  const uint32_t selection = uint32_t(video->stream_id) | uint32_t(video->pid) << 16;
  const char* names[1] = {name.c_str()};
  const double done = job.save_es_data(1, &selection, names, nullptr);
  int map_error = 0;
  const bool mapped = done > 0 && es->open(name.c_str(), MB_READER_PADDING, &map_error);
  ::unlink(name.c_str());
  if (!mapped) return dev_fail("<%s>: cannot demultiplex its video stream", path);
  return 0;
}

}  // namespace

static int run_decode(int argc, char** argv) {
  if (argc != 3 && argc != 5) return dev_bad_count("decode", argc);
  int mode = 0;
  if (argc == 5) {
    if (std::strcmp(argv[3], "--size") != 0) return dev_usage("decode", "unknown option '%s'", argv[3]);
    const std::string s = argv[4];
    if (s == "full") mode = 0;
    else if (s == "half") mode = 1;
    else if (s == "quarter") mode = 2;
    else return dev_usage("decode", "size '%s' is not full, half or quarter", argv[4]);
  }
  // Mapped once, with zeros behind the end, so that the decoder reads every
  // picture in place and nothing is copied; the kind is told from the
  // mapping too, not by a second read of the file.
  int error = 0;
  MappedFile file;
  if (!file.open(argv[1], MB_READER_PADDING, &error)) return dev_fail("<%s>: %s", argv[1], std::strerror(error));
  const DevInput kind = dev_input_of_bytes(file.data(), file.size());
  if (dev_refuse_kind(argv[1], kind, {InputKind::video, InputKind::program, InputKind::transport},
                      "a video elementary, program or transport stream", true))
    return 1;
  MappedFile demuxed;
  const bool system = kind.kind == InputKind::program || kind.kind == InputKind::transport;
  if (system && map_first_video(argv[1], kind, &demuxed)) return 1;
  const MappedFile& in = system ? demuxed : file;
  const uint64_t file_size = in.size();
  if (file_size > (1ull << 31) - 64) return dev_fail("<%s>: larger than 2 GB", argv[1]);
  const uint8_t* data = in.data();
  const int64_t size = static_cast<int64_t>(file_size);
  SeqHdr seq;
  uint32_t code = 0;
  const int64_t first_seq = utils_next_usr_start_code(0x1B3, data, size, &code);
  if (code != 0x1B3 || !seq.decode(data + first_seq, static_cast<int>(size - first_seq)))
    return dev_fail("<%s>: no sequence header", argv[1]);
  if (!mpeg_picture_size_ok(seq.get_horizontal_size(), seq.get_vertical_size()))
    return dev_fail("<%s>: picture size %d x %d is beyond every MPEG level (damaged sequence header)", argv[1],
                    seq.get_horizontal_size(), seq.get_vertical_size());

  Output out;
  // Decoding to /dev/null measures the decoder alone: nothing is formatted.
  const bool discard = std::strcmp(argv[2], "/dev/null") == 0;
  out.f = discard ? nullptr : dev_open_output(argv[2]);
  if (!discard && !out.f) return 1;
  out.width = seq.get_horizontal_size() >> mode;
  out.height = seq.get_vertical_size() >> mode;
  out.chroma = seq.get_chroma_format() == 2 ? 2 : 1;

  std::unique_ptr<PicDecoder> dec(new PicDecoder(&seq));
  dec->set_scale(mode);
  dec->set_input_padding(MB_READER_PADDING);
  const int round32 = seq.mpeg2 && !seq.get_progressive_sequence();
  auto new_frame = [&]() {
    if (mode == 0) return std::make_unique<Frame>(seq.get_horizontal_size(), seq.get_vertical_size(), out.chroma, round32);
    return std::make_unique<Frame>(dec->get_scaled_width(), dec->get_scaled_height(), out.chroma, 0);
  };
  std::unique_ptr<Frame> older, newer, spare;  // references in decoding order
  bool newer_shown = true;

  int64_t pos = first_seq;
  int64_t chunk_start = first_seq;
  while (pos < size) {
    const int64_t at = utils_next_usr_start_code(0x100, data + pos, size - pos, &code);
    if (code != 0x100) break;
    const int64_t pic_at = pos + at;
    // A frame picture's decode gets the rest of the file and stops at the
    // first code that does not belong to it: no scan ahead for its end. A
    // field picture's chunk is cut as before, with the second field when a
    // picture follows.
    PicHdr h;
    int64_t limit = size;
    if (h.decode(data + pic_at, static_cast<int>(size - pic_at)) && h.mpeg2 && h.get_picture_structure() != 3) {
      limit = next_boundary(data, size, pic_at + 4);
      if (limit + 4 <= size) {
        int next = 0;
        (void)utils_next_start_code(data + limit, 4, &next);
        if (next == 0x100) limit = next_boundary(data, size, limit + 4);  // the second field
      }
    }
    const int ptype = h.picture_coding_type ? h.picture_coding_type : 1;
    std::unique_ptr<Frame> target = spare ? std::move(spare) : new_frame();
    Frame* fwd = nullptr;
    Frame* bwd = nullptr;
    if (ptype == 3) {
      fwd = older ? older.get() : newer.get();
      bwd = newer.get();
    } else if (ptype == 2) {
      fwd = newer.get();
    }
    const int n = dec->decode_picture(data + chunk_start, static_cast<int>(limit - chunk_start), target.get(), fwd, bwd);
    if (n > 0) {
      if (ptype == 3) {
        out.write(target.get());
        spare = std::move(target);
      } else {
        if (newer && !newer_shown) out.write(newer.get());
        spare = std::move(older);
        older = std::move(newer);
        newer = std::move(target);
        newer_shown = false;
      }
    } else {
      spare = std::move(target);
    }
    // The next picture's headers: where the decoder stopped when a boundary
    // code stands there; else (a damaged picture read on past its end) the
    // first boundary behind this picture's header.
    int64_t end = limit;
    if (limit == size) {
      const int64_t stop = chunk_start + n;
      end = n > 0 && stop > pic_at && boundary_at(data, size, stop) ? stop : next_boundary(data, size, pic_at + 4);
    }
    pos = end;
    chunk_start = end;
  }
  if (newer && !newer_shown) out.write(newer.get());
  const bool ok = out.ok && (!out.f || std::fclose(out.f) == 0);
  if (file.shrunk() || demuxed.shrunk()) return dev_fail("<%s>: the file shrank while it was read", argv[1]);
  if (!ok) return dev_fail("<%s>: write failed", argv[2]);
  std::printf("frames=%ld width=%d height=%d chroma=%d\n", out.frames, out.width, out.height,
              dev_chroma_notation(out.chroma));
  return 0;
}

TAMSEL_DEV_COMMAND(decode, "FILE OUT.yuv [--size full|half|quarter]",
                   "every picture of a video stream (the first of a program or transport stream) as planar YUV in display order", run_decode);

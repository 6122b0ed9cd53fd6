#include "formats/qt_decoder.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "formats/still_loader.h"
#include "picture/frame.h"
#include "foundation/trace.h"

namespace {

constexpr uint32_t kJpegFormat = 0x6a706567;  // 'jpeg'
constexpr size_t kGrowStep = 16384;

uint64_t get64(const uint8_t* p) { return (static_cast<uint64_t>(qt_get32(p)) << 32) | qt_get32(p + 4); }

}  // namespace

QT_Decoder::QT_Decoder(const char* name, int* status, int header_only) {
  const bool ok = open(name, header_only);
  if (status) *status = ok ? 0 : 1;
}

// The buffer only grows, in whole steps, keeping what it holds.
bool QT_Decoder::grow(size_t needed) {
  if (needed <= sample_buffer.size()) return true;
  const size_t size = (needed / kGrowStep + 1) * kGrowStep;
  try {
    sample_buffer.resize(size);
  } catch (const std::bad_alloc&) {
    trace("QT_Decoder::ctor (ERROR): new (buffer: %d)\n", static_cast<int>(size));
    return false;
  }
  return true;
}

// Top-level atoms are walked by their sizes (32-bit, 64-bit with size 1,
// to the end of the file with size 0); anything but 'moov' is stepped over
// whatever its size.
bool QT_Decoder::find_moov(std::vector<uint8_t>* out) {
  const uint64_t file_size = file.size().value();
  uint64_t pos = 0;
  uint8_t h[16];
  while (pos + 8 <= file_size) {
    file.seek(FileOffset::from_u64(pos), 0);
    const size_t got = file.read(h, sizeof h);
    if (got < 8) break;
    uint64_t size = qt_get32(h);
    uint64_t header = 8;
    if (size == 1) {
      if (got < 16) break;
      size = get64(h + 8);
      header = 16;
    } else if (size == 0) {
      size = file_size - pos;
    }
    if (size < header || size > file_size - pos) {
      trace("QT_Decoder::ctor (): broken atom at %.0f, searching for 'moov'\n", static_cast<double>(pos));
      return scan_for_moov(out);
    }
    if (qt_get32(h + 4) == qt_fourcc("moov")) {
      if (size > static_cast<uint64_t>(kMaxRead) || size > 0xFFFFFFFFu || header != 8) {
        trace("QT_Decoder::ctor (ERROR): 'moov' size %.0f too large\n", static_cast<double>(size));
        return false;
      }
      if (!grow(static_cast<size_t>(size))) return false;
      file.seek(FileOffset::from_u64(pos), 0);
      if (file.read(sample_buffer.data(), static_cast<size_t>(size)) != size) {
        trace("QT_Decoder::ctor (ERROR): 'moov' atom truncated\n");
        return false;
      }
      out->assign(sample_buffer.begin(), sample_buffer.begin() + static_cast<std::ptrdiff_t>(size));
      return true;
    }
    pos += size;
  }
  return false;
}

// Fallback for a damaged top level: the first 'moov' type code whose size
// fits in the file.
bool QT_Decoder::scan_for_moov(std::vector<uint8_t>* out) {
  const uint64_t file_size = file.size().value();
  const size_t window = 1 << 20;
  std::vector<uint8_t> buf(window + 8);
  for (uint64_t base = 0; base < file_size; base += window) {
    file.seek(FileOffset::from_u64(base), 0);
    const size_t got = file.read(buf.data(), buf.size());
    for (size_t i = 4; i + 4 <= got; ++i) {
      if (qt_get32(buf.data() + i) != qt_fourcc("moov")) continue;
      const uint64_t at = base + i - 4;
      const uint64_t size = qt_get32(buf.data() + i - 4);
      if (size < 8 || size > file_size - at || size > static_cast<uint64_t>(kMaxRead)) continue;
      if (!grow(static_cast<size_t>(size))) return false;
      file.seek(FileOffset::from_u64(at), 0);
      if (file.read(sample_buffer.data(), static_cast<size_t>(size)) != size) return false;
      out->assign(sample_buffer.begin(), sample_buffer.begin() + static_cast<std::ptrdiff_t>(size));
      return true;
    }
    if (got < buf.size()) break;
  }
  return false;
}

QT_Stbl* QT_Decoder::video_tables() const {
  QT_Mdia* m = moov ? moov->find_track(kQtVideoTrack) : nullptr;
  return m && m->minf ? m->minf->stbl.get() : nullptr;
}

bool QT_Decoder::open(const char* name, int header_only) {
  int err = 0;
  if (name) file = BSFile(name, 1, &err);
  if (!name || err || !file.is_open()) {
    trace("QT_Decoder::ctor (ERROR): fopen (%s)\n", name ? name : "nil");
    return false;
  }
  uint8_t head[1024];
  const size_t got = file.read(head, sizeof head);
  uint32_t type = 0;
  qt_find_atom(head, got, &type);
  if (type != qt_fourcc("moov") && type != qt_fourcc("mdat")) {
    trace("QT_Decoder::ctor (ERROR): no 'moov' or 'mdat' atom at the start of <%s>\n", name);
    return false;
  }
  if (!grow(8192)) return false;
  std::vector<uint8_t> bytes;
  if (!find_moov(&bytes)) {
    trace("QT_Decoder::ctor (ERROR): no 'moov' atom found in <%s>\n", name);
    return false;
  }
  moov = std::make_unique<QT_Moov>(static_cast<uint32_t>(bytes.size()));
  if (!moov->decode(bytes.data(), bytes.size())) {
    trace("QT_Decoder::ctor (ERROR): 'moov' decode\n");
    return false;
  }
  if (moov->get_format(kQtVideoTrack) != kJpegFormat) {
    trace("QT_Decoder::ctor (ERROR): the video track is not 'jpeg'\n");
    return false;
  }
  QT_Mdia* media = moov->find_track(kQtVideoTrack);
  QT_Stbl* stbl = video_tables();
  // A damaged time-to-sample table may claim any count (2^31 samples in a
  // small file): only samples the size table lists and the file has room
  // for are counted.
  int64_t samples = stbl ? stbl->get_sample_count() : 0;
  samples = std::min<int64_t>(samples, static_cast<int64_t>(file.size().value()));
  if (stbl && stbl->stsz) {
    const QT_Stsz& z = *stbl->stsz;
    samples = std::min<int64_t>(samples, z.sample_size ? static_cast<int64_t>(file.size().value() / z.sample_size)
                                                       : static_cast<int64_t>(z.entries.size()));
  }
  total_samples = static_cast<int>(std::min<int64_t>(samples, INT_MAX));
  const uint32_t d = stbl ? stbl->get_first_duration() : 1;
  const uint32_t scale = media->mdhd.time_scale;
  if (d) frame_rate = static_cast<double>(scale) / d;
  if (scale) {
    const double seconds = static_cast<double>(media->mdhd.duration) / scale;
    if (seconds != 0 && stbl) {
      // Damaged tables can ask for any rate; keep it representable.
      const double rate = 8 / seconds * static_cast<double>(stbl->get_total_size());
      bit_rate = rate < 9.0e18 ? static_cast<int64_t>(rate) : INT64_MAX;
    }
  }
  if (!header_only) {
    jpeg = std::make_unique<JDecoder>();
    if (decode_video_sample(0) != 0) return false;
    width = jpeg->get_width();
    height = jpeg->get_height();
    file_name = name;
  }
  return true;
}

int QT_Decoder::decode_video_sample(int n) {
  if (!jpeg) return 1;
  if (n == current_sample && decoded) return 0;
  QT_Stbl* stbl = video_tables();
  uint32_t size = 0;
  const int64_t offset = stbl ? stbl->get_sample_offset(n, &size) : 0;
  size_t want = std::min<uint64_t>(size, static_cast<uint64_t>(kMaxRead));
  if (!grow(want)) want = sample_buffer.size();
  file.seek(FileOffset::from_u64(static_cast<uint64_t>(offset)), 0);
  const size_t got = want ? file.read(sample_buffer.data(), want) : 0;
  if (jpeg->decode(sample_buffer.data(), got) == 4) {
    trace("QT_Decoder::decode_video_sample (ERROR): JPEG Decoder couldn't decode sample #%d\n", n);
    decoded = 0;  // the decoder's picture may be partly overwritten
    return 1;
  }
  decoded = 1;
  current_sample = n;
  return 0;
}

int QT_Decoder::put_picture(const YuvPlanes* dst) {
  if (!dst) return 0;
  if (jpeg->get_picture_planes(*dst, jpeg->get_sampling_kind() != 3) != 0) return 1;
  full_range_to_video_range(*dst);
  return 0;
}

int QT_Decoder::goto_sample_planes(int n, const YuvPlanes* dst) {
  if (total_samples < 1) return 1;
  if (n < 0 || n >= total_samples) {
    trace("QT_Decoder::goto_sample (): sample number=%d (total=%d)\n", n, total_samples);
    n = n < 0 ? 0 : total_samples - 1;
  }
  if (decode_video_sample(n) != 0) return 1;
  return put_picture(dst);
}

int QT_Decoder::copy_frame_planes(const YuvPlanes& dst) {
  if (!decoded && decode_video_sample(current_sample) != 0) return 1;
  return put_picture(&dst);
}

int QT_Decoder::forward_planes(const YuvPlanes* dst, int n) {
  if (total_samples < 1 || n < 1) return 0;
  const int target = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(current_sample) + n, total_samples - 1));
  const int moved = target - current_sample;
  if (moved <= 0) return 0;
  if (decode_video_sample(target) != 0) return 0;
  put_picture(dst);
  return moved;
}

int QT_Decoder::backward_planes(const YuvPlanes* dst, int n) {
  if (total_samples < 1 || n < 1) return 0;
  const int target = std::max(current_sample - n, 0);
  const int moved = current_sample - target;
  if (moved <= 0) return 0;
  if (decode_video_sample(target) != 0) return 0;
  put_picture(dst);
  return moved;
}

int qt_load_still(const char* name, StillPicture* out) {
  int status = 1;
  QT_Decoder qt(name, &status);
  if (status || !out) return 0;
  const YuvPlanes p = out->allocate(qt.jpeg->frame.width, qt.jpeg->frame.height);
  if (qt.jpeg->get_picture_planes(p, 0) != 0) {
    *out = StillPicture{};
    return 0;
  }
  full_range_to_video_range(p);
  out->clip_type = 13;
  return 13;
}

namespace {

const YuvPlanes* frame_planes(Frame* frame, YuvPlanes* p) {
  if (!frame || !frame->image() || !frame->image()->buffer) return nullptr;
  *p = frame->image()->planes();
  return p;
}

}  // namespace

int QT_Decoder::goto_sample(int n, Frame* frame) {
  YuvPlanes p;
  return goto_sample_planes(n, frame_planes(frame, &p));
}

int QT_Decoder::copy_frame(Frame* frame) {
  YuvPlanes p;
  return frame_planes(frame, &p) ? copy_frame_planes(p) : 1;
}

int QT_Decoder::forward(Frame* frame, int n) {
  YuvPlanes p;
  return forward_planes(frame_planes(frame, &p), n);
}

int QT_Decoder::backward(Frame* frame, int n) {
  YuvPlanes p;
  return backward_planes(frame_planes(frame, &p), n);
}

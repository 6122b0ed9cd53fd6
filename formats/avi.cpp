#include "formats/avi.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "formats/still_loader.h"
#include "picture/frame.h"
#include "foundation/trace.h"

namespace {

// Largest 'hdrl' list and 'idx1' chunk read whole.
constexpr uint32_t kMaxHdrl = 1u << 20;
constexpr uint32_t kMaxIdx1 = 64u << 20;

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
bool is(const uint8_t* p, const char* fourcc) { return std::memcmp(p, fourcc, 4) == 0; }
// Chunks are padded to an even size.
uint64_t padded(uint64_t size) { return size + (size & 1); }

}  // namespace

int AviAvih::decode(const uint8_t* b, size_t length) {
  if (length < 8 || !is(b, "avih")) {
    trace("AviAvih::decode (ERROR): no fourcc code 'avih' found\n");
    return 0;
  }
  if (le32(b + 4) != 56) {
    trace("AviAvih::decode (ERROR): header size = %d != 56 bytes\n", static_cast<int>(le32(b + 4)));
    return 0;
  }
  if (length < 64) {
    trace("AviAvih::decode (ERROR): data size = %d < 64 bytes\n", static_cast<int>(length));
    return 0;
  }
  uint32_t* f[] = {&micro_sec_per_frame, &max_bytes_per_sec, &padding_granularity, &flags, &total_frames,
                   &initial_frames, &streams, &suggested_buffer_size, &width, &height};
  for (int i = 0; i < 10; ++i) *f[i] = le32(b + 8 + 4 * i);
  for (int i = 0; i < 4; ++i) reserved[i] = le32(b + 48 + 4 * i);
  return 64;
}

// The frame rectangle is four 16-bit values in the common 56-byte form and
// four 32-bit ones in the 64-byte form; both are read.
int AviStrh::decode(const uint8_t* b, size_t held) {
  if (held < 8 || !is(b, "strh")) {
    trace("AviStrh::decode (ERROR): no fourcc code 'strh' found\n");
    return 0;
  }
  const uint32_t size = le32(b + 4);
  if (size != 56 && size != 64) {
    trace("AviStrh::decode (ERROR): header size = %d != %d bytes\n", static_cast<int>(size), 64);
    return 0;
  }
  if (held < 8 + size) {
    trace("AviStrh::decode (ERROR): data size = %d < %d bytes\n", static_cast<int>(held), static_cast<int>(8 + size));
    return 0;
  }
  const uint8_t* p = b + 8;
  type = le32(p);
  handler = le32(p + 4);
  flags = le32(p + 8);
  priority = le16(p + 12);
  language = le16(p + 14);
  uint32_t* f[] = {&initial_frames, &scale, &rate, &start, &this->length, &suggested_buffer_size, &quality,
                   &sample_size};
  for (int i = 0; i < 8; ++i) *f[i] = le32(p + 16 + 4 * i);
  for (int i = 0; i < 4; ++i)
    frame[i] = size == 56 ? static_cast<int16_t>(le16(p + 48 + 2 * i)) : static_cast<int32_t>(le32(p + 48 + 4 * i));
  return static_cast<int>(8 + size);
}

int AviHdrl::decode(const uint8_t* b, size_t length) {
  if (length < 12 || !is(b, "LIST") || !is(b + 8, "hdrl")) {
    trace("AviHdrl::decode (ERROR): no 'LIST' or 'hdrl' found\n");
    return 0;
  }
  list_size = le32(b + 4) + 8;
  if (list_size < 12 || list_size > length) {
    trace("AviHdrl::decode (ERROR): not enough data (%d) to decode the header list (%d)\n", static_cast<int>(length),
          static_cast<int>(list_size));
    return 0;
  }
  length = list_size;
  if (length < 16 || !is(b + 12, "avih")) {
    trace("AviHdrl::decode (ERROR): no 'avih' following the LIST header\n");
    return 0;
  }
  if (!avih.decode(b + 12, length - 12)) {
    trace("AviHdrl::decode (ERROR): 'avih' decode\n");
    return 0;
  }
  size_t pos = 12 + 64;
  int stream = 0;
  bool have_video = false;
  // Stream lists ('strl'), other chunks stepped over by their sizes.
  while (pos + 12 <= length) {
    const uint64_t csize = le32(b + pos + 4);
    if (!is(b + pos, "LIST")) {
      pos += 8 + padded(csize);
      continue;
    }
    if (csize + 8 > length - pos) {
      trace("AviHdrl::decode (ERROR): not enough data (%d) to decode the header list (%d)\n",
            static_cast<int>(length - pos), static_cast<int>(csize + 8));
      return 0;
    }
    const uint8_t* l = b + pos;
    const size_t lsize = static_cast<size_t>(csize + 8);
    pos += static_cast<size_t>(padded(csize) + 8 <= length - pos ? padded(csize) + 8 : csize + 8);
    if (lsize < 12 || !is(l + 8, "strl")) continue;  // 'odml' and other lists
    const int s = stream++;
    if (lsize < 20 || !is(l + 12, "strh")) {
      trace("AviHdrl::decode (ERROR): no 'strl' or 'strh' following the LIST header\n");
      continue;
    }
    if (lsize < 12 + 8 + 56) {
      trace("AviHdrl::decode (ERROR): not enough data (%d) for decoding 'strh' (%d)\n", static_cast<int>(lsize - 12),
            72);
      continue;
    }
    const bool is_video = is(l + 20, "vids") && !have_video;
    const bool is_audio = is(l + 20, "auds") && audio_list_size == 0;
    if (!is_video && !is_audio) continue;
    AviStrh& h = is_video ? video : audio;
    const int used = h.decode(l + 12, lsize - 12);
    if (!used) {
      trace("AviHdrl::decode (ERROR): %s 'strh' decode\n", is_video ? "video" : "audio");
      continue;
    }
    const size_t f = 12 + static_cast<size_t>(used);
    if (lsize < f + 8 || !is(l + f, "strf")) {
      trace("AviHdrl::decode (ERROR): no 'strf' found for %s\n", is_video ? "video" : "audio");
      continue;
    }
    const size_t fsize = std::min<size_t>(le32(l + f + 4), lsize - f - 8);
    if (is_video) {
      if (fsize < 40) {
        trace("AviHdrl::decode (ERROR): not enough data (%d) for decoding video 'strf' (%d)\n",
              static_cast<int>(fsize), 40);
        continue;
      }
      if (!video_format.read_dib_header(l + f + 8, fsize)) {
        trace("AviHdrl::decode (ERROR): BMP::read_dib_header ()\n");
        continue;
      }
      have_video = true;
      video_stream = s;
      video_list_size = static_cast<uint32_t>(lsize);
    } else {
      if (fsize < 16) {
        trace("AviHdrl::decode (ERROR): not enough data (%d) for decoding audio 'strf' (%d)\n",
              static_cast<int>(fsize), 16);
        continue;
      }
      audio_format.assign(l + f + 8, l + f + 8 + fsize);
      audio_list_size = static_cast<uint32_t>(lsize);
    }
  }
  return have_video ? static_cast<int>(std::min(pos, length)) : 0;
}

int AviIdx1::decode(const uint8_t* b, size_t length, uint32_t movie_start, int video_stream) {
  if (length < 8 || !is(b, "idx1")) {
    trace("AviIdx1::decode (ERROR): no 'idx1' found\n");
    return 0;
  }
  const uint32_t size = le32(b + 4);
  if (size > length - 8) {
    trace("AviIdx1::decode (ERROR): not enough data (%d) to decode the index list (%d)\n",
          static_cast<int>(length - 8), static_cast<int>(size));
    return 0;
  }
  const size_t n = size / 16;
  uint32_t smallest = UINT32_MAX;
  for (size_t i = 0; i < n; ++i) smallest = std::min(smallest, le32(b + 8 + 16 * i + 8));
  const char d0 = static_cast<char>('0' + (video_stream / 10) % 10), d1 = static_cast<char>('0' + video_stream % 10);
  video.clear();
  audio.clear();
  audio_size = -1;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* e = b + 8 + 16 * i;
    Entry en;
    std::memcpy(en.id, e, 4);
    // Offsets count from wherever the writer chose; the smallest one is
    // the first chunk of the 'movi' list.
    const uint64_t off = static_cast<uint64_t>(le32(e + 8)) + movie_start + 8 - smallest;
    en.offset = off > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(off);
    en.size = le32(e + 12);
    if (en.id[2] == 'w' && en.id[3] == 'b')
      audio.push_back(en);
    else if (video_stream >= 0 && en.id[0] == d0 && en.id[1] == d1 && en.id[2] == 'd' &&
             (en.id[3] == 'b' || en.id[3] == 'c'))
      video.push_back(en);
    // Anything else ('rec ' lists, palette changes, other streams) is no sample.
  }
  return static_cast<int>(8 + 16 * n);
}

const AviIdx1::Entry* AviIdx1::get_video_index(int n) const {
  if (video.empty()) {
    trace("AviIdx1::get_video_index (ERROR): no video index list\n");
    return nullptr;
  }
  if (n < 0 || static_cast<size_t>(n) >= video.size()) {
    trace("AviIdx1::get_video_index (ERROR): out-of-bound %d\n", n);
    return nullptr;
  }
  return &video[static_cast<size_t>(n)];
}

int64_t AviIdx1::get_audio_size() {
  if (audio_size < 0) {
    audio_size = 0;
    for (const Entry& e : audio) audio_size += e.size;
  }
  return audio_size;
}

Avi::Avi(const char* name, int* status) {
  int err = 0;
  bool ok = false;
  if (name) file = BSFile(name, 1, &err);
  if (!name || err || !file.is_open()) {
    trace("Avi::Avi (ERROR): fopen (%s)\n", name ? name : "nil");
  } else {
    file_name = name;
    ok = read_header();
    if (ok && !(hdrl.avih.flags & AviAvih::kHasIndex)) {
      trace("Avi::Avi (ERROR): no index in <%s>\n", name);
      ok = false;
    }
    ok = ok && read_idx1();
    if (ok) {
      video_samples = static_cast<int>(std::min<size_t>(index.video.size(), INT_MAX));
      audio_size = index.get_audio_size();
      const int bits = hdrl.video_format.get_bits_per_pixel();
      const int64_t pixels = static_cast<int64_t>(get_width()) * get_height();
      // Only uncompressed depths the 4:2:0 conversion knows.
      if (hdrl.video_format.get_compression() != 0 || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)) {
        trace("Avi::Avi (ERROR): unsupported video format (compression %d, %d bits)\n",
              hdrl.video_format.get_compression(), bits);
        ok = false;
      } else if (get_width() < 1 || get_height() < 1 || pixels > (int64_t{1} << 26)) {
        trace("Avi::Avi (ERROR): bad picture size %dx%d\n", get_width(), get_height());
        ok = false;
      } else if (video_samples < 1) {
        trace("Avi::Avi (ERROR): no video samples in the index\n");
        ok = false;
      } else {
        frame_buffer.assign(hdrl.video_format.get_dib_data_size(), 0);
        ok = !frame_buffer.empty();
      }
    }
  }
  if (status) *status = ok ? 0 : 1;
}

bool Avi::read_header() {
  const uint64_t file_size = file.size().value();
  uint8_t h[32];
  if (file.read(h, sizeof h) != sizeof h || !is(h, "RIFF") || le32(h + 4) != file_size - 8 || !is(h + 8, "AVI ") ||
      !is(h + 12, "LIST") || !is(h + 20, "hdrl") || !is(h + 24, "avih")) {
    trace("Avi::read_header (ERROR): not an AVI file (RIFF 'AVI ' with 'hdrl' and 'avih')\n");
    return false;
  }
  const uint64_t list = static_cast<uint64_t>(le32(h + 16)) + 8;
  if (list > kMaxHdrl || list > file_size - 12) {
    trace("Avi::read_header (ERROR): header list size %.0f\n", static_cast<double>(list));
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(list));
  file.seek(FileOffset(12), 0);
  if (file.read(bytes.data(), bytes.size()) != bytes.size() || !hdrl.decode(bytes.data(), bytes.size())) return false;
  list_end_ = 12 + padded(list);
  return true;
}

bool Avi::read_idx1() {
  const uint64_t file_size = file.size().value();
  // From the end of 'hdrl', chunks up to the 'movi' list ('JUNK', an
  // 'INFO' list and the like are stepped over by their sizes).
  uint64_t pos = list_end_;
  uint8_t h[12];
  for (;;) {
    file.seek(FileOffset::from_u64(pos), 0);
    if (pos + 12 > file_size || file.read(h, 12) != 12) {
      trace("Avi::read_idx1 (ERROR): no 'movi' LIST found\n");
      return false;
    }
    if (is(h, "LIST") && is(h + 8, "movi")) break;
    pos += 8 + padded(le32(h + 4));
  }
  const uint64_t movie_start = pos + 12;
  pos += 8 + padded(le32(h + 4));
  for (;;) {
    file.seek(FileOffset::from_u64(pos), 0);
    if (pos + 8 > file_size || file.read(h, 8) != 8) {
      trace("Avi::read_idx1 (ERROR): no 'idx1' marker found\n");
      return false;
    }
    if (is(h, "idx1")) break;
    pos += 8 + padded(le32(h + 4));
  }
  const uint64_t size = le32(h + 4);
  if (size > kMaxIdx1 || size > file_size - pos - 8 || movie_start > UINT32_MAX) {
    trace("Avi::read_idx1 (ERROR): index size %.0f\n", static_cast<double>(size));
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size + 8));
  file.seek(FileOffset::from_u64(pos), 0);
  if (file.read(bytes.data(), bytes.size()) != bytes.size()) return false;
  return index.decode(bytes.data(), bytes.size(), static_cast<uint32_t>(movie_start), hdrl.video_stream) != 0;
}

int Avi::check_sample_number(int n) const {
  if (n < 0) {
    trace("check_sample_number (): negative sample number=%d\n", n);
    return 0;
  }
  if (n >= video_samples) {
    trace("check_sample_number (): sample number=%d (total=%d)\n", n, video_samples);
    return video_samples > 0 ? video_samples - 1 : 0;
  }
  return n;
}

int Avi::get_video_sample_planes(int n, const YuvPlanes& dst) {
  n = check_sample_number(n);
  const AviIdx1::Entry* e = index.get_video_index(n);
  if (!e) {
    trace("Avi::get_video_sample (ERROR): AviIdx1::get_video_index () failed for sample_number=%d\n", n);
    return n;
  }
  // A chunk shorter than a picture (a drop-frame repeat) keeps the
  // previous picture; a short read keeps it too.
  if (e->size >= frame_buffer.size()) {
    std::vector<uint8_t> scratch(frame_buffer.size());
    file.seek(FileOffset(e->offset), 0);
    if (file.read(scratch.data(), scratch.size()) == scratch.size()) frame_buffer.swap(scratch);
  }
  BMP& bmp = hdrl.video_format;
  if (bmp.set_dib_data(frame_buffer.data(), frame_buffer.size()) == 0)
    bmp.rgb2yuv(dst, bmp.get_dib_header()->header.biHeight > 0 ? 1 : 0, 1);
  current_sample = n;
  return n;
}

int Avi::goto_sample_planes(int n, const YuvPlanes& dst) {
  return get_video_sample_planes(n, dst);
}

int Avi::forward_planes(const YuvPlanes& dst, int n) {
  if (current_sample >= video_samples) return 0;
  const int64_t want = static_cast<int64_t>(current_sample) + (n > 0 ? n : 0);
  const int before = current_sample;
  get_video_sample_planes(static_cast<int>(std::min<int64_t>(want, INT_MAX)), dst);
  return current_sample > before ? current_sample - before : 0;
}

int Avi::backward_planes(const YuvPlanes& dst, int n) {
  if (current_sample <= 0) return 0;
  const int before = current_sample;
  get_video_sample_planes(current_sample - (n > 0 ? n : 0), dst);
  return before > current_sample ? before - current_sample : 0;
}

int avi_load_still(const char* name, StillPicture* out) {
  int status = 1;
  Avi avi(name, &status);
  if (status || !out) return 0;
  const YuvPlanes p = out->allocate(avi.get_width(), avi.get_height());
  if (!p.y) return 0;
  avi.goto_sample_planes(0, p);
  out->clip_type = 14;
  return 14;
}

int Avi::get_video_sample(int n, Frame* frame) {
  return frame && frame->image() ? get_video_sample_planes(n, frame->image()->planes()) : n;
}

int Avi::goto_sample(int n, Frame* frame) {
  return frame && frame->image() ? goto_sample_planes(n, frame->image()->planes()) : n;
}

int Avi::forward(Frame* frame, int n) { return frame && frame->image() ? forward_planes(frame->image()->planes(), n) : 0; }

int Avi::backward(Frame* frame, int n) {
  return frame && frame->image() ? backward_planes(frame->image()->planes(), n) : 0;
}

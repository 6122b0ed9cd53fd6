#include "mux/es.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "foundation/pic_header.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"

namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();
// A header group longer than this is judged on its first bytes.
constexpr int kMaxGroup = 1 << 16;
constexpr int64_t kDefaultLimit = 0xF00000;

bool is_ext(uint8_t c) { return c == 0xB5 || c == 0xB2; }

// Preset rows: pack header, video and audio packet headers, video and audio
// payloads, pack size, flag.
struct Preset {
  int pack, vhdr, ahdr, vpay, apay, size, flag;
};
constexpr Preset kDefaultRow{0, 0, 0, 2048, 1024, 2048, 0};
constexpr Preset kSystemRow{12, 17, 12, 2019, 2024, 2048, 1};
constexpr Preset kVcdRow{12, 18, 13, 2294, 2279, 2324, 0};
constexpr Preset kSvcdRow{14, 19, 14, 2291, 2296, 2324, 1};
constexpr Preset kProgramRow{14, 19, 14, 2015, 2020, 2048, 1};
constexpr Preset kTransportRow{14, 19, 14, 8068, 2190, 2048, 1};

const Preset& preset_row(int mux_type, int svcd) {
  switch (mux_type) {
    case MUX_MPEG1_SYSTEM: return kSystemRow;
    case MUX_VCD: return kVcdRow;
    case MUX_MPEG2_PROGRAM: return svcd ? kSvcdRow : kProgramRow;
    case MUX_TRANSPORT: return kTransportRow;
    default: return kDefaultRow;
  }
}

}  // namespace

int get_es_payload_size(int mux_type, int svcd, int kind, int* flag) {
  const Preset& r = preset_row(mux_type, svcd);
  if (flag) *flag = r.flag;
  if (kind == ES_KIND_LPCM) return 2013;
  if (kind == ES_KIND_MPEG_AUDIO || kind == ES_KIND_AC3) return r.apay;
  return r.vpay + (r.flag ? 10 : 0);
}

ES::ES(int /*mux_type*/, const ESData& data, int payload_size, int preset_flag)
    : payload_size_(payload_size), preset_flag_(preset_flag), buf_(1 << 20) {
  kind_ = data.lpcm ? ES_KIND_LPCM : data.ac3 ? ES_KIND_AC3 : data.kind;
  stream_id_ = data.stream_id;
  const int id = stream_id_;
  switch (kind_) {
    case ES_KIND_MPEG_AUDIO:
      error_ = !(id >= 0xC0 && id <= 0xDF);
      reserve_ = 4;
      break;
    case ES_KIND_MPEG1_VIDEO:
    case ES_KIND_MPEG2_VIDEO:
      error_ = !(id >= 0xE0 && id <= 0xEF);
      reserve_ = kind_ == ES_KIND_MPEG2_VIDEO ? 32 : 6;
      break;
    case ES_KIND_AC3:
      error_ = !(id == 0xBD || (id >= 0x80 && id <= 0x87));
      sub_id_ = id >= 0x80 && id <= 0x87 ? id : 0x80;
      reserve_ = 10;
      break;
    case ES_KIND_LPCM:
      error_ = !(id == 0xBD || (id >= 0xA0 && id <= 0xA7));
      sub_id_ = id >= 0xA0 && id <= 0xA7 ? id : 0xA0;
      reserve_ = 7;
      if (!error_ && init_pcm(data.sample_rate, data.lpcm_channels > 0 ? data.lpcm_channels : data.channels))
        error_ = 1;
      break;
    default:
      error_ = 1;
  }
  if (error_) trace("ES::ES (ERROR): stream kind %d with id 0x%02x refused\n", kind_, id);
  if (!buf_.data) error_ = 1;
}

ES::~ES() = default;

int ES::set_abs_id(int id) {
  if (is_video()) return 0;
  if ((kind_ == ES_KIND_AC3 && id >= 128 && id <= 135) || (kind_ == ES_KIND_LPCM && id >= 160 && id <= 167) ||
      (kind_ == ES_KIND_MPEG_AUDIO && id >= 192 && id <= 223)) {
    sub_id_ = id;
    return id;
  }
  return 0;
}

void ES::set_start_time(double ticks) { start_ = ticks; }

void ES::set_buffer_size(int bytes) {
  if (bytes > 0) buffer_size_ = bytes;
}

int ES::get_buffer_bound(int mpeg2) const {
  const int unit = kind_ == ES_KIND_MPEG_AUDIO && !mpeg2 ? 128 : 1024;
  return (buffer_size_ + unit - 1) / unit;
}

// ---- set-up -----------------------------------------------------------------

int ES::init_pcm(int sample_rate, int channels) {
  if (sample_rate != 48000 || channels < 1 || channels > 8) {
    trace("ES::init_pcm (ERROR): %d Hz, %d channels refused (48000 Hz, 1-8 channels only)\n", sample_rate, channels);
    payload_size_ = 0;
    return 1;
  }
  static const int kPayload[9] = {0, 2015, 2015, 2011, 2007, 2007, 1999, 1995, 1991};
  sample_rate_ = sample_rate;
  channels_ = channels;
  bit_rate_ = sample_rate * channels * 16;
  lpcm_frame_ = 160 * channels;
  unit_ticks_ = 160.0 * channels * 720000.0 / bit_rate_;
  payload_size_ = kPayload[channels];
  buffer_size_ = 59392;
  init_ = 1;
  return 0;
}

int ES::init_video(const uint8_t* data, int length) {
  SeqHdr s;
  if (s.decode(data, length) <= 0) return 0;
  seq_ = s;
  width_ = s.get_horizontal_size();
  height_ = s.get_vertical_size();
  mpeg2_ = s.mpeg2 ? 1 : 0;
  progressive_ = s.get_progressive_sequence();
  constrained_ = s.constrained_parameters_flag;
  pic_rate_ = s.get_frame_rate();
  if (pic_rate_ <= 0) {
    trace("ERROR (ES::init_video): pic_rate <= 0\n");
    pic_rate_ = 29.97002997002997;
  }
  bit_rate_ = s.is_vbr() ? 0 : s.get_bit_rate();
  if (bit_rate_ <= 0) {
    if (!s.is_vbr()) trace("ERROR (ES::init_video): bit_rate <= 0\n");
    bit_rate_ = mpeg2_ ? 4000000 : 1150000;
  }
  unit_ticks_ = 90000.0 / pic_rate_;
  half_ = unit_ticks_ / 2;
  if (buffer_size_ <= 0) {
    if (!mpeg2_) {
      buffer_size_ = width_ < 769 && height_ < 577 && bit_rate_ < 1856001 ? 47104
                                                                        : int(std::ceil(bit_rate_ * 0.02537931034482759));
    } else {
      const int64_t bits = s.get_vbv_buffer_size();
      buffer_size_ = bits > 0 ? int((bits + 7) / 8) : 229376;
    }
  }
  init_ = 1;
  return 1;
}


// ---- storing and parsing ----------------------------------------------------

int ES::store_data(const uint8_t* data, int length) {
  if (!data || length <= 0 || error_) return 0;
  if (limit_ <= 0) {
    const int64_t ten_seconds = int64_t(bit_rate_ > 0 ? bit_rate_ : 0) * 10 / 8;
    limit_ = std::max<int64_t>(kDefaultLimit, ten_seconds);
  }
  if (held() + length > limit_ * 2) {
    trace("ES::store_data (ERROR): stream 0x%02x holds %lld bytes, limit %lld\n", stream_id_,
          static_cast<long long>(held()), static_cast<long long>(limit_));
    return 0;
  }
  if (buf_.write(data, length) != length) {
    trace("ES::store_data (ERROR): no memory for %d bytes\n", length);
    return 0;
  }
  work_.insert(work_.end(), data, data + length);
  stored_ += length;
  peak_held_ = std::max(peak_held_, held());
  parse(false);
  return length;
}

void ES::set_end() {
  if (ended_) return;
  parse(true);
  ended_ = 1;
  close_unit(stored_);
  if (pending_anchor_ >= 0) {
    Unit& a = units_[size_t(pending_anchor_ - units_base_)];
    a.pts = double(cursor_ + 2) * half_ + correction_;
    a.resolved = true;
    cursor_ += a.fields;
    pending_anchor_ = -1;
  }
  work_.clear();
}

void ES::parse(bool at_end) {
  const int n = static_cast<int>(work_.size());
  int used = 0;
  if (is_video())
    used = parse_video(work_.data(), n, work_base_, at_end);
  else
    used = parse_audio(work_.data(), n, work_base_, at_end);
  used = std::clamp(used, 0, n);
  if (used > 0) {
    work_.erase(work_.begin(), work_.begin() + used);
    work_base_ += used;
  }
}

int ES::parse_video(const uint8_t* d, int n, int64_t base, bool at_end) {
  StartCodeCursor sc(d, n);
  while (sc.next()) {
    const int code = sc.code();
    if (code != 0xB3 && code != 0xB8 && code != 0x00) continue;
    const int p = static_cast<int>(sc.offset());
    StartCodeCursor q(d, n);
    q.seek(p + 3);
    int span;
    if (q.find_if([](uint8_t c) { return !is_ext(c); }))
      span = static_cast<int>(q.offset()) + 4 - p;
    else if (at_end || n - p >= kMaxGroup)
      span = n - p;
    else
      return p;  // the group is not complete yet
    span = std::min(span, kMaxGroup);
    const int64_t abs = base + p;
    if (code == 0xB3 || code == 0xB8) {
      if (group_start_ < 0) group_start_ = abs;
      if (code == 0xB3) {
        seq_starts_.push_back(abs);
        if (!init_) init_video(d + p, span);
      }
    } else if (init_) {
      PicHdr h;
      int type = PIC_TYPE_P, fields = 2, structure = PIC_FRAME;
      if (h.decode(d + p, span) > 0 && !(h.errors & PIC_ERR_FATAL)) {
        type = h.picture_coding_type;
        fields = h.get_field_count(progressive_);
        structure = h.get_picture_structure();
        if (vbv_delay_ < 0) vbv_delay_ = h.vbv_delay;
      } else {
        trace("ERROR (ES::video_packet): pichdr::decode () failed\n");
      }
      add_picture(group_start_ >= 0 ? group_start_ : abs, abs, type, fields, structure);
      group_start_ = -1;
    }
    sc.seek(p + 3);
  }
  return n - 3;
}

int ES::parse_audio(const uint8_t* d, int n, int64_t base, bool at_end) {
  int pos = static_cast<int>(next_frame_ - base);
  if (kind_ == ES_KIND_LPCM) {
    while (pos < n) {
      add_frame(base + pos);
      pos += lpcm_frame_;
    }
    next_frame_ = base + pos;
    return n;
  }
  const int need = kind_ == ES_KIND_AC3 ? 8 : 4;
  while (pos >= 0 && n - pos >= need) {
    const uint8_t* h = d + pos;
    int size = 0;
    if (kind_ == ES_KIND_MPEG_AUDIO) {
      FrmHdr f;
      const uint32_t word = (uint32_t(h[0]) << 24) | (uint32_t(h[1]) << 16) | (uint32_t(h[2]) << 8) | h[3];
      if (f.parse(word) == 0 && (!init_ || frm_.same_stream(f) == 0)) {
        if (!init_) {
          frm_ = f;
          sample_rate_ = f.sample_rate;
          channels_ = f.channels;
          layer_ = f.layer;
          bit_rate_ = f.bit_rate;
          unit_ticks_ = f.samples_per_frame() * 90000.0 / f.sample_rate;
          buffer_size_ = buffer_size_ > 0 ? buffer_size_ : 4096;
          init_ = 1;
        }
        size = f.frame_size;
      }
    } else if (h[0] == 0x0B && h[1] == 0x77) {
      AC3Bsi b;
      b.fscod = h[4] >> 6;
      b.frmsizecod = h[4] & 63;
      b.bsid = h[5] >> 3;
      size = b.get_frame_size();
      const int rate = b.get_sample_rate();
      if (size > 0 && rate > 0 && !init_) {
        sample_rate_ = rate;
        channels_ = 2;
        AC3FrmHdr full;
        if (full.decode_bsi(h, n - pos) == 0) channels_ = full.get_channels();
        bit_rate_ = int(int64_t(size) * 8 * rate / 1536);
        static const int kRates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                       192, 224, 256, 320, 384, 448, 512, 576, 640};
        if (b.frmsizecod / 2 < 19) bit_rate_ = kRates[b.frmsizecod / 2] * 1000;
        unit_ticks_ = 1.3824e8 / rate;
        buffer_size_ = buffer_size_ > 0 ? buffer_size_ : 4096;
        init_ = 1;
      }
    }
    if (size > 0) {
      add_frame(base + pos);
      pos += size;
      continue;
    }
    // Not a frame of this stream: the bytes join the frame before.
    ++pos;
    while (pos <= n - 2 && !((kind_ == ES_KIND_AC3 && d[pos] == 0x0B && d[pos + 1] == 0x77) ||
                             (kind_ == ES_KIND_MPEG_AUDIO && d[pos] == 0xFF && (d[pos + 1] & 0xE0) == 0xE0)))
      ++pos;
  }
  (void)at_end;
  next_frame_ = base + pos;
  return std::min(pos, n);
}

void ES::close_unit(int64_t end) {
  if (!units_.empty() && units_.back().end < 0) units_.back().end = std::max(end, units_.back().start);
}

void ES::add_frame(int64_t start) {
  close_unit(start);
  Unit u{start, -1, 0, 0, 2, 0, true, false};
  u.pts = u.dts = audio_frames_ * unit_ticks_;
  ++audio_frames_;
  ++units_total_;
  units_.push_back(u);
}

void ES::add_picture(int64_t boundary, int64_t start, int type, int fields, int structure) {
  if (structure != PIC_FRAME) {
    if (field_open_) {
      // The second field completes the unit its first field opened.
      field_open_ = false;
      if (!units_.empty()) {
        Unit& u = units_.back();
        u.fields += fields;
        if (u.type == PIC_TYPE_B) cursor_ += fields;
      }
      return;
    }
    field_open_ = true;
  } else {
    field_open_ = false;
  }
  close_unit(boundary);
  Unit u{start, -1, 0, 0, fields, type, false, false};
  if (type == PIC_TYPE_B) {
    u.pts = u.dts = double(cursor_ + 2) * half_ + correction_;
    u.resolved = true;
    cursor_ += fields;
  } else {
    if (pending_anchor_ >= 0) {
      Unit& a = units_[size_t(pending_anchor_ - units_base_)];
      a.pts = double(cursor_ + 2) * half_ + correction_;
      a.resolved = true;
      cursor_ += a.fields;
      last_anchor_pts_ = a.pts;
      have_anchor_ = true;
    }
    if (have_anchor_) {
      u.dts = last_anchor_pts_;
    } else if (!units_.empty()) {
      u.dts = units_.back().dts + half_;
    } else {
      u.dts = correction_;
    }
    pending_anchor_ = units_base_ + int64_t(units_.size());
  }
  if (units_total_ == 0) first_pts_ = u.resolved ? u.pts : 2 * half_;
  ++units_total_;
  units_.push_back(u);
}

// ---- the decoder buffer model -------------------------------------------------

void ES::remove_until(double t) {
  while (!units_.empty()) {
    const Unit& u = units_.front();
    const double when = start_ + u.dts;
    if (when > t) break;
    if (u.end < 0 || u.end > sent_) {
      // Due but not all here: the decoder would have run dry.
      if (!units_.front().late) {
        ++late_;
        units_.front().late = true;
      }
      break;
    }
    removed_ = u.end;
    units_.pop_front();
    ++units_base_;
  }
}

int64_t ES::room(double t) {
  remove_until(t);
  return int64_t(buffer_size_) - (sent_ - removed_);
}

double ES::deadline() const {
  for (const Unit& u : units_)
    if (u.end < 0 || u.end > sent_) return start_ + u.dts;
  return kNever;
}

double ES::next_removal(double t) const {
  for (const Unit& u : units_) {
    const double when = start_ + u.dts;
    if (when > t) return when;
  }
  return kNever;
}

int64_t ES::deliverable() const {
  if (!init_) return ended_ ? held() : 0;
  if (ended_ || pending_anchor_ < 0) return held();
  const Unit& a = units_[size_t(pending_anchor_ - units_base_)];
  return std::clamp<int64_t>(a.start - sent_, 0, held());
}

int ES::next_stamp(int64_t n, double* pts, double* dts) const {
  for (const Unit& u : units_) {
    if (u.start < sent_) continue;
    if (u.start >= sent_ + n) break;
    if (!u.resolved) return -1;
    *pts = start_ + u.pts;
    *dts = start_ + u.dts;
    return static_cast<int>(u.start - sent_);
  }
  return -1;
}

double ES::last_time() const {
  if (units_.empty()) return start_;
  const Unit& u = units_.back();
  return start_ + (u.resolved ? u.pts : u.dts);
}

int ES::second_unit_start(int64_t n) const {
  int seen = 0;
  for (const Unit& u : units_) {
    if (u.start < sent_) continue;
    if (u.start >= sent_ + n) break;
    if (seen++) return static_cast<int>(u.start - sent_);
  }
  return -1;
}

int64_t ES::unit_span(int count) const {
  int seen = 0;
  for (const Unit& u : units_) {
    if (u.start < sent_) continue;
    if (!u.resolved || u.end < 0) return -1;
    if (++seen == count) return u.end - sent_;
  }
  return ended_ && seen == 0 && held() > 0 ? held() : -1;
}

int ES::unit_starts(int64_t n, UnitStart* out, int max) const {
  int k = 0;
  for (const Unit& u : units_) {
    if (u.start < sent_) continue;
    if (u.start >= sent_ + n || k >= max) break;
    out[k++] = UnitStart{static_cast<int>(u.start - sent_), u.type, start_ + (u.resolved ? u.pts : u.dts)};
  }
  return k;
}

int64_t ES::next_sequence_header(int64_t n) const {
  for (const int64_t s : seq_starts_) {
    if (s <= sent_) continue;
    if (s >= sent_ + n) break;
    return s - sent_;
  }
  return -1;
}

int ES::take(uint8_t* dst, int n) {
  const int got = buf_.read(dst, n);
  sent_ += got;
  while (!seq_starts_.empty() && seq_starts_.front() < sent_) seq_starts_.pop_front();
  return got;
}

int ES::next_packet(double clock, uint8_t* dst, int room_bytes, int max_payload) {
  ts_kind_ = TS_NONE;
  if (!dst || room_bytes <= 0) return 0;
  if (max_payload <= 0) max_payload = payload_size_;
  int64_t n = std::min<int64_t>({deliverable(), int64_t(room_bytes), int64_t(max_payload)});
  if (n <= 0 || room(clock) < n) return 0;
  double p = 0, d = 0;
  const int off = next_stamp(n, &p, &d);
  const int second = second_unit_start(n);
  if (second > 0) n = second;
  if (off == 0) {
    ts_kind_ = d != p ? TS_PTS_DTS : TS_PTS;
    pts_ = p;
    dts_ = d;
  } else if (off > 0) {
    n = off;  // the unit starts the next packet, with its stamps
  }
  const int got = take(dst, static_cast<int>(n));
  if (got > 0) ++packets_;
  return got;
}

void ES::pcm_header(uint8_t out[7], int n, int packet_index) const {
  // Frames that start in the packet and where the first of them starts.
  int frames = 0, first = -1;
  const int64_t carried = lpcm_frame_ > 0 ? sent_ % lpcm_frame_ : 0;
  if (lpcm_frame_ > 0) {
    int64_t at = carried ? lpcm_frame_ - carried : 0;
    first = at < n ? int(at) : -1;
    for (; at < n; at += lpcm_frame_) ++frames;
  }
  if (frames > 0 && packet_index > 0) ++frames;
  const int pointer = carried ? int(lpcm_frame_ - carried + 4) : 0;
  const int64_t frame_no = lpcm_frame_ > 0 ? (sent_ + (first > 0 ? first : 0)) / lpcm_frame_ : 0;
  out[0] = static_cast<uint8_t>(sub_id_ >= 160 && sub_id_ <= 167 ? sub_id_ : 160);
  out[1] = static_cast<uint8_t>(frames);
  out[2] = static_cast<uint8_t>(pointer >> 8);
  out[3] = static_cast<uint8_t>(pointer);
  out[4] = static_cast<uint8_t>(frame_no % 20);
  out[5] = static_cast<uint8_t>(channels_ - 1);
  out[6] = 0x80;
}

void ES::ac3_header(uint8_t out[4], int n) const {
  int frames = 0, first = -1;
  for (const Unit& u : units_) {
    if (u.start < sent_) continue;
    if (u.start >= sent_ + n) break;
    if (first < 0) first = int(u.start - sent_);
    ++frames;
  }
  const int pointer = first >= 0 ? first + 1 : 0;
  out[0] = static_cast<uint8_t>(sub_id_ ? sub_id_ : 128);
  out[1] = static_cast<uint8_t>(frames);
  out[2] = static_cast<uint8_t>(pointer >> 8);
  out[3] = static_cast<uint8_t>(pointer);
}

#include "mux/psmux.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "foundation/mpeg_fields.h"
#include "foundation/rewriters.h"
#include "foundation/pic_header.h"
#include "foundation/trace.h"

namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();
constexpr int kVcdSector = 2324;
constexpr double kVcdSectorTicks = 1200.0;  // 75 sectors a second

int64_t round_up_400(double bits) {
  const int64_t b = static_cast<int64_t>(std::ceil(bits));
  return (b + 399) / 400 * 400;
}

// A 5-byte time-stamp field with its prefix nibble.
void put_ts(uint8_t* out, double t, int prefix) {
  encode_pts(t, out);
  out[0] = static_cast<uint8_t>((out[0] & 0x0F) | (prefix << 4));
}

}  // namespace

PSMux::PSMux(int type, int n_es, const ESData* es_list, const char* file_name, int* failed, int nav_option)
    : Muxer(type, n_es, es_list, file_name, failed) {
  if (type < MUX_MPEG1_SYSTEM || type > MUX_SVCD) {
    trace("PSMux::PSMux (ERROR): illegal mux-type %d\n", type);
    failed_ = 1;
    if (failed) *failed = 1;
    return;
  }
  if (failed_) return;
  if (nav_option > 0 && nav_option < 100) nav_vob_id_ = nav_option;
  int video = 0, mpa = 0;
  for (auto& e : es_) {
    if (e->is_video()) ++video;
    if (e->kind() == ES_KIND_MPEG_AUDIO) ++mpa;
    if (e->kind() == ES_KIND_AC3) ++ac3_count_;
    if (e->kind() == ES_KIND_LPCM) ++pcm_count_;
  }
  mpa_count_ = mpa;
  if (type_ == MUX_VCD && !(video == 1 && mpa == 1 && es_.size() == 2)) type_ = MUX_MPEG1_SYSTEM;
  if ((ac3_count_ || pcm_count_) && (type_ == MUX_MPEG1_SYSTEM || type_ == MUX_VCD)) {
    trace("PSMux::PSMux (ERROR): AC-3 and LPCM need an MPEG-2 program stream\n");
    failed_ = 1;
    if (failed) *failed = 1;
    return;
  }
  if (type_ == MUX_SVCD) {
    type_ = MUX_MPEG2_PROGRAM;
    svcd_ = 1;
  }
  const bool mpeg1 = type_ != MUX_MPEG2_PROGRAM;
  row_ = type_ == MUX_VCD ? Row{12, 18, 13, 2294, 2279, 2324, 0}
         : mpeg1          ? Row{12, 17, 12, 2019, 2024, 2048, 1}
                          : Row{14, 19, 14, 2015, 2020, 2048, 1};
  first_packet_.assign(es_.size(), 1);
  if (nav_vob_id_ > 0 && type_ == MUX_MPEG2_PROGRAM && !svcd_ && video == 1) nav_ = std::make_unique<NVPackList>(nav_vob_id_);
}

int PSMux::nav_entry(const double* starts, int count) {
  if (!nav_ || started_ || !starts) return 0;
  if (count < 1 || count > kNavMaxChapters) {
    trace("illegal number of chapters = %d > %d (max).\n", count, kNavMaxChapters);
    return 0;
  }
  chapters_.assign(starts, starts + count);
  return 1;
}

PSMux::~PSMux() { finish(); }

void PSMux::set_svcd(int on) {
  if (started_) return;
  svcd_ = on ? 1 : 0;
  if (svcd_ && type_ != MUX_MPEG2_PROGRAM) svcd_ = 0;
}

void PSMux::set_minimize(int on) {
  minimize_ = (type_ == MUX_VCD || svcd_) ? 0 : (on ? 1 : 0);
  for (auto& e : es_) e->set_minimize(minimize_);
}

int PSMux::pack_state(int* a, int* b) {
  if (a) *a = static_cast<int>(packs_);
  if (b) *b = rate_field_;
  return 0;
}

double PSMux::set_syshdr_rate(double rate) {
  if (written_ > 0) return syshdr_rate_;
  const double old = syshdr_rate_;
  if (rate > 0 && rate <= 1) syshdr_rate_ = rate;
  return old;
}

int PSMux::set_mux_rate(int rate) {
  if (written_ > 0) return mux_rate_;
  mux_rate_ = std::max(rate, get_mux_rate());
  if (mux_rate_ <= 0) mux_rate_ = 400;
  rate_field_ = (mux_rate_ + 399) / 400;
  return mux_rate_;
}

int PSMux::set_mux_rate_units(int bps) {
  if (bps <= 0) bps = get_mux_rate();
  return Muxer::set_mux_rate_units(bps);
}

int PSMux::vbr_set_mux_rate(int frames) {
  if (frames <= 0) {
    trace("ERROR (vbr_set_mux_rate): video_frames=%d\n", frames);
    return 0;
  }
  return rate_field_ * 400;
}

int PSMux::set_payload_sizes(bool video, int size) {
  const int hdr = type_ == MUX_MPEG2_PROGRAM ? 9 : 7;
  if (size - hdr <= 0) {
    trace("PSMux::set_%s_packet_size (ERROR): size=%d < %d=min\n", video ? "video" : "audio", size, hdr);
    return 0;
  }
  for (auto& e : es_)
    if (e->is_video() == video) e->set_payload_size(size - hdr);
  return size - hdr;
}

int PSMux::set_video_packet_size(int size) { return set_payload_sizes(true, size); }
int PSMux::set_audio_packet_size(int size) { return set_payload_sizes(false, size); }

// ---- rates and start ------------------------------------------------------------

int PSMux::get_mux_rate() {
  for (auto& e : es_)
    if (!e->initialised()) {
      trace("ERROR (get_mux_rate): not all ES has been initialized\n");
      return 0;
    }
  if (type_ == MUX_VCD) return 1411200;
  const int n = stream_count();
  double bits = 0;
  int packets = 0;
  for (auto& e : es_) {
    int pay = e->is_video() ? row_.vpay : row_.apay;
    if (e->kind() == ES_KIND_AC3) pay -= 4;
    if (e->kind() == ES_KIND_LPCM) pay -= 7;
    if (pay <= 0) {
      trace("ERROR (PSMux::get_mux_rate): es_payload_size <= 0\n");
      return 0;
    }
    const int hdr = e->is_video() ? row_.vhdr : row_.ahdr;
    bits += double(row_.pack + hdr + pay) * e->bit_rate() / pay;
    packets += int(std::ceil(e->bit_rate() / (8.0 * pay)));
  }
  const int syshdr = type_ == MUX_MPEG1_SYSTEM ? row_.pack + 12 + 3 * n + 16 * n : row_.pack + 12 + 3 * n;
  bits += syshdr * 8.0 * syshdr_rate_;
  csps_ = videos_ == 1 && packets <= 300 ? 1 : 0;
  for (auto& e : es_)
    if (e->is_video() && !e->constrained()) csps_ = 0;
  return int(round_up_400(bits));
}

double PSMux::compute_start_delay() const {
  double delay = 0;
  for (auto& e : es_) {
    if (!e->is_video()) continue;
    delay = std::max(delay, 4 * 90000.0 / e->frame_rate());
    const int vbv = e->first_vbv_delay();
    if (vbv > 0 && vbv != 0xFFFF) delay = std::max(delay, double(vbv));
    // Time to fill most of the buffer at the pack rate.
    delay = std::max(delay, 0.75 * e->get_buffer_size() * 90000.0 / step_rate_);
  }
  // Never less than a tenth of a second: the first audio frame must be in
  // before its time even without a picture to wait for.
  return std::clamp(delay, 9000.0, 90000.0);
}

int PSMux::mpeg1_start() {
  for (auto& e : es_)
    if (!e->initialised()) {
      trace("Program::mpeg1_mux_start (ERROR): not all ES has been initialized\n");
      return 0;
    }
  int rate = get_mux_rate();
  if (rate <= 0) return 0;
  rate = rate < 1500000 ? 1500000 : rate + 512000;
  mux_rate_ = rate;
  rate_field_ = (rate + 399) / 400;
  step_rate_ = rate_field_ * 50.0;
  clock_step_ = 90000.0 / step_rate_;
  for (auto& e : es_) {
    if (e->is_video()) continue;
    e->set_buffer_size(4096);
  }
  return 1;
}

int PSMux::vcd_start() {
  ES* v = nullptr;
  ES* a = nullptr;
  for (auto& e : es_) (e->is_video() ? v : a) = e.get();
  bool ok = v && a && v->kind() == ES_KIND_MPEG1_VIDEO && a->kind() == ES_KIND_MPEG_AUDIO;
  if (ok) {
    const double fr = v->frame_rate();
    const int w = v->seqhdr().get_horizontal_size(), h = v->seqhdr().get_vertical_size();
    ok = fr <= 30.0 && w == 352 && h == (std::lround(fr) == 25 ? 288 : 240) && v->bit_rate() <= 1152000 &&
         a->bit_rate() == 224000 && a->sample_rate() == 44100 && a->audio_layer() == 2;
  }
  if (!ok) {
    trace("PSMux::vcd_start: the streams are not a Video CD pair; writing an MPEG-1 system stream\n");
    type_ = MUX_MPEG1_SYSTEM;
    row_ = Row{12, 17, 12, 2019, 2024, 2048, 1};
    for (auto& e : es_) e->set_payload_size(e->is_video() ? row_.vpay + 10 : row_.apay);
    return mpeg1_start();
  }
  vcd_ = 1;
  v->set_payload_size(2294);
  v->set_buffer_size(47104);
  a->set_payload_size(2279);
  a->set_buffer_size(4096);
  mux_rate_ = 1411200;
  rate_field_ = 3528;
  step_rate_ = 176400.0;
  clock_step_ = 90000.0 / step_rate_;
  return 1;
}

int PSMux::mpeg2_start() {
  for (auto& e : es_)
    if (!e->initialised()) {
      trace("PSMux::mpeg2_start (ERROR): not all ES has been initialized\n");
      return 0;
    }
  if (svcd_) {
    ES* v = nullptr;
    ES* a = nullptr;
    for (auto& e : es_) (e->is_video() ? v : a) = e.get();
    bool ok = es_.size() == 2 && v && a && a->kind() == ES_KIND_MPEG_AUDIO;
    if (ok)
      ok = check_svcd_video(v->video_mpeg2(), v->frame_rate(), v->seqhdr().get_horizontal_size(),
                            v->seqhdr().get_vertical_size()) &&
           check_svcd_audio(a->audio_layer(), a->sample_rate(), a->channels(), a->bit_rate());
    if (!ok) {
      trace("PSMux::mpeg2_start: the streams do not meet SVCD; writing an MPEG-2 program stream\n");
      svcd_ = 0;
      for (auto& e : es_) e->set_payload_size(e->is_video() ? row_.vpay + 10 : row_.apay);
    } else {
      row_ = Row{14, 19, 14, 2291, 2296, 2324, 1};
      v->set_payload_size(row_.vpay + 10);
      v->set_buffer_size(235520);
      a->set_payload_size(row_.apay);
      a->set_buffer_size(4096);
      rate_field_ = 6972;
      mux_rate_ = rate_field_ * 400;
      step_rate_ = rate_field_ * 50.0;
      clock_step_ = 90000.0 / step_rate_;
      return 1;
    }
  }
  const int rate = std::max(get_mux_rate(), mux_rate_);
  if (rate < 1) return 0;
  const int field = (rate + 399) / 400;
  const int step = std::max((field + 319) / 320 * 320, 20480);
  rate_field_ = step < 25200 ? 25200 : step + 5120;
  mux_rate_ = rate_field_ * 400;
  step_rate_ = step * 50.0;
  clock_step_ = 90000.0 / step_rate_;
  for (auto& e : es_) {
    if (e->is_video())
      e->set_buffer_size(e->video_mpeg2() ? 232 * 1024 : 46 * 1024);
    else if (e->kind() == ES_KIND_MPEG_AUDIO)
      e->set_buffer_size(4096);
    else
      e->set_buffer_size(58 * 1024);
  }
  return 1;
}

int PSMux::start() {
  int ok = 0;
  if (type_ == MUX_VCD)
    ok = vcd_start();
  else if (type_ == MUX_MPEG1_SYSTEM)
    ok = mpeg1_start();
  else
    ok = mpeg2_start();
  if (!ok) {
    failed_ = 1;
    return 0;
  }
  if (minimize_ && !vcd_) {
    // Joined packs carry bytes timed from their pack's SCR at the header's
    // rate; the clock runs at that rate so the two agree.
    step_rate_ = rate_field_ * 50.0;
    clock_step_ = 90000.0 / step_rate_;
  }
  start_delay_ = compute_start_delay();
  // Sound starts with the first picture shown, one frame after the first
  // decoding time.
  double first_video_pts = start_delay_;
  for (auto& e : es_)
    if (e->is_video()) {
      e->set_start_time(start_delay_);
      first_video_pts = start_delay_ + e->first_pts();
      break;
    }
  for (auto& e : es_)
    if (!e->is_video()) e->set_start_time(first_video_pts + audio_delay_ + e->start_delay());
  pack_.resize(size_t(row_.size) * 2 + 8192);
  started_ = 1;
  return 1;
}

// ---- byte layouts ------------------------------------------------------------------

int PSMux::pack_header(uint8_t* out) const {
  out[0] = 0, out[1] = 0, out[2] = 1, out[3] = 0xBA;
  const uint32_t r = uint32_t(rate_field_);
  if (type_ != MUX_MPEG2_PROGRAM) {
    put_ts(out + 4, scr_, 2);
    out[9] = static_cast<uint8_t>(0x80 | (r >> 15));
    out[10] = static_cast<uint8_t>(r >> 7);
    out[11] = static_cast<uint8_t>((r << 1) | 1);
    return 12;
  }
  encode_scr(scr_, out + 4);
  out[10] = static_cast<uint8_t>(r >> 14);
  out[11] = static_cast<uint8_t>(r >> 6);
  out[12] = static_cast<uint8_t>((r << 2) | 3);
  out[13] = 0xF8;
  return 14;
}

int PSMux::std_units(const ES& e, int* scale) const {
  if (type_ == MUX_MPEG2_PROGRAM) {
    if (e.is_video()) {
      *scale = 1;
      return (e.get_buffer_size() + 1023) / 1024;
    }
    if (e.kind() == ES_KIND_MPEG_AUDIO) {
      *scale = 0;
      return 32;
    }
    *scale = 1;
    return 58;
  }
  *scale = e.is_video() ? 1 : 0;
  return e.get_buffer_bound(0);
}

int PSMux::system_header(uint8_t* out) const {
  const uint32_t r = uint32_t(rate_field_);
  out[0] = 0, out[1] = 0, out[2] = 1, out[3] = 0xBB;
  out[6] = static_cast<uint8_t>(0x80 | (r >> 15));
  out[7] = static_cast<uint8_t>(r >> 7);
  out[8] = static_cast<uint8_t>((r << 1) | 1);
  if (type_ == MUX_MPEG2_PROGRAM) {
    out[9] = static_cast<uint8_t>(mpa_count_ << 2);
    out[10] = static_cast<uint8_t>(0xE0 | videos_);
    out[11] = 0x7F;
    static const uint8_t kEntries[12] = {0xB9, 0xE0, 0xE8, 0xB8, 0xC0, 0x20, 0xBD, 0xE0, 0x3A, 0xBF, 0xE0, 0x02};
    std::memcpy(out + 12, kEntries, sizeof kEntries);
    out[4] = 0, out[5] = 18;
    return 24;
  }
  out[9] = static_cast<uint8_t>((mpa_count_ << 2) | (svcd_ ? 0 : 2) | csps_);
  out[10] = static_cast<uint8_t>(0xE0 | videos_);
  out[11] = 0xFF;
  int n = 12;
  for (auto& e : es_) {
    int scale = 0;
    const int units = std_units(*e, &scale);
    out[n++] = static_cast<uint8_t>(e->stream_id());
    out[n++] = static_cast<uint8_t>(0xC0 | (scale << 5) | ((units >> 8) & 0x1F));
    out[n++] = static_cast<uint8_t>(units);
  }
  out[4] = static_cast<uint8_t>((n - 6) >> 8);
  out[5] = static_cast<uint8_t>(n - 6);
  return n;
}

int PSMux::padding_packet(uint8_t* out, int size) const {
  const int min = type_ == MUX_MPEG2_PROGRAM ? 6 : 7;
  if (size < min) return 0;
  out[0] = 0, out[1] = 0, out[2] = 1, out[3] = 0xBE;
  out[4] = static_cast<uint8_t>((size - 6) >> 8);
  out[5] = static_cast<uint8_t>(size - 6);
  if (size > 6) {
    out[6] = 0x0F;
    std::memset(out + 7, 0xFF, size_t(size - 7));
  }
  return size;
}

void PSMux::advance(int bytes) {
  if (vcd_)
    scr_ += kVcdSectorTicks;
  else
    scr_ += bytes * clock_step_;
}

int PSMux::write_system_header_pack() {
  header_written_ = 1;
  if (nav_on()) {
    // The first pack is an NV pack; its VOBU takes the first GOP.
    nav_awaiting_gop_ = true;
    return write_nav_pack();
  }
  if (type_ == MUX_MPEG2_PROGRAM && !svcd_ && videos_ > 0) {
    // It shares its pack with the first video packet.
    syshdr_pending_ = 1;
    return 0;
  }
  return write_syshdr_pack();
}

int PSMux::write_syshdr_pack() {
  syshdr_pending_ = 0;
  uint8_t* p = pack_.data();
  if (vcd_) {
    if (vcd_mux_system_headers(p, kVcdSystemHeaderBytes, scr_) != kVcdSystemHeaderBytes) return -1;
    if (mux_output(p, kVcdSystemHeaderBytes) != kVcdSystemHeaderBytes) return -1;
    scr_ += 2 * kVcdSectorTicks;
    packs_ += 2;
    return kVcdSystemHeaderBytes;
  }
  int n = pack_header(p);
  n += system_header(p + n);
  n += padding_packet(p + n, row_.size - n);
  if (mux_output(p, n) != n) return -1;
  advance(n);
  ++packs_;
  return n;
}

int PSMux::write_padding_pack() {
  if (syshdr_pending_ && write_syshdr_pack() < 0) return -1;
  uint8_t* p = pack_.data();
  int n = pack_header(p);
  n += padding_packet(p + n, row_.size - n);
  if (mux_output(p, n) != n) return -1;
  advance(n);
  ++packs_;
  return n;
}

int PSMux::write_pack(int i, bool forced) {
  ES& e = *es_[size_t(i)];
  const int64_t avail = e.deliverable();
  if (avail <= 0) return 0;
  const bool mpeg2 = type_ == MUX_MPEG2_PROGRAM;
  const bool video = e.is_video();
  if (nav_on() && video && e.at_sequence_header()) {
    if (nav_awaiting_gop_)
      nav_awaiting_gop_ = false;
    else if (write_nav_pack() < 0)
      return -1;
  }
  if (syshdr_pending_ && !video && write_syshdr_pack() < 0) return -1;
  const int syshdr = syshdr_pending_ ? 24 : 0;
  const bool first = first_packet_[size_t(i)] != 0;
  // Minimised: a video packet right after one of its own stream joins that
  // pack, without a pack header of its own.
  const bool joined = minimize_ && video && last_stream_ == i && !syshdr;
  const int pack_hdr = joined ? 0 : row_.pack;
  const int size = vcd_ && !video ? kVcdSector - 20 : row_.size;
  const int ts_room = video ? 10 : 5;
  const int sub = !mpeg2 ? 0 : e.kind() == ES_KIND_AC3 ? 4 : e.kind() == ES_KIND_LPCM ? 7 : 0;
  // Bytes of the packet header that do not depend on the stamps, and what
  // stamps cost on top.
  int fixed;
  if (mpeg2)
    fixed = 9 + (first ? 3 : 0) + sub;
  else if (vcd_)
    fixed = 6 + 2 + ts_room;
  else
    fixed = 6 + (first ? 2 : 0) + 1;
  auto ts_cost = [&](int tsb) { return vcd_ ? 0 : mpeg2 ? tsb : (tsb ? tsb : 0); };
  const int room = size - pack_hdr - syshdr - fixed;

  int64_t n = std::min<int64_t>(avail, room - ts_cost(ts_room));
  double pts = 0, dts = 0;
  int tsb = 0;
  int off = e.next_stamp(n, &pts, &dts);
  if (off >= 0) {
    tsb = video && dts != pts ? 10 : 5;
    n = std::min<int64_t>(avail, room - ts_cost(tsb));
    const int guard = tsb == 10 ? 16 : 11;
    if (video && off > 0 && off + guard > n) {
      // Too little of the picture would follow its stamps here.
      n = off;
      tsb = 0;
    } else if (video && !variable_rate()) {
      // At a constant rate the room is paid for anyway: every picture gets
      // stamps of its own, the next one starts a packet. A variable rate
      // fills the packet, its first picture stamped.
      const int second = e.second_unit_start(n);
      if (second > 0) n = second;
    }
  }
  if (tsb == 0) {
    if (off < 0) {
      n = std::min<int64_t>(avail, room);
      // A picture that would start in the extra room waits for its own packet.
      double p2, d2;
      const int o2 = video ? e.next_stamp(n, &p2, &d2) : -1;
      if (o2 > 0) n = o2;
    }
  }
  if (video && mpeg2 && (svcd_ || !minimize_)) {
    const int64_t s = e.next_sequence_header(n);
    if (s > 0) {
      n = s;
      if (off >= n) tsb = 0;
    }
  }
  if (e.kind() == ES_KIND_LPCM && !e.is_end()) n -= n % (2 * std::max(1, e.channels()));
  if (n <= 0) return 0;
  if (!forced && e.room(scr_) < n) return 0;
  if (forced && e.room(scr_) < n) {
    trace("PSMux::mux_pack: stream 0x%02x buffer overflow\n", e.stream_id());
  }

  const int header = fixed + ts_cost(tsb);
  const int shortfall = size - pack_hdr - syshdr - header - int(n);
  int stuffing = 0, pad = 0;
  if (shortfall > 0) {
    if (shortfall < (mpeg2 ? 6 : 7))
      stuffing = shortfall;
    else
      pad = shortfall;
  }

  uint8_t* p = pack_.data();
  int w = joined ? 0 : pack_header(p);
  if (syshdr) {
    w += system_header(p + w);
    syshdr_pending_ = 0;
  }
  const int sid = mpeg2 && sub ? 0xBD : e.stream_id();
  p[w++] = 0, p[w++] = 0, p[w++] = 1, p[w++] = static_cast<uint8_t>(sid);
  const int len_at = w;
  w += 2;
  int scale = 0;
  const int units = std_units(e, &scale);
  if (mpeg2) {
    const int hdr_len = tsb + (first ? 3 : 0) + stuffing;
    p[w++] = 0x81;
    p[w++] = static_cast<uint8_t>((tsb ? 0x80 : 0) | (tsb == 10 ? 0x40 : 0) | (first ? 0x01 : 0));
    p[w++] = static_cast<uint8_t>(hdr_len);
    if (tsb == 10) {
      put_ts(p + w, pts, 3), w += 5;
      put_ts(p + w, dts, 1), w += 5;
    } else if (tsb == 5) {
      put_ts(p + w, pts, 2), w += 5;
    }
    if (first) {
      p[w++] = 0x1E;
      p[w++] = static_cast<uint8_t>(0x40 | (scale << 5) | ((units >> 8) & 0x1F));
      p[w++] = static_cast<uint8_t>(units);
    }
    std::memset(p + w, 0xFF, size_t(stuffing));
    w += stuffing;
    if (e.kind() == ES_KIND_AC3) {
      e.ac3_header(p + w, int(n));
      w += 4;
    } else if (e.kind() == ES_KIND_LPCM) {
      e.pcm_header(p + w, int(n), e.packet_count());
      w += 7;
    }
  } else {
    // Stuffing, the STD field, then the stamps or 0x0F.
    const int fill = (vcd_ ? ts_room - (tsb ? tsb : 1) : (tsb ? 1 : 0)) + stuffing;
    std::memset(p + w, 0xFF, size_t(fill));
    w += fill;
    if (first || vcd_) {
      p[w++] = static_cast<uint8_t>(0x40 | (scale << 5) | ((units >> 8) & 0x1F));
      p[w++] = static_cast<uint8_t>(units);
    }
    if (tsb == 10) {
      put_ts(p + w, pts, 3), w += 5;
      put_ts(p + w, dts, 1), w += 5;
    } else if (tsb == 5) {
      put_ts(p + w, pts, 2), w += 5;
    } else {
      p[w++] = 0x0F;
    }
  }
  ES::UnitStart starts[256];
  const int n_starts = nav_on() && video ? e.unit_starts(n, starts, 256) : 0;
  if (e.take(p + w, int(n)) != n) return -1;
  w += int(n);
  const int plen = w - len_at - 2;
  p[len_at] = static_cast<uint8_t>(plen >> 8);
  p[len_at + 1] = static_cast<uint8_t>(plen);
  w += padding_packet(p + w, pad);
  if (vcd_ && !video) {
    std::memset(p + w, 0, 20);
    w += 20;
  }
  if (mux_output(p, w) != w) return -1;
  advance(w);
  if (nav_on()) nav_note_pack(i, uint32_t(packs_), starts, n_starts);
  if (!joined) ++packs_;
  e.count_packet();
  first_packet_[size_t(i)] = 0;
  last_stream_ = i;
  return w;
}

bool PSMux::all_ready() const {
  for (size_t i = 0; i < es_.size(); ++i) {
    const ES& e = *es_[i];
    if (!fed_[i]) return false;
    if (e.is_end()) continue;
    if (e.deliverable() < e.reserve() + e.payload_size()) return false;
  }
  return true;
}

int PSMux::mux_step(int final) {
  if (failed_ || write_error_) return 0;
  // A variable-rate flush may come before every stream has its first data:
  // the start needs them all.
  if (!started_ && !final && !all_ready()) return 1;
  if (!started_ && !start()) return 0;
  if (!header_written_ && write_system_header_pack() < 0) return 0;
  for (;;) {
    if (write_error_) return 0;
    if (!final && !all_ready()) return 1;
    int best = -1;
    double best_deadline = kNever;
    bool any = false;
    for (size_t i = 0; i < es_.size(); ++i) {
      ES& e = *es_[i];
      const int64_t avail = e.deliverable();
      if (avail <= 0) continue;
      any = true;
      const int64_t need = std::min<int64_t>(avail, e.payload_size());
      if (e.room(scr_) < need) continue;
      const double d = e.deadline();
      if (best < 0 || d < best_deadline) {
        best = int(i);
        best_deadline = d;
      }
    }
    if (!any) return 1;
    if (best >= 0) {
      const int r = write_pack(best, false);
      if (r < 0) return 0;
      if (r > 0) continue;
    }
    // Nobody can send now: wait for the next removal.
    double next = kNever;
    int urgent = -1;
    for (size_t i = 0; i < es_.size(); ++i) {
      ES& e = *es_[i];
      if (e.deliverable() <= 0) continue;
      next = std::min(next, e.next_removal(scr_));
      if (urgent < 0 || e.deadline() < es_[size_t(urgent)]->deadline()) urgent = int(i);
    }
    if (next == kNever) {
      // Nothing will ever leave: a unit larger than its buffer, or damage.
      if (urgent < 0 || write_pack(urgent, true) <= 0) return 0;
      continue;
    }
    if (variable_rate()) {
      scr_ = std::max(scr_, next);
      last_stream_ = -1;  // the next packet needs a pack header with the new clock
    } else if (write_padding_pack() < 0) {
      return 0;
    }
  }
}

int PSMux::add_es_data(int stream_id, const uint8_t* data, int length, int sub_id) {
  if (write_error_ || failed_) return 0;
  const int i = find_stream(stream_id, sub_id);
  if (i < 0) {
    trace("PSMux::add_es_data (ERROR): no stream 0x%02x\n", stream_id);
    return 0;
  }
  if (length > 0 && es_[size_t(i)]->store_data(data, length) != length) return 0;
  fed_[size_t(i)] = 1;
  handed_ += length;
  if (all_ready() && !mux_step(0)) return 0;
  return length;
}

void PSMux::set_stream_end(int stream_id, int sub_id) {
  Muxer::set_stream_end(stream_id, sub_id);
  if (!failed_ && !write_error_ && all_ready()) mux_step(0);
}

int PSMux::vbr_mux(int final) { return mux_step(final); }

int PSMux::write_end() {
  ended_written_ = 1;
  if (syshdr_pending_ && write_syshdr_pack() < 0) return -1;
  uint8_t* p = pack_.data();
  if (svcd_ || vcd_ || nav_on()) {
    // The end code closes a full pack: sector-based outputs stay whole.
    int n = pack_header(p);
    n += padding_packet(p + n, (nav_on() ? row_.size : kVcdSector) - 4 - n);
    p[n++] = 0, p[n++] = 0, p[n++] = 1, p[n++] = 0xB9;
    if (mux_output(p, n) != n) return -1;
    advance(n);
    ++packs_;
    return n;
  }
  static const uint8_t kEnd[4] = {0, 0, 1, 0xB9};
  return mux_output(kEnd, 4) == 4 ? 4 : -1;
}

int PSMux::finish() {
  if (finished_) return write_error_ || failed_ ? -1 : 0;
  if (!failed_ && !write_error_) {
    for (auto& e : es_) e->set_end();
    std::fill(fed_.begin(), fed_.end(), 1);
    if (mux_step(1) && !ended_written_) write_end();
  }
  const int r = Muxer::finish();
  if (r == 0 && !failed_ && nav_on() && nav_finish() < 0) {
    write_error_ = 1;
    return -1;
  }
  return failed_ ? -1 : r;
}

// ---- navigation packs ------------------------------------------------------------

int PSMux::write_nav_pack() {
  syshdr_pending_ = 0;
  const uint32_t lbn = uint32_t(packs_);
  if (nav_->size() > 0) {
    NVPackEntry& prev = nav_->entry(nav_->size() - 1);
    if (nav_ref_open_ >= 0) prev.ref_end[nav_ref_open_] = nav_last_video_lbn_;
    prev.next_lbn = lbn;
  }
  nav_ref_open_ = -1;
  NVPackEntry e;
  e.lbn = lbn;
  uint32_t scr_low = 0;
  int scr_ext = 0;
  split_scr(scr_, &scr_low, &scr_ext);  // the base the pack header carries
  e.scr = scr_low;
  e.s_ptm = UINT32_MAX;
  e.vob = nav_vob_id_;
  for (auto& s : es_)
    if (!s->is_video()) ++e.audio_count;
  nav_->add(e);
  uint8_t head[64];
  const int ph = pack_header(head);
  const int sh = system_header(head + ph);
  uint8_t* p = pack_.data();
  if (NVPackList::placeholder(p, head, ph, head + ph, sh) != kNavPackBytes) {
    trace("PSMux::write_nav_pack (ERROR): pack and system header take %d bytes\n", ph + sh);
    return -1;
  }
  if (mux_output(p, kNavPackBytes) != kNavPackBytes) return -1;
  advance(kNavPackBytes);
  ++packs_;
  return kNavPackBytes;
}

void PSMux::nav_note_pack(int i, uint32_t lbn, const ES::UnitStart* starts, int count) {
  if (nav_->size() == 0) return;
  NVPackEntry& e = nav_->entry(nav_->size() - 1);
  const ES& s = *es_[size_t(i)];
  if (!s.is_video()) {
    int k = 0;
    for (int j = 0; j < i; ++j)
      if (!es_[size_t(j)]->is_video()) ++k;
    if (k < kNavMaxAudio && e.audio_lbn[k] == 0) e.audio_lbn[k] = lbn;
    return;
  }
  for (int k = 0; k < count; ++k) {
    // A picture starts here: the one before it ended in this pack or the
    // video pack before.
    const ES::UnitStart& u = starts[k];
    if (nav_ref_open_ >= 0) e.ref_end[nav_ref_open_] = u.offset > 0 ? lbn : nav_last_video_lbn_;
    nav_ref_open_ = -1;
    const uint32_t t = uint32_t(std::llround(u.pts));
    e.s_ptm = std::min(e.s_ptm, t);
    nav_max_pts_ = std::max(nav_max_pts_, u.pts);
    if (u.type == PIC_TYPE_I || u.type == PIC_TYPE_P) {
      int refs = 0;
      while (refs < 3 && e.ref_end[refs]) ++refs;
      if (refs < 3) nav_ref_open_ = refs, e.ref_end[refs] = lbn;
    }
  }
  nav_last_video_lbn_ = lbn;
}

int PSMux::nav_finish() {
  const int n = nav_->size();
  if (n == 0) return 0;
  NVPackEntry& last = nav_->entry(n - 1);
  if (nav_ref_open_ >= 0) last.ref_end[nav_ref_open_] = nav_last_video_lbn_;
  last.next_lbn = uint32_t(packs_);
  double fps = 25.0;
  for (auto& s : es_)
    if (s->is_video()) fps = s->frame_rate();
  nav_->set_frame_rate(fps);
  for (int i = 0; i < n; ++i) {
    NVPackEntry& e = nav_->entry(i);
    if (e.s_ptm == UINT32_MAX) e.s_ptm = i > 0 ? nav_->entry(i - 1).e_ptm : 0;
    e.e_ptm = i + 1 < n ? nav_->entry(i + 1).s_ptm : uint32_t(std::llround(nav_max_pts_ + 90000.0 / fps));
    if (e.e_ptm > e.s_ptm + 90000)
      trace("PSMux: DVD violation: VOBU %d lasts %.3f s (more than 1.0 s)\n", i, (e.e_ptm - e.s_ptm) / 90000.0);
  }
  if (!nav_->prepare(chapters_.data(), int(chapters_.size()))) return -1;
  int fd = open(name_.c_str(), O_RDWR);
  if (fd < 0) {
    trace("PSMux::finish (ERROR): cannot reopen \"%s\" for the NV packs\n", name_.c_str());
    return -1;
  }
  const int r = nav_->patch(fd);
  if (close(fd) != 0) return -1;
  return r;
}

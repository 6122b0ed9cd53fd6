// GOP time-code repair over video elementary streams and program streams.
// The video bytes are gathered with the file offset of every chunk, so a
// header split by packet boundaries is still written at its real bytes.
#include "demux/gop_fixer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "demux/demuxer_cache.h"
#include "demux/program.h"
#include "demux/transport_demuxer.h"
#include "demux/trim_scan.h"
#include "foundation/bsfile.h"
#include "foundation/gop_header.h"
#include "foundation/mpeg_fields.h"
#include "foundation/pic_header.h"
#include "foundation/probe.h"
#include "foundation/seq_header.h"
#include "foundation/trace.h"
#include "foundation/utils.h"
#include "foundation/video_finders.h"

namespace {

constexpr int kChunk = 64 * 1024;
constexpr int kSeqNeed = 160;  // header, matrices and the extension
constexpr int kGopBytes = 8;
constexpr int kCopyBlock = 32768;

}  // namespace

GopFixer::GopFixer() = default;
GopFixer::~GopFixer() { close(); }

void GopFixer::cleanup() {
  dmx_.reset();
  ps_ = nullptr;
  in_.reset();
  upd_.reset();
  out_.reset();
  src_.reset();
  held_begin_ = held_end_ = 0;
  pieces_.clear();
  ts_pid_ = -1;
  ts_phase_ = 0;
  ts_block_.clear();
  pes_skip_ = 0;
  errors_.clear();
  audio_ = AudioCheck();
  abs_.clear();
  abs_fixed_ = 0;
  base_ = total_ = 0;
  position_ = 0;
  at_end_ = failed_ = false;
  fields_ = 0;
  field_position_ = 0;
  first_frame_ = -1;
  gops_ = long_gops_ = 0;
  have_seq_ = false;
  fixed_ = 0;
  fixing_ = fix_done_ = false;
  copied_ = 0;
  read_only_ = -1;
  name_.clear();
  type_ = 0;
}

int GopFixer::init(const char* name) {
  if (!name || !*name) return 1;
  int64_t t = 0;
  FileOffset size;
  if (!demux_file_stamp(name, &t, &size)) {
    trace("GopFixer::init (ERROR): <%s> cannot be read\n", name);
    return 1;
  }
  if (name_ == name && t == mtime_ && size.value() == size_ && type_) return 0;
  cleanup();
  const int type = mpegfile_get_stream_type(name);
  if (type == 2 || type == 3) {
    int err = 0;
    in_ = std::make_unique<BSFile>(name, 1, &err);
    if (err || !in_->is_open()) {
      in_.reset();
      return 1;
    }
  } else if (type >= 4 && type <= 7) {
    dmx_.reset(demuxer_create(name, 0));
    ps_ = dynamic_cast<DeMuxerProgram*>(dmx_.get());
    int ids[16];
    const int n = ps_ ? dmx_->get_video_es_list(ids, 16, nullptr) : 0;
    if (n <= 0) {
      trace("GopFixer::init (ERROR): <%s> has no video stream\n", name);
      dmx_.reset();
      ps_ = nullptr;
      return 1;
    }
    video_id_ = ids[0];
    init_audio();
    dmx_->goto_offset(FileOffset());
  } else if (type == 8) {
    // The PIDs are all the scan needs: the packets are walked here.
    const std::unique_ptr<DeMuxerTransport> ts = DeMuxerTransport::open_streams(name);
    int pids[16] = {};
    int ids[16] = {};
    const int n = ts ? ts->get_video_es_list(ids, 16, pids) : 0;
    int err = 0;
    if (n > 0) in_ = std::make_unique<BSFile>(name, 1, &err);
    if (n <= 0 || err || !in_ || !in_->is_open()) {
      trace("GopFixer::init (ERROR): <%s> has no video stream\n", name);
      in_.reset();
      return 1;
    }
    ts_pid_ = pids[0];
    video_id_ = ids[0];
    ts_phase_ = uint64_t(ts->get_sync_phase());
    in_->seek(FileOffset::from_u64(ts_phase_), 0);
    position_ = ts_phase_;
  } else {
    trace("GopFixer::init (ERROR): <%s>: stream type %d is not handled\n", name, type);
    return 1;
  }
  name_ = name;
  type_ = type;
  mtime_ = t;
  size_ = size.value();
  is_read_only();
  return 0;
}

void GopFixer::set_out_fname(const char* name) { out_name_ = name ? name : ""; }

int GopFixer::is_read_only() {
  if (read_only_ < 0) read_only_ = name_.empty() || !demux_open_for_update(name_, "GopFixer::is_read_only") ? 1 : 0;
  return read_only_;
}

// Video payloads of whole packets, each with its file offset. A PES header
// is stepped over, also when it runs on into the next packet of the PID.
bool GopFixer::read_ts_chunk() {
  constexpr int kPackets = 512;
  const size_t old_total = size_t(total_);
  while (size_t(total_) == old_total) {
    ts_block_.resize(size_t(kPackets) * kTSPacketSize);
    const size_t got = in_->read(ts_block_.data(), ts_block_.size());
    const size_t whole = got - got % kTSPacketSize;
    if (whole == 0) {
      position_ = size_;
      return false;
    }
    for (size_t k = 0; k < whole; k += kTSPacketSize) {
      const uint8_t* p = ts_block_.data() + k;
      const uint64_t file = position_ + k;
      if (p[0] != 0x47) {
        trace("GopFixer: no sync byte at %llu\n", (unsigned long long)file);
        continue;
      }
      const int pid = ((p[1] & 0x1F) << 8) | p[2];
      const int afc = (p[3] >> 4) & 3;
      if (pid != ts_pid_ || !(afc & 1)) continue;
      int at = 4;
      if (afc & 2) at += 1 + p[4];
      if (at >= kTSPacketSize) continue;
      if (p[1] & 0x40) {
        DeMuxerTransport::PesHeader h;
        if (DeMuxerTransport::parse_pes_header(p + at, kTSPacketSize - at, &h)) {
          trace("GopFixer: PES header of PID %d not read at %llu, packet skipped\n", pid, (unsigned long long)file);
          pes_skip_ = 0;
          continue;
        }
        pes_skip_ = h.start_offset + h.header_length;
      }
      const int skip = std::min(pes_skip_, kTSPacketSize - at);
      pes_skip_ -= skip;
      at += skip;
      const int n = kTSPacketSize - at;
      if (n <= 0) continue;
      pieces_.push_back({total_, file + uint64_t(at)});
      std::memcpy(held_room(size_t(n)), p + at, size_t(n));
      held_end_ += size_t(n);
      total_ += n;
    }
    position_ += whole;
    if (got != ts_block_.size()) {
      // A cut-off last packet: the position stands at the end.
      position_ = std::max<uint64_t>(position_, size_);
      if (size_t(total_) == old_total) return false;
    }
  }
  return true;
}

bool GopFixer::read_chunk() {
  if (ts_pid_ >= 0) return read_ts_chunk();
  if (in_) {
    const size_t got = in_->read(held_room(kChunk), kChunk);
    held_end_ += got;
    if (got == 0) return false;
    pieces_.push_back({total_, position_});
    total_ += int64_t(got);
    position_ += got;
    return true;
  }
  for (;;) {
    const int r = ps_->next_ps_packet(0);
    if (!(r & DeMuxerProgram::kPesFound)) {
      position_ = size_;
      return false;
    }
    if (r & DeMuxerProgram::kHeaderError) {
      // Stepped over like the demultiplexer does: 6 bytes from the start code.
      const uint64_t next = ps_->current_offset().value() + uint64_t(ps_->packet().start_code_offset) + 6;
      ps_->goto_offset(FileOffset::from_u64(next));
      continue;
    }
    const auto& k = ps_->packet();
    if (is_checked_audio()) {
      check_audio();
      continue;
    }
    if (k.stream_id != video_id_ || k.payload_size <= 0) {
      if (!ps_->skip_packet()) return false;
      continue;
    }
    const uint64_t file = ps_->current_offset().value() + uint64_t(k.payload_offset);
    const int want = k.payload_size;
    const int got = ps_->get_payload(held_room(size_t(want)), want);
    held_end_ += size_t(std::max(got, 0));
    position_ = ps_->current_offset().value();
    if (got <= 0) continue;
    pieces_.push_back({total_, file});
    total_ += got;
    return true;
  }
}

void GopFixer::init_audio() {
  audio_ = AudioCheck();
  int ids[16];
  const int n = dmx_->get_audio_es_list(ids, 16, nullptr);
  for (int i = 0; i < n; ++i) {
    const int id = ids[i];
    if (id >= 0xC0 && id <= 0xDF) {
      const FrmHdr* h = dmx_->get_audio_header(id, 0);
      if (!h || !h->valid || h->sample_rate <= 0) return;
      audio_.reference = *h;
      audio_.frame_ticks = h->samples_per_frame() * 90000.0 / h->sample_rate;
      audio_.frame_size = h->frame_size;
      audio_.ticks_per_byte = h->bit_rate > 0 ? 720000.0 / h->bit_rate : 0.0;
    } else if (id >= 0x80 && id <= 0x87) {
      const AC3FrmHdr* h = dmx_->get_ac3_header(id, 0);
      if (!h || h->sample_rate <= 0) return;
      audio_.ac3 = true;
      audio_.frame_ticks = 1536.0 * 90000.0 / h->sample_rate;
      audio_.frame_size = h->frame_size;
    } else {
      continue;
    }
    // A stream without a frame size cannot be counted: no check.
    if (audio_.frame_size <= 0) return;
    audio_.tolerance = double(int64_t(audio_.frame_ticks / 2));
    audio_.id = id;
    return;
  }
}

bool GopFixer::is_checked_audio() const {
  if (!audio_.id) return false;
  const auto& k = ps_->packet();
  return audio_.ac3 ? k.stream_id == 0xBD && k.sub_stream_id == audio_.id : k.stream_id == audio_.id;
}

// The PTS of an audio packet belongs to the first frame that begins in it:
// the frames counted so far, one more when a frame begun before is pending.
void GopFixer::check_audio() {
  AudioCheck& a = audio_;
  const auto& k = ps_->packet();
  const uint64_t pts_at = ps_->current_offset().value() + uint64_t(k.pes_fields_offset);
  if (k.flags & DeMuxerProgram::kHasPts) {
    const bool pending = a.ac3 ? a.ac3_bytes % a.frame_size != 0 : !a.held.empty();
    int64_t frames = (a.ac3 ? a.ac3_bytes / a.frame_size : a.frames) + (pending ? 1 : 0);
    if (a.base < 0) {
      a.base = k.pts;
      a.frames = a.ac3_bytes = 0;
      a.held.clear();
      a.skipped_ticks = 0.0;
      frames = 0;
    }
    const double expected = double(frames) * a.frame_ticks + a.skipped_ticks;
    if (std::fabs(expected - (k.pts - a.base)) >= a.tolerance) abs_.push_back({FileOffset::from_u64(pts_at), expected + a.base});
  }
  const int want = ps_->get_payload_size();
  if (want <= 0) {
    ps_->skip_packet();
    return;
  }
  if (a.base < 0) {
    // Bytes before the first time stamp do not count.
    ps_->skip_packet();
    return;
  }
  a.payload.resize(size_t(want));
  const int got = std::max(ps_->get_payload(a.payload.data(), want), 0);
  position_ = ps_->current_offset().value();
  if (a.ac3) {
    a.ac3_bytes += got;
    return;
  }
  a.held.insert(a.held.end(), a.payload.begin(), a.payload.begin() + got);
  const int n = int(a.held.size());
  int pos = 0;
  int64_t dropped = 0;  // bytes passed over that are no frame of ours
  while (n - pos >= 4) {
    FrmHdr h;
    const int skip = h.parse_buffer(a.held.data() + pos, n - pos);
    if (!h.valid || h.frame_size <= 0) {
      dropped += std::max(0, n - 3 - pos);
      pos = std::max(pos, n - 3);
      break;
    }
    if (h.same_stream(a.reference) != 0) {
      pos += skip + 1;
      dropped += skip + 1;
      continue;
    }
    dropped += skip;
    if (pos + skip + h.frame_size > n) {
      pos += skip;
      break;
    }
    pos += skip + h.frame_size;
    ++a.frames;
  }
  a.skipped_ticks += double(dropped) * a.ticks_per_byte;
  a.held.erase(a.held.begin(), a.held.begin() + pos);
}

uint8_t* GopFixer::held_room(size_t n) {
  const size_t kept = held_end_ - held_begin_;
  if (held_end_ + n > held_cap_) {
    if (kept + n > held_cap_) {
      const size_t cap = std::max(2 * held_cap_, kept + n + kChunk);
      std::unique_ptr<uint8_t[]> b(new uint8_t[cap]);
      if (kept) std::memcpy(b.get(), held_.get() + held_begin_, kept);
      held_ = std::move(b);
      held_cap_ = cap;
    } else if (kept) {
      std::memmove(held_.get(), held_.get() + held_begin_, kept);
    }
    held_begin_ = 0;
    held_end_ = kept;
  }
  return held_.get() + held_end_;
}

bool GopFixer::file_of(int64_t a, uint64_t* file) const {
  size_t j = pieces_.size();
  while (j > 0 && pieces_[j - 1].at > a) --j;
  if (j == 0) return false;
  *file = pieces_[j - 1].file + uint64_t(a - pieces_[j - 1].at);
  return true;
}

void GopFixer::check_gop(const uint8_t* h, int n, int64_t at) {
  GopHdr g;
  g.set_frame_rate(rate_);
  if (g.decode(h, n) <= 0) return;
  if (fields_ & 1) trace("GopFixer: odd field count %d before the GOP at video offset %lld\n", fields_, (long long)at);
  const int found = g.get_frame();
  if (first_frame_ < 0) {
    first_frame_ = found;
    drop_ = g.get_drop_frame_flag();
    fields_ = 0;
    field_position_ = int64_t(found) * 2;
  }
  // Fields rounded up: a GOP one field longer than the limit is long.
  if ((fields_ + 1) / 2 > gop_limit_) ++long_gops_;
  field_position_ += fields_;
  fields_ = 0;
  ++gops_;
  if (std::llabs(2 * int64_t(found) - field_position_) <= 2) return;
  GopTimeRecord r;
  r.expected.set_frame_rate(rate_);
  r.expected.init(drop_);
  r.expected.smpte_4_gop(int((field_position_ + 1) / 2));
  r.found = g.time;
  uint64_t first = 0, last = 0;
  if (!file_of(at, &first) || !file_of(at + kGopBytes - 1, &last)) return;
  r.start = FileOffset::from_u64(first);
  if (last == first + kGopBytes - 1) {
    r.offset = r.start;
    r.count = kGopBytes;
  } else {
    // The piece holding the header's end: where it starts and how many of
    // the header's bytes it holds.
    size_t j = pieces_.size();
    while (j > 0 && pieces_[j - 1].at > at + kGopBytes - 1) --j;
    const Piece& p = pieces_[j - 1];
    r.offset = FileOffset::from_u64(p.file);
    r.count = int(at + kGopBytes - p.at);
    if (j >= 2 && pieces_[j - 2].at > at) {
      trace("GopFixer: GOP header at video offset %lld spans three packets, not rewritten\n", (long long)at);
      return;
    }
  }
  errors_.push_back(r);
}

int GopFixer::parse(int max_gops) {
  int checked = 0;
  const uint8_t* d = held_ ? held_.get() + held_begin_ : nullptr;
  const int n = int(held_end_ - held_begin_);
  const bool eof = at_end_;
  const int m = trim_min_picture_bytes(mpeg2_ != 0);
  int pos = 0;
  while (n - pos >= 4 && checked < max_gops) {
    int code = 0;
    const int at = pos + find_next_header_start(d + pos, n - pos, &code);
    if (code == 0xFFF) {
      pos = std::max(pos, n - 3);
      break;
    }
    const int behind = n - at;
    const uint8_t* h = d + at;
    if (code == 0x1B3) {
      if (behind < kSeqNeed && !eof) {
        pos = at;
        break;
      }
      if (!have_seq_) {
        SeqHdr s;
        if (s.decode(h, behind) > 0 && !s.invalid) {
          have_seq_ = true;
          rate_ = s.get_frame_rate();
          progressive_ = s.get_progressive_sequence();
          mpeg2_ = s.seq_ext ? 1 : 0;
          gop_limit_ = rate_ <= 25.0 ? 15 : 18;
          s.get_video_info(&video_);
        }
      }
      pos = at + 4;
    } else if (code == 0x1B8) {
      if (behind < kGopBytes) {
        pos = at;
        break;
      }
      check_gop(h, behind, base_ + at);
      ++checked;
      pos = at + kGopBytes;
    } else {
      if (behind < m && !eof) {
        pos = at;
        break;
      }
      PicHdr pic;
      if (pic.decode(h, behind) > 0) fields_ += pic.get_field_count(progressive_);
      pos = at + 4;
    }
  }
  held_begin_ += size_t(pos);
  base_ += pos;
  size_t drop = 0;
  while (drop + 1 < pieces_.size() && pieces_[drop + 1].at <= base_) ++drop;
  pieces_.erase(pieces_.begin(), pieces_.begin() + long(drop));
  return checked;
}

int GopFixer::scan() {
  if (at_end_) return 0;
  if (!in_ && !ps_) {
    trace("GopFixer::scan (ERROR): nothing open\n");
    return -1;
  }
  const uint64_t from = position_;
  int checked = 0;
  while (checked < 2) {
    checked += parse(2 - checked);
    if (checked >= 2) break;
    if (!read_chunk()) {
      at_end_ = true;
      parse(1 << 30);
      break;
    }
  }
  const uint64_t moved = position_ > from ? position_ - from : 0;
  return at_end_ && moved == 0 ? 0 : int(std::max<uint64_t>(moved, 1));
}

bool GopFixer::copy_to(uint64_t target) {
  target = std::min(target, size_);
  std::vector<uint8_t> b(kCopyBlock);
  while (copied_ < target) {
    const size_t want = size_t(std::min<uint64_t>(kCopyBlock, target - copied_));
    src_->seek(FileOffset::from_u64(copied_), 0);
    out_->seek(FileOffset::from_u64(copied_), 0);
    const size_t got = src_->read(b.data(), want);
    if (got != want) {
      trace("ERROR (GopFixer): read %zu of %zu bytes at %llu\n", got, want, (unsigned long long)copied_);
      return false;
    }
    if (out_->write(b.data(), got) != got) {
      trace("ERROR (GopFixer): short write to <%s>\n", out_name_.c_str());
      return false;
    }
    copied_ += got;
  }
  return true;
}

int GopFixer::fix() {
  if (name_.empty() || failed_) return -1;
  if (fix_done_) return fixed_ + abs_fixed_;
  if (!fixing_) {
    if (errors_.empty() && abs_.empty()) {
      trace("GopFixer::fix (): nothing to fix\n");
      fix_done_ = true;
      return 0;
    }
    if (!out_name_.empty()) {
      int e1 = 0, e2 = 0;
      src_ = std::make_unique<BSFile>(name_.c_str(), 1, &e1);
      out_ = std::make_unique<BSFile>(out_name_.c_str(), 2, &e2);
      if (e1 || e2 || !src_->is_open() || !out_->is_open() || out_->kind() != BSFile::Kind::plain) {
        trace("ERROR (GopFixer::fix): cannot open <%s> to write\n", out_name_.c_str());
        failed_ = true;
        return -1;
      }
    } else {
      upd_ = demux_open_for_update(name_, "GopFixer::fix");
      if (!upd_) {
        failed_ = true;
        return -1;
      }
    }
    fixing_ = true;
  }
  BSFile* from = upd_ ? upd_.get() : src_.get();
  BSFile* to = upd_ ? upd_.get() : out_.get();
  for (int step = 0; step < 2 && fixed_ < int(errors_.size()); ++step) {
    const GopTimeRecord& r = errors_[size_t(fixed_)];
    auto where = [&](int j) {
      const int first = kGopBytes - r.count;
      return j < first ? r.start.value() + uint64_t(j) : r.offset.value() + uint64_t(j - first);
    };
    if (out_ && !copy_to(std::max(r.offset.value() + 2048, where(7) + 1))) {
      failed_ = true;
      return -1;
    }
    uint8_t last = 0;
    from->seek(FileOffset::from_u64(where(7)), 0);
    if (from->read(&last, 1) != 1) {
      failed_ = true;
      return -1;
    }
    const uint32_t w = r.expected.to_gop_bits();
    const uint8_t bytes[4] = {uint8_t(w >> 17), uint8_t(w >> 9), uint8_t(w >> 1),
                              uint8_t(((w << 7) & 0x80) | (last & 0x7F))};
    for (int j = 0; j < 4; ++j) {
      to->seek(FileOffset::from_u64(where(4 + j)), 0);
      if (to->write(bytes + j, 1) != 1) {
        trace("ERROR (GopFixer::fix): short write at %llu\n", (unsigned long long)where(4 + j));
        failed_ = true;
        return -1;
      }
    }
    ++fixed_;
  }
  for (int step = 0; step < 10 && fixed_ == int(errors_.size()) && abs_fixed_ < int(abs_.size()); ++step) {
    const GopAbsEntry& e = abs_[size_t(abs_fixed_)];
    uint8_t b[5];
    encode_pts(e.pts, b);
    b[0] = uint8_t((b[0] & 0x0F) | 0x20);
    if (!write_at(e.offset.value(), b, 5)) {
      failed_ = true;
      return -1;
    }
    ++abs_fixed_;
  }
  if (fixed_ == int(errors_.size()) && abs_fixed_ == int(abs_.size())) {
    if (out_ && !copy_to(size_)) {
      failed_ = true;
      return -1;
    }
    out_.reset();
    src_.reset();
    upd_.reset();
    fix_done_ = true;
  }
  return fixed_ + abs_fixed_;
}

int GopFixer::scan_job(JobControl* control) {
  JobControl own;
  JobControl& ctl = control ? *control : own;
  const double scale = size_ > 0 ? 100.0 / double(size_) : 0.0;
  for (;;) {
    if (ctl.checkpoint()) {
      ctl.finish(JobOutcome::stopped, 1);
      return 1;
    }
    const int r = scan();
    if (r < 0) {
      ctl.set_progress(100.0);
      ctl.finish(JobOutcome::failed, -1, "<" + name_ + ">: read failed");
      return -1;
    }
    if (r == 0) break;
    ctl.set_progress(std::min(99.9, double(position_) * scale));
  }
  ctl.set_progress(100.0);
  ctl.finish(JobOutcome::done);
  return 0;
}

int GopFixer::fix_job(JobControl* control) {
  JobControl own;
  JobControl& ctl = control ? *control : own;
  const double records = double(errors_.size() + abs_.size());
  auto fail = [&](const std::string& why) {
    ctl.set_progress(100.0);
    ctl.finish(JobOutcome::failed, -1, why);
    return -1;
  };
  const std::string target = out_name_.empty() ? name_ : out_name_;
  while (!fix_done_) {
    if (ctl.checkpoint()) {
      if (!out_) {
        close();
      } else if (ctl.keep_output()) {
        if (close() < 0) return fail("<" + target + ">: the copy failed");
      } else {
        out_.reset();
        src_.reset();
        utils_delete_file(out_name_.c_str());
      }
      ctl.set_progress(100.0);
      ctl.finish(JobOutcome::stopped, 1);
      return 1;
    }
    const int n = fix();
    if (n < 0) return fail("<" + target + ">: the fix failed (open, read or write)");
    if (records > 0) ctl.set_progress(std::min(99.9, double(n) * 100.0 / records));
  }
  if (close() < 0) return fail("<" + target + ">: the copy failed");
  ctl.set_progress(100.0);
  ctl.finish(JobOutcome::done);
  return 0;
}

bool GopFixer::write_at(uint64_t at, const uint8_t* bytes, int n) {
  if (out_ && !copy_to(at + 2048)) return false;
  BSFile* to = upd_ ? upd_.get() : out_.get();
  to->seek(FileOffset::from_u64(at), 0);
  if (to->write(bytes, size_t(n)) != size_t(n)) {
    trace("ERROR (GopFixer::fix): short write at %llu\n", (unsigned long long)at);
    return false;
  }
  return true;
}

int GopFixer::close() {
  int r = 0;
  if (out_ && src_ && !failed_ && !copy_to(size_)) r = -1;
  out_.reset();
  src_.reset();
  upd_.reset();
  return r;
}

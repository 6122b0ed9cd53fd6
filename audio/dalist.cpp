#include "audio/dalist.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "demux/demuxer.h"
#include "demux/demuxer_cache.h"
#include "foundation/gop.h"
#include "foundation/probe.h"
#include "foundation/trace.h"

namespace {

constexpr double kUnknownTime = -4294967297.0;
constexpr double kWrap = 4294967296.0;  // the demultiplexers' time stamps wrap at 2^32 ticks

const char* stream_type_name(int type) {
  switch (type) {
    case 0:
      return "unknown stream";
    case 2:
      return "MPEG-1 video stream";
    case 3:
      return "MPEG-2 video stream";
    default:
      return "stream";
  }
}

const ESData* find_record(DeMuxer* dm, int id, int pid) {
  int n = 0;
  const ESData* es = dm->get_es_data(&n);
  const ESData* any = nullptr;
  for (int i = 0; i < n; ++i) {
    if (!es[i].is_audio()) continue;
    if (pid ? es[i].pid == pid : es[i].stream_id == id) return &es[i];
    if (!any) any = &es[i];
  }
  // Elementary files list their one stream under the id of its kind.
  return dm->is_elementary() ? any : nullptr;
}

DAKind kind_of(const ESData* r) {
  if (r->ac3) return DAKind::ac3;
  if (r->lpcm) return DAKind::lpcm;
  return DAKind::mpeg;
}

}  // namespace

// ---- the list ------------------------------------------------------------

DAListBase::DAListBase(DAKind kind) : kind_(kind), span_(16384) {}
DAListBase::~DAListBase() = default;

std::unique_ptr<DAListBase> DAListBase::make(DAKind kind) {
  switch (kind) {
    case DAKind::ac3:
      return std::make_unique<Ac3DAList>();
    case DAKind::lpcm:
      return std::make_unique<LpcmDAList>();
    default:
      return std::make_unique<MpegDAList>();
  }
}

void DAListBase::close_file() {
  if (dm_) dm_->close_file();
}

int DAListBase::init(const char* file, int stream_id, int pid) {
  dm_.reset();
  units_.clear();
  q_.clear();
  marks_.clear();
  qpos_ = 0;
  changed_headers_ = 0;
  if (!file) return 1;
  name_ = file;
  asked_id_ = stream_id;
  asked_pid_ = pid;
  if (!open_demuxer(stream_id, pid)) {
    dm_.reset();
    return 1;
  }
  if (!take_reference()) {
    dm_.reset();
    return 1;
  }
  measure_length();
  reset();
  return 0;
}

bool DAListBase::open_demuxer(int stream_id, int pid) {
  const int type = mpegfile_get_stream_type(name_.c_str());
  if (type == 0 || type == 2 || type == 3) {
    trace("DAListBase::init (%s): %s not supported\n", name_.c_str(), stream_type_name(type));
    return false;
  }
  dm_.reset(demuxer_create(name_.c_str(), 0));
  if (!dm_) {
    trace("DAListBase::init (%s): demuxer_create () failed\n", name_.c_str());
    return false;
  }
  if (dm_->get_audio_es_count() < 1) {
    trace("DAListBase::init (%s): has_audio () = 0\n", name_.c_str());
    return false;
  }
  elementary_ = type == 1 || type == 9;
  transport_ = type == 8;
  FileOffset size;
  if (!demux_file_stamp(name_.c_str(), &file_time_, &size)) return false;
  file_size_ = dm_->get_file_size().value();
  return select(stream_id, pid);
}

bool DAListBase::select(int stream_id, int pid) {
  if (stream_id > 0 || (pid > 0 && transport_)) dm_->select_audio_es(stream_id, pid);
  stream_id_ = dm_->get_audio_selection(&pid_);
  const ESData* r = find_record(dm_.get(), stream_id_, pid_);
  if (!r) {
    trace("DAListBase::init (%s): no audio stream 0x%02x (PID %d)\n", name_.c_str(), stream_id_, pid_);
    return false;
  }
  if (kind_of(r) != kind_) {
    trace("DAListBase::init (%s): stream 0x%02x is of another kind\n", name_.c_str(), stream_id_);
    return false;
  }
  if (elementary_ && stream_id_ <= 0) stream_id_ = kind_ == DAKind::ac3 ? 0x80 : 0xC0;
  info_ = AudioInfo();
  if (kind_ == DAKind::lpcm) {
    // Only 16-bit LPCM reaches here (the demultiplexer refuses 20 and 24
    // bits); more than two channels would be handed out as noise.
    const int ch = r->get_channel_count();
    if (ch < 1 || ch > 2 || r->get_audio_sample_rate() < 1) {
      trace("DAListBase::init (%s): LPCM of %d channels not supported\n", name_.c_str(), ch);
      return false;
    }
    info_.set_audio_type(AUDIO_TYPE_LPCM);
    info_.layer = 0;
    info_.channels = ch;
    info_.sample_rate = r->get_audio_sample_rate();
    info_.bit_rate = info_.sample_rate * ch * 16;
  }
  // A zero file bit rate would make times of positions infinite: the
  // stream's own rate stands in, and without either the list is refused.
  if (dm_->get_bit_rate() <= 0 && r->get_audio_bit_rate() <= 0 && info_.bit_rate <= 0) {
    trace("DAListBase::init (%s): neither the file nor the stream has a bit rate\n", name_.c_str());
    return false;
  }
  return true;
}

bool DAListBase::take_reference() {
  q_.clear();
  marks_.clear();
  units_.clear();
  qpos_ = 0;
  next_pos_ = 0;
  at_end_ = false;
  if (!load_next()) {
    trace("DAListBase::init_da_list (): failed to load the 1st DA\n");
    return false;
  }
  start_time_ = span_.time_valid ? span_.time : 0.0;
  fill(16384);
  const int n = int(avail());
  const uint8_t* p = q_.data() + qpos_;
  if (kind_ == DAKind::mpeg) {
    FrmHdr h;
    if (!h.check_frames(p, n, 3, 0) || !h.valid) {
      h.clear();
      (void)h.parse_buffer(p, n);
    }
    if (!h.valid) {
      trace("MPEG::init_reference_frmhdr (): %d bytes\n", n);
      return false;
    }
    ref_ = h;
    h.get_audio_info(&info_);
    samples_ = info_.get_samples_per_frame();
    const int slot = h.padding_slot();
    frame_size_ = h.frame_size - (h.padding ? slot : 0);
    max_frame_size_ = frame_size_ + slot;
    if (h.layer == 3) max_frame_size_ = std::max(max_frame_size_, 2881);  // free bit rates of VBR streams
  } else if (kind_ == DAKind::ac3) {
    AC3FrmHdr h;
    if (!ac3_check_frames(&h, p, n, 3, 0) || !h.valid) {
      h.reset();
      (void)h.decode(p, n, 0);
    }
    if (!h.valid) {
      trace("AC-3::init_reference_frmhdr (): %d bytes\n", n);
      return false;
    }
    ac3_ref_ = h;
    h.get_audio_info(&info_);
    info_.set_audio_type(AUDIO_TYPE_AC3);
    info_.layer = 0;
    info_.full_channels = h.get_channels();
    samples_ = 1536;
    frame_size_ = h.frame_size;
    max_frame_size_ = ac3_ref_.get_max_frame_size();
  } else {
    samples_ = 1152;
    frame_size_ = info_.channels * 2304;
    max_frame_size_ = frame_size_;
  }
  info_.stream_id = stream_id_;
  info_.pid = pid_;
  info_.frame_size = frame_size_;
  if (info_.sample_rate < 1) return false;
  frame_dur_ = double(samples_) / info_.sample_rate * 90000.0;
  unit_step_ = std::max(8192, (int(double(info_.bit_rate) / 8 * 0.25) + 2047) / 2048 * 2048 + 1024);
  // Time stamps that wrapped relative to the video start are taken back
  // by one wrap when that lands near the video; a start far from both
  // takes the video's.
  if (!elementary_ && dm_->get_video_es_count() > 0) {
    const double v = dm_->get_video_start_pts();
    const double dur = dm_->get_total_length();
    if (v > kUnknownTime && dur > 0 && std::fabs(start_time_ - v) / 90000.0 > dur) {
      if (std::fabs(start_time_ - kWrap - v) / 90000.0 < 0.1 * dur)
        start_time_ -= kWrap;
      else
        start_time_ = v;
    }
  }
  if (!units_.empty()) units_.front().time = relative(start_time_ + (span_.time_valid ? span_.time - start_time_ : 0));
  return true;
}

double DAListBase::relative(double t) const {
  double r = t - start_time_;
  if (r < -kWrap / 2) r += kWrap;
  return r;
}

void DAListBase::measure_length() {
  length_ = 0.0;
  counted_frames_ = 0;
  std::vector<uint8_t> scratch(size_t(std::max(max_frame_size_, 8192)));
  if (elementary_) {
    // Elementary files have no time stamps: every frame counts.
    reset();
    while (next_frame(scratch.data(), int(scratch.size())) > 0) ++counted_frames_;
    length_ = double(counted_frames_) * frame_dur_;
    return;
  }
  // The last unit with a time stamp, searched backwards from the end in
  // growing windows, then the frames from it to the end.
  const double measured = dm_->get_total_length() * 90000.0;
  uint64_t window = uint64_t(std::max(65536, dm_->get_gop_bytes_estimate()));
  ESBuffer s(16384);
  bool found = false;
  for (int tries = 0; tries < 8 && !found; ++tries, window *= 4) {
    const uint64_t from = file_size_ > window ? file_size_ - window : 0;
    if (probe_at(from, &s) && s.time_valid) found = true;
    if (from == 0) break;
  }
  if (found) {
    DA u;
    u.start = s.start;
    u.time = relative(s.time);
    u.first_frame = s.first_frame;
    restart_at(u, true);
    while (next_frame(scratch.data(), int(scratch.size())) > 0) {
    }
    length_ = cur_time_;
  }
  // A length by time stamps that disagrees with the demultiplexer's
  // measure by a factor of two or more is not believed.
  if (!found || length_ <= 0 || (measured > 0 && (length_ > 2 * measured || 2 * length_ < measured))) {
    if (found) trace("DAListBase::init_da_list (): length %.0f against %.0f measured\n", length_, measured);
    length_ = measured;
  }
}

bool DAListBase::probe_at(uint64_t offset, ESBuffer* s) {
  s->start = FileOffset::from_u64(offset);
  s->end = FileOffset();
  s->stream_id = stream_id_;
  s->pid = pid_;
  s->bytes = 0;
  s->time_valid = 0;
  // A program stream's span grows by half whenever its count is below the
  // next packet, so a count of one let each load read further than the
  // last, up to the rest of the file: units stay at the step instead.
  const double t = dm_->load_abs(s, transport_ ? 1 : unit_step_, 0);
  if (s->bytes <= 0) return false;
  if (s->time_valid) s->time = t;
  return true;
}

bool DAListBase::load_next() {
  if (at_end_ || !dm_) return false;
  if (next_pos_ >= file_size_ || !probe_at(next_pos_, &span_)) {
    at_end_ = true;
    return false;
  }
  uint64_t after = transport_ ? dm_->current_offset().value() : span_.end.value();
  // A walk that does not move on would never end.
  if (after <= next_pos_) after = std::max(span_.start.value() + uint64_t(span_.bytes), next_pos_ + 1);
  DA u;
  u.start = span_.start;
  u.end = FileOffset::from_u64(after);
  u.bytes = span_.bytes;
  u.first_frame = std::clamp(span_.first_frame, 0, span_.bytes);
  u.time = span_.time_valid ? relative(span_.time) : (units_.empty() ? 0.0 : cur_time_);
  auto it = std::lower_bound(units_.begin(), units_.end(), u.start.value(),
                             [](const DA& a, uint64_t v) { return a.start.value() < v; });
  if (it != units_.end() && it->start.value() == u.start.value())
    *it = u;
  else if (units_.size() < 4096 || it == units_.end())
    units_.insert(it, u);  // the list stays ordered by file position
  // Frames of a multiplex take the time stamp of their unit, so a gap in
  // the stamps shows in the reader's time.
  if (!elementary_ && kind_ != DAKind::lpcm && span_.time_valid)
    marks_.push_back({q_.size() + size_t(u.first_frame), u.time});
  q_.insert(q_.end(), span_.data, span_.data + span_.bytes);
  next_pos_ = after;
  return true;
}

bool DAListBase::fill(size_t need) {
  while (avail() < need)
    if (!load_next()) return false;
  return true;
}

void DAListBase::restart_at(const DA& u, bool skip_head) {
  q_.clear();
  marks_.clear();
  qpos_ = 0;
  at_end_ = false;
  next_pos_ = u.start.value();
  cur_time_ = u.time;
  if (!load_next()) return;
  if (kind_ == DAKind::lpcm) {
    // The time stamp is that of the first whole frame in the packet: the
    // samples ahead of it belong to the previous one and go, so the unit's
    // time is that of the first sample kept.
    const size_t block = size_t(2 * std::max(1, info_.channels));
    const size_t head = std::min(size_t(std::max(u.first_frame, 0)), q_.size());
    qpos_ = head - head % block;
  } else if (skip_head) {
    qpos_ = std::min(size_t(u.first_frame), q_.size());
  }
  cur_time_ = u.time;
}

bool DAListBase::reset() {
  if (!dm_ || units_.empty()) return false;
  DA first = units_.front();
  first.time = 0.0;
  restart_at(first, false);
  return avail() > 0;
}

size_t DAListBase::find_frame(size_t* length, bool* more) {
  *length = 0;
  *more = false;
  const uint8_t* p = q_.data() + qpos_;
  const int n = int(avail());
  if (kind_ == DAKind::lpcm) {
    const int block = 2 * std::max(1, info_.channels);
    *length = size_t(std::min(frame_size_, n - n % block));
    *more = *length == 0;
    return 0;
  }
  if (kind_ == DAKind::mpeg) {
    if (n < 4) {
      *more = true;
      return 0;
    }
    FrmHdr h;
    const int off = h.find_matching(p, n, ref_);
    if (!h.valid) {
      *more = true;
      return size_t(std::max(0, n - 3));
    }
    if (off > 0) {
      FrmHdr other;
      if (other.parse_buffer(p, off + 4) < off && other.valid) ++changed_headers_;
      trace("MPEG::count_da_frames (): %d bytes\n", off);
    }
    *length = size_t(h.frame_size > 0 ? h.frame_size : 731);
    return size_t(off);
  }
  if (n < 8) {
    *more = true;
    return 0;
  }
  AC3FrmHdr h;
  const int off = ac3_find_frame(ac3_ref_, p, n, &h);
  if (!h.valid) {
    *more = true;
    return size_t(std::max(0, n - 64));
  }
  *length = size_t(h.frame_size);
  return size_t(off);
}

int DAListBase::next_frame(uint8_t* out, int size) {
  if (!dm_ || !out) return 0;
  for (;;) {
    fill(size_t(max_frame_size_) + 64);
    if (avail() == 0) return 0;
    size_t len = 0;
    bool more = false;
    const size_t off = find_frame(&len, &more);
    if (off > 0) {  // bytes before a frame header are dropped
      qpos_ += off;
      continue;
    }
    if (len == 0) {
      if (more && load_next()) continue;
      qpos_ = q_.size();
      return 0;
    }
    if (avail() < len && !fill(len)) {  // a frame cut off by the end
      qpos_ = q_.size();
      return 0;
    }
    if (len > size_t(size)) return 0;
    while (!marks_.empty() && marks_.front().pos <= qpos_) {
      // A stamp within a tick of the running time is the same instant
      // rounded to the clock: the exact running time stays.
      const Mark& m = marks_.front();
      if (m.pos == qpos_ && std::fabs(m.time - cur_time_) > 1.0) cur_time_ = m.time;
      marks_.erase(marks_.begin());
    }
    const uint8_t* p = q_.data() + qpos_;
    if (kind_ == DAKind::lpcm) {
      for (size_t i = 0; i + 1 < len; i += 2) {
        out[i] = p[i + 1];
        out[i + 1] = p[i];
      }
      cur_time_ += frame_dur_ * double(len) / frame_size_;
    } else {
      std::memcpy(out, p, len);
      cur_time_ += frame_dur_;
    }
    qpos_ += len;
    if (qpos_ > (1u << 16) && qpos_ * 2 > q_.size()) {
      q_.erase(q_.begin(), q_.begin() + std::ptrdiff_t(qpos_));
      for (Mark& m : marks_) m.pos -= qpos_;
      qpos_ = 0;
    }
    return int(len);
  }
}

int DAListBase::read_frames(uint8_t* out, int size) {
  int done = 0;
  while (size - done >= max_frame_size_) {
    const int n = next_frame(out + done, size - done);
    if (n <= 0) break;
    done += n;
  }
  return done;
}

double DAListBase::goto_time(double t) {
  if (!dm_ || units_.empty()) return 0.0;
  if (t <= 0.0) {
    reset();
    return cur_time_;
  }
  // The last unit whose time is not after t: halving the byte range.
  DA best = units_.front();
  best.time = 0.0;
  uint64_t lo = best.start.value(), hi = file_size_;
  ESBuffer s(16384);
  for (int i = 0; i < 64 && hi > lo + 2048; ++i) {
    const uint64_t mid = lo + (hi - lo) / 2;
    if (!probe_at(mid, &s) || s.start.value() >= hi || !s.time_valid) {
      hi = mid;
      continue;
    }
    const double ut = relative(s.time);
    if (ut <= t && s.start.value() > lo) {
      lo = s.start.value();
      best.start = s.start;
      best.time = ut;
      best.first_frame = s.first_frame;
    } else if (ut <= t) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  restart_at(best, best.start.value() != units_.front().start.value());
  std::vector<uint8_t> scratch(size_t(std::max(max_frame_size_, 8192)));
  while (cur_time_ + frame_dur_ <= t) {
    // Peek: a frame whose own time (a time stamp ahead) passes t stops.
    if (next_frame(scratch.data(), int(scratch.size())) <= 0) break;
  }
  if (kind_ == DAKind::lpcm && t > cur_time_) {
    // PCM has no frames of its own: on to the sample holding t.
    const int block = 2 * std::max(1, info_.channels);
    const double ticks_per_block = frame_dur_ * block / frame_size_;
    const size_t skip = size_t(std::floor((t - cur_time_) / ticks_per_block + 1e-6)) * size_t(block);
    if (skip > 0 && fill(skip)) {
      qpos_ += skip;
      cur_time_ += double(skip / size_t(block)) * ticks_per_block;
    }
  }
  return cur_time_;
}

std::unique_ptr<DAListBase> DAListBase::copy() const {
  auto c = make(kind_);
  c->name_ = name_;
  c->file_time_ = file_time_;
  c->file_size_ = file_size_;
  c->elementary_ = elementary_;
  c->transport_ = transport_;
  c->info_ = info_;
  c->stream_id_ = stream_id_;
  c->pid_ = pid_;
  c->asked_id_ = asked_id_;
  c->asked_pid_ = asked_pid_;
  c->ref_ = ref_;
  c->ac3_ref_ = ac3_ref_;
  c->frame_size_ = frame_size_;
  c->max_frame_size_ = max_frame_size_;
  c->samples_ = samples_;
  c->frame_dur_ = frame_dur_;
  c->start_time_ = start_time_;
  c->length_ = length_;
  c->counted_frames_ = counted_frames_;
  c->unit_step_ = unit_step_;
  if (!units_.empty()) c->units_.push_back(units_.front());
  c->dm_.reset(demuxer_create(name_.c_str(), 0));
  if (!c->dm_) return nullptr;
  if (stream_id_ > 0 && !elementary_) c->dm_->select_audio_es(stream_id_, pid_);
  c->reset();
  return c;
}

int DAListBase::stream_list(int* ids, int* pids, int max) const {
  if (!dm_) return 0;
  std::vector<int> i(64), p(64);
  const int n = std::min(dm_->get_audio_es_list(i.data(), 64, p.data()), 64);
  const int k = std::min(n, max);
  for (int j = 0; j < k; ++j) {
    if (ids) ids[j] = elementary_ && i[size_t(j)] <= 0 ? stream_id_ : i[size_t(j)];
    if (pids) pids[j] = p[size_t(j)];
  }
  return k;
}

// ---- factory and cache -----------------------------------------------------

bool dalist_find_id_pid_match(const char* file, int stream_id, int pid) {
  if (!file) return false;
  std::unique_ptr<DeMuxer> dm(demuxer_create(file, 0));
  if (!dm) return false;
  int n = 0;
  const ESData* es = dm->get_es_data(&n);
  for (int i = 0; i < n; ++i)
    if (!es[i].is_video() && (!stream_id || es[i].stream_id == stream_id) && (!pid || es[i].pid == pid)) return true;
  return false;
}

namespace {

// A freshly measured list of the asked stream, of the kind the stream is.
std::unique_ptr<DAListBase> measure_list(const char* file, int stream_id, int pid) {
  std::unique_ptr<DeMuxer> dm(demuxer_create(file, 0));
  if (!dm) {
    trace("DAListBase::init (%s): demuxer_create () failed\n", file);
    return nullptr;
  }
  if (stream_id > 0 || pid > 0) dm->select_audio_es(stream_id, pid);
  int sel_pid = 0;
  const int sel = dm->get_audio_selection(&sel_pid);
  const ESData* r = find_record(dm.get(), sel, sel_pid);
  if (!r) {
    trace("DAListBase::init (%s): has_audio () = 0\n", file);
    return nullptr;
  }
  auto list = DAListBase::make(kind_of(r));
  if (list->init(file, sel, sel_pid) != 0) return nullptr;
  return list;
}

}  // namespace

DAListCache& DAListCache::instance() {
  static DAListCache cache;
  return cache;
}

int DAListCache::count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return int(entries_.size());
}

void DAListCache::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

std::unique_ptr<DAListBase> DAListCache::get(const char* file, int stream_id, int pid) {
  int64_t time = 0;
  FileOffset size;
  if (!file || !demux_file_stamp(file, &time, &size)) return nullptr;
  std::shared_ptr<const DAListBase> proto;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (it->name != file) {
        ++it;
        continue;
      }
      // A changed file makes its entries stale.
      if (it->time != time || it->proto->file_size() != size.value()) {
        it = entries_.erase(it);
        continue;
      }
      const bool match = (it->id == stream_id && it->pid == pid) ||
                         (stream_id > 0 && it->proto->stream_id() == stream_id && (!pid || it->proto->pid() == pid)) ||
                         (stream_id <= 0 && pid > 0 && it->proto->pid() == pid);
      if (match && !proto) {
        proto = it->proto;
        it->used = ++clock_;
      }
      ++it;
    }
  }
  if (proto) return proto->copy();
  std::unique_ptr<DAListBase> list = measure_list(file, stream_id, pid);
  if (!list) return nullptr;
  std::unique_ptr<DAListBase> out = list->copy();
  if (!out) return nullptr;
  // The entry keeps the measures, not an open file.
  std::shared_ptr<DAListBase> entry(list.release());
  entry->close_file();
  std::lock_guard<std::mutex> lock(mutex_);
  if (int(entries_.size()) >= kCapacity) {
    auto oldest = std::min_element(entries_.begin(), entries_.end(),
                                   [](const Entry& a, const Entry& b) { return a.used < b.used; });
    entries_.erase(oldest);
  }
  entries_.push_back({file, time, size.value(), stream_id, pid, entry, ++clock_});
  return out;
}

std::unique_ptr<DAListBase> get_new_dalist(const char* file, int stream_id, int pid) {
  return DAListCache::instance().get(file, stream_id, pid);
}

// ---- the handle -------------------------------------------------------------

DAList::DAList() = default;
DAList::~DAList() = default;
DAList::DAList(DAList&&) noexcept = default;
DAList& DAList::operator=(DAList&&) noexcept = default;

DAList::DAList(const char* file, int stream_id, int pid, int* error) {
  const int rc = init(file, stream_id, pid);
  if (error) *error = rc;
}

int DAList::init(const char* file_name, int stream_id, int pid) {
  close();
  if (!file_name) return 1;
  if (pid > 0 && !dalist_find_id_pid_match(file_name, stream_id, pid)) {
    stream_id = 0;
    pid = 0;
  }
  list_ = get_new_dalist(file_name, stream_id, pid);
  if (!list_) return 1;
  set_abs_type(list_->stream_id());
  return 0;
}

void DAList::close() {
  list_.reset();
  ac3_ = lpcm_ = 0;
}

int DAList::set_abs_type(int) {
  if (!list_) {
    trace("ERROR (DAList::set_abs_type): NOT initialized\n");
    return 1;
  }
  ac3_ = list_->kind() == DAKind::ac3;
  lpcm_ = list_->kind() == DAKind::lpcm;
  return 0;
}

int DAList::set_abs_id(int stream_id, int pid) {
  if (!list_) {
    trace("ERROR (DAList::set_abs_id): NOT initialized\n");
    return 0;
  }
  const int cur = list_->stream_id();
  if (stream_id < 1 || (stream_id == cur && (!pid || pid == list_->pid()))) return cur;
  int ids[32], pids[32];
  const int n = list_->stream_list(ids, pids, 32);
  bool have = false;
  for (int i = 0; i < n; ++i) have |= ids[i] == stream_id && (!pid || pids[i] == pid);
  if (n < 2 || !have) return cur;
  auto next = get_new_dalist(list_->file_name().c_str(), stream_id, pid);
  if (!next) {
    trace("ERROR (DAList::set_abs_id): get_new_dalist (%s: 0x%02x) failed\n", list_->file_name().c_str(), stream_id);
    return cur;
  }
  list_ = std::move(next);
  set_abs_type(0);
  return list_->stream_id();
}

int DAList::next_frame(uint8_t* out, int size) { return list_ ? list_->next_frame(out, size) : 0; }
int DAList::read_frames(uint8_t* out, int size) { return list_ ? list_->read_frames(out, size) : 0; }
double DAList::get_curr_time() const { return list_ ? list_->curr_time() / 90000.0 : 0.0; }

double DAList::goto_time(double seconds) {
  if (!list_) return 0.0;
  const double cur = list_->curr_time();
  const double t = seconds * 90000.0;
  // Within the frame being read: no move.
  if (t >= cur && t < cur + list_->frame_duration()) return cur / 90000.0;
  return list_->goto_time(t) / 90000.0;
}

double DAList::get_length() const { return list_ ? list_->length() / 90000.0 : 0.0; }
double DAList::get_frame_period() const { return list_ ? list_->frame_duration() / 90000.0 : 0.0; }
double DAList::get_start_time() const { return list_ ? list_->start_time() / 90000.0 : 0.0; }

int DAList::get_stream_id(int* pid) const {
  if (pid) *pid = list_ ? list_->pid() : 0;
  return list_ ? list_->stream_id() : 0;
}

int DAList::get_stream_list(int* ids, int* pids, int max) const { return list_ ? list_->stream_list(ids, pids, max) : 0; }
int DAList::get_layer() const { return list_ && list_->kind() == DAKind::mpeg ? list_->info().layer : 0; }
int DAList::get_bit_rate() const { return list_ ? list_->info().bit_rate : 0; }
int DAList::get_channels() const { return list_ ? list_->info().channels : 0; }
int DAList::get_sample_rate() const { return list_ ? list_->info().sample_rate : 0; }
int DAList::get_frame_size() const { return list_ ? list_->frame_size() : 0; }
int DAList::get_max_frame_size() const { return list_ ? list_->max_frame_size() : 0; }
int DAList::get_samples_per_frame() const { return list_ ? list_->samples_per_frame() : 0; }
bool DAList::header_changed() const { return list_ && list_->header_changed(); }

int DAList::get_audio_info(AudioInfo* info) const {
  if (!list_ || !info) return 1;
  *info = list_->info();
  info->length = get_length();
  return 0;
}

bool DAList::format_match(int sample_rate, int channels, int bit_rate, int layer, int stream_id, int pid) const {
  if (!list_) return false;
  if (sample_rate != get_sample_rate() || channels != get_channels() || bit_rate != get_bit_rate() ||
      layer != get_layer())
    return false;
  if (stream_id && stream_id != list_->stream_id()) return false;
  return !pid || pid == list_->pid();
}

bool DAList::file_match(const char* name, int64_t time, uint64_t size, int stream_id, int pid) const {
  if (!list_ || !name || list_->file_name() != name || list_->file_time() != time || list_->file_size() != size)
    return false;
  if (stream_id && stream_id != list_->stream_id()) return false;
  return !pid || pid == list_->pid();
}

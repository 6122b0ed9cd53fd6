#include "demux/demuxer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/probe.h"
#include "foundation/trace.h"

namespace {

int64_t file_time_ns(const char* name) {
  struct stat st;
  if (stat(name, &st) != 0) return 0;
  return int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

DeMuxer::DeMuxer() = default;

DeMuxer::DeMuxer(const char* name, int* error, int stream_type, int bit_rate) {
  int e = init(name, stream_type, bit_rate);
  if (error) *error = e;
}

DeMuxer::DeMuxer(const DeMuxer& other) { copy_from(other); }

DeMuxer& DeMuxer::operator=(const DeMuxer& other) {
  if (&other == this) {
    trace("DeMuxer::operator= (ERROR): copy to itself\n");
    return *this;
  }
  copy_from(other);
  return *this;
}

DeMuxer::~DeMuxer() = default;

void DeMuxer::copy_from(const DeMuxer& o) {
  if (o.fname_.empty()) {
    trace("ERROR (DeMuxer::operator=): invalid operand (BSFile)\n");
    return;
  }
  int err = 0;
  auto f = std::make_unique<BSFile>(o.fname_.c_str(), 1, &err);
  if (err) {
    trace("ERROR (DeMuxer::operator=): invalid operand (BSFile)\n");
    return;
  }
  file_time_ = o.file_time_;
  timecode_flag_ = o.timecode_flag_;
  pts_timing_ = o.pts_timing_;
  first_field_ = o.first_field_;
  first_gop_offset_ = o.first_gop_offset_;
  last_seek_ = o.last_seek_;
  seek_skip_ = 0;
  scr_per_byte_ = o.scr_per_byte_;
  bytes_per_scr_ = o.bytes_per_scr_;
  stream_ids_ = o.stream_ids_;
  es_data_ = o.es_data_;
  video_pes_id_ = o.video_pes_id_;
  audio_pes_id_ = o.audio_pes_id_;
  scr_per_audio_byte_ = o.scr_per_audio_byte_;
  fname_ = o.fname_;
  data_start_ = o.data_start_;
  vbr_ = o.vbr_;
  progressive_sequence_ = o.progressive_sequence_;
  total_length_ = o.total_length_;
  audio_start_flag_ = o.audio_start_flag_;
  audio_start_pts_ = o.audio_start_pts_;
  video_start_pts_ = o.video_start_pts_;
  first_gop_tc_ = o.first_gop_tc_;
  frm_hdr_ = o.frm_hdr_;
  ac3_hdr_ = o.ac3_hdr_;
  audio_frame_ticks_ = o.audio_frame_ticks_;
  sec_per_byte_ = o.sec_per_byte_;
  load_abs_count_ = o.load_abs_count_;
  end_data_ = o.end_data_;
  file_size_ = o.file_size_;
  bit_rate_ = o.bit_rate_;
  field_toggle_ = 0;
  prev_field_structure_ = 0;
  prev_field_tr_ = -1;
  elementary_ = o.elementary_;
  stream_type_ = o.stream_type_;
  video_version_ = o.video_version_;
  picture_pts_ = kNoTime;
  second_time_ = kNoTime;
  seq_ = o.seq_;  // the stream's header: the GOP index and the probe read it
  gop_hdr_ = GopHdr();
  pic_ = PicHdr();
  i_without_gop_ = o.i_without_gop_;
  last_pic_pts_ = kNoTime;
  frame_rate_ = o.frame_rate_;
  video_info_ = o.video_info_;
  audio_info_ = o.audio_info_;
  video_selected_ = o.video_selected_;
  video_sel_id_ = o.video_sel_id_;
  video_sel_pid_ = o.video_sel_pid_;
  audio_sel_id_ = o.audio_sel_id_;
  audio_sel_pid_ = o.audio_sel_pid_;
  ac3_ = o.ac3_;
  tc_present_ = o.tc_present_;
  tc_inconsistent_ = o.tc_inconsistent_;
  ts_present_ = o.ts_present_;
  ts_inconsistent_ = o.ts_inconsistent_;
  bit_rate_length_ = o.bit_rate_length_;
  last_gop_ = o.last_gop_;
  avg_gop_length_ = o.avg_gop_length_;
  last_tc_seen_ = o.last_tc_seen_;
  expected_end_pts_ = o.expected_end_pts_;
  tc_breaks_ = o.tc_breaks_;
  count_word_ = o.count_word_;
  both_inconsistent_ = o.both_inconsistent_;
  default_one_ = o.default_one_;
  i_no_end_ = o.i_no_end_;

  file_ = std::move(f);
  empty_bs_buffer();
  buf_end_.zero();
  if (!buf_) init_bs_buffer(kReadBufferSize);
  if (!file_->size().equals(file_size_)) {
    // The file grew (or shrank) since the source measured it.
    file_size_ = end_data_ = file_->size();
    total_length_ = 0.0;
    find_bs_length();
  }
}

int DeMuxer::init(const char* name, int stream_type, int bit_rate) {
  if (!name) return 1;
  stream_type_ = stream_type;
  bit_rate_ = bit_rate;
  if (!stream_type || !bit_rate) {
    int br = 0;
    stream_type_ = mpegfile_get_stream_type_and_bit_rate(name, &br);
    bit_rate_ = br;
    if (!stream_type_ || !bit_rate_) return 1;
  }
  int err = 0;
  file_ = std::make_unique<BSFile>(name, 1, &err);
  if (err || !file_->is_open()) {
    file_.reset();
    return 1;
  }
  init_bs_buffer(kReadBufferSize);
  if (!buf_) return 1;
  fname_ = name;
  file_size_ = end_data_ = file_->size();
  file_time_ = file_time_ns(name);
  const bool es = stream_type_ == 1 || stream_type_ == 2 || stream_type_ == 3 || stream_type_ == 9;
  if (!es) return 1;  // system streams have classes of their own
  ESData rec;
  int rec_err = 0;
  rec.open(name, &rec_err);
  if (rec_err) return 1;
  elementary_ = 1;
  vbr_ = rec.is_vbr();
  stream_ids_.reserve(4);
  es_data_.push_back(rec);
  ESData& r = es_data_.back();
  switch (stream_type_) {
    case 2:
    case 3:
      stream_ids_.push_back(0xE0);
      r.stream_id = 0xE0;
      r.max_packet_size = r.max_payload_size = 2048;
      break;
    case 9: {
      ac3_ = 1;
      stream_ids_.push_back(0x80);
      if (r.get_ac3_header()) ac3_hdr_ = *r.get_ac3_header();
      const int sr = ac3_hdr_.sample_rate > 0 ? ac3_hdr_.sample_rate : 48000;
      audio_frame_ticks_ = 1536.0 / sr * 90000.0;
      r.stream_id = 0x80;
      const int fs = ac3_hdr_.frame_size;
      r.max_packet_size = r.max_payload_size = fs == 0 ? 2048 : (2 * fs >= 2048 ? 2 * fs : 3 * fs);
      break;
    }
    default: {  // 1: MPEG audio
      stream_ids_.push_back(0xC0);
      if (r.get_audio_header()) frm_hdr_ = *r.get_audio_header();
      if (frm_hdr_.valid && frm_hdr_.sample_rate > 0)
        audio_frame_ticks_ = double(frm_hdr_.samples_per_frame()) / frm_hdr_.sample_rate * 90000.0;
      else
        audio_frame_ticks_ = 0.026122448979591838 * 90000.0;
      r.stream_id = 0xC0;
      const int fs = frm_hdr_.valid ? frm_hdr_.frame_size : 731;
      r.max_packet_size = r.max_payload_size = fs == 0 ? 1024 : (2 * fs >= 1024 ? 2 * fs : 3 * fs);
      break;
    }
  }
  select_default_es();
  if (SeqHdr* s = es_data_[0].get_video_header()) seq_ = *s;
  find_bs_length();
  if (bit_rate_ > 0) {
    sec_per_byte_ = 8.0 / bit_rate_;
  } else {
    trace("ERROR (DMX::init): get_bit_rate () = 0\n");
    sec_per_byte_ = 8.0 / 6000000.0;
  }
  goto_offset(FileOffset(0u));
  return 0;
}

int DeMuxer::open_file() {
  if (file_) return 0;
  if (fname_.empty()) {
    trace("ERROR (DeMuxer::open_file): _fname=nil\n");
    return 1;
  }
  int err = 0;
  auto f = std::make_unique<BSFile>(fname_.c_str(), 1, &err);
  if (err) {
    trace("ERROR (DeMuxer::open_file): BSFile::ctor (%s) failed\n", fname_.c_str());
    return 1;
  }
  file_ = std::move(f);
  empty_bs_buffer();
  buf_end_.zero();
  return 0;
}

bool DeMuxer::update_file_size() {
  struct stat st;
  if (fname_.empty() || stat(fname_.c_str(), &st) != 0) return false;
  const FileOffset now = FileOffset::from_u64(uint64_t(st.st_size));
  if (now.equals(file_size_)) return false;
  // The file layer keeps the size it found at open: open it again.
  int err = 0;
  auto f = std::make_unique<BSFile>(fname_.c_str(), 1, &err);
  if (err) return false;
  file_ = std::move(f);
  file_size_ = end_data_ = file_->size();
  file_time_ = file_time_ns(fname_.c_str());
  empty_bs_buffer();
  buf_end_.zero();
  return true;
}

void DeMuxer::close_file() {
  if (file_ && fname_.empty() && file_->name()) fname_ = file_->name();
  file_.reset();
  empty_bs_buffer();
}

// ---- read buffer -------------------------------------------------------------

void DeMuxer::init_bs_buffer(int size) {
  buf_.reset(new (std::nothrow) uint8_t[size_t(size) + 8]());
  if (!buf_) {
    trace("ERROR (DeMuxer::init_bs_buffer): new [%d] failed\n", size);
    buf_size_ = 0;
  } else {
    buf_size_ = size;
  }
  empty_bs_buffer();
}

void DeMuxer::fill_bs_buffer() {
  if (!buf_) init_bs_buffer(kReadBufferSize);
  if (!buf_ || unread_ >= buf_size_) return;
  if (rd_ > 0 && unread_ > 0) std::memmove(buf_.get(), buf_.get() + rd_, size_t(unread_));
  rd_ = 0;
  if (!file_ || buf_end_.greater_or_equal(end_data_)) return;
  const uint64_t want = std::min<uint64_t>(uint64_t(buf_size_ - unread_), end_data_.value() - buf_end_.value());
  if (!file_->tell().equals(buf_end_)) file_->seek(buf_end_, 0);
  const size_t got = file_->read(buf_.get() + unread_, size_t(want));
  unread_ += int(got);
  buf_end_.add(int64_t(got));
}

void DeMuxer::goto_offset(FileOffset target) {
  if (target.greater(end_data_)) target = end_data_;
  const uint64_t held = uint64_t(rd_ + unread_);
  const uint64_t range_start = buf_end_.value() >= held ? buf_end_.value() - held : 0;
  if (buf_ && held > 0 && target.value() >= range_start && target.value() < buf_end_.value() &&
      target.value() - range_start < uint64_t(buf_size_)) {
    rd_ = int(target.value() - range_start);
    unread_ = int(held) - rd_;
    return;
  }
  if (file_) file_->seek(target, 0);
  empty_bs_buffer();
  buf_end_ = target;
  fill_bs_buffer();
  last_seek_ = target;
  seek_skip_ = 0;
}

FileOffset DeMuxer::get_curr_offset(FileOffset* out) {
  FileOffset o = current_offset();
  if (out) *out = o;
  return o;
}

// ---- packets of an elementary stream -----------------------------------------

int DeMuxer::next_packet() {
  packet_offset_ = current_offset();
  if (!elementary_ || es_data_.empty()) return 0;
  return es_data_[0].stream_id;
}

int DeMuxer::get_payload_size() {
  if (!elementary_ || es_data_.empty() || es_data_[0].max_packet_size <= 0) return 2048;
  return es_data_[0].max_packet_size;
}

int DeMuxer::get_payload(uint8_t* out, int count) {
  if (!out || count <= 0) return 0;
  int n = std::min(count, get_payload_size());
  int done = 0;
  while (done < n) {
    if (unread_ <= 0) {
      fill_bs_buffer();
      if (unread_ <= 0) break;
    }
    const int take = std::min(n - done, unread_);
    std::memcpy(out + done, buf_.get() + rd_, size_t(take));
    rd_ += take;
    unread_ -= take;
    done += take;
  }
  return done;
}

// Cutting and in-place rewriting of elementary streams are not part of this
// class yet; their slots report that nothing was done.
int DeMuxer::seqhdr_modifier(int, int) { return 0; }
int DeMuxer::vbv_modifier(int, int, int) { return 0; }
int DeMuxer::copy_bytes(uint8_t*, int, FileOffset) { return 0; }
int DeMuxer::trim_start(BSFile*, uint8_t*, int, FileOffset) { return 0; }

int DeMuxer::trim_end(uint8_t* out, int, int) {
  if (!out) return 0;
  out[0] = 0, out[1] = 0, out[2] = 1, out[3] = 0xB7;
  return 4;
}

// ---- stream table and selection --------------------------------------------------

ESData* DeMuxer::get_es_data(int* count) {
  if (!count) return nullptr;
  *count = int(es_data_.size());
  return es_data_.empty() ? nullptr : es_data_.data();
}

int DeMuxer::get_video_es_list(int* ids, int max, int* pids) {
  int n = 0;
  for (auto& r : es_data_) {
    if (r.stream_id < 0xE0 || r.stream_id > 0xEF) continue;
    if (ids && n < max) ids[n] = r.stream_id;
    if (pids && n < max) pids[n] = r.pid;
    ++n;
  }
  return n;
}

int DeMuxer::get_audio_es_list(int* ids, int max, int* pids) {
  int n = 0;
  for (auto& r : es_data_) {
    if (r.stream_id >= 0xE0) continue;
    if (ids && n < max) ids[n] = r.stream_id;
    if (pids && n < max) pids[n] = r.pid;
    ++n;
  }
  return n;
}

int DeMuxer::get_es_list(int* ids, int* pids, int max) {
  int n = 0;
  for (auto& r : es_data_) {
    if (n >= max) break;
    if (ids) ids[n] = r.stream_id;
    if (pids) pids[n] = r.pid;
    ++n;
  }
  return n;
}

int DeMuxer::get_ts_audio_pids(int* pids, int max) {
  if (stream_type_ != 8 || !pids) return 0;
  int n = 0;
  for (auto& r : es_data_)
    if (!r.is_video() && n < max) pids[n++] = r.pid;
  return n;
}

void DeMuxer::mark_video_vbr() {
  for (auto& r : es_data_)
    if (r.is_video()) r.vbr = 1;
}

int DeMuxer::get_video_selection(int* pid) const {
  if (pid) *pid = video_sel_pid_;
  return video_sel_id_;
}

int DeMuxer::get_audio_selection(int* pid) const {
  if (pid) *pid = audio_sel_pid_;
  return audio_sel_id_;
}

int DeMuxer::has_stream_id(int id) const {
  for (auto& r : es_data_)
    if (r.stream_id == id) return id;
  return 0;
}

namespace {

// The first header `get` gives among the records of stream id (as `same_id`
// judges it) and pid (0: any); id 0 stands for the selection sel_id/sel_pid.
template <class SameId, class Get>
auto first_header(std::vector<ESData>& records, int id, int pid, int sel_id, int sel_pid, SameId same_id, Get get)
    -> decltype(get(records.front())) {
  if (!id) {
    id = sel_id;
    pid = sel_pid;
  }
  for (auto& r : records)
    if (same_id(r, id) && (!pid || r.pid == pid) && get(r)) return get(r);
  return nullptr;
}

}  // namespace

FrmHdr* DeMuxer::get_audio_header(int id, int pid) {
  return first_header(
      es_data_, id, pid, audio_sel_id_, audio_sel_pid_, [](const ESData& r, int i) { return r.stream_id == i; },
      [](const ESData& r) { return r.get_audio_header(); });
}

AC3FrmHdr* DeMuxer::get_ac3_header(int id, int pid) {
  return first_header(
      es_data_, id, pid, audio_sel_id_, audio_sel_pid_,
      [](const ESData& r, int i) { return r.stream_id == i || i == 189; },
      [](const ESData& r) { return r.get_ac3_header(); });
}

SeqHdr* DeMuxer::find_video_header(int id, int pid) {
  SeqHdr* h = first_header(
      es_data_, id, pid, video_sel_id_, video_sel_pid_,
      [](const ESData& r, int i) { return r.is_video() && r.stream_id == i; },
      [](const ESData& r) { return r.get_video_header(); });
  if (h) return h;
  return seq_.invalid ? nullptr : &seq_;
}

void DeMuxer::set_video_info(int id, int pid) {
  if (es_data_.empty()) {
    trace("ERROR (DeMuxer::set_video_info): _es_data=nil\n");
    return;
  }
  for (auto& r : es_data_) {
    if (!r.is_video()) continue;
    if ((id && r.stream_id != id) || (pid && r.pid != pid)) continue;
    const SeqHdr* s = r.get_video_header();
    if (!s) {
      trace("DeMuxer::set_video_info (): video stream %d without sequence header\n", r.stream_id);
      continue;
    }
    s->get_video_info(&video_info_);
    video_info_.mpeg2 = s->mpeg2;
    video_info_.vbr = r.is_vbr();
    video_info_.drop_frame = r.get_drop_frame_flag();
    video_info_.stream_id = r.stream_id;
    video_info_.pid = r.pid;
    video_sel_id_ = r.stream_id;
    video_sel_pid_ = r.pid;
    video_pes_id_ = r.stream_id;
    video_selected_ = 1;
    const double fr = s->get_frame_rate();
    if (std::fabs(fr - frame_rate_) > 0.01) {
      frame_rate_ = fr;
      video_start_pts_ = kNoTime;
    }
    return;
  }
}

void DeMuxer::set_audio_info(int id, int pid) {
  for (auto& r : es_data_) {
    if (r.is_video()) continue;
    if ((id && r.stream_id != id) || (pid && r.pid != pid)) continue;
    if (r.get_audio_header()) {
      frm_hdr_ = *r.get_audio_header();
      frm_hdr_.get_audio_info(&audio_info_);
      audio_info_.set_audio_type(1);
    } else if (r.get_ac3_header()) {
      ac3_hdr_ = *r.get_ac3_header();
      ac3_hdr_.get_audio_info(&audio_info_);
      audio_info_.set_audio_type(9);
    } else {
      continue;
    }
    int br = r.get_audio_bit_rate();
    if (br <= 0) br = r.get_ac3_header() ? 384000 : 224000;
    audio_info_.bit_rate = br;
    audio_info_.pid = r.pid;
    audio_sel_id_ = r.get_ac3_header() ? 189 : r.stream_id;  // AC-3 rides in private stream 1
    audio_sel_pid_ = r.pid;
    audio_pes_id_ = audio_sel_id_;
    audio_start_pts_ = kNoTime;
    scr_per_audio_byte_ = 720000.0 / br;
    get_audio_start_pts();
    return;
  }
}

int DeMuxer::select_video_es(int id, int pid) {
  const int prev = video_sel_id_;
  if (id == video_sel_id_ && (pid == 0 || pid == video_sel_pid_)) return prev;
  set_video_info(id, pid);
  total_length_ = 0.0;
  find_bs_length();
  return prev;
}

int DeMuxer::select_audio_es(int id, int pid) {
  const int prev = audio_sel_id_;
  if (id == audio_sel_id_ && (pid == 0 || pid == audio_sel_pid_)) return prev;
  set_audio_info(id, pid);
  return prev;
}

int DeMuxer::add_stream_id(int id, int force) {
  for (int s : stream_ids_)
    if (s == id) return int(stream_ids_.size());
  if ((id >= 0xC0 && id <= 0xEF) || force) stream_ids_.push_back(id);
  return int(stream_ids_.size());
}

// ---- cached facts -------------------------------------------------------------------

double DeMuxer::get_frame_rate() {
  if (frame_rate_ > 0 && video_selected_) return frame_rate_;
  const SeqHdr* s = find_video_header(0, 0);
  frame_rate_ = s && s->get_frame_rate() > 0 ? s->get_frame_rate() : 30000.0 / 1001.0;
  return frame_rate_;
}

double DeMuxer::get_total_length() {
  if (total_length_ <= 0) find_bs_length();
  return total_length_;
}

int DeMuxer::get_bit_rate() {
  if (!vbr_ && stream_type_ != 6) return bit_rate_;
  const double len = get_total_length();
  if (len <= 0) return bit_rate_;
  const double r = (end_data_.to_double() - data_start_.to_double()) * 8.0 / len;
  if (r <= 0 || r > 2147483647.0) return bit_rate_;
  return int(r);
}

int DeMuxer::get_gop_bytes_estimate() {
  const int r = bit_rate_ / 8;
  if (r < 1) return 786432;
  double e = 0;
  if (total_length_ > 0 && vbr_) e = std::round((end_data_.to_double() - data_start_.to_double()) / total_length_);
  if (e > 0 && e < 2.0 * r) return int(e);
  return r > 0 ? r : 786432;
}

double DeMuxer::get_video_start_pts(int, int) {
  // Elementary streams carry no time stamps.
  if (stream_type_ < 4 || stream_type_ > 8) return 0.0;
  return video_start_pts_ > kNoTime ? video_start_pts_ : 0.0;
}

double DeMuxer::get_audio_start_pts(int, int) {
  if (stream_type_ < 4 || stream_type_ > 8) return 0.0;
  return audio_start_pts_ > kNoTime ? audio_start_pts_ : 0.0;
}

int DeMuxer::offset_to_field(FileOffset offset) {
  const double size = file_size_.to_double();
  if (size <= 0) return 0;
  return int(std::round(offset.to_double() * get_total_length() / size * get_frame_rate())) * 2;
}

int DeMuxer::needs_time_fix() {
  get_total_length();
  return timecode_flag_ || count_word_ > 1;
}

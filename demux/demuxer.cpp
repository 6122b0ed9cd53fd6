#include "demux/demuxer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "demux/demuxer_cache.h"
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

DeMuxer::DeMuxer(int stream_type) {
  st_.type = stream_type;
  st_.elementary = 1;
  st_.video_version = stream_type == 3 ? 3 : stream_type == 2 ? 2 : 0;
}

DeMuxer::DeMuxer(const DeMuxer& other) { assign(other); }

DeMuxer& DeMuxer::operator=(const DeMuxer& other) {
  if (&other == this) {
    trace("DeMuxer::operator= (ERROR): copy to itself\n");
    return *this;
  }
  assign(other);
  return *this;
}

DeMuxer::~DeMuxer() = default;

void DeMuxer::assign(const DeMuxer& o) {
  if (o.src_.name.empty()) {
    trace("ERROR (DeMuxer::operator=): invalid operand (BSFile)\n");
    return;
  }
  int err = 0;
  auto f = std::make_unique<BSFile>(o.src_.name.c_str(), 1, &err);
  if (err) {
    trace("ERROR (DeMuxer::operator=): invalid operand (BSFile)\n");
    return;
  }
  // Each group copies as its type says: the file handle and the buffer
  // contents stay behind, the picture parser starts afresh.
  src_ = o.src_;
  buf_ = o.buf_;
  st_ = o.st_;
  m_ = o.m_;
  audio_ = o.audio_;
  pp_ = o.pp_;
  src_.file = std::move(f);
  if (!src_.file->size().equals(src_.size)) {
    // The file grew (or shrank) since the source measured it.
    src_.size = src_.end_data = src_.file->size();
    m_.total_length = 0.0;
    find_bs_length();
  }
}

int DeMuxer::init(const char* name, int stream_type, int bit_rate) {
  if (!name) return 1;
  st_.type = stream_type;
  st_.bit_rate = bit_rate;
  if (!stream_type || !bit_rate) {
    int br = 0;
    st_.type = mpegfile_get_stream_type_and_bit_rate(name, &br);
    st_.bit_rate = br;
    if (!st_.type || !st_.bit_rate) return 1;
  }
  int err = 0;
  src_.file = std::make_unique<BSFile>(name, 1, &err);
  if (err || !src_.file->is_open()) {
    src_.file.reset();
    return 1;
  }
  init_bs_buffer(kReadBufferSize);
  if (!buf_.bytes) return 1;
  src_.name = name;
  src_.size = src_.end_data = src_.file->size();
  src_.time = file_time_ns(name);
  const bool es = st_.type == 1 || st_.type == 2 || st_.type == 3 || st_.type == 9;
  if (!es) return 1;  // system streams have classes of their own
  ESData rec;
  int rec_err = 0;
  rec.open(name, &rec_err);
  if (rec_err) return 1;
  st_.elementary = 1;
  st_.vbr = rec.is_vbr();
  st_.es_data.push_back(rec);
  ESData& r = st_.es_data.back();
  switch (st_.type) {
    case 2:
    case 3:
      r.stream_id = 0xE0;
      r.max_packet_size = r.max_payload_size = 2048;
      break;
    case 9: {
      st_.ac3 = 1;
      if (r.get_ac3_header()) st_.ac3_hdr = *r.get_ac3_header();
      const int sr = st_.ac3_hdr.sample_rate > 0 ? st_.ac3_hdr.sample_rate : 48000;
      audio_.frame_ticks = 1536.0 / sr * 90000.0;
      r.stream_id = 0x80;
      const int fs = st_.ac3_hdr.frame_size;
      r.max_packet_size = r.max_payload_size = fs == 0 ? 2048 : (2 * fs >= 2048 ? 2 * fs : 3 * fs);
      break;
    }
    default: {  // 1: MPEG audio
      if (r.get_audio_header()) st_.frm_hdr = *r.get_audio_header();
      if (st_.frm_hdr.valid && st_.frm_hdr.sample_rate > 0)
        audio_.frame_ticks = double(st_.frm_hdr.samples_per_frame()) / st_.frm_hdr.sample_rate * 90000.0;
      else
        audio_.frame_ticks = 0.026122448979591838 * 90000.0;
      r.stream_id = 0xC0;
      const int fs = st_.frm_hdr.valid ? st_.frm_hdr.frame_size : 731;
      r.max_packet_size = r.max_payload_size = fs == 0 ? 1024 : (2 * fs >= 1024 ? 2 * fs : 3 * fs);
      break;
    }
  }
  select_default_es();
  if (SeqHdr* s = st_.es_data[0].get_video_header()) st_.seq = *s;
  find_bs_length();
  if (st_.bit_rate > 0) {
    audio_.sec_per_byte = 8.0 / st_.bit_rate;
  } else {
    trace("ERROR (DMX::init): get_bit_rate () = 0\n");
    audio_.sec_per_byte = 8.0 / 6000000.0;
  }
  goto_offset(FileOffset(0u));
  return 0;
}

int DeMuxer::open_file() {
  if (src_.file) return 0;
  if (src_.name.empty()) {
    trace("ERROR (DeMuxer::open_file): _fname=nil\n");
    return 1;
  }
  int err = 0;
  auto f = std::make_unique<BSFile>(src_.name.c_str(), 1, &err);
  if (err) {
    trace("ERROR (DeMuxer::open_file): BSFile::ctor (%s) failed\n", src_.name.c_str());
    return 1;
  }
  src_.file = std::move(f);
  empty_bs_buffer();
  buf_.end.zero();
  return 0;
}

bool DeMuxer::update_file_size() {
  // A list of files is measured by the stream it reads, not by its text.
  int64_t time = 0;
  FileOffset now;
  if (src_.name.empty() || !demux_file_stamp(src_.name.c_str(), &time, &now)) return false;
  if (now.equals(src_.size)) return false;
  // The file layer keeps the size it found at open: open it again.
  int err = 0;
  auto f = std::make_unique<BSFile>(src_.name.c_str(), 1, &err);
  if (err) return false;
  src_.file = std::move(f);
  src_.size = src_.end_data = src_.file->size();
  src_.time = file_time_ns(src_.name.c_str());
  empty_bs_buffer();
  buf_.end.zero();
  return true;
}

void DeMuxer::close_file() {
  if (src_.file && src_.name.empty() && src_.file->name()) src_.name = src_.file->name();
  src_.file.reset();
  empty_bs_buffer();
}

// ---- read buffer -------------------------------------------------------------

void DeMuxer::init_bs_buffer(int size) {
  buf_.bytes.reset(new (std::nothrow) uint8_t[size_t(size) + 8]());
  if (!buf_.bytes) {
    trace("ERROR (DeMuxer::init_bs_buffer): new [%d] failed\n", size);
    buf_.size = 0;
  } else {
    buf_.size = size;
  }
  empty_bs_buffer();
}

void DeMuxer::fill_bs_buffer() {
  if (!buf_.bytes) init_bs_buffer(kReadBufferSize);
  if (!buf_.bytes || buf_.unread >= buf_.size) return;
  if (buf_.rd > 0 && buf_.unread > 0) std::memmove(buf_.bytes.get(), buf_.bytes.get() + buf_.rd, size_t(buf_.unread));
  buf_.rd = 0;
  if (!src_.file || buf_.end.greater_or_equal(src_.end_data)) return;
  if (++buf_.streak == 8 && buf_.size < kLargeReadBufferSize) {
    // Eight fills without a seek: the file is being read through.
    std::unique_ptr<uint8_t[]> large(new (std::nothrow) uint8_t[size_t(kLargeReadBufferSize) + 8]());
    if (large) {
      if (buf_.unread > 0) std::memcpy(large.get(), buf_.bytes.get(), size_t(buf_.unread));
      buf_.bytes = std::move(large);
      buf_.size = kLargeReadBufferSize;
    }
  }
  // Until the reads run on without a seek, they stay small: a reader that
  // jumps about would read most of a large buffer for nothing.
  const int room = (buf_.streak < 8 ? std::min(buf_.size, kReadBufferSize) : buf_.size) - buf_.unread;
  if (room <= 0) return;
  const uint64_t want = std::min<uint64_t>(uint64_t(room), src_.end_data.value() - buf_.end.value());
  if (!src_.file->tell().equals(buf_.end)) src_.file->seek(buf_.end, 0);
  const size_t got = src_.file->read(buf_.bytes.get() + buf_.unread, size_t(want));
  buf_.unread += int(got);
  buf_.end.add(int64_t(got));
}

void DeMuxer::goto_offset(FileOffset target) {
  if (target.greater(src_.end_data)) target = src_.end_data;
  const uint64_t held = uint64_t(buf_.rd + buf_.unread);
  const uint64_t range_start = buf_.end.value() >= held ? buf_.end.value() - held : 0;
  if (buf_.bytes && held > 0 && target.value() >= range_start && target.value() < buf_.end.value() &&
      target.value() - range_start < uint64_t(buf_.size)) {
    buf_.rd = int(target.value() - range_start);
    buf_.unread = int(held) - buf_.rd;
    return;
  }
  if (src_.file) src_.file->seek(target, 0);
  empty_bs_buffer();
  buf_.streak = 0;
  buf_.end = target;
  fill_bs_buffer();
  src_.last_seek = target;
}

FileOffset DeMuxer::get_curr_offset(FileOffset* out) {
  FileOffset o = current_offset();
  if (out) *out = o;
  return o;
}

// ---- packets of an elementary stream -----------------------------------------

int DeMuxer::next_packet() {
  if (!st_.elementary || st_.es_data.empty()) return 0;
  return st_.es_data[0].stream_id;
}

int DeMuxer::get_payload_size() {
  if (!st_.elementary || st_.es_data.empty() || st_.es_data[0].max_packet_size <= 0) return 2048;
  return st_.es_data[0].max_packet_size;
}

int DeMuxer::get_payload(uint8_t* out, int count) {
  if (!out || count <= 0) return 0;
  return take_bytes(out, std::min(count, get_payload_size()), false);
}

int DeMuxer::take_bytes(uint8_t* out, int n, bool direct) {
  int done = 0;
  while (done < n) {
    if (buf_.unread <= 0) {
      // Large copies go straight from the file into the caller's buffer.
      const uint64_t left = src_.end_data.value() > buf_.end.value() ? src_.end_data.value() - buf_.end.value() : 0;
      if (direct && src_.file && n - done >= buf_.size && left > 0) {
        const size_t want = size_t(std::min<uint64_t>(uint64_t(n - done), left));
        if (!src_.file->tell().equals(buf_.end)) src_.file->seek(buf_.end, 0);
        const size_t got = src_.file->read(out + done, want);
        if (got == 0) break;
        buf_.rd = 0;
        buf_.end.add(int64_t(got));
        done += int(got);
        continue;
      }
      fill_bs_buffer();
      if (buf_.unread <= 0) break;
    }
    const int take = std::min(n - done, buf_.unread);
    std::memcpy(out + done, buf_.bytes.get() + buf_.rd, size_t(take));
    buf_.rd += take;
    buf_.unread -= take;
    done += take;
  }
  return done;
}

int DeMuxer::trim_end(uint8_t* out, int, int) {
  if (!out) return 0;
  out[0] = 0, out[1] = 0, out[2] = 1, out[3] = 0xB7;
  return 4;
}

// ---- stream table and selection --------------------------------------------------

ESData* DeMuxer::get_es_data(int* count) {
  if (!count) return nullptr;
  *count = int(st_.es_data.size());
  return st_.es_data.empty() ? nullptr : st_.es_data.data();
}

int DeMuxer::get_video_es_list(int* ids, int max, int* pids) {
  int n = 0;
  for (auto& r : st_.es_data) {
    if (r.stream_id < 0xE0 || r.stream_id > 0xEF) continue;
    if (ids && n < max) ids[n] = r.stream_id;
    if (pids && n < max) pids[n] = r.pid;
    ++n;
  }
  return n;
}

int DeMuxer::get_audio_es_list(int* ids, int max, int* pids) {
  int n = 0;
  for (auto& r : st_.es_data) {
    if (r.stream_id >= 0xE0) continue;
    if (ids && n < max) ids[n] = r.stream_id;
    if (pids && n < max) pids[n] = r.pid;
    ++n;
  }
  return n;
}

int DeMuxer::get_es_list(int* ids, int* pids, int max) {
  int n = 0;
  for (auto& r : st_.es_data) {
    if (n >= max) break;
    if (ids) ids[n] = r.stream_id;
    if (pids) pids[n] = r.pid;
    ++n;
  }
  return n;
}

int DeMuxer::get_ts_audio_pids(int* pids, int max) {
  if (st_.type != 8 || !pids) return 0;
  int n = 0;
  for (auto& r : st_.es_data)
    if (!r.is_video() && n < max) pids[n++] = r.pid;
  return n;
}

void DeMuxer::mark_video_vbr() {
  for (auto& r : st_.es_data)
    if (r.is_video()) r.vbr = 1;
}

int DeMuxer::get_video_selection(int* pid) const {
  if (pid) *pid = st_.video_pid;
  return st_.video_id;
}

int DeMuxer::get_audio_selection(int* pid) const {
  if (pid) *pid = st_.audio_pid;
  return st_.audio_id;
}

int DeMuxer::has_stream_id(int id) const {
  for (auto& r : st_.es_data)
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
      st_.es_data, id, pid, st_.audio_id, st_.audio_pid, [](const ESData& r, int i) { return r.stream_id == i; },
      [](const ESData& r) { return r.get_audio_header(); });
}

AC3FrmHdr* DeMuxer::get_ac3_header(int id, int pid) {
  return first_header(
      st_.es_data, id, pid, st_.audio_id, st_.audio_pid,
      [](const ESData& r, int i) { return r.stream_id == i || i == 189; },
      [](const ESData& r) { return r.get_ac3_header(); });
}

SeqHdr* DeMuxer::find_video_header(int id, int pid) {
  SeqHdr* h = first_header(
      st_.es_data, id, pid, st_.video_id, st_.video_pid,
      [](const ESData& r, int i) { return r.is_video() && r.stream_id == i; },
      [](const ESData& r) { return r.get_video_header(); });
  if (h) return h;
  return st_.seq.invalid ? nullptr : &st_.seq;
}

void DeMuxer::set_video_info(int id, int pid) {
  if (st_.es_data.empty()) {
    trace("ERROR (DeMuxer::set_video_info): _es_data=nil\n");
    return;
  }
  for (auto& r : st_.es_data) {
    if (!r.is_video()) continue;
    if ((id && r.stream_id != id) || (pid && r.pid != pid)) continue;
    const SeqHdr* s = r.get_video_header();
    if (!s) {
      trace("DeMuxer::set_video_info (): video stream %d without sequence header\n", r.stream_id);
      continue;
    }
    s->get_video_info(&st_.video_info);
    st_.video_info.mpeg2 = s->mpeg2;
    st_.video_info.vbr = r.is_vbr();
    st_.video_info.drop_frame = r.get_drop_frame_flag();
    st_.video_info.stream_id = r.stream_id;
    st_.video_info.pid = r.pid;
    st_.video_id = r.stream_id;
    st_.video_pid = r.pid;
    st_.video_selected = 1;
    const double fr = s->get_frame_rate();
    if (std::fabs(fr - st_.frame_rate) > 0.01) {
      st_.frame_rate = fr;
      m_.video_start_pts = kNoTime;
    }
    return;
  }
}

void DeMuxer::set_audio_info(int id, int pid) {
  for (auto& r : st_.es_data) {
    if (r.is_video()) continue;
    if ((id && r.stream_id != id) || (pid && r.pid != pid)) continue;
    if (r.get_audio_header()) {
      st_.frm_hdr = *r.get_audio_header();
      st_.frm_hdr.get_audio_info(&st_.audio_info);
      st_.audio_info.set_audio_type(1);
    } else if (r.get_ac3_header()) {
      st_.ac3_hdr = *r.get_ac3_header();
      st_.ac3_hdr.get_audio_info(&st_.audio_info);
      st_.audio_info.set_audio_type(9);
    } else if (r.lpcm) {
      r.get_audio_info(&st_.audio_info);
    } else {
      continue;
    }
    int br = r.get_audio_bit_rate();
    if (br <= 0) br = r.get_ac3_header() ? 384000 : r.lpcm ? r.sample_rate * r.get_channel_count() * 16 : 224000;
    st_.audio_info.bit_rate = br;
    st_.audio_info.pid = r.pid;
    // AC-3 and linear PCM ride in private stream 1.
    st_.audio_id = r.get_ac3_header() || r.lpcm ? 189 : r.stream_id;
    st_.audio_pid = r.pid;
    audio_.start_pts = kNoTime;
    get_audio_start_pts();
    return;
  }
}

int DeMuxer::select_video_es(int id, int pid) {
  const int prev = st_.video_id;
  if (id == st_.video_id && (pid == 0 || pid == st_.video_pid)) return prev;
  set_video_info(id, pid);
  m_.total_length = 0.0;
  find_bs_length();
  return prev;
}

int DeMuxer::select_audio_es(int id, int pid) {
  const int prev = st_.audio_id;
  if (id == st_.audio_id && (pid == 0 || pid == st_.audio_pid)) return prev;
  set_audio_info(id, pid);
  return prev;
}

// ---- cached facts -------------------------------------------------------------------

double DeMuxer::get_frame_rate() {
  if (st_.frame_rate > 0 && st_.video_selected) return st_.frame_rate;
  const SeqHdr* s = find_video_header(0, 0);
  st_.frame_rate = s && s->get_frame_rate() > 0 ? s->get_frame_rate() : 30000.0 / 1001.0;
  return st_.frame_rate;
}

double DeMuxer::get_total_length() {
  if (m_.total_length <= 0) find_bs_length();
  return m_.total_length;
}

int DeMuxer::get_bit_rate() {
  if (!st_.vbr && st_.type != 6) return st_.bit_rate;
  const double len = get_total_length();
  if (len <= 0) return st_.bit_rate;
  const double r = (src_.end_data.to_double() - src_.data_start.to_double()) * 8.0 / len;
  if (r <= 0 || r > 2147483647.0) return st_.bit_rate;
  return int(r);
}

int DeMuxer::get_gop_bytes_estimate() {
  const int r = st_.bit_rate / 8;
  if (r < 1) return 786432;
  double e = 0;
  if (m_.total_length > 0 && st_.vbr) e = std::round((src_.end_data.to_double() - src_.data_start.to_double()) / m_.total_length);
  if (e > 0 && e < 2.0 * r) return int(e);
  return r > 0 ? r : 786432;
}

double DeMuxer::get_video_start_pts(int, int) {
  // Elementary streams carry no time stamps.
  if (st_.type < 4 || st_.type > 8) return 0.0;
  return m_.video_start_pts > kNoTime ? m_.video_start_pts : 0.0;
}

double DeMuxer::get_audio_start_pts(int, int) {
  if (st_.type < 4 || st_.type > 8) return 0.0;
  return audio_.start_pts > kNoTime ? audio_.start_pts : 0.0;
}

int DeMuxer::offset_to_field(FileOffset offset) {
  const double size = src_.size.to_double();
  if (size <= 0) return 0;
  return int(std::round(offset.to_double() * get_total_length() / size * get_frame_rate())) * 2;
}

int DeMuxer::needs_time_fix() {
  get_total_length();
  return m_.timecode_flag;
}

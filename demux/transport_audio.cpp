// Audio spans of a transport stream: the PES payload of the selected audio
// PID between two offsets, stamped with the PTS of its first PES (plus the
// time-stamp table's correction behind a reset).
#include <algorithm>

#include "demux/transport_demuxer.h"
#include "foundation/trace.h"

int DeMuxerTransport::collect_pid(int pid, ESBuffer* s, int want, FileOffset end, bool one_pes,
                                  FileOffset* first_pes, double* pts) {
  s->bytes = 0;
  bool started = false;
  while (true) {
    if (current_offset().greater_or_equal(end)) break;
    if (read_packet()) {
      if (!step_over_bad_packet()) break;
      continue;
    }
    if (packet_.PID != pid || packet_.payload_length <= 0 || !packet_.payload_unit_start_indicator) {
      advance_packet();
      continue;
    }
    if (decode_pes_header()) {
      trace("DeMuxerTransport::load_abs (): PES header error at %.0f\n", current_offset().to_double());
      advance_packet();
      continue;
    }
    if (!started) {
      started = true;
      if (first_pes) *first_pes = current_offset();
    }
    const int pl = pes_.payload_length;
    if (pl > want - s->bytes) {
      if (s->bytes > 0) break;
      s->resize(uint32_t(((pl + 4095) / 4096 + 1) * 4096));
      want = int(s->size) - 4096;
    }
    if (pts && *pts <= kNoTime && pes_.pts_flag) *pts = pes_.pts + lookup_offset_table(current_offset());
    const int n = copy_pes_payload(s->data + s->bytes, std::max(0, want - s->bytes));
    s->bytes += n;
    if ((one_pes && n > 0) || want - s->bytes < 184) break;
  }
  return s->bytes;
}

int DeMuxerTransport::set_abs_pid(ESBuffer* s) {
  if (s->pid > 0 && s->pid == audio_pid_) return audio_pid_;
  int pid = -1;
  if (!s->pid && !s->stream_id) {
    pid = audio_pid_ != kNoPid ? audio_pid_ : -1;
  } else if (s->pid > 0) {
    if (pid_index(s->pid) >= 0 && !st_.es_data[size_t(pid_index(s->pid))].is_video()) pid = s->pid;
  } else {
    for (const ESData& r : st_.es_data)
      if (!r.is_video() && (r.stream_id == s->stream_id || (s->stream_id == 0xBD && r.get_ac3_header()))) pid = r.pid;
  }
  if (pid < 0) {
    s->bytes = 0;
    return kNoPid;
  }
  s->pid = pid;
  if (pid != audio_pid_) select_audio_es(0, pid);
  return pid;
}

double DeMuxerTransport::load_abs(ESBuffer* s, int count, int /*end_flag*/) {
  if (!s || set_abs_pid(s) == kNoPid) return 0.0;
  const int cap = int(s->size);
  int want = count;
  if (want <= 0 || want > cap - 1024) want = cap;
  if (cap >= 16384) want = std::min(want, cap - 4096);
  if (!current_offset().equals(s->start)) goto_offset(s->start);
  s->bytes = 0;
  s->time = kNoTime;
  s->time_valid = 0;
  s->first_frame = 0;
  FileOffset end = src_.end_data;
  if (s->end.greater(s->start) && s->end.less(end)) end = s->end;
  FileOffset first_pes = current_offset();
  double pts = kNoTime;
  collect_pid(audio_pid_, s, want, end, true, &first_pes, &pts);

  const ESData* rec = pid_index(audio_pid_) >= 0 ? &st_.es_data[size_t(pid_index(audio_pid_))] : nullptr;
  int o = -1, frame = 731;
  if (rec && rec->lpcm) {
    o = 0;  // samples from the first byte: the PES header carried the framing
  } else if (rec && rec->get_ac3_header()) {
    AC3FrmHdr h;
    int at = ac3_find_frame(*rec->get_ac3_header(), s->data, s->bytes, &h);
    if (!h.valid) at = h.decode(s->data, s->bytes, 0);
    if (h.valid) o = at;
    frame = h.valid ? h.frame_size : rec->get_ac3_header()->frame_size;
  } else if (rec && rec->get_audio_header()) {
    FrmHdr h;
    int at = h.find_matching(s->data, s->bytes, *rec->get_audio_header());
    if (!h.valid) at = h.parse_buffer(s->data, s->bytes);
    if (h.valid) {
      o = at;
      frame = h.frame_size > 0 ? h.frame_size : 731;
    }
  }
  if (pts <= kNoTime || o < 0) {
    s->first_frame = 0;
    s->time = first_pes.to_double() * audio_.sec_per_byte * 90000.0;
  } else {
    if (o > frame) trace("DeMuxerTransport::load_abs (WARNING): first frame %d bytes into the PES\n", o);
    s->first_frame = o;
    s->time = pts;
  }
  s->time_valid = 1;
  ++audio_.load_count;
  if (audio_.start_pts > kNoTime && s->time < audio_.start_pts && pts > kNoTime)
    trace("DeMuxerTransport::load_abs (): PTS %.0f before the start %.0f\n", s->time, audio_.start_pts);
  return s->time;
}

int DeMuxerTransport::read_abs(ESBuffer* s) {
  if (!s || set_abs_pid(s) == kNoPid) return 0;
  const int n = s->bytes > 0 ? s->bytes : int(s->size);
  if (uint32_t(n) > s->size) s->resize(uint32_t(n));
  if (!current_offset().equals(s->start)) goto_offset(s->start);
  FileOffset end = src_.end_data;
  if (s->end.greater(s->start) && s->end.less(end)) end = s->end;
  return collect_pid(audio_pid_, s, std::min(n, int(s->size)), end, false, nullptr, nullptr);
}

#include "app/tools/stream_info.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/clips/clip_streams.h"
#include "engine/clips/clip_verify.h"
#include "engine/clips/file_info.h"
#include "foundation/ac3.h"
#include "foundation/es_data.h"
#include "foundation/timecode.h"

namespace {

constexpr size_t kMaxStreams = 8;

template <typename... A>
std::string format(const char* fmt, A... args) {
  char text[512];
  std::snprintf(text, sizeof text, fmt, args...);
  return text;
}

int to_frame(double seconds, double rate) { return int(seconds * rate + 0.5); }

// The line of one stream in its selector.
std::string selector_line(const StreamRecord& r, int programs) {
  const ClipInfo& i = r.info;
  if (programs < 2)
    return i.pid == 0 ? format("%3d (0x%02x)", i.stream_id, i.stream_id) : format("%3d (%d)", i.stream_id, i.pid);
  return i.pid == 0 ? format("%d - %3d (0x%02x)", r.program + 1, i.stream_id, i.stream_id)
                    : format("%d - %3d (%d)", r.program + 1, i.stream_id, i.pid);
}

// The selector's lines, and the line of the clip's chosen stream (else 0).
void selector_lines(const std::vector<StreamRecord>& records, int stream_id, int pid, std::vector<std::string>* lines,
                    int* chosen) {
  int programs = 1;
  for (const StreamRecord& r : records) programs = std::max(programs, r.program + 1);
  lines->clear();
  *chosen = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    lines->push_back(selector_line(records[i], programs));
    if (records[i].info.stream_id == stream_id && records[i].info.pid == pid) *chosen = int(i);
  }
}

}  // namespace

std::string grouped_frames(int f) {
  if (f >= 1000000) return format("%d,%03d,%03d", f / 1000000, f / 1000 % 1000, f % 1000);
  if (f >= 1000) return format("%d,%03d", f / 1000, f % 1000);
  return format("%d", f);
}

void clip_stream_records(Clip* c, std::vector<StreamRecord>* video, std::vector<StreamRecord>* audio) {
  video->clear();
  audio->clear();
  if (Clip::is_mpeg_video_type(c->clip_type)) {
    // Both lists come from the same demultiplexer in the same order: the
    // descriptions from one, the programs from the other.
    constexpr int kCap = 24;
    std::vector<ClipInfo> info(kCap);
    const int n = clip_get_es_info(c, info.data(), kCap);
    std::vector<ESData> es(kCap);
    MPEG_Clip m(*c);
    const int k = mpeg_clip_get_es_data(&m, es.data(), kCap);
    for (int i = 0; i < n; ++i) {
      StreamRecord r{info[size_t(i)], i < k ? std::max(0, int(es[size_t(i)].program_index)) : 0};
      std::vector<StreamRecord>* to = r.info.mpeg_version > 0 ? video : audio;
      if (to->size() < kMaxStreams) to->push_back(r);
    }
    return;
  }
  ClipInfo one;
  if (c->clip_type == 1 || c->clip_type == 9) {
    if (clip_get_audio_es_info(c, &one, 1)) audio->push_back({one, 0});
  } else if (clip_get_video_es_info(c, &one, 1)) {
    video->push_back({one, 0});
  }
}

CStreamInfoDlg::CStreamInfoDlg(const EClip& project) : project_(project) {
  values[kEnd] = project_.get_total_time();
  values[kInsert] = values[kEnd] / 2;
  values[kOffset] = frame_rate > 0 ? project_.header[1] / frame_rate : 0.0;
}

std::vector<std::string> CStreamInfoDlg::clip_names() const {
  std::vector<std::string> names;
  for (const Clip& c : project_.clips) names.push_back(c.get_file_name() ? c.get_file_name() : "");
  return names;
}

int CStreamInfoDlg::pmt_pid(int i) const { return i >= 0 && i < int(pmt_.size()) ? pmt_[size_t(i)] : 0; }

Clip* CStreamInfoDlg::clip() {
  return current >= 0 && current < clip_count() ? &project_.clips[size_t(current)] : nullptr;
}

void CStreamInfoDlg::init() {
  pmt_.assign(project_.clips.size(), 0);
  const int offset = to_frame(values[kOffset], frame_rate);
  int sum = 0;
  for (size_t i = 0; i < project_.clips.size(); ++i) {
    Clip& c = project_.clips[i];
    if (c.clip_type == 8 && c.get_file_name()) {
      FileInfoFacade info;
      if (info.open(c.get_file_name()) == 0) pmt_[i] = info.get_ts_info();
    }
    if (current < 0 && offset >= sum && offset < sum + c.count) current = int(i);
    sum += c.count;
  }
  if (current < 0 || current >= clip_count()) current = 0;
  show_clip();
}

void CStreamInfoDlg::choose_clip(int index) {
  if (index < 0 || index >= clip_count()) return;
  current = index;
  show_clip();
}

void CStreamInfoDlg::show_clip_line() {
  Clip* c = clip();
  if (!c) return;
  const double start = clip_get_video_start_time(c);
  const double length = clip_get_video_time_of(c);
  const double file_time = c->frame_rate > 0 ? c->video_frame_total / c->frame_rate : 0.0;
  clip_line = format("   (%d) clip: [%.2f - %.2f] (%d - %d);   total: %.2f (%d);   file: %.3f MB", current + 1, start,
                     start + length, c->start, c->start + c->count, file_time, c->video_frame_total,
                     c->file_size * 0.000001);
}

void CStreamInfoDlg::show_clip() {
  Clip* c = clip();
  if (!c) return;
  const char* kind = Clip::get_clip_name(c->clip_type);
  const int pmt = pmt_pid(current);
  clip_group = pmt ? format("Stream Info:  clip %d/%d (%s), PMT-PID: %d", current + 1, clip_count(), kind, pmt)
                   : format("Stream Info:  clip %d/%d (%s)", current + 1, clip_count(), kind);
  show_clip_line();
  clip_stream_records(c, &video_, &audio_);

  selector_lines(video_, c->video_stream_id, c->video_pid, &video_lines, &video_line);
  show_video_info(c->video_stream_id, c->video_pid);
  selector_lines(audio_, c->audio_stream_id, c->audio_pid, &audio_lines, &audio_line);
  show_audio_info(c->audio_stream_id, c->audio_pid);
}

void CStreamInfoDlg::choose_video(int line) {
  Clip* c = clip();
  if (!c || line < 0 || line >= int(video_.size())) return;
  video_line = line;
  const ClipInfo& r = video_[size_t(line)].info;
  if (r.stream_id == c->video_stream_id && r.pid == c->video_pid) return;
  clip_select_video_stream(c, r.stream_id, r.pid);
  show_clip_line();
  show_video_info(r.stream_id, r.pid);
}

void CStreamInfoDlg::choose_audio(int line) {
  Clip* c = clip();
  if (!c || line < 0 || line >= int(audio_.size())) return;
  audio_line = line;
  const ClipInfo& r = audio_[size_t(line)].info;
  clip_select_audio_stream(c, r.stream_id, r.pid);
  show_audio_info(r.stream_id, r.pid);
}

void CStreamInfoDlg::show_video_info(int stream_id, int pid) {
  Clip* c = clip();
  video_format.clear();
  video_text.clear();
  video_group = format("Video (%d)", int(video_.size()));
  if (!c || video_.empty()) return;
  const ClipInfo* r = &video_[0].info;
  for (const StreamRecord& s : video_)
    if (s.info.stream_id == stream_id && (s.info.pid == 0 || s.info.pid == pid)) {
      r = &s.info;
      break;
    }
  const bool yuv422 = r->chroma == 2;
  if (Clip::is_still_image_type(c->clip_type)) {
    video_format = c->clip_type == 12 ? "Bitmap" : "JPEG";
    video_text = format(yuv422 ? "\n    resolution: %d x %d (422)" : "\n    resolution: %d x %d", r->width, r->height);
  } else {
    video_format = format(r->vbr ? "MPEG-%d (VBR)" : "MPEG-%d", r->mpeg_version);
    video_text = format(yuv422 ? "\n    resolution: %d x %d (422)\n    frame rate: %.2f fps\n    bit rate:   %.6f mbs"
                               : "\n    resolution: %d x %d\n    frame rate: %.2f fps\n    bit rate:   %.6f mbs",
                        r->width, r->height, r->frame_rate, r->video_bit_rate * 0.000001);
  }
  if (c->clip_type == 8 && r->pid > 0) video_group = format("Video (%d), PID: %d", int(video_.size()), r->pid);
}

void CStreamInfoDlg::show_audio_info(int stream_id, int pid) {
  Clip* c = clip();
  audio_format.clear();
  audio_text.clear();
  audio_group = format("Audio (%d)", int(audio_.size()));
  if (!c || audio_.empty()) return;
  const ClipInfo* r = &audio_[0].info;
  for (const StreamRecord& s : audio_)
    if (s.info.stream_id == stream_id && (pid == 0 || s.info.pid == pid)) {
      r = &s.info;
      break;
    }
  const double khz = r->sample_rate / 1000.0, kbs = r->audio_bit_rate / 1000.0;
  if (r->audio_layer) {
    audio_format = format("MPEG Layer-%d", r->audio_layer);
    audio_text = format("\n    channels:    %d\n    sample rate: %.2f kHz\n    bit rate:    %.0f kbs", r->channels, khz, kbs);
  } else {
    const bool ac3 = r->get_audio_type() == 9;
    audio_format = ac3 ? "Dolby AC-3" : "Linear PCM";
    const int channels = ac3 ? r->ac3_channels : r->channels;
    const char* name = ac3_language_name(r->ac3_language);
    audio_text = name ? format("\n    channels: %d (%s)\n    sample rate: %.2f kHz\n    bit rate:    %.0f kbs", channels,
                               name, khz, kbs)
                      : format("\n    channels: %d\n    sample rate: %.2f kHz\n    bit rate:    %.0f kbs", channels, khz,
                               kbs);
  }
  if (c->clip_type == 8 && r->pid > 0) audio_group = format("Audio (%d), PID: %d", int(audio_.size()), r->pid);
}

std::string CStreamInfoDlg::value_text(int which) const {
  if (which < 0 || which > 3) return {};
  const double s = values[which];
  if (!time_format) return grouped_frames(to_frame(s, frame_rate));
  SMPTE_TimeCode tc;
  tc.set_frame_rate(frame_rate);
  tc.set_seconds(s);
  char text[SMPTE_TEXT_SIZE];
  return tc.to_string(text, 1);
}

bool CStreamInfoDlg::set_value_text(int which, const std::string& text) {
  if (which < 0 || which > 3 || frame_rate <= 0) return false;
  if (time_format) {
    SMPTE_TimeCode tc;
    tc.set_frame_rate(frame_rate);
    if (tc.string_2_time(text.c_str()) != 0) return false;
    values[which] = tc.get_seconds();
    return true;
  }
  // Frame numbers, with or without their group separators.
  std::string digits;
  for (const char ch : text) {
    if (ch == ',' || ch == ' ') continue;
    if (ch < '0' || ch > '9' || digits.size() >= 9) return false;
    digits += ch;
  }
  if (digits.empty()) return false;
  values[which] = std::atoi(digits.c_str()) / frame_rate;
  return true;
}

std::string CStreamInfoDlg::segment_caption() {
  const double total = project_.get_total_time();
  const int frames = project_.get_total_frames();
  if (time_format)
    return format("Marked Segment:   (total = %.2f (%d)), offset = %d", total, frames,
                  to_frame(values[kOffset], frame_rate));
  return format("Marked Segment:   (total = %.2f (%d))", total, frames);
}

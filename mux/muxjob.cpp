#include "mux/muxjob.h"

#include <algorithm>

#include "foundation/mpeg_fields.h"
#include "foundation/trace.h"

namespace {

constexpr int kPidStep = 16;

bool pid_ok(int pid) { return pid >= 16 && pid <= 8190; }

int es_naming_kind(const ESData& e) {
  if (e.is_video()) return 1;
  if (!e.is_audio()) return 0;
  if (e.ac3 || e.kind == ES_KIND_AC3) return 3;
  if (e.lpcm) return 4;
  return 2;
}

bool is_mux_audio(const ESData& e) { return !e.is_video() && (e.kind == ES_KIND_MPEG_AUDIO || e.ac3); }

}  // namespace

int MUXer::add_es(const char* file_name, int stream_id, int pid) {
  if (!file_name || !*file_name) return 0;
  for (const ESData& e : es_)
    if (e.name == file_name && (stream_id == 0 || e.stream_id == stream_id) && (pid == 0 || e.pid == pid)) {
      trace("MUXer::add_es: \"%s\" is already listed\n", file_name);
      return 0;
    }
  ESData d;
  if (open_mux_input(file_name, &d) != 0) {
    trace("MUXer::add_es (ERROR): \"%s\" is not an elementary stream\n", file_name);
    return 0;
  }
  const int kind = es_naming_kind(d);
  if (!kind) return 0;
  // Every input gets a name of its own in the id table, so that one file
  // listed twice with other ids keeps two entries.
  const std::string key = std::string(file_name) + "#" + std::to_string(es_.size()) + "#" + std::to_string(stream_id);
  if (!ids_.add_es(key.c_str(), kind)) return 0;
  if (stream_id) ids_.set_es_stream_id(key.c_str(), stream_id);
  if (pid) ids_.set_es_pid(key.c_str(), pid);
  int sid = 0, spid = 0;
  ids_.get_es_id(key.c_str(), &sid, &spid);
  d.stream_id = sid;
  d.pid = spid;
  es_.push_back(d);
  kinds_.push_back(kind);
  estimates_valid_ = 0;
  return 1;
}

int MUXer::remove_es(const char* file_name, int stream_id) {
  if (!file_name) return 0;
  for (size_t i = 0; i < es_.size(); ++i)
    if (es_[i].name == file_name && (stream_id == 0 || es_[i].stream_id == stream_id)) {
      es_.erase(es_.begin() + long(i));
      kinds_.erase(kinds_.begin() + long(i));
      estimates_valid_ = 0;
      return 1;
    }
  return 0;
}

int MUXer::estimate_sizes(double out[5]) {
  std::fill(out, out + 5, 0.0);
  if (es_.empty()) return 0;
  ::estimate_sizes(out, count(), es_.data());
  estimates_valid_ = 1;
  return 1;
}

int MUXer::set_audio_offset(int64_t ms, const char* file_name) {
  int audios = 0, last = -1;
  for (size_t i = 0; i < es_.size(); ++i)
    if (is_mux_audio(es_[i])) ++audios, last = int(i);
  if (audios < 2 || !file_name) {
    if (last < 0) return 1;
    es_[size_t(last)].audio_offset = ms;
    return 0;
  }
  for (ESData& e : es_)
    if (!e.is_video() && e.name == file_name) {
      e.audio_offset = ms;
      return 0;
    }
  return 1;
}

bool MUXer::pids_clash(int pmt, int video_base, int audio_base) const {
  std::vector<int> used = {pmt};
  int v = 0, a = 0;
  for (const ESData& e : es_) {
    const int pid = e.is_video() ? video_base + kPidStep * v++ : audio_base + kPidStep * a++;
    if (!pid_ok(pid) || std::find(used.begin(), used.end(), pid) != used.end()) return true;
    used.push_back(pid);
  }
  // The bases themselves stay apart even before inputs are listed.
  return pmt == video_base || pmt == audio_base || video_base == audio_base;
}

int MUXer::set_pmt_pid(int pid) {
  if (pid_ok(pid) && !pids_clash(pid, video_pid_, audio_pid_)) pmt_pid_ = pid;
  return pmt_pid_;
}

int MUXer::set_video_pid(int pid) {
  if (pid_ok(pid) && !pids_clash(pmt_pid_, pid, audio_pid_)) {
    video_pid_ = pid;
    assign_pids();
  }
  return video_pid_;
}

int MUXer::set_audio_pid(int pid) {
  if (pid_ok(pid) && !pids_clash(pmt_pid_, video_pid_, pid)) {
    audio_pid_ = pid;
    assign_pids();
  }
  return audio_pid_;
}

void MUXer::assign_pids() {
  int v = 0, a = 0;
  for (ESData& e : es_) e.pid = e.is_video() ? video_pid_ + kPidStep * v++ : audio_pid_ + kPidStep * a++;
}

int MUXer::count_vbr_video() const {
  int n = 0;
  for (const ESData& e : es_)
    if (e.is_video() && e.is_vbr()) ++n;
  return n;
}

int MUXer::is_vcd_compliant() const {
  if (es_.size() != 2) return 0;
  const int v = es_[0].is_video() ? 0 : es_[1].is_video() ? 1 : -1;
  if (v < 0 || es_[size_t(1 - v)].is_video()) return 0;
  return is_vcd_pair(&es_[size_t(v)], &es_[size_t(1 - v)]);
}

int MUXer::is_svcd_compliant() const {
  if (es_.size() != 2) return 0;
  const int v = es_[0].is_video() ? 0 : es_[1].is_video() ? 1 : -1;
  if (v < 0 || es_[size_t(1 - v)].is_video()) return 0;
  const ESData& video = es_[size_t(v)];
  const ESData& audio = es_[size_t(1 - v)];
  if (audio.kind != ES_KIND_MPEG_AUDIO) return 0;
  return check_svcd_video(video.is_video_mpeg2(), video.get_video_frame_rate(), video.get_video_width(),
                          video.get_video_height()) &&
                 check_svcd_audio(audio.get_audio_layer(), audio.get_audio_sample_rate(),
                                  audio.get_audio_channels(), audio.get_audio_bit_rate())
             ? 1
             : 0;
}

int MUXer::is_dvd_video() const {
  const ESData* video = nullptr;
  for (const ESData& e : es_) {
    if (!e.is_video()) continue;
    if (video) return 0;
    video = &e;
  }
  return video && video->is_video_mpeg2() &&
                 check_dvd_video(1, video->get_video_bit_rate(), video->get_video_frame_rate(),
                                 video->get_video_width(), video->get_video_height())
             ? 1
             : 0;
}

int MUXer::mux_type_of_format(int format) {
  switch (format) {
    case 1: return MUX_MPEG1_SYSTEM;
    case 2: return MUX_VCD;
    case 3: return MUX_MPEG2_PROGRAM;
    case 4: return MUX_TRANSPORT;
    default: return MUX_MPEG2_PROGRAM;
  }
}

double MUXer::run(const char* out_name, int format, JobControl* status, MuxReport* report) {
  if (es_.empty()) {
    if (status) {
      status->set_progress(100.0);
      status->finish(JobOutcome::failed, kMuxFailed, "no inputs");
    }
    return 0.0;
  }
  const int type = mux_type_of_format(format);
  int vbr = vbr_;
  if (type == MUX_TRANSPORT) {
    assign_pids();
    if (count_vbr_video() > 0) vbr = 1;
  }
  const int svcd = svcd_ && is_svcd_compliant() ? 1 : 0;
  // What the caution dialog calls DVD-compatible must be one that a DVD
  // authoring tool takes: with navigation packs.
  const int nav = type == MUX_MPEG2_PROGRAM && format == 3 && !svcd && !minimize_ && is_dvd_video() ? 1 : 0;
  std::vector<ESData> list = es_;  // the job may fill in parsed facts
  return muxer_encode(out_name, type, count(), list.data(), status, vbr, svcd, minimize_, pmt_pid_, report, nav);
}

MUXerFacade* MUXerFacade::create() { return new MUXerFacade(); }
void MUXerFacade::destroy(MUXerFacade* f) { delete f; }

#include "app/tools/multiplexer.h"

#include <algorithm>

#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/tools/tool_text.h"
#include "foundation/es_data.h"
#include "platform/services.h"
#include "mux/mux_drivers.h"
#include "mux/muxjob.h"

namespace {

class FacadeEngine : public MuxEngine {
 public:
  FacadeEngine() : f_(MUXerFacade::create()) {}
  ~FacadeEngine() override { MUXerFacade::destroy(f_); }
  int add_es(const std::string& name) override { return f_->add_es(name.c_str(), 0, 0); }
  int remove_es(const std::string& name) override { return f_->remove_es(name.c_str(), 0); }
  int estimate_sizes(double out[5]) override { return f_->estimate_sizes(out); }
  int is_vcd_compliant() override { return f_->is_vcd_compliant(); }
  int is_svcd_compliant() override { return f_->is_svcd_compliant(); }
  int count_vbr_video() override { return f_->count_vbr_video(); }
  void set_minimize_size(int on) override { f_->set_minimize_size(on); }
  void set_vbr(int on) override { f_->set_vbr(on); }
  void set_pmt_pid(int pid) override { f_->set_pmt_pid(pid); }
  void set_video_pid(int pid) override { f_->set_video_pid(pid); }
  void set_audio_pid(int pid) override { f_->set_audio_pid(pid); }
  void set_svcd(int on) override { f_->set_svcd(on); }
  void set_audio_offset(int64_t ms) override { f_->set_audio_offset(ms, nullptr); }
  void run(const std::string& out, int format, JobControl* control) override { f_->run(out.c_str(), format, control); }

 private:
  MUXerFacade* f_;
};

void plain(const std::string& text) {
  platform().prompter->message(PromptIcon::None, PromptButtons::Ok, text);
}

}  // namespace

std::unique_ptr<MuxEngine> make_mux_engine() { return std::make_unique<FacadeEngine>(); }

MuxProbe mux_probe(const std::string& path, bool video) {
  MuxProbe p;
  ESData es;
  if (path.empty() || open_mux_input(path.c_str(), &es) != 0) {
    p.reason = kNotMpeg;
    return p;
  }
  if (video) {
    if (!es.is_video()) p.reason = kNotVideoEs;
    p.vbr = es.is_video() && es.is_vbr();
  } else if (es.kind != ES_KIND_MPEG_AUDIO && es.kind != ES_KIND_AC3 && !es.ac3) {
    p.reason = kNotAudioEs;
  }
  return p;
}

std::string mux_default_output(const std::string& video) {
  const size_t cut = video.find_last_of("./\\");
  if (cut != std::string::npos && video[cut] == '.') return video.substr(0, cut + 1) + "mpg";
  return video + ".mpg";
}

Multiplexer::Multiplexer(std::unique_ptr<MuxEngine> engine) : engine_(std::move(engine)) {
  const EditorSettings& s = editor_settings();
  format_ = s.muxer_type >= 1 && s.muxer_type <= 4 ? s.muxer_type : 1;
  pids_ = {s.pmt_pid, s.video_pid, s.audio_pid};
  minimize_ = s.select_min_size != 0;
  job_.set_on_end([this](const ToolJob::End& e) { ended(e); });
  disks_.refresh();
  input_token_ = platform().file_use->add_inputs([this] {
    std::vector<std::string> in = audios_;
    if (!video_.empty()) in.push_back(video_);
    return in;
  });
}

Multiplexer::~Multiplexer() {
  on_changed = nullptr;
  on_close_ready = nullptr;
  job_.stop_and_join();
  platform().file_use->release(input_token_);
}

void Multiplexer::tell_bad(const std::string& path, const std::string& reason) {
  plain(path + "\n" + reason + "\n\n");
}

bool Multiplexer::add_video(const std::string& path) {
  if (busy()) return false;
  const MuxProbe p = mux_probe(path, true);
  if (!p.reason.empty()) {
    tell_bad(path, p.reason);
    return false;
  }
  if (!engine_->add_es(path)) {
    plain(text_with_name(kAddingFailed, path));
    return false;
  }
  vbr_enabled_ = p.vbr;
  // A second video replaces the first.
  if (!video_.empty()) engine_->remove_es(video_);
  video_ = path;
  bool named = false;
  if (output_.empty()) {
    const std::string out = mux_default_output(path);
    if (!same_file(out, path) && !platform().file_use->in_use(out)) output_ = out;
    named = !output_.empty();
  }
  reestimate();
  if (named) {
    // Told now; the answer counts at Save.
    disks_.refresh();
    disks_.check(output_, est_[format_]);
  }
  return true;
}

bool Multiplexer::remove_video() {
  if (busy() || video_.empty()) return false;
  engine_->remove_es(video_);
  video_.clear();
  vbr_enabled_ = false;
  reestimate();
  return true;
}

bool Multiplexer::add_audio(const std::string& path) {
  if (busy()) return false;
  const MuxProbe p = mux_probe(path, false);
  if (!p.reason.empty()) {
    tell_bad(path, p.reason);
    return false;
  }
  if (std::find(audios_.begin(), audios_.end(), path) != audios_.end()) {
    plain(text_with_name(kAlreadySelected, path));
    return false;
  }
  if (!engine_->add_es(path)) {
    plain(text_with_name(kAddingFailed, path));
    return false;
  }
  audios_.push_back(path);
  reestimate();
  return true;
}

bool Multiplexer::remove_audio(int i) {
  if (busy() || audios_.empty()) return false;
  if (i < 0 || i >= int(audios_.size())) i = 0;
  engine_->remove_es(audios_[size_t(i)]);
  audios_.erase(audios_.begin() + i);
  reestimate();
  return true;
}

void Multiplexer::reestimate() {
  if (video_.empty()) {
    std::fill(std::begin(est_), std::end(est_), 0.0);
  } else {
    double old[5];
    std::copy(std::begin(est_), std::end(est_), old);
    engine_->estimate_sizes(est_);
    for (const int f : {2, 1}) {
      if (!(old[f] < 1.0 || est_[f] < 1.0)) continue;
      if (est_[f] < 1.0 && format_ == f) format_ = f == 2 && est_[1] > 1.0 ? 1 : 3;
      enabled_[f] = est_[f] > 1.0;
    }
  }
  enabled_[2] = est_[2] > 1.0 && engine_->is_vcd_compliant();
  svcd_enabled_ = est_[3] > 1.0 && engine_->is_svcd_compliant();
}

void Multiplexer::set_format(int format, bool svcd) {
  if (busy() || format < 1 || format > 4 || !format_enabled(format, svcd)) return;
  format_ = format;
  svcd_ = format == 3 && svcd;
}

bool Multiplexer::format_enabled(int format, bool svcd) const {
  if (format == 3 && svcd) return svcd_enabled_;
  return format >= 1 && format <= 4 && enabled_[format];
}

bool Multiplexer::set_minimize(bool on) {
  minimize_ = on;
  editor_settings().select_min_size = on ? 1 : 0;
  return on && format_ == 3 && editor_settings().show_min_size_info == 1;
}

void Multiplexer::caution_closed(const CCompatCautionDlg& caution) {
  if (caution.dont_show_again) editor_settings().show_min_size_info = 0;
}

AVSyncSetting Multiplexer::av_sync() const {
  AVSyncSetting s;
  s.range_ms = editor_settings().av_sync_range > 0 ? editor_settings().av_sync_range : 1000;
  s.offset_ms = offset_;
  return s;
}

void Multiplexer::take_av_sync(const AVSyncSetting& sync) {
  if (busy()) return;
  set_audio_offset(sync.offset_ms);
  editor_settings().av_sync_range = sync.range_ms;
}

void Multiplexer::set_audio_offset(int ms) {
  if (busy()) return;
  offset_ = ms;
  engine_->set_audio_offset(-int64_t(ms));
}

bool Multiplexer::set_output(const std::string& path) {
  if (busy()) return false;
  std::string full;
  if (path.empty() || !get_full_path(path, &full)) return false;
  if (check_file_sharing(full) != 0) return false;
  output_ = full;
  // Told now; the answer counts at Save.
  disks_.refresh();
  disks_.check(output_, est_[format_]);
  return true;
}

void Multiplexer::save_settings() {
  EditorSettings& s = editor_settings();
  s.muxer_type = format_;
  if (format_ == 4) {
    s.pmt_pid = pids_.pmt;
    s.video_pid = pids_.video;
    s.audio_pid = pids_.audio;
  }
}

bool Multiplexer::save() {
  if (busy()) return false;
  save_settings();
  if (output_.empty()) {
    plain(kNoOutputFile);
    return false;
  }
  if (check_file_sharing(output_) != 0) return false;
  disks_.refresh();
  if (!disks_.check(output_, est_[format_])) return false;
  if (video_.empty()) {
    plain(kNoInputVideo);
    return false;
  }
  // The options go to the engine at every start: none stays from a run before.
  engine_->set_minimize_size(minimize_enabled() && minimize_ ? 1 : 0);
  if (engine_->count_vbr_video() != 0) engine_->set_vbr(vbr_ ? 1 : 0);
  if (format_ == 4) {
    engine_->set_pmt_pid(pids_.pmt);
    engine_->set_video_pid(pids_.video);
    engine_->set_audio_pid(pids_.audio);
  }
  engine_->set_svcd(format_ == 3 && svcd_ ? 1 : 0);
  output_token_ = platform().file_use->add_output(output_);
  MuxEngine* e = engine_.get();
  const std::string out = output_;
  const int format = format_;
  return job_.start([e, out, format](JobControl& c) { e->run(out, format, &c); },
                    {"Multiplexing", out, est_[format_], 0});
}

void Multiplexer::reset() {
  if (busy()) return;
  if (!video_.empty()) engine_->remove_es(video_);
  video_.clear();
  while (!audios_.empty()) {
    engine_->remove_es(audios_.front());
    audios_.erase(audios_.begin());
  }
  output_.clear();
  est_[format_] = 0.0;
  vbr_enabled_ = false;
}

void Multiplexer::ended(const ToolJob::End& e) {
  platform().file_use->release(output_token_);
  output_token_ = 0;
  last_outcome_ = e.outcome;
  if (close_when_done_) {
    close_when_done_ = false;
    if (on_close_ready) on_close_ready();
    return;
  }
  if (!e.stopped_by_user) {
    if (e.outcome == JobOutcome::done) {
      reset();
    } else {
      std::string text = "<" + output_ + ">: multiplexing has failed";
      if (!e.message.empty()) text += "\n" + e.message;
      platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, text);
    }
  }
  if (on_changed) on_changed();
}

bool Multiplexer::close() {
  save_settings();
  if (!busy()) return true;
  if (close_when_done_) return false;
  if (platform().prompter->message(PromptIcon::None, PromptButtons::OkCancel, kStopCurrentProcess) !=
      PromptAnswer::Ok)
    return false;
  close_when_done_ = true;
  job_.stop_for_close();
  return false;
}

#include "app/tools/stream_convertor.h"

#include <algorithm>
#include <cstdio>

#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/tools/tool_text.h"
#include "foundation/es_data.h"
#include "foundation/timecode.h"
#include "platform/services.h"
#include "mux/convertor.h"

namespace {

PromptAnswer tell(PromptIcon icon, const std::string& text) {
  return platform().prompter->message(icon, PromptButtons::Ok, text);
}

}  // namespace

int convertor_stream_type(int format) {
  switch (format) {
    case 2: return 5;
    case 3: return 6;
    case 4: return 8;
    default: return 4;
  }
}

int convertor_input_format(int stream_type) {
  switch (stream_type) {
    case 4: return 1;
    case 5: return 2;
    case 6: return 3;
    case 8: return 4;
    default: return 5;
  }
}

const char* convertor_type_name(int stream_type) {
  switch (stream_type) {
    case 4: return "MPEG-1 Systems Stream";
    case 5: return "MPEG-1 Video CD Stream";
    case 6: return "MPEG-2 Program Stream";
    case 8: return "MPEG-2 Transport Stream";
    case 3: return "MPEG-2 Video Stream";
    default: return "MPEG-1 Video Stream";
  }
}

StreamConvertor::StreamConvertor() : facade_(std::make_unique<ConvertorFacade>()) {
  facade_->create();
  const EditorSettings& s = editor_settings();
  format_ = s.muxer_type >= 1 && s.muxer_type <= 4 ? s.muxer_type : 1;
  pids_ = {s.pmt_pid, s.video_pid, s.audio_pid};
  job_.set_on_end([this](const ToolJob::End& e) { ended(e); });
  refresh_disks();
}

StreamConvertor::~StreamConvertor() {
  job_.stop_and_join();
  if (input_token_) platform().file_use->release(input_token_);
  if (output_token_) platform().file_use->release(output_token_);
}

bool StreamConvertor::load(const std::string& name) {
  if (busy()) return false;
  auto fresh = std::make_unique<ConvertorFacade>();
  fresh->create();
  std::vector<int> kinds(20), ids(20), pids(20);
  const int n = name.empty() || !fresh->load(name.c_str()) ? 0 : fresh->get_es_list(kinds.data(), ids.data(), pids.data(), 20);
  if (n <= 0) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, text_with_name(kNotSystemsFile, name));
    return false;
  }
  facade_ = std::move(fresh);
  input_ = name;
  if (input_token_) platform().file_use->release(input_token_);
  input_token_ = platform().file_use->add_inputs([name] { return std::vector<std::string>{name}; });

  const int type = facade_->get_stream_type();
  input_format_ = convertor_input_format(type);
  if (type == 8) {
    int table[32] = {};
    const int count = facade_->get_programs(table, 32);
    for (int i = 0; i < n && i < count; ++i) {
      if (ids[size_t(i)] >= 224 && ids[size_t(i)] <= 239) {
        pids_.video = table[i];
      } else {
        pids_.audio = table[i];
      }
    }
    pids_.pmt = facade_->get_pmt_pid();
  }
  in_.clear();
  out_.clear();
  videos_ = 0;
  std::fill(std::begin(est_), std::end(est_), 0.0);
  for (int i = 0; i < n; ++i) {
    ConvertRow r;
    r.stream_id = ids[size_t(i)];
    r.pid = type == 8 ? pids[size_t(i)] : 0;
    r.kind = kinds[size_t(i)];
    r.source = i;
    in_.push_back(r);
  }
  SMPTE_TimeCode tc;
  tc.set_frame_rate(30000.0 / 1001.0);
  tc.set_seconds(facade_->get_bit_rate());
  char length[64] = {};
  tc.to_string(length, 1);
  char cap[512];
  std::snprintf(cap, sizeof cap, "%s (size=%.3fMB, length=%s)", convertor_type_name(type),
                facade_->get_file_size() * 1e-6, length);
  caption_ = cap;
  recompute();
  return true;
}

bool StreamConvertor::add(int row) {
  if (busy() || row < 0 || row >= int(in_.size())) return false;
  const ConvertRow r = in_[size_t(row)];
  in_.erase(in_.begin() + row);
  out_.push_back(r);
  facade_->select_stream(r.key());
  if (r.video()) ++videos_;
  recompute();
  return true;
}

bool StreamConvertor::add_all() {
  if (busy() || in_.empty()) return false;
  while (!in_.empty()) {
    const ConvertRow r = in_.front();
    in_.erase(in_.begin());
    out_.push_back(r);
    facade_->select_stream(r.key());
    if (r.video()) ++videos_;
  }
  recompute();
  return true;
}

bool StreamConvertor::remove(int row) {
  if (busy() || row < 0 || row >= int(out_.size())) return false;
  const ConvertRow r = out_[size_t(row)];
  out_.erase(out_.begin() + row);
  facade_->deselect_stream(r.key());
  if (r.video()) --videos_;
  in_.push_back(r);
  recompute();
  return true;
}

bool StreamConvertor::clear() {
  if (busy() || out_.empty()) return false;
  while (!out_.empty()) remove(0);
  return true;
}

void StreamConvertor::set_format(int format) {
  if (busy() || format < 1 || format > 4 || !format_enabled(format)) return;
  format_ = format;
}

bool StreamConvertor::format_enabled(int format) const { return format >= 1 && format <= 4 && enabled_[format]; }

std::string StreamConvertor::estimate_text() const {
  char t[64];
  std::snprintf(t, sizeof t, "%7.2f MB", est_[format_] * 1e-6);
  return t;
}

void StreamConvertor::recompute() {
  if (out_.empty()) {
    std::fill(std::begin(est_), std::end(est_), 0.0);
    return;
  }
  double old[5];
  std::copy(std::begin(est_), std::end(est_), old);
  facade_->estimate_mux_rates(est_);
  for (const int f : {2, 1}) {
    if (!(old[f] < 1.0 || est_[f] < 1.0)) continue;
    if (est_[f] < 1.0 && format_ == f) format_ = f == 2 && est_[1] > 1.0 ? 1 : 3;
    enabled_[f] = est_[f] > 1.0;
  }
}

void StreamConvertor::set_pids(const TransportPids& pids) {
  if (busy()) return;
  pids_ = pids;
  EditorSettings& s = editor_settings();
  s.pmt_pid = pids.pmt;
  s.video_pid = pids.video;
  s.audio_pid = pids.audio;
}

std::string StreamConvertor::output_pid_text(int row) const {
  if (row < 0 || row >= int(out_.size())) return {};
  if (format_ != 4) return out_[size_t(row)].pid > 0 ? std::to_string(out_[size_t(row)].pid) : std::string();
  // The writer takes the selected streams in the source's order, the first
  // video only, no linear PCM.
  std::vector<const ConvertRow*> taken;
  for (const ConvertRow& r : out_) taken.push_back(&r);
  std::sort(taken.begin(), taken.end(), [](const ConvertRow* a, const ConvertRow* b) { return a->source < b->source; });
  std::vector<int> kinds;
  std::vector<const ConvertRow*> kept;
  bool video = false;
  for (const ConvertRow* r : taken) {
    if (r->kind == ES_KIND_LPCM) continue;
    if (r->video()) {
      if (video) continue;
      video = true;
    }
    kinds.push_back(r->kind);
    kept.push_back(r);
  }
  const std::vector<int> pids = convertor_transport_pids(kinds, pids_.pmt, pids_.video, pids_.audio);
  for (size_t i = 0; i < kept.size(); ++i)
    if (kept[i] == &out_[size_t(row)]) return std::to_string(pids[i]);
  return {};
}

void StreamConvertor::refresh_disks() { disks_.refresh(); }

bool StreamConvertor::choose_output(const std::string& path) {
  if (busy() || path.empty()) return false;
  std::string full;
  if (!get_full_path(path, &full)) full = path;
  if (check_file_sharing(full) != 0) return false;
  if (!disks_.check(full, est_[format_])) return false;
  output_ = full;
  return true;
}

bool StreamConvertor::convert_enabled() const { return !busy() && !out_.empty() && !output_.empty(); }

void StreamConvertor::save_settings() const { editor_settings().muxer_type = format_; }

bool StreamConvertor::convert() {
  if (busy()) return false;
  save_settings();
  if (out_.empty() || videos_ <= 0 || est_[format_] < 1.0) {
    tell(PromptIcon::Stop, kIncompleteOutput);
    return false;
  }
  if (output_.empty()) {
    tell(PromptIcon::Stop, kNoOutputSelection);
    return false;
  }
  if (format_ == 4) {
    // Out of the way first: the engine refuses a PID another one holds.
    int spare = 8190;
    auto next_spare = [&] {
      while (spare == pids_.pmt || spare == pids_.video || spare == pids_.audio || spare == facade_->get_pmt_pid())
        --spare;
      return spare--;
    };
    facade_->set_video_pid(next_spare());
    facade_->set_audio_pid(next_spare());
    facade_->set_pmt_pid(pids_.pmt);
    facade_->set_video_pid(pids_.video);
    facade_->set_audio_pid(pids_.audio);
  }
  const std::string out = output_;
  const int type = convertor_stream_type(format_);
  ConvertorFacade* f = facade_.get();
  output_token_ = platform().file_use->add_output(out);
  return job_.start([f, out, type](JobControl& c) { f->save(out.c_str(), type, &c); },
                    {"Conversion", out, est_[format_], 0});
}

void StreamConvertor::ended(const ToolJob::End& e) {
  if (output_token_) platform().file_use->release(output_token_);
  output_token_ = 0;
  last_outcome_ = e.outcome;
  if (e.stopped_by_user) {
    // Convert is offered again for the same output.
  } else if (e.outcome == JobOutcome::done) {
    output_.clear();
  } else if (e.outcome == JobOutcome::failed) {
    std::string text = "<" + output_ + ">: the conversion has failed";
    if (!e.message.empty()) text += "\n" + e.message;
    tell(PromptIcon::Stop, text);
  }
  if (on_changed) on_changed();
}

bool StreamConvertor::close() {
  if (busy()) {
    tell(PromptIcon::None, kPleaseStop);
    return false;
  }
  save_settings();
  return true;
}

#include "app/tools/demultiplexer.h"

#include <cstdio>

#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/tools/tool_text.h"
#include "platform/services.h"
#include "mux/demux_job.h"


DemuxStreamKind demux_stream_kind(int id, int pid) {
  if (id >= 224 && id <= 239) return DemuxStreamKind::video;
  if ((id >= 192 && id <= 223) || (id >= 128 && id <= 135) || (id >= 160 && id <= 167) || (id == 189 && pid != 0))
    return DemuxStreamKind::audio;
  return DemuxStreamKind::none;
}

const char* demux_format_text(int type) {
  switch (type) {
    case 4: return "MPEG-1 Systems";
    case 5: return "MPEG-1 Video-CD";
    case 6: return "MPEG-2 Program";
    case 8: return "MPEG-2 Transport";
    default: return "Unknown Format";
  }
}

std::string demux_default_name(const std::string& input, const char* ext) {
  const size_t cut = input.find_last_of("./\\");
  if (cut != std::string::npos && input[cut] == '.') return input.substr(0, cut + 1) + ext;
  return input + "." + ext;
}

DemuxCheck demux_output_check(const DemuxOutputPlace& p, double video_bytes, double audio_bytes,
                              const std::vector<Volume>& disks, const std::function<bool(int disk)>& ignore) {
  DemuxCheck c;
  if (p.video == -2 && p.audio == -2) return c;
  if (p.video < 0 && p.audio < 0) {
    c.pass = true;
    return c;
  }
  auto fits = [&](int disk, double bytes) {
    if (bytes <= disks[size_t(disk)].free_bytes) return true;
    c.warned.push_back(disk);
    return ignore(disk);
  };
  if (p.video >= 0 && p.video == p.audio) {
    if (!fits(p.video, video_bytes + audio_bytes)) return c;
    c.select = p.video;
    c.pass = true;
    return c;
  }
  if (p.video >= 0) {
    if (!fits(p.video, video_bytes)) {
      c.drop_video = true;
      return c;
    }
    c.select = p.video;
  }
  if (p.audio >= 0) {
    if (!fits(p.audio, audio_bytes)) {
      c.drop_audio = true;
      return c;
    }
    c.select = p.audio;
  }
  c.pass = true;
  return c;
}

Demultiplexer::Demultiplexer() {
  job_.set_on_end([this](const ToolJob::End& e) { ended(e); });
  list_fixed_drives(&disks_, 20);
  disk_index_ = current_volume_index(disks_);
}

Demultiplexer::~Demultiplexer() {
  on_changed = nullptr;
  on_close_ready = nullptr;
  job_.stop_and_join();
  if (input_token_) platform().file_use->release(input_token_);
}

bool Demultiplexer::load(const std::string& name) {
  if (busy()) return false;
  auto fresh = name.empty() ? nullptr : MPEG_Demuxer::create(name.c_str());
  if (!fresh) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, text_with_name(kNotSystemFile, name));
    return false;
  }
  demuxer_ = std::move(fresh);
  input_ = name;
  if (input_token_) platform().file_use->release(input_token_);
  input_token_ = platform().file_use->add_inputs([name] { return std::vector<std::string>{name}; });
  int ids[10] = {}, types[10] = {}, pids[10] = {};
  double sizes[10] = {};
  count_ = demuxer_->get_es_list(ids, types, pids, 10);
  const int n_sizes = demuxer_->get_es_sizes(sizes, 10);
  type_ = demuxer_->get_stream_type();
  size_ = demuxer_->get_file_size();
  video_.clear();
  audio_.clear();
  for (int i = 0; i < count_; ++i) {
    const DemuxStream s{ids[i], pids[i], i < n_sizes ? sizes[i] : 0.0};
    const DemuxStreamKind k = demux_stream_kind(ids[i], pids[i]);
    if (k == DemuxStreamKind::video) video_.push_back(s);
    if (k == DemuxStreamKind::audio) audio_.push_back(s);
  }
  video_choice_ = audio_choice_ = 0;
  if (video_out_.empty() && !video_.empty()) take_output(demux_default_name(name, "mpv"), &video_out_, true);
  if (audio_out_.empty() && !audio_.empty()) take_output(demux_default_name(name, "mpa"), &audio_out_, true);
  return true;
}

void Demultiplexer::choose_video(int i) {
  if (!busy() && i >= 0 && i < int(video_.size())) video_choice_ = i;
}

void Demultiplexer::choose_audio(int i) {
  if (!busy() && i >= 0 && i < int(audio_.size())) audio_choice_ = i;
}

const char* Demultiplexer::audio_extension() const {
  if (audio_choice_ < int(audio_.size())) {
    const int id = audio_[size_t(audio_choice_)].stream_id;
    if (id >= 128 && id <= 135) return "ac3";
  }
  return "mpa";
}

bool Demultiplexer::take_output(const std::string& path, std::string* into, bool quiet) {
  std::string full;
  if (path.empty() || !get_full_path(path, &full)) return false;
  // Never an input (the demultiplexer reads it while the output is written).
  if (!input_.empty() && same_file(full, input_)) {
    if (!quiet)
      platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok,
                                   text_with_name("<%s>: is the input file and cannot be an output", full));
    return false;
  }
  if (quiet ? (platform().file_use->in_use(full) || !platform().file_use->writable(full))
            : check_file_sharing(full) != 0)
    return false;
  *into = full;
  const int v = volume_index(disks_, full);
  if (v >= 0) disk_index_ = v;
  return true;
}

bool Demultiplexer::set_video_output(const std::string& path) {
  if (busy() || video_.empty()) return false;
  const bool ok = take_output(path, &video_out_, false);
  if (ok) editor_settings().demuxer_out_folder = split_path(video_out_);
  return ok;
}

bool Demultiplexer::set_audio_output(const std::string& path) {
  if (busy() || audio_.empty()) return false;
  const bool ok = take_output(path, &audio_out_, false);
  if (ok) editor_settings().demuxer_out_folder = split_path(audio_out_);
  return ok;
}

double Demultiplexer::estimate() const {
  double e = 0.0;
  if (!video_out_.empty() && video_choice_ < int(video_.size())) e += video_[size_t(video_choice_)].bytes;
  if (!audio_out_.empty() && audio_choice_ < int(audio_.size())) e += audio_[size_t(audio_choice_)].bytes;
  return e;
}

int Demultiplexer::place_of(std::string* name) {
  std::string full;
  if (name->empty() || !get_full_path(*name, &full) || !platform().file_use->writable(full) ||
      platform().file_use->in_use(full) || same_file(full, input_)) {
    name->clear();
    return -2;
  }
  return volume_index(disks_, full);
}

bool Demultiplexer::save() {
  if (busy() || !demuxer_) return false;
  DemuxOutputPlace place{place_of(&video_out_), place_of(&audio_out_)};
  refresh_disk_free(&disks_);
  const double vb = video_out_.empty() || video_.empty() ? 0.0 : video_[size_t(video_choice_)].bytes;
  const double ab = audio_out_.empty() || audio_.empty() ? 0.0 : audio_[size_t(audio_choice_)].bytes;
  const DemuxCheck c = demux_output_check(place, vb, ab, disks_, [this](int disk) {
    return warn_disk_space(disks_[size_t(disk)].mount) == PromptAnswer::Ignore;
  });
  if (c.drop_video) video_out_.clear();
  if (c.drop_audio) audio_out_.clear();
  if (c.select >= 0) disk_index_ = c.select;
  if (!c.pass) {
    platform().prompter->message(PromptIcon::None, PromptButtons::Ok, kNoOutputSpecified);
    return false;
  }
  std::vector<uint32_t> keys;
  std::vector<std::string> names;
  if (!video_out_.empty() && !video_.empty()) {
    keys.push_back(video_[size_t(video_choice_)].key());
    names.push_back(video_out_);
  }
  if (!audio_out_.empty() && !audio_.empty()) {
    keys.push_back(audio_[size_t(audio_choice_)].key());
    names.push_back(audio_out_);
  }
  if (keys.empty()) {
    platform().prompter->message(PromptIcon::None, PromptButtons::Ok, kNoOutputSpecified);
    return false;
  }
  for (const std::string& n : names) output_tokens_.push_back(platform().file_use->add_output(n));
  MPEG_Demuxer* d = demuxer_.get();
  return job_.start(
      [d, keys, names](JobControl& control) {
        std::vector<const char*> ptrs;
        for (const std::string& n : names) ptrs.push_back(n.c_str());
        d->save_es_data(int(keys.size()), keys.data(), ptrs.data(), &control);
      },
      {"Demultiplexing", input_, size_, 0});
}

void Demultiplexer::ended(const ToolJob::End& e) {
  for (int t : output_tokens_) platform().file_use->release(t);
  output_tokens_.clear();
  last_outcome_ = e.outcome;
  refresh_disk_free(&disks_);
  if (close_when_done_) {
    close_when_done_ = false;
    if (on_close_ready) on_close_ready();
    return;
  }
  if (!e.stopped_by_user) {
    if (e.outcome == JobOutcome::failed) {
      std::string text = "<" + input_ + ">: demultiplexing has failed";
      if (!e.message.empty()) text += "\n" + e.message;
      platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, text);
    } else {
      video_out_.clear();
      audio_out_.clear();
    }
  }
  if (on_changed) on_changed();
}

bool Demultiplexer::close() {
  if (!busy()) return true;
  if (close_when_done_) return false;
  if (platform().prompter->message(PromptIcon::None, PromptButtons::OkCancel, kStopCurrentProcess) != PromptAnswer::Ok)
    return false;
  close_when_done_ = true;
  job_.stop_for_close();
  return false;
}

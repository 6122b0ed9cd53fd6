#include "app/editor/save_dialog.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/editor/audio_encoder_setup.h"
#include "app/editor/video_encoder_setup.h"
#include "app/editor/timecode_text.h"
#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/shell/ieditor.h"
#include "platform/services.h"

namespace {
struct ButtonInfo {
  const char* text;
  const char* ext;
};
constexpr ButtonInfo kButtons[kSaveButtonCount] = {
    {" MPEG-Tamsel Edit Decision List", ".qme"},
    {" MPEG Video Elementary Stream (Video Only)", ".mpv"},
    {" MPEG-1 System Stream (Audio + Video Multiplexed)", ".mpg"},
    {" MPEG-1 System Stream Video CD", ".mpg"},
    {" MPEG-2 Program Stream", ".mpg"},
    {" MPEG-2 Program Stream SVCD", ".mpg"},
    {" MPEG-2 Transport Stream", ".m2t"},
};
// Fallback order when the record's button is disabled.
constexpr SaveButton kPreference[] = {SaveButton::transport, SaveButton::svcd,    SaveButton::program,
                                      SaveButton::vcd,       SaveButton::mpeg1,   SaveButton::video_es,
                                      SaveButton::edl};
int idx(SaveButton b) { return static_cast<int>(b); }
}  // namespace

const char* save_button_text(SaveButton b) { return kButtons[idx(b)].text; }
const char* save_default_extension(SaveButton b) { return kButtons[idx(b)].ext; }

SaveButton save_button_of(int kind, int svcd) {
  switch (kind) {
    case 2:
    case 3:
      return SaveButton::video_es;
    case 4:
      return SaveButton::mpeg1;
    case 5:
      return SaveButton::vcd;
    case 6:
      return svcd ? SaveButton::svcd : SaveButton::program;
    case 7:
      return SaveButton::svcd;
    case 8:
      return SaveButton::transport;
    default:
      return SaveButton::edl;
  }
}

int save_kind_of(SaveButton b) {
  static constexpr int kKinds[kSaveButtonCount] = {0, 2, 4, 5, 6, 6, 8};
  return kKinds[idx(b)];
}

bool save_kind_threaded(int kind) { return kind >= 2 && kind <= 8 && kind != 7; }

bool save_video_setup_possible(const EditorRecordData& record) {
  const VideoEncoderData& v = record.video;
  for (const Clip& c : record.project.clips) {
    if (!Clip::is_mpeg_video_type(c.clip_type) || c.video_stream_count <= 0) continue;
    if (c.mpeg2 == v.mpeg2_format && c.width == v.width && c.height == v.height &&
        std::fabs(c.frame_rate - v.frame_rate) < 0.01)
      return true;
  }
  return false;
}

std::string save_video_setup_refusal(const EditorRecordData& record) {
  // Video-only and project outputs take the clips as they are.
  const int kind = record.output_type;
  if (!save_kind_threaded(kind) || kind == 2 || kind == 3 || save_video_setup_possible(record)) return {};
  const VideoEncoderData& v = record.video;
  char buf[300];
  std::snprintf(buf, sizeof buf,
                "No clip of the movie is MPEG-%d video of %dx%d at %.3f frames per second.\n"
                "The pictures cannot be scaled or converted to it: please choose another output.",
                v.mpeg2_format ? 2 : 1, v.width, v.height, v.frame_rate);
  return buf;
}

CSaveDlg::CSaveDlg(EditorRecordData* record, IEditor* editor) : record_(record), editor_(editor) {}

void CSaveDlg::init() {
  total_ = editor_ ? editor_->get_total_frames() : record_->total;
  if (total_ < 1) total_ = 1;
  rate_ = editor_ ? editor_->get_frame_rate() : 0.0;
  if (rate_ <= 0) rate_ = 25.0;
  // Kind 7 is the SVCD button's request: stored as 6 with the flag.
  if (record_->output_type == 7) {
    record_->output_type = 6;
    record_->svcd = 1;
  }
  seg_start_ = record_->start;
  seg_length_ = record_->count;
  if (seg_length_ < 1 || seg_start_ < 0 || seg_start_ >= total_) {
    seg_start_ = 0;
    seg_length_ = total_;
  }
  if (seg_length_ > total_ - seg_start_) seg_length_ = total_ - seg_start_;
  const bool seg_is_whole = seg_start_ == 0 && seg_length_ == total_;
  toggle_enabled = !seg_is_whole;
  whole_ = seg_is_whole || !editor_ || editor_->get_clip_count() != 1;
  start_ = whole_ ? 0 : seg_start_;
  length_ = whole_ ? total_ : seg_length_;
  apply_kind_rules();
  allow_kinds();
  show_range();
  update_estimate();
  if (!file_name.empty()) {
    set_file_name(file_name);
  } else {
    // The disk of the save folder (else of the working folder) is shown.
    std::string folder;
    get_full_path(record_->file_name.empty() ? std::string(".") : record_->file_name, &folder);
    refresh_disks(folder);
  }
  update_buttons();
}

void CSaveDlg::apply_kind_rules() {
  if (record_->output_type == 5) {
    record_->svcd = 0;
    if (!record_->is_vcd()) record_->fix_vcd();
  } else if (record_->output_type == 6 && record_->svcd) {
    if (!record_->is_svcd()) record_->fix_svcd();
  }
}

void CSaveDlg::allow_kinds() {
  enabled.fill(true);
  if (!record_->audio.has_audio) {
    enabled[idx(SaveButton::vcd)] = false;
    enabled[idx(SaveButton::transport)] = false;
    if (record_->video.mpeg2_format) enabled[idx(SaveButton::mpeg1)] = false;
  }
  checked = save_button_of(record_->output_type, record_->svcd);
  if (!enabled[idx(checked)]) {
    for (SaveButton b : kPreference) {
      if (enabled[idx(b)]) {
        checked = b;
        break;
      }
    }
    record_->output_type = save_kind_of(checked);
    record_->svcd = checked == SaveButton::svcd;
    apply_kind_rules();
  }
}

int CSaveDlg::parse_frame(const std::string& text) const {
  if (text.find_first_of(":;") != std::string::npos) {
    std::string t = text;
    for (char& c : t)
      if (c == ';') c = ':';
    t = normalize_time_code(t);
    return editor_ ? editor_->timecode_2_frame(t) : timecode_text_to_frame(t, rate_);
  }
  if (text.find('.') != std::string::npos) return static_cast<int>(std::atof(text.c_str()) * rate_ + 0.5);
  return std::atoi(text.c_str());
}

std::string CSaveDlg::frame_text(int frame) const {
  const std::string tc = editor_ ? editor_->get_frame_offset_timecode(frame) : frame_to_timecode_text(frame, rate_);
  std::string s = shortest_timecode_text(tc, rate_);
  return s.empty() ? tc : s;
}

void CSaveDlg::clamp_start() {
  if (start_ < 0) start_ = 0;
  if (start_ > total_ - length_) {
    length_ = total_ - start_;
    if (length_ < 1) {
      length_ = 1;
      start_ = total_ - 1;
    }
  }
}

void CSaveDlg::clamp_length() {
  if (length_ < 1) length_ = 1;
  if (length_ > total_ - start_) {
    start_ = total_ - length_;
    if (start_ < 0) {
      start_ = 0;
      length_ = total_;
    }
  }
}

void CSaveDlg::show_range() {
  start_text = frame_text(start_);
  length_text = frame_text(length_);
  toggle_text = whole_ ? "Seg" : "All";
}

void CSaveDlg::set_start_text(const std::string& text) {
  const int f = parse_frame(text);
  if (f >= 0) start_ = f;
  clamp_start();
  show_range();
  update_estimate();
}

void CSaveDlg::set_length_text(const std::string& text) {
  const int f = parse_frame(text);
  if (f >= 0) length_ = f;
  clamp_length();
  show_range();
  update_estimate();
}

void CSaveDlg::toggle_range() {
  if (!toggle_enabled) return;
  whole_ = !whole_;
  start_ = whole_ ? 0 : seg_start_;
  length_ = whole_ ? total_ : seg_length_;
  show_range();
  update_estimate();
}

void CSaveDlg::choose(SaveButton b) {
  if (!enabled[idx(b)]) return;
  checked = b;
  record_->output_type = save_kind_of(b);
  record_->svcd = b == SaveButton::svcd;
  record_->dvd = 0;
  apply_kind_rules();
  update_estimate();
  update_buttons();
}

double CSaveDlg::estimate_bytes() const {
  const MuxRates& r = record_->rates;
  int rate = 0;
  switch (checked) {
    case SaveButton::video_es: rate = r.video_es; break;
    case SaveButton::mpeg1: rate = r.mpeg1_system; break;
    case SaveButton::vcd: rate = r.vcd; break;
    case SaveButton::program:
    case SaveButton::svcd: rate = r.program; break;
    case SaveButton::transport: rate = r.transport; break;
    default: break;
  }
  return double(rate) * length_;
}

void CSaveDlg::update_estimate() {
  const MuxRates& r = record_->rates;
  const int rates[kSaveButtonCount] = {0, r.video_es, r.mpeg1_system, r.vcd, r.program, r.program, r.transport};
  for (int i = 0; i < kSaveButtonCount; ++i) estimates[i] = enabled[i] ? double(rates[i]) * length_ : 0.0;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", estimate_bytes() * 1e-6);
  estimate_text = buf;
}

void CSaveDlg::update_buttons() {
  const bool named = !trim_blanks(file_name).empty();
  save_enabled = named;
  batch_enabled = named && !from_batch;
  const int kind = record_->output_type;
  video_enabled = kind != 0;
  audio_enabled = record_->audio.has_audio && kind != 0 && kind != 2 && kind != 3;
  select_pid_visible = kind == 8;
}

double CSaveDlg::refresh_disks(const std::string& path) {
  disks.clear();
  disk_selected = -1;
  std::vector<Volume> vols = platform().disk->volumes();
  if (vols.size() > 20) vols.resize(20);
  // Without a disk in the mount table (a container's overlay), the file
  // system of the root stands for them.
  if (vols.empty()) vols.push_back({"/", platform().disk->free_bytes("/")});
  size_t best = 0;
  double free_bytes = -1.0;
  for (size_t i = 0; i < vols.size(); ++i) {
    char buf[300];
    std::snprintf(buf, sizeof buf, "%s:%6.1f MB", vols[i].mount.c_str(), vols[i].free_bytes * 1e-6);
    disks.push_back(buf);
    const std::string& m = vols[i].mount;
    const bool under = !path.empty() && path.compare(0, m.size(), m) == 0 &&
                       (path.size() == m.size() || m.back() == '/' || path[m.size()] == '/');
    if (under && m.size() >= best) {
      best = m.size();
      disk_selected = static_cast<int>(i);
      free_bytes = vols[i].free_bytes;
    }
  }
  if (!path.empty() && free_bytes < 0) free_bytes = platform().disk->free_bytes(path);
  return free_bytes;
}

std::string CSaveDlg::disk_warning(const std::string& path) const {
  std::string mount = disk_selected >= 0 ? disks[disk_selected].substr(0, disks[disk_selected].rfind(':')) : split_path(path);
  char buf[600];
  std::snprintf(buf, sizeof buf, "The \"%s\" disk may not have enough space.\nPlease check again.", mount.c_str());
  return buf;
}

void CSaveDlg::set_file_name(const std::string& name) {
  file_name = name;
  update_buttons();
  std::string full;
  if (trim_blanks(name).empty() || !get_full_path(trim_blanks(name), &full)) return;
  const double free_bytes = refresh_disks(full);
  if (free_bytes >= 0 && estimate_bytes() > free_bytes)
    platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok, disk_warning(full));
}

void CSaveDlg::browse() {
  std::string path;
  std::string ext = save_default_extension(checked) + 1;
  std::string filter = "Output Files (*." + ext + ")|*." + ext + "|All Files (*.*)|*.*||";
  if (!file_dialog(&path, 1, 0, filter.c_str(), ext.c_str(), record_->file_name, "Save MPEG Stream")) return;
  record_->second_file_name = path;
  record_->file_name = split_path(path);
  set_file_name(path);
}

bool CSaveDlg::on_ok() {
  std::string name = trim_blanks(file_name);
  if (name.empty()) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "No file name specified");
    return false;
  }
  if (path_file_name(name).find('.') == std::string::npos) name += save_default_extension(checked);
  std::string full;
  if (!get_full_path(name, &full)) return false;
  if (check_file_sharing(full)) return false;
  record_->output_type = save_kind_of(checked);
  record_->svcd = checked == SaveButton::svcd;
  if (const std::string why = save_video_setup_refusal(*record_); !why.empty()) {
    platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok, why);
    return false;
  }
  for (;;) {
    const double free_bytes = refresh_disks(full);
    if (free_bytes < 0 || estimate_bytes() <= free_bytes) break;
    const PromptAnswer a =
        platform().prompter->message(PromptIcon::Exclamation, PromptButtons::AbortRetryIgnore, disk_warning(full));
    if (a == PromptAnswer::Abort) return false;
    if (a == PromptAnswer::Ignore) break;
  }
  file_name = full;
  record_->second_file_name = full;
  record_->file_name = split_path(full);
  record_->start = start_;
  record_->count = length_;
  record_->output_type = save_kind_of(checked);
  record_->svcd = checked == SaveButton::svcd;
  return true;
}

bool CSaveDlg::batch() {
  if (!batch_enabled || !add_batch) return false;
  std::string name = trim_blanks(file_name);
  if (path_file_name(name).find('.') == std::string::npos) name += save_default_extension(checked);
  std::string full;
  if (!get_full_path(name, &full)) return false;
  EditorRecordData job = *record_;
  job.second_file_name = full;
  job.file_name = split_path(full);
  job.start = start_;
  job.count = length_;
  job.output_type = save_kind_of(checked);
  job.svcd = checked == SaveButton::svcd;
  if (job.output_type != 6 || job.svcd) job.dvd = 0;
  return add_batch(job, full + ".rec");
}

void CSaveDlg::select_pid() {
  if (!select_pid_visible || !run_select_pid) return;
  int p = record_->program_pid, v = record_->video_pid, a = record_->audio_pid;
  if (!run_select_pid(&p, &v, &a)) return;
  record_->program_pid = p;
  record_->video_pid = v;
  record_->audio_pid = a;
}

void CSaveDlg::audio() {
  if (!audio_enabled || !run_audio_setup) return;
  CAudioEncoderSetupDlg setup(&record_->audio);
  if (!run_audio_setup(setup)) return;
  setup.ok();
  update_estimate();
}

void CSaveDlg::video() {
  if (!video_enabled || !run_video_setup) return;
  const int kind = record_->output_type == 6 && record_->svcd ? 7 : record_->output_type;
  CVideoEncoderSetupDlg setup(&record_->video, kind, &editor_settings());
  if (!run_video_setup(setup)) return;
  setup.ok();
  EditorRecordData& r = *record_;
  const bool has_audio = r.audio.has_audio != 0;
  if (setup.want_dvd) {
    if (has_audio) r.audio.fix_dvd();
    if (r.video.is_dvd()) {
      r.output_type = 6;
      r.svcd = 0;
      r.dvd = 1;
    }
  } else if (setup.want_svcd) {
    if (has_audio && !r.audio.is_svcd()) r.audio.fix_svcd();
    if (r.is_svcd()) {
      r.output_type = 6;
      r.svcd = 1;
      r.dvd = 0;
    }
  } else if (setup.want_vcd) {
    if (has_audio && !r.audio.is_vcd()) r.audio.fix_vcd();
    if (r.is_vcd()) {
      r.output_type = 5;
      r.svcd = 0;
      r.dvd = 0;
    }
  }
  // A Video CD or SVCD kind whose streams no longer meet its rules falls
  // back to a plain program stream.
  if (r.output_type == 5 && !r.is_vcd()) r.output_type = 4;
  if (r.output_type == 6 && r.svcd && !r.is_svcd()) r.svcd = 0;
  if (r.output_type != 6 || r.svcd) r.dvd = 0;
  const double before = estimate_bytes();
  checked = save_button_of(r.output_type, r.svcd);
  update_estimate();
  if (before > 0 && estimate_bytes() > 0 && estimate_bytes() != before) allow_kinds();
  update_estimate();
  update_buttons();
}

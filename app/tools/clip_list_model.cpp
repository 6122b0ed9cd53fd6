#include "app/tools/clip_list_model.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/shell/kept_file.h"
#include "app/shell/text_lines.h"
#include "app/tools/tool_text.h"
#include "engine/clips/clip_streams.h"
#include "engine/clips/clip_verify.h"
#include "engine/clips/text_fields.h"

namespace {

constexpr size_t kMaxOverlays = 8;

}  // namespace

std::string write_vls(const std::vector<Clip>& clips) {
  if (clips.empty()) return {};
  std::string out = "//\n// video clip list used by MPEG-Tamsel VideoList Manager\n//\n";
  char line[512];
  std::snprintf(line, sizeof line, "%s %d\n", "[ClipList]:", int(clips.size()));
  out += line;
  for (const Clip& c : clips) {
    std::snprintf(line, sizeof line, "%s %d %d %d %d %d %d %d %d %d\n", "[Clip]:", c.start, c.count, c.audio_stream_id,
                  c.audio_pid, c.video_stream_id, c.video_pid, c.transition_id, c.transition_length,
                  int(c.overlays.size()));
    out += line;
    out += "\t" + c.file_name + " \n";
    for (const OverlayClip& o : c.overlays) {
      std::snprintf(line, sizeof line, "\t%d %d %d ", o.effect_id, o.position, o.length);
      out += line;
      out += (o.has_file ? o.file_name : std::string(" ")) + "\n";
    }
  }
  std::snprintf(line, sizeof line, "//\n// total: %d\n//\n", int(clips.size()));
  return out + line;
}

std::vector<VlsEntry> parse_vls(const std::string& text) {
  const std::vector<std::string> lines = text_lines(text);
  size_t i = 0;
  while (i < lines.size() && !key_line(lines[i], "[ClipList]:")) ++i;
  if (i >= lines.size()) return {};
  const std::vector<int> head = key_numbers(after_key(lines[i], "[ClipList]:"));
  const int count = head.empty() ? 0 : head[0];
  ++i;
  std::vector<VlsEntry> out;
  for (int k = 0; k < count && i < lines.size(); ++k) {
    VlsEntry e;
    if (key_line(lines[i], "[Clip]:")) {
      const std::vector<int> v = key_numbers(after_key(lines[i], "[Clip]:"));
      e.has_values = true;
      if (v.size() <= 7) {
        // The older form without the two PIDs.
        const int at[7] = {0, 1, 2, 4, 6, 7, 8};
        for (size_t f = 0; f < v.size(); ++f) e.values[at[f]] = v[f];
      } else {
        // Eight fields: the missing last one reads 0.
        for (size_t f = 0; f < 9 && f < v.size(); ++f) e.values[f] = v[f];
      }
      if (++i >= lines.size()) break;
    }
    e.file = utils_strip_spaces(lines[i++]);
    // Every declared overlay line is read, so the next entry starts where
    // it should; the first eight are kept.
    for (int n = 0; n < e.values[8] && i < lines.size() && !key_line(lines[i], "[Clip]:"); ++n, ++i) {
      const std::string& line = lines[i];
      int effect = 0, start = 0, frames = 0, used = 0;
      if (std::sscanf(line.c_str(), " %d %d %d%n", &effect, &start, &frames, &used) < 3) used = 0;
      if (e.overlays.size() < kMaxOverlays)
        e.overlays.push_back({effect, start, frames, used > 0 ? utils_strip_spaces(line.substr(size_t(used))) : std::string()});
    }
    out.push_back(std::move(e));
  }
  return out;
}

bool make_video_clip(const std::string& file, Clip* out) {
  std::optional<Clip> c = clip_ctor(file.c_str(), 0, 0, 0, 0);
  if (!c || c->video_stream_count < 1) return false;
  *out = *c;
  return true;
}

VideoClipListModel::VideoClipListModel(ClipMaker maker) : maker_(std::move(maker)) {}

void VideoClipListModel::insert_clip_record(const Clip& clip, int index) {
  if (index < 0 || index >= int(clips_.size()))
    clips_.push_back(clip);
  else
    clips_.insert(clips_.begin() + index, clip);
}

bool VideoClipListModel::remove_clip_record(int index) {
  if (index < 0 || index >= int(clips_.size())) return false;
  auto snapshot = std::make_unique<EClip>();
  snapshot->clips.push_back(clips_[size_t(index)]);
  const Clip& c = clips_[size_t(index)];
  history_.push(EditRecord(1, std::move(snapshot), c.start, c.count, index, 0));
  clips_.erase(clips_.begin() + index);
  return true;
}

bool VideoClipListModel::undo() {
  EditRecord r = history_.pop();
  if (r.kind == kEditEmpty || !r.snapshot || r.snapshot->clips.empty()) return false;
  insert_clip_record(r.snapshot->clips[0], r.insert_point);
  selected = std::min(std::max(r.insert_point, 0), int(clips_.size()) - 1);
  return true;
}

void VideoClipListModel::clear() {
  // From the selected row, as the Delete button goes, once per row.
  for (size_t n = clips_.size(); n > 0; --n) {
    if (selected < 0 || selected >= int(clips_.size())) selected = 0;
    remove_clip_record(selected);
    if (selected >= int(clips_.size())) selected = 0;
  }
}

int VideoClipListModel::read_clip_list(const std::string& text, bool add) {
  int accepted = 0;
  for (const VlsEntry& e : parse_vls(text)) {
    Clip c;
    if (!maker_ || !maker_(e.file, &c)) continue;  // skipped silently
    if (add) {
      int effect = 0, length = 0;
      if (e.has_values && e.values[6] != 0 && e.values[7] != 0 && accepted > 0) {
        effect = e.values[6];
        length = e.values[7];
      }
      if (e.has_values) {
        // A stream chosen anew takes the whole stream: the range after it.
        clip_select_audio_stream(&c, e.values[2], e.values[3]);
        clip_select_video_stream(&c, e.values[4], e.values[5]);
        c.start = e.values[0];
        c.count = e.values[1];
      }
      c.transition_id = effect;
      c.transition_length = length;
      std::vector<OverlayClip> overlays;
      for (const VlsEntry::Overlay& o : e.overlays) {
        OverlayClip oc(o.start, o.count, o.effect_id);
        if (!o.image.empty()) oc.set_image_file(o.image.c_str());
        overlays.push_back(oc);
      }
      if (!overlays.empty()) c.set_overlays(overlays.data(), int(overlays.size()));
      clips_.push_back(c);
    }
    ++accepted;
  }
  return accepted;
}

std::string VideoClipListModel::settings_text() const {
  char line[2048];
  std::string out = "//\n// video list manager\n//\n";
  std::snprintf(line, sizeof line, "%s %d %d %d %d\n", "VideoListWindow:", window[0], window[1], window[2],
                window[3]);
  out += line;
  std::snprintf(line, sizeof line, "%s %d %d %d %d\n", "VideoLlistColumns:", columns[0], columns[1], columns[2],
                columns[3]);
  out += line;
  out += std::string("VideoLlistInitInputPath: ") + input_folder + "\n";
  out += std::string("VideoLlistInitLoadPath: ") + load_folder + "\n";
  out += std::string("VideoLlistInitSavePath: ") + save_folder + "\n";
  std::snprintf(line, sizeof line, "%s %d\n%s %d\n", "VideoLlistInitSelect:", selected, "VideoLlistTimeFormat:",
                time_format);
  return out + line + write_vls(clips_);
}

bool VideoClipListModel::save_settings(const std::string& path, std::string* error) const {
  return write_kept_file(path, settings_text(), error);
}

void VideoClipListModel::load_settings(const std::string& path) {
  input_folder.clear();
  load_folder.clear();
  save_folder.clear();
  std::fill(std::begin(window), std::end(window), 0);
  selected = 0;
  std::string text;
  if (!read_kept_file(path, &text)) return;
  for (const std::string& line : text_lines(text))
    read_keyed_line(line,
                    {{"VideoLlistInitInputPath:", &input_folder},
                     {"VideoLlistInitLoadPath:", &load_folder},
                     {"VideoLlistInitSavePath:", &save_folder}},
                    {{"VideoListWindow:", window, 4},
                     {"VideoLlistColumns:", columns, 4},
                     {"VideoLlistInitSelect:", &selected, 1},
                     {"VideoLlistTimeFormat:", &time_format, 1}});
  read_clip_list(text, true);
}

double VideoClipListModel::frame_period(const Clip& c) {
  Clip copy = c;
  const double p = clip_get_video_frame_period(&copy);
  return p > 0 ? p : (c.frame_rate > 0 ? 1.0 / c.frame_rate : 0);
}

int VideoClipListModel::seconds_to_frames(double seconds, double period) {
  const float per_second = period > 0 ? float(1.0 / period) : 0.0f;
  return int(seconds * per_second + 0.5);
}

double VideoClipListModel::selected_total() const {
  if (selected < 0 || selected >= int(clips_.size())) return 0;
  const Clip& c = clips_[size_t(selected)];
  return time_format ? c.video_frame_total * frame_period(c) : c.video_frame_total;
}

double VideoClipListModel::selected_period() const {
  if (selected < 0 || selected >= int(clips_.size())) return 1.0;
  return frame_period(clips_[size_t(selected)]);
}

void VideoClipListModel::start_rule(double* start, double* length) const {
  if (*start < 0) return;
  const double total = selected_total();
  if (*start + *length <= total) return;
  double fit = total - *start;
  if (time_format) {
    if (fit <= 0) fit = std::min(selected_period(), total);
  } else if (fit < 1) {
    fit = total < 1 ? total : 1;
  }
  if (fit != total - *start) *start = total - fit;
  *length = fit;
}

void VideoClipListModel::length_rule(double* start, double* length) const {
  if (*length < 0) return;
  const bool still = selected >= 0 && selected < int(clips_.size()) &&
                     Clip::is_still_image_type(clips_[size_t(selected)].clip_type);
  const double total = selected_total();
  if (still || *start + *length <= total) return;
  *start = total - *length;
  if (*start < 0) {
    *start = 0;
    *length = total;
  }
}

EClip VideoClipListModel::hand_over() const {
  EClip list;
  list.clips = clips_;
  int before = 0;
  for (int i = 0; i < selected && i < int(clips_.size()); ++i) before += clips_[size_t(i)].count;
  list.header[1] = before;
  return list;
}

std::string VideoClipListModel::field_text(int frames, int row) const {
  char text[64];
  if (time_format && row >= 0 && row < int(clips_.size()))
    std::snprintf(text, sizeof text, "%.2f", frames * frame_period(clips_[size_t(row)]));
  else
    std::snprintf(text, sizeof text, "%d", frames);
  return text;
}

std::string VideoClipListModel::cell(int row, int column) const {
  if (row < 0 || row >= int(clips_.size())) return {};
  const Clip& c = clips_[size_t(row)];
  switch (column) {
    case 0:
      return c.file_name;
    case 1:
      return field_text(c.start, row);
    case 2:
      return field_text(c.count, row);
    case 3:
      return field_text(c.video_frame_total, row);
  }
  return {};
}

double VideoClipListModel::field_value(const std::string& text) const {
  if (utils_strip_spaces(text).empty()) return -1;
  return std::strtod(text.c_str(), nullptr);
}

int VideoClipListModel::field_frames(const std::string& text, int row) const {
  const double v = field_value(text);
  if (v < 0) return -1;
  if (!time_format) return int(std::min(v, 2e9));
  const double period = row >= 0 && row < int(clips_.size()) ? frame_period(clips_[size_t(row)]) : 1.0;
  return seconds_to_frames(v, period);
}

void VideoClipListModel::set_range(int row, int start, int count) {
  if (row < 0 || row >= int(clips_.size())) return;
  Clip& c = clips_[size_t(row)];
  if (start >= 0) c.start = start;
  if (count >= 0) c.count = count;
  if (Clip::is_still_image_type(c.clip_type) || c.video_frame_total <= 0) return;
  if (c.start >= c.video_frame_total) c.start = 0;
  if (c.count <= 0 || c.start + c.count > c.video_frame_total) c.count = c.video_frame_total - c.start;
}

#include "engine/clips/project.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "access/effects.h"
#include "engine/clips/clip_streams.h"
#include "engine/clips/clip_verify.h"
#include "engine/clips/cliplist_file.h"
#include "engine/clips/text_fields.h"
#include "foundation/trace.h"

namespace {

// Far beyond the lists anyone makes, so files written are read back.
constexpr int kMaxClips = 1000000;
constexpr int kMaxPoints = 1000000;

bool read_ints(FILE* f, size_t want, std::vector<long long>* out) {
  std::string line;
  return rec_next_line(f, &line) && utils_int_fields(line, out) && out->size() >= want;
}

bool is_comment(const std::string& l) {
  return l.size() <= 1 || l[0] == '#' || (l[0] == '/' && l[1] == '/');
}

}  // namespace

std::vector<PCMScalePoint> copy_pcm_scale(const std::vector<PCMScalePoint>& points) {
  std::vector<PCMScalePoint> out;
  if (points.empty()) {
    trace("copy_pcm_scale (ERROR): invalid input parameter(s)\n");
    return out;
  }
  out.push_back(points[0]);
  for (size_t i = 1; i < points.size(); ++i) {
    if (points[i].time > out.back().time) {
      out.push_back(points[i]);
    } else {
      trace("copy_pcm_scale (ERROR): time(%d) = %.3f <= %.3f = time(%d)\n", int(i), double(points[i].time),
            double(out.back().time), int(i - 1));
    }
  }
  return out;
}

double pcm_scale_gain_at(const std::vector<PCMScalePoint>& points, double t) {
  if (points.size() < 2) return 1.0;
  if (t <= points.front().time) return points.front().gain;
  if (t >= points.back().time) return points.back().gain;
  auto it = std::upper_bound(points.begin(), points.end(), t,
                             [](double v, const PCMScalePoint& p) { return v < double(p.time); });
  const PCMScalePoint& b = *it;
  const PCMScalePoint& a = *(it - 1);
  const double span = double(b.time) - double(a.time);
  if (span <= 0) return b.gain;
  return a.gain + (double(b.gain) - a.gain) * (t - a.time) / span;
}

std::vector<PCMScalePoint> pcm_scale_range(const std::vector<PCMScalePoint>& points, double start, double length) {
  std::vector<PCMScalePoint> out;
  if (points.size() < 2 || !(length >= 0)) return out;
  const double end = start + length;
  out.push_back({0.0f, float(pcm_scale_gain_at(points, start))});
  for (const PCMScalePoint& p : points)
    if (p.time > start && p.time < end && float(p.time - start) > out.back().time)
      out.push_back({float(p.time - start), p.gain});
  if (float(length) > out.back().time) out.push_back({float(length), float(pcm_scale_gain_at(points, end))});
  return out;
}

int save_pcm_scale(FILE* f, const PCMScalePoint* points, int n) {
  if (!f || !points) {
    trace("save_pcm_scale (ERROR): nil input parameters\n");
    return 0;
  }
  std::fprintf(f, "PCMScale: %d\n", n);
  for (int i = 0; i < n; ++i) std::fprintf(f, "\t %12.4f %12.4f\n", double(points[i].time), double(points[i].gain));
  std::fprintf(f, "#\n");
  return n;
}

std::vector<PCMScalePoint> load_pcm_scale(FILE* f) {
  std::vector<PCMScalePoint> out;
  const long at = std::ftell(f);
  std::string line;
  while (read_text_line(f, &line)) {
    if (line.compare(0, 9, "PCMScale:") != 0) continue;
    const long n = std::strtol(line.c_str() + 9, nullptr, 10);
    if (n < 1 || n > kMaxPoints) break;
    for (long i = 0; i < n; ++i) {
      double t = 0, g = 0;
      if (!read_text_line(f, &line) || std::sscanf(line.c_str(), " %lf %lf", &t, &g) != 2) break;
      out.push_back(PCMScalePoint{float(t), float(g)});
    }
    break;
  }
  std::fseek(f, at, SEEK_SET);
  return out;
}

// ---- EClip -----------------------------------------------------------------

int EClip::ctor(FILE* f, int merge) {
  std::string list_name;
  int v1 = 0, v2 = 0, v3 = 0;
  // The gain block follows the list's records: searched from the list's start.
  const long at = std::ftell(f);
  MPEG_Clip* list = read_cliplist(f, &list_name, &v1, &v2, &v3, merge);
  if (!list) {
    trace("EClip::ctor (ERROR): clip_load (FILE) failed\n");
    return 1;
  }
  clips.clear();
  for (const MPEG_Clip* c = list; c; c = c->next) clips.push_back(static_cast<const Clip&>(*c));
  mpeg_clip_list_free(list);
  const long end = std::ftell(f);
  std::fseek(f, at, SEEK_SET);
  pcm_scale = load_pcm_scale(f);
  std::fseek(f, end, SEEK_SET);
  if (!list_name.empty()) file_name = list_name;
  if (v3 > 0) header[0] = v3;
  if (v1 > 0) header[1] = v1;
  if (v2 > 0) header[2] = v2;
  return 0;
}

int EClip::init(const char* name_in, int merge) {
  clear();
  FILE* f = name_in ? std::fopen(name_in, "r") : nullptr;
  if (!f) {
    trace("EClip::init (ERROR): fopen (%s: read) failed\n", name_in ? name_in : "");
    return 1;
  }
  int r = 1;
  if (check_cliplist_id(f) == 0) {
    std::rewind(f);
    r = ctor(f, merge);
  }
  std::fclose(f);
  if (r != 0) {
    MPEG_Clip* one = clip_load(name_in, merge);
    if (one) {
      for (const MPEG_Clip* c = one; c; c = c->next) clips.push_back(static_cast<const Clip&>(*c));
      mpeg_clip_list_free(one);
      r = 0;
    } else {
      name = name_in;
    }
  }
  return r;
}

int EClip::write_clip_list(FILE* f) const {
  MPEG_Clip* list = eclip_2_mpeg_clip(*this, 0);
  write_cliplist(f, list, file_name.empty() ? nullptr : file_name.c_str(), header[1], header[2], header[0]);
  mpeg_clip_list_free(list);
  if (!pcm_scale.empty()) save_pcm_scale(f, pcm_scale.data(), int(pcm_scale.size()));
  return 0;
}

int EClip::save(const char* out) const {
  FILE* f = out ? std::fopen(out, "w") : nullptr;
  if (!f) {
    trace("EClip::save (ERROR): fopen (%s: write) failed\n", out ? out : "");
    return 1;
  }
  write_clip_list(f);
  const bool bad = std::ferror(f) != 0;
  return std::fclose(f) != 0 || bad ? 1 : 0;
}

int EClip::get_total_frames() {
  int sum = 0;
  for (Clip& c : clips) {
    if (c.transition_length > c.count) c.transition_length = c.count;
    sum += c.count - c.transition_length;
  }
  return sum;
}

double EClip::get_total_time() const {
  double t = 0;
  for (const Clip& c : clips) t += (c.frame_rate > 0 ? 1.0 / c.frame_rate : 0) * c.count;
  return t;
}

int EClip::file_save(FILE* f) const {
  if (clips.empty()) {
    trace("EClip::file_save (ERROR): empty clip list\n");
    return 5;
  }
  std::fprintf(f, "//\n// list of clips\n//\n[ClipList]\n  %d\n\n", int(clips.size()));
  int k = 1;
  for (const Clip& c : clips) {
    std::fprintf(f, "//\n// #%d-clip\n//\n[Clip]\n", k++);
    std::fprintf(f, "  %s\n", c.has_file ? c.file_name.c_str() : "");
    std::fprintf(f, "  %d %d %d\n", c.clip_type, c.start, c.count);
    std::fprintf(f, "  %d %d %d %d %d %d\n", c.video_stream_count, c.video_stream_id, c.video_pid,
                 c.audio_stream_count, c.audio_stream_id, c.audio_pid);
    std::fprintf(f, "  %d %d %d %d\n", c.transition_id, c.transition_length, c.transition_value2,
                 c.transition_value1);
    write_video_filter(f, c);
    std::fprintf(f, "\n");
  }
  if (!pcm_scale.empty()) {
    std::fprintf(f, "//\n// sound data scaling\n//\n[PCMScale]\n  %d\n", int(pcm_scale.size()));
    for (const PCMScalePoint& p : pcm_scale) std::fprintf(f, "  %.6f %.6f\n", double(p.time), double(p.gain));
    std::fprintf(f, "\n");
  }
  std::fprintf(f, "//\n// end of list\n//\n");
  return 0;
}

int EClip::file_load(FILE* f) {
  if (!rec_find_section(f, "[ClipList]")) {
    trace("EClip::file_load (ERROR): no clip list file-id found\n");
    return 2;
  }
  std::vector<long long> v;
  if (!read_ints(f, 1, &v)) {
    trace("EClip::file_load (ERROR): not enough data\n");
    return 2;
  }
  if (v[0] < 1 || v[0] > kMaxClips) {
    trace("EClip::file_load (ERROR): invalid clip list size\n");
    return 2;
  }
  std::vector<Clip> kept;
  const long long n = v[0];
  for (long long i = 0; i < n; ++i) {
    Clip c;
    if (read_clip_section(f, &c)) kept.push_back(c);
    else if (std::feof(f)) break;
  }
  if (kept.empty()) {
    trace("EClip::file_load (ERROR): no clip found\n");
    return 2;
  }
  clips = std::move(kept);
  // The gain curve is read back too: a save from the project keeps its
  // audio as edited. A file without it has no points.
  pcm_scale.clear();
  if (rec_find_section(f, "[PCMScale]") && read_ints(f, 1, &v) && v[0] >= 1 && v[0] <= kMaxPoints) {
    std::string line;
    std::vector<PCMScalePoint> points;
    const long long points_n = v[0];
    for (long long i = 0; i < points_n && rec_next_line(f, &line); ++i) {
      double t = 0, g = 0;
      if (std::sscanf(line.c_str(), " %lf %lf", &t, &g) != 2) break;
      points.push_back(PCMScalePoint{float(t), float(g)});
    }
    if (!points.empty()) pcm_scale = copy_pcm_scale(points);
  }
  return 0;
}

// ---- conversions -------------------------------------------------------------

MPEG_Clip* eclip_2_mpeg_clip(const EClip& project, int keep_head_transition) {
  if (project.clips.empty()) {
    trace("eclip_2_mpeg_clip (ERROR): empty EClip list\n");
    return nullptr;
  }
  MPEG_Clip *head = nullptr, *tail = nullptr;
  for (const Clip& c : project.clips) {
    clip_list_link(&head, &tail, new MPEG_Clip(c));
  }
  // The head's transition is kept only when asked, and then through the
  // list's own rules, never set again behind them.
  head->keep_head_transition = keep_head_transition;
  return clip_update(head);
}

EClip* mpeg_clip_2_eclip(const MPEG_Clip* list) {
  if (!list) {
    trace("mpeg_clip_2_eclip (ERROR): empty MPEG-Clip list\n");
    return nullptr;
  }
  auto* e = new EClip;
  for (; list; list = list->next) e->clips.push_back(static_cast<const Clip&>(*list));
  return e;
}

// ---- sections ----------------------------------------------------------------

bool rec_next_line(FILE* f, std::string* line) {
  while (read_text_line(f, line))
    if (!is_comment(*line)) return true;
  return false;
}

bool rec_find_section(FILE* f, const char* section, int max_lines) {
  std::string line;
  const size_t n = std::strlen(section);
  for (int i = 0; i < max_lines && rec_next_line(f, &line); ++i)
    if (line.compare(0, n, section) == 0) return true;
  return false;
}

int write_video_filter(FILE* f, const Clip& c) {
  if (c.overlays.empty()) return 0;
  std::fprintf(f, "[VideoFilter]\n  %d\n", int(c.overlays.size()));
  for (const OverlayClip& o : c.overlays)
    std::fprintf(f, "  %d %d %d %d %d %d\n", o.effect_id, o.position, o.length, o.kind, o.effect_span,
                 o.effect_offset);
  return int(c.overlays.size());
}

int read_video_filter(FILE* f, Clip* c) {
  const long at = std::ftell(f);
  if (!rec_find_section(f, "[VideoFilter]", 1)) {
    std::fseek(f, at, SEEK_SET);
    return 0;
  }
  std::vector<long long> v;
  if (!read_ints(f, 1, &v) || v[0] < 1 || v[0] > kMaxClips) {
    trace("read_video_filter (ERROR): invalid number of video filters\n");
    return 0;
  }
  std::vector<OverlayClip> kept;
  const int effects = effect_op_get_count();
  const long long n = v[0];
  for (long long i = 0; i < n; ++i) {
    if (!read_ints(f, 6, &v)) {
      trace("read_video_filter (ERROR): not enough data\n");
      break;
    }
    OverlayClip o{int(v[1]), int(v[2]), int(v[0])};
    o.kind = int(v[3]);
    o.effect_span = int(v[4]);
    o.effect_offset = int(v[5]);
    if (o.effect_id < 0 || o.effect_id >= effects) {
      trace("read_video_filter (ERROR): invalid video filter effect id\n");
      continue;
    }
    if (o.position < c->start || (c->count != 0 && o.position >= c->start + c->count)) {
      trace("read_video_filter (ERROR): invalid video filter offset\n");
      continue;
    }
    if (o.length < 1 || o.length > c->count) {
      trace("read_video_filter (ERROR): invalid video filter length\n");
      continue;
    }
    if (o.effect_span == 0) o.effect_span = o.length;
    if (o.effect_offset < 0 || o.effect_offset > o.effect_span - 1) o.effect_offset = 0;
    kept.push_back(o);
  }
  c->overlays.clear();
  int added = 0;
  for (const OverlayClip& o : kept) added += c->add_overlay_record(o);
  return added;
}

int read_clip_section(FILE* f, Clip* c) {
  auto short_data = [] {
    trace("read_clip (ERROR): not enough data\n");
    return 0;
  };
  if (!rec_find_section(f, "[Clip]")) return short_data();
  std::string name;
  if (!rec_next_line(f, &name)) return short_data();
  name = utils_strip_spaces(name);
  struct stat st;
  FILE* probe = stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? std::fopen(name.c_str(), "rb") : nullptr;
  if (!probe) {
    trace("read_clip (ERROR): cannot open file <%s>\n", name.c_str());
    return 0;
  }
  std::fclose(probe);
  std::vector<long long> v;
  if (!read_ints(f, 3, &v)) return short_data();
  const int type = int(v[0]), start = int(v[1]), count = int(v[2]);
  if (type < 1 || type > 14) {
    trace("read_clip (ERROR): invalid clip type found\n");
    return 0;
  }
  if (start < 0) {
    trace("read_clip (ERROR): negative start frame number\n");
    return 0;
  }
  if (count < 0) {
    trace("read_clip (ERROR): negative frame count\n");
    return 0;
  }
  if (!read_ints(f, 4, &v)) return short_data();
  int vcount, vid, vpid = 0, acount, aid, apid = 0;
  if (v.size() > 4) {
    vcount = int(v[0]), vid = int(v[1]), vpid = int(v[2]), acount = int(v[3]), aid = int(v[4]),
    apid = v.size() > 5 ? int(v[5]) : 0;
  } else {
    vcount = int(v[0]), vid = int(v[1]), acount = int(v[2]), aid = int(v[3]);
  }
  if (vcount < 1) {
    trace("read_clip (ERROR): invalid video stream count\n");
    return 0;
  }
  if (vid != 0 && (vid < 0xE0 || vid > 0xEF)) {
    trace("read_clip (ERROR): invalid video stream id value\n");
    vid = 0xE0;
  }
  if (acount < 0) {
    trace("read_clip (ERROR): invalid audio stream count\n");
    acount = 0;
  }
  if (aid != 0 && (aid < 0x80 || aid > 0xDF)) {
    trace("read_clip (ERROR): invalid audio stream id value\n");
    aid = 0;
  }
  if (vpid != 0 && (vpid < 16 || vpid > 8190)) {
    trace("read_clip (ERROR): invalid video stream PID value (0x%08x)\n", vpid);
    vpid = 0;
  }
  if (apid != 0 && (apid < 16 || apid > 8190)) {
    trace("read_clip (ERROR): invalid audio stream PID value (0x%08x)\n", apid);
    apid = 0;
  }
  if (!read_ints(f, 4, &v)) return short_data();
  const int effect = int(v[0]), length = int(v[1]), value2 = int(v[2]), value1 = int(v[3]);
  if (effect < 0 || effect >= effect_op_get_count()) {
    trace("read_clip (ERROR): invalid effect id value\n");
    return 0;
  }
  if (effect == 0 && (length || value1 || value2)) {
    trace("read_clip (ERROR): invalid effect parameters\n");
    return 0;
  }
  const auto made = clip_ctor(name.c_str(), start, count, aid, 0);
  if (!made) {
    trace("read_clip (ERROR): Clip::ctor () failed\n");
    return 0;
  }
  *c = *made;
  (void)vcount;
  (void)acount;
  // The streams the record names, with their own facts.
  if (clip_select_video_stream(c, vid, vpid)) {
    c->start = start;
    clip_set_count(c, count > 0 ? count : c->video_frame_total);
  }
  clip_select_audio_stream(c, aid, apid);
  read_video_filter(f, c);
  if (effect) {
    const OPEntry* e = effect_op_manager()->entry(effect);
    if (e && e->kind == 2) {
      c->transition_id = effect;
      c->transition_length = std::min(length, c->count);
      c->transition_value1 = value1;
      c->transition_value2 = value2;
    } else {
      c->insert_overlay(effect, c->start, length);
    }
  }
  return 1;
}

#include "engine/clips/cliplist_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <ctime>
#include <sstream>
#include <vector>

#include "audio/codec/wave.h"
#include "engine/clips/clip_streams.h"
#include "engine/clips/clip_verify.h"
#include "engine/clips/text_fields.h"
#include "foundation/probe.h"
#include "foundation/trace.h"

namespace {

constexpr const char* kId =
    "1/100.1/99.1/98.1/97....1/5.1/4.1/3.1/2.2/3.3/4.4/5.5/6....97/98.98/99.99/100.1";
// Far beyond any path; a longer line is damage, not a name.
constexpr size_t kMaxLine = 1 << 20;

bool starts(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

// Refits a transition read from a file: an offset past the effect leaves
// nothing of it.
void repair_transition(MPEG_Clip* c) {
  if (!c->transition_length) return;
  if (c->transition_full() < c->transition_length) c->set_transition_full(c->transition_length);
  if (c->transition_offset() < 0) c->set_transition_offset(0);
  if (c->transition_offset() >= c->transition_full()) {
    c->transition_id = c->transition_length = 0;
    c->set_transition_full(0);
    c->set_transition_offset(0);
  }
}

// Facts from the file through the verified-clip cache, keeping the record's
// range, transition, overlays and chosen streams.
int verify_record(MPEG_Clip* c) {
  if (c->edit_position < 0) return mpeg_clip_verify(c);
  const auto made = clip_ctor(c->get_file_name(), c->start, c->count, c->audio_stream_id, 0);
  if (!made) {
    // A WAVE clip of an audio track: the file's header gives its facts.
    if (c->clip_type == 10 && c->get_file_name() && clip_of_wave_file(c->get_file_name(), c) == 0) return 10;
    c->clip_type = 0;
    return 0;
  }
  const int id = c->transition_id, len = c->transition_length, full = c->transition_full(),
            off = c->transition_offset();
  std::vector<OverlayClip> overlays = c->overlays;
  const int audio_id = c->audio_stream_id, audio_pid = c->audio_pid;
  const int video_id = c->video_stream_id, video_pid = c->video_pid;
  const int start = c->start, count = c->count;
  const Clip& v = *made;
  static_cast<Clip&>(*c) = v;
  // The streams the record names, the range on the chosen video stream.
  if (clip_select_video_stream(c, video_id, video_pid)) {
    c->start = start;
    clip_set_count(c, count > 0 ? count : c->video_frame_total);
  }
  clip_select_audio_stream(c, audio_id, audio_pid);
  // A file without audio keeps the stream the record asked for.
  if (v.audio_stream_count == 0) {
    c->audio_stream_id = audio_id;
    c->audio_pid = audio_pid;
  }
  c->transition_id = id;
  c->transition_length = std::min(len, c->count);
  c->set_transition_full(full);
  c->set_transition_offset(off);
  if (!c->transition_id || c->transition_length <= 0) {
    c->transition_id = c->transition_length = 0;
  }
  c->overlays = std::move(overlays);
  return c->clip_type;
}

}  // namespace

bool read_text_line(FILE* f, std::string* line) {
  line->clear();
  int ch;
  bool any = false;
  while ((ch = std::fgetc(f)) != EOF) {
    any = true;
    if (ch == '\n') break;
    if (line->size() < kMaxLine) line->push_back(char(ch));
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return any;
}

int write_cliplist_id(FILE* f) { return std::fprintf(f, "%s\n", kId) < 0 ? 1 : 0; }

int check_cliplist_id(FILE* f) {
  std::string line;
  size_t bytes = 0;
  const size_t n = std::strlen(kId);
  for (int i = 0; i < 500 && bytes < 65536; ++i) {
    if (!read_text_line(f, &line)) return 1;
    if (line.compare(0, n, kId) == 0) return 0;
    bytes += line.size() + 1;
  }
  return 1;
}

int check_cliplist_file(const char* name) {
  FILE* f = name ? std::fopen(name, "r") : nullptr;
  if (!f) return 1;
  const int r = check_cliplist_id(f);
  std::fclose(f);
  return r;
}

int write_cliplist(FILE* f, MPEG_Clip* list, const char* name, int v1, int v2, int v3) {
  if (list) clip_update(list);
  write_cliplist_id(f);
  std::fprintf(f, "#\n");
  if (name) {
    std::fprintf(f, "%s %s\n", "CLIPLIST:", name);
    std::fprintf(f, "%10d %10d %10d\n", v1, v2, v3);
  } else {
    std::fprintf(f, "# edited movie: one CLIP record per clip\n# %s\n#\n", "MPEG-Tamsel V3.14 (12/2007)");
    const std::time_t now = std::time(nullptr);
    char when[64];
    std::strftime(when, sizeof when, "%a %b %e %H:%M:%S %Y\n", std::localtime(&now));
    std::fprintf(f, "LIST created on %s", when);
  }
  std::fprintf(f, "#\n");
  int clips = 0, frames = 0;
  for (MPEG_Clip* c = list; c; c = c->next) {
    if (!c->has_file) continue;
    std::fprintf(f, "%s %s\n", "CLIP:", c->file_name.c_str());
    std::fprintf(f, "\t%d %d %d %d %d %d %d %d %d %d %d %d %d %d \n", c->clip_type, c->start, c->count,
                 c->audio_stream_count, c->audio_stream_id, c->audio_pid, c->video_stream_count,
                 c->video_stream_id, c->video_pid, c->transition_id, c->transition_length, c->transition_full(),
                 c->transition_offset(), int(c->overlays.size()));
    for (const OverlayClip& o : c->overlays) {
      std::fprintf(f, "%s %d %d %d %d %d %d \n", "  OLCLIP", o.kind, o.effect_id, o.position, o.length,
                   o.effect_span, o.effect_offset);
      std::fprintf(f, "\t%s \n", o.has_file ? o.file_name.c_str() : "");
    }
    ++clips;
    frames += c->count - c->transition_length;
  }
  std::fprintf(f, "#\n# total: %d clips = %d frames\n#\n", clips, frames);
  return clips;
}

int read_clip(FILE* f, MPEG_Clip* c, int merge) {
  std::string line, ints;
  std::string name;
  for (;;) {
    const long at = std::ftell(f);
    if (!read_text_line(f, &line)) return 2;
    if (starts(line, "CLIPLIST:")) {
      if (!merge) std::fseek(f, at, SEEK_SET);
      return 1;
    }
    if (line.empty() || line[0] == '#' || !starts(line, "CLIP:")) continue;
    if (!read_text_line(f, &ints)) return 2;
    name = utils_strip_spaces(line.substr(5));
    size_t solid = 0;
    for (char ch : name + ints)
      if (!std::isspace((unsigned char)ch)) ++solid;
    if (solid > 10) break;
  }
  std::vector<long long> v;
  if (!utils_int_fields(ints, &v) || v.size() < 13) return 2;
  c->clip_type = int(v[0]);
  c->start = int(v[1]);
  c->count = int(v[2]);
  c->audio_stream_count = int(v[3]);
  c->audio_stream_id = int(v[4]);
  int overlays = 0;
  if (v.size() > 13) {
    c->audio_pid = int(v[5]);
    c->video_stream_count = int(v[6]);
    c->video_stream_id = int(v[7]);
    c->video_pid = int(v[8]);
    c->transition_id = int(v[9]);
    c->transition_length = int(v[10]);
    c->set_transition_full(int(v[11]));
    c->set_transition_offset(int(v[12]));
    overlays = int(v[13]);
  } else {
    // The older record has no video PID and keeps the audio PID last.
    c->video_stream_count = int(v[5]);
    c->video_stream_id = int(v[6]);
    c->transition_id = int(v[7]);
    c->transition_length = int(v[8]);
    c->set_transition_full(int(v[9]));
    c->set_transition_offset(int(v[10]));
    overlays = int(v[11]);
    c->audio_pid = int(v[12]);
    c->video_pid = 0;
  }
  repair_transition(c);
  if (name.empty()) return 2;
  c->set_file_name(name.c_str());
  if (c->start < 0 || c->count < 0) c->start = c->count = 0;
  const int read_start = c->start;
  verify_record(c);
  if (c->is_still_image() && read_start != 0) {
    trace("read_clip (): invalid 'start' value (%d) for a still image\n", read_start);
    c->start = 0;
  }
  for (int i = 0; i < overlays; ++i) {
    const long at = std::ftell(f);
    if (!read_text_line(f, &line)) break;
    if (!starts(line, "  OLCLIP")) {
      std::fseek(f, at, SEEK_SET);
      break;
    }
    std::vector<long long> w;
    std::string image;
    if (!utils_int_fields(line.substr(8), &w) || w.size() < 6 || !read_text_line(f, &image)) break;
    OverlayClip r{int(w[2]), int(w[3]), int(w[1])};
    r.kind = int(w[0]);
    r.effect_span = int(w[4]);
    r.effect_offset = int(w[5]);
    if (r.length) {
      if (r.effect_offset < 0 || r.effect_offset >= r.effect_span) r.effect_offset = 0;
    }
    image = utils_strip_spaces(image);
    if (image.size() >= 2) {
      if (r.set_image_file(image.c_str())) continue;
    } else {
      r.kind = 0;
    }
    c->add_overlay_record(r);
  }
  return 0;
}

MPEG_Clip* read_cliplist(FILE* f, std::string* name, int* v1, int* v2, int* v3, int merge, int* dropped) {
  MPEG_Clip *head = nullptr, *tail = nullptr;
  int lost = 0;
  for (;;) {
    auto* c = new MPEG_Clip;
    const int r = read_clip(f, c, merge);
    if (r == 2) {
      delete c;
      break;
    }
    if (r == 1) {
      delete c;
      if (head && !merge) break;
      if (!head) {
        // Before the first clip: the list's own header.
        std::string line, values;
        if (!merge && read_text_line(f, &line) && name)
          *name = utils_strip_spaces(line.size() > 10 ? line.substr(10) : "");
        if (merge && name) *name = "";
        if (read_text_line(f, &values)) {
          int a = 0, b = 0, k = 0;
          if (std::sscanf(values.c_str(), " %d %d %d ", &a, &b, &k) == 3) {
            if (v1) *v1 = a;
            if (v2) *v2 = b;
            if (v3) *v3 = k;
          }
        }
      }
      continue;
    }
    if (c->clip_type < 1 || c->clip_type > 14 || c->count < 1) {
      // A clip whose file is gone or unusable never joins the list.
      trace("read_cliplist (Warning): <%s> dropped\n", c->get_file_name() ? c->get_file_name() : "");
      ++lost;
      delete c;
      continue;
    }
    clip_list_link(&head, &tail, c);
  }
  if (dropped) *dropped = lost;
  if (head) clip_update(head);
  return head;
}

int clip_save(MPEG_Clip* list, const char* file_name) {
  if (!list || !file_name || !*file_name) return 0;
  FILE* f = std::fopen(file_name, "w");
  if (!f) return 0;
  clip_update(list);
  const int n = write_cliplist(f, list, file_name, 0, 0, 0);
  const bool bad = std::ferror(f) != 0;
  if (std::fclose(f) != 0 || bad) {
    trace("clip_save (ERROR): <%s>: write failed\n", file_name);
    return 0;
  }
  return n;
}

MPEG_Clip* mpeg_clip_of_file(const char* file_name, int start, int count) {
  const auto made = clip_ctor(file_name, start, count, 0, 0);
  return made ? new MPEG_Clip(*made) : nullptr;
}

MPEG_Clip* clip_load(const char* file_name, int merge, int* dropped) {
  if (dropped) *dropped = 0;
  FILE* f = file_name ? std::fopen(file_name, "r") : nullptr;
  if (!f) {
    trace("clip_load (ERROR: fopen (r)): <%s>\n", file_name ? file_name : "");
    return nullptr;
  }
  if (check_cliplist_id(f) == 0) {
    MPEG_Clip* list = read_cliplist(f, nullptr, nullptr, nullptr, nullptr, merge, dropped);
    std::fclose(f);
    return list;
  }
  std::fclose(f);
  MPEG_Clip* c = mpeg_clip_of_file(file_name, 0, 0);
  if (!c) {
    trace("clip_load (ERROR): <%s> is not recognized by this MPEG Editor.\n", file_name);
    return nullptr;
  }
  return clip_update(c);
}

int clip_of_wave_file(const char* file_name, Clip* c) {
  WaveFile w;
  if (!file_name || w.open(file_name, 1) != 0) return 1;
  const WaveFmt f = w.fmt();  // close() clears the file's record
  const double samples = std::floor(w.get_duration() * f.sample_rate + 0.5);
  w.close();
  if (f.sample_rate < 1 || f.channels < 1 || f.channels > 2) return 1;
  const int frames = int(std::ceil(samples / 1152.0));
  if (frames < 1) return 1;
  const int start = std::clamp(c->start, 0, frames - 1);
  const int count = c->count > 0 ? std::min(c->count, frames - start) : frames - start;
  c->set_file_name(file_name);
  c->clip_type = 10;
  c->start = start;
  c->count = count;
  c->audio_stream_count = 1;
  c->audio_stream_id = 0xC0;
  c->audio_layer = 2;
  c->sample_rate = int(f.sample_rate);
  c->channels = f.channels;
  c->bits_per_sample = f.bits_per_sample;
  c->audio_frame_period = 1152.0 / f.sample_rate;
  return 0;
}

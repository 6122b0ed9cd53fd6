// cliplist --script OPS: edits a working clip list, one operation a line
// (edit frames): open FILE [START COUNT], copy S N, cut S N,
// paste POS [EFFECT LENGTH], transition POS EFFECT LENGTH, untransition POS,
// overlay EFFECT POS LENGTH, save FILE, load FILE, project-save FILE,
// project-load FILE, gain T G [T G...], rec-save FILE, rec-load FILE (the
// loads replace the list). After each:
//   op n=K verb=OP result=1|0        (0: refused, nothing changed)
//   clipboard clips=N frames=N       (copy)
//   gain points=N                    (project-load, rec-load)
//   video mpeg2=N width=N height=N bit_rate=N frame_rate=R   (rec-load)
//   clip index=N type=N start=N count=N edit_position=N effect=N transition=N
//        full=N offset=N overlays=N audio_id=N file=PATH
//   overlay clip=N kind=N effect=N position=N length=N span=N offset=N
//   total clips=N frames=N
// A FILE is the rest of its line before any trailing numbers.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "devtool/command.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/cliplist_file.h"
#include "engine/clips/project.h"
#include "engine/clips/settings.h"

namespace {

struct Line {
  std::string verb, rest;
  std::vector<long long> numbers;  // trailing integers of rest
  std::string text;                // rest without them
};

bool is_int(const std::string& w, long long* v) {
  if (w.empty()) return false;
  char* end = nullptr;
  *v = std::strtoll(w.c_str(), &end, 10);
  return end && !*end && *v >= INT32_MIN && *v <= INT32_MAX;
}

Line split(const std::string& s, size_t max_numbers) {
  Line l;
  size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return l;
  size_t b = s.find_first_of(" \t", a);
  l.verb = s.substr(a, b == std::string::npos ? std::string::npos : b - a);
  if (b != std::string::npos) {
    const size_t r = s.find_first_not_of(" \t", b);
    if (r != std::string::npos) l.rest = s.substr(r);
  }
  while (!l.rest.empty() && (l.rest.back() == ' ' || l.rest.back() == '\t')) l.rest.pop_back();
  l.text = l.rest;
  while (l.numbers.size() < max_numbers) {
    const size_t sp = l.text.find_last_of(" \t");
    const std::string last = sp == std::string::npos ? l.text : l.text.substr(sp + 1);
    long long v;
    if (!is_int(last, &v)) break;
    l.numbers.insert(l.numbers.begin(), v);
    l.text = sp == std::string::npos ? std::string() : l.text.substr(0, sp);
    while (!l.text.empty() && (l.text.back() == ' ' || l.text.back() == '\t')) l.text.pop_back();
  }
  return l;
}

void print_list(MPEG_Clip* list) {
  int clips = 0;
  const int frames = list ? mpeg_clip_list_total_frames(list, 1) : 0;
  for (const MPEG_Clip* c = list; c; c = c->next, ++clips) {
    std::printf(
        "clip index=%d type=%d start=%d count=%d edit_position=%d effect=%d transition=%d full=%d offset=%d "
        "overlays=%d audio_id=%d file=%s\n",
        clips, c->clip_type, c->start, c->count, c->edit_position, c->transition_id, c->transition_length,
        c->transition_full(), c->transition_offset(), int(c->overlays.size()), c->audio_stream_id,
        c->has_file ? c->file_name.c_str() : "");
    for (const OverlayClip& o : c->overlays)
      std::printf("overlay clip=%d kind=%d effect=%d position=%d length=%d span=%d offset=%d\n", clips, o.kind,
                  o.effect_id, o.position, o.length, o.effect_span, o.effect_offset);
  }
  std::printf("total clips=%d frames=%d\n", clips, frames);
}

int overlay_count(const MPEG_Clip* list) {
  int n = 0;
  for (; list; list = list->next) n += int(list->overlays.size());
  return n;
}

struct Session {
  MPEG_Clip* list = nullptr;
  MPEG_Clip* board = nullptr;
  std::vector<PCMScalePoint> gain;

  EClip project_of_list() const {
    EClip* e = mpeg_clip_2_eclip(list);
    EClip p = e ? *e : EClip();
    delete e;
    p.pcm_scale = gain;
    return p;
  }
  void replace_list(const EClip& p) {
    mpeg_clip_list_free(list);
    list = eclip_2_mpeg_clip(p, 0);
    gain = p.pcm_scale;
  }
  ~Session() {
    mpeg_clip_list_free(list);
    mpeg_clip_list_free(board);
  }

  // Result of one operation; 0 leaves everything as it was.
  int run(const Line& l, std::string* extra) {
    const auto& v = l.numbers;
    const auto total = [&] { return list ? mpeg_clip_list_total_frames(list, 1) : 0; };
    if (l.verb == "open") {
      if (l.text.empty() || (v.size() != 0 && v.size() != 2)) return 0;
      MPEG_Clip* c = mpeg_clip_of_file(l.text.c_str(), v.empty() ? 0 : int(v[0]), v.empty() ? 0 : int(v[1]));
      if (!c) return 0;
      MPEG_Clip* tail = clip_list_tail(list);
      clip_list_link(&list, &tail, c);
      clip_update(list);
      return 1;
    }
    if (l.verb == "copy" || l.verb == "cut") {
      if (v.size() != 2 || !l.text.empty() || !list) return 0;
      const int s = int(v[0]), n = int(v[1]);
      if (l.verb == "copy") {
        MPEG_Clip* c = clip_copy(list, s, n);
        if (!c) return 0;
        mpeg_clip_list_free(board);
        board = c;
        char buf[96];
        std::snprintf(buf, sizeof buf, "clipboard clips=%d frames=%d\n", clip_list_count(board),
                      mpeg_clip_list_total_frames(board, 1));
        *extra = buf;
        return 1;
      }
      const int last = total() - 1;
      const int end = (n == 0 || s + n - 1 > last) ? last : s + n - 1;
      // The movie keeps at least one frame.
      if (s < 0 || s > end || (s == 0 && end == last)) return 0;
      list = clip_cut(list, s, n);
      return 1;
    }
    if (l.verb == "paste") {
      if ((v.size() != 1 && v.size() != 3) || !l.text.empty() || !board) return 0;
      MPEG_Clip* copy = clip_list_duplicate(board);
      if (!list) {
        if (v[0] != 0) {
          mpeg_clip_list_free(copy);
          return 0;
        }
        list = clip_update(copy);
        return 1;
      }
      bool taken = false;
      list = clip_insert(list, copy, int(v[0]), v.size() == 3 ? int(v[1]) : 0, v.size() == 3 ? int(v[2]) : 0,
                         &taken);
      if (!taken) mpeg_clip_list_free(copy);
      return taken ? 1 : 0;
    }
    if (l.verb == "transition") {
      if (v.size() != 3 || !l.text.empty() || !list) return 0;
      return clip_insert_transitions(list, int(v[0]), int(v[1]), int(v[2])) > 0 ? 1 : 0;
    }
    if (l.verb == "untransition") {
      if (v.size() != 1 || !l.text.empty() || !list) return 0;
      return clip_remove_transitions(list, int(v[0])) > 0 ? 1 : 0;
    }
    if (l.verb == "overlay") {
      if (v.size() != 3 || !l.text.empty() || !list) return 0;
      const int before = overlay_count(list);
      clip_add_overlay(list, int(v[0]), int(v[1]), int(v[2]));
      return overlay_count(list) > before ? 1 : 0;
    }
    if (l.verb == "save") {
      if (l.rest.empty() || !list) return 0;
      return clip_save(list, l.rest.c_str()) > 0 ? 1 : 0;
    }
    if (l.verb == "load") {
      if (l.rest.empty()) return 0;
      MPEG_Clip* loaded = clip_load(l.rest.c_str(), 0);
      if (!loaded) return 0;
      mpeg_clip_list_free(list);
      list = loaded;
      return 1;
    }
    if (l.verb == "gain") {
      std::vector<PCMScalePoint> points;
      std::istringstream in(l.rest);
      double t, g;
      while (in >> t >> g) points.push_back(PCMScalePoint{float(t), float(g)});
      if (points.empty() || !in.eof()) return 0;
      gain = copy_pcm_scale(points);
      return 1;
    }
    if (l.verb == "project-save") {
      if (l.rest.empty() || !list) return 0;
      EClip p = project_of_list();
      p.file_name = l.rest;
      return p.save(l.rest.c_str()) == 0 ? 1 : 0;
    }
    if (l.verb == "project-load" || l.verb == "rec-load") {
      if (l.rest.empty()) return 0;
      char buf[160];
      if (l.verb == "project-load") {
        EClip p;
        if (p.init(l.rest.c_str(), 0) != 0 || p.clips.empty()) return 0;
        replace_list(p);
        std::snprintf(buf, sizeof buf, "gain points=%d\n", int(gain.size()));
        *extra = buf;
        return 1;
      }
      EditorRecordData r;
      if (r.load(l.rest.c_str()) != 0) return 0;
      replace_list(r.project);
      std::snprintf(buf, sizeof buf, "gain points=%d\nvideo mpeg2=%d width=%d height=%d bit_rate=%d frame_rate=%.6f\n",
                    int(gain.size()), r.video.mpeg2_format, r.video.width, r.video.height, r.video.bit_rate,
                    r.video.frame_rate);
      *extra = buf;
      return 1;
    }
    if (l.verb == "rec-save") {
      if (l.rest.empty() || !list) return 0;
      EditorRecordData r;
      r.set_project(project_of_list());
      r.second_file_name = l.rest + ".mpg";
      return r.save(l.rest.c_str(), "tamsel-dev cliplist") == 0 ? 1 : 0;
    }
    return -1;
  }
};

int run_cliplist(int argc, char** argv) {
  if (argc != 3 || std::strcmp(argv[1], "--script") != 0) return dev_usage("cliplist", "give --script OPS");
  FILE* f = std::strcmp(argv[2], "-") == 0 ? stdin : std::fopen(argv[2], "r");
  if (!f) return dev_fail("cliplist: <%s>: cannot open to read", argv[2]);
  Session s;
  std::string text;
  int n = 0;
  int status = 0;
  while (read_text_line(f, &text)) {
    if (text.find_first_not_of(" \t") == std::string::npos || text[text.find_first_not_of(" \t")] == '#') continue;
    const Line l = split(text, 3);
    std::string extra;
    const int r = s.run(l, &extra);
    if (r < 0) {
      std::fprintf(stderr, "tamsel-dev: cliplist: line %d: unknown operation \"%s\"\n", n + 1, l.verb.c_str());
      status = 2;
      break;
    }
    std::printf("op n=%d verb=%s result=%d\n", n++, l.verb.c_str(), r);
    std::fputs(extra.c_str(), stdout);
    print_list(s.list);
  }
  if (f != stdin) std::fclose(f);
  return status;
}

}  // namespace

TAMSEL_DEV_COMMAND(cliplist, "--script OPS", "edits a working clip list by a script of operations", run_cliplist);

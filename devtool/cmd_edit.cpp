// edit FILE [--size full|half|quarter] --script OPS [--out OUT.yuv]: an
// editor on FILE (movie, clip-list or project) runs one operation a line,
// in edit frames: cut S N, copy S N, paste POS, insert FILE START COUNT POS
// (0 0: whole file), transition POS EFFECT LENGTH, untransition POS,
// overlay EFFECT POS LENGTH, snapshot NAME, replace NAME, show N...,
// step FROM TO, time SECONDS, record OUT KIND START COUNT (KIND a number or
// es, mpeg1, vcd, ps, svcd, dvd, ts), project FILE,
// load FILE, image FILE KIND, trim-range START COUNT, rec-save FILE,
// rec-load FILE (a save project's clips replace the movie), play FROM TO
// OUT.wav (frames FROM..TO stepped as playback does, their sound written
// through the sound output into OUT.wav). After each:
//   op n=K verb=OP result=N
//   frame n=N clip=N width=N height=N            (show, step: per frame written)
//   time seconds=R frame=N timecode=HH:MM:SS:FF  (time)
//   record kind=N result=ok|failed               (record)
//   trim start=N count=N file=PATH | trim none   (trim-range)
//   play frames=N samples=N rate=N channels=N first_time=R  (play)
//   clip ... / overlay ... lines of the list
//   total clips=N frames=N current=N
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "devtool/command.h"
#include "devtool/frame_access.h"
#include "devtool/stream_option.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/cliplist_file.h"
#include "engine/clips/project.h"
#include "engine/editor_record.h"
#include "engine/mpeg_editor.h"
#include "picture/frame.h"
#include "record/save_request.h"
#include "platform/dsaudio.h"
#include "platform/wav_sink.h"

namespace {

struct Line {
  std::string verb;
  std::vector<std::string> words;  // after the verb
};

Line parse_line(const std::string& text) {
  Line l;
  std::istringstream in(text);
  in >> l.verb;
  for (std::string w; in >> w;) l.words.push_back(w);
  return l;
}

bool num(const std::string& w, long long* v) { return dev_parse_int(w.c_str(), v); }

void print_list(const MPEG_Clip* list) {
  int k = 0;
  for (const MPEG_Clip* c = list; c; c = c->next, ++k) {
    std::printf(
        "clip index=%d type=%d start=%d count=%d edit_position=%d effect=%d transition=%d full=%d offset=%d "
        "overlays=%d audio_id=%d file=%s\n",
        k, c->clip_type, c->start, c->count, c->edit_position, c->transition_id, c->transition_length,
        c->transition_full(), c->transition_offset(), int(c->overlays.size()), c->audio_stream_id,
        c->has_file ? c->file_name.c_str() : "");
    for (const OverlayClip& o : c->overlays)
      std::printf("overlay clip=%d kind=%d effect=%d position=%d length=%d span=%d offset=%d\n", k, o.kind,
                  o.effect_id, o.position, o.length, o.effect_span, o.effect_offset);
  }
}

// Writes the picture shown at display size as planar YUV.
bool emit(MPEG_Editor& ed, FILE* out) {
  DTamsel* e = ed.engine();
  Frame* fr = e->get_dtv_screen();
  if (!fr) return false;
  const bool ok = !out || frame_write_planar(fr, out);
  std::printf("frame n=%d clip=%d width=%d height=%d\n", e->get_curr_frame_offset(), e->get_current_clip_index(),
              fr->get_width(), fr->get_height());
  return ok;
}

std::unique_ptr<EClip> project_of_file(const std::string& file, int start, int count) {
  MPEG_Clip* c = mpeg_clip_of_file(file.c_str(), start, count);
  if (!c) return nullptr;
  std::unique_ptr<EClip> p(mpeg_clip_2_eclip(c));
  mpeg_clip_list_free(c);
  return p;
}

// Playback as the window's thread runs it: each frame is shown, then sound
// is queued until it reaches the next frame's time. Samples per channel
// written, -1 when the output cannot be made.
long long play(DTamsel* e, int from, int to, const std::string& out_name) {
  WavFileAudioSink sink(out_name.c_str());
  // What the movie holds, untouched by the listener's settings.
  audio_volume = 80;
  audio_channel_left = 1;
  audio_channel_right = 1;
  DSAudio ds(&sink);
  int error = 1;
  ds.open(e->get_sample_rate(), e->get_channels(), 16, &error);
  if (error) return -1;
  ds.play();
  e->search(from, 1, 0);
  int frames = 0;
  double first = -1.0, queued = e->frame_2_time(from);
  for (int f = from; f <= to; ++f) {
    if (f > from && (!e->forward(1) || e->get_curr_frame_offset() != f)) break;
    ++frames;
    const double until = e->frame_2_time(f + 1);
    while (queued < until) {
      int bytes = 0;
      double t = 0;
      const int16_t* pcm = e->get_audio_samples(&bytes, &t);
      if (!pcm || bytes <= 0) break;
      if (first < 0) first = t;
      sink.advance(ds.write(reinterpret_cast<const uint8_t*>(pcm), bytes));
      queued = t + double(bytes / 2 / e->get_channels()) / e->get_sample_rate();
    }
  }
  ds.close();
  if (!sink.finish()) return -1;
  std::printf("play frames=%d samples=%lld rate=%d channels=%d first_time=%.6f\n", frames,
              static_cast<long long>(sink.samples_written()), e->get_sample_rate(), e->get_channels(),
              first < 0 ? 0.0 : first);
  return sink.samples_written();
}

struct Session {
  std::unique_ptr<MPEG_Editor>* editor;
  MPEG_Editor* ed;
  FILE* out;
  std::unique_ptr<EClip> board;
  std::map<std::string, EClip> snapshots;
  bool write_ok = true;

  // The result of one operation; -1 for a line the command does not take.
  long long run(const Line& l) {
    const auto& w = l.words;
    long long a = 0, b = 0, c = 0;
    DTamsel* e = ed->engine();
    if ((l.verb == "cut" || l.verb == "copy") && w.size() == 2 && num(w[0], &a) && num(w[1], &b)) {
      if (l.verb == "cut") return ed->frame_cut(int(a), int(b));
      auto p = ed->frame_copy(int(a), int(b));
      if (!p) return 0;
      board = std::move(p);
      return 1;
    }
    if (l.verb == "paste" && w.size() == 1 && num(w[0], &a)) return board ? ed->frame_paste(*board, int(a)) : 0;
    if (l.verb == "insert" && w.size() >= 4 && num(w[w.size() - 3], &a) && num(w[w.size() - 2], &b) &&
        num(w[w.size() - 1], &c)) {
      std::string file = w[0];
      for (size_t k = 1; k + 3 < w.size(); ++k) file += " " + w[k];
      auto p = project_of_file(file, int(a), int(b));
      return p ? ed->frame_paste(*p, int(c)) : 0;
    }
    if (l.verb == "transition" && w.size() == 3 && num(w[0], &a) && num(w[1], &b) && num(w[2], &c))
      return ed->frame_insert_transitions(int(a), int(b), int(c));
    if (l.verb == "untransition" && w.size() == 1 && num(w[0], &a)) return ed->frame_remove_transitions(int(a));
    if (l.verb == "overlay" && w.size() == 3 && num(w[0], &a) && num(w[1], &b) && num(w[2], &c))
      return ed->frame_insert_transitions(int(b), int(a), int(c));
    if (l.verb == "snapshot" && w.size() == 1) {
      auto p = ed->frame_copy(0, 0);
      if (!p) return 0;
      snapshots[w[0]] = *p;
      return 1;
    }
    if (l.verb == "replace" && w.size() == 1) {
      auto it = snapshots.find(w[0]);
      return it == snapshots.end() ? 0 : ed->replace(it->second);
    }
    if (l.verb == "show" && !w.empty()) {
      long long shown = 0;
      for (const std::string& s : w) {
        if (!num(s, &a)) return -1;
        e->search(int(a), 0, 0);
        write_ok = emit(*ed, out) && write_ok;
        ++shown;
      }
      return shown;
    }
    if (l.verb == "step" && w.size() == 2 && num(w[0], &a) && num(w[1], &b)) {
      e->search(int(a), 0, 0);
      write_ok = emit(*ed, out) && write_ok;
      long long shown = 1;
      while (e->get_curr_frame_offset() != b) {
        const int before = e->get_curr_frame_offset();
        if (b > before ? !e->forward(1) : !e->backward(1)) break;
        if (e->get_curr_frame_offset() == before) break;
        write_ok = emit(*ed, out) && write_ok;
        ++shown;
      }
      return shown;
    }
    if (l.verb == "time" && w.size() == 1) {
      char* end = nullptr;
      const double t = std::strtod(w[0].c_str(), &end);
      if (!end || *end) return -1;
      const int f = e->time_2_frame(t);
      std::string tc;
      e->get_frame_offset_timecode(f, &tc);
      std::printf("time seconds=%.6f frame=%d timecode=%s\n", e->frame_2_time(f), f, tc.c_str());
      return f;
    }
    if (l.verb == "record" && w.size() == 4 && num(w[2], &b) && num(w[3], &c)) {
      // KIND by number or by name (svcd and dvd: program streams so flagged).
      const auto named = output_kind_named(w[1]);
      if (!named && !num(w[1], &a)) return -1;
      const OutputProfile profile = named ? output_profile(*named) : OutputProfile{};
      if (named) a = profile.mux_type;
      ed->engine()->set_svcd_flag(profile.svcd ? 1 : 0);
      ed->engine()->set_dvd_flag(profile.nav_packs ? 1 : 0);
      int progress = 0;
      const int r = ed->frame_record_range(w[0].c_str(), int(a), int(b), int(c), &progress);
      std::printf("record kind=%lld result=%s\n", a, r ? "ok" : "failed");
      return r;
    }
    if (l.verb == "project" && w.size() == 1) {
      auto p = ed->frame_copy(0, 0);
      return p && p->save(w[0].c_str()) == 0 ? 1 : 0;
    }
    if (l.verb == "load" && w.size() == 1) {
      EClip p;
      if (p.init(w[0].c_str(), 0) != 0) return 0;
      return ed->replace(p);
    }
    if (l.verb == "rec-save" && w.size() == 1) {
      EditorRecordData rec;
      editor_record_set_editor(&rec, ed);
      rec.second_file_name = w[0] + ".mpg";
      return rec.save(w[0].c_str(), "edit") == 0 ? 1 : 0;
    }
    if (l.verb == "rec-load" && w.size() == 1) {
      EditorRecordData rec;
      return editor_record_load(&rec, w[0].c_str(), editor, 0) == 0 ? 1 : 0;
    }
    if (l.verb == "image" && w.size() == 2 && num(w[1], &a)) return ed->save_image(w[0].c_str(), int(a), 90);
    if (l.verb == "play" && w.size() == 3 && num(w[0], &a) && num(w[1], &b)) {
      const long long n = play(e, int(a), int(b), w[2]);
      if (n < 0) write_ok = false;
      return n < 0 ? 0 : n;
    }
    if (l.verb == "trim-range" && w.size() == 2 && num(w[0], &a) && num(w[1], &b)) {
      int s = int(a), n = int(b);
      const char* file = ed->get_trim_range(&s, &n);
      if (file) std::printf("trim start=%d count=%d file=%s\n", s, n, file);
      else std::printf("trim none\n");
      return file ? 1 : 0;
    }
    return -1;
  }
};

int run_edit(int argc, char** argv) {
  std::string file, script, out_name;
  int size_mode = 0;
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if ((a == "--size" || a == "--script" || a == "--out") && k + 1 < argc) {
      const std::string v = argv[++k];
      if (a == "--script") script = v;
      else if (a == "--out") out_name = v;
      else if (v == "full" || v == "half" || v == "quarter") size_mode = v == "full" ? 0 : v == "half" ? 1 : 2;
      else return dev_usage("edit", "unknown size '%s'", v.c_str());
    } else if (a.rfind("--", 0) == 0) {
      return dev_usage("edit", "unknown option '%s'", a.c_str());
    } else if (file.empty()) {
      file = a;
    } else {
      return dev_usage("edit", "more than one FILE");
    }
  }
  if (file.empty() || script.empty()) return dev_usage("edit", "FILE and --script OPS are needed");
  std::ifstream ops(script);
  if (!ops) return dev_fail("<%s>: cannot read", script.c_str());
  EngineError error;
  std::unique_ptr<MPEG_Editor> editor = MPEG_Editor::create(file.c_str(), size_mode, 0, 0, &error);
  if (!editor) return dev_fail("<%s>: cannot open as a movie, clip list or project (%s)", file.c_str(),
                               error.message.c_str());
  MPEG_Editor& ed = *editor;
  FILE* out = nullptr;
  if (!out_name.empty()) {
    if (editor_output_is_source(out_name.c_str(), ed.engine()->get_clip_list()))
      return dev_fail("<%s>: is a source of the movie", out_name.c_str());
    out = std::fopen(out_name.c_str(), "wb");
    if (!out) return dev_fail("<%s>: cannot open to write", out_name.c_str());
  }
  Session s{&editor, &ed, out, nullptr, {}, true};
  int n = 0, rc = 0;
  for (std::string text; std::getline(ops, text);) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    const Line l = parse_line(text);
    if (l.verb.empty() || l.verb[0] == '#') continue;
    const long long r = s.run(l);
    if (r < 0) {
      std::fprintf(stderr, "tamsel-dev: edit: line \"%s\": unknown or malformed operation\n", text.c_str());
      rc = 2;
      break;
    }
    std::printf("op n=%d verb=%s result=%lld\n", n++, l.verb.c_str(), r);
    print_list(ed.engine()->get_clip_list());
    std::printf("total clips=%d frames=%d current=%d\n", ed.get_clip_count(), ed.get_total_frames(),
                ed.get_curr_frame_offset());
  }
  if (out && std::fclose(out) != 0) s.write_ok = false;
  if (!s.write_ok) return dev_fail("<%s>: write failed", out_name.c_str());
  return rc;
}

}  // namespace

TAMSEL_DEV_COMMAND(edit, "FILE [--size full|half|quarter] --script OPS [--out OUT.yuv]",
                   "runs editor operations (cut, copy, paste, insert, transitions, show, step...) on a movie",
                   run_edit);

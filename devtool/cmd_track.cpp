// tamsel-dev track: builds an audio track from a file or project, runs edit
// operations on it (times in seconds) and prints its clips; with --out the
// track is played from 0 through the sound output into a WAVE file.
//   op n=K verb=OP result=N                   (after each operation)
//   clip index=N type=N start=N count=N start_time=R length=R audio=0|1 file=PATH
//   record result=ok|failed|cancelled frames=N (before the op line of a record)
//   track length=R clips=N
//   render samples=N rate=N channels=N        (with --out)
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "audio/track/audio_editor.h"
#include "devtool/command.h"
#include "platform/dsaudio.h"
#include "platform/wav_sink.h"

namespace {

bool number(const std::string& s, double* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  *v = std::strtod(s.c_str(), &end);
  return end && *end == 0;
}

std::vector<std::vector<std::string>> parse_script(const std::string& text) {
  std::vector<std::vector<std::string>> ops;
  std::string one;
  std::stringstream all(text);
  while (std::getline(all, one, ';')) {
    std::stringstream words(one);
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    if (!w.empty()) ops.push_back(w);
  }
  return ops;
}

// Runs one operation; -1 when it does not fit the grammar.
int run_op(AudioEditor* ed, const std::vector<std::string>& w, std::unique_ptr<EClip>* clipboard,
           std::map<std::string, EClip>* snapshots) {
  const std::string& verb = w[0];
  std::vector<double> v;
  for (size_t i = 1; i < w.size(); ++i) {
    double x = 0;
    if (number(w[i], &x)) v.push_back(x);
  }
  if ((verb == "cut" || verb == "copy") && w.size() == 3 && v.size() == 2) {
    if (verb == "cut") return ed->cut(v[0], v[1]);
    clipboard->reset(ed->copy(v[0], v[1]));
    return *clipboard ? 1 : 0;
  }
  if (verb == "paste" && (w.size() == 2 || w.size() == 4) && v.size() == w.size() - 1) {
    if (!*clipboard) return 0;
    return ed->paste(**clipboard, v[0], v.size() > 1 ? int(v[1]) : 0, v.size() > 2 ? v[2] : 0.0);
  }
  if (verb == "insert" && (w.size() == 3 || w.size() == 5)) {
    std::vector<double> n;
    for (size_t i = 2; i < w.size(); ++i) {
      double x = 0;
      if (!number(w[i], &x)) return -1;
      n.push_back(x);
    }
    EClip piece;
    if (AudioEditor::load_project(w[1].c_str(), &piece) != 0) return 0;
    return ed->paste(piece, n[0], n.size() > 1 ? int(n[1]) : 0, n.size() > 2 ? n[2] : 0.0);
  }
  if (verb == "effect" && w.size() == 4 && v.size() == 3) return ed->add_effect(v[0], int(v[1]), v[2]);
  if (verb == "remove_effects" && w.size() == 3 && v.size() == 2) return ed->remove_effects(v[0], v[1]);
  if (verb == "stream" && w.size() == 3 && v.size() == 2) return ed->set_abs_id(int(v[0]), int(v[1]));
  if (verb == "equalizer" && w.size() == 3 && v.size() == 2) {
    // One gain for every subband of the left channel, one for the right.
    double g[64];
    std::fill(g, g + 32, v[0]);
    std::fill(g + 32, g + 64, v[1]);
    return ed->get_equalizer_filters(g);
  }
  if (verb == "gain" && w.size() >= 3 && w.size() % 2 == 1 && v.size() == w.size() - 1) {
    std::vector<PCMScalePoint> pts;
    for (size_t i = 0; i + 1 < v.size(); i += 2) pts.push_back({float(v[i]), float(v[i + 1])});
    ed->set_pcm_scale(pts);
    return 1;
  }
  if (verb == "snapshot" && w.size() == 2) {
    std::unique_ptr<EClip> all(ed->copy(0.0, ed->get_length()));
    if (!all) return 0;
    all->pcm_scale = ed->track()->get_pcm_scale();
    (*snapshots)[w[1]] = *all;
    return 1;
  }
  if (verb == "replace" && w.size() == 2) {
    auto it = snapshots->find(w[1]);
    if (it == snapshots->end()) return 0;
    if (!ed->replace(it->second)) return 0;
    ed->set_pcm_scale(it->second.pcm_scale);
    return 1;
  }
  if (verb == "record" && (w.size() == 8 || w.size() == 11)) {
    std::vector<double> n;
    for (size_t i = 2; i < w.size(); ++i) {
      if (w[i] == "--cancel-at" && i == 8) continue;
      double x = 0;
      if (!number(w[i], &x)) return -1;
      n.push_back(x);
    }
    AudioRecordSettings s;
    s.layer = int(n[0]);
    s.sample_rate = int(n[1]);
    s.channels = int(n[2]);
    s.bit_rate = int(n[3]);
    JobControl control;
    if (n.size() == 8) {
      const double at = n[6];
      const int code = int(n[7]);
      // The audio save's cancel codes: -1 removes the output, any other
      // negative one keeps it.
      control.set_progress_callback([&control, at, code](double pct) {
        if (pct >= at && pct < 100.0 && code < 0) control.stop(code != -1);
      });
    }
    int64_t frames = 0;
    const int r = ed->record(w[1].c_str(), s, n[4], n[5], &control, &frames);
    std::printf("record result=%s frames=%lld\n", r == kRecordOk ? "ok" : r == kRecordCancelled ? "cancelled" : "failed",
                static_cast<long long>(frames));
    return r == kRecordOk ? 1 : 0;
  }
  return -1;
}

int render(AudioEditor* ed, const char* out) {
  DATrack* t = ed->track();
  const int rate = t->get_rate(), channels = t->get_channels();
  WavFileAudioSink sink(out);
  DSAudio ds(&sink);
  int error = 1;
  ds.open(rate, channels, 16, &error);
  if (error) return dev_fail("<%s>: cannot open the sound output", out);
  ds.play();
  t->seek(0.0);
  int64_t left = t->total_samples();
  while (left > 0) {
    int n = 0;
    const int16_t* pcm = t->get_pcm(int(std::min<int64_t>(left, int64_t(channels) * 1152)), &n);
    if (!pcm || n <= 0) break;
    const int bytes = ds.write(reinterpret_cast<const uint8_t*>(pcm), n * 2);
    // The sink plays what was queued, so the ring never fills.
    sink.advance(bytes);
    left -= n;
  }
  ds.close();
  if (!sink.finish()) return dev_fail("<%s>: write failed", out);
  std::printf("render samples=%lld rate=%d channels=%d\n", static_cast<long long>(sink.samples_written()), rate,
              channels);
  return 0;
}

}  // namespace

static int run_track(int argc, char** argv) {
  if (argc < 2) return dev_bad_count("track", argc);
  const char* file = argv[1];
  int rate = 0, channels = 0, volume = 80;
  std::string script, listen = "both";
  const char* out = nullptr;
  // Every option takes one value.
  for (int i = 2; i < argc; i += 2) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return dev_usage("track", "%s needs a value", a.c_str());
    long long v = 0;
    if (a == "--rate" || a == "--channels" || a == "--volume") {
      if (!dev_parse_int(argv[i + 1], &v)) return dev_usage("track", "%s takes a number", a.c_str());
      (a == "--rate" ? rate : a == "--channels" ? channels : volume) = int(v);
    } else if (a == "--script") {
      script = argv[i + 1];
    } else if (a == "--out") {
      out = argv[i + 1];
    } else if (a == "--listen") {
      listen = argv[i + 1];
      if (listen != "both" && listen != "left" && listen != "right")
        return dev_usage("track", "--listen takes both, left or right");
    } else {
      return dev_usage("track", "unknown option %s", a.c_str());
    }
  }
  AudioEditor ed;
  int error = 1;
  ed.create(file, &error, rate, channels);
  if (error) return dev_fail("<%s>: no audio track", file);
  std::unique_ptr<EClip> clipboard;
  std::map<std::string, EClip> snapshots;
  int k = 0;
  for (const auto& w : parse_script(script)) {
    const int r = run_op(&ed, w, &clipboard, &snapshots);
    if (r < 0) return dev_usage("track", "bad operation '%s'", w[0].c_str());
    std::printf("op n=%d verb=%s result=%d\n", ++k, w[0].c_str(), r);
  }
  DATrack* t = ed.track();
  int n = 0;
  for (const MPEG_Clip* c = t->list(); c; c = c->next, ++n) {
    const TrackClipFacts& f = t->facts(c);
    std::printf("clip index=%d type=%d start=%d count=%d start_time=%.6f length=%.6f audio=%d file=%s\n", n,
                c->clip_type, c->start, c->count, t->clip_start_time(c), c->count * f.period, f.audio ? 1 : 0,
                c->get_file_name() ? c->get_file_name() : "");
  }
  std::printf("track length=%.6f clips=%d\n", t->get_total(), n);
  if (!out) return 0;
  audio_volume = volume;
  audio_channel_left = listen != "right" ? 1 : 0;
  audio_channel_right = listen != "left" ? 1 : 0;
  return render(&ed, out);
}

TAMSEL_DEV_COMMAND(track, "FILE|PROJECT [--rate R] [--channels C] [--script OPS] [--out OUT.wav] [--volume V] "
                          "[--listen both|left|right]",
                   "edits an audio track by time and renders it through the sound output", run_track);

// The editor window's rules on the engine, headless: a step key (the
// search or step, the picture copied for the window) against the plain
// forward step of the editor, how long a command waits for a running
// playback thread to end, and a minute of looped playback with its sound
// written to a WAVE file at the pace of the real clock (frames shown and
// skipped, each strip's lead on its beep in the first pass, the longest
// time the window's thread was busy, the resident memory). Movies come
// from the fixtures folder (TAMSEL_FIXTURES, default build/fixtures).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <vector>
#include <memory>
#include <string>
#include <thread>

#include "app/editor/player_view.h"
#include "app/shell/editor_settings.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "platform/paced_wav_sink.h"
#include "platform/services.h"

namespace {

std::string fixture(const char* name) {
  const char* dir = std::getenv("TAMSEL_FIXTURES");
  return std::string(dir && *dir ? dir : "build/fixtures") + "/" + name;
}

std::unique_ptr<IEditor> open(benchmark::State& state, const char* name) {
  auto e = MpegEditorAdapter::open(fixture(name), 0);
  if (!e) state.SkipWithError("cannot open the movie (run tests/fixtures/make.sh)");
  if (e) e->set_bmp_depth(24);
  return e;
}

// The editor's own forward step and picture: what a step costs at least.
void editor_forward(benchmark::State& state, const char* name) {
  auto e = open(state, name);
  if (!e) return;
  const int total = e->get_total_frames();
  for (auto _ : state) {
    if (e->get_curr_frame_offset() >= total - 1) e->search(0, 1);
    e->forward(1);
    benchmark::DoNotOptimize(e->get_decoded_image_dib_data());
  }
}

// The L key through the view: command entry, step, picture to the slot.
void step_key(benchmark::State& state, const char* name) {
  auto e = open(state, name);
  if (!e) return;
  EditorSettings settings;
  CQuarvelPlayerView view(&settings);
  view.attach_editor(e.get(), 1);
  for (auto _ : state) {
    view.key_down('L');  // wraps to the start at the end
    run_posted();
  }
  view.detach_editor();
}

// A command given while the playback thread runs: the time until it ran.
void stop_latency(benchmark::State& state, const char* name) {
  auto e = open(state, name);
  if (!e) return;
  EditorSettings settings;
  CQuarvelPlayerView view(&settings);
  view.attach_editor(e.get(), 1);
  double worst = 0;
  for (auto _ : state) {
    state.PauseTiming();
    view.post_command(kCodeGoto, 0);
    view.run_command(pcmd::kPlayForward);
    for (int i = 0; i < 10; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      run_posted();
    }
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    view.key_down('H');
    while (view.command_pending()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      view.on_retry_timer();
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    worst = std::max(worst, ms);
    run_posted();
  }
  state.SetLabel("worst " + std::to_string(worst) + " ms");
  view.detach_editor();
}

// A WAVE sink at the real clock's pace that keeps what was heard and when
// its first byte was.
struct Heard {
  int64_t start_ms = -1;
  std::vector<uint8_t> bytes;  // the first seconds
};

class HeardSink : public PacedWavSink {
 public:
  HeardSink(std::string path, Clock* clock, Heard* out) : PacedWavSink(std::move(path), clock), clock_(clock), out_(out) {}
  void start() override {
    if (out_->start_ms < 0) out_->start_ms = clock_->now_ms();
    PacedWavSink::start();
  }

 protected:
  void heard(const uint8_t* b, int n) override {
    PacedWavSink::heard(b, n);
    if (out_->bytes.size() < 48000 * 4 * 4) out_->bytes.insert(out_->bytes.end(), b, b + n);
  }

 private:
  Clock* clock_;
  Heard* out_;
};

long resident_kib() {
  std::ifstream f("/proc/self/status");
  std::string key;
  long v = 0;
  while (f >> key) {
    if (key == "VmRSS:") {
      f >> v;
      return v;
    }
    f.ignore(1 << 16, '\n');
  }
  return 0;
}

struct Shown {
  int64_t ms;
  int number;
  bool strip;
};

// The fixture's frame number and strip in the slot's 24-bit picture.
Shown read_slot(const FrameSlot& slot, int64_t ms) {
  const FrameSlot::Picture pic = slot.get();
  Shown s{ms, -1, false};
  if (!pic.valid || pic.header.header.biBitCount != 24) return s;
  const int w = pic.header.header.biWidth, h = std::abs(pic.header.header.biHeight), u = std::max(1, w / 352);
  const int stride = bmp_get_bytes_per_line(24, w);
  auto luma = [&](int x, int y) {
    const uint8_t* p = pic.bits.data() + size_t(h - 1 - y) * size_t(stride) + size_t(3 * x);
    return (p[0] + p[1] + p[2]) / 3;
  };
  s.strip = luma(w / 2, h - 16 * u) > 200;
  s.number = 0;
  for (int i = 0; i < 16; ++i)
    if (luma((16 + 20 * i + 8) * u, 48 * u) > 170) s.number |= 1 << i;
  return s;
}

struct ShowHost : PlayerViewHost {
  const FrameSlot* slot = nullptr;
  Clock* clock = nullptr;
  std::vector<Shown> shown;
  void frame_ready() override { shown.push_back(read_slot(*slot, clock->now_ms())); }
};

// Movies of a minute and more when TAMSEL_LONG_MOVIES names their folder
// (long_sd.mpg, long_hd.mpg; bench/ui_editor.sh makes them), else the
// short fixtures looped.
void play_a_minute(benchmark::State& state, const char* kind) {
  const char* long_dir = std::getenv("TAMSEL_LONG_MOVIES");
  const std::string path = long_dir && *long_dir ? std::string(long_dir) + "/long_" + kind + ".mpg"
                                                 : fixture(("ui_" + std::string(kind) + ".mpg").c_str());
  auto e = MpegEditorAdapter::open(path, 0);
  if (!e) {
    state.SkipWithError("cannot open the movie");
    return;
  }
  e->set_bmp_depth(24);
  Clock* clock = platform().clock;
  EditorSettings settings;
  settings.video_looping = 1;
  ShowHost host;
  host.clock = clock;
  CQuarvelPlayerView view(&settings, &host);
  host.slot = &view.frame_slot();
  Heard heard;
  const std::string wav = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/ui_editor_bench.wav";
  view.set_audio_sink_factory([&]() -> std::unique_ptr<AudioSink> {
    return std::make_unique<HeardSink>(wav, clock, &heard);
  });
  view.attach_editor(e.get(), 1);
  const double rate = e->get_frame_rate();
  for (auto _ : state) {
    double busy = 0;
    host.shown.clear();
    const auto t0 = std::chrono::steady_clock::now();
    view.run_command(pcmd::kPlayForward);
    while (std::chrono::steady_clock::now() - t0 < std::chrono::seconds(60)) {
      const auto a = std::chrono::steady_clock::now();
      run_posted();
      busy = std::max(busy, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a).count());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const long rss = resident_kib();
    const auto a = std::chrono::steady_clock::now();
    view.run_command(pcmd::kPlayForward);  // stop
    const double stop = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a).count();
    while (view.command_pending()) view.on_retry_timer();
    // Frames: each shown picture the next of the last, or the first again
    // (a repeat is two notices read after one later picture: the window
    // paints the latest).
    // Frames skipped right after a wrap to the start are counted apart: the
    // restart shows the first frame without the picture's lead, which the
    // next step takes back.
    int skipped = 0, repeated = 0, wraps = 0, at_wraps = 0;
    size_t wrapped_at = 0;
    std::string skips;  // where, with the gap before the picture after it
    for (size_t i = 1; i < host.shown.size(); ++i) {
      const int d = host.shown[i].number - host.shown[i - 1].number;
      if (d < 0) {
        ++wraps;
        wrapped_at = i;
      } else if (d == 0) {
        ++repeated;
      } else if (d > 1) {
        const bool at_wrap = wraps && i <= wrapped_at + 2;
        (at_wrap ? at_wraps : skipped) += d - 1;
        if (!at_wrap && skips.size() < 60)
          skips += " " + std::to_string(host.shown[i].number) + "/" +
                   std::to_string(host.shown[i].ms - host.shown[i - 1].ms) + "ms";
      }
    }
    // Strips of the first pass against their beeps (heard from start_ms).
    double lead_min = 1e9, lead_max = -1e9;
    std::vector<double> onsets;
    {
      size_t quiet = 0;
      for (size_t i = 0; i + 1 < heard.bytes.size() / 4; ++i) {
        const int v = int16_t(heard.bytes[4 * i] | heard.bytes[4 * i + 1] << 8);
        if (std::abs(v) > 3000) {
          if (quiet > 480) onsets.push_back(double(heard.start_ms) + double(i) / 48.0);
          quiet = 0;
        } else {
          ++quiet;
        }
      }
    }
    int strips = 0;
    for (size_t i = 0; i < host.shown.size() && host.shown[i].number >= 0; ++i) {
      if (i > 0 && host.shown[i].number < host.shown[i - 1].number) break;  // first pass only
      if (!host.shown[i].strip || onsets.empty()) continue;
      const size_t k = size_t(std::lround(host.shown[i].number / rate));
      if (k >= onsets.size()) break;
      // The codec's delay (the first beep's, at time 0) is the sound's own.
      const double beep = onsets[k] - (onsets[0] - double(heard.start_ms));
      const double lead = beep - double(host.shown[i].ms);
      lead_min = std::min(lead_min, lead);
      lead_max = std::max(lead_max, lead);
      ++strips;
    }
    char label[256];
    std::snprintf(label, sizeof label,
                  "shown %zu skipped %d repeated %d wraps %d skipped-at-wraps %d strips %d lead %.1f..%.1f ms posts %.1f ms "
                  "stop %.1f ms rss %ld MiB",
                  host.shown.size(), skipped, repeated, wraps, at_wraps, strips, strips ? lead_min : 0.0, strips ? lead_max : 0.0,
                  busy, stop, rss / 1024);
    state.SetLabel(label + (skips.empty() ? std::string() : " skips at" + skips));
    run_posted();
  }
  view.detach_editor();
  std::remove(wav.c_str());
}

BENCHMARK_CAPTURE(editor_forward, sd, "ui_sd.mpg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(step_key, sd, "ui_sd.mpg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(editor_forward, hd, "ui_hd.mpg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(step_key, hd, "ui_hd.mpg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(stop_latency, sd, "ui_sd.mpg")->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK_CAPTURE(play_a_minute, sd, "sd")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(play_a_minute, hd, "hd")->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

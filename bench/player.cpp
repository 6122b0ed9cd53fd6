// The editor window's rules on the engine, headless: a step key (the
// search or step, the picture copied for the window) against the plain
// forward step of the editor, and how long a command waits for a running
// playback thread to end. Movies come from the fixtures folder
// (TAMSEL_FIXTURES, default build/fixtures).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/editor/player_view.h"
#include "app/shell/editor_settings.h"
#include "app/shell/mpeg_editor_adapter.h"
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

BENCHMARK_CAPTURE(editor_forward, sd, "ui_sd.mpg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(step_key, sd, "ui_sd.mpg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(editor_forward, hd, "ui_hd.mpg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(step_key, hd, "ui_hd.mpg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(stop_latency, sd, "ui_sd.mpg")->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

// The editor's Cut, Undo and Redo on a long track, each as the window runs
// it on the user-interface thread (snapshot, edit, marks, seek), against
// the bare engine edit of the same range. Set TAMSEL_BENCH_TRACK to a long
// MPEG audio file (bench/audio_edit.sh).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "app/audio/audio_edit.h"
#include "audio/track/audio_editor.h"
#include "platform/fakes.h"

namespace {

std::string track() {
  const char* t = std::getenv("TAMSEL_BENCH_TRACK");
  return t ? t : "";
}

struct Window {
  FakePlatform fake;
  std::unique_ptr<AudioPlayer> p;
  std::unique_ptr<AudioEditCommands> ed;
  bool open() {
    AudioPlayer::Deps d;
    d.clock = &fake.clock;
    d.make_sink = [] { return std::make_unique<FakeAudioSink>(); };
    p = std::make_unique<AudioPlayer>(std::move(d));
    p->OpenTrack(track());
    if (!p->has_track()) return false;
    p->StopPlay();
    p->EnterEditor();
    ed = std::make_unique<AudioEditCommands>(p.get());
    return true;
  }
  void mark() {
    p->Seek(400);
    ed->MarkIn();
    p->Seek(410);
    ed->MarkOut();
  }
};

// command 0: Cut (undone outside the timing); 1: Undo of a cut; 2: Redo.
void edit(benchmark::State& state, int command) {
  Window w;
  if (!w.open()) {
    state.SkipWithError("no track (TAMSEL_BENCH_TRACK)");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    w.mark();
    if (command >= 1) w.ed->ExecuteAudioEditCommand(kAudioCut);
    if (command == 2) w.ed->ExecuteAudioEditCommand(kAudioUndo);
    state.ResumeTiming();
    w.ed->ExecuteAudioEditCommand(command == 0 ? kAudioCut : command == 1 ? kAudioUndo : kAudioRedo);
    state.PauseTiming();
    if (command != 1) w.ed->ExecuteAudioEditCommand(kAudioUndo);
    w.ed->ClearHistories();
    state.ResumeTiming();
  }
}

void BM_WindowCut(benchmark::State& s) { edit(s, 0); }
void BM_WindowUndo(benchmark::State& s) { edit(s, 1); }
void BM_WindowRedo(benchmark::State& s) { edit(s, 2); }

// The engine alone: the same cut, put back by replace outside the timing.
void BM_EngineCut(benchmark::State& state) {
  AudioEditor e;
  int error = 1;
  e.create(track().c_str(), &error, 0, 0);
  if (error) {
    state.SkipWithError("no track (TAMSEL_BENCH_TRACK)");
    return;
  }
  const double unit = e.get_length() / 1000;
  std::unique_ptr<EClip> whole(e.copy(0, 0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(e.cut(400 * unit, 11 * unit));
    state.PauseTiming();
    e.replace(*whole);
    state.ResumeTiming();
  }
}

BENCHMARK(BM_WindowCut)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowUndo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowRedo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineCut)->Unit(benchmark::kMillisecond);

}  // namespace

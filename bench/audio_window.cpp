// The audio window's timer tick against the decode it drives: one tick of
// a 48 kHz track (its frames decoded and written to the ring) with the
// equalizer off and on, and the bare decode of the same frames. Set
// TAMSEL_BENCH_TRACK to a 48 kHz MPEG audio file (bench/audio_window.sh).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "app/audio/audio_player.h"
#include "audio/track/audio_editor.h"
#include "platform/fakes.h"

namespace {

std::string track() {
  const char* t = std::getenv("TAMSEL_BENCH_TRACK");
  return t ? t : "";
}

void tick(benchmark::State& state, bool equalizer) {
  FakePlatform fake;
  AudioPlayer::Deps d;
  d.clock = &fake.clock;
  d.make_sink = [] { return std::make_unique<FakeAudioSink>(); };
  AudioPlayer p(std::move(d));
  if (equalizer) p.equalizer.gains[3] = 20;
  p.AddFileToPlayList(track(), nullptr);
  p.set_loop(LoopMode::One);
  if (p.OpenPlayTrack(0, true, false) != 1) {
    state.SkipWithError("no track (TAMSEL_BENCH_TRACK)");
    return;
  }
  auto* sink = static_cast<FakeAudioSink*>(p.sink());
  const int per_tick = sink->rate() * sink->channels() * 2 / 10;
  for (auto _ : state) {
    state.PauseTiming();
    fake.clock.advance(100);
    sink->advance(per_tick);
    sink->played.clear();
    state.ResumeTiming();
    p.PlayTick();
  }
}

void BM_TickEqualizerOff(benchmark::State& s) { tick(s, false); }
void BM_TickEqualizerOn(benchmark::State& s) { tick(s, true); }

// What a tick asks of the engine: 100 ms of frames decoded.
void BM_DecodeTickFrames(benchmark::State& state) {
  AudioEditor e;
  int error = 0;
  e.create(track().c_str(), &error, 0, 0);
  if (error) {
    state.SkipWithError("no track (TAMSEL_BENCH_TRACK)");
    return;
  }
  const int frames = int(0.1 * e.get_output_sample_rate() / 1152 + 0.5);
  for (auto _ : state) {
    for (int k = 0; k < frames; ++k) {
      int count = 0;
      if (!e.get_pcm(&count) || count < 1) {
        state.PauseTiming();
        e.goto_offset(0);
        state.ResumeTiming();
      }
    }
  }
}

BENCHMARK(BM_TickEqualizerOff)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TickEqualizerOn)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeTickFrames)->Unit(benchmark::kMicrosecond);

}  // namespace

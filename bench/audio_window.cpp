// The audio window's model on the UI thread against the engine it drives:
// one tick of a 48 kHz track (its frames decoded and written to the ring)
// with the equalizer off and on, and the bare decode of the same frames;
// the longest tick while playing with the equalizer on; adding a long file
// until its first bytes are heard; a seek until the new place is heard;
// five minutes played into a WAVE file, alone and under a resize drag's
// load on the UI thread, compared with a reference decode (the real window
// resized under Xvfb is bench/audio_window_resize.sh). Files come from
// TAMSEL_BENCH_TRACK (48 kHz), TAMSEL_BENCH_LONG, TAMSEL_BENCH_FIVE,
// TAMSEL_BENCH_FIVE_REF (raw s16le) and TAMSEL_BENCH_FIVE_OUT (the WAVE
// file written) (bench/audio_window.sh).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "app/audio/audio_player.h"
#include "audio/track/audio_editor.h"
#include "platform/fakes.h"
#include "platform/paced_wav_sink.h"

namespace {

std::string env(const char* name) {
  const char* t = std::getenv(name);
  return t ? t : "";
}
std::string track() { return env("TAMSEL_BENCH_TRACK"); }

double ms_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

AudioPlayer::Deps fake_deps(FakePlatform& fake) {
  AudioPlayer::Deps d;
  d.clock = &fake.clock;
  d.make_sink = [] { return std::make_unique<FakeAudioSink>(); };
  return d;
}

// The 48 kHz track opened and playing, looped, the equalizer on or off.
bool start_track(benchmark::State& state, AudioPlayer& p, bool equalizer) {
  if (equalizer) {
    p.equalizer.gains[3] = 20;
    p.equalizer.gains[40] = 4;
  }
  p.AddFileToPlayList(track(), nullptr);
  p.set_loop(LoopMode::One);
  if (p.OpenPlayTrack(0, true, false) == 1) return true;
  state.SkipWithError("no track (TAMSEL_BENCH_TRACK)");
  return false;
}

void tick(benchmark::State& state, bool equalizer) {
  FakePlatform fake;
  AudioPlayer p(fake_deps(fake));
  if (!start_track(state, p, equalizer)) return;
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

// What a tick asks of the engine: its frames decoded.
void BM_DecodeTickFrames(benchmark::State& state) {
  AudioEditor e;
  int error = 0;
  e.create(track().c_str(), &error, 0, 0);
  // The stream the play list names, as the window opens it.
  double duration = 0;
  int ids[8] = {}, pids[8] = {};
  if (error || AudioEditor::get_audio_streams(track().c_str(), &duration, ids, pids, 8) < 1 ||
      (ids[0] && !e.set_abs_id(ids[0], pids[0]))) {
    state.SkipWithError("no track (TAMSEL_BENCH_TRACK)");
    return;
  }
  int probe = 0;
  if (!e.get_pcm(&probe) || probe < 1) {
    state.SkipWithError("the track gives no sound");
    return;
  }
  // As many as a tick asks for while the ring has room (5/5/4 at
  // 44.1/48/32 kHz).
  const unsigned period = unsigned(1152.0 / e.get_output_sample_rate() * 1000.0);
  const int frames = int((period / 2 + unsigned(AudioPlayer::kInterval)) / period) + 1;
  int64_t decoded = 0;
  for (auto _ : state) {
    for (int k = 0; k < frames; ++k) {
      // Past its end the track hands out silence: start again.
      if (e.is_end()) e.goto_offset(0);
      int count = 0;
      if (e.get_pcm(&count) && count > 0) ++decoded;
    }
  }
  state.counters["decoded"] = double(decoded);
}

// The longest the UI thread is held by one tick while a 48 kHz track plays
// with the equalizer on, over a minute of play (six passes of the track,
// each reopened at its end).
void BM_LongestTick(benchmark::State& state) {
  FakePlatform fake;
  AudioPlayer p(fake_deps(fake));
  if (!start_track(state, p, true)) return;
  double worst = 0;
  for (auto _ : state) {
    for (int i = 0; i < 600; ++i) {
      fake.clock.advance(AudioPlayer::kInterval);
      auto* sink = static_cast<FakeAudioSink*>(p.sink());
      sink->advance(sink->rate() * sink->channels() * 2 / 10);
      sink->played.clear();
      const auto t0 = std::chrono::steady_clock::now();
      p.PlayTick();
      worst = std::max(worst, ms_since(t0));
    }
  }
  state.counters["worst_ms"] = worst;
}

// Adding a long file to the list and opening it to play, until its first
// bytes reach the sink: the first time in the process and again.
void BM_AddLongAndHear(benchmark::State& state) {
  const std::string path = env("TAMSEL_BENCH_LONG");
  std::vector<double> all;
  for (auto _ : state) {
    FakePlatform fake;
    AudioPlayer p(fake_deps(fake));
    const auto t0 = std::chrono::steady_clock::now();
    const int index = p.AddFileToPlayList(path, nullptr);
    if (index < 0 || p.OpenPlayTrack(index, true, false) != 1) {
      state.SkipWithError("no track (TAMSEL_BENCH_LONG)");
      return;
    }
    auto* sink = static_cast<FakeAudioSink*>(p.sink());
    sink->advance(1152 * 2);
    const double ms = ms_since(t0);
    if (sink->played.empty()) {
      state.SkipWithError("nothing heard");
      return;
    }
    all.push_back(ms);
    state.SetIterationTime(ms / 1000);
  }
  if (all.empty()) return;
  // The first add of the process is the one a user meets: the engine keeps
  // what it learnt of a file for the later ones.
  state.counters["first_ms"] = all.front();
  std::sort(all.begin(), all.end());
  state.counters["median_ms"] = all[all.size() / 2];
}

// A seek while playing, until the sink holds the sound of the new place
// (the output's own latency is the device's, not ours).
void BM_SeekHeard(benchmark::State& state) {
  FakePlatform fake;
  AudioPlayer p(fake_deps(fake));
  if (!start_track(state, p, true)) return;
  std::mt19937 random(7);
  double worst = 0;
  for (auto _ : state) {
    auto* sink = static_cast<FakeAudioSink*>(p.sink());
    sink->played.clear();
    const int to = int(random() % 990);
    const auto t0 = std::chrono::steady_clock::now();
    p.Seek(to);
    sink->advance(1152 * 4);
    const double ms = ms_since(t0);
    if (sink->played.empty() || p.slider() != to) {
      state.SkipWithError("the seek was not heard");
      return;
    }
    worst = std::max(worst, ms);
    state.SetIterationTime(ms / 1000);
  }
  state.counters["worst_ms"] = worst;
}

std::vector<int16_t> samples_of(const std::string& path, size_t skip) {
  std::ifstream f(path, std::ios::binary);
  std::vector<char> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<int16_t> v;
  for (size_t i = skip; i + 1 < b.size(); i += 2) v.push_back(int16_t(uint8_t(b[i]) | uint8_t(b[i + 1]) << 8));
  return v;
}

double correlation_at(const std::vector<int16_t>& ref, const std::vector<int16_t>& got, size_t from, size_t n,
                      size_t lag) {
  double c = 0, a = 0, g = 0;
  for (size_t i = from; i < from + n && i < ref.size() && i + lag < got.size(); ++i) {
    c += double(ref[i]) * got[i + lag];
    a += double(ref[i]) * ref[i];
    g += double(got[i + lag]) * got[i + lag];
  }
  return a > 0 && g > 0 ? c / std::sqrt(a * g) : (a == 0 && g == 0 ? 1 : 0);
}

// Five minutes of a track played into a WAVE file at the pace of the
// window's clock, without and with a resize drag's load on the UI thread
// (each tick up to 12 ms late behind a repaint, a 300 ms relayout every
// 3 s); then each second of the file against the
// reference decode at one lag: a gap or a repeat shows as a second that
// no longer matches.
void BM_FiveMinutes(benchmark::State& state) {
  const bool stalls = state.range(0) != 0;
  const std::string in = env("TAMSEL_BENCH_FIVE");
  const std::vector<int16_t> ref = samples_of(env("TAMSEL_BENCH_FIVE_REF"), 0);
  const std::string out = env("TAMSEL_BENCH_FIVE_OUT");
  if (ref.empty() || out.empty()) {
    state.SkipWithError("no five-minute track (TAMSEL_BENCH_FIVE, _REF, _OUT)");
    return;
  }
  for (auto _ : state) {
    FakePlatform fake;
    WavFileAudioSink* wav = nullptr;
    AudioPlayer::Deps d;
    d.clock = &fake.clock;
    d.make_sink = [&] {
      auto s = std::make_unique<PacedWavSink>(out, &fake.clock);
      wav = s.get();
      return s;
    };
    {
      AudioPlayer p(std::move(d));
      p.AddFileToPlayList(in, nullptr);
      p.set_loop(LoopMode::None);
      if (p.OpenPlayTrack(0, true, false) != 1) {
        state.SkipWithError("no track (TAMSEL_BENCH_FIVE)");
        return;
      }
      // The timer as Qt runs it: due every 100 ms; a late tick does not move
      // the next one unless a whole interval was missed.
      std::mt19937 random(11);
      const int64_t total_ms = int64_t(p.length() * 1000) + 1000;
      int64_t now = 0, due = AudioPlayer::kInterval;
      while (p.playing() && now < total_ms) {
        int64_t at = due;
        if (stalls) {
          at += random() % 13;  // the repaint under way
          const int64_t in_cycle = at % 3000;
          if (in_cycle >= 1500 && in_cycle < 1800) at += 1800 - in_cycle;  // a full relayout
        }
        fake.clock.advance(at - now);
        now = at;
        p.PlayTick();
        due += AudioPlayer::kInterval;
        if (due < now) due = now + AudioPlayer::kInterval;
      }
      p.StopPlay();
      if (wav) wav->finish();
    }
    const std::vector<int16_t> got = samples_of(out, 44);
    const size_t second = 48000 * 2;
    size_t best_lag = 0;
    double best = -1;
    for (size_t lag = 0; lag <= 2 * 4096; lag += 2) {
      const double c = correlation_at(ref, got, 0, second / 4, lag);
      if (c > best) best = c, best_lag = lag;
    }
    double worst = 1;
    int bad = 0;
    for (size_t from = 0; from + second <= ref.size(); from += second) {
      const double c = correlation_at(ref, got, from, second, best_lag);
      worst = std::min(worst, c);
      if (c < 0.999) ++bad;
    }
    state.counters["worst_second_corr"] = worst;
    state.counters["seconds_off"] = bad;
    state.counters["length_diff_frames"] =
        (double(got.size()) - double(best_lag) - double(ref.size())) / 2.0 / 1152.0;
  }
}

BENCHMARK(BM_TickEqualizerOff)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TickEqualizerOn)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeTickFrames)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LongestTick)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_AddLongAndHear)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(9);
BENCHMARK(BM_SeekHeard)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(50);
BENCHMARK(BM_FiveMinutes)->Unit(benchmark::kMillisecond)->Iterations(1)->Arg(0)->Arg(1);

}  // namespace

// A scripted track for the audio window's rules: silence of a given
// length, rate and channel count, handed out in 1152-sample blocks.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/audio/audio_player.h"
#include "platform/fakes.h"

struct FakeTrackSpec {
  int rate = 44100, channels = 2;
  double length = 10.0;
  std::vector<int> ids = {0xC0};
  std::vector<int> pids = {0};
  bool opens = true;
};

class FakeTrack : public AudioTrackPort {
 public:
  explicit FakeTrack(const FakeTrackSpec& s) : s_(s), pcm_(size_t(1152 * s.channels), 100) {}
  int set_abs_id(int id, int pid) override {
    id_ = id;
    pid_ = pid;
    return 1;
  }
  double get_length() const override { return s_.length; }
  double get_time() const override { return double(pos_) / s_.rate; }
  double goto_offset(double t) override {
    pos_ = int64_t(t * s_.rate);
    return get_time();
  }
  bool is_end() const override { return double(pos_) >= s_.length * s_.rate; }
  const int16_t* get_pcm(int* count) override {
    const int64_t total = int64_t(s_.length * s_.rate);
    const int64_t n = std::min<int64_t>(1152, total - pos_);
    *count = n > 0 ? int(n) * s_.channels : 0;
    if (n <= 0) return nullptr;
    pos_ += n;
    return pcm_.data();
  }
  int get_output_sample_rate() const override { return s_.rate; }
  int get_output_channels() const override { return s_.channels; }
  int get_sample_rate() const override { return s_.rate; }
  int get_channels() const override { return s_.channels; }
  int get_bit_rate() const override { return 192000; }
  int get_equalizer_filters(const double* g) override {
    gains.assign(g, g + 64);
    return 1;
  }
  void set_format_callback(std::function<void(int)>) override {}

  // Edits change only the length; a snapshot carries it in its name.
  std::unique_ptr<EClip> copy(double start, double length) override {
    if (start < 0 || length < 0 || start + length > s_.length + 1e-9) return nullptr;
    auto e = std::make_unique<EClip>();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", start == 0 && length == 0 ? s_.length : length);
    e->name = buf;
    return e;
  }
  int cut(double start, double length) override {
    if (start < 0 || length <= 0 || start + length > s_.length + 1e-9) return 0;
    cuts.push_back({start, length});
    s_.length -= length;
    pos_ = std::min<int64_t>(pos_, int64_t(s_.length * s_.rate));
    return 1;
  }
  int replace(const EClip& project) override {
    if (project.name.empty()) return 0;
    s_.length = std::strtod(project.name.c_str(), nullptr);
    pos_ = 0;
    return 1;
  }
  int add_effect(double start, int effect, double length) override {
    effects.push_back({start, effect, length});
    return 1;
  }
  struct Effect {
    double start;
    int op;
    double length;
  };
  std::vector<Effect> effects;
  int remove_effects(double start, double) override {
    removed_at.push_back(start);
    return effects_removable ? 1 : 0;
  }
  std::function<int()> make_save(const std::string& file, const AudioRecordSettings& s, double start, double length,
                                 JobControl& control) override {
    saves.push_back({file, s, start, length});
    if (save_work) return save_work(control);
    return AudioTrackPort::make_save(file, s, start, length, control);
  }
  struct Save {
    std::string file;
    AudioRecordSettings settings;
    double start, length;
  };
  std::vector<Save> saves;
  std::function<std::function<int()>(JobControl&)> save_work;
  std::vector<std::pair<double, double>> cuts;
  std::vector<double> removed_at;
  bool effects_removable = true;
  std::vector<double> gains;
  int id_ = 0, pid_ = 0;

 private:
  FakeTrackSpec s_;
  std::vector<int16_t> pcm_;
  int64_t pos_ = 0;
};

// Files by path; a path not listed has no sound.
struct FakeFiles {
  std::map<std::string, FakeTrackSpec> files;
  std::vector<std::string> opened;
  AudioPlayer::Deps deps(Clock* clock, Random15 rnd = {}) {
    AudioPlayer::Deps d;
    d.open_track = [this](const std::string& p) -> std::unique_ptr<AudioTrackPort> {
      opened.push_back(p);
      auto it = files.find(p);
      if (it == files.end() || !it->second.opens) return nullptr;
      return std::make_unique<FakeTrack>(it->second);
    };
    d.list_streams = [this](const std::string& p, double* dur, int* ids, int* pids, int max) {
      auto it = files.find(p);
      if (it == files.end()) return 0;
      const int n = std::min(int(it->second.ids.size()), max);
      for (int k = 0; k < n; ++k) {
        ids[k] = it->second.ids[size_t(k)];
        pids[k] = k < int(it->second.pids.size()) ? it->second.pids[size_t(k)] : 0;
      }
      *dur = it->second.length;
      return n;
    };
    d.make_sink = [] { return std::make_unique<FakeAudioSink>(); };
    d.clock = clock;
    d.random = std::move(rnd);
    return d;
  }
};

// One timer tick: the sink plays 100 ms, then the window's tick runs.
inline void tick(AudioPlayer& p, FakeClock& clock) {
  clock.advance(AudioPlayer::kInterval);
  if (auto* s = dynamic_cast<ClockedAudioSink*>(p.sink())) {
    const int bytes = s->rate() * s->channels() * 2 / 10;
    s->advance(bytes);
    if (auto* f = dynamic_cast<FakeAudioSink*>(s)) f->played.clear();
  }
  if (p.playing()) p.PlayTick();
}

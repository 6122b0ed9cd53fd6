#include "app/audio/audio_track_port.h"

#include "audio/track/audio_editor.h"

namespace {

class EngineTrack : public AudioTrackPort {
 public:
  bool open(const std::string& path) {
    int error = 0;
    editor_.create(path.c_str(), &error, 0, 0);
    return error == 0 && editor_.track();
  }
  int set_abs_id(int stream_id, int pid) override { return editor_.set_abs_id(stream_id, pid); }
  double get_length() const override { return editor_.get_length(); }
  double get_time() const override { return editor_.get_time(); }
  double goto_offset(double t) override { return editor_.goto_offset(t); }
  bool is_end() const override { return editor_.is_end(); }
  const int16_t* get_pcm(int* count) override { return editor_.get_pcm(count); }
  int get_output_sample_rate() const override { return editor_.get_output_sample_rate(); }
  int get_output_channels() const override { return editor_.get_output_channels(); }
  int get_bits_per_sample() const override { return editor_.get_bits_per_sample(); }
  int get_sample_rate() const override { return editor_.get_sample_rate(); }
  int get_channels() const override { return editor_.get_channels(); }
  int get_bit_rate() const override { return editor_.get_bit_rate(); }
  int get_equalizer_filters(const double* gains) override { return editor_.get_equalizer_filters(gains); }
  void set_format_callback(std::function<void(int)> cb) override { editor_.set_format_callback(std::move(cb)); }
  std::unique_ptr<EClip> copy(double start, double length) override {
    return std::unique_ptr<EClip>(editor_.copy(start, length));
  }
  int cut(double start, double length) override { return editor_.cut(start, length); }
  int paste(const EClip& clips, double t, int effect, double seconds) override {
    return editor_.paste(clips, t, effect, seconds);
  }
  int replace(const EClip& project) override { return editor_.replace(project); }
  int add_effect(double start, int effect, double length) override { return editor_.add_effect(start, effect, length); }
  int remove_effects(double start, double length) override { return editor_.remove_effects(start, length); }
  std::function<int()> make_save(const std::string& file, const AudioRecordSettings& s, double start, double length,
                                 JobControl& control) override {
    std::shared_ptr<AudioRecordWriter> w = editor_.make_record_writer(file.c_str(), s, start, length, &control);
    if (!w) return nullptr;
    return [w] { return w->record(); };
  }

 private:
  AudioEditor editor_;
};

}  // namespace

std::unique_ptr<AudioTrackPort> open_engine_track(const std::string& path) {
  auto t = std::make_unique<EngineTrack>();
  if (!t->open(path)) return nullptr;
  return t;
}

int list_engine_streams(const std::string& path, double* duration, int* ids, int* pids, int max) {
  return AudioEditor::get_audio_streams(path.c_str(), duration, ids, pids, max);
}

#include "app/audio/audio_player.h"

#include <algorithm>
#include <cstdio>

#include "app/audio/equalizer.h"
#include "app/shell/sound_output.h"
#include "platform/services.h"

namespace {

constexpr int kMaxStreams = 32;

std::string folder_of(const std::string& path) {
  const size_t p = path.find_last_of('/');
  return p == std::string::npos ? std::string() : path.substr(0, p);
}

}  // namespace

AudioPlayer::AudioPlayer() : AudioPlayer(Deps{}) {}

AudioPlayer::AudioPlayer(Deps deps) : deps_(std::move(deps)) {
  if (!deps_.make_sink) deps_.make_sink = [] { return make_audio_sink(); };
  if (!deps_.random) deps_.random = default_random15();
  if (!deps_.open_track) deps_.open_track = open_engine_track;
  if (!deps_.list_streams) deps_.list_streams = list_engine_streams;
  const int v = audio_volume.load();
  volume_ = v >= 0 && v <= 80 ? v : 40;
  channel_sel_ = (audio_channel_left.load() ? 1 : 0) | (audio_channel_right.load() ? 2 : 0);
  if (channel_sel_ == 0) channel_sel_ = 3;
}

AudioPlayer::~AudioPlayer() { Shutdown(); }

void AudioPlayer::Shutdown() {
  if (playing_) StopPlay();
  track_.reset();
  if (out_) out_->close();
  out_.reset();
  sink_.reset();
}

int64_t AudioPlayer::now_ms() const {
  Clock* c = deps_.clock ? deps_.clock : platform().clock;
  return c ? c->now_ms() : 0;
}

void AudioPlayer::changed() {
  if (on_changed) on_changed();
}

// ---- play list ----

int AudioPlayer::AddFileToPlayList(const std::string& path, int* added) {
  if (added) *added = 0;
  AudioTrackEntry probe;
  probe.path = path;
  for (size_t i = 0; i < list_.size(); ++i)
    if (same_track(list_[i], probe)) return int(i);
  double duration = 0.0;
  int ids[kMaxStreams] = {}, pids[kMaxStreams] = {};
  const int n = deps_.list_streams(path, &duration, ids, pids, kMaxStreams);
  if (n < 1) return -1;
  const int first = int(list_.size());
  for (int k = 0; k < n; ++k) {
    AudioTrackEntry e;
    e.path = path;
    e.duration = duration > 0 ? int(duration) : 0;
    if (n > 1) {
      e.stream_id = ids[k];
      e.pid = pids[k];
      e.place = k + 1;
    }
    list_.push_back(std::move(e));
  }
  if (added) *added = 1;
  folders.track = folder_of(path);
  return first;
}

bool AudioPlayer::AppendEntry(const AudioTrackEntry& e) {
  for (const AudioTrackEntry& x : list_)
    if (same_track(x, e)) return false;
  list_.push_back(e);
  return true;
}

void AudioPlayer::AddTracks(const std::vector<std::string>& paths) {
  const bool was_playing = playing_;
  if (playing_) StopPlay();
  bool any = false;
  for (const std::string& p : paths) {
    int added = 0;
    // A file with no sound at all says so rather than nothing.
    if (AddFileToPlayList(p, &added) < 0) report_failure(p, true);
    any |= added != 0;
  }
  if (!any) {
    if (was_playing) StartPlay();
    changed();
    return;
  }
  if (OpenPlayTrack(int(list_.size()) - 1, true, true) == 0 && was_playing && track_) StartPlay();
  changed();
}

void AudioPlayer::OpenTrack(const std::string& path) {
  const bool was_playing = playing_;
  if (playing_) StopPlay();
  int added = 0;
  const int i = AddFileToPlayList(path, &added);
  if (i < 0) {
    report_failure(path, true);
    if (was_playing) StartPlay();
  } else if (!added) {
    OpenPlayTrack(i, true, false);
  } else {
    OpenPlayTrack(int(list_.size()) - 1, true, true);
  }
  changed();
}

void AudioPlayer::Remove(int index) {
  if (index < 0 || index >= int(list_.size())) return;
  list_.erase(list_.begin() + index);
  if (index <= current_ && current_ >= 1) --current_;
  else if (index == current_ && current_ == 0 && list_.empty()) current_ = -1;
  if (list_.empty()) CloseTrack();
}

void AudioPlayer::RemoveEntry(int index) {
  Remove(index);
  changed();
}

void AudioPlayer::ClearList() {
  list_.clear();
  CloseTrack();
  changed();
}

bool AudioPlayer::any_unticked() const {
  return std::any_of(list_.begin(), list_.end(), [](const AudioTrackEntry& e) { return e.play == 0; });
}

void AudioPlayer::TickAll() {
  for (AudioTrackEntry& e : list_) e.play = 1;
  changed();
}

void AudioPlayer::SetPlayFlag(int index, int play) {
  if (index >= 0 && index < int(list_.size())) list_[size_t(index)].play = play ? 1 : 0;
  changed();
}

void AudioPlayer::SetLabel(int index, const std::string& label) {
  if (index < 0 || index >= int(list_.size()) || label.empty() || label == list_[size_t(index)].label) return;
  list_[size_t(index)].label = label;
  if (index == current_) display_ = strip_list_time(track_list_text(list_[size_t(index)]));
  changed();
}

void AudioPlayer::PlayEntry(int index) {
  if (index < 0 || index >= int(list_.size())) return;
  list_[size_t(index)].play = 1;
  if (index != current_ || !track_) {
    if (playing_) StopPlay();
    OpenPlayTrack(index, true, false);
  } else {
    if (playing_) StopPlay();
    rewind_ = true;
    StartPlay();
  }
  changed();
}

// ---- track and output ----

bool AudioPlayer::report_failure(const std::string& path, bool report_only) {
  std::string text = "File:\n      <" + path + ">:\n   has no sound or data error found\n\n";
  if (report_only) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, text);
    return true;
  }
  text += "Remove it from the play list ?\n";
  return platform().prompter->message(PromptIcon::Stop, PromptButtons::YesNo, text) == PromptAnswer::Yes;
}

int AudioPlayer::OpenPlayTrack(int index, bool play, bool report_only) {
  if (index < 0 || index >= int(list_.size())) return 0;
  const AudioTrackEntry entry = list_[size_t(index)];
  std::unique_ptr<AudioTrackPort> t = deps_.open_track(entry.path);
  if (t && entry.stream_id != 0 && !t->set_abs_id(entry.stream_id, entry.pid)) t.reset();
  if (!t) {
    const bool was_playing = playing_;
    if (playing_) StopPlay();
    if (report_failure(entry.path, report_only)) {
      // The entry may have moved while the question was open.
      for (size_t i = 0; i < list_.size(); ++i)
        if (same_track(list_[i], entry) && list_[i].stream_id == entry.stream_id && list_[i].pid == entry.pid) {
          Remove(int(i));
          break;
        }
    }
    if ((was_playing || play) && track_) StartPlay();
    changed();
    return 0;
  }
  t->set_format_callback([this](int code) { OnFormatChanged(code); });
  folders.track = folder_of(entry.path);
  if (playing_) StopPlay();
  ClearOutput();
  track_ = std::move(t);
  SetLength(track_->get_length());
  AudioTrackEntry& e = list_[size_t(index)];
  if (e.duration != rounded_) e.duration = rounded_;
  OpenSoundOutput();
  current_ = index;
  slider_ = 0;
  SeekSeconds(0);
  display_ = strip_list_time(track_list_text(e));
  OpenLyrics(e.lyrics);
  first_feed_ = true;
  if (play) StartPlay();
  changed();
  return 1;
}

void AudioPlayer::SetLength(double seconds) {
  length_ = seconds > 0 ? seconds : 60.0;
  unit_ = length_ * 0.001;
  inverse_ = 1000.0 / length_;
  rounded_ = int(length_ + 0.5);
}

void AudioPlayer::OpenSoundOutput() {
  if (!track_) return;
  ApplyEqualizer();
  if (on_output_open) on_output_open(track_.get());
  const int rate = track_->get_output_sample_rate(), ch = track_->get_output_channels();
  if (out_ && (out_rate_ != rate || out_channels_ != ch)) {
    out_->close();
    out_.reset();
    sink_.reset();
  }
  if (!out_) {
    sink_ = deps_.make_sink();
    if (!sink_) return;  // no device: silent, the time still runs
    auto o = std::make_unique<DSAudio>(sink_.get());
    int error = 1;
    o->open(rate, ch, 16, &error);
    if (error) {
      sink_.reset();
      return;
    }
    out_ = std::move(o);
    out_rate_ = rate;
    out_channels_ = ch;
  }
  SetVolume(volume_);
}

void AudioPlayer::OnFormatChanged(int code) {
  if (code != 1 || !track_) return;
  const bool was_playing = playing_;
  if (playing_) StopPlay();
  ClearOutput();
  std::unique_ptr<AudioSink> sink = deps_.make_sink();
  if (sink) {
    auto o = std::make_unique<DSAudio>(sink.get());
    int error = 1;
    o->open(track_->get_output_sample_rate(), track_->get_output_channels(), track_->get_bits_per_sample(), &error);
    if (!error) {
      if (out_) out_->close();
      out_ = std::move(o);
      sink_ = std::move(sink);
      out_rate_ = track_->get_output_sample_rate();
      out_channels_ = track_->get_output_channels();
      SetVolume(volume_);
    } else {
      o.reset();
    }
  }
  changed();
  if (was_playing) {
    first_feed_ = true;
    StartPlay();
  }
}

void AudioPlayer::ClearOutput() {
  if (out_) out_->stop();
}

void AudioPlayer::CloseTrack() {
  if (playing_) StopPlay();
  ClearOutput();
  track_.reset();
  current_ = -1;
  SetLength(60.0);
  slider_ = 0;
  last_pos_ = 0;
  time_ = TimeRecord();
  display_.clear();
  OpenLyrics(std::string());
  if (mark_state_) {
    mark_state_ = 0;
    mark_start_ = 0;
    mark_end_ = kSlider;
    loop_ = segment_loop_;
  }
}

// ---- feeding and the timer ----

int AudioPlayer::FeedSound() {
  if (!track_) return 0;
  if (!out_) {
    // Silent: the track moves with the clock so that the time still runs.
    if (playing_) {
      const double due = start_offset_ + double(now_ms() - start_tick_) / 1000.0;
      int count = 0;
      while (track_->get_time() < due && track_->get_pcm(&count) && count > 0) {
      }
    }
    return 0;
  }
  // get_pcm hands out blocks of 1152 samples a channel whatever the
  // layer, so the tick counts those blocks (a layer I frame period would
  // write three times too much and fill the ring).
  const int rate = std::max(1, track_->get_output_sample_rate());
  const unsigned period = std::max(1u, unsigned(1152.0 / rate * 1000.0));
  const unsigned n = (period / 2 + unsigned(kInterval)) / period;
  unsigned frames = n + 1;
  const int bytes = track_->get_output_channels() * 1152 * 2;
  if (out_->get_buffer_state(bytes) == 3) frames = n + 2;
  int written = 0;
  for (unsigned k = 0; k < frames; ++k) {
    if (out_->get_buffer_state(bytes) == 1) break;
    int count = 0;
    const int16_t* pcm = track_->get_pcm(&count);
    if (!pcm || count < 1) break;
    written += out_->write(reinterpret_cast<const uint8_t*>(pcm), count * 2);
  }
  return written;
}

void AudioPlayer::PreFill() {
  if (!out_) return;
  out_->stop();
  while (FeedSound() > 0) {
  }
  if (playing_) out_->play();
}

double AudioPlayer::heard_time() const {
  if (!track_) return start_offset_ + double(now_ms() - start_tick_) / 1000.0;
  double t = track_->get_time() - (out_ ? out_->get_queued_time() : 0.0);
  if (t < 0) t = 0;
  if (int(t) > rounded_) t = rounded_;
  return t;
}

void AudioPlayer::StartPlay() {
  if (playing_) return;
  if (list_.empty()) return;
  if (restart_) {
    restart_ = false;
    const int old = current_;
    const int first = next_track_index(list_, -1, loop_ == LoopMode::Random ? LoopMode::All : loop_, deps_.random);
    if (first >= 0 && first != old) {
      OpenPlayTrack(first, true, false);
      return;
    }
  }
  if (!track_) return;
  playing_ = true;
  if (on_timer) on_timer(true);
  if (rewind_ || slider_ >= kSlider) {
    rewind_ = false;
    first_feed_ = false;
    track_->goto_offset(0.0);
    slider_ = 0;
    if (on_insert_time) on_insert_time(0.0);
    PreFill();
  } else if (first_feed_) {
    first_feed_ = false;
    PreFill();
  }
  last_pos_ = slider_;
  start_offset_ = slider_ * unit_;
  start_tick_ = now_ms();
  if (out_) out_->play();
  changed();
}

void AudioPlayer::StopPlay() {
  if (!playing_) return;
  if (on_timer) on_timer(false);
  playing_ = false;
  if (out_) out_->pause();
  changed();
}

void AudioPlayer::TogglePlay() {
  if (list_.empty()) return;
  if (playing_)
    StopPlay();
  else
    StartPlay();
}

void AudioPlayer::SeekSeconds(int p) {
  const double seconds = p * unit_;
  time_ = TimeRecord::from_seconds(seconds);
  start_offset_ = seconds;
  if (on_insert_time) on_insert_time(seconds);
  start_tick_ = now_ms();
  slider_ = p;
  last_pos_ = p;
  rewind_ = false;
  ClearOutput();
  if (track_) track_->goto_offset(seconds);
}

void AudioPlayer::EndSegment() {
  mark_state_ = 0;
  mark_start_ = 0;
  mark_end_ = kSlider;
  loop_ = segment_loop_;
}

void AudioPlayer::Seek(int p) {
  p = std::clamp(p, 0, kSlider);
  if (mark_state_ == 2 && (p < mark_start_ || p > mark_end_)) {
    if (editor_mode_) {
      // The editor's marks stay for its edits: only segment play ends.
      mark_state_ = 0;
      loop_ = segment_loop_;
    } else {
      EndSegment();
    }
  }
  SeekSeconds(p);
  if (playing_ && out_) {
    out_->play();
    FeedSound();
  }
  if (lyric_count_) SeekLyric(int(p * unit_));
  changed();
}

void AudioPlayer::PlayTick() {
  if (!track_) {
    StopPlay();
    return;
  }
  const double t = heard_time();
  int p = int(t * inverse_);
  if (p > slider_) {
    slider_ = std::min(p, kSlider);
    if (on_insert_time) on_insert_time(t);
  }
  const TimeRecord before = time_;
  time_ = TimeRecord::from_seconds(t);
  const int written = FeedSound();
  const bool going = written > 0 || p != last_pos_ || !track_->is_end();
  if (mark_state_ == 2) {
    if (!(p < mark_end_ && going)) {
      // The segment repeats from its start while the timer runs.
      SeekSeconds(mark_start_);
      if (out_) {
        PreFill();
      }
      p = mark_start_;
    }
  } else if (!(p < kSlider && going)) {
    StopPlay();
    const int n = int(list_.size());
    if (loop_ == LoopMode::One || ((loop_ == LoopMode::All || loop_ == LoopMode::Random) && n == 1)) {
      rewind_ = true;
      p = 0;
      StartPlay();
    } else {
      const int next = next_track_index(list_, current_, loop_, deps_.random);
      if (next >= 0) {
        OpenPlayTrack(next, true, false);
        return;
      }
      ClearOutput();
      p = kSlider;
      slider_ = kSlider;
      time_ = TimeRecord::from_seconds(length_);
      rewind_ = true;
      if (n >= 2) restart_ = true;
    }
  }
  last_pos_ = p;
  const std::string lyric = lyric_text_;
  UpdateLyric();
  if (!(time_ == before) || lyric != lyric_text_) changed();
}

// ---- controls ----

void AudioPlayer::CycleLoop() {
  if (mark_state_ == 2) return;
  loop_ = LoopMode((int(loop_) + 1) % 4);
  changed();
}

void AudioPlayer::MarkButton() {
  if (mark_state_ == 0) {
    mark_state_ = 1;
    mark_start_ = slider_;
  } else if (mark_state_ == 1) {
    int a = mark_start_, b = slider_;
    if (a > b) std::swap(a, b);
    if ((b - a) * unit_ < 2.0) return;  // under two seconds: no segment
    mark_start_ = a;
    mark_end_ = b;
    mark_state_ = 2;
    segment_loop_ = loop_;
    loop_ = LoopMode::One;
  } else {
    EndSegment();
  }
  changed();
}

void AudioPlayer::RestoreSegment(int start, int end, int position) {
  mark_state_ = 1;
  mark_start_ = start;
  Seek(end);
  MarkButton();
  Seek(position ? position : mark_start_);
}

void AudioPlayer::SetVolume(int volume) {
  volume = std::clamp(volume, 0, 80);
  volume_ = volume;
  audio_volume = volume;
  if (out_) out_->set_volume(volume);
  changed();
}

void AudioPlayer::SetChannel(int left, int right) {
  if (!left && !right) return;
  channel_sel_ = (left ? 1 : 0) | (right ? 2 : 0);
  audio_channel_left = left ? 1 : 0;
  audio_channel_right = right ? 1 : 0;
  if (out_) out_->set_channel_mode(left, right);
  changed();
}

void AudioPlayer::ToggleLeft() {
  const int left = (channel_sel_ & 1) ? 0 : 1;
  int right = (channel_sel_ & 2) ? 1 : 0;
  if (!left && !right) right = 1;
  SetChannel(left, right);
}

void AudioPlayer::ToggleRight() {
  int left = (channel_sel_ & 1) ? 1 : 0;
  const int right = (channel_sel_ & 2) ? 0 : 1;
  if (!left && !right) left = 1;
  SetChannel(left, right);
}

bool AudioPlayer::EnterEditor() {
  if (!track_ || editor_mode_) return false;
  player_loop_ = loop_;
  loop_ = LoopMode::One;
  editor_mode_ = true;
  changed();
  return true;
}

void AudioPlayer::LeaveEditor() {
  if (!editor_mode_) return;
  editor_mode_ = false;
  if (mark_state_ != 2 && (mark_start_ > 0 || mark_end_ < kSlider) && mark_end_ > mark_start_) {
    // Marks set in the editor become the player's segment.
    mark_state_ = 2;
    segment_loop_ = player_loop_;
    if (slider_ < mark_start_ || slider_ > mark_end_) Seek(mark_start_);
  } else {
    loop_ = player_loop_;
  }
  changed();
}

// ---- status ----

std::vector<std::string> AudioPlayer::info_lines(bool with_bit_rate) const {
  if (!track_) return {};
  std::vector<std::string> out;
  out.push_back(track_->get_channels() == 2 ? "Stereo" : "Mono");
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.1f kHz", track_->get_sample_rate() / 1000.0);
  out.push_back(buf);
  if (with_bit_rate) {
    std::snprintf(buf, sizeof buf, "%d kbps", track_->get_bit_rate() / 1000);
    out.push_back(buf);
  }
  return out;
}

std::string AudioPlayer::status_text() const {
  if (mark_state_ == 1) return "MarkIn";
  if (mark_state_ == 2) return "Segment";
  switch (loop_) {
    case LoopMode::One: return "Loop-One";
    case LoopMode::All: return "Loop-All";
    case LoopMode::Random: return "Shuffle";
    default: return {};
  }
}

std::string AudioPlayer::index_text() const {
  if (list_.empty()) return {};
  return std::to_string(current_ + 1) + "/" + std::to_string(list_.size());
}

bool AudioPlayer::StoreEqualizerGains(const EqualizerSelection& sel) {
  const bool changed_any = !(sel == equalizer);
  equalizer = sel;
  return changed_any;
}

void AudioPlayer::ApplyEqualizer() {
  if (!track_) return;
  const std::array<double, 64> f = equalizer_filters(equalizer.gains, equalizer.preamp);
  track_->get_equalizer_filters(f.data());
}

void AudioPlayer::HandleEqualizerEvent(const EqualizerSelection& sel, int event) {
  if (event != 2 && StoreEqualizerGains(sel)) ApplyEqualizer();
}

// ---- lyrics ----

void AudioPlayer::OpenLyrics(const std::string& path) {
  lyrics_.clear();
  lyric_count_ = 0;
  lyric_text_.clear();
  lyric_due_ = rounded_;
  if (path.empty()) return;
  int error = 0;
  lyrics_.load(path, &error);
  lyric_count_ = lyrics_.count();
  if (!lyric_count_) return;
  folders.lyrics = folder_of(path);
  lyric_text_ = lyrics_.lines()[0].text;
  lyric_due_ = lyric_count_ > 1 ? lyrics_.lines()[1].time : rounded_;
}

void AudioPlayer::SeekLyric(int seconds) {
  if (!lyric_count_) return;
  lyrics_.seek(seconds);
  const int c = lyrics_.cursor();
  lyric_text_ = lyrics_.current() ? lyrics_.current()->text : std::string();
  lyric_due_ = c + 1 < lyric_count_ ? lyrics_.lines()[size_t(c) + 1].time : rounded_;
}

void AudioPlayer::UpdateLyric() {
  if (!lyric_count_) return;
  double t = heard_time();
  t = std::clamp(t, 0.0, double(rounded_));
  if (int(t) < lyric_due_) return;
  const int c = lyrics_.cursor() + 1;
  if (c < lyric_count_) {
    lyrics_.seek(lyrics_.lines()[size_t(c)].time);
    lyric_text_ = lyrics_.lines()[size_t(c)].text;
    lyric_due_ = c + 1 < lyric_count_ ? lyrics_.lines()[size_t(c) + 1].time : rounded_;
  } else {
    lyric_due_ = rounded_ + 1;
  }
}

int AudioPlayer::LoadLyricsText(const std::string& path) {
  LyricsList probe;
  if (probe.read(path) == 0) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "<" + path + ">: Not a valid lyrics file");
    return 0;
  }
  if (current_ < 0 || current_ >= int(list_.size())) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "Failed to find the current play track");
    return 0;
  }
  list_[size_t(current_)].lyrics = path;
  OpenLyrics(path);
  SeekLyric(int(heard_time()));
  changed();
  return lyric_count_;
}

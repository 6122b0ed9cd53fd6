// Playback of the player view: the run on its thread, the real-time step,
// the sound output and the frame hand-over.
#include <algorithm>
#include <cmath>
#include <vector>

#include "app/editor/playback_thread.h"
#include "app/editor/player_view.h"
#include "app/shell/editor_settings.h"
#include "app/shell/ieditor.h"
#include "platform/services.h"

namespace {
bool has_bits(int mode, int bits) { return (mode & bits) == bits; }
// How far a picture may be shown ahead of its sound (seconds).
constexpr double kPictureLead = 0.05;
}  // namespace

bool CQuarvelPlayerView::playback_thread_alive() const { return thread_ && !thread_->ended(); }
bool CQuarvelPlayerView::playback_thread_ended() const { return !thread_ || thread_->ended(); }

void CQuarvelPlayerView::start_playback() {
  if (!editor_) return;
  first_step = 1;
  if (!stop_playback_thread()) return;
  stall_count = 0;
  last_frame = editor_->get_curr_frame_offset();
  thread_ = std::make_unique<PlaybackThread>(
      platform().clock, std::max(1, frame_period_ms.load()), [this] { begin_run(); }, [this] { return play_step(); },
      [this] { end_run(); });
  thread_->start();
}

int CQuarvelPlayerView::stop_playback(bool release) {
  audio_started = 0;
  playing_forward = 0;
  playing_reverse = 0;
  if (!stop_playback_thread()) {
    if (release) {
      command_ = kCodeStop;
      command_arg_ = 0;
      resume_after = 0;
      if (!retry_timer_) {
        retry_timer_ = true;
        host_->start_retry_timer(300);
      }
    }
    return 0;
  }
  // A run stopped before it began still set the flags as it started.
  playing_forward = 0;
  playing_reverse = 0;
  // The run closed the sound device as it ended; the window's choice of
  // sound stays for the next run.
  if (!release && editor_) toolbar_.set_position(editor_->get_curr_frame_offset());
  return 1;
}

int CQuarvelPlayerView::stop_playback_thread() {
  if (!thread_) return 1;
  if (thread_->on_thread()) {
    // The run ends itself after this step.
    thread_->request_stop();
    return 0;
  }
  thread_->request_stop();
  // At most 300 ms, looked at often: a step ends within one frame's work,
  // and the window waits no longer than that.
  Clock* clock = platform().clock;
  for (int waited = 0; waited < 300 && !thread_->ended(); waited += 2) {
    std::this_thread::yield();
    if (!thread_->ended()) clock->sleep_ms(2);
  }
  if (!thread_->ended()) return 0;
  thread_.reset();  // joins a thread that has ended
  return 1;
}

// The sound output belongs to the run: made, fed, stopped and closed on
// the playback thread, since a sound device's calls must all come from
// the thread that opened it.
void CQuarvelPlayerView::begin_run() {
  if (audio_enabled_ && editor_ && !audio_ && sink_factory_) {
    sink_ = sink_factory_();
    if (sink_) {
      auto out = std::make_unique<DSAudio>(sink_.get());
      int error = 1;
      out->open(sample_rate, channels, bits_per_sample, &error);
      if (error) {
        out->close();
        sink_.reset();
      } else {
        audio_ = std::move(out);
        blocks_written = 0;
      }
    }
  }
  restart_clock();
}

void CQuarvelPlayerView::end_run() {
  if (audio_) {
    audio_->stop();
    audio_->close();
  }
  audio_.reset();
  sink_.reset();
  audio_started = 0;
}

void CQuarvelPlayerView::restart_clock(double lead) {
  if (!editor_) return;
  editor_->audio_player_restart();
  lead_in = lead;
  if (audio_ && has_bits(mode, kModeForward | kModeNormal)) {
    fill_audio();
    audio_->play();
    audio_started = 1;
  }
  if (mode & kModeForward)
    playing_forward = 1;
  else if (mode & kModeReverse)
    playing_reverse = 1;
  blocks_written = 0;
  frames_played = 0;
  frames_shown = 0;
  start_time = platform().clock->now_ms();
  start_position = editor_->get_current_time();
}

int CQuarvelPlayerView::update_frame_period() {
  if (!editor_) return 0;
  const double rate = editor_->get_frame_rate();
  if (!(rate > 0) || !std::isfinite(rate) || rate == frame_rate.load()) return 0;
  frame_rate = rate;
  rounded_rate = int(rate + 0.5);
  frame_period_ms = std::max(1, int(1000 / rate));
  if (thread_) thread_->set_period(frame_period_ms);
  return 1;
}

int CQuarvelPlayerView::step_frames(int count, bool redraw) {
  if (!editor_) return 0;
  int r;
  if (mode & kModeForward) {
    r = editor_->forward(count);
  } else {
    editor_->backward();
    r = count;
  }
  if (redraw) show_frame(true);
  return r;
}

void CQuarvelPlayerView::show_frame(bool update_position) {
  if (!editor_) return;
  const int frame = editor_->get_curr_frame_offset();
  slot_.store(editor_->get_decoded_image_dib_header(), editor_->get_decoded_image_dib_data(), frame);
  if (!update_position) {
    to_ui([this] { host_->frame_ready(); });
    return;
  }
  current_frame = frame;
  const bool show_flag = show_decoded_flag != 0;
  const int flag = show_flag ? editor_->get_decoded_frame_flag() : 0;
  const std::string text = toolbar_.field_text(frame, show_flag, flag);
  to_ui([this, frame, text, show_flag, flag] {
    toolbar_.set_decoded_flag(show_flag, flag);
    toolbar_.set_position_text(frame, text);
    host_->frame_ready();
  });
}

void CQuarvelPlayerView::end_of_range_stop() {
  if (thread_ && thread_->on_thread()) thread_->request_stop();
  playing_forward = 0;
  playing_reverse = 0;
  if (play_forward_request)
    set_mode_direction(&mode, true);
  else if (play_reverse_request)
    set_mode_direction(&mode, false);
  update_toolbar_bitmap();
  show_frame(true);
}

int CQuarvelPlayerView::play_step() {
  if (!editor_) return -1;
  int cur = editor_->get_curr_frame_offset();
  const int start = range_start(), end = range_end();
  const bool forward = (mode & kModeForward) != 0;
  const int restart = forward ? start : end, far = forward ? end : start;
  bool at_end = forward ? (cur < start || cur >= end || editor_->is_at_clip_end())
                        : (cur <= start || cur > end || editor_->is_at_clip_start());
  if (std::abs(cur - far) <= 3 && cur == last_frame) {
    if (++stall_count > 3) {
      at_end = true;
      total_frames = std::max(1, editor_->get_total_frames());
      cur = restart;
      stall_count = 0;
    }
  }
  last_frame = cur;
  if (at_end) {
    if (audio_) audio_->stop();
    audio_started = 0;
    const bool looping = settings_ && settings_->video_looping;
    if (!first_step && !looping) {
      end_of_range_stop();
      return -1;
    }
    editor_->search(restart, 1);
    show_frame(true);
    update_frame_period();
    // The restart frame is shown as its sound starts; the run's clock starts
    // a little later, so that it leads its sound as every other frame does
    // and the frames after it keep their full slack.
    const bool real_time = has_bits(mode, kModeForward | kModeNormal);
    restart_clock(real_time && frame_rate > 0 ? kPictureLead - 0.1 / frame_rate : 0.0);
    stall_count = 0;
    last_frame = restart;
    if (real_time) return next_frame_wait(-lead_in, platform().clock->now_ms());
    // The restart frame stays one period before the run moves on.
    if (frame_rate > 0) start_time += int64_t(1000.0 / frame_rate + 0.5);
    return paced_wait();
  }
  first_step = 0;
  if (!has_bits(mode, kModeForward | kModeNormal)) {
    frames_shown += step_frames(1, true);
    update_frame_period();
    return paced_wait();
  }
  const bool sound = audio_ != nullptr;
  Clock* clock = platform().clock;
  // The played count moves when the ring's free space is read.
  if (sound) audio_->get_free_space();
  const int64_t read_at = clock->now_ms();
  const double elapsed = (sound ? audio_->get_played_time() : (read_at - start_time) * 0.001) - lead_in;
  const double lag = elapsed - (editor_->get_current_time() - start_position - kPictureLead);
  const double frames = frame_rate * lag;
  int n = frames >= 1e6 ? 1000000 : int(frames);
  // A step that woke a little late finds two frames due while the first
  // of them is still ahead of its sound: it shows that one and the next at
  // once, so lateness short of the picture's lead skips nothing. Only a
  // picture whose sound has already been heard is passed over.
  if (n >= 2 && frames <= 1.0 + kPictureLead * frame_rate) n = 1;
  // Never past the range's end: a segment stops on its mark out.
  n = std::min(n, std::max(far - cur, 1));
  if (sound) feed_audio();
  if (n < 1) {
    if (sound) feed_audio();
    return next_frame_wait(elapsed, read_at);
  }
  const int advanced = step_frames(n, true);
  if (advanced == 0) return -1;
  if (sound)
    for (int i = 1; i < advanced; ++i) feed_audio();
  frames_played += advanced;
  frames_shown += advanced;
  if (update_frame_period()) {
    restart_clock(kPictureLead - 0.1 / frame_rate);
    return next_frame_wait(-lead_in, clock->now_ms());
  }
  return next_frame_wait(elapsed, read_at);
}

int CQuarvelPlayerView::next_frame_wait(double elapsed, int64_t read_at) {
  if (!editor_) return -1;
  const double rate = frame_rate;
  if (!(rate > 0)) return -1;
  const double now = elapsed + double(platform().clock->now_ms() - read_at) * 0.001;
  // When the next frame's sound is heard, relative to the run's start.
  const double heard = editor_->get_current_time() - start_position + 1.0 / rate;
  // Due a tenth of a frame after it may first be shown: the picture then
  // leads its sound by a little under the allowed lead, and a wake-up
  // late by most of a frame still shows it in time.
  const double due = heard - kPictureLead + 0.1 / rate;
  double wait = due - now;
  if (wait < 0) {
    // Already due: the frame on screen stays a while, the next comes well
    // before its sound (at once when that is about to be heard).
    wait = std::max(0.0, std::min(0.5 / rate, (heard - now) * 0.5));
  }
  return int(std::min(wait, 2.0 / rate) * 1000.0 + 0.5);
}

int CQuarvelPlayerView::paced_wait() {
  const double rate = frame_rate;
  if (!(rate > 0)) return -1;
  const int64_t now = platform().clock->now_ms();
  // Each frame on its own due time: whole-millisecond periods would run
  // 29.97 and 23.976 fps movies fast.
  const double period = 1000.0 / rate;
  double wait = double(start_time) + double(frames_shown) * period - double(now);
  if (wait < -period) {
    // Far behind (a stalled machine): start afresh rather than race.
    start_time = now - int64_t(double(frames_shown) * period);
    wait = 0;
  }
  return int(std::clamp(wait, 0.0, 2.0 * period) + 0.5);
}

int CQuarvelPlayerView::open_audio() {
  if (!editor_) return 0;
  if (audio_enabled_ || !editor_->has_audio()) return 0;
  const int rate = editor_->get_sample_rate(), ch = editor_->get_channels();
  if (rate <= 0 || ch <= 0) return 0;
  sample_rate = rate;
  channels = ch;
  bits_per_sample = editor_->get_bits_per_sample() > 0 ? editor_->get_bits_per_sample() : 16;
  blocks_written = 0;
  seconds_per_block = 1152.0 / rate;
  bytes_per_second = bits_per_sample / 8 * ch * rate;
  block_bytes = ch * 2304;
  audio_enabled_ = true;
  return 1;
}

void CQuarvelPlayerView::close_audio() { audio_enabled_ = false; }

int CQuarvelPlayerView::feed_audio() {
  if (!audio_ || !editor_) return 0;
  const int blocks = audio_->get_buffer_state(block_bytes) == 3 ? 4 : 2;
  int written = 0;
  for (int i = 0; i < blocks; ++i) {
    if (audio_->get_buffer_state(block_bytes) == 1) break;
    int bytes = 0;
    const int16_t* pcm = editor_->get_audio_samples(&bytes);
    if (!pcm || bytes <= 0) break;
    written += audio_->write(reinterpret_cast<const uint8_t*>(pcm), bytes);
    ++blocks_written;
  }
  return written;
}

void CQuarvelPlayerView::fill_audio() {
  if (!audio_ || !editor_) return;
  audio_->stop();
  editor_->audio_player_restart();
  if (lead_in > 0) {
    const std::vector<uint8_t> silence(size_t(lead_in * sample_rate) * size_t(channels) * 2u, 0);
    audio_->write(silence.data(), int(silence.size()));
  }
  while (audio_->get_buffer_state(block_bytes) != 1) {
    int bytes = 0;
    const int16_t* pcm = editor_->get_audio_samples(&bytes);
    if (!pcm || bytes <= 0) break;
    if (audio_->write(reinterpret_cast<const uint8_t*>(pcm), bytes) <= 0) break;
    ++blocks_written;
  }
}

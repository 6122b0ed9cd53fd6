// Playback sound: the working list played as one audio track, reseeked to
// the frame shown whenever the picture jumps.
#include <algorithm>

#include "access/dtv.h"
#include "audio/track/datrack.h"
#include "engine/dtamsel.h"
#include "foundation/trace.h"

namespace {
constexpr int kBlockSamples = 1152;
}

int DTamsel::set_audio_format(int sample_rate, int channels) {
  int rate = sample_rate_, ch = channels_;
  if (sample_rate != 0) rate = (sample_rate == 32000 || sample_rate == 44100 || sample_rate == 48000) ? sample_rate : 44100;
  if (channels == 1 || channels == 2) ch = channels;
  if (rate == sample_rate_ && ch == channels_) return 1;
  const std::vector<PCMScalePoint> scale = get_pcm_scale();
  audio_.reset();
  sample_rate_ = rate;
  channels_ = ch;
  if (audio_off_) return 0;
  audio_player_update();
  if (!audio_) return has_audio() ? 1 : 0;
  audio_->set_pcm_scale(scale);
  return 0;
}

void DTamsel::set_defaults_audio() {
  audio_restart_pending_ = 0;
  if (sample_rate_ != 32000 && sample_rate_ != 44100 && sample_rate_ != 48000) sample_rate_ = 44100;
  if (channels_ != 1 && channels_ != 2) channels_ = 2;
}

void DTamsel::disable_audio() {
  audio_off_ = 1;
  audio_.reset();
}

void DTamsel::audio_player_update() {
  if (audio_off_ || !list_ || !has_audio()) {
    // A movie whose sound was all cut away plays none.
    audio_.reset();
    audio_restart_pending_ = 0;
    return;
  }
  if (!audio_) {
    audio_ = std::make_unique<DATrack>();
    if (audio_->init(list_, sample_rate_, channels_) != 0) {
      trace("DTamsel::audio_player_update (ERROR): failed in calling DATrack::init ()\n");
      audio_.reset();
      audio_restart_pending_ = 0;
      return;
    }
  } else if (audio_->replace(list_) != 0) {
    trace("DTamsel::audio_player_update (ERROR): failed in calling DAEditor::replace ()\n");
  }
  // The player's clip pointers follow its own list: always reseek after a
  // replace.
  audio_player_seek(1);
}

void DTamsel::audio_player_seek(int mode) {
  (void)mode;
  audio_restart_pending_ = 0;
  if (!audio_) return;
  audio_->seek(list_ && dtv_ ? get_current_time() : 0.0);
}

const int16_t* DTamsel::get_audio_samples(int* bytes, double* time) {
  if (bytes) *bytes = 0;
  if (time) *time = 0;
  if (!audio_ || !dtv_ || (dtv_->get_play_mode() & kPlayBackward)) return nullptr;
  if (audio_restart_pending_) audio_player_seek(1);
  if (audio_->is_end()) return nullptr;
  if (time) *time = audio_->get_time();
  int count = 0;
  const int16_t* pcm = audio_->get_pcm(kBlockSamples * channels_, &count);
  if (!pcm) return nullptr;
  if (bytes) *bytes = count * 2;
  return pcm;
}

void DTamsel::set_pcm_scale(const std::vector<PCMScalePoint>& points) {
  if (audio_) audio_->set_pcm_scale(points);
}

std::vector<PCMScalePoint> DTamsel::get_pcm_scale() const {
  return audio_ ? audio_->get_pcm_scale() : std::vector<PCMScalePoint>();
}

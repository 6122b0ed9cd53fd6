#include "engine/dtamsel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "access/dtv.h"
#include "audio/track/datrack.h"
#include "demux/goplist.h"
#include "demux/goplist_cache.h"
#include "encode/image_sequence.h"
#include "engine/clips/clip_list.h"
#include "foundation/trace.h"
#include "foundation/partial_output.h"
#include "foundation/timecode.h"
#include "picture/bmp.h"
#include "picture/dither.h"
#include "picture/frame.h"

int engine_skip_frame_count_check = 0;

DTamsel::DTamsel(int size_mode) : size_mode_(size_mode) {}

std::unique_ptr<DTamsel> DTamsel::create(const MPEG_Clip* list, int size_mode, EngineError* error) {
  std::unique_ptr<DTamsel> e(new DTamsel(size_mode));
  const int r = e->init(list);
  if (error) {
    error->code = r;
    error->message = r == EngineError::none        ? ""
                     : r == EngineError::no_movie ? "the clip list holds no frames"
                                                  : "the first clip shows no picture";
  }
  if (r) e.reset();
  return e;
}

DTamsel::~DTamsel() { clean_up(); }

void DTamsel::clean_up() {
  audio_.reset();
  audio_restart_pending_ = 0;
  second_.reset();
  dtv_.reset();
  effect_frame_.reset();
  mpeg_clip_list_free(list_);
  list_ = current_ = nullptr;
  second_clip_ = nullptr;
  in_transition_ = 0;
  transition_in_end_ = transition_out_start_ = -1;
  effect_ = Effect();
  file_name_.clear();
  bmp_.reset();
  dither_.reset();
  min_rates_known_ = false;
}

int DTamsel::init(const MPEG_Clip* list) {
  if (!list) return EngineError::no_movie;
  list_ = clip_list_duplicate(list);
  if (!list_) return EngineError::no_movie;
  if (!engine_skip_frame_count_check) check_frame_counts();
  list_ = clip_prepare_list(list_);
  if (!list_ || mpeg_clip_list_total_frames(list_, 1) < 1) {
    trace("DTamsel::init (ERROR): empty clip list\n");
    return EngineError::no_movie;
  }
  current_ = list_;
  if (open_main(current_)) return EngineError::no_picture;
  update_frame_rate();
  drop_frame_ = dtv_->get_goplist() ? dtv_->get_goplist()->get_drop_frame_flag() : 0;
  search(0, 0, 0);
  set_defaults_audio();
  audio_player_update();
  return 0;
}

// A file shorter than its clips claim (or than the clip list remembers)
// shortens them. Only MPEG video clips have a GOP index to ask.
void DTamsel::check_frame_counts() {
  bool changed = false;
  for (MPEG_Clip* c = list_; c; c = c->next) {
    if (!Clip::is_mpeg_video_type(c->clip_type) || !c->get_file_name()) continue;
    GOPList index;
    if (GoplistCache::take_from_cache(&index, c->get_file_name(), c->video_stream_id, c->video_pid)) continue;
    const int total = index.get_total_frames();
    if (total < 1 || total == c->video_frame_total) continue;
    c->video_frame_total = total;
    if (c->start + c->count > total) c->count = std::max(1, total - c->start);
    changed = true;
  }
  if (changed) list_ = clip_update(list_);
}

int DTamsel::open_main(MPEG_Clip* c) {
  ++open_count_;
  if (!dtv_) {
    int err = 0;
    dtv_ = std::make_unique<DTV>(c, &err, size_mode_);
    if (err) {
      dtv_.reset();
      trace("DTamsel (ERROR): failed in calling DTV::new_clip ().\n");
      return 1;
    }
    return 0;
  }
  if (dtv_->init(c)) {
    trace("DTamsel (ERROR): failed in calling DTV::new_clip ().\n");
    return 1;
  }
  return 0;
}

void DTamsel::update_frame_rate() {
  if (!dtv_) return;
  frame_rate_ = dtv_->get_frame_rate();
  if (frame_rate_ == notified_rate_) return;
  notified_rate_ = frame_rate_;
  if (notify_) notify_(notify_user_, 1);
}

int DTamsel::set_notify_callback(NotifyCallback callback, void* user) {
  if (!callback || !user) return 0;
  notify_ = callback;
  notify_user_ = user;
  return 1;
}

void DTamsel::set_audio_encoder(int layer, int sample_rate, int channels, int bit_rate, int clip_select) {
  EngineAudioEncoder& a = settings_.audio;
  a.layer = layer;
  a.sample_rate = sample_rate;
  a.channels = channels;
  a.bit_rate = bit_rate;
  a.clip_select = clip_select;
  a.set = 1;
}

int DTamsel::get_curr_frame_offset() const {
  if (!current_ || !dtv_) return 0;
  return clip_first_edit_frame(current_) + dtv_->get_position();
}

int DTamsel::get_total_frames() { return list_ ? mpeg_clip_list_total_frames(list_, 1) : 0; }

int DTamsel::get_clip_count() const { return list_ ? clip_list_count(list_) : 0; }

int DTamsel::get_current_clip_index() const {
  int k = 0;
  for (const MPEG_Clip* c = list_; c; c = c->next, ++k)
    if (c == current_) return k;
  return -1;
}

bool DTamsel::has_audio() const {
  for (const MPEG_Clip* c = list_; c; c = c->next)
    if (c->audio_stream_count > 0) return true;
  return false;
}

bool DTamsel::is_still_image() const { return list_ && !list_->next && list_->is_still_image(); }

void DTamsel::update_clip_bounds() {
  if (!current_) return;
  transition_in_end_ = current_->transition_length - 1;
  transition_out_start_ = current_->count;
  if (current_->next && current_->next->transition_id > 0)
    transition_out_start_ -= current_->next->transition_length;
}

// The mixed picture of the current transition frame.
int DTamsel::mix() {
  Frame* a = dtv_->create_screen();
  Frame* b = second_ ? second_->create_screen() : nullptr;
  if (!a || !b) return 1;
  const int w = std::min(a->get_width(), b->get_width()), h = std::min(a->get_height(), b->get_height());
  if (!effect_frame_ || effect_frame_->get_width() != w || effect_frame_->get_height() != h ||
      effect_frame_->chroma_format() != chroma_format_)
    effect_frame_ = std::make_unique<Frame>(w, h, chroma_format_, 0);
  if (!effect_frame_->image()) return 1;
  effect_frame_->copy_picture_info(a);
  const int offset = current_->next ? current_->next->transition_offset() : 0;
  return effect_.effect(offset + second_->get_position(), effect_frame_.get(), a, b);
}

// Shows the next clip's frame second_index beside the current clip's frame
// and mixes them.
int DTamsel::enter_transition(int second_index) {
  MPEG_Clip* next = current_->next;
  if (!next || next->transition_id <= 0) {
    trace("DTamsel::init_effect_forward (ERROR): NO efffect defined\n");
    return 1;
  }
  if (second_clip_ != next || !second_) {
    if (!second_) {
      int err = 0;
      second_ = std::make_unique<DTV>(next, &err, size_mode_);
      if (err) {
        second_.reset();
        return 1;
      }
    } else if (second_->init(next)) {
      second_clip_ = nullptr;
      return 1;
    }
    second_->set_play_mode(dtv_->get_play_mode());
    second_clip_ = next;
    second_->search(second_index, 1);
  } else if (second_->get_position() != second_index) {
    if (second_index == second_->get_position() + 1) second_->forward(1);
    else if (second_index == second_->get_position() - 1) second_->backward(1);
    if (second_->get_position() != second_index) second_->search(second_index, 1);
  }
  int full = next->transition_full();
  if (full < next->transition_length) full = next->transition_length;
  if (effect_.get_op_id() != next->transition_id || effect_.get_op_length() != full)
    effect_.new_clip(next->transition_id, full, 0, 0);
  in_transition_ = 1;
  if (mix()) in_transition_ = 0;
  return 0;
}

int DTamsel::search(int frame, int reseek_audio, int reopen) {
  audio_restart_pending_ = 1;
  if (!list_ || !current_ || !dtv_) return 0;
  const int total = get_total_frames();
  frame = std::clamp(frame, 0, std::max(0, total - 1));
  // The clip that shows frame N: a transition frame belongs to the clip
  // that is left.
  MPEG_Clip* c = list_;
  while (c->next && frame > clip_last_edit_frame(c)) c = c->next;
  if (c != current_ || reopen) {
    if (open_main(c)) return get_curr_frame_offset();
    current_ = c;
    update_frame_rate();
  }
  const int index = frame - clip_first_edit_frame(c);
  dtv_->search(index, 1);
  update_clip_bounds();
  in_transition_ = 0;
  const int i = dtv_->get_position();
  if (i >= transition_out_start_ && current_->next) enter_transition(i - transition_out_start_);
  else if (i <= transition_in_end_)
    trace("DTamsel::search (ERROR): frame number is inconsistency (%d) <= (%d: start_end)\n", i,
          transition_in_end_);
  if (reseek_audio && audio_) audio_player_seek(reseek_audio);
  return get_curr_frame_offset();
}

int DTamsel::next_clip() {
  if (!dtv_ || !current_ || !current_->next) return 0;
  MPEG_Clip* next = current_->next;
  search(next->edit_position, 0, 0);
  return current_ == next ? 1 : 0;
}

int DTamsel::prev_clip() {
  if (!dtv_ || !current_ || !current_->prev) return 0;
  MPEG_Clip* prev = current_->prev;
  search(prev->edit_position, 0, 0);
  return current_ == prev ? 1 : 0;
}

int DTamsel::step_forward() {
  const int i = dtv_->get_position();
  if (i + 1 >= current_->count) {
    // Across the clip's end.
    MPEG_Clip* next = current_->next;
    if (!next) return 0;
    const int target = get_curr_frame_offset() + 1;
    if (in_transition_ && second_ && second_clip_ == next && next->count > next->transition_length) {
      // The second frame access already shows the next clip.
      std::swap(dtv_, second_);
      second_clip_ = current_;
      current_ = next;
      update_clip_bounds();
      in_transition_ = 0;
      update_frame_rate();
      if (dtv_->get_position() != target - clip_first_edit_frame(current_)) dtv_->forward(1);
      if (dtv_->get_position() >= transition_out_start_ && current_->next)
        enter_transition(dtv_->get_position() - transition_out_start_);
      return 1;
    }
    search(target, 0, 0);
    return 1;
  }
  if (!dtv_->forward(1)) return 0;
  const int k = dtv_->get_position();
  if (k >= transition_out_start_ && current_->next) {
    enter_transition(k - transition_out_start_);
  } else {
    in_transition_ = 0;
  }
  return 1;
}

int DTamsel::step_backward() {
  const int i = dtv_->get_position();
  if (i - 1 <= transition_in_end_ || i == 0) {
    const int at = get_curr_frame_offset();
    if (at <= 0) return 0;
    search(at - 1, 0, 0);
    return 1;
  }
  if (!dtv_->backward(1)) return 0;
  const int k = dtv_->get_position();
  if (k >= transition_out_start_ && current_->next) enter_transition(k - transition_out_start_);
  else in_transition_ = 0;
  return 1;
}

int DTamsel::forward(int n) {
  if (!dtv_) {
    trace("DTamsel::forward (ERROR): DTV hasn't created.\n");
    return 0;
  }
  if (n < 1) return 0;
  if (n > 1) {
    const int at = get_curr_frame_offset();
    return search(at + n, 0, 0) != at;
  }
  return step_forward();
}

int DTamsel::backward(int n) {
  if (!dtv_) {
    trace("DTamsel::backward (ERROR): DTV hasn't created.\n");
    return 0;
  }
  if (n < 1) return 0;
  if (n > 1) {
    const int at = get_curr_frame_offset();
    return search(at - n, 0, 0) != at;
  }
  return step_backward();
}

int DTamsel::set_play_mode(int bits) {
  if (!dtv_) return 0;
  const int old = dtv_->get_play_mode();
  dtv_->set_play_mode(bits);
  if (second_) second_->set_play_mode(bits);
  // Turning from backward to forward play: the sound restarts at the frame
  // shown, not where backward play left it.
  if (audio_ && (bits & kPlayForward) && (old & kPlayBackward)) audio_player_seek(1);
  return old;
}

int DTamsel::get_play_mode() const { return dtv_ ? dtv_->get_play_mode() : 0; }

Frame* DTamsel::get_dtv_screen() {
  if (!dtv_) {
    trace("DTamsel::get_dtv_screen (ERROR): DTV hasn't created.\n");
    return nullptr;
  }
  if (in_transition_ && effect_frame_) return effect_frame_.get();
  return dtv_->create_screen();
}

// Movie time runs from the first edit frame: each clip adds its frames
// without the transition into it, at its own rate.
static double clip_rate(const MPEG_Clip* c, double fallback) {
  return c->frame_rate > 1 ? c->frame_rate : fallback;
}

double DTamsel::frame_2_time(int frame) const {
  if (!list_) {
    trace("DTamsel::frame_2_time (): MPEG-Clip list hasn't created.\n");
    return 0;
  }
  double t = 0;
  for (const MPEG_Clip* c = list_; c; c = c->next) {
    const double rate = clip_rate(c, frame_rate_);
    const int own = c->count - c->transition_length;
    if (frame < c->edit_position + own || !c->next) return t + (frame - c->edit_position) / rate;
    t += own / rate;
  }
  return t;
}

int DTamsel::time_2_frame(double seconds) const {
  if (!list_) {
    trace("DTamsel::time_2_frame (): MPEG-Clip list hasn't created.\n");
    return 0;
  }
  if (!(seconds == seconds)) return 0;
  double t = 0;
  for (const MPEG_Clip* c = list_; c; c = c->next) {
    const double rate = clip_rate(c, frame_rate_);
    const int own = c->count - c->transition_length;
    const double length = own / rate;
    if (seconds < t + length - 0.5 / rate || !c->next)
      return c->edit_position + int(std::lround((seconds - t) * rate));
    t += length;
  }
  return 0;
}

// The clip that shows edit frame N: transition frames belong to the clip
// that is left (as search has it); null past the last clip.
static const MPEG_Clip* clip_of_frame(const MPEG_Clip* list, int frame) {
  for (const MPEG_Clip* c = list; c; c = c->next)
    if (frame <= clip_last_edit_frame(c)) return c;
  return nullptr;
}

static void timecode_text(uint32_t word, std::string* text) {
  const int drop = word >> 24 & 1, hh = word >> 19 & 31, mm = word >> 13 & 63, ss = word >> 6 & 63,
            ff = word & 63;
  char buf[SMPTE_TEXT_SIZE + 8];
  std::snprintf(buf, sizeof buf, drop ? "%d:%02d:%02d;%02d" : "%02d:%02d:%02d:%02d", hh, mm, ss, ff);
  *text = buf;
}

uint32_t DTamsel::get_frame_offset_timecode(int frame, std::string* text) const {
  if (!list_ || !dtv_) {
    trace("DTamsel::get_frame_offset_timecode (): MPEG-Clip list hasn't created.\n");
    return 0;
  }
  const MPEG_Clip* c = clip_of_frame(list_, frame);
  if (!c) {
    c = current_;
    frame = get_curr_frame_offset();
  }
  const uint32_t word = mpeg_clip_get_timecode(c, frame);
  if (text) timecode_text(word, text);
  return word;
}

int DTamsel::timecode_2_frame(const char* text) const {
  if (!list_ || !text) return -1;
  // The clip whose time codes hold the text, each counted at its own rate
  // and drop-frame rule from the time code of its first own frame.
  for (const MPEG_Clip* c = list_; c; c = c->next) {
    const double rate = clip_rate(c, frame_rate_);
    const uint32_t at = mpeg_clip_get_timecode(c, c->edit_position);
    const int drop = int(at >> 24 & 1);
    int h = 0, m = 0, sec = 0, p = 0;
    if (string_2_time_split(text, rate, drop, &h, &m, &sec, &p) != 0) return -1;
    const uint32_t word = uint32_t(drop) << 24 | uint32_t(h) << 19 | uint32_t(m) << 13 | 1u << 12 |
                          uint32_t(sec) << 6 | uint32_t(p);
    const int n = c->edit_position + tc25_to_frame(word, rate) - tc25_to_frame(at, rate);
    const int first = c->prev ? c->edit_position : clip_first_edit_frame(c);
    if (n >= first && n <= clip_last_edit_frame(c)) return n;
  }
  return -1;
}

int DTamsel::save_image(const char* file_name, int type, int quality) {
  if (!file_name || !*file_name || (type != 11 && type != 12 && type != 2 && type != 3)) {
    trace("DTamsel::save_image (ERROR): unsupported type=%d\n", type);
    return 0;
  }
  if (!list_ || !dtv_) {
    trace("DTamsel::save_image (ERROR): no movie\n");
    return 0;
  }
  // A reduced-size window saves the full picture: a full-size engine over
  // the same list shows the same edit frame.
  std::unique_ptr<DTamsel> full;
  DTamsel* from = this;
  if (size_mode_ != 0) {
    full = create(list_, 0);
    if (!full) {
      trace("DTamsel::save_image (ERROR): no full-size picture\n");
      return 0;
    }
    full->search(get_curr_frame_offset(), 0, 0);
    from = full.get();
  }
  Frame* frame = from->get_dtv_screen();
  if (!frame || !frame->image()) {
    trace("DTamsel::save_image (ERROR): no picture shown\n");
    return 0;
  }
  long long bytes = 0;
  if (type == 11) {
    bytes = frame->save_jpeg(file_name, quality);
  } else if (type == 12) {
    bytes = frame->save_bmp(file_name, 24);
  } else {
    int failed = 1;
    AddImageSequence seq(file_name, &failed);
    if (failed) return 0;
    const int aspect = from->dtv_->get_aspect_ratio_code();
    if (aspect > 0) seq.set_aspect_ratio(aspect);
    if (seq.add_image(frame->image()) && seq.close() == 0) bytes = seq.get_bytes_written();
    if (!bytes) utils_remove_partial_output(file_name);
  }
  return int(std::min<long long>(bytes, 0x7FFFFFFF));
}

#include "record/record_audio.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/clips/clip_list.h"
#include "engine/clips/clip_streams.h"
#include "foundation/audio_header.h"
#include "foundation/trace.h"
#include "record/record_data.h"
#include "mux/save.h"

int audio_mix_blocks(const int16_t* const* blocks, const int* counts, int n_blocks, int frame_samples, int16_t* out) {
  n_blocks = std::clamp(n_blocks, 0, 10);
  int longest = 0;
  for (int b = 0; b < n_blocks; ++b) longest = std::max(longest, std::min(counts[b], frame_samples));
  for (int i = 0; i < longest; ++i) {
    int sum = 0;
    // A block past its own samples adds zero: never what its buffer held before.
    for (int b = 0; b < n_blocks; ++b) sum += i < counts[b] ? blocks[b][i] : 0;
    out[i] = int16_t(n_blocks > 0 ? sum / n_blocks : 0);
  }
  std::fill(out + longest, out + std::max(frame_samples, longest), int16_t(0));
  return longest;
}

void save_audio_identity(ESData* a, uint32_t taken[8]) {
  auto take = [taken](int lo, int hi, int want) {
    uint32_t* mask = taken;
    auto used = [mask](int id) { return (mask[(id >> 5) & 7] >> (id & 31)) & 1u; };
    int id = want >= lo && want <= hi && !used(want) ? want : -1;
    for (int k = lo; id < 0 && k <= hi; ++k)
      if (!used(k)) id = k;
    if (id < 0) id = lo;
    mask[(id >> 5) & 7] |= 1u << (id & 31);
    return id;
  };
  const bool ac3 = a->ac3 || a->kind == ES_KIND_AC3;
  const bool mpeg = !ac3 && !a->lpcm && a->kind == ES_KIND_MPEG_AUDIO && a->layer > 0;
  if (ac3) {
    a->kind = ES_KIND_AC3;
    a->stream_id = take(0x80, 0x87, a->stream_id);
    return;
  }
  if (!mpeg) {
    // Linear PCM cannot be carried beside the video of every kind: MPEG audio.
    const int rate = a->sample_rate;
    a->lpcm = 0;
    a->ac3 = 0;
    a->layer = 2;
    a->sample_rate = rate == 32000 || rate == 44100 || rate == 48000 ? rate : 48000;
    a->channels = a->get_channel_count() == 1 ? 1 : 2;
    a->audio_bit_rate = mpeg_audio_nearest_bit_rate(a->channels == 1 ? 128000 : 224000, 2);
  }
  a->kind = ES_KIND_MPEG_AUDIO;
  a->stream_id = take(0xC0, 0xDF, a->stream_id);
}

// ---- SaveAudio --------------------------------------------------------------------

SaveAudio::SaveAudio() : scales_(1) {}

SaveAudio::~SaveAudio() {
  mpeg_clip_list_free(audio_list_);
  for (MPEG_Clip* l : extra_) mpeg_clip_list_free(l);
}

int SaveAudio::set_pcm_scale(int track, const std::vector<PCMScalePoint>& points) {
  if (track < 0 || track > int(extra_.size())) return 1;
  scales_[size_t(track)] = points;
  return 0;
}

int SaveAudio::add_track(const MPEG_Clip* list) {
  if (!list || extra_.size() >= 9) return 1;
  extra_.push_back(clip_list_duplicate(list));
  scales_.emplace_back();
  return 0;
}

int SaveAudio::fail(const std::string& why) {
  message_ = why;
  trace("SaveAudio::init (ERROR): %s\n", why.c_str());
  return 1;
}

bool SaveAudio::clip_matches(const MPEG_Clip& c, bool* has_audio) const {
  DAPlayer p;
  *has_audio = p.new_clip(c, 0.0, 0.0) == 0 && p.list() && p.get_sample_rate() > 0;
  if (!*has_audio) return true;  // silent frames of the output format stand in
  const DAList* l = p.list();
  if (l->is_lpcm() || l->is_ac3() != ac3_) return false;
  if (l->get_sample_rate() != out_.sample_rate || l->get_bit_rate() != out_.audio_bit_rate) return false;
  if (ac3_) return true;  // channels: the stream's own layout is what is copied
  return l->get_layer() == out_.layer && l->get_channels() == out_.channels;
}

int SaveAudio::init(const MPEG_Clip* clips, ESData* out, double frame_rate) {
  if (!clips || !out) return fail("no clips");
  out_ = *out;
  frame_rate_ = frame_rate > 0.1 ? frame_rate : 25.0;
  ac3_ = out_.ac3 || out_.kind == ES_KIND_AC3;
  int errors = 0;
  if (out_.channels != 1 && out_.channels != 2) {
    trace("DARecorder::ctor (ERROR): channels=%d is illegal\n", out_.channels);
    ++errors;
  }
  if (out_.sample_rate != 44100 && out_.sample_rate != 48000 && out_.sample_rate != 32000) {
    trace("DARecorder::ctor (ERROR): sample_rate=%.1f kHz not supported\n", out_.sample_rate * 0.001);
    ++errors;
  }
  if (!ac3_ && (out_.layer < 1 || out_.layer > 3)) {
    trace("DARecorder::ctor (ERROR): layer=%d is illegal\n", out_.layer);
    ++errors;
  }
  if (errors) return fail("unsupported output format"), errors;
  if (!ac3_) {
    const int valid = mpeg_audio_nearest_bit_rate(out_.audio_bit_rate, out_.layer);
    if (valid > 0 && valid != out_.audio_bit_rate) {
      trace("Warning (DARecorder::ctor): valide bit rate=%.3f for %.3f kbs\n", valid / 1000.0,
            out_.audio_bit_rate / 1000.0);
      out_.audio_bit_rate = valid;
    }
  }
  samples_ = ac3_ ? 1536 : out_.layer == 1 ? 384 : 1152;

  // Copy when every clip with sound has the output's format and nothing
  // changes the sound; clips without sound get silent frames.
  bool unity = extra_.empty();
  for (const auto& s : scales_)
    for (const PCMScalePoint& p : s) unity = unity && std::fabs(p.gain - 1.0f) < 0.0001f;
  bool all_match = true;
  int with_audio = 0;
  for (const MPEG_Clip* c = clips; c; c = c->next) {
    bool has = false;
    all_match = clip_matches(*c, &has) && all_match;
    with_audio += has ? 1 : 0;
  }
  if (!with_audio && extra_.empty()) return fail("no embedded audio in the clips");
  const bool copy_only = ac3_ || out_.layer == 3;
  if (copy_only && (!all_match || !extra_.empty())) {
    // Frames of this format cannot be made: the stream becomes layer II.
    trace("SaveAudio::init (Warning): the clips' audio differs from the output format; encoding MPEG audio\n");
    uint32_t none[8] = {};
    out_.ac3 = 0;
    out_.kind = ES_KIND_LPCM;  // re-identified below as MPEG audio
    out_.lpcm = 1;
    save_audio_identity(&out_, none);
    ac3_ = false;
    samples_ = 1152;
  } else if (copy_only && !unity) {
    // Nothing can encode this format: copying keeps every frame and the sync.
    trace("SaveAudio::init (Warning): gain envelope ignored for a copied AC-3 or layer III stream\n");
    unity = true;
  }
  copy_ = all_match && unity && extra_.empty();
  *out = out_;
  if (copy_) {
    audio_list_ = mpeg_clip_get_audio_range(const_cast<MPEG_Clip*>(clips), out_.sample_rate, ac3_ ? 0 : out_.layer,
                                            frame_rate_);
    if (!audio_list_) return fail("no audio range");
    const int type = ac3_ ? AudioMuteFrame::kAC3 : AudioMuteFrame::kMpeg;
    if (mute_.init(type, out_.sample_rate, out_.channels, out_.audio_bit_rate, ac3_ ? 0 : out_.layer) == 0) {
      mute_frame_.assign(size_t(std::max(mute_.get_frame_size(), 0) + 32768), 0);
      mute_frame_.resize(size_t(std::max(mute_.next_frame(mute_frame_.data(), int(mute_frame_.size())), 0)));
    }
    for (const MPEG_Clip* c = audio_list_; c; c = c->next) {
      DAPlayer p;
      if (p.new_clip(*c, 0.0, 0.0) == 0 && p.list())
        max_source_frame_ = std::max(max_source_frame_, p.list()->get_max_frame_size());
    }
    cur_ = audio_list_;
    left_in_clip_ = -1;
    return 0;
  }
  enc_ = std::make_unique<AudioEncoder>(out_.sample_rate, out_.channels, out_.audio_bit_rate, out_.layer, 2);
  enc_->set_error_protection(crc_);
  samples_ = enc_->samples_per_frame();
  auto open_track = [&](const MPEG_Clip* list, size_t k) {
    auto t = std::make_unique<DATrack>();
    if (t->init(list, out_.sample_rate, out_.channels) != 0) return false;
    t->set_pcm_scale(scales_[k]);
    t->seek(0.0);
    tracks_.push_back(std::move(t));
    return true;
  };
  if (!open_track(clips, 0)) return fail("the clips' sound cannot be opened");
  for (size_t k = 0; k < extra_.size(); ++k)
    if (!open_track(extra_[k], k + 1)) return fail("a mixed track cannot be opened");
  left_ = tracks_[0]->total_samples();
  return 0;
}

double SaveAudio::get_frame_duration() const { return double(samples_) / std::max(out_.sample_rate, 1); }

int SaveAudio::get_max_frame_bytes() const {
  if (enc_) return enc_->max_frame_bytes();
  return std::max({max_source_frame_, int(mute_frame_.size()), ac3_ ? 3840 : 2016});
}

bool SaveAudio::open_copy_clip() {
  while (cur_) {
    const double d = get_frame_duration();
    left_in_clip_ = cur_->count;
    // The range starts with the source frame whose time stamp lies nearest
    // to its first video frame's, moved by what the audio written so far
    // runs ahead of the video: the offset of each join stays within half a
    // frame of the source's own, and the error does not add up.
    const double want = cur_->video_start + (cur_->audio_start - cur_->video_output);
    double at = (cur_->start + 0.5) * d;
    if (player_.new_clip(*cur_, want, cur_->count * d) == 0 && player_.list()) {
      const double shift = player_.stream_shift();
      at = shift + (std::floor((want - shift) / d + 0.5) + 0.5) * d;
    }
    // The player counts the frame holding the time: aim at its middle.
    cur_has_audio_ = player_.new_clip(*cur_, at, cur_->count * d) == 0 && player_.list();
    if (left_in_clip_ > 0) return true;
    cur_ = cur_->next;
  }
  return false;
}

int SaveAudio::next_copied(uint8_t* dst, int room) {
  for (;;) {
    if (!cur_) {
      done_ = true;
      return 0;
    }
    if (left_in_clip_ < 0 && !open_copy_clip()) {
      cur_ = nullptr;
      continue;
    }
    if (left_in_clip_ > 0) break;
    cur_ = cur_->next;
    left_in_clip_ = -1;
  }
  --left_in_clip_;
  int n = cur_has_audio_ ? player_.get_next_frame(dst, room) : 0;
  if (n > 0) {
    ++copied_;
    last_frame_.assign(dst, dst + n);
    return n;
  }
  // Past the clip's sound (or none at all): a silent frame keeps the time.
  // A format that has none repeats the frame copied last rather than lose
  // the frame's time.
  const std::vector<uint8_t>& fill = mute_frame_.empty() ? last_frame_ : mute_frame_;
  if (fill.empty() || int(fill.size()) > room) {
    trace("SaveAudio (ERROR): no frame to fill %.3f s of stream 0x%02x\n", get_frame_duration(), out_.stream_id);
    return 0;
  }
  if (mute_frame_.empty()) trace("SaveAudio (Warning): no silent frame of this format; the last frame repeats\n");
  std::memcpy(dst, fill.data(), fill.size());
  ++silent_;
  return int(fill.size());
}

int SaveAudio::next_encoded(uint8_t* dst, int room) {
  if (left_ <= 0) {
    done_ = true;
    return 0;
  }
  const int per = samples_ * out_.channels;
  const int want = int(std::min<int64_t>(per, left_));
  std::vector<const int16_t*> blocks;
  std::vector<int> counts;
  for (auto& t : tracks_) {
    int got = 0;
    const int16_t* p = t->get_pcm(want, &got);
    if (!p) got = 0;
    blocks.push_back(p);
    counts.push_back(std::clamp(got, 0, want));
  }
  left_ -= want;
  const int16_t* pcm = blocks[0];
  int got = counts[0];
  if (tracks_.size() > 1) {
    mix_.assign(size_t(per), 0);
    for (size_t k = 0; k < blocks.size(); ++k)
      if (!blocks[k]) counts[k] = 0;
    got = audio_mix_blocks(blocks.data(), counts.data(), int(blocks.size()), per, mix_.data());
    pcm = mix_.data();
  }
  // The last frame is filled out with zeros by the encoder.
  const int n = enc_->encode_next_frame(dst, room, pcm, std::max(got, 0) / out_.channels);
  if (n > 0) ++encoded_;
  if (left_ <= 0) done_ = true;
  return n;
}

int SaveAudio::encode_next_frame(uint8_t* dst, int room) {
  if (done_ || !dst) return 0;
  return copy_ ? next_copied(dst, room) : next_encoded(dst, room);
}

// ---- SaveAudioSet ---------------------------------------------------------------------

namespace {

std::vector<ESData> clip_audio_streams(const MPEG_Clip* c) {
  std::vector<ESData> es(10), out;
  const int n = mpeg_clip_get_es_data(c, es.data(), int(es.size()));
  for (int i = 0; i < n; ++i)
    if (!es[size_t(i)].is_video() && es[size_t(i)].is_audio()) out.push_back(es[size_t(i)]);
  return out;
}

}  // namespace

int SaveAudioSet::open(const MPEG_Clip* clips, const RecordData& d, double frame_rate) {
  streams_.clear();
  es_.clear();
  if (!clips || d.n_es < 2) return 0;
  const MPEG_Clip* ref = clips;
  for (int i = 0; i < d.ref_clip && ref && ref->next; ++i) ref = ref->next;
  const std::vector<ESData> ref_streams = clip_audio_streams(ref);
  std::vector<MPEG_Clip*> lists;
  // Several streams only when every clip carries each of them alike.
  if (ref_streams.size() >= 2) {
    for (size_t i = 0; i < ref_streams.size() && i < 8; ++i) {
      MPEG_Clip* l = mpeg_clip_select_audio_track(clips, int(i));
      if (!l) {
        for (MPEG_Clip* x : lists) mpeg_clip_list_free(x);
        lists.clear();
        break;
      }
      lists.push_back(l);
    }
  }
  uint32_t taken[8] = {};
  auto add = [&](const MPEG_Clip* list, ESData out, const std::vector<MPEG_Clip*>& mixed) {
    save_audio_identity(&out, taken);
    auto s = std::make_unique<SaveAudio>();
    s->set_crc(d.audio_crc != 0);
    for (const MPEG_Clip* m : mixed) s->add_track(m);
    if (!d.pcm_scale.empty()) {
      std::vector<PCMScalePoint> pts;
      for (size_t k = 0; k + 1 < d.pcm_scale.size(); k += 2)
        pts.push_back(PCMScalePoint{float(d.pcm_scale[k]), float(d.pcm_scale[k + 1])});
      // The envelope is the movie's: every mixed track follows it.
      for (size_t k = 0; k <= mixed.size(); ++k) s->set_pcm_scale(int(k), pts);
    }
    const int old_id = out.stream_id;
    if (s->init(list, &out, frame_rate) != 0) {
      trace("SaveAudioSet::open (ERROR): audio stream 0x%02x left out: %s\n", old_id, s->message().c_str());
      return;
    }
    // A stream that changed its format takes a fresh id of the new family.
    if (out.stream_id != old_id) save_audio_identity(&out, taken);
    if (d.audio_pid > 0) out.pid = d.audio_pid + int(streams_.size());
    streams_.push_back(std::move(s));
    es_.push_back(out);
  };
  if (lists.size() >= 2 && d.mix_audio) {
    // One stream of the chosen format (else the first stream's) carrying
    // the sound of them all.
    add(lists[0], d.audio.is_audio() ? d.audio : ref_streams[0], {lists.begin() + 1, lists.end()});
  } else if (lists.size() >= 2) {
    for (size_t i = 0; i < lists.size(); ++i) add(lists[i], ref_streams[i], {});
  } else if (d.audio.is_audio()) {
    add(clips, d.audio, {});
  } else {
    // The reference clip's selected stream in its own format.
    MPEG_Clip probe(*ref);
    probe.prev = probe.next = nullptr;
    ESData a;
    if (mpeg_clip_get_audio_es_data(&probe, &a)) add(clips, a, {});
  }
  for (MPEG_Clip* x : lists) mpeg_clip_list_free(x);
  time_.assign(streams_.size(), 0.0);
  ids_.resize(streams_.size());
  pids_.resize(streams_.size());
  for (size_t k = 0; k < es_.size(); ++k) {
    ids_[k] = es_[k].stream_id;
    pids_[k] = es_[k].pid;
  }
  size_t room = 0;
  for (auto& s : streams_) room = std::max(room, size_t(s->get_max_frame_bytes()));
  buf_.assign(room * 16 + 32, 0);
  return count();
}

void SaveAudioSet::bind(const Save& save) {
  int ids[8] = {}, pids[8] = {};
  const int n = save.get_audio_ids(ids, pids, 8);
  for (int k = 0; k < n && k < count(); ++k) {
    ids_[size_t(k)] = ids[k];
    pids_[size_t(k)] = pids[k];
  }
}

int SaveAudioSet::write_stream(Save* save, size_t k, double until) {
  SaveAudio& s = *streams_[k];
  const double d = s.get_frame_duration();
  const int most = s.get_max_frame_bytes();
  size_t fill = 0;
  int rc = 0;
  auto drain = [&] {
    if (fill && save->save_abs(buf_.data(), int(fill), ids_[k], pids_[k]) <= 0) rc = -1;
    fill = 0;
  };
  while (!s.is_done() && time_[k] < until) {
    if (buf_.size() - fill < size_t(most)) drain();
    const int n = s.encode_next_frame(buf_.data() + fill, int(buf_.size() - fill));
    if (n <= 0) {
      if (!s.is_done()) {
        trace("SaveAudioSet (ERROR): stream 0x%02x gave no frame\n", ids_[k]);
        break;
      }
      continue;
    }
    fill += size_t(n);
    time_[k] += d;
  }
  drain();
  return rc;
}

int SaveAudioSet::pump(Save* save, double video_time) {
  int rc = 0;
  for (size_t k = 0; k < streams_.size(); ++k)
    if (write_stream(save, k, video_time + 3 * streams_[k]->get_frame_duration()) < 0) rc = -1;
  return rc;
}

int SaveAudioSet::finish(Save* save) {
  int rc = 0;
  for (size_t k = 0; k < streams_.size(); ++k)
    if (write_stream(save, k, 1e300) < 0) rc = -1;
  return rc;
}

std::vector<SaveAudioReport> SaveAudioSet::report() const {
  std::vector<SaveAudioReport> r;
  for (size_t k = 0; k < streams_.size(); ++k) {
    SaveAudioReport a;
    a.stream_id = ids_[k];
    a.pid = pids_[k];
    a.kind = es_[k].kind;
    a.frames = streams_[k]->frames();
    a.copied = streams_[k]->copied();
    a.encoded = streams_[k]->encoded();
    r.push_back(a);
  }
  return r;
}

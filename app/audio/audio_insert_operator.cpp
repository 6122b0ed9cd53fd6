#include "app/audio/audio_insert_operator.h"

#include <algorithm>

#include "audio/track/audio_editor.h"
#include "engine/clips/clip_streams.h"
#include "engine/clips/mixer.h"
#include "platform/services.h"

namespace {

void say(const std::string& text) { platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok, text); }

}  // namespace

int audio_mixer_kind(int op) {
  MixerOp f = op > 0 ? mixer_op_get_function(op) : nullptr;
  return f ? f(0.0, 0.0, 0, nullptr, nullptr, nullptr, nullptr) : 0;
}

AudioInsertOutcome ApplyAudioInsertOperator(AudioTrackPort& track, const std::string& file, double source_start,
                                            double source_length, double insert_point, double track_length,
                                            int* start_op, double* start_length, int* end_op, double* end_length) {
  AudioInsertOutcome out;
  if (file.empty()) {
    // An effect alone: an end operator without a start one serves as it.
    if (*end_op && !*start_op) {
      *start_op = *end_op;
      *start_length = *end_length;
    }
    if (!*start_op) {
      say("No proper insert operator selected");
      return out;
    }
    if (*start_length == 0) {
      say("Zero insert length");
      return out;
    }
    const int kind = audio_mixer_kind(*start_op);
    if (!kind) {
      say("Selected operator not found");
      return out;
    }
    double room = track_length - insert_point;
    if (kind > 1 && insert_point < room) room = insert_point;
    if (*start_length > room) *start_length = room;
    if (*start_length <= 0) {
      say("No proper insertion point selected");
      return out;
    }
    std::unique_ptr<EClip> snapshot = track.copy(0.0, 0.0);
    if (!snapshot || !track.add_effect(insert_point, *start_op, *start_length)) return out;
    out.kind = 4;
    out.snapshot = std::move(snapshot);
    out.piece_start = insert_point - (kind == 2 ? *start_length : 0.0);
    out.piece_length = *start_length;
    return out;
  }

  int start_kind = 0;
  if (*start_op && *start_length != 0) {
    start_kind = audio_mixer_kind(*start_op);
    if (!start_kind) {
      say("Selected start operator not found");
      *start_op = 0;
      *start_length = 0;
    } else {
      if (start_kind > 1 && *start_length > insert_point) {
        *start_length = insert_point;
        if (*start_length <= 0) *start_op = 0;
      }
      if (*start_length > source_length) {
        *start_length = source_length;
        if (*start_length <= 0) *start_op = 0;
        *end_op = 0;
        *end_length = 0;
      }
    }
  }
  if (!*start_op) start_kind = 0;
  if (*end_op && *end_length != 0) {
    const int end_kind = audio_mixer_kind(*end_op);
    if (!end_kind) {
      say("Selected ending operator not found");
      *end_op = 0;
    } else {
      const double room = track_length - insert_point;
      if (end_kind > 1 && *end_length > room) {
        *end_length = room;
        if (*end_length <= 0) *end_op = 0;
      }
      const double rest = source_length - (start_kind > 1 ? *start_length : 0.0);
      if (*end_length > rest) {
        *end_length = rest;
        if (*end_length <= 0) *end_op = 0;
      }
    }
  }

  std::unique_ptr<EClip> snapshot = track.copy(0.0, 0.0);
  if (!snapshot) return out;
  EClip source;
  if (AudioEditor::load_project(file.c_str(), &source) != 0 || source.clips.empty()) {
    say("<" + file + ">: NOT a valid audio input file");
    return out;
  }
  Clip c = source.clips.front();
  const double period = clip_get_frame_period(&c);
  const double f = period > 0 ? 1.0 / period : 1.0;
  const int first = int(source_start * f);
  int frames = int(source_length * f);
  if (first < 0 || first >= c.count) {
    say("<" + file + ">: NOT a valid audio input file");
    return out;
  }
  // The piece: from the source start for the source length, inside the file.
  if (frames <= 0 || first + frames > c.count) frames = c.count - first;
  c.start += first;
  c.count = frames;
  const int start_frames = int(*start_length * f), end_frames = int(*end_length * f);
  double moved = 0.0;
  if (*start_op && start_frames > 0) {
    if (start_kind == 1) {
      c.insert_overlay(*start_op, c.start, start_frames);
    } else {
      c.transition_id = *start_op;
      c.transition_length = start_frames;
      moved = *start_length;
    }
  }
  if (*end_op && end_frames > 0 && audio_mixer_kind(*end_op) == 1) {
    c.insert_overlay(*end_op, c.start + frames - end_frames, end_frames);
    *end_op = 0;  // laid over the piece: nothing left for the paste
  }
  EClip piece;
  piece.clips.push_back(c);
  if (!track.paste(piece, insert_point, *end_op, *end_op ? *end_length : 0.0)) return out;
  out.kind = 3;
  out.snapshot = std::move(snapshot);
  out.piece_start = insert_point - moved;
  out.piece_length = frames / f;
  return out;
}

// Applying an insertion to the audio track: a piece of another file with
// a start and an end effect, or an effect alone at the insertion point.
// The settings come in as values; those the rules correct (operators
// dropped, lengths fitted to the room) are written back.
#pragma once

#include <memory>
#include <string>

#include "app/audio/audio_track_port.h"

struct AudioInsertOutcome {
  int kind = 0;  // 3 a file inserted, 4 an effect alone; 0 nothing done
  std::unique_ptr<EClip> snapshot;  // the track before
  double piece_start = 0.0, piece_length = 0.0;  // what the marks show, seconds
};

// The kind of a mixer operation (1 over one track, 2 between two); 0 when
// the id names none.
int audio_mixer_kind(int op);

// Every refusal says why (but a file that cannot be read) and leaves the
// track as it was.
AudioInsertOutcome ApplyAudioInsertOperator(AudioTrackPort& track, const std::string& file, double source_start,
                                            double source_length, double insert_point, double track_length,
                                            int* start_op, double* start_length, int* end_op, double* end_length);

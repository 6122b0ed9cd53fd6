// What an editor's engine hands to a save besides the edit list: the
// encoder option words, the audio encoder, the transport PIDs and the
// output flags. One value per engine (never process-wide), set through the
// facade or from a save project.
#pragma once

#include <vector>

struct EngineAudioEncoder {
  int set = 0;  // 1: the fields below replace the movie's own audio format
  int layer = 2;
  int sample_rate = 44100;
  int channels = 2;
  int bit_rate = 224000;
  int clip_select = -1;
  int copy = 0;  // 1: audio frames are copied, not re-encoded
  int crc = 0;   // 1: encoded audio frames carry a CRC
};

struct EngineSettings {
  // DCT coefficients the picture decoders keep; 64 keeps all.
  int coef_limit = 64;
  // The encoder option words (the names of VideoEncoderData).
  int filter[4] = {1, 0, 1, 0};
  int me[3] = {0, 0, 0};
  int reserved = 1;
  int gop_size = 0;
  int sub_gop_size = -1;
  int gop_option = 0;
  int fixed_mquant = 0;
  int fixed_mq_max_bit_rate = 0;
  int reserved_word = 0;
  // 1: a GOP is re-encoded from its own macroblock decisions instead of
  // being copied.
  int record_option = 0;
  // 1..14: the aspect ratio code of the output; 0 keeps the source's.
  int index_option = 0;
  // 1 (4:2:0) or 2 (4:2:2) for the output; 0 keeps the source's.
  int output_chroma_format = 0;
  EngineAudioEncoder audio;
  int gop_fix = 0;
  // 1: an output of kind 6 is a Super Video CD.
  int svcd = 0;
  // 1: an output of kind 6 carries DVD navigation packs.
  int dvd = 0;
  // Transport PIDs; 0 lets the multiplexer choose.
  int video_pid = 0, audio_pid = 0, program_pid = 0;
  // 1: whole GOPs only, nothing re-encoded at the cuts.
  int gop_only = 0;
  // The audio's volume envelope: pairs of (seconds, gain); empty keeps it.
  std::vector<double> gain;
  // The clip of the saved range whose stream the output takes (frame rate,
  // size, a transport's tables); -1: the first.
  int ref_clip = -1;
};

// Calculation partitions of psychoacoustic model 2 for a 1024-point
// spectrum at 32, 44.1 and 48 kHz, as the standard tabulates them.
#pragma once

// One partition: its width in spectral lines, the least signal-to-noise
// ratio it asks for (dB), its threshold in quiet (energy over the
// partition, of a transform scaled by 1/1024 of 16-bit samples), the
// normalisation of the energy spread into it and its critical-band rate.
struct PsyPartition {
  int lines;
  double minval, qthr, norm, bval;
};

struct PsyPartitionTable {
  const PsyPartition* parts = nullptr;
  int count = 0;
  int lines = 0;  // lines covered from line 0; those above take the last partition
};

// The table of 32000, 44100 or 48000 Hz; an empty one with a trace for any
// other rate.
PsyPartitionTable psy_model2_partitions(int sample_rate);

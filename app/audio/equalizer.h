// The 32-band equalizer of the audio window: gain units, their linear
// subband gains, the built-in presets, filter files (".eqz") and the list
// of filter files ("equalize.cfg").
#pragma once

#include <array>
#include <ctime>
#include <string>
#include <vector>

#include "app/audio/player_config.h"

using GainSet = std::array<int, 64>;  // 32 left bands, then 32 right

// The linear gains the decoder scales its subbands by: band g gives
// (g - 12) / 2 dB (truncated), the preamp p gives p - 12 dB.
std::array<double, 64> equalizer_filters(const GainSet& gains, int preamp);

// "Low Freq. (< 5kHz)" and "High Freq. (> 5kHz)" on both channels.
GainSet low_frequency_preset();
GainSet high_frequency_preset();

inline constexpr const char* kEqualizerListName = "equalize.cfg";

std::string format_filter_file(const std::string& path, const GainSet& gains, int preamp);
// Reads band lines until 32 are read: true with all 32. A value outside
// 0..24, or a line without two numbers, ends the reading; *bands gets the
// bands read (the preamp line is never read back).
bool parse_filter_file(const std::string& text, GainSet* gains, int* bands);

std::string format_filter_list(const std::vector<std::string>& paths, const std::string& folder, std::time_t when);
struct FilterList {
  std::vector<std::string> paths;
  std::string folder;
};
FilterList parse_filter_list(const std::string& text);

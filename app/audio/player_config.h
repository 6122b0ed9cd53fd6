// The audio window's files: "Sorvane.cfg" (settings, then the play list)
// and play lists (".als"), line-oriented text.
#pragma once

#include <array>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "app/audio/play_list.h"

// The equalizer selection stored with a play list: 32 left and 32 right
// band gains (0..24, 12 = 0 dB) and the preamp.
struct EqualizerSelection {
  std::array<int, 64> gains{};
  int preamp = 12;
  EqualizerSelection() { gains.fill(12); }
  bool operator==(const EqualizerSelection&) const = default;
};

struct PlayerConfig {
  int track_index = -1, position = 0;
  int editor = 0, loop = 2, loop_player = 2;
  int mark_state = 0, mark_start = 0, mark_end = 1000;
  std::string init_path, list_path, lyrics_path, insert_path, save_path;
  int insert_scale[2] = {0, 0};
  bool window_read = false;
  int left = 0, top = 0, right = 0, bottom = 0;
  int volume = -1;  // -1: none read
};

inline constexpr const char* kPlayerConfigName = "Sorvane.cfg";

// The play list as written: "#", the entries, the equalizer block.
std::string format_track_list(const std::vector<AudioTrackEntry>& list, const EqualizerSelection& eq);
// The whole configuration file; the play list follows when there are
// entries. `when` is the local time of the date line.
std::string format_player_config(const PlayerConfig& c, const std::vector<AudioTrackEntry>& list,
                                 const EqualizerSelection& eq, std::time_t when);

struct TrackListRead {
  std::vector<AudioTrackEntry> entries;  // valid entries in file order
  bool equalizer_read = false;           // a block without any value out of range
  EqualizerSelection equalizer;
};
// Reads the play-list lines of a text; `readable` tells whether an
// entry's media file opens (entries of files that do not are skipped).
TrackListRead parse_track_list(const std::string& text, const std::function<bool(const std::string&)>& readable);
// Reads the settings lines (the play list is read apart); the index and
// position are not yet checked against the list.
PlayerConfig parse_player_config(const std::string& text);
// The index kept after reading n entries, and the position clamped into a
// segment.
void settle_player_config(PlayerConfig* c, int entries);

bool file_readable(const std::string& path);

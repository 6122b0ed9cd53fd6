// The audio window's play list: one entry per audio stream of a file, in
// list order, with the rules for same tracks, list texts and the next
// track to play.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct AudioTrackEntry {
  std::string path;
  std::string label;
  std::string lyrics;
  int duration = 0;  // whole seconds
  int play = 1;      // takes part in sequential and random play
  // 0 for a file's only stream; else the stream's id and, in a transport
  // stream, its PID (two streams may share an id there).
  int stream_id = 0;
  int pid = 0;
  // 1-based place of the stream in its file, for ids that give no number.
  int place = 0;
};

enum class LoopMode { None = 0, One = 1, All = 2, Random = 3 };

// The label a path gets when none is given: the name after the last '/'.
std::string default_track_label(const std::string& path);
// "[m:ss]  label", "[h:mm:ss] (n) label", ...; empty without path and label.
std::string track_list_text(const AudioTrackEntry& e);
// Same file (byte for byte) and same stream, a 0 matching any.
bool same_track(const AudioTrackEntry& a, const AudioTrackEntry& b);
// The list text without its leading "[time]" and the blanks after it.
std::string strip_list_time(const std::string& text);

// 15-bit pseudo-random numbers 0..32767 for shuffle play.
using Random15 = std::function<int()>;
// The generator used unless one is injected: a 15-bit linear congruential
// one, never seeded, as the C library's rand() is on some systems.
Random15 default_random15();

// The next ticked entry after `current` under the loop mode, -1 for none.
int next_track_index(const std::vector<AudioTrackEntry>& list, int current, LoopMode mode, const Random15& rnd);

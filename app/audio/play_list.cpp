#include "app/audio/play_list.h"

#include <cstdio>
#include <memory>

std::string default_track_label(const std::string& path) {
  const size_t p = path.find_last_of('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string track_list_text(const AudioTrackEntry& e) {
  if (e.path.empty() && e.label.empty()) return {};
  const std::string label = e.label.empty() ? default_track_label(e.path) : e.label;
  const int d = e.duration < 0 ? 0 : e.duration;
  char time[48];
  if (d >= 3600)
    std::snprintf(time, sizeof time, "[%d:%02d:%02d]", d / 3600, d / 60 % 60, d % 60);
  else
    std::snprintf(time, sizeof time, "[%d:%02d]", d / 60, d % 60);
  if (e.stream_id == 0) return std::string(time) + "  " + label;
  // Streams told apart by PID may share an id: their place numbers them.
  const bool mpeg_id = e.stream_id >= 0xC0 && e.stream_id <= 0xDF;
  const int n = mpeg_id && (e.pid == 0 || e.place == 0) ? e.stream_id - 191 : e.place;
  return std::string(time) + " (" + std::to_string(n) + ") " + label;
}

bool same_track(const AudioTrackEntry& a, const AudioTrackEntry& b) {
  if (a.path != b.path) return false;
  if (a.stream_id == 0 || b.stream_id == 0) return true;
  return a.stream_id == b.stream_id && (a.pid == 0 || b.pid == 0 || a.pid == b.pid);
}

std::string strip_list_time(const std::string& text) {
  if (text.empty() || text[0] != '[') return text;
  size_t p = text.find(']');
  if (p == std::string::npos) return text;
  ++p;
  while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
  return text.substr(p);
}

Random15 default_random15() {
  auto state = std::make_shared<unsigned>(1u);
  return [state] {
    *state = *state * 1103515245u + 12345u;
    return int((*state / 65536u) % 32768u);
  };
}

int next_track_index(const std::vector<AudioTrackEntry>& list, int current, LoopMode mode, const Random15& rnd) {
  const int n = int(list.size());
  int start = current;
  if (mode == LoopMode::Random && rnd) {
    const int r = int(double(rnd()) * n * (1.0 / 32767.0));
    // The search takes the entry after its start: a pick that would land
    // on the current entry starts one further.
    if (r >= 0 && r < n) {
      if (current == 0)
        start = r == n - 1 ? 0 : r;
      else
        start = r == current - 1 ? current : r;
    }
  }
  bool wrapped = mode != LoopMode::All && mode != LoopMode::Random;
  int i = start;
  for (int guard = 0; guard <= 2 * n + 1; ++guard) {
    ++i;
    if (i >= n) {
      if (wrapped) return -1;
      wrapped = true;
      i = 0;
    }
    if (i < 0) i = 0;
    if (list[size_t(i)].play) return i;
  }
  return -1;
}

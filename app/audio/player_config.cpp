#include "app/audio/player_config.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> out;
  size_t p = 0;
  while (p < text.size()) {
    size_t e = text.find('\n', p);
    if (e == std::string::npos) e = text.size();
    std::string line = text.substr(p, e - p);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(std::move(line));
    p = e + 1;
  }
  return out;
}

bool starts_with(const std::string& s, const char* key) { return s.compare(0, std::strlen(key), key) == 0; }

std::string trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace((unsigned char)s[a])) ++a;
  while (b > a && std::isspace((unsigned char)s[b - 1])) --b;
  return s.substr(a, b - a);
}

// The value after a key: from one character after it, trimmed.
std::string rest_of(const std::string& line, const char* key) {
  const size_t k = std::strlen(key) + 1;
  return k >= line.size() ? std::string() : trim(line.substr(k));
}

// Integers after the key, at most max; the number read.
int ints_of(const std::string& line, const char* key, long long* out, int max) {
  const size_t k = std::strlen(key) + 1;
  if (k > line.size()) return 0;
  const char* p = line.c_str() + k;
  int n = 0;
  while (n < max) {
    char* end = nullptr;
    const long long v = std::strtoll(p, &end, 10);
    if (end == p) break;
    out[n++] = v;
    p = end;
  }
  return n;
}

bool fits_int(long long v) { return v >= -2147483647LL && v <= 2147483647LL; }

// Ids a stream entry may carry: MPEG audio (0xC0-0xDF), private stream 1
// and the sub-stream ids of AC-3, DTS and LPCM inside it.
bool valid_stream_id(long long id) { return id == 0 || (id >= 0xC0 && id <= 0xDF) || id == 0xBD || (id >= 0x80 && id <= 0xAF); }

void append(std::string* out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void append(std::string* out, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list copy;
  va_copy(copy, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n > 0) {
    const size_t at = out->size();
    out->resize(at + size_t(n) + 1);
    std::vsnprintf(out->data() + at, size_t(n) + 1, fmt, ap);
    out->resize(at + size_t(n));
  }
  va_end(ap);
}

}  // namespace

bool file_readable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::string format_track_list(const std::vector<AudioTrackEntry>& list, const EqualizerSelection& eq) {
  std::string out = "#\n";
  for (const AudioTrackEntry& e : list) {
    append(&out, "%s\n", "SorvaneTrack:");
    append(&out, "%s %s\n", "SorvaneTrackPath:", e.path.c_str());
    append(&out, "%s %s\n", "SorvaneTrackLabel:", e.label.c_str());
    // A PID only where two streams may share an id: older readers take
    // the first three values.
    if (e.pid)
      append(&out, "%s %d %d %d %d\n", "SorvaneTrackData:", e.duration, e.stream_id, e.play, e.pid);
    else
      append(&out, "%s %d %d %d\n", "SorvaneTrackData:", e.duration, e.stream_id, e.play);
    if (!e.lyrics.empty()) append(&out, "%s %s\n", "SorvaneTrackLyrics:", e.lyrics.c_str());
  }
  out += "#\n# selected equalizer:\n";
  out += "SorvaneEqualizer:";
  for (int i = 0; i < 32; ++i) {
    if (i % 8 == 0) out += "\n    ";
    append(&out, "%4d%4d ", eq.gains[size_t(i)], eq.gains[size_t(32 + i)]);
  }
  append(&out, "\n%8d\n", eq.preamp);
  return out;
}

std::string format_player_config(const PlayerConfig& c, const std::vector<AudioTrackEntry>& list,
                                 const EqualizerSelection& eq, std::time_t when) {
  std::string out = "#\n# Quarvel MPEG Audio Player Configuration File\n";
  std::tm tm{};
  localtime_r(&when, &tm);
  char date[64];
  std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y\n", &tm);
  append(&out, "# %s", date);
  out += "#\n";
  const bool any = !list.empty();
  if (any) {
    append(&out, "%s  %d %d\n", "SorvanePlayTrack:", c.track_index, c.position);
    append(&out, "%s  %d\n", "SorvaneEditor:", c.editor);
    append(&out, "%s  %d\n", "SorvaneLoop:", c.loop);
    append(&out, "%s  %d\n", "SorvaneLoopPlayer:", c.loop_player);
    if (c.mark_state == 2) append(&out, "%s  %d %d %d\n", "SorvaneMark:", 2, c.mark_start, c.mark_end);
  }
  const std::pair<const char*, const std::string*> paths[] = {{"SorvaneInitPath:", &c.init_path},
                                                              {"SorvaneInitListPath:", &c.list_path},
                                                              {"SorvaneInitLyricsPath:", &c.lyrics_path},
                                                              {"SorvaneInitInsertPath:", &c.insert_path}};
  for (const auto& [key, value] : paths)
    if (!value->empty()) append(&out, "%s  %s\n", key, value->c_str());
  if (!c.insert_path.empty())
    append(&out, "%s  %d %d \n", "SorvaneInitInsertScale:", c.insert_scale[0], c.insert_scale[1]);
  if (!c.save_path.empty()) append(&out, "%s  %s\n", "SorvaneInitSavePath:", c.save_path.c_str());
  append(&out, "%s  %d %d %d %d\n", "SorvaneWindow:", c.top, c.bottom, c.left, c.right);
  append(&out, "%s  %d\n", "SorvanePlayVolume:", c.volume < 0 ? 0 : c.volume);
  if (any) out += format_track_list(list, eq);
  return out;
}

TrackListRead parse_track_list(const std::string& text, const std::function<bool(const std::string&)>& readable) {
  TrackListRead r;
  const std::vector<std::string> lines = split_lines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (starts_with(line, "SorvaneTrackPath") || starts_with(line, "SorvaneTrackLabel") ||
        starts_with(line, "SorvaneTrackData") || starts_with(line, "SorvaneTrackLyrics"))
      continue;
    if (starts_with(line, "SorvaneTrack:")) {
      AudioTrackEntry e;
      size_t k = i + 1;
      bool ok = k < lines.size() && starts_with(lines[k], "SorvaneTrackPath:");
      if (ok) {
        e.path = rest_of(lines[k], "SorvaneTrackPath:");
        ok = !e.path.empty() && (!readable || readable(e.path));
        ++k;
      }
      ok = ok && k < lines.size() && starts_with(lines[k], "SorvaneTrackLabel:");
      if (ok) e.label = rest_of(lines[k++], "SorvaneTrackLabel:");
      ok = ok && k < lines.size() && starts_with(lines[k], "SorvaneTrackData:");
      if (ok) {
        long long v[4] = {0, 0, 0, 0};
        const int n = ints_of(lines[k++], "SorvaneTrackData:", v, 4);
        // Any length: it is measured again when the track opens.
        ok = n >= 3 && v[0] >= 0 && fits_int(v[0]) && valid_stream_id(v[1]) && (v[2] == 0 || v[2] == 1) &&
             (n < 4 || (v[3] >= 0 && v[3] < 0x2000));
        if (ok) {
          e.duration = int(v[0]);
          e.stream_id = int(v[1]);
          e.play = int(v[2]);
          e.pid = n >= 4 ? int(v[3]) : 0;
        }
      }
      if (ok && k < lines.size() && starts_with(lines[k], "SorvaneTrackLyrics:")) e.lyrics = rest_of(lines[k++], "SorvaneTrackLyrics:");
      if (ok) {
        bool listed = false;
        for (const AudioTrackEntry& x : r.entries) listed |= same_track(x, e);
        if (!listed) r.entries.push_back(std::move(e));
      }
      i = (ok ? k : i + 1) - 1;
      continue;
    }
    if (starts_with(line, "SorvaneEqualizer:")) {
      // The 65 values follow the key, over as many lines as they take.
      std::string rest = line.substr(std::strlen("SorvaneEqualizer:"));
      for (size_t k = i + 1; k < lines.size() && k <= i + 6; ++k) rest += " " + lines[k];
      const char* p = rest.c_str();
      long long v[65];
      int n = 0;
      while (n < 65) {
        char* end = nullptr;
        const long long x = std::strtoll(p, &end, 10);
        if (end == p) break;
        v[n++] = x;
        p = end;
      }
      if (n < 65) continue;
      EqualizerSelection eq;
      bool errors = false;
      for (int b = 0; b < 32; ++b)
        for (int ch = 0; ch < 2; ++ch) {
          long long g = v[2 * b + ch];
          if (g < 0 || g > 24) {
            errors = true;
            g = g < 0 ? 0 : 24;
          }
          eq.gains[size_t(ch * 32 + b)] = int(g);
        }
      if (v[64] < 0 || v[64] > 24) errors = true;
      eq.preamp = errors && (v[64] < 0 || v[64] > 24) ? 12 : int(v[64]);
      if (!errors) {
        r.equalizer = eq;
        r.equalizer_read = true;
      }
    }
  }
  return r;
}

PlayerConfig parse_player_config(const std::string& text) {
  PlayerConfig c;
  for (const std::string& line : split_lines(text)) {
    if (starts_with(line, "#") || starts_with(line, "//")) continue;
    long long v[4] = {0, 0, 0, 0};
    if (starts_with(line, "SorvanePlayTrack:")) {
      const int n = ints_of(line, "SorvanePlayTrack:", v, 2);
      if (n >= 1 && fits_int(v[0])) c.track_index = int(v[0]);
      if (n >= 2 && fits_int(v[1])) c.position = int(v[1]);
    } else if (starts_with(line, "SorvaneEditor:")) {
      if (ints_of(line, "SorvaneEditor:", v, 1) == 1) c.editor = v[0] ? 1 : 0;
    } else if (starts_with(line, "SorvaneLoopPlayer:")) {
      if (ints_of(line, "SorvaneLoopPlayer:", v, 1) == 1 && v[0] >= 0 && v[0] < 4) c.loop_player = int(v[0]);
    } else if (starts_with(line, "SorvaneLoop:")) {
      if (ints_of(line, "SorvaneLoop:", v, 1) == 1 && v[0] >= 0 && v[0] < 4) c.loop = int(v[0]);
    } else if (starts_with(line, "SorvaneMark:")) {
      const int n = ints_of(line, "SorvaneMark:", v, 3);
      if (n == 3 && v[0] >= 0 && v[0] < 3 && v[1] >= 0 && v[1] <= 1000 && v[2] >= 0 && v[2] <= 1000 && v[1] <= v[2]) {
        c.mark_state = int(v[0]);
        c.mark_start = int(v[1]);
        c.mark_end = int(v[2]);
      } else {
        c.mark_state = 0;
        c.mark_start = 0;
        c.mark_end = 1000;
      }
    } else if (starts_with(line, "SorvaneWindow:")) {
      if (ints_of(line, "SorvaneWindow:", v, 4) == 4 && fits_int(v[0]) && fits_int(v[1]) && fits_int(v[2]) &&
          fits_int(v[3])) {
        c.top = int(v[0]);
        c.bottom = int(v[1]);
        c.left = int(v[2]);
        c.right = int(v[3]);
        c.window_read = true;
      }
    } else if (starts_with(line, "SorvanePlayVolume:")) {
      if (ints_of(line, "SorvanePlayVolume:", v, 1) == 1 && v[0] >= 0 && v[0] <= 80) c.volume = int(v[0]);
    } else if (starts_with(line, "SorvaneInitPath:")) {
      c.init_path = rest_of(line, "SorvaneInitPath:");
    } else if (starts_with(line, "SorvaneInitListPath:")) {
      c.list_path = rest_of(line, "SorvaneInitListPath:");
    } else if (starts_with(line, "SorvaneInitLyricsPath:")) {
      c.lyrics_path = rest_of(line, "SorvaneInitLyricsPath:");
    } else if (starts_with(line, "SorvaneInitInsertPath:")) {
      c.insert_path = rest_of(line, "SorvaneInitInsertPath:");
    } else if (starts_with(line, "SorvaneInitInsertScale:")) {
      if (ints_of(line, "SorvaneInitInsertScale:", v, 2) == 2 && fits_int(v[0]) && fits_int(v[1])) {
        c.insert_scale[0] = int(v[0]);
        c.insert_scale[1] = int(v[1]);
      }
    } else if (starts_with(line, "SorvaneInitSavePath:")) {
      c.save_path = rest_of(line, "SorvaneInitSavePath:");
    }
  }
  return c;
}

void settle_player_config(PlayerConfig* c, int entries) {
  if (c->track_index < 0 || c->track_index >= entries) {
    if (entries > 0) c->track_index = 0;
  }
  if (c->mark_state != 0) c->position = std::min(std::max(c->position, c->mark_start), c->mark_end);
  c->position = std::min(std::max(c->position, 0), 1000);
}

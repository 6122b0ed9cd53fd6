#include "app/editor/timecode_text.h"

#include <cmath>
#include <cstdio>

#include "foundation/timecode.h"

namespace {

int whole_rate(double rate) {
  if (!(rate > 0) || !std::isfinite(rate)) return 30;
  const int r = int(rate + 0.5);
  return r < 1 ? 1 : r;
}

bool split(const std::string& text, double rate, int* h, int* m, int* s, int* p) {
  const std::string t = normalize_time_code(text);
  if (t.empty()) return false;
  return string_2_time_split(t.c_str(), rate > 0 ? rate : 30.0, 0, h, m, s, p) == 0;
}

}  // namespace

std::string normalize_time_code(const std::string& text) {
  size_t b = 0;
  while (b < text.size() && (text[b] == ' ' || text[b] == '\t' || text[b] == '\n' || text[b] == '\r')) ++b;
  size_t e = b;
  while (e < text.size() && e - b < 16 && text[e] != ' ' && text[e] != '\t' && text[e] != '\n' && text[e] != '\r')
    ++e;
  std::string run = text.substr(b, e - b);
  if (run.empty()) return run;
  int separators = 0;
  for (char c : run)
    if (c == ':' || c == ';') ++separators;
  for (int i = separators; i < 3; ++i) run = "0:" + run;
  return run;
}

int timecode_text_to_frame(const std::string& text, double rate) {
  int h = 0, m = 0, s = 0, p = 0;
  if (!split(text, rate, &h, &m, &s, &p)) return -1;
  return ((h * 60 + m) * 60 + s) * whole_rate(rate) + p;
}

std::string frame_to_timecode_text(int frame, double rate) {
  const int fps = whole_rate(rate);
  if (frame < 0) frame = 0;
  const int secs = frame / fps;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d:%02d", secs / 3600, secs / 60 % 60, secs % 60, frame % fps);
  return buf;
}

std::string seconds_to_timecode_text(double seconds, double rate) {
  const double frames = seconds * (rate > 0 ? rate : 30.0);
  return frame_to_timecode_text(std::isfinite(frames) && frames < 2e9 ? int(frames + 1e-6) : 0, rate);
}

std::string shortest_timecode_text(const std::string& text, double rate) {
  int h = 0, m = 0, s = 0, p = 0;
  if (!split(text, rate, &h, &m, &s, &p)) return {};
  const int frame = ((h * 60 + m) * 60 + s) * whole_rate(rate) + p;
  const uint32_t w = tc25_word_from_frame(frame, rate > 0 ? rate : 30.0, 0);
  const int hh = int(w >> 19 & 31), mm = int(w >> 13 & 63), ss = int(w >> 6 & 63), pp = int(w & 63);
  char buf[48];
  if (hh)
    std::snprintf(buf, sizeof buf, "%d;%02d;%02d;%02d", hh, mm, ss, pp);
  else if (mm)
    std::snprintf(buf, sizeof buf, "%d;%02d;%02d", mm, ss, pp);
  else
    std::snprintf(buf, sizeof buf, "%d;%02d", ss, pp);
  return buf;
}

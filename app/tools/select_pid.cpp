#include "app/tools/select_pid.h"

#include <cstdlib>

namespace {

constexpr int kLowPid = 16;
constexpr int kHighPid = 8190;

bool in_range(long v) { return v >= kLowPid && v <= kHighPid; }

long read_decimal(const std::string& text) {
  if (text.size() > 260) return 0;
  return std::strtol(text.c_str(), nullptr, 10);
}

// The first value from start upward (8190 wraps to 16) that is neither a
// nor b.
int next_free(int start, int a, int b) {
  int v = start;
  for (int n = 0; n <= kHighPid; ++n) {
    if (!in_range(v)) v = kLowPid;
    if (v != a && v != b) return v;
    ++v;
  }
  return start;
}

}  // namespace

TransportPids select_pid_shown(TransportPids p) {
  if (p.video == p.pmt) {
    p.video = p.audio - 1;
    if (p.video == p.pmt) p.video = p.audio + 1;
  }
  if (p.audio == p.pmt || p.audio == p.video) {
    p.audio = p.video + 1;
    if (p.audio == p.pmt) p.audio = p.video + 3;
  }
  return p;
}

TransportPids select_pid_accept(TransportPids cur, const std::string& pmt_text, const std::string& video_text,
                                const std::string& audio_text) {
  TransportPids p = cur;
  const long pmt = read_decimal(pmt_text);
  if (in_range(pmt) && pmt != cur.pmt) p.pmt = int(pmt);
  const long video = read_decimal(video_text);
  if (in_range(video) && video != p.pmt && video != cur.video) {
    p.video = int(video);
  } else if (p.video == p.pmt) {
    p.video = next_free(p.pmt + 1, p.pmt, p.pmt);
  }
  const long audio = read_decimal(audio_text);
  if (in_range(audio) && audio != p.pmt && audio != p.video && audio != cur.audio) {
    p.audio = int(audio);
  } else if (p.audio == p.pmt || p.audio == p.video) {
    p.audio = next_free(p.video + 1, p.pmt, p.video);
  }
  return p;
}

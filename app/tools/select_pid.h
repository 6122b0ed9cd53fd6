// The three PIDs of a transport output and the rules of the dialog that
// edits them (shared by the convertor, the multiplexer and the Save
// dialog).
#pragma once

#include <string>

struct TransportPids {
  int pmt = 64;
  int video = 32;
  int audio = 33;
  bool operator==(const TransportPids&) const = default;
};

// What the dialog shows when it opens: a video or audio PID on the PMT's
// (or on each other) is moved off it.
TransportPids select_pid_shown(TransportPids pids);
// What OK keeps of the three edits' texts (decimal): a value is taken in
// 16..8190 when it meets no PID already fixed; otherwise the current one
// stays unless it clashes, and is then moved to the next free value.
TransportPids select_pid_accept(TransportPids current, const std::string& pmt_text, const std::string& video_text,
                                const std::string& audio_text);

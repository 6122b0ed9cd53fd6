// Process-wide cache of built GOP indexes, one per (file, video stream id,
// PID). Users get copies; what a copy learns is merged back when it is
// released, so later copies start from a denser index.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "demux/goplist.h"

class GoplistCache {
 public:
  static GoplistCache& instance();

  // Fills list as a copy of the cached index of the file (built first when
  // none matches): 0 when filled, 1 when no index exists or can be built.
  static int take_from_cache(GOPList* list, const char* name, int stream_id, int pid);
  // Merges a list that is about to be destroyed into the cached entry of the
  // same file and ids (nothing happens when there is none).
  void update(const GOPList* list);

  // Index of the matching entry, building one when none matches; -1 when
  // building fails.
  int find_or_add(const char* name, int stream_id, int pid);
  // Builds and appends; the index, or -1.
  int add(const char* name, int stream_id, int pid);
  void remove(int index);
  int resize(int new_capacity);
  void clear();
  int count();
  // Indexes built from a file since start (tests: a copy must not build).
  int built_count();

 private:
  GoplistCache() = default;
  int find_locked(const char* name, int stream_id, int pid, const GOPList* except);
  std::mutex mutex_;
  std::vector<std::unique_ptr<GOPList>> entries_;
  int capacity_ = 0;
  int built_ = 0;
};

// The cache test of one entry: same file name, file time and size, and the
// ids when the asked ones are nonzero.
bool goplist_matches(GOPList* list, const char* name, int stream_id, int pid);

// Walks the index from a frame (0: the first GOP) over at most max_frames
// frames (below 1: to the end), reading GOPs where it has gaps. Without
// time-stamp timing the GOPs' first fields are renumbered from the running
// count (repeated fields make time codes useless for this); otherwise only
// overlaps are closed. Returns the frames counted (renumbering) or the end
// frame of the last record.
int goplist_scan(GOPList* list, int from_frame, int max_frames);
// The same up to a time in seconds (0: the whole stream).
int goplist_scan_to_time(GOPList* list, double seconds);

// Process-wide cache of built GOP indexes, one per (file, video stream id,
// PID). Users get copies; what a copy learns is merged back when it is
// released, so later copies start from a denser index.
// The lock guards the list and the records only: indexes are built, files
// looked at and copies given their demultiplexers outside it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "demux/goplist.h"
#include "foundation/file_stamp.h"

class GoplistCache : public FileCache {
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
  // Drops every index of the file (all its streams).
  bool forget_path(const std::string& path) override;

 private:
  friend bool goplist_matches(GOPList* list, const char* name, int stream_id, int pid);
  GoplistCache() { enlist(); }
  ~GoplistCache() override { delist(); }
  // What identifies a file's index: full path, modification time, size.
  struct FileKey {
    std::string full;
    int64_t time = 0;
    FileOffset size;
  };
  static FileKey file_key(const char* name);
  static bool entry_matches(GOPList* list, const FileKey& key, int stream_id, int pid);
  int find_locked(const FileKey& key, int stream_id, int pid, const GOPList* except);
  int find_or_add(const FileKey& key, const char* name, int stream_id, int pid);
  int add(const FileKey& key, const char* name, int stream_id, int pid);
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

// demuxer_create: the demultiplexer of a file, by its stream type, through
// a process-wide cache of opened-and-measured demultiplexers (one per file),
// so that opening a file again costs a copy instead of a scan.
#pragma once

#include <mutex>
#include <vector>

#include "demux/demuxer.h"

// A new demultiplexer the caller owns, or null.
DeMuxer* demuxer_create(const char* name, int flag);

class DeMuxerCache {
 public:
  static DeMuxerCache& instance();
  DeMuxer* find(const char* full_name, int flag);
  DeMuxer* add(const char* full_name, int flag);
  void remove(int index);
  void clear();
  int count();
  // Entries whose file name equals name (tests: one entry per file).
  int count_of(const char* full_name);
  ~DeMuxerCache();

 private:
  DeMuxerCache() = default;
  static DeMuxer* make_copy(const DeMuxer& entry);
  std::mutex mutex_;
  std::vector<DeMuxer*> entries_;
};

// demuxer_create: the demultiplexer of a file, by its stream type, through
// a process-wide cache of opened-and-measured demultiplexers (one per file),
// so that opening a file again costs a copy instead of a scan.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "demux/demuxer.h"
#include "foundation/file_stamp.h"

// A new demultiplexer the caller owns, or null.
DeMuxer* demuxer_create(const char* name, int flag);

// What the caches compare with a demultiplexer's measures: the file's
// modification time (ns) and its size as the file layer reads it (the
// stream's length for a list of files). False when the file is gone.
bool demux_file_stamp(const char* name, int64_t* time_ns, FileOffset* size);

// Entries are closed demultiplexers that never change once cached: a copy
// is made from one outside the lock, and files are opened and measured
// outside it too. The lock only guards the list.
class DeMuxerCache : public FileCache {
 public:
  static DeMuxerCache& instance();
  // A copy of the entry of the file when it has not changed since, else
  // add().
  DeMuxer* find(const char* full_name, int flag);
  // Opens and measures the file, caches a closed copy and returns the
  // opened one (null when the file is refused).
  DeMuxer* add(const char* full_name, int flag);
  void remove(int index);
  void clear();
  int count();
  // Entries whose file name equals name (tests: one entry per file).
  int count_of(const char* full_name);
  bool forget_path(const std::string& path) override;
  ~DeMuxerCache() override;

 private:
  DeMuxerCache() { enlist(); }
  using Entry = std::shared_ptr<const DeMuxer>;
  Entry lookup(const char* full_name);
  void drop(const Entry& entry);
  static DeMuxer* make_copy(const DeMuxer& entry);
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

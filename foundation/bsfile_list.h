// Lists of media files read as one stream (".mbs" files): several files one
// after another (BSMFile), or one file with a byte range of it (BSegFile).
// BSFile opens a list by its name; both kinds are read-only and count
// positions in the logical stream.
//
// A list:
//   [MBSFile]
//   NumFile= 2
//   File= /videos/part1.m2v
//   File= /videos/part2.m2v
// or, for a range [a, b) of one file, "NumFile= 1", one "File=" line and a
// "Segment= a b" line after it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foundation/bsfile.h"
#include "foundation/file_offset.h"

// Whether a file may be a list member. The file layer cannot ask the
// demultiplexer factory itself (that would make foundation depend on demux),
// so demux registers its check once; without one a member needs only to
// open. Returns the previous check.
using BSMemberCheck = bool (*)(const char* name);
BSMemberCheck bsfile_set_member_check(BSMemberCheck check);

// Largest list file read.
constexpr long kMbsMaxBytes = 131072;

// 1 when name ends in ".mbs" (any case), the file opens, is at most
// kMbsMaxBytes long and a line holds "File=".
int utils_is_mbs_file(const char* name);

// The announced number of accepted members, made absolute; empty when the
// list is unreadable, malformed or fewer members are accepted. Members that
// are lists themselves are refused.
std::vector<std::string> read_mbs_file(const char* name);

// The last accepted file before the first valid "Segment= a b" (b > a >= 0).
// 1 with file, start and end set; 0 otherwise.
int read_mbs_file_segments(const char* name, std::string* file, FileOffset* start, FileOffset* end);

// Several files as one.
class BSMFile {
 public:
  BSMFile() = default;
  ~BSMFile() { close(); }
  BSMFile(const BSMFile&) = delete;
  BSMFile& operator=(const BSMFile&) = delete;

  // 0 when at least one member opens (members that do not are skipped),
  // else 1.
  int open(const std::vector<std::string>& names);
  void close();
  // Moves to the next member only once the current one is read to its end:
  // a short read inside a member (an I/O error, a file that shrank) ends
  // the read instead of splicing the next member in.
  size_t read(void* buffer, size_t count);
  // whence 0 and 1: from the start of the stream (as plain files take them);
  // 2: back from the end. A position at a member's start stays at the end of
  // the member before it.
  FileOffset seek(const FileOffset& offset, int whence);
  FileOffset tell() const;
  FileOffset size() const { return size_; }
  int count() const { return int(members_.size()); }
  const std::vector<std::string>& names() const { return names_; }

 private:
  std::vector<std::string> names_;
  std::vector<std::unique_ptr<BSFBase>> members_;
  std::vector<uint64_t> starts_;
  size_t current_ = 0;
  FileOffset size_;
};

// A byte range [start, end) of one file.
class BSegFile {
 public:
  BSegFile() = default;
  ~BSegFile() { close(); }
  BSegFile(const BSegFile&) = delete;
  BSegFile& operator=(const BSegFile&) = delete;

  // 1 (nothing opened) when start >= end, the file does not open or end lies
  // beyond it; else 0.
  int open(const char* name, FileOffset start, FileOffset end);
  void close();
  size_t read(void* buffer, size_t count);
  // Positions count from start and clamp to the range; whence 1 as 0.
  FileOffset seek(const FileOffset& offset, int whence);
  FileOffset tell() const;
  FileOffset size() const { return length_; }
  const char* name() const { return file_ ? file_->name() : nullptr; }

 private:
  std::unique_ptr<BSFBase> file_;
  FileOffset length_, start_, end_;
};

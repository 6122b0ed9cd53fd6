// Media file layer: every byte of a media file is read and written through a
// BSFile. Positions are FileOffsets (64-bit); reads and writes go straight to
// the system with pread/pwrite at the position this object tracks, so tell()
// costs no system call and callers read in large blocks.
//
// Modes: 1 read, 2 write (create or truncate), 3 read-write in place,
// 4 read-write starting at the end (plain writes at the position, not
// O_APPEND).
//
// Open results: 0 success; 1 no or empty name; 5 the file could not be opened
// or the mode is not 1-4.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/file_offset.h"

// After this many bytes written through one file its data is flushed, which
// bounds the unwritten data of long writes.
constexpr uint32_t kBSFlushInterval = 0x400000;

// The default flush starts writing the file's data back to disk in windows of
// this size, each once the writer is a window past its end.
constexpr uint64_t kBSWriteBackWindow = 0x2000000;

// What that flush does with the descriptor. The default starts the write-back
// of whole windows behind the write position without waiting for it; with
// TAMSEL_FILE_SYNC=0 in the environment it does nothing. Tests install a counting function. Null restores the default.
// Returns the previous function. Not meant to change while files are written
// on other threads.
using BSFlushFunction = void (*)(int fd);
BSFlushFunction bsfile_set_flush_function(BSFlushFunction fn);

// One plain file.
class BSFBase {
 public:
  BSFBase() = default;
  // Without an error pointer nothing is opened.
  BSFBase(const char* name, int mode, int* error);
  ~BSFBase();
  BSFBase(const BSFBase&) = delete;
  BSFBase& operator=(const BSFBase&) = delete;

  // Closes the descriptor, forgets the name, clears the unflushed count.
  void close();
  // Forgets descriptor, name and unflushed count without closing.
  void reset();
  void set_name(const char* name);

  // Bytes moved; the position advances by that count. Fewer than asked on a
  // write means the write failed (disk full, I/O error): the caller must
  // treat it as an error. A read returns fewer at the end of the file.
  [[nodiscard]] size_t read(void* buffer, size_t count);
  [[nodiscard]] size_t write(const void* buffer, size_t count);
  // Writes count bytes of src, taken at offset at, at this file's position,
  // file to file inside the system where it can (the bytes never pass
  // through this process), else through a buffer. src's position stays.
  // Returns the bytes written: fewer at the end of src or on a failure.
  [[nodiscard]] size_t copy_from(BSFBase& src, const FileOffset& at, size_t count);

  // whence 2: offset bytes back from the size at open (never below zero);
  // whence 0 and 1 both take the offset from the start of the file.
  FileOffset seek(const FileOffset& offset, int whence);
  FileOffset tell() const { return position_; }
  // Size when opened; later writes do not change it (0 in mode 2).
  FileOffset size() const { return size_; }

  int mode() const { return mode_; }
  const char* name() const { return name_.empty() ? nullptr : name_.c_str(); }
  bool is_open() const { return fd_ >= 0; }
  uint32_t unflushed() const { return unflushed_; }
  // End of the write-back the default flush has started (counted also when
  // TAMSEL_FILE_SYNC=0 leaves the disk alone).
  uint64_t written_back() const { return written_back_; }

 private:
  int sys_open(const char* name);
  size_t sys_read(void* buffer, size_t count);
  size_t sys_write(const void* buffer, size_t count);
  // Moves the position past done bytes written and flushes by interval.
  void note_written(size_t done);

  int mode_ = 0;
  std::string name_;
  FileOffset size_;
  FileOffset position_;
  int fd_ = -1;
  uint32_t unflushed_ = 0;
  // End of the write-back the default flush has started.
  uint64_t written_back_ = 0;
};

class BSMFile;
class BSegFile;

// The facade: exactly one back end, chosen when opening.
class BSFile {
 public:
  // Plain file; several files read as one and a byte range of one file are
  // the two other kinds (lists of files, opened read-only).
  enum class Kind { none, plain, multi, segment };

  BSFile();
  // A list of files (".mbs", see bsfile_list.h) opens read-only whatever
  // the mode; a list that cannot be read or opened gives code 1.
  BSFile(const char* name, int mode, int* error = nullptr);
  ~BSFile();
  BSFile(BSFile&&) noexcept;
  BSFile& operator=(BSFile&&) noexcept;
  BSFile(const BSFile&) = delete;
  BSFile& operator=(const BSFile&) = delete;

  void close();
  [[nodiscard]] size_t read(void* buffer, size_t count);
  // Plain files only; 0 otherwise. Fewer than count bytes is a failed write.
  [[nodiscard]] size_t write(const void* buffer, size_t count);
  // count bytes of src from offset at, written at this file's position (see
  // BSFBase::copy_from); src's position stays. Any kind of src; this file
  // must be plain.
  [[nodiscard]] size_t copy_from(BSFile& src, const FileOffset& at, size_t count);
  // Each returns zero when nothing is open.
  FileOffset seek(const FileOffset& offset, int whence);
  FileOffset tell() const;
  FileOffset size() const;

  void set_name(const char* name);
  const char* name() const { return name_.empty() ? nullptr : name_.c_str(); }
  Kind kind() const { return kind_; }
  bool is_open() const { return kind_ != Kind::none; }
  BSFBase* plain() { return plain_.get(); }
  // The files read: the members of a list, else none.
  std::vector<std::string> member_names() const;

 private:
  Kind kind_ = Kind::none;
  std::unique_ptr<BSFBase> plain_;
  std::unique_ptr<BSMFile> multi_;
  std::unique_ptr<BSegFile> segment_;
  std::string name_;
};

// A whole file mapped read-only for one pass over it, with zero bytes
// readable behind its end, so that a reader may peek past the last byte
// without an end test and without a copy of the data.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  // Maps name with at least padding zero bytes after its end; a file that
  // cannot be mapped (a pipe, a device) is read into memory instead. False
  // with *error set to the errno value when it cannot be opened or read.
  bool open(const char* name, size_t padding, int* error);
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // The file lost bytes while mapped (truncated or rewritten): what was
  // read after that point were zeros, not the file.
  bool shrunk() const { return shrunk_.load(std::memory_order_acquire); }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  void* map_ = nullptr;  // the mapping, when there is one
  size_t map_length_ = 0;
  std::vector<uint8_t> copy_;  // the data read, when not mapped
  std::atomic<bool> shrunk_{false};
  int watch_slot_ = -1;
};

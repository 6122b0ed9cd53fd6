// The fuzz input as a file, for readers that open files: written to a new
// temporary file that is removed when the holder goes.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

class FuzzTempFile {
 public:
  FuzzTempFile(const uint8_t* data, size_t size) {
    char path[] = "/tmp/fuzz_inputXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return;
    path_ = path;
    ok_ = size == 0 || write(fd, data, size) == ssize_t(size);
    close(fd);
  }
  ~FuzzTempFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  FuzzTempFile(const FuzzTempFile&) = delete;
  FuzzTempFile& operator=(const FuzzTempFile&) = delete;
  // Null when the file could not be written.
  const char* path() const { return ok_ ? path_.c_str() : nullptr; }

 private:
  std::string path_;
  bool ok_ = false;
};

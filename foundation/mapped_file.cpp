#include "foundation/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool read_all(int fd, size_t padding, std::vector<uint8_t>* out, int* error) {
  out->clear();
  uint8_t chunk[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errno;
      return false;
    }
    if (n == 0) break;
    out->insert(out->end(), chunk, chunk + n);
  }
  out->resize(out->size() + padding, 0);
  return true;
}

}  // namespace

MappedFile::~MappedFile() {
  if (map_) ::munmap(map_, map_length_);
}

bool MappedFile::open(const char* name, size_t padding, int* error) {
  *error = 0;
  const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    *error = errno;
    ::close(fd);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    *error = EISDIR;
    return false;
  }
  bool ok = false;
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    // Zero pages for the whole length, the file over their start: the rest
    // of the file's last page reads as zeros, the pages after it too.
    const size_t size = static_cast<size_t>(st.st_size);
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t length = (size + padding + page - 1) / page * page;
    void* zeros = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (zeros != MAP_FAILED) {
      void* file = ::mmap(zeros, size, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0);
      if (file != MAP_FAILED) {
        map_ = zeros;
        map_length_ = length;
        data_ = static_cast<const uint8_t*>(zeros);
        size_ = size;
        ok = true;
      } else {
        ::munmap(zeros, length);
      }
    }
  }
  if (!ok && read_all(fd, padding, &copy_, error)) {
    data_ = copy_.data();
    size_ = copy_.size() - padding;
    ok = true;
  }
  ::close(fd);
  return ok;
}

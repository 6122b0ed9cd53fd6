#include "app/shell/kept_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

bool write_kept_file(const std::string& path, const std::string& text, std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = path + ": " + what + ": " + std::strerror(errno);
    return false;
  };
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return fail("cannot create a temporary file");
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int e = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      errno = e;
      return fail("cannot write");
    }
    done += size_t(n);
  }
  // Kept files are read back at the next start: make them durable before
  // they replace the old one.
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    errno = e;
    return fail("cannot write");
  }
  ::chmod(temp.c_str(), 0644);
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    errno = e;
    return fail("cannot rename");
  }
  return true;
}

bool read_kept_file(const std::string& path, std::string* text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // Read straight into a string of the file's size (grown when the file
  // grows meanwhile).
  std::string out;
  struct stat st {};
  size_t have = 0;
  out.resize(::fstat(fd, &st) == 0 && st.st_size > 0 ? size_t(st.st_size) + 1 : 65536);
  for (;;) {
    if (have == out.size()) out.resize(out.size() * 2);
    const ssize_t n = ::read(fd, out.data() + have, out.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    have += size_t(n);
  }
  out.resize(have);
  ::close(fd);
  *text = std::move(out);
  return true;
}

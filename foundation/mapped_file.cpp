#include "foundation/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <mutex>

namespace {

// A file that shrinks under its mapping faults (SIGBUS) on the pages it
// lost. The handler puts zero pages there and marks the mapping, so the
// reader runs on to its end and its caller reports the loss.
struct Watched {
  std::atomic<uintptr_t> start{0};
  std::atomic<size_t> length{0};
  std::atomic<bool>* shrunk = nullptr;
};
constexpr int kWatched = 64;
Watched g_watched[kWatched];
struct sigaction g_previous {};

void on_sigbus(int sig, siginfo_t* info, void* context) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(info ? info->si_addr : nullptr);
  for (Watched& w : g_watched) {
    const uintptr_t start = w.start.load(std::memory_order_acquire);
    if (start <= 1 || at < start || at - start >= w.length.load(std::memory_order_acquire)) continue;
    const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    void* base = reinterpret_cast<void*>(at & ~(page - 1));
    if (::mmap(base, page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) break;
    if (w.shrunk) w.shrunk->store(true, std::memory_order_release);
    return;
  }
  // Not ours: as if no handler had been there.
  if (g_previous.sa_flags & SA_SIGINFO) {
    if (g_previous.sa_sigaction) return g_previous.sa_sigaction(sig, info, context);
  } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    return g_previous.sa_handler(sig);
  }
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void install_handler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction sa {};
    sa.sa_sigaction = on_sigbus;
    sa.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGBUS, &sa, &g_previous);
  });
}

int watch(const void* start, size_t length, std::atomic<bool>* shrunk) {
  install_handler();
  constexpr uintptr_t kTaken = 1;  // a slot being filled: no range yet
  for (int i = 0; i < kWatched; ++i) {
    uintptr_t expected = 0;
    Watched& w = g_watched[i];
    if (!w.start.compare_exchange_strong(expected, kTaken)) continue;
    w.length.store(0, std::memory_order_release);
    w.shrunk = shrunk;
    w.length.store(length, std::memory_order_release);
    w.start.store(reinterpret_cast<uintptr_t>(start), std::memory_order_release);
    return i;
  }
  return -1;
}

void unwatch(int slot) {
  if (slot >= 0) g_watched[slot].start.store(0, std::memory_order_release);
}

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
  unwatch(watch_slot_);
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
        watch_slot_ = watch(zeros, length, &shrunk_);
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

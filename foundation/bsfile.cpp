#include "foundation/bsfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/bsfile_list.h"
#include "foundation/trace.h"

namespace {

bool sync_enabled() {
  static const bool on = [] {
    const char* v = std::getenv("TAMSEL_FILE_SYNC");
    return !(v && std::strcmp(v, "0") == 0);
  }();
  return on;
}

// Flush after a write ending at `end`: start writing back the whole windows
// that lie at least one window behind it, without waiting for them. The data
// heads for the disk as it is made and a long write never piles up more than
// about two windows of its own dirty pages, while the writer goes on at the
// speed of the page cache: the pages it is filling are never the ones under
// write-back, and large windows keep the requests few (a data sync per
// interval would stall every writer for a device round trip). *started is the
// end of the write-back started so far.
void default_flush(int fd, uint64_t end, uint64_t* started) {
  const uint64_t to = end >= 2 * kBSWriteBackWindow ? (end / kBSWriteBackWindow - 1) * kBSWriteBackWindow : 0;
  if (to < *started) *started = to / kBSWriteBackWindow * kBSWriteBackWindow;  // written before: follow
  if (to <= *started) return;
  const uint64_t from = *started;
  *started = to;
  if (!sync_enabled()) return;
  if (::sync_file_range(fd, static_cast<off_t>(from), static_cast<off_t>(to - from), SYNC_FILE_RANGE_WRITE) != 0)
    ::fdatasync(fd);  // file systems without ranged write-back
}

std::atomic<BSFlushFunction> g_flush{nullptr};

// A single pread/pwrite moves at most this much on Linux; larger requests loop.
constexpr size_t kMaxChunk = 0x40000000;
// Writes go to the system in pieces of at most this size, whatever the
// caller's buffer: one large write costs the kernel several times the time
// of the same bytes in 256 KiB writes (1 GB in 1 MiB writes: 1.2-3.5 s of
// system time; in 256 KiB writes: 0.4-0.5 s).
constexpr size_t kMaxWrite = 0x40000;

}  // namespace

BSFlushFunction bsfile_set_flush_function(BSFlushFunction fn) { return g_flush.exchange(fn); }

// ---------------------------------------------------------------------------
// BSFBase

BSFBase::BSFBase(const char* name, int mode, int* error) {
  mode_ = mode;
  if (!error) return;
  if (!name || !*name) {
    *error = 1;
    return;
  }
  *error = sys_open(name);
}

BSFBase::~BSFBase() { close(); }

int BSFBase::sys_open(const char* name) {
  int flags;
  switch (mode_) {
    case 1: flags = O_RDONLY; break;
    case 2: flags = O_WRONLY | O_CREAT | O_TRUNC; break;
    case 3:
    case 4: flags = O_RDWR; break;
    default:
      trace("BSFBase::open (ERROR): mode %d not supported <%s>\n", mode_, name);
      return 5;
  }
  const int fd = ::open(name, flags | O_CLOEXEC, 0666);
  if (fd < 0) {
    trace("BSFBase::open (ERROR): cannot open <%s> in mode %d: %s\n", name, mode_, std::strerror(errno));
    return 5;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    // Close the descriptor here: the object is left without one.
    trace("BSFBase::open (ERROR): cannot query the size of <%s>\n", name);
    ::close(fd);
    return 5;
  }
  fd_ = fd;
  name_ = name;
  size_ = FileOffset();
  position_ = FileOffset();
  unflushed_ = 0;
  if (mode_ == 2) return 0;
  size_ = FileOffset::from_u64(static_cast<uint64_t>(st.st_size));
  if (mode_ == 4) position_ = size_;
  written_back_ = position_.value() / kBSWriteBackWindow * kBSWriteBackWindow;
  return 0;
}

void BSFBase::close() {
  if (fd_ >= 0) ::close(fd_);
  reset();
}

void BSFBase::reset() {
  fd_ = -1;
  name_.clear();
  unflushed_ = 0;
  written_back_ = 0;
}

void BSFBase::set_name(const char* name) { name_ = name ? name : ""; }

size_t BSFBase::read(void* buffer, size_t count) {
  if (fd_ < 0 || !buffer || count == 0) return 0;
  return sys_read(buffer, count);
}

size_t BSFBase::write(const void* buffer, size_t count) {
  if (fd_ < 0 || !buffer || count == 0) return 0;
  return sys_write(buffer, count);
}

size_t BSFBase::sys_read(void* buffer, size_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    const size_t want = count - done < kMaxChunk ? count - done : kMaxChunk;
    const ssize_t n = ::pread(fd_, p + done, want, static_cast<off_t>(position_.value() + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      trace("BSFBase::read (ERROR): <%s> at %.0f: %s\n", name_.c_str(), position_.to_double() + double(done),
            std::strerror(errno));
      break;
    }
    if (n == 0) break;  // end of file
    done += static_cast<size_t>(n);
  }
  position_.add(static_cast<int64_t>(done));
  return done;
}

size_t BSFBase::sys_write(const void* buffer, size_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    const size_t want = count - done < kMaxWrite ? count - done : kMaxWrite;
    const ssize_t n = ::pwrite(fd_, p + done, want, static_cast<off_t>(position_.value() + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      trace("BSFBase::write (ERROR): <%s> wrote %zu of %zu bytes at %.0f: %s\n", name_.c_str(), done, count,
            position_.to_double(), std::strerror(errno));
      break;
    }
    if (n == 0) {
      trace("BSFBase::write (ERROR): <%s> wrote %zu of %zu bytes at %.0f\n", name_.c_str(), done, count,
            position_.to_double());
      break;
    }
    done += static_cast<size_t>(n);
  }
  note_written(done);
  return done;
}

void BSFBase::note_written(size_t done) {
  position_.add(static_cast<int64_t>(done));
  const uint64_t pending = uint64_t(unflushed_) + done;
  if (pending >= kBSFlushInterval) {
    BSFlushFunction fn = g_flush.load();
    if (fn)
      fn(fd_);
    else
      default_flush(fd_, position_.value(), &written_back_);
    unflushed_ = 0;
  } else {
    unflushed_ = static_cast<uint32_t>(pending);
  }
}

size_t BSFBase::copy_from(BSFBase& src, const FileOffset& at, size_t count) {
  if (fd_ < 0 || src.fd_ < 0 || count == 0) return 0;
  size_t done = 0;
  bool in_kernel = true;
  std::unique_ptr<uint8_t[]> buf;
  while (done < count) {
    // Chunks of the flush interval keep the write-back going as the copy goes.
    const size_t want = count - done < kBSFlushInterval ? count - done : kBSFlushInterval;
    if (in_kernel) {
      loff_t in = static_cast<loff_t>(at.value() + done);
      loff_t out = static_cast<loff_t>(position_.value());
      const ssize_t n = ::copy_file_range(src.fd_, &in, fd_, &out, want, 0);
      if (n > 0) {
        done += static_cast<size_t>(n);
        note_written(static_cast<size_t>(n));
        continue;
      }
      if (n == 0) break;  // end of src
      if (errno == EINTR) continue;
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF) {
        in_kernel = false;  // not between these files: copy through a buffer
        continue;
      }
      trace("BSFBase::copy_from (ERROR): <%s> wrote %zu of %zu bytes at %.0f: %s\n", name_.c_str(), done, count,
            position_.to_double(), std::strerror(errno));
      break;
    }
    if (!buf) buf.reset(new (std::nothrow) uint8_t[kBSFlushInterval]);
    if (!buf) break;
    const ssize_t r = ::pread(src.fd_, buf.get(), want, static_cast<off_t>(at.value() + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    const size_t w = sys_write(buf.get(), static_cast<size_t>(r));
    done += w;
    if (w != static_cast<size_t>(r)) break;
  }
  return done;
}

FileOffset BSFBase::seek(const FileOffset& offset, int whence) {
  if (fd_ < 0) return position_;
  // Positions are ours (pread/pwrite), so a seek cannot fail; a position
  // past the end is valid too, as lseek allows: a later write extends the file.
  position_ = whence == 2 ? FileOffset::minus(size_, offset) : offset;
  return position_;
}

// ---------------------------------------------------------------------------
// BSFile

BSFile::BSFile(const char* name, int mode, int* error) {
  int code = 1;
  if (name && *name && utils_is_mbs_file(name)) {
    const std::vector<std::string> names = read_mbs_file(name);
    if (names.size() > 1) {
      auto m = std::make_unique<BSMFile>();
      code = m->open(names);
      if (code == 0) {
        multi_ = std::move(m);
        kind_ = Kind::multi;
      }
    } else if (names.size() == 1) {
      std::string file;
      FileOffset start, end;
      if (read_mbs_file_segments(name, &file, &start, &end)) {
        auto g = std::make_unique<BSegFile>();
        code = g->open(file.c_str(), start, end);
        if (code == 0) {
          segment_ = std::move(g);
          kind_ = Kind::segment;
        }
      } else {
        trace("BSFile::open (ERROR): <%s> names one file without a valid segment\n", name);
      }
    }
  } else {
    auto base = std::make_unique<BSFBase>(name, mode, &code);
    if (code == 0) {
      plain_ = std::move(base);
      kind_ = Kind::plain;
    }
  }
  if (code == 0) name_ = name;
  if (error) *error = code;
}

BSFile::BSFile() = default;
BSFile::~BSFile() { close(); }

BSFile::BSFile(BSFile&& o) noexcept
    : kind_(o.kind_),
      plain_(std::move(o.plain_)),
      multi_(std::move(o.multi_)),
      segment_(std::move(o.segment_)),
      name_(std::move(o.name_)) {
  o.kind_ = Kind::none;
  o.name_.clear();
}

BSFile& BSFile::operator=(BSFile&& o) noexcept {
  if (this != &o) {
    close();
    kind_ = o.kind_;
    plain_ = std::move(o.plain_);
    multi_ = std::move(o.multi_);
    segment_ = std::move(o.segment_);
    name_ = std::move(o.name_);
    o.kind_ = Kind::none;
    o.name_.clear();
  }
  return *this;
}

void BSFile::close() {
  if (plain_) plain_->close();
  plain_.reset();
  multi_.reset();
  segment_.reset();
  kind_ = Kind::none;
  name_.clear();
}

size_t BSFile::read(void* buffer, size_t count) {
  switch (kind_) {
    case Kind::plain: return plain_->read(buffer, count);
    case Kind::multi: return multi_->read(buffer, count);
    case Kind::segment: return segment_->read(buffer, count);
    default: return 0;
  }
}

size_t BSFile::write(const void* buffer, size_t count) {
  // Lists are read-only.
  return kind_ == Kind::plain ? plain_->write(buffer, count) : 0;
}

size_t BSFile::copy_from(BSFile& src, const FileOffset& at, size_t count) {
  if (kind_ != Kind::plain || count == 0) return 0;
  if (src.kind_ == Kind::plain) return plain_->copy_from(*src.plain_, at, count);
  // Lists are read through their own layer, a buffer at a time.
  const size_t chunk = kBSFlushInterval;
  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[chunk]);
  if (!buf) return 0;
  const FileOffset keep = src.tell();
  src.seek(at, 0);
  size_t done = 0;
  while (done < count) {
    const size_t r = src.read(buf.get(), count - done < chunk ? count - done : chunk);
    if (r == 0) break;
    const size_t w = plain_->write(buf.get(), r);
    done += w;
    if (w != r) break;
  }
  src.seek(keep, 0);
  return done;
}

FileOffset BSFile::seek(const FileOffset& offset, int whence) {
  switch (kind_) {
    case Kind::plain: return plain_->seek(offset, whence);
    case Kind::multi: return multi_->seek(offset, whence);
    case Kind::segment: return segment_->seek(offset, whence);
    default: return FileOffset();
  }
}

FileOffset BSFile::tell() const {
  switch (kind_) {
    case Kind::plain: return plain_->tell();
    case Kind::multi: return multi_->tell();
    case Kind::segment: return segment_->tell();
    default: return FileOffset();
  }
}

FileOffset BSFile::size() const {
  switch (kind_) {
    case Kind::plain: return plain_->size();
    case Kind::multi: return multi_->size();
    case Kind::segment: return segment_->size();
    default: return FileOffset();
  }
}

void BSFile::set_name(const char* name) { name_ = name ? name : ""; }

std::vector<std::string> BSFile::member_names() const {
  switch (kind_) {
    case Kind::multi: return multi_->names();
    case Kind::segment: return {segment_->name() ? segment_->name() : ""};
    default: return {};
  }
}

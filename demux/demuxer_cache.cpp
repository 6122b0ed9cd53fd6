#include "demux/demuxer_cache.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <memory>

#include "demux/program.h"
#include "demux/transport_demuxer.h"
#include "foundation/bsfile.h"
#include "foundation/bsfile_list.h"
#include "foundation/probe.h"
#include "foundation/trace.h"

namespace {

int64_t file_time_ns(const struct stat& st) { return int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec; }

// Multi-file lists are read as one stream by the program-stream class.
bool is_mbs_name(const char* name) {
  const char* dot = std::strrchr(name, '.');
  return dot && strcasecmp(dot, ".mbs") == 0;
}

// A list member is any file the factory accepts.
bool factory_accepts(const char* name) {
  std::unique_ptr<DeMuxer> d(demuxer_create(name, 0));
  return d != nullptr;
}

[[maybe_unused]] const bool member_check_registered = (bsfile_set_member_check(factory_accepts), true);

}  // namespace

DeMuxerCache& DeMuxerCache::instance() {
  static DeMuxerCache cache;  // destroyed at exit with its entries
  return cache;
}

DeMuxerCache::~DeMuxerCache() {
  delist();
  clear();
}

void DeMuxerCache::clear() {
  std::vector<Entry> gone;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    gone.swap(entries_);
  }
}

int DeMuxerCache::count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return int(entries_.size());
}

int DeMuxerCache::count_of(const char* name) {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const Entry& d : entries_)
    if (std::strcmp(d->get_file_name(), name) == 0) ++n;
  return n;
}

void DeMuxerCache::remove(int index) {
  Entry gone;
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || index >= int(entries_.size())) {
    trace("ERROR (DeMuxerCache::remove): index=%d (%d)\n", index, int(entries_.size()));
    return;
  }
  gone = std::move(entries_[size_t(index)]);
  entries_.erase(entries_.begin() + index);
}

DeMuxer* DeMuxerCache::make_copy(const DeMuxer& entry) {
  switch (entry.get_stream_type()) {
    case 1:
    case 2:
    case 3:
    case 9:
      return new DeMuxer(entry);
    case 4:
    case 5:
    case 6:
    case 7:
      return new DeMuxerProgram(static_cast<const DeMuxerProgram&>(entry));
    case 8:
      return new DeMuxerTransport(static_cast<const DeMuxerTransport&>(entry));
    default:
      return nullptr;
  }
}

DeMuxerCache::Entry DeMuxerCache::lookup(const char* name) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Entry& e : entries_)
    if (std::strcmp(e->get_file_name(), name) == 0) return e;  // Linux names are case-sensitive
  return nullptr;
}

void DeMuxerCache::drop(const Entry& entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i] == entry) {
      entries_.erase(entries_.begin() + long(i));
      return;
    }
}

bool demux_file_stamp(const char* name, int64_t* time_ns, FileOffset* size) {
  struct stat st;
  if (!name || stat(name, &st) != 0) return false;
  *time_ns = file_time_ns(st);
  *size = FileOffset::from_u64(uint64_t(st.st_size));
  if (is_mbs_name(name) && utils_is_mbs_file(name)) {
    BSFile f(name, 1);
    *size = f.size();
  }
  return true;
}

DeMuxer* DeMuxerCache::find(const char* name, int flag) {
  if (Entry e = lookup(name)) {
    int64_t t = 0;
    FileOffset size;
    const bool stale = !demux_file_stamp(name, &t, &size) || t != e->get_file_time() || !size.equals(e->get_file_size());
    // The copy reopens the file; the entry stays closed.
    if (!stale) return make_copy(*e);
    drop(e);
  }
  return add(name, flag);
}

// The flag picks the class of multi-file lists, which have none yet.
DeMuxer* DeMuxerCache::add(const char* name, int /*flag*/) {
  int bit_rate = 0;
  const int type = mpegfile_get_stream_type_and_bit_rate(name, &bit_rate);
  if (type < 1 || type > 9) return nullptr;
  int err = 0;
  std::unique_ptr<DeMuxer> first;
  if (type >= 4 && type <= 7)
    first = std::make_unique<DeMuxerProgram>(name, &err, type, bit_rate);
  else if (type == 8)
    first = std::make_unique<DeMuxerTransport>(name, &err, bit_rate);
  else
    first = std::make_unique<DeMuxer>(name, &err, type, bit_rate);
  if (err) return nullptr;
  std::shared_ptr<DeMuxer> entry(make_copy(*first));
  if (!entry) return nullptr;
  entry->close_file();
  Entry replaced;
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (std::strcmp(e->get_file_name(), name) != 0) continue;
    if (e->get_file_time() == entry->get_file_time() && e->get_file_size().equals(entry->get_file_size()))
      return first.release();  // another thread cached the same file meanwhile
    replaced = std::move(entries_[i]);  // an older measure of the file
    entries_.erase(entries_.begin() + long(i));
    break;
  }
  entries_.push_back(std::move(entry));
  return first.release();
}

bool DeMuxerCache::forget_path(const std::string& path) {
  std::vector<Entry> gone;  // destroyed after the lock
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = entries_.size(); i-- > 0;)
    if (path == entries_[i]->get_file_name()) {
      gone.push_back(std::move(entries_[i]));
      entries_.erase(entries_.begin() + long(i));
    }
  return !gone.empty();
}

DeMuxer* demuxer_create(const char* name, int flag) {
  if (!name || !*name) return nullptr;
  char* full = realpath(name, nullptr);
  if (!full) return nullptr;
  std::unique_ptr<char, decltype(&std::free)> hold(full, &std::free);
  {
    int err = 0;
    BSFile f(full, 1, &err);
    if (err) return nullptr;
  }
  if (flag == 0 && is_mbs_name(full)) flag = 1;
  return DeMuxerCache::instance().find(full, flag);
}

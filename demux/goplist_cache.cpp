#include "demux/goplist_cache.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "demux/demuxer_cache.h"
#include "foundation/trace.h"

GoplistCache& GoplistCache::instance() {
  static GoplistCache cache;  // cleaned up at process exit
  return cache;
}

GoplistCache::FileKey GoplistCache::file_key(const char* name) {
  FileKey k;
  // Demultiplexers keep the full path and the modification time in ns.
  char* full = realpath(name, nullptr);
  k.full = full ? full : name;
  std::free(full);
  demux_file_stamp(k.full.c_str(), &k.time, &k.size);
  return k;
}

// Compares with what the entry's demultiplexer measured: no file access.
bool GoplistCache::entry_matches(GOPList* list, const FileKey& key, int stream_id, int pid) {
  DeMuxer* dm = list ? list->get_demuxer() : nullptr;
  if (!dm) return false;
  if (key.full != dm->get_file_name() || dm->get_file_time() != key.time || !dm->get_file_size().equals(key.size))
    return false;
  int list_pid = 0;
  const int list_id = list->get_stream_id(&list_pid);
  if (stream_id && stream_id != list_id) return false;
  if (pid && pid != list_pid) return false;
  return true;
}

bool goplist_matches(GOPList* list, const char* name, int stream_id, int pid) {
  if (!list || !name || !*name || !list->get_demuxer()) return false;
  return GoplistCache::entry_matches(list, GoplistCache::file_key(name), stream_id, pid);
}

int GoplistCache::find_locked(const FileKey& key, int stream_id, int pid, const GOPList* except) {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].get() != except && entry_matches(entries_[i].get(), key, stream_id, pid)) return int(i);
  return -1;
}

int GoplistCache::resize(int new_capacity) {
  if (new_capacity <= capacity_) {
    trace("ERROR (GoplistCache::resize): new_size = %d <= %d (old size)\n", new_capacity, capacity_);
    return 1;
  }
  entries_.reserve(size_t(new_capacity));
  capacity_ = new_capacity;
  return 0;
}

int GoplistCache::add(const char* name, int stream_id, int pid) { return add(file_key(name), name, stream_id, pid); }

int GoplistCache::add(const FileKey& key, const char* name, int stream_id, int pid) {
  // Built without the lock: building reads the file.
  auto list = std::make_unique<GOPList>(name, stream_id, pid);
  if (!list->is_open() || list->build_index() != 0) return -1;
  // Repeated fields make time codes useless for numbering the GOPs between
  // the first and the last: the entry is walked once, so copies need not.
  if (list->get_extra_fields() > 0) goplist_scan(list.get(), 0, 0);
  if (list->get_demuxer()) list->get_demuxer()->close_file();
  std::lock_guard<std::mutex> lock(mutex_);
  ++built_;
  const int found = find_locked(key, stream_id, pid, nullptr);
  if (found >= 0) return found;  // another thread was faster: the list goes
  if (int(entries_.size()) == capacity_) resize(capacity_ + 10);
  entries_.push_back(std::move(list));
  return int(entries_.size()) - 1;
}

int GoplistCache::find_or_add(const char* name, int stream_id, int pid) {
  return find_or_add(file_key(name), name, stream_id, pid);
}

int GoplistCache::find_or_add(const FileKey& key, const char* name, int stream_id, int pid) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const int found = find_locked(key, stream_id, pid, nullptr);
    if (found >= 0) return found;
  }
  return add(key, name, stream_id, pid);
}

int GoplistCache::take_from_cache(GOPList* list, const char* name, int stream_id, int pid) {
  if (!list || !name) return 1;
  GoplistCache& c = instance();
  const FileKey key = file_key(name);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int index = c.find_or_add(key, name, stream_id, pid);
    if (index < 0) return 1;
    {
      std::lock_guard<std::mutex> lock(c.mutex_);
      // The entry may have moved while the lock was free: check it again.
      if (index >= int(c.entries_.size()) || !entry_matches(c.entries_[size_t(index)].get(), key, stream_id, pid))
        continue;
      if (list->copy_records(*c.entries_[size_t(index)]) != 0) return 1;
    }
    // The copy's own demultiplexer opens the file: outside the lock.
    return list->open_demuxer(key.full.c_str()) == 0 ? 0 : 1;
  }
  return 1;
}

void GoplistCache::update(const GOPList* list) {
  if (!list) {
    trace("ERROR (GoplistCache::update): goplist=nil\n");
    return;
  }
  GOPList* l = const_cast<GOPList*>(list);
  DeMuxer* dm = l->get_demuxer();
  if (!dm || !l->first()) return;
  // The list's own measure of its file: no file access under the lock.
  FileKey key;
  key.full = dm->get_file_name();
  key.time = dm->get_file_time();
  key.size = dm->get_file_size();
  int pid = 0;
  const int id = l->get_stream_id(&pid);
  std::lock_guard<std::mutex> lock(mutex_);
  const int i = find_locked(key, id, pid, list);
  if (i < 0) return;
  entries_[size_t(i)]->update_list(*list);
}

void GoplistCache::remove(int index) {
  std::unique_ptr<GOPList> gone;  // destroyed after the lock
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || index >= int(entries_.size())) {
    trace("ERROR (GoplistCache::remove): index = %d\n", index);
    return;
  }
  gone = std::move(entries_[size_t(index)]);
  entries_.erase(entries_.begin() + index);
}

void GoplistCache::clear() {
  std::vector<std::unique_ptr<GOPList>> gone;  // destroyed after the lock
  std::lock_guard<std::mutex> lock(mutex_);
  gone.swap(entries_);
  capacity_ = 0;
}

bool GoplistCache::forget_path(const std::string& path) {
  std::vector<std::unique_ptr<GOPList>> gone;  // destroyed after the lock
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = entries_.size(); i-- > 0;) {
    const DeMuxer* dm = entries_[i]->get_demuxer();
    if (dm && path == dm->get_file_name()) {
      gone.push_back(std::move(entries_[i]));
      entries_.erase(entries_.begin() + long(i));
    }
  }
  return !gone.empty();
}

int GoplistCache::count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return int(entries_.size());
}

int GoplistCache::built_count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return built_;
}

int goplist_scan(GOPList* list, int from_frame, int max_frames) {
  if (!list || !list->first()) return 0;
  const int64_t limit = max_frames < 1 ? INT64_MAX : 2 * int64_t(max_frames);
  DeMuxer* dm = list->get_demuxer();
  const bool renumber = !dm || !dm->get_pts_timing();
  GOP g;
  int64_t count = 0;
  if (from_frame > 0) {
    list->get_gop(from_frame, &g, 0, 1);
    count = list->current() ? list->current()->first_field : 0;
  } else {
    list->get_first_gop(&g, 0);
  }
  int prev_end = -1;
  int guard = 0;
  do {
    // Records belong to the list; the scan is the one place that renumbers.
    LGOP* rec = const_cast<LGOP*>(list->current());
    if (!rec) break;
    if (renumber) {
      rec->first_field = int(count);
    } else if (prev_end >= 0 && rec->first_field < prev_end) {
      rec->first_field = prev_end;
      count = prev_end;
    }
    count += rec->total_fields;
    prev_end = rec->first_field + rec->total_fields;
    if (count >= limit) break;
  } while (list->next_gop(&g, 0) > 0 && ++guard < 10000000);
  if (renumber) return int(count / 2);
  const LGOP* last = list->last();
  return last ? (last->first_field + last->total_fields) >> 1 : 0;
}

int goplist_scan_to_time(GOPList* list, double seconds) {
  if (!list) return 0;
  const int frames = seconds > 0 ? int(list->get_frame_rate() * seconds + 0.5) : 0;
  return goplist_scan(list, 0, frames);
}

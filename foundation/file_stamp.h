// What the process-wide caches key a file by, and the one cache template
// they share: an entry answers only while its file has the same real path,
// size and modification time, and forget() drops a file from every cache at
// once (the windows call it when a file changes on disk).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct FileStamp {
  std::string path;  // real path: symbolic links and "." / ".." resolved
  uint64_t size = 0;  // for a list of files (.mbs), the length of its stream
  int64_t mtime_ns = 0;

  // The stamp of the file as it is now; none when it cannot be looked at.
  // Reads the file system: never call it under a cache lock.
  static std::optional<FileStamp> of(const char* name);
  // The real path of name, or its absolute normal form when the file is gone.
  static std::string real_path(const char* name);

  bool operator==(const FileStamp&) const = default;
};

// Drops every entry of the file from all stamped caches.
void forget(const char* name);

// A cache keyed by files, reachable by forget(). The most derived class
// enlists at the end of its constructor and delists first thing in its
// destructor: forget() must never reach a cache half made or half gone.
class FileCache {
 public:
  FileCache() = default;
  virtual ~FileCache() { delist(); }
  FileCache(const FileCache&) = delete;
  FileCache& operator=(const FileCache&) = delete;
  // Drops the entries of a real path; true when there were some.
  virtual bool forget_path(const std::string& path) = 0;

 protected:
  void enlist();
  void delist();  // once enlisted; a second call does nothing
};

// One value per file. Lookups take a stamp made outside the lock; an entry
// whose stamp differs is stale and goes. Values are copied out, never lent.
template <class Value>
class StampedCache : public FileCache {
 public:
  StampedCache() { enlist(); }
  ~StampedCache() override { delist(); }
  // A copy of the value stored under this stamp; none when there is none or
  // the stored one was made from another version of the file (dropped then).
  std::optional<Value> find(const FileStamp& stamp) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].first.path != stamp.path) continue;
      if (entries_[i].first == stamp) return entries_[i].second;
      entries_.erase(entries_.begin() + static_cast<long>(i));
      return std::nullopt;
    }
    return std::nullopt;
  }
  // Stores value for the file, replacing what was held for its path; the
  // entry's index.
  int put(const FileStamp& stamp, Value value) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < entries_.size(); ++i)
      if (entries_[i].first.path == stamp.path) {
        entries_[i] = {stamp, std::move(value)};
        return static_cast<int>(i);
      }
    entries_.emplace_back(stamp, std::move(value));
    return static_cast<int>(entries_.size()) - 1;
  }
  void erase(int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= 0 && index < static_cast<int>(entries_.size())) entries_.erase(entries_.begin() + index);
  }
  bool forget_path(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < entries_.size(); ++i)
      if (entries_[i].first.path == path) {
        entries_.erase(entries_.begin() + static_cast<long>(i));
        return true;
      }
    return false;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
  }
  int count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(entries_.size());
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<FileStamp, Value>> entries_;
};

#include "foundation/bsfile_list.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/trace.h"
#include "foundation/utils.h"

namespace {

std::atomic<BSMemberCheck> g_member_check{nullptr};

constexpr size_t kMaxLine = 511;
constexpr int kMaxMembers = 256;

bool has_mbs_extension(const char* name) {
  const size_t n = name ? std::strlen(name) : 0;
  return n >= 5 && strcasecmp(name + n - 4, ".mbs") == 0;
}

// The lines of a list file (each cut to kMaxLine characters); false when it
// does not open or is too long.
bool read_lines(const char* name, std::vector<std::string>* lines) {
  if (!name || !*name) return false;
  FILE* f = std::fopen(name, "rb");
  if (!f) return false;
  std::string text;
  char chunk[4096];
  size_t got;
  bool ok = true;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    text.append(chunk, got);
    if (text.size() > size_t(kMbsMaxBytes)) {
      ok = false;
      break;
    }
  }
  std::fclose(f);
  if (!ok) return false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxLine) line.resize(kMaxLine);
    lines->push_back(std::move(line));
    pos = eol + 1;
  }
  return true;
}

std::string trimmed(const std::string& s) {
  const char* ws = " \t\r\n\v\f";
  const size_t a = s.find_first_not_of(ws);
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(ws) - a + 1);
}

// The text after key in line, when line holds key and it is not the tail of
// a longer key ("NumFile=" holds "File=").
bool value_after(const std::string& line, const char* key, std::string* value) {
  const size_t at = line.find(key);
  if (at == std::string::npos) return false;
  if (at > 0 && std::strcmp(key, "File=") == 0 && std::isalpha(static_cast<unsigned char>(line[at - 1]))) return false;
  *value = line.substr(at + std::strlen(key));
  return true;
}

// Header, then the count on the line right after it. The index of the first
// line after the count, or -1.
int parse_head(const std::vector<std::string>& lines, int* count) {
  size_t i = 0;
  while (i < lines.size() && lines[i].find("[MBSFile]") == std::string::npos) ++i;
  if (i + 1 >= lines.size()) return -1;
  std::string v;
  if (!value_after(lines[i + 1], "NumFile=", &v)) return -1;
  char* end = nullptr;
  const long n = std::strtol(v.c_str(), &end, 10);
  if (end == v.c_str() || n < 1 || n > kMaxMembers) return -1;
  *count = int(n);
  return int(i + 2);
}

// Absolute name of a member: as written when absolute, else beside the list,
// else from the working folder. Empty when it does not open.
std::string member_path(const std::string& list, const std::string& member) {
  if (member.empty()) return "";
  std::vector<std::string> tries;
  if (member[0] == '/') {
    tries.push_back(member);
  } else {
    char* full = realpath(list.c_str(), nullptr);
    if (full) {
      std::string dir(full);
      std::free(full);
      tries.push_back(dir.substr(0, dir.rfind('/') + 1) + member);
    }
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) tries.push_back(std::string(cwd) + "/" + member);
  }
  for (const auto& t : tries) {
    struct stat st;
    if (stat(t.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return t;
  }
  return "";
}

// A member the list may name: a readable file that is no list itself (a
// list naming itself or another list is refused) and that the registered
// check accepts.
std::string accepted_member(const char* list, const std::string& line_value) {
  const std::string name = trimmed(line_value);
  if (name.empty() || has_mbs_extension(name.c_str())) return "";
  const std::string full = member_path(list, name);
  if (full.empty()) return "";
  int err = 0;
  BSFBase probe(full.c_str(), 1, &err);
  if (err) return "";
  probe.close();
  const BSMemberCheck check = g_member_check.load();
  if (check && !check(full.c_str())) return "";
  return full;
}

}  // namespace

BSMemberCheck bsfile_set_member_check(BSMemberCheck check) { return g_member_check.exchange(check); }

int utils_is_mbs_file(const char* name) {
  if (!has_mbs_extension(name)) return 0;
  std::vector<std::string> lines;
  if (!read_lines(name, &lines)) return 0;
  for (const auto& l : lines)
    if (l.find("File=") != std::string::npos) return 1;
  return 0;
}

std::vector<std::string> read_mbs_file(const char* name) {
  std::vector<std::string> lines;
  if (!read_lines(name, &lines)) return {};
  int count = 0;
  const int first = parse_head(lines, &count);
  if (first < 0) {
    trace("read_mbs_file (ERROR): <%s> has no [MBSFile] header with a NumFile= count of 1..%d\n", name, kMaxMembers);
    return {};
  }
  std::vector<std::string> names;
  for (size_t i = size_t(first); i < lines.size() && int(names.size()) < count; ++i) {
    std::string v;
    if (!value_after(lines[i], "File=", &v)) continue;
    std::string full = accepted_member(name, v);
    if (!full.empty()) names.push_back(std::move(full));
  }
  if (int(names.size()) < count) {
    trace("read_mbs_file (ERROR): <%s> announces %d files, %d accepted\n", name, count, int(names.size()));
    return {};
  }
  return names;
}

int read_mbs_file_segments(const char* name, std::string* file, FileOffset* start, FileOffset* end) {
  std::vector<std::string> lines;
  if (!read_lines(name, &lines)) return 0;
  int count = 0;
  const int first = parse_head(lines, &count);
  if (first < 0) return 0;
  std::string held;
  bool found = false;
  double a = 0, b = 0;
  for (size_t i = size_t(first); i < lines.size() && !found; ++i) {
    std::string v;
    if (value_after(lines[i], "Segment=", &v)) {
      a = b = 0;
      if (std::sscanf(v.c_str(), " %lf %lf", &a, &b) != 2) a = b = 0;
      found = b > a && a >= 0;
    } else if (value_after(lines[i], "File=", &v)) {
      std::string full = accepted_member(name, v);
      if (!full.empty()) held = std::move(full);
    }
  }
  if (held.empty() || !found) return 0;
  if (file) *file = held;
  if (start) start->from_double(a);
  if (end) end->from_double(b);
  return 1;
}

// ---------------------------------------------------------------------------
// BSMFile

int BSMFile::open(const std::vector<std::string>& names) {
  close();
  uint64_t total = 0;
  for (const auto& n : names) {
    int err = 0;
    auto m = std::make_unique<BSFBase>(n.c_str(), 1, &err);
    if (err) continue;
    starts_.push_back(total);
    total += m->size().value();
    names_.push_back(m->name());
    members_.push_back(std::move(m));
  }
  if (members_.empty()) return 1;
  current_ = 0;
  size_ = FileOffset::from_u64(total);
  return 0;
}

void BSMFile::close() {
  names_.clear();
  members_.clear();
  starts_.clear();
  current_ = 0;
  size_ = FileOffset();
}

size_t BSMFile::read(void* buffer, size_t count) {
  if (members_.empty() || !buffer) return 0;
  auto* p = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    BSFBase& m = *members_[current_];
    done += m.read(p + done, count - done);
    if (done == count) break;
    if (m.tell().value() < m.size().value()) {
      trace("BSMFile::read (ERROR): <%s> ends before its size at open\n", m.name() ? m.name() : "");
      break;
    }
    if (current_ + 1 >= members_.size()) break;
    ++current_;
    members_[current_]->seek(FileOffset(), 0);
  }
  return done;
}

FileOffset BSMFile::seek(const FileOffset& offset, int whence) {
  if (members_.empty()) return FileOffset();
  const uint64_t size = size_.value();
  uint64_t target = whence == 2 ? FileOffset::minus(size_, offset).value() : offset.value();
  if (target == 0) {
    current_ = 0;
    members_[0]->seek(FileOffset(), 0);
    return FileOffset();
  }
  if (target >= size) {
    current_ = members_.size() - 1;
    members_[current_]->seek(members_[current_]->size(), 0);
    return size_;
  }
  // The member whose range (start, start + size] holds the target.
  const auto it = std::lower_bound(starts_.begin(), starts_.end(), target);
  current_ = size_t(it - starts_.begin()) - 1;
  members_[current_]->seek(FileOffset::from_u64(target - starts_[current_]), 0);
  return tell();
}

FileOffset BSMFile::tell() const {
  if (members_.empty()) return FileOffset();
  return FileOffset::from_u64(starts_[current_] + members_[current_]->tell().value());
}

// ---------------------------------------------------------------------------
// BSegFile

int BSegFile::open(const char* name, FileOffset start, FileOffset end) {
  if (start.greater_or_equal(end)) return 1;
  close();
  int err = 0;
  auto f = std::make_unique<BSFBase>(name, 1, &err);
  if (err || end.greater(f->size())) {
    if (!err) trace("BSegFile::open (ERROR): segment end %.0f beyond <%s>\n", end.to_double(), name);
    return 1;
  }
  file_ = std::move(f);
  start_ = start;
  end_ = end;
  length_ = FileOffset::minus(end, start);
  file_->seek(start_, 0);
  return 0;
}

void BSegFile::close() {
  file_.reset();
  length_ = start_ = end_ = FileOffset();
}

size_t BSegFile::read(void* buffer, size_t count) {
  if (!file_) return 0;
  if (file_->tell().less(start_)) file_->seek(start_, 0);
  const uint64_t pos = file_->tell().value();
  const uint64_t left = end_.value() > pos ? end_.value() - pos : 0;
  const size_t n = size_t(std::min<uint64_t>(count, left));
  return n ? file_->read(buffer, n) : 0;
}

FileOffset BSegFile::seek(const FileOffset& offset, int whence) {
  if (!file_) return FileOffset();
  FileOffset target = whence == 2 ? FileOffset::minus(end_, offset) : FileOffset::plus(offset, start_);
  if (target.less(start_)) target = start_;
  if (target.greater(end_)) target = end_;
  file_->seek(target, 0);
  return tell();
}

FileOffset BSegFile::tell() const {
  if (!file_) return FileOffset();
  return FileOffset::minus(file_->tell(), start_);
}

#include "app/shell/file_utils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/services.h"

namespace {

const char* const kFilters[kFileFilterCount] = {
    "MPEG Files (*.mpg;*.vob;*.mp2;*.m2t;*.ts;*.tp;*.m2v;*.dat;*.mpv;*.qme;*.vro;*.rec;*.mbs)|"
    "*.mpg;*.vob;*.mp2;*.m2t;*.ts;*.tp;*.m2v;*.dat;*.mpv;*.qme;*.vro;*.rec;*.mbs|Image Files "
    "(*.bmp;*.jpg)|*.bmp;*.jpg|Editor Project Files (*.qme)|*.qme|Segment Files (*.mbs)|*.mbs|All "
    "(*.*)|*.*||",
    "Editor Project Files (*.qme) |*.qme|All (*.*)|*.*||",
    "Image Files (*.bmp;*.jpg) |*.bmp;*.jpg|All (*.*)|*.*||",
    "Input Files (*.qme;*.bmp;*.mpg;*.vob;*.mp2;*.m2v;*.dat;*,mpv;*.qme;*.vro;*.rec;*.mp3) "
    "|*.qme;*.bmp;*.mpg;*vob;*.mp2;*.m2v;*.dat;*.mpv;*.qme;*.vro;*.rec;*.mp3;|All (*.*)|*.*||",
    "MPEG Video Files (*.mpg;*.vob;*.m2v;*.mpv;*.qme;*.vro;*.rec) |*.mpg;*.vob;*.m2v;*.mpv;*.qme;*.vro;*.rec|All "
    "(*.*)|*.*||",
    "MPEG Audio Files (*.mpg;*.mpa;*.mp2;*.mp3;*.ac3;*.abs) |*.mpg;*.mpa;*.mp2;*.mp3;*.ac3;*.abs|All (*.*)|*.*||",
    "MPEG Systems Files (*.mpg;*.vob;*.mp2;*.dat;*.vcd;*.mps;*.mts;*.ts;*.tp;*.vro;*.rec) "
    "|*.mpg;*.vob;*.mp2;*.dat;*.vcd;*.mps;*.mts;*.ts;*.tp;*.vro;*.rec|All (*.*)|*.*||",
    "Editor Save Configuration Files (*.rec) |*.rec|All (*.*)|*.*||",
    "Editor Save Project List Files (*.edl) |*.edl|All (*.*)|*.*||",
    "DLL Library Files (*.dll) |*.dll|All (*.*)|*.*||",
    "All (*.*)|*.*||",
};

struct ExtFilter {
  const char* ext;
  const char* filter;
};
const ExtFilter kSaveFilters[] = {
    {"qme", "Editor Project Files (*.qme) |*.qme|All (*.*)|*.*||"},
    {"mpg", "MPEG Files (*.mpg) |*.mpg|All (*.*)|*.*||"},
    {"mpv", "MPEG Video Only Files (*.mpv) |*.mpv|All (*.*)|*.*||"},
    {"mpa", "MPEG Audio Only Files (*.mpa) |*.mpa|All (*.*)|*.*||"},
    {"dat", "Video-CD Files (*.dat) |*.dat|All (*.*)|*.*||"},
    {"m2t", "MPEG-2 Transport Files (*.ts;*.tp;*.m2t) |*.ts;*.tp;*.m2t|All (*.*)|*.*||"},
    {"ac3", "AC-3 Audio Files (*.ac3) |*.ac3|All (*.*)|*.*||"},
};

bool is_separator(char c) { return c == '/' || c == '\\' || c == ':'; }

}  // namespace

const char* file_filter_text(int index) {
  return kFilters[index >= 0 && index < kFileFilterCount ? index : 0];
}

const char* save_filter_for_extension(const std::string& default_ext) {
  for (const auto& f : kSaveFilters)
    if (default_ext.find(f.ext) != std::string::npos) return f.filter;
  return nullptr;
}

std::string dialog_filter(bool save, int filter_index, const char* filter, const char* default_ext) {
  if (filter) return filter;
  if (save && default_ext)
    if (const char* f = save_filter_for_extension(default_ext)) return f;
  return file_filter_text(filter_index);
}

int file_dialog(std::string* path, int save, int filter_index, const char* filter, const char* default_ext,
                const std::string& folder, const std::string& title) {
  if (!path) return 0;
  if (filter_index == 9) save = 0;
  FileDialogRequest r;
  r.kind = save ? FileDialogKind::Save : FileDialogKind::Open;
  r.title = title;
  r.folder = folder;
  r.filter = dialog_filter(save != 0, filter_index, filter, default_ext);
  if (default_ext) r.default_ext = default_ext;
  r.must_exist = !save;
  r.overwrite_prompt = save != 0;
  const FileDialogResult res = platform().dialogs->run(r);
  if (!res.accepted || res.paths.empty()) return 0;
  *path = res.paths.front();
  if (save && check_file_sharing(*path)) return 0;
  return 1;
}

int file_dialog_multi(std::vector<std::string>* paths, int max_count, int filter_index, const char* filter,
                      const char* default_ext, const std::string& folder, const std::string& title) {
  if (!paths || max_count < 1) return 0;
  FileDialogRequest r;
  r.kind = FileDialogKind::OpenMulti;
  r.title = title;
  r.folder = folder;
  r.filter = dialog_filter(false, filter_index, filter, default_ext);
  if (default_ext) r.default_ext = default_ext;
  r.max_files = max_count;
  const FileDialogResult res = platform().dialogs->run(r);
  if (!res.accepted) return 0;
  paths->clear();
  for (const auto& p : res.paths) {
    if (int(paths->size()) >= max_count) break;
    paths->push_back(p);
  }
  return int(paths->size());
}

int open_mpeg_file_dialog(std::string* path, const std::string& folder) {
  return file_dialog(path, 0, 0, kOpenMpegFilter, nullptr, folder, {});
}

int check_file_sharing(const std::string& path) {
  if (path.empty()) return 1;
  FileUse* use = platform().file_use;
  if (!use->in_use(path) && use->writable(path)) return 0;
  platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok,
                               "File sharing error:\n\t<" + path + "> is in use.\nPlease select a new file name.\n");
  return 1;
}

int confirm_replace(const std::string& path) {
  if (path.empty()) return 0;
  // Existence, not readability: a file this user cannot read is still
  // someone's file to ask about.
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return 1;
  if (check_file_sharing(path)) return 0;
  return platform().prompter->message(PromptIcon::Information, PromptButtons::YesNo,
                                      path + " already exists.\nDo you wnat to replace it?") == PromptAnswer::Yes
             ? 1
             : 0;
}

std::string split_path(const std::string& path) {
  size_t end = std::string::npos;
  for (size_t i = path.size(); i-- > 0;)
    if (is_separator(path[i])) {
      end = i + 1;
      break;
    }
  if (end == std::string::npos) return {};
  size_t begin = 0;
  while (begin < end && std::isspace(static_cast<unsigned char>(path[begin]))) ++begin;
  return path.substr(begin, end - begin);
}

std::string path_file_name(const std::string& path) {
  for (size_t i = path.size(); i-- > 0;)
    if (is_separator(path[i])) return path.substr(i + 1);
  return path;
}

bool get_extension(const std::string& path, std::string* ext) {
  const std::string name = path_file_name(path);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  if (ext) *ext = name.substr(dot + 1);
  return true;
}

std::string trim_blanks(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  return text.substr(b, e - b);
}

int get_full_path(const std::string& name, std::string* out) {
  if (name.empty() || !out) return 0;
  std::error_code ec;
  const auto p = std::filesystem::absolute(name, ec);
  if (ec) return 0;
  *out = p.lexically_normal().string();
  return 1;
}

int get_existing_full_path(const std::string& name, std::string* out) {
  std::string full;
  if (!get_full_path(name, &full)) return 0;
  const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  ::close(fd);
  *out = full;
  return 1;
}

double get_disk_free(const std::string& path) { return platform().disk->free_bytes(path); }

int list_fixed_drives(std::vector<Volume>* out, int max_count) {
  if (!out) return 0;
  out->clear();
  for (auto& v : platform().disk->volumes()) {
    if (int(out->size()) >= max_count) break;
    out->push_back(std::move(v));
  }
  return int(out->size());
}

int refresh_disk_free(std::vector<Volume>* volumes) {
  if (!volumes) return 0;
  int changed = 0;
  for (auto& v : *volumes) {
    const double now = platform().disk->free_bytes(v.mount);
    if (now != v.free_bytes) {
      v.free_bytes = now;
      ++changed;
    }
  }
  return changed;
}

PromptAnswer warn_disk_space(const std::string& mount) {
  const std::string text = mount.empty()
                               ? std::string("The disk may not have enough space.\nPlease check again.")
                               : "The \"" + mount + "\" disk may not have enough space.\nPlease check again.";
  return platform().prompter->message(PromptIcon::Stop, PromptButtons::AbortRetryIgnore, text);
}

int show_help(const std::string& page) { return platform().help->show(page); }

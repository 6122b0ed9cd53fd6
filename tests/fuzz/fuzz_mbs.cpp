// Lists of files (".mbs") of arbitrary text: reading the list, opening it
// through the file layer and reading, seeking and telling over it must stay
// inside the logical stream. Members can only be the two small files this
// target writes beside the list ("a.bin", "b.bin").
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/bsfile.h"
#include "foundation/bsfile_list.h"

namespace {

std::string g_dir;

bool only_ours(const char* name) { return std::string(name).rfind(g_dir + "/", 0) == 0; }

void write(const std::string& path, const uint8_t* d, size_t n) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (n && std::fwrite(d, 1, n, f) != n) std::abort();
  std::fclose(f);
}

void set_up() {
  char tmpl[] = "/tmp/fuzz-mbs-XXXXXX";
  if (!mkdtemp(tmpl)) std::abort();
  g_dir = tmpl;
  std::vector<uint8_t> a(3000), b(1700);
  for (size_t i = 0; i < a.size(); ++i) a[i] = uint8_t(i);
  for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(i * 3);
  write(g_dir + "/a.bin", a.data(), a.size());
  write(g_dir + "/b.bin", b.data(), b.size());
  bsfile_set_member_check(only_ours);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_dir.empty()) set_up();
  const std::string list = g_dir + "/l.mbs";
  write(list, data, size);
  (void)utils_is_mbs_file(list.c_str());
  for (const auto& n : read_mbs_file(list.c_str()))
    if (!only_ours(n.c_str())) std::abort();
  std::string file;
  FileOffset s, e;
  if (read_mbs_file_segments(list.c_str(), &file, &s, &e) && !(e.greater(s) && only_ours(file.c_str()))) std::abort();
  int err = 0;
  BSFile f(list.c_str(), 1, &err);
  // Text that is no list opens as a plain file, which may seek past its end.
  if (err || f.kind() == BSFile::Kind::plain) return 0;
  const uint64_t total = f.size().value();
  if (total > 256u * 3000) std::abort();  // members may repeat
  uint8_t buf[512];
  const uint64_t steps[] = {0, 1, total / 2, total - (total > 0), total, total + 100, 2999, 3000, 3001};
  for (const uint64_t at : steps) {
    for (int whence : {0, 1, 2}) {
      const uint64_t pos = f.seek(FileOffset::from_u64(at), whence).value();
      if (pos > total || f.tell().value() != pos) std::abort();
      const size_t got = f.read(buf, sizeof buf);
      if (got > sizeof buf || pos + got > total || f.tell().value() != pos + got) std::abort();
    }
  }
  return 0;
}

// The Batch Save Manager's readers over arbitrary text: the list entries,
// an appended entry, and "BatchSav.cfg" read into a manager whose projects
// are never opened.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "app/tools/batch_save.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<BatchRow> rows = read_batch_entries(text);
  for (const BatchRow& r : rows)
    if (r.project.empty() || !std::isfinite(r.estimate_mb) || r.estimate_mb < 0) __builtin_trap();
  // An appended entry is read back as one more.
  const BatchRow extra{"/p/x.rec", "/p/x.mpg", 1.0, {}};
  if (read_batch_entries(append_batch_entry(text, extra)).size() < 1) __builtin_trap();
  char path[] = "/tmp/fuzz-batch-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 0;
  if (write(fd, data, size) == ssize_t(size)) {
    CBatchSaveDlg m([](const std::string&, EditorRecordData*) { return false; }, nullptr);
    m.read_batch_config(path);
    if (m.rows().size() > rows.size()) __builtin_trap();
    (void)m.config_text();
  }
  close(fd);
  unlink(path);
  return 0;
}

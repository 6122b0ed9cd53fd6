// The Video Clip List's readers over arbitrary text: the ".vls" entries and
// the "VidList.cfg" settings. Files named in the input are never opened:
// every ".mpg" name is taken as a movie.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/tools/clip_list_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const VlsEntry& e : parse_vls(text))
    if (e.overlays.size() > 8) __builtin_trap();
  VideoClipListModel m([](const std::string& file, Clip* out) {
    if (file.size() < 4 || file.compare(file.size() - 4, 4, ".mpg") != 0) return false;
    out->video_frame_total = 10;
    out->count = 10;
    return true;
  });
  if (m.read_clip_list(text, true) != int(m.clips().size())) __builtin_trap();
  char path[] = "/tmp/fuzz-vidlist-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 0;
  if (write(fd, data, size) == ssize_t(size)) m.load_settings(path);
  close(fd);
  unlink(path);
  return 0;
}

// The Video Clipboard's list and thumbnail-strip readers over arbitrary
// bytes: rows only for what was read, a strip of whole 48 x 48 pictures.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "app/shell/clipboard_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const Thumbnail& t : decode_thumbnail_strip(bytes))
    if (t.rgb.size() != size_t(48 * 48 * 3)) __builtin_trap();
  char path[] = "/tmp/fuzz-clipboard-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 0;
  if (write(fd, data, size) == ssize_t(size)) {
    VideoClipboard board(nullptr);
    board.set_scheduler([](EClip, std::function<void(DrawnThumbnail)>) {});
    const int rows = board.read_project_list(path, path);
    if (rows != board.count()) __builtin_trap();
    for (int i = 0; i < rows; ++i)
      if (board.row(i)->thumbnail.rgb.size() != size_t(48 * 48 * 3)) __builtin_trap();
  }
  close(fd);
  unlink(path);
  return 0;
}
